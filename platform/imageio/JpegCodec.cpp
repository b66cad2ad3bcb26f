// JPEG through libjpeg-turbo. Errors leave libjpeg through longjmp back into the function
// that called it, so nothing of libjpeg's error handling reaches the caller. Decoding
// writes straight into the QImage's rows (BGRA in memory is ARGB32 on little-endian),
// and reduced decoding (scale_num / scale_denom) makes thumbnails without a full decode.
// JpegRowSource (at the end) is the full decode handing out its rows a few at a time.
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/RowStreams.h"
#include "platform/foundation/Log.h"
#include "platform/coreimage/Parallel.h"

#include <QColorSpace>
#include <QtEndian>
#include <algorithm>
#include <csetjmp>
#include <new>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>
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

// Warnings that mean the picture data itself is damaged: libjpeg goes on and fills the
// rest with whatever it decodes next, which shows as coloured bands.
bool damagesPixels(int code) {
    return code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_ARITH_BAD_CODE ||
           code == JWRN_MUST_RESYNC;
}

void onMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    // Warnings are quiet; a file that ends early is remembered so it is refused rather
    // than returned with a grey bottom, and damaged picture data stops the decoding.
    // Others (stray bytes before a marker, an odd JFIF version) leave the pixels intact.
    if (level < 0) {
        if (cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
        cinfo->err->num_warnings++;
        if (damagesPixels(cinfo->err->msg_code)) onError(cinfo);
    }
}

// libjpeg keeps every coefficient of a progressive or multi-scan file however small the
// decoded picture: this is what it may use for them (its memory manager refuses more,
// with an error, rather than swapping). A full decode may use what its pixels may; a
// reduced one (thumbnails, read-back checks) no more than this.
constexpr long kReducedDecodeMemory = 256L << 20;

long decoderMemoryLimit(const DecodeOptions& options, bool reduced) {
    const int64_t full = std::clamp<int64_t>(options.pixelBudget, 1, int64_t(1) << 40) * 4;
    return long(reduced ? std::min<int64_t>(full, kReducedDecodeMemory) : full);
}

// Below this many pixels a reduced decode is quick enough on one thread.
constexpr int64_t kBandedDecodePixels = 2'000'000;

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
    QByteArray icc;  // and so is this, which a longjmp must not skip destroying
    Decompressor() {
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = onError;
        err.pub.emit_message = onMessage;
        progress.pub.progress_monitor = onProgress;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
};

// What stopped a decode, said once.
void logDecodeError(const ErrorManager& err, const QString& name) {
    if (err.pub.msg_code == JERR_NO_BACKING_STORE)
        log(u"%@: this JPEG needs more memory to decode than this program allows; refused", name);
    else
        log(u"%@: JPEG data is corrupt (%@)", name, QString::fromLocal8Bit(err.message));
}

// Codings of JPEG that libjpeg-turbo refuses as codings it lacks, not as damage: samples
// of other than 8 bits, the lossless and hierarchical processes, colour layouts it has no
// conversion for.
bool lacksCoding(int code) {
    return code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED || code == JERR_NOT_COMPILED ||
           code == JERR_ARITH_NOTIMPL || code == JERR_CONVERSION_NOTIMPL || code == JERR_CCIR601_NOTIMPL;
}

// The words a photo's status gives such a coding.
QString lackedCoding(const jpeg_decompress_struct& cinfo, int code) {
    if (code == JERR_BAD_PRECISION)
        return QStringLiteral("JPEG photos of %1-bit samples cannot be read by this program").arg(cinfo.data_precision);
    if (code == JERR_SOF_UNSUPPORTED)
        return QStringLiteral("lossless and hierarchical JPEG photos cannot be read by this program");
    return QStringLiteral("the picture in this JPEG file is coded in a way this program cannot read");
}

ColourModel colourModelOf(J_COLOR_SPACE space) {
    if (space == JCS_GRAYSCALE) return ColourModel::Gray;
    if (space == JCS_CMYK || space == JCS_YCCK) return ColourModel::CMYK;
    return ColourModel::RGB;
}

int orientationFromMarkers(j_decompress_ptr cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && memcmp(m->data, "Exif\0\0", 6) == 0)
            return exifOrientation(m->data + 6, m->data_length - 6);
    }
    return 1;
}

// The profile an image's APP2 markers carry in pieces; empty when they are missing or
// do not fit together.
QByteArray iccProfileFromMarkers(j_decompress_ptr cinfo) {
    JOCTET* data = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(cinfo, &data, &length) || !data) return QByteArray();
    QByteArray out(reinterpret_cast<const char*>(data), qsizetype(length));
    std::free(data);
    return out;
}

}  // namespace

namespace {

ColourModel colourModelOfComponents(int components) {
    return components == 1 ? ColourModel::Gray : components == 4 ? ColourModel::CMYK : ColourModel::RGB;
}

// The header of a file whose coding libjpeg lacks (it stopped at the frame header or just
// after it): the size and components the frame header gives, read where libjpeg stopped.
ImageFacts factsOfLackedCoding(j_decompress_ptr cinfo, int code) {
    ImageFacts facts;
    int width = int(cinfo->image_width), height = int(cinfo->image_height), components = cinfo->num_components;
    int precision = cinfo->data_precision;
    if (code == JERR_SOF_UNSUPPORTED) {
        // Raised at the frame marker itself: its segment (length, precision, height, width,
        // components) is next in the source.
        const JOCTET* p = cinfo->src->next_input_byte;
        if (!p || cinfo->src->bytes_in_buffer < 8) return facts;
        precision = p[2];
        height = (p[3] << 8) | p[4];
        width = (p[5] << 8) | p[6];
        components = p[7];
    } else if (code != JERR_BAD_PRECISION) {
        return facts;
    }
    if (width <= 0 || height <= 0 || components <= 0) return facts;
    facts.header.format = ImageFormat::JPEG;
    facts.header.width = width;
    facts.header.height = height;
    facts.header.colourModel = colourModelOfComponents(components);
    facts.header.orientation = orientationFromMarkers(cinfo);
    facts.depth = precision;
    facts.hasAlpha = false;
    return facts;
}

}  // namespace

ImageFacts jpegFacts(Bytes in) {
    auto d = std::make_unique<Decompressor>();
    if (setjmp(d->err.jump)) return factsOfLackedCoding(&d->cinfo, d->err.pub.msg_code);
    jpeg_create_decompress(&d->cinfo);
    jpeg_mem_src(&d->cinfo, in.data, static_cast<unsigned long>(in.size));
    jpeg_save_markers(&d->cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d->cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d->cinfo, TRUE);
    const jpeg_decompress_struct& c = d->cinfo;
    ImageFacts facts;
    ImageHeader& h = facts.header;
    h.format = ImageFormat::JPEG;
    h.width = int(c.image_width);
    h.height = int(c.image_height);
    h.colourModel = colourModelOf(c.jpeg_color_space);
    h.orientation = orientationFromMarkers(&d->cinfo);
    h.iccProfile = iccProfileFromMarkers(&d->cinfo);
    facts.depth = c.data_precision;
    facts.hasAlpha = false;
    if (c.saw_JFIF_marker) {
        facts.jfif.insert(QStringLiteral("JFIFVersion"),
                          QVariantList{int(c.JFIF_major_version), c.JFIF_minor_version / 10, c.JFIF_minor_version % 10});
        facts.jfif.insert(QStringLiteral("DensityUnit"), int(c.density_unit));
        facts.jfif.insert(QStringLiteral("XDensity"), int(c.X_density));
        facts.jfif.insert(QStringLiteral("YDensity"), int(c.Y_density));
        // Unit 1 is dots per inch, 2 dots per centimetre.
        if ((c.density_unit == 1 || c.density_unit == 2) && c.X_density > 0 && c.Y_density > 0) {
            const double perInch = c.density_unit == 2 ? 2.54 : 1.0;
            facts.dotsPerInch = QPointF(c.X_density * perInch, c.Y_density * perInch);
        }
    }
    if (c.saw_JFIF_marker || c.progressive_mode) facts.jfif.insert(QStringLiteral("IsProgressive"), bool(c.progressive_mode));
    return facts;
}

namespace {

// ---- reduced decoding in parallel bands ----
//
// A baseline JPEG whose entropy data is cut by restart markers (most cameras write them)
// can be decoded in independent bands of MCU rows: each band is given the file's headers,
// its own height and its share of the entropy data (restart markers renumbered from 0),
// and the bands are decoded at once on several threads. Only reduced decodes take this
// road, where the entropy decoding is nearly all the work; the result is the same pixels
// as one sequential reduced decode (no fancy upsampling, no block smoothing).

struct ScanLayout {
    size_t sofHeightAt = 0;    // offset of the frame header's height field
    size_t entropyStart = 0;   // first byte after the SOS segment
    size_t entropyEnd = 0;     // the marker that ends the scan
    std::vector<size_t> restarts;  // offset of each RST marker's 0xFF
    int width = 0, height = 0, maxH = 1, maxV = 1, restartInterval = 0;
};

uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

// Decoding at 1/2^shift of the size. For thumbnails: the fast transform, no fancy
// upsampling, no block smoothing. For output: the accurate transform, and fancy upsampling
// on, which lets the library decode the colour planes at a larger transform size instead
// of replicating their pixels (and so needs no upsampling at all at a half or less).
void decodeReduced(jpeg_decompress_struct& cinfo, int shift, bool forOutput) {
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1u << shift;
    cinfo.dct_method = forOutput ? JDCT_ISLOW : JDCT_IFAST;
    cinfo.do_fancy_upsampling = forOutput ? TRUE : FALSE;
    cinfo.do_block_smoothing = FALSE;
}

bool parseScanLayout(Bytes in, ScanLayout& out) {
    const uint8_t* d = in.data;
    const size_t n = in.size;
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t pos = 2;
    bool sawFrame = false;
    int components = 0;
    for (;;) {
        while (pos < n && d[pos] == 0xFF && pos + 1 < n && d[pos + 1] == 0xFF) ++pos;  // fill bytes
        if (pos + 4 > n || d[pos] != 0xFF) return false;
        const uint8_t marker = d[pos + 1];
        const size_t len = be16(d + pos + 2);
        if (len < 2 || pos + 2 + len > n) return false;
        const uint8_t* seg = d + pos + 4;
        if (marker == 0xC0 || marker == 0xC1) {
            if (len < 8) return false;
            out.sofHeightAt = pos + 5;
            out.height = be16(seg + 1);
            out.width = be16(seg + 3);
            components = seg[5];
            if ((components != 1 && components != 3) || len < size_t(8 + 3 * components)) return false;
            for (int c = 0; c < components; ++c) {
                out.maxH = std::max(out.maxH, seg[6 + 3 * c + 1] >> 4);
                out.maxV = std::max(out.maxV, seg[6 + 3 * c + 1] & 15);
            }
            sawFrame = true;
        } else if ((marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC) || marker == 0xDC) {
            return false;  // progressive, lossless, arithmetic or height-later files
        } else if (marker == 0xDD) {
            out.restartInterval = be16(seg);
        } else if (marker == 0xDA) {
            if (!sawFrame || seg[0] != components) return false;  // one interleaved scan only
            out.entropyStart = pos + 2 + len;
            break;
        }
        pos += 2 + len;
    }
    if (out.restartInterval <= 0 || out.width <= 0 || out.height <= 0 || out.maxH > 4 || out.maxV > 4) return false;
    for (size_t i = out.entropyStart; i + 1 < n; ++i) {
        const void* ff = std::memchr(d + i, 0xFF, n - 1 - i);
        if (!ff) break;
        i = size_t(static_cast<const uint8_t*>(ff) - d);
        const uint8_t m = d[i + 1];
        if (m == 0x00 || m == 0xFF) continue;
        if (m >= 0xD0 && m <= 0xD7) {
            out.restarts.push_back(i);
            ++i;
            continue;
        }
        out.entropyEnd = i;
        return m == 0xD9;  // a second scan or anything else: not for this road
    }
    return false;
}

}  // namespace

static QImage jpegDecodeBands(Bytes in, int shift, const DecodeOptions& options, const QString& name) {
    ScanLayout L;
    if (shift <= 0 || !parseScanLayout(in, L)) return QImage();
    const int mcuW = 8 * L.maxH, mcuH = 8 * L.maxV;
    const int64_t mcusPerRow = (L.width + mcuW - 1) / mcuW, mcuRows = (L.height + mcuH - 1) / mcuH;
    const int64_t intervals = (mcusPerRow * mcuRows + L.restartInterval - 1) / L.restartInterval;
    if (int64_t(L.restarts.size()) != intervals - 1) return QImage();
    // Bands start where an MCU row and a restart interval start together.
    const int64_t rowsPerUnit = std::lcm(mcusPerRow, int64_t(L.restartInterval)) / mcusPerRow;
    const int64_t units = mcuRows / rowsPerUnit;
    // A band for each thread that may decode one: the kernels' shared workers (sized by the
    // CPUs the process may use), or as many as the caller allows. The pixels do not depend
    // on the count.
    const int threads = options.decoderThreads > 0 ? std::min(options.decoderThreads, threadCount()) : threadCount();
    const int bands = int(std::min<int64_t>(threads, units));
    if (bands < 2) return QImage();
    const int outW = (L.width + (1 << shift) - 1) >> shift, outH = (L.height + (1 << shift) - 1) >> shift;
    if (!checkBudget(outW, outH, options, name, "JPEG")) return QImage();
    QImage image = allocateImage(outW, outH, QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();

    std::vector<char> ok(size_t(bands), 0);
    auto decodeBand = [&](int b) {
        const int64_t firstRow = (units * b / bands) * rowsPerUnit;
        const int64_t endRow = b + 1 == bands ? mcuRows : (units * (b + 1) / bands) * rowsPerUnit;
        const int64_t firstInterval = firstRow * mcusPerRow / L.restartInterval;
        const int64_t endInterval = b + 1 == bands ? intervals : endRow * mcusPerRow / L.restartInterval;
        const size_t from = firstInterval == 0 ? L.entropyStart : L.restarts[size_t(firstInterval - 1)] + 2;
        const size_t to = endInterval == intervals ? L.entropyEnd : L.restarts[size_t(endInterval - 1)];
        const int bandHeight = int(std::min<int64_t>(L.height, endRow * mcuH) - firstRow * mcuH);

        std::vector<uint8_t> buf;
        buf.reserve(L.entropyStart + (to - from) + 2);
        buf.insert(buf.end(), in.data, in.data + L.entropyStart);
        buf[L.sofHeightAt] = uint8_t(bandHeight >> 8);
        buf[L.sofHeightAt + 1] = uint8_t(bandHeight & 0xFF);
        const size_t base = buf.size();
        buf.insert(buf.end(), in.data + from, in.data + to);
        int sequence = 0;
        for (int64_t r = firstInterval; r + 1 < endInterval; ++r)
            buf[base + (L.restarts[size_t(r)] - from) + 1] = uint8_t(0xD0 + (sequence++ & 7));
        buf.push_back(0xFF);
        buf.push_back(0xD9);

        auto d = std::make_unique<Decompressor>();
        if (setjmp(d->err.jump)) return;
        jpeg_create_decompress(&d->cinfo);
        d->cinfo.mem->max_memory_to_use = decoderMemoryLimit(options, true);
        jpeg_mem_src(&d->cinfo, buf.data(), static_cast<unsigned long>(buf.size()));
        jpeg_read_header(&d->cinfo, TRUE);
        d->cinfo.out_color_space = JCS_EXT_BGRA;
        decodeReduced(d->cinfo, shift, options.reducedForOutput);
        jpeg_start_decompress(&d->cinfo);
        const int rowOffset = int((firstRow * mcuH) >> shift);
        if (int(d->cinfo.output_width) != outW || rowOffset + int(d->cinfo.output_height) > outH) return;
        while (d->cinfo.output_scanline < d->cinfo.output_height) {
            JSAMPROW row = image.scanLine(rowOffset + int(d->cinfo.output_scanline));
            if (jpeg_read_scanlines(&d->cinfo, &row, 1) != 1 || d->err.truncated) return;
        }
        jpeg_finish_decompress(&d->cinfo);
        ok[size_t(b)] = !d->err.truncated && d->err.pub.num_warnings == 0;
    };
    // Each band is a whole decode: worth a thread of its own whatever its size.
    parallelFor(0, bands, [&](int first, int last) {
        for (int b = first; b < last; ++b) decodeBand(b);
    }, double(outW) * outH);
    for (char good : ok)
        if (!good) return QImage();  // the sequential decoder will say what is wrong
    return image;
}

QImage jpegDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    // Everything that must survive a longjmp lives outside the setjmp frame's locals.
    auto d = std::make_unique<Decompressor>();
    QImage& image = d->image;
    if (setjmp(d->err.jump)) {
        logDecodeError(d->err, name);
        const int code = d->err.pub.msg_code;
        if (code == JERR_NO_BACKING_STORE) return decodeFailed(why, DecodeFailure::OverBudget);
        if (lacksCoding(code)) return decodeFailed(why, DecodeFailure::Unsupported, lackedCoding(d->cinfo, code));
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    jpeg_create_decompress(&d->cinfo);
    d->cinfo.progress = &d->progress.pub;
    jpeg_mem_src(&d->cinfo, in.data, static_cast<unsigned long>(in.size));
    jpeg_save_markers(&d->cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d->cinfo, TRUE);
    const bool cmyk = d->cinfo.jpeg_color_space == JCS_CMYK || d->cinfo.jpeg_color_space == JCS_YCCK;
    d->cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    const int shift = reductionShift(int(d->cinfo.image_width), int(d->cinfo.image_height),
                                     options.minLongSide, 3);
    // Decoder threads 0: the caller decodes several photos at once, each on its own thread.
    if (shift > 0 && options.decoderThreads != 0 &&
        int64_t(d->cinfo.image_width) * d->cinfo.image_height >= kBandedDecodePixels &&
        d->cinfo.jpeg_color_space != JCS_CMYK && d->cinfo.jpeg_color_space != JCS_YCCK) {
        QImage banded = jpegDecodeBands(in, shift, options, name);
        if (!banded.isNull()) {
            d->icc = iccProfileFromMarkers(&d->cinfo);
            attachProfile(banded, d->icc, colourModelOf(d->cinfo.jpeg_color_space), name);
            return banded;
        }
    }
    if (shift > 0) decodeReduced(d->cinfo, shift, options.reducedForOutput);
    d->cinfo.mem->max_memory_to_use = decoderMemoryLimit(options, shift > 0);
    jpeg_calc_output_dimensions(&d->cinfo);
    if (!checkBudget(d->cinfo.output_width, d->cinfo.output_height, options, name, "JPEG", why)) return QImage();
    image = allocateImage(int(d->cinfo.output_width), int(d->cinfo.output_height),
                          QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();
    // The decoder reads its source only forwards: a progressive or multi-scan file is read
    // whole into its coefficients by jpeg_start_decompress, a single-scan one as its rows
    // come out. What it has read of a mapped file can leave memory before the pixels fill it.
    ConsumedPages pages(in);
    jpeg_start_decompress(&d->cinfo);
    pages.reached(d->cinfo.src->next_input_byte);
    const bool adobeInverted = d->cinfo.saw_Adobe_marker;
    while (d->cinfo.output_scanline < d->cinfo.output_height) {
        JSAMPROW row = image.scanLine(int(d->cinfo.output_scanline));
        if (jpeg_read_scanlines(&d->cinfo, &row, 1) != 1) break;
        if (d->err.truncated) break;
        pages.reached(d->cinfo.src->next_input_byte);
    }
    if (d->err.truncated || d->cinfo.output_scanline < d->cinfo.output_height) {
        log(u"%@: JPEG data ends early; the file is truncated", name);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    d->icc = iccProfileFromMarkers(&d->cinfo);
    jpeg_finish_decompress(&d->cinfo);
    // CMYK rows hold their four inks in each pixel's four bytes until they are converted.
    if (cmyk)
        convertCmykToSrgb(image, d->icc, adobeInverted, name);
    else
        attachProfile(image, d->icc, colourModelOf(d->cinfo.jpeg_color_space), name);
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

QByteArray jpegEncodeRows(const uchar* firstRow, qsizetype bytesPerLine, int width, int rows, JpegSamples samples,
                          const QByteArray& icc, int quality, unsigned restartInterval) {
    struct Compressor {
        jpeg_compress_struct cinfo;
        ErrorManager err;
        ~Compressor() { jpeg_destroy_compress(&cinfo); }
    };
    auto c = std::make_unique<Compressor>();
    QByteArray out;
    out.reserve(qsizetype(width) * rows / 4 + 4096);
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
        if (c->err.pub.msg_code == JERR_OUT_OF_MEMORY) throw std::bad_alloc();
        return QByteArray();
    }
    jpeg_create_compress(&c->cinfo);
    c->cinfo.dest = &dest.pub;
    c->cinfo.image_width = JDIMENSION(width);
    c->cinfo.image_height = JDIMENSION(rows);
    const bool grayBytes = samples == JpegSamples::Gray, rgbBytes = samples == JpegSamples::Rgb;
    c->cinfo.input_components = grayBytes ? 1 : rgbBytes ? 3 : 4;
    c->cinfo.in_color_space = grayBytes ? JCS_GRAYSCALE : rgbBytes ? JCS_RGB : JCS_EXT_BGRX;
    jpeg_set_defaults(&c->cinfo);
    // libjpeg's brightness of equal channels is their value (its weights sum to exactly one
    // in its fixed point), so grey words give the grey bytes' file.
    if (samples == JpegSamples::GrayWords) jpeg_set_colorspace(&c->cinfo, JCS_GRAYSCALE);
    jpeg_set_quality(&c->cinfo, quality, TRUE);
    c->cinfo.restart_interval = restartInterval;
    jpeg_start_compress(&c->cinfo, TRUE);
    if (!icc.isEmpty())
        jpeg_write_icc_profile(&c->cinfo, reinterpret_cast<const JOCTET*>(icc.constData()), unsigned(icc.size()));
    while (c->cinfo.next_scanline < c->cinfo.image_height) {
        JSAMPROW row = const_cast<uchar*>(firstRow + qsizetype(c->cinfo.next_scanline) * bytesPerLine);
        jpeg_write_scanlines(&c->cinfo, &row, 1);
    }
    jpeg_finish_compress(&c->cinfo);
    return out;
}

QByteArray jpegEncodeRows(const QImage& image, int firstRow, int rows, const QByteArray& icc, int quality,
                          unsigned restartInterval) {
    return jpegEncodeRows(image.constScanLine(firstRow), image.bytesPerLine(), image.width(), rows,
                          image.format() == QImage::Format_Grayscale8 ? JpegSamples::Gray : JpegSamples::Colour, icc,
                          quality, restartInterval);
}

namespace {

// Where the entropy-coded data of a whole JPEG made by jpegEncodeRows starts (after its SOS
// segment), and where its SOF0 segment's height lies; 0 when not found.
struct Layout {
    size_t entropy = 0, sofHeight = 0;
};
Layout layoutOf(const QByteArray& jpeg) {
    const auto* p = reinterpret_cast<const uint8_t*>(jpeg.constData());
    const size_t n = size_t(jpeg.size());
    Layout l;
    size_t i = 2;  // after SOI
    while (i + 4 <= n && p[i] == 0xFF) {
        const uint8_t marker = p[i + 1];
        const size_t length = (size_t(p[i + 2]) << 8) | p[i + 3];
        if (marker == 0xC0 && i + 9 <= n) l.sofHeight = i + 5;
        if (marker == 0xDA) {
            l.entropy = i + 2 + length;
            break;
        }
        i += 2 + length;
    }
    return l;
}

// Pictures from this many pixels are encoded in bands on several cores, of about this many.
constexpr int64_t kBandedEncodePixels = 2'000'000;
constexpr int64_t kBandPixels = 1'000'000;

}  // namespace

int jpegQuality(double quality) { return std::clamp(int(std::lround(quality * 100.0)), 1, 100); }

JpegBands::JpegBands(int width, int height, JpegSamples samples)
    : width_(width), height_(height), samples_(samples), rowsPerBand_(std::max(1, height)) {
    // libjpeg's default sampling: grey 8 x 8 MCUs, colour 16 x 16 (4:2:0).
    const int mcu = samples == JpegSamples::Colour || samples == JpegSamples::Rgb ? 16 : 8;
    const int64_t mcusPerRow = (int64_t(width) + mcu - 1) / mcu, mcuRows = (int64_t(height) + mcu - 1) / mcu;
    if (width <= 0 || height <= 0) return;
    // Bands of about a megapixel, whatever the number of cores, so the file is the same on
    // every machine; a restart interval counts at most 65,535 MCUs.
    const int64_t most = std::max<int64_t>(1, 65535 / mcusPerRow);
    const int64_t bandMcuRows = std::min(most, std::max<int64_t>(4, kBandPixels / (int64_t(width) * mcu)));
    const int bands = int((mcuRows + bandMcuRows - 1) / bandMcuRows);
    if (int64_t(width) * height < kBandedEncodePixels || bands < 2) return;  // one encoder, no restarts
    count_ = bands;
    rowsPerBand_ = int(bandMcuRows * mcu);
    interval_ = unsigned(bandMcuRows * mcusPerRow);
}

int JpegBands::readyBands(int rowsDone) const {
    if (rowsDone >= height_) return count_;
    return std::max(0, rowsDone) / rowsPerBand_;
}

QByteArray JpegBands::encode(int band, const uchar* base, qsizetype bytesPerLine, const QByteArray& icc,
                             int quality) const {
    const int y = firstRow(band);
    return jpegEncodeRows(base + qsizetype(y) * bytesPerLine, bytesPerLine, width_, endRow(band) - y, samples_,
                          band == 0 ? icc : QByteArray(), quality, interval_);
}

bool JpegBands::send(std::vector<QByteArray>& pieces, const PngSink& out) const {
    if (int(pieces.size()) != count_) return false;
    QByteArray first = std::move(pieces[0]);
    if (count_ == 1) return !first.isEmpty() && out(first.constData(), size_t(first.size()));
    const Layout layout = layoutOf(first);
    if (first.size() < 4 || layout.sofHeight == 0 || layout.entropy == 0) return false;
    first[qsizetype(layout.sofHeight)] = char(height_ >> 8);
    first[qsizetype(layout.sofHeight + 1)] = char(height_ & 0xFF);
    if (!out(first.constData(), size_t(first.size() - 2))) return false;  // without its EOI
    first = QByteArray();
    for (int b = 1; b < count_; ++b) {
        const QByteArray piece = std::move(pieces[size_t(b)]);
        const Layout l = layoutOf(piece);
        if (piece.isNull() || l.entropy == 0 || qsizetype(l.entropy) + 2 > piece.size()) return false;
        const char restart[2] = {char(0xFF), char(0xD0 + ((b - 1) & 7))};
        if (!out(restart, 2) || !out(piece.constData() + l.entropy, size_t(piece.size() - qsizetype(l.entropy) - 2)))
            return false;
    }
    const char end[2] = {char(0xFF), char(0xD9)};
    return out(end, 2);
}

QByteArray JpegBands::join(std::vector<QByteArray>& pieces) const {
    if (count_ == 1 && pieces.size() == 1) return std::move(pieces[0]);
    qsizetype total = 0;
    for (const QByteArray& piece : pieces) total += piece.size();
    QByteArray file;
    file.reserve(total);
    return send(pieces, appendTo(file)) ? file : QByteArray();
}

// A large picture is cut into bands of whole MCU rows, one restart interval each, encoded
// at once on the shared workers and joined with restart markers between them: the bytes a
// single encoder gives with that restart interval (each interval starts its DC predictions
// afresh and ends on a whole byte, which is what lets the bands be made apart), and the
// same pixels as without restarts. A decoder can then also read the bands apart.
QByteArray jpegEncode(const QImage& source, const QByteArray& icc, double quality) {
    QImage image = source;
    const bool gray = image.format() == QImage::Format_Grayscale8;
    if (!gray && image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_RGB32 &&
        image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        if (!source.isNull()) throw std::bad_alloc();  // Qt says a shortage with a null picture
        return QByteArray();
    }
    const int q = jpegQuality(quality);
    const JpegBands bands(image.width(), image.height(), gray ? JpegSamples::Gray : JpegSamples::Colour);
    const uchar* base = image.constBits();
    std::vector<QByteArray> pieces(static_cast<size_t>(bands.count()));
    platform::parallelFor(0, bands.count(), [&](int first, int last) {
        for (int b = first; b < last; ++b) pieces[size_t(b)] = bands.encode(b, base, image.bytesPerLine(), icc, q);
    }, double(bands.rowsPerBand()) * image.width() * 4);
    return bands.join(pieces);
}

}  // namespace platform::codec

namespace platform {

using codec::Bytes;

// Set up as jpegDecode's full decode is, so that the rows are its pixels: the same
// transform and upsampling, the same limits, damaged data and early ends refused. Every
// call into libjpeg arms its own setjmp; what a longjmp must find intact lives here.
struct JpegRowSource::State {
    QString name;
    std::unique_ptr<codec::FileBytes> file;
    codec::Decompressor d;
    std::optional<codec::ConsumedPages> pages;
    int64_t pixelBudget = kDefaultPixelBudget;
    int width = 0, height = 0;
    int rows = 0;  // read so far
    bool started = false, finished = false, failed = false;
    bool rgbBytes = false;  // rows handed out as R, G, B bytes
};

JpegRowSource::JpegRowSource(const QString& path, const DecodeOptions& options)
    : JpegRowSource(codec::openFileBytes(path, options), path, options) {}

JpegRowSource::JpegRowSource(std::unique_ptr<codec::FileBytes> file, const QString& path, const DecodeOptions& options)
    : s_(std::make_unique<State>()) {
    State& s = *s_;
    s.name = path;
    s.file = std::move(file);
    s.pixelBudget = options.pixelBudget;
    s.failed = true;  // until the header is read
    if (setjmp(s.d.err.jump)) {
        codec::logDecodeError(s.d.err, s.name);
        header_ = ImageHeader{};
        refused_ = RowsRefused::Unreadable;
        return;
    }
    jpeg_create_decompress(&s.d.cinfo);
    if (!s.file) return;
    const Bytes in = s.file->bytes;
    s.pages.emplace(in);
    s.d.cinfo.progress = &s.d.progress.pub;
    jpeg_mem_src(&s.d.cinfo, in.data, static_cast<unsigned long>(in.size));
    jpeg_save_markers(&s.d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&s.d.cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&s.d.cinfo, TRUE);
    // What jpegFacts reads, from this one reading of the header.
    header_.format = ImageFormat::JPEG;
    header_.width = int(s.d.cinfo.image_width);
    header_.height = int(s.d.cinfo.image_height);
    header_.colourModel = codec::colourModelOf(s.d.cinfo.jpeg_color_space);
    header_.orientation = codec::orientationFromMarkers(&s.d.cinfo);
    header_.iccProfile = codec::iccProfileFromMarkers(&s.d.cinfo);
    s.d.cinfo.out_color_space = JCS_EXT_BGRA;
    const ColourModel model = header_.colourModel;
    if (s.file->cut()) return;
    if ((model != ColourModel::RGB && model != ColourModel::Gray) ||
        codec::profileAppliedWhileReading(header_.iccProfile, model)) {
        refused_ = RowsRefused::Converted;
        return;
    }
    s.failed = false;
    refused_ = RowsRefused::None;
    reduceTo(options);
}

JpegRowSource::~JpegRowSource() = default;

bool JpegRowSource::reduceTo(const DecodeOptions& asked) {
    State& s = *s_;
    if (refused_ != RowsRefused::None || s.started) return false;
    if (setjmp(s.d.err.jump)) {
        codec::logDecodeError(s.d.err, s.name);
        s.failed = true;
        return false;
    }
    DecodeOptions options = asked;
    options.pixelBudget = s.pixelBudget;
    // The reduction jpegDecode chooses for these options (its bands give the same pixels
    // as this one sequential decode).
    const int shift = codec::reductionShift(header_.width, header_.height, options.minLongSide, 3);
    jpeg_decompress_struct& cinfo = s.d.cinfo;
    if (shift > 0) {
        codec::decodeReduced(cinfo, shift, options.reducedForOutput);
    } else {  // libjpeg's own settings for a full decode, as jpeg_read_header left them
        cinfo.scale_num = cinfo.scale_denom = 1;
        cinfo.dct_method = JDCT_ISLOW;
        cinfo.do_fancy_upsampling = TRUE;
        cinfo.do_block_smoothing = TRUE;
    }
    cinfo.mem->max_memory_to_use = codec::decoderMemoryLimit(options, shift > 0);
    jpeg_calc_output_dimensions(&cinfo);
    s.width = int(cinfo.output_width);
    s.height = int(cinfo.output_height);
    if (!codec::checkBudget(s.width, s.height, options, s.name, "JPEG")) {
        refused_ = RowsRefused::TooLarge;
        s.failed = true;
        return false;
    }
    return true;
}

bool JpegRowSource::rowsAsRgbBytes() {
    State& s = *s_;
    if (refused_ != RowsRefused::None || s.started || s.failed || header_.gray()) return false;
    // libjpeg turns the colours into any layout by the same arithmetic.
    s.d.cinfo.out_color_space = JCS_RGB;
    s.rgbBytes = true;
    return true;
}

int JpegRowSource::width() const { return s_->width; }
int JpegRowSource::height() const { return s_->height; }
int JpegRowSource::rowsRead() const { return s_->rows; }
bool JpegRowSource::cut() const { return s_->file && s_->file->cut(); }

bool JpegRowSource::readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) {
    State& s = *s_;
    if (s.failed) return false;
    if (setjmp(s.d.err.jump)) {
        codec::logDecodeError(s.d.err, s.name);
        s.failed = true;
        return false;
    }
    jpeg_decompress_struct& cinfo = s.d.cinfo;
    if (!s.started) {
        // A progressive or multi-scan file is read whole into its coefficients here.
        jpeg_start_decompress(&cinfo);
        s.started = true;
        s.pages->reached(cinfo.src->next_input_byte);
        if (int(cinfo.output_width) != s.width || int(cinfo.output_height) != s.height ||
            cinfo.output_components != (s.rgbBytes ? 3 : 4)) {
            s.failed = true;
            return false;
        }
    }
    const int end = std::clamp(rowsEnd, 0, s.height);
    while (s.rows < end) {
        JSAMPROW row = base + qsizetype(s.rows) * bytesPerLine;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1 || s.d.err.truncated) {
            log(u"%@: JPEG data ends early; the file is truncated", s.name);
            s.failed = true;
            return false;
        }
        s.rows = int(cinfo.output_scanline);
        s.pages->reached(cinfo.src->next_input_byte);
    }
    // What follows the last row must read as cleanly as it does for a whole decode.
    if (s.rows == s.height && !s.finished) {
        jpeg_finish_decompress(&cinfo);
        s.finished = true;
    }
    // Zeros read in place of a cut file's bytes may still decode: those rows are not the photo.
    if (s.file->cut()) {
        log(u"%@: the file was cut short while it was read", s.name);
        s.failed = true;
        return false;
    }
    return true;
}

}  // namespace platform
