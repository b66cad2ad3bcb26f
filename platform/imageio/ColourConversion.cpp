// Colour profiles from reading to writing: what a profile describes, carrying it with
// the pixels, and converting pixels to sRGB through Little CMS where a profile cannot
// stay with them. Every Little CMS call of the program is in this file.
#include "platform/imageio/CodecInternal.h"
#include "platform/coreimage/Parallel.h"
#include "platform/foundation/Log.h"

#include <QColorSpace>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QtEndian>
#include <array>
#include <cmath>
#include <cstring>
#include <lcms2.h>
#include <list>
#include <memory>

namespace platform {
namespace codec {
namespace {

// A CMYK file without a profile of its own is read through this one: Ghostscript's
// default press profile, installed with its ICC profile package.
const char* const kStandardCmykProfiles[] = {
    "/usr/share/color/icc/ghostscript/default_cmyk.icc",
    "/usr/share/color/icc/ghostscript/ps_cmyk.icc",
};

// Work units per pixel handed to parallelFor, so small pictures stay on one thread.
constexpr double kConversionCostPerPixel = 8.0;

QString spaceName(ProfileSpace space) {
    switch (space) {
    case ProfileSpace::RGB: return QStringLiteral("RGB");
    case ProfileSpace::Gray: return QStringLiteral("grey");
    case ProfileSpace::CMYK: return QStringLiteral("CMYK");
    case ProfileSpace::Lab: return QStringLiteral("CIELab");
    case ProfileSpace::Other: return QStringLiteral("unusable");
    case ProfileSpace::None: break;
    }
    return QStringLiteral("no");
}

QString modelName(ColourModel model) {
    switch (model) {
    case ColourModel::RGB: return QStringLiteral("RGB");
    case ColourModel::Gray: return QStringLiteral("grey");
    case ColourModel::CMYK: return QStringLiteral("CMYK");
    case ColourModel::Lab: return QStringLiteral("CIELab");
    }
    return QString();
}

struct ProfileHandle {
    cmsHPROFILE h = nullptr;
    explicit ProfileHandle(cmsHPROFILE p) : h(p) {}
    ~ProfileHandle() {
        if (h) cmsCloseProfile(h);
    }
    ProfileHandle(const ProfileHandle&) = delete;
    ProfileHandle& operator=(const ProfileHandle&) = delete;
};

// A transform into sRGB with what is known about it. Transforms are made without
// Little CMS's one-pixel cache, so one transform serves every thread at once.
struct Conversion {
    cmsHTRANSFORM transform = nullptr;
    // For grey profiles: each 8-bit value's sRGB value, applied to every channel.
    std::array<uint8_t, 256> grayCurve{};
    bool isSrgb = false;  // the conversion changes no colour by more than a level
    ~Conversion() {
        if (transform) cmsDeleteTransform(transform);
    }
};
using ConversionRef = std::shared_ptr<const Conversion>;

enum class Kind { Rgb, RgbPremultiplied, Gray, Cmyk, CmykInverted };

// Profiles come again and again in a batch (a camera's, a scanner's): their conversions
// are made once and kept, the few most recent ones.
class ConversionCache {
public:
    ConversionRef find(const QByteArray& icc, Kind kind) {
        QMutexLocker lock(&mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->kind == kind && it->icc == icc) {
                entries_.splice(entries_.begin(), entries_, it);
                return entries_.front().conversion;
            }
        }
        return nullptr;
    }
    void add(const QByteArray& icc, Kind kind, ConversionRef conversion) {
        QMutexLocker lock(&mutex_);
        entries_.push_front(Entry{icc, kind, std::move(conversion)});
        if (entries_.size() > kKept) entries_.pop_back();
    }

private:
    struct Entry {
        QByteArray icc;
        Kind kind;
        ConversionRef conversion;
    };
    static constexpr size_t kKept = 8;
    QMutex mutex_;
    std::list<Entry> entries_;
};

ConversionCache& cache() {
    static ConversionCache* c = new ConversionCache;  // never destroyed: workers may use it at exit
    return *c;
}

cmsHPROFILE openProfile(const QByteArray& icc) {
    if (icc.isEmpty()) return nullptr;
    return cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
}

cmsUInt32Number inputFormat(Kind kind) {
    switch (kind) {
    case Kind::Rgb: return TYPE_BGRA_8;
    case Kind::RgbPremultiplied: return TYPE_BGRA_8_PREMUL;
    case Kind::Gray: return TYPE_GRAY_8;
    case Kind::Cmyk: return TYPE_CMYK_8;
    case Kind::CmykInverted: return TYPE_CMYK_8_REV;
    }
    return 0;
}

ProfileSpace spaceOfKind(Kind kind) {
    switch (kind) {
    case Kind::Rgb:
    case Kind::RgbPremultiplied: return ProfileSpace::RGB;
    case Kind::Gray: return ProfileSpace::Gray;
    case Kind::Cmyk:
    case Kind::CmykInverted: return ProfileSpace::CMYK;
    }
    return ProfileSpace::Other;
}

ConversionRef makeConversion(const QByteArray& icc, Kind kind) {
    if (profileSpace(icc) != spaceOfKind(kind)) return nullptr;
    ProfileHandle from(openProfile(icc));
    ProfileHandle srgb(cmsCreate_sRGBProfile());
    if (!from.h || !srgb.h) return nullptr;
    auto c = std::make_shared<Conversion>();
    const bool premultiplied = kind == Kind::RgbPremultiplied;
    const cmsUInt32Number out = kind == Kind::Gray ? TYPE_RGB_8 : premultiplied ? TYPE_BGRA_8_PREMUL : TYPE_BGRA_8;
    cmsUInt32Number flags = cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION;
    if (kind == Kind::Rgb || premultiplied) flags |= cmsFLAGS_COPY_ALPHA;
    c->transform = cmsCreateTransform(from.h, inputFormat(kind), srgb.h, out, INTENT_PERCEPTUAL, flags);
    if (!c->transform) return nullptr;
    if (kind == Kind::Gray) {
        uint8_t in[256], rgb[256 * 3];
        for (int v = 0; v < 256; ++v) in[v] = uint8_t(v);
        cmsDoTransform(c->transform, in, rgb, 256);
        for (int v = 0; v < 256; ++v) c->grayCurve[size_t(v)] = rgb[v * 3 + 1];
        int worst = 0;
        for (int v = 0; v < 256; ++v) worst = std::max(worst, std::abs(int(c->grayCurve[size_t(v)]) - v));
        c->isSrgb = worst <= 1;
    } else if (kind == Kind::Rgb || premultiplied) {
        // Corners, edges and middles of the cube: a profile that moves none of them by
        // more than a level is sRGB under another name.
        uint8_t in[27 * 4], back[27 * 4];
        int n = 0;
        for (int b : {0, 128, 255})
            for (int g : {0, 128, 255})
                for (int r : {0, 128, 255}) {
                    in[n * 4] = uint8_t(b), in[n * 4 + 1] = uint8_t(g), in[n * 4 + 2] = uint8_t(r), in[n * 4 + 3] = 255;
                    ++n;
                }
        cmsDoTransform(c->transform, in, back, 27);
        int worst = 0;
        for (int i = 0; i < 27 * 4; ++i) worst = std::max(worst, std::abs(int(in[i]) - int(back[i])));
        c->isSrgb = worst <= 1;
    }
    return c;
}

ConversionRef conversionFor(const QByteArray& icc, Kind kind) {
    if (ConversionRef found = cache().find(icc, kind)) return found;
    ConversionRef made = makeConversion(icc, kind);
    if (made) cache().add(icc, kind, made);
    return made;
}

// A grey profile with sRGB's tone curve, for grey pictures whose own profile cannot be
// carried: their pixels are converted to it and it goes with them instead.
QByteArray srgbGrayProfile() {
    static const QByteArray profile = [] {
        const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
        cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
        if (!curve) return QByteArray();
        ProfileHandle gray(cmsCreateGrayProfile(cmsD50_xyY(), curve));
        cmsFreeToneCurve(curve);
        if (!gray.h) return QByteArray();
        cmsMLU* description = cmsMLUalloc(nullptr, 1);
        cmsMLUsetASCII(description, "en", "US", "Grey with the sRGB tone curve");
        cmsWriteTag(gray.h, cmsSigProfileDescriptionTag, description);
        cmsMLUfree(description);
        cmsUInt32Number size = 0;
        if (!cmsSaveProfileToMem(gray.h, nullptr, &size) || size == 0) return QByteArray();
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        if (!cmsSaveProfileToMem(gray.h, bytes.data(), &size)) return QByteArray();
        return bytes;
    }();
    return profile;
}

QByteArray standardCmykProfile() {
    static const QByteArray profile = [] {
        for (const char* path : kStandardCmykProfiles) {
            QFile f(QString::fromLatin1(path));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = f.readAll();
                if (profileSpace(bytes) == ProfileSpace::CMYK) return bytes;
            }
        }
        return QByteArray();
    }();
    return profile;
}

// Runs fn(firstRow, endRow) over the image's rows in bands on every core. The image is
// made the sole owner of its pixels first: a shared one would be copied by whichever band
// wrote first, and the others would write into the copy or not.
void forRowBands(QImage& image, const std::function<void(int, int)>& fn) {
    if (image.isNull() || !image.bits()) return;
    parallelFor(0, image.height(), fn, double(image.width()) * kConversionCostPerPixel);
}

void applyConversion(QImage& image, const Conversion& c) {
    const int width = image.width();
    forRowBands(image, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uchar* line = image.scanLine(y);
            cmsDoTransform(c.transform, line, line, cmsUInt32Number(width));
        }
    });
}

void applyGrayCurve(QImage& image, const Conversion& c) {
    const int width = image.width();
    const bool gray8 = image.format() == QImage::Format_Grayscale8;
    forRowBands(image, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uchar* line = image.scanLine(y);
            if (gray8) {
                for (int x = 0; x < width; ++x) line[x] = c.grayCurve[line[x]];
                continue;
            }
            auto* px = reinterpret_cast<uint32_t*>(line);
            for (int x = 0; x < width; ++x) {
                const uint32_t p = px[x];
                const uint32_t a = p >> 24;
                if (a == 0xFFu) {
                    px[x] = 0xFF000000u | (uint32_t(c.grayCurve[(p >> 16) & 0xFF]) << 16) |
                            (uint32_t(c.grayCurve[(p >> 8) & 0xFF]) << 8) | c.grayCurve[p & 0xFF];
                } else if (a != 0) {
                    // The curve applies to the colour, not to its product with the coverage.
                    auto channel = [&](uint32_t v) {
                        const uint32_t straight = std::min<uint32_t>(255, (v * 255 + a / 2) / a);
                        return (uint32_t(c.grayCurve[straight]) * a + 127) / 255;
                    };
                    px[x] = (a << 24) | (channel((p >> 16) & 0xFF) << 16) | (channel((p >> 8) & 0xFF) << 8) |
                            channel(p & 0xFF);
                }
            }
        }
    });
}

// Converts an image under an RGB or grey profile to sRGB in place; false when the
// profile is of no use.
bool convertToSrgbInPlace(QImage& image, const QByteArray& icc) {
    const ProfileSpace space = profileSpace(icc);
    if (space == ProfileSpace::Gray) {
        const ConversionRef c = conversionFor(icc, Kind::Gray);
        if (!c) return false;
        if (!c->isSrgb) applyGrayCurve(image, *c);
        return true;
    }
    if (space != ProfileSpace::RGB) return false;
    if (image.format() == QImage::Format_Grayscale8) image.convertTo(QImage::Format_RGB32);
    const bool opaque = isOpaque(image);
    const ConversionRef c = conversionFor(icc, opaque ? Kind::Rgb : Kind::RgbPremultiplied);
    if (!c) return false;
    if (c->isSrgb) return true;
    if (opaque) {
        // sRGB-like profiles aside, conversion needs 0xAARRGGBB words whatever the format.
        if (image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_RGB32 &&
            image.format() != QImage::Format_ARGB32)
            image.convertTo(QImage::Format_RGB32);
    } else if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    }
    applyConversion(image, *c);
    return true;
}

bool allGray(const QImage& image) {
    if (image.format() == QImage::Format_Grayscale8) return true;
    if (image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_RGB32 &&
        image.format() != QImage::Format_ARGB32)
        return allGray(image.convertToFormat(QImage::Format_RGB32));
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const auto* px = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        uint32_t differ = 0;
        for (int x = 0; x < width; ++x) {
            const uint32_t p = px[x];
            differ |= ((p >> 16) ^ p) & 0xFF;
            differ |= ((p >> 8) ^ p) & 0xFF;
        }
        if (differ) return false;
    }
    return true;
}

QImage toGrayscale8(const QImage& image) {
    if (image.format() == QImage::Format_Grayscale8) return image;
    QImage gray(image.size(), QImage::Format_Grayscale8);
    if (gray.isNull()) return QImage();
    const QImage words = image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32 ||
                                 image.format() == QImage::Format_ARGB32
                             ? image
                             : image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* src = reinterpret_cast<const uint32_t*>(words.constScanLine(y));
        uchar* dst = gray.scanLine(y);
        for (int x = 0; x < image.width(); ++x) dst[x] = uchar(src[x]);
    }
    return gray;
}

}  // namespace

ProfileSpace profileSpace(const QByteArray& icc) {
    if (icc.isEmpty()) return ProfileSpace::None;
    if (icc.size() < 132 || std::memcmp(icc.constData() + 36, "acsp", 4) != 0) return ProfileSpace::Other;
    const auto* p = reinterpret_cast<const uchar*>(icc.constData());
    if (qFromBigEndian<uint32_t>(p) > uint32_t(icc.size())) return ProfileSpace::Other;
    switch (qFromBigEndian<uint32_t>(p + 16)) {
    case 0x52474220u: return ProfileSpace::RGB;   // 'RGB '
    case 0x47524159u: return ProfileSpace::Gray;  // 'GRAY'
    case 0x434D594Bu: return ProfileSpace::CMYK;  // 'CMYK'
    case 0x4C616220u: return ProfileSpace::Lab;   // 'Lab '
    default: return ProfileSpace::Other;
    }
}

void attachProfile(QImage& image, const QByteArray& icc, ColourModel model, const QString& name) {
    if (icc.isEmpty() || image.isNull()) return;
    const ProfileSpace space = profileSpace(icc);
    const bool fits = (model == ColourModel::RGB && space == ProfileSpace::RGB) ||
                      (model == ColourModel::Gray && space == ProfileSpace::Gray);
    if (!fits) {
        log(u"%@: the file's %@ profile does not describe its %@ pixels; it is left out", name, spaceName(space),
            modelName(model));
        return;
    }
    if (setImageProfile(image, icc)) return;
    if (convertToSrgbInPlace(image, icc)) {
        // Grey stays grey, under a grey profile with sRGB's curve that the picture can carry.
        if (model == ColourModel::Gray) setImageProfile(image, srgbGrayProfile());
        log(u"%@: the file's colour profile was applied while reading (the pixels are now sRGB)", name);
        return;
    }
    log(u"%@: the file's colour profile cannot be used; it is left out", name);
}

void convertCmykToSrgb(QImage& image, const QByteArray& icc, bool inverted, const QString& name) {
    const Kind kind = inverted ? Kind::CmykInverted : Kind::Cmyk;
    ConversionRef c;
    if (profileSpace(icc) == ProfileSpace::CMYK) c = conversionFor(icc, kind);
    if (!c && !icc.isEmpty()) log(u"%@: the file's colour profile cannot be used for its CMYK pixels", name);
    if (!c) {
        const QByteArray standard = standardCmykProfile();
        if (!standard.isEmpty()) c = conversionFor(standard, kind);
    }
    const int width = image.width();
    if (!c) {
        log(u"%@: no CMYK profile is installed; its colours are approximated", name);
        forRowBands(image, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                uint8_t* p = image.scanLine(y);
                for (int x = 0; x < width; ++x, p += 4) {
                    int cy = p[0], m = p[1], ye = p[2], k = p[3];
                    if (!inverted) cy = 255 - cy, m = 255 - m, ye = 255 - ye, k = 255 - k;
                    p[2] = uint8_t(cy * k / 255);
                    p[1] = uint8_t(m * k / 255);
                    p[0] = uint8_t(ye * k / 255);
                    p[3] = 255;
                }
            }
        });
        return;
    }
    forRowBands(image, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uchar* line = image.scanLine(y);
            cmsDoTransform(c->transform, line, line, cmsUInt32Number(width));
            // The fourth byte still holds the black ink.
            for (int x = 0; x < width; ++x) line[4 * x + 3] = 255;
        }
    });
}

LabToSrgb::LabToSrgb(double whiteX, double whiteY) {
    cmsCIExyY white{whiteX, whiteY, 1.0};
    ProfileHandle lab(cmsCreateLab4Profile(&white));
    ProfileHandle srgb(cmsCreate_sRGBProfile());
    if (!lab.h || !srgb.h) return;
    transform_ = cmsCreateTransform(lab.h, TYPE_Lab_FLT, srgb.h, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                    cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION);
}

LabToSrgb::~LabToSrgb() {
    if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void LabToSrgb::convert(const float* lab, uint32_t* out, int count) const {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), lab, out, cmsUInt32Number(count));
    for (int i = 0; i < count; ++i) out[i] |= 0xFF000000u;
}

QImage flattenedOnWhite(const QImage& image) {
    if (isOpaque(image)) return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return QImage();
    out.setColorSpace(image.colorSpace());
    const int width = out.width();
    forRowBands(out, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            auto* px = reinterpret_cast<uint32_t*>(out.scanLine(y));
            for (int x = 0; x < width; ++x) {
                // Premultiplied colour over white: c + (255 - a) in every channel.
                const uint32_t p = px[x];
                const uint32_t white = 255 - (p >> 24);
                auto over = [&](uint32_t c) { return std::min<uint32_t>(255, c + white); };
                px[x] = 0xFF000000u | (over((p >> 16) & 0xFF) << 16) | (over((p >> 8) & 0xFF) << 8) | over(p & 0xFF);
            }
        }
    });
    return out;
}

}  // namespace codec

using codec::ProfileSpace;
using codec::profileSpace;

QByteArray imageProfile(const QImage& image) {
    const QColorSpace space = image.colorSpace();
    return space.isValid() ? space.iccProfile() : QByteArray();
}

bool setImageProfile(QImage& image, const QByteArray& icc) {
    const ProfileSpace space = profileSpace(icc);
    if (space != ProfileSpace::RGB && space != ProfileSpace::Gray) return false;
    const QColorSpace carried = QColorSpace::fromIccProfile(icc);
    if (!carried.isValid()) return false;
    image.setColorSpace(carried);
    return true;
}

QByteArray decodedPixelProfile(const ImageHeader& header) {
    const ProfileSpace space = profileSpace(header.iccProfile);
    const bool fits = (header.colourModel == ColourModel::RGB && space == ProfileSpace::RGB) ||
                      (header.colourModel == ColourModel::Gray && space == ProfileSpace::Gray);
    if (!fits || !QColorSpace::fromIccProfile(header.iccProfile).isValid()) return QByteArray();
    return header.iccProfile;
}

ColourTarget colourTargetOf(ImageType type) {
    switch (type) {
    case ImageType::JPEG: return {true, true, false};
    case ImageType::PNG:
    case ImageType::TIFF:
    case ImageType::JPEG2000: return {true, true, true};
    case ImageType::BMP:
    case ImageType::GIF: return {false, false, true};
    }
    return {};
}

OutputPixels pixelsForOutput(const QImage& image, const ColourTarget& target) {
    OutputPixels out{image, imageProfile(image)};
    if (!target.holdsAlpha) out.pixels = codec::flattenedOnWhite(out.pixels);
    const ProfileSpace space = profileSpace(out.icc);
    if (space == ProfileSpace::None) return out;
    if (space == ProfileSpace::RGB && target.holdsProfile) {
        // RGB profiles go with RGB pixels; a picture that became grey stays grey, as sRGB.
        if (out.pixels.format() == QImage::Format_Grayscale8) out.icc.clear();
        return out;
    }
    if (space == ProfileSpace::Gray && target.holdsProfile && target.holdsGray && codec::isOpaque(out.pixels) &&
        codec::allGray(out.pixels)) {
        QImage gray = codec::toGrayscale8(out.pixels);
        if (!gray.isNull()) {
            out.pixels = gray;
            return out;
        }
    }
    // Everything else goes out as sRGB, which needs no profile.
    QImage converted = out.pixels;
    converted.setColorSpace(QColorSpace());
    if (codec::convertToSrgbInPlace(converted, out.icc)) {
        out.pixels = converted;
    } else {
        log(u"a %@ colour profile cannot go with the picture as written; it is left out",
            codec::spaceName(space));
    }
    out.icc.clear();
    return out;
}

}  // namespace platform
