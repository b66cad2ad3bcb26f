// The road of one batch through the real main window, as a user walks it: photos dropped on
// the add-photos screen, two effects set up, committed and reordered on the effects screen,
// the output chosen on the output screen, the run started and its summary shown; the files
// on disk; then back for a second run, a new batch, the window closed with the session
// saved, and the session offered again by the next window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <thread>

#include "batch/BatchRunner.h"
#include "batch/RenamePreviewRecomputer.h"
#include "batch/RunStartGate.h"
#include "batch/ui/ConvertFormatOrRenameView.h"
#include "batch/ui/SetupVC.h"
#include "batch/ui/SummaryController.h"
#include "batch/ui/SummaryView.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectDelegates.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectsScreenController.h"
#include "import/PhotoIntake.h"
#include "import/ui/AddPhotosVC.h"
#include "import/ui/DropArea.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/workspace/Workspace.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/PhotoFile.h"
#include "shell/MainWindowController.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/shell/RoadFixture.h"
#include "tests/support/TestSupport.h"

namespace {

// The effects screen's questions, answered Yes as a user going on would.
struct AnsweringAlerts : EffectsAlertPresenter {
    QStringList shown;
    void showAlert(int, const QString& title, const QString&, bool, std::function<void(bool, bool)> done) override {
        shown << title;
        if (done) done(true, false);
    }
};

// The photos a user might bring: one turned by its EXIF orientation, one with a GPS position,
// a PNG with transparency, and a file that only claims to be a photo.
QStringList makePhotos(const Road& road) {
    QStringList good;
    good << batchtest::writePhoto(road.path("in/a_turned.jpg"), 120, 80, platform::ImageType::JPEG, 6);
    QVariantMap gps{{"{GPS}", QVariantMap{{"Latitude", 48.2}, {"LatitudeRef", "N"}, {"Longitude", 16.37}, {"LongitudeRef", "E"}}}};
    const QString withGps = road.path("in/b_gps.jpg");
    EXPECT_TRUE(platform::writeImageFile(withGps, testsupport::gradientImage(100, 70), platform::ImageType::JPEG, 0.9, gps));
    good << withGps;
    QImage clear(90, 60, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    for (int y = 15; y < 45; ++y)
        for (int x = 20; x < 70; ++x) clear.setPixel(x, y, qRgba(200, 40, 40, 255));
    const QString png = road.path("in/c_clear.png");
    EXPECT_TRUE(platform::writeImageFile(png, clear, platform::ImageType::PNG, 1.0, {}));
    good << png;
    testsupport::writeFile(road.path("in/d_damaged.jpg"), QByteArray("\xFF\xD8\xFF\xE0") + QByteArray(" this is not a photo"));
    return good;
}

void clickList(QListView* view, int row) {
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

int basicRow(EffectsScreenController* screen, const QString& name) {
    for (int r = 0; r < screen->categoryModel()->rowCount(); ++r) {
        auto rec = screen->categoryModel()->basicAt(r);
        if (rec && rec->filterName == name && !screen->categoryModel()->rows().isHeader(r)) return r;
    }
    return -1;
}

// A step's row dragged within the list and dropped at a point, arriving as a user's drag
// does: enter, move and drop events carrying the list's own drag data.
void dragStep(QListView* list, int row, QPoint at) {
    std::unique_ptr<QMimeData> mime(list->model()->mimeData({list->model()->index(row, 0)}));
    ASSERT_NE(mime, nullptr);
    QDragEnterEvent enter(at, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QDragMoveEvent move(at, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(list->viewport(), &move);
    ASSERT_TRUE(move.isAccepted()) << "the list takes its own rows";
    QDropEvent drop(QPointF(at), Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(list->viewport(), &drop);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

void click(QAbstractButton* b) {
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    QCoreApplication::processEvents();
}

// A folder dropped on the add-photos screen, as a file manager's drag delivers it.
bool dropFolder(AddPhotosVC* add, const QString& folder) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(folder)});
    return add->dropArea()->performDragOperation(&mime);
}

// Waits until the output screen's preview of the new names is up to date.
void settle(ConvertFormatOrRenameView* view) {
    EXPECT_TRUE(batchtest::waitUntil([&] { return !view->recomputer()->isPending(); }));
}

QStringList previewNames(ConvertFormatOrRenameView* view) {
    QStringList names;
    for (int r = 0; r < view->tblPreviewNames->model()->rowCount(); ++r)
        names << view->tblPreviewNames->model()->index(r, 0).data().toString();
    return names;
}

// The output folder chosen through the folder button; the test's folder stands in for the
// folder dialog's answer.
void chooseOutputFolder(SetupVC* setup, const QString& folder) {
    ConvertFormatOrRenameView* view = setup->vwConvertFormatOrRename;
    view->setFolderChooser([folder](QWidget*, const QString&, std::function<void(QString)> done) { done(folder); });
    click(setup->findChild<QPushButton*>("btnSelectFolder"));
    settle(view);
}

// The output screen as the road reaches it: no file manager or Documents folder of the
// user's, the names replanned at once, and the output folder `out` chosen.
SetupVC* outputScreen(Road& road, const QString& out) {
    SetupVC* setup = road.window->setupVC();
    setup->summaryController->setWorkspace(&road.workspace);
    setup->summaryController->setDocumentsFolder(road.path("Documents"));
    setup->vwConvertFormatOrRename->recomputer()->setDebounceInterval(0);
    settle(setup->vwConvertFormatOrRename);
    QDir().mkpath(out);
    chooseOutputFolder(setup, out);
    return setup;
}

// Start, then Yes to the question before the run.
void startRun(SetupVC* setup) {
    click(setup->findChild<QPushButton*>("btnStartProcess"));
    QMessageBox* question = setup->startQuestion();
    ASSERT_NE(question, nullptr);
    QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
}

// The program started again: the last session is offered, taken, and its `count` photos
// are in the batch. The new window's add-photos screen, or null when that did not happen.
AddPhotosVC* reopenWithTheLastSession(Road& road, int count) {
    AppDelegate& app = AppDelegate::shared();
    road.window.reset();
    QThreadPool::globalInstance()->waitForDone();
    app.resetToLaunchValues();
    road.open();
    AddPhotosVC* again = road.window->addPhotosVC();
    if (!batchtest::waitUntil([&] { return again->isAlertShown(); })) return nullptr;
    EXPECT_EQ(again->alertTitle(), "LOAD LAST SESSION");
    click(again->findChild<QPushButton*>("btnYesOnAlert"));
    if (!batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == count; })) return nullptr;
    return again;
}

TEST(EndToEnd, DroppedPhotosThroughEffectsAndOutputToFilesOnDisk) {
    Road road;
    const QStringList good = makePhotos(road);
    AppDelegate& app = AppDelegate::shared();

    // ---- add photos: drop the folder ----
    AddPhotosVC* add = road.window->addPhotosVC();
    ASSERT_NE(add, nullptr);
    ASSERT_TRUE(dropFolder(add, road.path("in")));
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 3 && add->isAlertShown(); }));
    EXPECT_EQ(add->alertTitle(), "FILE CANNOT BE ADDED");
    QStringList batch;
    for (const auto& p : app.arraySelectedImagesToProcess) batch << p->filePath;
    EXPECT_EQ(batch, good) << "photos in the order of the folder; the damaged file left out";
    EXPECT_EQ(int(app.arraySelectedImagesToProcess[0]->width), 80) << "the turned photo counts upright";
    EXPECT_TRUE(add->footerText().startsWith("Batch Count: 3")) << add->footerText().toStdString();

    add->btnOkOnAlertWinTapped();
    EXPECT_FALSE(add->isAlertShown());
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    click(add->nextButton());
    ASSERT_EQ(road.window->currentScreen(), MainWindowController::ScreenAdjustFilter);

    // ---- effects: a black-and-white step and a text watermark ----
    AdjustFilterVC* fx = road.window->adjustFilterVC();
    auto* screen = fx->findChild<EffectsScreenController*>();
    ASSERT_NE(screen, nullptr);
    AnsweringAlerts alerts;
    screen->setAlertPresenter(&alerts);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    const int bw = basicRow(screen, "Black & White");
    ASSERT_GE(bw, 0);
    clickList(screen->tblFilterCategories(), bw);
    click(fx->btnApplyFilter());
    const int text = basicRow(screen, "Add Text");
    ASSERT_GE(text, 0);
    clickList(screen->tblFilterCategories(), text);
    click(fx->btnApplyFilter());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QStringList steps;
    for (const auto& s : app.arrayAppliedFilters) steps << s->filterName;
    ASSERT_EQ(steps, (QStringList{"Black & White", "Add Text"}));

    // Switch the first step off and on again, and move the text up and back down.
    QListView* stepList = screen->tblAppliedFilters();
    auto stepButton = [&](int row, StepDelegate::Button button) {
        const QRect rect = StepDelegate::buttonRect(stepList->visualRect(stepList->model()->index(row, 0)), button);
        QTest::mouseClick(stepList->viewport(), Qt::LeftButton, {}, rect.center());
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    };
    auto names = [&] {
        QStringList out;
        for (const auto& f : app.arrayAppliedFilters) out << f->filterName;
        return out;
    };
    stepButton(0, StepDelegate::Apply);
    EXPECT_FALSE(app.arrayAppliedFilters[0]->isApplied);
    stepButton(0, StepDelegate::Apply);
    EXPECT_TRUE(app.arrayAppliedFilters[0]->isApplied);
    stepButton(1, StepDelegate::MoveUp);
    EXPECT_EQ(names(), (QStringList{"Add Text", "Black & White"}));
    stepButton(0, StepDelegate::MoveDown);
    EXPECT_EQ(names(), (QStringList{"Black & White", "Add Text"}));
    // And by dragging: the text onto the top edge of the first row, then the black-and-white
    // step onto the bottom edge of the last.
    auto rowText = [&](int row) { return stepList->model()->index(row, 0).data().toString(); };
    const QString bwShown = rowText(0);
    dragStep(stepList, 1, stepList->visualRect(stepList->model()->index(0, 0)).topLeft() + QPoint(20, 1));
    EXPECT_EQ(names(), (QStringList{"Add Text", "Black & White"}));
    EXPECT_EQ(rowText(1), bwShown) << "the list shows the new order";
    dragStep(stepList, 0, stepList->visualRect(stepList->model()->index(1, 0)).bottomLeft() + QPoint(20, -1));
    EXPECT_EQ(names(), (QStringList{"Black & White", "Add Text"}));
    EXPECT_EQ(rowText(0), bwShown);

    EXPECT_FALSE(app.isSUBWINDOW_OPENED) << alerts.shown.join(", ").toStdString();
    // Next answers once the screen's first second is over.
    ASSERT_TRUE(batchtest::waitUntil([&] { return fx->nextButton()->isEnabled(); }));
    click(fx->nextButton());
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenSetup; }));

    // ---- output: a folder of the test's, PNG with compression, a new name with digits ----
    const QString out = road.path("Out");
    SetupVC* setup = outputScreen(road, out);
    ConvertFormatOrRenameView* view = setup->vwConvertFormatOrRename;
    auto choosePopupRow = [&](const char* opener, int row) {
        click(setup->findChild<QPushButton*>(opener));
        QTableView* table = view->tblPopupOptions;
        ASSERT_NE(table, nullptr);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
        settle(view);
    };
    choosePopupRow("btnSelectFormat", 6);
    click(setup->findChild<QCheckBox*>("checkboxCompression"));
    click(setup->findChild<QRadioButton*>("btnRenameModeModifyName"));
    click(setup->findChild<QCheckBox*>("checkboxReplaceFileName"));
    settle(view);
    auto* newName = setup->findChild<QLineEdit*>("txtReplaceFileName");
    ASSERT_NE(newName, nullptr);
    newName->selectAll();
    QTest::keyClicks(newName, "trip");
    settle(view);
    click(setup->findChild<QCheckBox*>("checkboxAddDigit"));
    settle(view);
    QStringList previewed = previewNames(view);
    ASSERT_EQ(previewed.size(), 3);
    EXPECT_EQ(previewed, (QStringList{out + "/1trip.png", out + "/2trip.png", out + "/3trip.png"}));

    // ---- run ----
    bool shown = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
    startRun(setup);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));

    // Every photo written under its previewed name, upright, grey from the black-and-white
    // step, and the GPS position carried over.
    for (int i = 0; i < previewed.size(); ++i) {
        const QImage written = platform::readImage(previewed[i]);
        ASSERT_FALSE(written.isNull()) << previewed[i].toStdString();
        EXPECT_EQ(written.size(), QSize(int(app.arraySelectedImagesToProcess[i]->width),
                                        int(app.arraySelectedImagesToProcess[i]->height)));
    }
    EXPECT_EQ(platform::readImage(previewed[0]).size(), QSize(80, 120)) << "the turned photo is written upright";
    const QVariantMap gpsBack = platform::readImageProperties(previewed[1]).value("{GPS}").toMap();
    EXPECT_NEAR(gpsBack.value("Latitude").toDouble(), 48.2, 1e-3);
    const QColor centre = platform::readImage(previewed[1]).pixelColor(10, 10);
    EXPECT_NEAR(centre.red(), centre.blue(), 3);
    const QImage clear = platform::readImage(previewed[2]);
    EXPECT_EQ(qAlpha(clear.pixel(2, 2)), 0) << "transparency kept";
    EXPECT_FALSE(setup->summaryController->strLogfilePath.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(setup->summaryController->strLogfilePath));
    for (const QString& source : good) EXPECT_TRUE(QFileInfo::exists(source)) << "copy mode keeps the sources";

    // ---- back from the summary, a second run under another name ----
    SummaryView* summary = setup->summaryController->summaryView();
    ASSERT_TRUE(summary->isVisible());
    EXPECT_TRUE(summary->lblPhotoProcessedSummary->text().contains("3")) << summary->lblPhotoProcessedSummary->text().toStdString();
    click(summary->btnBackToPreviewOnSummary);
    // The first way back asks for a rating; "No Thanks" goes on back.
    QMessageBox* rate = setup->summaryController->alertWindow();
    ASSERT_NE(rate, nullptr);
    click(rate->findChild<QPushButton*>("btnNoOnAlert"));
    ASSERT_TRUE(batchtest::waitUntil([&] { return !summary->isVisible() && view->isVisible(); }));
    settle(view);
    newName->selectAll();
    QTest::keyClicks(newName, "again");
    settle(view);
    previewed = previewNames(view);
    EXPECT_EQ(previewed, (QStringList{out + "/1again.png", out + "/2again.png", out + "/3again.png"}));
    shown = false;
    startRun(setup);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
    for (const QString& written : previewed) EXPECT_FALSE(platform::readImage(written).isNull()) << written.toStdString();

    // ---- a new batch: asked first, then the add-photos screen empty ----
    click(summary->btnStartNewBatch);
    QMessageBox* newBatch = setup->summaryController->windowStartNewBatch();
    ASSERT_NE(newBatch, nullptr);
    EXPECT_TRUE(app.isSUBWINDOW_OPENED);
    QTest::mouseClick(newBatch->button(QMessageBox::Yes), Qt::LeftButton);
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenAddPhotos; }));
    EXPECT_FALSE(app.isSUBWINDOW_OPENED);
    EXPECT_TRUE(app.arraySelectedImagesToProcess.isEmpty());
    EXPECT_TRUE(app.arrayAppliedFilters.isEmpty());

    // ---- the photos again, and the window closed with the session saved ----
    ASSERT_TRUE(dropFolder(add, road.path("in")));
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 3 && add->isAlertShown(); }));
    add->btnOkOnAlertWinTapped();
    road.window->btnCloseWindowTapped();
    EXPECT_EQ(road.asked, QStringList{"SAVE SESSION"});
    EXPECT_EQ(road.closed, 1) << "saved, then closed";
    EXPECT_FALSE(road.window->isVisible());

    // ---- the program started again: the last session is offered and loads ----
    AddPhotosVC* again = reopenWithTheLastSession(road, 3);
    ASSERT_NE(again, nullptr);
    batch.clear();
    for (const auto& p : app.arraySelectedImagesToProcess) batch << p->filePath;
    EXPECT_EQ(batch, good);
    EXPECT_TRUE(batchtest::waitUntil([&] { return again->footerText().startsWith("Batch Count: 3"); }))
        << again->footerText().toStdString();
}

TEST(EndToEnd, ANameThatIsNotUtf8IsAddedShownProcessedAndSavedWithTheSession) {
    Road road;
    AppDelegate& app = AppDelegate::shared();
    // A photo named in Latin-1 bytes, as old cameras and archives leave them.
    const QByteArray bytesName = "Caf\xe9 \xff.jpg";
    const QString source = platform::decodePath(QFile::encodeName(road.path("in")) + '/' + bytesName);
    testsupport::writeFile(source, platform::encodeImage(testsupport::gradientImage(120, 80), platform::ImageType::JPEG, 0.9));
    const QString shownName = "Caf\\xE9 \\xFF.jpg";

    // ---- added by dropping its folder ----
    AddPhotosVC* add = road.window->addPhotosVC();
    ASSERT_TRUE(dropFolder(add, road.path("in")));
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 1 && add->nextButton()->isEnabled(); }));
    EXPECT_EQ(app.arraySelectedImagesToProcess[0]->filePath, source);
    EXPECT_FALSE(add->isAlertShown()) << add->alertTitle().toStdString();
    click(add->nextButton());
    ASSERT_EQ(road.window->currentScreen(), MainWindowController::ScreenAdjustFilter);

    // ---- the effects screen shows it and takes a step ----
    AdjustFilterVC* fx = road.window->adjustFilterVC();
    auto* screen = fx->findChild<EffectsScreenController*>();
    AnsweringAlerts alerts;
    screen->setAlertPresenter(&alerts);
    ASSERT_TRUE(batchtest::waitUntil([&] { return fx->nextButton()->isEnabled() && !fx->shownImage().isNull(); }));
    EXPECT_EQ(screen->lblImageName()->text(), shownName);
    EXPECT_NEAR(double(fx->shownImage().width()) / fx->shownImage().height(), 1.5, 0.01) << "the photo, not a placeholder";
    clickList(screen->tblFilterCategories(), basicRow(screen, "Black & White"));
    click(fx->btnApplyFilter());
    EXPECT_TRUE(alerts.shown.isEmpty()) << alerts.shown.join(", ").toStdString();
    click(fx->nextButton());
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenSetup; }));

    // ---- the output screen plans its name, the run writes it and shows where it is ----
    const QString out = road.path("Out");
    SetupVC* setup = outputScreen(road, out);
    ConvertFormatOrRenameView* view = setup->vwConvertFormatOrRename;
    EXPECT_EQ(previewNames(view), QStringList{out + "/" + shownName});
    EXPECT_EQ(view->tblPreviewNames->model()->index(0, 1).data().toString(), road.path("in") + "/" + shownName);
    bool shown = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
    startRun(setup);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
    EXPECT_EQ(setup->lblCurrntFilePath->text(), road.path("in") + "/" + shownName);
    const QString written = platform::decodePath(QFile::encodeName(out) + '/' + bytesName);
    const QImage result = platform::readImage(written);
    ASSERT_EQ(result.size(), QSize(120, 80)) << "written under its own bytes";
    const QColor grey = result.pixelColor(60, 40);
    EXPECT_NEAR(grey.red(), grey.blue(), 3);
    EXPECT_TRUE(setup->summaryController->summaryView()->lblPhotoProcessedSummary->text().contains("1"));
    const QString log = QString::fromUtf8(testsupport::readFile(setup->summaryController->strLogfilePath));
    EXPECT_TRUE(log.contains(shownName)) << log.toStdString();

    // ---- back from the summary: the photo is still there, nothing says it was deleted ----
    click(setup->summaryController->summaryView()->btnBackToPreviewOnSummary);
    if (QMessageBox* rate = setup->summaryController->alertWindow()) click(rate->findChild<QPushButton*>("btnNoOnAlert"));
    ASSERT_TRUE(batchtest::waitUntil([&] { return view->isVisible(); }));
    QTest::qWait(500);  // the alert about deleted photos would have come by now
    EXPECT_EQ(setup->summaryController->alertWindow(), nullptr);
    EXPECT_EQ(app.arraySelectedImagesToProcess.size(), 1);

    // ---- saved with the session when the window closes, and offered again ----
    road.window->btnCloseWindowTapped();
    EXPECT_EQ(road.closed, 1);
    ASSERT_NE(reopenWithTheLastSession(road, 1), nullptr);
    EXPECT_EQ(app.arraySelectedImagesToProcess[0]->filePath, source);
    road.window.reset();
    testsupport::removeTree(road.dir.path());
}

}  // namespace

namespace {

// The output disk as the run sees it: room for `roomFor` outputs, then the next write is
// cut short (only half of the file reaches the disk) and the volume reports nearly no free
// space from then on.
struct FillingDisk {
    int roomFor = 2;
    std::atomic<int> placed{0};
    std::atomic<bool> full{false};
    QStringList cutShort;  // the writer's thread only

    void install(BatchRunner* runner) {
        runner->setFreeSpaceProvider([this](const QString&) -> std::optional<VolumeSpace> {
            const std::uint64_t plenty = 4 * BatchRunner::kLowSpaceBytes;
            return VolumeSpace{plenty, full ? std::uint64_t(1) << 20 : plenty};
        });
        runner->setWriterSetUp([this](ResultWriter& writer) {
            writer.beforePlacing = [this](const QString& temporaryPath, const QString&) {
                if (!full && placed < roomFor) {
                    ++placed;
                    return;
                }
                full = true;
                QFile file(temporaryPath);
                file.resize(file.size() / 2);
                cutShort << temporaryPath;
            };
        });
    }
};

TEST(EndToEnd, MoveModeWhenTheDiskFillsKeepsEverySourceWithoutAVerifiedOutput) {
    batchtest::TrashInTemp trash;
    Road road;
    AppDelegate& app = AppDelegate::shared();
    QStringList sources;
    QList<QByteArray> bytes;
    for (int i = 1; i <= 5; ++i) {
        sources << batchtest::writePhoto(road.path(QString("in/p%1.jpg").arg(i)), 160 + 8 * i, 120);
        bytes << testsupport::readFile(sources.last());
    }

    AddPhotosVC* add = road.window->addPhotosVC();
    ASSERT_TRUE(dropFolder(add, road.path("in")));
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 5 && add->nextButton()->isEnabled(); }));
    click(add->nextButton());
    ASSERT_EQ(road.window->currentScreen(), MainWindowController::ScreenAdjustFilter);
    // No effect: the photos are only moved; the question about that is answered "go on".
    // (Next waits for the photo's preview to load.)
    QAbstractButton* next = road.window->adjustFilterVC()->nextButton();
    ASSERT_TRUE(batchtest::waitUntil([&] { return next->isEnabled(); }));
    click(next);
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenSetup; }));
    EXPECT_EQ(road.asked, QStringList{"NO EFFECTS APPLIED"});

    const QString out = road.path("Out");
    SetupVC* setup = outputScreen(road, out);
    ConvertFormatOrRenameView* view = setup->vwConvertFormatOrRename;
    click(setup->findChild<QRadioButton*>("btnMoveRenametoDestFolder"));
    settle(view);
    const QStringList planned = previewNames(view);
    ASSERT_EQ(planned.size(), 5);

    FillingDisk disk;
    disk.install(setup->runner());
    bool shown = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
    startRun(setup);
    // The low-space notice comes before the fourth photo; that photo is still written
    // (cut short too), and the run ends there.
    QMessageBox* lowSpace = nullptr;
    ASSERT_TRUE(batchtest::waitUntil([&] { return (lowSpace = setup->findChild<QMessageBox*>("winEnoughSpace")) || shown; }));
    ASSERT_NE(lowSpace, nullptr) << "the run was told of the full disk";
    QTest::mouseClick(lowSpace->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
    EXPECT_EQ(disk.cutShort.size(), 2);

    // Each source is either in the Trash with a complete output, or where it was, unchanged,
    // with no output at all.
    int trashed = 0;
    for (int i = 0; i < sources.size(); ++i) {
        const QString name = QFileInfo(sources[i]).fileName();
        const QString inTrash = trash.filesFolder() + "/" + name;
        SCOPED_TRACE(name.toStdString());
        if (i < disk.roomFor) {
            ++trashed;
            EXPECT_FALSE(QFileInfo::exists(sources[i]));
            EXPECT_EQ(testsupport::readFile(inTrash), bytes[i]);
            const QImage written = platform::readImage(planned[i]);
            ASSERT_FALSE(written.isNull());
            EXPECT_EQ(written.size(), QSize(160 + 8 * (i + 1), 120));
            EXPECT_EQ(app.arraySelectedImagesToProcess[i]->processStatus, PhotoFile::Processed);
        } else {
            EXPECT_EQ(testsupport::readFile(sources[i]), bytes[i]);
            EXPECT_FALSE(QFileInfo::exists(inTrash));
            EXPECT_FALSE(QFileInfo::exists(planned[i])) << "no cut-short file left in place";
            // The two cut short failed; the last was never begun.
            EXPECT_EQ(app.arraySelectedImagesToProcess[i]->processStatus,
                      i < disk.roomFor + 2 ? PhotoFile::Failed : PhotoFile::NotProcessed);
        }
    }
    EXPECT_EQ(trashed, 2);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 2) << "no temporary files left behind";
    EXPECT_TRUE(QFileInfo::exists(setup->summaryController->strLogfilePath));
}


// Photos dropped on the add-photos screen and carried on to the output screen without an
// effect (the question about that answered "go on").
SetupVC* toOutputScreen(Road& road, const QString& folder, int count, const QString& out) {
    AppDelegate& app = AppDelegate::shared();
    AddPhotosVC* add = road.window->addPhotosVC();
    EXPECT_TRUE(dropFolder(add, folder));
    EXPECT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == count && add->nextButton()->isEnabled(); }));
    click(add->nextButton());
    QAbstractButton* next = road.window->adjustFilterVC()->nextButton();
    EXPECT_TRUE(batchtest::waitUntil([&] { return next->isEnabled(); }));
    click(next);
    EXPECT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenSetup; }));
    return outputScreen(road, out);
}

TEST(EndToEnd, AfterAMoveRunANewBatchStartsFromItsOwnFirstPhotoAndTheDefaultOutput) {
    batchtest::TrashInTemp trash;
    Road road;
    AppDelegate& app = AppDelegate::shared();
    for (int i = 1; i <= 3; ++i) batchtest::writePhoto(road.path(QString("first/p%1.jpg").arg(i)));
    const QString fresh = batchtest::writePhoto(road.path("second/new.jpg"), 200, 100);

    // The first batch, looked at in the list with its last photo checked, moved out.
    AddPhotosVC* add = road.window->addPhotosVC();
    ASSERT_TRUE(dropFolder(add, road.path("first")));
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 3 && add->nextButton()->isEnabled(); }));
    add->btnViewPhotosModetapped(1);
    add->listRowClicked(2, 1);
    add->btnViewPhotosModetapped(0);
    add->btnViewPhotosModetapped(1);
    click(add->nextButton());
    QAbstractButton* next = road.window->adjustFilterVC()->nextButton();
    ASSERT_TRUE(batchtest::waitUntil([&] { return next->isEnabled(); }));
    click(next);
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenSetup; }));
    SetupVC* setup = outputScreen(road, road.path("Out"));
    click(setup->findChild<QRadioButton*>("btnMoveRenametoDestFolder"));
    settle(setup->vwConvertFormatOrRename);
    bool shown = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
    startRun(setup);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
    ASSERT_FALSE(QFileInfo::exists(road.path("first/p1.jpg"))) << "moved: the originals are in the Trash";

    click(setup->summaryController->summaryView()->btnStartNewBatch);
    QTest::mouseClick(setup->summaryController->windowStartNewBatch()->button(QMessageBox::Yes), Qt::LeftButton);
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenAddPhotos; }));

    // A new batch of one photo: Next reaches the effects screen with that photo.
    ASSERT_TRUE(dropFolder(add, road.path("second")));
    ASSERT_TRUE(batchtest::waitUntil([&] { return app.arraySelectedImagesToProcess.size() == 1 && add->nextButton()->isEnabled(); }));
    click(add->nextButton());
    EXPECT_FALSE(add->isAlertShown()) << add->alertTitle().toStdString();
    ASSERT_EQ(road.window->currentScreen(), MainWindowController::ScreenAdjustFilter);
    ASSERT_TRUE(app.selectedImageFile);
    EXPECT_EQ(app.selectedImageFile->filePath, fresh);
    EXPECT_EQ(app.selectedImageIndex, 0);

    // And the output screen starts from copying again, not from the last batch's "Move".
    ASSERT_TRUE(batchtest::waitUntil([&] { return next->isEnabled(); }));
    click(next);
    ASSERT_TRUE(batchtest::waitUntil([&] { return road.window->currentScreen() == MainWindowController::ScreenSetup; }));
    settle(setup->vwConvertFormatOrRename);
    EXPECT_FALSE(setup->findChild<QRadioButton*>("btnMoveRenametoDestFolder")->isChecked());
    EXPECT_TRUE(setup->findChild<QRadioButton*>("btnCopytoDestFolder")->isChecked());
    EXPECT_FALSE(app.selectedOuputSettingObj->moveAndRenameToDestinationFolder.value_or(false));
}

TEST(EndToEnd, ClosingTheWindowDuringARunClosesItOnceTheRunHasStopped) {
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "Yes, stop" : "No, go on");
        Road road;
        for (int i = 1; i <= 3; ++i) batchtest::writePhoto(road.path(QString("in/p%1.jpg").arg(i)));
        SetupVC* setup = toOutputScreen(road, road.path("in"), 3, road.path("Out"));
        // The run waits at its first photo until the stop question is open.
        std::atomic<bool> release{false};
        setup->runner()->setFreeSpaceProvider([&](const QString&) -> std::optional<VolumeSpace> {
            while (!release) std::this_thread::yield();
            return VolumeSpace{1ull << 40, 1ull << 39};
        });
        struct Release {
            std::atomic<bool>& flag;
            ~Release() { flag = true; }
        } releaseOnExit{release};
        bool shown = false;
        QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
        startRun(setup);
        ASSERT_TRUE(batchtest::waitUntil([] { return AppDelegate::shared().isPHOTOS_PROCESSING_IN_PROGERESS.load(); }));
        road.asked.clear();
        road.window->close();  // the title bar's close button
        QMessageBox* question = nullptr;
        ASSERT_TRUE(batchtest::waitUntil([&] { return (question = setup->findChild<QMessageBox*>("windowAbortAlert")) != nullptr; }));
        release = true;
        QTest::mouseClick(question->button(stop ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
        ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
        if (stop) {
            ASSERT_TRUE(batchtest::waitUntil([&] { return road.closed == 1; }));
            EXPECT_EQ(road.asked, QStringList{"SAVE SESSION"});
            EXPECT_FALSE(road.window->isVisible());
        } else {
            QTest::qWait(50);
            EXPECT_EQ(road.closed, 0);
            EXPECT_TRUE(road.window->isVisible()) << "the user chose to go on";
        }
    }
}

// Runs the batch to its summary and takes the photos that did not come out back to the
// effects screen.
void runThenProcessTheSkippedPhotos(Road& road, SetupVC* setup) {
    bool shown = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { shown = true; });
    startRun(setup);
    ASSERT_TRUE(batchtest::waitUntil([&] { return shown; }, 60000));
    click(setup->summaryController->summaryView()->btnSkippedPhotos);
    ASSERT_EQ(road.window->currentScreen(), MainWindowController::ScreenAdjustFilter);
    QCoreApplication::processEvents();
}

TEST(EndToEnd, ProcessingTheSkippedPhotosMarksTheEffectsStep) {
    Road road;
    AppDelegate& app = AppDelegate::shared();
    for (int i = 1; i <= 2; ++i) batchtest::writePhoto(road.path(QString("in/p%1.jpg").arg(i)));
    const QString out = road.path("Out");
    SetupVC* setup = toOutputScreen(road, road.path("in"), 2, out);
    // The first photo's output is there already: it is skipped.
    testsupport::writeFile(out + "/p1.jpg", "already here");
    setup->vwConvertFormatOrRename->resetPreviewForUpdatedRenameSelections(false);
    settle(setup->vwConvertFormatOrRename);
    ASSERT_NO_FATAL_FAILURE(runThenProcessTheSkippedPhotos(road, setup));
    EXPECT_EQ(road.window->step(), int(MainWindowController::ScreenAdjustFilter));
    EXPECT_EQ(app.arraySelectedImagesToProcess.size(), 1);
}

TEST(EndToEnd, ProcessingSkippedPhotosThatCannotBeReadNamesThemAndNoLongerShowsTheOneBefore) {
    Road road;
    AppDelegate& app = AppDelegate::shared();
    for (int i = 1; i <= 2; ++i) batchtest::writePhoto(road.path(QString("in/p%1.jpg").arg(i)));
    SetupVC* setup = toOutputScreen(road, road.path("in"), 2, road.path("Out"));
    auto* screen = road.window->adjustFilterVC()->findChild<EffectsScreenController*>();
    ASSERT_EQ(screen->lblImageName()->text(), "p1.jpg");
    // The second photo is damaged once it was added: the run ends it with an error.
    ASSERT_TRUE(QFile::resize(road.path("in/p2.jpg"), 300));
    ASSERT_NO_FATAL_FAILURE(runThenProcessTheSkippedPhotos(road, setup));
    ASSERT_EQ(app.arraySelectedImagesToProcess.size(), 1);
    // The first photo came out and is no longer in the batch: neither its name nor its
    // picture stays over the photo that is.
    ASSERT_TRUE(batchtest::waitUntil([&] { return !app.isPROCESSING_WITH_FILES_SYSTEM; }));
    EXPECT_EQ(screen->lblImageName()->text(), "p2.jpg");
    EXPECT_TRUE(screen->originalImage().isNull());
}
}  // namespace
