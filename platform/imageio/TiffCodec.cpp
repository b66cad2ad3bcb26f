// TIFF through libtiff, reading in memory and writing to memory or straight to a file.
// libtiff's messages are routed per handle so a bad file leaves one log line from us and
// nothing on the console.
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/RowStreams.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <memory>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <tiffio.h>
#include <type_traits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::codec {
namespace {

// Where libtiff reads from or writes to: the caller's bytes, a file, or a growing byte array.
struct TiffStream {
    const uint8_t* readData = nullptr;  // reading: the caller's bytes
    int readFd = -1;                    // reading, when set: the file, at explicit offsets
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
    if (f->readFd >= 0) {
        ssize_t got;
        do {
            got = ::pread(f->readFd, buf, size_t(count), off_t(f->pos));
        } while (got < 0 && errno == EINTR);
        if (got < 0) return -1;
        f->pos += toff_t(got);
        return tmsize_t(got);
    }
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
        L.spp > L.colours) {
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
// with their sign), floating point as it is. Sample i goes to out[i * stride]. Into
// 16-bit integers only unsigned integer samples of up to 16 bits go.
template <class Number>
void unpackSamples(const uint8_t* row, int count, const SampleLayout& L, Number* out, int stride) {
    const bool isSigned = L.format == SAMPLEFORMAT_INT;
    auto signedOf = [&](uint32_t v) {
        if constexpr (std::is_same_v<Number, uint16_t>) {
            return uint16_t(v);
        } else {
            return float(isSigned && L.bits < 32 && (v >> (L.bits - 1)) ? int64_t(v) - (int64_t(1) << L.bits)
                         : isSigned && L.bits == 32                   ? int64_t(int32_t(v))
                                                                       : int64_t(v));
        }
    };
    if constexpr (std::is_same_v<Number, float>) {
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
    }
    switch (L.bits) {
    case 8:
        for (int i = 0; i < count; ++i) out[i * stride] = signedOf(row[i]);
        return;
    case 16:  // libtiff has put 16, 24 and 32-bit samples in this machine's byte order
        if constexpr (std::is_same_v<Number, uint16_t>) {
            if (stride == 1) {
                std::memcpy(out, row, size_t(count) * 2);
                return;
            }
        }
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

// One band of rows (every sample of every pixel, as numbers) into rows of 32-bit words,
// `stride` words apart. Inks with alpha leave their alpha in `opacity`, a byte a pixel,
// the rows one after another.
void emitRows(const std::vector<float>& band, int rows, const SampleLayout& L, uint32_t* first, size_t stride,
              const LabToSrgb* lab, uint8_t* opacity) {
    const int width = int(L.width), spp = L.spp;
    std::vector<float> labRow(L.photometric == PHOTOMETRIC_CIELAB || L.photometric == PHOTOMETRIC_ICCLAB ? size_t(width) * 3 : 0);
    for (int r = 0; r < rows; ++r) {
        const float* s = band.data() + size_t(r) * size_t(width) * size_t(spp);
        uint32_t* out = first + size_t(r) * stride;
        if (!labRow.empty()) {
            for (int x = 0; x < width; ++x) labOf(s + size_t(x) * spp, L, labRow.data() + size_t(x) * 3);
            lab->convert(labRow.data(), out, width);
            continue;
        }
        for (int x = 0; x < width; ++x, s += spp) {
            if (L.colours == 4) {
                // The inks, C M Y K in memory order, until the picture is converted; they are
                // converted as they would be printed, so associated ones are divided first.
                float ink[4] = {fraction(s[0], L), fraction(s[1], L), fraction(s[2], L), fraction(s[3], L)};
                if (L.alpha >= 0) {
                    const float af = fraction(s[L.alpha], L);
                    opacity[size_t(r) * size_t(width) + size_t(x)] = uint8_t(to8(af));
                    for (float& v : ink)
                        if (L.associated) v = af > 0.0f ? std::min(1.0f, v / af) : 0.0f;
                }
                out[x] = to8(ink[0]) | to8(ink[1]) << 8 | to8(ink[2]) << 16 | to8(ink[3]) << 24;
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

// Unsigned integer grey or RGB samples of up to 16 bits, with or without alpha, turned into
// words through tables of what emitRows makes of each stored value: the same pixels, without
// turning every sample into a fraction and back (at 16 bits that took half of a conversion's
// time).
class IntegerLevels {
public:
    static bool takes(const SampleLayout& L) {
        return L.format == SAMPLEFORMAT_UINT && L.bits <= 16 && (L.colours == 1 || L.colours == 3) &&
               L.photometric != PHOTOMETRIC_CIELAB && L.photometric != PHOTOMETRIC_ICCLAB;
    }
    explicit IntegerLevels(const SampleLayout& L) : L_(L) {
        const size_t values = size_t(1) << L.bits;
        const bool inverted = L.photometric == PHOTOMETRIC_MINISWHITE;
        const bool straight = L.alpha >= 0 && !L.associated;
        colourLevel_.resize(values);
        if (straight) colourFraction_.resize(values);
        if (L.alpha >= 0) alphaLevel_.resize(values);
        if (straight) alphaFraction_.resize(values);
        for (size_t v = 0; v < values; ++v) {
            const float f = fraction(float(v), L);
            const float colour = inverted ? 1.0f - f : f;
            colourLevel_[v] = uint8_t(to8(colour));
            if (straight) colourFraction_[v] = colour, alphaFraction_[v] = f;
            if (L.alpha >= 0) alphaLevel_[v] = uint8_t(to8(f));
        }
    }

    // As emitRows, from a band of stored values.
    void emitRows(const uint16_t* band, int rows, uint32_t* first, size_t stride) const {
        const int width = int(L_.width), spp = L_.spp;
        const bool grey = L_.colours == 1;
        const uint8_t* level = colourLevel_.data();
        for (int r = 0; r < rows; ++r) {
            const uint16_t* s = band + size_t(r) * size_t(width) * size_t(spp);
            uint32_t* out = first + size_t(r) * stride;
            if (L_.alpha < 0 && grey) {
                for (int x = 0; x < width; ++x) out[x] = 0xFF000000u | uint32_t(level[s[x]]) * 0x010101u;
            } else if (L_.alpha < 0) {
                for (int x = 0; x < width; ++x, s += spp)
                    out[x] = 0xFF000000u | uint32_t(level[s[0]]) << 16 | uint32_t(level[s[1]]) << 8 | level[s[2]];
            } else if (L_.associated) {
                for (int x = 0; x < width; ++x, s += spp) {
                    const uint32_t a = alphaLevel_[s[L_.alpha]];
                    const uint32_t r8 = std::min<uint32_t>(a, level[s[0]]);
                    const uint32_t g8 = grey ? r8 : std::min<uint32_t>(a, level[s[1]]);
                    const uint32_t b8 = grey ? r8 : std::min<uint32_t>(a, level[s[2]]);
                    out[x] = a << 24 | r8 << 16 | g8 << 8 | b8;
                }
            } else {
                for (int x = 0; x < width; ++x, s += spp) {
                    const float af = alphaFraction_[s[L_.alpha]];
                    const uint32_t a = alphaLevel_[s[L_.alpha]];
                    const uint32_t r8 = std::min(a, to8(colourFraction_[s[0]] * af));
                    const uint32_t g8 = grey ? r8 : std::min(a, to8(colourFraction_[s[1]] * af));
                    const uint32_t b8 = grey ? r8 : std::min(a, to8(colourFraction_[s[2]] * af));
                    out[x] = a << 24 | r8 << 16 | g8 << 8 | b8;
                }
            }
        }
    }

private:
    SampleLayout L_;
    std::vector<uint8_t> colourLevel_, alphaLevel_;      // to8 of each value's fraction (grey inverted where white is 0)
    std::vector<float> colourFraction_, alphaFraction_;  // the fractions, for straight alpha
};

// R, G, B bytes to 0xFFRRGGBB words, four pixels from three loads at a time.
void wordsOfRgb(const uint8_t* in, uint32_t count, uint32_t* out) {
    uint32_t x = 0;
    for (; x + 4 <= count; x += 4, in += 12) {
        uint32_t w[3];
        std::memcpy(w, in, 12);
        const uint32_t a = qFromLittleEndian(w[0]), b = qFromLittleEndian(w[1]), c = qFromLittleEndian(w[2]);
        // a = r0 g0 b0 r1, b = g1 b1 r2 g2, c = b2 r3 g3 b3 (first byte lowest)
        out[x] = 0xFF000000u | (a & 0xFFu) << 16 | (a & 0xFF00u) | ((a >> 16) & 0xFFu);
        out[x + 1] = 0xFF000000u | (a >> 24) << 16 | (b & 0xFFu) << 8 | ((b >> 8) & 0xFFu);
        out[x + 2] = 0xFF000000u | ((b >> 16) & 0xFFu) << 16 | (b >> 24) << 8 | (c & 0xFFu);
        out[x + 3] = 0xFF000000u | ((c >> 8) & 0xFFu) << 16 | ((c >> 16) & 0xFFu) << 8 | (c >> 24);
    }
    for (; x < count; ++x, in += 3) out[x] = 0xFF000000u | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
}

// Reads a TIFF's picture a band of rows at a time: one strip, or one row of tiles. The
// whole decode and the reader of rows both go through it, so their pixels are the same:
// our own reading of the samples for the layouts readsSamples takes, libtiff's RGBA reader
// (8-bit RGB, grey, palette, YCbCr) for the rest.
class TiffBands {
public:
    TiffBands(TIFF* tif, TiffStream& f, uint32_t width, uint32_t height) : tif_(tif), f_(f) {
        L_.width = width;
        L_.height = height;
    }
    ~TiffBands() {
        if (rgbaBegun_) TIFFRGBAImageEnd(&img_);
    }
    TiffBands(const TiffBands&) = delete;
    TiffBands& operator=(const TiffBands&) = delete;

    // Ready to read; false with the reason when the picture cannot be read. With `whole`,
    // libtiff's reader takes the picture in one band: the rows it reads (strips, or rows of
    // tiles) are its business.
    bool begin(bool whole, const QString& name, QString* why) {
        if (readsSamples(tif_, L_)) return beginSamples(name, why);
        if (beginPlain()) return true;
        char emsg[1024] = {0};
        if (!TIFFRGBAImageOK(tif_, emsg)) {
            *why = QString::fromLocal8Bit(emsg);
            unsupported_ = true;
            return false;
        }
        if (!TIFFRGBAImageBegin(&img_, tif_, 0, emsg)) {
            *why = QString::fromLocal8Bit(emsg);
            return false;
        }
        rgbaBegun_ = true;
        // Keep the stored row order; the caller applies the orientation tag itself.
        img_.req_orientation = img_.orientation;
        chunkW_ = L_.width;
        if (TIFFIsTiled(tif_)) {
            TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &chunkW_);
            TIFFGetField(tif_, TIFFTAG_TILELENGTH, &chunkH_);
        } else {
            TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &chunkH_);
        }
        chunkH_ = std::clamp<uint32_t>(chunkH_, 1, std::max<uint32_t>(1, L_.height));
        bandRows_ = whole ? std::max<uint32_t>(1, L_.height) : chunkH_;
        return true;
    }
    // Read by our own reading of the samples (else by libtiff's RGBA reader).
    bool samples() const { return !rgbaBegun_ && !plain_; }
    // 8-bit RGB or grey samples, nothing else: each row of a band is turned into words only
    // as it is asked for (plainRows), from the band's strip or tiles as stored.
    bool plain() const { return plain_; }
    // Unsupported rather than damaged, when begin() failed.
    bool unsupported() const { return unsupported_; }
    // Rows a band holds (the last one may hold fewer).
    uint32_t bandRows() const { return bandRows_; }
    // The rows carry alpha.
    bool transparent() const { return rgbaBegun_ ? img_.alpha != 0 : L_.alpha >= 0; }

    // Inks with alpha: CMYK samples and an alpha sample, which read() leaves beside the inks.
    bool inksWithAlpha() const { return samples() && L_.colours == 4 && L_.alpha >= 0; }

    // Band at row `top` (a multiple of bandRows()) into `rows`, a band's rows of 32-bit words
    // one after another: premultiplied ARGB as tiffDecode gives it (a CMYK picture's inks,
    // until converted; with inksWithAlpha(), their straight alpha into `opacity`, a byte a
    // pixel, the band's rows one after another).
    bool read(uint32_t top, uint32_t* rows, QString* why, uint8_t* opacity = nullptr) {
        const uint32_t count = std::min(bandRows_, L_.height - top);
        if (plain_) {
            if (!loadPlain(top, why)) return false;
            plainRows(top, top + count, reinterpret_cast<uchar*>(rows), qsizetype(L_.width) * 4);
            return true;
        }
        if (!rgbaBegun_) return readSamples(top, int(count), rows, why, opacity);
        img_.row_offset = int(top);
        if (!TIFFRGBAImageGet(&img_, rows, L_.width, count) || !f_.error.isEmpty()) return false;
        // libtiff packs R in the low byte (ABGR); QImage wants B there.
        for (size_t i = 0, n = size_t(count) * L_.width; i < n; ++i) {
            const uint32_t p = rows[i];
            rows[i] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
        }
        return true;
    }
    // A plain picture's band at `top` read from its strip or tiles, for plainRows.
    bool loadPlain(uint32_t top, QString* why) {
        const uint32_t across = tiled_ ? (L_.width + chunkW_ - 1) / chunkW_ : 1;
        for (uint32_t t = 0; t < across; ++t) {
            uint8_t* into = chunk_.data() + size_t(t) * chunkBytes_;
            const tmsize_t got =
                tiled_ ? TIFFReadEncodedTile(tif_, TIFFComputeTile(tif_, t * chunkW_, top, 0, 0), into, tmsize_t(chunkBytes_))
                       : TIFFReadEncodedStrip(tif_, TIFFComputeStrip(tif_, top, 0), into, tmsize_t(chunkBytes_));
            if (got < 0 || !f_.error.isEmpty()) {
                if (why->isEmpty()) *why = QStringLiteral("a strip or tile could not be decoded");
                return false;
            }
        }
        plainTop_ = top;
        return true;
    }
    // Rows [y0, y1) of the band loadPlain read, at base (row y at base + (y - y0) * bytesPerLine,
    // or every row at base when bytesPerLine is 0): each pixel 0xFF, R, G, B from the top
    // byte down, as libtiff's RGBA reader gives them.
    void plainRows(uint32_t y0, uint32_t y1, uchar* base, qsizetype bytesPerLine) const {
        const uint32_t across = tiled_ ? (L_.width + chunkW_ - 1) / chunkW_ : 1;
        const bool grey = L_.spp == 1;
        for (uint32_t y = y0; y < y1; ++y) {
            auto* out = reinterpret_cast<uint32_t*>(base + qsizetype(y - y0) * bytesPerLine);
            for (uint32_t t = 0; t < across; ++t) {
                const uint32_t left = t * chunkW_, count = std::min(chunkW_, L_.width - left);
                const uint8_t* in = chunk_.data() + size_t(t) * chunkBytes_ + size_t(y - plainTop_) * rowBytes_;
                uint32_t* px = out + left;
                if (grey) {
                    for (uint32_t x = 0; x < count; ++x) px[x] = 0xFF000000u | uint32_t(in[x]) * 0x010101u;
                } else {
                    wordsOfRgb(in, count, px);
                }
            }
        }
    }

    // The same rows as R, G, B bytes, as stored, for a plain RGB picture.
    bool plainRgb() const { return plain_ && L_.spp == 3; }
    void plainRgbRows(uint32_t y0, uint32_t y1, uchar* base, qsizetype bytesPerLine) const {
        const uint32_t across = tiled_ ? (L_.width + chunkW_ - 1) / chunkW_ : 1;
        for (uint32_t y = y0; y < y1; ++y) {
            uchar* out = base + qsizetype(y - y0) * bytesPerLine;
            for (uint32_t t = 0; t < across; ++t) {
                const uint32_t left = t * chunkW_, count = std::min(chunkW_, L_.width - left);
                const uint8_t* in = chunk_.data() + size_t(t) * chunkBytes_ + size_t(y - plainTop_) * rowBytes_;
                std::memcpy(out + size_t(left) * 3, in, size_t(count) * 3);
            }
        }
    }

private:
    // How the picture is cut: strips of whole rows, or tiles; a strip's or tile's size and
    // the bytes of one of its rows as libtiff decodes them.
    void readChunkLayout() {
        tiled_ = TIFFIsTiled(tif_);
        chunkW_ = L_.width;
        if (tiled_) {
            TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &chunkW_);
            TIFFGetField(tif_, TIFFTAG_TILELENGTH, &chunkH_);
            chunkBytes_ = TIFFTileSize64(tif_);
            rowBytes_ = TIFFTileRowSize64(tif_);
        } else {
            TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &chunkH_);
            chunkH_ = std::min(chunkH_, L_.height);
            chunkBytes_ = TIFFStripSize64(tif_);
            rowBytes_ = TIFFScanlineSize64(tif_);
        }
    }

    // 8-bit RGB or grey samples side by side, without alpha or any other sample, and nothing
    // for libtiff's RGBA reader to turn: those it would only copy into words.
    bool beginPlain() {
        uint16_t compression = COMPRESSION_NONE, extraCount = 0;
        uint16_t* extraTypes = nullptr;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
        const bool samples = (L_.photometric == PHOTOMETRIC_RGB && L_.spp == 3) ||
                             (L_.photometric == PHOTOMETRIC_MINISBLACK && L_.spp == 1);
        if (!samples || L_.bits != 8 || L_.planar != PLANARCONFIG_CONTIG || extraCount != 0 ||
            compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG)
            return false;
        readChunkLayout();
        const uint32_t across = tiled_ && chunkW_ ? (L_.width + chunkW_ - 1) / chunkW_ : 1;
        // Every row read must lie inside its chunk, and a band of chunks be of a size to hold.
        if (chunkW_ == 0 || chunkH_ == 0 || rowBytes_ < uint64_t(chunkW_) * L_.spp || chunkBytes_ < rowBytes_ * chunkH_ ||
            chunkBytes_ * across > (uint64_t(256) << 20))
            return false;
        chunk_.resize(size_t(chunkBytes_ * across));
        bandRows_ = chunkH_;
        plain_ = true;
        return true;
    }

    bool beginSamples(const QString& name, QString* why) {
        if (L_.jpegYCbCr) TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        separate_ = L_.planar == PLANARCONFIG_SEPARATE && L_.spp > 1;
        planes_ = separate_ ? L_.spp : 1;
        perChunk_ = separate_ ? 1 : L_.spp;  // samples a pixel in each chunk
        readChunkLayout();
        // Everything a chunk's rows are read from must lie inside the chunk.
        if (chunkW_ == 0 || chunkH_ == 0 || rowBytes_ == 0 || chunkBytes_ < rowBytes_ * chunkH_ ||
            rowBytes_ * 8 < uint64_t(chunkW_) * perChunk_ * L_.bits) {
            *why = QStringLiteral("its strips or tiles do not fit its size");
            return false;
        }
        // Large strips (a whole picture in one, as some writers keep a 32-bit floating-point
        // one of hundreds of megabytes) are decoded a row at a time as libtiff reads them; a
        // strip or tile is read whole only while it is small.
        constexpr uint64_t kWholeChunkBytes = uint64_t(64) << 20;
        byRows_ = chunkBytes_ > kWholeChunkBytes && !tiled_ && !separate_;
        if (chunkBytes_ > (uint64_t(256) << 20) && !byRows_) {
            *why = QStringLiteral("its tiles or separate planes are too large to read");
            return false;
        }
        if (byRows_) {
            chunkBytes_ = rowBytes_;
            chunkH_ = uint32_t(
                std::clamp<uint64_t>(kWholeChunkBytes / 4 / (uint64_t(L_.width) * L_.spp * sizeof(float)), 1, chunkH_));
        }
        if (L_.photometric == PHOTOMETRIC_CIELAB || L_.photometric == PHOTOMETRIC_ICCLAB) {
            // Relative to the file's white point, D50 (the profile connection white) when it names none.
            float* white = nullptr;
            double wx = 0.3457, wy = 0.3585;
            if (TIFFGetField(tif_, TIFFTAG_WHITEPOINT, &white) && white && white[0] > 0 && white[1] > 0)
                wx = white[0], wy = white[1];
            lab_ = std::make_unique<LabToSrgb>(wx, wy);
            if (!lab_->valid()) {
                *why = QStringLiteral("no CIELab conversion");
                return false;
            }
        }
        Q_UNUSED(name);
        chunk_.resize(static_cast<size_t>(chunkBytes_));
        if (IntegerLevels::takes(L_)) {
            levels_ = std::make_unique<IntegerLevels>(L_);
            stored_.resize(size_t(chunkH_) * L_.width * L_.spp);
        } else {
            band_.resize(size_t(chunkH_) * L_.width * L_.spp);
        }
        bandRows_ = chunkH_;
        return true;
    }

    bool readSamples(uint32_t top, int rows, uint32_t* out, QString* why, uint8_t* opacity) {
        if (inksWithAlpha() && !opacity) {
            *why = QStringLiteral("no place for the alpha of its inks");
            return false;
        }
        if (levels_) {
            if (!unpackBand(top, rows, stored_, why)) return false;
            levels_->emitRows(stored_.data(), rows, out, L_.width);
        } else {
            if (!unpackBand(top, rows, band_, why)) return false;
            emitRows(band_, rows, L_, out, L_.width, lab_.get(), opacity);
        }
        return f_.error.isEmpty();
    }

    // The samples of the band's rows at `top` into `band`, pixel by pixel.
    template <class Number>
    bool unpackBand(uint32_t top, int rows, std::vector<Number>& band, QString* why) {
        const uint32_t across = tiled_ ? (L_.width + chunkW_ - 1) / chunkW_ : 1;
        std::fill(band.begin(), band.end(), Number(0));
        for (int r = 0; byRows_ && r < rows; ++r) {
            if (TIFFReadScanline(tif_, chunk_.data(), top + uint32_t(r), 0) < 0) {
                if (why->isEmpty()) *why = QStringLiteral("a strip could not be decoded");
                return false;
            }
            unpackSamples(chunk_.data(), int(L_.width) * perChunk_, L_, band.data() + size_t(r) * L_.width * L_.spp, 1);
        }
        for (int plane = 0; !byRows_ && plane < planes_; ++plane) {
            for (uint32_t t = 0; t < across; ++t) {
                const uint32_t left = t * chunkW_;
                const tmsize_t got =
                    tiled_ ? TIFFReadEncodedTile(tif_, TIFFComputeTile(tif_, left, top, 0, uint16_t(plane)), chunk_.data(),
                                                 tmsize_t(chunkBytes_))
                           : TIFFReadEncodedStrip(tif_, TIFFComputeStrip(tif_, top, uint16_t(plane)), chunk_.data(),
                                                  tmsize_t(chunkBytes_));
                if (got < 0) {
                    if (why->isEmpty()) *why = QStringLiteral("a strip or tile could not be decoded");
                    return false;
                }
                const int pixels = int(std::min(chunkW_, L_.width - left));
                for (int r = 0; r < rows; ++r) {
                    Number* dst = band.data() + (size_t(r) * L_.width + left) * L_.spp + (separate_ ? plane : 0);
                    unpackSamples(chunk_.data() + size_t(r) * rowBytes_, pixels * perChunk_, L_, dst,
                                  separate_ ? L_.spp : 1);
                }
            }
        }
        return true;
    }

    TIFF* tif_;
    TiffStream& f_;
    SampleLayout L_;
    uint32_t bandRows_ = 1;
    bool unsupported_ = false;
    // libtiff's RGBA reader
    TIFFRGBAImage img_ = {};
    bool rgbaBegun_ = false;
    // plain samples (their chunks in chunk_, the band's first row plainTop_)
    bool plain_ = false;
    uint32_t plainTop_ = 0;
    // our own reading of the samples
    bool separate_ = false, tiled_ = false, byRows_ = false;
    int planes_ = 1, perChunk_ = 1;
    uint32_t chunkW_ = 0, chunkH_ = 0;
    uint64_t chunkBytes_ = 0, rowBytes_ = 0;
    std::unique_ptr<LabToSrgb> lab_;
    std::vector<uint8_t> chunk_;
    std::vector<float> band_;
    // unsigned integer samples of up to 16 bits: the values as stored, and what they become
    std::vector<uint16_t> stored_;
    std::unique_ptr<IntegerLevels> levels_;
};

}  // namespace

namespace {

// What the header of an open TIFF says.
ImageHeader headerOfTiff(TIFF* tif) {
    ImageHeader out;
    uint32_t w = 0, ht = 0;
    uint16_t orientation = 1, photometric = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &ht);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    out.format = ImageFormat::TIFF;
    out.width = int(std::min<uint32_t>(w, INT32_MAX));
    out.height = int(std::min<uint32_t>(ht, INT32_MAX));
    out.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    out.colourModel = colourModelOf(photometric);
    out.iccProfile = iccProfile(tif);
    return out;
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
    uint16_t bits = 1, unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    facts.header = headerOfTiff(h.tif);
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
    facts.header.pages = pageCount(h.tif);
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

    TiffBands bands(h.tif, f, w, ht);
    QString corrupt;
    if (!bands.begin(true, name, &corrupt)) {
        if (bands.unsupported()) {
            log(u"%@: unsupported TIFF layout (%@)", name, corrupt);
            return decodeFailed(why, DecodeFailure::Unsupported,
                                QStringLiteral("this TIFF stores its pixels in a way this program cannot read (%1)")
                                    .arg(corrupt));
        }
        log(u"%@: TIFF data is corrupt (%@)", name, !f.error.isEmpty() ? f.error : corrupt);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    QImage image = allocateImage(int(w), int(ht), QImage::Format_ARGB32_Premultiplied, name);
    // CMYK pixels have no byte left for their alpha: it waits beside them until they are RGB.
    std::vector<uint8_t> opacity(bands.inksWithAlpha() ? size_t(w) * ht : 0);
    for (uint32_t top = 0; top < ht; top += bands.bandRows()) {
        if (!bands.read(top, reinterpret_cast<uint32_t*>(image.scanLine(int(top))), &corrupt,
                        opacity.empty() ? nullptr : opacity.data() + size_t(top) * w)) {
            log(u"%@: TIFF data is corrupt (%@)", name,
                !f.error.isEmpty() ? f.error : corrupt.isEmpty() ? QStringLiteral("read failed") : corrupt);
            return decodeFailed(why, DecodeFailure::Damaged);
        }
    }
    if (bands.samples()) {
        if (model == ColourModel::CMYK) {
            convertCmykToSrgb(image, iccProfile(h.tif), false, name);
            for (uint32_t y = 0; !opacity.empty() && y < ht; ++y) {
                auto* px = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
                const uint8_t* a = opacity.data() + size_t(y) * w;
                for (uint32_t x = 0; x < w; ++x) px[x] = qPremultiply(qRgba(qRed(px[x]), qGreen(px[x]), qBlue(px[x]), a[x]));
            }
        } else if (model != ColourModel::Lab)
            attachProfile(image, iccProfile(h.tif), model, name);
    } else if (model == ColourModel::RGB || model == ColourModel::Gray) {
        // Grey, RGB and palette pictures keep their profile; what libtiff turned into RGB from
        // anything else (CMYK by a plain formula, for instance) has none that fits.
        attachProfile(image, iccProfile(h.tif), model, name);
    }
    return image;
}

namespace {

// A band of rows read this way holds at most this many bytes: a file whose strips or tiles are
// taller than that (a whole picture in one strip) saves nothing read by rows.
constexpr uint64_t kMostBandBytes = uint64_t(64) << 20;

// A TIFF read a band of rows at a time (a strip, or a row of tiles), each band handed out
// row by row; the strips and tiles read from the file as they are needed.
class TiffRowSource : public RowSource {
public:
    TiffRowSource(std::unique_ptr<FileBytes> file, const QString& path, const DecodeOptions& options)
        : file_(std::move(file)), name_(path) {
        if (!file_) return;
        f_.readData = file_->bytes.data;
        f_.size = file_->bytes.size;
        h_.tif = openTiff(f_, "rm");
        if (!h_.tif) {
            log(u"%@: TIFF data is corrupt (%@)", name_, f_.error);
            return;
        }
        // What tiffFacts reads, from this one reading of the header.
        header_ = headerOfTiff(h_.tif);
        const uint32_t w = uint32_t(header_.width), ht = uint32_t(header_.height);
        uint16_t photometric = 0, compression = COMPRESSION_NONE;
        TIFFGetField(h_.tif, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(h_.tif, TIFFTAG_COMPRESSION, &compression);
        if (file_->cut() || !header_.valid()) {
            header_ = ImageHeader{};
            return;
        }
        const ColourModel model = header_.colourModel;
        if ((model != ColourModel::RGB && model != ColourModel::Gray) ||
            profileAppliedWhileReading(header_.iccProfile, model)) {
            refused_ = RowsRefused::Converted;
            return;
        }
        if (!checkBudget(w, ht, options, name_, "TIFF")) {
            refused_ = RowsRefused::TooLarge;
            return;
        }
        bands_ = std::make_unique<TiffBands>(h_.tif, f_, w, ht);
        QString why;
        if (!bands_->begin(false, name_, &why)) {
            refused_ = bands_->unsupported() ? RowsRefused::Layout : RowsRefused::Unreadable;
            return;
        }
        // libtiff's RGBA reader turns subsampled colours and old-style JPEG into RGB by blocks
        // that a band need not hold whole.
        const bool blocks = !bands_->samples() && (photometric == PHOTOMETRIC_YCBCR || compression == COMPRESSION_OJPEG);
        if (blocks || uint64_t(bands_->bandRows()) * w * 4 > kMostBandBytes) {
            refused_ = RowsRefused::Layout;
            return;
        }
        // The strips and tiles are read from the file itself from here, as libtiff asks for
        // them: its pages stay the system's cache, never this process's memory.
        f_.readFd = file_->handle();
        failed_ = f_.readFd < 0;
        refused_ = failed_ ? RowsRefused::Unreadable : RowsRefused::None;
    }

    int width() const override { return header_.width; }
    int height() const override { return header_.height; }
    bool transparent() const override { return bands_ && isValid() && bands_->transparent(); }
    int rowsRead() const override { return rows_; }
    bool cut() const override {
        struct stat now {};
        return file_ && (file_->cut() || (f_.readFd >= 0 && ::fstat(f_.readFd, &now) == 0 && toff_t(now.st_size) < f_.size));
    }

    bool readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) override {
        const int end = std::clamp(rowsEnd, 0, header_.height);
        while (!failed_ && rows_ < end) {
            if (!holds(rows_) && !load(uint32_t(rows_))) return false;
            const int last = std::min(end, bandTop_ + bandCount_);
            if (bands_->plain()) {
                uchar* const at = base + qsizetype(rows_) * bytesPerLine;
                if (rgbBytes_) bands_->plainRgbRows(uint32_t(rows_), uint32_t(last), at, bytesPerLine);
                else bands_->plainRows(uint32_t(rows_), uint32_t(last), at, bytesPerLine);
                rows_ = last;
            }
            for (; rows_ < last; ++rows_)
                std::memcpy(base + qsizetype(rows_) * bytesPerLine, band_.data() + size_t(rows_ - bandTop_) * header_.width,
                            size_t(header_.width) * 4);
        }
        return !failed_;
    }

    bool rowsAsRgbBytes() override {
        if (failed_ || rows_ > 0 || !bands_ || !bands_->plainRgb()) return false;
        rgbBytes_ = true;
        return true;
    }

    std::optional<bool> opaque() override {
        if (failed_ || rows_ > 0) return std::nullopt;
        if (!transparent()) return true;
        bool allOpaque = true;
        for (uint32_t top = 0; top < uint32_t(header_.height) && allOpaque; top += bands_->bandRows()) {
            if (!load(top)) return std::nullopt;
            uint32_t all = 0xFFFFFFFFu;
            for (size_t i = 0, n = size_t(bandCount_) * header_.width; i < n; ++i) all &= band_[i];
            allOpaque = (all >> 24) == 0xFFu;
        }
        bandTop_ = -1;  // the rows are read from the top again
        return allOpaque;
    }

private:
    bool holds(int row) const { return bandTop_ >= 0 && row >= bandTop_ && row < bandTop_ + bandCount_; }

    // The band holding row `top` (the first of a band) into band_ (or, plain, its chunks).
    bool load(uint32_t top) {
        const uint32_t rows = bands_->bandRows();
        top -= top % rows;
        bandCount_ = int(std::min<uint32_t>(rows, uint32_t(header_.height) - top));
        QString why;
        bool read;
        if (bands_->plain()) {
            read = bands_->loadPlain(top, &why);
        } else {
            band_.resize(size_t(rows) * header_.width);
            read = bands_->read(top, band_.data(), &why);
        }
        if (cut()) {
            log(u"%@: the file was cut short while it was read", name_);
            return fail();
        }
        if (!read) {
            log(u"%@: TIFF data is corrupt (%@)", name_,
                !f_.error.isEmpty() ? f_.error : why.isEmpty() ? QStringLiteral("read failed") : why);
            return fail();
        }
        bandTop_ = int(top);
        return true;
    }
    bool fail() {
        failed_ = true;
        bandTop_ = -1;
        return false;
    }

    std::unique_ptr<FileBytes> file_;
    QString name_;
    TiffStream f_;
    Handle h_;  // after f_, which it reads from while it closes
    std::unique_ptr<TiffBands> bands_;
    std::vector<uint32_t> band_;
    int bandTop_ = -1, bandCount_ = 0;
    int rows_ = 0;  // read so far
    bool failed_ = true;
    bool rgbBytes_ = false;  // rows handed out as R, G, B bytes
};

}  // namespace

std::unique_ptr<RowSource> tiffRowSource(std::unique_ptr<FileBytes> file, const QString& path,
                                         const DecodeOptions& options) {
    return std::make_unique<TiffRowSource>(std::move(file), path, options);
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
