#include "engine/Effects/SizeRelativeKeys.h"

#include <QStringList>

namespace effects {

namespace {
// Filters whose "inputIntensity" is a plain strength, not a distance.
bool intensityIsAbsolute(const QString& filterName) {
    static const QStringList absolute = {"CIBloom",       "CIGloom",     "CIColorMonochrome",
                                         "CIUnsharpMask", "CISepiaTone", "CIVignetteEffect"};
    return absolute.contains(filterName);
}
}  // namespace

bool scalesWithWidth(const QString& filterName, const QString& key) {
    if (key == QLatin1String("inputIntensity")) return !intensityIsAbsolute(filterName);
    if (key == QLatin1String("inputScale"))
        return filterName == QLatin1String("CIHexagonalPixellate") || filterName == QLatin1String("CIPixellate");
    return key == QLatin1String("inputRadius") || key == QLatin1String("inputWidth") ||
           key == QLatin1String("inputNoiseLevel") || key == QLatin1String("inputFalloff") ||
           key == QLatin1String("inputSharpness");
}

bool isSizeRelativeRect(const QString& key) {
    return key == QLatin1String("inputRectangle") || key == QLatin1String("boundedRect") ||
           key == QLatin1String("rotatedRect");
}

}  // namespace effects
