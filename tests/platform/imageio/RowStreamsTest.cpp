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
Streamed readInSteps(platform::JpegRowSource& source, std::initializer_list<int> steps) {
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
        EXPECT_EQ(source.rowsRead(), 0);
        Streamed streamed = readInSteps(source, {1, 7, 64, whole.height()});
        EXPECT_TRUE(streamed.ok);
        EXPECT_TRUE(streamed.neverBack);
        EXPECT_EQ(source.rowsRead(), whole.height());
        EXPECT_TRUE(samePixels(streamed.picture, whole));
        // Past the end there is nothing more to read, and that is no failure.
        EXPECT_TRUE(source.readRows(streamed.picture.bits(), streamed.picture.bytesPerLine(), whole.height() + 5));
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
    // Pictures it does not take: grey, not a JPEG, no file.
    for (const QString& path : {testsupport::packagedPicture(testsupport::kManualPictures + "objects.jpg"),
                                photo("abstract/Flow.png"), dir.filePath("missing.jpg")}) {
        SCOPED_TRACE(path.toStdString());
        platform::JpegRowSource source(path);
        EXPECT_FALSE(source.isValid());
        QImage rows(64, 64, QImage::Format_RGB32);
        EXPECT_FALSE(source.readRows(rows.bits(), rows.bytesPerLine(), 1));
    }
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
        // The rows the sink is done with are scribbled over at once: were it to read one
        // again, the file would differ.
        QImage work = c.picture.copy();
        const int height = work.height();
        uchar* base = work.bits();
        const qsizetype stride = work.bytesPerLine();
        platform::JpegBandSink sink(work.width(), height, c.icc, c.quality);
        int handed = 0, scribbled = 0;
        bool withinHanded = true, neverBack = true;
        auto scribble = [&] {
            const int encoded = sink.rowsEncoded();
            withinHanded = withinHanded && encoded <= handed;
            neverBack = neverBack && encoded >= scribbled;
            for (; scribbled < encoded; ++scribbled) std::memset(base + qsizetype(scribbled) * stride, 0x5A, size_t(stride));
        };
        // The rows of every whole band handed in are let go of while the rest is still to come.
        const platform::codec::JpegBands bands(work.width(), height, false);
        auto step = c.steps.begin();
        while (handed < height) {
            handed = std::min(height, handed + *step);
            sink.rowsDone(base, stride, handed);
            const int ready = bands.readyBands(handed);
            const int due = ready == bands.count() ? height : bands.firstRow(ready);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (sink.rowsEncoded() < due && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            EXPECT_GE(sink.rowsEncoded(), due);
            scribble();
            if (std::next(step) != c.steps.end()) ++step;
        }
        const QByteArray file = sink.finish();
        scribble();
        EXPECT_TRUE(withinHanded);
        EXPECT_TRUE(neverBack);
        EXPECT_EQ(sink.rowsEncoded(), height);
        EXPECT_EQ(file.size(), expected.size());
        EXPECT_TRUE(file == expected);
    }
}

TEST(JpegBandSink, FinishingBeforeEveryRowCameGivesNothing) {
    const QImage aqua = platform::readImage(photo("nature/Aqua.jpg")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(aqua.isNull());
    platform::JpegBandSink sink(aqua.width(), aqua.height(), QByteArray(), 0.9);
    sink.rowsDone(aqua.constBits(), aqua.bytesPerLine(), aqua.height() / 2);
    EXPECT_TRUE(sink.finish().isEmpty());
    EXPECT_LE(sink.rowsEncoded(), aqua.height() / 2);
    // A sink given up on before any row stops as well.
    platform::JpegBandSink unused(aqua.width(), aqua.height(), QByteArray(), 0.9);
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
    } cases[] = {
        {"a profile, uneven steps", aqua, adobe, {1, 37, 200, 13, 640}},
        // Bands that do not end on a step, and a last band of a few rows.
        {"odd size", aqua.copy(3, 5, 2557, 1597), QByteArray(), {7, 64, 251}},
        {"all at once", aqua, QByteArray(), {100000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray expected;
        ASSERT_TRUE(platform::codec::pngWrite(c.picture, c.icc, platform::codec::appendTo(expected)));
        // Rows the sink is done with are scribbled over at once: were it to read one again
        // (a band reads the row above it too), the file would differ.
        QImage work = c.picture.copy();
        const int height = work.height();
        uchar* base = work.bits();
        const qsizetype stride = work.bytesPerLine();
        QByteArray file;
        platform::PngBandSink sink(work.width(), height, c.icc, platform::codec::appendTo(file));
        int handed = 0, scribbled = 0;
        bool withinHanded = true;
        auto step = c.steps.begin();
        while (handed < height) {
            handed = std::min(height, handed + *step);
            sink.rowsDone(base, stride, handed);
            // Once a few bands are in, the sink lets go of rows while the rest is to come.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (sink.rowsEncoded() < handed - 300 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            EXPECT_GE(sink.rowsEncoded(), handed - 300);
            const int encoded = sink.rowsEncoded();
            withinHanded = withinHanded && encoded <= handed;
            for (; scribbled < encoded; ++scribbled) std::memset(base + qsizetype(scribbled) * stride, 0x5A, size_t(stride));
            if (std::next(step) != c.steps.end()) ++step;
        }
        EXPECT_TRUE(sink.finish());
        EXPECT_TRUE(withinHanded);
        EXPECT_EQ(sink.rowsEncoded(), height);
        EXPECT_EQ(file.size(), expected.size());
        EXPECT_TRUE(file == expected) << "the file differs from the whole picture's";
    }
}
