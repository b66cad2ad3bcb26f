#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>
#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TestSupport.h"

using platform::UserDefaults;
namespace Key = platform::DefaultsKey;

namespace {

// Counts the announcements of saved data kept aside.
struct NoticeRecorder {
    int count = 0;
    platform::NotificationCenter::Token token;
    NoticeRecorder() {
        token = platform::NotificationCenter::defaultCenter().addObserver(
            platform::notifications::SavedDataKeptAside, [this](const platform::Notification&) { ++count; });
    }
    ~NoticeRecorder() { platform::NotificationCenter::defaultCenter().removeObserver(token); }
};


// While it lives, no file of this process may grow beyond `bytes`: writes past it fail
// as they do on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace

TEST(UserDefaults, ValuesSurviveAReloadWithTheirKinds) {
    QTemporaryDir dir;
    const QString path = dir.filePath("conf/BriskoPhotos.plist");  // folder made on save
    {
        UserDefaults d(path);
        EXPECT_TRUE(d.setObject(QByteArray("\x00\xff", 2), Key::ProjectSession));
        EXPECT_TRUE(d.setObject(QVariantList{QVariantMap{{"path", QByteArray("bm")}}}, Key::SavedPaths));
        EXPECT_TRUE(d.setObject(true, Key::IsFirstTimeLaunch));
        EXPECT_TRUE(d.setObject(QStringLiteral("1"), Key::TipsIsDisable));
        EXPECT_TRUE(d.setObject(7, Key::AppVersion));
        EXPECT_TRUE(d.setObject(0.25, QStringLiteral("real")));
        EXPECT_FALSE(d.setObject(QColor(Qt::red), QStringLiteral("colour")));  // no plist kind
        EXPECT_TRUE(d.synchronize());
    }
    UserDefaults d(path);
    EXPECT_EQ(d.dataForKey(Key::ProjectSession), QByteArray("\x00\xff", 2));
    EXPECT_EQ(d.arrayForKey(Key::SavedPaths).value(0).toMap().value("path").toByteArray(), QByteArray("bm"));
    EXPECT_EQ(d.objectForKey(Key::IsFirstTimeLaunch).typeId(), QMetaType::Bool);
    EXPECT_TRUE(d.boolForKey(Key::TipsIsDisable));
    EXPECT_EQ(d.objectForKey(Key::AppVersion).typeId(), QMetaType::Int);
    EXPECT_EQ(d.stringForKey(Key::AppVersion), QStringLiteral("7"));
    EXPECT_EQ(d.objectForKey("real").typeId(), QMetaType::Double);
    EXPECT_FALSE(d.containsKey("colour"));
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.integerForKey("missing"), 0);
    // Wrong kinds read as empty.
    EXPECT_TRUE(d.dataForKey(Key::AppVersion).isEmpty());
    EXPECT_TRUE(d.arrayForKey(Key::ProjectSession).isEmpty());

    d.removeObjectForKey(Key::ProjectSession);
    d.setObject(QVariant(), Key::SavedPaths);  // an empty value removes too
    ASSERT_TRUE(d.synchronize());
    UserDefaults again(path);
    EXPECT_FALSE(again.containsKey(Key::ProjectSession));
    EXPECT_FALSE(again.containsKey(Key::SavedPaths));
    EXPECT_TRUE(again.containsKey(Key::IsFirstTimeLaunch));
}

TEST(UserDefaults, UnreadableFilesAreKeptAsideUnderNewNamesAndSaid) {
    QTemporaryDir dir;
    QRandomGenerator rng(3);
    QByteArray noise(2048, 0);
    for (char& b : noise) b = char(rng.bounded(256));
    QByteArray truncated;
    {
        UserDefaults d(dir.filePath("whole.plist"));
        d.setObject(QVariantMap{{"a", QVariantList{1, 2, 3}}, {"b", QStringLiteral("text")}}, "k");
        d.synchronize();
        truncated = testsupport::readFile(dir.filePath("whole.plist"));
        truncated.chop(truncated.size() / 3);
    }
    struct Case { const char* name; QByteArray bytes; };
    for (const Case& c : {Case{"random", noise}, Case{"binary header then noise", "bplist00" + noise},
                          Case{"truncated", truncated}, Case{"a list, not settings", "<plist><array/></plist>"},
                          Case{"empty file", QByteArray()}}) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QString::fromLatin1(c.name));
        const QString path = testsupport::writeFile(folder + "/BriskoPhotos.plist", c.bytes);
        NoticeRecorder announced;
        for (int round = 0; round < 2; ++round) {
            // The same damage twice: each file is kept, neither over the other.
            testsupport::writeFile(path, c.bytes);
            UserDefaults d(path);
            EXPECT_TRUE(d.allKeys().isEmpty());
            const auto notices = d.takeKeptAsideNotices();
            const QStringList kept = testsupport::keptAsideFiles(folder);
            if (c.bytes.isEmpty()) {  // nothing to lose, nothing to say
                EXPECT_TRUE(notices.isEmpty());
                EXPECT_TRUE(kept.isEmpty());
            } else {
                ASSERT_EQ(notices.size(), 1);
                EXPECT_TRUE(notices[0].key.isEmpty());
                EXPECT_EQ(kept.size(), round + 1);
                EXPECT_TRUE(kept.contains(notices[0].keptAs));
                EXPECT_EQ(testsupport::readFile(notices[0].keptAs), c.bytes);
                EXPECT_TRUE(notices[0].keptAs.contains(" unreadable ")) << notices[0].keptAs.toStdString();
            }
            // The next save writes a good file in its place.
            d.setObject(1, Key::IsFirstTime);
            ASSERT_TRUE(d.synchronize());
            EXPECT_EQ(UserDefaults(path).integerForKey(Key::IsFirstTime), 1);
        }
        EXPECT_EQ(announced.count, c.bytes.isEmpty() ? 0 : 2);
    }
}

TEST(UserDefaults, EverySaveKeepsThePreviousFileWhichStandsInForALostOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath("BriskoPhotos.plist");
    {
        UserDefaults d(path);
        d.setObject(QStringLiteral("first"), "k");
        ASSERT_TRUE(d.synchronize());
        EXPECT_FALSE(QFile::exists(d.previousFilePath()));  // nothing was replaced yet
        d.setObject(QStringLiteral("second"), "k");
        ASSERT_TRUE(d.synchronize());
        EXPECT_EQ(UserDefaults(d.previousFilePath()).stringForKey("k"), QStringLiteral("first"));
    }
    EXPECT_EQ(UserDefaults(path).stringForKey("k"), QStringLiteral("second"));
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // The file is damaged on disk: it is kept aside and the previous version is used.
    const QByteArray damaged = testsupport::readFile(path).left(40);
    testsupport::writeFile(path, damaged);
    UserDefaults d(path);
    EXPECT_EQ(d.stringForKey("k"), QStringLiteral("first"));
    const auto notices = d.takeKeptAsideNotices();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(testsupport::readFile(notices[0].keptAs), damaged);
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path).stringForKey("k"), QStringLiteral("first"));
}

TEST(UserDefaults, ASaveThatFailsOnAFullDiskLeavesTheLastGoodFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("BriskoPhotos.plist");
    UserDefaults d(path);
    d.setObject(QStringLiteral("kept"), "k");
    ASSERT_TRUE(d.synchronize());
    const QByteArray good = testsupport::readFile(path);
    {
        FileSizeLimit full(64 * 1024);  // no file may grow past 64 KB: the disk is full
        d.setObject(QByteArray(200 * 1024, 'x'), "big");
        EXPECT_FALSE(d.synchronize());
    }
    EXPECT_EQ(testsupport::readFile(path), good);
    EXPECT_EQ(UserDefaults(path).stringForKey("k"), QStringLiteral("kept"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"BriskoPhotos.plist"}));
    // With room again, the pending change is written.
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path).dataForKey("big").size(), 200 * 1024);
}

TEST(UserDefaults, UnreadableValuesAreCopiedAsideOnceOrNeverChanged) {
    QTemporaryDir dir;
    const QString path = dir.filePath("BriskoPhotos.plist");
    UserDefaults d(path);
    NoticeRecorder announced;
    d.setObject(QByteArray("first damaged archive"), Key::FavouriteBatches);
    d.setObject(QVariantList{1, 2}, Key::SavedPaths);
    const QString first = d.keepValueAside(Key::FavouriteBatches);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(testsupport::readFile(first), QByteArray("first damaged archive"));
    EXPECT_TRUE(QFileInfo(first).fileName().startsWith("BriskoPhotos FAV_BATCHES unreadable ")) << first.toStdString();
    // The same data again is the same copy, said once.
    EXPECT_EQ(d.keepValueAside(Key::FavouriteBatches), first);
    // Other data is a copy of its own; a value that is no data is kept as a property list.
    d.setObject(QByteArray("second damaged archive"), Key::FavouriteBatches);
    const QString second = d.keepValueAside(Key::FavouriteBatches);
    const QString paths = d.keepValueAside(Key::SavedPaths);
    EXPECT_NE(second, first);
    EXPECT_EQ(testsupport::readFile(first), QByteArray("first damaged archive"));
    EXPECT_EQ(UserDefaults(path).allKeys(), QStringList());  // nothing saved yet
    EXPECT_EQ(platform::readPlistFile(paths), QVariant(QVariantList{1, 2}));
    const auto notices = d.takeKeptAsideNotices();
    ASSERT_EQ(notices.size(), 3);
    EXPECT_EQ(notices[0].keptAs, first);
    EXPECT_EQ(notices[1].keptAs, second);
    EXPECT_EQ(notices[2].key, QString::fromLatin1(Key::SavedPaths));
    EXPECT_EQ(announced.count, 3);
    EXPECT_TRUE(d.takeKeptAsideNotices().isEmpty());

    // No copy can be made (the disk is full): the value stays and nothing may change it.
    d.setObject(QByteArray(200 * 1024, 'z'), Key::ProjectSession);
    ASSERT_TRUE(d.synchronize());
    {
        FileSizeLimit full(64 * 1024);
        EXPECT_TRUE(d.keepValueAside(Key::ProjectSession).isEmpty());
    }
    const auto leftInPlace = d.takeKeptAsideNotices();
    ASSERT_EQ(leftInPlace.size(), 1);
    EXPECT_TRUE(leftInPlace[0].keptAs.isEmpty());
    EXPECT_FALSE(d.setObject(QByteArray("new session"), Key::ProjectSession));
    EXPECT_FALSE(d.removeObjectForKey(Key::ProjectSession));
    EXPECT_EQ(d.dataForKey(Key::ProjectSession).size(), 200 * 1024);
    // Other keys are saved as ever.
    EXPECT_TRUE(d.setObject(true, Key::IsFirstTime));
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path).dataForKey(Key::ProjectSession).size(), 200 * 1024);
}

TEST(UserDefaults, FirstLaunchClearsEverythingOnce) {
    QTemporaryDir dir;
    const QString path = dir.filePath("d.plist");
    {
        UserDefaults d(path);
        d.setObject(QByteArray("fav"), Key::FavouriteBatches);
        d.setObject(true, Key::TrackedForAppStore);
        d.synchronize();
    }
    UserDefaults d(path);
    EXPECT_TRUE(d.resetIfFirstLaunch());
    EXPECT_TRUE(d.allKeys().isEmpty());
    EXPECT_TRUE(UserDefaults(path).allKeys().isEmpty());  // saved, not only in memory
    d.setObject(true, Key::IsFirstTimeLaunch);
    d.setObject(QByteArray("fav"), Key::FavouriteBatches);
    EXPECT_FALSE(d.resetIfFirstLaunch());
    EXPECT_TRUE(d.containsKey(Key::FavouriteBatches));
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("d.plist");
    {
        UserDefaults d(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&d, t] {
                for (int i = 0; i < 50; ++i) {
                    d.setObject(i, QStringLiteral("t%1_%2").arg(t).arg(i));
                    if (i % 10 == 0) d.synchronize();
                }
            });
        for (auto& th : threads) th.join();
        ASSERT_TRUE(d.synchronize());
    }
    UserDefaults d(path);
    EXPECT_EQ(d.allKeys().size(), 200);
    EXPECT_TRUE(testsupport::keptAsideFiles(dir.path()).isEmpty());
}
