#include "platform/foundation/KeyedArchivePlist.h"

#include "platform/foundation/CNumericLocale.h"

#include <QStringList>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/foundation/Values.h"

namespace platform::plistglue {

namespace {
const QDateTime& referenceDate() {
    static const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return ref;
}
}  // namespace

PlistPtr parse(const QByteArray& bytes) {
    if (bytes.size() < 8 || bytes.size() > kMaxPlistBytes) return nullptr;
    plist_t root = nullptr;
    const CNumericLocale cNumbers;
    if (plist_is_binary(bytes.constData(), uint32_t(bytes.size())))
        plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    else
        plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    return PlistPtr(root);
}

QByteArray toBinary(plist_t node) {
    char* out = nullptr;
    uint32_t length = 0;
    const CNumericLocale cNumbers;
    plist_to_bin(node, &out, &length);
    if (!out) return {};
    QByteArray bytes(out, qsizetype(length));
    plist_to_bin_free(out);
    return bytes;
}

double secondsSinceReferenceDate(const QDateTime& date) {
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds) {
    // Keep within what QDateTime and the 32-bit stored seconds can both express.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 4.0e9) return {};
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0))).toLocalTime();
}

plist_t newDate(const QDateTime& date) {
    double s = secondsSinceReferenceDate(date);
    s = std::clamp(s, double(std::numeric_limits<int32_t>::min()), double(std::numeric_limits<int32_t>::max()));
    const double whole = std::floor(s);
    return plist_new_date(int32_t(whole), int32_t(std::llround((s - whole) * 1e6)));
}

QDateTime dateValue(plist_t node) {
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return dateFromReferenceSeconds(double(sec) + double(usec) / 1e6);
}

QString stringValue(plist_t node) {
    // The pointer form: the copying getter asserts on strings with an embedded NUL.
    uint64_t length = 0;
    const char* s = plist_get_string_ptr(node, &length);
    if (!s) return {};
    return QString::fromUtf8(s, qsizetype(std::min<uint64_t>(length, uint64_t(kMaxPlistBytes))));
}

plist_t fromVariant(const QVariant& value, int depth) {
    if (depth > kMaxDepth) return nullptr;
    switch (numberKind(value)) {
    case NumberKind::Boolean: return plist_new_bool(value.toBool() ? 1 : 0);
    case NumberKind::Integer:
        if (value.typeId() == QMetaType::ULongLong) return plist_new_uint(value.toULongLong());
        return plist_new_uint(uint64_t(value.toLongLong()));
    case NumberKind::Real: return plist_new_real(value.toDouble());
    case NumberKind::None: break;
    }
    switch (value.typeId()) {
    case QMetaType::QString: return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray b = value.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    case QMetaType::QDateTime: return newDate(value.toDateTime());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant& v : value.toList()) {
            plist_t item = fromVariant(v, depth + 1);
            if (!item) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, item);
        }
        return array;
    }
    case QMetaType::QVariantHash:
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t item = fromVariant(it.value(), depth + 1);
            if (!item) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), item);
        }
        return dict;
    }
    default: return nullptr;
    }
}

QVariant toVariant(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        const qint64 i = qint64(u);
        if (i >= std::numeric_limits<int>::min() && i <= std::numeric_limits<int>::max()) return int(i);
        return i;
    }
    case PLIST_REAL: {
        double r = 0;
        plist_get_real_val(node, &r);
        return r;
    }
    case PLIST_STRING: return stringValue(node);
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        return QByteArray(p, qsizetype(length));
    }
    case PLIST_DATE: return dateValue(node);
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(int(n));
        for (uint32_t i = 0; i < n; ++i) {
            QVariant v = toVariant(plist_array_get_item(node, i), depth + 1);
            if (!v.isValid()) return {};
            list.append(v);
        }
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) return map;
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            QVariant v = toVariant(item, depth + 1);
            const QString k = key ? QString::fromUtf8(key) : QString();
            std::free(key);
            if (!v.isValid()) {
                std::free(it);
                return {};
            }
            map.insert(k, v);
        }
        std::free(it);
        return map;
    }
    default: return {};
    }
}

}  // namespace platform::plistglue
