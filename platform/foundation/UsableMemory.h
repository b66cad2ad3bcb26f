#pragma once
// How much more memory this process may take: the least of what the machine has, what its
// own limits leave (RLIMIT_AS for its address space, RLIMIT_DATA for its private data),
// and what its control group's limit leaves (memory.max, or memory.limit_in_bytes in the
// legacy hierarchy). A process may be held to far less than the machine's memory (a
// container, a session's slice, ulimit -v), and a budget taken from the machine's memory
// alone would have it run out and fail mid-photo. Read anew for each run: what is left
// changes as the process and its group use memory.
#include <QString>

#include <cstdint>
#include <optional>

namespace platform {

// Where the figures are read from; tests point these at files of their own.
struct MemorySources {
    QString mountInfo = QStringLiteral("/proc/self/mountinfo");
    QString cgroups = QStringLiteral("/proc/self/cgroup");
    QString status = QStringLiteral("/proc/self/status");  // VmSize and VmData
    bool processLimits = true;  // RLIMIT_AS and RLIMIT_DATA (getrlimit)
};

struct UsableMemory {
    std::uint64_t machineBytes = 0;  // the machine's physical memory
    // What the process's and its group's limits leave; nothing when none is set.
    std::optional<std::uint64_t> leftByLimits;
    // The least of the two.
    std::uint64_t bytes() const { return leftByLimits ? std::min(machineBytes, *leftByLimits) : machineBytes; }
};

UsableMemory usableMemoryNow(const MemorySources& sources = {});

// Under a cap on the address space (RLIMIT_AS), keeps the C library's heap to two arenas:
// each arena a thread gets reserves 64 MiB of address space whatever it holds, and the
// arenas of a run's dozen threads alone would use up a cap that fits the photos themselves
// (twelve 37 MP photos under an 800 MB cap: four made, eight out of memory; with two
// arenas, all twelve). Only arenas made afterwards are affected, so it is called before a
// run starts its threads; without such a cap it does nothing.
void fitHeapToAddressSpaceLimit();

}  // namespace platform
