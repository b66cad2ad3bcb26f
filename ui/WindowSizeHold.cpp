#include "ui/WindowSizeHold.h"

#include <QScreen>

std::optional<QSize> WindowSizeHold::heldSize(const WindowFacts& w) {
    if (w.state & (Qt::WindowMaximized | Qt::WindowFullScreen)) return std::nullopt;
    if (w.available.isEmpty()) return w.size;
    const QSize room = w.available.size().shrunkBy(w.frame);
    return w.size.boundedTo(room.expandedTo(QSize(1, 1)));
}

void WindowSizeHold::hold(QWidget* window) {
    if (holding_ || !window) return;
    holding_ = true;
    window_ = window;
    const QScreen* screen = window->screen();
    const QRect outer = window->frameGeometry(), inner = window->geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    const auto size = heldSize({window->size(), frame, window->windowState(),
                                screen ? screen->availableGeometry() : QRect()});
    fixed_ = size.has_value();
    if (!fixed_) return;
    minimum_ = window->minimumSize();
    maximum_ = window->maximumSize();
    window->setFixedSize(*size);
}

void WindowSizeHold::release() {
    if (!holding_) return;
    holding_ = false;
    if (fixed_ && window_) {
        window_->setMinimumSize(minimum_);
        window_->setMaximumSize(maximum_);
    }
    fixed_ = false;
    window_.clear();
}
