#include <gtest/gtest.h>

#include "editor/OneShotScheduler.h"
#include "editor/WorkingParameterList.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

using platform::Vec;
using testsupport::parameterList;

TEST(WorkingParameterList, UpdateRuleKeepsFirstPositionAndMarksUserChanges) {
    WorkingParameterList list;
    list.reset();
    list.save("inputRadius", 10.0);
    list.save("inputCenter", QVariant::fromValue(Vec(100, 50)));
    EXPECT_FALSE(list.isChanged()) << "set-up writes are not user changes";
    list.setInitiallyLoaded(true);
    EXPECT_FALSE(list.save("inputRadius", 10.0)) << "the value already held is no change";
    EXPECT_FALSE(list.save("inputCenter", QVariant::fromValue(Vec(100, 50))));
    EXPECT_FALSE(list.isChanged());
    for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) EXPECT_TRUE(list.save("inputRadius", v));
    EXPECT_TRUE(list.isChanged());
    ASSERT_EQ(list.list().size(), 2);
    EXPECT_EQ(list.list()[0].toMap().firstKey(), "inputRadius");
    EXPECT_EQ(list.value("inputRadius").toDouble(), 5.0);
    EXPECT_FALSE(list.save("inputAngle", QVariant())) << "an empty value is never stored";
    EXPECT_FALSE(list.contains("inputAngle"));
    // Only the keys the user changed are the changed ones.
    EXPECT_EQ(list.changedKeys(), QSet<QString>({"inputRadius"}));
    list.clearChanged();
    EXPECT_TRUE(list.changedKeys().isEmpty());

    // A list that already holds a key twice is updated at the later entry.
    list.assign(parameterList({{"a", 1}, {"b", 2}, {"a", 3}}));
    list.save("a", 9);
    EXPECT_EQ(list.list()[0].toMap().value("a").toInt(), 1);
    EXPECT_EQ(list.list()[2].toMap().value("a").toInt(), 9);
}

TEST(WorkingParameterList, CommitsGeometryAsFractionsOfTheContainer) {
    WorkingParameterList list;
    list.save("inputRadius", 40.0);
    list.save("inputCenter", QVariant::fromValue(Vec(200, 150)));
    list.save("inputRectangle", QVariant::fromValue(Vec(40, 30, 200, 150)));
    list.save("inputAngle", 1.5);
    const QVariantList stored = list.committed("CIVignetteEffect", QSizeF(400, 300));
    ASSERT_EQ(stored.size(), 4);
    EXPECT_DOUBLE_EQ(stored[0].toMap().value("inputRadius").toDouble(), 0.1);
    EXPECT_EQ(stored[1].toMap().value("inputCenter").value<Vec>(), Vec(0.5, 0.5));
    EXPECT_EQ(stored[2].toMap().value("inputRectangle").value<Vec>(), Vec(0.1, 0.1, 0.5, 0.5));
    EXPECT_DOUBLE_EQ(stored[3].toMap().value("inputAngle").toDouble(), 1.5);
    EXPECT_EQ(list.value("inputRadius").toDouble(), 40.0) << "committing leaves the working list alone";
    // And back into container points.
    EXPECT_EQ(WorkingParameterList::inContainerPoints("CIVignetteEffect", QSizeF(400, 300), stored), list.list());
    // No usable size: nothing is divided.
    EXPECT_EQ(list.committed("CIVignetteEffect", QSizeF(0, 300)), list.list());
}

TEST(OneShotScheduler, RestartingReplacesThePendingCall) {
    ManualOneShotScheduler s;
    int a = 0, b = 0;
    s.start(500, [&] { ++a; });
    s.start(500, [&] { ++b; });
    EXPECT_TRUE(s.fire());
    EXPECT_FALSE(s.fire());
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
}
