// Core Image effects through the dispatcher: set-up, per-photo scaling of stored lists,
// rendering back and the unchanged-crop rule. Probe filters registered here stand for
// filters whose shape matters, so these tests do not depend on any one kernel.
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "records/ParameterList.h"
#include "platform/coreimage/CIFilterRegistry.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QtConcurrent/QtConcurrent>
#include <gtest/gtest.h>

using platform::Vec;
namespace ci = platform::ci;

namespace {

using enginetest::list;

QImage argb(const QImage& i) { return i.convertToFormat(QImage::Format_ARGB32); }

// Records its inputs; its output is its input.
void registerProbes() {
    static bool done = false;
    if (done) return;
    done = true;
    ci::registerFilter(
        {"TestProbe",
         "Test Probe",
         {kCICategoryStylize},
         {ci::imageInput(), ci::imageInput(kCIInputBackgroundImageKey), ci::imageInput(kCIInputMaskImageKey),
          ci::vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, Vec(150, 150)),
          ci::vectorInput("inputPoint", kCIAttributeTypePosition, Vec(1, 1)),
          ci::vectorInput(kCIInputExtentKey, kCIAttributeTypeRectangle, Vec(0, 0, 1, 1)),
          ci::numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 10, 0, 100),
          ci::numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1, 0, 1),
          ci::numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 1, 0, 10),
          ci::numberInput(kCIInputSharpnessKey, kCIAttributeTypeScalar, 1, 0, 10),
          ci::vectorInput("inputRectangle", kCIAttributeTypeRectangle, Vec(0, 0, 300, 300))},
         [](const ci::CIFilterArgs& a) { return a.image(kCIInputImageKey); }});
    // Cuts its input to a rectangle, as a crop does.
    ci::registerFilter(
        {"TestCut",
         "Test Cut",
         {kCICategoryStylize},
         {ci::imageInput(), ci::vectorInput("inputRectangle", kCIAttributeTypeRectangle, Vec(0, 0, 300, 300))},
         [](const ci::CIFilterArgs& a) {
             const Vec r = a.vector("inputRectangle");
             return a.image(kCIInputImageKey).imageByCroppingToRect(QRectF(r.X(), r.Y(), r.Z(), r.W()));
         }});
    // Spreads its input without end, as a blur grows its extent.
    ci::registerFilter({"TestGrow", "Test Grow", {kCICategoryBlur}, {ci::imageInput()}, [](const ci::CIFilterArgs& a) {
                            return a.image(kCIInputImageKey).imageByClampingToExtent();
                        }});
}

class CoreImageEffects : public ::testing::Test {
protected:
    void SetUp() override { registerProbes(); }
};

TEST_F(CoreImageEffects, StoredListScalesToEachPhoto) {
    auto& utils = Utils::sharedUtils();
    // What the editor stores for a 400 x 300 preview...
    const QVariantList preview = list({{"inputCenter", QVariant::fromValue(Vec(200, 150))},
                                       {"inputRadius", 20.0},
                                       {"inputIntensity", 8.0},
                                       {"inputScale", 2.5},
                                       {"inputSharpness", 4.0},
                                       {"inputRectangle", QVariant::fromValue(Vec(40, 60, 200, 150))},
                                       {"picture_frameName", QString("Royal")},
                                       {"inputUnknown", 3.0}});
    const QVariantList stored =
        FilterCustomization::sharedInstance().convertFilterParametrsInPerCent("TestProbe", QSizeF(400, 300), preview);
    // ...gives ten times the values on a photo ten times larger, but plain factors and
    // strengths stay.
    const CIFilterPtr f = CIFilter::filterWithName("TestProbe");
    ASSERT_TRUE(f);
    f->setDefaults();
    utils.adjustFilterPrametersWithName(*f, "TestProbe", stored,
                                        QImage(4000, 3000, QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(f->valueForKey("inputCenter").value<Vec>(), Vec(2000, 1500));
    EXPECT_DOUBLE_EQ(f->valueForKey("inputRadius").toDouble(), 200.0);
    EXPECT_DOUBLE_EQ(f->valueForKey("inputIntensity").toDouble(), 80.0);
    EXPECT_DOUBLE_EQ(f->valueForKey("inputScale").toDouble(), 2.5);
    EXPECT_DOUBLE_EQ(f->valueForKey("inputSharpness").toDouble(), 4.0);
    EXPECT_EQ(f->valueForKey("inputRectangle").value<Vec>(), Vec(400, 600, 2000, 1500));
    EXPECT_FALSE(f->valueForKey("picture_frameName").isValid());
    EXPECT_FALSE(f->valueForKey("inputUnknown").isValid());

    // A radius follows the width alone, whatever the height.
    utils.adjustFilterPrametersWithName(*f, "TestProbe", list({{"inputRadius", 0.005}}),
                                        QImage(1000, 3000, QImage::Format_ARGB32_Premultiplied));
    EXPECT_DOUBLE_EQ(f->valueForKey("inputRadius").toDouble(), 5.0);
}

TEST_F(CoreImageEffects, DamagedListsGiveNoInfiniteOrNegativeSizes) {
    const CIFilterPtr f = CIFilter::filterWithName("TestProbe");
    f->setDefaults();
    Utils::sharedUtils().adjustFilterPrametersWithName(
        *f, "TestProbe",
        list({{"inputRadius", qInf()},
              {"inputSharpness", -0.5},
              {"inputCenter", QVariant::fromValue(Vec(qQNaN(), 0.5))},
              {"inputRectangle", QVariant::fromValue(Vec(0.1, 0.1, -0.5, 0.5))}}),
        QImage(400, 300, QImage::Format_ARGB32_Premultiplied));
    EXPECT_DOUBLE_EQ(f->valueForKey("inputRadius").toDouble(), 10.0);  // the default stays
    EXPECT_DOUBLE_EQ(f->valueForKey("inputSharpness").toDouble(), 0.0);
    EXPECT_EQ(f->valueForKey("inputCenter").value<Vec>(), Vec(150, 150));
    EXPECT_EQ(f->valueForKey("inputRectangle").value<Vec>(), Vec(40, 30, 0, 150));
}

// Fall-off, noise level and sharpness are strengths: a step stores them as they are and
// every photo gets them so. A list stored when they were divided by the preview's width
// (and shown multiplied by it again) reads as it showed on that preview.
TEST_F(CoreImageEffects, StrengthsStayStrengthsWhateverThePhotoSize) {
    auto& fc = FilterCustomization::sharedInstance();
    struct Case {
        const char* filter;
        const char* key;
        double shown;
    } cases[] = {{"CIVignetteEffect", "inputFalloff", 0.5},
                 {"CINoiseReduction", "inputNoiseLevel", 0.02},
                 {"CINoiseReduction", "inputSharpness", 0.4},
                 {"CISharpenLuminance", "inputSharpness", 0.6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        const QVariantList stored =
            fc.convertFilterParametrsInPerCent(c.filter, QSizeF(580, 326), list({{c.key, c.shown}}));
        const QVariantList old = list({{c.key, c.shown / 580.0}});
        // The editor reopens either at the value it showed.
        for (const QVariantList& l : {stored, old}) {
            const QVariantList back = fc.convertBackFilterParametrsFromPerCent(c.filter, QSizeF(290, 163), l);
            EXPECT_NEAR(platform::numberValue(ParameterList::valueForKey(back, c.key)), c.shown, 1e-9);
            for (int width : {580, 5800}) {
                const CIFilterPtr f = CIFilter::filterWithName(c.filter);
                ASSERT_TRUE(f);
                f->setDefaults();
                Utils::sharedUtils().adjustFilterPrametersWithName(
                    *f, c.filter, l, QImage(width, 100, QImage::Format_ARGB32_Premultiplied));
                EXPECT_NEAR(f->valueForKey(c.key).toDouble(), c.shown, 1e-9) << width;
            }
        }
    }
}

TEST_F(CoreImageEffects, PlainStrengthsOfNamedFiltersStayAsStored) {
    const CIFilterPtr sepia = CIFilter::filterWithName("CISepiaTone");
    ASSERT_TRUE(sepia);
    sepia->setDefaults();
    Utils::sharedUtils().adjustFilterPrametersWithName(*sepia, "CISepiaTone", list({{"inputIntensity", 0.8}}),
                                                       QImage(3000, 2000, QImage::Format_ARGB32_Premultiplied));
    EXPECT_DOUBLE_EQ(sepia->valueForKey("inputIntensity").toDouble(), 0.8);
}

TEST_F(CoreImageEffects, ImageInputsFromTheListAreFittedToThePhoto) {
    QImage small(10, 5, QImage::Format_ARGB32_Premultiplied);
    small.fill(Qt::red);
    const QVariant stored = QVariant::fromValue(CIImage::imageWithCGImage(small));
    const CIFilterPtr f = CIFilter::filterWithName("TestProbe");
    f->setDefaults();
    Utils::sharedUtils().adjustFilterPrametersWithName(
        *f, "TestProbe", list({{kCIInputBackgroundImageKey, stored}, {kCIInputMaskImageKey, stored}}),
        QImage(200, 100, QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(f->valueForKey(kCIInputBackgroundImageKey).value<CIImage>().extent(), QRectF(0, 0, 200, 100));
    EXPECT_EQ(f->valueForKey(kCIInputMaskImageKey).value<CIImage>().extent(), QRectF(0, 0, 200, 100));
}

TEST_F(CoreImageEffects, SetupGivesImageCentreAndExtent) {
    const CIFilterPtr f = CIFilter::filterWithName("TestProbe");
    f->setDefaults();
    Utils::sharedUtils().doSetupForFilter(*f, "TestProbe", "TestProbe", testsupport::gradientImage(400, 300), false);
    EXPECT_EQ(f->valueForKey(kCIInputImageKey).value<CIImage>().extent(), QRectF(0, 0, 400, 300));
    EXPECT_EQ(f->valueForKey("inputPoint").value<Vec>(), Vec(200, 150));
    EXPECT_EQ(f->valueForKey(kCIInputExtentKey).value<Vec>(), Vec(0, 0, 400, 300));

    // No picture: no image input, a zero point, and the extent keeps its default.
    const CIFilterPtr g = CIFilter::filterWithName("TestProbe");
    g->setDefaults();
    Utils::sharedUtils().doSetupForFilter(*g, "TestProbe", "TestProbe", QImage(), false);
    EXPECT_FALSE(g->valueForKey(kCIInputImageKey).value<CIImage>().node());
    EXPECT_EQ(g->valueForKey("inputPoint").value<Vec>(), Vec(0, 0));
    EXPECT_EQ(g->valueForKey(kCIInputExtentKey).value<Vec>(), Vec(0, 0, 1, 1));
}

TEST_F(CoreImageEffects, CropRectanglesAreBottomLeftAndDefaultLeavesThePhoto) {
    auto& utils = Utils::sharedUtils();
    const QImage photo = argb(testsupport::quadrantImage(200, 100));
    // The filter's own default rectangle means the user chose nothing: the photo comes back.
    EXPECT_EQ(argb(utils.applyFilterWithImage(photo, "", "TestCut", {}, false)), photo);

    // The lower-left quarter, stored as fractions: origin bottom-left, y up.
    const QImage lowerLeft = argb(utils.applyFilterWithImage(
        photo, "", "TestCut", list({{"inputRectangle", QVariant::fromValue(Vec(0, 0, 0.5, 0.5))}}), false));
    ASSERT_EQ(lowerLeft.size(), QSize(100, 50));
    EXPECT_EQ(lowerLeft.pixel(50, 25), qRgb(0, 0, 255));  // blue is the bottom-left quadrant
    const QImage upperRight = argb(utils.applyFilterWithImage(
        photo, "", "TestCut", list({{"inputRectangle", QVariant::fromValue(Vec(0.5, 0.5, 0.5, 0.5))}}), false));
    EXPECT_EQ(upperRight.pixel(50, 25), qRgb(0, 255, 0));

    // An empty rectangle leaves the photo rather than losing it.
    EXPECT_EQ(argb(utils.applyFilterWithImage(
                  photo, "", "TestCut", list({{"inputRectangle", QVariant::fromValue(Vec(0.1, 0.1, 0, 0.5))}}), false)),
              photo);
    // A runaway rectangle is held to the photo instead of allocating a vast canvas.
    const QImage runaway = utils.applyFilterWithImage(
        photo, "", "TestCut", list({{"inputRectangle", QVariant::fromValue(Vec(0.5, 0, 1000, 1000))}}), false);
    EXPECT_EQ(runaway.size(), QSize(100, 100));
}

TEST_F(CoreImageEffects, GrownOutputIsCutBackToTheInput) {
    const QImage photo = argb(testsupport::gradientImage(120, 80));
    const QImage out = argb(Utils::sharedUtils().applyFilterWithImage(photo, "", "TestGrow", {}, false));
    EXPECT_EQ(out, photo);
}

TEST_F(CoreImageEffects, ThumbnailsAreFramedExceptCrops) {
    auto& utils = Utils::sharedUtils();
    QImage photo(580, 200, QImage::Format_ARGB32_Premultiplied);
    photo.fill(Qt::white);
    const QImage thumb = argb(utils.applyFilterWithImage(photo, "", "TestGrow", {}, true));
    EXPECT_NEAR(qRed(thumb.pixel(2, 100)), 85, 10);
    EXPECT_EQ(thumb.pixel(20, 100), qRgb(255, 255, 255));
    if (!CIFilter::filterWithName("CICrop")) GTEST_SKIP() << "no crop filter";
    // The crop thumbnail shows its preset rectangle, unframed.
    const QImage crop = argb(utils.applyFilterWithImage(photo, "", "CICrop", {}, true));
    ASSERT_EQ(crop.size(), QSize(540, 190));
    EXPECT_EQ(crop.pixel(2, 50), qRgb(255, 255, 255));
}

// The filter as the set-up leaves it for a 400 x 300 photo.
CIFilterPtr setUp(const char* name, const char* display, bool thumbnail) {
    const CIFilterPtr f = CIFilter::filterWithName(name);
    if (!f) return f;
    f->setDefaults();
    Utils::sharedUtils().doSetupForFilter(*f, name, display, testsupport::gradientImage(400, 300), thumbnail);
    return f;
}

TEST_F(CoreImageEffects, ThumbnailPresets) {
    const CIFilterPtr defaults = setUp("CIColorControls", "Contrast", false);
    ASSERT_TRUE(defaults);
    const double defaultBrightness = defaults->valueForKey("inputBrightness").toDouble();
    const double defaultContrast = defaults->valueForKey("inputContrast").toDouble();
    EXPECT_NE(defaults->valueForKey("inputSaturation").toDouble(), 1.56);  // no preset without the flag

    const CIFilterPtr contrast = setUp("CIColorControls", "Contrast", true);
    EXPECT_DOUBLE_EQ(contrast->valueForKey("inputSaturation").toDouble(), 1.56);
    EXPECT_DOUBLE_EQ(contrast->valueForKey("inputContrast").toDouble(), 1.66);
    EXPECT_DOUBLE_EQ(contrast->valueForKey("inputBrightness").toDouble(), defaultBrightness);
    const CIFilterPtr brightness = setUp("CIColorControls", "Brightness", true);
    EXPECT_DOUBLE_EQ(brightness->valueForKey("inputBrightness").toDouble(), 0.11);
    EXPECT_DOUBLE_EQ(brightness->valueForKey("inputContrast").toDouble(), defaultContrast);

    const CIFilterPtr splash = setUp("CICircleSplashDistortion", "CICircleSplashDistortion", true);
    ASSERT_TRUE(splash);
    EXPECT_DOUBLE_EQ(splash->valueForKey("inputRadius").toDouble(), 180.0);
    EXPECT_EQ(splash->valueForKey("inputCenter").value<Vec>().X(), 200.0);
    EXPECT_EQ(splash->valueForKey("inputCenter").value<Vec>().Y(), 150.0);
    const CIFilterPtr crop = setUp("CICrop", "CICrop", true);
    EXPECT_EQ(crop->valueForKey("inputRectangle").value<Vec>(), Vec(40, 10, 360, 290));
}

TEST_F(CoreImageEffects, PointillizeThumbnailIgnoresTheList) {
    auto& utils = Utils::sharedUtils();
    const QImage photo = testsupport::gradientImage(200, 150);
    const QVariantList big = list({{"inputRadius", 0.05}});
    const QImage withList = utils.applyFilterWithImage(photo, "", "CIPointillize", big, true);
    const QImage preset = utils.applyFilterWithImage(photo, "", "CIPointillize", {}, true);
    ASSERT_FALSE(preset.isNull());
    EXPECT_EQ(withList, preset);
    EXPECT_NE(utils.applyFilterWithImage(photo, "", "CIPointillize", big, false),
              utils.applyFilterWithImage(photo, "", "CIPointillize", {}, false));
}

TEST_F(CoreImageEffects, SourceOverKeepsItsBackgroundAndTransitionsGetTheSample) {
    const CIFilterPtr over = setUp("CISourceOverCompositing", "CISourceOverCompositing", false);
    ASSERT_TRUE(over);
    EXPECT_FALSE(over->valueForKey(kCIInputBackgroundImageKey).value<CIImage>().node());
    const CIFilterPtr multiply = setUp("CIMultiplyBlendMode", "CIMultiplyBlendMode", false);
    ASSERT_TRUE(multiply);
    // The sample picture, redrawn at the photo's size, when the resources hold it.
    const CIImage background = multiply->valueForKey(kCIInputBackgroundImageKey).value<CIImage>();
    if (background.node()) {
        EXPECT_EQ(background.extent(), QRectF(0, 0, 400, 300));
    }
}

TEST_F(CoreImageEffects, PixellateCellFollowsTheWidth) {
    const CIFilterPtr f = CIFilter::filterWithName("CIPixellate");
    ASSERT_TRUE(f);
    f->setDefaults();
    Utils::sharedUtils().adjustFilterPrametersWithName(*f, "CIPixellate", list({{"inputScale", 0.01}}),
                                                       QImage(3000, 10, QImage::Format_ARGB32_Premultiplied));
    EXPECT_DOUBLE_EQ(f->valueForKey("inputScale").toDouble(), 30.0);
}

TEST_F(CoreImageEffects, TorusLensLeavesNoTransparentArea) {
    const QImage out = argb(Utils::sharedUtils().applyFilterWithImage(
        testsupport::gradientImage(200, 150), "", "CITorusLensDistortion",
        list({{"inputCenter", QVariant::fromValue(Vec(0.5, 0.5))}, {"inputRadius", 0.2}, {"inputWidth", 0.1}}), false));
    ASSERT_EQ(out.size(), QSize(200, 150));
    for (int y = 0; y < out.height(); y += 7)
        for (int x = 0; x < out.width(); x += 7) ASSERT_EQ(qAlpha(out.pixel(x, y)), 255) << x << "," << y;
}

TEST_F(CoreImageEffects, AutomaticCorrectionsKeepTheSize) {
    const QImage photo = testsupport::gradientImage(90, 70);
    EXPECT_EQ(Utils::autoEnhance(photo).size(), photo.size());
    EXPECT_EQ(Utils::redEyeCorrection(photo).size(), photo.size());
    EXPECT_TRUE(Utils::autoEnhance(QImage()).isNull());
}

TEST_F(CoreImageEffects, ApplicationsOnSeveralThreadsDoNotMeet) {
    // Each application works on a filter of its own: concurrent runs give what one run gives.
    const QImage photo = testsupport::gradientImage(120, 90);
    struct Job {
        const char* name;
        QVariantList params;
    };
    const QList<Job> jobs = {
        {"CIGaussianBlur", list({{"inputRadius", 0.02}})},
        {"CISepiaTone", list({{"inputIntensity", 0.7}})},
        {"CIVignetteEffect", list({{"inputCenter", QVariant::fromValue(Vec(0.3, 0.6))}, {"inputRadius", 0.4}})},
        {"CIPixellate", list({{"inputScale", 0.05}})},
        {"Black & White", list({{"Intensity", 2}})},
        {"Rotate", list({{"angle", 30}})},
    };
    QList<QImage> expected;
    for (const Job& j : jobs) expected << Utils::sharedUtils().applyFilterWithImage(photo, "", j.name, j.params, false);
    QList<int> indexes;
    for (int round = 0; round < 8; ++round)
        for (int i = 0; i < jobs.size(); ++i) indexes << i;
    const QList<bool> same = QtConcurrent::blockingMapped(indexes, [&](int i) {
        return Utils::sharedUtils().applyFilterWithImage(photo, "", jobs[i].name, jobs[i].params, false) == expected[i];
    });
    for (int i = 0; i < same.size(); ++i) EXPECT_TRUE(same[i]) << jobs[indexes[i]].name;
}

TEST_F(CoreImageEffects, UnknownEffectGivesNothing) {
    EXPECT_TRUE(Utils::sharedUtils()
                    .applyFilterWithImage(testsupport::gradientImage(20, 20), "", "CINoSuchFilter", {}, false)
                    .isNull());
}

}  // namespace
