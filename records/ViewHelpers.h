#pragma once
// Small helpers over widgets shared by the screens: greying out every control under a
// view, coloured button titles and centring a window over another.
#include <QColor>
#include <QString>

class QAbstractButton;
class QAbstractItemView;
class QWidget;

namespace ViewHelpers {

// Walk every descendant depth first, in order: controls are disabled (enabled), text
// fields get grey (white) text, and each is redrawn.
void disableSubViewsForView(QWidget* view);
void enableSubViewsForView(QWidget* view);

// A centred title in the given colour.
void setButtonTitleFor(QAbstractButton* button, const QString& title, const QColor& color);

// Recolours a button's title (both its off and on states), logging its start and end.
void changeButtonTextColor(QAbstractButton* button, const QColor& color);

// Sets the title of the table's column header at index, when the table has that column.
void setTitleForColumnHeader(const QString& title, int index, QAbstractItemView* table);

// Places window, keeping its size, centred over parent, and shows it. A missing window
// or parent counts as an empty frame at the origin.
void setWindow(QWidget* window, QWidget* parent);

// The text colour of a disabled text field.
QColor disabledTextColor();

}  // namespace ViewHelpers
