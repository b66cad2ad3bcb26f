#include "platform/foundation/Plist.h"

#include "platform/foundation/Log.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>
#include <cstdlib>
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
        char* s = nullptr;
        plist_get_string_val(node, &s);
        return takeString(s);
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
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i) list.append(toVariant(plist_array_get_item(node, i), depth + 1));
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

}  // namespace

QVariant plistFromData(const QByteArray& data) {
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max()) {
        log(u"Property list: no data to read");
        return {};
    }
    plist_t root = nullptr;
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
    plist_t node = fromVariant(root, &error, 0);
    if (!node) {
        log(u"Property list: cannot write: %@", error);
        return {};
    }
    PlistPtr holder(node);
    char* out = nullptr;
    uint32_t len = 0;
    if (format == PlistFormat::Binary) {
        plist_to_bin(node, &out, &len);
    } else {
        plist_to_xml(node, &out, &len);
    }
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
