#include "records/SubWindowHold.h"

#include <QHash>

namespace {

QHash<const std::atomic<bool>*, int>& holds() {
    static QHash<const std::atomic<bool>*, int> counts;
    return counts;
}

}  // namespace

SubWindowHold::~SubWindowHold() {
    while (owners_ > 0) release();
}

void SubWindowHold::acquire() {
    ++owners_;
    ++holds()[&flag_];
    flag_ = true;
}

void SubWindowHold::release() {
    if (owners_ == 0) return;
    --owners_;
    int& count = holds()[&flag_];
    if (--count <= 0) {
        holds().remove(&flag_);
        flag_ = false;
    }
}

void SubWindowHold::setHeld(bool& held, bool on) {
    if (held == on) return;
    held = on;
    if (on) acquire();
    else release();
}

int SubWindowHold::holdsOn(const std::atomic<bool>& flag) { return holds().value(&flag, 0); }
