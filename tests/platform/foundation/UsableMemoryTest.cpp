// What the process may still take: its control group's limit less what the group uses (file
// pages it could drop aside), the tightest level of either hierarchy, and its own limits
// less what it holds of them.
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

#include "platform/foundation/UsableMemory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/resource.h>

#include <optional>
#include <vector>

using namespace platform;

namespace {

// A control group tree and a status file of our own.
class FakeGroups {
public:
    void write(const QString& relative, const QByteArray& text) { testsupport::writeFile(dir_.filePath(relative), text); }
    // The memory controller of the legacy hierarchy at v1/ and the unified one at v2/, the
    // process in /app/job of each.
    FakeGroups() {
        write("mountinfo", "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                           "35 31 0:32 / " + dir_.filePath("v1").toUtf8() + " rw,relatime - cgroup cgroup rw,memory\n"
                           "41 31 0:38 / " + dir_.filePath("v2").toUtf8() + " rw,relatime - cgroup2 cgroup2 rw\n");
        write("cgroup", "4:memory:/app/job\n0::/app/job\n");
        write("status", "Name:\ttest\nVmSize:\t  409600 kB\nVmData:\t  204800 kB\n");
    }
    MemorySources sources(bool processLimits = false) const {
        MemorySources s;
        s.mountInfo = dir_.filePath("mountinfo");
        s.cgroups = dir_.filePath("cgroup");
        s.status = dir_.filePath("status");
        s.processLimits = processLimits;
        return s;
    }

private:
    QTemporaryDir dir_;
};

constexpr std::uint64_t MiB = 1 << 20;

}  // namespace

TEST(UsableMemory, TheTightestGroupLimitLessWhatTheGroupHoldsBesidesDroppableFilePages) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, QByteArray>> files;
        std::optional<std::uint64_t> expected;
    };
    const QByteArray none = QByteArray::number(9223372036854771712ll);  // how the legacy hierarchy says "no limit"
    const Case cases[] = {
        {"no limit anywhere", {{"v1/app/job/memory.limit_in_bytes", none}, {"v2/app/job/memory.max", "max"}}, std::nullopt},
        {"legacy: limit less usage, file pages aside",
         {{"v1/app/job/memory.limit_in_bytes", QByteArray::number(1024 * MiB)},
          {"v1/app/job/memory.usage_in_bytes", QByteArray::number(700 * MiB)},
          {"v1/app/job/memory.stat", "cache 1\ntotal_inactive_file " + QByteArray::number(300 * MiB) + "\n"}},
         624 * MiB},
        {"unified, set on a parent",
         {{"v2/app/memory.max", QByteArray::number(512 * MiB)},
          {"v2/app/memory.current", QByteArray::number(100 * MiB)},
          {"v2/app/job/memory.max", "max"}},
         412 * MiB},
        {"the tighter of both",
         {{"v1/app/job/memory.limit_in_bytes", QByteArray::number(2048 * MiB)},
          {"v2/app/job/memory.max", QByteArray::number(800 * MiB)},
          {"v2/app/job/memory.current", QByteArray::number(200 * MiB)}},
         600 * MiB},
        {"used up", {{"v2/app/job/memory.max", QByteArray::number(100 * MiB)}, {"v2/app/job/memory.current", QByteArray::number(150 * MiB)}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeGroups groups;
        for (const auto& [file, text] : c.files) groups.write(file, text);
        const UsableMemory usable = usableMemoryNow(groups.sources());
        EXPECT_EQ(usable.leftByLimits, c.expected);
        EXPECT_GT(usable.machineBytes, 0u);
        EXPECT_EQ(usable.bytes(), c.expected ? std::min(usable.machineBytes, *c.expected) : usable.machineBytes);
    }
}

TEST(UsableMemory, TheProcessDataLimitLessTheDataItHolds) {
    FakeGroups groups;  // no group limits; the status file says 200 MiB of data
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_DATA, &before), 0);
    rlimit address{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &address), 0);
    if (address.rlim_cur != RLIM_INFINITY) GTEST_SKIP() << "the address space is capped already";
    // Far above what the process holds, so nothing here runs short while it is in force.
    rlimit limit = before;
    limit.rlim_cur = std::min<rlim_t>(before.rlim_max, rlim_t(1) << 50);
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &limit), 0);
    const UsableMemory usable = usableMemoryNow(groups.sources(true));
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &before), 0);
    ASSERT_TRUE(usable.leftByLimits.has_value());
    EXPECT_EQ(*usable.leftByLimits, std::uint64_t(limit.rlim_cur) - 200 * MiB);
    EXPECT_EQ(usable.bytes(), usable.machineBytes);
}
