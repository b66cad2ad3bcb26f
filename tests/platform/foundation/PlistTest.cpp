#include <gtest/gtest.h>

#include "platform/foundation/Plist.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QFile>

using namespace platform;

namespace {
QVariantMap sampleTree() {
    // Enough objects that references need two bytes.
    QVariantList many;
    for (int i = 0; i < 300; ++i) many.append(QVariantMap{{u"i"_qs, i}});
    QVariantMap inner{{u"flag"_qs, false}, {u"neg"_qs, -42}, {u"big"_qs, qlonglong(1) << 40}};
    return QVariantMap{
        {u"int"_qs, 1},
        {u"real"_qs, 1.0},
        {u"bool"_qs, true},
        {u"text"_qs, u"Ünïcode & <xml>"_qs},
        {u"data"_qs, QByteArray("\x00\x01\xff", 3)},
        {u"date"_qs, QDateTime::fromMSecsSinceEpoch(1700000000000LL, Qt::UTC)},
        {u"list"_qs, QVariantList{2, 2.5, u"s"_qs, QVariantList{}}},
        {u"dict"_qs, inner},
        {u"uid"_qs, QVariant::fromValue(PlistUid{7})},
        {u"many"_qs, many},
        {u"long text with more than fifteen characters"_qs, u"ünïcode text longer than fifteen"_qs},
        {u"counts"_qs, QVariantList{255, 256, 65536, qlonglong(1) << 33, -1, 0.0, false}},
    };
}
}  // namespace

TEST(Plist, RoundTripKeepsKindsInBothFormats) {
    testsupport::CommaLocale comma;
    for (PlistFormat fmt : {PlistFormat::XML, PlistFormat::Binary}) {
        SCOPED_TRACE(fmt == PlistFormat::XML ? "xml" : "binary");
        const QByteArray bytes = plistToData(sampleTree(), fmt);
        ASSERT_FALSE(bytes.isEmpty());
        const QVariantMap back = plistFromData(bytes).toMap();
        EXPECT_EQ(numberKind(back[u"int"_qs]), NumberKind::Integer);
        EXPECT_EQ(numberKind(back[u"real"_qs]), NumberKind::Real);
        EXPECT_EQ(numberKind(back[u"bool"_qs]), NumberKind::Boolean);
        EXPECT_EQ(back[u"int"_qs].toInt(), 1);
        EXPECT_DOUBLE_EQ(back[u"real"_qs].toDouble(), 1.0);
        EXPECT_EQ(back[u"text"_qs].toString(), u"Ünïcode & <xml>"_qs);
        EXPECT_EQ(back[u"data"_qs].toByteArray(), QByteArray("\x00\x01\xff", 3));
        EXPECT_EQ(back[u"date"_qs].toDateTime().toMSecsSinceEpoch(), 1700000000000LL);
        const QVariantList list = back[u"list"_qs].toList();
        ASSERT_EQ(list.size(), 4);
        EXPECT_EQ(numberKind(list[0]), NumberKind::Integer);
        EXPECT_DOUBLE_EQ(list[1].toDouble(), 2.5);
        EXPECT_EQ(list[3].typeId(), QMetaType::QVariantList);
        const QVariantMap inner = back[u"dict"_qs].toMap();
        EXPECT_EQ(numberKind(inner[u"flag"_qs]), NumberKind::Boolean);
        EXPECT_EQ(inner[u"neg"_qs].toInt(), -42);
        EXPECT_EQ(inner[u"big"_qs].toLongLong(), qlonglong(1) << 40);
        EXPECT_EQ(back[u"uid"_qs].value<PlistUid>().value, 7u);
        EXPECT_EQ(back, plistFromData(plistToData(back, fmt)).toMap());
        const QVariantList many = back[u"many"_qs].toList();
        ASSERT_EQ(many.size(), 300);
        EXPECT_EQ(many[299].toMap()[u"i"_qs].toInt(), 299);
        EXPECT_EQ(back[u"long text with more than fifteen characters"_qs].toString(),
                  u"ünïcode text longer than fifteen"_qs);
        EXPECT_EQ(back[u"counts"_qs].toList(),
                  (QVariantList{255, 256, 65536, qlonglong(1) << 33, -1, 0.0, false}));
    }
}

TEST(Plist, ReadsAHandWrittenXmlTableAndRejectsGarbage) {
    const QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>ID_A</key><string>Alpha</string><key>n</key><real>0.25</real>"
        "<key>d</key><date>2001-01-01T00:00:10Z</date></dict></plist>";
    const QVariantMap m = plistFromData(xml).toMap();
    EXPECT_EQ(m[u"ID_A"_qs].toString(), u"Alpha"_qs);
    EXPECT_DOUBLE_EQ(m[u"n"_qs].toDouble(), 0.25);
    EXPECT_EQ(m[u"d"_qs].toDateTime(), QDateTime(QDate(2001, 1, 1), QTime(0, 0, 10), Qt::UTC));

    EXPECT_FALSE(plistFromData("not a plist at all").isValid());
    EXPECT_FALSE(plistFromData(QByteArray()).isValid());
    EXPECT_FALSE(plistFromData(QByteArray("bplist00\x01\x02", 10)).isValid());
}

TEST(Plist, FilesAreWrittenWholeAndUnsupportedValuesRefused) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.plist"_qs);
    ASSERT_TRUE(writePlistFile(path, sampleTree(), PlistFormat::Binary));
    EXPECT_EQ(readPlistFile(path).toMap()[u"text"_qs].toString(), u"Ünïcode & <xml>"_qs);

    // A value with no property-list form fails the whole write and leaves the old file.
    QVariantMap bad{{u"vec"_qs, QVariant::fromValue(Vec(1, 2))}};
    EXPECT_TRUE(plistToData(bad).isEmpty());
    EXPECT_FALSE(writePlistFile(path, bad));
    EXPECT_EQ(readPlistFile(path).toMap()[u"int"_qs].toInt(), 1);
    EXPECT_FALSE(readPlistFile(dir.filePath(u"missing.plist"_qs)).isValid());
    // A named pipe in a library's place of its album list is read as none, without waiting.
    const testsupport::NamedPipe pipe(dir.filePath(u"AlbumData.xml"_qs));
    ASSERT_TRUE(pipe.made());
    EXPECT_FALSE(readPlistFile(dir.filePath(u"AlbumData.xml"_qs)).isValid());
    EXPECT_FALSE(pipe.released());
}
