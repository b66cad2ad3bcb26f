#pragma once
// Numbers read from and written to text the same way whatever the C or Qt locale says:
// "." is the only decimal separator and no grouping is read or written.
#include <QString>
#include <QStringView>

namespace platform {

// Scanner-style reading: leading white space is skipped, then the longest number at the
// start of the text is taken. Returns false (and leaves *out alone) when none is there.
// *used, when given, receives the number of characters consumed.
bool scanDouble(QStringView text, double* out, qsizetype* used = nullptr);
bool scanInt(QStringView text, int* out, qsizetype* used = nullptr);
bool scanLongLong(QStringView text, long long* out, qsizetype* used = nullptr);

// The value of a string read as a number: the number at its start, 0 when there is none.
// Integers that overflow are clamped to the type's range.
double doubleValue(QStringView text);
int intValue(QStringView text);
long long longLongValue(QStringView text);

// The shortest text that reads back as the same double ("0.1", "1e+20", "3").
QString stringFromDouble(double value);

}  // namespace platform
