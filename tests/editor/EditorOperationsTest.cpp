// The effects screen's named operations that carry arithmetic or wiring of their own.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QWidget>
#include <cmath>

#include "editor/TextBoxGeometry.h"
#include "editor/ui/TextWatermarkView.h"

namespace {

// The bearing is measured with y growing downwards: a second point below the first on
// screen (larger y) lies at a negative angle.
TEST(TextBoxOperations, BearingOfAPointPairInEveryQuadrant) {
    const struct {
        QPointF first, second;
        float degrees;
    } cases[] = {
        {{0, 0}, {10, 0}, 0.0f},       {{0, 0}, {10, -10}, 45.0f},   {{0, 0}, {0, -10}, 90.0f},
        {{0, 0}, {-10, -10}, 135.0f},  {{0, 0}, {-10, 0}, 180.0f},   {{0, 0}, {-10, 10}, -135.0f},
        {{0, 0}, {0, 10}, -90.0f},     {{0, 0}, {10, 10}, -45.0f},   {{5, 5}, {5, 5}, 0.0f},
        {{100, 50}, {100 + 3, 50 - std::sqrt(27.0)}, 60.0f},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(TextBoxGeometry::pointPairToBearingDegrees(c.first, c.second), c.degrees, 1e-4)
            << c.second.x() << "," << c.second.y();
}

struct CrossDelegate : TextWatermarkViewDelegate {
    int crosses = 0;
    void btnCrossClickedOnTextWatermarkView() override { ++crosses; }
    void transformUpdatedOnTextWatermarkViewWithRotation(float, const QRectF&, const QRectF&) override {}
};

TEST(TextBoxOperations, CentresCrossAndTurnButton) {
    EXPECT_EQ(TextWatermarkView::centerOfView(nullptr), QPointF(0, 0));
    QWidget parent;
    QWidget child(&parent);
    child.setGeometry(10, 20, 30, 41);
    EXPECT_EQ(TextWatermarkView::centerOfView(&child), QPointF(25, 40.5));

    TextWatermarkView view;
    view.resize(580, 440);
    view.geometryModel().setContainerFrame(QRectF(100, 100, 200, 80));
    view.updateCenterValues();
    EXPECT_EQ(view.centerOfTextContainer, QPointF(200, 140));

    view.btnCloseOnTextContainerTapped();  // no delegate: nothing happens
    CrossDelegate delegate;
    view.setDelegate(&delegate);
    view.btnRotateOnTextContainerTapped();
    EXPECT_EQ(delegate.crosses, 0);
    view.btnCloseOnTextContainerTapped();
    EXPECT_EQ(delegate.crosses, 1);

    view.setTextContent(QStringLiteral("Hello"));
    view.setRightTextAlignment();
    EXPECT_EQ(view.textField()->placeholderText(), QStringLiteral("Double Click To Edit"));
    EXPECT_EQ(view.textAlignment(), 1);
    // Fitting the box to its text moves its centre value with it.
    EXPECT_EQ(view.centerOfTextContainer, view.geometryModel().center());
}

}  // namespace

// ---- the crop rectangle's corners, addressed with y measured downwards ----

#include "editor/ui/PointHandles.h"

namespace {

TEST(CornerHandles, IndexedCentresMatchTheRectangleAndItsKeys) {
    QWidget container;
    container.resize(400, 300);
    RectButton button;
    button.setPointContainerView(&container);
    button.setTheExtentRect(QRectF(40, 60, 200, 100));  // y up: lower edge 60, upper 160
    // With y down the rectangle is (40, 140, 200, 100): 2 and 3 on its top, 0 and 1 below.
    const QPointF expected[] = {{40, 240}, {240, 240}, {40, 140}, {240, 140}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(button.centerForPointAtIndex(i), expected[i]) << i;
    EXPECT_EQ(button.centerForPointAtIndex(4), QPointF());
    EXPECT_EQ(button.centerForPointAtIndex(-1), QPointF());

    button.setCenter(QPointF(10, 20), 2);
    EXPECT_EQ(button.corner(2)->center(), QPointF(10, 280));
    EXPECT_EQ(button.centerForPointAtIndex(2), QPointF(10, 20));
    button.setCenter(QPointF(1, 1), 7);  // no such handle: nothing moves
    EXPECT_EQ(button.thePoints().size(), 4);

    button.setPointKeys({QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(button.corner(0)->pointKey, QStringLiteral("a"));
    EXPECT_EQ(button.corner(1)->pointKey, QStringLiteral("b"));
    EXPECT_TRUE(button.corner(2)->pointKey.isEmpty());
    button.setPointKeys({"k0", "k1", "k2", "k3", "k4"});
    EXPECT_EQ(button.corner(3)->pointKey, QStringLiteral("k3"));
    EXPECT_EQ(button.pointKeys().size(), 5);

    button.setState(1);
    for (PointView* p : button.thePoints()) EXPECT_FALSE(p->isHidden());
    button.setState(0);
    for (PointView* p : button.thePoints()) EXPECT_TRUE(p->isHidden());
}

}  // namespace

// ---- the screen's switches ----

#include <QLabel>
#include "editor/ui/AdjustFilterVC.h"
#include "tests/editor/EffectsScreenFixture.h"

namespace {

// Holding the window while an effect is set up must give back the limits the window had.
TEST(EffectsScreenOperations, WindowHeldWhileSettingUpGetsItsOwnLimitsBack) {
    QWidget window;
    window.setMinimumSize(300, 200);
    window.setMaximumSize(2000, 1500);
    window.resize(1300, 800);
    auto* vc = new AdjustFilterVC(&window);
    EXPECT_TRUE(vc->isWindowResizable());
    vc->setWindowResizable(false);
    vc->setWindowResizable(false);  // twice: the first limits are the ones kept
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(vc->isWindowResizable());
    vc->clearControls();
    EXPECT_TRUE(vc->isWindowResizable());
    EXPECT_EQ(window.minimumSize(), QSize(300, 200));
    EXPECT_EQ(window.maximumSize(), QSize(2000, 1500));

    // A maximised window is already held: limits on it would make the window manager drop
    // the maximised state and place the screen-sized window partly off the screen.
    QWidget maximised;
    auto* inMaximised = new AdjustFilterVC(&maximised);
    maximised.showMaximized();
    inMaximised->setWindowResizable(false);
    EXPECT_FALSE(inMaximised->isWindowResizable());
    EXPECT_TRUE(maximised.isMaximized());
    EXPECT_EQ(maximised.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    inMaximised->setWindowResizable(true);
    EXPECT_EQ(maximised.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

    // A screen on its own has no window to hold.
    AdjustFilterVC alone;
    alone.setWindowResizable(false);
    EXPECT_TRUE(alone.isWindowResizable());
}

TEST(EffectsScreenOperations, ZoomWarningPanelsAndTheEmptyStepList) {
    fxtest::Screen s;
    AdjustFilterVC& vc = *s.vc;
    const QSize box = vc.imageContainerView()->size();
    vc.state().currentZooomFactor = 2.0f;
    vc.zoomPreviewsWithCurrentZoomFactor();
    EXPECT_EQ(vc.imgViewFiltered()->size(), box * 2);
    EXPECT_EQ(vc.lblZoom()->text(), QStringLiteral("Zoom: 200 %"));
    EXPECT_FALSE(vc.lblZoom()->isHidden());
    // Choosing an overlay effect returns the preview to the photo's own size.
    vc.selectEffectByName(QStringLiteral("Add Text"));
    EXPECT_EQ(vc.imgViewFiltered()->size(), box);
    EXPECT_TRUE(vc.lblZoom()->isHidden());

    vc.selectEffectByName(QStringLiteral("CICrop"));
    EXPECT_TRUE(vc.vwInfoFilterWarning()->isHidden());
    EXPECT_FALSE(vc.btnInfoFilter()->isHidden());
    vc.clearControls();
    EXPECT_FALSE(vc.vwInfoFilterWarning()->isHidden());
    EXPECT_TRUE(vc.btnInfoFilter()->isHidden());
    EXPECT_EQ(vc.lblBGImgUrl()->text(), QStringLiteral("No image selected"));
    EXPECT_TRUE(vc.vWBackGroundImage()->isHidden());
    EXPECT_EQ(vc.getViewWithTag(100), vc.viewWithTag(100));
    EXPECT_EQ(vc.getViewWithTag(106), nullptr);
    EXPECT_EQ(vc.getViewWithTag(40), nullptr);

    // No steps: the no-steps line instead of the list; one step: the list.
    s.screen->showAppliedFiltersView();
    EXPECT_TRUE(s.screen->tblAppliedFilters()->isHidden());
    s.screen->filterCellDoubleClickedWithIndex(-1);  // no such row: nothing chosen
    vc.selectEffectByName(QStringLiteral("CISepiaTone"));
    s.commit();
    EXPECT_FALSE(s.screen->tblAppliedFilters()->isHidden());

    // A photo whose file is gone.
    EXPECT_FALSE(s.screen->isSelectedPhotoDeleted());
    QFile::remove(s.paths.first());
    EXPECT_TRUE(s.screen->isSelectedPhotoDeleted());
}

}  // namespace

// ---- the buttons inside the batch-step rows ----

#include <QSignalSpy>
#include "editor/ui/EffectDelegates.h"

namespace {

TEST(CellButtons, EachStepButtonReportsItsOwnKindWithTheRow) {
    StepDelegate delegate;
    QSignalSpy spy(&delegate, &StepDelegate::buttonClicked);
    const struct {
        void (StepDelegate::*tapped)(int);
        StepDelegate::Button kind;
    } cases[] = {
        {&StepDelegate::btnApplyOncelltapped, StepDelegate::Apply},
        {&StepDelegate::btnEditFilterOncelltapped, StepDelegate::Edit},
        {&StepDelegate::btnMoveUpOnCellTapped, StepDelegate::MoveUp},
        {&StepDelegate::btnMoveDownOnCellTapped, StepDelegate::MoveDown},
        {&StepDelegate::btnRemoveOncelltapped, StepDelegate::Remove},
    };
    int row = 3;
    for (const auto& c : cases) {
        (delegate.*c.tapped)(row);
        delegate.cellButtonTapped(row + 10, c.kind);
        ASSERT_EQ(spy.size(), 2);
        EXPECT_EQ(spy[0], (QVariantList{row, int(c.kind)}));
        EXPECT_EQ(spy[1], (QVariantList{row + 10, int(c.kind)}));
        spy.clear();
        ++row;
    }
    delegate.cellButtonTapped(1, StepDelegate::ButtonCount);
    EXPECT_TRUE(spy.isEmpty());

    CategoryDelegate categories;
    QSignalSpy deleted(&categories, &CategoryDelegate::deleteClicked);
    categories.btnDeleteOncelltapped(4);
    ASSERT_EQ(deleted.size(), 1);
    EXPECT_EQ(deleted[0].first().toInt(), 4);
}

}  // namespace

// ---- two-picture effects ----

#include "tests/editor/EditorFixture.h"

namespace {

TEST(EffectsScreenOperations, TwoPictureEffectShowsItsSecondPicturePanelClearOfTheControls) {
    EditorScreen s;
    s.vc->show();
    s.vc->selectEffectByName(QStringLiteral("CIDissolveTransition"));
    QWidget* panel = s.vc->vWBackGroundImage();
    ASSERT_FALSE(panel->isHidden());
    // The fixed sample picture is in use, and the panel says so.
    EXPECT_EQ(s.vc->lblBGImgUrl()->text(), QStringLiteral("Second picture: the sample picture"));
    const QRect inColumn = panel->geometry();
    EXPECT_TRUE(s.vc->parametersColumn()->rect().contains(inColumn));
    for (QWidget* w : {static_cast<QWidget*>(s.vc->vwAddEffect()), s.vc->getViewWithTag(100)}) {
        const QRect other(w->mapTo(s.vc->parametersColumn(), QPoint(0, 0)), w->size());
        EXPECT_FALSE(w->isVisible() && other.intersects(inColumn)) << w->objectName().toStdString();
    }
    const QString keep = qEnvironmentVariable("BRISKO_SCREENSHOT");
    if (!keep.isEmpty()) s.vc->grab().save(keep + "/effects-two-pictures.png");

    s.vc->selectEffectByName(QStringLiteral("CISepiaTone"));
    EXPECT_TRUE(panel->isHidden());
}

// Whatever is placed on the preview holds the window's size while it is set up; other
// effects leave the window free.
TEST(EffectsScreenOperations, OverlaysPlacedOnThePreviewHoldTheWindowsSize) {
    EditorScreen s;
    QWidget window;
    window.resize(1300, 800);
    s.vc->setParent(&window);
    window.show();
    const struct {
        const char* effect;
        bool held;
    } cases[] = {{"Add Text", true},       {"Black & White", false}, {"Add Watermark", true}, {"Add Date", true},
                 {"CISepiaTone", false},   {"Add Custom Image", true}, {"Birthday", true},   {"Resize", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.effect);
        s.vc->selectEffectByName(QString::fromLatin1(c.effect));
        EXPECT_EQ(s.vc->isWindowResizable(), !c.held);
        EXPECT_EQ(window.minimumSize() == window.maximumSize(), c.held);
    }
    s.vc->setParent(nullptr);  // the screen is the fixture's to delete
}

// Effects that run over time show the animation controls, which do nothing; others hide them.
TEST(EffectsScreenOperations, AnimationControlsShowOnlyForEffectsThatRunOverTime) {
    EditorScreen s;
    s.vc->show();
    QPushButton* animate = s.vc->animateButton();
    QPushButton* gif = s.vc->btnExportGifImage();
    ASSERT_TRUE(animate && gif);
    const struct {
        const char* effect;
        bool overTime;
    } cases[] = {{"CIDissolveTransition", true}, {"CISepiaTone", false}, {"CIBarsSwipeTransition", true},
                 {"Black & White", false}, {"CIGaussianBlur", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.effect);
        s.vc->selectEffectByName(QString::fromLatin1(c.effect));
        EXPECT_EQ(animate->isVisible(), c.overTime);
        EXPECT_EQ(animate->isEnabled(), c.overTime);
        EXPECT_EQ(gif->isVisible(), c.overTime);
        if (!c.overTime) continue;
        // Inside the column, clear of the apply area.
        EXPECT_TRUE(s.vc->parametersColumn()->rect().contains(animate->geometry()));
        EXPECT_FALSE(animate->geometry().intersects(s.vc->vwAddEffect()->geometry()));
        // Pressed, they change nothing: no step, no value, the same preview.
        const QVariantList before = s.vc->workingParameters().list();
        const int steps = int(AppDelegate::shared().arrayAppliedFilters.size());
        QTest::mouseClick(animate, Qt::LeftButton);
        QTest::mouseClick(gif, Qt::LeftButton);
        EXPECT_EQ(s.vc->workingParameters().list(), before);
        EXPECT_EQ(int(AppDelegate::shared().arrayAppliedFilters.size()), steps);
    }
}

}  // namespace
