#pragma once
// One planned output file of the rename-and-convert preview, used to find name collisions
// and files that already exist.
#include <QList>
#include <QString>
#include <memory>

struct OutputPhotoPath {
    bool fileAlreadyExistAtPath = false;  // something existed at filePath, the path that is written
    int occurenceCount = 0;  // 0 for the first record of a path, then 2, 3, ...
    QString filePath;       // planned path with its extension lower-cased
    QString oldFilePath;    // the source photo
    QString fileExtension;  // lower-case extension of the planned path
    QString fileName;       // last component of the planned path as given

    static std::shared_ptr<OutputPhotoPath> initWithFileUrl(const QString& plannedPath,
                                                            const QString& oldPath);

    // Numbers repeated paths in planning order: the first record of a filePath keeps 0,
    // each later one gets the previous count plus one, counting the first as 1 (so 2, 3...).
    static void countOccurrences(const QList<std::shared_ptr<OutputPhotoPath>>& planned);
};
