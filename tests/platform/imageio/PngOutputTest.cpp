// PNG files as the writer leaves them: written band by band into the file, metadata put
// in without the picture data passing through the metadata library, and the check that a
// written file decodes whole.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>

using platform::ImageType;

namespace {

struct Chunk {
    QByteArray type;
    QByteArray data;
};

QList<Chunk> pngChunks(const QByteArray& png) {
    QList<Chunk> chunks;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype n = qFromBigEndian<quint32>(png.constData() + at);
        chunks.append({png.mid(at + 4, 4), png.mid(at + 8, n)});
        at += 12 + n;
    }
    return chunks;
}

QByteArray idatData(const QByteArray& png) {
    QByteArray data;
    for (const Chunk& c : pngChunks(png))
        if (c.type == "IDAT") data += c.data;
    return data;
}

int idatCount(const QByteArray& png) {
    int n = 0;
    for (const Chunk& c : pngChunks(png)) n += c.type == "IDAT";
    return n;
}

// Grain over a gradient: several bands of the encoder's, none of them tiny.
QImage grainyPicture(int w, int h) {
    QImage img = testsupport::softPhoto(w, h).convertToFormat(QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int g = int(seed >> 29) - 4;
            row[x] = qRgb(std::clamp(qRed(row[x]) + g, 0, 255), std::clamp(qGreen(row[x]) + g, 0, 255),
                          std::clamp(qBlue(row[x]) + g, 0, 255));
        }
    }
    return img;
}

QByteArray writtenByLibpng(const QImage& image) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return out;
}

// Sets the checksum of the chunk that holds offset `at` to match its bytes.
void fixChunkCrc(QByteArray& png, qsizetype at) {
    for (qsizetype c = 8; c + 12 <= png.size();) {
        const qsizetype n = qFromBigEndian<quint32>(png.constData() + c);
        if (at < c + 12 + n) {
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + c + 4), uInt(n + 4));
            qToBigEndian<quint32>(quint32(crc), png.data() + c + 8 + n);
            return;
        }
        c += 12 + n;
    }
}


// A PNG of `rows` rows of 3 grey bytes each (filter byte first), its image data made of
// the given pieces: each deflated on its own, ending with a final block only when `last`
// says so, one IDAT chunk each. `height` is what IHDR says.
struct Piece {
    QByteArray rows;
    bool last;
};

QByteArray chunkOf(const char* type, const QByteArray& data) {
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type, 4) + data;
    out += body;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))), crc.data());
    return out + crc;
}

QByteArray deflatedPiece(const QByteArray& data, bool last) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size())) + 16), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray greyPng(int height, const QList<QByteArray>& idat, const QByteArray& allRows) {
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(3, ihdr.data());
    qToBigEndian<quint32>(quint32(height), ihdr.data() + 4);
    ihdr[8] = 8;
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += chunkOf("IHDR", ihdr);
    for (qsizetype i = 0; i < idat.size(); ++i) {
        QByteArray data = idat[i];
        if (i == 0) data.prepend("\x78\x9c", 2);
        if (i + 1 == idat.size()) {
            QByteArray sum(4, '\0');
            qToBigEndian<quint32>(quint32(adler32(1, reinterpret_cast<const Bytef*>(allRows.constData()), uInt(allRows.size()))), sum.data());
            data += sum;
        }
        png += chunkOf("IDAT", data);
    }
    return png + chunkOf("IEND", {});
}

QByteArray greyRows(int count, int shade) {
    QByteArray rows;
    for (int y = 0; y < count; ++y) rows += QByteArray(1, '\1') + QByteArray(3, char(y * 7 + shade));
    return rows;
}

}  // namespace

TEST(PngOutput, TheFileWrittenIsTheEncodedPictureAndMetadataLeavesThePictureDataAsItWas) {
    QTemporaryDir dir;
    const QImage picture = grainyPicture(700, 1300);
    const QByteArray encoded = platform::encodeImage(picture, ImageType::PNG, 1.0);
    ASSERT_GT(idatCount(encoded), 2);
    const QString plain = dir.filePath("plain.png");
    ASSERT_TRUE(platform::writeImageFile(plain, picture, ImageType::PNG, 1.0));
    EXPECT_EQ(testsupport::readFile(plain), encoded);

    const QVariantMap props{{"{TIFF}", QVariantMap{{"Make", "Brisko Test Camera"}}},
                            {"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"}}},
                            {"{IPTC}", QVariantMap{{"Keywords", QVariantList{"elephant"}}}}};
    // Ours (one IDAT chunk a band) and libpng's (many small IDAT chunks) alike.
    const struct {
        const char* name;
        QByteArray png;
    } files[] = {{"ours", encoded}, {"libpng's", writtenByLibpng(picture)}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const QString path = testsupport::writeFile(dir.filePath(QString(f.name) + ".png"), f.png);
        ASSERT_TRUE(platform::writeImageProperties(path, props));
        const QByteArray tagged = testsupport::readFile(path);
        EXPECT_EQ(idatCount(tagged), idatCount(f.png));
        EXPECT_EQ(idatData(tagged), idatData(f.png));
        EXPECT_TRUE(testsupport::samePixels(platform::readImage(path), picture));
        const QVariantMap back = platform::readImageProperties(path);
        EXPECT_EQ(back.value("{TIFF}").toMap().value("Make"), "Brisko Test Camera");
        EXPECT_EQ(back.value("{Exif}").toMap().value("DateTimeOriginal"), "2021:05:30 08:09:10");
        // Written again, the metadata is replaced, not added to.
        ASSERT_TRUE(platform::writeImageProperties(path, {{"{TIFF}", QVariantMap{{"Make", "Other"}}}}));
        EXPECT_EQ(idatData(testsupport::readFile(path)), idatData(f.png));
        EXPECT_EQ(platform::readImageProperties(path).value("{TIFF}").toMap().value("Make"), "Other");
    }
}

TEST(PngOutput, AWrittenFileCountsAsDecodingOnlyWhenAllItsDataDecodes) {
    QTemporaryDir dir;
    const QImage picture = grainyPicture(300, 200);
    const QByteArray png = platform::encodeImage(picture, ImageType::PNG, 1.0);
    const qsizetype dataAt = png.indexOf("IDAT") + 4;
    const qsizetype iend = png.indexOf("IEND") - 4;
    QByteArray interlaced;
    {
        QBuffer buffer(&interlaced);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setProgressiveScanWrite(true);
        writer.write(picture);
    }
    auto flipped = [&](qsizetype at, bool fixCrc) {
        QByteArray bad = png;
        bad[at] = char(bad[at] ^ 0x5a);
        if (fixCrc) fixChunkCrc(bad, at);
        return bad;
    };
    const struct {
        const char* name;
        QByteArray bytes;
        bool decodes;
    } cases[] = {
        {"whole", png, true},
        {"interlaced", interlaced, true},
        {"JPEG", platform::encodeImage(picture, ImageType::JPEG, 0.9), true},
        {"cut in the data", png.left(dataAt + 100), false},
        {"cut before IEND", png.left(iend), false},
        {"a data byte changed", flipped(dataAt + 200, false), false},
        // Only decoding notices these: the chunk's checksum was made to match.
        {"damaged compressed data", flipped(dataAt + 6, true), false},
        {"wrong data checksum", flipped(iend - 5, true), false},
        {"JPEG cut short", platform::encodeImage(picture, ImageType::JPEG, 0.9).left(2000), false},
        {"empty", QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QString(c.name) + ".img"), c.bytes);
        EXPECT_EQ(platform::pictureDecodes(path), c.decodes);
    }
    EXPECT_FALSE(platform::pictureDecodes(dir.filePath("missing.png")));
}

// Image data in chunks that each inflate alone (one a band, as the encoder writes them) is
// checked a chunk at a time; the whole stream must still be what a decoder reads.
TEST(PngOutput, TheCheckOfDataInBandsSeesTheStreamAsADecoderReadsIt) {
    QTemporaryDir dir;
    const QByteArray a = greyRows(40, 0), b = greyRows(40, 3), c = greyRows(20, 5);
    const QByteArray rows = a + b + c;
    const QByteArray pa = deflatedPiece(a, false), pb = deflatedPiece(b, false), pc = deflatedPiece(c, true);
    QByteArray badFilter = rows;
    badFilter[4 * 50] = 5;
    QByteArray badText = greyPng(100, {pa, pb, pc}, rows);
    badText.insert(badText.size() - 12, chunkOf("tEXt", QByteArray("Comment\0hello", 13)));
    badText[badText.size() - 18] = 'j';
    const struct {
        const char* name;
        QByteArray png;
        bool decodes;
    } cases[] = {
        {"bands", greyPng(100, {pa, pb, pc}, rows), true},
        {"one stream split inside a band", greyPng(100, {deflatedPiece(rows, true).left(30), deflatedPiece(rows, true).mid(30)}, rows), true},
        {"a band's last block is final", greyPng(100, {deflatedPiece(a, true), pb, pc}, rows), false},
        {"bands in the wrong order", greyPng(100, {pb, pa, pc}, b + a + c), true},
        {"bands swapped after the checksum was made", greyPng(100, {pb, pa, pc}, rows), false},
        {"a band left out", greyPng(100, {pa, pc}, rows), false},
        {"a band left out, checksum of what is left", greyPng(60, {pa, pc}, a + c), true},
        {"a row fewer than the header says", greyPng(101, {pa, pb, pc}, rows), false},
        {"a row more than the header says", greyPng(99, {pa, pb, pc}, rows), false},
        {"a filter byte out of range", greyPng(100, {deflatedPiece(badFilter, true)}, badFilter), false},
        {"a byte of a text chunk changed", badText, false},
        {"data after the stream's end", greyPng(100, {pa, pb, pc + QByteArray("\x03\x00", 2)}, rows), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::pictureDecodes(testsupport::writeFile(dir.filePath(QString(c.name) + ".png"), c.png)), c.decodes);
    }
}
