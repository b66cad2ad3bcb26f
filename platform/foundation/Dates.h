#pragma once
// Dates as text with Unicode (ICU) date patterns ("yyyy:MM:dd HH:mm:ss", "MMM dd, yyyy").
// The default locale is "en_US_POSIX" so texts never change with the user's settings;
// the time zone is the process's local zone unless one is given (an IANA id or "UTC").
#include <QDateTime>
#include <QString>
#include <memory>

namespace platform {

// Empty string for an invalid date or an unusable pattern.
QString formatDate(const QDateTime& date, const QString& pattern,
                   const QString& locale = QStringLiteral("en_US_POSIX"),
                   const QString& timeZone = QString());

// One pattern for many dates: opening a formatter is the costly part, so code that
// formats a date per photo keeps one. Used by one thread at a time.
class DateFormatter {
public:
    explicit DateFormatter(const QString& pattern, const QString& locale = QStringLiteral("en_US_POSIX"),
                           const QString& timeZone = QString());
    ~DateFormatter();
    DateFormatter(DateFormatter&&) noexcept;
    DateFormatter& operator=(DateFormatter&&) noexcept;

    // Empty string for an invalid date or an unusable pattern.
    QString format(const QDateTime& date) const;
    const QString& pattern() const { return pattern_; }

private:
    struct Impl;
    QString pattern_;
    std::unique_ptr<Impl> impl_;
};

// The whole text must fit the pattern; anything else gives an invalid date.
QDateTime parseDate(const QString& text, const QString& pattern,
                    const QString& locale = QStringLiteral("en_US_POSIX"),
                    const QString& timeZone = QString());

}  // namespace platform
