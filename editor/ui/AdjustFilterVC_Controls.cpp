// The effects screen's generic controls: six slider rows, two colour wells and four point
// buttons, bound to an effect's keys and turned back into working-list values.
#include "editor/ui/AdjustFilterVC.h"

#include <QColorDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>

#include "editor/EffectNameSets.h"
#include "editor/PanelPlacement.h"
#include "editor/ui/PointHandles.h"
#include "editor/ui/ValueSlider.h"
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"
#include "records/ParameterList.h"
#include "records/PhotoFile.h"
#include "ui/KeyboardHelpers.h"

using platform::Vec;

namespace {

QString twoDecimals(double v) { return QString::asprintf("%.2f", v); }

// The last filter effect set up, kept in the defaults ("Brightness" by that name, not by the
// filter behind it); written only when it changes, so choosing effects does not rewrite the
// settings file each time.
void rememberFilterName(const QString& effectName) {
    const QString key = QStringLiteral("DefaultFilterName");
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (defaults.stringForKey(key) == effectName) return;
    defaults.setObject(effectName, key);
    defaults.synchronize();
}

void showColour(QPushButton* well, const QColor& c) {
    well->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #888;").arg(c.name(QColor::HexArgb)));
}

}  // namespace

void AdjustFilterVC::buildGenericControls() {
    const double genericHeight = PanelPlacement::kGenericHeight;
    const PanelPlacement place{kColumnHeight};
    for (int i = 0; i < 6; ++i) {
        SliderRow& r = sliderRows_[size_t(i)];
        r.row = new QWidget(viewFilterParametrs_);
        r.row->setGeometry(platform::toQtRect(QRectF(0, place.sliderRowY(i), kColumnWidth, PanelPlacement::kRowHeight),
                                              genericHeight)
                               .toRect());
        r.name = new QLabel(r.row);
        r.name->setGeometry(10, 2, 180, 18);
        r.field = new QLineEdit(r.row);
        r.field->setGeometry(200, 0, 80, 22);
        r.minimum = new QLabel(r.row);
        r.minimum->setGeometry(0, 26, 50, 18);
        r.minimum->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        r.slider = new ValueSlider(r.row);
        r.slider->setGeometry(54, 24, 180, 22);
        r.maximum = new QLabel(r.row);
        r.maximum->setGeometry(238, 26, 60, 18);
        QFont small = r.minimum->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        r.minimum->setFont(small);
        r.maximum->setFont(small);
        r.row->hide();
        connect(r.slider, &ValueSlider::doubleValueMoved, this, [this, i](double v) { handleSlider(i, v); });
        connect(r.field, &QLineEdit::editingFinished, this, [this, i] { commitValueField(i); });
    }
    viewBGForColorPickers_ = new QWidget(paramsColumn_);
    viewBGForColorPickers_->setObjectName(QStringLiteral("viewBGForColorPickers"));
    viewBGForColorPickers_->resize(kColumnWidth, int(2 * PanelPlacement::kWellHeight));
    for (int i = 0; i < 2; ++i) {
        WellSlot& w = wells_[size_t(i)];
        const QRect area = platform::toQtRect(QRectF(0, 2 * PanelPlacement::kWellHeight - (i + 1) * PanelPlacement::kWellHeight,
                                                     kColumnWidth, PanelPlacement::kWellHeight),
                                              2 * PanelPlacement::kWellHeight)
                               .toRect();
        w.label = new QLabel(viewBGForColorPickers_);
        w.label->setGeometry(area.x() + 10, area.y() + 20, 140, 20);
        w.well = new QPushButton(viewBGForColorPickers_);
        w.well->setGeometry(area.x() + 160, area.y() + 15, 60, 30);
        w.companion = new QWidget(viewBGForColorPickers_);
        w.companion->setGeometry(area.x() + 230, area.y() + 15, 50, 30);
        keyboard::showFocusRing(w.well);  // a well is all colour: its own look cannot show it
        connect(w.well, &QPushButton::clicked, this, [this, i] { openColourWell(i); });
    }
    viewBGForRectButtons_ = new QWidget(paramsColumn_);
    viewBGForRectButtons_->setObjectName(QStringLiteral("viewBGForRectButtons"));
    viewBGForRectButtons_->resize(kColumnWidth, 92);
    for (int i = 0; i < 4; ++i) {
        auto* b = new PointHandleButton(viewBGForRectButtons_);
        b->setGeometry(10 + (i % 2) * 145, 4 + (i / 2) * 46, 135, 42);
        b->setPointContainerView(imageContainer_);
        keyboard::showFocusRing(b);  // a picture button
        connect(b, &QPushButton::clicked, this, [this, b] { pointButtonChanged(b); });
        pointButtons_[size_t(i)] = b;
    }
    lblDragPosionBtn_ = new QLabel(tr("Drag the point on the photo to move it"), paramsColumn_);
    lblDragPosionBtn_->setWordWrap(true);
    placeInColumn(lblDragPosionBtn_, QRectF(10, 4, kColumnWidth - 20, 36));
}

QWidget* AdjustFilterVC::viewWithTag(int tag) const {
    if (tag >= 100 && tag <= 105) return sliderRows_[size_t(tag - 100)].row;
    if (tag >= 10 && tag <= 15) return sliderRows_[size_t(tag - 10)].name;
    if (tag >= 20 && tag <= 25) return sliderRows_[size_t(tag - 20)].field;
    if (tag >= 30 && tag <= 35) return sliderRows_[size_t(tag - 30)].minimum;
    if (tag >= 40 && tag <= 45) return sliderRows_[size_t(tag - 40)].slider;
    if (tag >= 50 && tag <= 55) return sliderRows_[size_t(tag - 50)].maximum;
    if (tag == 1000 || tag == 1001) return wells_[size_t(tag - 1000)].label;
    if (tag == 2000 || tag == 2001) return wells_[size_t(tag - 2000)].well;
    if (tag == 200 || tag == 201) return wells_[size_t(tag - 200)].companion;
    if (tag >= 300 && tag <= 303) return pointButtons_[size_t(tag - 300)];
    return nullptr;
}

ValueSlider* AdjustFilterVC::slider(int slot) const { return slot >= 0 && slot < 6 ? sliderRows_[size_t(slot)].slider : nullptr; }
QLineEdit* AdjustFilterVC::valueField(int slot) const { return slot >= 0 && slot < 6 ? sliderRows_[size_t(slot)].field : nullptr; }
QPushButton* AdjustFilterVC::colourWell(int slot) const { return slot >= 0 && slot < 2 ? wells_[size_t(slot)].well : nullptr; }
QColor AdjustFilterVC::colourWellColour(int slot) const { return slot >= 0 && slot < 2 ? wells_[size_t(slot)].colour : QColor(); }
PointHandleButton* AdjustFilterVC::pointButton(int slot) const {
    return slot >= 0 && slot < 4 ? pointButtons_[size_t(slot)] : nullptr;
}

QVariant AdjustFilterVC::savedValue(const QString& key) const {
    return ParameterList::valueForKey(state_.editedStepParameters, key);
}

QSizeF AdjustFilterVC::photoPixelSize() const {
    if (state_.previewPhotoPath.isEmpty()) return QSizeF(imageToEdit_.size());
    const QSizeF read = Utils::sharedUtils().getImageOriginalSizeAtFilePathUrl(state_.previewPhotoPath);
    if (!read.isEmpty()) return read;
    // The file tells no size now (another program may be writing it again): the size the
    // batch read of it, rather than a resize to nothing.
    const auto photo = AppDelegate::shared().selectedImageFile;
    if (photo && photo->filePath == state_.previewPhotoPath && photo->width > 0 && photo->height > 0)
        return QSizeF(photo->width, photo->height);
    return read;
}

PlanInput AdjustFilterVC::planInput() const {
    PlanInput in;
    in.effectName = state_.currentFilterName;
    in.previewSize = imageContainerSize();
    in.editing = state_.isFor_FILTER_EDIT_MODE;
    in.savedStep = state_.editedStepParameters;
    return in;
}

// ---- binding ----

void AdjustFilterVC::setupCoreImageControls() {
    const PlanInput input = planInput();
    currentFilter_ = CIFilter::filterWithName(SlotPlanner::coreImageFilterName(input.effectName));
    if (!currentFilter_) {
        platform::log(u"no effect named %@", input.effectName);
        return;
    }
    rememberFilterName(input.effectName);
    currentFilter_->setDefaults();
    const PanelPlan plan = SlotPlanner::planCoreImage(input);
    lblFilterName_->setText(plan.title);
    for (const auto& w : plan.writes) {
        currentFilter_->setValue(w.second, w.first);
        saveFilterParametersWithKey(w.first, w.second);
    }
    for (const ColourWellPlan& w : plan.wells) {
        const int i = state_.colorWellControlIndex++;
        ++state_.TOTAL_COLOR_WELL_USED;
        if (i > 1) {
            platform::log(u"Too many color wells!");
            continue;
        }
        state_.colorWellKeys[size_t(i)] = w.key;
        wells_[size_t(i)].colour = w.colour;
        showColour(wells_[size_t(i)].well, w.colour);
        wells_[size_t(i)].label->setText(w.label);
        wells_[size_t(i)].well->show();
        wells_[size_t(i)].label->show();
        viewBGForColorPickers_->show();
    }
    showAnimationControls(plan.hasTime);
    hideAddPhotoButtonSetHidden(!plan.usesSecondImage);
    // The second picture is the fixed sample; the label says so rather than "none".
    if (plan.usesSecondImage) lblBGImgUrl_->setText(tr("Second picture: the sample picture"));
    for (const SliderPlan& s : plan.sliders) bindSlider(s);
    for (const PointPlan& p : plan.points) addPointButtonWithKey(p.key, p.point, p.label);
    theExtentButton_->hide();
    const PanelPlacement place{kColumnHeight};
    placeApplyArea(place.applyAreaY(state_.TOTAL_SLIDER_USED + state_.TOTAL_COLOR_WELL_USED +
                                        state_.TOTAL_RECT_BUTTONS_USED,
                                    110));
}

void AdjustFilterVC::addSliderControlWithKey(const QString& key, float value) {
    SliderPlan s;
    s.key = key;
    if (!key.isEmpty() && currentFilter_ && !effectsets::ownSliderEffects().contains(state_.currentFilterName) &&
        !currentFilter_->attributes().contains(key)) {
        platform::log(u"can't find attribute");
        s.key.clear();  // the row stays hidden
    } else if (!key.isEmpty()) {
        s = SlotPlanner::sliderFor(planInput(), key, double(value), {});
    }
    bindSlider(s);
}

void AdjustFilterVC::bindSlider(const SliderPlan& s) {
    const int i = state_.sliderControlIndex++;
    ++state_.TOTAL_SLIDER_USED;
    if (i >= int(sliderRows_.size())) {
        platform::log(u"Too many sliders!");
        return;
    }
    state_.sliderKeys[size_t(i)] = s.key;
    SliderRow& r = sliderRows_[size_t(i)];
    if (s.key.isEmpty()) {
        r.row->hide();
        return;
    }
    r.row->show();
    r.slider->setRange(s.minimum, s.maximum);
    r.slider->setDoubleValue(s.value);
    r.name->setText(s.label);
    r.minimum->setText(twoDecimals(s.minimum));
    r.maximum->setText(twoDecimals(s.maximum));
    r.field->setText(twoDecimals(s.value));
}

void AdjustFilterVC::addColorWellControlWithKey(const QString& key, const QColor& customColour) {
    const int i = state_.colorWellControlIndex++;
    ++state_.TOTAL_COLOR_WELL_USED;
    if (i > 1) {
        platform::log(u"Too many color wells!");
        return;
    }
    state_.colorWellKeys[size_t(i)] = key;
    WellSlot& w = wells_[size_t(i)];
    if (key.isEmpty()) {
        w.well->hide();
        return;
    }
    w.colour = customColour.isValid() ? customColour : QColor(Qt::black);
    showColour(w.well, w.colour);
    w.label->setText(SlotPlanner::colourWellLabel(key));
    w.well->show();
    w.label->show();
    viewBGForColorPickers_->show();
}

void AdjustFilterVC::addPointButtonWithKey(const QString& key, QPointF start, const QString& title) {
    const int i = state_.pointButtonIndex++;
    ++state_.TOTAL_RECT_BUTTONS_USED;
    if (i >= 4) return;
    state_.pointButtonKeys[size_t(i)] = key;
    PointHandleButton* b = pointButtons_[size_t(i)];
    b->setButtonTitle(title.isEmpty() ? key : title);
    if (key.isEmpty()) {
        b->hide();
        return;
    }
    state_.pointCenterBeforeResize = start;
    b->setPointContainerView(imageContainer_);
    b->setPointCenter(start);
    b->show();
    b->setEnabled(true);
    b->setPointKey(key);
    b->setState(1);
    lblDragPosionBtn_->show();
    viewBGForRectButtons_->show();
    b->setThePointChangedBlock([this](QPointF point, const QString& k) {
        if (currentFilter_) currentFilter_->setValue(QVariant::fromValue(Vec(point.x(), point.y())), k);
        state_.pointCenterBeforeResize = point;
        saveFilterParametersWithKey(k, QVariant::fromValue(Vec(point.x(), point.y())));
        showImage();
    });
}

void AdjustFilterVC::clearControls() {
    state_.sliderControlIndex = state_.colorWellControlIndex = state_.pointButtonIndex = 0;
    if (theExtentButton_) {
        theExtentButton_->setState(0);
        theExtentButton_->hide();
        theExtentButton_->setTheRectChangedBlock(nullptr);
    }
    lblDragPosionBtn_->hide();
    for (SliderRow& r : sliderRows_) r.row->hide();
    state_.sliderKeys.fill(QString());
    for (WellSlot& w : wells_) {
        w.label->hide();
        w.well->hide();
        w.companion->hide();
    }
    viewBGForColorPickers_->hide();
    state_.colorWellKeys.fill(QString());
    for (PointHandleButton* b : pointButtons_) {
        b->hide();
        b->setState(0);
        b->setThePointChangedBlock(nullptr);
    }
    state_.pointButtonKeys.fill(QString());
    viewBGForRectButtons_->hide();
    removeCustomViews();
    hideAddPhotoButtonSetHidden(true);
    showAnimationControls(false);
    lblBGImgUrl_->setText(QStringLiteral("No image selected"));
    vwAddEffect_->show();
    hideResetButtonSetHidden(true);
    showInfoFilterWarning(true);
    setWindowResizable(true);
    state_.isFAV_SELECTED = false;
    zoomAllowed_ = true;
    if (colourDialog_) colourDialog_->hide();
    colourDialogSlot_ = -1;
    dismissPanel();
    currentFilter_.reset();
    if (overlayHost_) overlayHost_->clearOverlayControls();
}

// ---- handlers ----

void AdjustFilterVC::handleSlider(int slot, double value) {
    if (slot < 0 || slot > 5) return;
    const float v = float(value);
    sliderRows_[size_t(slot)].field->setText(twoDecimals(v));
    changeValue(v, slot);
}

void AdjustFilterVC::changeValue(double v, int slot) {
    if (slot < 0 || slot > 5) return;
    const QString& name = state_.currentFilterName;
    const QString key = state_.sliderKeys[size_t(slot)];
    if (!effectsets::ownSliderEffects().contains(name)) {
        if (key.isEmpty()) return;
        if (currentFilter_) currentFilter_->setValue(v, key);
        saveFilterParametersWithKey(key, v);
        showImage();
        return;
    }
    changeValueForCustomFiltersSlidersNewValue(v, slot);
}

void AdjustFilterVC::commitValueField(int slot) {
    if (slot < 0 || slot > 5 || state_.sliderKeys[size_t(slot)].isEmpty()) return;
    SliderRow& r = sliderRows_[size_t(slot)];
    bool ok = false;
    const double typed = r.field->text().trimmed().toDouble(&ok);  // C locale: "0.5", never "0,5"
    if (!ok || !std::isfinite(typed)) {
        r.field->setText(twoDecimals(r.slider->doubleValue()));
        return;
    }
    // A typed value outside the slider's range is held to it, like a dragged one.
    r.slider->setDoubleValue(typed);
    const double v = r.slider->doubleValue();
    r.field->setText(twoDecimals(v));
    changeValue(v, slot);
}

void AdjustFilterVC::openColourWell(int slot) {
    if (slot < 0 || slot > 1) return;
    if (!colourDialog_) {
        colourDialog_ = new QColorDialog(this);
        colourDialog_->setOption(QColorDialog::ShowAlphaChannel);
        colourDialog_->setOption(QColorDialog::NoButtons);
        connect(colourDialog_, &QColorDialog::currentColorChanged, this, [this](const QColor& c) {
            if (colourDialogSlot_ >= 0) colorPickerColorWellChanged(colourDialogSlot_, c);
        });
    }
    colourDialogSlot_ = -1;  // setting the start colour is not a pick
    colourDialog_->setCurrentColor(wells_[size_t(slot)].colour);
    colourDialogSlot_ = slot;
    // A colour panel beside the screen: the preview stays usable while it is open.
    colourDialog_->setModal(false);
    colourDialog_->show();
    colourDialog_->raise();
}

void AdjustFilterVC::colorPickerColorWellChanged(int slot, const QColor& c) {
    if (slot < 0 || slot > 1 || !c.isValid()) return;
    const QString& name = state_.currentFilterName;
    QString key = state_.colorWellKeys[size_t(slot)];
    if (name == QLatin1String("Add Border")) key = QStringLiteral("borderColor");
    else if (name == QLatin1String("Add Text") || name == QLatin1String("Add Watermark") ||
             name == QLatin1String("Add Date"))
        key = QStringLiteral("textColor");
    wells_[size_t(slot)].colour = c;
    showColour(wells_[size_t(slot)].well, c);
    if (name == QLatin1String("RGB Adjust")) {
        changeSlidersValueForRGBfilterWithColor(c);
        saveFilterParametersWithKey(QStringLiteral("inputColor"), c);
        showImage();
        return;
    }
    if (key.isEmpty()) return;
    if (currentFilter_) {
        const QVariant current = currentFilter_->valueForKey(key);
        if (current.canConvert<QColor>() && current.value<QColor>() == c) return;
        currentFilter_->setValue(c, key);
    }
    saveFilterParametersWithKey(key, c);
    showImage();
}

void AdjustFilterVC::changeSlidersValueForRGBfilterWithColor(const QColor& c) {
    const double values[4] = {c.redF() * 255.0, c.greenF() * 255.0, c.blueF() * 255.0, c.alphaF()};
    for (int i = 0; i < 4; ++i) {
        sliderRows_[size_t(i)].slider->setDoubleValue(values[i]);
        sliderRows_[size_t(i)].field->setText(twoDecimals(sliderRows_[size_t(i)].slider->doubleValue()));
    }
}
