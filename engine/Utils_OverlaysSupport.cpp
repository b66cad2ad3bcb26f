#include "engine/Utils_OverlaysSupport.h"

#include "platform/foundation/Resources.h"

#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

namespace overlays {

QImage resourceImage(const QString& name) {
    if (name.isEmpty()) return {};
    QStringList candidates{name};
    if (!name.contains(QLatin1Char('.')))
        candidates << name + QStringLiteral(".png") << name + QStringLiteral(".jpg");
    for (const QString& c : candidates) {
        const QString path = platform::resourcePath(c);
        if (path.isEmpty()) continue;
        QImageReader reader(path);
        reader.setAutoTransform(false);
        QImage img = reader.read();
        if (!img.isNull()) return premultiplied(img);
    }
    return {};
}

QImage premultiplied(const QImage& image) {
    if (image.isNull() || image.format() == QImage::Format_ARGB32_Premultiplied) return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage withOpacity(const QImage& image, double factor) {
    if (image.width() <= 0 || image.height() <= 0) return image;
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDotsPerMeterX(image.dotsPerMeterX());
    out.setDotsPerMeterY(image.dotsPerMeterY());
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setOpacity(std::clamp(std::isfinite(factor) ? factor : 1.0, 0.0, 1.0));
    p.drawImage(0, 0, image);
    p.end();
    return out;
}

QImage stretched(const QImage& image, int w, int h) {
    if (image.isNull() || w <= 0 || h <= 0) return image;
    if (image.width() == w && image.height() == h) return premultiplied(image);
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QRectF(0, 0, w, h), image, QRectF(image.rect()));
    p.end();
    return out;
}

namespace {

enum class Mode { SourceOver, Color, Darken, Difference, HardLight, Lighten, Multiply, Overlay, Screen, Subtract };

Mode modeFor(const QString& name) {
    static const std::array<std::pair<const char*, Mode>, 10> table{{
        {"CISourceOverCompositing", Mode::SourceOver}, {"CIColorBlendMode", Mode::Color},
        {"CIDarkenBlendMode", Mode::Darken},           {"CIDifferenceBlendMode", Mode::Difference},
        {"CIHardLightBlendMode", Mode::HardLight},     {"CILightenBlendMode", Mode::Lighten},
        {"CIMultiplyBlendMode", Mode::Multiply},       {"CIOverlayBlendMode", Mode::Overlay},
        {"CIScreenBlendMode", Mode::Screen},           {"CISubtractBlendMode", Mode::Subtract},
    }};
    for (const auto& [n, m] : table)
        if (name == QLatin1String(n)) return m;
    return Mode::SourceOver;
}

inline float hardLight(float b, float s) { return s <= 0.5f ? 2.f * b * s : 1.f - 2.f * (1.f - b) * (1.f - s); }

inline float lum(float r, float g, float b) { return 0.3f * r + 0.59f * g + 0.11f * b; }

// The backdrop's luminosity with the source's hue and saturation, clipped into gamut.
void setLum(float& r, float& g, float& b, float l) {
    const float d = l - lum(r, g, b);
    r += d, g += d, b += d;
    const float L = lum(r, g, b);
    const float n = std::min({r, g, b}), x = std::max({r, g, b});
    if (n < 0.f && L - n > 1e-6f) {
        r = L + (r - L) * L / (L - n), g = L + (g - L) * L / (L - n), b = L + (b - L) * L / (L - n);
    }
    if (x > 1.f && x - L > 1e-6f) {
        r = L + (r - L) * (1.f - L) / (x - L), g = L + (g - L) * (1.f - L) / (x - L),
        b = L + (b - L) * (1.f - L) / (x - L);
    }
}

}  // namespace

QImage blendWithFilter(const QString& filterName, const QImage& topIn, const QImage& backgroundIn) {
    if (backgroundIn.isNull()) return {};
    const QImage bg = premultiplied(backgroundIn);
    QImage top = stretched(premultiplied(topIn), bg.width(), bg.height());
    const Mode mode = modeFor(filterName);
    QImage out(bg.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDotsPerMeterX(bg.dotsPerMeterX());
    out.setDotsPerMeterY(bg.dotsPerMeterY());
    if (top.isNull()) return bg.copy();
    constexpr float k = 1.f / 255.f;
    for (int y = 0; y < bg.height(); ++y) {
        const QRgb* sl = reinterpret_cast<const QRgb*>(top.constScanLine(y));
        const QRgb* bl = reinterpret_cast<const QRgb*>(bg.constScanLine(y));
        QRgb* ol = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < bg.width(); ++x) {
            const QRgb s = sl[x], b = bl[x];
            const float as = qAlpha(s) * k, ab = qAlpha(b) * k;
            const float cs[3] = {qRed(s) * k, qGreen(s) * k, qBlue(s) * k};  // premultiplied
            const float cb[3] = {qRed(b) * k, qGreen(b) * k, qBlue(b) * k};
            float res[3];
            if (mode == Mode::SourceOver || as <= 0.f || ab <= 0.f) {
                for (int i = 0; i < 3; ++i) res[i] = cs[i] + cb[i] * (1.f - as);
            } else {
                float us[3], ub[3], mixed[3];
                for (int i = 0; i < 3; ++i) us[i] = cs[i] / as, ub[i] = cb[i] / ab;
                if (mode == Mode::Color) {
                    mixed[0] = us[0], mixed[1] = us[1], mixed[2] = us[2];
                    setLum(mixed[0], mixed[1], mixed[2], lum(ub[0], ub[1], ub[2]));
                } else {
                    for (int i = 0; i < 3; ++i) {
                        const float B = ub[i], S = us[i];
                        float m = S;
                        switch (mode) {
                        case Mode::Darken: m = std::min(B, S); break;
                        case Mode::Lighten: m = std::max(B, S); break;
                        case Mode::Difference: m = std::fabs(B - S); break;
                        case Mode::Multiply: m = B * S; break;
                        case Mode::Screen: m = B + S - B * S; break;
                        case Mode::HardLight: m = hardLight(B, S); break;
                        case Mode::Overlay: m = hardLight(S, B); break;
                        case Mode::Subtract: m = std::max(0.f, B - S); break;
                        default: break;
                        }
                        mixed[i] = m;
                    }
                }
                for (int i = 0; i < 3; ++i)
                    res[i] = cs[i] * (1.f - ab) + cb[i] * (1.f - as) + as * ab * std::clamp(mixed[i], 0.f, 1.f);
            }
            const float ao = as + ab * (1.f - as);
            auto q = [](float v) { return int(std::lround(std::clamp(v, 0.f, 1.f) * 255.f)); };
            const int a = q(ao);
            ol[x] = qRgba(std::min(q(res[0]), a), std::min(q(res[1]), a), std::min(q(res[2]), a), a);
        }
    }
    return out;
}

}  // namespace overlays
