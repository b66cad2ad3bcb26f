#pragma once
// File names on Linux are bytes, and nothing makes them UTF-8. Qt reads a name that is not
// valid UTF-8 with replacement characters and cannot give the bytes back, so such a file
// could be listed but never opened, moved or named again. These helpers keep every byte:
// a byte that is not part of valid UTF-8 is carried in the string as the lone surrogate
// U+DC00 + byte, and encodePath gives exactly the original bytes back. Valid UTF-8 names
// come out as Qt would read them.
#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

// Bytes of a name or path (from readdir, a URL, a command line) as a string that keeps them.
QString decodePath(const QByteArray& native);
// The bytes the file system knows the path by; the inverse of decodePath.
QByteArray encodePath(const QString& path);
// Whether the path holds bytes that are not UTF-8 (and so needs encodePath to be found).
bool hasKeptBytes(const QString& path);
// The path for people to read: each kept byte shown as \xNN.
QString displayPath(const QString& path);

// A path that any reader (Qt, the image decoders, Exiv2) can open for the file at `path`:
// the path itself, or for a name with kept bytes the descriptor link /proc/self/fd/N of the
// file opened by its bytes, valid while this object lives. Empty when the file cannot be
// opened.
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
