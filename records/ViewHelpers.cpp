#include "records/ViewHelpers.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

#include "platform/foundation/Log.h"

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

// The title colour of a button in its enabled states.
void setButtonTextColor(QAbstractButton* button, const QColor& color) {
    QPalette pal = button->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
        pal.setColor(g, QPalette::ButtonText, color);
    button->setPalette(pal);
    button->update();
}

}  // namespace

QColor disabledTextColor() { return QColor::fromRgbF(130 / 255.0, 129 / 255.0, 142 / 255.0, 1.0); }

void disableSubViewsForView(QWidget* view) { walk(view, false); }

void enableSubViewsForView(QWidget* view) { walk(view, true); }

void setButtonTitleFor(QAbstractButton* button, const QString& title, const QColor& color) {
    if (!button) return;
    button->setText(title);
    setButtonTextColor(button, color);
}

void changeButtonTextColor(QAbstractButton* button, const QColor& color) {
    platform::log(u"changeButtonTextColor Start");
    // A checkable button shows its "on" title in the same palette, so one palette change
    // recolours both titles over their whole length.
    if (button) setButtonTextColor(button, color);
    platform::log(u"changeButtonTextColor End");
}

void setTitleForColumnHeader(const QString& title, int index, QAbstractItemView* table) {
    QAbstractItemModel* model = table ? table->model() : nullptr;
    if (!model || index < 0 || index >= model->columnCount()) return;
    model->setHeaderData(index, Qt::Horizontal, title, Qt::DisplayRole);
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
