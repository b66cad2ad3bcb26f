// BMP, and DIB (a BMP without its 14-byte file header, told by its name and a header BMP
// knows), read and written here, and the BMP pictures inside Windows icons and cursors.
// Every header the format has known is read: OS/2 1.x (12 bytes, three-byte palette
// entries), OS/2 2.x (16 to 64 bytes) and Windows' 40- to 124-byte ones; palette pictures
// of 1, 2, 4 and 8 bits, run-length coded ones (RLE4, RLE8), and 16-, 24- and 32-bit ones
// with or without bit fields. A 124-byte header's embedded colour profile goes with the
// picture; a linked one names a file, which is never opened.
//
// Every pixel of the picture handed on is defined by the file. The format leaves the
// pixels a run-length picture skips undefined (a delta, an end of line or of the bitmap
// before the last pixel), and those are transparent. Anything else the file does not
// define is damage, and the picture is refused: data that end before the picture does,
// runs that run off it, pixels that name colours the palette lacks, a colour count larger
// than the file could hold. Channels narrower than 8 bits are widened by repeating their
// top bits, so that a 5-bit 31 is 255, not 248.
//
// Writing: 24-bit rows for opaque pictures, 32-bit with an alpha mask (a V4 header)
// otherwise.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace platform::codec {
namespace {

uint32_t u32(const uint8_t* p) { return qFromLittleEndian<uint32_t>(p); }
int32_t i32(const uint8_t* p) { return qFromLittleEndian<int32_t>(p); }
uint16_t u16(const uint8_t* p) { return qFromLittleEndian<uint16_t>(p); }

enum Compression : uint32_t { kUncompressedRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5, kAlphaBitFields = 6 };
// A 124-byte header's colour space types that name a profile: one held in the file, and one
// named by a path.
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'

// Where the information header is: after a file header, alone (a DIB), or in an icon's
// directory, where it counts the mask's rows into its height.
enum class Container { File, Dib, Icon };

// One channel of a bit-field pixel.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Channel(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1u)) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1u)) ++bits;
    }
    // The channel as 0..255: wider ones keep their top 8 bits, narrower ones repeat theirs.
    uint32_t of(uint32_t pixel) const {
        if (bits == 0) return 0;
        const uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8) return v >> (bits - 8);
        uint32_t out = 0;
        for (int filled = 0; filled < 8; filled += bits) out = (out << bits) | v;
        return (out >> (((8 + bits - 1) / bits) * bits - 8)) & 0xFFu;
    }
};

struct BmpLayout {
    Container container = Container::File;
    size_t dib = 0;             // where the information header starts (14, or 0)
    uint32_t headerSize = 0;
    int64_t width = 0, height = 0;
    bool topDown = false;
    bool os2 = false;           // an OS/2 header, whose compressions 3 and 4 are not Windows'
    uint16_t bits = 0;
    uint32_t compression = kUncompressedRgb;
    uint32_t masks[4] = {};     // red, green, blue, alpha
    size_t paletteAt = 0;
    int paletteEntry = 4;       // bytes
    uint32_t declaredColours = 0;  // the header's colour count as stored; 0 when it gives none
    uint32_t paletteCount = 0;  // entries the header declares (or implies), at most 256
    size_t pixelsAt = 0;
    uint32_t colourSpace = 0;   // a 124-byte header's colour space type
    uint64_t profileOffset = 0, profileSize = 0;  // from the information header's start
};

// The information header; false when it is not one.
bool parseLayout(Bytes in, Container container, BmpLayout& L) {
    const size_t dib = container == Container::File ? 14 : 0;
    if (in.size < dib + 16) return false;
    const uint8_t* h = in.data + dib;
    L.container = container;
    L.dib = dib;
    L.headerSize = u32(h);
    if (L.headerSize == 12) {
        L.width = u16(h + 4);
        L.height = u16(h + 6);
        L.bits = u16(h + 10);
        L.os2 = true;
        L.paletteEntry = 3;
    } else if (L.headerSize >= 16 && L.headerSize <= 1024) {
        // An OS/2 2.x header may stop anywhere after 16 bytes; the fields left out are zero.
        uint8_t fields[124] = {};
        std::memcpy(fields, h, std::min<size_t>({L.headerSize, sizeof fields, in.size - dib}));
        L.width = i32(fields + 4);
        L.height = i32(fields + 8);
        L.bits = u16(fields + 14);
        L.compression = u32(fields + 16);
        L.declaredColours = u32(fields + 32);
        L.os2 = L.headerSize == 64 || L.headerSize < 40;
        if (L.headerSize >= 52) {
            for (int c = 0; c < 3; ++c) L.masks[c] = u32(fields + 40 + 4 * c);
            if (L.headerSize >= 56) L.masks[3] = u32(fields + 52);
        }
        if (L.headerSize >= 124) {
            L.colourSpace = u32(fields + 56);
            L.profileOffset = u32(fields + 112);
            L.profileSize = u32(fields + 116);
        }
    } else {
        return false;
    }
    if (L.height < 0) {
        L.height = -L.height;
        L.topDown = true;
    }
    if (container == Container::Icon) L.height /= 2;  // the mask's rows follow the colour rows'
    if (L.width <= 0 || L.height <= 0 || L.width > INT32_MAX || L.height > INT32_MAX) return false;
    size_t at = dib + L.headerSize;
    // A 40-byte header keeps its bit fields after itself.
    if (L.headerSize == 40 && !L.os2 && (L.compression == kBitFields || L.compression == kAlphaBitFields)) {
        const int count = L.compression == kAlphaBitFields ? 4 : 3;
        if (in.size < at + 4 * size_t(count)) return false;
        for (int c = 0; c < count; ++c) L.masks[c] = u32(in.data + at + 4 * c);
        at += 4 * size_t(count);
    }
    L.paletteAt = at;
    if (L.bits <= 8) {
        const uint32_t full = 1u << std::min<uint16_t>(L.bits, 8);
        L.paletteCount = L.declaredColours == 0 || L.declaredColours > full ? full : L.declaredColours;
    } else if (L.headerSize == 12) {
        L.paletteCount = 0;
    } else {
        L.paletteCount = std::min<uint32_t>(L.declaredColours, 256);  // a colour table beside direct colours
    }
    const size_t paletteEnd = at + size_t(L.paletteCount) * size_t(L.paletteEntry);
    if (container == Container::File) {
        // The file header says where the pixels start. They cannot start inside the headers,
        // nor inside a palette whose colours the header counts: a writer that got the place
        // wrong put them after the palette. Where the count is implied (no count given, or an
        // OS/2 1.x header, which has none), the palette may be shorter than its depth allows,
        // and the pixels start where the file header says.
        const size_t declared = u32(in.data + 10);
        const size_t earliest = L.declaredColours != 0 ? paletteEnd : at;
        L.pixelsAt = declared >= earliest && declared < in.size ? declared : paletteEnd;
    } else {
        L.pixelsAt = paletteEnd;
    }
    return true;
}

// The embedded colour profile when the header names one that lies in the file; empty
// otherwise (with a log line when `name` is given).
QByteArray embeddedProfile(Bytes in, const BmpLayout& L, const QString* name) {
    if (L.colourSpace == kProfileLinked) {
        if (name) log(u"%@: the BMP names a colour profile file; it is not opened", *name);
        return QByteArray();
    }
    if (L.colourSpace != kProfileEmbedded || L.profileSize == 0) return QByteArray();
    const uint64_t at = uint64_t(L.dib) + L.profileOffset;
    if (L.profileOffset < L.headerSize || at > in.size || L.profileSize > in.size - at) {
        if (name) log(u"%@: the BMP's colour profile lies outside the file; it is left out", *name);
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(in.data + at), qsizetype(L.profileSize));
}

ImageFacts factsOf(Bytes in, const BmpLayout& L) {
    ImageFacts facts;
    facts.header.format = L.container == Container::File ? ImageFormat::BMP
                          : L.container == Container::Dib ? ImageFormat::DIB
                                                          : ImageFormat::ICO;
    facts.header.width = int(L.width);
    facts.header.height = int(L.height);
    facts.header.iccProfile = embeddedProfile(in, L, nullptr);
    facts.depth = 8;  // every layout is read as 8 bits a channel
    // Pixels per metre, in the 40-byte fields (an OS/2 2.x header may stop before them).
    if (L.headerSize >= 32 && in.size >= L.dib + 32) {
        const int32_t x = i32(in.data + L.dib + 24), y = i32(in.data + L.dib + 28);
        if (x > 0 && y > 0) facts.dotsPerInch = QPointF(dotsPerInchOf(x), dotsPerInchOf(y));
    }
    return facts;
}

// The palette as opaque colours, always 256 entries; `count` says how many of them the file
// holds (a palette may be cut off by the pixels).
std::vector<QRgb> readPalette(Bytes in, const BmpLayout& L, uint32_t& count) {
    std::vector<QRgb> palette;
    const size_t end = std::min(L.pixelsAt > L.paletteAt ? L.pixelsAt : in.size, in.size);
    for (uint32_t i = 0; i < L.paletteCount; ++i) {
        const size_t at = L.paletteAt + size_t(i) * size_t(L.paletteEntry);
        if (at + 3 > end) break;
        palette.push_back(qRgb(in.data[at + 2], in.data[at + 1], in.data[at]));
    }
    count = uint32_t(palette.size());
    palette.resize(256, 0);
    return palette;
}

QRgb* rowOf(QImage& image, const BmpLayout& L, int64_t fileRow) {
    return reinterpret_cast<QRgb*>(image.scanLine(int(L.topDown ? fileRow : L.height - 1 - fileRow)));
}

const char* const kDataEndEarly = "its data end before the picture does";
const char* const kRunsOffThePicture = "its run-length codes run off the picture";

// Walks the run-length codes, handing each run of pixels to run(row, x, count, index),
// where index(i) is the run's i-th palette index. Returns what is wrong with the codes, or
// nullptr when they fit the picture: every run inside it, and the codes ending with an end
// of the bitmap or past its last pixel.
template <typename Run>
const char* walkRle(Bytes in, const BmpLayout& L, Run&& run) {
    const bool four = L.compression == kRle4;
    // An RLE4 row's last byte holds two pixels: a run may fill the half past an odd width.
    const int64_t limit = four ? (L.width + 1) & ~int64_t(1) : L.width;
    const uint8_t* p = in.data + L.pixelsAt;
    const uint8_t* const end = in.data + in.size;
    int64_t x = 0, row = 0;
    for (;;) {
        if (end - p < 2) return row >= L.height || (row == L.height - 1 && x >= L.width) ? nullptr : kDataEndEarly;
        const uint8_t count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            if (row >= L.height || x + count > limit) return kRunsOffThePicture;
            run(row, x, int(count), [&](int i) { return four ? (i & 1 ? value & 0x0Fu : value >> 4u) : value; });
            x += count;
        } else if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of the bitmap
            return nullptr;
        } else if (value == 2) {  // a jump ahead
            if (end - p < 2) return kDataEndEarly;
            x += p[0];
            row += p[1];
            p += 2;
            if (x > limit || row > L.height) return kRunsOffThePicture;
        } else {  // absolute: `value` pixels as they are, padded to a whole 16-bit word
            const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
            if (size_t(end - p) < bytes) return kDataEndEarly;
            if (row >= L.height || x + value > limit) return kRunsOffThePicture;
            const uint8_t* pixels = p;
            run(row, x, int(value), [&](int i) { return four ? (i & 1 ? pixels[i / 2] & 0x0Fu : pixels[i / 2] >> 4u) : pixels[i]; });
            x += value;
            p += std::min((bytes + 1) & ~size_t(1), size_t(end - p));
        }
    }
}

// Uncompressed rows: palette indices, or direct colours through the channels. False when a
// pixel names a colour past the palette's `colours`.
bool decodeRows(Bytes in, const BmpLayout& L, const std::vector<QRgb>& palette, uint32_t colours, const Channel* ch,
                bool alpha, QImage& image) {
    const size_t stride = ((size_t(L.width) * L.bits + 31) / 32) * 4;
    const int width = int(L.width);
    for (int64_t r = 0; r < L.height; ++r) {
        const uint8_t* s = in.data + L.pixelsAt + size_t(r) * stride;
        QRgb* d = rowOf(image, L, r);
        switch (L.bits) {
        case 1:
        case 2:
        case 4:
        case 8: {
            const int perByte = 8 / L.bits;
            const uint32_t mask = (1u << L.bits) - 1;
            uint32_t highest = 0;
            for (int x = 0; x < width; ++x) {
                const int shift = 8 - L.bits * (x % perByte + 1);
                const uint32_t index = (s[x / perByte] >> shift) & mask;
                highest = std::max(highest, index);
                d[x] = palette[index];
            }
            if (highest >= colours) return false;
            break;
        }
        case 24:
            for (int x = 0; x < width; ++x, s += 3) d[x] = qRgb(s[2], s[1], s[0]);
            break;
        default:  // 16 and 32
            for (int x = 0; x < width; ++x) {
                const uint32_t v = L.bits == 16 ? u16(s + 2 * size_t(x)) : u32(s + 4 * size_t(x));
                const QRgb c = qRgba(int(ch[0].of(v)), int(ch[1].of(v)), int(ch[2].of(v)), alpha ? int(ch[3].of(v)) : 255);
                d[x] = alpha ? qPremultiply(c) : c;
            }
            break;
        }
    }
    return true;
}

// Whether any pixel of 16- or 32-bit rows has a non-zero value in the bits of `alpha`.
bool anyAlpha(Bytes in, const BmpLayout& L, const Channel& alpha) {
    const size_t stride = ((size_t(L.width) * L.bits + 31) / 32) * 4;
    for (int64_t r = 0; r < L.height; ++r) {
        const uint8_t* s = in.data + L.pixelsAt + size_t(r) * stride;
        uint32_t any = 0;
        for (int64_t x = 0; x < L.width; ++x) any |= (L.bits == 16 ? u16(s + 2 * x) : u32(s + 4 * x)) & alpha.mask;
        if (any) return true;
    }
    return false;
}

// An icon's mask: one bit a pixel in rows as the colour rows run, a set bit transparent.
void applyMask(Bytes in, const BmpLayout& L, size_t maskAt, QImage& image) {
    const size_t stride = ((size_t(L.width) + 31) / 32) * 4;
    for (int64_t r = 0; r < L.height; ++r) {
        const uint8_t* m = in.data + maskAt + size_t(r) * stride;
        QRgb* d = rowOf(image, L, r);
        for (int64_t x = 0; x < L.width; ++x)
            if (m[x >> 3] & (0x80u >> (x & 7))) d[x] = 0;
    }
}

bool readable(Bytes in, Container container, BmpLayout& L) {
    if (container == Container::File && (in.size < 26 || in.data[0] != 'B' || in.data[1] != 'M')) return false;
    return parseLayout(in, container, L);
}

QImage decode(Bytes in, Container container, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    const auto fail = [&](DecodeFailure kind) {
        if (why) why->failure = kind;
        return QImage();
    };
    const auto damaged = [&](const char* what) {
        log(u"%@: BMP data is damaged: %@", name, QString::fromLatin1(what));
        return decodeFailed(why, DecodeFailure::Damaged, QStringLiteral("the bitmap is damaged: ") + QLatin1String(what));
    };
    BmpLayout L;
    if (!readable(in, container, L)) {
        log(u"%@: BMP header is corrupt", name);
        return fail(DecodeFailure::Damaged);
    }
    if (!checkBudget(L.width, L.height, options, name, "BMP")) return fail(DecodeFailure::OverBudget);
    const bool rle = L.compression == kRle8 || L.compression == kRle4;
    const bool fields = !L.os2 && (L.compression == kBitFields || L.compression == kAlphaBitFields);
    if (!rle && !fields && L.compression != kUncompressedRgb) {
        // OS/2's own compressions (modified Huffman, 24-bit run lengths) share numbers with
        // Windows' bit fields and embedded JPEG; embedded JPEG and PNG are for printers.
        log(u"%@: BMP compression %@ is not supported", name, L.compression);
        return decodeFailed(why, DecodeFailure::Unsupported,
                            QStringLiteral("this bitmap is compressed in a way this program cannot read"));
    }
    const bool icon = container == Container::Icon;
    if (icon && rle) {
        // The mask follows the pixels, whose coded length an icon's header need not give.
        log(u"%@: an icon's run-length coded bitmap is not supported", name);
        return decodeFailed(why, DecodeFailure::Unsupported,
                            QStringLiteral("this icon is compressed in a way this program cannot read"));
    }
    const bool paletted = L.bits == 1 || L.bits == 2 || L.bits == 4 || L.bits == 8;
    const bool direct = L.bits == 16 || L.bits == 24 || L.bits == 32;
    if ((rle && L.bits != (L.compression == kRle8 ? 8 : 4)) || (fields && L.bits != 16 && L.bits != 32) ||
        (!paletted && !direct)) {
        log(u"%@: BMP of %@ bits a pixel with compression %@ is not a valid bitmap", name, L.bits, L.compression);
        return fail(DecodeFailure::Damaged);
    }
    if (L.pixelsAt >= in.size) {
        log(u"%@: BMP holds no pixel data", name);
        return fail(DecodeFailure::Damaged);
    }
    if (uint64_t(L.declaredColours) * uint64_t(L.paletteEntry) > in.size - std::min(L.paletteAt, in.size))
        return damaged("it counts more colours than the file holds");
    Channel ch[4];
    bool alpha = false;
    if (L.bits == 16 || L.bits == 32) {
        uint32_t masks[4] = {L.masks[0], L.masks[1], L.masks[2], L.masks[3]};
        if (!fields) {
            // Without bit fields, 5-5-5 and 8-8-8 with the top bits unused; an icon's 32-bit
            // pixels keep their alpha there.
            const bool sixteen = L.bits == 16;
            masks[0] = sixteen ? 0x7C00u : 0xFF0000u;
            masks[1] = sixteen ? 0x03E0u : 0x00FF00u;
            masks[2] = sixteen ? 0x001Fu : 0x0000FFu;
            masks[3] = icon && !sixteen ? 0xFF000000u : 0;
        }
        for (int c = 0; c < 4; ++c) ch[c] = Channel(masks[c]);
        alpha = ch[3].mask != 0;
    }
    const uint64_t stride = ((uint64_t(L.width) * L.bits + 31) / 32) * 4;
    const uint64_t maskAt = uint64_t(L.pixelsAt) + stride * uint64_t(L.height);
    if (!rle) {
        // Uncompressed rows have a known length: a file too short for their pixels is cut
        // short (the last row's padding may be missing).
        const uint64_t lastRow = (uint64_t(L.width) * L.bits + 7) / 8;
        if (uint64_t(L.pixelsAt) + stride * uint64_t(L.height - 1) + lastRow > in.size) {
            log(u"%@: BMP data ends early; the file is truncated", name);
            return fail(DecodeFailure::Damaged);
        }
    }
    // An icon's alpha, where it has any, stands in for its mask; without, the mask is needed.
    if (icon && alpha) alpha = anyAlpha(in, L, ch[3]);
    const bool masked = icon && !alpha;
    if (masked && maskAt + ((uint64_t(L.width) + 31) / 32) * 4 * uint64_t(L.height) > in.size)
        return damaged(kDataEndEarly);
    uint32_t colours = 0;
    const std::vector<QRgb> palette = paletted ? readPalette(in, L, colours) : std::vector<QRgb>();
    if (rle) {
        // The codes are checked before the picture is made: a few bytes may declare a
        // picture of many megapixels and end at once.
        uint32_t highest = 0;
        const char* wrong = walkRle(in, L, [&](int64_t, int64_t x, int count, const auto& index) {
            for (int i = 0; i < count && x + i < L.width; ++i) highest = std::max<uint32_t>(highest, index(i));
        });
        if (wrong) return damaged(wrong);
        if (highest >= colours) return damaged("its pixels name colours its palette lacks");
    }
    QImage image = allocateImage(int(L.width), int(L.height), QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return fail(DecodeFailure::OverBudget);
    if (rle) {
        image.fill(Qt::transparent);
        walkRle(in, L, [&](int64_t row, int64_t x, int count, const auto& index) {
            QRgb* line = rowOf(image, L, row);
            for (int i = 0; i < count && x + i < L.width; ++i) line[x + i] = palette[index(i)];
        });
    } else if (!decodeRows(in, L, palette, colours, ch, alpha, image)) {
        return damaged("its pixels name colours its palette lacks");
    }
    if (masked) applyMask(in, L, size_t(maskAt), image);
    attachProfile(image, embeddedProfile(in, L, &name), ColourModel::RGB, name);
    return image;
}

}  // namespace

ImageFacts bmpFacts(Bytes in) {
    BmpLayout L;
    return readable(in, Container::File, L) ? factsOf(in, L) : ImageFacts{};
}

QImage bmpDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    return decode(in, Container::File, options, name, why);
}

bool dibSniff(Bytes in, const QString& name) {
    BmpLayout L;
    if (!name.endsWith(QLatin1String(".dib"), Qt::CaseInsensitive) || !parseLayout(in, Container::Dib, L)) return false;
    // A header BMP knows: one of its sizes, one plane, a depth it has.
    const uint32_t sizes[] = {12, 16, 20, 24, 32, 36, 40, 52, 56, 64, 108, 124};
    const uint16_t planes = u16(in.data + (L.headerSize == 12 ? 8 : 12));
    return std::find(std::begin(sizes), std::end(sizes), L.headerSize) != std::end(sizes) && planes == 1 &&
           (L.bits == 1 || L.bits == 2 || L.bits == 4 || L.bits == 8 || L.bits == 16 || L.bits == 24 || L.bits == 32);
}

ImageFacts dibFacts(Bytes in) {
    BmpLayout L;
    return parseLayout(in, Container::Dib, L) ? factsOf(in, L) : ImageFacts{};
}

QImage dibDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    return decode(in, Container::Dib, options, name, why);
}

ImageFacts iconBitmapFacts(Bytes entry, int* bitsPerPixel) {
    BmpLayout L;
    if (!parseLayout(entry, Container::Icon, L)) return ImageFacts{};
    if (bitsPerPixel) *bitsPerPixel = L.bits;
    return factsOf(entry, L);
}

QImage iconBitmapDecode(Bytes entry, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    return decode(entry, Container::Icon, options, name, why);
}

QByteArray bmpEncode(const QImage& source) {
    const bool opaque = isOpaque(source);
    // Opaque pixels read the same premultiplied or not, so they need no converted copy.
    const bool direct = source.format() == QImage::Format_ARGB32 || source.format() == QImage::Format_RGB32 ||
                        (opaque && source.format() == QImage::Format_ARGB32_Premultiplied);
    const QImage image = direct ? source : source.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return QByteArray();
    const int bpp = opaque ? 24 : 32;
    const uint32_t headerSize = opaque ? 40 : 108;
    const uint64_t rowBytes = (uint64_t(image.width()) * bpp / 8 + 3) & ~uint64_t(3);
    const uint64_t imageBytes = rowBytes * uint64_t(image.height());
    const uint64_t offset = 14 + headerSize;
    if (offset + imageBytes > UINT32_MAX) {
        log(u"BMP encoding failed: %@ x %@ is larger than BMP allows", image.width(), image.height());
        return QByteArray();
    }
    QByteArray out(qsizetype(offset + imageBytes), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = 'B';
    p[1] = 'M';
    qToLittleEndian<uint32_t>(uint32_t(out.size()), p + 2);
    qToLittleEndian<uint32_t>(uint32_t(offset), p + 10);
    uint8_t* d = p + 14;
    qToLittleEndian<uint32_t>(headerSize, d);
    qToLittleEndian<int32_t>(image.width(), d + 4);
    qToLittleEndian<int32_t>(image.height(), d + 8);  // positive: rows stored bottom-up
    qToLittleEndian<uint16_t>(1, d + 12);
    qToLittleEndian<uint16_t>(uint16_t(bpp), d + 14);
    qToLittleEndian<uint32_t>(opaque ? 0 : 3, d + 16);  // BI_RGB or BI_BITFIELDS
    qToLittleEndian<uint32_t>(uint32_t(imageBytes), d + 20);
    qToLittleEndian<int32_t>(2835, d + 24);  // 72 dpi in pixels per metre
    qToLittleEndian<int32_t>(2835, d + 28);
    if (!opaque) {
        qToLittleEndian<uint32_t>(0x00FF0000u, d + 40);
        qToLittleEndian<uint32_t>(0x0000FF00u, d + 44);
        qToLittleEndian<uint32_t>(0x000000FFu, d + 48);
        qToLittleEndian<uint32_t>(0xFF000000u, d + 52);
        qToLittleEndian<uint32_t>(0x73524742u, d + 56);  // 'sRGB'
    }
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* dst = p + offset + rowBytes * uint64_t(image.height() - 1 - y);
        const uint8_t* src = image.constScanLine(y);
        if (opaque) {
            for (int x = 0, xEnd = image.width(); x < xEnd; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
        } else {
            std::memcpy(dst, src, size_t(image.width()) * 4);
        }
    }
    return out;
}

}  // namespace platform::codec
