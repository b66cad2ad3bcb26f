#pragma once
// The summary that replaces the run view when a run ends: the run's figures, the log and
// output-folder links and the actions that follow a run.
#include <QWidget>

#include "batch/RunSummary.h"

class QLabel;
class QPushButton;
class LinkButton;

class SummaryView : public QWidget {
    Q_OBJECT
public:
    explicit SummaryView(QWidget* parent = nullptr);

    void setSummmaryInfo(const runsummary::Figures& figures);
    void setFinished(bool finished);
    // What the run did to the originals (move mode); hidden when empty.
    void setOriginalsNote(const QString& text);

    QLabel* lblSummaryHeader = nullptr;
    QLabel* lblBatchCountSummary = nullptr;
    QLabel* lblBatchSizeSummary = nullptr;
    QLabel* lblBatchStepsSummary = nullptr;
    QLabel* lblPhotoProcessedSummary = nullptr;
    // How many of them came out with a note (only the first page written, say), in the
    // warning colour, with its caption; the row shows only when there are some.
    QLabel* lblPhotoNotesSummary = nullptr;
    QLabel* lblPhotoNotesCaption = nullptr;
    QLabel* lblPhotoNotProccesedSummary = nullptr;
    QLabel* lblPhotoSkippedSummary = nullptr;
    QLabel* lblErrorsSummary = nullptr;
    QLabel* lblTimeElapsedSummary = nullptr;
    QLabel* lblOutputDirectorySummary = nullptr;
    LinkButton* btnOpenOutputFolder = nullptr;
    LinkButton* btnShowLog = nullptr;
    QLabel* lblOriginalsNote = nullptr;
    QPushButton* btnAddtoFav = nullptr;
    QPushButton* btnRestoreExifInfo = nullptr;
    QPushButton* btnSkippedPhotos = nullptr;
    QPushButton* btnStartNewBatch = nullptr;
    QPushButton* btnBackToPreviewOnSummary = nullptr;
    QPushButton* btnFinish = nullptr;

    // Width of a text in a font, in points.
    static int widthOfString(const QString& text, const QFont& font);

private:
    QWidget* actionRow_ = nullptr;
};
