#include "editor/ui/EffectTableModels.h"

#include <QMimeData>

#include "engine/FilterCustomization.h"

namespace {
QString shortFilterName(const QString& displayName) {
    return FilterCustomization::sharedInstance().getCustomDisplayNameForFilter(displayName);
}
}  // namespace

// ---- categories ----

void CategoryTableModel::setSources(const FavList& favourites, const QList<Category>& rename,
                                    const QList<Record>& basic, const QList<Category>& fx) {
    beginResetModel();
    favs_ = favourites;
    rename_ = rename;
    basic_ = basic;
    fx_ = fx;
    endResetModel();
}

void CategoryTableModel::setSelectedCategoryIndex(int row) {
    selected_ = row;
    // Heights and markers of every row may change; the rows stay, and so does the row the
    // keyboard is on.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

std::shared_ptr<FavouriteBatch> CategoryTableModel::favouriteAt(int row) const {
    const CategoryRows r = rows();
    return r.groupOf(row) == CategoryRows::Group::Favourite ? favs_.value(r.indexInGroup(row)) : nullptr;
}
CategoryTableModel::Category CategoryTableModel::renameCategoryAt(int row) const {
    const CategoryRows r = rows();
    return r.groupOf(row) == CategoryRows::Group::Rename ? rename_.value(r.indexInGroup(row)) : nullptr;
}
CategoryTableModel::Record CategoryTableModel::basicAt(int row) const {
    const CategoryRows r = rows();
    return r.groupOf(row) == CategoryRows::Group::Basic ? basic_.value(r.indexInGroup(row)) : nullptr;
}
CategoryTableModel::Category CategoryTableModel::fxCategoryAt(int row) const {
    const CategoryRows r = rows();
    return r.groupOf(row) == CategoryRows::Group::Fx ? fx_.value(r.indexInGroup(row)) : nullptr;
}

int CategoryTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows().count(); }

Qt::ItemFlags CategoryTableModel::flags(const QModelIndex& index) const {
    // A header is no choice: the arrows pass over it.
    if (rows().isHeader(index.row())) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant CategoryTableModel::data(const QModelIndex& index, int role) const {
    const int row = index.row();
    const CategoryRows r = rows();
    if (!index.isValid() || row >= r.count()) return {};
    const bool header = r.isHeader(row);
    switch (role) {
    case EffectRoles::IsHeader: return header;
    case EffectRoles::IsSelected: return row == selected_;
    case Qt::SizeHintRole: return QSize(200, r.heightOfRow(row, selected_));
    case Qt::DisplayRole: break;
    case EffectRoles::IconName: {
        if (header) return {};
        if (r.groupOf(row) == CategoryRows::Group::Favourite) return EffectTables::menuIconName("Favorites");
        return EffectTables::menuIconName(data(index, Qt::DisplayRole).toString());
    }
    default: return {};
    }
    if (header) return r.headerTitle(row);
    switch (r.groupOf(row)) {
    case CategoryRows::Group::Favourite: return favouriteAt(row) ? favouriteAt(row)->name : QString();
    case CategoryRows::Group::Rename: return renameCategoryAt(row) ? renameCategoryAt(row)->categoryDisplayName : QString();
    case CategoryRows::Group::Basic: return basicAt(row) ? basicAt(row)->filterDisplayName : QString();
    case CategoryRows::Group::Fx:
        return fxCategoryAt(row) ? FilterCustomization::sharedInstance().getCustomDisplayNameForCategory(
                                       fxCategoryAt(row)->categoryDisplayName)
                                 : QString();
    case CategoryRows::Group::None: break;
    }
    return {};
}

// ---- effects ----

void EffectTableModel::setRecords(const QList<std::shared_ptr<FilterRecord>>& records) {
    beginResetModel();
    records_ = records;
    selected_ = -1;
    endResetModel();
}

std::shared_ptr<FilterRecord> EffectTableModel::recordAt(int row) const { return records_.value(row); }

void EffectTableModel::setSelectedFilterIndex(int row) {
    selected_ = row;
    if (!records_.isEmpty()) emit dataChanged(index(0), index(int(records_.size()) - 1));
}

int EffectTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(records_.size()); }

QVariant EffectTableModel::data(const QModelIndex& index, int role) const {
    const auto rec = recordAt(index.row());
    if (!rec) return {};
    switch (role) {
    case Qt::DisplayRole: return shortFilterName(rec->filterDisplayName);
    case EffectRoles::IconName: return QStringLiteral("%1.png").arg(rec->filterDisplayName);
    case EffectRoles::IsSelected: return index.row() == selected_;
    case Qt::SizeHintRole: return QSize(200, int(cellHeight_));
    default: return {};
    }
}

// ---- batch steps ----

void AppliedStepsModel::reload() {
    beginResetModel();
    if (editedRow_ >= rowCount()) editedRow_ = -1;
    endResetModel();
}

void AppliedStepsModel::setEditedRow(int row) {
    editedRow_ = row;
    reload();
}

int AppliedStepsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !steps_ ? 0 : int(steps_->size());
}

Qt::ItemFlags AppliedStepsModel::flags(const QModelIndex& index) const {
    // Only gaps between rows take drops, never a row itself, so a drop never nests.
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QVariant AppliedStepsModel::data(const QModelIndex& index, int role) const {
    if (!steps_ || index.row() < 0 || index.row() >= steps_->size()) return {};
    const auto& s = steps_->at(index.row());
    if (!s) return {};
    const auto buttons = EffectTables::moveButtonsForRow(index.row(), int(steps_->size()));
    switch (role) {
    case Qt::DisplayRole: return shortFilterName(s->filterDisplayName);
    case EffectRoles::IsApplied: return s->isApplied;
    case EffectRoles::IsEdited: return index.row() == editedRow_;
    case EffectRoles::Thumbnail: return s->filterAppliedImage;
    case EffectRoles::CanMoveUp: return buttons.upEnabled;
    case EffectRoles::CanMoveDown: return buttons.downEnabled;
    case EffectRoles::IconName: return EffectTables::applyButtonImage(s->isApplied);
    case Qt::SizeHintRole: return QSize(240, EffectTables::stepRowHeight(listForm_));
    case Qt::ToolTipRole: {
        // The step's name and, where it has one, the summary of its settings.
        const QString summary = FilterCustomization::sharedInstance().getSavedKeyValueForFavoriteFilter(*s);
        return summary.isEmpty() ? s->filterDisplayName : s->filterDisplayName + QLatin1Char('\n') + summary;
    }
    default: return {};
    }
}

QStringList AppliedStepsModel::mimeTypes() const { return {AppliedSteps::draggedRowsMimeType()}; }

QMimeData* AppliedStepsModel::mimeData(const QModelIndexList& indexes) const {
    QList<int> rows;
    for (const QModelIndex& i : indexes)
        if (i.isValid() && !rows.contains(i.row())) rows << i.row();
    auto* mime = new QMimeData;
    mime->setData(AppliedSteps::draggedRowsMimeType(), AppliedSteps::encodeDraggedRows(rows, quintptr(this)));
    return mime;
}

int AppliedStepsModel::dropRowFor(int row, const QModelIndex& parent) const {
    // Dropped onto a row: the gap before it; below the last row: the end.
    if (row >= 0) return row;
    if (parent.isValid()) return parent.row();
    return rowCount();
}

bool AppliedStepsModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                        const QModelIndex&) const {
    if (!data || action != Qt::MoveAction) return false;
    return !AppliedSteps::decodeDraggedRows(data->data(AppliedSteps::draggedRowsMimeType()), quintptr(this)).isEmpty();
}

bool AppliedStepsModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                     const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent) || !steps_) return false;
    const QList<int> rows =
        AppliedSteps::decodeDraggedRows(data->data(AppliedSteps::draggedRowsMimeType()), quintptr(this));
    beginResetModel();
    const QList<int> placed = AppliedSteps::moveRows(*steps_, rows, dropRowFor(row, parent));
    editedRow_ = -1;
    endResetModel();
    if (placed.isEmpty()) return false;
    emit stepsDropped(placed);
    return true;
}

// ---- favourite details ----

void FavouriteDetailsModel::setFavourite(const std::shared_ptr<FavouriteBatch>& favourite) {
    beginResetModel();
    fav_ = favourite;
    endResetModel();
}

void FavouriteDetailsModel::reload() {
    beginResetModel();
    endResetModel();
}

int FavouriteDetailsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !fav_ ? 0 : int(fav_->filtersArray.size());
}

QVariant FavouriteDetailsModel::data(const QModelIndex& index, int role) const {
    if (!fav_ || index.row() < 0 || index.row() >= fav_->filtersArray.size()) return {};
    const auto& s = fav_->filtersArray[index.row()];
    if (!s) return {};
    switch (role) {
    case Qt::DisplayRole: return EffectTables::favouriteStepName(*s);
    case EffectRoles::Detail: return FilterCustomization::sharedInstance().getSavedKeyValueForFavoriteFilter(*s);
    case EffectRoles::IsApplied: return s->isApplied;
    case EffectRoles::IconName: return s->isApplied ? QStringLiteral("ok_active.png") : QStringLiteral("ok.png");
    case Qt::SizeHintRole: return QSize(240, 50);
    default: return {};
    }
}

// ---- simple rows ----

void SimpleRowsModel::setRows(const QList<QVariantMap>& rows) {
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

void SimpleRowsModel::setImage(int row, const QImage& image) {
    if (row < 0 || row >= rows_.size()) return;
    rows_[row].insert(QStringLiteral("image"), image);
    emit dataChanged(index(row, 0), index(row, 0));
}

int SimpleRowsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant SimpleRowsModel::data(const QModelIndex& index, int role) const {
    if (index.row() < 0 || index.row() >= rows_.size()) return {};
    const QVariantMap& m = rows_[index.row()];
    if (index.column() == 1) {
        if (role == Qt::DisplayRole) return QStringLiteral(":      %1").arg(m.value(QStringLiteral("value")).toString());
        if (role == Qt::ToolTipRole) return m.value(QStringLiteral("value"));
        return {};
    }
    switch (role) {
    case Qt::DisplayRole: return m.value(QStringLiteral("title"));
    case EffectRoles::Detail: return m.value(QStringLiteral("value"));
    case Qt::ToolTipRole: return m.value(QStringLiteral("value"));
    case EffectRoles::Thumbnail: return m.value(QStringLiteral("image"));
    case EffectRoles::IconName: return m.value(QStringLiteral("name"));
    case Qt::SizeHintRole: return m.contains(QStringLiteral("height")) ? QSize(200, m.value("height").toInt()) : QVariant();
    default: return {};
    }
}
