#pragma once
// What each way in hands the intake: the open panels and their filters, the photo-library
// panel's enable rule, the add-option pop-up's choices, drops of text/uri-list, the last
// session, and the refusal of photos in the Trash. The screen turns these into widgets
// (Qt's own non-native file dialog, so the filters work on every desktop); every decision
// is made here.
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <functional>

#include "import/IntakeRules.h"

class QMimeData;
class PhotoIntake;
class IntakePresenter;
class IntakeExecutor;
namespace platform {
class UserDefaults;
class NotificationCenter;
}

namespace intake {

// The ways in, each with the flags it gives the intake.
enum class AddSource {
    OpenPanelFiles,                 // open panel index 0
    OpenPanelFolder,                // index 1, and the centre "add" button
    OpenPanelFolderWithDateFilter,  // index 2, from the date-filter sheet
    LibraryPanel,
    DropArea,
    GridOrListDrop,
    LastSession,
};
struct IntakeFlags {
    bool subFolders = false;
    bool dateFilter = false;
    bool fromLibraryPanel = false;
};
IntakeFlags flagsFor(AddSource source);
// Sets the intake's flags for the source and the file type "ALL".
void applySource(PhotoIntake& intake, AddSource source);

// ---- open panels ----
// "public.image" and then the twenty fixed extensions.
QStringList allowedTypes();
// Name filters for Qt's file dialog: one "Photos (...)" entry over every image extension.
QStringList openPanelNameFilters();

struct OpenPanelSpec {
    AddSource source = AddSource::OpenPanelFiles;
    bool chooseFiles = true;
    bool chooseFolders = false;
    bool allowsMultipleSelection = true;
    bool canCreateDirectories = true;
    bool useNativeDialog = false;  // Qt's own dialog: the filters behave the same everywhere
    QString prompt;                // the accept button's text; empty keeps the default
    QString directory;             // where the panel starts; empty for the default
    QStringList nameFilters;
};
// index 0 files, 1 folder, 2 folder for the date filter.
OpenPanelSpec openPanelSpec(int index);
// The photo-library panel: packages chosen as items, starting in the Pictures folder.
OpenPanelSpec libraryPanelSpec(bool photosAppPresent, const QString& picturesFolder);

// Kinds the library panel's enable rule knows (pathType).
enum PathType { PathTypePlainFolders = 0, PathTypeFolders = 1, PathTypeOlderLibrary = 2, PathTypePhotosLibrary = 3 };
// Whether the library panel lets the user pick `path`: with pathType 2 any package or
// folder except a "migratedphotolibrary"; with 0 only folders that are not packages; with
// 1 only folders; otherwise everything.
bool libraryPanelShouldEnable(const QString& path, int pathType);

// ---- the Trash ----
// The user's Trash folders: the desktop Trash under the data home, and ~/.Trash.
QStringList trashFolders();
// Whether a path lies in one of the Trash folders; both sides compared ignoring case.
bool isInTrash(const QString& path, const QStringList& trash = trashFolders());
IntakeAlert trashRefusalAlert();

// The library panel's refusal of a chosen item that is no photo library.
IntakeAlert notALibraryAlert(const QString& path);

// What a panel's completion does. Refuses (with the Trash alert) when the first chosen
// path lies in the Trash, and from the library panel anything that is no library (with
// its alert); else sets the flags and starts the add. Returns whether an add
// started. Main thread.
bool completeOpenPanel(PhotoIntake& intake, AddSource source, const QStringList& chosen,
                       IntakePresenter* presenter);

// ---- the add-option pop-up ----
QStringList addPhotosOptions(bool photosAppInstalled);
QStringList fileTypes();
// The pop-up's size for that many options (the last one wraps, so the list is taller).
QSizeF addOptionsPopupSize(int optionCount, bool wideLayout);
enum class AddOptionChoice { None, OpenFiles, OpenFolder, DateFilterSheet, LibraryPanel };
// popupType 1 shows the add options, 0 the file types (whose choice does nothing).
AddOptionChoice choiceForRow(int row, int optionCount, int popupType);

// ---- drops ----
// Local paths of a drag's text/uri-list, in order; non-file URLs are left out.
QStringList pathsFromUriList(const QMimeData* mime);
// The grid and list take a drop whose first item has an image extension or whose last
// item is a folder.
bool gridDropIsAcceptable(const QStringList& paths);

// The drop area's drop: file paths are posted as "FileDragDropNotification" with
// {"paths": [...]}; a picture alone (image/tiff) is not taken; nothing usable shows
// "Paste Error".
struct DropAreaOutcome {
    bool accepted = false;
    bool pasteError = false;
    QStringList paths;
};
inline const QString kFileDragDropNotification = QStringLiteral("FileDragDropNotification");
inline const QString kPasteErrorTitle = QStringLiteral("Paste Error");
inline const QString kPasteErrorMessage = QStringLiteral("Sorry, but the past operation failed");
DropAreaOutcome dropAreaPerformDrop(const QMimeData* mime, platform::NotificationCenter& center);
// The screen's side of that notification: the dropped paths added with their trees.
bool handleFileDragDropNotification(PhotoIntake& intake, const QVariantMap& userInfo);
// A drop on the grid or the list: top level only.
bool acceptGridOrListDrop(PhotoIntake& intake, const QStringList& paths);

// ---- the last session ----
inline const QString kProjectSessionKey = QStringLiteral("PROJECT_SESSION");
// Whether there is a session to offer.
bool hasLastSession(platform::UserDefaults& defaults);
// Load: the session's steps and settings become the application's (main thread), its
// photos' bookmarks are resolved on a background queue, and the photos that are still
// there go to the intake. When none is left the user is told ("Batch not found!") and
// nothing is added. `done`, when given, hears the
// resolved paths on the main thread.
// The paths found go on `pathsToAccess` too, when given.
void loadLastSession(PhotoIntake& intake, IntakeExecutor& executor, IntakePresenter* presenter,
                     platform::UserDefaults& defaults, QStringList* pathsToAccess = nullptr,
                     std::function<void(const QStringList&)> done = {});
// The background half of Load: resolves the bookmarks, then on the main thread hides the
// overlay, says "Batch not found!" when none resolved, else hands the photos to the intake.
void loadFromBookmarkPaths(PhotoIntake& intake, IntakeExecutor& executor, IntakePresenter* presenter,
                           platform::UserDefaults& defaults, QStringList* pathsToAccess,
                           std::function<void(const QStringList&)> done);
// Every saved photo whose bookmark still resolves, in saved order, as {"path", "state"};
// the others are skipped. With `keepAccess` the paths are also appended to
// `pathsToAccess`, which holds them for the rest of the run. Any thread.
QVariantList savedPathsFromUserDefaults(platform::UserDefaults& defaults, bool keepAccess, QStringList* pathsToAccess);
IntakeAlert batchNotFoundAlert();
// Start new: the stored session is forgotten.
void startNewSession(platform::UserDefaults& defaults);

}  // namespace intake
