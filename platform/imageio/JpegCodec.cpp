// JPEG through libjpeg-turbo. Errors leave libjpeg through longjmp back into the function
// that called it, so nothing of libjpeg's error handling reaches the caller. Decoding
// writes straight into the QImage's rows (BGRA in memory is ARGB32 on little-endian),
// and reduced decoding (scale_num / scale_denom) makes thumbnails without a full decode.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "JPEG rows are decoded as BGRA into ARGB32 memory");

namespace platform::codec {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {0};
    bool truncated = false;
};

void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    // Warnings are quiet; a file that ends early is remembered so it is refused rather
    // than returned with a grey bottom.
    if (level < 0) {
        if (cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
        cinfo->err->num_warnings++;
    }
}

// Progressive files can declare thousands of scans, each costing a pass over the whole
// image; past this many the file is treated as hostile.
constexpr int kMaxScans = 300;

struct Progress {
    jpeg_progress_mgr pub;
};

void onProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) {
            cinfo->err->msg_code = JERR_BAD_SCAN_SCRIPT;
            (*cinfo->err->error_exit)(cinfo);
        }
    }
}

struct Decompressor {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Progress progress;
    QImage image;  // kept here so a longjmp never leaves it in a register
    Decompressor() {
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = onError;
        err.pub.emit_message = onMessage;
        progress.pub.progress_monitor = onProgress;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
};

int orientationFromMarkers(j_decompress_ptr cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && memcmp(m->data, "Exif\0\0", 6) == 0)
            return exifOrientation(m->data + 6, m->data_length - 6);
    }
    return 1;
}

}  // namespace

ImageHeader jpegHeader(Bytes in) {
    ImageHeader h;
    Decompressor d;
    if (setjmp(d.err.jump)) return ImageHeader{};
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, in.data, static_cast<unsigned long>(in.size));
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
    h.format = ImageFormat::JPEG;
    h.width = int(d.cinfo.image_width);
    h.height = int(d.cinfo.image_height);
    h.gray = d.cinfo.jpeg_color_space == JCS_GRAYSCALE;
    h.orientation = orientationFromMarkers(&d.cinfo);
    return h;
}

QImage jpegDecode(Bytes in, const DecodeOptions& options, const QString& name) {
    // Everything that must survive a longjmp lives outside the setjmp frame's locals.
    auto d = std::make_unique<Decompressor>();
    QImage& image = d->image;
    if (setjmp(d->err.jump)) {
        log(u"%@: JPEG data is corrupt (%@)", name, QString::fromLocal8Bit(d->err.message));
        return QImage();
    }
    jpeg_create_decompress(&d->cinfo);
    d->cinfo.progress = &d->progress.pub;
    jpeg_mem_src(&d->cinfo, in.data, static_cast<unsigned long>(in.size));
    jpeg_read_header(&d->cinfo, TRUE);
    const bool cmyk = d->cinfo.jpeg_color_space == JCS_CMYK || d->cinfo.jpeg_color_space == JCS_YCCK;
    d->cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    const int shift = reductionShift(int(d->cinfo.image_width), int(d->cinfo.image_height),
                                     options.minLongSide, 3);
    if (shift > 0) {
        d->cinfo.scale_num = 1;
        d->cinfo.scale_denom = 1u << shift;
        d->cinfo.dct_method = JDCT_IFAST;
        d->cinfo.do_fancy_upsampling = FALSE;
    }
    jpeg_calc_output_dimensions(&d->cinfo);
    if (!checkBudget(d->cinfo.output_width, d->cinfo.output_height, options, name, "JPEG")) return QImage();
    image = allocateImage(int(d->cinfo.output_width), int(d->cinfo.output_height),
                          QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();
    jpeg_start_decompress(&d->cinfo);
    const bool adobeInverted = d->cinfo.saw_Adobe_marker;
    while (d->cinfo.output_scanline < d->cinfo.output_height) {
        JSAMPROW row = image.scanLine(int(d->cinfo.output_scanline));
        if (jpeg_read_scanlines(&d->cinfo, &row, 1) != 1) break;
        if (cmyk) {
            // Same 4 bytes per pixel: convert in place to BGRA.
            for (uint32_t x = 0; x < d->cinfo.output_width; ++x) {
                uint8_t* p = row + 4 * x;
                int c = p[0], m = p[1], y = p[2], k = p[3];
                if (!adobeInverted) { c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k; }
                p[2] = uint8_t(c * k / 255);
                p[1] = uint8_t(m * k / 255);
                p[0] = uint8_t(y * k / 255);
                p[3] = 255;
            }
        }
        if (d->err.truncated) break;
    }
    if (d->err.truncated || d->cinfo.output_scanline < d->cinfo.output_height) {
        log(u"%@: JPEG data ends early; the file is truncated", name);
        return QImage();
    }
    jpeg_finish_decompress(&d->cinfo);
    return std::move(image);
}

namespace {

// Compressed bytes go straight into a QByteArray that grows as needed.
struct ByteArrayDestination {
    jpeg_destination_mgr pub;
    QByteArray* out;
    static constexpr qsizetype kChunk = 1 << 16;

    static void init(j_compress_ptr c) {
        auto* self = reinterpret_cast<ByteArrayDestination*>(c->dest);
        self->out->resize(std::max<qsizetype>(self->out->capacity(), kChunk));
        self->pub.next_output_byte = reinterpret_cast<JOCTET*>(self->out->data());
        self->pub.free_in_buffer = size_t(self->out->size());
    }
    static boolean grow(j_compress_ptr c) {
        auto* self = reinterpret_cast<ByteArrayDestination*>(c->dest);
        const qsizetype used = self->out->size();
        self->out->resize(used * 2);
        self->pub.next_output_byte = reinterpret_cast<JOCTET*>(self->out->data()) + used;
        self->pub.free_in_buffer = size_t(self->out->size() - used);
        return TRUE;
    }
    static void term(j_compress_ptr c) {
        auto* self = reinterpret_cast<ByteArrayDestination*>(c->dest);
        self->out->resize(self->out->size() - qsizetype(self->pub.free_in_buffer));
    }
};

}  // namespace

QByteArray jpegEncode(const QImage& source, double quality) {
    QImage image = source;
    const bool gray = image.format() == QImage::Format_Grayscale8;
    if (!gray && image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_RGB32 &&
        image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return QByteArray();

    struct Compressor {
        jpeg_compress_struct cinfo;
        ErrorManager err;
        ~Compressor() { jpeg_destroy_compress(&cinfo); }
    };
    auto c = std::make_unique<Compressor>();
    QByteArray out;
    out.reserve(qsizetype(image.width()) * image.height() / 4 + 4096);
    ByteArrayDestination dest;
    dest.out = &out;
    dest.pub.init_destination = ByteArrayDestination::init;
    dest.pub.empty_output_buffer = ByteArrayDestination::grow;
    dest.pub.term_destination = ByteArrayDestination::term;

    c->cinfo.err = jpeg_std_error(&c->err.pub);
    c->err.pub.error_exit = onError;
    c->err.pub.emit_message = onMessage;
    if (setjmp(c->err.jump)) {
        log(u"JPEG encoding failed (%@)", QString::fromLocal8Bit(c->err.message));
        return QByteArray();
    }
    jpeg_create_compress(&c->cinfo);
    c->cinfo.dest = &dest.pub;
    c->cinfo.image_width = JDIMENSION(image.width());
    c->cinfo.image_height = JDIMENSION(image.height());
    c->cinfo.input_components = gray ? 1 : 4;
    c->cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGRX;
    jpeg_set_defaults(&c->cinfo);
    const int q = std::clamp(int(std::lround(quality * 100.0)), 1, 100);
    jpeg_set_quality(&c->cinfo, q, TRUE);
    jpeg_start_compress(&c->cinfo, TRUE);
    while (c->cinfo.next_scanline < c->cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(image.constScanLine(int(c->cinfo.next_scanline)));
        jpeg_write_scanlines(&c->cinfo, &row, 1);
    }
    jpeg_finish_compress(&c->cinfo);
    return out;
}

}  // namespace platform::codec
