#include "batch/RenamePreviewRecomputer.h"

#include "batch/CaptureDateCache.h"
#include "batch/RenameScheme.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/UsableCpus.h"
#include <QThreadPool>

namespace {

class PoolExecutor : public PreviewExecutor {
public:
    void execute(std::function<void()> work) override {
        platform::startOnPool(*QThreadPool::globalInstance(), std::move(work));
    }
};

}  // namespace

RenamePreviewRecomputer::RenamePreviewRecomputer(SnapshotSource source, QObject* parent)
    : QObject(parent),
      source_(std::move(source)),
      executor_(std::make_shared<PoolExecutor>()),
      cache_(std::make_shared<CaptureDateCache>()),
      link_(std::make_shared<Link>()) {
    link_->owner = this;
    debounce_.setSingleShot(true);
    debounce_.setInterval(150);
    connect(&debounce_, &QTimer::timeout, this, &RenamePreviewRecomputer::dispatch);
}

RenamePreviewRecomputer::~RenamePreviewRecomputer() {
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->owner = nullptr;
}

void RenamePreviewRecomputer::requestRecompute(bool debounced) {
    if (debounced && debounce_.interval() > 0) {
        debounce_.start();  // restarts the wait
        return;
    }
    debounce_.stop();
    dispatch();
}

void RenamePreviewRecomputer::flushDebounce() {
    if (!debounce_.isActive()) return;
    debounce_.stop();
    dispatch();
}

void RenamePreviewRecomputer::dispatch() {
    const std::uint64_t generation = ++latest_;
    inFlight_ = true;
    if (onBusyChanged) onBusyChanged(true);
    auto snapshot = std::make_shared<const PlanSnapshot>(source_());
    executor_->execute([snapshot, generation, cache = cache_, exists = exists_, link = link_] {
        PreviewResult result = plan(*snapshot, generation, cache.get(), exists);
        std::lock_guard<std::mutex> lock(link->mutex);
        if (!link->owner) return;
        RenamePreviewRecomputer* owner = link->owner;
        platform::postQueued(owner,
                             [owner, result = std::move(result)]() mutable { owner->deliver(std::move(result)); });
    });
}

const PreviewResult& RenamePreviewRecomputer::recomputeNow() {
    debounce_.stop();
    const std::uint64_t generation = ++latest_;
    inFlight_ = true;
    if (onBusyChanged) onBusyChanged(true);
    deliver(plan(source_(), generation, cache_.get(), exists_));
    return last_;
}

void RenamePreviewRecomputer::deliver(PreviewResult result) {
    if (result.generation != latest_) return;  // a newer pass was asked for meanwhile
    inFlight_ = false;
    last_ = std::move(result);
    if (onPublished) onPublished(last_);
    if (onBusyChanged) onBusyChanged(false);
}

PreviewResult RenamePreviewRecomputer::plan(const PlanSnapshot& snapshot, std::uint64_t generation,
                                            CaptureDateCache* cache,
                                            const std::function<bool(const QString&)>& exists) {
    PreviewResult result;
    result.generation = generation;
    const qsizetype count = snapshot.photos.size();
    const auto fileExists = exists ? exists : std::function<bool(const QString&)>(platform::fileExists);
    std::vector<std::shared_ptr<OutputPhotoPath>> planned(static_cast<size_t>(count));
    std::vector<char> sourceExists(static_cast<size_t>(count), 0);

    // Names and file-system checks of disjoint ranges of photos; each range has its own
    // scheme (a scheme keeps its date formatter and is used by one thread at a time).
    const auto planRange = [&](qsizetype begin, qsizetype end) {
        RenameScheme scheme(snapshot.renameSetting, snapshot.outputSetting, snapshot.fileFormats);
        if (snapshot.now.isValid()) scheme.setCurrentDate(snapshot.now);
        if (!snapshot.desktopFolder.isEmpty()) scheme.setDesktopFolder(snapshot.desktopFolder);
        if (cache) {
            scheme.setCaptureDateReader([cache](const QString& path) { return cache->captureDate(path); });
            scheme.setDateFormatter(
                [cache](const QDateTime& date, const QString& pattern) { return cache->formattedDate(date, pattern); });
        }
        for (qsizetype i = begin; i < end; ++i) {
            const PhotoFile& photo = snapshot.photos.at(i);
            planned[size_t(i)] =
                OutputPhotoPath::initWithFileUrl(scheme.plannedPathForPhotoFile(photo, int(i)), photo.filePath);
            sourceExists[size_t(i)] = fileExists(photo.filePath);
        }
    };
    // A big batch is shared among a few threads: most of the time goes to asking the file
    // system about each photo.
    const int threads = count < 2000 ? 1 : std::clamp(platform::usableCpuCount(), 1, 4);
    std::vector<std::thread> helpers;
    const qsizetype chunk = (count + threads - 1) / threads;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(planRange, std::min(count, t * chunk), std::min(count, (t + 1) * chunk));
    planRange(0, std::min(count, chunk));
    for (std::thread& helper : helpers) helper.join();

    result.planned = QList<std::shared_ptr<OutputPhotoPath>>(planned.begin(), planned.end());
    OutputPhotoPath::countOccurrences(result.planned);
    for (const PhotoFile& photo : snapshot.photos) result.isIphotoExist = result.isIphotoExist || photo.isIphotosNode;

    PreviewClassifier::Options options = snapshot.classifierOptions;
    options.sourceExists = [&sourceExists](qsizetype i) { return sourceExists[size_t(i)] != 0; };
    result.classification = PreviewClassifier::calculateErrorFiles(result.planned, options);
    return result;
}
