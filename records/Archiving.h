#pragma once
// The archive of an effect step, and small helpers the settings records share: boxed
// values (absent differs from false or 0) and the creation-time text of a record.
#include <QString>
#include <QVariant>
#include <optional>

#include "platform/foundation/KeyedArchive.h"
#include "records/AppliedFilter.h"

// Keys "filterName", "filterDisplayName", "filterParameters", "isApplied" (a boxed
// boolean; false when missing) and "filterAppliedImage" (absent when there is none).
// The category is not archived. A value of another kind, or a parameter that is not a
// dictionary (left out), leaves the archive not read whole.
void encodeWithCoder(const AppliedFilter& step, platform::KeyedEncoder& coder);
void initWithCoder(AppliedFilter& step, platform::KeyedDecoder& coder);

template <>
struct platform::ArchiveTraits<AppliedFilter> {
    static QString className() { return QStringLiteral("AppliedFilter"); }
    static void encode(const AppliedFilter& o, KeyedEncoder& c) { encodeWithCoder(o, c); }
    static void decode(AppliedFilter& o, KeyedDecoder& c) { initWithCoder(o, c); }
};

namespace archiving {

// "MMM-dd-yyyy hh:mm:s a" of now, in the user's locale and time zone.
QString creationDateString();
QString creationDateString(const QDateTime& when);

template <class T>
QVariant boxed(const std::optional<T>& v) {
    return v ? QVariant::fromValue(*v) : QVariant();
}
std::optional<bool> boxedBool(const platform::KeyedDecoder& coder, const QString& key);
std::optional<int> boxedInt(const platform::KeyedDecoder& coder, const QString& key);
std::optional<double> boxedDouble(const platform::KeyedDecoder& coder, const QString& key);
// The same readings of a value taken from a dictionary.
std::optional<bool> boxedBool(const QVariant& v);
std::optional<int> boxedInt(const QVariant& v);
std::optional<double> boxedDouble(const QVariant& v);

}  // namespace archiving
