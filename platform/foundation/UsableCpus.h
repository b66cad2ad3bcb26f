#pragma once
// How many CPUs this process may keep busy at once: the CPUs its affinity mask allows,
// fewer when its control group's CPU quota allows less (a container given two CPUs'
// worth of time on an eight-core machine). Every worker and band thread count is sized
// from this, never from the machine's count of cores.
#include <QString>

namespace platform {

// Where the control group's quota is read from; tests point these at files of their own.
struct CpuQuotaSources {
    QString mountInfo = QStringLiteral("/proc/self/mountinfo");
    QString cgroups = QStringLiteral("/proc/self/cgroup");
};

// At least 1. Read once for the process and kept: the hot paths ask for every call.
int usableCpuCount();
// Read now, for the calling thread's affinity and the given sources.
int usableCpuCountNow(const CpuQuotaSources& sources = {});
// The quota alone, rounded up to whole CPUs; 0 when none is set or none can be read.
int cgroupCpuQuota(const CpuQuotaSources& sources = {});

}  // namespace platform
