#include "platform/foundation/TemporaryFiles.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString temporaryFileTemplate(const QString& folder) {
    return folder + QStringLiteral("/.brisko-part-") + QString::number(::getpid()) + QStringLiteral("-XXXXXX");
}

namespace {

// The process named by a temporary file's name (".brisko-part-<process>-..."), or 0 when
// the name is not one of ours. Read by hand: a regular expression's first match on a thread
// makes a thread-local stack whose destructor the C library registers with an allocation
// it does not let fail, and this runs on the run's threads.
qint64 writerOf(const char* name) {
    const char* p = name;
    while (*p == '.') ++p;
    static constexpr char kStem[] = "brisko-part-";
    if (p == name || std::strncmp(p, kStem, sizeof kStem - 1) != 0) return 0;
    p += sizeof kStem - 1;
    qint64 pid = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (pid > std::numeric_limits<pid_t>::max()) return 0;
        pid = pid * 10 + (*p - '0');
    }
    return p > digits && *p == '-' && pid <= std::numeric_limits<pid_t>::max() ? pid : 0;
}

}  // namespace

int removeStaleTemporaries(const QString& folder) {
    DIR* dir = ::opendir(encodePath(folder).constData());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const qint64 pid = writerOf(entry->d_name);
        if (pid <= 0 || pid == ::getpid()) continue;
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
