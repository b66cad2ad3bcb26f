#include "records/SavedState.h"

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Log.h"
#include "records/AppDelegate.h"
#include "records/Archiving.h"
#include "records/Bookmark.h"
#include "records/CommonFunc.h"
#include "records/PhotoFile.h"

using platform::DefaultsKey::FavouriteBatches;
namespace Key = platform::DefaultsKey;
using platform::DefaultsKey::SavedPaths;
using platform::KeyedDecoder;
using platform::KeyedEncoder;
using platform::UserDefaults;

namespace {

const QString kBookmarkPathKey = QStringLiteral("path");
const QString kBookmarkStateKey = QStringLiteral("state");

bool sameName(const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) == 0; }

bool storeFavourites(const QList<std::shared_ptr<FavouriteBatch>>& list, UserDefaults& defaults) {
    if (list.isEmpty()) {
        if (!defaults.removeObjectForKey(FavouriteBatches)) return false;
    } else {
        const QByteArray archive = KeyedEncoder::archivedDataWithRootArray(list);
        if (archive.isEmpty() || !defaults.setObject(archive, FavouriteBatches)) return false;
    }
    return defaults.synchronize();
}

// Stored data that did not read whole is kept aside (a dated copy, and a notice for the
// user) before the part that did read takes its place, so nothing a user saved is written
// over and the same loss is not reported again. When no copy can be made, the defaults
// refuse every change to the key and the stored data stays as it is.
template <class Store>
void keepAsideAndStoreReadablePart(UserDefaults& defaults, const char* key, Store storeReadablePart) {
    if (defaults.keepValueAside(QString::fromLatin1(key)).isEmpty()) return;
    if (!storeReadablePart()) platform::log(u"%@: what could be read is not stored again", key);
}

// The stored list, or nullopt when the key is absent. A list that cannot be read whole
// gives the favourites that did read.
std::optional<QList<std::shared_ptr<FavouriteBatch>>> storedFavourites(UserDefaults& defaults) {
    const QVariant stored = defaults.objectForKey(FavouriteBatches);
    if (!stored.isValid()) return std::nullopt;
    bool whole = false;
    const auto list = stored.typeId() == QMetaType::QByteArray
                          ? KeyedDecoder::unarchiveArrayWithData<FavouriteBatch>(stored.toByteArray(), &whole)
                          : std::nullopt;
    QList<std::shared_ptr<FavouriteBatch>> readable;
    if (list) readable = QList<std::shared_ptr<FavouriteBatch>>(list->begin(), list->end());
    if (!whole) {
        platform::log(u"favourites: the stored list cannot be read whole (%@ favourites read)", readable.size());
        keepAsideAndStoreReadablePart(defaults, FavouriteBatches, [&] { return storeFavourites(readable, defaults); });
    }
    return readable;
}

int indexOfName(const QList<std::shared_ptr<FavouriteBatch>>& list, const QString& name) {
    for (int i = 0; i < list.size(); ++i)
        if (list[i] && sameName(list[i]->name, name)) return i;
    return -1;
}

}  // namespace

Favorites& Favorites::sharedInstance() {
    static Favorites shared;
    return shared;
}

QList<std::shared_ptr<FavouriteBatch>> Favorites::favouriteBatches(UserDefaults& defaults) {
    return storedFavourites(defaults).value_or(QList<std::shared_ptr<FavouriteBatch>>());
}

bool Favorites::containsFavBatchWithName(const QString& name, UserDefaults& defaults) {
    return indexOfName(favouriteBatches(defaults), name) >= 0;
}

bool Favorites::addFavBatch(const std::shared_ptr<FavouriteBatch>& favourite, UserDefaults& defaults) {
    if (!favourite) return false;
    auto list = favouriteBatches(defaults);
    list.append(favourite);
    return storeFavourites(list, defaults);
}

bool Favorites::updateFavBatchWithName(const QString& name, const std::shared_ptr<FavouriteBatch>& updated,
                                       UserDefaults& defaults) {
    if (name.isEmpty() || !updated) return false;
    auto list = storedFavourites(defaults);
    if (!list) return false;
    const int i = indexOfName(*list, name);
    if (i < 0) return false;
    (*list)[i] = updated;
    return storeFavourites(*list, defaults);
}

bool Favorites::deleteFavBacthWithName(const FavouriteBatch& favourite, UserDefaults& defaults) {
    if (favourite.name.isEmpty()) return false;
    auto list = storedFavourites(defaults);
    if (!list) return false;
    const int i = indexOfName(*list, favourite.name);
    if (i < 0) return false;
    list->removeAt(i);
    return storeFavourites(*list, defaults);
}

namespace SavedState {

namespace {
QStringList photoPathsOf(const AppDelegate& app) {
    QStringList paths;
    for (const auto& photo : app.arraySelectedImagesToProcess)
        if (photo) paths.append(photo->filePath);
    return paths;
}
}  // namespace

SessionSnapshot snapshotSession(const AppDelegate& app) {
    SessionSnapshot snap;
    auto session = std::make_shared<::ProjectSession>();
    session->dateString = archiving::creationDateString();
    for (const auto& step : app.arrayAppliedFilters)
        if (step) session->arrayAppliedFilters.append(std::make_shared<AppliedFilter>(*step));
    if (app.selectedOuputSettingObj)
        session->outputSettings = std::make_shared<OutputOptionSettings>(*app.selectedOuputSettingObj);
    if (app.selectedRenameSettingObj)
        session->batchRenameSettings = std::make_shared<BatchRenameSetting>(*app.selectedRenameSettingObj);
    if (app.selectedMetatDataSettingObj)
        session->metaDataSetting = std::make_shared<MetaDataObject>(*app.selectedMetatDataSettingObj);
    snap.session = session;
    snap.photoPaths = photoPathsOf(app);
    return snap;
}

QVariantList saveBookmarkPathsFromTableView(const AppDelegate& app, UserDefaults& defaults) {
    return saveBookmarkPaths(photoPathsOf(app), defaults);
}

QVariantList saveBookmarkPaths(const QStringList& photoPaths, UserDefaults& defaults) {
    QVariantList list;
    for (const QString& path : photoPaths) {
        const QByteArray bookmark = Bookmark::bookmarkDataForPath(path);
        if (!bookmark.isEmpty()) list.append(QVariantMap{{kBookmarkPathKey, bookmark}});
    }
    defaults.setObject(list, SavedPaths);
    defaults.synchronize();
    return list;
}

bool saveProjectSession(const SessionSnapshot& snapshot, UserDefaults& defaults) {
    if (!snapshot.session) return false;
    // Made first: a session that cannot be archived leaves the saved one and its photos as
    // they were.
    const QByteArray archive = KeyedEncoder::archivedDataWithRootObject(*snapshot.session);
    if (archive.isEmpty()) {
        platform::log(u"session: the session cannot be archived; the saved one is kept");
        return false;
    }
    saveBookmarkPaths(snapshot.photoPaths, defaults);
    return defaults.setObject(archive, Key::ProjectSession) && defaults.synchronize();
}

bool saveProjectSessionToDefault(const AppDelegate& app, UserDefaults& defaults) {
    return saveProjectSession(snapshotSession(app), defaults);
}

std::shared_ptr<::ProjectSession> loadProjectSession(UserDefaults& defaults) {
    const QVariant stored = defaults.objectForKey(Key::ProjectSession);
    if (!stored.isValid()) return nullptr;
    bool whole = false;
    auto session = stored.typeId() == QMetaType::QByteArray
                       ? KeyedDecoder::unarchiveObjectWithData<::ProjectSession>(stored.toByteArray(), &whole)
                       : nullptr;
    if (!whole) {
        platform::log(u"session: the saved session cannot be read%@", session ? QStringLiteral(" whole") : QString());
        keepAsideAndStoreReadablePart(defaults, Key::ProjectSession, [&] {
            if (!session) return defaults.removeObjectForKey(Key::ProjectSession) && defaults.synchronize();
            const QByteArray archive = KeyedEncoder::archivedDataWithRootObject(*session);
            return !archive.isEmpty() && defaults.setObject(archive, Key::ProjectSession) && defaults.synchronize();
        });
    }
    return session;
}

QList<SavedPhoto> restoreSavedPhotos(UserDefaults& defaults) {
    QList<SavedPhoto> out;
    for (const QVariant& entry : defaults.arrayForKey(SavedPaths)) {
        const QVariantMap m = entry.toMap();
        const QString path = Bookmark::resolveBookmarkData(m.value(kBookmarkPathKey).toByteArray());
        if (path.isEmpty()) {
            platform::log(u"session: a saved photo is no longer available");
            continue;
        }
        out.append({path, m.value(kBookmarkStateKey)});
    }
    return out;
}

bool removeProjectSession(UserDefaults& defaults) {
    return defaults.removeObjectForKey(Key::ProjectSession) && defaults.synchronize();
}

std::optional<KeptAsideAlert> keptAsideAlert(const QList<UserDefaults::KeptAsideNotice>& notices) {
    if (notices.isEmpty()) return std::nullopt;
    QStringList paragraphs;
    for (const auto& notice : notices) {
        const QString what = CommonFunc::getLocalizedStringForKey(
            notice.key == QLatin1String(FavouriteBatches)  ? QStringLiteral("ID_SAVED_FAVORITES")
            : notice.key == QLatin1String(Key::ProjectSession) ? QStringLiteral("ID_SAVED_SESSION")
                                                               : QStringLiteral("ID_SAVED_SETTINGS"));
        paragraphs << (notice.keptAs.isEmpty()
                           ? CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SAVED_DATA_LEFT_IN_PLACE"), {what})
                           : CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SAVED_DATA_KEPT_ASIDE"),
                                                                  {what, notice.keptAs}));
    }
    paragraphs.removeDuplicates();
    return KeptAsideAlert{CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SAVED_DATA_TITLE")),
                          paragraphs.join(QStringLiteral("\n\n"))};
}

}  // namespace SavedState
