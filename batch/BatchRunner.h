#pragma once
// The batch run. Several photos are in flight at once on a bounded pool: each is loaded,
// given the effect steps and encoded by the ResultWriter into a temporary file beside its
// destination. One worker per run then takes them strictly in batch order: the checks that
// depend on earlier photos' outcomes, the low-disk-space check, placing the file and the
// Trash in move mode. Every outcome is recorded, in batch order, on the thread that owns
// the runner (the main thread), where the observer hears of it. The run can be stopped
// and then abandoned or resumed at the first photo not yet reported; a low-disk-space
// check ends it after the photo in hand. The photo in hand is the one the run has taken up
// in order (its thumbnail is shown): once its save has begun it is finished and counted;
// the photos behind it are dropped with their temporary files.
//
// The runner holds no widget: the run screen is one observer, tests are another, and the
// questions a run asks (stop? low space) go through an asker.
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "batch/BatchRunnerPool.h"
#include "batch/PhotoStream.h"
#include "batch/ResultWriter.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/SubWindowHold.h"

struct PhotoFile;

// What the run screen would show; every call comes on the runner's own thread.
class BatchRunObserver {
public:
    virtual ~BatchRunObserver() = default;
    // The short alert (it closes by itself after a second).
    virtual void runShowsAlert(const QString& text) {}
    // A run began (after a start, not after a resume).
    virtual void runDidStart(int photoCount) {}
    // Thumbnail of the photo in hand (only when a thumbnail size is set).
    virtual void runShowsPhoto(int index, const QImage& thumbnail) {}
    // One photo's outcome: its row, the photo with its status and message, progress 0..100.
    virtual void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& photo, int progress) {}
    virtual void runShowsLoading(bool show, const QString& text) {}
    // The end: finished (every photo reported) or interrupted.
    virtual void runDidEnd(bool finished) {}
};

// The questions of a run. Answers come back through BatchRunner::answerStopQuestion and
// BatchRunner::acknowledgeLowSpace, now or later.
class BatchRunAsker {
public:
    virtual ~BatchRunAsker() = default;
    virtual void askToStop(const QString& question) = 0;
    virtual void tellLowSpace(std::uint64_t freeBytes) = 0;
    // The run ended on its own while a question was open: close it.
    virtual void withdrawQuestion() {}
};

// Sizes of the volume that holds a folder; nullopt when they cannot be read.
struct VolumeSpace {
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
};
using FreeSpaceProvider = std::function<std::optional<VolumeSpace>(const QString& folder)>;

// Everything one run works on, taken when it starts.
struct BatchRunInput {
    AppDelegate::RunSnapshot snapshot;
    QStringList fileFormats;  // the output format list
    // Planned outputs classified before the start: destination paths, except
    // arrayFileNotFound which holds source paths.
    QStringList arrayEmptyNames, arrayInvalidFileName, arrayDuplicateNames, arrayFileAlreadyExists;
    QStringList arrayFileNotFound;
    // Planned paths that would replace a photo of the batch.
    QStringList arrayReplacesSource;
    bool isProcessForRestoreExif = false;

    // The application delegate's current batch and settings (main thread).
    static BatchRunInput fromAppDelegate();
};

class BatchRunner : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Running, StopDeferred, StopAsked, LowSpace, Finished, Interrupted };

    // Below this many free bytes on the output volume the run ends after the photo in hand.
    static constexpr std::uint64_t kLowSpaceBytes = 0x6500000;  // 101 MiB

    // The run flag is the application delegate's unless another one is given.
    explicit BatchRunner(std::atomic<bool>* runFlag = nullptr, QObject* parent = nullptr);
    ~BatchRunner() override;

    void setObserver(BatchRunObserver* observer) { observer_ = observer; }
    void setAsker(BatchRunAsker* asker) { asker_ = asker; }
    void setFreeSpaceProvider(FreeSpaceProvider provider) { freeSpace_ = std::move(provider); }
    // Results are written at the working image's size divided by this factor's whole part.
    // It undoes a drawing layer that doubles pixels on dense screens; ours draws pixel for
    // pixel, so the run screen leaves it at 1 whatever the screen's density.
    void setBackingScaleFactor(double factor) { backingScale_ = factor; }
    // Size of the current-photo view; no thumbnails are made while it is empty.
    void setThumbnailSize(const QSize& size) { thumbnailSize_ = size; }
    // Lets tests reach the writer of each run before it is used.
    void setWriterSetUp(std::function<void(ResultWriter&)> setUp) { writerSetUp_ = std::move(setUp); }
    // Photos worked on at once: 0 (the default) is one per hardware thread. Runs that may
    // use the PNG optimiser take one photo at a time whatever this says.
    void setPhotosInFlight(int workers) { photosInFlight_ = workers; }
    // Peak working sizes of the photos running at once, in bytes; 0 (the default) is sized
    // from the memory the process may use (PhotosInFlight::defaultBudgetBytes). A photo
    // larger than that alone still runs, alone.
    void setMemoryBudget(std::uint64_t bytes) { memoryBudget_ = bytes; }
    // Called with a source's path once it is open for its full decode (or opened to be read
    // row by row), before it is read (tests change the file there).
    void setSourceReadHook(std::function<void(const QString& path)> hook) { sourceReadHook_ = std::move(hook); }
    // The status of a photo whose picture could not be read, from what its decode found.
    static QString unreadableMessage(const platform::DecodeResult& decoded);
    // Photos converted or only shrunk are made row by row from this many pixels; 0 (the
    // default) is from where their memory matters, 20 MP.
    void setRowByRowFromPixels(qint64 pixels) { rowByRowFromPixels_ = pixels; }
    // The sizes of the volume that holds `folder` (or the nearest folder above it that
    // exists): the free-space figures a run uses unless given others.
    static std::optional<VolumeSpace> volumeSpaceOf(const QString& folder);
    // What a photo needs at its peak when written with `extension` (as the run spells it):
    // its decoded pixels, two working copies, and what that format's encoder holds beside
    // them.
    static std::uint64_t peakWorkingBytes(const platform::ImageHeader& header, const QString& extension);
    // Photos worked on at once in a run with this writer.
    int photoWorkers(const ResultWriter& writer) const;
    // From which sizes photos are made row by row in this run.
    PhotoStream::Limits rowByRowLimits() const;

    // ---- main thread ----
    // Begins a run; an empty batch only shows "No photos to process.".
    void startProcessingOfPhotos(BatchRunInput input);
    void btnStopProcessTapped();
    // Yes (true) abandons the run, No resumes it.
    void answerStopQuestion(bool stop);
    void acknowledgeLowSpace();

    State state() const { return state_; }
    bool isWorkerAlive() const { return worker_.joinable(); }
    QList<std::shared_ptr<PhotoFile>> photos() const;

    // Run state of the screen.
    qint64 counterTotalProgressedFiles = 0;
    qint64 counterProcessedSuccessfully = 0;
    qint64 counterNotProcessed = 0;
    qint64 counterProcessedWithError = 0;
    qint64 counterSkipped = 0;
    int progressValue = 0;
    // Workers started since this runner was made (tests check that resumes never overlap).
    std::atomic<int> workersStarted{0};
    std::atomic<int> workersAliveAtOnce{0};
    std::atomic<int> maxWorkersAliveAtOnce{0};
    // Photos made row by row (streamPhoto) since this runner was made.
    std::atomic<int> photosMadeRowByRow{0};

    // The effect steps in run order: enabled or not, "Resize" steps moved to the end in
    // their own order.
    static QList<std::shared_ptr<AppliedFilter>> orderedSteps(const QList<std::shared_ptr<AppliedFilter>>& steps);

signals:
    // Emitted after the run has finished or been interrupted and its worker is gone.
    void runEnded(bool finished);

public:
    // Stop as the Stop button does, answering Yes without asking (the session is ending):
    // the photo in hand is finished or dropped with its files, and the run ends
    // interrupted. An open stop or low-space question is withdrawn.
    void stopWithoutAsking();

private:
    struct Outcome {
        int index = 0;
        int status = 0;
        QString message;
        bool committed = false;  // the photo reached its save step
        // Its file is there but could not be read: the photo is marked so, as the file was
        // then, and the output screen counts it among the errors until the file changes.
        std::optional<platform::FileStamp> unreadable;
    };

    void startWorker();
    void startWorkerThread(std::uint64_t generation, qint64 start, const std::shared_ptr<const BatchRunInput>& input,
                           const std::shared_ptr<ResultWriter>& writer);
    void processFilesInBatch(std::uint64_t generation, qint64 startIndex, const BatchRunInput& input,
                             ResultWriter& writer);
    // Where each source and planned output sits in the batch, made once per worker.
    struct PathIndex {
        QHash<QString, QList<int>> sources;       // clean and canonical source paths
        QHash<QString, QList<int>> destinations;  // planned paths
        // The classification lists, for constant-time look-ups in big batches.
        QSet<QString> emptyNames, invalidNames, duplicateNames, notFound, alreadyExists, replacesSource;
        static PathIndex of(const BatchRunInput& input);
    };
    // One photo's work on a pool thread: everything up to its encoded temporary file.
    struct PhotoWork;
    // That work stage by stage (defined with the runner).
    class PhotoStages;
    void processFileFromBunch(std::uint64_t generation, const BatchRunInput& input, const PathIndex& pathIndex,
                              ResultWriter& writer, int index, PhotoWork& work, PhotosInFlight& pool, DiskRoom& room);
    // The photo's turn in batch order; false when the run stops at it.
    bool commitPhoto(std::uint64_t generation, const BatchRunInput& input, const PathIndex& pathIndex,
                     ResultWriter& writer, int index, PhotoWork& work, PhotosInFlight& pool, DiskRoom& room);
    void checkFreeSpace(const QString& destination);
    bool shouldContinue(std::uint64_t generation) const;
    void report(std::uint64_t generation, Outcome outcome);
    // report() for a photo whose work threw, when memory may still be short.
    void reportFailure(std::uint64_t generation, const Outcome& outcome) noexcept;
    // Blocks the worker until fn has run on the runner's thread (or the runner is going away).
    void runOnMain(std::function<void()> fn);

    void callForUpdatingProgressWithCountWithProcessStatus(const Outcome& outcome);
    void stopProcessAfterCompletionCompression();
    void showEnoughSpacePopup(std::uint64_t freeBytes);
    void workerEnded(std::uint64_t generation);
    void endInterrupted();
    void endRun(bool finished);
    struct Refusal {
        int status;
        QString message;
    };
    static std::optional<Refusal> refusal(const BatchRunInput& input, const PathIndex& paths, int index,
                                          const QString& destination, const ResultWriter& writer);

    std::atomic<bool>& runFlag_;
    BatchRunObserver* observer_ = nullptr;
    BatchRunAsker* asker_ = nullptr;
    FreeSpaceProvider freeSpace_;
    double backingScale_ = 1.0;
    QSize thumbnailSize_;
    std::function<void(ResultWriter&)> writerSetUp_;
    std::function<void(const QString&)> sourceReadHook_;
    int photosInFlight_ = 0;
    std::uint64_t memoryBudget_ = 0;
    qint64 rowByRowFromPixels_ = 0;

    // Shared with the worker of the run; a new run makes new ones.
    std::shared_ptr<const BatchRunInput> input_;
    std::shared_ptr<ResultWriter> writer_;
    // The run's record in the user's data folder, from its start until it has ended and its
    // worker is gone (a start while an earlier run's worker finishes goes on in it).
    std::shared_ptr<platform::RunRecord> runRecord_;
    // The outputs the runs of this batch placed: a run starts them anew, a restore run goes
    // on with those of the runs before it, the only files it may replace in place.
    std::shared_ptr<PlacedOutputs> placedOutputs_;
    void announceEnd(bool finished);
    State state_ = State::Idle;
    std::thread worker_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<bool> shuttingDown_{false};
    // What the worker and the pool may do: go on, wait while the stop question is open
    // (the run flag is down then, yet the photos in hand are kept for a No), or stop.
    enum Go : int { GoOn, GoHeld, GoOff };
    std::atomic<int> go_{GoOff};
    void setGo(Go go);
    void holdWhileAsked() const;
    bool resumePending_ = false;
    bool interruptPending_ = false;
    bool stopWithoutAsking_ = false;
    bool questionOpen_ = false;
    // The stop and low-space questions hold the window's busy count while they are open.
    SubWindowHold questionHold_{AppDelegate::shared().isSUBWINDOW_OPENED};
    void setQuestionOpen(bool open);
};
