#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <QColorSpace>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::makeWebp;
using testsupport::WebpSample;

namespace {

// Opaque patches on the left, transparent and half-covered ones on the right.
QImage halfTransparent(int w, int h) {
    QImage picture = testsupport::patchScene(w, h).convertToFormat(QImage::Format_ARGB32);
    QPainter p(&picture);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(w / 2, 0, w / 2, h / 2, Qt::transparent);
    p.fillRect(w / 2, h / 2, w / 2, h / 2, QColor(40, 60, 200, 128));
    return picture;
}

}  // namespace

// Lossy and lossless pictures, with and without alpha, come back at their size in
// premultiplied pixels within their loss.
TEST(WebpCodec, LossyAndLosslessWithAndWithoutAlpha) {
    struct Case {
        bool lossless;
        bool alpha;
        int maxError;  // lossy coding smears colour across the patches' edges
        double meanError;
    } cases[] = {
        {true, false, 0, 0.0}, {true, true, 1, 0.01}, {false, false, 120, 2.5}, {false, true, 120, 2.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.lossless ? "lossless" : "lossy") << (c.alpha ? " with alpha" : ""));
        const QImage picture = c.alpha ? halfTransparent(96, 64) : testsupport::patchScene(96, 64);
        WebpSample sample;
        sample.lossless = c.lossless;
        const QByteArray bytes = makeWebp(picture, sample);
        const platform::ImageHeader header = platform::readImageHeaderFromData(bytes);
        EXPECT_EQ(header.format, platform::ImageFormat::WebP);
        EXPECT_EQ(QSize(header.width, header.height), picture.size());
        const QImage image = platform::readImageFromData(bytes);
        ASSERT_EQ(image.size(), picture.size());
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_LE(testsupport::maxDiff(image, picture), c.maxError);
        EXPECT_LE(testsupport::meanDiff(image, picture), c.meanError);
        for (QPoint at : {QPoint(12, 16), QPoint(36, 16), QPoint(12, 48), QPoint(36, 48)})
            EXPECT_LE(testsupport::maxDiff(image.copy(QRect(at, QSize(1, 1))), picture.copy(QRect(at, QSize(1, 1)))), 6);
        if (c.alpha) {
            EXPECT_EQ(qAlpha(image.pixel(90, 4)), 0);
            EXPECT_NEAR(qAlpha(image.pixel(90, 60)), 128, 2);
        }
    }
}

// An animation shows its first frame, at the animation's size.
TEST(WebpCodec, AnAnimationGivesItsFirstFrame) {
    QImage first(40, 30, QImage::Format_ARGB32), second(40, 30, QImage::Format_ARGB32);
    first.fill(QColor(220, 30, 30));
    second.fill(QColor(30, 30, 220));
    const QByteArray bytes = testsupport::makeAnimatedWebp({first, second});
    ASSERT_FALSE(bytes.isEmpty());
    const QImage image = platform::readImageFromData(bytes);
    ASSERT_EQ(image.size(), QSize(40, 30));
    EXPECT_LE(testsupport::maxDiff(image, first), 8);
}

// The container's chunks: the ICC profile comes with the picture, the EXIF orientation
// turns it as in a JPEG (stored layout decoded, thumbnails upright), and the EXIF and XMP
// tags reach the properties.
TEST(WebpCodec, ProfileOrientationAndMetadataComeFromTheChunks) {
    QTemporaryDir dir;
    const QImage stored = testsupport::patchScene(96, 64);
    WebpSample sample;
    sample.lossless = true;
    sample.icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    sample.exif = testsupport::exifBlock({
        {QStringLiteral("Exif.Image.Orientation"), 6},
        {QStringLiteral("Exif.Image.Make"), QStringLiteral("Acme")},
        {QStringLiteral("Exif.Photo.DateTimeOriginal"), QStringLiteral("2020:02:29 23:59:58")},
    });
    sample.xmp = testsupport::xmpWithFirmware(QStringLiteral("4.5"));
    const QString path = testsupport::writeFile(dir.filePath(QStringLiteral("chunks.webp")), makeWebp(stored, sample));

    const platform::ImageHeader header = platform::readImageHeader(path);
    EXPECT_EQ(header.orientation, 6);
    EXPECT_EQ(header.iccProfile, sample.icc);
    const QImage image = platform::readImage(path);
    EXPECT_EQ(testsupport::maxDiff(image, stored), 0);
    EXPECT_EQ(image.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    const QImage thumb = platform::makeThumbnail(path, 64, 64);
    ASSERT_EQ(thumb.size(), QSize(43, 64));
    EXPECT_LE(testsupport::meanDiff(thumb, testsupport::uprightReference(stored, 6).scaled(43, 64, Qt::IgnoreAspectRatio,
                                                                                        Qt::SmoothTransformation)),
              10.0);

    const QVariantMap props = platform::readImageProperties(path);
    EXPECT_EQ(props.value(platform::kPropsOrientation).toInt(), 6);
    EXPECT_EQ(props.value(platform::kPropsTIFF).toMap().value(QStringLiteral("Make")).toString(), QStringLiteral("Acme"));
    EXPECT_EQ(props.value(platform::kPropsExif).toMap().value(QStringLiteral("DateTimeOriginal")).toString(),
              QStringLiteral("2020:02:29 23:59:58"));
    EXPECT_EQ(props.value(platform::kPropsExifAux).toMap().value(QStringLiteral("Firmware")).toString(),
              QStringLiteral("4.5"));
    EXPECT_EQ(props.value(platform::kPropsPixelWidth).toInt(), 96);
    EXPECT_FALSE(props.value(platform::kPropsProfileName).toString().isEmpty());
}

// A cut file fails rather than showing a part of the picture.
TEST(WebpCodec, ACutFileFails) {
    for (bool lossless : {false, true}) {
        WebpSample sample;
        sample.lossless = lossless;
        const QByteArray whole = makeWebp(testsupport::gradientImage(128, 96), sample);
        ASSERT_FALSE(platform::readImageFromData(whole).isNull());
        for (double kept : {0.95, 0.5}) {
            SCOPED_TRACE(testing::Message() << lossless << " " << kept);
            EXPECT_TRUE(platform::readImageFromData(whole.left(qsizetype(whole.size() * kept))).isNull());
        }
    }
}
