// A JPEG photo read a few rows at a time must give exactly the pixels of reading it whole,
// and a picture handed to the band sink a few rows at a time must give exactly the file of
// encoding it whole, without reading rows it has said it is done with.
#include "platform/foundation/NativeNames.h"
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/PngKinds.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

QString photo(const char* name) { return testsupport::packagedPicture(testsupport::kDesktopPhotos + QLatin1String(name)); }

QString hostile(const char* name) {
    return testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name));
}

// Reads the whole photo through the source in steps of the given sizes, the last step
// repeated; the rows go into a picture of the source's size.
struct Streamed {
    QImage picture;
    bool ok = true;
    bool neverBack = true;
};
template <class Source>
Streamed readInSteps(Source& source, std::initializer_list<int> steps) {
    Streamed out;
    out.picture = QImage(source.width(), source.height(), QImage::Format_RGB32);
    out.picture.fill(Qt::magenta);
    uchar* base = out.picture.bits();
    const qsizetype stride = out.picture.bytesPerLine();
    auto step = steps.begin();
    while (out.ok && source.rowsRead() < source.height()) {
        const int before = source.rowsRead();
        out.ok = source.readRows(base, stride, before + *step);
        out.neverBack = out.neverBack && source.rowsRead() >= before;
        // Asking again for rows already read reads nothing.
        const int after = source.rowsRead();
        out.ok = out.ok && source.readRows(base, stride, after / 2) && source.rowsRead() == after;
        if (std::next(step) != steps.end()) ++step;
        if (source.rowsRead() == before) break;  // no progress
    }
    return out;
}

bool samePixels(const QImage& streamed, const QImage& whole) {
    if (streamed.size() != whole.size()) return false;
    for (int y = 0; y < whole.height(); ++y)
        if (std::memcmp(streamed.constScanLine(y), whole.constScanLine(y), size_t(whole.width()) * 4) != 0) return false;
    return true;
}

}  // namespace

TEST(JpegRowSource, RowsReadInUnevenStepsAreThePixelsOfTheWholeDecode) {
    QTemporaryDir dir;
    // The same baseline photo under a name that is not UTF-8 must be found by its bytes.
    const QByteArray oddName = QFile::encodeName(dir.path()) + "/Caf\xe9 \xff.jpg";
    {
        const QByteArray bytes = testsupport::readFile(photo("nature/Aqua.jpg"));
        const int fd = ::open(oddName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
    }
    const struct {
        const char* name;
        QString path;
        QString wholeFrom;
    } cases[] = {
        {"baseline", photo("nature/RainDrops.jpg"), photo("nature/RainDrops.jpg")},
        {"progressive", photo("abstract/Elephants_3840x2160.jpg"), photo("abstract/Elephants_3840x2160.jpg")},
        {"baseline, name not UTF-8", platform::decodePath(oddName), photo("nature/Aqua.jpg")},
        {"grey", testsupport::packagedPicture(testsupport::kManualPictures + "objects.jpg"),
         testsupport::packagedPicture(testsupport::kManualPictures + "objects.jpg")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage whole = platform::readImage(c.wholeFrom);
        const platform::ImageHeader header = platform::readImageHeader(c.wholeFrom);
        ASSERT_FALSE(whole.isNull());
        platform::JpegRowSource source(c.path);
        ASSERT_TRUE(source.isValid());
        EXPECT_EQ(QSize(source.width(), source.height()), whole.size());
        EXPECT_EQ(source.orientation(), header.orientation);
        EXPECT_EQ(source.iccProfile(), header.iccProfile);
        EXPECT_EQ(source.gray(), header.gray());
        EXPECT_EQ(source.rowsRead(), 0);
        Streamed streamed = readInSteps(source, {1, 7, 64, whole.height()});
        EXPECT_TRUE(streamed.ok);
        EXPECT_TRUE(streamed.neverBack);
        EXPECT_EQ(source.rowsRead(), whole.height());
        EXPECT_TRUE(samePixels(streamed.picture, whole));
        // Past the end there is nothing more to read, and that is no failure.
        EXPECT_TRUE(source.readRows(streamed.picture.bits(), streamed.picture.bytesPerLine(), whole.height() + 5));
        // Colour rows come as R, G, B bytes when asked, the same pixels; grey ones stay words.
        platform::JpegRowSource bytes(c.path);
        ASSERT_EQ(bytes.rowsAsRgbBytes(), !header.gray());
        if (!header.gray()) {
            QImage rgb(whole.size(), QImage::Format_RGB888);
            for (const int end : {1, 8, 70, whole.height()})
                ASSERT_TRUE(bytes.readRows(rgb.bits(), rgb.bytesPerLine(), end));
            EXPECT_TRUE(samePixels(rgb.convertToFormat(QImage::Format_RGB32), whole));
        }
    }
    ::unlink(oddName.constData());
}

TEST(JpegRowSource, FilesTheWholeDecodeRefusesFailAndStayFailed) {
    QTemporaryDir dir;
    const QByteArray progressive = testsupport::readFile(photo("abstract/Elephants_3840x2160.jpg"));
    const QByteArray baseline = testsupport::readFile(photo("nature/RainDrops.jpg"));
    const struct {
        const char* name;
        QString path;
    } cases[] = {
        {"baseline cut short", testsupport::writeFile(dir.filePath("cut.jpg"), baseline.left(baseline.size() * 6 / 10))},
        {"progressive cut short",
         testsupport::writeFile(dir.filePath("cutp.jpg"), progressive.left(progressive.size() * 9 / 10))},
        {"bad Huffman code", hostile("damaged_bad_huffman_code.jpg")},
        {"data ends early", hostile("damaged_data_ends_early.jpg")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(platform::readImage(c.path).isNull());
        platform::JpegRowSource source(c.path);
        ASSERT_TRUE(source.isValid());
        const Streamed streamed = readInSteps(source, {1, 7, 64, 300});
        EXPECT_FALSE(streamed.ok);
        EXPECT_TRUE(streamed.neverBack);
        EXPECT_LT(source.rowsRead(), source.height());
        QImage rows(source.width(), source.height(), QImage::Format_RGB32);
        EXPECT_FALSE(source.readRows(rows.bits(), rows.bytesPerLine(), source.height()));
    }
    // Cut short while it is read (a sync client rewriting it): fails, and the cut is told
    // apart, however well the zeros in place of the cut bytes decode.
    for (const QByteArray& bytes : {baseline, progressive}) {
        const QString rewritten = testsupport::writeFile(dir.filePath("rewritten.jpg"), bytes);
        platform::DecodeOptions cutWhileOpen;
        cutWhileOpen.whileOpen = [](const QString& path) {
            ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 4096), 0);
        };
        platform::JpegRowSource source(rewritten, cutWhileOpen);
        EXPECT_FALSE(source.isValid() && readInSteps(source, {1, 7, 64, 300}).ok);
        EXPECT_TRUE(source.cut());
        QImage rows(std::max(1, source.width()), std::max(1, source.height()), QImage::Format_RGB32);
        EXPECT_FALSE(source.readRows(rows.bits(), rows.bytesPerLine(), source.height()));
    }
    // Pictures it does not take: grey under a profile the reader applies (its pixels are not
    // the stored ones), not a JPEG, no file.
    const QImage grey = platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "objects.jpg"));
    const QString lstar = testsupport::writeFile(
        dir.filePath("lstar.jpg"), testsupport::libjpegFile(grey, testsupport::debianProfile(testsupport::kGrayLstarProfile),
                                                            testsupport::JpegColours::Gray));
    for (const QString& path : {lstar, photo("abstract/Flow.png"), dir.filePath("missing.jpg")}) {
        SCOPED_TRACE(path.toStdString());
        platform::JpegRowSource source(path);
        EXPECT_FALSE(source.isValid());
        QImage rows(64, 64, QImage::Format_RGB32);
        EXPECT_FALSE(source.readRows(rows.bits(), rows.bytesPerLine(), 1));
    }
}

// Every kind of PNG a photo comes as, read a few rows at a time, gives the pixels of the
// whole decode: grey and palettes as colour, 16 bits scaled to 8, transparency
// premultiplied; an interlaced one read whole first.
TEST(PngRowSource, RowsReadInUnevenStepsAreThePixelsOfTheWholeDecode) {
    QTemporaryDir dir;
    const QImage aqua = platform::readImage(photo("nature/Aqua.jpg"));
    const auto made = [&](const char* name, testsupport::PngKind kind) {
        return testsupport::writeFile(dir.filePath(QLatin1String(name)), testsupport::pngOfKind(aqua, kind));
    };
    const struct {
        const char* name;
        QString path;
        bool gray, transparent;
    } cases[] = {
        {"RGB", photo("desktop/Ubuntu-Mate-Cold-no-logo.png"), false, false},
        {"RGBA with transparency", photo("abstract/Arc-Colors-Transparent-Wallpaper.png"), false, true},
        {"grey with alpha", photo("desktop/Stripes.png"), true, true},
        {"grey", made("grey.png", testsupport::PngKind::Grey), true, false},
        {"16 bits a sample", made("deep.png", testsupport::PngKind::Deep), false, false},
        {"palette", made("palette.png", testsupport::PngKind::Palette), false, false},
        {"interlaced", made("interlaced.png", testsupport::PngKind::Interlaced), false, false},
        {"interlaced, RGBA with transparency", testsupport::packagedPicture(testsupport::kLibpngTestPicture), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage whole = platform::readImage(c.path);
        ASSERT_FALSE(whole.isNull());
        platform::PngRowSource source(c.path);
        ASSERT_TRUE(source.isValid());
        EXPECT_EQ(QSize(source.width(), source.height()), whole.size());
        EXPECT_EQ(source.gray(), c.gray);
        EXPECT_EQ(source.transparent(), c.transparent);
        EXPECT_EQ(source.orientation(), 1);
        Streamed streamed = readInSteps(source, {1, 7, 64, whole.height()});
        EXPECT_TRUE(streamed.ok);
        EXPECT_TRUE(streamed.neverBack);
        EXPECT_TRUE(samePixels(streamed.picture, whole));
        EXPECT_TRUE(source.readRows(streamed.picture.bits(), streamed.picture.bytesPerLine(), whole.height() + 5));
    }
}

// What is no PNG is not read by rows; a damaged one, or one cut short while it is read,
// fails and stays failed, and the cut is told apart.
TEST(PngRowSource, FilesItDoesNotTakeOrCannotFinishFail) {
    QTemporaryDir dir;
    for (const QString& path : {photo("nature/Aqua.jpg"), dir.filePath("missing.png")}) {
        SCOPED_TRACE(path.toStdString());
        platform::PngRowSource source(path);
        EXPECT_FALSE(source.isValid());
        QImage rows(64, 64, QImage::Format_RGB32);
        EXPECT_FALSE(source.readRows(rows.bits(), rows.bytesPerLine(), 1));
    }

    const QByteArray rgb = testsupport::readFile(photo("desktop/Ubuntu-Mate-Cold-no-logo.png"));
    const QString shortened = testsupport::writeFile(dir.filePath("short.png"), rgb.left(rgb.size() / 2));
    const QString rewritten = testsupport::writeFile(dir.filePath("rewritten.png"), rgb);
    const QByteArray interlaced =
        testsupport::pngOfKind(platform::readImage(photo("nature/Aqua.jpg")), testsupport::PngKind::Interlaced);
    const QString interlacedShort =
        testsupport::writeFile(dir.filePath("interlaced-short.png"), interlaced.left(interlaced.size() / 2));
    const QString interlacedRewritten = testsupport::writeFile(dir.filePath("interlaced-rewritten.png"), interlaced);
    platform::DecodeOptions cutWhileOpen;
    cutWhileOpen.whileOpen = [](const QString& path) {
        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 4096), 0);
    };
    const struct {
        const char* name;
        QString path;
        platform::DecodeOptions options;
        bool cut;
    } cases[] = {
        {"cut short", shortened, {}, false},
        {"cut short while read", rewritten, cutWhileOpen, true},
        {"interlaced, cut short", interlacedShort, {}, false},
        {"interlaced, cut short while read", interlacedRewritten, cutWhileOpen, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PngRowSource source(c.path, c.options);
        // A cut may be found as the file is opened, or as its rows are read.
        EXPECT_FALSE(source.isValid() && readInSteps(source, {1, 7, 64, 300}).ok);
        EXPECT_EQ(source.cut(), c.cut);
        QImage rows(source.width(), source.height(), QImage::Format_RGB32);
        EXPECT_FALSE(source.readRows(rows.bits(), rows.bytesPerLine(), source.height()));
    }
}

// TIFFs as libtiff's tools write them from a real photo, read a band at a time (a strip or a
// row of tiles) in uneven steps, give the pixels of the whole decode, from the one opening
// whose header is readImageHeader's; a transparent one tells its opacity first and reads the
// same after. Colours converted while read are refused.
TEST(TiffRowSource, RowsReadInUnevenStepsAreThePixelsOfTheWholeDecode) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    const QImage meadow = platform::readImage(photo("nature/GreenMeadow.jpg"));
    ASSERT_FALSE(meadow.isNull());
    using testsupport::TiffSamples;
    const QStringList lzwStrips{"-c", "lzw", "-r", "16"};
    const struct {
        const char* name;
        TiffSamples samples;
        QStringList tiffcp;
        int orientation;
        bool transparent;
    } cases[] = {
        {"8-bit RGB, strips of 16 rows, no compression", TiffSamples::Rgb8, {"-c", "none", "-r", "16"}, 1, false},
        {"8-bit RGB, strips of 7 rows, LZW with a predictor", TiffSamples::Rgb8, {"-c", "lzw:2", "-r", "7"}, 1, false},
        {"8-bit RGB, 256 x 128 tiles, deflate", TiffSamples::Rgb8, {"-c", "zip", "-t", "-w", "256", "-l", "128"}, 1, false},
        {"8-bit RGB, a plane per colour", TiffSamples::Rgb8, {"-c", "lzw", "-p", "separate", "-r", "32"}, 1, false},
        {"8-bit RGB, JPEG-compressed YCbCr", TiffSamples::Rgb8, {"-c", "jpeg:90", "-r", "16"}, 1, false},
        {"16-bit RGB, strips, deflate", TiffSamples::Rgb16, {"-c", "zip", "-r", "16"}, 1, false},
        {"16-bit RGB, 128 x 128 tiles, LZW", TiffSamples::Rgb16, {"-c", "lzw", "-t", "-w", "128", "-l", "128"}, 1, false},
        {"grey, strips, LZW", TiffSamples::Grey8, lzwStrips, 1, false},
        {"RGBA, tiles, deflate", TiffSamples::Rgba8, {"-c", "zip", "-t", "-w", "256", "-l", "256"}, 1, true},
        {"stored upside down", TiffSamples::Rgb8, lzwStrips, 3, false},
    };
    int made = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::tiffcpFile(dir.filePath(QStringLiteral("t%1.tif").arg(made++)), meadow,
                                                     c.samples, c.tiffcp, c.orientation);
        if (path.isEmpty()) GTEST_SKIP() << "libtiff's tools (tiffcp, tiffset) are not installed";
        const QImage whole = platform::readImage(path);
        const platform::ImageHeader header = platform::readImageHeader(path);
        ASSERT_FALSE(whole.isNull());
        const std::unique_ptr<platform::RowSource> source = platform::openRowSource(path);
        ASSERT_TRUE(source->isValid());
        const platform::ImageHeader& opened = source->header();
        EXPECT_EQ(opened.format, platform::ImageFormat::TIFF);
        EXPECT_EQ(QSize(opened.width, opened.height), QSize(header.width, header.height));
        EXPECT_EQ(opened.orientation, c.orientation);
        EXPECT_EQ(opened.colourModel, header.colourModel);
        EXPECT_EQ(QSize(source->width(), source->height()), whole.size());
        EXPECT_EQ(source->transparent(), c.transparent);
        EXPECT_EQ(source->opaque(), std::optional<bool>(!c.transparent));
        Streamed streamed = readInSteps(*source, {1, 7, 64, whole.height()});
        EXPECT_TRUE(streamed.ok);
        EXPECT_TRUE(streamed.neverBack);
        EXPECT_TRUE(samePixels(streamed.picture, whole));
        // Stored without loss, 8-bit colour is the photo itself.
        if (c.samples == TiffSamples::Rgb8 && !c.tiffcp.contains("jpeg:90") && c.orientation == 1) {
            EXPECT_TRUE(samePixels(whole, meadow.convertToFormat(QImage::Format_RGB32)));
        }
        // Plain 8-bit RGB samples side by side come as their bytes when asked, the same
        // pixels; anything else stays words.
        const std::unique_ptr<platform::RowSource> bytes = platform::openRowSource(path);
        const bool plainRgb = c.samples == TiffSamples::Rgb8 && !c.tiffcp.contains("jpeg:90") &&
                              !c.tiffcp.contains("separate");
        ASSERT_EQ(bytes->rowsAsRgbBytes(), plainRgb);
        if (plainRgb) {
            QImage rgb(whole.size(), QImage::Format_RGB888);
            for (const int end : {1, 8, 70, whole.height()})
                ASSERT_TRUE(bytes->readRows(rgb.bits(), rgb.bytesPerLine(), end));
            EXPECT_TRUE(samePixels(rgb.convertToFormat(QImage::Format_RGB32), whole));
        }
    }
    const QString cmyk = testsupport::tiffcpFile(dir.filePath("cmyk.tif"), meadow, TiffSamples::Cmyk8, lzwStrips);
    ASSERT_FALSE(platform::readImage(cmyk).isNull());
    EXPECT_EQ(platform::openRowSource(cmyk)->refused(), platform::RowsRefused::Converted);
    // Cut short once open: its rows fail, and the cut is told apart from damage.
    const QString cut = testsupport::tiffcpFile(dir.filePath("cut.tif"), meadow, TiffSamples::Rgb8, {"-c", "none", "-r", "16"});
    platform::DecodeOptions cutWhileOpen;
    cutWhileOpen.whileOpen = [](const QString& path) {
        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 64 * 1024), 0);
    };
    const std::unique_ptr<platform::RowSource> source = platform::openRowSource(cut, cutWhileOpen);
    EXPECT_FALSE(source->isValid() && readInSteps(*source, {1, 7, 64, 300}).ok);
    EXPECT_TRUE(source->cut());
}

// Hands work's rows to sink in the given steps (the last step repeats) and scribbles over
// the rows the sink says it is done with at once: were it to read one again, its file
// would differ. After each step the sink must let go of the rows `due` gives for the rows
// handed in, while the rest is still to come; finishes the sink and gives what finish()
// gave.
template <class Sink, class Due>
auto feedStepByStep(Sink& sink, QImage& work, std::initializer_list<int> steps, Due due) {
    const int height = work.height();
    uchar* base = work.bits();
    const qsizetype stride = work.bytesPerLine();
    int handed = 0, scribbled = 0;
    bool withinHanded = true, neverBack = true;
    auto scribble = [&] {
        const int encoded = sink.rowsEncoded();
        withinHanded = withinHanded && encoded <= handed;
        neverBack = neverBack && encoded >= scribbled;
        for (; scribbled < encoded; ++scribbled) std::memset(base + qsizetype(scribbled) * stride, 0x5A, size_t(stride));
    };
    auto step = steps.begin();
    while (handed < height) {
        handed = std::min(height, handed + *step);
        sink.rowsDone(base, stride, handed);
        const int owed = due(handed);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sink.rowsEncoded() < owed && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_GE(sink.rowsEncoded(), owed) << "after " << handed << " rows";
        scribble();
        if (std::next(step) != steps.end()) ++step;
    }
    auto finished = sink.finish();
    scribble();
    EXPECT_TRUE(withinHanded) << "rows let go of before they were handed in";
    EXPECT_TRUE(neverBack) << "rows taken back after they were let go of";
    EXPECT_EQ(sink.rowsEncoded(), height);
    return finished;
}

TEST(JpegBandSink, RowsHandedInStepByStepGiveTheFileOfTheWholeEncoding) {
    const QImage aqua = platform::readImage(photo("nature/Aqua.jpg")).convertToFormat(QImage::Format_RGB32);
    const QImage elephants = platform::readImage(photo("abstract/Elephants_3840x2160.jpg"));  // premultiplied ARGB
    ASSERT_FALSE(aqua.isNull());
    ASSERT_FALSE(elephants.isNull());
    const QByteArray adobe = testsupport::debianProfile(testsupport::kAdobeRgbProfile);
    ASSERT_FALSE(adobe.isEmpty());
    const struct {
        const char* name;
        QImage picture;
        QByteArray icc;
        double quality;
        std::initializer_list<int> steps;
    } cases[] = {
        {"several bands", elephants, QByteArray(), 0.85, {1, 37, 200, 13, 640}},
        {"several bands, a profile", aqua, adobe, 0.9, {5, 190, 3, 400}},
        {"under two megapixels", aqua.copy(0, 0, 1600, 1000), adobe, 0.7, {16, 333}},
        // Partial MCUs along both edges, and bands that do not end on a step.
        {"odd size", aqua.copy(3, 5, 2557, 1597), QByteArray(), 0.8, {1, 7, 64, 251}},
        {"all at once", aqua, QByteArray(), 0.82, {100000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray expected = platform::codec::jpegEncode(c.picture, c.icc, c.quality);
        ASSERT_FALSE(expected.isEmpty());
        QImage work = c.picture.copy();
        platform::JpegBandSink sink(work.width(), work.height(), c.icc, c.quality);
        // The rows of every whole band handed in are let go of while the rest is still to come.
        const platform::codec::JpegBands bands(work.width(), work.height(), platform::codec::JpegSamples::Colour);
        const QByteArray file = feedStepByStep(sink, work, c.steps, [&](int handed) {
            const int ready = bands.readyBands(handed);
            return ready == bands.count() ? work.height() : bands.firstRow(ready);
        });
        EXPECT_EQ(file.size(), expected.size());
        EXPECT_TRUE(file == expected);
    }
}

TEST(BandSinks, FinishingBeforeEveryRowCameGivesNoWholeFile) {
    const QImage aqua = platform::readImage(photo("nature/Aqua.jpg")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(aqua.isNull());
    platform::JpegBandSink sink(aqua.width(), aqua.height(), QByteArray(), 0.9);
    sink.rowsDone(aqua.constBits(), aqua.bytesPerLine(), aqua.height() / 2);
    EXPECT_TRUE(sink.finish().isEmpty());
    EXPECT_LE(sink.rowsEncoded(), aqua.height() / 2);
    // A sink given up on before any row stops as well.
    platform::JpegBandSink unused(aqua.width(), aqua.height(), QByteArray(), 0.9);

    // A PNG's first bands are already out: what went out must not end as a file does.
    QByteArray file;
    platform::PngBandSink png(aqua.width(), aqua.height(), QByteArray(), platform::codec::appendTo(file));
    png.rowsDone(aqua.constBits(), aqua.bytesPerLine(), aqua.height() / 2);
    EXPECT_FALSE(png.finish());
    EXPECT_LE(png.rowsEncoded(), aqua.height() / 2);
    EXPECT_FALSE(file.contains("IEND"));
    QByteArray none;
    platform::PngBandSink unusedPng(aqua.width(), aqua.height(), QByteArray(), platform::codec::appendTo(none));
}

TEST(PngBandSink, RowsHandedInStepByStepGiveTheFileOfTheWholeWrite) {
    const QImage aqua = platform::readImage(photo("nature/Aqua.jpg")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(aqua.isNull());
    const QByteArray adobe = testsupport::debianProfile(testsupport::kAdobeRgbProfile);
    ASSERT_FALSE(adobe.isEmpty());
    const struct {
        const char* name;
        QImage picture;
        QByteArray icc;
        std::initializer_list<int> steps;
        bool transparent = false;
    } cases[] = {
        {"a profile, uneven steps", aqua, adobe, {1, 37, 200, 13, 640}},
        // Premultiplied rows straightened band by band as the whole picture is.
        {"transparent", platform::readImage(photo("abstract/Arc-Colors-Transparent-Wallpaper.png")), QByteArray(),
         {5, 90, 300}, true},
        // Bands that do not end on a step, and a last band of a few rows.
        {"odd size", aqua.copy(3, 5, 2557, 1597), QByteArray(), {7, 64, 251}},
        {"all at once", aqua, QByteArray(), {100000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray expected;
        ASSERT_TRUE(platform::codec::pngWrite(c.picture, c.icc, platform::codec::appendTo(expected)));
        // A band also reads the row above it; the sink lets go of a band's rows but its last
        // once it is written, a few bands at most behind the rows handed in.
        QImage work = c.picture.copy();
        QByteArray file;
        platform::PngBandSink sink(work.width(), work.height(), c.icc, platform::codec::appendTo(file),
                                   c.transparent ? platform::PngBandSink::Rows::Transparent
                                                 : platform::PngBandSink::Rows::Colour);
        EXPECT_TRUE(feedStepByStep(sink, work, c.steps, [](int handed) { return handed - 300; }));
        EXPECT_EQ(file.size(), expected.size());
        EXPECT_TRUE(file == expected) << "the file differs from the whole picture's";
    }
}
