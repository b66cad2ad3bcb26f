#include "batch/PreviewClassifier.h"

#include "platform/foundation/FileAttributes.h"
#include "records/OutputPhotoPath.h"

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
               arrayReplacesSource.size() + arrayFileNotFound.size() + arrayUnreadable.size());
}

int PreviewClassification::warningCount() const { return int(arrayFileAlreadyExists.size()); }

void PreviewClassification::index() {
    empty_ = QSet<QString>(arrayEmptyNames.begin(), arrayEmptyNames.end());
    invalid_ = QSet<QString>(arrayInvalidFileName.begin(), arrayInvalidFileName.end());
    duplicate_ = QSet<QString>(arrayDuplicateNames.begin(), arrayDuplicateNames.end());
    replaces_ = QSet<QString>(arrayReplacesSource.begin(), arrayReplacesSource.end());
    notFound_ = QSet<QString>(arrayFileNotFound.begin(), arrayFileNotFound.end());
    unreadable_ = QSet<QString>(arrayUnreadable.begin(), arrayUnreadable.end());
    exists_ = QSet<QString>(arrayFileAlreadyExists.begin(), arrayFileAlreadyExists.end());
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
    if (unreadable_.contains(record.oldFilePath)) mark = PreviewMark::SourceUnreadable;
    if (exists_.contains(record.filePath)) mark = PreviewMark::AlreadyExists;
    return mark;
}

PreviewClassification PreviewClassifier::calculateErrorFiles(const QList<std::shared_ptr<OutputPhotoPath>>& planned,
                                                             const Options& options) {
    const auto exists = options.fileExists ? options.fileExists
                                           : std::function<bool(const QString&)>(platform::fileExists);
    PreviewClassification c;
    SourceIndex sources(planned);
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
        } else if (record->occurenceCount >= 2) {
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
            } else if (options.unreadableSources.contains(record->oldFilePath)) {
                bucket = &c.arrayUnreadable;
                entry = record->oldFilePath;
            } else if (!options.overwrite && record->fileAlreadyExistAtPath) {
                bucket = &c.arrayFileAlreadyExists;
                warning = true;
            } else if (!owners.isEmpty()) {
                c.arrayReplacesOwnSource.append(record->filePath);
            }
        }
        if (!bucket) continue;
        bucket->append(entry);
        (warning ? c.arrayAllWarnings : c.arrayAllErrors).append(record);
    }
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
    case PreviewMark::SourceUnreadable:
        return QStringLiteral("File cannot be read: it is damaged or in a format Brisko Photos cannot open.");
    case PreviewMark::AlreadyExists: return QStringLiteral("File already exists in destination folder.");
    }
    return {};
}

QString PreviewClassifier::replacesOwnSourceNote() {
    return QStringLiteral("The new file replaces its original, which goes to the Trash first.");
}

QString PreviewClassifier::imageNameFor(PreviewMark mark) {
    switch (mark) {
    case PreviewMark::Ready: return QStringLiteral("all_correct.png");
    case PreviewMark::AlreadyExists: return QStringLiteral("already_exists.png");
    default: return QStringLiteral("duplicate.png");
    }
}
