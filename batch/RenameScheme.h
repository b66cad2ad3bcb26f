#pragma once
// Turns the rename-and-convert settings into one planned output per photo: the new file
// name (the rename rules in their fixed order, then the output extension) and the output
// folder. Only reads the settings and the photo records, so it may run on any thread; one
// scheme is used by one thread at a time (it keeps its date formatter).
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "platform/foundation/Dates.h"
#include "platform/imageio/ImageIO.h"

struct PhotoFile;
struct BatchRenameSetting;
struct OutputOptionSettings;

class RenameScheme {
public:
    // Keys of the rule dictionaries.
    static constexpr const char* kState = "State";
    static constexpr const char* kNewName = "New Name";
    static constexpr const char* kAs = "As";
    static constexpr const char* kType = "Type";
    static constexpr const char* kFormat = "Format";
    static constexpr const char* kCustom = "Custom";
    static constexpr const char* kPrefix = "Prefix";
    static constexpr const char* kSuffix = "Suffix";
    static constexpr const char* kInsert = "Insert";
    static constexpr const char* kAtPosition = "At Position";
    static constexpr const char* kStartingIndex = "Starting Index";
    static constexpr const char* kIncrement = "Increment";
    static constexpr const char* kFirstN = "First n";
    static constexpr const char* kLastN = "Last n";
    static constexpr const char* kFrom = "From";
    static constexpr const char* kTo = "To";
    static constexpr const char* kChars = "Chars";
    static constexpr const char* kWords = "Words";
    static constexpr const char* kCaseMode = "Case Mode";
    // Folder on the Desktop for photo-library photos that are saved beside their source.
    static constexpr const char* kLibraryOutputFolderName = "iPhoto_BriskoPhotosOutput";

    // Null settings read as "nothing set": names kept, original format, destination "".
    RenameScheme(std::shared_ptr<const BatchRenameSetting> renameSettings,
                 std::shared_ptr<const OutputOptionSettings> outputSettings,
                 QStringList fileFormats);

    // What "now" is for the current-date stamp; the clock by default.
    void setCurrentDate(const QDateTime& now) { now_ = now; }
    // The Desktop folder of the user; the standard location by default.
    void setDesktopFolder(const QString& folder) { desktop_ = folder; }
    // Capture date of a photo file (invalid when it has none); the file's metadata by default.
    void setCaptureDateReader(std::function<QDateTime(const QString&)> reader) { captureDate_ = std::move(reader); }
    // Turns a date into stamp text with a pattern; a formatter of the scheme's own by default.
    void setDateFormatter(std::function<QString(const QDateTime&, const QString& pattern)> formatter) {
        dateFormatter_ = std::move(formatter);
    }

    // New file name with its extension ("%@.%@"); index is the photo's place in the batch.
    QString getUpdatedRenameStringForPhotoFile(const PhotoFile& photo, int index) const;
    // The folder the photo's output goes to.
    QString getUpdatedOutputPathStringForPhotoFile(const PhotoFile& photo) const;
    // Folder and name joined with "/".
    QString plannedPathForPhotoFile(const PhotoFile& photo, int index) const;

    // The output extension in its planned spelling: the format list's entry, or for "keep
    // original format" the photo's own extension ("tiff" read as "tif") when the list
    // has it, else "png".
    static QString outputExtension(const PhotoFile& photo, int outputFormat, const QStringList& fileFormats);

    // The extension the run writes for a photo (lower case, "tiff" read as "tif") and the
    // type of file written under it: the one conversion from an output format number (and,
    // for "Keep original format", the photo's own extension) to a save type. An extension
    // without an encoder of its own ("pdf", a raw or HEIC photo's) is given PNG; the writer
    // sends "pdf" its own way, by the extension.
    struct SaveChoice {
        QString extension;
        platform::ImageType saveType = platform::ImageType::PNG;
    };
    static SaveChoice saveChoice(const PhotoFile& photo, int outputFormat, const QStringList& fileFormats);

    // The date pattern of a stamp format 0..8; "" for any other number.
    static QString datePatternForFormat(int format);

private:
    QString dateStamp(const PhotoFile& photo) const;

    std::shared_ptr<const BatchRenameSetting> rename_;
    std::shared_ptr<const OutputOptionSettings> output_;
    QStringList formats_;
    QDateTime now_;
    QString desktop_;
    std::function<QDateTime(const QString&)> captureDate_;
    std::function<QString(const QDateTime&, const QString&)> dateFormatter_;
    // Made on first use for the stamp's pattern and kept: re-planning formats a date per photo.
    mutable std::unique_ptr<platform::DateFormatter> stampFormatter_;
};
