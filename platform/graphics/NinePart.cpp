#include "platform/graphics/NinePart.h"

#include "platform/graphics/YUp.h"

#include <algorithm>

namespace platform {

namespace {

// Repeats a piece along a band (Qt coordinates), left to right or top to bottom, at the
// piece's own size; the last tile is cut where the band ends so nothing spills into the
// neighbouring corner.
void tileBand(QPainter& p, const QImage& piece, const QRectF& band, bool horizontal) {
    if (piece.isNull() || band.width() <= 0 || band.height() <= 0) return;
    const double step = horizontal ? piece.width() : piece.height();
    if (step <= 0) return;
    const double length = horizontal ? band.width() : band.height();
    for (double pos = 0; pos < length; pos += step) {
        const double span = std::min(step, length - pos);
        const double frac = span / step;
        if (horizontal) {
            const QRectF target(band.x() + pos, band.y(), span, band.height());
            p.drawImage(target, piece, QRectF(0, 0, piece.width() * frac, piece.height()));
        } else {
            const QRectF target(band.x(), band.y() + pos, band.width(), span);
            p.drawImage(target, piece, QRectF(0, 0, piece.width(), piece.height() * frac));
        }
    }
}

}  // namespace

void drawNinePartImage(QPainter& painter, double canvasHeight, const QRectF& rect, const NinePartPieces& pc) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const QRectF q = toQtRect(rect, canvasHeight);

    auto sizeOf = [](const QImage& i) { return i.isNull() ? QSizeF(0, 0) : QSizeF(i.size()); };
    QSizeF tl = sizeOf(pc.topLeft), tr = sizeOf(pc.topRight), bl = sizeOf(pc.bottomLeft), br = sizeOf(pc.bottomRight);

    // Corners wider or taller together than the rectangle shrink in proportion, so opposite
    // corners meet instead of overlapping.
    const double wTop = tl.width() + tr.width(), wBottom = bl.width() + br.width();
    const double hLeft = tl.height() + bl.height(), hRight = tr.height() + br.height();
    const double sx = std::min({1.0, wTop > 0 ? q.width() / wTop : 1.0, wBottom > 0 ? q.width() / wBottom : 1.0});
    const double sy = std::min({1.0, hLeft > 0 ? q.height() / hLeft : 1.0, hRight > 0 ? q.height() / hRight : 1.0});
    auto shrink = [&](QSizeF s) { return QSizeF(s.width() * sx, s.height() * sy); };
    tl = shrink(tl), tr = shrink(tr), bl = shrink(bl), br = shrink(br);

    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (!pc.topLeft.isNull()) painter.drawImage(QRectF(q.topLeft(), tl), pc.topLeft);
    if (!pc.topRight.isNull()) painter.drawImage(QRectF(QPointF(q.right() - tr.width(), q.top()), tr), pc.topRight);
    if (!pc.bottomLeft.isNull())
        painter.drawImage(QRectF(QPointF(q.left(), q.bottom() - bl.height()), bl), pc.bottomLeft);
    if (!pc.bottomRight.isNull())
        painter.drawImage(QRectF(QPointF(q.right() - br.width(), q.bottom() - br.height()), br), pc.bottomRight);

    const double topH = pc.top.isNull() ? 0 : pc.top.height() * sy;
    const double bottomH = pc.bottom.isNull() ? 0 : pc.bottom.height() * sy;
    const double leftW = pc.left.isNull() ? 0 : pc.left.width() * sx;
    const double rightW = pc.right.isNull() ? 0 : pc.right.width() * sx;

    tileBand(painter, pc.top, QRectF(q.left() + tl.width(), q.top(), q.width() - tl.width() - tr.width(), topH), true);
    tileBand(painter, pc.bottom,
             QRectF(q.left() + bl.width(), q.bottom() - bottomH, q.width() - bl.width() - br.width(), bottomH), true);
    tileBand(painter, pc.left, QRectF(q.left(), q.top() + tl.height(), leftW, q.height() - tl.height() - bl.height()),
             false);
    tileBand(painter, pc.right,
             QRectF(q.right() - rightW, q.top() + tr.height(), rightW, q.height() - tr.height() - br.height()), false);
    painter.restore();
}

}  // namespace platform
