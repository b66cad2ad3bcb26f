#pragma once
// Capture dates of photo files, remembered per path and modification time, so that
// re-planning a big batch after a keystroke reads no photo's metadata twice (a file
// changed on disk is read again), and the date stamps made of them, remembered per
// pattern, since formatting a date is the costly part once the dates are known.
// Safe from any thread.
#include <QDateTime>
#include <QHash>
#include <QString>
#include <functional>
#include <map>
#include <mutex>

#include "platform/foundation/Dates.h"

class CaptureDateCache {
public:
    using Reader = std::function<QDateTime(const QString& path)>;

    // The photo file's metadata by default.
    CaptureDateCache();
    explicit CaptureDateCache(Reader reader) : reader_(std::move(reader)) {}

    // The capture date (invalid when the file has none or cannot be read).
    QDateTime captureDate(const QString& path);
    int readCount() const { return reads_; }
    // The date as text in the pattern (empty for an invalid date or pattern).
    QString formattedDate(const QDateTime& date, const QString& pattern);

private:
    struct Entry {
        qint64 modified = 0;  // nanoseconds since the epoch
        QDateTime date;
    };
    Reader reader_;
    std::mutex mutex_;
    QHash<QString, Entry> entries_;
    int reads_ = 0;
    QHash<QPair<QString, qint64>, QString> texts_;
    std::map<QString, platform::DateFormatter> formatters_;
};
