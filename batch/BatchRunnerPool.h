#pragma once
// The photos a run has in flight: a bounded pool that works on photos of the batch ahead of
// the one being placed, taking them strictly in batch order. What one photo costs at its
// peak (its decoded pixels and working copies) is weighed against a memory budget, so a
// batch of very large photos does not multiply the run's peak: photos start only while
// those running fit the budget together, or one runs alone. The run's own thread takes
// the finished photos in order and tells the pool when each is dealt with.
#include <QSize>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class PhotosInFlight {
public:
    struct Limits {
        int workers = 1;                 // threads working on photos
        int ahead = 1;                   // photos started but not yet dealt with, at most
        std::uint64_t budgetBytes = 0;   // peak working sizes of the photos running at once
    };
    // Photos [first, last) of the batch. cost(i) is photo i's peak working size in bytes;
    // it is asked for on the thread that calls waitFor. run(i) does photo i's work on a
    // pool thread; it must not throw.
    PhotosInFlight(int first, int last, Limits limits, std::function<std::uint64_t(int)> cost,
                   std::function<void(int)> run);
    // Drops the photos not started and waits for those running.
    ~PhotosInFlight();

    // Starts what the limits allow, then waits until photo `index` (the first not yet dealt
    // with) has been worked on, or until `enough` (checked under the pool's lock whenever
    // a job calls wake or ends) says so. Returns whether the photo's work is done.
    bool waitFor(int index, const std::function<bool()>& enough = {});
    // The run is done with photo `index` (the first not yet dealt with).
    void dealtWith(int index);
    // A job has news for the thread in waitFor.
    void wake();
    // No more photos start; returns once the running ones have ended.
    void close();

    // What the pool reached at its busiest (tests).
    std::uint64_t peakBytesRunning() const;
    int peakRunning() const;

    // Defaults for a run: one worker per CPU the process may use; a quarter of the machine's
    // memory, or half of what the process's and its group's limits leave when that is less.
    static int defaultWorkers();
    static std::uint64_t defaultBudgetBytes();

private:
    // Admits what the limits allow; true when a photo was queued (the workers are then to
    // be told, once the lock is let go).
    bool startWhatFits(std::unique_lock<std::mutex>& lock);
    void work();
    // Works on photo `index` when it is still the next to take (called without the lock).
    void runOne(int index);

    struct Photo {
        std::uint64_t cost = 0;
        bool started = false;  // admitted: queued or running
        bool done = false;
    };
    const int first_, last_;
    const Limits limits_;
    std::function<std::uint64_t(int)> cost_;
    std::function<void(int)> run_;

    mutable std::mutex m_;
    std::condition_variable queued_;    // workers wait for photos
    std::condition_variable progress_;  // waitFor waits for jobs
    std::vector<Photo> photos_;         // by index - first
    int nextToStart_;
    int nextToTake_;                    // the next queued photo a worker takes
    int headIndex_;                     // the first photo not dealt with
    std::uint64_t bytesRunning_ = 0;
    int running_ = 0;
    std::uint64_t peakBytes_ = 0;
    int peakRunning_ = 0;
    bool closed_ = false;
    std::vector<std::thread> threads_;
};

// Room on the destination volume for outputs written ahead of the photo in hand. The run
// checks the free space for each photo in batch order just before placing it, but the photos
// ahead of it are already being written into the destination folders: without a limit, a
// nearly full disk would fill past that check. A photo ahead starts writing only while the
// free space, less what the photos being written may still take, stays above the limit; the
// photo in hand always may (its own check follows).
class DiskRoom {
public:
    explicit DiskRoom(std::uint64_t limitBytes) : limit_(limitBytes) {}
    // Waits until photo `index` may write up to `bytes`, asking `freeBytes` (nullopt: not
    // known, so not held back); false when `stopped` said so first.
    bool admit(int index, std::uint64_t bytes, const std::function<std::optional<std::uint64_t>()>& freeBytes,
               const std::function<bool()>& stopped);
    // The photo's output is written (its bytes now show in the free space) or given up.
    void release(std::uint64_t bytes);
    // The run has taken up photo `index`.
    void setPhotoInHand(int index);

private:
    const std::uint64_t limit_;
    std::mutex m_;
    std::condition_variable changed_;
    std::uint64_t reserved_ = 0;
    int inHand_ = -1;
};

// What writing a picture of this size may take on disk at its peak: the largest encoding
// (uncompressed pixels) in its temporary file, and the copy the metadata is written through.
std::uint64_t outputRoomFor(const QSize& size);
