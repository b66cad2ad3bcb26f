#include "editor/PreviewRenderer.h"

#include "editor/PreviewLoader.h"
#include "engine/Utils.h"
#include "platform/coreimage/kernels/Node.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/ProgramThreads.h"

#include <QThread>

PreviewRenderer::PreviewRenderer(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(1);
    executor_ = [this](std::function<void()> work) { platform::startOnPool(pool_, std::move(work)); };
}

PreviewRenderer::~PreviewRenderer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.reset();
        stopping_ = true;
    }
    wake_.notify_all();
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
    if (start)
        executor_([this] { drain(); });
    else
        wake_.notify_all();
    return generation;
}

void PreviewRenderer::drain() {
    // Buffers the filter engine lets go of are kept for the next picture while this runs.
    const platform::ci::RenderScope keepWorkingMemory;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!pending_) {
            idle_.notify_all();
            const auto next = [this] { return pending_.has_value() || stopping_; };
            const int linger = lingerMs_.load();
            if (stopping_ || linger <= 0 || !wake_.wait_for(lock, std::chrono::milliseconds(linger), next) ||
                stopping_) {
                busy_ = false;
                return;
            }
        }
        PreviewJob job = std::move(*pending_);
        pending_.reset();
        if (job.generation != latest_.load()) continue;
        rendering_ = true;
        lock.unlock();
        const QImage image = render(job);
        if (job.generation == latest_.load()) {
            if (QThread::currentThread() == thread()) {
                deliver(image, job.generation);
            } else {
                const quint64 generation = job.generation;
                platform::postQueued(this, [this, image, generation] { deliver(image, generation); });
            }
        }
        lock.lock();
        rendering_ = false;
    }
}

void PreviewRenderer::deliver(const QImage& image, quint64 generation) {
    if (generation != latest_.load()) return;  // a newer request is on its way
    emit rendered(image, generation);
}

bool PreviewRenderer::waitForIdle(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !pending_ && !rendering_; });
}

QImage PreviewRenderer::render(const PreviewJob& job) {
    // An effect that fails (memory ran short) shows the picture without it, as one that gave
    // no picture does; the renderer goes on with the next request.
    QImage result = job.preview;
    platform::runContained([&] { result = renderEffects(job); });
    return result;
}

QImage PreviewRenderer::renderEffects(const PreviewJob& job) {
    if (job.preview.isNull()) return job.preview;
    QImage result = job.preview;
    if (!job.filterName.isEmpty()) {
        const QImage drawn = Utils::sharedUtils().applyFilterToPreview(job.preview, job.photoPath, job.filterName,
                                                                       job.parameters, job.photoScale);
        if (!drawn.isNull()) result = drawn;
    }
    if (job.above.isEmpty()) return result;
    return PreviewLoader::applySelectedFiltersOnImage(result, job.photoPath, job.above, job.photoScale);
}
