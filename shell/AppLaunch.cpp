#include "shell/AppLaunch.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThreadPool>

#include "platform/foundation/HandOver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"
#include "shell/TerminationRequests.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/workspace/RunRecord.h"
#include "records/AppDelegate.h"
#include "records/MetaDataObject.h"
#include "shell/MainWindowController.h"
#include "shell/ReachabilityWatch.h"

#include <QCoreApplication>

namespace {
const QString kStringTableFile = QStringLiteral("BriskoPhotos_EN.plist");
const QString kPhotosLibraryName = QStringLiteral("Photos Library.photoslibrary");
}  // namespace

const QString AppLaunch::kAlbumName = QStringLiteral("RKA");

void AppLaunch::setLaunchValues(AppDelegate& app) {
    app.resetToLaunchValues();
    app.scaledImgSize = QSizeF(580.0, 440.0);
    app.ADJUST_FILTER_IMG_CONTAINER_SIZE = QSizeF(580.0, 440.0);
    app.selectedCropRatio = 0;
    app.selectedCropOrientation = 0;
    app.selectedImageIndex = -1;
    app.isAUTO_CORRECT_ORIENTATION = true;
    app.arrFileFormatsSupported = AppDelegate::defaultFileFormats();
    app.strAlbumName = kAlbumName;
    // Both metadata records exist before any screen can read them.
    app.selectedMetatDataSettingObj = std::make_shared<MetaDataObject>();
    app.selectedMetatDataSettingObjOnlyUpdatedFields = std::make_shared<MetaDataObject>();
}

void AppLaunch::loadStringTable(AppDelegate& app) {
    const QString path = platform::resourcePath(kStringTableFile);
    QVariantMap table;
    if (!path.isEmpty()) table = platform::readPlistFile(path).toMap();
    if (table.isEmpty()) platform::log(u"string table %@ missing or unreadable", kStringTableFile);
    app.dictLanguage = table;
}

bool AppLaunch::handleFirstLaunch(platform::UserDefaults& defaults) {
    if (!defaults.resetIfFirstLaunch()) return false;
    defaults.setObject(true, QString::fromLatin1(platform::DefaultsKey::IsFirstTimeLaunch));
    defaults.synchronize();
    return true;
}

bool AppLaunch::photosAppInstalled(const QString& libraryPath) {
    QString path = libraryPath;
    if (path.isEmpty()) {
        const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        if (pictures.isEmpty()) return false;
        path = QDir(pictures).filePath(kPhotosLibraryName);
    }
    return QFileInfo(path).isDir();
}

QString AppLaunch::runningSystemVersion() {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d+)\\.(\\d+)"))
                                          .match(QSysInfo::kernelVersion());
    if (!m.hasMatch()) return QStringLiteral("0.0");
    return QStringLiteral("%1.%2").arg(m.captured(1).toInt()).arg(m.captured(2).toInt());
}

void AppLaunch::setVersionFlags(AppDelegate& app, const QString& version) {
    const QStringList parts = version.split(u'.');
    platform::log(u"OS Version: %@", app.setSystemVersionFlags(parts.value(0).toInt(), parts.value(1).toInt()));
}

namespace {
void startReachabilityWatch(const QString& backend) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    delete AppLaunch::reachabilityWatch();
    // A child of the application object: it lives exactly as long as the application.
    new ReachabilityWatch(backend, application);
}
}  // namespace

void AppLaunch::clearAfterUnfinishedRuns() {
    // Off the main thread: the folders a killed run wrote to may be slow to reach (a
    // network share), and the window need not wait for them.
    platform::startOnPool(*QThreadPool::globalInstance(), [] { platform::RunRecord::clearAfterUnfinishedRuns(); });
}

ReachabilityWatch* AppLaunch::reachabilityWatch() {
    QCoreApplication* application = QCoreApplication::instance();
    return application ? application->findChild<ReachabilityWatch*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

MainWindowController* AppLaunch::applicationDidFinishLaunching(const LaunchOptions& options) {
    AppDelegate& app = AppDelegate::shared();
    setLaunchValues(app);
    loadStringTable(app);
    platform::UserDefaults& defaults = options.defaults ? *options.defaults : platform::UserDefaults::standardUserDefaults();
    if (handleFirstLaunch(defaults)) platform::log(u"first launch: settings cleared");
    app.isPHOTOS_APP_INSTALLED = photosAppInstalled(options.photosLibraryPath);
    setVersionFlags(app, options.systemVersion.isEmpty() ? runningSystemVersion() : options.systemVersion);
    startReachabilityWatch(options.reachabilityBackend);
    clearAfterUnfinishedRuns();
    if (!options.openMainWindow) return nullptr;
    auto* window = new MainWindowController;
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Logging out (SIGTERM) or Ctrl+C (SIGINT) ends the session as the window would end it,
    // a run stopped cleanly first (main installs the handlers).
    auto* requests = new TerminationRequests(window);
    QObject::connect(requests, &TerminationRequests::requested, window, &MainWindowController::sessionEnding);
    window->show();
    return window;
}
