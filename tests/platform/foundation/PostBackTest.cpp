#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>
#include <thread>

#include "platform/foundation/PostBack.h"

using platform::PostBack;

TEST(PostBack, RunsOnTheObjectsThreadAndNeverAfterItIsGone) {
    auto object = std::make_unique<QObject>();
    PostBack back(object.get());
    QThread* where = nullptr;
    int ran = 0;
    std::thread worker([&] {
        EXPECT_TRUE(back.post([&] { where = QThread::currentThread(); ++ran; }));
        EXPECT_TRUE(back.post([&] { ++ran; }));
    });
    worker.join();
    EXPECT_EQ(ran, 0) << "queued, not run on the worker";
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(where, QCoreApplication::instance()->thread());

    // Work still queued when the object goes is dropped with it; later posts are refused.
    EXPECT_TRUE(back.post([&] { ++ran; }));
    object.reset();
    EXPECT_FALSE(back.isAlive());
    EXPECT_FALSE(back.post([&] { ++ran; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 2);
}

// A worker posting without pause while the object is destroyed on the main thread: no post
// may reach the freed object (AddressSanitizer builds see any that does).
TEST(PostBack, WorkerPostingWhileTheObjectIsDestroyed) {
    for (int round = 0; round < 50; ++round) {
        auto object = std::make_unique<QObject>();
        PostBack back(object.get());
        std::atomic<int> posted{0};
        std::thread worker([&] {
            while (back.post([] {})) ++posted;
        });
        while (posted.load() < 20) QThread::yieldCurrentThread();
        object.reset();
        worker.join();
        QCoreApplication::processEvents();
        EXPECT_FALSE(back.isAlive());
    }
}
