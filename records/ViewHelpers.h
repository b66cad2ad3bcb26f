#pragma once
// Small helpers over widgets shared by the screens: greying out every control under a
// view, coloured button titles and centring a window over another.
#include <QColor>
#include <QString>

class QAbstractButton;
class QWidget;

namespace ViewHelpers {

// Walk every descendant depth first, in order: controls are disabled (enabled), text
// fields get grey (white) text, and each is redrawn.
void disableSubViewsForView(QWidget* view);
void enableSubViewsForView(QWidget* view);

// A centred title in the given colour.
void setButtonTitleFor(QAbstractButton* button, const QString& title, const QColor& color);

// Places window, keeping its size, centred over parent, and shows it. A missing window
// or parent counts as an empty frame at the origin.
void setWindow(QWidget* window, QWidget* parent);

// The text colour of a disabled text field.
QColor disabledTextColor();

}  // namespace ViewHelpers
