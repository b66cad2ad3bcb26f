#include "platform/workspace/Workspace.h"

#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

namespace platform {

namespace {

const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString kFileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");

}  // namespace

// Asks the session's file manager to act on one file; false when none is there to ask.
bool Workspace::callFileManager(const QString& method, const QString& path) const {
    QDBusConnection bus = fileManagerBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const auto registered = bus.interface()->isServiceRegistered(kFileManagerService);
    if (!registered.isValid() || !registered.value()) {
        // A file manager may still start on demand.
        const auto activatable = bus.interface()->activatableServiceNames();
        if (!activatable.isValid() || !activatable.value().contains(kFileManagerService)) return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kFileManagerService, kFileManagerPath, kFileManagerService, method);
    call << QStringList{fileUrl(path).toString()} << QString();
    // No wait for the answer: the file manager may take its time to come up.
    return bus.send(call);
}

bool Workspace::openContainingFolder(const QString& path) {
    return openURL(fileUrl(stringByDeletingLastPathComponent(QFileInfo(path).absoluteFilePath())));
}

bool Workspace::openURL(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool Workspace::openFile(const QString& path) { return QDesktopServices::openUrl(fileUrl(QFileInfo(path).absoluteFilePath())); }

bool Workspace::selectFile(const QString& path) {
    return callFileManager(QStringLiteral("ShowItems"), path) || openContainingFolder(path);
}

bool Workspace::showInfo(const QString& path) {
    if (callFileManager(QStringLiteral("ShowItemProperties"), path)) return true;
    if (auto* clipboard = QGuiApplication::clipboard()) clipboard->setText(path);
    return openContainingFolder(path);
}

Workspace& Workspace::system() {
    static Workspace workspace;
    return workspace;
}

}  // namespace platform
