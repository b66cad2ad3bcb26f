#pragma once
// The application-wide state of the current batch: one object per process. Every screen
// reads and writes the batch here; the engine reads the few values it needs at the moment
// it needs them and keeps no copy.
//
// Threads: the lists and plain values are touched on the main thread only. A run takes a
// RunSnapshot on the main thread before it starts (QList copies share their items, so the
// copy is cheap and the worker never sees the main thread's list change under it). Flags
// that a worker reads or writes are std::atomic.
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <mutex>

struct PhotoFile;
struct AppliedFilter;
struct OutputPhotoPath;
struct MetaDataObject;
struct OutputOptionSettings;
struct BatchRenameSetting;

class AppDelegate {
public:
    static AppDelegate& shared();

    // ---- the batch ----
    QList<std::shared_ptr<PhotoFile>> arraySelectedImagesToProcess;
    QList<std::shared_ptr<AppliedFilter>> arrayAppliedFilters;
    // Planned output of every photo, in batch order.
    QList<std::shared_ptr<OutputPhotoPath>> arrayDestinationPaths;
    std::shared_ptr<PhotoFile> selectedImageFile;
    int selectedImageIndex = -1;

    // ---- settings of the run ----
    // Both metadata records are made by the start-up sequence before any screen opens.
    std::shared_ptr<MetaDataObject> selectedMetatDataSettingObj;
    std::shared_ptr<MetaDataObject> selectedMetatDataSettingObjOnlyUpdatedFields;
    std::shared_ptr<OutputOptionSettings> selectedOuputSettingObj;
    std::shared_ptr<BatchRenameSetting> selectedRenameSettingObj;
    // The output format number of the rename settings indexes this list.
    QStringList arrFileFormatsSupported;

    // ---- effects screen ----
    QString currentFilterName;
    int selectedCropRatio = 0;
    int selectedCropOrientation = 0;
    QSizeF ADJUST_FILTER_IMG_CONTAINER_SIZE{580.0, 440.0};
    // Reference width in which border widths and corner radii are stored; never changes.
    QSizeF scaledImgSize{580.0, 440.0};

    // ---- process-wide values set at launch ----
    // Localised string table (key -> text); written once at launch, read from any thread.
    // A look-up that finds it empty loads it under dictLanguageMutex; a table file that
    // could not be read is remembered in dictLanguageUnreadablePath and not read again.
    QVariantMap dictLanguage;
    std::mutex dictLanguageMutex;
    QString dictLanguageUnreadablePath;
    QString strAlbumName;
    std::atomic<bool> isPHOTOS_APP_INSTALLED{false};
    std::atomic<bool> isOSX_7_AndAbove{false};
    std::atomic<bool> isOSX_8_AndAbove{false};
    std::atomic<bool> isOSX_9_AndAbove{false};
    std::atomic<bool> isOSX_10_AndAbove{false};
    std::atomic<bool> isOSX_15_AndAbove{false};
    std::atomic<bool> isOSX_16_AndAbove{false};

    // ---- flags ----
    // YES while a run may go on; clearing it on the main thread stops the run's worker.
    std::atomic<bool> isPHOTOS_PROCESSING_IN_PROGERESS{false};
    std::atomic<bool> isSUBWINDOW_OPENED{false};
    std::atomic<bool> isAUTO_CORRECT_ORIENTATION{true};
    std::atomic<bool> isSELECTED_IMAGE_CHANGED{false};
    std::atomic<bool> isSTART_AS_NEW_BATCH{false};
    std::atomic<bool> isPHOTO_DLETED_FROM_DIRECTORY{false};
    std::atomic<bool> isPROCESS_SKIPPED_FILES{false};
    std::atomic<bool> isPROCESSING_WITH_FILES_SYSTEM{false};
    std::atomic<bool> isRENAME_SETTINGS_CHANGED{false};
    std::atomic<bool> isMetadataInfoChanged{false};

    // What a run works on, copied on the main thread when the run starts.
    struct RunSnapshot {
        QList<std::shared_ptr<PhotoFile>> photos;
        QList<std::shared_ptr<AppliedFilter>> appliedFilters;
        QList<std::shared_ptr<OutputPhotoPath>> destinationPaths;
        std::shared_ptr<MetaDataObject> metaDataSetting;
        std::shared_ptr<MetaDataObject> metaDataSettingOnlyUpdatedFields;
        std::shared_ptr<OutputOptionSettings> outputSetting;
        std::shared_ptr<BatchRenameSetting> renameSetting;
        bool autoCorrectOrientation = true;
    };
    RunSnapshot takeRunSnapshot() const;

    // Clears every version flag and sets exactly one for the system version
    // major.minor: 10.7, 10.8, 10.9 and 10.15 their own, 10.16, 11 and 12 the "16" flag,
    // every other version the "10" flag. Returns the "%d.%d" text that start-up logs.
    QString setSystemVersionFlags(int major, int minor);

    // The nine output formats in the order the output format number counts them.
    static QStringList defaultFileFormats();

    // Back to the values the process starts with (the batch emptied, settings cleared,
    // flags down, sizes 580 x 440). The string table and the version flags are kept:
    // they describe the process, not the batch.
    void resetToLaunchValues();

private:
    AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;
};
