#include "batch/CaptureDateCache.h"

#include "records/ExifInfo.h"

#include <QFile>
#include <sys/stat.h>

namespace {

// A plain stat: re-planning asks this for every photo on every keystroke.
qint64 modificationStamp(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

CaptureDateCache::CaptureDateCache()
    : reader_([](const QString& path) {
          auto info = ExifInfo::initWithFile(path);
          return info ? info->captureDate : QDateTime();
      }) {}

QDateTime CaptureDateCache::captureDate(const QString& path) {
    const qint64 modified = modificationStamp(path);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.constFind(path);
        if (it != entries_.constEnd() && it->modified == modified) return it->date;
    }
    const QDateTime date = modified < 0 ? QDateTime() : reader_(path);
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    entries_.insert(path, Entry{modified, date});
    return date;
}

QString CaptureDateCache::formattedDate(const QDateTime& date, const QString& pattern) {
    if (!date.isValid() || pattern.isEmpty()) return {};
    const QPair<QString, qint64> key{pattern, date.toMSecsSinceEpoch()};
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts_.constFind(key);
    if (it != texts_.constEnd()) return *it;
    auto f = formatters_.find(pattern);
    if (f == formatters_.end()) f = formatters_.emplace(pattern, platform::DateFormatter(pattern)).first;
    // Every pass with the current date adds one text; keep the memory bounded.
    if (texts_.size() > 500000) texts_.clear();
    const QString text = f->second.format(date);
    texts_.insert(key, text);
    return text;
}
