#include "engine/Effects/SizeRelativeKeys.h"

#include <QStringList>
#include <QVariantMap>
#include <cmath>

#include "platform/foundation/Values.h"

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
    return key == QLatin1String("inputRadius") || key == QLatin1String("inputWidth");
}

bool isStrength(const QString& key) {
    return key == QLatin1String("inputNoiseLevel") || key == QLatin1String("inputFalloff") ||
           key == QLatin1String("inputSharpness");
}

namespace {
QString keyOf(const QVariant& entry) {
    const QVariantMap m = entry.toMap();
    return m.isEmpty() ? QString() : m.firstKey();
}
bool hasKey(const QVariantList& list, const QString& key) {
    for (const QVariant& entry : list)
        if (keyOf(entry) == key) return true;
    return false;
}
bool hasStrength(const QVariantList& list) {
    for (const QVariant& entry : list)
        if (isStrength(keyOf(entry))) return true;
    return false;
}
}  // namespace

QVariantList withPlainStrengths(const QVariantList& list) {
    const QString marker = QString::fromLatin1(kPlainStrengthsKey);
    if (!hasStrength(list) || hasKey(list, marker)) return list;
    QVariantList out;
    out.reserve(list.size() + 1);
    for (const QVariant& entry : list) {
        const QString key = keyOf(entry);
        const QVariant value = entry.toMap().value(key);
        const double scaled = platform::numberValue(value) * kLegacyPreviewWidth;
        if (isStrength(key) && platform::isNumber(value) && std::isfinite(scaled))
            out << QVariantMap{{key, scaled}};
        else
            out << entry;
    }
    out << QVariantMap{{marker, true}};
    return out;
}

QVariantList markPlainStrengths(const QVariantList& list) {
    const QString marker = QString::fromLatin1(kPlainStrengthsKey);
    if (!hasStrength(list) || hasKey(list, marker)) return list;
    QVariantList out = list;
    out << QVariantMap{{marker, true}};
    return out;
}

bool isSizeRelativeRect(const QString& key) {
    return key == QLatin1String("inputRectangle") || key == QLatin1String("boundedRect") ||
           key == QLatin1String("rotatedRect");
}

}  // namespace effects
