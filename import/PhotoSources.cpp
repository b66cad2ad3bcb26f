#include "import/PhotoSources.h"

#include "import/IntakeExecutor.h"
#include "import/PhotoIntake.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/MetaDataObject.h"
#include "records/ProjectSession.h"
#include "records/SavedState.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>

namespace intake {

IntakeFlags flagsFor(AddSource source) {
    switch (source) {
    case AddSource::OpenPanelFiles: return {false, false, false};
    case AddSource::OpenPanelFolder: return {true, false, false};
    case AddSource::OpenPanelFolderWithDateFilter: return {true, true, false};
    case AddSource::LibraryPanel: return {false, false, true};
    case AddSource::DropArea: return {true, false, false};
    case AddSource::GridOrListDrop: return {false, false, false};
    case AddSource::LastSession: return {false, false, false};
    }
    return {};
}

void applySource(PhotoIntake& intake, AddSource source) {
    const IntakeFlags f = flagsFor(source);
    intake.isAddFromSubFolderSelected = f.subFolders;
    intake.isAddingWithFilter = f.dateFilter;
    intake.isAddingIphotos = f.fromLibraryPanel;
    intake.selectedFileType = kAllFileTypes;
}

QStringList allowedTypes() { return QStringList{QStringLiteral("public.image")} + fixedExtensions(); }

QStringList openPanelNameFilters() {
    QStringList patterns;
    const auto addPattern = [&](const QString& ext) {
        const QString p = QStringLiteral("*.") + ext;
        if (!patterns.contains(p)) patterns.append(p);
    };
    for (const QString& ext : imageFileExtensions()) {
        addPattern(ext);
        addPattern(ext.toUpper());
    }
    for (const QString& ext : fixedExtensions()) addPattern(ext);
    return {QStringLiteral("Photos (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')')};
}

OpenPanelSpec openPanelSpec(int index) {
    OpenPanelSpec spec;
    spec.nameFilters = openPanelNameFilters();
    switch (index) {
    case 0:
        spec.source = AddSource::OpenPanelFiles;
        spec.prompt = QStringLiteral("Add Photos");
        break;
    case 1:
        spec.source = AddSource::OpenPanelFolder;
        spec.chooseFiles = false;
        spec.chooseFolders = true;
        spec.prompt = QStringLiteral("Add Folder");
        break;
    default:
        spec.source = AddSource::OpenPanelFolderWithDateFilter;
        spec.chooseFiles = false;
        spec.chooseFolders = true;
        break;
    }
    return spec;
}

OpenPanelSpec libraryPanelSpec(bool photosAppPresent, const QString& picturesFolder) {
    OpenPanelSpec spec;
    spec.source = AddSource::LibraryPanel;
    spec.chooseFiles = true;  // packages are chosen as items
    spec.chooseFolders = false;
    spec.prompt = photosAppPresent ? QStringLiteral("Add Photos Library") : QStringLiteral("Add iPhoto Library");
    spec.directory = picturesFolder;
    return spec;
}

bool libraryPanelShouldEnable(const QString& path, int pathType) {
    const QFileInfo info(path);
    switch (pathType) {
    case PathTypeOlderLibrary:
        return platform::pathExtension(path).toLower() != u"migratedphotolibrary" && info.isDir();
    case PathTypePlainFolders: return info.isDir() && !isPackage(path);
    case PathTypeFolders: return info.isDir();
    default: return true;
    }
}

QStringList trashFolders() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return {platform::stringByAppendingPathComponent(data, QStringLiteral("Trash")),
            platform::stringByAppendingPathComponent(QDir::homePath(), QStringLiteral(".Trash"))};
}

bool isInTrash(const QString& path, const QStringList& trash) {
    const QString p = QDir::cleanPath(path).toLower();
    for (const QString& folder : trash) {
        const QString t = QDir::cleanPath(folder).toLower();
        if (p == t || p.startsWith(t + QLatin1Char('/'))) return true;
    }
    return false;
}

IntakeAlert trashRefusalAlert() {
    // The files panel once showed an alert with no words at all here; both panels now
    // say why nothing was added.
    return {CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_PHOTOS_CANT_ADDED_FROM_TRASH")), QString()};
}

IntakeAlert notALibraryAlert(const QString& path) {
    return {QStringLiteral("NOT A PHOTO LIBRARY"),
            QStringLiteral("\u201c%1\u201d is not a photo library. Choose an iPhoto, Aperture or Photos library "
                           "(a folder whose name ends in .photolibrary, .aplibrary or .photoslibrary), or add "
                           "folders with Add Folder.")
                .arg(platform::lastPathComponent(path))};
}

bool completeOpenPanel(PhotoIntake& intake, AddSource source, const QStringList& chosen, IntakePresenter* presenter) {
    if (chosen.isEmpty()) return false;
    if (isInTrash(chosen.first())) {
        if (presenter) presenter->showAlert(trashRefusalAlert());
        return false;
    }
    if (source == AddSource::LibraryPanel) {
        // The panel lets folders be opened to look for a library inside; a folder that is
        // no library (or the folder the panel shows, when nothing was picked) is not one.
        for (const QString& path : chosen) {
            if (packageKind(path) != PackageKind::NotPackage) continue;
            if (presenter) presenter->showAlert(notALibraryAlert(path));
            return false;
        }
    }
    applySource(intake, source);
    const bool started = intake.addPhotosFromPaths(chosen);
    if (started) AppDelegate::shared().isSELECTED_IMAGE_CHANGED = true;
    return started;
}

QStringList addPhotosOptions(bool photosAppInstalled) {
    return {QStringLiteral("Add Photos"), QStringLiteral("Add Folder"), QStringLiteral("Add with Filters"),
            photosAppInstalled ? QStringLiteral("Add iPhoto/Photos library")
                               : QStringLiteral("Add iPhoto/iPhoto library")};
}

QStringList fileTypes() { return {"*.*", "*.JPG", "*.BMP", "*.JPEG", "*.GIF", "*.PNG"}; }

QSizeF addOptionsPopupSize(int optionCount, bool wideLayout) {
    double height = optionCount < 5 ? 36.0 * optionCount + 30 + 20 : 210;
    double width = 140;
    if (wideLayout) {
        width = 240;
        height += 10;
    }
    return {width, height};
}

AddOptionChoice choiceForRow(int row, int optionCount, int popupType) {
    if (popupType != 1 || row < 0 || row >= optionCount) return AddOptionChoice::None;
    switch (row) {
    case 0: return AddOptionChoice::OpenFiles;
    case 1: return AddOptionChoice::OpenFolder;
    case 2: return AddOptionChoice::DateFilterSheet;
    case 3: return AddOptionChoice::LibraryPanel;
    default: return AddOptionChoice::None;
    }
}

QStringList pathsFromUriList(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return {};
    return platform::localPathsFromUriList(mime->data(QStringLiteral("text/uri-list")));
}

bool gridDropIsAcceptable(const QStringList& paths) {
    if (paths.isEmpty()) return false;
    if (imageFileExtensions().contains(platform::pathExtension(paths.first()), Qt::CaseInsensitive)) return true;
    return platform::isDirectory(paths.last());
}

DropAreaOutcome dropAreaPerformDrop(const QMimeData* mime, platform::NotificationCenter& center) {
    DropAreaOutcome out;
    const QStringList paths = pathsFromUriList(mime);
    if (!paths.isEmpty()) {
        platform::log(u"drag drop path = %@", platform::displayPath(paths.first()));
        center.postNotification(kFileDragDropNotification, {{QStringLiteral("paths"), paths}});
        out.accepted = true;
        out.paths = paths;
        return out;
    }
    // A picture without a file behind it cannot join a batch of files.
    if (mime && mime->hasFormat(QStringLiteral("image/tiff")) && !mime->data(QStringLiteral("image/tiff")).isEmpty())
        return out;
    out.pasteError = true;
    return out;
}

bool handleFileDragDropNotification(PhotoIntake& intake, const QVariantMap& userInfo) {
    const QStringList paths = userInfo.value(QStringLiteral("paths")).toStringList();
    applySource(intake, AddSource::DropArea);
    return intake.addPhotosFromPaths(paths);
}

bool acceptGridOrListDrop(PhotoIntake& intake, const QStringList& paths) {
    if (!gridDropIsAcceptable(paths)) return false;
    applySource(intake, AddSource::GridOrListDrop);
    return intake.addPhotosFromPaths(paths);
}

bool hasLastSession(platform::UserDefaults& defaults) { return defaults.containsKey(kProjectSessionKey); }

IntakeAlert batchNotFoundAlert() {
    return {QStringLiteral("Load Last Session").toUpper(), QStringLiteral("Batch not found!")};
}

void loadLastSession(PhotoIntake& intake, IntakeExecutor& executor, IntakePresenter* presenter,
                     platform::UserDefaults& defaults, QStringList* pathsToAccess,
                     std::function<void(const QStringList&)> done) {
    AppDelegate& app = AppDelegate::shared();
    if (hasLastSession(defaults)) {
        if (const auto session = SavedState::loadProjectSession(defaults)) {
            app.arrayAppliedFilters = session->arrayAppliedFilters;
            app.selectedRenameSettingObj = session->batchRenameSettings;
            app.selectedOuputSettingObj = session->outputSettings;
            app.selectedMetatDataSettingObj = session->metaDataSetting;
            if (app.selectedMetatDataSettingObj) app.selectedMetatDataSettingObj->isLoadedFromLastSession = true;
        }
    }
    if (presenter) presenter->setLoadingOverlayVisible(true);
    executor.async(IntakeExecutor::Queue::Add, [&intake, &executor, presenter, &defaults, pathsToAccess, done] {
        std::exception_ptr failure;
        if (platform::runContained(
                [&] { loadFromBookmarkPaths(intake, executor, presenter, defaults, pathsToAccess, done); }, &failure))
            return;
        // The saved photos could not be looked up (memory ran short, mostly): nothing is
        // added, and the user is told.
        const bool memory = platform::isMemoryShortage(failure);
        executor.syncMain([presenter, memory, done] {
            if (presenter) {
                presenter->setLoadingOverlayVisible(false);
                presenter->showAlert(addFailedAlert(memory));
            }
            if (done) done({});
        });
    });
}

void loadFromBookmarkPaths(PhotoIntake& intake, IntakeExecutor& executor, IntakePresenter* presenter,
                           platform::UserDefaults& defaults, QStringList* pathsToAccess,
                           std::function<void(const QStringList&)> done) {
    // The resolved photos are collected here and handed over on the main thread only.
    QStringList found;
    QStringList paths;
    for (const QVariant& entry : savedPathsFromUserDefaults(defaults, true, &found))
        paths.append(entry.toMap().value(QStringLiteral("path")).toString());
    executor.syncMain([&] {
        if (pathsToAccess) *pathsToAccess += found;
        if (presenter) presenter->setLoadingOverlayVisible(false);
        if (paths.isEmpty()) {
            // Said alone: an add of nothing would replace it at once with its own "no
            // photos to add", and the user would never learn that the photos are gone.
            if (presenter) presenter->showAlert(batchNotFoundAlert());
        } else {
            applySource(intake, AddSource::LastSession);
            intake.addPhotosFromPaths(paths);
        }
        if (done) done(paths);
    });
}

QVariantList savedPathsFromUserDefaults(platform::UserDefaults& defaults, bool keepAccess, QStringList* pathsToAccess) {
    QVariantList resolved;
    for (const SavedState::SavedPhoto& p : SavedState::restoreSavedPhotos(defaults)) {
        if (keepAccess && pathsToAccess) pathsToAccess->append(p.path);
        resolved.append(QVariantMap{{QStringLiteral("path"), p.path}, {QStringLiteral("state"), p.state}});
    }
    return resolved;
}

void startNewSession(platform::UserDefaults& defaults) {
    defaults.removeObjectForKey(kProjectSessionKey);
    defaults.synchronize();
}

}  // namespace intake
