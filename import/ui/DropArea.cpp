#include "import/ui/DropArea.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <algorithm>

#include "import/PhotoSources.h"

DropArea::DropArea(platform::NotificationCenter& center, QWidget* parent) : QWidget(parent), center_(center) {
    setObjectName(QStringLiteral("leftBox"));
    setAcceptDrops(true);
}

void DropArea::dragEnterEvent(QDragEnterEvent* e) {
    if (e->possibleActions() & Qt::CopyAction) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
        hovering_ = true;
        update();
    }
}

void DropArea::dragLeaveEvent(QDragLeaveEvent*) {
    hovering_ = false;
    update();
}

bool DropArea::performDragOperation(const QMimeData* mime) {
    hovering_ = false;
    update();
    if (!acceptDrops()) return false;
    const intake::DropAreaOutcome outcome = intake::dropAreaPerformDrop(mime, center_);
    if (outcome.pasteError) emit pasteFailed();
    return outcome.accepted;
}

void DropArea::dropEvent(QDropEvent* e) {
    if (performDragOperation(e->mimeData())) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    } else {
        e->ignore();
    }
}

void DropArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent(27, 172, 143);
    QPen pen(hovering_ ? accent : QColor(110, 110, 110), 2, Qt::DashLine);
    p.setPen(pen);
    p.drawRoundedRect(QRectF(rect()).adjusted(6, 6, -6, -6), 14, 14);
    // A ring that grows over the 19 frames and starts again.
    const QPointF centre = ringCentre();
    const double r = 18 + frame_ * 1.6;
    QColor ring = accent;
    ring.setAlphaF(std::max(0.05, 1.0 - frame_ / 20.0));
    p.setPen(QPen(ring, 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, r, r);
}
