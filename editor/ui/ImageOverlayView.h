#pragma once
// The picture box over the preview while a logo, custom picture or sticker is placed:
// dragged to move it, its centre kept over the preview. Reports its rectangle in the image
// container's y-up points after every move, and a click that moved nothing. The preview
// itself draws the picture; the box shows its outline, turned like the picture, and the
// picture only while it is being dragged.
#include <QImage>
#include <QRectF>
#include <QWidget>
#include <functional>

class ImageOverlayView : public QWidget {
    Q_OBJECT
public:
    explicit ImageOverlayView(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    QImage picture() const { return picture_; }
    void setOpacityValue(double opacity);
    // The box in y-up container points.
    void setBoxRect(const QRectF& yUp);
    QRectF boxRect() const { return box_; }
    void setFlips(bool horizontal, bool vertical);
    // Degrees, counter-clockwise on the screen, as the output turns the picture.
    void setAngle(double degrees);
    double angle() const { return angle_; }

signals:
    void boxMoved(const QRectF& yUp);
    void singleClicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    QImage picture_;
    QRectF box_{0, 0, 100, 100};
    double opacity_ = 1.0;
    bool flipH_ = false, flipV_ = false;
    double angle_ = 0;
    bool dragging_ = false;
    bool moved_ = false;
    QPointF last_;
};
