// The intake pipeline driven end to end with real files, real library fixtures and a
// manual executor, and once on real threads.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <new>
#include <optional>

#include "import/IntakeExecutor.h"
#include "import/PhotoIntake.h"
#include "records/AppDelegate.h"
#include "records/MetaDataObject.h"
#include "records/PhotoFile.h"
#include "tests/import/IntakeFixtures.h"
#include "tests/import/LibraryFixtures.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/DecoderHelperHooks.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/Sanitizers.h"

using namespace intakefixtures;
using intake::IntakeAlert;

namespace {

class IntakeTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ManualExecutor executor;
    RecordingPresenter screen;
    int ends = 0;
    std::unique_ptr<PhotoIntake> intake;

    void SetUp() override {
        AppDelegate::shared().resetToLaunchValues();
        AppDelegate::shared().selectedMetatDataSettingObj = std::make_shared<MetaDataObject>();
        make(intake::kBatchLimit);
    }
    void TearDown() override {
        intake.reset();
        AppDelegate::shared().resetToLaunchValues();
    }
    void make(int limit) {
        intake = std::make_unique<PhotoIntake>(executor, limit);
        intake->setPresenter(&screen);
        intake->setProgressSink(&screen);
        QObject::connect(intake.get(), &PhotoIntake::addEnded, [this] { ++ends; });
    }
    QString path(const QString& relative) const { return dir.filePath(relative); }
    // One add from the given entry point flags, run to its end.
    void add(const QStringList& paths, bool subFolders = false) {
        intake->isAddFromSubFolderSelected = subFolders;
        intake->isAddingWithFilter = false;
        intake->isAddingIphotos = false;
        intake->selectedFileType = intake::kAllFileTypes;
        ASSERT_TRUE(intake->addPhotosFromPaths(paths));
        executor.runAll();
    }
    static QStringList batchPaths() {
        QStringList out;
        for (const auto& p : AppDelegate::shared().arraySelectedImagesToProcess) out << p->filePath;
        return out;
    }
};

}  // namespace

TEST_F(IntakeTest, FilesFoldersAndLibrariesBecomeABatchInOrder) {
    const QString single = photo(path("single.jpg"));
    photo(path("tree/b.jpg"));
    photo(path("tree/a/x.png"));  // a JPEG under a .png name still reads
    testsupport::writeFile(path("tree/readme.txt"), "not a photo");

    // A Photos library with two photos whose files exist, one whose file is missing.
    const QString photosLib = path("Photos Library.photoslibrary");
    libfixtures::writePhotosLibrary(photosLib, libfixtures::PhotosForm::Assets, 3);
    photo(libfixtures::photosRowFile(libfixtures::PhotosForm::Assets, photosLib, 1));
    photo(libfixtures::photosRowFile(libfixtures::PhotosForm::Assets, photosLib, 2));

    // An older library with its three versions' files.
    const QString older = path("Old.photolibrary");
    libfixtures::writeOlderDatabase(older + "/Database/apdb/Library.apdb");
    libfixtures::writeAlbumData(older + "/AlbumData.xml", older);
    for (const char* f : {"/Masters/2020/a-edited.jpg", "/Masters/2020/b.jpg", "/Masters/2020/c.jpg"}) photo(older + f);

    add({single, path("tree"), photosLib, older}, true);

    EXPECT_EQ(batchPaths(),
              (QStringList{single, path("tree/a/x.png"), path("tree/b.jpg"),
                           libfixtures::photosRowFile(libfixtures::PhotosForm::Assets, photosLib, 1),
                           libfixtures::photosRowFile(libfixtures::PhotosForm::Assets, photosLib, 2),
                           older + "/Masters/2020/a-edited.jpg", older + "/Masters/2020/b.jpg",
                           older + "/Masters/2020/c.jpg"}));
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    EXPECT_FALSE(batch.at(0)->isIphotosNode);
    EXPECT_TRUE(batch.at(3)->isIphotosNode);
    EXPECT_EQ(batch.at(3)->originalFileName, "Original 1.jpg");
    EXPECT_EQ(batch.at(0)->width, 32);
    EXPECT_EQ(intake->totalPhotoToAdd, 8);
    EXPECT_EQ(ends, 1);
    // The text file and the library photo whose file is missing are reported after the add.
    ASSERT_EQ(screen.alerts.size(), 1u);
    EXPECT_EQ(screen.alerts[0].title, "FILES CANNOT BE ADDED");
    EXPECT_EQ(intake->damagedFileCount, 2);
    ASSERT_EQ(screen.shown.size(), 1u);
    EXPECT_TRUE(screen.shown[0].text.startsWith("Batch Count: 8  |"));
    EXPECT_EQ(screen.steps.back().text, "8 photos added");
    EXPECT_EQ(screen.steps.back().icon, 105);
    EXPECT_FALSE(screen.locked);
    EXPECT_EQ(AppDelegate::shared().selectedImageFile, batch.at(0));
    EXPECT_TRUE(AppDelegate::shared().selectedMetatDataSettingObj->isReset);
}

// A camera raw file whose reader could not be started, or was killed from outside while it
// read the header, is refused with that said, as is its notice; only a file that ends its
// reader itself (a real crafted one on which the library aborts) goes as damaged.
TEST_F(IntakeTest, RawFilesWhoseReaderCouldNotReadThemSayWhy) {
    BRISKO_STARTS_A_PROCESS();
    const QString dng = testsupport::writeFile(path("raw/photo.dng"), testsupport::makeDng(testsupport::patchScene(64, 48)));
    const QString aborting = testsupport::writeFile(
        path("raw/model.3fr"), testsupport::sourceBytes("bench/fuzz/corpus/read_only_formats/raw_libraw_model_abort.3fr"));
    const QString notStarted = QStringLiteral("the program's reader for this kind of photo could not be started");
    const QString stopped = QStringLiteral(
        "the program's reader for this kind of photo was stopped from outside (by another program, or as the system "
        "ran short of memory)");
    const QString damagedNotice = QStringLiteral(
        "This photo cannot be read: its file is damaged or in a format Brisko Photos cannot open. It will not be "
        "processed.");
    const struct {
        const char* what;
        const char* hook;
        bool killed;
        QString file;
        QString line;
        QString notice;
    } cases[] = {
        {"no reader could be started", "unstartable", false, dng, "photo.dng (" + notStarted + ")",
         "This photo cannot be read: " + notStarted + ". It will not be processed."},
        {"its reader was killed", "pause=20000", true, dng, "photo.dng (" + stopped + ")",
         "This photo cannot be read: " + stopped + ". It will not be processed."},
        {"the file ended its reader", "", false, aborting, "model.3fr", damagedNotice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AppDelegate::shared().resetToLaunchValues();
        screen.alerts.clear();
        testsupport::HelperHook hook(c.hook);
        std::optional<testsupport::HelperKiller> killer;
        if (c.killed) killer.emplace();
        add({c.file});
        EXPECT_TRUE(batchPaths().isEmpty());
        ASSERT_EQ(screen.alerts.size(), 1u);
        EXPECT_EQ(screen.alerts[0].title, "FILE CANNOT BE ADDED");
        EXPECT_TRUE(screen.alerts[0].message.endsWith("\n\n" + c.line)) << screen.alerts[0].message.toStdString();
        EXPECT_EQ(intake::unavailablePhotoText(c.file), c.notice);
    }
}

TEST_F(IntakeTest, DuplicateGuardAndItsAlerts) {
    const QString a = photo(path("a.jpg")), b = photo(path("b.jpg"));
    add({a});
    EXPECT_EQ(batchPaths(), QStringList{a});

    add({a});  // once more: nothing new
    EXPECT_EQ(batchPaths(), QStringList{a});
    ASSERT_EQ(screen.alerts.size(), 1u);
    EXPECT_EQ(screen.alerts.back(), (IntakeAlert{"PHOTO EXISTS", "Photo already exists in batch!"}));

    add({b});
    add({a, b});
    ASSERT_EQ(screen.alerts.size(), 2u);
    EXPECT_EQ(screen.alerts.back(), (IntakeAlert{"PHOTOS EXISTS", "Photos already exist in batch!"}));

    // Some new, some present: the new ones go in and the others are reported after, as
    // present rather than as damaged.
    const QString c = photo(path("c.jpg"));
    add({a, c});
    EXPECT_EQ(batchPaths(), (QStringList{a, b, c}));
    EXPECT_EQ(screen.alerts.back(), (IntakeAlert{"PHOTO EXISTS", "Photo already exists in batch!"}));
    // With a refused file among them, the refused file is named and the present one counted.
    testsupport::writeFile(path("note.jpg"), "not a photo");
    const QString d = photo(path("d.jpg"));
    add({a, path("note.jpg"), d});
    EXPECT_EQ(screen.alerts.back(),
              (IntakeAlert{"FILE CANNOT BE ADDED", "File cannot be added. It is either damaged or not supported by "
                                                   "application.\n\nnote.jpg\n\n1 photo was already in the batch."}));
    EXPECT_EQ(ends, 6);

    // A new batch: the screen forgets the guard and the same files go in again.
    AppDelegate::shared().arraySelectedImagesToProcess.clear();
    intake->dictFileAdded.clear();
    add({a});
    EXPECT_EQ(batchPaths(), QStringList{a});
}

TEST_F(IntakeTest, LimitIsPerAdd) {
    make(3);
    QStringList three;
    for (int i = 0; i < 3; ++i) three << photo(path(QStringLiteral("f%1.jpg").arg(i)));
    add(three);
    EXPECT_EQ(batchPaths().size(), 3);

    QStringList four;
    for (int i = 0; i < 4; ++i) four << photo(path(QStringLiteral("g%1.jpg").arg(i)));
    add(four);
    EXPECT_EQ(batchPaths().size(), 3);  // nothing of the refused add
    ASSERT_FALSE(screen.alerts.empty());
    EXPECT_EQ(screen.alerts.back(),
              (IntakeAlert{"PHOTOS LIMIT EXCEEDED", "Photo limit exceeded! A Batch of 3 photos can be processed at a time."}));

    // The same four as a folder trip it too; three more files after a full batch pass.
    QDir().mkpath(path("four"));
    for (int i = 0; i < 4; ++i) QFile::copy(four.at(i), path(QStringLiteral("four/%1.jpg").arg(i)));
    add({path("four")}, true);
    EXPECT_EQ(batchPaths().size(), 3);
    add(four.mid(0, 3));
    EXPECT_EQ(batchPaths().size(), 6);
    EXPECT_EQ(ends, 4);
}

TEST_F(IntakeTest, EndRunsOncePerAdd) {
    // A folder whose last file is not a photo.
    photo(path("f/a.jpg"));
    testsupport::writeFile(path("f/z.txt"), "x");
    add({path("f")}, true);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(screen.shown.size(), 1u);

    // A list that names one path twice, last.
    const QString b = photo(path("b.jpg"));
    add({b, b});
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(screen.shown.size(), 2u);
    EXPECT_EQ(batchPaths(), (QStringList{path("f/a.jpg"), b}));
    EXPECT_EQ(screen.steps.back().text, "1 photo added");  // counted once

    // A folder listing without sub-folders whose last file fails to read.
    photo(path("g/a.jpg"));
    testsupport::writeFile(path("g/b.jpg"), "damaged");
    add({path("g"), path("g")});
    EXPECT_EQ(ends, 3);
    EXPECT_EQ(screen.shown.size(), 3u);
    EXPECT_EQ(intake->damagedFileCount, 1);  // the folder named twice is judged once
    executor.runAll();
    EXPECT_EQ(screen.alerts.back().title, "FILE CANNOT BE ADDED");
}

TEST_F(IntakeTest, StopInTheMiddleKeepsWhatWasAdded) {
    QStringList files;
    for (int i = 0; i < 6; ++i) files << photo(path(QStringLiteral("s/%1.jpg").arg(i)));
    screen.onProgress = [this](const intake::IntakeProgress&) {
        if (intake->photosAdded == 2) intake->btnStopAddingTapped();
    };
    add({path("s")}, true);
    EXPECT_EQ(batchPaths(), files.mid(0, 2));
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(screen.shown.size(), 1u);
    EXPECT_FALSE(screen.locked);
    EXPECT_FALSE(intake->isAdding());
}

TEST_F(IntakeTest, RefusedPackageCountsNothingAndTheCountGoesOn) {
    QDir().mkpath(path("Broken.photolibrary/Masters"));  // no album data: no library
    const QString a = photo(path("a.jpg"));
    add({path("Broken.photolibrary"), a});
    EXPECT_EQ(batchPaths(), QStringList{a});
    EXPECT_EQ(intake->totalPhotoToAdd, 1);
}

TEST_F(IntakeTest, NothingToAddAndOnlyDamagedFiles) {
    QDir().mkpath(path("empty"));
    add({path("empty")}, true);
    ASSERT_EQ(screen.alerts.size(), 1u);
    EXPECT_EQ(screen.alerts.back(), (IntakeAlert{"NO PHOTOS TO ADD", "There are no new photos to add"}));
    EXPECT_TRUE(screen.shown.empty());  // nothing to show: the batch stays as it was

    // A named file that is gone is one that cannot be added.
    add({path("missing.jpg")});
    ASSERT_EQ(screen.alerts.size(), 2u);
    EXPECT_EQ(screen.alerts.back().title, "FILE CANNOT BE ADDED");

    testsupport::writeFile(path("a.txt"), "x");
    testsupport::writeFile(path("b.txt"), "x");
    add({path("a.txt"), path("b.txt")});
    ASSERT_EQ(screen.alerts.size(), 3u);
    EXPECT_EQ(screen.alerts.back().title, "FILES CANNOT BE ADDED");
    EXPECT_EQ(ends, 3);
    EXPECT_TRUE(batchPaths().isEmpty());
}

// A named pipe where a photo would be is no photo: a folder holding one adds its photos
// and ends, with sub-folders or without, and one named on its own is refused at once;
// none of it waits on the pipe for a writer.
TEST_F(IntakeTest, ANamedPipeIsNoPhotoAndHoldsUpNoAdd) {
    const QString folder = path("with pipe");
    for (const char* name : {"a.jpg", "b.jpg"})
        testsupport::writeFile(folder + '/' + name, testsupport::readFile(testsupport::packagedPicture(
                                                        testsupport::kDesktopPhotos + "nature/FreshFlower.jpg")));
    const testsupport::NamedPipe pipe(folder + "/c.jpg");
    ASSERT_TRUE(pipe.made());
    for (const bool subFolders : {false, true}) {
        SCOPED_TRACE(subFolders ? "with sub-folders" : "without sub-folders");
        AppDelegate::shared().arraySelectedImagesToProcess.clear();
        intake->dictFileAdded.clear();
        screen.alerts.clear();
        add({folder}, subFolders);
        EXPECT_EQ(batchPaths(), (QStringList{folder + "/a.jpg", folder + "/b.jpg"}));
        EXPECT_EQ(intake->totalPhotoToAdd, 2);
        EXPECT_EQ(screen.steps.back().text, "2 photos added");
        EXPECT_TRUE(screen.alerts.empty());
    }
    add({folder + "/c.jpg"});
    ASSERT_EQ(screen.alerts.size(), 1u);
    EXPECT_EQ(screen.alerts.back().title, "FILE CANNOT BE ADDED");
    EXPECT_EQ(intake->refusedFileNames(), QStringList{"c.jpg"});
    EXPECT_EQ(ends, 3);
    EXPECT_FALSE(pipe.released()) << "a reader waited on the pipe";
}

TEST_F(IntakeTest, DateFilterBoundsAreInclusive) {
    const QDateTime from(QDate(2024, 3, 1), QTime(10, 0)), to(QDate(2024, 3, 1), QTime(18, 0));
    QHash<QString, QDateTime> dates;
    const struct {
        const char* name;
        QDateTime date;
        bool in;
    } cases[] = {{"before.jpg", from.addSecs(-1), false}, {"at-from.jpg", from, true},
                 {"inside.jpg", from.addSecs(3600), true}, {"at-to.jpg", to, true},
                 {"after.jpg", to.addSecs(1), false},      {"undated.jpg", QDateTime(), false}};
    QStringList expected;
    for (const auto& c : cases) {
        const QString p = photo(path(QStringLiteral("d/") + c.name));
        dates.insert(p, c.date);
        if (c.in) expected << p;
    }
    intake->setPhotoDateSource([dates](const QString& p) { return dates.value(p); });
    intake->isAddFromSubFolderSelected = true;
    intake->isAddingWithFilter = true;
    intake->datePickerFromDate = from;
    intake->datePickerToDate = to;
    ASSERT_TRUE(intake->addPhotosFromPaths({path("d")}));
    executor.runAll();
    expected.sort();
    QStringList got = batchPaths();
    got.sort();
    EXPECT_EQ(got, expected);
    EXPECT_EQ(intake->totalPhotoToAdd, 3);
    EXPECT_TRUE(screen.alerts.empty());
}

TEST_F(IntakeTest, SecondAddWhileOneRunsIsRefused) {
    const QString a = photo(path("a.jpg"));
    intake->selectedFileType = intake::kAllFileTypes;
    ASSERT_TRUE(intake->addPhotosFromPaths({a}));
    EXPECT_FALSE(intake->addPhotosFromPaths({a}));
    executor.runAll();
    EXPECT_EQ(batchPaths(), QStringList{a});
    EXPECT_EQ(ends, 1);
}

// Real threads: a 200-photo add, the main thread pumping its event loop meanwhile. Built
// with -fsanitize=thread this shows any unsynchronised sharing between the three threads.
TEST(IntakeThreads, TwoHundredPhotosOnRealQueues) {
    AppDelegate::shared().resetToLaunchValues();
    QTemporaryDir dir;
    QStringList expected;
    for (int i = 0; i < 200; ++i)
        expected << photo(dir.filePath(QStringLiteral("p/%1/%2.jpg").arg(i / 50).arg(i % 50, 3, 10, QLatin1Char('0'))));
    ThreadedIntakeExecutor executor;
    RecordingPresenter screen;
    int ends = 0;
    {
        PhotoIntake intake(executor);
        intake.setPresenter(&screen);
        intake.setProgressSink(&screen);
        QEventLoop loop;
        QObject::connect(&intake, &PhotoIntake::addEnded, [&] {
            ++ends;
            loop.quit();
        });
        int appended = 0;
        QObject::connect(&intake, &PhotoIntake::photoAppended, [&](int index) { EXPECT_EQ(index, appended++); });
        intake.isAddFromSubFolderSelected = true;
        ASSERT_TRUE(intake.addPhotosFromPaths({dir.filePath("p")}));
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(appended, 200);
    }
    QStringList got;
    for (const auto& p : AppDelegate::shared().arraySelectedImagesToProcess) got << p->filePath;
    EXPECT_EQ(got, expected);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(screen.steps.size(), 200u);
    AppDelegate::shared().resetToLaunchValues();
}

// An add whose count or add runs out of memory on the intake's threads ends there: the photos
// added so far stay, the screen is given back and the user is told.
TEST(IntakeThreads, AnAddThatRunsOutOfMemoryEndsWithWhatItAddedAndSaysSo) {
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 3; ++i) paths << photo(dir.filePath(QStringLiteral("p%1.jpg").arg(i)));
    struct Case {
        const char* phase;
        bool dateFilter;  // the count reads each photo's date
        int addedBefore;  // photos added before the planted shortage
    };
    for (const Case& c : {Case{"the count", true, 0}, Case{"the add", false, 2}}) {
        SCOPED_TRACE(c.phase);
        AppDelegate::shared().resetToLaunchValues();
        ThreadedIntakeExecutor executor;
        RecordingPresenter screen;
        PhotoIntake intake(executor);
        intake.setPresenter(&screen);
        intake.setProgressSink(&screen);
        if (c.dateFilter) {
            intake.setPhotoDateSource([&](const QString& path) -> QDateTime {
                if (path == paths[2]) throw std::bad_alloc();
                return QDateTime::currentDateTime();
            });
            intake.isAddingWithFilter = true;
            intake.datePickerFromDate = QDateTime::currentDateTime().addDays(-1);
            intake.datePickerToDate = QDateTime::currentDateTime().addDays(1);
        } else {
            intake.setSourceReadHook([&](const QString& path) {
                if (path == paths[2]) throw std::bad_alloc();
            });
        }
        QEventLoop loop;
        int ends = 0;
        QObject::connect(&intake, &PhotoIntake::addEnded, [&] {
            ++ends;
            loop.quit();
        });
        ASSERT_TRUE(intake.addPhotosFromPaths(paths));
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(AppDelegate::shared().arraySelectedImagesToProcess.size(), c.addedBefore);
        ASSERT_FALSE(screen.alerts.empty());
        EXPECT_EQ(screen.alerts.front(), intake::addFailedAlert(true));
        EXPECT_FALSE(screen.locked);
        EXPECT_EQ(screen.shown.size(), 1u);
        EXPECT_FALSE(intake.isAdding());
    }
    AppDelegate::shared().resetToLaunchValues();
}

// Going away in the middle of an add neither hangs nor touches the dead intake.
TEST(IntakeThreads, DestroyedWhileAdding) {
    AppDelegate::shared().resetToLaunchValues();
    QTemporaryDir dir;
    for (int i = 0; i < 100; ++i) photo(dir.filePath(QStringLiteral("p/%1.jpg").arg(i)));
    ThreadedIntakeExecutor executor;
    {
        PhotoIntake intake(executor);
        intake.isAddFromSubFolderSelected = true;
        ASSERT_TRUE(intake.addPhotosFromPaths({dir.filePath("p")}));
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    EXPECT_LE(AppDelegate::shared().arraySelectedImagesToProcess.size(), 100);
    AppDelegate::shared().resetToLaunchValues();
}
