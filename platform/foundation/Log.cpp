#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace platform {

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
}  // namespace

void logText(const QString& text) noexcept {
    try {
        const QByteArray line =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8() + " BriskoPhotos[" +
            QByteArray::number(qint64(::getpid())) + "] " + text.toUtf8() + '\n';
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
