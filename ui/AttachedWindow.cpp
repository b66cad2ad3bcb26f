#include "ui/AttachedWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The edge that carries the arrow for each side code.
int edgeForSide(int side) {
    switch (side) {
    case 0: case 4: case 5: return 0;    // window left of the point: arrow on its right edge
    case 1: case 10: case 11: return 1;  // below: arrow on its top edge
    case 2: case 6: case 7: return 2;    // right: arrow on its left edge
    default: return 3;                   // above: arrow on its bottom edge
    }
}

double arrowRoom(const AttachedWindowStyle& s) { return s.hasArrow ? s.arrowHeight : 0; }

QSizeF frameSizeFor(QSizeF view, int edge, const AttachedWindowStyle& s) {
    const double pad = 2 * (s.viewMargin + s.borderWidth);
    QSizeF size(view.width() + pad, view.height() + pad);
    if (edge == 0 || edge == 2) size.rwidth() += arrowRoom(s);
    else size.rheight() += arrowRoom(s);
    return size;
}

AttachedPlacement placeOnSide(QSizeF view, QPointF pt, QRectF bounds, int side, double distance,
                              const AttachedWindowStyle& s) {
    AttachedPlacement out;
    out.side = side;
    out.edge = edgeForSide(side);
    const QSizeF size = frameSizeFor(view, out.edge, s);
    out.cornerRadius = std::min(s.cornerRadius, maximumCornerRadius(size, out.edge, s));
    const bool vertical = out.edge == 0 || out.edge == 2;  // the arrow edge runs up and down
    const double length = vertical ? size.height() : size.width();
    // How near an end the arrow may sit: past the rounded corner and the border.
    const double inset = s.hasArrow ? out.cornerRadius + s.borderWidth + s.arrowBaseWidth / 2
                                    : 0;
    const double lo = std::min(inset, length / 2), hi = std::max(length - inset, length / 2);
    double along;  // the arrow's place along its edge, from the top or left end
    switch (side) {
    case 4: case 6: case 8: case 10: along = hi; break;  // window runs up / left of the point
    case 5: case 7: case 9: case 11: along = lo; break;  // window runs down / right
    default: along = length / 2; break;
    }
    QPointF origin;
    switch (out.edge) {
    case 0: origin = QPointF(pt.x() - distance - size.width(), pt.y() - along); break;
    case 1: origin = QPointF(pt.x() - along, pt.y() + distance); break;
    case 2: origin = QPointF(pt.x() + distance, pt.y() - along); break;
    default: origin = QPointF(pt.x() - along, pt.y() - distance - size.height()); break;
    }
    // Slide along the arrow edge to stay inside the window, keeping the arrow on the point.
    // The arrow wins over the edge: a point closer to the edge than the rounded corner
    // lets the window reach past the edge by that little.
    if (vertical) {
        const double minY = bounds.top(), maxY = bounds.bottom() - size.height();
        if (maxY >= minY) origin.setY(std::clamp(origin.y(), minY, maxY));
        along = std::clamp(pt.y() - origin.y(), lo, hi);
        origin.setY(pt.y() - along);
    } else {
        const double minX = bounds.left(), maxX = bounds.right() - size.width();
        if (maxX >= minX) origin.setX(std::clamp(origin.x(), minX, maxX));
        along = std::clamp(pt.x() - origin.x(), lo, hi);
        origin.setX(pt.x() - along);
    }
    out.frame = QRectF(origin, size);
    switch (out.edge) {
    case 0: out.arrowTip = QPointF(size.width(), along); break;
    case 1: out.arrowTip = QPointF(along, 0); break;
    case 2: out.arrowTip = QPointF(0, along); break;
    default: out.arrowTip = QPointF(along, size.height()); break;
    }
    return out;
}

double visibleArea(const QRectF& frame, const QRectF& bounds) {
    const QRectF r = frame.intersected(bounds);
    return r.isEmpty() ? 0 : r.width() * r.height();
}

}  // namespace

double maximumCornerRadius(QSizeF frame, int edge, const AttachedWindowStyle& s) {
    const bool vertical = edge == 0 || edge == 2;
    const double w = frame.width() - (vertical ? arrowRoom(s) : 0);
    const double h = frame.height() - (vertical ? 0 : arrowRoom(s));
    double r = std::min(w, h) / 2;
    if (s.hasArrow) {
        // The arrow's base must fit between the two corners of its edge.
        const double edgeLength = vertical ? h : w;
        r = std::min(r, (edgeLength - s.arrowBaseWidth) / 2 - s.borderWidth);
    }
    return std::max(0.0, r);
}

AttachedPlacement placeAttachedWindow(QSizeF view, QPointF point, QRectF bounds, int side, double distance,
                                      const AttachedWindowStyle& style) {
    if (side >= 0 && side <= 11) return placeOnSide(view, point, bounds, side, distance, style);
    // 12 (and anything unknown): the first side that fits whole, else the one showing most.
    AttachedPlacement best;
    double bestArea = -1;
    for (int candidate : std::array{1, 3, 2, 0}) {
        AttachedPlacement p = placeOnSide(view, point, bounds, candidate, distance, style);
        if (bounds.contains(p.frame)) return p;
        const double area = visibleArea(p.frame, bounds);
        if (area > bestArea) {
            bestArea = area;
            best = p;
        }
    }
    return best;
}

AttachedWindow* AttachedWindow::createTip(QWidget* view, QPoint point, QWidget* window, int side, float cornerRadius) {
    auto* popup = new AttachedWindow(view, point, window, side, 5);
    popup->setBorderColor(QColor(26, 185, 153));
    popup->setBackgroundColor(QColor(41, 41, 41));
    popup->setCornerRadius(cornerRadius);
    popup->setClosesOnOutsidePress(false);
    QObject::connect(popup, &AttachedWindow::closed, popup, &QObject::deleteLater);
    return popup;
}

QString AttachedWindow::contentStyleSheet() {
    return QStringLiteral(
        "QLabel, QCheckBox { color: #e6e6e6; }"
        "QPushButton { color: #eee; background: #2f2f2f; border: 1px solid #555; border-radius: 4px; padding: 5px 12px; }"
        "QPushButton:hover { border-color: #1bac8f; }"
        "QPushButton:focus { border: 2px solid #1ab999; padding: 4px 11px; }");
}

AttachedWindow::AttachedWindow(QWidget* view, QPoint point, QWidget* window, int side, float distance)
    : QWidget(window ? window->window() : nullptr), view_(view), point_(point), requestedSide_(side),
      distance_(distance) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    if (view) {
        view->setParent(this);
        view->show();
    }
    // No graphics effect for a shadow: an effect over a scrolling view makes every scroll
    // repaint all that lies under the pop-up and blur it again. paintEvent draws a dark rim.
    // The side is chosen once, when the pop-up is made.
    place();
    requestedSide_ = placement_.side;
    hide();
    qApp->installEventFilter(this);
}

AttachedWindow::~AttachedWindow() {
    if (qApp) qApp->removeEventFilter(this);
}

void AttachedWindow::place() {
    QWidget* parent = parentWidget();
    const QRectF bounds = parent ? QRectF(parent->rect()) : QRectF(0, 0, 1e9, 1e9);
    const QSizeF viewSize = view_ ? QSizeF(view_->size()) : QSizeF(0, 0);
    placement_ = placeAttachedWindow(viewSize, QPointF(point_), bounds, requestedSide_, distance_, style_);
    setGeometry(placement_.frame.toAlignedRect());
    if (view_) {
        const double inset = style_.borderWidth + style_.viewMargin;
        QPointF at(inset, inset);
        if (style_.hasArrow) {
            if (placement_.edge == 1) at.ry() += style_.arrowHeight;
            if (placement_.edge == 2) at.rx() += style_.arrowHeight;
        }
        view_->move(at.toPoint());
    }
    update();
}

void AttachedWindow::setBorderColor(const QColor& c) { borderColor_ = c; update(); }
void AttachedWindow::setBackgroundColor(const QColor& c) { backgroundColor_ = c; update(); }
void AttachedWindow::setBorderWidth(float w) { style_.borderWidth = std::max(0.0f, w); place(); }
void AttachedWindow::setHasArrow(float has) { style_.hasArrow = has != 0; place(); }
void AttachedWindow::setCornerRadius(float r) { style_.cornerRadius = std::max(0.0f, r); place(); }

QPainterPath AttachedWindow::outline() const {
    // The body is the frame less the arrow's strip; the arrow is joined onto its edge.
    QRectF body(QPointF(0, 0), placement_.frame.size());
    const double a = style_.hasArrow ? style_.arrowHeight : 0;
    switch (placement_.edge) {
    case 0: body.setRight(body.right() - a); break;
    case 1: body.setTop(body.top() + a); break;
    case 2: body.setLeft(body.left() + a); break;
    default: body.setBottom(body.bottom() - a); break;
    }
    const double inset = style_.borderWidth / 2;
    body.adjust(inset, inset, -inset, -inset);
    QPainterPath path;
    path.addRoundedRect(body, placement_.cornerRadius, placement_.cornerRadius);
    if (style_.hasArrow) {
        const QPointF tip = placement_.arrowTip;
        const double half = style_.arrowBaseWidth / 2;
        QPolygonF tri;
        switch (placement_.edge) {
        case 0: tri << QPointF(body.right() - 1, tip.y() - half) << tip - QPointF(inset, 0) << QPointF(body.right() - 1, tip.y() + half); break;
        case 1: tri << QPointF(tip.x() - half, body.top() + 1) << tip + QPointF(0, inset) << QPointF(tip.x() + half, body.top() + 1); break;
        case 2: tri << QPointF(body.left() + 1, tip.y() - half) << tip + QPointF(inset, 0) << QPointF(body.left() + 1, tip.y() + half); break;
        default: tri << QPointF(tip.x() - half, body.bottom() - 1) << tip - QPointF(0, inset) << QPointF(tip.x() + half, body.bottom() - 1); break;
        }
        QPainterPath arrow;
        arrow.addPolygon(tri);
        arrow.closeSubpath();
        path = path.united(arrow);
    }
    return path;
}

void AttachedWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = outline();
    p.strokePath(path, QPen(QColor(0, 0, 0, 110), style_.borderWidth + 3));
    p.fillPath(path, backgroundColor_);
    if (style_.borderWidth > 0) p.strokePath(path, QPen(borderColor_, style_.borderWidth));
}

void AttachedWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    raise();
}

void AttachedWindow::closePopup() {
    if (isHidden()) return;
    hide();
    emit closed();
}

bool AttachedWindow::eventFilter(QObject* watched, QEvent* event) {
    // Escape closes the pop-up as Cancel would, when the key is meant for its window and no
    // dialog of its own is in the way. The newest pop-up hears it first.
    if (closesOnOutsidePress_ && event->type() == QEvent::KeyPress && isVisible() && watched->isWidgetType() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !QApplication::activeModalWidget() &&
        static_cast<QWidget*>(watched)->window() == window()) {
        closePopup();
        return true;
    }
    if (closesOnOutsidePress_ && event->type() == QEvent::MouseButtonPress && isVisible() && watched->isWidgetType()) {
        auto* me = static_cast<QMouseEvent*>(event);
        const QPoint local = mapFromGlobal(me->globalPosition().toPoint());
        if (!rect().contains(local)) closePopup();
    }
    return false;  // the press always goes on to what was pressed
}
