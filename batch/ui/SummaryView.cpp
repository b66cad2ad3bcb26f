#include "batch/ui/SummaryView.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "batch/ui/PreviewTables.h"
#include "ui/SmallViews.h"

namespace {

QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setStyleSheet(QStringLiteral("color:white;"));
    return label;
}

// The buttons' tool tips are the run screen's (SetupVC::setToolTips).
QPushButton* button(QWidget* parent, const QString& title, const char* name) {
    auto* b = new QPushButton(title, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

SummaryView::SummaryView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SummaryView"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("SummaryView { background:#262626; } QLabel { color:#b8b8b8; }"
                                 "QPushButton { color:white; background:#3a3a3a; border:1px solid #555;"
                                 " padding:6px 14px; border-radius:3px; }"
                                 "QPushButton:focus { border:2px solid #1ab999; padding:5px 13px; }"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(40, 30, 40, 30);

    auto* top = new QHBoxLayout;
    btnBackToPreviewOnSummary = button(this, tr("Back"), "btnBackToPreviewOnSummary");
    top->addWidget(btnBackToPreviewOnSummary);
    top->addStretch(1);
    outer->addLayout(top);

    lblSummaryHeader = new QLabel(this);
    lblSummaryHeader->setObjectName(QStringLiteral("lblSummaryHeader"));
    lblSummaryHeader->setStyleSheet(QStringLiteral("color:white; font-size:22px; font-weight:bold;"));
    lblSummaryHeader->setAlignment(Qt::AlignCenter);
    outer->addWidget(lblSummaryHeader);
    outer->addSpacing(20);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(10);
    int row = 0;
    auto addRow = [&](const QString& caption, QWidget* value) {
        auto* label = new QLabel(caption, this);
        grid->addWidget(label, row, 0, Qt::AlignRight);
        grid->addWidget(value, row, 1, Qt::AlignLeft);
        ++row;
        return label;
    };
    addRow(tr("Batch Count:"), lblBatchCountSummary = valueLabel(this, "lblBatchCountSummary"));
    addRow(tr("Batch Size:"), lblBatchSizeSummary = valueLabel(this, "lblBatchSizeSummary"));
    addRow(tr("Batch Steps:"), lblBatchStepsSummary = valueLabel(this, "lblBatchStepsSummary"));
    addRow(tr("Photos Processed:"), lblPhotoProcessedSummary = valueLabel(this, "lblPhotoProcessedSummary"));
    lblPhotoNotesCaption = addRow(tr("Processed with notes:"), lblPhotoNotesSummary = valueLabel(this, "lblPhotoNotesSummary"));
    lblPhotoNotesCaption->setObjectName(QStringLiteral("lblPhotoNotesCaption"));
    for (QLabel* label : {lblPhotoNotesCaption, lblPhotoNotesSummary}) {
        label->setStyleSheet(QStringLiteral("color:%1;").arg(previewtables::kWarningText.name()));
        label->hide();
    }
    addRow(tr("Photos not Processed:"), lblPhotoNotProccesedSummary = valueLabel(this, "lblPhotoNotProccesedSummary"));
    addRow(tr("Photos Skipped:"), lblPhotoSkippedSummary = valueLabel(this, "lblPhotoSkippedSummary"));
    addRow(tr("Errors:"), lblErrorsSummary = valueLabel(this, "lblErrorsSummary"));
    addRow(tr("Time elapsed:"), lblTimeElapsedSummary = valueLabel(this, "lblTimeElapsedSummary"));
    auto* outputCell = new QWidget(this);
    auto* outputRow = new QHBoxLayout(outputCell);
    outputRow->setContentsMargins(0, 0, 0, 0);
    lblOutputDirectorySummary = valueLabel(outputCell, "lblOutputDirectorySummary");
    btnOpenOutputFolder = new LinkButton(outputCell);
    btnOpenOutputFolder->setObjectName(QStringLiteral("btnOpenOutputFolder"));
    outputRow->addWidget(lblOutputDirectorySummary);
    outputRow->addWidget(btnOpenOutputFolder);
    addRow(tr("Output Directory:"), outputCell);
    btnShowLog = new LinkButton(this);
    btnShowLog->setObjectName(QStringLiteral("btnShowLog"));
    btnShowLog->setTitle(tr("Show log"), 13, false, Qt::white);
    addRow(tr("Log:"), btnShowLog);
    auto* gridRow = new QHBoxLayout;
    gridRow->addStretch(1);
    gridRow->addLayout(grid);
    gridRow->addStretch(1);
    outer->addLayout(gridRow);
    lblOriginalsNote = new QLabel(this);
    lblOriginalsNote->setObjectName(QStringLiteral("lblOriginalsNote"));
    lblOriginalsNote->setAlignment(Qt::AlignCenter);
    lblOriginalsNote->setWordWrap(true);
    lblOriginalsNote->setStyleSheet(QStringLiteral("color:%1;").arg(previewtables::kWarningText.name()));
    lblOriginalsNote->hide();
    outer->addSpacing(12);
    outer->addWidget(lblOriginalsNote);
    outer->addSpacing(12);

    // Hidden buttons leave no gap: the row closes up from the left.
    actionRow_ = new QWidget(this);
    auto* actions = new QHBoxLayout(actionRow_);
    actions->setSpacing(20);
    btnAddtoFav = button(actionRow_, tr("Add to Favorites"), "btnAddtoFav");
    btnRestoreExifInfo = button(actionRow_, tr("Restore Metadata"), "btnRestoreExifInfo");
    btnSkippedPhotos = button(actionRow_, tr("Process Skipped Photos"), "btnSkippedPhotos");
    btnStartNewBatch = button(actionRow_, tr("Start New Batch"), "btnStartNewBatch");
    btnFinish = button(actionRow_, tr("Finish"), "btnFinish");
    actions->addStretch(1);
    for (QPushButton* b : {btnAddtoFav, btnRestoreExifInfo, btnSkippedPhotos, btnStartNewBatch, btnFinish})
        actions->addWidget(b);
    actions->addStretch(1);
    outer->addWidget(actionRow_);
    outer->addStretch(1);
}

int SummaryView::widthOfString(const QString& text, const QFont& font) {
    return QFontMetrics(font).horizontalAdvance(text);
}

void SummaryView::setFinished(bool finished) {
    lblSummaryHeader->setText(finished ? QStringLiteral("Batch Process Finished!") : QStringLiteral("Batch Process Stopped!"));
}

void SummaryView::setOriginalsNote(const QString& text) {
    lblOriginalsNote->setText(text);
    lblOriginalsNote->setVisible(!text.isEmpty());
}

void SummaryView::setSummmaryInfo(const runsummary::Figures& f) {
    lblBatchCountSummary->setText(f.batchCount);
    lblBatchSizeSummary->setText(f.batchSize);
    lblBatchStepsSummary->setText(f.batchSteps);
    lblPhotoProcessedSummary->setText(f.processed);
    lblPhotoNotesSummary->setText(f.processedWithNotes);
    lblPhotoNotesCaption->setVisible(f.showProcessedWithNotes);
    lblPhotoNotesSummary->setVisible(f.showProcessedWithNotes);
    lblPhotoNotProccesedSummary->setText(f.notProcessed);
    lblPhotoSkippedSummary->setText(f.skipped);
    lblErrorsSummary->setText(f.errors);
    // The elapsed text opens with a blank under an hour; the column of values is aligned.
    lblTimeElapsedSummary->setText(f.elapsed.trimmed());
    lblOutputDirectorySummary->setText(f.outputDirectory);
    lblOutputDirectorySummary->setVisible(!f.outputIsLink);
    btnOpenOutputFolder->setVisible(f.outputIsLink);
    if (f.outputIsLink) {
        QFont font = this->font();
        font.setPointSize(13);
        font.setBold(false);
        // The title would become the tool tip too; the link keeps its own.
        const QString tip = btnOpenOutputFolder->toolTip();
        btnOpenOutputFolder->setTitle(f.outputDirectory, 13, false, Qt::white);
        btnOpenOutputFolder->setToolTip(tip);
        btnOpenOutputFolder->setFixedWidth(std::min(widthOfString(f.outputDirectory, font), 295) + 5);
    }
    btnSkippedPhotos->setVisible(f.showProcessSkipped);
    btnRestoreExifInfo->setVisible(f.showRestoreExif);
    btnAddtoFav->setVisible(f.showAddToFavourites);
}
