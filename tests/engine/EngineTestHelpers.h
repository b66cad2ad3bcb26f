// Small builders the engine's test files share: parameter lists, one-entry maps, vectors
// and plain pictures.
#pragma once

#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

#include <QColor>
#include <QImage>
#include <QVariantMap>

namespace enginetest {

inline QVariantList list(std::initializer_list<std::pair<QString, QVariant>> entries) {
    return testsupport::parameterList(entries);
}
inline QVariantMap entry(const QString& key, const QVariant& value) { return {{key, value}}; }
inline QVariant vec(double x, double y) { return QVariant::fromValue(platform::Vec(x, y)); }
inline QVariant vec(double x, double y, double z, double w) { return QVariant::fromValue(platform::Vec(x, y, z, w)); }
inline QImage solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    return img;
}

}  // namespace enginetest
