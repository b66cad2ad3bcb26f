#include <gtest/gtest.h>

#include "platform/foundation/Dates.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/StringHelpers.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

TEST(CommonFunc, ByteSizeTexts) {
    testsupport::CommaLocale comma;
    const struct {
        double bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {1, "1 bytes"},
        {993, "993 bytes"},
        {994, "0.97 KB"},
        {1000, "1.00 KB"},
        {1500, "1.50 KB"},
        {4100, "4.10 KB"},  // no drift below the exact value
        {999999, "0.97 MB"},
        {1234567, "1.23 MB"},
        {1239999, "1.23 MB"},
        {1999999, "1.99 MB"},
        {5e9, "5.00 GB"},
        {1229999999, "1.22 GB"},  // cut like the smaller units, not rounded up
        {1999999999, "1.99 GB"},
        {999999999, "0.97 GB"},
        {1229999999999, "1.22 TB"},
        {9999999999999, "9.99 TB"},
        {4100.5, "4.10 KB"},  // a fraction of a byte cuts the same way
        {2.5e12, "2.50 TB"},
        {993.5e12, "993.50 TB"},   // no sixth unit to move to
        {1500e12, "1500.00 TB"},  // past the last unit the number grows
        {1e18, "1000000.00 TB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CommonFunc::unitStringFromBytes(c.bytes, 0), QString::fromUtf8(c.text));
        EXPECT_EQ(CommonFunc::getSizeInUnits(QVariant(qlonglong(c.bytes))),
                  CommonFunc::unitStringFromBytes(double(qlonglong(c.bytes))));
    }
}

class StringTable : public ::testing::Test {
protected:
    void SetUp() override {
        previousDir = platform::resourceDirectory();
        AppDelegate::shared().dictLanguage.clear();
        platform::setResourceDirectory(dir.path());
    }
    void TearDown() override {
        AppDelegate::shared().dictLanguage.clear();
        platform::setResourceDirectory(previousDir);
    }
    QTemporaryDir dir;
    QString previousDir;
};

TEST_F(StringTable, TokensBecomePlaceholdersAndOtherPercentsStayText) {
    const QVariantMap table{
        {u"ID_COUNT"_qs, u"DONOT_TRANSLATE_INTEGER_VALUE photos from DONOT_TRANSLATE_STRING_VALUE"_qs},
        {u"ID_STRAY"_qs, u"100% sure %s %n %@"_qs},
        {u"ID_OK_CAPS"_qs, u"OK"_qs},
    };
    ASSERT_TRUE(platform::writePlistFile(dir.filePath(u"BriskoPhotos_EN.plist"_qs), table));

    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_COUNT"_qs), u"%d photos from %@"_qs);
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_COUNT"_qs, {12, u"Pictures"_qs}),
              u"12 photos from Pictures"_qs);
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_OK_CAPS"_qs), u"OK"_qs);
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_MISSING"_qs), u"(null)"_qs);
    // A stray conversion in a table text is never read as a format.
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_STRAY"_qs, {u"x"_qs}), u"100% sure %s %n x"_qs);
    // Too few values leave the placeholders as they are.
    EXPECT_EQ(CommonFunc::fillPlaceholders(u"%d of %d, 100%%"_qs, {3}), u"3 of %d, 100%"_qs);
}

TEST_F(StringTable, NoTableGivesNull) {
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_OK_CAPS"_qs), u"(null)"_qs);
}

TEST_F(StringTable, AnUnreadableTableIsReadOnceWhateverTheThreads) {
    const QString path = dir.filePath(u"BriskoPhotos_EN.plist"_qs);
    testsupport::writeFile(path, "<plist><dict><key>ID_OK_CAPS</key><string>OK");  // cut short
    std::vector<std::thread> threads;
    std::atomic<int> nulls{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&nulls] {
            for (int i = 0; i < 200; ++i)
                if (CommonFunc::getLocalizedStringForKey(u"ID_OK_CAPS"_qs) == u"(null)"_qs) ++nulls;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(nulls.load(), 8 * 200);
    // Not read again at the next look-up: the table is the process's, loaded once.
    ASSERT_TRUE(platform::writePlistFile(path, QVariantMap{{u"ID_OK_CAPS"_qs, u"OK"_qs}}));
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_OK_CAPS"_qs), u"(null)"_qs);
    // A table found in another place is a new load.
    QTemporaryDir other;
    ASSERT_TRUE(platform::writePlistFile(other.filePath(u"BriskoPhotos_EN.plist"_qs),
                                         QVariantMap{{u"ID_OK_CAPS"_qs, u"OK"_qs}}));
    platform::setResourceDirectory(other.path());
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_OK_CAPS"_qs), u"OK"_qs);
}

TEST(CommonFunc, ShippedTableHasTheInfoLabels) {
    AppDelegate::shared().dictLanguage.clear();
    EXPECT_EQ(CommonFunc::getLocalizedStringForKey(u"ID_OK_CAPS"_qs), u"OK"_qs);
    for (const char* key : {"ID_FILE_NAME", "ID_GPS_LONGITUDE", "ID_SCENCE_CAPTURE_TYPE",
                            "ID_PHOTOS_CANT_ADDED_FROM_TRASH"})
        EXPECT_NE(CommonFunc::getLocalizedStringForKey(QString::fromUtf8(key)), u"(null)"_qs) << key;
    AppDelegate::shared().dictLanguage.clear();
}

TEST(CommonFunc, FixedDateForms) {
    const QDateTime when(QDate(2024, 3, 5), QTime(21, 7, 9), Qt::LocalTime);
    EXPECT_EQ(CommonFunc::getDateFromString(u"2024:03:05 21:07:09"_qs), when);
    EXPECT_FALSE(CommonFunc::getDateFromString(u""_qs).isValid());
    EXPECT_FALSE(CommonFunc::getDateFromString(u"05/03/2024"_qs).isValid());
    EXPECT_EQ(CommonFunc::getDateTimeStringFromDate(when), u"Mar 05, 2024 09:07:09 PM"_qs);
    EXPECT_EQ(CommonFunc::getDateTimeStringFromDate(QDateTime()), QString());
    EXPECT_EQ(CommonFunc::getStringFromDate(when), u"Mar 05, 2024"_qs);
    EXPECT_EQ(CommonFunc::getDateFromString1(u"03/05/2024 09:07:09"_qs), when.addSecs(-12 * 3600));
    EXPECT_EQ(CommonFunc::getDateInFormatNEW(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 59))),
              u"20240305T0907"_qs);
    EXPECT_EQ(CommonFunc::getDurationBetweenDate(when, when.addMSecs(2999)), 2);
    EXPECT_EQ(CommonFunc::getDurationBetweenDate(when, when.addMSecs(-2999)), -2);
}

TEST(CommonFunc, DateStamps) {
    QTemporaryDir dir;
    const QString photo = testsupport::writeFile(dir.filePath(u"p.jpg"_qs), "x");
    const QDateTime created = platform::fileAttributes(photo).creationDate;
    ASSERT_TRUE(created.isValid());

    const QString today = platform::formatDate(QDateTime::currentDateTime(), u"dd-MM-yyyy"_qs);
    EXPECT_EQ(CommonFunc::getDateTimeStringForImageUrl(photo, u"Current Date"_qs, u"DD-MM-YYYY"_qs,
                                                       u"24h"_qs),
              today);
    EXPECT_EQ(CommonFunc::getDateTimeStringForImageUrl(photo, u"Original Date & Time"_qs,
                                                       u"DD-MM-YYYY"_qs, u"24h"_qs),
              platform::formatDate(created, u"dd-MM-yyyy HH:mm"_qs));
    EXPECT_EQ(CommonFunc::getDateTimeStringForImageUrl(photo, u"Original Date"_qs, u"yyyy"_qs,
                                                       u"AM/PM"_qs),
              platform::formatDate(created, u"yyyy"_qs));
    // An unknown option counts as the original date and time.
    EXPECT_EQ(CommonFunc::getDateTimeStringForImageUrl(photo, u"Whenever"_qs, u"yyyy"_qs, u"AM/PM"_qs),
              platform::formatDate(created, u"yyyy hh:mm a"_qs));
    // An unreadable file stamps the present moment.
    EXPECT_EQ(CommonFunc::getDateTimeStringForImageUrl(dir.filePath(u"gone.jpg"_qs),
                                                       u"Original Date"_qs, u"DD-MM-YYYY"_qs, u""_qs),
              today);
}

TEST(CommonFunc, EmailJsonAndDigest) {
    for (const char* good : {"a@b.co", "first.last@mail.example.com", "x+y@sub-d.org"})
        EXPECT_TRUE(CommonFunc::validateEmail(QString::fromUtf8(good))) << good;
    for (const char* bad : {"", "a@b", "@b.com", "a@b.c", "a@b.c0m", "a@@b", "a@b.com\nx"})
        EXPECT_FALSE(CommonFunc::validateEmail(QString::fromUtf8(bad))) << bad;

    const QVariantMap dict{{u"a"_qs, 1}, {u"b"_qs, u"x"_qs}, {u"c"_qs, 2.5}};
    EXPECT_EQ(CommonFunc::getJSONFromDict(dict), u"{\"a\":1,\"b\":\"x\",\"c\":2.5}"_qs);

    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(u"f"_qs), QByteArray(10000, 'a'));
    EXPECT_EQ(CommonFunc::getFileMD5(path), u"0d0c9c4db6953fee9e03f528cafd7d3e"_qs);
    EXPECT_EQ(CommonFunc::getFileMD5(dir.filePath(u"none"_qs)), QString());
    std::atomic<bool> abort{true};
    EXPECT_EQ(CommonFunc::getFileMD5UsingStreamWithAbortFlag(path, &abort), QString());
    // Any chunk size gives the same digest; an abort says so.
    for (qint64 chunk : {1, 7, 4096, 20000})
        EXPECT_EQ(CommonFunc::FileMD5HashCreateWithPath(path, chunk, nullptr).hex, u"0d0c9c4db6953fee9e03f528cafd7d3e"_qs);
    EXPECT_TRUE(CommonFunc::FileMD5HashCreateWithPath(path, 4096, &abort).aborted);
}

TEST(StringHelpers, XmlEscapingForms) {
    using namespace StringHelpers;
    const QString text = u"a<b & \"c\" 'd' >"_qs;
    EXPECT_EQ(xmlSimpleEscapeString(text), u"a&lt;b &amp; &quot;c&quot; &#x27;d&#x27; &gt;"_qs);
    EXPECT_EQ(xmlSimpleEscapeStringNEW(text),
              u"a(lessthan)b &amp;amp; &quot;c&quot; &#x27;d&#x27; &gt;"_qs);
    EXPECT_EQ(xmlSimpleUnescapeString(xmlSimpleEscapeString(text)), text);
    EXPECT_EQ(xmlSimpleUnescapeString(u"1&#x000D;&#x000A;2&#x000D;3&#x000A;4"_qs), u"1\n2\n3\n4"_qs);
    EXPECT_EQ(xmlSimpleUnescapeString(u"&#x92;&#x96;&#x39;"_qs), u"'''"_qs);
    // An entity escaped twice unescapes all the way.
    EXPECT_EQ(xmlSimpleUnescapeString(u"&amp;lt;"_qs), u"<"_qs);
    QString inPlace = u"<"_qs;
    xmlSimpleEscape(inPlace);
    EXPECT_EQ(inPlace, u"&lt;"_qs);
}

TEST(StringHelpers, TrimmingAndUrlEncoding) {
    using namespace StringHelpers;
    EXPECT_EQ(trim(u" \t\n a b \r\n"_qs), u"a b"_qs);
    EXPECT_EQ(trim(u" \n\t "_qs), u""_qs);
    EXPECT_EQ(stringByTrimmingLeadingCharactersInSet(u"xxaxbxx"_qs, u"x"_qs), u"axbxx"_qs);
    EXPECT_EQ(stringByTrimmingTrailingCharactersInSet(u"xxaxbxx"_qs, u"x"_qs), u"xxaxb"_qs);
    EXPECT_EQ(stringByTrimmingLeadingAndTrailingCharactersInSet(u"xxaxbxx"_qs, u"x"_qs), u"axb"_qs);
    EXPECT_EQ(stringByTrimmingLeadingAndTrailingCharactersInSet(u"xxx"_qs, u"x"_qs), u""_qs);
    EXPECT_EQ(stringByTrimmingLeadingWhitespaceAndNewlineCharacters(u"\n a "_qs), u"a "_qs);
    EXPECT_EQ(stringByTrimmingTrailingWhitespaceAndNewlineCharacters(u"\n a \n"_qs), u"\n a"_qs);

    const QString raw = u"a b!*'();:@&=+$,/?%#[]é~"_qs;
    const QString enc = URLEncodedString(raw);
    EXPECT_EQ(enc, u"a%20b%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%C3%A9~"_qs);
    EXPECT_EQ(URLDecodedString(enc), raw);
}

TEST(DateCompare, OrderOfTwoDates) {
    const QDateTime a = QDateTime::fromMSecsSinceEpoch(1000), b = a.addSecs(1);
    EXPECT_TRUE(DateCompare::isLaterThan(b, a));
    EXPECT_FALSE(DateCompare::isLaterThan(a, a));
    EXPECT_TRUE(DateCompare::isEarlierThan(a, b));
    EXPECT_TRUE(DateCompare::isLaterThanOrEqualTo(a, a));
    EXPECT_TRUE(DateCompare::isEarlierThanOrEqualTo(a, a));
    EXPECT_FALSE(DateCompare::isEarlierThanOrEqualTo(b, a));
}
