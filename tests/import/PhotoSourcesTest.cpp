// What each way in hands the intake.
#include <QDir>
#include <QMimeData>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "import/PhotoSources.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/MetaDataObject.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "tests/import/IntakeFixtures.h"

using namespace intake;
using namespace intakefixtures;

TEST(PhotoSources, EntryPointFlags) {
    const struct {
        AddSource source;
        bool sub, filter, library;
    } cases[] = {
        {AddSource::OpenPanelFiles, false, false, false},
        {AddSource::OpenPanelFolder, true, false, false},
        {AddSource::OpenPanelFolderWithDateFilter, true, true, false},
        {AddSource::LibraryPanel, false, false, true},
        {AddSource::DropArea, true, false, false},
        {AddSource::GridOrListDrop, false, false, false},
        {AddSource::LastSession, false, false, false},
    };
    ManualExecutor executor;
    PhotoIntake intake(executor);
    for (const auto& c : cases) {
        intake.selectedFileType = ".JPG";
        intake.isAddingWithFilter = !c.filter;  // the last add's filter never lingers
        applySource(intake, c.source);
        EXPECT_EQ(intake.isAddFromSubFolderSelected, c.sub);
        EXPECT_EQ(intake.isAddingWithFilter, c.filter);
        EXPECT_EQ(intake.isAddingIphotos, c.library);
        EXPECT_EQ(intake.selectedFileType, "ALL");
    }
}

TEST(PhotoSources, OpenPanelsAndLibraryPanel) {
    EXPECT_EQ(allowedTypes().size(), 21);
    EXPECT_EQ(allowedTypes().first(), "public.image");
    const OpenPanelSpec files = openPanelSpec(0), folder = openPanelSpec(1), filtered = openPanelSpec(2);
    EXPECT_TRUE(files.chooseFiles && !files.chooseFolders && files.allowsMultipleSelection);
    EXPECT_EQ(files.prompt, "Add Photos");
    EXPECT_TRUE(!folder.chooseFiles && folder.chooseFolders);
    EXPECT_EQ(folder.prompt, "Add Folder");
    EXPECT_EQ(filtered.source, AddSource::OpenPanelFolderWithDateFilter);
    EXPECT_TRUE(filtered.prompt.isEmpty());
    EXPECT_FALSE(files.useNativeDialog);
    ASSERT_EQ(files.nameFilters.size(), 1);
    for (const char* pattern : {"*.jpg", "*.JPG", "*.EPS", "*.ptif"})
        EXPECT_TRUE(files.nameFilters.first().contains(QString(" ") + pattern) ||
                    files.nameFilters.first().contains(QString("(") + pattern))
            << pattern;
    EXPECT_EQ(libraryPanelSpec(true, "/home/me/Pictures").prompt, "Add Photos Library");
    EXPECT_EQ(libraryPanelSpec(false, "/home/me/Pictures").prompt, "Add iPhoto Library");

    QTemporaryDir dir;
    const QString plain = dir.filePath("folder"), lib = dir.filePath("A.photoslibrary"),
                  migrated = dir.filePath("B.migratedphotolibrary"), file = dir.filePath("c.jpg");
    for (const QString& d : {plain, lib, migrated}) QDir().mkpath(d);
    testsupport::writeFile(file, "x");
    const struct {
        QString path;
        int type;
        bool enabled;
    } cases[] = {
        {lib, 2, true},     {plain, 2, true},   {migrated, 2, false}, {file, 2, false},
        {plain, 0, true},   {lib, 0, false},    {file, 0, false},     {lib, 1, true},
        {file, 1, false},   {file, 3, true},
    };
    for (const auto& c : cases) EXPECT_EQ(libraryPanelShouldEnable(c.path, c.type), c.enabled) << c.path.toStdString() << c.type;
}

TEST(PhotoSources, TrashIsComparedIgnoringCaseOnBothSides) {
    const QStringList trash{"/home/Me/.local/share/Trash", "/home/me/.Trash"};
    const struct {
        const char* path;
        bool inTrash;
    } cases[] = {
        {"/home/Me/.local/share/Trash/files/a.jpg", true},
        {"/HOME/me/.LOCAL/share/trash/files/a.jpg", true},
        {"/home/me/.trash/a.jpg", true},
        {"/home/me/.local/share/Trash", true},
        {"/home/me/.local/share/TrashCan/a.jpg", false},
        {"/home/me/Pictures/a.jpg", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isInTrash(c.path, trash), c.inTrash) << c.path;
}

TEST(PhotoSources, PanelCompletionRefusesTheTrashAndAddsTheRest) {
    AppDelegate::shared().resetToLaunchValues();
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    const QString trashed = photo(dir.filePath("Trash/files/a.jpg"));
    const QString kept = photo(dir.filePath("Pictures/b.jpg"));
    ManualExecutor executor;
    RecordingPresenter screen;
    PhotoIntake intake(executor);
    intake.setPresenter(&screen);

    EXPECT_FALSE(completeOpenPanel(intake, AddSource::OpenPanelFiles, {trashed, kept}, &screen));
    ASSERT_EQ(screen.alerts.size(), 1u);
    EXPECT_FALSE(screen.alerts[0].title.isEmpty());
    EXPECT_TRUE(completeOpenPanel(intake, AddSource::OpenPanelFiles, {kept}, &screen));
    executor.runAll();
    ASSERT_EQ(AppDelegate::shared().arraySelectedImagesToProcess.size(), 1);
    EXPECT_TRUE(AppDelegate::shared().isSELECTED_IMAGE_CHANGED);
    qunsetenv("XDG_DATA_HOME");
    AppDelegate::shared().resetToLaunchValues();
}

TEST(PhotoSources, AddOptionPopup) {
    EXPECT_EQ(addPhotosOptions(true).last(), "Add iPhoto/Photos library");
    EXPECT_EQ(addPhotosOptions(false).last(), "Add iPhoto/iPhoto library");
    EXPECT_EQ(addPhotosOptions(true).size(), 4);
    EXPECT_EQ(addOptionsPopupSize(4, false), QSizeF(140, 194));
    EXPECT_EQ(addOptionsPopupSize(4, true), QSizeF(240, 204));
    EXPECT_EQ(addOptionsPopupSize(6, false), QSizeF(140, 210));
    EXPECT_EQ(choiceForRow(0, 4, 1), AddOptionChoice::OpenFiles);
    EXPECT_EQ(choiceForRow(1, 4, 1), AddOptionChoice::OpenFolder);
    EXPECT_EQ(choiceForRow(2, 4, 1), AddOptionChoice::DateFilterSheet);
    EXPECT_EQ(choiceForRow(3, 4, 1), AddOptionChoice::LibraryPanel);
    EXPECT_EQ(choiceForRow(4, 4, 1), AddOptionChoice::None);
    EXPECT_EQ(choiceForRow(0, 6, 0), AddOptionChoice::None);  // the file-type list
}

TEST(PhotoSources, DropsOnTheDropAreaAndTheGrid) {
    AppDelegate::shared().resetToLaunchValues();
    QTemporaryDir dir;
    const QString top = photo(dir.filePath("drop/top.jpg"));
    const QString deep = photo(dir.filePath("drop/sub/deep.jpg"));

    platform::NotificationCenter center;
    QVariantMap posted;
    center.addObserver(kFileDragDropNotification, [&](const platform::Notification& n) { posted = n.userInfo; });
    QMimeData uris;
    uris.setUrls({QUrl::fromLocalFile(dir.filePath("drop")), QUrl("https://example.invalid/x.jpg")});
    const DropAreaOutcome ok = dropAreaPerformDrop(&uris, center);
    EXPECT_TRUE(ok.accepted);
    EXPECT_EQ(posted.value("paths").toStringList(), QStringList{dir.filePath("drop")});

    QMimeData picture;
    picture.setData("image/tiff", "II*\0");
    EXPECT_FALSE(dropAreaPerformDrop(&picture, center).accepted);
    EXPECT_FALSE(dropAreaPerformDrop(&picture, center).pasteError);
    QMimeData empty;
    EXPECT_TRUE(dropAreaPerformDrop(&empty, center).pasteError);

    ManualExecutor executor;
    PhotoIntake intake(executor);
    // The drop area adds the whole tree...
    ASSERT_TRUE(handleFileDragDropNotification(intake, posted));
    executor.runAll();
    EXPECT_EQ(AppDelegate::shared().arraySelectedImagesToProcess.size(), 2);
    // ...the grid only the top level.
    AppDelegate::shared().arraySelectedImagesToProcess.clear();
    intake.dictFileAdded.clear();
    ASSERT_TRUE(acceptGridOrListDrop(intake, {dir.filePath("drop")}));
    executor.runAll();
    ASSERT_EQ(AppDelegate::shared().arraySelectedImagesToProcess.size(), 1);
    EXPECT_EQ(AppDelegate::shared().arraySelectedImagesToProcess.at(0)->filePath, top);
    EXPECT_FALSE(acceptGridOrListDrop(intake, {dir.filePath("notes.txt")}));
    EXPECT_TRUE(gridDropIsAcceptable({dir.filePath("a.JPG"), dir.filePath("b.txt")}));
    (void)deep;
    AppDelegate::shared().resetToLaunchValues();
}

TEST(PhotoSources, LastSessionRestoresStepsAndThePhotosStillThere) {
    AppDelegate& app = AppDelegate::shared();
    app.resetToLaunchValues();
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.plist"));
    const QString a = photo(dir.filePath("a.jpg")), b = photo(dir.filePath("b.jpg"));

    // Save a session of two photos and one step, then lose one photo.
    app.arrayAppliedFilters = {std::make_shared<AppliedFilter>()};
    app.arrayAppliedFilters.first()->filterName = "CISepiaTone";
    app.selectedMetatDataSettingObj = std::make_shared<MetaDataObject>();
    for (const QString& p : {a, b}) app.arraySelectedImagesToProcess.append(PhotoFile::initWithFileUrl(p, false));
    ASSERT_TRUE(SavedState::saveProjectSessionToDefault(app, defaults));
    QFile::remove(b);
    app.resetToLaunchValues();
    ASSERT_TRUE(hasLastSession(defaults));

    ManualExecutor executor;
    RecordingPresenter screen;
    PhotoIntake intake(executor);
    intake.setPresenter(&screen);
    QStringList resolved, accessed;
    loadLastSession(intake, executor, &screen, defaults, &accessed, [&](const QStringList& p) { resolved = p; });
    executor.runAll();
    EXPECT_EQ(resolved, QStringList{a});
    EXPECT_EQ(accessed, QStringList{a});  // the photos found stay reachable for the run
    // Resolving without keeping access lists the photo and holds nothing more.
    const QVariantList saved = savedPathsFromUserDefaults(defaults, false, &accessed);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0].toMap().value("path").toString(), a);
    EXPECT_EQ(accessed, QStringList{a});
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    EXPECT_EQ(app.arrayAppliedFilters.first()->filterName, "CISepiaTone");
    ASSERT_TRUE(app.selectedMetatDataSettingObj);
    EXPECT_TRUE(app.selectedMetatDataSettingObj->isLoadedFromLastSession);
    ASSERT_EQ(app.arraySelectedImagesToProcess.size(), 1);
    EXPECT_TRUE(screen.alerts.empty());

    // Every photo gone: "Batch not found!" stays the one thing said; no empty add
    // follows to replace it with its own nothing-to-add.
    QFile::remove(a);
    app.resetToLaunchValues();
    intake.dictFileAdded.clear();
    loadLastSession(intake, executor, &screen, defaults);
    executor.runAll();
    ASSERT_EQ(screen.alerts.size(), 1u);
    EXPECT_EQ(screen.alerts[0], (IntakeAlert{"LOAD LAST SESSION", "Batch not found!"}));
    EXPECT_FALSE(intake.isAdding());

    startNewSession(defaults);
    EXPECT_FALSE(hasLastSession(defaults));
    app.resetToLaunchValues();
}
