#include "shell/MainWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/CommonFunc.h"
#include "records/MetaDataObject.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "shell/StepIndicator.h"
#include "ui/KeyboardHelpers.h"

namespace names = platform::notifications;

namespace {

const QString kWindowTitle = QStringLiteral("Brisko Photos");

const MainWindowController::Question kSaveSessionQuestion{
    QStringLiteral("SAVE SESSION"),
    QStringLiteral("Do you want to save the current batch before closing?\n"
                   "You can continue with it when you open Brisko Photos again."),
    {QStringLiteral("Save"), QStringLiteral("Don't Save"), QStringLiteral("Cancel")}};
enum { kSave = 0, kDontSave = 1, kCancel = 2 };

const MainWindowController::Question kNoEffectsQuestion{
    QStringLiteral("NO EFFECTS APPLIED"),
    QStringLiteral("No effect has been applied to this batch.\n"
                   "Do you want to continue with renaming and format conversion only?"),
    {QStringLiteral("Continue"), QStringLiteral("Cancel")}};

void post(const QString& name, const QVariantMap& info = {}) {
    platform::NotificationCenter::defaultCenter().postNotification(name, info);
}

// A screen made on first use: added to the stack with the controller as its delegate.
template <class Screen, class Delegate>
Screen* lazyScreen(Screen*& slot, QStackedWidget* stack, Delegate* delegate) {
    if (!slot) {
        slot = new Screen(stack);
        slot->setDelegate(delegate);
        stack->addWidget(slot);
    }
    return slot;
}

}  // namespace

MainWindowController::MainWindowController(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(kWindowTitle);
    setObjectName(QStringLiteral("MainWindow"));
    // The effects screen (tables, the 580 x 440 preview and the parameter column side by
    // side) needs about 1170 points: the window never gets narrower than that.
    setMinimumSize(1180, 720);
    resize(1280, 800);
    // Return and Enter press the button that has the keyboard, here as in the dialogs.
    keyboard::pressButtonsWithReturn();

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The header doubles as the window's own title bar strip.
    auto* header = new QWidget(central);
    header->setObjectName(QStringLiteral("titleBar"));
    header->setAutoFillBackground(true);
    QPalette hp = header->palette();
    hp.setColor(QPalette::Window, QColor(41, 41, 41));
    hp.setColor(QPalette::WindowText, QColor(235, 235, 235));
    header->setPalette(hp);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(16, 8, 16, 6);
    auto* title = new QLabel(kWindowTitle, header);
    QFont tf = title->font();
    tf.setBold(true);
    tf.setPointSizeF(tf.pointSizeF() * 1.2);
    title->setFont(tf);
    headerRow->addWidget(title);
    headerRow->addSpacing(24);
    steps_ = new StepIndicator(header);
    headerRow->addWidget(steps_, 1);
    column->addWidget(header);

    stack_ = new QStackedWidget(central);
    column->addWidget(stack_, 1);
    setCentralWidget(central);

    resizeTimer_ = new QTimer(this);
    resizeTimer_->setSingleShot(true);
    resizeTimer_->setInterval(300);
    connect(resizeTimer_, &QTimer::timeout, this, [] { post(names::WindowEndResizing); });

    auto& center = platform::NotificationCenter::defaultCenter();
    using platform::DeliverOn;
    center.addObserver(names::PreviewAppear, [this](const auto&) { convertFormatViewWillAppear(); },
                       DeliverOn::MainThread, this);
    center.addObserver(names::ProcessStart, [this](const auto&) { processStartViewWillAppear(); },
                       DeliverOn::MainThread, this);
    center.addObserver(names::ProcessComplete, [this](const auto&) { processCompleteViewWillAppear(); },
                       DeliverOn::MainThread, this);

    // Saved data that could not be read was kept aside: the user hears of it once, after
    // the work that read it has finished. What start-up found is told first.
    center.addObserver(names::SavedDataKeptAside,
                       [this](const auto&) {
                           QMetaObject::invokeMethod(this, [this] { showKeptAsideNotices(); }, Qt::QueuedConnection);
                       },
                       DeliverOn::MainThread, this);
    QMetaObject::invokeMethod(this, [this] { showKeptAsideNotices(); }, Qt::QueuedConnection);

    // Quitting from the keyboard goes the way of the close button: a run is stopped and the
    // session offered first.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quit->setContext(Qt::ApplicationShortcut);
    connect(quit, &QShortcut::activated, this, &MainWindowController::btnCloseWindowTapped);

    onClosed_ = [] { QCoreApplication::quit(); };
    sessionSaver_ = [this] { return SavedState::saveProjectSessionToDefault(AppDelegate::shared(), userDefaults()); };
    showScreen(ScreenAddPhotos);
}

void MainWindowController::showKeptAsideNotices() {
    platform::UserDefaults& standard = platform::UserDefaults::standardUserDefaults();
    QList<platform::UserDefaults::KeptAsideNotice> notices = standard.takeKeptAsideNotices();
    if (&userDefaults() != &standard) notices += userDefaults().takeKeptAsideNotices();
    if (const auto alert = SavedState::keptAsideAlert(notices))
        ask({alert->title, alert->message, {CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_OK_CAPS"))}, true}, {});
}

MainWindowController::~MainWindowController() {
    platform::NotificationCenter::defaultCenter().removeObservers(this);
}

QWidget* MainWindowController::screenIfMade(int screen) const {
    switch (screen) {
    case ScreenAddPhotos: return addPhotos_;
    case ScreenAdjustFilter: return adjustFilter_;
    case ScreenSetup: return setup_;
    default: return nullptr;
    }
}

AddPhotosVC* MainWindowController::addPhotosVC() { return lazyScreen(addPhotos_, stack_, this); }

AdjustFilterVC* MainWindowController::adjustFilterVC() { return lazyScreen(adjustFilter_, stack_, this); }

SetupVC* MainWindowController::setupVC() {
    const bool made = setup_ != nullptr;
    lazyScreen(setup_, stack_, this);
    // A close asked during a run waits for the run to stop; "No" to stopping forgets it.
    if (!made) connect(setup_, &SetupVC::stopDeclined, this, [this] { closeAfterRun_ = false; });
    return setup_;
}

void MainWindowController::postAppear(int screen, bool appear) {
    switch (screen) {
    case ScreenAddPhotos: post(appear ? names::AddPhotosViewAppear : names::AddPhotosViewDisAppear); break;
    case ScreenAdjustFilter: post(appear ? names::AdjustfilterAppear : names::AdjustfilterDisAppear); break;
    case ScreenSetup: post(appear ? names::SetupViewAppear : names::SetupViewDisAppear); break;
    default: break;
    }
}

void MainWindowController::showScreen(int screen) {
    QWidget* target = nullptr;
    switch (screen) {
    case ScreenAddPhotos: target = addPhotosVC(); break;
    case ScreenAdjustFilter: target = adjustFilterVC(); break;
    case ScreenSetup: target = setupVC(); break;
    default: return;
    }
    const int previous = current_;
    if (previous == screen) return;
    if (previous >= 0) postAppear(previous, false);
    current_ = screen;
    stack_->setCurrentWidget(target);
    setStep(screen);
    postAppear(screen, true);
}

void MainWindowController::setStep(int step) { steps_->setStep(step); }
int MainWindowController::step() const { return steps_->step(); }

// ---- add-photos screen

void MainWindowController::btnNextFromAddPhotosVcTapped() {
    AppDelegate& app = AppDelegate::shared();
    const int index = app.selectedImageIndex;
    if (index < 0 || index >= app.arraySelectedImagesToProcess.size() || !app.arraySelectedImagesToProcess[index]) {
        // An index past the batch is treated as no selection rather than read out of range.
        app.selectedImageFile.reset();
        app.selectedImageIndex = -1;
    } else {
        const std::shared_ptr<PhotoFile>& photo = app.arraySelectedImagesToProcess[index];
        const platform::ImageHeader header = platform::readImageHeader(photo->filePath);
        if (header.valid()) {
            // Kept upright like the rest of the record: orientations 5..8 turn the picture on its side.
            const bool sideways = header.orientation >= 5 && header.orientation <= 8;
            photo->width = sideways ? header.height : header.width;
            photo->height = sideways ? header.width : header.height;
        } else {
            platform::log(u"could not read the size of %@", photo->filePath);
        }
        app.selectedImageFile = photo;
    }
    showScreen(ScreenAdjustFilter);
    post(names::SelectedPhotoChanged);
}

// The add-photos screen also hears of batches changed elsewhere (the skipped photos of a
// run handed to the effects screen): the steps follow only while it is the screen shown.
void MainWindowController::photosChangedNotification() {
    if (current_ == ScreenAddPhotos) setStep(0);
}

// ---- effects screen

void MainWindowController::btnNextFromAdjustFilterVCTapped() {
    AppDelegate& app = AppDelegate::shared();
    const bool anyEffect = std::any_of(app.arrayAppliedFilters.begin(), app.arrayAppliedFilters.end(),
                                       [](const auto& f) { return f && f->isApplied; });
    auto goOn = [this] {
        showScreen(ScreenSetup);
        post(names::NextFromBtchEffects);
    };
    if (anyEffect) {
        goOn();
        return;
    }
    ask(kNoEffectsQuestion, [goOn](int answer) {
        if (answer == 0) goOn();
    });
}

void MainWindowController::btnBackFromFromAdjustFilterVCTapped() { showScreen(ScreenAddPhotos); }

// ---- output-and-run screen

void MainWindowController::btnBackFromSetupVCTapped() { showScreen(ScreenAdjustFilter); }

void MainWindowController::btnStartNewBatchFromSetupVCTapped() {
    AppDelegate& app = AppDelegate::shared();
    app.isSTART_AS_NEW_BATCH = true;
    // A new batch starts from nothing: no photos, no steps, no output or rename choices.
    app.arraySelectedImagesToProcess.clear();
    app.arrayAppliedFilters.clear();
    app.arrayDestinationPaths.clear();
    app.selectedImageFile.reset();
    app.selectedImageIndex = -1;
    app.selectedOuputSettingObj.reset();
    app.selectedRenameSettingObj.reset();
    app.isPROCESS_SKIPPED_FILES = false;
    app.isPHOTO_DLETED_FROM_DIRECTORY = true;
    // The old batch is no longer offered at the next start.
    SavedState::removeProjectSession(userDefaults());
    showScreen(ScreenAddPhotos);
    if (app.selectedMetatDataSettingObj) app.selectedMetatDataSettingObj->isReset = true;
}

void MainWindowController::btnProcessSkippedFromSetupVCTapped(const QList<std::shared_ptr<PhotoFile>>& skipped) {
    AppDelegate& app = AppDelegate::shared();
    app.arraySelectedImagesToProcess = skipped;
    if (!skipped.isEmpty()) {
        app.selectedImageIndex = 0;
        app.selectedImageFile = skipped.first();
        app.isSELECTED_IMAGE_CHANGED = true;
        app.isPHOTO_DLETED_FROM_DIRECTORY = true;
    } else {
        // Nothing to show: an index into an empty batch would point at nothing.
        app.selectedImageIndex = -1;
        app.selectedImageFile.reset();
    }
    app.isPROCESS_SKIPPED_FILES = true;
    showScreen(ScreenAdjustFilter);
    post(names::ProcessSkippedFiles);
}

void MainWindowController::convertFormatViewWillAppear() { setStep(3); }
void MainWindowController::processStartViewWillAppear() { setStep(4); }
void MainWindowController::processCompleteViewWillAppear() {
    setStep(5);
    if (sessionEnding_) {
        // The run the ending session stopped has its summary and log: nothing is left to wait for.
        QTimer::singleShot(0, this, &MainWindowController::closeWindow);
        return;
    }
    if (!closeAfterRun_) return;
    // The run a close stopped has ended and its summary is written: the close goes on.
    closeAfterRun_ = false;
    QTimer::singleShot(0, this, &MainWindowController::btnCloseWindowTapped);
}

// ---- closing

void MainWindowController::ask(const Question& q, Answer answer) {
    asking_.acquire();
    auto done = [self = QPointer<MainWindowController>(this), answer = std::move(answer)](int button) {
        if (self) self->asking_.release();
        if (answer) answer(button);
    };
    if (asker_) {
        asker_(q, done);
        return;
    }
    auto* box = new QMessageBox(q.isNotice ? QMessageBox::Warning : QMessageBox::Question, q.title, q.message,
                                QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QList<QAbstractButton*> buttons;
    for (const QString& text : q.buttons) buttons << box->addButton(text, QMessageBox::ActionRole);
    // Escape answers as closing the box does: the last choice (Cancel, or OK on a notice).
    if (!buttons.isEmpty()) box->setEscapeButton(buttons.last());
    connect(box, &QMessageBox::finished, this, [box, buttons, done](int) {
        const int index = int(buttons.indexOf(box->clickedButton()));
        done(index < 0 ? int(buttons.size()) - 1 : index);  // closing the box counts as the last choice
    });
    box->open();
}

void MainWindowController::btnCloseWindowTapped() {
    AppDelegate& app = AppDelegate::shared();
    if (app.isSUBWINDOW_OPENED) return;
    if (app.isPHOTOS_PROCESSING_IN_PROGERESS) {
        closeAfterRun_ = true;
        post(names::ProcessStop);
        return;
    }
    if (app.arraySelectedImagesToProcess.isEmpty()) {
        closeWindow();
        return;
    }
    ask(kSaveSessionQuestion, [this](int answer) {
        if (answer == kSave) {
            if (!sessionSaver_) {
                platform::log(u"session save is not available; the window stays open");
                return;
            }
            if (!sessionSaver_()) {
                platform::log(u"session could not be saved; the window stays open");
                ask({CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SESSION_NOT_SAVED_TITLE")),
                     CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SESSION_NOT_SAVED")),
                     {CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_OK_CAPS"))}, true},
                    {});
                return;
            }
            closeWindow();
        } else if (answer == kDontSave) {
            SavedState::removeProjectSession(userDefaults());
            closeWindow();
        }
    });
}

void MainWindowController::sessionEnding() {
    if (sessionEnding_) return;
    sessionEnding_ = true;
    platform::log(u"the session is ending: the application closes");
    if (setup_ && setup_->stopForTermination()) return;  // closes once the run's summary is written
    closeWindow();
}

void MainWindowController::closeWindow() {
    if (inCloseEvent_) {
        // Decided while answering a close request: that request itself closes the window.
        closing_ = true;
        return;
    }
    closing_ = true;
    close();
    closing_ = false;
}

void MainWindowController::closeEvent(QCloseEvent* e) {
    if (!closing_) {
        // The title bar's close button, or the window manager: decide as the close button does.
        inCloseEvent_ = true;
        btnCloseWindowTapped();
        inCloseEvent_ = false;
        if (!closing_) {
            e->ignore();
            return;
        }
        closing_ = false;
    }
    e->accept();
    windowWillClose();
}

void MainWindowController::windowWillClose() {
    if (closed_) return;
    closed_ = true;
    if (onClosed_) onClosed_();
}

platform::UserDefaults& MainWindowController::userDefaults() const {
    return defaults_ ? *defaults_ : platform::UserDefaults::standardUserDefaults();
}

void MainWindowController::setResizeSettleInterval(int ms) { resizeTimer_->setInterval(ms); }

void MainWindowController::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (!isVisible()) return;
    post(names::WindowResized);
    resizeTimer_->start();
}
