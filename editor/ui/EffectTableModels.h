#pragma once
// Item models of the effects screen's tables. Each reads its rows from the screen's own
// lists; the screen tells a model to reload after it changed them.
#include <QAbstractListModel>
#include <QImage>
#include <QList>
#include <functional>
#include <memory>

#include "editor/AppliedSteps.h"
#include "editor/EffectTables.h"
#include "records/FavouriteBatch.h"
#include "records/FilterCategoryInfo.h"
#include "records/FilterRecord.h"

// Roles shared by the screen's delegates.
namespace EffectRoles {
enum {
    IsHeader = Qt::UserRole + 1,  // bool
    IsSelected,                   // bool: the chosen row (marker, bold name)
    IsApplied,                    // bool: a step's switch
    IsEdited,                     // bool: the step open in its panel
    Thumbnail,                    // QImage
    CanMoveUp,                    // bool
    CanMoveDown,                  // bool
    Detail,                       // QString: second line
    IconName,                     // QString: resource picture name
};
}

// Favourites (header first), the rename group, the basic effects and the FX categories.
class CategoryTableModel : public QAbstractListModel {
    Q_OBJECT
public:
    using Record = std::shared_ptr<FilterRecord>;
    using Category = std::shared_ptr<FilterCategoryInfo>;
    using FavList = QList<std::shared_ptr<FavouriteBatch>>;

    explicit CategoryTableModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void setSources(const FavList& favourites, const QList<Category>& rename, const QList<Record>& basic,
                    const QList<Category>& fx);
    void setSelectedCategoryIndex(int row);
    int selectedCategoryIndex() const { return selected_; }
    CategoryRows rows() const { return CategoryRows{int(favs_.size()), int(rename_.size()), int(basic_.size()), int(fx_.size())}; }

    std::shared_ptr<FavouriteBatch> favouriteAt(int row) const;
    Category renameCategoryAt(int row) const;
    Record basicAt(int row) const;
    Category fxCategoryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    FavList favs_;
    QList<Category> rename_;
    QList<Record> basic_;
    QList<Category> fx_;
    int selected_ = -1;
};

// The effects of the chosen category, with their thumbnails.
class EffectTableModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit EffectTableModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void setRecords(const QList<std::shared_ptr<FilterRecord>>& records);
    std::shared_ptr<FilterRecord> recordAt(int row) const;
    void setSelectedFilterIndex(int row);
    void setCellHeight(float h) { cellHeight_ = h; }
    float cellHeight() const { return cellHeight_; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<std::shared_ptr<FilterRecord>> records_;
    int selected_ = -1;
    float cellHeight_ = 100;
};

// The batch's steps, dragged to reorder them within the list.
class AppliedStepsModel : public QAbstractListModel {
    Q_OBJECT
public:
    // `steps` is the list the model shows and reorders; it stays the owner's.
    explicit AppliedStepsModel(AppliedSteps::StepList* steps, QObject* parent = nullptr)
        : QAbstractListModel(parent), steps_(steps) {}
    void reload();
    void setListForm(bool list) { listForm_ = list; reload(); }
    bool listForm() const { return listForm_; }
    void setEditedRow(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    // Moves the dragged steps itself; the view's removal of the dragged rows afterwards
    // finds nothing to remove (removeRows is not offered), so no step is lost.
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // The steps were moved by a drop; `rows` are their new rows.
    void stepsDropped(const QList<int>& rows);

private:
    int dropRowFor(int row, const QModelIndex& parent) const;
    AppliedSteps::StepList* steps_;
    bool listForm_ = true;
    int editedRow_ = -1;
};

// The steps of the favourite shown.
class FavouriteDetailsModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit FavouriteDetailsModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void setFavourite(const std::shared_ptr<FavouriteBatch>& favourite);
    std::shared_ptr<FavouriteBatch> favourite() const { return fav_; }
    void reload();
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::shared_ptr<FavouriteBatch> fav_;
};

// Title/value rows of the photo's facts, or the images of a frame/texture/sticker list.
class SimpleRowsModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit SimpleRowsModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void setRows(const QList<QVariantMap>& rows);
    const QList<QVariantMap>& rowsData() const { return rows_; }
    void setImage(int row, const QImage& image);
    int rowCount(const QModelIndex& parent = {}) const override;
    // A title column and a value column (lists show the first only).
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override {
        return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
    }
    QModelIndex parent(const QModelIndex&) const override { return {}; }
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<QVariantMap> rows_;
};
