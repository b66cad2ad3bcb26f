#include "batch/ui/PreviewTables.h"

#include "batch/RunSummary.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"
#include "ui/LabeledToggleButton.h"
#include "platform/foundation/NativeNames.h"

#include <QPainter>

namespace previewtables {

QList<QPair<int, int>> literalRanges(const QString& text, const QString& needle) {
    QList<QPair<int, int>> ranges;
    if (needle.isEmpty()) return ranges;
    for (qsizetype at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, at + needle.size()))
        ranges.append({int(at), int(needle.size())});
    return ranges;
}

QString highlightedHtml(const QString& text, const QStringList& needles, const QColor& base, const QColor& highlight) {
    QList<bool> lit(text.size(), false);
    for (const QString& needle : needles) {
        for (const auto& [start, length] : literalRanges(text, needle)) {
            for (int i = start; i < start + length; ++i) lit[i] = true;
        }
    }
    QString html = QStringLiteral("<span style=\"color:%1\">").arg(base.name());
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype j = i;
        while (j < text.size() && lit[j] == lit[i]) ++j;
        const QString part = text.mid(i, j - i).toHtmlEscaped().replace(u' ', QStringLiteral("&nbsp;"));
        html += lit[i] ? QStringLiteral("<span style=\"color:%1\">%2</span>").arg(highlight.name(), part) : part;
        i = j;
    }
    return html + QStringLiteral("</span>");
}

QColor rowBackground(int row) { return QColor::fromRgbF(0, 0, 0, row % 2 == 0 ? 0.2f : 0.1f); }

}  // namespace previewtables

// ---- preview ----

void PreviewTableModel::setContents(QList<std::shared_ptr<OutputPhotoPath>> planned,
                                    PreviewClassification classification) {
    beginResetModel();
    planned_ = std::move(planned);
    classification_ = std::move(classification);
    endResetModel();
}

void PreviewTableModel::setMode(int mode) {
    beginResetModel();
    mode_ = mode;
    endResetModel();
}

const QList<std::shared_ptr<OutputPhotoPath>>& PreviewTableModel::rows() const {
    switch (mode_) {
    case All: return planned_;
    case Errors: return classification_.arrayAllErrors;
    default: return classification_.arrayAllWarnings;
    }
}

int PreviewTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows().size()); }

int PreviewTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant PreviewTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? tr("New Path") : tr("Old Path");
}

QVariant PreviewTableModel::data(const QModelIndex& index, int role) const {
    const auto record = recordAt(index.row());
    if (!record) return {};
    const bool newName = index.column() == 0;
    const PreviewMark mark = classification_.markFor(*record);
    switch (role) {
    case Qt::DisplayRole: return platform::displayPath(newName ? record->filePath : record->oldFilePath);
    case Qt::ToolTipRole: {
        if (!newName) return platform::displayPath(record->oldFilePath);
        return platform::displayPath(record->filePath) + u'\n' + PreviewClassifier::toolTipFor(classification_, *record);
    }
    case ReplacesOriginalRole: return classification_.replacesOwnSource(*record);
    case Qt::BackgroundRole: return previewtables::rowBackground(index.row());
    case Qt::ForegroundRole: return QColor(Qt::white);
    case MarkRole: return int(mark);
    // The file name is drawn white only in the all view, on rows in no bucket.
    case HighlightRole: return newName && mode_ == All && mark == PreviewMark::Ready;
    // The name as the path shows it (the planned path keeps its extension in lower case).
    case FileNameRole: return platform::displayPath(record->filePath.mid(record->filePath.lastIndexOf(u'/') + 1));
    default: return {};
    }
}

void PreviewNameDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    painter->save();
    painter->fillRect(option.rect, index.data(Qt::BackgroundRole).value<QColor>());
    QRect r = option.rect.adjusted(4, 0, -4, 0);
    const auto mark = PreviewMark(index.data(PreviewTableModel::MarkRole).toInt());
    const bool grey = mark != PreviewMark::Ready || index.data(PreviewTableModel::HighlightRole).toBool();
    if (index.column() == 0) {
        const QRect icon(r.left(), r.center().y() - 6, 12, 12);
        // A new file that replaces its original is ready, but not drawn as if nothing happened
        // to the original: it gets the amber mark of a file that is in the way.
        const bool replaces = mark == PreviewMark::Ready && index.data(PreviewTableModel::ReplacesOriginalRole).toBool();
        const PreviewMark shown = replaces ? PreviewMark::AlreadyExists : mark;
        const QPixmap picture = LabeledToggleButton::resourceImage(PreviewClassifier::imageNameFor(shown));
        if (!picture.isNull()) {
            painter->drawPixmap(icon, picture);
        } else {
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            const bool inTheWay = shown == PreviewMark::AlreadyExists || shown == PreviewMark::ReplacesExisting;
            painter->setBrush(shown == PreviewMark::Ready ? QColor(26, 185, 153)
                              : inTheWay                  ? previewtables::kWarningText
                                                          : QColor(220, 60, 60));
            painter->drawEllipse(icon);
        }
        r.setLeft(icon.right() + 6);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const QFontMetrics fm(option.font);
    const QString shown = fm.elidedText(text, Qt::ElideLeft, r.width());
    painter->setFont(option.font);
    painter->setPen(index.column() == 0 && grey ? previewtables::kGreyText : QColor(Qt::white));
    const int baseline = r.top() + (r.height() + fm.ascent() - fm.descent()) / 2;
    painter->drawText(r.left(), baseline, shown);
    if (index.column() == 0 && index.data(PreviewTableModel::HighlightRole).toBool()) {
        painter->setPen(Qt::white);
        for (const auto& [start, length] :
             previewtables::literalRanges(shown, index.data(PreviewTableModel::FileNameRole).toString())) {
            painter->drawText(r.left() + fm.horizontalAdvance(shown.left(start)), baseline, shown.mid(start, length));
        }
    }
    // The row the arrows have reached, while the table has the keyboard.
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QColor(26, 185, 153));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

// ---- run table ----

void RunTableModel::setContents(QList<std::shared_ptr<PhotoFile>> photos,
                                QList<std::shared_ptr<OutputPhotoPath>> planned) {
    beginResetModel();
    photos_ = std::move(photos);
    planned_ = std::move(planned);
    endResetModel();
}

void RunTableModel::rowChanged(int row) { emit dataChanged(index(row, 0), index(row, 1)); }

int RunTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(planned_.size()); }

int RunTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant RunTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? tr("New Path") : tr("Old Path");
}

QColor RunTableModel::statusColor(int processStatus, bool noted) {
    switch (processStatus) {
    case PhotoFile::NotProcessed: return QColor(130, 129, 142);
    case PhotoFile::Processed: return noted ? previewtables::kWarningText : QColor::fromRgbF(0, 1, 0, 1);
    case PhotoFile::Failed:
    case PhotoFile::Skipped: return QColor::fromRgbF(1, 0, 0, 0.6f);
    default: return {};
    }
}

QVariant RunTableModel::data(const QModelIndex& index, int role) const {
    const int row = index.row();
    if (row < 0 || row >= planned_.size()) return {};
    const auto photo = photos_.value(row);
    const auto planned = planned_.at(row);
    // A photo that came out with a note (only its first page written, say) says so on its row.
    const QString note = photo ? runsummary::processedNote(*photo) : QString();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        QString path;
        if (index.column() == 0) path = planned ? platform::displayPath(planned->filePath) : QString();
        else path = photo ? platform::displayPath(photo->filePath) : QString();
        return role == Qt::ToolTipRole && !note.isEmpty() ? path + u'\n' + note : path;
    }
    case Qt::BackgroundRole: return previewtables::rowBackground(row);
    case Qt::ForegroundRole: {
        const QColor c = photo ? statusColor(photo->processStatus, !note.isEmpty()) : QColor();
        return c.isValid() ? QVariant(c) : QVariant();
    }
    default: return {};
    }
}
