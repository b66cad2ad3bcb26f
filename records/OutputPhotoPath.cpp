#include "records/OutputPhotoPath.h"

#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Paths.h"

#include <QHash>

std::shared_ptr<OutputPhotoPath> OutputPhotoPath::initWithFileUrl(const QString& plannedPath,
                                                                  const QString& oldPath) {
    auto out = std::make_shared<OutputPhotoPath>();
    const QString ext = platform::pathExtension(plannedPath).toLower();
    // A planned path without extension ends in a lone "."; the collision count compares
    // these texts, so the form is kept.
    out->filePath = platform::stringByDeletingPathExtension(plannedPath) + u'.' + ext;
    out->oldFilePath = oldPath;
    out->fileExtension = ext;
    out->fileName = platform::lastPathComponent(plannedPath);
    // Asked of the path that will be written: on a case-sensitive volume "IMG_1.JPG" as
    // given says nothing about the "IMG_1.jpg" the run writes.
    out->fileAlreadyExistAtPath = platform::fileExists(out->filePath);
    out->occurenceCount = 0;
    return out;
}

void OutputPhotoPath::countOccurrences(const QList<std::shared_ptr<OutputPhotoPath>>& planned) {
    QHash<QString, int> seen;
    for (const auto& record : planned) {
        if (!record) continue;
        auto it = seen.find(record->filePath);
        if (it == seen.end()) {
            seen.insert(record->filePath, 1);
            record->occurenceCount = 0;
        } else {
            *it += 1;
            record->occurenceCount = *it;
        }
    }
}
