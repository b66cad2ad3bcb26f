#include "platform/foundation/UserDefaults.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

#include "platform/foundation/FileSync.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Values.h"

namespace platform {

namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The settings a file holds, or nullopt when it cannot be read as settings. Settings
// that could not be written back (a part that did not read) count as unreadable too.
std::optional<QVariantMap> readSettings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > UserDefaults::kMaxFileBytes) return std::nullopt;
    const QVariant root = plistFromData(file.readAll());
    if (root.typeId() != QMetaType::QVariantMap || plistToData(root, PlistFormat::Binary).isEmpty()) return std::nullopt;
    return root.toMap();
}

// A name beside the settings file that no file has yet: "<name> <what> <date>.plist",
// then " 2", " 3", ... before the extension.
QString freshAsideName(const QString& settingsPath, const QString& what) {
    const QFileInfo info(settingsPath);
    const QString stem = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char(' ') + what +
                         QLatin1Char(' ') + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = stem + (n > 1 ? QStringLiteral(" %1").arg(n) : QString()) + QStringLiteral(".plist");
        if (!QFileInfo::exists(candidate)) return candidate;
    }
    return {};
}

// Writes bytes to a new file (never over one), flushes it and reads it back.
bool writeNewFileVerified(const QString& path, const QByteArray& bytes) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
    const bool written = out.write(bytes) == bytes.size() && out.flush();
    out.close();
    QFile back(path);
    const bool same = written && syncFileAndFolder(path) && back.open(QIODevice::ReadOnly) && back.readAll() == bytes;
    if (!same) QFile::remove(path);
    return same;
}

// Replaces `previous` by a second name of `path` (a copy where links cannot be made),
// so the file a save replaces stays on disk.
bool keepPreviousVersion(const QString& path, const QString& previous) {
    if (!QFileInfo::exists(path)) return true;
    const QString staging = previous + QStringLiteral(".new");
    QFile::remove(staging);
    const bool linked = ::link(QFile::encodeName(path).constData(), QFile::encodeName(staging).constData()) == 0;
    if (!linked && !QFile::copy(path, staging)) return false;
    if (std::rename(QFile::encodeName(staging).constData(), QFile::encodeName(previous).constData()) != 0) {
        QFile::remove(staging);
        return false;
    }
    return true;
}

}  // namespace

UserDefaults::UserDefaults(const QString& filePath) : path_(filePath) {
    {
        QMutexLocker lock(&mutex_);
        loadLocked();
    }
    announceNotices();
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
    {
        QMutexLocker lock(&mutex_);
        path_ = filePath;
        loadLocked();
    }
    announceNotices();
}

QString UserDefaults::previousFilePath() const {
    QMutexLocker lock(&mutex_);
    return path_ + QStringLiteral(".previous");
}

void UserDefaults::loadLocked() {
    values_.clear();
    dirty_ = false;
    fileUnreadableInPlace_ = false;
    keysUnreadableInPlace_.clear();
    const QFileInfo info(path_);
    // No file, or an empty one (nothing to lose), is a first start.
    if (!info.exists() || info.size() == 0) return;
    if (auto settings = readSettings(path_)) {
        values_ = std::move(*settings);
        return;
    }
    // Kept for the user under a dated name, never over another file, before anything
    // can be saved in its place.
    const QString aside = freshAsideName(path_, QStringLiteral("unreadable"));
    const bool kept = !aside.isEmpty() && QFile::rename(path_, aside) && syncFileAndFolder(aside);
    fileUnreadableInPlace_ = !kept && QFileInfo::exists(path_);
    noticeLocked(QString(), kept ? aside : QString());
    log(u"user defaults: %@ cannot be read as settings; %@", path_,
        kept ? QStringLiteral("kept as ") + aside : QStringLiteral("left where it is and not written over"));
    // The version the last good save replaced is the nearest to what was lost.
    if (auto previous = readSettings(path_ + QStringLiteral(".previous"))) {
        values_ = std::move(*previous);
        dirty_ = true;
        log(u"user defaults: using the previous version of the settings");
    }
}

bool UserDefaults::saveLocked() {
    if (fileUnreadableInPlace_) {
        log(u"user defaults: %@ could not be read nor moved aside; it is not written over", path_);
        return false;
    }
    const QByteArray bytes = plistToData(values_, PlistFormat::Binary);
    if (bytes.isEmpty() || bytes.size() > kMaxFileBytes) {
        log(u"user defaults: settings could not be converted for saving");
        return false;
    }
    const QFileInfo info(path_);
    QDir().mkpath(info.absolutePath());
    QTemporaryFile out(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    QString why;
    if (!out.open()) {
        why = out.errorString();
    } else if (out.write(bytes) != bytes.size() || !out.flush()) {
        why = systemError();
    } else if (::fsync(out.handle()) != 0) {
        why = systemError();
    } else if (!out.seek(0) || out.readAll() != bytes) {
        why = QStringLiteral("what was written does not read back");
    } else if (!keepPreviousVersion(path_, path_ + QStringLiteral(".previous"))) {
        why = QStringLiteral("the previous version could not be kept");
    } else if (std::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(path_).constData()) != 0) {
        why = systemError();
    } else {
        out.setAutoRemove(false);  // it is the settings file now
        syncFileAndFolder(path_);
        dirty_ = false;
        return true;
    }
    log(u"user defaults: cannot write %@ (%@); the last saved settings stay", path_, why);
    return false;
}

bool UserDefaults::changeAllowedLocked(const QString& key) const {
    if (!keysUnreadableInPlace_.contains(key)) return true;
    log(u"user defaults: %@ could not be read nor kept aside; it is not changed", key);
    return false;
}

void UserDefaults::noticeLocked(const QString& key, const QString& keptAs) {
    notices_.append({key, keptAs});
    announce_ = true;
}

void UserDefaults::announceNotices() {
    bool announce = false;
    {
        QMutexLocker lock(&mutex_);
        std::swap(announce, announce_);
    }
    if (announce) NotificationCenter::defaultCenter().postNotification(notifications::SavedDataKeptAside);
}

QList<UserDefaults::KeptAsideNotice> UserDefaults::takeKeptAsideNotices() {
    QMutexLocker lock(&mutex_);
    return std::exchange(notices_, {});
}

QString UserDefaults::keepValueAside(const QString& key) {
    QString kept;
    {
        QMutexLocker lock(&mutex_);
        const QVariant value = values_.value(key);
        if (!value.isValid()) return {};
        const QByteArray bytes =
            value.typeId() == QMetaType::QByteArray ? value.toByteArray() : plistToData(value, PlistFormat::Binary);
        const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        if (const auto known = keptAside_.constFind(digest); known != keptAside_.constEnd()) return *known;
        const QString aside = freshAsideName(path_, key + QStringLiteral(" unreadable"));
        if (!aside.isEmpty()) QDir().mkpath(QFileInfo(aside).absolutePath());
        if (!bytes.isEmpty() && !aside.isEmpty() && writeNewFileVerified(aside, bytes)) {
            kept = aside;
            keptAside_.insert(digest, kept);
            log(u"user defaults: %@ cannot be read whole; what was stored is kept as %@", key, kept);
        } else if (!keysUnreadableInPlace_.contains(key)) {
            keysUnreadableInPlace_.append(key);
            log(u"user defaults: %@ cannot be read whole nor kept aside; it is left as it is", key);
        } else {
            return {};  // said once already
        }
        noticeLocked(key, kept);
    }
    announceNotices();
    return kept;
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
    if (!value.isValid()) return removeObjectForKey(key);
    if (plistToData(value, PlistFormat::Binary).isEmpty()) {
        log(u"user defaults: value for %@ cannot be stored", key);
        return false;
    }
    QMutexLocker lock(&mutex_);
    if (!changeAllowedLocked(key)) return false;
    // Never more than the reader takes back: a file it refused would lose every setting.
    QVariantMap next = values_;
    next.insert(key, value);
    if (plistToData(next, PlistFormat::Binary).size() > kMaxFileBytes) {
        log(u"user defaults: value for %@ would make the settings larger than %@ bytes; not stored", key, kMaxFileBytes);
        return false;
    }
    values_ = std::move(next);
    dirty_ = true;
    return true;
}

bool UserDefaults::removeObjectForKey(const QString& key) {
    QMutexLocker lock(&mutex_);
    if (!changeAllowedLocked(key)) return false;
    if (values_.remove(key)) dirty_ = true;
    return true;
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
