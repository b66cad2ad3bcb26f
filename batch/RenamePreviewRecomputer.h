#pragma once
// Re-plans the whole batch in the background after a change of the output or rename
// settings: a snapshot is taken on the main thread, the planning and the classification
// run on a worker, and the result comes back to the main thread by value.
//
// Every recomputation carries a generation number and only the newest one asked for is
// published, so a slow older pass never overwrites a newer preview. Typing is debounced:
// a keystroke restarts the wait, and only its end takes a snapshot. Start of a run asks
// for recomputeNow(), so a run never uses a stale plan.
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "batch/PlanSnapshot.h"
#include "batch/PreviewClassifier.h"

struct OutputPhotoPath;
class CaptureDateCache;

struct PreviewResult {
    std::uint64_t generation = 0;
    QList<std::shared_ptr<OutputPhotoPath>> planned;  // one per photo, batch order
    PreviewClassification classification;
    bool isIphotoExist = false;  // the batch holds a photo-library photo
    // Why nothing was planned (memory ran short); empty when the plan was made. A plan
    // that failed plans no photo, so no run starts from it.
    QString failure;
};

inline const QString kPlanNotEnoughMemory = QStringLiteral("There was not enough memory to plan the new names");
inline const QString kPlanFailed = QStringLiteral("The new names could not be planned");

// Where background work runs; a pool thread by default, a queue the test drives in tests.
class PreviewExecutor {
public:
    virtual ~PreviewExecutor() = default;
    virtual void execute(std::function<void()> work) = 0;
};

class RenamePreviewRecomputer : public QObject {
    Q_OBJECT
public:
    using SnapshotSource = std::function<PlanSnapshot()>;

    explicit RenamePreviewRecomputer(SnapshotSource source, QObject* parent = nullptr);
    ~RenamePreviewRecomputer() override;

    void setExecutor(std::shared_ptr<PreviewExecutor> executor) { executor_ = std::move(executor); }
    void setDebounceInterval(int ms) { debounce_.setInterval(ms); }
    int debounceInterval() const { return debounce_.interval(); }
    void setCaptureDateCache(std::shared_ptr<CaptureDateCache> cache) { cache_ = std::move(cache); }
    void setFileExists(std::function<bool(const QString&)> exists) { exists_ = std::move(exists); }

    // Main thread. Called with the busy state when a pass starts (true) and when the
    // newest result is published (false), and with each published result.
    std::function<void(bool busy)> onBusyChanged;
    std::function<void(const PreviewResult&)> onPublished;

    // Asks for a re-planning: after the debounce (typing), or at once.
    void requestRecompute(bool debounced);
    // A change is waiting for its debounce or a newer pass has not been published yet.
    bool isPending() const { return debounce_.isActive() || inFlight_; }
    // Plans on this thread and publishes at once; older passes still running are dropped.
    const PreviewResult& recomputeNow();
    // Runs a waiting debounce now.
    void flushDebounce();

    const PreviewResult& lastPublished() const { return last_; }
    std::uint64_t latestGeneration() const { return latest_; }

    // The pass itself: plan, count, mark library photos and classify. Any thread. What
    // ends it early (a memory shortage) is said in the result's failure.
    static PreviewResult plan(const PlanSnapshot& snapshot, std::uint64_t generation, CaptureDateCache* cache,
                              const std::function<bool(const QString&)>& exists);

private:
    static PreviewResult planAll(const PlanSnapshot& snapshot, std::uint64_t generation, CaptureDateCache* cache,
                                 const std::function<bool(const QString&)>& exists);
    void dispatch();
    void deliver(PreviewResult result);

    SnapshotSource source_;
    std::shared_ptr<PreviewExecutor> executor_;
    std::shared_ptr<CaptureDateCache> cache_;
    std::function<bool(const QString&)> exists_;
    QTimer debounce_;
    std::uint64_t latest_ = 0;
    bool inFlight_ = false;
    PreviewResult last_;
    // Shared with the passes still running: they post their result only while it is set.
    struct Link {
        std::mutex mutex;
        RenamePreviewRecomputer* owner = nullptr;
    };
    std::shared_ptr<Link> link_;
};
