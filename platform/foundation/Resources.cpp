#include "platform/foundation/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <mutex>

namespace platform {

namespace {
std::mutex g_mutex;
QString g_override;
}

void setResourceDirectory(const QString& dir) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = dir;
}

QString resourceDirectory() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_override.isEmpty()) return g_override;
    }
    const QByteArray env = qgetenv("BRISKO_RESOURCES");
    if (!env.isEmpty() && QFileInfo(QString::fromLocal8Bit(env)).isDir()) return QString::fromLocal8Bit(env);
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!exeDir.isEmpty()) {
        for (const char* rel : {"/../share/BriskoPhotos/resources", "/../resources", "/resources"}) {
            const QString d = QDir::cleanPath(exeDir + QString::fromLatin1(rel));
            if (QFileInfo(d).isDir()) return d;
        }
    }
    return QString();
}

QString resourcePath(const QString& fileName) {
    const QString dir = resourceDirectory();
    if (dir.isEmpty()) return QString();
    const QString p = dir + QLatin1Char('/') + fileName;
    return QFileInfo::exists(p) ? p : QString();
}

}  // namespace platform
