#pragma once
// Nine-part drawing: a frame made of four corner pieces and four edge pieces around a
// rectangle, the corners drawn at their own size and the edges tiled between them. The
// centre stays untouched. Rectangles are in the program's y-up space.
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <array>

namespace platform {

// The eight pieces in their conventional order.
struct NinePartPieces {
    QImage topLeft, top, topRight;
    QImage left, right;
    QImage bottomLeft, bottom, bottomRight;

    // Pieces 1 to 8 in the order top-left, top, top-right, left, right, bottom-left,
    // bottom, bottom-right.
    static NinePartPieces fromList(const std::array<QImage, 8>& p) {
        return {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]};
    }
};

// Draws the pieces into rect (y-up) on a canvas of the given height, source-over at the
// painter's opacity. Edge pieces are repeated along their side at their own size, the last
// tile cut off where it meets the next corner; corners shrink proportionally when the
// rectangle is smaller than two corners.
void drawNinePartImage(QPainter& painter, double canvasHeight, const QRectF& rect, const NinePartPieces& pieces);

}  // namespace platform
