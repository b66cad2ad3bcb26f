// Files written by other programs (ImageMagick, netpbm, libtiff's tools, icnsutils) and
// public test files, kept in data/, read as the pixels those programs put in them.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
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

// A run-length BMP whose codes end the bitmap before its last rows leaves those rows
// transparent, as the format leaves them undefined: the same bytes on every read, never
// memory no one wrote. ImageMagick's RLE8 file (rows of "08 c 08 d 00 00", bottom row
// first) with the end of line after its sixth row made an end of the bitmap.
TEST(OtherWritersFiles, BmpPixelsTheRunLengthsSkipAreTransparentOnEveryRead) {
    QByteArray bytes = testsupport::readFile(dataFile("bmp_rle8_imagemagick.bmp"));
    const qsizetype sixthRowEnd = 1078 + 6 * 6 - 2;
    ASSERT_EQ(bytes.mid(sixthRowEnd - 4, 6), QByteArray("\x08\x00\x08\x02\x00\x00", 6));
    bytes[sixthRowEnd + 1] = 1;
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("ended.bmp")), bytes);
    const QImage first = platform::readImage(path);
    ASSERT_EQ(first.size(), QSize(16, 12));
    // Memory handed back in between is what a reader that leaves pixels unwritten picks up.
    for (int i = 0; i < 3; ++i) {
        QImage garbage(16, 12, QImage::Format_ARGB32);
        garbage.fill(qRgba(1, 2, 3, 4));
    }
    const QImage second = platform::readImage(path);
    EXPECT_EQ(pixelBytes(first), pixelBytes(second));
    EXPECT_EQ(pixelBytes(platform::makeThumbnail(path, 8, 8)), pixelBytes(platform::makeThumbnail(path, 8, 8)));
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 16; ++x) {
            if (y < 6) EXPECT_EQ(first.pixel(x, y), 0u) << x << "," << y;
            else EXPECT_EQ(first.pixel(x, y), x < 8 ? qRgb(0, 0, 0) : qRgb(0, 96, 200)) << x << "," << y;
        }
    }
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

// Every type the add offers is read, with its header and properties, from files written
// by ImageMagick, netpbm and icnsutils: PNM (raw, plain, 16-bit), XBM, XPM, ICO (its
// largest picture), ICNS, Targa (netpbm's run-length, raw, colour-mapped and grey),
// Photoshop's merged picture (PackBits, raw, 16-bit, grey, CMYK, with transparency, PSB)
// and DIB. The corners are the picture's red, white and black, as the writer's own reader
// (netpbm's for Targa) gives them.
TEST(OtherWritersFiles, EveryTypeTheAddOffersIsRead) {
    const QRgb red = qRgb(222, 0, 24), white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
    const QRgb mapRed = qRgb(209, 4, 35), grey = qRgb(48, 48, 48), grey49 = qRgb(49, 49, 49);
    struct Case {
        const char* file;
        platform::ImageFormat format;
        QSize size;
        QRgb corners[3];  // top left, top right, bottom left; 1 where only roughly known
        int alpha = 255;
    } cases[] = {
        {"pnm_p6_imagemagick.ppm", platform::ImageFormat::PNM, {48, 32}, {red, white, black}},
        {"pnm_p3_imagemagick.ppm", platform::ImageFormat::PNM, {48, 32}, {red, white, black}},
        {"pnm_p6_16bit_imagemagick.ppm", platform::ImageFormat::PNM, {48, 32}, {red, white, black}},
        {"pnm_p5_imagemagick.pgm", platform::ImageFormat::PNM, {48, 32}, {grey, white, black}},
        {"pnm_p4_imagemagick.pbm", platform::ImageFormat::PNM, {48, 32}, {black, black, black}},
        {"xbm_imagemagick.xbm", platform::ImageFormat::XBM, {48, 32}, {black, black, black}},
        {"xpm_imagemagick.xpm", platform::ImageFormat::XPM, {48, 32}, {mapRed, white, black}},
        {"ico_two_sizes_imagemagick.ico", platform::ImageFormat::ICO, {48, 48}, {red, white, black}},
        {"icns_png2icns.icns", platform::ImageFormat::ICNS, {128, 128}, {red, white, black}},
        {"tga_rgb_rle_netpbm.tga", platform::ImageFormat::TGA, {48, 32}, {red, white, black}},
        {"tga_rgb_netpbm.tga", platform::ImageFormat::TGA, {48, 32}, {red, white, black}},
        {"tga_colourmap_rle_netpbm.tga", platform::ImageFormat::TGA, {48, 32}, {mapRed, white, black}},
        {"tga_grey_rle_netpbm.tga", platform::ImageFormat::TGA, {48, 32}, {grey49, white, black}},
        {"psd_rgb_rle_imagemagick.psd", platform::ImageFormat::PSD, {48, 32}, {red, white, black}},
        {"psd_rgb_raw_imagemagick.psd", platform::ImageFormat::PSD, {48, 32}, {red, white, black}},
        {"psd_rgb_16bit_imagemagick.psd", platform::ImageFormat::PSD, {48, 32}, {red, white, black}},
        {"psd_grey_16bit_imagemagick.psd", platform::ImageFormat::PSD, {48, 32}, {grey49, white, black}},
        {"psd_cmyk_imagemagick.psd", platform::ImageFormat::PSD, {48, 32}, {1, white, 1}},
        {"psd_rgb_alpha_imagemagick.psd", platform::ImageFormat::PSD, {48, 32}, {qRgb(221, 0, 24), white, black}, 128},
        {"psb_rgb_imagemagick.psb", platform::ImageFormat::PSD, {48, 32}, {red, white, black}},
        {"dib_imagemagick.dib", platform::ImageFormat::DIB, {48, 32}, {red, white, black}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dataFile(c.file);
        const platform::ImageHeader header = platform::readImageHeader(path);
        EXPECT_EQ(header.format, c.format);
        EXPECT_EQ(QSize(header.width, header.height), c.size);
        const QVariantMap properties = platform::readImageProperties(path);
        EXPECT_EQ(properties.value(QStringLiteral("PixelWidth")).toInt(), c.size.width());
        const platform::DecodeResult decoded = platform::decodeImage(path);
        ASSERT_EQ(decoded.image.size(), c.size);
        EXPECT_EQ(decoded.image.format(), QImage::Format_ARGB32_Premultiplied);
        const QPoint at[3] = {{0, 0}, {c.size.width() - 1, 0}, {0, c.size.height() - 1}};
        for (int i = 0; i < 3; ++i) {
            const QRgb got = qUnpremultiply(decoded.image.pixel(at[i]));
            EXPECT_EQ(qAlpha(got), i == 0 ? c.alpha : qAlpha(got)) << i;
            if (c.corners[i] == 1) continue;
            EXPECT_LE(std::abs(qRed(got) - qRed(c.corners[i])) + std::abs(qGreen(got) - qGreen(c.corners[i])) +
                          std::abs(qBlue(got) - qBlue(c.corners[i])),
                      3)
                << i << " " << std::hex << got;
        }
        EXPECT_FALSE(platform::makeThumbnail(path, 16, 16).isNull());
    }
    // CMYK goes through a CMYK profile: the red corner stays red, the black one dark.
    const QImage cmyk = platform::readImage(dataFile("psd_cmyk_imagemagick.psd"));
    EXPECT_GT(qRed(cmyk.pixel(0, 0)), 180);
    EXPECT_LT(qGreen(cmyk.pixel(0, 0)), 60);
    EXPECT_LT(qGray(cmyk.pixel(0, 31)), 60);
}

// Targa and DIB have no signature: they are read only under their own names, and a file
// under such a name is read only when its header is one they could have.
TEST(OtherWritersFiles, FormatsWithoutSignatureNeedTheirNameAndAPlausibleHeader) {
    const QByteArray tga = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/tga_rgb_netpbm.tga"));
    const QByteArray dib = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/dib_imagemagick.dib"));
    EXPECT_EQ(platform::readImageFromData(tga, {}, QStringLiteral("a.TGA")).size(), QSize(48, 32));
    EXPECT_TRUE(platform::readImageFromData(tga, {}, QStringLiteral("a.bin")).isNull());
    EXPECT_EQ(platform::readImageFromData(dib, {}, QStringLiteral("a.dib")).size(), QSize(48, 32));
    EXPECT_TRUE(platform::readImageFromData(dib, {}, QStringLiteral("a.tga")).isNull());
    EXPECT_TRUE(platform::readImageFromData(QByteArray("plain text, not a picture"), {}, QStringLiteral("a.tga")).isNull());
}

// Files cut short fail as damaged: Qt's PNM and XPM readers hand back a picture whose rows
// past the end they never wrote.
TEST(OtherWritersFiles, CutShortFilesOfQtReadFormatsAreDamaged) {
    for (const char* file : {"pnm_p3_imagemagick.ppm", "pnm_p4_imagemagick.pbm", "pnm_p5_imagemagick.pgm",
                             "pnm_p6_imagemagick.ppm", "pnm_p6_16bit_imagemagick.ppm", "xpm_imagemagick.xpm",
                             "tga_rgb_rle_netpbm.tga", "psd_rgb_rle_imagemagick.psd"}) {
        SCOPED_TRACE(file);
        const QByteArray whole = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(file));
        const QByteArray cut = whole.left(whole.size() * 6 / 10);
        EXPECT_FALSE(platform::readImageFromData(whole, {}, QLatin1String(file)).isNull());
        EXPECT_TRUE(platform::readImageFromData(cut, {}, QLatin1String(file)).isNull());
    }
}
