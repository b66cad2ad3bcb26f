#pragma once
// The checked rows of the add-photos list as a user's clicks change them, the way lists
// of the desktop do: a click on a row makes it the only one, Ctrl toggles it, Shift
// extends from the last clicked row, and the check column's box toggles its own row.
#include <QList>
#include <Qt>

namespace listselection {

enum class Click { Replace, Toggle, Extend };

Click clickKind(bool onCheckColumn, Qt::KeyboardModifiers modifiers);

// The checked rows after a click on `row` (ascending, no repeats). `anchor` is the row of
// the last click that was no extension, or -1.
QList<int> afterClick(const QList<int>& checked, int row, Click kind, int anchor);

// Every row of a batch of `count` photos.
QList<int> allRows(int count);

}  // namespace listselection
