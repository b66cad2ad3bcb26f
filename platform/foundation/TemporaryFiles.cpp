#include "platform/foundation/TemporaryFiles.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"

#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString temporaryFileTemplate(const QString& folder) {
    return folder + QStringLiteral("/.brisko-part-") + QString::number(::getpid()) + QStringLiteral("-XXXXXX");
}

int removeStaleTemporaries(const QString& folder) {
    static const QRegularExpression ours(QStringLiteral("^\\.+brisko-part-(\\d+)-"));
    DIR* dir = ::opendir(encodePath(folder).constData());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QRegularExpressionMatch match = ours.match(QString::fromLatin1(entry->d_name));
        if (!match.hasMatch()) continue;
        bool number = false;
        const qint64 pid = match.captured(1).toLongLong(&number);
        if (!number || pid <= 0 || pid > std::numeric_limits<pid_t>::max() || pid == ::getpid()) continue;
        // A process that still exists (or that we may not signal) may still be writing it.
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    if (removed > 0) log(u"%@: removed %d temporary files left by an earlier run", displayPath(folder), removed);
    return removed;
}

}  // namespace platform
