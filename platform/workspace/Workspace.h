#pragma once
// What the screens ask of the desktop: open an address with its handler, open a file in
// its default application, show a file in the file browser, show a file's information.
// Screens hold a Workspace* so tests can put their own in its place.
#include <QDBusConnection>
#include <QString>
#include <QUrl>

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // Each returns whether something took the request.
    virtual bool openURL(const QUrl& url);
    virtual bool openFile(const QString& path);
    // The file manager shows the file selected in its folder (the desktop's
    // org.freedesktop.FileManager1 service); without one, the folder that holds the file opens.
    virtual bool selectFile(const QString& path);
    // The file manager's properties of the file; without that service the path goes on the
    // clipboard and the folder that holds the file opens.
    virtual bool showInfo(const QString& path);

    // The desktop's own handlers.
    static Workspace& system();

protected:
    // The bus the file manager is asked on: the session's.
    virtual QDBusConnection fileManagerBus() const { return QDBusConnection::sessionBus(); }

private:
    bool callFileManager(const QString& method, const QString& path) const;
    bool openContainingFolder(const QString& path);
};

}  // namespace platform
