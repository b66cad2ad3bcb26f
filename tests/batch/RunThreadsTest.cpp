// A run keeps to the threads the CPUs it may use allow, whatever its photos: decoders that
// could split a photo into bands (a JPEG with restart markers decoded reduced) do not add
// threads of their own on top of the photos in flight. Counted in a copy of this program
// started on two CPUs, as /proc/self/task lists its threads while runs go on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <atomic>
#include <dirent.h>
#include <limits>
#include <sched.h>
#include <thread>

#include "batch/BatchRunner.h"
#include "platform/foundation/UsableCpus.h"
#include "records/AppliedFilter.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/Sanitizers.h"

namespace {

constexpr const char* kThreadsFolder = "BRISKO_RUN_THREADS_FOLDER";

int threadsNow() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

// How many more threads than before it the process had at once while `work` ran, sampled
// every half millisecond (the sampler's own thread is one of those before).
int threadsAddedDuring(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::atomic<int> before{0}, peak{0};
    std::thread sampler([&] {
        before = threadsNow();
        while (!done) {
            peak = std::max(peak.load(), threadsNow());
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    while (before == 0) std::this_thread::yield();
    work();
    done = true;
    sampler.join();
    return peak - before;
}

// The photos of the runs: large enough to be decoded in bands (written with a restart marker
// between bands of rows, as the writer does from 2 MP) and to be made row by row.
QStringList writeRunPhotos(const QString& folder) {
    QStringList paths;
    for (int i = 0; i < 6; ++i)
        paths << batchtest::writePhoto(QDir(folder).filePath(QStringLiteral("p%1.jpg").arg(i)), 2000, 1200);
    return paths;
}

// The threads a run of these photos adds at its peak; made row by row from `rowByRowFrom`
// pixels.
int threadsOfARun(const QStringList& photos, const std::shared_ptr<AppliedFilter>& step, const QString& out,
                  qint64 rowByRowFrom) {
    QList<std::shared_ptr<PhotoFile>> files;
    for (const QString& path : photos) files << batchtest::photoAt(path);
    const BatchRunInput in = batchtest::runInput(files, batchtest::renameSettings(4),
                                                 batchtest::outputSettings(out, false, true), {step});
    batchtest::RunHarness harness;
    harness.runner.setThumbnailSize(QSize(120, 80));
    harness.runner.setRowByRowFromPixels(rowByRowFrom);
    bool ended = false;
    const int added = threadsAddedDuring([&] { ended = harness.start(in); });
    EXPECT_TRUE(ended);
    for (const auto& photo : files) EXPECT_EQ(photo->processStatus, PhotoFile::Processed);
    EXPECT_EQ(harness.runner.photosMadeRowByRow.load(), rowByRowFrom < 2'000'000 ? photos.size() : 0);
    return added;
}

}  // namespace

// Runs only inside the copy started by the test below.
TEST(RunThreadsOnTwoCpus, CountedInsideTheCopy) {
    const QString folder = qEnvironmentVariable(kThreadsFolder);
    if (folder.isEmpty()) GTEST_SKIP() << "started by RunThreads.StayWithinTheCpusTheProcessMayUse";
    const int cpus = platform::usableCpuCount();
    ASSERT_EQ(cpus, 2);
    const QStringList photos = QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    QStringList paths;
    for (const QString& name : photos) paths << QDir(folder).filePath(name);
    ASSERT_EQ(paths.size(), 6);

    // Shrunk to a tenth the usual way: each photo decoded at half size, and its thumbnail at
    // an eighth.
    // Threads: the run's own, a worker for each photo in flight (one per CPU), and the
    // shared workers of the kernels, the encoder and the decoders' bands (one per CPU
    // beside the thread that asks).
    const int shrink = threadsOfARun(paths, AppliedFilter::initWithFilterName(
        "Resize", "Resize", QVariantList{QVariantMap{{"resizedWidth", 200}}, QVariantMap{{"resizedHeight", 120}}},
        QImage(), nullptr), QDir(folder).filePath("shrunk"), std::numeric_limits<qint64>::max());
    std::printf("threads beyond those before the run: shrinking %d\n", shrink);
    EXPECT_LE(shrink, 1 + cpus + (cpus - 1));
    // Blurred row by row: each photo in flight also decodes ahead of its render and
    // encodes behind it, on a thread each.
    const int rows = threadsOfARun(paths, AppliedFilter::initWithFilterName(
        "CIGaussianBlur", "CIGaussianBlur", QVariantList{QVariantMap{{"inputRadius", 0.004}}}, QImage(), nullptr),
        QDir(folder).filePath("blurred"), 1'000'000);
    std::printf("threads beyond those before the run: row by row %d\n", rows);
    EXPECT_LE(rows, 1 + cpus + (cpus - 1) + 2 * cpus);
}

TEST(RunThreads, StayWithinTheCpusTheProcessMayUse) {
    BRISKO_STARTS_A_PROCESS();
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    cpu_set_t two;
    CPU_ZERO(&two);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < 2; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        CPU_SET(cpu, &two);
        ++taken;
    }
    const int quota = platform::cgroupCpuQuota();
    if (CPU_COUNT(&two) < 2 || (quota > 0 && quota < 2)) GTEST_SKIP() << "this process may use only one CPU";

    QTemporaryDir dir;
    ASSERT_EQ(writeRunPhotos(dir.path()).size(), 6);
    QProcess copy;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kThreadsFolder), dir.path());
    copy.setProcessEnvironment(env);
    copy.setProcessChannelMode(QProcess::MergedChannels);
    // Before the program starts, so that it sizes everything from these two.
    copy.setChildProcessModifier([two] { sched_setaffinity(0, sizeof two, &two); });
    copy.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=RunThreadsOnTwoCpus.*")});
    ASSERT_TRUE(copy.waitForFinished(120000 * testsupport::slowdown()));
    const QByteArray said = copy.readAll();
    EXPECT_EQ(copy.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains("[  PASSED  ] 1 test")) << said.toStdString();
    std::printf("%s", said.mid(said.indexOf("threads beyond")).left(200).constData());
}
