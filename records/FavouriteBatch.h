#pragma once
// A saved list of effect steps with a name and the time it was saved.
#include <QList>
#include <QString>
#include <memory>

#include "records/AppliedFilter.h"

namespace platform {
class KeyedEncoder;
class KeyedDecoder;
}  // namespace platform

struct FavouriteBatch {
    static constexpr const char* kArchiveClassName = "FavouriteBatch";

    QString name;
    QString dateString;  // "MMM-dd-yyyy hh:mm:s a"
    QList<std::shared_ptr<AppliedFilter>> filtersArray;

    void encodeWithCoder(platform::KeyedEncoder& coder) const;
    void initWithCoder(platform::KeyedDecoder& coder);
};
