// The corner handles of the rectangle button, addressed by index with y measured downwards
// from the top of the image container.
#include "editor/ui/PointHandles.h"
#include "platform/graphics/YUp.h"

QList<PointView*> RectButton::thePoints() const {
    QList<PointView*> points;
    for (const auto& c : corners_) points << c.data();
    return points;
}

void RectButton::setPointKeys(const QStringList& keys) {
    pointKeys_ = keys;
    for (int i = 0; i < int(corners_.size()) && i < keys.size(); ++i)
        if (corners_[size_t(i)]) corners_[size_t(i)]->pointKey = keys[i];
}

QPointF RectButton::centerForPointAtIndex(int index) const {
    if (index < 0 || index >= int(corners_.size()) || !corners_[size_t(index)]) return {};
    const double height = container_ ? container_->height() : 0.0;
    return platform::toQtPoint(corners_[size_t(index)]->center(), height);
}

void RectButton::setCenter(QPointF yDown, int index) {
    if (index < 0 || index >= int(corners_.size()) || !corners_[size_t(index)]) return;
    const double height = container_ ? container_->height() : 0.0;
    corners_[size_t(index)]->setCenter(platform::fromQtPoint(yDown, height));
}
