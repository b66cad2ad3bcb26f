#pragma once
// The application's user defaults: keys to property-list values (string, number,
// boolean, data, date, list, dictionary), kept in a binary property-list file in the
// user's configuration folder. Every call is thread-safe. Changes are written by
// synchronize() through a temporary file renamed into place, so a crash during a save
// never leaves a damaged file. A damaged or foreign file is set aside and the
// application starts with empty settings.
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

    // An invalid value removes the key. A value no property list can hold is refused
    // with a log line and false.
    bool setObject(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key);
    void removeAllObjects();

    // Writes pending changes; false (and one log line) when the file cannot be written.
    bool synchronize();

    // At launch: when "isFirstTimeLaunch" is missing, every stored setting of the
    // application is cleared (and saved); returns whether that happened.
    bool resetIfFirstLaunch();

private:
    void loadLocked();
    bool saveLocked();

    mutable QMutex mutex_;
    QString path_;
    QVariantMap values_;
    bool dirty_ = false;
};

}  // namespace platform
