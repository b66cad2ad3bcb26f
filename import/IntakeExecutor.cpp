#include "import/IntakeExecutor.h"

#include <QThread>
#include <QTimer>
#include <chrono>
#include <future>

#include "platform/foundation/HandOver.h"

ThreadedIntakeExecutor::ThreadedIntakeExecutor() { pool_.setMaxThreadCount(2); }

ThreadedIntakeExecutor::~ThreadedIntakeExecutor() { shutdown(); }

void ThreadedIntakeExecutor::async(Queue queue, std::function<void()> work) {
    if (abandoned_->load()) return;
    platform::startOnPool(pool_, std::move(work), queue == Queue::Count ? 1 : 0);
}

void ThreadedIntakeExecutor::syncMain(const std::function<void()>& work) {
    if (QThread::currentThread() == context_.thread()) {
        work();
        return;
    }
    if (abandoned_->load()) return;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    auto abandoned = abandoned_;
    platform::postQueued(&context_, [&work, done, abandoned] {
        if (!abandoned->load()) work();
        done->set_value();
    });
    // The main thread may be waiting for us in shutdown(); then the call is dropped and
    // `work` (which lives on this stack) is never touched after we return.
    while (finished.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        if (abandoned_->load()) {
            // The queued call may still run later: it only reads `abandoned` then.
            return;
        }
    }
}

void ThreadedIntakeExecutor::afterDelay(int milliseconds, std::function<void()> work) {
    auto abandoned = abandoned_;
    QTimer::singleShot(milliseconds, &context_, [abandoned, work = std::move(work)] {
        if (!abandoned->load()) work();
    });
}

void ThreadedIntakeExecutor::shutdown() {
    abandoned_->store(true);
    pool_.waitForDone();
}
