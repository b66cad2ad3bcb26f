#pragma once
// Holds a window at its size for a while (a screen keeps handles over a picture whose box
// must not change) and gives it its own size limits back afterwards.
//
// A maximised or full-screen window is left as it is: the window manager already holds it,
// and a fixed size on it makes some window managers drop the maximised state and place the
// window, still at the screen's size, partly off the screen. A held size never exceeds the
// screen's available area.
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <optional>

class WindowSizeHold {
public:
    struct WindowFacts {
        QSize size;             // the window's own area
        QMargins frame;         // what the window manager adds around it
        Qt::WindowStates state;
        QRect available;        // the screen's area less panels and docks
    };
    // The size to fix the window at; none when the window is to be left as it is.
    static std::optional<QSize> heldSize(const WindowFacts& window);

    // Holds `window` (a second hold keeps the limits of the first); release() gives them back.
    void hold(QWidget* window);
    void release();
    // True between hold() and release(), whether or not the window needed fixing.
    bool isHolding() const { return holding_; }

private:
    QPointer<QWidget> window_;
    QSize minimum_, maximum_;
    bool holding_ = false;
    bool fixed_ = false;
};
