#pragma once
// Small image and parameter-list helpers of the program's own effects.
#include "platform/foundation/Values.h"

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

namespace effects {

// Calls fn(key, value) for every entry of a parameter list in list order, so the last entry
// of a key wins for a reader that keeps overwriting.
template <class Fn>
void forEachEntry(const QVariantList& list, Fn&& fn) {
    for (const QVariant& entry : list) {
        const QVariantMap m = entry.toMap();
        if (!m.isEmpty()) fn(m.firstKey(), m.first());
    }
}

// A number entry's value, or fallback for anything that is not a number.
inline double numberOr(const QVariant& v, double fallback) {
    return platform::isNumber(v) ? platform::numberValue(v, fallback) : fallback;
}

// The engine's working pixel format.
QImage working(const QImage& image);

// A transparent canvas of the given pixel size.
QImage canvas(int width, int height);

}  // namespace effects
