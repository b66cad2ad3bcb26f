#pragma once
// Small helpers of the effects that run Core Image filters.
#include "platform/coreimage/CIFilter.h"
#include "platform/coreimage/CIImage.h"

#include <QSizeF>
#include <QVariantMap>

namespace effects {

// Size of an image's extent; (0, 0) for a null image, and the infinite size for generators.
QSizeF extentSize(const CIImage& image);

inline bool hasInput(const CIFilter& filter, const char* key) {
    return filter.attributes().contains(QString::fromLatin1(key));
}

// Runs a filter by name on an image with the given inputs set after its defaults; null when
// the filter does not exist or yields nothing. The filter's image inputs are emptied after,
// so it keeps no photo alive.
CIImage runFilter(const QString& name, const CIImage& input, const QVariantMap& inputs);

}  // namespace effects
