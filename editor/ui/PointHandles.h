#pragma once
// The handles dragged over the preview and the buttons that own them: a point handle
// (PointView in point mode) owned by a PointHandleButton, and four corner handles owned by a
// RectButton, which also shades the photo outside a crop rectangle. Handles live in the
// preview's image container; everything they report is y-up in its points.
//
// Every move is announced with "NotificationPointViewMoved" (user info "view": the handle,
// "xTransLation" / "yTransLation": "%f" texts of the translation); an owner reacts only to
// its own handles.
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "editor/HandleDrag.h"
#include "platform/foundation/NotificationCenter.h"
#include "ui/LabeledToggleButton.h"

inline const QString kNotificationPointViewMoved = QStringLiteral("NotificationPointViewMoved");

class PointView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSize = 50;
    // Point mode, or corner mode (isForCreateRect) for a rectangle's corner.
    explicit PointView(QWidget* parent = nullptr, bool isForCreateRect = false);

    QString pointKey;
    bool isFOR_CREATE_RECT = false;
    // Corner mode: the four corners, so a corner can find its neighbours (not owned).
    QList<QPointer<PointView>> thePoints;

    void setPointContainerView(QWidget* container);
    QWidget* pointContainerView() const { return container_; }
    // Centre in the container, y up.
    QPointF center() const;
    void setCenter(QPointF yUp);

    // The drag as the mouse events drive it, with pointer positions y-up in the container;
    // tests call these directly.
    void pressAt(QPointF pointer);
    void dragTo(QPointF pointer);
    void releaseAt();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    QPointF pointerInContainer(const QPointF& local) const;
    void post(QPointF translation);

    QPointer<QWidget> container_;
    QPointF centre_;
    PointDrag pointDrag_;
    std::unique_ptr<CornerDrag> cornerDrag_;
};

// The user info of a move, read back.
struct PointViewMove {
    const PointView* view = nullptr;
    QPointF translation;
    static PointViewMove from(const platform::Notification& n);
};

// A point button of the parameter column with its point handle.
class PointHandleButton : public PointButton {
    Q_OBJECT
public:
    using PointChanged = std::function<void(QPointF point, const QString& key)>;
    explicit PointHandleButton(QWidget* parent = nullptr);
    ~PointHandleButton() override;

    PointView* handle() const { return handle_.data(); }
    void setPointContainerView(QWidget* container);
    void setPointCenter(QPointF yUp);
    void setPointKey(const QString& key);
    QString pointKey() const { return handle_->pointKey; }
    // On shows the handle, off hides it.
    void setState(int state) override;
    void setThePointChangedBlock(PointChanged block) { changed_ = std::move(block); }

private:
    void pointViewMoved(const platform::Notification& n);
    QPointer<PointView> handle_;
    PointChanged changed_;
    platform::NotificationCenter::Token token_ = 0;
};

// Draws a rectangle over the preview: for the crop, the photo outside it is shaded.
class RectShadeView : public QWidget {
    Q_OBJECT
public:
    explicit RectShadeView(QWidget* parent = nullptr);
    void setRect(const QRectF& yUp, bool shadeOutside);
    QRectF shownRect() const { return rect_; }
    bool shadesOutside() const { return shade_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QRectF rect_;
    bool shade_ = false;
};

// The crop (or extent) rectangle button with its four corner handles.
class RectButton : public FourCornersButton {
    Q_OBJECT
public:
    using RectChanged = std::function<void(const QRectF& yUp, const QString& key)>;
    explicit RectButton(QWidget* parent = nullptr);
    ~RectButton() override;

    void setIsForCustomFilter(bool crop) { isForCustomFilter_ = crop; }
    bool isForCustomFilter() const { return isForCustomFilter_; }
    void setPointContainerView(QWidget* container);
    // The rectangle, y-up in the container: corner 0 lower-left … 3 upper-right.
    void setTheExtentRect(const QRectF& yUp);
    QRectF theExtentRect() const;
    void setTheKey(const QString& key) { key_ = key; }
    QString theKey() const { return key_; }
    void setState(int state) override;
    void setTheRectChangedBlock(RectChanged block) { changed_ = std::move(block); }
    PointView* corner(int i) const { return corners_[size_t(i)].data(); }
    RectShadeView* shadeView() const { return shade_.data(); }

    // The four corner handles: 0 and 2 left, 1 and 3 right, 0 and 1 lower (y up).
    QList<PointView*> thePoints() const;
    // Key i belongs to handle i, for as many keys as there are (at most four are used).
    void setPointKeys(const QStringList& keys);
    QStringList pointKeys() const { return pointKeys_; }
    // A handle's centre with y measured downwards from the container's top, and the move
    // of a handle to such a centre (size unchanged).
    QPointF centerForPointAtIndex(int index) const;
    void setCenter(QPointF yDown, int index);

private:
    void pointViewMoved(const platform::Notification& n);
    void redraw();
    std::array<QPointer<PointView>, 4> corners_{};
    QStringList pointKeys_;
    QPointer<QWidget> container_;
    QPointer<RectShadeView> shade_;
    bool isForCustomFilter_ = false;
    QString key_;
    RectChanged changed_;
    platform::NotificationCenter::Token token_ = 0;
};
