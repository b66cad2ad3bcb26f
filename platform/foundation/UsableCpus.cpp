#include "platform/foundation/UsableCpus.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
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

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; in >> f;) out.push_back(f);
    return out;
}

bool hasWord(const std::string& list, const std::string& word) {
    std::istringstream in(list);
    for (std::string w; std::getline(in, w, ',');)
        if (w == word) return true;
    return false;
}

struct Hierarchy {
    std::string mountPoint, root, path;
    bool found() const { return !mountPoint.empty() && !path.empty(); }
    // The folder of the process's group, then each parent up to the mount's top: a quota
    // set higher up bounds every group below it.
    std::vector<std::string> folders() const {
        std::string relative = path;
        if (root != "/" && relative.compare(0, root.size(), root) == 0) relative = relative.substr(root.size());
        else if (root != "/") relative.clear();  // a group outside what is mounted here: its top only
        std::vector<std::string> out;
        for (;;) {
            while (!relative.empty() && relative.back() == '/') relative.pop_back();
            out.push_back(mountPoint + relative);
            if (relative.empty()) break;
            relative.erase(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/'));
        }
        return out;
    }
};

std::optional<std::string> firstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<long long> number(const std::string& text) {
    try {
        size_t used = 0;
        const long long v = std::stoll(text, &used);
        if (used != text.size()) return std::nullopt;
        return v;
    } catch (...) {
        return std::nullopt;
    }
}

// Whole CPUs for quota microseconds of every period: 150000 of 100000 is two.
int wholeCpus(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    return int(std::max<long long>(1, (quota + period - 1) / period));
}

}  // namespace

int cgroupCpuQuota(const CpuQuotaSources& sources) {
    Hierarchy v2, v1;
    std::ifstream mounts(sources.mountInfo.toStdString());
    for (std::string line; std::getline(mounts, line);) {
        // id parent device root mount-point options [optional...] - type source super-options
        const std::vector<std::string> f = fields(line);
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || dash + 1 == f.end()) continue;
        const std::string& type = *(dash + 1);
        const std::string superOptions = dash + 3 < f.end() ? *(dash + 3) : std::string();
        if (type == "cgroup2" && v2.mountPoint.empty()) v2.mountPoint = f[4], v2.root = f[3];
        if (type == "cgroup" && hasWord(superOptions, "cpu") && v1.mountPoint.empty())
            v1.mountPoint = f[4], v1.root = f[3];
    }
    std::ifstream groups(sources.cgroups.toStdString());
    for (std::string line; std::getline(groups, line);) {
        // hierarchy-id:controllers:path
        const size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
        if (line.compare(0, a, "0") == 0 && controllers.empty()) v2.path = path;
        else if (hasWord(controllers, "cpu")) v1.path = path;
    }

    int least = 0;
    const auto take = [&least](int cpus) {
        if (cpus > 0) least = least == 0 ? cpus : std::min(least, cpus);
    };
    if (v1.found()) {
        for (const std::string& folder : v1.folders()) {
            const auto quota = firstLine(folder + "/cpu.cfs_quota_us");
            const auto period = firstLine(folder + "/cpu.cfs_period_us");
            if (!quota || !period) continue;
            const auto q = number(*quota), p = number(*period);
            if (q && p) take(wholeCpus(*q, *p));
        }
    }
    if (v2.found()) {
        for (const std::string& folder : v2.folders()) {
            // "max 100000" when unlimited, "200000 100000" for two CPUs' worth.
            const auto line = firstLine(folder + "/cpu.max");
            if (!line) continue;
            const std::vector<std::string> f = fields(*line);
            if (f.size() != 2 || f[0] == "max") continue;
            const auto q = number(f[0]), p = number(f[1]);
            if (q && p) take(wholeCpus(*q, *p));
        }
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
