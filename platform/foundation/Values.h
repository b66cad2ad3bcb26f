#pragma once
// Value kinds that Qt has no type for. Everything else a parameter list, a property
// dictionary or an archive holds is a plain Qt value inside QVariant:
//   number  -> int / qlonglong / double / bool (kept apart: see numberKind)
//   string  -> QString, date -> QDateTime, data -> QByteArray,
//   list    -> QVariantList, dictionary -> QVariantMap,
//   colour  -> QColor, image -> QImage, vector -> Vec (below).
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <array>

namespace platform {

// A vector of 2 components (a point: X, Y) or 4 (a rectangle: X, Y, width as Z,
// height as W). Positions are in the program's y-up space.
struct Vec {
    int count = 0;
    std::array<double, 4> v{0, 0, 0, 0};

    Vec() = default;
    Vec(double x, double y) : count(2), v{x, y, 0, 0} {}
    Vec(double x, double y, double z, double w) : count(4), v{x, y, z, w} {}

    double X() const { return v[0]; }
    double Y() const { return v[1]; }
    double Z() const { return v[2]; }
    double W() const { return v[3]; }
    double at(int i) const { return i >= 0 && i < count ? v[size_t(i)] : 0.0; }
    bool isPoint() const { return count == 2; }
    bool isRect() const { return count == 4; }
    bool operator==(const Vec& o) const { return count == o.count && v == o.v; }
    bool operator!=(const Vec& o) const { return !(*this == o); }
    // "[x y]" or "[x y z w]" with C-locale numbers.
    QString description() const;
};

enum class NumberKind { None, Boolean, Integer, Real };

// Which kind of number a variant holds; strings and other values are None.
NumberKind numberKind(const QVariant& v);
inline bool isNumber(const QVariant& v) { return numberKind(v) != NumberKind::None; }

// Numeric value of a number variant (booleans give 0/1); anything else gives fallback.
double numberValue(const QVariant& v, double fallback = 0.0);

}  // namespace platform

Q_DECLARE_METATYPE(platform::Vec)
