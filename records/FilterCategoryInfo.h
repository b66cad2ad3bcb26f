#pragma once
// One category of the effect catalogue.
#include "records/FilterRecord.h"

#include <QList>
#include <QString>
#include <memory>

struct FilterCategoryInfo {
    QString categoryName;
    QString categoryDisplayName;
    QString categoryImage;  // name of the category's image
    // Every effect of the category, duplicates included.
    QList<std::shared_ptr<FilterRecord>> filterRecords;
    // The effects the category offers; empty for a pure section header.
    QList<std::shared_ptr<FilterRecord>> filterRecordsWithNoDuplicates;

    // Debug text for the log.
    QString description() const;
};
