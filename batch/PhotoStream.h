#pragma once
// A photo made row by row: decoded a few rows at a time, its one effect rendered into the
// rows as they come, and the finished rows encoded while later ones are still decoded, so
// that only the rows between the decoder and the encoder are ever in memory.
#include "batch/ResultWriter.h"
#include "records/AppliedFilter.h"

#include <QList>

#include <memory>

namespace PhotoStream {

// The one step a photo with these steps is made with this way, or null when it is not
// one effect that renders row by row. (A photo without effects is converted faster the
// usual way: decoded whole, then encoded on every core.)
std::shared_ptr<AppliedFilter> streamedStep(const QList<std::shared_ptr<AppliedFilter>>& steps);

// Whether the photo at `path` can be made this way: a colour JPEG of 2 MP or more stored
// upright, whose profile its pixels keep as they are read.
bool accepts(const QString& path);

enum class Made {
    Written,   // the whole file went to `out`
    Declined,  // nothing to show for it: the photo is made the usual way (which says why
               // a damaged one fails)
    Failed,    // `out` refused the file's bytes
};

// The JPEG at `path` with `step` applied, encoded as `route` says, its file's bytes handed
// in order to `out`.
Made make(const QString& path, const AppliedFilter& step, const ResultWriter::EncodedRoute& route,
          const platform::FileBytesSink& out);

}  // namespace PhotoStream
