// The screen's named operations: the own effects' slider values, the toggles of the point and
// rectangle buttons, the intensity sliders, the panels' visibility switches, the window's
// resizability while an effect is set up, zoom, and the fitting of the preview photo.
#include <QGestureEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNativeGestureEvent>
#include <QWheelEvent>
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
    btnInfoFilter_->setFocusPolicy(Qt::NoFocus);  // nothing to see, so no stop of Tab
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
    lblZoom_->setStyleSheet(QStringLiteral("color: white; background: rgba(0,0,0,120); padding: 1px 4px;"));
    lblZoom_->hide();
    // Zooming: the wheel with Ctrl, a pinch, and + and − once the preview has the focus.
    previewContainer_->setFocusPolicy(Qt::ClickFocus);
    previewContainer_->grabGesture(Qt::PinchGesture);
    previewContainer_->installEventFilter(this);
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
        // Both show all three colour controls; each slider sets its own one.
        const QString k = state_.sliderKeys[size_t(slot)];
        if (k.isEmpty()) return;
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
    if (resizable) windowHold_.release();
    else windowHold_.hold(w);
}

void AdjustFilterVC::showInfoFilterWarning(bool show) {
    vwInfoFilterWarning_->setVisible(show);
    btnInfoFilter_->setVisible(!show);
}

void AdjustFilterVC::hideResetButtonSetHidden(bool hidden) {
    btnreset_->setHidden(hidden);
    // The line under the button speaks of it: it never stays on its own.
    if (hidden) lblOnReset_->hide();
}

void AdjustFilterVC::hideAddPhotoButtonSetHidden(bool hidden) {
    // Low in the column, clear of the sliders, the wells and the apply area above them.
    if (!hidden) placeInColumn(vWBackGroundImage_, QRectF(0, 70, kColumnWidth, 40));
    vWBackGroundImage_->setHidden(hidden);
}

void AdjustFilterVC::zoomPreviewsWithCurrentZoomFactor() {
    const QSizeF box(imageContainer_->size());
    const double wanted = state_.currentZooomFactor > 0 ? double(state_.currentZooomFactor) : 1.0;
    if (wanted != zoom_.factor()) zoom_.setFactor(wanted, box);
    state_.currentZooomFactor = float(zoom_.factor());
    // What leaves the container is clipped.
    imgViewFiltered_->setGeometry(zoom_.pictureRect(box).toAlignedRect());
    imgViewFiltered_->setScaledContents(true);
    lblZoom_->setText(PreviewZoom::label(zoom_.factor()));
    // At the photo's own size the label would say nothing new.
    lblZoom_->setVisible(PreviewZoom::labelShown(zoom_.factor()));
    lblZoom_->raise();
}

bool AdjustFilterVC::zoomPreview(double ratio, QPointF anchor) {
    if (!zoomAllowed_ || imageToEdit_.isNull()) return false;
    if (!zoom_.zoomBy(ratio, anchor, QSizeF(imageContainer_->size()))) return false;
    state_.currentZooomFactor = float(zoom_.factor());
    zoomPreviewsWithCurrentZoomFactor();
    return true;
}

bool AdjustFilterVC::eventFilter(QObject* watched, QEvent* event) {
    if (watched != previewContainer_) return QWidget::eventFilter(watched, event);
    const QPointF centre(imageContainer_->width() / 2.0, imageContainer_->height() / 2.0);
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (!(wheel->modifiers() & Qt::ControlModifier)) break;
        const QPointF at = wheel->position() - QPointF(imageContainer_->pos());
        zoomPreview(PreviewZoom::ratioForWheel(wheel->angleDelta().y()), at);
        return true;
    }
    case QEvent::NativeGesture: {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() != Qt::ZoomNativeGesture) break;
        zoomPreview(1.0 + gesture->value(), gesture->position() - QPointF(imageContainer_->pos()));
        return true;
    }
    case QEvent::Gesture: {
        auto* gestures = static_cast<QGestureEvent*>(event);
        if (auto* pinch = static_cast<QPinchGesture*>(gestures->gesture(Qt::PinchGesture))) {
            if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged) {
                const QPointF at = previewContainer_->mapFromGlobal(pinch->centerPoint()) - QPointF(imageContainer_->pos());
                zoomPreview(pinch->scaleFactor(), at);
            }
            gestures->accept(pinch);
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal) {
            zoomPreview(PreviewZoom::kStep, centre);
            return true;
        }
        if (key->key() == Qt::Key_Minus || key->key() == Qt::Key_Underscore) {
            zoomPreview(1.0 / PreviewZoom::kStep, centre);
            return true;
        }
        break;
    }
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void AdjustFilterVC::resizeImageContainerForAspectFit(QSizeF size) {
    const QSizeF room(previewBox_);
    if (size.width() <= 0 || size.height() <= 0) size = previewSource_.isNull() ? room : QSizeF(previewSource_.size());
    QSizeF fit = Utils::sharedUtils().getAspectFitModeSizeWithsize(size, room);
    if (fit.width() < 1 || fit.height() < 1) fit = room;
    const QSize box(int(std::lround(fit.width())), int(std::lround(fit.height())));
    imageContainer_->setGeometry((previewBox_.width() - box.width()) / 2, (previewBox_.height() - box.height()) / 2,
                                 box.width(), box.height());
    imgViewFiltered_->setGeometry(0, 0, box.width(), box.height());
    AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE = QSizeF(box);
    // The zoom stays over a new picture or container.
    zoomPreviewsWithCurrentZoomFactor();
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
