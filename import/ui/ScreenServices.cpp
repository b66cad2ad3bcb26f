#include "import/ui/ScreenServices.h"

#include "platform/foundation/HandOver.h"
#include "platform/foundation/UsableCpus.h"
#include "platform/workspace/Workspace.h"

#include <QTimer>
#include <QUrl>

#include <algorithm>

bool DesktopFileManagerService::revealFile(const QString& path) { return workspace_.selectFile(path); }

bool DesktopFileManagerService::showFileInfo(const QString& path) { return workspace_.showInfo(path); }

bool DesktopFileManagerService::openFile(const QString& path) { return workspace_.openFile(path); }

QtScreenTimers::~QtScreenTimers() { qDeleteAll(timers_); }

void QtScreenTimers::schedule(const QString& key, int milliseconds, std::function<void()> work) {
    QTimer*& timer = timers_[key];
    if (!timer) {
        timer = new QTimer;
        timer->setObjectName(key);
        timer->setSingleShot(true);
    }
    QObject::disconnect(timer, nullptr, nullptr, nullptr);
    QObject::connect(timer, &QTimer::timeout, [work = std::move(work)] { work(); });
    timer->start(milliseconds);
}

void QtScreenTimers::cancel(const QString& key) {
    if (QTimer* timer = timers_.value(key)) timer->stop();
}

int PooledThumbnailWorkers::threadsForEachView() { return std::max(1, (platform::usableCpuCount() + 1) / 2); }

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
    platform::startOnPool(pool_, [job = std::move(job), context] {
        MainStep step = job();
        if (!step || !context) return;
        platform::postQueued(context, std::move(step));
    });
}
