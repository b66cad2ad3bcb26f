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

QString temporaryFileTemplate(const QString& folder, const QByteArray& mark) {
    const QString maker = mark.isEmpty() ? QString::number(::getpid()) : QString::fromLatin1(mark);
    return folder + QStringLiteral("/.brisko-part-") + maker + QStringLiteral("-XXXXXX");
}

namespace {

// The mark of a temporary file's name (".brisko-part-<mark>-..."): letters and digits, or
// empty when the name is not one of ours. Read by hand: a regular expression's first match
// on a thread makes a thread-local stack whose destructor the C library registers with an
// allocation it does not let fail, and this runs on the run's threads.
QByteArray markOf(const char* name) {
    const char* p = name;
    while (*p == '.') ++p;
    static constexpr char kStem[] = "brisko-part-";
    if (p == name || std::strncmp(p, kStem, sizeof kStem - 1) != 0) return {};
    p += sizeof kStem - 1;
    const char* start = p;
    while ((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) ++p;
    if (p == start || *p != '-' || p - start > 64) return {};
    return QByteArray(start, p - start);
}

// The process id a mark of digits stands for; 0 when it is a run's mark (or no id).
qint64 processOf(const QByteArray& mark) {
    qint64 pid = 0;
    for (const char c : mark) {
        if (c < '0' || c > '9') return 0;
        pid = pid * 10 + (c - '0');
        if (pid > std::numeric_limits<pid_t>::max()) return 0;
    }
    return pid;
}

}  // namespace

int removeStaleTemporaries(const QString& folder, const std::function<bool(const QByteArray& mark)>& ended) {
    DIR* dir = ::opendir(encodePath(folder).constData());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray mark = markOf(entry->d_name);
        if (mark.isEmpty()) continue;
        if (const qint64 pid = processOf(mark)) {
            // Marked by a process without a record: one that still exists (or that we may
            // not signal) may still be writing it.
            if (pid == ::getpid() || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        } else if (mark.front() < 'A' || !ended || !ended(mark)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    if (removed > 0) log(u"%@: removed %d temporary files left by an earlier run", displayPath(folder), removed);
    return removed;
}

}  // namespace platform
