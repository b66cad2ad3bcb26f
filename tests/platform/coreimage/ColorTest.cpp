#include "CoreImageTestUtil.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <cmath>

using namespace citest;

namespace {

QColor applyToColor(const QString& name, const QColor& c, const QVariantMap& values = {}) {
    CIFilterPtr f = filterOn(name, solid(3, 3, c));
    if (!f) return {};
    for (auto it = values.begin(); it != values.end(); ++it) f->setValue(it.value(), it.key());
    return pixelYUp(render(f->outputImage()), 1, 1);
}

}  // namespace

// Every colour filter at its neutral setting leaves colours as they are.
TEST(ColorFilters, NeutralSettingsAreIdentity) {
    const QColor colours[] = {QColor(200, 30, 128), QColor(12, 250, 90), QColor(128, 128, 128)};
    const char* names[] = {"CIColorControls", "CIExposureAdjust", "CIGammaAdjust", "CIWhitePointAdjust", "CIVibrance",
                           "CIHueAdjust", "CIToneCurve", "CIHighlightShadowAdjust"};
    for (const char* n : names)
        for (const QColor& c : colours) {
            const QColor got = applyToColor(QString::fromLatin1(n), c);
            EXPECT_LE(std::abs(got.red() - c.red()) + std::abs(got.green() - c.green()) + std::abs(got.blue() - c.blue()), 1)
                << n << " " << c.name().toStdString() << " -> " << got.name().toStdString();
        }
}

TEST(ColorFilters, KnownResults) {
    struct Case { const char* name; QColor in; QVariantMap values; QColor expected; };
    const Case cases[] = {
        {"CIColorControls", QColor(200, 30, 128), {{"inputSaturation", 0.0}}, QColor(92, 92, 92)},
        {"CIColorControls", QColor(100, 100, 100), {{"inputBrightness", 0.2}}, QColor(151, 151, 151)},
        {"CIColorControls", QColor(191, 64, 128), {{"inputContrast", 2.0}}, QColor(255, 0, 128)},
        {"CIColorInvert", QColor(200, 30, 128), {}, QColor(55, 225, 127)},
        {"CISepiaTone", QColor(255, 255, 255), {}, QColor(255, 255, 239)},
        {"CISepiaTone", QColor(200, 30, 128), {{"inputIntensity", 0.0}}, QColor(200, 30, 128)},
        {"CIWhitePointAdjust", QColor(200, 100, 50), {{"inputColor", QVariant::fromValue(QColor(255, 128, 0))}}, QColor(200, 50, 0)},
        {"CIExposureAdjust", QColor(100, 50, 20), {{"inputEV", 2.2}}, QColor(200, 100, 40)},
    };
    for (const Case& c : cases) {
        const QColor got = applyToColor(QString::fromLatin1(c.name), c.in, c.values);
        EXPECT_NEAR(got.red(), c.expected.red(), 1) << c.name;
        EXPECT_NEAR(got.green(), c.expected.green(), 1) << c.name;
        EXPECT_NEAR(got.blue(), c.expected.blue(), 1) << c.name;
    }
}

TEST(ColorFilters, HueRotationKeepsGreyAndTurnsColours) {
    const QColor grey = applyToColor(QStringLiteral("CIHueAdjust"), QColor(90, 90, 90), {{"inputAngle", 2.0}});
    EXPECT_NEAR(grey.red(), 90, 1);
    EXPECT_NEAR(grey.blue(), 90, 1);
    const QColor red = applyToColor(QStringLiteral("CIHueAdjust"), QColor(220, 20, 20), {{"inputAngle", 2.0}});
    EXPECT_LT(red.red(), 120);
}

// Chains of colour filters fuse into one pass; the result must equal step-by-step rendering.
TEST(ColorFilters, FusedChainEqualsSeparateRenders) {
    const QImage in = gradientImageForTest();
    CIFilterPtr a = filterOn(QStringLiteral("CIColorControls"), in);
    // Settings that keep values within range, so rendering between steps loses nothing.
    a->setValue(0.7, QStringLiteral("inputSaturation"));
    a->setValue(0.9, QStringLiteral("inputContrast"));
    CIFilterPtr b = CIFilter::filterWithName(QStringLiteral("CIHueAdjust"));
    b->setDefaults();
    b->setValue(QVariant::fromValue(a->outputImage()), QStringLiteral("inputImage"));
    b->setValue(0.5, QStringLiteral("inputAngle"));
    const QImage fused = render(b->outputImage());

    const QImage step1 = render(a->outputImage());
    CIFilterPtr c = filterOn(QStringLiteral("CIHueAdjust"), step1);
    c->setValue(0.5, QStringLiteral("inputAngle"));
    EXPECT_LE(maxChannelDiff(fused, render(c->outputImage())), 2);
}

TEST(ColorFilters, VignetteDarkensOutsideTheRadiusOnly) {
    CIFilterPtr f = filterOn(QStringLiteral("CIVignetteEffect"), solid(200, 200, Qt::white));
    f->setValue(QVariant::fromValue(platform::Vec(100, 100)), QStringLiteral("inputCenter"));
    f->setValue(50.0, QStringLiteral("inputRadius"));
    const QImage img = render(f->outputImage());
    EXPECT_EQ(pixelYUp(img, 100, 100), QColor(Qt::white));
    EXPECT_EQ(pixelYUp(img, 0, 0), QColor(Qt::black));
    EXPECT_EQ(f->outputImage().extent(), QRectF(0, 0, 200, 200));
}

TEST(AutoAdjust, EnhanceStretchesALowContrastPicture) {
    QImage in(120, 80, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x) {
            const int v = 90 + (x * 70) / 119;
            in.setPixel(x, y, qRgb(v, v, v - 10));
        }
    CIImage img = CIImage::imageWithCGImage(in);
    const QList<CIFilterPtr> filters = img.autoAdjustmentFiltersWithOptions();
    ASSERT_FALSE(filters.isEmpty());
    for (const CIFilterPtr& f : filters) {
        f->setValue(QVariant::fromValue(img), QStringLiteral("inputImage"));
        img = f->outputImage();
    }
    const QImage out = render(img);
    EXPECT_EQ(out.size(), in.size());
    EXPECT_LT(pixelYUp(out, 0, 40).red(), 40);
    EXPECT_GT(pixelYUp(out, 119, 40).red(), 215);
}

namespace {

// Skin with two red pupils in dark irises (top half) and a large red flower (bottom),
// drawn at the given scale of a 400 x 300 scene.
QImage redEyeScene(double k) {
    QImage in = solid(int(400 * k), int(300 * k), QColor(225, 180, 150));
    QPainter p(&in);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int cx : {150, 250}) {
        p.setBrush(QColor(60, 40, 30));
        p.drawEllipse(QPointF(cx * k, 80 * k), 14 * k, 14 * k);
        p.setBrush(QColor(210, 30, 35));
        p.drawEllipse(QPointF(cx * k, 80 * k), 6 * k, 6 * k);
    }
    p.setBrush(QColor(220, 20, 40));
    p.drawEllipse(QPointF(200 * k, 220 * k), 55 * k, 55 * k);
    return in;
}

}  // namespace

// Small red pupils are found and corrected; a large red flower is not. Big pictures are
// analysed reduced, and the spots must still land on the eyes of the full picture.
TEST(AutoAdjust, RedEyeFindsSmallRoundSpotsOnly) {
    QVariantMap onlyRedEye{{QString::fromLatin1(kCIImageAutoAdjustEnhance), false}};
    for (double k : {1.0, 3.0}) {
        SCOPED_TRACE(k);
        const QImage in = redEyeScene(k);
        CIImage img = CIImage::imageWithCGImage(in);
        const QList<CIFilterPtr> filters = img.autoAdjustmentFiltersWithOptions(onlyRedEye);
        ASSERT_EQ(filters.size(), 1);
        EXPECT_EQ(filters[0]->name(), QStringLiteral("CIRedEyeCorrection"));
        const QVariantList spots = filters[0]->valueForKey(QStringLiteral("inputCorrectionInfo")).toList();
        ASSERT_EQ(spots.size(), 2);
        for (const QVariant& v : spots) {
            const platform::Vec spot = v.value<platform::Vec>();
            EXPECT_NEAR(spot.Y(), (300 - 80) * k, 3 * k);  // y-up: the eyes are near the top
            EXPECT_TRUE(std::abs(spot.X() - 150 * k) < 3 * k || std::abs(spot.X() - 250 * k) < 3 * k) << spot.X();
        }
        filters[0]->setValue(QVariant::fromValue(img), QStringLiteral("inputImage"));
        const QImage out = render(filters[0]->outputImage());
        const auto qtPix = [&](double x, double yDown) { return QColor(out.pixel(int(x * k), int(yDown * k))); };
        EXPECT_LT(qtPix(150, 80).red(), 80);
        EXPECT_LT(qtPix(250, 80).red(), 80);
        EXPECT_EQ(qtPix(200, 220), QColor(220, 20, 40));  // the flower keeps its red
        EXPECT_EQ(qtPix(20, 20), QColor(225, 180, 150));  // skin untouched
    }

    // A picture with no red gives no red-eye filter.
    EXPECT_TRUE(CIImage::imageWithCGImage(solid(50, 50, Qt::gray)).autoAdjustmentFiltersWithOptions(onlyRedEye).isEmpty());
}

// Colour filters keep their input's extent, and transparent pixels stay transparent
// however the colours are pushed.
TEST(ColorFilters, KeepExtentAndTransparency) {
    QImage in = solid(20, 10, Qt::transparent);
    {
        QPainter p(&in);
        p.fillRect(0, 0, 10, 10, QColor(120, 60, 200));
    }
    const CIImage moved = CIImage::imageWithCGImage(in).imageByApplyingTransform(QTransform::fromTranslate(7, -3));
    struct Case { const char* name; QVariantMap values; };
    const Case cases[] = {
        {"CIColorControls", {{"inputBrightness", 0.8}, {"inputContrast", 3.0}}},
        {"CIExposureAdjust", {{"inputEV", 3.0}}},
        {"CIColorInvert", {}},
        {"CISepiaTone", {}},
        {"CIVibrance", {{"inputAmount", 1.0}}},
        {"CIHueAdjust", {{"inputAngle", 2.0}}},
        {"CIToneCurve", {{"inputPoint0", QVariant::fromValue(platform::Vec(0, 0.5))}}},
        {"CIGammaAdjust", {{"inputPower", 0.3}}},
        {"CIVignetteEffect", {{"inputIntensity", -1.0}, {"inputRadius", 1.0}}},
        {"CIHighlightShadowAdjust", {{"inputShadowAmount", 1.0}, {"inputRadius", 3.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(c.name));
        f->setDefaults();
        f->setValue(QVariant::fromValue(moved), QStringLiteral("inputImage"));
        for (auto it = c.values.begin(); it != c.values.end(); ++it) f->setValue(it.value(), it.key());
        const CIImage out = f->outputImage();
        EXPECT_EQ(out.extent(), QRectF(7, -3, 20, 10));
        const QImage img = render(out);
        EXPECT_EQ(pixelYUp(img, 15, 5).alpha(), 0);
        EXPECT_EQ(pixelYUp(img, 5, 5).alpha(), 255);
    }
}
