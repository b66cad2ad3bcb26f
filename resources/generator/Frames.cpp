// Frame designs: for every design, its preview picture and eight border pieces (four
// corners, four edges). A design is a band profile: colour and opacity as a function of the
// depth into the band (d: 0 at the outer edge, 1 at the photo) and the position along it
// (u, repeating every piece length). Corners are mitred from the two bands they join, and
// the noise repeats with the piece length, so edges tile seamlessly into corners.
#include "Generator.h"

#include "platform/graphics/NinePart.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>

namespace gen {

namespace {

constexpr int kPiece = 128;

// light: +1 on the top and left sides, -1 on the bottom and right, so bevels look lit from
// the top left.
using Band = QRgb (*)(float d, float u, int variant, float light);

float periodicNoise(float u, float d, uint32_t seed, int period, float dScale, int octaves = 3) {
    return fbm(u * float(period), d * dScale, seed, octaves, period, 0);
}

QRgb brushBand(float d, float u, int v, float) {
    static const QColor colours[] = {QColor(250, 250, 248), QColor(20, 20, 22),   QColor(178, 34, 40),
                                     QColor(28, 44, 92),    QColor(18, 120, 120), QColor(226, 120, 160)};
    const QColor c = colours[(v - 1) % 6];
    const uint32_t seed = 100 + uint32_t(v);
    const float boundary = 0.42f + 0.4f * periodicNoise(u, d, seed, 6, 2.f, 4);
    float a = 1.f - smooth(boundary - 0.05f, boundary + 0.03f, d);
    if (periodicNoise(u, d, seed + 5, 24, 6.f) > 0.66f && d > boundary - 0.25f) a *= 0.35f;  // dry brush
    const float streak = 0.88f + 0.24f * periodicNoise(u, d, seed + 9, 40, 24.f, 2);
    return rgbaF(c.redF() * streak, c.greenF() * streak, c.blueF() * streak, a);
}

QRgb classicBand(float d, float u, int v, float light) {
    struct Finish {
        QColor colour;
        bool wood;
    };
    static const Finish finishes[] = {
        {QColor(212, 170, 72), false}, {QColor(104, 64, 36), true},  {QColor(30, 28, 28), false},
        {QColor(196, 198, 204), false}, {QColor(236, 232, 222), false}, {QColor(170, 128, 78), true},
        {QColor(128, 44, 36), true},   {QColor(150, 104, 60), false}, {QColor(40, 84, 60), false},
    };
    const Finish& f = finishes[(v - 1) % 9];
    const uint32_t seed = 200 + uint32_t(v);
    float shade;
    if (d < 0.08f) shade = 0.8f + 0.2f * light;
    else if (d < 0.45f) shade = 0.82f + 0.3f * light * std::cos((d - 0.08f) / 0.37f * 3.14159f);
    else if (d < 0.52f) shade = 0.5f;
    else if (d < 0.85f) shade = 0.92f;
    else if (d < 0.92f) shade = 1.08f + 0.1f * light;
    else shade = 0.62f;
    if (f.wood) {
        const float grain = periodicNoise(u, d, seed, 8, 1.5f, 4);
        shade *= 0.9f + 0.2f * grain + 0.05f * std::sin(d * 40.f + grain * 12.f);
    } else {
        shade = shade * shade * 1.05f + 0.04f * (periodicNoise(u, d, seed, 32, 16.f, 2) - 0.5f);  // polished
    }
    return rgbaF(f.colour.redF() * shade, f.colour.greenF() * shade, f.colour.blueF() * shade);
}

QRgb fancyBand(float d, float u, int v, float) {
    static const QColor colours[] = {QColor(246, 170, 190), QColor(150, 220, 190), QColor(190, 170, 235),
                                     QColor(250, 220, 120)};
    const QColor c = colours[(v - 1) % 4];
    const float boundary = 0.7f + 0.2f * std::fabs(std::sin(3.14159f * u * 3.f));
    if (d > boundary) return 0;
    const float du = std::fmod(u * 3.f, 1.f) - 0.5f, dd = (d - 0.38f) / 0.3f;
    const bool dot = du * du + dd * dd < 0.09f;
    const bool line = d > 0.06f && d < 0.1f;
    const float edgeShade = 1.f - 0.15f * smooth(boundary - 0.08f, boundary, d);
    if (dot || line) return rgbaF(1.f, 1.f, 1.f);
    return rgbaF(c.redF() * edgeShade, c.greenF() * edgeShade, c.blueF() * edgeShade);
}

QRgb filmBand(float d, float u, int v, float) {
    static const QColor colours[] = {QColor(14, 14, 14), QColor(56, 36, 22), QColor(44, 46, 50), QColor(150, 80, 30)};
    const QColor c = colours[(v - 1) % 4];
    // Two sprocket holes per piece, rounded, see-through.
    const float hu = std::fmod(u * 2.f, 1.f);
    const float ru = std::fabs(hu - 0.5f) / 0.28f, rd = std::fabs(d - 0.27f) / 0.14f;
    if (std::pow(ru, 4.f) + std::pow(rd, 4.f) < 1.f) return 0;
    const float grain = 0.9f + 0.2f * rand01(int(u * 1000), int(d * 1000), 300 + uint32_t(v));
    const float rim = d > 0.93f ? 1.8f : 1.f;
    return rgbaF(c.redF() * grain * rim + (rim > 1 ? 0.1f : 0), c.greenF() * grain * rim + (rim > 1 ? 0.1f : 0),
                 c.blueF() * grain * rim + (rim > 1 ? 0.1f : 0));
}

QRgb grungeBand(float d, float u, int v, float) {
    static const QColor colours[] = {QColor(18, 16, 14), QColor(70, 46, 30), QColor(90, 90, 86)};
    const QColor c = colours[(v - 1) % 3];
    const uint32_t seed = 400 + uint32_t(v);
    const float boundary = 0.4f + 0.5f * periodicNoise(u, d, seed, 8, 3.f, 5);
    float a = 1.f - smooth(boundary - 0.08f, boundary + 0.02f, d);
    const float speck = rand01(int(u * kPiece * 4), int(d * kPiece * 4), seed);
    if (speck > 0.93f && d > boundary - 0.3f) a *= 0.2f;
    if (speck > 0.997f && d > boundary) a = 1.f;  // splatter beyond the edge
    const float tone = 0.8f + 0.4f * periodicNoise(u, d, seed + 3, 16, 8.f);
    return rgbaF(c.redF() * tone, c.greenF() * tone, c.blueF() * tone, a);
}

QRgb royalBand(float d, float u, int v, float light) {
    static const QColor colours[] = {QColor(128, 16, 30), QColor(22, 40, 120), QColor(14, 90, 56), QColor(80, 24, 100),
                                     QColor(18, 18, 20)};
    const QColor c = colours[(v - 1) % 5];
    const QColor gold(222, 180, 80);
    auto goldAt = [&](float s) {
        const float k = s * (1.0f + 0.15f * light);
        return rgbaF(gold.redF() * k, gold.greenF() * k, gold.blueF() * k);
    };
    if ((d > 0.04f && d < 0.12f) || (d > 0.82f && d < 0.9f)) return goldAt(0.85f + 0.3f * std::sin((d * 12.5f) * 3.14159f));
    if (d >= 0.9f) return rgbaF(c.redF() * 0.45f, c.greenF() * 0.45f, c.blueF() * 0.45f);
    const float lu = std::fmod(u * 2.f, 1.f);
    const float diamond = std::fabs(lu - 0.5f) * 2.f + std::fabs(d - 0.47f) / 0.27f;
    if (d > 0.2f && d < 0.74f && diamond < 0.9f) {
        if (diamond < 0.5f) return rgbaF(c.redF() * 1.4f, c.greenF() * 1.4f, c.blueF() * 1.4f);
        return goldAt(1.0f - 0.3f * (diamond - 0.5f));
    }
    const float damask = 0.85f + 0.15f * std::sin(u * 6.28318f * 4.f) * std::sin(d * 18.f);
    return rgbaF(c.redF() * damask, c.greenF() * damask, c.blueF() * damask);
}

QRgb vintageBand(float d, float u, int v, float) {
    static const QColor colours[] = {QColor(236, 224, 196), QColor(214, 190, 150), QColor(246, 240, 226),
                                     QColor(190, 160, 120), QColor(226, 214, 200), QColor(200, 186, 170)};
    const QColor c = colours[(v - 1) % 6];
    const uint32_t seed = 600 + uint32_t(v);
    const float boundary = 0.8f + 0.12f * periodicNoise(u, 0.f, seed, 10, 1.f, 4);
    const float a = 1.f - smooth(boundary - 0.012f, boundary + 0.012f, d);
    if (std::fabs(d - 0.64f) < 0.018f) return rgbaF(0.36f, 0.26f, 0.18f, a);
    const float age = 0.88f + 0.12f * periodicNoise(u, d, seed + 2, 6, 3.f, 4) - 0.15f * (1.f - smooth(0.f, 0.2f, d));
    return rgbaF(c.redF() * age, c.greenF() * age, c.blueF() * age, a);
}

struct FrameSet {
    const char* prefix;
    int count;
    Band band;
};

const FrameSet kFrameSets[] = {
    {"BrushStroke", 6, brushBand},   {"ClassicFrame", 9, classicBand}, {"FancyFrame", 4, fancyBand},
    {"FilmStripFrame", 4, filmBand}, {"GrungeFrame", 3, grungeBand},   {"RoyalFrame", 5, royalBand},
    {"VintageFrame", 6, vintageBand},
};

const FrameSet* findSet(const QString& design, int* variant) {
    for (const FrameSet& s : kFrameSets) {
        const QString p = QLatin1String(s.prefix);
        if (design.startsWith(p)) {
            bool ok = false;
            const int v = design.mid(p.size()).toInt(&ok);
            if (ok && v >= 1 && v <= s.count) {
                *variant = v;
                return &s;
            }
        }
    }
    return nullptr;
}

enum Side { Top, Bottom, Left, Right };

QRgb bandPixel(const FrameSet& set, int variant, Side side, int x, int y, int S) {
    float d = 0, u = 0, light = 1;
    switch (side) {
    case Top: d = (y + 0.5f) / S, u = (x + 0.5f) / S, light = 1; break;
    case Bottom: d = (S - y - 0.5f) / S, u = (x + 0.5f) / S, light = -1; break;
    case Left: d = (x + 0.5f) / S, u = (y + 0.5f) / S, light = 1; break;
    case Right: d = (S - x - 0.5f) / S, u = (y + 0.5f) / S, light = -1; break;
    }
    return qPremultiply(set.band(d, u, variant, light));
}

// Piece order: top-left, top, top-right, left, right, bottom-left, bottom, bottom-right.
QImage piece(const FrameSet& set, int variant, int index, int S) {
    QImage img = newImage(S, S);
    for (int y = 0; y < S; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < S; ++x) {
            Side side = Top;
            switch (index) {
            case 0: side = y <= x ? Top : Left; break;
            case 1: side = Top; break;
            case 2: side = y <= S - 1 - x ? Top : Right; break;
            case 3: side = Left; break;
            case 4: side = Right; break;
            case 5: side = S - 1 - y <= x ? Bottom : Left; break;
            case 6: side = Bottom; break;
            default: side = S - 1 - y <= S - 1 - x ? Bottom : Right; break;
            }
            line[x] = bandPixel(set, variant, side, x, y, S);
        }
    }
    const bool corner = index == 0 || index == 2 || index == 5 || index == 7;
    const QString prefix = QLatin1String(set.prefix);
    if (corner && (prefix == QLatin1String("RoyalFrame") || prefix == QLatin1String("FancyFrame"))) {
        // An ornament on each corner: a gold rosette, or a flower for the fancy sets.
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF c((index == 0 || index == 5) ? S * 0.47 : S * 0.53, (index == 0 || index == 2) ? S * 0.47 : S * 0.53);
        const bool royal = prefix == QLatin1String("RoyalFrame");
        const QColor petal = royal ? QColor(232, 192, 90) : QColor(255, 255, 255);
        const QColor heart = royal ? QColor(150, 20, 30) : QColor(250, 200, 80);
        p.setPen(QPen(royal ? QColor(120, 90, 30) : QColor(200, 120, 140), S * 0.015));
        p.setBrush(petal);
        for (int k = 0; k < 8; ++k) {
            p.save();
            p.translate(c);
            p.rotate(45.0 * k);
            p.drawEllipse(QPointF(S * 0.13, 0), S * 0.11, S * 0.055);
            p.restore();
        }
        p.setBrush(heart);
        p.drawEllipse(c, S * 0.08, S * 0.08);
    }
    return img;
}

}  // namespace

QList<QImage> framePieces(const QString& design, int pieceSize) {
    int variant = 0;
    const FrameSet* set = findSet(design, &variant);
    QList<QImage> pieces;
    if (!set) return pieces;
    for (int i = 0; i < 8; ++i) pieces.append(piece(*set, variant, i, pieceSize));
    return pieces;
}

QImage framedPicture(const QImage& photo, const QList<QImage>& pieces, int thickness) {
    QImage out = photo.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (pieces.size() != 8) return out;
    std::array<QImage, 8> scaled;
    for (int i = 0; i < 8; ++i)
        scaled[size_t(i)] = pieces[i].scaled(thickness, thickness, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter p(&out);
    platform::drawNinePartImage(p, out.height(), QRectF(0, 0, out.width(), out.height()),
                                platform::NinePartPieces::fromList(scaled));
    p.end();
    return out;
}

QList<Job> frameJobs() {
    QList<Job> jobs;
    for (const FrameSet& s : kFrameSets) {
        for (int v = 1; v <= s.count; ++v) {
            const QString design = QStringLiteral("%1%2").arg(QLatin1String(s.prefix)).arg(v);
            for (int i = 0; i < 8; ++i)
                jobs.append({QStringLiteral("%1_%2.png").arg(design).arg(i + 1),
                             [s, v, i] { return piece(s, v, i, kPiece); }});
            jobs.append({design + QStringLiteral(".png"), [design] {
                             return framedPicture(samplePicture(200, 150), framePieces(design, kPiece), 22);
                         }});
        }
    }
    return jobs;
}

}  // namespace gen
