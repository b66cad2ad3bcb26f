// The effects screen's waits and windows: Next and Back after appearing, the first-use
// tips, the loading overlay, and the rename-and-convert view of the Batch Conversion row.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <deque>

#include "batch/RenamePreviewRecomputer.h"
#include "batch/ui/LoadingOverlay.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "tests/batch/BatchFixtures.h"
#include "editor/PreviewBox.h"
#include "editor/ui/PhotoStrip.h"
#include "tests/editor/EffectsScreenFixture.h"
#include "records/SubWindowHold.h"
#include "ui/AttachedWindow.h"

namespace {

using fxtest::Screen;
namespace names = platform::notifications;

struct Navigation : AdjustFilterDelegate {
    int next = 0, back = 0;
    void btnNextFromAdjustFilterVCTapped() override { ++next; }
    void btnBackFromFromAdjustFilterVCTapped() override { ++back; }
};

// Counts one notification for as long as it lives.
struct Posted {
    QObject owner;
    int count = 0;
    explicit Posted(const QString& name) {
        platform::NotificationCenter::defaultCenter().addObserver(name, [this](const auto&) { ++count; },
                                                                  platform::DeliverOn::PostingThread, &owner);
    }
    ~Posted() { platform::NotificationCenter::defaultCenter().removeObservers(&owner); }
};

QString tipShown(EffectsScreenController* screen) {
    AttachedWindow* tip = screen->tipsPopUpWindow();
    if (!tip || !tip->isVisible()) return {};
    auto* text = tip->view()->findChild<QLabel*>("lblTipsText");
    return text ? text->text() : QString();
}

void clickTipButton(EffectsScreenController* screen, const char* name) {
    auto* button = screen->tipsPopUpWindow()->view()->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
    Screen::settle();
}

}  // namespace

TEST(EffectsScreenWindows, NextAndBackWaitAfterAppearingAndTheTipsWalkToTheirEnd) {
    Screen s({QSize(400, 300)});
    Navigation nav;
    s.vc->setDelegate(&nav);
    AppDelegate& app = AppDelegate::shared();
    auto& defaults = platform::UserDefaults::standardUserDefaults();

    s.screen->viewWillAppearNotofication();
    QTest::mouseClick(s.vc->backButton(), Qt::LeftButton);
    QTest::mouseClick(s.vc->nextButton(), Qt::LeftButton);
    s.vc->btnSaveOptionsTapped();
    s.vc->btnPreviousSelectionTapped();
    EXPECT_EQ(nav.back, 0);
    EXPECT_EQ(nav.next, 0);
    EXPECT_FALSE(s.vc->nextButton()->isEnabled());
    EXPECT_EQ(s.delays[EffectsScreenController::DelayEnablePrev]->lastDelay(), 500);
    EXPECT_EQ(s.delays[EffectsScreenController::DelayTips]->lastDelay(), 1000);

    // Half a second on: Back works, Next still waits for the tips.
    s.delays[EffectsScreenController::DelayEnablePrev]->fire();
    s.vc->btnPreviousSelectionTapped();
    EXPECT_EQ(nav.back, 1);
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 0);

    // A second on: the first tip. While it is open Next still does nothing.
    s.delays[EffectsScreenController::DelayTips]->fire();
    EXPECT_EQ(tipShown(s.screen), EffectsScreenController::tipText(3));
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 0);
    // A window resize places the open tip again.
    platform::NotificationCenter::defaultCenter().postNotification(names::WindowResized);
    Screen::settle();
    EXPECT_EQ(tipShown(s.screen), EffectsScreenController::tipText(3));
    for (int tag = 4; tag <= 6; ++tag) {
        clickTipButton(s.screen, "btnNextOnTips");
        EXPECT_EQ(tipShown(s.screen), EffectsScreenController::tipText(tag)) << tag;
        EXPECT_FALSE(defaults.containsKey("tips_adjustFilterView"));
    }
    clickTipButton(s.screen, "btnGotItOnTips");
    EXPECT_TRUE(tipShown(s.screen).isEmpty());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    EXPECT_EQ(defaults.stringForKey("tips_adjustFilterView"), "1");
    EXPECT_FALSE(defaults.containsKey("tips_isDisable"));
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 1);

    // The walk is done: the next showing waits on Next, then shows no tip.
    s.screen->viewWillAppearNotofication();
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 1);
    s.delays[EffectsScreenController::DelayTips]->fire();
    EXPECT_TRUE(tipShown(s.screen).isEmpty());
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 2);

    // The box switches every tip off at the first Next; leaving the screen closes a tip.
    defaults.removeObjectForKey("tips_adjustFilterView");
    s.screen->showTipsWithTag(5);
    ASSERT_FALSE(tipShown(s.screen).isEmpty());
    s.screen->viewWillDisAppear();
    EXPECT_TRUE(tipShown(s.screen).isEmpty());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    s.screen->showTipsWithTag(3);
    s.screen->setTipsDisabledChecked(true);
    clickTipButton(s.screen, "btnNextOnTips");
    EXPECT_TRUE(tipShown(s.screen).isEmpty());
    EXPECT_EQ(defaults.stringForKey("tips_isDisable"), "1");
    s.screen->showTipsWithTag(4);
    EXPECT_TRUE(tipShown(s.screen).isEmpty());
}

TEST(EffectsScreenWindows, LoadingOverlayCoversAPhotoLoadAndGoesWithIt) {
    Screen s;
    Navigation nav;
    s.vc->setDelegate(&nav);
    AppDelegate& app = AppDelegate::shared();
    std::deque<std::function<void()>> jobs;
    s.screen->setExecutor([&](std::function<void()> job) { jobs.push_back(std::move(job)); });
    LoadingOverlay* overlay = s.screen->loadingView();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(QStringLiteral("1"), QStringLiteral("tips_isDisable"));

    // Showing the screen with another photo chosen: the overlay stays until the load ends.
    app.selectedImageIndex = 1;
    app.selectedImageFile = app.arraySelectedImagesToProcess[1];
    app.isSELECTED_IMAGE_CHANGED = true;
    s.screen->viewWillAppearNotofication();
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    EXPECT_TRUE(app.isPROCESSING_WITH_FILES_SYSTEM);
    s.delays[EffectsScreenController::DelayEnablePrev]->fire();
    s.delays[EffectsScreenController::DelayTips]->fire();
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 0);
    // Showing it again keeps it up.
    s.screen->showLoading(true);
    EXPECT_TRUE(overlay->isVisible());
    ASSERT_FALSE(jobs.empty());
    while (!jobs.empty()) {
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job();
        Screen::settle();
    }
    Screen::settle();
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    EXPECT_FALSE(app.isPROCESSING_WITH_FILES_SYSTEM);
    EXPECT_EQ(s.screen->lblImageName()->text(), "photo1.png");
    s.vc->btnSaveOptionsTapped();
    EXPECT_EQ(nav.next, 1);

    // Other screens' loading notices show nothing while an effect row is chosen.
    platform::NotificationCenter::defaultCenter().postNotification(names::ShowLoading);
    EXPECT_FALSE(overlay->isVisible());
    // A tip and the overlay together: the screen stays busy until both are gone.
    defaults.removeObjectForKey(QStringLiteral("tips_isDisable"));
    s.screen->showTipsWithTag(3);
    ASSERT_NE(s.screen->tipsPopUpWindow(), nullptr);
    s.screen->showLoading(true);
    s.screen->showLoading(false);
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    s.screen->showLoading(true);
    s.screen->removeTipsPopupWindow();
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    s.screen->showLoading(false);
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    // A shown overlay goes at its next frame once no file work runs.
    s.screen->showLoading(true);
    ASSERT_TRUE(overlay->isVisible());
    s.screen->loaderFrameShown();
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
}

TEST(EffectsScreenWindows, EveryOverlayTipAndAlertLeavesTheScreenFreeHoweverItCloses) {
    Screen s({QSize(400, 300)});
    AppDelegate& app = AppDelegate::shared();
    // Alerts answered when the test says.
    struct LaterAlerts : EffectsAlertPresenter {
        std::vector<std::function<void(bool, bool)>> pending;
        void showAlert(int, const QString&, const QString&, bool, std::function<void(bool, bool)> done) override {
            pending.push_back(std::move(done));
        }
    } later;
    s.screen->setAlertPresenter(&later);
    platform::UserDefaults::standardUserDefaults().removeObjectForKey(QStringLiteral("tips_isDisable"));
    ASSERT_FALSE(app.isSUBWINDOW_OPENED);

    // An alert answered while the overlay is up: the overlay still holds the screen.
    s.screen->showLoading(true);
    s.screen->showAlertForAllPhotosDeleted();
    ASSERT_EQ(later.pending.size(), 1u);
    later.pending[0](true, false);
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    later.pending[0](true, false);  // an answer given twice lets go once
    s.screen->showLoading(false);
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // A tip closed by its button while an alert waits: the alert still holds it.
    s.screen->showTipsWithTag(6);  // the last tip, closed by Got It
    ASSERT_NE(s.screen->tipsPopUpWindow(), nullptr);
    s.screen->showAlertForAllPhotosDeleted();
    clickTipButton(s.screen, "btnGotItOnTips");
    EXPECT_EQ(tipShown(s.screen), "");
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    later.pending[1](true, false);
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // A tip that goes another way (deleted with what holds it) frees the screen too.
    platform::UserDefaults::standardUserDefaults().removeObjectForKey(QStringLiteral("tips_adjustFilterView"));
    s.screen->showTipsWithTag(3);
    ASSERT_NE(s.screen->tipsPopUpWindow(), nullptr);
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    delete s.screen->tipsPopUpWindow();
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // The screen going with an alert and the overlay open lets go of both; the late
    // answer does nothing.
    s.screen->showLoading(true);
    s.screen->showAlertForAllPhotosDeleted();
    EXPECT_EQ(SubWindowHold::holdsOn(app.isSUBWINDOW_OPENED), 2);
    s.vc.reset();
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    later.pending[2](true, false);
    EXPECT_EQ(SubWindowHold::holdsOn(app.isSUBWINDOW_OPENED), 0);
}

TEST(EffectsScreenWindows, BatchConversionRowShowsTheRenameViewOnThisScreen) {
    Screen s;
    AppDelegate& app = AppDelegate::shared();
    // The rename view's own tips are its business.
    platform::UserDefaults::standardUserDefaults().setObject(QStringLiteral("1"), QStringLiteral("tips_isDisable"));
    Posted setups(names::SetupConvertAndRename);
    const int row = s.categoryRow([&](int r) {
        const CategoryRows rows = s.screen->categoryModel()->rows();
        return !rows.isHeader(r) && rows.groupOf(r) == CategoryRows::Group::Rename;
    });
    ASSERT_GT(row, 0);
    s.click(s.screen->tblFilterCategories(), row);
    ConvertFormatOrRenameView* view = s.screen->convertFormatView();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(s.screen->isBatchConversionRowSelected());
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(s.vc->previewContainer()->isVisible());
    EXPECT_FALSE(s.vc->parametersColumn()->isVisible());
    EXPECT_FALSE(s.vc->findChild<QWidget*>("vwAppliedFilters")->isVisible());
    EXPECT_FALSE(s.vc->batchInfoLabel()->isVisible());
    EXPECT_TRUE(s.screen->tblFilterCategories()->isVisible());
    EXPECT_FALSE(view->btnStart->isVisible());
    EXPECT_EQ(ConvertFormatOrRenameView::batchInfoValues().value(0), "2");
    EXPECT_TRUE(view->lblBatchInfo->isVisible());
    // It sits right of the categories and above the footer.
    EXPECT_GE(view->geometry().left(), s.vc->tableArea()->geometry().right());
    EXPECT_LE(view->geometry().bottom(), s.vc->footer()->geometry().top());
    EXPECT_GE(setups.count, 1);
    ASSERT_TRUE(batchtest::waitUntil([&] { return !view->recomputer()->isPending(); }));
    Screen::settle();
    EXPECT_EQ(app.arrayDestinationPaths.size(), 2);
    EXPECT_FALSE(s.screen->loadingView()->isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // Another photo while the row is chosen: the view reads the batch again.
    const int before = setups.count;
    app.selectedImageIndex = 1;
    app.selectedImageFile = app.arraySelectedImagesToProcess[1];
    app.isSELECTED_IMAGE_CHANGED = true;
    s.screen->selectedPhotoChanged();
    Screen::settle();
    EXPECT_EQ(setups.count, before + 1);
    ASSERT_TRUE(batchtest::waitUntil([&] { return !view->recomputer()->isPending(); }));
    Screen::settle();
    EXPECT_FALSE(s.screen->loadingView()->isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);

    // Any other row brings the effects back.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(s.vc->previewContainer()->isVisible());
    EXPECT_TRUE(s.vc->parametersColumn()->isVisible());
    EXPECT_TRUE(s.vc->batchInfoLabel()->isVisible());
    EXPECT_EQ(s.vc->state().currentFilterName, "Black & White");
}

// What the built screen showed wrong once: every strip tile looked chosen, the sticker
// grid's tiles had no size, and the apply button of a picture overlay lay under its panel.
TEST(EffectsScreenWindows, StripMarksTheChosenPhotoAndThePicturePanelsDoNotOverlap) {
    Screen s;
    PhotoStrip* strip = s.screen->photoStrip();
    auto tileColours = [&] {
        QList<QColor> colours(2);
        for (CollectionViewCell* cell : strip->collectionView()->visibleCells())
            if (cell->indexPath().item < 2) colours[cell->indexPath().item] = cell->bgselectedColor();
        return colours;
    };
    EXPECT_EQ(tileColours(), (QList<QColor>{QColor(26, 185, 153), QColor(Qt::transparent)}));
    strip->selectPhoto(1, CollectionView::ScrollNearest, false);
    EXPECT_EQ(tileColours(), (QList<QColor>{QColor(Qt::transparent), QColor(26, 185, 153)}));

    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Image"));
    int zodiac = -1;
    for (int r = 0; r < s.screen->effectModel()->rowCount(); ++r)
        if (s.screen->effectModel()->recordAt(r)->filterName == "Zodiac") zodiac = r;
    ASSERT_GE(zodiac, 0);
    s.click(s.screen->tblFilters(), zodiac);
    QListView* grid = s.screen->stickerGrid();
    ASSERT_EQ(grid->model()->rowCount(), 24);
    const QRect tile = grid->visualRect(grid->model()->index(0, 0));
    EXPECT_GE(tile.width(), 40);
    EXPECT_GE(tile.height(), 40);
    QWidget* apply = s.vc->vwAddEffect();
    QWidget* settings = s.vc->findChild<QWidget*>("vWBackGroundImage");
    ASSERT_TRUE(apply->isVisible());
    ASSERT_TRUE(settings->isVisible());
    for (QWidget* panel : {settings, s.screen->vwStickers()}) {
        EXPECT_FALSE(apply->geometry().intersects(panel->geometry())) << panel->objectName().toStdString();
        EXPECT_TRUE(s.vc->parametersColumn()->rect().contains(panel->geometry()));
    }
    EXPECT_FALSE(settings->geometry().intersects(s.screen->vwStickers()->geometry()));
}

// Nothing lies over the apply button, whichever panel is shown.
TEST(EffectsScreenWindows, TheApplyButtonTakesClicksForEveryOverlayPanel) {
    Screen s({QSize(800, 600)});
    for (const char* name : {"Add Text", "Add Date", "Add Border", "Black & White", "Add Image", "Add Frames"}) {
        SCOPED_TRACE(name);
        s.click(s.screen->tblFilterCategories(), s.basicRow(name));
        if (QString(name) == "Add Image") s.click(s.screen->tblFilters(), 0);
        if (QString(name) == "Add Frames") {
            // A frame is added once one of its pictures is chosen.
            s.click(s.screen->tblFilters(), 0);
            EXPECT_FALSE(s.vc->btnApplyFilter()->isVisible());
            s.click(s.screen->tblTextureEffects(), 0);
        }
        QPushButton* apply = s.vc->btnApplyFilter();
        ASSERT_TRUE(apply->isVisible());
        const QPoint centre = apply->mapTo(s.vc.get(), apply->rect().center());
        QWidget* hit = s.vc->childAt(centre);
        EXPECT_EQ(hit, apply) << (hit ? hit->objectName().toStdString() + " " + hit->metaObject()->className() : "none");
        // Nor does the button lie over a panel's controls.
        const QRect area = s.vc->vwAddEffect()->geometry();
        for (QWidget* panel : {s.screen->viewWaterMark(), s.screen->vwStickers(), s.screen->vwTextureEffect()})
            if (panel->isVisible()) {
                EXPECT_FALSE(area.intersects(panel->geometry())) << panel->objectName().toStdString();
            }
    }
}

// No panel makes the window larger: at its smallest, the screen keeps its size whichever
// effect is set up.
TEST(EffectsScreenWindows, NoPanelGrowsTheWindowAtItsSmallest) {
    Screen s({QSize(800, 600)});
    s.vc->resize(s.vc->minimumSizeHint());
    Screen::settle();
    const QSize smallest = s.vc->size();
    CategoryTableModel* categories = s.screen->categoryModel();
    for (int row = 0; row < categories->rowCount(); ++row) {
        const auto record = categories->basicAt(row);
        if (!record || categories->rows().isHeader(row)) continue;
        SCOPED_TRACE(record->filterName.toStdString());
        s.screen->selectCategoryRow(row);
        Screen::settle();
        if (record->isCategory && s.screen->effectModel()->rowCount() > 0) {
            s.screen->filterCellDoubleClickedWithIndex(0);
            Screen::settle();
        }
        EXPECT_EQ(s.vc->size(), smallest);
    }
}

// A larger window gives the preview the room: it grows keeping its shape, the photo is read
// again at its size, the strip below stays as tall as before, and the open effect's values
// keep their place on the photo. Back at its size, the preview is as it was.
TEST(EffectsScreenWindows, ALargerWindowGivesThePreviewItsRoomAndTheStripKeepsItsHeight) {
    Screen s;
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Border"));
    const QVariantList committed = s.vc->committedParameters();
    ASSERT_FALSE(committed.isEmpty());
    QWidget* preview = s.vc->previewContainer();
    QWidget* strip = s.vc->photoStripArea();
    EXPECT_EQ(preview->size(), previewbox::kBase);
    const auto resized = [&](QSize size) {
        s.vc->resize(size);
        Screen::settle();
        platform::NotificationCenter::defaultCenter().postNotification(names::WindowEndResizing);
        Screen::settle();
    };

    resized(QSize(1900, 1060));  // a maximised window
    const QSize box = preview->size();
    EXPECT_GT(box.width(), 700);
    EXPECT_NEAR(double(box.width()) / box.height(), 580.0 / 440, 0.01);
    EXPECT_LE(strip->height(), previewbox::kStripHeight);
    EXPECT_EQ(strip->width(), box.width());
    EXPECT_LE(strip->geometry().bottom(), s.vc->footer()->geometry().top()) << "the strip is not cut off";
    const QSizeF container = s.vc->imageContainerSize();
    EXPECT_EQ(QSize(int(container.width()), int(container.height())), box) << "the 4:3 photo fills the preview";
    EXPECT_GE(s.screen->originalImage().width(), int(container.width()) - 1) << "read at the preview's size";
    const QVariantList after = s.vc->committedParameters();
    ASSERT_EQ(after.size(), committed.size());
    for (qsizetype i = 0; i < after.size(); ++i) {
        const QVariantMap a = after[i].toMap(), b = committed[i].toMap();
        for (auto it = b.cbegin(); it != b.cend(); ++it) {
            if (it.value().canConvert<double>() && it.value().typeId() != QMetaType::Bool) {
                EXPECT_NEAR(a.value(it.key()).toDouble(), it.value().toDouble(), 1e-3) << it.key().toStdString();
            }
        }
    }

    resized(QSize(1300, 760));
    EXPECT_EQ(preview->size(), previewbox::kBase);
    EXPECT_EQ(s.vc->imageContainerSize(), QSizeF(previewbox::kBase));
}
