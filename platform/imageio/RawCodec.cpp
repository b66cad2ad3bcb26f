// Camera raw files and DNG, as the program sees them: recognised by their bytes (our own
// bounded walk over a TIFF-structured file's directories), and read in a decoder helper
// (HelperProcess.h), where LibRaw develops them and Exiv2 reads their metadata
// (platform/decoderhelper/RawDevelop.cpp). LibRaw 0.20 has written past its buffers on
// crafted files more than once: the program does not link it.
#include "platform/imageio/HelperProcess.h"

#include <QtEndian>
#include <cstring>
#include <vector>

namespace platform::codec {
namespace {

bool startsWith(Bytes in, size_t at, const char* magic, size_t n) {
    return in.size >= at + n && std::memcmp(in.data + at, magic, n) == 0;
}

// A bounded walk over the directories of a TIFF-structured file.
class TiffDirectories {
public:
    explicit TiffDirectories(Bytes in) : in_(in), little_(in.size > 1 && in.data[0] == 'I') {}

    // Whether IFD0, the IFDs chained after it or their sub-IFDs hold what only camera
    // files hold.
    bool holdSensorData() const {
        bool found = false;
        walk([&](size_t e, uint32_t tag, uint32_t value) {
            if (tag == 262 && (value == 32803 || value == 34892)) found = true;  // CFA, linear raw
            if (tag == 259 && isCameraCompression(value)) found = true;
            if (tag == 50706) found = true;  // DNG version
            (void)e;
        }, [] {});
        return found;
    }

    // Whether a directory names the DNG version the file follows.
    bool holdDngVersion() const {
        bool found = false;
        walk([&](size_t, uint32_t tag, uint32_t) { found = found || tag == 50706; }, [] {});
        return found;
    }

    // The JPEGs and RGB pictures the directories point to (previews and thumbnails).
    std::vector<RawEmbeddedPicture> pictures() const {
        struct Fields {
            uint32_t width = 0, height = 0, bits = 0, compression = 0, photometric = 0, samples = 0;
            uint32_t strips = 0, stripOffset = 0, stripBytes = 0, jpegOffset = 0, jpegBytes = 0;
        } f;
        std::vector<RawEmbeddedPicture> found;
        const auto add = [&](bool jpeg, size_t offset, size_t length, int w, int h) {
            if (offset > 0 && length > 0 && offset <= in_.size && length <= in_.size - offset)
                found.push_back({jpeg, Bytes{in_.data + offset, length}, w, h});
        };
        walk(
            [&](size_t e, uint32_t tag, uint32_t value) {
                switch (tag) {
                case 256: f.width = value; break;
                case 257: f.height = value; break;
                case 258: f.bits = value; break;
                case 259: f.compression = value; break;
                case 262: f.photometric = value; break;
                case 273: f.strips = u32(e + 4), f.stripOffset = value; break;
                case 277: f.samples = value; break;
                case 279: f.stripBytes = value; break;
                case 513: f.jpegOffset = value; break;
                case 514: f.jpegBytes = value; break;
                default: break;
                }
            },
            [&] {
                if (f.jpegOffset && f.jpegBytes) add(true, f.jpegOffset, f.jpegBytes, 0, 0);
                const bool sensor = f.photometric == 32803 || f.photometric == 34892;
                if (!sensor && f.strips == 1 && (f.compression == 6 || f.compression == 7))
                    add(true, f.stripOffset, f.stripBytes, 0, 0);
                if (!sensor && f.strips == 1 && f.compression == 1 && f.photometric == 2 && f.samples == 3 &&
                    f.bits == 8 && f.width > 0 && f.height > 0 && uint64_t(f.width) * f.height * 3 <= f.stripBytes)
                    add(false, f.stripOffset, f.stripBytes, int(f.width), int(f.height));
                f = Fields{};
            });
        return found;
    }

private:
    // Calls `entry` for every entry of every directory (its offset, tag and first value)
    // and `done` after each directory.
    template <class Entry, class Done>
    void walk(Entry&& entry, Done&& done) const {
        size_t queue[32];
        size_t queued = 0, next = 0;
        queue[queued++] = u32(4);
        while (next < queued) {
            const size_t ifd = queue[next++];
            if (ifd < 8 || ifd + 2 > in_.size) continue;
            const uint32_t entries = u16(ifd);
            if (entries == 0 || ifd + 2 + size_t(entries) * 12 + 4 > in_.size) continue;
            for (uint32_t i = 0; i < entries; ++i) {
                const size_t e = ifd + 2 + size_t(i) * 12;
                const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
                // The first value: in the entry when the values fit its four bytes.
                const bool inEntry = type == 3 ? count <= 2 : count <= 1;
                const size_t at = inEntry ? e + 8 : u32(e + 8);
                const uint32_t value = type == 3 ? u16(at) : u32(at);
                entry(e, tag, value);
                if (tag == 330 && count >= 1 && count <= 8) {  // sub-IFDs
                    if (count == 1) {
                        if (queued < std::size(queue)) queue[queued++] = u32(e + 8);
                    } else {
                        const size_t list = u32(e + 8);
                        for (uint32_t k = 0; k < count && list + 4 * size_t(k) + 4 <= in_.size; ++k)
                            if (queued < std::size(queue)) queue[queued++] = u32(list + 4 * size_t(k));
                    }
                }
            }
            done();
            const size_t chained = u32(ifd + 2 + size_t(entries) * 12);
            if (chained && queued < std::size(queue)) queue[queued++] = chained;
        }
    }

    // Compression codes camera makers gave their own raw data.
    static bool isCameraCompression(uint32_t c) {
        return c == 32767 || c == 32769 || c == 32770 || c == 34713 || c == 65000 || c == 65535;
    }
    uint32_t u16(size_t at) const {
        if (at + 2 > in_.size) return 0;
        return little_ ? qFromLittleEndian<uint16_t>(in_.data + at) : qFromBigEndian<uint16_t>(in_.data + at);
    }
    uint32_t u32(size_t at) const {
        if (at + 4 > in_.size) return 0;
        return little_ ? qFromLittleEndian<uint32_t>(in_.data + at) : qFromBigEndian<uint32_t>(in_.data + at);
    }
    Bytes in_;
    bool little_;
};

const QString kDamagedRaw = QStringLiteral("the camera raw file is damaged");

}  // namespace

bool rawSniff(Bytes in) {
    if (startsWith(in, 0, "II*\0", 4) || startsWith(in, 0, "MM\0*", 4)) {
        if (startsWith(in, 8, "CR", 2)) return true;  // Canon CR2
        return TiffDirectories(in).holdSensorData();
    }
    // Containers of their own: Olympus, Panasonic and Leica, Fujifilm, Canon CRW and
    // CR3, Minolta, Sigma, Phase One.
    return startsWith(in, 0, "IIRO", 4) || startsWith(in, 0, "IIRS", 4) || startsWith(in, 0, "MMOR", 4) ||
           startsWith(in, 0, "IIU\0", 4) || startsWith(in, 0, "FUJIFILM", 8) ||
           (startsWith(in, 0, "II\x1A\0", 4) && startsWith(in, 6, "HEAPCCDR", 8)) ||
           (startsWith(in, 4, "ftypcrx ", 8)) || startsWith(in, 0, "\0MRM", 4) || startsWith(in, 0, "FOVb", 4) ||
           startsWith(in, 0, "IIII", 4) || startsWith(in, 0, "MMMM", 4);
}

std::vector<RawEmbeddedPicture> rawEmbeddedPictures(Bytes in) {
    if (!startsWith(in, 0, "II*\0", 4) && !startsWith(in, 0, "MM\0*", 4)) return {};
    return TiffDirectories(in).pictures();
}

bool rawKnownContainer(Bytes in) {
    if (startsWith(in, 0, "FOVb", 4)) return false;
    if (startsWith(in, 0, "II*\0", 4) || startsWith(in, 0, "MM\0*", 4)) {
        if (startsWith(in, 8, "CR", 2)) return true;
        return TiffDirectories(in).holdDngVersion();
    }
    return rawSniff(in);
}

const QString& rawDamagedWords() { return kDamagedRaw; }

ReadOnlyFacts rawFacts(Bytes in, bool metadata) {
    if (!rawSniff(in)) return ReadOnlyFacts{};
    return helperFacts(HelperCodec::Raw, in, metadata);
}

ImageHeader rawHeader(Bytes in) { return rawFacts(in).header; }

QImage rawDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    DecodeResult result = helperDecode(HelperCodec::Raw, in, options, name, kDamagedRaw);
    if (why) {
        why->failure = result.failure;
        why->detail = result.detail;
    }
    return std::move(result.image);
}

}  // namespace platform::codec
