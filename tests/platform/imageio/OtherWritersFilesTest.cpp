// Files written by other programs (ImageMagick, netpbm, libtiff's tools, icnsutils) and
// public test files, kept in data/, read as the pixels those programs put in them.
#include "platform/imageio/ImageIO.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

QString dataFile(const char* name) {
    return testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name));
}

QByteArray pixelBytes(const QImage& image) {
    QByteArray bytes;
    for (int y = 0; y < image.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(image.constScanLine(y)), qsizetype(image.width()) * 4);
    return bytes;
}

}  // namespace

// A run-length BMP whose codes skip pixels (deltas, lines and the bitmap ended early)
// leaves them transparent: the same bytes on every read, never memory no one wrote.
TEST(OtherWritersFiles, BmpPixelsTheRunLengthsSkipAreTransparentOnEveryRead) {
    const QString path = dataFile("bmp_rle_undefined_pixels.bmp");
    const QImage first = platform::readImage(path);
    ASSERT_EQ(first.size(), QSize(127, 64));
    // Memory handed back in between is what a reader that leaves pixels unwritten picks up.
    for (int i = 0; i < 3; ++i) {
        QImage garbage(127, 64, QImage::Format_ARGB32);
        garbage.fill(qRgba(1, 2, 3, 4));
    }
    const QImage second = platform::readImage(path);
    EXPECT_EQ(pixelBytes(first), pixelBytes(second));
    EXPECT_EQ(pixelBytes(platform::makeThumbnail(path, 64, 64)), pixelBytes(platform::makeThumbnail(path, 64, 64)));
    // Most of the top half is skipped by the codes; the bottom rows are coded.
    EXPECT_EQ(first.pixel(0, 40), 0u);
    EXPECT_EQ(qAlpha(first.pixel(55, 40)), 255);
    EXPECT_EQ(qAlpha(first.pixel(0, 63)), 255);
    int skipped = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x) skipped += qAlpha(first.pixel(x, y)) == 0;
    EXPECT_EQ(skipped, 5070);
}

// 16-bit BMPs (ImageMagick's 5-6-5, 5-5-5 and 4-4-4-4 bit fields) widen their channels
// by repeating the top bits: white is 255, not 248 or 252.
TEST(OtherWritersFiles, SixteenBitBmpChannelsReachFullScale) {
    struct Case {
        const char* file;
        QRgb red;  // the red patch, top left
    } cases[] = {
        {"bmp_rgb565_imagemagick.bmp", qRgb(214, 0, 16)},
        {"bmp_rgb555_imagemagick.bmp", qRgb(214, 0, 16)},
        {"bmp_argb4444_imagemagick.bmp", qRgb(221, 0, 17)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QImage image = platform::readImage(dataFile(c.file));
        ASSERT_EQ(image.size(), QSize(16, 12));
        EXPECT_EQ(image.pixel(15, 0), qRgb(255, 255, 255));
        EXPECT_EQ(image.pixel(0, 0), c.red);
    }
}

// TIFF sample formats as the programs that write them read them: ImageMagick's signed
// integer samples hold the picture's own bits (its red 222 is not cut to 0), and a 32-bit
// floating-point picture kept in one 268 MB strip (rows per strip 4096) is read a row at a
// time, its values 0 to 1 spread over the output's range.
TEST(OtherWritersFiles, TiffSampleFormatsReadAsTheirWritersReadThem) {
    struct Case {
        const char* file;
        QSize size;
        QPoint at;
        QRgb colour;
    } cases[] = {
        {"tiff_signed_8bit_imagemagick.tif", {16, 12}, {0, 0}, qRgb(222, 0, 24)},
        {"tiff_signed_8bit_imagemagick.tif", {16, 12}, {15, 0}, qRgb(255, 255, 255)},
        {"tiff_signed_16bit_imagemagick.tif", {16, 12}, {0, 0}, qRgb(222, 0, 24)},
        {"tiff_float32_rgba_one_strip_imagemagick.tif", {4097, 4096}, {50, 50}, qRgb(255, 255, 255)},
        {"tiff_float32_rgba_one_strip_imagemagick.tif", {4097, 4096}, {2000, 2000}, qRgb(96, 64, 32)},
    };
    QString lastFile;
    QImage image;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (lastFile != QLatin1String(c.file)) image = platform::readImage(dataFile(c.file));
        lastFile = QLatin1String(c.file);
        ASSERT_EQ(image.size(), c.size);
        EXPECT_EQ(image.pixel(c.at), c.colour);
    }
}
