#include "import/ui/BatchListModel.h"

#include <QFileInfo>
#include <QFont>

#include <QColor>

#include "import/IntakeRules.h"
#include "import/ui/ScreenImages.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "platform/foundation/NativeNames.h"

BatchListModel::BatchListModel(const QList<int>* checkedRows, QObject* parent)
    : QAbstractTableModel(parent), checked_(checkedRows) {}

int BatchListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(AppDelegate::shared().arraySelectedImagesToProcess.size());
}
int BatchListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant BatchListModel::data(const QModelIndex& index, int role) const {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (!index.isValid() || index.row() < 0 || index.row() >= batch.size()) return {};
    const PhotoFile& photo = *batch[index.row()];
    const int row = index.row();
    if (role == Qt::BackgroundRole)
        return QColor::fromRgbF(0.08627451f, 0.08235294f, 0.08235294f, row % 2 ? 1.0f : 0.7f);
    if (role == Qt::ForegroundRole) return QColor(220, 220, 220);
    if (role == Qt::TextAlignmentRole && index.column() >= TypeColumn && index.column() <= FileSizeColumn)
        return int(Qt::AlignCenter);
    switch (index.column()) {
    case CheckColumn:
        if (role == Qt::DecorationRole)
            return screenimages::named(checked_->contains(row) ? screenimages::kCheckedSquare : screenimages::kUnchecked);
        break;
    case NameColumn:
        if (role == Qt::ToolTipRole && unavailable_ && unavailable_->contains(photo.filePath))
            return photo.displayName() + u'\n' + intake::unavailablePhotoText(photo.filePath);
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return photo.displayName();
        if (role == Qt::DecorationRole) {
            if (unavailable_ && unavailable_->contains(photo.filePath)) return screenimages::named(screenimages::kNotAvailableSmall);
            if (const QImage* thumb = thumbnails_.object(photo.filePath)) return *thumb;
            return screenimages::named(screenimages::kPlaceHolder).scaled(35, 24);
        }
        break;
    case TypeColumn:
        if (role == Qt::DisplayRole) return photo.fileExtension;
        break;
    case DimensionsColumn:
        if (role == Qt::DisplayRole) return QStringLiteral("%1X%2").arg(int(photo.width)).arg(int(photo.height));
        break;
    case FileSizeColumn:
        if (role == Qt::DisplayRole) return photo.fileSizeAsString;
        break;
    case FileLocationColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return platform::displayPath(photo.filePath);
        break;
    case InfoColumn:
        // A plain "i": the circled letter is missing from common fonts.
        if (role == Qt::DisplayRole) return QStringLiteral("i");
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        if (role == Qt::ToolTipRole) return tr("Photo info");
        break;
    }
    return {};
}

QVariant BatchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case NameColumn: return tr("Name");
    case TypeColumn: return tr("Type");
    case DimensionsColumn: return tr("Dimensions");
    case FileSizeColumn: return tr("Size");
    case FileLocationColumn: return tr("Location");
    default: return QString();
    }
}

void BatchListModel::reload() {
    beginResetModel();
    endResetModel();
}

void BatchListModel::setThumbnail(int row, const QString& path, const QImage& image) {
    if (image.isNull()) return;
    thumbnails_.insert(path, new QImage(image), 1);
    unavailableChanged(row);
}

void BatchListModel::unavailableChanged(int row) {
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row, NameColumn), index(row, NameColumn), {Qt::DecorationRole, Qt::ToolTipRole});
}

void BatchListModel::checksChanged() {
    if (rowCount() > 0) emit dataChanged(index(0, CheckColumn), index(rowCount() - 1, CheckColumn), {Qt::DecorationRole});
}
