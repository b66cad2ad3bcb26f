#include <gtest/gtest.h>

#include "shell/AppLaunch.h"
#include "shell/ReachabilityWatch.h"

#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"

#include <QCoreApplication>
#include <QNetworkInformation>
#include <QTemporaryDir>

TEST(ReachabilityWatch, WithoutABackendTheStateIsUnknownAndNothingIsWatched) {
    ReachabilityWatch watch(QStringLiteral("no-such-backend"));
    EXPECT_FALSE(watch.watching());
    EXPECT_EQ(watch.state(), reachability::State::Unknown);
    EXPECT_EQ(ReachabilityWatch::describe(watch.state()), QStringLiteral("Network reachability: unknown"));
}

TEST(ReachabilityWatch, WithABackendItFollowsTheSystemsState) {
    const QStringList backends = QNetworkInformation::availableBackends();
    if (backends.isEmpty()) GTEST_SKIP() << "no network information backend on this machine";
    ReachabilityWatch watch(backends.first());
    if (!QNetworkInformation::instance()) GTEST_SKIP() << "the backend does not load here";
    EXPECT_TRUE(watch.watching());
    EXPECT_EQ(watch.state(), reachability::currentState(backends.first()));
}

TEST(ReachabilityWatch, StartUpStartsOneWatch) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("defaults.plist")));
    LaunchOptions options;
    options.defaults = &defaults;
    options.photosLibraryPath = dir.filePath(QStringLiteral("none"));
    options.openMainWindow = false;
    options.systemVersion = QStringLiteral("11.0");
    options.reachabilityBackend = QStringLiteral("no-such-backend");
    AppLaunch::applicationDidFinishLaunching(options);
    ReachabilityWatch* first = AppLaunch::reachabilityWatch();
    ASSERT_NE(first, nullptr);
    AppLaunch::applicationDidFinishLaunching(options);
    ReachabilityWatch* second = AppLaunch::reachabilityWatch();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(QCoreApplication::instance()->findChildren<ReachabilityWatch*>().size(), 1);
    AppLaunch::setLaunchValues(AppDelegate::shared());
}
