// Why zero pages rather than jumping out of the reader: the readers are libraries (libjpeg,
// libheif, LibRaw, Exiv2) whose C++ frames and locks a jump would skip, leaking their memory
// or leaving a lock held. A page of zeros is just more data they must survive anyway, since
// any file is untrusted.
#include "platform/foundation/BusErrorGuard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace platform::busguard {
namespace {

// The ranges being read, for the signal handler: it runs on whichever thread touched the
// page (a library's own worker thread included), so it looks them up by address, without
// locks or allocation.
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
    std::once_flag installed;
};

// Made before the handler is installed; the handler only reads it.
BusGuard& busGuard() {
    static BusGuard guard;
    return guard;
}

// Puts zeros over the rest of the range from the page that faulted, in one mapping: a file
// cut to a few bytes under a 50 MB reader costs one signal, not one per page (each of which
// would also split the mapping, towards the process's limit on mappings).
bool zeroRestOfRange(BusGuard& g, uintptr_t at) {
    for (GuardedRange& r : g.ranges) {
        const uintptr_t start = r.start.load(std::memory_order_acquire);
        if (start == 0 || at < start) continue;
        const uintptr_t end = r.end.load(std::memory_order_acquire);
        // The slot may have been given up and taken again between the two loads: its start
        // read once more tells whether `end` belongs to the same range.
        if (r.start.load(std::memory_order_acquire) != start || at >= end) continue;
        const uintptr_t from = at & ~(g.pageSize - 1);
        const uintptr_t to = (end + g.pageSize - 1) & ~(g.pageSize - 1);
        // mmap is a plain system call: safe in a handler. The faulting read is made again
        // when the handler returns, and finds zeros.
        if (mmap(reinterpret_cast<void*>(from), to - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
            MAP_FAILED)
            return false;
        r.cut.store(true, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void onBusError(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    BusGuard& g = busGuard();
    // si_code > 0: the kernel's report of a fault; kill() and raise() give 0 or less.
    const bool fault = info && info->si_code > 0;
    if (fault && info->si_code == BUS_ADRERR && zeroRestOfRange(g, reinterpret_cast<uintptr_t>(info->si_addr))) {
        errno = savedErrno;
        return;
    }
    // Not a file of ours: what would have happened without this handler.
    const struct sigaction& before = g.previous;
    if ((before.sa_flags & SA_SIGINFO) && before.sa_sigaction) {
        before.sa_sigaction(signal, info, context);
        errno = savedErrno;
        return;
    }
    if (!(before.sa_flags & SA_SIGINFO) && before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
        before.sa_handler(signal);
        errno = savedErrno;
        return;
    }
    if (!fault && before.sa_handler == SIG_IGN) {
        errno = savedErrno;
        return;
    }
    // The default action. A fault is made again when the handler returns and ends the
    // process; a sent signal is raised again, and is delivered as the handler returns.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (!fault) raise(signal);
    errno = savedErrno;
}

}  // namespace

void install() {
    BusGuard& g = busGuard();
    std::call_once(g.installed, [&g] {
        g.pageSize = uintptr_t(sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g.previous);
    });
}

int guard(const void* data, std::size_t size) {
    install();
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

void release(int slot) {
    if (slot < 0 || slot >= BusGuard::kRanges) return;
    GuardedRange& r = busGuard().ranges[slot];
    r.start.store(0, std::memory_order_release);
    r.end.store(0, std::memory_order_release);
    r.taken.store(false, std::memory_order_release);
}

bool cut(int slot) {
    return slot >= 0 && slot < BusGuard::kRanges && busGuard().ranges[slot].cut.load(std::memory_order_relaxed);
}

}  // namespace platform::busguard
