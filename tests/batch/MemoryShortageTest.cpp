// Runs under a cap on the address space: every photo ends with a status, a memory
// shortage fails only the photo in hand (its temporary file removed, its original kept),
// and the run goes on. Each run is a child process of its own (this program started again
// for one test), so the cap and whatever it breaks stay there.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QProcess>
#include <sys/resource.h>

#include "batch/RunMessages.h"
#include "records/AppliedFilter.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/PackagedPictures.h"

namespace memoryshortage {

// Set in the child: "<folder>;<megabytes of address space beyond what it holds at the
// start>;<output format>;<1: convert row by row>".
const char* const kChildRun = "BRISKO_TEST_MEMORY_SHORTAGE_RUN";

// The child: caps its address space, runs the photos of <folder>/src in move mode into
// <folder>/out, and writes each photo's status and message to <folder>/statuses.
TEST(MemoryShortageChild, RunsUnderTheCap) {
    const QStringList args = QString::fromLocal8Bit(qgetenv(kChildRun)).split(u';');
    if (args.size() != 4) GTEST_SKIP() << "runs only as the child of the MemoryShortage tests";
    const QString folder = args[0];
    const QList<std::shared_ptr<PhotoFile>> photos = batchtest::photosIn(folder + "/src");
    batchtest::TrashInTemp trash;
    const BatchRunInput in = batchtest::runInput(photos, batchtest::renameSettings(args[2].toInt()),
                                                 batchtest::outputSettings(folder + "/out", true));
    batchtest::RunHarness run;
    if (args[3] == "1") run.runner.setRowByRowFromPixels(1);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &limit), 0);
    const rlim_t before = limit.rlim_cur;
    // Only the soft limit: it is lifted again for the report.
    limit.rlim_cur = rlim_t(testsupport::virtualMb() + args[1].toLong()) << 20;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    const bool ended = run.start(in);
    limit.rlim_cur = before;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    ASSERT_TRUE(ended);
    QFile report(folder + "/statuses");
    ASSERT_TRUE(report.open(QIODevice::WriteOnly));
    for (const auto& photo : photos)
        report.write(QByteArray::number(photo->processStatus) + '\t' + photo->processInfoMessage.toUtf8() + '\n');
}

// Copies the named photos of the desktop's nature pictures into <folder>/src.
void copyPhotos(const QString& folder, const QStringList& names) {
    QDir().mkpath(folder + "/src");
    for (const QString& name : names) {
        ASSERT_TRUE(QFile::copy(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/" + name),
                                folder + "/src/" + name));
    }
}

// Runs the child test `test` of this suite with `settings` added to its environment; true
// when it ended by itself with success.
bool runChild(const QString& test, const QMap<QString, QString>& settings) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = settings.begin(); it != settings.end(); ++it) env.insert(it.key(), it.value());
    // Under ThreadSanitizer an allocation that fails returns nothing, as the C library's does,
    // instead of ending the process. Its operator new cannot do so: a shortage met there ends
    // the process all the same, so the caps below are ones where the checker survives.
    env.insert(QStringLiteral("TSAN_OPTIONS"), env.value(QStringLiteral("TSAN_OPTIONS")) + ":allocator_may_return_null=1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=MemoryShortageChild.") + test});
    if (!child.waitForFinished(120000 * testsupport::slowdown())) {
        ADD_FAILURE() << "the child did not end";
        return false;
    }
    const QByteArray said = child.readAll();
    // Killed by std::terminate (134), a bad access (139) or the C library's abort before.
    const bool ended = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
                       said.contains("[  PASSED  ] 1 test");
    EXPECT_TRUE(ended) << said.right(3000).toStdString();
    return ended;
}

TEST(MemoryShortage, EveryPhotoEndsWithAStatusAndNothingIsLostAtAnyCap) {
#ifdef BRISKO_TEST_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space for its shadow memory, so a cap on "
                    "the address space stops it, not the program";
#endif
    BRISKO_STARTS_A_PROCESS();
    struct Case {
        int capMb;
        int format;  // 4 jpg, 6 png
        bool rowByRow;
    };
    // From too little to decode any photo to enough for most, whole and row by row (where
    // the band sinks' own threads meet the shortage), to JPEG and to PNG.
    const Case cases[] = {{60, 6, false}, {250, 6, true}, {400, 4, true}, {450, 6, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "cap +" << c.capMb << " MB, format " << c.format << (c.rowByRow ? ", row by row" : ""));
        QTemporaryDir dir;
        const QStringList names{"Wood.jpg", "TwoWings.jpg", "LadyBird.jpg", "Storm.jpg"};
        copyPhotos(dir.path(), names);
        const QString run = QStringLiteral("%1;%2;%3;%4").arg(dir.path()).arg(c.capMb).arg(c.format).arg(c.rowByRow ? 1 : 0);
        ASSERT_TRUE(runChild(QStringLiteral("RunsUnderTheCap"), {{QString::fromLatin1(kChildRun), run}}));

        QFile report(dir.filePath("statuses"));
        ASSERT_TRUE(report.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = report.readAll().trimmed().split('\n');
        ASSERT_EQ(lines.size(), names.size());
        QStringList sorted = names;
        sorted.sort();
        for (qsizetype i = 0; i < sorted.size(); ++i) {
            const QList<QByteArray> fields = lines[i].split('\t');
            ASSERT_EQ(fields.size(), 2);
            const int status = fields[0].toInt();
            const QString message = QString::fromUtf8(fields[1]);
            SCOPED_TRACE(sorted[i].toStdString() + ": " + message.toStdString());
            const bool processed = status == PhotoFile::Processed;
            // Either written, or failed for the memory it lacked, and said so.
            EXPECT_TRUE(processed || (status == PhotoFile::Failed && message == runmessages::NotEnoughMemory));
            // A source goes to the Trash only once its output is in place.
            EXPECT_EQ(QFileInfo::exists(dir.filePath("src/" + sorted[i])), !processed);
            EXPECT_EQ(QFileInfo::exists(dir.filePath("out/" + QFileInfo(sorted[i]).completeBaseName() +
                                                     (c.format == 6 ? ".png" : ".jpg"))),
                      processed);
        }
        // No temporary file is left behind.
        EXPECT_TRUE(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden).filter("brisko-part").isEmpty());
    }
}

// Set in the child that records thread-local destructors: "<folder>".
const char* const kChildRecords = "BRISKO_TEST_THREAD_EXIT_RUN";

std::shared_ptr<AppliedFilter> step(const QString& name, const char* key, double value) {
    return AppliedFilter::initWithFilterName(name, name, QVariantList{QVariantMap{{QString::fromLatin1(key), value}}},
                                             QImage(), nullptr);
}

// The child: runs the photos of <folder>/src through blurs into PNG and JPEG, whole and
// row by row, with the thread-exit shim recording.
TEST(MemoryShortageChild, RunsEveryKindOfWork) {
    const QString folder = QString::fromLocal8Bit(qgetenv(kChildRecords));
    if (folder.isEmpty()) GTEST_SKIP() << "runs only as the child of the MemoryShortage tests";
    const QList<std::shared_ptr<PhotoFile>> photos = batchtest::photosIn(folder + "/src");
    const QList<std::shared_ptr<AppliedFilter>> steps{step("CIGaussianBlur", "inputRadius", 6.0),
                                                      step("CIBoxBlur", "inputRadius", 9.0),
                                                      step("CIZoomBlur", "inputAmount", 12.0)};
    int round = 0;
    for (const int format : {6, 4}) {
        for (const bool rowByRow : {false, true}) {
            const QString out = folder + QStringLiteral("/out%1").arg(round++);
            const BatchRunInput in = batchtest::runInput(photos, batchtest::renameSettings(format),
                                                         batchtest::outputSettings(out), rowByRow ? decltype(steps){} : steps);
            batchtest::RunHarness run;
            if (rowByRow) run.runner.setRowByRowFromPixels(1);
            ASSERT_TRUE(run.start(in));
            for (const auto& photo : photos) EXPECT_EQ(photo->processStatus, PhotoFile::Processed) << photo->processInfoMessage.toStdString();
        }
    }
}

// The C library registers a thread-local object's destructor, on the object's first use on
// a thread, with an allocation it does not let fail: when that meets a memory shortage the
// program ends ("failed to register TLS destructor"), not the photo in hand. So no thread
// of a run keeps such objects: its scratch space belongs to the work, not to the thread.
TEST(MemoryShortage, NoThreadOfARunKeepsObjectsTheLibraryMustDestroyAtItsEnd) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    // Smaller photos under ThreadSanitizer, where the blurs take twenty times as long: which
    // threads keep such objects does not depend on the photos' size.
    if (testsupport::builtWithThreadSanitizer())
        copyPhotos(dir.path(), {QStringLiteral("GreenMeadow.jpg"), QStringLiteral("Storm.jpg")});
    else
        copyPhotos(dir.path(), {QStringLiteral("Wood.jpg"), QStringLiteral("Storm.jpg")});
    ASSERT_TRUE(runChild(QStringLiteral("RunsEveryKindOfWork"),
                         {{QString::fromLatin1(kChildRecords), dir.path()},
                          {QStringLiteral("BRISKO_THREAD_EXIT_RECORDS"), dir.filePath("records")},
                          {QStringLiteral("LD_PRELOAD"), QStringLiteral(BRISKO_THREAD_EXIT_RECORDS_SHIM)},
                          {QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"}}));
    QFile records(dir.filePath("records"));
    EXPECT_FALSE(records.exists()) << (records.open(QIODevice::ReadOnly) ? records.readAll().left(3000).toStdString() : "");
}

}  // namespace memoryshortage
