#include "platform/coreimage/Parallel.h"

#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/UsableCpus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {
std::atomic<int> gThreadCount{0};
thread_local bool tInsideBand = false;
// Below this much work a band is not worth handing to another thread.
constexpr double kMinWorkPerThread = 64.0 * 1024.0;

// The kernels' own worker threads. They outlive each call, so a render does not start
// and stop threads (and map and unmap their stacks) for every pass; a thread left idle
// for a minute ends.
// The pool is our own rather than Qt's so that every hand-over of a task is made through
// locks that ThreadSanitizer builds see (Qt's are invisible to them, and each band looked
// like a race). Never destroyed: workers may still be finishing a late, empty task when
// the process exits.
class Workers {
public:
    // False when the task could not be queued (no memory); a thread that cannot be started
    // leaves its task to the threads there are.
    bool start(std::function<void()> task, int maxThreads) {
        std::lock_guard<std::mutex> lock(m_);
        try {
            tasks_.push_back(std::move(task));
        } catch (...) {
            return false;
        }
        if (int(tasks_.size()) > idle_ && threads_ < maxThreads) {
            ++threads_;
            try {
                startThread([this] { work(); }).detach();
                return true;
            } catch (...) {
                // No memory for its stack or for Qt's record of it (kernels' tasks, a band's
                // encoding and its writing among them, may make Qt's objects), or the
                // system's limit of threads.
                --threads_;
            }
        }
        queued_.notify_one();
        return true;
    }

private:
    void work() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            ++idle_;
            const bool woken = queued_.wait_for(lock, std::chrono::seconds(60), [this] { return !tasks_.empty(); });
            --idle_;
            if (!woken) {
                --threads_;
                return;
            }
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            try {
                task();
            } catch (...) {
                // A task's failure is its caller's to hear of (parallelFor's chunks pass it
                // on themselves); out of here it would end the program.
            }
            task = nullptr;  // what it holds goes before the thread waits again
            lock.lock();
        }
    }

    std::mutex m_;
    std::condition_variable queued_;
    std::deque<std::function<void()>> tasks_;
    int threads_ = 0;
    int idle_ = 0;
};

Workers& workers() {
    static Workers* pool = new Workers;
    return *pool;
}

struct Call {
    const std::function<void(int, int)>* fn = nullptr;
    int first = 0, count = 0, chunks = 0;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::mutex m;
    std::condition_variable finished;
    std::exception_ptr failure;  // the first chunk's that threw; guarded by m
};

// Takes chunks until none are left; the last chunk to finish wakes the caller. A chunk that
// throws (a memory shortage, mostly) is counted as done, the chunks not yet begun are
// skipped, and the caller rethrows its exception once every chunk has ended: an exception
// must not end a worker thread (that ends the program), nor leave the caller while other
// threads still run its function.
void runChunks(const std::shared_ptr<Call>& call) noexcept {
    const bool outer = tInsideBand;
    tInsideBand = true;
    for (int c = call->next.fetch_add(1); c < call->chunks; c = call->next.fetch_add(1)) {
        const int b = call->first + int((long long)(call->count) * c / call->chunks);
        const int e = call->first + int((long long)(call->count) * (c + 1) / call->chunks);
        try {
            (*call->fn)(b, e);
        } catch (...) {
            std::lock_guard<std::mutex> l(call->m);
            if (!call->failure) call->failure = std::current_exception();
            // The chunks left are not begun; each counts as done.
            const int skipped = std::max(0, call->chunks - call->next.exchange(call->chunks));
            call->done.fetch_add(skipped);
        }
        if (call->done.fetch_add(1) + 1 == call->chunks) {
            std::lock_guard<std::mutex> l(call->m);
            call->finished.notify_all();
        }
    }
    tInsideBand = outer;
}
}  // namespace

void setThreadCount(int count) { gThreadCount.store(std::max(0, count)); }

int threadCount() {
    int n = gThreadCount.load();
    if (n > 0) return n;
    return usableCpuCount();
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
    // machine) leaves its share to the others instead of holding up the whole call. The
    // caller works too, so the call finishes even when every worker is busy elsewhere.
    auto call = std::make_shared<Call>();
    call->fn = &fn;
    call->first = first;
    call->count = count;
    call->chunks = std::min(count, threads * 4);
    const int helpers = std::max(1, threadCount() - 1);
    for (int i = 1; i < threads; ++i) {
        if (!workers().start([call] { runChunks(call); }, helpers)) break;  // the caller does the rest
    }
    runChunks(call);
    std::unique_lock<std::mutex> l(call->m);
    call->finished.wait(l, [&] { return call->done.load() == call->chunks; });
    if (call->failure) std::rethrow_exception(call->failure);
}

}  // namespace platform
