#pragma once
// The reporting half of the run screen: the two status bars while a run lasts, the end of
// a run (summary log, summary view), the summary's actions, the favourite and
// save-session sheets, the typed alerts, the loading overlay and the way back with its
// rate prompt. The run screen owns one and tells it when a run starts, moves and ends.
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "batch/RunAlerts.h"
#include "batch/RunSummary.h"
#include "platform/foundation/PostBack.h"
#include "ui/OpenFailure.h"
#include "records/SubWindowHold.h"

class SetupVC;
class SummaryView;
class LoadingOverlay;
class QDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QTimer;
class QWidget;
struct PhotoFile;
namespace platform {
class Workspace;
class UserDefaults;
}  // namespace platform

class SummaryController : public QObject {
    Q_OBJECT
public:
    explicit SummaryController(SetupVC* screen);
    ~SummaryController() override;

    // ---- what tests and the shell may set ----
    // The Documents folder the logs go under ("<it>/Brisko Photos").
    void setDocumentsFolder(const QString& folder) { documentsFolder_ = folder; }
    QString documentsFolder() const { return documentsFolder_; }
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }
    void setDateStyle(const runsummary::DateStyle& style) { dateStyle_ = style; }
    void setWorkspace(platform::Workspace* workspace) { workspace_ = workspace; }
    // Runs work off the main thread and then `done` on the main thread; by default the
    // global thread pool.
    using Worker = std::function<void(std::function<void()> work, std::function<void()> done)>;
    void setWorker(Worker worker) { worker_ = std::move(worker); }
    // The default: `done` is posted through `back` also when `work` threw.
    static Worker pooledWorker(const platform::PostBack& back);
    void setUserDefaults(platform::UserDefaults* defaults) { defaults_ = defaults; }
    void setBundleVersion(const QString& version) { bundleVersion_ = version; }
    // Delays in ms (the favourite sheet's close after a save, the deleted-photos alert,
    // the re-enabling of the rename view's Back).
    void setDelays(int favClose, int deletedAlert, int enableBack) {
        favCloseDelay_ = favClose, deletedAlertDelay_ = deletedAlert, enableBackDelay_ = enableBack;
    }

    // ---- views ----
    SummaryView* summaryView() const { return summary_; }
    LoadingOverlay* loadingView() const { return loading_; }
    QLabel* lblBatchInfo = nullptr;
    QLabel* lblProcessInfoBottom = nullptr;
    QWidget* middleBG = nullptr;
    QString strLogfilePath;  // the last run's log
    QList<std::shared_ptr<PhotoFile>> arrayFilesToReProcess;
    QDialog* windowAddFavBatch() const { return favSheet_; }
    QLineEdit* txtFavBatch = nullptr;
    QLabel* lblAlertSameFavName = nullptr;
    QMessageBox* windowSaveSession() const { return sessionSheet_; }
    QMessageBox* windowStartNewBatch() const { return newBatchSheet_; }
    QMessageBox* alertWindow() const { return alert_; }
    // The desktop took no request to open it: said in a short alert with its OK.
    void showOpenFailure(openfailure::Request request, const QString& what);
    QMessageBox* openFailureAlert() const { return openFailure_; }
    int alertTag = 0;
    // The application's busy count as the run screen holds it.
    SubWindowHold& busy() { return busy_; }

    // ---- the run ----
    void runStarted(const QDateTime& started, const QString& startText);
    // True starts refreshing the bottom line every 10 ms while the run lasts; false stops it.
    void updateBottomInfoWithTimerFlag(bool on);
    bool isBottomInfoRefreshing() const;
    void setBatchInfo();
    void setProcessInfoAtBottm();
    void addSummaryViewIsFinished(bool finished);
    // From the end of a run until its log is written and its summary shown.
    bool isSummaryBeingMade() const { return summaryBeingMade_; }
    void setSummmaryInfo();
    void removeSummaryView();

    // ---- summary actions ----
    void btnShowLogsTapped();
    void btnOpenOutputFolderTapped();
    void btnProcessSkippedFilesTapped();
    void btnStartNewBatchTapped();
    void btnYesOnStartNewBatchWindowTapped();
    void btnNoOnStartNewBatchWindowTapped();
    void btnFinishOnSummaryTapped();
    // A finish button of the run view that has nothing to do.
    void btnFinishTapped() {}

    // ---- favourites and session ----
    void btnAddFavouriteTapped();
    void btnAddOnAddFavouriteWindowTapped();
    void btnCancelOnAddFavouriteWindowTapped();
    void showSaveSessionWindow();
    void btnSaveSessionTapped();
    void btnCloseOnSessionWindowTapped();
    void btnCancelOnSaveSessionTapped();

    // ---- alerts, overlay, way back ----
    // False when refused because something else is open.
    bool showAlertWithType(int type);
    void btnOkOnAlertTapped();
    void btnYesOnAlertTapped();
    void btnNoOnAlertTapped();
    void btnBackToPreviewOnSummaryTapped();
    void performBackOnSummaryAction();
    void checkForDeletedPhotosInSourceFolder(bool remove);
    void showLoading(bool show, const QString& text);
    // "Processing..." over the screen while another part of it works, and its end.
    void showLoadingNotification();
    void hideLoadingNotification();
    // Alert 107 (every photo of the batch is gone) and alert 118 (the rate prompt).
    void showAlertForAllPhotosDeleted();
    bool showAlertForRateApp() { return showAlertWithType(runalerts::RateApp); }
    // A tip of the rename view opened or closed: the screen is covered meanwhile, clear.
    void tipsDisplayNotification();
    void tipsHideNotification();
    // The footer strip's colour: nearly opaque on systems older than 10.10 (as the start-up
    // recorded the system version), see-through on later ones.
    void configureFooter();
    static double footerAlpha(bool systemOlderThan1010) { return systemOlderThan1010 ? 0.98 : 0.6; }

signals:
    // The log is on disk (or could not be written) and the summary is on screen.
    void summaryShown(bool finished);
    // The session sheet finished its work and asked the shell to close the window.
    void windowCloseRequested();

private:
    runsummary::RunFacts facts() const;
    void closeWindowThroughShell();
    void showDeletedPhotosAlert(int attempts);
    // The alert of that type whatever else is open (showAlertWithType's check aside);
    // false only when another alert is up.
    bool openAlert(int type);
    void endSheet(QDialog* sheet);
    platform::UserDefaults& defaults() const;
    QDateTime now() const { return clock_ ? clock_() : QDateTime::currentDateTime(); }

    SetupVC* screen_;
    SummaryView* summary_ = nullptr;
    LoadingOverlay* loading_ = nullptr;
    QTimer* bottomTimer_ = nullptr;
    QPointer<QDialog> favSheet_;
    QPointer<QMessageBox> sessionSheet_, newBatchSheet_, alert_, openFailure_;
    SubWindowHold busy_;
    bool loadingHeld_ = false;
    bool tipHeld_ = false;

    QString documentsFolder_;
    std::function<QDateTime()> clock_;
    runsummary::DateStyle dateStyle_;
    platform::Workspace* workspace_;
    Worker worker_;
    // The worker's way back; nothing comes back once the controller is gone.
    platform::PostBack back_{this};
    platform::UserDefaults* defaults_ = nullptr;
    QString bundleVersion_;
    int favCloseDelay_ = 1000, deletedAlertDelay_ = 200, enableBackDelay_ = 300;
    bool runFinished_ = true;
    bool summaryBeingMade_ = false;
};
