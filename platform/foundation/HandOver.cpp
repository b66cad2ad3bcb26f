#include "platform/foundation/HandOver.h"

#include "platform/foundation/ProgramThreads.h"

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <mutex>

namespace platform {

namespace {

// The lock every hand-over passes. The sender holds it until Qt has taken the work, and
// with it everything the sender wrote; the work takes it before it reads anything, so it
// starts after. It is one lock for all: a lock of each hand-over's own could only be
// reached through what the sender wrote. It is held only while Qt queues a call or a task.
std::mutex& handOverLock() {
    static std::mutex lock;
    return lock;
}

// A task on a pool is its thread's first function: what it throws is logged and goes no
// further (out of Qt's pool thread it ends the program).
template <bool kContained>
struct HandedWork {
    std::function<void()> work;

    void operator()() const {
        { const std::lock_guard<std::mutex> received(handOverLock()); }
        if constexpr (kContained) {
            runContained(work);
        } else {
            work();
        }
    }
};

}  // namespace

bool postQueued(QObject* target, std::function<void()> work) {
    if (!target) return false;
    const std::lock_guard<std::mutex> sent(handOverLock());
    return QMetaObject::invokeMethod(target, HandedWork<false>{std::move(work)}, Qt::QueuedConnection);
}

void startOnPool(QThreadPool& pool, std::function<void()> work, int priority) {
    const std::lock_guard<std::mutex> sent(handOverLock());
    pool.start(HandedWork<true>{std::move(work)}, priority);
}

}  // namespace platform
