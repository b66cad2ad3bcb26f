#include "editor/ui/EffectLists.h"

#include <QListView>

QString effectListStyle() {
    return QStringLiteral(
        "QListView, QTableView { background: rgb(33,33,36); color: white; border: 1px solid transparent; outline: none; } "
        "QListView:focus, QTableView:focus { border-color: #1ab999; }");
}

QListView* makeEffectList(QWidget* parent, const QString& name) {
    auto* list = new QListView(parent);
    list->setObjectName(name);
    list->setStyleSheet(effectListStyle());
    list->setUniformItemSizes(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    return list;
}
