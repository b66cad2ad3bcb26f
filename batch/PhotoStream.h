#pragma once
// A photo made row by row: decoded a few rows at a time, its one effect rendered into the
// rows as they come, and the finished rows encoded while later ones are still decoded, so
// that only the rows between the decoder and the encoder are ever in memory.
#include "batch/ResultWriter.h"
#include "records/AppliedFilter.h"

#include <QByteArray>
#include <QList>
#include <QSize>

#include <memory>
#include <optional>

namespace PhotoStream {

struct Made {
    QByteArray file;  // the encoded JPEG
    QSize size;
};

// The one step a photo with these steps is made with this way, or null when it is not
// one effect that renders row by row.
std::shared_ptr<AppliedFilter> streamedStep(const QList<std::shared_ptr<AppliedFilter>>& steps);

// The JPEG at `path` with `step` applied, encoded as `route` says; nullopt when the photo
// cannot be made this way after all (not a large colour JPEG stored upright, damaged, or
// the effect declined), and it is then made the usual way.
std::optional<Made> make(const QString& path, const AppliedFilter& step, const ResultWriter::EncodedRoute& route);

}  // namespace PhotoStream
