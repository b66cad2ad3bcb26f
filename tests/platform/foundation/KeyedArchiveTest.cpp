#include <gtest/gtest.h>
#include <functional>

#include <QPainter>
#include <QRandomGenerator>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

using platform::KeyedDecoder;
using platform::KeyedEncoder;
using platform::NumberKind;
using platform::numberKind;
using platform::PlistUid;
using platform::Vec;

namespace {

struct Leaf {
    static constexpr const char* kArchiveClassName = "Leaf";
    QString name;
    void encodeWithCoder(KeyedEncoder& c) const { c.encodeObject(name, QStringLiteral("name")); }
    void initWithCoder(KeyedDecoder& c) { name = c.decodeStringForKey(QStringLiteral("name")); }
};

// A Leaf read back as if its one key held another kind of value.
struct LeafReadOtherwise {
    static constexpr const char* kArchiveClassName = "Leaf";
    static inline std::function<QVariant(KeyedDecoder&)> read;  // set by the test before decoding
    QVariant name;
    void encodeWithCoder(KeyedEncoder&) const {}
    void initWithCoder(KeyedDecoder& c) { name = read(c); }
};

struct Holder {
    static constexpr const char* kArchiveClassName = "Holder";
    QVariantMap values;  // every key encoded as an object
    std::vector<std::shared_ptr<Leaf>> leaves;
    std::shared_ptr<Leaf> favourite;
    void encodeWithCoder(KeyedEncoder& c) const {
        for (auto it = values.cbegin(); it != values.cend(); ++it) c.encodeObject(it.value(), it.key());
        c.encodeArrayOfObjects(leaves, QStringLiteral("leaves"));
        c.encodeObject(favourite, QStringLiteral("favourite"));
        c.encodeBool(true, QStringLiteral("scalarBool"));
        c.encodeInt32(-7, QStringLiteral("scalarInt"));
        c.encodeDouble(2.5, QStringLiteral("scalarDouble"));
    }
    void initWithCoder(KeyedDecoder& c) {
        leaves = c.decodeArrayOfObjectsOfClass<Leaf>(QStringLiteral("leaves"));
        favourite = c.decodeObjectOfClass<Leaf>(QStringLiteral("favourite"));
        for (const char* k : {"int", "big", "real", "yes", "no", "text", "data", "list", "map", "date", "colour",
                              "point", "rect", "image", "absent"})
            if (c.containsValueForKey(QString::fromLatin1(k)))
                values.insert(QString::fromLatin1(k), c.decodeObjectForKey(QString::fromLatin1(k)));
        values.insert(QStringLiteral("scalarBool"), c.decodeBoolForKey(QStringLiteral("scalarBool")));
        values.insert(QStringLiteral("scalarInt"), c.decodeInt32ForKey(QStringLiteral("scalarInt")));
        values.insert(QStringLiteral("scalarDouble"), c.decodeDoubleForKey(QStringLiteral("scalarDouble")));
        values.insert(QStringLiteral("intAsBool"), c.decodeBoolForKey(QStringLiteral("int")));
        values.insert(QStringLiteral("hasMissing"), c.containsValueForKey(QStringLiteral("missing")));
        values.insert(QStringLiteral("scalarAsObject"), c.decodeObjectForKey(QStringLiteral("scalarInt")));
    }
};

QImage drawnImage() {
    QImage img(9, 5, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.fillRect(0, 0, 4, 5, QColor(200, 10, 30, 128));
    p.end();
    return img;
}

QVariant uid(quint64 value) { return QVariant::fromValue(PlistUid{value}); }
bool isUid(const QVariant& v) { return v.userType() == qMetaTypeId<PlistUid>(); }

// One of every value kind, two records with one shared between two places.
Holder sampleHolder() {
    Holder h;
    h.values = {{"int", 42},
                {"big", qlonglong(1) << 40},
                {"real", 3.0},
                {"yes", true},
                {"no", false},
                {"text", QStringLiteral("Grüße ✓")},
                {"data", QByteArray("\0\1\2", 3)},
                {"list", QVariantList{1, 2.5, QStringLiteral("x"), QVariantList{true}}},
                {"map", QVariantMap{{"a", 1}, {"b", QVariantMap{{"c", QStringLiteral("d")}}}}},
                {"date", QDateTime(QDate(2024, 3, 9), QTime(15, 4, 5, 250), Qt::UTC)},
                {"colour", QColor::fromRgbF(0.25f, 0.5f, 0.75f, 0.5f)},
                {"point", QVariant::fromValue(Vec(0.1, 0.2))},
                {"rect", QVariant::fromValue(Vec(0.1, 0.2, 0.3, 0.4))},
                {"image", drawnImage()},
                {"absent", QVariant()}};
    auto shared = std::make_shared<Leaf>(Leaf{QStringLiteral("one")});
    h.leaves = {shared, std::make_shared<Leaf>(Leaf{QStringLiteral("two")})};
    h.favourite = shared;
    return h;
}

// Every value of sampleHolder() came back with its kind.
void expectSampleDecoded(const std::shared_ptr<Holder>& back) {
    ASSERT_TRUE(back);
    const Holder h = sampleHolder();
    const QVariantMap& v = back->values;

    struct Kind { const char* key; NumberKind kind; double value; };
    for (const Kind& k : {Kind{"int", NumberKind::Integer, 42}, Kind{"big", NumberKind::Integer, double(qlonglong(1) << 40)},
                          Kind{"real", NumberKind::Real, 3.0}, Kind{"yes", NumberKind::Boolean, 1},
                          Kind{"no", NumberKind::Boolean, 0}, Kind{"scalarBool", NumberKind::Boolean, 1},
                          Kind{"scalarInt", NumberKind::Integer, -7}, Kind{"scalarDouble", NumberKind::Real, 2.5},
                          Kind{"scalarAsObject", NumberKind::Integer, -7}}) {
        SCOPED_TRACE(k.key);
        ASSERT_TRUE(v.contains(QString::fromLatin1(k.key)));
        EXPECT_EQ(numberKind(v[QString::fromLatin1(k.key)]), k.kind);
        EXPECT_EQ(platform::numberValue(v[QString::fromLatin1(k.key)]), k.value);
    }
    EXPECT_EQ(v["text"].toString(), QStringLiteral("Grüße ✓"));
    EXPECT_EQ(v["data"].toByteArray(), QByteArray("\0\1\2", 3));
    EXPECT_EQ(v["list"], h.values["list"]);
    EXPECT_EQ(v["map"], h.values["map"]);
    EXPECT_EQ(v["date"].toDateTime(), h.values["date"].toDateTime());
    EXPECT_EQ(v["colour"].value<QColor>(), h.values["colour"].value<QColor>());
    EXPECT_EQ(v["point"].value<Vec>(), Vec(0.1, 0.2));
    EXPECT_EQ(v["rect"].value<Vec>(), Vec(0.1, 0.2, 0.3, 0.4));
    EXPECT_EQ(v["image"].value<QImage>().convertToFormat(QImage::Format_ARGB32), drawnImage());
    // A stored null is present but empty; a key never written is not present.
    EXPECT_TRUE(v.contains("absent"));
    EXPECT_FALSE(v["absent"].isValid());
    EXPECT_FALSE(v["hasMissing"].toBool());
    // A boxed integer reads as a boolean.
    EXPECT_TRUE(v["intAsBool"].toBool());
    // Records, including one shared between two places, come back as one object.
    ASSERT_EQ(back->leaves.size(), 2u);
    EXPECT_EQ(back->leaves[1]->name, QStringLiteral("two"));
    EXPECT_EQ(back->favourite, back->leaves[0]);
}

}  // namespace

TEST(KeyedArchive, EveryValueKindRoundTripsWithItsKind) {
    expectSampleDecoded(KeyedDecoder::unarchiveObjectWithData<Holder>(KeyedEncoder::archivedDataWithRootObject(sampleHolder())));
}

TEST(KeyedArchive, ArchiveFromTheFormerWriterStillDecodes) {
    // sampleHolder() as the former writer stored it: its own object order and integer widths
    // (a negative number as a 16-byte unsigned one).
    const QByteArray earlier = QByteArray::fromBase64(
    "YnBsaXN0MDDUAQMFCQIEBgpZJGFyY2hpdmVyXxAPTlNLZXllZEFyY2hpdmVyWCR2ZXJzaW9uEgABhqBUJHRvcNEHCFRyb290gAFY"
    "JG9iamVjdHOvECkLDDc9PkRHSExPU1ZXWGBBNmNkMmdwc0F0dXp7fH2FiImPMpCUl5iam1UkbnVsbN8QFQ0PERMVFxkbHR8hIyUn"
    "KSstLzEzNQ4QEhQWGBocHiAiJCYoKiwuMDI0NlYkY2xhc3OAAlZhYnNlbnSAAFNiaWeAA1Zjb2xvdXKABFRkYXRhgAZUZGF0ZYAH"
    "VWltYWdlgAlTaW50gAxUbGlzdIANU21hcIAUUm5vgBxVcG9pbnSAHVRyZWFsgB9UcmVjdIAgVHRleHSAIVN5ZXOAIlZsZWF2ZXOA"
    "KFlmYXZvdXJpdGWAI1pzY2FsYXJCb29sCVlzY2FsYXJJbnQT//////////lcc2NhbGFyRG91YmxlIkAgAADSODo5O1okY2xhc3Nu"
    "YW1lVkhvbGRlclgkY2xhc3Nlc6I5PFhOU09iamVjdBMAAAEAAAAAANMNQEI/QUOABVxOU0NvbG9yU3BhY2UQAVVOU1JHQk8QMDAu"
    "MjUwMDAzODE1IDAuNTAwMDA3NjI5IDAuNzQ5OTk2MTg1IDAuNTAwMDA3NjI5ANI4OkVGV05TQ29sb3KiRTxDAAEC0g1KSUuACFdO"
    "Uy50aW1lI0HFzljyoAAA0jg6TU5WTlNEYXRlok080g1RUFKACl8QE05TUE5HUmVwcmVzZW50YXRpb26AC9I4OlRVV05TSW1hZ2Wi"
    "VDxPEG6JUE5HDQoaCgAAAA1JSERSAAAACQAAAAUIBgAAAJdTxmsAAAAJcEhZcwAADsQAAA7EAZUrDhsAAAAgSURBVAiZYzzOJdfA"
    "gAQsvz1C4TMwMDAwoQtgA3RWBAC1ZAQKoZtnrgAAAABJRU5ErkJgghAq0g1aWVuADlpOUy5vYmplY3RzpFxdXl+AD4AQgBGAEtI4"
    "OmFiV05TQXJyYXmiYTxReNINWllloWaAE9MNaVpoam2AFVdOUy5rZXlzomtsgBaAGKJub4AXgBnSODpxclxOU0RpY3Rpb25hcnmi"
    "cTxRYVFi0w1pWmh2eKF3gBqheYAbUWNRZAjUDX+Bg36AgoSAHl1DSVZlY3RvckNvdW50EAJZQ0lWZWN0b3JYIz+5mZmZmZmaWUNJ"
    "VmVjdG9yWSM/yZmZmZmZmtI4OoaHWENJVmVjdG9yooY8IkBAAADWDX+Bg4uNfoqChIyOEARZQ0lWZWN0b3JaIz/TMzMzMzMzWUNJ"
    "VmVjdG9yVyM/2ZmZmZmZmmcARwByAPwA3wBlACAnE9INkpGTgCRUbmFtZYAl0jg6lZZUTGVhZqKVPFNvbmXSDZKRmYAnU3R3b9IN"
    "WlmcojCdgCYACAARABsALQA2ADsAQABDAEgASgBTAH8AhQCyALkAuwDCAMQAyADKANEA0wDYANoA3wDhAOcA6QDtAO8A9AD2APoA"
    "/AD/AQEBBwEJAQ4BEAEVARcBHAEeASIBJAErAS0BNwE5AUQBRQFPAVgBZQFqAW8BegGBAYoBjQGWAZ8BpgGoAbUBtwG9AfAB9QH9"
    "AgACBAIJAgsCEwIcAiECKAIrAjACMgJIAkoCTwJXAloCywLNAtIC1ALfAuQC5gLoAuoC7ALxAvkC/AL+AwMDBQMHAw4DEAMYAxsD"
    "HQMfAyIDJAMmAysDOAM7Az0DPwNGA0gDSgNMA04DUANSA1MDXANeA2wDbgN4A4EDiwOUA5kDogOlA6oDtwO5A8MDzAPWA98D7gPz"
    "A/UD+gP8BAEEBgQJBA0EEgQUBBgEHQQgAAAAAAAAAgEAAAAAAAAAngAAAAAAAAAAAAAAAAAABCI=");
    expectSampleDecoded(KeyedDecoder::unarchiveObjectWithData<Holder>(earlier));
}

TEST(KeyedArchive, LayoutIsTheKeyedArchiversWithClassNames) {
    Holder h;
    h.leaves = {std::make_shared<Leaf>(Leaf{QStringLiteral("one")})};
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(h);
    ASSERT_TRUE(data.startsWith("bplist00"));
    const QVariantMap root = platform::plistFromData(data).toMap();
    ASSERT_FALSE(root.isEmpty());
    EXPECT_EQ(root["$archiver"].toString(), QStringLiteral("NSKeyedArchiver"));
    EXPECT_EQ(numberKind(root["$version"]), NumberKind::Integer);
    EXPECT_EQ(root["$version"].toLongLong(), 100000);
    const QVariant top = root["$top"].toMap()["root"];
    ASSERT_TRUE(isUid(top));
    const QVariantList objects = root["$objects"].toList();
    ASSERT_FALSE(objects.isEmpty());
    EXPECT_EQ(objects[0].typeId(), QMetaType::QString);
    EXPECT_EQ(objects[0].toString(), QStringLiteral("$null"));

    QStringList classNames;
    for (const QVariant& o : objects) {
        const QVariantMap m = o.toMap();
        if (o.typeId() == QMetaType::QVariantMap && m.contains("$classname")) {
            classNames << m["$classname"].toString();
            EXPECT_EQ(m["$classes"].typeId(), QMetaType::QVariantList);
        }
    }
    EXPECT_TRUE(classNames.contains("Holder"));
    EXPECT_TRUE(classNames.contains("Leaf"));
    EXPECT_TRUE(classNames.contains("NSArray"));
    EXPECT_EQ(classNames.count("Leaf"), 1);  // one class record per class
    EXPECT_EQ(KeyedDecoder::rootClassNameOfArchive(data), QStringLiteral("Holder"));
    // Scalars sit in the object itself, each with its kind; objects are referenced by UID.
    const quint64 rootUid = top.value<PlistUid>().value;
    ASSERT_LT(rootUid, quint64(objects.size()));
    const QVariantMap rootObject = objects[qsizetype(rootUid)].toMap();
    EXPECT_EQ(numberKind(rootObject["scalarBool"]), NumberKind::Boolean);
    EXPECT_EQ(numberKind(rootObject["scalarInt"]), NumberKind::Integer);
    EXPECT_EQ(rootObject["scalarInt"].toLongLong(), -7);
    EXPECT_EQ(numberKind(rootObject["scalarDouble"]), NumberKind::Real);
    EXPECT_TRUE(isUid(rootObject["leaves"]));
    EXPECT_TRUE(isUid(rootObject["$class"]));
}

TEST(KeyedArchive, OnlyRequestedClassesDecode) {
    Leaf leaf{QStringLiteral("x")};
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(leaf);
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<Holder>(data));
    EXPECT_FALSE(KeyedDecoder::unarchiveArrayWithData<Leaf>(data).has_value());
    EXPECT_FALSE(KeyedDecoder::unarchiveValueWithData(data).isValid());  // a record is no plain value
    ASSERT_TRUE(KeyedDecoder::unarchiveObjectWithData<Leaf>(data));

    std::vector<std::shared_ptr<Leaf>> list{std::make_shared<Leaf>(leaf)};
    auto decoded = KeyedDecoder::unarchiveArrayWithData<Leaf>(KeyedEncoder::archivedDataWithRootArray(list));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->size(), 1u);
    EXPECT_TRUE(KeyedDecoder::unarchiveArrayWithData<Holder>(KeyedEncoder::archivedDataWithRootArray(list))->empty());
}

TEST(KeyedArchive, DamagedArchivesDecodeToNothing) {
    Holder h;
    h.values = {{"text", QStringLiteral("hello")}, {"list", QVariantList{1, 2, 3}}, {"image", drawnImage()}};
    h.leaves = {std::make_shared<Leaf>(Leaf{QStringLiteral("one")})};
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(h);

    // Every truncation, and bytes flipped at random, must never crash.
    for (int n = 0; n < data.size(); ++n) {
        auto back = KeyedDecoder::unarchiveObjectWithData<Holder>(data.left(n));
        EXPECT_FALSE(back) << "truncated at " << n;
    }
    QRandomGenerator rng(7);
    for (int i = 0; i < 3000; ++i) {
        QByteArray bad = data;
        for (int k = 0; k < 1 + int(rng.bounded(6)); ++k) bad[int(rng.bounded(bad.size()))] = char(rng.bounded(256));
        KeyedDecoder::unarchiveObjectWithData<Holder>(bad);
    }
    QByteArray noise(4096, 0);
    for (char& b : noise) b = char(rng.bounded(256));
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<Holder>(noise));
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<Holder>("bplist00" + noise));
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<Holder>(QByteArray()));

    // A plain property list that is not an archive.
    const QByteArray plain = platform::plistToData(QVariantMap{{"root", 1}}, platform::PlistFormat::Binary);
    ASSERT_FALSE(plain.isEmpty());
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<Holder>(plain));
}

TEST(KeyedArchive, SelfReferencesAndDeepNestingStayBounded) {
    // A list that contains itself, written by hand.
    auto makeArchive = [](int depth, bool cycle) {
        QVariantList objects{QStringLiteral("$null"), QVariantMap{{"$classname", QStringLiteral("NSArray")}}};
        for (int i = 0; i < depth; ++i) {
            const quint64 next = cycle ? 2 : quint64(3 + i);
            objects.append(QVariantMap{{"$class", uid(1)}, {"NS.objects", QVariantList{uid(next), uid(next)}}});
        }
        objects.append(QStringLiteral("leaf"));
        const QVariantMap root{{"$archiver", QStringLiteral("NSKeyedArchiver")},
                               {"$version", 100000},
                               {"$top", QVariantMap{{"root", uid(2)}}},
                               {"$objects", objects}};
        return platform::plistToData(root, platform::PlistFormat::Binary);
    };
    // Both shapes would take forever (2^depth visits) without the depth bound and budget.
    EXPECT_TRUE(KeyedDecoder::unarchiveValueWithData(makeArchive(1, true)).isValid());
    const QVariant deep = KeyedDecoder::unarchiveValueWithData(makeArchive(200, false));
    EXPECT_TRUE(deep.isValid());
    const QVariant shallow = KeyedDecoder::unarchiveValueWithData(makeArchive(3, false));
    EXPECT_EQ(shallow.toList().size(), 2);
    EXPECT_EQ(shallow.toList()[0].toList()[0].toList()[0].toString(), QStringLiteral("leaf"));
}

TEST(KeyedArchive, PicturesAreWrittenNoLargerThanTheReaderTakes) {
    struct Case { const char* name; QSize in; QSize kept; };
    for (const Case& c : {Case{"24 MP photo", {6000, 4000}, {4096, 2731}}, Case{"portrait", {3000, 5000}, {2458, 4096}},
                          Case{"largest kept as it is", {4096, 4096}, {4096, 4096}},
                          Case{"long and thin", {60000, 3}, {4096, 1}}, Case{"small", {9, 5}, {9, 5}}}) {
        SCOPED_TRACE(c.name);
        QImage picture(c.in, QImage::Format_RGB32);
        picture.fill(QColor(10, 120, 240));
        Holder h;
        h.values = {{"image", picture}};
        bool whole = false;
        const auto back = KeyedDecoder::unarchiveObjectWithData<Holder>(KeyedEncoder::archivedDataWithRootObject(h), &whole);
        ASSERT_TRUE(back);
        EXPECT_TRUE(whole);
        const QImage kept = back->values.value("image").value<QImage>();
        EXPECT_EQ(kept.size(), c.kept);
        EXPECT_EQ(kept.pixelColor(kept.width() / 2, kept.height() / 2), QColor(10, 120, 240));
    }

    // One picture met in two places is stored once.
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    Holder twice;
    twice.values = {{"image", picture}, {"again", picture}};
    int pngs = 0;
    const QVariantList objects = platform::plistFromData(KeyedEncoder::archivedDataWithRootObject(twice))
                                     .toMap().value("$objects").toList();
    for (const QVariant& o : objects) pngs += o.toByteArray().startsWith("\x89PNG") ? 1 : 0;
    EXPECT_EQ(pngs, 1);
}

TEST(KeyedArchive, ReadersTellWhenSomethingWasLeftOut) {
    Holder h;
    h.values = {{"text", QStringLiteral("hello")}, {"image", drawnImage()}};
    h.leaves = {std::make_shared<Leaf>(Leaf{QStringLiteral("one")})};
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(h);
    struct Case { const char* name; QByteArray archive; bool decodes; bool whole; };
    const std::vector<Case> cases = {
        {"intact", data, true, true},
        // What a writer that kept pictures at any size made: a picture over the reader's limit.
        {"picture over the limit",
         testsupport::withArchivedPicturesReplaced(data, testsupport::flatPng(platform::kArchivePictureMaxSide + 1,
                                                                              platform::kArchivePictureMaxSide + 1)),
         true, false},
        {"picture data damaged", testsupport::withArchivedPicturesReplaced(data, QByteArray("\x89PNG\r\n\x1a\n broken")),
         true, false},
        {"cut short", data.left(data.size() - 20), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool whole = !c.whole;
        const auto back = KeyedDecoder::unarchiveObjectWithData<Holder>(c.archive, &whole);
        EXPECT_EQ(bool(back), c.decodes);
        EXPECT_EQ(whole, c.whole);
        // What did read is there all the same.
        if (back) {
            EXPECT_EQ(back->values.value("text").toString(), QStringLiteral("hello"));
        }
    }

    // A list whose entries are of another class reads as a list with them left out.
    std::vector<std::shared_ptr<Leaf>> leaves{std::make_shared<Leaf>(Leaf{QStringLiteral("x")})};
    bool whole = true;
    const auto asHolders =
        KeyedDecoder::unarchiveArrayWithData<Holder>(KeyedEncoder::archivedDataWithRootArray(leaves), &whole);
    ASSERT_TRUE(asHolders.has_value());
    EXPECT_TRUE(asHolders->empty());
    EXPECT_FALSE(whole);
    EXPECT_TRUE(KeyedDecoder::unarchiveArrayWithData<Leaf>(KeyedEncoder::archivedDataWithRootArray(leaves), &whole));
    EXPECT_TRUE(whole);

    // A value of another kind than its reader asks for reads as the empty value, and the
    // archive no longer counts as read whole; an absent key is no loss.
    const QByteArray leaf = KeyedEncoder::archivedDataWithRootObject(Leaf{QStringLiteral("x")});
    const QString key = QStringLiteral("name"), absent = QStringLiteral("absent");
    const struct {
        const char* name;
        std::function<QVariant(KeyedDecoder&)> read;
        bool whole;
    } kinds[] = {
        {"text as text", [&](KeyedDecoder& c) { return QVariant(c.decodeStringForKey(key)); }, true},
        {"text as list", [&](KeyedDecoder& c) {
             EXPECT_TRUE(c.decodeArrayForKey(key).isEmpty());
             return QVariant();
         }, false},
        {"text as number", [&](KeyedDecoder& c) { return QVariant(c.decodeInt32ForKey(key)); }, false},
        {"text as boxed number", [&](KeyedDecoder& c) { return c.decodeNumberForKey(key); }, false},
        {"text as record", [&](KeyedDecoder& c) { return QVariant(bool(c.decodeObjectOfClass<Leaf>(key))); }, false},
        {"absent key", [&](KeyedDecoder& c) { return QVariant(c.decodeArrayForKey(absent)); }, true},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        whole = !k.whole;
        LeafReadOtherwise::read = k.read;
        const auto back = KeyedDecoder::unarchiveObjectWithData<LeafReadOtherwise>(leaf, &whole);
        ASSERT_TRUE(back);
        EXPECT_EQ(whole, k.whole);
    }
    LeafReadOtherwise::read = nullptr;
}
