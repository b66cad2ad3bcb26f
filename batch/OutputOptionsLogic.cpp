#include "batch/OutputOptionsLogic.h"

#include "platform/foundation/Log.h"
#include "platform/workspace/TrashLocations.h"
#include "records/AppDelegate.h"
#include "records/OutputOptionSettings.h"

#include <QDir>
#include <QFileInfo>

namespace outputoptions {

std::shared_ptr<OutputOptionSettings> readDefaultOutputOptionSetting() {
    AppDelegate& app = AppDelegate::shared();
    if (app.selectedOuputSettingObj) {
        settleDestination(*app.selectedOuputSettingObj);
        return app.selectedOuputSettingObj;
    }
    auto settings = OutputOptionSettings::makeDefault();
    const QString folder = settings->outputFolderPath;
    if (!QFileInfo(folder).isDir()) {
        if (QDir().mkpath(folder)) {
            platform::log(u"directory created successfully %@", folder);
        } else {
            platform::log(u"Error in create Directory = %@", folder);
        }
    }
    return settings;
}

int destinationTagOf(const OutputOptionSettings& s) {
    if (s.useSourceFolder.value_or(false)) return UseSourceFolder;
    if (s.moveAndRenameToDestinationFolder.value_or(false)) return MoveToFolder;
    return CopyToFolder;
}

void chooseDestination(OutputOptionSettings& s, int tag) {
    s.moveAndRenameToDestinationFolder = false;
    s.copyyToDestinationFolder = false;
    s.useSourceFolder = false;
    switch (tag) {
    case MoveToFolder: s.moveAndRenameToDestinationFolder = true; break;
    case CopyToFolder: s.copyyToDestinationFolder = true; break;
    case UseSourceFolder:
        s.useSourceFolder = true;
        s.openOutputFolderAfterProcessing = false;
        break;
    default: break;
    }
}

void settleDestination(OutputOptionSettings& s) {
    if (s.useSourceFolder.value_or(false)) {
        s.moveAndRenameToDestinationFolder = false;
        s.copyyToDestinationFolder = false;
    } else if (s.moveAndRenameToDestinationFolder.value_or(false)) {
        s.copyyToDestinationFolder = false;
    } else {
        s.copyyToDestinationFolder = true;
    }
}

void applyLibraryGuard(OutputOptionSettings& s) {
    s.moveAndRenameToDestinationFolder = false;
    settleDestination(s);
}

bool acceptChosenFolder(OutputOptionSettings& s, const QString& path) {
    if (path.isEmpty() || platform::isInsideTrash(path)) return false;
    s.outputFolderPath = path;
    return true;
}

}  // namespace outputoptions
