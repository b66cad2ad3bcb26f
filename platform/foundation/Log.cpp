#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace platform {

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

// Now in local time, "yyyy-MM-dd HH:mm:ss.zzz". localtime_r takes the system's time zone as
// the C library read it once; a QDateTime in local time has the library read it again for
// each line (a stat of /etc/localtime every time, several for each photo of a run).
QByteArray timestamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                int(now.tv_nsec / 1000000));
    return QByteArray(text, n > 0 ? std::min(n, int(sizeof text) - 1) : 0);
}
}  // namespace

void logText(const QString& text) noexcept {
    try {
        const QByteArray line =
            timestamp() + " BriskoPhotos[" + QByteArray::number(qint64(::getpid())) + "] " + text.toUtf8() + '\n';
        std::lock_guard<std::mutex> lock(logMutex());
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    } catch (...) {
        logLineLost();
    }
}

void logLineLost() noexcept {
    // A fixed line, written as it is: nothing to allocate.
    static const char kLine[] = "BriskoPhotos: a log line was lost (not enough memory to write it)\n";
    std::lock_guard<std::mutex> lock(logMutex());
    std::fwrite(kLine, 1, sizeof kLine - 1, stderr);
    std::fflush(stderr);
}

}  // namespace platform
