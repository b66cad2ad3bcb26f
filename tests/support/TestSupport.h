#pragma once
// Shared fixtures for every test executable: a pinned font, temporary folders and
// small pictures drawn by the tests themselves.
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QSet>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>
#include <atomic>
#include <initializer_list>
#include <ostream>
#include <thread>

// Readable QString output in GoogleTest failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace testsupport {

// Registers DejaVu Sans and makes it the application font, so text metrics do not
// depend on what the machine happens to have installed.
void pinFont();
QString pinnedFontFamily();

// A picture with a distinct colour in each quadrant, so flips and rotations are visible.
// Quadrants in top-left pixel order: TL red, TR green, BL blue, BR white.
QImage quadrantImage(int width, int height);

// A smooth gradient with some texture; used where codecs or filters need real content.
QImage gradientImage(int width, int height);

// Writes bytes to a file, creating folders; returns the path.
QString writeFile(const QString& path, const QByteArray& bytes);
// A file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Runs a program of the system and waits for it: its exit status, -1 when it could not be
// started or did not exit; what it wrote (output and errors) goes to `output` when given.
// Spawned, not started through QProcess: Qt starts a program from a child that runs in the
// parent's memory, which leaves ThreadSanitizer's record of a process with threads as a
// forked child's, so the checker ends the process at its next new thread; a spawned
// program leaves it alone, and a test that runs one needs no BRISKO_STARTS_A_PROCESS().
int runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);
// Removes a folder and everything in it by the bytes of their names: QTemporaryDir cannot
// see names that are not UTF-8, and would leave them behind.
void removeTree(const QString& folder);

// An effect's parameter list: one single-entry map per parameter, in order.
QVariantList parameterList(std::initializer_list<std::pair<QString, QVariant>> entries);

// Inspection of a stored keyed archive: the root object's keys and values as read back
// (object references as platform::PlistUid), and every class name recorded.
QVariantMap archivedRootObject(const QByteArray& archive);
QSet<QString> archivedClassNames(const QByteArray& archive);
bool isArchiveReference(const QVariant& value);
// The archive with the data of every picture in it replaced by `png`: what a writer that
// stored pictures of any size would have made.
QByteArray withArchivedPicturesReplaced(const QByteArray& archive, const QByteArray& png);
// The dated copies of unreadable saved data in a folder ("* unreadable *.plist").
QStringList keptAsideFiles(const QString& folder);
// The PNG data of a flat picture; made once per size and kept for the run.
QByteArray flatPng(int width, int height);

// A named pipe made with mkfifo at `path` (where a photo was, say). Code that waits on it
// for a writer would hang its test; so after `patienceMs` a writer comes and goes now and
// then, releasing such a reader, and released() says it had to: the test then fails
// instead of hanging.
class NamedPipe {
public:
    explicit NamedPipe(const QString& path, int patienceMs = 3000);
    ~NamedPipe();
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;
    bool made() const { return made_; }
    bool released() const { return released_.load(); }

private:
    QString path_;
    bool made_ = false;
    std::atomic<bool> released_{false};
    std::atomic<bool> done_{false};
    std::thread watch_;
};

// Switches the C and Qt locales to one that writes decimal commas for the lifetime
// of the object; used to prove number handling is locale-free.
class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    bool active() const { return active_; }
private:
    QLocale previous_;
    bool active_ = false;
};

}  // namespace testsupport
