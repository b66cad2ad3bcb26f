#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include "batch/RunAlerts.h"
#include "batch/RunMessages.h"
#include "batch/RunSummary.h"
#include "batch/ui/OutputFolderChoice.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/UserDefaults.h"
#include "records/OutputOptionSettings.h"
#include "tests/support/TestSupport.h"
#include "records/PhotoFile.h"

namespace {

std::shared_ptr<PhotoFile> photo(const QString& path, double bytes, int status, const QString& message = {}) {
    auto p = std::make_shared<PhotoFile>();
    p->filePath = path;
    p->fileSizeInBytes = bytes;
    p->processStatus = status;
    p->processInfoMessage = message;
    return p;
}

const runsummary::DateStyle kUtc{QStringLiteral("en_US_POSIX"), QStringLiteral("UTC")};

// 6 December 2026, 9:05:07 in the evening.
QDateTime runStart() { return QDateTime(QDate(2026, 12, 6), QTime(21, 5, 7), QTimeZone::utc()); }

// The note of a photo of two pages whose output holds the first.
QString firstOfTwoPages() { return platform::format(runmessages::OnlyFirstPage, 2, runmessages::PagesNoun); }

runsummary::RunFacts mixedRun(bool finished) {
    runsummary::RunFacts run;
    run.photos = {photo("/in/a.jpg", 500, PhotoFile::Processed, runmessages::Processed),
                  photo("/in/b.jpg", 100, PhotoFile::Skipped),
                  photo("/in/c.jpg", 200, PhotoFile::Failed, "The photo could not be read"),
                  photo("/in/d.tif", 193, PhotoFile::Processed, firstOfTwoPages()),
                  photo("/in/e.jpg", 0, PhotoFile::NotProcessed),
                  photo("/in/odd.jpg", 0, 7)};
    run.started = runStart();
    run.startTimeStr = "12-06-2026 09:05:7 PM";
    run.finished = finished;
    run.appliedSteps = 2;
    auto output = std::make_shared<OutputOptionSettings>();
    output->outputFolderPath = "/out/Brisko";
    output->useSourceFolder = false;
    run.output = output;
    return run;
}

// Written by hand from the log's format: a line of 78 hyphens between the parts, rows
// numbered from 1 in each list, the source path in every row, a processed photo's note in
// its row, the odd status nowhere.
const char kMixedLog[] =
    "BRISKO PHOTOS LOG SUMMARY 12-06-2026 09:05:7 PM\n"
    "\n------------------------------------------------------------------------------\n"
    "Process Started at: 12-06-2026 09:05:7 PM\n"
    "Status: Completed\n"
    "Batch Count: 6\n"
    "Batch Size: 993 bytes approx.\n"
    "Batch Steps: 2\n"
    "Time elapsed:  1 minute 5 seconds\n"
    "Errors: 1\n"
    "Output Directory: /out/Brisko"
    "\n------------------------------------------------------------------------------\n"
    "\nPhotos Processed : 2"
    "\n------------------------------------------------------------------------------\n"
    "1\tProcessed\t/in/a.jpg\n"
    "2\tProcessed (Only the first of 2 pages was written)\t/in/d.tif\n"
    "\nPhotos not Processed : 1"
    "\n------------------------------------------------------------------------------\n"
    "1\tNot Processed\t/in/e.jpg\n"
    "\nPhotos Skipped (File already exists in destination folder) :1"
    "\n------------------------------------------------------------------------------\n"
    "1\tSkipped\t/in/b.jpg\n"
    "\nPhotos Processed with Error :1"
    "\n------------------------------------------------------------------------------\n"
    "1\tError(The photo could not be read)\t/in/c.jpg\n";

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(SummaryLog, MixedRunWrittenByteForByteUnderDocuments) {
    QTemporaryDir docs;
    const auto run = mixedRun(true);
    const auto result = runsummary::createAndWriteSummaryFile(run, docs.path(), runStart().addSecs(65), kUtc);
    ASSERT_TRUE(result.folderCreated);
    ASSERT_TRUE(result.written);
    EXPECT_EQ(result.path, docs.path() + "/Brisko Photos/BriskoPhotos_LogSummary_12062026 09057 PM.log");
    EXPECT_EQ(readAll(result.path), QByteArray(kMixedLog));
    // What "process skipped" hands on: not processed, error and skipped, in batch order.
    ASSERT_EQ(result.sorted.toReprocess.size(), 3);
    EXPECT_EQ(result.sorted.toReprocess[0]->filePath, "/in/b.jpg");
    EXPECT_EQ(result.sorted.toReprocess[1]->filePath, "/in/c.jpg");
    EXPECT_EQ(result.sorted.toReprocess[2]->filePath, "/in/e.jpg");
}

TEST(SummaryLog, NamesUseTheCalendarYearAndNeverReplaceAnEarlierLog) {
    // 30 December 2026 already lies in the first week of 2027.
    const QDateTime lateDecember(QDate(2026, 12, 30), QTime(9, 0, 3), QTimeZone::utc());
    EXPECT_EQ(runsummary::logFileName(lateDecember, kUtc), "BriskoPhotos_LogSummary_12302026 09003 AM.log");
    auto run = mixedRun(false);
    run.started = lateDecember;
    EXPECT_TRUE(runsummary::logText(run, runsummary::sortByStatus(run.photos), "", kUtc)
                    .startsWith("BRISKO PHOTOS LOG SUMMARY 12-30-2026 09:00:3 AM\n"));

    // Two runs in the same second: the second log gets its own name, the first stays.
    QTemporaryDir docs;
    const auto first = runsummary::createAndWriteSummaryFile(mixedRun(true), docs.path(), runStart(), kUtc);
    const auto second = runsummary::createAndWriteSummaryFile(mixedRun(false), docs.path(), runStart(), kUtc);
    ASSERT_TRUE(first.written && second.written);
    EXPECT_NE(first.path, second.path);
    EXPECT_TRUE(second.path.endsWith("/BriskoPhotos_LogSummary_12062026 09057 PM (2).log"));
    EXPECT_TRUE(readAll(first.path).contains("Status: Completed\n"));
    EXPECT_TRUE(readAll(second.path).contains("Status: Process interrupted by user\n"));
}

TEST(SummaryLog, FolderThatCannotBeMadeWritesNothingYetThePhotosToRunAgainAreKnown) {
    QTemporaryDir docs;
    QFile blocker(docs.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto result = runsummary::createAndWriteSummaryFile(mixedRun(true), docs.filePath("file"), runStart(), kUtc);
    EXPECT_FALSE(result.folderCreated);
    EXPECT_TRUE(result.path.isEmpty());
    EXPECT_EQ(QDir(docs.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"file"});
    // The photos to run again are known all the same.
    EXPECT_EQ(result.sorted.toReprocess.size(), 3);
}

TEST(RunBars, TextsValuesAndSummaryFigures) {
    const auto info = runsummary::batchInfo(5, "1.2 MB approx.", 3, 2, 1, 2);
    EXPECT_EQ(info.text, "Batch Count: 5  |  Batch Size: 1.2 MB approx.  |  Batch Steps: 3  |  Photos Processed: 2  |  "
                         "Photos Skipped: 1  |  Process Completed: 40 %");
    EXPECT_EQ(runsummary::batchInfo(0, "", 0, 0, 0, 0).values.last(), "0 %");
    const struct {
        qint64 errors;
        const char* label;
    } plural[] = {{0, "Error reported: 0"}, {1, "Error reported: 1"}, {2, "Errors reported: 2"}};
    for (const auto& row : plural)
        EXPECT_TRUE(runsummary::processInfo("x", row.errors, "3 seconds").text.contains(row.label)) << row.label;
    // Elapsed time in whole seconds; a run shorter than a second still shows a time.
    const QDateTime t0(QDate(2026, 12, 6), QTime(21, 5, 7), QTimeZone::utc());
    const struct {
        qint64 ms;
        const char* text;
    } elapsed[] = {{0, " 0 seconds"}, {999, " 0 seconds"}, {1000, " 1 second"}, {65400, " 1 minute 5 seconds"},
                   {3600000, "1 hour 0 minutes 0 seconds"}};
    for (const auto& row : elapsed)
        EXPECT_EQ(runsummary::elapsedText(t0, t0.addMSecs(row.ms)), row.text) << row.ms;
    EXPECT_TRUE(runsummary::processInfo("x", 0, runsummary::elapsedText(t0, t0.addMSecs(300)))
                    .text.endsWith("Time elapsed:  0 seconds approx."));
    const QString html = runsummary::barHtml(runsummary::processInfo("a<b", 2, " 3 seconds"));
    EXPECT_TRUE(html.contains("<span style=\"color:#ffffff\">a&lt;b</span>"));

    // The summary shows the counters it is given; the buttons follow them.
    auto run = mixedRun(true);
    const auto f = runsummary::figures(run, {2, 1, 1, 1}, "t", false);
    EXPECT_EQ(QStringList({f.batchCount, f.processed, f.notProcessed, f.skipped, f.errors}),
              QStringList({"6", "2", "1", "1", "1"}));
    EXPECT_TRUE(f.outputIsLink);
    EXPECT_TRUE(f.showProcessSkipped);
    // Of the two processed, one came out with a note.
    EXPECT_EQ(f.processedWithNotes, "1");
    EXPECT_TRUE(f.showProcessedWithNotes);
    // Offered whenever a photo did not come out: not reached, skipped, or failed (a failure
    // such as a full disk may pass); whatever the counters say, as the photos are what the
    // button hands on.
    const struct {
        int status;
        bool shown;
    } offers[] = {{PhotoFile::Processed, false}, {7, false}, {PhotoFile::Failed, true},
                  {PhotoFile::NotProcessed, true}, {PhotoFile::Skipped, true}};
    for (const auto& row : offers) {
        auto two = run;
        two.photos = {photo("/in/a.jpg", 500, PhotoFile::Processed), photo("/in/b.jpg", 100, row.status)};
        EXPECT_EQ(runsummary::figures(two, {6, 0, 0, 0}, "t", false).showProcessSkipped, row.shown) << row.status;
    }
    auto plain = run;
    plain.photos.removeAt(3);
    EXPECT_FALSE(runsummary::figures(plain, {1, 1, 1, 1}, "t", false).showProcessedWithNotes);
    auto beside = std::make_shared<OutputOptionSettings>(*run.output);
    beside->useSourceFolder = true;
    beside->openOutputFolderAfterProcessing = true;
    run.output = beside;
    EXPECT_EQ(runsummary::figures(run, {}, "t", false).outputDirectory, "source photo's folder");
    EXPECT_FALSE(runsummary::figures(run, {}, "t", false).outputIsLink);
    // Outputs beside their sources: no one folder to open after the run.
    EXPECT_FALSE(runsummary::shouldOpenOutputFolder(beside.get()));
    beside->useSourceFolder = false;
    EXPECT_TRUE(runsummary::shouldOpenOutputFolder(beside.get()));
}

TEST(RunBars, OnlyAProcessedPhotosStatusIsANote) {
    // A status that did not come out is its reason, shown as an error; a note kept from an
    // earlier run is no note once the photo waits for this run.
    const struct {
        const char* name;
        int status;
        QString message;
        bool noted;
    } cases[] = {
        {"processed plainly", PhotoFile::Processed, runmessages::Processed, false},
        {"processed, no text", PhotoFile::Processed, QString(), false},
        {"first page only", PhotoFile::Processed, firstOfTwoPages(), true},
        {"failed, original kept", PhotoFile::Failed,
         platform::format(runmessages::OnlyFirstPageOriginalKept, 2, runmessages::PagesNoun), false},
        {"waiting again", PhotoFile::NotProcessed, firstOfTwoPages(), false},
        {"skipped", PhotoFile::Skipped, runmessages::AlreadyExists, false},
    };
    QList<std::shared_ptr<PhotoFile>> all;
    for (const auto& c : cases) {
        const auto p = photo("/in/x", 1, c.status, c.message);
        all << p;
        EXPECT_EQ(runsummary::processedNote(*p), c.noted ? c.message : QString()) << c.name;
    }
    EXPECT_EQ(runsummary::processedWithNotes(all), 1);
}

TEST(RunAlerts, TextsAndRatePrompt) {
    EXPECT_EQ(runalerts::contentFor(107, 1).title, "PHOTO DELETED");
    EXPECT_EQ(runalerts::contentFor(107, 1).message, "Photo no longer exists in the Source folder!");
    EXPECT_EQ(runalerts::contentFor(107, 3).title, "PHOTOS DELETED");
    EXPECT_TRUE(runalerts::contentFor(118, 0).yes && runalerts::contentFor(118, 0).noThanks);

    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.plist"));
    EXPECT_TRUE(runalerts::shouldAskForRating("2.0", defaults));
    QUrl asked;
    EXPECT_FALSE(runalerts::acceptRating([&](const QUrl& u) { asked = u; return false; }, "2.0", defaults));
    EXPECT_EQ(asked.toString(), "appstream://" + runalerts::kAppStreamId);
    EXPECT_TRUE(runalerts::shouldAskForRating("2.0", defaults)) << "nothing stored when nothing opened the page";
    EXPECT_TRUE(runalerts::acceptRating([](const QUrl&) { return true; }, "2.0", defaults));
    EXPECT_FALSE(runalerts::shouldAskForRating("2.0", defaults));
    EXPECT_TRUE(runalerts::shouldAskForRating("2.1", defaults));
}

#include "batch/SetupTips.h"

TEST(SetupTips, WalkEndsWhereItShouldAndStoresItsKeys) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.plist"));
    {
        // Reached with Next from the effects screen: 7 → 8 → 9 → 10, Got It marks it done.
        SetupTips tips(defaults);
        tips.isNextFromBatchEffectView = true;
        int tag = 7;
        QList<int> shown;
        while (auto tip = tips.showTipsWithTag(tag)) {
            shown << tip->tag;
            auto next = tip->button == "Next" ? tips.btnNextOnTipsPopupTapped() : std::nullopt;
            if (!next) break;
            tag = *next;
        }
        EXPECT_EQ(shown, (QList<int>{7, 8, 9, 10}));
        tips.btnGotInOnTipsPopupTapped(false);
        EXPECT_EQ(defaults.stringForKey("tips_convertFormatView"), "1");
        EXPECT_FALSE(defaults.containsKey("tips_isDisable"));
        EXPECT_FALSE(tips.showTipsWithTag(7));
    }
    defaults.removeObjectForKey("tips_convertFormatView");
    {
        // Inside the effects screen the walk ends after tip 9 and starts again later.
        SetupTips tips(defaults);
        tips.isInsideBatchEffectView = true;
        ASSERT_TRUE(tips.showTipsWithTag(9));
        EXPECT_FALSE(tips.btnNextOnTipsPopupTapped());
        EXPECT_TRUE(tips.showTipsWithTag(7));
        // Switching tips off in tip 8 stops every later request; on again, they come back.
        ASSERT_TRUE(tips.showTipsWithTag(8));
        tips.btnDisableTipsTapped(true);
        EXPECT_EQ(defaults.stringForKey("tips_isDisable"), "1");
        EXPECT_FALSE(tips.showTipsWithTag(*tips.btnNextOnTipsPopupTapped()));
        tips.btnDisableTipsTapped(false);
        EXPECT_TRUE(tips.showTipsWithTag(9));
    }
}


TEST(OutputFolder, TheChooserOpensAtTheNearestFolderThatIsThere) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("a/b")));
    const struct {
        QString current, expected;
    } cases[] = {
        {dir.filePath("a/b"), dir.filePath("a/b")},
        {dir.filePath("a/b/gone/deeper"), dir.filePath("a/b")},
        {"", "/fallback"},
        {"relative/gone", "/fallback"},
    };
    for (const auto& c : cases) EXPECT_EQ(outputfolder::chooserStartFolder(c.current, "/fallback"), c.expected) << c.current.toStdString();
    EXPECT_TRUE(outputfolder::createFolder(dir.filePath("x/y")).isEmpty());
    EXPECT_TRUE(QFileInfo(dir.filePath("x/y")).isDir());
    testsupport::writeFile(dir.filePath("file"), "x");
    EXPECT_FALSE(outputfolder::createFolder(dir.filePath("file/sub")).isEmpty()) << "under a file no folder can be made";
}
