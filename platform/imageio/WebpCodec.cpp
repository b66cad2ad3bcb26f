// WebP through libwebp: lossy and lossless pictures, with or without alpha, decoded
// straight into the QImage's rows as premultiplied BGRA (ARGB32 on little-endian); an
// animation gives its first frame as shown (composed on its canvas). The ICC profile,
// EXIF and XMP chunks come from the container. As in JPEG, the picture stays in its
// stored layout and the EXIF orientation says how to show it.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <memory>

#include <webp/decode.h>
#include <webp/demux.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "WebP rows are decoded as BGRA into ARGB32 memory");

namespace platform::codec {
namespace {

bool isWebp(Bytes in) {
    return in.size >= 16 && std::memcmp(in.data, "RIFF", 4) == 0 && std::memcmp(in.data + 8, "WEBP", 4) == 0;
}

const char* statusText(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "the picture data is corrupt";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "a feature this reader does not support";
    case VP8_STATUS_SUSPENDED: return "suspended";
    case VP8_STATUS_USER_ABORT: return "aborted";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends early";
    case VP8_STATUS_OK: break;
    }
    return "ok";
}

// A coding libwebp lacks, memory short, or damage.
DecodeFailure failureOf(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_UNSUPPORTED_FEATURE: return DecodeFailure::Unsupported;
    case VP8_STATUS_OUT_OF_MEMORY: return DecodeFailure::OutOfMemory;
    default: return DecodeFailure::Damaged;
    }
}

// The words a photo's status gives a WebP coding this reader lacks.
const QString kUnsupportedWebp = QStringLiteral("the picture in this WebP file is coded in a way this program cannot read");

QByteArray chunk(WebPDemuxer* demux, const char* fourcc) {
    WebPChunkIterator it;
    if (!WebPDemuxGetChunk(demux, fourcc, 1, &it)) return QByteArray();
    QByteArray bytes(reinterpret_cast<const char*>(it.chunk.bytes), qsizetype(it.chunk.size));
    WebPDemuxReleaseChunkIterator(&it);
    return bytes;
}

// Some writers keep JPEG's "Exif\0\0" in front of the TIFF structure.
QByteArray tiffFromExifChunk(const QByteArray& chunk) {
    const QByteArray tiff = chunk.startsWith(QByteArrayLiteral("Exif\0\0")) ? chunk.mid(6) : chunk;
    if (tiff.size() < 8) return QByteArray();
    return tiff.startsWith(QByteArrayLiteral("II*\0")) || tiff.startsWith(QByteArrayLiteral("MM\0*")) ? tiff
                                                                                                     : QByteArray();
}

QImage failedWith(DecodeResult* why, VP8StatusCode status) {
    const DecodeFailure kind = failureOf(status);
    return decodeFailed(why, kind, kind == DecodeFailure::Unsupported ? kUnsupportedWebp : QString());
}

QImage decodeStill(Bytes in, int width, int height, const QString& name, DecodeResult* why) {
    QImage image = allocateImage(width, height, QImage::Format_ARGB32_Premultiplied, name);
    if (image.isNull()) return QImage();
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return decodeFailed(why, DecodeFailure::Damaged);
    config.output.colorspace = MODE_bgrA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(in.data, in.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        log(u"%@: WebP picture could not be decoded (%@)", name, statusText(status));
        return failedWith(why, status);
    }
    return image;
}

QImage decodeFirstFrame(Bytes in, const QString& name, DecodeResult* why) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return decodeFailed(why, DecodeFailure::Damaged);
    options.color_mode = MODE_bgrA;
    options.use_threads = 0;
    const WebPData data{in.data, in.size};
    std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(WebPAnimDecoderNew(&data, &options),
                                                                               WebPAnimDecoderDelete);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info)) {
        log(u"%@: WebP animation could not be read", name);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas) {
        log(u"%@: the first frame of the WebP animation could not be decoded", name);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    QImage image = allocateImage(int(info.canvas_width), int(info.canvas_height), QImage::Format_ARGB32_Premultiplied,
                                 name);
    if (image.isNull()) return QImage();
    const size_t rowBytes = size_t(info.canvas_width) * 4;
    for (int y = 0; y < image.height(); ++y) std::memcpy(image.scanLine(y), canvas + rowBytes * size_t(y), rowBytes);
    return image;
}

}  // namespace

ReadOnlyFacts webpFacts(Bytes in) {
    ReadOnlyFacts facts;
    WebPBitstreamFeatures features;
    if (!isWebp(in) || WebPGetFeatures(in.data, in.size, &features) != VP8_STATUS_OK) return facts;
    facts.header.format = ImageFormat::WebP;
    facts.header.width = features.width;
    facts.header.height = features.height;
    facts.depth = 8;
    facts.hasAlpha = features.has_alpha != 0;
    facts.metadataInBlocks = true;
    const WebPData data{in.data, in.size};
    if (WebPDemuxer* demux = WebPDemux(&data)) {
        facts.header.iccProfile = chunk(demux, "ICCP");
        facts.exif = tiffFromExifChunk(chunk(demux, "EXIF"));
        facts.xmp = chunk(demux, "XMP ");
        facts.header.pages = std::max(1, int(WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT)));
        WebPDemuxDelete(demux);
    }
    const auto* tiff = reinterpret_cast<const uint8_t*>(facts.exif.constData());
    facts.header.orientation = exifOrientation(tiff, size_t(facts.exif.size()));
    if (!facts.header.valid()) facts = ReadOnlyFacts{};
    return facts;
}

QImage webpDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    WebPBitstreamFeatures features;
    const VP8StatusCode status = isWebp(in) ? WebPGetFeatures(in.data, in.size, &features) : VP8_STATUS_BITSTREAM_ERROR;
    if (status != VP8_STATUS_OK) {
        log(u"%@: WebP file could not be read (%@)", name, statusText(status));
        return failedWith(why, status);
    }
    // The canvas size is checked before the decoder allocates anything for it.
    if (!checkBudget(features.width, features.height, options, name, "WebP", why)) return QImage();
    QImage image = features.has_animation ? decodeFirstFrame(in, name, why)
                                          : decodeStill(in, features.width, features.height, name, why);
    if (image.isNull()) return QImage();
    const WebPData data{in.data, in.size};
    if (WebPDemuxer* demux = WebPDemux(&data)) {
        attachProfile(image, chunk(demux, "ICCP"), ColourModel::RGB, name);
        WebPDemuxDelete(demux);
    }
    return image;
}

}  // namespace platform::codec
