// Size-relative storing of parameter lists, look-ups, slider ranges and crop ratios.
#include "engine/FilterCustomization.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <cmath>

using platform::Vec;

namespace {

using enginetest::list;
using enginetest::vec;

QVariant entryValue(const QVariantList& l, int i) { return l.at(i).toMap().first(); }

struct StoreCase {
    const char* filter;
    const char* key;
    QVariant value;
    QVariant stored;
};

// Names the case in test listings instead of a byte dump.
void PrintTo(const StoreCase& c, std::ostream* os) { *os << c.filter << ' ' << c.key; }

class ConvertTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(ConvertTest, StoresFractionsAndScalesBack) {
    auto& fc = FilterCustomization::sharedInstance();
    const StoreCase& c = GetParam();
    const QSizeF size(400, 300);
    const QVariantList stored = fc.convertFilterParametrsInPerCent(c.filter, size, list({{c.key, c.value}}));
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(entryValue(stored, 0), c.stored) << c.filter << " " << c.key;
    const QVariantList back = fc.convertBackFilterParametrsFromPerCent(c.filter, size, stored);
    EXPECT_EQ(entryValue(back, 0), c.value) << c.filter << " " << c.key;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertTest,
    ::testing::Values(StoreCase{"CIVignetteEffect", "inputRadius", 40.0, 0.1},
                      StoreCase{"CIVignetteEffect", "inputCenter", vec(200, 150), vec(0.5, 0.5)},
                      StoreCase{"CIVignetteEffect", "inputIntensity", 0.6, 0.6},
                      StoreCase{"CISharpenLuminance", "inputIntensity", 40.0, 0.1},
                      StoreCase{"CISepiaTone", "inputIntensity", 0.8, 0.8},
                      StoreCase{"Add Text", "fontSize", 30.0, 0.1}, StoreCase{"CIPixellate", "inputScale", 8.0, 0.02},
                      StoreCase{"CIBumpDistortion", "inputScale", 0.5, 0.5},
                      StoreCase{"CICrop", "inputRectangle", vec(40, 30, 200, 150), vec(0.1, 0.1, 0.5, 0.5)},
                      StoreCase{"Add Logo", "boundedRect", vec(0, 0, 400, 300), vec(0, 0, 1, 1)},
                      StoreCase{"Add Text", "text", QString("hello"), QString("hello")}));

TEST(ConvertList, DuplicateKeyConvertsOnlyTheLastEntry) {
    auto& fc = FilterCustomization::sharedInstance();
    const QVariantList stored = fc.convertFilterParametrsInPerCent(
        "CIGaussianBlur", QSizeF(400, 300), list({{"inputRadius", 40.0}, {"inputRadius", 80.0}}));
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(entryValue(stored, 0).toDouble(), 40.0);
    EXPECT_EQ(entryValue(stored, 1).toDouble(), 0.2);
    EXPECT_EQ(fc.getSavedFloatValueForKey("inputRadius", stored).toDouble(), 0.2);
    EXPECT_EQ(fc.workingParameters(), stored);
}

TEST(ConvertList, EmptyOrCollapsedSizeLeavesValuesFinite) {
    auto& fc = FilterCustomization::sharedInstance();
    const QVariantList in = list({{"inputRadius", 40.0}, {"inputCenter", vec(10, 10)}, {"fontSize", 12.0}});
    for (QSizeF size : {QSizeF(0, 300), QSizeF(400, 0), QSizeF(-5, 10), QSizeF(qQNaN(), 4)}) {
        const QVariantList out = fc.convertFilterParametrsInPerCent("CIVignetteEffect", size, in);
        EXPECT_EQ(out, in);
    }
    EXPECT_TRUE(fc.convertFilterParametrsInPerCent("CIBloom", QSizeF(10, 10), {}).isEmpty());
}

TEST(ConvertOne, SliderValueFollowsTheWidthOnly) {
    auto& fc = FilterCustomization::sharedInstance();
    EXPECT_FLOAT_EQ(fc.getConvertedParamterFromPercentBase(0.1f, "inputRadius", QSizeF(400, 10), "CIBoxBlur"), 40.0f);
    EXPECT_FLOAT_EQ(fc.getConvertedParamterFromPercentBase(0.6f, "inputIntensity", QSizeF(400, 10), "CIBloom"), 0.6f);
    EXPECT_FLOAT_EQ(fc.getConvertedParamterFromPercentBase(0.5f, "inputCenter", QSizeF(400, 10), "CIBloom"), 0.5f);
    EXPECT_FLOAT_EQ(fc.getConvertedParamterFromPercentBase(0.02f, "inputScale", QSizeF(400, 10), "CIPixellate"), 8.0f);
}

TEST(Lookups, StringTakesFirstFloatTakesLast) {
    auto& fc = FilterCustomization::sharedInstance();
    const QVariantList l =
        list({{"text", QString("first")}, {"size", 1.0}, {"text", QString("second")}, {"size", 2.0}});
    EXPECT_EQ(fc.getSavedStringValueForKey("text", l).toString(), "first");
    EXPECT_EQ(fc.getSavedFloatValueForKey("size", l).toDouble(), 2.0);
    EXPECT_FALSE(fc.getSavedFloatValueForKey("absent", l).isValid());
    EXPECT_EQ(fc.getSavedStringValueForKey("absent", {}).toString(), QString());
}

TEST(Lookups, RectAndPointAreScaledToThePreviewBox) {
    auto& fc = FilterCustomization::sharedInstance();
    AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE = QSizeF(500, 400);
    const QVariantList l = list({{"inputCenter", vec(0.5, 0.25)}, {"inputRectangle", vec(0.1, 0.1, 0.5, 0.5)}});
    EXPECT_EQ(fc.getSavedRectOrPointValueForKey("inputCenter", l).value<Vec>(), Vec(250, 100));
    EXPECT_EQ(fc.getSavedRectOrPointValueForKey("inputRectangle", l).value<Vec>(), Vec(50, 40, 250, 200));
    EXPECT_FALSE(fc.getSavedRectOrPointValueForKey("fontSize", l).isValid());
    AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE = QSizeF(580, 440);
}

TEST(Ranges, OverridesAndFallbacks) {
    auto& fc = FilterCustomization::sharedInstance();
    struct Row {
        const char* filter;
        const char* key;
        double min, max, def;
    };
    const Row rows[] = {
        {"CIVignetteEffect", "inputRadius", 0, 300, 240},
        {"CIVignetteEffect", "inputIntensity", -99, -99, 0.6},
        {"CIExposureAdjust", "inputEV", -2, 2, 1.0},
        {"CIPixellate", "inputScale", 1, 16, -99},
        {"Brightness", "inputBrightness", -0.21, 0.21, 0.11},
        {"RGB Adjust", "Alpha", 0.1, 1.0, -99},
        {"RGB Adjust", "Green", 0, 255, -99},
        {"Custom Enhance", "enhanceOpacityValue", -99, -99, 1.0},
        {"Custom Enhance", "enhanceHueValue", -99, -99, 0},
        {"CIBloom", "inputRadius", -99, -99, -99},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(fc.getMinValueForFilter(r.filter, r.key, -99), r.min) << r.filter << " " << r.key;
        EXPECT_EQ(fc.getMaxValueForFilter(r.filter, r.key, -99), r.max) << r.filter << " " << r.key;
        EXPECT_EQ(fc.getDefaultValueForFilter(r.filter, r.key, -99), r.def) << r.filter << " " << r.key;
    }
}

TEST(CropRatios, HeightMultipliers) {
    const QSizeF box(580, 440);
    struct Row {
        int ratio, orientation;
        float m;
    };
    const Row rows[] = {{0, 0, 1.0f},       {1, 0, 440.0f / 580.0f}, {2, 1, 1.0f}, {3, 0, 4.0f / 6.0f}, {3, 1, 1.5f},
                        {8, 0, 0.5233333f}, {11, 0, 0.6669691f},     {9, 1, 2.0f}, {12, 0, 1.0f},       {-1, 1, 1.0f}};
    for (const Row& r : rows)
        EXPECT_FLOAT_EQ(FilterCustomization::heightMultiplierFor(r.ratio, r.orientation, box), r.m)
            << r.ratio << "/" << r.orientation;
    // A preview box that has not been laid out yet must not give an infinite multiplier.
    EXPECT_FLOAT_EQ(FilterCustomization::heightMultiplierFor(1, 1, QSizeF(0, 0)), 1.0f);

    auto& app = AppDelegate::shared();
    app.selectedCropOrientation = 1;
    EXPECT_FLOAT_EQ(FilterCustomization::sharedInstance().getHeightMultiplierRatioForCropRatio(3), 1.5f);
    app.selectedCropOrientation = 0;
}

TEST(CropRatios, StartingRectanglesKeepTheirShapeAndMargins) {
    const QSizeF box(580, 440);
    EXPECT_EQ(FilterCustomization::extendRectFor(2, 0, box, 0, 0), QRectF(120, 50, 340, 340));
    for (int ratio = 0; ratio < 12; ++ratio) {
        for (int orientation : {0, 1}) {
            const QRectF r = FilterCustomization::extendRectFor(ratio, orientation, box, ratio, orientation);
            const float m = FilterCustomization::heightMultiplierFor(ratio, orientation, box);
            EXPECT_GE(r.x(), 50 - 1e-3) << ratio << "/" << orientation;
            EXPECT_GE(r.y(), 50 * m - 1e-3) << ratio << "/" << orientation;
            EXPECT_NEAR(r.center().x(), 290, 1e-3);
            EXPECT_NEAR(r.center().y(), 220, 1e-3);
            if (ratio >= 2) {
                EXPECT_NEAR(r.height() / r.width(), m, 1e-4) << ratio << "/" << orientation;
            }
        }
    }
    // Too small a box gives an empty rectangle, never a negative one.
    const QRectF tiny = FilterCustomization::extendRectFor(3, 0, QSizeF(60, 40), 3, 0);
    EXPECT_GE(tiny.width(), 0);
    EXPECT_GE(tiny.height(), 0);
    EXPECT_TRUE(FilterCustomization::extendRectFor(3, 0, QSizeF(0, 0), 3, 0).isEmpty());
}

}  // namespace
