#include "StylizeDistortionSupport.h"

#include <QPainter>

using namespace citest;

namespace {

// Every pixel a colour of its own (up to 256 x 256).
QImage uniquePixels(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, qRgb(x, y, 128));
    return img;
}

double meanGrey(const QImage& img) {
    double s = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) s += qGray(img.pixel(x, y));
    return s / (img.width() * img.height());
}

}  // namespace

TEST(Stylize, PixellateCellsAreFlatAverages) {
    // Vertical stripes of 2 px black / 2 px white: a 4 px cell averages to mid grey.
    QImage in(40, 40, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) in.setPixel(x, y, (x / 2) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const CIImage out = apply("CIPixellate", in, {{"inputCenter", vec(2, 2)}, {"inputScale", 4.0}});
    EXPECT_EQ(out.extent(), QRectF(0, 0, 40, 40));
    const QImage img = render(out);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_NEAR(pixelYUp(img, x, y).red(), 128, 1) << x << "," << y;

    // Cells of a picture with detail: every pixel of a cell has the cell's one colour,
    // and neighbouring cells differ.
    const QImage g = uniquePixels(97, 71);
    const QImage p = render(apply("CIPixellate", g, {{"inputCenter", vec(10, 10)}, {"inputScale", 10.0}}), QRectF(0, 0, 97, 71));
    for (int cy = 0; cy < 6; ++cy)
        for (int cx = 0; cx < 8; ++cx) {
            const QColor first = pixelYUp(p, 5 + cx * 10, 5 + cy * 10);
            for (int dy = 0; dy < 10; ++dy)
                for (int dx = 0; dx < 10; ++dx) ASSERT_EQ(pixelYUp(p, 5 + cx * 10 + dx, 5 + cy * 10 + dy), first);
            EXPECT_NE(first, pixelYUp(p, 15 + cx * 10, 5 + cy * 10));
        }
    // The cell 5..15 x 5..15 averages the pixels it covers.
    EXPECT_NEAR(pixelYUp(p, 7, 7).red(), 9.5, 1);
    EXPECT_NEAR(pixelYUp(p, 7, 7).green(), 70 - 9.5, 1);

    // The result covers every cell the picture touches, whole; border cells average only
    // the picture's own pixels, so they are opaque.
    const CIImage grown = apply("CIPixellate", solid(30, 20, QColor(200, 40, 10)), {{"inputCenter", vec(0, 0)}, {"inputScale", 8.0}});
    EXPECT_EQ(grown.extent(), QRectF(-4, -4, 40, 24));
    EXPECT_EQ(countOf(render(grown), QColor(200, 40, 10)), 40 * 24);
}

TEST(Stylize, CrystallizeAndPointillizeCells) {
    // A flat picture stays flat under crystals; dots of its colour lie on white.
    const QImage flat = solid(60, 60, QColor(30, 90, 200));
    EXPECT_EQ(maxChannelDiff(render(apply("CICrystallize", flat, {{"inputRadius", 8.0}})), flat), 0);
    const QImage dots = render(apply("CIPointillize", flat, {{"inputRadius", 5.0}}));
    const int white = countOf(dots, Qt::white), blue = countOf(dots, QColor(30, 90, 200));
    EXPECT_GT(white, 0);
    EXPECT_GT(blue, 3 * white);
    // A dot's rim lies between its colour and the white, in proportion on every channel.
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const QColor c = dots.pixelColor(x, y);
            const double t = (255.0 - c.red()) / (255.0 - 30.0);
            ASSERT_NEAR(c.green(), 255.0 - t * (255.0 - 90.0), 1.5) << x << "," << y;
            ASSERT_NEAR(c.blue(), 255.0 - t * (255.0 - 200.0), 1.5) << x << "," << y;
        }

    // On a picture whose every pixel differs, the number of colours counts the cells:
    // about one per square of the disc's area, and the same on every run.
    const QImage in = uniquePixels(200, 150);
    struct Case { const char* name; double radius; };
    const Case cases[] = {{"CICrystallize", 5}, {"CICrystallize", 12}, {"CIPointillize", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SCOPED_TRACE(c.radius);
        const QVariantMap v{{"inputRadius", c.radius}, {"inputCenter", vec(100, 75)}};
        const CIImage out = apply(c.name, in, v);
        EXPECT_EQ(out.extent(), QRectF(0, 0, 200, 150));
        const QImage a = render(out);
        const double expected = 200.0 * 150.0 / (M_PI * c.radius * c.radius);
        const bool dotted = QLatin1String(c.name) == QLatin1String("CIPointillize");
        // Pixels wholly inside a cell or dot keep a colour of the picture (its blue is 128).
        QImage inside = a;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if ((a.pixel(x, y) & 0xff) != 128u) inside.setPixel(x, y, 0xff000080u);
        const int cells = distinctColours(inside) - 1;
        EXPECT_GT(cells, expected * 0.75);
        EXPECT_LT(cells, expected * 1.45);
        EXPECT_EQ(maxChannelDiff(a, render(apply(c.name, in, v))), 0);
        // Cells never blend with each other; only a dot's rim turns toward the white.
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const quint32 blue = a.pixel(x, y) & 0xff;
                ASSERT_TRUE(blue == 128u || (dotted && blue > 128u)) << x << "," << y;
            }
    }
}

TEST(Stylize, EdgesOfAFlatPictureAreBlack) {
    for (const QColor& c : {QColor(Qt::white), QColor(20, 180, 90)}) {
        const QImage e = render(apply("CIEdges", solid(40, 30, c), {{"inputIntensity", 10.0}}));
        EXPECT_EQ(countOf(e, Qt::black), 40 * 30) << "no false edge at the picture's border";
    }
    QImage in = solid(40, 40, Qt::black);
    for (int y = 0; y < 40; ++y)
        for (int x = 20; x < 40; ++x) in.setPixel(x, y, qRgb(255, 255, 255));
    const QImage e = render(apply("CIEdges", in));
    EXPECT_EQ(pixelYUp(e, 5, 20), QColor(Qt::black));
    EXPECT_EQ(pixelYUp(e, 35, 20), QColor(Qt::black));
    EXPECT_GT(pixelYUp(e, 20, 20).red(), 100);
    EXPECT_GT(pixelYUp(e, 19, 20).red(), 100);
    // Stronger intensity, brighter edges.
    const QImage weak = render(apply("CIEdges", in, {{"inputIntensity", 0.2}}));
    EXPECT_LT(pixelYUp(weak, 20, 20).red(), pixelYUp(e, 20, 20).red());
}

TEST(Stylize, BloomGlowsWithoutChangingFlatAreas) {
    const QImage flat = solid(80, 60, QColor(120, 60, 200));
    const CIImage fo = apply("CIBloom", flat, {{"inputIntensity", 1.0}});
    EXPECT_EQ(fo.extent(), QRectF(0, 0, 80, 60));
    const QImage f = render(fo);
    EXPECT_NEAR(meanGrey(f), meanGrey(flat), 0.5);
    EXPECT_LE(maxChannelDiff(f, flat), 1);

    // A bright square on black: light spills out of it, the square itself stays.
    QImage in = solid(80, 80, Qt::black);
    QPainter(&in).fillRect(QRect(30, 30, 20, 20), Qt::white);
    const QImage b = render(apply("CIBloom", in, {{"inputRadius", 5.0}, {"inputIntensity", 1.0}}));
    EXPECT_GT(pixelYUp(b, 27, 40).red(), 40);
    EXPECT_EQ(pixelYUp(b, 5, 5), QColor(Qt::black));
    EXPECT_EQ(pixelYUp(b, 40, 40), QColor(Qt::white));
    const QImage half = render(apply("CIBloom", in, {{"inputRadius", 5.0}, {"inputIntensity", 0.5}}));
    EXPECT_NEAR(pixelYUp(half, 27, 40).red(), pixelYUp(b, 27, 40).red() / 2.0, 2);
    EXPECT_EQ(maxChannelDiff(render(apply("CIBloom", in, {{"inputIntensity", 0.0}})), in), 0);
}

TEST(Stylize, PiecesAndThreadsGiveTheSamePixels) {
    const QImage in = gradientImageForTest(150, 110);
    struct Case { const char* name; QVariantMap values; };
    const Case cases[] = {
        {"CIBloom", {{"inputRadius", 12.0}}},
        {"CICrystallize", {{"inputRadius", 7.0}}},
        {"CIEdges", {}},
        {"CIPixellate", {{"inputScale", 9.0}}},
        {"CIPointillize", {{"inputRadius", 6.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap v = c.values;
        if (QLatin1String(c.name) != QLatin1String("CIBloom") && QLatin1String(c.name) != QLatin1String("CIEdges"))
            v.insert("inputCenter", vec(70.3, 50.6));
        const CIImage out = apply(c.name, in, v);
        ASSERT_FALSE(out.isNull());
        expectPiecesMatchWhole(out, QRectF(0, 0, 150, 110));
    }
}

TEST(Stylize, AttributesAndOddValues) {
    const char* cat = kCICategoryStylize;
    expectKeys("CIBloom", {"inputImage", "inputRadius", "inputIntensity"}, cat);
    expectKeys("CICrystallize", {"inputImage", "inputRadius", "inputCenter"}, cat);
    expectKeys("CIEdges", {"inputImage", "inputIntensity"}, cat);
    expectKeys("CIPixellate", {"inputImage", "inputCenter", "inputScale"}, cat);
    expectKeys("CIPointillize", {"inputImage", "inputRadius", "inputCenter"}, cat);
    const NumberAttr numbers[] = {
        {"CIBloom", "inputRadius", kCIAttributeTypeDistance, 10, 0, 100, 0},
        {"CIBloom", "inputIntensity", kCIAttributeTypeScalar, 0.5, 0, 1, 0},
        {"CICrystallize", "inputRadius", kCIAttributeTypeDistance, 20, 1, 100, 1},
        {"CIEdges", "inputIntensity", kCIAttributeTypeScalar, 1, 0, 10, 0},
        {"CIPixellate", "inputScale", kCIAttributeTypeDistance, 8, 1, 100, 1},
        {"CIPointillize", "inputRadius", kCIAttributeTypeDistance, 20, 1, 100, 1},
    };
    for (const NumberAttr& n : numbers) expectNumberAttr(n);
    for (const char* name : {"CIBloom", "CICrystallize", "CIEdges", "CIPixellate", "CIPointillize"}) expectOddValuesHarmless(name);
}
