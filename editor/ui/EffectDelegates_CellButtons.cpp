// The buttons drawn inside the category and batch-step rows: each reports its row.
#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

#include "editor/ui/EffectDelegates.h"
#include "editor/ui/EffectTableModels.h"

void CategoryDelegate::btnDeleteOncelltapped(int row) { emit deleteClicked(row); }

QString CategoryDelegate::deleteButtonToolTip() { return QStringLiteral("click to delete this favorite"); }

bool CategoryDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) {
    auto* m = qobject_cast<const CategoryTableModel*>(index.model());
    const bool deletable = m && m->favouriteAt(index.row()) && index.data(EffectRoles::IsSelected).toBool();
    if (event && deletable && deleteButtonRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), deleteButtonToolTip(), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

void StepDelegate::btnApplyOncelltapped(int row) { emit buttonClicked(row, Apply); }
void StepDelegate::btnRemoveOncelltapped(int row) { emit buttonClicked(row, Remove); }
void StepDelegate::btnEditFilterOncelltapped(int row) { emit buttonClicked(row, Edit); }
void StepDelegate::btnMoveUpOnCellTapped(int row) { emit buttonClicked(row, MoveUp); }
void StepDelegate::btnMoveDownOnCellTapped(int row) { emit buttonClicked(row, MoveDown); }

void StepDelegate::cellButtonTapped(int row, Button button) {
    switch (button) {
    case Apply: btnApplyOncelltapped(row); break;
    case Edit: btnEditFilterOncelltapped(row); break;
    case MoveUp: btnMoveUpOnCellTapped(row); break;
    case MoveDown: btnMoveDownOnCellTapped(row); break;
    case Remove: btnRemoveOncelltapped(row); break;
    default: break;
    }
}
