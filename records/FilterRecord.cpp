#include "records/FilterRecord.h"

#include "platform/foundation/Format.h"
#include "records/FilterCategoryInfo.h"

QString FilterRecord::description() const {
    return platform::format(u"Filter %@, display name \"%@\" ", filterName, filterDisplayName) +
           (filterIsDuplicate ? QStringLiteral(" (duplicate)\n") : QStringLiteral("\n"));
}

QString FilterCategoryInfo::description() const {
    QString text = platform::format(u"Category %@ contains %lu unique filters, %lu total\n",
                                    categoryName,
                                    qulonglong(filterRecordsWithNoDuplicates.size()),
                                    qulonglong(filterRecords.size()));
    for (const auto& record : filterRecordsWithNoDuplicates)
        if (record) text += platform::format(u"\t\t%@", record->description());
    return text;
}
