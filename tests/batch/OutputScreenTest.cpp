#include <gtest/gtest.h>

#include <new>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <QtEndian>

#include "batch/RenamePreviewRecomputer.h"
#include "batch/RunMessages.h"
#include "batch/RunStartGate.h"
#include "batch/ui/ConvertFormatOrRenameView.h"
#include "batch/ui/PreviewTables.h"
#include "batch/ui/SetupVC.h"
#include "batch/ui/SummaryController.h"
#include "batch/ui/SummaryView.h"
#include "platform/imageio/ImageIO.h"
#include "platform/workspace/Workspace.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "ui/SmallViews.h"

namespace {

// A home of the test's own, so the default output folder is made in a temporary place.
struct TemporaryHome {
    QTemporaryDir dir;
    QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    TemporaryHome() {
        qputenv("HOME", dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath(".config").toUtf8());
        AppDelegate::shared().resetToLaunchValues();
    }
    ~TemporaryHome() {
        qputenv("HOME", home);
        if (config.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
        else qputenv("XDG_CONFIG_HOME", config);
        AppDelegate::shared().resetToLaunchValues();
    }
};

// Opens nothing on the desktop.
struct QuietWorkspace : platform::Workspace {
    bool openURL(const QUrl&) override { return false; }
    bool openFile(const QString&) override { return true; }
};

// A screen with a batch of photos, shown offscreen.
struct Screen {
    TemporaryHome home;
    QuietWorkspace workspace;
    QTemporaryDir dir;
    std::unique_ptr<SetupVC> setup;
    ConvertFormatOrRenameView* view = nullptr;

    explicit Screen(int photos, const QString& names = "src/p%1.jpg") {
        for (int i = 0; i < photos; ++i) {
            AppDelegate::shared().arraySelectedImagesToProcess
                << batchtest::photoAt(batchtest::writePhoto(dir.filePath(names.arg(i))));
        }
        setup = std::make_unique<SetupVC>();
        setup->summaryController->setWorkspace(&workspace);
        view = setup->vwConvertFormatOrRename;
        view->recomputer()->setDebounceInterval(0);
        setup->resize(1300, 800);
        setup->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(setup.get()));
        settle();
    }
    template <class T>
    T* find(const char* name) const {
        T* w = setup->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Waits until no re-planning is waiting or running.
    void settle() const {
        EXPECT_TRUE(batchtest::waitUntil([this] { return !view->recomputer()->isPending(); }));
    }
    void click(QAbstractButton* b) const {
        ASSERT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
        settle();
    }
    void choosePopupRow(QAbstractButton* opener, int row) const {
        click(opener);
        QTableView* table = view->tblPopupOptions;
        ASSERT_NE(table, nullptr);
        ASSERT_TRUE(table->isVisible());
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
        settle();
    }
    QStringList previewPaths() const {
        QStringList out;
        auto* model = view->tblPreviewNames->model();
        for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, 0).data().toString();
        return out;
    }
};

TEST(OutputScreen, PlanPreviewStartAndFindThePreviewedFilesOnDisk) {
    Screen s(2);
    // First visit: copy mode with the default folder, which now exists.
    EXPECT_TRUE(s.find<QRadioButton>("btnCopytoDestFolder")->isChecked());
    EXPECT_TRUE(QFileInfo(s.find<QLineEdit>("txtFolderName")->text()).isDir());
    EXPECT_EQ(s.previewPaths().size(), 2);

    // The destination: a temporary folder through the chooser.
    const QString out = s.dir.filePath("Chosen Out");
    QDir().mkpath(out);
    s.view->setFolderChooser([&](QWidget*, const QString&, std::function<void(QString)> done) { done(out); });
    s.click(s.find<QPushButton>("btnSelectFolder"));
    EXPECT_EQ(s.find<QLineEdit>("txtFolderName")->text(), out);

    // PNG with compression.
    s.choosePopupRow(s.find<QPushButton>("btnSelectFormat"), 6);
    EXPECT_EQ(s.find<QLineEdit>("txtSelectedFileType")->text(), "png");
    EXPECT_TRUE(s.find<QWidget>("vwCompression")->isVisible());
    EXPECT_FALSE(s.find<QWidget>("vwQuality")->isVisible());
    s.click(s.find<QCheckBox>("checkboxCompression"));

    // Two rename rules: a new name and a number after it.
    s.click(s.find<QRadioButton>("btnRenameModeModifyName"));
    s.click(s.find<QCheckBox>("checkboxReplaceFileName"));
    auto* newName = s.find<QLineEdit>("txtReplaceFileName");
    ASSERT_TRUE(newName->isEnabled()) << "the rule's controls are usable once its preview is published";
    newName->selectAll();
    QTest::keyClicks(newName, "holi/day");
    s.settle();
    EXPECT_EQ(newName->text(), "holiday");
    s.click(s.find<QCheckBox>("checkboxAddDigit"));
    s.choosePopupRow(s.find<QPushButton>("btnAsAddDigit"), 1);  // Suffix

    const QStringList previewed = s.previewPaths();
    EXPECT_EQ(previewed, (QStringList{out + "/holiday1.png", out + "/holiday2.png"}));
    EXPECT_EQ(s.find<QPushButton>("btnErrorFileNames")->text(), "ERRORS: 0");

    // Start, answer Yes, wait for the run's end.
    bool ended = false;
    QObject::connect(s.setup.get(), &SetupVC::runFinished, [&](bool) { ended = true; });
    s.click(s.find<QPushButton>("btnStartProcess"));
    QMessageBox* question = s.setup->startQuestion();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(), startgate::QuestionNoErrors);
    QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
    ASSERT_TRUE(batchtest::waitUntil([&] { return ended; }, 60000));

    // The summary replaces the run view once the log is written.
    EXPECT_TRUE(batchtest::waitUntil([&] { return s.setup->vwSummary->isVisible(); }));
    EXPECT_EQ(s.setup->tblPreviewPaths->model()->rowCount(), 2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(s.setup->tblPreviewPaths->model()->index(r, 0).data().toString(), previewed[r]);
        EXPECT_EQ(s.setup->tblPreviewPaths->model()->index(r, 0).data(Qt::ForegroundRole).value<QColor>(),
                  QColor::fromRgbF(0, 1, 0, 1));
    }
    for (const QString& path : previewed) {
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
        EXPECT_FALSE(platform::readImage(path).isNull()) << path.toStdString();
    }
}

TEST(OutputScreen, StartRefusalsAndErrorsShownBeforeTheRun) {
    Screen s(3);
    // An empty folder would plan every output at the root: Start refuses it.
    s.view->seletedOutputOptionSettingObj->outputFolderPath.clear();
    s.view->txtFolderName->clear();
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    s.click(s.find<QPushButton>("btnStartProcess"));
    auto* alert = s.setup->findChild<QMessageBox*>("alertDestinationFolder");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), startgate::FolderNotFound);
    alert->close();
    EXPECT_EQ(s.setup->startQuestion(), nullptr);

    // Beside the sources no destination folder is needed; planning onto the sources
    // themselves is an error in every row, so the start is refused with alert 115.
    s.click(s.find<QRadioButton>("btnUseSourcePhotosFolder"));
    s.view->selectedBatchRenameSetting->outputFormat = 0;
    s.click(s.find<QRadioButton>("btnCopytoDestFolder"));
    const QString sources = QFileInfo(AppDelegate::shared().arraySelectedImagesToProcess[0]->filePath).path();
    s.view->seletedOutputOptionSettingObj->outputFolderPath = sources;
    s.view->txtFolderName->setText(sources);
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_EQ(s.find<QPushButton>("btnErrorFileNames")->text(), "ERRORS: 3");
    s.click(s.find<QPushButton>("btnErrorFileNames"));
    ASSERT_EQ(s.view->tblPreviewNames->model()->rowCount(), 3);
    EXPECT_TRUE(s.view->tblPreviewNames->model()->index(0, 0).data(Qt::ToolTipRole).toString().endsWith(
        "The output would replace a photo of the batch."));
    s.click(s.find<QPushButton>("btnStartProcess"));
    auto* refusal = s.setup->findChild<QMessageBox*>("alert115");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(s.setup->startQuestion(), nullptr);
    QTest::mouseClick(refusal->button(QMessageBox::Ok), Qt::LeftButton);

    // Blank replacement name with the rule on: the short alert, nothing handed over.
    s.click(s.find<QRadioButton>("btnUseSourcePhotosFolder"));
    s.click(s.find<QRadioButton>("btnRenameModeModifyName"));
    s.click(s.find<QCheckBox>("checkboxReplaceFileName"));
    auto* newName = s.find<QLineEdit>("txtReplaceFileName");
    newName->selectAll();
    QTest::keyClick(newName, Qt::Key_Delete);
    s.settle();
    s.click(s.find<QPushButton>("btnStartProcess"));
    auto* shortAlert = s.setup->findChild<QMessageBox*>("win_alert");
    ASSERT_NE(shortAlert, nullptr);
    EXPECT_EQ(shortAlert->text(), startgate::BlankReplacementName);
    EXPECT_TRUE(AppDelegate::shared().isSUBWINDOW_OPENED);
    // However the short alert goes, the screen is free again: no later alert is refused.
    QTest::keyClick(shortAlert, Qt::Key_Escape);
    EXPECT_TRUE(batchtest::waitUntil([&] { return s.setup->alertWin() == nullptr; }));
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
    s.click(s.find<QPushButton>("btnStartProcess"));
    ASSERT_NE(s.setup->alertWin(), nullptr) << "the next short alert opens";
    s.setup->hideNoPhotosAlertWindow(true);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);
}

// A plan that ran out of memory shows no names and says why above them; Start refuses it.
// The next plan that is made replaces the notice.
TEST(OutputScreen, APlanThatRanOutOfMemorySaysSoAndCannotBeStarted) {
    Screen s(2);
    s.view->recomputer()->setFileExists([](const QString&) -> bool { throw std::bad_alloc(); });
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    auto* notice = s.find<QLabel>("lblOriginalsNotice");
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), kPlanNotEnoughMemory);
    EXPECT_TRUE(s.previewPaths().isEmpty());
    s.click(s.find<QPushButton>("btnStartProcess"));
    auto* refusal = s.setup->findChild<QMessageBox*>("alert115");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(s.setup->startQuestion(), nullptr);
    QTest::mouseClick(refusal->button(QMessageBox::Ok), Qt::LeftButton);

    s.view->recomputer()->setFileExists({});
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_EQ(s.previewPaths().size(), 2);
    EXPECT_NE(notice->text(), kPlanNotEnoughMemory);
}

// The summary's and the session's work on Qt's pool that fails (memory ran short) is done
// all the same: the screen hears of it with what was made, and is not left waiting.
TEST(OutputScreen, SummaryWorkThatRunsOutOfMemoryStillEnds) {
    QObject context;
    const SummaryController::Worker worker = SummaryController::pooledWorker(platform::PostBack(&context));
    int done = 0;
    worker([] { throw std::bad_alloc(); }, [&] { ++done; });
    worker([] {}, [&] { ++done; });
    EXPECT_TRUE(batchtest::waitUntil([&] { return done == 2; }));
}

TEST(OutputScreen, EachRuleCheckBoxSwitchesItsOwnRuleInThePreview) {
    Screen s(1, "src/Ab%1.JPG");
    s.click(s.find<QRadioButton>("btnRenameModeModifyName"));
    // With the rules shown the column scrolls, and still no control is cut at its right edge.
    QWidget* viewport = s.view->scrollViewRename->viewport();
    ASSERT_TRUE(s.view->scrollViewRename->verticalScrollBar()->isVisible());
    for (QWidget* w : {static_cast<QWidget*>(s.view->btnInfoAboutRawFormats), static_cast<QWidget*>(s.view->popupButtons[1]),
                       static_cast<QWidget*>(s.view->fields[0])}) {
        EXPECT_LE(w->mapTo(viewport, QPoint(w->width(), 0)).x(), viewport->width()) << w->objectName().toStdString();
    }
    // Texts kept for when their rule is switched on.
    BatchRenameSetting& settings = *s.view->selectedBatchRenameSetting;
    settings.dictReplaceFileName.insert("New Name", "Photo");
    settings.dictAddString.insert("Prefix", "X");
    settings.dictAddDigit.insert("Starting Index", 1);
    settings.dictAddDigit.insert("Increment", 1);
    settings.dictRemove.insert("First n", 1);
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    // The planned name as the scheme gives it (the path shown carries the extension in lower case).
    const auto plannedName = [&] {
        return s.view->arrayOutputFilePaths.isEmpty() ? QString() : s.view->arrayOutputFilePaths[0]->fileName;
    };
    const QString original = plannedName();
    const QString shownBefore = s.previewPaths().value(0);
    ASSERT_EQ(original.toLower(), "ab0.jpg");
    const QString ext = original.section('.', -1);
    const struct {
        const char* box;
        const char* group;
        std::function<bool(const QString&)> renamed;
    } cases[] = {
        {"checkboxReplaceFileName", "vwNewFileName", [](const QString& n) { return n.startsWith("Photo."); }},
        {"checkboxDateTimeStamp", "vwDateTimeStamp", [&](const QString& n) { return n != original && n.endsWith(original); }},
        {"checkboxAppendFolderName", "vwAppendFolderName", [&](const QString& n) { return n == "src" + original; }},
        {"checkboxAddString", "vwAddString", [&](const QString& n) { return n == "X" + original; }},
        {"checkboxAddDigit", "vwAddDigit", [&](const QString& n) { return n == "1" + original; }},
        {"checkboxRemove", "vwRemove", [&](const QString& n) { return n == original.mid(1); }},
        {"checkboxChangeCaseFileName", "vwChangeCase", [&](const QString& n) { return n == "AB0." + ext; }},
        // Only the extension's case changes, whichever way the box was.
        {"checkboxCaseFileExtension", "vwCaseFileExtension",
         [&](const QString& n) { return n != original && n.startsWith("Ab0.") && n.compare(original, Qt::CaseInsensitive) == 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        auto* box = s.find<QCheckBox>(c.box);
        const bool wasOn = box->isChecked();
        s.click(box);
        const QString toggled = plannedName();
        EXPECT_TRUE(c.renamed(toggled)) << toggled.toStdString();
        if (box != s.find<QCheckBox>("checkboxCaseFileExtension")) { EXPECT_NE(s.previewPaths().value(0), shownBefore); }
        for (QLineEdit* field : s.find<QWidget>(c.group)->findChildren<QLineEdit*>())
            EXPECT_EQ(field->isEnabled(), !wasOn) << "the rule's controls are usable while it is on";
        s.click(box);
        EXPECT_EQ(plannedName(), original) << "switched back: the name as it was";
        EXPECT_EQ(s.previewPaths().value(0), shownBefore);
    }
}

TEST(OutputScreen, RenameControlsHonourTheirLimits) {
    Screen s(1);
    auto* prefix = s.find<QLineEdit>("txtPrefix");
    QTest::keyClicks(prefix, "x");
    EXPECT_TRUE(s.view->selectedBatchRenameSetting->dictAddString.value("Prefix").toString().isEmpty())
        << "typing while names are kept is not stored";
    s.click(s.find<QRadioButton>("btnRenameModeModifyName"));
    s.click(s.find<QCheckBox>("checkboxAddDigit"));
    auto* start = s.find<QLineEdit>("txtStartIndexAddDigit");
    s.setup->activateWindow();
    start->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([start] { return start->hasFocus(); }));
    start->selectAll();
    QTest::keyClick(start, Qt::Key_Backspace);
    s.settle();
    EXPECT_EQ(start->text(), "") << "the field being typed in is not refilled by the preview";
    EXPECT_EQ(s.view->selectedBatchRenameSetting->dictAddDigit.value("Starting Index").toInt(), 0);
    QTest::keyClicks(start, "12a345");
    EXPECT_EQ(start->text(), "1234") << "digits only, four at most";
    s.settle();
    EXPECT_EQ(s.view->selectedBatchRenameSetting->dictAddDigit.value("Starting Index").toInt(), 1234);
    EXPECT_TRUE(s.previewPaths().value(0).endsWith("/1234p0.jpg"));
}

TEST(OutputScreen, LiteralHighlightsAndRowColours) {
    EXPECT_EQ(previewtables::literalRanges("a.b a.b axb", "a.b"), (QList<QPair<int, int>>{{0, 3}, {4, 3}}));
    const QString html = previewtables::highlightedHtml("Size: 1.2 MB (x)", {"(x)"}, QColor(184, 184, 184), Qt::white);
    EXPECT_TRUE(html.contains("<span style=\"color:#ffffff\">(x)</span>")) << html.toStdString();
    EXPECT_NEAR(previewtables::rowBackground(3).alphaF(), 0.1, 0.005);
    EXPECT_NEAR(previewtables::rowBackground(4).alphaF(), 0.2, 0.005);
    EXPECT_EQ(RunTableModel::statusColor(PhotoFile::Skipped), QColor::fromRgbF(1, 0, 0, 0.6f));
}

}  // namespace

namespace {

TEST(OutputScreen, DestinationModesLibraryGuardAndTrash) {
    Screen s(2);
    auto* open = s.find<QCheckBox>("checkboxOpenFolderAfterProcess");
    const QString folderBefore = s.view->txtFolderName->text();

    // A folder inside the Trash is refused: nothing changes.
    batchtest::TrashInTemp trash;
    QDir().mkpath(trash.filesFolder() + "/Old");
    s.view->setFolderChooser([&](QWidget*, const QString&, std::function<void(QString)> done) {
        done(trash.filesFolder() + "/Old");
    });
    s.click(s.find<QPushButton>("btnSelectFolder"));
    EXPECT_EQ(s.view->txtFolderName->text(), folderBefore);
    EXPECT_EQ(s.view->seletedOutputOptionSettingObj->outputFolderPath, folderBefore);
    EXPECT_FALSE(AppDelegate::shared().isSUBWINDOW_OPENED);

    // Beside the sources: the open-folder box is cleared and disabled, and Start does not
    // ask for the destination folder even when it is missing.
    QDir(folderBefore).removeRecursively();
    s.click(s.find<QRadioButton>("btnUseSourcePhotosFolder"));
    EXPECT_FALSE(open->isChecked());
    EXPECT_FALSE(open->isEnabled());
    EXPECT_FALSE(s.view->txtFolderName->isEnabled());
    s.choosePopupRow(s.find<QPushButton>("btnSelectFormat"), 6);  // p0.png beside p0.jpg
    s.click(s.find<QPushButton>("btnStartProcess"));
    EXPECT_EQ(s.setup->findChild<QMessageBox*>("alertDestinationFolder"), nullptr);
    ASSERT_NE(s.setup->startQuestion(), nullptr);
    QTest::mouseClick(s.setup->startQuestion()->button(QMessageBox::No), Qt::LeftButton);
    s.click(s.find<QRadioButton>("btnCopytoDestFolder"));
    EXPECT_TRUE(open->isEnabled());
    EXPECT_FALSE(open->isChecked()) << "stays cleared";

    // Reset keeps the destination; a photo-library photo forces copy mode.
    s.click(s.find<QRadioButton>("btnMoveRenametoDestFolder"));
    s.click(s.find<QPushButton>("btnResetAllSettings"));
    EXPECT_TRUE(s.find<QRadioButton>("btnMoveRenametoDestFolder")->isChecked());
    AppDelegate::shared().arraySelectedImagesToProcess[1]->isIphotosNode = true;
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_FALSE(s.find<QRadioButton>("btnMoveRenametoDestFolder")->isEnabled());
    EXPECT_TRUE(s.find<QRadioButton>("btnCopytoDestFolder")->isChecked());
    EXPECT_TRUE(s.view->seletedOutputOptionSettingObj->copyyToDestinationFolder.value_or(false));
    EXPECT_FALSE(s.view->seletedOutputOptionSettingObj->moveAndRenameToDestinationFolder.value_or(true));
}

// Starts the run from the view, answers Yes and waits for the summary; false when no
// start question came.
bool runFromTheView(Screen& s, QString* question = nullptr) {
    bool ended = false;
    // Held for this run only: a later run on the same screen must not reach this frame's flag.
    const auto heard = QObject::connect(s.setup.get(), &SetupVC::runFinished, [&](bool) { ended = true; });
    const auto done = qScopeGuard([&] { QObject::disconnect(heard); });
    s.click(s.find<QPushButton>("btnStartProcess"));
    QMessageBox* asked = s.setup->startQuestion();
    if (!asked) return false;
    if (question) *question = asked->text();
    QTest::mouseClick(asked->button(QMessageBox::Yes), Qt::LeftButton);
    return batchtest::waitUntil([&] { return ended; }, 60000) &&
           batchtest::waitUntil([&] { return s.setup->vwSummary->isVisible(); });
}

// The summary's Back, past the rate prompt, to the planned names again.
void backFromTheSummary(Screen& s) {
    QTest::mouseClick(s.setup->summaryController->summaryView()->btnBackToPreviewOnSummary, Qt::LeftButton);
    if (QMessageBox* rate = s.setup->summaryController->alertWindow())
        QTest::mouseClick(rate->findChild<QPushButton*>("btnNoOnAlert"), Qt::LeftButton);
    s.settle();
}

int errorsShown(const Screen& s) { return s.find<QPushButton>("btnErrorFileNames")->text().mid(8).toInt(); }

TEST(OutputScreen, PhotosSharingAPlannedNameAllFailAndTheCountTheFilterAndTheRunSaySo) {
    // Three photos named p.jpg in three folders: in copy mode all three plan out/p.jpg.
    Screen s(3, "src%1/p.jpg");
    auto* model = s.view->tblPreviewNames->model();
    ASSERT_EQ(model->rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(model->index(r, 0).data(PreviewTableModel::MarkRole).toInt(), int(PreviewMark::DuplicateName));
    EXPECT_EQ(s.find<QPushButton>("btnErrorFileNames")->text(), "ERRORS: 3");
    s.click(s.find<QPushButton>("btnErrorFileNames"));
    EXPECT_EQ(model->rowCount(), 3);
    s.click(s.find<QPushButton>("btnWarningFileNames"));
    EXPECT_EQ(model->rowCount(), 0);
    s.click(s.find<QPushButton>("btnAllFileNames"));
    // None of them can be written: the start is refused.
    s.click(s.find<QPushButton>("btnStartProcess"));
    auto* refusal = s.setup->findChild<QMessageBox*>("alert115");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(s.setup->startQuestion(), nullptr);
    QTest::mouseClick(refusal->button(QMessageBox::Ok), Qt::LeftButton);

    // A fourth photo of its own name: it is written, the other three fail, as counted.
    AppDelegate::shared().arraySelectedImagesToProcess << batchtest::photoAt(batchtest::writePhoto(s.dir.filePath("other/q.jpg")));
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_EQ(errorsShown(s), 3);
    ASSERT_TRUE(runFromTheView(s));
    const BatchRunner* runner = s.setup->runner();
    EXPECT_EQ(runner->counterProcessedWithError, 3);
    EXPECT_EQ(runner->counterProcessedSuccessfully, 1);
    EXPECT_EQ(s.setup->summaryController->summaryView()->lblErrorsSummary->text(), "3");
}

TEST(OutputScreen, OverwritingKeepsReplacedFilesMarkedSaysHowManyAndTrashesThem) {
    batchtest::TrashInTemp trash;
    Screen s(2);
    const QString out = s.find<QLineEdit>("txtFolderName")->text();
    const QString taken = out + "/p0.jpg";
    testsupport::writeFile(taken, "a file of the user's that has p0.jpg's name");
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    auto* model = s.view->tblPreviewNames->model();
    const auto mark = [&](int row) { return PreviewMark(model->index(row, 0).data(PreviewTableModel::MarkRole).toInt()); };
    EXPECT_EQ(mark(0), PreviewMark::AlreadyExists);
    EXPECT_EQ(s.find<QPushButton>("btnWarningFileNames")->text(), "WARNINGS: 1");

    // Overwriting on: the row still says its file is in the way, and what becomes of it.
    s.click(s.find<QCheckBox>("checkboxDeleteSourcePhoto"));
    EXPECT_EQ(mark(0), PreviewMark::ReplacesExisting);
    EXPECT_EQ(mark(1), PreviewMark::Ready);
    EXPECT_TRUE(model->index(0, 0).data(Qt::ToolTipRole).toString().contains("goes to the Trash first"));
    EXPECT_EQ(s.find<QPushButton>("btnWarningFileNames")->text(), "WARNINGS: 1");
    EXPECT_EQ(s.find<QPushButton>("btnErrorFileNames")->text(), "ERRORS: 0");
    s.click(s.find<QPushButton>("btnWarningFileNames"));
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->index(0, 0).data().toString(), taken);
    s.click(s.find<QPushButton>("btnAllFileNames"));
    EXPECT_TRUE(s.view->lblOriginalsNotice->isVisible());
    EXPECT_EQ(s.view->lblOriginalsNotice->text(), startgate::ReplacesExistingOneNote);

    // Every photo is written: the question says which file goes, not that any is skipped.
    QString question;
    ASSERT_TRUE(runFromTheView(s, &question));
    EXPECT_TRUE(question.contains(startgate::ReplacesExistingOneNote)) << question.toStdString();
    EXPECT_FALSE(question.contains("skipped")) << question.toStdString();
    EXPECT_EQ(s.setup->runner()->counterProcessedSuccessfully, 2);
    EXPECT_EQ(platform::readImage(taken).size(), QSize(160, 120));
    EXPECT_EQ(testsupport::readFile(trash.filesFolder() + "/p0.jpg"), "a file of the user's that has p0.jpg's name");
    const QByteArray info = testsupport::readFile(trash.infoFolder() + "/p0.jpg.trashinfo");
    EXPECT_TRUE(info.contains("Path=" + QUrl::toPercentEncoding(taken, "/"))) << info.toStdString();
    EXPECT_EQ(s.setup->summaryController->summaryView()->lblOriginalsNote->text(),
              "1 existing file was replaced; the old file was moved to the Trash.");
}

TEST(OutputScreen, PhotosTooLargeOrUnreadableAreErrorsBeforeStartAndAfterTheRun) {
    Screen s(1);
    auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    // Two photos past what the program opens, sharing a name; a third of its own name.
    for (const char* name : {"big/a/huge.jpg", "big/b/huge.jpg", "big/huge2.jpg"})
        batch << batchtest::photoAt(batchtest::jpegDeclaringSize(s.dir.filePath(name), 20000, 15000));
    // A JPEG cut short that nothing has read yet.
    const QString cut = batchtest::writePhoto(s.dir.filePath("src/cut.jpg"), 320, 240);
    batch << batchtest::photoAt(cut);
    QFile file(cut);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    ASSERT_EQ(batch.size(), 5);
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();

    auto* model = s.view->tblPreviewNames->model();
    const auto tip = [&](int row) { return model->index(row, 0).data(Qt::ToolTipRole).toString(); };
    const auto mark = [&](int row) { return PreviewMark(model->index(row, 0).data(PreviewTableModel::MarkRole).toInt()); };
    EXPECT_EQ(errorsShown(s), 3);
    for (int row : {1, 2}) {
        EXPECT_EQ(mark(row), PreviewMark::DuplicateName);
        EXPECT_TRUE(tip(row).contains("Duplicate filename.")) << tip(row).toStdString();
        EXPECT_TRUE(tip(row).contains("larger than this program will open")) << tip(row).toStdString();
    }
    EXPECT_EQ(mark(3), PreviewMark::TooLarge);
    EXPECT_EQ(mark(4), PreviewMark::Ready);

    QString question;
    ASSERT_TRUE(runFromTheView(s, &question));
    EXPECT_TRUE(question.contains("Files with Errors/Warnings will be skipped")) << question.toStdString();
    EXPECT_EQ(batch[3]->processInfoMessage, runmessages::TooLarge);
    EXPECT_EQ(batch[4]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(s.setup->runner()->counterProcessedWithError, 4);
    // What the run found stays known: back at the planned names, the cut photo is an error too.
    backFromTheSummary(s);
    ASSERT_TRUE(s.view->isVisible());
    EXPECT_EQ(errorsShown(s), 4);
    EXPECT_EQ(mark(4), PreviewMark::SourceUnreadable);
    s.click(s.find<QPushButton>("btnErrorFileNames"));
    EXPECT_EQ(model->rowCount(), 4);
}

}  // namespace

TEST(OutputScreen, PhotosThatCouldNotBeReadCountAsErrors) {
    Screen s(3);
    // The add-photos screen found the second photo's file unreadable (its thumbnail failed).
    const auto& unreadable = AppDelegate::shared().arraySelectedImagesToProcess[1];
    unreadable->markUnreadable(platform::FileStamp::of(unreadable->filePath));
    s.view->resetPreviewForUpdatedRenameSelections(false);
    s.settle();
    EXPECT_EQ(s.find<QPushButton>("btnErrorFileNames")->text(), "ERRORS: 1");
    s.click(s.find<QPushButton>("btnErrorFileNames"));
    auto* model = s.view->tblPreviewNames->model();
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->index(0, 1).data().toString(), AppDelegate::shared().arraySelectedImagesToProcess[1]->filePath);
    EXPECT_TRUE(model->index(0, 0).data(Qt::ToolTipRole).toString().contains("File cannot be read"));
    // The start counts it too: the question speaks of errors to be skipped.
    s.click(s.find<QPushButton>("btnStartProcess"));
    ASSERT_NE(s.setup->startQuestion(), nullptr);
    EXPECT_EQ(s.setup->calculatedErrors.arrayUnreadable.size(), 1);
    EXPECT_TRUE(s.setup->startQuestion()->text().contains("Files with Errors/Warnings will be skipped"));
    s.setup->btnNoOnStartProcessWindowTapped();
}

// A photo a run could not read stays an error only while its file is as it failed: mended,
// it is counted, asked about and written like any other, whether it was mended before the
// planned names showed again or while they show.
TEST(OutputScreen, APhotoTheRunCouldNotReadIsWrittenOnceItsFileIsMended) {
    const struct {
        const char* name;
        int photos;
        bool mendedWhileShown;
    } cases[] = {
        {"alone, mended while the names show", 1, true},
        {"beside another, mended before going back", 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screen s(c.photos);
        const auto photo = AppDelegate::shared().arraySelectedImagesToProcess.last();
        const QDir out(s.find<QLineEdit>("txtFolderName")->text());
        const QString output = out.filePath(QFileInfo(photo->filePath).fileName());
        testsupport::writeFile(photo->filePath, QByteArray("\xFF\xD8\xFF\xE0 not a photo", 16));
        s.view->resetPreviewForUpdatedRenameSelections(false);
        s.settle();
        ASSERT_TRUE(runFromTheView(s));
        ASSERT_EQ(photo->processStatus, PhotoFile::Failed);
        ASSERT_TRUE(photo->isUnreadable);
        ASSERT_FALSE(QFileInfo::exists(output));
        // The other photos' outputs are taken away, so that nothing but the mended photo is in question.
        for (const QString& name : out.entryList(QDir::Files)) ASSERT_TRUE(QFile::remove(out.filePath(name)));

        const auto mend = [&] { batchtest::writePhoto(photo->filePath); };
        if (!c.mendedWhileShown) mend();
        backFromTheSummary(s);
        if (c.mendedWhileShown) {
            // As it failed, it is an error, and alone it is nothing to start.
            EXPECT_EQ(errorsShown(s), 1);
            s.click(s.find<QPushButton>("btnStartProcess"));
            auto* refusal = s.setup->findChild<QMessageBox*>("alert115");
            ASSERT_NE(refusal, nullptr);
            QTest::mouseClick(refusal->button(QMessageBox::Ok), Qt::LeftButton);
            mend();
        } else {
            EXPECT_EQ(errorsShown(s), 0);
            EXPECT_EQ(s.view->tblPreviewNames->model()->index(c.photos - 1, 0).data(PreviewTableModel::MarkRole).toInt(),
                      int(PreviewMark::Ready));
        }
        QString question;
        ASSERT_TRUE(runFromTheView(s, &question));
        EXPECT_FALSE(question.contains("skipped")) << question.toStdString();
        EXPECT_EQ(errorsShown(s), 0) << "the count follows what the start found";
        EXPECT_EQ(photo->processStatus, PhotoFile::Processed);
        EXPECT_FALSE(photo->isUnreadable);
        EXPECT_EQ(s.setup->runner()->counterProcessedSuccessfully, c.photos);
        EXPECT_EQ(platform::readImage(output).size(), QSize(160, 120));
    }
}
