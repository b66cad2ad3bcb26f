#include "engine/ImageProcessing.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <thread>
#include <gtest/gtest.h>

using testsupport::premul;
using testsupport::samePixels;
using testsupport::uprightReference;

namespace {

QString writePhoto(const QTemporaryDir& dir, const QString& name, const QImage& stored, int orientation,
                   platform::ImageType type = platform::ImageType::PNG) {
    const QString path = dir.filePath(name);
    QVariantMap props;
    if (orientation > 0) props = {{"Orientation", orientation}, {"{TIFF}", QVariantMap{{"Orientation", orientation}}}};
    EXPECT_TRUE(platform::writeImageFile(path, stored, type, 0.95, props));
    return path;
}

}  // namespace

TEST(Loading, EveryOrientationLoadsUprightPixelForPixel) {
    QTemporaryDir dir;
    const QImage stored = premul(testsupport::gradientImage(40, 24));
    Utils& u = Utils::sharedUtils();
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const QString path = writePhoto(dir, QString("o%1.png").arg(o), stored, o);
        const QImage expected = uprightReference(stored, o);
        EXPECT_EQ(u.getImageOriginalSizeAtFilePathUrl(path), QSizeF(expected.size()));
        EXPECT_TRUE(samePixels(u.getImageWithFixedOrientionFromUrl(path), expected));
        // The way back: turning the upright picture into the tag's layout gives the stored one.
        EXPECT_TRUE(samePixels(RotateWithEXIF(expected, o), stored));
    }
    // A file with no orientation at all loads as stored.
    EXPECT_TRUE(samePixels(u.getImageWithFixedOrientionFromUrl(writePhoto(dir, "none.png", stored, 0)), stored));
    EXPECT_TRUE(u.getImageWithFixedOrientionFromUrl(dir.filePath("missing.png")).isNull());
    EXPECT_TRUE(u.getImageWithFixedOrientionFromUrl(testsupport::writeFile(dir.filePath("bad.jpg"), "\xFF\xD8\xFF junk")).isNull());
}

TEST(Loading, RequestedSizeAppliesOnlyToTurnedPhotos) {
    QTemporaryDir dir;
    const QImage stored = testsupport::quadrantImage(400, 300);
    const QString turned = writePhoto(dir, "six.jpg", stored, 6, platform::ImageType::JPEG);
    const QString plain = writePhoto(dir, "one.jpg", stored, 1, platform::ImageType::JPEG);
    EXPECT_EQ(ImageProcessing::getImageFromFile(turned, 150, 200).size(), QSize(150, 200));
    EXPECT_EQ(ImageProcessing::getImageFromFile(plain, 150, 200).size(), QSize(400, 300));
    // No usable size to ask a thumbnail for: the whole photo comes back, still upright.
    const QImage whole = ImageProcessing::getImageFromFile(turned, 0, 0);
    ASSERT_EQ(whole.size(), QSize(300, 400));
    EXPECT_GT(qRed(whole.pixel(290, 10)), 240);  // the stored top-left red lands top-right
    EXPECT_LT(qBlue(whole.pixel(290, 10)), 20);
    // Thumbnails are as wide as the box, upright.
    Utils& u = Utils::sharedUtils();
    EXPECT_EQ(u.getThumbnailImageAtFilePath(turned, QSizeF(60, 60)).size(), QSize(60, 80));
    EXPECT_EQ(u.getThumbnailImageAtFilePath(plain, QSizeF(60, 60)).size(), QSize(60, 45));
    EXPECT_TRUE(u.getThumbnailImageAtFilePath(QString(), QSizeF(60, 60)).isNull());
}

TEST(Loading, GreyPhotosComeInAsColour) {
    QTemporaryDir dir;
    QImage grey(20, 10, QImage::Format_Grayscale8);
    grey.fill(90);
    const QString path = writePhoto(dir, "grey.png", grey, 0);
    const QImage loaded = Utils::sharedUtils().getImageWithFixedOrientionFromUrl(path);
    EXPECT_EQ(loaded.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(loaded.pixel(5, 5), qRgb(90, 90, 90));
}

TEST(Loading, FitAndFillSizes) {
    Utils& u = Utils::sharedUtils();
    struct { QSizeF source, box, expected; } fits[] = {
        {{4000, 3000}, {200, 200}, {200, 150}},
        {{3000, 4000}, {200, 200}, {150, 200}},
        {{100, 100}, {50, 80}, {50, 50}},
        {{0, 3000}, {200, 200}, {0, 0}},  // no division by zero
        {{4000, 3000}, {0, 0}, {0, 0}},
    };
    for (const auto& f : fits) EXPECT_EQ(u.getAspectFitModeSizeWithsize(f.source, f.box), f.expected);
    EXPECT_EQ(u.aspectFitSizeWithMaxSize(QSizeF(0, 0), 100), QSizeF(0, 0));
    EXPECT_EQ(u.aspectFitSizeWithMaxHeight(QSizeF(200, 100), 50), QSizeF(100, 50));

    // 128 x 170 into 128 x 100: mode 0 keeps the top, 1 the middle, 2 the bottom.
    QImage tall(128, 170, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < tall.height(); ++y)
        for (int x = 0; x < tall.width(); ++x) tall.setPixel(x, y, qRgb(y, 0, 0));
    for (auto [mode, firstRow] : {std::pair{0, 0}, {1, 35}, {2, 70}}) {
        const QImage filled = u.getAspectFillImageFormImage(tall, QSizeF(128, 100), mode);
        ASSERT_EQ(filled.size(), QSize(128, 100));
        EXPECT_EQ(qRed(filled.pixel(10, 0)), firstRow) << mode;
    }
    EXPECT_EQ(u.getAspectFillImageFormImage(tall, QSizeF(0, 100), 1).size(), tall.size());
    EXPECT_TRUE(u.getAspectFillImageFormImage(QImage(), QSizeF(10, 10), 1).isNull());
}

TEST(Loading, ScaleCropFlipAndOpacity) {
    Utils& u = Utils::sharedUtils();
    const QImage q = premul(testsupport::quadrantImage(40, 20));
    EXPECT_EQ(u.scaleImage(q, QSizeF(10, 30)).size(), QSize(10, 30));
    EXPECT_EQ(u.scaleImage(q, QSizeF(0, 30)).size(), q.size());
    // Y-up rectangles: the bottom-left quarter of the picture is its blue quadrant.
    const QImage bottomLeft = u.cropImage(q, QRectF(0, 0, 20, 10));
    ASSERT_EQ(bottomLeft.size(), QSize(20, 10));
    EXPECT_EQ(bottomLeft.pixel(3, 3), qRgb(0, 0, 255));
    EXPECT_EQ(u.cropImage(q, QRectF(0, 0, 0, 10)).size(), q.size());

    EXPECT_TRUE(ImageProcessing::resizeImage(q, 0, 10).isNull());
    EXPECT_EQ(ImageProcessing::resizeImage(q, 100, 50).size(), QSize(100, 50));
    EXPECT_TRUE(samePixels(ImageProcessing::flipImageVertically(ImageProcessing::flipImageVertically(q)), q));
    EXPECT_TRUE(samePixels(ImageProcessing::flipImageHorizontally(q), uprightReference(q, 2)));
    EXPECT_TRUE(samePixels(RotateImageWithFlip(q, true, true, 0), uprightReference(q, 3)));
    const QImage turned = RotateImageWithFlip(q, false, false, 30);
    EXPECT_EQ(turned.size(), QSize(int(40 * std::cos(M_PI / 6) + 20 * 0.5f), int(40 * 0.5f + 20 * std::cos(M_PI / 6))));

    EXPECT_TRUE(samePixels(u.getTransparentImageFromImage(q, 1.0f), q));
    const QImage clear = u.getTransparentImageFromImage(q, 0.0f);
    EXPECT_EQ(clear.size(), q.size());
    EXPECT_EQ(qAlpha(clear.pixel(5, 5)), 0);
    EXPECT_TRUE(u.getTransparentImageFromImage(QImage(), 0.5f).isNull());
    const QImage bw = ImageProcessing::convertOriginalImageToBWImage(q);
    EXPECT_EQ(bw.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(bw.pixelColor(35, 15), QColor(255, 255, 255));
}

TEST(Loading, RunFigures) {
    Utils& u = Utils::sharedUtils();
    struct { qint64 seconds; const char* text; } times[] = {
        {0, ""}, {45, " 45 seconds"}, {1, " 1 second"}, {61, " 1 minute 1 second"},
        {120, " 2 minutes 0 seconds"}, {3600, "1 hour 0 minutes 0 seconds"}, {7322, "2 hours 2 minutes 2 seconds"},
    };
    for (const auto& t : times) EXPECT_EQ(u.timeFormattedString(t.seconds), QString(t.text)) << t.seconds;

    auto& steps = AppDelegate::shared().arrayAppliedFilters;
    const auto saved = steps;
    steps.clear();
    EXPECT_EQ(Utils::totalBatchStepsApplied(), 0);
    for (bool on : {true, false, true}) {
        auto step = std::make_shared<AppliedFilter>();
        step->isApplied = on;
        steps.append(step);
    }
    EXPECT_EQ(Utils::totalBatchStepsApplied(), 2);
    steps = saved;

    const QRectF r(1, 2, 3, 4);
    EXPECT_EQ(u.cgRectWithCiVector(u.ciVectorWithCGRect(r)), r);
}

TEST(Loading, FitAndCoverWithAlignment) {
    struct { QSizeF size, box, fit, cover; } sizes[] = {
        {{400, 200}, {100, 100}, {100, 50}, {200, 100}},
        {{200, 400}, {100, 100}, {50, 100}, {100, 200}},
        {{300, 300}, {100, 60}, {60, 60}, {100, 100}},
        {{0, 300}, {100, 60}, {0, 0}, {0, 0}},
    };
    for (const auto& s : sizes) {
        EXPECT_EQ(NiceScaling::scaledSizeToFitSize(s.size, s.box), s.fit);
        EXPECT_EQ(NiceScaling::scaledSizeToCoverSize(s.size, s.box), s.cover);
    }
    // A tall picture, red on top and blue below, covering a square box.
    QImage tall(20, 40, QImage::Format_ARGB32_Premultiplied);
    tall.fill(Qt::blue);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) tall.setPixel(x, y, qRgb(255, 0, 0));
    for (auto [align, colour] : {std::pair{1, qRgb(255, 0, 0)}, {5, qRgb(0, 0, 255)}, {6, qRgb(0, 0, 255)}}) {
        const QImage c = NiceScaling::scaledImageToCoverSize(tall, QSizeF(20, 20), 1, false, align);
        ASSERT_EQ(c.size(), QSize(20, 20));
        EXPECT_EQ(c.pixel(10, 10), colour) << align;
    }
    const QImage fitted = NiceScaling::scaledImageToFitSize(tall, QSizeF(40, 40), 1, true);
    EXPECT_EQ(qAlpha(fitted.pixel(2, 20)), 0);  // outside the fitted rectangle
    EXPECT_EQ(fitted.pixel(20, 5), qRgb(255, 0, 0));
    EXPECT_TRUE(NiceScaling::scaledImageToFitSize(tall, QSizeF(0, 40)).isNull());
}

TEST(Loading, KnownPropertiesAnswerForTheirPathOnTheirThreadOnly) {
    QTemporaryDir dir;
    const QImage stored = premul(testsupport::gradientImage(40, 24));
    const QString turned = writePhoto(dir, "turned.png", stored, 6);
    const QString plain = writePhoto(dir, "plain.png", stored, 1);
    Utils& u = Utils::sharedUtils();
    const QVariantMap read = ImageProcessing::exifForFile(turned);
    ASSERT_EQ(read.value("Orientation").toInt(), 6);
    {
        const ImageProcessing::KnownProperties known(turned, read);
        // The file changes (another orientation, another size) after its properties were
        // read: the photo in hand keeps what was read, as one reading of it would.
        writePhoto(dir, "turned.png", premul(testsupport::gradientImage(30, 30)), 3);
        EXPECT_EQ(ImageProcessing::exifForFile(turned), read);
        EXPECT_EQ(u.getImageOriginalSizeAtFilePathUrl(turned), QSizeF(24, 40));
        {
            // An inner one for another file leaves the outer one answering for its own.
            const ImageProcessing::KnownProperties other(plain, QVariantMap{{"Orientation", 8}});
            EXPECT_EQ(ImageProcessing::exifForFile(plain).value("Orientation").toInt(), 8);
            EXPECT_EQ(ImageProcessing::exifForFile(turned), read);
        }
        EXPECT_EQ(ImageProcessing::exifForFile(plain).value("Orientation").toInt(), 1);
        // Other threads read the file.
        QVariantMap elsewhere;
        std::thread([&] { elsewhere = ImageProcessing::exifForFile(turned); }).join();
        EXPECT_EQ(elsewhere.value("Orientation").toInt(), 3);
    }
    EXPECT_EQ(ImageProcessing::exifForFile(turned).value("Orientation").toInt(), 3);
    EXPECT_EQ(u.getImageOriginalSizeAtFilePathUrl(turned), QSizeF(30, 30));
}

// A photo whose picture cannot be made says so in the log on a line of its own, as every
// log line is: glued to the next line, it hid that line's time.
TEST(Loading, APhotoThatCannotBeReadIsLoggedOnALineOfItsOwn) {
    QTemporaryDir dir;
    const QString cut = dir.filePath("cut.jpg");
    const QByteArray whole = testsupport::sourceBytes("tests/platform/imageio/data/jpeg_cjpeg.jpg");
    testsupport::writeFile(cut, whole.left(whole.size() / 4));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Utils::sharedUtils().loadImageWithFixedOrientionFromUrl(cut).ok());
    EXPECT_TRUE(Utils::sharedUtils().getImageWithFixedOrientionFromUrl(cut).isNull());
    const QString written = QString::fromStdString(testing::internal::GetCapturedStderr());
    ASSERT_TRUE(written.endsWith(u'\n')) << written.toStdString();
    const QRegularExpression logLine(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} BriskoPhotos\\[\\d+\\] "));
    for (const QString& line : written.split(u'\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(logLine.match(line).hasMatch()) << line.toStdString();
}
