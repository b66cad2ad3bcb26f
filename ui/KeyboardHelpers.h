#pragma once
// What the keyboard does where Qt's widgets leave it out: Return and Enter press the
// button that has the keyboard, as Space does, in the main window as in its dialogs; a
// pop-up option list takes the keyboard while it is open and gives it back when it closes;
// a control whose own look does not show the keyboard gets a ring; and the keyboard goes
// where the user works next when the controls that had it go away.
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QAbstractItemView;
class QModelIndex;
class QWidget;

namespace keyboard {

// Return and Enter on a focused push or tool button press it. Installed once on the
// application; every later call does nothing.
void pressButtonsWithReturn();

// A list whose rows are chosen by a click, or by Return or Enter on the row the arrows
// reached: both call `choose` with the row's index.
void chooseByClickOrReturn(QAbstractItemView* list, std::function<void(const QModelIndex&)> choose);

// The keyboard of a pop-up option list: once shown it has the keyboard, with `currentRow`
// (the entry chosen before, when there is one) current; the arrows move through the rows,
// Return or Enter chooses the current row and a click chooses the row clicked, each
// through `choose`. When the list goes, the keyboard goes back to `opener`.
void driveOptionList(QAbstractItemView* list, QWidget* opener, int currentRow, std::function<void(int row)> choose);

// A ring drawn over the edge of `control` while it has the keyboard, for controls whose
// look shows nothing of it (sliders, picture buttons, a button drawn as the default one).
void showFocusRing(QWidget* control);

// Runs `change`; when the keyboard was in `area` before it and `change` took it from there
// (hid the area or the control that had it), the keyboard goes to what `next` answers,
// when that can take it, rather than to whatever Qt's chain reaches first.
void keepKeyboardNear(QWidget* area, const std::function<void()>& change, const std::function<QWidget*()>& next);

// The first control of `area` in reading order (top to bottom, then left to right) that Tab
// could stop at, leaving out `skipped` and what lies inside them; null when there is none.
QWidget* firstControlIn(QWidget* area, const QList<QWidget*>& skipped = {});

}  // namespace keyboard
