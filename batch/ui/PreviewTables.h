#pragma once
// The item models and delegates of the output screen's two path tables: the preview of
// planned names (with its three filters and row marks) and the run table (photo status
// colours).
#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QStyledItemDelegate>
#include <memory>

#include "batch/PreviewClassifier.h"

struct OutputOptionSettings;
struct OutputPhotoPath;
struct PhotoFile;

namespace previewtables {

// Where `needle` occurs in `text`, compared literally (never as a pattern): start and
// length of every non-overlapping occurrence.
QList<QPair<int, int>> literalRanges(const QString& text, const QString& needle);
// Rich text of a line drawn in `base` with every literal occurrence of the needles in
// `highlight`.
QString highlightedHtml(const QString& text, const QStringList& needles, const QColor& base, const QColor& highlight);

// Alternating row backgrounds: black at 0.2 on even rows, 0.1 on odd rows.
QColor rowBackground(int row);

inline const QColor kGreyText(150, 150, 150);
// Amber: a file in the way of a planned name, a photo that came out with a note.
inline const QColor kWarningText(230, 160, 40);

}  // namespace previewtables

// Columns of the preview table: 0 "newNameColumn", 1 "oldNameColumn".
class PreviewTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Mode { All = 0, Errors = 1, Warnings = 2 };
    // ReplacesOriginalRole: the new file replaces its own original (which goes to the Trash).
    enum Role { MarkRole = Qt::UserRole + 1, HighlightRole, FileNameRole, ReplacesOriginalRole };

    explicit PreviewTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    void setContents(QList<std::shared_ptr<OutputPhotoPath>> planned, PreviewClassification classification);
    void setMode(int mode);
    int mode() const { return mode_; }
    const PreviewClassification& classification() const { return classification_; }
    const QList<std::shared_ptr<OutputPhotoPath>>& rows() const;
    std::shared_ptr<OutputPhotoPath> recordAt(int row) const { return rows().value(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<std::shared_ptr<OutputPhotoPath>> planned_;
    PreviewClassification classification_;
    int mode_ = All;
};

// Draws a planned path: the mark's picture, the path grey with the file name white in
// the all view, cut at its head when too long.
class PreviewNameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Columns of the run table: 0 "newNameColumn" (planned path), 1 "oldNameColumn" (the photo).
class RunTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RunTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    void setContents(QList<std::shared_ptr<PhotoFile>> photos, QList<std::shared_ptr<OutputPhotoPath>> planned);
    void rowChanged(int row);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Text colour of a photo's paths by its process status (a processed photo whose status
    // carries a note in the warning colour); invalid for an unknown status.
    static QColor statusColor(int processStatus, bool noted = false);

private:
    QList<std::shared_ptr<PhotoFile>> photos_;
    QList<std::shared_ptr<OutputPhotoPath>> planned_;
};
