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
#include <algorithm>
#include <new>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <lcms2.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
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
// CMYK goes through the profile's colours at 17 levels of C, M and Y (the grid Little CMS
// itself uses for CMYK), computed once per profile by Little CMS at full precision, and
// read with tetrahedral interpolation. The grid is kept for each of the 256 values of K
// (linear between Little CMS's 17 levels of K, as its own 8-bit path interpolates): the
// same colours as interpolating in K at every pixel, from four table entries instead of
// eight, and 5 MiB per profile.
constexpr int kCmykGrid = 17;
constexpr int kCmykSlice = kCmykGrid * kCmykGrid * kCmykGrid;

// Where an 8-bit ink value falls on the CMYK grid: the cell and how far into it (0..256).
struct GridStep {
    uint8_t cell;
    uint16_t fraction;
};
const std::array<GridStep, 256>& gridSteps() {
    static const std::array<GridStep, 256> steps = [] {
        std::array<GridStep, 256> t{};
        for (int v = 0; v < 256; ++v) {
            const int scaled = v * (kCmykGrid - 1);
            int cell = scaled / 255;
            int fraction = ((scaled % 255) * 256 + 127) / 255;
            if (cell == kCmykGrid - 1) cell -= 1, fraction = 256;
            t[size_t(v)] = GridStep{uint8_t(cell), uint16_t(fraction)};
        }
        return t;
    }();
    return steps;
}

struct Conversion {
    cmsHTRANSFORM transform = nullptr;
    // For CMYK: sRGB at every grid point of every K, [k][y][m][c], each word R << 20 |
    // G << 10 | B in quarter levels (0..1020), so interpolated values need no division.
    std::vector<uint32_t> cmykTable;
    // For grey profiles: each 8-bit value's sRGB value, applied to every channel.
    std::array<uint8_t, 256> grayCurve{};
    // For RGB profiles made of curves and a matrix (nearly all of them): each channel's
    // 8-bit values in linear light, and the matrix to sRGB's linear light. Little CMS
    // would give the same colours (for such profiles every intent is colorimetric and the
    // black points are 0), many times slower.
    bool matrixShaper = false;
    std::array<std::array<float, 256>, 3> linear{};
    float toSrgb[3][3] = {};
    bool isSrgb = false;  // the conversion changes no colour by more than a level
    ~Conversion() {
        if (transform) cmsDeleteTransform(transform);
    }
};
using ConversionRef = std::shared_ptr<const Conversion>;

enum class Kind { Rgb, RgbPremultiplied, Gray, Cmyk };

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
    case Kind::Cmyk: return TYPE_CMYK_DBL;
    }
    return 0;
}

ProfileSpace spaceOfKind(Kind kind) {
    switch (kind) {
    case Kind::Rgb:
    case Kind::RgbPremultiplied: return ProfileSpace::RGB;
    case Kind::Gray: return ProfileSpace::Gray;
    case Kind::Cmyk: return ProfileSpace::CMYK;
    }
    return ProfileSpace::Other;
}

// sRGB's encoding of linear light in steps of 1/16384 (a fifth of a level at most near
// black, where the curve is steepest).
constexpr int kLinearSteps = 16384;
const std::array<uint8_t, kLinearSteps + 1>& srgbEncoding() {
    static const std::array<uint8_t, kLinearSteps + 1> table = [] {
        std::array<uint8_t, kLinearSteps + 1> t{};
        for (int i = 0; i <= kLinearSteps; ++i) {
            const double l = double(i) / kLinearSteps;
            const double v = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
            t[size_t(i)] = uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
        }
        return t;
    }();
    return table;
}

// One straight (not premultiplied) colour through the curves and the matrix.
inline uint32_t shaperPixel(const Conversion& c, const std::array<uint8_t, kLinearSteps + 1>& encode, uint32_t r,
                            uint32_t g, uint32_t b) {
    const float lr = c.linear[0][r], lg = c.linear[1][g], lb = c.linear[2][b];
    uint32_t out[3];
    for (int i = 0; i < 3; ++i) {
        const float v = c.toSrgb[i][0] * lr + c.toSrgb[i][1] * lg + c.toSrgb[i][2] * lb;
        out[i] = encode[size_t(std::clamp(v, 0.0f, 1.0f) * kLinearSteps + 0.5f)];
    }
    return out[0] << 16 | out[1] << 8 | out[2];
}

bool makeMatrixShaper(Conversion& c, cmsHPROFILE from, cmsHPROFILE srgb) {
    if (!cmsIsMatrixShaper(from) || !cmsIsMatrixShaper(srgb)) return false;
    auto matrixOf = [](cmsHPROFILE h, double m[3][3]) {
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int col = 0; col < 3; ++col) {
            const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, tags[col]));
            if (!xyz) return false;
            m[0][col] = xyz->X, m[1][col] = xyz->Y, m[2][col] = xyz->Z;
        }
        return true;
    };
    double mp[3][3], ms[3][3];
    if (!matrixOf(from, mp) || !matrixOf(srgb, ms)) return false;
    // sRGB's matrix inverted (by cofactors), times the profile's.
    const double det = ms[0][0] * (ms[1][1] * ms[2][2] - ms[1][2] * ms[2][1]) -
                       ms[0][1] * (ms[1][0] * ms[2][2] - ms[1][2] * ms[2][0]) +
                       ms[0][2] * (ms[1][0] * ms[2][1] - ms[1][1] * ms[2][0]);
    if (std::abs(det) < 1e-9) return false;
    double inv[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inv[i][j] = (ms[r0][c0] * ms[r1][c1] - ms[r0][c1] * ms[r1][c0]) / det;
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double v = 0;
            for (int k = 0; k < 3; ++k) v += inv[i][k] * mp[k][j];
            c.toSrgb[i][j] = float(v);
        }
    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int ch = 0; ch < 3; ++ch) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(from, curves[ch]));
        if (!curve) return false;
        for (int v = 0; v < 256; ++v) {
            const float linear = cmsEvalToneCurveFloat(curve, float(v) / 255.0f);
            // A damaged curve gives infinities, which the matrix turns into NaN and the
            // encoding table's index into anything: such a profile goes the slow way.
            if (!std::isfinite(linear)) return false;
            c.linear[size_t(ch)][size_t(v)] = linear;
        }
    }
    c.matrixShaper = true;
    return true;
}

ConversionRef makeConversion(const QByteArray& icc, Kind kind) {
    if (profileSpace(icc) != spaceOfKind(kind)) return nullptr;
    ProfileHandle from(openProfile(icc));
    ProfileHandle srgb(cmsCreate_sRGBProfile());
    if (!from.h || !srgb.h) return nullptr;
    auto c = std::make_shared<Conversion>();
    if (kind == Kind::Cmyk) {
        cmsHTRANSFORM exact = cmsCreateTransform(from.h, TYPE_CMYK_DBL, srgb.h, TYPE_RGB_DBL, INTENT_PERCEPTUAL,
                                                 cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE | cmsFLAGS_BLACKPOINTCOMPENSATION);
        if (!exact) return nullptr;
        constexpr int g = kCmykGrid;
        std::vector<double> grid(size_t(g) * kCmykSlice * 3);
        parallelFor(0, g, [&](int k0, int k1) {
            std::vector<double> inks(size_t(kCmykSlice) * 4);
            for (int k = k0; k < k1; ++k) {
                size_t n = 0;
                for (int y = 0; y < g; ++y)
                    for (int m = 0; m < g; ++m)
                        for (int cy = 0; cy < g; ++cy, ++n) {
                            double* p = inks.data() + n * 4;  // percentages
                            p[0] = cy * 100.0 / (g - 1), p[1] = m * 100.0 / (g - 1), p[2] = y * 100.0 / (g - 1),
                            p[3] = k * 100.0 / (g - 1);
                        }
                cmsDoTransform(exact, inks.data(), grid.data() + size_t(k) * kCmykSlice * 3, cmsUInt32Number(n));
            }
        }, double(kCmykSlice) * 2000.0);
        c->cmykTable.resize(size_t(256) * kCmykSlice);
        const std::array<GridStep, 256>& steps = gridSteps();
        parallelFor(0, 256, [&](int k0, int k1) {
            for (int k = k0; k < k1; ++k) {
                const GridStep step = steps[size_t(k)];
                const double* low = grid.data() + size_t(step.cell) * kCmykSlice * 3;
                const double* high = step.fraction ? low + size_t(kCmykSlice) * 3 : low;
                const double f = step.fraction / 256.0;
                uint32_t* out = c->cmykTable.data() + size_t(k) * kCmykSlice;
                for (int i = 0; i < kCmykSlice; ++i) {
                    uint32_t word = 0;
                    for (int ch = 0; ch < 3; ++ch) {
                        const double v = low[i * 3 + ch] * (1.0 - f) + high[i * 3 + ch] * f;
                        word = word << 10 | uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 1020.0));
                    }
                    out[i] = word;
                }
            }
        }, double(kCmykSlice) * 20.0);
        cmsDeleteTransform(exact);
        return c;
    }
    const bool premultiplied = kind == Kind::RgbPremultiplied;
    // Corners, edges and middles of the cube: a profile that moves none of them by more
    // than a level is sRGB under another name.
    auto probeSrgb = [&](const std::function<void(const uint8_t*, uint8_t*, int)>& convert) {
        uint8_t in[27 * 4], back[27 * 4];
        int n = 0;
        for (int b : {0, 128, 255})
            for (int g : {0, 128, 255})
                for (int r : {0, 128, 255}) {
                    in[n * 4] = uint8_t(b), in[n * 4 + 1] = uint8_t(g), in[n * 4 + 2] = uint8_t(r), in[n * 4 + 3] = 255;
                    ++n;
                }
        convert(in, back, 27);
        int worst = 0;
        for (int i = 0; i < 27 * 4; ++i) worst = std::max(worst, std::abs(int(in[i]) - int(back[i])));
        c->isSrgb = worst <= 1;
    };
    if ((kind == Kind::Rgb || premultiplied) && makeMatrixShaper(*c, from.h, srgb.h)) {
        const auto& encode = srgbEncoding();
        probeSrgb([&](const uint8_t* in, uint8_t* out, int n) {
            for (int i = 0; i < n; ++i) {
                const uint32_t v = 0xFF000000u | shaperPixel(*c, encode, in[i * 4 + 2], in[i * 4 + 1], in[i * 4]);
                std::memcpy(out + i * 4, &v, 4);
            }
        });
        return c;
    }
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
        probeSrgb([&](const uint8_t* in, uint8_t* out, int n) { cmsDoTransform(c->transform, in, out, cmsUInt32Number(n)); });
    }
    return c;
}

ConversionRef conversionFor(const QByteArray& icc, Kind kind) {
    if (ConversionRef found = cache().find(icc, kind)) return found;
    // Photos of one camera or scanner arrive together: one thread makes the conversion
    // while the others wait for it rather than each making their own.
    static QMutex making;
    QMutexLocker lock(&making);
    if (ConversionRef found = cache().find(icc, kind)) return found;
    ConversionRef made = makeConversion(icc, kind);
    if (made) cache().add(icc, kind, made);
    return made;
}

// One pixel's inks (0..255 each, C M Y K from the low byte up) to sRGB through the
// table, as 0xAARRGGBB.
inline uint32_t cmykPixel(const uint32_t* table, const std::array<GridStep, 256>& steps, uint32_t inks) {
    constexpr int sc = 1, sm = kCmykGrid, sy = kCmykGrid * kCmykGrid;
    const GridStep c = steps[inks & 0xFF], m = steps[(inks >> 8) & 0xFF], y = steps[(inks >> 16) & 0xFF];
    // The tetrahedron of the cell the point lies in, largest fraction first.
    int o1, o2, f1, f2, f3;
    const int x = c.fraction, yy = m.fraction, z = y.fraction;
    if (x >= yy) {
        if (yy >= z) o1 = sc, o2 = sc + sm, f1 = x, f2 = yy, f3 = z;
        else if (x >= z) o1 = sc, o2 = sc + sy, f1 = x, f2 = z, f3 = yy;
        else o1 = sy, o2 = sy + sc, f1 = z, f2 = x, f3 = yy;
    } else {
        if (x >= z) o1 = sm, o2 = sm + sc, f1 = yy, f2 = x, f3 = z;
        else if (yy >= z) o1 = sm, o2 = sm + sy, f1 = yy, f2 = z, f3 = x;
        else o1 = sy, o2 = sy + sm, f1 = z, f2 = yy, f3 = x;
    }
    const uint32_t* base = table + size_t(inks >> 24) * kCmykSlice + y.cell * sy + m.cell * sm + c.cell * sc;
    const uint32_t v0 = base[0], v1 = base[o1], v2 = base[o2], v3 = base[sc + sm + sy];
    const uint32_t w0 = uint32_t(256 - f1), w1 = uint32_t(f1 - f2), w2 = uint32_t(f2 - f3), w3 = uint32_t(f3);
    // The weights add up to 256 and the entries are in quarter levels: 10 bits to drop.
    auto channel = [&](int shift) {
        const uint32_t sum = ((v0 >> shift) & 1023) * w0 + ((v1 >> shift) & 1023) * w1 + ((v2 >> shift) & 1023) * w2 +
                             ((v3 >> shift) & 1023) * w3;
        return (sum + 512) >> 10;
    };
    return 0xFF000000u | channel(20) << 16 | channel(10) << 8 | channel(0);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define CMYK_AVX2 1
#define AVX2_INLINE __attribute__((target("avx2"), always_inline)) static inline

// Grid cells and fractions of eight ink values (0..255) at once, as gridSteps() has them:
// v * 16 / 255 by a multiply and a shift (exact for every value that occurs here).
AVX2_INLINE void gridStepsAvx2(__m256i v, __m256i& cell, __m256i& fraction) {
    const __m256i by255 = _mm256_set1_epi32(0x8081);
    const __m256i scaled = _mm256_slli_epi32(v, 4);
    cell = _mm256_srli_epi32(_mm256_mullo_epi32(scaled, by255), 23);
    const __m256i rest = _mm256_sub_epi32(scaled, _mm256_mullo_epi32(cell, _mm256_set1_epi32(255)));
    fraction = _mm256_srli_epi32(
        _mm256_mullo_epi32(_mm256_add_epi32(_mm256_slli_epi32(rest, 8), _mm256_set1_epi32(127)), by255), 23);
    // Full ink is the far end of the last cell, not the start of one past the grid.
    const __m256i last = _mm256_cmpeq_epi32(cell, _mm256_set1_epi32(kCmykGrid - 1));
    cell = _mm256_add_epi32(cell, last);
    fraction = _mm256_blendv_epi8(fraction, _mm256_set1_epi32(256), last);
}

AVX2_INLINE __m256i field(__m256i v, int shift) {
    return _mm256_and_si256(_mm256_srli_epi32(v, shift), _mm256_set1_epi32(1023));
}

// One channel of eight pixels from the four corners' words: corners paired in 16-bit
// halves so that each multiply-add takes two of them with their weights.
AVX2_INLINE __m256i channelAvx2(__m256i v0, __m256i v1, __m256i v2, __m256i v3, __m256i w01, __m256i w23, int shift) {
    const __m256i a = _mm256_or_si256(field(v0, shift), _mm256_slli_epi32(field(v1, shift), 16));
    const __m256i b = _mm256_or_si256(field(v2, shift), _mm256_slli_epi32(field(v3, shift), 16));
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(a, w01), _mm256_madd_epi16(b, w23));
    return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(512)), 10);
}

// cmykPixel for eight pixels at a time, the same colours to the bit; returns how many
// pixels of the row it did (a multiple of eight), the rest is for cmykPixel.
__attribute__((target("avx2"))) int cmykRowAvx2(const uint32_t* table, uint32_t* line, int width, bool inverted) {
    const __m256i flip = _mm256_set1_epi32(inverted ? -1 : 0), byte = _mm256_set1_epi32(0xFF);
    const __m256i sc = _mm256_set1_epi32(1), sm = _mm256_set1_epi32(kCmykGrid), sy = _mm256_set1_epi32(kCmykGrid * kCmykGrid);
    const __m256i far = _mm256_set1_epi32(1 + kCmykGrid + kCmykGrid * kCmykGrid);
    const __m256i slice = _mm256_set1_epi32(kCmykSlice), whole = _mm256_set1_epi32(256);
    const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
    const int* entries = reinterpret_cast<const int*>(table);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        auto* at = reinterpret_cast<__m256i*>(line + x);
        const __m256i inks = _mm256_xor_si256(_mm256_loadu_si256(at), flip);
        __m256i cc, fc, cm, fm, cy, fy;
        gridStepsAvx2(_mm256_and_si256(inks, byte), cc, fc);
        gridStepsAvx2(_mm256_and_si256(_mm256_srli_epi32(inks, 8), byte), cm, fm);
        gridStepsAvx2(_mm256_and_si256(_mm256_srli_epi32(inks, 16), byte), cy, fy);
        __m256i base = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srli_epi32(inks, 24), slice), cc);
        base = _mm256_add_epi32(base, _mm256_mullo_epi32(cm, sm));
        base = _mm256_add_epi32(base, _mm256_mullo_epi32(cy, sy));
        // The tetrahedron: from the cell's near corner along the axis of the largest
        // fraction, then along the middle one (all but the smallest), to the far corner.
        const __m256i f1 = _mm256_max_epi32(fc, _mm256_max_epi32(fm, fy));
        const __m256i f3 = _mm256_min_epi32(fc, _mm256_min_epi32(fm, fy));
        const __m256i f2 = _mm256_sub_epi32(_mm256_add_epi32(fc, _mm256_add_epi32(fm, fy)), _mm256_add_epi32(f1, f3));
        __m256i largest = _mm256_blendv_epi8(sy, sm, _mm256_cmpeq_epi32(fm, f1));
        largest = _mm256_blendv_epi8(largest, sc, _mm256_cmpeq_epi32(fc, f1));
        __m256i smallest = _mm256_blendv_epi8(sc, sm, _mm256_cmpeq_epi32(fm, f3));
        smallest = _mm256_blendv_epi8(smallest, sy, _mm256_cmpeq_epi32(fy, f3));
        const __m256i i3 = _mm256_add_epi32(base, far);
        const __m256i v0 = _mm256_i32gather_epi32(entries, base, 4);
        const __m256i v1 = _mm256_i32gather_epi32(entries, _mm256_add_epi32(base, largest), 4);
        const __m256i v2 = _mm256_i32gather_epi32(entries, _mm256_sub_epi32(i3, smallest), 4);
        const __m256i v3 = _mm256_i32gather_epi32(entries, i3, 4);
        const __m256i w01 = _mm256_or_si256(_mm256_sub_epi32(whole, f1), _mm256_slli_epi32(_mm256_sub_epi32(f1, f2), 16));
        const __m256i w23 = _mm256_or_si256(_mm256_sub_epi32(f2, f3), _mm256_slli_epi32(f3, 16));
        const __m256i r = channelAvx2(v0, v1, v2, v3, w01, w23, 20);
        const __m256i g = channelAvx2(v0, v1, v2, v3, w01, w23, 10);
        const __m256i b = channelAvx2(v0, v1, v2, v3, w01, w23, 0);
        _mm256_storeu_si256(at, _mm256_or_si256(_mm256_or_si256(opaque, _mm256_slli_epi32(r, 16)),
                                                _mm256_or_si256(_mm256_slli_epi32(g, 8), b)));
    }
    return x;
}

bool hasAvx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

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
    if (c.matrixShaper) {
        const auto& encode = srgbEncoding();
        forRowBands(image, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                auto* px = reinterpret_cast<uint32_t*>(image.scanLine(y));
                for (int x = 0; x < width; ++x) {
                    const uint32_t p = px[x], a = p >> 24;
                    if (a == 0xFFu) {
                        px[x] = 0xFF000000u | shaperPixel(c, encode, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
                    } else if (a != 0) {
                        // Curves apply to the colour, not to its product with the coverage.
                        auto straight = [&](uint32_t v) { return std::min<uint32_t>(255, (v * 255 + a / 2) / a); };
                        const uint32_t q = shaperPixel(c, encode, straight((p >> 16) & 0xFF), straight((p >> 8) & 0xFF),
                                                       straight(p & 0xFF));
                        auto times = [&](uint32_t v) { return (v * a + 127) / 255; };
                        px[x] = a << 24 | times((q >> 16) & 0xFF) << 16 | times((q >> 8) & 0xFF) << 8 | times(q & 0xFF);
                    }
                }
            }
        });
        return;
    }
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
    // Grey photos are looked at whole before they are written grey: in bands on every core,
    // each stopping once any has found colour.
    std::atomic<bool> coloured{false};
    parallelFor(0, image.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1 && !coloured.load(std::memory_order_relaxed); ++y) {
            const auto* px = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
            uint32_t differ = 0;
            for (int x = 0; x < width; ++x) {
                const uint32_t p = px[x];
                differ |= ((p >> 16) ^ p) & 0xFF;
                differ |= ((p >> 8) ^ p) & 0xFF;
            }
            if (differ) coloured.store(true, std::memory_order_relaxed);
        }
    }, double(width));
    return !coloured.load();
}

QImage toGrayscale8(const QImage& image) {
    if (image.format() == QImage::Format_Grayscale8) return image;
    QImage gray(image.size(), QImage::Format_Grayscale8);
    if (gray.isNull()) return QImage();
    const QImage words = image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32 ||
                                 image.format() == QImage::Format_ARGB32
                             ? image
                             : image.convertToFormat(QImage::Format_RGB32);
    uchar* const base = gray.bits();
    const qsizetype stride = gray.bytesPerLine();
    const int width = image.width();
    parallelFor(0, image.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const auto* src = reinterpret_cast<const uint32_t*>(words.constScanLine(y));
            uchar* dst = base + qsizetype(y) * stride;
            for (int x = 0; x < width; ++x) dst[x] = uchar(src[x]);
        }
    }, double(width));
    return gray;
}

}  // namespace

ProfileSpace profileSpace(const QByteArray& icc) {
    if (icc.isEmpty()) return ProfileSpace::None;
    if (icc.size() < 132 || QByteArrayView(icc).sliced(36, 4) != "acsp") return ProfileSpace::Other;
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

bool profileAppliedWhileReading(const QByteArray& icc, ColourModel model) {
    const ProfileSpace space = profileSpace(icc);
    const bool fits = (model == ColourModel::RGB && space == ProfileSpace::RGB) ||
                      (model == ColourModel::Gray && space == ProfileSpace::Gray);
    return fits && !QColorSpace::fromIccProfile(icc).isValid();
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
    const Kind kind = Kind::Cmyk;
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
    const std::array<GridStep, 256>& steps = gridSteps();
    const uint32_t* table = c->cmykTable.data();
#ifdef CMYK_AVX2
    if (hasAvx2()) {
        forRowBands(image, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
                for (int x = cmykRowAvx2(table, line, width, inverted); x < width; ++x)
                    line[x] = cmykPixel(table, steps, inverted ? ~line[x] : line[x]);
            }
        });
        return;
    }
#endif
    forRowBands(image, [&](int y0, int y1) {
        // Smooth areas repeat the same inks: recent results are kept by their inks. A
        // result is never 0 (it is opaque), so 0 marks an empty slot.
        constexpr int kCacheBits = 12;
        std::vector<uint32_t> keys(size_t(1) << kCacheBits), values(size_t(1) << kCacheBits);
        for (int y = y0; y < y1; ++y) {
            auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                uint32_t word = line[x];
                if (inverted) word = ~word;
                const uint32_t slot = (word * 2654435761u) >> (32 - kCacheBits);
                if (keys[slot] != word || values[slot] == 0) {
                    keys[slot] = word;
                    values[slot] = cmykPixel(table, steps, word);
                }
                line[x] = values[slot];
            }
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
        for (int y = y0; y < y1; ++y) putOnWhite(reinterpret_cast<uint32_t*>(out.scanLine(y)), width);
    });
    return out;
}

void putOnWhite(uint32_t* px, int count) {
    for (int x = 0; x < count; ++x) {
        // Premultiplied colour over white: c + (255 - a) in every channel.
        const uint32_t p = px[x];
        const uint32_t white = 255 - (p >> 24);
        auto over = [&](uint32_t c) { return std::min<uint32_t>(255, c + white); };
        px[x] = 0xFF000000u | (over((p >> 16) & 0xFF) << 16) | (over((p >> 8) & 0xFF) << 8) | over(p & 0xFF);
    }
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

OutputPixels pixelsForOutput(const QImage& image, const ColourTarget& target, bool graySource) {
    OutputPixels out{image, imageProfile(image)};
    if (!target.holdsAlpha) out.pixels = codec::flattenedOnWhite(out.pixels);
    // Qt says a memory shortage with a null picture; the writer is to hear it as one.
    if (out.pixels.isNull() && !image.isNull()) throw std::bad_alloc();
    const ProfileSpace space = profileSpace(out.icc);
    if (space == ProfileSpace::None) {
        // A grey photo came in as colour so that steps could colour it; while none did, it
        // goes out as one channel, as it was, and still without a profile.
        if (graySource && target.holdsGray && out.pixels.format() != QImage::Format_Grayscale8 &&
            codec::isOpaque(out.pixels) && codec::allGray(out.pixels)) {
            QImage gray = codec::toGrayscale8(out.pixels);
            if (!gray.isNull()) out.pixels = gray;
        }
        return out;
    }
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
