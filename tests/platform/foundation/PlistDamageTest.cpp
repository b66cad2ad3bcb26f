#include <gtest/gtest.h>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/BoundedRun.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

using namespace platform;
using testsupport::sourceBytes;

namespace {

QByteArray fixture(const char* name) {
    return sourceBytes(QStringLiteral("tests/platform/foundation/data/") + QLatin1String(name));
}

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

const QString kWithNul = QStringLiteral("ab") + QChar(0) + QStringLiteral("cd");

}  // namespace

// A damaged file can carry a string with an embedded NUL; it is read whole, written
// whole as binary and refused as XML, which cannot carry it.
TEST(PlistDamage, StringsWithAnEmbeddedNulKeepTheirLength) {
    const QByteArray bin = plistToData(QVariantMap{{QStringLiteral("k"), kWithNul}}, PlistFormat::Binary);
    EXPECT_EQ(plistFromData(bin).toMap().value(QStringLiteral("k")).toString(), kWithNul);
    EXPECT_EQ(plistFromData(fixture("far_dates_and_nul.bplist")).toMap().value(QStringLiteral("nul")).toString(),
              kWithNul);
    EXPECT_TRUE(plistToData(QVariantMap{{QStringLiteral("k"), kWithNul}}, PlistFormat::XML).isEmpty());
    // Nor can XML carry half a surrogate pair (a damaged UTF-16 key, found by fuzzing),
    // while a whole pair is fine.
    const QVariant lone = plistFromData(fixture("key_with_lone_surrogate.bplist"));
    ASSERT_TRUE(lone.isValid());
    EXPECT_TRUE(plistToData(lone, PlistFormat::XML).isEmpty());
    EXPECT_EQ(plistFromData(plistToData(lone, PlistFormat::Binary)), lone);
    const QString pair = QString::fromUtf8("\xF0\x9F\x93\xB7");
    EXPECT_EQ(plistFromData(plistToData(QVariantList{pair}, PlistFormat::XML)).toList().value(0).toString(), pair);
}

// XML readers turn a raw carriage return into a line feed: the writer keeps it as a
// character reference, so text with one survives the XML form too. (Found by fuzzing.)
TEST(PlistDamage, CarriageReturnsAndEmptyStringsSurviveBothForms) {
    const QVariantList texts{QStringLiteral("a\rb"), QStringLiteral("\r\n"), QStringLiteral("tab\tand\nline"),
                             QStringLiteral("")};
    for (PlistFormat fmt : {PlistFormat::XML, PlistFormat::Binary}) {
        const QVariantList back = plistFromData(plistToData(texts, fmt)).toList();
        EXPECT_EQ(back, texts);
        // An empty string stays a string: archives store a null one as no object at all.
        EXPECT_FALSE(back.value(3).toString().isNull());
    }
    const QVariant found = plistFromData(fixture("string_with_carriage_return.bplist"));
    ASSERT_TRUE(found.isValid());
    EXPECT_EQ(plistFromData(plistToData(found, PlistFormat::XML)), found);
}

// A 53-byte file whose UTF-16 dictionary key holds U+0000 once aborted the process in
// the library that read it, on every launch when it was the settings file.
TEST(PlistDamage, AKeyWithANulIsReadAndTheSettingsFileStillLoads) {
    const QByteArray bytes = fixture("utf16_key_with_nul.bplist");
    ASSERT_EQ(bytes.size(), 53);
    const QVariantMap map = plistFromData(bytes).toMap();
    EXPECT_EQ(map.value(QStringLiteral("a") + QChar(0)).toInt(), 7);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.plist"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    UserDefaults defaults(path);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("a") + QChar(0)), 7);
}

// Dates outside 1933..2069 once came back as 1932-12-13, from either format.
TEST(PlistDamage, DatesKeepTheirFullRangeInBothFormats) {
    const QVariantList dates{utc(1600, 3, 1), utc(1932, 12, 12, 23, 59, 59), utc(2070, 1, 1),
                             utc(2500, 6, 30, 12, 0, 0, 500), utc(1, 1, 1), utc(9999, 12, 31, 23, 59, 59)};
    for (PlistFormat fmt : {PlistFormat::XML, PlistFormat::Binary}) {
        SCOPED_TRACE(fmt == PlistFormat::XML ? "xml" : "binary");
        const QByteArray bytes = plistToData(QVariantMap{{QStringLiteral("dates"), dates}}, fmt);
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_EQ(plistFromData(bytes).toMap().value(QStringLiteral("dates")).toList(), dates);
        // Past four-digit years neither writer goes, so what one writes the other can.
        EXPECT_TRUE(plistToData(QVariantList{utc(10000, 1, 1)}, fmt).isEmpty());
    }
    // A five-digit year in XML (found by fuzzing) is no date.
    EXPECT_FALSE(plistFromData(fixture("date_year_20232.plist")).isValid());
    const QVariantList kept = dates.mid(0, 4);
    EXPECT_EQ(plistFromData(fixture("far_dates_and_nul.bplist")).toMap().value(QStringLiteral("dates")).toList(), kept);
    EXPECT_EQ(plistFromData(fixture("far_dates.plist")).toMap().value(QStringLiteral("dates")).toList(), kept);
}

// Hand-made binary files whose references point back at themselves, past the data or
// out of the object table, or fan out exponentially, are refused quickly and cheaply.
TEST(PlistDamage, HostileBinaryStructureIsRefused) {
    // bplist00, the objects, an offset table of one-byte entries and the trailer.
    auto bplist = [](const QList<QByteArray>& objects, quint64 top = 0, int refSize = 1) {
        QByteArray out("bplist00");
        QByteArray table;
        for (const QByteArray& o : objects) {
            table.append(char(out.size()));
            out.append(o);
        }
        const qsizetype tableAt = out.size();
        out.append(table);
        out.append(QByteArray(6, '\0')).append(char(1)).append(char(refSize));
        for (quint64 v : {quint64(objects.size()), top, quint64(tableAt)})
            for (int i = 7; i >= 0; --i) out.append(char((v >> (8 * i)) & 0xff));
        return out;
    };
    const QByteArray selfArray = bplist({QByteArray("\xA1\x00", 2)});
    const QByteArray refPastTable = bplist({QByteArray("\xA1\x09", 2)});
    const QByteArray countPastData = bplist({QByteArray("\x5F\x10\xff", 3)});
    const QByteArray nonStringKey = bplist({QByteArray("\xD1\x01\x01", 3), QByteArray("\x10\x01", 2)});
    const QByteArray topOutside = bplist({QByteArray("\x09", 1)}, 5);
    // Twenty arrays, each holding the next twice: 2^20 paths through 21 objects.
    QList<QByteArray> fan;
    for (int i = 0; i < 20; ++i) fan << QByteArray("\xA2", 1) + char(i + 1) + char(i + 1);
    fan << QByteArray("\x09", 1);
    for (const QByteArray& bytes : {selfArray, refPastTable, countPastData, nonStringKey, topOutside, bplist(fan)})
        EXPECT_FALSE(plistFromData(bytes).isValid());
    // A value shared a few times is fine.
    EXPECT_EQ(plistFromData(bplist({QByteArray("\xA3\x01\x01\x01", 4), QByteArray("\x09", 1)})).toList(),
              (QVariantList{true, true, true}));
}

// An archive's picture is PNG data from disk: one declaring a 2 GB chunk is refused before
// any decoder allocates for it.
TEST(PlistDamage, AnArchivedPictureDeclaringAHugeChunkIsRefusedCheaply) {
    BRISKO_STARTS_A_PROCESS();
    const QByteArray bomb = sourceBytes(QStringLiteral("tests/platform/imageio/data/png_text_chunk_2gb.png"));
    ASSERT_EQ(bomb.size(), 44);
    // An archived NSImage whose PNG representation is that file.
    const QByteArray archive = fixture("archive_png_text_chunk_2gb.bplist");
    ASSERT_TRUE(archive.contains(bomb));
    ASSERT_TRUE(plistFromData(archive).isValid());
    const auto run = testsupport::runBounded([&] { return !KeyedDecoder::unarchiveValueWithData(archive).isValid(); });
    EXPECT_TRUE(run.ok(48)) << run.describe().toStdString();
    // A picture declaring 8192 x 8192 in 200 bytes of data would be allocated whole (256 MB)
    // by the image reader before it found the data missing.
    const QByteArray wide = fixture("archive_png_8192x8192.bplist");
    ASSERT_FALSE(wide.isEmpty());
    const auto wideRun = testsupport::runBounded([&] { return !KeyedDecoder::unarchiveValueWithData(wide).isValid(); });
    EXPECT_TRUE(wideRun.ok(48)) << wideRun.describe().toStdString();
}

// A 5 KB archive whose lists share lists (found by fuzzing) read a million values and
// held 800 MB before the number of values read was bounded by the archive's size.
TEST(PlistDamage, AnArchiveOfSharedListsStaysSmall) {
    BRISKO_STARTS_A_PROCESS();
    const QByteArray archive = fixture("archive_shared_lists_fan_out.bplist");
    ASSERT_FALSE(archive.isEmpty());
    const auto run = testsupport::runBounded([&] {
        KeyedDecoder::unarchiveValueWithData(archive);
        return true;
    });
    EXPECT_TRUE(run.ok(64)) << run.describe().toStdString();
}
