// Transitions: a picture ("inputImage") turning into another ("inputTargetImage") as
// "inputTime" runs from 0 to 1. At time 0 (or below) every one of them shows the first
// picture exactly, at time 1 (or above) the second exactly, so the frames of an animation
// start and end on the two pictures themselves. The extent is the union of both inputs'.
//
// Geometry is y-up. Filters with "inputExtent" lay their sweep over that rectangle; the
// others over the pictures' own extent.
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/kernels/KernelSupport.h"

#include <QColor>

namespace platform::ci {

namespace {

// What one output pixel is made of. a and b are the inputs rendered over the rectangles
// the transition asked for; (x, y) is the pixel's centre in the plane.
using PixelFn = std::function<void(const Buffer& a, const Buffer& b, double x, double y, float* out)>;
// The rectangle of the first input that an output rectangle reads.
using SourceRoi = std::function<PixelRect(const PixelRect& r)>;

class TransitionNode final : public Node {
public:
    TransitionNode(NodePtr a, NodePtr b, const QRectF& e, SourceRoi roi, PixelFn fn)
        : a_(std::move(a)), b_(std::move(b)), extent_(e), roi_(std::move(roi)), fn_(std::move(fn)) {}
    QRectF extent() const override { return extent_; }
    int reach() const override { return std::max(reachOf(a_), reachOf(b_)); }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        // An endless first picture has no whole to read; its own rectangle must do.
        const bool reads = roi_ && a_ && !isInfinite(a_->extent());
        const PixelRect ra = reads ? clipToInput(a_, roi_(r)).united(r) : r;
        const Buffer a = renderOf(a_, ra);
        const Buffer b = renderOf(b_, r);
        Buffer out(r, Buffer::kUninitialized);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) fn_(a, b, x + 0.5, y + 0.5, d);
            }
        }, r.w * 8.0);
        return out;
    }

private:
    NodePtr a_, b_;
    QRectF extent_;
    SourceRoi roi_;
    PixelFn fn_;
};


// The pixel of a buffer at plane position (x, y), transparent outside it.
const float kClear[4] = {0, 0, 0, 0};
const float* pixelAt(const Buffer& buf, double x, double y) {
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    if (ix < buf.rect.x || iy < buf.rect.y || ix >= buf.rect.right() || iy >= buf.rect.top()) return kClear;
    return buf.at(ix, iy);
}

void mix(const float* p, const float* q, float k, float* out) {
    for (int c = 0; c < 4; ++c) out[c] = p[c] + (q[c] - p[c]) * k;
}

void copyPixel(const float* p, float* out) { std::copy(p, p + 4, out); }

// Premultiplied, opaque unless the colour says otherwise.
std::array<float, 4> premultiplied(const QColor& c) {
    const float a = float(c.alphaF());
    return {float(c.redF()) * a, float(c.greenF()) * a, float(c.blueF()) * a, a};
}

double timeOf(const CIFilterArgs& a) { return std::clamp(finiteOr(a.number(kCIInputTimeKey), 0), 0.0, 1.0); }

// The rectangle a sweep runs over: "inputExtent" when the filter has one and it is
// usable, else the pictures' own extent.
QRectF sweepRect(const CIFilterArgs& a, const QRectF& pictures) {
    const platform::Vec v = a.vector(kCIInputExtentKey);
    if (v.isRect() && v.Z() > 0 && v.W() > 0 && std::isfinite(v.Z()) && std::isfinite(v.W()))
        return QRectF(v.X(), v.Y(), v.Z(), v.W());
    return isInfinite(pictures) ? QRectF(0, 0, 300, 300) : pictures;
}

// Distances along a direction across a rectangle: d(p) = (p - centre) . (cos, sin).
struct Axis {
    double cx = 0, cy = 0, ux = 1, uy = 0, lo = 0, hi = 0;
    Axis(const QRectF& r, double angle) : cx(r.center().x()), cy(r.center().y()) {
        ux = std::cos(finiteOr(angle, 0));
        uy = std::sin(finiteOr(angle, 0));
        const double half = (std::abs(ux) * r.width() + std::abs(uy) * r.height()) / 2;
        lo = -half;
        hi = half;
    }
    double along(double x, double y) const { return (x - cx) * ux + (y - cy) * uy; }
    double across(double x, double y) const { return -(x - cx) * uy + (y - cy) * ux; }
    double clamped(double x, double y) const { return std::clamp(along(x, y), lo, hi); }
    double span() const { return hi - lo + 1; }
};

// A band of width w crossing the sweep rectangle: at time t its leading edge (toward the
// target's side) lies at `edge` along the axis.
struct Band {
    double w = 0, edge = 0;
    float opacity = 0;
    std::array<float, 4> colour{};
    Axis axis;
    Band(const CIFilterArgs& a, const QRectF& pictures, double defaultWidth, double defaultOpacity, float maxOpacity)
        : axis(sweepRect(a, pictures), a.number(kCIInputAngleKey)) {
        w = std::clamp(finiteOr(a.number(kCIInputWidthKey), defaultWidth), 0.0, 1e6);
        opacity = std::clamp(float(finiteOr(a.number("inputOpacity"), defaultOpacity)), 0.0f, maxOpacity);
        colour = premultiplied(a.color(kCIInputColorKey));
        edge = axis.lo - w + timeOf(a) * (axis.span() + w);
    }
};

// The inputs of every transition, in the order they are reported.
QList<CIInputSpec> transitionInputs(std::initializer_list<CIInputSpec> extra) {
    QList<CIInputSpec> inputs{imageInput(), imageInput(kCIInputTargetImageKey)};
    for (const CIInputSpec& s : extra) inputs << s;
    inputs << numberInput(kCIInputTimeKey, kCIAttributeTypeTime, 0.0, 0.0, 1.0, 0.0, 1.0, 0.0);
    return inputs;
}

CIInputSpec extentInput() { return vectorInput(kCIInputExtentKey, kCIAttributeTypeRectangle, platform::Vec(0, 0, 300, 300)); }
CIInputSpec angleInput(double def) {
    return numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, def, -kPi, kPi, std::nullopt, std::nullopt, 0.0);
}

// Builds the node, or nothing when a picture is missing; a time at either end gives that
// picture itself.
CIImage transition(const CIFilterArgs& a, const std::function<PixelFn(const QRectF& pictures)>& make,
                   SourceRoi roi = {}) {
    const NodePtr from = inputNode(a), to = inputNode(a, kCIInputTargetImageKey);
    if (!from || !to) return {};
    const QRectF e = unionExtent(from, to);
    const double t = timeOf(a);
    if (t <= 0) return CIImage(makeCombineNode(from, to, e, [](const float* p, const float*, float* out, int n) {
        std::copy(p, p + 4 * size_t(n), out);
    }));
    if (t >= 1) return CIImage(makeCombineNode(from, to, e, [](const float*, const float* q, float* out, int n) {
        std::copy(q, q + 4 * size_t(n), out);
    }));
    return CIImage(std::make_shared<TransitionNode>(from, to, e, std::move(roi), make(e)));
}

float hash01(int i, int j) {
    uint32_t h = uint32_t(i) * 73856093u ^ uint32_t(j) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return float(h & 0xffffu) / 65536.0f;
}

}  // namespace

void registerTransitionFilters() {
    const QStringList categories{kCICategoryTransition, kCICategoryVideo};

    registerFilter({"CIDissolveTransition", "Dissolve", categories, transitionInputs({}),
        [](const CIFilterArgs& a) {
            const float t = float(timeOf(a));
            return transition(a, [t](const QRectF&) -> PixelFn {
                return [t](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    mix(pixelAt(A, x, y), pixelAt(B, x, y), t, out);
                };
            });
        }});

    // A soft straight edge crosses the rectangle: behind it the target shows, across its
    // width the target fades in under a band of colour at the given opacity.
    registerFilter({"CISwipeTransition", "Swipe", categories,
        transitionInputs({extentInput(), colorInput(kCIInputColorKey, QColor(255, 255, 255)), angleInput(0.0),
                          numberInput(kCIInputWidthKey, kCIAttributeTypeDistance, 300.0, 0.1, 1000.0, 0.1),
                          numberInput("inputOpacity", kCIAttributeTypeScalar, 0.0, 0.0, 1.0, 0.0, 1.0, 0.0)}),
        [](const CIFilterArgs& a) {
            return transition(a, [&](const QRectF& pictures) -> PixelFn {
                const Band band(a, pictures, 300, 0, 1.0f);
                return [band](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    const double d = band.axis.clamped(x, y), edge = band.edge, w = band.w;
                    if (d < edge) return copyPixel(pixelAt(B, x, y), out);
                    if (d >= edge + w) return copyPixel(pixelAt(A, x, y), out);
                    // Across the band the target fades in, under the band's colour.
                    float soft[4];
                    mix(pixelAt(A, x, y), pixelAt(B, x, y), float((edge + w - d) / w), soft);
                    mix(soft, band.colour.data(), band.opacity * float(std::sin(kPi * (d - edge) / w)), out);
                };
            });
        }});

    // Like a copier's lamp: a bright band crosses the picture and leaves the target behind.
    registerFilter({"CICopyMachineTransition", "Copy Machine", categories,
        transitionInputs({extentInput(), colorInput(kCIInputColorKey, QColor::fromRgbF(0.6f, 1.0f, 1.0f)), angleInput(0.0),
                          numberInput(kCIInputWidthKey, kCIAttributeTypeDistance, 200.0, 0.1, 500.0, 0.1),
                          numberInput("inputOpacity", kCIAttributeTypeScalar, 1.3, 0.0, 3.0, 0.0)}),
        [](const CIFilterArgs& a) {
            return transition(a, [&](const QRectF& pictures) -> PixelFn {
                const Band band(a, pictures, 200, 1.3, 10.0f);
                return [band](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    const double d = band.axis.clamped(x, y), edge = band.edge, w = band.w;
                    if (d >= edge + w) return copyPixel(pixelAt(A, x, y), out);
                    const float* p = pixelAt(B, x, y);
                    copyPixel(p, out);
                    if (d < edge || w <= 0) return;
                    // Brightest in the middle of the band, fading to nothing at its sides.
                    const float rise = float(std::sin(kPi * (d - edge) / w));
                    const float glow = 0.6f * band.opacity * rise * rise;
                    for (int c = 0; c < 3; ++c) out[c] = std::min(out[3], p[c] + band.colour[size_t(c)] * glow * out[3]);
                };
            });
        }});

    // Bars across the direction of travel; every other bar starts later by the offset.
    registerFilter({"CIBarsSwipeTransition", "Bars Swipe Transition", categories,
        transitionInputs({angleInput(kPi), numberInput(kCIInputWidthKey, kCIAttributeTypeDistance, 30.0, 2.0, 300.0, 2.0),
                          numberInput("inputBarOffset", kCIAttributeTypeScalar, 10.0, 1.0, 100.0, 1.0)}),
        [](const CIFilterArgs& a) {
            const double t = timeOf(a);
            const double w = std::max(1.0, finiteOr(a.number(kCIInputWidthKey), 30));
            const double offset = std::max(0.0, finiteOr(a.number("inputBarOffset"), 10));
            const double angle = a.number(kCIInputAngleKey);
            return transition(a, [&](const QRectF& pictures) -> PixelFn {
                const Axis ax(isInfinite(pictures) ? QRectF(0, 0, 300, 300) : pictures, angle);
                const double delay = std::min(1.0, offset / ax.span());
                return [=](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    const long long bar = (long long)std::floor(ax.across(x, y) / w);
                    const double front = t * (1 + delay) - ((bar & 1) ? delay : 0.0);
                    const bool reached = ax.clamped(x, y) - ax.lo < front * ax.span();
                    copyPixel(reached ? pixelAt(B, x, y) : pixelAt(A, x, y), out);
                };
            });
        }});

    // A flash of light from the centre that fades into the target.
    registerFilter({"CIFlashTransition", "Flash", categories,
        transitionInputs({extentInput(), vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)),
                          colorInput(kCIInputColorKey, QColor::fromRgbF(1.0f, 0.8f, 0.6f)),
                          numberInput("inputMaxStriationRadius", kCIAttributeTypeScalar, 2.58, 0.0, 10.0, 0.0),
                          numberInput("inputStriationStrength", kCIAttributeTypeScalar, 0.5, 0.0, 3.0, 0.0),
                          numberInput("inputStriationContrast", kCIAttributeTypeScalar, 1.375, 0.0, 5.0, 0.0),
                          numberInput("inputFadeThreshold", kCIAttributeTypeScalar, 0.85, 0.0, 1.0, 0.0, 1.0)}),
        [](const CIFilterArgs& a) {
            const double t = timeOf(a);
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = finiteOr(c.X(), 150), cy = finiteOr(c.Y(), 150);
            const double reachFactor = std::clamp(finiteOr(a.number("inputMaxStriationRadius"), 2.58), 0.0, 100.0);
            const double strength = std::clamp(finiteOr(a.number("inputStriationStrength"), 0.5), 0.0, 10.0);
            const double contrast = std::clamp(finiteOr(a.number("inputStriationContrast"), 1.375), 0.01, 20.0);
            const float fade = std::clamp(float(finiteOr(a.number("inputFadeThreshold"), 0.85)), 0.0f, 1.0f);
            const auto colour = premultiplied(a.color(kCIInputColorKey));
            return transition(a, [&](const QRectF& pictures) -> PixelFn {
                const QRectF r = sweepRect(a, pictures);
                const double radius = std::max(1e-6, reachFactor * std::max(r.width(), r.height()) * t);
                const float swell = float(4 * t * (1 - t));  // none at either end, full in the middle
                const float k = smoothstep(fade, 1.0f, float(t));
                return [=](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    const double dx = x - cx, dy = y - cy;
                    const double dist = std::sqrt(dx * dx + dy * dy) / radius;
                    const double rays = 1 + strength * std::pow(std::abs(std::cos(8 * std::atan2(dy, dx))), contrast);
                    const float light = swell * clamp01(float(0.35 + std::exp(-dist * dist) * rays));
                    float base[4];
                    mix(pixelAt(A, x, y), pixelAt(B, x, y), k, base);
                    mix(base, colour.data(), light, out);
                };
            });
        }});

    // Rounded patches open in a tilted grid, each at its own moment, showing the target.
    registerFilter({"CIModTransition", "Mod", categories,
        transitionInputs({vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)), angleInput(2.0),
                          numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 150.0, 1.0, 200.0, 1.0),
                          numberInput("inputCompression", kCIAttributeTypeDistance, 300.0, 1.0, 800.0, 1.0)}),
        [](const CIFilterArgs& a) {
            const double t = timeOf(a);
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = finiteOr(c.X(), 150), cy = finiteOr(c.Y(), 150);
            const double cell = std::clamp(finiteOr(a.number(kCIInputRadiusKey), 150), 1.0, 1e6);
            const double squeeze = 1 + std::clamp(finiteOr(a.number("inputCompression"), 300), 0.0, 1e6) / 1000;
            const double angle = finiteOr(a.number(kCIInputAngleKey), 2);
            const double ca = std::cos(angle), sa = std::sin(angle);
            return transition(a, [&](const QRectF&) -> PixelFn {
                return [=](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    const double px = ((x - cx) * ca + (y - cy) * sa) / cell;
                    const double py = (-(x - cx) * sa + (y - cy) * ca) / (cell * squeeze);
                    const double fx = std::floor(px), fy = std::floor(py);
                    const double lx = px - fx - 0.5, ly = py - fy - 0.5;
                    // Each patch starts at its own moment and covers its whole cell by time 1.
                    const double local = std::clamp(t * 1.5 - 0.5 * hash01(int(std::clamp(fx, -1e9, 1e9)), int(std::clamp(fy, -1e9, 1e9))), 0.0, 1.0);
                    const bool open = std::sqrt(lx * lx + ly * ly) < local;
                    copyPixel(open ? pixelAt(B, x, y) : pixelAt(A, x, y), out);
                };
            });
        }});

    // The picture lifts from one side, rolls over a cylinder and slides away, its back
    // showing on top and a shadow falling on the target beside the roll.
    registerFilter({"CIPageCurlWithShadowTransition", "Page Curl With Shadow", categories,
        transitionInputs({imageInput("inputBacksideImage"), extentInput(), angleInput(0.0),
                          numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 100.0, 0.01, 400.0, 0.01),
                          numberInput("inputShadowSize", kCIAttributeTypeDistance, 0.5, 0.0, 1.0, 0.0, 1.0),
                          numberInput("inputShadowAmount", kCIAttributeTypeDistance, 0.7, 0.0, 1.0, 0.0, 1.0),
                          vectorInput("inputShadowExtent", kCIAttributeTypeRectangle, platform::Vec(0, 0, 0, 0))}),
        [](const CIFilterArgs& a) {
            const double t = timeOf(a);
            const double R = std::clamp(finiteOr(a.number(kCIInputRadiusKey), 100), 0.01, 1e5);
            const double shadow = std::clamp(finiteOr(a.number("inputShadowSize"), 0.5), 0.0, 1.0) * 2 * R;
            const float shadowAmount = std::clamp(float(finiteOr(a.number("inputShadowAmount"), 0.7)), 0.0f, 1.0f);
            const double angle = a.number(kCIInputAngleKey);
            const Axis ax(sweepRect(a, unionExtent(inputNode(a), inputNode(a, kCIInputTargetImageKey))), angle);
            // From untouched (line at the near side) to gone (roll and shadow past the far side).
            const double line = ax.lo + t * (ax.span() + R + shadow);
            return transition(a, [=](const QRectF&) -> PixelFn {
                return [=](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    const double d = ax.along(x, y);
                    // Where the page material now above (x, y) lay before it lifted (its
                    // distance along the axis), or none.
                    auto from = [&](double d0, bool back) {
                        if (d0 < ax.lo - 0.5) return false;
                        const double sx = x + (d0 - d) * ax.ux, sy = y + (d0 - d) * ax.uy;
                        float p[4];
                        A.sample(sx, sy, p);
                        if (p[3] <= 0) return false;
                        // The back of the sheet is paler, the underside darker.
                        const float paper[4] = {p[3], p[3], p[3], p[3]};
                        if (back) mix(p, paper, 0.55f, out);
                        else for (int c = 0; c < 4; ++c) out[c] = c < 3 ? p[c] * 0.7f : p[c];
                        return true;
                    };
                    if (d >= line) {
                        // On the flat part: the rolled-over back lies on top where it reaches.
                        if (from(2 * line - kPi * R - d, true)) return;
                        return copyPixel(pixelAt(A, x, y), out);
                    }
                    if (d >= line - R) {
                        const double s = std::asin(std::min(1.0, (line - d) / R));
                        if (from(line - R * (kPi - s), true)) return;
                        if (from(line - R * s, false)) return;
                    }
                    copyPixel(pixelAt(B, x, y), out);
                    const double gap = (line - R) - d;
                    if (shadow > 0 && gap >= 0 && gap < shadow) {
                        const float dark = 1 - shadowAmount * float(1 - gap / shadow);
                        for (int c = 0; c < 3; ++c) out[c] *= dark;
                    }
                };
            }, [=](const PixelRect& r) {
                // A pixel at distance d along the axis reads the picture at d + k: k is 0 for the
                // flat sheet, lies within [-pi R, R] on the roll, and is 2 line - pi R - 2 d
                // where the rolled-over back lies on the flat part. The rectangle read is r
                // swept along the axis over that range of k.
                double dLo = 1e300, dHi = -1e300;
                for (double cx : {double(r.x), double(r.right())})
                    for (double cy : {double(r.y), double(r.top())}) {
                        dLo = std::min(dLo, ax.along(cx, cy));
                        dHi = std::max(dHi, ax.along(cx, cy));
                    }
                double kLo = 0, kHi = 0;
                if (dLo < line && dHi >= line - R) kLo = -kPi * R, kHi = R;
                if (dHi >= line) {
                    kLo = std::min(kLo, 2 * line - kPi * R - 2 * dHi);
                    kHi = std::max(kHi, 2 * line - kPi * R - 2 * std::max(dLo, line));
                }
                const QRectF base = r.toRectF();
                const QRectF swept = base.translated(kLo * ax.ux, kLo * ax.uy).united(base.translated(kHi * ax.ux, kHi * ax.uy));
                return PixelRect::covering(swept.united(base)).grown(2);
            });
        }});

    // The picture folds up like an accordion toward its bottom edge, showing the target
    // above it; the folds darken as they close.
    registerFilter({"CIAccordionFoldTransition", "Accordion Fold Transition", categories,
        transitionInputs({numberInput("inputBottomHeight", kCIAttributeTypeDistance, 0.0, 0.0, 1000.0, 0.0),
                          numberInput("inputNumberOfFolds", kCIAttributeTypeScalar, 3.0, 1.0, 50.0, 1.0, 50.0),
                          numberInput("inputFoldShadowAmount", kCIAttributeTypeScalar, 0.1, 0.0, 1.0, 0.0, 1.0)}),
        [](const CIFilterArgs& a) {
            const double t = timeOf(a);
            const double folds = std::clamp(std::round(finiteOr(a.number("inputNumberOfFolds"), 3)), 1.0, 50.0);
            const float darkness = std::clamp(float(finiteOr(a.number("inputFoldShadowAmount"), 0.1)), 0.0f, 1.0f);
            const NodePtr from = inputNode(a);
            const QRectF page = from && !isInfinite(from->extent()) ? from->extent() : QRectF(0, 0, 300, 300);
            const double bottom = std::clamp(finiteOr(a.number("inputBottomHeight"), 0), 0.0, page.height());
            const double base = page.y() + bottom, tall = page.height() - bottom;
            const double kept = 1 - t;  // the share of its height the folded part still covers
            return transition(a, [=](const QRectF&) -> PixelFn {
                return [=](const Buffer& A, const Buffer& B, double x, double y, float* out) {
                    if (y < base || x < page.left() || x >= page.right()) return copyPixel(pixelAt(y < base ? A : B, x, y), out);
                    const double rise = y - base;
                    if (rise >= kept * tall) return copyPixel(pixelAt(B, x, y), out);
                    const double sy = base + rise / kept;
                    A.sample(x, sy, out);
                    const double phase = (sy - base) / std::max(1.0, tall) * folds;
                    const float shade = 1 - darkness * float(t) * float(0.5 - 0.5 * std::cos(2 * kPi * phase));
                    for (int c = 0; c < 3; ++c) out[c] *= shade;
                };
            }, [=](const PixelRect& r) {
                // Nearly folded, a row reads far up the page; never beyond its top edge.
                const double top = std::min(base + (r.top() - base) / std::max(kept, 1e-6), page.bottom() + 2);
                return PixelRect::covering(QRectF(r.x, std::min<double>(r.y, base), r.w,
                                                  std::max(1.0, top - std::min<double>(r.y, base)))).grown(1);
            });
        }});
}

}  // namespace platform::ci
