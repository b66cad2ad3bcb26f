// Camera raw files and DNG through LibRaw, in the decoder helper (the program sends its
// requests here: platform/imageio/RawCodec.cpp). A raw photo is developed with the white
// balance the camera recorded into sRGB (its primaries and its curve), and turned as the
// camera recorded, so it comes out upright. Smaller pictures cost less: a thumbnail comes
// from the preview the camera embedded (the same turn applied) when that is large enough,
// and a picture of half the size or less is developed at half size, one pixel per
// colour-filter block, which skips demosaicing altogether. Any data error LibRaw meets
// fails the photo rather than giving a picture with damage in it. The file's metadata is
// read here too (by Exiv2) and handed back as blocks.
#include "platform/imageio/HelperProcess.h"
#include "platform/foundation/Log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <libraw.h>

namespace platform::codec {
namespace {

const QString kSigmaFoveon = QStringLiteral("Sigma X3F raw files (Foveon sensors) cannot be read by this program");
const QString kUnknownRaw = QStringLiteral("this camera raw format is not one this program can read");
const QString kUnsupportedCamera = QStringLiteral("the raw data of this camera (%1) is stored in a way this program cannot read");

// LibRaw with what 0.20 gets wrong about thumbnails checked before it is asked for one.
// Its JPEG and 8-bit RGB thumbnails are read into a buffer of the very size read; the
// other kinds (the layered, 16-bit, Rollei and Kodak ones) size their buffer from the
// thumbnail's declared width, height and colours but read as many bytes as another field
// declares, or write as many colours per pixel as a field says into four: a crafted
// Kodak file has it write past its buffer. Those kinds are never unpacked here; the
// picture is developed from the sensor data instead.
class CheckedLibRaw : public LibRaw {
public:
    explicit CheckedLibRaw(unsigned flags) : LibRaw(flags) {}
    bool thumbnailIsSafeToUnpack(size_t fileSize) const {
        if (thumb_load_raw) return false;
        const bool jpeg = write_thumb == &CheckedLibRaw::jpeg_thumb;
        const bool rgb = write_thumb == &CheckedLibRaw::ppm_thumb;
        if (!jpeg && !rgb) return false;
        const int64_t offset = libraw_internal_data.internal_data.toffset;
        const libraw_thumbnail_t& t = imgdata.thumbnail;
        // Declared bytes within the file (a JPEG also gets its first two bytes written,
        // which must be there), and a bitmap whose size the file can hold.
        const uint64_t length = jpeg ? uint64_t(t.tlength) : uint64_t(t.twidth) * t.theight * 3;
        return offset > 0 && length >= 64 && uint64_t(offset) <= fileSize && length <= fileSize - uint64_t(offset);
    }
};

// EXIF orientation from LibRaw's flip bits (4 swaps the axes first, 2 mirrors top to
// bottom, 1 left to right).
int orientationFromFlip(int flip) {
    static const int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return kOrientation[flip & 7];
}

// The helper's one LibRaw, kept from file to file with the parameters it was made with:
// recycled after each file, its buffers go back to the helper's heap, which keeps them
// for the next file (HelperServer.cpp), rather than to the system.
struct RawWorkspace {
    CheckedLibRaw processor{LIBRAW_OPTIONS_NONE};
    const libraw_output_params_t defaults = processor.imgdata.params;
};

RawWorkspace& rawWorkspace(HelperWorkspace& workspace) {
    if (!workspace.raw) workspace.raw = std::make_shared<RawWorkspace>();
    return *static_cast<RawWorkspace*>(workspace.raw.get());
}

// One file in the helper's LibRaw, given back (recycled) when it goes: LibRaw keeps
// pointers into the file's bytes, which go with the request.
struct Raw {
    explicit Raw(HelperWorkspace& workspace) : kept(rawWorkspace(workspace)), processor(&kept.processor) {}
    ~Raw() { processor->recycle(); }
    Raw(const Raw&) = delete;
    Raw& operator=(const Raw&) = delete;

    RawWorkspace& kept;
    CheckedLibRaw* processor;
    int dataErrors = 0;
    int openResult = LIBRAW_UNSPECIFIED_ERROR;

    static void onDataError(void* self, const char*, const int) { ++static_cast<Raw*>(self)->dataErrors; }

    // LibRaw keeps pointers into the buffer; it must outlive this object.
    bool open(Bytes in, const DecodeOptions* options = nullptr) {
        processor->recycle();
        processor->imgdata.params = kept.defaults;  // nothing of the last file's development
        processor->set_dataerror_handler(onDataError, this);
        if (options) {
            // LibRaw's own ceiling for its buffers, in line with the pixel budget.
            const int64_t mb = std::clamp<int64_t>(options->pixelBudget * 8 >> 20, 16, 2048);
            processor->imgdata.params.max_raw_memory_mb = unsigned(mb);
        }
        try {
            openResult = processor->open_buffer(const_cast<uint8_t*>(in.data), in.size);
        } catch (...) {
            openResult = LIBRAW_UNSPECIFIED_ERROR;
        }
        return openResult == LIBRAW_SUCCESS;
    }
    const libraw_data_t& data() const { return processor->imgdata; }
    QString camera() const {
        return (QString::fromLatin1(data().idata.make) + QLatin1Char(' ') + QString::fromLatin1(data().idata.model))
            .trimmed();
    }
};

QString failure(int code) { return QString::fromLatin1(libraw_strerror(code)); }

// Interleaved 8-bit RGB or grey rows into opaque ARGB32, in place: the rows were written
// at the start of each 4-byte-per-pixel line, and each line is widened from its end so no
// byte is overwritten before it is read.
void widenInPlace(QImage& image, int colors) {
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* line = image.scanLine(y);
        for (int x = image.width() - 1; x >= 0; --x) {
            uint8_t b, g, r;
            if (colors == 1) {
                b = g = r = line[x];
            } else {
                b = line[3 * x];  // written in BGR order
                g = line[3 * x + 1];
                r = line[3 * x + 2];
            }
            line[4 * x] = b;
            line[4 * x + 1] = g;
            line[4 * x + 2] = r;
            line[4 * x + 3] = 255;
        }
    }
}

// An embedded picture, decoded, when it is at least minLongSide long and shows the same
// frame as the sensor data (of storedW x storedH, in the same layout); null otherwise.
QImage decodePicture(const RawEmbeddedPicture& p, int storedW, int storedH, const DecodeOptions& options,
                     const QString& name) {
    int w = p.width, h = p.height;
    if (p.jpeg) {
        const ImageHeader header = jpegHeader(p.bytes);
        w = header.width;
        h = header.height;
    }
    if (w <= 0 || h <= 0 || std::max(w, h) < options.minLongSide) return QImage();
    // A thumbnail of another shape has bars or shows another crop.
    if (std::abs(double(w) / h - double(storedW) / storedH) > 0.05 * storedW / storedH) return QImage();
    if (p.jpeg) return jpegDecode(p.bytes, options, name);
    if (size_t(w) * size_t(h) * 3 > p.bytes.size) return QImage();
    QImage rgb = allocateImage(w, h, QImage::Format_RGB32, name);
    if (rgb.isNull()) return QImage();
    const uint8_t* s = p.bytes.data;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(rgb.scanLine(y));
        for (int x = 0; x < w; ++x, s += 3) line[x] = qRgb(s[0], s[1], s[2]);
    }
    return rgb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The smallest picture the camera embedded that is at least minLongSide long and shows
// the whole frame, turned as the camera recorded; null when there is none. The file's
// own directories are looked at first (a raw file often holds a small picture besides
// the full-size preview LibRaw would pick, and decoding that preview is most of the
// time of a thumbnail), then LibRaw's choice.
QImage embeddedPreview(Bytes in, Raw& raw, const DecodeOptions& options, const QString& name) {
    const libraw_image_sizes_t& s = raw.data().sizes;
    const int orientation = orientationFromFlip(s.flip);
    const std::vector<RawEmbeddedPicture> candidates = rawEmbeddedPictures(in);
    const auto side = [](const RawEmbeddedPicture& p) {
        if (!p.jpeg) return std::max(p.width, p.height);
        const ImageHeader h = jpegHeader(p.bytes);
        return std::max(h.width, h.height);
    };
    std::vector<std::pair<int, size_t>> bySide;
    for (size_t i = 0; i < candidates.size(); ++i)
        if (const int longSide = side(candidates[i]); longSide >= options.minLongSide) bySide.push_back({longSide, i});
    std::sort(bySide.begin(), bySide.end());
    for (const auto& [longSide, i] : bySide) {
        QImage picture = decodePicture(candidates[i], s.width, s.height, options, name);
        if (!picture.isNull()) return orientImage(picture, orientation);
    }

    if (!raw.processor->thumbnailIsSafeToUnpack(in.size)) return QImage();
    try {
        if (raw.processor->unpack_thumb() != LIBRAW_SUCCESS || raw.dataErrors) return QImage();
    } catch (...) {
        return QImage();
    }
    const libraw_thumbnail_t& t = raw.data().thumbnail;
    if (!t.thumb || t.tlength == 0) return QImage();
    RawEmbeddedPicture thumb;
    thumb.bytes = Bytes{reinterpret_cast<const uint8_t*>(t.thumb), t.tlength};
    if (t.tformat == LIBRAW_THUMBNAIL_JPEG) {
        thumb.jpeg = true;
    } else if (t.tformat == LIBRAW_THUMBNAIL_BITMAP && t.tcolors == 3) {
        thumb.width = t.twidth;
        thumb.height = t.theight;
    } else {
        return QImage();
    }
    const QImage picture = decodePicture(thumb, s.width, s.height, options, name);
    return picture.isNull() ? QImage() : orientImage(picture, orientation);
}

void noteFailure(DecodeResult* why, DecodeFailure kind, const QString& detail = QString()) {
    if (why) *why = DecodeResult{QImage(), kind, detail};
}

// What LibRaw's code for a failure says of the file.
void noteLibrawFailure(DecodeResult* why, int code, const Raw& raw) {
    if (code == LIBRAW_UNSUFFICIENT_MEMORY)
        noteFailure(why, DecodeFailure::OutOfMemory);  // an allocation failed; LibRaw's own ceiling says TOO_BIG
    else if (code == LIBRAW_TOO_BIG)
        noteFailure(why, DecodeFailure::OverBudget);
    else if (code == LIBRAW_NOT_IMPLEMENTED || code == LIBRAW_FILE_UNSUPPORTED)
        noteFailure(why, DecodeFailure::Unsupported,
                    kUnsupportedCamera.arg(raw.camera().isEmpty() ? QStringLiteral("unknown") : raw.camera()));
    else
        noteFailure(why, DecodeFailure::Damaged, rawDamagedWords());
}

// Developed into the memory the program takes the picture from, where the helper has one
// (`shared`): LibRaw's 16-bit picture becomes the 8-bit one there, once.
QImage develop(Raw& raw, bool halfSize, const QString& name, DecodeResult* why,
               const std::function<QImage(int, int, QImage::Format)>& shared) {
    libraw_output_params_t& p = raw.processor->imgdata.params;
    p.use_camera_wb = 1;
    p.output_color = 1;  // sRGB primaries
    p.output_bps = 8;
    p.gamm[0] = 1.0 / 2.4;  // and the sRGB curve rather than BT.709's
    p.gamm[1] = 12.92;
    p.half_size = halfSize ? 1 : 0;
    int result = LIBRAW_SUCCESS;
    try {
        result = raw.processor->unpack();
        if (result == LIBRAW_SUCCESS && !raw.dataErrors) result = raw.processor->dcraw_process();
    } catch (const std::bad_alloc&) {
        result = LIBRAW_UNSUFFICIENT_MEMORY;
    } catch (...) {
        result = LIBRAW_UNSPECIFIED_ERROR;
    }
    if (result != LIBRAW_SUCCESS) {
        log(u"%@: raw data could not be developed (%@)", name, failure(result));
        noteLibrawFailure(why, result, raw);
        return QImage();
    }
    if (raw.dataErrors || raw.processor->error_count()) {
        log(u"%@: raw data is damaged; refused", name);
        noteFailure(why, DecodeFailure::Damaged, rawDamagedWords());
        return QImage();
    }
    int width = 0, height = 0, colors = 0, bps = 0;
    raw.processor->get_mem_image_format(&width, &height, &colors, &bps);
    if (width <= 0 || height <= 0 || bps != 8 || (colors != 3 && colors != 1)) {
        log(u"%@: raw data developed to an unexpected layout; refused", name);
        return QImage();
    }
    QImage image = shared ? shared(width, height, QImage::Format_ARGB32_Premultiplied) : QImage();
    if (image.isNull()) image = allocateImage(width, height, QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();
    int copied = LIBRAW_UNSPECIFIED_ERROR;
    try {
        copied = raw.processor->copy_mem_image(image.bits(), int(image.bytesPerLine()), 1);
    } catch (...) {
    }
    if (copied != LIBRAW_SUCCESS) {
        log(u"%@: the developed raw picture could not be copied (%@)", name, failure(copied));
        return QImage();
    }
    widenInPlace(image, colors);
    return image;
}

}  // namespace

ReadOnlyFacts rawFactsHere(Bytes in, bool metadata, const QString& name, HelperWorkspace& workspace) {
    ReadOnlyFacts facts;
    if (!rawSniff(in)) return facts;
    Raw raw(workspace);
    if (!raw.open(in)) return facts;
    try {
        if (raw.processor->adjust_sizes_info_only() != LIBRAW_SUCCESS) return facts;
    } catch (...) {
        return facts;
    }
    facts.header.format = ImageFormat::RAW;
    facts.header.width = raw.data().sizes.iwidth;  // as developed: turned, pixel aspect applied
    facts.header.height = raw.data().sizes.iheight;
    facts.header.orientation = 1;
    facts.header.colourModel = raw.data().idata.colors == 1 ? ColourModel::Gray : ColourModel::RGB;
    facts.depth = 16;
    if (!facts.header.valid()) return ReadOnlyFacts{};
    if (metadata) {
        // Exiv2 parses the file here, in the helper, as LibRaw does: the program only ever
        // reads the blocks.
        facts.metadataInBlocks = true;
        readRawMetadataBlocks(in, name, facts);
    }
    return facts;
}

QImage rawDecodeHere(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why,
                     HelperWorkspace& workspace) {
    Raw raw(workspace);
    if (!raw.open(in, &options)) {
        log(u"%@: camera raw file could not be read (%@)", name, failure(raw.openResult));
        if (in.size >= 4 && std::memcmp(in.data, "FOVb", 4) == 0) noteFailure(why, DecodeFailure::Unsupported, kSigmaFoveon);
        else if (raw.openResult != LIBRAW_FILE_UNSUPPORTED || rawKnownContainer(in)) noteLibrawFailure(why, LIBRAW_DATA_ERROR, raw);
        else noteFailure(why, DecodeFailure::Unsupported, kUnknownRaw);
        if (raw.openResult == LIBRAW_UNSUFFICIENT_MEMORY) noteFailure(why, DecodeFailure::OutOfMemory);
        if (raw.openResult == LIBRAW_TOO_BIG) noteFailure(why, DecodeFailure::OverBudget);
        return QImage();
    }
    const libraw_image_sizes_t& s = raw.data().sizes;
    if (!checkBudget(s.raw_width, s.raw_height, options, name, "camera raw") ||
        !checkBudget(s.width, s.height, options, name, "camera raw")) {
        noteFailure(why, s.raw_width > 0 && s.raw_height > 0 && s.width > 0 && s.height > 0 ? DecodeFailure::OverBudget
                                                                                              : DecodeFailure::Damaged,
                    s.width > 0 ? QString() : rawDamagedWords());
        return QImage();
    }
    helperLayoutKnown();
    if (options.minLongSide > 0 && !options.reducedForOutput) {
        QImage preview = embeddedPreview(in, raw, options, name);
        if (!preview.isNull()) return preview;
    }
    const int longSide = std::max<int>(s.width, s.height);
    const bool halfSize = options.minLongSide > 0 && (longSide / 2) >= options.minLongSide;
    return develop(raw, halfSize, name, why, workspace.sharedPicture);
}

}  // namespace platform::codec
