#include "editor/ui/ImageOverlayView.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/graphics/YUp.h"

ImageOverlayView::ImageOverlayView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("imageWatermarkView"));
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageOverlayView::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void ImageOverlayView::setOpacityValue(double opacity) {
    opacity_ = opacity;
    update();
}

void ImageOverlayView::setBoxRect(const QRectF& yUp) {
    box_ = yUp;
    update();
}

void ImageOverlayView::setFlips(bool horizontal, bool vertical) {
    flipH_ = horizontal;
    flipV_ = vertical;
    update();
}

void ImageOverlayView::setAngle(double degrees) {
    angle_ = degrees;
    update();
}

void ImageOverlayView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRectF r = platform::toQtRect(box_, height());
    // Turned about the box's centre; y runs down here, so a positive angle turns left.
    p.translate(r.center());
    p.rotate(-angle_);
    p.translate(-r.center());
    if (dragging_ && moved_ && !picture_.isNull()) {
        p.setOpacity(opacity_);
        p.drawImage(r, picture_.mirrored(flipH_, flipV_));
        p.setOpacity(1.0);
    }
    p.setPen(QPen(QColor(26, 185, 153), 1, Qt::DashLine));
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

void ImageOverlayView::mousePressEvent(QMouseEvent* e) {
    const QPointF pos = platform::fromQtPoint(e->position(), height());
    if (!box_.contains(pos)) {
        e->ignore();
        return;
    }
    dragging_ = true;
    moved_ = false;
    last_ = pos;
}

void ImageOverlayView::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_) return;
    const QPointF pos = platform::fromQtPoint(e->position(), height());
    const QRectF moved = box_.translated(pos - last_);
    // The box follows only while its centre stays over the preview.
    if (!rect().contains(platform::toQtPoint(moved.center(), height()).toPoint())) return;
    box_ = moved;
    last_ = pos;
    moved_ = true;
    update();
}

void ImageOverlayView::mouseReleaseEvent(QMouseEvent*) {
    if (!dragging_) return;
    dragging_ = false;
    update();
    if (moved_) emit boxMoved(box_);
    else emit singleClicked();
}
