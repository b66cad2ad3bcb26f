// Cross-filter checks: hostile parameters and tiny pictures, y-up placement of
// positioned filters, and colour formulas at known pixels.
#include "tests/platform/coreimage/CoreImageTestUtil.h"

#include "platform/foundation/Values.h"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>

using namespace citest;

namespace {

QRectF renderRect(const CIImage& img) {
    const QRectF e = img.extent();
    if (img.isInfinite() || e.isEmpty()) return QRectF(-2, -2, 8, 8);
    return e.intersected(QRectF(-50, -50, 200, 200));
}

CIFilterPtr withInputs(const QString& name, const QImage& input) {
    CIFilterPtr f = filterOn(name, input);
    if (!f) return f;
    const QVariantMap attrs = f->attributes();
    for (const QString& key : f->inputKeys()) {
        const QVariantMap a = attrs.value(key).toMap();
        if (a.value(QString::fromLatin1(kCIAttributeClass)).toString() == QLatin1String("CIImage"))
            f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(input)), key);
    }
    return f;
}

}  // namespace

// Every filter, fed extreme numbers, points and tiny pictures, renders without crashing
// and without values outside [0, 255] leaking out as garbage.
TEST(ReviewSweep, HostileParametersAndTinyPictures) {
    const QList<QImage> inputs = {solid(1, 1, QColor(200, 100, 50)), solid(3, 2, QColor(10, 200, 30, 128)),
                                  gradientImageForTest(17, 13)};
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(), 1e30, -1e30, 0.0, 1e9};
    for (const QString& name : CIFilter::filterNamesInCategories({})) {
        for (const QImage& in : inputs) {
            CIFilterPtr base = withInputs(name, in);
            ASSERT_TRUE(base) << name.toStdString();
            (void)render(base->outputImage(), renderRect(base->outputImage()));
            const QVariantMap attrs = base->attributes();
            for (const QString& key : base->inputKeys()) {
                const QString cls = attrs.value(key).toMap().value(QString::fromLatin1(kCIAttributeClass)).toString();
                for (double v : bad) {
                    CIFilterPtr f = withInputs(name, in);
                    if (cls == QLatin1String("NSNumber")) f->setValue(v, key);
                    else if (cls == QLatin1String("CIVector")) {
                        const platform::Vec d = f->valueForKey(key).value<platform::Vec>();
                        f->setValue(QVariant::fromValue(d.isRect() ? platform::Vec(v, v, v, v) : platform::Vec(v, v)), key);
                    } else continue;
                    SCOPED_TRACE((name + " " + key + " " + QString::number(v)).toStdString());
                    try {
                        const CIImage out = f->outputImage();
                        (void)render(out, renderRect(out));
                    } catch (const std::exception& e) {
                        ADD_FAILURE() << "threw " << e.what();
                    }
                }
            }
        }
    }
}

namespace {

// 8 x 8, opaque: the quarter at the bottom-left (as a viewer shows it) is blue, the rest red.
QImage quarterPicture() {
    QImage img = solid(8, 8, QColor(255, 0, 0));
    for (int y = 4; y < 8; ++y)
        for (int x = 0; x < 4; ++x) img.setPixel(x, y, qRgb(0, 0, 255));
    return img;
}

QImage outputOf(const CIFilterPtr& f, const QRectF& r) { return render(f->outputImage(), r); }

}  // namespace

TEST(ReviewPlacement, BottomLeftInYUpIsBottomLeftOnScreen) {
    const QImage pic = quarterPicture();
    {
        CIFilterPtr f = filterOn("CICrop", pic);
        f->setValue(QVariant::fromValue(platform::Vec(0, 0, 2, 2)), "inputRectangle");
        const QImage out = outputOf(f, QRectF(0, 0, 2, 2));
        EXPECT_EQ(out.pixelColor(0, 0), QColor(0, 0, 255));
    }
    {
        CIFilterPtr f = filterOn("CIVignetteEffect", solid(8, 8, Qt::white));
        f->setValue(QVariant::fromValue(platform::Vec(0.5, 0.5)), "inputCenter");
        f->setValue(1.0, "inputRadius");
        f->setValue(0.0, "inputFalloff");
        f->setValue(1.0, "inputIntensity");
        const QImage out = outputOf(f, QRectF(0, 0, 8, 8));
        EXPECT_EQ(out.pixelColor(0, 7), QColor(Qt::white));  // bottom-left untouched
        EXPECT_EQ(out.pixelColor(7, 0), QColor(Qt::black));
    }
    for (const char* name : {"CITwirlDistortion", "CIBumpDistortion", "CIPinchDistortion"}) {
        const QImage g = gradientImageForTest(40, 40);
        CIFilterPtr f = filterOn(name, g);
        ASSERT_TRUE(f) << name;
        f->setValue(QVariant::fromValue(platform::Vec(6, 6)), "inputCenter");
        f->setValue(5.0, "inputRadius");
        const QImage out = outputOf(f, QRectF(0, 0, 40, 40));
        EXPECT_EQ(out.pixel(39, 0), g.pixel(39, 0)) << name;  // top-right untouched
        EXPECT_GT(maxChannelDiff(out.copy(0, 30, 10, 10), g.copy(0, 30, 10, 10)), 0) << name;
    }
}

TEST(ReviewColour, KnownPixels) {
    auto one = [](const char* name, const QColor& c, std::initializer_list<std::pair<const char*, double>> params) {
        CIFilterPtr f = filterOn(name, solid(1, 1, c));
        for (const auto& [k, v] : params) f->setValue(v, k);
        return outputOf(f, QRectF(0, 0, 1, 1)).pixelColor(0, 0);
    };
    auto near = [](const QColor& a, int r, int g, int b) {
        return std::abs(a.red() - r) <= 1 && std::abs(a.green() - g) <= 1 && std::abs(a.blue() - b) <= 1;
    };
    QColor c = one("CISepiaTone", QColor(128, 128, 128), {{"inputIntensity", 1.0}});
    EXPECT_TRUE(near(c, 173, 154, 120)) << c.name().toStdString();
    c = one("CIColorControls", QColor(255, 0, 0), {{"inputSaturation", 0.0}});
    EXPECT_TRUE(near(c, 76, 76, 76)) << c.name().toStdString();
    c = one("CIColorControls", QColor(0, 255, 0), {{"inputSaturation", 0.0}});
    EXPECT_TRUE(near(c, 150, 150, 150)) << c.name().toStdString();
    c = one("CIHueAdjust", QColor(128, 128, 128), {{"inputAngle", M_PI}});
    EXPECT_TRUE(near(c, 128, 128, 128)) << c.name().toStdString();
    c = one("CIHueAdjust", QColor(255, 0, 0), {{"inputAngle", M_PI}});
    EXPECT_EQ(c.red(), 0);
    EXPECT_GT(c.green(), 100);
    EXPECT_NEAR(c.green(), c.blue(), 3);
    // Half-transparent: the straight colour is inverted, the coverage kept.
    const QColor inv = one("CIColorInvert", QColor(200, 100, 40, 128), {});
    EXPECT_EQ(inv.alpha(), 128);
    EXPECT_NEAR(inv.red(), 55, 3);
    EXPECT_NEAR(inv.green(), 155, 3);
    EXPECT_NEAR(inv.blue(), 215, 3);
}

TEST(ReviewComposite, BlendModesAtKnownPixels) {
    auto blendOf = [](const char* name, const QColor& s, const QColor& b) {
        CIFilterPtr f = filterOn(name, solid(1, 1, s));
        f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(1, 1, b))), "inputBackgroundImage");
        return outputOf(f, QRectF(0, 0, 1, 1)).pixelColor(0, 0);
    };
    const QColor s(200, 100, 50), b(100, 200, 250);
    QColor c = blendOf("CIMultiplyBlendMode", s, b);
    EXPECT_NEAR(c.red(), 78, 1);
    EXPECT_NEAR(c.green(), 78, 1);
    EXPECT_NEAR(c.blue(), 49, 1);
    c = blendOf("CIScreenBlendMode", s, b);
    EXPECT_NEAR(c.red(), 222, 1);
    EXPECT_NEAR(c.blue(), 251, 1);
    c = blendOf("CIDifferenceBlendMode", s, b);
    EXPECT_NEAR(c.red(), 100, 1);
    EXPECT_NEAR(c.green(), 100, 1);
    EXPECT_NEAR(c.blue(), 200, 1);
    // Overlay is hard light with the layers swapped: background 100 < 128 -> 2 * b * s.
    c = blendOf("CIOverlayBlendMode", s, b);
    EXPECT_NEAR(c.red(), 157, 1);
    c = blendOf("CISubtractBlendMode", s, b);
    EXPECT_NEAR(c.red(), 0, 1);
    EXPECT_NEAR(c.green(), 100, 1);
    EXPECT_NEAR(c.blue(), 200, 1);
    // A transparent source leaves the background.
    c = blendOf("CIMultiplyBlendMode", QColor(0, 0, 0, 0), b);
    EXPECT_EQ(c, b);
}

// A blur of an opaque square on transparency keeps the square's colour at its soft edge.
TEST(ReviewBlur, NoDarkFringeAtTransparentEdges) {
    QImage img(30, 30, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 20; ++x) img.setPixel(x, y, qRgb(255, 200, 0));
    for (const char* name : {"CIGaussianBlur", "CIBoxBlur", "CIMotionBlur"}) {
        CIFilterPtr f = filterOn(name, img);
        ASSERT_TRUE(f) << name;
        f->setValue(4.0, "inputRadius");
        const QImage out = outputOf(f, QRectF(0, 0, 30, 30)).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x) {
                const QColor p = out.pixelColor(x, y);
                if (p.alpha() < 40) continue;
                EXPECT_GE(p.red(), 245) << name << " " << x << "," << y;
                EXPECT_NEAR(p.green(), 200, 12) << name << " " << x << "," << y;
            }
    }
}

// Strips of a large render meet without a seam.
TEST(ReviewStrips, LargeRenderMatchesPieces) {
    const QImage g = gradientImageForTest(1500, 1500);
    for (const char* name : {"CIGaussianBlur", "CITwirlDistortion", "CIUnsharpMask", "CIMedianFilter"}) {
        CIFilterPtr f = filterOn(name, g);
        ASSERT_TRUE(f) << name;
        if (QString(name) == "CITwirlDistortion") {
            f->setValue(QVariant::fromValue(platform::Vec(750, 700)), "inputCenter");
            f->setValue(400.0, "inputRadius");
        }
        const CIImage out = f->outputImage();
        const QImage whole = render(out, QRectF(0, 0, 1500, 1500));
        for (int y0 : {0, 300, 680, 700, 1380}) {
            const QImage piece = render(out, QRectF(0, y0, 1500, 40));
            EXPECT_LE(maxChannelDiff(piece, whole.copy(0, 1500 - y0 - 40, 1500, 40)), 1) << name << " " << y0;
        }
    }
}

// A gain so large that it overflows to infinity turns black (0 x inf) into NaN inside the
// pipeline; the rendered picture must still hold valid premultiplied pixels.
TEST(ReviewRender, OverflowingValuesGiveValidPixels) {
    QImage in = solid(3, 1, QColor(0, 0, 0));
    in.setPixel(1, 0, qRgb(128, 128, 128));
    in.setPixel(2, 0, qPremultiply(qRgba(0, 0, 0, 0)));
    CIFilterPtr f = filterOn("CIExposureAdjust", in);
    f->setValue(1000.0, "inputEV");
    const QImage out = outputOf(f, QRectF(0, 0, 3, 1));
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(out.pixel(0, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(out.pixel(1, 0), qRgba(255, 255, 255, 255));
    EXPECT_EQ(out.pixel(2, 0), 0u);

    QImage target = solid(3, 1, QColor(10, 20, 30));
    CIContext().drawImage(f->outputImage(), QRectF(0, 0, 3, 1), QRectF(0, 0, 3, 1), target);
    EXPECT_EQ(target.pixel(0, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(target.pixel(2, 0), qRgba(10, 20, 30, 255));
}

// A flat opaque picture has no detail to sharpen or smooth: its border pixels, whose
// neighbourhoods reach past the picture into transparency, must come out as they went in.
TEST(ReviewBlur, FlatPictureKeepsItsBorder) {
    const QImage img = solid(60, 40, QColor(120, 120, 120));
    for (const char* name : {"CISharpenLuminance", "CIUnsharpMask", "CINoiseReduction", "CIMedianFilter"}) {
        CIFilterPtr f = filterOn(name, img);
        const QImage out = outputOf(f, QRectF(0, 0, 60, 40));
        for (const QPoint& p : {QPoint(0, 0), QPoint(59, 39), QPoint(30, 0), QPoint(0, 20), QPoint(1, 1), QPoint(30, 20)})
            EXPECT_EQ(out.pixelColor(p), QColor(120, 120, 120)) << name << " at " << p.x() << "," << p.y();
    }
    // With a shadow lift the whole flat picture moves alike, border included.
    CIFilterPtr h = filterOn("CIHighlightShadowAdjust", img);
    h->setValue(5.0, "inputRadius");
    h->setValue(0.5, "inputShadowAmount");
    const QImage lifted = outputOf(h, QRectF(0, 0, 60, 40));
    EXPECT_EQ(lifted.pixelColor(0, 0), lifted.pixelColor(30, 20));
}

// Sharpening a soft-edged transparent shape compares each pixel with its neighbours'
// colour, not with their coverage: a flat colour stays flat up to the shape's rim.
TEST(ReviewBlur, SharpeningIgnoresCoverageSteps) {
    QImage img(40, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 30; ++x) img.setPixelColor(x, y, QColor(100, 150, 200, x < 20 ? 255 : 128));
    CIFilterPtr f = filterOn("CIUnsharpMask", img);
    f->setValue(1.0, "inputIntensity");
    const QImage out = outputOf(f, QRectF(0, 0, 40, 40)).convertToFormat(QImage::Format_ARGB32);
    for (int x = 10; x < 30; ++x) {
        const QColor c = out.pixelColor(x, 20);
        EXPECT_NEAR(c.red(), 100, 3) << x;
        EXPECT_NEAR(c.blue(), 200, 3) << x;
        EXPECT_EQ(c.alpha(), x < 20 ? 255 : 128) << x;
    }
}
