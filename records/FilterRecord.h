#pragma once
// One entry of the effect catalogue.
#include <QString>

struct FilterRecord {
    bool isCategory = false;         // a section header row, not an effect
    bool filterIsDuplicate = false;  // also listed in an earlier Core Image category
    QString filterName;
    QString filterDisplayName;
    QString filterImageName;

    // Debug text for the log.
    QString description() const;
};
