#pragma once
// Small helpers shared by the overlay, frame and texture operations of Utils.
#include "platform/foundation/Values.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace overlays {

// Calls fn(key, value) for every entry of a parameter list, in list order; an entry is a
// one-entry dictionary and its first key and value count.
template <class Fn>
void forEachParameter(const QVariantList& list, Fn&& fn) {
    for (const QVariant& entry : list) {
        const QVariantMap m = entry.toMap();
        if (m.isEmpty()) continue;
        fn(m.firstKey(), m.first());
    }
}

inline double numberOr(const QVariant& v, double fallback) {
    if (platform::isNumber(v)) return platform::numberValue(v, fallback);
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toString().toDouble(&ok);  // C locale: QString::toDouble is locale-free
        return ok ? d : fallback;
    }
    return fallback;
}

inline bool boolOr(const QVariant& v, bool fallback) {
    if (platform::isNumber(v)) return platform::numberValue(v) != 0.0;
    return fallback;
}

// The settings of a text, watermark or date step as the output draws them: the defaults
// of the effect, then the list's entries in order (the last entry of a key wins).
struct TextOverlay {
    platform::Vec rotatedRect{0.02, 0.84, 0.2, 0.09};
    QColor color{Qt::white};
    QString text;
    double fontSize = 30.0;
    QString fontName;
    float alpha = 1.0f;
    int alignment = 0;
    // The box's turn on the preview in whole quarter turns (0, 90, 180 or 270 degrees; the
    // preview turns the box by its flips). The text is drawn turned the same way.
    int quarterTurnDegrees = 0;
    QString dateOption{QStringLiteral("Original Date & Time")};
    QString dateFormat{QStringLiteral("MMM-DD-YY")};
    QString timeFormat{QStringLiteral("AM/PM")};
};
TextOverlay readTextOverlay(const QString& filterName, const QVariantList& params);

// A picture of the application's resources by name; names without an extension also try
// ".png" and ".jpg". A null image when none loads.
QImage resourceImage(const QString& name);

// An opacity factor from a step, made safe: NaN counts as fully opaque.
inline float opacityFactor(double v) { return std::isfinite(v) ? float(std::clamp(v, 0.0, 1.0)) : 1.0f; }

// Lays top over background with one of the Core Image blend filters (by name; one it does
// not know lays top over) and returns the result at the background's size, or a null image
// when the blend gives nothing.
QImage blendWithFilter(const QString& filterName, const QImage& top, const QImage& background);

}  // namespace overlays
