#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <deque>
#include <new>
#include <stdexcept>

#include "batch/CaptureDateCache.h"
#include "platform/foundation/Dates.h"
#include "platform/foundation/UsableCpus.h"
#include "batch/OpenLimit.h"
#include "batch/OutputOptionsLogic.h"
#include "batch/PlanSnapshot.h"
#include "batch/PreviewClassifier.h"
#include "batch/RenamePreviewRecomputer.h"
#include "batch/RenameSettingsEditor.h"
#include "batch/RunStartGate.h"
#include "platform/workspace/TrashLocations.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"

namespace {

using batchtest::outputSettings;
using batchtest::renameSettings;

std::shared_ptr<PhotoFile> fact(const QString& path) {
    auto p = std::make_shared<PhotoFile>();
    p->filePath = path;
    p->fileName = QFileInfo(path).fileName();
    p->fileExtension = QFileInfo(path).suffix();
    return p;
}

// ---- classification ----

struct ClassCase {
    const char* label;
    // Each planned output: planned path and source path ("" source: the photo's own file
    // in the temporary folder).
    std::vector<std::pair<const char*, const char*>> rows;
    bool overwrite;
    bool useSourceFolder;
    std::vector<PreviewMark> marks;  // per row
    int errors, warnings;
};
void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.label; }

class Classification : public ::testing::TestWithParam<ClassCase> {};

TEST_P(Classification, SortsEveryPlannedOutput) {
    const ClassCase& c = GetParam();
    QTemporaryDir dir;
    const auto at = [&](const char* p) { return QString(p).replace("$", dir.path()); };
    // Sources that exist: in/a.jpg, in/b.jpg, in/c.jpg; out/exists.jpg is already there.
    for (const char* name : {"in/a.jpg", "in/b.jpg", "in/c.jpg", "out/exists.jpg"}) {
        QDir().mkpath(QFileInfo(dir.filePath(name)).path());
        testsupport::writeFile(dir.filePath(name), "x");
    }
    QList<std::shared_ptr<OutputPhotoPath>> planned;
    for (const auto& [target, source] : c.rows) planned << OutputPhotoPath::initWithFileUrl(at(target), at(source));
    OutputPhotoPath::countOccurrences(planned);
    PreviewClassifier::Options options;
    options.overwrite = c.overwrite;
    options.useSourceFolder = c.useSourceFolder;
    const PreviewClassification result = PreviewClassifier::calculateErrorFiles(planned, options);
    ASSERT_EQ(c.marks.size(), size_t(planned.size()));
    for (size_t i = 0; i < c.marks.size(); ++i)
        EXPECT_EQ(int(result.markFor(*planned[qsizetype(i)])), int(c.marks[i])) << c.label << " row " << i;
    EXPECT_EQ(result.errorCount(), c.errors) << c.label;
    EXPECT_EQ(result.warningCount(), c.warnings) << c.label;
    EXPECT_EQ(result.arrayAllErrors.size(), c.errors);
    EXPECT_EQ(result.arrayAllWarnings.size(), c.warnings);
}

using M = PreviewMark;

INSTANTIATE_TEST_SUITE_P(
    Preview, Classification,
    ::testing::Values(
        ClassCase{"three equal paths: all three fail in the run, all three are errors",
                  {{"$/out/x.jpg", "$/in/a.jpg"}, {"$/out/x.jpg", "$/in/b.jpg"}, {"$/out/x.jpg", "$/in/c.jpg"}},
                  false, false, {M::DuplicateName, M::DuplicateName, M::DuplicateName}, 3, 0},
        ClassCase{"extension case is the same path, name case is not",
                  {{"$/out/x.JPG", "$/in/a.jpg"}, {"$/out/x.jpg", "$/in/b.jpg"}, {"$/out/X.jpg", "$/in/c.jpg"}},
                  false, false, {M::DuplicateName, M::DuplicateName, M::Ready}, 2, 0},
        ClassCase{"blank name comes before duplicate",
                  {{"$/out/.jpg", "$/in/a.jpg"}, {"$/out/.jpg", "$/in/b.jpg"}}, false, false,
                  {M::BlankName, M::BlankName}, 2, 0},
        ClassCase{"source deleted after planning", {{"$/out/a.jpg", "$/in/gone.jpg"}}, false, false,
                  {M::SourceMissing}, 1, 0},
        ClassCase{"existing output warns", {{"$/out/exists.jpg", "$/in/a.jpg"}}, false, false,
                  {M::AlreadyExists}, 0, 1},
        ClassCase{"overwrite on: the existing file is marked as replaced, errors still found",
                  {{"$/out/exists.jpg", "$/in/a.jpg"}, {"$/out/b.jpg", "$/in/gone.jpg"}}, true, false,
                  {M::ReplacesExisting, M::SourceMissing}, 1, 1},
        ClassCase{"output onto another photo's source", {{"$/in/b.jpg", "$/in/a.jpg"}, {"$/out/b.jpg", "$/in/b.jpg"}},
                  true, false, {M::ReplacesSource, M::Ready}, 1, 0},
        ClassCase{"output onto its own source in copy mode", {{"$/in/a.jpg", "$/in/a.jpg"}}, true, false,
                  {M::ReplacesSource}, 1, 0},
        ClassCase{"output onto its own source beside it is allowed", {{"$/in/a.jpg", "$/in/a.jpg"}}, false, true,
                  {M::AlreadyExists}, 0, 1},
        ClassCase{"other spelling of another photo's source",
                  {{"$/in/../in/./b.jpg", "$/in/a.jpg"}, {"$/out/b.jpg", "$/in/b.jpg"}}, false, false,
                  {M::ReplacesSource, M::Ready}, 1, 0},
        ClassCase{"web address in the name", {{"$/out/http:x.jpg", "$/in/a.jpg"}}, false, false, {M::InvalidName}, 1,
                  0}));

TEST(Classification, NameLongerThanTheFileSystemTakesIsInvalid) {
    const QString ok = QString(251, u'n') + ".jpg";  // 255 bytes
    const QString tooLong = QString(252, u'n') + ".jpg";
    const QString wide = QString(126, QChar(0x00e9)) + ".jpg";  // 256 bytes in UTF-8, 130 characters
    QList<std::shared_ptr<OutputPhotoPath>> planned{OutputPhotoPath::initWithFileUrl("/o/" + ok, "/i/1"),
                                                    OutputPhotoPath::initWithFileUrl("/o/" + tooLong, "/i/2"),
                                                    OutputPhotoPath::initWithFileUrl("/o/" + wide, "/i/3")};
    PreviewClassifier::Options options;
    options.fileExists = [](const QString&) { return true; };
    const auto c = PreviewClassifier::calculateErrorFiles(planned, options);
    EXPECT_EQ(c.arrayInvalidFileName, (QStringList{planned[1]->filePath, planned[2]->filePath}));
}

// "Modify names" gives the name an upper-case extension, and the run writes it lower-cased:
// the check must look at the file that will be written, not at the name as typed.
TEST(Classification, ExistingFilesAreFoundUnderTheNameTheRunWrites) {
    QTemporaryDir dir;
    for (const char* name : {"in/IMG_1.jpg", "in/IMG_2.jpg", "in/IMG_3.jpg", "out/IMG_1.jpg", "out/IMG_2.JPG"}) {
        QDir().mkpath(QFileInfo(dir.filePath(name)).path());
        testsupport::writeFile(dir.filePath(name), "x");
    }
    QList<std::shared_ptr<PhotoFile>> photos;
    for (const char* name : {"in/IMG_1.jpg", "in/IMG_2.jpg", "in/IMG_3.jpg"}) photos << fact(dir.filePath(name));
    auto rename = renameSettings(0);
    rename->flagRenamingMode = 1;
    const PreviewResult r = RenamePreviewRecomputer::plan(
        PlanSnapshot::take(photos, rename.get(), outputSettings(dir.filePath("out")).get(),
                           AppDelegate::defaultFileFormats()),
        1, nullptr, {});
    ASSERT_EQ(r.planned.size(), 3);
    EXPECT_EQ(r.planned[0]->fileName, "IMG_1.JPG");
    EXPECT_EQ(r.planned[0]->filePath, dir.filePath("out/IMG_1.jpg"));
    // IMG_1.jpg is there: a warning. IMG_2.JPG is another file than the IMG_2.jpg written.
    EXPECT_EQ(r.classification.warningCount(), 1);
    EXPECT_EQ(r.classification.markFor(*r.planned[0]), PreviewMark::AlreadyExists);
    EXPECT_EQ(r.classification.markFor(*r.planned[1]), PreviewMark::Ready);
    EXPECT_EQ(r.classification.markFor(*r.planned[2]), PreviewMark::Ready);
}

TEST(Classification, OutputsTakingTheirOwnSourcesPlaceAreNamedForTheScreens) {
    QTemporaryDir dir;
    QList<std::shared_ptr<PhotoFile>> photos;
    for (const char* name : {"in/a.jpg", "in/b.jpg", "in/c.png"}) {
        QDir().mkpath(dir.filePath("in"));
        photos << fact(testsupport::writeFile(dir.filePath(name), "x"));
    }
    auto output = outputSettings(dir.filePath("out"));
    outputoptions::chooseDestination(*output, outputoptions::UseSourceFolder);
    const auto planFor = [&](bool overwrite, int format) {
        output->owerwriteExistingFiles = overwrite;
        return RenamePreviewRecomputer::plan(
            PlanSnapshot::take(photos, renameSettings(format).get(), output.get(), AppDelegate::defaultFileFormats()), 1,
            nullptr, {});
    };
    {  // Overwriting, same format: a and b replace their originals, c.png becomes c.png too.
        const PreviewResult r = planFor(true, 0);
        EXPECT_EQ(r.classification.errorCount() + r.classification.warningCount(), 0);
        EXPECT_EQ(r.classification.arrayReplacesOwnSource.size(), 3);
        for (const auto& p : r.planned) EXPECT_TRUE(r.classification.replacesOwnSource(*p));
        EXPECT_EQ(startgate::replacesOriginalsNote(r.classification),
                  "3 photos will replace their originals in the source folders; each original goes to the Trash first.");
    }
    {  // To JPEG: only c.png's output is a new file.
        const PreviewResult r = planFor(true, 4);
        EXPECT_EQ(r.classification.arrayReplacesOwnSource.size(), 2);
        EXPECT_FALSE(r.classification.replacesOwnSource(*r.planned[2]));
    }
    {  // Not overwriting: the outputs are skipped as existing, nothing is replaced.
        const PreviewResult r = planFor(false, 0);
        EXPECT_EQ(r.classification.warningCount(), 3);
        EXPECT_TRUE(r.classification.arrayReplacesOwnSource.isEmpty());
        EXPECT_TRUE(startgate::replacesOriginalsNote(r.classification).isEmpty());
    }
}

// A photo past what the decoders take is refused by the run unless its only step shrinks it
// enough for a reduced decode that fits: the preview says the same before Start.
TEST(Classification, PhotosTheRunWillRefuseAsTooLargeAreErrorsWithEveryReason) {
    QTemporaryDir dir;
    const auto huge = batchtest::photoAt(batchtest::jpegDeclaringSize(dir.filePath("in/huge.jpg"), 20000, 15000));
    const auto small = batchtest::photoAt(batchtest::writePhoto(dir.filePath("in/small.jpg")));
    ASSERT_EQ(huge->width, 20000);
    struct Case {
        const char* label;
        QList<std::shared_ptr<AppliedFilter>> steps;
        bool refused;
    } cases[] = {
        {"no step", {}, true},
        // A JPEG is read reduced at four times the size asked for at least: at half here.
        {"shrunk to an eighth: read at half", {batchtest::resizeStepTo(2500, 1875)}, false},
        {"shrunk to a quarter: no reduction fits", {batchtest::resizeStepTo(5000, 3750)}, true},
        {"shrunk by less than half", {batchtest::resizeStepTo(12000, 9000)}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(openlimit::refusedAsTooLarge(*huge, c.steps), c.refused) << c.label;
        EXPECT_FALSE(openlimit::refusedAsTooLarge(*small, c.steps)) << c.label;
    }
    // Planned with the unreadable mark too and a shared name: one error each, every reason said.
    huge->markUnreadable(platform::FileStamp::of(huge->filePath));
    const auto twin = batchtest::photoAt(batchtest::jpegDeclaringSize(dir.filePath("in/b/huge.jpg"), 20000, 15000));
    const PreviewResult r = RenamePreviewRecomputer::plan(
        PlanSnapshot::take({huge, small, twin}, renameSettings(0).get(), outputSettings(dir.filePath("out")).get(),
                           AppDelegate::defaultFileFormats()),
        1, nullptr, {});
    EXPECT_EQ(r.classification.errorCount(), 2);
    EXPECT_EQ(r.classification.arrayTooLarge, QStringList{});
    const QString tip = PreviewClassifier::toolTipFor(r.classification, *r.planned[0]);
    EXPECT_EQ(tip, "Duplicate filename.\nThe photo is larger than this program will open.");
    const PreviewResult alone = RenamePreviewRecomputer::plan(
        PlanSnapshot::take({huge, small}, renameSettings(0).get(), outputSettings(dir.filePath("out")).get(),
                           AppDelegate::defaultFileFormats()),
        1, nullptr, {});
    EXPECT_EQ(alone.classification.arrayTooLarge, QStringList{huge->filePath});
    EXPECT_EQ(alone.classification.markFor(*alone.planned[0]), PreviewMark::TooLarge);
}

TEST(Classification, EmptyBatchHasNoCounts) {
    const auto c = PreviewClassifier::calculateErrorFiles({}, {});
    EXPECT_EQ(c.errorCount(), 0);
    EXPECT_EQ(c.warningCount(), 0);
}

// ---- background recomputation ----

// Runs the passes only when the test says so, in any order.
struct ManualExecutor : PreviewExecutor {
    std::deque<std::function<void()>> queue;
    void execute(std::function<void()> work) override { queue.push_back(std::move(work)); }
    void runAt(size_t i) {
        auto work = std::move(queue.at(i));
        queue.erase(queue.begin() + qsizetype(i));
        work();
        QCoreApplication::processEvents();
    }
};

struct Recomputing {
    QList<std::shared_ptr<PhotoFile>> photos{fact("/in/a.jpg"), fact("/in/b.jpg")};
    std::shared_ptr<BatchRenameSetting> rename = renameSettings(0);
    std::shared_ptr<OutputOptionSettings> output = outputSettings("/out/A");
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    RenamePreviewRecomputer recomputer{[this] {
        return PlanSnapshot::take(photos, rename.get(), output.get(), AppDelegate::defaultFileFormats());
    }};
    QStringList published;
    QList<bool> busy;
    Recomputing() {
        recomputer.setExecutor(executor);
        recomputer.setFileExists([](const QString&) { return true; });
        recomputer.onPublished = [this](const PreviewResult& r) { published << r.planned.value(0)->filePath; };
        recomputer.onBusyChanged = [this](bool b) { busy << b; };
    }
};

TEST(PreviewRecomputer, OlderPassFinishingLastIsDropped) {
    Recomputing r;
    r.recomputer.requestRecompute(false);  // A
    r.output->outputFolderPath = "/out/B";
    r.recomputer.requestRecompute(false);  // B
    r.executor->runAt(1);                  // B finishes first
    EXPECT_EQ(r.published, QStringList{"/out/B/a.jpg"});
    EXPECT_FALSE(r.recomputer.isPending());
    r.executor->runAt(0);  // then A
    EXPECT_EQ(r.published, QStringList{"/out/B/a.jpg"});
    EXPECT_EQ(r.recomputer.lastPublished().planned[0]->filePath, "/out/B/a.jpg");
    EXPECT_EQ(r.busy, (QList<bool>{true, true, false}));
}

TEST(PreviewRecomputer, PassReadsTheSnapshotNotTheLiveSettings) {
    Recomputing r;
    r.recomputer.requestRecompute(false);
    r.output->outputFolderPath = "/changed";  // changed while the pass waits
    r.rename->outputFormat = 6;
    r.executor->runAt(0);
    EXPECT_EQ(r.published, QStringList{"/out/A/a.jpg"});
}

TEST(PreviewRecomputer, TypingIsDebouncedAndStartPlansAgain) {
    Recomputing r;
    r.recomputer.setDebounceInterval(60000);
    r.recomputer.requestRecompute(true);
    r.recomputer.requestRecompute(true);
    EXPECT_TRUE(r.executor->queue.empty()) << "nothing runs while the user types";
    EXPECT_TRUE(r.recomputer.isPending());
    r.output->outputFolderPath = "/out/C";
    r.recomputer.flushDebounce();
    ASSERT_EQ(r.executor->queue.size(), 1u);
    r.output->outputFolderPath = "/out/D";
    r.recomputer.requestRecompute(true);
    // Start with a change still waiting: the plan is made now from the current settings,
    // and the older pass still queued cannot replace it.
    EXPECT_EQ(r.recomputer.recomputeNow().planned[0]->filePath, "/out/D/a.jpg");
    EXPECT_FALSE(r.recomputer.isPending());
    r.executor->runAt(0);
    EXPECT_EQ(r.published, QStringList{"/out/D/a.jpg"});
}

TEST(PreviewRecomputer, PassMarksLibraryPhotosAndCountsDuplicates) {
    Recomputing r;
    r.photos << fact("/other/a.jpg");
    r.photos[1]->isIphotosNode = true;
    r.recomputer.recomputeNow();
    const PreviewResult& result = r.recomputer.lastPublished();
    EXPECT_TRUE(result.isIphotoExist);
    EXPECT_EQ(result.planned[2]->occurenceCount, 2);
    EXPECT_EQ(result.classification.arrayDuplicateNames, (QStringList{"/out/A/a.jpg", "/out/A/a.jpg"}));
}

TEST(PreviewRecomputer, BigBatchSharedAmongThreadsKeepsBatchOrderAndCounts) {
    QList<std::shared_ptr<PhotoFile>> photos;
    for (int i = 0; i < 5000; ++i) photos << fact(QString("/in/%1/p%2.jpg").arg(i).arg(i % 3000));
    photos[4321]->filePath = "/in/missing.jpg";
    const PlanSnapshot snapshot =
        PlanSnapshot::take(photos, renameSettings(0).get(), outputSettings("/out").get(), {});
    const auto exists = [](const QString& path) { return path != "/in/missing.jpg"; };
    const PreviewResult r = RenamePreviewRecomputer::plan(snapshot, 7, nullptr, exists);
    ASSERT_EQ(r.planned.size(), 5000);
    for (int i : {0, 1249, 1250, 2999, 3000, 4999}) {
        EXPECT_EQ(r.planned[i]->filePath, QString("/out/p%1.jpg").arg(i % 3000)) << i;
        EXPECT_EQ(r.planned[i]->occurenceCount, i < 3000 ? 0 : 2) << i;
    }
    EXPECT_EQ(r.classification.arrayDuplicateNames.size(), 4000) << "both photos of each shared name";
    EXPECT_EQ(r.classification.arrayFileNotFound, QStringList{}) << "a duplicate is reported as such first";
    EXPECT_EQ(r.generation, 7u);
}

// A range of a big batch that throws, on a helper thread or on the calling thread while the
// helpers still work, ends the plan with its reason, never the program; the same through the
// pool a recomputation runs on. A failed plan plans no photo, so the start refuses it.
TEST(PreviewRecomputer, APassThatRunsOutOfMemoryReportsItOnEveryThread) {
    if (platform::usableCpuCount() < 2) GTEST_SKIP() << "a batch is shared among threads only with two CPUs or more";
    QList<std::shared_ptr<PhotoFile>> photos;
    for (int i = 0; i < 5000; ++i) photos << fact(QString("/in/p%1.jpg").arg(i));
    const PlanSnapshot snapshot = PlanSnapshot::take(photos, renameSettings(0).get(), outputSettings("/out").get(), {});
    struct Case {
        const char* where;
        QString throwsAt;
        bool memory;
    };
    for (const Case& c : {Case{"a helper's range", "/in/p4999.jpg", true}, Case{"the caller's range", "/in/p0.jpg", true},
                          Case{"another failure", "/in/p2600.jpg", false}}) {
        SCOPED_TRACE(c.where);
        const auto exists = [&c](const QString& path) {
            if (path != c.throwsAt) return true;
            if (c.memory) throw std::bad_alloc();
            throw std::runtime_error("planted");
        };
        const PreviewResult r = RenamePreviewRecomputer::plan(snapshot, 3, nullptr, exists);
        EXPECT_EQ(r.failure, c.memory ? kPlanNotEnoughMemory : kPlanFailed);
        EXPECT_TRUE(r.planned.isEmpty());
        EXPECT_EQ(r.generation, 3u);
        EXPECT_EQ(startgate::decide(int(r.planned.size()), r.classification.notWrittenCount(), false, {}).outcome,
                  startgate::Outcome::Refused);
    }

    // Through the pool, as the screen asks for it.
    RenamePreviewRecomputer recomputer([&] { return snapshot; });
    recomputer.setFileExists([](const QString& path) -> bool {
        if (path == "/in/p4000.jpg") throw std::bad_alloc();
        return true;
    });
    QList<bool> busy;
    recomputer.onBusyChanged = [&](bool b) { busy << b; };
    recomputer.requestRecompute(false);
    ASSERT_TRUE(batchtest::waitUntil([&] { return !recomputer.isPending(); }));
    EXPECT_EQ(recomputer.lastPublished().failure, kPlanNotEnoughMemory);
    EXPECT_EQ(busy, (QList<bool>{true, false}));
    // The next pass that succeeds replaces it.
    recomputer.setFileExists([](const QString&) { return true; });
    EXPECT_TRUE(recomputer.recomputeNow().failure.isEmpty());
    EXPECT_EQ(recomputer.lastPublished().planned.size(), 5000);
}

TEST(PreviewRecomputer, DestroyedWhilePassRunsDropsTheResult) {
    auto executor = std::make_shared<ManualExecutor>();
    {
        RenamePreviewRecomputer recomputer([] { return PlanSnapshot{}; });
        recomputer.setExecutor(executor);
        recomputer.requestRecompute(false);
    }
    executor->runAt(0);  // must not touch the destroyed recomputer
    SUCCEED();
}

TEST(CaptureDateCache, ReadsEachFileOncePerModification) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath("a.jpg"), "x");
    int reads = 0;
    CaptureDateCache cache([&](const QString&) {
        ++reads;
        return QDateTime(QDate(2020, 1, reads), QTime(0, 0));
    });
    EXPECT_EQ(cache.captureDate(path).date().day(), 1);
    EXPECT_EQ(cache.captureDate(path).date().day(), 1);
    EXPECT_EQ(reads, 1);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addSecs(10), QFileDevice::FileModificationTime);
    f.close();
    EXPECT_EQ(cache.captureDate(path).date().day(), 2);
    EXPECT_FALSE(cache.captureDate(dir.filePath("missing.jpg")).isValid());

    // Stamp texts are remembered per pattern and date, and match a fresh formatter's.
    const QDateTime when(QDate(2024, 12, 30), QTime(14, 5, 7));
    for (const char* pattern : {"ddMMyyyy", "MM-dd-yyyy hh:mm:s"}) {
        EXPECT_EQ(cache.formattedDate(when, pattern), platform::formatDate(when, pattern));
        EXPECT_EQ(cache.formattedDate(when, pattern), platform::formatDate(when, pattern));
    }
    EXPECT_EQ(cache.formattedDate(when, "MM-dd-yyyy"), "12-30-2024");
    EXPECT_TRUE(cache.formattedDate(QDateTime(), "ddMMyyyy").isEmpty());
}

// ---- start gate ----

TEST(StartGate, DestinationFolderCheck) {
    QTemporaryDir dir;
    const QString file = testsupport::writeFile(dir.filePath("f"), "x");
    auto copy = outputSettings(dir.path());
    auto beside = outputSettings("");
    beside->useSourceFolder = true;
    beside->copyyToDestinationFolder = false;
    EXPECT_TRUE(startgate::destinationAccepted(dir.path(), copy.get()));
    EXPECT_FALSE(startgate::destinationAccepted(file, copy.get())) << "a file is not a folder";
    EXPECT_FALSE(startgate::destinationAccepted("", copy.get())) << "empty would plan at the root";
    EXPECT_FALSE(startgate::destinationAccepted(dir.filePath("missing"), copy.get()));
    EXPECT_TRUE(startgate::destinationAccepted(dir.filePath("missing"), beside.get()))
        << "outputs beside the sources need no destination folder";
}

TEST(StartGate, ReplacementNameCheck) {
    auto s = renameSettings();
    EXPECT_FALSE(startgate::replacementNameMissing(s.get(), ""));
    s->flagRenamingMode = 1;
    EXPECT_FALSE(startgate::replacementNameMissing(s.get(), "")) << "replace rule off";
    renameedit::setRuleState(*s, RenameRule::ReplaceFileName, true);
    EXPECT_TRUE(startgate::replacementNameMissing(s.get(), ""));
    EXPECT_FALSE(startgate::replacementNameMissing(s.get(), "x"));
}

TEST(StartGate, OutcomesAndTexts) {
    struct Case {
        int planned, classified;
        bool library;
        startgate::Outcome outcome;
        QString text;
    } cases[] = {
        {4, 4, false, startgate::Outcome::Refused, startgate::RefusedText},
        {0, 0, false, startgate::Outcome::Refused, startgate::RefusedText},
        {4, 3, false, startgate::Outcome::Ask, startgate::QuestionWithErrors},
        {4, 0, true, startgate::Outcome::Ask, startgate::QuestionNoErrors},
        {4, 1, true, startgate::Outcome::Ask,
         "Please make sure that the Output Options and New File names are as you intended. Files with Errors/Warnings "
         "will be skipped from the Batch process. All photos from iPhoto library will be saved here: "
         "/home/u/Desktop/iPhoto_BriskoPhotosOutput.\nClick YES to proceed and No to cancel."},
    };
    for (const Case& c : cases) {
        const auto d = startgate::decide(c.planned, c.classified, c.library, "/home/u/Desktop/iPhoto_BriskoPhotosOutput");
        EXPECT_EQ(int(d.outcome), int(c.outcome)) << c.planned << "/" << c.classified;
        EXPECT_EQ(d.text, c.text);
    }
    EXPECT_EQ(startgate::startTimeText(QDateTime(QDate(2024, 12, 30), QTime(14, 5, 7))), "12-30-2024 02:05:7 PM");
}

// ---- rename controls ----

TEST(RenameControls, FieldLimitsAndSlashes) {
    auto s = renameSettings();
    EXPECT_FALSE(renameedit::controlTextDidChange(*s, RenameField::Prefix, "x")) << "renaming off stores nothing";
    EXPECT_TRUE(s->dictAddString.isEmpty());
    s->flagRenamingMode = 1;
    struct Case {
        RenameField field;
        QString typed, shown;
        QVariant stored;
    } cases[] = {
        {RenameField::ReplaceFileName, QString(151, 'a'), QString(150, 'a'), QString(150, 'a')},
        {RenameField::CustomDateTimeStamp, QString(30, 'c'), QString(20, 'c'), QString(20, 'c')},
        {RenameField::Prefix, "a/b", "ab", "ab"},
        {RenameField::Suffix, QString(49, 's') + "/x", QString(49, 's'), QString(49, 's')},  // cut, then "/" dropped
        {RenameField::CharsRemove, "a/", "a/", "a/"},
        {RenameField::AtPositionString, "-5", "-5", -5},
        {RenameField::StartIndexAddDigit, "", "", 0},
        {RenameField::ToIndexRemove, "9999", "9999", 9999},
    };
    for (const Case& c : cases) {
        const auto shown = renameedit::controlTextDidChange(*s, c.field, c.typed);
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(*shown, c.shown);
        if (renameedit::isIntegerField(c.field)) {
            EXPECT_EQ(renameedit::fieldText(*s, c.field), QString::number(c.stored.toInt()));
        } else {
            EXPECT_EQ(renameedit::fieldText(*s, c.field), c.stored.toString());
        }
    }
    EXPECT_EQ(s->dictAddString.value("At Position").typeId(), QMetaType::Int);
}

TEST(RenameControls, SettingsRoundTripThroughTheControlTexts) {
    auto s = renameSettings();
    s->flagRenamingMode = 1;
    for (int r = 0; r < kRenameRuleCount; ++r) renameedit::setRuleState(*s, RenameRule(r), r % 2 == 0);
    for (int f = 0; f < kRenameFieldCount; ++f) {
        const auto field = RenameField(f);
        renameedit::controlTextDidChange(*s, field, renameedit::isIntegerField(field) ? QString::number(f * 7 - 3)
                                                                                      : QString("t%1").arg(f));
    }
    const int rows[] = {0, 1, 3, 8, 1, 2, 2};
    for (int type = 0; type <= 6; ++type) renameedit::choosePopupRow(*s, type, rows[type]);

    // What the view shows, typed again into fresh settings, gives the same settings.
    auto copy = renameSettings();
    copy->flagRenamingMode = 1;
    for (int r = 0; r < kRenameRuleCount; ++r)
        renameedit::setRuleState(*copy, RenameRule(r), renameedit::ruleState(*s, RenameRule(r)));
    for (int f = 0; f < kRenameFieldCount; ++f)
        renameedit::controlTextDidChange(*copy, RenameField(f), renameedit::fieldText(*s, RenameField(f)));
    const QStringList formats = AppDelegate::defaultFileFormats();
    for (int type = 0; type <= 6; ++type) {
        const QString shown = renameedit::popupChoiceText(*s, type, formats);
        renameedit::choosePopupRow(*copy, type, int(renameedit::popupList(type, formats).indexOf(shown)));
    }
    EXPECT_EQ(copy->dictReplaceFileName, s->dictReplaceFileName);
    EXPECT_EQ(copy->dictDateTimeStamp, s->dictDateTimeStamp);
    EXPECT_EQ(copy->dictAppendFolderName, s->dictAppendFolderName);
    EXPECT_EQ(copy->dictAddString, s->dictAddString);
    EXPECT_EQ(copy->dictAddDigit, s->dictAddDigit);
    EXPECT_EQ(copy->dictRemove, s->dictRemove);
    EXPECT_EQ(copy->dictChangeCaseFileName, s->dictChangeCaseFileName);
    EXPECT_EQ(copy->dictUseLowerCaseForFileExtension, s->dictUseLowerCaseForFileExtension);
    EXPECT_EQ(copy->outputFormat, s->outputFormat);
}

TEST(RenameControls, PopupSizesPanelsAndNumbers) {
    EXPECT_EQ(renameedit::popupSize(PopupDateStampAs, 2), QSize(180, 87));
    EXPECT_EQ(renameedit::popupSize(PopupDateStampFormat, 9), QSize(240, 339));
    EXPECT_EQ(renameedit::formatListHeight(9), 354);
    EXPECT_EQ(renameedit::formatPanelFor(6), FormatPanel::Compression);
    EXPECT_EQ(renameedit::formatPanelFor(4), FormatPanel::Quality);
    EXPECT_EQ(renameedit::formatPanelFor(0), FormatPanel::None);
    EXPECT_EQ(renameedit::qualityText(0.855), "85");
    EXPECT_EQ(renameedit::qualityText(0.29), "29");
    EXPECT_EQ(renameedit::leadingInteger("12a"), 12);
    EXPECT_EQ(renameedit::leadingInteger("-"), 0);
}

// ---- output options ----

TEST(OutputOptions, TrashIsRefusedAndTheChosenFolderKeepsItsCase) {
    batchtest::TrashInTemp trash;
    auto s = outputSettings("/before");
    const QString trashFolder = QFileInfo(trash.filesFolder()).path();
    QDir().mkpath(trash.filesFolder() + "/Old");
    EXPECT_TRUE(platform::isInsideTrash(trash.filesFolder() + "/Old"));
    EXPECT_FALSE(outputoptions::acceptChosenFolder(*s, trash.filesFolder() + "/Old"));
    EXPECT_FALSE(outputoptions::acceptChosenFolder(*s, trashFolder));
    EXPECT_EQ(s->outputFolderPath, "/before");
    QTemporaryDir dir;
    const QString mixed = dir.filePath("Out Folder");
    QDir().mkpath(mixed);
    EXPECT_FALSE(platform::isInsideTrash(mixed));
    EXPECT_TRUE(outputoptions::acceptChosenFolder(*s, mixed));
    EXPECT_EQ(s->outputFolderPath, mixed);
}

TEST(OutputOptions, SourceFolderModeSwitchesOffOpeningTheFolder) {
    auto s = outputSettings("/o");
    s->openOutputFolderAfterProcessing = true;
    outputoptions::chooseDestination(*s, outputoptions::UseSourceFolder);
    EXPECT_TRUE(s->useSourceFolder.value_or(false));
    EXPECT_FALSE(s->copyyToDestinationFolder.value_or(true));
    EXPECT_FALSE(s->openOutputFolderAfterProcessing.value_or(true));
    outputoptions::chooseDestination(*s, outputoptions::MoveToFolder);
    EXPECT_EQ(outputoptions::destinationTagOf(*s), outputoptions::MoveToFolder);
    EXPECT_FALSE(s->openOutputFolderAfterProcessing.value_or(true)) << "stays cleared";
}

// One mode shows, and it is the one the run uses: stored records may hold several flags.
TEST(OutputOptions, StoredFlagsSettleOnTheModeTheRunUsesAndLibraryPhotosAreNeverMoved) {
    using outputoptions::CopyToFolder;
    using outputoptions::MoveToFolder;
    using outputoptions::UseSourceFolder;
    struct Case {
        bool move, copy, source;
        int settled;  // the mode after settling
        int guarded;  // the mode after the photo-library guard
    } cases[] = {
        {true, false, false, MoveToFolder, CopyToFolder},
        {false, true, false, CopyToFolder, CopyToFolder},
        {false, false, true, UseSourceFolder, UseSourceFolder},
        {false, true, true, UseSourceFolder, UseSourceFolder},
        {true, true, true, UseSourceFolder, UseSourceFolder},
        {true, true, false, MoveToFolder, CopyToFolder},
        {false, false, false, CopyToFolder, CopyToFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("move %1 copy %2 source %3").arg(c.move).arg(c.copy).arg(c.source).toStdString());
        for (const bool guard : {false, true}) {
            auto s = outputSettings("/o");
            s->moveAndRenameToDestinationFolder = c.move;
            s->copyyToDestinationFolder = c.copy;
            s->useSourceFolder = c.source;
            if (guard) outputoptions::applyLibraryGuard(*s);
            else outputoptions::settleDestination(*s);
            const int expected = guard ? c.guarded : c.settled;
            EXPECT_EQ(outputoptions::destinationTagOf(*s), expected);
            EXPECT_EQ(s->moveAndRenameToDestinationFolder.value_or(false), expected == MoveToFolder);
            EXPECT_EQ(s->copyyToDestinationFolder.value_or(false), expected == CopyToFolder);
            EXPECT_EQ(s->useSourceFolder.value_or(false), expected == UseSourceFolder);
        }
    }
}

}  // namespace
