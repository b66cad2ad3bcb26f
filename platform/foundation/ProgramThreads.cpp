#include "platform/foundation/ProgramThreads.h"

#include "platform/foundation/Log.h"

#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

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
        if (ready) runContained(work);
    });
    std::unique_lock<std::mutex> lock(start->m);
    start->told.wait(lock, [&] { return start->state != Start::Waiting; });
    if (start->state == Start::Ready) return thread;
    lock.unlock();
    thread.join();
    throw std::bad_alloc();
}

bool runContained(const std::function<void()>& work, std::exception_ptr* failure) noexcept {
    try {
        work();
        return true;
    } catch (...) {
        log(u"background work failed: %@", failureText(std::current_exception()));
        if (failure) *failure = std::current_exception();
        return false;
    }
}

bool isMemoryShortage(const std::exception_ptr& failure) noexcept {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return true;
    } catch (const std::system_error& e) {
        return e.code() == std::errc::resource_unavailable_try_again || e.code() == std::errc::not_enough_memory;
    } catch (...) {
    }
    return false;
}

QString failureText(const std::exception_ptr& failure) noexcept {
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            return QString::fromLocal8Bit(e.what());
        }
    } catch (...) {
    }
    return QStringLiteral("an unknown error");
}

}  // namespace platform
