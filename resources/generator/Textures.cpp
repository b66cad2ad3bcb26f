// The 66 texture pictures: light leaks and bokeh, paint, fabric, grunge, paper, art,
// bricks, colour washes and vintage (film grain, dust, scratches, old wood).
#include "Generator.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace gen {

namespace {

constexpr int kW = 768, kH = 512;

// Fills every pixel from a function of (x, y) returning a colour.
template <class Fn>
QImage perPixel(Fn&& fn) {
    QImage img = newImage(kW, kH);
    for (int y = 0; y < kH; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < kW; ++x) line[x] = fn(float(x), float(y));
    }
    return img;
}

QColor hsv(double h, double s, double v, double a = 1.0) {
    h = std::fmod(h, 1.0);
    if (h < 0) h += 1.0;
    return QColor::fromHsvF(float(h), float(s), float(v), float(a));
}

QImage lights(int i) {
    QImage img = newImage(kW, kH, QColor(6, 4, 10));
    Rng rng(1000 + i);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    const double baseHue = i * 0.091;
    // Light leaks: broad warm glows from the edges.
    for (int k = 0; k < 3; ++k) {
        const QPointF c(rng.below(2) ? rng.range(-100, 120) : rng.range(kW - 120, kW + 100), rng.range(0, kH));
        QRadialGradient g(c, rng.range(220, 420));
        const QColor col = hsv(baseHue + rng.range(-0.08, 0.08), 0.85, 1.0, 0.75);
        g.setColorAt(0, col);
        g.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(img.rect(), g);
    }
    // Bokeh: soft discs of several sizes.
    const int discs = 35 + i * 3;
    for (int k = 0; k < discs; ++k) {
        const QPointF c(rng.range(0, kW), rng.range(0, kH));
        const double r = rng.range(8, 48);
        QRadialGradient g(c, r);
        QColor col = hsv(baseHue + rng.range(-0.15, 0.15), rng.range(0.3, 0.9), 1.0, rng.range(0.25, 0.6));
        g.setColorAt(0, col);
        g.setColorAt(0.8, col);
        col.setAlphaF(0);
        g.setColorAt(1, col);
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawEllipse(c, r, r);
    }
    p.end();
    return img;
}

QImage paint(int i) {
    // Thick brush work: many short strokes, each made of bristle lines of slightly different
    // shades, on a canvas ground.
    const uint32_t seed = 2000 + uint32_t(i);
    const double hue = 0.08 + 0.31 * i;
    QImage img = perPixel([&](float x, float y) {
        const float v = 0.85f + 0.05f * (fbm(x / 3.f, y / 3.f, seed, 2) - 0.5f);
        return rgbaF(v, v * 0.97f, v * 0.92f);
    });
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Rng rng(seed);
    for (int k = 0; k < 260; ++k) {
        const QPointF start(rng.range(-40, kW), rng.range(-20, kH));
        const double angle = rng.range(-0.25, 0.25) + (k % 6 == 0 ? 0.7 : 0.0);
        const double length = rng.range(90, 220), width = rng.range(22, 44);
        const QPointF dir(std::cos(angle), std::sin(angle)), normal(-dir.y(), dir.x());
        const QColor base = hsv(hue + rng.range(-0.06, 0.06), rng.range(0.2, 0.55), rng.range(0.5, 0.95));
        const int bristles = 9;
        for (int b = 0; b < bristles; ++b) {
            const double offset = (b - bristles / 2.0) * width / bristles;
            const QPointF a = start + normal * offset, e = a + dir * length * rng.range(0.75, 1.0);
            const QPointF c = (a + e) / 2 + normal * rng.range(-6, 6);
            QPainterPath bristle;
            bristle.moveTo(a);
            bristle.quadTo(c, e);
            QColor shade = base.lighter(int(rng.range(85, 120)));
            shade.setAlphaF(float(rng.range(0.55, 0.9)));
            p.setPen(QPen(shade, width / bristles * 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawPath(bristle);
        }
    }
    p.end();
    return img;
}

QImage fabric(int i) {
    const uint32_t seed = 3000 + uint32_t(i);
    const QColor tone = i == 1 ? QColor(52, 84, 130) : QColor(196, 180, 150);  // denim, linen
    return perPixel([&](float x, float y) {
        const float warp = 0.5f + 0.5f * std::sin(x * 1.047f + fbm(x / 40, y / 40, seed, 2) * 2);
        const float weft = 0.5f + 0.5f * std::sin(y * 1.047f + fbm(y / 40, x / 40, seed + 1, 2) * 2);
        const bool over = (int(x / 3) + int(y / 3)) % 2 == 0;
        const float thread = over ? warp : weft;
        const float slub = fbm(x / 90, y / 4, seed + 2, 3);
        const float v = 0.7f + 0.25f * thread + 0.15f * (slub - 0.5f) + 0.08f * (rand01(int(x), int(y), seed) - 0.5f);
        return rgbaF(tone.redF() * v, tone.greenF() * v, tone.blueF() * v);
    });
}

QImage grunge(int i) {
    const uint32_t seed = 4000 + uint32_t(i);
    // Concrete, rust, soot, moss and weathered stone.
    static const float tones[5][3] = {{0.55f, 0.54f, 0.52f}, {0.62f, 0.38f, 0.22f}, {0.32f, 0.31f, 0.30f},
                                      {0.42f, 0.47f, 0.33f}, {0.6f, 0.55f, 0.45f}};
    const float r0 = tones[(i - 1) % 5][0], g0 = tones[(i - 1) % 5][1], b0 = tones[(i - 1) % 5][2];
    QImage img = perPixel([&](float x, float y) {
        const float stain = fbm(x / 220, y / 220, seed, 6);
        const float blot = smooth(0.55f, 0.75f, fbm(x / 70, y / 70, seed + 3, 4));
        const float speck = rand01(int(x), int(y), seed) > 0.985f ? 0.45f : 0.f;
        const float v = 0.45f + 0.8f * (stain - 0.5f) - 0.35f * blot - speck;
        return rgbaF(r0 + v * 0.6f, g0 + v * 0.55f, b0 + v * 0.5f);
    });
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Rng rng(seed);
    for (int k = 0; k < 40; ++k) {  // scratches
        const QPointF a(rng.range(0, kW), rng.range(0, kH));
        const QPointF b = a + QPointF(rng.range(-160, 160), rng.range(-160, 160));
        const int shade = rng.below(2) ? 230 : 25;
        p.setPen(QPen(QColor(shade, shade, shade, 90), rng.range(0.6, 1.8)));
        p.drawLine(a, b);
    }
    p.end();
    return img;
}

QImage paper(int i) {
    const uint32_t seed = 5000 + uint32_t(i);
    const float warmth = 0.02f * float(i % 5);
    const bool crumpled = i % 3 == 0, stained = i % 4 == 2;
    return perPixel([&](float x, float y) {
        const float fiber = fbm(x / 3.f, y / 30.f, seed, 3) * 0.5f + fbm(x / 30.f, y / 3.f, seed + 1, 3) * 0.5f;
        const float cloud = fbm(x / 160.f, y / 160.f, seed + 2, 5);
        float v = 0.86f + 0.08f * (fiber - 0.5f) + 0.1f * (cloud - 0.5f);
        if (crumpled) v -= 0.18f * std::fabs(fbm(x / 90.f, y / 90.f, seed + 4, 4) - 0.5f);
        if (stained) v -= 0.12f * smooth(0.6f, 0.72f, fbm(x / 120.f, y / 120.f, seed + 5, 4));
        const float edge = smooth(0.0f, 0.25f, std::min({x, y, kW - x, kH - y}) / float(kH));
        v *= 0.85f + 0.15f * edge;
        return rgbaF(v * (0.98f + warmth), v * (0.94f + warmth * 0.3f), v * (0.84f - warmth));
    });
}

QImage art(int i) {
    const uint32_t seed = 6000 + uint32_t(i);
    QImage img = perPixel([&](float x, float y) {  // canvas weave
        const float weave = 0.5f + 0.25f * std::sin(x * 1.6f) * std::sin(y * 1.6f);
        const float v = 0.88f + 0.06f * (weave - 0.5f) + 0.05f * (fbm(x / 50, y / 50, seed, 3) - 0.5f);
        return rgbaF(v, v * 0.98f, v * 0.94f);
    });
    QColor pigments[3];
    for (int k = 0; k < 3; ++k) pigments[k] = QColor::fromHsvF(std::fmod(0.13f * float(i) + 0.3f * float(k), 1.f), 0.6f, 0.9f);
    QImage wash = perPixel([&](float x, float y) {  // watercolour blots
        float r = 0, g = 0, b = 0, a = 0;
        for (int k = 0; k < 3; ++k) {
            const float n = fbm(x / 150.f, y / 150.f, seed + 10 + uint32_t(k), 5);
            const float m = smooth(0.5f, 0.56f, n) * (0.55f + 0.45f * (1 - smooth(0.56f, 0.7f, n)));
            const QColor& c = pigments[k];
            r += c.redF() * m, g += c.greenF() * m, b += c.blueF() * m, a += m;
        }
        a = clamp01(a * 0.7f);
        return qPremultiply(rgbaF(a > 0 ? r / std::max(a, 1e-3f) * 0.7f : 0, a > 0 ? g / std::max(a, 1e-3f) * 0.7f : 0,
                                  a > 0 ? b / std::max(a, 1e-3f) * 0.7f : 0, a));
    });
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Multiply);
    p.drawImage(0, 0, wash);
    p.end();
    return img;
}

QImage bricks(int i) {
    const uint32_t seed = 7000 + uint32_t(i);
    const float bw = 96, bh = 40, mortar = 5;
    const QColor tones[3] = {QColor(150, 62, 44), QColor(170, 120, 90), QColor(110, 70, 60)};
    const QColor base = tones[(i - 1) % 3];
    return perPixel([&](float x, float y) {
        const int row = int(y / bh);
        const float xs = x + (row % 2 ? bw / 2 : 0);
        const int col = int(xs / bw);
        const float lx = std::fmod(xs, bw), ly = std::fmod(y, bh);
        const bool inMortar = lx < mortar || ly < mortar;
        const float grain = fbm(x / 6, y / 6, seed, 3);
        if (inMortar) {
            const float v = 0.72f + 0.15f * (grain - 0.5f);
            return rgbaF(v, v * 0.97f, v * 0.92f);
        }
        const float jitter = rand01(col, row, seed) - 0.5f;
        const float edge = smooth(0, 6, std::min({lx - mortar, ly - mortar, bw - lx, bh - ly}));
        const float v = 0.85f + 0.25f * jitter + 0.2f * (grain - 0.5f) - 0.15f * (1 - edge);
        return rgbaF(base.redF() * v, base.greenF() * v, base.blueF() * v);
    });
}

QImage colorWash(int i) {
    const uint32_t seed = 8000 + uint32_t(i);
    const float h0 = float(i - 1) / 16.f, h1 = std::fmod(h0 + 0.18f, 1.f);
    const QColor a = QColor::fromHsvF(h0, 0.75f, 0.95f), b = QColor::fromHsvF(h1, 0.8f, 0.75f);
    const float angle = 0.4f * float(i);
    const float dx = std::cos(angle), dy = std::sin(angle);
    return perPixel([&](float x, float y) {
        const float t = clamp01(((x - kW / 2) * dx + (y - kH / 2) * dy) / 700.f + 0.5f +
                                0.2f * (fbm(x / 200, y / 200, seed, 4) - 0.5f));
        return rgbaF(mix(a.redF(), b.redF(), t), mix(a.greenF(), b.greenF(), t), mix(a.blueF(), b.blueF(), t));
    });
}

QImage vintage(int i) {
    const uint32_t seed = 9000 + uint32_t(i);
    const bool wood = i >= 4;
    QImage img = perPixel([&](float x, float y) {
        float v;
        float r, g, b;
        if (wood) {
            // Old planks: growth rings stretched along each board, bent by noise, with fine
            // fibres, a tone of its own per board and dark joints between boards.
            const int plank = int(y / 128.f);
            const float phase = rand01(plank, 0, seed) * 40.f;
            const float growth = (y + phase) * 0.45f + 28.f * fbm(x / 520.f, y / 36.f, seed + uint32_t(plank), 4);
            const float ringPos = growth / 5.5f - std::floor(growth / 5.5f);
            const float ring = smooth(0.55f, 0.95f, ringPos) * (1.f - smooth(0.95f, 1.f, ringPos));
            const float fibre = fbm(x / 160.f, y / 1.2f, seed + 2, 3);
            const float tone = 0.9f + 0.2f * rand01(plank, 1, seed);
            const bool joint = std::fmod(y, 128.f) < 2.5f;
            v = tone * (0.62f - 0.2f * ring + 0.12f * (fibre - 0.5f)) - (joint ? 0.4f : 0.f);
            r = v * 0.95f, g = v * 0.7f, b = v * 0.44f;
        } else {
            const float grain = rand01(int(x), int(y), seed) - 0.5f;
            v = 0.75f + 0.08f * grain + 0.1f * (fbm(x / 200, y / 200, seed + 3, 4) - 0.5f);
            r = v * 1.0f, g = v * 0.88f, b = v * 0.66f;
        }
        const float dxn = (x - kW / 2) / (kW / 2), dyn = (y - kH / 2) / (kH / 2);
        const float vig = 1.f - 0.45f * smooth(0.4f, 1.4f, dxn * dxn + dyn * dyn);
        return rgbaF(r * vig, g * vig, b * vig);
    });
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Rng rng(seed);
    for (int k = 0; k < 120; ++k) {  // dust
        const QPointF c(rng.range(0, kW), rng.range(0, kH));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(rng.below(3) ? 40 : 250, 35, 30, int(rng.range(60, 160))));
        p.drawEllipse(c, rng.range(0.5, 2.2), rng.range(0.5, 2.2));
    }
    for (int k = 0; k < (wood ? 0 : 8); ++k) {  // vertical film scratches
        const double x = rng.range(0, kW);
        p.setPen(QPen(QColor(255, 250, 235, 110), rng.range(0.5, 1.3)));
        p.drawLine(QPointF(x, 0), QPointF(x + rng.range(-15, 15), kH));
    }
    p.end();
    return img;
}

struct TextureSet {
    const char* prefix;
    int count;
    QImage (*draw)(int);
};

const TextureSet kSets[] = {
    {"Lights", 11, lights}, {"Paint", 3, paint},   {"Fabric", 2, fabric},      {"Grunge", 5, grunge},
    {"Paper", 9, paper},    {"Art", 12, art},      {"Bricks", 3, bricks},      {"Color", 16, colorWash},
    {"Vintage", 5, vintage},
};

}  // namespace

QImage texturePicture(const QString& set, int index) {
    for (const TextureSet& s : kSets)
        if (set == QLatin1String(s.prefix)) return s.draw(index);
    return {};
}

QList<Job> textureJobs() {
    QList<Job> jobs;
    for (const TextureSet& s : kSets)
        for (int i = 1; i <= s.count; ++i)
            jobs.append({QStringLiteral("%1%2.jpg").arg(QLatin1String(s.prefix)).arg(i), [s, i] { return s.draw(i); }});
    return jobs;
}

}  // namespace gen
