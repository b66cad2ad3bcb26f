// BMP: the header is read and bounded here; Qt's own reader decodes the pixels once the
// declared size is known to be sane. Writing is ours: 24-bit rows for opaque pictures,
// 32-bit with an alpha mask (a V4 header) otherwise.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace platform::codec {
namespace {

uint32_t u32(const uint8_t* p) { return qFromLittleEndian<uint32_t>(p); }
int32_t i32(const uint8_t* p) { return qFromLittleEndian<int32_t>(p); }
uint16_t u16(const uint8_t* p) { return qFromLittleEndian<uint16_t>(p); }

}  // namespace

ImageHeader bmpHeader(Bytes in) {
    ImageHeader h;
    if (in.size < 26 || in.data[0] != 'B' || in.data[1] != 'M') return h;
    const uint32_t dib = u32(in.data + 14);
    int64_t w = 0, ht = 0;
    if (dib == 12) {
        w = u16(in.data + 18);
        ht = u16(in.data + 20);
    } else if (dib >= 16 && in.size >= 14 + uint64_t(std::min<uint32_t>(dib, 40))) {
        w = i32(in.data + 18);
        ht = i32(in.data + 22);
        if (ht < 0) ht = -ht;
    } else {
        return h;
    }
    if (w <= 0 || ht <= 0 || w > INT32_MAX || ht > INT32_MAX) return h;
    h.format = ImageFormat::BMP;
    h.width = int(w);
    h.height = int(ht);
    return h;
}

QImage bmpDecode(Bytes in, const DecodeOptions& options, const QString& name) {
    const ImageHeader h = bmpHeader(in);
    if (!h.valid()) {
        log(u"%@: BMP header is corrupt", name);
        return QImage();
    }
    if (!checkBudget(h.width, h.height, options, name, "BMP")) return QImage();
    // Uncompressed rows have a known length: a file too short for them is truncated
    // (the reader would otherwise hand back a picture with a blank part).
    const uint32_t dib = u32(in.data + 14);
    const bool os2v2 = dib == 64 || (dib >= 16 && dib < 40);
    if (os2v2 && dib >= 20 && (u32(in.data + 30) == 3 || u32(in.data + 30) == 4)) {
        // OS/2's own compressions (modified Huffman, 24-bit run lengths) share numbers with
        // Windows' bit fields; reading them as such would give garbage.
        log(u"%@: OS/2 bitmap compression %@ is not supported", name, u32(in.data + 30));
        return QImage();
    }
    if (dib >= 40) {
        const uint32_t compression = u32(in.data + 30);
        const uint64_t bpp = u16(in.data + 28);
        const uint64_t rowBytes = ((uint64_t(h.width) * bpp + 31) / 32) * 4;
        const uint64_t need = uint64_t(u32(in.data + 10)) + rowBytes * uint64_t(h.height);
        if ((compression == 0 || compression == 3 || compression == 6) && need > in.size) {
            log(u"%@: BMP data ends early; the file is truncated", name);
            return QImage();
        }
    }
    QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char*>(in.data), qsizetype(in.size));
    if (dib >= 16 && dib < 40) {
        // An OS/2 2.x header may stop anywhere after 16 bytes; the fields left out are
        // zero. Qt's reader knows the 40-byte layout, so the header is given that length.
        const uint32_t grow = 40 - dib;
        QByteArray widened = raw.left(14 + qsizetype(dib)) + QByteArray(qsizetype(grow), '\0') + raw.mid(14 + qsizetype(dib));
        auto* p = reinterpret_cast<uint8_t*>(widened.data());
        qToLittleEndian<uint32_t>(uint32_t(widened.size()), p + 2);
        qToLittleEndian<uint32_t>(u32(in.data + 10) + grow, p + 10);
        qToLittleEndian<uint32_t>(40, p + 14);
        raw = widened;
    }
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "BMP");
    // The budget above already bounds the allocation.
    reader.setAllocationLimit(0);
    QImage image = reader.read();
    if (image.isNull()) {
        log(u"%@: BMP data is corrupt (%@)", name, reader.errorString());
        return QImage();
    }
    if (image.format() != QImage::Format_ARGB32_Premultiplied) image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
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
