// A suite bench/tsan.sh runs on itself before the real ones, to see that it fails a suite
// that dies part-way and passes one whose process-starting test it runs alone.
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/Sanitizers.h"

namespace {

int startTrue() { return QProcess::execute(QStandardPaths::findExecutable(QStringLiteral("true")), {}); }

}  // namespace

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
