// HEIF and AVIF through libheif (HEVC through libde265, AV1 through dav1d or aom). The
// primary image is decoded with the container's transformations (rotation, mirroring,
// clean aperture) applied, so it comes out upright; deeper pictures (10 and 12 bits) are
// asked for as 16-bit samples and rounded to 8 bits here. A colour description given as
// code points (nclx) rather than an ICC profile becomes an equivalent profile.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QColorSpace>
#include <QPointF>
#include <QSize>
#include <cmath>
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

// libheif's own limit is a side, checked on every item as the file is read (grid tiles
// and auxiliary pictures, which this reader never sizes itself, included): the longest
// side a picture within the budget may have, never looser than libheif's default.
constexpr int64_t kLibheifDefaultSide = 32768;

Opened open(Bytes in, const DecodeOptions& options = {}) {
    useCheckedHevcDecoder();
    Opened o;
    o.context.reset(heif_context_alloc());
    if (!o.context) {
        o.error = QStringLiteral("no memory for the HEIF reader");
        return o;
    }
    heif_context_set_maximum_image_size_limit(
        o.context.get(), int(std::min({kLibheifDefaultSide, int64_t(kMaxImageSide), std::max<int64_t>(1, options.pixelBudget)})));
    if (options.decoderThreads >= 0) heif_context_set_max_decoding_threads(o.context.get(), options.decoderThreads);
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

// ---- the size an item is shown at ----
// libheif 1.15 gives an item's size as its 'ispe' property says, the size before the turn
// (irot) and the crop (clap) that its decoder then applies, so a portrait photo a phone
// stored turned decodes to the other shape than its handle says. The size shown is
// worked out here from the item's properties, taken in the order the file lists them,
// as the decoder applies them.

struct Box {
    const uint8_t* body = nullptr;
    size_t size = 0;
    const uint8_t* type = nullptr;
    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// The boxes one after another in [data, data + size); stops at the first that does not fit.
class Boxes {
public:
    Boxes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool next(Box& box) {
        if (at_ > size_ || size_ - at_ < 8) return false;
        const uint8_t* p = data_ + at_;
        uint64_t length = be32(p);
        size_t header = 8;
        if (length == 1) {
            if (size_ - at_ < 16) return false;
            length = uint64_t(be32(p + 8)) << 32 | be32(p + 12);
            header = 16;
        } else if (length == 0) {
            length = size_ - at_;
        }
        if (length < header || length > size_ - at_) return false;
        box = Box{p + header, size_t(length - header), p + 4};
        at_ += size_t(length);
        return true;
    }
    bool find(const char* name, Box& box) {
        while (next(box))
            if (box.is(name)) return true;
        return false;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Reads bits from the top of each byte, as the codecs' headers are written.
class RbspBits {
public:
    RbspBits(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t read(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (at_ >= size_ * 8) {
                failed_ = true;
                return 0;
            }
            v = v << 1 | ((data_[at_ / 8] >> (7 - at_ % 8)) & 1);
            ++at_;
        }
        return v;
    }
    uint32_t golomb() {  // ue(v)
        int zeros = 0;
        while (!failed_ && read(1) == 0)
            if (++zeros > 31) failed_ = true;
        return failed_ ? 0 : ((1u << zeros) - 1 + read(zeros));
    }
    bool failed() const { return failed_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool failed_ = false;
};

// The size an HEVC sequence parameter set codes (its conformance window cut off).
QSize hevcCodedSize(const Box& hvcC) {
    if (hvcC.size < 23) return {};
    const uint8_t* p = hvcC.body;
    const int arrays = p[22];
    size_t at = 23;
    for (int a = 0; a < arrays; ++a) {
        if (at + 3 > hvcC.size) return {};
        const int type = p[at] & 0x3F;
        const int count = int(p[at + 1]) << 8 | p[at + 2];
        at += 3;
        for (int n = 0; n < count; ++n) {
            if (at + 2 > hvcC.size) return {};
            const size_t length = size_t(p[at]) << 8 | p[at + 1];
            at += 2;
            if (length > hvcC.size - at) return {};
            if (type == 33 && length > 2) {
                // The parameter set without its NAL header and emulation prevention bytes.
                std::vector<uint8_t> rbsp;
                for (size_t i = at + 2; i < at + length; ++i) {
                    if (i >= at + 4 && p[i] == 3 && p[i - 1] == 0 && p[i - 2] == 0) continue;
                    rbsp.push_back(p[i]);
                }
                RbspBits b(rbsp.data(), rbsp.size());
                b.read(4);
                const int subLayers = int(b.read(3));
                b.read(1);
                b.read(96);  // general profile, tier and level
                bool profile[8] = {}, level[8] = {};
                for (int i = 0; i < subLayers; ++i) {
                    profile[i] = b.read(1);
                    level[i] = b.read(1);
                }
                if (subLayers > 0)
                    for (int i = subLayers; i < 8; ++i) b.read(2);
                for (int i = 0; i < subLayers; ++i) {
                    if (profile[i]) b.read(88);
                    if (level[i]) b.read(8);
                }
                b.golomb();
                const uint32_t chroma = b.golomb();
                if (chroma == 3) b.read(1);
                int64_t width = b.golomb(), height = b.golomb();
                if (b.read(1)) {  // conformance window, in chroma samples
                    const int64_t sx = chroma == 1 || chroma == 2 ? 2 : 1, sy = chroma == 1 ? 2 : 1;
                    const int64_t left = b.golomb(), right = b.golomb(), top = b.golomb(), bottom = b.golomb();
                    width -= sx * (left + right);
                    height -= sy * (top + bottom);
                }
                if (b.failed() || width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return {};
                return QSize(int(width), int(height));
            }
            at += length;
        }
    }
    return {};
}

// The largest frame an AV1 sequence header (among the configuration's OBUs) codes.
QSize av1CodedSize(const Box& av1C) {
    size_t at = 4;
    const uint8_t* p = av1C.body;
    while (at < av1C.size) {
        const int type = (p[at] >> 3) & 0xF;
        const bool extension = p[at] & 4, sized = p[at] & 2;
        at += extension ? 2 : 1;
        size_t length = av1C.size - std::min(at, av1C.size);
        if (sized) {
            length = 0;
            for (int i = 0; i < 8 && at < av1C.size; ++i) {
                length |= size_t(p[at] & 0x7F) << (7 * i);
                if (!(p[at++] & 0x80)) break;
            }
        }
        if (at > av1C.size || length > av1C.size - at) return {};
        if (type == 1) {
            RbspBits b(p + at, length);
            b.read(3);
            b.read(1);
            if (b.read(1)) {  // a still picture's reduced header
                b.read(5);
            } else {
                if (b.read(1)) return {};  // timing information: not worth following
                const bool delays = b.read(1);
                const int points = int(b.read(5)) + 1;
                for (int i = 0; i < points; ++i) {
                    b.read(12);
                    if (b.read(5) > 7) b.read(1);
                    if (delays && b.read(1)) b.read(4);
                }
            }
            const int widthBits = int(b.read(4)) + 1, heightBits = int(b.read(4)) + 1;
            const int64_t width = int64_t(b.read(widthBits)) + 1, height = int64_t(b.read(heightBits)) + 1;
            if (b.failed()) return {};
            return QSize(int(std::min<int64_t>(width, INT32_MAX)), int(std::min<int64_t>(height, INT32_MAX)));
        }
        at += length;
    }
    return {};
}

QSize shownSize(Bytes in, heif_item_id item) {
    Box meta, iprp, box;
    if (!Boxes(in.data, in.size).find("meta", meta) || meta.size < 4) return {};
    if (!Boxes(meta.body + 4, meta.size - 4).find("iprp", iprp)) return {};
    std::vector<Box> properties;  // numbered from 1 by the associations
    std::vector<uint32_t> associated;
    Boxes children(iprp.body, iprp.size);
    while (children.next(box)) {
        if (box.is("ipco")) {
            Boxes list(box.body, box.size);
            Box property;
            while (properties.size() < 4096 && list.next(property)) properties.push_back(property);
        } else if (box.is("ipma") && box.size >= 8 && associated.empty()) {
            const uint8_t* p = box.body;
            const size_t end = box.size;
            const bool version1 = p[0] >= 1, wideIndex = (p[3] & 1) != 0;
            const uint32_t entries = be32(p + 4);
            size_t at = 8;
            for (uint32_t e = 0; e < entries; ++e) {
                const size_t idSize = version1 ? 4 : 2;
                if (at + idSize + 1 > end) break;
                const uint32_t id = version1 ? be32(p + at) : uint32_t(p[at]) << 8 | p[at + 1];
                at += idSize;
                const int count = p[at++];
                const size_t entrySize = wideIndex ? 2 : 1;
                if (at + size_t(count) * entrySize > end) break;
                if (id == item) {
                    for (int k = 0; k < count; ++k, at += entrySize)
                        associated.push_back(wideIndex ? (uint32_t(p[at]) << 8 | p[at + 1]) & 0x7FFF : p[at] & 0x7F);
                    break;
                }
                at += size_t(count) * entrySize;
            }
        }
    }
    const auto property = [&](uint32_t index) -> const Box* {
        return index >= 1 && index <= properties.size() ? &properties[index - 1] : nullptr;
    };
    // The coded size, from the codec's own header where there is one: libheif 1.15 itself
    // writes 'ispe' as the size after its turn, where the format has the size before it.
    int64_t width = 0, height = 0;
    QSize coded;
    for (uint32_t index : associated) {
        const Box* b = property(index);
        if (b && b->is("ispe") && b->size >= 12) {
            width = be32(b->body + 4);
            height = be32(b->body + 8);
        }
        if (b && b->is("hvcC")) coded = hevcCodedSize(*b);
        if (b && b->is("av1C")) coded = av1CodedSize(*b);
    }
    if (coded.isValid() && !coded.isEmpty()) {
        width = coded.width();
        height = coded.height();
    }
    if (width <= 0 || height <= 0) return {};
    for (uint32_t index : associated) {
        const Box* b = property(index);
        if (!b) continue;
        if (b->is("irot") && b->size >= 1 && (b->body[0] & 1)) std::swap(width, height);
        if (b->is("clap") && b->size >= 32) {
            const uint32_t wn = be32(b->body), wd = be32(b->body + 4), hn = be32(b->body + 8), hd = be32(b->body + 12);
            if (wd == 0 || hd == 0) return {};
            const int64_t w = std::llround(double(wn) / wd), h = std::llround(double(hn) / hd);
            if (w < 1 || h < 1 || w > width || h > height) return {};
            width = w;
            height = h;
        }
    }
    if (width > INT32_MAX || height > INT32_MAX) return {};
    return QSize(int(width), int(height));
}

// The size an item decodes to: as its properties say, or (when they cannot be read) as
// libheif says.
QSize decodedSize(Bytes in, const heif_image_handle* handle, heif_item_id item) {
    const QSize shown = shownSize(in, item);
    return shown.isValid() && !shown.isEmpty()
               ? shown
               : QSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
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

// The file's thumbnails whose longer side reaches minLongSide and whose shape is the
// primary picture's, either way round (libheif and the files disagree on which way
// round a turned thumbnail's size is given), smallest first. Whether one shows the whole
// picture the right way round is known once it is decoded.
std::vector<HandlePtr> thumbnailCandidates(const heif_image_handle* primary, QSize primaryShown, int minLongSide) {
    std::vector<std::pair<int, HandlePtr>> found;
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || primaryShown.isEmpty()) return {};
    const auto shape = [](double w, double h) { return std::max(w, h) / std::min(w, h); };
    const double wanted = shape(primaryShown.width(), primaryShown.height());
    std::vector<heif_item_id> ids(size_t(std::min(count, 16)));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), int(ids.size()));
    for (int i = 0; i < listed; ++i) {
        heif_image_handle* t = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[size_t(i)], &t).code != heif_error_Ok || !t) continue;
        HandlePtr thumb(t, heif_image_handle_release);
        const int tw = heif_image_handle_get_width(t), th = heif_image_handle_get_height(t);
        const int side = std::max(tw, th);
        if (tw <= 0 || th <= 0 || side < minLongSide) continue;
        if (std::abs(shape(tw, th) - wanted) > 0.01 * wanted) continue;
        found.emplace_back(side, std::move(thumb));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HandlePtr> sorted;
    for (auto& f : found) sorted.push_back(std::move(f.second));
    return sorted;
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

const QString kNoStillPicture = QStringLiteral("this HEIF file holds no still picture this program can read");
const QString kUnsupportedCoding = QStringLiteral("the picture in this HEIF file is coded in a way this program cannot read");
const QString kDamagedPicture = QStringLiteral("the picture in this HEIF file is damaged");

// The decoder allocates the stored planes (every grid tile, then the interleaved
// conversion) before the container's crop: the budget holds for the stored size as well
// as the shown one.
bool withinBudget(const heif_image_handle* handle, const DecodeOptions& options, const QString& name,
                  DecodeResult* why) {
    const int64_t storedW = heif_image_handle_get_ispe_width(handle), storedH = heif_image_handle_get_ispe_height(handle);
    const int64_t handleW = heif_image_handle_get_width(handle), handleH = heif_image_handle_get_height(handle);
    if (storedW * storedH > handleW * handleH) return checkBudget(storedW, storedH, options, name, "HEIF", why);
    return checkBudget(handleW, handleH, options, name, "HEIF", why);
}

QImage decodeHandle(const heif_image_handle* handle, const DecodeOptions& options, const QString& name,
                    DecodeResult* why) {
    if (!withinBudget(handle, options, name, why)) return QImage();
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> decoding(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!decoding) return decodeFailed(why, DecodeFailure::OutOfMemory);
    // Damage the decoder can see (a missing or broken tile) fails the picture rather than
    // leaving a hole in it.
    decoding->strict_decoding = 1;
    heif_image* decoded = nullptr;
    const heif_error e = heif_decode_image(handle, &decoded, heif_colorspace_RGB, chroma, decoding.get());
    ImagePtr image(decoded, heif_image_release);
    if (e.code != heif_error_Ok || !image) {
        log(u"%@: HEIF picture could not be decoded (%@)", name, QString::fromUtf8(e.message));
        if (e.code == heif_error_Unsupported_feature)
            return decodeFailed(why, DecodeFailure::Unsupported, kUnsupportedCoding);
        // libheif says so both for its own limits and for an allocation that failed.
        if (e.code == heif_error_Memory_allocation_error)
            return decodeFailed(why, e.subcode == heif_suberror_Security_limit_exceeded ? DecodeFailure::OverBudget
                                                                                         : DecodeFailure::OutOfMemory);
        return decodeFailed(why, DecodeFailure::Damaged, kDamagedPicture);
    }
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    const int bytesPerPixel = (alpha ? 4 : 3) * (deep ? 2 : 1);
    if (!plane || w <= 0 || h <= 0 || stride < w * bytesPerPixel || bits < 1 || bits > 16 || (bits > 8) != deep) {
        log(u"%@: HEIF picture decoded to an unexpected layout; refused", name);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    // The size is the decoded picture's: the container's turn and crop are applied by now.
    if (!checkBudget(w, h, options, name, "HEIF", why)) return QImage();
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
    heif_item_id id = 0;
    heif_context_get_primary_image_ID(o.context.get(), &id);
    const QSize shown = decodedSize(in, handle, id);
    facts.header.format = format;
    facts.header.width = shown.width();
    facts.header.height = shown.height();
    facts.header.orientation = 1;  // the decoder applies the container's transformations
    facts.header.iccProfile = profileOf(handle, in.size);
    // A collection (a burst, say) keeps several pictures at the top; the primary one is read.
    facts.header.pages = std::max(1, heif_context_get_number_of_top_level_images(o.context.get()));
    facts.depth = std::max(8, heif_image_handle_get_luma_bits_per_pixel(handle));
    facts.hasAlpha = heif_image_handle_has_alpha_channel(handle) != 0;
    facts.metadataInBlocks = true;
    readMetadataBlocks(handle, in.size, facts);
    if (!facts.header.valid()) facts = ReadOnlyFacts{};
    return facts;
}

QImage heifDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    const Opened o = open(in, options);
    if (!o.primary) {
        log(u"%@: HEIF file could not be read (%@)", name, o.error);
        if (o.code == heif_error_Unsupported_feature || o.code == heif_error_Unsupported_filetype)
            return decodeFailed(why, DecodeFailure::Unsupported, kNoStillPicture);
        return decodeFailed(why, o.code == heif_error_Memory_allocation_error ? DecodeFailure::OverBudget
                                                                               : DecodeFailure::Damaged);
    }
    // Thumbnails come from the file's own small picture when it is large enough.
    if (options.minLongSide > 0 && !options.reducedForOutput) {
        heif_item_id id = 0;
        heif_context_get_primary_image_ID(o.context.get(), &id);
        const QSize shown = decodedSize(in, o.primary.get(), id);
        const double aspect = double(shown.width()) / std::max(1, shown.height());
        for (const HandlePtr& thumb : thumbnailCandidates(o.primary.get(), shown, options.minLongSide)) {
            // libheif gives a thumbnail that carries the primary's turn and crop the size
            // after them, which its own decoded picture need not have: only the picture
            // decoded tells whether it is large enough.
            const QImage small = decodeHandle(thumb.get(), options, name, nullptr);
            if (small.isNull() || std::max(small.width(), small.height()) < options.minLongSide ||
                std::abs(double(small.width()) / small.height() - aspect) > 0.01 * aspect)
                continue;
            return small;
        }
    }
    return decodeHandle(o.primary.get(), options, name, why);
}

}  // namespace platform::codec
