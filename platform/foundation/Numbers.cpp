#include "platform/foundation/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace platform {

namespace {

// Copies the numeric prefix (after white space) into ASCII so std::from_chars can read it.
// Returns the offset of the copied text's start in the original.
qsizetype asciiPrefix(QStringView text, std::string* out) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) ++i;
    const qsizetype start = i;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7f) break;
        const char a = char(c);
        if ((a >= '0' && a <= '9') || a == '.' || a == '-' || a == '+' || a == 'e' || a == 'E')
            out->push_back(a);
        else
            break;
    }
    return start;
}

template <class T>
bool scanInteger(QStringView text, T* out, qsizetype* used) {
    std::string s;
    const qsizetype start = asciiPrefix(text, &s);
    const char* b = s.data();
    const char* e = s.data() + s.size();
    if (b != e && *b == '+') ++b;
    // Overflow clamps, like the platform's scanners.
    bool negative = b != e && *b == '-';
    const char* digits = negative ? b + 1 : b;
    const char* d = digits;
    while (d != e && *d >= '0' && *d <= '9') ++d;
    if (d == digits) return false;
    T value{};
    auto r = std::from_chars(b, d, value);
    if (r.ec == std::errc::result_out_of_range)
        value = negative ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
    else if (r.ec != std::errc())
        return false;
    *out = value;
    if (used) *used = start + qsizetype(d - s.data());
    return true;
}

}  // namespace

bool scanDouble(QStringView text, double* out, qsizetype* used) {
    std::string s;
    const qsizetype start = asciiPrefix(text, &s);
    const char* b = s.data();
    const char* e = s.data() + s.size();
    if (b != e && *b == '+') {
        ++b;
        if (b != e && *b == '-') return false;
    }
    double value = 0;
    auto r = std::from_chars(b, e, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small: infinity or zero with the sign of the text.
        const bool negative = b != e && *b == '-';
        std::string mantissa(b, r.ptr);
        const bool tiny = mantissa.find_first_of("eE") != std::string::npos &&
                          mantissa.find("e-") != std::string::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative) value = -value;
    } else if (r.ec != std::errc()) {
        return false;
    }
    *out = value;
    if (used) *used = start + qsizetype(r.ptr - s.data());
    return true;
}

bool scanInt(QStringView text, int* out, qsizetype* used) { return scanInteger(text, out, used); }

bool scanLongLong(QStringView text, long long* out, qsizetype* used) {
    return scanInteger(text, out, used);
}

double doubleValue(QStringView text) {
    double v = 0;
    return scanDouble(text, &v) ? v : 0.0;
}

int intValue(QStringView text) {
    int v = 0;
    return scanInt(text, &v) ? v : 0;
}

long long longLongValue(QStringView text) {
    long long v = 0;
    return scanLongLong(text, &v) ? v : 0;
}

QString stringFromDouble(double value) {
    if (std::isnan(value)) return QStringLiteral("nan");
    if (std::isinf(value)) return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, qsizetype(r.ptr - buf));
}

}  // namespace platform
