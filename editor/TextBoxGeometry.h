#pragma once
// The text box that floats over the preview, as geometry: its container's frame in the
// image container's y-up points, sized to its text, moved by drags that keep its centre
// over the preview, turned by the flips, and the frames it reports for the step.
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class TextBoxGeometry {
public:
    // The margin between the container's edge and the text box inside it.
    static constexpr double kMargin = 20.0;

    explicit TextBoxGeometry(QSizeF viewSize = QSizeF(580, 440)) : viewSize_(viewSize) {}

    void setViewSize(QSizeF size) { viewSize_ = size; }
    QSizeF viewSize() const { return viewSize_; }
    void setContainerFrame(const QRectF& frame) { frame_ = frame; }
    QRectF containerFrame() const { return frame_; }

    // Keeps the origin and sizes the container around a text of the measured size (the
    // placeholder's size when the text is empty): max(w + 10, 10) + 40 by max(h, 10) + 40.
    void fitToTextSize(QSizeF measured);
    // x of the text inside the box for alignment 0 (left), 1 (right), 2 (centre).
    static double textOffsetForAlignment(int alignment);

    // Drags: a press inside the text starts moving; each step is taken only while the
    // box's centre stays over the view, and a refused step keeps the last location, so the
    // box follows again once the pointer comes back.
    void beginMove(QPointF location);
    bool dragTo(QPointF location);
    void endMove() { moving_ = false; }
    bool isMoving() const { return moving_; }

    // The turn of the box: 180 degrees for a horizontal flip, 270 for a vertical one, 0 when
    // the flag is cleared; the last flip set decides.
    void setHorizontalFlip(bool on) { rotation_ = on ? 180 : 0; }
    void setVerticalFlip(bool on) { rotation_ = on ? 270 : 0; }
    int rotationDegrees() const { return rotation_; }

    // The container's frame centred on its centre (what "boundedRect" stores before the
    // margin is taken off) and the turned container's enclosing frame ("rotatedRect").
    QPointF center() const { return frame_.center(); }
    QRectF updatedFrame() const;
    QRectF rotatedFrame() const;
    // The reported frames less the margin on every side, as the step stores them.
    static QRectF insetByMargin(const QRectF& frame);
    // The angle in degrees of the line from `first` to `second`, measured from +x with y
    // growing downwards (atan2(first.y - second.y, second.x - first.x)), in 32-bit floats.
    static float pointPairToBearingDegrees(QPointF first, QPointF second);

private:
    QSizeF viewSize_;
    QRectF frame_{0, 0, 50, 50};
    QPointF lastDragLocation_;
    bool moving_ = false;
    int rotation_ = 0;
};
