#include "CoreImageTestUtil.h"

#include "platform/coreimage/Parallel.h"
#include "tests/support/PackagedPictures.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

using namespace citest;

namespace {

// Sum of one channel over a picture, in 0..255 units.
double channelSum(const QImage& img, int shift) {
    double s = 0;
    for (int y = 0; y < img.height(); ++y) {
        const auto* p = reinterpret_cast<const quint32*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) s += (p[x] >> shift) & 0xff;
    }
    return s;
}

QImage dotImage(int w, int h, int dotX, int dotY, int size) {
    QImage img = solid(w, h, Qt::transparent);
    QPainter p(&img);
    p.fillRect(dotX, dotY, size, size, Qt::white);
    return img;
}

}  // namespace

// Small radii use a sampled kernel, large ones box passes: both must keep the light.
TEST(GaussianBlur, PreservesTheTotalAndIsSymmetric) {
    for (double radius : {1.0, 2.5, 4.0, 10.0, 21.0}) {
        SCOPED_TRACE(radius);
        const QImage in = dotImage(61, 61, 23, 23, 15);
        CIFilterPtr f = filterOn(QStringLiteral("CIGaussianBlur"), in);
        f->setValue(radius, QStringLiteral("inputRadius"));
        const CIImage out = f->outputImage();
        // The extent grows by three radii on each side.
        const double grow = std::ceil(3 * radius);
        EXPECT_EQ(out.extent(), QRectF(-grow, -grow, 61 + 2 * grow, 61 + 2 * grow));
        const QImage img = render(out);
        EXPECT_NEAR(channelSum(img, 24), channelSum(in, 24), channelSum(in, 24) * 0.01);
        // Mirror symmetry about the dot's centre (the dot sits in the middle of the picture).
        EXPECT_EQ(maxChannelDiff(img, img.mirrored(true, false)), 0);
        EXPECT_EQ(maxChannelDiff(img, img.mirrored(false, true)), 0);
        // The edges fade to transparent.
        EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    }
}

TEST(GaussianBlur, ZeroRadiusAndFlatAreasAreUnchanged) {
    const QImage in = gradientImageForTest();
    CIFilterPtr f = filterOn(QStringLiteral("CIGaussianBlur"), in);
    f->setValue(0, QStringLiteral("inputRadius"));
    EXPECT_EQ(maxChannelDiff(render(f->outputImage()), in), 0);

    const QImage flat = solid(200, 100, QColor(40, 120, 200));
    CIFilterPtr g = filterOn(QStringLiteral("CIGaussianBlur"), flat);
    g->setValue(8.0, QStringLiteral("inputRadius"));
    // Away from the edges a flat picture stays flat.
    const QImage mid = render(g->outputImage(), QRectF(40, 30, 120, 40));
    EXPECT_LE(maxChannelDiff(mid, solid(120, 40, QColor(40, 120, 200))), 1);
}

// A crop of a blur asks only for the region it needs, and must agree with the full render.
TEST(GaussianBlur, CropOfBlurMatchesFullRender) {
    const QImage in = gradientImageForTest();
    CIFilterPtr f = filterOn(QStringLiteral("CIGaussianBlur"), in);
    f->setValue(6.0, QStringLiteral("inputRadius"));
    const CIImage out = f->outputImage();
    const QImage full = render(out, QRectF(0, 0, in.width(), in.height()));
    const QImage part = render(out.imageByCroppingToRect(QRectF(30, 20, 50, 40)), QRectF(30, 20, 50, 40));
    EXPECT_EQ(maxChannelDiff(part, full.copy(30, in.height() - 20 - 40, 50, 40)), 0);
}

TEST(Blurs, SameResultForOneAndManyThreads) {
    const QImage in = gradientImageForTest();
    struct Case { const char* name; const char* key; QVariant value; };
    const Case cases[] = {
        {"CIGaussianBlur", "inputRadius", 12.0}, {"CIGaussianBlur", "inputRadius", 1.5},
        {"CIMotionBlur", "inputAngle", 0.7}, {"CIMotionBlur", "inputAngle", 0.0},
        {"CIZoomBlur", "inputAmount", 30.0}, {"CIBoxBlur", "inputRadius", 5.0},
        {"CINoiseReduction", "inputNoiseLevel", 0.05}, {"CISharpenLuminance", "inputSharpness", 1.0},
        {"CIUnsharpMask", "inputRadius", 4.0}, {"CIMedianFilter", nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CIFilterPtr f = filterOn(QString::fromLatin1(c.name), in);
        ASSERT_TRUE(f);
        if (c.key) f->setValue(c.value, QString::fromLatin1(c.key));
        const CIImage out = f->outputImage();
        const QRectF r(-5, -5, in.width() + 10, in.height() + 10);
        platform::setThreadCount(1);
        const QImage one = render(out, r);
        platform::setThreadCount(7);
        const QImage many = render(out, r);
        platform::setThreadCount(0);
        EXPECT_EQ(maxChannelDiff(one, many), 0);
    }
}

TEST(MotionBlur, SmearsAlongItsAngleOnly) {
    const QImage in = dotImage(81, 81, 40, 40, 1);
    CIFilterPtr f = filterOn(QStringLiteral("CIMotionBlur"), in);
    f->setValue(10.0, QStringLiteral("inputRadius"));
    f->setValue(M_PI / 2, QStringLiteral("inputAngle"));  // vertical
    const QImage img = render(f->outputImage(), QRectF(0, 0, 81, 81));
    EXPECT_GT(qAlpha(pixelYUp(img, 40, 48).rgba()), 0);
    EXPECT_EQ(qAlpha(pixelYUp(img, 48, 40).rgba()), 0);
}

// A big picture is rendered in strips; a strip's edge must not show in the result. Strips
// are 524 rows at 2000 wide; a radius-100 blur over 4000 columns gets strips of about 450
// rows (its float window held to 64 MB) instead of eight times its reach, so the pieces
// checked there span rows 430 to 470 and 880 to 920.
TEST(GaussianBlur, StripSeamsAreInvisible) {
    const struct {
        int width;
        double radius;
        std::vector<int> rows;
        int height;  // of each piece rendered on its own
    } cases[] = {
        {2000, 2.0, {0, 511, 523, 524, 525, 1047, 1048, 1299}, 1},
        {2000, 15.0, {0, 511, 523, 524, 525, 1047, 1048, 1299}, 1},
        {4000, 100.0, {0, 430, 880, 1260}, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " wide, radius " << c.radius);
        const QImage in = gradientImageForTest(c.width, 1300);
        CIFilterPtr f = filterOn(QStringLiteral("CIGaussianBlur"), in);
        f->setValue(c.radius, QStringLiteral("inputRadius"));
        const CIImage out = f->outputImage();
        const QImage full = render(out, QRectF(0, 0, c.width, 1300));
        for (int y : c.rows) {
            const QImage piece = render(out, QRectF(0, y, c.width, c.height));
            const QImage same = full.copy(0, platform::toQtRow(y + c.height - 1, 1300), c.width, c.height);
            EXPECT_EQ(maxChannelDiff(piece, same), 0) << "rows from " << y;
        }
    }
}

// A rectangle within the picture's rows is blurred in the storage of the input it reads;
// one that reaches past them (the whole grown extent) goes through separate buffers. Both
// must give the same pixels: sampled and box kernels, a rectangle narrower than what it
// reads, and a picture narrower than a block of columns (where a single box pass would
// read what it has just written).
TEST(Blurs, BlurInTheInputsStorageMatchesSeparateBuffers) {
    struct Case { const char* name; double radius; int w, h; QRectF inside; };
    const Case cases[] = {
        {"CIGaussianBlur", 1.5, 97, 71, QRectF(0, 0, 97, 71)},   {"CIGaussianBlur", 12.0, 97, 71, QRectF(0, 0, 97, 71)},
        {"CIGaussianBlur", 12.0, 97, 71, QRectF(7, 5, 60, 40)},  {"CIBoxBlur", 5.0, 97, 71, QRectF(3, 9, 80, 50)},
        {"CIBoxBlur", 4.0, 20, 60, QRectF(0, 10, 20, 40)},       {"CIGaussianBlur", 6.0, 33, 50, QRectF(0, 0, 33, 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.radius) + " " + std::to_string(c.w));
        const QImage in = gradientImageForTest(c.w, c.h);
        CIFilterPtr f = filterOn(QString::fromLatin1(c.name), in);
        ASSERT_TRUE(f);
        f->setValue(c.radius, QStringLiteral("inputRadius"));
        const CIImage out = f->outputImage();
        const QRectF e = out.extent();
        ASSERT_LT(e.top(), 0.0);
        const QImage whole = render(out, e);
        const QImage part = render(out, c.inside);
        const int left = int(c.inside.x() - e.x());
        const int top = int(e.height()) - int(c.inside.y() - e.y()) - int(c.inside.height());
        EXPECT_EQ(maxChannelDiff(part, whole.copy(left, top, int(c.inside.width()), int(c.inside.height()))), 0);
    }
}

// A picture is blurred from its own 8-bit rows (the vertical pass first, a block of columns
// at a time), any other input from its rendered float pixels (the horizontal pass first).
// The two may differ by rounding only: at the edges of the picture and of the rectangle
// asked for, with the sampled and the box kernels, a reach longer than the picture, the
// narrower column blocks of a long reach, opaque RGB32 and translucent pictures, and the
// sharpening that combines a picture with its blur.
TEST(Blurs, PictureRowsMatchRenderedInput) {
    QImage translucent = gradientImageForTest(97, 71);
    for (int y = 0; y < translucent.height(); ++y) {
        auto* p = reinterpret_cast<QRgb*>(translucent.scanLine(y));
        for (int x = 0; x < translucent.width(); ++x) p[x] = qPremultiply(qRgba(qRed(p[x]), qGreen(p[x]), qBlue(p[x]), (x * 5 + y * 3) % 256));
    }
    struct Case { const char* name; double radius; QImage picture; QRectF rect; };  // empty rect: the whole extent
    const Case cases[] = {
        {"CIGaussianBlur", 1.5, gradientImageForTest(97, 71), {}},
        {"CIGaussianBlur", 12.0, gradientImageForTest(97, 71).convertToFormat(QImage::Format_RGB32), {}},
        {"CIGaussianBlur", 12.0, translucent, QRectF(7, 5, 60, 40)},
        {"CIGaussianBlur", 100.0, gradientImageForTest(700, 300), QRectF(-50, 20, 300, 90)},
        {"CIGaussianBlur", 100.0, gradientImageForTest(700, 300), {}},
        {"CIGaussianBlur", 200.0, gradientImageForTest(60, 1300), {}},
        {"CIBoxBlur", 5.0, translucent, QRectF(3, 9, 80, 50)},
        {"CIBoxBlur", 4.0, gradientImageForTest(20, 60), {}},
        {"CIUnsharpMask", 2.5, gradientImageForTest(97, 71), {}},
        {"CIUnsharpMask", 40.0, gradientImageForTest(300, 200), QRectF(10, 150, 200, 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.radius) + " " + std::to_string(c.picture.width()));
        CIFilterPtr direct = filterOn(QString::fromLatin1(c.name), c.picture);
        CIFilterPtr rendered = filterOn(QString::fromLatin1(c.name), c.picture);
        const CIImage cropped = CIImage::imageWithCGImage(c.picture).imageByCroppingToRect(QRectF(QPointF(0, 0), c.picture.size()));
        rendered->setValue(QVariant::fromValue(cropped), QStringLiteral("inputImage"));
        for (const CIFilterPtr& f : {direct, rendered}) f->setValue(c.radius, QStringLiteral("inputRadius"));
        const CIImage a = direct->outputImage(), b = rendered->outputImage();
        ASSERT_EQ(a.extent(), b.extent());
        const QRectF r = c.rect.isEmpty() ? a.extent() : c.rect;
        EXPECT_LE(maxChannelDiff(render(a, r), render(b, r)), 1);
    }
}

// Box blurs of a picture sum its 8-bit levels as whole numbers, divided once at the end;
// the rendered-input path divides after every pass in floats. On a real photo the two are
// the same picture (PSNR of at least 50 dB, no level apart by more than one) at the sigmas
// of the box passes, and a white picture at the longest reach whose sums still fit 32 bits
// stays white inside (sums that overflowed would come out dark or negative).
TEST(Blurs, LevelSumsOfAPhotoMatchTheFloatPasses) {
    const QImage photo = QImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + QStringLiteral("nature/Garden.jpg")))
                             .copy(300, 200, 640, 400)
                             .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(photo.isNull());
    QImage white(700, 700, QImage::Format_RGB32);
    white.fill(Qt::white);
    struct Case { double sigma; QImage picture; };
    const Case cases[] = {{3.0, photo}, {10.0, photo}, {40.0, photo}, {100.0, white}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sigma);
        CIFilterPtr direct = filterOn(QStringLiteral("CIGaussianBlur"), c.picture);
        CIFilterPtr rendered = filterOn(QStringLiteral("CIGaussianBlur"), c.picture);
        rendered->setValue(QVariant::fromValue(CIImage::imageWithCGImage(c.picture).imageByCroppingToRect(
                               QRectF(QPointF(0, 0), c.picture.size()))),
                           QStringLiteral("inputImage"));
        for (const CIFilterPtr& f : {direct, rendered}) f->setValue(c.sigma, QStringLiteral("inputRadius"));
        const QRectF r(QPointF(0, 0), c.picture.size());
        const QImage a = render(direct->outputImage(), r), b = render(rendered->outputImage(), r);
        EXPECT_LE(maxChannelDiff(a, b), 1);
        double squares = 0;
        for (int y = 0; y < a.height(); ++y) {
            const auto* p = reinterpret_cast<const quint32*>(a.constScanLine(y));
            const auto* q = reinterpret_cast<const quint32*>(b.constScanLine(y));
            for (int x = 0; x < a.width(); ++x)
                for (int shift : {0, 8, 16}) {
                    const int d = int((p[x] >> shift) & 0xff) - int((q[x] >> shift) & 0xff);
                    squares += d * d;
                }
        }
        const double mse = squares / (3.0 * a.width() * a.height());
        EXPECT_TRUE(mse == 0.0 || 10.0 * std::log10(255.0 * 255.0 / mse) >= 50.0) << "mean squared error " << mse;
        if (c.picture.pixel(0, 0) == qRgb(255, 255, 255)) { EXPECT_EQ(a.pixel(a.width() / 2, a.height() / 2), qRgb(255, 255, 255)); }
    }
}

// A box blur reaches past the picture on every side, where a line has no pixels to read
// (nor addresses: the sanitizer build checks that none is formed there). A white block in
// a corner of a transparent picture, blurred from the picture's own rows (sums of 8-bit
// levels) and from rendered input (float passes), gives each pixel of the grown extent the
// share of its box that the block covers.
TEST(Blurs, BoxBlurPastThePicturesEdgesIsTheShareOfEachBoxTheBlockCovers) {
    const int w = 24, h = 16, block = 4, r = 6;
    QImage picture = solid(w, h, Qt::transparent);
    {
        QPainter p(&picture);
        p.fillRect(0, 0, block, block, Qt::white);
    }
    // How many of the positions within r of p lie in the block, along one side.
    const auto covered = [&](int p) { return std::max(0, std::min(p + r + 1, block) - std::max(p - r, 0)); };
    CIFilterPtr direct = filterOn(QStringLiteral("CIBoxBlur"), picture);
    CIFilterPtr rendered = filterOn(QStringLiteral("CIBoxBlur"), picture);
    rendered->setValue(QVariant::fromValue(CIImage::imageWithCGImage(picture).imageByCroppingToRect(QRectF(0, 0, w, h))),
                       QStringLiteral("inputImage"));
    for (const CIFilterPtr& f : {direct, rendered}) {
        f->setValue(double(r), QStringLiteral("inputRadius"));
        const CIImage out = f->outputImage();
        const QRectF e = out.extent();
        ASSERT_LE(e.left(), -r);
        ASSERT_GE(e.top() + e.height(), h + r);
        const QImage blurred = render(out, e).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        int worst = 0;
        for (int j = 0; j < blurred.height(); ++j)
            for (int i = 0; i < blurred.width(); ++i) {
                // Picture columns and rows counted from its top-left corner.
                const int x = int(e.left()) + i, y = h - int(e.top() + e.height()) + j;
                const double share = double(covered(x) * covered(y)) / ((2 * r + 1) * (2 * r + 1));
                const QRgb got = blurred.pixel(i, j);
                for (int level : {qAlpha(got), qRed(got), qGreen(got), qBlue(got)})
                    worst = std::max(worst, int(std::abs(level - 255.0 * share)));
            }
        EXPECT_LE(worst, 1);
    }
}

// Renders may run on several threads at once (editor and batch run, thumbnails); they
// share the registry and the buffer pool and must not disturb each other.
TEST(Context, ConcurrentRendersGiveTheSameResult) {
    const QImage in = gradientImageForTest(600, 400);
    CIFilterPtr f = filterOn(QStringLiteral("CIGaussianBlur"), in);
    f->setValue(7.0, QStringLiteral("inputRadius"));
    CIFilterPtr g = CIFilter::filterWithName(QStringLiteral("CIHueAdjust"));
    g->setDefaults();
    g->setValue(QVariant::fromValue(f->outputImage()), QStringLiteral("inputImage"));
    g->setValue(0.4, QStringLiteral("inputAngle"));
    const CIImage out = g->outputImage();
    const QImage expected = render(out, QRectF(0, 0, 600, 400));
    std::vector<QImage> results(6);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = CIContext().createCGImage(out, QRectF(0, 0, 600, 400)); });
    for (auto& t : threads) t.join();
    for (const QImage& r : results) EXPECT_EQ(maxChannelDiff(r, expected), 0);
}

// Blur extents grow around wherever the input lies, also when it is not at the origin.
TEST(Blurs, ExtentsGrowAroundAnOffsetInput) {
    const CIImage moved = CIImage::imageWithCGImage(solid(20, 10, Qt::red)).imageByApplyingTransform(QTransform::fromTranslate(-30, 40));
    struct Case { const char* name; QVariantMap values; QRectF extent; };
    const Case cases[] = {
        {"CIGaussianBlur", {{"inputRadius", 1.0}}, QRectF(-33, 37, 26, 16)},
        {"CIBoxBlur", {{"inputRadius", 3.0}}, QRectF(-33, 37, 26, 16)},
        {"CIMotionBlur", {{"inputRadius", 5.0}}, QRectF(-35, 40, 30, 10)},  // along x only
        {"CISharpenLuminance", {}, QRectF(-30, 40, 20, 10)},
        {"CINoiseReduction", {}, QRectF(-30, 40, 20, 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(c.name));
        f->setDefaults();
        f->setValue(QVariant::fromValue(moved), QStringLiteral("inputImage"));
        for (auto it = c.values.begin(); it != c.values.end(); ++it) f->setValue(it.value(), it.key());
        EXPECT_EQ(f->outputImage().extent(), c.extent);
        // Deep inside, a flat picture stays flat.
        EXPECT_EQ(pixelYUp(render(f->outputImage(), QRectF(-20, 45, 1, 1)), 0, 0), QColor(Qt::red));
    }
}

// The median removes a lone outlier and keeps a straight edge.
TEST(MedianFilter, RemovesSpecklesKeepsEdges) {
    QImage in = solid(9, 9, QColor(50, 60, 70));
    for (int y = 0; y < 9; ++y)
        for (int x = 5; x < 9; ++x) in.setPixel(x, y, qRgb(200, 210, 220));
    in.setPixel(2, 4, qRgb(255, 0, 255));
    const QImage out = render(filterOn(QStringLiteral("CIMedianFilter"), in)->outputImage());
    EXPECT_EQ(QColor(out.pixel(2, 4)), QColor(50, 60, 70));
    EXPECT_EQ(QColor(out.pixel(4, 4)), QColor(50, 60, 70));
    EXPECT_EQ(QColor(out.pixel(5, 4)), QColor(200, 210, 220));

    // Against a plain median of each 3 x 3 neighbourhood of a noisy picture.
    QImage noisy(24, 16, QImage::Format_ARGB32_Premultiplied);
    quint32 seed = 12345;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noisy.setPixel(x, y, qRgb(seed >> 24, (seed >> 16) & 0xff, (seed >> 8) & 0xff));
        }
    const QImage m = render(filterOn(QStringLiteral("CIMedianFilter"), noisy)->outputImage());
    for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 23; ++x) {
            int v[9], n = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) v[n++] = qGreen(noisy.pixel(x + i, y + j));
            std::nth_element(v, v + 4, v + 9);
            ASSERT_EQ(qGreen(m.pixel(x, y)), v[4]) << x << "," << y;
        }
}
