#pragma once
// The application's one count of what holds it busy: open sheets, pop-ups, choosers, tips
// and loading overlays. Every holder bound to the same flag adds to one count, and the
// flag stays set while anything holds it, so closing one thing never frees the window
// under another that is still open. A holder lets go of what it holds when it goes.
// Main thread only.
#include <atomic>

class SubWindowHold {
public:
    explicit SubWindowHold(std::atomic<bool>& flag) : flag_(flag) {}
    ~SubWindowHold();
    SubWindowHold(const SubWindowHold&) = delete;
    SubWindowHold& operator=(const SubWindowHold&) = delete;

    // Holds once more (nested holds each need their release).
    void acquire();
    // Lets go of one hold; nothing when none is held.
    void release();
    // For one thing that is open or not (a tip, an overlay): `held` says whether it holds
    // now; holds or lets go only when that changes, so showing it twice holds once.
    void setHeld(bool& held, bool on);
    // What this holder holds.
    int owners() const { return owners_; }
    // Anything open, here or elsewhere in the window.
    bool isBusy() const { return flag_.load(); }
    // Every hold on the flag, of all holders.
    static int holdsOn(const std::atomic<bool>& flag);

private:
    std::atomic<bool>& flag_;
    int owners_ = 0;
};
