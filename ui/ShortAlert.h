#pragma once
// A short alert: a title line, what happened, and its buttons, as a window-modal sheet that
// deletes itself when closed. The title is said once, in the box: the window's title bar
// carries only what the platform puts there (the program's name). The box is as wide as
// its longest line, up to a width that still reads comfortably, so a short message gets a
// small box and a long one wraps instead of running across the screen.
#include <QMessageBox>

// The caller adds the buttons and opens it with open().
QMessageBox* makeShortAlert(QWidget* parent, const QString& objectName, QMessageBox::Icon icon, const QString& title,
                            const QString& message);

// The width the text of a short alert takes, in pixels of `font`: the longest of the
// title and the message's lines, never more than kShortAlertMaxTextWidth.
int shortAlertTextWidth(const QFont& font, const QString& title, const QString& message);
inline constexpr int kShortAlertMaxTextWidth = 460;
