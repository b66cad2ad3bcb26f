#include "batch/PlanSnapshot.h"

#include "records/AppDelegate.h"
#include "records/BatchRenameSetting.h"
#include "records/OutputOptionSettings.h"

PlanSnapshot PlanSnapshot::take(const QList<std::shared_ptr<PhotoFile>>& photos, const BatchRenameSetting* rename,
                                const OutputOptionSettings* output, const QStringList& fileFormats,
                                const QList<std::shared_ptr<AppliedFilter>>& steps) {
    PlanSnapshot s;
    s.classifierOptions = PreviewClassifier::Options::of(output, photos, steps);
    if (rename) s.renameSetting = std::make_shared<const BatchRenameSetting>(*rename);
    if (output) s.outputSetting = std::make_shared<const OutputOptionSettings>(*output);
    s.fileFormats = fileFormats.isEmpty() ? AppDelegate::defaultFileFormats() : fileFormats;
    s.now = QDateTime::currentDateTime();
    s.photos.reserve(photos.size());
    for (const auto& photo : photos) {
        PhotoFile facts;
        if (photo) {
            facts.filePath = photo->filePath;
            facts.fileName = photo->fileName;
            facts.fileExtension = photo->fileExtension;
            facts.fileCreationDate = photo->fileCreationDate;
            facts.fileModifiedDate = photo->fileModifiedDate;
            facts.isIphotosNode = photo->isIphotosNode;
        }
        s.photos.append(std::move(facts));
    }
    return s;
}

bool PlanSnapshot::hasLibraryPhoto() const {
    for (const PhotoFile& photo : photos) {
        if (photo.isIphotosNode) return true;
    }
    return false;
}
