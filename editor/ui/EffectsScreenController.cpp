#include "editor/ui/EffectsScreenController.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "batch/ui/LoadingOverlay.h"
#include "editor/AppliedSteps.h"
#include "editor/FavouriteSteps.h"
#include "editor/StepEditing.h"
#include "editor/ui/EffectDelegates.h"
#include "editor/ui/EffectLists.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/ImageOverlayView.h"
#include "editor/ui/PhotoStrip.h"
#include "engine/FiltersList.h"
#include "engine/FilterCustomization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "ui/KeyboardHelpers.h"
#include "ui/SmallViews.h"

namespace names = platform::notifications;

namespace {

const QString kDontShowUnsaved = QStringLiteral("dontShowUnsavedEffectPopup");
QPushButton* makeButton(QWidget* parent, const QString& text, const QString& name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

}  // namespace

EffectsScreenController::EffectsScreenController(AdjustFilterVC* vc)
    : QObject(vc), vc_(vc), loader_(this), thumbnails_(this) {
    buildSidebar();
    buildEffectTable();
    buildFavouritePanel();
    buildOverlayPanels();
    buildTextPanel();

    strip_ = new PhotoStrip(vc_->photoStripArea());
    auto* stripLayout = new QVBoxLayout(vc_->photoStripArea());
    stripLayout->setContentsMargins(0, 0, 0, 0);
    stripLayout->addWidget(strip_);
    connect(strip_, &PhotoStrip::photoChosen, this, [this](int index) {
        AppDelegate& app = AppDelegate::shared();
        if (index < 0 || index >= app.arraySelectedImagesToProcess.size() || index == app.selectedImageIndex) return;
        app.selectedImageIndex = index;
        app.selectedImageFile = app.arraySelectedImagesToProcess[index];
        app.isSELECTED_IMAGE_CHANGED = true;
        selectedPhotoChanged();
    });

    textView_ = new TextWatermarkView(vc_->imageContainerView());
    textView_->setDelegate(this);
    imageView_ = new ImageOverlayView(vc_->imageContainerView());
    connect(imageView_, &ImageOverlayView::boxMoved, this, [this](const QRectF& r) {
        const QVariant v = QVariant::fromValue(platform::Vec(r.x(), r.y(), r.width(), r.height()));
        vc_->saveFilterParametersWithKey(QStringLiteral("boundedRect"), v);
        vc_->saveFilterParametersWithKey(QStringLiteral("rotatedRect"), v);
        removeStickerParamPopupWindow();
        vc_->showImage();
    });
    connect(imageView_, &ImageOverlayView::singleClicked, this, &EffectsScreenController::singleClickOnImageWatermarkView);
    imageContainer_ = vc_->imageContainerView();
    imageContainer_->installEventFilter(this);
    hideOverlayViews();

    vc_->setOverlayPanelHost(this);
    connect(vc_->btnApplyFilter(), &QPushButton::clicked, this, &EffectsScreenController::btnApplyFilterTapped);
    connect(vc_, &AdjustFilterVC::effectCancelled, this, &EffectsScreenController::effectClosed);

    for (auto& d : delays_) d = std::make_unique<QtOneShotScheduler>();
    vwLoading_ = new LoadingOverlay(vc_);
    loaderWatch_ = new QTimer(this);
    loaderWatch_->setInterval(10);
    connect(loaderWatch_, &QTimer::timeout, this, &EffectsScreenController::loaderFrameShown);
    vc_->installEventFilter(this);

    auto& centre = platform::NotificationCenter::defaultCenter();
    centre.addObserver(names::WindowResized, [this](const auto&) { windowisResizing(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(names::WindowEndResizing, [this](const auto&) { windowEndResizing(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(names::ShowLoading, [this](const auto&) { showLoadingNotification(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(names::HideLoading, [this](const auto&) { hideLoadingNotification(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(names::AdjustfilterAppear, [this](const auto&) { viewWillAppearNotofication(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(names::AdjustfilterDisAppear, [this](const auto&) { viewWillDisAppear(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(QStringLiteral("notificationNewFavBatchAdded"), [this](const auto&) { loadCategories(); },
                       platform::DeliverOn::MainThread, this);
    centre.addObserver(QStringLiteral("notificationRemovePhotosFromAddPhoto"),
                       [this](const auto&) { strip_->setGridLayout(); }, platform::DeliverOn::MainThread, this);

    checkAutoOrientation_->setChecked(AppDelegate::shared().isAUTO_CORRECT_ORIENTATION);
    loadCategories();
    btnAppliedFilterViewToggleTapped(true);
    viewWillAppearNotofication();
}

EffectsScreenController::~EffectsScreenController() {
    platform::NotificationCenter::defaultCenter().removeObservers(this);
    removeTipsPopupWindow();
    removeStickerParamPopupWindow();
    textView_->setDelegate(nullptr);  // the text box may outlive this object by a moment
    // The hosted view reports to this object until its end: it goes first.
    delete vwConvertFormatOrRename_;
}

void EffectsScreenController::setExecutor(PreviewLoader::Executor executor) {
    executor_ = executor;
    loader_.setExecutor(executor);
    thumbnails_.setExecutor(executor);
    strip_->setExecutor(executor);
}

bool EffectsScreenController::eventFilter(QObject* watched, QEvent* event) {
    // Compared with the pointer kept at construction: events still arrive while the screen is
    // being torn down, when the façade can no longer be asked.
    if (watched == imageContainer_ && event->type() == QEvent::Resize) layoutOverlays();
    if (watched == vc_ && event->type() == QEvent::Resize) layoutConvertFormatView();
    return QObject::eventFilter(watched, event);
}

void EffectsScreenController::layoutOverlays() {
    const QRect r(QPoint(0, 0), imageContainer_->size());
    textView_->setGeometry(r);
    imageView_->setGeometry(r);
}

// ---- building ----

void EffectsScreenController::buildSidebar() {
    QWidget* area = vc_->tableArea();
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    lblImageName_ = new QLabel(area);
    lblImageName_->setObjectName(QStringLiteral("lblImageName"));
    lblImageInfo_ = new QLabel(area);
    lblImageInfo_->setObjectName(QStringLiteral("lblImageInfo"));
    lblImageName_->setStyleSheet(QStringLiteral("font-weight: bold;"));
    // The header: a small picture of the photo beside its name and size.
    lblSelectedImage_ = new QLabel(area);
    lblSelectedImage_->setObjectName(QStringLiteral("btnSelectedImage"));
    lblSelectedImage_->setFixedSize(kHeaderPicture);
    lblSelectedImage_->setAlignment(Qt::AlignCenter);
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* names = new QVBoxLayout;
    for (QLabel* l : {lblImageName_, lblImageInfo_}) names->addWidget(l);
    header->addWidget(lblSelectedImage_);
    header->addLayout(names, 1);
    layout->addLayout(header);

    tblCategories_ = makeEffectList(area, QStringLiteral("tblFilter_categories"));
    categoryModel_ = new CategoryTableModel(this);
    tblCategories_->setModel(categoryModel_);
    auto* categoryDelegate = new CategoryDelegate(tblCategories_);
    tblCategories_->setItemDelegate(categoryDelegate);
    connect(categoryDelegate, &CategoryDelegate::deleteClicked, this, &EffectsScreenController::btnDeleteOnFavCellTappedAtIndex);
    keyboard::chooseByClickOrReturn(tblCategories_, [this](const QModelIndex& i) { selectCategoryRow(i.row()); });
    layout->addWidget(tblCategories_, 3);

    // The batch steps: their title bar, the list and the no-steps line, hidden together
    // while the rename-and-convert view is shown.
    vwAppliedFilters_ = new QWidget(area);
    vwAppliedFilters_->setObjectName(QStringLiteral("vwAppliedFilters"));
    auto* stepsLayout = new QVBoxLayout(vwAppliedFilters_);
    stepsLayout->setContentsMargins(0, 0, 0, 0);
    stepsLayout->setSpacing(4);
    layout->addWidget(vwAppliedFilters_, 2);
    area = vwAppliedFilters_;
    auto* stepsBar = new QHBoxLayout;
    auto* title = new QLabel(tr("Batch Steps"), area);
    title->setStyleSheet(QStringLiteral("font-weight: bold;"));
    btnListView_ = makeButton(area, QStringLiteral("≡"), QStringLiteral("btnListView"));
    btnThumbView_ = makeButton(area, QStringLiteral("▦"), QStringLiteral("btnThumbView"));
    for (QPushButton* b : {btnListView_, btnThumbView_}) {
        b->setCheckable(true);
        b->setFixedSize(26, 22);
    }
    connect(btnListView_, &QPushButton::clicked, this, [this] { btnAppliedFilterViewToggleTapped(true); });
    connect(btnThumbView_, &QPushButton::clicked, this, [this] { btnAppliedFilterViewToggleTapped(false); });
    stepsBar->addWidget(title);
    stepsBar->addStretch(1);
    stepsBar->addWidget(btnListView_);
    stepsBar->addWidget(btnThumbView_);
    stepsLayout->addLayout(stepsBar);

    tblSteps_ = makeEffectList(area, QStringLiteral("tbl_appliedFilters"));
    stepsModel_ = new AppliedStepsModel(&AppDelegate::shared().arrayAppliedFilters, this);
    tblSteps_->setModel(stepsModel_);
    auto* stepDelegate = new StepDelegate(tblSteps_);
    tblSteps_->setItemDelegate(stepDelegate);
    tblSteps_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblSteps_->setDragEnabled(true);
    tblSteps_->setAcceptDrops(true);
    tblSteps_->setDropIndicatorShown(true);
    tblSteps_->setDragDropMode(QAbstractItemView::DragDrop);
    tblSteps_->setDefaultDropAction(Qt::MoveAction);
    connect(stepDelegate, &StepDelegate::buttonClicked, this, [this](int row, int button) {
        switch (button) {
        case StepDelegate::Apply: btnApplyToggleTappedAtIndex(row); break;
        case StepDelegate::Edit: btnEditFilterTappedAtIndex(row); break;
        case StepDelegate::MoveUp: btnMoveUpFilterTappedAtIndex(row); break;
        case StepDelegate::MoveDown: btnMoveDownFilterTappedAtIndex(row); break;
        case StepDelegate::Remove: btnRemoveTappedAtIndex(row); break;
        default: break;
        }
    });
    // A click on a step's row (not on one of its buttons) opens it, as its pencil does.
    connect(tblSteps_, &QListView::clicked, this, [this](const QModelIndex& i) {
        if (i.row() != vc_->state().selectedAppliedFilterIndex || !editedStep_) btnEditFilterTappedAtIndex(i.row());
    });
    connect(stepsModel_, &AppliedStepsModel::stepsDropped, this, [this](const QList<int>&) {
        tblSteps_->clearSelection();
        stepsChanged(true);
    });
    stepsLayout->addWidget(tblSteps_, 1);
    lblNoSteps_ = new QLabel(tr("No batch steps yet: choose an effect and add it."), area);
    lblNoSteps_->setObjectName(QStringLiteral("vwNoAppliedFilters"));
    lblNoSteps_->setWordWrap(true);
    lblNoSteps_->setStyleSheet(QStringLiteral("color: rgb(130,129,142);"));
    stepsLayout->addWidget(lblNoSteps_);
    area = vc_->tableArea();

    checkAutoOrientation_ = new QCheckBox(tr("Auto-correct orientation"), area);
    checkAutoOrientation_->setObjectName(QStringLiteral("checkAutoOrientation"));
    connect(checkAutoOrientation_, &QCheckBox::toggled, this,
            [](bool on) { AppDelegate::shared().isAUTO_CORRECT_ORIENTATION = on; });
    layout->addWidget(checkAutoOrientation_);

    tvMetaData_ = new InfoTableView(area);
    tvMetaData_->setObjectName(QStringLiteral("tvMetaData"));
    tvMetaData_->setStyleSheet(effectListStyle());
    metadataModel_ = new SimpleRowsModel(this);
    tvMetaData_->setModel(metadataModel_);
    layout->addWidget(tvMetaData_, 1);
}

void EffectsScreenController::buildEffectTable() {
    vwEffects_ = new QWidget(vc_->parametersColumn());
    vwEffects_->setObjectName(QStringLiteral("vwFilters"));
    vwEffects_->setGeometry(0, 0, AdjustFilterVC::kColumnWidth, AdjustFilterVC::kColumnHeight);
    vwEffects_->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(vwEffects_);
    layout->setContentsMargins(0, 0, 0, 0);
    tblFilters_ = makeEffectList(vwEffects_, QStringLiteral("tblFilters"));
    effectModel_ = new EffectTableModel(this);
    tblFilters_->setModel(effectModel_);
    tblFilters_->setItemDelegate(new EffectDelegate(tblFilters_));
    keyboard::chooseByClickOrReturn(tblFilters_, [this](const QModelIndex& i) { FilterImageCellClickedWithIndex(i.row()); });
    connect(tblFilters_, &QListView::doubleClicked, this,
            [this](const QModelIndex& i) { FilterImageDoubbleClickedWithIndex(i.row()); });
    layout->addWidget(tblFilters_);
    // Under the sticker sets: a picture of the user's own instead.
    btnAddCustomImage_ = makeButton(vwEffects_, tr("Add Your Own Image…"), QStringLiteral("btnAddCustomImage"));
    connect(btnAddCustomImage_, &QPushButton::clicked, this, &EffectsScreenController::btnAddCustomImageTapped);
    layout->addWidget(btnAddCustomImage_);
    btnAddCustomImage_->hide();
    vwEffects_->hide();
}

void EffectsScreenController::buildFavouritePanel() {
    vwFavourite_ = new QWidget(vc_->parametersColumn());
    vwFavourite_->setObjectName(QStringLiteral("vwFavDetails"));
    vwFavourite_->setGeometry(0, 0, AdjustFilterVC::kColumnWidth, AdjustFilterVC::kColumnHeight);
    vwFavourite_->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(vwFavourite_);
    lblFavTitle_ = new QLabel(vwFavourite_);
    lblFavTitle_->setObjectName(QStringLiteral("lblFavTitle"));
    lblFavTitle_->setStyleSheet(QStringLiteral("font-weight: bold;"));
    layout->addWidget(lblFavTitle_);
    tblFavDetails_ = makeEffectList(vwFavourite_, QStringLiteral("tblFavDetails"));
    favModel_ = new FavouriteDetailsModel(this);
    tblFavDetails_->setModel(favModel_);
    auto* delegate = new FavouriteDetailDelegate(tblFavDetails_);
    tblFavDetails_->setItemDelegate(delegate);
    connect(delegate, &FavouriteDetailDelegate::applyClicked, this, &EffectsScreenController::btnApplyToggleOnFavCellTappedAtIndex);
    layout->addWidget(tblFavDetails_, 1);
    btnAddEffectsOnFav_ = makeButton(vwFavourite_, tr("Add Effects"), QStringLiteral("btnAddToBatchOnFavView"));
    btnAddEffectsOnFav_->setDefault(true);
    keyboard::showFocusRing(btnAddEffectsOnFav_);  // the default button looks as a focused one
    connect(btnAddEffectsOnFav_, &QPushButton::clicked, this, &EffectsScreenController::btnAddEffectsOnFavTapped);
    layout->addWidget(btnAddEffectsOnFav_);
    vwFavourite_->hide();
}

// ---- alerts ----

void EffectsScreenController::showAlert(int type, const QString& title, const QString& message, bool question,
                              std::function<void(bool, bool)> answer) {
    busy_.acquire();
    // The alert's hold goes with its answer, once; with the screen, when that goes first.
    auto held = std::make_shared<bool>(true);
    auto done = [self = QPointer<EffectsScreenController>(this), held, answer](bool yes, bool dontShow) {
        if (*held && self) self->busy_.release();
        *held = false;
        if (answer) answer(yes, dontShow);
    };
    if (alerts_) {
        alerts_->showAlert(type, title, message, question, done);
        return;
    }
    auto* box = new QMessageBox(vc_->window());
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setText(title);
    box->setInformativeText(message);
    box->setStandardButtons(question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    QCheckBox* check = nullptr;
    if (type == 117) {
        check = new QCheckBox(tr("Don't show this again"), box);
        box->setCheckBox(check);
    }
    connect(box, &QMessageBox::finished, this, [box, check, done, question](int) {
        const auto* clicked = box->clickedButton();
        const bool yes = !question || (clicked && box->standardButton(const_cast<QAbstractButton*>(clicked)) == QMessageBox::Yes);
        done(yes, check && check->isChecked());
    });
    box->open();
}

// ---- life cycle ----

void EffectsScreenController::viewWillAppearNotofication() {
    AppDelegate& app = AppDelegate::shared();
    // Back waits half a second, Next until the first tip's turn.
    vc_->setNavigationBlocked(true, true);
    delay(DelayEnablePrev).start(500, [this] { enablePrevBtn(); });
    delay(DelayTips).start(1000, [this] { showTipsWithTag(3); });
    platform::NotificationCenter::defaultCenter().postNotification(names::ResizeTableHeader);
    if (app.isSTART_AS_NEW_BATCH) {
        platform::NotificationCenter::defaultCenter().postNotification(QStringLiteral("notificationStartAsNewBatch"));
        app.isSTART_AS_NEW_BATCH = false;
        selectCategoryRow(categoryModel_->rows().firstBasicRow());
        showPhotoListViewShowFlag(true);
    }
    checkForDeletedPhotosInSourceFolder(false);
    stepsModel_->reload();
    showAppliedFiltersView();
    if (!app.arraySelectedImagesToProcess.isEmpty()) {
        if (app.selectedImageIndex < 0 || !app.selectedImageFile) {
            app.selectedImageIndex = 0;
            app.selectedImageFile = app.arraySelectedImagesToProcess.first();
            app.isSELECTED_IMAGE_CHANGED = true;
        }
        if (int(app.arraySelectedImagesToProcess.size()) != totalPhotos_) strip_->setGridLayout();
        strip_->reloadData();
        strip_->selectPhoto(app.selectedImageIndex, CollectionView::ScrollMiddle, false);
        strip_->collectionViewPhotosBoundsDidChange();
        forgetShownPhotoOutsideBatch();
    } else {
        strip_->reloadData();
        vc_->previewContainer()->setVisible(false);
    }
    fitPreviewOnAppearing();
    updateBatchInformationInBottomView();
}

void EffectsScreenController::viewWillDisAppear() {
    // Nothing of this screen is left to pop up over the next one.
    delay(DelayTips).cancel();
    removeTipsPopupWindow();
    removeStickerParamPopupWindow();
    totalPhotos_ = int(AppDelegate::shared().arraySelectedImagesToProcess.size());
}

void EffectsScreenController::checkForDeletedPhotosInSourceFolder(bool remove) {
    AppDelegate& app = AppDelegate::shared();
    if (remove) {
        EffectsScreen::removeMissingPhotos(app.arraySelectedImagesToProcess);
        strip_->setGridLayout();
        return;
    }
    const QList<int> missing = EffectsScreen::missingPhotoRows(app.arraySelectedImagesToProcess);
    strip_->setMissingRows(missing);
    if (!app.arraySelectedImagesToProcess.isEmpty() && missing.size() == app.arraySelectedImagesToProcess.size())
        showAlertForAllPhotosDeleted();
}

void EffectsScreenController::showAlertForAllPhotosDeleted() {
    const auto text = EffectsScreen::allPhotosDeletedAlert(int(AppDelegate::shared().arraySelectedImagesToProcess.size()));
    showAlert(107, text.title, text.message, false, {});
}

void EffectsScreenController::updateBatchInformationInBottomView() {
    vc_->batchInfoLabel()->setText(EffectsScreen::footerText(AppDelegate::shared().arraySelectedImagesToProcess));
}

void EffectsScreenController::setImageInfo() {
    const auto photo = AppDelegate::shared().selectedImageFile;
    if (!photo) return;
    lblImageName_->setText(photo->displayName());
    lblImageInfo_->setText(EffectsScreen::headerInfoText(*photo));
    const QImage picture = imgSelected_Thumbnail_.isNull() ? originalImage_ : imgSelected_Thumbnail_;
    lblSelectedImage_->setPixmap(picture.isNull() ? QPixmap()
                                                  : QPixmap::fromImage(picture.scaled(kHeaderPicture, Qt::KeepAspectRatio,
                                                                                      Qt::SmoothTransformation)));
    metadataModel_->setRows(EffectsScreen::metadataRows(*photo, photoProperties_));
}

void EffectsScreenController::selectedPhotoChanged(std::optional<QSize> newPreviewBox) {
    AppDelegate& app = AppDelegate::shared();
    if (app.arraySelectedImagesToProcess.isEmpty()) {
        // No photo to show: the preview goes; the tables stay for the favourites and steps.
        vc_->previewContainer()->setVisible(false);
        app.isPROCESSING_WITH_FILES_SYSTEM = false;
        return;
    }
    vc_->previewContainer()->setVisible(true);
    vc_->state().isWINDOW_RESIZED = false;
    app.isPROCESSING_WITH_FILES_SYSTEM = true;
    // The user's values are taken now, in the container they were set in, so they can be
    // carried to the new photo whatever size its container gets.
    std::optional<QVariantList> carried;
    const auto& state = vc_->state();
    if (!state.currentFilterName.isEmpty() && !state.isFor_FILTER_EDIT_MODE && !selectedFavBatch_)
        carried = EffectsScreen::carryOverParameters(state.currentFilterName, vc_->imageContainerSize(),
                                                     vc_->workingParameters().list());
    if (newPreviewBox) vc_->setPreviewBoxSize(*newPreviewBox);
    // The new photo gets the open panel's picture (a step being edited is drawn by its panel).
    const StepEditing::PreviewLayers layers = currentLayers();
    vc_->setStepsAbove(PreviewLoader::snapshotSteps(layers.above));
    QList<AppliedFilter> steps = PreviewLoader::snapshotSteps(layers.below);
    loader_.load(app.selectedImageFile, QSizeF(vc_->previewBoxSize()), steps,
                 QImage(), QImage(), [this, carried](const PhotoPreviewResult& r) { applyPreviewResult(r, carried, true); });
}

void EffectsScreenController::applyPreviewResult(const PhotoPreviewResult& r, const std::optional<QVariantList>& carried,
                                       bool rebuildPanel) {
    AppDelegate& app = AppDelegate::shared();
    if (rebuildPanel && isBatchConversionRowSelected() && (app.isPROCESS_SKIPPED_FILES || app.isSELECTED_IMAGE_CHANGED))
        platform::NotificationCenter::defaultCenter().postNotification(names::SetupConvertAndRename);
    if (!isBatchConversionRowSelected()) {
        app.isPROCESSING_WITH_FILES_SYSTEM = false;
        showLoading(false);
    }
    strip_->photoRead(r.path, r.loaded);
    if (!r.loaded) return;  // all else stays; the next showing tries again
    const bool newPhoto = r.path != previewPath_ || originalImage_.cacheKey() != r.original.cacheKey();
    // The open effect's own values, taken while they still fit the picture shown.
    const QSizeF containerBefore = vc_->imageContainerSize();
    const QVariantList valuesBefore = vc_->committedParameters();
    originalImage_ = r.original;
    imgSelected_Thumbnail_ = r.thumbnail;
    if (rebuildPanel) photoProperties_ = r.properties;
    filteredImage_ = r.filtered;
    previewPath_ = r.path;
    vc_->setPreviewPhoto(filteredImage_, r.path, r.photoScale);
    layoutOverlays();
    if (rebuildPanel) {
        setImageInfo();
        // Step thumbnails are drawn only while the steps show them.
        if (newPhoto && !listForm_) refreshStepThumbnails(true);
        const bool wasChanged = app.isSELECTED_IMAGE_CHANGED;
        app.isSELECTED_IMAGE_CHANGED = false;
        // A carried list stands in for the working values while the panel is rebuilt.
        auto& state = vc_->state();
        EffectsScreen::ResetInputs in;
        in.effectChosen = !state.currentFilterName.isEmpty();
        in.editingStepInBatch = state.isFor_FILTER_EDIT_MODE && editedStep_ &&
                                app.arrayAppliedFilters.contains(editedStep_);
        in.currentFilterName = state.currentFilterName;
        in.containerSize = carried ? vc_->imageContainerSize() : QSizeF();
        in.favouriteShown = state.isFAV_SELECTED && selectedFavBatch_;
        in.selectedImageChanged = wasChanged;
        switch (EffectsScreen::resetActionFor(in)) {
        case EffectsScreen::ResetAction::OpenEditedStep:
            vc_->btnEditFilterTappedAtIndex(int(app.arrayAppliedFilters.indexOf(editedStep_)));
            break;
        case EffectsScreen::ResetAction::RebuildFromDefaults:
            vc_->selectEffectByName(state.currentFilterName, state.currentFilterDisplayName);
            break;
        case EffectsScreen::ResetAction::CarryOver:
            vc_->reopenWithParameters(*carried);
            break;
        case EffectsScreen::ResetAction::ShowFavourite: showFavoriteView(selectedFavBatch_); break;
        case EffectsScreen::ResetAction::RenderAllSteps:
        case EffectsScreen::ResetAction::Nothing: break;
        }
    } else if (vc_->imageContainerSize() != containerBefore && !vc_->state().currentFilterName.isEmpty()) {
        // A step under the open effect changed the picture's shape (a crop switched, removed
        // or moved): the effect's points, boxes and sizes keep their place on the picture.
        vc_->reopenWithParameters(valuesBefore);
    } else {
        vc_->showImage();
    }
    emit previewPhotoLoaded(r.path);
}

void EffectsScreenController::resetFilterForNewImage(bool force) {
    if (force && !vc_->state().currentFilterName.isEmpty()) {
        editedStep_.reset();
        stepsModel_->setEditedRow(-1);
        vc_->selectEffectByName(vc_->state().currentFilterName, vc_->state().currentFilterDisplayName);
    }
    renderBase();
}

StepEditing::PreviewLayers EffectsScreenController::currentLayers() const {
    const bool favourite = selectedFavBatch_ && vc_->state().isFAV_SELECTED;
    return StepEditing::layersFor(AppDelegate::shared().arrayAppliedFilters, editedStep_,
                                  favourite ? selectedFavBatch_->filtersArray : StepEditing::StepList());
}

// The preview's base: the picture the open panel works on (the steps before a step being
// edited, else every step and a shown favourite's); the steps after an edited step are
// drawn over its panel's effect.
void EffectsScreenController::renderBase(std::function<void()> then) {
    const StepEditing::PreviewLayers layers = currentLayers();
    vc_->setStepsAbove(PreviewLoader::snapshotSteps(layers.above));
    applyAllSeletedFiltersOnImage(layers.below, std::move(then));
}

void EffectsScreenController::refreshStepThumbnails(bool all) {
    AppDelegate& app = AppDelegate::shared();
    QList<int> rows;
    if (!all)
        for (int i = 0; i < app.arrayAppliedFilters.size(); ++i)
            if (app.arrayAppliedFilters[i] && app.arrayAppliedFilters[i]->filterAppliedImage.isNull()) rows << i;
    if (!all && rows.isEmpty()) return;
    thumbnails_.render(imgSelected_Thumbnail_, previewPath_, app.arrayAppliedFilters, rows, [this](int row) {
        const QModelIndex i = stepsModel_->index(row);
        emit stepsModel_->dataChanged(i, i);
    });
}

// ---- categories ----

void EffectsScreenController::loadCategories() {
    FiltersList& catalogue = FiltersList::sharedFiltersList();
    QList<CategoryTableModel::Record> basic = catalogue.arrBasicFilters;
    categoryModel_->setSources(FavouriteSteps::loadFavouriteBatches(), catalogue.arrRenameAndFormatCat, basic,
                               catalogue.arrFXCategory);
    // The first basic effect is chosen every time the categories are loaded.
    selectCategoryRow(categoryModel_->rows().firstBasicRow());
}

int EffectsScreenController::selectedCategoryIndex() const { return categoryModel_->selectedCategoryIndex(); }

void EffectsScreenController::selectCategoryRow(int row) {
    const CategoryRows rows = categoryModel_->rows();
    tblCategories_->clearSelection();
    if (rows.isHeader(row) || row < 0 || row >= rows.count()) return;
    if (isSelectedPhotoDeleted()) return;

    // Changed values of an effect not yet added: ask before leaving them.
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (!settingUp_ && vc_->workingParameters().isChanged() && !defaults.containsKey(kDontShowUnsaved) &&
        !vc_->state().currentFilterName.isEmpty()) {
        showAlert(117, tr("ADD EFFECT"), tr("Do you wish to add these changes to your batch?"), true,
                  [this, row](bool yes, bool dontShow) {
                      if (dontShow)
                          platform::UserDefaults::standardUserDefaults().setObject(QStringLiteral("yes"), kDontShowUnsaved);
                      if (yes) commitCurrentEffect();
                      vc_->workingParameters().clearChanged();
                      selectCategoryRow(row);
                  });
        return;
    }
    // A step that was being edited is drawn under the next choice again.
    const bool editEnded = saveUnEditedFilter();
    selectedFavBatch_.reset();
    vc_->state().isFAV_SELECTED = false;
    vwFavourite_->hide();
    removeConvertFormatView();

    switch (rows.groupOf(row)) {
    case CategoryRows::Group::Favourite:
        vc_->selectEffectByName(QString());
        showFavoriteView(categoryModel_->favouriteAt(row));
        break;
    case CategoryRows::Group::Rename:
        seletedFilterCategory_ = categoryModel_->renameCategoryAt(row);
        vc_->selectEffectByName(QString());
        showFiltersViewShowFlag(false);
        AddConvertFormatView();
        break;
    case CategoryRows::Group::Fx:
        seletedFilterCategory_ = categoryModel_->fxCategoryAt(row);
        loadAllFiltersInCategory(seletedFilterCategory_);
        break;
    case CategoryRows::Group::Basic: {
        const auto record = categoryModel_->basicAt(row);
        if (!record) break;
        if (record->isCategory) {
            for (const auto& c : FiltersList::sharedFiltersList().filterCategoriesExcludingDupes)
                if (c && c->categoryName == record->filterName) {
                    seletedFilterCategory_ = c;
                    loadAllFiltersInCategory(c);
                    break;
                }
        } else {
            seletedFilterCategory_.reset();  // a basic effect belongs to no category's list
            showFilterParametersViewShowFlag(true);
            if (isSingleTimeEdiatbleFilter(record)) return;
            chooseEffect(record);
        }
        break;
    }
    case CategoryRows::Group::None: return;
    }
    if (editEnded) renderBase();
    categoryModel_->setSelectedCategoryIndex(row);
    tblCategories_->selectionModel()->setCurrentIndex(categoryModel_->index(row), QItemSelectionModel::NoUpdate);
}

void EffectsScreenController::loadAllFiltersInCategory(const std::shared_ptr<FilterCategoryInfo>& category) {
    if (!category) return;
    vc_->selectEffectByName(QString());
    effectModel_->setCellHeight(EffectTables::filterCellHeightForCategory(category->categoryName));
    effectModel_->setRecords(category->filterRecordsWithNoDuplicates);
    btnAddCustomImage_->setVisible(category->categoryName == QLatin1String("Add Image"));
    showFiltersViewShowFlag(true);
}

void EffectsScreenController::filterCellClickedWithIndex(int row) { effectModel_->setSelectedFilterIndex(row); }

void EffectsScreenController::chooseEffect(const std::shared_ptr<FilterRecord>& record) {
    selectedFilterObj_ = record;
    editedStep_.reset();
    stepsModel_->setEditedRow(-1);
    settingUp_ = true;
    vc_->selectEffectByName(record->filterName, record->filterDisplayName);
    settingUp_ = false;
    renderBase();
}

// ---- batch steps ----

void EffectsScreenController::stepsChanged(bool rerender) {
    AppDelegate& app = AppDelegate::shared();
    const int edited = editedStep_ ? int(app.arrayAppliedFilters.indexOf(editedStep_)) : -1;
    if (editedStep_ && edited < 0) editedStep_.reset();
    vc_->state().selectedAppliedFilterIndex = edited;
    stepsModel_->setEditedRow(edited);
    showAppliedFiltersView();
    if (rerender) renderBase();
}

bool EffectsScreenController::saveUnEditedFilter() {
    if (!editedStep_) return false;
    editedStep_.reset();
    stepsModel_->setEditedRow(-1);
    vc_->state().isFor_FILTER_EDIT_MODE = false;
    vc_->state().selectedAppliedFilterIndex = -1;
    return true;
}

void EffectsScreenController::btnApplyToggleTappedAtIndex(int row) {
    if (!AppliedSteps::toggle(AppDelegate::shared().arrayAppliedFilters, row)) return;
    stepsChanged(true);
}

void EffectsScreenController::btnRemoveTappedAtIndex(int row) {
    auto& steps = AppDelegate::shared().arrayAppliedFilters;
    const bool wasEdited = editedStep_ && steps.value(row) == editedStep_;
    if (!AppliedSteps::remove(steps, row)) return;
    if (wasEdited) {
        saveUnEditedFilter();
        vc_->closeEffect();
        showFilterParametersViewShowFlag(false);
    }
    stepsChanged(true);
}

void EffectsScreenController::btnEditFilterTappedAtIndex(int row) {
    auto& steps = AppDelegate::shared().arrayAppliedFilters;
    if (row < 0 || row >= steps.size()) return;
    showFavoriteView(nullptr);
    showFiltersViewShowFlag(false);
    editedStep_ = steps[row];
    stepsModel_->setEditedRow(row);
    // The base is drawn without the edited step; its panel then draws it from its values.
    renderBase([this] {
        const int index = int(AppDelegate::shared().arrayAppliedFilters.indexOf(editedStep_));
        if (index >= 0) vc_->btnEditFilterTappedAtIndex(index);
    });
}

void EffectsScreenController::btnMoveUpFilterTappedAtIndex(int row) {
    if (!AppliedSteps::moveUp(AppDelegate::shared().arrayAppliedFilters, row)) return;
    tblSteps_->clearSelection();
    stepsChanged(true);
}

void EffectsScreenController::btnMoveDownFilterTappedAtIndex(int row) {
    if (!AppliedSteps::moveDown(AppDelegate::shared().arrayAppliedFilters, row)) return;
    tblSteps_->clearSelection();
    stepsChanged(true);
}

void EffectsScreenController::btnAppliedFilterViewToggleTapped(bool listForm) {
    listForm_ = listForm;
    btnListView_->setChecked(listForm);
    btnThumbView_->setChecked(!listForm);
    stepsModel_->setListForm(listForm);
    tableViewAppliedFiltersBoundDidChange();
}

void EffectsScreenController::commitCurrentEffect() {
    auto step = vc_->makeAppliedFilter();
    if (!step) return;
    // The shown preview lacks what the text box showed over it: the step's picture is drawn
    // from the step instead.
    if (showsEffectItself(step->filterName)) step->filterAppliedImage = QImage();
    step->parentfilterCategory = seletedFilterCategory_;
    auto& steps = AppDelegate::shared().arrayAppliedFilters;
    const int editIndex = editedStep_ ? int(steps.indexOf(editedStep_)) : -1;
    if (editIndex >= 0) {
        // Only what the user changed is written back; the rest stays as stored.
        step->filterParameters = StepEditing::editedParameters(
            editedStep_->filterParameters, step->filterParameters, vc_->workingParameters().changedKeys());
        step->isApplied = editedStep_->isApplied;
        if (!step->parentfilterCategory) step->parentfilterCategory = editedStep_->parentfilterCategory;
    }
    const int row = AppliedSteps::commit(steps, step, editIndex);
    saveUnEditedFilter();
    vc_->workingParameters().clearChanged();
    // The effect is now a step of the batch: the panel closes and the preview shows the
    // batch, with the new step drawn once.
    vc_->closeEffect();
    showFilterParametersViewShowFlag(false);
    stepsChanged(true);
    refreshStepThumbnails(false);
    stepsListAt(row);
}

void EffectsScreenController::effectClosed() {
    saveUnEditedFilter();
    showFilterParametersViewShowFlag(false);
    renderBase();
}
