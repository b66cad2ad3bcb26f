// Compositing and blend modes: "inputImage" is the source laid on top of
// "inputBackgroundImage". Blends follow the usual separable / non-separable formulas on
// straight colours, then mix by coverage:
//   result = (1 - ab) * S + (1 - as) * B + as * ab * blend(Cb, Cs),  alpha = as + ab - as * ab
// The extent is the union of both inputs' extents.
// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

namespace {

using Separable = float (*)(float cb, float cs);

float lum(const float* c) { return 0.3f * c[0] + 0.59f * c[1] + 0.11f * c[2]; }

void clipColor(float* c) {
    const float l = lum(c);
    const float n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
    if (n < 0.0f && l - n > 1e-7f)
        for (int i = 0; i < 3; ++i) c[i] = l + (c[i] - l) * l / (l - n);
    if (x > 1.0f && x - l > 1e-7f)
        for (int i = 0; i < 3; ++i) c[i] = l + (c[i] - l) * (1.0f - l) / (x - l);
}

void setLum(float* c, float l) {
    const float d = l - lum(c);
    for (int i = 0; i < 3; ++i) c[i] += d;
    clipColor(c);
}

float sat(const float* c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }

void setSat(float* c, float s) {
    int mx = 0, mn = 0;
    for (int i = 1; i < 3; ++i) {
        if (c[i] > c[mx]) mx = i;
        if (c[i] < c[mn]) mn = i;
    }
    if (mx == mn) {
        c[0] = c[1] = c[2] = 0.0f;
        return;
    }
    const int md = 3 - mx - mn;
    const float range = c[mx] - c[mn];
    c[md] = (c[md] - c[mn]) * s / range;
    c[mx] = s;
    c[mn] = 0.0f;
}

enum class NonSeparable { Hue, Saturation, Color, Luminosity };

void nonSeparable(NonSeparable mode, const float* cb, const float* cs, float* out) {
    float r[3] = {cs[0], cs[1], cs[2]};
    switch (mode) {
    case NonSeparable::Hue:
        setSat(r, sat(cb));
        setLum(r, lum(cb));
        break;
    case NonSeparable::Saturation:
        r[0] = cb[0], r[1] = cb[1], r[2] = cb[2];
        setSat(r, sat(cs));
        setLum(r, lum(cb));
        break;
    case NonSeparable::Color:
        setLum(r, lum(cb));
        break;
    case NonSeparable::Luminosity:
        r[0] = cb[0], r[1] = cb[1], r[2] = cb[2];
        setLum(r, lum(cs));
        break;
    }
    out[0] = r[0], out[1] = r[1], out[2] = r[2];
}

float multiplyB(float b, float s) { return b * s; }
float screenB(float b, float s) { return b + s - b * s; }
float hardLightB(float b, float s) { return s <= 0.5f ? b * 2 * s : screenB(b, 2 * s - 1); }
float overlayB(float b, float s) { return hardLightB(s, b); }
float darkenB(float b, float s) { return std::min(b, s); }
float lightenB(float b, float s) { return std::max(b, s); }
float colorDodgeB(float b, float s) {
    if (b <= 0.0f) return 0.0f;
    if (s >= 1.0f) return 1.0f;
    return std::min(1.0f, b / (1.0f - s));
}
float colorBurnB(float b, float s) {
    if (b >= 1.0f) return 1.0f;
    if (s <= 0.0f) return 0.0f;
    return 1.0f - std::min(1.0f, (1.0f - b) / s);
}
float softLightB(float b, float s) {
    if (s <= 0.5f) return b - (1 - 2 * s) * b * (1 - b);
    const float d = b <= 0.25f ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
    return b + (2 * s - 1) * (d - b);
}
float differenceB(float b, float s) { return std::abs(b - s); }
float exclusionB(float b, float s) { return b + s - 2 * b * s; }
float subtractB(float b, float s) { return std::max(0.0f, b - s); }

void unpremul(const float* p, float* c) {
    if (p[3] > 0) c[0] = p[0] / p[3], c[1] = p[1] / p[3], c[2] = p[2] / p[3];
    else c[0] = c[1] = c[2] = 0.0f;
}


// The blend's output; with one input missing there is nothing to blend.
CIImage blend(const CIFilterArgs& a, CombineRow row) {
    const NodePtr s = inputNode(a), b = inputNode(a, kCIInputBackgroundImageKey);
    if (!s || !b) return {};
    return CIImage(makeCombineNode(s, b, unionExtent(s, b), std::move(row)));
}

// The blend function is a template argument so that it is inlined into the pixel loop.
template <Separable f>
CombineRow separableRow() {
    return [](const float* s, const float* b, float* out, int n) {
        for (int i = 0; i < n; ++i, s += 4, b += 4, out += 4) {
            const float as = s[3], ab = b[3];
            float cs[3], cb[3];
            unpremul(s, cs);
            unpremul(b, cb);
            float o[4];
            for (int c = 0; c < 3; ++c) o[c] = (1 - ab) * s[c] + (1 - as) * b[c] + as * ab * f(clamp01(cb[c]), clamp01(cs[c]));
            o[3] = as + ab - as * ab;
            std::copy(o, o + 4, out);
        }
    };
}

CombineRow nonSeparableRow(NonSeparable mode) {
    return [mode](const float* s, const float* b, float* out, int n) {
        for (int i = 0; i < n; ++i, s += 4, b += 4, out += 4) {
            const float as = s[3], ab = b[3];
            float cs[3], cb[3], m[3];
            unpremul(s, cs);
            unpremul(b, cb);
            nonSeparable(mode, cb, cs, m);
            float o[4];
            for (int c = 0; c < 3; ++c) o[c] = (1 - ab) * s[c] + (1 - as) * b[c] + as * ab * m[c];
            o[3] = as + ab - as * ab;
            std::copy(o, o + 4, out);
        }
    };
}

void registerBlend(const char* name, const char* display, CombineRow row) {
    registerFilter({name, display, {kCICategoryCompositeOperation, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels, kCICategoryHighDynamicRange},
        {imageInput(), imageInput(kCIInputBackgroundImageKey)},
        [row](const CIFilterArgs& a) { return blend(a, row); }});
}

}  // namespace

QRectF unionExtent(const NodePtr& a, const NodePtr& b) {
    const QRectF ea = a ? a->extent() : QRectF(), eb = b ? b->extent() : QRectF();
    if (isInfinite(ea) || isInfinite(eb)) return infiniteRect();
    if (ea.isEmpty()) return eb;
    if (eb.isEmpty()) return ea;
    return ea.united(eb);
}

void registerCompositeFilters() {
    registerBlend("CISourceOverCompositing", "Source Over", [](const float* s, const float* b, float* out, int n) {
        for (int i = 0; i < n; ++i, s += 4, b += 4, out += 4) {
            const float k = 1 - s[3];
            const float o[4] = {s[0] + b[0] * k, s[1] + b[1] * k, s[2] + b[2] * k, s[3] + b[3] * k};
            std::copy(o, o + 4, out);
        }
    });
    registerBlend("CIMultiplyBlendMode", "Multiply Blend Mode", separableRow<multiplyB>());
    registerBlend("CIScreenBlendMode", "Screen Blend Mode", separableRow<screenB>());
    registerBlend("CIOverlayBlendMode", "Overlay Blend Mode", separableRow<overlayB>());
    registerBlend("CISoftLightBlendMode", "Soft Light Blend Mode", separableRow<softLightB>());
    registerBlend("CIHardLightBlendMode", "Hard Light Blend Mode", separableRow<hardLightB>());
    registerBlend("CIDarkenBlendMode", "Darken Blend Mode", separableRow<darkenB>());
    registerBlend("CILightenBlendMode", "Lighten Blend Mode", separableRow<lightenB>());
    registerBlend("CIColorBurnBlendMode", "Color Burn Blend Mode", separableRow<colorBurnB>());
    registerBlend("CIColorDodgeBlendMode", "Color Dodge Blend Mode", separableRow<colorDodgeB>());
    registerBlend("CIDifferenceBlendMode", "Difference Blend Mode", separableRow<differenceB>());
    registerBlend("CIExclusionBlendMode", "Exclusion Blend Mode", separableRow<exclusionB>());
    registerBlend("CISubtractBlendMode", "Subtract Blend Mode", separableRow<subtractB>());
    registerBlend("CIHueBlendMode", "Hue Blend Mode", nonSeparableRow(NonSeparable::Hue));
    registerBlend("CISaturationBlendMode", "Saturation Blend Mode", nonSeparableRow(NonSeparable::Saturation));
    registerBlend("CIColorBlendMode", "Color Blend Mode", nonSeparableRow(NonSeparable::Color));
    registerBlend("CILuminosityBlendMode", "Luminosity Blend Mode", nonSeparableRow(NonSeparable::Luminosity));
}

}  // namespace platform::ci
