#pragma once
// The main window: a header with the application's title and the step indicator, and
// one of three screens below it (0 add photos, 1 effects, 2 output and run), each made
// the first time it is shown and kept. The window answers the screens' delegate calls,
// posts the appear/disappear notifications on every switch and the resize
// notifications, and decides what its close button does.
#include <QMainWindow>
#include <QStringList>
#include <functional>

#include "batch/ui/SetupVC.h"
#include "editor/ui/AdjustFilterVC.h"
#include "import/ui/AddPhotosVC.h"
#include "records/AppDelegate.h"
#include "records/SubWindowHold.h"

class QStackedWidget;
class QTimer;
class StepIndicator;
namespace platform { class UserDefaults; }

class MainWindowController : public QMainWindow,
                             public AddPhotosDelegate,
                             public AdjustFilterDelegate,
                             public SetupDelegate {
    Q_OBJECT
public:
    enum Screen { ScreenAddPhotos = 0, ScreenAdjustFilter = 1, ScreenSetup = 2 };

    // A question for the user, answered later with the index of the chosen button.
    struct Question {
        QString title;
        QString message;
        QStringList buttons;
        bool isNotice = false;  // something to know rather than to decide: a warning sign, not a question mark
    };
    using Answer = std::function<void(int button)>;
    using Asker = std::function<void(const Question&, Answer)>;

    explicit MainWindowController(QWidget* parent = nullptr);
    ~MainWindowController() override;

    // Shows a screen, making it on first use; posts the replaced screen's disappear and
    // the new screen's appear notification and moves the step indicator.
    void showScreen(int screen);
    int currentScreen() const { return current_; }
    // The screen if it has been made, else null.
    QWidget* screenIfMade(int screen) const;
    AddPhotosVC* addPhotosVC();
    AdjustFilterVC* adjustFilterVC();
    SetupVC* setupVC();

    void setStep(int step);
    int step() const;

    // AddPhotosDelegate
    void btnNextFromAddPhotosVcTapped() override;
    void photosChangedNotification() override;
    // AdjustFilterDelegate
    void btnNextFromAdjustFilterVCTapped() override;
    void btnBackFromFromAdjustFilterVCTapped() override;
    // SetupDelegate
    void btnBackFromSetupVCTapped() override;
    void btnStartNewBatchFromSetupVCTapped() override;
    void btnProcessSkippedFromSetupVCTapped(const QList<std::shared_ptr<PhotoFile>>& skipped) override;
    void closeWindowFromSetupVC() override { closeWindow(); }

    void convertFormatViewWillAppear();
    void processStartViewWillAppear();
    void processCompleteViewWillAppear();

    // The close button: ignored while a sub-window is open, stops a running batch,
    // closes an empty batch, otherwise asks whether to save the session.
    void btnCloseWindowTapped();
    // The session is ending (SIGTERM at logout, SIGINT): nobody is there to answer, so
    // nothing is asked. A run is stopped as Stop and Yes stop it, its summary and log are
    // written, and then the window closes; the saved session stays as it was.
    void sessionEnding();

    // Questions go through the asker; the default shows a window-modal message box
    // without blocking the caller.
    void setAsker(Asker asker) { asker_ = std::move(asker); }
    // Saves the session; false keeps the window open. The default stores it in the defaults.
    void setSessionSaver(std::function<bool()> saver) { sessionSaver_ = std::move(saver); }
    // Where the session is saved or forgotten; null means the application's standard defaults.
    void setUserDefaults(platform::UserDefaults* defaults) { defaults_ = defaults; }
    platform::UserDefaults& userDefaults() const;
    // Called once the window has closed; the default quits the application.
    void setOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }
    // Quiet time after the last resize before "notificationWindowEndResizing".
    void setResizeSettleInterval(int ms);
    bool isClosed() const { return closed_; }

protected:
    void closeEvent(QCloseEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void ask(const Question& q, Answer a);
    void closeWindow();
    void windowWillClose();
    void postAppear(int screen, bool appear);
    // One alert for the saved data kept aside since the last one, if any.
    void showKeptAsideNotices();

    QStackedWidget* stack_ = nullptr;
    StepIndicator* steps_ = nullptr;
    AddPhotosVC* addPhotos_ = nullptr;
    AdjustFilterVC* adjustFilter_ = nullptr;
    SetupVC* setup_ = nullptr;
    int current_ = -1;
    QTimer* resizeTimer_ = nullptr;
    Asker asker_;
    std::function<bool()> sessionSaver_;
    platform::UserDefaults* defaults_ = nullptr;
    std::function<void()> onClosed_;
    bool closing_ = false;
    bool inCloseEvent_ = false;
    bool closed_ = false;
    bool closeAfterRun_ = false;  // the close button stopped a run: close once it has ended
    bool sessionEnding_ = false;
    // The application's busy count while a question of the window is open.
    SubWindowHold asking_{AppDelegate::shared().isSUBWINDOW_OPENED};
};
