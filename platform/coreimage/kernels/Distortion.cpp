// Distortions: each output pixel takes the input at a displaced point (bilinear). Every
// one of them is the identity at zero strength, and leaves the picture outside its circle
// (or band) as it was.
// Pixel loops are written to vectorise; the build's -O2 leaves many of them scalar.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif
#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

namespace {

// The input rectangle that a warp reads for r, found by mapping a grid of points of r
// (its border densely); the maps are smooth, so a small margin covers what lies between.
WarpRoi sampledRoi(WarpMap map) {
    return [map](const PixelRect& r) {
        const int step = std::max(2, std::min(r.w, r.h) / 32);
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        auto add = [&](double x, double y) {
            double sx, sy;
            map(x, y, sx, sy);
            x0 = std::min(x0, sx), y0 = std::min(y0, sy), x1 = std::max(x1, sx), y1 = std::max(y1, sy);
        };
        for (int y = r.y; y < r.top() + step; y += step)
            for (int x = r.x; x < r.right() + step; x += step) add(std::min(x, r.right() - 1) + 0.5, std::min(y, r.top() - 1) + 0.5);
        if (x1 < x0) return PixelRect{};
        return PixelRect::covering(QRectF(x0, y0, x1 - x0, y1 - y0)).grown(step + 2);
    };
}

CIImage warp(const CIFilterArgs& a, const std::function<QRectF(const QRectF&)>& extentOf, WarpMap map) {
    const NodePtr in = inputNode(a);
    if (!in) return {};
    const QRectF e = in->extent();
    return CIImage(makeWarpNode(in, extentOf ? extentOf(e) : e, map, sampledRoi(map), 0));
}

// Radial helper: calls f(t, d) for points within radius R of c, where t = d / R, and
// moves the point to c + (p - c) * factor.
struct Radial {
    double cx, cy, R;
    template <class F>
    void apply(double x, double y, double& sx, double& sy, F factor) const {
        const double dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
        sx = x, sy = y;
        if (R <= 0 || d >= R) return;
        const double s = factor(d / R);
        sx = cx + dx * s, sy = cy + dy * s;
    }
};

CIInputSpec centerInput() { return vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)); }

}  // namespace

void registerDistortionFilters() {
    // Magnifies (scale > 0) or shrinks (scale < 0) the disc around the centre.
    registerFilter({"CIBumpDistortion", "Bump Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 600.0, 0.0),
         numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 0.5, -1.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const Radial rad{c.X(), c.Y(), a.number(kCIInputRadiusKey)};
            const double k = std::clamp(a.number(kCIInputScaleKey), -10.0, 1.0);
            return warp(a, nullptr, [rad, k](double x, double y, double& sx, double& sy) {
                rad.apply(x, y, sx, sy, [k](double t) { const double u = 1 - t * t; return 1 - k * u * u; });
            });
        }});

    // The same bump across a line through the centre at the given angle.
    registerFilter({"CIBumpDistortionLinear", "Bump Distortion Linear", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 800.0, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 0.0, -kPi, kPi, std::nullopt, std::nullopt, 0.0),
         numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 0.5, -1.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = c.X(), cy = c.Y(), R = a.number(kCIInputRadiusKey), ang = a.number(kCIInputAngleKey);
            const double k = std::clamp(a.number(kCIInputScaleKey), -10.0, 1.0);
            const double nx = -std::sin(ang), ny = std::cos(ang);
            return warp(a, nullptr, [=](double x, double y, double& sx, double& sy) {
                sx = x, sy = y;
                const double v = (x - cx) * nx + (y - cy) * ny;
                if (R <= 0 || std::abs(v) >= R) return;
                const double t = std::abs(v) / R, u = 1 - t * t;
                const double nv = v * (1 - k * u * u);
                sx = x + nx * (nv - v), sy = y + ny * (nv - v);
            });
        }});

    // Inside the circle the picture stays; outside, the colours of the rim stream outward.
    registerFilter({"CICircleSplashDistortion", "Circle Splash Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 150.0, 0.0, 1000.0, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = c.X(), cy = c.Y(), R = std::max(0.0, a.number(kCIInputRadiusKey));
            return warp(a, [](const QRectF& e) { return e.isEmpty() ? e : infiniteRect(); },
                [=](double x, double y, double& sx, double& sy) {
                    const double dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
                    sx = x, sy = y;
                    if (d <= R) return;
                    // Just inside the rim, so the sample never reads beyond it.
                    const double s = std::max(0.0, R - 0.5) / d;
                    sx = cx + dx * s, sy = cy + dy * s;
                });
        }});

    // Pulls the picture toward the centre: the middle shrinks.
    registerFilter({"CIPinchDistortion", "Pinch Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 1000.0, 0.0),
         numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 0.5, 0.0, 2.0, 0.0, 2.0, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const Radial rad{c.X(), c.Y(), a.number(kCIInputRadiusKey)};
            const double e = 1.0 / (1.0 + std::clamp(a.number(kCIInputScaleKey), 0.0, 2.0));
            return warp(a, nullptr, [rad, e](double x, double y, double& sx, double& sy) {
                rad.apply(x, y, sx, sy, [e](double t) { return t > 0 ? std::pow(t, e) / t : 0.0; });
            });
        }});

    // A ring-shaped lens: within the ring the picture is refracted, inside it shows as it
    // is, and beyond the ring there is nothing.
    registerFilter({"CITorusLensDistortion", "Torus Lens Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 160.0, 0.0, 500.0, 0.0),
         numberInput(kCIInputWidthKey, kCIAttributeTypeDistance, 80.0, 0.0, 200.0, 0.0),
         numberInput("inputRefraction", kCIAttributeTypeScalar, 1.7, 0.0, 5.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = c.X(), cy = c.Y(), R = std::max(0.0, a.number(kCIInputRadiusKey));
            const double hw = std::max(0.0, a.number(kCIInputWidthKey)) / 2, ref = a.number("inputRefraction");
            const double outer = R + hw;
            WarpMap map = [=](double x, double y, double& sx, double& sy) {
                const double dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
                sx = x, sy = y;
                if (hw <= 0 || d <= R - hw || d >= outer || d <= 0) return;
                const double u = (d - R) / hw;
                const double nd = d - ref * hw * 0.3 * u * std::sqrt(std::max(0.0, 1 - u * u));
                sx = cx + dx / d * nd, sy = cy + dy / d * nd;
            };
            const NodePtr warped = makeWarpNode(in, in->extent(), map, sampledRoi(map), 0);
            // Beyond the outer rim the result is transparent.
            const NodePtr ring = makePositionedColorNode(warped, [=](float* p, int n, int x0, int y) {
                const double dy = y + 0.5 - cy;
                for (int i = 0; i < n; ++i, p += 4) {
                    const double dx = x0 + i + 0.5 - cx;
                    if (dx * dx + dy * dy >= outer * outer) p[3] = 0.0f;
                }
            });
            // The extent stays the picture's, so the photo keeps its size.
            return CIImage(ring);
        }});

    // Rotation that is strongest at the centre and fades to none at the radius.
    registerFilter({"CITwirlDistortion", "Twirl Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 500.0, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, kPi, -4 * kPi, 4 * kPi, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = c.X(), cy = c.Y(), R = a.number(kCIInputRadiusKey), ang = a.number(kCIInputAngleKey);
            return warp(a, nullptr, [=](double x, double y, double& sx, double& sy) {
                const double dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
                sx = x, sy = y;
                if (R <= 0 || d >= R || ang == 0) return;
                const double t = 1 - d / R, th = -ang * t * t;
                const double cs = std::cos(th), sn = std::sin(th);
                sx = cx + dx * cs - dy * sn, sy = cy + dx * sn + dy * cs;
            });
        }});

    // A whirlpool: many turns near the centre, quickly fading outward.
    registerFilter({"CIVortexDistortion", "Vortex Distortion", {kCICategoryDistortionEffect, kCICategoryVideo},
        {imageInput(), centerInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 300.0, 0.0, 800.0, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 56.55, -94.25, 94.25, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double cx = c.X(), cy = c.Y(), R = a.number(kCIInputRadiusKey), ang = a.number(kCIInputAngleKey);
            return warp(a, nullptr, [=](double x, double y, double& sx, double& sy) {
                const double dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
                sx = x, sy = y;
                if (R <= 0 || d >= R || ang == 0) return;
                const double t = 1 - d / R, th = -ang * t * t * t * t;
                const double cs = std::cos(th), sn = std::sin(th);
                sx = cx + dx * cs - dy * sn, sy = cy + dx * sn + dy * cs;
            });
        }});
}

}  // namespace platform::ci
