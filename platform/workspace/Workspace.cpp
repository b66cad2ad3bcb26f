#include "platform/workspace/Workspace.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

namespace platform {

bool Workspace::openURL(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool Workspace::openFile(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

bool Workspace::selectFile(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

bool Workspace::showInfo(const QString& path) {
    if (auto* clipboard = QGuiApplication::clipboard()) clipboard->setText(path);
    return selectFile(path);
}

Workspace& Workspace::system() {
    static Workspace workspace;
    return workspace;
}

}  // namespace platform
