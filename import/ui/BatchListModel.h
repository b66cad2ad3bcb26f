#pragma once
// The list view's model over the batch: seven columns (check, name with a thumbnail,
// type, dimensions, size, location, info), rows in batch order.
#include <QAbstractTableModel>
#include <QCache>
#include <QImage>
#include <QList>
#include <QSet>

class BatchListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { CheckColumn, NameColumn, TypeColumn, DimensionsColumn, FileSizeColumn, FileLocationColumn, InfoColumn, ColumnCount };
    // `checkedRows` is the screen's list of checked rows; it outlives the model.
    BatchListModel(const QList<int>* checkedRows, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void reload();
    // A row's small thumbnail.
    void setThumbnail(int row, const QString& path, const QImage& image);
    // The row's file joined or left the not-available set (-1: no row to redraw).
    void unavailableChanged(int row);
    bool hasThumbnail(const QString& path) const { return thumbnails_.contains(path); }
    // The file changed since its picture was made: the row shows the placeholder until a new one comes.
    void forgetThumbnail(const QString& path) { thumbnails_.remove(path); }
    void checksChanged();
    void setUnavailable(const QSet<QString>* unavailable) { unavailable_ = unavailable; }

private:
    const QList<int>* checked_;
    const QSet<QString>* unavailable_ = nullptr;
    QCache<QString, QImage> thumbnails_{4000};
};
