// PNG reading through libpng 1.6. libpng reports errors by longjmp; every call into it
// sits in a function that set its own recovery point, and the objects that must outlive
// a jump are kept on the heap. Writing is PngBands.cpp's: it writes the profile chunk
// itself, so no profile can make an output fail. The check of a written file is PngCheck.cpp's.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PngChunks.h"
#include "platform/graphics/RowStorage.h"
#include "platform/imageio/RowStreams.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <png.h>
#include <vector>

namespace platform::codec {
namespace {

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Bytes in;
    size_t pos = 0;
    QString name;
    QImage image;
    std::vector<png_bytep> rows;
    char message[256] = {0};
    // A critical chunk libpng does not know, which it refuses the file for: a coding the
    // file needs that this reader lacks.
    char unknownCritical[5] = {0};
    ~Reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void onError(png_structp png, png_const_charp msg) {
    auto* buf = static_cast<char*>(png_get_error_ptr(png));
    if (buf) {
        std::strncpy(buf, msg ? msg : "unknown error", 255);
        buf[255] = 0;
    }
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

void readFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->in.size - r->pos < length) png_error(png, "Read Error: the file ends early");
    std::memcpy(out, r->in.data + r->pos, length);
    r->pos += length;
}

int noteUnknownChunk(png_structp png, png_unknown_chunkp chunk) {
    auto* r = static_cast<Reader*>(png_get_user_chunk_ptr(png));
    if (r && chunk && (chunk->name[0] & 0x20) == 0) std::memcpy(r->unknownCritical, chunk->name, 4);
    return 0;  // not handled here: libpng drops an ancillary chunk and stops at a critical one
}

bool openReader(Reader& r, Bytes in, const DecodeOptions& options, QString* why = nullptr) {
    // libpng allocates a chunk at its declared size before it reads it.
    if (!pngChunksFitData(reinterpret_cast<const char*>(in.data), in.size, INT64_MAX, kMaxImageSide, why))
        return false;
    r.in = in;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, r.message, onError, onWarning);
    if (!r.png) return false;
    r.info = png_create_info_struct(r.png);
    if (!r.info) return false;
    png_set_read_fn(r.png, &r, readFromMemory);
    png_set_read_user_chunk_fn(r.png, &r, noteUnknownChunk);
    // A chunk or a line larger than these is not a photo.
    png_set_user_limits(r.png, kMaxImageSide, kMaxImageSide);
    png_set_chunk_malloc_max(r.png, 64u << 20);
    png_set_chunk_cache_max(r.png, 1000);
    // Profiles are taken as the file has them; whether one is a known faulty copy of
    // sRGB is of no concern to reading.
    png_set_option(r.png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    return true;
}

QByteArray iccProfile(Reader& r) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (!png_get_iCCP(r.png, r.info, &name, &compression, &profile, &length) || !profile) return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length));
}

// Asks libpng for 8 bits a sample: palettes as colour, grey of fewer bits widened, a
// transparent colour as an alpha channel, 16 bits scaled. True when the pixels carry
// alpha, which then is straight. Called after png_read_info.
bool expandTo8Bits(Reader& r) {
    const int colorType = png_get_color_type(r.png, r.info);
    const int bitDepth = png_get_bit_depth(r.png, r.info);
    const bool hasTrns = png_get_valid(r.png, r.info, PNG_INFO_tRNS);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    if (hasTrns) png_set_tRNS_to_alpha(r.png);
    if (bitDepth == 16) png_set_scale_16(r.png);
    return (colorType & PNG_COLOR_MASK_ALPHA) || hasTrns;
}

// Asks libpng for rows of 4 bytes a pixel, B, G, R and alpha in memory, whatever the file
// stores: 8 bits a sample, grey and palettes as colour, 0xFF as the alpha of a picture
// without one. True when the rows carry alpha (an alpha channel or a transparent colour),
// which then is straight. Every reader of rows takes them this way (or as packedRows gives
// them, the same samples), so a file read whole and read row by row gives the same pixels.
// Called after png_read_info.
bool setBgraRows(Reader& r) {
    const bool alpha = expandTo8Bits(r);
    if (!(png_get_color_type(r.png, r.info) & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(r.png);
    png_set_bgr(r.png);
    if (!alpha) png_set_filler(r.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    if (png_get_rowbytes(r.png, r.info) != size_t(png_get_image_width(r.png, r.info)) * 4)
        png_error(r.png, "unexpected row layout");
    return alpha;
}

// Asks libpng for the samples setBgraRows gives, each pixel as the file holds its channels:
// grey (1 byte), grey and alpha (2), R, G, B (3) or R, G, B and alpha (4), into *channels.
// True when they carry alpha. Called after png_read_info.
bool setPackedRows(Reader& r, int* channels) {
    const bool alpha = expandTo8Bits(r);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    *channels = png_get_channels(r.png, r.info);
    if (*channels < 1 || *channels > 4 ||
        png_get_rowbytes(r.png, r.info) != size_t(png_get_image_width(r.png, r.info)) * size_t(*channels))
        png_error(r.png, "unexpected row layout");
    return alpha;
}

// A row of packed samples (setPackedRows) as the 32-bit premultiplied words setBgraRows'
// rows become.
void wordsOfPacked(const uint8_t* in, int width, int channels, QRgb* out) {
    switch (channels) {
    case 1:
        for (int x = 0; x < width; ++x) out[x] = 0xFF000000u | uint32_t(in[x]) * 0x010101u;
        return;
    case 2:
        for (int x = 0; x < width; ++x, in += 2) out[x] = qPremultiply(qRgba(in[0], in[0], in[0], in[1]));
        return;
    case 3:
        for (int x = 0; x < width; ++x, in += 3)
            out[x] = 0xFF000000u | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
        return;
    default:
        for (int x = 0; x < width; ++x, in += 4) out[x] = qPremultiply(qRgba(in[0], in[1], in[2], in[3]));
        return;
    }
}

}  // namespace

namespace {

// The frames of an animated PNG, from its animation control chunk (which comes before the
// picture data); 1 for a still one.
int pngFrameCount(Bytes in) {
    for (size_t at = 8; at + 8 <= in.size;) {
        const uint8_t* chunk = in.data + at;
        const size_t length = size_t(chunk[0]) << 24 | size_t(chunk[1]) << 16 | size_t(chunk[2]) << 8 | chunk[3];
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0) break;
        if (std::memcmp(chunk + 4, "acTL", 4) == 0 && length >= 8 && at + 16 <= in.size) {
            const uint8_t* n = chunk + 8;
            const uint32_t frames = uint32_t(n[0]) << 24 | uint32_t(n[1]) << 16 | uint32_t(n[2]) << 8 | n[3];
            return int(std::clamp<uint32_t>(frames, 1, 1u << 30));
        }
        if (length > in.size - at - 8) break;
        at += length + 12;
    }
    return 1;
}

}  // namespace

ImageFacts pngFacts(Bytes in) {
    auto r = std::make_unique<Reader>();
    ImageFacts facts;
    if (!openReader(*r, in, {})) return facts;
    if (setjmp(png_jmpbuf(r->png))) return ImageFacts{};
    png_read_info(r->png, r->info);
    ImageHeader& h = facts.header;
    h.format = ImageFormat::PNG;
    h.width = int(png_get_image_width(r->png, r->info));
    h.height = int(png_get_image_height(r->png, r->info));
    const int colorType = png_get_color_type(r->png, r->info);
    h.colourModel = (colorType & PNG_COLOR_MASK_COLOR) == 0 ? ColourModel::Gray : ColourModel::RGB;
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(r->png, r->info, &exifLength, &exif) && exif) h.orientation = exifOrientation(exif, exifLength);
    h.iccProfile = iccProfile(*r);
    h.pages = pngFrameCount(in);
    facts.depth = png_get_bit_depth(r->png, r->info);
    facts.hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
    facts.png.insert(QStringLiteral("InterlaceType"), int(png_get_interlace_type(r->png, r->info)));
    png_uint_32 perMetreX = 0, perMetreY = 0;
    int unit = 0;
    if (png_get_pHYs(r->png, r->info, &perMetreX, &perMetreY, &unit)) {
        facts.png.insert(QStringLiteral("XPixelsPerMeter"), qint64(perMetreX));
        facts.png.insert(QStringLiteral("YPixelsPerMeter"), qint64(perMetreY));
        if (unit == PNG_RESOLUTION_METER && perMetreX > 0 && perMetreY > 0)
            facts.dotsPerInch = QPointF(dotsPerInchOf(perMetreX), dotsPerInchOf(perMetreY));
    }
    png_fixed_point gamma = 0;
    if (png_get_valid(r->png, r->info, PNG_INFO_gAMA) && png_get_gAMA_fixed(r->png, r->info, &gamma))
        facts.png.insert(QStringLiteral("Gamma"), gamma / 100000.0);
    int intent = 0;
    if (png_get_sRGB(r->png, r->info, &intent)) facts.png.insert(QStringLiteral("sRGBIntent"), intent);
    return facts;
}

QImage pngDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    auto r = std::make_unique<Reader>();
    QString corrupt;
    if (!openReader(*r, in, options, &corrupt)) {
        log(u"%@: PNG data is corrupt (%@)", name, corrupt.isEmpty() ? QStringLiteral("no reader") : corrupt);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    if (setjmp(png_jmpbuf(r->png))) {
        log(u"%@: PNG data is corrupt (%@)", name, QString::fromLocal8Bit(r->message));
        if (r->unknownCritical[0])
            return decodeFailed(why, DecodeFailure::Unsupported,
                                QStringLiteral("this PNG needs a part of a kind this program cannot read (%1)")
                                    .arg(QString::fromLatin1(r->unknownCritical)));
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    png_read_info(r->png, r->info);
    const png_uint_32 width = png_get_image_width(r->png, r->info);
    const png_uint_32 height = png_get_image_height(r->png, r->info);
    if (!checkBudget(width, height, options, name, "PNG", why)) return QImage();
    const int colorType = png_get_color_type(r->png, r->info);
    const bool alpha = setBgraRows(*r);

    r->image = allocateImage(int(width), int(height),
                             alpha ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied, name);
    if (r->image.isNull()) return QImage();
    r->rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) r->rows[y] = r->image.scanLine(int(y));
    // As png_read_image reads them, pass by pass, the file's pages given back as the data
    // is read past: a large PNG's file would otherwise stay in memory beside its picture
    // (an interlaced 50 MP one, 133 MB).
    ConsumedPages pages(in);
    const int passes = png_set_interlace_handling(r->png);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(r->png, r->rows[y], nullptr);
            pages.reached(r->in.data + r->pos);
        }
    }
    QImage out = std::move(r->image);
    if (alpha) out.convertTo(QImage::Format_ARGB32_Premultiplied);
    attachProfile(out, iccProfile(*r), (colorType & PNG_COLOR_MASK_COLOR) ? ColourModel::RGB : ColourModel::Gray, name);
    return out;
}

bool pngWrite(const QImage& source, const QByteArray& icc, const PngSink& sink) {
    if (source.format() == QImage::Format_Grayscale8) return pngWriteBands(source, 0, icc, 0, sink);
    const QImage argb = source.format() == QImage::Format_ARGB32_Premultiplied || source.format() == QImage::Format_ARGB32 ||
                                source.format() == QImage::Format_RGB32
                            ? source
                            : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (argb.isNull()) {
        if (!source.isNull()) throw std::bad_alloc();  // Qt says a shortage with a null picture
        return false;
    }
    // Premultiplied pixels with transparency are straightened band by band as they are
    // written.
    return pngWriteBands(argb, isOpaque(argb) ? 2 : 6, icc, 0, sink);
}

QByteArray pngEncode(const QImage& source, const QByteArray& icc) {
    QByteArray png;
    const bool ok = pngWrite(source, icc, appendTo(png));
    return ok ? png : QByteArray();
}

}  // namespace platform::codec

namespace platform {

struct PngRowSource::State {
    std::unique_ptr<codec::FileBytes> file;
    std::unique_ptr<codec::Reader> r = std::make_unique<codec::Reader>();
    std::optional<codec::ConsumedPages> pages;
    DecodeOptions options;
    int rows = 0;  // read so far
    bool transparent = false, failed = true;
    // An interlaced file's rows are whole only after its last pass: it is read whole first,
    // its samples packed at `channels` bytes a pixel (`packed`'s rows, from picturePagedByRows,
    // given back as they are handed out), not at the rows' 4.
    bool interlaced = false;
    int channels = 4;
    QImage packed;
    int given = 0;  // packed rows given back
};

PngRowSource::PngRowSource(const QString& path, const DecodeOptions& options)
    : PngRowSource(codec::openFileBytes(path, options), path, options) {}

PngRowSource::PngRowSource(std::unique_ptr<codec::FileBytes> file, const QString& path, const DecodeOptions& options)
    : s_(std::make_unique<State>()) {
    State& s = *s_;
    codec::Reader& r = *s.r;
    r.name = path;
    s.file = std::move(file);
    s.options = options;
    s.options.whileOpen = nullptr;  // called once, as the file was opened
    if (!s.file) return;
    const codec::Bytes in = s.file->bytes;
    s.pages.emplace(in);
    QString why;
    if (!codec::openReader(r, in, options, &why)) {
        log(u"%@: PNG data is corrupt (%@)", path, why.isEmpty() ? QStringLiteral("no reader") : why);
        return;
    }
    if (setjmp(png_jmpbuf(r.png))) {
        log(u"%@: PNG data is corrupt (%@)", path, QString::fromLocal8Bit(r.message));
        header_ = ImageHeader{};
        refused_ = RowsRefused::Unreadable;
        return;
    }
    png_read_info(r.png, r.info);
    // What pngFacts reads, from this one reading of the header.
    header_.format = ImageFormat::PNG;
    header_.width = int(png_get_image_width(r.png, r.info));
    header_.height = int(png_get_image_height(r.png, r.info));
    header_.colourModel = (png_get_color_type(r.png, r.info) & PNG_COLOR_MASK_COLOR) ? ColourModel::RGB : ColourModel::Gray;
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(r.png, r.info, &exifLength, &exif) && exif)
        header_.orientation = codec::exifOrientation(exif, exifLength);
    header_.iccProfile = codec::iccProfile(r);
    if (s.file->cut()) return;
    if (!codec::checkBudget(header_.width, header_.height, options, path, "PNG")) {
        refused_ = RowsRefused::TooLarge;
        return;
    }
    if (codec::profileAppliedWhileReading(header_.iccProfile, header_.colourModel)) {
        refused_ = RowsRefused::Converted;
        return;
    }
    s.interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
    s.transparent = s.interlaced ? codec::setPackedRows(r, &s.channels) : codec::setBgraRows(r);
    s.failed = false;
    refused_ = RowsRefused::None;
}

PngRowSource::~PngRowSource() = default;

int PngRowSource::width() const { return header_.width; }
int PngRowSource::height() const { return header_.height; }
bool PngRowSource::transparent() const { return s_->transparent; }
int PngRowSource::rowsRead() const { return s_->rows; }
bool PngRowSource::cut() const { return s_->file && s_->file->cut(); }

bool PngRowSource::readWhole() {
    State& s = *s_;
    codec::Reader& r = *s.r;
    const int width = header_.width, height = header_.height;
    // Rows of `channels` bytes a pixel in a picture of 32-bit words as wide as they need.
    s.packed = picturePagedByRows((width * s.channels + 3) / 4, height, QImage::Format_RGB32);
    if (s.packed.isNull()) {
        log(u"%@: not enough memory for a %@ x %@ image", r.name, width, height);
        throw std::bad_alloc();
    }
    r.rows.resize(size_t(height));
    for (int y = 0; y < height; ++y) r.rows[size_t(y)] = s.packed.scanLine(y);
    if (setjmp(png_jmpbuf(r.png))) {
        log(u"%@: PNG data is corrupt (%@)", r.name, QString::fromLocal8Bit(r.message));
        s.failed = true;
        return false;
    }
    const int passes = png_set_interlace_handling(r.png);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            png_read_row(r.png, r.rows[size_t(y)], nullptr);
            s.pages->reached(r.in.data + r.pos);
        }
    }
    r.rows = std::vector<png_bytep>();
    if (s.file->cut()) {
        log(u"%@: the file was cut short while it was read", r.name);
        s.failed = true;
        return false;
    }
    return true;
}

std::optional<bool> PngRowSource::opaque() {
    State& s = *s_;
    if (s.failed || s.rows > 0) return std::nullopt;
    if (!s.transparent) return true;
    if (s.interlaced) {
        // Read whole once: the rows are handed out from what this read.
        if (s.packed.isNull() && !readWhole()) return std::nullopt;
        const int alpha = s.channels - 1;
        for (int y = 0; y < header_.height; ++y) {
            const uchar* row = s.packed.constScanLine(y);
            for (int x = 0; x < header_.width; ++x)
                if (row[x * s.channels + alpha] != 0xFF) return false;
        }
        return true;
    }
    // A second reader over the same bytes, its rows into one line.
    auto r = std::make_unique<codec::Reader>();
    r->name = s.r->name;
    const codec::Bytes in = s.file->bytes;
    if (!codec::openReader(*r, in, s.options)) return std::nullopt;
    std::vector<QRgb> line(size_t(std::max(1, header_.width)));
    codec::ConsumedPages pages(in);
    if (setjmp(png_jmpbuf(r->png))) {
        log(u"%@: PNG data is corrupt (%@)", r->name, QString::fromLocal8Bit(r->message));
        return std::nullopt;
    }
    png_read_info(r->png, r->info);
    codec::setBgraRows(*r);
    bool allOpaque = true;
    for (int y = 0; y < header_.height && allOpaque; ++y) {
        png_read_row(r->png, reinterpret_cast<png_bytep>(line.data()), nullptr);
        pages.reached(r->in.data + r->pos);
        // The rows are straight here; premultiplying keeps every alpha as it is.
        allOpaque = std::all_of(line.begin(), line.end(), [](QRgb p) { return qAlpha(p) == 255; });
    }
    if (s.file->cut()) return std::nullopt;
    return allOpaque;
}

bool PngRowSource::readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) {
    State& s = *s_;
    if (s.failed) return false;
    codec::Reader& r = *s.r;
    if (setjmp(png_jmpbuf(r.png))) {
        log(u"%@: PNG data is corrupt (%@)", r.name, QString::fromLocal8Bit(r.message));
        s.failed = true;
        return false;
    }
    const int end = std::clamp(rowsEnd, 0, header_.height);
    if (s.interlaced) {
        if (s.packed.isNull() && !readWhole()) return false;
        for (; s.rows < end; ++s.rows)
            codec::wordsOfPacked(s.packed.constScanLine(s.rows), header_.width, s.channels,
                                 reinterpret_cast<QRgb*>(base + qsizetype(s.rows) * bytesPerLine));
        giveBackRows(s.packed.constBits(), s.packed.bytesPerLine(), s.given, end);
        s.given = end;
        return true;
    }
    const int first = s.rows;
    for (; s.rows < end; ++s.rows) {
        png_read_row(r.png, base + qsizetype(s.rows) * bytesPerLine, nullptr);
        s.pages->reached(r.in.data + r.pos);
    }
    if (s.file->cut()) {
        log(u"%@: the file was cut short while it was read", r.name);
        s.failed = true;
        return false;
    }
    // The whole-picture reader premultiplies the straight rows libpng gives.
    if (s.transparent) {
        for (int y = first; y < end; ++y) {
            auto* px = reinterpret_cast<QRgb*>(base + qsizetype(y) * bytesPerLine);
            for (int x = 0; x < header_.width; ++x) px[x] = qPremultiply(px[x]);
        }
    }
    return true;
}

}  // namespace platform
