#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <QColorSpace>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using platform::ImageFormat;
using testsupport::HeifSample;
using testsupport::colourError;
using testsupport::makeHeif;
using testsupport::worstPatchError;

namespace {

QString save(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    return testsupport::writeFile(dir.filePath(QLatin1String(name)), bytes);
}

// Makes the n-th slice (from 0) of a picture from makeHeif a unit of a type decoders pass
// over, as if the file had lost it: the file's media data holds only that picture's
// units, each after its length in four bytes.
bool loseSlice(QByteArray& heic, int n) {
    qsizetype at = heic.indexOf("mdat");
    if (at < 0) return false;
    const auto byte = [&](qsizetype i) { return uint32_t(uchar(heic[i])); };
    int slice = 0;
    for (at += 4; at + 6 <= heic.size(); at += 4 + qsizetype(byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3))) {
        const int type = int(byte(at + 4) >> 1) & 0x3F;
        if (type < 32 && slice++ == n) {
            heic[at + 4] = char((48 << 1) | (byte(at + 4) & 0x81));
            return true;
        }
    }
    return false;
}

// Leaves `value` in memory the heap hands out next: blocks of a small picture's plane
// sizes are written and freed, with a block after them (the one returned, to be freed
// by the caller) that keeps the heap from giving them back to the system.
void* leaveInFreedMemory(int value) {
    std::vector<void*> blocks;
    for (int i = 0; i < 64; ++i) {
        const size_t size = size_t(8192) * size_t(1 + i % 12);
        void* block = std::malloc(size);
        std::memset(block, value, size);
        asm volatile("" : : "r"(block) : "memory");  // the writes stay, though nothing reads them
        blocks.push_back(block);
    }
    void* fence = std::malloc(64);
    for (void* block : blocks) std::free(block);
    return fence;
}

}  // namespace

// Every coding and depth the phones and cameras write comes out at 8 bits with its
// colours: a deeper picture is scaled, not cut to its low or high byte.
TEST(HeifCodec, EachCodingAndDepthDecodesTo8BitsWithItsColours) {
    struct Case {
        bool av1;
        int bits;
        ImageFormat format;
    } cases[] = {
        {false, 8, ImageFormat::HEIF}, {false, 10, ImageFormat::HEIF}, {false, 12, ImageFormat::HEIF},
        {true, 8, ImageFormat::AVIF},  {true, 12, ImageFormat::AVIF},
    };
    const QImage scene = testsupport::patchScene(128, 64);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.av1 ? "AV1 " : "HEVC ") << c.bits << " bits");
        HeifSample sample;
        sample.av1 = c.av1;
        sample.bits = c.bits;
        const QByteArray bytes = makeHeif(scene, sample);
        ASSERT_FALSE(bytes.isEmpty());
        const platform::ImageHeader header = platform::readImageHeaderFromData(bytes);
        EXPECT_EQ(header.format, c.format);
        EXPECT_EQ(header.width, 128);
        EXPECT_EQ(header.height, 64);
        const QImage image = platform::readImageFromData(bytes);
        ASSERT_EQ(image.size(), scene.size());
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_LE(worstPatchError(image), 6);
        EXPECT_LE(testsupport::meanDiff(image, testsupport::premul(scene)), 3.0);
    }
}

// Every chroma layout HEVC has, at a size that is no multiple of its blocks, comes out at
// that size with its colours.
TEST(HeifCodec, EachChromaLayoutDecodesAtItsSizeWithItsColours) {
    const QImage scene = testsupport::patchScene(101, 37);
    for (const char* chroma : {"420", "422", "444"})
        for (int bits : {8, 10}) {
            SCOPED_TRACE(testing::Message() << chroma << ", " << bits << " bits");
            HeifSample sample;
            sample.bits = bits;
            sample.settings = {{"chroma", chroma}};
            const QImage image = platform::readImageFromData(makeHeif(scene, sample));
            ASSERT_EQ(image.size(), scene.size());
            EXPECT_LE(testsupport::meanDiff(image, testsupport::premul(scene)), 3.0);
        }
}

// A phone records its turn in the container (and often in the EXIF block as well): the
// picture comes out turned once, reports its upright size, and its properties carry no
// turn that would be applied a second time.
TEST(HeifCodec, TheContainerTurnIsAppliedOnceAndTheExifTagNotAgain) {
    QTemporaryDir dir;
    const QImage stored = testsupport::patchScene(96, 64);
    for (int o = 2; o <= 8; ++o) {
        SCOPED_TRACE(o);
        HeifSample sample;
        sample.orientation = o;
        sample.exif = testsupport::exifBlock({{QStringLiteral("Exif.Image.Orientation"), o}});
        const QString path = save(dir, "turned.heic", makeHeif(stored, sample));
        const QImage upright = testsupport::uprightReference(stored, o);
        const QImage image = testsupport::readUprightChecked(path, upright.size());
        ASSERT_FALSE(image.isNull());
        EXPECT_LE(testsupport::meanDiff(image, upright), 3.0);

        const QImage thumb = platform::makeThumbnail(path, 48, 48);
        ASSERT_FALSE(thumb.isNull());
        EXPECT_EQ(thumb.width() > thumb.height(), upright.width() > upright.height());
        EXPECT_LE(testsupport::meanDiff(thumb, upright.scaled(thumb.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
                  12.0);
    }
}

// Transparency survives as premultiplied pixels: clear stays clear, half-covered colour
// stays half-covered, and no colour exceeds its alpha.
TEST(HeifCodec, AlphaComesPremultiplied) {
    for (bool av1 : {false, true}) {
        SCOPED_TRACE(av1 ? "AVIF" : "HEIC");
        QImage picture(64, 48, QImage::Format_ARGB32);
        picture.fill(QColor(200, 60, 40, 255));
        QPainter p(&picture);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(0, 0, 32, 48, Qt::transparent);
        p.fillRect(32, 24, 32, 24, QColor(40, 60, 200, 128));
        p.end();
        HeifSample sample;
        sample.av1 = av1;
        const QImage image = platform::readImageFromData(makeHeif(picture, sample));
        ASSERT_EQ(image.size(), picture.size());
        EXPECT_LE(qAlpha(image.pixel(16, 24)), 3);
        EXPECT_GE(qAlpha(image.pixel(48, 12)), 252);
        const QRgb half = image.pixel(48, 36);
        EXPECT_NEAR(qAlpha(half), 128, 6);
        EXPECT_NEAR(qBlue(half), 200 * 128 / 255, 8);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb px = image.pixel(x, y);
                ASSERT_LE(std::max({qRed(px), qGreen(px), qBlue(px)}), qAlpha(px)) << x << "," << y;
            }
    }
}

// The picture's colours come with it: an ICC profile as it is, a description by code
// points as the matching profile, and BT.709 primaries (sRGB's own) as no profile.
TEST(HeifCodec, TheColourProfileOrDescriptionComesWithThePicture) {
    const QColorSpace p3(QColorSpace::Primaries::DciP3D65, QColorSpace::TransferFunction::SRgb);
    const QImage scene = testsupport::patchScene(64, 32);
    struct Case {
        const char* name;
        QByteArray icc;
        int nclx;
        bool expectP3;
    } cases[] = {
        {"ICC profile", QColorSpace(QColorSpace::DisplayP3).iccProfile(), 0, true},
        {"code points, P3", {}, 12, true},
        {"code points, BT.709", {}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeifSample sample;
        sample.icc = c.icc;
        sample.nclxPrimaries = c.nclx;
        const QByteArray bytes = makeHeif(scene, sample);
        const QImage image = platform::readImageFromData(bytes);
        ASSERT_FALSE(image.isNull());
        if (c.expectP3) {
            EXPECT_EQ(image.colorSpace().primaries(), p3.primaries());
            EXPECT_EQ(image.colorSpace().transferFunction(), p3.transferFunction());
            EXPECT_FALSE(platform::readImageHeaderFromData(bytes).iccProfile.isEmpty());
        } else {
            EXPECT_FALSE(image.colorSpace().isValid());
            EXPECT_TRUE(platform::readImageHeaderFromData(bytes).iccProfile.isEmpty());
        }
    }
}

// EXIF and XMP reach the same dictionary as a JPEG's do: camera, capture date, place,
// and what only XMP holds.
TEST(HeifCodec, ExifAndXmpReadLikeAJpegs) {
    QTemporaryDir dir;
    HeifSample sample;
    sample.exif = testsupport::exifBlock({
        {QStringLiteral("Exif.Image.Make"), QStringLiteral("Acme")},
        {QStringLiteral("Exif.Image.Model"), QStringLiteral("Phone 12")},
        {QStringLiteral("Exif.Photo.DateTimeOriginal"), QStringLiteral("2021:07:04 10:20:30")},
        {QStringLiteral("Exif.GPSInfo.GPSLatitudeRef"), QStringLiteral("N")},
        {QStringLiteral("Exif.GPSInfo.GPSLatitude"), QStringLiteral("48/1 30/1 0/1")},
    });
    sample.xmp = testsupport::xmpWithFirmware(QStringLiteral("1.2.3"));
    const QString path = save(dir, "meta.heic", makeHeif(testsupport::patchScene(64, 32), sample));
    const QVariantMap props = platform::readImageProperties(path);
    EXPECT_EQ(props.value(platform::kPropsTIFF).toMap().value(QStringLiteral("Make")).toString(), QStringLiteral("Acme"));
    EXPECT_EQ(props.value(platform::kPropsTIFF).toMap().value(QStringLiteral("Model")).toString(),
              QStringLiteral("Phone 12"));
    EXPECT_EQ(props.value(platform::kPropsExif).toMap().value(QStringLiteral("DateTimeOriginal")).toString(),
              QStringLiteral("2021:07:04 10:20:30"));
    EXPECT_DOUBLE_EQ(props.value(platform::kPropsGPS).toMap().value(QStringLiteral("Latitude")).toDouble(), 48.5);
    EXPECT_EQ(props.value(platform::kPropsExifAux).toMap().value(QStringLiteral("Firmware")).toString(),
              QStringLiteral("1.2.3"));
    EXPECT_EQ(props.value(platform::kPropsColorModel).toString(), QStringLiteral("RGB"));
    EXPECT_EQ(props.value(platform::kPropsDepth).toInt(), 8);
    EXPECT_FALSE(props.value(platform::kPropsHasAlpha).toBool());
}

// A thumbnail is made from the file's own small picture when that is large enough (here
// told apart by its colours), turned like the photo; otherwise from the photo itself.
TEST(HeifCodec, ThumbnailsUseTheEmbeddedThumbnailWhenItIsLargeEnough) {
    QTemporaryDir dir;
    QImage small(128, 64, QImage::Format_RGB32);  // stored at 64 x 32
    small.fill(QColor(0, 200, 0));
    QPainter(&small).fillRect(64, 0, 64, 64, QColor(0, 0, 220));
    HeifSample sample;
    sample.thumbnail = small;
    sample.orientation = 6;
    const QImage stored = testsupport::patchScene(256, 128);
    const QString path = save(dir, "thumb.heic", makeHeif(stored, sample));

    const QImage fromThumbnail = platform::makeThumbnail(path, 40, 40);
    ASSERT_EQ(fromThumbnail.size(), QSize(20, 40));
    // Turned a quarter clockwise: the thumbnail's left (green) half is now the top.
    EXPECT_LE(colourError(fromThumbnail.pixel(10, 8), QColor(0, 200, 0)), 24);
    EXPECT_LE(colourError(fromThumbnail.pixel(10, 32), QColor(0, 0, 220)), 24);

    const QImage fromPhoto = platform::makeThumbnail(path, 100, 100);
    ASSERT_EQ(fromPhoto.size(), QSize(50, 100));
    EXPECT_LE(testsupport::meanDiff(fromPhoto, testsupport::uprightReference(stored, 6).scaled(50, 100, Qt::IgnoreAspectRatio,
                                                                                            Qt::SmoothTransformation)),
              12.0);
}

// A cut file fails (the photo is reported, its file kept); a file that declares a huge
// picture is refused before anything of that size is allocated.
TEST(HeifCodec, DamagedAndOversizedFilesAreRefused) {
    BRISKO_STARTS_A_PROCESS();
    const QByteArray whole = makeHeif(testsupport::patchScene(128, 96));
    ASSERT_FALSE(platform::readImageFromData(whole).isNull());
    for (double kept : {0.9, 0.6, 0.3}) {
        SCOPED_TRACE(kept);
        const QByteArray cut = whole.left(qsizetype(whole.size() * kept));
        EXPECT_TRUE(platform::readImageFromData(cut).isNull());
    }

    // A profile whose curves give infinities (found by fuzzing) costs the photo its
    // profile's meaning, never the program.
    const QImage badProfile = platform::readImageFromData(
        testsupport::sourceBytes(QStringLiteral("tests/platform/imageio/data/avif_profile_curves_infinite.avif")));
    EXPECT_EQ(badProfile.size(), QSize(64, 48));

    // The image spatial extents property, rewritten to 60000 x 60000.
    QByteArray huge = whole;
    const qsizetype ispe = huge.indexOf("ispe");
    ASSERT_GT(ispe, 0);
    for (int k = 0; k < 2; ++k) {
        const qsizetype at = ispe + 8 + 4 * k;
        huge[at] = 0;
        huge[at + 1] = 0;
        huge[at + 2] = char(0xEA);
        huge[at + 3] = char(0x60);
    }
    QTemporaryDir dir;
    const QString path = save(dir, "huge.heic", huge);
    const auto run = testsupport::runBounded([&] {
        return platform::readImageFromData(huge).isNull() && platform::makeThumbnail(path, 64, 64).isNull();
    });
    EXPECT_TRUE(run.ok(48)) << run.describe().toStdString();
}

// A fuzzed conformance file whose HEVC stream breaks off: the decoder leaves most of the
// picture unwritten and says so only in a warning. The photo is refused as damaged
// however it is read, while its header still lists it.
TEST(HeifCodec, AStreamTheDecoderWarnsAboutIsRefusedAsDamaged) {
    const QString path = testsupport::sourcePath(QStringLiteral("bench/fuzz/corpus/read_only_formats/heic_damaged_hevc.heic"));
    const platform::ImageHeader header = platform::readImageHeader(path);
    EXPECT_EQ(QSize(header.width, header.height), QSize(2048, 2048));
    const platform::DecodeResult decoded = platform::decodeImage(path);
    EXPECT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.failure, platform::DecodeFailure::Damaged);
    EXPECT_EQ(decoded.detail, QStringLiteral("the picture in this HEIF file is damaged"));
    platform::DecodeOptions reduced;
    reduced.minLongSide = 512;
    EXPECT_TRUE(platform::readImage(path, reduced).isNull());
    EXPECT_TRUE(platform::makeThumbnail(path, 256, 256).isNull());
}

// A picture that lost a slice decodes without a word from its decoder, which never writes
// that part: whatever the memory it decodes into held before, the picture comes out the
// same (or is refused), never with that memory in it. (Coded without the sample-adaptive
// offset, which libde265 would apply to the lost part with settings it never read.)
TEST(HeifCodec, APictureThatLostASliceIsTheSameWhateverTheHeapHeld) {
    HeifSample sample;
    sample.settings = {{"x265:slices", "4"}, {"x265:sao", "0"}};
    QByteArray heic = makeHeif(testsupport::patchScene(256, 256), sample);
    ASSERT_TRUE(loseSlice(heic, 2));
    QImage decoded[2];
    const int stale[2] = {0x5A, 0xC3};
    for (int i = 0; i < 2; ++i) {
        void* fence = leaveInFreedMemory(stale[i]);
        decoded[i] = platform::readImageFromData(heic);
        std::free(fence);
    }
    EXPECT_EQ(decoded[0].isNull(), decoded[1].isNull());
    EXPECT_TRUE(decoded[0] == decoded[1]);
}
