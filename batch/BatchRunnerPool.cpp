#include "batch/BatchRunnerPool.h"

#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/UsableCpus.h"
#include "platform/foundation/UsableMemory.h"

#include <algorithm>
#include <chrono>

PhotosInFlight::PhotosInFlight(int first, int last, Limits limits, std::function<std::uint64_t(int)> cost,
                               std::function<void(int)> run)
    : first_(first),
      last_(std::max(first, last)),
      limits_{std::max(1, limits.workers), std::max(1, limits.ahead), limits.budgetBytes},
      cost_(std::move(cost)),
      run_(std::move(run)),
      photos_(std::size_t(last_ - first_)),
      nextToStart_(first),
      nextToTake_(first),
      headIndex_(first) {
    const int threads = std::min(limits_.workers, last_ - first_);
    threads_.reserve(std::size_t(std::max(0, threads)));
    for (int i = 0; i < threads; ++i) {
        try {
            threads_.push_back(platform::startThread([this] { work(); }));
        } catch (...) {
            // Memory or the system's threads ran short: the photos go through the threads
            // there are, or, with none, through the caller's (see waitFor).
            break;
        }
    }
}

PhotosInFlight::~PhotosInFlight() { close(); }

int PhotosInFlight::defaultWorkers() { return platform::usableCpuCount(); }

std::uint64_t PhotosInFlight::defaultBudgetBytes() {
    const platform::UsableMemory usable = platform::usableMemoryNow();
    // A quarter of the machine's memory; under a limit of the process or its group, at most
    // half of what the limit leaves: the other half is for what the photos' estimates leave
    // out (threads' stacks and heaps, the encoders' own buffers, the program itself).
    std::uint64_t budget = usable.machineBytes / 4;
    if (usable.leftByLimits) budget = std::min(budget, *usable.leftByLimits / 2);
    return std::max<std::uint64_t>(budget, 1);
}

bool PhotosInFlight::startWhatFits(std::unique_lock<std::mutex>& lock) {
    bool started = false;
    while (!closed_ && nextToStart_ < last_ && nextToStart_ - headIndex_ < limits_.ahead) {
        Photo& photo = photos_[std::size_t(nextToStart_ - first_)];
        if (!photo.started && photo.cost == 0) {
            // A file header is read for the cost; the workers need not wait for that.
            const int index = nextToStart_;
            lock.unlock();
            const std::uint64_t cost = std::max<std::uint64_t>(1, cost_ ? cost_(index) : 1);
            lock.lock();
            photo.cost = cost;
            if (closed_) break;
        }
        // The first photo not dealt with always starts; others while the photos
        // queued and running fit the budget together, or none is running.
        const bool head = nextToStart_ == headIndex_;
        if (!head && bytesRunning_ > 0 && bytesRunning_ + photo.cost > limits_.budgetBytes) break;
        photo.started = true;
        bytesRunning_ += photo.cost;
        peakBytes_ = std::max(peakBytes_, bytesRunning_);
        ++nextToStart_;
        started = true;
    }
    return started;
}

void PhotosInFlight::work() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        queued_.wait(lock, [this] { return closed_ || nextToTake_ < nextToStart_; });
        if (closed_) return;
        const int index = nextToTake_;
        lock.unlock();
        runOne(index);
        lock.lock();
    }
}

void PhotosInFlight::runOne(int index) {
    {
        const std::lock_guard<std::mutex> lock(m_);
        if (nextToTake_ != index) return;  // taken meanwhile
        ++nextToTake_;
        ++running_;
        peakRunning_ = std::max(peakRunning_, running_);
    }
    try {
        run_(index);
    } catch (...) {
        // run must not throw; should it all the same, the photo is done rather than the
        // program ended.
    }
    {
        const std::lock_guard<std::mutex> lock(m_);
        --running_;
        Photo& photo = photos_[std::size_t(index - first_)];
        photo.done = true;
        bytesRunning_ -= photo.cost;
    }
    // Told after the lock is let go: the woken run thread often takes this core at once,
    // and holding the lock then would make it, and the next worker, wait for this one to be
    // scheduled again.
    progress_.notify_all();
}

bool PhotosInFlight::waitFor(int index, const std::function<bool()>& enough) {
    std::unique_lock<std::mutex> lock(m_);
    if (index < first_ || index >= last_ || index != headIndex_) return false;
    for (;;) {
        if (startWhatFits(lock)) {
            lock.unlock();
            queued_.notify_all();
            lock.lock();
        }
        const Photo& photo = photos_[std::size_t(index - first_)];
        if (photo.done) return true;
        if (closed_) return false;
        if (enough && enough()) return false;
        if (threads_.empty() && nextToTake_ == index && nextToTake_ < nextToStart_) {
            // No worker could be started: the photo is worked on here.
            lock.unlock();
            runOne(index);
            lock.lock();
            continue;
        }
        progress_.wait(lock);
    }
}

void PhotosInFlight::dealtWith(int index) {
    std::lock_guard<std::mutex> lock(m_);
    if (index == headIndex_ && headIndex_ < last_) ++headIndex_;
}

void PhotosInFlight::wake() {
    // Taken and let go so that the news is seen by a waiter that has looked and not yet
    // gone to sleep; told outside it.
    { const std::lock_guard<std::mutex> lock(m_); }
    progress_.notify_all();
}

void PhotosInFlight::close() {
    {
        std::lock_guard<std::mutex> lock(m_);
        closed_ = true;
        // Photos queued but not taken never run.
        nextToStart_ = nextToTake_;
    }
    queued_.notify_all();
    progress_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable()) t.join();
    }
    threads_.clear();
}

std::uint64_t PhotosInFlight::peakBytesRunning() const {
    std::lock_guard<std::mutex> lock(m_);
    return peakBytes_;
}

int PhotosInFlight::peakRunning() const {
    std::lock_guard<std::mutex> lock(m_);
    return peakRunning_;
}

bool DiskRoom::admit(int index, std::uint64_t bytes, const std::function<std::optional<std::uint64_t>()>& freeBytes,
                     const std::function<bool()>& stopped) {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        if (index <= inHand_) break;
        lock.unlock();
        const std::optional<std::uint64_t> free = freeBytes ? freeBytes() : std::nullopt;
        lock.lock();
        if (!free || *free >= limit_ + reserved_ + bytes) break;
        if (stopped && stopped()) return false;
        // The free space changes as other programs write too, so it is looked at again now
        // and then, not only when a photo of this run moves on.
        changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    reserved_ += bytes;
    return true;
}

void DiskRoom::release(std::uint64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(m_);
        reserved_ -= std::min(reserved_, bytes);
    }
    changed_.notify_all();
}

void DiskRoom::setPhotoInHand(int index) {
    {
        std::lock_guard<std::mutex> lock(m_);
        inHand_ = index;
    }
    changed_.notify_all();
}

std::uint64_t outputRoomFor(const QSize& size) {
    const std::uint64_t pixels = std::uint64_t(std::max(0, size.width())) * std::uint64_t(std::max(0, size.height()));
    return 2 * (4 * pixels + (1u << 16));
}
