#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/HandOver.h"
#include "platform/foundation/ProgramThreads.h"

// Calls queued from a pool's task (one hand-over inside another) run on the target's thread,
// in the order they were queued, and not before its events are processed.
TEST(HandOver, QueuedCallsRunOnTheTargetsThreadInOrder) {
    QObject target;
    QThreadPool pool;
    std::vector<int> order;
    QThread* where = nullptr;
    std::atomic<bool> queued{false};
    platform::startOnPool(pool, [&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(platform::postQueued(&target, [&, i] {
                order.push_back(i);
                where = QThread::currentThread();
            }));
        }
        queued = true;
    });
    pool.waitForDone();
    ASSERT_TRUE(queued);
    EXPECT_TRUE(order.empty());
    QCoreApplication::sendPostedEvents(&target, QEvent::MetaCall);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(where, target.thread());
    EXPECT_FALSE(platform::postQueued(nullptr, [] {}));
}

// The intake counts photos ahead of the rest of its queue by a task's priority.
TEST(HandOver, APoolsTaskKeepsItsPriority) {
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::mutex mutex;
    std::vector<int> order;
    const auto note = [&](int what) {
        const std::lock_guard<std::mutex> lock(mutex);
        order.push_back(what);
    };
    platform::startOnPool(pool, [gate] { gate.wait(); });
    platform::startOnPool(pool, [&] { note(0); }, 0);
    platform::startOnPool(pool, [&] { note(1); }, 1);
    open.set_value();
    pool.waitForDone();
    EXPECT_EQ(order, (std::vector<int>{1, 0}));
}

// What a thread or a pool's task the program starts throws ends that work alone: out of
// the thread's first function it would end the program. The pool's thread goes on with the
// next task.
TEST(ProgramThreads, AThrowOutOfAThreadOrAPoolsTaskEndsOnlyThatWork) {
    std::thread thread = platform::startThread([] { throw std::bad_alloc(); });
    thread.join();

    QThreadPool pool;
    pool.setMaxThreadCount(1);
    std::atomic<int> after{0};
    platform::startOnPool(pool, [] { throw std::runtime_error("planted"); });
    platform::startOnPool(pool, [&] { ++after; });
    pool.waitForDone();
    EXPECT_EQ(after.load(), 1);

    std::exception_ptr failure;
    EXPECT_FALSE(platform::runContained([] { throw std::bad_alloc(); }, &failure));
    EXPECT_TRUE(platform::isMemoryShortage(failure));
    EXPECT_FALSE(platform::runContained([] { throw std::runtime_error("planted"); }, &failure));
    EXPECT_FALSE(platform::isMemoryShortage(failure));
    EXPECT_EQ(platform::failureText(failure), QStringLiteral("planted"));
    EXPECT_TRUE(platform::runContained([] {}));
}
