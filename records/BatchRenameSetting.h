#pragma once
// Renaming and format conversion of a run: the renaming mode, the output format number,
// quality and compression with their switches, and one rule dictionary per rename
// operation (each with a boxed boolean "State" that switches it on). Numbers and
// switches are boxed: an absent value (std::nullopt) differs from false or 0.
#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace platform {
class KeyedEncoder;
class KeyedDecoder;
}  // namespace platform

// The output format numbers: places in the output format list.
namespace outputformat {

enum : int { KeepOriginal = 0, Tif = 1, Bmp = 2, Gif = 3, Jpg = 4, Jpeg = 5, Png = 6, Jp2 = 7, Pdf = 8 };

// Formats that give up detail for size: written with the quality factor, and the quality
// slider is what the format panel offers for them.
constexpr bool isLossy(int format) { return format == Jpg || format == Jpeg || format == Jp2; }
// Formats offered compression: their PNG outputs may pass through the optimiser. Keeping
// the original format offers neither quality nor compression (its JPEGs still take the
// quality factor).
constexpr bool mayOptimise(int format) { return format != KeepOriginal && !isLossy(format); }

}  // namespace outputformat

struct BatchRenameSetting {
    static constexpr const char* kArchiveClassName = "BatchRenameSetting";

    // Keys of the defaults dictionary (the resource "RenameSettings.plist").
    static constexpr const char* kSetCompression = "Set Compression";
    static constexpr const char* kSetQuality = "Set Quality";
    static constexpr const char* kRenameMode = "Rename Mode";
    static constexpr const char* kOutputFormat = "Output Format";
    static constexpr const char* kCompressionRatio = "Compression Ratio";
    static constexpr const char* kQualityRatio = "Quality Ratio";
    static constexpr const char* kReplaceFilename = "Replace Filename";
    static constexpr const char* kDateTimeStamp = "Date/Time Stamp";
    static constexpr const char* kAppendFolderName = "Append Folder Name";
    static constexpr const char* kAddString = "Add String";
    static constexpr const char* kAddDigit = "Add Digit";
    static constexpr const char* kRemove = "Remove";
    static constexpr const char* kChangeCaseFileName = "Change Case File Name";
    static constexpr const char* kLowerCaseFileExtension = "Lower Case File Extension";
    // The compression level is a zlib memory level.
    static constexpr int kMinCompression = 1;
    static constexpr int kMaxCompression = 9;

    QString dateString;
    std::optional<bool> isSetCompression;
    std::optional<bool> isSetQuality;
    std::optional<int> flagRenamingMode;    // 0 keeps the file names
    std::optional<int> outputFormat;        // index into the output format list (outputformat)
    std::optional<double> compressionRatio; // whole number 1..9, kept as a real
    std::optional<double> qualityRatio;     // fraction 0..1
    QVariantMap dictReplaceFileName;
    QVariantMap dictDateTimeStamp;
    QVariantMap dictAppendFolderName;
    QVariantMap dictAddString;
    QVariantMap dictAddDigit;
    QVariantMap dictRemove;
    QVariantMap dictChangeCaseFileName;
    QVariantMap dictUseLowerCaseForFileExtension;

    // dateString = now; every other field from the dictionary's display keys (a missing
    // key leaves the field empty). Out-of-range compression and quality are brought
    // into range.
    static std::shared_ptr<BatchRenameSetting> initWithDictionary(const QVariantMap& dictionary);
    // The settings of the resource "RenameSettings.plist"; nullptr (logged) when the
    // resource is missing or unreadable.
    static std::shared_ptr<BatchRenameSetting> defaultSettings();

    // The output format number of these settings; keeping the original format when unset.
    static int outputFormatOf(const BatchRenameSetting* settings) {
        return settings ? settings->outputFormat.value_or(outputformat::KeepOriginal) : outputformat::KeepOriginal;
    }

    void encodeWithCoder(platform::KeyedEncoder& coder) const;
    void initWithCoder(platform::KeyedDecoder& coder);
};
