// Blurs and the filters built on a blur (sharpening, noise reduction). Blurs read zeros
// beyond their input's extent, so their edges fade to transparent and their extent grows.
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/kernels/KernelSupport.h"

#include <array>

namespace platform::ci {

QRectF grownExtent(const NodePtr& in, double m) {
    const QRectF e = in ? in->extent() : QRectF();
    if (e.isEmpty() || isInfinite(e)) return e;
    return e.adjusted(-m, -m, m, m);
}

namespace {

// ---- separable passes ------------------------------------------------------------------
// Each pass reads a buffer and writes one that is 2h smaller along its direction
// ("valid" convolution); columns and rows are independent, so banding never changes results.

void boxH(const Buffer& in, Buffer& out, int h) {
    out = Buffer(in.rect.adjusted(h, 0, -h, 0));
    const int W = out.rect.w, inW = in.rect.w;
    if (out.empty()) return;
    const double inv = 1.0 / (2 * h + 1);
    parallelFor(0, in.rect.h, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const float* s = in.data.data() + size_t(j) * inW * 4;
            float* d = out.data.data() + size_t(j) * W * 4;
            double acc[4] = {0, 0, 0, 0};
            for (int t = 0; t <= 2 * h; ++t)
                for (int c = 0; c < 4; ++c) acc[c] += s[t * 4 + c];
            for (int c = 0; c < 4; ++c) d[c] = float(acc[c] * inv);
            for (int i = 1; i < W; ++i) {
                const float* add = s + (i + 2 * h) * 4;
                const float* sub = s + (i - 1) * 4;
                for (int c = 0; c < 4; ++c) {
                    acc[c] += double(add[c]) - double(sub[c]);
                    d[i * 4 + c] = float(acc[c] * inv);
                }
            }
        }
    }, W * 2.0);
}

constexpr int kColumnBlock = 64;  // pixels per column band of a vertical pass

void boxV(const Buffer& in, Buffer& out, int h) {
    out = Buffer(in.rect.adjusted(0, h, 0, -h));
    if (out.empty()) return;
    const int W = in.rect.w, H = out.rect.h;
    const double inv = 1.0 / (2 * h + 1);
    const int blocks = (W + kColumnBlock - 1) / kColumnBlock;
    parallelFor(0, blocks, [&](int b0, int b1) {
        std::array<double, kColumnBlock * 4> acc;
        for (int b = b0; b < b1; ++b) {
            const int x0 = b * kColumnBlock, n = std::min(kColumnBlock, W - x0) * 4;
            acc.fill(0.0);
            for (int t = 0; t <= 2 * h; ++t) {
                const float* s = in.data.data() + (size_t(t) * W + x0) * 4;
                for (int k = 0; k < n; ++k) acc[k] += s[k];
            }
            float* d = out.data.data() + size_t(x0) * 4;
            for (int k = 0; k < n; ++k) d[k] = float(acc[k] * inv);
            for (int j = 1; j < H; ++j) {
                const float* add = in.data.data() + (size_t(j + 2 * h) * W + x0) * 4;
                const float* sub = in.data.data() + (size_t(j - 1) * W + x0) * 4;
                float* o = out.data.data() + (size_t(j) * W + x0) * 4;
                for (int k = 0; k < n; ++k) {
                    acc[k] += double(add[k]) - double(sub[k]);
                    o[k] = float(acc[k] * inv);
                }
            }
        }
    }, double(H) * kColumnBlock * 2.0);
}

void kernelH(const Buffer& in, Buffer& out, const std::vector<float>& k) {
    const int h = int(k.size() / 2);
    out = Buffer(in.rect.adjusted(h, 0, -h, 0));
    if (out.empty()) return;
    const int W = out.rect.w, inW = in.rect.w;
    parallelFor(0, in.rect.h, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const float* s = in.data.data() + size_t(j) * inW * 4;
            float* d = out.data.data() + size_t(j) * W * 4;
            for (int i = 0; i < W; ++i) {
                float acc[4] = {0, 0, 0, 0};
                for (size_t t = 0; t < k.size(); ++t) {
                    const float* p = s + (size_t(i) + t) * 4;
                    for (int c = 0; c < 4; ++c) acc[c] += k[t] * p[c];
                }
                for (int c = 0; c < 4; ++c) d[i * 4 + c] = acc[c];
            }
        }
    }, W * double(k.size()));
}

void kernelV(const Buffer& in, Buffer& out, const std::vector<float>& k) {
    const int h = int(k.size() / 2);
    out = Buffer(in.rect.adjusted(0, h, 0, -h));
    if (out.empty()) return;
    const int W = in.rect.w;
    parallelFor(0, out.rect.h, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            float* o = out.data.data() + size_t(j) * W * 4;
            for (size_t t = 0; t < k.size(); ++t) {
                const float* s = in.data.data() + (size_t(j) + t) * W * 4;
                const float kt = k[t];
                for (int x = 0; x < W * 4; ++x) o[x] += kt * s[x];
            }
        }
    }, W * double(k.size()));
}

// Three box widths whose repeated application approximates a Gaussian of sigma.
std::array<int, 3> boxHalfWidths(double sigma) {
    const int n = 3;
    const double wIdeal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int wl = int(std::floor(wIdeal));
    if (wl % 2 == 0) --wl;
    const int wu = wl + 2;
    const double mIdeal = (12.0 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4.0);
    const int m = int(std::lround(mIdeal));
    std::array<int, 3> h{};
    for (int i = 0; i < n; ++i) h[size_t(i)] = ((i < m) ? wl : wu) / 2;
    return h;
}

std::vector<float> gaussianTaps(double sigma) {
    const int r = std::max(1, int(std::ceil(3.0 * sigma)));
    std::vector<float> k(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += std::exp(-0.5 * i * i / (sigma * sigma));
    for (int i = -r; i <= r; ++i) k[size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)) / sum);
    return k;
}

// Below this sigma the three-box approximation is too coarse; a sampled kernel is cheap.
constexpr double kBoxSigma = 3.0;

}  // namespace

NodePtr gaussianBlurNode(const NodePtr& in, double sigma) {
    if (!in || !(sigma > 0.0)) return in;
    sigma = std::min(sigma, 2000.0);
    const int grow = int(std::ceil(3.0 * sigma));
    if (sigma < kBoxSigma) {
        const std::vector<float> taps = gaussianTaps(sigma);
        const int r = int(taps.size() / 2);
        return makeRegionNode(in, grownExtent(in, std::max(grow, r)), [r](const PixelRect& q) { return q.grown(r); }, r,
            [taps](const Buffer& src, Buffer& out) {
                Buffer a;
                kernelH(src, a, taps);
                kernelV(a, out, taps);
            });
    }
    const std::array<int, 3> h = boxHalfWidths(sigma);
    const int total = h[0] + h[1] + h[2];
    return makeRegionNode(in, grownExtent(in, std::max(grow, total)), [total](const PixelRect& q) { return q.grown(total); }, total,
        [h](const Buffer& src, Buffer& out) {
            Buffer a, b;
            boxH(src, a, h[0]);
            boxH(a, b, h[1]);
            boxH(b, a, h[2]);
            b = Buffer();
            boxV(a, b, h[0]);
            boxV(b, a, h[1]);
            boxV(a, out, h[2]);
        });
}

namespace {

// Box blur of half width h in both directions.
NodePtr boxBlurNode(const NodePtr& in, int h) {
    if (!in || h <= 0) return in;
    return makeRegionNode(in, grownExtent(in, h), [h](const PixelRect& q) { return q.grown(h); }, h,
        [h](const Buffer& src, Buffer& out) {
            Buffer a;
            boxH(src, a, h);
            boxV(a, out, h);
        });
}

// Averages samples along a straight line through each pixel (direction (dx, dy), from -r to r).
NodePtr motionBlurNode(const NodePtr& in, double r, double angle) {
    if (!in || !(r > 0.0)) return in;
    const double c = std::cos(angle), s = std::sin(angle);
    const int hx = int(std::ceil(std::abs(r * c))) + 1, hy = int(std::ceil(std::abs(r * s))) + 1;
    const QRectF extent = grownExtent(in, 0).adjusted(-hx, -hy, hx, hy);
    // Along an axis the line kernel is a box, which is cheap whatever the radius.
    if (std::abs(s) < 1e-9 || std::abs(c) < 1e-9) {
        const int h = int(std::lround(r));
        const bool horizontal = std::abs(s) < 1e-9;
        if (h <= 0) return in;
        return makeRegionNode(in, extent,
            [h, horizontal](const PixelRect& q) { return horizontal ? q.adjusted(-h, 0, h, 0) : q.adjusted(0, -h, 0, h); }, h,
            [h, horizontal](const Buffer& src, Buffer& out) {
                if (horizontal) boxH(src, out, h);
                else boxV(src, out, h);
            });
    }
    const int n = std::clamp(2 * int(std::ceil(r)) + 1, 3, 63);
    std::vector<std::pair<double, double>> offs;
    for (int i = 0; i < n; ++i) {
        const double t = -r + 2.0 * r * i / (n - 1);
        offs.emplace_back(t * c, t * s);
    }
    return makeRegionNode(in, extent, [hx, hy](const PixelRect& q) { return q.adjusted(-hx, -hy, hx, hy); }, std::max(hx, hy),
        [offs](const Buffer& src, Buffer& out) {
            const PixelRect r = out.rect;
            const float inv = 1.0f / float(offs.size());
            parallelFor(r.y, r.top(), [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) {
                    float* d = out.row(y);
                    for (int x = r.x; x < r.right(); ++x, d += 4) {
                        float acc[4] = {0, 0, 0, 0}, v[4];
                        for (const auto& [ox, oy] : offs) {
                            src.sample(x + 0.5 + ox, y + 0.5 + oy, v);
                            for (int k = 0; k < 4; ++k) acc[k] += v[k];
                        }
                        for (int k = 0; k < 4; ++k) d[k] = acc[k] * inv;
                    }
                }
            }, r.w * double(offs.size()) * 4);
        });
}

// Streaks toward a centre: each pixel averages samples on the way from itself toward the
// centre over a fraction k of the distance, so the blur grows with the distance and looks
// the same on a thumbnail and on the full photo.
NodePtr zoomBlurNode(const NodePtr& in, double cx, double cy, double amount) {
    const double k = std::clamp(amount / 100.0, 0.0, 0.95);
    if (!in || k <= 0.0) return in;
    const QRectF e = in->extent();
    QRectF extent = e;
    if (!isInfinite(e)) {
        const double g = 1.0 / (1.0 - k);
        const QRectF far(cx + (e.left() - cx) * g, cy + (e.top() - cy) * g, e.width() * g, e.height() * g);
        extent = e.united(far.normalized());
    }
    auto roi = [cx, cy, k](const PixelRect& q) {
        const QRectF r = q.toRectF();
        const QRectF nearer(cx + (r.left() - cx) * (1 - k), cy + (r.top() - cy) * (1 - k), r.width() * (1 - k), r.height() * (1 - k));
        return PixelRect::covering(r.united(nearer.normalized())).grown(1);
    };
    return makeRegionNode(in, extent, roi, 0, [cx, cy, k](const Buffer& src, Buffer& out) {
        const PixelRect r = out.rect;
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                const double py = y + 0.5;
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    const double px = x + 0.5;
                    const double vx = (cx - px) * k, vy = (cy - py) * k;
                    const int n = std::clamp(int(std::sqrt(vx * vx + vy * vy)) + 1, 1, 48);
                    float acc[4] = {0, 0, 0, 0}, v[4];
                    for (int i = 0; i < n; ++i) {
                        const double t = n == 1 ? 0.0 : double(i) / (n - 1);
                        src.sample(px + vx * t, py + vy * t, v);
                        for (int c = 0; c < 4; ++c) acc[c] += v[c];
                    }
                    for (int c = 0; c < 4; ++c) d[c] = acc[c] / float(n);
                }
            }
        }, r.w * 48.0 * 4);
    });
}

NodePtr medianNode(const NodePtr& in) {
    return makeRegionNode(in, in->extent(), [](const PixelRect& q) { return q.grown(1); }, 1, [](const Buffer& src, Buffer& out) {
        const PixelRect r = out.rect;
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    for (int c = 0; c < 4; ++c) {
                        float v[9];
                        int n = 0;
                        for (int j = -1; j <= 1; ++j)
                            for (int i = -1; i <= 1; ++i) v[n++] = src.at(x + i, y + j)[c];
                        std::nth_element(v, v + 4, v + 9);
                        d[c] = v[4];
                    }
                }
            }
        }, r.w * 40.0);
    });
}

CIImage blurOf(const CIFilterArgs& a, const std::function<NodePtr(const NodePtr&)>& make) {
    const NodePtr in = inputNode(a);
    return in ? CIImage(make(in)) : CIImage();
}

}  // namespace

void registerBlurFilters() {
    // The radius is the Gaussian's standard deviation; the extent grows by three of them.
    registerFilter({"CIGaussianBlur", "Gaussian Blur", {kCICategoryBlur, kCICategoryVideo, kCICategoryHighDynamicRange},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeScalar, 10.0, 0.0, 100.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double r = a.number(kCIInputRadiusKey);
            return blurOf(a, [r](const NodePtr& in) { return gaussianBlurNode(in, r); });
        }});

    registerFilter({"CIBoxBlur", "Box Blur", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 10.0, 1.0, 100.0, 1.0, std::nullopt, 1.0)},
        [](const CIFilterArgs& a) {
            const int h = int(std::lround(std::min(2000.0, std::max(0.0, a.number(kCIInputRadiusKey)))));
            return blurOf(a, [h](const NodePtr& in) { return boxBlurNode(in, h); });
        }});

    registerFilter({"CIMotionBlur", "Motion Blur", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 20.0, 0.0, 100.0, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 0.0, -kPi, kPi, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double r = std::min(2000.0, a.number(kCIInputRadiusKey)), ang = a.number(kCIInputAngleKey);
            return blurOf(a, [r, ang](const NodePtr& in) { return motionBlurNode(in, r, ang); });
        }});

    registerFilter({"CIZoomBlur", "Zoom Blur", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)),
         numberInput("inputAmount", kCIAttributeTypeDistance, 20.0, 0.0, 200.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double amt = a.number("inputAmount");
            return blurOf(a, [c, amt](const NodePtr& in) { return zoomBlurNode(in, c.X(), c.Y(), amt); });
        }});

    registerFilter({"CIMedianFilter", "Median", {kCICategoryBlur, kCICategoryVideo},
        {imageInput()},
        [](const CIFilterArgs& a) { return blurOf(a, medianNode); }});

    // Smooths detail weaker than the noise level and sharpens what stands above it.
    registerFilter({"CINoiseReduction", "Noise Reduction", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), numberInput("inputNoiseLevel", kCIAttributeTypeScalar, 0.02, 0.0, 0.1, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputSharpnessKey, kCIAttributeTypeScalar, 0.4, 0.0, 2.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float noise = float(std::max(0.0, a.number("inputNoiseLevel")));
            const float sharp = float(a.number(kCIInputSharpnessKey));
            if (noise == 0.0f && sharp == 0.0f) return CIImage(in);
            return CIImage(makeCombineNode(in, gaussianBlurNode(in, 1.0), in->extent(),
                [noise, sharp](const float* p, const float* b, float* out, int n) {
                    for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                        const float d[4] = {p[0] - b[0], p[1] - b[1], p[2] - b[2], p[3] - b[3]};
                        const float ld = std::abs(luma(d));
                        const float keep = noise > 0 ? std::min(1.0f, (ld / noise) * (ld / noise)) : 1.0f;
                        const float g = keep * (1.0f + sharp);
                        for (int c = 0; c < 3; ++c) out[c] = b[c] + d[c] * g;
                        out[3] = p[3];
                    }
                }));
        }});

    // Sharpens the luminance only, so colour edges get no fringes.
    registerFilter({"CISharpenLuminance", "Sharpen Luminance", {kCICategorySharpen, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputSharpnessKey, kCIAttributeTypeScalar, 0.4, 0.0, 2.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float k = float(a.number(kCIInputSharpnessKey));
            if (k == 0.0f) return CIImage(in);
            return CIImage(makeCombineNode(in, gaussianBlurNode(in, 1.0), in->extent(), [k](const float* p, const float* b, float* out, int n) {
                for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                    const float dl = (luma(p) - luma(b)) * k;
                    const float a0 = p[3];
                    for (int c = 0; c < 3; ++c) out[c] = p[c] + dl;
                    out[3] = a0;
                }
            }));
        }});

    registerFilter({"CIUnsharpMask", "Unsharp Mask", {kCICategorySharpen, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 2.5, 0.0, 100.0, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 0.5, 0.0, 1.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float k = float(a.number(kCIInputIntensityKey));
            const double r = a.number(kCIInputRadiusKey);
            if (k == 0.0f || r <= 0.0) return CIImage(in);
            return CIImage(makeCombineNode(in, gaussianBlurNode(in, r), in->extent(), [k](const float* p, const float* b, float* out, int n) {
                for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                    const float a0 = p[3];
                    for (int c = 0; c < 3; ++c) out[c] = p[c] + k * (p[c] - b[c]);
                    out[3] = a0;
                }
            }));
        }});
}

}  // namespace platform::ci
