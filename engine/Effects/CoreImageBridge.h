#pragma once
// How the engine's effects hand pictures to the Core Image stand-in and take them back.
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/coreimage/CIImage.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace effects {

// The picture as a Core Image image whose extent is (0, 0, width, height).
CIImage ciImageOf(const QImage& image);

// Size of an image's extent; (0, 0) for a null image, and the infinite size for generators.
QSizeF extentSize(const CIImage& image);

// A transparent canvas of the given size with the from-rectangle of the image drawn at the
// point (y-up); a null picture for a null image or one with an empty extent.
QImage drawAt(const CIImage& image, QSizeF canvasSize, QPointF at, const QRectF& fromRect);

// The same, with the from-rectangle drawn into a target rectangle; a null picture when the
// image is null.
QImage drawIn(const CIImage& image, QSizeF canvasSize, const QRectF& inRect, const QRectF& fromRect);

// Empties the image inputs of a filter, so it keeps no photo alive between uses.
void clearImageInputs(CIFilter& filter);

inline bool hasInput(const CIFilter& filter, const char* key) {
    return filter.attributes().contains(QString::fromLatin1(key));
}
inline bool hasInput(const CIFilter& filter, const QString& key) { return filter.attributes().contains(key); }

// Runs a filter by name on an image with the given inputs set after its defaults; null when
// the filter does not exist or yields nothing. The filter's image inputs are emptied after.
CIImage runFilter(const QString& name, const CIImage& input, const QVariantMap& inputs);

}  // namespace effects
