// HEIF and AVIF through libheif (HEVC through libde265, AV1 through dav1d or aom). The
// primary image is decoded with the container's transformations (rotation, mirroring,
// clean aperture) applied, so it comes out upright; deeper pictures (10 and 12 bits) are
// asked for as 16-bit samples and rounded to 8 bits here. A colour description given as
// code points (nclx) rather than an ICC profile becomes an equivalent profile.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QColorSpace>
#include <QPointF>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <libheif/heif.h>

namespace platform::codec {
namespace {

using ContextPtr = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
using HandlePtr = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
using ImagePtr = std::unique_ptr<heif_image, decltype(&heif_image_release)>;

// Metadata blocks larger than this are not read (an EXIF block holds at most 64 KB in
// JPEG; XMP packets of a few hundred KB are already rare).
constexpr size_t kMaxMetadataBlock = size_t(16) << 20;

bool isBrand(const uint8_t* p, const char* brand) { return std::memcmp(p, brand, 4) == 0; }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

struct Opened {
    ContextPtr context{nullptr, heif_context_free};
    HandlePtr primary{nullptr, heif_image_handle_release};
    QString error;
    heif_error_code code = heif_error_Ok;
};

Opened open(Bytes in) {
    Opened o;
    o.context.reset(heif_context_alloc());
    if (!o.context) {
        o.error = QStringLiteral("no memory for the HEIF reader");
        return o;
    }
    heif_error e = heif_context_read_from_memory_without_copy(o.context.get(), in.data, in.size, nullptr);
    if (e.code != heif_error_Ok) {
        o.error = QString::fromUtf8(e.message);
        o.code = e.code;
        return o;
    }
    heif_image_handle* primary = nullptr;
    e = heif_context_get_primary_image_handle(o.context.get(), &primary);
    if (e.code != heif_error_Ok || !primary) {
        o.error = QString::fromUtf8(e.message);
        o.code = e.code;
        return o;
    }
    o.primary.reset(primary);
    return o;
}

// An ICC profile for a colour description given as code points. Primaries of BT.709
// (which sRGB shares) or unspecified ones with an SDR curve are plain sRGB: no profile.
QByteArray profileFromNclx(const heif_color_profile_nclx& nclx) {
    const int primaries = int(nclx.color_primaries);
    const int transfer = int(nclx.transfer_characteristics);
    const bool srgbPrimaries = primaries == heif_color_primaries_ITU_R_BT_709_5 ||
                               primaries == heif_color_primaries_unspecified;
    QColorSpace::TransferFunction curve = QColorSpace::TransferFunction::SRgb;
    float gamma = 0.0f;
    switch (transfer) {
    case heif_transfer_characteristic_linear:
        curve = QColorSpace::TransferFunction::Linear;
        break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
        curve = QColorSpace::TransferFunction::Gamma;
        gamma = 2.2f;
        break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        curve = QColorSpace::TransferFunction::Gamma;
        gamma = 2.8f;
        break;
    default:  // sRGB, the BT.709 family (close to it) and unspecified
        break;
    }
    if (srgbPrimaries && curve == QColorSpace::TransferFunction::SRgb) return QByteArray();
    const QColorSpace space(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
                            QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
                            QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
                            QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), curve, gamma);
    return space.isValid() ? space.iccProfile() : QByteArray();
}

QByteArray profileOf(const heif_image_handle* handle, size_t limit) {
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size == 0 || size > limit) return QByteArray();
        QByteArray icc(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok) return QByteArray();
        return icc;
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || !nclx) return QByteArray();
        QByteArray icc = profileFromNclx(*nclx);
        heif_nclx_color_profile_free(nclx);
        return icc;
    }
    default:
        return QByteArray();
    }
}

// The TIFF structure inside a HEIF EXIF item: a 4-byte offset to the TIFF header, then
// (by that offset, or after an "Exif\0\0" some writers leave in) the header itself.
QByteArray tiffFromExifItem(const QByteArray& item) {
    if (item.size() < 4 + 8) return QByteArray();
    const auto* p = reinterpret_cast<const uint8_t*>(item.constData());
    const qsizetype offset = qsizetype(be32(p));
    for (qsizetype start : {qsizetype(4) + offset, qsizetype(4) + offset + 6, qsizetype(4) + 6, qsizetype(4)}) {
        if (offset < 0 || start < 4 || start + 8 > item.size()) continue;
        const QByteArray tiff = item.mid(start);
        if (tiff.startsWith(QByteArrayLiteral("II*\0")) || tiff.startsWith(QByteArrayLiteral("MM\0*"))) return tiff;
    }
    return QByteArray();
}

void readMetadataBlocks(const heif_image_handle* handle, size_t limit, ReadOnlyFacts& facts) {
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0) return;
    std::vector<heif_item_id> ids(size_t(std::min(count, 64)));
    const int listed = heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), int(ids.size()));
    for (int i = 0; i < listed; ++i) {
        const char* type = heif_image_handle_get_metadata_type(handle, ids[size_t(i)]);
        const char* contentType = heif_image_handle_get_metadata_content_type(handle, ids[size_t(i)]);
        const bool exif = type && std::strcmp(type, "Exif") == 0;
        const bool xmp = type && std::strcmp(type, "mime") == 0 && contentType &&
                         std::strcmp(contentType, "application/rdf+xml") == 0;
        if ((!exif || !facts.exif.isEmpty()) && (!xmp || !facts.xmp.isEmpty())) continue;
        const size_t size = heif_image_handle_get_metadata_size(handle, ids[size_t(i)]);
        if (size == 0 || size > limit || size > kMaxMetadataBlock) continue;
        QByteArray block(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle, ids[size_t(i)], block.data()).code != heif_error_Ok) continue;
        if (exif) facts.exif = tiffFromExifItem(block);
        else facts.xmp = block;
    }
}

// The smallest thumbnail whose longer side reaches minLongSide and that shows the whole
// picture (its aspect ratio within a percent of the primary image's); null otherwise.
HandlePtr usableThumbnail(const heif_image_handle* primary, int minLongSide) {
    HandlePtr best(nullptr, heif_image_handle_release);
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0) return best;
    const double w = heif_image_handle_get_width(primary), h = heif_image_handle_get_height(primary);
    std::vector<heif_item_id> ids(size_t(std::min(count, 16)));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), int(ids.size()));
    int bestSide = 0;
    for (int i = 0; i < listed; ++i) {
        heif_image_handle* t = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[size_t(i)], &t).code != heif_error_Ok || !t) continue;
        HandlePtr thumb(t, heif_image_handle_release);
        const int tw = heif_image_handle_get_width(t), th = heif_image_handle_get_height(t);
        const int side = std::max(tw, th);
        if (tw <= 0 || th <= 0 || side < minLongSide || (bestSide && side >= bestSide)) continue;
        if (std::abs(double(tw) / th - w / h) > 0.01 * (w / h)) continue;
        best = std::move(thumb);
        bestSide = side;
    }
    return best;
}

// Interleaved RGB(A) rows of 8 or 16 bits per sample into premultiplied ARGB32. Samples
// of more than 8 bits are scaled to 0..255 with rounding (1023 is 255, 512 is 128).
void convertRows(const uint8_t* plane, int stride, int bits, bool alpha, bool premultiplied, QImage& out) {
    const int channels = alpha ? 4 : 3;
    std::vector<uint8_t> toByte;
    if (bits > 8) {
        const uint32_t max = (1u << bits) - 1;
        toByte.resize(size_t(1) << 16);
        for (uint32_t v = 0; v < toByte.size(); ++v) toByte[v] = uint8_t((std::min(v, max) * 255 + max / 2) / max);
    }
    for (int y = 0; y < out.height(); ++y) {
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        const uint8_t* row = plane + size_t(y) * size_t(stride);
        for (int x = 0; x < out.width(); ++x) {
            uint8_t c[4] = {0, 0, 0, 255};
            if (bits > 8) {
                const auto* s = reinterpret_cast<const uint16_t*>(row) + size_t(x) * channels;
                for (int k = 0; k < channels; ++k) c[k] = toByte[s[k]];
            } else {
                const uint8_t* s = row + size_t(x) * channels;
                for (int k = 0; k < channels; ++k) c[k] = s[k];
            }
            if (!alpha) {
                dst[x] = qRgb(c[0], c[1], c[2]);
            } else if (premultiplied) {
                // Colours above their alpha would break every later composition.
                dst[x] = qRgba(std::min(c[0], c[3]), std::min(c[1], c[3]), std::min(c[2], c[3]), c[3]);
            } else {
                dst[x] = qPremultiply(qRgba(c[0], c[1], c[2], c[3]));
            }
        }
    }
}

QImage decodeHandle(const heif_image_handle* handle, const DecodeOptions& options, const QString& name) {
    const int width = heif_image_handle_get_width(handle), height = heif_image_handle_get_height(handle);
    if (!checkBudget(width, height, options, name, "HEIF")) return QImage();
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> decoding(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!decoding) return QImage();
    // Damage the decoder can see (a missing or broken tile) fails the picture rather than
    // leaving a hole in it.
    decoding->strict_decoding = 1;
    heif_image* decoded = nullptr;
    const heif_error e = heif_decode_image(handle, &decoded, heif_colorspace_RGB, chroma, decoding.get());
    ImagePtr image(decoded, heif_image_release);
    if (e.code != heif_error_Ok || !image) {
        log(u"%@: HEIF picture could not be decoded (%@)", name, QString::fromUtf8(e.message));
        return QImage();
    }
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    const int bytesPerPixel = (alpha ? 4 : 3) * (deep ? 2 : 1);
    if (!plane || w != width || h != height || stride < w * bytesPerPixel || bits < 1 || bits > 16 ||
        (bits > 8) != deep) {
        log(u"%@: HEIF picture decoded to an unexpected layout; refused", name);
        return QImage();
    }
    QImage out = allocateImage(w, h, QImage::Format_ARGB32_Premultiplied, name);
    if (out.isNull()) return QImage();
    convertRows(plane, stride, bits, alpha, heif_image_handle_is_premultiplied_alpha(handle) != 0, out);
    QByteArray icc = profileOf(handle, size_t(1) << 24);
    if (icc.isEmpty() && heif_image_get_color_profile_type(image.get()) == heif_color_profile_type_nclx) {
        // No colour box: the colour description of the coded stream itself.
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_get_nclx_color_profile(image.get(), &nclx).code == heif_error_Ok && nclx) {
            icc = profileFromNclx(*nclx);
            heif_nclx_color_profile_free(nclx);
        }
    }
    attachProfile(out, icc, ColourModel::RGB, name);
    return out;
}

const QString kNoStillPicture = QStringLiteral("this HEIF file holds no still picture this program can read");
const QString kUnsupportedCoding = QStringLiteral("the picture in this HEIF file is coded in a way this program cannot read");

}  // namespace

ImageFormat heifSniff(Bytes in) {
    if (in.size < 16 || !isBrand(in.data + 4, "ftyp")) return ImageFormat::Unknown;
    const size_t boxSize = std::min<size_t>(be32(in.data), in.size);
    if (boxSize < 16) return ImageFormat::Unknown;
    const uint8_t* major = in.data + 8;
    bool heif = false, avif = isBrand(major, "avif") || isBrand(major, "avis");
    for (const char* b : {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1", "mif2"})
        heif = heif || isBrand(major, b);
    // Compatible brands after the minor version; a file may name its codec only there.
    bool compatibleHevc = false;
    for (size_t at = 16; at + 4 <= boxSize; at += 4) {
        const uint8_t* b = in.data + at;
        if (isBrand(b, "avif") || isBrand(b, "avis")) avif = true;
        if (isBrand(b, "heic") || isBrand(b, "heix")) compatibleHevc = true;
        if (isBrand(b, "mif1") || isBrand(b, "msf1")) heif = true;
    }
    if (isBrand(major, "avif") || isBrand(major, "avis")) return ImageFormat::AVIF;
    if (avif && !compatibleHevc && !isBrand(major, "heic") && !isBrand(major, "heix")) return ImageFormat::AVIF;
    return heif || compatibleHevc ? ImageFormat::HEIF : ImageFormat::Unknown;
}

ReadOnlyFacts heifFacts(Bytes in) {
    ReadOnlyFacts facts;
    const ImageFormat format = heifSniff(in);
    if (format == ImageFormat::Unknown) return facts;
    const Opened o = open(in);
    if (!o.primary) return facts;
    const heif_image_handle* handle = o.primary.get();
    facts.header.format = format;
    facts.header.width = heif_image_handle_get_width(handle);
    facts.header.height = heif_image_handle_get_height(handle);
    facts.header.orientation = 1;  // the decoder applies the container's transformations
    facts.header.iccProfile = profileOf(handle, in.size);
    facts.depth = std::max(8, heif_image_handle_get_luma_bits_per_pixel(handle));
    facts.hasAlpha = heif_image_handle_has_alpha_channel(handle) != 0;
    facts.metadataInBlocks = true;
    readMetadataBlocks(handle, in.size, facts);
    if (!facts.header.valid()) facts = ReadOnlyFacts{};
    return facts;
}

ImageHeader heifHeader(Bytes in) { return heifFacts(in).header; }

QImage heifDecode(Bytes in, const DecodeOptions& options, const QString& name) {
    const Opened o = open(in);
    if (!o.primary) {
        log(u"%@: HEIF file could not be read (%@)", name, o.error);
        return QImage();
    }
    // Thumbnails come from the file's own small picture when it is large enough.
    if (options.minLongSide > 0 && !options.reducedForOutput) {
        if (const HandlePtr thumb = usableThumbnail(o.primary.get(), options.minLongSide)) {
            QImage small = decodeHandle(thumb.get(), options, name);
            if (!small.isNull()) return small;
        }
    }
    return decodeHandle(o.primary.get(), options, name);
}

QString heifUnreadableReason(Bytes in) {
    if (heifSniff(in) == ImageFormat::Unknown) return QString();
    const Opened o = open(in);
    if (!o.primary)
        return o.code == heif_error_Unsupported_feature || o.code == heif_error_Unsupported_filetype ? kNoStillPicture
                                                                                                     : QString();
    const int64_t w = heif_image_handle_get_width(o.primary.get()), h = heif_image_handle_get_height(o.primary.get());
    if (w <= 0 || h <= 0 || w * h > kDefaultPixelBudget) return QString();
    heif_image* decoded = nullptr;
    const heif_error e = heif_decode_image(o.primary.get(), &decoded, heif_colorspace_RGB,
                                           heif_chroma_interleaved_RGB, nullptr);
    heif_image_release(decoded);
    return e.code == heif_error_Unsupported_feature ? kUnsupportedCoding : QString();
}

}  // namespace platform::codec
