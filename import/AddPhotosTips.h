#pragma once
// The add-photos screen's three first-use tips as a chain with no widget: tip 0 (the drop
// area) and tip 1 (the photo library) when the screen first appears, tip 2 (on to the
// effects) after an add. Each tip is asked for by a timer of its own, so asking for one
// never cancels another; tip 2 waits while the first two are still to come, and follows
// them. Closing tip 2 marks the chain done for good; the check box switches every tip of
// the application off.
#include <QString>
#include <optional>

#include "platform/foundation/UserDefaults.h"

class AddPhotosTips {
public:
    enum Tag { DropArea = 0, Library = 1, SelectEffects = 2 };
    struct Tip {
        int tag = 0;
        QString text;
        int height = 0;     // the content's height
        bool next = false;  // the Next button (else Got It)
    };
    // Delays before a tip is asked for (ms).
    static constexpr int kFirstTipDelay = 800, kNextTipDelay = 300, kAfterAddDelay = 200;

    static std::optional<Tip> tipWithTag(int tag);
    static QString timerKey(int tag) { return QStringLiteral("tip%1").arg(tag); }

    explicit AddPhotosTips(platform::UserDefaults& defaults) : defaults_(defaults) {}

    // Tips switched off, or the chain completed at some earlier time.
    bool isTipsAlreadyDisplayed() const;
    // The screen appeared for the first time: tip 0 is to be asked for.
    void chainStarted() { earlyTipsAhead_ = true; }
    // A timer asked for `tag`: the tip to show now, or nothing (tips off, or tip 2 waiting
    // for the first two, which then bring it).
    std::optional<Tip> request(int tag);
    // The open tip was closed with the check box in that state; the tip to ask for next
    // (after kNextTipDelay), if any.
    std::optional<int> closed(bool disableChecked);
    int currentTips() const { return current_; }
    bool isOpen() const { return open_; }
    // The tip went without an answer (the screen disappeared, or its turn came while the
    // screen was not shown): nothing is stored, and tip 2 no longer waits for the first two.
    void dropped();

private:
    platform::UserDefaults& defaults_;
    int current_ = -1;
    bool open_ = false;
    bool earlyTipsAhead_ = false;  // tips 0 and 1 are still to be shown this launch
    bool selectEffectsWaiting_ = false;
};
