#include "records/AppDelegate.h"

#include "platform/foundation/Format.h"

AppDelegate& AppDelegate::shared() {
    static AppDelegate instance;
    return instance;
}

AppDelegate::AppDelegate() : arrFileFormatsSupported(defaultFileFormats()) {}

QStringList AppDelegate::defaultFileFormats() {
    return {QStringLiteral("Keep original format"), QStringLiteral("tif"), QStringLiteral("bmp"),
            QStringLiteral("gif"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
            QStringLiteral("png"), QStringLiteral("jp2"), QStringLiteral("pdf")};
}

AppDelegate::RunSnapshot AppDelegate::takeRunSnapshot() const {
    RunSnapshot s;
    s.photos = arraySelectedImagesToProcess;
    s.appliedFilters = arrayAppliedFilters;
    s.destinationPaths = arrayDestinationPaths;
    s.metaDataSetting = selectedMetatDataSettingObj;
    s.metaDataSettingOnlyUpdatedFields = selectedMetatDataSettingObjOnlyUpdatedFields;
    s.outputSetting = selectedOuputSettingObj;
    s.renameSetting = selectedRenameSettingObj;
    s.autoCorrectOrientation = isAUTO_CORRECT_ORIENTATION.load();
    return s;
}

void AppDelegate::resetToLaunchValues() {
    arraySelectedImagesToProcess.clear();
    arrayAppliedFilters.clear();
    arrayDestinationPaths.clear();
    selectedImageFile.reset();
    selectedImageIndex = -1;
    selectedMetatDataSettingObj.reset();
    selectedMetatDataSettingObjOnlyUpdatedFields.reset();
    selectedOuputSettingObj.reset();
    selectedRenameSettingObj.reset();
    arrFileFormatsSupported = defaultFileFormats();
    currentFilterName.clear();
    selectedCropRatio = 0;
    selectedCropOrientation = 0;
    ADJUST_FILTER_IMG_CONTAINER_SIZE = QSizeF(580.0, 440.0);
    scaledImgSize = QSizeF(580.0, 440.0);
    isPHOTOS_PROCESSING_IN_PROGERESS = false;
    isSUBWINDOW_OPENED = false;
    isAUTO_CORRECT_ORIENTATION = true;
    isSELECTED_IMAGE_CHANGED = false;
    isSTART_AS_NEW_BATCH = false;
    isPHOTO_DLETED_FROM_DIRECTORY = false;
    isPROCESS_SKIPPED_FILES = false;
    isPROCESSING_WITH_FILES_SYSTEM = false;
    isRENAME_SETTINGS_CHANGED = false;
    isMetadataInfoChanged = false;
}

QString AppDelegate::setSystemVersionFlags(int major, int minor) {
    for (std::atomic<bool>* f : {&isOSX_7_AndAbove, &isOSX_8_AndAbove, &isOSX_9_AndAbove,
                                 &isOSX_10_AndAbove, &isOSX_15_AndAbove, &isOSX_16_AndAbove})
        *f = false;
    const QString version = platform::format(u"%d.%d", major, minor);
    if (version == u"10.7")
        isOSX_7_AndAbove = true;
    else if (version == u"10.8")
        isOSX_8_AndAbove = true;
    else if (version == u"10.9")
        isOSX_9_AndAbove = true;
    else if (version == u"10.15")
        isOSX_15_AndAbove = true;
    else if (version == u"10.16" || major == 11 || major == 12)
        isOSX_16_AndAbove = true;
    else
        isOSX_10_AndAbove = true;
    return version;
}
