#pragma once
// The output-and-run screen (screen 2 of the main window). It shows one of three views:
// the rename-and-convert view (options, rename rules, format and the preview), the run
// view (run table, current photo, progress) or the summary. It leads a start from the
// Start button through the checks and the start question to the run, and shows the
// run's progress photo by photo.
#include <QDateTime>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "batch/BatchRunner.h"
#include "batch/PreviewClassifier.h"
#include "batch/ui/ConvertFormatOrRenameView.h"
#include "batch/ui/SummaryController.h"

struct PhotoFile;
class BarProgressIndicator;
class QLabel;

class QPushButton;
class QStackedLayout;
class QTableView;
class RunTableModel;

// Implemented by the main window: how the output-and-run screen moves the user on.
class SetupDelegate {
public:
    virtual ~SetupDelegate() = default;
    virtual void btnBackFromSetupVCTapped() = 0;
    virtual void btnStartNewBatchFromSetupVCTapped() = 0;
    // The skipped photos of a run become the batch.
    virtual void btnProcessSkippedFromSetupVCTapped(const QList<std::shared_ptr<PhotoFile>>& skipped) = 0;
    // Finishing from the summary: the main window closes as the shell closes it.
    virtual void closeWindowFromSetupVC() {}
};

class SetupVC : public QWidget,
                public ConvertFormatOrRenameViewDelegate,
                public BatchRunObserver,
                public BatchRunAsker {
    Q_OBJECT
public:
    explicit SetupVC(QWidget* parent = nullptr);
    ~SetupVC() override;
    void setDelegate(SetupDelegate* delegate) { delegate_ = delegate; }
    SetupDelegate* delegate() const { return delegate_; }
    // Back of the rename-and-convert view (the screen's way back to the effects screen).
    QPushButton* backButton() const;

    ConvertFormatOrRenameView* vwConvertFormatOrRename = nullptr;
    QWidget* vwContainerMain = nullptr;
    // The summary of a finished run; filled by the summary view when it arrives.
    QWidget* vwSummary = nullptr;
    QTableView* tblPreviewPaths = nullptr;
    RunTableModel* runModel = nullptr;
    BarProgressIndicator* progressIndicator = nullptr;
    QLabel* imgvwCurrentPhoto = nullptr;
    QLabel* lblCurrntFilePath = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnBackRun = nullptr;
    BatchRunner* runner() const { return runner_; }
    // Status bars, end of a run, summary, its sheets and alerts, the loading overlay.
    SummaryController* summaryController = nullptr;
    // Shows one of the screen's three views (rename-and-convert, run, summary).
    void showPage(QWidget* page);
    // The start question while it is open.
    QMessageBox* startQuestion() const { return startQuestion_; }

    // ---- classification before the start (read by the run) ----
    PreviewClassification calculatedErrors;
    bool isProcessForRestoreExif = false;
    QDateTime processStartedDateTime;
    QString processStartTimeStr;

    // ---- screen life ----
    // The views' one-time set-up: the run table, the stop question's text, the
    // rename-and-convert view shown.
    void initialSetupView();
    void setToolTips();
    void viewWillAppearNotofication();
    void postResizeNotificationAfterDelay();
    // The rename-and-convert view honours its Back again.
    void enableBackButton();
    void windowisResizing();
    void windowEndResizing();
    void AddConvertFormatView();
    void removeConvertFormatView();
    void btnBackTapped();
    void performBackBtnAction();

    // ---- start ----
    void calculateErrorFiles();
    void showStartProcessPrompt(const QString& text);
    void removeStartProcessPrompt();
    void btnYesOnStartProcessWindowTapped();
    void btnNoOnStartProcessWindowTapped();
    void sendStartProcessRequest();
    void processStartNotification();
    void processStartingFromConvertFormat();
    void btnProcessTapped();
    void resetUIforNewProcess();
    // The summary's restore button: runs the last start again, giving each photo its own
    // metadata and dates back.
    void btnRestoreExifDataTapped();
    // Alerts: 115 is the refusal of a start.
    void showAlertWithType(int type);

    // ---- stopping a run ----
    // The main window is being closed during a run: ask as the Stop button does.
    void stopProcessNotification();
    // The session is ending: a run going on stops without a question. True when a run's
    // end is still to come (its summary written and "notificationProcessComplete" posted).
    bool stopForTermination();
    // Answers to the stop question: Yes abandons the run, No resumes it.
    void btnYesOnAbortTapped();
    void btnNoOnAbortTapped();
    // The low-disk-space notice was read; the run has stopped.
    void btnOkOnEnoughtSpcaecTapped();
    // The short alert (its text is lblAlertMsgOnAlertWin): false opens it, true closes it.
    void hideNoPhotosAlertWindow(bool hide);
    QString lblAlertMsgOnAlertWin;
    QMessageBox* alertWin() const { return alertWin_; }

    // ---- ConvertFormatOrRenameViewDelegate ----
    void btnBackOnConvertOrRenameVCTapped() override;
    void btnPreviewOnConvertOrRenameVCTapped() override;
    void showAlertOnPreviewTappedWithMsg(const QString& message) override;

    // ---- BatchRunObserver ----
    void runShowsAlert(const QString& text) override;
    void runDidStart(int photoCount) override;
    void runShowsPhoto(int index, const QImage& thumbnail) override;
    void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& photo, int progress) override;
    void runDidEnd(bool finished) override;
    void runShowsLoading(bool show, const QString& text) override;

    // ---- BatchRunAsker ----
    void askToStop(const QString& question) override;
    void tellLowSpace(std::uint64_t freeBytes) override;
    void withdrawQuestion() override;

signals:
    void runFinished(bool finished);
    // The user answered No to stopping the run.
    void stopDeclined();

private:
    QMessageBox* messageBox(const QString& name, const QString& title, const QString& text);

    SetupDelegate* delegate_ = nullptr;
    BatchRunner* runner_ = nullptr;
    QStackedLayout* stack_ = nullptr;
    QPointer<QMessageBox> startQuestion_;
    QPointer<QMessageBox> runQuestion_;
    QPointer<QMessageBox> alertWin_;
    // Closes the open stop or low-space question without it answering.
    void closeRunQuestion();
};
