#pragma once
// Where and how the outputs of a run are written. The switches are boxed: an absent
// value (std::nullopt) differs from false, in memory and in the archive.
#include <QString>
#include <memory>
#include <optional>

namespace platform {
class KeyedEncoder;
class KeyedDecoder;
}  // namespace platform

struct OutputOptionSettings {
    static constexpr const char* kArchiveClassName = "OutputOptionSettings";

    QString dateString;        // creation time ("MMM-dd-yyyy hh:mm:s a")
    QString outputFolderPath;  // destination folder
    std::optional<bool> moveAndRenameToDestinationFolder;
    std::optional<bool> copyyToDestinationFolder;
    std::optional<bool> useSourceFolder;
    std::optional<bool> openOutputFolderAfterProcessing;
    std::optional<bool> owerwriteExistingFiles;
    std::optional<bool> setOutputDateTimeAsOriginal;

    // The record the output view starts from: now, "<Pictures>/Brisko Photos", copy to
    // the destination and open it afterwards, every other switch off.
    static std::shared_ptr<OutputOptionSettings> makeDefault();
    // "<Pictures>/Brisko Photos" of the user.
    static QString defaultOutputFolderPath();

    void encodeWithCoder(platform::KeyedEncoder& coder) const;
    void initWithCoder(platform::KeyedDecoder& coder);
};
