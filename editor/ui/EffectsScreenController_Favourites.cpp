// The effects screen's favourites: the chosen favourite's panel and preview, switching one
// of its steps, deleting it, and adding its steps to the batch.
#include <QLabel>
#include <QListView>

#include "editor/EffectTables.h"
#include "editor/FavouriteSteps.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectsScreenController.h"
#include "records/AppDelegate.h"
#include "ui/KeyboardHelpers.h"

void EffectsScreenController::showFavoriteView(const std::shared_ptr<FavouriteBatch>& favourite) {
    selectedFavBatch_ = favourite;
    vc_->state().isFAV_SELECTED = bool(favourite);
    if (!favourite) {
        vwFavourite_->hide();
        favModel_->setFavourite(nullptr);
        return;
    }
    showFiltersViewShowFlag(false);
    // A favourite is shown whole.
    vc_->state().currentZooomFactor = 1.0f;
    vc_->zoomPreviewsWithCurrentZoomFactor();
    favModel_->setFavourite(favourite);
    lblFavTitle_->setText(EffectTables::favouritePanelTitle(int(favourite->filtersArray.size())));
    vwFavourite_->show();
    vwFavourite_->raise();
    renderBase();
}

void EffectsScreenController::btnApplyToggleOnFavCellTappedAtIndex(int row) {
    if (!selectedFavBatch_ || !FavouriteSteps::toggleStep(*selectedFavBatch_, row)) return;
    favModel_->reload();
    renderBase();
}

void EffectsScreenController::btnDeleteOnFavCellTappedAtIndex(int row) {
    const auto favourite = categoryModel_->favouriteAt(row);
    if (!favourite) return;
    showAlert(100, FavouriteSteps::deleteAlertTitle(), FavouriteSteps::deleteAlertMessage(), true,
              [this, favourite](bool yes, bool) {
                  if (!yes) return;
                  FavouriteSteps::deleteFavourite(*favourite);
                  showFavoriteView(nullptr);
                  loadCategories();
              });
}

void EffectsScreenController::btnAddEffectsOnFavTapped() {
    if (!selectedFavBatch_) return;
    auto& steps = AppDelegate::shared().arrayAppliedFilters;
    const int first = int(steps.size());
    // The keyboard follows the steps to the batch's list, onto the first of them.
    keyboard::keepKeyboardNear(
        vwFavourite_,
        [&] {
            if (FavouriteSteps::addEffects(*selectedFavBatch_, steps) == 0) return;
            // The favourite's steps are the batch's now: the favourite is no longer drawn over
            // the batch, which would show them twice, and the preview shows what the batch writes.
            showFavoriteView(nullptr);
            stepsChanged(true);
            refreshStepThumbnails(false);
        },
        [this, first] { return stepsListAt(first); });
}
