#include "platform/foundation/FileSync.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

bool syncPath(const QString& path, int flags) {
    const QByteArray name = platform::encodePath(path);
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        log(u"%@: could not open to flush it to disk (%@)", path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (rc != 0) {
        log(u"%@: could not flush to disk (%@)", path, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    return true;
}

}  // namespace

bool syncFileAndFolder(const QString& path) {
    if (path.isEmpty()) return false;
    return syncPath(path, O_RDONLY) && syncPath(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY);
}

bool writeWhole(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

}  // namespace platform
