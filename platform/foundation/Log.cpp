#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace platform {

void logText(const QString& text) {
    static std::mutex m;
    const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8() +
                            " BriskoPhotos[" + QByteArray::number(qint64(::getpid())) + "] " + text.toUtf8() + '\n';
    std::lock_guard<std::mutex> lock(m);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

}  // namespace platform
