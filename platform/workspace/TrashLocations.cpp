#include "platform/workspace/TrashLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <unistd.h>

namespace platform {

QString homeTrashFolder() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(dataHome + QStringLiteral("/Trash"));
}

namespace {

bool isAtOrBelow(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder + u'/');
}

}  // namespace

QStringList trashFoldersFor(const QString& path) {
    QStringList folders{homeTrashFolder()};
    // The volume is found from the nearest folder that exists.
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    while (!existing.isEmpty() && !QFileInfo::exists(existing) && existing != u"/")
        existing = QFileInfo(existing).path();
    const QString top = QStorageInfo(existing).rootPath();
    if (!top.isEmpty()) {
        const QString base = top == u"/" ? QString() : QDir::cleanPath(top);
        const QString uid = QString::number(::getuid());
        folders << base + QStringLiteral("/.Trash/") + uid << base + QStringLiteral("/.Trash-") + uid;
    }
    return folders;
}

bool isInsideTrash(const QString& path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    QStringList spellings{QDir::cleanPath(info.absoluteFilePath())};
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty()) spellings << canonical;
    for (const QString& folder : trashFoldersFor(path)) {
        const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
        for (const QString& p : spellings) {
            if (isAtOrBelow(p, folder) || (!canonicalFolder.isEmpty() && isAtOrBelow(p, canonicalFolder))) return true;
        }
    }
    return false;
}

}  // namespace platform
