// The overlay effects' panels: frames and textures with their picture table, sticker sets
// with their grid, picture overlays (logo, custom picture, stickers) with the picture box,
// and the text, watermark and date panels with the text box.
#include "editor/ui/EffectsScreenController.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QFileInfo>
#include <QThreadPool>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "editor/EffectTables.h"
#include "editor/OverlayPanels.h"
#include "editor/PanelPlacement.h"
#include "editor/PopupGeometry.h"
#include "editor/WorkingParameterList.h"
#include "editor/ui/EffectDelegates.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectLists.h"
#include "editor/ui/ImageOverlayView.h"
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"
#include "records/CustomPicture.h"
#include "records/ParameterList.h"
#include "records/FilterRecord.h"
#include "ui/AttachedWindow.h"
#include "ui/KeyboardHelpers.h"
#include "ui/OnlyIntegerValueFormatter.h"

namespace {

bool isTextEffect(const QString& name) {
    return name == QLatin1String("Add Text") || name == QLatin1String("Add Watermark") ||
           name == QLatin1String("Add Date");
}

bool isImageOverlay(const QString& name) {
    return name == QLatin1String("Add Logo") || name == QLatin1String("Add Custom Image") ||
           EffectTables::isStickerSet(name);
}

QVariant rectValue(const QRectF& r) { return QVariant::fromValue(platform::Vec(r.x(), r.y(), r.width(), r.height())); }

QRectF rectOf(const QVariant& v, const QRectF& fallback) {
    if (!v.canConvert<platform::Vec>()) return fallback;
    const platform::Vec vec = v.value<platform::Vec>();
    return vec.isRect() ? QRectF(vec.X(), vec.Y(), vec.Z(), vec.W()) : fallback;
}

QLabel* whiteLabel(const QString& text, QWidget* parent, const QString& name = {}) {
    auto* l = new QLabel(text, parent);
    if (!name.isEmpty()) l->setObjectName(name);
    return l;
}

}  // namespace

void EffectsScreenController::placePanel(QWidget* panel, double yUp, double height) {
    panel->setGeometry(platform::toQtRect(QRectF(0, yUp, AdjustFilterVC::kColumnWidth, height),
                                          AdjustFilterVC::kColumnHeight)
                           .toRect());
    panel->show();
    panel->raise();
}

QVariant EffectsScreenController::editedValue(const QString& key) const {
    const auto& state = vc_->state();
    const QVariantList points = WorkingParameterList::inContainerPoints(state.currentFilterName,
                                                                        vc_->imageContainerSize(),
                                                                        state.editedStepParameters);
    return ParameterList::valueForKey(points, key);
}

void EffectsScreenController::buildOverlayPanels() {
    QWidget* column = vc_->parametersColumn();

    vwTextureEffect_ = new QWidget(column);
    vwTextureEffect_->setObjectName(QStringLiteral("vwTextureEffect"));
    auto* tl = new QVBoxLayout(vwTextureEffect_);
    tblTextures_ = new QListView(vwTextureEffect_);
    tblTextures_->setObjectName(QStringLiteral("tbl_textureEffects"));
    tblTextures_->setStyleSheet(effectListStyle());
    texturesModel_ = new SimpleRowsModel(this);
    tblTextures_->setModel(texturesModel_);
    tblTextures_->setItemDelegate(new PictureDelegate(tblTextures_));
    connect(tblTextures_, &QListView::clicked, this, [this](const QModelIndex& i) { textureRowChosen(i.row()); });
    tl->addWidget(tblTextures_, 1);
    tl->addWidget(whiteLabel(tr("Intensity"), vwTextureEffect_));
    sliderIntensity_ = new QSlider(Qt::Horizontal, vwTextureEffect_);
    sliderIntensity_->setObjectName(QStringLiteral("sliderEffectIntensity"));
    sliderIntensity_->setRange(0, 100);
    keyboard::showFocusRing(sliderIntensity_);
    // Every change counts (a drag's end, the keys, a click in the groove); a drag is drawn
    // when it ends.
    connect(sliderIntensity_, &QSlider::valueChanged, this, [this] {
        if (!settingUp_ && !sliderIntensity_->isSliderDown())
            slideEffectIntensityOnTextureCellValueChanged(selectedTextureEffectIndex_);
    });
    connect(sliderIntensity_, &QSlider::sliderReleased, this,
            [this] { slideEffectIntensityOnTextureCellValueChanged(selectedTextureEffectIndex_); });
    tl->addWidget(sliderIntensity_);

    vwStickers_ = new QWidget(column);
    vwStickers_->setObjectName(QStringLiteral("vwStickers"));
    auto* sl = new QVBoxLayout(vwStickers_);
    tblStickers_ = new QListView(vwStickers_);
    tblStickers_->setObjectName(QStringLiteral("stickerGrid"));
    tblStickers_->setViewMode(QListView::IconMode);
    tblStickers_->setGridSize(QSize(64, 64));
    tblStickers_->setResizeMode(QListView::Adjust);
    tblStickers_->setMovement(QListView::Static);
    tblStickers_->setStyleSheet(effectListStyle());
    stickersModel_ = new SimpleRowsModel(this);
    tblStickers_->setModel(stickersModel_);
    tblStickers_->setItemDelegate(new PictureDelegate(tblStickers_));
    connect(tblStickers_, &QListView::clicked, this, [this](const QModelIndex& i) { stickerChosen(i.row()); });
    sl->addWidget(tblStickers_);

    vwImageOverlay_ = new QWidget(column);
    vwImageOverlay_->setObjectName(QStringLiteral("vWBackGroundImage"));
    auto* il = new QGridLayout(vwImageOverlay_);
    btnChooseImage_ = new QPushButton(tr("Choose Picture…"), vwImageOverlay_);
    btnChooseImage_->setObjectName(QStringLiteral("btnAddPhoto"));
    connect(btnChooseImage_, &QPushButton::clicked, this, &EffectsScreenController::btnChooseCustomImageTapped);
    il->addWidget(btnChooseImage_, 0, 0, 1, 2);
    il->addWidget(whiteLabel(tr("Opacity"), vwImageOverlay_), 1, 0);
    lblSlickerOpacity_ = whiteLabel(QString(), vwImageOverlay_, QStringLiteral("lblSlickerOpacity"));
    il->addWidget(lblSlickerOpacity_, 1, 1);
    sliderOpacity_ = new QSlider(Qt::Horizontal, vwImageOverlay_);
    sliderOpacity_->setObjectName(QStringLiteral("sliderOpacityForStickers"));
    sliderOpacity_->setRange(0, 100);
    keyboard::showFocusRing(sliderOpacity_);
    connect(sliderOpacity_, &QSlider::valueChanged, this, [this](int v) {
        if (settingUp_) return;
        const double opacity = v / 100.0;
        lblSlickerOpacity_->setText(QString::asprintf("%.02f", opacity));
        imageView_->setOpacityValue(opacity);
        vc_->saveFilterParametersWithKey(QStringLiteral("Opacity"), opacity);
        vc_->resetTimerToPerformActionLater();
    });
    il->addWidget(sliderOpacity_, 2, 0, 1, 2);
    btnOverlayFlipH_ = new QPushButton(tr("Flip H"), vwImageOverlay_);
    btnOverlayFlipV_ = new QPushButton(tr("Flip V"), vwImageOverlay_);
    btnOverlayFlipH_->setObjectName(QStringLiteral("btnFlip_horizonatally"));
    btnOverlayFlipV_->setObjectName(QStringLiteral("btnFlip_vertically"));
    for (QPushButton* b : {btnOverlayFlipH_, btnOverlayFlipV_}) b->setCheckable(true);
    // Only a user's press writes: set-up sets the buttons without clicks.
    connect(btnOverlayFlipH_, &QPushButton::clicked, this, [this](bool on) { btnOverlayFlipTapped(true, on); });
    connect(btnOverlayFlipV_, &QPushButton::clicked, this, [this](bool on) { btnOverlayFlipTapped(false, on); });
    il->addWidget(btnOverlayFlipH_, 3, 0);
    il->addWidget(btnOverlayFlipV_, 3, 1);

    for (QWidget* w : {vwTextureEffect_, vwStickers_, vwImageOverlay_}) w->hide();
}

void EffectsScreenController::buildTextPanel() {
    viewWaterMark_ = new QWidget(vc_->parametersColumn());
    viewWaterMark_->setObjectName(QStringLiteral("viewWaterMark"));
    auto* grid = new QGridLayout(viewWaterMark_);
    grid->addWidget(whiteLabel(tr("Font Size"), viewWaterMark_), 0, 0);
    txtFontsize_ = new QLineEdit(viewWaterMark_);
    txtFontsize_->setObjectName(QStringLiteral("txtFontsize"));
    auto* formatter = new OnlyIntegerValueFormatter(txtFontsize_);
    formatter->setMaximumValue(250);
    txtFontsize_->setValidator(formatter);
    connect(txtFontsize_, &QLineEdit::textEdited, this, &EffectsScreenController::fontSizeTyped);
    connect(txtFontsize_, &QLineEdit::editingFinished, this, &EffectsScreenController::fontSizeEditingEnded);
    grid->addWidget(txtFontsize_, 0, 1);
    grid->addWidget(whiteLabel(tr("Font"), viewWaterMark_), 1, 0);
    lblSelectedFontName_ = whiteLabel(QString(), viewWaterMark_, QStringLiteral("lblSelectedFontName"));
    // The lists open from small buttons, so the chosen names have the room.
    auto* fontButton = new QPushButton(QStringLiteral("▾"), viewWaterMark_);
    fontButton->setFixedWidth(28);
    fontButton->setToolTip(tr("Choose the font"));
    connect(fontButton, &QPushButton::clicked, this, &EffectsScreenController::selectFontTapped);
    grid->addWidget(lblSelectedFontName_, 1, 1);
    grid->addWidget(fontButton, 1, 2);

    auto* align = new QHBoxLayout;
    btnLeftAlign_ = new QPushButton(tr("Left"), viewWaterMark_);
    btnCenterAlign_ = new QPushButton(tr("Centre"), viewWaterMark_);
    btnRightAlign_ = new QPushButton(tr("Right"), viewWaterMark_);
    btnLeftAlign_->setObjectName(QStringLiteral("btnLeftAlign"));
    btnCenterAlign_->setObjectName(QStringLiteral("btnCenterAlign"));
    btnRightAlign_->setObjectName(QStringLiteral("btnRightAlgin"));
    connect(btnLeftAlign_, &QPushButton::clicked, this, &EffectsScreenController::btnLeftAlignTextWatermarkTapped);
    connect(btnCenterAlign_, &QPushButton::clicked, this, &EffectsScreenController::btnCenterAlignTextWatermarkTapped);
    connect(btnRightAlign_, &QPushButton::clicked, this, &EffectsScreenController::btnRightAlignTextWatermarkTapped);
    btnTextFlipH_ = new QPushButton(tr("Flip H"), viewWaterMark_);
    btnTextFlipV_ = new QPushButton(tr("Flip V"), viewWaterMark_);
    btnTextFlipH_->setObjectName(QStringLiteral("btnFlip_horizonatally"));
    btnTextFlipV_->setObjectName(QStringLiteral("btnFlip_vertically"));
    for (QPushButton* b : {btnLeftAlign_, btnCenterAlign_, btnRightAlign_, btnTextFlipH_, btnTextFlipV_}) {
        b->setCheckable(true);
        align->addWidget(b);
    }
    connect(btnTextFlipH_, &QPushButton::toggled, this, &EffectsScreenController::btnHorizontalFlipTextWatermarkTapped);
    connect(btnTextFlipV_, &QPushButton::toggled, this, &EffectsScreenController::btnVerticalFlipTextWatermarkTapped);
    grid->addLayout(align, 2, 0, 1, 3);

    vwAddDateParam_ = new QWidget(viewWaterMark_);
    vwAddDateParam_->setObjectName(QStringLiteral("vwAddDateParam"));
    auto* dates = new QGridLayout(vwAddDateParam_);
    const struct { QLabel** label; const char* title; void (EffectsScreenController::*tapped)(); const char* name; } rows[] = {
        {&lblSelectedDateTime_, "Date", &EffectsScreenController::selectDateOptionsTapped, "lblSelectedDateTime"},
        {&lblSelectedDateFormat_, "Date Format", &EffectsScreenController::selectDateFormatTapped, "lblSelectedDateFormat"},
        {&lblSelectedTimeFormat_, "Time Format", &EffectsScreenController::selectTimeFormatTapped, "lblSelectedTimeFormat"},
    };
    int r = 0;
    for (const auto& row : rows) {
        dates->addWidget(whiteLabel(tr(row.title), vwAddDateParam_), r, 0);
        *row.label = whiteLabel(QString(), vwAddDateParam_, QString::fromLatin1(row.name));
        dates->addWidget(*row.label, r, 1);
        auto* b = new QPushButton(QStringLiteral("▾"), vwAddDateParam_);
        b->setFixedWidth(28);
        b->setToolTip(tr("Choose from the list"));
        connect(b, &QPushButton::clicked, this, row.tapped);
        dates->addWidget(b, r, 2);
        ++r;
    }
    dates->setColumnStretch(1, 1);
    grid->setColumnStretch(1, 1);
    grid->addWidget(vwAddDateParam_, 3, 0, 1, 3);
    viewWaterMark_->hide();
}

QPushButton* EffectsScreenController::alignButton(int alignment) const {
    switch (alignment) {
    case 0: return btnLeftAlign_;
    case 1: return btnRightAlign_;
    case 2: return btnCenterAlign_;
    default: return nullptr;
    }
}

void EffectsScreenController::hideOverlayViews() {
    textView_->disableTextEvents();
    textView_->hide();
    imageView_->hide();
}

void EffectsScreenController::clearOverlayControls() {
    for (QWidget* w : {vwTextureEffect_, vwStickers_, vwImageOverlay_, viewWaterMark_}) w->hide();
    hideOverlayViews();
    removeStickerParamPopupWindow();
    overlayName_.clear();
}

bool EffectsScreenController::setupViewForOverlayFilter(const QString& name, bool editing) {
    settingUp_ = true;
    bool handled = true;
    overlayName_ = name;
    if (EffectTables::isFrameEffect(name)) {
        setupViewForFramesFilters(name, editing);
    } else if (EffectTables::isTextureEffect(name)) {
        setupViewForTextureFilters(name, editing);
    } else if (EffectTables::isStickerSet(name)) {
        setupViewForStickerFilter(name, editing);
    } else if (isImageOverlay(name)) {
        setupViewForAddLogoFilter(name, editing);
    } else if (isTextEffect(name)) {
        setupViewForAddCommentFilter(name, editing);
    } else {
        handled = false;
        overlayName_.clear();
    }
    settingUp_ = false;
    return handled;
}

bool EffectsScreenController::setupTextureOrFrame(const QString& name, bool editing) {
    const bool frame = EffectTables::isFrameEffect(name);
    const QString display = vc_->state().currentFilterDisplayName.isEmpty() ? name : vc_->state().currentFilterDisplayName;
    const QStringList images = frame ? OverlayPanels::frameImages(display) : OverlayPanels::textureImages(display);
    // A name without pictures keeps the previous list.
    if (!images.isEmpty()) textureList_ = images;
    QList<QVariantMap> rows;
    for (const QString& image : textureList_) rows << QVariantMap{{"name", image}, {"height", 170}};
    texturesModel_->setRows(rows);
    selectedTextureEffectIndex_ = -1;
    sliderIntensity_->setValue(frame ? 100 : 70);
    // The list over the column, the apply area under it once a picture is chosen.
    placePanel(vwTextureEffect_, PanelPlacement::kApplyHeight + 8,
               AdjustFilterVC::kColumnHeight - 50 - PanelPlacement::kApplyHeight - 8);
    vc_->vwAddEffect()->hide();
    tableTextureEffectsBoundDidChange();
    if (editing) {
        const QString key = frame ? QStringLiteral("picture_frameName") : QStringLiteral("picture_EffectName");
        const QString saved = editedValue(key).toString();
        const int row = int(textureList_.indexOf(saved));
        if (row >= 0) {
            selectedTextureEffectIndex_ = row;
            tblTextures_->setCurrentIndex(texturesModel_->index(row));
            const double intensity = platform::numberValue(editedValue("effectIntensityValue"), frame ? 1.0 : 0.7);
            sliderIntensity_->setValue(int(std::lround(intensity * 100)));
            vc_->saveFilterParametersWithKey(QStringLiteral("effectIntensityValue"), intensity);
            vc_->saveFilterParametersWithKey(key, saved);
            const QVariant thickness = editedValue(QStringLiteral("frameWidthPercent"));
            if (frame && thickness.isValid()) vc_->saveFilterParametersWithKey(QStringLiteral("frameWidthPercent"), thickness);
            showApplyAreaUnderTheList();
        }
    }
    return true;
}

void EffectsScreenController::showApplyAreaUnderTheList() { placePanel(vc_->vwAddEffect(), 4, PanelPlacement::kApplyHeight); }

void EffectsScreenController::textureRowChosen(int row) {
    if (row < 0 || row >= textureList_.size()) return;
    if (row != selectedTextureEffectIndex_) {
        // Another picture starts at its own intensity, not at the last one's.
        settingUp_ = true;
        sliderIntensity_->setValue(EffectTables::isFrameEffect(overlayName_) ? 100 : 70);
        settingUp_ = false;
    }
    selectedTextureEffectIndex_ = row;
    slideEffectIntensityOnTextureCellValueChanged(row);
}

void EffectsScreenController::slideEffectIntensityOnTextureCellValueChanged(int row) {
    if (row < 0 || row >= textureList_.size()) return;
    const double value = sliderIntensity_->value() / 100.0;
    // The slider is the picture's intensity for both. A frame's thickness stays the engine's
    // own (a fraction of the shorter side): the slider's 1.0 taken as thickness would cover
    // the whole photo with the frame.
    const bool texture = EffectTables::isTextureEffect(overlayName_);
    vc_->saveFilterParametersWithKey(texture ? QStringLiteral("picture_EffectName") : QStringLiteral("picture_frameName"),
                                     textureList_[row]);
    vc_->saveFilterParametersWithKey(QStringLiteral("effectIntensityValue"), value);
    showApplyAreaUnderTheList();
    vc_->showImage();
}

void EffectsScreenController::setupImageOverlay(const QString& name, bool editing) {
    const bool custom = name == QLatin1String("Add Custom Image");
    btnChooseImage_->setVisible(custom);
    placePanel(vwImageOverlay_, 80, 130);
    placePanel(vc_->vwAddEffect(), 20, PanelPlacement::kApplyHeight);
    QVariantList values = OverlayPanels::newImageOverlayParameters(FilterCustomization::sharedInstance().getDefaultRectForFilter(name));
    QImage picture;
    if (editing) {
        for (const char* key : {"boundedRect", "rotatedRect", "Opacity", "angle", "flipHorizontally", "flipVertically"}) {
            const QVariant v = editedValue(QString::fromLatin1(key));
            if (v.isValid()) ParameterList::setValueForKey(values, QString::fromLatin1(key), v);
        }
        picture = editedValue(QStringLiteral("imageToAdd")).value<QImage>();
    }
    const double opacity = platform::numberValue(ParameterList::valueForKey(values, "Opacity"), 1.0);
    sliderOpacity_->setValue(int(std::lround(opacity * 100)));
    lblSlickerOpacity_->setText(QString::asprintf("%.02f", opacity));
    if (picture.isNull() && EffectTables::isStickerSet(name) && !stickerList_.isEmpty() && !editing)
        picture = editorResourceImage(stickerList_.first());
    imageView_->setPicture(picture);
    imageView_->setOpacityValue(opacity);
    imageView_->setBoxRect(rectOf(ParameterList::valueForKey(values, "boundedRect"), QRectF(0, 0, 100, 100)));
    const bool flipH = ParameterList::valueForKey(values, "flipHorizontally").toBool();
    const bool flipV = ParameterList::valueForKey(values, "flipVertically").toBool();
    imageView_->setFlips(flipH, flipV);
    imageView_->setAngle(platform::numberValue(ParameterList::valueForKey(values, "angle"), 0));
    btnOverlayFlipH_->setChecked(flipH);
    btnOverlayFlipV_->setChecked(flipV);
    imageView_->show();
    imageView_->raise();
    if (!picture.isNull()) vc_->saveFilterParametersWithKey(QStringLiteral("imageToAdd"), picture);
    for (const QVariant& entry : values) {
        const QVariantMap m = entry.toMap();
        vc_->saveFilterParametersWithKey(m.firstKey(), m.first());
    }
    if (editing) singleClickOnImageWatermarkView();
}

void EffectsScreenController::singleClickOnImageWatermarkView() {
    removeStickerParamPopupWindow();
    if (!imageView_->isVisible()) return;
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vwStickerSetting"));
    view->setStyleSheet(QStringLiteral("QLabel { color: #e6e6e6; }"));
    view->resize(220, 70);
    auto* layout = new QGridLayout(view);
    layout->addWidget(whiteLabel(tr("Rotation"), view), 0, 0);
    const int angle = int(platform::numberValue(vc_->workingParameters().value(QStringLiteral("angle")), 0));
    lblStickerAngle_ = whiteLabel(QString::number(angle), view, QStringLiteral("lblStickerAngle"));
    layout->addWidget(lblStickerAngle_, 0, 1, Qt::AlignRight);
    auto* slider = new QSlider(Qt::Horizontal, view);
    slider->setObjectName(QStringLiteral("sliderStickerAngle"));
    slider->setRange(0, 360);
    keyboard::showFocusRing(slider);
    slider->setValue(angle);
    connect(slider, &QSlider::valueChanged, this, &EffectsScreenController::imageOverlayAngleChanged);
    layout->addWidget(slider, 1, 0, 1, 2);
    sliderStickerAngle_ = slider;

    // Beside the box, on its right edge's middle.
    const QRectF box = platform::toQtRect(imageView_->boxRect(), imageView_->height());
    const QPoint point = imageView_->mapTo(imageView_->window(), QPoint(int(box.right()), int(box.center().y())));
    auto* popup = new AttachedWindow(view, point, vc_, 2, 5);
    popup->setBorderColor(Qt::transparent);
    popup->setBackgroundColor(QColor(41, 41, 41));
    connect(popup, &AttachedWindow::closed, popup, &QObject::deleteLater);
    popup->show();
    popup->raise();
    windowStickerSetting_ = popup;
}

void EffectsScreenController::removeStickerParamPopupWindow() {
    if (!windowStickerSetting_) return;
    windowStickerSetting_->closePopup();
    windowStickerSetting_ = nullptr;
    lblStickerAngle_ = nullptr;
}

void EffectsScreenController::imageOverlayAngleChanged(int degrees) {
    imageView_->setAngle(degrees);
    if (lblStickerAngle_) lblStickerAngle_->setText(QString::number(degrees));
    vc_->saveFilterParametersWithKey(QStringLiteral("angle"), degrees);
    vc_->showImage();
}

void EffectsScreenController::btnOverlayFlipTapped(bool horizontal, bool on) {
    vc_->saveFilterParametersWithKey(horizontal ? QStringLiteral("flipHorizontally") : QStringLiteral("flipVertically"), on);
    imageView_->setFlips(btnOverlayFlipH_->isChecked(), btnOverlayFlipV_->isChecked());
    vc_->showImage();
}

void EffectsScreenController::btnAddCustomImageTapped() {
    // A record of its own: the custom picture belongs to no category of the catalogue.
    auto record = std::make_shared<FilterRecord>();
    record->filterName = record->filterDisplayName = QStringLiteral("Add Custom Image");
    showFiltersViewShowFlag(false);
    chooseEffect(record);
    btnChooseCustomImageTapped();
}

void EffectsScreenController::stickerChosen(int row) {
    if (row < 0 || row >= stickerList_.size()) return;
    const QImage picture = editorResourceImage(stickerList_[row]);
    if (picture.isNull()) return;
    imageView_->setPicture(picture);
    vc_->saveFilterParametersWithKey(QStringLiteral("imageToAdd"), picture);
    vc_->saveFilterParametersWithKey(QStringLiteral("imageName"), stickerList_[row]);
    vc_->showImage();
}

void EffectsScreenController::btnChooseCustomImageTapped() {
    auto* dialog = new QFileDialog(vc_->window(), tr("Choose a picture"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(tr("Images (*.png *.jpg *.jpeg *.tif *.tiff *.bmp *.gif *.jp2 *.j2k *.jpf *.jpx)"));
    connect(dialog, &QFileDialog::fileSelected, this, &EffectsScreenController::setCustomImageFromFile);
    dialog->open();
}

void EffectsScreenController::setCustomImageFromFile(const QString& path) {
    // What the step keeps is the records' rule: the picture, no larger than a saved
    // favourite or session holds.
    const QImage picture = CustomPicture::pictureForStep(path);
    if (picture.isNull()) {
        showAlert(0, tr("INVALID IMAGE"), tr("The chosen file could not be read as a picture."), false, {});
        return;
    }
    imageView_->setPicture(picture);
    vc_->saveFilterParametersWithKey(QStringLiteral("imageToAdd"), picture);
    vc_->saveFilterParametersWithKey(QStringLiteral("imageName"), QFileInfo(path).fileName());
    vc_->showImage();
}

void EffectsScreenController::setupText(const QString& name, bool editing) {
    const bool date = name == QLatin1String("Add Date");
    // Below the generic controls and the apply area, at the foot of the column.
    const double panelHeight = date ? 230 : 110;
    placePanel(viewWaterMark_, 10, panelHeight);
    vwAddDateParam_->setVisible(date);
    const QSizeF container = vc_->imageContainerSize();
    QVariantList values = OverlayPanels::newTextParameters(name, container.width());
    if (editing) {
        for (const char* key : {"textColor", "alpha", "boundedRect", "rotatedRect", "text", "fontName",
                                "textAlignment", "dateTimeOption", "dateFormat", "timeFormat", "angle",
                                "flipHorizontally", "flipVertically"}) {
            const QVariant v = editedValue(QString::fromLatin1(key));
            if (v.isValid()) ParameterList::setValueForKey(values, QString::fromLatin1(key), v);
        }
        const QVariant stored = ParameterList::valueForKey(vc_->state().editedStepParameters, "fontSize");
        if (stored.isValid())
            ParameterList::setValueForKey(values, "fontSize",
                                          float(OverlayPanels::editedFontSize(platform::numberValue(stored),
                                                                              container.height())));
    }
    // The font list of the pop-up.
    QStringList fonts = QFontDatabase::families();
    fonts.prepend(QStringLiteral("System Default"));
    vc_->state().arrFontList = fonts;

    const double fontSize = platform::numberValue(ParameterList::valueForKey(values, "fontSize"), 30);
    txtFontsize_->setText(QString::number(int(fontSize)));
    lblSelectedFontName_->setText(ParameterList::valueForKey(values, "fontName").toString());
    lblSelectedDateTime_->setText(ParameterList::valueForKey(values, "dateTimeOption").toString());
    lblSelectedDateFormat_->setText(ParameterList::valueForKey(values, "dateFormat").toString());
    lblSelectedTimeFormat_->setText(ParameterList::valueForKey(values, "timeFormat").toString());
    vc_->addColorWellControlWithKey(QStringLiteral("textColor"),
                                    ParameterList::valueForKey(values, "textColor").value<QColor>());
    vc_->addSliderControlWithKey(QStringLiteral("alpha"),
                                 float(platform::numberValue(ParameterList::valueForKey(values, "alpha"), 1.0)));
    for (const QVariant& entry : values) {
        const QVariantMap m = entry.toMap();
        vc_->saveFilterParametersWithKey(m.firstKey(), m.first());
    }
    // The box's turn as stored: half a turn for a horizontal flip, three quarters for a
    // vertical one.
    const int turn = int(platform::numberValue(ParameterList::valueForKey(values, "angle"), 0));
    btnTextFlipH_->setChecked(turn == 180);
    btnTextFlipV_->setChecked(turn == 270);

    // The text box: over the whole container, its frame from the stored turned rectangle
    // (stood up again when the box lies turned on its side).
    layoutOverlays();
    QRectF rotated = rectOf(ParameterList::valueForKey(values, "rotatedRect"), QRectF(20, 20, 120, 120));
    if (turn == 270) {
        const QPointF centre = rotated.center();
        rotated = QRectF(centre.x() - rotated.height() / 2, centre.y() - rotated.width() / 2, rotated.height(),
                         rotated.width());
    }
    textView_->setHorizontalFlipWithFlag(turn == 180);
    if (turn == 270) textView_->setVerticalFlipWithFlag(true);
    textView_->geometryModel().setContainerFrame(
        QRectF(rotated.x() - 20, rotated.y() - 20, rotated.width(), rotated.height()));
    showAddTextOverlayView();
    setTextAlginMentButtons(int(platform::numberValue(ParameterList::valueForKey(values, "textAlignment"), 0)));
    // The apply area right over the panel (the generic rule put it under the date rows).
    placePanel(vc_->vwAddEffect(), 10 + panelHeight + 8, PanelPlacement::kApplyHeight);
}

void EffectsScreenController::willShowImage(const QString& filterName) {
    if (!isTextEffect(filterName) || !textView_->isVisible()) return;
    textView_->adjustExtendRectToTextChange(previewPath_, filterName, vc_->workingParameters().list());
}

bool EffectsScreenController::showsEffectItself(const QString& filterName) const {
    return isTextEffect(filterName) && !textView_->isHidden();
}

void EffectsScreenController::setTextAlginMentButtons(int alignment) {
    const QStringList images = OverlayPanels::alignmentButtonImages(alignment);
    if (images.isEmpty()) return;
    btnLeftAlign_->setChecked(alignment == 0);
    btnCenterAlign_->setChecked(alignment == 2);
    btnRightAlign_->setChecked(alignment == 1);
}

void EffectsScreenController::btnLeftAlignTextWatermarkTapped() {
    textView_->setLeftTextAlignment();
    vc_->saveFilterParametersWithKey(QStringLiteral("textAlignment"), 0);
    setTextAlginMentButtons(0);
    vc_->showImage();
}

void EffectsScreenController::btnCenterAlignTextWatermarkTapped() {
    textView_->setCenterTextAlignment();
    vc_->saveFilterParametersWithKey(QStringLiteral("textAlignment"), 2);
    setTextAlginMentButtons(2);
    vc_->showImage();
}

void EffectsScreenController::btnRightAlignTextWatermarkTapped() {
    textView_->setRightTextAlignment();
    vc_->saveFilterParametersWithKey(QStringLiteral("textAlignment"), 1);
    setTextAlginMentButtons(1);
    vc_->showImage();
}

void EffectsScreenController::btnHorizontalFlipTextWatermarkTapped(bool on) {
    if (settingUp_) return;
    textView_->setHorizontalFlipWithFlag(on);
    vc_->saveFilterParametersWithKey(QStringLiteral("flipHorizontally"), on);
    vc_->saveFilterParametersWithKey(QStringLiteral("textAlignment"), 0);
    textView_->callDelegateToUpdateValues();
    vc_->showImage();
}

void EffectsScreenController::btnVerticalFlipTextWatermarkTapped(bool on) {
    if (settingUp_) return;
    textView_->setVerticalFlipWithFlag(on);
    vc_->saveFilterParametersWithKey(QStringLiteral("flipVertically"), on);
    textView_->callDelegateToUpdateValues();
    vc_->showImage();
}

void EffectsScreenController::fontSizeTyped(const QString& text) {
    bool ok = false;
    const int size = text.toInt(&ok);
    if (!ok || size <= 0) return;
    vc_->saveFilterParametersWithKey(QStringLiteral("fontSize"), float(size));
    vc_->resetTimerToPerformActionLater();
}

void EffectsScreenController::fontSizeEditingEnded() {
    if (!isTextEffect(vc_->state().currentFilterName)) return;
    // Smaller sizes may be typed on the way to another; the size kept is 8 or more.
    const int size = OverlayPanels::committedFontSize(txtFontsize_->text());
    txtFontsize_->setText(QString::number(size));
    vc_->saveFilterParametersWithKey(QStringLiteral("fontSize"), float(size));
    vc_->showImage();
}

void EffectsScreenController::btnCrossClickedOnTextWatermarkView() {
    textView_->disableTextEvents();
    textView_->hide();
    vc_->saveFilterParametersWithKey(QStringLiteral("text"), QString());
    vc_->showImage();
}

void EffectsScreenController::transformUpdatedOnTextWatermarkViewWithRotation(float rotation, const QRectF& updated,
                                                                             const QRectF& rotated) {
    if (!isTextEffect(vc_->state().currentFilterName)) return;
    vc_->saveFilterParametersWithKey(QStringLiteral("angle"), int(rotation));
    vc_->saveFilterParametersWithKey(QStringLiteral("boundedRect"), rectValue(TextBoxGeometry::insetByMargin(updated)));
    vc_->saveFilterParametersWithKey(QStringLiteral("rotatedRect"), rectValue(TextBoxGeometry::insetByMargin(rotated)));
    if (textView_->isEditing()) {
        vc_->saveFilterParametersWithKey(QStringLiteral("text"), textView_->textContent());
        vc_->resetTimerToPerformActionLater();
    }
}
