#include "ui/BarProgressIndicator.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <algorithm>

BarProgressIndicator::BarProgressIndicator(QWidget* parent) : QWidget(parent) {
    anim_ = new QVariantAnimation(this);
    anim_->setDuration(250);
    anim_->setEasingCurve(QEasingCurve::OutCubic);
    connect(anim_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        shown_ = v.toDouble();
        update();
    });
}

void BarProgressIndicator::setDoubleValue(double value) {
    value = std::clamp(value, std::min(min_, max_), std::max(min_, max_));
    const bool rising = value > shown_;
    value_ = value;
    anim_->stop();
    if (rising && !indeterminate_ && isVisible()) {
        anim_->setStartValue(shown_);
        anim_->setEndValue(value);
        anim_->start();
    } else {
        shown_ = value;
        update();
    }
}

void BarProgressIndicator::setIndeterminate(bool on) {
    indeterminate_ = on;
    if (on) {
        anim_->stop();
        shown_ = value_;
    }
    update();
}

void BarProgressIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = r.height() / 2;
    QPainterPath track;
    track.addRoundedRect(r, radius, radius);
    p.fillPath(track, QColor(0, 0, 0, 40));
    const double span = max_ - min_;
    const double fraction = indeterminate_ ? 1.0 : (span > 0 ? std::clamp((shown_ - min_) / span, 0.0, 1.0) : 0.0);
    if (fraction <= 0) return;
    QPainterPath bar;
    bar.addRoundedRect(QRectF(r.left(), r.top(), r.width() * fraction, r.height()), radius, radius);
    p.fillPath(bar, indeterminate_ ? bar_.lighter(130) : bar_);
}
