#pragma once
// Keyed archives: each object is stored with its class name and its keyed values, in
// the keyed archiver's binary property-list layout ("$archiver", "$version" 100000,
// "$top" {"root": UID}, "$objects" with "$null" first, class records with "$classname"
// and "$classes", objects referring to each other by UID).
//
// Plain values travel as QVariant: QString, int/qlonglong, double, bool (kept apart),
// QByteArray, QDateTime, QVariantList, QVariantMap, QColor (as NSColor), platform::Vec
// (as CIVector) and QImage (PNG data inside an NSImage object). The program's own
// records archive themselves: a record type T either has
//     static constexpr const char* kArchiveClassName;
//     void encodeWithCoder(platform::KeyedEncoder&) const;
//     void initWithCoder(platform::KeyedDecoder&);
// or specialises platform::ArchiveTraits<T>.
//
// Decoding is defensive: only the plain value classes and the record classes a caller
// asks for by type are decoded, nesting is bounded, a value of the wrong kind decodes as
// the empty value (and counts as not read), and a damaged archive decodes to nothing with
// one log line. The whole archive readers also tell whether everything in the archive was
// read, so a caller can keep data it could only read in part instead of writing the part
// back over it.
#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// What an archive may hold, one rule for the writer and the reader. The writer scales
// every picture down until each side is within kArchivePictureMaxSide, and refuses to
// write more than kArchivePicturePixelsInAll pixels of pictures, or more than
// kArchiveMaxBytes, in one archive. The reader refuses a picture of more than
// kArchivePicturePixels, pictures beyond the same total and archives beyond the same
// size. So whatever is written reads back, while a few kilobytes of damaged archive never
// decode into gigabytes of pictures.
inline constexpr int kArchivePictureMaxSide = 4096;
inline constexpr int64_t kArchivePicturePixels = int64_t(kArchivePictureMaxSide) * kArchivePictureMaxSide;
inline constexpr int64_t kArchivePicturePixelsInAll = 16 * kArchivePicturePixels;
inline constexpr qsizetype kArchiveMaxBytes = 256 * 1024 * 1024;

// The size a picture of `size` is kept at: the same when each side fits, else scaled down
// with its proportions kept (at least one pixel across).
QSize sizeFittingArchive(const QSize& size);
// The picture as an archive keeps it: the picture itself when each side fits, else a copy
// scaled down smoothly to sizeFittingArchive.
QImage pictureFittingArchive(const QImage& picture);

class KeyedEncoder;
class KeyedDecoder;

template <class T>
struct ArchiveTraits {
    static QString className() { return QString::fromLatin1(T::kArchiveClassName); }
    static void encode(const T& object, KeyedEncoder& coder) { object.encodeWithCoder(coder); }
    static void decode(T& object, KeyedDecoder& coder) { object.initWithCoder(coder); }
};

class KeyedEncoder {
public:
    KeyedEncoder();
    ~KeyedEncoder();
    KeyedEncoder(const KeyedEncoder&) = delete;
    KeyedEncoder& operator=(const KeyedEncoder&) = delete;

    // A plain value; an invalid QVariant is stored as the null object.
    void encodeObject(const QVariant& value, const QString& key);
    // A record, or the null object for nullptr. Records are told apart by address, so one
    // record met twice is stored once; every record must outlive the encoding.
    template <class T>
    void encodeObject(const std::shared_ptr<T>& object, const QString& key) {
        setUidForKey(object ? uidForRecord(*object) : 0, key);
    }
    // A list of records (any container of shared_ptr, as an NSArray); null entries are skipped.
    template <class Container>
    void encodeArrayOfObjects(const Container& objects, const QString& key) {
        setUidForKey(uidForRecordArray(objects), key);
    }
    void encodeBool(bool value, const QString& key);
    void encodeInt(qint64 value, const QString& key);
    void encodeInt32(qint32 value, const QString& key) { encodeInt(value, key); }
    void encodeDouble(double value, const QString& key);

    // Whole archives; empty (with one log line) when the archive cannot be written whole:
    // a picture that could not be stored, pictures or bytes beyond the limits above.
    template <class T>
    static QByteArray archivedDataWithRootObject(const T& root) {
        KeyedEncoder coder;
        return coder.finish(coder.uidForRecord(root));
    }
    template <class Container>
    static QByteArray archivedDataWithRootArray(const Container& roots) {
        KeyedEncoder coder;
        return coder.finish(coder.uidForRecordArray(roots));
    }
    static QByteArray archivedDataWithRootValue(const QVariant& value);

    // Building blocks of the templates above.
    quint64 uidForValue(const QVariant& value);
    quint64 uidForCustom(const void* identity, const QString& className,
                         const std::function<void(KeyedEncoder&)>& body);
    quint64 uidForArrayOfUids(const std::vector<quint64>& uids);
    void setUidForKey(quint64 uid, const QString& key);
    QByteArray finish(quint64 rootUid);

    template <class T>
    quint64 uidForRecord(const T& object) {
        return uidForCustom(&object, ArchiveTraits<T>::className(),
                            [&object](KeyedEncoder& c) { ArchiveTraits<T>::encode(object, c); });
    }
    template <class Container>
    quint64 uidForRecordArray(const Container& objects) {
        std::vector<quint64> uids;
        for (const auto& o : objects)
            if (o) uids.push_back(uidForRecord(*o));
        return uidForArrayOfUids(uids);
    }

private:
    struct State;
    std::unique_ptr<State> d;
};

class KeyedDecoder {
public:
    struct Shared;
    KeyedDecoder(std::shared_ptr<Shared> shared, quint64 uid, int depth);
    ~KeyedDecoder();

    // True when the archive holds the key (a stored null counts as present).
    bool containsValueForKey(const QString& key) const;
    // Plain values only (numbers written in place included); records and unknown classes
    // decode as an invalid QVariant.
    QVariant decodeObjectForKey(const QString& key) const;
    // Typed readers: a value of another kind gives the empty value, and the archive no
    // longer counts as read whole (an absent key or the null object is no loss).
    QString decodeStringForKey(const QString& key) const;
    QVariantList decodeArrayForKey(const QString& key) const;
    QVariantMap decodeDictionaryForKey(const QString& key) const;
    QImage decodeImageForKey(const QString& key) const;
    // A boxed or stored number; an invalid QVariant when absent or of another kind (the
    // latter counts as left out).
    QVariant decodeNumberForKey(const QString& key) const;
    // Scalars: stored scalars and boxed numbers both count; absent or not a number
    // gives 0 / false (not a number counts as left out). Integers beyond the 32-bit
    // range clamp.
    bool decodeBoolForKey(const QString& key) const;
    qint32 decodeInt32ForKey(const QString& key) const;
    qint64 decodeInt64ForKey(const QString& key) const;
    double decodeDoubleForKey(const QString& key) const;

    // A record's own reader found a value it cannot use (of the kind asked for, yet not
    // what the record holds there): the archive no longer counts as read whole.
    void noteUnreadable() const { noteLoss(); }

    // Records of one class; anything else under the key decodes as nullptr (and, unless
    // it is the null object, counts as left out).
    template <class T>
    std::shared_ptr<T> decodeObjectOfClass(const QString& key) const {
        const auto uid = uidForKey(key);
        if (!uid) noteLossIfHeld(key);
        if (!uid || *uid == 0) return nullptr;
        auto out = decodeRecord<T>(*uid);
        if (!out) noteLoss();
        return out;
    }
    // A list of records of one class; entries of other classes are left out.
    template <class T>
    std::vector<std::shared_ptr<T>> decodeArrayOfObjectsOfClass(const QString& key) const {
        std::vector<std::shared_ptr<T>> out;
        const auto uid = uidForKey(key);
        if (!uid) noteLossIfHeld(key);
        if (!uid || *uid == 0) return out;
        for (quint64 element : arrayElementUids(*uid)) {
            if (auto o = decodeRecord<T>(element))
                out.push_back(std::move(o));
            else
                noteLoss();
        }
        return out;
    }

    // Whole archives; nullptr / nullopt for a damaged archive or a root of another class.
    // `whole`, when given, tells whether everything was read: false when something in
    // the archive was left out (a picture over the limits, a damaged or foreign entry).
    template <class T>
    static std::shared_ptr<T> unarchiveObjectWithData(const QByteArray& data, bool* whole = nullptr) {
        if (whole) *whole = false;
        auto root = openArchive(data);
        if (!root) return nullptr;
        auto out = root->template decodeRecord<T>(root->uid_);
        if (!out) logDamaged("root object is not a " + ArchiveTraits<T>::className());
        if (whole) *whole = out && root->readWhole();
        return out;
    }
    template <class T>
    static std::optional<std::vector<std::shared_ptr<T>>> unarchiveArrayWithData(const QByteArray& data,
                                                                                bool* whole = nullptr) {
        if (whole) *whole = false;
        auto root = openArchive(data);
        if (!root || !root->isArrayUid(root->uid_)) {
            if (root) logDamaged(QStringLiteral("root object is not a list"));
            return std::nullopt;
        }
        std::vector<std::shared_ptr<T>> out;
        for (quint64 element : root->arrayElementUids(root->uid_)) {
            if (auto o = root->template decodeRecord<T>(element))
                out.push_back(std::move(o));
            else
                root->noteLoss();
        }
        if (whole) *whole = root->readWhole();
        return out;
    }
    static QVariant unarchiveValueWithData(const QByteArray& data);
    // The class name recorded for the root object ("" when damaged); for inspection.
    static QString rootClassNameOfArchive(const QByteArray& data);

private:
    static std::unique_ptr<KeyedDecoder> openArchive(const QByteArray& data);
    // Something the archive holds was left out; whether nothing was, so far.
    void noteLoss() const;
    // The key holds something other than the null object: it was left out.
    void noteLossIfHeld(const QString& key) const;
    // The key's value when it is of that kind; otherwise invalid, and a held value is lost.
    QVariant valueOfKind(const QString& key, int typeId) const;
    bool readWhole() const;
    static void logDamaged(const QString& why);
    std::optional<quint64> uidForKey(const QString& key) const;
    QVariant scalarForKey(const QString& key) const;
    std::vector<quint64> arrayElementUids(quint64 uid) const;
    bool isArrayUid(quint64 uid) const;
    // A decoder for a record stored at uid when its class is className; remembers
    // decoded records so shared objects stay shared and cycles end.
    std::unique_ptr<KeyedDecoder> recordDecoder(quint64 uid, const QString& className) const;
    std::shared_ptr<void> rememberedRecord(quint64 uid, const QString& className) const;
    void rememberRecord(quint64 uid, std::shared_ptr<void> object) const;

    template <class T>
    std::shared_ptr<T> decodeRecord(quint64 uid) const {
        if (auto known = rememberedRecord(uid, ArchiveTraits<T>::className()))
            return std::static_pointer_cast<T>(known);
        auto sub = recordDecoder(uid, ArchiveTraits<T>::className());
        if (!sub) return nullptr;
        auto object = std::make_shared<T>();
        rememberRecord(uid, object);
        ArchiveTraits<T>::decode(*object, *sub);
        return object;
    }

    std::shared_ptr<Shared> shared_;
    quint64 uid_ = 0;
    int depth_ = 0;
};

}  // namespace platform
