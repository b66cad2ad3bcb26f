#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

#include "platform/foundation/UsableCpus.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sched.h>

#include <thread>
#include <vector>

using namespace platform;

namespace {

// A control group tree of our own: a mount table naming the folder as the hierarchy's
// mount, the process's group line, and each folder's quota files.
class FakeCgroups {
public:
    FakeCgroups() { EXPECT_TRUE(dir_.isValid()); }
    QString root() const { return dir_.path(); }
    void write(const QString& relative, const QByteArray& text) { testsupport::writeFile(dir_.filePath(relative), text); }
    // version 2: one unified hierarchy mounted at v2/, the process in `group`.
    void unified(const QByteArray& group, const QByteArray& mountRoot = "/") {
        mountLines_ += "30 23 0:27 " + mountRoot + " " + dir_.filePath("v2").toUtf8() +
                       " rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";
        groupLines_ += "0::" + group + "\n";
        flush();
    }
    // version 1: the cpu controller mounted with cpuacct at v1/.
    void legacy(const QByteArray& group) {
        mountLines_ += "33 31 0:30 / " + dir_.filePath("v1").toUtf8() +
                       " rw,nosuid,nodev,noexec,relatime shared:8 - cgroup cgroup rw,cpu,cpuacct\n";
        mountLines_ += "34 31 0:31 / " + dir_.filePath("cpuset").toUtf8() + " rw,relatime - cgroup cgroup rw,cpuset\n";
        groupLines_ += "4:cpuset:/\n3:cpu,cpuacct:" + group + "\n";
        flush();
    }
    CpuQuotaSources sources() const { return {dir_.filePath("mountinfo"), dir_.filePath("cgroup")}; }

private:
    void flush() {
        write("mountinfo", "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n" + mountLines_);
        write("cgroup", groupLines_);
    }
    QTemporaryDir dir_;
    QByteArray mountLines_, groupLines_;
};

struct QuotaCase {
    const char* name;
    bool v2, v1;
    const char* group;
    std::vector<std::pair<const char*, const char*>> files;
    int expected;
};

// The CPUs the calling thread may run on, in order.
std::vector<int> allowedCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

// Runs fn on a thread allowed only the first `count` CPUs of this one's.
template <class Fn>
void onCpus(int count, Fn fn) {
    const std::vector<int> cpus = allowedCpus();
    std::thread t([&] {
        cpu_set_t set;
        CPU_ZERO(&set);
        for (int i = 0; i < count; ++i) CPU_SET(cpus[size_t(i)], &set);
        ASSERT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
        fn();
    });
    t.join();
}

}  // namespace

TEST(UsableCpus, QuotaFromEitherHierarchyRoundsUpAndTheTightestLevelHolds) {
    const std::vector<QuotaCase> cases = {
        {"v2 unlimited", true, false, "/user.slice/app", {{"v2/user.slice/app/cpu.max", "max 100000\n"}}, 0},
        {"v2 two CPUs", true, false, "/app", {{"v2/app/cpu.max", "200000 100000\n"}}, 2},
        {"v2 one and a half is two", true, false, "/app", {{"v2/app/cpu.max", "150000 100000\n"}}, 2},
        {"v2 a fraction is one", true, false, "/app", {{"v2/app/cpu.max", "20000 100000\n"}}, 1},
        {"v2 a parent's quota bounds its child", true, false, "/box/app",
         {{"v2/box/app/cpu.max", "max 100000\n"}, {"v2/box/cpu.max", "300000 100000\n"}, {"v2/cpu.max", "max 100000\n"}}, 3},
        {"v2 the child tighter than its parent", true, false, "/box/app",
         {{"v2/box/app/cpu.max", "100000 100000\n"}, {"v2/box/cpu.max", "400000 100000\n"}}, 1},
        {"v2 the container's own root", true, false, "/", {{"v2/cpu.max", "400000 50000\n"}}, 8},
        {"v2 damaged file", true, false, "/app", {{"v2/app/cpu.max", "lots\n"}}, 0},
        {"v2 no file", true, false, "/app", {}, 0},
        {"v1 unlimited", false, true, "/app", {{"v1/app/cpu.cfs_quota_us", "-1\n"}, {"v1/app/cpu.cfs_period_us", "100000\n"}}, 0},
        {"v1 three CPUs", false, true, "/app", {{"v1/app/cpu.cfs_quota_us", "300000\n"}, {"v1/app/cpu.cfs_period_us", "100000\n"}}, 3},
        {"both, the smaller holds", true, true, "/app",
         {{"v1/app/cpu.cfs_quota_us", "300000\n"}, {"v1/app/cpu.cfs_period_us", "100000\n"}, {"v2/app/cpu.max", "100000 100000\n"}}, 1},
    };
    for (const QuotaCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCgroups groups;
        if (c.v2) groups.unified(c.group);
        if (c.v1) groups.legacy(c.group);
        for (const auto& [file, text] : c.files) groups.write(QString::fromUtf8(file), text);
        EXPECT_EQ(cgroupCpuQuota(groups.sources()), c.expected);
    }
}

TEST(UsableCpus, AGroupMountedBelowItsRootIsFoundFromTheMountsRoot) {
    // Inside a container the mount shows the container's group as its top, while the
    // group line may name the host's path to it.
    FakeCgroups groups;
    groups.unified("/machine/box/app", "/machine/box");
    groups.write("v2/app/cpu.max", "200000 100000\n");
    EXPECT_EQ(cgroupCpuQuota(groups.sources()), 2);

    FakeCgroups outside;
    outside.unified("/elsewhere/app", "/machine/box");
    outside.write("v2/cpu.max", "100000 100000\n");
    EXPECT_EQ(cgroupCpuQuota(outside.sources()), 1);
}

TEST(UsableCpus, TheAffinityMaskAndTheQuotaBothBound) {
    const int allowed = int(allowedCpus().size());
    ASSERT_GE(allowed, 1);
    const CpuQuotaSources none{QStringLiteral("/nonexistent/mountinfo"), QStringLiteral("/nonexistent/cgroup")};
    EXPECT_EQ(usableCpuCountNow(none), allowed);
    onCpus(1, [&] { EXPECT_EQ(usableCpuCountNow(none), 1); });
    if (allowed >= 2) onCpus(2, [&] { EXPECT_EQ(usableCpuCountNow(none), 2); });

    FakeCgroups one;
    one.unified("/app");
    one.write("v2/app/cpu.max", "100000 100000\n");
    EXPECT_EQ(usableCpuCountNow(one.sources()), 1);
    if (allowed >= 2) {
        FakeCgroups many;
        many.unified("/app");
        many.write("v2/app/cpu.max", "6400000 100000\n");
        onCpus(2, [&] { EXPECT_EQ(usableCpuCountNow(many.sources()), 2); });
    }
    // The process's own answer, kept from its first reading.
    EXPECT_GE(usableCpuCount(), 1);
    EXPECT_LE(usableCpuCount(), allowed);
    EXPECT_EQ(usableCpuCount(), usableCpuCount());
}
