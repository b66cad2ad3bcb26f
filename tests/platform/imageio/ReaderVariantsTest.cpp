// TIFF, GIF and BMP files of the less common but legal kinds, made here byte for byte or
// with libtiff, read against the pixels they were made from.
#include "platform/imageio/ImageIO.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <vector>

using testsupport::maxDiff;
using testsupport::meanDiff;

namespace {

// A picture with every channel varying differently, and a straight alpha ramp.
struct Sample {
    int r, g, b, a;
};
constexpr int kW = 37, kH = 23;
Sample sampleAt(int x, int y) {
    return {(x * 7 + y * 3) % 256, (x * 2 + y * 11) % 256, 255 - (x * 5 + y) % 256, std::min(255, 40 + x * 6)};
}

// What a reader should give for it: premultiplied, or opaque when alpha is left out.
QImage expected(bool alpha, bool gray = false) {
    QImage img(kW, kH, QImage::Format_ARGB32);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const Sample s = sampleAt(x, y);
            img.setPixel(x, y, gray ? qRgba(s.r, s.r, s.r, alpha ? s.a : 255) : qRgba(s.r, s.g, s.b, alpha ? s.a : 255));
        }
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// How one 8-bit value is stored at a depth.
struct Depth {
    const char* name;
    uint16_t bits;
    uint16_t format;
    std::function<void(uint8_t*, size_t, int)> put;  // writes value v as sample index i of a row
};

void putBits(uint8_t* row, size_t index, uint32_t value, int bits) {
    for (int b = 0; b < bits; ++b) {
        const size_t at = index * size_t(bits) + size_t(b);
        if ((value >> (bits - 1 - b)) & 1u) row[at >> 3] |= uint8_t(0x80u >> (at & 7));
    }
}

std::vector<Depth> depths() {
    return {
        {"12-bit", 12, SAMPLEFORMAT_UINT, [](uint8_t* row, size_t i, int v) {
             putBits(row, i, uint32_t(std::lround(v * 4095.0 / 255.0)), 12);
         }},
        {"16-bit", 16, SAMPLEFORMAT_UINT, [](uint8_t* row, size_t i, int v) {
             const uint16_t s = uint16_t(v * 257);
             std::memcpy(row + 2 * i, &s, 2);
         }},
        {"32-bit integer", 32, SAMPLEFORMAT_UINT, [](uint8_t* row, size_t i, int v) {
             const uint32_t s = uint32_t(v) * 16843009u;
             std::memcpy(row + 4 * i, &s, 4);
         }},
        {"32-bit float", 32, SAMPLEFORMAT_IEEEFP, [](uint8_t* row, size_t i, int v) {
             const float s = float(v) / 255.0f;
             std::memcpy(row + 4 * i, &s, 4);
         }},
        {"64-bit float", 64, SAMPLEFORMAT_IEEEFP, [](uint8_t* row, size_t i, int v) {
             const double s = v / 255.0;
             std::memcpy(row + 8 * i, &s, 8);
         }},
    };
}

struct TiffCase {
    const char* name;
    const Depth* depth;
    uint16_t photometric = PHOTOMETRIC_RGB;
    bool alpha = false;
    bool tiled = false;
    bool planar = false;
    bool big = false;
    uint16_t compression = COMPRESSION_NONE;
};

// Writes the sample picture with libtiff in the case's layout.
QByteArray makeTiff(const QString& path, const TiffCase& c) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), c.big ? "w8" : "w");
    if (!tif) return {};
    const bool gray = c.photometric == PHOTOMETRIC_MINISBLACK || c.photometric == PHOTOMETRIC_MINISWHITE;
    const int colours = gray ? 1 : 3;
    const int spp = colours + (c.alpha ? 1 : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(kW));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(kH));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.depth->bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, c.depth->format);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, c.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
    if (c.compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (c.alpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    auto value = [&](int x, int y, int sample) {
        const Sample s = sampleAt(x, y);
        int v = sample == colours ? s.a : sample == 0 ? s.r : sample == 1 ? s.g : s.b;
        if (c.photometric == PHOTOMETRIC_MINISWHITE && sample == 0) v = 255 - v;
        return v;
    };
    const int planes = c.planar ? spp : 1;
    const int perChunk = c.planar ? 1 : spp;
    if (c.tiled) {
        const uint32_t tw = 16, th = 16;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, th);
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
        const tmsize_t rowBytes = TIFFTileRowSize(tif);
        for (int p = 0; p < planes; ++p)
            for (uint32_t ty = 0; ty < kH; ty += th)
                for (uint32_t tx = 0; tx < kW; tx += tw) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (uint32_t y = 0; y < th; ++y)
                        for (uint32_t x = 0; x < tw; ++x)
                            for (int s = 0; s < perChunk; ++s) {
                                const int px = int(std::min<uint32_t>(tx + x, kW - 1)), py = int(std::min<uint32_t>(ty + y, kH - 1));
                                c.depth->put(tile.data() + y * rowBytes, size_t(x) * perChunk + s, value(px, py, c.planar ? p : s));
                            }
                    TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, uint16_t(p)), tile.data(), tmsize_t(tile.size()));
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(5));
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < kH; ++y) {
                std::fill(row.begin(), row.end(), 0);
                for (int x = 0; x < kW; ++x)
                    for (int s = 0; s < perChunk; ++s) c.depth->put(row.data(), size_t(x) * perChunk + s, value(x, y, c.planar ? p : s));
                TIFFWriteScanline(tif, row.data(), uint32_t(y), uint16_t(p));
            }
    }
    TIFFClose(tif);
    return testsupport::readFile(path);
}

}  // namespace

// Deep, floating-point, tiled, planar and BigTIFF files give the 8-bit picture they were
// made from (alpha premultiplied as the program keeps it).
TEST(ReaderVariants, DeepTiffSamplesInEveryLayoutScaleToTheirEightBitValues) {
    QTemporaryDir dir;
    const std::vector<Depth> d = depths();
    const Depth& d12 = d[0];
    const Depth& d16 = d[1];
    const Depth& d32 = d[2];
    const Depth& f32 = d[3];
    const Depth& f64 = d[4];
    const TiffCase cases[] = {
        {"12-bit RGB", &d12},
        {"16-bit RGB", &d16},
        {"32-bit integer RGB", &d32},
        {"32-bit float RGB", &f32},
        {"64-bit float RGB", &f64},
        {"16-bit RGBA in strips", &d16, PHOTOMETRIC_RGB, true},
        {"16-bit RGBA in tiles", &d16, PHOTOMETRIC_RGB, true, true},
        {"16-bit RGBA in planes", &d16, PHOTOMETRIC_RGB, true, false, true},
        {"16-bit RGBA in planar tiles", &d16, PHOTOMETRIC_RGB, true, true, true},
        {"16-bit RGBA compressed with a predictor", &d16, PHOTOMETRIC_RGB, true, false, false, false,
         COMPRESSION_ADOBE_DEFLATE},
        {"32-bit float RGBA in tiles", &f32, PHOTOMETRIC_RGB, true, true},
        {"16-bit grey", &d16, PHOTOMETRIC_MINISBLACK},
        {"16-bit grey, white is zero", &d16, PHOTOMETRIC_MINISWHITE},
        {"12-bit grey with alpha", &d12, PHOTOMETRIC_MINISBLACK, true},
        {"BigTIFF, 16-bit RGB", &d16, PHOTOMETRIC_RGB, false, false, false, true},
    };
    for (const TiffCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("v.tif"));
        const QByteArray bytes = makeTiff(path, c);
        ASSERT_FALSE(bytes.isEmpty());
        const bool gray = c.photometric != PHOTOMETRIC_RGB;
        const platform::ImageHeader header = platform::readImageHeader(path);
        EXPECT_TRUE(header.valid());
        EXPECT_EQ(header.gray(), gray);
        const QImage read = platform::readImage(path);
        ASSERT_FALSE(read.isNull());
        EXPECT_LE(maxDiff(read, expected(c.alpha, gray)), 1);
        EXPECT_TRUE(platform::isReadablePicture(path));
    }
}

// Classic 8-bit files still come through libtiff's own reader, BigTIFF included.
TEST(ReaderVariants, EightBitBigTiffReadsLikeClassicTiff) {
    QTemporaryDir dir;
    const Depth eight{"8-bit", 8, SAMPLEFORMAT_UINT, [](uint8_t* row, size_t i, int v) { row[i] = uint8_t(v); }};
    for (bool big : {false, true}) {
        SCOPED_TRACE(big);
        TiffCase c{"8-bit RGBA", &eight, PHOTOMETRIC_RGB, true};
        c.big = big;
        const QString path = dir.filePath(QStringLiteral("e.tif"));
        ASSERT_FALSE(makeTiff(path, c).isEmpty());
        const QImage read = platform::readImage(path);
        ASSERT_EQ(read.size(), QSize(kW, kH));
        EXPECT_LE(maxDiff(read, expected(true)), 1);
    }
}

namespace {

// sRGB colours and their CIELab values under D50 (the ICC connection space).
struct LabPatch {
    int r, g, b;
    double L, a, bb;
};
const LabPatch kLabPatches[] = {
    {255, 0, 0, 54.29, 80.80, 69.89},   {0, 255, 0, 87.82, -79.29, 80.99}, {0, 0, 255, 29.57, 68.30, -112.03},
    {255, 255, 255, 100.0, 0.0, 0.0},   {119, 119, 119, 50.0, 0.0, 0.0},  {0, 0, 0, 0.0, 0.0, 0.0},
};

QByteArray makeLabTiff(const QString& path, uint16_t photometric, int bits) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif) return {};
    const int n = int(std::size(kLabPatches));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(n));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(1));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    float white[2] = {0.3457f, 0.3585f};
    TIFFSetField(tif, TIFFTAG_WHITEPOINT, white);
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
    for (int i = 0; i < n; ++i) {
        const LabPatch& p = kLabPatches[i];
        const bool icc = photometric == PHOTOMETRIC_ICCLAB;
        if (bits == 8) {
            row[size_t(i) * 3] = uint8_t(std::lround(p.L * 255.0 / 100.0));
            row[size_t(i) * 3 + 1] = uint8_t(int(std::lround(p.a)) + (icc ? 128 : 0));
            row[size_t(i) * 3 + 2] = uint8_t(int(std::lround(p.bb)) + (icc ? 128 : 0));
        } else {
            const uint16_t v[3] = {uint16_t(std::lround(p.L * 65535.0 / 100.0)),
                                   uint16_t(int(std::lround(p.a * 256.0)) + (icc ? 32768 : 0)),
                                   uint16_t(int(std::lround(p.bb * 256.0)) + (icc ? 32768 : 0))};
            std::memcpy(row.data() + size_t(i) * 6, v, 6);
        }
    }
    TIFFWriteScanline(tif, row.data(), 0, 0);
    TIFFClose(tif);
    return testsupport::readFile(path);
}

}  // namespace

// CIELab files (signed and ICC-offset a and b, 8 and 16 bits) give the sRGB colours whose
// Lab values they hold.
TEST(ReaderVariants, LabTiffGivesTheSrgbColoursOfItsValues) {
    QTemporaryDir dir;
    for (uint16_t photometric : {uint16_t(PHOTOMETRIC_CIELAB), uint16_t(PHOTOMETRIC_ICCLAB)})
        for (int bits : {8, 16}) {
            SCOPED_TRACE(QStringLiteral("photometric %1, %2 bits").arg(photometric).arg(bits).toStdString());
            const QString path = dir.filePath(QStringLiteral("lab.tif"));
            ASSERT_FALSE(makeLabTiff(path, photometric, bits).isEmpty());
            EXPECT_EQ(platform::readImageHeader(path).colourModel, platform::ColourModel::Lab);
            const QImage read = platform::readImage(path);
            ASSERT_EQ(read.size(), QSize(int(std::size(kLabPatches)), 1));
            // Whole units of a and b at 8 bits move a channel near 0 by several levels.
            const int slack = bits == 8 ? 10 : 3;
            for (int i = 0; i < read.width(); ++i) {
                const QRgb p = read.pixel(i, 0);
                const LabPatch& want = kLabPatches[i];
                EXPECT_NEAR(qRed(p), want.r, slack) << i;
                EXPECT_NEAR(qGreen(p), want.g, slack) << i;
                EXPECT_NEAR(qBlue(p), want.b, slack) << i;
            }
        }
}

// JPEG-compressed YCbCr (what scanners and cameras write into TIFF) reads as the colours
// it was made from, within JPEG's loss.
TEST(ReaderVariants, JpegCompressedYCbCrTiffReadsInColour) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ycbcr.tif"));
    const QImage picture = testsupport::gradientImage(64, 48).convertToFormat(QImage::Format_RGB888);
    for (int variant = 0; variant < 8; ++variant) {
        const bool tiled = variant & 1;
        const uint16_t subs[4][2] = {{2, 2}, {1, 1}, {2, 1}, {4, 2}};
        const uint16_t sh = subs[variant / 2][0], sv = subs[variant / 2][1];
        SCOPED_TRACE(QStringLiteral("tiled %1, subsampling %2x%3").arg(tiled).arg(sh).arg(sv).toStdString());
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        ASSERT_TRUE(tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(64));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(48));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, sh, sv);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        if (tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(32));
            TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(16));
            std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
            for (uint32_t ty = 0; ty < 48; ty += 16)
                for (uint32_t tx = 0; tx < 64; tx += 32) {
                    for (int y = 0; y < 16; ++y)
                        std::memcpy(tile.data() + size_t(y) * 32 * 3, picture.constScanLine(int(ty) + y) + tx * 3, 32 * 3);
                    TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, 0), tile.data(), tmsize_t(tile.size()));
                }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
            for (int y = 0; y < 48; ++y)
                TIFFWriteScanline(tif, const_cast<uchar*>(picture.constScanLine(y)), uint32_t(y), 0);
        }
        TIFFClose(tif);
        const QImage read = platform::readImage(path);
        ASSERT_EQ(read.size(), picture.size());
        // As close as the same picture through a plain JPEG at the same settings.
        const QImage original = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage plain = platform::readImageFromData(platform::encodeImage(original, platform::ImageType::JPEG, 0.95));
        EXPECT_LT(meanDiff(read, original), meanDiff(plain, original) + 1.0);
    }
}

namespace {

// GIF image data for `indices` with the smallest code size `minCode`: every code written
// at minCode + 1 bits, with a clear code before the table would grow.
QByteArray lzwData(const std::vector<int>& indices, int minCode) {
    const int clear = 1 << minCode, size = minCode + 1;
    std::vector<bool> bits;
    auto put = [&](int code) {
        for (int i = 0; i < size; ++i) bits.push_back((code >> i) & 1);
    };
    put(clear);
    int sinceClear = 0;
    for (int v : indices) {
        put(v);
        if (++sinceClear == (1 << size) - (clear + 2) - 1) {
            put(clear);
            sinceClear = 0;
        }
    }
    put(clear + 1);
    QByteArray data;
    for (size_t i = 0; i < bits.size(); i += 8) {
        int byte = 0;
        for (size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= int(bits[i + j]) << j;
        data.append(char(byte));
    }
    QByteArray out(1, char(minCode));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray piece = data.mid(at, 255);
        out.append(char(piece.size())).append(piece);
    }
    return out.append('\0');
}

void putLe16(QByteArray& out, int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); }
void putLe32(QByteArray& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.append(char((v >> (8 * i)) & 0xFF));
}

}  // namespace

// A GIF with no colour table at all is shown through the default the format recommends
// (black and white first), as a local table or a global one would be used when present.
TEST(ReaderVariants, GifWithoutAnyColourTableUsesBlackAndWhite) {
    const std::vector<int> indices = {0, 1, 1, 0, 1, 0, 0, 1};
    struct Case {
        const char* name;
        bool global, local;
        QRgb zero, one;
    } cases[] = {
        {"no table", false, false, qRgb(0, 0, 0), qRgb(255, 255, 255)},
        {"local table only", false, true, qRgb(10, 20, 30), qRgb(200, 100, 50)},
        {"global table only", true, false, qRgb(10, 20, 30), qRgb(200, 100, 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray table("\x0A\x14\x1E\xC8\x64\x32", 6);
        QByteArray gif("GIF89a");
        putLe16(gif, 4);
        putLe16(gif, 2);
        gif.append(char(c.global ? 0x80 : 0x00)).append('\0').append('\0');
        if (c.global) gif.append(table);
        gif.append(',');
        putLe16(gif, 0), putLe16(gif, 0), putLe16(gif, 4), putLe16(gif, 2);
        gif.append(char(c.local ? 0x80 : 0x00));
        if (c.local) gif.append(table);
        gif.append(lzwData(indices, 2)).append(';');
        const QImage read = platform::readImageFromData(gif);
        ASSERT_EQ(read.size(), QSize(4, 2));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(read.pixel(i % 4, i / 4), indices[size_t(i)] ? c.one : c.zero) << i;
    }
}

namespace {

// A BMP with the given information header (its first four bytes, the size, included),
// palette and rows, offsets worked out.
QByteArray bmpFile(const QByteArray& info, const QByteArray& palette, const QByteArray& rows) {
    QByteArray out("BM");
    const uint32_t offset = uint32_t(14 + info.size() + palette.size());
    putLe32(out, offset + uint32_t(rows.size()));
    putLe32(out, 0);
    putLe32(out, offset);
    return out + info + palette + rows;
}

// The picture every BMP below holds: 3 x 2, bottom row stored first. Two colours only in
// the 1-bit files.
const QRgb kBmpTop[3] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
const QRgb kBmpBottom[3] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(128, 64, 32)};
const QRgb kMonoTop[3] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(0, 0, 0)};
const QRgb kMonoBottom[3] = {qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0)};

// A palette of `entries` colours, the picture's first, in three or four bytes each.
QByteArray bmpPalette(int entries, int bytesPerEntry, bool mono) {
    QByteArray p;
    QList<QRgb> list;
    if (mono) list = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    else list = {kBmpTop[0], kBmpTop[1], kBmpTop[2], kBmpBottom[0], kBmpBottom[1], kBmpBottom[2]};
    for (int i = 0; i < entries; ++i) {
        const QRgb c = i < list.size() ? list[i] : qRgb(i, i, i);
        p.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        if (bytesPerEntry == 4) p.append('\0');
    }
    return p;
}

// Rows of palette indices (or BGR triples for 24 bits), each padded to four bytes.
QByteArray bmpRows(int bits, bool mono) {
    QByteArray rows;
    const QRgb* lines[2] = {mono ? kMonoBottom : kBmpBottom, mono ? kMonoTop : kBmpTop};
    auto index = [&](QRgb c) {
        if (mono) return c == qRgb(255, 255, 255) ? 1 : 0;
        for (int i = 0; i < 3; ++i) {
            if (kBmpTop[i] == c) return i;
            if (kBmpBottom[i] == c) return 3 + i;
        }
        return 0;
    };
    for (const QRgb* line : lines) {
        QByteArray row;
        if (bits == 24) {
            for (int x = 0; x < 3; ++x) row.append(char(qBlue(line[x]))).append(char(qGreen(line[x]))).append(char(qRed(line[x])));
        } else {
            uint32_t acc = 0;
            int filled = 0;
            for (int x = 0; x < 3; ++x) {
                acc = (acc << bits) | uint32_t(index(line[x]));
                filled += bits;
                if (filled == 8) row.append(char(acc)), acc = 0, filled = 0;
            }
            if (filled) row.append(char(acc << (8 - filled)));
        }
        while (row.size() % 4) row.append('\0');
        rows.append(row);
    }
    return rows;
}

QByteArray os2CoreHeader(int bits) {  // 12 bytes: size, 16-bit width and height, planes, bits
    QByteArray h;
    putLe32(h, 12);
    putLe16(h, 3), putLe16(h, 2), putLe16(h, 1), putLe16(h, bits);
    return h;
}

QByteArray os2V2Header(int bits, int size) {  // 16 to 64 bytes: the 40-byte fields and OS/2's own
    QByteArray h;
    putLe32(h, uint32_t(size));
    putLe32(h, 3), putLe32(h, 2);
    putLe16(h, 1), putLe16(h, bits);
    putLe32(h, 0), putLe32(h, 0), putLe32(h, 2835), putLe32(h, 2835), putLe32(h, 0), putLe32(h, 0);
    h.append(QByteArray(24, '\0'));
    return h.left(size);
}

}  // namespace

// OS/2 bitmaps (the 12-byte header with three-byte palette entries, and the 16- to
// 64-byte one) read as the pixels they hold.
TEST(ReaderVariants, Os2BitmapsReadTheirPixels) {
    struct Case {
        const char* name;
        QByteArray file;
        bool mono;
    } cases[] = {
        {"OS/2 1.x, 1-bit", bmpFile(os2CoreHeader(1), bmpPalette(2, 3, true), bmpRows(1, true)), true},
        {"OS/2 1.x, 4-bit", bmpFile(os2CoreHeader(4), bmpPalette(16, 3, false), bmpRows(4, false)), false},
        {"OS/2 1.x, 8-bit", bmpFile(os2CoreHeader(8), bmpPalette(256, 3, false), bmpRows(8, false)), false},
        {"OS/2 1.x, 24-bit", bmpFile(os2CoreHeader(24), {}, bmpRows(24, false)), false},
        {"OS/2 2.x, 64-byte header, 8-bit", bmpFile(os2V2Header(8, 64), bmpPalette(256, 4, false), bmpRows(8, false)), false},
        {"OS/2 2.x, 16-byte header, 4-bit", bmpFile(os2V2Header(4, 16), bmpPalette(16, 4, false), bmpRows(4, false)), false},
        {"OS/2 2.x, 64-byte header, 24-bit", bmpFile(os2V2Header(24, 64), {}, bmpRows(24, false)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::ImageHeader header = platform::readImageHeaderFromData(c.file);
        EXPECT_EQ(header.width, 3);
        EXPECT_EQ(header.height, 2);
        const QImage read = platform::readImageFromData(c.file);
        ASSERT_EQ(read.size(), QSize(3, 2));
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(read.pixel(x, 0), (c.mono ? kMonoTop : kBmpTop)[x]) << x;
            EXPECT_EQ(read.pixel(x, 1), (c.mono ? kMonoBottom : kBmpBottom)[x]) << x;
        }
    }
}

// An OS/2 palette ends where the pixels begin, and may hold fewer colours than its depth
// allows: a picture whose indices stay inside it reads; one whose indices name colours
// past it is damaged, never coloured by a rule or by whatever memory held.
TEST(ReaderVariants, AShortBmpPaletteServesTheIndicesItHolds) {
    for (const int entries : {6, 4, 1}) {
        SCOPED_TRACE(entries);
        const QByteArray file = bmpFile(os2CoreHeader(8), bmpPalette(entries, 3, false), bmpRows(8, false));
        const QImage read = platform::readImageFromData(file);
        if (entries < 6) {  // bmpRows names colours 0 to 5
            EXPECT_TRUE(read.isNull());
            continue;
        }
        ASSERT_EQ(read.size(), QSize(3, 2));
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(read.pixel(x, 0), kBmpTop[x]);
            EXPECT_EQ(read.pixel(x, 1), kBmpBottom[x]);
        }
    }
}
