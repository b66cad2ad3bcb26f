#include "import/ui/ScreenImages.h"

#include <QPainter>
#include <algorithm>

namespace screenimages {

QImage named(const QString& name) {
    QSize size(64, 64);
    QColor fill(60, 60, 60);
    QString mark;
    if (name == kPlaceHolder) {
        size = QSize(202, 207);
        fill = QColor(48, 48, 48);
    } else if (name == kNotAvailableBig) {
        size = QSize(202, 207);
        fill = QColor(70, 30, 30);
        mark = QStringLiteral("!");
    } else if (name == kNotAvailableSmall) {
        size = QSize(35, 24);
        fill = QColor(70, 30, 30);
        mark = QStringLiteral("!");
    } else if (name == kCheckedSquare || name == kTileCheck || name == kCheck) {
        size = QSize(18, 18);
        fill = QColor(27, 172, 143);
        mark = QStringLiteral("✓");
    } else if (name == kUnchecked || name == kUncheck) {
        size = QSize(18, 18);
        fill = Qt::transparent;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (name == kUnchecked || name == kUncheck) {
        p.setPen(QPen(QColor(200, 200, 200), 1.5));
        p.drawRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), 3, 3);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(0, 0, size.width(), size.height()), 4, 4);
    }
    if (!mark.isEmpty()) {
        p.setPen(Qt::white);
        QFont f = p.font();
        f.setPixelSize(std::max(10, size.height() * 2 / 3));
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, mark);
    }
    p.end();
    image.setText(QStringLiteral("name"), name);
    return image;
}

QString nameOf(const QImage& image) { return image.text(QStringLiteral("name")); }

}  // namespace screenimages
