#pragma once
// The program's knowledge of effect parameters: one shared object (sharedInstance).
// Its operations are spread over source files by family, each with its own section.
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantList>

class FilterCustomization {
public:
    static FilterCustomization& sharedInstance();

    // ---- Size-relative storing, look-ups, slider ranges and defaults, crop ratios ----

    // ---- Labels, step summaries, the default overlay square, texture pictures ----

private:
    FilterCustomization() = default;
};
