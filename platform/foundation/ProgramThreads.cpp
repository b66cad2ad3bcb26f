#include "platform/foundation/ProgramThreads.h"

#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

namespace platform {

bool readyForQt() noexcept {
    try {
        return QThread::currentThread() != nullptr;
    } catch (...) {
        return false;
    }
}

std::thread startThread(std::function<void()> work) {
    struct Start {
        std::mutex m;
        std::condition_variable told;
        enum { Waiting, Ready, Failed } state = Waiting;
    };
    // Shared: the new thread tells it after its starter may have gone on.
    const auto start = std::make_shared<Start>();
    std::thread thread([start, work = std::move(work)] {
        const bool ready = readyForQt();
        {
            const std::lock_guard<std::mutex> lock(start->m);
            start->state = ready ? Start::Ready : Start::Failed;
        }
        start->told.notify_one();
        if (ready) work();
    });
    std::unique_lock<std::mutex> lock(start->m);
    start->told.wait(lock, [&] { return start->state != Start::Waiting; });
    if (start->state == Start::Ready) return thread;
    lock.unlock();
    thread.join();
    throw std::bad_alloc();
}

}  // namespace platform
