#include "platform/foundation/HandOver.h"

#include "platform/foundation/ProgramThreads.h"

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#if defined(__SANITIZE_THREAD__)
#define BRISKO_HAND_OVER_TOLD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BRISKO_HAND_OVER_TOLD 1
#endif
#endif
#ifdef BRISKO_HAND_OVER_TOLD
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

namespace {

#ifdef BRISKO_HAND_OVER_TOLD
// The order Qt keeps between the threads that make, run and free one piece of work, told to
// the checker on an address of that work's own. Every copy the sender makes releases it
// (the last one, made before Qt queues it, is where Qt keeps the work, so its address is
// all the receiver needs); the thread that runs the work acquires it before and releases
// it after; and whichever thread frees the work acquires it first (the receiver; the
// sender, when Qt lets go of a queued call only after it ran; a thread that clears a pool
// or deletes a receiver with the work unrun). A hand-over thus orders its own sender,
// receiver and freer, and no other thread's work.
class Edge {
public:
    Edge() { __tsan_release(this); }
    Edge(const Edge&) { __tsan_release(this); }
    Edge(Edge&& other) noexcept {
        other.live_ = false;
        __tsan_release(this);
    }
    Edge& operator=(const Edge&) = delete;
    ~Edge() {
        if (live_) __tsan_acquire(this);
    }
    void enter() const { __tsan_acquire(const_cast<Edge*>(this)); }
    void leave() const { __tsan_release(const_cast<Edge*>(this)); }

private:
    bool live_ = true;  // false once moved from: nothing was handed over through it
};
#else
// Qt's own order is all a build without the checker needs.
struct Edge {
    void enter() const {}
    void leave() const {}
};
#endif

// The work as Qt holds it. The edge comes after the work among the members: it is
// released once the work is in place, and acquired before the work is destroyed.
template <bool kContained>
class Handed {
public:
    explicit Handed(std::function<void()> work) : work_(std::move(work)) {}

    void operator()() const {
        edge_.enter();
        if constexpr (kContained) {
            runContained(work_);
        } else {
            work_();
        }
        edge_.leave();
    }

private:
    std::function<void()> work_;
    [[no_unique_address]] Edge edge_;
};

}  // namespace

bool postQueued(QObject* target, std::function<void()> work) {
    if (!target) return false;
    return QMetaObject::invokeMethod(target, Handed<false>(std::move(work)), Qt::QueuedConnection);
}

void startOnPool(QThreadPool& pool, std::function<void()> work, int priority) {
    pool.start(Handed<true>(std::move(work)), priority);
}

}  // namespace platform
