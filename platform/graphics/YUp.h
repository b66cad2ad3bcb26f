#pragma once
// The program works in a bottom-left-origin, y-up space; Qt images and painters use a
// top-left origin with y down. This is the only place that converts between the two:
// every other file goes through these helpers.
#include <QPointF>
#include <QRectF>
#include <QTransform>

namespace platform {

// A rectangle given in y-up coordinates on a canvas of the given height, as Qt's y-down rectangle.
inline QRectF toQtRect(const QRectF& yUp, double canvasHeight) {
    return QRectF(yUp.x(), canvasHeight - yUp.y() - yUp.height(), yUp.width(), yUp.height());
}
// The inverse: a Qt (y-down) rectangle as a y-up rectangle. The mapping is its own inverse.
inline QRectF fromQtRect(const QRectF& yDown, double canvasHeight) { return toQtRect(yDown, canvasHeight); }

inline QPointF toQtPoint(const QPointF& yUp, double canvasHeight) { return QPointF(yUp.x(), canvasHeight - yUp.y()); }
inline QPointF fromQtPoint(const QPointF& yDown, double canvasHeight) { return toQtPoint(yDown, canvasHeight); }

// A painter transform that lets code draw in y-up coordinates on a canvas of the given height.
inline QTransform yUpTransform(double canvasHeight) { return QTransform(1, 0, 0, -1, 0, canvasHeight); }

// Pixel rows: row r counted from the bottom (y-up) is Qt scan line height-1-r.
inline int toQtRow(int yUpRow, int height) { return height - 1 - yUpRow; }

}  // namespace platform
