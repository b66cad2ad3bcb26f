// Band parallelism when a band fails: the caller hears of it, and only once every band that
// began has ended (other threads must not be left running its function), and the workers
// go on serving later calls.
#include <gtest/gtest.h>

#include "platform/coreimage/Parallel.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

TEST(Parallel, AFailingBandReachesTheCallerAfterEveryBandHasEndedAndTheWorkersGoOn) {
    platform::setThreadCount(4);
    for (int failing : {0, 17, 63}) {
        SCOPED_TRACE(failing);
        std::atomic<int> running{0}, ranAfterReturn{0};
        std::atomic<bool> returned{false};
        bool threw = false;
        try {
            platform::parallelFor(0, 64, [&](int b, int e) {
                ++running;
                // Slow bands: a caller that left early would return while these still run.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (returned) ++ranAfterReturn;
                const bool fails = b <= failing && failing < e;
                --running;
                if (fails) throw std::bad_alloc();
            }, 1e9);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        returned = true;
        EXPECT_TRUE(threw);
        EXPECT_EQ(running.load(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(ranAfterReturn.load(), 0);
    }
    // The workers that carried the failures serve the next call whole.
    std::atomic<int> covered{0};
    platform::parallelFor(0, 1000, [&](int b, int e) { covered += e - b; }, 1e9);
    EXPECT_EQ(covered.load(), 1000);
    platform::setThreadCount(0);
}
