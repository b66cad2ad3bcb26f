#include "batch/ui/SummaryController.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

#include "batch/BatchRunner.h"
#include "batch/ui/LoadingOverlay.h"
#include "batch/ui/OriginalsNotes.h"
#include "batch/ui/SetupVC.h"
#include "batch/ui/SummaryView.h"
#include "engine/Utils.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/workspace/Workspace.h"
#include "records/AppDelegate.h"
#include "records/FavouriteAdder.h"
#include "records/OutputOptionSettings.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "ui/OpenFailure.h"
#include "ui/ShortAlert.h"
#include "ui/SmallViews.h"

namespace names = platform::notifications;

namespace {

void postRunNotification(const QString& name) { platform::NotificationCenter::defaultCenter().postNotification(name); }

const QString kProcessing = QStringLiteral("Processing...");

QLabel* barLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::RichText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setContentsMargins(8, 4, 8, 4);
    return label;
}

QMessageBox* sheet(QWidget* parent, const char* name, const QString& title, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    return box;
}

}  // namespace

SummaryController::SummaryController(SetupVC* screen)
    : QObject(screen),
      screen_(screen),
      busy_(AppDelegate::shared().isSUBWINDOW_OPENED),
      documentsFolder_(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)),
      workspace_(&platform::Workspace::system()) {
    setObjectName(QStringLiteral("SummaryController"));
    bundleVersion_ = QCoreApplication::applicationVersion();
    if (bundleVersion_.isEmpty()) bundleVersion_ = QStringLiteral("1.0.0");
    worker_ = pooledWorker(back_);

    // Status bars of the run view: batch info above the table, the process line in the
    // footer strip below it.
    auto* run = qobject_cast<QVBoxLayout*>(screen->vwContainerMain->layout());
    lblBatchInfo = barLabel(screen->vwContainerMain, "lblBatchInfo");
    middleBG = new QWidget(screen->vwContainerMain);
    middleBG->setObjectName(QStringLiteral("middleBG"));
    middleBG->setAttribute(Qt::WA_StyledBackground, true);
    configureFooter();
    auto* footer = new QHBoxLayout(middleBG);
    footer->setContentsMargins(0, 0, 0, 0);
    lblProcessInfoBottom = barLabel(middleBG, "lblProcessInfoBottom");
    footer->addWidget(lblProcessInfoBottom);
    if (run) {
        run->insertWidget(0, lblBatchInfo);
        run->addWidget(middleBG);
    }
    bottomTimer_ = new QTimer(this);
    bottomTimer_->setInterval(10);
    connect(bottomTimer_, &QTimer::timeout, this, &SummaryController::setProcessInfoAtBottm);

    // The summary fills the screen's summary page.
    auto* page = new QVBoxLayout(screen->vwSummary);
    page->setContentsMargins(0, 0, 0, 0);
    summary_ = new SummaryView(screen->vwSummary);
    page->addWidget(summary_);
    connect(summary_->btnShowLog, &QPushButton::clicked, this, &SummaryController::btnShowLogsTapped);
    connect(summary_->btnOpenOutputFolder, &QPushButton::clicked, this, &SummaryController::btnOpenOutputFolderTapped);
    connect(summary_->btnSkippedPhotos, &QPushButton::clicked, this, &SummaryController::btnProcessSkippedFilesTapped);
    connect(summary_->btnStartNewBatch, &QPushButton::clicked, this, &SummaryController::btnStartNewBatchTapped);
    connect(summary_->btnFinish, &QPushButton::clicked, this, &SummaryController::btnFinishOnSummaryTapped);
    connect(summary_->btnAddtoFav, &QPushButton::clicked, this, &SummaryController::btnAddFavouriteTapped);
    connect(summary_->btnRestoreExifInfo, &QPushButton::clicked, screen, &SetupVC::btnRestoreExifDataTapped);
    connect(summary_->btnBackToPreviewOnSummary, &QPushButton::clicked, this,
            &SummaryController::btnBackToPreviewOnSummaryTapped);

    loading_ = new LoadingOverlay(screen);

    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserver(names::ShowLoading, [this](const auto&) { showLoadingNotification(); },
                       platform::DeliverOn::MainThread, this);
    center.addObserver(names::HideLoading, [this](const auto&) { hideLoadingNotification(); },
                       platform::DeliverOn::MainThread, this);
    center.addObserver(names::TipsDisplay, [this](const auto&) { tipsDisplayNotification(); },
                       platform::DeliverOn::MainThread, this);
    center.addObserver(names::TipsHide, [this](const auto&) { tipsHideNotification(); },
                       platform::DeliverOn::MainThread, this);
}

SummaryController::~SummaryController() { platform::NotificationCenter::defaultCenter().removeObservers(this); }

platform::UserDefaults& SummaryController::defaults() const {
    return defaults_ ? *defaults_ : platform::UserDefaults::standardUserDefaults();
}

runsummary::RunFacts SummaryController::facts() const {
    runsummary::RunFacts run;
    run.photos = screen_->runner()->photos();
    if (run.photos.isEmpty()) run.photos = AppDelegate::shared().arraySelectedImagesToProcess;
    run.started = screen_->processStartedDateTime;
    run.startTimeStr = screen_->processStartTimeStr;
    run.finished = runFinished_;
    run.appliedSteps = Utils::totalBatchStepsApplied();
    run.output = AppDelegate::shared().selectedOuputSettingObj;
    return run;
}

// ---- status bars ----

void SummaryController::runStarted(const QDateTime&, const QString&) {
    setBatchInfo();
    setProcessInfoAtBottm();
}

void SummaryController::updateBottomInfoWithTimerFlag(bool on) {
    if (on) bottomTimer_->start();
    else bottomTimer_->stop();
}

bool SummaryController::isBottomInfoRefreshing() const { return bottomTimer_->isActive(); }

void SummaryController::setBatchInfo() {
    const BatchRunner* runner = screen_->runner();
    const auto run = facts();
    lblBatchInfo->setText(runsummary::barHtml(runsummary::batchInfo(
        run.photos.size(), runsummary::batchSizeText(run.photos), run.appliedSteps, runner->counterProcessedSuccessfully,
        runner->counterSkipped, runner->counterTotalProgressedFiles)));
}

void SummaryController::setProcessInfoAtBottm() {
    lblProcessInfoBottom->setText(runsummary::barHtml(runsummary::processInfo(
        screen_->processStartTimeStr, screen_->runner()->counterProcessedWithError,
        runsummary::elapsedText(screen_->processStartedDateTime, now()))));
}

// ---- the end of a run ----

void SummaryController::addSummaryViewIsFinished(bool finished) {
    runFinished_ = finished;
    summaryBeingMade_ = true;
    updateBottomInfoWithTimerFlag(false);
    setBatchInfo();
    setProcessInfoAtBottm();
    showLoading(true, kProcessing);
    auto run = std::make_shared<runsummary::RunFacts>(facts());
    auto result = std::make_shared<runsummary::WriteResult>();
    const QString documents = documentsFolder_;
    const QDateTime at = now();
    const runsummary::DateStyle style = dateStyle_;
    worker_([run, result, documents, at, style] { *result = runsummary::createAndWriteSummaryFile(*run, documents, at, style); },
            [this, result, finished] {
                // The counters the log counted replace the runner's; without a log folder
                // the runner's stay. The photos to run again are this run's either way.
                arrayFilesToReProcess = result->sorted.toReprocess;
                if (result->folderCreated) {
                    BatchRunner* runner = screen_->runner();
                    runner->counterProcessedSuccessfully = result->sorted.processed.size();
                    runner->counterNotProcessed = result->sorted.notProcessed.size();
                    runner->counterSkipped = result->sorted.skipped.size();
                    runner->counterProcessedWithError = result->sorted.error.size();
                    strLogfilePath = result->path;
                }
                showLoading(false, kProcessing);
                summaryBeingMade_ = false;
                setSummmaryInfo();
                summary_->setFinished(finished);
                screen_->showPage(screen_->vwSummary);
                postRunNotification(names::ProcessComplete);
                if (runsummary::shouldOpenOutputFolder(AppDelegate::shared().selectedOuputSettingObj.get()))
                    btnOpenOutputFolderTapped();
                emit summaryShown(finished);
            });
}

SummaryController::Worker SummaryController::pooledWorker(const platform::PostBack& back) {
    return [back](std::function<void()> work, std::function<void()> done) {
        auto job = [back, work = std::move(work), done = std::move(done)] {
            // Work that failed (memory ran short) is done all the same: its result stays as
            // it was made, as for a summary or a session that could not be written.
            platform::runContained(work);
            back.post(done);
        };
        platform::startOnPool(*QThreadPool::globalInstance(), std::move(job));
    };
}

void SummaryController::setSummmaryInfo() {
    const BatchRunner* runner = screen_->runner();
    runsummary::Counters counters{runner->counterProcessedSuccessfully, runner->counterNotProcessed,
                                  runner->counterSkipped, runner->counterProcessedWithError};
    const auto run = facts();
    summary_->setSummmaryInfo(runsummary::figures(run, counters,
                                                  runsummary::elapsedText(screen_->processStartedDateTime, now()),
                                                  AppDelegate::shared().isMetadataInfoChanged));
    const originalsnotes::Replaced replaced = originalsnotes::replacedFiles(
        run.photos, AppDelegate::shared().arrayDestinationPaths, screen_->calculatedErrors);
    summary_->setOriginalsNote(originalsnotes::afterRun(run.output.get(), counters.processed, replaced));
}

void SummaryController::removeSummaryView() { screen_->AddConvertFormatView(); }

// ---- summary actions ----

void SummaryController::btnShowLogsTapped() {
    QString target;
    if (strLogfilePath.isEmpty()) {
        // No log since the start: the folder the logs go to.
        target = runsummary::logFolder(documentsFolder_);
    } else if (QFileInfo::exists(strLogfilePath)) {
        target = strLogfilePath;
    } else {
        target = QFileInfo(strLogfilePath).absolutePath();
    }
    if (!workspace_->openFile(target)) showOpenFailure(openfailure::Request::Open, target);
}

void SummaryController::btnOpenOutputFolderTapped() {
    const auto& output = AppDelegate::shared().selectedOuputSettingObj;
    if (output && !workspace_->openFile(output->outputFolderPath))
        showOpenFailure(openfailure::Request::Open, output->outputFolderPath);
}

void SummaryController::showOpenFailure(openfailure::Request request, const QString& what) {
    if (openFailure_) return;  // one at a time; the first says it
    const auto text = openfailure::textFor(request, what);
    QMessageBox* box = makeShortAlert(screen_, QStringLiteral("alertOpenFailure"), QMessageBox::NoIcon, text.title, text.message);
    box->addButton(QMessageBox::Ok);
    busy_.acquire();
    connect(box, &QMessageBox::finished, this, [this, box] {
        busy_.release();
        box->disconnect(this);
    });
    openFailure_ = box;
    box->open();
}

void SummaryController::btnProcessSkippedFilesTapped() {
    if (SetupDelegate* d = screen_->delegate()) d->btnProcessSkippedFromSetupVCTapped(arrayFilesToReProcess);
}

void SummaryController::btnStartNewBatchTapped() {
    if (newBatchSheet_) return;
    QMessageBox* box = sheet(screen_, "windowStartNewBatch", tr("Start New Batch"),
                             tr("Do you want to start a new batch? The photos and steps of this batch are cleared."));
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    busy_.acquire();
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->clickedButton() == box->button(QMessageBox::Yes)) btnYesOnStartNewBatchWindowTapped();
        else btnNoOnStartNewBatchWindowTapped();
    });
    newBatchSheet_ = box;
    box->open();
}

void SummaryController::btnYesOnStartNewBatchWindowTapped() {
    btnNoOnStartNewBatchWindowTapped();
    if (SetupDelegate* d = screen_->delegate()) d->btnStartNewBatchFromSetupVCTapped();
}

void SummaryController::btnNoOnStartNewBatchWindowTapped() {
    if (!newBatchSheet_) return;
    QMessageBox* box = newBatchSheet_;
    newBatchSheet_ = nullptr;
    busy_.release();
    box->disconnect(this);
    box->close();
}

void SummaryController::btnFinishOnSummaryTapped() { showSaveSessionWindow(); }

// ---- favourites ----

void SummaryController::btnAddFavouriteTapped() {
    if (Utils::totalBatchStepsApplied() < 1 || favSheet_) return;
    auto* dialog = new QDialog(screen_);
    dialog->setObjectName(QStringLiteral("windowAddFavBatch"));
    dialog->setWindowTitle(tr("Add to Favorites"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(tr("Name of the favorite:"), dialog));
    txtFavBatch = new QLineEdit(dialog);
    txtFavBatch->setObjectName(QStringLiteral("txtFavBatch"));
    layout->addWidget(txtFavBatch);
    lblAlertSameFavName = new QLabel(dialog);
    lblAlertSameFavName->setObjectName(QStringLiteral("lblAlertSameFavName"));
    lblAlertSameFavName->hide();
    layout->addWidget(lblAlertSameFavName);
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(tr("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("btnCancelOnAddFavouriteWindow"));
    auto* add = new QPushButton(tr("Add"), dialog);
    add->setObjectName(QStringLiteral("btnAddOnAddFavouriteWindow"));
    add->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(add);
    layout->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, &SummaryController::btnAddOnAddFavouriteWindowTapped);
    connect(cancel, &QPushButton::clicked, this, &SummaryController::btnCancelOnAddFavouriteWindowTapped);
    connect(dialog, &QDialog::rejected, this, &SummaryController::btnCancelOnAddFavouriteWindowTapped);
    connect(txtFavBatch, &QLineEdit::textChanged, lblAlertSameFavName, &QLabel::hide);
    busy_.acquire();
    favSheet_ = dialog;
    dialog->open();
}

void SummaryController::btnAddOnAddFavouriteWindowTapped() {
    if (!favSheet_) return;
    const auto outcome =
        favouriteadder::addFavourite(txtFavBatch->text(), AppDelegate::shared().arrayAppliedFilters, now(), defaults());
    if (outcome.added) {
        QSignalBlocker quiet(txtFavBatch);
        txtFavBatch->clear();
    }
    lblAlertSameFavName->setStyleSheet(outcome.added ? QStringLiteral("color:rgb(255,255,255);")
                                                     : QStringLiteral("color:rgb(255,0,0);"));
    lblAlertSameFavName->setText(outcome.message);
    lblAlertSameFavName->show();
    if (outcome.added)
        QTimer::singleShot(favCloseDelay_, favSheet_.data(), [this] { btnCancelOnAddFavouriteWindowTapped(); });
}

void SummaryController::btnCancelOnAddFavouriteWindowTapped() {
    if (!favSheet_) return;
    QDialog* dialog = favSheet_;
    favSheet_ = nullptr;
    txtFavBatch = nullptr;
    lblAlertSameFavName = nullptr;
    busy_.release();
    dialog->disconnect(this);
    dialog->close();
}

// ---- session ----

void SummaryController::showSaveSessionWindow() {
    if (sessionSheet_) return;
    QMessageBox* box = sheet(screen_, "windowSaveSession", tr("Save Session"),
                             tr("Do you want to save this session? It is offered again at the next start."));
    auto* save = box->addButton(tr("Save"), QMessageBox::AcceptRole);
    save->setObjectName(QStringLiteral("btnSaveSession"));
    auto* close = box->addButton(tr("Close without saving"), QMessageBox::DestructiveRole);
    close->setObjectName(QStringLiteral("btnCloseOnSessionWindow"));
    auto* cancel = box->addButton(QMessageBox::Cancel);
    cancel->setObjectName(QStringLiteral("btnCancelOnSaveSession"));
    busy_.acquire();
    connect(box, &QMessageBox::finished, this, [this, box, save, close] {
        if (box->clickedButton() == save) btnSaveSessionTapped();
        else if (box->clickedButton() == close) btnCloseOnSessionWindowTapped();
        else btnCancelOnSaveSessionTapped();
    });
    sessionSheet_ = box;
    box->open();
}

void SummaryController::endSheet(QDialog* dialog) {
    if (!dialog) return;
    busy_.release();
    dialog->disconnect(this);
    dialog->close();
}

void SummaryController::btnSaveSessionTapped() {
    QMessageBox* box = sessionSheet_;
    sessionSheet_ = nullptr;
    endSheet(box);
    showLoading(true, kProcessing);
    // What is saved is copied now, on the main thread: edits made while the save runs
    // never reach it half-way.
    auto snapshot = std::make_shared<SavedState::SessionSnapshot>(SavedState::snapshotSession(AppDelegate::shared()));
    platform::UserDefaults* store = &defaults();
    auto saved = std::make_shared<bool>(false);
    worker_([snapshot, store, saved] { *saved = SavedState::saveProjectSession(*snapshot, *store); },
            [this, saved] {
                showLoading(false, kProcessing);
                // A session that did not reach the disk would be lost with the window:
                // the user is told, and the window stays for another try or a close
                // without saving.
                if (*saved) closeWindowThroughShell();
                else openAlert(runalerts::SessionNotSaved);
            });
}

void SummaryController::btnCloseOnSessionWindowTapped() {
    SavedState::removeProjectSession(defaults());
    QMessageBox* box = sessionSheet_;
    sessionSheet_ = nullptr;
    endSheet(box);
    closeWindowThroughShell();
}

void SummaryController::btnCancelOnSaveSessionTapped() {
    QMessageBox* box = sessionSheet_;
    sessionSheet_ = nullptr;
    endSheet(box);
}

void SummaryController::closeWindowThroughShell() {
    emit windowCloseRequested();
    if (SetupDelegate* d = screen_->delegate()) d->closeWindowFromSetupVC();
}

// ---- alerts ----

bool SummaryController::showAlertWithType(int type) {
    if (busy_.isBusy()) return false;
    return openAlert(type);
}

bool SummaryController::openAlert(int type) {
    if (alert_) return false;
    const auto content =
        runalerts::contentFor(type, AppDelegate::shared().arraySelectedImagesToProcess.size());
    QMessageBox* box =
        makeShortAlert(screen_, QStringLiteral("alert%1").arg(type), QMessageBox::NoIcon, content.title, content.message);
    QPushButton* ok = content.ok ? box->addButton(QMessageBox::Ok) : nullptr;
    QPushButton* yes = content.yes ? box->addButton(QMessageBox::Yes) : nullptr;
    if (content.noThanks) box->addButton(tr("No Thanks"), QMessageBox::RejectRole)->setObjectName(QStringLiteral("btnNoOnAlert"));
    if (yes) yes->setObjectName(QStringLiteral("btnYesOnAlert"));
    if (ok) ok->setObjectName(QStringLiteral("btnOkOnAlert"));
    alertTag = type;
    busy_.acquire();
    connect(box, &QMessageBox::finished, this, [this, box, ok, yes] {
        QAbstractButton* clicked = box->clickedButton();
        if (clicked && clicked == ok) btnOkOnAlertTapped();
        else if (clicked && clicked == yes) btnYesOnAlertTapped();
        else btnNoOnAlertTapped();
    });
    alert_ = box;
    box->open();
    return true;
}

void SummaryController::btnOkOnAlertTapped() {
    const int tag = alertTag;
    endSheet(alert_.data());
    alert_ = nullptr;
    if (tag == runalerts::PhotosDeleted)
        if (SetupDelegate* d = screen_->delegate()) d->btnStartNewBatchFromSetupVCTapped();
}

void SummaryController::btnYesOnAlertTapped() {
    const int tag = alertTag;
    endSheet(alert_.data());
    alert_ = nullptr;
    if (tag != runalerts::RateApp) return;
    platform::Workspace* workspace = workspace_;
    const bool opened = runalerts::acceptRating([workspace](const QUrl& url) { return workspace->openURL(url); },
                                                bundleVersion_, defaults());
    performBackOnSummaryAction();
    if (!opened)
        showOpenFailure(openfailure::Request::StorePage, runalerts::storePageUrl(runalerts::kAppStreamId).toString());
}

void SummaryController::btnNoOnAlertTapped() {
    const int tag = alertTag;
    endSheet(alert_.data());
    alert_ = nullptr;
    if (tag == runalerts::RateApp) performBackOnSummaryAction();
}

// ---- way back ----

void SummaryController::btnBackToPreviewOnSummaryTapped() {
    if (!runalerts::shouldAskForRating(bundleVersion_, defaults())) {
        performBackOnSummaryAction();
    } else if (!showAlertForRateApp()) {
        // Something else holds the screen: go back without asking.
        performBackOnSummaryAction();
    }
}

void SummaryController::performBackOnSummaryAction() {
    postRunNotification(names::DisbalePrevBtn);
    removeSummaryView();
    checkForDeletedPhotosInSourceFolder(false);
    QTimer::singleShot(enableBackDelay_, screen_, &SetupVC::enableBackButton);
}

void SummaryController::checkForDeletedPhotosInSourceFolder(bool remove) {
    auto& app = AppDelegate::shared();
    const auto check = runalerts::checkForDeletedPhotosInSourceFolder(app.arraySelectedImagesToProcess, remove);
    app.arraySelectedImagesToProcess = check.kept;
    if (check.existing == 0) showAlertForAllPhotosDeleted();
}

void SummaryController::showAlertForAllPhotosDeleted() { showDeletedPhotosAlert(25); }

void SummaryController::showDeletedPhotosAlert(int attempts) {
    // The preview that the way back starts covers the screen for a moment; the user must
    // still learn that the photos are gone, so the alert waits for it instead of being lost.
    QTimer::singleShot(deletedAlertDelay_, this, [this, attempts] {
        if (!showAlertWithType(runalerts::PhotosDeleted) && attempts > 1) showDeletedPhotosAlert(attempts - 1);
    });
}

// ---- loading overlay ----

void SummaryController::showLoading(bool show, const QString& text) {
    // The overlay holds the screen busy once, however often it is shown.
    loading_->showLoading(show, text);
    busy_.setHeld(loadingHeld_, show);
}

void SummaryController::showLoadingNotification() { showLoading(true, kProcessing); }

void SummaryController::hideLoadingNotification() { showLoading(false, kProcessing); }

void SummaryController::tipsDisplayNotification() {
    loading_->setBackdropShown(false);
    busy_.setHeld(tipHeld_, true);
}

void SummaryController::tipsHideNotification() {
    loading_->setBackdropShown(true);
    busy_.setHeld(tipHeld_, false);
}

// ---- footer ----

void SummaryController::configureFooter() {
    const AppDelegate& app = AppDelegate::shared();
    const bool older = app.isOSX_7_AndAbove || app.isOSX_8_AndAbove || app.isOSX_9_AndAbove;
    middleBG->setStyleSheet(
        QStringLiteral("#middleBG { background: rgba(25,25,25,%1); }").arg(footerAlpha(older), 0, 'f', 2));
}
