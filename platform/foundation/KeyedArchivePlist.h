#pragma once
// libplist glue shared by the keyed archive and the user defaults: an owning node
// handle, bounded parsing of untrusted bytes, and plain property-list values
// (string, integer, real, boolean, data, date, array, dictionary) to and from QVariant.
#include <QByteArray>
#include <QDateTime>
#include <QVariant>
#include <memory>
#include <plist/plist.h>

namespace platform::plistglue {

struct PlistDeleter {
    void operator()(void* node) const {
        if (node) plist_free(static_cast<plist_t>(node));
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Largest property-list file or archive read (settings and sessions are far smaller).
inline constexpr qsizetype kMaxPlistBytes = 256 * 1024 * 1024;
// Deepest nesting of arrays and dictionaries followed when converting.
inline constexpr int kMaxDepth = 64;

// Parses binary or XML property-list bytes; nullptr when they are not one.
PlistPtr parse(const QByteArray& bytes);
// Binary property-list bytes of a node.
QByteArray toBinary(plist_t node);

// Seconds since 2001-01-01 UTC, the property-list date epoch.
double secondsSinceReferenceDate(const QDateTime& date);
QDateTime dateFromReferenceSeconds(double seconds);
plist_t newDate(const QDateTime& date);
QDateTime dateValue(plist_t node);

// Plain values: nullptr for a value no property list can hold (logged by the caller).
plist_t fromVariant(const QVariant& value, int depth = 0);
// An invalid QVariant for nodes it cannot convert (UIDs, too deep).
QVariant toVariant(plist_t node, int depth = 0);

QString stringValue(plist_t node);

}  // namespace platform::plistglue
