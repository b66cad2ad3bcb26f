#pragma once
// What the keyboard does where Qt's widgets leave it out: Return and Enter press the
// button that has the keyboard, as Space does, in the main window as in its dialogs; and a
// pop-up option list takes the keyboard while it is open and gives it back when it closes.
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

}  // namespace keyboard
