#include "platform/foundation/Format.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QVariantMap>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/foundation/Values.h"

namespace platform {

namespace {

QString formattedNumber(double v, char conv, int precision) {
    if (precision < 0) precision = 6;
    // to_chars is locale-independent and rounds exactly as printf does.
    char buf[400];
    std::chars_format fmt = std::chars_format::fixed;
    if (conv == 'g' || conv == 'G') fmt = std::chars_format::general;
    if (conv == 'e' || conv == 'E') fmt = std::chars_format::scientific;
    if (std::isnan(v)) return QStringLiteral("nan");
    if (std::isinf(v)) return v < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    if (fmt == std::chars_format::fixed && std::fabs(v) >= 1e300) return QString::number(v, 'g', 17);
    auto r = std::to_chars(buf, buf + sizeof buf, v, fmt, precision);
    if (r.ec != std::errc()) return QString::number(v, 'g', 17);
    return QString::fromLatin1(buf, r.ptr - buf);
}

QString pad(QString s, int width, bool left, bool zero) {
    if (width <= 0 || s.size() >= width) return s;
    const qsizetype n = width - s.size();
    if (left) return s + QString(n, QLatin1Char(' '));
    if (zero) {
        const bool neg = s.startsWith(QLatin1Char('-'));
        if (neg) return QLatin1Char('-') + QString(n, QLatin1Char('0')) + s.mid(1);
        return QString(n, QLatin1Char('0')) + s;
    }
    return QString(n, QLatin1Char(' ')) + s;
}

}  // namespace

QString describe(const QVariant& v) {
    if (!v.isValid()) return QStringLiteral("(null)");
    switch (v.typeId()) {
    case QMetaType::QString: return v.toString();
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar: return QString::number(v.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
    case QMetaType::UChar: return QString::number(v.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QDateTime: return v.toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
    case QMetaType::QByteArray: return QStringLiteral("{length = %1}").arg(v.toByteArray().size());
    case QMetaType::QColor: {
        const QColor c = v.value<QColor>();
        return QStringLiteral("RGBA(%1 %2 %3 %4)").arg(c.redF()).arg(c.greenF()).arg(c.blueF()).arg(c.alphaF());
    }
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant& e : v.toList()) parts << describe(e);
        return QStringLiteral("(") + parts.join(QStringLiteral(", ")) + QStringLiteral(")");
    }
    case QMetaType::QVariantMap: {
        QStringList parts;
        const QVariantMap m = v.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) parts << it.key() + QStringLiteral(" = ") + describe(it.value());
        return QStringLiteral("{") + parts.join(QStringLiteral("; ")) + QStringLiteral("}");
    }
    default: break;
    }
    if (v.canConvert<Vec>()) return v.value<Vec>().description();
    if (v.canConvert<QString>()) return v.toString();
    return QStringLiteral("<%1>").arg(QString::fromLatin1(v.typeName()));
}

QString formatString(QStringView f, const QVariantList& args) {
    QString out;
    out.reserve(f.size() + 16);
    qsizetype argi = 0;
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar ch = f[i];
        if (ch != QLatin1Char('%')) { out += ch; continue; }
        const qsizetype start = i;
        qsizetype j = i + 1;
        if (j < f.size() && f[j] == QLatin1Char('%')) { out += QLatin1Char('%'); i = j; continue; }
        bool left = false, zero = false, plus = false;
        while (j < f.size() && (f[j] == QLatin1Char('-') || f[j] == QLatin1Char('0') || f[j] == QLatin1Char('+') || f[j] == QLatin1Char(' '))) {
            if (f[j] == QLatin1Char('-')) left = true;
            if (f[j] == QLatin1Char('0')) zero = true;
            if (f[j] == QLatin1Char('+')) plus = true;
            ++j;
        }
        int width = 0;
        while (j < f.size() && f[j].isDigit() && width < 10000) width = width * 10 + f[j++].digitValue();
        int precision = -1;
        if (j < f.size() && f[j] == QLatin1Char('.')) {
            ++j;
            precision = 0;
            while (j < f.size() && f[j].isDigit() && precision < 100) precision = precision * 10 + f[j++].digitValue();
        }
        while (j < f.size() && (f[j] == QLatin1Char('l') || f[j] == QLatin1Char('h') || f[j] == QLatin1Char('q') || f[j] == QLatin1Char('z')))
            ++j;
        if (j >= f.size()) { out += f.mid(start); break; }
        const char conv = char(f[j].toLatin1());
        const bool known = QByteArrayView("@dDiuUfFgGeEsScxXo").contains(conv);
        if (!known || argi >= args.size()) {
            out += f.mid(start, j - start + 1);
            i = j;
            continue;
        }
        const QVariant& a = args[argi++];
        QString s;
        switch (conv) {
        case '@': case 's': case 'S': s = describe(a); if (precision >= 0) s.truncate(precision); break;
        case 'd': case 'D': case 'i':
            s = QString::number(a.toLongLong());
            if (plus && a.toLongLong() >= 0) s.prepend(QLatin1Char('+'));
            break;
        case 'u': case 'U': s = QString::number(a.toULongLong()); break;
        case 'x': s = QString::number(a.toULongLong(), 16); break;
        case 'X': s = QString::number(a.toULongLong(), 16).toUpper(); break;
        case 'o': s = QString::number(a.toULongLong(), 8); break;
        case 'c': s = QChar(char16_t(a.toUInt())); break;
        default:
            s = formattedNumber(a.toDouble(), conv, precision);
            if (plus && a.toDouble() >= 0) s.prepend(QLatin1Char('+'));
            break;
        }
        out += pad(s, width, left, zero && !left && conv != '@' && conv != 's');
        i = j;
    }
    return out;
}

}  // namespace platform
