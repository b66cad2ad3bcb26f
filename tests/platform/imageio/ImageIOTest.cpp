#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/ScratchVolume.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>
#include <csignal>
#include <cstdio>
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <tiffio.h>

using platform::ImageType;

using testsupport::maxDiff;
using testsupport::meanDiff;
using testsupport::premul;
using testsupport::uprightReference;

namespace {

// A picture with smooth areas, hard edges and a half-transparent corner.
QImage alphaPicture(int w, int h) {
    QImage img = testsupport::gradientImage(w, h).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, 0, w / 3, h / 3, QColor(255, 0, 0, 128));
    p.fillRect(w / 2, h / 2, w / 4, h / 4, Qt::transparent);
    return img;
}

}  // namespace

TEST(ImageIO, EveryTypeRoundTripsWithinItsLoss) {
    struct Case {
        ImageType type;
        double quality;
        int maxOpaque;      // worst channel error allowed on the opaque picture
        double meanOpaque;  // mean error allowed
        bool keepsAlpha;
    } cases[] = {
        {ImageType::TIFF, 1.0, 0, 0, true},   {ImageType::BMP, 1.0, 0, 0, true},
        {ImageType::PNG, 0.2, 0, 0, true},    {ImageType::JPEG, 0.9, 120, 8.0, false},
        {ImageType::JPEG2000, 1.0, 0, 0, true}, {ImageType::JPEG2000, 0.8, 120, 4.0, false},
        {ImageType::GIF, 1.0, 140, 8.0, false},
    };
    const QImage opaque = premul(testsupport::gradientImage(97, 61));
    const QImage alpha = alphaPicture(64, 48);
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        const QByteArray bytes = platform::encodeImage(opaque, c.type, c.quality);
        ASSERT_FALSE(bytes.isEmpty());
        const QImage back = platform::readImageFromData(bytes);
        ASSERT_EQ(back.size(), opaque.size());
        EXPECT_EQ(back.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_LE(maxDiff(back, opaque), c.maxOpaque);
        EXPECT_LE(meanDiff(back, opaque), c.meanOpaque);
        if (c.keepsAlpha) {
            const QImage backAlpha = platform::readImageFromData(platform::encodeImage(alpha, c.type, c.quality));
            // Premultiplied values survive un-premultiplying and back within a step or two.
            EXPECT_LE(maxDiff(backAlpha, alpha), 2);
        }
    }
}

TEST(ImageIO, GifKeepsTransparencyAndGreyEncodesAsGrey) {
    const QImage alpha = alphaPicture(40, 30);
    const QImage gif = platform::readImageFromData(platform::encodeImage(alpha, ImageType::GIF, 1.0));
    ASSERT_EQ(gif.size(), alpha.size());
    EXPECT_EQ(qAlpha(gif.pixel(25, 20)), 0);    // fully transparent block
    EXPECT_EQ(qAlpha(gif.pixel(39, 29)), 255);  // opaque corner

    QImage grey(33, 17, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) grey.scanLine(y)[x] = uchar((x * 7 + y * 3) & 0xFF);
    for (ImageType t : {ImageType::PNG, ImageType::TIFF, ImageType::JPEG2000}) {
        const QByteArray bytes = platform::encodeImage(grey, t, 1.0);
        EXPECT_TRUE(platform::readImageHeaderFromData(bytes).gray()) << int(t);
        EXPECT_EQ(maxDiff(platform::readImageFromData(bytes), grey.convertToFormat(QImage::Format_RGB32)), 0) << int(t);
    }
}

TEST(ImageIO, GifOfARealPhotoTakesTheNearestColoursOfItsPalette) {
    // Before, each pixel took the colour of the median-cut box its colour fell in: dark
    // and saturated areas came out posterised (27 dB on the bluebells and 35 on the wizard,
    // against 34 and 41 now).
    for (const char* name : {"bluebells_clipped.jpg", "wizard.jpg"}) {
        SCOPED_TRACE(name);
        const QImage photo = platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + name))
                                 .convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(photo.isNull());
        const QImage back = platform::readImageFromData(platform::encodeImage(photo, ImageType::GIF, 1.0))
                                .convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(back.size(), photo.size());
        double sum = 0;
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x) {
                const QRgb a = photo.pixel(x, y), b = back.pixel(x, y);
                for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)}) sum += double(d) * d;
            }
        const double psnr = 10 * std::log10(255.0 * 255.0 * 3.0 * photo.width() * photo.height() / sum);
        EXPECT_GT(psnr, 31.0);
        // A GIF written again, as "Keep original format" does with GIF photos, keeps every
        // colour: it has no more than a palette holds (before, close colours were merged).
        const QImage again = platform::readImageFromData(platform::encodeImage(back, ImageType::GIF, 1.0))
                                 .convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(again, back);
    }
}

// Photos of a run are written at once on several threads; a GIF's palette must not depend
// on what the other threads are encoding (the same photo came out differently from one run
// of 80 real files to the next).
TEST(ImageIO, GifsEncodedAtOnceOnSeveralThreadsAreEachTheGifEncodedAlone) {
    const QImage photos[] = {
        platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "bluebells_clipped.jpg")),
        platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "wizard.jpg")),
    };
    for (const QImage& photo : photos) ASSERT_FALSE(photo.isNull());
    const QByteArray alone[] = {platform::encodeImage(photos[0], ImageType::GIF, 1.0),
                                platform::encodeImage(photos[1], ImageType::GIF, 1.0)};
    constexpr int kThreads = 8, kRounds = 6;
    std::vector<QByteArray> made(size_t(kThreads) * kRounds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < kRounds; ++k) made[size_t(t * kRounds + k)] = platform::encodeImage(photos[(t + k) % 2], ImageType::GIF, 1.0);
        });
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kRounds; ++k) EXPECT_EQ(made[size_t(t * kRounds + k)], alone[(t + k) % 2]) << t << " " << k;
}

TEST(ImageIO, OrientationMatchesExplicitPermutation) {
    const QImage stored = premul(testsupport::gradientImage(7, 4));
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const QImage upright = platform::orientImage(stored, o);
        EXPECT_EQ(maxDiff(upright, uprightReference(stored, o)), 0);
        EXPECT_EQ(maxDiff(platform::unorientImage(upright, o), stored), 0);
    }
    EXPECT_EQ(maxDiff(platform::orientImage(stored, 0), stored), 0);
    EXPECT_EQ(maxDiff(platform::orientImage(stored, 9), stored), 0);
}

TEST(ImageIO, ReducedDecodingKeepsTheLongSideAsked) {
    const QByteArray jpeg = platform::encodeImage(testsupport::gradientImage(1600, 1200), ImageType::JPEG, 0.8);
    for (auto [ask, expectWidth] : {std::pair{0, 1600}, {1600, 1600}, {800, 800}, {700, 800}, {100, 200}, {150, 200}}) {
        platform::DecodeOptions o;
        o.minLongSide = ask;
        EXPECT_EQ(platform::readImageFromData(jpeg, o).width(), expectWidth) << ask;
    }
    const QByteArray jp2 = platform::encodeImage(testsupport::gradientImage(512, 256), ImageType::JPEG2000, 0.8);
    platform::DecodeOptions o;
    o.minLongSide = 128;
    EXPECT_EQ(platform::readImageFromData(jp2, o).width(), 128);
}

TEST(ImageIO, ThumbnailsAreUprightAndNeverLarger) {
    QTemporaryDir dir;
    const QString path = dir.filePath("turned.jpg");
    // Stored 400 x 200 with orientation 6: shown upright as 200 x 400.
    ASSERT_TRUE(platform::writeImageFile(path, testsupport::quadrantImage(400, 200), ImageType::JPEG, 0.9,
                                         {{"Orientation", 6}, {"{TIFF}", QVariantMap{{"Orientation", 6}}}}));
    ASSERT_EQ(platform::readImageHeader(path).orientation, 6);
    const QImage t = platform::makeThumbnail(path, 64, 64);
    EXPECT_EQ(t.size(), QSize(32, 64));
    // Stored top-left is red; turned a quarter clockwise it lands top-right.
    const QRgb topRight = t.pixel(t.width() - 4, 4);
    EXPECT_GT(qRed(topRight), 200);
    EXPECT_LT(qGreen(topRight), 60);
    EXPECT_EQ(platform::makeThumbnail(path, 1000, 1000).size(), QSize(200, 400));
    EXPECT_EQ(platform::makeThumbnail(path, 64, 64, 1).size(), QSize(64, 32));
    EXPECT_TRUE(platform::makeThumbnail(dir.filePath("missing.jpg"), 64, 64).isNull());
}

TEST(ImageIO, BadInputGivesNoImage) {
    const QImage pic = testsupport::gradientImage(120, 80);
    QList<QPair<QString, QByteArray>> inputs = {{"empty", QByteArray()}, {"text", "hello, not a picture"}};
    for (ImageType t : {ImageType::TIFF, ImageType::BMP, ImageType::GIF, ImageType::JPEG, ImageType::PNG,
                        ImageType::JPEG2000}) {
        const QByteArray whole = platform::encodeImage(pic, t, 0.8);
        inputs.append({QString("truncated %1").arg(int(t)), whole.left(whole.size() / 2)});
        inputs.append({QString("header only %1").arg(int(t)), whole.left(40)});
        QByteArray scrambled = whole;
        for (qsizetype i = 30; i < scrambled.size(); i += 7) scrambled[i] = char(scrambled[i] ^ 0x5A);
        inputs.append({QString("scrambled %1").arg(int(t)), scrambled});
    }
    for (const auto& [name, bytes] : inputs) {
        SCOPED_TRACE(name.toStdString());
        const QImage img = platform::readImageFromData(bytes);
        // Scrambled data may still decode to something; it must never be a wrong size.
        if (!img.isNull()) {
            EXPECT_TRUE(name.startsWith("scrambled"));
            EXPECT_LE(img.width() * qint64(img.height()), 120 * 80 * 4);
        }
    }
}

TEST(ImageIO, HugeDeclaredSizesAreRefusedBeforeDecoding) {
    auto be32 = [](QByteArray& b, int at, quint32 v) { qToBigEndian(v, reinterpret_cast<uchar*>(b.data()) + at); };
    // PNG: rewrite IHDR's size (the CRC is then wrong, which is itself an error, so
    // recompute it the way the format defines).
    QByteArray png = platform::encodeImage(testsupport::gradientImage(8, 8), ImageType::PNG, 1.0);
    be32(png, 16, 100000);
    be32(png, 20, 100000);
    be32(png, 29, quint32(crc32(0, reinterpret_cast<const unsigned char*>(png.constData()) + 12, 17)));
    // JPEG: the SOF0 marker's height and width.
    QByteArray jpeg = platform::encodeImage(testsupport::gradientImage(8, 8), ImageType::JPEG, 0.8);
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    qToBigEndian<quint16>(60000, reinterpret_cast<uchar*>(jpeg.data()) + sof + 5);
    qToBigEndian<quint16>(60000, reinterpret_cast<uchar*>(jpeg.data()) + sof + 7);
    // GIF: the logical screen.
    QByteArray gif = platform::encodeImage(testsupport::gradientImage(8, 8), ImageType::GIF, 1.0);
    qToLittleEndian<quint16>(65535, reinterpret_cast<uchar*>(gif.data()) + 6);
    qToLittleEndian<quint16>(65535, reinterpret_cast<uchar*>(gif.data()) + 8);
    // BMP: the info header.
    QByteArray bmp = platform::encodeImage(testsupport::gradientImage(8, 8), ImageType::BMP, 1.0);
    qToLittleEndian<qint32>(100000, reinterpret_cast<uchar*>(bmp.data()) + 18);
    qToLittleEndian<qint32>(100000, reinterpret_cast<uchar*>(bmp.data()) + 22);
    for (const QByteArray& bytes : {png, jpeg, gif, bmp}) {
        EXPECT_GE(platform::readImageHeaderFromData(bytes).width, 60000);
        EXPECT_TRUE(platform::readImageFromData(bytes).isNull());
    }
}

TEST(ImageIO, WritingReplacesFilesWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.png");
    QFile::remove(path);
    testsupport::writeFile(path, "previous content");
    // Nothing to encode: the old file stays as it was and the call says so.
    EXPECT_FALSE(platform::writeImageFile(path, QImage(), ImageType::PNG, 1.0));
    EXPECT_EQ(testsupport::readFile(path), QByteArray("previous content"));
    EXPECT_FALSE(platform::writeImageFile(dir.filePath("no/such/folder/x.png"), testsupport::gradientImage(4, 4),
                                          ImageType::PNG, 1.0));
    // A good write replaces it and leaves no temporary files behind.
    EXPECT_TRUE(platform::writeImageFile(path, testsupport::gradientImage(10, 10), ImageType::PNG, 1.0));
    EXPECT_EQ(platform::readImage(path).size(), QSize(10, 10));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(ImageIO, PropertiesTravelWithTheTypesThatHoldThem) {
    QTemporaryDir dir;
    const QVariantMap props{{"{TIFF}", QVariantMap{{"Make", "Brisko Test Camera"}, {"Orientation", 1}}},
                            {"{Exif}", QVariantMap{{"UserComment", "round trip"}}}};
    for (auto [type, ext] : {std::pair{ImageType::TIFF, "tif"}, {ImageType::JPEG, "jpg"}, {ImageType::PNG, "png"},
                             {ImageType::JPEG2000, "jp2"}, {ImageType::BMP, "bmp"}, {ImageType::GIF, "gif"}}) {
        SCOPED_TRACE(ext);
        const QString path = dir.filePath(QString("p.") + ext);
        ASSERT_TRUE(platform::writeImageFile(path, testsupport::gradientImage(30, 20), type, 0.8, props));
        const QVariantMap back = platform::readImageProperties(path);
        EXPECT_EQ(back.value("PixelWidth").toInt(), 30);
        if (platform::imageTypeHoldsProperties(type)) {
            EXPECT_EQ(back.value("{TIFF}").toMap().value("Make").toString(), "Brisko Test Camera");
        }
    }
}

namespace {

// A JPEG written the way cameras write them: with restart markers every few MCUs.
QByteArray cameraJpeg(const QImage& src, int restartInterval, bool subsampled, bool gray) {
    const QImage img = src.convertToFormat(QImage::Format_RGB32);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(img.width());
    c.image_height = JDIMENSION(img.height());
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    if (gray) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    jpeg_set_quality(&c, 85, TRUE);
    if (!subsampled && !gray) c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
    c.restart_interval = unsigned(restartInterval);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uchar*>(img.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    free(out);
    return bytes;
}

}  // namespace

TEST(ImageIO, BandedReducedDecodeMatchesOneSequentialDecode) {
    // Restart markers change nothing in the coefficients, so a file with them decoded in
    // bands must give the very pixels of the same file without them.
    const QImage picture = testsupport::gradientImage(2003, 1201);
    struct { int interval; bool subsampled, gray; int minLongSide; } cases[] = {
        {0, true, false, 250},      // reference layout, sequential
        {126, true, false, 250},    // one restart per MCU row (4:2:0, 16-pixel rows)
        {7, true, false, 250},      // intervals that meet rows only every few rows
        {251, false, false, 500},   // 4:4:4, one per row
        {60, false, true, 300},     // grey
        {1000, true, false, 250},   // intervals longer than a row
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        platform::DecodeOptions o;
        o.minLongSide = c.minLongSide;
        const QImage banded = platform::readImageFromData(cameraJpeg(picture, c.interval, c.subsampled, c.gray), o);
        const QImage plain = platform::readImageFromData(cameraJpeg(picture, 0, c.subsampled, c.gray), o);
        ASSERT_FALSE(banded.isNull());
        EXPECT_EQ(banded.size(), plain.size());
        EXPECT_EQ(maxDiff(banded, plain), 0);
    }
    // Damage inside one band is still caught (by the sequential decoder behind it).
    QByteArray broken = cameraJpeg(picture, 126, true, false);
    broken.truncate(broken.size() * 2 / 3);
    platform::DecodeOptions o;
    o.minLongSide = 250;
    EXPECT_TRUE(platform::readImageFromData(broken, o).isNull());
}

namespace {

// Every row and column different, so a strip written from the wrong rows shows.
QImage distinctRows(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) line[x] = qRgb((x * 7 + y * 3) & 255, (y * 5 + x) & 255, (x ^ y) & 255);
    }
    return img;
}

int tiffSamplesPerPixel(const QString& path) {
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t) return -1;
    uint16_t samples = 0;
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFClose(t);
    return samples;
}

}  // namespace

TEST(ImageIO, TiffFilesHoldEveryRowOfEachSourceFormat) {
    QTemporaryDir dir;
    // 301 x 1000: several strips, the last one short, and rows not a multiple of four pixels.
    const QImage base = distinctRows(301, 1000);
    QImage indexed = base.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    for (const QImage& src : {base, base.convertToFormat(QImage::Format_RGB32), premul(base),
                              base.convertToFormat(QImage::Format_RGB888), indexed,
                              base.convertToFormat(QImage::Format_Grayscale8)}) {
        SCOPED_TRACE(int(src.format()));
        const QString path = dir.filePath("out.tif");
        ASSERT_TRUE(platform::writeImageFile(path, src, ImageType::TIFF, 1.0));
        const QImage back = platform::readImage(path);
        EXPECT_EQ(maxDiff(back, premul(src)), 0);
        EXPECT_EQ(tiffSamplesPerPixel(path), src.format() == QImage::Format_Grayscale8 ? 1 : 3);
        // The file and the in-memory encoding are the same bytes.
        EXPECT_EQ(testsupport::readFile(path), platform::encodeImage(src, ImageType::TIFF, 1.0));
    }
}

TEST(ImageIO, TiffKeepsAlphaFoundAnywhereInThePicture) {
    QTemporaryDir dir;
    const QImage base = premul(distinctRows(301, 1000));
    for (QPoint at : {QPoint(0, 0), QPoint(150, 500), QPoint(300, 999)}) {
        SCOPED_TRACE(at.y());
        QImage src = base;
        src.setPixelColor(at, QColor(40, 80, 120, 100));
        const QString path = dir.filePath("alpha.tif");
        ASSERT_TRUE(platform::writeImageFile(path, src, ImageType::TIFF, 1.0));
        const QImage back = platform::readImage(path);
        EXPECT_LE(maxDiff(back, src), 2);
        EXPECT_EQ(qAlpha(back.pixel(at)), 100);
        EXPECT_EQ(tiffSamplesPerPixel(path), 4);
        EXPECT_EQ(QFileInfo(path).size(), platform::encodeImage(src, ImageType::TIFF, 1.0).size());
    }
}

TEST(ImageIO, TiffThatCannotBeWrittenWholeLeavesTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.tif");
    testsupport::writeFile(path, "previous content");
    // Files may grow to 64 KB only; the picture needs about 900 KB.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = platform::writeImageFile(path, distinctRows(301, 1000), ImageType::TIFF, 1.0);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_FALSE(written);
    EXPECT_EQ(testsupport::readFile(path), QByteArray("previous content"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(ImageIO, ADiskFillingUpNeverGivesAFileWithoutItsPixelsOrMetadata) {
    // On a small volume of its own, the disk runs full at every stage of writing: the
    // pixels, the copy that takes the metadata, and the replacement of the first by the
    // second. Before, a full disk while the metadata went in gave "written" for a file
    // without metadata, and at times for one cut off in its pixels.
    const QVariantMap props{{"{TIFF}", QVariantMap{{"Make", "Brisko Test Camera"}}},
                            {"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"},
                                                   {"UserComment", QString(20000, 'x')}}}};
    // Noise, so that no format squeezes the pixels to less than the metadata.
    QImage picture(400, 300, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, 0xFF000000u | ((seed = seed * 1664525u + 1013904223u) >> 8));
    for (auto [type, ext] : {std::pair{ImageType::TIFF, "tif"}, {ImageType::JPEG, "jpg"}, {ImageType::PNG, "png"},
                             {ImageType::JPEG2000, "jp2"}}) {
        QTemporaryDir roomy;
        const QString whole = roomy.filePath(QString("p.") + ext);
        ASSERT_TRUE(platform::writeImageFile(whole, picture, type, 0.8, props));
        const qint64 fileBytes = QFileInfo(whole).size();
        int written = 0, refused = 0;
        for (int tenths = 5; tenths <= 25; ++tenths) {
            SCOPED_TRACE(QString("%1 with room for %2 x the file").arg(ext).arg(tenths / 10.0).toStdString());
            testsupport::ScratchVolume volume(8 << 20);
            ASSERT_TRUE(volume.ok()) << volume.why().toStdString();
            const QString path = volume.filePath(QString("p.") + ext);
            testsupport::writeFile(path, "previous content");
            testsupport::writeFile(volume.filePath("filler"),
                                   QByteArray(volume.freeBytes() - fileBytes * tenths / 10, '\0'));
            if (platform::writeImageFile(path, picture, type, 0.8, props)) {
                ++written;
                EXPECT_EQ(platform::readImage(path).size(), picture.size());
                EXPECT_EQ(platform::readImageProperties(path).value("{Exif}").toMap().value("DateTimeOriginal"),
                          "2021:05:30 08:09:10");
            } else {
                ++refused;
                EXPECT_EQ(testsupport::readFile(path), QByteArray("previous content"));
            }
            EXPECT_EQ(QDir(volume.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        }
        // Both ends were reached: the test did fill the disk, and it did leave room.
        EXPECT_GT(written, 0) << ext;
        EXPECT_GT(refused, 0) << ext;
    }
}

TEST(ImageIO, MetadataWrittenOnAFullDiskLeavesTheFileAsItWasOrComplete) {
    const QVariantMap props{{"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"},
                                                   {"UserComment", QString(20000, 'x')}}}};
    for (auto [type, ext] : {std::pair{ImageType::TIFF, "tif"}, {ImageType::JPEG, "jpg"}, {ImageType::PNG, "png"},
                             {ImageType::JPEG2000, "jp2"}}) {
        const QByteArray original = platform::encodeImage(testsupport::gradientImage(600, 450), type, 0.8);
        for (int tenths = 2; tenths <= 16; tenths += 2) {
            SCOPED_TRACE(QString("%1 with room for %2 x its size").arg(ext).arg(tenths / 10.0).toStdString());
            testsupport::ScratchVolume volume(8 << 20);
            ASSERT_TRUE(volume.ok()) << volume.why().toStdString();
            const QString path = testsupport::writeFile(volume.filePath(QString("p.") + ext), original);
            testsupport::writeFile(volume.filePath("filler"),
                                   QByteArray(volume.freeBytes() - original.size() * tenths / 10, '\0'));
            if (platform::writeImageProperties(path, props)) {
                EXPECT_FALSE(platform::readImage(path).isNull());
                EXPECT_EQ(platform::readImageProperties(path).value("{Exif}").toMap().value("DateTimeOriginal"),
                          "2021:05:30 08:09:10");
            } else {
                EXPECT_EQ(testsupport::readFile(path), original);
            }
            EXPECT_EQ(QDir(volume.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        }
    }
}

TEST(ImageIO, APictureWrittenIntoItsCallersPrivateFileIsTheFileWrittenInPlace) {
    // The run reserves a private file per photo and has the picture written into it: no
    // second file renamed over it, the same bytes as a file written the usual way, and on
    // a disk that fills up a refusal, never a cut file reported as written.
    const QVariantMap props{{"{TIFF}", QVariantMap{{"Make", "Brisko Test Camera"}}},
                            {"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"}}}};
    const QImage picture = testsupport::gradientImage(300, 200);
    for (auto [type, ext] : {std::pair{ImageType::TIFF, "tif"}, {ImageType::JPEG, "jpg"}, {ImageType::PNG, "png"},
                             {ImageType::JPEG2000, "jp2"}, {ImageType::BMP, "bmp"}, {ImageType::GIF, "gif"}}) {
        SCOPED_TRACE(ext);
        QTemporaryDir dir;
        const QString usual = dir.filePath(QString("usual.") + ext);
        ASSERT_TRUE(platform::writeImageFile(usual, picture, type, 0.8, props));
        const QString reserved = testsupport::writeFile(dir.filePath(".reserved"), QByteArray());
        const auto inode = [](const QString& path) {
            struct stat st {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
        };
        const ino_t before = inode(reserved);
        ASSERT_TRUE(platform::writeImageFile(reserved, picture, type, 0.8, props, platform::FileTarget::PrivateFile));
        // TIFF and PNG are written as they are encoded and take their metadata through a
        // copy afterwards; the others get it before they are written, into the file itself.
        if (type != ImageType::TIFF && type != ImageType::PNG) { EXPECT_EQ(inode(reserved), before); }
        EXPECT_EQ(testsupport::readFile(reserved), testsupport::readFile(usual));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        const QByteArray whole = testsupport::readFile(usual);
        testsupport::ScratchVolume volume(8 << 20);
        ASSERT_TRUE(volume.ok()) << volume.why().toStdString();
        const QString cramped = testsupport::writeFile(volume.filePath(".reserved"), QByteArray());
        testsupport::writeFile(volume.filePath("filler"), QByteArray(volume.freeBytes() - whole.size() / 2, '\0'));
        if (platform::writeImageFile(cramped, picture, type, 0.8, props, platform::FileTarget::PrivateFile))
            EXPECT_EQ(testsupport::readFile(cramped), whole);
        else
            EXPECT_LT(QFileInfo(cramped).size(), whole.size());
    }
}
