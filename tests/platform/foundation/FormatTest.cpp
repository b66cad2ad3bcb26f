#include <gtest/gtest.h>

#include "platform/foundation/Format.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

using platform::format;

TEST(Format, SubstitutesObjectsAndNumbersLocaleFree) {
    testsupport::CommaLocale comma;
    EXPECT_EQ(format(u"log file path = %@", QStringLiteral("/home/u/x.log")), QStringLiteral("log file path = /home/u/x.log"));
    EXPECT_EQ(format(u"%d of %ld", 3, 10L), QStringLiteral("3 of 10"));
    EXPECT_EQ(format(u"%.2f|%5.1f|%03d", 3.14159, 2.25, 7), QStringLiteral("3.14|  2.2|007"));
    EXPECT_EQ(format(u"%@", 0.5), QStringLiteral("0.5"));
    EXPECT_EQ(format(u"%@", QVariant::fromValue(platform::Vec(1, 2.5))), QStringLiteral("[1 2.5]"));
}

TEST(Format, MissingArgumentsAndUnknownConversionsAreCopied) {
    EXPECT_EQ(format(u"%@ and %@", QStringLiteral("a")), QStringLiteral("a and %@"));
    EXPECT_EQ(format(u"%n %k 100%%"), QStringLiteral("%n %k 100%"));
    EXPECT_EQ(format(u"trailing %"), QStringLiteral("trailing %"));
}

TEST(Values, NumberKindsStayApart) {
    using platform::NumberKind;
    EXPECT_EQ(platform::numberKind(QVariant(true)), NumberKind::Boolean);
    EXPECT_EQ(platform::numberKind(QVariant(3)), NumberKind::Integer);
    EXPECT_EQ(platform::numberKind(QVariant(qlonglong(1) << 40)), NumberKind::Integer);
    EXPECT_EQ(platform::numberKind(QVariant(3.0)), NumberKind::Real);
    EXPECT_EQ(platform::numberKind(QVariant(QStringLiteral("3"))), NumberKind::None);
    EXPECT_EQ(platform::numberValue(QVariant(QStringLiteral("3")), -1), -1);
}

TEST(Format, RealsPrintInTheirShortestExactForm) {
    EXPECT_EQ(format(u"%@", 4.2), QStringLiteral("4.2"));
    EXPECT_EQ(format(u"%@", 1.0 / 3.0), QStringLiteral("0.3333333333333333"));
}
