#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/NativeNames.h"

#include "platform/foundation/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {
QDateTime fromTimestamp(std::int64_t sec, std::uint32_t nsec) {
    return QDateTime::fromMSecsSinceEpoch(sec * 1000 + nsec / 1000000);
}
}  // namespace

FileAttributes fileAttributes(const QString& path) {
    FileAttributes a;
    if (path.isEmpty()) return a;
    const QByteArray native = platform::encodePath(path);
    struct statx sx {};
    if (statx(AT_FDCWD, native.constData(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return a;
    a.exists = true;
    a.isDirectory = S_ISDIR(sx.stx_mode);
    a.size = sx.stx_size;
    a.modificationDate = fromTimestamp(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    a.device = std::uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    a.inode = sx.stx_ino;
    if ((sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0))
        a.creationDate = fromTimestamp(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    else
        a.creationDate = a.modificationDate;
    return a;
}

FileStamp FileStamp::of(const QString& path) {
    const FileAttributes a = fileAttributes(path);
    return {a.exists, a.size, a.modificationDate, a.device, a.inode};
}

bool fileExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(platform::encodePath(path).constData(), &st) == 0;
}

bool isDirectory(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(platform::encodePath(path).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

bool isSameFile(const QString& a, const QString& b) {
    struct stat sa {}, sb {};
    if (::stat(platform::encodePath(a).constData(), &sa) == 0 && ::stat(platform::encodePath(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

bool setModificationDate(const QString& path, const QDateTime& date) {
    if (path.isEmpty() || !date.isValid()) return false;
    const qint64 ms = date.toMSecsSinceEpoch();
    struct timespec times[2];
    times[0].tv_sec = ms / 1000;
    times[0].tv_nsec = (ms % 1000) * 1000000;
    if (times[0].tv_nsec < 0) {
        times[0].tv_sec -= 1;
        times[0].tv_nsec += 1000000000;
    }
    times[1] = times[0];
    if (utimensat(AT_FDCWD, platform::encodePath(path).constData(), times, 0) != 0) {
        log(u"Could not set the dates of %@: %@", path, QString::fromUtf8(std::strerror(errno)));
        return false;
    }
    return true;
}

}  // namespace platform
