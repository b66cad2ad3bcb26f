// Windows icons and cursors (ICO, CUR): a directory of pictures, each a PNG file or a BMP
// picture followed by its one-bit transparency mask. The largest picture is read, and of
// pictures of one size the deepest, through this program's own PNG and BMP readers. Sizes
// and depths are taken from the pictures' own headers: the directory's one-byte sizes
// cannot say more than 256, and writers often leave its depth out.
#include "platform/imageio/ReadOnlyCodecs.h"
#include "platform/foundation/Log.h"

#include <QtEndian>
#include <cstring>

namespace platform::codec {
namespace {

struct IconPicture {
    Bytes bytes;
    bool png = false;
    int64_t width = 0, height = 0;
    int bits = 0;  // a pixel's bits as stored
};

// A PNG picture's size and bits a pixel, from its header chunk.
bool readPngHeader(IconPicture& picture) {
    const uint8_t* d = picture.bytes.data;
    if (picture.bytes.size < 33 || std::memcmp(d + 12, "IHDR", 4) != 0) return false;
    picture.width = qFromBigEndian<uint32_t>(d + 16);
    picture.height = qFromBigEndian<uint32_t>(d + 20);
    const int depth = d[24], type = d[25];
    picture.bits = depth * (type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1);
    return picture.width > 0 && picture.height > 0;
}

// The picture to read; false, with the reason, when the directory points outside the file
// or a picture's header is not one.
bool choose(Bytes in, IconPicture& best, const char*& wrong) {
    const size_t count = qFromLittleEndian<uint16_t>(in.data + 4);
    const size_t directoryEnd = 6 + 16 * count;
    if (count == 0 || in.size < directoryEnd) {
        wrong = "its directory is cut short";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = in.data + 6 + 16 * i;
        const uint64_t size = qFromLittleEndian<uint32_t>(entry + 8), offset = qFromLittleEndian<uint32_t>(entry + 12);
        if (size == 0 || offset < directoryEnd || offset > in.size || size > in.size - offset) {
            wrong = "its directory points outside the file";
            return false;
        }
        IconPicture picture;
        picture.bytes = Bytes{in.data + offset, size_t(size)};
        picture.png = size >= 8 && std::memcmp(picture.bytes.data, "\x89PNG\r\n\x1A\n", 8) == 0;
        if (picture.png) {
            if (!readPngHeader(picture)) {
                wrong = "one of its PNG pictures has no header";
                return false;
            }
        } else {
            const ImageFacts facts = iconBitmapFacts(picture.bytes, &picture.bits);
            picture.width = facts.header.width;
            picture.height = facts.header.height;
            if (!facts.header.valid()) {
                wrong = "one of its bitmaps has no header";
                return false;
            }
        }
        const int64_t area = picture.width * picture.height, bestArea = best.width * best.height;
        if (area > bestArea || (area == bestArea && picture.bits > best.bits)) best = picture;
    }
    return true;
}

}  // namespace

ReadOnlyFacts icoFacts(Bytes in) {
    IconPicture best;
    const char* wrong = nullptr;
    if (in.size < 6 || !choose(in, best, wrong)) return ReadOnlyFacts{};
    ReadOnlyFacts facts;
    facts.header.format = ImageFormat::ICO;
    facts.header.width = int(std::min<int64_t>(best.width, INT32_MAX));
    facts.header.height = int(std::min<int64_t>(best.height, INT32_MAX));
    // The profile the decoded picture carries.
    facts.header.iccProfile = best.png ? pngFacts(best.bytes).header.iccProfile : iconBitmapFacts(best.bytes).header.iccProfile;
    facts.depth = 8;
    facts.hasAlpha = true;  // a mask or an alpha channel, every picture has one
    facts.metadataInBlocks = true;  // no EXIF or XMP
    return facts;
}

QImage icoDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    IconPicture best;
    const char* wrong = nullptr;
    if (in.size < 6 || !choose(in, best, wrong)) {
        log(u"%@: ICO is damaged: %@", name, QString::fromLatin1(wrong ? wrong : "it is too short"));
        return decodeFailed(why, DecodeFailure::Damaged,
                            QStringLiteral("the icon is damaged: ") + QLatin1String(wrong ? wrong : "it is too short"));
    }
    if (!checkBudget(best.width, best.height, options, name, "ICO", why)) return QImage();
    return best.png ? pngDecode(best.bytes, options, name, why) : iconBitmapDecode(best.bytes, options, name, why);
}

}  // namespace platform::codec
