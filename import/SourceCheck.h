#pragma once
// Which photos of the batch are still in their folders. A photo counts as there when its
// file exists and it was read with a size; the others were deleted, moved or renamed since
// they were added (or never read), and the screen either marks them or lets them go.
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

struct PhotoFile;

namespace intake {

struct SourceCheck {
    // With removal, the photos still there in batch order; without, the whole batch.
    QList<std::shared_ptr<PhotoFile>> kept;
    QStringList presentPaths;
    // The photos gone: their paths, and their indexes in the batch as it was checked.
    QStringList missingPaths;
    QList<int> missingIndexes;
    // Nothing of a batch that had photos is there any more.
    bool allGone() const { return presentPaths.isEmpty() && !missingPaths.isEmpty(); }
};

using FileExists = std::function<bool(const QString& path)>;
// `exists` asks the file system by default (by the bytes of the names). The photo at
// `unreadable`, when given, counts as gone whether its file is there or not: it was found
// not to read.
SourceCheck checkSources(const QList<std::shared_ptr<PhotoFile>>& batch, bool remove, const FileExists& exists = {},
                         const QString& unreadable = {});

}  // namespace intake
