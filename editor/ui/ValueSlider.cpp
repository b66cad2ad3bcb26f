#include "editor/ui/ValueSlider.h"

#include "ui/KeyboardHelpers.h"

#include <algorithm>
#include <cmath>

ValueSlider::ValueSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    QSlider::setRange(0, kSteps);
    keyboard::showFocusRing(this);  // the platform's look only tints the handle
    connect(this, &QSlider::valueChanged, this, [this](int step) {
        if (setting_) return;
        value_ = min_ + (max_ - min_) * double(step) / kSteps;
        emit doubleValueMoved(value_);
    });
}

void ValueSlider::setRange(double minimum, double maximum) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return;
    min_ = std::min(minimum, maximum);
    max_ = std::max(minimum, maximum);
    setDoubleValue(value_);
}

void ValueSlider::setDoubleValue(double value) {
    if (!std::isfinite(value)) return;
    value_ = std::clamp(value, min_, max_);
    const double span = max_ - min_;
    setting_ = true;
    setValue(span > 0 ? int(std::lround((value_ - min_) / span * kSteps)) : 0);
    setting_ = false;
}
