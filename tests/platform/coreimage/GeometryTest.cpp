#include "CoreImageTestUtil.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace citest;

// Crop rectangles are y-up: (0, 0) is the bottom-left corner. quadrantImage has red at the
// top-left, green top-right, blue bottom-left and white bottom-right.
TEST(Crop, RectanglesAreBottomLeftBased) {
    const QImage in = testsupport::quadrantImage(40, 20);
    struct Case { platform::Vec rect; QColor expected; QRectF extent; };
    const Case cases[] = {
        {platform::Vec(0, 0, 20, 10), Qt::blue, QRectF(0, 0, 20, 10)},
        {platform::Vec(20, 0, 20, 10), Qt::white, QRectF(20, 0, 20, 10)},
        {platform::Vec(0, 10, 20, 10), Qt::red, QRectF(0, 10, 20, 10)},
        {platform::Vec(25, 12, 100, 100), Qt::green, QRectF(25, 12, 15, 8)},  // clipped to the picture
    };
    for (const Case& c : cases) {
        CIFilterPtr f = filterOn(QStringLiteral("CICrop"), in);
        f->setValue(QVariant::fromValue(c.rect), QStringLiteral("inputRectangle"));
        const CIImage out = f->outputImage();
        EXPECT_EQ(out.extent(), c.extent);
        const QImage img = render(out);
        ASSERT_EQ(img.size(), c.extent.size().toSize());
        for (const QPoint p : {QPoint(0, 0), QPoint(img.width() - 1, img.height() - 1)})
            EXPECT_EQ(pixelYUp(img, p.x(), p.y()), c.expected) << c.rect.description().toStdString();
    }
}

TEST(Crop, DefaultRectangleAndDisjointCrop) {
    CIFilterPtr f = filterOn(QStringLiteral("CICrop"), solid(500, 400, Qt::red));
    EXPECT_EQ(f->valueForKey(QStringLiteral("inputRectangle")).value<platform::Vec>(), platform::Vec(0, 0, 300, 300));
    EXPECT_EQ(f->outputImage().extent(), QRectF(0, 0, 300, 300));
    f->setValue(QVariant::fromValue(platform::Vec(600, 600, 10, 10)), QStringLiteral("inputRectangle"));
    EXPECT_TRUE(f->outputImage().extent().isEmpty());
    EXPECT_TRUE(render(f->outputImage()).isNull());
}

TEST(Context, RendersAnyRectangleWithTransparentOutside) {
    const CIImage img = CIImage::imageWithCGImage(solid(10, 10, Qt::green));
    const QImage out = CIContext().createCGImage(img, QRectF(-5, -5, 20, 20));
    ASSERT_EQ(out.size(), QSize(20, 20));
    EXPECT_EQ(pixelYUp(out, 0, 0).alpha(), 0);
    EXPECT_EQ(pixelYUp(out, 10, 10), QColor(Qt::green));
    // Fractional rectangles are resampled to their rounded size.
    EXPECT_EQ(CIContext().createCGImage(img, QRectF(0.5, 0.5, 4.6, 4.4)).size(), QSize(5, 4));
    EXPECT_TRUE(CIContext().createCGImage(CIImage(), QRectF(0, 0, 4, 4)).isNull());
    // Rectangles no picture can have are refused, not attempted.
    EXPECT_TRUE(CIContext().createCGImage(img, QRectF(0, 0, std::nan(""), 4)).isNull());
    EXPECT_TRUE(CIContext().createCGImage(img, QRectF(0, 0, 1e6, 1e6)).isNull());
    EXPECT_TRUE(CIContext().createCGImage(img.imageByClampingToExtent(), img.imageByClampingToExtent().extent()).isNull());
}

TEST(Context, DrawImageScalesFromRectIntoRect) {
    QImage canvas = solid(20, 20, Qt::white);
    const CIImage img = CIImage::imageWithCGImage(testsupport::quadrantImage(10, 10));
    // The blue bottom-left quarter, drawn over the canvas's top-right quarter.
    CIContext().drawImage(img, QRectF(10, 10, 10, 10), QRectF(0, 0, 5, 5), canvas);
    EXPECT_EQ(pixelYUp(canvas, 15, 15), QColor(Qt::blue));
    EXPECT_EQ(pixelYUp(canvas, 5, 5), QColor(Qt::white));
}

TEST(Geometry, TransformsAndClamp) {
    const CIImage img = CIImage::imageWithCGImage(testsupport::quadrantImage(10, 10));
    const CIImage moved = img.imageByApplyingTransform(QTransform::fromTranslate(5, 3));
    EXPECT_EQ(moved.extent(), QRectF(5, 3, 10, 10));
    EXPECT_EQ(pixelYUp(render(moved), 0, 0), QColor(Qt::blue));
    const CIImage half = img.imageByApplyingTransform(QTransform::fromScale(0.5, 0.5));
    EXPECT_EQ(half.extent(), QRectF(0, 0, 5, 5));

    CIFilterPtr clamp = filterOn(QStringLiteral("CIAffineClamp"), testsupport::quadrantImage(10, 10));
    const CIImage c = clamp->outputImage();
    EXPECT_TRUE(c.isInfinite());
    const QImage out = render(c, QRectF(-10, -10, 30, 30));
    EXPECT_EQ(pixelYUp(out, 0, 0), QColor(Qt::blue));     // beyond the bottom-left corner
    EXPECT_EQ(pixelYUp(out, 29, 29), QColor(Qt::green));  // beyond the top-right corner
    // An infinite constant image cropped gives a finite one.
    EXPECT_TRUE(CIImage::imageWithColor(Qt::red).isInfinite());
    EXPECT_EQ(CIImage::imageWithColor(Qt::red).imageByCroppingToRect(QRectF(1, 2, 3, 4)).extent(), QRectF(1, 2, 3, 4));
}

// Drawing a half-transparent result over existing content mixes by coverage; pixels the
// result does not cover keep their colour.
TEST(Context, DrawImageCompositesSourceOver) {
    QImage canvas = solid(10, 10, QColor(0, 0, 255));
    const CIImage red = CIImage::imageWithCGImage(solid(4, 4, QColor(255, 0, 0, 128)));
    CIContext().drawImage(red, QRectF(2, 2, 4, 4), QRectF(0, 0, 4, 4), canvas);
    const QColor mixed = pixelYUp(canvas, 3, 3);
    EXPECT_NEAR(mixed.red(), 128, 1);
    EXPECT_NEAR(mixed.blue(), 127, 1);
    EXPECT_EQ(mixed.alpha(), 255);
    EXPECT_EQ(pixelYUp(canvas, 8, 8), QColor(0, 0, 255));
    // A target rectangle partly off the canvas draws the part that is on it.
    CIContext().drawImage(CIImage::imageWithCGImage(solid(4, 4, Qt::green)), QRectF(8, 8, 4, 4), QRectF(0, 0, 4, 4), canvas);
    EXPECT_EQ(pixelYUp(canvas, 9, 9), QColor(Qt::green));
    EXPECT_EQ(pixelYUp(canvas, 7, 7), QColor(0, 0, 255));
}

// Drawing into a picture that shares its pixels with another copy changes only the target.
TEST(Context, DrawImageIntoASharedPictureLeavesTheOtherCopy) {
    const QImage original = solid(1200, 900, QColor(0, 0, 255));
    QImage target = original;  // shares pixels until written
    CIContext().drawImage(CIImage::imageWithCGImage(solid(1200, 900, Qt::red)), QRectF(0, 0, 1200, 900), QRectF(0, 0, 1200, 900), target);
    EXPECT_EQ(pixelYUp(target, 600, 450), QColor(Qt::red));
    EXPECT_EQ(pixelYUp(original, 600, 450), QColor(0, 0, 255));
}

// An opaque RGB32 picture is read as it is, without a converted copy; whatever its unused
// alpha byte holds, it must render as its premultiplied ARGB copy does, alone and blurred.
TEST(Context, Rgb32PictureReadsAsItsPremultipliedCopy) {
    QImage rgb(45, 31, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < rgb.height(); ++y) {
        auto* p = reinterpret_cast<quint32*>(rgb.scanLine(y));
        for (int x = 0; x < rgb.width(); ++x) p[x] = seed = seed * 1664525u + 1013904223u;
    }
    const QImage argb = rgb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRectF r(0, 0, rgb.width(), rgb.height());
    EXPECT_EQ(maxChannelDiff(render(CIImage::imageWithCGImage(rgb), r), argb), 0);
    CIFilterPtr a = filterOn(QStringLiteral("CIGaussianBlur"), rgb), b = filterOn(QStringLiteral("CIGaussianBlur"), argb);
    ASSERT_TRUE(a && b);
    a->setValue(4.0, QStringLiteral("inputRadius"));
    b->setValue(4.0, QStringLiteral("inputRadius"));
    EXPECT_EQ(maxChannelDiff(render(a->outputImage(), r), render(b->outputImage(), r)), 0);
}

// A strongly shrinking clamp transform reads the picture, not an area of its endless
// edges the size of the output divided by the scale; the pixels are those of the plain
// clamp-then-transform at scales where both can be rendered.
TEST(Geometry, ShrinkingClampReadsOnlyThePicture) {
    const QImage photo = testsupport::gradientImage(40, 30);
    auto clampWith = [&](const QTransform& t) {
        CIFilterPtr f = filterOn(QStringLiteral("CIAffineClamp"), photo);
        f->setValue(QVariant::fromValue(t), QStringLiteral("inputTransform"));
        return f->outputImage();
    };
    const QTransform half = QTransform::fromScale(0.5, 0.5);
    const CIImage plain = CIImage::imageWithCGImage(photo).imageByClampingToExtent().imageByApplyingTransform(half);
    const QRectF window(-8, -6, 40, 30);
    const QImage expected = render(plain, window), got = render(clampWith(half), window);
    ASSERT_EQ(got.size(), expected.size());
    int worst = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y), b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
        }
    EXPECT_LE(worst, 1);

    const QImage tiny = render(clampWith(QTransform::fromScale(0.001, 0.001)), QRectF(0, 0, 400, 300));
    ASSERT_FALSE(tiny.isNull());
    EXPECT_EQ(tiny.pixelColor(0, 299).alpha(), 255);  // the bottom-left corner pixel, repeated
}
