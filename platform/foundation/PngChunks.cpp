#include "platform/foundation/PngChunks.h"

#include <cstring>

namespace platform {
namespace {

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

bool refuse(QString* why, const QString& text) {
    if (why) *why = text;
    return false;
}

}  // namespace

bool pngChunksFitData(const char* data, size_t size, int64_t maxPixels, int64_t maxSide, QString* why) {
    const auto* d = reinterpret_cast<const unsigned char*>(data);
    if (size < 8 || std::memcmp(d, "\x89PNG\r\n\x1A\n", 8) != 0) return refuse(why, QStringLiteral("not PNG data"));
    size_t pos = 8;
    bool first = true;
    while (pos < size) {
        if (size - pos < 12) return refuse(why, QStringLiteral("the data ends inside a chunk header"));
        const uint32_t length = be32(d + pos);
        const unsigned char* type = d + pos + 4;
        if (first) {
            if (std::memcmp(type, "IHDR", 4) != 0 || length != 13 || size - pos < 12 + 13)
                return refuse(why, QStringLiteral("no image header"));
            const int64_t w = be32(d + pos + 8), h = be32(d + pos + 12);
            if (w <= 0 || h <= 0 || w > maxSide || h > maxSide || w * h > maxPixels)
                return refuse(why, QStringLiteral("the image declares %1 x %2 pixels").arg(w).arg(h));
            first = false;
        }
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) return true;
        if (length > size - pos - 12)
            return refuse(why, QStringLiteral("a chunk declares %1 bytes, more than the data holds").arg(length));
        pos += 12 + size_t(length);
    }
    return refuse(why, QStringLiteral("no image data"));
}

}  // namespace platform
