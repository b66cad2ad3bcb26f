#include "records/ViewHelpers.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

namespace ViewHelpers {

namespace {

void setTextColor(QWidget* w, const QColor& color) {
    QPalette pal = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(g, QPalette::Text, color);
        pal.setColor(g, QPalette::WindowText, color);
    }
    w->setPalette(pal);
}

void walk(QWidget* view, bool enabled) {
    if (!view) return;
    const QColor textColor = enabled ? QColor(Qt::white) : disabledTextColor();
    const QObjectList children = view->children();
    for (QObject* child : children) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow()) continue;
        w->setEnabled(enabled);
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QLabel*>(w)) setTextColor(w, textColor);
        walk(w, enabled);
        w->update();
    }
}

}  // namespace

QColor disabledTextColor() { return QColor::fromRgbF(130 / 255.0, 129 / 255.0, 142 / 255.0, 1.0); }

void disableSubViewsForView(QWidget* view) { walk(view, false); }

void enableSubViewsForView(QWidget* view) { walk(view, true); }

void setButtonTitleFor(QAbstractButton* button, const QString& title, const QColor& color) {
    if (!button) return;
    button->setText(title);
    QPalette pal = button->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
        pal.setColor(g, QPalette::ButtonText, color);
    button->setPalette(pal);
    button->update();
}

void setWindow(QWidget* window, QWidget* parent) {
    if (!window) return;
    const QRect p = parent ? parent->geometry() : QRect();
    const QSize size = window->size();
    // Centring is symmetric, so it reads the same with the y axis up or down.
    window->move(p.x() + (p.width() - size.width()) / 2, p.y() + (p.height() - size.height()) / 2);
    window->update();
    window->show();
}

}  // namespace ViewHelpers
