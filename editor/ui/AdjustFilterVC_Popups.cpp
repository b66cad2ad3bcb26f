// The effects screen's option pop-ups: one list in an attached window under the option's
// label; a choice writes the option into the working list and redraws.
#include "editor/ui/AdjustFilterVC.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "editor/PopupGeometry.h"
#include "editor/ResizeArithmetic.h"
#include "records/AppDelegate.h"

void AdjustFilterVC::openOptionPopup(int type, QWidget* anchor) {
    QStringList list;
    if (type == PopupGeometry::Font) list = state_.arrFontList;
    else if (type == PopupGeometry::ResizeUnit) list = state_.arrDimensionsForResize;
    else list = PopupGeometry::fixedList(type);
    if (list.isEmpty() || !anchor) return;
    dismissPanel();
    state_.flagCurrentAttachPopupType = type;
    popupList_ = list;
    popupAnchor_ = anchor;
    if (!vwPopupWithTableOptions_) {
        vwPopupWithTableOptions_ = new QWidget;
        auto* layout = new QVBoxLayout(vwPopupWithTableOptions_);
        layout->setContentsMargins(4, 4, 4, 4);
        tblPopupOptions_ = new QListWidget(vwPopupWithTableOptions_);
        tblPopupOptions_->setObjectName(QStringLiteral("tblPopupOptions"));
        tblPopupOptions_->setSelectionMode(QAbstractItemView::NoSelection);
        tblPopupOptions_->setStyleSheet(QStringLiteral("QListWidget { background: transparent; color: white; border: none; }"));
        layout->addWidget(tblPopupOptions_);
        connect(tblPopupOptions_, &QListWidget::itemClicked, this,
                [this](QListWidgetItem* item) { popupRowChosen(tblPopupOptions_->row(item)); });
    }
    tblPopupOptions_->clear();
    for (const QString& entry : list) {
        auto* item = new QListWidgetItem(entry, tblPopupOptions_);
        item->setSizeHint(QSize(0, 30));
    }
    const QSizeF size = PopupGeometry::popupSize(type, int(list.size()), AppDelegate::shared().isOSX_16_AndAbove);
    vwPopupWithTableOptions_->resize(size.toSize());
    QWidget* top = window();
    const QRectF label(anchor->mapTo(top, QPoint(0, 0)), QSizeF(anchor->size()));
    const QPointF at = PopupGeometry::attachPoint(type, label);
    attachedPopUpWindow_ = new AttachedWindow(vwPopupWithTableOptions_, at.toPoint(), top, 1, 5);
    attachedPopUpWindow_->setBorderColor(Qt::transparent);
    attachedPopUpWindow_->setBackgroundColor(QColor(41, 41, 41));
    attachedPopUpWindow_->setHasArrow(1);
    connect(attachedPopUpWindow_, &AttachedWindow::closed, this, [this] { dismissPanel(); });
    attachedPopUpWindow_->show();
    attachedPopUpWindow_->raise();
}

void AdjustFilterVC::selectDimentionResizeTapped() {
    openOptionPopup(PopupGeometry::ResizeUnit, lblSelectedDimensionType_);
}

void AdjustFilterVC::selectCropRatioTapped() { openOptionPopup(PopupGeometry::CropRatio, txtCropRatio_); }

void AdjustFilterVC::dismissPanel() {
    if (!attachedPopUpWindow_) return;
    AttachedWindow* w = attachedPopUpWindow_;
    attachedPopUpWindow_ = nullptr;
    // The list view is reused by the next pop-up: take it back before the window goes.
    if (vwPopupWithTableOptions_ && vwPopupWithTableOptions_->parentWidget() == w) {
        vwPopupWithTableOptions_->hide();
        vwPopupWithTableOptions_->setParent(nullptr);
    }
    w->disconnect(this);
    w->closePopup();
    w->deleteLater();
}

void AdjustFilterVC::popupRowChosen(int row) {
    const int type = state_.flagCurrentAttachPopupType;
    const QStringList list = popupList_;
    if (!PopupGeometry::isUsableRow(row, int(list.size()))) return;
    const QString choice = list[row];
    QPointer<QWidget> anchor = popupAnchor_;
    dismissPanel();
    auto setLabel = [&](const QString& text) {
        if (auto* l = qobject_cast<QLabel*>(anchor.data())) l->setText(text);
        else if (auto* f = qobject_cast<QLineEdit*>(anchor.data())) f->setText(text);
    };
    switch (type) {
    case PopupGeometry::Font:
    case PopupGeometry::DateOption:
    case PopupGeometry::DateFormat:
    case PopupGeometry::TimeFormat: {
        static const char* const keys[4] = {"fontName", "dateTimeOption", "dateFormat", "timeFormat"};
        setLabel(choice);
        saveFilterParametersWithKey(QString::fromLatin1(keys[type]), choice);
        showImage();
        break;
    }
    case PopupGeometry::ResizeUnit: {
        setLabel(choice);
        const ResizeOutcome o = ResizeArithmetic::switchUnit(
            photoPixelSize(), state_.seleted_DIMENTION_TYPE_RESIZE, row,
            txtWidthOnCustomFiltersParamView_->text().toInt(), txtHeightOnCustomFiltersParamView_->text().toInt());
        applyResizeOutcome(o);
        showImage();
        break;
    }
    case PopupGeometry::CropRatio:
        AppDelegate::shared().selectedCropRatio = row;
        saveFilterParametersWithKey(QStringLiteral("cropRatioIndex"), row);
        setLabel(choice);
        setupViewForCropFilter(false);
        showImage();
        break;
    default: break;
    }
}
