#include "batch/RenamePreviewRecomputer.h"

#include "batch/CaptureDateCache.h"
#include "batch/RenameScheme.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProgramThreads.h"
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

namespace {

// Helper threads that plan ranges of the batch beside the calling thread. What a range
// throws is kept for the caller, and every helper is joined before the caller goes on,
// whatever happened: a range that could not get a thread is planned by the caller.
class RangePlanners {
public:
    RangePlanners(std::function<void(qsizetype, qsizetype)> planRange, int helpers) : planRange_(std::move(planRange)) {
        // Room for every helper first: a thread started could otherwise find none and be lost
        // unjoined.
        helpers_.reserve(size_t(std::max(0, helpers)));
        left_.reserve(size_t(std::max(0, helpers)));
    }
    ~RangePlanners() { joinAll(); }

    void start(qsizetype begin, qsizetype end) {
        try {
            helpers_.push_back(platform::startThread([this, begin, end] { plan(begin, end); }));
        } catch (...) {
            left_.emplace_back(begin, end);  // no thread: planned by the caller
        }
    }
    // On the calling thread: `begin`-`end` and the ranges no helper took, then the helpers'
    // end. Rethrows the first failure of any range.
    void planHereAndJoin(qsizetype begin, qsizetype end) {
        plan(begin, end);
        for (const auto& [b, e] : left_) plan(b, e);
        joinAll();
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    void plan(qsizetype begin, qsizetype end) noexcept {
        try {
            planRange_(begin, end);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
    }
    void joinAll() noexcept {
        for (std::thread& helper : helpers_)
            if (helper.joinable()) helper.join();
    }

    const std::function<void(qsizetype, qsizetype)> planRange_;
    std::vector<std::thread> helpers_;
    std::vector<std::pair<qsizetype, qsizetype>> left_;
    std::mutex mutex_;
    std::exception_ptr failure_;  // guarded by mutex_ until every helper is joined
};

}  // namespace

PreviewResult RenamePreviewRecomputer::plan(const PlanSnapshot& snapshot, std::uint64_t generation,
                                            CaptureDateCache* cache,
                                            const std::function<bool(const QString&)>& exists) {
    try {
        return planAll(snapshot, generation, cache, exists);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        platform::log(u"the new names could not be planned: %@", platform::failureText(failure));
        PreviewResult failed;
        failed.generation = generation;
        failed.failure = platform::isMemoryShortage(failure) ? kPlanNotEnoughMemory : kPlanFailed;
        return failed;
    }
}

PreviewResult RenamePreviewRecomputer::planAll(const PlanSnapshot& snapshot, std::uint64_t generation,
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
    const qsizetype chunk = (count + threads - 1) / threads;
    {
        RangePlanners planners(planRange, threads - 1);
        for (int t = 1; t < threads; ++t) planners.start(std::min(count, t * chunk), std::min(count, (t + 1) * chunk));
        planners.planHereAndJoin(0, std::min(count, chunk));
    }

    result.planned = QList<std::shared_ptr<OutputPhotoPath>>(planned.begin(), planned.end());
    OutputPhotoPath::countOccurrences(result.planned);
    for (const PhotoFile& photo : snapshot.photos) result.isIphotoExist = result.isIphotoExist || photo.isIphotosNode;

    PreviewClassifier::Options options = snapshot.classifierOptions;
    options.sourceExists = [&sourceExists](qsizetype i) { return sourceExists[size_t(i)] != 0; };
    result.classification = PreviewClassifier::calculateErrorFiles(result.planned, options);
    return result;
}
