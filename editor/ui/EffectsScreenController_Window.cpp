// The effects screen's own windows and waits: Next and Back held back after the screen
// appears, the loading overlay, the first-use tips, window resizes, and the
// rename-and-convert view shown for the Batch Conversion row.
#include "editor/ui/EffectsScreenController.h"

#include "editor/PreviewBox.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "batch/ui/LoadingOverlay.h"
#include "editor/ui/EffectTableModels.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "ui/AttachedWindow.h"

namespace names = platform::notifications;

namespace {

const QString kTipsDisable = QStringLiteral("tips_isDisable");
const QString kTipsDone = QStringLiteral("tips_adjustFilterView");
constexpr int kFirstTip = 3;
constexpr int kLastTip = 6;

}  // namespace

void EffectsScreenController::setDelayScheduler(Delay which, std::unique_ptr<OneShotScheduler> scheduler) {
    if (which < 0 || which >= DelayCount || !scheduler) return;
    delays_[which] = std::move(scheduler);
}

void EffectsScreenController::enablePrevBtn() { vc_->setNavigationBlocked(vc_->state().shouldDisbaleNext, false); }

// ---- loading overlay ----

void EffectsScreenController::showLoading(bool show) {
    // While the hosted rename view re-plans, its own calls decide.
    if (progressHudShown_) return;
    if (show) {
        // A second show keeps the overlay up: it goes only when hidden.
        if (vwLoading_->isLoading()) return;
        busy_.setHeld(holdsLoading_, true);
        vwLoading_->showLoading(true, QString());
        loaderWatch_->start();
        return;
    }
    if (!vwLoading_->isLoading()) return;
    busy_.setHeld(holdsLoading_, false);
    loaderWatch_->stop();
    vwLoading_->showLoading(false, QString());
}

void EffectsScreenController::loaderFrameShown() {
    if (vwLoading_->isLoading() && !AppDelegate::shared().isPROCESSING_WITH_FILES_SYSTEM) showLoading(false);
}

void EffectsScreenController::showLoadingNotification() {
    // Other screens' work shows this overlay only while the rename view is on this screen.
    if (isBatchConversionRowSelected()) showLoading(true);
}

void EffectsScreenController::hideLoadingNotification() { showLoading(false); }

void EffectsScreenController::showProgressHud(bool show) {
    progressHudShown_ = false;
    showLoading(show);
    progressHudShown_ = show;
}

void EffectsScreenController::updateProgressVariable() {
    progressHudShown_ = false;
    platform::NotificationCenter::defaultCenter().postNotification(names::HideLoading);
}

// ---- tips ----

QString EffectsScreenController::tipText(int tag) {
    switch (tag) {
    case 3:
        return tr("Choose a basic effect, or a category to see its effects. Your favourite batches and the Batch "
                  "Conversion are listed here too.");
    case 4:
        return tr("The preview shows the effect on the selected photo. Set its values on the right, then click "
                  "'Add Effect' to add it to your batch steps.");
    case 5:
        return tr("Your batch steps are applied to every photo in this order. Drag them or use the arrows to "
                  "reorder them; switch a step off, edit it or remove it here.");
    case 6:
        return tr("Click a photo in the strip to see the batch steps on it. When your steps are ready, click "
                  "'Next' to choose the output.");
    default: return {};
    }
}

void EffectsScreenController::showTipsWithTag(int tag) {
    // The first tip's turn also ends the wait on Next.
    vc_->setNavigationBlocked(false, vc_->state().shouldDisbalePrev);
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (tag < kFirstTip || tag > kLastTip || defaults.containsKey(kTipsDisable) || defaults.containsKey(kTipsDone))
        return;
    QWidget* anchor = nullptr;
    int side = 2;  // right of the point
    QPoint at;
    switch (tag) {
    case 3: anchor = tblCategories_; at = QPoint(anchor->width(), 60); break;
    case 4: anchor = vc_->previewContainer(); at = QPoint(anchor->width() / 2, anchor->height() / 2); side = 1; break;
    case 5: anchor = vwAppliedFilters_; at = QPoint(anchor->width(), 20); break;
    default: anchor = vc_->nextButton(); at = QPoint(anchor->width() / 2, 0); side = 3; break;
    }
    if (!anchor->isVisibleTo(vc_)) return;
    removeTipsPopupWindow();

    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("tipsPopupView"));
    view->setStyleSheet(AttachedWindow::contentStyleSheet());
    view->resize(280, 140);
    auto* layout = new QVBoxLayout(view);
    auto* text = new QLabel(tipText(tag), view);
    text->setObjectName(QStringLiteral("lblTipsText"));
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    auto* row = new QHBoxLayout;
    checkDisableTips_ = new QCheckBox(tr("Don't show tips"), view);
    checkDisableTips_->setObjectName(QStringLiteral("checkDisableTips"));
    checkDisableTips_->setChecked(tipsDisableChecked_);
    connect(checkDisableTips_, &QCheckBox::toggled, this, [this](bool on) { tipsDisableChecked_ = on; });
    row->addWidget(checkDisableTips_);
    row->addStretch(1);
    const bool last = tag == kLastTip;
    auto* button = new QPushButton(last ? tr("Got It") : tr("Next"), view);
    button->setObjectName(last ? QStringLiteral("btnGotItOnTips") : QStringLiteral("btnNextOnTips"));
    connect(button, &QPushButton::clicked, this,
            last ? &EffectsScreenController::btnGotItOnTipsPopupTapped : &EffectsScreenController::btnNextOnTipsPopupTapped);
    row->addWidget(button);
    layout->addLayout(row);

    const QPoint point = anchor->mapTo(anchor->window(), at);
    auto* popup = AttachedWindow::createTip(view, point, vc_, side);
    popup->show();
    popup->raise();
    tipsPopUpWindow_ = popup;
    currentTips_ = tag;
    busy_.setHeld(holdsTip_, true);
    // However the tip goes, the screen is free of it (unless a later tip holds it by then).
    const int shown = ++tipsShown_;
    connect(popup, &QObject::destroyed, this, [this, shown] {
        if (shown == tipsShown_) busy_.setHeld(holdsTip_, false);
    });
}

void EffectsScreenController::removeTipsPopupWindow() {
    if (!tipsPopUpWindow_) return;
    tipsPopUpWindow_->closePopup();
    tipsPopUpWindow_ = nullptr;
    checkDisableTips_ = nullptr;
    busy_.setHeld(holdsTip_, false);
}

void EffectsScreenController::setTipsDisabledChecked(bool on) {
    tipsDisableChecked_ = on;
    if (checkDisableTips_) checkDisableTips_->setChecked(on);
}

void EffectsScreenController::finishTip(bool walkOn) {
    const int tag = currentTips_;
    removeTipsPopupWindow();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (tipsDisableChecked_) defaults.setObject(QStringLiteral("1"), kTipsDisable);
    else defaults.removeObjectForKey(kTipsDisable);
    if (!walkOn) defaults.setObject(QStringLiteral("1"), kTipsDone);
    defaults.synchronize();
    if (walkOn) showTipsWithTag(tag + 1);
}

void EffectsScreenController::btnNextOnTipsPopupTapped() { finishTip(currentTips_ < kLastTip); }

void EffectsScreenController::btnGotItOnTipsPopupTapped() { finishTip(false); }

// ---- window resizes ----

void EffectsScreenController::windowisResizing() {
    layoutConvertFormatView();
    // An open tip follows its control.
    if (tipsPopUpWindow_) showTipsWithTag(currentTips_);
}

std::optional<QSize> EffectsScreenController::newPreviewBox() {
    // A screen shown after the window changed size is laid out at the window's size first.
    if (QWidget* holder = vc_->parentWidget(); holder && holder->layout()) holder->layout()->activate();
    if (vc_->layout()) vc_->layout()->activate();
    const QSize box = previewbox::sizeFor(vc_->centreRoom());
    if (box == vc_->previewBoxSize()) return std::nullopt;
    return box;
}

void EffectsScreenController::fitPreviewOnAppearing() {
    AppDelegate& app = AppDelegate::shared();
    // The window may have changed its size while another screen showed.
    const std::optional<QSize> box = newPreviewBox();
    const bool hasPhoto = !app.arraySelectedImagesToProcess.isEmpty();
    const bool readable = hasPhoto && EffectsScreen::missingPhotoRows({app.selectedImageFile}).isEmpty();
    switch (EffectsScreen::previewOnAppearing(hasPhoto, app.isSELECTED_IMAGE_CHANGED, readable, box.has_value())) {
    case EffectsScreen::AppearingPreview::ReadPhoto:
        if (app.isSELECTED_IMAGE_CHANGED && categoryModel_->selectedCategoryIndex() >= 0 && !isBatchConversionRowSelected()) {
            showLoading(true);
            app.isPROCESSING_WITH_FILES_SYSTEM = true;
        }
        selectedPhotoChanged(box);
        break;
    case EffectsScreen::AppearingPreview::TakeNewSize: vc_->setPreviewBoxSize(*box); break;
    case EffectsScreen::AppearingPreview::Nothing: break;
    }
}

void EffectsScreenController::windowEndResizing() {
    // The preview takes the room the window gives it: the photo is read again at the new
    // size, the open effect's values carried over as a new photo carries them.
    if (const std::optional<QSize> box = newPreviewBox()) {
        if (AppDelegate::shared().arraySelectedImagesToProcess.isEmpty()) vc_->setPreviewBoxSize(*box);
        else selectedPhotoChanged(box);
    }
    layoutOverlays();
    windowisResizing();
}

// ---- the Batch Conversion row ----

bool EffectsScreenController::isBatchConversionRowSelected() const {
    const int row = categoryModel_->selectedCategoryIndex();
    return row >= 0 && categoryModel_->rows().groupOf(row) == CategoryRows::Group::Rename;
}

void EffectsScreenController::layoutConvertFormatView() {
    if (!vwConvertFormatOrRename_) return;
    // Right of the category column, above the footer.
    if (vc_->layout()) vc_->layout()->activate();
    const QWidget* categories = vc_->tableArea();
    const int x = categories->geometry().right() + 1;
    vwConvertFormatOrRename_->setGeometry(x, 0, vc_->width() - x, vc_->footer()->geometry().top());
}

void EffectsScreenController::AddConvertFormatView() {
    if (!vwConvertFormatOrRename_) {
        // Made the first time the row is chosen: it sets itself up from the shared settings.
        vwConvertFormatOrRename_ = new ConvertFormatOrRenameView(vc_);
        vwConvertFormatOrRename_->setObjectName(QStringLiteral("vwConvertFormatOrRename"));
        vwConvertFormatOrRename_->setDelegate(this);
        // This screen's footer has Back and Next; the run starts from the output screen.
        vwConvertFormatOrRename_->btnBack->hide();
        vwConvertFormatOrRename_->btnStart->hide();
        // The screen keeps its layout underneath: the hidden parts hold their places.
        for (QWidget* w : {vc_->previewContainer(), vc_->photoStripArea(), vc_->parametersColumn(),
                           static_cast<QWidget*>(vc_->batchInfoLabel())}) {
            QSizePolicy policy = w->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            w->setSizePolicy(policy);
        }
    }
    vc_->previewContainer()->hide();
    vc_->photoStripArea()->hide();
    vc_->parametersColumn()->hide();
    vwAppliedFilters_->hide();
    vc_->batchInfoLabel()->hide();
    layoutConvertFormatView();
    vwConvertFormatOrRename_->show();
    vwConvertFormatOrRename_->raise();
    vwLoading_->raise();
    auto& centre = platform::NotificationCenter::defaultCenter();
    centre.postNotification(names::AppearInBatchEffectsView);
    centre.postNotification(names::SetupConvertAndRename);
}

void EffectsScreenController::removeConvertFormatView() {
    if (!vwConvertFormatOrRename_ || vwConvertFormatOrRename_->isHidden()) return;
    vwConvertFormatOrRename_->hide();
    vc_->previewContainer()->show();
    vc_->photoStripArea()->show();
    vc_->parametersColumn()->show();
    vwAppliedFilters_->show();
    vc_->batchInfoLabel()->show();
}
