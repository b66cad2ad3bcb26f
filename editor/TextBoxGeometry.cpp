#include "editor/TextBoxGeometry.h"

#include <cmath>

#include <QTransform>
#include <algorithm>

void TextBoxGeometry::fitToTextSize(QSizeF measured) {
    const double w = std::max(measured.width() + 10.0, 10.0);
    const double h = std::max(measured.height(), 10.0);
    frame_.setSize(QSizeF(w + 2 * kMargin, h + 2 * kMargin));
}

double TextBoxGeometry::textOffsetForAlignment(int alignment) {
    switch (alignment) {
    case 1: return -4.0;
    case 2: return -2.0;
    default: return 1.0;
    }
}

void TextBoxGeometry::beginMove(QPointF location) {
    lastDragLocation_ = location;
    moving_ = true;
}

bool TextBoxGeometry::dragTo(QPointF location) {
    if (!moving_) return false;
    // Single precision, as the box's frame is kept.
    const float nx = float(frame_.x()) + float(location.x() - lastDragLocation_.x());
    const float ny = float(frame_.y()) + float(location.y() - lastDragLocation_.y());
    const float hw = float(frame_.width() / 2), hh = float(frame_.height() / 2);
    const bool inside = nx > -hw && nx + hw <= float(viewSize_.width()) && ny > -hh &&
                        ny + hh <= float(viewSize_.height());
    if (!inside) return false;
    frame_.moveTo(nx, ny);
    lastDragLocation_ = location;
    return true;
}

QRectF TextBoxGeometry::updatedFrame() const {
    const QPointF c = center();
    return QRectF(c.x() - frame_.width() / 2, c.y() - frame_.height() / 2, frame_.width(), frame_.height());
}

QRectF TextBoxGeometry::rotatedFrame() const {
    if (rotation_ == 0) return frame_;
    const QPointF c = center();
    QTransform t;
    t.translate(c.x(), c.y());
    t.rotate(rotation_);
    t.translate(-c.x(), -c.y());
    return t.mapRect(frame_);
}

QRectF TextBoxGeometry::insetByMargin(const QRectF& f) {
    return QRectF(f.x() + kMargin, f.y() + kMargin, f.width() - 2 * kMargin, f.height() - 2 * kMargin);
}

float TextBoxGeometry::pointPairToBearingDegrees(QPointF first, QPointF second) {
    const float dy = float(first.y()) - float(second.y());
    const float dx = float(second.x()) - float(first.x());
    const float radians = std::atan2(dy, dx);
    return float(radians * 57.29577951308232);
}
