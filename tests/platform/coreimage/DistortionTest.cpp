#include "StylizeDistortionSupport.h"

#include <QPainter>

using namespace citest;

namespace {

// White with a black square of side `side` centred on (cx, cy) (y-up).
QImage squareOnWhite(int w, int h, int cx, int cy, int side) {
    QImage img = solid(w, h, Qt::white);
    QPainter p(&img);
    p.fillRect(QRect(cx - side / 2, platform::toQtRow(cy, h) - side / 2, side, side), Qt::black);
    return img;
}

}  // namespace

TEST(Distortion, IdentityAtZeroStrength) {
    const QImage in = gradientImageForTest(120, 90);
    struct Case { const char* name; QVariantMap values; };
    const Case cases[] = {
        {"CIBumpDistortion", {{"inputScale", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CIBumpDistortionLinear", {{"inputScale", 0.0}, {"inputCenter", vec(60, 45)}, {"inputAngle", 0.7}}},
        {"CIPinchDistortion", {{"inputScale", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CITwirlDistortion", {{"inputAngle", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CIVortexDistortion", {{"inputAngle", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CICircleSplashDistortion", {{"inputRadius", 200.0}, {"inputCenter", vec(60, 45)}}},
        {"CITorusLensDistortion", {{"inputRefraction", 0.0}, {"inputRadius", 150.0}, {"inputWidth", 200.0}, {"inputCenter", vec(60, 45)}}},
        // A circle of no size changes nothing either.
        {"CIBumpDistortion", {{"inputRadius", 0.0}}},
        {"CIPinchDistortion", {{"inputRadius", 0.0}}},
        {"CITwirlDistortion", {{"inputRadius", 0.0}}},
        {"CIVortexDistortion", {{"inputRadius", 0.0}}},
        {"CIBumpDistortionLinear", {{"inputRadius", 0.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CIImage out = apply(c.name, in, c.values);
        // Distortions keep the picture's extent; the splash streams on without end.
        if (QLatin1String(c.name) == QLatin1String("CICircleSplashDistortion")) EXPECT_TRUE(out.isInfinite());
        else EXPECT_EQ(out.extent(), QRectF(0, 0, 120, 90));
        EXPECT_EQ(maxChannelDiff(render(out, QRectF(0, 0, 120, 90)), in), 0);
    }
}

// Within the circle (or band) a bump magnifies the middle, a negative bump and a pinch
// shrink it, swirls turn it; beyond it nothing changes.
TEST(Distortion, ActInsideTheirCircleOnly) {
    const QImage in = squareOnWhite(120, 90, 40, 40, 16);
    const int before = countOf(in, Qt::black);
    struct Case { const char* name; QVariantMap values; int growth; };
    const Case cases[] = {
        {"CIBumpDistortion", {{"inputScale", 0.5}}, +1},
        {"CIBumpDistortion", {{"inputScale", -0.8}}, -1},
        {"CIPinchDistortion", {{"inputScale", 1.0}}, -1},
        {"CIBumpDistortionLinear", {{"inputScale", 0.5}, {"inputAngle", 0.0}}, +1},  // a band 25 either side of y = 40
        {"CITwirlDistortion", {}, 0},
        {"CIVortexDistortion", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap v = c.values;
        v.insert("inputCenter", vec(40, 40));
        v.insert("inputRadius", 25.0);
        const QImage out = render(apply(c.name, in, v), QRectF(0, 0, 120, 90));
        int dark = 0;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) dark += qGray(out.pixel(x, y)) < 128;
        if (c.growth > 0) {
            EXPECT_GT(dark, before * 5 / 4);
        } else if (c.growth < 0) {
            EXPECT_LT(dark, before * 3 / 4);
        }
        EXPECT_GT(maxChannelDiff(out.copy(15, 25, 50, 50), in.copy(15, 25, 50, 50)), 100);
        // Untouched from 25 above the centre up (Qt rows 0..24), and right of the circle.
        EXPECT_EQ(maxChannelDiff(out.copy(0, 0, 120, 25), in.copy(0, 0, 120, 25)), 0);
        if (QLatin1String(c.name) != QLatin1String("CIBumpDistortionLinear")) {
            EXPECT_EQ(maxChannelDiff(out.copy(66, 0, 54, 90), in.copy(66, 0, 54, 90)), 0);
        }
    }
}

// A twirl turns the picture about its centre, most at the middle: with a half turn
// there, a point just off the centre shows the colour from the opposite side.
TEST(Distortion, TwirlTurnsAboutTheCentre) {
    const QImage in = testsupport::quadrantImage(100, 100);
    const QImage t = render(apply("CITwirlDistortion", in, {{"inputCenter", vec(50, 50)}, {"inputRadius", 200.0}, {"inputAngle", M_PI}}),
                            QRectF(0, 0, 100, 100));
    // Near the centre the turn is almost pi: the quadrant opposite comes round.
    EXPECT_EQ(pixelYUp(t, 52, 52), pixelYUp(in, 47, 47));
    EXPECT_EQ(pixelYUp(t, 47, 52), pixelYUp(in, 52, 47));
}

TEST(Distortion, SplashAndTorusEdges) {
    const QImage in = testsupport::quadrantImage(100, 100);
    const CIImage splash = apply("CICircleSplashDistortion", in, {{"inputCenter", vec(25, 25)}, {"inputRadius", 10.0}});
    EXPECT_TRUE(splash.isInfinite());
    const QImage s = render(splash, QRectF(0, 0, 100, 100));
    // Outside the circle the rim's colour (blue, bottom-left quadrant) streams outward.
    EXPECT_EQ(pixelYUp(s, 99, 99), QColor(Qt::blue));
    EXPECT_EQ(pixelYUp(s, 0, 99), QColor(Qt::blue));
    // Far beyond the picture too, with no hole.
    const QImage far = render(splash, QRectF(400, -300, 10, 10));
    EXPECT_EQ(pixelYUp(far, 5, 5), QColor(Qt::blue));
    // A circle round the whole picture leaves it as it is.
    const QImage whole = render(apply("CICircleSplashDistortion", in, {{"inputCenter", vec(50, 50)}, {"inputRadius", 80.0}}), QRectF(0, 0, 100, 100));
    EXPECT_EQ(maxChannelDiff(whole, in), 0);

    // The torus lens keeps its hole as it is and leaves nothing beyond its ring.
    const CIImage torus = apply("CITorusLensDistortion", in, {{"inputCenter", vec(50, 50)}, {"inputRadius", 20.0}, {"inputWidth", 10.0}});
    EXPECT_EQ(torus.extent(), QRectF(0, 0, 100, 100));
    const QImage t = render(torus);
    EXPECT_EQ(pixelYUp(t, 2, 2).alpha(), 0);          // beyond the ring: nothing
    EXPECT_EQ(pixelYUp(t, 45, 45), QColor(Qt::blue));  // inside the ring's hole: as it was
    EXPECT_EQ(pixelYUp(t, 50 + 20, 45).alpha(), 255);  // the ring itself is lens
}

// Strong settings read far across the picture: every piece of the result must be what
// the whole shows, on any number of threads.
TEST(Distortion, PiecesAndThreadsGiveTheSamePixels) {
    const QImage in = gradientImageForTest(150, 110);
    struct Case { const char* name; QVariantMap values; };
    const Case cases[] = {
        {"CIBumpDistortion", {{"inputRadius", 60.0}, {"inputScale", 1.0}}},
        {"CIBumpDistortion", {{"inputRadius", 60.0}, {"inputScale", -1.0}}},
        {"CIBumpDistortionLinear", {{"inputRadius", 50.0}, {"inputScale", -1.0}, {"inputAngle", 0.6}}},
        {"CICircleSplashDistortion", {{"inputRadius", 30.0}}},
        {"CIPinchDistortion", {{"inputRadius", 70.0}, {"inputScale", 2.0}}},
        {"CITorusLensDistortion", {{"inputRadius", 40.0}, {"inputWidth", 30.0}, {"inputRefraction", 5.0}}},
        {"CITwirlDistortion", {{"inputRadius", 70.0}, {"inputAngle", 4 * M_PI}}},
        {"CIVortexDistortion", {{"inputRadius", 70.0}, {"inputAngle", 94.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap v = c.values;
        v.insert("inputCenter", vec(70, 50));
        const CIImage out = apply(c.name, in, v);
        ASSERT_FALSE(out.isNull());
        expectPiecesMatchWhole(out, QRectF(0, 0, 150, 110));
    }
}

TEST(Distortion, AttributesAndOddValues) {
    const QStringList center{"inputImage", "inputCenter", "inputRadius"};
    const char* cat = kCICategoryDistortionEffect;
    expectKeys("CIBumpDistortion", center + QStringList{"inputScale"}, cat);
    expectKeys("CIBumpDistortionLinear", center + QStringList{"inputAngle", "inputScale"}, cat);
    expectKeys("CICircleSplashDistortion", center, cat);
    expectKeys("CIPinchDistortion", center + QStringList{"inputScale"}, cat);
    expectKeys("CITorusLensDistortion", center + QStringList{"inputWidth", "inputRefraction"}, cat);
    expectKeys("CITwirlDistortion", center + QStringList{"inputAngle"}, cat);
    expectKeys("CIVortexDistortion", center + QStringList{"inputAngle"}, cat);
    const double none = std::nan("");
    const NumberAttr numbers[] = {
        {"CIBumpDistortion", "inputRadius", kCIAttributeTypeDistance, 300, 0, 600, 0},
        {"CIBumpDistortion", "inputScale", kCIAttributeTypeScalar, 0.5, -1, 1, none},
        {"CIBumpDistortionLinear", "inputRadius", kCIAttributeTypeDistance, 300, 0, 800, 0},
        {"CIBumpDistortionLinear", "inputAngle", kCIAttributeTypeAngle, 0, -M_PI, M_PI, none},
        {"CIBumpDistortionLinear", "inputScale", kCIAttributeTypeScalar, 0.5, -1, 1, none},
        {"CICircleSplashDistortion", "inputRadius", kCIAttributeTypeDistance, 150, 0, 1000, 0},
        {"CIPinchDistortion", "inputRadius", kCIAttributeTypeDistance, 300, 0, 1000, 0},
        {"CIPinchDistortion", "inputScale", kCIAttributeTypeScalar, 0.5, 0, 2, 0},
        {"CITorusLensDistortion", "inputRadius", kCIAttributeTypeDistance, 160, 0, 500, 0},
        {"CITorusLensDistortion", "inputWidth", kCIAttributeTypeDistance, 80, 0, 200, 0},
        {"CITorusLensDistortion", "inputRefraction", kCIAttributeTypeScalar, 1.7, 0, 5, 0},
        {"CITwirlDistortion", "inputRadius", kCIAttributeTypeDistance, 300, 0, 500, 0},
        {"CITwirlDistortion", "inputAngle", kCIAttributeTypeAngle, M_PI, -4 * M_PI, 4 * M_PI, none},
        {"CIVortexDistortion", "inputRadius", kCIAttributeTypeDistance, 300, 0, 800, 0},
        {"CIVortexDistortion", "inputAngle", kCIAttributeTypeAngle, 56.55, -94.25, 94.25, none},
    };
    for (const NumberAttr& n : numbers) expectNumberAttr(n);
    for (const char* name : {"CIBumpDistortion", "CIBumpDistortionLinear", "CICircleSplashDistortion", "CIPinchDistortion",
                             "CITorusLensDistortion", "CITwirlDistortion", "CIVortexDistortion"})
        expectOddValuesHarmless(name);
}

// A distortion of a picture samples the picture's own pixels instead of rendering the
// rectangle each strip reads (for a circle splash, most of the picture for every strip);
// it must give exactly what the rendered input gives, in the circle, on its rim and
// beyond the picture's edge, for opaque and translucent pictures.
TEST(Distortion, PicturesSampledInPlaceMatchTheRenderedInput) {
    QImage translucent = gradientImageForTest(97, 71).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, (translucent.pixel(x, y) & 0x00FFFFFFu) | (quint32((x * 5 + y * 3) % 256) << 24));
    const QImage pictures[] = {gradientImageForTest(97, 71).convertToFormat(QImage::Format_RGB32), translucent};
    struct Case { const char* name; QVariantMap values; };
    const Case cases[] = {
        {"CIBumpDistortion", {{"inputScale", 0.8}, {"inputRadius", 30.0}, {"inputCenter", vec(41.3, 30.7)}}},
        {"CIBumpDistortionLinear", {{"inputScale", -0.6}, {"inputRadius", 25.0}, {"inputCenter", vec(50, 33)}, {"inputAngle", 0.7}}},
        {"CIPinchDistortion", {{"inputScale", 0.9}, {"inputRadius", 60.0}, {"inputCenter", vec(90, 10)}}},
        {"CITwirlDistortion", {{"inputAngle", 5.0}, {"inputRadius", 45.0}, {"inputCenter", vec(48.5, 35.5)}}},
        {"CIVortexDistortion", {{"inputAngle", 40.0}, {"inputRadius", 80.0}, {"inputCenter", vec(10, 60)}}},
        {"CICircleSplashDistortion", {{"inputRadius", 20.0}, {"inputCenter", vec(60.2, 20.9)}}},
        {"CITorusLensDistortion", {{"inputRefraction", 1.7}, {"inputRadius", 30.0}, {"inputWidth", 20.0}, {"inputCenter", vec(45, 40)}}},
    };
    for (const QImage& picture : pictures) {
        const CIImage rendered = CIImage::imageWithCGImage(picture).imageByCroppingToRect(QRectF(0, 0, 97, 71));
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const CIImage direct = apply(c.name, picture, c.values);
            CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(c.name));
            ASSERT_TRUE(f);
            f->setDefaults();
            f->setValue(QVariant::fromValue(rendered), QStringLiteral("inputImage"));
            for (auto it = c.values.begin(); it != c.values.end(); ++it) f->setValue(it.value(), it.key());
            const QRectF around(-20, -20, 137, 111);  // past the picture's edge
            EXPECT_EQ(maxChannelDiff(render(direct, around), render(f->outputImage(), around)), 0);
        }
    }
}
