#include "engine/Utils.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <cmath>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::colourError;
using testsupport::uprightReference;
using testsupport::worstPatchError;

namespace {

const QColor kPreviewColour(240, 140, 20);

}  // namespace

// The engine's loaders turn each kind exactly once: HEIF by its container (its EXIF tag
// saying the same is not applied again), WebP by its EXIF tag as a JPEG, camera raw as the
// camera recorded; sizes, full loads and thumbnails agree.
TEST(PhoneAndRawLoading, EachKindIsTurnedOnceByTheEngine) {
    QTemporaryDir dir;
    const QImage stored = testsupport::patchScene(96, 64);
    const QImage upright = uprightReference(stored, 6);
    testsupport::HeifSample heif;
    heif.orientation = 6;
    heif.exif = testsupport::exifBlock({{QStringLiteral("Exif.Image.Orientation"), 6}});
    testsupport::WebpSample webp;
    webp.lossless = true;
    webp.exif = heif.exif;
    testsupport::DngSample dng;
    dng.orientation = 6;
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"turned.heic", testsupport::makeHeif(stored, heif)},
        {"turned.webp", testsupport::makeWebp(stored, webp)},
        {"turned.dng", testsupport::makeDng(stored, dng)},
    };
    Utils& utils = Utils::sharedUtils();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QLatin1String(c.name)), c.bytes);
        EXPECT_EQ(utils.getImageOriginalSizeAtFilePathUrl(path), QSizeF(64, 96));
        const QImage loaded = utils.getImageWithFixedOrientionFromUrl(path);
        ASSERT_EQ(loaded.size(), upright.size());
        EXPECT_LE(worstPatchError(uprightReference(loaded, 8)), 8);
        const QImage thumb = utils.getThumbnailImageAtFilePath(path, QSizeF(32, 32));
        ASSERT_EQ(thumb.size(), QSize(32, 48));
        EXPECT_LE(testsupport::meanDiff(thumb, upright.scaled(32, 48, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)), 12.0);
    }
}

// A raw photo asked for smaller than it is comes from the preview the camera embedded:
// the effects screen's first picture and the grid's thumbnails show as fast as a JPEG's.
// At full size it is developed; for output shrunk by half or more it is developed at half
// size, never taken from the preview.
TEST(PhoneAndRawLoading, RawPhotosUseTheirPreviewForPicturesAndHalfSizeForShrunkOutput) {
    QTemporaryDir dir;
    const QImage scene = testsupport::patchScene(256, 128);
    testsupport::DngSample sample;
    QImage preview(128, 64, QImage::Format_RGB32);
    preview.fill(kPreviewColour);
    sample.preview = preview;
    sample.jpegPreview = true;
    const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("camera.dng")), testsupport::makeDng(scene, sample));
    Utils& utils = Utils::sharedUtils();

    const QImage shown = utils.getImageFromPath(path, QSizeF(100, 50));
    ASSERT_EQ(shown.size(), QSize(100, 50));
    EXPECT_LE(colourError(shown.pixel(50, 25), kPreviewColour), 16);

    const QImage full = utils.getImageWithFixedOrientionFromUrl(path);
    ASSERT_EQ(full.size(), scene.size());
    EXPECT_LE(worstPatchError(full), 6);

    const QImage shrunk = utils.getImageWithFixedOrientionFromUrl(path, QSize(100, 50));
    ASSERT_EQ(shrunk.size(), QSize(128, 64));
    EXPECT_LE(worstPatchError(shrunk), 6);
    // Less than half: no reduced load, the run develops the photo in full.
    EXPECT_TRUE(utils.getImageWithFixedOrientionFromUrl(path, QSize(200, 100)).isNull());
}

// A public conformance HEIF (1280 x 720 coded, cropped, turned and mirrored by its
// container, shown 360 x 640) whose 128 x 72 thumbnail carries the same properties, as
// MIAF asks: libheif gives the thumbnail's size after the primary's crop and turn, but its
// picture is small. The photo is its primary picture, as heif-convert decodes it, never
// the thumbnail enlarged; the thumbnail still serves a thumbnail it is large enough for.
TEST(PhoneAndRawLoading, AHeifThumbnailIsNeverTakenForThePhoto) {
    const QString path = testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/heif_clap_turn_thumbnail.heic"));
    const QImage whole = platform::readImage(path);  // heif-convert's pixels exactly
    ASSERT_EQ(whole.size(), QSize(360, 640));
    Utils& utils = Utils::sharedUtils();
    const platform::DecodeResult loaded = utils.loadImageWithFixedOrientionFromUrl(path);
    ASSERT_EQ(loaded.image.size(), whole.size());
    EXPECT_GE(testsupport::psnr(loaded.image, whole), 45.0);  // the thumbnail enlarged: 9.3 dB
    EXPECT_GE(testsupport::psnr(utils.getImageWithFixedOrientionFromUrl(path), whole), 45.0);
    const QImage thumb = platform::makeThumbnail(path, 64, 64);
    EXPECT_EQ(thumb.size(), QSize(36, 64));
}
