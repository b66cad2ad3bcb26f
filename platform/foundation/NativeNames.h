#pragma once
// File names on Linux are bytes, and nothing makes them UTF-8. Qt reads a name that is not
// valid UTF-8 with replacement characters and cannot give the bytes back, so such a file
// could be listed but never opened, moved or named again. These helpers keep every byte:
// a byte that is not part of valid UTF-8 is carried in the string as the lone surrogate
// U+DC00 + byte, and encodePath gives exactly the original bytes back. Valid UTF-8 names
// come out as Qt would read them.
#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

class QFile;

namespace platform {

// Bytes of a name or path (from readdir, a URL, a command line) as a string that keeps them.
QString decodePath(const QByteArray& native);
// The bytes the file system knows the path by; the inverse of decodePath.
QByteArray encodePath(const QString& path);
// Whether the path holds bytes that are not UTF-8 (and so needs encodePath to be found).
bool hasKeptBytes(const QString& path);
// The path for people to read: each kept byte shown as \xNN.
QString displayPath(const QString& path);

// Opens `file` on the file at `path`, by its bytes when it has kept ones (QFile would look
// for another name). Only a regular file (or a link to one) is opened: a named pipe, a
// socket or a device put where a photo was is refused at once, never waited on (opening a
// pipe nobody writes to would hold the reader for ever). For reading and writing files
// that exist; false when it cannot.
bool openFile(QFile& file, const QString& path, QIODevice::OpenMode mode = QIODevice::ReadOnly);
// Whether something that is not a regular file or a folder is at `path` (links followed):
// a named pipe, a socket or a device, which no photo is.
bool isSpecialFile(const QString& path);

// One entry of a folder read by the bytes of its names (Qt's listing leaves out names that
// are not UTF-8). Symbolic links are followed for the kind, and said to be links.
struct FolderEntry {
    QString name;
    bool isDirectory = false;
    // A regular file, or a link to one: the only kind of entry that may be a photo.
    bool isRegularFile = false;
    bool isSymbolicLink = false;
};
// The folder's entries but "." and "..", hidden ones included, in no particular order;
// nullopt when the folder cannot be read.
std::optional<QList<FolderEntry>> readFolderEntries(const QString& folder);

// The local files of a text/uri-list, in order, from its bytes: each file: address is
// decoded byte for byte, so a name that is not UTF-8 keeps its bytes (QUrl would replace
// them). Comments, other schemes and files of other hosts are left out.
QStringList localPathsFromUriList(const QByteArray& uriList);
// The file: address of a path, its bytes percent-encoded (the inverse of the above).
QUrl fileUrl(const QString& path);

// A path that any reader (Qt, the image decoders, Exiv2) can open for the file at `path`:
// the path itself, or for a name with kept bytes the descriptor link /proc/self/fd/N of the
// file found by its bytes (held without being opened for reading, so a named pipe does not
// hold it up), valid while this object lives. Empty when there is no such file.
class ReadablePath {
public:
    explicit ReadablePath(const QString& path);
    ~ReadablePath();
    ReadablePath(const ReadablePath&) = delete;
    ReadablePath& operator=(const ReadablePath&) = delete;
    const QString& path() const { return readable_; }

private:
    int fd_ = -1;
    QString readable_;
};

}  // namespace platform
