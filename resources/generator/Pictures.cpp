// The sample pictures, the mask, the placeholder, the category pictures and the pictures
// of the program's own effects in the effect lists.
#include "Generator.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace gen {

namespace {

constexpr int kThumbW = 160, kThumbH = 120;

QImage mapPixels(const QImage& src, QRgb (*fn)(QRgb)) {
    QImage out = src.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) line[x] = fn(line[x]);
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QRgb grey(QRgb c) {
    const int v = qGray(c);
    return qRgba(v, v, v, qAlpha(c));
}
QRgb sepia(QRgb c) {
    const float v = qGray(c) / 255.f;
    return rgbaF(v * 1.07f, v * 0.87f, v * 0.62f, qAlpha(c) / 255.f);
}
QRgb punchy(QRgb c) {
    auto k = [](int v) { return clamp01((v / 255.f - 0.5f) * 1.35f + 0.55f); };
    return rgbaF(k(qRed(c)), k(qGreen(c)), k(qBlue(c)), qAlpha(c) / 255.f);
}
QRgb reddish(QRgb c) { return qRgba(std::min(255, qRed(c) + 60), qGreen(c) * 8 / 10, qBlue(c) * 8 / 10, qAlpha(c)); }

QImage sample() { return samplePicture(kThumbW, kThumbH); }

void caption(QPainter& p, const QRectF& r, const QString& s, int px, QColor c = Qt::white) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0, 0, 0, 140));
    p.drawText(r.translated(1, 1), Qt::AlignCenter, s);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, s);
}

// Overlay blend of a texture on the picture, as the texture effects do.
QImage overlayTexture(const QImage& photo, const QImage& texture) {
    const QImage t = texture.scaled(photo.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_ARGB32);
    QImage out = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        const auto* s = reinterpret_cast<const QRgb*>(t.constScanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            auto ch = [](int b, int s) {
                const float B = b / 255.f, S = s / 255.f;
                return B <= 0.5f ? 2 * B * S : 1 - 2 * (1 - B) * (1 - S);
            };
            o[x] = rgbaF(ch(qRed(o[x]), qRed(s[x])), ch(qGreen(o[x]), qGreen(s[x])), ch(qBlue(o[x]), qBlue(s[x])));
        }
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage withSticker(const QString& set) {
    QImage img = sample();
    QPainter p(&img);
    p.drawImage(QRectF(50, 20, 70, 70), stickerPicture(set, 1, 140));
    return img;
}

QImage ownEffectPicture(const QString& name) {
    QImage img = sample();
    if (name == QLatin1String("Black & White")) return mapPixels(img, grey);
    if (name == QLatin1String("Sepia")) return mapPixels(img, sepia);
    if (name == QLatin1String("Custom Enhance")) return mapPixels(img, punchy);
    if (name == QLatin1String("RGB Adjust")) return mapPixels(img, reddish);
    if (name == QLatin1String("Add Frame")) return framedPicture(img, framePieces(QStringLiteral("ClassicFrame1"), 128), 16);
    if (name == QLatin1String("Add Image")) return withSticker(QStringLiteral("Love"));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (name == QLatin1String("Resize")) {
        p.setPen(QPen(Qt::white, 3));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(40, 30, 80, 60));
        p.drawLine(QPointF(120, 90), QPointF(150, 112));
    } else if (name == QLatin1String("Rotate")) {
        const QImage copy = img.copy();
        img.fill(QColor(40, 40, 44));
        p.translate(80, 60);
        p.rotate(-15);
        p.drawImage(QRectF(-62, -46, 124, 92), copy);
    } else if (name == QLatin1String("Crop")) {
        QPainterPath outside;
        outside.addRect(img.rect());
        QPainterPath inside;
        inside.addRect(QRectF(35, 22, 90, 70));
        p.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 140));
        p.setPen(QPen(Qt::white, 2, Qt::DashLine));
        p.drawRect(QRectF(35, 22, 90, 70));
    } else if (name == QLatin1String("Add Text")) {
        caption(p, QRectF(0, 0, kThumbW, kThumbH), QStringLiteral("Text"), 34);
    } else if (name == QLatin1String("Add Date")) {
        caption(p, QRectF(0, 70, kThumbW, 40), QStringLiteral("Jan-01-25 10:30 AM"), 13, QColor(255, 170, 40));
    } else if (name == QLatin1String("Add Border")) {
        p.setPen(QPen(QColor(240, 240, 240), 12));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(6, 6, kThumbW - 12, kThumbH - 12), 8, 8);
    } else if (name == QLatin1String("Vignette")) {
        QRadialGradient g(QPointF(80, 60), 100);
        g.setColorAt(0.45, QColor(0, 0, 0, 0));
        g.setColorAt(1, QColor(0, 0, 0, 230));
        p.fillRect(img.rect(), g);
    } else if (name == QLatin1String("Batch Conversion")) {
        p.fillRect(img.rect(), QColor(0, 0, 0, 90));
        caption(p, QRectF(0, 0, kThumbW, kThumbH), QStringLiteral("JPG \u2192 PNG"), 22);
    }
    p.end();
    return img;
}

// Category pictures made from the sample: edges, a circular splash, a zoom blur.
QImage edgesOf(const QImage& src) {
    const QImage g = src.convertToFormat(QImage::Format_Grayscale8);
    QImage out = newImage(src.width(), src.height(), Qt::black);
    for (int y = 1; y + 1 < src.height(); ++y) {
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 1; x + 1 < src.width(); ++x) {
            auto at = [&](int dx, int dy) { return float(g.constScanLine(y + dy)[x + dx]); };
            const float gx = at(1, -1) + 2 * at(1, 0) + at(1, 1) - at(-1, -1) - 2 * at(-1, 0) - at(-1, 1);
            const float gy = at(-1, 1) + 2 * at(0, 1) + at(1, 1) - at(-1, -1) - 2 * at(0, -1) - at(1, -1);
            const float m = clamp01(std::sqrt(gx * gx + gy * gy) / 255.f * 2.f);
            const QRgb c = src.pixel(x, y);
            o[x] = rgbaF(qRed(c) / 255.f * m, qGreen(c) / 255.f * m, qBlue(c) / 255.f * m);
        }
    }
    return out;
}

QImage circleSplashOf(const QImage& src) {
    QImage out = newImage(src.width(), src.height());
    const float cx = src.width() / 2.f, cy = src.height() / 2.f, r = src.height() * 0.3f;
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x) {
            float dx = x - cx, dy = y - cy;
            const float d = std::sqrt(dx * dx + dy * dy);
            if (d > r) dx *= r / d, dy *= r / d;  // outside the circle the rim is stretched outwards
            out.setPixel(x, y, src.pixel(int(cx + dx), int(cy + dy)));
        }
    return out;
}

QImage zoomBlurOf(const QImage& src) {
    QImage out = newImage(src.width(), src.height());
    const float cx = src.width() / 2.f, cy = src.height() / 2.f;
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x) {
            float r = 0, g = 0, b = 0;
            const int n = 12;
            for (int k = 0; k < n; ++k) {
                const float s = 1.f - 0.012f * k;
                const QRgb c = src.pixel(int(cx + (x - cx) * s), int(cy + (y - cy) * s));
                r += qRed(c), g += qGreen(c), b += qBlue(c);
            }
            out.setPixel(x, y, qRgb(int(r / n), int(g / n), int(b / n)));
        }
    return out;
}


// Small white line icons of the category list, one per row name.
QImage menuIcon(const QString& name) {
    constexpr int S = 36;
    QImage img = newImage(S, S);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    auto is = [&](const char* n) { return name == QLatin1String(n); };
    if (is("Favorites")) {
        QPainterPath star;
        for (int k = 0; k < 10; ++k) {
            const double a = -M_PI / 2 + k * M_PI / 5, r = k % 2 ? 6.5 : 15;
            const QPointF pt(18 + r * std::cos(a), 19 + r * std::sin(a));
            k ? star.lineTo(pt) : star.moveTo(pt);
        }
        star.closeSubpath();
        p.drawPath(star);
    } else if (is("Batch Conversion")) {
        p.drawRect(QRectF(5, 5, 16, 20));
        p.drawRect(QRectF(15, 11, 16, 20));
        p.drawLine(QPointF(19, 21), QPointF(27, 21));
        p.drawLine(QPointF(24, 18), QPointF(27, 21));
        p.drawLine(QPointF(24, 24), QPointF(27, 21));
    } else if (is("Resize")) {
        p.drawRect(QRectF(5, 13, 18, 18));
        p.drawLine(QPointF(16, 20), QPointF(31, 5));
        p.drawLine(QPointF(22, 5), QPointF(31, 5));
        p.drawLine(QPointF(31, 14), QPointF(31, 5));
    } else if (is("Rotate")) {
        p.drawArc(QRectF(6, 6, 24, 24), 60 * 16, 280 * 16);
        p.drawLine(QPointF(24, 4), QPointF(25, 10));
        p.drawLine(QPointF(25, 10), QPointF(19, 11));
    } else if (is("Crop")) {
        p.drawPolyline(QPolygonF({QPointF(10, 3), QPointF(10, 26), QPointF(33, 26)}));
        p.drawPolyline(QPolygonF({QPointF(3, 10), QPointF(26, 10), QPointF(26, 33)}));
    } else if (is("Custom Enhance")) {
        for (int k = 0; k < 3; ++k) {
            const double x = 8 + k * 10;
            p.drawLine(QPointF(x, 5), QPointF(x, 31));
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(x, 10 + k * 8), 3, 3);
            p.setBrush(Qt::NoBrush);
        }
    } else if (is("RGB Adjust")) {
        p.drawEllipse(QPointF(14, 14), 8, 8);
        p.drawEllipse(QPointF(22, 14), 8, 8);
        p.drawEllipse(QPointF(18, 22), 8, 8);
    } else if (is("Add Text")) {
        p.drawLine(QPointF(7, 7), QPointF(29, 7));
        p.drawLine(QPointF(18, 7), QPointF(18, 30));
    } else if (is("Add Image")) {
        p.drawRect(QRectF(4, 7, 28, 22));
        p.drawPolyline(QPolygonF({QPointF(6, 27), QPointF(14, 17), QPointF(20, 23), QPointF(24, 19), QPointF(30, 27)}));
        p.drawEllipse(QPointF(24, 13), 2.5, 2.5);
    } else if (is("Add Border")) {
        p.drawRoundedRect(QRectF(4, 4, 28, 28), 5, 5);
        p.drawRect(QRectF(10, 10, 16, 16));
    } else if (is("Add Frame")) {
        p.drawRect(QRectF(4, 4, 28, 28));
        p.drawRect(QRectF(9, 9, 18, 18));
        p.drawLine(QPointF(4, 4), QPointF(9, 9));
        p.drawLine(QPointF(32, 4), QPointF(27, 9));
        p.drawLine(QPointF(4, 32), QPointF(9, 27));
        p.drawLine(QPointF(32, 32), QPointF(27, 27));
    } else if (is("Add Date")) {
        p.drawRoundedRect(QRectF(5, 8, 26, 23), 3, 3);
        p.drawLine(QPointF(5, 14), QPointF(31, 14));
        p.drawLine(QPointF(11, 4), QPointF(11, 10));
        p.drawLine(QPointF(25, 4), QPointF(25, 10));
    } else if (is("Black & White")) {
        p.drawEllipse(QPointF(18, 18), 13, 13);
        QPainterPath half;
        half.moveTo(18, 5);
        half.arcTo(QRectF(5, 5, 26, 26), 90, 180);
        half.closeSubpath();
        p.fillPath(half, Qt::white);
    } else if (is("Vignette")) {
        QRadialGradient g(QPointF(18, 18), 16);
        g.setColorAt(0, QColor(255, 255, 255, 0));
        g.setColorAt(0.55, QColor(255, 255, 255, 0));
        g.setColorAt(1, Qt::white);
        p.setBrush(g);
        p.drawRoundedRect(QRectF(3, 6, 30, 24), 3, 3);
    } else if (is("Sepia")) {
        p.drawEllipse(QPointF(18, 18), 13, 13);
        p.drawEllipse(QPointF(18, 18), 6, 6);
        p.drawLine(QPointF(18, 5), QPointF(18, 12));
    } else if (is("Texture Effects")) {
        for (int k = 0; k < 4; ++k) p.drawLine(QPointF(4, 8 + k * 7), QPointF(32, 4 + k * 7));
        p.drawRect(QRectF(4, 4, 28, 28));
    } else if (is("Stylize")) {
        p.drawLine(QPointF(8, 28), QPointF(26, 10));
        p.drawLine(QPointF(24, 6), QPointF(30, 12));
        p.drawLine(QPointF(9, 6), QPointF(9, 12));
        p.drawLine(QPointF(6, 9), QPointF(12, 9));
        p.drawLine(QPointF(28, 24), QPointF(28, 30));
        p.drawLine(QPointF(25, 27), QPointF(31, 27));
    } else if (is("Distortion Effects")) {
        QPainterPath s;
        s.moveTo(4, 18);
        for (int x = 4; x <= 32; ++x) s.lineTo(x, 18 + 8 * std::sin((x - 4) * 0.45));
        p.drawPath(s);
        p.drawRect(QRectF(4, 4, 28, 28));
    } else if (is("Blur")) {
        QPainterPath drop;
        drop.moveTo(18, 4);
        drop.cubicTo(28, 16, 30, 22, 26, 28);
        drop.cubicTo(22, 33, 14, 33, 10, 28);
        drop.cubicTo(6, 22, 8, 16, 18, 4);
        p.drawPath(drop);
    }
    p.end();
    return img;
}


// The point and corner toggles of the effects screen's parameter column: a rounded face
// with a target (point) or four corner marks (rectangle) in its upper part; the button's
// own title is drawn over the lower part. Blue when on, grey when off.
QImage handleToggle(bool corners, bool active) {
    constexpr int W = 270, H = 84;
    QImage img = newImage(W, H);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = active ? QColor(0, 102, 204) : QColor(140, 140, 146);
    p.setPen(QPen(ink, 2));
    p.setBrush(active ? QColor(224, 236, 252) : QColor(236, 236, 238));
    p.drawRoundedRect(QRectF(2, 2, W - 4, H - 4), 12, 12);
    const QPointF c(W / 2.0, 30);
    p.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    if (corners) {
        const QRectF r(c.x() - 26, c.y() - 18, 52, 36);
        constexpr double arm = 12;
        for (const QPointF& k : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
            const double dx = k.x() < c.x() ? arm : -arm, dy = k.y() < c.y() ? arm : -arm;
            p.drawLine(k, k + QPointF(dx, 0));
            p.drawLine(k, k + QPointF(0, dy));
        }
    } else {
        p.drawEllipse(c, 17, 17);
        p.drawLine(c + QPointF(-25, 0), c + QPointF(-9, 0));
        p.drawLine(c + QPointF(9, 0), c + QPointF(25, 0));
        p.drawLine(c + QPointF(0, -25), c + QPointF(0, -9));
        p.drawLine(c + QPointF(0, 9), c + QPointF(0, 25));
        p.setBrush(ink);
        p.drawEllipse(c, 3.5, 3.5);
    }
    p.end();
    return img;
}

}  // namespace

QImage samplePicture(int w, int h) {
    QImage img = newImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(w / 640.0, h / 480.0);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(40, 110, 200));
    sky.setColorAt(1, QColor(250, 190, 130));
    p.fillRect(QRectF(0, 0, 640, 480), sky);
    QRadialGradient sun(QPointF(460, 230), 70);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(0.5, QColor(255, 220, 120));
    sun.setColorAt(1, QColor(255, 200, 100, 0));
    p.fillRect(QRectF(0, 0, 640, 480), sun);
    QPainterPath far;
    far.moveTo(0, 300), far.cubicTo(150, 220, 300, 320, 640, 250), far.lineTo(640, 480), far.lineTo(0, 480);
    p.fillPath(far, QColor(90, 110, 140));
    QPainterPath near;
    near.moveTo(0, 360), near.cubicTo(200, 300, 420, 420, 640, 340), near.lineTo(640, 480), near.lineTo(0, 480);
    QLinearGradient grass(0, 320, 0, 480);
    grass.setColorAt(0, QColor(80, 150, 60));
    grass.setColorAt(1, QColor(30, 80, 30));
    p.fillPath(near, grass);
    p.setPen(QPen(QColor(30, 30, 40), 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    Rng rng(42);
    for (int k = 0; k < 7; ++k) {  // birds
        const QPointF c(rng.range(80, 420), rng.range(60, 200));
        const double s = rng.range(10, 22);
        QPainterPath b;
        b.moveTo(c + QPointF(-s, -s * 0.4)), b.quadTo(c + QPointF(-s * 0.4, -s * 0.6), c);
        b.quadTo(c + QPointF(s * 0.4, -s * 0.6), c + QPointF(s, -s * 0.4));
        p.drawPath(b);
    }
    p.end();
    return img;
}

QImage secondSamplePicture(int w, int h) {
    QImage img = newImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(w / 640.0, h / 480.0);
    QLinearGradient sea(0, 0, 0, 480);
    sea.setColorAt(0, QColor(250, 120, 80));
    sea.setColorAt(0.5, QColor(120, 60, 120));
    sea.setColorAt(0.52, QColor(20, 60, 110));
    sea.setColorAt(1, QColor(10, 30, 60));
    p.fillRect(QRectF(0, 0, 640, 480), sea);
    p.setPen(QPen(QColor(255, 200, 150, 120), 3));
    for (int k = 0; k < 12; ++k) p.drawLine(QPointF(260 - k * 6, 260 + k * 16), QPointF(380 + k * 6, 260 + k * 16));
    p.setBrush(QColor(255, 230, 180));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(320, 230), 50, 50);
    p.end();
    return img;
}

QList<Job> pictureJobs() {
    QList<Job> jobs;
    jobs.append({QStringLiteral("Sample image #2.png"), [] { return secondSamplePicture(640, 480); }});
    jobs.append({QStringLiteral("Mask image.png"), [] {
                     QImage m = newImage(512, 512, Qt::black);
                     QPainter p(&m);
                     QRadialGradient g(QPointF(256, 256), 256);
                     g.setColorAt(0, Qt::white);
                     g.setColorAt(0.6, QColor(200, 200, 200));
                     g.setColorAt(1, Qt::black);
                     p.fillRect(m.rect(), g);
                     return m;
                 }});
    jobs.append({QStringLiteral("place_holder.png"), [] {
                     QImage img = newImage(200, 150, QColor(58, 58, 62));
                     QPainter p(&img);
                     p.setRenderHint(QPainter::Antialiasing);
                     p.setPen(QPen(QColor(120, 120, 126), 4));
                     p.setBrush(Qt::NoBrush);
                     p.drawRoundedRect(QRectF(60, 40, 80, 64), 8, 8);
                     QPainterPath hill;
                     hill.moveTo(64, 100), hill.lineTo(90, 70), hill.lineTo(108, 88), hill.lineTo(120, 78),
                         hill.lineTo(136, 100);
                     p.drawPath(hill);
                     p.drawEllipse(QPointF(118, 58), 7, 7);
                     return img;
                 }});
    for (const bool active : {true, false}) {
        const QString state = active ? QStringLiteral("active") : QStringLiteral("inactive");
        jobs.append({QStringLiteral("PointButton image %1.png").arg(state), [active] { return handleToggle(false, active); }});
        jobs.append({QStringLiteral("FourCornersButton image %1.png").arg(state),
                     [active] { return handleToggle(true, active); }});
    }
    jobs.append({QStringLiteral("birds_all_applied.png"), [] { return samplePicture(kThumbW, kThumbH); }});
    jobs.append({QStringLiteral("birds_Edges.png"), [] { return edgesOf(samplePicture(kThumbW, kThumbH)); }});
    jobs.append({QStringLiteral("birds_Circle_Space.png"), [] { return circleSplashOf(samplePicture(kThumbW, kThumbH)); }});
    jobs.append({QStringLiteral("birds_ZoomBlur.png"), [] { return zoomBlurOf(samplePicture(kThumbW, kThumbH)); }});

    for (const char* row : {"Favorites", "Batch Conversion", "Resize", "Rotate", "Crop", "Custom Enhance", "RGB Adjust",
                            "Add Text", "Add Image", "Add Border", "Add Frame", "Add Date", "Black & White", "Vignette",
                            "Sepia", "Texture Effects", "Stylize", "Distortion Effects", "Blur"}) {
        const QString name = QString::fromUtf8(row);
        jobs.append({QStringLiteral("menu_%1.png").arg(name), [name] { return menuIcon(name); }});
    }
    for (const char* own : {"Resize", "Rotate", "Crop", "Custom Enhance", "RGB Adjust", "Add Text", "Add Image",
                            "Add Border", "Add Frame", "Add Date", "Black & White", "Vignette", "Sepia",
                            "Batch Conversion"}) {
        const QString name = QString::fromUtf8(own);
        jobs.append({name + QStringLiteral(".png"), [name] { return ownEffectPicture(name); }});
    }
    const std::pair<const char*, const char*> textures[] = {
        {"Lights Effect", "Lights"}, {"Paint Effect", "Paint"},   {"Fabric Effect", "Fabric"},
        {"Grunge Effect", "Grunge"}, {"Paper Effect", "Paper"},   {"Art Effect", "Art"},
        {"Bricks Effect", "Bricks"}, {"Color Effect", "Color"},   {"Vintage Effect", "Vintage"},
    };
    for (const auto& [effect, set] : textures) {
        const QString s = QLatin1String(set);
        jobs.append({QLatin1String(effect) + QStringLiteral(".png"),
                     [s] { return overlayTexture(sample(), texturePicture(s, 1)); }});
    }
    const std::pair<const char*, const char*> frames[] = {
        {"Classic Frame", "ClassicFrame1"}, {"Fancy Frame", "FancyFrame1"},     {"Film Strip Frame", "FilmStripFrame1"},
        {"Grunge Frame", "GrungeFrame1"},   {"Royal Frame", "RoyalFrame1"},     {"Vintage Frame", "VintageFrame1"},
        {"Brush Strokes Frame", "BrushStroke1"},
    };
    for (const auto& [effect, design] : frames) {
        const QString d = QLatin1String(design);
        jobs.append({QLatin1String(effect) + QStringLiteral(".png"),
                     [d] { return framedPicture(sample(), framePieces(d, 128), 16); }});
    }
    for (const char* set : {"Birthday", "Chat Bubbles", "Design Elements", "Emoticons", "Food", "Love", "Music", "Zodiac"}) {
        const QString s = QLatin1String(set);
        jobs.append({s + QStringLiteral(".png"), [s] { return withSticker(s); }});
    }
    return jobs;
}

}  // namespace gen
