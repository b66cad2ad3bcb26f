// Photos from the wild: pictures turned and cropped by their container, crafted camera
// raw files, files cut short while they are read, and the one decode that says why a
// file gives no picture.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using platform::DecodeFailure;

namespace {

QString keptSample(const char* name) {
    return testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name));
}

QString fuzzSample(const char* name) {
    return testsupport::sourcePath(QStringLiteral("bench/fuzz/corpus/read_only_formats/") + QLatin1String(name));
}

QString writeDecodeSample(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    return testsupport::writeFile(dir.filePath(name), bytes);
}

}  // namespace

// Public AVIF samples whose container turns (irot) or crops (clap) the coded picture: the
// header, the properties and a thumbnail give the size the decode gives, upright.
TEST(ContainerTransforms, TurnedAndCroppedSamplesAgreeWithTheirDecode) {
    const struct {
        const char* file;
        QSize shown;
    } cases[] = {
        {"avif_rotate90.avif", QSize(722, 1024)},
        {"avif_crop.avif", QSize(385, 330)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = keptSample(c.file);
        const platform::ImageHeader header = platform::readImageHeader(path);
        EXPECT_EQ(QSize(header.width, header.height), c.shown);
        EXPECT_EQ(header.orientation, 1);  // nothing left to turn after the decode
        const QVariantMap props = platform::readImageProperties(path);
        EXPECT_EQ(QSize(props.value(platform::kPropsPixelWidth).toInt(), props.value(platform::kPropsPixelHeight).toInt()),
                  c.shown);
        const platform::DecodeResult decoded = platform::decodeImage(path);
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(decoded.image.size(), c.shown);
        const QImage thumb = platform::makeThumbnail(path, 100, 100);
        ASSERT_FALSE(thumb.isNull());
        EXPECT_NEAR(double(thumb.width()) / thumb.height(), double(c.shown.width()) / c.shown.height(), 0.02);
        EXPECT_LE(std::max(thumb.width(), thumb.height()), 100);
    }
}

// libheif allocates the stored planes before the container's crop: the budget holds for
// the stored size, not only the small shown one, and the refusal is a size, not damage.
TEST(ContainerTransforms, TheBudgetHoldsForTheStoredSizeOfACroppedPicture) {
    const QString path = keptSample("avif_crop.avif");  // 722 x 1024 stored, 385 x 330 shown
    platform::DecodeOptions small;
    small.pixelBudget = 400 * 1000;  // past the crop, short of the stored picture
    const platform::DecodeResult refused = platform::decodeImage(path, small);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.failure, DecodeFailure::OverBudget);

    platform::DecodeOptions enough;
    enough.pixelBudget = 800 * 1000;
    enough.decoderThreads = 0;
    const platform::DecodeResult decoded = platform::decodeImage(path, enough);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.image.size(), QSize(385, 330));
}

// Crafted raw files from the fuzzer: Kodak files on which LibRaw 0.20 writes past its
// thumbnail buffer, and a file whose model string makes it overflow a buffer while it
// identifies the camera, which glibc answers by aborting the process. Read every way the
// program reads a photo, each gives no picture, says it is damaged, and leaves this
// process running with its memory alone (the sanitizer build checks the latter).
TEST(CraftedRawFiles, EndUnreadableWhicheverWayTheyAreRead) {
    const struct {
        const char* name;
        bool headerReads;  // the Kodak files' damage lies past what identifying the camera reads
    } cases[] = {
        {"raw_kdc_thumb_overflow.kdc", true},
        {"raw_kdc_thumb_overflow_abort.kdc", true},
        {"raw_libraw_model_abort.3fr", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = fuzzSample(c.name);
        ASSERT_TRUE(QFile::exists(path));
        EXPECT_EQ(platform::readImageHeader(path).valid(), c.headerReads);
        const platform::DecodeResult full = platform::decodeImage(path);
        EXPECT_FALSE(full.ok());
        EXPECT_EQ(full.failure, DecodeFailure::Damaged);
        EXPECT_EQ(full.detail, QStringLiteral("the camera raw file is damaged"));
        platform::DecodeOptions preview;
        preview.minLongSide = 48;
        EXPECT_TRUE(platform::readImage(path, preview).isNull());
        EXPECT_TRUE(platform::makeThumbnail(path, 96, 96).isNull());
        EXPECT_EQ(platform::readImageProperties(path).contains(platform::kPropsPixelWidth), c.headerReads);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_EQ(platform::readImageHeaderFromData(bytes).valid(), c.headerReads);
        EXPECT_TRUE(platform::readImageFromData(bytes).isNull());
    }
}

// What keeps a file from giving a picture, told by the decode that failed.
TEST(DecodeResults, SayWhyThereIsNoPicture) {
    QTemporaryDir dir;
    const QByteArray jpeg = platform::encodeImage(testsupport::gradientImage(64, 48), platform::ImageType::JPEG, 0.9);
    platform::DecodeOptions tiny;
    tiny.pixelBudget = 100;
    const struct {
        const char* what;
        QString path;
        platform::DecodeOptions options;
        DecodeFailure failure;
    } cases[] = {
        {"no file", dir.filePath("gone.jpg"), {}, DecodeFailure::Missing},
        {"no bytes", writeDecodeSample(dir, "empty.jpg", {}), {}, DecodeFailure::Empty},
        {"not a picture", writeDecodeSample(dir, "notes.jpg", "just some words"), {}, DecodeFailure::Unsupported},
        {"damaged", keptSample("damaged_bad_huffman_code.jpg"), {}, DecodeFailure::Damaged},
        {"too large", writeDecodeSample(dir, "whole.jpg", jpeg), tiny, DecodeFailure::OverBudget},
        {"a folder", dir.path(), {}, DecodeFailure::NotOpened},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const platform::DecodeResult r = platform::decodeImage(c.path, c.options);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.failure, c.failure);
    }
    const platform::DecodeResult fine = platform::decodeImage(writeDecodeSample(dir, "fine.jpg", jpeg));
    ASSERT_TRUE(fine.ok());
    EXPECT_EQ(fine.failure, DecodeFailure::None);
}

// A file cut short while it is read (a sync client rewriting it in place) fails that
// read only: the process goes on, the read says why, and the next read of the file as it
// is now works from its new bytes.
TEST(FilesCutWhileRead, FailThatReadOnly) {
    QTemporaryDir dir;
    const QImage scene = testsupport::patchScene(640, 480);
    QImage noisy = testsupport::gradientImage(640, 480);
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x)
            if ((x * 7 + y * 13) % 5 == 0) noisy.setPixel(x, y, qRgb((x * 31) & 255, (y * 17) & 255, (x ^ y) & 255));
    testsupport::HeifSample heic;
    heic.quality = 100;
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"photo.jpg", platform::encodeImage(noisy, platform::ImageType::JPEG, 1.0)},
        {"photo.png", platform::encodeImage(noisy, platform::ImageType::PNG, 1.0)},
        {"photo.heic", testsupport::makeHeif(noisy, heic)},
        {"photo.dng", testsupport::makeDng(scene)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.bytes.size(), 3 * 4096) << "too small to be cut past its first pages";
        const QString path = writeDecodeSample(dir, QString::fromLatin1(c.name), c.bytes);
        ASSERT_TRUE(platform::decodeImage(path).ok());

        platform::DecodeOptions options;
        options.whileOpen = [](const QString& p) {
            ASSERT_EQ(::truncate(QFile::encodeName(p).constData(), 4096), 0);
        };
        const platform::DecodeResult cut = platform::decodeImage(path, options);
        EXPECT_FALSE(cut.ok());
        EXPECT_EQ(cut.failure, DecodeFailure::ChangedWhileRead);
        // The file as it is now: a short one, read without faults.
        EXPECT_FALSE(platform::decodeImage(path).ok());
        platform::readImageHeader(path);
        platform::readImageProperties(path);
        platform::makeThumbnail(path, 64, 64);
    }
}
