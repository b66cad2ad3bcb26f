#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <fcntl.h>
#include <unistd.h>

#include "platform/foundation/BusErrorGuard.h"
#include "platform/foundation/Log.h"
#include "shell/TerminationRequests.h"
#include "platform/foundation/UsableCpus.h"
#include "shell/AppIcon.h"
#include "shell/AppLaunch.h"

namespace {

// Standard error goes, appended, to the application log in the Documents folder, so
// every diagnostic of every run stays in one file the user can send.
QString redirectLogToDocuments() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) documents = QDir::home().filePath(QStringLiteral("Documents"));
    if (!QDir().mkpath(documents)) return {};
    const QString path = QDir(documents).filePath(QStringLiteral("BriskoPhotos_AppLogs.log"));
    // Opened first and then put in place, so a failure leaves standard error as it was.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return {};
    const bool ok = ::dup2(fd, STDERR_FILENO) >= 0;
    ::close(fd);
    return ok ? path : QString();
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread: a photo cut short by another program while it is read fails that
    // read, not the application.
    platform::busguard::install();
    // SIGTERM and SIGINT reach the event loop as requests to end the session.
    TerminationRequests::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BriskoPhotos"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brisko Photos"));
    QApplication::setDesktopFileName(QStringLiteral("BriskoPhotos"));
    QApplication::setWindowIcon(AppIcon::icon());
    // The main window decides when the application ends (its close button may ask first).
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's shared pool (previews, thumbnails, the rename preview) counts the machine's cores;
    // it gets the ones this process may use.
    QThreadPool::globalInstance()->setMaxThreadCount(platform::usableCpuCount());

    const QString logPath = redirectLogToDocuments();
    platform::log(u"log file path = %@", logPath);

    LaunchOptions options;
    options.systemVersion = qEnvironmentVariable("BRISKO_SYSTEM_VERSION");
    AppLaunch::applicationDidFinishLaunching(options);
    return app.exec();
}
