#pragma once
// String and date helpers used across the program: XML escaping for the feedback text,
// the trimming family, URL encoding, and date comparisons.
#include <QDateTime>
#include <QString>

namespace StringHelpers {

// XML escaping, each in place and returning the string. The NEW form writes "&amp;amp;"
// for "&" and "(lessthan)" for "<" (what the feedback service expects for some fields).
QString& xmlSimpleEscape(QString& s);
QString& xmlSimpleEscapeNEW(QString& s);
QString& xmlSimpleUnescape(QString& s);
QString xmlSimpleEscapeString(const QString& s);
QString xmlSimpleEscapeStringNEW(const QString& s);
QString xmlSimpleUnescapeString(const QString& s);

// White space and newlines off both ends.
QString trim(const QString& s);
// `set` lists the characters to take off.
QString stringByTrimmingLeadingCharactersInSet(const QString& s, const QString& set);
QString stringByTrimmingTrailingCharactersInSet(const QString& s, const QString& set);
QString stringByTrimmingLeadingAndTrailingCharactersInSet(const QString& s, const QString& set);
QString stringByTrimmingLeadingWhitespaceAndNewlineCharacters(const QString& s);
QString stringByTrimmingTrailingWhitespaceAndNewlineCharacters(const QString& s);
QString stringByTrimmingLeadingAndTrailingWhitespaceAndNewlineCharacters(const QString& s);

// Percent-encoding of the UTF-8 bytes; "!*'();:@&=+$,/?%#[]" and space are escaped too.
QString URLEncodedString(const QString& s);
QString URLDecodedString(const QString& s);

}  // namespace StringHelpers

namespace DateCompare {
inline bool isLaterThan(const QDateTime& a, const QDateTime& b) { return a > b; }
inline bool isEarlierThan(const QDateTime& a, const QDateTime& b) { return a < b; }
inline bool isLaterThanOrEqualTo(const QDateTime& a, const QDateTime& b) { return !(a < b); }
inline bool isEarlierThanOrEqualTo(const QDateTime& a, const QDateTime& b) { return !(a > b); }
}  // namespace DateCompare
