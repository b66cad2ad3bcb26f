#include <gtest/gtest.h>

#include "platform/foundation/Dates.h"
#include "platform/foundation/Numbers.h"
#include "tests/support/TestSupport.h"

#include <cmath>

using namespace platform;

TEST(Dates, FormatAndParseWithUnicodePatterns) {
    const QDateTime when(QDate(2024, 3, 5), QTime(21, 7, 9), Qt::UTC);
    const QString utc = u"UTC"_qs;
    const QString loc = u"en_US_POSIX"_qs;
    EXPECT_EQ(formatDate(when, u"yyyy:MM:dd HH:mm:ss"_qs, loc, utc), u"2024:03:05 21:07:09"_qs);
    EXPECT_EQ(formatDate(when, u"MMM dd, yyyy hh:mm:ss a"_qs, loc, utc), u"Mar 05, 2024 09:07:09 PM"_qs);
    EXPECT_EQ(formatDate(when, u"dd-MM-yyyy"_qs, loc, utc), u"05-03-2024"_qs);
    EXPECT_EQ(formatDate(QDateTime(), u"yyyy"_qs), QString());

    EXPECT_EQ(parseDate(u"2024:03:05 21:07:09"_qs, u"yyyy:MM:dd HH:mm:ss"_qs, loc, utc), when);
    // Partial or wrong texts give no date.
    EXPECT_FALSE(parseDate(u"2024:03:05"_qs, u"yyyy:MM:dd HH:mm:ss"_qs, loc, utc).isValid());
    EXPECT_FALSE(parseDate(u"2024:13:45 10:00:00"_qs, u"yyyy:MM:dd HH:mm:ss"_qs, loc, utc).isValid());
    EXPECT_FALSE(parseDate(u"2024:03:05 21:07:09 extra"_qs, u"yyyy:MM:dd HH:mm:ss"_qs, loc, utc).isValid());
    EXPECT_FALSE(parseDate(u""_qs, u"yyyy"_qs).isValid());
}

TEST(Numbers, ScanningAndPrintingIgnoreTheLocale) {
    testsupport::CommaLocale comma;
    struct Case {
        const char* text;
        bool ok;
        double value;
        qsizetype used;
    } cases[] = {
        {"3.25", true, 3.25, 4},    {"  -0.5px", true, -0.5, 6}, {"1e3", true, 1000, 3},
        {"2,5", true, 2, 1},        {".5", true, 0.5, 2},        {"abc", false, 0, 0},
        {"", false, 0, 0},          {"+7", true, 7, 2},          {"1e", true, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double v = -99;
        qsizetype used = -1;
        EXPECT_EQ(scanDouble(QString::fromUtf8(c.text), &v, &used), c.ok);
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value);
            EXPECT_EQ(used, c.used);
        }
    }
    EXPECT_EQ(intValue(u" 42abc"_qs), 42);
    EXPECT_EQ(intValue(u"-17"_qs), -17);
    EXPECT_EQ(intValue(u"x"_qs), 0);
    EXPECT_EQ(intValue(u"99999999999"_qs), 2147483647);
    EXPECT_EQ(longLongValue(u"-99999999999"_qs), -99999999999LL);
    EXPECT_DOUBLE_EQ(doubleValue(u"0.1"_qs), 0.1);
    EXPECT_TRUE(std::isinf(doubleValue(u"1e999"_qs)));

    EXPECT_EQ(stringFromDouble(0.1), u"0.1"_qs);
    EXPECT_EQ(stringFromDouble(3.0), u"3"_qs);
    EXPECT_EQ(stringFromDouble(-2.5), u"-2.5"_qs);
    EXPECT_DOUBLE_EQ(doubleValue(stringFromDouble(1.0 / 3.0)), 1.0 / 3.0);
}
