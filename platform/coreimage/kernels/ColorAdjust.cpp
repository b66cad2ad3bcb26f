// Per-pixel colour filters. Each works on straight (unpremultiplied) RGBA and keeps its
// input's extent; chains of them fuse into one pass (kernels/Node.h).
// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

namespace {

// Hue rotation through YIQ: forward matrix, rotation of (I, Q), and the exact inverse of
// the forward matrix, so that an angle of 0 leaves every colour as it was.
struct Mat3 {
    double m[3][3];
};

Mat3 mul(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

Mat3 inverse(const Mat3& a) {
    const auto& m = a.m;
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Mat3 r{};
    r.m[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    r.m[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    r.m[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return r;
}

ColorStage matrixStage(const Mat3& t) {
    float f[9];
    for (int i = 0; i < 9; ++i) f[i] = float(t.m[i / 3][i % 3]);
    return [=](float* p, int n) {
        for (int i = 0; i < n; ++i, p += 4) {
            const float r = p[0], g = p[1], b = p[2];
            p[0] = f[0] * r + f[1] * g + f[2] * b;
            p[1] = f[3] * r + f[4] * g + f[5] * b;
            p[2] = f[6] * r + f[7] * g + f[8] * b;
        }
    };
}

// A curve through the given points (sorted by x), monotone cubic between them and
// straight beyond the first and last, tabulated for speed.
class Curve {
public:
    explicit Curve(std::vector<std::pair<double, double>> pts) {
        std::sort(pts.begin(), pts.end());
        const size_t n = pts.size();
        std::vector<double> xs(n), ys(n), d(n > 1 ? n - 1 : 0), m(n, 0.0);
        for (size_t i = 0; i < n; ++i) xs[i] = pts[i].first, ys[i] = pts[i].second;
        for (size_t i = 0; i + 1 < n; ++i) {
            const double dx = xs[i + 1] - xs[i];
            d[i] = dx > 1e-12 ? (ys[i + 1] - ys[i]) / dx : 0.0;
        }
        if (n >= 2) {
            m[0] = d[0];
            m[n - 1] = d[n - 2];
            for (size_t i = 1; i + 1 < n; ++i) m[i] = (d[i - 1] * d[i] <= 0) ? 0.0 : (d[i - 1] + d[i]) / 2;
            for (size_t i = 0; i + 1 < n; ++i) {
                if (d[i] == 0) { m[i] = m[i + 1] = 0; continue; }
                const double a = m[i] / d[i], b = m[i + 1] / d[i], h = a * a + b * b;
                if (h > 9) { const double t = 3 / std::sqrt(h); m[i] = t * a * d[i]; m[i + 1] = t * b * d[i]; }
            }
        }
        auto eval = [&](double x) {
            if (n == 0) return x;
            if (n == 1) return ys[0];
            if (x <= xs[0]) return ys[0] + (x - xs[0]) * m[0];
            if (x >= xs[n - 1]) return ys[n - 1] + (x - xs[n - 1]) * m[n - 1];
            size_t i = 0;
            while (i + 2 < n && x > xs[i + 1]) ++i;
            const double h = xs[i + 1] - xs[i];
            if (h <= 1e-12) return ys[i + 1];
            const double t = (x - xs[i]) / h, t2 = t * t, t3 = t2 * t;
            return (2 * t3 - 3 * t2 + 1) * ys[i] + (t3 - 2 * t2 + t) * h * m[i] + (-2 * t3 + 3 * t2) * ys[i + 1] + (t3 - t2) * h * m[i + 1];
        };
        for (int i = 0; i <= kSteps; ++i) lut_[i] = float(eval(double(i) / kSteps));
        slope0_ = float(n >= 2 ? m[0] : 0.0);
        slope1_ = float(n >= 2 ? m[n - 1] : 0.0);
        x0_ = float(n ? xs[0] : 0.0), x1_ = float(n ? xs[n - 1] : 1.0);
        y0_ = float(n ? eval(0.0) : 0.0), y1_ = float(n ? eval(1.0) : 1.0);
    }
    float operator()(float x) const {
        if (x <= 0.0f) return y0_ + x * slope0_;
        if (x >= 1.0f) return y1_ + (x - 1.0f) * slope1_;
        const float f = x * kSteps;
        const int i = std::min(int(f), kSteps - 1);
        const float t = f - float(i);
        return lut_[i] + t * (lut_[i + 1] - lut_[i]);
    }

private:
    static constexpr int kSteps = 1024;
    float lut_[kSteps + 1];
    float slope0_, slope1_, x0_, x1_, y0_, y1_;
};

}  // namespace

void registerColorFilters() {
    registerFilter({"CISepiaTone", "Sepia Tone", {kCICategoryColorEffect, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1.0, 0.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const float k = float(a.number(kCIInputIntensityKey));
            return colorFilter(a, [k](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) {
                    const float r = p[0], g = p[1], b = p[2];
                    const float sr = 0.393f * r + 0.769f * g + 0.189f * b;
                    const float sg = 0.349f * r + 0.686f * g + 0.168f * b;
                    const float sb = 0.272f * r + 0.534f * g + 0.131f * b;
                    p[0] = r + k * (sr - r), p[1] = g + k * (sg - g), p[2] = b + k * (sb - b);
                }
            });
        }});

    registerFilter({"CIColorControls", "Color Controls", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(),
         numberInput(kCIInputSaturationKey, kCIAttributeTypeScalar, 1.0, 0.0, 2.0, 0.0, std::nullopt, 1.0),
         numberInput(kCIInputBrightnessKey, kCIAttributeTypeScalar, 0.0, -1.0, 1.0, -1.0, std::nullopt, 0.0),
         numberInput(kCIInputContrastKey, kCIAttributeTypeScalar, 1.0, 0.25, 4.0, 0.0, std::nullopt, 1.0)},
        [](const CIFilterArgs& a) {
            const float sat = float(a.number(kCIInputSaturationKey)), bri = float(a.number(kCIInputBrightnessKey)),
                        con = float(a.number(kCIInputContrastKey));
            return colorFilter(a, [=](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) {
                    const float l = luma(p);
                    for (int c = 0; c < 3; ++c) {
                        float v = l + sat * (p[c] - l);
                        v += bri;
                        p[c] = (v - 0.5f) * con + 0.5f;
                    }
                }
            });
        }});

    // Exposure is a gain on light: on our gamma-encoded values (about 2.2) a gain of 2^EV
    // is a factor of 2^(EV / 2.2).
    registerFilter({"CIExposureAdjust", "Exposure Adjust", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels, kCICategoryHighDynamicRange},
        {imageInput(), numberInput(kCIInputEVKey, kCIAttributeTypeScalar, 0.0, -10.0, 10.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const float k = float(std::pow(2.0, a.number(kCIInputEVKey) / 2.2));
            return colorFilter(a, [k](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) p[0] *= k, p[1] *= k, p[2] *= k;
            });
        }});

    registerFilter({"CIGammaAdjust", "Gamma Adjust", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), numberInput("inputPower", kCIAttributeTypeScalar, 1.0, 0.25, 4.0, std::nullopt, std::nullopt, 1.0)},
        [](const CIFilterArgs& a) {
            const float g = float(a.number("inputPower"));
            if (g == 1.0f) return colorFilter(a, [](float*, int) {});
            // A table over [0, 1] (where nearly every value lies), the exact power beyond.
            auto table = std::make_shared<std::vector<float>>(4097);
            for (size_t i = 0; i < table->size(); ++i) (*table)[i] = float(std::pow(double(i) / 4096.0, double(g)));
            return colorFilter(a, [g, table](float* p, int n) {
                const float* t = table->data();
                for (int i = 0; i < n; ++i, p += 4)
                    for (int c = 0; c < 3; ++c) {
                        const float v = p[c];
                        if (v >= 0.0f && v <= 1.0f) {
                            const float f = v * 4096.0f;
                            const int k = std::min(int(f), 4095);
                            p[c] = t[k] + (f - float(k)) * (t[k + 1] - t[k]);
                        } else if (v > 1.0f) {
                            p[c] = std::pow(v, g);
                        }
                    }
            });
        }});

    // White maps to the given colour, every other colour in proportion.
    registerFilter({"CIWhitePointAdjust", "White Point Adjust", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), colorInput(kCIInputColorKey, QColor(255, 255, 255, 255))},
        [](const CIFilterArgs& a) {
            const QColor c = a.color(kCIInputColorKey);
            const float w[3] = {float(c.redF()), float(c.greenF()), float(c.blueF())};
            return colorFilter(a, [=](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) p[0] *= w[0], p[1] *= w[1], p[2] *= w[2];
            });
        }});

    // Saturation that favours the dull colours: grey moves most, vivid colours least.
    registerFilter({"CIVibrance", "Vibrance", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), numberInput("inputAmount", kCIAttributeTypeScalar, 0.0, -1.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const float amt = float(a.number("inputAmount"));
            return colorFilter(a, [amt](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) {
                    const float mx = std::max({p[0], p[1], p[2]}), mn = std::min({p[0], p[1], p[2]});
                    const float sat = clamp01(mx - mn);
                    const float k = 1.0f + amt * (1.0f - sat);
                    const float l = luma(p);
                    for (int c = 0; c < 3; ++c) p[c] = l + k * (p[c] - l);
                }
            });
        }});

    registerFilter({"CIHueAdjust", "Hue Adjust", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 0.0, -kPi, kPi, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double ang = a.number(kCIInputAngleKey);
            if (ang == 0.0) return colorFilter(a, [](float*, int) {});
            const Mat3 yiq{{{0.299, 0.587, 0.114}, {0.596, -0.274, -0.322}, {0.211, -0.523, 0.312}}};
            const Mat3 rot{{{1, 0, 0}, {0, std::cos(ang), -std::sin(ang)}, {0, std::sin(ang), std::cos(ang)}}};
            return colorFilter(a, matrixStage(mul(inverse(yiq), mul(rot, yiq))));
        }});

    registerFilter({"CIToneCurve", "Tone Curve", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), vectorInput("inputPoint0", kCIAttributeTypeOffset, platform::Vec(0, 0)),
         vectorInput("inputPoint1", kCIAttributeTypeOffset, platform::Vec(0.25, 0.25)),
         vectorInput("inputPoint2", kCIAttributeTypeOffset, platform::Vec(0.5, 0.5)),
         vectorInput("inputPoint3", kCIAttributeTypeOffset, platform::Vec(0.75, 0.75)),
         vectorInput("inputPoint4", kCIAttributeTypeOffset, platform::Vec(1, 1))},
        [](const CIFilterArgs& a) {
            std::vector<std::pair<double, double>> pts;
            for (const char* k : {"inputPoint0", "inputPoint1", "inputPoint2", "inputPoint3", "inputPoint4"}) {
                const platform::Vec v = a.vector(k);
                pts.emplace_back(v.X(), v.Y());
            }
            auto curve = std::make_shared<Curve>(pts);
            return colorFilter(a, [curve](float* p, int n) {
                const Curve& c = *curve;
                for (int i = 0; i < n; ++i, p += 4) p[0] = c(p[0]), p[1] = c(p[1]), p[2] = c(p[2]);
            });
        }});

    registerFilter({"CIColorInvert", "Color Invert", {kCICategoryColorEffect, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput()},
        [](const CIFilterArgs& a) {
            return colorFilter(a, [](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) p[0] = 1 - p[0], p[1] = 1 - p[1], p[2] = 1 - p[2];
            });
        }});

    // Darkens (or, with a negative intensity, lightens) outside a circle: full strength
    // from the radius outward, easing in over the fall-off fraction of the radius.
    registerFilter({"CIVignetteEffect", "Vignette Effect", {kCICategoryColorEffect, kCICategoryVideo, kCICategoryInterlaced},
        {imageInput(), vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)),
         numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 150.0, 0.0, 2000.0, 0.0),
         numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1.0, -1.0, 1.0, -1.0, 1.0, 0.0),
         numberInput("inputFalloff", kCIAttributeTypeScalar, 0.5, 0.0, 1.0, 0.0, 1.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const float cx = float(c.X()), cy = float(c.Y());
            const float r = float(std::max(0.0, a.number(kCIInputRadiusKey)));
            const float k = float(a.number(kCIInputIntensityKey));
            const float fall = std::clamp(float(a.number("inputFalloff")), 0.0f, 1.0f);
            const float inner = r * (1.0f - fall);
            return CIImage(makePositionedColorNode(in, [=](float* p, int n, int x, int y) {
                const float dy = float(y) + 0.5f - cy;
                for (int i = 0; i < n; ++i, p += 4) {
                    const float dx = float(x + i) + 0.5f - cx;
                    const float t = smoothstep(inner, r, std::sqrt(dx * dx + dy * dy)) * k;
                    if (t >= 0) p[0] *= 1 - t, p[1] *= 1 - t, p[2] *= 1 - t;
                    else p[0] -= t * (1 - p[0]), p[1] -= t * (1 - p[1]), p[2] -= t * (1 - p[2]);
                }
            }));
        }});

    // Lifts shadows and holds back highlights by the (optionally blurred) luminance.
    registerFilter({"CIHighlightShadowAdjust", "Highlight and Shadow Adjust", {kCICategoryColorAdjustment, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeScalar, 0.0, 0.0, 10.0, 0.0),
         numberInput("inputShadowAmount", kCIAttributeTypeScalar, 0.0, -1.0, 1.0, -1.0, 1.0, 0.0),
         numberInput("inputHighlightAmount", kCIAttributeTypeScalar, 1.0, 0.3, 1.0, 0.0, 1.0, 1.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float s = float(a.number("inputShadowAmount"));
            const float h = float(a.number("inputHighlightAmount"));
            auto adjust = [s, h](float* p, float l) {
                const float lc = clamp01(l);
                float nl = lc + s * 1.5f * lc * (1 - lc) * (1 - lc) - (1 - h) * 0.5f * lc * lc * lc;
                nl = std::max(nl, 0.0f);
                if (l > 1e-5f) {
                    const float g = nl / l;
                    p[0] *= g, p[1] *= g, p[2] *= g;
                } else {
                    p[0] += nl, p[1] += nl, p[2] += nl;
                }
            };
            const double radius = a.number(kCIInputRadiusKey);
            if (radius <= 0.0) {
                return CIImage(makeColorNode(in, [adjust](float* p, int n) {
                    for (int i = 0; i < n; ++i, p += 4) adjust(p, luma(p));
                }));
            }
            // Local luminance: the blurred picture decides how much each pixel moves.
            return CIImage(blurCombineNode(in, radius, [adjust](const float* a0, const float* b, float* out, int n) {
                for (int i = 0; i < n; ++i, a0 += 4, b += 4, out += 4) {
                    float p[4] = {a0[0], a0[1], a0[2], a0[3]};
                    if (p[3] <= 0) { std::fill(out, out + 4, 0.0f); continue; }
                    for (int c = 0; c < 3; ++c) p[c] /= p[3];
                    // The gain found at the local level applies to this pixel.
                    const float lb = b[3] > 0 ? luma(b) / b[3] : 0.0f;
                    adjust(p, lb);
                    for (int c = 0; c < 3; ++c) out[c] = p[c] * p[3];
                    out[3] = p[3];
                }
            }));
        }});
}

}  // namespace platform::ci
