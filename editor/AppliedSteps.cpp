#include "editor/AppliedSteps.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>

namespace AppliedSteps {

int indexOfResize(const StepList& steps) {
    for (int i = 0; i < steps.size(); ++i)
        if (steps[i] && steps[i]->filterName == QLatin1String("Resize")) return i;
    return -1;
}

int commit(StepList& steps, const std::shared_ptr<AppliedFilter>& step, int editIndex) {
    if (!step) return -1;
    if (editIndex >= 0 && editIndex < steps.size()) {
        steps[editIndex] = step;
        return editIndex;
    }
    if (step->filterName == QLatin1String("Resize")) {
        const int existing = indexOfResize(steps);
        if (existing >= 0) {
            steps[existing] = step;
            return existing;
        }
    }
    steps.append(step);
    return int(steps.size()) - 1;
}

bool toggle(StepList& steps, int row) {
    if (row < 0 || row >= steps.size() || !steps[row]) return false;
    steps[row]->isApplied = !steps[row]->isApplied;
    return true;
}

bool remove(StepList& steps, int row) {
    if (row < 0 || row >= steps.size()) return false;
    steps.removeAt(row);
    return true;
}

bool moveUp(StepList& steps, int row) {
    if (row <= 0 || row >= steps.size()) return false;
    steps.swapItemsAt(row, row - 1);
    return true;
}

bool moveDown(StepList& steps, int row) {
    if (row < 0 || row + 1 >= steps.size()) return false;
    steps.swapItemsAt(row, row + 1);
    return true;
}

QList<int> moveRows(StepList& steps, const QList<int>& rows, int dropRow) {
    QList<int> dragged;
    for (int r : rows)
        if (r >= 0 && r < steps.size() && !dragged.contains(r)) dragged << r;
    if (dragged.isEmpty()) return {};
    std::sort(dragged.begin(), dragged.end());
    dropRow = std::clamp(dropRow, 0, int(steps.size()));

    StepList moving;
    for (int r : dragged) moving << steps[r];
    // The gap moves up by one for every dragged row above it.
    int insertAt = dropRow;
    for (int r : dragged)
        if (r < dropRow) --insertAt;
    for (int i = int(dragged.size()) - 1; i >= 0; --i) steps.removeAt(dragged[i]);
    QList<int> placed;
    for (int i = 0; i < moving.size(); ++i) {
        steps.insert(insertAt + i, moving[i]);
        placed << insertAt + i;
    }
    return placed;
}

QString draggedRowsMimeType() { return QStringLiteral("application/x-briskophotos-step-rows"); }

QByteArray encodeDraggedRows(const QList<int>& rows, quintptr sourceTag) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint64(sourceTag) << qint32(rows.size());
    for (int r : rows) out << qint32(r);
    return bytes;
}

QList<int> decodeDraggedRows(const QByteArray& bytes, quintptr sourceTag) {
    QDataStream in(bytes);
    quint64 tag = 0;
    qint32 count = 0;
    in >> tag >> count;
    if (in.status() != QDataStream::Ok || tag != quint64(sourceTag) || count < 0 || count > 100000) return {};
    QList<int> rows;
    for (qint32 i = 0; i < count; ++i) {
        qint32 r = -1;
        in >> r;
        if (in.status() != QDataStream::Ok) return {};
        rows << r;
    }
    return rows;
}

}  // namespace AppliedSteps
