// HEVC pictures of HEIF files, decoded by libde265 for libheif. The plugin libheif brings
// for libde265 hands on whatever picture the decoder outputs, and keeps the decoder's own
// warnings to itself: a stream whose slices break off leaves parts of the picture never
// written, which then hold whatever the heap held before and differ from run to run.
// This decoder refuses a picture the decoder warns about (or would not output as faulty),
// and gives the decoder cleared memory to write into, so that a part no warning covers
// (a slice lost whole) holds nothing left on the heap. What libde265 then still makes
// of such a part on its own (the sample-adaptive offset it applies there follows
// settings it never read) is beyond what its interface lets a caller reach.
#include "platform/imageio/ReadOnlyCodecs.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

namespace platform::codec {
namespace {

// Above libheif's own decoder (100), which it would otherwise choose for HEVC.
constexpr int kHevcPriority = 200;
// The longest side libheif itself allows a picture.
constexpr int kHevcMaxSide = 32768;

heif_error hevcOk() { return {heif_error_Ok, heif_suberror_Unspecified, "Success"}; }

heif_error hevcDamaged(const char* why) { return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, why}; }

heif_error hevcNoMemory() {
    return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "no memory for the HEVC decoder"};
}

// What libheif pushes: the configuration's parameter sets, then the picture's slices, each
// NAL unit after its length as four big-endian bytes.
struct HevcStream {
    std::vector<uint8_t> bytes;
};

const char* hevcPluginName() { return "libde265, checked"; }

int hevcSupportsFormat(heif_compression_format format) { return format == heif_compression_HEVC ? kHevcPriority : 0; }

heif_error hevcNewDecoder(void** decoder) {
    *decoder = new (std::nothrow) HevcStream;
    return *decoder ? hevcOk() : hevcNoMemory();
}

void hevcFreeDecoder(void* decoder) { delete static_cast<HevcStream*>(decoder); }

heif_error hevcPushData(void* decoder, const void* data, size_t size) {
    auto* stream = static_cast<HevcStream*>(decoder);
    const auto* p = static_cast<const uint8_t*>(data);
    try {
        stream->bytes.insert(stream->bytes.end(), p, p + size);
    } catch (const std::bad_alloc&) {
        return hevcNoMemory();
    }
    return hevcOk();
}

// Every picture is refused once damaged, however libheif was asked to decode.
void hevcSetStrictDecoding(void*, int) {}

// A picture's planes, in memory handed out cleared: what the decoder never writes (a
// slice lost from the stream, which it cannot tell from a picture coded in fewer slices)
// is never what the heap held before.
int clearedHevcPlanes(de265_decoder_context*, de265_image_spec* spec, de265_image* image, void*) {
    if (spec->width <= 0 || spec->height <= 0 || spec->width > kHevcMaxSide || spec->height > kHevcMaxSide) return 0;
    const de265_chroma chroma = de265_get_chroma_format(image);
    size_t align = 64;
    while (align < size_t(std::max(spec->alignment, 1))) align *= 2;
    for (int c = 0; c < (chroma == de265_chroma_mono ? 1 : 3); ++c) {
        const int sx = c > 0 && (chroma == de265_chroma_420 || chroma == de265_chroma_422) ? 2 : 1;
        const int sy = c > 0 && chroma == de265_chroma_420 ? 2 : 1;
        const size_t width = size_t((spec->width + sx - 1) / sx), height = size_t((spec->height + sy - 1) / sy);
        const size_t stride = (width * (de265_get_bits_per_pixel(image, c) > 8 ? 2 : 1) + align - 1) / align * align;
        void* block = std::calloc(stride * height + align, 1);
        if (!block) {
            for (int k = 0; k < c; ++k) {
                std::free(de265_get_image_plane_user_data(image, k));
                de265_set_image_plane(image, k, nullptr, 0, nullptr);
            }
            return 0;
        }
        auto* plane = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(block) + align - 1) / align * align);
        de265_set_image_plane(image, c, plane, int(stride), block);
    }
    return 1;
}

void releaseHevcPlanes(de265_decoder_context*, de265_image* image, void*) {
    for (int c = 0; c < (de265_get_chroma_format(image) == de265_chroma_mono ? 1 : 3); ++c) {
        std::free(de265_get_image_plane_user_data(image, c));
        de265_set_image_plane(image, c, nullptr, 0, nullptr);
    }
}

// Notes about how the decoder may run, not about the stream: threads it was not given,
// and a supplemental message it cannot read before the parameter sets it refers to.
bool harmlessHevcWarning(de265_error warning) {
    return warning == DE265_WARNING_NO_WPP_CANNOT_USE_MULTITHREADING ||
           warning == DE265_WARNING_NUMBER_OF_THREADS_LIMITED_TO_MAXIMUM ||
           warning == DE265_WARNING_SPS_MISSING_CANNOT_DECODE_SEI;
}

// Whether the decoder hevcWarned about the stream since it was last asked.
bool hevcWarned(de265_decoder_context* context) {
    bool any = false;
    for (int i = 0; i < 1024; ++i) {
        const de265_error w = de265_get_warning(context);
        if (w == DE265_OK) break;
        any = any || !harmlessHevcWarning(w);
    }
    return any;
}

// The picture as libheif holds a decoded one: its planes and the stream's colour description.
heif_error hevcPictureToHeif(const de265_image* picture, heif_image** out) {
    const de265_chroma chroma = de265_get_chroma_format(picture);
    heif_chroma layout = heif_chroma_monochrome;
    switch (chroma) {
    case de265_chroma_mono: layout = heif_chroma_monochrome; break;
    case de265_chroma_420: layout = heif_chroma_420; break;
    case de265_chroma_422: layout = heif_chroma_422; break;
    case de265_chroma_444: layout = heif_chroma_444; break;
    default: return hevcDamaged("the HEVC picture has no known chroma layout");
    }
    const int width = de265_get_image_width(picture, 0), height = de265_get_image_height(picture, 0);
    if (width <= 0 || height <= 0) return hevcDamaged("the HEVC picture has no size");
    heif_image* image = nullptr;
    heif_error e = heif_image_create(width, height,
                                     chroma == de265_chroma_mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                     layout, &image);
    if (e.code != heif_error_Ok) return e;
    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (chroma == de265_chroma_mono ? 1 : 3); ++c) {
        const int w = de265_get_image_width(picture, c), h = de265_get_image_height(picture, c);
        const int bits = de265_get_bits_per_pixel(picture, c);
        int fromStride = 0;
        const uint8_t* from = de265_get_image_plane(picture, c, &fromStride);
        const size_t rowBytes = size_t(w) * (bits > 8 ? 2 : 1);
        if (!from || w <= 0 || h <= 0 || bits < 1 || bits > 16 || size_t(fromStride) < rowBytes) {
            heif_image_release(image);
            return hevcDamaged("the HEVC picture has an unexpected layout");
        }
        e = heif_image_add_plane(image, channels[c], w, h, bits);
        int toStride = 0;
        uint8_t* to = e.code == heif_error_Ok ? heif_image_get_plane(image, channels[c], &toStride) : nullptr;
        if (!to) {
            heif_image_release(image);
            return hevcNoMemory();
        }
        for (int y = 0; y < h; ++y)
            std::memcpy(to + size_t(y) * size_t(toStride), from + size_t(y) * size_t(fromStride), rowBytes);
    }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (nclx) {
        heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(de265_get_image_colour_primaries(picture)));
        heif_nclx_color_profile_set_transfer_characteristics(nclx,
                                                             uint16_t(de265_get_image_transfer_characteristics(picture)));
        heif_nclx_color_profile_set_matrix_coefficients(nclx, uint16_t(de265_get_image_matrix_coefficients(picture)));
        nclx->full_range_flag = uint8_t(de265_get_image_full_range_flag(picture) != 0);
        heif_image_set_nclx_color_profile(image, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    *out = image;
    return hevcOk();
}

heif_error decodeHevcStream(de265_decoder_context* context, const HevcStream& stream, heif_image** out) {
    // libde265 1.0.11 was seen to take a picture's memory itself, past these functions,
    // when it decodes on the calling thread alone; with a worker thread it uses them.
    if (!de265_isOK(de265_start_worker_threads(context, 1))) return hevcNoMemory();
    de265_image_allocation cleared{clearedHevcPlanes, releaseHevcPlanes};
    de265_set_image_allocation_functions(context, &cleared, nullptr);
    de265_set_parameter_bool(context, DE265_DECODER_PARAM_SUPPRESS_FAULTY_PICTURES, 1);
    const std::vector<uint8_t>& b = stream.bytes;
    size_t units = 0;
    for (size_t at = 0; at < b.size(); ++units) {
        if (b.size() - at < 4) return hevcDamaged("the HEVC stream ends inside a length");
        const size_t length = size_t(b[at]) << 24 | size_t(b[at + 1]) << 16 | size_t(b[at + 2]) << 8 | b[at + 3];
        at += 4;
        if (length > b.size() - at || length > size_t(INT32_MAX)) return hevcDamaged("an HEVC unit runs past the stream");
        const de265_error e = de265_push_NAL(context, b.data() + at, int(length), 0, nullptr);
        if (e == DE265_ERROR_OUT_OF_MEMORY) return hevcNoMemory();
        if (!de265_isOK(e)) return hevcDamaged("the HEVC stream could not be read");
        at += length;
    }
    if (!de265_isOK(de265_flush_data(context))) return hevcDamaged("the HEVC stream could not be read");
    // Each call decodes a unit or less; a decoder that goes on without end is stopped.
    const size_t calls = 64 + 8 * units;
    const de265_image* picture = nullptr;
    bool faulty = false;
    int more = 1;
    for (size_t i = 0; more && !picture && i < calls; ++i) {
        const de265_error e = de265_decode(context, &more);
        faulty = faulty || hevcWarned(context);
        if (e == DE265_ERROR_OUT_OF_MEMORY) return hevcNoMemory();
        if (e != DE265_OK && e != DE265_ERROR_WAITING_FOR_INPUT_DATA && e != DE265_ERROR_IMAGE_BUFFER_FULL)
            return hevcDamaged("the HEVC stream is hevcDamaged");
        // Peeked, not taken: a taken picture may change with the next call to the decoder.
        picture = de265_peek_next_picture(context);
        if (e == DE265_ERROR_WAITING_FOR_INPUT_DATA && !picture) break;  // everything was pushed
    }
    faulty = faulty || hevcWarned(context);
    if (faulty) return hevcDamaged("the HEVC stream is hevcDamaged");
    if (!picture) return hevcDamaged("the HEVC stream holds no complete picture");
    return hevcPictureToHeif(picture, out);
}

heif_error hevcDecodeImage(void* decoder, heif_image** out) {
    *out = nullptr;
    de265_decoder_context* context = de265_new_decoder();
    if (!context) return hevcNoMemory();
    heif_error e = hevcNoMemory();
    try {
        e = decodeHevcStream(context, *static_cast<HevcStream*>(decoder), out);
    } catch (const std::bad_alloc&) {
        e = hevcNoMemory();
    }
    de265_free_decoder(context);
    return e;
}

const heif_decoder_plugin kHevcDecoder = {
    3,                      // the interface version: libheif 1.15
    hevcPluginName,         // get_plugin_name
    nullptr,                // init_plugin
    nullptr,                // deinit_plugin
    hevcSupportsFormat,     // does_support_format
    hevcNewDecoder,         // new_decoder
    hevcFreeDecoder,        // free_decoder
    hevcPushData,           // push_data
    hevcDecodeImage,        // decode_image
    hevcSetStrictDecoding,  // set_strict_decoding
    "libde265-checked",     // id_name
};

}  // namespace

void useCheckedHevcDecoder() {
    // libheif keeps its decoders for the whole process; registered once, before the first
    // file is opened by any thread (a function's static is made once, and the others wait).
    static const bool registered = heif_register_decoder_plugin(&kHevcDecoder).code == heif_error_Ok;
    (void)registered;
}

}  // namespace platform::codec
