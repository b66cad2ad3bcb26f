#pragma once
// Renders CIImages into 8-bit pictures. Rendering is done in horizontal strips sized from
// how far the image's filters reach, so a big photo never needs a full float copy per
// filter; each strip is computed in parallel bands of rows.
#include "platform/coreimage/CIImage.h"

#include <QImage>
#include <QRectF>
#include <QVariantMap>

inline constexpr const char* kCIContextUseSoftwareRenderer = "kCIContextUseSoftwareRenderer";

// A picture whose rows come and go while it is rendered into its own storage (a photo
// decoded a few rows at a time and encoded as its rows are finished). Rows are Qt's, top
// row first; both calls come with growing ends.
class PictureRows {
public:
    virtual ~PictureRows() = default;
    // Rows [0, end) must hold the photo's pixels before the render reads them. False stops
    // the render (the picture is then neither the photo nor the result).
    virtual bool rowsNeeded(int end) = 0;
    // Rows [0, end) hold their final pixels; the render neither reads nor writes them again.
    virtual bool rowsDone(int end) = 0;
};

class CIContext {
public:
    // Options are accepted for the callers' sake; rendering is always in software.
    static CIContext contextWithOptions(const QVariantMap& options = {}) { return CIContext(options); }
    explicit CIContext(const QVariantMap& options = {}) : options_(options) {}

    // The y-up rectangle fromRect of image as a new picture of fromRect's size (rounded)
    // in Format_ARGB32_Premultiplied; a null picture for an empty image or rectangle.
    QImage createCGImage(const CIImage& image, const QRectF& fromRect) const;
    QImage render(const CIImage& image, const QRectF& fromRect) const { return createCGImage(image, fromRect); }

    // Renders the rectangle (0, 0, width, height) of image into `picture`'s own storage, as
    // createCGImage would render it over a transparent picture of that size, and gives it
    // the format Format_ARGB32_Premultiplied and no colour space, like a drawn picture.
    // image must read `picture` (Format_RGB32 or Format_ARGB32_Premultiplied) through a
    // picture made over its bits (QImage(picture.constBits(), ...)) and nothing else may
    // share its storage. Returns false, leaving picture unchanged, when that is not so or
    // when the graph may read rows of the picture far from the rows it makes (only colour
    // stages, crops, blurs of a picture and whole-pixel shifts are known not to): the caller
    // then renders into a new picture.
    //
    // With `rows`, strips are made top row first, each asking for the rows it reads and
    // handing on the rows no later strip touches; a false from `rows` ends the render with
    // false and the picture's rows undefined.
    bool renderInPlace(const CIImage& image, QImage& picture, PictureRows* rows = nullptr) const;

    // Draws fromRect of image, scaled into inRect (y-up, in target's own plane), over the
    // target with source-over compositing.
    void drawImage(const CIImage& image, const QRectF& inRect, const QRectF& fromRect, QImage& target) const;

private:
    QVariantMap options_;
};
