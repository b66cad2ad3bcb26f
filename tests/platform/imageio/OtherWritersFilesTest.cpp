// Files written by other programs (ImageMagick, netpbm, libtiff's tools, icnsutils) and
// public test files, kept in data/, read as the pixels those programs put in them.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QtEndian>
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
// past the end they never wrote, its XBM reader one whose missing bytes it left white.
TEST(OtherWritersFiles, CutShortFilesOfQtReadFormatsAreDamaged) {
    for (const char* file : {"pnm_p3_imagemagick.ppm", "pnm_p4_imagemagick.pbm", "pnm_p5_imagemagick.pgm",
                             "pnm_p6_imagemagick.ppm", "pnm_p6_16bit_imagemagick.ppm", "xpm_imagemagick.xpm", "xbm_imagemagick.xbm",
                             "tga_rgb_rle_netpbm.tga", "psd_rgb_rle_imagemagick.psd"}) {
        SCOPED_TRACE(file);
        const QByteArray whole = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(file));
        const QByteArray cut = whole.left(whole.size() * 6 / 10);
        EXPECT_FALSE(platform::readImageFromData(whole, {}, QLatin1String(file)).isNull());
        EXPECT_TRUE(platform::readImageFromData(cut, {}, QLatin1String(file)).isNull());
        QTemporaryDir dir;
        const platform::DecodeResult decoded = platform::decodeImage(testsupport::writeFile(dir.filePath(QLatin1String(file)), cut));
        EXPECT_EQ(decoded.failure, platform::DecodeFailure::Damaged);
    }
    // An XBM one byte short of its 48 x 32 bits: the last value cut off with the file's end.
    const QByteArray xbm = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/xbm_imagemagick.xbm"));
    const QByteArray oneShort = xbm.left(xbm.lastIndexOf("0x"));
    ASSERT_EQ(oneShort.count("0x"), 48 / 8 * 32 - 1);
    EXPECT_TRUE(platform::readImageFromData(oneShort, {}, QStringLiteral("a.xbm")).isNull());
    // Every byte there but the closing brace: the picture is whole.
    EXPECT_EQ(platform::readImageFromData(xbm.left(xbm.lastIndexOf('}')), {}, QStringLiteral("a.xbm")).size(), QSize(48, 32));
}

namespace {

QImage argbOf(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

// How many pixels of two pictures of one size differ at all.
int pixelsApart(const QImage& a, const QImage& b) {
    const QImage x = argbOf(a), y = argbOf(b);
    int apart = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) apart += x.pixel(i, j) != y.pixel(i, j);
    return apart;
}

}  // namespace

// PNM files as netpbm reads them, level for level (its pamdepth to 255 made each reference):
// a plain bitmap whose digits have no blanks between them (netpbm's own plain writer puts
// none), plain and raw grey maps of maxval 1000, 15 and 65535, and ImageMagick's 10-bit
// pixel map with a comment in its header.
TEST(OtherWritersFiles, NetpbmFilesReadAsNetpbmReadsThem) {
    struct Case {
        const char* file;
        platform::ColourModel model;
    } cases[] = {
        {"pbm_plain_digits_unseparated", platform::ColourModel::Gray},
        {"pgm_plain_maxval1000_netpbm", platform::ColourModel::Gray},
        {"pgm_maxval15_netpbm", platform::ColourModel::Gray},
        {"pgm_16bit_imagemagick", platform::ColourModel::Gray},
        {"ppm_10bit_comment_imagemagick", platform::ColourModel::RGB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString base = QLatin1String(c.file);
        const QString path = dataFile(qPrintable(base + (base.startsWith(u"pbm") ? ".pbm" : base.startsWith(u"pgm") ? ".pgm" : ".ppm")));
        const QImage expected = platform::readImage(dataFile(qPrintable(base + ".ref.png")));
        const platform::ImageHeader header = platform::readImageHeader(path);
        EXPECT_EQ(header.format, platform::ImageFormat::PNM);
        EXPECT_EQ(QSize(header.width, header.height), expected.size());
        EXPECT_EQ(header.colourModel, c.model);
        const platform::DecodeResult decoded = platform::decodeImage(path);
        ASSERT_TRUE(decoded.ok());
        ASSERT_EQ(decoded.image.size(), expected.size());
        EXPECT_EQ(pixelsApart(decoded.image, expected), 0);
    }
}

// A sample above its file's maxval has no level to be: the file is damaged, never read with
// the sample wrapped round to another level.
TEST(OtherWritersFiles, PnmSamplesAboveTheirMaxvalAreDamage) {
    QByteArray plain = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/pgm_plain_maxval1000_netpbm.pgm"));
    ASSERT_TRUE(plain.startsWith("P2\n64 48\n1000\n"));
    const qsizetype first = plain.indexOf('\n', 9) + 1;
    plain.insert(first, "1001 ");  // one sample more than the file holds, and the first too bright
    QByteArray raw = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/ppm_10bit_comment_imagemagick.ppm"));
    ASSERT_TRUE(raw.contains("\n1023\n"));
    const qsizetype samples = raw.indexOf("\n1023\n") + 6;
    raw[samples] = char(0x04), raw[samples + 1] = char(0x00);  // 1024
    QTemporaryDir dir;
    for (const QByteArray& bytes : {plain, raw}) {
        const platform::DecodeResult decoded = platform::decodeImage(testsupport::writeFile(dir.filePath("sample.pnm"), bytes));
        EXPECT_TRUE(decoded.image.isNull());
        EXPECT_EQ(decoded.failure, platform::DecodeFailure::Damaged);
    }
}

// A reader of Qt's that gives up once it has allocated the picture (an XPM colour without a
// value) fails the file as damaged; the picture it left is never handed on.
TEST(OtherWritersFiles, AQtReaderThatGivesUpLeavesNoPicture) {
    QByteArray xpm = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/xpm_imagemagick.xpm"));
    ASSERT_TRUE(xpm.contains("\"X c #7ACD1F1769B4\""));
    xpm.replace("\"X c #7ACD1F1769B4\"", "\"X c \"");
    QTemporaryDir dir;
    const platform::DecodeResult decoded = platform::decodeImage(testsupport::writeFile(dir.filePath("icon.xpm"), xpm));
    EXPECT_TRUE(decoded.image.isNull());
    EXPECT_EQ(decoded.failure, platform::DecodeFailure::Damaged);
}

// A 16-bit Targa's attribute bit is alpha only where its extension area says so (type 3,
// or 4 premultiplied); another type leaves the picture opaque. Without an extension area
// (the footer cut off, or its offset past the file), a bit clear in every pixel is no
// alpha; set in some, it is. The file is the public test file whose extension area says
// type 2 (kept, not alpha) and whose bits are all clear.
TEST(OtherWritersFiles, TargaAttributeBitsAreAlphaOnlyWhereTheFileSaysSo) {
    const QByteArray original = testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/tga_16bit_attribute_bit_undefined.tga"));
    const QImage expected = platform::readImage(dataFile("tga_16bit_attribute_bit_undefined.ref.png"));
    ASSERT_EQ(original.right(18), QByteArray("TRUEVISION-XFILE.\0", 18));
    const qsizetype extension = qFromLittleEndian<quint32>(original.constData() + original.size() - 26);
    ASSERT_EQ(int(uchar(original[extension + 494])), 2);
    const auto withType = [&](int type) {
        QByteArray b = original;
        b[extension + 494] = char(type);
        return b;
    };
    QByteArray offsetPastEnd = original;
    qToLittleEndian<quint32>(quint32(original.size()), offsetPastEnd.data() + original.size() - 26);
    const QByteArray noFooter = original.left(original.size() - 26);
    QByteArray someBitsSet = noFooter;
    for (int x = 0; x < 128; ++x) someBitsSet[44 + 2 * x + 1] = char(uchar(someBitsSet[44 + 2 * x + 1]) | 0x80);  // the last row
    struct Case {
        const char* what;
        QByteArray bytes;
        int alphaTopRow, alphaBottomRow;
    } cases[] = {
        {"type 2, kept", original, 255, 255},
        {"type 0, none", withType(0), 255, 255},
        {"type 3, alpha", withType(3), 0, 0},
        {"type 4, premultiplied alpha", withType(4), 0, 0},
        {"extension area past the file", offsetPastEnd, 255, 255},
        {"no footer, every bit clear", noFooter, 255, 255},
        {"no footer, the bottom row's bits set", someBitsSet, 0, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QImage image = platform::readImageFromData(c.bytes, {}, QStringLiteral("utc16.tga"));
        ASSERT_EQ(image.size(), QSize(128, 128));
        EXPECT_EQ(qAlpha(image.pixel(5, 0)), c.alphaTopRow);
        EXPECT_EQ(qAlpha(image.pixel(5, 127)), c.alphaBottomRow);
        if (c.alphaTopRow == 255) {
            EXPECT_GE(testsupport::psnr(image, expected), 40.0);
        }
        EXPECT_EQ(platform::readImageHeaderFromData(c.bytes, QStringLiteral("utc16.tga")).width, 128);
    }
}

// CMYK TIFFs with alpha, as ImageMagick writes them (unassociated, and associated: inks
// multiplied by alpha): the transparency comes through the CMYK conversion, and the two
// give the same picture. A red patch, a blue one at half opacity, a white one and a
// transparent one.
TEST(OtherWritersFiles, CmykTiffsKeepTheirAlpha) {
    const QImage unassociated = platform::readImage(dataFile("tiff_cmyk_unassociated_alpha_imagemagick.tif"));
    const QImage associated = platform::readImage(dataFile("tiff_cmyk_associated_alpha_imagemagick.tif"));
    for (const QImage& image : {unassociated, associated}) {
        ASSERT_EQ(image.size(), QSize(48, 32));
        const QRgb red = qUnpremultiply(image.pixel(5, 5)), half = qUnpremultiply(image.pixel(30, 5)),
                   white = qUnpremultiply(image.pixel(5, 20));
        EXPECT_EQ(qAlpha(red), 255);
        EXPECT_GT(qRed(red), 180);
        EXPECT_LT(qGreen(red), 60);
        EXPECT_NEAR(qAlpha(half), 128, 1);
        EXPECT_GT(qBlue(half), 180);
        EXPECT_LT(qRed(half), 60);
        EXPECT_EQ(white, qRgb(255, 255, 255));
        EXPECT_EQ(qAlpha(image.pixel(30, 20)), 0);
    }
    for (const QPoint at : {QPoint(5, 5), QPoint(30, 5), QPoint(5, 20)}) {
        const QRgb a = qUnpremultiply(unassociated.pixel(at)), b = qUnpremultiply(associated.pixel(at));
        EXPECT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)), 6)
            << at.x() << "," << at.y() << std::hex << " " << a << " " << b;
    }
}
