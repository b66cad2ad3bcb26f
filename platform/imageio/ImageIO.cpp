// Dispatch by content, the pixel budget, orientation, thumbnails and atomic file writing.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/imageio/VectorHeaders.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QTransform>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <libdeflate.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

using codec::Bytes;

ImageFormat sniffImageFormat(const char* data, size_t size) {
    const auto* p = reinterpret_cast<const uint8_t*>(data);
    auto starts = [&](const char* magic, size_t n) { return size >= n && std::memcmp(p, magic, n) == 0; };
    const Bytes bytes{p, size};
    if (codec::rawSniff(bytes)) return ImageFormat::RAW;  // TIFF-structured ones included
    if (const ImageFormat heif = codec::heifSniff(bytes); heif != ImageFormat::Unknown) return heif;
    if (starts("RIFF", 4) && size >= 12 && std::memcmp(p + 8, "WEBP", 4) == 0) return ImageFormat::WebP;
    if (starts("\xFF\xD8\xFF", 3)) return ImageFormat::JPEG;
    if (starts("\x89PNG\r\n\x1A\n", 8)) return ImageFormat::PNG;
    // Classic TIFF and BigTIFF (version 43, 64-bit offsets).
    if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4))
        return ImageFormat::TIFF;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return ImageFormat::GIF;
    if (starts("BM", 2) && size >= 18) return ImageFormat::BMP;
    if (starts("\0\0\0\x0CjP  \r\n\x87\n", 12)) return ImageFormat::JP2;
    if (starts("\xFF\x4F\xFF\x51", 4)) return ImageFormat::J2K;
    if (starts("8BPS", 4) && size >= 6 && p[4] == 0 && (p[5] == 1 || p[5] == 2)) return ImageFormat::PSD;
    if (codec::pnmSniff(bytes)) return ImageFormat::PNM;
    return codec::qtReaderSniff(bytes);
}

ImageFormat sniffImageFormat(const char* data, size_t size, const QString& fileName) {
    const ImageFormat byContent = sniffImageFormat(data, size);
    if (byContent != ImageFormat::Unknown || fileName.isEmpty()) return byContent;
    const Bytes bytes{reinterpret_cast<const uint8_t*>(data), size};
    if (codec::dibSniff(bytes, fileName)) return ImageFormat::DIB;
    if (codec::tgaSniff(bytes, fileName)) return ImageFormat::TGA;
    return ImageFormat::Unknown;
}

QString imageFormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::JPEG: return QStringLiteral("JPEG");
    case ImageFormat::PNG: return QStringLiteral("PNG");
    case ImageFormat::TIFF: return QStringLiteral("TIFF");
    case ImageFormat::GIF: return QStringLiteral("GIF");
    case ImageFormat::BMP: return QStringLiteral("BMP");
    case ImageFormat::JP2: return QStringLiteral("JPEG 2000");
    case ImageFormat::J2K: return QStringLiteral("JPEG 2000 codestream");
    case ImageFormat::HEIF: return QStringLiteral("HEIF");
    case ImageFormat::AVIF: return QStringLiteral("AVIF");
    case ImageFormat::WebP: return QStringLiteral("WebP");
    case ImageFormat::RAW: return QStringLiteral("camera raw");
    case ImageFormat::PSD: return QStringLiteral("Photoshop");
    case ImageFormat::PNM: return QStringLiteral("PNM");
    case ImageFormat::XBM: return QStringLiteral("XBM");
    case ImageFormat::XPM: return QStringLiteral("XPM");
    case ImageFormat::ICO: return QStringLiteral("ICO");
    case ImageFormat::ICNS: return QStringLiteral("ICNS");
    case ImageFormat::TGA: return QStringLiteral("Targa");
    case ImageFormat::DIB: return QStringLiteral("DIB");
    case ImageFormat::Unknown: break;
    }
    return QStringLiteral("unknown");
}

namespace codec {

double dotsPerInchOf(double perMetre) {
    const double dpi = perMetre * 0.0254;
    return std::fabs(dpi - std::round(dpi)) < 0.05 ? std::round(dpi) : dpi;
}

QImage decodeFailed(DecodeResult* why, DecodeFailure kind, const QString& detail) {
    if (why) *why = DecodeResult{QImage(), kind, detail};
    return QImage();
}

bool checkBudget(int64_t width, int64_t height, const DecodeOptions& options, const QString& name,
                 const char* codecName, DecodeResult* why) {
    if (width <= 0 || height <= 0) {
        log(u"%@: %@ image declares no size (%@ x %@); refused", name, codecName, qlonglong(width), qlonglong(height));
        decodeFailed(why, DecodeFailure::Damaged);
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > options.pixelBudget) {
        log(u"%@: %@ image declares %@ x %@ pixels, more than this program will decode; refused", name, codecName,
            qlonglong(width), qlonglong(height));
        decodeFailed(why, DecodeFailure::OverBudget);
        return false;
    }
    return true;
}

QImage allocateImage(int width, int height, QImage::Format format, const QString& name) {
    QImage image;
    try {
        image = QImage(width, height, format);
    } catch (const std::bad_alloc&) {
        image = QImage();
    }
    if (image.isNull()) {
        // Qt gives a null picture rather than throwing; the size was within the budget, so
        // memory is short, not the file damaged.
        log(u"%@: not enough memory for a %@ x %@ image", name, width, height);
        throw std::bad_alloc();
    }
    return image;
}

void ConsumedPages::release(const void* consumed) {
    static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(in_.data);
    uintptr_t end = reinterpret_cast<uintptr_t>(consumed);
    if (end < start || end - start > in_.size) end = start + in_.size;
    next_ = end - start < in_.size ? end + kStep : UINTPTR_MAX;
    // Only whole pages inside the bytes: the page holding `consumed` is still being read.
    const uintptr_t from = (start + page - 1) & ~(page - 1);
    const uintptr_t to = end & ~(page - 1);
    if (to > from && madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED) != 0) {
        log(u"could not release a mapped file's pages (%@)", QString::fromLocal8Bit(std::strerror(errno)));
        next_ = UINTPTR_MAX;
    }
}

bool isOpaque(const QImage& image) {
    if (!image.hasAlphaChannel()) return true;
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        return isOpaque(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        uint32_t all = 0xFFFFFFFFu;
        for (int x = 0; x < width; ++x) all &= line[x];  // vectorises; no early exit inside a row
        if ((all >> 24) != 0xFFu) return false;
    }
    return true;
}

int exifOrientation(const uint8_t* tiff, size_t size) {
    if (size < 8) return 1;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    auto u16 = [&](size_t off) -> uint32_t {
        return little ? qFromLittleEndian<uint16_t>(tiff + off) : qFromBigEndian<uint16_t>(tiff + off);
    };
    auto u32 = [&](size_t off) -> uint32_t {
        return little ? qFromLittleEndian<uint32_t>(tiff + off) : qFromBigEndian<uint32_t>(tiff + off);
    };
    if (u16(2) != 42) return 1;
    const size_t ifd = u32(4);
    if (ifd > size - 2 || ifd < 8) return 1;
    const uint32_t entries = u16(ifd);
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t e = ifd + 2 + size_t(i) * 12;
        if (e + 12 > size) break;
        if (u16(e) == 0x0112 && u16(e + 2) == 3) {
            const uint32_t v = u16(e + 8);
            return v >= 1 && v <= 8 ? int(v) : 1;
        }
    }
    return 1;
}

int reductionShift(int width, int height, int minLongSide, int maxShift) {
    if (minLongSide <= 0) return 0;
    const int longSide = std::max(width, height);
    const auto reduced = [&](int shift) { return (longSide + (1 << shift) - 1) >> shift; };
    // A reduction that leaves the picture its size is none: libjpeg's scaled decode of a
    // one-pixel picture leaves that pixel to memory it never wrote.
    int shift = 0;
    while (shift < maxShift && reduced(shift + 1) >= minLongSide && reduced(shift + 1) < reduced(shift)) ++shift;
    return shift;
}

}  // namespace codec

bool isOpaqueImage(const QImage& image) { return !image.isNull() && codec::isOpaque(image); }

namespace {

using codec::FileBytes;

ImageHeader headerOf(Bytes in, const QString& name) { return codec::imageFacts(in, name).header; }

// The picture of a kind the readers take, by its decoder, which says why where it gives none.
QImage decodeAs(ImageFormat format, Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    switch (format) {
    case ImageFormat::JPEG: return codec::jpegDecode(in, options, name, why);
    case ImageFormat::PNG: return codec::pngDecode(in, options, name, why);
    case ImageFormat::TIFF: return codec::tiffDecode(in, options, name, why);
    case ImageFormat::GIF: return codec::gifDecode(in, options, name, why);
    case ImageFormat::BMP: return codec::bmpDecode(in, options, name, why);
    case ImageFormat::JP2:
    case ImageFormat::J2K: return codec::jp2Decode(in, format, options, name, why);
    case ImageFormat::HEIF:
    case ImageFormat::AVIF: return codec::heifDecode(in, options, name, why);
    case ImageFormat::WebP: return codec::webpDecode(in, options, name, why);
    case ImageFormat::RAW: return codec::rawDecode(in, options, name, why);
    case ImageFormat::DIB: return codec::dibDecode(in, options, name, why);
    case ImageFormat::PSD: return codec::psdDecode(in, options, name, why);
    case ImageFormat::PNM: return codec::pnmDecode(in, options, name, why);
    case ImageFormat::XBM:
    case ImageFormat::XPM:
    case ImageFormat::ICNS: return codec::qtReaderDecode(in, format, options, name, why);
    case ImageFormat::ICO: return codec::icoDecode(in, options, name, why);
    case ImageFormat::TGA: return codec::tgaDecode(in, options, name, why);
    case ImageFormat::Unknown: break;
    }
    return QImage();
}

DecodeResult decode(Bytes in, const DecodeOptions& options, const QString& name) {
    DecodeResult result;
    if (in.size == 0) {
        log(u"%@: the file is empty", name);
        result.failure = DecodeFailure::Empty;
        return result;
    }
    const ImageFormat format = sniffImageFormat(reinterpret_cast<const char*>(in.data), in.size, name);
    if (format == ImageFormat::Unknown) {
        log(u"%@: not a picture this program can read", name);
        result.failure = DecodeFailure::Unsupported;
        return result;
    }
    try {
        result.image = decodeAs(format, in, options, name, &result);
    } catch (const std::bad_alloc&) {
        // Memory short for the picture or a decoder's own buffers: the file may be fine.
        log(u"%@: not enough memory to decode the picture", name);
        return DecodeResult{QImage(), DecodeFailure::OutOfMemory, QString()};
    }
    if (!result.image.isNull()) {
        result.failure = DecodeFailure::None;
        result.detail.clear();
    } else if (result.failure == DecodeFailure::None) {
        // Each decoder says where it fails; one that gave no picture and said nothing met
        // data it could not decode.
        result.failure = DecodeFailure::Damaged;
    }
    return result;
}

// A file's decode; a file cut short under the reader gives no picture, whatever its
// decoder made of the zeros it found.
DecodeResult decodeFile(const QString& path, const DecodeOptions& options) {
    FileBytes f;
    if (path.isEmpty() || !f.open(path)) {
        log(u"%@: could not open the file", path);
        DecodeResult result;
        result.failure = f.missing || path.isEmpty() ? DecodeFailure::Missing
                         : f.notAFile                ? DecodeFailure::NotAFile
                         : f.readFailed              ? DecodeFailure::ReadError
                                                     : DecodeFailure::NotOpened;
        return result;
    }
    if (options.whileOpen) options.whileOpen(path);
    DecodeResult result = decode(f.bytes, options, path);
    if (f.readError()) {
        log(u"%@: the disk could not give the file's bytes", path);
        result = DecodeResult{QImage(), DecodeFailure::ReadError, QString()};
    } else if (f.cut()) {
        log(u"%@: the file was cut short while it was read", path);
        result = DecodeResult{QImage(), DecodeFailure::ChangedWhileRead, QString()};
    }
    return result;
}

}  // namespace

ImageHeader readImageHeader(const QString& path) { return readImageHeader(path, nullptr); }

ImageHeader readImageHeader(const QString& path, DecodeResult* why) {
    FileBytes f;
    if (!f.open(path)) return {};
    const codec::ImageFacts facts = codec::imageFacts(f.bytes, path);
    if (f.cut()) return {};
    if (why && !facts.header.valid() && facts.failure != DecodeFailure::None) {
        why->failure = facts.failure;
        why->detail = facts.detail;
    }
    return facts.header;
}

ImageHeader readImageHeaderFromData(const QByteArray& data, const QString& fileName) {
    return headerOf(Bytes{reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())}, fileName);
}

bool exceedsPixelBudget(const ImageHeader& header, const DecodeOptions& options) {
    return header.valid() && (header.width > kMaxImageSide || header.height > kMaxImageSide ||
                              int64_t(header.width) * header.height > options.pixelBudget);
}

bool isReadablePicture(const QString& path) {
    if (readImageHeader(path).valid()) return true;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"eps") return epsPictureSize(path).has_value();
    if (suffix == u"pict" || suffix == u"pct") return pictPictureSize(path).has_value();
    return false;
}

QImage readImage(const QString& path, const DecodeOptions& options) { return decodeFile(path, options).image; }

DecodeResult decodeImage(const QString& path, const DecodeOptions& options) { return decodeFile(path, options); }

QImage readImageFromData(const QByteArray& data, const DecodeOptions& options, const QString& nameForLog) {
    return decode(Bytes{reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())}, options,
                  nameForLog.isEmpty() ? QStringLiteral("image data") : nameForLog)
        .image;
}

bool pictureDecodes(const QString& path) {
    QFile file;
    char signature[8] = {};
    if (!openFile(file, path)) return false;
    if (file.peek(signature, 8) == 8 && std::memcmp(signature, "\x89PNG\r\n\x1A\n", 8) == 0)
        return codec::pngDecodesWhole(file, path);
    file.close();
    DecodeOptions options;
    options.minLongSide = 64;
    return !readImage(path, options).isNull();
}

namespace codec {

ImageFacts imageFacts(Bytes in, const QString& name, bool metadata) {
    const ImageFormat format = sniffImageFormat(reinterpret_cast<const char*>(in.data), in.size, name);
    switch (format) {
    case ImageFormat::JPEG: return jpegFacts(in);
    case ImageFormat::PNG: return pngFacts(in);
    case ImageFormat::TIFF: return tiffFacts(in);
    case ImageFormat::GIF: return gifFacts(in);
    case ImageFormat::BMP: return bmpFacts(in);
    case ImageFormat::JP2:
    case ImageFormat::J2K: return jp2Facts(in, format);
    case ImageFormat::HEIF:
    case ImageFormat::AVIF: return heifFacts(in);
    case ImageFormat::WebP: return webpFacts(in);
    case ImageFormat::RAW: return rawFacts(in, metadata);
    case ImageFormat::DIB: return dibFacts(in);
    case ImageFormat::PSD: return psdFacts(in);
    case ImageFormat::PNM: return pnmFacts(in);
    case ImageFormat::XBM:
    case ImageFormat::XPM:
    case ImageFormat::ICNS: return qtReaderFacts(in, format);
    case ImageFormat::ICO: return icoFacts(in);
    case ImageFormat::TGA: return tgaFacts(in);
    case ImageFormat::Unknown: break;
    }
    return ImageFacts{};
}

}  // namespace codec

QImage orientImage(const QImage& image, int orientation) {
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

QImage unorientImage(const QImage& image, int orientation) {
    // 2, 3, 4, 5 and 7 are their own inverses; 6 and 8 are each other's.
    if (orientation == 6) return orientImage(image, 8);
    if (orientation == 8) return orientImage(image, 6);
    return orientImage(image, orientation);
}

QImage makeThumbnail(const QString& path, int maxWidth, int maxHeight, int orientation,
                     const DecodeOptions& options) {
    if (maxWidth <= 0 || maxHeight <= 0) return QImage();
    FileBytes f;
    if (path.isEmpty() || !f.open(path)) return QImage();
    if (options.whileOpen) options.whileOpen(path);
    // Whatever a reader made of a file cut short under it (zeros past the new end) is dropped.
    const auto cutShort = [&] {
        log(u"%@: no thumbnail: the file was cut short while it was read", path);
        return QImage();
    };
    const ImageHeader header = headerOf(f.bytes, path);
    if (f.cut()) return cutShort();
    if (!header.valid()) {
        log(u"%@: no thumbnail: not a picture this program can read", path);
        return QImage();
    }
    if (orientation < 0) orientation = header.orientation;
    const bool turned = orientation >= 5 && orientation <= 8;
    const int uprightW = turned ? header.height : header.width;
    const int uprightH = turned ? header.width : header.height;
    // The largest size of the picture's aspect ratio inside the box, never enlarged.
    const double scale = std::min({1.0, double(maxWidth) / uprightW, double(maxHeight) / uprightH});
    const int outW = std::max(1, int(std::lround(uprightW * scale)));
    const int outH = std::max(1, int(std::lround(uprightH * scale)));
    DecodeOptions reduced = options;
    reduced.minLongSide = std::max(outW, outH);
    reduced.reducedForOutput = false;
    QImage stored = decode(f.bytes, reduced, path).image;
    if (f.cut()) return cutShort();
    if (stored.isNull()) return QImage();
    QImage upright = orientImage(stored, orientation);
    stored = QImage();
    if (upright.width() == outW && upright.height() == outH) return upright;
    return upright.scaled(outW, outH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

namespace {

QByteArray encodePixels(const OutputPixels& out, ImageType type, double quality) {
    switch (type) {
    case ImageType::TIFF: return codec::tiffEncode(out.pixels, out.icc);
    case ImageType::BMP: return codec::bmpEncode(out.pixels);
    case ImageType::GIF: return codec::gifEncode(out.pixels);
    case ImageType::JPEG: return codec::jpegEncode(out.pixels, out.icc, quality);
    case ImageType::PNG: return codec::pngEncode(out.pixels, out.icc);
    case ImageType::JPEG2000: return codec::jp2Encode(out.pixels, out.icc, quality);
    }
    return QByteArray();
}

}  // namespace

QByteArray encodeImage(const QImage& image, ImageType type, double quality) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return QByteArray();
    const OutputPixels out = pixelsForOutput(image, colourTargetOf(type));
    if (out.pixels.isNull()) return QByteArray();
    return encodePixels(out, type, quality);
}

bool imageTypeHoldsProperties(ImageType type) {
    return type == ImageType::TIFF || type == ImageType::JPEG || type == ImageType::PNG || type == ImageType::JPEG2000;
}

bool propertiesDescribeGray(const QVariantMap& properties) {
    return properties.value(QLatin1String(kPropsColorModel)).toString() == QLatin1String("Gray");
}

namespace {

// Where a picture's bytes go: a temporary file beside the destination, removed unless it
// is renamed into place; or, when the destination is a private temporary file its caller
// made for this picture (and checks and places itself), that file, written as it is: a
// second file renamed over it would cost the file system a new file for nothing.
struct SiblingTemp {
    QTemporaryFile sibling;
    QFile own;
    const bool inPlace;
    SiblingTemp(const QString& destination, FileTarget target) : inPlace(target == FileTarget::PrivateFile) {
        if (inPlace) {
            own.setFileName(destination);
            return;
        }
        const QFileInfo info(destination);
        sibling.setFileTemplate(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    }
    QFileDevice& file() { return inPlace ? static_cast<QFileDevice&>(own) : sibling; }
    // Open for reading too: the file is read back through the descriptor that wrote it.
    bool open() { return inPlace ? own.open(QIODevice::ReadWrite | QIODevice::Truncate) : sibling.open(); }
    QString fileName() const { return inPlace ? own.fileName() : sibling.fileName(); }
};

bool renameIntoPlace(SiblingTemp& temp, const QString& destination) {
    if (!temp.inPlace) {
        const QByteArray from = QFile::encodeName(temp.sibling.fileName());
        const QByteArray to = QFile::encodeName(destination);
        if (std::rename(from.constData(), to.constData()) != 0) {
            log(u"%@: could not move the finished file into place (%@)", destination,
                QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        temp.sibling.setAutoRemove(false);
    }
    // Plain files get the usual permissions rather than the temporary file's private ones.
    QFile::setPermissions(destination, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ReadOther);
    return true;
}

// The open temporary file, every byte handed to it counted on its way.
class CountedFile {
public:
    explicit CountedFile(QFileDevice& file) : file_(file) {}
    bool write(const char* data, size_t size) {
        if (!ok_) return false;
        written_.add(data, size);
        for (size_t at = 0; at < size;) {
            const qint64 n = file_.write(data + at, qint64(std::min<size_t>(size - at, size_t(1) << 30)));
            if (n <= 0) return ok_ = false;
            at += size_t(n);
        }
        return true;
    }
    FileBytesSink sink() {
        return [this](const char* data, size_t size) { return write(data, size); };
    }
    bool ok() const { return ok_; }
    const WrittenBytes& written() const { return written_; }

private:
    QFileDevice& file_;
    WrittenBytes written_;
    bool ok_ = true;
};

// Reads the open file back from its start into `buffer` and compares it with what was
// handed to it; `mark` says what read back.
WriteCheck::Outcome readBack(int fd, const WrittenBytes& written, std::vector<char>& buffer, ReadBackMark& mark) {
    constexpr size_t kChunk = size_t(1) << 20;
    if (buffer.size() < kChunk) buffer.resize(kChunk);
    WrittenBytes found;
    quint32 head = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), off_t(found.size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return WriteCheck::Outcome::Unreadable;
        if (n == 0) break;
        if (found.size < ReadBackMark::kHeadBytes)
            head = quint32(libdeflate_crc32(head, buffer.data(),
                                            size_t(std::min<qint64>(n, ReadBackMark::kHeadBytes - found.size))));
        found.add(buffer.data(), size_t(n));
        if (found.size > written.size) break;  // longer than written: no need to read on
    }
    if (found.size != written.size || found.crc != written.crc) return WriteCheck::Outcome::Differs;
    mark = ReadBackMark{found.size, head};
    return WriteCheck::Outcome::Same;
}

// Once every byte was handed over: flushed (to the disk too when the check asks, its
// cached pages then dropped), read back and closed. Whether the file holds exactly what
// was written.
bool finishWritten(SiblingTemp& temp, const QString& path, const CountedFile& file, WriteCheck& check) {
    QFileDevice& device = temp.file();
    if (!file.ok() || !device.flush()) {
        log(u"%@: could not write the file (%@)", path, device.errorString());
        return false;
    }
    const int fd = device.handle();
    if (check.sync) {
        if (::fdatasync(fd) != 0) {
            // The disk did not take the data: what reads back now may be only in memory.
            log(u"%@: the file could not be flushed to the disk (%@)", path,
                QString::fromLocal8Bit(std::strerror(errno)));
            check.outcome = WriteCheck::Outcome::Unreadable;
            return false;
        }
        if (check.onDisk) check.onDisk(temp.fileName());
        // A read would be served from the very pages the writer filled, which prove nothing
        // of the disk: once flushed they are clean, and dropped here, so the read-back
        // fetches the file from the disk.
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    std::vector<char> own;
    check.outcome = readBack(fd, file.written(), check.readBuffer ? *check.readBuffer : own, check.readBack);
    const int readError = errno;
    device.close();
    if (device.error() != QFileDevice::NoError) {
        log(u"%@: could not write the file (%@)", path, device.errorString());
        check.outcome = WriteCheck::Outcome::NotWritten;
        return false;
    }
    if (check.outcome == WriteCheck::Outcome::Unreadable)
        log(u"%@: the written file could not be read back (%@)", path, QString::fromLocal8Bit(std::strerror(readError)));
    else if (check.outcome == WriteCheck::Outcome::Differs)
        log(u"%@: the file does not read back as it was written (%@ bytes handed to it); the disk may be failing", path,
            file.written().size);
    return check.outcome == WriteCheck::Outcome::Same;
}

// A file of `type` whole in memory, with the properties put into it where the type holds them.
bool sendWithProperties(const QByteArray& bytes, ImageType type, const QVariantMap& properties, const QString& path,
                        const FileBytesSink& out) {
    if (!imageTypeHoldsProperties(type) || properties.isEmpty()) return out(bytes.constData(), size_t(bytes.size()));
    if (writeWithImageProperties(bytes, properties, path, out)) return true;
    log(u"%@: not written, its metadata could not be written", path);
    return false;
}

// Hands a PNG stream on with the metadata put in before its picture data, the data never
// held: the chunks before the first IDAT are kept until it comes and then go out as the
// metadata writer frames them; the IDAT chunks pass straight through; what follows them
// must be the IEND the frame was made around, and the frame's tail goes out in its place.
class PngWithProperties {
public:
    PngWithProperties(const QVariantMap& properties, const QString& path, FileBytesSink out)
        : properties_(properties), path_(path), out_(std::move(out)) {}
    bool operator()(const char* data, size_t size) {
        if (failed_) return false;
        while (size > 0 && !failed_) {
            size_t used = size;
            switch (part_) {
            case Part::Head: used = takeHead(data, size); break;
            case Part::Data: used = passData(data, size); break;
            case Part::Tail: tail_.append(data, qsizetype(size)); break;
            }
            data += used;
            size -= used;
        }
        return !failed_;
    }
    // The stream ended: the frame's tail goes out.
    bool finish() {
        if (failed_) return false;
        if (part_ != Part::Tail || tail_ != kIend) {
            log(u"%@: not a PNG stream the metadata could be put into", path_);
            return false;
        }
        return out_(newTail_.constData(), size_t(newTail_.size()));
    }

private:
    enum class Part { Head, Data, Tail };
    static inline const QByteArray kIend = QByteArray("\0\0\0\0IEND\xAE\x42\x60\x82", 12);

    static quint32 be32(const char* p) {
        const auto* u = reinterpret_cast<const uchar*>(p);
        return quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | quint32(u[3]);
    }
    // Keeps the head until the first IDAT chunk's start; returns how much of `data` it took.
    size_t takeHead(const char* data, size_t size) {
        head_.append(data, qsizetype(size));
        while (headAt_ + 8 <= head_.size()) {
            if (std::memcmp(head_.constData() + headAt_ + 4, "IDAT", 4) != 0) {
                headAt_ += 12 + qsizetype(be32(head_.constData() + headAt_));
                continue;
            }
            QByteArray newHead;
            if (!pngFrameWithImageProperties(head_.left(headAt_), kIend, properties_, path_, &newHead, &newTail_) ||
                !out_(newHead.constData(), size_t(newHead.size()))) {
                failed_ = true;
                return size;
            }
            // What came past the head is the data's: handed on from where it starts.
            const QByteArray rest = head_.mid(headAt_);
            head_.clear();
            part_ = Part::Data;
            for (qsizetype at = 0; at < rest.size() && !failed_;)
                at += qsizetype(passData(rest.constData() + at, size_t(rest.size() - at)));
            return size;
        }
        return size;
    }
    // IDAT chunks pass through; the first chunk of another type begins the tail.
    size_t passData(const char* data, size_t size) {
        if (chunkLeft_ > 0) {
            const size_t n = size_t(std::min<quint64>(chunkLeft_, size));
            if (!out_(data, n)) failed_ = true;
            chunkLeft_ -= n;
            return n;
        }
        const size_t n = std::min<size_t>(size, size_t(8 - pending_.size()));
        pending_.append(data, qsizetype(n));
        if (pending_.size() < 8) return n;
        if (QByteArrayView(pending_).sliced(4, 4) == "IDAT") {
            chunkLeft_ = quint64(be32(pending_.constData())) + 4;  // the data and the checksum
            if (!out_(pending_.constData(), 8)) failed_ = true;
        } else {
            part_ = Part::Tail;
            tail_ = pending_;
        }
        pending_.clear();
        return n;
    }

    const QVariantMap& properties_;
    const QString& path_;
    FileBytesSink out_;
    Part part_ = Part::Head;
    QByteArray head_;
    qsizetype headAt_ = 8;  // the signature is passed over
    QByteArray pending_;    // a chunk's length and type, until they are whole
    quint64 chunkLeft_ = 0;  // bytes of the IDAT chunk being passed through still to come
    QByteArray tail_, newTail_;
    bool failed_ = false;
};

// Opens the temporary file and writes into it, with the properties, the bytes `write`
// hands over in order; then checks it.
bool writeThrough(SiblingTemp& temp, const QString& path, ImageType type, const QVariantMap& properties,
                  WriteCheck& check, const std::function<bool(const FileBytesSink&)>& write) {
    if (!temp.open()) {
        log(u"%@: could not create a file in the destination folder (%@)", path, temp.file().errorString());
        return false;
    }
    CountedFile file(temp.file());
    bool whole = false;
    if (!imageTypeHoldsProperties(type) || properties.isEmpty()) {
        whole = write(file.sink());
    } else if (type == ImageType::PNG) {
        PngWithProperties png(properties, path, file.sink());
        whole = write(std::ref(png)) && png.finish();
    } else {
        QByteArray bytes;
        whole = write(codec::appendTo(bytes)) && sendWithProperties(bytes, type, properties, path, file.sink());
    }
    if (!whole && file.ok()) {
        log(u"%@: the image could not be encoded", path);
        return false;
    }
    return finishWritten(temp, path, file, check);
}

// writeThrough for a file whole in memory.
bool writeWhole(SiblingTemp& temp, const QString& path, ImageType type, const QVariantMap& properties,
                WriteCheck& check, const QByteArray& bytes) {
    if (!temp.open()) {
        log(u"%@: could not create a file in the destination folder (%@)", path, temp.file().errorString());
        return false;
    }
    CountedFile file(temp.file());
    if (!sendWithProperties(bytes, type, properties, path, file.sink()) && file.ok()) return false;
    return finishWritten(temp, path, file, check);
}

}  // namespace

void WrittenBytes::add(const char* data, size_t count) {
    crc = quint32(libdeflate_crc32(crc, data, count));
    size += qint64(count);
}

bool stillAsReadBack(const QString& path, const ReadBackMark& mark) {
    if (mark.size < 0) return false;  // it never read back
    const int fd = ::open(encodePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && qint64(st.st_size) == mark.size;
    if (same) {
        std::vector<char> head(size_t(std::min(mark.size, ReadBackMark::kHeadBytes)));
        size_t got = 0;
        while (got < head.size()) {
            const ssize_t n = ::pread(fd, head.data() + got, head.size() - got, off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += size_t(n);
        }
        same = got == head.size() && quint32(libdeflate_crc32(0, head.data(), head.size())) == mark.headCrc;
    }
    ::close(fd);
    return same;
}

bool writeAnimatedGif(const QString& path, const QList<QImage>& frames, int delayCentiseconds, int loopCount) {
    const QByteArray bytes = codec::gifEncodeAnimation(frames, delayCentiseconds, loopCount);
    return !bytes.isEmpty() && writeFileAtomically(path, bytes);
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes) {
    return writeFileBytes(path, bytes, FileTarget::ReplaceAtomically, nullptr);
}

bool writeFileBytes(const QString& path, const QByteArray& bytes, FileTarget target, WriteCheck* check) {
    WriteCheck own;
    WriteCheck& c = check ? *check : own;
    c.outcome = WriteCheck::Outcome::NotWritten;
    SiblingTemp temp(path, target);
    // Given no properties, the type plays no part.
    return writeWhole(temp, path, ImageType::BMP, {}, c, bytes) && renameIntoPlace(temp, path);
}

bool writeImageFile(const QString& path, const QImage& image, ImageType type, double quality,
                    const QVariantMap& properties, FileTarget target, WriteCheck* check) {
    WriteCheck own;
    WriteCheck& c = check ? *check : own;
    c.outcome = WriteCheck::Outcome::NotWritten;
    if (path.isEmpty()) {
        log(u"no destination path given for the image");
        return false;
    }
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        log(u"%@: the image could not be encoded", path);
        return false;
    }
    const OutputPixels out = pixelsForOutput(image, colourTargetOf(type), propertiesDescribeGray(properties));
    SiblingTemp temp(path, target);
    if (type == ImageType::PNG) {
        // Each band goes to the file as soon as it is compressed: the picture is never
        // held a second time as file data.
        return writeThrough(temp, path, type, properties, c,
                            [&](const FileBytesSink& sink) { return codec::pngWrite(out.pixels, out.icc, sink); }) &&
               renameIntoPlace(temp, path);
    }
    // The metadata goes into the encoded bytes before they are written: one new file per
    // picture, written once, whose every byte is counted.
    const QByteArray bytes = type == ImageType::TIFF
                                 ? codec::tiffEncode(out.pixels, out.icc, propertiesResolution(properties))
                                 : encodePixels(out, type, quality);
    if (bytes.isEmpty()) {
        log(u"%@: the image could not be encoded", path);
        return false;
    }
    return writeWhole(temp, path, type, properties, c, bytes) && renameIntoPlace(temp, path);
}

bool writeEncodedImageFile(const QString& path, ImageType type, const QVariantMap& properties,
                           const std::function<bool(const FileBytesSink&)>& write, FileTarget target,
                           WriteCheck* check) {
    WriteCheck own;
    WriteCheck& c = check ? *check : own;
    c.outcome = WriteCheck::Outcome::NotWritten;
    if (path.isEmpty()) {
        log(u"no destination path given for the image");
        return false;
    }
    SiblingTemp temp(path, target);
    return writeThrough(temp, path, type, properties, c, write) && renameIntoPlace(temp, path);
}

}  // namespace platform
