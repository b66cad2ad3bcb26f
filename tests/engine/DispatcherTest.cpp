// Every effect name the dispatcher knows, applied to one photo: the result has the expected
// size and visibly differs from the input, and the input is left as it was.
#include "engine/Utils.h"
#include "platform/coreimage/Resample.h"
#include "platform/foundation/Values.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <cmath>

using platform::Vec;

namespace {

using enginetest::list;

// Mean absolute difference per channel over the common area, 0 to 255.
double difference(const QImage& a0, const QImage& b0) {
    const QImage a = a0.convertToFormat(QImage::Format_ARGB32), b = b0.convertToFormat(QImage::Format_ARGB32);
    const int w = std::min(a.width(), b.width()), h = std::min(a.height(), b.height());
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) +
                   std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * w * h);
}

// A soft, low-contrast photo with a little of everything, so tonal effects have room to act.
QImage photo() {
    QImage img = testsupport::gradientImage(160, 120).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgb(60 + qRed(p) / 2, 50 + qGreen(p) / 2, 70 + qBlue(p) / 3);
        }
    }
    return img;
}

struct Case {
    const char* name;
    QVariantList params;
    QSize size;  // expected; (-1, -1) for the photo's own
    bool mustChange = true;
};

// Names the case in test listings instead of a byte dump.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EveryEffect : public ::testing::TestWithParam<Case> {};

TEST_P(EveryEffect, GivesAChangedPictureOfTheExpectedSize) {
    const Case& c = GetParam();
    const QImage in = photo();
    const QImage before = in.copy();
    const QImage out = Utils::sharedUtils().applyFilterWithImage(in, "/tmp/photo.jpg", c.name, c.params, false);
    ASSERT_FALSE(out.isNull()) << c.name;
    EXPECT_EQ(out.size(), c.size.width() < 0 ? in.size() : c.size) << c.name;
    if (c.mustChange) {
        EXPECT_GT(difference(out, in), 1.0) << c.name;
    }
    EXPECT_EQ(in, before) << c.name << " changed its input";
}

const QSize kSame(-1, -1);

INSTANTIATE_TEST_SUITE_P(
    OwnEffects, EveryEffect,
    ::testing::Values(Case{"Resize", list({{"resizedWidth", 80}, {"resizedHeight", 30}}), QSize(80, 30)},
                      Case{"Custom Enhance",
                           list({{"enhanceExposureValue", 0.5},
                                 {"enhanceBrightnessValue", 0.0},
                                 {"enhanceContrastValue", 1.4},
                                 {"enhanceSaturationValue", 1.2},
                                 {"enhanceSharpnessValue", 0.4},
                                 {"enhanceDenoiseValue", 0.0},
                                 {"enhanceVibranceValue", 0.2},
                                 {"enhanceHueValue", 0.3},
                                 {"enhanceOpacityValue", 1.0}}),
                           kSame},
                      Case{"RGB Adjust", list({{"Red", 200}, {"Green", 255}, {"Blue", 230}}), kSame},
                      Case{"Brightness", list({{"inputBrightness", 0.2}}), kSame},
                      Case{"Contrast", list({{"inputContrast", 1.8}}), kSame},
                      Case{"Black & White", list({{"Intensity", 3}}), kSame},
                      Case{"Red Eye Correction", {}, kSame, false}, Case{"Auto Enhance", {}, kSame, false},
                      Case{"Add Border", list({{"borderColor", QColor(Qt::blue)}, {"borderWidth", 20}}), kSame},
                      Case{"Rotate", list({{"angle", 45}}), kSame}),
    [](const ::testing::TestParamInfo<Case>& info) {
        QString n = QString::fromLatin1(info.param.name);
        n.remove(QRegularExpression("[^A-Za-z]"));
        return n.toStdString();
    });

TEST(ResizeStep, ShrinksAndEnlargesWithTheLanczosResampler) {
    const QImage in = photo();
    for (QSize size : {QSize(33, 17), QSize(in.width() * 2 + 1, in.height() * 3)}) {
        const QImage out = Utils::sharedUtils().applyFilterWithImage(
            in, "/tmp/photo.jpg", "Resize", list({{"resizedWidth", size.width()}, {"resizedHeight", size.height()}}), false);
        EXPECT_EQ(out, platform::resampleImage(in, size.width(), size.height()));
    }
}

// Kept in shape, every photo of a batch fits into the stored size; without the key (as
// steps stored before it) each is stretched to that size.
TEST(ResizeStep, KeepingTheShapeFitsEachPhotoIntoTheStoredSize) {
    struct Case {
        QSize photo;
        QVariant keep;
        QSize expected;
    } cases[] = {
        {{5120, 2880}, true, {1600, 900}},   // wider than the stored 16:10
        {{2560, 1600}, true, {1600, 1000}},  // the shape it was set up on
        {{3000, 4000}, true, {750, 1000}},   // portrait
        {{800, 500}, true, {1600, 1000}},    // smaller photos grow to fit
        {{5120, 2880}, false, {1600, 1000}},
        {{5120, 2880}, QVariant(), {1600, 1000}},
    };
    for (const Case& c : cases) {
        QVariantList params = list({{"resizedWidth", 1600}, {"resizedHeight", 1000}, {"isPercentBaseResize", false}});
        if (c.keep.isValid()) params << QVariantMap{{"maintainAspectRatio", c.keep}};
        EXPECT_EQ(Utils::resizeStepTarget(params, QSizeF(c.photo)).toSize(), c.expected) << c.photo.width();
    }
    const QImage wide(512, 288, QImage::Format_RGB32);
    const QImage out = Utils::sharedUtils().applyFilterWithImage(
        wide, "/tmp/photo.jpg", "Resize",
        list({{"resizedWidth", 160}, {"resizedHeight", 100}, {"maintainAspectRatio", true}}), false);
    EXPECT_EQ(out.size(), QSize(160, 90));
}

QImage sticker() {
    QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(QColor(255, 0, 200));
    return img;
}

const QVariant kBox = QVariant::fromValue(Vec(0.1, 0.1, 0.6, 0.6));

INSTANTIATE_TEST_SUITE_P(
    OverlaysFramesTextures, EveryEffect,
    ::testing::Values(Case{"Add Text",
                           list({{"text", QString("HELLO")},
                                 {"rotatedRect", kBox},
                                 {"fontSize", 0.2},
                                 {"textColor", QColor(Qt::yellow)}}),
                           kSame},
                      Case{"Add Watermark", list({{"rotatedRect", kBox}, {"fontSize", 0.2}, {"alpha", 1.0}}), kSame},
                      Case{"Add Logo", list({{"boundedRect", kBox}, {"imageToAdd", sticker()}}), kSame},
                      Case{"Add Custom Image", list({{"boundedRect", kBox}, {"imageToAdd", sticker()}}), kSame},
                      Case{"Emoticons", list({{"boundedRect", kBox}, {"imageToAdd", sticker()}}), kSame},
                      Case{"Classic Frame",
                           list({{"picture_frameName", QString("ClassicFrame1")}, {"frameWidthPercent", 0.1}}), kSame},
                      Case{"Film Strip Frame",
                           list({{"picture_frameName", QString("FilmStripFrame1")}, {"frameWidthPercent", 0.1}}),
                           kSame},
                      Case{"Paper Effect", list({{"picture_EffectName", QString("Paper1.jpg")}}), kSame}),
    [](const ::testing::TestParamInfo<Case>& info) {
        QString n = QString::fromLatin1(info.param.name);
        n.remove(QRegularExpression("[^A-Za-z]"));
        return n.toStdString();
    });

INSTANTIATE_TEST_SUITE_P(
    CoreImageEffects, EveryEffect,
    ::testing::Values(
        Case{"CISepiaTone", list({{"inputIntensity", 0.9}}), kSame},
        Case{"CIGaussianBlur", list({{"inputRadius", 0.03}}), kSame},
        Case{"CIVignetteEffect",
             list({{"inputCenter", QVariant::fromValue(Vec(0.5, 0.5))}, {"inputRadius", 0.3}, {"inputIntensity", 1.0}}),
             kSame},
        Case{"CICrop", list({{"inputRectangle", QVariant::fromValue(Vec(0.25, 0.5, 0.5, 0.25))}}), QSize(80, 30)},
        Case{"CIColorInvert", {}, kSame},
        Case{"CIZoomBlur", list({{"inputCenter", QVariant::fromValue(Vec(0.5, 0.5))}}), kSame}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(Dispatcher, CustomEnhanceEdges) {
    auto& utils = Utils::sharedUtils();
    const QImage in = photo();
    // An empty list leaves the photo.
    EXPECT_EQ(utils.applyFilterWithImage(in, "", "Custom Enhance", {}, false), in);
    // Neutral values at a given opacity.
    auto neutralAt = [](const QVariant& opacity) {
        return list({{"enhanceExposureValue", 0},
                      {"enhanceBrightnessValue", 0},
                      {"enhanceContrastValue", 1},
                      {"enhanceSaturationValue", 1},
                      {"enhanceSharpnessValue", 0},
                      {"enhanceDenoiseValue", 0},
                      {"enhanceVibranceValue", 0},
                      {"enhanceHueValue", 0},
                      {"enhanceOpacityValue", opacity}});
    };
    // Neutral values still run the chain and keep the picture.
    const QImage neutral = utils.applyFilterWithImage(in, "", "Custom Enhance", neutralAt(1), false);
    ASSERT_EQ(neutral.size(), in.size());
    EXPECT_LT(difference(neutral, in), 1.5);
    // Half opacity halves every pixel's alpha.
    const QImage faded = utils.applyFilterWithImage(in, "", "Custom Enhance", neutralAt(0.5), false);
    EXPECT_NEAR(qAlpha(faded.convertToFormat(QImage::Format_ARGB32).pixel(80, 60)), 128, 2);
}

TEST(Dispatcher, BlackAndWhiteHasNoColour) {
    const QImage out = Utils::sharedUtils()
                           .applyFilterWithImage(photo(), "", "Black & White", {}, false)
                           .convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(out.isNull());
    for (QPoint p : {QPoint(10, 10), QPoint(80, 60), QPoint(150, 110)}) {
        const QRgb c = out.pixel(p);
        EXPECT_NEAR(qRed(c), qGreen(c), 2);
        EXPECT_NEAR(qGreen(c), qBlue(c), 2);
    }
}

TEST(Dispatcher, RgbAdjustWithoutEntriesKeepsWhite) {
    QImage in(40, 30, QImage::Format_ARGB32_Premultiplied);
    in.fill(QColor(200, 120, 40));
    const QImage out = Utils::sharedUtils().applyFilterWithImage(in, "", "RGB Adjust", {}, false);
    EXPECT_LT(difference(out, in), 1.0);
}

}  // namespace
