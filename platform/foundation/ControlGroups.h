#pragma once
// Where the process's control group keeps its limits, for the readers of what this process
// may use (UsableCpus, UsableMemory): the group's folder and each folder above it, in the
// legacy hierarchy of one controller and in the unified one. A limit set higher up bounds
// every group below it, so readers take the tightest level.
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace platform::cgroups {

struct GroupFolders {
    std::vector<std::string> legacy;   // version 1, the controller's hierarchy
    std::vector<std::string> unified;  // version 2
};

// From the mount table and the process's group lines (/proc/self/mountinfo and
// /proc/self/cgroup, or files standing in for them).
GroupFolders folders(const std::string& legacyController, const QString& mountInfo, const QString& cgroups);

// The first line of a file; nothing when it cannot be read.
std::optional<std::string> firstLine(const std::string& file);
// The whole text as a number; nothing when it is not one.
std::optional<long long> number(const std::string& text);
// The blank-separated fields of a line.
std::vector<std::string> fields(const std::string& line);

}  // namespace platform::cgroups
