// Sticker sets: simple vector drawings on a transparent square.
#include "Generator.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace gen {

namespace {

constexpr double N = 256.0;  // every sticker is drawn on a 256-unit square, then scaled

const QColor kInk(40, 30, 30);

QFont font(double px, bool bold = true) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(int(px));
    f.setBold(bold);
    return f;
}

void text(QPainter& p, const QRectF& r, const QString& s, double px, QColor c, bool bold = true) {
    p.setFont(font(px, bold));
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, s);
}

void shape(QPainter& p, const QPainterPath& path, QColor fill, double outline = 6) {
    QLinearGradient g(path.boundingRect().topLeft(), path.boundingRect().bottomRight());
    g.setColorAt(0, fill.lighter(125));
    g.setColorAt(1, fill.darker(115));
    p.setBrush(g);
    p.setPen(outline > 0 ? QPen(kInk, outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin) : QPen(Qt::NoPen));
    p.drawPath(path);
}

QPainterPath ellipse(double cx, double cy, double rx, double ry) {
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy), rx, ry);
    return p;
}
QPainterPath rect(double x, double y, double w, double h, double r = 0) {
    QPainterPath p;
    p.addRoundedRect(QRectF(x, y, w, h), r, r);
    return p;
}
QPainterPath heartPath(double cx, double cy, double s) {
    QPainterPath p;
    p.moveTo(cx, cy + s * 0.9);
    p.cubicTo(cx - s * 1.4, cy - s * 0.1, cx - s * 0.7, cy - s * 1.1, cx, cy - s * 0.4);
    p.cubicTo(cx + s * 0.7, cy - s * 1.1, cx + s * 1.4, cy - s * 0.1, cx, cy + s * 0.9);
    return p;
}
QPainterPath starPath(double cx, double cy, double r1, double r2, int points) {
    QPainterPath p;
    for (int k = 0; k < points * 2; ++k) {
        const double a = -M_PI / 2 + k * M_PI / points;
        const double r = k % 2 ? r2 : r1;
        const QPointF pt(cx + r * std::cos(a), cy + r * std::sin(a));
        k ? p.lineTo(pt) : p.moveTo(pt);
    }
    p.closeSubpath();
    return p;
}

void balloon(QPainter& p, double cx, double cy, double r, QColor c) {
    p.setPen(QPen(kInk, 3));
    p.drawLine(QPointF(cx, cy + r * 1.2), QPointF(cx + r * 0.2, cy + r * 2.6));
    shape(p, ellipse(cx, cy, r, r * 1.2), c);
    p.setBrush(QColor(255, 255, 255, 140));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(cx - r * 0.4, cy - r * 0.5), r * 0.18, r * 0.3);
}

void drawBirthday(QPainter& p, int i) {
    switch (i) {
    case 1: balloon(p, 128, 90, 60, QColor(220, 40, 50)); break;
    case 2:
        balloon(p, 90, 90, 42, QColor(60, 140, 230));
        balloon(p, 166, 84, 42, QColor(250, 200, 40));
        balloon(p, 128, 60, 44, QColor(230, 60, 140));
        break;
    case 3:
        shape(p, rect(48, 130, 160, 90, 12), QColor(240, 180, 200));
        shape(p, rect(40, 112, 176, 30, 14), QColor(255, 245, 240));
        for (int k = 0; k < 3; ++k) {
            shape(p, rect(86 + k * 36, 70, 12, 44, 3), QColor(120, 180, 240), 3);
            shape(p, ellipse(92 + k * 36, 60, 7, 11), QColor(255, 170, 30), 2);
        }
        break;
    case 4:
        shape(p, rect(50, 100, 156, 120, 8), QColor(60, 170, 120));
        shape(p, rect(118, 100, 20, 120), QColor(240, 60, 80), 3);
        shape(p, rect(40, 84, 176, 30, 6), QColor(70, 190, 140));
        shape(p, ellipse(104, 70, 26, 16), QColor(240, 60, 80), 4);
        shape(p, ellipse(152, 70, 26, 16), QColor(240, 60, 80), 4);
        break;
    case 5: {
        QPainterPath hat;
        hat.moveTo(128, 30);
        hat.lineTo(200, 210);
        hat.lineTo(56, 210);
        hat.closeSubpath();
        shape(p, hat, QColor(140, 80, 220));
        for (int k = 0; k < 4; ++k) shape(p, ellipse(100 + k * 20, 200 - k * 40, 9, 9), QColor(255, 220, 60), 2);
        shape(p, starPath(128, 30, 20, 9, 5), QColor(255, 220, 60), 3);
        break;
    }
    case 6:
        shape(p, rect(76, 140, 104, 80, 10), QColor(120, 80, 50));
        shape(p, ellipse(128, 128, 66, 40), QColor(250, 190, 210));
        shape(p, rect(122, 50, 12, 50, 3), QColor(250, 230, 80), 3);
        shape(p, ellipse(128, 42, 7, 11), QColor(255, 140, 20), 2);
        break;
    case 7:
        shape(p, rect(16, 90, 224, 76, 16), QColor(240, 90, 110));
        text(p, QRectF(16, 90, 224, 76), QStringLiteral("Happy\nBirthday"), 28, Qt::white);
        break;
    default: {
        Rng rng(77);
        for (int k = 0; k < 40; ++k) {
            const QColor c = QColor::fromHsvF(float(rng.uniform()), 0.8f, 0.95f);
            p.save();
            p.translate(rng.range(20, 236), rng.range(20, 236));
            p.rotate(rng.range(0, 180));
            shape(p, rect(-8, -4, 16, 8, 2), c, 0);
            p.restore();
        }
        shape(p, starPath(128, 128, 60, 26, 5), QColor(255, 210, 40));
        break;
    }
    }
}

void drawBubble(QPainter& p, int i) {
    static const char* words[] = {"Hi!", "Wow!", "OMG", "LOL", "Yes!", "Love it", "", "Hello", "Cool", "?!", "Thanks"};
    const QColor c = QColor::fromHsvF(float(std::fmod(0.09 * i, 1.0)), 0.35f, 1.0f);
    QPainterPath b;
    const int kind = (i - 1) % 4;
    if (kind == 0) {
        b.addRoundedRect(QRectF(24, 40, 208, 140), 30, 30);
        QPainterPath tail;
        tail.moveTo(70, 170), tail.lineTo(50, 230), tail.lineTo(120, 175), tail.closeSubpath();
        b = b.united(tail);
    } else if (kind == 1) {
        b.addEllipse(QRectF(20, 36, 216, 150));
        QPainterPath tail;
        tail.moveTo(160, 170), tail.lineTo(210, 236), tail.lineTo(130, 182), tail.closeSubpath();
        b = b.united(tail);
    } else if (kind == 2) {
        b = ellipse(128, 108, 80, 56);
        for (int k = 0; k < 8; ++k) {
            const double a = k * M_PI / 4;
            b = b.united(ellipse(128 + 72 * std::cos(a), 108 + 46 * std::sin(a), 42, 36));
        }
    } else {
        b = starPath(128, 118, 118, 80, 14);
    }
    shape(p, b, c);
    if (kind == 2) {
        shape(p, ellipse(70, 200, 14, 11), c, 4);
        shape(p, ellipse(46, 226, 8, 7), c, 3);
    }
    text(p, QRectF(30, 60, 196, 110), QString::fromLatin1(words[(i - 1) % 11]), 40, kInk);
}

void drawDesign(QPainter& p, int i) {
    const QColor gold(230, 180, 60), teal(30, 160, 160);
    switch (i) {
    case 1: shape(p, starPath(128, 132, 110, 46, 5), gold); break;
    case 2: {
        QPainterPath a;
        a.moveTo(20, 104), a.lineTo(150, 104), a.lineTo(150, 60), a.lineTo(236, 128), a.lineTo(150, 196),
            a.lineTo(150, 152), a.lineTo(20, 152), a.closeSubpath();
        shape(p, a, teal);
        break;
    }
    case 3: {
        QPainterPath r;
        r.moveTo(10, 100), r.lineTo(50, 100), r.lineTo(50, 170), r.lineTo(10, 170), r.lineTo(28, 135), r.closeSubpath();
        QPainterPath r2;
        r2.moveTo(246, 100), r2.lineTo(206, 100), r2.lineTo(206, 170), r2.lineTo(246, 170), r2.lineTo(228, 135),
            r2.closeSubpath();
        shape(p, r, QColor(170, 30, 40));
        shape(p, r2, QColor(170, 30, 40));
        shape(p, rect(36, 84, 184, 72, 6), QColor(220, 50, 60));
        break;
    }
    case 4:
        p.setPen(QPen(QColor(60, 130, 60), 6));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(40, 40, 176, 176), 200 * 16, 140 * 16);
        p.drawArc(QRectF(40, 40, 176, 176), -20 * 16, -140 * 16);
        for (int k = 0; k < 14; ++k) {
            const double a = (200 + k * 10) * M_PI / 180;
            for (int side : {-1, 1}) {
                p.save();
                p.translate(128 + side * 88 * std::cos(a), 128 - 88 * std::sin(a));
                p.rotate(side * (k * 10 + 20));
                shape(p, ellipse(0, 0, 16, 7), QColor(90, 170, 80), 2);
                p.restore();
            }
        }
        break;
    case 5:
        shape(p, starPath(128, 128, 112, 96, 24), gold);
        shape(p, ellipse(128, 128, 80, 80), QColor(200, 40, 50));
        text(p, QRectF(48, 48, 160, 160), QStringLiteral("BEST"), 40, Qt::white);
        break;
    case 6: {
        QPainterPath s;
        s.moveTo(128, 128);
        for (int k = 1; k < 300; ++k) {
            const double a = k * 0.06, r = k * 0.38;
            s.lineTo(128 + r * std::cos(a), 128 + r * std::sin(a));
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(120, 60, 180), 10, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(s);
        break;
    }
    case 7:
        p.setPen(QPen(kInk, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 128), QPointF(96, 128));
        p.drawLine(QPointF(160, 128), QPointF(240, 128));
        shape(p, starPath(128, 128, 30, 12, 4), gold, 4);
        break;
    case 8:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(teal, 14));
        p.drawEllipse(QPointF(128, 128), 100, 100);
        p.setPen(QPen(gold, 4));
        p.drawEllipse(QPointF(128, 128), 84, 84);
        break;
    case 9:
        shape(p, starPath(128, 128, 110, 16, 4), QColor(255, 240, 150), 3);
        shape(p, starPath(190, 60, 36, 8, 4), QColor(255, 240, 150), 2);
        break;
    case 10:
        for (int k = 0; k < 16; ++k) {
            p.save();
            p.translate(128, 128);
            p.rotate(k * 22.5);
            QPainterPath ray;
            ray.moveTo(60, -8), ray.lineTo(118, 0), ray.lineTo(60, 8), ray.closeSubpath();
            shape(p, ray, QColor(255, 190, 40), 3);
            p.restore();
        }
        shape(p, ellipse(128, 128, 56, 56), QColor(255, 210, 60));
        break;
    default:
        shape(p, starPath(128, 128, 110, 40, 4), QColor(80, 120, 220));
        shape(p, starPath(128, 128, 50, 20, 4), Qt::white, 4);
        break;
    }
}

void drawEmoticon(QPainter& p, int i) {
    const bool angry = i == 11, sick = i == 13;
    shape(p, ellipse(128, 128, 110, 110), angry ? QColor(240, 100, 60) : sick ? QColor(160, 210, 110) : QColor(255, 205, 60));
    p.setPen(QPen(kInk, 8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(kInk);
    const int eyes = (i - 1) % 5, mouth = (i - 1) % 6;
    for (int side : {-1, 1}) {
        const QPointF e(128 + side * 40, 100);
        if (i == 4) shape(p, heartPath(e.x(), e.y(), 18), QColor(220, 30, 60), 3);
        else if (i == 9 && side == 1) p.drawLine(e + QPointF(-14, 0), e + QPointF(14, 0));  // wink
        else if (i == 12) shape(p, starPath(e.x(), e.y(), 20, 8, 5), QColor(255, 255, 255), 3);
        else if (eyes == 1) p.drawArc(QRectF(e.x() - 16, e.y() - 10, 32, 24), 0, 180 * 16);
        else if (eyes == 3) {
            p.drawLine(e + QPointF(-12, -12), e + QPointF(12, 12));
            p.drawLine(e + QPointF(-12, 12), e + QPointF(12, -12));
        } else p.drawEllipse(e, 10, 14);
    }
    if (i == 7) shape(p, rect(60, 84, 136, 34, 12), QColor(30, 30, 40), 4);  // sunglasses
    p.setBrush(Qt::NoBrush);
    switch (mouth) {
    case 0: p.drawArc(QRectF(70, 110, 116, 80), 200 * 16, 140 * 16); break;
    case 1: {
        QPainterPath grin;
        grin.moveTo(66, 150), grin.quadTo(128, 230, 190, 150), grin.closeSubpath();
        shape(p, grin, Qt::white, 6);
        break;
    }
    case 2: p.drawEllipse(QPointF(128, 170), 18, 22); break;
    case 3: p.drawLine(QPointF(90, 172), QPointF(166, 172)); break;
    case 4: p.drawArc(QRectF(80, 160, 96, 60), 20 * 16, 140 * 16); break;
    default:
        p.drawArc(QRectF(70, 110, 116, 80), 200 * 16, 140 * 16);
        shape(p, ellipse(140, 190, 18, 20), QColor(240, 100, 120), 4);
        break;
    }
    if (i == 5 || i == 14) {  // tears or sweat
        shape(p, ellipse(84, 136, 9, 16), QColor(90, 170, 250), 3);
    }
    if (i == 10 || i == 15) {  // blush
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 120, 140, 150));
        p.drawEllipse(QPointF(64, 140), 18, 10);
        p.drawEllipse(QPointF(192, 140), 18, 10);
    }
}

void drawFood(QPainter& p, int i) {
    switch (i) {
    case 1: shape(p, ellipse(128, 140, 90, 84), QColor(210, 30, 40)); shape(p, ellipse(150, 50, 24, 12), QColor(70, 160, 60)); break;
    case 2:
        p.setPen(QPen(QColor(80, 120, 40), 6));
        p.drawLine(QPointF(90, 160), QPointF(140, 40));
        p.drawLine(QPointF(170, 170), QPointF(140, 40));
        shape(p, ellipse(90, 180, 44, 44), QColor(190, 20, 40));
        shape(p, ellipse(170, 190, 44, 44), QColor(190, 20, 40));
        break;
    case 3: {
        QPainterPath s;
        s.moveTo(128, 236), s.lineTo(30, 50), s.quadTo(128, 10, 226, 50), s.closeSubpath();
        shape(p, s, QColor(250, 200, 80));
        for (auto pt : {QPointF(100, 90), QPointF(150, 80), QPointF(128, 150), QPointF(110, 190)})
            shape(p, ellipse(pt.x(), pt.y(), 14, 14), QColor(200, 40, 40), 3);
        break;
    }
    case 4: {
        QPainterPath d = ellipse(128, 128, 100, 100).subtracted(ellipse(128, 128, 34, 34));
        shape(p, d, QColor(200, 140, 80));
        QPainterPath icing = ellipse(128, 122, 88, 84).subtracted(ellipse(128, 128, 40, 40));
        shape(p, icing, QColor(250, 130, 180), 4);
        break;
    }
    case 5: {
        QPainterPath cone;
        cone.moveTo(80, 120), cone.lineTo(176, 120), cone.lineTo(128, 246), cone.closeSubpath();
        shape(p, cone, QColor(220, 170, 100));
        shape(p, ellipse(128, 96, 56, 50), QColor(250, 220, 230));
        shape(p, ellipse(128, 50, 40, 34), QColor(140, 90, 60));
        break;
    }
    case 6:
        shape(p, ellipse(128, 90, 100, 56), QColor(220, 160, 70));
        shape(p, rect(30, 120, 196, 20, 8), QColor(80, 180, 60));
        shape(p, rect(36, 136, 184, 30, 10), QColor(120, 60, 40));
        shape(p, rect(30, 166, 196, 40, 18), QColor(220, 160, 70));
        break;
    case 7:
        shape(p, rect(50, 80, 130, 150, 16), Qt::white);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kInk, 14));
        p.drawArc(QRectF(160, 110, 60, 70), -90 * 16, 180 * 16);
        shape(p, ellipse(115, 84, 60, 12), QColor(110, 60, 30), 4);
        break;
    case 8:
        shape(p, rect(70, 130, 116, 100, 12), QColor(90, 160, 220));
        shape(p, ellipse(128, 120, 72, 50), QColor(255, 240, 200));
        shape(p, ellipse(128, 70, 16, 16), QColor(210, 30, 40), 4);
        break;
    case 9: {
        QPainterPath w;
        w.moveTo(20, 80), w.quadTo(128, 300, 236, 80), w.closeSubpath();
        shape(p, w, QColor(60, 170, 70));
        QPainterPath r;
        r.moveTo(36, 84), r.quadTo(128, 270, 220, 84), r.closeSubpath();
        shape(p, r, QColor(240, 70, 80), 0);
        p.setBrush(kInk);
        for (int k = 0; k < 6; ++k) p.drawEllipse(QPointF(70 + k * 24, 110 + (k % 2) * 22), 4, 7);
        break;
    }
    case 10: shape(p, ellipse(128, 128, 104, 76), QColor(250, 230, 60)); shape(p, ellipse(128, 128, 70, 46), QColor(255, 245, 150), 3); break;
    case 11: {
        QPainterPath c;
        c.moveTo(100, 60), c.lineTo(156, 60), c.lineTo(128, 240), c.closeSubpath();
        shape(p, c, QColor(250, 130, 30));
        for (int k = -1; k <= 1; ++k) shape(p, ellipse(128 + k * 18, 36, 10, 26), QColor(70, 170, 60), 3);
        break;
    }
    case 12: shape(p, ellipse(128, 128, 110, 90), Qt::white); shape(p, ellipse(128, 128, 40, 40), QColor(255, 190, 30)); break;
    case 13:
        shape(p, ellipse(128, 128, 100, 100), QColor(210, 160, 90));
        p.setBrush(QColor(80, 45, 25));
        p.setPen(Qt::NoPen);
        for (auto pt : {QPointF(90, 90), QPointF(160, 100), QPointF(120, 160), QPointF(170, 170), QPointF(80, 160)})
            p.drawEllipse(pt, 12, 10);
        break;
    case 14:
        shape(p, heartPath(128, 150, 80).united(ellipse(128, 110, 70, 40)), QColor(230, 40, 50));
        shape(p, starPath(128, 60, 40, 14, 5), QColor(70, 170, 60), 4);
        break;
    case 15: {
        QPainterPath b;
        b.moveTo(40, 80), b.quadTo(80, 230, 220, 180), b.quadTo(100, 190, 60, 70), b.closeSubpath();
        shape(p, b, QColor(250, 220, 60));
        break;
    }
    case 16: {
        QPainterPath c;
        c.moveTo(30, 190), c.lineTo(226, 190), c.lineTo(226, 120), c.lineTo(30, 190);
        QPainterPath wedge;
        wedge.moveTo(30, 200), wedge.lineTo(226, 200), wedge.lineTo(226, 100), wedge.closeSubpath();
        wedge = wedge.subtracted(ellipse(170, 170, 14, 14)).subtracted(ellipse(200, 130, 10, 10));
        shape(p, wedge, QColor(250, 200, 60));
        break;
    }
    default:
        p.setPen(QPen(QColor(240, 240, 240), 10));
        p.drawLine(QPointF(128, 128), QPointF(128, 246));
        shape(p, ellipse(128, 100, 76, 76), QColor(240, 60, 140));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 8));
        p.drawEllipse(QPointF(128, 100), 40, 40);
        break;
    }
}

void drawLove(QPainter& p, int i) {
    switch (i) {
    case 1: shape(p, heartPath(128, 120, 90), QColor(220, 20, 50)); break;
    case 2: shape(p, heartPath(128, 120, 90), QColor(250, 140, 180)); shape(p, heartPath(128, 118, 52), Qt::white, 4); break;
    case 3: shape(p, heartPath(96, 110, 60), QColor(220, 20, 50)); shape(p, heartPath(160, 140, 60), QColor(250, 120, 160)); break;
    case 4:
        shape(p, heartPath(128, 120, 80), QColor(220, 20, 50));
        p.setPen(QPen(QColor(120, 80, 40), 8));
        p.drawLine(QPointF(20, 200), QPointF(236, 60));
        shape(p, starPath(236, 60, 20, 8, 3), QColor(200, 200, 210), 3);
        break;
    case 5:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(230, 190, 70), 18));
        p.drawEllipse(QPointF(128, 150), 76, 76);
        shape(p, starPath(128, 70, 34, 20, 8), QColor(200, 230, 255), 4);
        break;
    case 6:
        p.setPen(QPen(QColor(60, 140, 60), 10));
        p.drawLine(QPointF(128, 140), QPointF(128, 246));
        for (int k = 0; k < 5; ++k) shape(p, ellipse(128 + 30 * std::cos(k * 1.256), 96 + 30 * std::sin(k * 1.256), 40, 40), QColor(210, 20, 50), 4);
        shape(p, ellipse(128, 96, 24, 24), QColor(160, 10, 30), 4);
        break;
    case 7:
        shape(p, rect(30, 60, 196, 136, 8), QColor(250, 240, 230));
        p.setPen(QPen(kInk, 6));
        p.drawLine(QPointF(30, 60), QPointF(128, 140));
        p.drawLine(QPointF(226, 60), QPointF(128, 140));
        shape(p, heartPath(128, 140, 26), QColor(220, 20, 50), 3);
        break;
    case 8: text(p, QRectF(0, 60, 256, 136), QStringLiteral("LOVE"), 72, QColor(220, 20, 50)); break;
    case 9:
        p.setPen(QPen(kInk, 3));
        p.drawLine(QPointF(128, 190), QPointF(120, 250));
        shape(p, heartPath(128, 110, 80), QColor(240, 60, 110));
        break;
    default: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(150, 150, 160), 18));
        p.drawArc(QRectF(78, 30, 100, 120), 0, 180 * 16);
        shape(p, heartPath(128, 150, 84), QColor(230, 180, 60));
        shape(p, ellipse(128, 150, 12, 16), kInk, 0);
        break;
    }
    }
}

void drawMusic(QPainter& p, int i) {
    const QColor c = QColor::fromHsvF(float(std::fmod(0.1 * i, 1.0)), 0.7f, 0.85f);
    auto note = [&](double x, double y, double s) {
        shape(p, ellipse(x, y, 26 * s, 20 * s), c, 4);
        p.setPen(QPen(kInk, 8 * s));
        p.drawLine(QPointF(x + 24 * s, y), QPointF(x + 24 * s, y - 130 * s));
    };
    switch (i) {
    case 1: note(110, 190, 1.0); break;
    case 2:
        note(70, 200, 0.9), note(180, 180, 0.9);
        shape(p, rect(88, 60, 116, 22), kInk, 0);
        break;
    case 3:
        note(80, 200, 0.8), note(140, 180, 0.8), note(200, 200, 0.8);
        shape(p, rect(96, 80, 124, 18), kInk, 0);
        shape(p, rect(96, 108, 124, 18), kInk, 0);
        break;
    case 4:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(50, 50, 60), 16));
        p.drawArc(QRectF(40, 40, 176, 180), 0, 180 * 16);
        shape(p, rect(24, 120, 48, 90, 18), c);
        shape(p, rect(184, 120, 48, 90, 18), c);
        break;
    case 5:
        shape(p, rect(116, 20, 24, 140, 6), QColor(120, 80, 40));
        shape(p, ellipse(128, 190, 70, 56).united(ellipse(128, 140, 52, 40)), QColor(210, 120, 40));
        shape(p, ellipse(128, 170, 18, 18), kInk, 0);
        break;
    case 6:
        shape(p, ellipse(128, 128, 112, 112), QColor(25, 25, 28));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(70, 70, 80), 2));
        for (int r = 50; r < 108; r += 8) p.drawEllipse(QPointF(128, 128), r, r);
        shape(p, ellipse(128, 128, 36, 36), c, 0);
        break;
    case 7:
        shape(p, ellipse(128, 80, 50, 60), QColor(160, 160, 170));
        shape(p, rect(112, 136, 32, 100, 10), QColor(40, 40, 45));
        break;
    case 8:
        shape(p, rect(50, 30, 156, 200, 16), QColor(50, 50, 60));
        shape(p, ellipse(128, 90, 40, 40), QColor(120, 120, 130));
        shape(p, ellipse(128, 170, 52, 52), QColor(120, 120, 130));
        break;
    case 9:
        shape(p, rect(20, 70, 216, 120, 6), Qt::white);
        p.setBrush(kInk);
        for (int k = 0; k < 6; ++k)
            if (k != 2) p.drawRect(QRectF(50 + k * 36, 70, 20, 70));
        break;
    case 10:
        shape(p, ellipse(128, 100, 100, 40), QColor(230, 230, 235));
        shape(p, rect(28, 100, 200, 100), c);
        shape(p, ellipse(128, 200, 100, 40), c);
        p.setPen(QPen(QColor(120, 80, 40), 8));
        p.drawLine(QPointF(60, 20), QPointF(120, 90));
        p.drawLine(QPointF(200, 20), QPointF(140, 90));
        break;
    default:
        text(p, QRectF(0, 0, 256, 256), QString(QChar(0x266B)), 200, c);
        break;
    }
}

void drawZodiac(QPainter& p, int i) {
    const int sign = (i - 1) % 12;
    const bool badge = i > 12;
    const QColor c = QColor::fromHsvF(float(sign) / 12.f, 0.6f, 0.85f);
    if (badge) shape(p, starPath(128, 128, 120, 100, 12), c);
    else shape(p, ellipse(128, 128, 112, 112), c);
    text(p, QRectF(0, 0, 256, 256), QString(QChar(0x2648 + sign)), 140, Qt::white, false);
}

struct StickerSet {
    const char* name;
    int count;
    void (*draw)(QPainter&, int);
};

const StickerSet kStickerSets[] = {
    {"Birthday", 8, drawBirthday}, {"Chat Bubbles", 11, drawBubble}, {"Design Elements", 11, drawDesign},
    {"Emoticons", 15, drawEmoticon}, {"Food", 17, drawFood},        {"Love", 10, drawLove},
    {"Music", 11, drawMusic},        {"Zodiac", 24, drawZodiac},
};

}  // namespace

QImage stickerPicture(const QString& set, int index, int size) {
    for (const StickerSet& s : kStickerSets) {
        if (set != QLatin1String(s.name)) continue;
        QImage img = newImage(size, size);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(size / N, size / N);
        s.draw(p, index);
        p.end();
        return img;
    }
    return {};
}

QList<Job> stickerJobs() {
    QList<Job> jobs;
    for (const StickerSet& s : kStickerSets)
        for (int i = 1; i <= s.count; ++i) {
            const QString set = QLatin1String(s.name);
            jobs.append({QStringLiteral("%1%2.png").arg(set).arg(i), [set, i] { return stickerPicture(set, i, 256); }});
        }
    return jobs;
}

}  // namespace gen
