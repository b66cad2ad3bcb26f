#include "platform/imageio/ImageIO.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/TestSupport.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::ImageType;
using testsupport::runBounded;
using testsupport::sourceBytes;
using testsupport::sourcePath;

namespace {

QString data(const char* name) { return sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name)); }

platform::DecodeOptions reduced(int side) {
    platform::DecodeOptions o;
    o.minLongSide = side;
    return o;
}

}  // namespace

// Flipped bytes in a photo's entropy-coded data make libjpeg warn and go on with
// coloured bands; such a photo must be refused, whole or reduced. Stray bytes before a
// marker leave the pixels intact and are no reason to refuse it.
TEST(HostileFiles, DamagedJpegDataIsRefusedAndHarmlessWarningsAreNot) {
    const QImage clean = platform::readImage(data("clean.jpg"));
    ASSERT_FALSE(clean.isNull());
    // A run of set bits in the middle ("bad Huffman code"), and a cut that makes the
    // decoder meet the end marker early ("premature end of data segment").
    for (const char* damaged : {"damaged_bad_huffman_code.jpg", "damaged_data_ends_early.jpg"}) {
        SCOPED_TRACE(damaged);
        EXPECT_TRUE(platform::readImage(data(damaged)).isNull());
        EXPECT_TRUE(platform::readImage(data(damaged), reduced(24)).isNull());
        EXPECT_TRUE(platform::makeThumbnail(data(damaged), 32, 32).isNull());
        // The header is intact: the photo is listed, then fails when it is processed.
        EXPECT_TRUE(platform::readImageHeader(data(damaged)).valid());
    }

    const QImage stray = platform::readImage(data("stray_bytes_before_marker.jpg"));
    ASSERT_FALSE(stray.isNull());
    EXPECT_EQ(stray, clean);
}

// Files that declare far more than they hold must cost neither memory nor time: each is
// refused within a small budget, by the header reader, the decoder and the thumbnail
// path alike.
TEST(HostileFiles, DeclaredSizesCostNothingBeforeTheyAreChecked) {
    BRISKO_STARTS_A_PROCESS();
    struct Case {
        const char* file;
        long maxMb;
    } cases[] = {
        {"png_text_chunk_2gb.png", 48},           // a 44-byte PNG declaring a 2 GB text chunk
        {"png_text_chunk_2gb_padded.png", 48},    // the same with a few bytes of the chunk
        {"j2k_51453x227_16px_tiles.j2k", 48},     // 48,000 tiles of 16 x 16 in 105 bytes
        {"progressive_4098x32784.jpg", 48},       // 269 MB of coefficients for a thumbnail
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = data(c.file);
        const QByteArray bytes = sourceBytes(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(c.file));
        ASSERT_FALSE(bytes.isEmpty());
        const auto run = runBounded([&] {
            bool ok = platform::makeThumbnail(path, 64, 64).isNull();
            ok = platform::readImage(path, reduced(64)).isNull() && ok;
            ok = platform::readImageFromData(bytes).isNull() && ok;
            return ok;
        });
        EXPECT_TRUE(run.ok(c.maxMb)) << run.describe().toStdString();
    }
    // The header readers refuse what they cannot vouch for.
    EXPECT_FALSE(platform::readImageHeader(data("png_text_chunk_2gb.png")).valid());
    EXPECT_FALSE(platform::readImageHeader(data("j2k_51453x227_16px_tiles.j2k")).valid());
}

// Honest files of the same kinds still read: a PNG whose text chunk is large but whole,
// a JPEG 2000 in a few tiles, a small progressive JPEG whole and reduced.
TEST(HostileFiles, HonestFilesOfTheSameKindsStillRead) {
    QImage picture = testsupport::gradientImage(40, 30).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QByteArray png = platform::encodeImage(picture, ImageType::PNG, 1);
    ASSERT_FALSE(png.isEmpty());
    // A 1 MB text chunk right after the header.
    QByteArray text = QByteArray("Comment") + '\0' + QByteArray(1 << 20, 'x');
    QByteArray chunk;
    chunk.append(char(text.size() >> 24)).append(char(text.size() >> 16)).append(char(text.size() >> 8)).append(char(text.size()));
    chunk.append("tEXt").append(text).append(QByteArray(4, '\0'));  // libpng only warns on an ancillary CRC
    png.insert(33, chunk);
    EXPECT_EQ(platform::readImageFromData(png).size(), picture.size());
    EXPECT_TRUE(platform::readImageHeaderFromData(png).valid());

    const QByteArray jp2 = platform::encodeImage(picture, ImageType::JPEG2000, 1.0);
    EXPECT_EQ(platform::readImageFromData(jp2).size(), picture.size());

    QFile prog(data("progressive_4098x32784.jpg"));
    ASSERT_TRUE(prog.open(QIODevice::ReadOnly));
    QByteArray small = prog.readAll();
    // Back to the 8 x 8 it was encoded as.
    const qsizetype sof = small.indexOf(QByteArray("\xFF\xC2", 2));
    ASSERT_GT(sof, 0);
    small[sof + 5] = 0, small[sof + 6] = 8, small[sof + 7] = 0, small[sof + 8] = 8;
    EXPECT_EQ(platform::readImageFromData(small).size(), QSize(8, 8));
}

// A photo's colour profile reaches every output format that holds one and comes back
// with the picture read from it; a picture without one is written without.
TEST(HostileFiles, ColourProfilesTravelThroughEveryFormatThatHoldsOne) {
    QTemporaryDir dir;
    const QImage base = testsupport::gradientImage(24, 16).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (const auto named : {QColorSpace::DisplayP3, QColorSpace::AdobeRgb}) {
        QImage picture = base;
        picture.setColorSpace(QColorSpace(named));
        ASSERT_TRUE(picture.colorSpace().isValid());
        for (const auto& [type, ext] : {std::pair{ImageType::JPEG, "jpg"}, std::pair{ImageType::PNG, "png"},
                                       std::pair{ImageType::TIFF, "tif"}, std::pair{ImageType::JPEG2000, "jp2"}}) {
            SCOPED_TRACE(ext);
            const QString path = dir.filePath(QStringLiteral("p.") + QLatin1String(ext));
            // With metadata, so the properties writer has had the file too.
            ASSERT_TRUE(platform::writeImageFile(path, picture, type, 0.9, {{QStringLiteral("Orientation"), 1}}));
            EXPECT_EQ(platform::readImage(path).colorSpace(), QColorSpace(named));
            EXPECT_EQ(platform::readImage(path, reduced(4)).colorSpace(), QColorSpace(named));
            EXPECT_EQ(QColorSpace::fromIccProfile(platform::readImageHeader(path).iccProfile), QColorSpace(named));
            ASSERT_TRUE(platform::writeImageFile(path, base, type, 0.9));
            EXPECT_TRUE(platform::readImageHeader(path).iccProfile.isEmpty());
            EXPECT_FALSE(platform::readImage(path).colorSpace().isValid());
        }
    }
}
