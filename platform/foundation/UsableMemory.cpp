#include "platform/foundation/UsableMemory.h"
#include "platform/foundation/ControlGroups.h"

#include <sys/resource.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <fstream>
#include <string>

namespace platform {

namespace {

// A "Name:   1234 kB" line of /proc/self/status, in bytes.
std::optional<std::uint64_t> statusBytes(const QString& status, const std::string& name) {
    std::ifstream in(status.toStdString());
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, name.size() + 1, name + ":") != 0) continue;
        const std::vector<std::string> f = cgroups::fields(line.substr(name.size() + 1));
        if (f.empty()) return std::nullopt;
        const auto kb = cgroups::number(f[0]);
        if (!kb || *kb < 0) return std::nullopt;
        return std::uint64_t(*kb) * 1024;
    }
    return std::nullopt;
}

// A "name value" line of a control group's memory.stat.
std::optional<std::uint64_t> statValue(const std::string& file, const std::string& name) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> f = cgroups::fields(line);
        if (f.size() == 2 && f[0] == name) {
            const auto v = cgroups::number(f[1]);
            if (v && *v >= 0) return std::uint64_t(*v);
        }
    }
    return std::nullopt;
}

// What a limit leaves over what is used of it (nothing once it is reached).
std::uint64_t leftOf(std::uint64_t limit, std::uint64_t used) { return limit > used ? limit - used : 0; }

// What the control group's limit leaves, at its tightest level: the limit less what the
// group uses, not counting file pages the system can drop (those it keeps of files read
// and written: they would go before the group runs out).
std::optional<std::uint64_t> groupLeft(const MemorySources& sources) {
    using namespace cgroups;
    const GroupFolders groups = folders("memory", sources.mountInfo, sources.cgroups);
    std::optional<std::uint64_t> least;
    const auto take = [&least](std::uint64_t left) { least = least ? std::min(*least, left) : left; };
    const auto consider = [&](const std::string& folder, const char* limitFile, const char* usageFile,
                              const char* inactiveFile) {
        const auto limitText = firstLine(folder + "/" + limitFile);
        if (!limitText || *limitText == "max") return;
        const auto limit = number(*limitText);
        // The legacy hierarchy writes "no limit" as a number near 2^63.
        if (!limit || *limit <= 0 || *limit >= (1ll << 62)) return;
        const auto usageText = firstLine(folder + "/" + usageFile);
        const auto usage = usageText ? number(*usageText) : std::nullopt;
        std::uint64_t used = usage && *usage > 0 ? std::uint64_t(*usage) : 0;
        used -= std::min(used, statValue(folder + "/memory.stat", inactiveFile).value_or(0));
        take(leftOf(std::uint64_t(*limit), used));
    };
    for (const std::string& folder : groups.legacy)
        consider(folder, "memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file");
    for (const std::string& folder : groups.unified) consider(folder, "memory.max", "memory.current", "inactive_file");
    return least;
}

}  // namespace

UsableMemory usableMemoryNow(const MemorySources& sources) {
    UsableMemory usable;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    usable.machineBytes = pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : std::uint64_t(4) << 30;
    const auto take = [&usable](std::uint64_t left) {
        usable.leftByLimits = usable.leftByLimits ? std::min(*usable.leftByLimits, left) : left;
    };
    if (sources.processLimits) {
        // The address space counts every mapping (thread stacks, heaps reserved, files
        // mapped); the data limit the private writable ones, which VmData counts.
        const std::pair<int, const char*> limits[] = {{RLIMIT_AS, "VmSize"}, {RLIMIT_DATA, "VmData"}};
        for (const auto& [resource, counted] : limits) {
            rlimit limit{};
            if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) continue;
            take(leftOf(std::uint64_t(limit.rlim_cur), statusBytes(sources.status, counted).value_or(0)));
        }
    }
    if (const auto left = groupLeft(sources)) take(*left);
    return usable;
}

void fitHeapToAddressSpaceLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
#if defined(__GLIBC__)
    ::mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace platform
