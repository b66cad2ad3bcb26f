#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <thread>

#include "platform/foundation/KeyedArchive.h"
#include "records/AppDelegate.h"
#include "records/Archiving.h"
#include "records/Bookmark.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "tests/support/TestSupport.h"

using platform::UserDefaults;
namespace Key = platform::DefaultsKey;

namespace {

std::shared_ptr<FavouriteBatch> favourite(const QString& name, int steps = 1) {
    auto f = std::make_shared<FavouriteBatch>();
    f->name = name;
    f->dateString = archiving::creationDateString();
    for (int i = 0; i < steps; ++i)
        f->filtersArray.append(AppliedFilter::initWithFilterName("CISepiaTone", "Sepia", {}, QImage(), nullptr));
    return f;
}

QStringList names(const QList<std::shared_ptr<FavouriteBatch>>& list) {
    QStringList out;
    for (const auto& f : list) out << f->name;
    return out;
}

std::shared_ptr<PhotoFile> photoAt(const QString& path) {
    auto p = std::make_shared<PhotoFile>();
    p->filePath = path;
    p->fileURL = path;
    return p;
}

// Leaves the shared application state as the process started with it.
struct AppStateGuard {
    ~AppStateGuard() { AppDelegate::shared().resetToLaunchValues(); }
};

}  // namespace

TEST(Favourites, SavedListedUpdatedAndDeleted) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    EXPECT_TRUE(Favorites::favouriteBatches(defaults).isEmpty());
    ASSERT_TRUE(Favorites::addFavBatch(favourite("Warm", 2), defaults));
    ASSERT_TRUE(Favorites::addFavBatch(favourite("Cold"), defaults));
    EXPECT_EQ(names(Favorites::favouriteBatches(defaults)), QStringList({"Warm", "Cold"}));
    EXPECT_TRUE(Favorites::containsFavBatchWithName("wARM", defaults));
    EXPECT_EQ(Favorites::favouriteBatches(defaults)[0]->filtersArray.size(), 2);
    // Stored as a keyed archive of the list, readable after a reload.
    EXPECT_EQ(names(Favorites::favouriteBatches(*std::make_unique<UserDefaults>(dir.filePath("d.plist")))),
              QStringList({"Warm", "Cold"}));

    // Matching ignores case; names that match nothing change nothing.
    EXPECT_TRUE(Favorites::updateFavBatchWithName("COLD", favourite("Icy", 3), defaults));
    EXPECT_EQ(names(Favorites::favouriteBatches(defaults)), QStringList({"Warm", "Icy"}));
    EXPECT_FALSE(Favorites::updateFavBatchWithName("nothing", favourite("X"), defaults));
    EXPECT_FALSE(Favorites::updateFavBatchWithName("", favourite("X"), defaults));
    EXPECT_FALSE(Favorites::deleteFavBacthWithName(*favourite("nothing"), defaults));
    EXPECT_EQ(names(Favorites::favouriteBatches(defaults)), QStringList({"Warm", "Icy"}));

    EXPECT_TRUE(Favorites::deleteFavBacthWithName(*favourite("warm"), defaults));
    EXPECT_EQ(names(Favorites::favouriteBatches(defaults)), QStringList({"Icy"}));
    EXPECT_TRUE(defaults.containsKey(Key::FavouriteBatches));
    // The last one takes the key with it.
    EXPECT_TRUE(Favorites::deleteFavBacthWithName(*favourite("ICY"), defaults));
    EXPECT_FALSE(defaults.containsKey(Key::FavouriteBatches));
    EXPECT_FALSE(UserDefaults(dir.filePath("d.plist")).containsKey(Key::FavouriteBatches));
    EXPECT_FALSE(Favorites::deleteFavBacthWithName(*favourite("Icy"), defaults));
}

TEST(Favourites, DamagedStoreReadsAsEmpty) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    Favorites::addFavBatch(favourite("Warm"), defaults);
    QByteArray stored = defaults.dataForKey(Key::FavouriteBatches);
    defaults.setObject(stored.left(stored.size() / 2), Key::FavouriteBatches);
    EXPECT_TRUE(Favorites::favouriteBatches(defaults).isEmpty());
    EXPECT_FALSE(Favorites::deleteFavBacthWithName(*favourite("Warm"), defaults));
    defaults.setObject(QStringLiteral("not data"), Key::FavouriteBatches);
    EXPECT_TRUE(Favorites::favouriteBatches(defaults).isEmpty());
}

TEST(SavedSession, PhotosThatCannotBeBookmarkedOrFoundAreLeftOut) {
    AppStateGuard guard;
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    AppDelegate& app = AppDelegate::shared();
    const QString a = testsupport::writeFile(dir.filePath("a.jpg"), "a");
    const QString c = testsupport::writeFile(dir.filePath("c.jpg"), "c");
    const QString d = testsupport::writeFile(dir.filePath("d.jpg"), "d");
    app.arraySelectedImagesToProcess = {photoAt(a), photoAt(dir.filePath("missing.jpg")), photoAt(c), photoAt(d)};
    app.arrayAppliedFilters = {AppliedFilter::initWithFilterName("CIBloom", "Bloom", {}, QImage(), nullptr)};
    app.selectedOuputSettingObj = OutputOptionSettings::makeDefault();
    app.selectedMetatDataSettingObj = std::make_shared<MetaDataObject>();
    app.selectedMetatDataSettingObj->Artist = "Ann";

    // The bookmarks alone: the photo that is gone is left out, the rest kept in order.
    EXPECT_EQ(SavedState::saveBookmarkPathsFromTableView(app, defaults).size(), 3);
    ASSERT_TRUE(SavedState::saveProjectSessionToDefault(app, defaults));
    EXPECT_EQ(defaults.arrayForKey(Key::SavedPaths).size(), 3);

    // Later, one of the saved photos is deleted: the others come back in order.
    QFile::remove(c);
    UserDefaults reopened(dir.filePath("d.plist"));
    QStringList restored;
    for (const auto& photo : SavedState::restoreSavedPhotos(reopened)) restored << photo.path;
    EXPECT_EQ(restored, QStringList({a, d}));
    auto session = SavedState::loadProjectSession(reopened);
    ASSERT_TRUE(session);
    ASSERT_EQ(session->arrayAppliedFilters.size(), 1);
    EXPECT_EQ(session->arrayAppliedFilters[0]->filterName, "CIBloom");
    EXPECT_EQ(session->metaDataSetting->Artist, "Ann");
    EXPECT_TRUE(session->outputSettings);
    EXPECT_FALSE(session->batchRenameSettings);  // never made, stays absent

    SavedState::removeProjectSession(reopened);
    EXPECT_FALSE(SavedState::loadProjectSession(reopened));
}

TEST(SavedSession, EmptyBatchStillSavesTheSession) {
    AppStateGuard guard;
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    ASSERT_TRUE(SavedState::saveProjectSessionToDefault(AppDelegate::shared(), defaults));
    EXPECT_TRUE(defaults.containsKey(Key::SavedPaths));
    EXPECT_TRUE(defaults.arrayForKey(Key::SavedPaths).isEmpty());
    EXPECT_TRUE(SavedState::loadProjectSession(defaults));
}

TEST(SavedSession, SavingWorksFromItsOwnCopy) {
    AppStateGuard guard;
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    AppDelegate& app = AppDelegate::shared();
    app.arrayAppliedFilters = {AppliedFilter::initWithFilterName("CIBloom", "Bloom", {}, QImage(), nullptr)};
    app.selectedMetatDataSettingObj = std::make_shared<MetaDataObject>();
    app.selectedMetatDataSettingObj->Artist = "Before";
    const auto snapshot = SavedState::snapshotSession(app);

    // The main thread goes on editing while a worker saves.
    std::thread worker([&] { SavedState::saveProjectSession(snapshot, defaults); });
    for (int i = 0; i < 200; ++i) {
        app.arrayAppliedFilters.append(AppliedFilter::initWithFilterName("CIPixellate", "P", {}, QImage(), nullptr));
        app.arrayAppliedFilters.first()->filterName = QStringLiteral("Edited %1").arg(i);
        app.selectedMetatDataSettingObj->Artist = QStringLiteral("After %1").arg(i);
    }
    worker.join();

    auto session = SavedState::loadProjectSession(defaults);
    ASSERT_TRUE(session);
    ASSERT_EQ(session->arrayAppliedFilters.size(), 1);
    EXPECT_EQ(session->arrayAppliedFilters[0]->filterName, "CIBloom");
    EXPECT_EQ(session->metaDataSetting->Artist, "Before");
}

TEST(SavedSession, DamagedSessionReadsAsNone) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    ProjectSession s;
    s.arrayAppliedFilters = {AppliedFilter::initWithFilterName("CIBloom", "Bloom", {}, QImage(), nullptr)};
    const QByteArray archive = platform::KeyedEncoder::archivedDataWithRootObject(s);
    for (int cut : {1, 8, int(archive.size()) / 2, int(archive.size()) - 1}) {
        defaults.setObject(archive.left(cut), Key::ProjectSession);
        EXPECT_FALSE(SavedState::loadProjectSession(defaults)) << cut;
    }
    FavouriteBatch wrongClass;
    defaults.setObject(platform::KeyedEncoder::archivedDataWithRootObject(wrongClass), Key::ProjectSession);
    EXPECT_FALSE(SavedState::loadProjectSession(defaults));
}

TEST(Bookmark, ResolvesWhileTheFileIsThere) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath("p.jpg"), "first");
    const QByteArray data = Bookmark::bookmarkDataForPath(path);
    ASSERT_FALSE(data.isEmpty());
    bool stale = true;
    EXPECT_EQ(Bookmark::resolveBookmarkData(data, &stale), path);
    EXPECT_FALSE(stale);

    // Another file put at the same place resolves, marked stale.
    QFile::remove(path);
    testsupport::writeFile(path, "second, longer");
    EXPECT_EQ(Bookmark::resolveBookmarkData(data, &stale), path);
    EXPECT_TRUE(stale);

    QFile::remove(path);
    EXPECT_EQ(Bookmark::resolveBookmarkData(data), QString());
    EXPECT_TRUE(Bookmark::bookmarkDataForPath(path).isEmpty());
    EXPECT_TRUE(Bookmark::bookmarkDataForPath(dir.path()).isEmpty());  // a folder is no photo
    EXPECT_EQ(Bookmark::resolveBookmarkData("garbage"), QString());
    EXPECT_EQ(Bookmark::resolveBookmarkData(data.left(data.size() - 3)), QString());
}
