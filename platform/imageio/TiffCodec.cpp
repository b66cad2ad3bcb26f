// TIFF through libtiff, reading in memory and writing to memory or straight to a file.
// libtiff's messages are routed per handle so a bad file leaves one log line from us and
// nothing on the console.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <memory>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace platform::codec {
namespace {

// Where libtiff reads from or writes to: the caller's bytes, or a growing byte array.
struct TiffStream {
    const uint8_t* readData = nullptr;  // reading: the caller's bytes
    QByteArray* writeData = nullptr;    // writing: grows as libtiff writes
    bool discard = false;               // writes are dropped (an abandoned attempt closing)
    toff_t size = 0;
    toff_t pos = 0;
    QString error;

    // Empties the output for a fresh start.
    bool truncate() {
        pos = size = 0;
        if (writeData) writeData->clear();
        return true;
    }
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<TiffStream*>(h);
    if (n < 0 || f->pos >= f->size) return 0;
    const toff_t count = std::min<toff_t>(toff_t(n), f->size - f->pos);
    const uint8_t* src = f->readData ? f->readData : reinterpret_cast<const uint8_t*>(f->writeData->constData());
    std::memcpy(buf, src + f->pos, count);
    f->pos += count;
    return tmsize_t(count);
}
tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<TiffStream*>(h);
    if (n < 0 || !f->writeData) return -1;
    if (f->discard) return n;
    const toff_t end = f->pos + toff_t(n);
    if (end > toff_t(f->writeData->size())) {
        if (end > toff_t(f->writeData->capacity())) f->writeData->reserve(qsizetype(end) * 3 / 2);
        f->writeData->resize(qsizetype(end));
    }
    std::memcpy(f->writeData->data() + f->pos, buf, size_t(n));
    f->pos = end;
    f->size = std::max(f->size, end);
    return n;
}
toff_t memSeek(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<TiffStream*>(h);
    toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : f->size;
    f->pos = base + off;
    return f->pos;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<TiffStream*>(h)->size; }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* f = static_cast<TiffStream*>(user);
    if (f && f->error.isEmpty()) {
        char buf[512];
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        f->error = QString::fromLocal8Bit(buf);
    }
    return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Handle {
    TIFF* tif = nullptr;
    ~Handle() {
        if (tif) TIFFClose(tif);
    }
};

TIFF* openTiff(TiffStream& f, const char* mode) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, onError, &f);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, onWarning, &f);
    // No single strip, tile or table may claim more than this.
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(256) << 20);
    TIFF* tif = TIFFClientOpenExt("memory", mode, &f, memRead, memWrite, memSeek, memClose, memSize, memMap,
                                  memUnmap, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

QByteArray iccProfile(TIFF* tif) {
    uint32_t length = 0;
    void* data = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &data) || !data) return QByteArray();
    return QByteArray(static_cast<const char*>(data), qsizetype(length));
}

}  // namespace

namespace {

ColourModel colourModelOf(uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: return ColourModel::Gray;
    case PHOTOMETRIC_SEPARATED: return ColourModel::CMYK;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB: return ColourModel::Lab;
    default: return ColourModel::RGB;
    }
}

// ---- Reading samples ourselves ----
//
// libtiff's RGBA interface reads 8-bit RGB, grey, palette, bilevel and YCbCr pictures
// well, but refuses or misreads deeper samples, floating point, CMYK through a profile
// and CIELab. Those are read here from libtiff's decoded strips and tiles (every
// compression, predictor, byte order and planar layout it knows), a band of rows at a
// time: one strip, or one row of tiles.

struct SampleLayout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, format = SAMPLEFORMAT_UINT, spp = 0, planar = PLANARCONFIG_CONTIG, photometric = 0;
    int colours = 0;      // 1 grey, 3 RGB or Lab, 4 CMYK
    int alpha = -1;       // the alpha sample's index within a pixel, -1 when none
    bool associated = false;
    double minValue = 0.0, maxValue = 1.0;  // the range of floating-point samples
    uint16_t jpegYCbCr = 0;  // 1 when JPEG-compressed YCbCr is to be read as RGB
};

bool readsSamples(TIFF* tif, SampleLayout& L) {
    uint16_t compression = COMPRESSION_NONE, inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &L.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &L.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &L.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &L.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &L.photometric)) return false;
    // Signed integer samples are read by their stored bits, as the writers that make them
    // (ImageMagick) and libtiff's own reader read them: the picture, not its values moved
    // by half the range or cut at zero. CIELab's a and b are signed whatever the format says.
    if (L.format == SAMPLEFORMAT_INT && L.photometric != PHOTOMETRIC_CIELAB) L.format = SAMPLEFORMAT_UINT;
    const bool integer = L.format == SAMPLEFORMAT_UINT || L.format == SAMPLEFORMAT_INT || L.format == SAMPLEFORMAT_VOID;
    const bool floating = L.format == SAMPLEFORMAT_IEEEFP && (L.bits == 16 || L.bits == 32 || L.bits == 64);
    if (!(integer && L.bits >= 8 && L.bits <= 32) && !floating) return false;
    const bool plain8 = integer && L.format != SAMPLEFORMAT_INT && L.bits == 8;
    switch (L.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        L.colours = 1;
        if (plain8) return false;
        break;
    case PHOTOMETRIC_RGB:
        L.colours = 3;
        if (plain8) return false;
        break;
    case PHOTOMETRIC_SEPARATED:
        if (inkSet != INKSET_CMYK) return false;
        L.colours = 4;
        break;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
        L.colours = 3;
        break;
    case PHOTOMETRIC_YCBCR:
        // libjpeg turns the colours to RGB as it decodes; libtiff then sizes the strips for it.
        if (compression != COMPRESSION_JPEG || L.planar != PLANARCONFIG_CONTIG || !plain8) return false;
        L.colours = 3;
        L.jpegYCbCr = 1;
        break;
    default: return false;
    }
    if (L.spp < L.colours) return false;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0 && extraTypes &&
        L.spp > L.colours && L.colours != 4) {
        if (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA) {
            L.alpha = L.colours;
            L.associated = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
        }
    } else if (extraCount == 0 && L.photometric == PHOTOMETRIC_RGB && L.spp == 4) {
        // A fourth sample without a word about it is taken as associated alpha, as
        // libtiff's own reader does.
        L.alpha = 3;
        L.associated = true;
    }
    if (L.format == SAMPLEFORMAT_IEEEFP) {
        // One value for all samples (libtiff's default way of reporting these tags).
        double lo = 0.0, hi = 1.0;
        if (TIFFGetField(tif, TIFFTAG_SMINSAMPLEVALUE, &lo)) L.minValue = lo;
        if (TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &hi)) L.maxValue = hi;
        if (!(L.maxValue > L.minValue) || !std::isfinite(L.maxValue - L.minValue)) L.minValue = 0.0, L.maxValue = 1.0;
    }
    return true;
}

float halfToFloat(uint16_t h) {
    const uint32_t sign = uint32_t(h >> 15) << 31;
    const int exponent = (h >> 10) & 0x1F;
    const uint32_t mantissa = h & 0x3FF;
    if (exponent == 0) return (sign ? -1.0f : 1.0f) * std::ldexp(float(mantissa), -24);
    if (exponent == 31) return sign ? -INFINITY : (mantissa ? NAN : INFINITY);
    const uint32_t bits = sign | uint32_t(exponent - 15 + 127) << 23 | mantissa << 13;
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// `count` samples of one row, as numbers: integers as they are stored (signed ones
// with their sign), floating point as it is. Sample i goes to out[i * stride].
void unpackSamples(const uint8_t* row, int count, const SampleLayout& L, float* out, int stride) {
    const bool isSigned = L.format == SAMPLEFORMAT_INT;
    auto signedOf = [&](uint32_t v) {
        return float(isSigned && L.bits < 32 && (v >> (L.bits - 1)) ? int64_t(v) - (int64_t(1) << L.bits)
                     : isSigned && L.bits == 32                   ? int64_t(int32_t(v))
                                                                   : int64_t(v));
    };
    if (L.format == SAMPLEFORMAT_IEEEFP) {
        for (int i = 0; i < count; ++i) {
            if (L.bits == 16) {
                uint16_t h;
                std::memcpy(&h, row + 2 * i, 2);
                out[i * stride] = halfToFloat(h);
            } else if (L.bits == 32) {
                float f;
                std::memcpy(&f, row + 4 * i, 4);
                out[i * stride] = f;
            } else {
                double d;
                std::memcpy(&d, row + 8 * i, 8);
                out[i * stride] = float(d);
            }
        }
        return;
    }
    switch (L.bits) {
    case 8:
        for (int i = 0; i < count; ++i) out[i * stride] = signedOf(row[i]);
        return;
    case 16:  // libtiff has put 16, 24 and 32-bit samples in this machine's byte order
        for (int i = 0; i < count; ++i) {
            uint16_t v;
            std::memcpy(&v, row + 2 * i, 2);
            out[i * stride] = signedOf(v);
        }
        return;
    case 24:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 3 * i;
            out[i * stride] = signedOf(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
        }
        return;
    case 32:
        for (int i = 0; i < count; ++i) {
            uint32_t v;
            std::memcpy(&v, row + 4 * i, 4);
            out[i * stride] = signedOf(v);
        }
        return;
    default:
        // Other depths (10, 12, 14 bits...) are packed most significant bit first.
        for (int i = 0; i < count; ++i) {
            const uint64_t bit = uint64_t(i) * L.bits;
            uint32_t v = 0;
            for (int b = 0; b < L.bits; ++b) {
                const uint64_t at = bit + uint64_t(b);
                v = (v << 1) | ((row[at >> 3] >> (7 - (at & 7))) & 1u);
            }
            out[i * stride] = signedOf(v);
        }
        return;
    }
}

// A sample as a fraction of its full scale, 0..1.
float fraction(float v, const SampleLayout& L) {
    float f;
    if (L.format == SAMPLEFORMAT_IEEEFP)
        f = float((double(v) - L.minValue) / (L.maxValue - L.minValue));
    else if (L.format == SAMPLEFORMAT_INT)
        f = v / float((uint64_t(1) << (L.bits - 1)) - 1);
    else
        f = v / float((uint64_t(1) << L.bits) - 1);
    return std::isnan(f) ? 0.0f : std::clamp(f, 0.0f, 1.0f);
}

uint32_t to8(float f) { return uint32_t(f * 255.0f + 0.5f); }

// CIELab samples as L (0..100), a and b.
void labOf(const float* s, const SampleLayout& L, float* lab) {
    if (L.format == SAMPLEFORMAT_IEEEFP) {
        lab[0] = s[0], lab[1] = s[1], lab[2] = s[2];
        return;
    }
    const bool deep = L.bits > 8;
    const float full = float((uint64_t(1) << L.bits) - 1);
    const float half = float(uint64_t(1) << (L.bits - 1));
    lab[0] = std::max(0.0f, s[0]) * 100.0f / full;
    for (int c = 1; c < 3; ++c) {
        float v = s[c];
        if (L.photometric == PHOTOMETRIC_ICCLAB) {
            v -= half;  // stored with an offset
        } else if (L.format != SAMPLEFORMAT_INT && v >= half) {
            v -= 2.0f * half;  // CIELab's a and b are signed however the sample format reads
        }
        // Deeper a and b count fractions of a unit: 1/256 at 16 bits.
        lab[c] = deep ? v / float(uint64_t(1) << (L.bits - 8)) : v;
    }
}

// One band of rows (every sample of every pixel, as numbers) into the picture.
void emitRows(const std::vector<float>& band, int firstRow, int rows, const SampleLayout& L, QImage& image,
              const LabToSrgb* lab) {
    const int width = int(L.width), spp = L.spp;
    std::vector<float> labRow(L.photometric == PHOTOMETRIC_CIELAB || L.photometric == PHOTOMETRIC_ICCLAB ? size_t(width) * 3 : 0);
    for (int r = 0; r < rows; ++r) {
        const float* s = band.data() + size_t(r) * size_t(width) * size_t(spp);
        auto* out = reinterpret_cast<uint32_t*>(image.scanLine(firstRow + r));
        if (!labRow.empty()) {
            for (int x = 0; x < width; ++x) labOf(s + size_t(x) * spp, L, labRow.data() + size_t(x) * 3);
            lab->convert(labRow.data(), out, width);
            continue;
        }
        for (int x = 0; x < width; ++x, s += spp) {
            if (L.colours == 4) {
                // The inks, C M Y K in memory order, until the picture is converted.
                const uint32_t c = to8(fraction(s[0], L)), m = to8(fraction(s[1], L)), y = to8(fraction(s[2], L)),
                               k = to8(fraction(s[3], L));
                out[x] = c | m << 8 | y << 16 | k << 24;
                continue;
            }
            float red, green, blue;
            if (L.colours == 1) {
                float g = fraction(s[0], L);
                if (L.photometric == PHOTOMETRIC_MINISWHITE) g = 1.0f - g;
                red = green = blue = g;
            } else {
                red = fraction(s[0], L), green = fraction(s[1], L), blue = fraction(s[2], L);
            }
            uint32_t a = 255;
            if (L.alpha >= 0) {
                const float af = fraction(s[L.alpha], L);
                a = to8(af);
                if (!L.associated) red *= af, green *= af, blue *= af;
            }
            const uint32_t r8 = std::min(a, to8(red)), g8 = std::min(a, to8(green)), b8 = std::min(a, to8(blue));
            out[x] = a << 24 | r8 << 16 | g8 << 8 | b8;
        }
    }
}

QImage decodeSamples(TIFF* tif, const SampleLayout& L, const QString& name, QString* error) {
    if (L.jpegYCbCr) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const bool separate = L.planar == PLANARCONFIG_SEPARATE && L.spp > 1;
    const int planes = separate ? L.spp : 1;
    const int perChunk = separate ? 1 : L.spp;  // samples a pixel in each chunk
    const bool tiled = TIFFIsTiled(tif);
    uint32_t chunkW = L.width, chunkH = 0;
    uint64_t chunkBytes = 0, rowBytes = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &chunkW);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunkH);
        chunkBytes = TIFFTileSize64(tif);
        rowBytes = TIFFTileRowSize64(tif);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &chunkH);
        chunkH = std::min(chunkH, L.height);
        chunkBytes = TIFFStripSize64(tif);
        rowBytes = TIFFScanlineSize64(tif);
    }
    // Everything a chunk's rows are read from must lie inside the chunk.
    if (chunkW == 0 || chunkH == 0 || rowBytes == 0 || chunkBytes < rowBytes * chunkH ||
        rowBytes * 8 < uint64_t(chunkW) * perChunk * L.bits) {
        *error = QStringLiteral("its strips or tiles do not fit its size");
        return QImage();
    }
    // Large strips (a whole picture in one, as some writers keep a 32-bit floating-point
    // one of hundreds of megabytes) are decoded a row at a time as libtiff reads them; a
    // strip or tile is read whole only while it is small.
    constexpr uint64_t kWholeChunkBytes = uint64_t(64) << 20;
    const bool byRows = chunkBytes > kWholeChunkBytes && !tiled && !separate;
    if (chunkBytes > (uint64_t(256) << 20) && !byRows) {
        *error = QStringLiteral("its tiles or separate planes are too large to read");
        return QImage();
    }
    if (byRows) {
        chunkBytes = rowBytes;
        chunkH = uint32_t(std::clamp<uint64_t>(kWholeChunkBytes / 4 / (uint64_t(L.width) * L.spp * sizeof(float)), 1, chunkH));
    }
    QImage image = allocateImage(int(L.width), int(L.height), QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();
    std::unique_ptr<LabToSrgb> lab;
    if (L.photometric == PHOTOMETRIC_CIELAB || L.photometric == PHOTOMETRIC_ICCLAB) {
        // Relative to the file's white point, D50 (the profile connection white) when it names none.
        float* white = nullptr;
        double wx = 0.3457, wy = 0.3585;
        if (TIFFGetField(tif, TIFFTAG_WHITEPOINT, &white) && white && white[0] > 0 && white[1] > 0)
            wx = white[0], wy = white[1];
        lab = std::make_unique<LabToSrgb>(wx, wy);
        if (!lab->valid()) {
            *error = QStringLiteral("no CIELab conversion");
            return QImage();
        }
    }
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkBytes));
    std::vector<float> band(size_t(chunkH) * L.width * L.spp);
    const uint32_t across = tiled ? (L.width + chunkW - 1) / chunkW : 1;
    for (uint32_t top = 0; top < L.height; top += chunkH) {
        const int rows = int(std::min(chunkH, L.height - top));
        std::fill(band.begin(), band.end(), 0.0f);
        for (int r = 0; byRows && r < rows; ++r) {
            if (TIFFReadScanline(tif, chunk.data(), top + uint32_t(r), 0) < 0) {
                if (error->isEmpty()) *error = QStringLiteral("a strip could not be decoded");
                return QImage();
            }
            unpackSamples(chunk.data(), int(L.width) * perChunk, L, band.data() + size_t(r) * L.width * L.spp, 1);
        }
        for (int plane = 0; !byRows && plane < planes; ++plane) {
            for (uint32_t t = 0; t < across; ++t) {
                const uint32_t left = t * chunkW;
                const tmsize_t got =
                    tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, uint16_t(plane)), chunk.data(),
                                                tmsize_t(chunkBytes))
                          : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, top, uint16_t(plane)), chunk.data(),
                                                 tmsize_t(chunkBytes));
                if (got < 0) {
                    if (error->isEmpty()) *error = QStringLiteral("a strip or tile could not be decoded");
                    return QImage();
                }
                const int pixels = int(std::min(chunkW, L.width - left));
                for (int r = 0; r < rows; ++r) {
                    float* dst = band.data() + (size_t(r) * L.width + left) * L.spp + (separate ? plane : 0);
                    unpackSamples(chunk.data() + size_t(r) * rowBytes, pixels * perChunk, L, dst,
                                  separate ? L.spp : 1);
                }
            }
        }
        emitRows(band, int(top), rows, L, image, lab.get());
    }
    return image;
}

}  // namespace

namespace {

// The directories of the file's main chain that hold a page: not the reduced-size copies of
// one (thumbnails), nor transparency masks. libtiff follows the chain with its own guard
// against loops; the count stops at a sane number.
int pageCount(TIFF* tif) {
    const tdir_t directories = TIFFNumberOfDirectories(tif);
    if (directories <= 1) return 1;
    int pages = 0;
    for (tdir_t d = 0; d < directories && d < 65536; ++d) {
        if (!TIFFSetDirectory(tif, d)) break;
        uint32_t kind = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &kind);
        if (!(kind & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK))) ++pages;
    }
    TIFFSetDirectory(tif, 0);
    return std::max(1, pages);
}

}  // namespace

ImageFacts tiffFacts(Bytes in) {
    TiffStream f;
    f.readData = in.data;
    f.size = in.size;
    Handle h;
    h.tif = openTiff(f, "rm");
    ImageFacts facts;
    if (!h.tif) return facts;
    uint32_t w = 0, ht = 0;
    uint16_t orientation = 1, photometric = 0, bits = 1, unit = RESUNIT_INCH;
    TIFFGetField(h.tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(h.tif, TIFFTAG_IMAGELENGTH, &ht);
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(h.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    ImageHeader& out = facts.header;
    out.format = ImageFormat::TIFF;
    out.width = int(std::min<uint32_t>(w, INT32_MAX));
    out.height = int(std::min<uint32_t>(ht, INT32_MAX));
    out.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    out.colourModel = colourModelOf(photometric);
    out.iccProfile = iccProfile(h.tif);
    facts.depth = bits;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    facts.hasAlpha = TIFFGetField(h.tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0;
    // Unit 1 gives no size, so no resolution; unit 3 is per centimetre.
    float x = 0, y = 0;
    if (unit != RESUNIT_NONE && TIFFGetField(h.tif, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(h.tif, TIFFTAG_YRESOLUTION, &y) &&
        x > 0 && y > 0) {
        const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        facts.dotsPerInch = QPointF(x * perInch, y * perInch);
    }
    // Last: it moves through the file's directories.
    out.pages = pageCount(h.tif);
    return facts;
}

QImage tiffDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    TiffStream f;
    f.readData = in.data;
    f.size = in.size;
    Handle h;
    h.tif = openTiff(f, "rm");
    if (!h.tif) {
        log(u"%@: TIFF data is corrupt (%@)", name, f.error);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    uint32_t w = 0, ht = 0;
    TIFFGetField(h.tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(h.tif, TIFFTAG_IMAGELENGTH, &ht);
    if (!checkBudget(w, ht, options, name, "TIFF", why)) return QImage();
    uint16_t photometric = PHOTOMETRIC_RGB, compression = COMPRESSION_NONE;
    TIFFGetField(h.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_COMPRESSION, &compression);
    const ColourModel model = colourModelOf(photometric);
    if (!TIFFIsCODECConfigured(compression)) {
        log(u"%@: TIFF compression %@ is not supported", name, int(compression));
        return decodeFailed(why, DecodeFailure::Unsupported,
                            QStringLiteral("this TIFF is compressed in a way this program cannot read (compression %1)")
                                .arg(compression));
    }

    SampleLayout layout;
    layout.width = w;
    layout.height = ht;
    if (readsSamples(h.tif, layout)) {
        QString corrupt;
        QImage image = decodeSamples(h.tif, layout, name, &corrupt);
        if (image.isNull() || !f.error.isEmpty()) {
            log(u"%@: TIFF data is corrupt (%@)", name,
                !f.error.isEmpty() ? f.error : corrupt.isEmpty() ? QStringLiteral("read failed") : corrupt);
            return decodeFailed(why, DecodeFailure::Damaged);
        }
        if (model == ColourModel::CMYK)
            convertCmykToSrgb(image, iccProfile(h.tif), false, name);
        else if (model != ColourModel::Lab)
            attachProfile(image, iccProfile(h.tif), model, name);
        return image;
    }

    char emsg[1024] = {0};
    if (!TIFFRGBAImageOK(h.tif, emsg)) {
        log(u"%@: unsupported TIFF layout (%@)", name, QString::fromLocal8Bit(emsg));
        return decodeFailed(why, DecodeFailure::Unsupported,
                            QStringLiteral("this TIFF stores its pixels in a way this program cannot read (%1)")
                                .arg(QString::fromLocal8Bit(emsg)));
    }
    // Allocated first: a shortage ends the decode before libtiff holds anything of it.
    QImage image = allocateImage(int(w), int(ht), QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, h.tif, 0, emsg)) {
        log(u"%@: TIFF data is corrupt (%@)", name, QString::fromLocal8Bit(emsg));
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    // Keep the stored row order; the caller applies the orientation tag itself.
    img.req_orientation = img.orientation;
    const bool ok = TIFFRGBAImageGet(&img, reinterpret_cast<uint32_t*>(image.bits()), w, ht) && f.error.isEmpty();
    TIFFRGBAImageEnd(&img);
    if (!ok) {
        log(u"%@: TIFF data is corrupt (%@)", name, f.error.isEmpty() ? QStringLiteral("read failed") : f.error);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    // libtiff packs R in the low byte (ABGR); QImage wants B there.
    for (uint32_t y = 0; y < ht; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = line[x];
            line[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
        }
    }
    // Grey, RGB and palette pictures keep their profile; what libtiff turned into RGB from
    // anything else (CMYK by a plain formula, for instance) has none that fits.
    if (model == ColourModel::RGB || model == ColourModel::Gray) attachProfile(image, iccProfile(h.tif), model, name);
    return image;
}

namespace {

// Rows of about this many bytes go to libtiff as one strip: few calls and a small table
// of strips, while the strip buffer stays in the cache between conversion and writing.
constexpr size_t kStripBytes = size_t(256) << 10;

enum class StripsWritten { Done, Failed, NotOpaque };

// 0xAARRGGBB words to R, G, B bytes, four pixels to three words at a time. Returns the
// AND of all words read, whose top byte is 255 only when every pixel was opaque.
uint32_t packRgb(const uint32_t* in, int width, uint8_t* out) {
    auto rgb = [](uint32_t p) { return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16); };
    uint32_t all = 0xFFFFFFFFu;
    int x = 0;
    for (; x + 4 <= width; x += 4, out += 12) {
        const uint32_t p0 = in[x], p1 = in[x + 1], p2 = in[x + 2], p3 = in[x + 3];
        all &= p0 & p1 & p2 & p3;
        const uint32_t q0 = rgb(p0), q1 = rgb(p1), q2 = rgb(p2), q3 = rgb(p3);
        const uint32_t w[3] = {qToLittleEndian(q0 | (q1 << 24)), qToLittleEndian((q1 >> 8) | (q2 << 16)),
                               qToLittleEndian((q2 >> 16) | (q3 << 8))};
        std::memcpy(out, w, sizeof w);
    }
    for (; x < width; ++x, out += 3) {
        const uint32_t p = in[x];
        all &= p;
        out[0] = uint8_t(p >> 16);
        out[1] = uint8_t(p >> 8);
        out[2] = uint8_t(p);
    }
    return all;
}

// Premultiplied 0xAARRGGBB words to R, G, B, A bytes.
void packRgba(const uint32_t* in, int width, uint8_t* out) {
    for (int x = 0; x < width; ++x, out += 4) {
        const uint32_t p = in[x];
        out[0] = uint8_t(p >> 16);
        out[1] = uint8_t(p >> 8);
        out[2] = uint8_t(p);
        out[3] = uint8_t(p >> 24);
    }
}

// Writes the pixels of source as strips of samples (1 grey, 3 RGB, 4 RGBA) bytes a pixel.
// Pictures in other formats are converted a strip at a time. With samples 3 and a source
// that may hold alpha, stops with NotOpaque at the first pixel that is not opaque.
StripsWritten writeStrips(TIFF* tif, const QImage& source, int samples, uint32_t rowsPerStrip) {
    const int width = source.width(), height = source.height();
    const bool gray = samples == 1;
    const bool native = gray || source.format() == QImage::Format_ARGB32_Premultiplied ||
                        source.format() == QImage::Format_RGB32;
    const size_t rowBytes = size_t(width) * size_t(samples);
    std::vector<uint8_t> strip(rowBytes * rowsPerStrip);
    QImage converted;
    for (int top = 0, index = 0; top < height; top += int(rowsPerStrip), ++index) {
        const int rows = std::min(int(rowsPerStrip), height - top);
        const QImage* pixels = &source;
        int first = top;
        if (!native) {
            // A view of these rows of the source, converted as the whole picture would be.
            QImage view(source.constScanLine(top), width, rows, source.bytesPerLine(), source.format());
            if (!source.colorTable().isEmpty()) view.setColorTable(source.colorTable());
            converted = view.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (converted.isNull()) return StripsWritten::Failed;
            pixels = &converted;
            first = 0;
        }
        uint8_t* dst = strip.data();
        for (int y = 0; y < rows; ++y, dst += rowBytes) {
            const uchar* src = pixels->constScanLine(first + y);
            if (gray) {
                std::memcpy(dst, src, rowBytes);
            } else if (samples == 3) {
                const uint32_t all = packRgb(reinterpret_cast<const uint32_t*>(src), width, dst);
                if ((all >> 24) != 0xFFu && pixels->hasAlphaChannel()) return StripsWritten::NotOpaque;
            } else {
                packRgba(reinterpret_cast<const uint32_t*>(src), width, dst);
            }
        }
        if (TIFFWriteEncodedStrip(tif, uint32_t(index), strip.data(), tmsize_t(rowBytes) * rows) < 0)
            return StripsWritten::Failed;
    }
    return StripsWritten::Done;
}

// Writes image to f as an uncompressed TIFF. A picture with alpha is first tried as
// RGB; at its first pixel that is not opaque, f is emptied and it is written as RGBA.
bool writeTiff(const QImage& image, const QByteArray& icc, TiffStream& f, QPointF dotsPerInch) {
    // The resolution is part of the pixel layout's directory, which the metadata writer
    // leaves as it finds it: the one the picture was given goes in here.
    if (!(dotsPerInch.x() > 0) || !(dotsPerInch.y() > 0) || !std::isfinite(dotsPerInch.x()) || !std::isfinite(dotsPerInch.y()))
        dotsPerInch = QPointF(72, 72);
    const bool gray = image.format() == QImage::Format_Grayscale8;
    for (int samples : {gray ? 1 : 3, 4}) {
        Handle h;
        h.tif = openTiff(f, "w");
        if (!h.tif) return false;
        TIFFSetField(h.tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width()));
        TIFFSetField(h.tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height()));
        TIFFSetField(h.tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(h.tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(h.tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(h.tif, TIFFTAG_PHOTOMETRIC, gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        TIFFSetField(h.tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(h.tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(h.tif, TIFFTAG_XRESOLUTION, dotsPerInch.x());
        TIFFSetField(h.tif, TIFFTAG_YRESOLUTION, dotsPerInch.y());
        TIFFSetField(h.tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        if (!icc.isEmpty()) TIFFSetField(h.tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
        if (samples == 4) {
            // Our pixels are premultiplied, which is exactly TIFF's associated alpha.
            uint16_t extra = EXTRASAMPLE_ASSOCALPHA;
            TIFFSetField(h.tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        const size_t rowBytes = size_t(image.width()) * size_t(samples);
        const uint32_t rowsPerStrip =
            uint32_t(std::clamp<size_t>(kStripBytes / rowBytes, 1, size_t(image.height())));
        TIFFSetField(h.tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        const StripsWritten written = writeStrips(h.tif, image, samples, rowsPerStrip);
        if (written == StripsWritten::NotOpaque) {
            // Nothing of this attempt may reach the output, not even when libtiff closes.
            f.discard = true;
            TIFFClose(h.tif);
            h.tif = nullptr;
            f.discard = false;
            if (!f.truncate()) return false;
            continue;
        }
        if (written == StripsWritten::Failed || !TIFFWriteDirectory(h.tif)) {
            log(u"TIFF encoding failed (%@)", f.error);
            return false;
        }
        TIFFClose(h.tif);
        h.tif = nullptr;
        if (!f.error.isEmpty()) log(u"TIFF encoding failed (%@)", f.error);
        return f.error.isEmpty();
    }
    return false;
}

}  // namespace

QByteArray tiffEncode(const QImage& source, const QByteArray& icc, QPointF dotsPerInch) {
    if (source.isNull()) return QByteArray();
    QByteArray out;
    out.reserve(qsizetype(source.width()) * source.height() * 3 + 4096);
    TiffStream f;
    f.writeData = &out;
    if (!writeTiff(source, icc, f, dotsPerInch)) return QByteArray();
    out.resize(qsizetype(f.size));
    return out;
}

}  // namespace platform::codec
