#pragma once
// A photo made row by row: decoded a few rows at a time, its one effect rendered into the
// rows as they come (or its rows resampled to a smaller size, or handed on as they are),
// and the finished rows encoded while later ones are still decoded, so that only the rows
// between the decoder and the encoder are ever in memory.
#include "batch/ResultWriter.h"
#include "records/AppliedFilter.h"

#include <QList>
#include <QSize>
#include <QSizeF>

#include <functional>
#include <memory>
#include <optional>

namespace PhotoStream {

// The size to shrink to when a photo's only enabled step is a "Resize" that at least
// halves it in both directions: such a photo is decoded at a reduced scale, whichever way
// it is made.
std::optional<QSizeF> shrinkOnLoadTarget(const QList<std::shared_ptr<AppliedFilter>>& steps, const QSizeF& source);

// What a photo's enabled steps make of it this way: one effect that renders row by row, a
// lone "Resize" (made this way only when it shrinks), or neither, a conversion.
struct Plan {
    std::shared_ptr<AppliedFilter> effect;
    std::shared_ptr<AppliedFilter> resize;
    // Without an effect a photo goes this way from this many pixels; 0 is from where its
    // memory matters (see PhotoStream.cpp).
    qint64 plainFromPixels = 0;
    // Called once the photo's file is open for the rows it is made of.
    std::function<void(const QString& path)> whileOpen;
};
// Null when the steps are anything else.
std::optional<Plan> plan(const QList<std::shared_ptr<AppliedFilter>>& steps);

// The size the photo at `path` is written at when it is made this way, or nothing when it
// goes the usual way: it is not a colour or grey JPEG, or a PNG that is not interlaced,
// stored upright, whose profile its pixels keep as they are read, it is too small for the
// way to pay (see PhotoStream.cpp), its "Resize" does not shrink it, or it is a PNG or a
// grey photo with an effect.
std::optional<QSize> writtenSize(const QString& path, const Plan& plan);

enum class Made {
    Written,   // the whole file went to `out`
    Declined,  // nothing to show for it: the photo is made the usual way (which says why
               // a damaged one fails)
    Failed,    // `out` refused the file's bytes, or the source was cut short while read
};

// The JPEG or PNG at `path` made as `plan` says, encoded as `route` says, its file's bytes
// handed in order to `out`: the file the whole-picture way writes.
Made make(const QString& path, const Plan& plan, const ResultWriter::EncodedRoute& route,
          const platform::FileBytesSink& out);

}  // namespace PhotoStream
