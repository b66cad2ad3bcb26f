#include "import/PhotoIntake.h"

#include "import/DBOperations.h"
#include "import/DataFiller.h"
#include "import/FolderListing.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/ProgramThreads.h"
#include "records/AppDelegate.h"
#include "records/ExifInfo.h"
#include "records/MetaDataObject.h"
#include "records/PhotoFile.h"


using namespace intake;

namespace {

// Equal entries once, first occurrence kept: a library's order is the order it shows.
template <class T, class Key>
QList<T> withoutRepeats(const QList<T>& list, Key key) {
    QSet<QString> seen;
    QList<T> out;
    for (const T& item : list) {
        const QString k = key(item);
        if (seen.contains(k)) continue;
        seen.insert(k);
        out.append(item);
    }
    return out;
}

QStringList libraryImagePaths(const QString& package) {
    return withoutRepeats(DataFiller::imagePathsInLibrary(package), [](const QString& p) { return p; });
}

QList<PhotosLibraryRecord> photosLibraryRecords(const QString& package) {
    return withoutRepeats(DBOperations::getPhotoslibraryPath(package).value_or(QList<PhotosLibraryRecord>{}),
                          [](const PhotosLibraryRecord& r) { return r.imagePath; });
}

const int kAlertDelayMs = 200;

}  // namespace

QDateTime photoDateFromFile(const QString& path) {
    const auto exif = ExifInfo::initWithFile(path);
    if (exif && exif->captureDate.isValid()) return exif->captureDate;
    return platform::fileAttributes(path).creationDate;
}

PhotoIntake::PhotoIntake(IntakeExecutor& executor, int limit, QObject* parent)
    : QObject(parent), executor_(executor), limit_(limit) {}

PhotoIntake::~PhotoIntake() {
    shuttingDown_ = true;
    isPHOTOS_PROCESSING_IN_PROGERESS = false;
    executor_.shutdown();
}

bool PhotoIntake::addPhotosFromPathUrls(const QList<QUrl>& urls, bool /*isiPhoto*/) {
    QStringList paths;
    for (const QUrl& u : urls) {
        // A file address is read by its bytes (QUrl would lose those of a name that is not UTF-8).
        const QStringList local = u.isLocalFile() ? platform::localPathsFromUriList(u.toEncoded()) : QStringList();
        paths.append(local.isEmpty() ? u.path() : local.first());
    }
    return addPhotosFromPaths(paths);
}

bool PhotoIntake::addPhotosFromPaths(const QStringList& paths) {
    if (!ended_) {
        platform::log(u"an add is already under way; %d more items ignored", int(paths.size()));
        return false;
    }
    ended_ = false;
    totalPhotoToAdd = 0;
    photosAdded = 0;
    isMAX_PHOTOS_LIMIT_EXCEEDED = false;
    isPhotosAlreadyAdded = false;
    isPhotoFormatNotSupported = false;
    isAddingPhotosInCollectionView = true;
    isPHOTOS_PROCESSING_IN_PROGERESS = true;
    alreadyExistsPhotosCount = 0;
    damagedFileCount = 0;
    {
        QMutexLocker lock(&refusedLock_);
        refused_.clear();
    }

    auto request = std::make_shared<AddRequest>();
    request->paths = paths;
    request->subFolders = isAddFromSubFolderSelected;
    request->dateFilter = isAddingWithFilter;
    request->fromLibraryPanel = isAddingIphotos;
    request->fileType = selectedFileType;
    request->from = datePickerFromDate;
    request->to = datePickerToDate;
    request->alreadyAdded = dictFileAdded;

    if (presenter_) presenter_->setLoadingOverlayVisible(true);
    platform::log(u"is adding iphotos = %d", int(isAddingIphotos));
    Request shared = request;
    inBackground(IntakeExecutor::Queue::Count, [this, shared] { countTotalPhotosToBeAddedFromUrls(shared); });
    return true;
}

void PhotoIntake::syncDuplicateGuard(const QList<std::shared_ptr<PhotoFile>>& batch) {
    if (isAdding()) return;
    dictFileAdded.clear();
    for (const auto& photo : batch)
        if (photo) dictFileAdded.insert(photo->filePath);
}

void PhotoIntake::btnStopAddingTapped() { isPHOTOS_PROCESSING_IN_PROGERESS = false; }

void PhotoIntake::inBackground(IntakeExecutor::Queue queue, std::function<void()> work) {
    executor_.async(queue, [this, work = std::move(work)] {
        std::exception_ptr failure;
        if (platform::runContained(work, &failure)) return;
        // The add ends where it failed (memory ran short, mostly): the photos added so far
        // stay, and the user is told.
        const bool memory = platform::isMemoryShortage(failure);
        executor_.syncMain([this, memory] {
            if (presenter_) presenter_->showAlert(addFailedAlert(memory));
            processAfterAllPhotosAdded();
        });
    });
}

// ---- count (background) ----

bool PhotoIntake::inDateRange(const QDateTime& date, const AddRequest& request) const {
    return date.isValid() && date >= request.from && date <= request.to;
}

bool PhotoIntake::isValidPhoto(const QString& path, const AddRequest& request, QSet<QString>& counted) {
    if (request.alreadyAdded.contains(path)) {
        ++damagedFileCount;
        ++alreadyExistsPhotosCount;
        isPhotosAlreadyAdded = true;
        return false;
    }
    if (!types_.isAcceptedPath(path)) {
        isPhotoFormatNotSupported = true;
        ++damagedFileCount;
        refuse(path);
        return false;
    }
    // A path named twice in one add is one photo.
    if (counted.contains(path)) return false;
    if (const QString kind = undrawableKind(path); !kind.isEmpty()) {
        counted.insert(path);  // refused once, however often it is named
        isPhotoFormatNotSupported = true;
        ++damagedFileCount;
        refuse(path, kind);
        return false;
    }
    if (request.dateFilter && !inDateRange(photoDate_(path), request)) return false;
    if (!matchesFileType(path, request.fileType)) return false;
    counted.insert(path);
    return true;
}

void PhotoIntake::countTotalPhotosToBeAddedFromUrls(const Request& request) {
    int count = 0;
    bool tripped = false;
    QSet<QString> counted;
    // Counts one more photo unless that passes the limit.
    const auto countOne = [&] {
        if (count >= limit_) {
            tripped = true;
            return false;
        }
        ++count;
        return true;
    };
    for (const QString& path : request->paths) {
        if (tripped || shuttingDown_) break;
        if (!platform::isDirectory(path)) {
            if (isValidPhoto(path, *request, counted)) countOne();
            continue;
        }
        const PackageKind kind = packageKind(path);
        if (kind == PackageKind::NotPackage) {
            const QStringList files = request->subFolders ? walkFolder(path) : listFolderImages(path);
            for (const QString& f : files) {
                if (isValidPhoto(f, *request, counted) && !countOne()) break;
            }
            continue;
        }
        // Library items count without the type, duplicate or date checks; a package that
        // is no library counts nothing and the count goes on with the next item.
        QStringList items;
        if (kind == PackageKind::PhotosLibrary) {
            for (const PhotosLibraryRecord& r : photosLibraryRecords(path)) items.append(r.imagePath);
        } else {
            DataFiller probe;
            if (!probe.checkValidLibAndUpdateIfAperture(path)) {
                platform::log(u"not a photo library: %@", path);
                continue;
            }
            items = libraryImagePaths(path);
        }
        int found = 0;
        for (const QString& item : items) {
            if (counted.contains(item) || !platform::fileExists(item)) continue;
            if (!countOne()) break;
            counted.insert(item);
            ++found;
        }
        platform::log(kind == PackageKind::PhotosLibrary ? u"counting photos for photos == %d"
                                                          : u"counting photos for iphoto == %d",
                      found);
    }
    if (tripped) {
        isPHOTOS_PROCESSING_IN_PROGERESS = false;
        isMAX_PHOTOS_LIMIT_EXCEEDED = true;
    }
    totalPhotoToAdd = count;
    executor_.syncMain([this, request] { decide(request); });
}

// ---- decision (main) ----

void PhotoIntake::decide(const Request& request) {
    platform::log(u"is adding photos count = %d", totalPhotoToAdd.load());
    if (isMAX_PHOTOS_LIMIT_EXCEEDED) {
        if (presenter_) {
            presenter_->setLoadingOverlayVisible(false);
            presenter_->showAlert(limitExceededAlert(limit_));
        }
        endAdd();
        return;
    }
    if (totalPhotoToAdd > 0) {
        if (presenter_ && !request->fromLibraryPanel) {
            presenter_->setLoadingOverlayVisible(false);
            presenter_->setProgressDisplayVisible(true);
        }
        if (progress_) progress_->progressReset();
        isIphotoDirectorySelected = false;
        if (presenter_) presenter_->setUserInteractionEnabled(false);
        inBackground(IntakeExecutor::Queue::Add, [this, request] { addPhase(request); });
        return;
    }
    if (presenter_) presenter_->setLoadingOverlayVisible(false);
    if (isPhotoFormatNotSupported && !isPhotosAlreadyAdded) {
        // The damaged-files alert is this add's only alert.
        executor_.afterDelay(kAlertDelayMs, [this] { showPromtForDamagedFiles(); });
    } else if (presenter_) {
        presenter_->showAlert(isPhotosAlreadyAdded ? photosExistAlert(alreadyExistsPhotosCount) : noPhotosToAddAlert());
    }
    endAdd();
}

// ---- add (background) ----

void PhotoIntake::addPhase(const Request& request) {
    handledThisAdd_.clear();
    for (const QString& path : request->paths) {
        if (!keepGoing()) break;
        if (!platform::isDirectory(path)) {
            addToImageArray(path, platform::lastPathComponent(path), *request);
        } else if (!isPackage(path)) {
            getAllFilesInFolder(path, *request);
        } else {
            addLibraryEntries(path, *request);
        }
    }
    executor_.syncMain([this] { processAfterAllPhotosAdded(); });
}

void PhotoIntake::getAllFilesInFolder(const QString& folder, const AddRequest& request) {
    const QStringList files = request.subFolders ? walkFolder(folder, &isPHOTOS_PROCESSING_IN_PROGERESS)
                                                 : listFolderImages(folder);
    for (const QString& f : files) {
        if (!keepGoing()) return;
        addToImageArray(f, platform::lastPathComponent(f), request);
    }
}

void PhotoIntake::addLibraryEntries(const QString& package, const AddRequest& request) {
    isIphotoDirectorySelected = true;
    QStringList paths;
    QStringList names;
    if (packageKind(package) == PackageKind::PhotosLibrary) {
        for (const PhotosLibraryRecord& r : photosLibraryRecords(package)) {
            paths.append(r.imagePath);
            names.append(r.originalFileName);
        }
    } else {
        paths = libraryImagePaths(package);
        for (const QString& p : paths) names.append(platform::lastPathComponent(p));
    }
    executor_.syncMain([this] {
        if (!presenter_) return;
        presenter_->setLoadingOverlayVisible(false);
        presenter_->setProgressDisplayVisible(true);
    });
    for (int i = 0; i < paths.size(); ++i) {
        if (!keepGoing()) break;
        addToImageArray(paths.at(i), names.at(i), request);
    }
    isIphotoDirectorySelected = false;
}

void PhotoIntake::addToImageArray(const QString& path, const QString& originalFileName, const AddRequest& request) {
    // A path named twice in one add is read and judged once.
    if (request.alreadyAdded.contains(path) || handledThisAdd_.contains(path)) return;
    handledThisAdd_.insert(path);
    const bool fromLibrary = isIphotoDirectorySelected.load();
    // The count already told of pictures that cannot be drawn.
    if (!undrawableKind(path).isEmpty()) return;
    if (!request.dateFilter) {
        if (!matchesFileType(path, request.fileType) || !types_.isAcceptedPath(path)) return;
        auto photo = PhotoFile::initWithFileUrl(path, originalFileName, fromLibrary, reading_);
        if (photo->width > 0 && photo->height > 0) {
            appendOnMain(photo);
        } else {
            isPhotoFormatNotSupported = true;
            ++damagedFileCount;
            refuseUnreadable(path);
        }
        return;
    }
    // The count already reported files of a type we do not take; they are not counted twice.
    if (!types_.isAcceptedPath(path)) return;
    auto photo = PhotoFile::initWithFileUrl(path, platform::lastPathComponent(path), fromLibrary, reading_);
    if (photo->width <= 0 || photo->height <= 0) {
        isPhotoFormatNotSupported = true;
        ++damagedFileCount;
        refuseUnreadable(path);
        return;
    }
    if (inDateRange(photoDate_(path), request) && matchesFileType(path, request.fileType)) appendOnMain(photo);
}

void PhotoIntake::appendOnMain(const std::shared_ptr<PhotoFile>& photo) {
    executor_.syncMain([this, &photo] {
        // Checked here, where the guard lives: a path named twice in one add goes in once.
        if (dictFileAdded.contains(photo->filePath)) return;
        auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
        batch.append(photo);
        dictFileAdded.insert(photo->filePath);
        callForUpdatingProgressCountWithFilePath(platform::stringByDeletingLastPathComponent(photo->filePath));
        emit photoAppended(int(batch.size() - 1));
    });
}

// ---- progress and end (main) ----

void PhotoIntake::callForUpdatingProgressCountWithFilePath(const QString& folder) {
    ++photosAdded;
    const IntakeProgress p = progressFor(photosAdded, totalPhotoToAdd, folder);
    if (p.finished) isPHOTOS_PROCESSING_IN_PROGERESS = false;
    if (progress_) progress_->progressChanged(p);
}

void PhotoIntake::processAfterAllPhotosAdded() {
    if (ended_) return;
    if (totalPhotoToAdd > 0 && (isPhotoFormatNotSupported || isPhotosAlreadyAdded))
        executor_.afterDelay(kAlertDelayMs, [this] { showPromtForDamagedFiles(); });
    AppDelegate& app = AppDelegate::shared();
    isPHOTOS_PROCESSING_IN_PROGERESS = false;
    if (presenter_) {
        // Whatever the add went through, its end leaves no overlay holding the screen.
        presenter_->setLoadingOverlayVisible(false);
        presenter_->setProgressDisplayVisible(false);
        presenter_->showPhotosAfterCompletion(updateBatchInformationInBottomView());
        presenter_->setUserInteractionEnabled(true);
    }
    app.selectedImageFile = app.arraySelectedImagesToProcess.isEmpty() ? nullptr
                                                                       : app.arraySelectedImagesToProcess.first();
    if (app.selectedMetatDataSettingObj) app.selectedMetatDataSettingObj->isReset = true;
    endAdd();
}

void PhotoIntake::endAdd() {
    if (ended_) return;
    ended_ = true;
    isAddingPhotosInCollectionView = false;
    isAddFromSubFolderSelected = false;
    emit addEnded();
}

void PhotoIntake::showPromtForDamagedFiles() {
    if (presenter_) presenter_->showAlert(damagedFilesAlert(damagedFileCount, refusedFileNames(), alreadyExistsPhotosCount));
}

void PhotoIntake::refuse(const QString& path, const QString& undrawable) {
    const QString name = platform::displayPath(platform::lastPathComponent(path));
    QMutexLocker lock(&refusedLock_);
    refused_.append(undrawable.isEmpty() ? name : undrawableFileLine(name, undrawable));
}

void PhotoIntake::refuseUnreadable(const QString& path) {
    const QString line = intake::unreadableFileLine(path, platform::displayPath(platform::lastPathComponent(path)));
    QMutexLocker lock(&refusedLock_);
    refused_.append(line);
}

QStringList PhotoIntake::refusedFileNames() const {
    QMutexLocker lock(&refusedLock_);
    return refused_;
}

BatchFooter PhotoIntake::updateBatchInformationInBottomView() const {
    return footerFor(AppDelegate::shared().arraySelectedImagesToProcess);
}
