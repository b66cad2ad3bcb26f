// The add-photos screen driven through its widgets offscreen, with the queues, the
// thumbnail workers, the timers and the file manager standing in.
#include <QApplication>
#include <limits>
#include <QListView>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTableWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <functional>
#include <map>

#include "engine/Utils.h"
#include "import/ui/AddPhotosVC.h"
#include "import/ui/BatchListModel.h"
#include "import/ui/DropArea.h"
#include "import/ui/GridCell.h"
#include "import/ui/PhotoThumbnailCell.h"
#include "import/PhotoSources.h"
#include "records/AppliedFilter.h"
#include "import/ui/ScreenImages.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/PhotoSamples.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "tests/import/AddPhotosScreenFixture.h"
#include "tests/support/FocusRings.h"
#include "tests/import/IntakeFixtures.h"
#include "ui/AttachedWindow.h"

using addphotostest::AddPhotosScreenTest;

namespace {

TEST_F(AddPhotosScreenTest, DropOfAFolderAddsPhotosInOrderAndSelectsTheFirst) {
    const QStringList made = photos("drop", 3);
    testsupport::writeFile(path("drop/readme.txt"), "not a photo");
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(path("drop"))});
    EXPECT_TRUE(screen->dropArea()->performDragOperation(mime));
    executor.runAll();
    QApplication::processEvents();
    delete mime;

    EXPECT_EQ(batchPaths(), made);
    EXPECT_TRUE(screen->isAlertShown());
    EXPECT_EQ(screen->alertTitle(), "FILE CANNOT BE ADDED");
    EXPECT_TRUE(screen->footerText().startsWith("Batch Count: 3  |  Batch Size: ")) << screen->footerText().toStdString();
    // The footer stands at the right, grey (184 of 255) with its figures in white.
    auto* footer = screen->findChild<QLabel*>("lblFooter");
    ASSERT_TRUE(footer);
    EXPECT_TRUE(footer->text().contains("color:#b8b8b8")) << footer->text().toStdString();
    const QImage footerShot = screen->grab(QRect(footer->mapTo(screen, QPoint(0, 0)), footer->size())).toImage();
    const int ground = qGray(footerShot.pixel(0, 0));
    int firstLit = footerShot.width(), lastLit = -1;
    for (int x = 0; x < footerShot.width(); ++x)
        for (int y = 0; y < footerShot.height(); ++y)
            if (std::abs(qGray(footerShot.pixel(x, y)) - ground) > 60) firstLit = std::min(firstLit, x), lastLit = x;
    EXPECT_GT(firstLit, footerShot.width() / 3) << "right-aligned in a label " << footerShot.width() << " wide";
    EXPECT_GT(lastLit, footerShot.width() - 30);
    EXPECT_FALSE(screen->dropArea()->isVisibleTo(screen));
    ASSERT_TRUE(screen->collectionView()->isVisibleTo(screen));
    const auto selected = screen->collectionView()->indexPathsForSelectedItems();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0].item, 0);
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 0);
    EXPECT_EQ(tile(0)->fileName(), "p000.jpg");
    EXPECT_TRUE(tile(0)->fileDimension().startsWith("Dimensions 32 X 24"));
    EXPECT_FALSE(tile(0)->checkImage().isNull());  // the selected look
    EXPECT_TRUE(screen->nextButton()->isEnabled());
    // The grid paints the screen's colour between its tiles (it is opaque, so nothing
    // left from the progress panel or a scroll can show through).
    const QImage shot = screen->collectionView()->viewport()->grab().toImage();
    const QRect first = screen->collectionView()->rectForItemAtIndexPath({0, 0}).toRect();
    ASSERT_GT(first.left(), 2);
    EXPECT_EQ(shot.pixelColor(first.left() / 2, first.center().y()), QColor(0x1b, 0x1b, 0x1b));
}

TEST_F(AddPhotosScreenTest, GridLoadsVisibleTilesOnlyAfterScrollingSettles) {
    const QStringList made = photos("many", 60);
    add({path("many")});
    const int visible = int(screen->collectionView()->indexPathsForVisibleItems().size());
    ASSERT_GT(visible, 0);
    ASSERT_LT(visible, 60);
    EXPECT_TRUE(grid.jobs.empty());  // nothing until scrolling has paused
    timers.fire("scrollingEnd");
    EXPECT_EQ(int(grid.jobs.size()), visible);
    grid.runAll();
    EXPECT_EQ(thumbnailsMade.size(), visible);
    EXPECT_EQ(screenimages::nameOf(tile(0)->image()), "");
    EXPECT_EQ(tile(0)->image().size(), QSize(404, 414));
    EXPECT_EQ(screen->cachedThumbnailCount(), visible);

    // Loads queued before a scroll do nothing; the scroll's own pass loads the new tiles.
    screen->collectionView()->scrollToItemAtIndexPath({0, 59}, CollectionView::ScrollBottom);
    timers.fire("scrollingEnd");
    screen->collectionView()->scrollToItemAtIndexPath({0, 30}, CollectionView::ScrollMiddle);
    thumbnailsMade.clear();
    grid.runAll();
    EXPECT_TRUE(thumbnailsMade.isEmpty());
    timers.fire("scrollingEnd");
    grid.runAll();
    for (const IndexPath& p : screen->collectionView()->indexPathsForVisibleItems())
        EXPECT_EQ(screenimages::nameOf(tile(p.item)->image()), "") << p.item;
}

TEST_F(AddPhotosScreenTest, ReloadWhileLoadingShowsNoStaleThumbnail) {
    add(photos("first", 4));
    timers.fire("scrollingEnd");
    ASSERT_EQ(grid.jobs.size(), 4u);
    auto oldJobs = std::move(grid.jobs);
    grid.jobs.clear();
    // Finish the old decodes before the batch changes, hand them back after.
    std::vector<ThumbnailWorkers::MainStep> steps;
    for (auto& job : oldJobs) steps.push_back(job());

    screen->btnOnRemovePhotoPopupTapped(1);
    screen->btnYesOnRemoveAllPhotoTapped();
    add(photos("second", 4));
    for (auto& step : steps) step();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(screenimages::nameOf(tile(i)->image()), screenimages::kPlaceHolder) << i;
    EXPECT_EQ(screen->cachedThumbnailCount(), 0);
}

TEST_F(AddPhotosScreenTest, InfoPopupRowsOfAPhotoWithExifGpsAndIptc) {
    const QVariantMap props{
        {"{TIFF}", QVariantMap{{"Make", "Brisko"}, {"Model", "TC-1"}}},
        {"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"}, {"FocalLength", 4.2}, {"DigitalZoomRatio", 1.0}}},
        {"{GPS}", QVariantMap{{"Latitude", 48.8584}, {"LatitudeRef", "N"}, {"Longitude", 2.2945}, {"LongitudeRef", "E"}, {"Altitude", 35.0}}},
        {"{IPTC}", QVariantMap{{"Keywords", QVariantList{"tower", "night"}}}},
    };
    const QString tagged = path("tagged.jpg");
    ASSERT_TRUE(platform::writeImageFile(tagged, testsupport::gradientImage(64, 48), platform::ImageType::JPEG, 0.9, props));
    const QString bare = intakefixtures::photo(path("bare.jpg"));
    add({tagged, bare});

    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 0});
    ASSERT_TRUE(screen->infoWindow());
    const auto& rows = screen->arrMetaData();
    ASSERT_EQ(rows.size(), 35);
    EXPECT_EQ(rows[0].title, CommonFunc::getLocalizedStringForKey("ID_FILE_NAME"));
    EXPECT_EQ(rows[0].value, "tagged.jpg");
    EXPECT_EQ(rows[1].value, tagged);
    EXPECT_EQ(rows[8].value, "tower,night");
    EXPECT_EQ(rows[12].value, "1.00");
    EXPECT_EQ(rows[16].value, "4.2 mm");
    EXPECT_EQ(rows[25].value, "Brisko");
    EXPECT_EQ(rows[26].value, "TC-1");
    EXPECT_EQ(rows[32].value, "35.00 m");
    EXPECT_EQ(rows[33].value, "48° 51' 30'' N");
    EXPECT_EQ(rows[34].value, "2° 17' 40'' E");
    auto* table = screen->infoWindow()->findChild<QTableWidget*>("tvMetaData");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->rowCount(), 35);
    EXPECT_EQ(table->item(25, 1)->text(), ":      Brisko");

    // Another photo's button replaces the pop-up; a photo without metadata shows "---".
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 1});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(host.findChildren<AttachedWindow*>().size(), 1);
    for (int row : {13, 16, 25, 26, 28, 33, 34}) EXPECT_EQ(screen->arrMetaData()[row].value, "---") << row;
    EXPECT_EQ(screen->arrMetaData()[32].value, "0.00 m");
    EXPECT_EQ(photoinfo::getPositioninlatitudelongitude(-33.8568, "S"), "33° 51' 24'' S");

    // Opened just after a view switch, it stays open while the grid is laid out anew (the
    // shown grid takes its size, the window is resized): only a scroll closes it.
    screen->changePhotosViewImageMode(1, false);
    screen->changePhotosViewImageMode(0, false);
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 1});
    QApplication::processEvents();
    screen->resize(screen->width() - 240, screen->height() - 100);
    QApplication::processEvents();
    EXPECT_TRUE(screen->infoWindow());
    // A grid scroll closes it, and its outside-press watcher goes with it.
    photos("more", 40);
    add({path("more")});
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 0});
    ASSERT_TRUE(screen->infoWindow());
    screen->collectionView()->scrollToPoint({0, 200});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(screen->infoWindow());
    EXPECT_TRUE(host.findChildren<AttachedWindow*>().isEmpty());
}

// Phone, web and camera raw photos are added like JPEGs: their tiles give the upright
// size, a click selects them (no "not available" alert), and the info pop-up shows their
// camera and capture date.
TEST_F(AddPhotosScreenTest, PhoneWebAndRawPhotosAreAddedSelectedAndDescribed) {
    const QImage stored = testsupport::patchScene(96, 64);
    const QByteArray exif = testsupport::exifBlock({{QStringLiteral("Exif.Image.Orientation"), 6},
                                                    {QStringLiteral("Exif.Image.Make"), QStringLiteral("Acme")},
                                                    {QStringLiteral("Exif.Image.Model"), QStringLiteral("Phone 12")},
                                                    {QStringLiteral("Exif.Photo.DateTimeOriginal"), QStringLiteral("2021:07:04 10:20:30")}});
    testsupport::HeifSample heif;
    heif.orientation = 6;
    heif.exif = exif;
    testsupport::WebpSample webp;
    webp.exif = exif;
    testsupport::DngSample dng;
    dng.orientation = 6;
    dng.model = QStringLiteral("Phone 12");
    dng.dateTimeOriginal = QStringLiteral("2021:07:04 10:20:30");
    testsupport::writeFile(path("mixed/a.heic"), testsupport::makeHeif(stored, heif));
    testsupport::writeFile(path("mixed/b.webp"), testsupport::makeWebp(stored, webp));
    testsupport::writeFile(path("mixed/c.dng"), testsupport::makeDng(stored, dng));
    add({path("mixed")});
    ASSERT_EQ(batchPaths(), (QStringList{path("mixed/a.heic"), path("mixed/b.webp"), path("mixed/c.dng")}));
    EXPECT_FALSE(screen->isAlertShown());

    auto* grid = screen->collectionView();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(tile(i)->fileDimension().startsWith("Dimensions 64 X 96")) << tile(i)->fileDimension().toStdString();
        const QPoint centre = grid->rectForItemAtIndexPath({0, i}).toRect().center() - grid->documentVisibleRect().topLeft();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
        EXPECT_FALSE(screen->isAlertShown()) << screen->alertTitle().toStdString();
        EXPECT_EQ(AppDelegate::shared().selectedImageIndex, i);

        screen->btnInfoTappedAtLocationInCollectionView({}, {0, i});
        ASSERT_TRUE(screen->infoWindow());
        const auto& rows = screen->arrMetaData();
        EXPECT_EQ(rows[9].value, "64 x 96");
        EXPECT_EQ(rows[25].value, "Acme");
        EXPECT_EQ(rows[26].value, "Phone 12");
        EXPECT_TRUE(rows[13].value.contains("2021")) << rows[13].value.toStdString();
    }
}

TEST_F(AddPhotosScreenTest, RemoveSelectedAndAllWithTheirAlerts) {
    const QStringList made = photos("rm", 4);
    add(made);
    screen->changePhotosViewImageMode(1, false);
    EXPECT_EQ(screen->arrTableSelectedRows, QList<int>{0});  // the grid's selection, carried over
    screen->listRowClicked(0, BatchListModel::CheckColumn);  // a second click unchecks
    screen->listRowClicked(1, BatchListModel::CheckColumn);
    screen->listRowClicked(3, BatchListModel::CheckColumn);
    // The checks become the grid's selection, exactly, and come back as checks.
    screen->changePhotosViewImageMode(0, false);
    std::vector<int> tiles;
    for (const IndexPath& p : screen->collectionView()->indexPathsForSelectedItems()) tiles.push_back(p.item);
    EXPECT_EQ(tiles, (std::vector<int>{1, 3}));
    screen->changePhotosViewImageMode(1, false);
    EXPECT_EQ(screen->arrTableSelectedRows, (QList<int>{1, 3}));
    screen->btnRemoveTapped();
    ASSERT_TRUE(screen->removePhotoWindow());
    QTest::mouseClick(button("btnRemoveSelected"), Qt::LeftButton);
    EXPECT_EQ(screen->alertTitle(), "REMOVE SELECTED PHOTOS");
    EXPECT_EQ(screen->alertMessage(), "Remove selected photos from Batch?");
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    QTest::mouseClick(button("btnYesOnAlert"), Qt::LeftButton);
    EXPECT_EQ(batchPaths(), (QStringList{made[0], made[2]}));
    EXPECT_TRUE(screen->arrTableSelectedRows.isEmpty());  // no check the user did not make
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 0);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_FALSE(screen->intake().dictFileAdded.contains(made[1]));
    EXPECT_TRUE(screen->intake().dictFileAdded.contains(made[0]));
    EXPECT_EQ(screenimages::nameOf(screen->listModel()->data(screen->listModel()->index(0, 0), Qt::DecorationRole).value<QImage>()),
              screenimages::kUnchecked);

    screen->btnOnRemovePhotoPopupTapped(0);
    EXPECT_EQ(screen->alertTitle(), "NO PHOTO TO DELETE");
    EXPECT_EQ(screen->alertMessage(), "No Photo selected to Delete.");
    QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);
    EXPECT_EQ(batchPaths().size(), 2);

    screen->btnOnRemovePhotoPopupTapped(1);
    EXPECT_EQ(screen->alertTitle(), "REMOVE ALL PHOTOS");
    EXPECT_EQ(screen->alertMessage(), "Remove all photos from the Batch?");
    QTest::mouseClick(button("btnNoOnAlert"), Qt::LeftButton);
    EXPECT_EQ(batchPaths().size(), 2);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    screen->btnOnRemovePhotoPopupTapped(1);
    QTest::mouseClick(button("btnYesOnAlert"), Qt::LeftButton);
    EXPECT_TRUE(batchPaths().isEmpty());
    EXPECT_FALSE(AppDelegate::shared().selectedImageFile);
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, -1);
    EXPECT_TRUE(screen->intake().dictFileAdded.isEmpty());
    EXPECT_TRUE(screen->dropArea()->isVisibleTo(screen));

    add({made[0]});
    screen->btnOnRemovePhotoPopupTapped(1);
    EXPECT_EQ(screen->alertTitle(), "REMOVE  PHOTO");
    EXPECT_EQ(screen->alertMessage(), "Remove  photo from the Batch?");
}

TEST_F(AddPhotosScreenTest, ContextMenuEntriesGoToTheFileManager) {
    const QStringList made = photos("menu", 3);
    add(made);
    screen->showMenuOptionsAtLocation({100, 100}, 1);
    QTest::mouseClick(button("btnReviealInFinder"), Qt::LeftButton);
    EXPECT_FALSE(screen->menuOptionsWindow());
    screen->showMenuOptionsAtLocation({100, 100}, 2);
    QTest::mouseClick(button("btnShowPreview"), Qt::LeftButton);
    screen->showMenuOptionsAtLocation({100, 100}, 0);
    QTest::mouseClick(button("btnGetInfo"), Qt::LeftButton);
    EXPECT_EQ(files.calls, (QStringList{"reveal " + made[1], "open " + made[2], "info " + made[0]}));

    // A right click on a list row opens the menu; the row becomes the checked one unless
    // it was checked already, and then the checks stay.
    screen->changePhotosViewImageMode(1, false);
    screen->arrTableSelectedRows = {0, 2};
    const QRect row = screen->tableView()->visualRect(screen->listModel()->index(2, 1));
    QTest::mouseClick(screen->tableView()->viewport(), Qt::RightButton, {}, row.center());
    ASSERT_TRUE(screen->menuOptionsWindow());
    EXPECT_EQ(screen->arrTableSelectedRows, (QList<int>{0, 2}));
    const QRect other = screen->tableView()->visualRect(screen->listModel()->index(1, 1));
    QTest::mouseClick(screen->tableView()->viewport(), Qt::RightButton, {}, other.center());
    EXPECT_EQ(screen->arrTableSelectedRows, QList<int>{1});
    QTest::mouseClick(screen->tableView()->viewport(), Qt::RightButton, {}, row.center());
    // The photo left the batch while the menu was open: nothing happens.
    AppDelegate::shared().arraySelectedImagesToProcess.removeLast();
    screen->btnOnMenuOptionTapped(0);
    EXPECT_EQ(files.calls.size(), 3);
    EXPECT_TRUE(screen->menuOptionsWindow());
}

TEST_F(AddPhotosScreenTest, TipChainAdvancesAndIsRemembered) {
    screen->viewWillAppear();
    timers.fire("tip0");
    ASSERT_TRUE(screen->tipsPopUpWindow());
    EXPECT_EQ(screen->currentTips(), 0);
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_FALSE(screen->dropArea()->acceptDrops());
    QTest::mouseClick(button("btnNextOnTips"), Qt::LeftButton);
    EXPECT_FALSE(screen->tipsPopUpWindow());
    EXPECT_TRUE(screen->dropArea()->acceptDrops());
    timers.fire("tip1");
    EXPECT_EQ(screen->currentTips(), 1);
    QTest::mouseClick(button("btnGotItOnTips"), Qt::LeftButton);
    EXPECT_FALSE(timers.has("tip2"));  // tip 2 waits for an add
    add(photos("tips", 1));
    timers.fire("tip2");
    EXPECT_EQ(screen->currentTips(), 2);
    QTest::mouseClick(button("btnGotItOnTips"), Qt::LeftButton);
    EXPECT_TRUE(defaults->containsKey("tips_addPhotosView"));
    EXPECT_FALSE(defaults->containsKey("tips_isDisable"));
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // The next launch shows no tip; a check at any close switches every tip off.
    delete screen;
    screen = makeScreen();
    screen->viewWillAppear();
    timers.fire("tip0");
    EXPECT_FALSE(screen->tipsPopUpWindow());
    defaults->removeObjectForKey("tips_addPhotosView");
    screen->showTipsWithTag(2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto* check = host.findChild<QCheckBox*>("checkDisableTips");
    ASSERT_TRUE(check);
    check->setChecked(true);
    QTest::mouseClick(button("btnGotItOnTips"), Qt::LeftButton);
    EXPECT_TRUE(defaults->containsKey("tips_isDisable"));
    defaults->removeObjectForKey("tips_addPhotosView");
    screen->showTipsWithTag(2);
    EXPECT_FALSE(screen->tipsPopUpWindow());
}

TEST_F(AddPhotosScreenTest, AnAddBeforeTheFirstTipKeepsTheWholeChainInOrder) {
    screen->viewWillAppear();
    // Photos arrive before the first tip's turn: its own timer still runs, and the tip
    // after an add waits for the first two.
    add(photos("early", 2));
    ASSERT_TRUE(timers.has("tip0"));
    timers.fire("tip2");
    EXPECT_FALSE(screen->tipsPopUpWindow());
    timers.fire("tip0");
    ASSERT_TRUE(screen->tipsPopUpWindow());
    EXPECT_EQ(screen->currentTips(), 0);
    // The drop area is gone: the tip points at the button that leads to the same ways in.
    QPushButton* addMore = host.findChild<QPushButton*>("btnAddmorePhotos");
    const QPoint below = addMore->mapTo(screen->window(), QPoint(addMore->width() / 2, addMore->height()));
    EXPECT_LT((screen->tipsPopUpWindow()->attachedPoint() - below).manhattanLength(), 3);
    QTest::mouseClick(button("btnNextOnTips"), Qt::LeftButton);
    timers.fire("tip1");
    EXPECT_EQ(screen->currentTips(), 1);
    QTest::mouseClick(button("btnGotItOnTips"), Qt::LeftButton);
    timers.fire("tip2");
    ASSERT_TRUE(screen->tipsPopUpWindow());
    EXPECT_EQ(screen->currentTips(), 2);
}

TEST_F(AddPhotosScreenTest, BusyFlagOverlayAndNextAfterAFailure) {
    // Showing the overlay twice keeps it up; the flag stays while another sheet is open.
    add(photos("busy", 2));
    screen->showLoading(true);
    screen->showLoading(true);
    EXPECT_TRUE(screen->isLoadingShown());
    screen->btnOnRemovePhotoPopupTapped(1);  // nothing while busy
    EXPECT_FALSE(screen->isAlertShown());
    screen->showLoading(false);
    screen->btnOnRemovePhotoPopupTapped(1);
    screen->showLoading(true);
    screen->showLoading(false);
    EXPECT_FALSE(screen->isLoadingShown());
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    screen->btnNoOnRemoveAllPhotoTapped();
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // Next with a vanished photo shows the alert and stays usable.
    struct Delegate : AddPhotosDelegate {
        int nexts = 0;
        void btnNextFromAddPhotosVcTapped() override { ++nexts; }
        void photosChangedNotification() override {}
    } delegate;
    screen->setDelegate(&delegate);
    const QString first = batchPaths()[0];
    QFile::remove(first);
    AppDelegate::shared().selectedImageFile.reset();
    screen->collectionView()->deselectAllItems();
    QTest::mouseClick(screen->nextButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.nexts, 0);
    EXPECT_EQ(screen->alertTitle(), "PHOTO NOT AVAILABLE");
    EXPECT_TRUE(screen->nextButton()->isEnabled());
    int removed = 0;
    center.addObserver("notificationRemovePhotosFromAddPhoto", [&](const platform::Notification&) { ++removed; });
    QTest::mouseClick(button("btnRemoveOnAlert"), Qt::LeftButton);
    EXPECT_EQ(batchPaths().size(), 1);
    EXPECT_EQ(removed, 1);
    QTest::mouseClick(screen->nextButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.nexts, 1);
    // An index outside the batch reaches no tile.
    screen->photoNotAvailableOnIndex(-1);
    screen->photoNotAvailableOnIndex(99);
    screen->selectedPhotoChangedNotification(99);
    screen->setDelegate(nullptr);
}

TEST_F(AddPhotosScreenTest, LastSessionSheetLoadsOrStartsNewOnTheFirstAppearanceOnly) {
    auto& app = AppDelegate::shared();
    const QStringList made = photos("session", 2);
    app.arrayAppliedFilters = {std::make_shared<AppliedFilter>()};
    app.arrayAppliedFilters.first()->filterName = "CISepiaTone";
    for (const QString& p : made) app.arraySelectedImagesToProcess.append(PhotoFile::initWithFileUrl(p, false));
    ASSERT_TRUE(SavedState::saveProjectSessionToDefault(app, *defaults));
    app.resetToLaunchValues();

    screen->viewWillAppear();
    EXPECT_FALSE(screen->isAlertShown());  // 0.4 s later
    timers.fire("lastSession");
    EXPECT_EQ(screen->alertTitle(), "LOAD LAST SESSION");
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    QTest::mouseClick(button("btnYesOnAlert"), Qt::LeftButton);
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths(), made);
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    EXPECT_EQ(app.arrayAppliedFilters.first()->filterName, "CISepiaTone");
    EXPECT_TRUE(screen->collectionView()->isVisibleTo(screen));
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    EXPECT_FALSE(screen->isLoadingShown());

    screen->viewWillAppear();  // later appearances ask nothing
    EXPECT_FALSE(timers.has("lastSession"));

    // A new screen (the next launch): Start New forgets the session.
    delete screen;
    app.resetToLaunchValues();
    screen = makeScreen();
    screen->viewWillAppear();
    timers.fire("lastSession");
    QTest::mouseClick(button("btnNoOnAlert"), Qt::LeftButton);
    EXPECT_FALSE(intake::hasLastSession(*defaults));
    EXPECT_TRUE(batchPaths().isEmpty());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
}

TEST_F(AddPhotosScreenTest, AddMorePopupLeadsToThePanelsAndTheDateFilterSheet) {
    add(photos("more", 1));
    QTest::mouseClick(host.findChild<QPushButton*>("btnAddmorePhotos"), Qt::LeftButton);
    QStringList offered;
    for (int row = 0; row < 4; ++row)
        if (QPushButton* b = button(QStringLiteral("addOption%1").arg(row))) offered << b->text();
    EXPECT_EQ(offered, intake::addPhotosOptions(AppDelegate::shared().isPHOTOS_APP_INSTALLED));
    // A press outside closes it.
    QTest::mouseClick(host.findChild<QLabel*>("lblFooter"), Qt::LeftButton);
    EXPECT_FALSE(button("addOption0"));

    // Files: the panel opens (never modal) and its cancel adds nothing and frees the screen.
    QTest::mouseClick(host.findChild<QPushButton*>("btnAddmorePhotos"), Qt::LeftButton);
    QTest::mouseClick(button("addOption0"), Qt::LeftButton);
    auto* panel = screen->findChild<QFileDialog*>("openPanel");
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    panel->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_FALSE(button("addOption0"));

    // With Filters: the date sheet first, and nothing while its dates are wrong.
    QTest::mouseClick(host.findChild<QPushButton*>("btnAddmorePhotos"), Qt::LeftButton);
    QTest::mouseClick(button("addOption2"), Qt::LeftButton);
    ASSERT_TRUE(screen->dateFilterSheet()->isVisible());
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    const QDateTime ten(QDate(2024, 3, 5), QTime(10, 0));
    screen->datePickerFromDate()->setDateTime(ten);
    screen->datePickerToDate()->setDateTime(ten);
    QTest::mouseClick(button("btnAddFilterOnPopup"), Qt::LeftButton);
    EXPECT_EQ(screen->dateFilterErrorText(), "* From Date cannot be greater than or equal to To Date.");
    EXPECT_TRUE(screen->dateFilterSheet()->isVisible());
    EXPECT_FALSE(screen->findChild<QFileDialog*>("openPanel"));
    screen->datePickerToDate()->setDateTime(ten.addSecs(-60));
    EXPECT_EQ(screen->dateFilterErrorText(), "");  // changing a date hides the text
    QTest::mouseClick(button("btnCloseOnPopup"), Qt::LeftButton);
    EXPECT_FALSE(screen->dateFilterSheet()->isVisible());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
}

TEST_F(AddPhotosScreenTest, DateFilterSheetAddsOnlyThePhotosWithinItsDates) {
    const QStringList made = photos("dated", 2);
    screen->intake().setPhotoDateSource([&](const QString& p) {
        return p == made[0] ? QDateTime(QDate(2020, 6, 1), QTime(12, 0)) : QDateTime(QDate(2023, 1, 1), QTime(9, 0));
    });
    QTest::mouseClick(host.findChild<QPushButton*>("btnAddWithFilterCenter"), Qt::LeftButton);
    ASSERT_TRUE(screen->dateFilterSheet()->isVisible());
    screen->datePickerFromDate()->setDateTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
    screen->datePickerToDate()->setDateTime(QDateTime(QDate(2021, 1, 1), QTime(0, 0)));
    QTest::mouseClick(button("btnAddFilterOnPopup"), Qt::LeftButton);
    EXPECT_FALSE(screen->dateFilterSheet()->isVisible());
    auto* panel = screen->findChild<QFileDialog*>("openPanel");
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->fileMode(), QFileDialog::Directory);
    panel->setDirectory(path("dated"));
    static_cast<QDialog*>(panel)->accept();  // OK pressed on the folder
    executor.runAll();
    QApplication::processEvents();
    EXPECT_TRUE(screen->intake().isAddingWithFilter);
    EXPECT_EQ(batchPaths(), QStringList{made[0]});
}

TEST_F(AddPhotosScreenTest, DropsOnTheGridAndTheListAddTheTopLevelOnly) {
    const QStringList top = photos("dropped", 2);
    const QStringList deep = photos("dropped/inner", 1);
    add({top[0]});
    auto dropOn = [](QWidget* target, const QStringList& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        mime.setUrls(urls);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        const bool accepted = enter.isAccepted();
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
        return accepted;
    };
    // The grid takes a drag only when its drop adds something: a text file shows no copy
    // cursor and adds nothing.
    testsupport::writeFile(path("notes.txt"), "text");
    EXPECT_FALSE(dropOn(screen->collectionView()->viewport(), {path("notes.txt")}));
    executor.runAll();
    EXPECT_EQ(batchPaths(), QStringList{top[0]});
    // The folder's own photos, not its sub-folder's; the one already there is refused.
    EXPECT_TRUE(dropOn(screen->collectionView()->viewport(), {path("dropped")}));
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths(), (QStringList{top[0], top[1]}));
    EXPECT_FALSE(batchPaths().contains(deep[0]));

    // The list: a text file first and no folder last is refused as a whole.
    screen->btnOkOnAlertWinTapped();
    screen->changePhotosViewImageMode(1, false);
    EXPECT_FALSE(dropOn(screen->tableView()->viewport(), {path("notes.txt"), deep[0]}));
    executor.runAll();
    EXPECT_EQ(batchPaths().size(), 2);
    EXPECT_TRUE(dropOn(screen->tableView()->viewport(), {deep[0]}));
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths(), (QStringList{top[0], top[1], deep[0]}));
    EXPECT_EQ(screen->listModel()->rowCount(), 3);

    // While the overlay is up nothing can be dropped.
    screen->showLoading(true);
    EXPECT_FALSE(dropOn(screen->tableView()->viewport(), {top[0]}));
    screen->showLoading(false);
}

TEST_F(AddPhotosScreenTest, DropAreaButtonsOpenTheirPanelsAndTheRingAnimates) {
    // Each way in opens the panel of its kind; a press elsewhere on the drop area opens none.
    auto panelAfter = [&](const std::function<void()>& press) {
        press();
        auto* panel = screen->findChild<QFileDialog*>("openPanel");
        if (!panel) return QString("none");
        const QString mode = panel->fileMode() == QFileDialog::Directory ? "folder" : "files";
        panel->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return mode;
    };
    auto* ring = screen->dropArea();
    const std::pair<const char*, std::function<void()>> presses[] = {
        {"files", [&] { QTest::mouseClick(host.findChild<QPushButton*>("btnAddPhotosCenter"), Qt::LeftButton); }},
        {"folder", [&] { QTest::mouseClick(host.findChild<QPushButton*>("btnAddFolderCenter"), Qt::LeftButton); }},
        {"folder", [&] { QTest::mouseClick(host.findChild<QLabel*>("addPhoto_icon"), Qt::LeftButton); }},
        {"folder", [&] { QTest::mouseClick(ring, Qt::LeftButton, {}, ring->ringCentre().toPoint()); }},
        {"none", [&] { QTest::mouseClick(ring, Qt::LeftButton, {}, QPoint(3, ring->height() - 3)); }},
    };
    for (const auto& [expected, press] : presses) EXPECT_EQ(panelAfter(press), expected);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // Frames 1 to 19, one a tick; the tick after 19 starts again, so 19 stays one tick longer.
    screen->dragImageAnimation();
    QList<int> frames;
    for (int tick = 0; tick < 22; ++tick) {
        timers.fire("dragImageAnimation");
        frames << ring->animationFrame();
    }
    QList<int> expected;
    for (int f = 1; f <= 19; ++f) expected << f;
    expected << 19 << 1 << 2;
    EXPECT_EQ(frames, expected);
}

TEST_F(AddPhotosScreenTest, ProgressAndAlertsOverABatchHoldTheBusyFlag) {
    auto& app = AppDelegate::shared();
    auto countOnly = [&](const QStringList& paths) {
        screen->intake().isAddFromSubFolderSelected = true;
        screen->intake().addPhotosFromPaths(paths);
        auto count = std::move(executor.queued.front());  // the count, then the decision
        executor.queued.pop_front();
        count();
    };
    // Into an empty batch the panel is part of the screen: nothing else is held.
    countOnly(photos("first", 1));
    EXPECT_TRUE(host.findChild<QFrame*>("progressPanel")->isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    executor.runAll();
    QApplication::processEvents();
    // Over photos already there it stands for a sheet until the add ends.
    countOnly(photos("more", 2));
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    screen->photoNotAvailableOnIndex(0);
    EXPECT_FALSE(screen->isAlertShown());
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths().size(), 3);
    EXPECT_FALSE(host.findChild<QFrame*>("progressPanel")->isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // An alert with OK holds the flag too, so a second alert does not cover it.
    screen->showAlert({"FIRST", "shown first"});
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    screen->photoNotAvailableOnIndex(0);
    EXPECT_EQ(screen->alertTitle(), "FIRST");
    QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);
    EXPECT_FALSE(screen->isAlertShown());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // Moving on to the next screen closes what is still open here, and frees the flag.
    screen->showAlert({"SECOND", "left open"});
    screen->btnRemoveTapped();
    center.postNotification("notificationAddPhotosViewDisAppear");
    QApplication::processEvents();
    EXPECT_FALSE(screen->isAlertShown());
    EXPECT_FALSE(screen->removePhotoWindow());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // The remove pop-up closes on a press outside, and the delete button comes up again.
    QTest::mouseClick(host.findChild<QPushButton*>("btnDelete"), Qt::LeftButton);
    ASSERT_TRUE(screen->removePhotoWindow());
    EXPECT_TRUE(host.findChild<QPushButton*>("btnDelete")->isDown());
    QTest::mouseClick(host.findChild<QLabel*>("lblFooter"), Qt::LeftButton);
    EXPECT_FALSE(screen->removePhotoWindow());
    EXPECT_FALSE(host.findChild<QPushButton*>("btnDelete")->isDown());
}

struct CellDelegate : PhotoThumbnailCellDelegate, PhotoListCellDelegate {
    QStringList calls;
    void btnCheckBoxTappedAtIndex(const QList<int>& indexes) override { calls << QStringLiteral("check %1").arg(indexes.value(0)); }
    void btnInfoTappedAtLocationInCollectionView(const QPoint&, const IndexPath& path) override {
        calls << QStringLiteral("grid info %1").arg(path.item);
    }
    void btnInfoTappedAtLocationInTableView(const QPoint&, int row) override { calls << QStringLiteral("list info %1").arg(row); }
};

TEST_F(AddPhotosScreenTest, AlternativeCellsReportOnlyPhotosStillInTheBatch) {
    add(photos("cells", 3));
    const auto photo = AppDelegate::shared().arraySelectedImagesToProcess[2];
    CellDelegate delegate;
    PhotoThumbnailCell item;
    item.delegate = &delegate;
    item.setRepresentedObject(photo);
    EXPECT_EQ(item.lblFileName->text(), "p002.jpg");
    EXPECT_EQ(item.lblFileDimension->text(), "Dimensions 32 X 24");
    EXPECT_TRUE(item.lblFileSize->text().startsWith("Size "));
    EXPECT_EQ(item.imgPhoto->property("imageName").toString(), screenimages::kPlaceHolder);
    item.setSelected(true);
    EXPECT_FALSE(item.checkBox->isHidden());
    EXPECT_EQ(item.imgCheckBox->property("imageName").toString(), screenimages::kCheck);
    item.setSelected(false);
    EXPECT_TRUE(item.checkBox->isHidden());
    EXPECT_TRUE(item.bgSelectedState->isHidden());
    EXPECT_EQ(item.imgCheckBox->property("imageName").toString(), screenimages::kUncheck);
    std::unique_ptr<PhotoThumbnailCell> copy(item.copy());
    EXPECT_NE(copy->lblFileName, item.lblFileName);  // widgets of its own
    EXPECT_EQ(copy->lblFileName->text(), "p002.jpg");
    item.btnCheckBoxTapped();
    item.btnInfoTapped();
    EXPECT_EQ(delegate.calls, (QStringList{"check 2", "grid info 2"}));
    // The screen answers a check with the photo becoming current.
    screen->btnCheckBoxTappedAtIndex({2});
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 2);
    AppDelegate::shared().arraySelectedImagesToProcess.removeLast();
    item.btnCheckBoxTapped();
    item.btnInfoTapped();
    EXPECT_EQ(delegate.calls.size(), 2);

    // The list cell finds its row in the table two levels up.
    QTableView table;
    QStandardItemModel model(4, 1);
    table.setModel(&model);
    table.resize(300, 200);
    auto* row = new PhotoListViewCell;
    row->delegate = &delegate;
    table.setIndexWidget(model.index(2, 0), row);
    table.show();
    QApplication::processEvents();
    row->btnInfoTapped();
    EXPECT_EQ(delegate.calls.last(), "list info 2");
}

}  // namespace

TEST_F(AddPhotosScreenTest, LibraryPanelRefusesAPlainFolderAndEveryAddEndsFreeingTheScreen) {
    photos("plain", 2);
    // The library panel accepting a plain folder (or, with nothing picked, the folder it
    // shows): refused with a word why, and the screen stays usable.
    screen->btnAddIphotosTapped();
    ASSERT_TRUE(acceptOpenPanelIn(path("plain")));
    EXPECT_TRUE(batchPaths().isEmpty());
    EXPECT_EQ(screen->alertTitle(), "NOT A PHOTO LIBRARY");
    EXPECT_TRUE(screen->alertMessage().contains("\u201cplain\u201d")) << screen->alertMessage().toStdString();
    EXPECT_FALSE(screen->isLoadingShown());
    QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // An add marked as coming from the library panel that meets plain files still ends
    // with the overlay gone and the busy flag clear.
    screen->intake().isAddingIphotos = true;
    screen->intake().addPhotosFromPaths({path("plain")});
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths().size(), 2);
    EXPECT_FALSE(screen->isLoadingShown());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_TRUE(screen->nextButton()->isEnabled());
}

TEST_F(AddPhotosScreenTest, LastSessionWhosePhotosAreAllGoneSaysSoAndStays) {
    auto& app = AppDelegate::shared();
    const QStringList made = photos("gone", 2);
    for (const QString& p : made) app.arraySelectedImagesToProcess.append(PhotoFile::initWithFileUrl(p, false));
    ASSERT_TRUE(SavedState::saveProjectSessionToDefault(app, *defaults));
    app.resetToLaunchValues();
    for (const QString& p : made) QFile::remove(p);

    loadLastSession();
    EXPECT_EQ(screen->alertTitle(), "LOAD LAST SESSION");
    EXPECT_EQ(screen->alertMessage(), "Batch not found!");
    EXPECT_FALSE(screen->isLoadingShown());
    EXPECT_TRUE(screen->dropArea()->isVisibleTo(screen));
}

TEST_F(AddPhotosScreenTest, PhotosThatLeftTheBatchOnAnotherScreenCanBeAddedAgain) {
    const QStringList made = photos("rerun", 3);
    add({path("rerun")});
    // A run kept only its skipped photo as the batch.
    auto& app = AppDelegate::shared();
    app.arraySelectedImagesToProcess = {app.arraySelectedImagesToProcess[1]};
    center.postNotification("notificationsProcessSkippedFiles");
    QApplication::processEvents();
    add({made[0], made[2]});
    EXPECT_FALSE(screen->isAlertShown()) << screen->alertTitle().toStdString();
    EXPECT_EQ(batchPaths(), (QStringList{made[1], made[0], made[2]}));

    // The same after a new batch emptied the batch behind the screen's back.
    app.arraySelectedImagesToProcess.clear();
    screen->viewWillAppear();
    add({made[1]});
    EXPECT_FALSE(screen->isAlertShown()) << screen->alertTitle().toStdString();
    EXPECT_EQ(batchPaths(), QStringList{made[1]});
}

TEST_F(AddPhotosScreenTest, ThumbnailsMadeWhileTheViewsReloadStillArrive) {
    add(photos("reload", 3));
    timers.fire("scrollingEnd");
    ASSERT_EQ(grid.jobs.size(), 3u);
    // The grid reloads (the batch was handed back by a run, say) while its loads are still
    // queued, and the reload's own pass comes before they run: every tile still gets its
    // picture.
    screen->processWithSkippedFilesNotification();
    timers.fire("scrollingEnd");
    grid.runAll();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(screenimages::nameOf(tile(i)->image()), "") << i;

    // The list: a read that failed once shows the not-available picture, and is tried
    // again when the screen next appears.
    screen->btnViewPhotosModetapped(1);
    screen->btnOnRemovePhotoPopupTapped(1);
    screen->btnYesOnRemoveAllPhotoTapped();
    const QStringList listed = photos("listed", 2);
    unreadableFiles.insert(listed[0]);
    add(listed);
    list.runAll();
    auto* model = screen->listModel();
    const auto picture = [&] { return model->index(0, BatchListModel::NameColumn).data(Qt::DecorationRole).value<QImage>(); };
    EXPECT_EQ(screenimages::nameOf(picture()), screenimages::kNotAvailableSmall);
    unreadableFiles.clear();
    screen->viewWillDisAppear();
    screen->viewWillAppear();
    list.runAll();
    EXPECT_EQ(screenimages::nameOf(picture()), "");
    EXPECT_EQ(picture().size(), QSize(35, 24));
}

TEST_F(AddPhotosScreenTest, DamagedFilesAreNamedAndTheUnreadableOnesExplained) {
    // Real damage: a JPEG cut in half (its header still reads), and bytes that only start
    // like a JPEG.
    const QString good = intakefixtures::photo(path("damaged/good.jpg"));
    const QString cut = path("damaged/cut.jpg");
    ASSERT_TRUE(platform::writeImageFile(cut, testsupport::gradientImage(320, 240), platform::ImageType::JPEG, 0.9, {}));
    QFile file(cut);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    testsupport::writeFile(path("damaged/not_a_photo.jpg"), QByteArray("\xFF\xD8\xFF\xE0 this is not a photo"));
    // And no damage: a sound PNG of more pixels than the program opens.
    const QString huge = testsupport::writeFile(
        path("damaged/huge.png"), testsupport::sourceBytes("tests/platform/imageio/data/png_1bit_17000x16000_vips.png"));
    add({path("damaged")});

    EXPECT_EQ(batchPaths(), (QStringList{cut, good, huge}));
    EXPECT_EQ(screen->alertTitle(), "FILE CANNOT BE ADDED");
    EXPECT_TRUE(screen->alertMessage().contains("\nnot_a_photo.jpg")) << screen->alertMessage().toStdString();
    QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);

    // The cut file's tile shows the not-available picture, and says why.
    realThumbnails = true;
    timers.fire("scrollingEnd");
    grid.runAll();
    EXPECT_EQ(screenimages::nameOf(tile(0)->image()), screenimages::kNotAvailableBig);
    EXPECT_TRUE(tile(0)->toolTip().contains("cannot be read")) << tile(0)->toolTip().toStdString();
    EXPECT_EQ(tile(1)->toolTip(), "");
    EXPECT_TRUE(AppDelegate::shared().arraySelectedImagesToProcess[0]->isUnreadable);
    EXPECT_FALSE(AppDelegate::shared().arraySelectedImagesToProcess[1]->isUnreadable);
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 0});
    ASSERT_TRUE(screen->infoWindow());
    auto* notice = screen->infoWindow()->findChild<QLabel*>("lblUnavailableNotice");
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->text().contains("cannot be read"));
    screen->removeInfoPopupWindow();
    const QModelIndex name = screen->listModel()->index(0, BatchListModel::NameColumn);
    EXPECT_TRUE(name.data(Qt::ToolTipRole).toString().contains("cannot be read"));
    // The large one is not called damaged.
    EXPECT_TRUE(AppDelegate::shared().arraySelectedImagesToProcess[2]->isUnreadable);
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 2});
    ASSERT_TRUE(screen->infoWindow());
    notice = screen->infoWindow()->findChild<QLabel*>("lblUnavailableNotice");
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->text(), "This photo is larger than Brisko Photos will open. It will not be processed.");
    screen->removeInfoPopupWindow();
    // Gone from its folder is not "cannot be read".
    QFile::remove(cut);
    EXPECT_TRUE(name.data(Qt::ToolTipRole).toString().contains("no longer in its folder"));
}

TEST_F(AddPhotosScreenTest, ClicksSelectTheClickedPhotoAndTheMenuActsOnIt) {
    const QStringList made = photos("sel", 4);
    add(made);
    auto* grid = screen->collectionView();
    const auto gridSelection = [&] {
        QList<int> items;
        for (const IndexPath& p : grid->indexPathsForSelectedItems()) items << p.item;
        return items;
    };
    const auto tileCentre = [&](int i) { return grid->rectForItemAtIndexPath({0, i}).toRect().center() - grid->documentVisibleRect().topLeft(); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, tileCentre(2));
    EXPECT_EQ(gridSelection(), QList<int>{2});

    // The list: a plain click on a row makes it the only one, as in the grid.
    screen->btnViewPhotosModetapped(1);
    QTableView* list = screen->tableView();
    const auto rowPoint = [&](int row, int column) { return list->visualRect(screen->listModel()->index(row, column)).center(); };
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowPoint(1, BatchListModel::NameColumn));
    EXPECT_EQ(screen->arrTableSelectedRows, QList<int>{1});
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(3, BatchListModel::TypeColumn));
    EXPECT_EQ(screen->arrTableSelectedRows, (QList<int>{1, 3}));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowPoint(0, BatchListModel::CheckColumn));
    EXPECT_EQ(screen->arrTableSelectedRows, (QList<int>{0, 1, 3}));  // its box toggles the row
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowPoint(2, BatchListModel::NameColumn));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(0, BatchListModel::NameColumn));
    EXPECT_EQ(screen->arrTableSelectedRows, (QList<int>{0, 1, 2}));

    // A right click on a row that is not checked: the menu's Delete asks about that photo.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowPoint(2, BatchListModel::NameColumn));
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowPoint(0, BatchListModel::NameColumn));
    ASSERT_TRUE(screen->menuOptionsWindow());
    QTest::mouseClick(button("btnDeleteOnMenuOption"), Qt::LeftButton);
    EXPECT_EQ(screen->alertTitle(), "REMOVE SELECTED PHOTO");
    QTest::mouseClick(button("btnYesOnAlert"), Qt::LeftButton);
    EXPECT_EQ(batchPaths(), (QStringList{made[1], made[2], made[3]}));

    // The same in the grid.
    screen->btnViewPhotosModetapped(0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, tileCentre(0));
    QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, tileCentre(2));
    EXPECT_EQ(gridSelection(), QList<int>{2});
    ASSERT_TRUE(screen->menuOptionsWindow());
    QTest::mouseClick(button("btnShowPreview"), Qt::LeftButton);
    EXPECT_EQ(files.calls, QStringList{"open " + made[3]});
    QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, tileCentre(2));
    QTest::mouseClick(button("btnDeleteOnMenuOption"), Qt::LeftButton);
    QTest::mouseClick(button("btnYesOnAlert"), Qt::LeftButton);
    EXPECT_EQ(batchPaths(), (QStringList{made[1], made[2]}));

    // Ctrl+A selects every photo; Delete asks before removing them.
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(gridSelection(), (QList<int>{0, 1}));
    QTest::keyClick(grid, Qt::Key_Delete);
    EXPECT_EQ(screen->alertTitle(), "REMOVE SELECTED PHOTOS");
    QTest::mouseClick(button("btnNoOnAlert"), Qt::LeftButton);
    screen->btnViewPhotosModetapped(1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(screen->arrTableSelectedRows, (QList<int>{0, 1}));
}

TEST_F(AddPhotosScreenTest, AMenuEntryNothingCouldTakeIsSaidInAnAlert) {
    const QStringList made = photos("noapp", 1);
    add(made);
    files.answers = false;
    const struct {
        const char* entry;
        const char* title;
    } cases[] = {{"btnReviealInFinder", "CANNOT SHOW IN FILE MANAGER"}, {"btnShowPreview", "CANNOT OPEN"}, {"btnGetInfo", "CANNOT SHOW INFO"}};
    for (const auto& c : cases) {
        screen->showMenuOptionsAtLocation({100, 100}, 0);
        QTest::mouseClick(button(c.entry), Qt::LeftButton);
        EXPECT_EQ(screen->alertTitle(), c.title) << c.entry;
        EXPECT_TRUE(screen->alertMessage().contains("\u201cp000.jpg\u201d")) << screen->alertMessage().toStdString();
        QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);
        EXPECT_FALSE(screen->isAlertShown());
    }
}

// Photos that only the program's own readers take (TIFF, JPEG 2000, and Photoshop, Targa
// and icon files other programs wrote) open like any other: a click selects them and their
// info pop-up opens, with no "not available" alert.
TEST_F(AddPhotosScreenTest, PhotosOfEveryFormatTheReadersTakeCanBeSelected) {
    const QImage picture = testsupport::gradientImage(64, 48);
    QStringList made;
    QDir().mkpath(path("formats"));
    for (const auto& [type, ext] : {std::pair{platform::ImageType::TIFF, "tif"}, std::pair{platform::ImageType::JPEG2000, "jp2"}}) {
        made << path(QStringLiteral("formats/photo.") + ext);
        ASSERT_TRUE(platform::writeImageFile(made.last(), picture, type, 1.0));
    }
    for (const char* file : {"psd_rgb_rle_imagemagick.psd", "tga_rgb_rle_netpbm.tga", "ico_two_sizes_imagemagick.ico"})
        made << testsupport::writeFile(path(QStringLiteral("formats/") + QLatin1String(file)),
                                       testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(file)));
    add(made);
    ASSERT_EQ(batchPaths(), made);
    for (int i = 0; i < made.size(); ++i) {
        SCOPED_TRACE(made[i].toStdString());
        const QRect r = screen->collectionView()->rectForItemAtIndexPath({0, i}).toRect();
        QTest::mouseClick(screen->collectionView()->viewport(), Qt::LeftButton, {}, r.center());
        QApplication::processEvents();
        EXPECT_FALSE(screen->isAlertShown()) << screen->alertTitle().toStdString();
        EXPECT_EQ(AppDelegate::shared().selectedImageIndex, i);
        screen->btnInfoTappedAtLocationInCollectionView({}, {0, i});
        EXPECT_TRUE(screen->infoWindow());
    }
}

// A picture the add takes by its name but the program cannot draw (EPS) is refused when it
// is added, its kind named in the alert, rather than joining the batch to fail the run. The
// alert shows its whole text, however long the reasons make it.
TEST_F(AddPhotosScreenTest, PicturesThatCannotBeDrawnAreToldWhenAdded) {
    const QString photo = intakefixtures::photo(path("mixed/photo.jpg"));
    testsupport::writeFile(path("mixed/drawing.eps"),
                           "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 64 48\n%%EndComments\nshowpage\n%%EOF\n");
    testsupport::writeFile(path("mixed/model.3fr"),
                           testsupport::sourceBytes("bench/fuzz/corpus/read_only_formats/raw_libraw_model_abort.3fr"));
    add({path("mixed")});
    EXPECT_EQ(batchPaths(), QStringList{photo});
    ASSERT_TRUE(screen->isAlertShown());
    EXPECT_EQ(screen->alertTitle(), "FILES CANNOT BE ADDED");
    EXPECT_TRUE(screen->alertMessage().contains("drawing.eps (EPS pictures cannot be read: they need a PostScript interpreter)"))
        << screen->alertMessage().toStdString();
    const auto* message = screen->findChild<QLabel*>("lblAlertMessage");
    ASSERT_TRUE(message);
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    EXPECT_TRUE(message->parentWidget()->rect().contains(message->geometry()));
    QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);
    EXPECT_FALSE(screen->isAlertShown());
}

TEST_F(AddPhotosScreenTest, FilePanelsOpenInPicturesAndThenWhereTheLastWasLeft) {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    ASSERT_TRUE(QDir().mkpath(pictures));
    // A new screen: its first panel opens in Pictures, not in the program's working folder.
    delete screen;
    screen = makeScreen();
    screen->btnAddFolderTapped();
    auto* panel = screen->findChild<QFileDialog*>("openPanel");
    ASSERT_TRUE(panel);
    EXPECT_EQ(QDir(panel->directory()).absolutePath(), QDir(pictures).absolutePath());
    photos("elsewhere", 1);
    panel->setDirectory(path("elsewhere"));
    panel->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    screen->btnAddPhotosTapped();
    panel = screen->findChild<QFileDialog*>("openPanel");
    ASSERT_TRUE(panel);
    EXPECT_EQ(QDir(panel->directory()).absolutePath(), path("elsewhere"));
    // Its long list of extensions does not make it wider than a small screen (its buttons
    // were off the screen's edge).
    QCoreApplication::processEvents();
    EXPECT_LE(panel->minimumSizeHint().width(), 1024);
    panel->reject();
}

TEST_F(AddPhotosScreenTest, TheKeyboardAnswersSheetsAndPopUpsAsTheDesktopsDo) {
    add(photos("keys", 2));
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    // Escape on a confirmation is No; Return is its default, Yes.
    screen->btnOnRemovePhotoPopupTapped(1);
    ASSERT_TRUE(screen->isAlertShown());
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(screen->isAlertShown());
    EXPECT_EQ(batchPaths().size(), 2);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    screen->btnOnRemovePhotoPopupTapped(1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(batchPaths().isEmpty());

    // The date sheet: Return adds (here its dates are refused), Escape closes it.
    screen->btnAddPhotoWithFilterTapped();
    const QDateTime ten(QDate(2024, 3, 5), QTime(10, 0));
    screen->datePickerFromDate()->setDateTime(ten);
    screen->datePickerToDate()->setDateTime(ten);
    QTest::keyClick(screen->dateFilterSheet(), Qt::Key_Return);
    EXPECT_FALSE(screen->dateFilterErrorText().isEmpty());
    QTest::keyClick(screen->dateFilterSheet(), Qt::Key_Escape);
    EXPECT_TRUE(screen->dateFilterSheet()->isHidden());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // A pop-up closes on Escape.
    add(photos("keys2", 1));
    QTest::mouseClick(host.findChild<QPushButton*>("btnAddmorePhotos"), Qt::LeftButton);
    ASSERT_TRUE(screen->attachedPopUpWindow());
    QTest::keyClick(screen, Qt::Key_Escape);
    EXPECT_FALSE(screen->attachedPopUpWindow());

    // Tab moves the keyboard from button to button, and the button that has it shows it.
    QPushButton* next = screen->nextButton();
    const QImage unfocused = next->grab().toImage();
    next->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(next->hasFocus());
    EXPECT_NE(next->grab().toImage(), unfocused);
    QTest::keyClick(next, Qt::Key_Tab);
    EXPECT_FALSE(next->hasFocus());

    // Tab leaves the list and the grid for the next control, as from any other control.
    screen->btnViewPhotosModetapped(1);
    for (QWidget* view : {static_cast<QWidget*>(screen->tableView()), static_cast<QWidget*>(screen->collectionView())}) {
        SCOPED_TRACE(view->objectName().toStdString());
        if (view == screen->collectionView()) screen->btnViewPhotosModetapped(0);
        view->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(view->hasFocus());
        QTest::keyClick(view, Qt::Key_Tab);
        EXPECT_FALSE(view->hasFocus());
    }
}

TEST_F(AddPhotosScreenTest, NamesThatAreNotUtf8AreAddedEveryWayAndShownReadably) {
    realThumbnails = true;
    // A photo whose name is Latin-1 bytes, as old cameras and archives leave them.
    const QString latin = platform::decodePath(QFile::encodeName(path("Trip")) + "/IMG_\xe9\xff.jpg");
    intakefixtures::photo(latin);
    const QString plain = intakefixtures::photo(path("Trip/plain.jpg"));
    const QString shownName = "IMG_\\xE9\\xFF.jpg";
    const QString shownPath = path("Trip") + "/" + shownName;

    // By folder, through the Add Folder panel.
    screen->btnAddFolderTapped();
    ASSERT_TRUE(acceptOpenPanelIn(path("Trip")));
    ASSERT_EQ(batchPaths(), (QStringList{latin, plain}));
    EXPECT_FALSE(screen->isAlertShown()) << screen->alertMessage().toStdString();
    EXPECT_EQ(AppDelegate::shared().arraySelectedImagesToProcess[0]->width, 32);

    // Shown: the tile's name and picture, the selection, the info pop-up, the list's row.
    EXPECT_EQ(tile(0)->fileName(), shownName);
    timers.fire("scrollingEnd");
    grid.runAll();
    EXPECT_EQ(screenimages::nameOf(tile(0)->image()), "") << "a picture, not the not-available mark";
    EXPECT_EQ(tile(0)->toolTip(), "");
    auto* view = screen->collectionView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->rectForItemAtIndexPath({0, 0}).toRect().center() - view->documentVisibleRect().topLeft());
    EXPECT_FALSE(screen->isAlertShown()) << screen->alertTitle().toStdString();
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 0);
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 0});
    ASSERT_TRUE(screen->infoWindow());
    EXPECT_EQ(screen->arrMetaData()[0].value, shownName);
    EXPECT_EQ(screen->arrMetaData()[1].value, shownPath);
    EXPECT_EQ(screen->arrMetaData()[9].value, "32 x 24");
    screen->changePhotosViewImageMode(1, false);
    list.runAll();
    EXPECT_EQ(screen->listModel()->index(0, BatchListModel::NameColumn).data().toString(), shownName);
    EXPECT_EQ(screen->listModel()->index(0, BatchListModel::FileLocationColumn).data().toString(), shownPath);
    EXPECT_TRUE(screen->listModel()->hasThumbnail(latin));

    // By drop, as a file manager lists the file: its address percent-encodes the bytes.
    QMimeData mime;
    mime.setData("text/uri-list", "file://" + platform::encodePath(latin).toPercentEncoding("/") + "\r\n");
    auto removeAll = [&] {
        screen->btnOnRemovePhotoPopupTapped(1);
        screen->btnYesOnRemoveAllPhotoTapped();
        ASSERT_TRUE(batchPaths().isEmpty());
    };
    removeAll();
    EXPECT_TRUE(screen->dropArea()->performDragOperation(&mime));
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths(), QStringList{latin});
    // And on the grid.
    screen->changePhotosViewImageMode(0, false);
    removeAll();
    add({plain});
    QDragEnterEvent enter(view->viewport()->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(view->viewport()->rect().center()), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &drop);
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths(), (QStringList{plain, latin}));
    EXPECT_EQ(tile(1)->fileName(), shownName);
}

TEST_F(AddPhotosScreenTest, APhotoDamagedAfterItWasAddedIsAlertedAndRemoveTakesItOut) {
    realThumbnails = true;
    const QString good = intakefixtures::photo(path("later/good.jpg"));
    const QString later = path("later/later.jpg");
    ASSERT_TRUE(platform::writeImageFile(later, testsupport::gradientImage(320, 240), platform::ImageType::JPEG, 0.9, {}));
    add({good, later});
    timers.fire("scrollingEnd");
    grid.runAll();
    ASSERT_EQ(screenimages::nameOf(tile(1)->image()), "") << "both tiles made from the whole files";
    ASSERT_EQ(AppDelegate::shared().selectedImageIndex, 0);

    // Cut short while in the batch: its header still reads, its picture no longer does.
    QFile file(later);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    ASSERT_TRUE(platform::isReadablePicture(later));
    auto* view = screen->collectionView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->rectForItemAtIndexPath({0, 1}).toRect().center() - view->documentVisibleRect().topLeft());
    ASSERT_TRUE(screen->isAlertShown());
    EXPECT_EQ(screen->alertTitle(), "PHOTO NOT AVAILABLE");
    EXPECT_TRUE(screen->alertMessage().contains("cannot be read")) << screen->alertMessage().toStdString();
    EXPECT_EQ(AppDelegate::shared().selectedImageIndex, 0) << "the photo before stays selected";
    EXPECT_EQ(screenimages::nameOf(tile(1)->image()), screenimages::kNotAvailableBig);

    // Remove takes out the photo the alert was about, though its file is still there.
    QTest::mouseClick(button("btnRemoveOnAlert"), Qt::LeftButton);
    EXPECT_FALSE(screen->isAlertShown());
    EXPECT_EQ(batchPaths(), QStringList{good});
    EXPECT_TRUE(QFile::exists(later)) << "the file itself is the user's";
    // It can be added again once mended.
    ASSERT_TRUE(platform::writeImageFile(later, testsupport::gradientImage(320, 240), platform::ImageType::JPEG, 0.9, {}));
    add({later});
    EXPECT_EQ(batchPaths(), (QStringList{good, later}));
}

TEST_F(AddPhotosScreenTest, ThumbnailsAreKeptAcrossAppearancesUntilTheirFileChanges) {
    realThumbnails = true;
    const QStringList made = photos("kept", 3);
    add(made);
    timers.fire("scrollingEnd");
    grid.runAll();
    screen->btnViewPhotosModetapped(1);
    list.runAll();
    auto* model = screen->listModel();
    const auto rowPicture = [&](int row) {
        return model->index(row, BatchListModel::NameColumn).data(Qt::DecorationRole).value<QImage>();
    };
    ASSERT_EQ(screenimages::nameOf(rowPicture(1)), "");
    screen->btnViewPhotosModetapped(0);
    const auto leaveAndComeBack = [&] {
        screen->viewWillDisAppear();
        screen->viewWillAppear();
        timers.fire("scrollingEnd");
        grid.runAll();
        list.runAll();
    };

    // Another screen and back: nothing is read again.
    thumbnailsMade.clear();
    leaveAndComeBack();
    EXPECT_EQ(thumbnailsMade, QStringList{});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(screenimages::nameOf(tile(i)->image()), "") << i;

    // One photo is edited elsewhere (another picture, another size): its tile and its row are
    // made again from the file as it is now, the others are kept.
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(platform::writeImageFile(made[1], red, platform::ImageType::JPEG, 0.9, {}));
    leaveAndComeBack();
    EXPECT_EQ(thumbnailsMade, QStringList{made[1]});
    EXPECT_GT(qRed(tile(1)->image().pixel(200, 200)), 200);
    screen->btnViewPhotosModetapped(1);
    list.runAll();
    const QImage row = rowPicture(1);
    ASSERT_EQ(screenimages::nameOf(row), "");
    EXPECT_GT(qRed(row.pixel(17, 12)), 200) << "the row shows the photo as it is now";
    EXPECT_LT(qGreen(row.pixel(17, 12)), 60);
    EXPECT_EQ(thumbnailsMade, QStringList{made[1]}) << "the row is cut from the new tile";
}

TEST_F(AddPhotosScreenTest, TheFolderPanelsTakeSeveralFolders) {
    const QStringList first = photos("two/a", 2), second = photos("two/b", 1);
    const auto pickFolders = [&](QFileDialog* panel, const QStringList& names) {
        panel->setDirectory(path("two"));
        auto* view = panel->findChild<QListView*>("listView");
        EXPECT_TRUE(view);
        if (!view) return;
        auto* model = view->model();
        QModelIndex root = view->rootIndex();
        QElapsedTimer waited;
        waited.start();
        while (model->rowCount(root) < 2 && waited.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            root = view->rootIndex();
        }
        Qt::KeyboardModifiers modifiers;
        for (const QString& name : names) {
            const QModelIndexList found = model->match(model->index(0, 0, root), Qt::DisplayRole, name, 1, Qt::MatchExactly);
            EXPECT_EQ(found.size(), 1) << name.toStdString();
            if (found.isEmpty()) return;
            view->scrollTo(found[0]);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, view->visualRect(found[0]).center());
            modifiers = Qt::ControlModifier;
        }
    };
    // Add Folder: both folders' photos come in.
    screen->btnAddFolderTapped();
    auto* panel = screen->findChild<QFileDialog*>("openPanel");
    ASSERT_TRUE(panel);
    pickFolders(panel, {"a", "b"});
    EXPECT_EQ(panel->selectedFiles().size(), 2) << panel->selectedFiles().join(", ").toStdString();
    static_cast<QDialog*>(panel)->accept();
    executor.runAll();
    QApplication::processEvents();
    EXPECT_EQ(batchPaths(), first + second);

    // The date filter's folder panel and the library panel take several as well.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto& open : {std::function<void()>([&] { screen->btnAddPhotosTappedWithIndex(2); }),
                             std::function<void()>([&] { screen->btnAddIphotosTapped(); })}) {
        open();
        panel = screen->findChild<QFileDialog*>("openPanel");
        ASSERT_TRUE(panel);
        pickFolders(panel, {"a", "b"});
        EXPECT_EQ(panel->selectedFiles().size(), 2) << panel->selectedFiles().join(", ").toStdString();
        panel->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(PhotoInfoRows, PositionsAndValuesNoPositionHas) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double angle;
        const char* reference;
        const char* text;
    } cases[] = {
        {48.8584, "N", "48° 51' 30'' N"}, {-33.8568, "S", "33° 51' 24'' S"}, {180.0, "W", "180° 0' 0'' W"},
        {0.0, "", "---"},                 {4294967295.0, "N", "---"},      {-1e300, "E", "---"},
        {180.001, "E", "---"},            {nan, "N", "---"},               {inf, "S", "---"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(photoinfo::getPositioninlatitudelongitude(c.angle, c.reference), QString::fromUtf8(c.text)) << c.angle;
}

TEST_F(AddPhotosScreenTest, AGpsPositionNoPlaceHasIsShownAsMissing) {
    // A WebP whose EXIF (written by Exiv2) puts the photo at two billion degrees north.
    const QByteArray exif = testsupport::exifBlock({{"Exif.GPSInfo.GPSLatitudeRef", "N"},
                                                    {"Exif.GPSInfo.GPSLatitude", "2000000000/1 0/1 0/1"},
                                                    {"Exif.GPSInfo.GPSLongitudeRef", "E"},
                                                    {"Exif.GPSInfo.GPSLongitude", "2/1 17/1 40/1"}});
    testsupport::WebpSample sample;
    sample.exif = exif;
    const QString odd = testsupport::writeFile(path("odd.webp"), testsupport::makeWebp(testsupport::gradientImage(64, 48), sample));
    add({odd});
    ASSERT_EQ(batchPaths(), QStringList{odd});
    screen->btnInfoTappedAtLocationInCollectionView({}, {0, 0});
    ASSERT_TRUE(screen->infoWindow());
    EXPECT_EQ(screen->arrMetaData()[33].value, "---");
    EXPECT_EQ(screen->arrMetaData()[34].value, "2° 17' 40'' E");
}

// Tab walks every control of the screen, in the grid and in the list, and each one it stops
// at shows that it has the keyboard.
TEST_F(AddPhotosScreenTest, EveryStopOfTabShowsTheKeyboard) {
    add(photos("rings", 3));
    grid.runAll();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "grid" : "list");
        screen->btnViewPhotosModetapped(mode);
        list.runAll();
        QApplication::processEvents();
        QWidget* start = screen->nextButton();
        start->setFocus(Qt::TabFocusReason);
        QList<QWidget*> stops;
        for (QWidget* at = start; stops.size() < 40;) {
            stops << at;
            QTest::keyClick(at, Qt::Key_Tab);
            at = QApplication::focusWidget();
            ASSERT_NE(at, nullptr);
            if (at == start) break;
        }
        EXPECT_GE(stops.size(), 6) << "Next, the header's four buttons and the photos";
        QStringList missing;
        for (QWidget* stop : stops) {
            const QString problem = testsupport::focusIndicationProblem(stop);
            if (!problem.isEmpty()) missing << problem;
        }
        EXPECT_EQ(missing, QStringList{});
    }
}

// A tip's check box and buttons are Tab stops while it shows, and show the keyboard as the
// screen's own buttons do: a tip with Next and one with Got It.
TEST_F(AddPhotosScreenTest, TheTipsControlsShowTheKeyboard) {
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    screen->viewWillAppear();
    timers.fire("tip0");
    for (const char* button : {"btnNextOnTips", "btnGotItOnTips"}) {
        SCOPED_TRACE(button);
        ASSERT_TRUE(screen->tipsPopUpWindow());
        EXPECT_EQ(testsupport::controlsWithoutFocusRing(screen->tipsPopUpWindow()), QStringList{});
        QTest::mouseClick(this->button(button), Qt::LeftButton);
        if (std::string(button) == "btnNextOnTips") timers.fire("tip1");
    }
}
