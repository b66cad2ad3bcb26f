#include "records/StringHelpers.h"

#include <QUrl>

namespace StringHelpers {

QString& xmlSimpleEscape(QString& s) {
    s.replace(u"&"_qs, u"&amp;"_qs);
    s.replace(u"\""_qs, u"&quot;"_qs);
    s.replace(u"'"_qs, u"&#x27;"_qs);
    s.replace(u">"_qs, u"&gt;"_qs);
    s.replace(u"<"_qs, u"&lt;"_qs);
    return s;
}

QString& xmlSimpleEscapeNEW(QString& s) {
    s.replace(u"&"_qs, u"&amp;amp;"_qs);
    s.replace(u"\""_qs, u"&quot;"_qs);
    s.replace(u"'"_qs, u"&#x27;"_qs);
    s.replace(u">"_qs, u"&gt;"_qs);
    s.replace(u"<"_qs, u"(lessthan)"_qs);
    return s;
}

QString& xmlSimpleUnescape(QString& s) {
    s.replace(u"&amp;"_qs, u"&"_qs);
    s.replace(u"&quot;"_qs, u"\""_qs);
    s.replace(u"&#x27;"_qs, u"'"_qs);
    s.replace(u"&#x39;"_qs, u"'"_qs);
    s.replace(u"&#x92;"_qs, u"'"_qs);
    s.replace(u"&#x96;"_qs, u"'"_qs);
    s.replace(u"&#x000D;&#x000A;"_qs, u"\n"_qs);
    s.replace(u"&#x000D;"_qs, u"\n"_qs);
    s.replace(u"&#x000A;"_qs, u"\n"_qs);
    s.replace(u"&gt;"_qs, u">"_qs);
    s.replace(u"&lt;"_qs, u"<"_qs);
    return s;
}

QString xmlSimpleEscapeString(const QString& s) {
    QString copy = s;
    return xmlSimpleEscape(copy);
}

QString xmlSimpleEscapeStringNEW(const QString& s) {
    QString copy = s;
    return xmlSimpleEscapeNEW(copy);
}

QString xmlSimpleUnescapeString(const QString& s) {
    QString copy = s;
    return xmlSimpleUnescape(copy);
}

namespace {
// White space and line breaks as the platform's character set counts them.
bool isWhitespaceOrNewline(QChar c) {
    return c.isSpace() || c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029);
}

template <class InSet>
QString trimLeading(const QString& s, InSet inSet) {
    qsizetype i = 0;
    while (i < s.size() && inSet(s[i])) ++i;
    return s.mid(i);
}

template <class InSet>
QString trimTrailing(const QString& s, InSet inSet) {
    qsizetype n = s.size();
    while (n > 0 && inSet(s[n - 1])) --n;
    return s.left(n);
}
}  // namespace

QString trim(const QString& s) {
    return trimTrailing(trimLeading(s, isWhitespaceOrNewline), isWhitespaceOrNewline);
}

QString stringByTrimmingLeadingCharactersInSet(const QString& s, const QString& set) {
    return trimLeading(s, [&](QChar c) { return set.contains(c); });
}

QString stringByTrimmingTrailingCharactersInSet(const QString& s, const QString& set) {
    return trimTrailing(s, [&](QChar c) { return set.contains(c); });
}

QString stringByTrimmingLeadingAndTrailingCharactersInSet(const QString& s, const QString& set) {
    return stringByTrimmingTrailingCharactersInSet(stringByTrimmingLeadingCharactersInSet(s, set),
                                                   set);
}

QString stringByTrimmingLeadingWhitespaceAndNewlineCharacters(const QString& s) {
    return trimLeading(s, isWhitespaceOrNewline);
}

QString stringByTrimmingTrailingWhitespaceAndNewlineCharacters(const QString& s) {
    return trimTrailing(s, isWhitespaceOrNewline);
}

QString stringByTrimmingLeadingAndTrailingWhitespaceAndNewlineCharacters(const QString& s) {
    return trim(s);
}

QString URLEncodedString(const QString& s) {
    // Unreserved characters stay; everything else, the listed delimiters included, is
    // escaped.
    return QString::fromLatin1(QUrl::toPercentEncoding(s, QByteArrayLiteral("-._~"),
                                                       QByteArrayLiteral("!*'();:@&=+$,/?%#[]")));
}

QString URLDecodedString(const QString& s) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(s.toUtf8()));
}

}  // namespace StringHelpers
