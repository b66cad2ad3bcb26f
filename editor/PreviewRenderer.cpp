#include "editor/PreviewRenderer.h"

#include "editor/PreviewLoader.h"
#include "engine/Utils.h"

#include <QThread>

PreviewRenderer::PreviewRenderer(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(1);
    executor_ = [this](std::function<void()> work) { pool_.start(std::move(work)); };
}

PreviewRenderer::~PreviewRenderer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.reset();
    }
    pool_.waitForDone();
}

quint64 PreviewRenderer::request(PreviewJob job) {
    job.generation = ++latest_;
    const quint64 generation = job.generation;
    bool start = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::move(job);
        if (!busy_) {
            busy_ = true;
            start = true;
        }
    }
    if (start) executor_([this] { drain(); });
    return generation;
}

void PreviewRenderer::drain() {
    for (;;) {
        PreviewJob job;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!pending_) {
                busy_ = false;
                return;
            }
            job = std::move(*pending_);
            pending_.reset();
        }
        if (job.generation != latest_.load()) continue;
        const QImage image = render(job);
        if (job.generation != latest_.load()) continue;
        if (QThread::currentThread() == thread()) {
            deliver(image, job.generation);
        } else {
            const quint64 generation = job.generation;
            QMetaObject::invokeMethod(this, [this, image, generation] { deliver(image, generation); },
                                      Qt::QueuedConnection);
        }
    }
}

void PreviewRenderer::deliver(const QImage& image, quint64 generation) {
    if (generation != latest_.load()) return;  // a newer request is on its way
    emit rendered(image, generation);
}

bool PreviewRenderer::waitForIdle(int milliseconds) { return pool_.waitForDone(milliseconds); }

QImage PreviewRenderer::render(const PreviewJob& job) {
    if (job.preview.isNull()) return job.preview;
    QImage result = job.preview;
    if (!job.filterName.isEmpty()) {
        const QImage drawn =
            Utils::sharedUtils().applyFilterWithImage(job.preview, job.photoPath, job.filterName, job.parameters, false);
        if (!drawn.isNull()) result = drawn;
    }
    if (job.above.isEmpty()) return result;
    return PreviewLoader::applySelectedFiltersOnImage(result, job.photoPath, job.above);
}
