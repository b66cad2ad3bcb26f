#pragma once
// The loading overlay of the run screen: a dim cover over the whole screen with a
// turning wheel (frames 1 to 55, one every 10 ms, then again from 1) and a text.
// Showing it while it is shown only changes the text; it goes only when hidden.
// Without its backdrop it is a clear cover that only keeps the screen from being used
// (while a tip of the rename view is open); it stays until the backdrop is back.
#include <QWidget>

class QLabel;
class QTimer;

class LoadingOverlay : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrames = 55;

    explicit LoadingOverlay(QWidget* parent);

    // True when this call put the overlay on screen (false: it was shown already, or hidden).
    bool showLoading(bool show, const QString& text);
    bool isLoading() const { return loading_; }
    int loaderCounter() const { return loaderCounter_; }
    QLabel* lblProcessingOnLoader = nullptr;
    // The dim backdrop behind the wheel; a tip shows the cover without it.
    void setBackdropShown(bool shown);
    bool isBackdropShown() const { return backdrop_; }
    // Advances one frame (the timer's tick).
    void performLaoderAnimationWithCounter();

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitAndShow();
    QTimer* timer_ = nullptr;
    int loaderCounter_ = 1;
    bool loading_ = false;
    bool backdrop_ = true;
};
