#include "records/FavouriteBatch.h"

#include "records/Archiving.h"

void FavouriteBatch::encodeWithCoder(platform::KeyedEncoder& coder) const {
    coder.encodeObject(name, QStringLiteral("name"));
    coder.encodeObject(dateString, QStringLiteral("dateString"));
    coder.encodeArrayOfObjects(filtersArray, QStringLiteral("filtersArray"));
}

void FavouriteBatch::initWithCoder(platform::KeyedDecoder& coder) {
    name = coder.decodeStringForKey(QStringLiteral("name"));
    dateString = coder.decodeStringForKey(QStringLiteral("dateString"));
    const auto steps = coder.decodeArrayOfObjectsOfClass<AppliedFilter>(QStringLiteral("filtersArray"));
    filtersArray = QList<std::shared_ptr<AppliedFilter>>(steps.begin(), steps.end());
}
