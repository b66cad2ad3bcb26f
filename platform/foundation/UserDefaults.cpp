#include "platform/foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/foundation/Log.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Values.h"

namespace platform {

namespace {
// Largest settings file read (real ones are far smaller).
constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;
}  // namespace

UserDefaults::UserDefaults(const QString& filePath) : path_(filePath) {
    QMutexLocker lock(&mutex_);
    loadLocked();
}

UserDefaults::~UserDefaults() {
    QMutexLocker lock(&mutex_);
    if (dirty_) saveLocked();
}

QString UserDefaults::defaultFilePath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.config/BriskoPhotos");
    return dir + QStringLiteral("/BriskoPhotos.plist");
}

UserDefaults& UserDefaults::standardUserDefaults() {
    static UserDefaults shared(defaultFilePath());
    return shared;
}

QString UserDefaults::filePath() const {
    QMutexLocker lock(&mutex_);
    return path_;
}

void UserDefaults::setFilePath(const QString& filePath) {
    QMutexLocker lock(&mutex_);
    path_ = filePath;
    loadLocked();
}

void UserDefaults::loadLocked() {
    values_.clear();
    dirty_ = false;
    QFile file(path_);
    if (!file.exists()) return;
    bool readable = file.open(QIODevice::ReadOnly) && file.size() <= kMaxFileBytes;
    QVariant root;
    if (readable) {
        const QByteArray bytes = file.readAll();
        file.close();
        root = plistFromData(bytes);
    }
    // Settings that could not be written back (a part that did not read) count as damaged.
    if (root.typeId() == QMetaType::QVariantMap && !plistToData(root, PlistFormat::Binary).isEmpty()) {
        values_ = root.toMap();
        return;
    }
    // Keep the unreadable file for the user to look at, and start afresh.
    const QString aside = path_ + QStringLiteral(".damaged");
    QFile::remove(aside);
    const bool kept = QFile::rename(path_, aside);
    log(u"user defaults: %@ is damaged or not a settings file; starting with empty settings%@", path_,
        kept ? QStringLiteral(" (old file kept as ") + aside + QStringLiteral(")") : QString());
}

bool UserDefaults::saveLocked() {
    const QByteArray bytes = plistToData(values_, PlistFormat::Binary);
    if (bytes.isEmpty()) {
        log(u"user defaults: settings could not be converted for saving");
        return false;
    }
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        log(u"user defaults: cannot write %@ (%@)", path_, out.errorString());
        return false;
    }
    dirty_ = false;
    return true;
}

QVariant UserDefaults::objectForKey(const QString& key) const {
    QMutexLocker lock(&mutex_);
    return values_.value(key);
}

bool UserDefaults::containsKey(const QString& key) const {
    QMutexLocker lock(&mutex_);
    return values_.contains(key);
}

QString UserDefaults::stringForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString) return v.toString();
    switch (numberKind(v)) {
    case NumberKind::Integer: return QString::number(v.toLongLong());
    case NumberKind::Real: return QString::number(v.toDouble(), 'g', 17);
    default: return {};
    }
}

QByteArray UserDefaults::dataForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

QVariantList UserDefaults::arrayForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

bool UserDefaults::boolForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        return s == QLatin1String("yes") || s == QLatin1String("true") || s.toLongLong() != 0;
    }
    return numberValue(v) != 0.0;
}

qint64 UserDefaults::integerForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString) return v.toString().trimmed().toLongLong();
    return isNumber(v) ? qint64(numberValue(v)) : 0;
}

QStringList UserDefaults::allKeys() const {
    QMutexLocker lock(&mutex_);
    return values_.keys();
}

bool UserDefaults::setObject(const QVariant& value, const QString& key) {
    if (!value.isValid()) {
        removeObjectForKey(key);
        return true;
    }
    if (plistToData(value, PlistFormat::Binary).isEmpty()) {
        log(u"user defaults: value for %@ cannot be stored", key);
        return false;
    }
    QMutexLocker lock(&mutex_);
    values_.insert(key, value);
    dirty_ = true;
    return true;
}

void UserDefaults::removeObjectForKey(const QString& key) {
    QMutexLocker lock(&mutex_);
    if (values_.remove(key)) dirty_ = true;
}

void UserDefaults::removeAllObjects() {
    QMutexLocker lock(&mutex_);
    values_.clear();
    dirty_ = true;
}

bool UserDefaults::synchronize() {
    QMutexLocker lock(&mutex_);
    return !dirty_ || saveLocked();
}

bool UserDefaults::resetIfFirstLaunch() {
    QMutexLocker lock(&mutex_);
    if (values_.contains(QLatin1String(DefaultsKey::IsFirstTimeLaunch))) return false;
    values_.clear();
    dirty_ = true;
    saveLocked();
    return true;
}

}  // namespace platform
