#pragma once
// The batch's ordered effect steps as the effects screen changes them: commit the adjusted
// effect, switch, remove, move up and down, and move rows by drag. Plain list operations on
// the application's step list; the screen redraws afterwards.
#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

#include "records/AppliedFilter.h"

namespace AppliedSteps {

using StepList = QList<std::shared_ptr<AppliedFilter>>;

// Puts a finished step into the list and returns its index. In edit mode (editIndex inside
// the list) the edited step is replaced in its place. A "Resize" step is kept once: a second
// one replaces the first instead of adding another.
int commit(StepList& steps, const std::shared_ptr<AppliedFilter>& step, int editIndex);

// Index of the batch's "Resize" step, -1 when it has none.
int indexOfResize(const StepList& steps);

// Each returns false and leaves the list alone for a row outside it.
bool toggle(StepList& steps, int row);
bool remove(StepList& steps, int row);
bool moveUp(StepList& steps, int row);
bool moveDown(StepList& steps, int row);

// Moves every dragged row to the drop position: `dropRow` is the gap before that row of the
// list as it was before the drag (the list's size drops after the last row). Dragged rows
// keep their order; rows outside the list or repeated are ignored. Returns the new rows of
// the moved steps, empty when nothing moved.
QList<int> moveRows(StepList& steps, const QList<int>& rows, int dropRow);

// The dragged rows as the step table writes them for a drag, tagged with the list they
// came from, and read back; `sourceTag` of a different list (or bytes that are not ours)
// reads as no rows, so only the list's own rows can be dropped on it.
QByteArray encodeDraggedRows(const QList<int>& rows, quintptr sourceTag);
QList<int> decodeDraggedRows(const QByteArray& bytes, quintptr sourceTag);
// The mime type the step table drags with.
QString draggedRowsMimeType();

}  // namespace AppliedSteps
