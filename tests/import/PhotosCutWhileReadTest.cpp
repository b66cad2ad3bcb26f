// Photos that another program (a sync client) cuts short and writes again while the
// add-photos screen reads them: real files of each kind, cut at a known moment of the read
// through the readers' hook, with the real reader behind the screen.
#include <QFile>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "import/PhotoSources.h"
#include "import/ui/ScreenImages.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Paths.h"
#include "records/AppliedFilter.h"
#include "records/SavedState.h"
#include "tests/import/AddPhotosScreenFixture.h"
#include "tests/support/PhotoSamples.h"

using addphotostest::AddPhotosScreenTest;

namespace {

// A photo that reads, and one of each kind that will be cut while it is read; every file's
// whole bytes are kept so the test can write it again as the sync client would.
struct CutBatch {
    QString good;
    QStringList cut;
    QHash<QString, QByteArray> whole;

    explicit CutBatch(const QString& folder) {
        static const QList<testsupport::PhotoOfAKind> kinds = testsupport::photosOfEachKind();
        good = intakefixtures::photo(folder + "/good.jpg");
        for (const auto& kind : kinds) {
            cut << testsupport::writeFile(folder + "/" + kind.fileName, kind.bytes);
            whole.insert(cut.last(), kind.bytes);
        }
    }
    // The reader's hook: each of the photos to cut loses all but its first page once its
    // file is open for reading.
    std::function<void(const QString&)> cutter() const {
        return [cut = cut](const QString& path) {
            if (cut.contains(path)) testsupport::cutToFirstPage(path);
        };
    }
    // JPEG and PNG say their size in their first bytes; a HEIC's and a DNG's header points
    // further into the file.
    static bool headerInFirstPage(const QString& path) {
        return path.endsWith(".jpg") || path.endsWith(".png");
    }
    void writeAllBack() const {
        for (const QString& path : cut) testsupport::writeFile(path, whole.value(path));
    }
    bool allWhole() const {
        for (const QString& path : cut) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly) || file.readAll() != whole.value(path)) return false;
        }
        return QFile::exists(good);
    }
};

}  // namespace

TEST_F(AddPhotosScreenTest, TilesOfPhotosCutWhileReadShowThemUnreadableUntilTheirFileIsWhole) {
    const CutBatch photos(path("cut"));
    add(QStringList{photos.good} + photos.cut);
    ASSERT_EQ(batchPaths().size(), 5);
    realThumbnails = true;
    reading.whileOpen = photos.cutter();
    timers.fire("scrollingEnd");
    grid.runAll();
    EXPECT_EQ(screenimages::nameOf(tile(0)->image()), "") << "the photo that reads shows its picture";
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(photos.cut[i - 1].toStdString());
        EXPECT_EQ(screenimages::nameOf(tile(i)->image()), screenimages::kNotAvailableBig);
        EXPECT_TRUE(tile(i)->toolTip().contains("cannot be read")) << tile(i)->toolTip().toStdString();
        EXPECT_TRUE(AppDelegate::shared().arraySelectedImagesToProcess[i]->isUnreadable);
    }
    // A click on one while it is still short gets the not-available alert, and keeps the
    // photo chosen before.
    auto* view = screen->collectionView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->rectForItemAtIndexPath({0, 3}).toRect().center() - view->documentVisibleRect().topLeft());
    EXPECT_EQ(screen->alertTitle(), "PHOTO NOT AVAILABLE");
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 0);
    QTest::mouseClick(button("btnNoOnAlert"), Qt::LeftButton);

    // The sync client has written them whole again: the next pass reads them, and a click
    // takes the photo.
    reading.whileOpen = nullptr;
    photos.writeAllBack();
    screen->collectionViewBoundsDidChange();
    timers.fire("scrollingEnd");
    grid.runAll();
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(photos.cut[i - 1].toStdString());
        EXPECT_EQ(screenimages::nameOf(tile(i)->image()), "");
        EXPECT_EQ(tile(i)->toolTip(), "");
        EXPECT_FALSE(AppDelegate::shared().arraySelectedImagesToProcess[i]->isUnreadable);
    }
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->rectForItemAtIndexPath({0, 3}).toRect().center() - view->documentVisibleRect().topLeft());
    EXPECT_FALSE(screen->isAlertShown()) << screen->alertTitle().toStdString();
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 3);
    EXPECT_EQ(batchPaths(), QStringList{photos.good} + photos.cut);
}

TEST_F(AddPhotosScreenTest, InfoOfAPhotoCutWhileItIsReadShowsItsFactsAndThatItCannotBeRead) {
    const CutBatch photos(path("info"));
    add(QStringList{photos.good} + photos.cut);
    realThumbnails = true;
    timers.fire("scrollingEnd");
    grid.runAll();
    ASSERT_EQ(screenimages::nameOf(tile(4)->image()), "");

    // Each file is being written again when its info button is pressed: the pop-up's read
    // finds it cut short. What is left is still a picture by its header when the header
    // lies in the first page; otherwise it is no picture at all.
    reading.whileOpen = photos.cutter();
    for (int i = 1; i <= 4; ++i) {
        const QString& photo = photos.cut[i - 1];
        SCOPED_TRACE(photo.toStdString());
        ASSERT_TRUE(platform::setModificationDate(photo, QDateTime::currentDateTime().addSecs(60)));
        screen->btnInfoTappedAtLocationInCollectionView({}, {0, i});
        EXPECT_EQ(screenimages::nameOf(tile(i)->image()), screenimages::kNotAvailableBig);
        if (!photos.headerInFirstPage(photo)) {
            EXPECT_FALSE(screen->infoWindow());
            EXPECT_EQ(screen->alertTitle(), "PHOTO NOT AVAILABLE");
            QTest::mouseClick(button("btnNoOnAlert"), Qt::LeftButton);
            continue;
        }
        ASSERT_TRUE(screen->infoWindow());
        EXPECT_FALSE(screen->isAlertShown());
        auto* notice = screen->infoWindow()->findChild<QLabel*>("lblUnavailableNotice");
        ASSERT_TRUE(notice);
        EXPECT_TRUE(notice->text().contains("cannot be read"));
        ASSERT_EQ(screen->arrMetaData().size(), 35);
        EXPECT_EQ(screen->arrMetaData()[0].value, platform::lastPathComponent(photo));
        screen->removeInfoPopupWindow();
    }
    EXPECT_EQ(batchPaths(), QStringList{photos.good} + photos.cut);
}

TEST_F(AddPhotosScreenTest, LastSessionWhosePhotosAreCutWhileReadLoadsItsStepsAndEveryPhotoThatReads) {
    const CutBatch photos(path("session"));
    auto& app = AppDelegate::shared();
    app.arrayAppliedFilters = {std::make_shared<AppliedFilter>()};
    app.arrayAppliedFilters.first()->filterName = "CISepiaTone";
    for (const QString& p : QStringList{photos.good} + photos.cut)
        app.arraySelectedImagesToProcess.append(PhotoFile::initWithFileUrl(p, false));
    ASSERT_TRUE(SavedState::saveProjectSessionToDefault(app, *defaults));
    app.resetToLaunchValues();

    screen->intake().setSourceReadHook(photos.cutter());
    loadLastSession();
    realThumbnails = true;
    timers.fire("scrollingEnd");
    grid.runAll();

    // A photo cut under the reader whose size was read before the cut is in, its tile saying
    // it cannot be read; one whose size was not stays out, named in the alert. The steps
    // are loaded, and the session stays to be loaded again.
    const QStringList in = batchPaths();
    EXPECT_EQ(in.first(), photos.good);
    EXPECT_EQ(screen->alertTitle(), "FILES CANNOT BE ADDED");
    for (const QString& photo : photos.cut) {
        SCOPED_TRACE(photo.toStdString());
        const int index = int(in.indexOf(photo));
        EXPECT_EQ(index >= 0, photos.headerInFirstPage(photo));
        if (index >= 0) EXPECT_EQ(screenimages::nameOf(tile(index)->image()), screenimages::kNotAvailableBig);
        else EXPECT_TRUE(screen->alertMessage().contains("\n" + platform::lastPathComponent(photo)));
    }
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    EXPECT_EQ(app.arrayAppliedFilters.first()->filterName, "CISepiaTone");
    EXPECT_TRUE(intake::hasLastSession(*defaults));
    EXPECT_FALSE(screen->isLoadingShown());

    // Once the files are whole, loading the session again on the next launch takes them all.
    photos.writeAllBack();
    ASSERT_TRUE(photos.allWhole());
    delete screen;
    app.resetToLaunchValues();
    screen = makeScreen();
    loadLastSession();
    EXPECT_EQ(batchPaths(), QStringList{photos.good} + photos.cut);
}
