#include "import/SourceCheck.h"

#include "platform/foundation/FileAttributes.h"
#include "records/PhotoFile.h"

namespace intake {

SourceCheck checkSources(const QList<std::shared_ptr<PhotoFile>>& batch, bool remove, const FileExists& exists,
                         const QString& unreadable) {
    SourceCheck check;
    for (int i = 0; i < batch.size(); ++i) {
        const auto& photo = batch[i];
        if (!photo) continue;
        const bool there = (exists ? exists(photo->filePath) : platform::fileExists(photo->filePath)) &&
                           photo->width > 0 && photo->height > 0 && (unreadable.isEmpty() || photo->filePath != unreadable);
        if (there) {
            check.presentPaths << photo->filePath;
        } else {
            check.missingPaths << photo->filePath;
            check.missingIndexes << i;
        }
        if (there || !remove) check.kept << photo;
    }
    return check;
}

}  // namespace intake
