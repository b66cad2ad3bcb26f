#include "import/ListSelection.h"

#include <algorithm>

namespace listselection {

Click clickKind(bool onCheckColumn, Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::ShiftModifier) return Click::Extend;
    if (onCheckColumn || (modifiers & (Qt::ControlModifier | Qt::MetaModifier))) return Click::Toggle;
    return Click::Replace;
}

QList<int> afterClick(const QList<int>& checked, int row, Click kind, int anchor) {
    QList<int> rows;
    switch (kind) {
    case Click::Replace: rows = {row}; break;
    case Click::Toggle:
        rows = checked;
        if (rows.contains(row)) rows.removeAll(row);
        else rows.append(row);
        break;
    case Click::Extend: {
        rows = checked;
        const int from = anchor < 0 ? row : anchor;
        for (int r = std::min(from, row); r <= std::max(from, row); ++r)
            if (!rows.contains(r)) rows.append(r);
        break;
    }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QList<int> allRows(int count) {
    QList<int> rows;
    rows.reserve(count);
    for (int r = 0; r < count; ++r) rows.append(r);
    return rows;
}

}  // namespace listselection
