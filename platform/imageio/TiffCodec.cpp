// TIFF through libtiff, reading in memory and writing to memory or straight to a file.
// libtiff's messages are routed per handle so a bad file leaves one log line from us and
// nothing on the console.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace platform::codec {
namespace {

// Where libtiff reads from or writes to: the caller's bytes, a growing byte array, or an
// open file descriptor (written at explicit offsets, so libtiff's seeks cost nothing).
struct TiffStream {
    const uint8_t* readData = nullptr;  // reading: the caller's bytes
    QByteArray* writeData = nullptr;    // writing: grows as libtiff writes
    int fd = -1;                        // writing: a file of our own, empty at the start
    bool discard = false;               // writes are dropped (an abandoned attempt closing)
    toff_t size = 0;
    toff_t pos = 0;
    QString error;

    // Empties the output for a fresh start.
    bool truncate() {
        pos = size = 0;
        if (writeData) writeData->clear();
        if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        return true;
    }
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<TiffStream*>(h);
    if (n < 0 || f->pos >= f->size) return 0;
    const toff_t count = std::min<toff_t>(toff_t(n), f->size - f->pos);
    if (f->fd >= 0) {
        const ssize_t got = ::pread(f->fd, buf, size_t(count), off_t(f->pos));
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
    if (n < 0 || (!f->writeData && f->fd < 0)) return -1;
    if (f->discard) return n;
    const toff_t end = f->pos + toff_t(n);
    if (f->fd >= 0) {
        const auto* p = static_cast<const uint8_t*>(buf);
        for (toff_t done = 0; done < toff_t(n);) {
            const ssize_t put = ::pwrite(f->fd, p + done, size_t(toff_t(n) - done), off_t(f->pos + done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                // libtiff's own message says only that the write failed; keep the reason.
                f->error = QString::fromLocal8Bit(std::strerror(put < 0 ? errno : EIO));
                return -1;
            }
            done += toff_t(put);
        }
    } else {
        if (end > toff_t(f->writeData->size())) {
            if (end > toff_t(f->writeData->capacity())) f->writeData->reserve(qsizetype(end) * 3 / 2);
            f->writeData->resize(qsizetype(end));
        }
        std::memcpy(f->writeData->data() + f->pos, buf, size_t(n));
    }
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

ImageHeader tiffHeader(Bytes in) {
    TiffStream f;
    f.readData = in.data;
    f.size = in.size;
    Handle h;
    h.tif = openTiff(f, "rm");
    ImageHeader out;
    if (!h.tif) return out;
    uint32_t w = 0, ht = 0;
    uint16_t orientation = 1, photometric = 0;
    TIFFGetField(h.tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(h.tif, TIFFTAG_IMAGELENGTH, &ht);
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(h.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    out.format = ImageFormat::TIFF;
    out.width = int(std::min<uint32_t>(w, INT32_MAX));
    out.height = int(std::min<uint32_t>(ht, INT32_MAX));
    out.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    out.gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    out.iccProfile = iccProfile(h.tif);
    return out;
}

QImage tiffDecode(Bytes in, const DecodeOptions& options, const QString& name) {
    TiffStream f;
    f.readData = in.data;
    f.size = in.size;
    Handle h;
    h.tif = openTiff(f, "rm");
    if (!h.tif) {
        log(u"%@: TIFF data is corrupt (%@)", name, f.error);
        return QImage();
    }
    uint32_t w = 0, ht = 0;
    TIFFGetField(h.tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(h.tif, TIFFTAG_IMAGELENGTH, &ht);
    if (!checkBudget(w, ht, options, name, "TIFF")) return QImage();
    char emsg[1024] = {0};
    if (!TIFFRGBAImageOK(h.tif, emsg)) {
        log(u"%@: unsupported TIFF layout (%@)", name, QString::fromLocal8Bit(emsg));
        return QImage();
    }
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, h.tif, 0, emsg)) {
        log(u"%@: TIFF data is corrupt (%@)", name, QString::fromLocal8Bit(emsg));
        return QImage();
    }
    // Keep the stored row order; the caller applies the orientation tag itself.
    img.req_orientation = img.orientation;
    QImage image = allocateImage(int(w), int(ht), QImage::Format_ARGB32_Premultiplied, name);
    bool ok = !image.isNull() &&
              TIFFRGBAImageGet(&img, reinterpret_cast<uint32_t*>(image.bits()), w, ht) && f.error.isEmpty();
    TIFFRGBAImageEnd(&img);
    // Only an RGB picture's profile describes the RGB pixels read from it.
    uint16_t photometric = 0;
    if (ok && TIFFGetField(h.tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
        (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR))
        attachProfile(image, iccProfile(h.tif));
    if (!ok) {
        if (!image.isNull()) log(u"%@: TIFF data is corrupt (%@)", name, f.error.isEmpty() ? QStringLiteral("read failed") : f.error);
        return QImage();
    }
    // libtiff packs R in the low byte (ABGR); QImage wants B there.
    for (uint32_t y = 0; y < ht; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = line[x];
            line[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
        }
    }
    return image;
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
bool writeTiff(const QImage& image, TiffStream& f) {
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
        TIFFSetField(h.tif, TIFFTAG_XRESOLUTION, 72.0);
        TIFFSetField(h.tif, TIFFTAG_YRESOLUTION, 72.0);
        TIFFSetField(h.tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        const QByteArray icc = profileToEmbed(image);
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

QByteArray tiffEncode(const QImage& source) {
    if (source.isNull()) return QByteArray();
    QByteArray out;
    out.reserve(qsizetype(source.width()) * source.height() * 3 + 4096);
    TiffStream f;
    f.writeData = &out;
    if (!writeTiff(source, f)) return QByteArray();
    out.resize(qsizetype(f.size));
    return out;
}

bool tiffWrite(const QImage& source, int fd, QString* error) {
    TiffStream f;
    f.fd = fd;
    const bool ok = !source.isNull() && writeTiff(source, f);
    if (!ok && error) *error = f.error.isEmpty() ? QStringLiteral("the image could not be encoded") : f.error;
    return ok;
}

}  // namespace platform::codec
