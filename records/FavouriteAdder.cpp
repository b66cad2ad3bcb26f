#include "records/FavouriteAdder.h"

#include "platform/foundation/Dates.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "records/AppliedFilter.h"
#include "records/FavouriteBatch.h"
#include "records/SavedState.h"

namespace favouriteadder {

bool isStingContainsOnlySpecialChars(const QString& text) {
    for (const QChar c : text)
        if (!kSpecialCharacters.contains(c)) return false;
    return true;
}

Outcome addFavourite(const QString& typedName, const QList<std::shared_ptr<AppliedFilter>>& steps, const QDateTime& now,
                     platform::UserDefaults& defaults) {
    QString blankFree = typedName;
    blankFree.remove(u' ');
    if (blankFree.isEmpty()) return {false, EmptyName};
    if (isStingContainsOnlySpecialChars(blankFree)) return {false, InvalidName};
    if (Favorites::containsFavBatchWithName(typedName, defaults)) return {false, DuplicateName};

    auto favourite = std::make_shared<FavouriteBatch>();
    favourite->name = typedName;
    favourite->dateString = platform::formatDate(now, QStringLiteral("MMM-dd-yyyy hh:mm:s a"));
    for (const auto& step : steps) {
        if (!step) continue;
        auto copy = std::make_shared<AppliedFilter>(*step);
        copy->filterAppliedImage = QImage();
        favourite->filtersArray << copy;
    }
    if (!Favorites::addFavBatch(favourite, defaults)) return {false, QStringLiteral("* The favorite could not be saved.")};
    platform::NotificationCenter::defaultCenter().postNotification(platform::notifications::NewFavBatchAdded);
    QString message = Added;
    message.replace(QStringLiteral("%@"), steps.size() >= 2 ? QStringLiteral("s") : QString());
    return {true, message};
}

}  // namespace favouriteadder
