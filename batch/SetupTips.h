#pragma once
// The first-run tips of the rename-and-convert view: tip 7 (what the view does), 8 (the
// errors and warnings of the new paths), 9 (the destination folder) and 10 (the start
// button). Next walks on; Got It on tip 10 marks the walk done; a check box switches all
// tips off. Inside the effects screen the walk ends after tip 9 and starts again at the
// next preview until the user switches tips off.
#include <QString>
#include <optional>

#include "platform/foundation/UserDefaults.h"

class SetupTips {
public:
    struct Tip {
        int tag = 0;
        QString text;
        int height = 0;
        QString button;  // "Next" or "Got It"
        int side = 0;    // side of the pop-up: 1 below, 2 right, 3 above
    };
    static std::optional<Tip> tipWithTag(int tag);

    explicit SetupTips(platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults())
        : defaults_(defaults) {}

    // Where the view sits: inside the effects screen, or reached with Next from it.
    bool isInsideBatchEffectView = false;
    bool isNextFromBatchEffectView = false;

    // True when the tips are switched off or the walk was completed.
    bool isTipsAlreadyDisplayed() const;
    // A request for a tip: the tip to show, or nothing (tips off, walk done).
    std::optional<Tip> showTipsWithTag(int tag);
    int currentTips() const { return current_; }
    bool isOpen() const { return open_; }
    // Next: closes the tip; the tag to request after the pause, if the walk goes on.
    std::optional<int> btnNextOnTipsPopupTapped();
    // Got It with the check box's state; closes the tip.
    void btnGotInOnTipsPopupTapped(bool disableChecked);
    // The check box: stored at once.
    void btnDisableTipsTapped(bool checked);
    void removeTipsPopupWindow() { open_ = false; }

private:
    void storeDisabled(bool checked);

    platform::UserDefaults& defaults_;
    int current_ = 0;
    bool open_ = false;
};
