#include "CoreImageTestUtil.h"

#include "platform/coreimage/Parallel.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace citest;

namespace {

CIImage apply(const QString& name, const QImage& in, const QVariantMap& values) {
    CIFilterPtr f = filterOn(name, in);
    if (!f) return {};
    for (auto it = values.begin(); it != values.end(); ++it) f->setValue(it.value(), it.key());
    return f->outputImage();
}

QVariant vec(double x, double y) { return QVariant::fromValue(platform::Vec(x, y)); }

}  // namespace

// At zero strength every distortion gives back its input, pixel for pixel.
TEST(Distortions, IdentityAtZeroStrength) {
    const QImage in = gradientImageForTest(120, 90);
    struct Case { const char* name; QVariantMap values; };
    const Case cases[] = {
        {"CIBumpDistortion", {{"inputScale", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CIBumpDistortionLinear", {{"inputScale", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CIPinchDistortion", {{"inputScale", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CITwirlDistortion", {{"inputAngle", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CIVortexDistortion", {{"inputAngle", 0.0}, {"inputCenter", vec(60, 45)}}},
        {"CICircleSplashDistortion", {{"inputRadius", 200.0}, {"inputCenter", vec(60, 45)}}},
        {"CITorusLensDistortion", {{"inputRefraction", 0.0}, {"inputRadius", 150.0}, {"inputWidth", 200.0}, {"inputCenter", vec(60, 45)}}},
        {"CIBumpDistortion", {{"inputRadius", 0.0}}},
        {"CITwirlDistortion", {{"inputRadius", 0.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage out = render(apply(QString::fromLatin1(c.name), in, c.values), QRectF(0, 0, 120, 90));
        EXPECT_EQ(maxChannelDiff(out, in), 0);
    }
}

TEST(Distortions, ChangeOnlyInsideTheirCircle) {
    const QImage in = gradientImageForTest(120, 90);
    const char* names[] = {"CIBumpDistortion", "CIPinchDistortion", "CITwirlDistortion", "CIVortexDistortion"};
    for (const char* n : names) {
        SCOPED_TRACE(n);
        const QImage out = render(apply(QString::fromLatin1(n), in, {{"inputCenter", vec(40, 40)}, {"inputRadius", 25.0}}), QRectF(0, 0, 120, 90));
        EXPECT_GT(maxChannelDiff(out.copy(15, 90 - 65, 50, 50), in.copy(15, 90 - 65, 50, 50)), 10);
        EXPECT_EQ(maxChannelDiff(out.copy(70, 0, 50, 90), in.copy(70, 0, 50, 90)), 0);
    }
}

TEST(Distortions, CircleSplashAndTorusEdges) {
    const QImage in = testsupport::quadrantImage(100, 100);
    const CIImage splash = apply(QStringLiteral("CICircleSplashDistortion"), in, {{"inputCenter", vec(25, 25)}, {"inputRadius", 10.0}});
    EXPECT_TRUE(splash.isInfinite());
    const QImage s = render(splash, QRectF(0, 0, 100, 100));
    // Outside the circle the rim's colour (blue, bottom-left quadrant) streams outward.
    EXPECT_EQ(pixelYUp(s, 99, 99), QColor(Qt::blue));

    const CIImage torus = apply(QStringLiteral("CITorusLensDistortion"), in, {{"inputCenter", vec(50, 50)}, {"inputRadius", 20.0}, {"inputWidth", 10.0}});
    EXPECT_EQ(torus.extent(), QRectF(0, 0, 100, 100));
    const QImage t = render(torus);
    EXPECT_EQ(pixelYUp(t, 2, 2).alpha(), 0);      // beyond the ring: nothing
    EXPECT_EQ(pixelYUp(t, 45, 45), QColor(Qt::blue));  // inside the ring's hole: as it was
}

TEST(Stylize, PixellateCellsAreFlatAndAverage) {
    // Vertical stripes of 2 px black / 2 px white: a 4 px cell averages to mid grey.
    QImage in(40, 40, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) in.setPixel(x, y, (x / 2) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const CIImage out = apply(QStringLiteral("CIPixellate"), in, {{"inputCenter", vec(2, 2)}, {"inputScale", 4.0}});
    EXPECT_EQ(out.extent(), QRectF(0, 0, 40, 40));
    const QImage img = render(out);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_NEAR(pixelYUp(img, x, y).red(), 128, 1) << x << "," << y;

    // Cells of a picture with detail: every pixel of a cell has the cell's one colour.
    const QImage g = gradientImageForTest(97, 71);
    const QImage p = render(apply(QStringLiteral("CIPixellate"), g, {{"inputCenter", vec(10, 10)}, {"inputScale", 10.0}}));
    for (int cy = 0; cy < 6; ++cy)
        for (int cx = 0; cx < 8; ++cx) {
            const QColor first = pixelYUp(p, 5 + cx * 10, 5 + cy * 10);
            for (int dy = 0; dy < 10; ++dy)
                for (int dx = 0; dx < 10; ++dx) ASSERT_EQ(pixelYUp(p, 5 + cx * 10 + dx, 5 + cy * 10 + dy), first);
        }
}

TEST(Stylize, CrystallizeAndPointillizeMakeFlatCells) {
    const QImage in = solid(60, 60, QColor(30, 90, 200));
    const QImage c = render(apply(QStringLiteral("CICrystallize"), in, {{"inputRadius", 8.0}}));
    EXPECT_LE(maxChannelDiff(c, in), 0);  // a flat picture stays flat
    const QImage p = render(apply(QStringLiteral("CIPointillize"), in, {{"inputRadius", 5.0}}));
    int white = 0, blue = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const QColor q = pixelYUp(p, x, y);
            white += q == QColor(Qt::white);
            blue += q == QColor(30, 90, 200);
        }
    EXPECT_EQ(white + blue, 3600);
    EXPECT_GT(white, 0);
    EXPECT_GT(blue, white);
}

TEST(Stylize, EdgesFindTheBoundaryOnly) {
    QImage in = solid(40, 40, Qt::black);
    for (int y = 0; y < 40; ++y)
        for (int x = 20; x < 40; ++x) in.setPixel(x, y, qRgb(255, 255, 255));
    const QImage e = render(apply(QStringLiteral("CIEdges"), in, {}));
    EXPECT_EQ(pixelYUp(e, 5, 20), QColor(Qt::black));
    EXPECT_EQ(pixelYUp(e, 35, 20), QColor(Qt::black));  // no false edge at the picture's border
    EXPECT_GT(pixelYUp(e, 20, 20).red(), 100);
}

TEST(Stylize, BloomBrightensAndKeepsExtent) {
    const QImage in = gradientImageForTest();
    const CIImage out = apply(QStringLiteral("CIBloom"), in, {});
    EXPECT_EQ(out.extent(), QRectF(0, 0, in.width(), in.height()));
    const QImage img = render(out);
    EXPECT_GE(pixelYUp(img, 50, 30).red(), pixelYUp(in, 50, 30).red());
}

TEST(StylizeDistortion, SameResultForOneAndManyThreads) {
    const QImage in = gradientImageForTest(150, 110);
    const char* names[] = {"CIBloom", "CICrystallize", "CIEdges", "CIPixellate", "CIPointillize", "CIBumpDistortion",
                           "CIBumpDistortionLinear", "CICircleSplashDistortion", "CIPinchDistortion",
                           "CITorusLensDistortion", "CITwirlDistortion", "CIVortexDistortion"};
    for (const char* n : names) {
        SCOPED_TRACE(n);
        const CIImage out = apply(QString::fromLatin1(n), in, {{"inputCenter", vec(70, 50)}});
        ASSERT_FALSE(out.isNull());
        platform::setThreadCount(1);
        const QImage one = render(out, QRectF(0, 0, 150, 110));
        platform::setThreadCount(5);
        const QImage many = render(out, QRectF(0, 0, 150, 110));
        platform::setThreadCount(0);
        EXPECT_EQ(maxChannelDiff(one, many), 0);
    }
}
