// Targa (TGA), read here: colour-mapped, true-colour and grey pictures, raw or run-length
// coded, of 8, 15, 16, 24 and 32 bits, in any of the four row and column orders, with or
// without the version 2 footer. (Qt's reader takes only uncompressed true colour with the
// footer, which leaves out most files other programs write.)
//
// The attribute bits the header counts (a 16-bit pixel's top bit, a 32-bit pixel's fourth
// byte) are alpha only where the version 2 extension area says so (straight, or
// premultiplied); where it says they are something else, the picture is opaque. A file
// without that area leaves them undefined: they are taken as alpha unless every one is
// zero, which writers that kept nothing there leave, and which would make the whole
// picture transparent.
//
// Targa has no signature: a file is taken as one when its name ends in one of its
// extensions and its header is one Targa could have.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QFileInfo>
#include <QtEndian>
#include <cstring>
#include <vector>

namespace platform::codec {
namespace {

uint16_t le16(const uint8_t* p) { return qFromLittleEndian<uint16_t>(p); }

// What the extension area says the attribute bits are.
enum class Attributes { Unsaid = -1, None = 0, Ignored = 1, Kept = 2, Alpha = 3, PremultipliedAlpha = 4 };

// The attributes type of the version 2 extension area; Unsaid when the file has no footer,
// its extension area does not lie whole between the header and the footer, or the type is
// not one the format knows.
Attributes attributesOf(Bytes in) {
    constexpr size_t kFooter = 26, kExtension = 495;
    if (in.size < 18 + kFooter) return Attributes::Unsaid;
    const uint8_t* footer = in.data + in.size - kFooter;
    if (std::memcmp(footer + 8, "TRUEVISION-XFILE.", 18) != 0) return Attributes::Unsaid;
    const size_t offset = qFromLittleEndian<uint32_t>(footer), end = in.size - kFooter;
    if (offset < 18 || offset > end || end - offset < kExtension || le16(in.data + offset) < kExtension)
        return Attributes::Unsaid;
    const uint8_t type = in.data[offset + kExtension - 1];
    return type <= 4 ? Attributes(type) : Attributes::Unsaid;
}

struct TgaHeader {
    int idLength = 0, mapType = 0, type = 0;
    int mapFirst = 0, mapLength = 0, mapBits = 0;
    int width = 0, height = 0, bits = 0, alphaBits = 0;
    bool rightToLeft = false, topToBottom = false;
    bool mapped() const { return type == 1 || type == 9; }
    bool grey() const { return type == 3 || type == 11; }
    bool rle() const { return type >= 9; }
};

bool parse(Bytes in, TgaHeader& h) {
    if (in.size < 18) return false;
    const uint8_t* p = in.data;
    h.idLength = p[0];
    h.mapType = p[1];
    h.type = p[2];
    h.mapFirst = le16(p + 3);
    h.mapLength = le16(p + 5);
    h.mapBits = p[7];
    h.width = le16(p + 12);
    h.height = le16(p + 14);
    h.bits = p[16];
    h.alphaBits = p[17] & 0x0F;
    h.rightToLeft = p[17] & 0x10;
    h.topToBottom = p[17] & 0x20;
    if (!(h.type == 1 || h.type == 2 || h.type == 3 || h.type == 9 || h.type == 10 || h.type == 11)) return false;
    if (h.mapType > 1 || (h.mapped() && h.mapType != 1)) return false;
    if (h.mapType == 1 && !(h.mapBits == 15 || h.mapBits == 16 || h.mapBits == 24 || h.mapBits == 32)) return false;
    if (h.mapped() && h.bits != 8 && h.bits != 16) return false;
    if (h.grey() && h.bits != 8 && h.bits != 16) return false;
    if (!h.mapped() && !h.grey() && !(h.bits == 15 || h.bits == 16 || h.bits == 24 || h.bits == 32)) return false;
    return h.width > 0 && h.height > 0;
}

// A pixel of `bits` bits as colour, its attribute bits where the header counts them in the
// alpha byte as they are stored (255 where it counts none): 15/16-bit 5-5-5 (its top bit
// the attribute when the header counts one), 24-bit BGR, 32-bit BGRA.
QRgb colourOf(const uint8_t* p, int bits, int alphaBits) {
    if (bits == 24 || (bits == 32 && alphaBits == 0)) return qRgb(p[2], p[1], p[0]);
    if (bits == 32) return qRgba(p[2], p[1], p[0], p[3]);
    const uint16_t v = le16(p);
    const auto widen = [](uint32_t five) { return int((five << 3) | (five >> 2)); };
    const QRgb c = qRgb(widen((v >> 10) & 31), widen((v >> 5) & 31), widen(v & 31));
    return bits == 16 && alphaBits == 1 && !(v & 0x8000) ? c & 0x00FFFFFFu : c;
}

// Whether the pixels carry attribute bits: their own, or their colour map entries'.
bool countsAttributes(const TgaHeader& h) {
    if (h.alphaBits == 0) return false;
    if (h.mapped()) return h.mapBits == 32;
    if (h.grey()) return h.bits == 16;
    return h.bits == 32 || (h.bits == 16 && h.alphaBits == 1);
}

}  // namespace

bool tgaSniff(Bytes in, const QString& name) {
    static const QStringList suffixes{"tga", "tpic", "icb", "vda", "vst"};
    TgaHeader h;
    return !name.isEmpty() && suffixes.contains(QFileInfo(name).suffix().toLower()) && parse(in, h);
}

ReadOnlyFacts tgaFacts(Bytes in) {
    ReadOnlyFacts facts;
    TgaHeader h;
    if (!parse(in, h)) return facts;
    facts.header.format = ImageFormat::TGA;
    facts.header.width = h.width;
    facts.header.height = h.height;
    facts.header.colourModel = h.grey() ? ColourModel::Gray : ColourModel::RGB;
    facts.depth = h.grey() || h.mapped() ? 8 : h.bits == 15 || h.bits == 16 ? 5 : 8;
    const Attributes attributes = attributesOf(in);
    facts.hasAlpha = countsAttributes(h) && (attributes == Attributes::Unsaid || attributes == Attributes::Alpha ||
                                             attributes == Attributes::PremultipliedAlpha);
    facts.metadataInBlocks = true;  // no EXIF or XMP
    return facts;
}

QImage tgaDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    const auto fail = [&](DecodeFailure kind) {
        if (why) why->failure = kind;
        return QImage();
    };
    TgaHeader h;
    if (!parse(in, h)) {
        log(u"%@: Targa header is corrupt", name);
        return fail(DecodeFailure::Damaged);
    }
    if (!checkBudget(h.width, h.height, options, name, "Targa")) return fail(DecodeFailure::OverBudget);
    size_t at = 18 + size_t(h.idLength);
    std::vector<QRgb> palette;
    if (h.mapType == 1) {
        const size_t entry = size_t((h.mapBits + 7) / 8);
        if (at + entry * size_t(h.mapLength) > in.size) {
            log(u"%@: Targa colour map ends early", name);
            return fail(DecodeFailure::Damaged);
        }
        for (int i = 0; i < h.mapLength; ++i, at += entry) palette.push_back(colourOf(in.data + at, h.mapBits, h.mapBits == 32 ? h.alphaBits : 0));
    }
    const QRgb first = palette.empty() ? qRgb(0, 0, 0) : palette.front();
    const int bytes = (h.bits + 7) / 8;
    // A stored pixel as colour; an index outside the colour map reads as its first entry.
    const auto pixel = [&](const uint8_t* p) -> QRgb {
        if (h.mapped()) {
            const int index = (h.bits == 8 ? p[0] : le16(p)) - h.mapFirst;
            return index >= 0 && index < int(palette.size()) ? palette[size_t(index)] : first;
        }
        if (h.grey()) {  // 16-bit grey is grey and attribute
            const int a = bytes == 2 && h.alphaBits > 0 ? p[1] : 255;
            return qRgba(p[0], p[0], p[0], a);
        }
        return colourOf(p, h.bits, h.alphaBits);
    };
    // Read with the attributes as they are stored; what they are is settled at the end.
    QImage image = allocateImage(h.width, h.height, QImage::Format_ARGB32, name);
    if (image.isNull()) return fail(DecodeFailure::OverBudget);
    const int64_t total = int64_t(h.width) * h.height;
    uint32_t anyAttribute = 0;
    const auto place = [&](int64_t i, QRgb c) {
        const int row = int(i / h.width), column = int(i % h.width);
        const int y = h.topToBottom ? row : h.height - 1 - row;
        const int x = h.rightToLeft ? h.width - 1 - column : column;
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = c;
        anyAttribute |= c >> 24;
    };
    // The attributes as alpha, or the picture opaque.
    const auto finished = [&]() {
        const Attributes attributes = attributesOf(in);
        const bool alpha = countsAttributes(h) && (attributes == Attributes::Unsaid ? anyAttribute != 0
                                                   : attributes == Attributes::Alpha ||
                                                         attributes == Attributes::PremultipliedAlpha);
        if (!alpha || attributes == Attributes::PremultipliedAlpha) {
            for (int y = 0; y < h.height; ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < h.width; ++x) {
                    const QRgb c = line[x];
                    const int a = qAlpha(c);
                    line[x] = alpha ? qRgba(std::min(qRed(c), a), std::min(qGreen(c), a), std::min(qBlue(c), a), a)
                                    : c | 0xFF000000u;
                }
            }
            image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        } else {
            image.convertTo(QImage::Format_ARGB32_Premultiplied);
        }
        return image;
    };
    int64_t i = 0;
    if (!h.rle()) {
        if (uint64_t(total) * uint64_t(bytes) > in.size - std::min(at, in.size)) {
            log(u"%@: Targa data ends early; the file is truncated", name);
            return fail(DecodeFailure::Damaged);
        }
        for (; i < total; ++i, at += size_t(bytes)) place(i, pixel(in.data + at));
        return finished();
    }
    // Run-length packets may run on from one row to the next.
    while (i < total) {
        if (at >= in.size) break;
        const int count = (in.data[at] & 0x7F) + 1;
        const bool run = in.data[at] & 0x80;
        ++at;
        const size_t need = size_t(run ? 1 : count) * size_t(bytes);
        if (need > in.size - at) break;
        for (int k = 0; k < count && i < total; ++k, ++i) place(i, pixel(in.data + at + (run ? 0 : size_t(k) * bytes)));
        at += need;
    }
    if (i < total) {
        log(u"%@: Targa data ends early; the file is truncated", name);
        return fail(DecodeFailure::Damaged);
    }
    return finished();
}

}  // namespace platform::codec
