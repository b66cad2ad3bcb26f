#include "platform/foundation/Values.h"

namespace platform {

QString Vec::description() const {
    QString s = QStringLiteral("[");
    for (int i = 0; i < count; ++i) {
        if (i) s += QLatin1Char(' ');
        s += QString::number(v[size_t(i)], 'g', 15);
    }
    return s + QLatin1Char(']');
}

NumberKind numberKind(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool: return NumberKind::Boolean;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar: return NumberKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float: return NumberKind::Real;
    default: return NumberKind::None;
    }
}

double numberValue(const QVariant& v, double fallback) {
    switch (numberKind(v)) {
    case NumberKind::Boolean: return v.toBool() ? 1.0 : 0.0;
    case NumberKind::Integer:
    case NumberKind::Real: return v.toDouble();
    default: return fallback;
    }
}

}  // namespace platform
