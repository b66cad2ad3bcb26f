#pragma once
// Whether the controls of a screen show where the keyboard is: each control Tab can reach is
// given the keyboard as Tab gives it, and the window's picture around the control (a ring
// may stand just outside it) must change clearly from its picture without the keyboard.
#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QStringList>
#include <QTest>
#include <QThreadPool>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

namespace testsupport {

inline void settleFocus() {
    QThreadPool::globalInstance()->waitForDone();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Pixels that clearly changed between two pictures (a channel by more than a quarter of its
// range): a faint tint does not count as showing where the keyboard is.
inline int clearlyChangedPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return a.width() * a.height();
    int changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            if (d > 64) ++changed;
        }
    return changed;
}

inline QString controlName(const QWidget* w) {
    QString name = w->objectName();
    for (const QWidget* p = w->parentWidget(); name.isEmpty() && p; p = p->parentWidget())
        if (!p->objectName().isEmpty()) name = u'<' + p->objectName();
    return name + u'(' + QString::fromLatin1(w->metaObject()->className()) + u')';
}

// True when Tab can stop at the control as the screen stands now.
inline bool isTabStop(const QWidget* w) {
    return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy();
}

// Empty when the control clearly shows that it has the keyboard; otherwise why not.
inline QString focusIndicationProblem(QWidget* w) {
    QWidget* window = w->window();
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window)) return controlName(w) + QStringLiteral(" (its window never became active)");
    }
    const QRect around(w->mapTo(window, QPoint(0, 0)) - QPoint(3, 3), w->size() + QSize(6, 6));
    window->setFocus(Qt::OtherFocusReason);
    settleFocus();
    const QImage without = window->grab(around).toImage();
    // As a Tab press gives it: styles draw some rings only once the keyboard moved.
    window->setAttribute(Qt::WA_KeyboardFocusChange);
    w->setFocus(Qt::TabFocusReason);
    settleFocus();
    if (!w->hasFocus()) return controlName(w) + QStringLiteral(" (does not take the keyboard)");
    const int needed = std::max(8, (w->width() + w->height()) / 4);
    const int changed = clearlyChangedPixels(window->grab(around).toImage(), without);
    return changed >= needed ? QString() : controlName(w) + QStringLiteral(" (%1 pixels)").arg(changed);
}

// The controls under `root` that Tab can reach and that do not clearly show the keyboard.
inline QStringList controlsWithoutFocusRing(QWidget* root) {
    QStringList missing;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!isTabStop(w) || w->window() != root->window()) continue;
        const QString problem = focusIndicationProblem(w);
        if (!problem.isEmpty()) missing << problem;
    }
    return missing;
}

}  // namespace testsupport
