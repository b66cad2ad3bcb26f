#pragma once
// Where the intake's work runs. The count runs on one background queue, the add on
// another; every change of the batch is a synchronous call onto the main thread, one per
// photo, so the main thread never sees half an add. Tests give a manual executor that
// runs the queues when told; the screen uses ThreadedIntakeExecutor.
#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>

class IntakeExecutor {
public:
    enum class Queue {
        Count,  // high priority
        Add,    // default priority
    };
    virtual ~IntakeExecutor() = default;
    // Runs work later on the given background queue.
    virtual void async(Queue queue, std::function<void()> work) = 0;
    // Runs work on the main thread and returns when it has run (at once when called on
    // the main thread). After shutdown() it returns without running it.
    virtual void syncMain(const std::function<void()>& work) = 0;
    // Runs work on the main thread after a delay; never after shutdown().
    virtual void afterDelay(int milliseconds, std::function<void()> work) = 0;
    // Abandons pending main-thread calls and waits for the background work to end.
    // The owner of the work calls it before it goes away.
    virtual void shutdown() = 0;
};

// Real threads: a pool of two (one count and one add at most at a time), main-thread
// calls queued to an object living on the thread that made the executor.
class ThreadedIntakeExecutor : public IntakeExecutor {
public:
    ThreadedIntakeExecutor();
    ~ThreadedIntakeExecutor() override;
    void async(Queue queue, std::function<void()> work) override;
    void syncMain(const std::function<void()>& work) override;
    void afterDelay(int milliseconds, std::function<void()> work) override;
    void shutdown() override;

private:
    QThreadPool pool_;
    QObject context_;  // lives on the main thread
    std::shared_ptr<std::atomic<bool>> abandoned_ = std::make_shared<std::atomic<bool>>(false);
};
