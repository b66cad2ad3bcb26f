#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <thread>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "records/Archiving.h"
#include "records/Bookmark.h"
#include "records/CommonFunc.h"
#include "records/FavouriteAdder.h"
#include "records/MetaDataObject.h"
#include "records/ParameterList.h"
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

// A step that lays the user's own picture over the photo.
std::shared_ptr<AppliedFilter> customPictureStep(const QImage& picture) {
    return AppliedFilter::initWithFilterName(
        "Add Custom Image", "Add Custom Image",
        testsupport::parameterList({{"imageToAdd", picture},
                                    {"boundedRect", QVariant::fromValue(platform::Vec(0.1, 0.1, 0.5, 0.5))}}),
        QImage(), nullptr);
}

QImage pictureOf(const AppliedFilter& step) {
    return ParameterList::valueForKey(step.filterParameters, QStringLiteral("imageToAdd")).value<QImage>();
}

// What an earlier writer stored for a picture of any size: over what the reader takes.
QByteArray withPictureOverTheLimit(const QByteArray& archive) {
    const int side = platform::kArchivePictureMaxSide + 1;
    return testsupport::withArchivedPicturesReplaced(archive, testsupport::flatPng(side, side));
}


// The stored session was copied aside byte for byte, once, and the user is to hear of it once.
void expectSessionKeptAside(const QString& folder, UserDefaults& defaults, const QByteArray& stored) {
    const QStringList kept = testsupport::keptAsideFiles(folder);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(testsupport::readFile(kept[0]), stored);
    const auto notices = defaults.takeKeptAsideNotices();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0].key, QString::fromLatin1(Key::ProjectSession));
}

// Leaves the shared application state as the process started with it.
struct AppStateGuard {
    ~AppStateGuard() { AppDelegate::shared().resetToLaunchValues(); }
};

// A session archive written key by key, so that a value can be of a kind the program never
// writes there (an edited or damaged store). `odd` replaces one key's value of the step,
// of the output options, of the rename settings or of the session itself ("step.isApplied").
using HandKeyWriter = std::function<void(platform::KeyedEncoder&, const QString& key)>;
using HandKeys = QList<std::pair<QString, HandKeyWriter>>;
struct HandWrittenSession {
    QString oddKey;
    HandKeyWriter odd;
};

void writeHandKeys(platform::KeyedEncoder& c, const HandWrittenSession& s, const QString& record, const HandKeys& keys) {
    for (const auto& [key, write] : keys) (s.oddKey == record + u'.' + key ? s.odd : write)(c, key);
}

// A record of that class holding the keys; `identity` tells records apart.
HandKeyWriter handRecord(const HandWrittenSession& s, const char* className, const QString& record, HandKeys keys,
                         const void* identity) {
    return [&s, className, record, keys, identity](platform::KeyedEncoder& c, const QString& key) {
        c.setUidForKey(c.uidForCustom(identity, QString::fromLatin1(className),
                                      [&](platform::KeyedEncoder& inner) { writeHandKeys(inner, s, record, keys); }),
                       key);
    };
}

HandKeyWriter handValue(const QVariant& v) {
    return [v](platform::KeyedEncoder& c, const QString& k) { c.encodeObject(v, k); };
}

}  // namespace

template <>
struct platform::ArchiveTraits<HandWrittenSession> {
    static QString className() { return QStringLiteral("ProjectSession"); }
    static void decode(HandWrittenSession&, KeyedDecoder&) {}
    static void encode(const HandWrittenSession& s, KeyedEncoder& c) {
        static const int stepIds[2] = {}, output = 0, rename = 0;
        const HandKeys step = {{"filterName", handValue(QStringLiteral("CISepiaTone"))},
                               {"filterDisplayName", handValue(QStringLiteral("Sepia"))},
                               {"filterParameters", handValue(QVariantList{QVariantMap{{"inputIntensity", 0.5}}})},
                               {"isApplied", handValue(true)}};
        std::vector<quint64> steps;
        for (const int& id : stepIds)
            steps.push_back(c.uidForCustom(&id, QStringLiteral("AppliedFilter"),
                                           [&](KeyedEncoder& inner) { writeHandKeys(inner, s, "step", step); }));
        writeHandKeys(
            c, s, "session",
            {{"dateString", handValue(QStringLiteral("Jan-02-2026 10:00:0 AM"))},
             {"arrayAppliedFilters", [&](KeyedEncoder& e, const QString& k) { e.setUidForKey(e.uidForArrayOfUids(steps), k); }},
             {"outputSettings", handRecord(s, "OutputOptionSettings", "output",
                                           {{"outputFolderPath", handValue(QStringLiteral("/out"))},
                                            {"useSourceFolder", handValue(false)}},
                                           &output)},
             {"batchRenameSettings", handRecord(s, "BatchRenameSetting", "rename", {{"outputFormat", handValue(4)}}, &rename)}});
    }
};

TEST(SavedSession, ValuesOfTheWrongKindAreKeptAsideAndToldOnce) {
    // A session as the program writes it reads whole.
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("d.plist"));
        defaults.setObject(platform::KeyedEncoder::archivedDataWithRootObject(HandWrittenSession{}), Key::ProjectSession);
        const auto session = SavedState::loadProjectSession(defaults);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->arrayAppliedFilters.size(), 2);
        EXPECT_TRUE(session->arrayAppliedFilters[0]->isApplied);
        EXPECT_EQ(session->batchRenameSettings->outputFormat, 4);
        EXPECT_TRUE(defaults.takeKeptAsideNotices().isEmpty());
    }
    const auto number = [](platform::KeyedEncoder& c, const QString& k) { c.encodeInt(3, k); };
    const auto word = [](platform::KeyedEncoder& c, const QString& k) { c.encodeObject(QStringLiteral("YES"), k); };
    const auto listOfWords = [](platform::KeyedEncoder& c, const QString& k) {
        c.encodeObject(QVariantList{QStringLiteral("inputIntensity"), 0.5}, k);
    };
    const struct {
        HandWrittenSession session;
        int stepsRead;
    } cases[] = {
        {{"session.arrayAppliedFilters", number}, 0},   // every step, as a number written in place
        {{"session.arrayAppliedFilters", word}, 0},
        {{"step.isApplied", word}, 2},                   // the steps would be switched off
        {{"step.filterName", number}, 2},
        {{"step.filterParameters", word}, 2},
        {{"step.filterParameters", listOfWords}, 2},
        {{"output.useSourceFolder", word}, 2},
        {{"rename.outputFormat", word}, 2},
        {{"session.outputSettings", word}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.session.oddKey.toStdString());
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("d.plist"));
        const QByteArray stored = platform::KeyedEncoder::archivedDataWithRootObject(c.session);
        ASSERT_FALSE(stored.isEmpty());
        defaults.setObject(stored, Key::ProjectSession);
        const auto session = SavedState::loadProjectSession(defaults);
        ASSERT_TRUE(session) << "what could be read is restored";
        EXPECT_EQ(session->arrayAppliedFilters.size(), c.stepsRead);
        expectSessionKeptAside(dir.path(), defaults, stored);
        // Told once: the session as it was read is what is stored now.
        ASSERT_TRUE(SavedState::loadProjectSession(defaults));
        EXPECT_TRUE(defaults.takeKeptAsideNotices().isEmpty());
        EXPECT_EQ(testsupport::keptAsideFiles(dir.path()).size(), 1);
    }
}

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

TEST(Favourites, UnreadableFavouritesAreKeptAsideNotWrittenOver) {
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    auto withPicture = favourite("Framed");
    withPicture->filtersArray = {customPictureStep(picture)};
    const QList<std::shared_ptr<FavouriteBatch>> stored{withPicture, favourite("Warm")};
    const QByteArray archive = platform::KeyedEncoder::archivedDataWithRootArray(stored);
    struct Case { const char* name; QVariant value; QStringList readable; };
    const std::vector<Case> cases = {
        {"cut short", archive.left(archive.size() / 2), {}},
        {"a picture over the reader's limit", withPictureOverTheLimit(archive), {"Framed", "Warm"}},
        {"not an archive", QStringLiteral("not data"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("d.plist"));
        defaults.setObject(c.value, Key::FavouriteBatches);
        defaults.synchronize();

        // "Add to Favorites" with the stored list unreadable.
        const auto outcome = favouriteadder::addFavourite("New", {AppliedFilter::initWithFilterName("CIBloom", "Bloom", {}, QImage(), nullptr)},
                                                          QDateTime::currentDateTime(), defaults);
        EXPECT_TRUE(outcome.added);
        EXPECT_EQ(names(Favorites::favouriteBatches(defaults)), c.readable + QStringList{"New"});
        // What was stored is kept whole beside the settings, and the user is told once.
        const QStringList kept = testsupport::keptAsideFiles(dir.path());
        ASSERT_EQ(kept.size(), 1);
        const QByteArray keptBytes = testsupport::readFile(kept[0]);
        if (c.value.typeId() == QMetaType::QByteArray)
            EXPECT_EQ(keptBytes, c.value.toByteArray());
        else
            EXPECT_EQ(platform::plistFromData(keptBytes), c.value);
        const auto notices = defaults.takeKeptAsideNotices();
        ASSERT_EQ(notices.size(), 1);
        EXPECT_EQ(notices[0].key, QString::fromLatin1(Key::FavouriteBatches));
        EXPECT_EQ(notices[0].keptAs, kept[0]);

        // From then on the list reads whole: nothing more is kept or said.
        EXPECT_TRUE(favouriteadder::addFavourite("Newer", {}, QDateTime::currentDateTime(), defaults).added);
        EXPECT_TRUE(Favorites::deleteFavBacthWithName(*favourite("new"), defaults));
        UserDefaults reopened(dir.filePath("d.plist"));
        EXPECT_EQ(names(Favorites::favouriteBatches(reopened)), c.readable + QStringList{"Newer"});
        EXPECT_EQ(testsupport::keptAsideFiles(dir.path()).size(), 1);
        EXPECT_TRUE(defaults.takeKeptAsideNotices().isEmpty());
    }
}

TEST(SavedSession, AnUnreadableSessionIsKeptAsideAndWhatReadIsRestored) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.plist"));
    ProjectSession s;
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    s.arrayAppliedFilters = {customPictureStep(picture),
                             AppliedFilter::initWithFilterName("CIBloom", "Bloom", {}, QImage(), nullptr)};
    s.metaDataSetting = std::make_shared<MetaDataObject>();
    s.metaDataSetting->Artist = "Ann";
    const QByteArray stored = withPictureOverTheLimit(platform::KeyedEncoder::archivedDataWithRootObject(s));
    defaults.setObject(stored, Key::ProjectSession);

    for (int read = 0; read < 2; ++read) {
        SCOPED_TRACE(read);
        const auto session = SavedState::loadProjectSession(defaults);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->arrayAppliedFilters.size(), 2);
        EXPECT_TRUE(pictureOf(*session->arrayAppliedFilters[0]).isNull());
        EXPECT_EQ(session->metaDataSetting->Artist, "Ann");
    }
    expectSessionKeptAside(dir.path(), defaults, stored);

    // A session that does not read at all is kept the same way and no longer offered.
    defaults.setObject(QByteArray("damaged"), Key::ProjectSession);
    EXPECT_FALSE(SavedState::loadProjectSession(defaults));
    EXPECT_FALSE(defaults.containsKey(Key::ProjectSession));
    EXPECT_EQ(testsupport::keptAsideFiles(dir.path()).size(), 2);
}

TEST(SavedState, TheUserIsToldWhatWasKeptAndWhere) {
    CommonFunc::loadLanguageDict();
    using Notice = UserDefaults::KeptAsideNotice;
    struct Case { const char* name; QList<Notice> notices; QStringList parts; };
    const std::vector<Case> cases = {
        {"favourites", {{Key::FavouriteBatches, "/home/u/.config/B FAV_BATCHES unreadable 1.plist"}},
         {"favorites", "“/home/u/.config/B FAV_BATCHES unreadable 1.plist”"}},
        {"session and settings",
         {{Key::ProjectSession, "/s.plist"}, {QString(), "/f.plist"}},
         {"saved session", "“/s.plist”", "saved settings", "“/f.plist”"}},
        {"left in place", {{Key::FavouriteBatches, QString()}}, {"favorites", "nor copied aside"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto alert = SavedState::keptAsideAlert(c.notices);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->title, "SAVED DATA");
        for (const QString& part : c.parts) EXPECT_TRUE(alert->message.contains(part)) << alert->message.toStdString();
        EXPECT_FALSE(alert->message.contains("(null)"));
        EXPECT_FALSE(alert->message.contains("%@"));
    }
    EXPECT_FALSE(SavedState::keptAsideAlert({}));
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
