// A suite bench/tsan.sh runs on itself before the real ones, to see that it fails a suite
// that dies part-way and passes one whose process-starting test it runs alone, that it
// fails on each race and misuse planted here, and that work handed over the program's way
// is no report at all.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/foundation/HandOver.h"
#include "tests/support/Sanitizers.h"

namespace {

int startTrue() { return QProcess::execute(QStandardPaths::findExecutable(QStringLiteral("true")), {}); }

// What the planted race is on, and what is handed over without a race; reports name them.
int queuedCallPlant = 0;
int poolTaskPlant = 0;
int workerRacePlant = 0;
int unrelatedHandOverPlant = 0;
int handedOver = 0;

// Unlocks a mutex that nobody holds: a misuse the checker reports (an error-checking mutex,
// so that the call itself only fails).
__attribute__((noinline)) void mutexMisusePlant() {
    pthread_mutexattr_t kind;
    pthread_mutexattr_init(&kind);
    pthread_mutexattr_settype(&kind, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_t mutex;
    pthread_mutex_init(&mutex, &kind);
    EXPECT_NE(pthread_mutex_unlock(&mutex), 0);
    pthread_mutex_destroy(&mutex);
    pthread_mutexattr_destroy(&kind);
}

__attribute__((noinline)) void markFront(QString& text) {
    for (int i = 0; i < 1000; ++i) text.replace(0, 4, QStringLiteral("mark"));
}

}  // namespace

// A worker queues a call to the main thread, as the program's workers hand their results
// back, and then writes what the call reads, ordered with it by nothing.
TEST(TsanScriptCheck, PlantedRaceInAQueuedCall) {
    QObject receiver;
    std::atomic<bool> called{false};
    std::thread worker([&] {
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
                EXPECT_GE(queuedCallPlant, 0);
                called = true;
            },
            Qt::QueuedConnection);
        queuedCallPlant = 1;
    });
    while (!called) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
}

// The same in a task on a Qt pool: the main thread writes what the task reads after it
// started the task.
TEST(TsanScriptCheck, PlantedRaceInAPoolTask) {
    QThreadPool pool;
    std::atomic<bool> ran{false};
    pool.start([&] {
        EXPECT_GE(poolTaskPlant, 0);
        ran = true;
    });
    poolTaskPlant = 1;
    while (!ran) std::this_thread::yield();
    pool.waitForDone();
}

// Two threads of ours, one writing what the other reads, ordered by nothing.
TEST(TsanScriptCheck, PlantedRaceBetweenTwoWorkers) {
    std::atomic<bool> written{false};
    std::thread writer([&] {
        workerRacePlant = 1;
        written.store(true, std::memory_order_relaxed);
    });
    std::thread reader([&] {
        while (!written.load(std::memory_order_relaxed)) std::this_thread::yield();
        EXPECT_EQ(workerRacePlant, 1);
    });
    writer.join();
    reader.join();
}

// A worker writes, then hands something else over (a queued call to an object nobody reads
// it for); work handed over elsewhere afterwards (a task the main thread starts on a pool)
// reads what the worker wrote. Only the worker's own hand-over is ordered after its write:
// the task's is not, so the read races with it.
TEST(TsanScriptCheck, PlantedRaceBesideAnUnrelatedHandOver) {
    QObject unrelated;
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        unrelatedHandOverPlant = 1;
        platform::postQueued(&unrelated, [] {});
        posted.store(true, std::memory_order_relaxed);
    });
    while (!posted.load(std::memory_order_relaxed)) std::this_thread::yield();
    QThreadPool pool;
    std::atomic<int> seen{0};
    platform::startOnPool(pool, [&] { seen.store(unrelatedHandOverPlant, std::memory_order_relaxed); });
    while (seen.load(std::memory_order_relaxed) == 0) std::this_thread::yield();
    pool.waitForDone();
    worker.join();
    QCoreApplication::sendPostedEvents(&unrelated, QEvent::MetaCall);
}

// A mutex misused in a call a worker queued to the main thread: Qt's event loop is on the
// stack below it, and the misuse is ours all the same.
TEST(TsanScriptCheck, PlantedMutexMisuseInAQueuedCall) {
    QObject receiver;
    std::atomic<bool> called{false};
    std::thread worker([&] {
        platform::postQueued(&receiver, [&] {
            mutexMisusePlant();
            called = true;
        });
    });
    worker.join();
    while (!called) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// What a thread wrote before it handed work over, read by the work on another thread: Qt
// orders the two, and platform's hand-overs let the checker see it. The waits between the
// threads are relaxed, so that only the hand-over orders anything: the call is delivered
// without the event loop (whose wake-up the checker would see), and the pool's task waits
// in the pool's queue for a busy thread (a thread's start or wake-up would order it).
TEST(TsanScriptCheck, HandOverThroughAQueuedCallAndAPool) {
    QObject receiver;
    std::atomic<bool> posted{false};
    std::atomic<bool> called{false};
    std::thread worker([&] {
        handedOver = 1;
        platform::postQueued(&receiver, [&] {
            EXPECT_EQ(handedOver, 1);
            called.store(true, std::memory_order_relaxed);
        });
        posted.store(true, std::memory_order_relaxed);
    });
    while (!posted.load(std::memory_order_relaxed)) std::this_thread::yield();
    QCoreApplication::sendPostedEvents(&receiver, QEvent::MetaCall);
    EXPECT_TRUE(called.load(std::memory_order_relaxed));
    worker.join();

    QThreadPool pool;
    pool.setMaxThreadCount(1);
    std::atomic<bool> queued{false};
    std::atomic<int> seen{0};
    pool.start([&] {
        while (!queued.load(std::memory_order_relaxed)) std::this_thread::yield();
    });
    handedOver = 2;
    platform::startOnPool(pool, [&] { seen.store(handedOver, std::memory_order_relaxed); });
    queued.store(true, std::memory_order_relaxed);
    while (seen.load(std::memory_order_relaxed) == 0) std::this_thread::yield();
    EXPECT_EQ(seen.load(std::memory_order_relaxed), 2);
    pool.waitForDone();
}

// Two threads writing into one string: Qt's code makes the accesses, our threads misuse the
// object. Its length never changes, so its buffer never moves under the other thread.
TEST(TsanScriptCheck, PlantedMisuseOfAQString) {
    QString text(100, QLatin1Char('x'));
    std::thread first([&] { markFront(text); });
    std::thread second([&] { markFront(text); });
    first.join();
    second.join();
    EXPECT_EQ(text, QStringLiteral("mark") + QString(96, QLatin1Char('x')));
}

TEST(TsanScriptCheck, Passes) { SUCCEED(); }

TEST(TsanScriptCheck, StartsAProcessWhenAlone) {
    BRISKO_STARTS_A_PROCESS();
    EXPECT_EQ(startTrue(), 0);
}

// Starts a process without saying so while another thread runs, as a suite's test did
// beside its pool's threads, then a thread: the checker stops the process there. Should a
// later checker survive it, the process still ends here, with status 0, as the checker's
// own stop did when told to use 0.
TEST(TsanScriptCheck, DiesAfterStartingAProcess) {
    std::atomic<bool> done{false};
    std::thread pool([&] {
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_EQ(startTrue(), 0);
    std::thread([] {}).join();
    done = true;
    pool.join();
    std::_Exit(0);
}

TEST(TsanScriptCheck, NeverReached) { SUCCEED(); }
