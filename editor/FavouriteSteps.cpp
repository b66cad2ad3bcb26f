#include "editor/FavouriteSteps.h"

#include "records/SavedState.h"

namespace FavouriteSteps {

FavList loadFavouriteBatches(platform::UserDefaults& defaults) {
    FavList rows = Favorites::favouriteBatches(defaults);
    if (!rows.isEmpty()) {
        auto header = std::make_shared<FavouriteBatch>();
        header->name = QStringLiteral("DummyBatch");
        rows.prepend(header);
    }
    return rows;
}

bool toggleStep(FavouriteBatch& favourite, int row, platform::UserDefaults& defaults) {
    if (row < 0 || row >= favourite.filtersArray.size() || !favourite.filtersArray[row]) return false;
    favourite.filtersArray[row]->isApplied = !favourite.filtersArray[row]->isApplied;
    auto stored = std::make_shared<FavouriteBatch>(favourite);
    Favorites::updateFavBatchWithName(favourite.name, stored, defaults);
    return true;
}

bool deleteFavourite(const FavouriteBatch& favourite, platform::UserDefaults& defaults) {
    return Favorites::deleteFavBacthWithName(favourite, defaults);
}

int addEffects(const FavouriteBatch& favourite, QList<std::shared_ptr<AppliedFilter>>& steps) {
    int added = 0;
    for (const auto& step : favourite.filtersArray) {
        if (!step) continue;
        steps.append(std::make_shared<AppliedFilter>(*step));
        ++added;
    }
    return added;
}

QString deleteAlertTitle() { return QStringLiteral("DELETE FAVORITE"); }
QString deleteAlertMessage() {
    return QStringLiteral("Delete Favorite! All your saved batch steps will be lost. Do you wish to continue?");
}

}  // namespace FavouriteSteps
