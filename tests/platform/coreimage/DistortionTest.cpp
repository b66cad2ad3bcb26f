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

TEST(Distortion, ChangeOnlyInsideTheirCircleOrBand) {
    const QImage in = gradientImageForTest(120, 90);
    struct Case { const char* name; QVariantMap extra; };
    const Case cases[] = {
        {"CIBumpDistortion", {}},
        {"CIBumpDistortion", {{"inputScale", -0.8}}},
        {"CIPinchDistortion", {}},
        {"CITwirlDistortion", {}},
        {"CIVortexDistortion", {}},
        // A horizontal band 25 high either side of y = 40.
        {"CIBumpDistortionLinear", {{"inputAngle", 0.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap v = c.extra;
        v.insert("inputCenter", vec(40, 40));
        v.insert("inputRadius", 25.0);
        const QImage out = render(apply(c.name, in, v), QRectF(0, 0, 120, 90));
        // Qt rows: y-up 15..65 is rows 25..75.
        EXPECT_GT(maxChannelDiff(out.copy(15, 25, 50, 50), in.copy(15, 25, 50, 50)), 10);
        // Everything from 25 pixels above the centre up is untouched.
        EXPECT_EQ(maxChannelDiff(out.copy(0, 0, 120, 25), in.copy(0, 0, 120, 25)), 0);
        if (QLatin1String(c.name) != QLatin1String("CIBumpDistortionLinear")) {
            EXPECT_EQ(maxChannelDiff(out.copy(70, 0, 50, 90), in.copy(70, 0, 50, 90)), 0);
        }
    }
}

// A bump magnifies the middle, a negative bump and a pinch shrink it.
TEST(Distortion, BumpMagnifiesPinchShrinks) {
    const QImage in = squareOnWhite(100, 100, 50, 50, 20);
    const int before = countOf(in, Qt::black);
    struct Case { const char* name; QVariantMap values; int sign; };
    const Case cases[] = {
        {"CIBumpDistortion", {{"inputScale", 0.5}}, +1},
        {"CIBumpDistortion", {{"inputScale", -0.5}}, -1},
        {"CIPinchDistortion", {{"inputScale", 1.0}}, -1},
        {"CIBumpDistortionLinear", {{"inputScale", 0.5}}, +1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap v = c.values;
        v.insert("inputCenter", vec(50, 50));
        v.insert("inputRadius", 40.0);
        const QImage out = render(apply(c.name, in, v), QRectF(0, 0, 100, 100));
        int dark = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) dark += qGray(out.pixel(x, y)) < 128;
        if (c.sign > 0) EXPECT_GT(dark, before * 5 / 4);
        else EXPECT_LT(dark, before * 3 / 4);
        // Symmetric about the centre: the middle stays black.
        EXPECT_EQ(pixelYUp(out, 50, 50), QColor(Qt::black));
    }
}

// A twirl turns the picture about its centre, most at the middle: with a half turn
// there, a point just off the centre shows the colour from the opposite side.
TEST(Distortion, TwirlAndVortexTurnAboutTheCentre) {
    const QImage in = testsupport::quadrantImage(100, 100);
    const QImage t = render(apply("CITwirlDistortion", in, {{"inputCenter", vec(50, 50)}, {"inputRadius", 200.0}, {"inputAngle", M_PI}}),
                            QRectF(0, 0, 100, 100));
    // Near the centre the turn is almost pi: the quadrant opposite comes round.
    EXPECT_EQ(pixelYUp(t, 52, 52), pixelYUp(in, 47, 47));
    EXPECT_EQ(pixelYUp(t, 47, 52), pixelYUp(in, 52, 47));
    // Distances from the centre are kept: a ring of one colour stays a ring.
    const QImage ring = [] {
        QImage img = solid(100, 100, Qt::white);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(Qt::black, 6));
        p.drawEllipse(QPointF(50, 50), 30, 30);
        return img;
    }();
    for (const char* name : {"CITwirlDistortion", "CIVortexDistortion"}) {
        SCOPED_TRACE(name);
        const QImage o = render(apply(name, ring, {{"inputCenter", vec(50, 50)}, {"inputRadius", 45.0}}), QRectF(0, 0, 100, 100));
        EXPECT_LT(qGray(pixelYUp(o, 50, 80).rgb()), 100);
        EXPECT_LT(qGray(pixelYUp(o, 20, 50).rgb()), 100);
        EXPECT_EQ(pixelYUp(o, 50, 50), QColor(Qt::white));
        EXPECT_EQ(pixelYUp(o, 50, 65), QColor(Qt::white));
    }
}

TEST(Distortion, CircleSplashStreamsTheRimOutward) {
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
}

TEST(Distortion, TorusLensKeepsItsHoleAndClearsBeyond) {
    const QImage in = testsupport::quadrantImage(100, 100);
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

// Values no slider gives (a shared list can carry anything) still make a picture.
TEST(Distortion, OutlandishValuesStayHarmless) {
    const QImage in = gradientImageForTest(40, 30);
    const double odd[] = {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300, -5};
    for (const char* name : {"CIBumpDistortion", "CIBumpDistortionLinear", "CICircleSplashDistortion", "CIPinchDistortion",
                             "CITorusLensDistortion", "CITwirlDistortion", "CIVortexDistortion"}) {
        SCOPED_TRACE(name);
        for (const double v : odd) {
            for (const char* key : {"inputRadius", "inputScale", "inputAngle", "inputWidth", "inputRefraction"}) {
                CIFilterPtr f = filterOn(QString::fromLatin1(name), in);
                if (!f->inputKeys().contains(QString::fromLatin1(key))) continue;
                f->setValue(v, QString::fromLatin1(key));
                const CIImage out = f->outputImage();
                ASSERT_FALSE(out.isNull());
                EXPECT_EQ(render(out, QRectF(0, 0, 40, 30)).size(), QSize(40, 30));
            }
            CIFilterPtr f = filterOn(QString::fromLatin1(name), in);
            f->setValue(QVariant::fromValue(platform::Vec(v, v)), QStringLiteral("inputCenter"));
            EXPECT_EQ(render(f->outputImage(), QRectF(0, 0, 40, 30)).size(), QSize(40, 30));
        }
    }
}

TEST(Distortion, Attributes) {
    const QStringList center{"inputImage", "inputCenter", "inputRadius"};
    const char* cat = kCICategoryDistortionEffect;
    expectAttributes("CIBumpDistortion", center + QStringList{"inputScale"}, cat,
                     {{"inputRadius", kCIAttributeTypeDistance, 300, 0, 600, 0}, {"inputScale", kCIAttributeTypeScalar, 0.5, -1, 1, {}}});
    expectAttributes("CIBumpDistortionLinear", center + QStringList{"inputAngle", "inputScale"}, cat,
                     {{"inputRadius", kCIAttributeTypeDistance, 300, 0, 800, 0},
                      {"inputAngle", kCIAttributeTypeAngle, 0, -M_PI, M_PI, {}},
                      {"inputScale", kCIAttributeTypeScalar, 0.5, -1, 1, {}}});
    expectAttributes("CICircleSplashDistortion", center, cat, {{"inputRadius", kCIAttributeTypeDistance, 150, 0, 1000, 0}});
    expectAttributes("CIPinchDistortion", center + QStringList{"inputScale"}, cat,
                     {{"inputRadius", kCIAttributeTypeDistance, 300, 0, 1000, 0}, {"inputScale", kCIAttributeTypeScalar, 0.5, 0, 2, 0}});
    expectAttributes("CITorusLensDistortion", center + QStringList{"inputWidth", "inputRefraction"}, cat,
                     {{"inputRadius", kCIAttributeTypeDistance, 160, 0, 500, 0},
                      {"inputWidth", kCIAttributeTypeDistance, 80, 0, 200, 0},
                      {"inputRefraction", kCIAttributeTypeScalar, 1.7, 0, 5, 0}});
    expectAttributes("CITwirlDistortion", center + QStringList{"inputAngle"}, cat,
                     {{"inputRadius", kCIAttributeTypeDistance, 300, 0, 500, 0},
                      {"inputAngle", kCIAttributeTypeAngle, M_PI, -4 * M_PI, 4 * M_PI, {}}});
    expectAttributes("CIVortexDistortion", center + QStringList{"inputAngle"}, cat,
                     {{"inputRadius", kCIAttributeTypeDistance, 300, 0, 800, 0},
                      {"inputAngle", kCIAttributeTypeAngle, 56.55, -94.25, 94.25, {}}});
    // The editor labels these sliders from the keys; the display names must exist.
    CIFilterPtr t = CIFilter::filterWithName(QStringLiteral("CITorusLensDistortion"));
    EXPECT_EQ(t->attributes().value(kCIAttributeFilterDisplayName).toString(), QStringLiteral("Torus Lens Distortion"));
    EXPECT_EQ(t->attributes().value(QStringLiteral("inputRefraction")).toMap().value(kCIAttributeDisplayName).toString(), QStringLiteral("Refraction"));
}
