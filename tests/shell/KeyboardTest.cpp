// A batch by the keyboard alone through the real main window: photos added through the
// open panel, an effect chosen and added, the output format and folder chosen, the run
// started; on every screen each control that takes the keyboard shows that it has it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QThreadPool>
#include <algorithm>

#include "batch/RenamePreviewRecomputer.h"
#include "batch/ui/ConvertFormatOrRenameView.h"
#include "batch/ui/SetupVC.h"
#include "batch/ui/SummaryController.h"
#include "batch/ui/SummaryView.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectsScreenController.h"
#include "import/ui/AddPhotosVC.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "platform/workspace/Workspace.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/PhotoFile.h"
#include "shell/MainWindowController.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/shell/RoadFixture.h"
#include "tests/support/FocusRings.h"
#include "tests/support/TestSupport.h"

namespace {

void settleKeys() {
    QThreadPool::globalInstance()->waitForDone();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

QWidget* keyboardAt() { return QApplication::focusWidget(); }

// A key pressed where the keyboard is.
void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* at = keyboardAt();
    ASSERT_NE(at, nullptr) << "the keyboard is nowhere";
    QTest::keyClick(at, key, modifiers);
    settleKeys();
}

// Presses Tab (or Shift+Tab) until `target` has the keyboard; false after `limit` presses.
bool tabTo(QWidget* target, bool backwards = false, int limit = 60) {
    for (int i = 0; i < limit; ++i) {
        if (target->hasFocus()) return true;
        if (!keyboardAt()) {
            // A dialog that just closed leaves its window to be made active again.
            QWidget* window = target->window();
            window->activateWindow();
            if (!QTest::qWaitForWindowActive(window)) return false;
            if (!keyboardAt()) window->setFocus(Qt::OtherFocusReason);
            if (!keyboardAt()) return false;
        }
        QTest::keyClick(keyboardAt(), backwards ? Qt::Key_Backtab : Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        settleKeys();
    }
    return target->hasFocus();
}

// Types into the field that has the keyboard.
void typeHere(const QString& text) {
    ASSERT_NE(keyboardAt(), nullptr);
    QTest::keyClicks(keyboardAt(), text);
    settleKeys();
}

}  // namespace

TEST(Keyboard, AWholeBatchByTheKeyboardAlone) {
    Road k;
    k.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(k.window.get()));
    AppDelegate& app = AppDelegate::shared();
    for (int i = 0; i < 3; ++i) batchtest::writePhoto(k.dir.filePath(QString("in/p%1.jpg").arg(i)), 160, 120);
    const QString out = k.dir.filePath("out");
    QDir().mkpath(out);

    // ---- add: Add Folder, the open panel takes the folder typed, Return ----
    AddPhotosVC* add = k.window->addPhotosVC();
    auto* addFolder = add->findChild<QPushButton*>("btnAddFolderCenter");
    ASSERT_NE(addFolder, nullptr);
    ASSERT_TRUE(tabTo(addFolder));
    pressKey(Qt::Key_Return);
    auto* panel = add->findChild<QFileDialog*>("openPanel");
    ASSERT_NE(panel, nullptr) << "Return pressed the button";
    ASSERT_TRUE(batchtest::waitUntil([&] { return panel->isAncestorOf(keyboardAt()); }));
    typeHere(k.dir.filePath("in"));
    pressKey(Qt::Key_Return);
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 3; }));
    // The photos shown, the add over: the grid, its tiles and the header's buttons.
    ASSERT_TRUE(batchtest::waitUntil([&] { return add->nextButton()->isVisible(); }));
    EXPECT_EQ(testsupport::controlsWithoutFocusRing(add), QStringList{});
    ASSERT_TRUE(tabTo(add->nextButton()));
    pressKey(Qt::Key_Return);
    ASSERT_EQ(k.window->currentScreen(), MainWindowController::ScreenAdjustFilter);

    // ---- an effect: the category list, the arrows to Black & White, Return, Add Effect ----
    AdjustFilterVC* fx = k.window->adjustFilterVC();
    auto* screen = fx->findChild<EffectsScreenController*>();
    ASSERT_NE(screen, nullptr);
    settleKeys();
    QListView* categories = screen->tblFilterCategories();
    int target = -1;
    for (int r = 0; r < screen->categoryModel()->rowCount() && target < 0; ++r) {
        const auto record = screen->categoryModel()->basicAt(r);
        if (record && record->filterName == "Black & White" && !screen->categoryModel()->rows().isHeader(r)) target = r;
    }
    ASSERT_GE(target, 0);
    ASSERT_TRUE(tabTo(categories));
    for (int i = 0; i < 40 && categories->currentIndex().row() != target; ++i)
        pressKey(categories->currentIndex().row() < target ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_EQ(categories->currentIndex().row(), target);
    pressKey(Qt::Key_Return);
    ASSERT_EQ(fx->state().currentFilterName, "Black & White");
    ASSERT_TRUE(tabTo(fx->btnApplyFilter()));
    pressKey(Qt::Key_Enter);
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    EXPECT_EQ(app.arrayAppliedFilters[0]->filterName, "Black & White");
    EXPECT_EQ(testsupport::controlsWithoutFocusRing(fx), QStringList{});
    ASSERT_TRUE(batchtest::waitUntil([&] { return fx->nextButton()->isEnabled(); }));
    ASSERT_TRUE(tabTo(fx->nextButton()));
    pressKey(Qt::Key_Return);
    ASSERT_TRUE(batchtest::waitUntil([&] { return k.window->currentScreen() == MainWindowController::ScreenSetup; }));

    // ---- output: the folder through its chooser, PNG from the format list, Start ----
    SetupVC* setup = k.window->setupVC();
    setup->summaryController->setWorkspace(&k.workspace);
    setup->summaryController->setDocumentsFolder(k.dir.filePath("Documents"));
    ConvertFormatOrRenameView* view = setup->vwConvertFormatOrRename;
    const auto settled = [&] { return batchtest::waitUntil([&] { return !view->recomputer()->isPending(); }); };
    ASSERT_TRUE(settled());
    ASSERT_TRUE(tabTo(view->btnSelectFolder));
    pressKey(Qt::Key_Return);
    auto* chooser = setup->window()->findChild<QFileDialog*>("folderChooser");
    ASSERT_NE(chooser, nullptr);
    ASSERT_TRUE(batchtest::waitUntil([&] { return chooser->isAncestorOf(keyboardAt()); }));
    QLineEdit* typed = qobject_cast<QLineEdit*>(keyboardAt());
    ASSERT_NE(typed, nullptr);
    typed->selectAll();
    typeHere(out);
    pressKey(Qt::Key_Return);
    ASSERT_TRUE(settled());
    EXPECT_EQ(view->txtFolderName->text(), out);

    ASSERT_TRUE(tabTo(view->btnSelectFormat));
    pressKey(Qt::Key_Space);
    QTableView* formats = view->tblPopupOptions;
    ASSERT_NE(formats, nullptr);
    EXPECT_TRUE(formats->hasFocus()) << "the open list has the keyboard";
    EXPECT_EQ(formats->currentIndex().row(), 0) << "the format chosen before";
    for (int i = 0; i < 6; ++i) pressKey(Qt::Key_Down);
    EXPECT_EQ(formats->currentIndex().data().toString(), "png");
    pressKey(Qt::Key_Tab);
    EXPECT_TRUE(formats->hasFocus()) << "Tab does not leave the open list";
    pressKey(Qt::Key_Return);
    ASSERT_TRUE(settled());
    EXPECT_EQ(view->txtSelectedFileType->text(), "png");
    EXPECT_EQ(view->tblPopupOptions, nullptr);
    EXPECT_TRUE(view->btnSelectFormat->hasFocus()) << "the keyboard is back where it was";
    // Escape closes an open list and gives the keyboard back too.
    pressKey(Qt::Key_Return);
    ASSERT_NE(view->tblPopupOptions, nullptr);
    pressKey(Qt::Key_Escape);
    EXPECT_EQ(view->tblPopupOptions, nullptr);
    EXPECT_TRUE(view->btnSelectFormat->hasFocus());
    EXPECT_EQ(view->txtSelectedFileType->text(), "png");

    // The planned names are one stop of Tab, in either direction, and the arrows walk them.
    ASSERT_TRUE(tabTo(view->tblPreviewNames));
    pressKey(Qt::Key_Down);
    EXPECT_TRUE(view->tblPreviewNames->hasFocus());
    pressKey(Qt::Key_Tab);
    EXPECT_FALSE(view->tblPreviewNames->hasFocus()) << "Tab leaves the table from any row";
    ASSERT_TRUE(tabTo(view->tblPreviewNames, true));
    pressKey(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(view->tblPreviewNames->hasFocus());
    EXPECT_EQ(testsupport::controlsWithoutFocusRing(view), QStringList{});

    bool shown = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
    ASSERT_TRUE(tabTo(view->btnStart));
    pressKey(Qt::Key_Return);
    QMessageBox* question = setup->startQuestion();
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(batchtest::waitUntil([&] { return question->isAncestorOf(keyboardAt()); }));
    ASSERT_TRUE(tabTo(question->button(QMessageBox::Yes)));
    pressKey(Qt::Key_Return);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(platform::readImage(QString("%1/p%2.png").arg(out).arg(i)).isNull()) << i;
    // The summary's links show the keyboard too.
    EXPECT_EQ(testsupport::controlsWithoutFocusRing(setup->summaryController->summaryView()), QStringList{});
}
