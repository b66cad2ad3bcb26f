#include "editor/ui/EffectLists.h"

#include <QListView>

namespace {

// The category list has rows that are no choice (its headers); the arrows pass over them, but
// Home, End and the page keys name a row by its place and Qt leaves the keyboard where it was
// when that row is no choice. Those keys go on to the nearest choice instead: inwards from
// the end Home or End names (that end, header and all, comes into sight), onwards in the page
// key's direction.
class EffectListView : public QListView {
public:
    using QListView::QListView;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        const QModelIndex to = QListView::moveCursor(action, modifiers);
        if (!to.isValid() || (to.flags() & Qt::ItemIsEnabled)) return to;
        if (action == MoveHome) scrollToTop();
        if (action == MoveEnd) scrollToBottom();
        const int onwards = action == MoveEnd || action == MovePageUp ? -1 : 1;
        for (const int step : {onwards, -onwards})
            for (int row = to.row() + step; row >= 0 && row < model()->rowCount(rootIndex()); row += step) {
                const QModelIndex choice = model()->index(row, modelColumn(), rootIndex());
                if (!isRowHidden(row) && (choice.flags() & Qt::ItemIsEnabled)) return choice;
            }
        return currentIndex();
    }
};

}  // namespace

QString effectListStyle() {
    return QStringLiteral(
        "QListView, QTableView { background: rgb(33,33,36); color: white; border: 1px solid transparent; outline: none; } "
        "QListView:focus, QTableView:focus { border-color: #1ab999; }");
}

QListView* makeEffectList(QWidget* parent, const QString& name) {
    auto* list = new EffectListView(parent);
    list->setObjectName(name);
    list->setStyleSheet(effectListStyle());
    list->setUniformItemSizes(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    return list;
}
