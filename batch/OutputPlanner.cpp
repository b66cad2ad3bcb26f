#include "batch/OutputPlanner.h"

#include "batch/RenameScheme.h"
#include "records/AppDelegate.h"
#include "records/BatchRenameSetting.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"

QList<std::shared_ptr<OutputPhotoPath>> OutputPlanner::planOutputPaths(const QList<std::shared_ptr<PhotoFile>>& photos,
                                                                       const RenameScheme& scheme) {
    QList<std::shared_ptr<OutputPhotoPath>> planned;
    planned.reserve(photos.size());
    for (qsizetype i = 0; i < photos.size(); ++i) {
        const PhotoFile& photo = *photos.at(i);
        planned.append(OutputPhotoPath::initWithFileUrl(scheme.plannedPathForPhotoFile(photo, int(i)), photo.filePath));
    }
    OutputPhotoPath::countOccurrences(planned);
    return planned;
}

std::shared_ptr<BatchRenameSetting> OutputPlanner::renameSettingsInUse() {
    AppDelegate& app = AppDelegate::shared();
    return app.selectedRenameSettingObj ? app.selectedRenameSettingObj : BatchRenameSetting::defaultSettings();
}

QList<std::shared_ptr<OutputPhotoPath>> OutputPlanner::planForAppDelegate() {
    AppDelegate& app = AppDelegate::shared();
    const auto output = app.selectedOuputSettingObj ? app.selectedOuputSettingObj : OutputOptionSettings::makeDefault();
    const QStringList formats =
        app.arrFileFormatsSupported.isEmpty() ? AppDelegate::defaultFileFormats() : app.arrFileFormatsSupported;
    return planOutputPaths(app.arraySelectedImagesToProcess, RenameScheme(renameSettingsInUse(), output, formats));
}
