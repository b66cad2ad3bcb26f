#include "CoreImageTestUtil.h"

#include <gtest/gtest.h>
#include <cmath>
#include <functional>

using namespace citest;

namespace {

QColor blendOnePixel(const QString& mode, const QColor& top, const QColor& back) {
    CIFilterPtr f = CIFilter::filterWithName(mode);
    if (!f) return {};
    f->setDefaults();
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(2, 2, top))), QStringLiteral("inputImage"));
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(2, 2, back))), QStringLiteral("inputBackgroundImage"));
    return pixelYUp(render(f->outputImage()), 0, 0);
}

}  // namespace

// Opaque pixels: the result is the blend function of the two colours, channel by channel.
TEST(BlendModes, MatchTheirFormulasOnOpaquePixels) {
    struct Mode { const char* name; std::function<double(double b, double s)> f; };
    const Mode modes[] = {
        {"CIMultiplyBlendMode", [](double b, double s) { return b * s; }},
        {"CIScreenBlendMode", [](double b, double s) { return b + s - b * s; }},
        {"CIOverlayBlendMode", [](double b, double s) { return b <= 0.5 ? 2 * b * s : 1 - 2 * (1 - b) * (1 - s); }},
        {"CIHardLightBlendMode", [](double b, double s) { return s <= 0.5 ? 2 * b * s : 1 - 2 * (1 - b) * (1 - s); }},
        {"CIDarkenBlendMode", [](double b, double s) { return std::min(b, s); }},
        {"CILightenBlendMode", [](double b, double s) { return std::max(b, s); }},
        {"CIDifferenceBlendMode", [](double b, double s) { return std::abs(b - s); }},
        {"CISubtractBlendMode", [](double b, double s) { return std::max(0.0, b - s); }},
        {"CIColorDodgeBlendMode", [](double b, double s) { return s >= 1 ? 1.0 : std::min(1.0, b / (1 - s)); }},
        {"CIColorBurnBlendMode", [](double b, double s) { return s <= 0 ? 0.0 : 1 - std::min(1.0, (1 - b) / s); }},
        {"CISoftLightBlendMode", [](double b, double s) {
             if (s <= 0.5) return b - (1 - 2 * s) * b * (1 - b);
             const double d = b <= 0.25 ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
             return b + (2 * s - 1) * (d - b); }},
        {"CISourceOverCompositing", [](double, double s) { return s; }},
    };
    const QColor pairs[][2] = {
        {QColor(200, 30, 128), QColor(90, 220, 64)},
        {QColor(20, 250, 100), QColor(180, 40, 160)},
    };
    for (const Mode& m : modes) {
        for (const auto& pr : pairs) {
            SCOPED_TRACE(m.name);
            const QColor got = blendOnePixel(QString::fromLatin1(m.name), pr[0], pr[1]);
            const double s[3] = {pr[0].redF(), pr[0].greenF(), pr[0].blueF()};
            const double b[3] = {pr[1].redF(), pr[1].greenF(), pr[1].blueF()};
            const int g[3] = {got.red(), got.green(), got.blue()};
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(g[c], std::lround(m.f(b[c], s[c]) * 255), 1) << "channel " << c;
            EXPECT_EQ(got.alpha(), 255);
        }
    }
}

TEST(BlendModes, ColorModeKeepsTheBackgroundsLuminosity) {
    const QColor back(120, 120, 120), top(255, 0, 0);
    const QColor got = blendOnePixel(QStringLiteral("CIColorBlendMode"), top, back);
    const double lum = 0.3 * got.redF() + 0.59 * got.greenF() + 0.11 * got.blueF();
    EXPECT_NEAR(lum, 120 / 255.0, 0.01);
    EXPECT_GT(got.red(), got.green());
}

// A half-transparent source over an opaque background mixes by coverage.
TEST(BlendModes, SourceOverWithCoverageAndUnionExtent) {
    const QColor got = blendOnePixel(QStringLiteral("CISourceOverCompositing"), QColor(255, 0, 0, 128), QColor(0, 0, 255));
    EXPECT_NEAR(got.red(), 128, 1);
    EXPECT_NEAR(got.blue(), 127, 1);
    EXPECT_EQ(got.alpha(), 255);

    CIFilterPtr f = CIFilter::filterWithName(QStringLiteral("CIMultiplyBlendMode"));
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(10, 10, Qt::red))), QStringLiteral("inputImage"));
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(30, 5, Qt::blue))), QStringLiteral("inputBackgroundImage"));
    EXPECT_EQ(f->outputImage().extent(), QRectF(0, 0, 30, 10));
    // Where only one input has pixels, that input shows unchanged.
    const QImage img = render(f->outputImage());
    EXPECT_EQ(pixelYUp(img, 20, 2), QColor(Qt::blue));
    EXPECT_EQ(pixelYUp(img, 5, 8), QColor(Qt::red));
    EXPECT_EQ(pixelYUp(img, 20, 8).alpha(), 0);
}

TEST(BlendModes, MissingInputGivesNoOutput) {
    CIFilterPtr f = CIFilter::filterWithName(QStringLiteral("CIOverlayBlendMode"));
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(10, 10, Qt::red))), QStringLiteral("inputImage"));
    EXPECT_TRUE(f->outputImage().isNull());
}
