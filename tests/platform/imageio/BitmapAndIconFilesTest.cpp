// Bitmaps and icons as their writers meant them, or refused: public test files, files
// ImageMagick and icoutils wrote, and those files with one field or code changed as each
// case says. Every picture handed on is the file's; what the file does not define is
// damage, except the pixels a run-length bitmap skips, which are transparent.
#include "platform/imageio/ImageIO.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using platform::DecodeFailure;

namespace {

QByteArray bitmapSample(const char* name) {
    return testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name));
}

QImage bitmapReference(const char* name) {
    return QImage(testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name)))
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The bytes decoded as the run decodes a file of this name.
platform::DecodeResult decodeBitmapBytes(const QByteArray& bytes, const QString& name = QStringLiteral("sample.bmp")) {
    QTemporaryDir dir;
    return platform::decodeImage(testsupport::writeFile(dir.filePath(name), bytes));
}

QByteArray withLe32(QByteArray bytes, qsizetype at, quint32 value) {
    qToLittleEndian<quint32>(value, bytes.data() + at);
    return bytes;
}

QByteArray withBytes(QByteArray bytes, qsizetype at, const QByteArray& replacement) {
    bytes.replace(at, replacement.size(), replacement);
    return bytes;
}

int transparentPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) == 0;
    return count;
}

// ImageMagick's 16 x 12 run-length (RLE8) bitmap: each stored row is "08 c 08 d 00 00",
// eight pixels of colour c, eight of d and an end of line, bottom row first (black and
// blue, then six rows of red and white), and an end of the bitmap "00 01" after the last.
constexpr qsizetype kRle8Codes = 1078;
const QByteArray kRle8BottomRow("\x08\x00\x08\x02\x00\x00", 6);

// An RLE4 bitmap of 16 grey levels (colour i is i * 0x11) with these codes.
QByteArray rle4Bitmap(quint32 width, quint32 height, const QByteArray& codes) {
    QByteArray file(118, '\0');
    file[0] = 'B', file[1] = 'M';
    file = withLe32(file, 2, quint32(file.size() + codes.size()));
    file = withLe32(file, 10, 118);
    file = withLe32(file, 14, 40);
    file = withLe32(file, 18, width);
    file = withLe32(file, 22, height);
    file = withLe32(file, 26, 1 | 4 << 16);  // one plane, 4 bits a pixel
    file = withLe32(file, 30, 2);            // RLE4
    file = withLe32(file, 34, quint32(codes.size()));
    file = withLe32(file, 46, 16);
    for (int i = 0; i < 16; ++i) file = withLe32(file, 54 + 4 * i, quint32(i * 0x111111));
    return file + codes;
}

// A 253-byte RLE4 bitmap as a fuzzer found it: a 118-byte header and 16-colour palette
// declaring 2554 x 18803 pixels, then 135 bytes of codes: five rows of colour 1 (ten runs
// of 255 pixels, one of 4, an end of line), seven more runs of 255, one stray byte, and
// no end of the bitmap.
QByteArray tinyRle4DeclaringMegapixels() {
    QByteArray codes;
    for (int row = 0; row < 5; ++row) {
        for (int i = 0; i < 10; ++i) codes += QByteArray("\xFF\x11", 2);
        codes += QByteArray("\x04\x11\x00\x00", 4);
    }
    for (int i = 0; i < 7; ++i) codes += QByteArray("\xFF\x11", 2);
    codes += QByteArray(1, '\0');
    return rle4Bitmap(2554, 18803, codes);
}

}  // namespace

// A pixel offset that points into the colour table the header counts cannot be right: the
// pixels are read from the table's end. The BMP suite's 8-bit picture with its offset set
// to 54 and its last byte cut: that byte is the last row's padding, so every pixel is there.
// A cut into the pixels themselves is damage.
TEST(BitmapFiles, PixelsOffsetIntoTheirColourTableAreReadFromItsEnd) {
    const QByteArray file = bitmapSample("bmp_offset_inside_palette.bmp");
    ASSERT_EQ(qFromLittleEndian<quint32>(file.constData() + 10), 54u);
    const platform::DecodeResult read = decodeBitmapBytes(file);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(testsupport::maxDiff(read.image, bitmapReference("bmp_offset_inside_palette_ref.png")), 0);
    const platform::DecodeResult cut = decodeBitmapBytes(file.left(file.size() - 2));
    EXPECT_FALSE(cut.ok());
    EXPECT_EQ(cut.failure, DecodeFailure::Damaged);
}

// Data that run out before the picture does or run off it, pixels naming colours the
// palette lacks, and a colour count no file of this size holds: each is damage, said in
// words for the photo's status, never a picture partly made up.
TEST(BitmapFiles, DataThatRunOutOrRunOffThePictureAreDamage) {
    const QByteArray rle = bitmapSample("bmp_rle8_imagemagick.bmp");
    ASSERT_EQ(rle.mid(kRle8Codes, 6), kRle8BottomRow);
    ASSERT_EQ(rle.right(2), QByteArray("\x00\x01", 2));
    const QByteArray pal4 = bitmapSample("bmp_pal4_imagemagick.bmp");  // 4 bits, 16 colours counted
    ASSERT_EQ(qFromLittleEndian<quint32>(pal4.constData() + 46), 16u);
    const char* runsOff = "its run-length codes run off the picture";
    const char* endsEarly = "its data end before the picture does";
    const char* colours = "its pixels name colours its palette lacks";
    const struct {
        const char* name;
        QByteArray bytes;
        const char* why;
    } cases[] = {
        // The BMP suite's invalid file that tries to cause buffer overruns.
        {"the BMP suite's bad run lengths", bitmapSample("bmp_rle_undefined_pixels.bmp"), runsOff},
        {"a run of 9 where 8 end the row", withBytes(rle, kRle8Codes, "\x09"), runsOff},
        {"a jump 13 rows down a picture of 12", withBytes(rle, kRle8Codes, QByteArray("\x00\x02\x00\x0D", 4)), runsOff},
        {"a run after the last row", withBytes(rle, rle.size() - 2, QByteArray("\x01\x00", 2)), runsOff},
        {"codes cut inside the third row", rle.left(kRle8Codes + 15), endsEarly},
        {"a fuzzed 253-byte RLE4 file declaring 48 megapixels", tinyRle4DeclaringMegapixels(), endsEarly},
        {"an RLE4 run of 5 on a row of 3", rle4Bitmap(3, 1, QByteArray("\x05\x12\x00\x01", 4)), runsOff},
        {"run lengths naming colours 2 and 3 of 2 counted", withLe32(rle, 46, 2), colours},
        {"rows naming colours 2 and 3 of 2 counted", withLe32(pal4, 46, 2), colours},
        {"a colour count of 0xFF000006", withLe32(pal4, 46, 0xFF000006u), "it counts more colours than the file holds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::DecodeResult r = decodeBitmapBytes(c.bytes);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.failure, DecodeFailure::Damaged);
        EXPECT_EQ(r.detail, QStringLiteral("the bitmap is damaged: ") + QLatin1String(c.why));
    }
    ASSERT_EQ(tinyRle4DeclaringMegapixels().size(), 253);
    // An RLE4 row's last byte holds two pixels: a run of 4 may fill a row of 3.
    const QImage odd = decodeBitmapBytes(rle4Bitmap(3, 1, QByteArray("\x04\x12\x00\x01", 4))).image;
    ASSERT_EQ(odd.size(), QSize(3, 1));
    EXPECT_EQ(odd.pixel(0, 0), qRgb(0x11, 0x11, 0x11));
    EXPECT_EQ(odd.pixel(1, 0), qRgb(0x22, 0x22, 0x22));
    EXPECT_EQ(odd.pixel(2, 0), qRgb(0x11, 0x11, 0x11));
    // The files as their writer made them read whole.
    for (const QByteArray& whole : {rle, pal4}) {
        const QImage read = decodeBitmapBytes(whole).image;
        ASSERT_EQ(read.size(), QSize(16, 12));
        EXPECT_EQ(read.pixel(0, 0), qRgb(222, 0, 24));
        EXPECT_EQ(read.pixel(15, 0), qRgb(255, 255, 255));
        EXPECT_EQ(read.pixel(0, 11), qRgb(0, 0, 0));
        EXPECT_EQ(read.pixel(15, 11), qRgb(0, 96, 200));
    }
}

// A bitmap's embedded profile goes with its picture (its place counted from the
// information header): here one that swaps red and green, so red written to a type without
// profiles comes out green. One that does not fit in the file is left out; a linked one
// names a file, which is never opened.
TEST(BitmapFiles, AnEmbeddedProfileGoesWithThePicture) {
    const QByteArray file = bitmapSample("bmp_v5_swapped_profile_imagemagick.bmp");
    ASSERT_EQ(file.mid(14 + 56, 4), QByteArray("DEBM"));  // 'MBED', little-endian
    const quint32 offset = qFromLittleEndian<quint32>(file.constData() + 14 + 112);
    const quint32 size = qFromLittleEndian<quint32>(file.constData() + 14 + 116);
    const QByteArray profile = file.mid(14 + offset, size);
    ASSERT_EQ(profile.mid(36, 4), QByteArray("acsp"));

    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("profiled.bmp")), file);
    EXPECT_EQ(platform::readImageHeader(path).iccProfile, profile);
    const QImage read = platform::readImage(path);
    ASSERT_EQ(read.size(), QSize(16, 12));
    EXPECT_EQ(read.pixel(0, 0), qRgb(222, 0, 24));  // the stored values
    EXPECT_EQ(platform::imageProfile(read), profile);
    const QImage asBmp = platform::readImageFromData(platform::encodeImage(read, platform::ImageType::BMP, 1.0));
    EXPECT_LT(qRed(asBmp.pixel(0, 0)), 40);
    EXPECT_GT(qGreen(asBmp.pixel(0, 0)), 190);

    const QByteArray past = withLe32(file, 14 + 116, quint32(file.size()));
    const QByteArray linked = withBytes(file, 14 + 56, QByteArray("KNIL"));
    for (const QByteArray& without : {past, linked}) {
        const QString other = testsupport::writeFile(dir.filePath(QStringLiteral("other.bmp")), without);
        const QImage otherRead = platform::readImage(other);
        ASSERT_EQ(otherRead.size(), QSize(16, 12));
        EXPECT_EQ(otherRead.pixel(0, 0), qRgb(222, 0, 24));
        EXPECT_TRUE(platform::imageProfile(otherRead).isEmpty());
        EXPECT_TRUE(platform::readImageHeader(other).iccProfile.isEmpty());
    }
}

// Icons and cursors give their largest picture, of equal sizes the deepest, with its
// transparency: a 24-bit picture's mask (image-rs' test file, 45 % of it transparent), a
// 32-bit picture's alpha, a picture whose bitmap header is the 124-byte one, a PNG picture.
// The 8-bit and 32-bit pictures of one size differ where the alpha is 129: the 8-bit
// one's mask can only keep such pixels or drop them.
TEST(IconFiles, TheLargestThenDeepestPictureIsReadWithItsTransparency) {
    const QImage icotool32 = decodeBitmapBytes(bitmapSample("ico_sizes_and_depths_icotool.ico"), "a.ico").image;
    ASSERT_EQ(icotool32.size(), QSize(32, 32));
    EXPECT_EQ(qUnpremultiply(icotool32.pixel(0, 0)), qRgb(222, 0, 24));
    EXPECT_EQ(qAlpha(icotool32.pixel(22, 18)), 129);
    EXPECT_EQ(icotool32.pixel(20, 30), 0u);
    EXPECT_EQ(transparentPixels(icotool32), 16 * 4);

    const struct {
        const char* file;
        QSize size;
        QImage expected;
    } cases[] = {
        {"ico_24bit_and_mask.ico", {32, 32}, bitmapReference("ico_24bit_and_mask_ref.png")},
        // ImageMagick's 32-bit bitmap of the same picture, without its file header, its
        // height doubled and the mask of its transparent pixels added, as an icon's picture.
        {"ico_v5_header_imagemagick.ico", {32, 32}, icotool32},
        {"cur_icotool.cur", {32, 32}, icotool32},
        {"ico_png_entry_icotool.ico", {64, 64}, QImage()},  // 16 x 16 bitmap and 64 x 64 PNG
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QByteArray bytes = bitmapSample(c.file);
        const platform::ImageHeader header = platform::readImageHeaderFromData(bytes);
        EXPECT_EQ(header.format, platform::ImageFormat::ICO);
        EXPECT_EQ(QSize(header.width, header.height), c.size);
        const QImage read = decodeBitmapBytes(bytes, QLatin1String(c.file)).image;
        ASSERT_EQ(read.size(), c.size);
        EXPECT_EQ(read.format(), QImage::Format_ARGB32_Premultiplied);
        if (!c.expected.isNull()) { EXPECT_EQ(testsupport::maxDiff(read, c.expected), 0); }
    }
    const QImage masked = decodeBitmapBytes(bitmapSample("ico_24bit_and_mask.ico"), "b.ico").image;
    EXPECT_NEAR(transparentPixels(masked) / 1024.0, 0.45, 0.01);

    // A 32-bit picture whose alpha is all zero, as older writers left it, takes its mask:
    // icoutils' cursor with every pixel's fourth byte cleared.
    QByteArray cursor = bitmapSample("cur_icotool.cur");
    const qsizetype pixels = qFromLittleEndian<quint32>(cursor.constData() + 6 + 12) + 40;
    for (qsizetype i = 0; i < 32 * 32; ++i) cursor[pixels + 4 * i + 3] = 0;
    const QImage zeroAlpha = decodeBitmapBytes(cursor, "d.cur").image;
    ASSERT_EQ(zeroAlpha.size(), QSize(32, 32));
    EXPECT_EQ(zeroAlpha.pixel(0, 0), qRgb(222, 0, 24));
    EXPECT_EQ(zeroAlpha.pixel(22, 18), qRgb(0, 96, 200));  // the mask keeps alpha 129
    EXPECT_EQ(zeroAlpha.pixel(20, 30), 0u);
    EXPECT_EQ(transparentPixels(zeroAlpha), 16 * 4);
}

// An icon's directory and pictures are checked against the file before anything is made.
TEST(IconFiles, ADirectoryOrPictureTheFileCannotHoldIsRefused) {
    const QByteArray ico = bitmapSample("ico_sizes_and_depths_icotool.ico");
    const qsizetype third = 6 + 2 * 16;  // the 32-bit picture's entry
    const quint32 at = qFromLittleEndian<quint32>(ico.constData() + third + 12);
    ASSERT_EQ(qFromLittleEndian<quint32>(ico.constData() + at), 40u);
    const struct {
        const char* name;
        QByteArray bytes;
        DecodeFailure failure;
    } cases[] = {
        {"a picture past the file's end", withLe32(ico, third + 12, quint32(ico.size())), DecodeFailure::Damaged},
        {"the file cut inside its last picture", ico.left(ico.size() - 100), DecodeFailure::Damaged},
        {"a picture inside the directory", withLe32(ico, 6 + 16 + 12, 6), DecodeFailure::Damaged},
        // 100,000 x 100,000 (the height counting the mask twice): past the budget.
        {"a picture declaring ten gigapixels",
         withLe32(withLe32(ico, at + 4, 100000), at + 8, 200000), DecodeFailure::OverBudget},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::DecodeResult r = decodeBitmapBytes(c.bytes, QStringLiteral("c.ico"));
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.failure, c.failure);
    }
}
