#pragma once
// Writes one finished photo of a run to its planned destination: an image file of the
// chosen type (orientation, metadata, quality, the PNG optimiser when compression is on)
// or a page appended to a PDF document; then the file's dates, and the source moved to
// the Trash in move mode.
//
// Nothing the user has is touched before its replacement is complete: the output is
// written under a temporary name in the destination folder, read back, given its dates,
// and only then renamed into place (never over an existing file while overwriting is
// off); the source goes to the Trash only after that.
#include <QImage>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

struct PhotoFile;
struct BatchRenameSetting;
struct OutputOptionSettings;
struct MetaDataObject;

// The settings one run writes with; taken once when the run starts.
struct ResultWriterSettings {
    std::shared_ptr<const BatchRenameSetting> renameSetting;
    std::shared_ptr<const OutputOptionSettings> outputSetting;
    std::shared_ptr<const MetaDataObject> metaDataSetting;
    std::shared_ptr<const MetaDataObject> metaDataSettingOnlyUpdatedFields;
    bool autoCorrectOrientation = true;
    // A run that gives each photo back its own metadata and dates.
    bool isProcessForRestoreExif = false;
};

class ResultWriter {
public:
    struct Result {
        int processStatus = 0;  // PhotoFile::ProcessStatus
        QString processInfoMessage;
        // A stop asked for during compression: nothing was written and nothing is to be
        // reported for the photo.
        bool abandoned = false;
    };

    explicit ResultWriter(ResultWriterSettings settings);

    // While the PNG optimiser works on the photo in hand (read by the main thread).
    bool isCompressionInProgress() const { return compressionState_ != 0; }
    // A stop was asked for during compression and waits for the optimiser.
    bool isStopRequestWhileCompression() const { return compressionState_ == 2; }
    // Main thread: asks for a stop once the running optimiser is done. False (and nothing
    // asked) when no optimiser runs, so the stop is the caller's to make at once.
    bool requestStopWhileCompression() {
        int running = 1;
        return compressionState_.compare_exchange_strong(running, 2);
    }
    // Called on the writer's thread once such a stop has been acted on.
    std::function<void()> stopProcessAfterCompletionCompression;

    // Moves a file to the Trash; QFile::moveToTrash by default.
    std::function<bool(const QString& path)> moveToTrash;
    // Flushes a placed output and its folder to the disk before its source goes to the
    // Trash; platform::syncFileAndFolder by default.
    std::function<bool(const QString& path)> syncToDisk;
    // Runs on the finished temporary file just before it is checked and placed; lets
    // tests stand in for a disk that fails under the writer.
    std::function<void(const QString& temporaryPath)> beforePlacing;

    // The entry point: writes the image to `destination` (save type number 0..6 chooses
    // the encoder; the extension "pdf" makes a PDF page) and says how it went.
    Result saveImgInDirectoryFilteredImg(const QImage& image, const QString& destination, int repType,
                                         const std::shared_ptr<PhotoFile>& photo);

    // The quality factor an image file of this run is written with (compression off).
    float qualityFactorForOutput() const;
    // Whether the PNG optimiser handles an output of this save type number.
    bool usesOptimiser(int repType) const;

private:
    enum class Written { Ok, Failed, Abandoned };
    // storedSize: the pixel size the file holds (turned pictures hold it transposed).
    Written saveImageUsingDefaultMethod(const QImage& image, const QString& temporaryPath, int repType,
                                        const PhotoFile& photo, QSize* storedSize);
    Written saveImageUsingPdfPage(const QImage& image, const QString& destination, const QString& temporaryPath);

    ResultWriterSettings s_;
    // 0 no optimiser runs, 1 it runs, 2 it runs and a stop waits for it. One value, so a
    // stop asked for as the optimiser ends is either seen by the writer or refused here.
    std::atomic<int> compressionState_{0};
};
