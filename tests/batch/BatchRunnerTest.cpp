#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QDirIterator>
#include <QTimer>
#include <QUrl>
#include <future>

#include "batch/BatchRunner.h"
#include "batch/OutputPlanner.h"
#include "batch/RenameScheme.h"
#include "batch/RunMessages.h"
#include "engine/Utils.h"
#include "platform/foundation/HandOver.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/foundation/Values.h"
#include "records/AppliedFilter.h"
#include "records/OutputPhotoPath.h"
#include "records/SubWindowHold.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"

namespace {

using batchtest::outputSettings;
using batchtest::renameSettings;

using batchtest::Asker;
using batchtest::Batch;
using batchtest::Recorder;
using batchtest::RunHarness;

std::shared_ptr<AppliedFilter> step(const QString& name, QVariantList params = {}) {
    return AppliedFilter::initWithFilterName(name, name, params, QImage(), nullptr);
}

QVariantList list(std::initializer_list<std::pair<const char*, QVariant>> entries) {
    QVariantList out;
    for (const auto& [k, v] : entries) out << QVariantMap{{k, v}};
    return out;
}

// Asks the run to stop when the second photo is shown.
struct StopAtSecond : Recorder {
    BatchRunner* runner = nullptr;
    void runShowsPhoto(int index, const QImage&) override {
        if (index == 1) runner->btnStopProcessTapped();
    }
};

// Every photo's file and status agree: an output exists exactly for the photos counted
// as processed.
void expectNothingHalfDone(const Batch& b, const BatchRunInput& in) {
    for (qsizetype i = 0; i < b.photos.size(); ++i) {
        const bool written = QFileInfo::exists(in.snapshot.destinationPaths[i]->filePath);
        EXPECT_EQ(written, b.photos[i]->processStatus == PhotoFile::Processed) << "photo " << i;
        EXPECT_TRUE(QFileInfo::exists(b.photos[i]->filePath)) << "source of photo " << i;
    }
}

TEST(BatchRunner, EmptyBatchOnlyShowsTheAlert) {
    RunHarness run;
    run.runner.startProcessingOfPhotos(BatchRunInput{});
    EXPECT_EQ(run.recorder.alerts, QStringList{runmessages::NoPhotos});
    EXPECT_EQ(run.runner.state(), BatchRunner::State::Idle);
    EXPECT_FALSE(run.runner.isWorkerAlive());
    EXPECT_FALSE(run.flag);
}

TEST(BatchRunner, ClassifiedPhotosAreReportedAndOthersWritten) {
    Batch b(7);
    QFile::remove(b.photos[5]->filePath);  // gone since planning
    testsupport::writeFile(b.dir.filePath("src/p6.jpg"), "not a picture");
    BatchRunInput in = b.input();
    const auto path = [&](int i) { return in.snapshot.destinationPaths[i]->filePath; };
    in.arrayEmptyNames << path(0);
    in.arrayInvalidFileName << path(1);
    in.arrayDuplicateNames << path(1) << path(2);  // duplicate wins over invalid
    in.arrayFileAlreadyExists << path(3);
    RunHarness run;
    ASSERT_TRUE(run.start(in));

    struct Expect {
        int status;
        QString message;
    } expected[] = {{2, runmessages::BlankName},      {2, runmessages::DuplicateName}, {2, runmessages::DuplicateName},
                    {3, runmessages::AlreadyExists},  {1, runmessages::Processed},     {2, runmessages::SourceNotFound},
                    {2, runmessages::Unreadable}};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(b.photos[i]->processStatus, expected[i].status) << i;
        EXPECT_EQ(b.photos[i]->processInfoMessage, expected[i].message) << i;
        EXPECT_EQ(QFileInfo::exists(path(i)), i == 4) << i;
    }
    EXPECT_EQ(run.recorder.rows, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(run.recorder.progress.last(), 100);
    EXPECT_TRUE(run.recorder.finished);
    EXPECT_EQ(run.runner.counterProcessedSuccessfully, 1);
    EXPECT_EQ(run.runner.counterProcessedWithError, 5);
    EXPECT_EQ(run.runner.counterSkipped, 1);
    EXPECT_FALSE(run.flag);
}

TEST(BatchRunner, ResizeStepsRunLastInTheirOrder) {
    const QList<std::shared_ptr<AppliedFilter>> steps{step("A"), step("Resize", list({{"resizedWidth", 1}})),
                                                      step("B"), step("Resize", list({{"resizedWidth", 2}})),
                                                      step("C")};
    const auto ordered = BatchRunner::orderedSteps(steps);
    ASSERT_EQ(ordered.size(), 5);
    EXPECT_EQ(ordered[0], steps[0]);
    EXPECT_EQ(ordered[1], steps[2]);
    EXPECT_EQ(ordered[2], steps[4]);
    EXPECT_EQ(ordered[3], steps[1]);
    EXPECT_EQ(ordered[4], steps[3]);
}

TEST(BatchRunner, OutputSizeAfterCropResizeAndScreenScale) {
    struct Case {
        const char* label;
        QList<std::shared_ptr<AppliedFilter>> steps;
        double backingScale;
        QSize expected;
    } cases[] = {
        {"crop keeping proportions is not blown up again",
         {step("CICrop", list({{"inputRectangle", QVariant::fromValue(platform::Vec(0.0, 0.0, 0.5, 0.5))}}))},
         1.0, QSize(80, 60)},
        {"crop changing proportions is not stretched",
         {step("CICrop", list({{"inputRectangle", QVariant::fromValue(platform::Vec(0.25, 0.5, 0.5, 0.25))}}))},
         1.0, QSize(80, 30)},
        {"resize", {step("Resize", list({{"resizedWidth", 100}, {"resizedHeight", 40}}))}, 1.0, QSize(100, 40)},
        {"switched-off step", {[] { auto s = step("Resize", list({{"resizedWidth", 100}, {"resizedHeight", 40}}));
                                    s->isApplied = false;
                                    return s; }()},
         1.0, QSize(160, 120)},
        {"screen scale 2 halves", {}, 2.0, QSize(80, 60)},
    };
    for (const Case& c : cases) {
        Batch b(1);
        b.steps = c.steps;
        RunHarness run;
        run.runner.setBackingScaleFactor(c.backingScale);
        const BatchRunInput in = b.input();
        ASSERT_TRUE(run.start(in)) << c.label;
        EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << c.label;
        EXPECT_EQ(platform::readImage(in.snapshot.destinationPaths[0]->filePath).size(), c.expected) << c.label;
    }
}

TEST(BatchRunner, OutputThatWouldReplaceALaterPhotoIsRefused) {
    // a.png is written as a.jpg beside its source, where the batch's a.jpg still waits.
    QTemporaryDir dir;
    const QString png = batchtest::writePhoto(dir.filePath("a.png"), 64, 48, platform::ImageType::PNG);
    const QString jpg = batchtest::writePhoto(dir.filePath("a.jpg"), 64, 48);
    QFile original(jpg);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray originalBytes = original.readAll();
    original.close();

    Batch b(0);
    b.photos = {batchtest::photoAt(png), batchtest::photoAt(jpg)};
    b.rename = renameSettings(4);
    b.output = outputSettings(dir.path(), false, true);
    b.output->useSourceFolder = true;
    const BatchRunInput in = b.input();
    ASSERT_EQ(in.snapshot.destinationPaths[0]->filePath, jpg);
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[0]->processInfoMessage, runmessages::WouldReplacePending);
    // The later photo was read from its own, untouched file and then written over it.
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Processed);
    QFile rewritten(jpg);
    ASSERT_TRUE(rewritten.open(QIODevice::ReadOnly));
    EXPECT_NE(rewritten.readAll(), originalBytes);
}

// The main thread records outcomes after the worker has gone on to the next photos; a
// slow one (a busy screen) must still get every outcome in batch order before the summary,
// and the worker's checks must not read records it has not updated yet.
TEST(BatchRunner, UnclassifiedSharedPlannedPathKeepsTheFirstResultHoweverSlowTheMainThread) {
    for (int recordMs : {0, 30}) {
        SCOPED_TRACE(recordMs);
        Batch b(4);
        b.output->owerwriteExistingFiles = true;
        b.rename->flagRenamingMode = 1;
        b.rename->dictReplaceFileName = {{"State", true}, {"New Name", "same"}};
        b.rename->dictUseLowerCaseForFileExtension = {{"State", true}};
        const BatchRunInput in = b.input();  // no classification handed over
        ASSERT_EQ(in.snapshot.destinationPaths[0]->filePath, in.snapshot.destinationPaths[3]->filePath);
        struct Slow : Recorder {
            int recordMs = 0;
            qsizetype rowsAtEnd = -1;
            void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& p, int progress) override {
                QThread::msleep(recordMs);
                Recorder::runDidRecordOutcome(row, p, progress);
            }
            void runDidEnd(bool f) override {
                rowsAtEnd = rows.size();
                Recorder::runDidEnd(f);
            }
        } recorder;
        recorder.recordMs = recordMs;
        RunHarness run;
        run.runner.setObserver(&recorder);
        ASSERT_TRUE(run.start(in));
        EXPECT_EQ(recorder.rows, (QList<int>{0, 1, 2, 3}));
        EXPECT_EQ(recorder.rowsAtEnd, 4);
        EXPECT_EQ(recorder.progress, (QList<int>{25, 50, 75, 100}));
        EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Failed) << i;
            EXPECT_EQ(b.photos[i]->processInfoMessage, runmessages::DuplicateName) << i;
        }
    }
}

TEST(BatchRunner, FileAppearingAfterPlanningIsNotReplaced) {
    Batch b(2);
    const BatchRunInput in = b.input();
    testsupport::writeFile(in.snapshot.destinationPaths[1]->filePath, "keep me");
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Skipped);
    EXPECT_EQ(b.photos[1]->processInfoMessage, runmessages::AlreadyExists);
    QFile kept(in.snapshot.destinationPaths[1]->filePath);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
}

TEST(BatchRunner, LowSpaceEndsTheRunAfterThePhotoInHandIsWrittenAndCounted) {
    struct Case {
        std::uint64_t freeBytes;
        bool low;
    } cases[] = {{105906176, false}, {105906175, true}};
    for (const Case& c : cases) {
        Batch b(4);
        RunHarness run;
        std::atomic<int> calls{0};
        const BatchRunInput in = b.input();
        run.runner.setFreeSpaceProvider([&](const QString&) {
            // Space runs short once the first output is there: while the second photo is in hand.
            const bool short_ = QFileInfo::exists(in.snapshot.destinationPaths[0]->filePath);
            return VolumeSpace{1ull << 40, short_ ? c.freeBytes : (1ull << 39)};
        });
        ASSERT_TRUE(run.start(in));
        EXPECT_EQ(run.asker.lowSpace, c.low ? 1 : 0);
        EXPECT_EQ(run.recorder.finished, !c.low);
        EXPECT_EQ(run.runner.counterProcessedSuccessfully, c.low ? 2 : 4);
        EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Processed);
        expectNothingHalfDone(b, in);
    }
}

TEST(BatchRunner, StopThenYesLeavesEveryPhotoWrittenAndCountedOrUntouched) {
    Batch b(6, 900, 700);
    b.steps = {step("CIGaussianBlur", list({{"inputRadius", 0.01}}))};
    RunHarness run;
    // Stopped once the second photo is in hand: the photos ahead of it may all be encoded
    // by then, so a stop that waited for an outcome could come after the last one.
    StopAtSecond recorder;
    recorder.runner = &run.runner;
    run.runner.setObserver(&recorder);
    run.runner.setThumbnailSize(QSize(30, 20));
    const BatchRunInput in = b.input();
    ASSERT_TRUE(run.start(in));
    EXPECT_EQ(run.asker.stopQuestions, 1);
    EXPECT_FALSE(recorder.finished);
    EXPECT_EQ(run.runner.state(), BatchRunner::State::Interrupted);
    EXPECT_LT(run.runner.counterTotalProgressedFiles, 6);
    expectNothingHalfDone(b, in);
}

TEST(BatchRunner, NoToTheStopQuestionGoesOnWithThePhotoInHand) {
    // The second photo is large, so it is still being worked on when its turn comes and
    // the stop is asked; the first shows of it ask again, as a user might.
    Batch b(4, 200, 150);
    batchtest::writePhoto(b.photos[1]->filePath, 4000, 3000);
    b.steps = {step("CIGaussianBlur", list({{"inputRadius", 20.0}}))};
    struct Shows : Recorder {
        BatchRunner* runner = nullptr;
        QList<int> shown;
        void runShowsPhoto(int index, const QImage&) override {
            shown << index;
            if (index == 1 && shown.count(1) <= 3) runner->btnStopProcessTapped();
        }
    };
    RunHarness run;
    Shows shows;
    shows.runner = &run.runner;
    run.runner.setObserver(&shows);
    run.runner.setThumbnailSize(QSize(30, 20));
    run.asker.onStop = [&] { run.runner.answerStopQuestion(false); };
    const BatchRunInput in = b.input();
    ASSERT_TRUE(run.start(in));
    EXPECT_TRUE(shows.finished);
    EXPECT_EQ(shows.shown, (QList<int>{0, 1, 2, 3})) << "a photo dropped at the question and worked on again";
    EXPECT_EQ(run.asker.stopQuestions, 1);
    EXPECT_EQ(run.runner.counterProcessedSuccessfully, 4);
    EXPECT_EQ(platform::readImageHeader(in.snapshot.destinationPaths[1]->filePath).width, 4000);
    expectNothingHalfDone(b, in);
}

TEST(BatchRunner, ItsQuestionsHoldTheWindowOnlyWhileOpenHoweverTheyClose) {
    std::atomic<bool>& open = AppDelegate::shared().isSUBWINDOW_OPENED;
    enum class Close { Yes, No, LowSpaceAcknowledged, RunnerGone };
    for (const Close how : {Close::Yes, Close::No, Close::LowSpaceAcknowledged, Close::RunnerGone}) {
        SCOPED_TRACE(int(how));
        open = false;
        // Another sheet of the screen, open all along: closing the question must not free
        // the window under it.
        SubWindowHold other(open);
        other.acquire();
        int holdsWhileAsked = 0;
        {
            struct CountingAsker : Asker {
                std::atomic<bool>* flag = nullptr;
                int* holds = nullptr;
                void tellLowSpace(std::uint64_t bytes) override {
                    *holds = SubWindowHold::holdsOn(*flag);
                    Asker::tellLowSpace(bytes);
                }
            };
            Batch b(4, 400, 300);
            b.steps = {step("CIGaussianBlur", list({{"inputRadius", 0.01}}))};
            RunHarness run;
            CountingAsker asker;
            asker.runner = &run.runner;
            asker.flag = &open;
            asker.holds = &holdsWhileAsked;
            run.runner.setAsker(&asker);
            StopAtSecond stopper;
            stopper.runner = &run.runner;
            run.runner.setThumbnailSize(QSize(30, 20));
            if (how == Close::LowSpaceAcknowledged) {
                run.runner.setFreeSpaceProvider([](const QString&) { return VolumeSpace{1ull << 40, 1024}; });
            } else {
                run.runner.setObserver(&stopper);
                asker.onStop = [&] {
                    holdsWhileAsked = SubWindowHold::holdsOn(open);
                    if (how == Close::Yes || how == Close::No) run.runner.answerStopQuestion(how == Close::Yes);
                };
            }
            if (how == Close::RunnerGone) {
                run.runner.startProcessingOfPhotos(b.input());
                ASSERT_TRUE(batchtest::waitUntil([&] { return asker.stopQuestions == 1; }));
                EXPECT_TRUE(open);
            } else {
                ASSERT_TRUE(run.start(b.input()));
                EXPECT_EQ(run.recorder.finished || stopper.finished, how == Close::No);
            }
        }
        EXPECT_EQ(holdsWhileAsked, 2) << "the question held the window beside the other sheet";
        EXPECT_EQ(SubWindowHold::holdsOn(open), 1);
        EXPECT_TRUE(open) << "the other sheet still holds it";
        other.release();
        EXPECT_FALSE(open);
    }
}

TEST(BatchRunner, QuickStopsAndResumesGoOnInTheOneWorkerAndProcessEveryPhotoOnce) {
    Batch b(10, 400, 300);
    b.steps = {step("CIGaussianBlur", list({{"inputRadius", 0.01}}))};
    RunHarness run;
    int toggles = 0;
    // Every stop is answered No on the next turn of the event loop.
    run.asker.onStop = [&] {
        ++toggles;
        QTimer::singleShot(0, &run.runner, [&] { run.runner.answerStopQuestion(false); });
    };
    QTimer hammer;
    QObject::connect(&hammer, &QTimer::timeout, [&] {
        if (toggles >= 25) hammer.stop();
        else run.runner.btnStopProcessTapped();
    });
    hammer.start(3);
    const BatchRunInput in = b.input();
    ASSERT_TRUE(run.start(in));
    hammer.stop();
    EXPECT_GT(toggles, 0);
    // The photos in hand waited for each answer: none was dropped and worked on again.
    EXPECT_EQ(run.runner.workersStarted.load(), 1);
    EXPECT_EQ(run.runner.maxWorkersAliveAtOnce.load(), 1);
    EXPECT_TRUE(run.recorder.finished);
    EXPECT_EQ(run.recorder.rows, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(run.runner.counterProcessedSuccessfully, 10);
    expectNothingHalfDone(b, in);
}

TEST(BatchRunner, StopDuringCompressionWaitsThenNoWritesThatPhotoAgain) {
    struct Loading : Recorder {
        QStringList shown;
        void runShowsLoading(bool show, const QString& text) override { shown << (show ? "+" : "-") + text; }
    };
    Batch b(2, 900, 700);
    b.rename->isSetCompression = true;
    RunHarness run;
    Loading loading;
    run.runner.setObserver(&loading);
    ResultWriter* writer = nullptr;
    run.runner.setWriterSetUp([&](ResultWriter& w) { writer = &w; });
    run.asker.onStop = [&] { QTimer::singleShot(0, &run.runner, [&] { run.runner.answerStopQuestion(false); }); };
    bool stopped = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!stopped && writer && writer->isCompressionInProgress()) {
            stopped = true;
            run.runner.btnStopProcessTapped();
            EXPECT_EQ(run.runner.state(), BatchRunner::State::StopDeferred);
            EXPECT_TRUE(run.flag);  // the run goes on until the optimiser is done
        }
    });
    poll.start(1);
    const BatchRunInput in = b.input();
    ASSERT_TRUE(run.start(in));
    ASSERT_TRUE(stopped);
    EXPECT_EQ(loading.shown, (QStringList{"+" + runmessages::PleaseWait, "-" + runmessages::PleaseWait}));
    EXPECT_EQ(run.asker.stopQuestions, 1);
    EXPECT_TRUE(loading.finished);
    EXPECT_EQ(run.runner.counterProcessedSuccessfully, 2);
    EXPECT_EQ(loading.rows, (QList<int>{0, 1}));
    expectNothingHalfDone(b, in);
}

// Stopped without a question (the session ending): as Stop and Yes, whether the run was
// going, its stop question was open (withdrawn now), or the optimiser ran (its photo
// dropped once it is done); nothing is left half done, and the run's record is gone.
TEST(BatchRunner, StoppedWithoutAskingEndsAsAYesToTheStopWould) {
    enum class When { Going, QuestionOpen, Compressing };
    for (const When when : {When::Going, When::QuestionOpen, When::Compressing}) {
        SCOPED_TRACE(int(when));
        Batch b(4, 640, 480);
        b.rename->isSetCompression = when == When::Compressing;
        RunHarness run;
        run.runner.setThumbnailSize(QSize(30, 20));
        run.asker.onStop = [] {};  // the question stays open
        ResultWriter* writer = nullptr;
        run.runner.setWriterSetUp([&](ResultWriter& w) { writer = &w; });
        struct AtSecond : Recorder {
            std::function<void()> act;
            void runShowsPhoto(int index, const QImage&) override {
                if (index == 1 && act) std::exchange(act, nullptr)();
            }
        } recorder;
        run.runner.setObserver(&recorder);
        if (when == When::Going) recorder.act = [&] { run.runner.stopWithoutAsking(); };
        if (when == When::QuestionOpen) {
            recorder.act = [&] {
                run.runner.btnStopProcessTapped();
                QTimer::singleShot(0, &run.runner, [&] { run.runner.stopWithoutAsking(); });
            };
        }
        bool stopped = when != When::Compressing;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (stopped || !writer || !writer->isCompressionInProgress()) return;
            stopped = true;
            run.runner.stopWithoutAsking();
            EXPECT_EQ(run.runner.state(), BatchRunner::State::StopDeferred);
        });
        poll.start(1);
        const BatchRunInput in = b.input();
        ASSERT_TRUE(run.start(in));
        ASSERT_TRUE(stopped);
        EXPECT_EQ(run.runner.state(), BatchRunner::State::Interrupted);
        EXPECT_EQ(run.asker.stopQuestions, when == When::QuestionOpen ? 1 : 0);
        EXPECT_EQ(run.asker.withdrawn, when == When::QuestionOpen ? 1 : 0);
        EXPECT_LT(run.runner.counterTotalProgressedFiles, 4);
        expectNothingHalfDone(b, in);
        EXPECT_EQ(QDir(b.dir.filePath("out")).entryList({".brisko-part-*"}, QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(QDir(platform::RunRecord::recordsFolder()).entryList(QDir::Files), QStringList());
    }
}

TEST(BatchRunner, MoveModeTrashesEverySourceOnceItsOutputIsInPlace) {
    batchtest::TrashInTemp trash;
    Batch b(3);
    b.output->moveAndRenameToDestinationFolder = true;
    b.rename = renameSettings(8);  // one PDF per photo
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << i;
        EXPECT_TRUE(QFileInfo::exists(b.out(QString("p%1.pdf").arg(i)))) << i;
        EXPECT_FALSE(QFileInfo::exists(b.photos[i]->filePath)) << i;
        EXPECT_TRUE(QFileInfo::exists(trash.filesFolder() + QString("/p%1.jpg").arg(i))) << i;
    }
}

}  // namespace

namespace {

// The restore run goes over the same planned outputs as the run before it, on the same
// runner as the summary's button starts it: it replaces in place what that run wrote, and
// leaves alone a file that existed before it and one put in an output's place since.
TEST(BatchRunner, RestoreRunReplacesThePreviousOutputsButNotOlderFiles) {
    Batch b(3);
    BatchRunInput first = b.input();
    testsupport::writeFile(first.snapshot.destinationPaths[2]->filePath, "older file");
    first.arrayFileAlreadyExists << first.snapshot.destinationPaths[2]->filePath;
    RunHarness run;
    ASSERT_TRUE(run.start(first));
    ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
    ASSERT_EQ(b.photos[1]->processStatus, PhotoFile::Processed);
    const QString out0 = first.snapshot.destinationPaths[0]->filePath;
    const QString out1 = first.snapshot.destinationPaths[1]->filePath;
    const std::optional<platform::FileIdentity> written = platform::FileIdentity::of(out0);
    QFile::remove(out1);
    testsupport::writeFile(out1, "the user's file");

    BatchRunInput restore = first;
    restore.isProcessForRestoreExif = true;
    run.ended = false;
    ASSERT_TRUE(run.start(restore));
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << b.photos[0]->processInfoMessage.toStdString();
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Skipped);
    EXPECT_EQ(b.photos[2]->processStatus, PhotoFile::Skipped);
    EXPECT_NE(platform::FileIdentity::of(out0), written) << "the restore run's picture replaced the old output";
    EXPECT_FALSE(platform::readImage(out0).isNull());
    EXPECT_EQ(testsupport::readFile(out1), "the user's file");
    EXPECT_EQ(testsupport::readFile(first.snapshot.destinationPaths[2]->filePath), "older file");
}

// With overwriting on, a restore run after a run that did not write every photo (a source
// gone for a moment, a run stopped at once) finds the user's file at such a photo's
// destination: it goes to the Trash, restorable, as in any run; only what the first run
// placed is replaced in place.
TEST(BatchRunner, ARestoreRunSendsTheUsersFileWhereTheFirstRunWroteNothingToTheTrash) {
    enum class First { SourceGone, StoppedAtOnce };
    for (const First how : {First::SourceGone, First::StoppedAtOnce}) {
        SCOPED_TRACE(how == First::SourceGone ? "the third source gone during the first run" : "stopped at once");
        batchtest::TrashInTemp trash;
        Batch b(3);
        b.output->owerwriteExistingFiles = true;
        BatchRunInput first = b.input();
        const QString users = first.snapshot.destinationPaths[2]->filePath;
        testsupport::writeFile(users, "the user's file");
        const QString source = b.photos[2]->filePath;
        RunHarness run;
        if (how == First::SourceGone) {
            ASSERT_TRUE(QFile::rename(source, source + ".away"));
            ASSERT_TRUE(run.start(first));
            ASSERT_TRUE(QFile::rename(source + ".away", source));
            ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
            ASSERT_EQ(b.photos[2]->processStatus, PhotoFile::Failed);
        } else {
            run.runner.startProcessingOfPhotos(first);
            run.runner.stopWithoutAsking();
            ASSERT_TRUE(batchtest::waitUntil([&] { return run.ended; }, 120000));
            ASSERT_NE(b.photos[2]->processStatus, PhotoFile::Processed);
        }
        ASSERT_EQ(testsupport::readFile(users), "the user's file");
        QStringList placedFirst;
        for (int i = 0; i < 2; ++i) {
            if (b.photos[i]->processStatus == PhotoFile::Processed) placedFirst << b.out(QString("p%1.png").arg(i));
        }

        BatchRunInput restore = first;
        restore.isProcessForRestoreExif = true;
        run.ended = false;
        ASSERT_TRUE(run.start(restore));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << i << b.photos[i]->processInfoMessage.toStdString();
        EXPECT_FALSE(platform::readImage(users).isNull());
        // The user's file is in the Trash, to be put back where it was; the first run's
        // outputs were replaced in place.
        EXPECT_EQ(QDir(trash.filesFolder()).entryList(QDir::Files), QStringList{"p2.png"}) << placedFirst.join(' ').toStdString();
        EXPECT_EQ(testsupport::readFile(trash.filesFolder() + "/p2.png"), "the user's file");
        const QByteArray info = testsupport::readFile(trash.infoFolder() + "/p2.png.trashinfo");
        EXPECT_TRUE(info.contains("\nPath=" + QUrl::toPercentEncoding(users, "/") + "\n")) << info.toStdString();
        EXPECT_TRUE(info.contains("\nDeletionDate=")) << info.toStdString();
    }
}

}  // namespace

TEST(BatchRunner, PhotosOnlyShrunkAreTheFullDecodeResampled) {
    // A real 2560 x 1600 photo shrunk, written as PNG so the pictures compare as made. A
    // reduced decode that landed on the target (a half, a quarter, an eighth) used to be the
    // output as it came from the decoder, well under 50 dB from the full decode resampled.
    struct Case {
        const char* label;
        QVariantList params;
        QSize output;
        QSize decoded;  // what the reduced load gives; empty: the full decode is kept
    } const cases[] = {
        {"half", list({{"resizedWidth", 1280}, {"resizedHeight", 800}}), QSize(1280, 800), QSize(0, 0)},
        {"30 %", list({{"resizedWidth", 768}, {"resizedHeight", 480}}), QSize(768, 480), QSize(0, 0)},
        {"quarter", list({{"resizedWidth", 640}, {"resizedHeight", 400}}), QSize(640, 400), QSize(0, 0)},
        {"eighth", list({{"resizedWidth", 320}, {"resizedHeight", 200}}), QSize(320, 200), QSize(1280, 800)},
        {"percentages, a tenth", list({{"isPercentBaseResize", 1}, {"percentWidth", 10}, {"percentHeight", 10}}),
         QSize(256, 160), QSize(1280, 800)},
        {"stretched", list({{"resizedWidth", 300}, {"resizedHeight", 120}}), QSize(300, 120), QSize(1280, 800)},
        {"a sixteenth", list({{"resizedWidth", 160}, {"resizedHeight", 100}}), QSize(160, 100), QSize(640, 400)},
    };
    Utils& utils = Utils::sharedUtils();
    const QString aqua = testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Aqua.jpg");
    const QImage decoded = utils.getImageWithFixedOrientionFromUrl(aqua);
    ASSERT_EQ(decoded.size(), QSize(2560, 1600));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Batch b(0);
        b.photos << batchtest::photoAt(aqua);
        b.rename = renameSettings(6);
        b.steps = {step("Resize", c.params)};
        EXPECT_EQ(utils.getImageWithFixedOrientionFromUrl(aqua, c.output).size(), c.decoded);
        RunHarness run;
        const BatchRunInput in = b.input();
        ASSERT_TRUE(run.start(in));
        ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
        const QImage written = platform::readImage(in.snapshot.destinationPaths[0]->filePath);
        const QImage full = utils.applyFilterWithImage(decoded, aqua, "Resize", c.params, false);
        ASSERT_EQ(written.size(), c.output);
        ASSERT_EQ(full.size(), c.output);
        EXPECT_GE(testsupport::psnr(written, full), 50.0);
    }
}

// ---- photos in flight ----

namespace {

// Temporary outputs left anywhere under a folder.
QStringList leftoverTemporaries(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains("brisko-part-")) found << path;
    }
    return found;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A mixed batch: photos of several sizes and both orientations, one unreadable, one
// missing, one classified as existing, one whose output would replace a later photo's
// source, two sharing an unclassified planned path, with effects that grow the picture.
struct MixedBatch {
    Batch b{0};
    BatchRunInput in;
    explicit MixedBatch(int outputFormat) {
        const QSize sizes[] = {{320, 240}, {200, 300}, {640, 480}, {90, 60}, {480, 320}, {300, 300}, {520, 260}};
        for (int i = 0; i < 7; ++i)
            b.photos << batchtest::photoAt(batchtest::writePhoto(b.dir.filePath(QString("src/p%1.jpg").arg(i)),
                                                                sizes[i].width(), sizes[i].height()));
        testsupport::writeFile(b.dir.filePath("src/broken.jpg"), "not a picture");
        b.photos.insert(3, batchtest::photoAt(b.dir.filePath("src/broken.jpg")));
        b.photos << batchtest::photoAt(batchtest::writePhoto(b.dir.filePath("src/gone.jpg")));
        // Written as p9.jpg beside the sources, where the later p9.jpg still waits.
        b.photos << batchtest::photoAt(batchtest::writePhoto(b.dir.filePath("src/p9.png"), 120, 90,
                                                             platform::ImageType::PNG));
        b.photos << batchtest::photoAt(batchtest::writePhoto(b.dir.filePath("src/p9.jpg"), 150, 100));
        b.rename = renameSettings(outputFormat);
        b.output = outputSettings(b.dir.filePath("out"), false, true);
        b.steps = {step("CIGaussianBlur", list({{"inputRadius", 3.0}})), step("CISepiaTone", list({{"inputIntensity", 0.6}}))};
        in = b.input();
        // The last two go to the sources' folder under the sources' names.
        for (int i : {int(b.photos.size()) - 2, int(b.photos.size()) - 1}) {
            auto path = std::make_shared<OutputPhotoPath>(*in.snapshot.destinationPaths[i]);
            path->filePath = b.dir.filePath("src/p9.jpg");
            in.snapshot.destinationPaths[i] = path;
        }
        // Two photos meet at one planned path that nobody classified.
        auto shared = std::make_shared<OutputPhotoPath>(*in.snapshot.destinationPaths[5]);
        in.snapshot.destinationPaths[6] = shared;
        in.arrayFileAlreadyExists << in.snapshot.destinationPaths[2]->filePath;
        QFile::remove(b.dir.filePath("src/gone.jpg"));
    }
};

}  // namespace

TEST(BatchRunner, OneOrManyPhotosInFlightGiveTheSameFilesAndOutcomes) {
    for (int outputFormat : {4, 6}) {
        SCOPED_TRACE(outputFormat);
        QList<QByteArray> files[3];
        QStringList outcomes[3];
        int run = 0;
        // One at a time; six at once; six workers with a budget that lets each photo run alone.
        for (auto [inFlight, budget] : {std::pair{1, 0ull}, std::pair{6, 0ull}, std::pair{6, 1ull}}) {
            MixedBatch m(outputFormat);
            RunHarness h;
            h.runner.setPhotosInFlight(inFlight);
            h.runner.setMemoryBudget(budget);
            QStringList seen;
            struct Seen : Recorder {
                QStringList* out;
                void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& p, int progress) override {
                    Recorder::runDidRecordOutcome(row, p, progress);
                    *out << QString("%1 %2 %3 %4").arg(row).arg(p->processStatus).arg(p->processInfoMessage).arg(progress);
                }
            } recorder;
            recorder.out = &seen;
            h.runner.setObserver(&recorder);
            ASSERT_TRUE(h.start(m.in));
            EXPECT_TRUE(recorder.finished);
            for (const auto& path : m.in.snapshot.destinationPaths) files[run] << bytesOf(path->filePath);
            outcomes[run] = seen;
            EXPECT_TRUE(leftoverTemporaries(m.b.dir.path()).isEmpty()) << inFlight;
            // The photos that were to be written were.
            EXPECT_EQ(m.b.photos[0]->processStatus, PhotoFile::Processed);
            EXPECT_EQ(m.b.photos[3]->processInfoMessage, runmessages::Unreadable);
            EXPECT_EQ(m.b.photos[6]->processInfoMessage, runmessages::DuplicateName);
            EXPECT_EQ(m.b.photos[8]->processInfoMessage, runmessages::SourceNotFound);
            EXPECT_EQ(m.b.photos[9]->processInfoMessage, runmessages::WouldReplacePending);
            EXPECT_EQ(m.b.photos[10]->processStatus, PhotoFile::Processed);
            ++run;
        }
        for (int other : {1, 2}) {
            EXPECT_EQ(outcomes[0], outcomes[other]);
            ASSERT_EQ(files[0].size(), files[other].size());
            for (qsizetype i = 0; i < files[0].size(); ++i)
                EXPECT_TRUE(files[0][i] == files[other][i]) << "output " << i << " of run " << other;
        }
    }
}

TEST(BatchRunner, ARunLongerThanThePhotosItMayHaveInFlightGivesEachPhotoItsOwnOutcome) {
    // Two in flight may run sixteen ahead of the photo in hand: forty photos pass through
    // the same work places two or three times, with a failure in several of them.
    // Each keeps its own format, so a place's output chosen for the photo before it would
    // give a JPEG name PNG bytes or the other way round.
    Batch b(40, 48, 32);
    const QList<int> broken{5, 17, 22, 39};
    for (int i : broken) testsupport::writeFile(b.dir.filePath(QString("src/p%1.jpg").arg(i)), "not a picture");
    const QList<int> png{2, 21, 30};
    for (int i : png) {
        b.photos[i] = batchtest::photoAt(
            batchtest::writePhoto(b.dir.filePath(QString("src/p%1.png").arg(i)), 48, 32, platform::ImageType::PNG));
    }
    b.rename = batchtest::renameSettings(outputformat::KeepOriginal);
    RunHarness h;
    h.runner.setPhotosInFlight(2);
    h.runner.setThumbnailSize(QSize(12, 8));
    const BatchRunInput in = b.input();
    ASSERT_TRUE(h.start(in));
    EXPECT_EQ(h.runner.counterProcessedSuccessfully, 40 - broken.size());
    EXPECT_EQ(h.runner.counterProcessedWithError, broken.size());
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        const bool bad = broken.contains(i);
        EXPECT_EQ(b.photos[i]->processStatus, bad ? PhotoFile::Failed : PhotoFile::Processed);
        if (bad) { EXPECT_EQ(b.photos[i]->processInfoMessage, runmessages::Unreadable); }
        const QString path = in.snapshot.destinationPaths[i]->filePath;
        EXPECT_TRUE(path.endsWith(png.contains(i) ? ".png" : ".jpg")) << path.toStdString();
        const QImage written = platform::readImage(path);
        EXPECT_EQ(written.isNull(), bad);
        if (bad) continue;
        EXPECT_EQ(written.size(), QSize(48, 32));
        EXPECT_TRUE(bytesOf(path).startsWith(png.contains(i) ? QByteArray("\x89PNG") : QByteArray("\xFF\xD8")));
    }
    EXPECT_TRUE(leftoverTemporaries(b.dir.path()).isEmpty());
}

// Whenever the stop comes, the photos written are exactly those counted, a prefix of the
// batch, and no temporary file is left.
TEST(BatchRunner, StopAtEachPhotoOrDuringAnEncodeLeavesExactlyTheCountedPhotos) {
    constexpr int kCount = 6;
    enum class When { AfterOutcome, WhileEncoding };
    for (When when : {When::AfterOutcome, When::WhileEncoding}) {
        for (int inFlight : {1, 4}) {
            for (int k = 0; k < kCount - 1; ++k) {
                SCOPED_TRACE(QString("%1 in flight, stop at photo %2 %3")
                                 .arg(inFlight)
                                 .arg(k)
                                 .arg(when == When::AfterOutcome ? "after its outcome" : "while it is encoded")
                                 .toStdString());
                Batch b(kCount, 300, 200);
                RunHarness h;
                h.runner.setPhotosInFlight(inFlight);
                // The photo in hand is the one the run screen shows.
                h.runner.setThumbnailSize(QSize(24, 16));
                std::atomic<int> shown{-1};
                struct Stopper : Recorder {
                    std::function<void(int)> onRow;
                    std::atomic<int>* shown = nullptr;
                    void runShowsPhoto(int index, const QImage&) override { *shown = index; }
                    void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& p, int progress) override {
                        Recorder::runDidRecordOutcome(row, p, progress);
                        onRow(row);
                    }
                } recorder;
                recorder.shown = &shown;
                recorder.onRow = [&](int row) {
                    if (when == When::AfterOutcome && row == k) h.runner.btnStopProcessTapped();
                };
                h.runner.setObserver(&recorder);
                const BatchRunInput in = b.input();
                const QString stopAt = in.snapshot.destinationPaths[k]->filePath;
                if (when == When::WhileEncoding) {
                    h.runner.setWriterSetUp([&](ResultWriter& w) {
                        w.afterEncoding = [&](const QString&, const QString& destination) {
                            if (destination != stopAt) return;
                            // Photo k is in hand: its save has begun, so it is still placed.
                            while (shown < k) QThread::yieldCurrentThread();
                            // Stopped on the main thread while this one waits, handed over as
                            // the program hands work over, so ThreadSanitizer sees the order.
                            std::promise<void> stopped;
                            platform::postQueued(&h.runner, [&] {
                                h.runner.btnStopProcessTapped();
                                stopped.set_value();
                            });
                            stopped.get_future().wait();
                        };
                    });
                }
                ASSERT_TRUE(h.start(in));
                EXPECT_EQ(h.runner.state(), BatchRunner::State::Interrupted);
                EXPECT_EQ(h.runner.counterProcessedSuccessfully, k + 1);
                for (int i = 0; i < kCount; ++i)
                    EXPECT_EQ(QFileInfo::exists(in.snapshot.destinationPaths[i]->filePath), i <= k) << i;
                expectNothingHalfDone(b, in);
                EXPECT_TRUE(leftoverTemporaries(b.dir.path()).isEmpty());
            }
        }
    }
}

TEST(BatchRunner, ManyInFlightStillRefusesReplacingALaterSourceAndTrashesOnlyVerifiedSources) {
    for (int inFlight : {1, 6}) {
        SCOPED_TRACE(inFlight);
        batchtest::TrashInTemp trash;
        Batch b(5);
        b.output->moveAndRenameToDestinationFolder = true;
        b.rename = renameSettings(4);
        BatchRunInput in = b.input();
        // p0's output would replace p3's source, which is still to come: refused.
        auto onSource = std::make_shared<OutputPhotoPath>(*in.snapshot.destinationPaths[0]);
        onSource->filePath = b.photos[3]->filePath;
        in.snapshot.destinationPaths[0] = onSource;
        RunHarness h;
        h.runner.setPhotosInFlight(inFlight);
        // Photo 2's file is damaged under the writer: it fails and its source stays.
        const QString damaged = in.snapshot.destinationPaths[2]->filePath;
        h.runner.setWriterSetUp([&](ResultWriter& w) {
            w.beforePlacing = [damaged](const QString& temp, const QString& destination) {
                if (destination == damaged) QFile(temp).resize(QFileInfo(temp).size() / 3);
            };
        });
        const QByteArray p3Before = bytesOf(b.photos[3]->filePath);
        ASSERT_TRUE(h.start(in));
        EXPECT_EQ(b.photos[0]->processInfoMessage, runmessages::WouldReplacePending);
        EXPECT_EQ(b.photos[2]->processInfoMessage, runmessages::WriteFailed);
        for (int i : {1, 3, 4}) EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << i;
        EXPECT_TRUE(QFileInfo::exists(b.photos[0]->filePath));
        EXPECT_TRUE(QFileInfo::exists(b.photos[2]->filePath));
        for (int i : {1, 3, 4}) {
            EXPECT_FALSE(QFileInfo::exists(b.photos[i]->filePath)) << i;
            EXPECT_TRUE(QFileInfo::exists(in.snapshot.destinationPaths[i]->filePath)) << i;
            EXPECT_TRUE(QFileInfo::exists(trash.filesFolder() + QString("/p%1.jpg").arg(i))) << i;
        }
        // The source that photo 0 would have replaced went to the Trash as it was.
        EXPECT_EQ(bytesOf(trash.filesFolder() + "/p3.jpg"), p3Before);
        EXPECT_TRUE(leftoverTemporaries(b.dir.path()).isEmpty());
    }
}

// A photo refused at its turn after its file was encoded leaves no folder the run made
// for it, and the user's own empty folder stays.
TEST(BatchRunner, RefusedPhotosLeaveNoFolderTheRunMadeAndKeepTheUsersFolders) {
    for (int inFlight : {1, 4}) {
        SCOPED_TRACE(inFlight);
        Batch b(4);
        BatchRunInput in = b.input();
        const QString usersFolder = b.out("mine");
        ASSERT_TRUE(QDir().mkpath(usersFolder));
        // Photos 1 and 2 lose their sources while they are encoded; 1 goes to a folder the
        // run makes, 2 to the user's; 3 shares photo 1's new folder and is written.
        const QStringList folders{b.out("new0"), b.out("new1/sub"), usersFolder, b.out("new1")};
        for (int i = 0; i < 4; ++i) {
            auto path = std::make_shared<OutputPhotoPath>(*in.snapshot.destinationPaths[i]);
            path->filePath = folders[i] + QString("/p%1.png").arg(i);
            in.snapshot.destinationPaths[i] = path;
        }
        RunHarness h;
        h.runner.setPhotosInFlight(inFlight);
        h.runner.setWriterSetUp([&](ResultWriter& w) {
            w.afterEncoding = [&](const QString&, const QString& destination) {
                for (int i : {1, 2}) {
                    if (QFileInfo(destination).fileName() == QString("p%1.png").arg(i)) QFile::remove(b.photos.at(i)->filePath);
                }
            };
        });
        ASSERT_TRUE(h.start(in));
        for (int i : {1, 2}) EXPECT_EQ(b.photos[i]->processInfoMessage, runmessages::SourceNotFound) << i;
        for (int i : {0, 3}) EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << i;
        EXPECT_FALSE(QFileInfo::exists(folders[1]));
        EXPECT_TRUE(QFileInfo(usersFolder).isDir());
        EXPECT_EQ(QDir(b.out("new1")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{"p3.png"});
        EXPECT_TRUE(leftoverTemporaries(b.dir.path()).isEmpty());
    }
}

// Phone, web and camera raw photos go through a run as JPEGs do: with the original format
// kept they are written as PNG (upright, turned once), a camera raw file only halved is
// developed at half size, and one of a kind no reader here develops fails with the reason
// in its status while its file stays.
TEST(BatchRunner, PhoneWebAndRawPhotosAreWrittenAndUnreadableKindsSayWhy) {
    Batch b(0);
    const QImage stored = testsupport::patchScene(96, 64);
    testsupport::HeifSample heif;
    heif.orientation = 6;
    heif.exif = testsupport::exifBlock({{QStringLiteral("Exif.Image.Orientation"), 6}});
    const struct {
        const char* name;
        QByteArray bytes;
        QSize written;
    } files[] = {
        {"phone.heic", testsupport::makeHeif(stored, heif), {64, 96}},
        {"web.webp", testsupport::makeWebp(stored), {96, 64}},
        {"camera.dng", testsupport::makeDng(stored), {96, 64}},
        {"foveon.x3f", QByteArray("FOVb\0\0\x02\0", 8) + QByteArray(4096, 'x'), {}},
    };
    for (const auto& f : files)
        b.photos << batchtest::photoAt(testsupport::writeFile(b.dir.filePath(QStringLiteral("src/") + f.name), f.bytes));
    b.rename = renameSettings(0);
    BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(files[i].name);
        ASSERT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << b.photos[i]->processInfoMessage.toStdString();
        const QString out = in.snapshot.destinationPaths[i]->filePath;
        EXPECT_TRUE(out.endsWith(QStringLiteral(".png"))) << out.toStdString();
        const QImage written = platform::readImage(out);
        ASSERT_EQ(written.size(), files[i].written);
        EXPECT_LE(testsupport::worstPatchError(testsupport::uprightReference(written, i == 0 ? 8 : 1)), 8);
    }
    EXPECT_EQ(b.photos[3]->processStatus, PhotoFile::Failed);
    EXPECT_TRUE(b.photos[3]->processInfoMessage.startsWith(runmessages::Unreadable + QStringLiteral(": Sigma X3F")))
        << b.photos[3]->processInfoMessage.toStdString();
    expectNothingHalfDone(b, in);

    // Halved: developed at half size, then resampled to the size asked for.
    Batch halved(0);
    halved.photos << batchtest::photoAt(
        testsupport::writeFile(halved.dir.filePath(QStringLiteral("src/big.dng")), testsupport::makeDng(testsupport::patchScene(400, 200))));
    halved.rename = renameSettings(4);
    halved.steps = {step("Resize", list({{"resizedWidth", 150}, {"resizedHeight", 75}}))};
    EXPECT_EQ(Utils::sharedUtils().getImageWithFixedOrientionFromUrl(halved.photos[0]->fileURL, QSize(150, 75)).size(),
              QSize(200, 100));
    const BatchRunInput halvedIn = halved.input();
    RunHarness halvedRun;
    ASSERT_TRUE(halvedRun.start(halvedIn));
    ASSERT_EQ(halved.photos[0]->processStatus, PhotoFile::Processed);
    const QImage small = platform::readImage(halvedIn.snapshot.destinationPaths[0]->filePath);
    ASSERT_EQ(small.size(), QSize(150, 75));
    EXPECT_LE(testsupport::worstPatchError(small), 10);
}

// A camera raw file's metadata, read in the helper that reads the file, reaches the JPEG
// written from it: capture date and camera (EXIF), keywords and city (IPTC), the lens
// (XMP), for a DNG of the readers' test files and one a cataloguer tagged.
TEST(BatchRunner, ARawPhotosMetadataReachesItsOutput) {
    Batch b(0);
    b.photos << batchtest::photoAt(
        testsupport::writeFile(b.dir.filePath(QStringLiteral("src/tagged.dng")),
                               testsupport::makeDng(testsupport::patchScene(96, 64), testsupport::taggedDngSample())));
    QFile corpus(testsupport::sourcePath(QStringLiteral("bench/fuzz/corpus/read_only_formats/turned_with_date.dng")));
    ASSERT_TRUE(corpus.open(QIODevice::ReadOnly));
    b.photos << batchtest::photoAt(testsupport::writeFile(b.dir.filePath(QStringLiteral("src/dated.dng")), corpus.readAll()));
    b.rename = renameSettings(4);
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    QVariantMap written[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << b.photos[i]->processInfoMessage.toStdString();
        const QString out = in.snapshot.destinationPaths[i]->filePath;
        ASSERT_TRUE(out.endsWith(QStringLiteral(".jpg"))) << out.toStdString();
        written[i] = platform::readImageProperties(out);
    }
    const auto value = [](const QVariantMap& props, const char* group, const char* key) {
        return props.value(QLatin1String(group)).toMap().value(QLatin1String(key));
    };
    EXPECT_EQ(value(written[0], platform::kPropsExif, "DateTimeOriginal").toString(), QStringLiteral("2021:06:01 10:20:30"));
    EXPECT_EQ(value(written[0], platform::kPropsTIFF, "Make").toString(), QStringLiteral("Acme"));
    EXPECT_EQ(value(written[0], platform::kPropsTIFF, "Model").toString(), QStringLiteral("Sensor Three"));
    EXPECT_EQ(value(written[0], platform::kPropsIPTC, "Keywords").toList(),
              (QVariantList{QStringLiteral("elephants"), QStringLiteral("savanna")}));
    EXPECT_EQ(value(written[0], platform::kPropsIPTC, "City").toString(), QStringLiteral("Nairobi"));
    EXPECT_EQ(value(written[0], platform::kPropsExif, "Lens").toString(), QStringLiteral("Acme 50mm f/1.8"));
    EXPECT_EQ(value(written[1], platform::kPropsExif, "DateTimeOriginal").toString(), QStringLiteral("2018:12:31 23:00:01"));
    EXPECT_EQ(value(written[1], platform::kPropsTIFF, "Model").toString(), QStringLiteral("Sensor One"));
}
