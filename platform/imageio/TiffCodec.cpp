// TIFF through libtiff, reading and writing in memory. libtiff's messages are routed
// per handle so a bad file leaves one log line from us and nothing on the console.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <cstdarg>
#include <cstring>
#include <tiffio.h>
#include <vector>

namespace platform::codec {
namespace {

struct MemoryFile {
    const uint8_t* readData = nullptr;  // reading: the caller's bytes
    QByteArray* writeData = nullptr;    // writing: grows as libtiff writes
    toff_t size = 0;
    toff_t pos = 0;
    QString error;
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (n < 0 || f->pos >= f->size) return 0;
    const toff_t count = std::min<toff_t>(toff_t(n), f->size - f->pos);
    const uint8_t* src = f->readData ? f->readData : reinterpret_cast<const uint8_t*>(f->writeData->constData());
    std::memcpy(buf, src + f->pos, count);
    f->pos += count;
    return tmsize_t(count);
}
tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (!f->writeData || n < 0) return -1;
    const toff_t end = f->pos + toff_t(n);
    if (end > toff_t(f->writeData->size())) {
        if (end > toff_t(f->writeData->capacity())) f->writeData->reserve(qsizetype(end) * 3 / 2);
        f->writeData->resize(qsizetype(end));
    }
    std::memcpy(f->writeData->data() + f->pos, buf, size_t(n));
    f->pos = end;
    f->size = std::max(f->size, end);
    return n;
}
toff_t memSeek(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : f->size;
    f->pos = base + off;
    return f->pos;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<MemoryFile*>(h)->size; }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* f = static_cast<MemoryFile*>(user);
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

TIFF* openTiff(MemoryFile& f, const char* mode) {
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

}  // namespace

ImageHeader tiffHeader(Bytes in) {
    MemoryFile f;
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
    return out;
}

QImage tiffDecode(Bytes in, const DecodeOptions& options, const QString& name) {
    MemoryFile f;
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

QByteArray tiffEncode(const QImage& source) {
    const bool gray = source.format() == QImage::Format_Grayscale8;
    QImage image = gray || source.format() == QImage::Format_ARGB32_Premultiplied || source.format() == QImage::Format_RGB32
                       ? source
                       : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return QByteArray();
    const bool opaque = gray || isOpaque(image);
    const int samples = gray ? 1 : opaque ? 3 : 4;
    QByteArray out;
    out.reserve(qsizetype(image.width()) * image.height() * samples + 4096);
    MemoryFile f;
    f.writeData = &out;
    Handle h;
    h.tif = openTiff(f, "w");
    if (!h.tif) return QByteArray();
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
    if (samples == 4) {
        // Our pixels are premultiplied, which is exactly TIFF's associated alpha.
        uint16_t extra = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(h.tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    TIFFSetField(h.tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(h.tif, 0));
    std::vector<uint8_t> row(size_t(image.width()) * samples);
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* src = image.constScanLine(y);
        const int width = image.width();
        uint8_t* dst = row.data();
        if (gray) {
            std::memcpy(dst, src, row.size());
        } else if (samples == 3) {
            for (int x = 0; x < width; ++x, src += 4, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        } else {
            // BGRA words to RGBA: swap the red and blue bytes of each pixel.
            const auto* in = reinterpret_cast<const uint32_t*>(src);
            auto* out = reinterpret_cast<uint32_t*>(dst);
            for (int x = 0; x < width; ++x) {
                const uint32_t p = in[x];
                out[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
            }
        }
        if (TIFFWriteScanline(h.tif, row.data(), uint32_t(y), 0) < 0) {
            log(u"TIFF encoding failed (%@)", f.error);
            return QByteArray();
        }
    }
    if (!TIFFWriteDirectory(h.tif)) {
        log(u"TIFF encoding failed (%@)", f.error);
        return QByteArray();
    }
    TIFFClose(h.tif);
    h.tif = nullptr;
    out.resize(qsizetype(f.size));
    return out;
}

}  // namespace platform::codec
