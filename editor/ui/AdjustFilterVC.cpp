// The effects screen: layout, selection of an effect, the working list and the preview.
#include "editor/ui/AdjustFilterVC.h"

#include "editor/PreviewBox.h"

#include <algorithm>
#include <QColorDialog>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "editor/EffectNameSets.h"
#include "editor/PanelPlacement.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/EffectsScreenController.h"
#include "editor/ui/PointHandles.h"
#include "engine/Effects/SizeRelativeKeys.h"
#include "engine/Utils.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/PhotoFile.h"
#include "ui/KeyboardHelpers.h"

namespace {


}  // namespace

AdjustFilterVC::AdjustFilterVC(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AdjustFilterVC"));
    scheduler_ = std::make_unique<QtOneShotScheduler>();
    renderer_ = new PreviewRenderer(this);
    connect(renderer_, &PreviewRenderer::rendered, this, &AdjustFilterVC::onPreviewRendered);
    buildLayout();
    clearControls();
    // The tables, overlays and life cycle attach themselves to the areas built above.
    controller_ = new EffectsScreenController(this);
}

AdjustFilterVC::~AdjustFilterVC() {
    // The child widgets go only after this body and the members, with the window being hidden
    // on the way, which takes the keyboard from the field that has it and makes the field
    // report the end of its editing. No handler may hear that on a screen half gone: the
    // controller goes now, while the screen is whole, and the screen stops listening to its
    // widgets.
    delete controller_;
    overlayHost_ = nullptr;
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
    dismissPanel();
    delete vwPopupWithTableOptions_;  // parentless between pop-ups
}

void AdjustFilterVC::setScheduler(std::unique_ptr<OneShotScheduler> scheduler) {
    if (scheduler) scheduler_ = std::move(scheduler);
}

void AdjustFilterVC::buildLayout() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 4);
    auto* body = new QHBoxLayout;
    root->addLayout(body, 1);

    tableArea_ = new QWidget(this);
    tableArea_->setObjectName(QStringLiteral("tableArea"));
    tableArea_->setFixedWidth(260);
    body->addWidget(tableArea_);

    auto* centre = new QVBoxLayout;
    previewContainer_ = new QWidget(this);
    previewContainer_->setObjectName(QStringLiteral("previewContainer"));
    // Never smaller than its size in the smallest window, and as large as the window lets
    // it be (setPreviewBoxSize): a larger preview must not keep the window from shrinking.
    previewContainer_->setMinimumSize(kPreviewWidth, kPreviewHeight);
    previewContainer_->setMaximumSize(kPreviewWidth, kPreviewHeight);
    previewContainer_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    previewContainer_->setAutoFillBackground(true);
    QPalette pal = previewContainer_->palette();
    pal.setColor(QPalette::Window, QColor(38, 38, 38));
    previewContainer_->setPalette(pal);
    imageContainer_ = new QWidget(previewContainer_);
    imageContainer_->setObjectName(QStringLiteral("imageContainerView"));
    imgViewFiltered_ = new QLabel(imageContainer_);
    imgViewFiltered_->setObjectName(QStringLiteral("imgViewFiltered"));
    imgViewFiltered_->setAlignment(Qt::AlignCenter);
    centre->addWidget(previewContainer_, 4);
    photoStripArea_ = new QWidget(this);
    photoStripArea_->setObjectName(QStringLiteral("photoStripArea"));
    photoStripArea_->setMinimumSize(kPreviewWidth, 100);
    photoStripArea_->setMaximumSize(kPreviewWidth, previewbox::kStripHeight);
    photoStripArea_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    centre->addWidget(photoStripArea_, 1);
    body->addLayout(centre);

    paramsColumn_ = new QWidget(this);
    paramsColumn_->setObjectName(QStringLiteral("vWFiltersAndParams"));
    paramsColumn_->setFixedSize(kColumnWidth, kColumnHeight);
    body->addWidget(paramsColumn_, 0, Qt::AlignTop);
    buildParameterColumn();

    footer_ = new QWidget(this);
    footer_->setObjectName(QStringLiteral("footer"));
    auto* bar = new QHBoxLayout(footer_);
    bar->setContentsMargins(0, 0, 0, 0);
    lblBatchInfo_ = new QLabel(footer_);
    back_ = new QPushButton(tr("Back"), footer_);
    next_ = new QPushButton(tr("Next"), footer_);
    bar->addWidget(back_);
    bar->addWidget(lblBatchInfo_, 1, Qt::AlignCenter);
    bar->addWidget(next_);
    root->addWidget(footer_);
    connect(next_, &QPushButton::clicked, this, &AdjustFilterVC::btnSaveOptionsTapped);
    connect(back_, &QPushButton::clicked, this, &AdjustFilterVC::btnPreviousSelectionTapped);
    resizeImageContainerForAspectFit(QSizeF(kPreviewWidth, kPreviewHeight));
}

void AdjustFilterVC::btnSaveOptionsTapped() {
    if (AppDelegate::shared().isSUBWINDOW_OPENED || state_.shouldDisbaleNext || !delegate_) return;
    delegate_->btnNextFromAdjustFilterVCTapped();
}

void AdjustFilterVC::btnPreviousSelectionTapped() {
    if (AppDelegate::shared().isSUBWINDOW_OPENED || state_.shouldDisbalePrev || !delegate_) return;
    delegate_->btnBackFromFromAdjustFilterVCTapped();
}

void AdjustFilterVC::setNavigationBlocked(bool next, bool back) {
    state_.shouldDisbaleNext = next;
    state_.shouldDisbalePrev = back;
    // Shown greyed while they do nothing, so the wait is visible.
    next_->setEnabled(!next);
    back_->setEnabled(!back);
}

void AdjustFilterVC::buildParameterColumn() {
    lblFilterName_ = new QLabel(paramsColumn_);
    lblFilterName_->setObjectName(QStringLiteral("lblFilterName"));
    lblFilterName_->setGeometry(10, 6, kColumnWidth - 90, 24);
    QFont titleFont = lblFilterName_->font();
    titleFont.setBold(true);
    lblFilterName_->setFont(titleFont);
    viewFilterParametrs_ = new QWidget(paramsColumn_);
    viewFilterParametrs_->setObjectName(QStringLiteral("viewFilterParametrs"));
    vwAddEffect_ = new QWidget(paramsColumn_);
    vwAddEffect_->setObjectName(QStringLiteral("vwAddEffect"));
    btnApplyFilter_ = new QPushButton(tr("Add Effect"), vwAddEffect_);
    btnApplyFilter_->setObjectName(QStringLiteral("btnApplyFilter"));
    btnApplyFilter_->setGeometry(10, 0, 130, 28);
    keyboard::showFocusRing(btnApplyFilter_);  // drawn as the default button, which looks as a focused one
    btnCancel_ = new QPushButton(tr("Cancel"), vwAddEffect_);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    btnCancel_->setGeometry(150, 0, 90, 28);
    lblClickOnAddEffect_ = new QLabel(vwAddEffect_);
    lblClickOnAddEffect_->setGeometry(10, 30, kColumnWidth - 20, 20);
    vwAddEffect_->setGeometry(0, 0, kColumnWidth, 52);
    btnreset_ = new QPushButton(tr("Reset"), paramsColumn_);
    btnreset_->setObjectName(QStringLiteral("btnreset"));
    btnreset_->setGeometry(kColumnWidth - 70, 6, 60, 24);
    lblOnReset_ = new QLabel(tr("Reset the effect's values"), paramsColumn_);
    lblOnReset_->setGeometry(10, 32, kColumnWidth - 20, 18);
    animateButton_ = new QPushButton(tr("Animate"), paramsColumn_);
    animateButton_->setObjectName(QStringLiteral("animateButton"));
    btnExportGifImage_ = new QPushButton(tr("Export GIF"), paramsColumn_);
    btnExportGifImage_->setObjectName(QStringLiteral("btnExportGifImage"));
    showAnimationControls(false);
    connect(btnCancel_, &QPushButton::clicked, this, &AdjustFilterVC::btnCancelTapped);
    connect(btnreset_, &QPushButton::clicked, this, [this] { setupViewForSelectedFilter(); });
    buildGenericControls();
    buildOwnPanels();
    buildOperationViews();
}

QSize AdjustFilterVC::centreRoom() const {
    const QMargins m = layout() ? layout()->contentsMargins() : QMargins();
    const int gap = layout() ? std::max(0, layout()->spacing()) : 0;
    return {width() - m.left() - m.right() - tableArea_->width() - paramsColumn_->width() - 2 * gap,
            height() - m.top() - m.bottom() - footer_->sizeHint().height() - 2 * gap};
}

void AdjustFilterVC::setPreviewBoxSize(QSize box) {
    if (box == previewBox_ || box.isEmpty()) return;
    previewBox_ = box;
    previewContainer_->setMaximumSize(box);
    photoStripArea_->setMaximumWidth(box.width());
    if (layout()) layout()->activate();
    lblZoom_->move(box.width() - 110, box.height() - 24);
    resizeImageContainerForAspectFit();
    resizeInputImageForAspectFit();
}

void AdjustFilterVC::placeInColumn(QWidget* w, const QRectF& yUp) {
    w->setGeometry(platform::toQtRect(yUp, kColumnHeight).toRect());
}

void AdjustFilterVC::placeApplyArea(double yUp) {
    placeInColumn(vwAddEffect_, QRectF(0, yUp, kColumnWidth, PanelPlacement::kApplyHeight));
    // The colour wells' area is two rows tall even with one well: its empty row may reach
    // over the button, which must stay the one that takes the click.
    vwAddEffect_->raise();
    // The animation controls sit under the apply area, inside the column.
    const int y = std::min(vwAddEffect_->geometry().bottom() + 6, kColumnHeight - 30);
    animateButton_->setGeometry(10, y, 130, 26);
    btnExportGifImage_->setGeometry(150, y, 110, 26);
}

void AdjustFilterVC::showAnimationControls(bool hasTime) {
    animateButton_->setEnabled(hasTime);
    animateButton_->setVisible(hasTime);
    btnExportGifImage_->setVisible(hasTime);
}

void AdjustFilterVC::placeTopPanel(QWidget* panel, double extraBelow) {
    const PanelPlacement place{kColumnHeight};
    const double y = place.topPanelY(panel->height());
    placeInColumn(panel, QRectF(0, y, kColumnWidth, panel->height()));
    panel->show();
    placeApplyArea(PanelPlacement::applyBelowPanel(y, extraBelow));
}

QSizeF AdjustFilterVC::imageContainerSize() const { return QSizeF(imageContainer_->size()); }

// ---- choosing an effect ----

void AdjustFilterVC::selectEffectByName(const QString& filterName, const QString& displayName) {
    state_.isFor_FILTER_EDIT_MODE = false;
    state_.selectedAppliedFilterIndex = -1;
    state_.editedStepParameters.clear();
    state_.currentFilterName = filterName;
    state_.currentFilterDisplayName = displayName.isEmpty() ? filterName : displayName;
    setupViewForSelectedFilter();
}

void AdjustFilterVC::btnEditFilterTappedAtIndex(int index) {
    const auto& steps = AppDelegate::shared().arrayAppliedFilters;
    if (index < 0 || index >= steps.size() || !steps[index]) return;
    state_.isFor_FILTER_EDIT_MODE = true;
    state_.selectedAppliedFilterIndex = index;
    // A step stored with its strengths the old way is opened as it showed on its preview.
    state_.editedStepParameters = effects::withPlainStrengths(steps[index]->filterParameters);
    state_.currentFilterName = steps[index]->filterName;
    state_.currentFilterDisplayName = steps[index]->filterDisplayName;
    setupViewForSelectedFilter();
}

void AdjustFilterVC::setupViewForSelectedFilter() {
    params_.setInitiallyLoaded(false);
    if (!state_.isUI_CHANGING_FOR_RESIZING) setApplyButtonHighted(false);
    const PanelPlacement place{kColumnHeight};
    placeInColumn(viewFilterParametrs_, QRectF(0, place.genericY(), kColumnWidth, PanelPlacement::kGenericHeight));
    clearControls();
    if (state_.currentFilterName.isEmpty() || AppDelegate::shared().arraySelectedImagesToProcess.isEmpty() ||
        imageToEdit_.isNull()) {
        // No effect: nothing to add or cancel.
        vwAddEffect_->hide();
        return;
    }
    AppDelegate::shared().currentFilterName = state_.currentFilterName;
    lblFilterName_->setText(state_.currentFilterDisplayName);
    if (effectsets::withPreviewOverlay().contains(state_.currentFilterName)) {
        state_.currentZooomFactor = 1.0f;
        zoomPreviewsWithCurrentZoomFactor();
        zoomAllowed_ = false;
    }
    if (!state_.isUI_CHANGING_FOR_RESIZING) {
        btnApplyFilter_->setText(state_.isFor_FILTER_EDIT_MODE ? tr("Edit Effect") : tr("Add Effect"));
        lblClickOnAddEffect_->setText(state_.isFor_FILTER_EDIT_MODE
                                          ? tr("Click on Edit Effect button to apply this")
                                          : tr("Click on Add Effect button to apply this"));
        if (!state_.isFor_FILTER_EDIT_MODE) state_.selectedAppliedFilterIndex = -1;
    }
    state_.pointCenterBeforeResize = QPointF(imageContainerSize().width() / 2, imageContainerSize().height() / 2);
    params_.reset();
    state_.isFILTER_APPLIED = false;
    viewFilterParametrs_->show();
    hideResetButtonSetHidden(false);
    // Ticked for every new set-up; the resize panel shows an edited step's own choice.
    btnMaintainAspectCheckBox_->setChecked(true);
    doSetupForFilter();
    showImage();
    hideUnwantedButtons();
    placeGeneratedAreas();
    state_.lastFilername = state_.currentFilterName;
    params_.setInitiallyLoaded(true);
    params_.clearChanged();
    lblOnReset_->setVisible(!btnreset_->isHidden());
    emit effectSetUp(state_.currentFilterName);
}

void AdjustFilterVC::doSetupForFilter() {
    theExtentButton_->setState(0);
    state_.TOTAL_SLIDER_USED = state_.TOTAL_COLOR_WELL_USED = state_.TOTAL_RECT_BUTTONS_USED = 0;
    state_.isCUSTOM_FILTER = false;
    currentFilter_.reset();
    const QString& name = state_.currentFilterName;
    if (overlayHost_ && overlayHost_->setupViewForOverlayFilter(name, state_.isFor_FILTER_EDIT_MODE)) return;
    if (name == QLatin1String("Custom Enhance")) setupViewForCustomEnhance();
    else if (name == QLatin1String("Rotate")) setupViewForRotateFilter();
    else if (name == QLatin1String("Resize")) setupViewForResizeFilter(true);
    else if (name == QLatin1String("Red Eye Correction") || name == QLatin1String("Auto Enhance")) return;
    else if (name == QLatin1String("RGB Adjust")) setupViewForRGBFilter();
    else if (name == QLatin1String("Black & White")) setupViewForBlackAndWhiteFilter();
    else if (name == QLatin1String("Add Border")) setupViewForSimpleBorderFilter();
    else if (name == QLatin1String("CICrop")) setupViewForCropFilter(true);
    else if (effectsets::pictureFrames().contains(name) || effectsets::textures().contains(name) ||
             effectsets::stickerSets().contains(name) || name.startsWith(QLatin1String("Add ")))
        return;  // the overlay effects' panels are built by the overlay host
    else setupCoreImageControls();
}

void AdjustFilterVC::hideUnwantedButtons() {
    hideResetButtonSetHidden(effectsets::withoutResetButton().contains(state_.currentFilterName));
}

void AdjustFilterVC::placeGeneratedAreas() {
    const PanelPlacement place{kColumnHeight};
    const double wells = place.colourWellAreaY(state_.TOTAL_SLIDER_USED);
    placeInColumn(viewBGForColorPickers_, QRectF(0, wells, kColumnWidth, 2 * PanelPlacement::kWellHeight));
    // Two rows of point buttons, the first where a single row would sit.
    placeInColumn(viewBGForRectButtons_,
                  QRectF(0, place.rectButtonAreaY(state_.TOTAL_SLIDER_USED, state_.TOTAL_COLOR_WELL_USED) - 42,
                         kColumnWidth, 92));
}

void AdjustFilterVC::btnCancelTapped() {
    // Only the effect being set up is dropped: the main window and the batch stay.
    closeEffect();
    platform::NotificationCenter::defaultCenter().postNotification(
        QStringLiteral("notificationCallbackFromAdjustFilterWindowClose"));
    emit effectCancelled();
}

void AdjustFilterVC::keyPressEvent(QKeyEvent* event) {
    // Reaches here from a control of the screen that has no use for the key; a pop-up open
    // over the screen takes it first and closes.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && !state_.currentFilterName.isEmpty()) {
        btnCancelTapped();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AdjustFilterVC::closeEffect() {
    AppDelegate::shared().currentFilterName.clear();
    if (colourDialog_) colourDialog_->hide();
    state_.currentFilterName.clear();
    state_.currentFilterDisplayName.clear();
    state_.isFor_FILTER_EDIT_MODE = false;
    state_.selectedAppliedFilterIndex = -1;
    state_.editedStepParameters.clear();
    clearControls();
    params_.reset();
    lblFilterName_->clear();
    vwAddEffect_->hide();
    stepsAbove_.clear();
    showImage();
}

void AdjustFilterVC::reopenWithParameters(const QVariantList& sizeRelative) {
    if (state_.currentFilterName.isEmpty()) return;
    const bool editing = state_.isFor_FILTER_EDIT_MODE;
    const QVariantList stored = state_.editedStepParameters;
    const int index = state_.selectedAppliedFilterIndex;
    const bool changed = params_.isChanged();
    const QSet<QString> keys = params_.changedKeys();
    state_.isUI_CHANGING_FOR_RESIZING = true;
    state_.isFor_FILTER_EDIT_MODE = true;
    state_.editedStepParameters = sizeRelative;
    setupViewForSelectedFilter();
    state_.isFor_FILTER_EDIT_MODE = editing;
    state_.editedStepParameters = stored;
    state_.selectedAppliedFilterIndex = index;
    state_.isUI_CHANGING_FOR_RESIZING = false;
    params_.restoreChanges(changed, keys);
    if (changed) setApplyButtonHighted(true);
}

// ---- the working parameter list ----

void AdjustFilterVC::saveFilterParametersWithKey(const QString& key, const QVariant& value) {
    if (params_.save(key, value)) {
        lblOnReset_->hide();
        setApplyButtonHighted(true);
        platform::log(QStringLiteral("filter Parameter Changed"));
    }
}

QVariantList AdjustFilterVC::committedParameters() const {
    return params_.committed(state_.currentFilterName, imageContainerSize());
}

std::shared_ptr<AppliedFilter> AdjustFilterVC::makeAppliedFilter() const {
    if (state_.currentFilterName.isEmpty()) return nullptr;
    return AppliedFilter::initWithFilterName(state_.currentFilterName, state_.currentFilterDisplayName,
                                             committedParameters(), shownImage_, nullptr);
}

void AdjustFilterVC::setApplyButtonHighted(bool highlighted) {
    btnApplyFilter_->setProperty("highlighted", highlighted);
    btnApplyFilter_->setDefault(highlighted);
}

// ---- preview ----

void AdjustFilterVC::setPreviewPhoto(const QImage& picture, const QString& photoPath, double photoScale) {
    state_.previewPhotoPath = photoPath;
    previewSource_ = picture;
    previewSourceScale_ = photoScale;
    resizeImageContainerForAspectFit();
    resizeInputImageForAspectFit();
}

bool AdjustFilterVC::loadPreviewForSelectedPhoto() {
    const auto photo = AppDelegate::shared().selectedImageFile;
    if (!photo) {
        setPreviewPhoto(QImage(), QString());
        return false;
    }
    Utils& utils = Utils::sharedUtils();
    const QSizeF original = utils.getImageOriginalSizeAtFilePathUrl(photo->filePath);
    const QSizeF fit = utils.getAspectFitModeSizeWithsize(original, QSizeF(previewBox_));
    const QImage picture = utils.getThumbnailImageAtFilePath(photo->filePath, fit);
    setPreviewPhoto(picture, photo->filePath, picture.isNull() ? 1.0 : original.width() / picture.width());
    return !picture.isNull();
}

void AdjustFilterVC::showImage() {
    if (overlayHost_) overlayHost_->willShowImage(state_.currentFilterName);
    PreviewJob job;
    job.preview = imageToEdit_;
    job.photoPath = state_.previewPhotoPath;
    job.filterName = state_.currentFilterName;
    job.parameters = committedParameters();
    job.above = stepsAbove_;
    if (!imageToEdit_.isNull()) job.photoScale = previewSourceScale_ * previewSource_.width() / imageToEdit_.width();
    if (overlayHost_ && overlayHost_->showsEffectItself(job.filterName)) {
        job.filterName.clear();
    } else if (job.filterName == QLatin1String("CICrop")) {
        // The crop shows the whole photo with the outside shaded, so the corners stay on it.
        job.filterName.clear();
    } else if (job.filterName == QLatin1String("Resize")) {
        // The resize preview only scales the small copy; it reads the photo's size from the
        // shared state, which belongs to this thread.
        job.preview = Utils::sharedUtils().resizeAndCropImageForPreview(imageToEdit_, job.filterName,
                                                                        params_.list(), 1.0f);
        job.filterName.clear();
    }
    renderer_->request(std::move(job));
}

void AdjustFilterVC::onPreviewRendered(const QImage& image, quint64 generation) {
    shownImage_ = image;
    imgViewFiltered_->setPixmap(QPixmap::fromImage(image));
    emit previewShown(generation);
}

void AdjustFilterVC::resetTimerToPerformActionLater() {
    // Typing: the preview follows half a second after the last keystroke; a typed crop
    // value moves the rectangle on the next pass of the event loop.
    if (state_.currentFilterName == QLatin1String("CICrop"))
        scheduler_->start(0, [this] { changeExtendRectOnTextChange(); });
    else
        scheduler_->start(500, [this] { showImage(); });
}
