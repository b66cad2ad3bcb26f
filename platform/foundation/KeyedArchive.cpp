#include "platform/foundation/KeyedArchive.h"

#include <QBuffer>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "platform/foundation/Log.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/PngChunks.h"
#include "platform/foundation/Values.h"

namespace platform {

namespace {

// Deepest nesting of archived objects followed when decoding.
constexpr int kMaxDepth = 64;
// Longest side of a picture read. The writer keeps both sides within
// kArchivePictureMaxSide; long thin pictures of earlier archives still read as long as
// their pixels are within kArchivePicturePixels.
constexpr int64_t kMaxArchiveImageSide = 1 << 17;
// zlib's fast level: a large picture is stored about four times sooner than at the default
// level, for some ten per cent more bytes.
constexpr int kArchivePngQuality = 80;

const QString kNull = QStringLiteral("$null");
const QString kClassKey = QStringLiteral("$class");

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

const QString kVecKeys[4] = {QStringLiteral("CIVectorX"), QStringLiteral("CIVectorY"), QStringLiteral("CIVectorZ"),
                             QStringLiteral("CIVectorW")};

// Dates are stored as seconds since 2001-01-01 UTC.
const QDateTime& referenceDate() {
    static const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return ref;
}

double secondsSinceReferenceDate(const QDateTime& date) { return double(referenceDate().msecsTo(date)) / 1000.0; }

QDateTime dateFromReferenceSeconds(double seconds) {
    // Keep within what QDateTime can express.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 4.0e9) return {};
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0))).toLocalTime();
}

QVariant uidValue(quint64 uid) { return QVariant::fromValue(PlistUid{uid}); }

std::optional<quint64> uidOf(const QVariant& v) {
    if (v.userType() != qMetaTypeId<PlistUid>()) return std::nullopt;
    return v.value<PlistUid>().value;
}

// The dictionary or list a node holds, without copying; nullptr for another kind.
const QVariantMap* asMap(const QVariant& v) {
    return v.typeId() == QMetaType::QVariantMap ? static_cast<const QVariantMap*>(v.constData()) : nullptr;
}
const QVariantList* asList(const QVariant& v) {
    return v.typeId() == QMetaType::QVariantList ? static_cast<const QVariantList*>(v.constData()) : nullptr;
}

}  // namespace

QSize sizeFittingArchive(const QSize& size) {
    const int w = size.width(), h = size.height();
    if (w <= kArchivePictureMaxSide && h <= kArchivePictureMaxSide) return size;
    const double k = double(kArchivePictureMaxSide) / std::max(w, h);
    return {std::clamp(int(std::lround(w * k)), 1, kArchivePictureMaxSide),
            std::clamp(int(std::lround(h * k)), 1, kArchivePictureMaxSide)};
}

QImage pictureFittingArchive(const QImage& picture) {
    const QSize fitted = sizeFittingArchive(picture.size());
    if (fitted == picture.size()) return picture;
    return picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// ---------------------------------------------------------------- encoder

struct KeyedEncoder::State {
    // The archive's objects; a keyed object's values are filled into `dicts`.
    struct Object {
        QVariant value;
        QVariantMap dict;
        bool isDict = false;
    };
    static constexpr size_t kDropped = size_t(-1);

    std::vector<Object> objects;
    std::vector<size_t> stack;  // objects whose keys are being filled
    QVariantMap dropped;        // keys encoded outside any record land here
    QHash<QString, quint64> strings;
    QHash<QString, quint64> classes;
    std::map<const void*, quint64> records;  // records already archived, by identity
    std::map<qint64, quint64> pictures;      // pictures already archived, by QImage::cacheKey
    int64_t picturePixels = 0;
    QString failure;  // why the archive cannot be written whole; empty while it can

    void fail(const QString& why) {
        if (failure.isEmpty()) failure = why;
    }

    quint64 add(const QVariant& value) {
        objects.push_back({value, {}, false});
        return objects.size() - 1;
    }
    QVariantMap& dict(quint64 uid) { return objects[size_t(uid)].dict; }
    QVariantMap& current() { return stack.back() == kDropped ? dropped : dict(stack.back()); }
    quint64 classUid(const QString& name) {
        auto it = classes.find(name);
        if (it != classes.end()) return *it;
        const quint64 uid = add(QVariantMap{{QStringLiteral("$classname"), name},
                                            {QStringLiteral("$classes"), classChain(name)}});
        classes.insert(name, uid);
        return uid;
    }
    // A keyed object of a platform class: a dictionary whose "$class" names it.
    quint64 newObject(const QString& className) {
        objects.push_back({{}, {}, true});
        const quint64 uid = objects.size() - 1;
        const quint64 cls = classUid(className);
        dict(uid).insert(kClassKey, uidValue(cls));
        return uid;
    }
};

KeyedEncoder::KeyedEncoder() : d(std::make_unique<State>()) {
    d->add(kNull);
    d->strings.insert(kNull, 0);
    d->stack.push_back(State::kDropped);
}

KeyedEncoder::~KeyedEncoder() = default;

quint64 KeyedEncoder::uidForArrayOfUids(const std::vector<quint64>& uids) {
    const quint64 uid = d->newObject(QStringLiteral("NSArray"));
    QVariantList array;
    array.reserve(qsizetype(uids.size()));
    for (quint64 u : uids) array.append(uidValue(u));
    d->dict(uid).insert(QStringLiteral("NS.objects"), array);
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
    case NumberKind::Real: return d->add(value);
    case NumberKind::None: break;
    }
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QString s = value.toString();
        auto it = d->strings.find(s);
        if (it != d->strings.end() && s != kNull) return *it;
        const quint64 uid = d->add(s);
        if (s != kNull) d->strings.insert(s, uid);
        return uid;
    }
    case QMetaType::QByteArray: return d->add(value.toByteArray());
    case QMetaType::QDateTime: {
        const quint64 uid = d->newObject(QStringLiteral("NSDate"));
        d->dict(uid).insert(QStringLiteral("NS.time"), secondsSinceReferenceDate(value.toDateTime()));
        return uid;
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const quint64 uid = d->newObject(QStringLiteral("NSArray"));
        QVariantList array;
        for (const QVariant& v : value.toList()) array.append(uidValue(uidForValue(v)));
        d->dict(uid).insert(QStringLiteral("NS.objects"), array);
        return uid;
    }
    case QMetaType::QVariantHash:
    case QMetaType::QVariantMap: {
        const quint64 uid = d->newObject(QStringLiteral("NSDictionary"));
        QVariantList keys, values;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            keys.append(uidValue(uidForValue(it.key())));
            values.append(uidValue(uidForValue(it.value())));
        }
        d->dict(uid).insert(QStringLiteral("NS.keys"), keys);
        d->dict(uid).insert(QStringLiteral("NS.objects"), values);
        return uid;
    }
    case QMetaType::QColor: {
        const QColor c = value.value<QColor>();
        if (!c.isValid()) return 0;
        const quint64 uid = d->newObject(QStringLiteral("NSColor"));
        d->dict(uid).insert(QStringLiteral("NSColorSpace"), 1);
        d->dict(uid).insert(QStringLiteral("NSRGB"), rgbText(c));
        return uid;
    }
    case QMetaType::QImage: {
        const QImage image = value.value<QImage>();
        // The same picture met again (a step kept by two favourites) is stored once.
        if (const auto known = d->pictures.find(image.cacheKey()); known != d->pictures.end()) return known->second;
        const QImage fitted = pictureFittingArchive(image);
        const int64_t pixels = int64_t(fitted.width()) * fitted.height();
        if (d->picturePixels + pixels > kArchivePicturePixelsInAll) {
            d->fail(format(u"its pictures come to more than %@ pixels", kArchivePicturePixelsInAll));
            return 0;
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (fitted.isNull() || !fitted.save(&buffer, "PNG", kArchivePngQuality)) {
            d->fail(format(u"a picture of %@ x %@ could not be stored", image.width(), image.height()));
            return 0;
        }
        d->picturePixels += pixels;
        const quint64 uid = d->newObject(QStringLiteral("NSImage"));
        const quint64 pngUid = uidForValue(png);
        d->dict(uid).insert(QStringLiteral("NSPNGRepresentation"), uidValue(pngUid));
        d->pictures.emplace(image.cacheKey(), uid);
        return uid;
    }
    default: break;
    }
    if (value.canConvert<Vec>() && value.userType() == qMetaTypeId<Vec>()) {
        const Vec vec = value.value<Vec>();
        const int count = std::clamp(vec.count, 0, 4);
        const quint64 uid = d->newObject(QStringLiteral("CIVector"));
        d->dict(uid).insert(QStringLiteral("CIVectorCount"), count);
        for (int i = 0; i < count; ++i) d->dict(uid).insert(kVecKeys[i], vec.at(i));
        return uid;
    }
    log(u"archive: value of type %@ cannot be archived; stored as null", QString::fromLatin1(value.typeName()));
    return 0;
}

quint64 KeyedEncoder::uidForCustom(const void* identity, const QString& className,
                                   const std::function<void(KeyedEncoder&)>& body) {
    auto known = d->records.find(identity);
    if (known != d->records.end()) return known->second;
    const quint64 uid = d->newObject(className);
    d->records.emplace(identity, uid);
    d->stack.push_back(size_t(uid));
    body(*this);
    d->stack.pop_back();
    return uid;
}

void KeyedEncoder::setUidForKey(quint64 uid, const QString& key) {
    d->current().insert(key, uidValue(uid));
}

void KeyedEncoder::encodeObject(const QVariant& value, const QString& key) {
    setUidForKey(uidForValue(value), key);
}

void KeyedEncoder::encodeBool(bool value, const QString& key) {
    d->current().insert(key, value);
}

void KeyedEncoder::encodeInt(qint64 value, const QString& key) {
    d->current().insert(key, qlonglong(value));
}

void KeyedEncoder::encodeDouble(double value, const QString& key) {
    d->current().insert(key, value);
}

QByteArray KeyedEncoder::finish(quint64 rootUid) {
    if (!d->failure.isEmpty()) {
        log(u"archive: not written, as %@", d->failure);
        return {};
    }
    QVariantList objects;
    objects.reserve(qsizetype(d->objects.size()));
    for (State::Object& o : d->objects) objects.append(o.isDict ? QVariant(std::move(o.dict)) : std::move(o.value));
    d->objects.clear();
    const QVariantMap root{{QStringLiteral("$archiver"), QStringLiteral("NSKeyedArchiver")},
                           {QStringLiteral("$version"), 100000},
                           {QStringLiteral("$top"), QVariantMap{{QStringLiteral("root"), uidValue(rootUid)}}},
                           {QStringLiteral("$objects"), objects}};
    QByteArray data = plistToData(root, PlistFormat::Binary);
    if (data.size() > kArchiveMaxBytes) {
        log(u"archive: not written, as it would take %@ bytes", data.size());
        return {};
    }
    return data;
}

QByteArray KeyedEncoder::archivedDataWithRootValue(const QVariant& value) {
    KeyedEncoder coder;
    return coder.finish(coder.uidForValue(value));
}

// ---------------------------------------------------------------- decoder

struct KeyedDecoder::Shared {
    QVariant root;           // the archive as read
    QVariantList objects;    // its "$objects"
    // Values still to be read; an archive that asks for more is refused further values.
    mutable qint64 budget = 1'000'000;
    mutable std::map<quint64, std::shared_ptr<void>> records;
    mutable bool budgetLogged = false;
    // Pictures by the object that holds their PNG data: one referred to many times is
    // decoded once. And what the decoded ones may still hold.
    mutable std::map<quint64, QImage> images;
    mutable int64_t imagePixelsLeft = kArchivePicturePixelsInAll;
    // Something the archive holds was left out (damaged, foreign, or over the limits).
    mutable bool incomplete = false;

    const QVariant& object(quint64 uid) const {
        static const QVariant none;
        return uid < quint64(objects.size()) ? objects[qsizetype(uid)] : none;
    }
    // The keyed object at uid; nullptr for a plain value or a broken reference.
    const QVariantMap* keyed(quint64 uid) const { return asMap(object(uid)); }
    bool spend() const {
        if (--budget >= 0) return true;
        incomplete = true;
        if (!budgetLogged) log(u"archive: too many objects; the rest is left out");
        budgetLogged = true;
        return false;
    }
    // The class name of a keyed object, "" for a plain value or a broken reference.
    QString className(const QVariant& node) const {
        const QVariantMap* dict = asMap(node);
        if (!dict) return {};
        const auto cu = uidOf(dict->value(kClassKey));
        if (!cu) return {};
        const QVariantMap* rec = keyed(*cu);
        if (!rec) return {};
        const QVariant name = rec->value(QStringLiteral("$classname"));
        return name.typeId() == QMetaType::QString ? name.toString() : QString();
    }
    QVariant value(quint64 uid, int depth) const;
};

QVariant KeyedDecoder::Shared::value(quint64 uid, int depth) const {
    if (uid == 0) return {};
    // What cannot be read is left out, and the archive no longer counts as read whole.
    auto lost = [this] {
        incomplete = true;
        return QVariant();
    };
    if (depth > kMaxDepth || uid >= quint64(objects.size())) return lost();
    if (!spend()) return {};
    const QVariant& node = object(uid);
    // Plain values; only UID 0 is the null object.
    if (isNumber(node) || node.typeId() == QMetaType::QByteArray || node.typeId() == QMetaType::QString) return node;
    const QVariantMap* dict = asMap(node);
    if (!dict) return lost();
    const QString cls = className(node);
    auto child = [&](const QString& key) { return dict->value(key); };
    auto uidList = [&](const QString& key, std::vector<quint64>& out) {
        const QVariant array = child(key);
        const QVariantList* items = asList(array);
        if (!items) return false;
        for (const QVariant& item : *items) {
            auto u = uidOf(item);
            if (!u) return false;
            out.push_back(*u);
        }
        return true;
    };
    if (cls == QLatin1String("NSArray") || cls == QLatin1String("NSMutableArray") || cls == QLatin1String("NSSet") ||
        cls == QLatin1String("NSMutableSet")) {
        std::vector<quint64> uids;
        if (!uidList(QStringLiteral("NS.objects"), uids)) return lost();
        QVariantList list;
        for (quint64 u : uids) {
            QVariant v = value(u, depth + 1);
            // Lists hold no nulls; an element that does not decode is left out.
            if (v.isValid())
                list.append(v);
            else if (u != 0)
                incomplete = true;
        }
        return list;
    }
    if (cls == QLatin1String("NSDictionary") || cls == QLatin1String("NSMutableDictionary")) {
        std::vector<quint64> keys, values;
        if (!uidList(QStringLiteral("NS.keys"), keys) || !uidList(QStringLiteral("NS.objects"), values) ||
            keys.size() != values.size())
            return lost();
        QVariantMap map;
        for (size_t i = 0; i < keys.size(); ++i) {
            const QVariant k = value(keys[i], depth + 1);
            if (k.typeId() != QMetaType::QString) {
                incomplete = true;
                continue;
            }
            QVariant v = value(values[i], depth + 1);
            if (v.isValid())
                map.insert(k.toString(), v);
            else if (values[i] != 0)
                incomplete = true;
        }
        return map;
    }
    if (cls == QLatin1String("NSString") || cls == QLatin1String("NSMutableString")) {
        const QVariant s = child(QStringLiteral("NS.string"));
        return s.typeId() == QMetaType::QString ? s : lost();
    }
    if (cls == QLatin1String("NSData") || cls == QLatin1String("NSMutableData")) {
        QVariant b = child(QStringLiteral("NS.data"));
        if (!b.isValid()) b = child(QStringLiteral("NS.bytes"));
        return b.typeId() == QMetaType::QByteArray ? b : lost();
    }
    if (cls == QLatin1String("NSDate")) {
        const QVariant t = child(QStringLiteral("NS.time"));
        if (numberKind(t) != NumberKind::Real) return lost();
        const QDateTime date = dateFromReferenceSeconds(t.toDouble());
        return date.isValid() ? QVariant(date) : lost();
    }
    if (cls == QLatin1String("NSColor")) {
        const QVariant rgb = child(QStringLiteral("NSRGB"));
        if (rgb.typeId() != QMetaType::QByteArray) return lost();
        const QColor c = colorFromRgbText(rgb.toByteArray());
        return c.isValid() ? QVariant(c) : lost();
    }
    if (cls == QLatin1String("CIVector")) {
        const QVariant n = child(QStringLiteral("CIVectorCount"));
        const int count = numberKind(n) == NumberKind::Integer ? n.toInt() : -1;
        if (count != 2 && count != 4) return lost();
        Vec vec;
        vec.count = count;
        for (int i = 0; i < count; ++i) {
            const QVariant c = child(kVecKeys[i]);
            if (!isNumber(c)) return lost();
            vec.v[size_t(i)] = numberValue(c);
        }
        return QVariant::fromValue(vec);
    }
    if (cls == QLatin1String("NSImage")) {
        auto u = uidOf(child(QStringLiteral("NSPNGRepresentation")));
        if (!u) return lost();
        if (const auto known = images.find(*u); known != images.end()) return known->second;
        const QVariant png = value(*u, depth + 1);
        if (png.typeId() != QMetaType::QByteArray) return lost();
        // Checked first, as every PNG the program decodes is: the archive is a file from
        // disk and its picture data can declare anything.
        const QByteArray bytes = png.toByteArray();
        QString why;
        if (!pngChunksFitData(bytes.constData(), size_t(bytes.size()),
                              std::min(kArchivePicturePixels, imagePixelsLeft), kMaxArchiveImageSide, &why)) {
            log(u"archive: an image is refused (%@)", why);
            return lost();
        }
        QImage image;
        if (!image.loadFromData(bytes, "PNG")) return lost();
        imagePixelsLeft -= int64_t(image.width()) * image.height();
        images.emplace(*u, image);
        return image;
    }
    // Records and unknown classes are not plain values.
    return {};
}

KeyedDecoder::KeyedDecoder(std::shared_ptr<Shared> shared, quint64 uid, int depth)
    : shared_(std::move(shared)), uid_(uid), depth_(depth) {}

KeyedDecoder::~KeyedDecoder() = default;

void KeyedDecoder::noteLoss() const { shared_->incomplete = true; }

bool KeyedDecoder::readWhole() const { return !shared_->incomplete; }

void KeyedDecoder::logDamaged(const QString& why) {
    log(u"archive: cannot be read (%@)", why);
}

std::unique_ptr<KeyedDecoder> KeyedDecoder::openArchive(const QByteArray& data) {
    if (data.isEmpty()) return nullptr;
    if (data.size() > kArchiveMaxBytes) {
        logDamaged(QStringLiteral("too large"));
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    // Each value read follows one reference written in the data, so an honest archive
    // never reads more values than it has bytes; one whose lists share lists would
    // otherwise fan out to the whole budget (and hundreds of megabytes) from a few
    // kilobytes.
    shared->budget = std::clamp<qint64>(data.size(), 4096, shared->budget);
    shared->root = plistFromData(data);
    const QVariantMap* root = asMap(shared->root);
    if (!root) {
        logDamaged(QStringLiteral("not a property list"));
        return nullptr;
    }
    const QVariant archiver = root->value(QStringLiteral("$archiver"));
    const QVariant objects = root->value(QStringLiteral("$objects"));
    const QVariant top = root->value(QStringLiteral("$top"));
    if (archiver.typeId() != QMetaType::QString || !asList(objects) || !asMap(top)) {
        logDamaged(QStringLiteral("not a keyed archive"));
        return nullptr;
    }
    auto rootUid = uidOf(asMap(top)->value(QStringLiteral("root")));
    shared->objects = *asList(objects);
    if (!rootUid || *rootUid == 0 || *rootUid >= quint64(shared->objects.size())) {
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
    const QVariantMap* self = shared_->keyed(uid_);
    if (!self) return std::nullopt;
    return uidOf(self->value(key));
}

bool KeyedDecoder::isArrayUid(quint64 uid) const {
    const QString cls = shared_->className(shared_->object(uid));
    return cls == QLatin1String("NSArray") || cls == QLatin1String("NSMutableArray");
}

std::vector<quint64> KeyedDecoder::arrayElementUids(quint64 uid) const {
    std::vector<quint64> out;
    const QVariant array = isArrayUid(uid) ? shared_->keyed(uid)->value(QStringLiteral("NS.objects")) : QVariant();
    const QVariantList* items = asList(array);
    if (!items) {
        noteLoss();
        return out;
    }
    for (const QVariant& item : *items) {
        if (auto u = uidOf(item))
            out.push_back(*u);
        else
            noteLoss();
    }
    return out;
}

std::unique_ptr<KeyedDecoder> KeyedDecoder::recordDecoder(quint64 uid, const QString& className) const {
    if (uid == 0 || depth_ >= kMaxDepth || !shared_->spend()) return nullptr;
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
    const QVariantMap* self = shared_->keyed(uid_);
    return self && self->contains(key);
}

QVariant KeyedDecoder::decodeObjectForKey(const QString& key) const {
    if (const auto uid = uidForKey(key)) return shared_->value(*uid, depth_ + 1);
    // A number written in place (encodeBool, encodeInt, encodeDouble) reads as a boxed one.
    const QVariantMap* self = shared_->keyed(uid_);
    const QVariant n = self ? self->value(key) : QVariant();
    return isNumber(n) ? n : QVariant();
}

void KeyedDecoder::noteLossIfHeld(const QString& key) const {
    const QVariantMap* self = shared_->keyed(uid_);
    if (!self || !self->contains(key)) return;
    const auto uid = uidOf(self->value(key));
    if (!uid || *uid != 0) noteLoss();
}

// A value of another kind than the reader asks for is not what the record wrote there:
// the reader gets the empty value, and the archive is not taken as read whole, so what
// the user saved is kept aside before anything is written over it.
QVariant KeyedDecoder::valueOfKind(const QString& key, int typeId) const {
    const QVariant v = decodeObjectForKey(key);
    if (v.typeId() == typeId) return v;
    noteLossIfHeld(key);
    return {};
}

QString KeyedDecoder::decodeStringForKey(const QString& key) const {
    return valueOfKind(key, QMetaType::QString).toString();
}

QVariantList KeyedDecoder::decodeArrayForKey(const QString& key) const {
    return valueOfKind(key, QMetaType::QVariantList).toList();
}

QVariantMap KeyedDecoder::decodeDictionaryForKey(const QString& key) const {
    return valueOfKind(key, QMetaType::QVariantMap).toMap();
}

QImage KeyedDecoder::decodeImageForKey(const QString& key) const {
    return valueOfKind(key, QMetaType::QImage).value<QImage>();
}

QVariant KeyedDecoder::decodeNumberForKey(const QString& key) const { return scalarForKey(key); }

// A scalar stored directly under the key, or a boxed number the key refers to.
QVariant KeyedDecoder::scalarForKey(const QString& key) const {
    const QVariantMap* self = shared_->keyed(uid_);
    if (!self) return {};
    const QVariant n = self->value(key);
    if (isNumber(n)) return n;
    if (uidOf(n)) {
        const QVariant boxed = decodeObjectForKey(key);
        if (isNumber(boxed)) return boxed;
    }
    noteLossIfHeld(key);
    return {};
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
