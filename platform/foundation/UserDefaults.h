#pragma once
// The application's user defaults: keys to property-list values (string, number,
// boolean, data, date, list, dictionary), kept in a binary property-list file in the
// user's configuration folder. Every call is thread-safe.
//
// What a user saved is never lost to a save or a read:
// - synchronize() writes a temporary file in the same folder, flushes it to disk, reads it
//   back, keeps the file it replaces as "<file>.previous", and only then renames it into
//   place; a crash or a full disk during a save leaves the last good file.
// - a value that would make the file larger than the reader accepts is refused.
// - a settings file that cannot be read is moved to a dated name beside it (never over
//   another file), the previous version is used when it reads, and a notice waits for the
//   user. A stored value that a reader could not read whole is copied aside the same way
//   (keepValueAside) before anything may replace it.
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace platform {

// Keys the application keeps in its defaults.
namespace DefaultsKey {
inline constexpr char ProjectSession[] = "PROJECT_SESSION";
inline constexpr char SavedPaths[] = "savedPaths";
inline constexpr char FavouriteBatches[] = "FAV_BATCHES";
inline constexpr char IsFirstTimeLaunch[] = "isFirstTimeLaunch";
inline constexpr char IsFirstTime[] = "isFirstTime";
inline constexpr char TrackedForAppStore[] = "trackedForAppStore";
inline constexpr char AppVersion[] = "appVersion";
inline constexpr char TipsIsDisable[] = "tips_isDisable";
inline constexpr char TipsAddPhotosView[] = "tips_addPhotosView";
inline constexpr char TipsAdjustFilterView[] = "tips_adjustFilterView";
inline constexpr char TipsConvertFormatView[] = "tips_convertFormatView";
inline constexpr char DontShowUnsavedEffectPopup[] = "dontShowUnsavedEffectPopup";
}  // namespace DefaultsKey

class UserDefaults {
public:
    // Largest settings file written or read.
    static constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;

    // Saved data that could not be read, kept aside for the user.
    struct KeptAsideNotice {
        QString key;     // the key whose value could not be read; empty for the whole file
        QString keptAs;  // the dated copy; empty when none could be made (see keepValueAside)
    };

    // Defaults kept in the given file (loaded now).
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application's defaults: <AppConfigLocation>/BriskoPhotos.plist.
    static UserDefaults& standardUserDefaults();
    static QString defaultFilePath();

    QString filePath() const;
    // Switches to another file, dropping unsaved changes, and loads it (tests).
    void setFilePath(const QString& filePath);

    QVariant objectForKey(const QString& key) const;
    bool containsKey(const QString& key) const;
    QString stringForKey(const QString& key) const;  // strings only; numbers print as text
    QByteArray dataForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;       // false when absent
    qint64 integerForKey(const QString& key) const;  // 0 when absent
    QStringList allKeys() const;

    // An invalid value removes the key. A value no property list can hold, one that would
    // make the file larger than kMaxFileBytes, and any change to a key whose unreadable
    // value could not be kept aside are refused with a log line and false.
    bool setObject(const QVariant& value, const QString& key);
    bool removeObjectForKey(const QString& key);
    void removeAllObjects();

    // Writes pending changes; false (and one log line) when the file cannot be written, or
    // when it could not be read and could not be moved aside (it is then never written over).
    bool synchronize();

    // The value under `key` could not be read whole: copies it to a new dated file beside
    // the settings file ("<name> <key> unreadable <date>.plist", written, flushed and read
    // back) and queues a notice. The same value kept once before gives the same copy and no
    // second notice. Returns the copy's path; empty when none could be made, and from then
    // on the key refuses every change, so what could not be read is never written over.
    QString keepValueAside(const QString& key);
    // The notices queued since the last call, oldest first. Each one is also announced by
    // the notification "notificationSavedDataKeptAside" (no object, no user info).
    QList<KeptAsideNotice> takeKeptAsideNotices();
    // Where every save keeps the file it replaces.
    QString previousFilePath() const;

    // At launch: when "isFirstTimeLaunch" is missing, every stored setting of the
    // application is cleared (and saved); returns whether that happened.
    bool resetIfFirstLaunch();

private:
    void loadLocked();
    bool saveLocked();
    bool changeAllowedLocked(const QString& key) const;
    void noticeLocked(const QString& key, const QString& keptAs);
    // Posts the notification for notices queued while the lock was held; call unlocked.
    void announceNotices();

    mutable QMutex mutex_;
    QString path_;
    QVariantMap values_;
    bool dirty_ = false;
    // The file could not be read and could not be moved aside: it is never written.
    bool fileUnreadableInPlace_ = false;
    // Keys whose unreadable value could not be copied aside: they are never changed.
    QStringList keysUnreadableInPlace_;
    // Copies made this run, by the digest of what they hold.
    QHash<QByteArray, QString> keptAside_;
    QList<KeptAsideNotice> notices_;
    bool announce_ = false;
};

}  // namespace platform
