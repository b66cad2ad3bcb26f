#include "platform/imageio/VectorHeaders.h"

#include <QByteArray>
#include <QFile>

#include "platform/foundation/NativeNames.h"
#include <QList>
#include <cmath>
#include <cstdint>

namespace platform {

namespace {

// How much of an EPS file is searched for its comments, at the start and at the end.
constexpr qint64 kEpsScanBytes = 256 * 1024;

quint32 readLE32(const QByteArray& b, int at) {
    return quint32(quint8(b[at])) | (quint32(quint8(b[at + 1])) << 8) |
           (quint32(quint8(b[at + 2])) << 16) | (quint32(quint8(b[at + 3])) << 24);
}

qint16 readBE16(const QByteArray& b, qsizetype at) {
    return qint16(quint16((quint8(b[at]) << 8) | quint8(b[at + 1])));
}

// Reads up to `length` bytes at `offset`.
QByteArray readRange(QFile& f, qint64 offset, qint64 length) {
    if (offset < 0 || length <= 0 || !f.seek(offset)) return {};
    return f.read(length);
}

enum class BoxResult { Found, AtEnd, None };

// Looks for "%%BoundingBox:" at the start of a line; four numbers follow.
BoxResult findBoundingBox(const QByteArray& text, QSizeF* size) {
    static const QByteArray tag = QByteArrayLiteral("%%BoundingBox:");
    qsizetype from = 0;
    BoxResult result = BoxResult::None;
    while (true) {
        const qsizetype at = text.indexOf(tag, from);
        if (at < 0) return result;
        from = at + tag.size();
        if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r') continue;
        qsizetype end = from;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
        const QByteArray rest = text.mid(from, end - from).trimmed();
        if (rest.startsWith("(atend)")) {
            result = BoxResult::AtEnd;
            continue;
        }
        const QList<QByteArray> parts = rest.simplified().split(' ');
        if (parts.size() < 4) continue;
        double v[4];
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i) v[i] = parts[i].toDouble(&ok);  // C locale
        if (!ok) continue;
        *size = QSizeF(v[2] - v[0], v[3] - v[1]);
        return BoxResult::Found;
    }
}

}  // namespace

std::optional<QSizeF> epsPictureSize(const QString& path) {
    QFile f;
    if (!openFile(f, path)) return std::nullopt;
    const qint64 fileSize = f.size();
    qint64 psStart = 0, psLength = fileSize;
    const QByteArray head = readRange(f, 0, 30);
    if (head.size() >= 12 && quint8(head[0]) == 0xC5 && quint8(head[1]) == 0xD0 &&
        quint8(head[2]) == 0xD3 && quint8(head[3]) == 0xC6) {
        psStart = readLE32(head, 4);
        psLength = readLE32(head, 8);
        if (psStart >= fileSize) return std::nullopt;
        psLength = std::min(psLength, fileSize - psStart);
    } else if (!head.startsWith("%!")) {
        return std::nullopt;
    }
    QSizeF size;
    const QByteArray start = readRange(f, psStart, std::min(psLength, kEpsScanBytes));
    BoxResult r = findBoundingBox(start, &size);
    if (r != BoxResult::Found && psLength > kEpsScanBytes) {
        const qint64 tailLength = std::min(psLength, kEpsScanBytes);
        const QByteArray tail = readRange(f, psStart + psLength - tailLength, tailLength);
        r = findBoundingBox(tail, &size);
    }
    // "nan" and "inf" read as numbers too; a box must measure something finite.
    if (r != BoxResult::Found || !(size.width() > 0) || !(size.height() > 0) || !std::isfinite(size.width()) ||
        !std::isfinite(size.height()))
        return std::nullopt;
    return size;
}

std::optional<QSizeF> pictPictureSize(const QString& path) {
    QFile f;
    if (!openFile(f, path)) return std::nullopt;
    const QByteArray data = readRange(f, 0, 512 + 16);
    // A picture starts with its size (2 bytes) and frame (top, left, bottom, right), then
    // the version opcode: 0x11 0x01 for version 1, 0x0011 0x02FF for version 2. Files
    // usually carry a 512-byte header of their own before it; resources do not.
    for (const qsizetype base : {qsizetype(512), qsizetype(0)}) {
        if (data.size() < base + 14) continue;
        const qsizetype op = base + 10;
        const bool v1 = quint8(data[op]) == 0x11 && quint8(data[op + 1]) == 0x01;
        const bool v2 = quint8(data[op]) == 0x00 && quint8(data[op + 1]) == 0x11 &&
                        quint8(data[op + 2]) == 0x02 && quint8(data[op + 3]) == 0xFF;
        if (!v1 && !v2) continue;
        const int top = readBE16(data, base + 2), left = readBE16(data, base + 4);
        const int bottom = readBE16(data, base + 6), right = readBE16(data, base + 8);
        const int w = right - left, h = bottom - top;
        if (w <= 0 || h <= 0) return std::nullopt;
        return QSizeF(w, h);
    }
    return std::nullopt;
}

}  // namespace platform
