#pragma once
// The delays of the effects screen (the preview refresh after typing, the progress
// display) share one slot: starting a call replaces the pending one. Tests use a scheduler
// they fire by hand; the screen uses the Qt one.
#include <QObject>
#include <QTimer>
#include <functional>

class OneShotScheduler {
public:
    virtual ~OneShotScheduler() = default;
    // Runs fn once after the delay on the main thread; a pending call is dropped first.
    virtual void start(int milliseconds, std::function<void()> fn) = 0;
    virtual void cancel() = 0;
    virtual bool isPending() const = 0;
};

class QtOneShotScheduler : public OneShotScheduler {
public:
    QtOneShotScheduler();
    void start(int milliseconds, std::function<void()> fn) override;
    void cancel() override;
    bool isPending() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> fn_;
};

// A scheduler that only runs its call when told to; the delay is kept for inspection.
class ManualOneShotScheduler : public OneShotScheduler {
public:
    void start(int milliseconds, std::function<void()> fn) override {
        delay_ = milliseconds;
        fn_ = std::move(fn);
        ++starts_;
    }
    void cancel() override { fn_ = nullptr; }
    bool isPending() const override { return bool(fn_); }
    // Runs the pending call, if any; true when one ran.
    bool fire() {
        if (!fn_) return false;
        auto fn = std::move(fn_);
        fn_ = nullptr;
        fn();
        return true;
    }
    int lastDelay() const { return delay_; }
    int starts() const { return starts_; }

private:
    std::function<void()> fn_;
    int delay_ = -1;
    int starts_ = 0;
};
