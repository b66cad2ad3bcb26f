#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::DngSample;
using testsupport::colourError;
using testsupport::makeDng;
using testsupport::worstPatchError;

namespace {

// A preview unlike the scene: orange on the left, purple on the right.
QImage twoColourPreview(int w, int h) {
    QImage preview(w, h, QImage::Format_RGB32);
    preview.fill(QColor(240, 140, 20));
    QPainter(&preview).fillRect(w / 2, 0, w - w / 2, h, QColor(120, 30, 160));
    return preview;
}

platform::DecodeOptions reducedForOutput(int side) {
    platform::DecodeOptions o;
    o.minLongSide = side;
    o.reducedForOutput = true;
    return o;
}

}  // namespace

// The sensor saw the scene through filters of unequal strength; developed with the
// neutral the camera recorded, into sRGB, the scene's colours come back.
TEST(RawCodec, DevelopsWithTheCamerasWhiteBalanceIntoSrgb) {
    struct Case {
        double gains[3];
        int black;
        int white;
    } cases[] = {
        {{1.0, 1.0, 1.0}, 0, 4095},
        {{0.5, 1.0, 0.8}, 256, 4095},
        {{0.9, 0.7, 0.45}, 1024, 16383},
    };
    const QImage scene = testsupport::patchScene(128, 64);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gains[0] << "/" << c.gains[1] << "/" << c.gains[2]);
        DngSample sample;
        std::copy(std::begin(c.gains), std::end(c.gains), sample.gains);
        sample.blackLevel = c.black;
        sample.whiteLevel = c.white;
        const QByteArray bytes = makeDng(scene, sample);
        ASSERT_FALSE(bytes.isEmpty());
        const platform::ImageHeader header = platform::readImageHeaderFromData(bytes);
        EXPECT_EQ(header.format, platform::ImageFormat::RAW);
        EXPECT_EQ(QSize(header.width, header.height), scene.size());
        EXPECT_EQ(header.orientation, 1);
        const QImage image = platform::readImageFromData(bytes);
        ASSERT_EQ(image.size(), scene.size());
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_LE(worstPatchError(image), 6);
    }
}

// Turned as the camera recorded: the picture comes out upright, its header and
// properties give the upright size and no turn left to apply.
TEST(RawCodec, TurnedAsTheCameraRecorded) {
    QTemporaryDir dir;
    const QImage stored = testsupport::patchScene(96, 64);
    for (int o : {2, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(o);
        DngSample sample;
        sample.orientation = o;
        const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("turned.dng")), makeDng(stored, sample));
        const QImage upright = testsupport::uprightReference(stored, o);
        const QImage image = testsupport::readUprightChecked(path, upright.size());
        ASSERT_FALSE(image.isNull());
        EXPECT_LE(worstPatchError(testsupport::uprightReference(image, o == 6 ? 8 : o == 8 ? 6 : o)), 6);
    }
}

// A picture of half the size or less is developed at half size (one pixel per filter
// block); a larger one in full.
TEST(RawCodec, HalfSizeDevelopmentWhenHalfIsEnough) {
    const QByteArray bytes = makeDng(testsupport::patchScene(128, 64));
    struct Case {
        int minLongSide;
        QSize expected;
    } cases[] = {{64, {64, 32}}, {30, {64, 32}}, {65, {128, 64}}, {0, {128, 64}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minLongSide);
        const QImage image = platform::readImageFromData(bytes, reducedForOutput(c.minLongSide));
        ASSERT_EQ(image.size(), c.expected);
        EXPECT_LE(worstPatchError(image), 6);
    }
}

// Thumbnails come from the preview the camera embedded (as a bitmap or a JPEG), turned
// like the photo, when it is large enough and shows the same frame; otherwise from the
// raw data.
TEST(RawCodec, ThumbnailsComeFromTheEmbeddedPreview) {
    QTemporaryDir dir;
    const QImage scene = testsupport::patchScene(128, 64);
    struct Case {
        bool jpeg;
        QSize preview;
        QSize box;
        bool fromPreview;
    } cases[] = {
        {false, {64, 32}, {40, 40}, true},  {true, {64, 32}, {40, 40}, true},  {true, {64, 32}, {64, 64}, true},
        {true, {64, 32}, {100, 100}, false},  // larger than the preview
        {true, {64, 48}, {40, 40}, false},    // another frame (4:3 of a 2:1 photo)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.jpeg << " " << c.box.width());
        DngSample sample;
        sample.orientation = 6;
        sample.preview = twoColourPreview(c.preview.width(), c.preview.height());
        sample.jpegPreview = c.jpeg;
        const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("preview.dng")), makeDng(scene, sample));
        const QImage thumb = platform::makeThumbnail(path, c.box.width(), c.box.height());
        const QSize expected = QSize(64, 128).scaled(c.box, Qt::KeepAspectRatio).boundedTo(QSize(64, 128));
        ASSERT_EQ(thumb.size(), expected);
        // Turned a quarter clockwise: the preview's left half is now the top.
        const QRgb top = thumb.pixel(thumb.width() / 2, thumb.height() / 8);
        const QRgb bottom = thumb.pixel(thumb.width() / 2, thumb.height() * 7 / 8);
        if (c.fromPreview) {
            EXPECT_LE(colourError(top, QColor(240, 140, 20)), 20);
            EXPECT_LE(colourError(bottom, QColor(120, 30, 160)), 20);
        } else {
            EXPECT_GT(colourError(top, QColor(240, 140, 20)), 40);
        }
    }
    // Of several pictures the smallest that is large enough: a thumbnail reads the small
    // RGB picture rather than decode the large preview.
    DngSample two;
    two.preview = twoColourPreview(128, 64);
    two.jpegPreview = true;
    two.smallPicture = QImage(64, 32, QImage::Format_RGB32);
    two.smallPicture.fill(QColor(20, 150, 220));
    const QString both = testsupport::writeFile(dir.filePath(QStringLiteral("two.dng")), makeDng(scene, two));
    const QImage small = platform::makeThumbnail(both, 40, 40);
    ASSERT_EQ(small.size(), QSize(40, 20));
    EXPECT_LE(colourError(small.pixel(20, 10), QColor(20, 150, 220)), 12);
    const QImage large = platform::makeThumbnail(both, 100, 100);
    ASSERT_EQ(large.size(), QSize(100, 50));
    EXPECT_LE(colourError(large.pixel(20, 25), QColor(240, 140, 20)), 20);

    // Output never takes the preview, however large it is.
    DngSample sample;
    sample.preview = twoColourPreview(128, 64);
    const QImage developed = platform::readImageFromData(makeDng(scene, sample), reducedForOutput(64));
    ASSERT_EQ(developed.size(), QSize(64, 32));
    EXPECT_LE(worstPatchError(developed), 6);
}

// The camera and the capture date reach the properties through Exiv2.
TEST(RawCodec, CameraAndCaptureDateReachTheProperties) {
    QTemporaryDir dir;
    DngSample sample;
    sample.make = QStringLiteral("Acme");
    sample.model = QStringLiteral("Sensor Two");
    sample.dateTimeOriginal = QStringLiteral("2018:12:31 23:00:01");
    const QString path =
        testsupport::writeFile(dir.filePath(QStringLiteral("meta.dng")), makeDng(testsupport::patchScene(64, 32), sample));
    ASSERT_FALSE(platform::readImage(path).isNull());
    const QVariantMap props = platform::readImageProperties(path);
    EXPECT_EQ(props.value(platform::kPropsTIFF).toMap().value(QStringLiteral("Make")).toString(), QStringLiteral("Acme"));
    EXPECT_EQ(props.value(platform::kPropsTIFF).toMap().value(QStringLiteral("Model")).toString(),
              QStringLiteral("Sensor Two"));
    EXPECT_EQ(props.value(platform::kPropsExif).toMap().value(QStringLiteral("DateTimeOriginal")).toString(),
              QStringLiteral("2018:12:31 23:00:01"));
    EXPECT_EQ(props.value(platform::kPropsPixelWidth).toInt(), 64);
    EXPECT_EQ(props.value(platform::kPropsColorModel).toString(), QStringLiteral("RGB"));
}

// Raw files are told by their bytes, TIFF-structured ones by their sensor directories; a
// plain TIFF stays a TIFF. A Sigma file (whose sensor no reader here develops) says why.
TEST(RawCodec, RawFilesAreToldByTheirBytes) {
    const QByteArray tiff = platform::encodeImage(testsupport::patchScene(64, 32), platform::ImageType::TIFF, 1.0);
    const QByteArray dng = makeDng(testsupport::patchScene(64, 32));
    DngSample withPreview;
    withPreview.preview = twoColourPreview(16, 8);
    const QByteArray dngWithPreview = makeDng(testsupport::patchScene(64, 32), withPreview);
    QByteArray cr2 = tiff;
    cr2[8] = 'C';
    cr2[9] = 'R';
    struct Case {
        const char* name;
        QByteArray bytes;
        platform::ImageFormat format;
    } cases[] = {
        {"plain TIFF", tiff, platform::ImageFormat::TIFF},
        {"DNG, sensor data in IFD0", dng, platform::ImageFormat::RAW},
        {"DNG, sensor data in a sub-IFD", dngWithPreview, platform::ImageFormat::RAW},
        {"CR2 signature", cr2, platform::ImageFormat::RAW},
        {"ORF", QByteArray("IIRO\x08\0\0\0", 8), platform::ImageFormat::RAW},
        {"RW2", QByteArray("IIU\0\x08\0\0\0", 8), platform::ImageFormat::RAW},
        {"RAF", QByteArray("FUJIFILMCCD-RAW 0201FF383501"), platform::ImageFormat::RAW},
        {"CR3", QByteArray("\0\0\0\x18" "ftypcrx \0\0\0\x01" "crx isom", 24), platform::ImageFormat::RAW},
        {"X3F", QByteArray("FOVb\0\0\x02\0", 8), platform::ImageFormat::RAW},
        {"MP4", QByteArray("\0\0\0\x18" "ftypisom\0\0\0\x01" "isomavc1", 24), platform::ImageFormat::Unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::sniffImageFormat(c.bytes.constData(), size_t(c.bytes.size())), c.format);
    }

    QTemporaryDir dir;
    const QString sigma = testsupport::writeFile(dir.filePath(QStringLiteral("a.x3f")), QByteArray("FOVb\0\0\x02\0", 8));
    const platform::DecodeResult x3f = platform::decodeImage(sigma);
    EXPECT_FALSE(x3f.ok());
    EXPECT_EQ(x3f.failure, platform::DecodeFailure::Unsupported);
    EXPECT_TRUE(x3f.detail.contains(QStringLiteral("Sigma X3F")));
    const QString readable = testsupport::writeFile(dir.filePath(QStringLiteral("a.dng")), dng);
    const platform::DecodeResult developed = platform::decodeImage(readable);
    EXPECT_TRUE(developed.ok());
    EXPECT_TRUE(developed.detail.isEmpty());
}

// Damaged raw data fails the photo; a file declaring an enormous sensor is refused before
// anything of that size is allocated.
TEST(RawCodec, DamagedAndOversizedFilesAreRefused) {
    BRISKO_STARTS_A_PROCESS();
    const QImage scene = testsupport::patchScene(128, 64);
    const QByteArray whole = makeDng(scene);
    ASSERT_FALSE(platform::readImageFromData(whole).isNull());
    // The sensor directory is IFD0 of these files (libtiff writes it after the data).
    const auto entryAt = [](const QByteArray& bytes, int wanted) -> qsizetype {
        const auto* d = reinterpret_cast<const uchar*>(bytes.constData());
        const quint32 ifd = quint32(d[4]) | quint32(d[5]) << 8 | quint32(d[6]) << 16 | quint32(d[7]) << 24;
        const int entries = d[ifd] | d[ifd + 1] << 8;
        for (int i = 0; i < entries; ++i) {
            const qsizetype e = qsizetype(ifd) + 2 + i * 12;
            if ((d[e] | d[e + 1] << 8) == wanted) return e;
        }
        return -1;
    };
    const auto setLong = [](QByteArray& bytes, qsizetype at, quint32 v) {
        for (int k = 0; k < 4; ++k) bytes[at + k] = char((v >> (8 * k)) & 0xFF);
    };

    // The sensor data starts so near the end of the file that it runs past it, as in a
    // file cut short during a copy.
    QByteArray cut = whole;
    const qsizetype offsets = entryAt(cut, 273);
    ASSERT_GT(offsets, 0);
    const auto* d = reinterpret_cast<const uchar*>(cut.constData());
    const quint32 list = quint32(d[offsets + 8]) | quint32(d[offsets + 9]) << 8 | quint32(d[offsets + 10]) << 16 |
                         quint32(d[offsets + 11]) << 24;
    const int strips = d[offsets + 4] | d[offsets + 5] << 8;
    ASSERT_GE(strips, 1);
    setLong(cut, qsizetype(list), quint32(whole.size()) - 1000);
    EXPECT_TRUE(platform::readImageFromData(cut).isNull());
    EXPECT_TRUE(platform::readImageFromData(cut, reducedForOutput(32)).isNull());
    // A file cut short loses its directories and is no picture at all.
    EXPECT_TRUE(platform::readImageFromData(whole.left(whole.size() / 2)).isNull());

    // The image width and length, rewritten to 60000 each.
    QByteArray huge = whole;
    for (int tag : {256, 257}) {
        const qsizetype e = entryAt(huge, tag);
        ASSERT_GT(e, 0);
        huge[e + 2] = 4;  // LONG
        huge[e + 3] = 0;
        setLong(huge, e + 8, 60000);
    }
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("huge.dng")), huge);
    const auto run = testsupport::runBounded([&] {
        return platform::readImageFromData(huge).isNull() && platform::makeThumbnail(path, 64, 64).isNull();
    });
    EXPECT_TRUE(run.ok(48)) << run.describe().toStdString();
}
