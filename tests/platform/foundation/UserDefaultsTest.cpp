#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <thread>

#include "platform/foundation/UserDefaults.h"
#include "tests/support/TestSupport.h"

using platform::UserDefaults;
namespace Key = platform::DefaultsKey;

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

TEST(UserDefaults, DamagedOrForeignFilesStartEmptyAndAreKeptAside) {
    QTemporaryDir dir;
    QRandomGenerator rng(3);
    QByteArray noise(2048, 0);
    for (char& b : noise) b = char(rng.bounded(256));
    QByteArray truncated;
    {
        UserDefaults d(dir.filePath("whole.plist"));
        d.setObject(QVariantMap{{"a", QVariantList{1, 2, 3}}, {"b", QStringLiteral("text")}}, "k");
        d.synchronize();
        QFile f(dir.filePath("whole.plist"));
        f.open(QIODevice::ReadOnly);
        truncated = f.readAll();
        truncated.chop(truncated.size() / 3);
    }
    struct Case { const char* name; QByteArray bytes; };
    for (const Case& c : {Case{"random", noise}, Case{"binary header then noise", "bplist00" + noise},
                          Case{"truncated", truncated}, Case{"a list, not settings", "<plist><array/></plist>"},
                          Case{"empty file", QByteArray()}}) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QString::fromLatin1(c.name)), c.bytes);
        UserDefaults d(path);
        EXPECT_TRUE(d.allKeys().isEmpty());
        if (!c.bytes.isEmpty()) {
            EXPECT_TRUE(QFile::exists(path + ".damaged"));
        }
        // The next save writes a good file in its place.
        d.setObject(1, Key::IsFirstTime);
        ASSERT_TRUE(d.synchronize());
        EXPECT_EQ(UserDefaults(path).integerForKey(Key::IsFirstTime), 1);
    }
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
    EXPECT_FALSE(QDir(dir.path()).entryList(QDir::Files).filter(".damaged").size());
}
