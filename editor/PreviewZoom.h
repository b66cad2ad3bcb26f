#pragma once
// The zoom of the effects screen's preview: a factor from 1 (the photo fitted to its box)
// up to 8, changed in steps by the wheel with Ctrl and the + and − keys, or by any ratio by
// a pinch. The point under the pointer stays where it is while the factor changes, and the
// enlarged picture always covers its box. Coordinates are the box's own, y down.
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

class PreviewZoom {
public:
    static constexpr double kMinimum = 1.0;
    static constexpr double kMaximum = 8.0;
    static constexpr double kStep = 1.25;  // one wheel notch or key press

    double factor() const { return factor_; }
    // Back to the fitted photo.
    void reset();
    // Sets the factor (held to the range) about the box's centre.
    void setFactor(double factor, QSizeF box);
    // Multiplies the factor by `ratio` (held to the range), keeping the picture's point under
    // `anchor` where it is. Returns false when the factor did not change.
    bool zoomBy(double ratio, QPointF anchor, QSizeF box);
    // Whole wheel notches (a delta of 120 each, positive away from the user) as one ratio.
    static double ratioForWheel(int angleDelta);

    // Where the enlarged picture lies in the box.
    QRectF pictureRect(QSizeF box) const;
    // "Zoom: 150 %"; shown only while the factor is not 1.
    static QString label(double factor);
    static bool labelShown(double factor);

private:
    void keepCovering(QSizeF box);
    double factor_ = 1.0;
    QPointF origin_;  // the picture's top-left corner in the box
};
