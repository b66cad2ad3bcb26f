#pragma once
// How each metadata text field meets the image-properties dictionary: its group and
// key, what the output builder writes for it and what the reverse reading makes of the
// key's value. The keys are those platform::readImageProperties reads and
// platform::writeImageProperties writes.
#include <QString>
#include <vector>

#include "records/MetaDataObject.h"

namespace outputprops {

enum class Write {
    None,         // never written
    Text,         // the text as it is
    Integer,      // 32-bit leading integer of the text, clamped
    Double,       // leading decimal number
    Single,       // leading decimal number in single precision
    IntegerList,  // [integer]
    TextList,     // [text]
    Components,   // comma-separated component codes 0..6
    Keywords,     // comma-separated texts, nothing trimmed
    Aperture,     // APEX aperture value of an f-number
    Shutter,      // APEX shutter speed value of an exposure time
};

enum class Read {
    Text,       // the value's description, trimmed; "" when missing
    Joined,     // list elements joined with ","; kept when missing
    Untrimmed,  // the value's description, only when present
    SetEmpty,   // no key: always the empty text
};

struct FieldSpec {
    const char* name;
    QString MetaDataObject::*member;
    const char* group;  // nullptr for the XMP fields
    const char* key;
    Write write;
    Read read;
};

// All 79 fields in record order.
const std::vector<FieldSpec>& fieldTable();
const FieldSpec* fieldNamed(const QString& name);

// The APEX texts the builder writes ("%f" of a single-precision value), or "" when the
// field is empty. A text that leads to a non-finite value gives "" too.
QString apertureApexText(const QString& fNumberText);
QString shutterApexText(const QString& shutterText);

// Back from APEX values to photographic texts, as the reverse reading makes them.
QString apertureFromApex(const QString& apexText);
QString shutterFromApex(const QString& apexText);

}  // namespace outputprops
