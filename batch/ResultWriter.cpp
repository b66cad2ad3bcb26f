#include "batch/ResultWriter.h"

#include "batch/BatchRunner.h"
#include "batch/RunMessages.h"
#include "engine/ImageProcessing.h"
#include "engine/PngOptimiser.h"
#include "engine/Utils.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileSync.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TemporaryFiles.h"
#include "platform/graphics/HandedOver.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/pdf/PdfDocument.h"
#include "records/BatchRenameSetting.h"
#include "records/MetaDataObject.h"
#include "records/OutputOptionSettings.h"
#include "records/PhotoFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <shared_mutex>
#include <unistd.h>

namespace {

const QString kOrientation = QStringLiteral("Orientation");
const QString kTiffGroup = QStringLiteral("{TIFF}");

bool isImageFileExtension(const QString& ext) {
    static const QStringList list{QStringLiteral("tif"), QStringLiteral("bmp"), QStringLiteral("gif"),
                                  QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                  QStringLiteral("jp2")};
    return list.contains(ext);  // the planned path carries its extension in lower case
}

// A name in the destination folder that nothing else uses; the file is created empty so
// no one else takes the name. The name does not grow with the destination's, which may
// already be as long as a name can be.
QString reserveSiblingName(const QString& folder, const QByteArray& mark) {
    QTemporaryFile reserve(platform::temporaryFileTemplate(folder, mark));
    if (!reserve.open()) return {};
    reserve.setAutoRemove(false);
    return reserve.fileName();
}

// Renames the finished file into place. Without replacing, an existing destination wins
// and the call fails with EEXIST, even when the file appeared a moment ago.
bool placeFile(const QString& from, const QString& to, bool replace, int* error) {
    if (!replace) return platform::trash::renameNoReplace(from, to, error);
    if (std::rename(platform::encodePath(from).constData(), platform::encodePath(to).constData()) == 0) return true;
    *error = errno;
    return false;
}

// Whether a file read back as written is a picture of the size that was written carrying
// the metadata groups of `metadata` it was to carry: what the capture date, the camera and
// the place of a photo are kept in. The file is opened once for both.
bool pictureReadsBack(const QString& path, const QSize& expected, const QVariantMap& metadata, bool* metadataLost) {
    static const QStringList groups{QStringLiteral("{Exif}"), QStringLiteral("{GPS}"), QStringLiteral("{TIFF}")};
    bool wanted = false;
    for (const QString& group : groups) wanted = wanted || !metadata.value(group).toMap().isEmpty();
    QVariantMap written;
    const platform::ImageHeader header = platform::readImageHeaderAndProperties(path, wanted ? &written : nullptr);
    if (!header.valid() || header.width != expected.width() || header.height != expected.height()) return false;
    // These hold no metadata.
    if (header.format == platform::ImageFormat::GIF || header.format == platform::ImageFormat::BMP ||
        header.format == platform::ImageFormat::J2K)
        return true;
    for (const QString& group : groups) {
        if (!metadata.value(group).toMap().isEmpty() && written.value(group).toMap().isEmpty()) *metadataLost = true;
    }
    return true;
}

// The process's file mode creation mask, read without changing it (umask() can only be
// read by setting it, which would race with other threads creating files).
mode_t currentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (!line.startsWith("Umask:")) continue;
            bool ok = false;
            const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok) return mode_t(mask & 0777);
        }
    }
    return 022;
}

// Gives the new file what can be set of the source's attributes: owner and group (errors
// ignored: only some users may change the owner) and the source's permissions as far as
// the user's file mode mask allows new files to have them. Without a source it gets the
// permissions any new file of the user gets.
void copySourceAttributes(const QString& source, const QString& target) {
    const QByteArray t = platform::encodePath(target);
    const mode_t mask = currentUmask();
    struct stat st {};
    if (::stat(platform::encodePath(source).constData(), &st) != 0) {
        ::chmod(t.constData(), 0666 & ~mask);
        return;
    }
    if (::chown(t.constData(), st.st_uid, st.st_gid) != 0) {
        // Not the owner's to give away; the file keeps ours.
    }
    ::chmod(t.constData(), st.st_mode & 0777 & ~mask);
}

// Gives up a prepared output on every way out unless it was placed.
struct DiscardUnlessPlaced {
    ResultWriter::Prepared& prepared;
    ~DiscardUnlessPlaced() { prepared.discard(); }
};

// The source's colour profile goes with the output; effects that drew a new picture did
// not carry it along. Attaching it copies the pixels of a picture held elsewhere too, so
// callers hand theirs over.
QImage withSourceProfile(QImage image, const QString& source) {
    if (platform::imageProfile(image).isEmpty())
        platform::setImageProfile(image, platform::decodedPixelProfile(platform::readImageHeader(source)));
    return image;
}

}  // namespace

// A folder made for an output must not stay behind empty when the output is given up (a
// refused or dropped photo), yet one the user had must never go. So the writer records the
// folders it made itself and removes one only while it is empty. Making a folder and
// creating the temporary file in it happen under the same lock as that removal, so a folder
// is never removed between another photo's making it and putting its file there.
class ResultWriter::CreatedFolders {
public:
    explicit CreatedFolders(std::shared_ptr<platform::RunRecord> record) : record_(std::move(record)) {}
    enum class Made { Ok, NoFolder };
    // Makes the folder of `destination` (and any missing folder above it) and reserves the
    // temporary name in it.
    // A folder whose name is not UTF-8 is written through `alias`, a descriptor of it
    // opened by its bytes, which the temporary file's path names.
    Made reserveBeside(const QString& destination, QString* temporaryPath,
                       std::shared_ptr<platform::ReadablePath>* alias) {
        const QString folder = platform::stringByDeletingLastPathComponent(QDir::cleanPath(
            destination.startsWith(u'/') ? destination : QDir::currentPath() + u'/' + destination));
        {
            // Most photos go to a folder that is there and was swept already: their files are
            // made side by side (making one is the file system's slowest step), only kept
            // apart from a removal, which takes the lock alone.
            const std::shared_lock<std::shared_mutex> shared(mutex_);
            if (swept_.contains(folder) && !platform::hasKeptBytes(folder) && platform::isDirectory(folder)) {
                *temporaryPath = reserveSiblingName(folder, mark());
                if (!temporaryPath->isEmpty()) return Made::Ok;
            }
        }
        const std::lock_guard<std::shared_mutex> lock(mutex_);
        if (!makeFolder(folder)) return Made::NoFolder;
        if (!swept_.contains(folder)) {
            // Recorded before the first file is made in it, so a kill from here on leaves
            // nothing the next start does not find.
            if (record_) record_->addOutputFolder(folder);
            swept_.insert(folder);
            platform::removeStaleTemporaries(folder, [this](const QByteArray& mark) {
                return record_ && record_->temporariesEnded(mark);
            });
        }
        QString writable = folder;
        if (platform::hasKeptBytes(folder)) {
            *alias = std::make_shared<platform::ReadablePath>(folder);
            writable = (*alias)->path();
        }
        if (!writable.isEmpty()) *temporaryPath = reserveSiblingName(writable, mark());
        if (temporaryPath->isEmpty()) removeEmptyFoldersFrom(folder);
        return Made::Ok;
    }
    // Removes a temporary file of `destination`, then every folder the writer made that
    // this leaves empty.
    void removeFile(const QString& path, const QString& destination) {
        const std::lock_guard<std::shared_mutex> lock(mutex_);
        QFile::remove(path);
        removeEmptyFoldersFrom(platform::stringByDeletingLastPathComponent(QDir::cleanPath(
            destination.startsWith(u'/') ? destination : QDir::currentPath() + u'/' + destination)));
    }

private:
    bool makeFolder(const QString& folder) {
        QStringList missing;
        for (QString path = folder; !platform::isDirectory(path);) {
            const QString up = platform::stringByDeletingLastPathComponent(path);
            if (platform::fileExists(path) || up.isEmpty() || up == path) return false;
            missing.prepend(path);
            path = up;
        }
        for (const QString& path : missing) {
            if (::mkdir(platform::encodePath(path).constData(), 0777) == 0) {
                made_.insert(path);
                platform::log(u"directory created successfully %@", path);
            } else if (errno != EEXIST || !platform::isDirectory(path)) {
                platform::log(u"%@: could not create the folder", path);
                removeEmptyFoldersFrom(platform::stringByDeletingLastPathComponent(path));
                return false;
            }
        }
        return true;
    }
    void removeEmptyFoldersFrom(QString folder) {
        // rmdir removes only an empty folder; one that holds anything stays.
        while (made_.contains(folder) && ::rmdir(platform::encodePath(folder).constData()) == 0) {
            made_.remove(folder);
            folder = platform::stringByDeletingLastPathComponent(folder);
        }
    }

    // The mark of the run's temporary files.
    QByteArray mark() const { return record_ ? record_->temporaryMark() : QByteArray(); }

    const std::shared_ptr<platform::RunRecord> record_;
    std::shared_mutex mutex_;
    QSet<QString> made_;
    QSet<QString> swept_;  // folders already cleared of earlier runs' temporary files
};

class ResultWriter::ReadBuffers {
public:
    std::unique_ptr<std::vector<char>> take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty()) return std::make_unique<std::vector<char>>();
        std::unique_ptr<std::vector<char>> buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
    }
    void giveBack(std::unique_ptr<std::vector<char>> buffer) {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(buffer));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<std::vector<char>>> free_;
};

class ResultWriter::OutputCheck {
public:
    // `sync`: a user's original will be given up for the output.
    OutputCheck(const ResultWriter& writer, bool sync) : buffers_(*writer.readBuffers_), buffer_(buffers_.take()) {
        check.sync = sync;
        check.readBuffer = buffer_.get();
        check.onDisk = writer.onDisk;
    }
    ~OutputCheck() { buffers_.giveBack(std::move(buffer_)); }
    OutputCheck(const OutputCheck&) = delete;
    OutputCheck& operator=(const OutputCheck&) = delete;

    platform::WriteCheck check;

private:
    ReadBuffers& buffers_;
    std::unique_ptr<std::vector<char>> buffer_;
};

ResultWriter::ResultWriter(ResultWriterSettings settings)
    : s_(std::move(settings)),
      createdFolders_(std::make_shared<CreatedFolders>(s_.runRecord)),
      readBuffers_(std::make_shared<ReadBuffers>()) {
    moveToTrash = [record = s_.runRecord](const QString& path, const std::optional<platform::FileIdentity>& expected) {
        return platform::trash::moveToTrash(path, expected, record.get());
    };
    syncToDisk = platform::syncFileAndFolder;
}

float ResultWriter::qualityFactorForOutput() const {
    const int format = BatchRenameSetting::outputFormatOf(s_.renameSetting.get());
    if (format == outputformat::KeepOriginal || outputformat::isLossy(format)) {
        if (s_.renameSetting && s_.renameSetting->isSetQuality.value_or(false))
            return float(s_.renameSetting->qualityRatio.value_or(0.0) * 0.98);
        return 0.82f;
    }
    return 0.98f;
}

bool ResultWriter::usesOptimiser(platform::ImageType saveType) const {
    if (!outputformat::mayOptimise(BatchRenameSetting::outputFormatOf(s_.renameSetting.get()))) return false;
    if (!s_.renameSetting || !s_.renameSetting->isSetCompression.value_or(false)) return false;
    // The optimiser makes PNG data only; a .tif or .gif holding PNG bytes would be a
    // broken file, so other types are written directly.
    return saveType == platform::ImageType::PNG;
}

ResultWriter::Prepared ResultWriter::saveImageUsingDefaultMethodInDirectoryFilteredImg(
    QImage&& filteredImg, const QString& withUrl, platform::ImageType saveType,
    const std::shared_ptr<PhotoFile>& photoFile) {
    if (!photoFile) return Prepared::failed(runmessages::WriteFailed);
    Prepared prepared = temporaryOutputFor(withUrl);
    if (!prepared.ready()) return prepared;
    const QString temporaryPath = prepared.temporaryPath_;
    const PhotoFile& photo = *photoFile;

    Utils& utils = Utils::sharedUtils();
    // From here `image` is the one holder of the picture (when the caller handed it over).
    QImage image = utils.getCgiImageRef(std::exchange(filteredImg, QImage()));
    const QVariantMap sourceProperties = utils.getImageeExifDict(photo.fileURL);
    const int sourceOrientation = sourceProperties.value(kOrientation).toInt();
    const QString recordOrientation = s_.metaDataSetting ? s_.metaDataSetting->CamSetting_Orientation : QString();

    if (sourceOrientation != 0 && !s_.autoCorrectOrientation && recordOrientation.isEmpty()) {
        // The source's tag stays with the output, so the pixels go back to the layout it
        // describes.
        image = RotateWithEXIF(image, sourceOrientation);
        platform::log(u"setup rotating image beacuse autocorrection is off");
    }

    const QVariantMap properties = outputProperties(photo, sourceProperties);
    if (!keepsRecordOrientation()) image = RotateWithEXIF(image, recordOrientation.trimmed().toInt());

    image = withSourceProfile(std::move(image), photo.fileURL);

    prepared.imageFile_ = true;
    prepared.storedSize_ = image.size();
    OutputCheck checking(*this, originalDependsOn(withUrl, photo));
    platform::WriteCheck& check = checking.check;
    if (!usesOptimiser(saveType)) {
        // The temporary file is this writer's own: the picture goes straight into it.
        const bool ok = utils.saveImageInSelectedFormat(saveType, temporaryPath, image, image, properties,
                                                        qualityFactorForOutput(), sourceOrientation, nullptr,
                                                        platform::FileTarget::PrivateFile, &check);
        readBack(prepared, ok ? Written::Ok : Written::Failed, withUrl, check, properties);
        return prepared;
    }

    // Compression route: a PNG recompressed into the output. Its files lie beside the
    // output's temporary file and are named as it is, so that what a killed run leaves of
    // them is cleared with it at the next start (the run's record names the folder).
    const double qualityRatio = s_.renameSetting->qualityRatio.value_or(0.0);
    const int level = int(s_.renameSetting->compressionRatio.value_or(BatchRenameSetting::kMaxCompression));
    compressionState_ = 1;
    const QString beside = platform::temporaryFileTemplate(QFileInfo(temporaryPath).absolutePath(),
                                                           s_.runRecord ? s_.runRecord->temporaryMark() : QByteArray()) +
                           QStringLiteral(".png");
    QTemporaryFile pngTemp(beside);
    QTemporaryFile optimised(beside);
    bool ok = false;
    try {
        if (pngTemp.open() && optimised.open()) {
            pngTemp.close();
            optimised.close();
            if (beforeOptimising) beforeOptimising(pngTemp.fileName(), optimised.fileName());
            // The optimiser writes its own file; its bytes reach the output through the
            // writer, which counts them on their way and reads the output back.
            ok = utils.saveImageInSelectedFormat(platform::ImageType::PNG, pngTemp.fileName(), image, image, properties,
                                                 float(qualityRatio), sourceOrientation, nullptr) &&
                 processPNG(QFile::encodeName(pngTemp.fileName()).constData(),
                            QFile::encodeName(optimised.fileName()).constData(), kPngOptimiserBatchMethod, level) == 0;
            QFile made(optimised.fileName());  // the optimiser's file, put in the temporary one's place
            ok = ok && made.open(QIODevice::ReadOnly) &&
                 platform::writeFileBytes(temporaryPath, made.readAll(), platform::FileTarget::PrivateFile, &check);
        }
    } catch (...) {
        // The run reports this photo as failed and goes on; a stop asked for meanwhile must
        // still reach the runner, or it would wait for a compression that never ends.
        if (compressionState_.exchange(0) == 2 && stopProcessAfterCompletionCompression)
            stopProcessAfterCompletionCompression();
        throw;
    }
    if (ok) {
        platform::log(u"File Compressed Successfully");
    } else {
        platform::log(u"Error While Compressing File");
        ok = utils.saveImageInSelectedFormat(saveType, temporaryPath, image, image, properties,
                                             float(qualityRatio), sourceOrientation, nullptr,
                                             platform::FileTarget::PrivateFile, &check);
    }
    if (compressionState_.exchange(0) == 2) {
        // The user stopped while the optimiser ran: the photo in hand is not written.
        readBack(prepared, Written::Abandoned, withUrl, check);
        if (stopProcessAfterCompletionCompression) stopProcessAfterCompletionCompression();
        return prepared;
    }
    readBack(prepared, ok ? Written::Ok : Written::Failed, withUrl, check, properties);
    return prepared;
}

ResultWriter::Prepared ResultWriter::saveImageUsingImageMagick(QImage&& image, const QString& newFilePath,
                                                               const std::shared_ptr<PhotoFile>& photoFileNode) {
    Prepared prepared = temporaryOutputFor(newFilePath);
    if (!prepared.ready()) return prepared;
    prepared.imageFile_ = false;
    const QImage page = photoFileNode ? withSourceProfile(std::move(image), photoFileNode->fileURL) : std::move(image);
    prepared.storedSize_ = page.size();
    // An existing document at the destination (only reachable with overwriting on) keeps
    // its pages and gains one.
    const int before = QFileInfo(newFilePath).isFile() ? std::max(0, platform::pdfPageCount(newFilePath)) : 0;
    OutputCheck checking(*this, photoFileNode && originalDependsOn(newFilePath, *photoFileNode));
    platform::WriteCheck& check = checking.check;
    const bool ok = platform::appendPicturePageToPdf(newFilePath, prepared.temporaryPath_, page,
                                                     qualityFactorForOutput(), &check) &&
                    platform::pdfPageCount(prepared.temporaryPath_) == before + 1;
    readBack(prepared, ok ? Written::Ok : Written::Failed, newFilePath, check);
    return prepared;
}

ResultWriter::Result ResultWriter::saveImgInDirectoryFilteredImg(const QImage& image, const QString& destination,
                                                                 platform::ImageType saveType,
                                                                 const std::shared_ptr<PhotoFile>& photo) {
    Prepared prepared = preparePicture(QImage(image), destination, saveType, photo, std::nullopt);
    if (!prepared.ready()) return prepared.result;
    return placePrepared(prepared, destination, photo);
}

ResultWriter::Prepared& ResultWriter::Prepared::operator=(Prepared&& other) noexcept {
    if (this != &other) {
        discard();
        result = std::move(other.result);
        temporaryPath_ = std::move(other.temporaryPath_);
        folders_ = std::move(other.folders_);
        folderAlias_ = std::move(other.folderAlias_);
        destination_ = std::move(other.destination_);
        storedSize_ = other.storedSize_;
        imageFile_ = other.imageFile_;
        verified_ = other.verified_;
        sourcePages_ = other.sourcePages_;
        sourceFormat_ = other.sourceFormat_;
        sourceRead_ = other.sourceRead_;
        folder_ = other.folder_;
        other.temporaryPath_.clear();
    }
    return *this;
}

ResultWriter::Prepared ResultWriter::Prepared::failed(const QString& message) {
    Prepared prepared;
    prepared.result = {PhotoFile::Failed, message};
    return prepared;
}

void ResultWriter::Prepared::discard() {
    if (temporaryPath_.isEmpty()) return;
    if (folders_) {
        folders_->removeFile(temporaryPath_, destination_);
    } else {
        QFile::remove(temporaryPath_);
    }
    temporaryPath_.clear();
}

QString ResultWriter::pagesLost(const Prepared& prepared, const QString& text) {
    // TIFF files hold pages, HEIF files pictures, the animations frames.
    const QString& kind = prepared.sourceFormat_ == platform::ImageFormat::TIFF ? runmessages::PagesNoun
                          : prepared.sourceFormat_ == platform::ImageFormat::HEIF ||
                                  prepared.sourceFormat_ == platform::ImageFormat::AVIF
                              ? runmessages::PicturesNoun
                              : runmessages::FramesNoun;
    return platform::format(text, prepared.sourcePages_, kind);
}

bool ResultWriter::originalDependsOn(const QString& destination, const PhotoFile& photo) const {
    const bool move = s_.outputSetting && s_.outputSetting->moveAndRenameToDestinationFolder.value_or(false);
    // The source goes to the Trash once its output is in place; a file the output replaces
    // (the source itself, or one already at the destination) goes there before.
    return (move && !photo.isIphotosNode) || (overwrites() && platform::fileExists(destination));
}

bool ResultWriter::overwrites() const { return s_.isProcessForRestoreExif || replacesUsersFiles(); }

bool ResultWriter::replacesUsersFiles() const {
    return s_.outputSetting && s_.outputSetting->owerwriteExistingFiles.value_or(false);
}

bool ResultWriter::replacesEarlierOutput(const QString& destination) const {
    return s_.isProcessForRestoreExif && s_.placedOutputs && s_.placedOutputs->holds(destination);
}

bool ResultWriter::keepsExisting(const QString& destination) const {
    return !replacesUsersFiles() && platform::fileExists(destination) && !replacesEarlierOutput(destination);
}

void ResultWriter::notePlaced(const QString& destination, const std::optional<platform::FileIdentity>& placed) const {
    if (s_.placedOutputs && placed) s_.placedOutputs->placed(destination, *placed);
}

void PlacedOutputs::placed(const QString& destination, const platform::FileIdentity& identity) {
    const std::lock_guard<std::mutex> lock(mutex_);
    placed_.insert(destination, identity);
}

bool PlacedOutputs::holds(const QString& destination) const {
    std::optional<platform::FileIdentity> expected;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = placed_.constFind(destination);
        if (it == placed_.constEnd()) return false;
        expected = *it;
    }
    return platform::FileIdentity::of(destination) == expected;
}

namespace {

// Why an output could not be finished, where the destination tells more than "could not
// be written": its folder is gone (or is another folder now than the one the file was
// made in), or its disk is (nearly) full.
QString unwrittenBecause(const QString& destination, const QString& otherwise,
                         const std::shared_ptr<const int>& folderWritten = nullptr) {
    const QString folder = QFileInfo(destination).absolutePath();
    // Asked of the system itself: a look-up that fails for want of memory says nothing of
    // the folder.
    struct stat held {}, named {};
    const bool found = ::stat(platform::encodePath(folder).constData(), &named) == 0;
    if (!found && (errno == ENOENT || errno == ENOTDIR)) return runmessages::OutputFolderGone;
    if (found && !S_ISDIR(named.st_mode)) return runmessages::OutputFolderGone;
    // The folder the file was made in is gone from its place when it has no links left or
    // another folder has its name now (held open, its inode cannot be another's).
    if (folderWritten && found && ::fstat(*folderWritten, &held) == 0 &&
        (held.st_nlink == 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino))
        return runmessages::OutputFolderGone;
    const QStorageInfo volume(folder);
    // Below the run's own low-space limit, a failed write is the disk's doing.
    if (volume.isValid() && volume.isReady() && quint64(volume.bytesAvailable()) < BatchRunner::kLowSpaceBytes)
        return runmessages::DiskFull;
    return otherwise;
}

}  // namespace

namespace {

// A folder held open by a descriptor that closes with its last holder; null when it
// cannot be opened.
std::shared_ptr<const int> openFolder(const QString& folder) {
    const int fd = ::open(platform::encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::shared_ptr<const int>(new int(fd), [](const int* held) {
        ::close(*held);
        delete held;
    });
}

}  // namespace

ResultWriter::Prepared ResultWriter::temporaryOutputFor(const QString& destination) {
    Prepared prepared = Prepared::failed(runmessages::WriteFailed);
    if (destination.isEmpty()) return prepared;
    prepared.destination_ = destination;
    if (createdFolders_->reserveBeside(destination, &prepared.temporaryPath_, &prepared.folderAlias_) ==
        CreatedFolders::Made::NoFolder) {
        prepared.result = {PhotoFile::Failed, runmessages::FolderNotCreated};
        return prepared;
    }
    prepared.folders_ = createdFolders_;
    if (prepared.temporaryPath_.isEmpty()) {
        platform::log(u"%@: could not create a file in the destination folder", destination);
        prepared.result.processInfoMessage = unwrittenBecause(destination, runmessages::WriteFailed);
    } else {
        prepared.folder_ = openFolder(QFileInfo(prepared.temporaryPath_).absolutePath());
    }
    // From here every way out either hands the file on or removes it.
    return prepared;
}


void ResultWriter::readBack(Prepared& prepared, Written written, const QString& destination,
                            const platform::WriteCheck& check, const QVariantMap& metadata) {
    if (written == Written::Ok) {
        // The file holds exactly the bytes encoded for it: the writer read it back and
        // compared. What is left to see is that they make the file asked for: a picture of
        // the size written, or a document with its new page, with the metadata it was given.
        // The picture is not decoded again: its bytes are the encoder's own, which it made
        // without an error, and decoding them would test the encoder, not the disk (it cost
        // a tenth of a PNG conversion's processor time). Placing later only makes sure the
        // file is still the one that read back.
        const QString& temporaryPath = prepared.temporaryPath_;
        bool metadataLost = false;
        const bool readsBack = prepared.imageFile_
                                   ? pictureReadsBack(temporaryPath, prepared.storedSize_, metadata, &metadataLost)
                                   : platform::pdfPageCount(temporaryPath) > 0;
        // A disk that fills while the metadata is written leaves a picture without its
        // capture date, camera and place; in move mode the source, the only copy that
        // still has them, would go to the Trash.
        if (readsBack && metadataLost) {
            platform::log(u"%@: the written file lacks its metadata", destination);
            // Why, asked while the file still keeps its folder: given up, it takes a folder
            // the writer made for it along, which would then look removed by someone else.
            prepared.result = {PhotoFile::Failed, unwrittenBecause(destination, runmessages::MetadataNotWritten, prepared.folder_)};
            prepared.discard();
            return;
        }
        if (readsBack) {
            prepared.verified_ = check.readBack;
            prepared.result = {PhotoFile::Processed, runmessages::Processed};
            return;
        }
        platform::log(u"%@: the written file does not read back", destination);
    }
    if (written == Written::Abandoned) {
        prepared.discard();
        prepared.result = {PhotoFile::NotProcessed, QString(), true};
        return;
    }
    if (written == Written::Failed) platform::log(u"%@: the output was not written", destination);
    // Why, asked before the file is given up (see above).
    if (prepared.result.processInfoMessage == runmessages::WriteFailed) {
        switch (check.outcome) {
        case platform::WriteCheck::Outcome::Differs: prepared.result.processInfoMessage = runmessages::OutputDiffers; break;
        case platform::WriteCheck::Outcome::Unreadable:
            prepared.result.processInfoMessage = unwrittenBecause(destination, runmessages::OutputNotOnDisk, prepared.folder_);
            break;
        default: prepared.result.processInfoMessage = unwrittenBecause(destination, runmessages::WriteFailed, prepared.folder_);
        }
    }
    prepared.discard();
}

bool ResultWriter::keepsRecordOrientation() const {
    const QString trimmed = s_.metaDataSetting ? s_.metaDataSetting->CamSetting_Orientation.trimmed() : QString();
    return s_.autoCorrectOrientation && (trimmed.isEmpty() || trimmed == u"0" || trimmed == u"1");
}

QVariantMap ResultWriter::outputProperties(const PhotoFile& photo, const QVariantMap& sourceProperties) const {
    QVariantMap properties;
    if (s_.isProcessForRestoreExif) {
        properties = photo.exifDict;
    } else {
        const MetaDataObject empty;
        const MetaDataObject& record = s_.metaDataSetting ? *s_.metaDataSetting : empty;
        const MetaDataObject& updated =
            s_.metaDataSettingOnlyUpdatedFields ? *s_.metaDataSettingOnlyUpdatedFields : empty;
        properties = MetaDataObject::metadataDictFromObject(record, sourceProperties, record, updated);
    }
    // Pictures turned upright say so; otherwise they are turned as the record asks.
    if (keepsRecordOrientation()) {
        properties.insert(kOrientation, 1);
        if (properties.contains(kTiffGroup)) {
            QVariantMap tiff = properties.value(kTiffGroup).toMap();
            tiff.insert(kOrientation, 1);
            properties.insert(kTiffGroup, tiff);
        }
    }
    return properties;
}

ResultWriter::EncodedRoute ResultWriter::encodedRoute(platform::ImageType saveType, const QString& destination,
                                                      const PhotoFile& photo, const platform::ImageHeader& source) const {
    using Changed = EncodedRoute::Changed;
    EncodedRoute route;
    route.type = saveType;
    route.quality = double(qualityFactorForOutput());
    if ((saveType != platform::ImageType::JPEG && saveType != platform::ImageType::PNG) || destination.isEmpty() ||
        !isImageFileExtension(platform::pathExtension(destination))) {
        route.changed = Changed::Type;
        return route;
    }
    if (usesOptimiser(saveType)) {
        route.changed = Changed::Optimiser;
        return route;
    }
    // Only a picture that is written the way it is stored: no turn for the source's tag or
    // the record's.
    const QVariantMap sourceProperties = Utils::sharedUtils().getImageeExifDict(photo.fileURL);
    const int sourceOrientation = sourceProperties.value(kOrientation).toInt();
    const bool sourceTurn = sourceOrientation > 1 && !s_.autoCorrectOrientation &&
                            (!s_.metaDataSetting || s_.metaDataSetting->CamSetting_Orientation.isEmpty());
    const int record = keepsRecordOrientation() || !s_.metaDataSetting
                           ? 0
                           : s_.metaDataSetting->CamSetting_Orientation.trimmed().toInt();
    if (sourceTurn || record > 1) {
        route.changed = Changed::Turned;
        return route;
    }
    // The profile the source's pixels carry goes into the file as it is, or the picture
    // would be converted on its way out. A grey probe shows whether a grey photo's picture
    // goes out grey.
    QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
    probe.fill(Qt::white);
    platform::setImageProfile(probe, platform::decodedPixelProfile(source));
    const QByteArray icc = platform::imageProfile(probe);
    const bool graySource = platform::propertiesDescribeGray(outputProperties(photo, sourceProperties));
    const platform::OutputPixels out = platform::pixelsForOutput(probe, platform::colourTargetOf(saveType), graySource);
    if (!icc.isEmpty() && out.icc != icc) route.changed = Changed::Colours;
    route.icc = out.icc;
    route.gray = graySource && out.pixels.format() == QImage::Format_Grayscale8;
    return route;
}

ResultWriter::Prepared ResultWriter::prepareEncoded(const EncodedRoute& route, QSize size, const QString& destination,
                                                    const std::shared_ptr<PhotoFile>& photo,
                                                    std::optional<platform::FileIdentity> sourceRead,
                                                    const std::function<bool(const platform::FileBytesSink&)>& write) {
    if (size.isEmpty() || destination.isEmpty() || !photo) return Prepared::failed(runmessages::WriteFailed);
    return prepareWith(destination, *photo, sourceRead, [&] {
        Prepared prepared = temporaryOutputFor(destination);
        if (!prepared.ready()) return prepared;
        const QVariantMap properties = outputProperties(*photo, Utils::sharedUtils().getImageeExifDict(photo->fileURL));
        prepared.imageFile_ = true;
        prepared.storedSize_ = size;
        OutputCheck checking(*this, originalDependsOn(destination, *photo));
        platform::WriteCheck& check = checking.check;
        const bool ok = platform::writeEncodedImageFile(prepared.temporaryPath_, route.type, properties, write,
                                                        platform::FileTarget::PrivateFile, &check);
        readBack(prepared, ok ? Written::Ok : Written::Failed, destination, check, properties);
        return prepared;
    });
}

ResultWriter::Prepared ResultWriter::prepareImg(QImage&& image, const QString& destination,
                                                platform::ImageType saveType,
                                                const std::shared_ptr<PhotoFile>& photo,
                                                std::optional<platform::FileIdentity> sourceRead) {
    // One still held elsewhere is written all the same; it is copied where it is changed.
    platform::holdsPixelsAlone(image, u"the writer");
    return preparePicture(std::move(image), destination, saveType, photo, sourceRead);
}

ResultWriter::Prepared ResultWriter::preparePicture(QImage&& image, const QString& destination,
                                                    platform::ImageType saveType,
                                                    const std::shared_ptr<PhotoFile>& photo,
                                                    std::optional<platform::FileIdentity> sourceRead) {
    if (image.isNull() || destination.isEmpty() || !photo) return Prepared::failed(runmessages::WriteFailed);
    return prepareWith(destination, *photo, sourceRead, [&] {
        // The extension alone decides between the routes; the save type only chooses the
        // image file's encoder.
        return isImageFileExtension(platform::pathExtension(destination))
                   ? saveImageUsingDefaultMethodInDirectoryFilteredImg(std::move(image), destination, saveType, photo)
                   : saveImageUsingImageMagick(std::move(image), destination, photo);
    });
}

ResultWriter::Prepared ResultWriter::prepareWith(const QString& destination, const PhotoFile& photo,
                                                 std::optional<platform::FileIdentity> sourceRead,
                                                 const std::function<Prepared()>& write) {
    if (keepsExisting(destination)) {
        Prepared kept;
        kept.result = {PhotoFile::Skipped, runmessages::AlreadyExists};
        return kept;
    }
    if (!sourceRead) sourceRead = platform::FileIdentity::of(photo.filePath);
    Prepared prepared = write();
    prepared.sourceRead_ = sourceRead;
    // What the source holds besides the picture that was written, from its header.
    const platform::ImageHeader source = platform::readImageHeader(photo.fileURL);
    prepared.sourcePages_ = source.pages;
    prepared.sourceFormat_ = source.format;
    if (prepared.ready() && afterEncoding) afterEncoding(prepared.temporaryPath_, destination);
    return prepared;
}

bool ResultWriter::replacesOwnSource(const QString& destination, const PhotoFile& photo) {
    return !photo.isIphotosNode && platform::fileExists(photo.filePath) && platform::isSameFile(destination, photo.filePath);
}

ResultWriter::Result ResultWriter::placePrepared(Prepared& prepared, const QString& destination,
                                                 const std::shared_ptr<PhotoFile>& photo) {
    using runmessages::WriteFailed;
    if (!prepared.ready()) return prepared.result;
    // The file is this call's now: it goes into place or away.
    const QString temporaryPath = prepared.temporaryPath_;
    DiscardUnlessPlaced guard{prepared};
    if (beforePlacing) beforePlacing(temporaryPath, destination);

    // Still the file that read back: its length and its header.
    if (!platform::stillAsReadBack(temporaryPath, prepared.verified_)) {
        platform::log(u"%@: the written file does not read back", destination);
        return {PhotoFile::Failed, unwrittenBecause(destination, WriteFailed, prepared.folder_)};
    }

    // Dates: the source's own, or those of the metadata record.
    const platform::FileAttributes source = platform::fileAttributes(photo->fileURL);
    const bool keepOriginalDates = s_.isProcessForRestoreExif ||
                                   (s_.outputSetting && s_.outputSetting->setOutputDateTimeAsOriginal.value_or(false));
    QDateTime modification;
    if (keepOriginalDates) {
        modification = source.modificationDate;
    } else if (s_.metaDataSetting && !s_.metaDataSetting->Date_Modify.isEmpty()) {
        modification = MetaDataObject::dateFromMetadataText(s_.metaDataSetting->Date_Modify);
    }
    // The file system keeps no settable creation date; only the modification date is given.
    copySourceAttributes(source.exists ? photo->fileURL : QString(), temporaryPath);
    if (modification.isValid()) platform::setModificationDate(temporaryPath, modification);

    // Pages or frames past the first did not reach the output, so the original is the only
    // file that has them: it is never replaced by one without them.
    if (overwrites() && replacesOwnSource(destination, *photo)) {
        if (prepared.sourcePages_ > 1) {
            platform::log(u"%@: only the first of %@ pages or frames would be written; the original is kept",
                          destination, prepared.sourcePages_);
            return {PhotoFile::Failed, pagesLost(prepared, runmessages::OnlyFirstPageNotReplaced)};
        }
        return replaceOwnSource(prepared, destination, *photo);
    }

    // A file at the destination is replaced only through the Trash, as an original is, and
    // only with overwriting on. The one exception is a restore run's: the very file an
    // earlier run of this batch placed there (still that file, by its identity) is replaced
    // in place. Whatever else is there now, even where that run wrote nothing (the photo
    // failed, or the run was stopped before it), is the user's.
    const std::optional<platform::FileIdentity> placing = platform::FileIdentity::of(temporaryPath);
    int error = 0;
    bool placed = placeFile(temporaryPath, destination, false, &error);
    if (!placed && error == EEXIST && replacesEarlierOutput(destination))
        placed = placeFile(temporaryPath, destination, true, &error);
    if (!placed) {
        if (error == EEXIST && replacesUsersFiles()) return replaceExisting(prepared, destination, *photo);
        if (error == EEXIST) {
            platform::log(u"%@: a file appeared at the destination; it is kept", destination);
            return {PhotoFile::Skipped, runmessages::AlreadyExists};
        }
        platform::log(u"%@: could not move the finished file into place (%@)", destination,
                      QString::fromLocal8Bit(std::strerror(error)));
        return {PhotoFile::Failed, unwrittenBecause(destination, WriteFailed, prepared.folder_)};
    }
    prepared.temporaryPath_.clear();  // placed: nothing left to give up
    notePlaced(destination, placing);
    return afterPlacing(prepared, destination, *photo);
}

std::optional<ResultWriter::Result> ResultWriter::placeThroughTrash(Prepared& prepared, const QString& destination,
                                                                   const QString& replaced,
                                                                   const std::optional<platform::FileIdentity>& expected,
                                                                   const QString& notTrashed) {
    const QString temporaryPath = prepared.temporaryPath_;
    // The new file is on the disk before the replaced file's last name moves to the Trash.
    if (syncToDisk && !syncToDisk(temporaryPath)) {
        platform::log(u"%@: the output could not be flushed to disk; the file there is kept", destination);
        return Result{PhotoFile::Failed, notTrashed};
    }
    // The replaced file gets a second name in the Trash and keeps its own until the new
    // file is renamed over it, so it is in place or in the Trash at every moment. Where
    // files take no second name it is moved to the Trash, and the new file then takes the
    // free name.
    platform::RunRecord* record = s_.runRecord.get();
    platform::TrashEntry entry = platform::trash::linkIntoTrash(replaced, expected, record);
    if (!entry.ok && entry.linksUnsupported) entry = platform::trash::moveToTrash(replaced, expected, record);
    if (!entry.ok) return Result{PhotoFile::Failed, notTrashed + QStringLiteral(": ") + entry.error};
    // The record keeps a linked entry until the new file has the name, or the entry is undone.
    const auto settled = qScopeGuard([&] {
        if (record && entry.linked) record->trashEntryEnds(entry.infoPath);
    });
    const std::optional<platform::FileIdentity> placing = platform::FileIdentity::of(temporaryPath);
    int error = 0;
    if (!placeFile(temporaryPath, destination, entry.linked, &error)) {
        platform::log(u"%@: could not move the finished file into place (%@)", destination,
                      QString::fromLocal8Bit(std::strerror(error)));
        platform::trash::undo(entry, replaced);
        return Result{PhotoFile::Failed, runmessages::WriteFailed};
    }
    prepared.temporaryPath_.clear();
    notePlaced(destination, placing);
    return std::nullopt;
}

ResultWriter::Result ResultWriter::replaceOwnSource(Prepared& prepared, const QString& destination,
                                                    const PhotoFile& photo) {
    if (const auto failed =
            placeThroughTrash(prepared, destination, photo.filePath, prepared.sourceRead_, runmessages::OriginalNotTrashed))
        return *failed;
    return {PhotoFile::Processed, runmessages::Processed};
}

ResultWriter::Result ResultWriter::replaceExisting(Prepared& prepared, const QString& destination,
                                                   const PhotoFile& photo) {
    // The file found there now is the one that goes: one swapped in meanwhile is kept.
    const std::optional<platform::FileIdentity> existing = platform::FileIdentity::of(destination);
    if (const auto failed = placeThroughTrash(prepared, destination, destination, existing, runmessages::ExistingNotTrashed))
        return *failed;
    return afterPlacing(prepared, destination, photo);
}

ResultWriter::Result ResultWriter::afterPlacing(const Prepared& prepared, const QString& destination,
                                                const PhotoFile& photo) {
    const bool move = s_.outputSetting && s_.outputSetting->moveAndRenameToDestinationFolder.value_or(false);
    const bool partial = prepared.sourcePages_ > 1;
    if (!move || photo.isIphotosNode || !platform::fileExists(destination) ||
        platform::isSameFile(destination, photo.filePath))
        return {PhotoFile::Processed, partial ? pagesLost(prepared, runmessages::OnlyFirstPage) : runmessages::Processed};
    // The original is the only file with the pages or frames past the first: it stays.
    if (partial) return {PhotoFile::Failed, pagesLost(prepared, runmessages::OnlyFirstPageOriginalKept)};
    // A power loss after this point must not leave the source in the Trash and the
    // output still in the page cache.
    if (syncToDisk && !syncToDisk(destination)) {
        platform::log(u"%@: the output could not be flushed to disk; the source is kept", destination);
        return {PhotoFile::Failed, runmessages::TrashFailed};
    }
    // The source must still be the file whose picture was written: one put in its place
    // meanwhile was never processed and stays.
    const platform::TrashEntry entry =
        moveToTrash ? moveToTrash(photo.filePath, prepared.sourceRead_) : platform::TrashEntry{};
    if (!entry.ok) {
        const std::optional<platform::FileIdentity> now = platform::FileIdentity::of(photo.filePath);
        if (prepared.sourceRead_ && now && *now != *prepared.sourceRead_) return {PhotoFile::Failed, runmessages::SourceChanged};
        // Moved away meanwhile (by another run on the same folder, say): nothing stays in place.
        if (!now && !platform::fileExists(photo.filePath)) return {PhotoFile::Failed, runmessages::SourceGoneBeforeTrash};
        return {PhotoFile::Failed, runmessages::TrashFailed + QStringLiteral(": ") + entry.error};
    }
    return {PhotoFile::Processed, runmessages::Processed};
}
