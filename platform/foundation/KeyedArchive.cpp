#include "platform/foundation/KeyedArchive.h"

#include <QBuffer>
#include <QHash>
#include <QStringList>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include "platform/foundation/KeyedArchivePlist.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

namespace platform {

using plistglue::PlistPtr;

namespace {

const QString kNull = QStringLiteral("$null");
const char* const kClassKey = "$class";

// The class chain recorded under "$classes": the class, then the root class.
QStringList classChain(const QString& name) { return {name, QStringLiteral("NSObject")}; }

// Colour components as the colour archive writes them: "r g b" or "r g b a", C-locale.
QByteArray rgbText(const QColor& c) {
    const QColor rgb = c.toRgb();
    QByteArray t = QByteArray::number(rgb.redF(), 'g', 9) + ' ' + QByteArray::number(rgb.greenF(), 'g', 9) + ' ' +
                   QByteArray::number(rgb.blueF(), 'g', 9);
    if (rgb.alphaF() < 1.0) t += ' ' + QByteArray::number(rgb.alphaF(), 'g', 9);
    t.append('\0');
    return t;
}

QColor colorFromRgbText(QByteArray text) {
    const int nul = text.indexOf('\0');
    if (nul >= 0) text.truncate(nul);
    const QList<QByteArray> parts = text.simplified().split(' ');
    if (parts.size() < 3 || parts.size() > 4) return {};
    double v[4] = {0, 0, 0, 1};
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        v[i] = parts[i].toDouble(&ok);
        if (!ok || !std::isfinite(v[i])) return {};
        v[i] = std::clamp(v[i], 0.0, 1.0);
    }
    return QColor::fromRgbF(float(v[0]), float(v[1]), float(v[2]), float(v[3]));
}

const char* const kVecKeys[4] = {"CIVectorX", "CIVectorY", "CIVectorZ", "CIVectorW"};

}  // namespace

// ---------------------------------------------------------------- encoder

struct KeyedEncoder::State {
    std::vector<plist_t> objects;            // owned until finish()
    std::vector<plist_t> stack;              // dictionaries being filled (not owned)
    QHash<QString, quint64> strings;
    QHash<QString, quint64> classes;
    std::map<const void*, quint64> records;  // records already archived, by identity

    ~State() {
        for (plist_t o : objects)
            if (o) plist_free(o);
    }
    quint64 add(plist_t node) {
        objects.push_back(node);
        return objects.size() - 1;
    }
    quint64 classUid(const QString& name) {
        auto it = classes.find(name);
        if (it != classes.end()) return *it;
        plist_t rec = plist_new_dict();
        plist_dict_set_item(rec, "$classname", plist_new_string(name.toUtf8().constData()));
        plist_t chain = plist_new_array();
        for (const QString& c : classChain(name)) plist_array_append_item(chain, plist_new_string(c.toUtf8().constData()));
        plist_dict_set_item(rec, "$classes", chain);
        const quint64 uid = add(rec);
        classes.insert(name, uid);
        return uid;
    }
    // A keyed object of a platform class: a dictionary whose "$class" names it.
    std::pair<quint64, plist_t> newObject(const QString& className) {
        plist_t dict = plist_new_dict();
        const quint64 uid = add(dict);
        plist_dict_set_item(dict, kClassKey, plist_new_uid(classUid(className)));
        return {uid, dict};
    }
};

KeyedEncoder::KeyedEncoder() : d(std::make_unique<State>()) {
    d->add(plist_new_string(kNull.toUtf8().constData()));
    d->strings.insert(kNull, 0);
    // The root container: keys encoded outside any record land here and are dropped.
    d->stack.push_back(plist_new_dict());
}

KeyedEncoder::~KeyedEncoder() {
    if (!d->stack.empty()) plist_free(d->stack.front());
}

quint64 KeyedEncoder::uidForArrayOfUids(const std::vector<quint64>& uids) {
    auto [uid, dict] = d->newObject(QStringLiteral("NSArray"));
    plist_t array = plist_new_array();
    for (quint64 u : uids) plist_array_append_item(array, plist_new_uid(u));
    plist_dict_set_item(dict, "NS.objects", array);
    return uid;
}

quint64 KeyedEncoder::uidForValue(const QVariant& value) {
    // A null string or image is the absent object.
    if (!value.isValid()) return 0;
    if (value.typeId() == QMetaType::QString && value.toString().isNull()) return 0;
    if (value.typeId() == QMetaType::QImage && value.value<QImage>().isNull()) return 0;
    switch (numberKind(value)) {
    case NumberKind::Boolean:
    case NumberKind::Integer:
    case NumberKind::Real: return d->add(plistglue::fromVariant(value));
    case NumberKind::None: break;
    }
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QString s = value.toString();
        auto it = d->strings.find(s);
        if (it != d->strings.end() && s != kNull) return *it;
        const quint64 uid = d->add(plist_new_string(s.toUtf8().constData()));
        if (s != kNull) d->strings.insert(s, uid);
        return uid;
    }
    case QMetaType::QByteArray: {
        const QByteArray b = value.toByteArray();
        return d->add(plist_new_data(b.constData(), uint64_t(b.size())));
    }
    case QMetaType::QDateTime: {
        auto [uid, dict] = d->newObject(QStringLiteral("NSDate"));
        plist_dict_set_item(dict, "NS.time", plist_new_real(plistglue::secondsSinceReferenceDate(value.toDateTime())));
        return uid;
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        auto [uid, dict] = d->newObject(QStringLiteral("NSArray"));
        plist_t array = plist_new_array();
        plist_dict_set_item(dict, "NS.objects", array);
        for (const QVariant& v : value.toList()) plist_array_append_item(array, plist_new_uid(uidForValue(v)));
        return uid;
    }
    case QMetaType::QVariantHash:
    case QMetaType::QVariantMap: {
        auto [uid, dict] = d->newObject(QStringLiteral("NSDictionary"));
        plist_t keys = plist_new_array();
        plist_t values = plist_new_array();
        plist_dict_set_item(dict, "NS.keys", keys);
        plist_dict_set_item(dict, "NS.objects", values);
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_array_append_item(keys, plist_new_uid(uidForValue(it.key())));
            plist_array_append_item(values, plist_new_uid(uidForValue(it.value())));
        }
        return uid;
    }
    case QMetaType::QColor: {
        const QColor c = value.value<QColor>();
        if (!c.isValid()) return 0;
        auto [uid, dict] = d->newObject(QStringLiteral("NSColor"));
        plist_dict_set_item(dict, "NSColorSpace", plist_new_uint(1));
        const QByteArray rgb = rgbText(c);
        plist_dict_set_item(dict, "NSRGB", plist_new_data(rgb.constData(), uint64_t(rgb.size())));
        return uid;
    }
    case QMetaType::QImage: {
        const QImage image = value.value<QImage>();
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG")) {
            log(u"archive: image of %@ x %@ could not be stored", image.width(), image.height());
            return 0;
        }
        auto [uid, dict] = d->newObject(QStringLiteral("NSImage"));
        plist_dict_set_item(dict, "NSPNGRepresentation", plist_new_uid(uidForValue(png)));
        return uid;
    }
    default: break;
    }
    if (value.canConvert<Vec>() && value.userType() == qMetaTypeId<Vec>()) {
        const Vec vec = value.value<Vec>();
        auto [uid, dict] = d->newObject(QStringLiteral("CIVector"));
        plist_dict_set_item(dict, "CIVectorCount", plist_new_uint(uint64_t(std::clamp(vec.count, 0, 4))));
        for (int i = 0; i < std::clamp(vec.count, 0, 4); ++i) plist_dict_set_item(dict, kVecKeys[i], plist_new_real(vec.at(i)));
        return uid;
    }
    log(u"archive: value of type %@ cannot be archived; stored as null", QString::fromLatin1(value.typeName()));
    return 0;
}

quint64 KeyedEncoder::uidForCustom(const void* identity, const QString& className,
                                   const std::function<void(KeyedEncoder&)>& body) {
    auto known = d->records.find(identity);
    if (known != d->records.end()) return known->second;
    auto [uid, dict] = d->newObject(className);
    d->records.emplace(identity, uid);
    d->stack.push_back(dict);
    body(*this);
    d->stack.pop_back();
    return uid;
}

void KeyedEncoder::setUidForKey(quint64 uid, const QString& key) {
    plist_dict_set_item(d->stack.back(), key.toUtf8().constData(), plist_new_uid(uid));
}

void KeyedEncoder::encodeObject(const QVariant& value, const QString& key) {
    setUidForKey(uidForValue(value), key);
}

void KeyedEncoder::encodeBool(bool value, const QString& key) {
    plist_dict_set_item(d->stack.back(), key.toUtf8().constData(), plist_new_bool(value ? 1 : 0));
}

void KeyedEncoder::encodeInt(qint64 value, const QString& key) {
    plist_dict_set_item(d->stack.back(), key.toUtf8().constData(), plist_new_uint(uint64_t(value)));
}

void KeyedEncoder::encodeDouble(double value, const QString& key) {
    plist_dict_set_item(d->stack.back(), key.toUtf8().constData(), plist_new_real(value));
}

QByteArray KeyedEncoder::finish(quint64 rootUid) {
    PlistPtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(root.get(), "$version", plist_new_uint(100000));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(rootUid));
    plist_dict_set_item(root.get(), "$top", top);
    plist_t objects = plist_new_array();
    for (plist_t& o : d->objects) {
        plist_array_append_item(objects, o);
        o = nullptr;  // now owned by the array
    }
    d->objects.clear();
    plist_dict_set_item(root.get(), "$objects", objects);
    return plistglue::toBinary(root.get());
}

QByteArray KeyedEncoder::archivedDataWithRootValue(const QVariant& value) {
    KeyedEncoder coder;
    return coder.finish(coder.uidForValue(value));
}

// ---------------------------------------------------------------- decoder

struct KeyedDecoder::Shared {
    PlistPtr root;
    plist_t objects = nullptr;
    uint32_t count = 0;
    // Work done so far; an archive that asks for more than this is refused further values.
    mutable qint64 budget = 1'000'000;
    mutable std::map<quint64, std::shared_ptr<void>> records;
    mutable bool budgetLogged = false;

    plist_t object(quint64 uid) const { return uid < count ? plist_array_get_item(objects, uint32_t(uid)) : nullptr; }
    bool spend() const {
        if (--budget >= 0) return true;
        if (!budgetLogged) log(u"archive: too many objects; the rest is left out");
        budgetLogged = true;
        return false;
    }
    // The class name of a keyed object, "" for a plain value or a broken reference.
    QString className(plist_t node) const {
        if (!node || plist_get_node_type(node) != PLIST_DICT) return {};
        plist_t ref = plist_dict_get_item(node, kClassKey);
        if (!ref || plist_get_node_type(ref) != PLIST_UID) return {};
        uint64_t cu = 0;
        plist_get_uid_val(ref, &cu);
        plist_t rec = object(cu);
        if (!rec || plist_get_node_type(rec) != PLIST_DICT) return {};
        plist_t name = plist_dict_get_item(rec, "$classname");
        if (!name || plist_get_node_type(name) != PLIST_STRING) return {};
        return plistglue::stringValue(name);
    }
    QVariant value(quint64 uid, int depth) const;
};

namespace {
std::optional<quint64> uidOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_UID) return std::nullopt;
    uint64_t u = 0;
    plist_get_uid_val(node, &u);
    return u;
}
}  // namespace

QVariant KeyedDecoder::Shared::value(quint64 uid, int depth) const {
    if (uid == 0 || depth > plistglue::kMaxDepth || !spend()) return {};
    plist_t node = object(uid);
    if (!node) return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_REAL:
    case PLIST_DATA: return plistglue::toVariant(node);
    case PLIST_STRING: return plistglue::stringValue(node);  // only UID 0 is the null object
    case PLIST_DICT: break;
    default: return {};
    }
    const QString cls = className(node);
    auto child = [&](const char* key) -> plist_t { return plist_dict_get_item(node, key); };
    auto uidList = [&](const char* key, std::vector<quint64>& out) {
        plist_t array = child(key);
        if (!array || plist_get_node_type(array) != PLIST_ARRAY) return false;
        const uint32_t n = plist_array_get_size(array);
        for (uint32_t i = 0; i < n; ++i) {
            auto u = uidOf(plist_array_get_item(array, i));
            if (!u) return false;
            out.push_back(*u);
        }
        return true;
    };
    if (cls == QLatin1String("NSArray") || cls == QLatin1String("NSMutableArray") || cls == QLatin1String("NSSet") ||
        cls == QLatin1String("NSMutableSet")) {
        std::vector<quint64> uids;
        if (!uidList("NS.objects", uids)) return {};
        QVariantList list;
        for (quint64 u : uids) {
            QVariant v = value(u, depth + 1);
            // Lists hold no nulls; an element that does not decode is left out.
            if (v.isValid()) list.append(v);
        }
        return list;
    }
    if (cls == QLatin1String("NSDictionary") || cls == QLatin1String("NSMutableDictionary")) {
        std::vector<quint64> keys, values;
        if (!uidList("NS.keys", keys) || !uidList("NS.objects", values) || keys.size() != values.size()) return {};
        QVariantMap map;
        for (size_t i = 0; i < keys.size(); ++i) {
            const QVariant k = value(keys[i], depth + 1);
            if (k.typeId() != QMetaType::QString) continue;
            QVariant v = value(values[i], depth + 1);
            if (v.isValid()) map.insert(k.toString(), v);
        }
        return map;
    }
    if (cls == QLatin1String("NSString") || cls == QLatin1String("NSMutableString")) {
        plist_t s = child("NS.string");
        return s && plist_get_node_type(s) == PLIST_STRING ? QVariant(plistglue::stringValue(s)) : QVariant();
    }
    if (cls == QLatin1String("NSData") || cls == QLatin1String("NSMutableData")) {
        plist_t b = child("NS.data");
        if (!b) b = child("NS.bytes");
        return b && plist_get_node_type(b) == PLIST_DATA ? plistglue::toVariant(b) : QVariant();
    }
    if (cls == QLatin1String("NSDate")) {
        plist_t t = child("NS.time");
        if (!t || plist_get_node_type(t) != PLIST_REAL) return {};
        double s = 0;
        plist_get_real_val(t, &s);
        const QDateTime date = plistglue::dateFromReferenceSeconds(s);
        return date.isValid() ? QVariant(date) : QVariant();
    }
    if (cls == QLatin1String("NSColor")) {
        plist_t rgb = child("NSRGB");
        if (!rgb || plist_get_node_type(rgb) != PLIST_DATA) return {};
        const QColor c = colorFromRgbText(plistglue::toVariant(rgb).toByteArray());
        return c.isValid() ? QVariant(c) : QVariant();
    }
    if (cls == QLatin1String("CIVector")) {
        const QVariant n = plistglue::toVariant(child("CIVectorCount"));
        const int count = numberKind(n) == NumberKind::Integer ? n.toInt() : -1;
        if (count != 2 && count != 4) return {};
        Vec vec;
        vec.count = count;
        for (int i = 0; i < count; ++i) {
            const QVariant c = plistglue::toVariant(child(kVecKeys[i]));
            if (!isNumber(c)) return {};
            vec.v[size_t(i)] = numberValue(c);
        }
        return QVariant::fromValue(vec);
    }
    if (cls == QLatin1String("NSImage")) {
        auto u = uidOf(child("NSPNGRepresentation"));
        if (!u) return {};
        const QVariant png = value(*u, depth + 1);
        if (png.typeId() != QMetaType::QByteArray) return {};
        QImage image;
        if (!image.loadFromData(png.toByteArray(), "PNG")) return {};
        return image;
    }
    // Records and unknown classes are not plain values.
    return {};
}

KeyedDecoder::KeyedDecoder(std::shared_ptr<Shared> shared, quint64 uid, int depth)
    : shared_(std::move(shared)), uid_(uid), depth_(depth) {}

KeyedDecoder::~KeyedDecoder() = default;

void KeyedDecoder::logDamaged(const QString& why) {
    log(u"archive: cannot be read (%@)", why);
}

std::unique_ptr<KeyedDecoder> KeyedDecoder::openArchive(const QByteArray& data) {
    if (data.isEmpty()) return nullptr;
    auto shared = std::make_shared<Shared>();
    shared->root = plistglue::parse(data);
    plist_t root = shared->root.get();
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        logDamaged(QStringLiteral("not a property list"));
        return nullptr;
    }
    plist_t archiver = plist_dict_get_item(root, "$archiver");
    plist_t objects = plist_dict_get_item(root, "$objects");
    plist_t top = plist_dict_get_item(root, "$top");
    if (!archiver || plist_get_node_type(archiver) != PLIST_STRING || !objects ||
        plist_get_node_type(objects) != PLIST_ARRAY || !top || plist_get_node_type(top) != PLIST_DICT) {
        logDamaged(QStringLiteral("not a keyed archive"));
        return nullptr;
    }
    auto rootUid = uidOf(plist_dict_get_item(top, "root"));
    shared->objects = objects;
    shared->count = plist_array_get_size(objects);
    if (!rootUid || *rootUid == 0 || *rootUid >= shared->count) {
        logDamaged(QStringLiteral("no root object"));
        return nullptr;
    }
    return std::make_unique<KeyedDecoder>(std::move(shared), *rootUid, 0);
}

QVariant KeyedDecoder::unarchiveValueWithData(const QByteArray& data) {
    auto root = openArchive(data);
    return root ? root->shared_->value(root->uid_, 0) : QVariant();
}

QString KeyedDecoder::rootClassNameOfArchive(const QByteArray& data) {
    auto root = openArchive(data);
    return root ? root->shared_->className(root->shared_->object(root->uid_)) : QString();
}

std::optional<quint64> KeyedDecoder::uidForKey(const QString& key) const {
    plist_t node = shared_->object(uid_);
    if (!node || plist_get_node_type(node) != PLIST_DICT) return std::nullopt;
    return uidOf(plist_dict_get_item(node, key.toUtf8().constData()));
}

bool KeyedDecoder::isArrayUid(quint64 uid) const {
    const QString cls = shared_->className(shared_->object(uid));
    return cls == QLatin1String("NSArray") || cls == QLatin1String("NSMutableArray");
}

std::vector<quint64> KeyedDecoder::arrayElementUids(quint64 uid) const {
    std::vector<quint64> out;
    if (!isArrayUid(uid)) return out;
    plist_t array = plist_dict_get_item(shared_->object(uid), "NS.objects");
    if (!array || plist_get_node_type(array) != PLIST_ARRAY) return out;
    const uint32_t n = plist_array_get_size(array);
    for (uint32_t i = 0; i < n; ++i)
        if (auto u = uidOf(plist_array_get_item(array, i))) out.push_back(*u);
    return out;
}

std::unique_ptr<KeyedDecoder> KeyedDecoder::recordDecoder(quint64 uid, const QString& className) const {
    if (uid == 0 || depth_ >= plistglue::kMaxDepth || !shared_->spend()) return nullptr;
    if (shared_->className(shared_->object(uid)) != className) return nullptr;
    return std::make_unique<KeyedDecoder>(shared_, uid, depth_ + 1);
}

std::shared_ptr<void> KeyedDecoder::rememberedRecord(quint64 uid, const QString& className) const {
    auto it = shared_->records.find(uid);
    if (it == shared_->records.end()) return nullptr;
    return shared_->className(shared_->object(uid)) == className ? it->second : nullptr;
}

void KeyedDecoder::rememberRecord(quint64 uid, std::shared_ptr<void> object) const {
    shared_->records[uid] = std::move(object);
}

bool KeyedDecoder::containsValueForKey(const QString& key) const {
    plist_t node = shared_->object(uid_);
    return node && plist_get_node_type(node) == PLIST_DICT && plist_dict_get_item(node, key.toUtf8().constData());
}

QVariant KeyedDecoder::decodeObjectForKey(const QString& key) const {
    if (const auto uid = uidForKey(key)) return shared_->value(*uid, depth_ + 1);
    // A number written in place (encodeBool, encodeInt, encodeDouble) reads as a boxed one.
    plist_t self = shared_->object(uid_);
    plist_t n = self && plist_get_node_type(self) == PLIST_DICT ? plist_dict_get_item(self, key.toUtf8().constData())
                                                                 : nullptr;
    if (!n) return {};
    switch (plist_get_node_type(n)) {
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_REAL: return plistglue::toVariant(n);
    default: return {};
    }
}

QString KeyedDecoder::decodeStringForKey(const QString& key) const {
    const QVariant v = decodeObjectForKey(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QVariantList KeyedDecoder::decodeArrayForKey(const QString& key) const {
    const QVariant v = decodeObjectForKey(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

QVariantMap KeyedDecoder::decodeDictionaryForKey(const QString& key) const {
    const QVariant v = decodeObjectForKey(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QImage KeyedDecoder::decodeImageForKey(const QString& key) const {
    const QVariant v = decodeObjectForKey(key);
    return v.typeId() == QMetaType::QImage ? v.value<QImage>() : QImage();
}

// A scalar stored directly under the key, or a boxed number the key refers to.
QVariant KeyedDecoder::scalarForKey(const QString& key) const {
    plist_t self = shared_->object(uid_);
    if (!self || plist_get_node_type(self) != PLIST_DICT) return {};
    plist_t n = plist_dict_get_item(self, key.toUtf8().constData());
    if (!n) return {};
    switch (plist_get_node_type(n)) {
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_REAL: return plistglue::toVariant(n);
    case PLIST_UID: {
        const QVariant boxed = decodeObjectForKey(key);
        return isNumber(boxed) ? boxed : QVariant();
    }
    default: return {};
    }
}

bool KeyedDecoder::decodeBoolForKey(const QString& key) const {
    return numberValue(scalarForKey(key)) != 0.0;
}

qint64 KeyedDecoder::decodeInt64ForKey(const QString& key) const {
    const QVariant v = scalarForKey(key);
    if (numberKind(v) == NumberKind::Real) {
        const double r = v.toDouble();
        if (!std::isfinite(r)) return 0;
        return qint64(std::clamp(r, -9.2e18, 9.2e18));
    }
    return v.toLongLong();
}

qint32 KeyedDecoder::decodeInt32ForKey(const QString& key) const {
    const qint64 v = decodeInt64ForKey(key);
    return qint32(std::clamp<qint64>(v, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

double KeyedDecoder::decodeDoubleForKey(const QString& key) const {
    return numberValue(scalarForKey(key));
}

}  // namespace platform
