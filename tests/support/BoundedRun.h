#pragma once
// Runs a piece of work in a forked child and reports how it ended and how much memory it
// took on top of what the test process already held, so a test can hold a parser to a
// memory budget without risking its own process. Outside sanitizer builds the child's
// address space is capped as well, so a runaway allocation fails instead of taking the
// machine's memory. A test that uses it starts with BRISKO_STARTS_A_PROCESS().
#include <QByteArray>
#include <QFile>
#include <QString>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/Sanitizers.h"

namespace testsupport {

struct BoundedRun {
    bool exited = false;     // the child returned rather than died of a signal
    int exitCode = -1;       // 0 when the work returned true
    int signal = 0;          // the signal that ended the child, if one did
    long growthMb = 0;       // peak resident memory above the parent's at the fork
    bool ok(long maxGrowthMb) const { return exited && exitCode == 0 && growthMb <= maxGrowthMb; }
    QString describe() const {
        return exited ? QStringLiteral("exit %1, +%2 MB").arg(exitCode).arg(growthMb)
                      : QStringLiteral("signal %1, +%2 MB").arg(signal).arg(growthMb);
    }
};

inline long residentMb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? long(fields[1].toLongLong() * sysconf(_SC_PAGESIZE) / (1024 * 1024)) : 0;
}

inline long virtualMb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return long(f.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE) / (1024 * 1024));
}

// The work runs with standard output silenced and at most `seconds` of time.
inline BoundedRun runBounded(const std::function<bool()>& work, long capMb = 1536, int seconds = 120) {
    if (builtWithThreadSanitizer() && !declaredStartingProcess())
        ADD_FAILURE() << "a test that calls runBounded starts with BRISKO_STARTS_A_PROCESS()";
    std::fflush(nullptr);
    const long before = residentMb();
    const long address = virtualMb();
    BoundedRun result;
    const pid_t pid = fork();
    if (pid == 0) {
        // A sanitizer reserves address space far beyond what the program uses.
        if (!builtWithSanitizer()) {
            const rlim_t cap = rlim_t(address + capMb) * 1024 * 1024;
            const rlimit limit{cap, cap};
            setrlimit(RLIMIT_AS, &limit);
        }
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);
        alarm(unsigned(seconds));
        _exit(work() ? 0 : 1);
    }
    if (pid < 0) return result;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return result;
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.growthMb = std::max(0L, usage.ru_maxrss / 1024 - before);
    return result;
}

// A file of the source tree's test data.
inline QString sourcePath(const QString& relative) {
    return QStringLiteral(BRISKO_SOURCE_DIR "/") + relative;
}

inline QByteArray sourceBytes(const QString& relative) {
    QFile f(sourcePath(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace testsupport
