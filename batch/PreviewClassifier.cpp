#include "batch/PreviewClassifier.h"

#include "batch/OpenLimit.h"
#include "platform/foundation/FileAttributes.h"
#include "records/AppDelegate.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <sys/stat.h>

namespace {

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(path.startsWith(u'/') ? path : QFileInfo(path).absoluteFilePath());
}

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};
size_t qHash(const FileId& id, size_t seed = 0) { return ::qHash(quint64(id.inode), seed) ^ quint64(id.device); }

bool fileIdOf(const QString& path, FileId* id) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

// Which photos of the batch have their source at a path: by spelling, and for files that
// exist by identity on disk (another spelling, a link, a case-insensitive volume).
class SourceIndex {
public:
    explicit SourceIndex(const QList<std::shared_ptr<OutputPhotoPath>>& planned) : planned_(planned) {
        for (qsizetype i = 0; i < planned.size(); ++i) {
            if (planned.at(i)) byPath_[cleanAbsolute(planned.at(i)->oldFilePath)].append(int(i));
        }
    }
    QList<int> photosAt(const QString& path, bool exists) {
        QList<int> found = byPath_.value(cleanAbsolute(path));
        FileId id;
        if (exists && fileIdOf(path, &id)) {
            buildIds();
            for (int j : byId_.value(id)) {
                if (!found.contains(j)) found.append(j);
            }
        }
        return found;
    }

private:
    void buildIds() {
        if (idsBuilt_) return;
        idsBuilt_ = true;
        for (qsizetype i = 0; i < planned_.size(); ++i) {
            FileId id;
            if (planned_.at(i) && fileIdOf(planned_.at(i)->oldFilePath, &id)) byId_[id].append(int(i));
        }
    }
    const QList<std::shared_ptr<OutputPhotoPath>>& planned_;
    QHash<QString, QList<int>> byPath_;
    QHash<FileId, QList<int>> byId_;
    bool idsBuilt_ = false;
};

}  // namespace

int PreviewClassification::errorCount() const {
    return int(arrayEmptyNames.size() + arrayInvalidFileName.size() + arrayDuplicateNames.size() +
               arrayReplacesSource.size() + arrayFileNotFound.size() + arrayTooLarge.size() + arrayUnreadable.size());
}

int PreviewClassification::warningCount() const {
    return int(arrayFileAlreadyExists.size() + arrayReplacesExisting.size());
}

void PreviewClassification::index() {
    empty_ = QSet<QString>(arrayEmptyNames.begin(), arrayEmptyNames.end());
    invalid_ = QSet<QString>(arrayInvalidFileName.begin(), arrayInvalidFileName.end());
    duplicate_ = QSet<QString>(arrayDuplicateNames.begin(), arrayDuplicateNames.end());
    replaces_ = QSet<QString>(arrayReplacesSource.begin(), arrayReplacesSource.end());
    notFound_ = QSet<QString>(arrayFileNotFound.begin(), arrayFileNotFound.end());
    tooLarge_ = QSet<QString>(arrayTooLarge.begin(), arrayTooLarge.end());
    unreadable_ = QSet<QString>(arrayUnreadable.begin(), arrayUnreadable.end());
    exists_ = QSet<QString>(arrayFileAlreadyExists.begin(), arrayFileAlreadyExists.end());
    replacesExisting_ = QSet<QString>(arrayReplacesExisting.begin(), arrayReplacesExisting.end());
    replacesOwn_ = QSet<QString>(arrayReplacesOwnSource.begin(), arrayReplacesOwnSource.end());
}

bool PreviewClassification::replacesOwnSource(const OutputPhotoPath& record) const {
    return replacesOwn_.contains(record.filePath);
}

PreviewMark PreviewClassification::markFor(const OutputPhotoPath& record) const {
    PreviewMark mark = PreviewMark::Ready;
    if (empty_.contains(record.filePath)) mark = PreviewMark::BlankName;
    if (invalid_.contains(record.filePath)) mark = PreviewMark::InvalidName;
    if (duplicate_.contains(record.filePath)) mark = PreviewMark::DuplicateName;
    if (replaces_.contains(record.filePath)) mark = PreviewMark::ReplacesSource;
    if (notFound_.contains(record.oldFilePath)) mark = PreviewMark::SourceMissing;
    if (tooLarge_.contains(record.oldFilePath)) mark = PreviewMark::TooLarge;
    if (unreadable_.contains(record.oldFilePath)) mark = PreviewMark::SourceUnreadable;
    if (exists_.contains(record.filePath)) mark = PreviewMark::AlreadyExists;
    if (replacesExisting_.contains(record.filePath)) mark = PreviewMark::ReplacesExisting;
    return mark;
}

PreviewMark PreviewClassification::photoMarkFor(const OutputPhotoPath& record) const {
    if (knownTooLarge_.contains(record.oldFilePath)) return PreviewMark::TooLarge;
    if (knownUnreadable_.contains(record.oldFilePath)) return PreviewMark::SourceUnreadable;
    return PreviewMark::Ready;
}

PreviewClassifier::Options PreviewClassifier::Options::of(const OutputOptionSettings* output,
                                                          const QList<std::shared_ptr<PhotoFile>>& photos,
                                                          const QList<std::shared_ptr<AppliedFilter>>& steps) {
    Options options;
    options.overwrite = output && output->owerwriteExistingFiles.value_or(false);
    options.useSourceFolder = output && output->useSourceFolder.value_or(false);
    for (const auto& photo : photos) {
        if (!photo) continue;
        if (photo->unreadableAsItIs()) options.unreadableSources.insert(photo->filePath);
        if (openlimit::refusedAsTooLarge(*photo, steps)) options.tooLargeSources.insert(photo->filePath);
    }
    return options;
}

PreviewClassifier::Options PreviewClassifier::Options::ofBatch(const OutputOptionSettings* output) {
    const AppDelegate& app = AppDelegate::shared();
    return of(output, app.arraySelectedImagesToProcess, app.arrayAppliedFilters);
}

PreviewClassification PreviewClassifier::calculateErrorFiles(const QList<std::shared_ptr<OutputPhotoPath>>& planned,
                                                             const Options& options) {
    const auto exists = options.fileExists ? options.fileExists
                                           : std::function<bool(const QString&)>(platform::fileExists);
    PreviewClassification c;
    SourceIndex sources(planned);
    // Every photo of a shared planned path fails in the run, the first one too.
    QSet<QString> shared;
    for (const auto& record : planned)
        if (record && record->occurenceCount >= 2) shared.insert(record->filePath);
    for (qsizetype i = 0; i < planned.size(); ++i) {
        const auto& record = planned.at(i);
        if (!record) continue;
        QStringList* bucket = nullptr;
        QString entry = record->filePath;
        bool warning = false;
        if (record->fileExtension.isEmpty()) {
            bucket = &c.arrayEmptyNames;
        } else if (record->fileName.toLower().contains(u"http:") ||
                   record->fileName.toUtf8().size() > kMaxFileNameBytes) {
            bucket = &c.arrayInvalidFileName;
        } else if (shared.contains(record->filePath)) {
            bucket = &c.arrayDuplicateNames;
        } else {
            // Writing here would destroy a photo of the batch: another photo's source in
            // any mode, its own unless it is being converted in its own folder.
            const QList<int> owners = sources.photosAt(record->filePath, record->fileAlreadyExistAtPath);
            bool replaces = false;
            for (int j : owners) replaces = replaces || j != int(i) || !options.useSourceFolder;
            if (replaces) {
                bucket = &c.arrayReplacesSource;
            } else if (!(options.sourceExists ? options.sourceExists(i) : exists(record->oldFilePath))) {
                bucket = &c.arrayFileNotFound;
                entry = record->oldFilePath;
            } else if (options.tooLargeSources.contains(record->oldFilePath)) {
                bucket = &c.arrayTooLarge;
                entry = record->oldFilePath;
            } else if (options.unreadableSources.contains(record->oldFilePath)) {
                bucket = &c.arrayUnreadable;
                entry = record->oldFilePath;
            } else if (!options.overwrite && record->fileAlreadyExistAtPath) {
                bucket = &c.arrayFileAlreadyExists;
                warning = true;
            } else if (!owners.isEmpty()) {
                c.arrayReplacesOwnSource.append(record->filePath);
            } else if (record->fileAlreadyExistAtPath) {
                bucket = &c.arrayReplacesExisting;
                warning = true;
            }
        }
        if (!bucket) continue;
        bucket->append(entry);
        (warning ? c.arrayAllWarnings : c.arrayAllErrors).append(record);
    }
    c.knownTooLarge_ = options.tooLargeSources;
    c.knownUnreadable_ = options.unreadableSources;
    c.index();
    return c;
}

QString PreviewClassifier::toolTipFor(PreviewMark mark) {
    switch (mark) {
    case PreviewMark::Ready: return QStringLiteral("File is ready to process.");
    case PreviewMark::BlankName: return QStringLiteral("Filename is blank.");
    case PreviewMark::InvalidName: return QStringLiteral("Invalid filename.");
    case PreviewMark::DuplicateName: return QStringLiteral("Duplicate filename.");
    case PreviewMark::ReplacesSource: return QStringLiteral("The output would replace a photo of the batch.");
    case PreviewMark::SourceMissing: return QStringLiteral("File not available in source folder.");
    case PreviewMark::TooLarge: return QStringLiteral("The photo is larger than this program will open.");
    case PreviewMark::SourceUnreadable:
        return QStringLiteral("File cannot be read: it is damaged or in a format Brisko Photos cannot open.");
    case PreviewMark::AlreadyExists: return QStringLiteral("File already exists in destination folder.");
    case PreviewMark::ReplacesExisting:
        return QStringLiteral("File already exists in destination folder: the new file replaces it, and the existing "
                              "file goes to the Trash first.");
    }
    return {};
}

QString PreviewClassifier::toolTipFor(const PreviewClassification& c, const OutputPhotoPath& record) {
    const PreviewMark mark = c.markFor(record);
    QString tip = toolTipFor(mark);
    const PreviewMark photo = c.photoMarkFor(record);
    if (photo != PreviewMark::Ready && photo != mark) tip += u'\n' + toolTipFor(photo);
    if (c.replacesOwnSource(record)) tip += u'\n' + replacesOwnSourceNote();
    return tip;
}

QString PreviewClassifier::replacesOwnSourceNote() {
    return QStringLiteral("The new file replaces its original, which goes to the Trash first.");
}

QString PreviewClassifier::imageNameFor(PreviewMark mark) {
    switch (mark) {
    case PreviewMark::Ready: return QStringLiteral("all_correct.png");
    case PreviewMark::AlreadyExists:
    case PreviewMark::ReplacesExisting: return QStringLiteral("already_exists.png");
    default: return QStringLiteral("duplicate.png");
    }
}
