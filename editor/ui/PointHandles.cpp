#include "editor/ui/PointHandles.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "engine/FilterCustomization.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"

// ---- PointView ----

PointView::PointView(QWidget* parent, bool isForCreateRect) : QWidget(parent), isFOR_CREATE_RECT(isForCreateRect) {
    resize(kSize, kSize);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::OpenHandCursor);
}

void PointView::setPointContainerView(QWidget* container) {
    container_ = container;
    if (container && parentWidget() != container) setParent(container);
}

QPointF PointView::center() const { return centre_; }

void PointView::setCenter(QPointF yUp) {
    // Kept exactly: widget positions are whole pixels, a rectangle's ratio is not.
    centre_ = yUp;
    const QWidget* c = container_ ? container_.data() : parentWidget();
    const QPointF qt = c ? platform::toQtPoint(yUp, c->height()) : yUp;
    move(int(std::lround(qt.x() - width() / 2.0)), int(std::lround(qt.y() - height() / 2.0)));
}

void PointView::pressAt(QPointF pointer) {
    if (!isFOR_CREATE_RECT) {
        pointDrag_.press(pointer);
        return;
    }
    // A fixed crop ratio holds for the whole drag.
    std::optional<double> multiplier;
    const AppDelegate& app = AppDelegate::shared();
    if (app.currentFilterName == QLatin1String("CICrop") && app.selectedCropRatio > 0)
        multiplier = FilterCustomization::sharedInstance().getHeightMultiplierRatioForCropRatio(app.selectedCropRatio);
    int index = -1;
    for (int i = 0; i < thePoints.size(); ++i)
        if (thePoints[i] == this) index = i;
    cornerDrag_ = std::make_unique<CornerDrag>(index, double(width()), multiplier);
    cornerDrag_->press(pointer);
}

void PointView::dragTo(QPointF pointer) {
    if (!container_) return;
    const QRectF bounds(0, 0, container_->width(), container_->height());
    // A pointer outside the container moves nothing.
    if (pointer.x() < 0 || pointer.y() < 0 || pointer.x() > bounds.width() || pointer.y() > bounds.height()) return;
    if (!isFOR_CREATE_RECT) {
        const PointDragStep step = pointDrag_.drag(pointer, bounds);
        if (!step.moved) return;
        post(step.translation);  // observers read the old centre plus the translation
        setCenter(step.newCentre);
        return;
    }
    if (!cornerDrag_ || thePoints.size() != 4) return;
    Corners corners;
    for (int i = 0; i < 4; ++i)
        if (thePoints[i]) corners[size_t(i)] = thePoints[i]->center();
    const CornerDragStep step = cornerDrag_->drag(pointer, corners, bounds);
    if (!step.moved) return;
    setCenter(step.newCentre);
    post(step.translation);
}

void PointView::releaseAt() {
    pointDrag_.release();
    if (cornerDrag_) cornerDrag_->release();
}

QPointF PointView::pointerInContainer(const QPointF& local) const {
    if (!container_) return local;
    return platform::fromQtPoint(mapTo(container_.data(), local), container_->height());
}

void PointView::mousePressEvent(QMouseEvent* e) {
    pressAt(pointerInContainer(e->position()));
    e->accept();
}

void PointView::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) dragTo(pointerInContainer(e->position()));
    e->accept();
}

void PointView::mouseReleaseEvent(QMouseEvent* e) {
    releaseAt();
    e->accept();
}

void PointView::post(QPointF translation) {
    platform::NotificationCenter::defaultCenter().postNotification(
        kNotificationPointViewMoved,
        {{QStringLiteral("view"), QVariant::fromValue(quintptr(this))},
         {QStringLiteral("xTransLation"), QString::asprintf("%f", translation.x())},
         {QStringLiteral("yTransLation"), QString::asprintf("%f", translation.y())}});
}

void PointView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF b = rect();
    auto centred = [&](double side) { return QRectF(b.center().x() - side / 2, b.center().y() - side / 2, side, side); };
    QPainterPath path;
    if (isFOR_CREATE_RECT) {
        path.addRect(centred(10));
        p.setPen(Qt::NoPen);
    } else {
        path.addRect(centred(10));
        path.addRoundedRect(centred(10), 5, 5);
        path.addRoundedRect(centred(30), 15, 15);
        p.setPen(QPen(Qt::white, 2));
    }
    p.setBrush(QColor(0, 0, 0, 102));
    p.drawPath(path);
}

PointViewMove PointViewMove::from(const platform::Notification& n) {
    PointViewMove m;
    m.view = reinterpret_cast<const PointView*>(n.userInfo.value(QStringLiteral("view")).value<quintptr>());
    m.translation = QPointF(n.userInfo.value(QStringLiteral("xTransLation")).toString().toDouble(),
                            n.userInfo.value(QStringLiteral("yTransLation")).toString().toDouble());
    return m;
}

// ---- PointHandleButton ----

PointHandleButton::PointHandleButton(QWidget* parent) : PointButton(parent) {
    handle_ = new PointView(nullptr, false);
    handle_->hide();
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        kNotificationPointViewMoved, [this](const platform::Notification& n) { pointViewMoved(n); },
        platform::DeliverOn::PostingThread, this);
}

PointHandleButton::~PointHandleButton() {
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
    delete handle_.data();
}

void PointHandleButton::setPointContainerView(QWidget* container) {
    handle_->setPointContainerView(container);
    handle_->setVisible(state() != 0);
}

void PointHandleButton::setPointCenter(QPointF yUp) { handle_->setCenter(yUp); }

void PointHandleButton::setPointKey(const QString& key) { handle_->pointKey = key; }

void PointHandleButton::setState(int state) {
    PointButton::setState(state);
    if (handle_) {
        handle_->setVisible(state != 0 && handle_->pointContainerView());
        if (state != 0) handle_->raise();
    }
}

void PointHandleButton::pointViewMoved(const platform::Notification& n) {
    const PointViewMove move = PointViewMove::from(n);
    // Other buttons' handles and the crop corners move too; only our own handle counts.
    if (!handle_ || move.view != handle_.data()) return;
    const QWidget* container = handle_->pointContainerView();
    if (!container) return;
    const QPointF newCentre = handle_->center() + move.translation;
    const QRectF bounds(0, 0, container->width(), container->height());
    if (bounds.contains(newCentre) && changed_) changed_(newCentre, handle_->pointKey);
}

// ---- RectShadeView ----

RectShadeView::RectShadeView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
}

void RectShadeView::setRect(const QRectF& yUp, bool shadeOutside) {
    rect_ = yUp;
    shade_ = shadeOutside;
    update();
}

void RectShadeView::paintEvent(QPaintEvent*) {
    if (rect_.isEmpty()) return;
    QPainter p(this);
    const QRectF r = platform::toQtRect(rect_, height());
    if (shade_) {
        QPainterPath outside;
        outside.addRect(QRectF(rect()));
        QPainterPath inside;
        inside.addRect(r);
        p.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 140));
    }
    p.setPen(QPen(Qt::white, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

// ---- RectButton ----

RectButton::RectButton(QWidget* parent) : FourCornersButton(parent) {
    for (int i = 0; i < 4; ++i) {
        corners_[size_t(i)] = new PointView(nullptr, true);
        corners_[size_t(i)]->hide();
    }
    for (auto& c : corners_)
        for (auto& other : corners_) c->thePoints.append(other);
    shade_ = new RectShadeView(nullptr);
    shade_->hide();
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        kNotificationPointViewMoved, [this](const platform::Notification& n) { pointViewMoved(n); },
        platform::DeliverOn::PostingThread, this);
}

RectButton::~RectButton() {
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
    for (auto& c : corners_) delete c.data();
    delete shade_.data();
}

void RectButton::setPointContainerView(QWidget* container) {
    container_ = container;
    if (!container) return;
    shade_->setParent(container);
    shade_->setGeometry(0, 0, container->width(), container->height());
    for (auto& c : corners_) c->setPointContainerView(container);
    setState(state());
}

void RectButton::setTheExtentRect(const QRectF& yUp) {
    const Corners c = cornersOfRect(yUp);
    for (int i = 0; i < 4; ++i) corners_[size_t(i)]->setCenter(c[size_t(i)]);
    redraw();
}

QRectF RectButton::theExtentRect() const {
    Corners c;
    for (int i = 0; i < 4; ++i) c[size_t(i)] = corners_[size_t(i)] ? corners_[size_t(i)]->center() : QPointF();
    return rectFromCorners(c);
}

void RectButton::setState(int state) {
    FourCornersButton::setState(state);
    const bool on = state != 0 && container_;
    for (auto& c : corners_)
        if (c) {
            c->setVisible(on);
            if (on) c->raise();
        }
    if (shade_) {
        shade_->setVisible(on);
        if (on && container_) shade_->setGeometry(0, 0, container_->width(), container_->height());
    }
    redraw();
}

void RectButton::redraw() {
    if (shade_) shade_->setRect(state() ? theExtentRect() : QRectF(), isForCustomFilter_);
}

void RectButton::pointViewMoved(const platform::Notification& n) {
    const PointViewMove move = PointViewMove::from(n);
    int index = -1;
    for (int i = 0; i < 4; ++i)
        if (corners_[size_t(i)] && move.view == corners_[size_t(i)].data()) index = i;
    if (index < 0) return;
    Corners c;
    for (int i = 0; i < 4; ++i) c[size_t(i)] = corners_[size_t(i)]->center();
    c = moveCorner(c, index, c[size_t(index)]);
    for (int i = 0; i < 4; ++i)
        if (i != index) corners_[size_t(i)]->setCenter(c[size_t(i)]);
    redraw();
    if (changed_) changed_(rectFromCorners(c), key_);
}
