#include "records/Archiving.h"

#include <QLocale>
#include <cmath>
#include <limits>

#include "platform/foundation/Dates.h"
#include "platform/foundation/Values.h"

void encodeWithCoder(const AppliedFilter& step, platform::KeyedEncoder& coder) {
    coder.encodeObject(step.filterName, QStringLiteral("filterName"));
    coder.encodeObject(step.filterDisplayName, QStringLiteral("filterDisplayName"));
    coder.encodeObject(step.filterParameters, QStringLiteral("filterParameters"));
    coder.encodeObject(step.isApplied, QStringLiteral("isApplied"));
    coder.encodeObject(step.filterAppliedImage.isNull() ? QVariant() : QVariant(step.filterAppliedImage),
                       QStringLiteral("filterAppliedImage"));
}

void initWithCoder(AppliedFilter& step, platform::KeyedDecoder& coder) {
    step.filterName = coder.decodeStringForKey(QStringLiteral("filterName"));
    step.filterDisplayName = coder.decodeStringForKey(QStringLiteral("filterDisplayName"));
    // Each parameter is a dictionary ({key: value}); anything else in the list is not a
    // parameter the step was saved with, and is left out.
    step.filterParameters.clear();
    for (const QVariant& parameter : coder.decodeArrayForKey(QStringLiteral("filterParameters"))) {
        if (parameter.typeId() == QMetaType::QVariantMap) step.filterParameters.append(parameter);
        else coder.noteUnreadable();
    }
    step.isApplied = archiving::boxedBool(coder, QStringLiteral("isApplied")).value_or(false);
    step.filterAppliedImage = coder.decodeImageForKey(QStringLiteral("filterAppliedImage"));
    step.parentfilterCategory.reset();
}

namespace archiving {

QString creationDateString(const QDateTime& when) {
    return platform::formatDate(when, QStringLiteral("MMM-dd-yyyy hh:mm:s a"), QLocale::system().name());
}

QString creationDateString() { return creationDateString(QDateTime::currentDateTime()); }

std::optional<bool> boxedBool(const QVariant& v) {
    if (!platform::isNumber(v)) return std::nullopt;
    return platform::numberValue(v) != 0.0;
}

std::optional<int> boxedInt(const QVariant& v) {
    if (!platform::isNumber(v)) return std::nullopt;
    const double d = platform::numberValue(v);
    if (!std::isfinite(d)) return std::nullopt;
    if (d >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (d <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(d);
}

std::optional<double> boxedDouble(const QVariant& v) {
    if (!platform::isNumber(v)) return std::nullopt;
    const double d = platform::numberValue(v);
    return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
}

std::optional<bool> boxedBool(const platform::KeyedDecoder& coder, const QString& key) {
    return boxedBool(coder.decodeNumberForKey(key));
}
std::optional<int> boxedInt(const platform::KeyedDecoder& coder, const QString& key) {
    return boxedInt(coder.decodeNumberForKey(key));
}
std::optional<double> boxedDouble(const platform::KeyedDecoder& coder, const QString& key) {
    return boxedDouble(coder.decodeNumberForKey(key));
}

}  // namespace archiving
