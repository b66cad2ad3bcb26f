#pragma once
// The drop area (the screen's drop box): takes dropped files and folders as
// text/uri-list and posts them as "FileDragDropNotification"; draws a dashed frame with a
// pulsing ring while the batch is empty.
#include <QWidget>

class QMimeData;

namespace platform {
class NotificationCenter;
}

class DropArea : public QWidget {
    Q_OBJECT
public:
    DropArea(platform::NotificationCenter& center, QWidget* parent = nullptr);
    void setAnimationFrame(int frame) { frame_ = frame; update(); }
    int animationFrame() const { return frame_; }
    // The animated ring: where it is drawn, and its largest radius.
    QPointF ringCentre() const { return QPointF(width() / 2.0, height() * 0.40); }
    static constexpr double kLargestRingRadius = 18 + 19 * 1.6;
    // What a drop does with its data (also reachable without a drag): posts the paths,
    // or reports a paste error. Returns whether the drop was taken.
    bool performDragOperation(const QMimeData* mime);
signals:
    void pasteFailed();

protected:
    void dragEnterEvent(QDragEnterEvent*) override;
    void dragLeaveEvent(QDragLeaveEvent*) override;
    void dropEvent(QDropEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    platform::NotificationCenter& center_;
    int frame_ = 1;
    bool hovering_ = false;
};
