// Distortions: each output pixel takes the input at a displaced point, sampled
// bilinearly; beyond the input the picture is transparent. Every one of them is the
// identity at zero strength and leaves the picture outside its circle (or band) as it
// was, pixel for pixel.
//
// Each distortion is a small map with three answers: where a point takes its colour
// from, which input rectangle an output rectangle reads (worked out from the map's own
// geometry, so a strong swirl never reads past what was rendered), and how far points
// move at most (the node's reach, from which the context sizes its strips).
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/PixelPack.h"
#include "platform/graphics/YUp.h"
#include "platform/coreimage/kernels/KernelSupport.h"

#include <QImage>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::ci {

namespace {

// A wide swirl reads its whole circle for every strip that crosses it; taller strips
// mean fewer re-reads. Beyond this the strips' memory would outgrow the saving.
constexpr int kMaxReach = 128;

// Bilinear sample of src at (sx, sy) (plane coordinates, pixel centres at +0.5); taps
// outside src are transparent. Exact at pixel centres.
inline void sampleAt(const Buffer& src, double sx, double sy, float* out) {
    const double fx = sx - 0.5 - src.rect.x, fy = sy - 0.5 - src.rect.y;
    const double flx = std::floor(fx), fly = std::floor(fy);
    if (flx >= 0 && fly >= 0 && flx < src.rect.w - 1 && fly < src.rect.h - 1) {
        const int ix = int(flx), iy = int(fly);
        const float tx = float(fx - flx), ty = float(fy - fly);
        const float* p0 = src.data.data() + (size_t(iy) * size_t(src.rect.w) + size_t(ix)) * 4;
        const float* p1 = p0 + size_t(src.rect.w) * 4;
        for (int c = 0; c < 4; ++c) {
            const float lo = p0[c] + tx * (p0[4 + c] - p0[c]);
            const float hi = p1[c] + tx * (p1[4 + c] - p1[c]);
            out[c] = lo + ty * (hi - lo);
        }
        return;
    }
    src.sample(sx, sy, out);  // the rim: some taps fall outside
}

// The same samples taken from a picture's own 8-bit pixels (RGB32 read as opaque), with
// the taps unpacked as a rendered buffer of it holds them: no float copy of the rectangle
// a strip reads is made, which for a circle far from the strip is most of the picture.
// Rows are found from the picture's first row and its stride (no call per tap), and a
// sample whose four taps lie inside weighs them as whole pixels, in Buffer::sample's order.
class PictureTaps {
public:
    explicit PictureTaps(const QImage& picture)
        : bits_(picture.constBits()), bpl_(picture.bytesPerLine()), W_(picture.width()), H_(picture.height()),
          alphaMask_(picture.format() == QImage::Format_RGB32 ? 0xff000000u : 0u) {}
    void pixel(int x, int y, float* out) const {
        if (x < 0 || y < 0 || x >= W_ || y >= H_) {
            out[0] = out[1] = out[2] = out[3] = 0.0f;
            return;
        }
        const V4f v = level(row(y)[x]);
        std::memcpy(out, &v, sizeof v);
    }
    void sample(double sx, double sy, float* out) const {
        const double fx = sx - 0.5, fy = sy - 0.5;
        const double flx = std::floor(fx), fly = std::floor(fy);
        if (flx >= 0 && fly >= 0 && flx < W_ - 1 && fly < H_ - 1) {
            const int ix = int(flx), iy = int(fly);
            const float tx = float(fx - flx), ty = float(fy - fly);
            V4f p00, p10, p01, p11;
            levels(row(iy) + ix, p00, p10);
            levels(row(iy + 1) + ix, p01, p11);
            const V4f lo = p00 + tx * (p10 - p00), hi = p01 + tx * (p11 - p01);
            const V4f v = lo + ty * (hi - lo);
            std::memcpy(out, &v, sizeof v);
            return;
        }
        out[0] = out[1] = out[2] = out[3] = 0.0f;
        if (!(flx > -2 && fly > -2 && flx < W_ + 1 && fly < H_ + 1)) return;
        const int ix = int(flx), iy = int(fly);
        const float tx = float(fx - flx), ty = float(fy - fly);
        float p00[4], p10[4], p01[4], p11[4];
        pixel(ix, iy, p00), pixel(ix + 1, iy, p10), pixel(ix, iy + 1, p01), pixel(ix + 1, iy + 1, p11);
        for (int c = 0; c < 4; ++c) {
            const float lo = p00[c] + tx * (p10[c] - p00[c]);
            const float hi = p01[c] + tx * (p11[c] - p01[c]);
            out[c] = lo + ty * (hi - lo);
        }
    }

private:
    using V4f = float __attribute__((vector_size(16)));
    // Row y of the plane (y up), as the picture stores it.
    const quint32* row(int y) const { return reinterpret_cast<const quint32*>(bits_ + bpl_ * platform::toQtRow(y, H_)); }
    V4f level(quint32 p) const {
        const float* t = pixelpack::kLevels.v;
        p |= alphaMask_;
        return V4f{t[(p >> 16) & 0xff], t[(p >> 8) & 0xff], t[p & 0xff], t[p >> 24]};
    }
    // Two neighbouring pixels' levels (as level() gives them: v / 255 rounded once).
    void levels(const quint32* p, V4f& first, V4f& second) const {
#if defined(__SSE2__)
        const __m128i none = _mm_setzero_si128();
        const __m128i two = _mm_unpacklo_epi8(_mm_or_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                                            _mm_set1_epi32(int(alphaMask_))), none);
        const __m128 k255 = _mm_set1_ps(255.0f);
        auto rgba = [&](__m128i bgra) {
            const __m128 v = _mm_div_ps(_mm_cvtepi32_ps(_mm_shuffle_epi32(bgra, _MM_SHUFFLE(3, 0, 1, 2))), k255);
            V4f out;
            std::memcpy(&out, &v, sizeof out);
            return out;
        };
        first = rgba(_mm_unpacklo_epi16(two, none));
        second = rgba(_mm_unpackhi_epi16(two, none));
#else
        first = level(p[0]), second = level(p[1]);
#endif
    }

    const uchar* bits_;
    qsizetype bpl_;
    int W_, H_;
    quint32 alphaMask_;
};

// Square box of half side h around (cx, cy), as pixels.
inline PixelRect boxAround(double cx, double cy, double h) {
    return PixelRect::covering(QRectF(cx - h, cy - h, 2 * h, 2 * h)).grown(2);
}

// Largest distance from (cx, cy) to a point of r.
inline double farthest(const PixelRect& r, double cx, double cy) {
    const double dx = std::max(std::abs(r.x - cx), std::abs(r.right() - cx));
    const double dy = std::max(std::abs(r.y - cy), std::abs(r.top() - cy));
    return std::sqrt(dx * dx + dy * dy);
}

// Whether r has a point within distance R of (cx, cy).
inline bool reaches(const PixelRect& r, double cx, double cy, double R) {
    const double dx = std::max({r.x - cx, 0.0, cx - r.right()});
    const double dy = std::max({r.y - cy, 0.0, cy - r.top()});
    return dx * dx + dy * dy < R * R;
}

// A map answers:
//   bool operator()(x, y, sx, sy): the source of the point (x, y); false = transparent;
//   PixelRect sources(r): the input pixels the output pixels of r read (r included);
//   int reach(): how far a point moves at most (capped).
template <class Map>
class DistortionNode final : public Node {
public:
    DistortionNode(NodePtr in, const QRectF& extent, Map map) : in_(std::move(in)), extent_(extent), map_(std::move(map)) {}
    QRectF extent() const override { return extent_; }
    // Read from a picture, nothing is rendered around a strip.
    int reach() const override { return reachOf(in_) + (pictureOf(in_) ? 0 : std::clamp(map_.reach(), 0, kMaxReach)); }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        if (const QImage* picture = pictureOf(in_)) {
            const PictureTaps taps(*picture);
            return mapped(r, [&](int x, int y, float* d) { taps.pixel(x, y, d); },
                          [&](double sx, double sy, float* d) { taps.sample(sx, sy, d); });
        }
        PixelRect roi = map_.sources(r);
        const QRectF ie = in_->extent();
        if (!isInfinite(ie)) roi = roi.intersected(PixelRect::covering(ie).grown(1));
        if (roi.empty()) return Buffer(r);
        const Buffer src = renderOf(in_, roi);
        return mapped(r,
            [&](int x, int y, float* d) {
                if (x >= src.rect.x && x < src.rect.right() && y >= src.rect.y && y < src.rect.top())
                    std::memcpy(d, src.at(x, y), 4 * sizeof(float));
                else
                    sampleAt(src, x + 0.5, y + 0.5, d);
            },
            [&](double sx, double sy, float* d) { sampleAt(src, sx, sy, d); });
    }

private:
    // Every pixel of r from its source point: same(x, y, d) where the map leaves the point
    // where it is, sample(sx, sy, d) where it moves it, transparent where it has none.
    template <class Same, class Sample>
    Buffer mapped(const PixelRect& r, Same same, Sample sample) const {
        Buffer out(r, Buffer::kUninitialized);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                const double py = y + 0.5;
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    const double px = x + 0.5;
                    double sx = px, sy = py;
                    if (!map_(px, py, sx, sy)) d[0] = d[1] = d[2] = d[3] = 0.0f;
                    else if (sx == px && sy == py) same(x, y, d);
                    else sample(sx, sy, d);
                }
            }
        }, r.w * 24.0);
        return out;
    }

    NodePtr in_;
    QRectF extent_;
    Map map_;
};

template <class Map>
CIImage distortion(const CIFilterArgs& a, Map map, bool infiniteExtent = false) {
    const NodePtr in = inputNode(a);
    if (!in) return {};
    const QRectF e = in->extent();
    return CIImage(std::make_shared<DistortionNode<Map>>(in, infiniteExtent && !e.isEmpty() ? infiniteRect() : e, std::move(map)));
}

struct Circle {
    double cx, cy, R;
    static Circle of(const CIFilterArgs& a) {
        const platform::Vec c = a.vector(kCIInputCenterKey);
        return {finiteOr(c.X(), 150), finiteOr(c.Y(), 150), std::clamp(finiteOr(a.number(kCIInputRadiusKey), 0), 0.0, 1e7)};
    }
};

// Points within the circle move along their radius: the source lies at distance
// d * factor(d / R) from the centre, never farther than sourceBound(d).
template <class Factor, class Bound>
struct RadialMap {
    Circle c;
    Factor factor;
    Bound sourceBound;
    bool operator()(double x, double y, double& sx, double& sy) const {
        const double dx = x - c.cx, dy = y - c.cy, d2 = dx * dx + dy * dy;
        if (d2 >= c.R * c.R) return true;
        const double s = factor(std::sqrt(d2) / c.R);
        sx = c.cx + dx * s, sy = c.cy + dy * s;
        return true;
    }
    PixelRect sources(const PixelRect& r) const {
        if (!reaches(r, c.cx, c.cy, c.R)) return r;
        return r.united(boxAround(c.cx, c.cy, sourceBound(std::min(farthest(r, c.cx, c.cy), c.R))));
    }
    int reach() const { return int(std::ceil(std::min(c.R + sourceBound(c.R), 1e6))); }
};
template <class Factor, class Bound>
RadialMap<Factor, Bound> radial(Circle c, Factor f, Bound b) { return {c, f, b}; }

// Points within the circle turn about the centre by angle(d / R); distances are kept.
template <class Angle>
struct SwirlMap {
    Circle c;
    Angle angle;
    bool operator()(double x, double y, double& sx, double& sy) const {
        const double dx = x - c.cx, dy = y - c.cy, d2 = dx * dx + dy * dy;
        if (d2 >= c.R * c.R) return true;
        // Single-precision trigonometry: a thousandth of a pixel at a radius of 10,000,
        // and exact (cos 1, sin 0) where the turn is nil.
        const float th = float(angle(std::sqrt(d2) / c.R));
        const double cs = std::cos(th), sn = std::sin(th);
        sx = c.cx + dx * cs - dy * sn, sy = c.cy + dx * sn + dy * cs;
        return true;
    }
    PixelRect sources(const PixelRect& r) const {
        if (!reaches(r, c.cx, c.cy, c.R)) return r;
        return r.united(boxAround(c.cx, c.cy, std::min(farthest(r, c.cx, c.cy), c.R)));
    }
    int reach() const { return int(std::ceil(std::min(2 * c.R, 1e6))); }
};
template <class Angle>
SwirlMap<Angle> swirl(Circle c, Angle f) { return {c, f}; }

// The bump's profile: 1 at the centre (or line), 0 at the radius, flat at both ends.
inline double bumpProfile(double t) {
    const double u = 1 - t * t;
    return u * u;
}

// A bump across a line: points within R of the line move along its normal.
struct LinearBumpMap {
    double cx, cy, R, k, nx, ny;
    bool operator()(double x, double y, double& sx, double& sy) const {
        const double v = (x - cx) * nx + (y - cy) * ny;
        if (!(std::abs(v) < R)) return true;
        const double shift = -v * k * bumpProfile(std::abs(v) / R);
        sx = x + nx * shift, sy = y + ny * shift;
        return true;
    }
    // |v| (1 - t^2)^2 with t = |v| / R peaks at 0.2862 R.
    double maxShift() const { return 0.29 * std::abs(k) * R; }
    PixelRect sources(const PixelRect& r) const {
        double lo = 1e300, hi = -1e300;
        for (double x : {double(r.x), double(r.right())})
            for (double y : {double(r.y), double(r.top())}) {
                const double v = (x - cx) * nx + (y - cy) * ny;
                lo = std::min(lo, v), hi = std::max(hi, v);
            }
        if (hi <= -R || lo >= R) return r;
        return r.grown(int(std::ceil(std::min(maxShift(), 1e7))) + 2);
    }
    int reach() const { return int(std::ceil(std::min(maxShift(), 1e6))); }
};

// Outside the circle every point takes the colour of the rim on its ray.
struct SplashMap {
    Circle c;
    bool operator()(double x, double y, double& sx, double& sy) const {
        const double dx = x - c.cx, dy = y - c.cy, d2 = dx * dx + dy * dy;
        if (d2 <= c.R * c.R) return true;
        // Just inside the rim, so the sample never reads beyond it.
        const double s = std::max(0.0, c.R - 0.5) / std::sqrt(d2);
        sx = c.cx + dx * s, sy = c.cy + dy * s;
        return true;
    }
    PixelRect sources(const PixelRect& r) const {
        const double dx = std::max(std::abs(r.x - c.cx), std::abs(r.right() - c.cx));
        const double dy = std::max(std::abs(r.y - c.cy), std::abs(r.top() - c.cy));
        if (dx * dx + dy * dy <= c.R * c.R) return r;  // wholly inside: as it is
        return r.united(boxAround(c.cx, c.cy, c.R));
    }
    int reach() const { return int(std::ceil(std::min(2 * c.R, 1e6))); }
};

// A ring-shaped lens between R - w/2 and R + w/2: within the ring points are refracted
// toward or away from its middle line, inside it the picture stays, beyond it there is
// nothing.
struct TorusMap {
    Circle c;
    double hw, refraction;
    bool operator()(double x, double y, double& sx, double& sy) const {
        const double dx = x - c.cx, dy = y - c.cy, d2 = dx * dx + dy * dy;
        const double outer = c.R + hw, inner = c.R - hw;
        if (d2 >= outer * outer) return false;
        if (hw <= 0 || (inner >= 0 && d2 <= inner * inner)) return true;
        const double d = std::sqrt(d2);
        if (d <= 0) return true;
        const double u = (d - c.R) / hw;
        const double nd = d - refraction * hw * 0.3 * u * std::sqrt(std::max(0.0, 1 - u * u));
        sx = c.cx + dx / d * nd, sy = c.cy + dy / d * nd;
        return true;
    }
    // u sqrt(1 - u^2) peaks at 1/2.
    double maxShift() const { return 0.15 * std::abs(refraction) * hw; }
    PixelRect sources(const PixelRect& r) const {
        if (!reaches(r, c.cx, c.cy, c.R + hw)) return r;
        return r.grown(int(std::ceil(std::min(maxShift(), 1e7))) + 2);
    }
    int reach() const { return int(std::ceil(std::min(maxShift(), 1e6))); }
};

CIInputSpec centerInput() { return vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)); }

}  // namespace

void registerDistortionFilters() {
    // Magnifies (scale > 0) or shrinks (scale < 0) the disc around the centre.
    registerFilter({"CIBumpDistortion", "Bump Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 600.0, 0.0),
         numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 0.5, -1.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            // Above 1 the middle would turn inside out.
            const double k = std::clamp(finiteOr(a.number(kCIInputScaleKey), 0), -10.0, 1.0);
            const double grow = 1 + std::max(0.0, -k);
            return distortion(a, radial(Circle::of(a), [k](double t) { return 1 - k * bumpProfile(t); },
                                        [grow](double d) { return d * grow; }));
        }});

    // The same bump across a line through the centre at the given angle.
    registerFilter({"CIBumpDistortionLinear", "Bump Distortion Linear", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 800.0, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 0.0, -kPi, kPi, std::nullopt, std::nullopt, 0.0),
         numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 0.5, -1.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const Circle c = Circle::of(a);
            const double ang = finiteOr(a.number(kCIInputAngleKey), 0);
            const double k = std::clamp(finiteOr(a.number(kCIInputScaleKey), 0), -10.0, 1.0);
            return distortion(a, LinearBumpMap{c.cx, c.cy, c.R, k, -std::sin(ang), std::cos(ang)});
        }});

    // Inside the circle the picture stays; outside, the colours of the rim stream outward
    // without end.
    registerFilter({"CICircleSplashDistortion", "Circle Splash Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 150.0, 0.0, 1000.0, 0.0)},
        [](const CIFilterArgs& a) { return distortion(a, SplashMap{Circle::of(a)}, true); }});

    // Pulls the picture toward the centre: the middle shrinks.
    registerFilter({"CIPinchDistortion", "Pinch Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 1000.0, 0.0),
         numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 0.5, 0.0, 2.0, 0.0, 2.0, 0.0)},
        [](const CIFilterArgs& a) {
            const double e = 1.0 / (1.0 + std::clamp(finiteOr(a.number(kCIInputScaleKey), 0), 0.0, 2.0));
            // A point at t takes the colour from t^e (e <= 1): farther out, still inside.
            const Circle c = Circle::of(a);
            const double R = c.R;
            return distortion(a, radial(c, [e](double t) { return t > 0 ? double(std::pow(float(t), float(e - 1))) : 0.0; },
                                        [R, e](double d) { return R > 0 ? R * std::pow(d / R, e) : 0.0; }));
        }});

    registerFilter({"CITorusLensDistortion", "Torus Lens Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 160.0, 0.0, 500.0, 0.0),
         numberInput(kCIInputWidthKey, kCIAttributeTypeDistance, 80.0, 0.0, 200.0, 0.0),
         numberInput("inputRefraction", kCIAttributeTypeScalar, 1.7, 0.0, 5.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double hw = std::clamp(finiteOr(a.number(kCIInputWidthKey), 0), 0.0, 1e7) / 2;
            const double refraction = std::clamp(finiteOr(a.number("inputRefraction"), 0), -100.0, 100.0);
            // The extent stays the picture's, so the photo keeps its size.
            return distortion(a, TorusMap{Circle::of(a), hw, refraction});
        }});

    // Rotation that is strongest at the centre and fades to none at the radius.
    registerFilter({"CITwirlDistortion", "Twirl Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 500.0, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, kPi, -4 * kPi, 4 * kPi, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double ang = std::clamp(finiteOr(a.number(kCIInputAngleKey), 0), -1e6, 1e6);
            return distortion(a, swirl(Circle::of(a), [ang](double t) { return -ang * (1 - t) * (1 - t); }));
        }});

    // A whirlpool: many turns near the centre, quickly fading outward.
    registerFilter({"CIVortexDistortion", "Vortex Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 800.0, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 56.55, -94.25, 94.25, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double ang = std::clamp(finiteOr(a.number(kCIInputAngleKey), 0), -1e6, 1e6);
            return distortion(a, swirl(Circle::of(a), [ang](double t) {
                const double u = (1 - t) * (1 - t);
                return -ang * u * u;
            }));
        }});
}

}  // namespace platform::ci
