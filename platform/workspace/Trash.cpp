#include "platform/workspace/Trash.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/FileSync.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TemporaryFiles.h"
#include "platform/workspace/TrashLocations.h"

#include <QDateTime>
#include <QDir>
#include <QScopeGuard>
#include <QSet>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Names the Trash tries for one file before it gives up.
constexpr int kNameAttempts = 1000;
// A name in "info" is the file's name and ".trashinfo"; file systems take 255 bytes.
constexpr int kMaxNameBytes = 255 - 10;

QString errorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool lstatOf(const QString& path, struct stat* st) { return ::lstat(encodePath(path).constData(), st) == 0; }
bool statOf(const QString& path, struct stat* st) { return ::stat(encodePath(path).constData(), st) == 0; }

QString parentOf(const QString& path) {
    const QString up = stringByDeletingLastPathComponent(path);
    return up.isEmpty() ? QStringLiteral("/") : up;
}

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(path.startsWith(u'/') ? path : QDir::currentPath() + u'/' + path);
}

// The device of the nearest folder that exists on the way up from `path`.
bool deviceOfNearest(QString path, dev_t* device) {
    struct stat st {};
    while (!statOf(path, &st)) {
        const QString up = parentOf(path);
        if (up == path) return false;
        path = up;
    }
    *device = st.st_dev;
    return true;
}

// The highest folder above `folder` that is still on its device: where the volume is mounted.
QString topOfVolume(QString folder, dev_t device) {
    for (;;) {
        const QString up = parentOf(folder);
        struct stat st {};
        if (up == folder || !statOf(up, &st) || st.st_dev != device) return folder;
        folder = up;
    }
}

// A folder of ours: made (mode 0700) when missing; it must be a real folder, not a link,
// and belong to this user.
bool ownFolder(const QString& path, QString* error) {
    if (::mkdir(encodePath(path).constData(), 0700) != 0 && errno != EEXIST) {
        *error = platform::format(u"%@ could not be made (%@)", path, errorText(errno));
        return false;
    }
    struct stat st {};
    if (!lstatOf(path, &st)) {
        *error = platform::format(u"%@ cannot be read (%@)", path, errorText(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        *error = platform::format(u"%@ is not a folder of this user", path);
        return false;
    }
    return true;
}

// A Trash folder with its "files" and "info" folders, made when missing.
bool preparedTrash(const QString& trash, QString* error) {
    return ownFolder(trash, error) && ownFolder(trash + QStringLiteral("/files"), error) &&
           ownFolder(trash + QStringLiteral("/info"), error);
}

// Makes the folders above the home Trash that are missing ($XDG_DATA_HOME may be new).
bool makeParents(const QString& folder, QString* error) {
    QStringList missing;
    struct stat st {};
    for (QString path = folder; !statOf(path, &st); path = parentOf(path)) {
        if (parentOf(path) == path) break;
        missing.prepend(path);
    }
    for (const QString& path : missing) {
        if (::mkdir(encodePath(path).constData(), 0700) != 0 && errno != EEXIST) {
            *error = platform::format(u"%@ could not be made (%@)", path, errorText(errno));
            return false;
        }
    }
    return true;
}

struct TrashPlace {
    QString folder;
    QString top;  // empty for the home Trash: its entries record absolute paths
};

TrashPlace trashPlaceFor(const QString& path, QString* error) {
    const QString file = absoluteClean(path);
    struct stat st {};
    if (!lstatOf(file, &st) && !statOf(parentOf(file), &st)) {
        *error = platform::format(u"%@ cannot be read (%@)", path, errorText(errno));
        return {};
    }
    const QString home = homeTrashFolder();
    dev_t homeDevice = 0;
    if (deviceOfNearest(home, &homeDevice) && homeDevice == st.st_dev) {
        if (makeParents(parentOf(home), error) && preparedTrash(home, error)) return {home, QString()};
        return {};
    }
    const QString top = topOfVolume(parentOf(file), st.st_dev);
    const QString base = top == u"/" ? QString() : top;
    const QString uid = QString::number(::getuid());
    // The volume's shared Trash counts only when nobody could have put a link or a folder
    // open to others in its place.
    const QString shared = base + QStringLiteral("/.Trash");
    struct stat sharedSt {};
    QString sharedError;
    if (lstatOf(shared, &sharedSt)) {
        if (S_ISDIR(sharedSt.st_mode) && (sharedSt.st_mode & S_ISVTX)) {
            const QString mine = shared + u'/' + uid;
            if (preparedTrash(mine, &sharedError)) return {mine, top};
        } else {
            sharedError = platform::format(u"%@ is not a folder with the sticky bit; it is not used", shared);
        }
        log(u"%@", sharedError);
    }
    const QString own = base + QStringLiteral("/.Trash-") + uid;
    if (preparedTrash(own, error)) return {own, top};
    return {};
}

// The name's bytes cut to `limit` without splitting a character.
QByteArray cutName(const QByteArray& name, qsizetype limit) {
    if (name.size() <= limit) return name;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(name.at(end)) & 0xC0) == 0x80) --end;
    return name.left(end);
}

// Candidate `attempt` (0 first) for a file called `name`: the name itself, then "stem.2.ext"...
QByteArray candidateName(const QByteArray& name, int attempt) {
    const qsizetype dot = name.lastIndexOf('.');
    const bool hasExtension = dot > 0 && name.size() - dot <= 16;
    QByteArray stem = hasExtension ? name.left(dot) : name;
    const QByteArray extension = hasExtension ? name.mid(dot) : QByteArray();
    const QByteArray number = attempt == 0 ? QByteArray() : "." + QByteArray::number(attempt + 1);
    stem = cutName(stem, std::max<qsizetype>(1, kMaxNameBytes - extension.size() - number.size()));
    return cutName(stem + number + extension, kMaxNameBytes);
}

QByteArray infoText(const QString& file, const QString& top) {
    QByteArray bytes = encodePath(file);
    if (!top.isEmpty() && top != u"/") bytes = bytes.mid(encodePath(top).size() + 1);
    return "[Trash Info]\nPath=" + bytes.toPercentEncoding("/") + "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1() + "\n";
}

bool syncFolder(const QString& folder) {
    const int fd = ::open(encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

// The value of an information file's line that starts with `key` ("Path="), or of its
// text when given; empty when it has none.
QByteArray infoValue(const QByteArray& key, const QString& infoPath, const QByteArray& text = {}) {
    QByteArray bytes = text;
    if (bytes.isEmpty()) {
        const int fd = ::open(encodePath(infoPath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return {};
        char buffer[8192];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        bytes = QByteArray(buffer, int(std::max<ssize_t>(0, n)));
    }
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.startsWith(key)) return line.mid(key.size());
    }
    return {};
}

QByteArray recordedPath(const QString& infoPath) { return infoValue("Path=", infoPath); }

// Whether the information file at the entry's name is still the one the entry wrote.
bool madeBy(const TrashEntryInProgress& entry, const struct stat& info) {
    if (recordedPath(entry.infoPath) != entry.recordedPath) return false;
    // Records of earlier versions know the path alone.
    if (entry.infoInode == 0) return true;
    return std::uint64_t(info.st_ino) == entry.infoInode &&
           infoValue("DeletionDate=", entry.infoPath) == entry.deletionDate;
}

// Clears the drafts of ended runs out of an "info" folder, once per folder and process.
void sweepOnce(const QString& infoFolder, TrashEntryWatcher* watcher) {
    static std::mutex mutex;
    static QSet<QString> swept;
    const std::lock_guard<std::mutex> lock(mutex);
    if (swept.contains(infoFolder)) return;
    swept.insert(infoFolder);
    if (watcher) {
        removeStaleTemporaries(infoFolder, [watcher](const QByteArray& mark) { return watcher->temporariesEnded(mark); });
    } else {
        removeStaleTemporaries(infoFolder);
    }
}

// The information file, written whole and flushed under a temporary name in the "info"
// folder (which the file managers do not read as an entry); empty, with `error`, on failure.
// The watcher hears of the folder first, so that a draft a kill leaves is found and cleared.
QString writeInfoDraft(const QString& infoFolder, const QByteArray& text, TrashEntryWatcher* watcher,
                       std::uint64_t* inode, QString* error) {
    sweepOnce(infoFolder, watcher);
    if (watcher) watcher->temporariesIn(infoFolder);
    QByteArray name = encodePath(temporaryFileTemplate(infoFolder, watcher ? watcher->temporaryMark() : QByteArray()));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = platform::format(u"the Trash's information file could not be made in %@ (%@)", infoFolder,
                                  errorText(errno));
        return {};
    }
    struct stat st {};
    *inode = ::fstat(fd, &st) == 0 ? std::uint64_t(st.st_ino) : 0;
    bool ok = writeWhole(fd, text);
    int failure = ok ? 0 : errno;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        failure = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(name.constData());
        *error = platform::format(u"the Trash's information file could not be written in %@ (%@)", infoFolder,
                                  errorText(failure));
        return {};
    }
    return decodePath(name);
}

enum class Claimed { Ok, Taken, Failed };

// Gives the draft the entry's name, unless another entry holds it. The entry is then
// complete from its first moment: a run killed at any point leaves either no entry or a
// whole one.
Claimed claimName(const QString& draft, const TrashEntryInProgress& entry, TrashEntryWatcher* watcher,
                  QString* error) {
    int failure = 0;
    if (trash::renameNoReplace(draft, entry.infoPath, &failure)) return Claimed::Ok;
    if (failure != EEXIST) {
        *error = platform::format(u"the Trash's information file %@ could not be made (%@)", entry.infoPath,
                                  errorText(failure));
        return Claimed::Failed;
    }
    // The same file's own entry, left by a run that ended between naming it and moving the
    // file, is taken over. Only one known to have ended: a run still going (in another
    // process, or in another PID namespace) may be about to move the file in. Any other
    // holder keeps its name, and this entry takes the next.
    struct stat st {};
    if (!watcher || lstatOf(entry.trashedPath, &st) || recordedPath(entry.infoPath) != entry.recordedPath)
        return Claimed::Taken;
    const bool taken = watcher->takeOverFromEnded(entry.infoPath, [&](const TrashEntryInProgress& left) {
        struct stat info {}, file {};
        if (!lstatOf(left.infoPath, &info) || left.infoInode == 0 || !madeBy(left, info) ||
            lstatOf(left.trashedPath, &file))
            return false;
        ::unlink(encodePath(left.infoPath).constData());
        return trash::renameNoReplace(draft, entry.infoPath, &failure);
    });
    return taken ? Claimed::Ok : Claimed::Taken;
}

bool stillTheFile(const QString& path, const std::optional<FileIdentity>& expected) {
    if (!expected) return true;
    const std::optional<FileIdentity> now = FileIdentity::of(path);
    return now && *now == *expected;
}

enum class Mode { Move, Link };

TrashEntry putInTrash(const QString& givenPath, const std::optional<FileIdentity>& expected, Mode mode,
                      TrashEntryWatcher* watcher) {
    TrashEntry entry;
    const QString path = absoluteClean(givenPath);
    const auto fail = [&](const QString& why) {
        entry.ok = false;
        entry.error = why;
        log(u"%@: could not be moved to the Trash: %@", displayPath(path), why);
        return entry;
    };
    struct stat st {};
    if (!lstatOf(path, &st)) return fail(platform::format(u"it cannot be read (%@)", errorText(errno)));
    if (S_ISDIR(st.st_mode)) return fail(QStringLiteral("it is a folder"));
    if (!stillTheFile(path, expected)) return fail(QStringLiteral("the file changed since it was read"));

    QString error;
    const TrashPlace place = trashPlaceFor(path, &error);
    if (place.folder.isEmpty()) return fail(error.isEmpty() ? QStringLiteral("no Trash may be used") : error);
    const QByteArray text = infoText(path, place.top);
    const QByteArray recorded = infoValue("Path=", QString(), text);
    const QByteArray name = encodePath(lastPathComponent(path));
    const QString infoFolder = place.folder + QStringLiteral("/info");
    std::uint64_t draftInode = 0;
    const QString draft = writeInfoDraft(infoFolder, text, watcher, &draftInode, &error);
    if (draft.isEmpty()) return fail(error);
    const auto dropDraft = qScopeGuard([&] { ::unlink(encodePath(draft).constData()); });

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString candidate = decodePath(candidateName(name, attempt));
        const QString trashed = place.folder + QStringLiteral("/files/") + candidate;
        const QString info = infoFolder + u'/' + candidate + QStringLiteral(".trashinfo");
        const TrashEntryInProgress making{info,      trashed,    path, recorded, mode == Mode::Link,
                                          draftInode, infoValue("DeletionDate=", QString(), text)};
        if (watcher) watcher->trashEntryBegins(making);
        // A linked entry is finished by its caller, once the file it holds was replaced.
        bool handedOn = false;
        const auto ended = qScopeGuard([&] {
            if (watcher && !handedOn) watcher->trashEntryEnds(info);
        });
        const Claimed claimed = claimName(draft, making, watcher, &error);
        if (claimed == Claimed::Taken) continue;
        if (claimed == Claimed::Failed) return fail(error);
        if (watcher) watcher->trashEntryNamed(making);

        int failure = 0;
        bool done;
        if (mode == Mode::Link) {
            done = ::link(encodePath(path).constData(), encodePath(trashed).constData()) == 0;
            failure = done ? 0 : errno;
        } else {
            done = trash::renameNoReplace(path, trashed, &failure);
        }
        if (!done) {
            // The entry goes back to being a draft (or away), never left without its file.
            int ignored = 0;
            if (!trash::renameNoReplace(info, draft, &ignored)) ::unlink(encodePath(info).constData());
            if (failure == EEXIST) continue;  // a file without an entry holds the name
            if (mode == Mode::Link &&
                (failure == EPERM || failure == EOPNOTSUPP || failure == EMLINK || failure == ENOSYS)) {
                entry.linksUnsupported = true;
            }
            return fail(platform::format(u"it could not be put in %@ (%@)", place.folder, errorText(failure)));
        }
        if (!syncFolder(infoFolder)) log(u"%@: the folder could not be flushed to disk", infoFolder);
        entry.trashedPath = trashed;
        entry.infoPath = info;
        entry.linked = mode == Mode::Link;
        // Swapped for another file between the check and the move: that one goes back.
        if (!stillTheFile(trashed, expected)) {
            trash::undo(entry, path);
            entry.trashedPath.clear();
            entry.infoPath.clear();
            return fail(QStringLiteral("the file changed since it was read"));
        }
        entry.ok = true;
        handedOn = entry.linked;
        return entry;
    }
    return fail(platform::format(u"no free name in %@ after %d tries", place.folder, kNameAttempts));
}

}  // namespace

std::optional<FileIdentity> FileIdentity::of(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || !lstatOf(path, &st)) return std::nullopt;
    FileIdentity id;
    id.device = std::uint64_t(st.st_dev);
    id.inode = std::uint64_t(st.st_ino);
    id.size = std::int64_t(st.st_size);
    id.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

namespace trash {

TrashEntry moveToTrash(const QString& path, const std::optional<FileIdentity>& expected, TrashEntryWatcher* watcher) {
    return putInTrash(path, expected, Mode::Move, watcher);
}

TrashEntry linkIntoTrash(const QString& path, const std::optional<FileIdentity>& expected,
                         TrashEntryWatcher* watcher) {
    return putInTrash(path, expected, Mode::Link, watcher);
}

bool clearUnfinished(const TrashEntryInProgress& entry) {
    struct stat info {}, trashed {};
    // An information file of another's (the name taken again since) is not this entry's.
    if (!lstatOf(entry.infoPath, &info) || !madeBy(entry, info)) return false;
    if (!lstatOf(entry.trashedPath, &trashed)) {
        ::unlink(encodePath(entry.infoPath).constData());
        log(u"%@: removed a Trash entry whose file never reached the Trash", displayPath(entry.infoPath));
        return true;
    }
    struct stat original {};
    if (!entry.linked || !lstatOf(entry.originalPath, &original) || original.st_dev != trashed.st_dev ||
        original.st_ino != trashed.st_ino)
        return false;
    ::unlink(encodePath(entry.trashedPath).constData());
    ::unlink(encodePath(entry.infoPath).constData());
    log(u"%@: was never replaced; its second name in the Trash was removed", displayPath(entry.originalPath));
    return true;
}

bool undo(const TrashEntry& entry, const QString& originalPath) {
    if (entry.trashedPath.isEmpty()) return false;
    bool ok;
    if (entry.linked) {
        ok = ::unlink(encodePath(entry.trashedPath).constData()) == 0;
    } else {
        int error = 0;
        ok = renameNoReplace(entry.trashedPath, originalPath, &error);
        if (!ok) {
            log(u"%@: could not be taken back out of the Trash (%@); it is at %@", displayPath(originalPath),
                errorText(error), displayPath(entry.trashedPath));
            return false;
        }
    }
    ::unlink(encodePath(entry.infoPath).constData());
    return ok;
}

QString trashFolderFor(const QString& path, QString* error) {
    QString why;
    const TrashPlace place = trashPlaceFor(path, &why);
    if (error) *error = why;
    return place.folder;
}

bool renameNoReplace(const QString& from, const QString& to, int* error) {
    const QByteArray f = encodePath(from);
    const QByteArray t = encodePath(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = errno;
        return false;
    }
    // File systems without the no-replace rename: a hard link fails on an existing name too.
    if (::link(f.constData(), t.constData()) != 0) {
        if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
            // Nor hard links (FAT and the like): look, then rename, as close together as can be.
            struct stat st {};
            if (::lstat(t.constData(), &st) == 0) {
                *error = EEXIST;
                return false;
            }
            if (std::rename(f.constData(), t.constData()) == 0) return true;
        }
        *error = errno;
        return false;
    }
    ::unlink(f.constData());
    return true;
}

}  // namespace trash

}  // namespace platform
