#pragma once
// What the screens ask of the desktop: open an address with its handler, open a file in
// its default application, show a file in the file browser, show a file's information.
// Screens hold a Workspace* so tests can put their own in its place.
#include <QString>
#include <QUrl>

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // Each returns whether something took the request.
    virtual bool openURL(const QUrl& url);
    virtual bool openFile(const QString& path);
    // The file browser shows the folder that holds the file.
    virtual bool selectFile(const QString& path);
    // The file's information: the desktop has no common information window, so the path
    // goes on the clipboard and the file browser shows the file's folder.
    virtual bool showInfo(const QString& path);

    // The desktop's own handlers.
    static Workspace& system();
};

}  // namespace platform
