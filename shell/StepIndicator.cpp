#include "shell/StepIndicator.h"

#include <QPainter>
#include <algorithm>

StepIndicator::StepIndicator(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(40);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QStringList StepIndicator::stepTitles() {
    return {QStringLiteral("Add Photos"), QStringLiteral("Batch Effects"), QStringLiteral("Output Settings"),
            QStringLiteral("Preview"),    QStringLiteral("Processing"),    QStringLiteral("Finished")};
}

void StepIndicator::setStep(int step) {
    step = std::clamp(step, 0, kStepCount - 1);
    if (step == step_) return;
    step_ = step;
    update();
}

void StepIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor done(27, 172, 143), todo(120, 120, 120), text(235, 235, 235);
    const QStringList titles = stepTitles();
    const double slot = double(width()) / kStepCount;
    const double dotY = 12, r = 6;
    QFont f = font();
    f.setPointSizeF(std::max(7.0, f.pointSizeF() * 0.8));
    p.setFont(f);
    for (int i = 0; i < kStepCount; ++i) {
        const double cx = slot * (i + 0.5);
        if (i + 1 < kStepCount) {
            p.setPen(QPen(i < step_ ? done : todo, 2));
            p.drawLine(QPointF(cx + r, dotY), QPointF(cx + slot - r, dotY));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(i <= step_ ? done : todo);
        p.drawEllipse(QPointF(cx, dotY), i == step_ ? r + 2 : r, i == step_ ? r + 2 : r);
        p.setPen(i == step_ ? text : text.darker(140));
        p.drawText(QRectF(cx - slot / 2, dotY + r + 4, slot, height() - dotY - r - 4), Qt::AlignHCenter | Qt::AlignTop,
                   titles[i]);
    }
}
