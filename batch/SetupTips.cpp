#include "batch/SetupTips.h"

namespace {
const QString kDisabled = QString::fromLatin1(platform::DefaultsKey::TipsIsDisable);
const QString kDone = QString::fromLatin1(platform::DefaultsKey::TipsConvertFormatView);
}  // namespace

std::optional<SetupTips::Tip> SetupTips::tipWithTag(int tag) {
    switch (tag) {
    case 7: return Tip{7, QStringLiteral("Convert Batch format/Rename your entire batch of photos from here."), 110, QStringLiteral("Next"), 2};
    case 8: return Tip{8, QStringLiteral("Review your 'New Photo Path's errors & warnings."), 100, QStringLiteral("Next"), 1};
    case 9: return Tip{9, QStringLiteral("Click here to select destination folder & customize the save options."), 110, QStringLiteral("Next"), 2};
    case 10: return Tip{10, QStringLiteral("Click on 'START PROCESS' button to initiate the batch process."), 110, QStringLiteral("Got It"), 3};
    default: return std::nullopt;
    }
}

bool SetupTips::isTipsAlreadyDisplayed() const {
    return defaults_.containsKey(kDisabled) || defaults_.containsKey(kDone);
}

std::optional<SetupTips::Tip> SetupTips::showTipsWithTag(int tag) {
    if (isTipsAlreadyDisplayed()) return std::nullopt;
    auto tip = tipWithTag(tag);
    if (!tip) return std::nullopt;
    current_ = tag;
    open_ = true;
    return tip;
}

std::optional<int> SetupTips::btnNextOnTipsPopupTapped() {
    removeTipsPopupWindow();
    if (current_ == 7 || current_ == 8) return current_ + 1;
    if (current_ == 9 && isNextFromBatchEffectView) return 10;
    return std::nullopt;
}

void SetupTips::btnGotInOnTipsPopupTapped(bool disableChecked) {
    removeTipsPopupWindow();
    if (current_ == 10) {
        defaults_.setObject(QStringLiteral("1"), kDone);
        defaults_.synchronize();
    }
    storeDisabled(disableChecked);
}

void SetupTips::btnDisableTipsTapped(bool checked) { storeDisabled(checked); }

void SetupTips::storeDisabled(bool checked) {
    if (checked) defaults_.setObject(QStringLiteral("1"), kDisabled);
    else defaults_.removeObjectForKey(kDisabled);
    defaults_.synchronize();
}
