#include "platform/foundation/ControlGroups.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace platform::cgroups {

namespace {

bool hasWord(const std::string& list, const std::string& word) {
    std::istringstream in(list);
    for (std::string w; std::getline(in, w, ',');)
        if (w == word) return true;
    return false;
}

struct Hierarchy {
    std::string mountPoint, root, path;
    bool found() const { return !mountPoint.empty() && !path.empty(); }
    // The folder of the process's group, then each parent up to the mount's top.
    std::vector<std::string> folders() const {
        if (!found()) return {};
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

}  // namespace

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; in >> f;) out.push_back(f);
    return out;
}

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

GroupFolders folders(const std::string& legacyController, const QString& mountInfo, const QString& cgroups) {
    Hierarchy v2, v1;
    std::ifstream mounts(mountInfo.toStdString());
    for (std::string line; std::getline(mounts, line);) {
        // id parent device root mount-point options [optional...] - type source super-options
        const std::vector<std::string> f = fields(line);
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || dash + 1 == f.end()) continue;
        const std::string& type = *(dash + 1);
        const std::string superOptions = dash + 3 < f.end() ? *(dash + 3) : std::string();
        if (type == "cgroup2" && v2.mountPoint.empty()) v2.mountPoint = f[4], v2.root = f[3];
        if (type == "cgroup" && hasWord(superOptions, legacyController) && v1.mountPoint.empty())
            v1.mountPoint = f[4], v1.root = f[3];
    }
    std::ifstream groups(cgroups.toStdString());
    for (std::string line; std::getline(groups, line);) {
        // hierarchy-id:controllers:path
        const size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
        if (line.compare(0, a, "0") == 0 && controllers.empty()) v2.path = path;
        else if (hasWord(controllers, legacyController)) v1.path = path;
    }
    return GroupFolders{v1.folders(), v2.folders()};
}

}  // namespace platform::cgroups
