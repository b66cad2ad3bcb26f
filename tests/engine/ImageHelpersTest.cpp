// The smaller image chores: histograms against hand counts, box averages, thumbnails at
// fixed sizes and the files they write.
#include "engine/ImageProcessing.h"
#include "engine/PngOptimiser.h"
#include "engine/Utils.h"
#include "records/CommonFunc.h"
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/coreimage/CIImage.h"
#include "platform/foundation/Values.h"
#include "tests/support/PackagedPictures.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// 10 x 4: a 4 x 4 block of (255, 0, 0), a 6 x 2 block of (0, 128, 255) and the rest
// (6 x 2) half-transparent (10, 20, 30, 128).
QImage counted() {
    QImage img(10, 4, QImage::Format_ARGB32);
    img.fill(qRgba(10, 20, 30, 128));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) img.setPixel(x, y, qRgba(255, 0, 0, 255));
    for (int y = 0; y < 2; ++y)
        for (int x = 4; x < 10; ++x) img.setPixel(x, y, qRgba(0, 128, 255, 255));
    return img;
}

}  // namespace

TEST(ImageHelpers, HistogramMatchesHandCounts) {
    ImageProcessing::Histograms h{};
    ASSERT_TRUE(ImageProcessing::computeHistogramForImage(counted(), h));
    const struct {
        int channel, value;
        uint64_t count;
    } cases[] = {
        {0, 255, 28}, {0, 128, 12},                 // alpha
        {1, 255, 16}, {1, 0, 12},   {1, 10, 12},    // red
        {2, 0, 16},   {2, 128, 12}, {2, 20, 12},    // green
        {3, 0, 16},   {3, 255, 12}, {3, 30, 12},    // blue
    };
    for (const auto& c : cases) EXPECT_EQ(h[size_t(c.channel)][size_t(c.value)], c.count) << c.channel << "/" << c.value;
    for (const auto& channel : h) {
        uint64_t total = 0;
        for (uint64_t n : channel) total += n;
        EXPECT_EQ(total, 40u);
    }
    // The same picture stored premultiplied counts the same straight colours.
    ImageProcessing::Histograms p{};
    ASSERT_TRUE(ImageProcessing::computeHistogramForImage(counted().convertToFormat(QImage::Format_ARGB32_Premultiplied), p));
    EXPECT_EQ(p[0], h[0]);
    EXPECT_EQ(p[1][255], 16u);

    EXPECT_FALSE(ImageProcessing::computeHistogramForImage(QImage(), p));
    EXPECT_TRUE(ImageProcessing::compareHistogramsForImage(counted(), counted().mirrored(true, true)));
    EXPECT_FALSE(ImageProcessing::compareHistogramsForImage(counted(), counted().scaled(20, 8)));
    ImageProcessing::printHistograms(h);
}

TEST(ImageHelpers, EqualisationSpreadsColoursOverTheWholeRange) {
    QTemporaryDir dir;
    QImage dull(64, 1, QImage::Format_RGB32);
    for (int x = 0; x < 64; ++x) dull.setPixel(x, 0, qRgb(100 + x / 2, 100 + x / 2, 100 + x / 2));  // 100..131
    const QString path = dir.filePath(QStringLiteral("eq.png"));
    ASSERT_TRUE(ImageProcessing::equalizeAndSaveImage(dull, path));
    const QImage out = platform::readImage(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(out.size(), dull.size());
    EXPECT_EQ(qRed(out.pixel(0, 0)), 0);
    EXPECT_EQ(qRed(out.pixel(63, 0)), 255);
    EXPECT_EQ(qAlpha(out.pixel(30, 0)), 255);
    for (int x = 1; x < 64; ++x) EXPECT_GE(qRed(out.pixel(x, 0)), qRed(out.pixel(x - 1, 0)));
    EXPECT_FALSE(ImageProcessing::equalizeAndSaveImage(QImage(), dir.filePath(QStringLiteral("none.png"))));
}

TEST(ImageHelpers, BoxBlurAveragesItsBox) {
    // One white pixel in black: a 3 x 3 box spreads it to a ninth over its neighbours.
    QImage dot(9, 9, QImage::Format_RGB32);
    dot.fill(Qt::black);
    dot.setPixel(4, 4, qRgb(255, 255, 255));
    const QImage b = ImageProcessing::blurImage(dot, QSize(9, 9), 3).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(b.size(), QSize(9, 9));
    for (int y = 3; y <= 5; ++y)
        for (int x = 3; x <= 5; ++x) EXPECT_NEAR(qRed(b.pixel(x, y)), 28, 1);
    EXPECT_EQ(qRed(b.pixel(2, 4)), 0);
    EXPECT_EQ(qRed(b.pixel(4, 6)), 0);
    // An even box counts as the next odd one; a flat picture stays flat up to its edges.
    QImage flat(7, 5, QImage::Format_RGB32);
    flat.fill(qRgb(90, 120, 150));
    const QImage f = ImageProcessing::blurImage(flat, QSize(14, 10), 4).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(f.size(), QSize(14, 10));
    EXPECT_EQ(f.pixel(0, 0), qRgb(90, 120, 150));
    EXPECT_EQ(f.pixel(13, 9), qRgb(90, 120, 150));
    EXPECT_TRUE(ImageProcessing::blurImage(flat, QSize(0, 5), 3).isNull());

    // Reducing a fine checkerboard gives its average grey, not stripes.
    QImage checks(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) checks.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const QImage small = ImageProcessing::resizeImage(checks, QSize(8, 8)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(small.size(), QSize(8, 8));
    for (int y = 1; y < 7; ++y)
        for (int x = 1; x < 7; ++x) EXPECT_NEAR(qRed(small.pixel(x, y)), 128, 20);
}

TEST(ImageHelpers, ThumbnailsAndFilesAtTheirSizes) {
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("holiday.jpg"));
    ASSERT_TRUE(platform::writeImageFile(photo, testsupport::quadrantImage(400, 200), platform::ImageType::JPEG, 0.9));

    EXPECT_EQ(ImageProcessing::sizeOfImageAtURL(photo), QSize(400, 200));
    EXPECT_EQ(ImageProcessing::sizeOfImageAtURL(dir.filePath(QStringLiteral("none.jpg"))), QSize(0, 0));
    const struct {
        QImage image;
        QSize size;
    } cases[] = {
        {ImageProcessing::resizeImage(photo, 60, 40), QSize(60, 40)},
        {ImageProcessing::getThumbnailForFile(photo, 50, 50), QSize(50, 50)},
        {ImageProcessing::resizeImage(photo, 100.0f, 80.0f), QSize(100, 50)},  // wider than high: by width
        {ImageProcessing::thumbnailImage(photo), QSize(10, 5)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.image.size(), c.size);
    EXPECT_TRUE(ImageProcessing::resizeImage(dir.filePath(QStringLiteral("none.jpg")), 60, 40).isNull());

    // Written as PNG, as its name says, beside the photo.
    const QString thumb = ImageProcessing::saveThumbnailForFile(photo, 32, 24);
    EXPECT_EQ(thumb, dir.filePath(QStringLiteral("holiday_32x24.png")));
    EXPECT_EQ(platform::readImageHeader(thumb).format, platform::ImageFormat::PNG);
    EXPECT_EQ(platform::readImage(thumb).size(), QSize(32, 24));
    EXPECT_TRUE(ImageProcessing::saveThumbnailForFile(photo, 0, 24).isEmpty());

    EXPECT_TRUE(ImageProcessing::saveImage(testsupport::quadrantImage(20, 10), dir.filePath(QStringLiteral("s.png"))));
    EXPECT_EQ(platform::readImage(dir.filePath(QStringLiteral("s.png"))).size(), QSize(20, 10));
}

TEST(ImageHelpers, SmallConversions) {
    const QImage red = ImageProcessing::imageWithColor(QColor(Qt::red), QSize(5, 3));
    ASSERT_EQ(red.size(), QSize(5, 3));
    EXPECT_EQ(red.pixelColor(4, 2), QColor(Qt::red));
    EXPECT_TRUE(ImageProcessing::imageWithColor(QColor(Qt::red), QSize(0, 3)).isNull());

    const CIImage ci = CIImage::imageWithCGImage(testsupport::quadrantImage(40, 20));
    EXPECT_EQ(ImageProcessing::imageWithCIImage(ci).size(), QSize(40, 20));
    // The lower-left quarter (y up) is the blue one.
    const QImage part = ImageProcessing::imageWithCIImage(ci, QRectF(0, 0, 20, 10));
    ASSERT_EQ(part.size(), QSize(20, 10));
    EXPECT_EQ(part.pixelColor(10, 5), QColor(Qt::blue));

    QVariantMap props{{QStringLiteral("{Exif}"), QVariantMap{{QStringLiteral("DateTimeOriginal"), QStringLiteral("2024:03:05 09:07:00")}}}};
    EXPECT_EQ(ImageProcessing::getCreationTimeForExif(props).toString(), QStringLiteral("2024:03:05 09:07:00"));
    EXPECT_FALSE(ImageProcessing::getCreationTimeForExif({}).isValid());

    // A quarter turn of a 40 x 20 picture stands 20 x 40, then is scaled back to a width of 40.
    const QImage turned = ImageProcessing::rotateImagedByDegrees(90, testsupport::quadrantImage(40, 20));
    EXPECT_EQ(turned.size(), QSize(40, 80));
    EXPECT_EQ(ImageProcessing::resizedImage1(testsupport::quadrantImage(40, 20), QSizeF(10.7, 5.2), 1).size(), QSize(10, 5));
    const QImage tinted = ImageProcessing::getRGBColoredImage(ImageProcessing::imageWithColor(Qt::white, QSize(4, 4)),
                                                              QSize(8, 8), QColor(255, 0, 0));
    ASSERT_EQ(tinted.size(), QSize(8, 8));
    EXPECT_GT(tinted.pixelColor(4, 4).red(), tinted.pixelColor(4, 4).blue());
}

TEST(PngOptimiserExtras, UsageNamesEveryArgument) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ASSERT_TRUE(out);
    pngopt::print_usage(out);
    std::fclose(out);
    const QString usage = QString::fromUtf8(text, qsizetype(size));
    std::free(text);
    for (const char* word : {"input", "output", "method", "memory level", "97", ".apng"})
        EXPECT_TRUE(usage.contains(QLatin1String(word))) << word;
    EXPECT_TRUE(pngopt::keep_chunk("tEXt"));
    EXPECT_TRUE(pngopt::keep_unknown_chunk("prVt"));
    pngopt::pngopt_pause();
}

TEST(EngineTextHelpers, SameTextsAsTheRecordsGive) {
    Utils& u = Utils::sharedUtils();
    for (double bytes : {0.0, 994.0, 1239999.0}) EXPECT_EQ(u.unitStringFromBytes(bytes, 0), CommonFunc::unitStringFromBytes(bytes));
    const QDateTime when(QDate(2024, 3, 5), QTime(9, 7));
    EXPECT_EQ(Utils::getDateInFormatNEW(when), QStringLiteral("20240305T0907"));
    EXPECT_EQ(Utils::getDurationBetweenDate(when, when.addSecs(90)), 90);
    EXPECT_TRUE(Utils::validateEmail(QStringLiteral("ann@example.com")));
    EXPECT_EQ(Utils::getDateStringFromDate(when, QStringLiteral("yyyy-MM-dd")), QStringLiteral("2024-03-05"));
    EXPECT_EQ(Utils::getDateFromString(QStringLiteral("2024-03-05"), QStringLiteral("yyyy-MM-dd")).date(), when.date());
    EXPECT_EQ(u.getDateTimeStringForImageUrl(QString(), QStringLiteral("Current Date"), QStringLiteral("YYYY"), QStringLiteral("24h")),
              QString::number(QDate::currentDate().year()));
}

// A whole picture drawn at its own size is rendered straight into the new picture instead of
// being laid over a transparent one; both give the same bytes, transparency, colours beyond
// white and an extent short of the picture included.
TEST(ImageHelpers, WholePictureDrawnIsTheOneLaidOverNothing) {
    const QImage photo = platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "bluebells_clipped.jpg"));
    ASSERT_FALSE(photo.isNull());
    const CIImage in = CIImage::imageWithCGImage(photo);
    QImage faint(photo.size(), QImage::Format_ARGB32_Premultiplied);
    faint.fill(Qt::transparent);
    QPainter painter(&faint);
    painter.setOpacity(0.4);
    painter.drawImage(0, 0, photo);
    painter.end();
    auto filtered = [&](const char* name, const QVariantMap& values, const CIImage& input) {
        CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(name));
        if (!f) return CIImage();
        f->setDefaults();
        f->setValue(QVariant::fromValue(input), QStringLiteral("inputImage"));
        for (auto it = values.begin(); it != values.end(); ++it) f->setValue(it.value(), it.key());
        return f->outputImage();
    };
    const QSizeF size = photo.size();
    const CIImage cases[] = {
        in,
        filtered("CITwirlDistortion", {{"inputCenter", QVariant::fromValue(platform::Vec(60, 200))}, {"inputRadius", 150.0}}, in),
        filtered("CIExposureAdjust", {{"inputEV", 2.5}}, in),
        filtered("CIGaussianBlur", {{"inputRadius", 6.0}}, in),
        in.imageByCroppingToRect(QRectF(30.5, 20, 200, 150.25)),
        filtered("CIGaussianBlur", {{"inputRadius", 2.0}}, CIImage::imageWithCGImage(faint)),
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        ASSERT_FALSE(cases[i].isNull());
        const QImage drawn = Utils::sharedUtils().getDrawedImage(cases[i], size, QPointF(0, 0), QRectF(QPointF(0, 0), size));
        QImage laid(photo.size(), QImage::Format_ARGB32_Premultiplied);
        laid.fill(Qt::transparent);
        CIContext().drawImage(cases[i], QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size), laid);
        EXPECT_EQ(drawn, laid);
    }
}
