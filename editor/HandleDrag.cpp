#include "editor/HandleDrag.h"

#include "platform/foundation/Log.h"

#include <algorithm>
#include <cmath>

namespace {
// Inside, edges included: a corner may sit on the container's edge.
bool insideInclusive(const QRectF& r, QPointF p) {
    return p.x() >= r.left() && p.x() <= r.right() && p.y() >= r.top() && p.y() <= r.bottom();
}
}  // namespace

PointDragStep PointDrag::drag(QPointF pointer, const QRectF& containerBounds) {
    dragged_ = true;
    PointDragStep step;
    if (!insideInclusive(containerBounds, pointer)) return step;
    step.moved = true;
    step.translation = pointer - last_;
    step.newCentre = pointer;
    last_ = pointer;
    return step;
}

CornerDragStep CornerDrag::drag(QPointF p, const Corners& c, const QRectF& bounds) {
    dragged_ = true;
    CornerDragStep step;
    const QPointF L = last_;
    const bool left = index_ == 0 || index_ == 2;
    const bool lower = index_ == 0 || index_ == 1;
    const double s = size_;
    // The limits the neighbours set: x for the left corners at most c1.x - s, right corners
    // at least c0.x + s; y for the lower corners at most c2.y - s, upper at least c0.y + s.
    auto clampX = [&](double x) { return left ? std::min(x, c[1].x() - s) : std::max(x, c[0].x() + s); };
    auto clampY = [&](double y) { return lower ? std::min(y, c[2].y() - s) : std::max(y, c[0].y() + s); };

    double x, y, yWanted;
    if (multiplier_ && std::isfinite(*multiplier_) && *multiplier_ > 0) {
        // Along the diagonal: y moves m per unit of x, down for corners 1 and 2. A limit on
        // either axis shortens the whole step, so the ratio holds.
        const float m = float(*multiplier_);
        const double slope = (index_ == 1 || index_ == 2) ? -double(m) : double(m);
        double dx = p.x() - L.x();
        yWanted = L.y() + slope * dx;
        auto fits = [&](double d) {
            const double cx = L.x() + d, cy = L.y() + slope * d;
            return clampX(cx) == cx && clampY(cy) == cy && insideInclusive(bounds, QPointF(cx, cy));
        };
        if (!fits(dx)) {
            // Largest step towards the pointer that keeps every limit (the limits are linear).
            double lo = 0, hi = dx;
            for (int i = 0; i < 50; ++i) {
                const double mid = (lo + hi) / 2;
                if (fits(mid)) lo = mid;
                else hi = mid;
            }
            dx = fits(lo) ? lo : 0;
        }
        x = L.x() + dx;
        y = L.y() + slope * dx;
    } else {
        yWanted = p.y();
        x = clampX(p.x());
        y = clampY(p.y());
    }
    if (insideInclusive(bounds, QPointF(x, y))) {
        step.moved = true;
        step.newCentre = QPointF(x, y);
        step.translation = QPointF(p.x() - x, yWanted - y);
    } else {
        platform::log(u"point view ==> pointframe  %f", bounds.height() - y - s / 2);
    }
    // The next event continues from the constrained position.
    last_ = QPointF(x, y);
    return step;
}

Corners moveCorner(Corners c, int index, QPointF centre) {
    if (index < 0 || index > 3) return c;
    c[size_t(index)] = centre;
    // The corner sharing x (same side) and the one sharing y (same edge).
    static const int sameX[4] = {2, 3, 0, 1};
    static const int sameY[4] = {1, 0, 3, 2};
    c[size_t(sameX[index])].setX(centre.x());
    c[size_t(sameY[index])].setY(centre.y());
    return c;
}

QRectF rectFromCorners(const Corners& c) {
    const double x0 = std::min({c[0].x(), c[1].x(), c[2].x(), c[3].x()});
    const double x1 = std::max({c[0].x(), c[1].x(), c[2].x(), c[3].x()});
    const double y0 = std::min({c[0].y(), c[1].y(), c[2].y(), c[3].y()});
    const double y1 = std::max({c[0].y(), c[1].y(), c[2].y(), c[3].y()});
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

Corners cornersOfRect(const QRectF& r) {
    // y-up: lower edge at r.y(), upper at r.y() + height.
    return {QPointF(r.left(), r.top()), QPointF(r.left() + r.width(), r.top()),
            QPointF(r.left(), r.top() + r.height()), QPointF(r.left() + r.width(), r.top() + r.height())};
}

QRectF cropRectFromField(const QRectF& current, int field, double value, std::optional<double> multiplier,
                         QSizeF container) {
    const double W = container.width(), H = container.height();
    if (!std::isfinite(value) || W <= 0 || H <= 0) return current;
    QRectF r = current;
    const bool ratio = multiplier && std::isfinite(*multiplier) && *multiplier > 0;
    const double m = ratio ? *multiplier : 1.0;
    switch (field) {
    case 0: r.moveLeft(value); break;
    case 1: r.moveTop(value); break;  // y-up: the lower edge
    case 2:
        r.setWidth(std::max(1.0, value));
        if (ratio) r.setHeight(r.width() * m);
        break;
    case 3:
        r.setHeight(std::max(1.0, value));
        if (ratio) r.setWidth(r.height() / m);
        break;
    default: return current;
    }
    // Too large for the container: shrink, keeping the ratio when there is one.
    if (r.width() > W) {
        r.setWidth(W);
        if (ratio) r.setHeight(W * m);
    }
    if (r.height() > H) {
        r.setHeight(H);
        if (ratio) r.setWidth(H / m);
    }
    r.moveLeft(std::clamp(r.left(), 0.0, W - r.width()));
    r.moveTop(std::clamp(r.top(), 0.0, H - r.height()));
    return r;
}
