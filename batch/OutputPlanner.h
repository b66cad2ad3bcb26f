#pragma once
// The planned output file of every photo of the batch, in batch order: entry i is where
// the run writes photo i.
#include <QList>
#include <memory>

struct PhotoFile;
struct OutputPhotoPath;
class RenameScheme;

class OutputPlanner {
public:
    OutputPlanner() = delete;

    // One record per photo (planned path from the scheme, source path), with the number
    // of earlier records that share its path counted in.
    static QList<std::shared_ptr<OutputPhotoPath>> planOutputPaths(const QList<std::shared_ptr<PhotoFile>>& photos,
                                                                   const RenameScheme& scheme);
};
