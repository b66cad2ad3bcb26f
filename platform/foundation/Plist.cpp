#include "platform/foundation/Plist.h"
#include "platform/foundation/NativeNames.h"

#include "platform/foundation/Log.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <vector>
#include <limits>
#include <memory>

namespace platform {

namespace {

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateOffset = 978307200;
// Dates are kept within years -9999..9999 in both formats, read or written; further is
// not a date a file means (and XML writes four-digit years).
constexpr double kMaxReferenceSeconds = 400000000000.0;

bool dateInRange(const QDateTime& date) {
    if (!date.isValid()) return false;
    const int year = date.toUTC().date().year();
    return year >= -9999 && year <= 9999;
}

QDateTime plistDateFromReferenceSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxReferenceSeconds) return {};
    const qint64 ms = qint64(std::llround(seconds * 1000.0)) + kReferenceDateOffset * 1000;
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    return dateInRange(date) ? date : QDateTime();
}

// "YYYY-MM-DDTHH:MM:SSZ" (years below zero too), in UTC; a fraction of a second is read
// as well.
QDateTime dateFromText(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^(-?\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,9}))?Z$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                     m.captured(7).isEmpty() ? 0 : (m.captured(7) + QStringLiteral("00")).left(3).toInt());
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time, Qt::UTC);
}

QByteArray dateText(const QDateTime& value) {
    if (!dateInRange(value)) return {};
    const QDateTime d = value.toUTC();
    const QDate date = d.date();
    const QTime time = d.time();
    QByteArray out;
    if (date.year() < 0) out += '-';
    out += QByteArray::number(std::abs(date.year())).rightJustified(4, '0');
    out += '-' + QByteArray::number(date.month()).rightJustified(2, '0');
    out += '-' + QByteArray::number(date.day()).rightJustified(2, '0');
    out += 'T' + QByteArray::number(time.hour()).rightJustified(2, '0');
    out += ':' + QByteArray::number(time.minute()).rightJustified(2, '0');
    out += ':' + QByteArray::number(time.second()).rightJustified(2, '0');
    if (time.msec() != 0) out += '.' + QByteArray::number(time.msec()).rightJustified(3, '0');
    out += 'Z';
    return out;
}

// ---- binary reader ----
// Every count, offset and reference is checked against the data before it is used; a
// value may not contain itself, and the values produced are bounded by the size of the
// data, so a file of references to references cannot expand without limit. Strings and
// keys keep embedded NULs, dates keep their full range.
class BinaryReader {
public:
    explicit BinaryReader(const QByteArray& data)
        : d_(reinterpret_cast<const uchar*>(data.constData())), size_(quint64(data.size())) {}

    QVariant read(QString* error) {
        if (size_ < 8 + 32 || std::memcmp(d_, "bplist00", 8) != 0) return fail(error, "not a binary property list");
        const uchar* t = d_ + size_ - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        objectCount_ = be(t + 8, 8);
        const quint64 top = be(t + 16, 8);
        const quint64 table = be(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return fail(error, "bad trailer");
        if (objectCount_ == 0 || top >= objectCount_ || table < 8 || table > size_ - 32 ||
            objectCount_ > (size_ - 32 - table) / offsetSize_)
            return fail(error, "bad object table");
        table_ = table;
        budget_ = size_ + 16;
        active_.assign(size_t(objectCount_), 0);
        QVariant root = object(top, 0);
        if (!error_.isEmpty()) return fail(error, nullptr);
        return root;
    }

private:
    QVariant fail(QString* error, const char* why) {
        if (why && error_.isEmpty()) error_ = QString::fromLatin1(why);
        if (error) *error = error_;
        return {};
    }
    QVariant damage(const char* why) {
        if (error_.isEmpty()) error_ = QString::fromLatin1(why);
        return {};
    }
    static quint64 be(const uchar* p, int n) {
        quint64 v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }
    // Bytes the object may use: from its start to the offset table.
    bool has(quint64 pos, quint64 n) const { return pos <= table_ && n <= table_ - pos; }

    // The length that follows a marker whose low nibble is 0xF; advances pos.
    bool count(uchar low, quint64& pos, quint64& n) {
        if (low != 0xF) {
            n = low;
            return true;
        }
        if (!has(pos, 1)) return false;
        const uchar m = d_[pos++];
        if ((m & 0xF0) != 0x10 || (m & 0x0F) > 3) return false;
        const int bytes = 1 << (m & 0x0F);
        if (!has(pos, quint64(bytes))) return false;
        n = be(d_ + pos, bytes);
        pos += quint64(bytes);
        return true;
    }

    QVariant object(quint64 index, int depth) {
        if (!error_.isEmpty()) return {};
        if (index >= objectCount_) return damage("reference out of range");
        if (depth > 512) return damage("nesting too deep");
        if (budget_ == 0) return damage("too many values");
        --budget_;
        quint64 pos = be(d_ + table_ + index * quint64(offsetSize_), offsetSize_);
        if (pos < 8 || !has(pos, 1)) return damage("object offset out of range");
        const uchar marker = d_[pos++];
        const uchar low = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08) return false;
            if (marker == 0x09) return true;
            return damage("unknown object");
        case 0x1: {
            if (low > 4 || !has(pos, quint64(1) << low)) return damage("bad integer");
            if (low == 4) {  // 16 bytes: the unsigned values beyond the signed range
                const quint64 u = be(d_ + pos + 8, 8);
                if (u > quint64(std::numeric_limits<qint64>::max())) return QVariant(qulonglong(u));
                return number(qlonglong(u));
            }
            return number(qlonglong(be(d_ + pos, 1 << low)));
        }
        case 0x2: {
            if (low == 2 && has(pos, 4)) return double(std::bit_cast<float>(quint32(be(d_ + pos, 4))));
            if (low == 3 && has(pos, 8)) return std::bit_cast<double>(be(d_ + pos, 8));
            return damage("bad real");
        }
        case 0x3: {
            if (marker != 0x33 || !has(pos, 8)) return damage("bad date");
            const QDateTime date = plistDateFromReferenceSeconds(std::bit_cast<double>(be(d_ + pos, 8)));
            if (!date.isValid()) return damage("date out of range");
            return date;
        }
        case 0x4: {
            quint64 n = 0;
            if (!count(low, pos, n) || !has(pos, n)) return damage("bad data");
            return QByteArray(reinterpret_cast<const char*>(d_ + pos), qsizetype(n));
        }
        case 0x5:
        case 0x6: {
            QString s;
            if (!string(marker, pos, s)) return damage("bad string");
            return s;
        }
        case 0x8: {
            if (low > 7 || !has(pos, quint64(low) + 1)) return damage("bad reference");
            return QVariant::fromValue(PlistUid{be(d_ + pos, low + 1)});
        }
        case 0xA:
        case 0xC: {
            quint64 n = 0;
            if (!count(low, pos, n) || n > table_ || !has(pos, n * quint64(refSize_))) return damage("bad array");
            if (active_[size_t(index)]) return damage("an array contains itself");
            active_[size_t(index)] = 1;
            QVariantList list;
            list.reserve(qsizetype(n));
            for (quint64 i = 0; i < n && error_.isEmpty(); ++i)
                list.append(object(be(d_ + pos + i * quint64(refSize_), refSize_), depth + 1));
            active_[size_t(index)] = 0;
            return list;
        }
        case 0xD: {
            quint64 n = 0;
            if (!count(low, pos, n) || n > table_ || !has(pos, 2 * n * quint64(refSize_)))
                return damage("bad dictionary");
            if (active_[size_t(index)]) return damage("a dictionary contains itself");
            active_[size_t(index)] = 1;
            // {"CF$UID": n} is read as an archive's object reference, as in XML.
            QVariantMap map;
            for (quint64 i = 0; i < n && error_.isEmpty(); ++i) {
                const QVariant key = object(be(d_ + pos + i * quint64(refSize_), refSize_), depth + 1);
                if (key.typeId() != QMetaType::QString) {
                    damage("a dictionary key is not a string");
                    break;
                }
                map.insert(key.toString(),
                           object(be(d_ + pos + (n + i) * quint64(refSize_), refSize_), depth + 1));
            }
            active_[size_t(index)] = 0;
            if (map.size() == 1) {
                const QVariant uid = map.value(QStringLiteral("CF$UID"));
                if (uid.typeId() == QMetaType::Int || uid.typeId() == QMetaType::LongLong)
                    return QVariant::fromValue(PlistUid{uid.toULongLong()});
            }
            return map;
        }
        default:
            return damage("unknown object");
        }
    }

    bool string(uchar marker, quint64 pos, QString& out) {
        quint64 n = 0;
        if (!count(marker & 0x0F, pos, n)) return false;
        if ((marker >> 4) == 0x5) {
            if (!has(pos, n)) return false;
            out = n == 0 ? QStringLiteral("") : QString::fromUtf8(reinterpret_cast<const char*>(d_ + pos), qsizetype(n));
            return true;
        }
        if (n > table_ || !has(pos, 2 * n)) return false;
        out = QStringLiteral("");
        out.resize(qsizetype(n));
        for (quint64 i = 0; i < n; ++i) out[qsizetype(i)] = QChar(char16_t(be(d_ + pos + 2 * i, 2)));
        return true;
    }

    static QVariant number(qlonglong v) {
        if (v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max()) return int(v);
        return v;
    }

    const uchar* d_;
    quint64 size_;
    int offsetSize_ = 0, refSize_ = 0;
    quint64 objectCount_ = 0, table_ = 0, budget_ = 0;
    std::vector<char> active_;
    QString error_;
};

// ---- XML reader ----
class XmlReader {
public:
    explicit XmlReader(const QByteArray& data) : xml_(data) {}

    QVariant read(QString* error) {
        QVariant root;
        bool haveRoot = false;
        while (!xml_.atEnd() && !xml_.hasError()) {
            if (xml_.readNext() != QXmlStreamReader::StartElement) continue;
            if (haveRoot) return fail(error, QStringLiteral("more than one value"));
            if (xml_.name() == u"plist") {
                // One value inside; an empty plist has none.
                while (xml_.readNextStartElement()) {
                    if (haveRoot) return fail(error, QStringLiteral("more than one value"));
                    root = value(0);
                    haveRoot = true;
                    if (!error_.isEmpty()) return fail(error, error_);
                }
                if (!haveRoot && !xml_.hasError()) return fail(error, QStringLiteral("no value"));
            } else {
                root = value(0);
                if (!error_.isEmpty()) return fail(error, error_);
            }
            haveRoot = true;
        }
        if (xml_.hasError()) return fail(error, xml_.errorString());
        if (!haveRoot) return fail(error, QStringLiteral("no value"));
        return root;
    }

private:
    QVariant fail(QString* error, const QString& why) {
        if (error) *error = why;
        return {};
    }
    QVariant damage(const QString& why) {
        if (error_.isEmpty()) error_ = why;
        return {};
    }

    // At a start element: reads the value and stops at its end element.
    QVariant value(int depth) {
        if (depth > 512) return damage(QStringLiteral("nesting too deep"));
        const QStringView name = xml_.name();
        if (name == u"dict") {
            QVariantMap map;
            while (xml_.readNextStartElement()) {
                if (xml_.name() != u"key") return damage(QStringLiteral("a dictionary entry has no key"));
                const QString key = xml_.readElementText();
                if (xml_.hasError()) return {};
                if (!xml_.readNextStartElement()) return damage(QStringLiteral("a key has no value"));
                map.insert(key, value(depth + 1));
                if (!error_.isEmpty() || xml_.hasError()) return {};
            }
            // The XML form writes an archive's object reference as {"CF$UID": n}.
            if (map.size() == 1) {
                const QVariant uid = map.value(QStringLiteral("CF$UID"));
                if (uid.typeId() == QMetaType::Int || uid.typeId() == QMetaType::LongLong ||
                    uid.typeId() == QMetaType::ULongLong)
                    return QVariant::fromValue(PlistUid{uid.toULongLong()});
            }
            return map;
        }
        if (name == u"array") {
            QVariantList list;
            while (xml_.readNextStartElement()) {
                list.append(value(depth + 1));
                if (!error_.isEmpty() || xml_.hasError()) return {};
            }
            return list;
        }
        if (name == u"true" || name == u"false") {
            const bool b = name == u"true";
            xml_.skipCurrentElement();
            return b;
        }
        const QString name8 = name.toString();
        const QString text = xml_.readElementText();
        if (xml_.hasError()) return {};
        // An empty string is a string, never the absent (null) one.
        if (name8 == u"string" || name8 == u"key") return text.isNull() ? QStringLiteral("") : text;
        if (name8 == u"integer") {
            const QByteArray t = text.trimmed().toLatin1();
            bool ok = false;
            const qlonglong v = t.toLongLong(&ok);
            if (ok) return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max() ? QVariant(int(v))
                                                                                                      : QVariant(v);
            const qulonglong u = t.toULongLong(&ok);
            if (ok) return qulonglong(u);
            return damage(QStringLiteral("bad integer"));
        }
        if (name8 == u"real") {
            const QByteArray t = text.trimmed().toLatin1().toLower();
            if (t == "nan") return std::numeric_limits<double>::quiet_NaN();
            if (t == "+infinity" || t == "infinity" || t == "inf" || t == "+inf") return std::numeric_limits<double>::infinity();
            if (t == "-infinity" || t == "-inf") return -std::numeric_limits<double>::infinity();
            bool ok = false;
            const double d = t.toDouble(&ok);
            if (!ok) return damage(QStringLiteral("bad real"));
            return d;
        }
        if (name8 == u"data") {
            QByteArray b64 = text.toLatin1();
            b64.replace(' ', "").replace('\n', "").replace('\t', "").replace('\r', "");
            const auto decoded = QByteArray::fromBase64Encoding(b64);
            if (!decoded) return damage(QStringLiteral("bad data"));
            return *decoded;
        }
        if (name8 == u"date") {
            const QDateTime date = dateFromText(text.trimmed());
            if (!date.isValid()) return damage(QStringLiteral("bad date"));
            return date;
        }
        return damage(QStringLiteral("unknown element <%1>").arg(name8));
    }

    QXmlStreamReader xml_;
    QString error_;
};

// ---- XML writer ----
class XmlWriter {
public:
    bool write(const QVariant& root, QByteArray* out, QString* error) {
        out_ = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n");
        if (!value(root, 0)) {
            *error = error_;
            return false;
        }
        out_ += "</plist>\n";
        *out = out_;
        return true;
    }

private:
    void indent(int depth) { out_.append(QByteArray(depth, '\t')); }
    bool text(const QString& s) {
        for (qsizetype i = 0; i < s.size(); ++i) {
            const char16_t u = s[i].unicode();
            // A surrogate must come in a pair: alone it has no UTF-8 form.
            const bool paired = QChar::isHighSurrogate(u) && i + 1 < s.size() && s[i + 1].isLowSurrogate();
            if (paired) {
                ++i;
                continue;
            }
            if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF ||
                QChar::isSurrogate(u)) {
                error_ = QStringLiteral("a string holds a character XML cannot carry");
                return false;
            }
        }
        // A reader turns a raw carriage return into a line feed; the reference keeps it.
        out_ += s.toHtmlEscaped()
                    .replace(u"&quot;"_qs, u"\""_qs)
                    .replace(u"&#39;"_qs, u"'"_qs)
                    .replace(u"\r"_qs, u"&#13;"_qs)
                    .toUtf8();
        return true;
    }
    bool element(const char* tag, const QByteArray& body, int depth) {
        indent(depth);
        out_ += '<';
        out_ += tag;
        out_ += '>';
        out_ += body;
        out_ += "</";
        out_ += tag;
        out_ += ">\n";
        return true;
    }

    bool value(const QVariant& v, int depth) {
        if (depth > 512) {
            error_ = QStringLiteral("nesting too deep");
            return false;
        }
        const int type = v.typeId();
        switch (type) {
        case QMetaType::Bool:
            indent(depth);
            out_ += v.toBool() ? "<true/>\n" : "<false/>\n";
            return true;
        case QMetaType::Int: case QMetaType::Long: case QMetaType::LongLong: case QMetaType::Short:
        case QMetaType::Char: case QMetaType::SChar:
            return element("integer", QByteArray::number(v.toLongLong()), depth);
        case QMetaType::UInt: case QMetaType::ULong: case QMetaType::ULongLong: case QMetaType::UShort:
        case QMetaType::UChar:
            return element("integer", QByteArray::number(v.toULongLong()), depth);
        case QMetaType::Double: case QMetaType::Float: {
            const double d = v.toDouble();
            QByteArray t;
            if (std::isnan(d)) t = "nan";
            else if (std::isinf(d)) t = d > 0 ? "+infinity" : "-infinity";
            else t = QByteArray::number(d, 'g', 17);
            return element("real", t, depth);
        }
        case QMetaType::QString: {
            indent(depth);
            out_ += "<string>";
            if (!text(v.toString())) return false;
            out_ += "</string>\n";
            return true;
        }
        case QMetaType::QByteArray:
            return element("data", v.toByteArray().toBase64(), depth);
        case QMetaType::QDateTime: {
            const QByteArray t = dateText(v.toDateTime());
            if (t.isEmpty()) {
                error_ = QStringLiteral("invalid date");
                return false;
            }
            return element("date", t, depth);
        }
        case QMetaType::QStringList:
        case QMetaType::QVariantList: {
            const QVariantList list = v.toList();
            indent(depth);
            if (list.isEmpty()) {
                out_ += "<array/>\n";
                return true;
            }
            out_ += "<array>\n";
            for (const QVariant& item : list)
                if (!value(item, depth + 1)) return false;
            indent(depth);
            out_ += "</array>\n";
            return true;
        }
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash: {
            QVariantMap map;
            if (type == QMetaType::QVariantMap) {
                map = v.toMap();
            } else {
                const QVariantHash h = v.toHash();
                for (auto it = h.begin(); it != h.end(); ++it) map.insert(it.key(), it.value());
            }
            indent(depth);
            if (map.isEmpty()) {
                out_ += "<dict/>\n";
                return true;
            }
            out_ += "<dict>\n";
            for (auto it = map.begin(); it != map.end(); ++it) {
                indent(depth + 1);
                out_ += "<key>";
                if (!text(it.key())) return false;
                out_ += "</key>\n";
                if (!value(it.value(), depth + 1)) return false;
            }
            indent(depth);
            out_ += "</dict>\n";
            return true;
        }
        default:
            if (type == qMetaTypeId<PlistUid>()) {
                indent(depth);
                out_ += "<dict>\n";
                indent(depth + 1);
                out_ += "<key>CF$UID</key>\n";
                element("integer", QByteArray::number(v.value<PlistUid>().value), depth + 1);
                indent(depth);
                out_ += "</dict>\n";
                return true;
            }
            error_ = QStringLiteral("a value of type %1 has no property-list form")
                         .arg(QString::fromLatin1(v.metaType().name() ? v.metaType().name() : "(none)"));
            return false;
        }
    }

    QByteArray out_;
    QString error_;
};

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
        if (type == QMetaType::QDateTime && !dateInRange(v.toDateTime())) {
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
    QString error;
    const QVariant root = data.startsWith("bplist00") ? BinaryReader(data).read(&error) : XmlReader(data).read(&error);
    if (!root.isValid()) {
        log(u"Property list: the data is not a readable property list (%@)", error);
        return {};
    }
    return root;
}

QVariant readPlistFile(const QString& path) {
    // A photo library's lists are the user's files: only a regular one is read.
    QFile f;
    if (!openFile(f, path)) {
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
    QByteArray bytes;
    if (!XmlWriter().write(root, &bytes, &error)) {
        log(u"Property list: cannot write: %@", error);
        return {};
    }
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
