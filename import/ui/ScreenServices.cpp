#include "import/ui/ScreenServices.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace {
const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString kFileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
}  // namespace

bool DesktopFileManagerService::callFileManager(const QString& method, const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const auto registered = bus.interface()->isServiceRegistered(kFileManagerService);
    if (!registered.isValid() || !registered.value()) {
        // A file manager may still start on demand.
        const auto activatable = bus.interface()->activatableServiceNames();
        if (!activatable.isValid() || !activatable.value().contains(kFileManagerService)) return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kFileManagerService, kFileManagerPath, kFileManagerService, method);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // No wait for the answer: the file manager may take its time to come up.
    return bus.send(call);
}

void DesktopFileManagerService::openContainingFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void DesktopFileManagerService::revealFile(const QString& path) {
    if (!callFileManager(QStringLiteral("ShowItems"), path)) openContainingFolder(path);
}

void DesktopFileManagerService::showFileInfo(const QString& path) {
    if (!callFileManager(QStringLiteral("ShowItemProperties"), path)) openContainingFolder(path);
}

void DesktopFileManagerService::openFile(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QtScreenTimers::~QtScreenTimers() { qDeleteAll(timers_); }

void QtScreenTimers::schedule(const QString& key, int milliseconds, std::function<void()> work) {
    QTimer*& timer = timers_[key];
    if (!timer) {
        timer = new QTimer;
        timer->setSingleShot(true);
    }
    QObject::disconnect(timer, nullptr, nullptr, nullptr);
    QObject::connect(timer, &QTimer::timeout, [work = std::move(work)] { work(); });
    timer->start(milliseconds);
}

void QtScreenTimers::cancel(const QString& key) {
    if (QTimer* timer = timers_.value(key)) timer->stop();
}

PooledThumbnailWorkers::PooledThumbnailWorkers(int threads) : context_(std::make_unique<QObject>()) {
    pool_.setMaxThreadCount(threads);
}

PooledThumbnailWorkers::~PooledThumbnailWorkers() {
    pool_.clear();
    pool_.waitForDone();
    // Deleting the context drops every main-thread step still queued for it.
}

void PooledThumbnailWorkers::run(Job job) {
    QPointer<QObject> context = context_.get();
    pool_.start([job = std::move(job), context] {
        MainStep step = job();
        if (!step || !context) return;
        QMetaObject::invokeMethod(context, [step = std::move(step)] { step(); }, Qt::QueuedConnection);
    });
}
