#pragma once
// What the application keeps between launches in the user defaults: the favourite
// effect batches ("FAV_BATCHES", a keyed archive of a list of FavouriteBatch, oldest
// first) and the last session ("PROJECT_SESSION", a keyed archive of a ProjectSession,
// with the session's photos as bookmarks under "savedPaths").
//
// Saving a session has two halves: snapshotSession() copies what is to be saved from
// the application's state on the main thread (steps and settings are copied, so later
// edits on the main thread never reach a save in progress), and saveProjectSession()
// archives and stores that copy on any thread.
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "platform/foundation/UserDefaults.h"
#include "records/FavouriteBatch.h"
#include "records/ProjectSession.h"

class AppDelegate;

class Favorites {
public:
    static Favorites& sharedInstance();

    // The stored favourites in stored order; empty when none are stored. A stored list
    // that cannot be read whole gives the favourites that did read, after the stored data
    // was kept aside for the user (platform::UserDefaults::keepValueAside); when no copy
    // could be made it stays in place and every change to the favourites is refused.
    static QList<std::shared_ptr<FavouriteBatch>> favouriteBatches(
        platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());
    // Whether a stored favourite's name equals `name` ignoring letter case.
    static bool containsFavBatchWithName(const QString& name,
                                         platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());
    // Appends a favourite, stores the list and synchronises. Checking the name is the
    // caller's; false, with the stored list unchanged, when the list cannot be archived
    // (its pictures over the archive's limits) or the defaults cannot be written.
    static bool addFavBatch(const std::shared_ptr<FavouriteBatch>& favourite,
                            platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());
    // Replaces the first favourite whose name matches `name` (ignoring case); nothing
    // changes for an empty name, no stored list or no match. True when one was replaced.
    static bool updateFavBatchWithName(const QString& name, const std::shared_ptr<FavouriteBatch>& updated,
                                       platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());
    // Removes the first favourite whose name matches the given one's; the key goes when
    // the last favourite goes. True when one was removed.
    static bool deleteFavBacthWithName(const FavouriteBatch& favourite,
                                       platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

private:
    Favorites() = default;
};

namespace SavedState {

// A session ready to be saved: its own copies of the steps and settings, and the paths
// of the batch's photos in batch order.
struct SessionSnapshot {
    std::shared_ptr<ProjectSession> session;
    QStringList photoPaths;
};

// Main thread: copies the batch's steps, settings and photo paths; dateString = now.
SessionSnapshot snapshotSession(const AppDelegate& app);

// Any thread: stores one bookmark per photo under "savedPaths" (photos whose bookmark
// cannot be made are left out), then the archived session under "PROJECT_SESSION",
// and synchronises. False when the session cannot be archived (nothing is changed then)
// or the defaults cannot be written.
bool saveProjectSession(const SessionSnapshot& snapshot,
                        platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());
// The bookmarks half alone; returns the list stored.
QVariantList saveBookmarkPaths(const QStringList& photoPaths,
                               platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// The bookmarks of the batch's photos, in batch order, from the main thread.
QVariantList saveBookmarkPathsFromTableView(const AppDelegate& app,
                                            platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// Both halves at once, from the main thread.
bool saveProjectSessionToDefault(const AppDelegate& app,
                                 platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// The stored session, or nullptr when there is none or it cannot be read (logged). A
// session that does not read whole is kept aside for the user first, as favourites are,
// and what did read is returned.
std::shared_ptr<ProjectSession> loadProjectSession(
    platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// One saved photo of the session.
struct SavedPhoto {
    QString path;
    QVariant state;  // the optional "state" entry stored beside the bookmark
};
// The photos of the stored session whose files are still there, in saved order; the
// others are left out (logged).
QList<SavedPhoto> restoreSavedPhotos(platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// Forgets the stored session ("PROJECT_SESSION") and synchronises; false when it could
// not be forgotten.
bool removeProjectSession(platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// The one alert that tells the user about saved data that could not be read and where it
// was kept, from the string table; nullopt when there is nothing to tell.
struct KeptAsideAlert {
    QString title;
    QString message;
};
std::optional<KeptAsideAlert> keptAsideAlert(const QList<platform::UserDefaults::KeptAsideNotice>& notices);

}  // namespace SavedState
