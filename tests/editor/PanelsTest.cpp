// The effects screen's panels, driven through their widgets offscreen.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest/QTest>
#include <cmath>
#include <functional>

#include "editor/ui/PointHandles.h"
#include "editor/ui/ValueSlider.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppliedFilter.h"
#include "tests/editor/EditorFixture.h"

using platform::NumberKind;
using platform::Vec;
using platform::numberKind;

namespace {

bool visible(AdjustFilterVC& vc, QWidget* w) { return w && w->isVisibleTo(&vc); }

int visibleSliders(AdjustFilterVC& vc) {
    int n = 0;
    for (int i = 0; i < 6; ++i) n += visible(vc, vc.viewWithTag(100 + i)) ? 1 : 0;
    return n;
}

QString label(AdjustFilterVC& vc, int tag) { return static_cast<QLabel*>(vc.viewWithTag(tag))->text(); }

// Moves a slider the way a user does (the slider's own step signal).
void userMoves(ValueSlider* s, double value) {
    const double span = s->maximumValue() - s->minimumValue();
    s->QSlider::setValue(int(std::lround((value - s->minimumValue()) / span * s->maximum())));
}

}  // namespace

TEST(EffectPanels, CoreImageControlsComeFromTheFilterAttributes) {
    struct Slider { const char* key; const char* label; double min, max, value; };
    struct Case {
        const char* effect;
        const char* title;
        std::vector<Slider> sliders;
        int wells, points;
    };
    const double pi = 3.14159265358979;
    const std::vector<Case> cases = {
        {"CIGaussianBlur", "Gaussian Blur", {{"inputRadius", "Radius", 0, 16, 5}}, 0, 0},
        {"CITwirlDistortion", "Twirl",
         {{"inputRadius", "Radius", 0, 500, 300}, {"inputAngle", "Angle", -4 * pi, 4 * pi, pi}}, 0, 1},
        {"CIWhitePointAdjust", "White Point Adjust", {}, 1, 0},
        {"CIExposureAdjust", "Exposure Adjust", {{"inputEV", "Exposure", -2, 2, 1}}, 0, 0},
        {"Brightness", "Brightness",
         {{"inputSaturation", "Saturation", 0, 2, 1}, {"inputBrightness", "Brightness", -0.21, 0.21, 0.11},
          {"inputContrast", "Contrast", 0.25, 4, 1}},
         0, 0},
    };
    EditorScreen s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        s.vc->selectEffectByName(c.effect);
        EXPECT_EQ(s.vc->lblFilterName()->text().contains(c.title), true) << s.vc->lblFilterName()->text().toStdString();
        ASSERT_EQ(visibleSliders(*s.vc), int(c.sliders.size()));
        for (int i = 0; i < int(c.sliders.size()); ++i) {
            const Slider& e = c.sliders[size_t(i)];
            EXPECT_EQ(s.vc->state().sliderKeys[size_t(i)], e.key);
            EXPECT_EQ(label(*s.vc, 10 + i), e.label);
            EXPECT_NEAR(s.vc->slider(i)->minimumValue(), e.min, 1e-5);
            EXPECT_NEAR(s.vc->slider(i)->maximumValue(), e.max, 1e-5);
            EXPECT_NEAR(s.vc->slider(i)->doubleValue(), e.value, 1e-3);
            EXPECT_EQ(label(*s.vc, 30 + i), QString::asprintf("%.2f", e.min));
            EXPECT_NEAR(s.value(e.key).toDouble(), e.value, 1e-3) << "preview and slider start together";
        }
        EXPECT_EQ(visible(*s.vc, s.vc->colourWell(0)), c.wells > 0);
        EXPECT_EQ(visible(*s.vc, s.vc->pointButton(0)), c.points > 0);
        EXPECT_EQ(s.vc->state().TOTAL_COLOR_WELL_USED, c.wells);
        EXPECT_EQ(s.vc->state().TOTAL_RECT_BUTTONS_USED, c.points);
    }
    // The twirl's centre starts in the middle of the container, as a vector.
    s.vc->selectEffectByName("CITwirlDistortion");
    EXPECT_EQ(s.value("inputCenter").value<Vec>(), Vec(290, 220));
    EXPECT_EQ(s.vc->pointButton(0)->handle()->center(), QPointF(290, 220));
    s.vc->selectEffectByName("CIWhitePointAdjust");
    EXPECT_EQ(label(*s.vc, 1000), "Color :");
    EXPECT_EQ(s.vc->colourWellColour(0), QColor(Qt::white));
}

TEST(EffectPanels, ControlChangesWriteTheirKeyWithTheirKind) {
    EditorScreen s;
    s.vc->selectEffectByName("CITwirlDistortion");
    const QImage before = s.vc->shownImage();
    userMoves(s.vc->slider(0), 120);
    EXPECT_EQ(numberKind(s.value("inputRadius")), NumberKind::Real);
    EXPECT_NEAR(s.value("inputRadius").toDouble(), 120, 0.1);
    EXPECT_EQ(s.vc->valueField(0)->text(), "120.00");
    EXPECT_TRUE(s.list().isChanged()) << "the first user change marks the step changed";
    EXPECT_TRUE(s.vc->btnApplyFilter()->isDefault()) << "and highlights the apply button";
    EXPECT_NE(s.vc->shownImage(), before);

    // Dragging the centre handle writes a vector with the handle's new centre.
    PointView* handle = s.vc->pointButton(0)->handle();
    handle->pressAt({290, 220});
    handle->dragTo({300, 200});
    handle->releaseAt();
    EXPECT_EQ(s.value("inputCenter").value<Vec>(), Vec(300, 200));
    EXPECT_EQ(handle->center(), QPointF(300, 200));
    // The key keeps the position of its first write.
    const QStringList keys = [&] {
        QStringList k;
        for (const QVariant& e : s.list().list()) k << e.toMap().firstKey();
        return k;
    }();
    EXPECT_EQ(keys, QStringList({"inputRadius", "inputAngle", "inputCenter"}));

    // A colour, picked in the colour panel the well opens beside the screen.
    s.vc->selectEffectByName("CIWhitePointAdjust");
    QTest::mouseClick(s.vc->colourWell(0), Qt::LeftButton);
    ASSERT_TRUE(s.vc->colourDialog() && s.vc->colourDialog()->isVisible());
    EXPECT_FALSE(s.vc->colourDialog()->isModal());
    EXPECT_FALSE(s.list().contains("inputColor")) << "opening the panel picks nothing";
    s.vc->colourDialog()->setCurrentColor(QColor(255, 200, 100));
    EXPECT_EQ(s.value("inputColor").value<QColor>(), QColor(255, 200, 100));
    // Picking the colour the filter already has changes nothing.
    s.list().clearChanged();
    s.vc->colorPickerColorWellChanged(0, QColor(255, 200, 100));
    EXPECT_FALSE(s.list().isChanged());

    // Whole numbers for the border's sliders.
    s.vc->selectEffectByName("Add Border");
    s.vc->handleSlider(1, 12.7);
    EXPECT_EQ(numberKind(s.value("cornerRadius")), NumberKind::Integer);
    EXPECT_EQ(s.value("cornerRadius").toInt(), 12);
    EXPECT_EQ(s.vc->valueField(1)->text(), "12");
}

TEST(EffectPanels, TypedSliderValuesAreHeldToTheSliderRange) {
    EditorScreen s;
    s.vc->selectEffectByName("CIGaussianBlur");
    struct Case { const char* typed; double stored; const char* shown; };
    const std::vector<Case> cases = {{"8", 8, "8.00"}, {"99", 16, "16.00"}, {"-3", 0, "0.00"}, {"2.5", 2.5, "2.50"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QLineEdit* field = s.vc->valueField(0);
        field->setText(c.typed);
        emit field->editingFinished();
        EXPECT_DOUBLE_EQ(s.value("inputRadius").toDouble(), c.stored);
        EXPECT_DOUBLE_EQ(s.vc->slider(0)->doubleValue(), c.stored);
        EXPECT_EQ(field->text(), c.shown);
    }
    // Text that is no number leaves the value alone.
    s.vc->valueField(0)->setText("abc");
    emit s.vc->valueField(0)->editingFinished();
    EXPECT_DOUBLE_EQ(s.value("inputRadius").toDouble(), 2.5);
}

TEST(EffectPanels, OwnEffectsStartFromTheirDefaults) {
    EditorScreen s;
    struct Case { const char* effect; std::vector<std::pair<const char*, double>> values; int sliders; int entries = -1; };
    const std::vector<Case> cases = {
        {"RGB Adjust", {{"Red", 255}, {"Green", 238}, {"Blue", 210}, {"Alpha", 1}}, 4},
        {"Black & White", {{"Intensity", 0}}, 1},
        {"Rotate", {{"angle", 0}, {"flipHorizontally", 0}, {"flipVertically", 0}}, 1},
        {"Add Border", {{"borderWidth", 10}, {"cornerRadius", 10}}, 2, 3},
        {"Custom Enhance",
         {{"enhanceExposureValue", 0}, {"enhanceBrightnessValue", 0}, {"enhanceContrastValue", 1},
          {"enhanceSaturationValue", 1}, {"enhanceSharpnessValue", 0}, {"enhanceDenoiseValue", 0},
          {"enhanceVibranceValue", 0}, {"enhanceHueValue", 0}, {"enhanceOpacityValue", 1}},
         0},
        {"Red Eye Correction", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        s.vc->selectEffectByName(c.effect);
        EXPECT_EQ(visibleSliders(*s.vc), c.sliders);
        ASSERT_EQ(s.list().list().size(), qsizetype(c.entries >= 0 ? c.entries : int(c.values.size())));
        for (const auto& [key, v] : c.values) EXPECT_NEAR(s.value(key).toDouble(), v, 1e-6) << key;
        EXPECT_TRUE(visible(*s.vc, s.vc->btnreset()));
    }
    s.vc->selectEffectByName("Add Border");
    EXPECT_EQ(s.vc->slider(0)->maximumValue(), 100);
    EXPECT_EQ(s.value("borderColor").value<QColor>(), QColor(85, 85, 85));
    s.vc->selectEffectByName("Custom Enhance");
    EXPECT_TRUE(visible(*s.vc, s.vc->vWforCustomEnhance()));
    EXPECT_EQ(s.vc->enhanceField(2)->text(), "1.00");
    userMoves(s.vc->enhanceSlider(1), 0.5);
    EXPECT_NEAR(s.value("enhanceBrightnessValue").toDouble(), 0.5, 1e-3);
    EXPECT_EQ(s.value("enhanceParamIndex").toInt(), 1);
    s.vc->selectEffectByName("Rotate");
    QTest::mouseClick(s.vc->btnFlipHorizontally(), Qt::LeftButton);
    EXPECT_EQ(s.value("flipHorizontally"), QVariant(true));
    s.vc->selectEffectByName("CIColorInvert");
    EXPECT_FALSE(visible(*s.vc, s.vc->btnreset())) << "nothing to reset";
}

TEST(EffectPanels, EditingAStepStartsFromItsValuesAndKeepsItsColour) {
    EditorScreen s;
    AppDelegate& app = AppDelegate::shared();
    app.arrayAppliedFilters = {
        AppliedFilter::initWithFilterName("CIWhitePointAdjust", "White Point Adjust",
                                          testsupport::parameterList({{"inputColor", QColor(200, 100, 50)}}), {}, nullptr),
        AppliedFilter::initWithFilterName(
            "CITwirlDistortion", "Twirl Distortion",
            testsupport::parameterList({{"inputRadius", 0.25}, {"inputCenter", QVariant::fromValue(Vec(0.25, 0.75))}}),
            {}, nullptr)};
    s.vc->btnEditFilterTappedAtIndex(0);
    EXPECT_EQ(s.vc->btnApplyFilter()->text(), "Edit Effect");
    EXPECT_EQ(s.vc->colourWellColour(0), QColor(200, 100, 50));
    // Saved untouched: the step still has its colour.
    const QVariantList committed = s.vc->committedParameters();
    ASSERT_EQ(committed.size(), 1);
    EXPECT_EQ(committed[0].toMap().value("inputColor").value<QColor>(), QColor(200, 100, 50));

    s.vc->btnEditFilterTappedAtIndex(1);
    // Size-relative values come back in container points (580 x 440).
    EXPECT_NEAR(s.vc->slider(0)->doubleValue(), 145, 1e-3);
    EXPECT_EQ(s.value("inputCenter").value<Vec>(), Vec(145, 330));
    EXPECT_EQ(s.vc->pointButton(0)->handle()->center(), QPointF(145, 330));
    EXPECT_FALSE(s.list().isChanged());
}

TEST(EffectPanels, CancelDropsTheEffectAndKeepsTheWindow) {
    EditorScreen s;
    QMainWindow window;
    AdjustFilterVC* vc = s.vc.release();
    window.setCentralWidget(vc);
    window.show();
    vc->selectEffectByName("CIGaussianBlur");
    QTest::mouseClick(vc->btnCancel(), Qt::LeftButton);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(vc->state().currentFilterName.isEmpty());
    EXPECT_TRUE(AppDelegate::shared().currentFilterName.isEmpty());
    EXPECT_FALSE(visible(*vc, vc->viewWithTag(100)));
    EXPECT_TRUE(vc->workingParameters().isEmpty());
}

TEST(EffectPanels, TypingWaitsHalfASecondBeforeRedrawing) {
    EditorScreen s;
    s.vc->selectEffectByName("Resize");
    EXPECT_EQ(s.vc->txtWidth()->text(), "1160");
    EXPECT_EQ(s.vc->txtHeight()->text(), "880");
    EXPECT_EQ(s.vc->lblSelectedDimensionType()->text(), "In Pixels");
    EXPECT_EQ(numberKind(s.value("resizedWidth")), NumberKind::Integer);
    EXPECT_EQ(s.value("isPercentBaseResize"), QVariant(false));
    EXPECT_EQ(s.value("percentWidth").toInt(), 100);
    const quint64 shown = s.vc->previewRenderer().latestGeneration();
    s.vc->txtWidth()->selectAll();
    QTest::keyClicks(s.vc->txtWidth(), "9");
    QTest::keyClicks(s.vc->txtWidth(), "0");
    EXPECT_EQ(s.vc->previewRenderer().latestGeneration(), shown) << "nothing drawn while typing";
    EXPECT_EQ(s.scheduler->lastDelay(), 500);
    EXPECT_TRUE(s.scheduler->fire());
    EXPECT_EQ(s.vc->previewRenderer().latestGeneration(), shown + 1) << "one redraw for the keystrokes";
    EXPECT_FALSE(s.scheduler->fire());
}

TEST(EffectPanels, RequestsPastTheSlotsAreCountedAndLoggedByWhatRanOut) {
    // Six slider rows and two colour wells: what asks for more is still counted for the
    // layout, shows nothing, and the log names what ran out.
    struct Case {
        const char* effect;
        std::function<void(AdjustFilterVC&)> more;
        const char* logged;
        int slidersUsed, wellsUsed, slidersShown;
    };
    const Case cases[] = {
        {"RGB Adjust",  // four sliders of its own, three more asked for
         [](AdjustFilterVC& vc) {
             for (const char* key : {"Red", "Green", "Blue"}) vc.addSliderControlWithKey(key, 1);
         },
         "Too many sliders!", 7, 0, 6},
        {"Add Border",  // one well of its own, two more asked for
         [](AdjustFilterVC& vc) {
             for (int i = 0; i < 2; ++i) vc.addColorWellControlWithKey("borderColor", Qt::red);
         },
         "Too many color wells!", 2, 3, 2},
    };
    EditorScreen s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        s.vc->selectEffectByName(c.effect);
        testing::internal::CaptureStderr();
        c.more(*s.vc);
        const QString log = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(log.count(c.logged), 1) << log.toStdString();
        EXPECT_FALSE(log.contains("No slider found")) << log.toStdString();
        EXPECT_EQ(s.vc->state().TOTAL_SLIDER_USED, c.slidersUsed);
        EXPECT_EQ(s.vc->state().TOTAL_COLOR_WELL_USED, c.wellsUsed);
        EXPECT_EQ(visibleSliders(*s.vc), c.slidersShown);
    }
}

TEST(EffectPanels, TheLastFilterEffectChosenIsSavedInTheDefaults) {
    EditorScreen s;
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey("DefaultFilterName");
    // Filter effects are remembered by their own name; the program's own effects leave it.
    const std::pair<const char*, const char*> choices[] = {
        {"CIGaussianBlur", "CIGaussianBlur"}, {"Brightness", "Brightness"}, {"Resize", "Brightness"},
        {"Add Text", "Brightness"}, {"CIColorInvert", "CIColorInvert"}};
    for (const auto& [effect, stored] : choices) {
        s.vc->selectEffectByName(effect);
        EXPECT_EQ(defaults.stringForKey("DefaultFilterName"), stored) << effect;
    }
    // Written to the file at once, not only at the end of the program.
    platform::UserDefaults onDisk(defaults.filePath());
    EXPECT_EQ(onDisk.stringForKey("DefaultFilterName"), "CIColorInvert");
}
