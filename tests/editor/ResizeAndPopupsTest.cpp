// The resize arithmetic and the option pop-ups.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>

#include "editor/PopupGeometry.h"
#include "editor/ResizeArithmetic.h"
#include "editor/ui/PointHandles.h"
#include "engine/Utils.h"
#include "records/AppliedFilter.h"
#include "tests/editor/EditorFixture.h"

using platform::Vec;

namespace {
QVariant written(const ResizeOutcome& o, const char* key) {
    for (const auto& w : o.writes)
        if (w.first == QLatin1String(key)) return w.second;
    return {};
}
}  // namespace

TEST(ResizeArithmetic, ReopenedStepsAndUnitSwitches) {
    // Saved in percent: 50 and 25 of 4000 x 3000.
    ResizeOutcome o = ResizeArithmetic::setup({4000, 3000}, 0, true, true, 50, 25, 0, 0);
    EXPECT_EQ(o.unit, 1);
    EXPECT_EQ(o.width, 50);
    EXPECT_EQ(o.height, 25);
    EXPECT_EQ(written(o, "resizedWidth").toInt(), 2000);
    EXPECT_EQ(written(o, "resizedHeight").toInt(), 750);
    // Saved in pixels: 1000 x 1000 of 3000 x 2000.
    o = ResizeArithmetic::setup({3000, 2000}, 1, true, false, 0, 0, 1000, 1000);
    EXPECT_EQ(o.unit, 0);
    EXPECT_EQ(written(o, "percentWidth").toInt(), 33);
    EXPECT_EQ(written(o, "percentHeight").toInt(), 50);

    struct Case { QSizeF photo; int w, h; int pw, ph; };
    const std::vector<Case> cases = {
        {{6000, 4000}, 3000, 2000, 50, 50},
        {{4000, 3000}, 1000, 750, 25, 25},
        {{1000, 1000}, 250, 600, 25, 60},
        {{800, 600}, 800, 600, 100, 100},
    };
    for (const Case& c : cases) {
        const ResizeOutcome toPercent = ResizeArithmetic::switchUnit(c.photo, 0, 1, c.w, c.h);
        EXPECT_EQ(toPercent.unit, 1);
        EXPECT_EQ(toPercent.width, c.pw);
        EXPECT_EQ(toPercent.height, c.ph);
        EXPECT_EQ(written(toPercent, "resizedWidth").toInt(), c.w);
        EXPECT_EQ(written(toPercent, "isPercentBaseResize"), QVariant(true));
        const ResizeOutcome back = ResizeArithmetic::switchUnit(c.photo, 1, 0, toPercent.width, toPercent.height);
        EXPECT_EQ(back.width, c.w) << "round trip";
        EXPECT_EQ(back.height, c.h);
        EXPECT_EQ(written(back, "isPercentBaseResize"), QVariant(false));
    }
    // The unit in use changes nothing.
    EXPECT_FALSE(ResizeArithmetic::switchUnit({6000, 4000}, 1, 1, 50, 50).changed);
}

TEST(ResizeArithmetic, NeverDividesByAZeroSize) {
    for (QSizeF photo : {QSizeF(0, 0), QSizeF(0, 3000), QSizeF(4000, 0)}) {
        const ResizeOutcome unit = ResizeArithmetic::switchUnit(photo, 0, 1, 3000, 2000);
        EXPECT_FALSE(unit.changed);
        EXPECT_EQ(unit.width, 3000);
        const ResizeOutcome reopened = ResizeArithmetic::setup(photo, 0, true, false, 0, 0, 1000, 1000);
        EXPECT_EQ(written(reopened, "percentWidth").toInt(), 100);
        const ResizeOutcome typed = ResizeArithmetic::fieldChanged(photo, 0, true, true, 500, 400, 400);
        EXPECT_GE(typed.width, 1);
        EXPECT_GE(typed.height, 1);
        EXPECT_EQ(ResizeArithmetic::aspectBoxOn(photo, 0, 500, 400).width, 1);
    }
}

TEST(ResizeArithmetic, TypingKeepsTheLimits) {
    // Percent mode, aspect box off, 6000 wide: 170 % would be 10200 pixels.
    EXPECT_EQ(ResizeArithmetic::fieldChanged({6000, 4000}, 1, false, true, 170, 100, 100).width, 17);
    // Aspect box on: the height follows the width.
    ResizeOutcome o = ResizeArithmetic::fieldChanged({6000, 4000}, 0, true, true, 3000, 4000, 4000);
    EXPECT_EQ(o.height, 2000);
    // Past 10000 pixels the width drops its last digit and the height returns.
    o = ResizeArithmetic::fieldChanged({6000, 4000}, 0, true, true, 16000, 2000, 2000);
    EXPECT_EQ(o.width, 1600);
    EXPECT_EQ(o.height, 2000);
    // A field below 1 becomes 1.
    EXPECT_EQ(ResizeArithmetic::fieldChanged({6000, 4000}, 0, false, true, 0, 50, 50).width, 1);
    EXPECT_EQ(ResizeArithmetic::aspectBoxOn({6000, 4000}, 0, 10, 2000).width, 3000);
}

TEST(OptionPopups, SizesAndLists) {
    struct Case { int type; int entries; bool osx16; QSizeF size; };
    const std::vector<Case> cases = {
        {PopupGeometry::DateOption, 4, false, {200, 174}}, {PopupGeometry::DateFormat, 11, false, {200, 210}},
        {PopupGeometry::CropRatio, 12, false, {200, 210}}, {PopupGeometry::TimeFormat, 2, false, {80, 102}},
        {PopupGeometry::TimeFormat, 2, true, {100, 107}},  {PopupGeometry::ResizeUnit, 2, false, {120, 102}},
        {PopupGeometry::ResizeUnit, 2, true, {150, 107}},  {PopupGeometry::Font, 3, false, {200, 138}},
        {PopupGeometry::Font, 5, false, {200, 210}},
    };
    for (const Case& c : cases) EXPECT_EQ(PopupGeometry::popupSize(c.type, c.entries, c.osx16), c.size) << c.type;
    EXPECT_EQ(PopupGeometry::fixedList(PopupGeometry::DateFormat), Utils::dateFormatNames());
    EXPECT_EQ(Utils::dateFormatNames().size(), 11);
    EXPECT_EQ(Utils::dateFormatNames().value(3), "YYYY-MMM-DD");
    EXPECT_EQ(Utils::timeFormatNames(), QStringList({"AM/PM", "24h"}));
    EXPECT_EQ(PopupGeometry::fixedList(PopupGeometry::CropRatio).value(11), "Pinterest Pin");
    for (int stored : {-1, 12, 40}) EXPECT_EQ(PopupGeometry::cropRatioIndex(stored), 0);
    EXPECT_EQ(PopupGeometry::cropRatioIndex(7), 7);
}

TEST(OptionPopups, CropRatioAndResizeUnitFromTheirLists) {
    EditorScreen s(600, 400);
    s.vc->show();
    s.vc->selectEffectByName("CICrop");
    s.vc->selectCropRatioTapped();
    ASSERT_TRUE(s.vc->attachedPopUpWindow());
    EXPECT_EQ(s.vc->tblPopupOptions()->count(), 12);
    EXPECT_EQ(s.vc->attachedPopUpWindow()->view()->size(), QSize(200, 210));
    // Rows outside the list do nothing and keep the list open.
    s.vc->popupRowChosen(-1);
    s.vc->popupRowChosen(12);
    EXPECT_TRUE(s.vc->attachedPopUpWindow());
    EXPECT_EQ(s.value("cropRatioIndex").toInt(), 0);
    s.vc->popupRowChosen(2);
    EXPECT_FALSE(s.vc->attachedPopUpWindow());
    EXPECT_EQ(AppDelegate::shared().selectedCropRatio, 2);
    EXPECT_EQ(s.value("cropRatioIndex").toInt(), 2);
    EXPECT_EQ(s.vc->txtCropRatio()->text(), "Square 1X1");
    const Vec rect = s.value("inputRectangle").value<Vec>();
    EXPECT_NEAR(rect.Z(), rect.W(), 1e-3) << "the crop is square now";
    EXPECT_EQ(s.vc->cropField(2)->value(), int(rect.Z()));

    s.vc->selectEffectByName("Resize");
    s.vc->txtWidth()->setText("300");
    s.vc->txtHeight()->setText("200");
    s.vc->selectDimentionResizeTapped();
    ASSERT_EQ(s.vc->tblPopupOptions()->count(), 2);
    s.vc->popupRowChosen(1);
    EXPECT_EQ(s.vc->lblSelectedDimensionType()->text(), "In Percents");
    EXPECT_EQ(s.vc->txtWidth()->text(), "50");
    EXPECT_EQ(s.value("isPercentBaseResize"), QVariant(true));
    EXPECT_EQ(s.value("resizedWidth").toInt(), 300);
    s.vc->selectDimentionResizeTapped();
    s.vc->popupRowChosen(0);
    EXPECT_EQ(s.vc->txtWidth()->text(), "300");
    EXPECT_EQ(s.vc->txtHeight()->text(), "200");
}

TEST(OptionPopups, AReopenedCropWithAnUnknownRatioReadsAsFreeForm) {
    EditorScreen s;
    AppDelegate::shared().arrayAppliedFilters = {AppliedFilter::initWithFilterName(
        "CICrop", "Crop",
        testsupport::parameterList({{"cropRatioIndex", 17}, {"cropOrinetationIndex", 0},
                                    {"inputRectangle", QVariant::fromValue(Vec(0.25, 0.25, 0.5, 0.5))}}),
        {}, nullptr)};
    s.vc->btnEditFilterTappedAtIndex(0);
    EXPECT_EQ(AppDelegate::shared().selectedCropRatio, 0);
    EXPECT_EQ(s.vc->txtCropRatio()->text(), "FreeForm");
    EXPECT_EQ(s.value("inputRectangle").value<Vec>(), Vec(145, 110, 290, 220));
    EXPECT_EQ(s.vc->theExtentButton()->theExtentRect(), QRectF(145, 110, 290, 220));
}
