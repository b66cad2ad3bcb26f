#pragma once
// The effects screen (screen 1 of the main window): a façade that owns the widgets and one
// plain state struct, and hands the work to the widget-free classes of the editor (working
// parameter list, slot planner, resize arithmetic, crop corners, pop-up geometry, preview
// renderer).
//
// Areas (Qt coordinates, y down, inside the screen):
//   tableArea()          left column: category, effect, applied-step and favourite tables
//   previewContainer()   the frame of the preview (580 x 440, larger in a larger window)
//   imageContainerView() inside it, the photo's aspect-fit box; overlays and handles go here
//   photoStripArea()     below the preview: the photo strip
//   parametersColumn()   right column: the effect's panel (vWFiltersAndParams)
//   footer()             batch information and Back / Next
// Geometry handed to and from the logic is y-up in the image container's points.
#include <QColorDialog>
#include <QImage>
#include <QPointer>
#include <QVariantList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "editor/AdjustFilterState.h"
#include "editor/PreviewZoom.h"
#include "editor/SlotPlanner.h"
#include "ui/AttachedWindow.h"
#include "ui/WindowSizeHold.h"
#include "editor/OneShotScheduler.h"
#include "editor/WorkingParameterList.h"
#include "records/AppliedFilter.h"

// Implemented by the main window: Next and Back of the effects screen.
class AdjustFilterDelegate {
public:
    virtual ~AdjustFilterDelegate() = default;
    virtual void btnNextFromAdjustFilterVCTapped() = 0;
    virtual void btnBackFromFromAdjustFilterVCTapped() = 0;
};

// The overlay effects (frames, textures, sticker sets, image overlays, text and date) build
// their panels and their preview overlays through this; the screen asks it first.
class OverlayPanelHost {
public:
    virtual ~OverlayPanelHost() = default;
    // Builds the panel of an overlay effect; false when the name is none of them.
    virtual bool setupViewForOverlayFilter(const QString& filterName, bool editing) = 0;
    // Returns the overlay panels and overlays to their empty state (part of clearControls).
    virtual void clearOverlayControls() = 0;
    // Called by showImage before a render (the text box fits itself to its text here).
    virtual void willShowImage(const QString& filterName) { (void)filterName; }
    // True while an overlay of the screen shows the effect itself (the text box shows its
    // text): the preview is then drawn without it, so nothing shows twice.
    virtual bool showsEffectItself(const QString& filterName) const {
        (void)filterName;
        return false;
    }
};

struct AppliedFilter;
class EffectsScreenController;
class PointHandleButton;
class PreviewRenderer;
class RectButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class ValueSlider;

class AdjustFilterVC : public QWidget {
    Q_OBJECT
public:
    explicit AdjustFilterVC(QWidget* parent = nullptr);
    ~AdjustFilterVC() override;

    void setDelegate(AdjustFilterDelegate* delegate) { delegate_ = delegate; }
    AdjustFilterDelegate* delegate() const { return delegate_; }
    void setOverlayPanelHost(OverlayPanelHost* host) { overlayHost_ = host; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* backButton() const { return back_; }
    // Next and Back: nothing while a sub-window is open or while they are blocked.
    void btnSaveOptionsTapped();
    void btnPreviousSelectionTapped();
    void setNavigationBlocked(bool next, bool back);

    // ---- areas ----
    QWidget* tableArea() const { return tableArea_; }
    QWidget* previewContainer() const { return previewContainer_; }
    QWidget* imageContainerView() const { return imageContainer_; }
    QLabel* imgViewFiltered() const { return imgViewFiltered_; }
    QWidget* photoStripArea() const { return photoStripArea_; }
    QWidget* parametersColumn() const { return paramsColumn_; }
    QWidget* footer() const { return footer_; }
    QLabel* batchInfoLabel() const { return lblBatchInfo_; }
    QLabel* lblFilterName() const { return lblFilterName_; }
    QPushButton* btnApplyFilter() const { return btnApplyFilter_; }
    QWidget* vwAddEffect() const { return vwAddEffect_; }
    QPushButton* btnreset() const { return btnreset_; }
    QPushButton* btnCancel() const { return btnCancel_; }
    // The animation controls, shown for effects that run over time ("inputTime"); they
    // have no action of their own.
    QPushButton* animateButton() const { return animateButton_; }
    QPushButton* btnExportGifImage() const { return btnExportGifImage_; }
    // The preview's size in the smallest window; a larger one makes it larger (PreviewBox).
    static constexpr int kPreviewWidth = 580;
    static constexpr int kPreviewHeight = 440;
    QSize previewBoxSize() const { return previewBox_; }
    // The centre column's room: the window's width less the two side columns, its height
    // less the footer.
    QSize centreRoom() const;
    // Gives the preview this size (the picture shown is fitted into it until a new one is
    // read at the size), and the photo strip below it the same width.
    void setPreviewBoxSize(QSize box);
    static constexpr int kColumnWidth = 300;
    static constexpr int kColumnHeight = 560;

    // ---- state ----
    AdjustFilterState& state() { return state_; }
    const AdjustFilterState& state() const { return state_; }
    WorkingParameterList& workingParameters() { return params_; }
    const WorkingParameterList& workingParameters() const { return params_; }
    // Delays (the 0.5 s refresh after typing) go through this; tests pass a manual one.
    void setScheduler(std::unique_ptr<OneShotScheduler> scheduler);
    OneShotScheduler& scheduler() { return *scheduler_; }
    PreviewRenderer& previewRenderer() { return *renderer_; }

    // ---- choosing an effect ----
    // Builds the panel of an effect by its name (the effect table calls this on a double
    // click); a new working parameter list is filled with the panel's starting values and
    // the preview is redrawn. An empty name clears the panel.
    void selectEffectByName(const QString& filterName, const QString& displayName = {});
    // Opens step `index` of the batch for editing: its panel starts from the step's values.
    void btnEditFilterTappedAtIndex(int index);
    void setupViewForSelectedFilter();
    void clearControls();
    // Cancel: the effect being set up is dropped; the window stays open.
    void btnCancelTapped();
    // Ends the effect being set up (after Cancel, or once it became a step): no effect is
    // chosen and the panel is empty.
    void closeEffect();
    // Builds the open effect's panel again from these size-relative values (its own values,
    // taken before the preview's picture changed shape), keeping edit mode and what the user
    // changed.
    void reopenWithParameters(const QVariantList& sizeRelative);

    // ---- generic controls (six slider rows, two colour wells, four point buttons) ----
    // A view by its numeric tag: slider rows 100+i, name labels 10+i, value fields 20+i,
    // minimum labels 30+i, sliders 40+i, maximum labels 50+i, colour-well labels 1000+i,
    // wells 2000+i, well companions 200+i, point buttons 300+i; null for any other tag.
    QWidget* viewWithTag(int tag) const;
    ValueSlider* slider(int slot) const;
    QLineEdit* valueField(int slot) const;
    QPushButton* colourWell(int slot) const;
    QColor colourWellColour(int slot) const;
    PointHandleButton* pointButton(int slot) const;
    RectButton* theExtentButton() const { return theExtentButton_; }
    void addSliderControlWithKey(const QString& key, float value);
    void addColorWellControlWithKey(const QString& key, const QColor& customColour);
    // The button shows `title` (the parameter's display name); the key stays the handle's.
    void addPointButtonWithKey(const QString& key, QPointF start, const QString& title = {});
    // A slider moved to v (as the user would), a value typed into a slot's field, a colour
    // picked for a well.
    void handleSlider(int slot, double value);
    void changeValue(double value, int slot);
    void commitValueField(int slot);
    void colorPickerColorWellChanged(int slot, const QColor& colour);
    // Opens the colour dialog of a well (non-modal).
    void openColourWell(int slot);
    QColorDialog* colourDialog() const { return colourDialog_; }

    // ---- own panels ----
    QWidget* vwForResizeFilter() const { return vwForResizeFilter_; }
    QWidget* vWforCustomEnhance() const { return vWforCustomEnhance_; }
    QWidget* vwRotate() const { return vwRotate_; }
    QWidget* vwCrop() const { return vwCrop_; }
    QLineEdit* txtWidth() const { return txtWidthOnCustomFiltersParamView_; }
    QLineEdit* txtHeight() const { return txtHeightOnCustomFiltersParamView_; }
    QCheckBox* btnMaintainAspectCheckBox() const { return btnMaintainAspectCheckBox_; }
    QLabel* lblSelectedDimensionType() const { return lblSelectedDimensionType_; }
    ValueSlider* enhanceSlider(int tag) const;
    QLineEdit* enhanceField(int tag) const;
    QPushButton* btnFlipHorizontally() const { return btnFlip_horizonatally_; }
    QPushButton* btnFlipVertically() const { return btnFlip_vertically_; }
    QPushButton* btnPortrait() const { return btnPortraitOrientation_; }
    QPushButton* btnLandscape() const { return btnLandScapeOrientation_; }
    QLineEdit* txtCropRatio() const { return txtCropRatio_; }
    QSpinBox* cropField(int i) const;  // 0 x, 1 y, 2 width, 3 height (y up)
    void setupViewForResizeFilter(bool takeSaved);
    void setupViewForCustomEnhance();
    void setupViewForSimpleBorderFilter();
    void setupViewForRGBFilter();
    void setupViewForBlackAndWhiteFilter();
    void setupViewForRotateFilter();
    void setupViewForCropFilter(bool takeSaved);
    void handleSliderCustomEnhance(int tag, double value);
    void btnFlipHorizontallyTapped();
    void btnFlipVerticallyTapped();
    void btnPortraitTapped();
    void btnLandscapeTapped();
    void btnMaintainAspectRatioTapped();
    // A keystroke in the resize width or height field, and the end of its editing.
    void resizeFieldChanged(bool widthField);
    void applyResizeFilter();
    void cropRectValueChangeWithTextFiled(int field);
    void changeExtendRectOnTextChange();
    void changeSlidersValueForRGBfilterWithColor(const QColor& colour);

    // ---- option pop-ups ----
    // Opens the list of a type (PopupGeometry::Type) under its label; the font and date lists
    // are the text panels' labels, passed in by them.
    void openOptionPopup(int type, QWidget* anchorLabel);
    void selectDimentionResizeTapped();
    void selectCropRatioTapped();
    // A row of the open list chosen; -1 or a row past the list does nothing.
    void popupRowChosen(int row);
    void dismissPanel();
    AttachedWindow* attachedPopUpWindow() const { return attachedPopUpWindow_; }
    QListWidget* tblPopupOptions() const { return tblPopupOptions_; }

    // ---- the working parameter list ----
    void saveFilterParametersWithKey(const QString& key, const QVariant& value);
    // The list as a step stores it (size-relative to the image container).
    QVariantList committedParameters() const;
    // A new switched-on step of the current effect with the committed list and the shown
    // preview as its picture; null when no effect is set up.
    std::shared_ptr<AppliedFilter> makeAppliedFilter() const;

    // ---- preview ----
    // Shows a photo: the picture is scaled (once, here) to the image container's size, the
    // container is laid out for it and the working list is drawn on it from now on.
    // photoScale: how many pixels of the photo one of the picture stands for.
    void setPreviewPhoto(const QImage& picture, const QString& photoPath, double photoScale = 1.0);
    // Reads the application's selected photo at preview size (never the full photo).
    bool loadPreviewForSelectedPhoto();
    // Re-renders the preview from the working list in the background; the newest wins.
    void showImage();
    // The batch's steps drawn over the effect being set up (those after an edited step).
    void setStepsAbove(const QList<AppliedFilter>& steps) { stepsAbove_ = steps; }
    // The preview-sized photo the effects are drawn on, and the last picture shown.
    QImage imageToEdit() const { return imageToEdit_; }
    QImage shownImage() const { return shownImage_; }
    QSizeF imageContainerSize() const;
    // (Re)starts the delayed refresh: 0.5 s after the last call the preview is redrawn.
    void resetTimerToPerformActionLater();

    // ---- named operations of the screen (AdjustFilterVC_Operations.cpp) ----
    // Own effects' slider values by effect and slot ("Add Border" slot 1 -> "cornerRadius").
    void changeValueForCustomFiltersSlidersNewValue(double value, int slot);
    // A point button or the crop rectangle button clicked: on <-> off.
    void pointButtonChanged(PointHandleButton* button);
    void extentButtonChanged();
    void handleSliderEffectIntensity(double value);
    void handleSliderInputImageIntensity(double value);
    // The slider row of tags 100 ... 105; null for any other tag.
    QWidget* getViewWithTag(int tag) const;
    // Takes the own effects' panels out of the parameter column (hides them).
    void removeCustomViews();
    // Taller custom-enhance sliders where the system draws them taller.
    void increaseHeightOf_Sliders();
    // Whether the main window may be resized while an effect is set up; the screen's own
    // limits come back when it may again.
    void setWindowResizable(bool resizable);
    bool isWindowResizable() const { return !windowHold_.isHolding(); }
    // The effect-information warning, shown instead of the information button.
    void showInfoFilterWarning(bool show);
    QWidget* vwInfoFilterWarning() const { return vwInfoFilterWarning_; }
    QPushButton* btnInfoFilter() const { return btnInfoFilter_; }
    void hideResetButtonSetHidden(bool hidden);
    // The second-picture panel of two-picture effects, with its file label (the picture
    // overlays' own panel is the controller's).
    void hideAddPhotoButtonSetHidden(bool hidden);
    QWidget* vWBackGroundImage() const { return vWBackGroundImage_; }
    QLabel* lblBGImgUrl() const { return lblBGImgUrl_; }
    // Shows the photo at currentZooomFactor with "Zoom: n %" (no label at 100 %).
    void zoomPreviewsWithCurrentZoomFactor();
    QLabel* lblZoom() const { return lblZoom_; }
    // The preview zooms by the wheel with Ctrl, a pinch, and the + and − keys, except while an
    // effect with handles or boxes on the preview is set up (they stand on the fitted photo).
    // `anchor` is the point of the image container that stays put. False when nothing zoomed.
    bool zoomPreview(double ratio, QPointF anchor);
    bool isZoomAllowed() const { return zoomAllowed_; }
    // Lays the image container out for a picture of `size` (the preview's own when empty)
    // and stores its size as ADJUST_FILTER_IMG_CONTAINER_SIZE.
    void resizeImageContainerForAspectFit(QSizeF size = {});
    // Scales the preview photo (the batch's steps already drawn on it) to the container.
    void resizeInputImageForAspectFit();
    // The progress display's delay; it shares the one-shot slot of the typing refresh, so
    // starting either cancels the other.
    void resetTimerToShowProgressBar(std::function<void()> showProgress);

signals:
    // A preview picture arrived and is shown.
    void previewShown(quint64 generation);
    // A set-up for an effect ended (the effect table and the steps table follow it).
    void effectSetUp(const QString& filterName);
    // Cancel ended the effect being set up.
    void effectCancelled();

protected:
    // Escape leaves the effect being set up or the step being edited, as Cancel does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void buildParameterColumn();
    void buildGenericControls();
    void buildOwnPanels();
    void buildOperationViews();
    void doSetupForFilter();
    void setupCoreImageControls();
    void bindSlider(const SliderPlan& plan);
    void hideUnwantedButtons();
    void placeGeneratedAreas();
    void placeApplyArea(double yUp);
    // The animation controls for an effect that does (or does not) run over time.
    void showAnimationControls(bool hasTime);
    void placeTopPanel(QWidget* panel, double extraBelow);
    void placeInColumn(QWidget* w, const QRectF& yUp);
    void showResizeFields(int width, int height);
    void applyResizeOutcome(const struct ResizeOutcome& outcome);
    void setCropOrientationButtons(bool portrait);
    void showCropRect(const QRectF& yUp);
    std::optional<double> cropMultiplier() const;
    QVariant savedValue(const QString& key) const;
    QSizeF photoPixelSize() const;
    PlanInput planInput() const;
    void onPreviewRendered(const QImage& image, quint64 generation);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void setApplyButtonHighted(bool highlighted);

    AdjustFilterDelegate* delegate_ = nullptr;
    OverlayPanelHost* overlayHost_ = nullptr;
    EffectsScreenController* controller_ = nullptr;  // a child, ended first
    AdjustFilterState state_;
    WorkingParameterList params_;
    std::unique_ptr<OneShotScheduler> scheduler_;
    PreviewRenderer* renderer_ = nullptr;
    QImage imageToEdit_;
    QImage shownImage_;
    QImage previewSource_;  // the preview photo as given, before it is fitted
    double previewSourceScale_ = 1.0;  // pixels of the photo to one of previewSource_
    QList<AppliedFilter> stepsAbove_;
    WindowSizeHold windowHold_;
    QWidget* vwInfoFilterWarning_ = nullptr;
    QPushButton* btnInfoFilter_ = nullptr;
    QWidget* vWBackGroundImage_ = nullptr;
    QLabel* lblBGImgUrl_ = nullptr;
    QLabel* lblZoom_ = nullptr;
    PreviewZoom zoom_;
    bool zoomAllowed_ = true;

    QWidget* tableArea_ = nullptr;
    QWidget* previewContainer_ = nullptr;
    QWidget* imageContainer_ = nullptr;
    QLabel* imgViewFiltered_ = nullptr;
    QWidget* photoStripArea_ = nullptr;
    QWidget* paramsColumn_ = nullptr;
    QSize previewBox_{kPreviewWidth, kPreviewHeight};
    QWidget* footer_ = nullptr;
    QLabel* lblBatchInfo_ = nullptr;
    QLabel* lblFilterName_ = nullptr;
    QWidget* viewFilterParametrs_ = nullptr;
    QWidget* vwAddEffect_ = nullptr;
    QPushButton* btnApplyFilter_ = nullptr;
    QLabel* lblClickOnAddEffect_ = nullptr;
    QPushButton* btnreset_ = nullptr;
    QLabel* lblOnReset_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QPushButton* animateButton_ = nullptr;
    QPushButton* btnExportGifImage_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* back_ = nullptr;

    // generic controls
    struct SliderRow {
        QWidget* row = nullptr;
        QLabel* name = nullptr;
        QLineEdit* field = nullptr;
        QLabel* minimum = nullptr;
        ValueSlider* slider = nullptr;
        QLabel* maximum = nullptr;
    };
    std::array<SliderRow, 6> sliderRows_{};
    struct WellSlot {
        QLabel* label = nullptr;
        QPushButton* well = nullptr;
        QWidget* companion = nullptr;
        QColor colour;
    };
    std::array<WellSlot, 2> wells_{};
    std::array<PointHandleButton*, 4> pointButtons_{};
    QWidget* viewBGForColorPickers_ = nullptr;
    QWidget* viewBGForRectButtons_ = nullptr;
    QLabel* lblDragPosionBtn_ = nullptr;
    RectButton* theExtentButton_ = nullptr;
    QPointer<QColorDialog> colourDialog_;
    int colourDialogSlot_ = -1;
    CIFilterPtr currentFilter_;

    // own panels
    QWidget* vwForResizeFilter_ = nullptr;
    QLineEdit* txtWidthOnCustomFiltersParamView_ = nullptr;
    QLineEdit* txtHeightOnCustomFiltersParamView_ = nullptr;
    QLabel* lblSelectedDimensionType_ = nullptr;
    QPushButton* btnSelectDimension_ = nullptr;
    QCheckBox* btnMaintainAspectCheckBox_ = nullptr;
    int resizePreviousWidth_ = 0, resizePreviousHeight_ = 0;
    QWidget* vWforCustomEnhance_ = nullptr;
    std::array<ValueSlider*, 9> enhanceSliders_{};
    std::array<QLineEdit*, 9> enhanceFields_{};
    QWidget* vwRotate_ = nullptr;
    QPushButton* btnFlip_horizonatally_ = nullptr;
    QPushButton* btnFlip_vertically_ = nullptr;
    QWidget* vwCrop_ = nullptr;
    QLineEdit* txtCropRatio_ = nullptr;
    QPushButton* btnSelectCropRatio_ = nullptr;
    QPushButton* btnPortraitOrientation_ = nullptr;
    QPushButton* btnLandScapeOrientation_ = nullptr;
    std::array<QSpinBox*, 4> cropFields_{};
    QRectF pendingCropRect_;  // typed into the crop fields, shown after the delay
    bool fillingFields_ = false;  // fields set by the code, not typed

    // option pop-ups
    QWidget* vwPopupWithTableOptions_ = nullptr;
    QListWidget* tblPopupOptions_ = nullptr;
    QPointer<AttachedWindow> attachedPopUpWindow_;
    QPointer<QWidget> popupAnchor_;
    QStringList popupList_;
};
