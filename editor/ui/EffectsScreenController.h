#pragma once
// The effects screen's tables, overlays and life cycle, attached to the screen's façade:
// the category, effect, batch-step and favourite tables with their models and delegates,
// the photo strip, the text box and picture box over the preview, the overlay effects'
// panels, the preview photo loaded in the background with the batch's steps drawn on it,
// and what appearing, disappearing and changing photos do.
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSlider>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "batch/ui/ConvertFormatOrRenameView.h"
#include "editor/EffectsScreenLogic.h"
#include "editor/OneShotScheduler.h"
#include "editor/PreviewLoader.h"
#include "editor/StepEditing.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/TextWatermarkView.h"
#include "records/AppDelegate.h"
#include "records/SubWindowHold.h"

class AppliedStepsModel;
class AttachedWindow;
class LoadingOverlay;
class CategoryTableModel;
class EffectTableModel;
class FavouriteDetailsModel;
class ImageOverlayView;
class PhotoStrip;
class SimpleRowsModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSlider;
class QTableView;
class QTimer;
struct FavouriteBatch;
struct FilterCategoryInfo;
struct FilterRecord;

// Shows the screen's questions and notices; tests answer them directly.
class EffectsAlertPresenter {
public:
    virtual ~EffectsAlertPresenter() = default;
    // `answer` gets true for Yes (or OK); notices have no No.
    virtual void showAlert(int type, const QString& title, const QString& message, bool question,
                           std::function<void(bool yes, bool dontShowAgain)> answer) = 0;
};

class EffectsScreenController : public QObject,
                                public OverlayPanelHost,
                                public TextWatermarkViewDelegate,
                                public ConvertFormatOrRenameViewDelegate {
    Q_OBJECT
public:
    explicit EffectsScreenController(AdjustFilterVC* vc);
    ~EffectsScreenController() override;

    // Background work (preview loads, step thumbnails, strip thumbnails); tests run it inline.
    void setExecutor(PreviewLoader::Executor executor);
    // Called with the preview photo's path once its file is open, before it is read (tests).
    void setSourceReadHook(std::function<void(const QString& path)> hook) { loader_.setSourceReadHook(std::move(hook)); }
    void setAlertPresenter(EffectsAlertPresenter* presenter) { alerts_ = presenter; }
    // The screen's delays, each a slot of its own; tests put manual ones in. Replacing a
    // scheduler drops what the old one had pending.
    enum Delay { DelayEnablePrev, DelayTips, DelayEndResizing, DelayCount };
    void setDelayScheduler(Delay which, std::unique_ptr<OneShotScheduler> scheduler);
    OneShotScheduler& delay(Delay which) { return *delays_[which]; }

    // ---- life cycle ----
    void viewWillAppearNotofication();
    void viewWillDisAppear();
    // With a new preview size, the preview takes it once the open effect's values are
    // taken, and the photo is read again at that size.
    void selectedPhotoChanged(std::optional<QSize> newPreviewBox = std::nullopt);
    void resetFilterForNewImage(bool force);
    void checkForDeletedPhotosInSourceFolder(bool remove);
    void showAlertForAllPhotosDeleted();
    void updateBatchInformationInBottomView();
    void setImageInfo();
    void forgetShownPhotoOutsideBatch();
    void enablePrevBtn();
    void windowisResizing();
    void windowEndResizing();

    // ---- loading overlay ----
    void showLoading(bool show);
    void showLoadingNotification();
    void hideLoadingNotification();
    // The overlay's frame timer: the overlay goes as soon as no file work is running.
    void loaderFrameShown();
    LoadingOverlay* loadingView() const { return vwLoading_; }

    // ---- first-use tips (3 to 6) ----
    void showTipsWithTag(int tag);
    void btnNextOnTipsPopupTapped();
    void btnGotItOnTipsPopupTapped();
    void setTipsDisabledChecked(bool on);
    void removeTipsPopupWindow();
    AttachedWindow* tipsPopUpWindow() const { return tipsPopUpWindow_; }
    int currentTips() const { return currentTips_; }
    static QString tipText(int tag);

    // ---- the Batch Conversion row: the rename-and-convert view on this screen ----
    void AddConvertFormatView();
    void removeConvertFormatView();
    bool isBatchConversionRowSelected() const;
    ConvertFormatOrRenameView* convertFormatView() const { return vwConvertFormatOrRename_; }
    // ConvertFormatOrRenameViewDelegate: busy while the view re-plans the batch.
    void showProgressHud(bool show) override;
    void updateProgressVariable() override;

    // ---- tables ----
    void loadCategories();
    void selectCategoryRow(int row);
    void filterCellClickedWithIndex(int row);
    void btnApplyToggleTappedAtIndex(int row);
    void btnRemoveTappedAtIndex(int row);
    void btnEditFilterTappedAtIndex(int row);
    void btnMoveUpFilterTappedAtIndex(int row);
    void btnMoveDownFilterTappedAtIndex(int row);
    void btnAppliedFilterViewToggleTapped(bool listForm);
    void btnApplyToggleOnFavCellTappedAtIndex(int row);
    void btnDeleteOnFavCellTappedAtIndex(int row);
    void btnAddEffectsOnFavTapped();
    // The Add/Edit Effect button: the adjusted effect becomes a step (replacing the edited one),
    // and the keyboard that was on the panel goes on to the steps' list.
    void btnApplyFilterTapped();
    void commitCurrentEffect();
    // The picture box's picture for "Add Custom Image", chosen in an image file dialog.
    void btnChooseCustomImageTapped();
    void setCustomImageFromFile(const QString& path);
    // The frame/texture table's row, and its intensity slider.
    void textureRowChosen(int row);
    void slideEffectIntensityOnTextureCellValueChanged(int row);
    void stickerChosen(int row);
    // The picture box's settings pop-up (turn), its flips, and a picture of the user's own.
    void singleClickOnImageWatermarkView();
    void removeStickerParamPopupWindow();
    void imageOverlayAngleChanged(int degrees);
    void btnOverlayFlipTapped(bool horizontal, bool on);
    void btnAddCustomImageTapped();

    // ---- OverlayPanelHost ----
    bool setupViewForOverlayFilter(const QString& filterName, bool editing) override;
    void clearOverlayControls() override;
    void willShowImage(const QString& filterName) override;
    bool showsEffectItself(const QString& filterName) const override;

    // ---- TextWatermarkViewDelegate ----
    void btnCrossClickedOnTextWatermarkView() override;
    void transformUpdatedOnTextWatermarkViewWithRotation(float rotation, const QRectF& updatedFrame,
                                                         const QRectF& rotatedFrame) override;

    // ---- the text panel ----
    void btnLeftAlignTextWatermarkTapped();
    void btnCenterAlignTextWatermarkTapped();
    void btnRightAlignTextWatermarkTapped();
    void btnHorizontalFlipTextWatermarkTapped(bool on);
    void btnVerticalFlipTextWatermarkTapped(bool on);
    void fontSizeTyped(const QString& text);
    // The end of typing a size: a size below 8 becomes 8.
    void fontSizeEditingEnded();

    // ---- named operations (EffectsScreenController_Operations.cpp) ----
    // The preview photo with these steps (the switched-on ones) drawn on it, shown.
    void applyAllSeletedFiltersOnImage(const QList<std::shared_ptr<AppliedFilter>>& steps,
                                       std::function<void()> then = {});
    // The batch's steps with a favourite's switched-on steps on top, shown.
    void applyFavFiltersForFavBatch(const std::shared_ptr<FavouriteBatch>& favourite, std::function<void()> then = {});
    // The step thumbnails, only while the steps show them.
    void tableViewAppliedFiltersBoundDidChange();
    // The frame/texture pictures drawn on the current photo.
    void tableTextureEffectsBoundDidChange();
    void showPhotoListViewShowFlag(bool show, bool animate = false);
    // "Resize" is kept once: true (and the batch's own opened) when the batch holds it.
    bool isSingleTimeEdiatbleFilter(const std::shared_ptr<FilterRecord>& record);
    void showAppliedFiltersView();
    void filterCellDoubleClickedWithIndex(int row);
    // The effect cell's picture: a click chooses and opens the effect, a double click opens it.
    void FilterImageCellClickedWithIndex(int row);
    void FilterImageDoubbleClickedWithIndex(int row);
    void showFiltersViewShowFlag(bool show, bool animate = false);
    void showFilterParametersViewShowFlag(bool show, bool animate = false);
    void loadStickers();
    void showAddTextOverlayView();
    bool isSelectedPhotoDeleted() const;
    // Every screen lays itself out again.
    void resizeConvertFormatViewAfterDelay();
    // The overlay panels' builders.
    void setupViewForFramesFilters(const QString& name, bool editing);
    void setupViewForTextureFilters(const QString& name, bool editing);
    void setupViewForStickerFilter(const QString& name, bool editing);
    void setupViewForAddLogoFilter(const QString& name, bool editing);
    void setupViewForAddCommentFilter(const QString& name, bool editing);
    // The text panel's option lists.
    void selectFontTapped();
    void selectDateOptionsTapped();
    void selectDateFormatTapped();
    void selectTimeFormatTapped();

    // ---- what tests and the window look at ----
    QListView* tblFilterCategories() const { return tblCategories_; }
    QListView* tblFilters() const { return tblFilters_; }
    QListView* tblAppliedFilters() const { return tblSteps_; }
    QListView* tblFavDetails() const { return tblFavDetails_; }
    QListView* tblTextureEffects() const { return tblTextures_; }
    QListView* stickerGrid() const { return tblStickers_; }
    QTableView* tvMetaData() const { return tvMetaData_; }
    CategoryTableModel* categoryModel() const { return categoryModel_; }
    EffectTableModel* effectModel() const { return effectModel_; }
    AppliedStepsModel* stepsModel() const { return stepsModel_; }
    FavouriteDetailsModel* favouriteModel() const { return favModel_; }
    SimpleRowsModel* metadataModel() const { return metadataModel_; }
    PhotoStrip* photoStrip() const { return strip_; }
    TextWatermarkView* textWatermarkView() const { return textView_; }
    ImageOverlayView* imageWatermarkView() const { return imageView_; }
    QCheckBox* checkAutoOrientation() const { return checkAutoOrientation_; }
    QPushButton* btnAddEffectsOnFav() const { return btnAddEffectsOnFav_; }
    QLabel* lblImageName() const { return lblImageName_; }
    QLabel* lblSelectedImage() const { return lblSelectedImage_; }
    QLabel* lblImageInfo() const { return lblImageInfo_; }
    QLabel* lblFavTitle() const { return lblFavTitle_; }
    QWidget* vwTextureEffect() const { return vwTextureEffect_; }
    QWidget* vwStickers() const { return vwStickers_; }
    QWidget* viewWaterMark() const { return viewWaterMark_; }
    QLineEdit* txtFontsize() const { return txtFontsize_; }
    QPushButton* alignButton(int alignment) const;
    QPushButton* btnTextFlipHorizontally() const { return btnTextFlipH_; }
    QPushButton* btnTextFlipVertically() const { return btnTextFlipV_; }
    QSlider* sliderEffectIntensity() const { return sliderIntensity_; }
    QSlider* sliderOpacityForStickers() const { return sliderOpacity_; }
    QPushButton* btnChooseImage() const { return btnChooseImage_; }
    QPushButton* btnAddCustomImage() const { return btnAddCustomImage_; }
    QPushButton* btnOverlayFlipHorizontally() const { return btnOverlayFlipH_; }
    QPushButton* btnOverlayFlipVertically() const { return btnOverlayFlipV_; }
    AttachedWindow* windowStickerSetting() const { return windowStickerSetting_; }
    QSlider* sliderStickerAngle() const { return sliderStickerAngle_; }
    int selectedCategoryIndex() const;
    int selectedTextureEffectIndex() const { return selectedTextureEffectIndex_; }
    std::shared_ptr<FavouriteBatch> selectedFavBatch() const { return selectedFavBatch_; }
    QImage originalImage() const { return originalImage_; }
    QImage filteredImage() const { return filteredImage_; }
    quint64 previewGeneration() const { return loader_.latestGeneration(); }

signals:
    // A preview photo (with the batch's steps) arrived and is shown.
    void previewPhotoLoaded(const QString& path);

private:
    void buildSidebar();
    void buildEffectTable();
    void buildFavouritePanel();
    void buildOverlayPanels();
    void buildTextPanel();
    void showFavoriteView(const std::shared_ptr<FavouriteBatch>& favourite);
    void loadAllFiltersInCategory(const std::shared_ptr<FilterCategoryInfo>& category);
    void chooseEffect(const std::shared_ptr<FilterRecord>& record);
    // Ends the edit of a step; true when one was being edited.
    bool saveUnEditedFilter();
    void stepsChanged(bool rerender);
    StepEditing::PreviewLayers currentLayers() const;
    void renderBase(std::function<void()> then = {});
    // Cancel ended the effect being set up: an edit ends and the preview shows the batch.
    void effectClosed();
    void refreshStepThumbnails(bool all);
    // Where the keyboard goes when a panel closes for the steps: the steps' list, on `row`.
    QWidget* stepsListAt(int row);
    // The first control of the effect set up, or Add Effect for an effect without any.
    QWidget* firstControlOfEffect() const;
    // The preview's size for the room the screen has now, when it is not the size it has.
    std::optional<QSize> newPreviewBox();
    // The screen appears: the photo changed or the window's size changed meanwhile.
    void fitPreviewOnAppearing();
    void applyPreviewResult(const PhotoPreviewResult& result, const std::optional<QVariantList>& carried,
                            bool rebuildPanel);
    void showAlert(int type, const QString& title, const QString& message, bool question,
                   std::function<void(bool, bool)> answer);
    void placePanel(QWidget* panel, double yUp, double height);
    void hideOverlayViews();
    bool setupTextureOrFrame(const QString& name, bool editing);
    void setupImageOverlay(const QString& name, bool editing);
    void setupText(const QString& name, bool editing);
    void setTextAlginMentButtons(int alignment);
    void showApplyAreaUnderTheList();
    QVariant editedValue(const QString& key) const;
    void layoutOverlays();
    void layoutConvertFormatView();
    void finishTip(bool walkOn);
    bool eventFilter(QObject* watched, QEvent* event) override;

    AdjustFilterVC* vc_;
    QWidget* imageContainer_ = nullptr;  // the façade's, kept for its events
    EffectsAlertPresenter* alerts_ = nullptr;
    PreviewLoader loader_;
    StepThumbnails thumbnails_;
    PreviewLoader::Executor executor_;
    std::array<std::unique_ptr<OneShotScheduler>, DelayCount> delays_;
    // Background pictures of the texture and frame lists come back only while the screen lives.
    platform::PostBack back_{this};

    // loading overlay and tips
    LoadingOverlay* vwLoading_ = nullptr;
    QTimer* loaderWatch_ = nullptr;
    bool progressHudShown_ = false;  // the hosted view is re-planning (its own overlay rules)
    QPointer<AttachedWindow> tipsPopUpWindow_;
    // The overlay, the tip and each alert hold the window's busy count while they are open.
    SubWindowHold busy_{AppDelegate::shared().isSUBWINDOW_OPENED};
    bool holdsLoading_ = false, holdsTip_ = false;
    int tipsShown_ = 0;  // tips shown so far: which one a tip's going concerns
    QCheckBox* checkDisableTips_ = nullptr;
    bool tipsDisableChecked_ = false;
    int currentTips_ = -1;

    // the Batch Conversion row
    ConvertFormatOrRenameView* vwConvertFormatOrRename_ = nullptr;
    QWidget* vwAppliedFilters_ = nullptr;  // the batch steps' part of the left column

    // tables
    QListView* tblCategories_ = nullptr;
    QListView* tblFilters_ = nullptr;
    QListView* tblSteps_ = nullptr;
    QListView* tblFavDetails_ = nullptr;
    QListView* tblTextures_ = nullptr;
    QListView* tblStickers_ = nullptr;
    QTableView* tvMetaData_ = nullptr;
    CategoryTableModel* categoryModel_ = nullptr;
    EffectTableModel* effectModel_ = nullptr;
    AppliedStepsModel* stepsModel_ = nullptr;
    FavouriteDetailsModel* favModel_ = nullptr;
    SimpleRowsModel* metadataModel_ = nullptr;
    SimpleRowsModel* texturesModel_ = nullptr;
    SimpleRowsModel* stickersModel_ = nullptr;
    QLabel* lblNoSteps_ = nullptr;
    QPushButton* btnListView_ = nullptr;
    QPushButton* btnThumbView_ = nullptr;
    QCheckBox* checkAutoOrientation_ = nullptr;
    QLabel* lblImageName_ = nullptr;
    QLabel* lblSelectedImage_ = nullptr;
    static constexpr QSize kHeaderPicture{64, 48};
    QVariantMap photoProperties_;  // the shown photo's metadata as its load read it
    QLabel* lblImageInfo_ = nullptr;
    QWidget* vwEffects_ = nullptr;   // the effect table's panel
    QWidget* vwFavourite_ = nullptr;  // the favourite details panel
    QLabel* lblFavTitle_ = nullptr;
    QPushButton* btnAddEffectsOnFav_ = nullptr;

    // overlays and their panels
    PhotoStrip* strip_ = nullptr;
    TextWatermarkView* textView_ = nullptr;
    ImageOverlayView* imageView_ = nullptr;
    QWidget* vwTextureEffect_ = nullptr;
    QSlider* sliderIntensity_ = nullptr;
    QWidget* vwStickers_ = nullptr;
    QWidget* vwImageOverlay_ = nullptr;
    QSlider* sliderOpacity_ = nullptr;
    QLabel* lblSlickerOpacity_ = nullptr;
    QPushButton* btnChooseImage_ = nullptr;
    QPushButton* btnAddCustomImage_ = nullptr;
    QPushButton* btnOverlayFlipH_ = nullptr;
    QPushButton* btnOverlayFlipV_ = nullptr;
    QPointer<AttachedWindow> windowStickerSetting_;
    QPointer<QSlider> sliderStickerAngle_;
    QLabel* lblStickerAngle_ = nullptr;
    QWidget* viewWaterMark_ = nullptr;
    QWidget* vwAddDateParam_ = nullptr;
    QLineEdit* txtFontsize_ = nullptr;
    QLabel* lblSelectedFontName_ = nullptr;
    QLabel* lblSelectedDateTime_ = nullptr;
    QLabel* lblSelectedDateFormat_ = nullptr;
    QLabel* lblSelectedTimeFormat_ = nullptr;
    QPushButton* btnLeftAlign_ = nullptr;
    QPushButton* btnCenterAlign_ = nullptr;
    QPushButton* btnRightAlign_ = nullptr;
    QPushButton* btnTextFlipH_ = nullptr;
    QPushButton* btnTextFlipV_ = nullptr;

    // state
    int selectedTextureEffectIndex_ = -1;
    int totalPhotos_ = 0;
    bool listForm_ = true;
    bool settingUp_ = false;
    QStringList textureList_;
    QStringList stickerList_;
    QString overlayName_;
    std::shared_ptr<FavouriteBatch> selectedFavBatch_;
    std::shared_ptr<AppliedFilter> editedStep_;
    std::shared_ptr<FilterCategoryInfo> seletedFilterCategory_;
    std::shared_ptr<FilterRecord> selectedFilterObj_;
    QImage originalImage_;
    QImage filteredImage_;
    QImage imgSelected_Thumbnail_;
    QString previewPath_;
};
