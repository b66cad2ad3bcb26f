#include <gtest/gtest.h>

#include <QCheckBox>
#include <QRadioButton>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

#include "batch/RenamePreviewRecomputer.h"
#include "batch/ui/LoadingOverlay.h"
#include "batch/ui/SetupVC.h"
#include "batch/ui/SummaryView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "records/OutputPhotoPath.h"
#include "platform/workspace/Workspace.h"
#include "records/AppliedFilter.h"
#include "records/OutputOptionSettings.h"
#include "records/SavedState.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/FocusRings.h"
#include "tests/batch/PageFixtures.h"
#include "batch/RunMessages.h"
#include "batch/ui/PreviewTables.h"
#include "platform/foundation/Format.h"
#include "batch/ui/OriginalsNotes.h"
#include "batch/ui/OutputFolderDialog.h"
#include "engine/Utils_OverlaysSupport.h"
#include "ui/SmallViews.h"

namespace {

struct RecordingWorkspace : platform::Workspace {
    bool opensUrls = false;
    bool opensFiles = true;
    QList<QUrl> urls;
    QStringList opened;
    bool openURL(const QUrl& url) override {
        urls << url;
        return opensUrls;
    }
    bool openFile(const QString& path) override {
        opened << path;
        return opensFiles;
    }
    bool selectFile(const QString& path) override { return openFile(path); }
    bool showInfo(const QString& path) override { return openFile(path); }
};

struct RecordingDelegate : SetupDelegate {
    int back = 0, newBatch = 0, closed = 0;
    QList<std::shared_ptr<PhotoFile>> skipped;
    void btnBackFromSetupVCTapped() override { ++back; }
    void btnStartNewBatchFromSetupVCTapped() override { ++newBatch; }
    void btnProcessSkippedFromSetupVCTapped(const QList<std::shared_ptr<PhotoFile>>& s) override { skipped = s; }
    void closeWindowFromSetupVC() override { ++closed; }
};

// The run screen with a batch of photos, its desktop, documents, defaults and background
// work of the test's own.
struct RunScreen {
    QTemporaryDir dir;
    QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    std::unique_ptr<platform::UserDefaults> defaults;
    RecordingWorkspace workspace;
    RecordingDelegate delegate;
    std::unique_ptr<SetupVC> setup;
    SummaryController* summary = nullptr;
    // With `deferred`, background work waits here until the test runs it.
    bool deferWork = false;
    std::function<void()> pendingWork, pendingDone;

    explicit RunScreen(int photos) {
        qputenv("HOME", dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath(".config").toUtf8());
        AppDelegate::shared().resetToLaunchValues();
        defaults = std::make_unique<platform::UserDefaults>(dir.filePath("defaults.plist"));
        for (int i = 0; i < photos; ++i)
            AppDelegate::shared().arraySelectedImagesToProcess
                << batchtest::photoAt(batchtest::writePhoto(dir.filePath(QString("src/p%1.jpg").arg(i))));
        auto sepia = std::make_shared<AppliedFilter>();
        sepia->filterName = "CISepiaTone";
        sepia->filterDisplayName = "Sepia";
        sepia->filterAppliedImage = QImage(4, 4, QImage::Format_RGB32);
        AppDelegate::shared().arrayAppliedFilters = {sepia};
        setup = std::make_unique<SetupVC>();
        setup->setDelegate(&delegate);
        summary = setup->summaryController;
        summary->setWorkspace(&workspace);
        summary->setDocumentsFolder(dir.filePath("Documents"));
        summary->setUserDefaults(defaults.get());
        summary->setBundleVersion("3.1");
        summary->setDelays(0, 20, 0);
        summary->setWorker([this](std::function<void()> work, std::function<void()> done) {
            if (deferWork) {
                pendingWork = std::move(work), pendingDone = std::move(done);
                return;
            }
            work();
            done();
        });
        setup->vwConvertFormatOrRename->recomputer()->setDebounceInterval(0);
        setup->vwConvertFormatOrRename->setWorkspace(&workspace);
        setup->vwConvertFormatOrRename->setUserDefaults(defaults.get());
        setup->resize(1300, 800);
        setup->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(setup.get()));
        settle();
    }
    ~RunScreen() {
        setup.reset();
        qputenv("HOME", home);
        if (config.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
        else qputenv("XDG_CONFIG_HOME", config);
        AppDelegate::shared().resetToLaunchValues();
    }
    void settle() const {
        EXPECT_TRUE(batchtest::waitUntil([this] { return !setup->vwConvertFormatOrRename->recomputer()->isPending(); }));
    }
    template <class T>
    T* find(const char* name) const {
        T* w = setup->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static void click(QAbstractButton* b) {
        ASSERT_TRUE(b && b->isVisible() && b->isEnabled()) << (b ? b->objectName().toStdString() : "null");
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    // Start, Yes, and wait for the summary.
    void runToSummary() {
        bool shown = false;
        auto c = QObject::connect(summary, &SummaryController::summaryShown, [&](bool) { shown = true; });
        settle();
        click(find<QPushButton>("btnStartProcess"));
        QMessageBox* question = setup->startQuestion();
        ASSERT_NE(question, nullptr);
        // The question's white text sits on a dark sheet.
        EXPECT_LT(qGray(question->grab().toImage().pixel(3, 3)), 80);
        QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
        ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
        QObject::disconnect(c);
    }
};

}  // namespace

TEST(RunScreen, StartToSummaryThenBackThenANewBatch) {
    RunScreen s(2);
    s.runToSummary();
    const QString out = AppDelegate::shared().selectedOuputSettingObj->outputFolderPath;

    SummaryView* view = s.summary->summaryView();
    EXPECT_TRUE(s.setup->vwSummary->isVisible());
    EXPECT_FALSE(s.setup->vwContainerMain->isVisible());
    EXPECT_EQ(view->lblSummaryHeader->text(), "Batch Process Finished!");
    const BatchRunner* runner = s.setup->runner();
    EXPECT_EQ(runner->counterProcessedSuccessfully, 2);
    EXPECT_EQ(view->lblBatchCountSummary->text(), "2");
    EXPECT_EQ(view->lblPhotoProcessedSummary->text(), QString::number(runner->counterProcessedSuccessfully));
    EXPECT_EQ(view->lblPhotoSkippedSummary->text(), QString::number(runner->counterSkipped));
    EXPECT_EQ(view->lblErrorsSummary->text(), QString::number(runner->counterProcessedWithError));
    EXPECT_EQ(view->lblBatchStepsSummary->text(), "1");
    EXPECT_FALSE(view->btnSkippedPhotos->isVisible());
    EXPECT_TRUE(view->btnAddtoFav->isVisible());
    EXPECT_TRUE(view->btnOpenOutputFolder->isVisible());
    EXPECT_EQ(view->btnOpenOutputFolder->toolTip(), "Click here to open the destination folder");
    // The log is on disk under the Documents folder; the output folder was opened.
    EXPECT_TRUE(s.summary->strLogfilePath.startsWith(s.dir.filePath("Documents/Brisko Photos/BriskoPhotos_LogSummary_")));
    EXPECT_TRUE(QFileInfo::exists(s.summary->strLogfilePath));
    EXPECT_TRUE(s.workspace.opened.contains(out));
    EXPECT_TRUE(s.summary->lblBatchInfo->text().contains("100 %"));
    EXPECT_FALSE(s.summary->loadingView()->isVisible());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    // The current-photo view is back to its empty picture, not the last photo's.
    const QImage shown = s.setup->imgvwCurrentPhoto->pixmap().toImage();
    const QImage empty = overlays::resourceImage("place_holder.png");
    ASSERT_FALSE(empty.isNull());
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixel(2, 2), empty.pixel(2, 2));

    // Show log opens the file.
    RunScreen::click(view->btnShowLog);
    EXPECT_EQ(s.workspace.opened.last(), s.summary->strLogfilePath);

    // Back: the rate prompt; nothing opens the page, nothing is stored, back all the same.
    RunScreen::click(view->btnBackToPreviewOnSummary);
    QMessageBox* rate = s.summary->alertWindow();
    ASSERT_NE(rate, nullptr);
    EXPECT_EQ(rate->text(), "RATE BRISKO PHOTOS");
    RunScreen::click(rate->findChild<QPushButton*>("btnYesOnAlert"));
    ASSERT_EQ(s.workspace.urls.size(), 1);
    EXPECT_EQ(s.workspace.urls[0].scheme(), "appstream");
    EXPECT_FALSE(s.defaults->containsKey("appVersion"));
    EXPECT_TRUE(s.setup->vwConvertFormatOrRename->isVisible());
    // The user is told that nothing could show the page.
    ASSERT_NE(s.summary->openFailureAlert(), nullptr);
    EXPECT_TRUE(s.summary->openFailureAlert()->informativeText().contains("appstream:"));
    QTest::mouseClick(s.summary->openFailureAlert()->button(QMessageBox::Ok), Qt::LeftButton);
    s.settle();
    EXPECT_TRUE(batchtest::waitUntil([] { return !AppDelegate::shared().isSUBWINDOW_OPENED; }));

    // A second run (the first one's outputs gone), then a new batch from its summary.
    for (const QString& name : QDir(out).entryList(QDir::Files)) QFile::remove(QDir(out).filePath(name));
    s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_TRUE(batchtest::waitUntil([] { return !AppDelegate::shared().isSUBWINDOW_OPENED; }));
    s.runToSummary();
    EXPECT_TRUE(s.setup->vwSummary->isVisible());
    RunScreen::click(view->btnStartNewBatch);
    QMessageBox* confirm = s.summary->windowStartNewBatch();
    ASSERT_NE(confirm, nullptr);
    QTest::mouseClick(confirm->button(QMessageBox::Yes), Qt::LeftButton);
    EXPECT_EQ(s.delegate.newBatch, 1);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // Back again: this time the page opens, the version is kept and the next way back asks nothing.
    s.workspace.opensUrls = true;
    RunScreen::click(view->btnBackToPreviewOnSummary);
    ASSERT_NE(s.summary->alertWindow(), nullptr);
    RunScreen::click(s.summary->alertWindow()->findChild<QPushButton*>("btnYesOnAlert"));
    EXPECT_EQ(s.defaults->stringForKey("appVersion"), "3.1");
    s.setup->showPage(s.setup->vwSummary);
    RunScreen::click(view->btnBackToPreviewOnSummary);
    EXPECT_EQ(s.summary->alertWindow(), nullptr);
    EXPECT_TRUE(s.setup->vwConvertFormatOrRename->isVisible());
}

TEST(RunScreen, FavouriteSheetAndSessionSavedFromASnapshot) {
    RunScreen s(1);
    s.setup->showPage(s.setup->vwSummary);
    s.summary->setSummmaryInfo();
    SummaryView* view = s.summary->summaryView();

    RunScreen::click(view->btnAddtoFav);
    ASSERT_NE(s.summary->windowAddFavBatch(), nullptr);
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_FALSE(s.summary->showAlertWithType(115)) << "no alert over an open sheet";
    QTest::keyClicks(s.summary->txtFavBatch, "***");
    RunScreen::click(s.summary->windowAddFavBatch()->findChild<QPushButton*>("btnAddOnAddFavouriteWindow"));
    EXPECT_EQ(s.summary->lblAlertSameFavName->text(), "* Invalid Favorite name.");
    QTest::keyClick(s.summary->txtFavBatch, Qt::Key_A);
    EXPECT_FALSE(s.summary->lblAlertSameFavName->isVisible()) << "typing hides the message";
    s.summary->txtFavBatch->setText("Warm");
    RunScreen::click(s.summary->windowAddFavBatch()->findChild<QPushButton*>("btnAddOnAddFavouriteWindow"));
    ASSERT_TRUE(batchtest::waitUntil([&] { return s.summary->windowAddFavBatch() == nullptr; }));
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    ASSERT_EQ(Favorites::favouriteBatches(*s.defaults).size(), 1);
    EXPECT_FALSE(AppDelegate::shared().arrayAppliedFilters[0]->filterAppliedImage.isNull());

    // Finish → Save: the session is copied now; edits made while it saves are not in it.
    s.deferWork = true;
    RunScreen::click(view->btnFinish);
    QMessageBox* sheet = s.summary->windowSaveSession();
    ASSERT_NE(sheet, nullptr);
    RunScreen::click(sheet->findChild<QPushButton*>("btnSaveSession"));
    ASSERT_TRUE(s.pendingWork);
    EXPECT_TRUE(s.summary->loadingView()->isVisible());
    AppDelegate::shared().arrayAppliedFilters[0]->filterDisplayName = "Edited";
    AppDelegate::shared().arrayAppliedFilters << std::make_shared<AppliedFilter>();
    s.pendingWork();
    s.pendingDone();
    const auto session = SavedState::loadProjectSession(*s.defaults);
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(session->arrayAppliedFilters.size(), 1);
    EXPECT_EQ(session->arrayAppliedFilters[0]->filterDisplayName, "Sepia");
    EXPECT_EQ(s.delegate.closed, 1);
    EXPECT_FALSE(s.summary->loadingView()->isVisible());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // Close without saving forgets the session.
    s.deferWork = false;
    RunScreen::click(view->btnFinish);
    RunScreen::click(s.summary->windowSaveSession()->findChild<QPushButton*>("btnCloseOnSessionWindow"));
    EXPECT_EQ(SavedState::loadProjectSession(*s.defaults), nullptr);
    EXPECT_EQ(s.delegate.closed, 2);
}

TEST(RunScreen, ASessionThatCannotBeSavedIsSaidAndTheWindowStays) {
    RunScreen s(1);
    s.setup->showPage(s.setup->vwSummary);
    s.summary->setSummmaryInfo();
    // A session saved before, then a store that cannot be written: its folder is a file.
    ASSERT_TRUE(SavedState::saveProjectSession(SavedState::snapshotSession(AppDelegate::shared()), *s.defaults));
    testsupport::writeFile(s.dir.filePath("blocked"), "a file, not a folder");
    platform::UserDefaults unwritable(s.dir.filePath("blocked/defaults.plist"));
    s.summary->setUserDefaults(&unwritable);

    RunScreen::click(s.summary->summaryView()->btnFinish);
    RunScreen::click(s.summary->windowSaveSession()->findChild<QPushButton*>("btnSaveSession"));
    QMessageBox* alert = s.summary->alertWindow();
    ASSERT_NE(alert, nullptr) << "the failure is said";
    EXPECT_EQ(alert->text(), "SESSION NOT SAVED");
    EXPECT_TRUE(alert->informativeText().contains("could not be saved")) << alert->informativeText().toStdString();
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(s.delegate.closed, 0) << "the window stays for another try";
    EXPECT_FALSE(s.summary->loadingView()->isVisible());
    QTest::mouseClick(alert->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_NE(SavedState::loadProjectSession(*s.defaults), nullptr) << "the session saved before is kept";

    // A store that can be written again: the next Save saves and closes.
    s.summary->setUserDefaults(s.defaults.get());
    RunScreen::click(s.summary->summaryView()->btnFinish);
    RunScreen::click(s.summary->windowSaveSession()->findChild<QPushButton*>("btnSaveSession"));
    EXPECT_EQ(s.summary->alertWindow(), nullptr);
    EXPECT_EQ(s.delegate.closed, 1);
}

TEST(RunScreen, LoadingOverlayShownTwiceStaysUntilHiddenAndDeletedPhotosAlert) {
    RunScreen s(1);
    s.summary->showLoading(true, "Processing...");
    s.summary->showLoading(true, "Processing...");
    EXPECT_TRUE(s.summary->loadingView()->isVisible());
    EXPECT_EQ(s.summary->busy().owners(), 1);
    EXPECT_FALSE(s.summary->showAlertWithType(115));
    LoadingOverlay* overlay = s.summary->loadingView();
    for (int i = 0; i < LoadingOverlay::kFrames; ++i) overlay->performLaoderAnimationWithCounter();
    EXPECT_EQ(overlay->loaderCounter(), 1) << "frame 55 is followed by frame 1";
    s.summary->showLoading(false, "Processing...");
    EXPECT_FALSE(s.summary->loadingView()->isVisible());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // The only photo is gone: going back shows the singular alert; Ok starts a new batch.
    QFile::remove(AppDelegate::shared().arraySelectedImagesToProcess[0]->filePath);
    s.defaults->setObject(QStringLiteral("3.1"), "appVersion");
    s.setup->showPage(s.setup->vwSummary);
    RunScreen::click(s.summary->summaryView()->btnBackToPreviewOnSummary);
    ASSERT_TRUE(batchtest::waitUntil([&] { return s.summary->alertWindow() != nullptr; }));
    EXPECT_EQ(s.summary->alertWindow()->text(), "PHOTO DELETED");
    RunScreen::click(s.summary->alertWindow()->findChild<QPushButton*>("btnOkOnAlert"));
    EXPECT_EQ(s.delegate.newBatch, 1);
}

namespace {
// The pop-ups of a kind on screen now.
int shownPopups(QWidget* window, const char* name) {
    int n = 0;
    for (auto* w : window->findChildren<AttachedWindow*>(QString::fromLatin1(name))) n += w->isVisible() ? 1 : 0;
    return n;
}
}  // namespace

TEST(RunScreen, RenameViewToolTipsInfoPopUpsAndRowMenu) {
    RunScreen s(2);
    ConvertFormatOrRenameView* v = s.setup->vwConvertFormatOrRename;
    EXPECT_EQ(s.find<QPushButton>("btnStartProcess")->toolTip(),
              "Click 'Start Process' button to initiate the batch process on the added photos");
    EXPECT_TRUE(v->btnCopytoDestFolder->toolTip().startsWith("Copying processed photos to new destination"));
    EXPECT_TRUE(v->btnSelectFolder->toolTip().isEmpty());
    // The chosen destination mode can be seen: its mark is drawn in the accent colour.
    const auto accentPixels = [](QWidget* w) {
        const QImage shot = w->grab().toImage();
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) n += QColor(shot.pixel(x, y)) == QColor(26, 185, 153) ? 1 : 0;
        return n;
    };
    EXPECT_GT(accentPixels(v->btnCopytoDestFolder), 20);
    EXPECT_EQ(accentPixels(v->btnMoveRenametoDestFolder), 0);

    // Info pop-ups: one at a time, with the option's explanation; a press elsewhere closes it.
    RunScreen::click(v->btnMoveOptionInfo);
    ASSERT_NE(v->infoWindow(), nullptr);
    EXPECT_EQ(v->infoWindow()->findChild<QLabel*>("lblMoveOpetionInfo")->text(),
              "Moving files to new destination will remove the files from the source folder.");
    EXPECT_EQ(v->infoWindow()->view()->size(), QSize(245, 75));
    RunScreen::click(v->btnInfoAboutRawFormats);
    ASSERT_NE(v->infoWindow(), nullptr);
    EXPECT_TRUE(v->infoWindow()->findChild<QLabel*>("lblMoveOpetionInfo")->text().startsWith(
        "If you choose to \"Keep Original format\""));
    EXPECT_EQ(v->infoWindow()->view()->width(), 300);
    EXPECT_EQ(shownPopups(s.setup.get(), "infoWindow"), 1);
    EXPECT_EQ(v->infoWindow()->side(), 2);
    QTest::mouseClick(v->lblBatchInfo, Qt::LeftButton);
    EXPECT_EQ(v->infoWindow(), nullptr);

    // The rows' menu: only on the source paths (right half); one menu at a time.
    QWidget* rows = v->tblPreviewNames->viewport();
    const int rowY = v->tblPreviewNames->rowViewportPosition(1) + 5;
    QTest::mouseClick(rows, Qt::RightButton, {}, QPoint(20, rowY));
    EXPECT_EQ(v->menuOptionsWindow(), nullptr);
    QTest::mouseClick(rows, Qt::RightButton, {}, QPoint(rows->width() - 20, v->tblPreviewNames->rowViewportPosition(0) + 5));
    ASSERT_NE(v->menuOptionsWindow(), nullptr);
    for (auto* entry : v->menuOptionsWindow()->findChildren<QPushButton*>())
        EXPECT_GE(entry->width(), entry->sizeHint().width()) << "a menu entry is cut";
    QTest::mouseClick(rows, Qt::RightButton, {}, QPoint(rows->width() - 20, rowY));
    EXPECT_EQ(shownPopups(s.setup.get(), "menuOptionsWindow"), 1);
    const QString source = AppDelegate::shared().arrayDestinationPaths[1]->oldFilePath;
    const struct {
        const char* button;
    } options[] = {{"btnReviealInFinder"}, {"btnShowPreview"}, {"btnGetInfo"}};
    for (const auto& option : options) {
        if (!v->menuOptionsWindow()) QTest::mouseClick(rows, Qt::RightButton, {}, QPoint(rows->width() - 20, rowY));
        const qsizetype before = s.workspace.opened.size();
        RunScreen::click(v->menuOptionsWindow()->findChild<QPushButton*>(option.button));
        ASSERT_EQ(s.workspace.opened.size(), before + 1) << option.button;
        EXPECT_EQ(s.workspace.opened.last(), source) << option.button;
        EXPECT_EQ(v->menuOptionsWindow(), nullptr);
    }
    // The errors list holds no rows: the remembered row is no one's any more.
    QTest::mouseClick(rows, Qt::RightButton, {}, QPoint(rows->width() - 20, rowY));
    v->btnPreviewFilesModeTapped(1);
    const qsizetype before = s.workspace.opened.size();
    v->btnOnMenuOptionTapped(1);
    EXPECT_EQ(s.workspace.opened.size(), before);
}

TEST(RunScreen, RenameViewTipsWalkCoversTheScreenAndStoresItsKeys) {
    RunScreen s(1);
    ConvertFormatOrRenameView* v = s.setup->vwConvertFormatOrRename;
    v->setScheduler([](int, std::function<void()> work) { work(); });
    LoadingOverlay* cover = s.summary->loadingView();

    // Shown on the run screen (not inside the effects screen): no tips.
    v->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_EQ(v->tipsPopUpWindow(), nullptr);

    // Reached with Next from the effects screen: the walk starts after the next preview.
    platform::NotificationCenter::defaultCenter().postNotification(platform::notifications::NextFromBtchEffects);
    v->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    ASSERT_NE(v->tipsPopUpWindow(), nullptr);
    EXPECT_EQ(v->currentTips(), 7);
    EXPECT_EQ(v->tipsPopUpWindow()->findChild<QLabel*>("lblTipsText")->text(),
              "Convert Batch format/Rename your entire batch of photos from here.");
    EXPECT_EQ(v->tipsPopUpWindow()->borderColor(), QColor(26, 185, 153));
    // The screen is covered, clear, and busy: no alert comes over a tip.
    EXPECT_TRUE(cover->isVisible());
    EXPECT_FALSE(cover->isBackdropShown());
    EXPECT_TRUE(v->bgViewForTips->isVisible());
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_FALSE(s.summary->showAlertWithType(115));
    // A press outside a tip leaves it.
    QTest::mouseClick(v->lblBatchInfo, Qt::LeftButton);
    ASSERT_NE(v->tipsPopUpWindow(), nullptr);

    QList<int> walked{v->currentTips()};
    const QList<int> sides{v->tipsPopUpWindow()->side()};
    while (auto* next = v->tipsPopUpWindow()->findChild<QPushButton*>("btnNextOnTips")) {
        if (!next->isVisible()) break;
        RunScreen::click(next);
        ASSERT_NE(v->tipsPopUpWindow(), nullptr);
        walked << v->currentTips();
    }
    EXPECT_EQ(walked, (QList<int>{7, 8, 9, 10}));
    EXPECT_EQ(v->tipsPopUpWindow()->side(), 3) << "the last tip sits above Start";
    EXPECT_EQ(shownPopups(s.setup.get(), "tipsPopUpWindow"), 1);
    // The window changes size: the tip follows the Start button.
    const QPoint before = v->tipsPopUpWindow()->attachedPoint();
    s.setup->resize(1100, 700);
    QCoreApplication::processEvents();
    platform::NotificationCenter::defaultCenter().postNotification(platform::notifications::WindowResized);
    ASSERT_NE(v->tipsPopUpWindow(), nullptr);
    EXPECT_EQ(v->currentTips(), 10);
    EXPECT_NE(v->tipsPopUpWindow()->attachedPoint(), before);
    EXPECT_EQ(v->tipsPopUpWindow()->attachedPoint(),
              v->btnStart->mapTo(s.setup.get(), QPoint(v->btnStart->width() / 2, 0)));
    EXPECT_EQ(shownPopups(s.setup.get(), "tipsPopUpWindow"), 1);
    RunScreen::click(v->tipsPopUpWindow()->findChild<QPushButton*>("btnGotItOnTips"));
    EXPECT_EQ(v->tipsPopUpWindow(), nullptr);
    EXPECT_EQ(s.defaults->stringForKey("tips_convertFormatView"), "1");
    EXPECT_FALSE(s.defaults->containsKey("tips_isDisable"));
    EXPECT_FALSE(cover->isVisible());
    EXPECT_TRUE(cover->isBackdropShown());
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_EQ(s.summary->busy().owners(), 0);

    // Done: later previews show nothing. Again from the start, tips switched off in tip 8.
    v->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_EQ(v->tipsPopUpWindow(), nullptr);
    s.defaults->removeObjectForKey("tips_convertFormatView");
    v->showTipsWithTag(8);
    ASSERT_NE(v->tipsPopUpWindow(), nullptr);
    RunScreen::click(v->tipsPopUpWindow()->findChild<QCheckBox*>("checkDisableTips"));
    EXPECT_EQ(s.defaults->stringForKey("tips_isDisable"), "1");
    RunScreen::click(v->tipsPopUpWindow()->findChild<QPushButton*>("btnNextOnTips"));
    EXPECT_EQ(v->tipsPopUpWindow(), nullptr);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // The screen goes away with a tip open: the tip goes with it.
    s.defaults->removeObjectForKey("tips_isDisable");
    v->showTipsWithTag(9);
    ASSERT_NE(v->tipsPopUpWindow(), nullptr);
    s.setup.reset();
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
}

TEST(RunScreen, FooterIsNearlyOpaqueOnlyOnOlderSystems) {
    RunScreen s(1);
    s.setup->showPage(s.setup->vwContainerMain);
    const auto footerGrey = [&] {
        s.summary->configureFooter();
        const QImage shot = s.setup->grab().toImage();
        const QPoint at = s.summary->middleBG->mapTo(s.setup.get(), QPoint(2, 2));
        return qRed(shot.pixel(at));
    };
    AppDelegate::shared().isOSX_9_AndAbove = true;
    const int older = footerGrey();
    AppDelegate::shared().isOSX_9_AndAbove = false;
    AppDelegate::shared().isOSX_10_AndAbove = true;
    const int newer = footerGrey();
    // RGB 25 at 0.98 over the screen's grey (43) against 0.6 of it.
    EXPECT_NEAR(older, 25, 1);
    EXPECT_NEAR(newer, 32, 1);
}

TEST(RunScreen, MixedRunSummaryFiguresAndLogFollowTheRunnersCounters) {
    RunScreen s(3);
    auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    const QString out = AppDelegate::shared().selectedOuputSettingObj->outputFolderPath;
    // Photo 1's output is already there (skipped); photo 2's file is damaged (fails).
    ASSERT_TRUE(QDir().mkpath(out));
    QFile existing(QDir(out).filePath("p1.jpg"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("already here");
    existing.close();
    QFile damaged(batch[2]->filePath);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write(QByteArray("\xFF\xD8\xFF\xE0 not a photo", 16));
    damaged.close();
    s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    s.runToSummary();

    const BatchRunner* runner = s.setup->runner();
    EXPECT_EQ(runner->counterProcessedSuccessfully, 1);
    EXPECT_EQ(runner->counterSkipped, 1);
    EXPECT_EQ(runner->counterProcessedWithError, 1);
    SummaryView* view = s.summary->summaryView();
    const QStringList shown{view->lblPhotoProcessedSummary->text(), view->lblPhotoSkippedSummary->text(),
                            view->lblErrorsSummary->text(), view->lblPhotoNotProccesedSummary->text()};
    EXPECT_EQ(shown, (QStringList{"1", "1", "1", "0"}));
    EXPECT_TRUE(view->btnSkippedPhotos->isVisible());
    EXPECT_TRUE(s.summary->lblProcessInfoBottom->text().contains("Error reported:"));

    QFile log(s.summary->strLogfilePath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains("\nPhotos Processed : 1\n")) << qPrintable(text);
    EXPECT_TRUE(text.contains("1\tSkipped\t" + batch[1]->filePath + "\n"));
    EXPECT_TRUE(text.contains("1\tError(" + batch[2]->processInfoMessage + ")\t" + batch[2]->filePath + "\n"));
    EXPECT_FALSE(batch[2]->processInfoMessage.isEmpty());
    EXPECT_TRUE(text.contains("Errors: 1\n"));

    // Process skipped hands on the skipped and the failed photo, in batch order.
    RunScreen::click(view->btnSkippedPhotos);
    ASSERT_EQ(s.delegate.skipped.size(), 2);
    EXPECT_EQ(s.delegate.skipped[0], batch[1]);
    EXPECT_EQ(s.delegate.skipped[1], batch[2]);
}

TEST(RunScreen, RunViewIsDarkInsideTheMainWindow) {
    // Inside a window, as in the application: the white bar texts need the dark background.
    RunScreen s(1);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(s.setup.get());
    window.resize(1200, 800);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    s.setup->showPage(s.setup->vwContainerMain);
    const QImage shot = window.grab().toImage();
    const QPoint bar = s.summary->lblBatchInfo->mapTo(&window, QPoint(3, 3));
    EXPECT_LT(qGray(shot.pixel(bar)), 80);
    // The rename view's batch line too (it sits on the view's own background).
    s.setup->showPage(s.setup->vwConvertFormatOrRename);
    QLabel* line = s.setup->vwConvertFormatOrRename->lblBatchInfo;
    EXPECT_LT(qGray(window.grab().toImage().pixel(line->mapTo(&window, QPoint(3, line->height() / 2)))), 80);
    layout->removeWidget(s.setup.get());
    s.setup->setParent(nullptr);
}

TEST(RunScreen, AnswersToTheStopAndLowSpaceQuestionsStopOrContinueTheRun) {
    enum Ask { StopButton, WindowClosing, LowSpace };
    const struct {
        const char* name;
        Ask ask;
        const char* sheet;
        // The answer given, as a key on the sheet or one of its buttons.
        QMessageBox::StandardButton button;
        bool escape;
        bool finished;
    } cases[] = {
        {"Stop, then No", StopButton, "windowAbortAlert", QMessageBox::No, false, true},
        {"Stop, then Yes", StopButton, "windowAbortAlert", QMessageBox::Yes, false, false},
        {"window closing, then Yes", WindowClosing, "windowAbortAlert", QMessageBox::Yes, false, false},
        {"Stop, then Escape", StopButton, "windowAbortAlert", QMessageBox::NoButton, true, true},
        {"low space, then OK", LowSpace, "winEnoughSpace", QMessageBox::Ok, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunScreen s(3);
        std::atomic<int> calls{0};
        std::atomic<bool> release{false};
        // The first photo's placing waits until the question is open, so the run cannot end
        // before it is asked.
        // Space runs short once the first output is there.
        const auto firstPlaced = [] {
            const auto& planned = AppDelegate::shared().arrayDestinationPaths;
            return !planned.isEmpty() && QFileInfo::exists(planned.first()->filePath);
        };
        s.setup->runner()->setFreeSpaceProvider([&, ask = c.ask](const QString&) -> std::optional<VolumeSpace> {
            ++calls;
            if (ask == LowSpace) return VolumeSpace{1ull << 40, firstPlaced() ? 1ull << 20 : 1ull << 39};
            while (!firstPlaced() && !release) std::this_thread::yield();
            return VolumeSpace{1ull << 40, 1ull << 39};
        });
        struct Release {
            std::atomic<bool>& flag;
            ~Release() { flag = true; }
        } releaseOnExit{release};
        bool shown = false, finished = false;
        QObject::connect(s.summary, &SummaryController::summaryShown, [&](bool f) { shown = true, finished = f; });

        s.settle();
        RunScreen::click(s.find<QPushButton>("btnStartProcess"));
        ASSERT_NE(s.setup->startQuestion(), nullptr);
        QTest::mouseClick(s.setup->startQuestion()->button(QMessageBox::Yes), Qt::LeftButton);
        if (c.ask != LowSpace) {
            ASSERT_TRUE(batchtest::waitUntil([&] { return calls >= 1; }));
            if (c.ask == StopButton) {
                RunScreen::click(s.setup->btnStop);
            } else {
                platform::NotificationCenter::defaultCenter().postNotification(platform::notifications::ProcessStop);
            }
        }
        QPointer<QMessageBox> sheet;
        ASSERT_TRUE(batchtest::waitUntil([&] {
            sheet = s.setup->findChild<QMessageBox*>(QString::fromLatin1(c.sheet));
            return sheet && sheet->isVisible();
        }));
        EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
        release = true;
        if (c.escape) {
            QTest::keyClick(sheet, Qt::Key_Escape);
        } else {
            QTest::mouseClick(sheet->button(c.button), Qt::LeftButton);
        }
        ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));

        EXPECT_EQ(finished, c.finished);
        EXPECT_EQ(s.summary->summaryView()->lblSummaryHeader->text(),
                  c.finished ? "Batch Process Finished!" : "Batch Process Stopped!");
        const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
        int processed = 0;
        for (const auto& photo : batch) processed += photo->processStatus == PhotoFile::Processed;
        if (c.finished) {
            EXPECT_EQ(processed, 3) << "the run went on to the end";
        } else {
            EXPECT_LT(processed, 3) << "the run stopped";
            EXPECT_EQ(batch.last()->processStatus, PhotoFile::NotProcessed);
        }
        if (c.ask == LowSpace) { EXPECT_EQ(processed, 2) << "the photo in hand when space ran short is written"; }
        EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED) << "no sheet is left holding the screen";
        EXPECT_FALSE(s.summary->isBottomInfoRefreshing());
        EXPECT_TRUE(!sheet || !sheet->isVisible()) << "the sheet is closed";
    }
}

TEST(RunScreen, OpeningWhatNothingCanOpenIsSaidInAShortAlert) {
    RunScreen s(1);
    s.workspace.opensFiles = false;
    s.runToSummary();
    const QString out = AppDelegate::shared().selectedOuputSettingObj->outputFolderPath;
    // "Open output folder after processing" found nothing to open the folder with.
    QMessageBox* alert = s.summary->openFailureAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), "CANNOT OPEN");
    EXPECT_TRUE(alert->informativeText().contains(out)) << alert->informativeText().toStdString();
    // Said once, in a box as wide as the line naming the folder (not wrapped word by word).
    EXPECT_TRUE(alert->windowTitle().isEmpty()) << alert->windowTitle().toStdString();
    auto* message = alert->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->heightForWidth(message->width()), message->heightForWidth(100000));
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    QTest::mouseClick(alert->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    SummaryView* view = s.summary->summaryView();
    for (QAbstractButton* link : {static_cast<QAbstractButton*>(view->btnShowLog), static_cast<QAbstractButton*>(view->btnOpenOutputFolder)}) {
        RunScreen::click(link);
        ASSERT_NE(s.summary->openFailureAlert(), nullptr) << link->objectName().toStdString();
        QTest::mouseClick(s.summary->openFailureAlert()->button(QMessageBox::Ok), Qt::LeftButton);
    }
    EXPECT_TRUE(s.workspace.opened.contains(s.summary->strLogfilePath));

    // The rows' menu of the planned names.
    s.setup->AddConvertFormatView();
    s.settle();
    ConvertFormatOrRenameView* rename = s.setup->vwConvertFormatOrRename;
    rename->selectedMenuFileIndexPath = 0;
    rename->btnShowPreviewTapped();
    auto* menuAlert = rename->findChild<QMessageBox*>("alertOpenFailure");
    ASSERT_NE(menuAlert, nullptr);
    EXPECT_TRUE(menuAlert->informativeText().contains("\u201cp0.jpg\u201d"));
}

TEST(RunScreen, WhatARunDoesToTheOriginalsIsSaidBeforeAndAfterIt) {
    RunScreen s(2);
    auto* notice = s.find<QLabel>("lblOriginalsNotice");
    EXPECT_FALSE(notice->isVisible());  // copy mode: the originals stay

    // Move mode: above the planned names, in the start question and in the summary.
    RunScreen::click(s.find<QRadioButton>("btnMoveRenametoDestFolder"));
    s.settle();
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), originalsnotes::kMoveMode);
    RunScreen::click(s.find<QPushButton>("btnStartProcess"));
    ASSERT_NE(s.setup->startQuestion(), nullptr);
    const QString question = s.setup->startQuestion()->text();
    EXPECT_TRUE(question.contains(originalsnotes::kMoveMode)) << question.toStdString();
    EXPECT_TRUE(question.endsWith("Click YES to proceed and NO to cancel.")) << "the last line stays last";
    s.setup->btnNoOnStartProcessWindowTapped();
    s.runToSummary();
    auto* note = s.summary->summaryView()->lblOriginalsNote;
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "The originals of the 2 processed photos were moved to the Trash.");
}

TEST(RunScreen, OutputsReplacingTheirOwnOriginalsAreNamedBeforeAndAfterTheRun) {
    RunScreen s(2);
    RunScreen::click(s.find<QRadioButton>("btnUseSourcePhotosFolder"));
    s.settle();
    auto* notice = s.find<QLabel>("lblOriginalsNotice");
    EXPECT_FALSE(notice->isVisible());  // without overwriting, the photos stay (with a warning)
    RunScreen::click(s.find<QCheckBox>("checkboxDeleteSourcePhoto"));
    s.settle();
    ASSERT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->text().startsWith("2 photos will replace their originals")) << notice->text().toStdString();
    auto* model = s.setup->vwConvertFormatOrRename->tblPreviewNames->model();
    ASSERT_EQ(model->rowCount(), 2);
    const QString tip = model->index(0, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("goes to the Trash first")) << tip.toStdString();
    RunScreen::click(s.find<QPushButton>("btnStartProcess"));
    ASSERT_NE(s.setup->startQuestion(), nullptr);
    EXPECT_TRUE(s.setup->startQuestion()->text().contains("2 photos will replace their originals in the source folders"));
    s.setup->btnNoOnStartProcessWindowTapped();
    // The summary says once what became of them.
    s.runToSummary();
    auto* note = s.summary->summaryView()->lblOriginalsNote;
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "2 photos replaced their originals in the source folders; the originals were moved to the Trash.");
}

TEST(RunScreen, ARunWhoseOnlyMissesAreErrorsOffersThemAgain) {
    RunScreen s(2);
    QFile damaged(AppDelegate::shared().arraySelectedImagesToProcess[1]->filePath);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write(QByteArray("\xFF\xD8\xFF\xE0 not a photo", 16));
    damaged.close();
    s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    s.runToSummary();
    ASSERT_EQ(s.setup->runner()->counterProcessedWithError, 1);
    // The photo that failed can be run again (once it is mended, or the disk has room).
    RunScreen::click(s.summary->summaryView()->btnSkippedPhotos);
    ASSERT_EQ(s.delegate.skipped.size(), 1);
    EXPECT_EQ(s.delegate.skipped[0], AppDelegate::shared().arraySelectedImagesToProcess[1]);
}

// A photo of two pages comes out with its first page only: it is processed, and its row,
// the summary and the log say what became of the second page.
TEST(RunScreen, APhotoWhoseFirstPageAloneWasWrittenSaysSoOnItsRowInTheSummaryAndInTheLog) {
    RunScreen s(1);
    auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    ASSERT_TRUE(QDir().mkpath(s.dir.filePath("pages")));
    const QString scan = pagestest::multiPageTiff(s.dir.filePath("pages"), s.dir.filePath("src/scan.tif"), 2);
    ASSERT_FALSE(scan.isEmpty());
    batch << batchtest::photoAt(scan);
    s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    s.runToSummary();
    const QString note = platform::format(runmessages::OnlyFirstPage, 2, runmessages::PagesNoun);
    ASSERT_EQ(batch[1]->processStatus, PhotoFile::Processed);
    ASSERT_EQ(batch[1]->processInfoMessage, note);

    // The run table: the photo of one page green with its paths; the other amber, saying why.
    QAbstractItemModel* table = s.setup->tblPreviewPaths->model();
    ASSERT_EQ(table->rowCount(), 2);
    const struct {
        int row;
        QColor colour;
        QString tipAfterPath;
    } rows[] = {{0, QColor::fromRgbF(0, 1, 0, 1), QString()}, {1, previewtables::kWarningText, u'\n' + note}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        for (int column : {0, 1}) {
            const QModelIndex cell = table->index(r.row, column);
            EXPECT_EQ(cell.data(Qt::ForegroundRole).value<QColor>(), r.colour);
            EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), cell.data(Qt::DisplayRole).toString() + r.tipAfterPath);
        }
    }
    EXPECT_EQ(table->index(1, 1).data().toString(), scan);

    // The summary counts it among the processed, and apart as processed with a note.
    SummaryView* view = s.summary->summaryView();
    EXPECT_EQ(view->lblPhotoProcessedSummary->text(), "2");
    EXPECT_EQ(view->lblErrorsSummary->text(), "0");
    EXPECT_TRUE(view->lblPhotoNotesCaption->isVisible());
    EXPECT_TRUE(view->lblPhotoNotesSummary->isVisible());
    EXPECT_EQ(view->lblPhotoNotesSummary->text(), "1");

    const QString log = QString::fromUtf8(testsupport::readFile(s.summary->strLogfilePath));
    EXPECT_TRUE(log.contains("\nPhotos Processed : 2\n")) << qPrintable(log);
    EXPECT_TRUE(log.contains("\n1\tProcessed\t" + batch[0]->filePath + "\n")) << qPrintable(log);
    EXPECT_TRUE(log.contains("\n2\tProcessed (Only the first of 2 pages was written)\t" + scan + "\n"))
        << qPrintable(log);

    // A run of the one-page photo alone has no note to count.
    for (const QString& name : QDir(AppDelegate::shared().selectedOuputSettingObj->outputFolderPath).entryList(QDir::Files))
        QFile::remove(QDir(AppDelegate::shared().selectedOuputSettingObj->outputFolderPath).filePath(name));
    batch.removeLast();
    s.summary->performBackOnSummaryAction();
    s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    EXPECT_TRUE(batchtest::waitUntil([] { return !AppDelegate::shared().isSUBWINDOW_OPENED; }));
    s.runToSummary();
    EXPECT_EQ(view->lblPhotoProcessedSummary->text(), "1");
    EXPECT_FALSE(view->lblPhotoNotesSummary->isVisible());
    EXPECT_FALSE(view->lblPhotoNotesCaption->isVisible());
}

// Without a folder for the log (Documents cannot be made), "Process Skipped Photos" still
// hands on this run's photos that did not come out, never an empty list or one left from
// an earlier run; with nothing to hand on, it is not offered.
TEST(RunScreen, ProcessSkippedHandsOnThisRunsPhotosWhenNoLogCanBeWritten) {
    RunScreen s(3);
    const QList<std::shared_ptr<PhotoFile>> photos = AppDelegate::shared().arraySelectedImagesToProcess;
    const QString out = AppDelegate::shared().selectedOuputSettingObj->outputFolderPath;
    ASSERT_TRUE(QDir().mkpath(out));
    testsupport::writeFile(QDir(out).filePath("p1.jpg"), "already here");
    SummaryView* view = s.summary->summaryView();
    const auto runAgain = [&](const QStringList& outputsGone) {
        for (const QString& name : outputsGone) QFile::remove(QDir(out).filePath(name));
        s.summary->performBackOnSummaryAction();
        s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
        s.settle();
        EXPECT_TRUE(batchtest::waitUntil([] { return !AppDelegate::shared().isSUBWINDOW_OPENED; }));
        s.runToSummary();
    };

    // The first run has its log: photo 1 was skipped.
    s.setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    s.runToSummary();
    ASSERT_EQ(s.summary->arrayFilesToReProcess, QList<std::shared_ptr<PhotoFile>>{photos[1]});
    const QString firstLog = s.summary->strLogfilePath;

    // The second has none: photos 0 and 1 are skipped (their outputs are there), 2 is made.
    testsupport::writeFile(s.dir.filePath("blocked"), "a file where a folder would go");
    s.summary->setDocumentsFolder(s.dir.filePath("blocked/Documents"));
    runAgain({"p2.jpg"});
    EXPECT_EQ(s.summary->strLogfilePath, firstLog) << "no log of its own";
    ASSERT_TRUE(view->btnSkippedPhotos->isVisible());
    RunScreen::click(view->btnSkippedPhotos);
    EXPECT_EQ(s.delegate.skipped, (QList<std::shared_ptr<PhotoFile>>{photos[0], photos[1]}));

    // A run in which every photo comes out, without its log: nothing to offer.
    s.delegate.skipped.clear();
    runAgain({"p0.jpg", "p1.jpg", "p2.jpg"});
    EXPECT_EQ(s.setup->runner()->counterProcessedSuccessfully, 3);
    EXPECT_FALSE(view->btnSkippedPhotos->isVisible());
    EXPECT_TRUE(s.summary->arrayFilesToReProcess.isEmpty());
}

TEST(RunScreen, FolderChooserOpensAtTheFolderChosenAndMakesATypedOne) {
    RunScreen s(1);
    ConvertFormatOrRenameView* v = s.setup->vwConvertFormatOrRename;
    const QString chosen = s.dir.filePath("Chosen");
    ASSERT_TRUE(QDir().mkpath(chosen));
    v->seletedOutputOptionSettingObj->outputFolderPath = chosen;

    RunScreen::click(v->btnSelectFolder);
    auto* chooser = s.setup->window()->findChild<OutputFolderDialog*>("folderChooser");
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(QDir(chooser->directory()).absolutePath(), chosen) << "it opens where the photos go now";
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // A folder typed that is not there yet is offered to be made, not refused.
    const QString typed = s.dir.filePath("Chosen/New Out");
    auto* name = chooser->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(typed);
    chooser->accept();
    ASSERT_NE(chooser->createQuestion(), nullptr);
    EXPECT_TRUE(chooser->createQuestion()->text().contains("\u201c" + typed + "\u201d"));
    QTest::mouseClick(chooser->createQuestion()->button(QMessageBox::Yes), Qt::LeftButton);
    s.settle();
    EXPECT_TRUE(QFileInfo(typed).isDir());
    EXPECT_EQ(v->txtFolderName->text(), typed);
    EXPECT_EQ(v->seletedOutputOptionSettingObj->outputFolderPath, typed);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // A chooser on a folder that is gone opens at the nearest folder above it.
    v->seletedOutputOptionSettingObj->outputFolderPath = s.dir.filePath("Chosen/gone/deeper");
    RunScreen::click(v->btnSelectFolder);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    chooser = s.setup->window()->findChild<OutputFolderDialog*>("folderChooser");
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(QDir(chooser->directory()).absolutePath(), chosen);
    chooser->reject();
}

TEST(RunScreen, OneBusyCountForEverythingOpenAndTheRealLibraryFolderInTheInfo) {
    RunScreen s(1);
    ConvertFormatOrRenameView* v = s.setup->vwConvertFormatOrRename;
    // The loading overlay holds the screen; a folder chooser opened and cancelled meanwhile
    // does not free it under the overlay.
    s.summary->showLoading(true, "Processing...");
    v->setFolderChooser([](QWidget*, const QString&, std::function<void(QString)> done) { done(QString()); });
    RunScreen::click(v->btnSelectFolder);
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED) << "the overlay still holds it";
    // The same for the start question.
    s.setup->showStartProcessPrompt("?");
    s.setup->btnNoOnStartProcessWindowTapped();
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    s.summary->showLoading(false, "Processing...");
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // The info about photo-library photos names the desktop folder the start question names.
    RunScreen::click(v->btnUseSourceFolderInfo);
    ASSERT_NE(v->infoWindow(), nullptr);
    const QString text = v->infoWindow()->findChild<QLabel*>("lblMoveOpetionInfo")->text();
    EXPECT_FALSE(text.contains("/Users/Desktop"));
    EXPECT_TRUE(text.contains(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) +
                              "/iPhoto_BriskoPhotosOutput")) << text.toStdString();
}

TEST(RunScreen, TheKeyboardShowsWhereItIsAndEscapeAnswersNo) {
    RunScreen s(1);
    s.setup->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(s.setup.get()));
    ConvertFormatOrRenameView* v = s.setup->vwConvertFormatOrRename;
    for (QWidget* w : std::initializer_list<QWidget*>{v->btnStart, v->btnErrorFileNames, v->btnSelectFolder}) {
        const QImage before = w->grab().toImage();
        w->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(w->hasFocus()) << w->objectName().toStdString();
        EXPECT_NE(w->grab().toImage(), before) << w->objectName().toStdString();
    }
    // A tip's check box and buttons show it too, on a tip with Next and on the last one.
    for (const int tag : {8, 10}) {
        v->showTipsWithTag(tag);
        ASSERT_NE(v->tipsPopUpWindow(), nullptr) << tag;
        EXPECT_EQ(testsupport::controlsWithoutFocusRing(v->tipsPopUpWindow()), QStringList{}) << tag;
        v->removeTipsPopupWindow();
    }
    RunScreen::click(v->btnStart);
    QMessageBox* question = s.setup->startQuestion();
    ASSERT_NE(question, nullptr);
    QTest::keyClick(question, Qt::Key_Escape);
    EXPECT_EQ(s.setup->startQuestion(), nullptr);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    EXPECT_TRUE(v->isVisible()) << "no run started";
}
