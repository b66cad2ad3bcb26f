#include "shell/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QImage AppIcon::draw(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);  // drawn on the same 256-unit grid as the SVG
    QLinearGradient bg(0, 8, 0, 248);
    bg.setColorAt(0, QColor(0x2f, 0xc7, 0xa6));
    bg.setColorAt(1, QColor(0x13, 0x8a, 0x72));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);
    auto card = [&](double angle, QRectF r, double opacity) {
        p.save();
        p.translate(128, 140);
        p.rotate(angle);
        p.translate(-128, -140);
        p.setOpacity(opacity);
        p.setBrush(Qt::white);
        p.drawRoundedRect(r, 8, 8);
        p.restore();
    };
    card(-10, QRectF(58, 66, 140, 110), 0.55);
    card(-4, QRectF(54, 74, 148, 116), 0.8);
    card(0, QRectF(50, 84, 156, 120), 1);
    p.setBrush(QColor(0x29, 0x29, 0x29));
    p.drawRoundedRect(QRectF(60, 94, 136, 100), 4, 4);
    p.setBrush(QColor(0xf5, 0xc5, 0x42));
    p.drawEllipse(QPointF(164, 120), 12, 12);
    QPainterPath hills;
    hills.moveTo(60, 194);
    hills.lineTo(104, 138);
    hills.lineTo(134, 172);
    hills.lineTo(152, 152);
    hills.lineTo(196, 194);
    hills.closeSubpath();
    p.setBrush(QColor(0x1b, 0xac, 0x8f));
    p.drawPath(hills);
    return img;
}

QIcon AppIcon::icon() {
    QIcon drawn;
    for (int s : {16, 32, 48, 64, 128, 256}) drawn.addPixmap(QPixmap::fromImage(draw(s)));
    return QIcon::fromTheme(QStringLiteral("BriskoPhotos"), drawn);
}
