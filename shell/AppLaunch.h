#pragma once
// Application start-up: fills the one AppDelegate with its launch values in a fixed
// order (string table, first launch, the Photos-library check, the system-version
// flags) and opens the main window. Every outside fact the start-up reads can be given
// in LaunchOptions, so the sequence runs the same under test.
#include <QString>

class AppDelegate;
class MainWindowController;
namespace platform { class UserDefaults; }

struct LaunchOptions {
    // "major.minor" of the running system; empty reads it from the kernel.
    QString systemVersion;
    // Where a Photos library would be; empty looks in the user's Pictures folder.
    QString photosLibraryPath;
    // The defaults to use; null takes the application's standard defaults.
    platform::UserDefaults* defaults = nullptr;
    bool openMainWindow = true;
    // Qt's network-information backend the reachability watch reads ("" for the
    // system's own choice).
    QString reachabilityBackend;
};

class AppLaunch {
public:
    // Runs the whole start-up; returns the main window (null when not asked to open one).
    static MainWindowController* applicationDidFinishLaunching(const LaunchOptions& options = {});

    // Each step on its own.
    static void setLaunchValues(AppDelegate& app);
    // Replaces the string table by the one in the resources (empty when unreadable).
    static void loadStringTable(AppDelegate& app);
    // A missing "isFirstTimeLaunch" clears the defaults; the key is then written so the
    // next launch keeps what the user saves. Returns whether this was a first launch.
    static bool handleFirstLaunch(platform::UserDefaults& defaults);
    static bool photosAppInstalled(const QString& libraryPath = {});
    // Clears every version flag, logs "OS Version: <version>" and sets exactly one flag.
    static void setVersionFlags(AppDelegate& app, const QString& version);
    // "major.minor" of the running kernel, the nearest thing this platform has.
    static QString runningSystemVersion();
    // Clears, in the background, what runs that did not end left: their temporary files and
    // their unfinished Trash entries (platform::RunRecord).
    static void clearAfterUnfinishedRuns();
    // The watch on the system's network state, made by the start-up and kept for the
    // application's life (null before the start-up).
    static class ReachabilityWatch* reachabilityWatch();

    // The three characters the photo-library query's album form takes.
    static const QString kAlbumName;
};
