#include "platform/foundation/Dates.h"

#include <memory>
#include <unicode/udat.h>
#include <unicode/ustring.h>

namespace platform {

namespace {

struct DateFormatCloser {
    void operator()(UDateFormat* f) const { udat_close(f); }
};
using DateFormatPtr = std::unique_ptr<UDateFormat, DateFormatCloser>;

const UChar* u16(const QString& s) { return reinterpret_cast<const UChar*>(s.utf16()); }

DateFormatPtr openFormat(const QString& pattern, const QString& locale, const QString& timeZone) {
    if (pattern.isEmpty()) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    const QByteArray loc = locale.toLatin1();
    UDateFormat* f = udat_open(UDAT_PATTERN, UDAT_PATTERN, loc.constData(),
                               timeZone.isEmpty() ? nullptr : u16(timeZone),
                               timeZone.isEmpty() ? 0 : int32_t(timeZone.size()), u16(pattern),
                               int32_t(pattern.size()), &status);
    if (U_FAILURE(status)) {
        if (f) udat_close(f);
        return nullptr;
    }
    return DateFormatPtr(f);
}

}  // namespace

struct DateFormatter::Impl {
    DateFormatPtr format;
};

DateFormatter::DateFormatter(const QString& pattern, const QString& locale, const QString& timeZone)
    : pattern_(pattern), impl_(std::make_unique<Impl>(Impl{openFormat(pattern, locale, timeZone)})) {}

DateFormatter::~DateFormatter() = default;
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;

QString DateFormatter::format(const QDateTime& date) const {
    UDateFormat* f = impl_ ? impl_->format.get() : nullptr;
    if (!date.isValid() || !f) return {};
    const UDate when = UDate(date.toMSecsSinceEpoch());
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = udat_format(f, when, nullptr, 0, nullptr, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
    QString out(needed, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    udat_format(f, when, reinterpret_cast<UChar*>(out.data()), needed + 0, nullptr, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
    return out;
}

QString formatDate(const QDateTime& date, const QString& pattern, const QString& locale,
                   const QString& timeZone) {
    if (!date.isValid()) return {};
    return DateFormatter(pattern, locale, timeZone).format(date);
}

QDateTime parseDate(const QString& text, const QString& pattern, const QString& locale,
                    const QString& timeZone) {
    if (text.isEmpty()) return {};
    DateFormatPtr f = openFormat(pattern, locale, timeZone);
    if (!f) return {};
    udat_setLenient(f.get(), false);
    UErrorCode status = U_ZERO_ERROR;
    int32_t pos = 0;
    const UDate when = udat_parse(f.get(), u16(text), int32_t(text.size()), &pos, &status);
    if (U_FAILURE(status) || pos != text.size()) return {};
    return QDateTime::fromMSecsSinceEpoch(qint64(when));
}

}  // namespace platform
