// One reader per format judges a file's header: the header read for thumbnails and the
// run, the properties the add screen lists a photo by, and the decode itself agree on
// every file, those the readers once judged two ways included. And every decoder says
// why it gives no picture: damage, or a coding it lacks.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>

using platform::DecodeFailure;

namespace {

QByteArray agreementSample(const char* name) {
    return testsupport::readFile(testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") +
                                                         QLatin1String(name)));
}

QByteArray cutTo(const QByteArray& bytes, double share) { return bytes.left(qsizetype(bytes.size() * share)); }

// A PNG chunk of the given type and data, its checksum right.
QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), chunk.data());
    chunk += QByteArray(type, 4) + data;
    const QByteArray body = chunk.mid(4);
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
                          crc.data());
    return chunk + crc;
}

// The entry of a tag in a little-endian TIFF's first directory.
qsizetype tiffEntry(const QByteArray& tiff, quint16 tag) {
    const auto* d = reinterpret_cast<const uchar*>(tiff.constData());
    const quint32 ifd = qFromLittleEndian<quint32>(d + 4);
    const quint16 count = qFromLittleEndian<quint16>(d + ifd);
    for (quint16 i = 0; i < count; ++i) {
        const qsizetype e = qsizetype(ifd) + 2 + qsizetype(i) * 12;
        if (qFromLittleEndian<quint16>(d + e) == tag) return e;
    }
    return -1;
}

// A Windows bitmap whose pixels are a JPEG file (compression 4, which printers take).
QByteArray bitmapHoldingJpeg(const QByteArray& jpeg, int width, int height) {
    QByteArray bmp(14 + 40, '\0');
    auto* p = reinterpret_cast<uchar*>(bmp.data());
    p[0] = 'B', p[1] = 'M';
    qToLittleEndian<quint32>(quint32(bmp.size() + jpeg.size()), p + 2);
    qToLittleEndian<quint32>(quint32(bmp.size()), p + 10);
    qToLittleEndian<quint32>(40, p + 14);
    qToLittleEndian<qint32>(width, p + 18);
    qToLittleEndian<qint32>(height, p + 22);
    qToLittleEndian<quint16>(1, p + 26);
    qToLittleEndian<quint16>(0, p + 28);  // the bits a pixel are the JPEG's own
    qToLittleEndian<quint32>(4, p + 30);
    qToLittleEndian<quint32>(quint32(jpeg.size()), p + 34);
    return bmp + jpeg;
}

QSize sizeOfProperties(const QVariantMap& props) {
    return QSize(props.value(platform::kPropsPixelWidth).toInt(), props.value(platform::kPropsPixelHeight).toInt());
}

}  // namespace

// Files the header readers once judged two ways: the header, the properties and the
// decode now give one answer. A picture that decodes has the size its header and its
// properties give; a file without a header has neither, and no picture.
TEST(OneHeaderReader, HeaderPropertiesAndDecodeGiveOneAnswer) {
    const QByteArray bmp = agreementSample("bmp3_imagemagick.bmp");  // 40-byte header, 24 bits
    // An OS/2 2.x header may stop after 16 bytes, its other fields zero: the same picture
    // with its header cut to 16 bytes and its pixels moved up.
    QByteArray os2Short = bmp.left(14) + bmp.mid(14, 16) + bmp.mid(14 + 40);
    qToLittleEndian<quint32>(16, os2Short.data() + 14);
    qToLittleEndian<quint32>(14 + 16, os2Short.data() + 10);
    qToLittleEndian<quint32>(quint32(os2Short.size()), os2Short.data() + 2);
    // A header size no bitmap has (2000 bytes): the properties once took it.
    QByteArray oddHeader = bmp;
    qToLittleEndian<quint32>(2000, oddHeader.data() + 14);
    // A 12-bit JPEG is no picture libjpeg-turbo reads: an 8-bit one with its frame header
    // saying 12 bits.
    const QByteArray jpeg = agreementSample("jpeg_cjpeg.jpg");
    QByteArray twelveBits = jpeg;
    twelveBits[twelveBits.indexOf(QByteArray("\xFF\xC0", 2)) + 4] = 12;

    const struct {
        const char* name;
        QByteArray bytes;
        QSize size;  // the one answer: a picture of this size, or none (empty)
        bool decodes;
    } cases[] = {
        {"OS/2 bitmap, 16-byte header", os2Short, QSize(40, 30), true},
        {"bitmap with a 2000-byte header", oddHeader, QSize(), false},
        // libjpeg steps over stray bytes before a marker; the properties' own walk did not.
        {"JPEG with stray bytes before a marker", agreementSample("stray_bytes_before_marker.jpg"), QSize(96, 64), true},
        // The lossless process and 12-bit samples: libjpeg-turbo's header reader refused
        // what the properties gave a size.
        {"lossless JPEG", agreementSample("jpeg_lossless_ffmpeg.jpg"), QSize(40, 30), false},
        {"12-bit JPEG", twelveBits, QSize(40, 30), false},
        {"arithmetic-coded JPEG", agreementSample("jpeg_arithmetic_cjpeg.jpg"), QSize(40, 30), true},
        // Five components: openjpeg's header was refused, the boxes gave a size.
        {"JPEG 2000 of five components", agreementSample("jp2_five_components_opj_compress.jp2"), QSize(16, 12), false},
        // BigTIFF (64-bit offsets): the properties read classic TIFF only, so the add refused
        // a photo the run reads.
        {"BigTIFF", agreementSample("tiff_bigtiff_tiffcp.tif"), QSize(40, 30), true},
        // A global colour table cut short: giflib refuses the header the properties took.
        {"GIF cut inside its colour table", agreementSample("gif_imagemagick.gif").left(40), QSize(), false},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("sample")), c.bytes);
        const platform::ImageHeader header = platform::readImageHeader(path);
        EXPECT_EQ(header.valid() ? QSize(header.width, header.height) : QSize(), c.size);
        EXPECT_EQ(sizeOfProperties(platform::readImageProperties(path)), c.size.isValid() ? c.size : QSize(0, 0));
        const platform::DecodeResult decoded = platform::decodeImage(path);
        EXPECT_EQ(decoded.ok(), c.decodes);
        if (c.decodes) { EXPECT_EQ(decoded.image.size(), c.size); }
        EXPECT_EQ(platform::isReadablePicture(path), c.size.isValid());
    }
}

// Each decoder tells damage from a coding it lacks, on files real programs wrote: cut
// short, or given a coding this program has no decoder for. A coding it lacks is named in
// words for the photo's status. GIF and WebP have no coding giflib and libwebp lack.
TEST(OneHeaderReader, EachDecoderSaysWhyItGivesNoPicture) {
    const QByteArray png = agreementSample("png_imagemagick.png");
    // A critical chunk libpng does not know (an extension of PNG newer than it) right
    // after the image header: a reader must not show the picture without it.
    const QByteArray pngNewChunk = png.left(33) + pngChunk("NWPX", QByteArray(4, '\1')) + png.mid(33);
    const QByteArray tiff = agreementSample("tiff_lzw_tiffcp.tif");
    // Compression 34712 is JPEG 2000 in TIFF (slide scanners write it); libtiff has no codec for it.
    QByteArray tiffJpeg2000 = tiff;
    const qsizetype compression = tiffEntry(tiff, 259);
    ASSERT_GT(compression, 0);
    qToLittleEndian<quint16>(34712, tiffJpeg2000.data() + compression + 8);
    const QByteArray webp = agreementSample("webp_cwebp.webp");
    QByteArray webpBrokenChunk = webp;
    qToLittleEndian<quint32>(0x7FFFFFF0u, webpBrokenChunk.data() + 16);  // the picture chunk's length

    const struct {
        const char* name;
        QByteArray bytes;
        DecodeFailure failure;
        const char* detail;  // words the status gives, when the kind needs them
    } cases[] = {
        {"JPEG cut short", cutTo(agreementSample("jpeg_cjpeg.jpg"), 0.6), DecodeFailure::Damaged, ""},
        {"lossless JPEG", agreementSample("jpeg_lossless_ffmpeg.jpg"), DecodeFailure::Unsupported, "lossless"},
        {"PNG cut short", cutTo(png, 0.6), DecodeFailure::Damaged, ""},
        {"PNG with a critical chunk of a kind unknown", pngNewChunk, DecodeFailure::Unsupported, "NWPX"},
        {"TIFF cut short", cutTo(tiff, 0.6), DecodeFailure::Damaged, ""},
        {"TIFF compressed as JPEG 2000", tiffJpeg2000, DecodeFailure::Unsupported, "compression 34712"},
        {"GIF cut short", cutTo(agreementSample("gif_imagemagick.gif"), 0.6), DecodeFailure::Damaged, ""},
        {"bitmap cut short", cutTo(agreementSample("bmp3_imagemagick.bmp"), 0.6), DecodeFailure::Damaged, ""},
        {"bitmap holding a JPEG", bitmapHoldingJpeg(agreementSample("jpeg_cjpeg.jpg"), 40, 30),
         DecodeFailure::Unsupported, "compressed"},
        {"JPEG 2000 cut short", cutTo(agreementSample("jp2_opj_compress.jp2"), 0.6), DecodeFailure::Damaged, ""},
        {"JPEG 2000 of five components", agreementSample("jp2_five_components_opj_compress.jp2"),
         DecodeFailure::Unsupported, "5 components"},
        {"WebP with a broken chunk", webpBrokenChunk, DecodeFailure::Damaged, ""},
        {"WebP cut short", cutTo(webp, 0.6), DecodeFailure::Damaged, ""},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::DecodeResult r =
            platform::decodeImage(testsupport::writeFile(dir.filePath(QStringLiteral("sample")), c.bytes));
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.failure, c.failure);
        if (c.failure == DecodeFailure::Unsupported) EXPECT_TRUE(r.detail.contains(QLatin1String(c.detail))) << r.detail.toStdString();
        else EXPECT_TRUE(r.detail.isEmpty()) << r.detail.toStdString();
    }
}
