// Files cut short by another program while they are mapped: the reader of the cut file,
// and only it, learns of the cut, even when its mapping took the address another reader
// had just given up; the rest of the file reads as zeros after a single fault; a SIGBUS
// sent by a process, and a fault in a mapping nobody guards, end the process as they
// would without the guard.
#include "platform/foundation/BusErrorGuard.h"
#include "platform/imageio/CodecInternal.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::codec::FileBytes;

// Lets a test act right after a given mapping is gone, at the moment another thread could
// be given its address: the unmapping below runs `afterUnmap` once, when it removes the
// mapping at `unmapWatch`.
std::atomic<const void*> unmapWatch{nullptr};
std::function<void()> afterUnmap;

constexpr uintptr_t kPage = 4096;

bool truncated(const QString& path, off_t size) { return ::truncate(QFile::encodeName(path).constData(), size) == 0; }

// The mapping of /proc/self/maps that holds `address`: [start, end) and its inode (0 for
// memory that belongs to no file).
struct MappingAt {
    uintptr_t start = 0, end = 0;
    unsigned long inode = 0;
};
MappingAt mappingAt(const void* address) {
    std::ifstream maps("/proc/self/maps");
    const auto at = reinterpret_cast<uintptr_t>(address);
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, perms, offset, device;
        MappingAt m;
        fields >> range >> perms >> offset >> device >> m.inode;
        const size_t dash = range.find('-');
        m.start = std::stoull(range.substr(0, dash), nullptr, 16);
        m.end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (at >= m.start && at < m.end) return m;
    }
    return {};
}

// How a process ended by a bus error ends: killed by the signal, or, where a sanitizer
// handles the signal, by its report and exit.
bool endedByBusError(int status) {
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
           (testsupport::builtWithSanitizer() && WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

}  // namespace

extern "C" int munmap(void* address, size_t length) noexcept {
    const int result = int(::syscall(SYS_munmap, address, length));
    const void* watched = address;
    if (result == 0 && unmapWatch.compare_exchange_strong(watched, nullptr)) afterUnmap();
    return result;
}

// One reader closes its file; before its close has returned, another reader's mapping
// takes the freed address and its file is cut. The second reader finds its own file cut:
// no slot of the first one is left to take the fault.
TEST(CutWhileMapped, AReaderOnTheAddressAnotherJustFreedLearnsOfItsOwnCut) {
    QTemporaryDir dir;
    // Large, so that the freed hole is the one a mapping of the same size goes into.
    const QByteArray bytes =
        testsupport::readFile(testsupport::packagedPicture(testsupport::kDesktopPhotos + "abstract/Elephants_3840x2160.jpg"));
    ASSERT_GT(bytes.size(), qsizetype(16 * kPage));
    const QString firstPath = testsupport::writeFile(dir.filePath("first.jpg"), bytes);
    const QString secondPath = testsupport::writeFile(dir.filePath("second.jpg"), bytes);

    FileBytes first;
    ASSERT_TRUE(first.open(firstPath));
    ASSERT_TRUE(first.bytes.mappedFile);
    const void* freed = first.bytes.data;
    bool reused = false, secondCut = false;
    uint8_t readThere = 0xFF;
    afterUnmap = [&] {
        FileBytes second;
        if (!second.open(secondPath) || !truncated(secondPath, 0)) return;
        reused = second.bytes.data == freed;
        readThere = *static_cast<const volatile uint8_t*>(second.bytes.data + 3 * kPage);
        secondCut = second.cut();
    };
    unmapWatch = freed;
    first.close();
    unmapWatch = nullptr;
    afterUnmap = nullptr;
    ASSERT_TRUE(reused) << "the second mapping went elsewhere; the case was not made";
    EXPECT_TRUE(secondCut);
    EXPECT_EQ(readThere, 0);
}

// A file cut to one page under a mapping of many: the first read past the end puts zeros
// over the whole rest of the mapping, so the reads after it fault no more and the
// mapping is not split page by page.
TEST(CutWhileMapped, TheRestOfACutFileReadsAsZerosAfterOneFault) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(
        dir.filePath("dune.jpg"),
        testsupport::readFile(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Dune.jpg")));
    FileBytes file;
    ASSERT_TRUE(file.open(path));
    ASSERT_TRUE(file.bytes.mappedFile);
    ASSERT_GT(file.bytes.size, 64 * kPage);
    ASSERT_TRUE(truncated(path, off_t(kPage)));
    const auto* data = static_cast<const volatile uint8_t*>(file.bytes.data);
    EXPECT_EQ(data[5 * kPage + 1], 0);
    EXPECT_TRUE(file.cut());
    const auto start = reinterpret_cast<uintptr_t>(file.bytes.data);
    const MappingAt zeros = mappingAt(file.bytes.data + 5 * kPage);
    EXPECT_EQ(zeros.inode, 0ul) << "memory of no file";
    EXPECT_EQ(zeros.start, start + 5 * kPage);
    EXPECT_GE(zeros.end, start + file.bytes.size) << "to the end of the file as it was mapped";
    EXPECT_EQ(data[file.bytes.size - 1], 0);
    // The page before the fault is still the file's.
    EXPECT_NE(mappingAt(file.bytes.data + 4 * kPage).inode, 0ul);
}

namespace {

// Ways a process meets a SIGBUS; each ends the process it runs in, or returns.
void busErrorSentByAnotherProcess() {
    platform::busguard::install();
    QByteArray pid = QByteArray::number(qint64(::getpid()));
    char name[] = "kill", signal[] = "-BUS";
    char* argv[] = {name, signal, pid.data(), nullptr};
    pid_t sender = 0;
    if (::posix_spawnp(&sender, "kill", nullptr, nullptr, argv, environ) != 0) std::_Exit(2);
    ::waitpid(sender, nullptr, 0);
    for (int i = 0; i < 200; ++i) ::usleep(10'000);
}

void faultInAMappingNobodyGuards(const QString& path) {
    platform::busguard::install();
    FileBytes guarded;  // another mapping of the file is guarded meanwhile
    if (!guarded.open(path)) std::_Exit(2);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    void* plain = ::mmap(nullptr, 8 * kPage, PROT_READ, MAP_SHARED, fd, 0);
    if (plain == MAP_FAILED || ::ftruncate(fd, 0) != 0) std::_Exit(2);
    [[maybe_unused]] const uint8_t byte = static_cast<const volatile uint8_t*>(plain)[6 * kPage];
}

}  // namespace

// A SIGBUS that another process sends (kill -BUS) is not a fault of a cut file: it has its
// usual effect and ends the process, instead of being swallowed and leaving the guard off.
TEST(CutWhileMappedDeathTest, ABusErrorSentByAnotherProcessEndsTheProcess) {
    BRISKO_STARTS_A_PROCESS();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((busErrorSentByAnotherProcess(), std::_Exit(0)), endedByBusError, "");
}

// A fault in a mapping that no reader guards still ends the process.
TEST(CutWhileMappedDeathTest, AFaultInAMappingNobodyGuardsEndsTheProcess) {
    BRISKO_STARTS_A_PROCESS();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath("plain.bin"), QByteArray(int(8 * kPage), 'x'));
    EXPECT_EXIT((faultInAMappingNobodyGuards(path), std::_Exit(0)), endedByBusError, "");
}
