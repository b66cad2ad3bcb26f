#include "editor/OneShotScheduler.h"

QtOneShotScheduler::QtOneShotScheduler() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        auto fn = std::move(fn_);
        fn_ = nullptr;
        if (fn) fn();
    });
}

void QtOneShotScheduler::start(int milliseconds, std::function<void()> fn) {
    timer_.stop();
    fn_ = std::move(fn);
    timer_.start(milliseconds);
}

void QtOneShotScheduler::cancel() {
    timer_.stop();
    fn_ = nullptr;
}
