#include "editor/PreviewZoom.h"

#include <algorithm>
#include <cmath>

void PreviewZoom::reset() {
    factor_ = 1.0;
    origin_ = QPointF();
}

void PreviewZoom::setFactor(double factor, QSizeF box) {
    zoomBy(std::isfinite(factor) && factor > 0 ? factor / factor_ : 1.0, QPointF(box.width() / 2, box.height() / 2), box);
}

bool PreviewZoom::zoomBy(double ratio, QPointF anchor, QSizeF box) {
    if (!std::isfinite(ratio) || ratio <= 0) return false;
    const double next = std::clamp(factor_ * ratio, kMinimum, kMaximum);
    if (next == factor_) return false;
    // The picture's point under the anchor, in picture units, stays under the anchor.
    const QPointF onPicture = (anchor - origin_) / factor_;
    factor_ = next;
    origin_ = anchor - onPicture * factor_;
    keepCovering(box);
    return true;
}

double PreviewZoom::ratioForWheel(int angleDelta) { return std::pow(kStep, angleDelta / 120.0); }

void PreviewZoom::keepCovering(QSizeF box) {
    const double w = box.width() * factor_, h = box.height() * factor_;
    origin_.setX(std::clamp(origin_.x(), box.width() - w, 0.0));
    origin_.setY(std::clamp(origin_.y(), box.height() - h, 0.0));
}

QRectF PreviewZoom::pictureRect(QSizeF box) const {
    const double w = box.width() * factor_, h = box.height() * factor_;
    // A box that changed size since the last zoom still gets a covering picture.
    const double x = std::clamp(origin_.x(), box.width() - w, 0.0);
    const double y = std::clamp(origin_.y(), box.height() - h, 0.0);
    return QRectF(x, y, w, h);
}

QString PreviewZoom::label(double factor) {
    return QString::asprintf("Zoom: %d %%", int(std::lround(factor * 100)));
}

bool PreviewZoom::labelShown(double factor) { return std::abs(factor - 1.0) > 1e-9; }
