#include "platform/coreimage/Parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace platform {

namespace {
std::atomic<int> gThreadCount{0};
thread_local bool tInsideBand = false;
// Below this much work a band is not worth a thread start (~20 us).
constexpr double kMinWorkPerThread = 64.0 * 1024.0;
}  // namespace

void setThreadCount(int count) { gThreadCount.store(std::max(0, count)); }

int threadCount() {
    int n = gThreadCount.load();
    if (n > 0) return n;
    return std::max(1u, std::thread::hardware_concurrency());
}

void parallelFor(int first, int last, const std::function<void(int, int)>& fn, double costPerIndex) {
    const int count = last - first;
    if (count <= 0) return;
    int threads = std::min(threadCount(), count);
    const double work = double(count) * std::max(costPerIndex, 1e-9);
    threads = std::min<int>(threads, std::max(1, int(work / kMinWorkPerThread)));
    if (threads <= 1 || tInsideBand) {
        fn(first, last);
        return;
    }
    // More chunks than threads, taken in turn: a thread that the system holds back (a busy
    // machine) leaves its share to the others instead of holding up the whole call.
    const int chunks = std::min(count, threads * 4);
    std::atomic<int> next{0};
    auto runChunks = [&] {
        tInsideBand = true;
        for (int c = next.fetch_add(1); c < chunks; c = next.fetch_add(1)) {
            const int b = first + int((long long)(count) * c / chunks);
            const int e = first + int((long long)(count) * (c + 1) / chunks);
            fn(b, e);
        }
        tInsideBand = false;
    };
    std::vector<std::thread> workers;
    workers.reserve(size_t(threads - 1));
    for (int i = 1; i < threads; ++i) workers.emplace_back(runChunks);
    runChunks();
    for (auto& w : workers) w.join();
}

}  // namespace platform
