#include "platform/foundation/UsableCpus.h"
#include "platform/foundation/ControlGroups.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>
#include <vector>

namespace platform {

namespace {

// CPUs in the calling thread's affinity mask; the mask is sized for machines with more
// CPUs than cpu_set_t holds.
int affinityCount() {
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 16); cpus *= 4) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (!set) break;
        const size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        const int r = sched_getaffinity(0, size, set);
        const int count = r == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (r == 0) return count;
        if (errno != EINVAL) break;
    }
    return int(std::thread::hardware_concurrency());
}

// Whole CPUs for quota microseconds of every period: 150000 of 100000 is two.
int wholeCpus(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    return int(std::max<long long>(1, (quota + period - 1) / period));
}

}  // namespace

int cgroupCpuQuota(const CpuQuotaSources& sources) {
    using namespace cgroups;
    const GroupFolders groups = folders("cpu", sources.mountInfo, sources.cgroups);
    int least = 0;
    const auto take = [&least](int cpus) {
        if (cpus > 0) least = least == 0 ? cpus : std::min(least, cpus);
    };
    for (const std::string& folder : groups.legacy) {
        const auto quota = firstLine(folder + "/cpu.cfs_quota_us");
        const auto period = firstLine(folder + "/cpu.cfs_period_us");
        if (!quota || !period) continue;
        const auto q = number(*quota), p = number(*period);
        if (q && p) take(wholeCpus(*q, *p));
    }
    for (const std::string& folder : groups.unified) {
        // "max 100000" when unlimited, "200000 100000" for two CPUs' worth.
        const auto line = firstLine(folder + "/cpu.max");
        if (!line) continue;
        const std::vector<std::string> f = fields(*line);
        if (f.size() != 2 || f[0] == "max") continue;
        const auto q = number(f[0]), p = number(f[1]);
        if (q && p) take(wholeCpus(*q, *p));
    }
    return least;
}

int usableCpuCountNow(const CpuQuotaSources& sources) {
    int cpus = std::max(1, affinityCount());
    if (const int quota = cgroupCpuQuota(sources); quota > 0) cpus = std::min(cpus, quota);
    return cpus;
}

int usableCpuCount() {
    static const int cpus = usableCpuCountNow();
    return cpus;
}

}  // namespace platform
