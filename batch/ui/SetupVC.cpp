#include "batch/ui/SetupVC.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "batch/RenameScheme.h"
#include "batch/RunStartGate.h"
#include "batch/ui/OriginalsNotes.h"
#include "batch/ui/OutputFolderChoice.h"
#include "batch/ui/PreviewTables.h"
#include "batch/ui/SummaryView.h"
#include "engine/Utils_OverlaysSupport.h"
#include "ui/SmallViews.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/Paths.h"
#include "records/AppDelegate.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"
#include "ui/BarProgressIndicator.h"
#include "platform/foundation/NativeNames.h"

#include <QStandardPaths>

namespace names = platform::notifications;

namespace {

void postSetupNotification(const QString& name) { platform::NotificationCenter::defaultCenter().postNotification(name); }


}  // namespace

SetupVC::SetupVC(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SetupVC"));
    // Sheets get a dark background too: the screen's labels are white.
    setStyleSheet(QStringLiteral("SetupVC, #vwContainerMain { background:#2b2b2b; } QLabel { color:white; }"
                                 " QMessageBox, QDialog { background:#333333; }"));
    // The screen and its run view paint the dark background their white texts are drawn for.
    setAttribute(Qt::WA_StyledBackground, true);
    stack_ = new QStackedLayout(this);

    vwConvertFormatOrRename = new ConvertFormatOrRenameView(this);
    vwConvertFormatOrRename->setDelegate(this);
    stack_->addWidget(vwConvertFormatOrRename);

    // The run view.
    vwContainerMain = new QWidget(this);
    vwContainerMain->setObjectName(QStringLiteral("vwContainerMain"));
    vwContainerMain->setAttribute(Qt::WA_StyledBackground, true);
    auto* run = new QVBoxLayout(vwContainerMain);
    auto* top = new QHBoxLayout;
    imgvwCurrentPhoto = new QLabel(vwContainerMain);
    imgvwCurrentPhoto->setFixedSize(160, 120);
    imgvwCurrentPhoto->setAlignment(Qt::AlignCenter);
    imgvwCurrentPhoto->setStyleSheet(QStringLiteral("background:#1e1e1e;"));
    lblCurrntFilePath = new QLabel(vwContainerMain);
    lblCurrntFilePath->setObjectName(QStringLiteral("lblCurrntFilePath"));
    top->addWidget(imgvwCurrentPhoto);
    top->addWidget(lblCurrntFilePath, 1);
    run->addLayout(top);
    tblPreviewPaths = new QTableView(vwContainerMain);
    tblPreviewPaths->setObjectName(QStringLiteral("tblPreviewPaths"));
    runModel = new RunTableModel(this);
    tblPreviewPaths->setModel(runModel);
    tblPreviewPaths->setTextElideMode(Qt::ElideLeft);
    tblPreviewPaths->verticalHeader()->hide();
    tblPreviewPaths->setShowGrid(false);
    tblPreviewPaths->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tblPreviewPaths->setTabKeyNavigation(false);  // one stop for Tab; the arrows move through its rows
    tblPreviewPaths->setStyleSheet(
        QStringLiteral("QTableView { background:#222; border:1px solid #222; } QTableView:focus { border-color:#1ab999; }"
                       " QHeaderView::section { background:#333; color:#bbb; border:none; }"));
    run->addWidget(tblPreviewPaths, 1);
    progressIndicator = new BarProgressIndicator(vwContainerMain);
    progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    progressIndicator->hide();
    run->addWidget(progressIndicator);
    auto* bar = new QHBoxLayout;
    btnBackRun = new QPushButton(tr("Back"), vwContainerMain);
    btnBackRun->setObjectName(QStringLiteral("btnBackRun"));
    btnStop = new QPushButton(tr("Stop"), vwContainerMain);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    bar->addWidget(btnBackRun);
    bar->addStretch(1);
    bar->addWidget(btnStop);
    run->addLayout(bar);
    stack_->addWidget(vwContainerMain);

    vwSummary = new QWidget(this);
    vwSummary->setObjectName(QStringLiteral("vwSummary"));
    stack_->addWidget(vwSummary);

    runner_ = new BatchRunner(nullptr, this);
    runner_->setObserver(this);
    runner_->setAsker(this);
    runner_->setThumbnailSize(imgvwCurrentPhoto->size());
    connect(runner_, &BatchRunner::runEnded, this, &SetupVC::runFinished);
    connect(btnStop, &QPushButton::clicked, runner_, &BatchRunner::btnStopProcessTapped);
    connect(btnBackRun, &QPushButton::clicked, this, &SetupVC::btnBackTapped);

    auto& center = platform::NotificationCenter::defaultCenter();
    using platform::DeliverOn;
    const std::pair<QString, void (SetupVC::*)()> observed[] = {
        {names::WindowResized, &SetupVC::windowisResizing},
        {names::WindowEndResizing, &SetupVC::windowEndResizing},
        {names::SetupViewAppear, &SetupVC::viewWillAppearNotofication},
        {names::ProcessStart, &SetupVC::processStartNotification},
        {names::ProcessStartFromconvertFormat, &SetupVC::processStartingFromConvertFormat},
    };
    for (const auto& [name, handler] : observed)
        center.addObserver(name, [this, handler = handler](const auto&) { (this->*handler)(); }, DeliverOn::MainThread,
                           this);
    center.addObserver(names::ProcessStop, [this](const auto&) { stopProcessNotification(); }, DeliverOn::MainThread,
                       this);

    summaryController = new SummaryController(this);
    initialSetupView();
    setToolTips();
}

SetupVC::~SetupVC() {
    platform::NotificationCenter::defaultCenter().removeObservers(this);
    runner_->setObserver(nullptr);
    runner_->setAsker(nullptr);
}

void SetupVC::showPage(QWidget* page) { stack_->setCurrentWidget(page); }

QPushButton* SetupVC::backButton() const { return vwConvertFormatOrRename->btnBack; }

// ---- screen life ----

void SetupVC::initialSetupView() {
    tblPreviewPaths->setSelectionMode(QAbstractItemView::NoSelection);
    windowisResizing();
    runModel->setContents(AppDelegate::shared().arraySelectedImagesToProcess,
                          AppDelegate::shared().arrayDestinationPaths);
    AddConvertFormatView();
}

void SetupVC::setToolTips() {
    SummaryView* summary = summaryController->summaryView();
    const std::pair<QWidget*, QString> tips[] = {
        {btnStop, QStringLiteral("Click here to STOP the Batch process")},
        {vwConvertFormatOrRename->btnStart,
         QStringLiteral("Click 'Start Process' button to initiate the batch process on the added photos")},
        {summary->btnAddtoFav, QStringLiteral("Click here to save our Batch Steps as Favorite")},
        {summary->btnShowLog, QStringLiteral("Click here to view the Batch process detailed log")},
        {summary->btnOpenOutputFolder, QStringLiteral("Click here to open the destination folder")},
        {summary->btnSkippedPhotos, QStringLiteral("Click here to edit the skipped photos")},
        {summary->btnStartNewBatch, QStringLiteral("Click here to initiate a new batch")},
        {summary->btnBackToPreviewOnSummary, QStringLiteral("Go back to Batch Effects")},
        // The run view's Back leads to the options.
        {btnBackRun, QStringLiteral("Go back to Save options screen")},
    };
    for (const auto& [control, tip] : tips) control->setToolTip(tip);
}

void SetupVC::windowisResizing() {
    // The two path columns share the table's width.
    tblPreviewPaths->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

void SetupVC::windowEndResizing() { windowisResizing(); }

void SetupVC::viewWillAppearNotofication() {
    // Coming back to the screen never finds a run going on.
    if (runner_->state() != BatchRunner::State::Running) AppDelegate::shared().isPHOTOS_PROCESSING_IN_PROGERESS = false;
    windowisResizing();
    runModel->setContents(AppDelegate::shared().arraySelectedImagesToProcess,
                          AppDelegate::shared().arrayDestinationPaths);
    AddConvertFormatView();
    QTimer::singleShot(300, this, [this] {
        enableBackButton();
        postResizeNotificationAfterDelay();
    });
}

void SetupVC::postResizeNotificationAfterDelay() { postSetupNotification(names::ResizeTableHeader); }

void SetupVC::enableBackButton() { postSetupNotification(names::EnbalePrevBtn); }

void SetupVC::AddConvertFormatView() {
    vwConvertFormatOrRename->setDelegate(this);
    stack_->setCurrentWidget(vwConvertFormatOrRename);
    postSetupNotification(names::SetupConvertAndRename);
    QTimer::singleShot(500, this, &SetupVC::windowEndResizing);
    postSetupNotification(names::PreviewAppear);
    postSetupNotification(names::ResizeTableHeader);
}

void SetupVC::removeConvertFormatView() {
    windowisResizing();
    stack_->setCurrentWidget(vwContainerMain);
}

void SetupVC::btnBackTapped() {
    if (runner_->isWorkerAlive() || runner_->state() == BatchRunner::State::Running) return;
    QTimer::singleShot(50, this, &SetupVC::performBackBtnAction);
}

void SetupVC::performBackBtnAction() { AddConvertFormatView(); }

void SetupVC::btnBackOnConvertOrRenameVCTapped() {
    if (!AppDelegate::shared().isSUBWINDOW_OPENED && delegate_) delegate_->btnBackFromSetupVCTapped();
}

// ---- alerts ----

QMessageBox* SetupVC::messageBox(const QString& name, const QString& title, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, this);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    return box;
}

void SetupVC::showAlertOnPreviewTappedWithMsg(const QString& message) { runShowsAlert(message); }

void SetupVC::runShowsAlert(const QString& text) {
    lblAlertMsgOnAlertWin = text;
    hideNoPhotosAlertWindow(false);
    // Short alerts close by themselves.
    QTimer::singleShot(1000, alertWin_.data(), [this] { hideNoPhotosAlertWindow(true); });
}

void SetupVC::hideNoPhotosAlertWindow(bool hide) {
    SubWindowHold& busy = summaryController->busy();
    if (hide) {
        if (!alertWin_) return;
        QMessageBox* box = alertWin_;
        alertWin_ = nullptr;
        box->disconnect(this);
        box->close();
        busy.release();
        return;
    }
    if (alertWin_) {
        alertWin_->setText(lblAlertMsgOnAlertWin);
        return;
    }
    alertWin_ = messageBox(QStringLiteral("win_alert"), QString(), lblAlertMsgOnAlertWin);
    busy.acquire();
    // Closed by other means (Escape): the screen is free again all the same.
    connect(alertWin_, &QDialog::finished, this, [this] { hideNoPhotosAlertWindow(true); });
    alertWin_->open();
}

void SetupVC::showAlertWithType(int type) { summaryController->showAlertWithType(type); }

// ---- the start ----

void SetupVC::processStartingFromConvertFormat() { isProcessForRestoreExif = false; }

void SetupVC::calculateErrorFiles() {
    const AppDelegate& app = AppDelegate::shared();
    calculatedErrors = PreviewClassifier::calculateErrorFiles(
        app.arrayDestinationPaths, PreviewClassifier::Options::ofBatch(app.selectedOuputSettingObj.get()));
    QStringList missingPlanned;
    for (const auto& record : app.arrayDestinationPaths) {
        if (record && calculatedErrors.arrayFileNotFound.contains(record->oldFilePath)) missingPlanned << record->filePath;
    }
    for (const QString& line : startgate::classificationLogLines(calculatedErrors, missingPlanned))
        platform::log(u"%@", line);
}

void SetupVC::btnPreviewOnConvertOrRenameVCTapped() {
    calculateErrorFiles();
    // A file may have changed since the names were planned (one that could not be read,
    // mended): the view's counts follow what the start found.
    ConvertFormatOrRenameView* view = vwConvertFormatOrRename;
    if (view->classification.errorCount() != calculatedErrors.errorCount() ||
        view->classification.warningCount() != calculatedErrors.warningCount())
        view->btnPreviewFilesModeTapped(view->flagPreviewFilesMode);
    const AppDelegate& app = AppDelegate::shared();
    const auto& output = app.selectedOuputSettingObj;
    bool libraryPhoto = false;
    for (const auto& photo : app.arraySelectedImagesToProcess) libraryPhoto = libraryPhoto || (photo && photo->isIphotosNode);
    const bool toSourceFolders = output && output->useSourceFolder.value_or(false);
    const QString libraryFolder = outputfolder::libraryOutputFolder();
    const startgate::Decision decision = startgate::decide(int(app.arrayDestinationPaths.size()),
                                                           calculatedErrors.notWrittenCount(),
                                                           libraryPhoto && toSourceFolders, libraryFolder);
    if (decision.outcome == startgate::Outcome::Refused) {
        showAlertWithType(115);
        return;
    }
    // Whatever the run sends to the Trash is said before it starts.
    showStartProcessPrompt(
        originalsnotes::startQuestion(decision.text, originalsnotes::beforeRun(output.get(), calculatedErrors)));
}

void SetupVC::showStartProcessPrompt(const QString& text) {
    removeStartProcessPrompt();
    QMessageBox* box = messageBox(QStringLiteral("windowStartProcessPrompt"), tr("Start"), text);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    summaryController->busy().acquire();
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->clickedButton() == box->button(QMessageBox::Yes)) {
            btnYesOnStartProcessWindowTapped();
        } else {
            btnNoOnStartProcessWindowTapped();
        }
    });
    startQuestion_ = box;
    box->open();
}

void SetupVC::removeStartProcessPrompt() {
    if (!startQuestion_) return;
    QMessageBox* box = startQuestion_;
    startQuestion_ = nullptr;
    summaryController->busy().release();
    box->disconnect(this);
    box->close();
}

void SetupVC::btnNoOnStartProcessWindowTapped() { removeStartProcessPrompt(); }

void SetupVC::btnYesOnStartProcessWindowTapped() {
    removeStartProcessPrompt();
    sendStartProcessRequest();
}

void SetupVC::sendStartProcessRequest() {
    if (AppDelegate::shared().arraySelectedImagesToProcess.isEmpty()) {
        AddConvertFormatView();
        return;
    }
    postSetupNotification(names::ProcessStart);
    removeConvertFormatView();
}

void SetupVC::processStartNotification() {
    processStartedDateTime = QDateTime::currentDateTime();
    processStartTimeStr = startgate::startTimeText(processStartedDateTime);
    btnProcessTapped();
    summaryController->runStarted(processStartedDateTime, processStartTimeStr);
    summaryController->updateBottomInfoWithTimerFlag(true);
}

void SetupVC::resetUIforNewProcess() {
    AppDelegate& app = AppDelegate::shared();
    app.isPHOTOS_PROCESSING_IN_PROGERESS = false;
    for (const auto& photo : app.arraySelectedImagesToProcess) {
        if (photo) photo->processStatus = PhotoFile::NotProcessed;
    }
    app.arraySelectedImagesToProcess = QList<std::shared_ptr<PhotoFile>>(app.arraySelectedImagesToProcess);
    runModel->setContents(app.arraySelectedImagesToProcess, app.arrayDestinationPaths);
}

void SetupVC::btnProcessTapped() {
    resetUIforNewProcess();
    progressIndicator->setDoubleValue(0);
    progressIndicator->show();
    BatchRunInput input = BatchRunInput::fromAppDelegate();
    input.arrayEmptyNames = calculatedErrors.arrayEmptyNames;
    input.arrayInvalidFileName = calculatedErrors.arrayInvalidFileName;
    input.arrayDuplicateNames = calculatedErrors.arrayDuplicateNames;
    input.arrayFileNotFound = calculatedErrors.arrayFileNotFound;
    input.arrayFileAlreadyExists = calculatedErrors.arrayFileAlreadyExists;
    input.arrayReplacesSource = calculatedErrors.arrayReplacesSource;
    input.isProcessForRestoreExif = isProcessForRestoreExif;
    runner_->startProcessingOfPhotos(std::move(input));
}

void SetupVC::btnRestoreExifDataTapped() {
    isProcessForRestoreExif = true;
    stack_->setCurrentWidget(vwContainerMain);
    btnYesOnStartProcessWindowTapped();
}

// ---- the run ----

void SetupVC::runDidStart(int) {
    btnStop->setEnabled(true);
    btnBackRun->setEnabled(false);
    lblCurrntFilePath->clear();
}

void SetupVC::runShowsPhoto(int, const QImage& thumbnail) {
    imgvwCurrentPhoto->setPixmap(QPixmap::fromImage(thumbnail));
}

void SetupVC::runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& photo, int progress) {
    progressIndicator->setDoubleValue(progress);
    vwConvertFormatOrRename->setBatchInfo();
    summaryController->setBatchInfo();
    summaryController->setProcessInfoAtBottm();
    if (row < 0 || row >= runModel->rowCount()) return;
    runModel->rowChanged(row);
    if (photo) lblCurrntFilePath->setText(platform::displayPath(photo->filePath));
    tblPreviewPaths->scrollTo(runModel->index(row, 0));
}

void SetupVC::runDidEnd(bool finished) {
    // No photo is in hand any more: the view shows the empty picture instead of the last one.
    imgvwCurrentPhoto->setPixmap(QPixmap::fromImage(overlays::resourceImage(QStringLiteral("place_holder.png"))
                                                        .scaled(imgvwCurrentPhoto->size(), Qt::KeepAspectRatio,
                                                                Qt::SmoothTransformation)));
    btnStop->setEnabled(false);
    btnBackRun->setEnabled(true);
    summaryController->addSummaryViewIsFinished(finished);
}

void SetupVC::runShowsLoading(bool show, const QString& text) { summaryController->showLoading(show, text); }

void SetupVC::stopProcessNotification() { runner_->btnStopProcessTapped(); }

bool SetupVC::stopForTermination() {
    using State = BatchRunner::State;
    const State state = runner_->state();
    const bool going = state == State::Running || state == State::StopDeferred || state == State::StopAsked ||
                       state == State::LowSpace;
    if (going) runner_->stopWithoutAsking();
    return going || runner_->isWorkerAlive() || summaryController->isSummaryBeingMade();
}

void SetupVC::askToStop(const QString& question) {
    closeRunQuestion();
    QMessageBox* box = messageBox(QStringLiteral("windowAbortAlert"), tr("Stop"), question);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // Escape answers No: the run goes on.
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->clickedButton() == box->button(QMessageBox::Yes)) btnYesOnAbortTapped();
        else btnNoOnAbortTapped();
    });
    runQuestion_ = box;
    box->open();
}

void SetupVC::btnYesOnAbortTapped() {
    closeRunQuestion();
    runner_->answerStopQuestion(true);
}

void SetupVC::btnNoOnAbortTapped() {
    closeRunQuestion();
    runner_->answerStopQuestion(false);
    emit stopDeclined();
}

void SetupVC::tellLowSpace(std::uint64_t freeBytes) {
    closeRunQuestion();
    QMessageBox* box = messageBox(QStringLiteral("winEnoughSpace"), tr("Low disk space"),
                                  tr("The output disk is almost full (%1 MiB free). The run stops after this photo.")
                                      .arg(freeBytes >> 20));
    box->addButton(QMessageBox::Ok);
    connect(box, &QMessageBox::finished, this, &SetupVC::btnOkOnEnoughtSpcaecTapped);
    runQuestion_ = box;
    box->open();
}

void SetupVC::btnOkOnEnoughtSpcaecTapped() {
    closeRunQuestion();
    runner_->acknowledgeLowSpace();
}

void SetupVC::withdrawQuestion() { closeRunQuestion(); }

void SetupVC::closeRunQuestion() {
    if (!runQuestion_) return;
    QMessageBox* box = runQuestion_;
    runQuestion_ = nullptr;
    box->disconnect(this);
    box->close();
}
