#include "engine/PngOptimiser.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

namespace {

// A PNG assembled chunk by chunk, so each test controls exactly what the file holds.
struct PngBuilder {
    int width = 0, height = 0, bitDepth = 8, colorType = 0, interlace = 0;
    QByteArray rawRows;  // rows of the image data, each led by its filter byte
    QList<QPair<QByteArray, QByteArray>> before, after;  // chunks around IDAT
    int zlibLevel = 0;                                     // 0: stored, badly compressed

    static QByteArray chunk(const QByteArray& type, const QByteArray& data) {
        QByteArray out(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), reinterpret_cast<uchar*>(out.data()));
        out += type + data;
        QByteArray crc(4, '\0');
        uLong c = crc32(0, reinterpret_cast<const Bytef*>(type.constData()), 4);
        c = crc32(c, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
        qToBigEndian<quint32>(quint32(c), reinterpret_cast<uchar*>(crc.data()));
        return out + crc;
    }
    QByteArray bytes() const {
        QByteArray ihdr(13, '\0');
        qToBigEndian<quint32>(quint32(width), reinterpret_cast<uchar*>(ihdr.data()));
        qToBigEndian<quint32>(quint32(height), reinterpret_cast<uchar*>(ihdr.data()) + 4);
        ihdr[8] = char(bitDepth);
        ihdr[9] = char(colorType);
        ihdr[12] = char(interlace);
        uLongf size = compressBound(uLong(rawRows.size()));
        QByteArray z(qsizetype(size), '\0');
        compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(rawRows.constData()),
                  uLong(rawRows.size()), zlibLevel);
        z.resize(qsizetype(size));
        QByteArray out("\x89PNG\r\n\x1A\n", 8);
        out += chunk("IHDR", ihdr);
        for (const auto& [t, d] : before) out += chunk(t, d);
        out += chunk("IDAT", z);
        for (const auto& [t, d] : after) out += chunk(t, d);
        return out + chunk("IEND", {});
    }
};

// Rows for a non-interlaced image whose samples follow a pattern.
QByteArray patternRows(int width, int height, int bytesPerRow, int seed) {
    QByteArray rows;
    for (int y = 0; y < height; ++y) {
        rows.append('\0');
        for (int i = 0; i < bytesPerRow; ++i) rows.append(char((i * 3 + y * seed + (i / 5) * y) & 0xFF));
    }
    return rows;
}

QList<QByteArray> chunkTypes(const QByteArray& png) {
    QList<QByteArray> types;
    for (qsizetype at = 8; at + 8 <= png.size();) {
        const quint32 len = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(png.constData()) + at);
        types.append(png.mid(at + 4, 4));
        at += 12 + qsizetype(len);
    }
    return types;
}

struct OptimiserRun {
    int rc;
    std::string out;
};

OptimiserRun optimise(const QString& in, const QString& out, int method = kPngOptimiserBatchMethod, int memLevel = 8) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int rc = processPNG(QFile::encodeName(in).constData(), QFile::encodeName(out).constData(), method, memLevel);
    OptimiserRun r{rc, testing::internal::GetCapturedStdout()};
    testing::internal::GetCapturedStderr();
    return r;
}

}  // namespace

TEST(PngOptimiser, RecompressesEveryKindOfImagePixelExact) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        PngBuilder png;
    };
    std::vector<Case> cases;
    {   // 1-bit grey
        PngBuilder b;
        b.width = 61; b.height = 40; b.bitDepth = 1; b.colorType = 0;
        b.rawRows = patternRows(b.width, b.height, (b.width + 7) / 8, 1);
        cases.push_back({"grey1", b});
    }
    {   // 4-bit palette with transparency
        PngBuilder b;
        b.width = 50; b.height = 30; b.bitDepth = 4; b.colorType = 3;
        QByteArray plte;
        for (int i = 0; i < 16; ++i) {
            plte.append(char(i * 16));
            plte.append(char(255 - i * 16));
            plte.append(char(i * 7));
        }
        b.before = {{"PLTE", plte}, {"tRNS", QByteArray("\x00\x40\x80\xFF", 4)}};
        b.rawRows = patternRows(b.width, b.height, (b.width * 4 + 7) / 8, 3);
        cases.push_back({"palette", b});
    }
    {   // 8-bit RGBA
        PngBuilder b;
        b.width = 40; b.height = 33; b.colorType = 6;
        b.rawRows = patternRows(b.width, b.height, b.width * 4, 5);
        cases.push_back({"rgba", b});
    }
    {   // 16-bit grey with alpha
        PngBuilder b;
        b.width = 20; b.height = 20; b.bitDepth = 16; b.colorType = 4;
        b.rawRows = patternRows(b.width, b.height, b.width * 4, 2);
        cases.push_back({"greyalpha16", b});
    }
    {   // interlaced RGB: the rows of the seven passes, each led by its filter byte
        PngBuilder b;
        b.width = 19; b.height = 13; b.colorType = 2; b.interlace = 1;
        const int xs[] = {0, 4, 0, 2, 0, 1, 0}, ys[] = {0, 0, 4, 0, 2, 0, 1};
        const int dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
        for (int p = 0; p < 7; ++p) {
            const int pw = (b.width - xs[p] + dx[p] - 1) / dx[p], ph = (b.height - ys[p] + dy[p] - 1) / dy[p];
            if (pw > 0 && ph > 0) b.rawRows += patternRows(pw, ph, pw * 3, p + 1);
        }
        cases.push_back({"interlaced", b});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray input = c.png.bytes();
        const QString in = testsupport::writeFile(dir.filePath(QString(c.name) + ".png"), input);
        const QString out = dir.filePath(QString(c.name) + "-out.png");
        const OptimiserRun r = optimise(in, out);
        ASSERT_EQ(r.rc, 0) << r.out;
        const QByteArray output = testsupport::readFile(out);
        EXPECT_LT(output.size(), input.size());
        EXPECT_EQ(output.mid(16, 13), input.mid(16, 13));  // same IHDR: size, depth, colour type, interlace
        const QImage a = platform::readImageFromData(input), b = platform::readImageFromData(output);
        ASSERT_FALSE(a.isNull());
        EXPECT_EQ(a, b);
        EXPECT_NE(r.out.find("IDAT length with method  97 (fm 2 zl 7 zs 1)"), std::string::npos) << r.out;
    }
}

TEST(PngOptimiser, KeepsMetadataAndColourChunks) {
    QTemporaryDir dir;
    PngBuilder b;
    b.width = 32; b.height = 32; b.colorType = 2;
    b.rawRows = patternRows(b.width, b.height, b.width * 3, 4);
    QByteArray chrm(32, '\0');
    const quint32 srgb[8] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    for (int i = 0; i < 8; ++i) qToBigEndian<quint32>(srgb[i], reinterpret_cast<uchar*>(chrm.data()) + i * 4);
    QByteArray phys(9, '\0');
    qToBigEndian<quint32>(2835, reinterpret_cast<uchar*>(phys.data()));
    qToBigEndian<quint32>(2835, reinterpret_cast<uchar*>(phys.data()) + 4);
    phys[8] = 1;
    QByteArray exif("MM\0*\0\0\0\x08\0\0\0\0\0\0", 14);
    QByteArray ztxt = QByteArray("Comment") + '\0' + '\0';
    {
        uLongf n = 64;
        QByteArray z(64, '\0');
        compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>("zipped"), 6, 9);
        ztxt += z.left(qsizetype(n));
    }
    b.before = {{"gAMA", QByteArray("\x00\x00\xB1\x8F", 4)},
                {"cHRM", chrm},
                {"sBIT", QByteArray("\x08\x08\x08", 3)},
                {"pHYs", phys},
                {"bKGD", QByteArray("\x00\x10\x00\x20\x00\x30", 6)},
                {"eXIf", exif},
                {"tEXt", QByteArray("Title") + '\0' + "A photo"},
                {"iTXt", QByteArray("XML:com.adobe.xmp") + QByteArray(5, '\0') + "<x/>"},
                {"zTXt", ztxt}};
    b.after = {{"prVt", "private data"}, {"tEXt", QByteArray("Author") + '\0' + "Someone"}};
    const QString in = testsupport::writeFile(dir.filePath("meta.png"), b.bytes());
    const QString out = dir.filePath("meta-out.png");
    const OptimiserRun r = optimise(in, out);
    ASSERT_EQ(r.rc, 0) << r.out;
    const QList<QByteArray> types = chunkTypes(testsupport::readFile(out));
    for (const char* t : {"gAMA", "cHRM", "sBIT", "pHYs", "bKGD", "eXIf", "tEXt", "iTXt", "zTXt"})
        EXPECT_TRUE(types.contains(t)) << t;
    // The private chunk stays after the image data.
    EXPECT_GT(types.indexOf("prVt"), types.lastIndexOf("IDAT"));
    EXPECT_EQ(types.count("tEXt"), 2);

    // The colour profile too (in a file of its own: iCCP and sRGB exclude each other).
    PngBuilder c = b;
    QByteArray profile(200, 'p');
    uLongf n = compressBound(200);
    QByteArray z(qsizetype(n), '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(profile.constData()), 200, 9);
    c.before = {{"iCCP", QByteArray("Test profile") + '\0' + '\0' + z.left(qsizetype(n))}};
    c.after.clear();
    const QString in2 = testsupport::writeFile(dir.filePath("icc.png"), c.bytes());
    // libpng checks a profile's header; a made-up one may be dropped with a warning, but
    // the run must still succeed and the pixels stay.
    const OptimiserRun r2 = optimise(in2, dir.filePath("icc-out.png"));
    EXPECT_EQ(r2.rc, 0) << r2.out;
}

TEST(PngOptimiser, NeverGrowsAndCopiesWhenRecodingLoses) {
    QTemporaryDir dir;
    PngBuilder b;
    b.width = 64; b.height = 64; b.colorType = 2; b.zlibLevel = 9;
    b.rawRows = patternRows(b.width, b.height, b.width * 3, 1);
    const QByteArray input = b.bytes();
    const QString in = testsupport::writeFile(dir.filePath("tight.png"), input);
    // Method 1 (no filter, level 4) cannot beat level 9 on the same rows.
    const OptimiserRun r = optimise(in, dir.filePath("copy.png"), 1);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(testsupport::readFile(dir.filePath("copy.png")), input);
    EXPECT_NE(r.out.find("Best optimiser method = 0 (settings undetermined)"), std::string::npos);

    // A second pass over an optimised file keeps it no larger.
    const OptimiserRun first = optimise(in, dir.filePath("once.png"));
    ASSERT_EQ(first.rc, 0);
    const OptimiserRun second = optimise(dir.filePath("once.png"), dir.filePath("twice.png"));
    ASSERT_EQ(second.rc, 0);
    EXPECT_LE(testsupport::readFile(dir.filePath("twice.png")).size(), testsupport::readFile(dir.filePath("once.png")).size());
}

TEST(PngOptimiser, FailuresReturnNonZeroAndLeaveTheOutputAlone) {
    QTemporaryDir dir;
    PngBuilder b;
    b.width = 16; b.height = 16; b.colorType = 0;
    b.rawRows = patternRows(16, 16, 16, 1);
    const QByteArray good = b.bytes();
    const QString in = testsupport::writeFile(dir.filePath("in.png"), good);
    const QString out = testsupport::writeFile(dir.filePath("out.png"), "earlier output");

    const OptimiserRun missing = optimise(dir.filePath("nope.png"), out);
    EXPECT_NE(missing.rc, 0);
    const std::string line = "Could not find file: " + dir.filePath("nope.png").toStdString();
    const size_t at = missing.out.find(line);
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(missing.out.find(line, at + 1), std::string::npos);

    struct { const char* name; QByteArray bytes; int memLevel; } bad[] = {
        {"not a png", "GIF89a not a png at all", 8},
        {"empty", QByteArray(), 8},
        {"truncated", good.left(good.size() - 20), 8},
        {"bad crc in IHDR", QByteArray(good).replace(29, 1, "\x00"), 8},
        {"memory level 0", good, 0},
        {"memory level 10", good, 10},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QString("bad-%1.png").arg(c.name)), c.bytes);
        EXPECT_NE(optimise(path, out, kPngOptimiserBatchMethod, c.memLevel).rc, 0);
        EXPECT_EQ(testsupport::readFile(out), QByteArray("earlier output"));
    }
    // Input and output the same file.
    const OptimiserRun same = optimise(in, in);
    EXPECT_NE(same.rc, 0);
    EXPECT_EQ(testsupport::readFile(in), good);
    EXPECT_NE(same.out.find("Cannot overwrite input file"), std::string::npos);
    // Nothing but the files this test made is left in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".png.").size(), 0);
    // The banner names the libpng actually running.
    EXPECT_NE(same.out.find(png_get_libpng_ver(nullptr)), std::string::npos);
}

TEST(PngOptimiser, CompressedOutputOfAnImage) {
    QTemporaryDir dir;
    const QImage picture = testsupport::gradientImage(120, 90).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Only this writer's temporary files ("TempFile.*"): batch runs in other tests use "TempFile-*".
    const QStringList before = QDir(QDir::tempPath()).entryList({"TempFile.*"}, QDir::Files);
    const QString dest = dir.filePath("compressed.png");
    testing::internal::CaptureStdout();
    const bool ok = saveCompressedPNG(picture, dest, {}, 8);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok);
    EXPECT_EQ(platform::readImage(dest), picture);
    EXPECT_EQ(QDir(QDir::tempPath()).entryList({"TempFile.*"}, QDir::Files), before);
    // A memory level zlib refuses still gives the user a file, written directly.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool fallback = saveCompressedPNG(picture, dir.filePath("direct.png"), {}, 0);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fallback);
    EXPECT_EQ(platform::readImage(dir.filePath("direct.png")), picture);
}

// Real colour profiles go through the optimiser byte for byte, the widespread sRGB one
// that libpng lists as faulty among them (libpng refuses to write it unless told not to
// check), and grey ones on grey files.
TEST(PngOptimiser, KeepsRealColourProfiles) {
    QTemporaryDir dir;
    QImage colour = testsupport::gradientImage(64, 48).convertToFormat(QImage::Format_RGB32);
    QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
    struct Case {
        const char* name;
        QImage picture;
        QByteArray icc;
    } cases[] = {
        {"widespread sRGB", colour, testsupport::widespreadSrgbProfile()},
        {"Adobe RGB", colour, testsupport::debianProfile(testsupport::kAdobeRgbProfile)},
        {"grey", grey, testsupport::debianProfile(testsupport::kGrayLinearProfile)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(platform::setImageProfile(c.picture, c.icc));
        const QString in = testsupport::writeFile(dir.filePath("in.png"), platform::encodeImage(c.picture, platform::ImageType::PNG, 1.0));
        ASSERT_EQ(testsupport::pngChunkProfile(testsupport::readFile(in)), c.icc);
        const QString out = dir.filePath("out.png");
        const OptimiserRun r = optimise(in, out);
        ASSERT_EQ(r.rc, 0) << r.out;
        EXPECT_EQ(testsupport::pngChunkProfile(testsupport::readFile(out)), c.icc);
        EXPECT_EQ(platform::readImage(out), platform::readImage(in));
    }
}
