#include "platform/foundation/Plist.h"

#include "platform/foundation/CNumericLocale.h"
#include "platform/foundation/Log.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>
#include <bit>
#include <cstdlib>
#include <vector>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace platform {

namespace {

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateOffset = 978307200;

struct PlistDeleter {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

QString takeString(char* s) {
    QString out = s ? QString::fromUtf8(s) : QString();
    std::free(s);
    return out;
}

QVariant toVariant(plist_t node, int depth) {
    if (!node || depth > 512) return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        // Stored as 64-bit two's complement: negative numbers come back negative.
        const auto s = static_cast<qlonglong>(u);
        if (s >= std::numeric_limits<int>::min() && s <= std::numeric_limits<int>::max())
            return int(s);
        return s;
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_STRING: {
        // The pointer form: the copying getter asserts on a string with an embedded NUL,
        // which a damaged file can hold.
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return s ? QString::fromUtf8(s, qsizetype(length)) : QString();
    }
    case PLIST_KEY: {
        char* s = nullptr;
        plist_get_key_val(node, &s);
        return takeString(s);
    }
    case PLIST_DATA: {
        char* d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        QByteArray out(d, qsizetype(len));
        std::free(d);
        return out;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (qint64(sec) + kReferenceDateOffset) * 1000 + usec / 1000;
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }
    case PLIST_UID: {
        uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return QVariant::fromValue(PlistUid{u});
    }
    case PLIST_ARRAY: {
        QVariantList list;
        list.reserve(plist_array_get_size(node));
        // Walk with an iterator: indexed access is linear per item in libplist.
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, it, &item);
            if (!item) break;
            list.append(toVariant(item, depth + 1));
        }
        std::free(it);
        return list;
    }
    case PLIST_DICT: {
        // The XML form writes an archive's object reference as {"CF$UID": n}.
        if (plist_dict_get_size(node) == 1) {
            plist_t uid = plist_dict_get_item(node, "CF$UID");
            if (uid && plist_get_node_type(uid) == PLIST_UINT) {
                uint64_t u = 0;
                plist_get_uint_val(uid, &u);
                return QVariant::fromValue(PlistUid{u});
            }
        }
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key) break;
            map.insert(takeString(key), toVariant(value, depth + 1));
        }
        std::free(it);
        return map;
    }
    default:
        return {};
    }
}

plist_t fromVariant(const QVariant& v, QString* error, int depth) {
    if (depth > 512) {
        *error = QStringLiteral("nesting too deep");
        return nullptr;
    }
    const int type = v.typeId();
    switch (type) {
    case QMetaType::Bool: return plist_new_bool(v.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar: return plist_new_uint(static_cast<uint64_t>(v.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: return plist_new_uint(v.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: return plist_new_real(v.toDouble());
    case QMetaType::QString: return plist_new_string(v.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    case QMetaType::QDateTime: {
        const QDateTime d = v.toDateTime();
        if (!d.isValid()) {
            *error = QStringLiteral("invalid date");
            return nullptr;
        }
        qint64 ms = d.toMSecsSinceEpoch() - kReferenceDateOffset * 1000;
        qint64 sec = ms / 1000, rem = ms % 1000;
        if (rem < 0) {
            sec -= 1;
            rem += 1000;
        }
        return plist_new_date(int32_t(sec), int32_t(rem * 1000));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const QVariantList list = v.toList();
        plist_t arr = plist_new_array();
        for (const QVariant& item : list) {
            plist_t child = fromVariant(item, error, depth + 1);
            if (!child) {
                plist_free(arr);
                return nullptr;
            }
            plist_array_append_item(arr, child);
        }
        return arr;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        const QVariantMap map = type == QMetaType::QVariantMap ? v.toMap() : [&] {
            QVariantMap m;
            const QVariantHash h = v.toHash();
            for (auto it = h.begin(); it != h.end(); ++it) m.insert(it.key(), it.value());
            return m;
        }();
        plist_t dict = plist_new_dict();
        for (auto it = map.begin(); it != map.end(); ++it) {
            plist_t child = fromVariant(it.value(), error, depth + 1);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default:
        if (type == qMetaTypeId<PlistUid>()) return plist_new_uid(v.value<PlistUid>().value);
        *error = QStringLiteral("a value of type %1 has no property-list form")
                     .arg(QString::fromLatin1(v.metaType().name() ? v.metaType().name() : "(none)"));
        return nullptr;
    }
}


// ---- binary writer ----
// libplist's binary writer slows down with the square of the object count (it looks
// every object up in a table of all the others), so a session of many photos would take
// minutes to save. This writer makes one pass and writes each value as it comes, without
// sharing values other than strings; the format allows both.
class BinaryWriter {
public:
    bool write(const QVariant& root, QByteArray* out, QString* error) {
        const qint64 count = countObjects(root, 0, error);
        if (count < 0) return false;
        refSize_ = bytesFor(quint64(count));
        objects_.assign(size_t(count), QByteArray());
        next_ = 0;
        encode(root);
        objects_.resize(size_t(next_));  // shared strings leave the counted slots unused
        QByteArray data = QByteArrayLiteral("bplist00");
        std::vector<quint64> offsets;
        offsets.reserve(objects_.size());
        for (QByteArray& o : objects_) {
            offsets.push_back(quint64(data.size()));
            data.append(o);
            o = QByteArray();
        }
        const quint64 tableOffset = quint64(data.size());
        const int offsetSize = bytesFor(tableOffset);
        for (quint64 o : offsets) appendBE(data, o, offsetSize);
        data.append(QByteArray(6, '\0'));
        data.append(char(offsetSize));
        data.append(char(refSize_));
        appendBE(data, next_, 8);
        appendBE(data, 0, 8);  // the root is the first object
        appendBE(data, tableOffset, 8);
        *out = data;
        return true;
    }

private:
    static int bytesFor(quint64 v) {
        if (v <= 0xff) return 1;
        if (v <= 0xffff) return 2;
        if (v <= 0xffffffffULL) return 4;
        return 8;
    }
    static void appendBE(QByteArray& b, quint64 v, int size) {
        for (int i = size - 1; i >= 0; --i) b.append(char((v >> (8 * i)) & 0xff));
    }
    static void appendMarker(QByteArray& b, int type, quint64 count) {
        if (count < 15) {
            b.append(char((type << 4) | int(count)));
            return;
        }
        b.append(char((type << 4) | 0xf));
        appendInt(b, count);
    }
    static void appendInt(QByteArray& b, quint64 v) {
        const int size = bytesFor(v);
        const int power = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
        b.append(char(0x10 | power));
        appendBE(b, v, size);
    }
    static bool isContainer(int type) {
        return type == QMetaType::QVariantList || type == QMetaType::QStringList ||
               type == QMetaType::QVariantMap || type == QMetaType::QVariantHash;
    }
    static QVariantMap asMap(const QVariant& v) {
        if (v.typeId() == QMetaType::QVariantMap) return v.toMap();
        QVariantMap m;
        const QVariantHash h = v.toHash();
        for (auto it = h.begin(); it != h.end(); ++it) m.insert(it.key(), it.value());
        return m;
    }

    // Number of objects the value writes, or -1 for a value with no property-list form.
    qint64 countObjects(const QVariant& v, int depth, QString* error) {
        if (depth > 512) {
            *error = QStringLiteral("nesting too deep");
            return -1;
        }
        const int type = v.typeId();
        if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
            qint64 n = 1;
            for (const QVariant& item : v.toList()) {
                const qint64 c = countObjects(item, depth + 1, error);
                if (c < 0) return -1;
                n += c;
            }
            return n;
        }
        if (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash) {
            qint64 n = 1;
            const QVariantMap m = asMap(v);
            for (auto it = m.begin(); it != m.end(); ++it) {
                const qint64 c = countObjects(it.value(), depth + 1, error);
                if (c < 0) return -1;
                n += 1 + c;
            }
            return n;
        }
        if (type == QMetaType::QDateTime && !v.toDateTime().isValid()) {
            *error = QStringLiteral("invalid date");
            return -1;
        }
        if (!isScalar(type)) {
            *error = QStringLiteral("a value of type %1 has no property-list form")
                         .arg(QString::fromLatin1(v.metaType().name() ? v.metaType().name() : "(none)"));
            return -1;
        }
        return 1;
    }

    static bool isScalar(int type) {
        switch (type) {
        case QMetaType::Bool: case QMetaType::Int: case QMetaType::Long: case QMetaType::LongLong:
        case QMetaType::Short: case QMetaType::Char: case QMetaType::SChar: case QMetaType::UInt:
        case QMetaType::ULong: case QMetaType::ULongLong: case QMetaType::UShort:
        case QMetaType::UChar: case QMetaType::Double: case QMetaType::Float:
        case QMetaType::QString: case QMetaType::QByteArray: case QMetaType::QDateTime:
            return true;
        default:
            return type == qMetaTypeId<PlistUid>();
        }
    }

    void appendRef(QByteArray& b, quint64 index) const { appendBE(b, index, refSize_); }

    quint64 encodeString(const QString& s) {
        // Equal strings (above all the keys repeated in every dictionary) are written once.
        if (const auto it = strings_.constFind(s); it != strings_.constEnd()) return *it;
        const quint64 index = next_++;
        strings_.insert(s, index);
        QByteArray& b = objects_[size_t(index)];
        bool ascii = true;
        for (QChar c : s)
            if (c.unicode() > 0x7f) {
                ascii = false;
                break;
            }
        if (ascii) {
            appendMarker(b, 0x5, quint64(s.size()));
            b.append(s.toLatin1());
        } else {
            appendMarker(b, 0x6, quint64(s.size()));
            for (QChar c : s) appendBE(b, c.unicode(), 2);
        }
        return index;
    }

    quint64 encode(const QVariant& v) {
        const int type = v.typeId();
        if (type == QMetaType::QString) return encodeString(v.toString());
        const quint64 index = next_++;
        if (isContainer(type)) {
            QByteArray b;
            if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
                const QVariantList list = v.toList();
                std::vector<quint64> refs;
                refs.reserve(size_t(list.size()));
                for (const QVariant& item : list) refs.push_back(encode(item));
                appendMarker(b, 0xA, refs.size());
                for (quint64 r : refs) appendRef(b, r);
            } else {
                const QVariantMap m = asMap(v);
                std::vector<quint64> keys, values;
                keys.reserve(size_t(m.size()));
                values.reserve(size_t(m.size()));
                for (auto it = m.begin(); it != m.end(); ++it) {
                    keys.push_back(encodeString(it.key()));
                    values.push_back(encode(it.value()));
                }
                appendMarker(b, 0xD, keys.size());
                for (quint64 r : keys) appendRef(b, r);
                for (quint64 r : values) appendRef(b, r);
            }
            objects_[size_t(index)] = b;
            return index;
        }
        QByteArray& b = objects_[size_t(index)];
        switch (type) {
        case QMetaType::Bool: b.append(char(v.toBool() ? 0x09 : 0x08)); break;
        case QMetaType::Int: case QMetaType::Long: case QMetaType::LongLong:
        case QMetaType::Short: case QMetaType::Char: case QMetaType::SChar: {
            const qlonglong i = v.toLongLong();
            if (i < 0) {
                b.append(char(0x13));  // negative numbers are always 8 bytes
                appendBE(b, quint64(i), 8);
            } else {
                appendInt(b, quint64(i));
            }
            break;
        }
        case QMetaType::UInt: case QMetaType::ULong: case QMetaType::ULongLong:
        case QMetaType::UShort: case QMetaType::UChar: {
            const quint64 u = v.toULongLong();
            if (u > quint64(std::numeric_limits<qint64>::max())) {
                b.append(char(0x14));  // 16 bytes: unsigned beyond the signed range
                appendBE(b, 0, 8);
                appendBE(b, u, 8);
            } else {
                appendInt(b, u);
            }
            break;
        }
        case QMetaType::Double: case QMetaType::Float: {
            b.append(char(0x23));
            appendBE(b, std::bit_cast<quint64>(v.toDouble()), 8);
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray d = v.toByteArray();
            appendMarker(b, 0x4, quint64(d.size()));
            b.append(d);
            break;
        }
        case QMetaType::QDateTime: {
            const double seconds =
                double(v.toDateTime().toMSecsSinceEpoch() - kReferenceDateOffset * 1000) / 1000.0;
            b.append(char(0x33));
            appendBE(b, std::bit_cast<quint64>(seconds), 8);
            break;
        }
        default: {  // PlistUid
            const quint64 u = v.value<PlistUid>().value;
            const int size = bytesFor(u);
            b.append(char(0x80 | (size - 1)));
            appendBE(b, u, size);
            break;
        }
        }
        return index;
    }

    std::vector<QByteArray> objects_;
    QHash<QString, quint64> strings_;
    quint64 next_ = 0;
    int refSize_ = 1;
};

}  // namespace

QVariant plistFromData(const QByteArray& data) {
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max()) {
        log(u"Property list: no data to read");
        return {};
    }
    plist_t root = nullptr;
    const CNumericLocale cNumbers;
    if (plist_is_binary(data.constData(), uint32_t(data.size())))
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    else
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    if (!root) {
        log(u"Property list: the data is not a readable property list");
        return {};
    }
    PlistPtr holder(root);
    return toVariant(root, 0);
}

QVariant readPlistFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        log(u"Property list: cannot open %@", path);
        return {};
    }
    return plistFromData(f.readAll());
}

QByteArray plistToData(const QVariant& root, PlistFormat format) {
    QString error;
    if (format == PlistFormat::Binary) {
        QByteArray bytes;
        if (!BinaryWriter().write(root, &bytes, &error)) {
            log(u"Property list: cannot write: %@", error);
            return {};
        }
        return bytes;
    }
    plist_t node = fromVariant(root, &error, 0);
    if (!node) {
        log(u"Property list: cannot write: %@", error);
        return {};
    }
    PlistPtr holder(node);
    char* out = nullptr;
    uint32_t len = 0;
    const CNumericLocale cNumbers;
    plist_to_xml(node, &out, &len);
    QByteArray bytes(out, qsizetype(len));
    std::free(out);
    return bytes;
}

bool writePlistFile(const QString& path, const QVariant& root, PlistFormat format) {
    const QByteArray bytes = plistToData(root, format);
    if (bytes.isEmpty()) return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        log(u"Property list: cannot write %@: %@", path, f.errorString());
        return false;
    }
    return true;
}

}  // namespace platform
