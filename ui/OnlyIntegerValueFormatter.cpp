#include "ui/OnlyIntegerValueFormatter.h"

namespace {

// The whole text is one integer: an optional sign and at least one ASCII digit.
bool scansAsInteger(const QString& t) {
    int i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ++i;
    if (i == t.size()) return false;
    for (; i < t.size(); ++i)
        if (t[i] < u'0' || t[i] > u'9') return false;
    return true;
}

}  // namespace

bool OnlyIntegerValueFormatter::isPartialStringValid(const QString& text) const {
    if (text.isEmpty()) return true;
    if (!scansAsInteger(text) || text.size() > maximumLength_) return false;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);  // digits past 64 bits are out of range anyway
    return ok && v != 0 && v <= maximumValue_;
}

QValidator::State OnlyIntegerValueFormatter::validate(QString& input, int&) const {
    return isPartialStringValid(input) ? Acceptable : Invalid;
}

bool OnlyIntegerValueFormatterWithZero::isPartialStringValid(const QString& text) const {
    return text.isEmpty() || (scansAsInteger(text) && text.size() <= maximumLength_);
}

QValidator::State OnlyIntegerValueFormatterWithZero::validate(QString& input, int&) const {
    return isPartialStringValid(input) ? Acceptable : Invalid;
}
