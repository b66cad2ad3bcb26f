// Files mapped for reading, and the bus-error guard that keeps a file cut short under a
// reader from stopping the process.
//
// Why a guard rather than reading every file into memory: a mapping costs nothing for
// the parts a reader never touches (a header read of a 50 MB raw file reads a few
// pages), pages a decoder has read past can be given back (ConsumedPages), and most
// photos are never changed while they are read. Why zero pages rather than jumping out
// of the reader: the readers are libraries (libjpeg, libheif, LibRaw, Exiv2) whose C++
// frames and locks a jump would skip, leaking their memory or leaving a lock held. A
// page of zeros is just more data they must survive anyway, since any file is untrusted.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/NativeNames.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace platform::codec {
namespace {

// The mappings being read, for the signal handler: it runs on whichever thread touched
// the page (a library's own worker thread included), so it looks them up by address,
// without locks or allocation.
struct GuardedRange {
    std::atomic<bool> taken{false};
    std::atomic<uintptr_t> start{0};  // 0 while not (yet) a range
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> cut{false};
};

struct BusGuard {
    static constexpr int kRanges = 256;
    GuardedRange ranges[kRanges];
    struct sigaction previous = {};
    uintptr_t pageSize = 4096;
};

// Made before the handler is installed; the handler only reads it.
BusGuard& busGuard() {
    static BusGuard guard;
    return guard;
}

void onBusError(int signal, siginfo_t* info, void* context) {
    BusGuard& g = busGuard();
    if (info && info->si_code == BUS_ADRERR) {
        const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
        for (GuardedRange& r : g.ranges) {
            const uintptr_t start = r.start.load(std::memory_order_acquire);
            if (start == 0 || at < start || at >= r.end.load(std::memory_order_acquire)) continue;
            // mmap is a plain system call here: safe in a handler. The faulting read is
            // made again when the handler returns, and finds zeros.
            void* page = reinterpret_cast<void*>(at & ~(g.pageSize - 1));
            if (mmap(page, g.pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) break;
            r.cut.store(true, std::memory_order_relaxed);
            return;
        }
    }
    // Not a file of ours: what would have happened without this handler.
    const struct sigaction& before = g.previous;
    if ((before.sa_flags & SA_SIGINFO) && before.sa_sigaction) {
        before.sa_sigaction(signal, info, context);
        return;
    }
    if (!(before.sa_flags & SA_SIGINFO) && before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
        before.sa_handler(signal);
        return;
    }
    // The default action: the access is made again and ends the process as it would have.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
}

void installBusGuard() {
    BusGuard& g = busGuard();
    g.pageSize = uintptr_t(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g.previous);
}

// A slot for [data, data + size), or -1 when every slot is in use.
int guardRange(const void* data, size_t size) {
    static std::once_flag installed;
    std::call_once(installed, installBusGuard);
    BusGuard& g = busGuard();
    for (int i = 0; i < BusGuard::kRanges; ++i) {
        GuardedRange& r = g.ranges[i];
        bool free = false;
        if (!r.taken.compare_exchange_strong(free, true, std::memory_order_acq_rel)) continue;
        r.cut.store(false, std::memory_order_relaxed);
        r.end.store(reinterpret_cast<uintptr_t>(data) + size, std::memory_order_relaxed);
        r.start.store(reinterpret_cast<uintptr_t>(data), std::memory_order_release);
        return i;
    }
    return -1;
}

void releaseRange(int slot) {
    GuardedRange& r = busGuard().ranges[slot];
    r.start.store(0, std::memory_order_release);
    r.end.store(0, std::memory_order_relaxed);
    r.taken.store(false, std::memory_order_release);
}

}  // namespace

bool FileBytes::open(const QString& path) {
    if (!openFile(file, path)) {
        missing = !fileExists(path);
        return false;
    }
    const qint64 size = file.size();
    if (size <= 0) return true;
    uchar* p = file.map(0, size);  // shared and read-only, as the file is open
    if (p) guard_ = guardRange(p, size_t(size));
    if (p && guard_ >= 0) {
        bytes = Bytes{p, size_t(size), true, file.handle()};
        return true;
    }
    // Unguarded, a mapping is not read: a copy cannot change under the reader.
    if (p) file.unmap(p);
    copy = file.readAll();
    bytes = Bytes{reinterpret_cast<const uint8_t*>(copy.constData()), size_t(copy.size())};
    return true;
}

bool FileBytes::cut() const {
    return guard_ >= 0 && busGuard().ranges[guard_].cut.load(std::memory_order_relaxed);
}

void FileBytes::close() {
    // The mapping goes before the slot does: a page fault on it after the slot is free
    // cannot happen, as nothing reads it any more.
    if (bytes.mappedFile) file.unmap(const_cast<uint8_t*>(bytes.data));
    if (guard_ >= 0) releaseRange(guard_);
    guard_ = -1;
    bytes = Bytes{};
    copy = QByteArray();
    file.close();
}

FileBytes::~FileBytes() { close(); }

}  // namespace platform::codec
