#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "batch/BatchRunner.h"
#include "batch/BatchRunnerPool.h"

#include <QStorageInfo>
#include <QTemporaryDir>

namespace {

// Jobs that hold their photo's bytes while they run and note the most held at once.
struct Meter {
    std::vector<std::uint64_t> costs;
    std::mutex m;
    std::uint64_t now = 0, peak = 0;
    int running = 0, peakRunning = 0;
    bool overAloneOnly = true;  // a photo over the budget never ran beside another
    std::uint64_t budget = 0;
    void enter(int i) {
        std::lock_guard<std::mutex> l(m);
        now += costs[std::size_t(i)];
        peak = std::max(peak, now);
        ++running;
        peakRunning = std::max(peakRunning, running);
        if (now > budget && running > 1) overAloneOnly = false;
    }
    void leave(int i) {
        std::lock_guard<std::mutex> l(m);
        now -= costs[std::size_t(i)];
        --running;
    }
};

TEST(PhotosInFlight, PhotosRunningTogetherFitTheBudgetAndALargerOneRunsAlone) {
    struct Case {
        const char* label;
        std::vector<std::uint64_t> costs;
        std::uint64_t budget;
    } const cases[] = {
        {"all fit", {10, 10, 10, 10, 10, 10, 10, 10}, 1000},
        {"two at a time", {40, 40, 40, 40, 40, 40}, 100},
        {"panoramas among small photos", {10, 300, 10, 10, 300, 300, 10, 10}, 100},
        {"every photo over the budget", {500, 500, 500, 500}, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Meter meter;
        meter.costs = c.costs;
        meter.budget = c.budget;
        const int count = int(c.costs.size());
        std::vector<int> ran(std::size_t(count), 0);
        PhotosInFlight pool(0, count, {4, 8, c.budget}, [&](int i) { return c.costs[std::size_t(i)]; },
                            [&](int i) {
                                meter.enter(i);
                                // Long enough for the others to be started beside it.
                                for (int spin = 0; spin < 200000; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
                                ++ran[std::size_t(i)];
                                meter.leave(i);
                            });
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(pool.waitFor(i));
            pool.dealtWith(i);
        }
        pool.close();
        EXPECT_EQ(ran, std::vector<int>(std::size_t(count), 1));
        EXPECT_TRUE(meter.overAloneOnly);
        const std::uint64_t largest = *std::max_element(c.costs.begin(), c.costs.end());
        EXPECT_LE(meter.peak, std::max(c.budget, largest));
        EXPECT_LE(pool.peakBytesRunning(), std::max(c.budget, largest));
    }
}

TEST(PhotosInFlight, RunsUpToItsWorkersAtOnceAndDropsWhatDidNotStartWhenClosed) {
    std::mutex m;
    std::condition_variable cv;
    int started = 0;
    bool release = false;
    std::atomic<int> ran{0};
    PhotosInFlight pool(0, 20, {4, 6, 1000}, [](int) { return 1; }, [&](int) {
        std::unique_lock<std::mutex> l(m);
        ++started;
        cv.notify_all();
        // Held until four run at once (or a generous time has passed, so a fault fails
        // the checks below instead of hanging).
        cv.wait_for(l, std::chrono::seconds(20), [&] { return release || started >= 4; });
        ++ran;
    });
    ASSERT_TRUE(pool.waitFor(0));
    EXPECT_EQ(pool.peakRunning(), 4);
    pool.dealtWith(0);
    {
        std::lock_guard<std::mutex> l(m);
        release = true;
        cv.notify_all();
    }
    pool.close();
    // Six were let ahead of the first photo dealt with; the rest never ran.
    EXPECT_LE(ran.load(), 6);
    EXPECT_GE(ran.load(), 4);
}

TEST(PhotosInFlight, OneWorkerOneAheadWorksStrictlyOnePhotoAtATime) {
    std::vector<int> order;
    std::mutex m;
    PhotosInFlight pool(3, 9, {1, 1, 0}, nullptr, [&](int i) {
        std::lock_guard<std::mutex> l(m);
        order.push_back(i);
    });
    for (int i = 3; i < 9; ++i) {
        ASSERT_TRUE(pool.waitFor(i));
        {
            std::lock_guard<std::mutex> l(m);
            // Nothing ahead of the photo in hand has started.
            EXPECT_EQ(order.back(), i);
        }
        pool.dealtWith(i);
    }
    EXPECT_EQ(order, (std::vector<int>{3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(pool.peakRunning(), 1);
}

TEST(VolumeSpace, TheVolumesFiguresForAFolderOrTheNearestFolderAboveOneToBeMade) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::optional<VolumeSpace> space = BatchRunner::volumeSpaceOf(dir.path());
    ASSERT_TRUE(space);
    const QStorageInfo volume(dir.path());
    EXPECT_EQ(space->totalBytes, std::uint64_t(volume.bytesTotal()));
    // Others write to the volume meanwhile.
    EXPECT_NEAR(double(space->freeBytes), double(volume.bytesAvailable()), 256.0 * 1024 * 1024);
    const std::optional<VolumeSpace> below = BatchRunner::volumeSpaceOf(dir.filePath(QStringLiteral("new/deeper")));
    ASSERT_TRUE(below);
    EXPECT_EQ(below->totalBytes, space->totalBytes);
}

}  // namespace
