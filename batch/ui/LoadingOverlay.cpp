#include "batch/ui/LoadingOverlay.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QtMath>

LoadingOverlay::LoadingOverlay(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("vwLoading"));
    lblProcessingOnLoader = new QLabel(this);
    lblProcessingOnLoader->setObjectName(QStringLiteral("lblProcessingOnLoader"));
    lblProcessingOnLoader->setAlignment(Qt::AlignCenter);
    lblProcessingOnLoader->setStyleSheet(QStringLiteral("color:white; font-size:14px;"));
    timer_ = new QTimer(this);
    timer_->setInterval(10);
    connect(timer_, &QTimer::timeout, this, &LoadingOverlay::performLaoderAnimationWithCounter);
    hide();
    if (parent) parent->installEventFilter(this);
}

bool LoadingOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void LoadingOverlay::fitAndShow() {
    if (parentWidget()) setGeometry(parentWidget()->rect());
    lblProcessingOnLoader->setGeometry(0, height() / 2 + 40, width(), 24);
    raise();
    QWidget::show();
}

bool LoadingOverlay::showLoading(bool show, const QString& text) {
    lblProcessingOnLoader->setText(text);
    if (!show) {
        timer_->stop();
        loading_ = false;
        setVisible(!backdrop_);
        update();
        return false;
    }
    fitAndShow();
    if (loading_) return false;
    loading_ = true;
    loaderCounter_ = 1;
    timer_->start();
    return true;
}

void LoadingOverlay::setBackdropShown(bool shown) {
    backdrop_ = shown;
    lblProcessingOnLoader->setVisible(shown);
    if (!shown) fitAndShow();
    else if (!loading_) hide();
    update();
}

void LoadingOverlay::performLaoderAnimationWithCounter() {
    // Frames run 1..55 and start again at 1.
    loaderCounter_ = loaderCounter_ >= kFrames ? 1 : loaderCounter_ + 1;
    update();
}

void LoadingOverlay::paintEvent(QPaintEvent*) {
    if (!backdrop_) return;  // a clear cover
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 110));
    if (!loading_) return;
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);
    p.setBrush(QColor(41, 41, 41, 235));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(centre.x() - 70, centre.y() - 50, 140, 130), 8, 8);
    // Twelve spokes; the bright one turns with the frame.
    const int lead = (loaderCounter_ - 1) * 12 / kFrames;
    for (int i = 0; i < 12; ++i) {
        const double angle = i * 30.0;
        const int age = (lead - i + 12) % 12;
        p.setPen(QPen(QColor(26, 185, 153, 255 - age * 18), 4, Qt::SolidLine, Qt::RoundCap));
        const QPointF dir(qSin(qDegreesToRadians(angle)), -qCos(qDegreesToRadians(angle)));
        p.drawLine(centre + dir * 12, centre + dir * 26);
    }
}
