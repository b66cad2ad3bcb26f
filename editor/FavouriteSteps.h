#pragma once
// The favourites as the effects screen shows and uses them: the category table's favourite
// rows (a "DummyBatch" header first), switching one of a favourite's steps on or off, deleting
// a favourite, and adding a favourite's steps to the batch.
#include <QList>
#include <QString>
#include <memory>

#include "platform/foundation/UserDefaults.h"
#include "records/FavouriteBatch.h"

namespace FavouriteSteps {

using FavList = QList<std::shared_ptr<FavouriteBatch>>;

// The stored favourites led by the header row; empty when none are stored.
FavList loadFavouriteBatches(platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// Flips the step's switch inside the favourite and stores the favourite back. False for a
// row outside the favourite's steps.
bool toggleStep(FavouriteBatch& favourite, int row,
                platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// Removes the favourite from the stored list; false when it was not stored.
bool deleteFavourite(const FavouriteBatch& favourite,
                     platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

// Appends copies of the favourite's steps to the batch, so editing them later leaves the
// favourite as saved. Returns how many were added.
int addEffects(const FavouriteBatch& favourite, QList<std::shared_ptr<AppliedFilter>>& steps);

// The delete question.
QString deleteAlertTitle();
QString deleteAlertMessage();

}  // namespace FavouriteSteps
