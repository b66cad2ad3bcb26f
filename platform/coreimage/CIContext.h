#pragma once
// Renders CIImages into 8-bit pictures. Rendering is done in horizontal strips sized from
// how far the image's filters reach, so a big photo never needs a full float copy per
// filter; each strip is computed in parallel bands of rows.
#include "platform/coreimage/CIImage.h"

#include <QImage>
#include <QRectF>
#include <QVariantMap>

inline constexpr const char* kCIContextUseSoftwareRenderer = "kCIContextUseSoftwareRenderer";

class CIContext {
public:
    // Options are accepted for the callers' sake; rendering is always in software.
    static CIContext contextWithOptions(const QVariantMap& options = {}) { return CIContext(options); }
    explicit CIContext(const QVariantMap& options = {}) : options_(options) {}

    // The y-up rectangle fromRect of image as a new picture of fromRect's size (rounded)
    // in Format_ARGB32_Premultiplied; a null picture for an empty image or rectangle.
    QImage createCGImage(const CIImage& image, const QRectF& fromRect) const;
    QImage render(const CIImage& image, const QRectF& fromRect) const { return createCGImage(image, fromRect); }

    // Draws fromRect of image, scaled into inRect (y-up, in target's own plane), over the
    // target with source-over compositing.
    void drawImage(const CIImage& image, const QRectF& inRect, const QRectF& fromRect, QImage& target) const;

private:
    QVariantMap options_;
};
