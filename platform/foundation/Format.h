#pragma once
// printf-style formatting over QVariant arguments, locale-free. "%@" prints a value's
// description (strings as they are, numbers in C-locale notation, lists and maps in a
// compact form); %d %i %ld %lld %u %lu %llu %f %g %e with optional width/precision,
// %s, %c, %x and %% are understood. A conversion that has no argument left, or an
// unknown one, is copied as it stands: a format can never read past its arguments.
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <string>
#include <string_view>

namespace platform {

QString formatString(QStringView format, const QVariantList& args);

// The description of one value as "%@" prints it.
QString describe(const QVariant& value);

namespace detail {
inline QVariant toVariant(const QVariant& v) { return v; }
inline QVariant toVariant(const QString& v) { return v; }
inline QVariant toVariant(const char* v) { return QString::fromUtf8(v); }
inline QVariant toVariant(const std::string& v) { return QString::fromStdString(v); }
inline QVariant toVariant(std::string_view v) { return QString::fromUtf8(v.data(), qsizetype(v.size())); }
inline QVariant toVariant(bool v) { return v; }
inline QVariant toVariant(int v) { return v; }
inline QVariant toVariant(unsigned v) { return v; }
inline QVariant toVariant(long v) { return qlonglong(v); }
inline QVariant toVariant(unsigned long v) { return qulonglong(v); }
inline QVariant toVariant(long long v) { return qlonglong(v); }
inline QVariant toVariant(unsigned long long v) { return qulonglong(v); }
inline QVariant toVariant(float v) { return double(v); }
inline QVariant toVariant(double v) { return v; }
template <class T> QVariant toVariant(const T& v) { return QVariant::fromValue(v); }
}  // namespace detail

template <class... A>
QString format(QStringView fmt, const A&... args) {
    return formatString(fmt, QVariantList{detail::toVariant(args)...});
}

}  // namespace platform
