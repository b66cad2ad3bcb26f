#pragma once
// A photo made row by row: decoded a few rows at a time, its one effect rendered into the
// rows as they come (or its rows resampled to a smaller size, or handed on as they are),
// and the finished rows encoded while later ones are still decoded, so that only the rows
// between the decoder and the encoder are ever in memory.
//
// Whether a photo goes this way is decided once, by decide(), from what the file's header
// said as it was opened, each enabled step's row reach, and how the writer writes the
// photo's file; make() then reads that same opening.
#include "batch/ResultWriter.h"
#include "platform/imageio/RowStreams.h"
#include "records/AppliedFilter.h"

#include <QList>
#include <QSize>
#include <QSizeF>

#include <memory>
#include <optional>

namespace PhotoStream {

// The size to shrink to when a photo's only enabled step is a "Resize" that at least
// halves it in both directions: such a photo is decoded at a reduced scale, whichever way
// it is made.
std::optional<QSizeF> shrinkOnLoadTarget(const QList<std::shared_ptr<AppliedFilter>>& steps, const QSizeF& source);

// Why a photo is made the usual way, from its whole picture; None when it is made row by
// row. The rules, in the order decide() applies them.
enum class Decline {
    None,
    // The file.
    Unreadable,        // not opened, or its header does not read: the usual way says why
    NoRowReader,       // GIF, BMP, JPEG 2000, HEIF, WebP, camera raw: no reader of rows
    ColoursConverted,  // CMYK, CIELab, or a profile the reader applies to the pixels
    TiffLayout,        // a TIFF read in blocks a band need not hold whole, or in bands too tall
    TooLarge,          // larger than the decoders take: the usual way refuses it
    StoredTurned,      // stored turned or mirrored: the picture is turned upright first
    // The steps.
    WholePicture,      // a step reads the photo far from the rows it makes
    SeveralSteps,      // more than one enabled step: row renders are not chained
    NoShrink,          // a "Resize" that does not make the photo smaller
    SizeUnknown,       // the photo's recorded size is not its header's: the usual way resizes from it
    EffectOnNonJpeg,   // an effect renders into a JPEG's opaque colour rows
    GreyWithEffect,    // whether an effect keeps a grey photo grey is known only from the whole picture
    Small,             // below the size from which this way pays
    // The output.
    NotJpegOrPng,      // another type, or a PDF page
    Optimiser,         // the PNG optimiser rewrites the whole file
    TurnedOnOutput,    // the source's orientation tag or the record turns the picture on the way out
    ColoursOnOutput,   // the writer would convert the colours on the way out
    BackingScale,      // written at a fraction of its size
    TransparentShrunkToPng,  // whether resampled pixels stay opaque is known only once all are made
    GreyUnderGreyProfile,    // a grey PNG or TIFF under a grey profile is written grey from its whole picture
};

// From these sizes a photo is made row by row (see PhotoStream.cpp).
struct Limits {
    qint64 effectFromPixels = 2'000'000;
    qint64 plainFromPixels = 20'000'000;  // conversions and shrinks
    qint64 convertedToJpegFromPixels = 10'000'000;  // conversions written as JPEG
};

// What the file said as it was opened.
struct Source {
    platform::ImageHeader header;
    platform::RowsRefused refused = platform::RowsRefused::Unreadable;
    bool transparent = false;  // its rows carry alpha
    QSizeF recordedSize;       // the upright size the usual way resizes from (the file's properties)
    // The orientation the usual way turns the photo by (the file's properties, which may
    // find a tag its header reader does not: a PNG's EXIF after its picture data).
    int recordedOrientation = 1;
    static Source of(const platform::RowSource& source, QSizeF recordedSize, int recordedOrientation = 1);
};

// How a photo is made row by row.
struct Plan {
    std::shared_ptr<AppliedFilter> effect;  // one effect rendered into the rows, or
    std::shared_ptr<AppliedFilter> resize;  // a "Resize" that shrinks it, or neither: a conversion
    QSize written;                          // the size written
    // A shrink's reduced decode, taken when its rows reach atLeast (as the usual way's).
    platform::DecodeOptions decode;
    QSize atLeast;
    bool onWhite = false;      // transparent rows put on white for a JPEG
    bool opacityPass = false;  // transparent rows into a PNG: alpha kept when a pixel is not opaque
    bool grey = false;         // the rows stay grey and are written grey
};

struct Decision {
    Decline declined = Decline::None;
    Plan plan;  // when not declined
    bool rowByRow() const { return declined == Decline::None; }
};

// The one decision, for a photo from `source`, with these steps (in any order; those not
// applied are passed over), written as `output` says, at this backing scale.
Decision decide(const Source& source, const QList<std::shared_ptr<AppliedFilter>>& steps,
                const ResultWriter::EncodedRoute& output, double backingScale = 1, const Limits& limits = {});

enum class Made {
    Written,   // the whole file went to `out`
    Declined,  // nothing to show for it: the photo is made the usual way (which says why
               // a damaged one fails)
    Failed,    // `out` refused the file's bytes, or the source was cut short while read
};

// The photo from `source` (not read yet) made as `plan` says, encoded as `route` says, its
// file's bytes handed in order to `out`: the file the whole-picture way writes.
Made make(platform::RowSource& source, const Plan& plan, const ResultWriter::EncodedRoute& route,
          const platform::FileBytesSink& out);

}  // namespace PhotoStream
