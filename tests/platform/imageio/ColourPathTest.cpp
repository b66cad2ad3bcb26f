// Colour profiles from reading to writing, on real profiles from Debian packages: which
// outputs keep a profile, which are converted to sRGB, which stay grey, and that no
// profile ever fails an output.
#include "platform/imageio/ImageIO.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <tiffio.h>
#include <vector>

using platform::ImageType;
using testsupport::adobeRgbInSrgb;
using testsupport::JpegColours;
using testsupport::libjpegFile;
using testsupport::srgbEncode;

namespace {

// Flat 8 x 8 patches side by side, so lossy outputs keep each patch's colour.
constexpr int kPatch = 8;
QImage patches(const std::vector<QRgb>& colours, bool gray = false) {
    QImage img(kPatch * int(colours.size()), kPatch, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    for (int i = 0; i < int(colours.size()); ++i)
        for (int y = 0; y < kPatch; ++y)
            for (int x = 0; x < kPatch; ++x) {
                if (gray)
                    img.scanLine(y)[i * kPatch + x] = uchar(qRed(colours[size_t(i)]));
                else
                    img.setPixel(i * kPatch + x, y, colours[size_t(i)]);
            }
    return img;
}
QRgb patchColour(const QImage& img, int i) { return img.pixel(i * kPatch + kPatch / 2, kPatch / 2); }

// Inks (0..255: C, M, Y, K) as flat patches of a picture for libjpegFile's CMYK.
QImage inkPatches(const std::vector<std::array<int, 4>>& inks) {
    QImage img(kPatch * int(inks.size()), kPatch, QImage::Format_ARGB32);
    for (int x = 0; x < img.width(); ++x) {
        const auto& ink = inks[size_t(x / kPatch)];
        for (int y = 0; y < kPatch; ++y) img.setPixel(x, y, qRgba(ink[0], ink[1], ink[2], ink[3]));
    }
    return img;
}

// A grey level whose value is L* (0..255 for 0..100), in sRGB.
int lstarInSrgb(int v) {
    const double L = v * 100.0 / 255.0;
    const double Y = L > 8.0 ? std::pow((L + 16.0) / 116.0, 3.0) : L / 903.3;
    return int(std::lround(srgbEncode(Y)));
}

// Inks (0..255 each) in sRGB through a CMYK profile, in double precision.
QRgb cmykInSrgb(const std::array<int, 4>& inks, const QByteArray& icc) {
    cmsHPROFILE cmyk = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(cmyk, TYPE_CMYK_DBL, srgb, TYPE_RGB_DBL, INTENT_PERCEPTUAL,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION);
    const double in[4] = {inks[0] * 100.0 / 255.0, inks[1] * 100.0 / 255.0, inks[2] * 100.0 / 255.0,
                          inks[3] * 100.0 / 255.0};
    double out[3] = {0, 0, 0};
    cmsDoTransform(t, in, out, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(cmyk);
    auto to8 = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return qRgb(to8(out[0]), to8(out[1]), to8(out[2]));
}

// What CMYK became before it went through a profile: complements multiplied.
QRgb plainFormula(const std::array<int, 4>& inks) {
    const int k = 255 - inks[3];
    return qRgb((255 - inks[0]) * k / 255, (255 - inks[1]) * k / 255, (255 - inks[2]) * k / 255);
}

// An uncompressed CMYK TIFF of `width` pixels a row, each pixel's inks (0..255) from
// `inks` in turn, with the profile embedded when there is one.
void writeCmykTiff(const QString& path, int width, const std::vector<std::array<int, 4>>& inks,
                   const QByteArray& icc, int bits = 8) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_TRUE(tif);
    const int height = (int(inks.size()) + width - 1) / width;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (!icc.isEmpty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
    std::vector<uint16_t> row16(size_t(width) * 4);
    std::vector<uint8_t> row8(size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 4; ++k) {
                const int ink = inks[size_t(y * width + x) % inks.size()][size_t(k)];
                row8[size_t(x) * 4 + size_t(k)] = uint8_t(ink);
                row16[size_t(x) * 4 + size_t(k)] = uint16_t(ink * 257);
            }
        TIFFWriteScanline(tif, bits == 8 ? static_cast<void*>(row8.data()) : row16.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
}

int distance(QRgb a, QRgb b) { return testsupport::colourDistance(a, b); }

const ImageType kAllTypes[] = {ImageType::JPEG, ImageType::PNG,  ImageType::TIFF,
                               ImageType::JPEG2000, ImageType::BMP, ImageType::GIF};
const char* typeName(ImageType t) {
    switch (t) {
    case ImageType::JPEG: return "JPEG";
    case ImageType::PNG: return "PNG";
    case ImageType::TIFF: return "TIFF";
    case ImageType::JPEG2000: return "JPEG 2000";
    case ImageType::BMP: return "BMP";
    case ImageType::GIF: return "GIF";
    }
    return "?";
}
bool holdsProfile(ImageType t) { return t != ImageType::BMP && t != ImageType::GIF; }

}  // namespace

// libpng refuses to write the widespread sRGB profile ("known incorrect sRGB profile"):
// a JPEG carrying it must still become a PNG, and every output that holds a profile
// carries it byte for byte.
TEST(ColourPath, WidespreadSrgbProfileReachesEveryOutputThatHoldsOne) {
    QTemporaryDir dir;
    const QByteArray srgb = testsupport::widespreadSrgbProfile();
    const QImage photo = testsupport::gradientImage(48, 32).convertToFormat(QImage::Format_RGB32);
    const QString source = testsupport::writeFile(dir.filePath("camera.jpg"), libjpegFile(photo, srgb, JpegColours::RGB));
    const QImage read = platform::readImage(source);
    ASSERT_FALSE(read.isNull());
    EXPECT_EQ(platform::imageProfile(read), srgb);
    for (ImageType type : kAllTypes) {
        SCOPED_TRACE(typeName(type));
        const QString path = dir.filePath(QStringLiteral("out.") + typeName(type));
        ASSERT_TRUE(platform::writeImageFile(path, read, type, 0.9, {{QStringLiteral("Orientation"), 1}}));
        EXPECT_EQ(platform::readImageHeader(path).iccProfile, holdsProfile(type) ? srgb : QByteArray());
        // It is sRGB: the outputs without a profile need no conversion.
        const QImage back = platform::readImage(path);
        ASSERT_EQ(back.size(), read.size());
        if (!holdsProfile(type) && type != ImageType::GIF) { EXPECT_LE(testsupport::maxDiff(back, read), 1); }
    }
    EXPECT_EQ(testsupport::pngChunkProfile(platform::encodeImage(read, ImageType::PNG, 1.0)), srgb);
}

// Per output type: an RGB profile is embedded where the type holds one and applied
// (converted to sRGB) where it does not; a grey photo under a grey profile stays grey
// with it, or is converted.
TEST(ColourPath, EachOutputEmbedsConvertsOrWritesGrey) {
    QTemporaryDir dir;
    const std::vector<QRgb> colours = {qRgb(200, 150, 100), qRgb(30, 180, 60), qRgb(90, 40, 220), qRgb(128, 128, 128)};
    const std::vector<QRgb> greys = {qRgb(20, 20, 20), qRgb(64, 64, 64), qRgb(128, 128, 128), qRgb(230, 230, 230)};
    struct Source {
        const char* name;
        QByteArray icc;
        bool gray;
        std::vector<QRgb> values;
        std::function<QRgb(QRgb)> inSrgb;
    } sources[] = {
        {"Adobe RGB photo", testsupport::debianProfile(testsupport::kAdobeRgbProfile), false, colours, adobeRgbInSrgb},
        {"grey photo with a linear grey profile", testsupport::debianProfile(testsupport::kGrayLinearProfile), true, greys,
         [](QRgb c) {
             const int v = int(std::lround(srgbEncode(qRed(c) / 255.0)));
             return qRgb(v, v, v);
         }},
    };
    for (const Source& s : sources) {
        const QString source = testsupport::writeFile(dir.filePath("source.jpg"),
                                                      libjpegFile(patches(s.values, s.gray), s.icc, s.gray ? JpegColours::Gray : JpegColours::RGB));
        const QImage read = platform::readImage(source);
        ASSERT_FALSE(read.isNull()) << s.name;
        EXPECT_EQ(platform::imageProfile(read), s.icc) << s.name;
        for (ImageType type : kAllTypes) {
            SCOPED_TRACE(std::string(s.name) + ", " + typeName(type));
            const QString path = dir.filePath(QStringLiteral("out.") + typeName(type));
            ASSERT_TRUE(platform::writeImageFile(path, read, type, 1.0));
            const platform::ImageHeader header = platform::readImageHeader(path);
            EXPECT_EQ(header.iccProfile, holdsProfile(type) ? s.icc : QByteArray());
            EXPECT_EQ(header.gray(), s.gray && holdsProfile(type));
            const QImage back = platform::readImage(path);
            for (int i = 0; i < int(s.values.size()); ++i) {
                const QRgb want = holdsProfile(type) ? s.values[size_t(i)] : s.inSrgb(s.values[size_t(i)]);
                EXPECT_LE(distance(patchColour(back, i), want), 2) << i;
            }
        }
    }
    // The conversion is not a small one: Adobe RGB written as it is would be far off.
    EXPECT_GT(distance(adobeRgbInSrgb(colours[1]), colours[1]), 20);
}

// A grey profile that a picture cannot carry as it is (an L* curve) is applied while
// reading: the photo stays grey, under a grey profile of sRGB's curve, and converts to
// the right values everywhere.
TEST(ColourPath, GreyProfileWithAnLstarCurveKeepsThePhotoGrey) {
    QTemporaryDir dir;
    const std::vector<QRgb> greys = {qRgb(20, 20, 20), qRgb(64, 64, 64), qRgb(128, 128, 128), qRgb(230, 230, 230)};
    const QString source = testsupport::writeFile(dir.filePath("lstar.jpg"),
                                                  libjpegFile(patches(greys, true), testsupport::debianProfile(testsupport::kGrayLstarProfile), JpegColours::Gray));
    const QImage read = platform::readImage(source);
    ASSERT_FALSE(read.isNull());
    for (int i = 0; i < int(greys.size()); ++i) {
        const int want = lstarInSrgb(qRed(greys[size_t(i)]));
        EXPECT_LE(distance(patchColour(read, i), qRgb(want, want, want)), 2) << i;
    }
    for (ImageType type : {ImageType::JPEG, ImageType::PNG, ImageType::TIFF}) {
        SCOPED_TRACE(typeName(type));
        const QString path = dir.filePath(QStringLiteral("out.") + typeName(type));
        ASSERT_TRUE(platform::writeImageFile(path, read, type, 1.0));
        EXPECT_TRUE(platform::readImageHeader(path).gray());
        const QImage back = platform::readImage(path);
        ASSERT_EQ(back.size(), read.size());
        EXPECT_LE(testsupport::maxDiff(back, read), 2);
    }
}

// A grey photo that an effect coloured is written in colour: its grey profile's curve
// turns into sRGB's for every channel.
TEST(ColourPath, ColouredPictureUnderAGreyProfileIsConvertedToSrgb) {
    QImage picture = patches({qRgb(200, 40, 40), qRgb(40, 200, 40)});
    ASSERT_TRUE(platform::setImageProfile(picture, testsupport::debianProfile(testsupport::kGrayLinearProfile)));
    const int high = int(std::lround(srgbEncode(200 / 255.0))), low = int(std::lround(srgbEncode(40 / 255.0)));
    for (ImageType type : {ImageType::PNG, ImageType::JPEG}) {
        SCOPED_TRACE(typeName(type));
        const QByteArray bytes = platform::encodeImage(picture, type, 1.0);
        const platform::ImageHeader header = platform::readImageHeaderFromData(bytes);
        EXPECT_FALSE(header.gray());
        EXPECT_TRUE(header.iccProfile.isEmpty());
        EXPECT_LE(distance(patchColour(platform::readImageFromData(bytes), 0), qRgb(high, low, low)), 2);
        EXPECT_LE(distance(patchColour(platform::readImageFromData(bytes), 1), qRgb(low, high, low)), 2);
    }
}

// CMYK JPEGs and TIFFs are read through their embedded profile, or through the standard
// press profile when they have none, not by complementing the inks.
TEST(ColourPath, CmykIsReadThroughItsProfileOrTheStandardOne) {
    QTemporaryDir dir;
    const std::vector<std::array<int, 4>> inks = {
        {0, 0, 255, 0}, {255, 0, 255, 0}, {0, 255, 0, 0}, {128, 64, 0, 30}, {40, 40, 40, 200}, {0, 0, 0, 0},
    };
    const QByteArray press = testsupport::debianProfile(testsupport::kPressCmykProfile);
    const QByteArray ps = testsupport::debianProfile(testsupport::kPsCmykProfile);
    struct Case {
        const char* name;
        QByteArray embedded;
        QByteArray reference;
        bool tiff;
        int bits;
    } cases[] = {
        {"JPEG with the press profile", press, press, false, 8},
        {"JPEG with another profile", ps, ps, false, 8},
        {"JPEG without a profile", {}, press, false, 8},
        {"8-bit TIFF with the press profile", press, press, true, 8},
        {"16-bit TIFF with the press profile", press, press, true, 16},
        {"16-bit TIFF without a profile", {}, press, true, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.tiff ? "cmyk.tif" : "cmyk.jpg");
        if (c.tiff) {
            std::vector<std::array<int, 4>> pixels;
            for (int y = 0; y < kPatch; ++y)
                for (int x = 0; x < kPatch * int(inks.size()); ++x) pixels.push_back(inks[size_t(x / kPatch)]);
            writeCmykTiff(path, kPatch * int(inks.size()), pixels, c.embedded, c.bits);
        } else {
            testsupport::writeFile(path, libjpegFile(inkPatches(inks), c.embedded, JpegColours::CMYK));
        }
        EXPECT_EQ(platform::readImageHeader(path).colourModel, platform::ColourModel::CMYK);
        const QImage read = platform::readImage(path);
        ASSERT_FALSE(read.isNull());
        // The pixels are sRGB now: the CMYK profile does not go with them.
        EXPECT_TRUE(platform::imageProfile(read).isEmpty());
        EXPECT_TRUE(platform::decodedPixelProfile(platform::readImageHeader(path)).isEmpty());
        // The profile matters: the plain formula, or the other profile, is far off.
        int farFromOther = 0;
        for (int i = 0; i < int(inks.size()); ++i) {
            const QRgb got = patchColour(read, i);
            EXPECT_LE(distance(got, cmykInSrgb(inks[size_t(i)], c.reference)), 4) << i;
            const QRgb other = c.reference == press ? plainFormula(inks[size_t(i)]) : cmykInSrgb(inks[size_t(i)], press);
            if (distance(got, other) > 10) ++farFromOther;
        }
        EXPECT_GE(farFromOther, 2);
    }
}

// How far 8-bit sRGB colours are from Little CMS's double-precision ones, in levels of
// the farthest channel: the mean, the 95th percentile and the worst.
struct Spread {
    double mean = 0, p95 = 0, worst = 0;
};
Spread spreadFrom(const std::vector<double>& exact, const std::function<QRgb(size_t)>& got) {
    const size_t n = exact.size() / 3;
    std::vector<double> far(n);
    Spread s;
    for (size_t i = 0; i < n; ++i) {
        const QRgb c = got(i);
        const int values[3] = {qRed(c), qGreen(c), qBlue(c)};
        for (size_t ch = 0; ch < 3; ++ch)
            far[i] = std::max(far[i], std::abs(values[ch] - std::clamp(exact[i * 3 + ch], 0.0, 1.0) * 255.0));
        s.mean += far[i] / double(n);
        s.worst = std::max(s.worst, far[i]);
    }
    std::sort(far.begin(), far.end());
    s.p95 = far[n * 95 / 100];
    return s;
}

// Every pixel of a CMYK picture goes through the profile as closely as Little CMS's own
// 8-bit transform takes it: the corners, edges and inside of the ink cube, at grid points
// and between them, in rows whose width is no multiple of eight. Two profiles in turn,
// the first again last: each read goes through its own profile, not the last one used.
TEST(ColourPath, CmykPixelsFollowTheProfileAcrossTheInkCube) {
    const int levels[] = {0, 1, 15, 16, 17, 64, 127, 128, 129, 200, 239, 240, 254, 255};
    std::vector<std::array<int, 4>> inks;
    for (int k : levels)
        for (int y : levels)
            for (int m : levels)
                for (int c : levels) inks.push_back({c, m, y, k});
    std::vector<double> percentages;
    std::vector<uint8_t> bytes;
    for (const auto& ink : inks)
        for (int v : ink) percentages.push_back(v * 100.0 / 255.0), bytes.push_back(uint8_t(v));
    constexpr int kWidth = 263;
    const QByteArray press = testsupport::debianProfile(testsupport::kPressCmykProfile);
    const QByteArray ps = testsupport::debianProfile(testsupport::kPsCmykProfile);
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray icc;
    } reads[] = {{"press", press}, {"PostScript", ps}, {"press again", press}};
    for (const auto& r : reads) {
        SCOPED_TRACE(r.name);
        const QString path = dir.filePath(QStringLiteral("cube.tif"));
        writeCmykTiff(path, kWidth, inks, r.icc);
        const QImage read = platform::readImage(path);
        ASSERT_EQ(read.size(), QSize(kWidth, (int(inks.size()) + kWidth - 1) / kWidth));

        cmsHPROFILE cmyk = cmsOpenProfileFromMem(r.icc.constData(), cmsUInt32Number(r.icc.size()));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        const cmsUInt32Number flags = cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION;
        cmsHTRANSFORM exact = cmsCreateTransform(cmyk, TYPE_CMYK_DBL, srgb, TYPE_RGB_DBL, INTENT_PERCEPTUAL,
                                                 flags | cmsFLAGS_NOOPTIMIZE);
        cmsHTRANSFORM eightBit = cmsCreateTransform(cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, flags);
        ASSERT_TRUE(exact && eightBit);
        std::vector<double> precise(inks.size() * 3);
        std::vector<uint8_t> lcms8(inks.size() * 3);
        cmsDoTransform(exact, percentages.data(), precise.data(), cmsUInt32Number(inks.size()));
        cmsDoTransform(eightBit, bytes.data(), lcms8.data(), cmsUInt32Number(inks.size()));
        cmsDeleteTransform(exact);
        cmsDeleteTransform(eightBit);
        cmsCloseProfile(srgb);
        cmsCloseProfile(cmyk);

        const Spread ours = spreadFrom(precise, [&](size_t i) { return read.pixel(int(i % kWidth), int(i / kWidth)); });
        const Spread theirs =
            spreadFrom(precise, [&](size_t i) { return qRgb(lcms8[i * 3], lcms8[i * 3 + 1], lcms8[i * 3 + 2]); });
        EXPECT_LE(ours.mean, theirs.mean + 0.05);
        EXPECT_LE(ours.p95, theirs.p95 + 0.5);
        EXPECT_LE(ours.worst, theirs.worst + 1.0);
        // A pixel's colour does not depend on where in its row it lies (rows are done
        // eight pixels at a time where the processor can, the rest one by one).
        constexpr int kOtherWidth = 257;
        writeCmykTiff(path, kOtherWidth, inks, r.icc);
        const QImage narrower = platform::readImage(path);
        ASSERT_FALSE(narrower.isNull());
        int moved = 0;
        for (size_t i = 0; i < inks.size(); ++i) {
            const QRgb here = read.pixel(int(i % kWidth), int(i / kWidth));
            EXPECT_EQ(qAlpha(here), 255);
            if (here != narrower.pixel(int(i % kOtherWidth), int(i / kOtherWidth))) ++moved;
        }
        EXPECT_EQ(moved, 0);
    }
}

// No profile, however odd, fails a photo: one that does not fit the pixels (grey on
// colour, CMYK or an abstract Lab profile on RGB, bytes that are no profile) is left out
// and the photo goes to every output.
TEST(ColourPath, OddProfilesNeverFailAnOutput) {
    QTemporaryDir dir;
    const QImage colour = testsupport::gradientImage(40, 24).convertToFormat(QImage::Format_RGB32);
    struct Case {
        const char* name;
        QByteArray icc;
        JpegColours space;
    } cases[] = {
        {"grey profile on a colour photo", testsupport::debianProfile(testsupport::kSGrayProfile), JpegColours::RGB},
        {"CMYK profile on a colour photo", testsupport::debianProfile(testsupport::kPsCmykProfile), JpegColours::RGB},
        {"abstract Lab profile", testsupport::debianProfile(testsupport::kLabAbstractProfile), JpegColours::RGB},
        {"RGB profile on a grey photo", testsupport::debianProfile(testsupport::kAdobeRgbProfile), JpegColours::Gray},
        {"bytes that are no profile", QByteArray(600, 'x'), JpegColours::RGB},
        {"a profile cut short", testsupport::debianProfile(testsupport::kAdobeRgbProfile).left(300), JpegColours::RGB},
    };
    for (const Case& c : cases) {
        const QString source = testsupport::writeFile(dir.filePath("odd.jpg"), libjpegFile(colour, c.icc, c.space));
        const QImage read = platform::readImage(source);
        ASSERT_FALSE(read.isNull()) << c.name;
        EXPECT_TRUE(platform::imageProfile(read).isEmpty()) << c.name;
        for (ImageType type : kAllTypes) {
            SCOPED_TRACE(std::string(c.name) + ", " + typeName(type));
            const QString path = dir.filePath(QStringLiteral("out.") + typeName(type));
            ASSERT_TRUE(platform::writeImageFile(path, read, type, 0.9));
            EXPECT_FALSE(platform::readImage(path).isNull());
        }
    }
}

// JPEG has no transparency: what is transparent goes on white, not black.
TEST(ColourPath, TransparencyIntoJpegGoesOnWhite) {
    QImage picture(16, 8, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x) picture.setPixel(x, y, qRgba(255, 0, 0, 128));
    const QImage back = platform::readImageFromData(
        platform::encodeImage(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), ImageType::JPEG, 1.0));
    EXPECT_LE(distance(back.pixel(4, 4), qRgb(255, 255, 255)), 2);
    EXPECT_LE(distance(back.pixel(12, 4), qRgb(255, 127, 127)), 3);
}

// Partly transparent pixels are converted as the colour they show: their coverage stays.
TEST(ColourPath, PartlyTransparentPixelsConvertAsTheirColour) {
    QImage picture(8, 8, QImage::Format_ARGB32);
    picture.fill(qRgba(30, 180, 60, 128));
    picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_TRUE(platform::setImageProfile(picture, testsupport::debianProfile(testsupport::kAdobeRgbProfile)));
    const QImage back = platform::readImageFromData(platform::encodeImage(picture, ImageType::BMP, 1.0))
                            .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(back.size(), picture.size());
    EXPECT_EQ(qAlpha(back.pixel(3, 3)), 128);
    EXPECT_LE(distance(back.pixel(3, 3), adobeRgbInSrgb(qRgb(30, 180, 60))), 3);
}
