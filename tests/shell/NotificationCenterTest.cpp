#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include "platform/foundation/NotificationCenter.h"

using platform::DeliverOn;
using platform::Notification;
using platform::NotificationCenter;

TEST(NotificationCenter, DeliversByNameSenderAndToken) {
    NotificationCenter center;
    QStringList seen;
    int sender = 0, other = 0;
    auto a = center.addObserver(QStringLiteral("A"), [&](const Notification& n) {
        seen << n.name + n.userInfo.value(QStringLiteral("k")).toString();
    });
    center.addObserver(QStringLiteral("B"), [&](const Notification& n) { seen << QStringLiteral("B-from-sender"); },
                       DeliverOn::PostingThread, nullptr, &sender);
    center.addObserver({}, [&](const Notification& n) { seen << QStringLiteral("any:") + n.name; });

    center.postNotification(QStringLiteral("A"), {{QStringLiteral("k"), 1}});
    center.postNotification(QStringLiteral("B"), {}, &other);
    center.postNotification(QStringLiteral("B"), {}, &sender);
    center.removeObserver(a);
    center.postNotification(QStringLiteral("A"));
    EXPECT_EQ(seen, (QStringList{"A1", "any:A", "any:B", "B-from-sender", "any:B", "any:A"}));
}

TEST(NotificationCenter, ObserversMayChangeTheCentreWhileBeingCalled) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::Token self = 0;
    self = center.addObserver(QStringLiteral("X"), [&](const Notification&) {
        ++calls;
        center.removeObserver(self);  // removing itself from inside a delivery
        center.addObserver(QStringLiteral("Y"), [&](const Notification&) { ++calls; });
        center.postNotification(QStringLiteral("Y"));
    });
    center.postNotification(QStringLiteral("X"));
    center.postNotification(QStringLiteral("X"));
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenter, ContextDestructionRemovesItsObservers) {
    NotificationCenter center;
    int calls = 0;
    {
        QObject context;
        center.addObserver(QStringLiteral("X"), [&](const Notification&) { ++calls; }, DeliverOn::PostingThread, &context);
        center.postNotification(QStringLiteral("X"));
    }
    center.postNotification(QStringLiteral("X"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(center.observerCount(), 0);
}

TEST(NotificationCenter, MainThreadObserversRunOnTheMainThreadFromWorkers) {
    NotificationCenter center;
    std::atomic<int> mainCalls{0}, postingCalls{0};
    std::atomic<bool> wrongThread{false};
    QThread* mainThread = QCoreApplication::instance()->thread();
    center.addObserver(QStringLiteral("W"), [&](const Notification&) {
        if (QThread::currentThread() != mainThread) wrongThread = true;
        ++mainCalls;
    }, DeliverOn::MainThread);
    auto removed = center.addObserver(QStringLiteral("W"), [&](const Notification&) { ++mainCalls; },
                                      DeliverOn::MainThread);
    center.addObserver(QStringLiteral("W"), [&](const Notification&) {
        if (QThread::currentThread() == mainThread) wrongThread = true;  // posted from workers only
        ++postingCalls;
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&center] {
            for (int k = 0; k < 50; ++k) center.postNotification(QStringLiteral("W"));
        });
    }
    for (auto& t : workers) t.join();
    // Queued deliveries wait for the main loop; an observer removed meanwhile never runs.
    center.removeObserver(removed);
    EXPECT_EQ(mainCalls.load(), 0);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(mainCalls.load(), 200);
    EXPECT_EQ(postingCalls.load(), 200);
    EXPECT_FALSE(wrongThread.load());
}
