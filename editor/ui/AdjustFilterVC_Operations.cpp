// The screen's named operations: the own effects' slider values, the toggles of the point and
// rectangle buttons, the intensity sliders, the panels' visibility switches, the window's
// resizability while an effect is set up, zoom, and the fitting of the preview photo.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "editor/EffectNameSets.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/PointHandles.h"
#include "engine/Utils.h"
#include "platform/foundation/Log.h"
#include "records/AppDelegate.h"
#include "editor/ui/ValueSlider.h"

#include <cmath>

void AdjustFilterVC::buildOperationViews() {
    // The warning and the information button carry no text or action of their own yet, so
    // they take no room: only which of the two is shown is kept.
    btnInfoFilter_ = new QPushButton(paramsColumn_);
    btnInfoFilter_->setObjectName(QStringLiteral("btnInfoFilter"));
    btnInfoFilter_->setGeometry(0, 0, 0, 0);
    btnInfoFilter_->hide();
    vwInfoFilterWarning_ = new QWidget(paramsColumn_);
    vwInfoFilterWarning_->setObjectName(QStringLiteral("vwInfoFilterWarning"));
    vwInfoFilterWarning_->setGeometry(0, 0, 0, 0);
    vwInfoFilterWarning_->hide();
    vWBackGroundImage_ = new QWidget(paramsColumn_);
    vWBackGroundImage_->setObjectName(QStringLiteral("vwSecondImage"));
    vWBackGroundImage_->resize(kColumnWidth, 40);
    lblBGImgUrl_ = new QLabel(QStringLiteral("No image selected"), vWBackGroundImage_);
    lblBGImgUrl_->setGeometry(10, 10, kColumnWidth - 20, 20);
    vWBackGroundImage_->hide();
    lblZoom_ = new QLabel(previewContainer_);
    lblZoom_->setObjectName(QStringLiteral("lblZoom"));
    lblZoom_->setGeometry(kPreviewWidth - 110, kPreviewHeight - 24, 100, 20);
    lblZoom_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblZoom_->hide();
}

void AdjustFilterVC::changeValueForCustomFiltersSlidersNewValue(double v, int slot) {
    if (slot < 0 || slot > 5) return;
    const QString& name = state_.currentFilterName;
    // The program's own effects decide by slot.
    QLineEdit* field0 = sliderRows_[0].field;
    QLineEdit* field1 = sliderRows_[1].field;
    if (name == QLatin1String("RGB Adjust")) {
        static const char* const keys[] = {"Red", "Green", "Blue", "Alpha"};
        if (slot < 4) saveFilterParametersWithKey(QString::fromLatin1(keys[slot]), v);
    } else if (name == QLatin1String("Black & White")) {
        saveFilterParametersWithKey(QStringLiteral("Intensity"), v);
    } else if (name == QLatin1String("Brightness") || name == QLatin1String("Contrast")) {
        const QString k = name == QLatin1String("Brightness") ? QStringLiteral("inputBrightness")
                                                               : QStringLiteral("inputContrast");
        if (currentFilter_) currentFilter_->setValue(v, k);
        saveFilterParametersWithKey(k, v);
    } else if (name == QLatin1String("Rotate")) {
        saveFilterParametersWithKey(QStringLiteral("angle"), v);
        field0->setText(QString::number(int(v)));
    } else if (name == QLatin1String("Add Border")) {
        const int whole = int(v);
        if (slot == 0) {
            saveFilterParametersWithKey(QStringLiteral("borderWidth"), whole);
            field0->setText(QString::number(whole));
        } else if (slot == 1) {
            saveFilterParametersWithKey(QStringLiteral("cornerRadius"), whole);
            field1->setText(QString::number(whole));
        }
    } else if (name == QLatin1String("Add Text") || name == QLatin1String("Add Watermark") ||
               name == QLatin1String("Add Date")) {
        saveFilterParametersWithKey(QStringLiteral("alpha"), v);
    } else if (name == QLatin1String("Add Custom Image") || name == QLatin1String("Add Logo")) {
        if (slot == 0) saveFilterParametersWithKey(QStringLiteral("angle"), int(v));
        else if (slot == 1) saveFilterParametersWithKey(QStringLiteral("alpha"), v);
    }
    showImage();
}

void AdjustFilterVC::pointButtonChanged(PointHandleButton* button) {
    if (button) button->setState(button->state() ? 0 : 1);
}

void AdjustFilterVC::extentButtonChanged() { theExtentButton_->setState(theExtentButton_->state() ? 0 : 1); }

void AdjustFilterVC::handleSliderEffectIntensity(double value) {
    saveFilterParametersWithKey(QStringLiteral("effectIntensityValue"), value);
    showImage();
}

void AdjustFilterVC::handleSliderInputImageIntensity(double value) {
    saveFilterParametersWithKey(QStringLiteral("imageIntensityValue"), value);
    showImage();
}

QWidget* AdjustFilterVC::getViewWithTag(int tag) const { return tag >= 100 && tag <= 105 ? viewWithTag(tag) : nullptr; }

void AdjustFilterVC::removeCustomViews() {
    for (QWidget* panel : {vwForResizeFilter_, vWforCustomEnhance_, vwRotate_, vwCrop_}) panel->hide();
}

void AdjustFilterVC::increaseHeightOf_Sliders() {
    if (!AppDelegate::shared().isOSX_16_AndAbove) return;
    for (ValueSlider* s : enhanceSliders_) {
        const QRect g = s->geometry();
        // y down: keep the bottom-left corner where it was, as a y-up origin would.
        s->setGeometry(g.x(), g.bottom() + 1 - 22, g.width(), 22);
    }
}

void AdjustFilterVC::setWindowResizable(bool resizable) {
    QWidget* w = window();
    if (!w || w == this) return;  // no main window around the screen
    if (!resizable) {
        if (!windowSizeLimits_) windowSizeLimits_ = std::make_pair(w->minimumSize(), w->maximumSize());
        w->setFixedSize(w->size());
    } else if (windowSizeLimits_) {
        w->setMinimumSize(windowSizeLimits_->first);
        w->setMaximumSize(windowSizeLimits_->second);
        windowSizeLimits_.reset();
    }
}

void AdjustFilterVC::showInfoFilterWarning(bool show) {
    vwInfoFilterWarning_->setVisible(show);
    btnInfoFilter_->setVisible(!show);
}

void AdjustFilterVC::hideResetButtonSetHidden(bool hidden) { btnreset_->setHidden(hidden); }

void AdjustFilterVC::hideAddPhotoButtonSetHidden(bool hidden) {
    // Low in the column, clear of the sliders, the wells and the apply area above them.
    if (!hidden) placeInColumn(vWBackGroundImage_, QRectF(0, 70, kColumnWidth, 40));
    vWBackGroundImage_->setHidden(hidden);
}

void AdjustFilterVC::zoomPreviewsWithCurrentZoomFactor() {
    const double factor = state_.currentZooomFactor > 0 ? double(state_.currentZooomFactor) : 1.0;
    const QSize box = imageContainer_->size();
    const QSize zoomed(qRound(box.width() * factor), qRound(box.height() * factor));
    // The photo grows about the container's centre; what leaves the container is clipped.
    imgViewFiltered_->setGeometry((box.width() - zoomed.width()) / 2, (box.height() - zoomed.height()) / 2,
                                  zoomed.width(), zoomed.height());
    imgViewFiltered_->setScaledContents(true);
    lblZoom_->setText(QString::asprintf("Zoom: %d %%", int(std::lround(factor * 100))));
    // At the photo's own size the label would say nothing new.
    lblZoom_->setVisible(factor != 1.0);
}

void AdjustFilterVC::resizeImageContainerForAspectFit(QSizeF size) {
    if (size.width() <= 0 || size.height() <= 0)
        size = previewSource_.isNull() ? QSizeF(kPreviewWidth, kPreviewHeight) : QSizeF(previewSource_.size());
    QSizeF fit = Utils::sharedUtils().getAspectFitModeSizeWithsize(size, QSizeF(kPreviewWidth, kPreviewHeight));
    if (fit.width() < 1 || fit.height() < 1) fit = QSizeF(kPreviewWidth, kPreviewHeight);
    const QSize box(int(std::lround(fit.width())), int(std::lround(fit.height())));
    imageContainer_->setGeometry((kPreviewWidth - box.width()) / 2, (kPreviewHeight - box.height()) / 2, box.width(),
                                 box.height());
    imgViewFiltered_->setGeometry(0, 0, box.width(), box.height());
    AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE = QSizeF(box);
}

void AdjustFilterVC::resizeInputImageForAspectFit() {
    // The picture given already carries the batch's crop, resize and frame steps, so its
    // own shape is the one to fit.
    const QSize size = imageContainer_->size();
    imageToEdit_ = previewSource_.isNull() || previewSource_.size() == size
                       ? previewSource_
                       : previewSource_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    state_.sourceImageExtent = QSizeF(imageToEdit_.size());
    shownImage_ = imageToEdit_;
    imgViewFiltered_->setPixmap(QPixmap::fromImage(shownImage_));
}

void AdjustFilterVC::resetTimerToShowProgressBar(std::function<void()> showProgress) {
    scheduler_->start(0, [show = std::move(showProgress)] {
        if (show) show();
    });
}
