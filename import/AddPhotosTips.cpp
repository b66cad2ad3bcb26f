#include "import/AddPhotosTips.h"

namespace {

const QString kTipsDisable = QString::fromLatin1(platform::DefaultsKey::TipsIsDisable);
const QString kTipsDone = QString::fromLatin1(platform::DefaultsKey::TipsAddPhotosView);

}  // namespace

std::optional<AddPhotosTips::Tip> AddPhotosTips::tipWithTag(int tag) {
    switch (tag) {
    case DropArea:
        return Tip{tag,
                   QStringLiteral("Drag and Drop your Photos/Folders here, or click on 'ADD PHOTOS/FOLDER' button to "
                                  "add your photos for batch editing."),
                   150, true};
    case Library: return Tip{tag, QStringLiteral("Click here to import your iPhoto/Photos library directly."), 110, false};
    case SelectEffects:
        return Tip{tag,
                   QStringLiteral("Click on 'SELECT BATCH EFFECTS' button to start applying effects to your batch of "
                                  "photos."),
                   130, false};
    default: return std::nullopt;
    }
}

bool AddPhotosTips::isTipsAlreadyDisplayed() const {
    return defaults_.containsKey(kTipsDisable) || defaults_.containsKey(kTipsDone);
}

std::optional<AddPhotosTips::Tip> AddPhotosTips::request(int tag) {
    const auto tip = tipWithTag(tag);
    if (!tip) return std::nullopt;
    if (isTipsAlreadyDisplayed()) {
        if (tag != SelectEffects) earlyTipsAhead_ = false;  // their turn is over
        return std::nullopt;
    }
    if (tag == SelectEffects && earlyTipsAhead_) {
        selectEffectsWaiting_ = true;
        return std::nullopt;
    }
    current_ = tag;
    open_ = true;
    return tip;
}

std::optional<int> AddPhotosTips::closed(bool disableChecked) {
    if (!open_) return std::nullopt;
    open_ = false;
    std::optional<int> next;
    if (current_ == DropArea) next = Library;
    if (current_ == Library) {
        earlyTipsAhead_ = false;
        if (selectEffectsWaiting_) next = SelectEffects;
    }
    if (current_ == SelectEffects) {
        selectEffectsWaiting_ = false;
        defaults_.setObject(QStringLiteral("1"), kTipsDone);
    }
    // The box is the user's word for every tip of the application, on or off.
    if (disableChecked) defaults_.setObject(QStringLiteral("1"), kTipsDisable);
    else defaults_.removeObjectForKey(kTipsDisable);
    defaults_.synchronize();
    if (disableChecked) return std::nullopt;
    return next;
}

void AddPhotosTips::dropped() {
    open_ = false;
    earlyTipsAhead_ = false;
}
