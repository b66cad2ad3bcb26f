#pragma once
// The planned output file of every photo of the batch, in batch order: entry i is where
// the run writes photo i.
#include <QList>
#include <memory>

struct PhotoFile;
struct OutputPhotoPath;
struct BatchRenameSetting;
class RenameScheme;

class OutputPlanner {
public:
    OutputPlanner() = delete;

    // One record per photo (planned path from the scheme, source path), with the number
    // of earlier records that share its path counted in.
    static QList<std::shared_ptr<OutputPhotoPath>> planOutputPaths(const QList<std::shared_ptr<PhotoFile>>& photos,
                                                                   const RenameScheme& scheme);

    // The rename settings the output view works on: the application delegate's object
    // when it holds one (a restored session or an earlier view), else fresh settings from
    // the resource "RenameSettings.plist" (nullptr when that cannot be read). Main thread.
    static std::shared_ptr<BatchRenameSetting> renameSettingsInUse();

    // The planned outputs of the application delegate's batch with its current settings
    // (the default output options when it holds none). Main thread; nothing is published.
    static QList<std::shared_ptr<OutputPhotoPath>> planForAppDelegate();
};
