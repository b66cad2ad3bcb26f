// The effects screen's own adjustment panels: resize, custom enhance, border, RGB adjust,
// black and white, rotate with flips, and crop.
#include "editor/ui/AdjustFilterVC.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <cmath>

#include "editor/HandleDrag.h"
#include "editor/PanelPlacement.h"
#include "editor/PopupGeometry.h"
#include "editor/ResizeArithmetic.h"
#include "editor/ui/PointHandles.h"
#include "editor/ui/ValueSlider.h"
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "ui/OnlyIntegerValueFormatter.h"
#include "ui/KeyboardHelpers.h"

using platform::Vec;

namespace {

struct EnhanceRow {
    const char* title;
    const char* key;
    double minimum, maximum, neutral;
};
// Keys in slider-tag order (0 … 8).
const EnhanceRow kEnhance[9] = {
    {"Exposure", "enhanceExposureValue", -2.0, 2.0, 0},     {"Brightness", "enhanceBrightnessValue", -1.0, 1.0, 0},
    {"Contrast", "enhanceContrastValue", 0.25, 4.0, 1},     {"Saturation", "enhanceSaturationValue", 0.0, 2.0, 1},
    {"Sharpness", "enhanceSharpnessValue", 0.0, 2.0, 0},    {"Denoise", "enhanceDenoiseValue", 0.0, 0.1, 0},
    {"Vibrance", "enhanceVibranceValue", -1.0, 1.0, 0},     {"Hue", "enhanceHueValue", -3.14, 3.14, 0},
    {"Opacity", "enhanceOpacityValue", 0.0, 1.0, 1},
};

int savedInt(const QVariant& v) { return platform::isNumber(v) ? int(platform::numberValue(v)) : 0; }
double savedReal(const QVariant& v) { return platform::numberValue(v, 0.0); }

}  // namespace

void AdjustFilterVC::buildOwnPanels() {
    // Resize.
    vwForResizeFilter_ = new QWidget(paramsColumn_);
    vwForResizeFilter_->setObjectName(QStringLiteral("vwForResizeFilter"));
    vwForResizeFilter_->resize(kColumnWidth, 150);
    auto* wl = new QLabel(tr("Width"), vwForResizeFilter_);
    wl->setGeometry(10, 10, 60, 22);
    txtWidthOnCustomFiltersParamView_ = new QLineEdit(vwForResizeFilter_);
    txtWidthOnCustomFiltersParamView_->setGeometry(80, 10, 90, 24);
    auto* hl = new QLabel(tr("Height"), vwForResizeFilter_);
    hl->setGeometry(10, 42, 60, 22);
    txtHeightOnCustomFiltersParamView_ = new QLineEdit(vwForResizeFilter_);
    txtHeightOnCustomFiltersParamView_->setGeometry(80, 42, 90, 24);
    for (QLineEdit* f : {txtWidthOnCustomFiltersParamView_, txtHeightOnCustomFiltersParamView_}) {
        auto* formatter = new OnlyIntegerValueFormatter(f);
        formatter->setMaximumValue(ResizeArithmetic::kMaxPixels);
        f->setValidator(formatter);
    }
    lblSelectedDimensionType_ = new QLabel(vwForResizeFilter_);
    lblSelectedDimensionType_->setGeometry(180, 26, 80, 22);
    btnSelectDimension_ = new QPushButton(QStringLiteral("\u25BE"), vwForResizeFilter_);
    btnSelectDimension_->setGeometry(262, 26, 28, 22);
    btnMaintainAspectCheckBox_ = new QCheckBox(tr("Maintain aspect ratio"), vwForResizeFilter_);
    btnMaintainAspectCheckBox_->setGeometry(10, 80, 200, 24);
    connect(txtWidthOnCustomFiltersParamView_, &QLineEdit::textEdited, this, [this] { resizeFieldChanged(true); });
    connect(txtHeightOnCustomFiltersParamView_, &QLineEdit::textEdited, this, [this] { resizeFieldChanged(false); });
    connect(txtWidthOnCustomFiltersParamView_, &QLineEdit::editingFinished, this, &AdjustFilterVC::applyResizeFilter);
    connect(txtHeightOnCustomFiltersParamView_, &QLineEdit::editingFinished, this, &AdjustFilterVC::applyResizeFilter);
    connect(btnMaintainAspectCheckBox_, &QCheckBox::clicked, this, &AdjustFilterVC::btnMaintainAspectRatioTapped);
    connect(btnSelectDimension_, &QPushButton::clicked, this, &AdjustFilterVC::selectDimentionResizeTapped);

    // Custom enhance.
    vWforCustomEnhance_ = new QWidget(paramsColumn_);
    vWforCustomEnhance_->setObjectName(QStringLiteral("vWforCustomEnhance"));
    vWforCustomEnhance_->resize(kColumnWidth, 9 * 36 + 8);
    for (int t = 0; t < 9; ++t) {
        auto* label = new QLabel(tr(kEnhance[t].title), vWforCustomEnhance_);
        label->setGeometry(10, 4 + t * 36, 80, 20);
        auto* s = new ValueSlider(vWforCustomEnhance_);
        s->setGeometry(90, 4 + t * 36, 140, 20);
        s->setRange(kEnhance[t].minimum, kEnhance[t].maximum);
        auto* f = new QLineEdit(vWforCustomEnhance_);
        f->setGeometry(236, 2 + t * 36, 56, 22);
        f->setReadOnly(true);
        enhanceSliders_[size_t(t)] = s;
        enhanceFields_[size_t(t)] = f;
        connect(s, &ValueSlider::doubleValueMoved, this, [this, t](double v) { handleSliderCustomEnhance(t, v); });
    }

    // Rotate: the flips (the angle is a generic slider).
    vwRotate_ = new QWidget(paramsColumn_);
    vwRotate_->setObjectName(QStringLiteral("vwRotate"));
    vwRotate_->resize(kColumnWidth, 60);
    btnFlip_horizonatally_ = new QPushButton(tr("Flip Horizontally"), vwRotate_);
    btnFlip_horizonatally_->setGeometry(10, 14, 135, 30);
    btnFlip_vertically_ = new QPushButton(tr("Flip Vertically"), vwRotate_);
    btnFlip_vertically_->setGeometry(155, 14, 135, 30);
    for (QPushButton* b : {btnFlip_horizonatally_, btnFlip_vertically_}) b->setCheckable(true);
    connect(btnFlip_horizonatally_, &QPushButton::clicked, this, &AdjustFilterVC::btnFlipHorizontallyTapped);
    connect(btnFlip_vertically_, &QPushButton::clicked, this, &AdjustFilterVC::btnFlipVerticallyTapped);

    // Crop.
    vwCrop_ = new QWidget(paramsColumn_);
    vwCrop_->setObjectName(QStringLiteral("vwCrop"));
    vwCrop_->resize(kColumnWidth, 200);
    auto* rl = new QLabel(tr("Ratio"), vwCrop_);
    rl->setGeometry(10, 10, 50, 22);
    txtCropRatio_ = new QLineEdit(vwCrop_);
    txtCropRatio_->setReadOnly(true);
    txtCropRatio_->setGeometry(60, 10, 190, 24);
    btnSelectCropRatio_ = new QPushButton(QStringLiteral("\u25BE"), vwCrop_);
    btnSelectCropRatio_->setGeometry(254, 10, 36, 24);
    btnPortraitOrientation_ = new QPushButton(tr("Portrait"), vwCrop_);
    btnPortraitOrientation_->setGeometry(10, 44, 135, 28);
    btnLandScapeOrientation_ = new QPushButton(tr("Landscape"), vwCrop_);
    btnLandScapeOrientation_->setGeometry(155, 44, 135, 28);
    for (QPushButton* b : {btnPortraitOrientation_, btnLandScapeOrientation_}) b->setCheckable(true);
    static const char* const names[4] = {"X", "Y", "W", "H"};
    for (int i = 0; i < 4; ++i) {
        auto* l = new QLabel(QString::fromLatin1(names[i]), vwCrop_);
        l->setGeometry(10 + (i % 2) * 145, 86 + (i / 2) * 34, 20, 24);
        auto* f = new QSpinBox(vwCrop_);
        f->setRange(0, 100000);
        f->setGeometry(32 + (i % 2) * 145, 86 + (i / 2) * 34, 110, 24);
        cropFields_[size_t(i)] = f;
        connect(f, &QSpinBox::valueChanged, this, [this, i] {
            if (!fillingFields_) cropRectValueChangeWithTextFiled(i);
        });
    }
    theExtentButton_ = new RectButton(vwCrop_);
    theExtentButton_->setGeometry(10, 156, 60, 36);
    theExtentButton_->setPointContainerView(imageContainer_);
    keyboard::showFocusRing(theExtentButton_);  // a picture button
    connect(btnSelectCropRatio_, &QPushButton::clicked, this, &AdjustFilterVC::selectCropRatioTapped);
    connect(btnPortraitOrientation_, &QPushButton::clicked, this, &AdjustFilterVC::btnPortraitTapped);
    connect(btnLandScapeOrientation_, &QPushButton::clicked, this, &AdjustFilterVC::btnLandscapeTapped);
    connect(theExtentButton_, &QPushButton::clicked, this, &AdjustFilterVC::extentButtonChanged);

    removeCustomViews();
}

ValueSlider* AdjustFilterVC::enhanceSlider(int tag) const { return tag >= 0 && tag < 9 ? enhanceSliders_[size_t(tag)] : nullptr; }
QLineEdit* AdjustFilterVC::enhanceField(int tag) const { return tag >= 0 && tag < 9 ? enhanceFields_[size_t(tag)] : nullptr; }
QSpinBox* AdjustFilterVC::cropField(int i) const { return i >= 0 && i < 4 ? cropFields_[size_t(i)] : nullptr; }

// ---- resize ----

void AdjustFilterVC::showResizeFields(int width, int height) {
    txtWidthOnCustomFiltersParamView_->setText(QString::number(width));
    txtHeightOnCustomFiltersParamView_->setText(QString::number(height));
    resizePreviousWidth_ = width;
    resizePreviousHeight_ = height;
}

void AdjustFilterVC::applyResizeOutcome(const ResizeOutcome& o) {
    if (!o.changed) return;
    state_.seleted_DIMENTION_TYPE_RESIZE = o.unit;
    showResizeFields(o.width, o.height);
    for (const auto& w : o.writes) saveFilterParametersWithKey(w.first, w.second);
    lblSelectedDimensionType_->setText(ResizeArithmetic::unitNames().value(o.unit));
}

void AdjustFilterVC::setupViewForResizeFilter(bool takeSaved) {
    placeTopPanel(vwForResizeFilter_, 0);
    state_.arrDimensionsForResize = ResizeArithmetic::unitNames();
    const bool editing = takeSaved && state_.isFor_FILTER_EDIT_MODE;
    const ResizeOutcome o = ResizeArithmetic::setup(
        photoPixelSize(), state_.seleted_DIMENTION_TYPE_RESIZE, editing,
        savedValue(QStringLiteral("isPercentBaseResize")).toBool(), savedInt(savedValue(QStringLiteral("percentWidth"))),
        savedInt(savedValue(QStringLiteral("percentHeight"))), savedInt(savedValue(QStringLiteral("resizedWidth"))),
        savedInt(savedValue(QStringLiteral("resizedHeight"))));
    applyResizeOutcome(o);
    // A step stored before the box was kept reads as stretched to its size.
    const QString keep = QString::fromLatin1(Utils::kMaintainAspectRatioKey);
    const bool keepShape = editing ? savedValue(keep).toBool() : btnMaintainAspectCheckBox_->isChecked();
    btnMaintainAspectCheckBox_->setChecked(keepShape);
    saveFilterParametersWithKey(keep, keepShape);
    showImage();
}

void AdjustFilterVC::resizeFieldChanged(bool widthField) {
    const int w = txtWidthOnCustomFiltersParamView_->text().toInt();
    const int h = txtHeightOnCustomFiltersParamView_->text().toInt();
    const ResizeOutcome o = ResizeArithmetic::fieldChanged(
        photoPixelSize(), state_.seleted_DIMENTION_TYPE_RESIZE, btnMaintainAspectCheckBox_->isChecked(), widthField, w,
        h, widthField ? resizePreviousHeight_ : resizePreviousWidth_);
    if (o.width != w) txtWidthOnCustomFiltersParamView_->setText(QString::number(o.width));
    if (o.height != h) txtHeightOnCustomFiltersParamView_->setText(QString::number(o.height));
    resizePreviousWidth_ = o.width;
    resizePreviousHeight_ = o.height;
    for (const auto& e : o.writes) saveFilterParametersWithKey(e.first, e.second);
    resetTimerToPerformActionLater();
}

void AdjustFilterVC::btnMaintainAspectRatioTapped() {
    saveFilterParametersWithKey(QString::fromLatin1(Utils::kMaintainAspectRatioKey),
                                btnMaintainAspectCheckBox_->isChecked());
    if (btnMaintainAspectCheckBox_->isChecked()) {
        const ResizeOutcome o = ResizeArithmetic::aspectBoxOn(
            photoPixelSize(), state_.seleted_DIMENTION_TYPE_RESIZE,
            txtWidthOnCustomFiltersParamView_->text().toInt(), txtHeightOnCustomFiltersParamView_->text().toInt());
        showResizeFields(o.width, o.height);
    }
    applyResizeFilter();
}

void AdjustFilterVC::applyResizeFilter() {
    if (state_.currentFilterName != QLatin1String("Resize")) return;
    const int w = std::max(1, txtWidthOnCustomFiltersParamView_->text().toInt());
    const int h = std::max(1, txtHeightOnCustomFiltersParamView_->text().toInt());
    const QSizeF photo = photoPixelSize();
    const bool usable = photo.width() >= 1 && photo.height() >= 1;
    if (state_.seleted_DIMENTION_TYPE_RESIZE == 1) {
        saveFilterParametersWithKey(QStringLiteral("percentWidth"), w);
        saveFilterParametersWithKey(QStringLiteral("percentHeight"), h);
        if (usable) {
            saveFilterParametersWithKey(QStringLiteral("resizedWidth"), int(photo.width() * w / 100.0));
            saveFilterParametersWithKey(QStringLiteral("resizedHeight"), int(photo.height() * h / 100.0));
        }
    } else {
        saveFilterParametersWithKey(QStringLiteral("resizedWidth"), w);
        saveFilterParametersWithKey(QStringLiteral("resizedHeight"), h);
        if (usable) {
            saveFilterParametersWithKey(QStringLiteral("percentWidth"), int(w * 100.0 / photo.width()));
            saveFilterParametersWithKey(QStringLiteral("percentHeight"), int(h * 100.0 / photo.height()));
        }
    }
    showImage();
}

// ---- custom enhance ----

void AdjustFilterVC::setupViewForCustomEnhance() {
    placeTopPanel(vWforCustomEnhance_, 30);
    showInfoFilterWarning(false);
    increaseHeightOf_Sliders();
    for (int t = 0; t < 9; ++t) {
        const QString key = QString::fromLatin1(kEnhance[t].key);
        const double value = state_.isFor_FILTER_EDIT_MODE ? savedReal(savedValue(key))
                                                           : FilterCustomization::sharedInstance().getDefaultValueForFilter(
                                                                 state_.currentFilterName, key, kEnhance[t].neutral);
        ValueSlider* s = enhanceSliders_[size_t(t)];
        s->setDoubleValue(value);
        enhanceFields_[size_t(t)]->setText(QString::asprintf("%.2f", value));
        saveFilterParametersWithKey(key, float(s->doubleValue()));
    }
}

void AdjustFilterVC::handleSliderCustomEnhance(int tag, double value) {
    saveFilterParametersWithKey(QStringLiteral("enhanceParamIndex"), tag);
    if (tag < 0 || tag > 8) return;
    enhanceFields_[size_t(tag)]->setText(QString::asprintf("%.2f", value));
    saveFilterParametersWithKey(QString::fromLatin1(kEnhance[tag].key), value);
    showImage();
}

// ---- panels of generated controls ----

void AdjustFilterVC::setupViewForSimpleBorderFilter() {
    state_.sliderControlIndex = state_.colorWellControlIndex = 0;
    const bool edit = state_.isFor_FILTER_EDIT_MODE;
    const float width = edit ? float(savedReal(savedValue(QStringLiteral("borderWidth")))) : 10.0f;
    const float radius = edit ? float(savedReal(savedValue(QStringLiteral("cornerRadius")))) : 10.0f;
    QColor colour(85, 85, 85);
    if (edit) {
        const QColor saved = savedValue(QStringLiteral("borderColor")).value<QColor>();
        if (saved.isValid()) colour = saved;
    }
    addSliderControlWithKey(QStringLiteral("borderWidth"), width);
    addSliderControlWithKey(QStringLiteral("cornerRadius"), radius);
    addColorWellControlWithKey(QStringLiteral("borderColor"), colour);
    saveFilterParametersWithKey(QStringLiteral("borderWidth"), width);
    saveFilterParametersWithKey(QStringLiteral("cornerRadius"), radius);
    saveFilterParametersWithKey(QStringLiteral("borderColor"), colour);
    const PanelPlacement place{kColumnHeight};
    placeApplyArea(place.applyAreaY(state_.TOTAL_SLIDER_USED + state_.TOTAL_COLOR_WELL_USED, 110));
}

void AdjustFilterVC::setupViewForRGBFilter() {
    state_.TOTAL_SLIDER_USED = 0;
    static const char* const keys[4] = {"Red", "Green", "Blue", "Alpha"};
    static const float fresh[4] = {255, 238, 210, 1};
    for (int i = 0; i < 4; ++i) {
        const QString key = QString::fromLatin1(keys[i]);
        const float v = state_.isFor_FILTER_EDIT_MODE ? float(savedReal(savedValue(key))) : fresh[i];
        addSliderControlWithKey(key, v);
        saveFilterParametersWithKey(key, v);
    }
    const PanelPlacement place{kColumnHeight};
    placeApplyArea(place.applyAreaY(state_.TOTAL_SLIDER_USED, 80));
    showImage();
}

void AdjustFilterVC::setupViewForBlackAndWhiteFilter() {
    state_.TOTAL_SLIDER_USED = 0;
    const float v = state_.isFor_FILTER_EDIT_MODE ? float(savedReal(savedValue(QStringLiteral("Intensity")))) : 0.0f;
    addSliderControlWithKey(QStringLiteral("Intensity"), v);
    saveFilterParametersWithKey(QStringLiteral("Intensity"), v);
    const PanelPlacement place{kColumnHeight};
    placeApplyArea(place.applyAreaY(state_.TOTAL_SLIDER_USED, 80));
    showImage();
}

void AdjustFilterVC::setupViewForRotateFilter() {
    state_.TOTAL_SLIDER_USED = 0;
    const bool edit = state_.isFor_FILTER_EDIT_MODE;
    const float angle = edit ? float(savedReal(savedValue(QStringLiteral("angle")))) : 0.0f;
    const bool flipH = edit && savedValue(QStringLiteral("flipHorizontally")).toBool();
    const bool flipV = edit && savedValue(QStringLiteral("flipVertically")).toBool();
    const PanelPlacement place{kColumnHeight};
    const double panelY = place.topPanelY(vwRotate_->height());
    placeInColumn(vwRotate_, QRectF(0, panelY, kColumnWidth, vwRotate_->height()));
    vwRotate_->show();
    // The angle slider sits right below the flips, the apply area below the slider.
    const double genericY = panelY - PanelPlacement::kGenericHeight - 5;
    placeInColumn(viewFilterParametrs_, QRectF(0, genericY, kColumnWidth, PanelPlacement::kGenericHeight));
    addSliderControlWithKey(QStringLiteral("angle"), angle);
    btnFlip_horizonatally_->setChecked(flipH);
    btnFlip_vertically_->setChecked(flipV);
    saveFilterParametersWithKey(QStringLiteral("angle"), angle);
    saveFilterParametersWithKey(QStringLiteral("flipHorizontally"), flipH);
    saveFilterParametersWithKey(QStringLiteral("flipVertically"), flipV);
    placeApplyArea(genericY + place.sliderRowY(0) - PanelPlacement::kApplyHeight - 10);
    showImage();
}

void AdjustFilterVC::btnFlipHorizontallyTapped() {
    saveFilterParametersWithKey(QStringLiteral("flipHorizontally"), btnFlip_horizonatally_->isChecked());
    showImage();
}

void AdjustFilterVC::btnFlipVerticallyTapped() {
    saveFilterParametersWithKey(QStringLiteral("flipVertically"), btnFlip_vertically_->isChecked());
    showImage();
}

// ---- crop ----

std::optional<double> AdjustFilterVC::cropMultiplier() const {
    const int ratio = AppDelegate::shared().selectedCropRatio;
    if (ratio <= 0) return std::nullopt;
    return double(FilterCustomization::sharedInstance().getHeightMultiplierRatioForCropRatio(ratio));
}

void AdjustFilterVC::setCropOrientationButtons(bool portrait) {
    btnPortraitOrientation_->setChecked(portrait);
    btnLandScapeOrientation_->setChecked(!portrait);
}

void AdjustFilterVC::showCropRect(const QRectF& r) {
    fillingFields_ = true;
    const double values[4] = {r.x(), r.y(), r.width(), r.height()};
    for (int i = 0; i < 4; ++i) cropFields_[size_t(i)]->setValue(int(values[i]));
    fillingFields_ = false;
}

void AdjustFilterVC::setupViewForCropFilter(bool takeSaved) {
    setWindowResizable(false);
    placeTopPanel(vwCrop_, 40);
    showInfoFilterWarning(false);
    AppDelegate& app = AppDelegate::shared();
    const QSizeF box = imageContainerSize();
    QRectF rect;
    if (takeSaved && state_.isFor_FILTER_EDIT_MODE) {
        // A stored index outside the ratio table reads as free form.
        app.selectedCropRatio = PopupGeometry::cropRatioIndex(savedInt(savedValue(QStringLiteral("cropRatioIndex"))));
        app.selectedCropOrientation = savedInt(savedValue(QStringLiteral("cropOrinetationIndex"))) != 0 ? 1 : 0;
        const Vec v = savedValue(QStringLiteral("inputRectangle")).value<Vec>();
        rect = QRectF(v.X() * box.width(), v.Y() * box.height(), v.Z() * box.width(), v.W() * box.height());
    } else {
        app.selectedCropRatio = PopupGeometry::cropRatioIndex(app.selectedCropRatio);
        // Centred in the box, so the same in either direction of y.
        rect = FilterCustomization::sharedInstance().getExtendRectForSelectedCropRatio(app.selectedCropRatio,
                                                                                       app.selectedCropOrientation);
    }
    txtCropRatio_->setText(PopupGeometry::cropRatioNames().value(app.selectedCropRatio));
    saveFilterParametersWithKey(QStringLiteral("cropRatioIndex"), app.selectedCropRatio);
    saveFilterParametersWithKey(QStringLiteral("cropOrinetationIndex"), app.selectedCropOrientation);
    setCropOrientationButtons(app.selectedCropOrientation != 0);
    saveFilterParametersWithKey(QStringLiteral("inputRectangle"),
                                QVariant::fromValue(Vec(rect.x(), rect.y(), rect.width(), rect.height())));
    showCropRect(rect);
    theExtentButton_->setIsForCustomFilter(state_.currentFilterName == QLatin1String("CICrop"));
    theExtentButton_->setPointContainerView(imageContainer_);
    theExtentButton_->setTheExtentRect(rect);
    theExtentButton_->setTheKey(QStringLiteral("inputRectangle"));
    theExtentButton_->setTheRectChangedBlock([this](const QRectF& r, const QString& key) {
        saveFilterParametersWithKey(key, QVariant::fromValue(Vec(r.x(), r.y(), r.width(), r.height())));
        showImage();
        showCropRect(r);
    });
    theExtentButton_->hide();
    theExtentButton_->setState(1);
    ++state_.TOTAL_RECT_BUTTONS_USED;
}

void AdjustFilterVC::btnPortraitTapped() {
    AppDelegate& app = AppDelegate::shared();
    if (app.selectedCropOrientation != 0) {
        setCropOrientationButtons(true);
        return;
    }
    setCropOrientationButtons(true);
    app.selectedCropOrientation = 1;
    saveFilterParametersWithKey(QStringLiteral("cropOrinetationIndex"), 1);
    setupViewForCropFilter(false);
    showImage();
}

void AdjustFilterVC::btnLandscapeTapped() {
    AppDelegate& app = AppDelegate::shared();
    if (app.selectedCropOrientation != 1) {
        setCropOrientationButtons(false);
        return;
    }
    setCropOrientationButtons(false);
    app.selectedCropOrientation = 0;
    saveFilterParametersWithKey(QStringLiteral("cropOrinetationIndex"), 0);
    setupViewForCropFilter(false);
    showImage();
}

void AdjustFilterVC::cropRectValueChangeWithTextFiled(int field) {
    if (field < 0 || field > 3) return;
    const QRectF current = theExtentButton_->theExtentRect();
    const QRectF r = cropRectFromField(current, field, cropFields_[size_t(field)]->value(), cropMultiplier(),
                                       imageContainerSize());
    // The other fields follow (the ratio, the container's edges); the field being typed in
    // keeps what was typed until the edit ends.
    fillingFields_ = true;
    const double values[4] = {r.x(), r.y(), r.width(), r.height()};
    for (int i = 0; i < 4; ++i)
        if (i != field) cropFields_[size_t(i)]->setValue(int(values[i]));
    fillingFields_ = false;
    pendingCropRect_ = r;
    resetTimerToPerformActionLater();
}

void AdjustFilterVC::changeExtendRectOnTextChange() {
    const QRectF r = pendingCropRect_.isValid() ? pendingCropRect_ : theExtentButton_->theExtentRect();
    pendingCropRect_ = QRectF();
    theExtentButton_->setTheExtentRect(r);
    saveFilterParametersWithKey(QStringLiteral("inputRectangle"), QVariant::fromValue(Vec(r.x(), r.y(), r.width(), r.height())));
    showImage();
}
