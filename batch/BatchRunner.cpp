#include "batch/BatchRunner.h"

#include "batch/PhotoStream.h"

#include "batch/RenameScheme.h"
#include "batch/RunMessages.h"
#include "engine/ImageProcessing.h"
#include "engine/Utils.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/UsableMemory.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppliedFilter.h"
#include "records/BatchRenameSetting.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <sys/statvfs.h>

#include <chrono>
#include <cmath>
#include <exception>
#include <future>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

namespace {

const QString kResize = QStringLiteral("Resize");
const QString kCrop = QStringLiteral("CICrop");

using platform::failureText;
using platform::isMemoryShortage;

// A photo's status when its work threw.
QString failureMessage(const std::exception_ptr& failure) noexcept {
    return isMemoryShortage(failure) ? runmessages::NotEnoughMemory : runmessages::ProcessingFailed;
}

// Removes a photo's temporary file on the way out of a failure; nothing escapes it.
void giveUp(ResultWriter::Prepared& prepared) noexcept {
    try {
        prepared.discard();
    } catch (...) {
        platform::log(u"a temporary file could not be removed");
    }
}

}  // namespace

std::optional<VolumeSpace> BatchRunner::volumeSpaceOf(const QString& folder) {
    QString path = folder;
    while (!path.isEmpty() && !QFileInfo(path).exists()) {
        const QString up = platform::stringByDeletingLastPathComponent(path);
        if (up == path) break;
        path = up;
    }
    // Asked for every photo: the file system's own figures, without looking up its mount
    // among all the system's mounts as QStorageInfo does.
    struct statvfs fs {};
    if (::statvfs(platform::encodePath(path.isEmpty() ? QDir::rootPath() : path).constData(), &fs) != 0)
        return std::nullopt;
    const std::uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    return VolumeSpace{std::uint64_t(fs.f_blocks) * unit, std::uint64_t(fs.f_bavail) * unit};
}

namespace {

// The working picture is a uniformly scaled copy of the source (to within a pixel), so
// bringing it back to the source's size cannot distort it.
bool sameProportions(const QSize& image, const QSizeF& source) {
    if (image.isEmpty() || source.width() <= 0 || source.height() <= 0) return false;
    const double expectedHeight = image.width() * source.height() / source.width();
    return std::abs(expectedHeight - image.height()) <= 1.0;
}

}  // namespace

BatchRunInput BatchRunInput::fromAppDelegate() {
    AppDelegate& app = AppDelegate::shared();
    BatchRunInput input;
    input.snapshot = app.takeRunSnapshot();
    input.fileFormats = app.arrFileFormatsSupported.isEmpty() ? AppDelegate::defaultFileFormats()
                                                              : app.arrFileFormatsSupported;
    return input;
}

BatchRunner::BatchRunner(std::atomic<bool>* runFlag, QObject* parent)
    : QObject(parent),
      runFlag_(runFlag ? *runFlag : AppDelegate::shared().isPHOTOS_PROCESSING_IN_PROGERESS),
      freeSpace_(volumeSpaceOf) {}

BatchRunner::~BatchRunner() {
    shuttingDown_ = true;
    ++generation_;
    if (state_ == State::Running || state_ == State::StopDeferred) runFlag_ = false;
    setGo(GoOff);
    if (worker_.joinable()) worker_.join();
    if (runRecord_) runRecord_->end();
}

QList<std::shared_ptr<PhotoFile>> BatchRunner::photos() const {
    return input_ ? input_->snapshot.photos : QList<std::shared_ptr<PhotoFile>>{};
}

QList<std::shared_ptr<AppliedFilter>> BatchRunner::orderedSteps(const QList<std::shared_ptr<AppliedFilter>>& steps) {
    QList<std::shared_ptr<AppliedFilter>> ordered, resizes;
    for (const auto& step : steps) {
        if (!step) continue;
        (step->filterName == kResize ? resizes : ordered).append(step);
    }
    ordered.append(resizes);
    return ordered;
}

// ---- main thread ----

void BatchRunner::startProcessingOfPhotos(BatchRunInput input) {
    if (state_ == State::Running || state_ == State::StopDeferred || state_ == State::StopAsked ||
        state_ == State::LowSpace) {
        platform::log(u"a run is already going on; the new start is ignored");
        return;
    }
    if (input.snapshot.photos.isEmpty()) {
        if (observer_) observer_->runShowsAlert(runmessages::NoPhotos);
        return;
    }
    if (input.fileFormats.isEmpty()) input.fileFormats = AppDelegate::defaultFileFormats();

    ResultWriterSettings settings;
    settings.renameSetting = input.snapshot.renameSetting;
    settings.outputSetting = input.snapshot.outputSetting;
    settings.metaDataSetting = input.snapshot.metaDataSetting;
    settings.metaDataSettingOnlyUpdatedFields = input.snapshot.metaDataSettingOnlyUpdatedFields;
    settings.autoCorrectOrientation = input.snapshot.autoCorrectOrientation;
    settings.isProcessForRestoreExif = input.isProcessForRestoreExif;
    if (!input.isProcessForRestoreExif || !placedOutputs_) placedOutputs_ = std::make_shared<PlacedOutputs>();
    settings.placedOutputs = placedOutputs_;
    if (!runRecord_) runRecord_ = platform::RunRecord::begin();
    settings.runRecord = runRecord_;
    writer_ = std::make_shared<ResultWriter>(settings);
    writer_->stopProcessAfterCompletionCompression = [this] {
        runOnMain([this] { stopProcessAfterCompletionCompression(); });
    };
    if (writerSetUp_) writerSetUp_(*writer_);
    input_ = std::make_shared<const BatchRunInput>(std::move(input));

    counterTotalProgressedFiles = counterProcessedSuccessfully = counterNotProcessed = 0;
    counterProcessedWithError = counterSkipped = 0;
    progressValue = 0;
    resumePending_ = interruptPending_ = questionOpen_ = stopWithoutAsking_ = false;
    state_ = State::Running;
    runFlag_ = true;
    setGo(GoOn);
    if (observer_) observer_->runDidStart(int(input_->snapshot.photos.size()));
    if (worker_.joinable()) {
        // The worker of an earlier run is still finishing; this run's starts when it ends.
        ++generation_;
        resumePending_ = true;
    } else {
        startWorker();
    }
}

void BatchRunner::startWorker() {
    const std::uint64_t generation = ++generation_;
    const qint64 start = std::max<qint64>(0, counterTotalProgressedFiles);
    auto input = input_;
    auto writer = writer_;
    ++workersStarted;
    try {
        startWorkerThread(generation, start, input, writer);
    } catch (...) {
        // No thread for the run (memory or the system's threads exhausted): it ends here,
        // the photos not reached left unprocessed.
        platform::log(u"the run could not start: %@", failureText(std::current_exception()));
        endRun(false);
    }
}

void BatchRunner::startWorkerThread(std::uint64_t generation, qint64 start,
                                    const std::shared_ptr<const BatchRunInput>& input,
                                    const std::shared_ptr<ResultWriter>& writer) {
    worker_ = platform::startThread([this, generation, start, input, writer] {
        const int alive = ++workersAliveAtOnce;
        int seen = maxWorkersAliveAtOnce.load();
        while (alive > seen && !maxWorkersAliveAtOnce.compare_exchange_weak(seen, alive)) {
        }
        try {
            processFilesInBatch(generation, start, *input, *writer);
        } catch (...) {
            // Each photo's failure is caught with the photo; what is left (the pool's threads
            // could not be started) ends the run's work here rather than the program.
            platform::log(u"the run could not go on: %@", failureText(std::current_exception()));
        }
        --workersAliveAtOnce;
        // The runner must hear that its worker ended, or the run never ends: tried again
        // while memory is short.
        for (int attempt = 0; attempt < 100; ++attempt) {
            try {
                platform::postQueued(this, [this, generation] { workerEnded(generation); });
                return;
            } catch (...) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        platform::log(u"the run's end could not be told");
    });
}

void BatchRunner::workerEnded(std::uint64_t generation) {
    if (worker_.joinable()) worker_.join();
    if (resumePending_) {
        resumePending_ = false;
        if (state_ == State::Running && runFlag_) {
            startWorker();
            return;
        }
    }
    if (interruptPending_) {
        interruptPending_ = false;
        // The photo in hand may have been the last one: the run then finished meanwhile,
        // and only its end is still to be announced.
        if (state_ != State::Finished) {
            endRun(false);
        } else {
            announceEnd(true);
        }
        return;
    }
    if (state_ == State::Finished || state_ == State::Interrupted) announceEnd(state_ == State::Finished);
}

void BatchRunner::announceEnd(bool finished) {
    // Its files are placed or gone: nothing of the run is left to clear after it.
    if (runRecord_) runRecord_->end();
    runRecord_.reset();
    emit runEnded(finished);
}

void BatchRunner::btnStopProcessTapped() {
    if (state_ != State::Running) return;
    if (writer_ && writer_->requestStopWhileCompression()) {
        // The optimiser cannot be interrupted; the photo in hand is dropped when it ends.
        state_ = State::StopDeferred;
        if (observer_) observer_->runShowsLoading(true, runmessages::PleaseWait);
        return;
    }
    runFlag_ = false;
    setGo(GoHeld);
    state_ = State::StopAsked;
    setQuestionOpen(true);
    if (asker_ && !stopWithoutAsking_) {
        asker_->askToStop(runmessages::StopQuestion);
    } else {
        answerStopQuestion(true);
    }
}

void BatchRunner::stopWithoutAsking() {
    stopWithoutAsking_ = true;
    switch (state_) {
    case State::Running: btnStopProcessTapped(); break;  // during compression: once it is done
    case State::StopAsked:
    case State::LowSpace:
        if (asker_) asker_->withdrawQuestion();
        answerStopQuestion(true);
        break;
    default: break;
    }
}

void BatchRunner::setQuestionOpen(bool open) {
    questionOpen_ = open;
    // The question is one sheet: it holds the window once, however it is asked again.
    if (open && questionHold_.owners() == 0) questionHold_.acquire();
    else if (!open) questionHold_.release();
}

void BatchRunner::stopProcessAfterCompletionCompression() {
    if (state_ != State::StopDeferred) return;
    if (observer_) observer_->runShowsLoading(false, runmessages::PleaseWait);
    state_ = State::Running;
    btnStopProcessTapped();
}

void BatchRunner::answerStopQuestion(bool stop) {
    if (state_ != State::StopAsked && state_ != State::LowSpace) return;
    setQuestionOpen(false);
    if (stop || state_ == State::LowSpace) {
        setGo(GoOff);
        endInterrupted();
        return;
    }
    state_ = State::Running;
    runFlag_ = true;
    setGo(GoOn);
    if (worker_.joinable()) {
        // The worker waited with its photos in hand and goes on with them. Should it have
        // ended meanwhile (a photo dropped by a stop during compression), the run goes on
        // in a new worker once it has, never beside it.
        resumePending_ = true;
    } else {
        startWorker();
    }
}

void BatchRunner::acknowledgeLowSpace() {
    if (state_ != State::LowSpace) return;
    answerStopQuestion(true);
}

void BatchRunner::endInterrupted() {
    if (worker_.joinable()) {
        // The photo in hand is finished and counted before the summary is made.
        interruptPending_ = true;
        return;
    }
    endRun(false);
}

void BatchRunner::endRun(bool finished) {
    runFlag_ = false;
    setGo(GoOff);
    const State before = state_;
    state_ = finished ? State::Finished : State::Interrupted;
    if (questionOpen_) {
        setQuestionOpen(false);
        if (asker_) asker_->withdrawQuestion();
    }
    if (before == State::StopDeferred && observer_) observer_->runShowsLoading(false, runmessages::PleaseWait);
    if (observer_) observer_->runDidEnd(finished);
    if (!worker_.joinable()) announceEnd(finished);
}

void BatchRunner::showEnoughSpacePopup(std::uint64_t freeBytes) {
    if (state_ != State::Running && state_ != State::StopDeferred) return;
    runFlag_ = false;
    setGo(GoOff);
    if (state_ == State::StopDeferred && observer_) observer_->runShowsLoading(false, runmessages::PleaseWait);
    state_ = State::LowSpace;
    setQuestionOpen(true);
    if (asker_) {
        asker_->tellLowSpace(freeBytes);
    } else {
        acknowledgeLowSpace();
    }
}

void BatchRunner::callForUpdatingProgressWithCountWithProcessStatus(const Outcome& outcome) {
    // After a stop, only the photo that was already being saved still counts; while the
    // question is open every outcome does, as the run may go on from it.
    if (go_ == GoOff && !outcome.committed) return;
    if (state_ == State::Idle || state_ == State::Finished || state_ == State::Interrupted) return;
    if (!input_ || outcome.index != counterTotalProgressedFiles) {
        platform::log(u"outcome of photo %d out of turn; ignored", outcome.index);
        return;
    }
    const qint64 count = input_->snapshot.photos.size();
    ++counterTotalProgressedFiles;
    switch (outcome.status) {
    case PhotoFile::NotProcessed: ++counterNotProcessed; break;
    case PhotoFile::Processed: ++counterProcessedSuccessfully; break;
    case PhotoFile::Failed: ++counterProcessedWithError; break;
    case PhotoFile::Skipped: ++counterSkipped; break;
    default: break;
    }
    progressValue = count > 0 ? int(counterTotalProgressedFiles * 100 / count) : 0;
    const auto& photo = input_->snapshot.photos.at(outcome.index);
    photo->processStatus = outcome.status;
    photo->processInfoMessage = outcome.message;
    if (outcome.unreadable) photo->markUnreadable(*outcome.unreadable);
    if (observer_) observer_->runDidRecordOutcome(outcome.index, photo, progressValue);
    if (counterTotalProgressedFiles == count) endRun(true);
}

// ---- worker ----

void BatchRunner::runOnMain(std::function<void()> fn) {
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    platform::postQueued(this, [fn = std::move(fn), done] {
        fn();
        done->set_value();
    });
    while (finished.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (shuttingDown_) return;
    }
}

bool BatchRunner::shouldContinue(std::uint64_t generation) const {
    return go_ != GoOff && generation_ == generation && !shuttingDown_;
}

void BatchRunner::setGo(Go go) {
    go_ = go;
    go_.notify_all();
}

void BatchRunner::holdWhileAsked() const {
    for (int go = go_.load(); go == GoHeld; go = go_.load()) go_.wait(go);
}

void BatchRunner::report(std::uint64_t generation, Outcome outcome) {
    if (!outcome.committed && generation_ != generation) return;
    runOnMain([this, outcome] { callForUpdatingProgressWithCountWithProcessStatus(outcome); });
}

void BatchRunner::reportFailure(std::uint64_t generation, const Outcome& outcome) noexcept {
    // Outcomes are recorded in batch order, so a failure that cannot be reported would hold
    // up every photo after it. Memory a failed photo held is given back as it unwinds, and
    // the other photos' work goes on, so the report is tried again for a while.
    for (int attempt = 0; attempt < 50; ++attempt) {
        try {
            report(generation, outcome);
            return;
        } catch (...) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    platform::log(u"the outcome of photo %d could not be reported", outcome.index);
}

struct BatchRunner::PhotoWork {
    // The photo as the pool reads it: a name that is not UTF-8 is read through a
    // descriptor opened by its bytes, held until the photo is dealt with.
    std::shared_ptr<PhotoFile> reading;
    std::unique_ptr<platform::ReadablePath> readable;
    // Made first, so the run shows the photo in hand while it is worked on.
    QImage thumbnail;
    std::atomic<bool> thumbnailReady{false};
    // Set only once the pool has finished with the photo:
    std::optional<Outcome> classified;  // planned output classified before the start
    std::optional<Outcome> failed;      // unreadable, a step failed, or an error
    bool stopped = false;               // the run stopped before the photo's save began
    bool saveBegun = false;
    ResultWriter::Prepared prepared;    // the encoded file, or why there is none
    std::exception_ptr costFailure;     // its output and cost could not be worked out
    // The output's extension and encoder, chosen once for the photo's cost, route and file.
    RenameScheme::SaveChoice output;
    // The source opened for the photo's cost, kept when it may be made row by row: read from
    // this one opening, and the source as it was before it was opened.
    std::unique_ptr<platform::RowSource> source;
    std::optional<platform::FileIdentity> sourceOpened;

    // Ready for another photo.
    void clear() {
        source.reset();
        sourceOpened.reset();
        thumbnail = QImage();
        thumbnailReady = false;
        classified.reset();
        failed.reset();
        stopped = saveBegun = false;
        prepared = ResultWriter::Prepared();
        costFailure = nullptr;
        reading.reset();
        readable.reset();
    }
};

PhotoStream::Limits BatchRunner::rowByRowLimits() const {
    PhotoStream::Limits limits;
    if (rowByRowFromPixels_ > 0) limits.plainFromPixels = rowByRowFromPixels_;
    return limits;
}

int BatchRunner::photoWorkers(const ResultWriter& writer) const {
    return writer.mayUseOptimiser() ? 1 : photosInFlight_ > 0 ? photosInFlight_ : PhotosInFlight::defaultWorkers();
}

QString BatchRunner::unreadableMessage(const platform::DecodeResult& decoded) {
    switch (decoded.failure) {
    case platform::DecodeFailure::OverBudget: return runmessages::TooLarge;  // whole, not damaged
    case platform::DecodeFailure::ChangedWhileRead: return runmessages::SourceChangedWhileRead;
    case platform::DecodeFailure::Missing: return runmessages::SourceGone;
    case platform::DecodeFailure::NotAFile: return runmessages::NotAPhotoFile;
    case platform::DecodeFailure::ReadError: return runmessages::DiskReadFailed;
    case platform::DecodeFailure::OutOfMemory:  // a reader stopped from outside says so in its words
        if (decoded.detail.isEmpty()) return runmessages::NotEnoughMemory;
        [[fallthrough]];
    case platform::DecodeFailure::Unsupported:
    case platform::DecodeFailure::Damaged:
        if (!decoded.detail.isEmpty()) return platform::format(runmessages::UnreadableBecause, decoded.detail);
        break;
    default: break;
    }
    return runmessages::Unreadable;
}

std::uint64_t BatchRunner::peakWorkingBytes(const platform::ImageHeader& header, const QString& extension) {
    if (!header.valid()) return 1;
    const std::uint64_t decoded = 4ull * std::uint64_t(header.width) * std::uint64_t(header.height);
    // Measured at their peak, less the program's own memory, as multiples of the decoded
    // photo: JPEG, PNG and the PDF page stay near two; TIFF and BMP keep a copy of the
    // rows in their own layout (up to 3.1); GIF its colour tables and the mapped picture
    // (up to 3.6); JPEG 2000 every sample as a 32-bit integer and its code blocks (up to 6.1).
    std::uint64_t quarters = 12;  // three decoded photos
    if (extension == u"tif" || extension == u"bmp") quarters = 14;
    else if (extension == u"gif") quarters = 16;
    else if (extension == u"jp2") quarters = 28;
    return decoded * quarters / 4;
}

void BatchRunner::processFilesInBatch(std::uint64_t generation, qint64 startIndex, const BatchRunInput& input,
                                      ResultWriter& writer) {
    const PathIndex paths = PathIndex::of(input);
    const int first = int(std::max<qint64>(0, startIndex));
    const int last = int(input.snapshot.photos.size());
    if (first >= last) return;

    PhotosInFlight::Limits limits;
    // The optimiser's stop state is one per writer, so a run that may use it takes its
    // photos one at a time.
    limits.workers = photoWorkers(writer);
    // Finished photos wait for their turn on disk, not in memory, so more may be ahead
    // than are worked on: while one slow photo (a large progressive JPEG decodes on one
    // core only) holds up the placing, the others go on to the next photos, slow ones
    // among them.
    limits.ahead = limits.workers == 1 ? 1 : 8 * limits.workers;
    limits.budgetBytes = memoryBudget_ > 0 ? memoryBudget_ : PhotosInFlight::defaultBudgetBytes();
    platform::fitHeapToAddressSpaceLimit();  // before the run's threads get their heaps

    // Declared before the pool, so the pool's threads are gone before the work they fill;
    // what was prepared and never placed is removed with it. The pool starts no photo
    // further than `ahead` past the one in hand, so that many places, taken in turn, serve
    // the whole run: its own memory does not grow with the number of photos.
    std::vector<PhotoWork> work(std::size_t(std::min(last - first, limits.ahead + 1)));
    const auto workOf = [&work, first](int i) -> PhotoWork& { return work[std::size_t(i - first) % work.size()]; };
    DiskRoom room(kLowSpaceBytes);
    const int outputFormat = BatchRenameSetting::outputFormatOf(input.snapshot.renameSetting.get());
    // The pool asks for a photo's cost once, on this thread, before it starts the photo and
    // after the photo that had its place was dealt with: the photo's output is chosen then.
    // The file is opened then, its header read for the cost, and kept open for the photo
    // when it may be made row by row.
    const PhotoStream::Limits rowsFrom = rowByRowLimits();
    auto cost = [&](int i) -> std::uint64_t {
        PhotoWork& w = workOf(i);
        try {
            const PhotoFile& photo = *input.snapshot.photos.at(i);
            w.output = RenameScheme::saveChoice(photo, outputFormat, input.fileFormats);
            const std::optional<platform::FileIdentity> before = platform::FileIdentity::of(photo.filePath);
            std::unique_ptr<platform::RowSource> source = platform::openRowSource(photo.fileURL);
            const platform::ImageHeader& header = source->header();
            const std::uint64_t bytes = peakWorkingBytes(header, w.output.extension);
            if (source->isValid() &&
                qint64(header.width) * header.height >= std::min(rowsFrom.effectFromPixels, rowsFrom.plainFromPixels)) {
                if (sourceReadHook_) sourceReadHook_(photo.fileURL);
                w.source = std::move(source);
                w.sourceOpened = before;
            }
            return bytes;
        } catch (...) {
            // The photo fails when its work begins; until then it weighs the whole budget.
            w.costFailure = std::current_exception();
            return std::numeric_limits<std::uint64_t>::max() / 2;
        }
    };
    PhotosInFlight pool(
        first, last, limits, cost,
        [&](int i) {
            PhotoWork& w = workOf(i);
            try {
                if (w.costFailure) std::rethrow_exception(w.costFailure);
                processFileFromBunch(generation, input, paths, writer, i, w, pool, room);
            } catch (...) {
                // Out of this thread it would end the program; it is this photo's failure
                // only. Nothing here may throw again: the texts are made already.
                const std::exception_ptr failure = std::current_exception();
                platform::log(u"%@: %@", input.snapshot.photos.at(i)->filePath, failureText(failure));
                giveUp(w.prepared);
                w.failed = Outcome{i, PhotoFile::Failed, failureMessage(failure), false, std::nullopt};
            }
            w.thumbnailReady = true;
        });

    for (int i = first; i < last; ++i) {
        holdWhileAsked();
        if (!shouldContinue(generation)) break;
        PhotoWork& w = workOf(i);
        bool goOn = true;
        try {
            goOn = commitPhoto(generation, input, paths, writer, i, w, pool, room);
        } catch (...) {
            const std::exception_ptr failure = std::current_exception();
            platform::log(u"%@: %@", input.snapshot.photos.at(i)->filePath, failureText(failure));
            giveUp(w.prepared);
            reportFailure(generation, {i, PhotoFile::Failed, failureMessage(failure), w.saveBegun, std::nullopt});
        }
        w.clear();
        pool.dealtWith(i);
        if (!goOn) break;
    }
    // Photos behind the one the run stopped at are dropped, encoded or not.
    pool.close();
}

BatchRunner::PathIndex BatchRunner::PathIndex::of(const BatchRunInput& input) {
    PathIndex index;
    for (qsizetype j = 0; j < input.snapshot.photos.size(); ++j) {
        const QFileInfo source(input.snapshot.photos.at(j)->filePath);
        index.sources[QDir::cleanPath(source.absoluteFilePath())].append(int(j));
        const QString canonical = source.canonicalFilePath();
        if (!canonical.isEmpty()) index.sources[canonical].append(int(j));
    }
    const auto& paths = input.snapshot.destinationPaths;
    for (qsizetype j = 0; j < paths.size(); ++j) {
        if (paths.at(j)) index.destinations[paths.at(j)->filePath].append(int(j));
    }
    index.emptyNames = QSet<QString>(input.arrayEmptyNames.begin(), input.arrayEmptyNames.end());
    index.invalidNames = QSet<QString>(input.arrayInvalidFileName.begin(), input.arrayInvalidFileName.end());
    index.duplicateNames = QSet<QString>(input.arrayDuplicateNames.begin(), input.arrayDuplicateNames.end());
    index.notFound = QSet<QString>(input.arrayFileNotFound.begin(), input.arrayFileNotFound.end());
    index.alreadyExists = QSet<QString>(input.arrayFileAlreadyExists.begin(), input.arrayFileAlreadyExists.end());
    index.replacesSource = QSet<QString>(input.arrayReplacesSource.begin(), input.arrayReplacesSource.end());
    return index;
}

std::optional<BatchRunner::Refusal> BatchRunner::refusal(const BatchRunInput& input, const PathIndex& paths,
                                                         int index, const QString& destination,
                                                         const ResultWriter& writer) {
    const auto& photos = input.snapshot.photos;
    // A rename rule's text holding "../" would lead the output out of its folder.
    if (destination.split(u'/').contains(QStringLiteral("..")))
        return Refusal{PhotoFile::Failed, runmessages::InvalidName};
    if (!platform::fileExists(photos.at(index)->filePath)) return Refusal{PhotoFile::Failed, runmessages::SourceNotFound};

    // Writing here would destroy the source of a photo that is still to come (or that
    // was passed over) before it is read.
    const QFileInfo target(destination);
    for (const QString& key : {QDir::cleanPath(target.absoluteFilePath()), target.canonicalFilePath()}) {
        for (int j : paths.sources.value(key)) {
            if (j != index && (j > index || photos.at(j)->processStatus != PhotoFile::Processed))
                return Refusal{PhotoFile::Failed, runmessages::WouldReplacePending};
        }
    }
    // Nor does a result of this run give way to another photo's.
    for (int j : paths.destinations.value(destination)) {
        if (j < index && photos.at(j)->processStatus == PhotoFile::Processed)
            return Refusal{PhotoFile::Failed, runmessages::DuplicateName};
    }

    // With overwriting off a file at the destination stays, except, for a restore run, the
    // output an earlier run of this batch placed there (still that very file). With it on,
    // the writer sends any other file to the Trash before its output takes the name.
    if (writer.keepsExisting(destination)) return Refusal{PhotoFile::Skipped, runmessages::AlreadyExists};
    return std::nullopt;
}

// One photo's work on a pool thread, stage by stage. A stage that ends the photo leaves its
// outcome in the photo's work; where the run stopped at it, it leaves none, and the photo is
// neither written nor reported.
class BatchRunner::PhotoStages {
public:
    PhotoStages(BatchRunner& runner, std::uint64_t generation, const BatchRunInput& input, ResultWriter& writer,
                int index, PhotoWork& work, DiskRoom& room);

    // The file the photo is read from (a name that is not UTF-8 read through its descriptor).
    const QString& fileURL() const { return photo_->fileURL; }
    // The thumbnail, made first so that the run shows the photo in hand while it is worked on.
    void makeThumbnail(PhotosInFlight& pool);
    // Whether its planned output was classified before the start: the photo ends with the
    // reason, the last test that holds naming it. What may have changed on disk since the
    // outputs were planned depends on the photos before this one; that is checked when its
    // turn comes.
    bool classified(const PathIndex& pathIndex);
    // Whether the run stopped: the photo ends here. While the stop question is open this
    // waits for the answer.
    bool stopped();
    // Whether the photo went the row-by-row way (a large JPEG with one row-by-row effect, a
    // lone shrinking "Resize" or no step, decoded, changed and encoded a few rows at a time):
    // its file is then made, or the photo ended there. False when it is made the usual way.
    bool madeRowByRow();
    // The picture, upright; false when the photo ends here (unreadable, changed while it
    // was read, or the run stopped).
    bool load();
    // The enabled steps in run order, each handed the picture; false when one fails or the
    // run stops.
    bool applySteps();
    // Effects that grew or shrank the picture a little are brought back to the source's size.
    void restoreSize();
    // Results are written at the working size divided by the backing scale's whole part.
    void undoBackingScale();
    // Room on the output's volume, then the file encoded under a temporary name beside its
    // destination. From here the photo's save has begun.
    void encode();

private:
    bool fail(const QString& message);
    // How the photo's file is decoded: photos decoded side by side keep each decode on its
    // own thread, where a decoder's own threads would only compete with them; with the test
    // hook when `hooked`.
    platform::DecodeOptions reading(bool hooked) const;
    // Room for `bytes` on the output's volume beside the others being written, held until the
    // result goes; null when the run stopped meanwhile (the photo ends here).
    using HeldRoom = std::unique_ptr<DiskRoom, std::function<void(DiskRoom*)>>;
    HeldRoom admitOutput(std::uint64_t bytes);

    BatchRunner& runner_;
    const std::uint64_t generation_;
    const BatchRunInput& input_;
    ResultWriter& writer_;
    const int index_;
    PhotoWork& work_;
    DiskRoom& room_;
    Utils& utils_ = Utils::sharedUtils();
    // What the source is as its picture is read: it must still be that file when it goes to
    // the Trash, and the same after the read as before it.
    const std::optional<platform::FileIdentity> sourceRead_;
    std::shared_ptr<PhotoFile> photo_;  // as it is read
    QString destination_;
    const QList<std::shared_ptr<AppliedFilter>> steps_;  // in run order
    QSizeF sourceSize_;
    QImage working_;
    bool shrunkOnLoad_ = false;
    bool resized_ = false;  // on load or by a "Resize" step
    bool cropped_ = false;
};

BatchRunner::PhotoStages::PhotoStages(BatchRunner& runner, std::uint64_t generation, const BatchRunInput& input,
                                      ResultWriter& writer, int index, PhotoWork& work, DiskRoom& room)
    : runner_(runner),
      generation_(generation),
      input_(input),
      writer_(writer),
      index_(index),
      work_(work),
      room_(room),
      sourceRead_(work.sourceOpened ? work.sourceOpened
                                    : platform::FileIdentity::of(input.snapshot.photos.at(index)->filePath)),
      photo_(input.snapshot.photos.at(index)),
      steps_(orderedSteps(input.snapshot.appliedFilters)) {
    if (platform::hasKeptBytes(photo_->fileURL)) {
        work_.readable = std::make_unique<platform::ReadablePath>(photo_->fileURL);
        photo_ = std::make_shared<PhotoFile>(*photo_);
        photo_->fileURL = work_.readable->path();
    }
    work_.reading = photo_;
    const auto& paths = input.snapshot.destinationPaths;
    if (index < paths.size() && paths.at(index)) destination_ = paths.at(index)->filePath;
}

platform::DecodeOptions BatchRunner::PhotoStages::reading(bool hooked) const {
    platform::DecodeOptions options;
    if (runner_.photoWorkers(writer_) > 1) options.decoderThreads = 0;
    if (hooked) options.whileOpen = runner_.sourceReadHook_;
    return options;
}

void BatchRunner::PhotoStages::makeThumbnail(PhotosInFlight& pool) {
    const QSize& size = runner_.thumbnailSize_;
    if (size.isValid() && !size.isEmpty()) {
        work_.thumbnail = utils_.getAspectFillImageFormImage(
            utils_.getThumbnailImageAtFilePath(photo_->fileURL, QSizeF(size), reading(false)), QSizeF(size), 1);
    }
    work_.thumbnailReady = true;
    pool.wake();
}

bool BatchRunner::PhotoStages::classified(const PathIndex& pathIndex) {
    QString skipMessage;
    // A planned path without extension is one whose name came out empty (".jpg").
    const auto& paths = input_.snapshot.destinationPaths;
    const bool blank = destination_.isEmpty() || paths.at(index_)->fileExtension.isEmpty();
    if (blank || pathIndex.emptyNames.contains(destination_)) skipMessage = runmessages::BlankName;
    if (pathIndex.invalidNames.contains(destination_)) skipMessage = runmessages::InvalidName;
    if (pathIndex.duplicateNames.contains(destination_)) skipMessage = runmessages::DuplicateName;
    if (pathIndex.replacesSource.contains(destination_)) skipMessage = runmessages::WouldReplaceSource;
    if (pathIndex.notFound.contains(photo_->filePath)) skipMessage = runmessages::SourceNotFound;
    if (!skipMessage.isEmpty()) {
        work_.classified = Outcome{index_, PhotoFile::Failed, skipMessage, false, std::nullopt};
        return true;
    }
    if (pathIndex.alreadyExists.contains(destination_)) {
        work_.classified = Outcome{index_, PhotoFile::Skipped, runmessages::AlreadyExists, false, std::nullopt};
        return true;
    }
    return false;
}

bool BatchRunner::PhotoStages::stopped() {
    runner_.holdWhileAsked();
    if (runner_.shouldContinue(generation_)) return false;
    work_.stopped = true;
    return true;
}

bool BatchRunner::PhotoStages::fail(const QString& message) {
    work_.failed = Outcome{index_, PhotoFile::Failed, message, false, std::nullopt};
    return false;
}

BatchRunner::PhotoStages::HeldRoom BatchRunner::PhotoStages::admitOutput(std::uint64_t bytes) {
    const QString folder = platform::stringByDeletingLastPathComponent(destination_);
    const auto freeBytes = [&]() -> std::optional<std::uint64_t> {
        const std::optional<VolumeSpace> space = runner_.freeSpace_ ? runner_.freeSpace_(folder) : std::nullopt;
        return space ? std::optional<std::uint64_t>(space->freeBytes) : std::nullopt;
    };
    if (!room_.admit(index_, bytes, freeBytes, [&] { return !runner_.shouldContinue(generation_); })) {
        work_.stopped = true;
        return nullptr;
    }
    return HeldRoom(&room_, [bytes](DiskRoom* room) { room->release(bytes); });
}

bool BatchRunner::PhotoStages::madeRowByRow() {
    // Opened for the photo's cost when it may go this way; let go whichever way it goes.
    const std::unique_ptr<platform::RowSource> source = std::move(work_.source);
    if (!source) return false;
    const ResultWriter::EncodedRoute route =
        writer_.encodedRoute(work_.output.saveType, destination_, *photo_, source->header());
    const PhotoStream::Decision decision =
        PhotoStream::decide(PhotoStream::Source::of(*source, utils_.getImageOriginalSizeAtFilePathUrl(photo_->fileURL)),
                            steps_, route, runner_.backingScale_, runner_.rowByRowLimits());
    if (!decision.rowByRow()) return false;

    // The file is made along with the picture, so the room for it is taken first.
    const HeldRoom held = admitOutput(outputRoomFor(decision.plan.written));
    if (!held) return true;
    bool declined = false;
    const auto write = [&](const platform::FileBytesSink& out) {
        const PhotoStream::Made made = PhotoStream::make(*source, decision.plan, route, out);
        declined = made == PhotoStream::Made::Declined;
        return made == PhotoStream::Made::Written;
    };
    ResultWriter::Prepared prepared =
        writer_.prepareEncoded(route, decision.plan.written, destination_, photo_, sourceRead_, write);
    if (declined) return false;  // made the usual way, which also says why a damaged photo fails
    work_.saveBegun = true;
    if (prepared.ready()) ++runner_.photosMadeRowByRow;
    if (platform::FileIdentity::of(photo_->filePath) != sourceRead_) {
        fail(runmessages::SourceChangedWhileRead);
        return true;
    }
    work_.prepared = std::move(prepared);
    return true;
}

bool BatchRunner::PhotoStages::load() {
    sourceSize_ = utils_.getImageOriginalSizeAtFilePathUrl(photo_->fileURL);
    // Shrink on load: a photo that is only to be shrunk to half or less is decoded at a
    // reduced scale where its format allows one that keeps its detail (see the loader),
    // and resampled from there as its "Resize" step would resample the full decode.
    if (const std::optional<QSizeF> target = PhotoStream::shrinkOnLoadTarget(steps_, sourceSize_)) {
        const QSize size(int(std::lround(target->width())), int(std::lround(target->height())));
        working_ = utils_.getImageWithFixedOrientionFromUrl(photo_->fileURL, size, reading(true));
        if (!working_.isNull()) {
            if (stopped()) return false;
            working_ = utils_.scaleImage(working_, *target);
            shrunkOnLoad_ = resized_ = true;
        }
    }
    if (!shrunkOnLoad_) {
        platform::DecodeResult loaded = utils_.loadImageWithFixedOrientionFromUrl(photo_->fileURL, reading(true));
        if (!loaded.ok()) {
            fail(unreadableMessage(loaded));
            const auto why = loaded.failure;
            if (why == platform::DecodeFailure::Damaged || why == platform::DecodeFailure::Unsupported ||
                why == platform::DecodeFailure::Empty)
                work_.failed->unreadable = platform::FileStamp::of(photo_->filePath);
            return false;
        }
        working_ = std::move(loaded.image);
    }
    // Written while it was read: the picture may be half of each.
    if (platform::FileIdentity::of(photo_->filePath) != sourceRead_) return fail(runmessages::SourceChangedWhileRead);
    return true;
}

bool BatchRunner::PhotoStages::applySteps() {
    if (shrunkOnLoad_) return true;  // its one step was made as it was loaded
    for (const auto& step : steps_) {
        if (!step->isApplied) continue;
        if (stopped()) return false;
        const QVariantList parameters = step->filterParameters;
        // Handed over: a colour adjustment or a blur is made in the photo's own storage.
        QImage result =
            utils_.applyFilterWithImage(std::move(working_), photo_->fileURL, step->filterName, parameters, false);
        if (result.isNull()) {
            const QString name = step->filterDisplayName.isEmpty() ? step->filterName : step->filterDisplayName;
            return fail(platform::format(runmessages::EffectFailed, name));
        }
        working_ = std::move(result);
        if (step->filterName == kResize) resized_ = true;
        if (step->filterName == kCrop) cropped_ = true;
    }
    return true;
}

void BatchRunner::PhotoStages::restoreSize() {
    // Only a uniform change is undone: a picture whose proportions changed (crop, quarter
    // turn) is left as it is, and so is one a "Resize" step or the loader made small.
    const bool isPict = photo_->fileExtension.toUpper() == u"PICT";
    if (!resized_ && !cropped_ && !isPict && working_.width() != qRound(sourceSize_.width()) &&
        sameProportions(working_.size(), sourceSize_)) {
        working_ = utils_.scaleImage(working_, sourceSize_);
    }
}

void BatchRunner::PhotoStages::undoBackingScale() {
    const double factor = runner_.backingScale_;
    platform::log(u"backing scale factor: %f", factor);
    const int scale = int(factor);
    if (scale >= 2) working_ = utils_.scaleImage(working_, QSizeF(working_.size()) / double(scale));
}

void BatchRunner::PhotoStages::encode() {
    // Ahead of the photo in hand, the output may be written only where the volume keeps
    // room above the low-space limit for it and the others being written.
    const HeldRoom held = admitOutput(outputRoomFor(working_.size()));
    if (!held) return;
    // From here the save has begun: when this photo's turn comes it is placed and counted,
    // even when a stop or low space came meanwhile.
    work_.saveBegun = true;
    work_.prepared = writer_.prepareImg(std::move(working_), destination_, work_.output.saveType, photo_, sourceRead_);
}

void BatchRunner::processFileFromBunch(std::uint64_t generation, const BatchRunInput& input,
                                       const PathIndex& pathIndex, ResultWriter& writer, int index, PhotoWork& work,
                                       PhotosInFlight& pool, DiskRoom& room) {
    PhotoStages photo(*this, generation, input, writer, index, work, room);
    // Read once for the thumbnail, the loading, the steps and the writer.
    const ImageProcessing::KnownProperties known(photo.fileURL(),
                                                 Utils::sharedUtils().getImageeExifDict(photo.fileURL()));
    photo.makeThumbnail(pool);
    if (photo.classified(pathIndex) || photo.stopped() || photo.madeRowByRow()) return;
    if (!photo.load() || !photo.applySteps()) return;
    photo.restoreSize();
    if (photo.stopped()) return;
    photo.undoBackingScale();
    photo.encode();
}

bool BatchRunner::commitPhoto(std::uint64_t generation, const BatchRunInput& input, const PathIndex& pathIndex,
                              ResultWriter& writer, int index, PhotoWork& work, PhotosInFlight& pool, DiskRoom& room) {
    room.setPhotoInHand(index);
    if (thumbnailSize_.isValid() && !thumbnailSize_.isEmpty()) {
        pool.waitFor(index, [&] { return work.thumbnailReady.load(); });
        if (work.thumbnailReady) {
            const QImage thumbnail = work.thumbnail;
            runOnMain([this, index, thumbnail] {
                if (observer_) observer_->runShowsPhoto(index, thumbnail);
            });
        }
    }
    if (!pool.waitFor(index)) return false;

    if (work.classified) {
        report(generation, *work.classified);
        return true;
    }
    const auto& paths = input.snapshot.destinationPaths;
    const QString destination = index < paths.size() && paths.at(index) ? paths.at(index)->filePath : QString();
    // Checked in batch order, against the outcomes of the photos before this one.
    if (const auto refused = refusal(input, pathIndex, index, destination, writer)) {
        report(generation, {index, refused->status, refused->message, false, std::nullopt});
        return true;
    }
    if (work.stopped) return false;
    if (work.failed) {
        report(generation, *work.failed);
        return true;
    }
    if (!work.saveBegun) return false;
    // A stop during compression: the photo's file is gone and it is not reported.
    if (work.prepared.result.abandoned) return false;

    checkFreeSpace(destination);
    const ResultWriter::Result result =
        writer.placePrepared(work.prepared, destination, work.reading ? work.reading : input.snapshot.photos.at(index));
    report(generation, {index, result.processStatus, result.processInfoMessage, true, std::nullopt});
    return true;
}

void BatchRunner::checkFreeSpace(const QString& destination) {
    const QString destinationFolder = platform::stringByDeletingLastPathComponent(destination);
    if (const std::optional<VolumeSpace> space = freeSpace_ ? freeSpace_(destinationFolder) : std::nullopt) {
        platform::log(u"Memory Capacity of %llu MiB with %llu MiB Free memory available.",
                      qulonglong(space->totalBytes >> 20), qulonglong(space->freeBytes >> 20));
        if (space->freeBytes < kLowSpaceBytes) {
            const std::uint64_t freeBytes = space->freeBytes;
            runOnMain([this, freeBytes] { showEnoughSpacePopup(freeBytes); });
        }
    } else {
        platform::log(u"Error Obtaining System Memory Info: Domain = %@, Code = %d", destinationFolder, 0);
    }
}
