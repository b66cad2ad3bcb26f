// The effects screen's named operations: the preview with the batch's (and a favourite's)
// steps, the thumbnails of the step and frame/texture tables, the switches between the
// effect list and the effect's panel, the overlay panels' builders and the text panel's
// option lists.
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QThreadPool>

#include "editor/AppliedSteps.h"
#include "editor/EffectTables.h"
#include "editor/OverlayPanels.h"
#include "editor/PopupGeometry.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectsScreenController.h"
#include "engine/Utils.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/FavouriteBatch.h"
#include "records/FilterRecord.h"
#include "records/PhotoFile.h"
#include "platform/foundation/FileAttributes.h"
#include "ui/KeyboardHelpers.h"

// ---- the preview ----

// The photos a run left over replace the batch: a photo shown before that is no longer in
// it is let go, so that its name and picture do not stand over the photo chosen now, even
// when that one cannot be read.
void EffectsScreenController::forgetShownPhotoOutsideBatch() {
    const auto& photos = AppDelegate::shared().arraySelectedImagesToProcess;
    if (previewPath_.isEmpty() ||
        std::any_of(photos.begin(), photos.end(), [&](const auto& p) { return p && p->filePath == previewPath_; }))
        return;
    originalImage_ = QImage();
    imgSelected_Thumbnail_ = QImage();
    filteredImage_ = QImage();
    photoProperties_.clear();
    previewPath_.clear();
    vc_->setPreviewPhoto(QImage(), QString());
    setImageInfo();
}

void EffectsScreenController::applyAllSeletedFiltersOnImage(const QList<std::shared_ptr<AppliedFilter>>& steps,
                                                            std::function<void()> then) {
    AppDelegate& app = AppDelegate::shared();
    if (originalImage_.isNull() || !app.selectedImageFile) return;
    loader_.load(app.selectedImageFile, QSizeF(vc_->previewBoxSize()), PreviewLoader::snapshotSteps(steps), originalImage_, imgSelected_Thumbnail_,
                 [this, then = std::move(then)](const PhotoPreviewResult& r) {
                     applyPreviewResult(r, std::nullopt, false);
                     if (then) then();
                 });
}

void EffectsScreenController::applyFavFiltersForFavBatch(const std::shared_ptr<FavouriteBatch>& favourite,
                                                         std::function<void()> then) {
    vc_->setStepsAbove({});
    applyAllSeletedFiltersOnImage(
        StepEditing::layersFor(AppDelegate::shared().arrayAppliedFilters, nullptr,
                               favourite ? favourite->filtersArray : StepEditing::StepList())
            .below,
        std::move(then));
}

// ---- thumbnails ----

void EffectsScreenController::tableViewAppliedFiltersBoundDidChange() {
    if (listForm_) return;
    refreshStepThumbnails(AppDelegate::shared().isSELECTED_IMAGE_CHANGED);
}

void EffectsScreenController::tableTextureEffectsBoundDidChange() {
    const QString name = overlayName_;
    const bool frame = EffectTables::isFrameEffect(name);
    const QImage base = filteredImage_.isNull() ? vc_->imageToEdit() : filteredImage_;
    if (!base.isNull()) {
        const QImage small = base.scaled(160, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QString path = previewPath_;
        QPointer<EffectsScreenController> self(this);
        for (int i = 0; i < textureList_.size(); ++i) {
            const QString picture = textureList_[i];
            const QVariantList list = frame ? QVariantList{QVariantMap{{"picture_frameName", picture}},
                                                          QVariantMap{{"frameWidthPercent", 1.0}}}
                                            : QVariantList{QVariantMap{{"picture_EffectName", picture}},
                                                           QVariantMap{{"effectIntensityValue", 0.7}}};
            auto job = [self, back = back_, small, path, name, list, i, picture] {
                // One that fails (memory ran short) is shown as one that gave no picture.
                QImage thumb;
                platform::runContained(
                    [&] { thumb = Utils::sharedUtils().applyFilterWithImage(small, path, name, list, true); });
                back.post([self, i, picture, thumb] {
                    if (self && self->textureList_.value(i) == picture) self->texturesModel_->setImage(i, thumb);
                });
            };
            if (executor_) executor_(job);
            else platform::startOnPool(*QThreadPool::globalInstance(), job);
        }
    }
}

// ---- the left column and the parameter column ----

void EffectsScreenController::showPhotoListViewShowFlag(bool show, bool animate) {
    (void)animate;
    vc_->photoStripArea()->setVisible(show);
}

bool EffectsScreenController::isSingleTimeEdiatbleFilter(const std::shared_ptr<FilterRecord>& record) {
    if (!record || record->filterName != QLatin1String("Resize")) return false;
    const int resize = AppliedSteps::indexOfResize(AppDelegate::shared().arrayAppliedFilters);
    if (resize < 0) return false;
    vc_->state().selectedAppliedFilterIndex = resize;
    btnEditFilterTappedAtIndex(resize);
    return true;
}

void EffectsScreenController::showAppliedFiltersView() {
    const bool none = AppDelegate::shared().arrayAppliedFilters.isEmpty();
    tblSteps_->setVisible(!none);
    lblNoSteps_->setVisible(none);
}

void EffectsScreenController::filterCellDoubleClickedWithIndex(int row) {
    const auto record = effectModel_->recordAt(row);
    if (!record) return;
    vc_->state().isFor_FILTER_EDIT_MODE = false;
    vc_->state().isWINDOW_RESIZED = false;
    // The list makes way for the effect's panel, and the keyboard goes to its first control.
    keyboard::keepKeyboardNear(
        vwEffects_,
        [&] {
            showFilterParametersViewShowFlag(true);
            chooseEffect(record);
        },
        [this] { return firstControlOfEffect(); });
}

void EffectsScreenController::btnApplyFilterTapped() {
    keyboard::keepKeyboardNear(vc_->parametersColumn(), [this] { commitCurrentEffect(); }, [this] { return tblSteps_; });
}

QWidget* EffectsScreenController::firstControlOfEffect() const {
    QWidget* first = keyboard::firstControlIn(vc_->parametersColumn(), {vc_->btnreset(), vc_->vwAddEffect()});
    return first ? first : vc_->btnApplyFilter();
}

QWidget* EffectsScreenController::stepsListAt(int row) {
    tblSteps_->selectionModel()->setCurrentIndex(stepsModel_->index(row), QItemSelectionModel::NoUpdate);
    return tblSteps_;
}

void EffectsScreenController::FilterImageCellClickedWithIndex(int row) {
    filterCellClickedWithIndex(row);
    filterCellDoubleClickedWithIndex(row);
}

void EffectsScreenController::FilterImageDoubbleClickedWithIndex(int row) { filterCellDoubleClickedWithIndex(row); }

void EffectsScreenController::showFiltersViewShowFlag(bool show, bool animate) {
    (void)animate;
    // The effect list lies over the parameter column: shown, it hides the effect's panel.
    vwEffects_->setVisible(show);
    if (show) vwEffects_->raise();
}

void EffectsScreenController::showFilterParametersViewShowFlag(bool show, bool animate) {
    if (show) showFiltersViewShowFlag(false, animate);
    else if (seletedFilterCategory_) showFiltersViewShowFlag(true, animate);
}

bool EffectsScreenController::isSelectedPhotoDeleted() const {
    const auto photo = AppDelegate::shared().selectedImageFile;
    return photo && !platform::fileExists(photo->filePath);
}

void EffectsScreenController::resizeConvertFormatViewAfterDelay() {
    platform::NotificationCenter::defaultCenter().postNotification(platform::notifications::WindowEndResizing);
}

// ---- overlay panels ----

void EffectsScreenController::setupViewForFramesFilters(const QString& name, bool editing) {
    setupTextureOrFrame(name, editing);
}

void EffectsScreenController::setupViewForTextureFilters(const QString& name, bool editing) {
    if (EffectTables::isTextureEffect(name)) setupTextureOrFrame(name, editing);
}

void EffectsScreenController::setupViewForStickerFilter(const QString& name, bool editing) {
    if (!EffectTables::isStickerSet(name)) return;
    stickerList_ = OverlayPanels::stickerImages(name);
    loadStickers();
    // Grid at the top, the picture's settings under it, the apply area at the foot.
    placePanel(vwStickers_, 215, AdjustFilterVC::kColumnHeight - 215 - 45);
    setupViewForAddLogoFilter(name, editing);
}

void EffectsScreenController::loadStickers() {
    QList<QVariantMap> rows;
    for (const QString& image : stickerList_) rows << QVariantMap{{"name", image}};
    stickersModel_->setRows(rows);
}

void EffectsScreenController::setupViewForAddLogoFilter(const QString& name, bool editing) {
    vc_->setWindowResizable(false);
    setupImageOverlay(name, editing);
}

void EffectsScreenController::setupViewForAddCommentFilter(const QString& name, bool editing) {
    // A text is placed on the preview as it is laid out now: the window keeps its size meanwhile.
    vc_->setWindowResizable(false);
    setupText(name, editing);
}

void EffectsScreenController::showAddTextOverlayView() {
    const QString& name = vc_->state().currentFilterName;
    textView_->isSetTextFieldEditable = name != QLatin1String("Add Date");
    textView_->adjustExtendRectToTextChange(previewPath_, name, vc_->workingParameters().list());
    textView_->show();
    textView_->raise();
    textView_->enableTextEvents();
}

void EffectsScreenController::selectFontTapped() { vc_->openOptionPopup(PopupGeometry::Font, lblSelectedFontName_); }
void EffectsScreenController::selectDateOptionsTapped() {
    vc_->openOptionPopup(PopupGeometry::DateOption, lblSelectedDateTime_);
}
void EffectsScreenController::selectDateFormatTapped() {
    vc_->openOptionPopup(PopupGeometry::DateFormat, lblSelectedDateFormat_);
}
void EffectsScreenController::selectTimeFormatTapped() {
    vc_->openOptionPopup(PopupGeometry::TimeFormat, lblSelectedTimeFormat_);
}
