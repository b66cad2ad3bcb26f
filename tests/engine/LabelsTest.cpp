// Labels, step summaries, the default overlay square and texture pictures.
#include "engine/FilterCustomization.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using enginetest::entry;

QString summary(const QString& name, const QVariantList& params) {
    AppliedFilter step;
    step.filterName = name;
    step.filterParameters = params;
    return FilterCustomization::sharedInstance().getSavedKeyValueForFavoriteFilter(step);
}

TEST(Labels, CategoryAndFilterLabels) {
    const auto& fc = FilterCustomization::sharedInstance();
    const std::pair<const char*, const char*> categories[] = {
        {"Transition", "Animation"}, {"Distortion Effect", "Distortion Effects"}, {"Generator", "Generator"},
        {"Blur", "Blur"},
    };
    for (const auto& [in, out] : categories) EXPECT_EQ(fc.getCustomDisplayNameForCategory(in), QString(out)) << in;

    const std::pair<const char*, const char*> filters[] = {
        {"CICrop", "Crop"},
        {"Hue Blend Mode", "Hue Blend Mode"},
        {"Screen Blend Mode", "Screen Blend Mode"},
        {"Saturation Blend Mode", "Saturation"},
        {"CIColorBlendMode", "CIColorBlendMode"},  // blend modes match display names only
        {"Photo Sepia Tone", "Sepia"},
        {"CITorusLensDistortion", "Lens"},
        {"Pixelate", "Pixellate"},
        {"Source Over", "Picture Frame"},
        {"Something Else", "Something Else"},
    };
    for (const auto& [in, out] : filters) EXPECT_EQ(fc.getCustomDisplayNameForFilter(in), QString(out)) << in;
}

TEST(Labels, StepSummaries) {
    struct Case {
        const char* name;
        QVariantList params;
        const char* expected;
    } cases[] = {
        {"Resize", {entry("isPercentBaseResize", true), entry("percentWidth", 50.7), entry("percentHeight", 25)},
         "Dimensions: W: 50% | H: 25%"},
        {"Resize", {entry("resizedWidth", 1024), entry("resizedHeight", 768.5)}, "Dimensions: W: 1024.00px | H: 768.50px"},
        {"Resize", {entry("resizedWidth", 1600), entry("resizedHeight", 1000), entry("maintainAspectRatio", true)},
         "Dimensions: W: 1600.00px | H: 1000.00px | Aspect Ratio Kept"},
        {"Resize", {entry("isPercentBaseResize", true), entry("percentWidth", 50), entry("percentHeight", 50),
                    entry("maintainAspectRatio", true)},
         "Dimensions: W: 50% | H: 50%"},
        {"Rotate", {entry("angle", 90)}, "Angle: 90.00\u00b0"},
        {"CICrop", {entry("cropRatioIndex", 3)}, "Crop Ratio: Photo 4X6"},
        {"CICrop", {}, "Crop Ratio: FreeForm"},
        {"CICrop", {entry("cropRatioIndex", 4), entry("cropRatioIndex", 7)}, "Crop Ratio: Photo 5X7"},  // first entry
        {"CICrop", {entry("cropRatioIndex", 12)}, "Crop Ratio: FreeForm"},
        {"CICrop", {entry("cropRatioIndex", -3)}, "Crop Ratio: FreeForm"},
        {"Custom Enhance", {entry("enhanceExposureValue", 0.5), entry("enhanceBrightnessValue", 0.25), entry("enhanceContrastValue", 1.1)},
         "Exposure: 0.50 Brightness: 0.25 Contrast: 1.100000"},
        {"Add Text", {entry("text", "Hello"), entry("fontSize", 0.05), entry("fontSize", 0.07)}, "Text: Hello Font Size: 0.07"},
        {"Add Text", {}, "Text: (null) Font Size: 0.00"},
        {"CIMotionBlur", {entry("inputRadius", 0.05), entry("inputAngle", 0.5)}, "Radius: 0.05 Angle: 0.50"},
        {"CIPixellate", {entry("inputScale", 0.02)}, "Effect Scale: 0.02"},
        {"Royal Frame", {entry("picture_frameName", "RoyalFrame2.png")}, "Category: Royal Frame"},
        {"Metal Effect", {}, "Category: Metal Effect"},
        {"Zodiac", {}, "Category: Zodiac"},
        {"Add Custom Image", {entry("imageName", "/p/logo.png")}, "Image Url: /p/logo.png"},
        {"Add Date", {entry("dateTimeOption", "Current Date")}, "Format: Current Date"},
        {"CIGloom", {entry("inputIntensity", 1)}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(summary(c.name, c.params), QString::fromUtf8(c.expected)) << c.name;
}

TEST(Labels, SummaryNumbersIgnoreTheLocale) {
    testsupport::CommaLocale comma;
    EXPECT_EQ(summary("Black & White", {entry("Intensity", 2.5)}), QStringLiteral("Effect Intensity: 2.50"));
}

TEST(Labels, DefaultOverlaySquareIsCentredInThePreview) {
    auto& app = AppDelegate::shared();
    const QSizeF saved = app.ADJUST_FILTER_IMG_CONTAINER_SIZE;
    const std::pair<QSizeF, QRectF> cases[] = {
        {{580, 440}, {240, 170, 100, 100}},
        {{90, 300}, {5, 110, 80, 80}},
        {{100, 100}, {0, 0, 100, 100}},
    };
    for (const auto& [box, expected] : cases) {
        app.ADJUST_FILTER_IMG_CONTAINER_SIZE = box;
        EXPECT_EQ(FilterCustomization::sharedInstance().getDefaultRectForFilter("Zodiac"), expected);
    }
    app.ADJUST_FILTER_IMG_CONTAINER_SIZE = saved;
}

TEST(Labels, FirstTexturePictures) {
    EXPECT_EQ(FilterCustomization::firstFrameForCategory("Lights Effect"), QStringLiteral("Lights1.jpg"));
    EXPECT_EQ(FilterCustomization::firstFrameForCategory("Vintage Effect"), QStringLiteral("Vintage1.jpg"));
    EXPECT_EQ(FilterCustomization::firstFrameForCategory("Metal Effect"), QString());
    EXPECT_EQ(FilterCustomization::firstFrameForCategory("Lights"), QString());
}

}  // namespace
