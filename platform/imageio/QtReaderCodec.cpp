// The small formats read through Qt's own readers: XBM, XPM, and through Qt's image
// formats plugins Apple icons (ICNS). Qt reads them from the guarded mapping of the file,
// through a buffer; the declared size is checked against the budget before Qt allocates
// anything, and Qt's own allocation limit is the same budget. A file of several pictures
// (icons) gives its largest. A reader that gives up may already have allocated the
// picture and left part of it unwritten: its failure is the photo's, whatever picture it
// left.
// Each is told by its content; Windows icons and cursors are told here too, and read by
// IcoCodec.cpp.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QtEndian>
#include <cctype>
#include <cstring>
#include <vector>

namespace platform::codec {
namespace {

const char* qtFormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::XBM: return "xbm";
    case ImageFormat::XPM: return "xpm";
    case ImageFormat::ICNS: return "icns";
    default: return nullptr;
    }
}

bool startsWith(Bytes in, const char* text) {
    const size_t n = std::strlen(text);
    return in.size >= n && std::memcmp(in.data, text, n) == 0;
}

// A C source's start: blanks and comments skipped.
size_t afterBlanksAndComments(Bytes in, size_t at) {
    while (at < in.size) {
        if (std::isspace(in.data[at])) {
            ++at;
        } else if (at + 1 < in.size && in.data[at] == '/' && in.data[at + 1] == '*') {
            const void* end = at + 2 < in.size ? memmem(in.data + at + 2, in.size - at - 2, "*/", 2) : nullptr;
            if (!end) return in.size;
            at = size_t(static_cast<const uint8_t*>(end) - in.data) + 2;
        } else {
            break;
        }
    }
    return at;
}

bool isIcon(Bytes in) {
    // Reserved 0, type 1 (icon) or 2 (cursor), at least one entry, whose reserved byte is 0
    // and whose data lies in the file.
    if (in.size < 22 || in.data[0] != 0 || in.data[1] != 0 || (in.data[2] != 1 && in.data[2] != 2) || in.data[3] != 0)
        return false;
    const uint16_t count = qFromLittleEndian<uint16_t>(in.data + 4);
    if (count == 0 || in.size < 6 + 16 * size_t(count)) return false;
    const uint8_t* entry = in.data + 6;
    const uint32_t size = qFromLittleEndian<uint32_t>(entry + 8), offset = qFromLittleEndian<uint32_t>(entry + 12);
    return entry[3] == 0 && size > 0 && offset >= 6 + 16 * size_t(count) && offset < in.size;
}

// Whether an XPM file holds a string for each of its colours and rows, each row as long as
// its width says. Qt's reader hands back a picture with the rows it did not find unwritten.
bool xpmComplete(Bytes in) {
    std::vector<size_t> lengths;  // of each C string, in order
    int64_t need = 1, rows = 0, rowChars = 0;
    for (size_t at = 0; at < in.size && int64_t(lengths.size()) < need;) {
        const uint8_t c = in.data[at];
        if (c == '/' && at + 1 < in.size && in.data[at + 1] == '*') {
            const void* end = memmem(in.data + at + 2, in.size - at - 2, "*/", 2);
            if (!end) break;
            at = size_t(static_cast<const uint8_t*>(end) - in.data) + 2;
            continue;
        }
        if (c != '"') {
            ++at;
            continue;
        }
        const void* close = std::memchr(in.data + at + 1, '"', in.size - at - 1);
        if (!close) break;
        const size_t end = size_t(static_cast<const uint8_t*>(close) - in.data);
        lengths.push_back(end - at - 1);
        if (lengths.size() == 1) {  // "width height colours characters-per-pixel"
            const QList<QByteArray> values =
                QByteArray(reinterpret_cast<const char*>(in.data + at + 1), qsizetype(end - at - 1)).simplified().split(' ');
            if (values.size() < 4) return false;
            rows = values[1].toLongLong();
            rowChars = values[0].toLongLong() * values[3].toLongLong();
            need = 1 + values[2].toLongLong() + rows;
            if (rows <= 0 || rowChars <= 0 || need > (int64_t(1) << 24)) return false;
        }
        at = end + 1;
    }
    if (int64_t(lengths.size()) < need) return false;
    for (int64_t r = 0; r < rows; ++r)
        if (int64_t(lengths[size_t(need - rows + r)]) < rowChars) return false;
    return true;
}

// Whether an XBM file holds the bytes its size declares, (width + 7) / 8 to a row, as
// values "0x" and two hexadecimal digits between its braces. Qt's reader leaves the bytes it
// does not find white and reports success.
bool xbmComplete(Bytes in, QSize size) {
    const void* open = std::memchr(in.data, '{', in.size);
    if (!open || size.isEmpty()) return false;
    const int64_t need = int64_t((size.width() + 7) / 8) * size.height();
    int64_t found = 0;
    for (size_t at = size_t(static_cast<const uint8_t*>(open) - in.data) + 1; at + 3 < in.size && found < need; ++at) {
        const uint8_t* p = in.data + at;
        if (p[0] == '}') break;
        if (p[0] == '0' && p[1] == 'x' && std::isxdigit(p[2]) && std::isxdigit(p[3])) ++found, at += 3;
    }
    return found >= need;
}

struct Reading {
    QByteArray bytes;
    QBuffer buffer;
    QImageReader reader;
    Reading(Bytes in, ImageFormat format)
        : bytes(QByteArray::fromRawData(reinterpret_cast<const char*>(in.data), qsizetype(in.size))) {
        buffer.setBuffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat(qtFormatName(format));
        reader.setDecideFormatFromContent(false);
        reader.setAutoTransform(false);
    }
    // The largest of the file's pictures (icons hold several sizes), as its size; the reader
    // is left at it. Invalid when the reader cannot tell sizes without decoding (ICNS).
    QSize largest() {
        QSize best = reader.size();
        int bestIndex = 0;
        const int count = reader.imageCount();
        for (int i = 1; i < std::min(count, 256); ++i) {
            if (!reader.jumpToImage(i)) break;
            const QSize s = reader.size();
            if (int64_t(s.width()) * s.height() > int64_t(best.width()) * best.height()) best = s, bestIndex = i;
        }
        if (count > 1) reader.jumpToImage(bestIndex);
        return best;
    }
    // The largest picture, found by decoding each (within Qt's allocation limit); null
    // when none decodes.
    QImage readLargest() {
        QImage best;
        const int count = std::max(1, reader.imageCount());
        for (int i = 0; i < std::min(count, 64); ++i) {
            if (i > 0 && !reader.jumpToImage(i)) break;
            QImage image;
            if (reader.read(&image) && int64_t(image.width()) * image.height() > int64_t(best.width()) * best.height())
                best = image;
        }
        return best;
    }
    // Qt's own limit in megabytes, at the budget's 4 bytes a pixel (its readers may hold a
    // picture at up to 8).
    void limit(int64_t pixelBudget) {
        reader.setAllocationLimit(int(std::min<int64_t>(INT32_MAX, pixelBudget * 8 / (1 << 20) + 1)));
    }
};

}  // namespace

ImageFormat qtReaderSniff(Bytes in) {
    if (startsWith(in, "icns") && in.size >= 8) return ImageFormat::ICNS;
    if (isIcon(in)) return ImageFormat::ICO;
    if (in.size >= 9 && in.data[0] == '/' && startsWith(in, "/* XPM */")) return ImageFormat::XPM;
    const size_t text = afterBlanksAndComments(in, 0);
    if (in.size - text >= 8 && std::memcmp(in.data + text, "#define", 7) == 0 && std::isspace(in.data[text + 7])) {
        const size_t lineEnd = std::min(in.size, text + 256);
        const void* width = memmem(in.data + text, lineEnd - text, "_width", 6);
        if (width) return ImageFormat::XBM;
    }
    return ImageFormat::Unknown;
}

ReadOnlyFacts qtReaderFacts(Bytes in, ImageFormat format) {
    ReadOnlyFacts facts;
    if (!qtFormatName(format)) return facts;
    Reading r(in, format);
    r.limit(DecodeOptions{}.pixelBudget);
    QSize size = r.largest();
    if (!size.isValid() || size.isEmpty()) size = r.readLargest().size();
    if (!size.isValid() || size.isEmpty()) return facts;
    facts.header.format = format;
    facts.header.width = size.width();
    facts.header.height = size.height();
    const QImage::Format stored = r.reader.imageFormat();
    const bool gray = stored == QImage::Format_Grayscale8 || stored == QImage::Format_Grayscale16 ||
                      format == ImageFormat::XBM;
    facts.header.colourModel = gray ? ColourModel::Gray : ColourModel::RGB;
    facts.depth = stored == QImage::Format_Grayscale16 || stored == QImage::Format_RGBA64 ? 16
                  : stored == QImage::Format_Mono || stored == QImage::Format_MonoLSB ? 1
                                                                                        : 8;
    facts.hasAlpha = QImage::toPixelFormat(stored).alphaUsage() == QPixelFormat::UsesAlpha;
    facts.metadataInBlocks = true;  // none of these holds EXIF or XMP
    return facts;
}

QImage qtReaderDecode(Bytes in, ImageFormat format, const DecodeOptions& options, const QString& name,
                      DecodeResult* why) {
    const auto fail = [&](DecodeFailure kind) {
        if (why) why->failure = kind;
        return QImage();
    };
    if (!qtFormatName(format)) return fail(DecodeFailure::Unsupported);
    const QString kind = imageFormatName(format);
    if (format == ImageFormat::XPM && !xpmComplete(in)) {
        log(u"%@: %@ data ends early; the file is truncated", name, kind);
        return fail(DecodeFailure::Damaged);
    }
    Reading r(in, format);
    r.limit(options.pixelBudget);
    const QSize size = r.largest();
    QImage image;
    if (size.isValid() && !size.isEmpty()) {
        if (!checkBudget(size.width(), size.height(), options, name, kind.toLatin1().constData()))
            return fail(DecodeFailure::OverBudget);
        if (format == ImageFormat::XBM && !xbmComplete(in, size)) {
            log(u"%@: %@ data ends early; the file is truncated", name, kind);
            return fail(DecodeFailure::Damaged);
        }
        if (!r.reader.read(&image)) image = QImage();
    } else {
        image = r.readLargest();  // sizes known only once decoded; each within Qt's limit
    }
    if (image.isNull()) {
        log(u"%@: %@ data is corrupt (%@)", name, kind, r.reader.errorString());
        return fail(DecodeFailure::Damaged);
    }
    if (!checkBudget(image.width(), image.height(), options, name, kind.toLatin1().constData()))
        return fail(DecodeFailure::OverBudget);
    // Pixels are handed on as sRGB: a PNG inside an icon may have brought a colour space.
    image.setColorSpace(QColorSpace());
    if (image.format() != QImage::Format_ARGB32_Premultiplied) image.convertTo(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return fail(DecodeFailure::OverBudget);
    return image;
}

}  // namespace platform::codec
