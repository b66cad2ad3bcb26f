#pragma once
// A borderless pop-up that holds a view beside a point of the main window, with an arrow
// pointing at the point. It lives inside the main window as a child on top of the
// screens; a press anywhere outside it closes it and still goes where it was aimed.
//
// Side codes: 0 left of the point, 1 below, 2 right, 3 above; 4/5 left with the window
// running up/down from the point, 6/7 right up/down, 8/9 above running left/right,
// 10/11 below running left/right; 12 picks the side with the most room when made.
// Points and frames are in the main window's widget coordinates (y down).
#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QWidget>

struct AttachedWindowStyle {
    double borderWidth = 2;
    double viewMargin = 2;
    double arrowBaseWidth = 20;
    double arrowHeight = 16;
    double cornerRadius = 8;
    bool hasArrow = true;
};

struct AttachedPlacement {
    QRectF frame;          // in the parent's coordinates
    int side = 1;          // the side used, 0..11 (12 resolved)
    int edge = 1;          // which edge carries the arrow: 0 right edge (window left of point), 1 top, 2 left, 3 bottom
    QPointF arrowTip;      // in the window's own coordinates
    double cornerRadius = 0;  // the radius that fits
};

// Where the window goes; pure geometry, no widget needed.
AttachedPlacement placeAttachedWindow(QSizeF viewSize, QPointF point, QRectF bounds, int side, double distance,
                                      const AttachedWindowStyle& style);
// The largest radius the frame and the arrow leave room for.
double maximumCornerRadius(QSizeF frameSize, int edge, const AttachedWindowStyle& style);

class AttachedWindow : public QWidget {
    Q_OBJECT
public:
    // `window` may be any widget of the main window; its top-level window becomes the parent.
    AttachedWindow(QWidget* view, QPoint point, QWidget* window, int side, float distance);
    ~AttachedWindow() override;

    // A first-use tip: the tips' green edge on the pop-ups' dark grey, closed only through
    // its own buttons, deleted once closed. Not yet shown, so the caller can order it
    // with what it shows around it.
    static AttachedWindow* createTip(QWidget* view, QPoint point, QWidget* window, int side, float cornerRadius = 5);
    // The look of what a pop-up holds on its dark grey: light words, dark buttons that show
    // the pointer over them and a clear ring while they have the keyboard.
    static QString contentStyleSheet();

    void setBorderColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setHasArrow(float hasArrow);
    void setCornerRadius(float radius);
    void setBorderWidth(float width);
    QColor borderColor() const { return borderColor_; }
    QColor backgroundColor() const { return backgroundColor_; }
    bool hasArrow() const { return style_.hasArrow; }
    double cornerRadius() const { return placement_.cornerRadius; }
    int side() const { return placement_.side; }
    QPoint attachedPoint() const { return point_; }
    QWidget* view() const { return view_; }
    const AttachedPlacement& placement() const { return placement_; }

    // On by default; pop-ups that close only through their own buttons turn it off.
    void setClosesOnOutsidePress(bool on) { closesOnOutsidePress_ = on; }
    // Hides the pop-up and reports `closed`; the owner decides when to delete it.
    void closePopup();

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent*) override;

private:
    void place();
    QPainterPath outline() const;

    QPointer<QWidget> view_;
    QPoint point_;
    int requestedSide_;
    double distance_;
    AttachedWindowStyle style_;
    AttachedPlacement placement_;
    QColor borderColor_ = Qt::white;
    QColor backgroundColor_ = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f);
    bool closesOnOutsidePress_ = true;
};
