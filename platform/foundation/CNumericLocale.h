#pragma once
// Makes the calling thread read and write numbers in the C locale for the lifetime of
// the object, whatever the process locale is. C libraries that parse text numbers with
// strtod (the XML property-list reader among them) would otherwise read "2.5" as 2
// under a comma-decimal locale.
#include <clocale>
#include <locale.h>

namespace platform {

class CNumericLocale {
public:
    CNumericLocale() {
        c_ = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
        if (c_) previous_ = uselocale(c_);
    }
    ~CNumericLocale() {
        if (c_) {
            uselocale(previous_);
            freelocale(c_);
        }
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t c_ = nullptr;
    locale_t previous_ = nullptr;
};

}  // namespace platform
