#pragma once
// Property lists (XML and binary) as QVariant trees, read and written by our own code.
//   integer -> int (qlonglong when it does not fit), real -> double, true/false -> bool,
//   string -> QString, date -> QDateTime (UTC), data -> QByteArray,
//   array -> QVariantList, dict -> QVariantMap, keyed-archive UID -> PlistUid.
// Integers, reals and booleans stay apart both ways. Writing accepts those types plus the
// other integer widths, float, QStringList and QVariantHash.
#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <cstdint>

namespace platform {

// The object reference of a keyed archive ("CF$UID").
struct PlistUid {
    std::uint64_t value = 0;
    bool operator==(const PlistUid& o) const { return value == o.value; }
};

enum class PlistFormat { XML, Binary };

// Reads either format (recognised by content). Unreadable data gives an invalid QVariant
// and one log line. Dates keep their full range (years -9999..9999) and strings their
// embedded NULs; an XML file cannot carry such a string, so writing one as XML fails.
QVariant plistFromData(const QByteArray& data);
QVariant readPlistFile(const QString& path);

// Empty result when the tree holds a value a property list cannot carry (logged).
QByteArray plistToData(const QVariant& root, PlistFormat format = PlistFormat::XML);
// Written to a temporary name beside the file and renamed into place.
bool writePlistFile(const QString& path, const QVariant& root,
                    PlistFormat format = PlistFormat::XML);

}  // namespace platform

Q_DECLARE_METATYPE(platform::PlistUid)
