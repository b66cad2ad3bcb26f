#pragma once
// The rules of the handles dragged over the preview, without a widget. All points are y-up
// in the image container's points.
//
// A point handle follows the pointer while the pointer stays inside the container. The four
// corner handles of a rectangle are numbered 0 lower-left, 1 lower-right, 2 upper-left,
// 3 upper-right; a dragged corner keeps at least one handle width from the corners beside
// it, and with a fixed ratio it moves along the rectangle's diagonal only, so the rectangle
// keeps its ratio.
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <array>
#include <optional>

// Point mode: what one drag event does to a point handle.
struct PointDragStep {
    bool moved = false;
    QPointF translation;  // pointer minus last location, reported before the handle moves
    QPointF newCentre;    // where the handle goes
};

class PointDrag {
public:
    void press(QPointF pointer) {
        last_ = pointer;
        dragged_ = false;
    }
    // The handle's centre before the event is not needed: it lands on the pointer.
    PointDragStep drag(QPointF pointer, const QRectF& containerBounds);
    void release() { dragged_ = false; }
    bool isDragged() const { return dragged_; }
    QPointF lastLocation() const { return last_; }

private:
    QPointF last_;
    bool dragged_ = false;
};

using Corners = std::array<QPointF, 4>;

struct CornerDragStep {
    bool moved = false;
    QPointF newCentre;
    QPointF translation;  // what the pointer asked for beyond where the corner went
};

class CornerDrag {
public:
    // multiplier: height / width of a fixed ratio; nothing for a free rectangle.
    CornerDrag(int index, double handleSize, std::optional<double> multiplier)
        : index_(index), size_(handleSize), multiplier_(multiplier) {}
    void press(QPointF pointer) {
        last_ = pointer;
        dragged_ = false;
    }
    CornerDragStep drag(QPointF pointer, const Corners& corners, const QRectF& containerBounds);
    void release() { dragged_ = false; }
    QPointF lastLocation() const { return last_; }
    bool isDragged() const { return dragged_; }

private:
    int index_;
    double size_;
    std::optional<double> multiplier_;
    QPointF last_;
    bool dragged_ = false;
};

// The corners after corner `index` moved to `centre`: its two neighbours follow so the four
// stay a rectangle.
Corners moveCorner(Corners corners, int index, QPointF centre);
// The rectangle the corners span (y-up), and the corners of a rectangle.
QRectF rectFromCorners(const Corners& corners);
Corners cornersOfRect(const QRectF& rect);

// A value typed into one of the crop fields (0 x, 1 y, 2 width, 3 height; y-up): the new
// rectangle. With a fixed ratio (height = multiplier x width) a width sets the height and a
// height the width. The result stays inside the container and at least one point wide.
QRectF cropRectFromField(const QRectF& current, int field, double value, std::optional<double> multiplier,
                         QSizeF container);
