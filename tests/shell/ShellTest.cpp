#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QAbstractButton>
#include <functional>
#include <QMessageBox>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QTemporaryDir>
#include <QTest>

#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectsScreenController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "shell/AppLaunch.h"
#include "shell/MainWindowController.h"
#include "tests/support/TestSupport.h"

using platform::NotificationCenter;
namespace names = platform::notifications;

namespace {

// Records every notification posted while it lives.
struct Recorder {
    QStringList names;
    NotificationCenter::Token token;
    Recorder() {
        token = NotificationCenter::defaultCenter().addObserver({}, [this](const platform::Notification& n) {
            names << n.name;
        });
    }
    ~Recorder() { NotificationCenter::defaultCenter().removeObserver(token); }
};

// A main window whose questions are answered by the test and whose closing is only noted.
struct Window {
    MainWindowController w;
    std::vector<MainWindowController::Question> asked;
    std::vector<MainWindowController::Answer> pending;
    int closedCalls = 0;
    Window() {
        AppLaunch::setLaunchValues(AppDelegate::shared());
        w.setAsker([this](const MainWindowController::Question& q, MainWindowController::Answer a) {
            asked.push_back(q);
            pending.push_back(std::move(a));
        });
        w.setOnClosed([this] { ++closedCalls; });
        w.show();
    }
    ~Window() { AppLaunch::setLaunchValues(AppDelegate::shared()); }
};

std::shared_ptr<PhotoFile> photoAt(const QString& path, int w, int h) {
    testsupport::gradientImage(w, h).save(path, "PNG");
    auto p = std::make_shared<PhotoFile>();
    p->filePath = p->fileURL = path;
    return p;
}

}  // namespace

TEST(SystemVersion, ExactlyOneFlagIsSet) {
    struct Case { const char* version; std::atomic<bool> AppDelegate::*flag; };
    const std::vector<Case> cases = {
        {"10.7", &AppDelegate::isOSX_7_AndAbove},   {"10.8", &AppDelegate::isOSX_8_AndAbove},
        {"10.9", &AppDelegate::isOSX_9_AndAbove},   {"10.10", &AppDelegate::isOSX_10_AndAbove},
        {"10.14", &AppDelegate::isOSX_10_AndAbove}, {"10.15", &AppDelegate::isOSX_15_AndAbove},
        {"10.16", &AppDelegate::isOSX_16_AndAbove}, {"11.2", &AppDelegate::isOSX_16_AndAbove},
        {"12.0", &AppDelegate::isOSX_16_AndAbove},  {"13.0", &AppDelegate::isOSX_10_AndAbove},
        {"6.1", &AppDelegate::isOSX_10_AndAbove},   {"", &AppDelegate::isOSX_10_AndAbove},
    };
    const std::vector<std::atomic<bool> AppDelegate::*> all = {
        &AppDelegate::isOSX_7_AndAbove,  &AppDelegate::isOSX_8_AndAbove,  &AppDelegate::isOSX_9_AndAbove,
        &AppDelegate::isOSX_10_AndAbove, &AppDelegate::isOSX_15_AndAbove, &AppDelegate::isOSX_16_AndAbove};
    AppDelegate& app = AppDelegate::shared();
    for (const Case& c : cases) {
        AppLaunch::setVersionFlags(app, QString::fromLatin1(c.version));
        for (auto flag : all) EXPECT_EQ((app.*flag).load(), flag == c.flag) << c.version;
    }
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+$")).match(AppLaunch::runningSystemVersion()).hasMatch());
}

TEST(StartUp, LaunchValuesFirstLaunchAndPhotosLibrary) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("defaults.plist")));
    defaults.setObject(QStringLiteral("kept?"), QString::fromLatin1(platform::DefaultsKey::ProjectSession));
    LaunchOptions options;
    options.defaults = &defaults;
    options.systemVersion = QStringLiteral("10.15");
    options.photosLibraryPath = dir.filePath(QStringLiteral("none"));
    options.openMainWindow = false;

    AppDelegate& app = AppDelegate::shared();
    app.selectedImageIndex = 7;
    app.selectedCropRatio = 3;
    EXPECT_EQ(AppLaunch::applicationDidFinishLaunching(options), nullptr);
    EXPECT_EQ(app.selectedImageIndex, -1);
    EXPECT_EQ(app.selectedCropRatio, 0);
    EXPECT_EQ(app.scaledImgSize, QSizeF(580, 440));
    EXPECT_EQ(app.ADJUST_FILTER_IMG_CONTAINER_SIZE, QSizeF(580, 440));
    EXPECT_TRUE(app.isAUTO_CORRECT_ORIENTATION);
    EXPECT_EQ(app.arrFileFormatsSupported.size(), 9);
    EXPECT_EQ(app.strAlbumName.size(), 3);
    EXPECT_TRUE(app.isOSX_15_AndAbove);
    EXPECT_FALSE(app.isPHOTOS_APP_INSTALLED);
    // First launch: the old settings are gone and the marker is stored for next time.
    EXPECT_FALSE(defaults.containsKey(QString::fromLatin1(platform::DefaultsKey::ProjectSession)));
    EXPECT_TRUE(defaults.containsKey(QString::fromLatin1(platform::DefaultsKey::IsFirstTimeLaunch)));

    // Second launch keeps what the user saved since.
    defaults.setObject(QStringLiteral("saved"), QString::fromLatin1(platform::DefaultsKey::ProjectSession));
    defaults.synchronize();
    platform::UserDefaults reopened(dir.filePath(QStringLiteral("defaults.plist")));
    options.defaults = &reopened;
    QDir().mkpath(dir.filePath(QStringLiteral("lib")));
    options.photosLibraryPath = dir.filePath(QStringLiteral("lib"));
    AppLaunch::applicationDidFinishLaunching(options);
    EXPECT_EQ(reopened.stringForKey(QString::fromLatin1(platform::DefaultsKey::ProjectSession)), QStringLiteral("saved"));
    EXPECT_TRUE(app.isPHOTOS_APP_INSTALLED);
    AppLaunch::setLaunchValues(app);
}

TEST(MainWindow, SwitchingPostsDisappearThenAppearAndMovesTheSteps) {
    Window win;
    MainWindowController& w = win.w;
    EXPECT_EQ(w.currentScreen(), 0);
    EXPECT_EQ(w.screenIfMade(1), nullptr);  // made on first use only
    Recorder rec;
    struct Case { int to; QStringList expected; int step; };
    // The output screen shows its rename view, which moves the steps on to the preview.
    const std::vector<Case> cases = {
        {1, {names::AddPhotosViewDisAppear, names::AdjustfilterAppear}, 1},
        {2, {names::AdjustfilterDisAppear, names::SetupViewAppear}, 3},
        {2, {}, 3},
        {0, {names::SetupViewDisAppear, names::AddPhotosViewAppear}, 0},
        {2, {names::AddPhotosViewDisAppear, names::SetupViewAppear}, 3},
    };
    const QStringList screenNames{names::AddPhotosViewAppear, names::AddPhotosViewDisAppear, names::AdjustfilterAppear,
                                  names::AdjustfilterDisAppear, names::SetupViewAppear, names::SetupViewDisAppear};
    for (const Case& c : cases) {
        rec.names.clear();
        w.showScreen(c.to);
        QStringList switched;
        for (const QString& name : rec.names) {
            if (screenNames.contains(name)) switched << name;
        }
        EXPECT_EQ(switched, c.expected) << "to " << c.to;
        EXPECT_EQ(w.step(), c.step);
    }
    QWidget* setup = w.screenIfMade(2);
    w.showScreen(1);
    w.showScreen(2);
    EXPECT_EQ(w.screenIfMade(2), setup);  // kept, not made again

    // The run's notifications move the indicator past the screens.
    for (auto [name, step] : std::vector<std::pair<QString, int>>{
             {names::PreviewAppear, 3}, {names::ProcessStart, 4}, {names::ProcessComplete, 5}}) {
        NotificationCenter::defaultCenter().postNotification(name);
        EXPECT_EQ(w.step(), step);
    }
    // The add-photos screen's word that its batch changed moves the steps only while it shows.
    w.photosChangedNotification();
    EXPECT_EQ(w.step(), 5);
    w.showScreen(0);
    w.setStep(3);
    w.photosChangedNotification();
    EXPECT_EQ(w.step(), 0);

    // Resizing reports while it goes on and once it settles.
    w.setResizeSettleInterval(0);
    rec.names.clear();
    w.resize(w.width() + 40, w.height() + 30);
    EXPECT_TRUE(rec.names.contains(names::WindowResized));
    EXPECT_FALSE(rec.names.contains(names::WindowEndResizing));
    QCoreApplication::processEvents();
    EXPECT_TRUE(rec.names.contains(names::WindowEndResizing));
}

TEST(MainWindow, DelegateCallsMoveThroughTheBatch) {
    QTemporaryDir dir;
    Window win;
    MainWindowController& w = win.w;
    AppDelegate& app = AppDelegate::shared();
    Recorder rec;

    // Next from the add-photos screen without a current photo.
    app.selectedImageIndex = 5;  // points past an empty batch
    w.btnNextFromAddPhotosVcTapped();
    EXPECT_EQ(app.selectedImageIndex, -1);
    EXPECT_EQ(app.selectedImageFile, nullptr);
    EXPECT_EQ(w.currentScreen(), 1);
    EXPECT_TRUE(rec.names.contains(names::SelectedPhotoChanged));

    // With one: its size comes from the file.
    auto photo = photoAt(dir.filePath(QStringLiteral("a.png")), 64, 48);
    app.arraySelectedImagesToProcess = {photoAt(dir.filePath(QStringLiteral("b.png")), 8, 8), photo};
    app.selectedImageIndex = 1;
    w.showScreen(0);
    w.btnNextFromAddPhotosVcTapped();
    EXPECT_EQ(app.selectedImageFile, photo);
    EXPECT_EQ(photo->width, 64);
    EXPECT_EQ(photo->height, 48);

    // Next from the effects screen with no effect asks first; "Cancel" stays.
    rec.names.clear();
    w.btnNextFromAdjustFilterVCTapped();
    ASSERT_EQ(win.asked.size(), 1u);
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    win.pending.back()(1);
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    EXPECT_EQ(w.currentScreen(), 1);
    // With an effect step it moves on at once.
    auto step = std::make_shared<AppliedFilter>();
    app.arrayAppliedFilters = {step};
    w.btnNextFromAdjustFilterVCTapped();
    EXPECT_EQ(win.asked.size(), 1u);
    EXPECT_EQ(w.currentScreen(), 2);
    EXPECT_TRUE(rec.names.contains(names::NextFromBtchEffects));

    w.btnBackFromSetupVCTapped();
    EXPECT_EQ(w.currentScreen(), 1);
    w.btnBackFromFromAdjustFilterVCTapped();
    EXPECT_EQ(w.currentScreen(), 0);

    // Skipped photos become the batch.
    w.showScreen(2);
    rec.names.clear();
    w.btnProcessSkippedFromSetupVCTapped({photo});
    EXPECT_EQ(app.arraySelectedImagesToProcess.size(), 1);
    EXPECT_EQ(app.selectedImageIndex, 0);
    EXPECT_TRUE(app.isSELECTED_IMAGE_CHANGED && app.isPHOTO_DLETED_FROM_DIRECTORY && app.isPROCESS_SKIPPED_FILES);
    EXPECT_EQ(w.currentScreen(), 1);
    EXPECT_TRUE(rec.names.contains(names::ProcessSkippedFiles));
    // An empty list leaves no current photo behind.
    w.btnProcessSkippedFromSetupVCTapped({});
    EXPECT_EQ(app.selectedImageIndex, -1);
    EXPECT_EQ(app.selectedImageFile, nullptr);

    // A new batch starts empty on the add-photos screen.
    app.arraySelectedImagesToProcess = {photo};
    w.showScreen(2);
    w.btnStartNewBatchFromSetupVCTapped();
    EXPECT_TRUE(app.isSTART_AS_NEW_BATCH && app.isPHOTO_DLETED_FROM_DIRECTORY);
    EXPECT_TRUE(app.arraySelectedImagesToProcess.isEmpty());
    EXPECT_TRUE(app.arrayAppliedFilters.isEmpty());
    EXPECT_EQ(w.currentScreen(), 0);
}

TEST(MainWindow, CloseButtonCases) {
    AppDelegate& app = AppDelegate::shared();
    QTemporaryDir dir;
    auto photo = photoAt(dir.filePath(QStringLiteral("a.png")), 8, 8);
    enum Expect { Nothing, StopsRun, Closes, Asks };
    struct Case { const char* name; bool subWindow; bool running; bool photos; Expect expect; };
    const std::vector<Case> cases = {
        {"sub-window open", true, true, true, Nothing},
        {"batch running", false, true, true, StopsRun},
        {"empty batch", false, false, false, Closes},
        {"batch to keep", false, false, true, Asks},
    };
    for (const Case& c : cases) {
        Window win;
        Recorder rec;
        app.isSUBWINDOW_OPENED = c.subWindow;
        app.isPHOTOS_PROCESSING_IN_PROGERESS = c.running;
        if (c.photos) app.arraySelectedImagesToProcess = {photo};
        win.w.close();  // the title bar's button goes the same way
        EXPECT_EQ(rec.names.contains(names::ProcessStop), c.expect == StopsRun) << c.name;
        EXPECT_EQ(win.closedCalls, c.expect == Closes ? 1 : 0) << c.name;
        EXPECT_EQ(win.w.isVisible(), c.expect != Closes) << c.name;
        EXPECT_EQ(win.asked.size(), c.expect == Asks ? 1u : 0u) << c.name;
    }

    // The question's answers: cancel stays, a failed save stays, a save closes.
    Window win;
    app.arraySelectedImagesToProcess = {photo};
    int saves = 0;
    bool saveWorks = false;
    win.w.setSessionSaver([&] { ++saves; return saveWorks; });
    win.w.btnCloseWindowTapped();
    win.pending.back()(2);  // Cancel
    EXPECT_TRUE(win.w.isVisible());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    win.w.btnCloseWindowTapped();
    win.pending.back()(0);  // Save, which fails: said, and the window stays
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(win.w.isVisible());
    ASSERT_EQ(win.asked.size(), 3u);
    EXPECT_EQ(win.asked.back().title, "SESSION NOT SAVED");
    EXPECT_TRUE(win.asked.back().isNotice);
    win.pending.back()(0);
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    saveWorks = true;
    win.w.btnCloseWindowTapped();
    win.pending.back()(0);
    EXPECT_EQ(saves, 2);
    EXPECT_FALSE(win.w.isVisible());
    EXPECT_EQ(win.closedCalls, 1);
}

TEST(MainWindow, SessionIsStoredOrForgottenOnClose) {
    AppDelegate& app = AppDelegate::shared();
    QTemporaryDir dir;
    const QString key = QString::fromLatin1(platform::DefaultsKey::ProjectSession);
    auto photo = photoAt(dir.filePath(QStringLiteral("a.png")), 8, 8);
    struct Case { int answer; bool stored; bool closes; };
    for (const Case& c : std::vector<Case>{{0, true, true}, {1, false, true}, {2, true, false}}) {
        platform::UserDefaults defaults(dir.filePath(QStringLiteral("d%1.plist").arg(c.answer)));
        defaults.setObject(QByteArray("old session"), key);
        Window win;
        win.w.setUserDefaults(&defaults);
        app.arraySelectedImagesToProcess = {photo};
        win.w.btnCloseWindowTapped();
        ASSERT_EQ(win.pending.size(), 1u);
        win.pending.back()(c.answer);
        EXPECT_EQ(defaults.containsKey(key), c.stored) << c.answer;
        EXPECT_EQ(win.closedCalls, c.closes ? 1 : 0) << c.answer;
        // Saving replaces the old archive with the current batch's session.
        if (c.answer == 0) {
            EXPECT_NE(defaults.dataForKey(key), QByteArray("old session"));
        }
    }
}

TEST(MainWindow, ANewBatchIsNoLongerOfferedAsTheLastSession) {
    QTemporaryDir dir;
    const QString key = QString::fromLatin1(platform::DefaultsKey::ProjectSession);
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("d.plist")));
    defaults.setObject(QByteArray("old session"), key);
    ASSERT_TRUE(defaults.synchronize());
    Window win;
    win.w.setUserDefaults(&defaults);
    win.w.showScreen(2);
    win.w.btnStartNewBatchFromSetupVCTapped();
    EXPECT_FALSE(defaults.containsKey(key));
    EXPECT_FALSE(platform::UserDefaults(dir.filePath(QStringLiteral("d.plist"))).containsKey(key));
}

TEST(MainWindow, SavedDataKeptAsideIsToldOnce) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("d.plist")));
    Window win;
    win.w.setUserDefaults(&defaults);
    QCoreApplication::processEvents();
    const size_t before = win.asked.size();

    // The effects screen reads favourites that cannot be read.
    defaults.setObject(QByteArray("damaged favourites"), QString::fromLatin1(platform::DefaultsKey::FavouriteBatches));
    EXPECT_TRUE(Favorites::favouriteBatches(defaults).isEmpty());
    QCoreApplication::processEvents();
    ASSERT_EQ(win.asked.size(), before + 1);
    const MainWindowController::Question& q = win.asked.back();
    EXPECT_EQ(q.title, QStringLiteral("SAVED DATA"));
    EXPECT_TRUE(q.message.contains(QStringLiteral("favorites"))) << q.message.toStdString();
    EXPECT_TRUE(q.message.contains(QStringLiteral("d FAV_BATCHES unreadable "))) << q.message.toStdString();
    EXPECT_EQ(q.buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(q.isNotice);
    win.pending.back()(0);

    // Read again: nothing new to tell.
    Favorites::favouriteBatches(defaults);
    QCoreApplication::processEvents();
    EXPECT_EQ(win.asked.size(), before + 1);
}

TEST(MainWindow, CtrlQQuitsTheWayTheCloseButtonCloses) {
    AppDelegate& app = AppDelegate::shared();
    QTemporaryDir dir;
    Window win;
    win.w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win.w));
    QCoreApplication::processEvents();
    const size_t before = win.asked.size();
    app.arraySelectedImagesToProcess = {photoAt(dir.filePath(QStringLiteral("a.png")), 8, 8)};
    QTest::keyClick(&win.w, Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(win.asked.size(), before + 1) << "the session is offered first";
    EXPECT_EQ(win.asked.back().title, "SAVE SESSION");
    win.pending.back()(1);  // Don't Save
    EXPECT_EQ(win.closedCalls, 1);
    EXPECT_FALSE(win.w.isVisible());
    app.arraySelectedImagesToProcess.clear();
}

TEST(MainWindow, EscapeOnTheWindowsOwnQuestionsAnswersTheirLastChoice) {
    // The window's own message boxes: Escape is Cancel on the session question (nothing saved
    // or forgotten) and OK on a notice; either way the window stays and is free again.
    AppDelegate& app = AppDelegate::shared();
    QTemporaryDir dir;
    const QString key = QString::fromLatin1(platform::DefaultsKey::ProjectSession);
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("d.plist")));
    defaults.setObject(QByteArray("old session"), key);
    AppLaunch::setLaunchValues(app);
    MainWindowController w;
    int closed = 0;
    w.setOnClosed([&] { ++closed; });
    w.setUserDefaults(&defaults);
    w.setSessionSaver([] { return false; });
    w.show();
    QCoreApplication::processEvents();
    app.arraySelectedImagesToProcess = {photoAt(dir.filePath(QStringLiteral("a.png")), 8, 8)};
    auto openBox = [&]() -> QMessageBox* {
        for (QMessageBox* box : w.findChildren<QMessageBox*>())
            if (box->isVisible()) return box;
        return nullptr;
    };
    // Opens a question, then Escape on it.
    struct Case {
        const char* title;
        std::function<void()> open;
    };
    const Case cases[] = {
        {"SAVE SESSION", [&] { w.btnCloseWindowTapped(); }},
        {"SESSION NOT SAVED",  // a failed save is told in a notice
         [&] {
             w.btnCloseWindowTapped();
             for (QAbstractButton* b : openBox()->buttons())
                 if (b->text() == "Save") b->click();
             QCoreApplication::processEvents();
         }},
    };
    for (const Case& c : cases) {
        c.open();
        QMessageBox* box = openBox();
        ASSERT_NE(box, nullptr) << c.title;
        EXPECT_EQ(box->windowTitle(), c.title);
        QTest::keyClick(box, Qt::Key_Escape);
        QCoreApplication::processEvents();
        EXPECT_EQ(openBox(), nullptr) << c.title;
        EXPECT_TRUE(w.isVisible()) << c.title;
        EXPECT_FALSE(app.isSUBWINDOW_OPENED) << c.title;
    }
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(defaults.dataForKey(key), QByteArray("old session"));
    app.arraySelectedImagesToProcess.clear();
    AppLaunch::setLaunchValues(app);
}

// A window made larger (maximised) while another screen shows gives the effects screen's
// preview its room as soon as that screen is shown, as it does when the window grows under it:
// on the first visit, and on coming back to the same photo.
TEST(MainWindow, TheEffectsScreenShownInAWindowMadeLargerBeforeGivesThePreviewItsRoom) {
    for (const bool comingBack : {false, true}) {
        SCOPED_TRACE(comingBack ? "coming back" : "the first visit");
        QTemporaryDir dir;
        Window win;
        MainWindowController& w = win.w;
        AppDelegate& app = AppDelegate::shared();
        app.arraySelectedImagesToProcess = {photoAt(dir.filePath(QStringLiteral("a.png")), 1600, 1200)};
        app.selectedImageIndex = 0;
        w.setResizeSettleInterval(0);
        w.resize(1300, 820);
        w.showScreen(0);
        const auto settle = [] {
            for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        };
        AdjustFilterVC* effects = w.adjustFilterVC();
        // The photo as read for the preview, before it is fitted to the preview.
        const auto readWidth = [&] { return effects->findChild<EffectsScreenController*>()->originalImage().width(); };
        if (comingBack) {
            w.btnNextFromAddPhotosVcTapped();
            settle();
            ASSERT_EQ(effects->previewBoxSize(), QSize(580, 440));
            ASSERT_TRUE(QTest::qWaitFor([&] { return readWidth() > 0; }, 10000));
            ASSERT_LE(readWidth(), 580);
            w.btnBackFromFromAdjustFilterVCTapped();
            ASSERT_EQ(w.currentScreen(), 0);
        }
        w.resize(1900, 1060);
        settle();
        w.btnNextFromAddPhotosVcTapped();
        ASSERT_EQ(w.currentScreen(), 1);
        settle();
        EXPECT_GT(effects->previewBoxSize().width(), 700);
        EXPECT_EQ(effects->previewContainer()->size(), effects->previewBoxSize());
        EXPECT_TRUE(QTest::qWaitFor([&] { return readWidth() > 700; }, 10000))
            << "the photo is read at the preview's size, not " << readWidth();

        // Back at its size with the screen showing, the preview is as small as it was.
        w.resize(1300, 820);
        settle();
        EXPECT_EQ(effects->previewBoxSize(), QSize(580, 440));
        app.arraySelectedImagesToProcess.clear();
    }
}
