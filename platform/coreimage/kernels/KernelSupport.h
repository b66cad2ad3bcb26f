#pragma once
// Small helpers shared by the kernel files.
#include "platform/coreimage/CIFilterRegistry.h"
#include "platform/coreimage/kernels/Node.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace platform::ci {

inline constexpr double kPi = 3.14159265358979323846;

// Rec. 601 luma of straight RGB, as the colour kernels use it.
inline float luma(const float* p) { return 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2]; }
inline float clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }
// A parameter that is not a finite number (NaN, infinite) counts as its default.
inline double finiteOr(double v, double fallback) { return std::isfinite(v) ? v : fallback; }
inline float smoothstep(float e0, float e1, float x) {
    if (e1 == e0) return x < e0 ? 0.0f : 1.0f;
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// The input image of a one-image filter as a node (null when unset).
inline NodePtr inputNode(const CIFilterArgs& a, const char* key = kCIInputImageKey) { return a.image(key).node(); }

// A colour filter: returns the input with one per-pixel stage added (null without input).
inline CIImage colorFilter(const CIFilterArgs& a, ColorStage stage) {
    const NodePtr in = inputNode(a);
    return in ? CIImage(makeColorNode(in, std::move(stage))) : CIImage();
}

}  // namespace platform::ci

namespace platform::ci {

// Gaussian blur of a node with standard deviation sigma (pixels); transparent beyond
// the input's extent, extent grown by ceil(3 sigma). Cost per pixel does not grow with
// sigma. sigma <= 0 gives the input itself.
NodePtr gaussianBlurNode(const NodePtr& in, double sigma);
// fn(a, blurred, out, n) per row, where a is the input and blurred its Gaussian blur of
// sigma; the input is rendered once for both (a chain of such filters would otherwise
// render its start twice per link). Keeps the input's extent. out is a itself, so fn
// reads each pixel of a before it writes that pixel.
NodePtr blurCombineNode(const NodePtr& in, double sigma, CombineRow fn);
// The union of two inputs' extents (either may be absent; infinite wins).
QRectF unionExtent(const NodePtr& a, const NodePtr& b);
// The extent of a node grown by m pixels each side (infinite stays infinite).
QRectF grownExtent(const NodePtr& in, double m);

}  // namespace platform::ci
