// PNM: netpbm's bitmaps (PBM), grey maps (PGM) and pixel maps (PPM), plain (P1-P3) and raw
// (P4-P6), read here. Qt's reader takes a plain bitmap only with blanks between its digits
// (netpbm's own writer puts none), wraps a sample above the maxval round to another level,
// and hands on a picture it gave up on half-way.
//
// The rules are netpbm's. The header is the magic number, the width, the height and (but
// for bitmaps) the maxval, decimal numbers between blanks and comments (from '#' to the
// end of the line). Raw samples start after one blank; they are a byte each, or two (most
// significant first) when the maxval is above 255; a raw bitmap packs its rows 8 pixels a
// byte. Plain samples are decimal numbers between blanks and comments, except a plain
// bitmap's, which are one character each, 0 or 1, blanks optional. 1 is black in a bitmap.
// Levels are scaled to 8 bits, to the nearest; a sample above the maxval is damage. A file
// of several pictures gives its first.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <vector>

namespace platform::codec {
namespace {

struct PnmHeader {
    char kind = 0;  // '1' to '6'
    uint64_t width = 0, height = 0;
    uint32_t maxval = 1;
    size_t data = 0;  // where the samples begin
    bool bitmap() const { return kind == '1' || kind == '4'; }
    bool plain() const { return kind <= '3'; }
    bool grey() const { return kind != '3' && kind != '6'; }
    int channels() const { return grey() ? 1 : 3; }
};

bool isBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Past blanks and comments from `at`.
size_t pnmSkip(Bytes in, size_t at) {
    while (at < in.size) {
        if (in.data[at] == '#') {
            while (at < in.size && in.data[at] != '\n' && in.data[at] != '\r') ++at;
        } else if (isBlank(in.data[at])) {
            ++at;
        } else {
            break;
        }
    }
    return at;
}

// The decimal number after blanks and comments at `at`, which moves past it; false when
// there is none or it passes `limit`.
bool pnmNumber(Bytes in, size_t& at, uint64_t limit, uint64_t& value) {
    at = pnmSkip(in, at);
    const size_t start = at;
    value = 0;
    for (; at < in.size && in.data[at] >= '0' && in.data[at] <= '9'; ++at) {
        value = value * 10 + uint64_t(in.data[at] - '0');
        if (value > limit) return false;
    }
    return at > start;
}

bool parsePnm(Bytes in, PnmHeader& h) {
    if (in.size < 3 || in.data[0] != 'P' || in.data[1] < '1' || in.data[1] > '6') return false;
    h.kind = char(in.data[1]);
    size_t at = 2;
    constexpr uint64_t kLargest = uint64_t(1) << 40;
    uint64_t maxval = 1;
    if (!pnmNumber(in, at, kLargest, h.width) || !pnmNumber(in, at, kLargest, h.height)) return false;
    if (!h.bitmap() && !pnmNumber(in, at, 65535, maxval)) return false;
    if (maxval == 0) return false;
    h.maxval = uint32_t(maxval);
    // The one character that ends the header: a blank, or a comment up to and with its
    // line's end. A plain file's samples may have more blanks before them.
    if (at >= in.size) return h.plain() ? (h.data = at, true) : false;
    if (in.data[at] == '#') {
        while (at < in.size && in.data[at] != '\n' && in.data[at] != '\r') ++at;
    } else if (!isBlank(in.data[at])) {
        return false;
    }
    h.data = std::min(at + 1, in.size);
    return true;
}

}  // namespace

bool pnmSniff(Bytes in) {
    return in.size >= 3 && in.data[0] == 'P' && in.data[1] >= '1' && in.data[1] <= '6' &&
           (isBlank(in.data[2]) || in.data[2] == '#');
}

ReadOnlyFacts pnmFacts(Bytes in) {
    ReadOnlyFacts facts;
    PnmHeader h;
    if (!parsePnm(in, h) || h.width == 0 || h.height == 0 || h.width > uint64_t(kMaxImageSide) ||
        h.height > uint64_t(kMaxImageSide))
        return facts;
    facts.header.format = ImageFormat::PNM;
    facts.header.width = int(h.width);
    facts.header.height = int(h.height);
    facts.header.colourModel = h.grey() ? ColourModel::Gray : ColourModel::RGB;
    facts.depth = h.bitmap() ? 1 : h.maxval > 255 ? 16 : 8;
    facts.hasAlpha = false;
    facts.metadataInBlocks = true;  // no EXIF or XMP
    return facts;
}

QImage pnmDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    PnmHeader h;
    if (!parsePnm(in, h)) {
        log(u"%@: PNM header is corrupt", name);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    if (!checkBudget(int64_t(h.width), int64_t(h.height), options, name, "PNM", why)) return QImage();
    const int width = int(h.width), height = int(h.height), channels = h.channels();
    const uint64_t samples = h.width * h.height * uint64_t(channels);
    const bool wide = h.maxval > 255;
    // The least the samples can take, checked before anything is allocated: raw ones their
    // bytes; a plain bitmap's a character each; plain numbers a digit each, a blank between.
    const uint64_t least = !h.plain() ? (h.bitmap() ? (h.width + 7) / 8 * h.height : samples * (wide ? 2 : 1))
                           : h.bitmap() ? samples
                                        : samples * 2 - 1;
    const auto damaged = [&](const char* what) {
        log(u"%@: PNM data %@", name, QString::fromLatin1(what));
        return decodeFailed(why, DecodeFailure::Damaged);
    };
    if (in.size - h.data < least) return damaged("ends early; the file is truncated");
    QImage image = allocateImage(width, height, QImage::Format_ARGB32_Premultiplied, name);
    // Each level of the maxval as 8 bits, rounded to the nearest.
    std::vector<uint8_t> level(size_t(h.maxval) + 1);
    for (uint32_t v = 0; v <= h.maxval; ++v) level[v] = uint8_t((uint64_t(v) * 255 + h.maxval / 2) / h.maxval);
    const auto grey = [](uint8_t g) { return 0xFF000000u | uint32_t(g) * 0x010101u; };
    ConsumedPages pages(in);
    size_t at = h.data;
    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (h.kind == '4') {
            const uint8_t* row = in.data + at;
            for (int x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? grey(0) : grey(255);
            at += size_t((width + 7) / 8);
        } else if (h.kind == '1') {
            for (int x = 0; x < width; ++x) {
                at = pnmSkip(in, at);
                if (at >= in.size) return damaged("ends early; the file is truncated");
                const uint8_t c = in.data[at++];
                if (c != '0' && c != '1') return damaged("holds a character other than 0 or 1 in a bitmap");
                out[x] = c == '1' ? grey(0) : grey(255);
            }
        } else {
            uint32_t v[3];
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < channels; ++c) {
                    if (h.plain()) {
                        uint64_t n = 0;
                        if (!pnmNumber(in, at, h.maxval, n)) {
                            at = pnmSkip(in, at);
                            return damaged(at >= in.size                                   ? "ends early; the file is truncated"
                                           : in.data[at] >= '0' && in.data[at] <= '9' ? "holds a sample above its maxval"
                                                                                        : "holds a character that is not a sample");
                        }
                        v[c] = uint32_t(n);
                    } else {
                        v[c] = wide ? uint32_t(in.data[at]) << 8 | in.data[at + 1] : in.data[at];
                        at += wide ? 2 : 1;
                        if (v[c] > h.maxval) return damaged("holds a sample above its maxval");
                    }
                }
                out[x] = channels == 1 ? grey(level[v[0]]) : qRgb(level[v[0]], level[v[1]], level[v[2]]);
            }
        }
        pages.reached(in.data + std::min(at, in.size));
    }
    return image;
}

}  // namespace platform::codec
