// Photoshop documents (PSD, and PSB, the large document format): the merged picture a
// document keeps after its layers, the one every other program shows. 8 and 16 bits a
// channel, grey, RGB and CMYK, raw or PackBits; its colour profile (image resource 1039)
// goes with it. Layers are not read. A document saved without its merged picture (its
// version resource says so) is refused, as are the modes and codings not read here
// (bitmap, indexed, Lab, multichannel, duotone, 32-bit, ZIP).
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <cstring>
#include <vector>

namespace platform::codec {
namespace {

uint16_t psdBe16(const uint8_t* p) { return qFromBigEndian<uint16_t>(p); }
uint32_t psdBe32(const uint8_t* p) { return qFromBigEndian<uint32_t>(p); }
uint64_t psdBe64(const uint8_t* p) { return qFromBigEndian<uint64_t>(p); }

enum Mode : uint16_t { kBitmap = 0, kGray = 1, kIndexed = 2, kRgb = 3, kCmyk = 4, kMultichannel = 7, kDuotone = 8, kLab = 9 };

struct PsdLayout {
    bool large = false;  // PSB: 64-bit section lengths and row counts
    uint16_t channels = 0, depth = 0, mode = 0;
    uint32_t width = 0, height = 0;
    QByteArray icc;
    bool merged = true;        // the file keeps a real merged picture
    bool transparency = false; // its first extra channel is the merged picture's alpha
    size_t data = 0;           // the image data section: compression, then the channels
};

// A section's length at `at` (4 bytes, 8 in a PSB where `wide`), and where it ends.
bool section(Bytes in, size_t& at, bool wide, size_t& body, size_t& end) {
    const size_t n = wide ? 8 : 4;
    if (at > in.size || in.size - at < n) return false;
    const uint64_t length = wide ? psdBe64(in.data + at) : psdBe32(in.data + at);
    body = at + n;
    if (length > in.size - body) return false;
    end = body + size_t(length);
    at = end;
    return true;
}

void readResources(Bytes in, size_t at, size_t end, PsdLayout& L) {
    while (end - at >= 12 && at < end) {
        const uint8_t* p = in.data + at;
        if (std::memcmp(p, "8BIM", 4) != 0 && std::memcmp(p, "MeSa", 4) != 0) return;
        const uint16_t id = psdBe16(p + 4);
        size_t name = 1 + size_t(p[6]);
        name += name & 1;  // padded to an even length
        size_t sizeAt = at + 6 + name;
        if (sizeAt + 4 > end) return;
        const uint32_t size = psdBe32(in.data + sizeAt);
        const size_t body = sizeAt + 4;
        if (size > end - body) return;
        if (id == 1039 && size > 0) L.icc = QByteArray(reinterpret_cast<const char*>(in.data + body), qsizetype(size));
        if (id == 1057 && size >= 5) L.merged = in.data[body + 4] != 0;  // version info: hasRealMergedData
        at = body + size + (size & 1);
    }
}

bool parse(Bytes in, PsdLayout& L) {
    if (in.size < 26 || std::memcmp(in.data, "8BPS", 4) != 0) return false;
    const uint16_t version = psdBe16(in.data + 4);
    if (version != 1 && version != 2) return false;
    L.large = version == 2;
    L.channels = psdBe16(in.data + 12);
    L.height = psdBe32(in.data + 14);
    L.width = psdBe32(in.data + 18);
    L.depth = psdBe16(in.data + 22);
    L.mode = psdBe16(in.data + 24);
    if (L.channels < 1 || L.channels > 56 || L.width == 0 || L.height == 0) return false;
    size_t at = 26, body = 0, end = 0;
    if (!section(in, at, false, body, end)) return false;  // colour mode data
    if (!section(in, at, false, body, end)) return false;  // image resources
    readResources(in, body, end, L);
    if (!section(in, at, L.large, body, end)) return false;  // layers and masks
    size_t layers = body, layersBody = 0, layersEnd = 0;
    if (end > body && section(in, layers, L.large, layersBody, layersEnd) && layersEnd - layersBody >= 2)
        L.transparency = int16_t(psdBe16(in.data + layersBody)) < 0;
    L.data = at;
    return true;
}

int colourChannels(uint16_t mode) { return mode == kGray ? 1 : mode == kRgb ? 3 : mode == kCmyk ? 4 : 0; }

ColourModel colourModel(uint16_t mode) {
    return mode == kGray ? ColourModel::Gray : mode == kCmyk ? ColourModel::CMYK : mode == kLab ? ColourModel::Lab : ColourModel::RGB;
}

// One PackBits row into `out`; what the codes leave short stays zero. False when the
// codes run past their row's bytes.
bool unpackBits(const uint8_t* p, size_t size, uint8_t* out, size_t length) {
    std::memset(out, 0, length);
    size_t at = 0, made = 0;
    while (at < size && made < length) {
        const int n = int8_t(p[at++]);
        if (n >= 0) {
            const size_t count = size_t(n) + 1;
            if (count > size - at) return false;
            std::memcpy(out + made, p + at, std::min(count, length - made));
            made += std::min(count, length - made);
            at += count;
        } else if (n != -128) {
            if (at >= size) return false;
            const size_t count = std::min(size_t(1 - n), length - made);
            std::memset(out + made, p[at++], count);
            made += count;
        }
    }
    return true;
}

}  // namespace

ReadOnlyFacts psdFacts(Bytes in) {
    ReadOnlyFacts facts;
    PsdLayout L;
    if (!parse(in, L) || L.width > uint32_t(INT32_MAX) || L.height > uint32_t(INT32_MAX)) return facts;
    facts.header.format = ImageFormat::PSD;
    facts.header.width = int(L.width);
    facts.header.height = int(L.height);
    facts.header.colourModel = colourModel(L.mode);
    facts.header.iccProfile = L.icc;
    facts.depth = L.depth;
    facts.hasAlpha = L.transparency && L.channels > colourChannels(L.mode);
    facts.metadataInBlocks = false;  // Exiv2 reads a document's EXIF, IPTC and XMP itself
    return facts;
}

QImage psdDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    const auto fail = [&](DecodeFailure kind, const QString& detail = QString()) {
        if (why) {
            why->failure = kind;
            why->detail = detail;
        }
        return QImage();
    };
    PsdLayout L;
    if (!parse(in, L) || L.data + 2 > in.size) {
        log(u"%@: Photoshop document is corrupt", name);
        return fail(DecodeFailure::Damaged);
    }
    if (!checkBudget(L.width, L.height, options, name, "Photoshop")) return fail(DecodeFailure::OverBudget);
    const int colours = colourChannels(L.mode);
    const uint16_t compression = psdBe16(in.data + L.data);
    if (colours == 0 || (L.depth != 8 && L.depth != 16) || compression > 1 || L.channels < colours) {
        log(u"%@: Photoshop document of mode %@, %@ bits, compression %@ is not supported", name, L.mode, L.depth,
            compression);
        return fail(DecodeFailure::Unsupported,
                    QStringLiteral("this Photoshop document's picture is stored in a way this program cannot read"));
    }
    if (!L.merged) {
        log(u"%@: Photoshop document saved without its merged picture", name);
        return fail(DecodeFailure::Unsupported,
                    QStringLiteral("this Photoshop document was saved without a merged picture (turn on "
                                   "\"Maximize Compatibility\" when saving it)"));
    }
    const bool alpha = L.transparency && L.channels > colours;
    const int used = colours + (alpha ? 1 : 0);
    const size_t rowBytes = size_t(L.width) * (L.depth / 8);
    const uint64_t rows = uint64_t(L.channels) * L.height;
    size_t at = L.data + 2;
    std::vector<size_t> packed;  // each row's PackBits bytes, channel by channel
    if (compression == 1) {
        const size_t entry = L.large ? 4 : 2;
        if (rows > (in.size - at) / entry) {
            log(u"%@: Photoshop document data ends early", name);
            return fail(DecodeFailure::Damaged);
        }
        packed.resize(size_t(uint64_t(used) * L.height));
        for (size_t r = 0; r < packed.size(); ++r)
            packed[r] = L.large ? psdBe32(in.data + at + 4 * r) : psdBe16(in.data + at + 2 * r);
        at += size_t(rows) * entry;
    } else if (uint64_t(rowBytes) * uint64_t(used) * L.height > in.size - at) {
        log(u"%@: Photoshop document data ends early", name);
        return fail(DecodeFailure::Damaged);
    }
    QImage image = allocateImage(int(L.width), int(L.height), QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return fail(DecodeFailure::OverBudget);
    image.fill(0xFFFFFFFFu);
    // Where each channel goes in a pixel's four bytes: B G R A in memory for colour; the
    // inks C M Y K in memory order until they are converted; grey to all three colours.
    static const int kRgbBytes[] = {2, 1, 0};
    std::vector<uint8_t> line(rowBytes);
    // The transparency waits beside the picture until its colours are in their final form
    // (CMYK pixels have no byte left for it).
    std::vector<uint8_t> opacity(alpha ? size_t(L.width) * L.height : 0);
    ConsumedPages pages(in);
    for (int c = 0; c < used; ++c) {
        for (uint32_t y = 0; y < L.height; ++y) {
            const uint8_t* row = nullptr;
            if (compression == 1) {
                const size_t size = packed[size_t(c) * L.height + y];
                if (size > in.size - at || !unpackBits(in.data + at, size, line.data(), rowBytes)) {
                    log(u"%@: Photoshop document data ends early", name);
                    return fail(DecodeFailure::Damaged);
                }
                at += size;
                row = line.data();
            } else {
                row = in.data + at;
                at += rowBytes;
            }
            pages.reached(in.data + at);
            auto* out = image.scanLine(int(y));
            for (uint32_t x = 0; x < L.width; ++x) {
                const uint8_t v = L.depth == 8 ? row[x] : uint8_t((uint32_t(psdBe16(row + 2 * size_t(x))) * 255 + 32767) / 65535);
                uint8_t* px = out + 4 * size_t(x);
                if (c == colours) opacity[size_t(y) * L.width + x] = v;
                else if (L.mode == kGray) px[0] = px[1] = px[2] = v;
                else if (L.mode == kCmyk) px[c] = v;
                else px[kRgbBytes[c]] = v;
            }
        }
    }
    // Photoshop stores CMYK as 255 less the ink, as its JPEGs do.
    if (L.mode == kCmyk) convertCmykToSrgb(image, L.icc, true, name);
    else attachProfile(image, L.icc, colourModel(L.mode), name);
    for (uint32_t y = 0; alpha && y < L.height; ++y) {
        auto* px = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        const uint8_t* a = opacity.data() + size_t(y) * L.width;
        for (uint32_t x = 0; x < L.width; ++x) px[x] = qPremultiply(qRgba(qRed(px[x]), qGreen(px[x]), qBlue(px[x]), a[x]));
    }
    return image;
}

}  // namespace platform::codec
