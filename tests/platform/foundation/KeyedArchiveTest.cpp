#include <gtest/gtest.h>

#include <QPainter>
#include <QRandomGenerator>
#include <cstdlib>
#include <plist/plist.h>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/KeyedArchivePlist.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

using platform::KeyedDecoder;
using platform::KeyedEncoder;
using platform::NumberKind;
using platform::numberKind;
using platform::Vec;

namespace {

struct Leaf {
    static constexpr const char* kArchiveClassName = "Leaf";
    QString name;
    void encodeWithCoder(KeyedEncoder& c) const { c.encodeObject(name, QStringLiteral("name")); }
    void initWithCoder(KeyedDecoder& c) { name = c.decodeStringForKey(QStringLiteral("name")); }
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
        values.insert(QStringLiteral("textAsList"), c.decodeArrayForKey(QStringLiteral("text")));
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

plist_t dictItem(plist_t d, const char* k) { return plist_dict_get_item(d, k); }

QString str(plist_t n) { return platform::plistglue::stringValue(n); }

}  // namespace

TEST(KeyedArchive, EveryValueKindRoundTripsWithItsKind) {
    Holder h;
    const QDateTime when(QDate(2024, 3, 9), QTime(15, 4, 5, 250));
    h.values = {{"int", 42},
                {"big", qlonglong(1) << 40},
                {"real", 3.0},
                {"yes", true},
                {"no", false},
                {"text", QStringLiteral("Grüße ✓")},
                {"data", QByteArray("\0\1\2", 3)},
                {"list", QVariantList{1, 2.5, QStringLiteral("x"), QVariantList{true}}},
                {"map", QVariantMap{{"a", 1}, {"b", QVariantMap{{"c", QStringLiteral("d")}}}}},
                {"date", when},
                {"colour", QColor::fromRgbF(0.25f, 0.5f, 0.75f, 0.5f)},
                {"point", QVariant::fromValue(Vec(0.1, 0.2))},
                {"rect", QVariant::fromValue(Vec(0.1, 0.2, 0.3, 0.4))},
                {"image", drawnImage()},
                {"absent", QVariant()}};
    auto shared = std::make_shared<Leaf>(Leaf{QStringLiteral("one")});
    h.leaves = {shared, std::make_shared<Leaf>(Leaf{QStringLiteral("two")})};
    h.favourite = shared;

    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(h);
    auto back = KeyedDecoder::unarchiveObjectWithData<Holder>(data);
    ASSERT_TRUE(back);
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
    EXPECT_EQ(v["date"].toDateTime(), when);
    EXPECT_EQ(v["colour"].value<QColor>(), h.values["colour"].value<QColor>());
    EXPECT_EQ(v["point"].value<Vec>(), Vec(0.1, 0.2));
    EXPECT_EQ(v["rect"].value<Vec>(), Vec(0.1, 0.2, 0.3, 0.4));
    EXPECT_EQ(v["image"].value<QImage>().convertToFormat(QImage::Format_ARGB32), drawnImage());
    // A stored null is present but empty; a key never written is not present.
    EXPECT_TRUE(v.contains("absent"));
    EXPECT_FALSE(v["absent"].isValid());
    EXPECT_FALSE(v["hasMissing"].toBool());
    // Wrong kinds read as empty; a boxed integer reads as a boolean.
    EXPECT_TRUE(v["textAsList"].toList().isEmpty());
    EXPECT_TRUE(v["intAsBool"].toBool());
    // Records, including one shared between two places, come back as one object.
    ASSERT_EQ(back->leaves.size(), 2u);
    EXPECT_EQ(back->leaves[1]->name, QStringLiteral("two"));
    EXPECT_EQ(back->favourite, back->leaves[0]);
}

TEST(KeyedArchive, LayoutIsTheKeyedArchiversWithClassNames) {
    Holder h;
    h.leaves = {std::make_shared<Leaf>(Leaf{QStringLiteral("one")})};
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(h);
    ASSERT_TRUE(data.startsWith("bplist00"));
    auto root = platform::plistglue::parse(data);
    ASSERT_TRUE(root);
    EXPECT_EQ(str(dictItem(root.get(), "$archiver")), QStringLiteral("NSKeyedArchiver"));
    uint64_t version = 0;
    plist_get_uint_val(dictItem(root.get(), "$version"), &version);
    EXPECT_EQ(version, 100000u);
    plist_t top = dictItem(dictItem(root.get(), "$top"), "root");
    ASSERT_EQ(plist_get_node_type(top), PLIST_UID);
    plist_t objects = dictItem(root.get(), "$objects");
    EXPECT_EQ(str(plist_array_get_item(objects, 0)), QStringLiteral("$null"));

    QStringList classNames;
    for (uint32_t i = 0; i < plist_array_get_size(objects); ++i) {
        plist_t o = plist_array_get_item(objects, i);
        if (plist_get_node_type(o) == PLIST_DICT && dictItem(o, "$classname")) {
            classNames << str(dictItem(o, "$classname"));
            EXPECT_EQ(plist_get_node_type(dictItem(o, "$classes")), PLIST_ARRAY);
        }
    }
    EXPECT_TRUE(classNames.contains("Holder"));
    EXPECT_TRUE(classNames.contains("Leaf"));
    EXPECT_TRUE(classNames.contains("NSArray"));
    EXPECT_EQ(classNames.count("Leaf"), 1);  // one class record per class
    EXPECT_EQ(KeyedDecoder::rootClassNameOfArchive(data), QStringLiteral("Holder"));
    // Scalars sit in the object itself; objects are referenced by UID.
    uint64_t rootUid = 0;
    plist_get_uid_val(top, &rootUid);
    plist_t rootObject = plist_array_get_item(objects, uint32_t(rootUid));
    EXPECT_EQ(plist_get_node_type(dictItem(rootObject, "scalarBool")), PLIST_BOOLEAN);
    EXPECT_EQ(plist_get_node_type(dictItem(rootObject, "leaves")), PLIST_UID);
    EXPECT_EQ(plist_get_node_type(dictItem(rootObject, "$class")), PLIST_UID);
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
    platform::plistglue::PlistPtr plain(platform::plistglue::fromVariant(QVariantMap{{"root", 1}}));
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<Holder>(platform::plistglue::toBinary(plain.get())));
}

TEST(KeyedArchive, SelfReferencesAndDeepNestingStayBounded) {
    // A list that contains itself, written by hand.
    auto makeArchive = [](int depth, bool cycle) {
        plist_t root = plist_new_dict();
        plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_dict_set_item(root, "$version", plist_new_uint(100000));
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(2));
        plist_dict_set_item(root, "$top", top);
        plist_t objects = plist_new_array();
        plist_array_append_item(objects, plist_new_string("$null"));
        plist_t cls = plist_new_dict();
        plist_dict_set_item(cls, "$classname", plist_new_string("NSArray"));
        plist_array_append_item(objects, cls);
        for (int i = 0; i < depth; ++i) {
            plist_t a = plist_new_dict();
            plist_dict_set_item(a, "$class", plist_new_uid(1));
            plist_t items = plist_new_array();
            const uint64_t next = cycle ? 2 : uint64_t(3 + i);
            plist_array_append_item(items, plist_new_uid(next));
            plist_array_append_item(items, plist_new_uid(next));
            plist_dict_set_item(a, "NS.objects", items);
            plist_array_append_item(objects, a);
        }
        plist_array_append_item(objects, plist_new_string("leaf"));
        plist_dict_set_item(root, "$objects", objects);
        const QByteArray bytes = platform::plistglue::toBinary(root);
        plist_free(root);
        return bytes;
    };
    // Both shapes would take forever (2^depth visits) without the depth bound and budget.
    EXPECT_TRUE(KeyedDecoder::unarchiveValueWithData(makeArchive(1, true)).isValid());
    const QVariant deep = KeyedDecoder::unarchiveValueWithData(makeArchive(200, false));
    EXPECT_TRUE(deep.isValid());
    const QVariant shallow = KeyedDecoder::unarchiveValueWithData(makeArchive(3, false));
    EXPECT_EQ(shallow.toList().size(), 2);
    EXPECT_EQ(shallow.toList()[0].toList()[0].toList()[0].toString(), QStringLiteral("leaf"));
}
