// What a run does to the user's files when the files, the Trash or the disk misbehave.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "batch/RunMessages.h"
#include "platform/foundation/NativeNames.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/ScratchVolume.h"

namespace {

using batchtest::Batch;
using batchtest::RunHarness;

void moveMode(Batch& b) {
    b.output->moveAndRenameToDestinationFolder = true;
    b.output->copyyToDestinationFolder = false;
}

// The files of a folder, read by their bytes (Qt's listing leaves out names that are not UTF-8).
QStringList filesIn(const QString& folder) {
    QStringList names;
    if (DIR* dir = ::opendir(platform::encodePath(folder).constData())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_type == DT_REG) names << platform::decodePath(e->d_name);
        }
        ::closedir(dir);
    }
    names.sort();
    return names;
}

TEST(SourceSafety, ASourceReplacedWhileItsPhotoIsProcessedStaysAndIsReported) {
    enum class How { NewFileUnderTheName, RewrittenInPlace };
    for (const How how : {How::NewFileUnderTheName, How::RewrittenInPlace}) {
        SCOPED_TRACE(how == How::NewFileUnderTheName ? "new file under the name" : "rewritten in place");
        batchtest::TrashInTemp trash;
        Batch b(4);
        moveMode(b);
        const BatchRunInput in = b.input();
        const QString replaced = b.photos[2]->filePath;
        RunHarness h;
        h.runner.setPhotosInFlight(4);
        // Photo 2 was read and encoded; before it goes to the Trash, the user (or a sync
        // tool) puts another picture under its name.
        h.runner.setWriterSetUp([&](ResultWriter& w) {
            w.afterEncoding = [&](const QString&, const QString& destination) {
                if (destination != in.snapshot.destinationPaths[2]->filePath) return;
                if (how == How::NewFileUnderTheName) {
                    batchtest::writePhoto(b.dir.filePath("elsewhere/new.jpg"), 200, 100);
                    QFile::rename(b.dir.filePath("elsewhere/new.jpg"), replaced + ".tmp");
                    std::rename(QFile::encodeName(replaced + ".tmp").constData(), QFile::encodeName(replaced).constData());
                } else {
                    QFile f(replaced);
                    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
                    f.write(QByteArray(3000, 'z'));
                }
            };
        });
        ASSERT_TRUE(h.start(in));
        const QByteArray newPicture = testsupport::readFile(replaced);
        EXPECT_EQ(b.photos[2]->processStatus, PhotoFile::Failed);
        EXPECT_EQ(b.photos[2]->processInfoMessage, runmessages::SourceChanged);
        EXPECT_FALSE(newPicture.isEmpty());
        EXPECT_TRUE(QFileInfo::exists(in.snapshot.destinationPaths[2]->filePath));
        EXPECT_FALSE(QFileInfo::exists(trash.filesFolder() + "/p2.jpg"));
        for (int i : {0, 1, 3}) {
            EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << i;
            EXPECT_TRUE(QFileInfo::exists(trash.filesFolder() + QString("/p%1.jpg").arg(i))) << i;
        }
    }
}

TEST(SourceSafety, WhenTheTrashCannotTakeSourcesTheRunEndsAndEveryPhotoSaysSo) {
    for (const bool infoOnly : {false, true}) {
        SCOPED_TRACE(infoOnly ? "info folder read-only" : "no Trash can be made");
        batchtest::TrashInTemp trash;
        const QString trashFolder = QFileInfo(trash.filesFolder()).path();
        if (infoOnly) {
            QDir().mkpath(trash.filesFolder());
            QDir().mkpath(trash.infoFolder());
        }
        testsupport::ReadOnlyFolder readOnly(infoOnly ? trash.infoFolder() : QFileInfo(trashFolder).path());
        if (!readOnly.ok()) GTEST_SKIP() << readOnly.why().toStdString();
        Batch b(3);
        moveMode(b);
        const BatchRunInput in = b.input();
        QTemporaryDir work;
        const QString before = QDir::currentPath();
        QDir::setCurrent(work.path());
        RunHarness h;
        const bool ended = h.start(in);
        QDir::setCurrent(before);
        ASSERT_TRUE(ended) << "the run hung";
        EXPECT_TRUE(h.recorder.finished);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Failed) << i;
            EXPECT_TRUE(b.photos[i]->processInfoMessage.startsWith(runmessages::TrashFailed)) << i;
            EXPECT_TRUE(QFileInfo::exists(b.photos[i]->filePath)) << i;
            EXPECT_TRUE(QFileInfo::exists(in.snapshot.destinationPaths[i]->filePath)) << i;
        }
        EXPECT_TRUE(filesIn(work.path()).isEmpty());
        EXPECT_TRUE(QDir(work.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }
}

// A file of `bytes` under a name given by its bytes (Qt cannot make one that is not UTF-8).
QString writeNamed(const QString& folder, const QByteArray& name) {
    const QString utf8 = batchtest::writePhoto(folder + "/plain.jpg", 120, 80);
    const QByteArray target = QFile::encodeName(folder) + '/' + name;
    if (utf8.isEmpty() || std::rename(QFile::encodeName(utf8).constData(), target.constData()) != 0) return {};
    return platform::decodePath(target);
}

bool existsNative(const QString& path) { return ::access(platform::encodePath(path).constData(), F_OK) == 0; }

TEST(SourceSafety, LongNamesAndNamesThatAreNotUtf8AreProcessedAndMoved) {
    batchtest::TrashInTemp trash;
    QTemporaryDir dir;
    const QByteArray longName = QByteArray(251, 'n') + ".jpg";  // 255 bytes
    const QByteArray latin1 = "Caf\xe9 \xff.jpg";
    QList<std::shared_ptr<PhotoFile>> photos;
    for (const QByteArray& name : {longName, latin1}) {
        const QString path = writeNamed(dir.filePath("src"), name);
        ASSERT_FALSE(path.isEmpty());
        photos << batchtest::photoAt(path);
    }
    EXPECT_EQ(platform::displayPath(photos[1]->fileName), "Caf\\xE9 \\xFF.jpg");
    EXPECT_GT(photos[1]->width, 0) << "its size is read through its bytes";
    auto output = batchtest::outputSettings(dir.filePath("out"), true);
    const BatchRunInput in = batchtest::runInput(photos, batchtest::renameSettings(0), output);
    RunHarness h;
    ASSERT_TRUE(h.start(in));
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(photos[i]->processStatus, PhotoFile::Processed) << photos[i]->processInfoMessage.toStdString();
        const QString out = in.snapshot.destinationPaths[i]->filePath;
        EXPECT_TRUE(existsNative(out)) << platform::displayPath(out).toStdString();
        EXPECT_FALSE(existsNative(photos[i]->filePath));
        platform::ReadablePath readable(out);
        EXPECT_EQ(platform::readImage(readable.path()).size(), QSize(120, 80));
    }
    EXPECT_EQ(platform::encodePath(QFileInfo(in.snapshot.destinationPaths[1]->filePath).fileName()), latin1);
    const QStringList trashed = filesIn(trash.filesFolder());
    EXPECT_EQ(trashed.size(), 2);
    EXPECT_TRUE(filesIn(dir.filePath("out")).size() == 2);
    // Qt's own clean-up cannot name these files.
    for (const QString& f : {in.snapshot.destinationPaths[1]->filePath, trash.filesFolder() + "/" + platform::decodePath(latin1)})
        ::unlink(platform::encodePath(f).constData());
}

TEST(SourceSafety, OutputsBesideSourcesInAFolderWhoseNameIsNotUtf8AreWritten) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/\xe9t\xe9 2019";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QString source = writeNamed(dir.path(), "IMG_9.jpg");
    ASSERT_EQ(std::rename(QFile::encodeName(source).constData(), (folder + "/IMG_9.jpg").constData()), 0);
    const auto photo = batchtest::photoAt(platform::decodePath(folder + "/IMG_9.jpg"));
    auto output = batchtest::outputSettings(dir.filePath("unused"));
    output->useSourceFolder = true;
    const BatchRunInput in = batchtest::runInput({photo}, batchtest::renameSettings(6), output);
    EXPECT_EQ(platform::encodePath(in.snapshot.destinationPaths[0]->filePath), folder + "/IMG_9.png");
    RunHarness h;
    ASSERT_TRUE(h.start(in));
    EXPECT_EQ(photo->processStatus, PhotoFile::Processed) << photo->processInfoMessage.toStdString();
    EXPECT_EQ(filesIn(platform::decodePath(folder)), (QStringList{"IMG_9.jpg", "IMG_9.png"}));
    for (const char* name : {"/IMG_9.jpg", "/IMG_9.png"}) ::unlink((folder + name).constData());
    ::rmdir(folder.constData());
}

// The process id of a process that has ended.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(SourceSafety, ALaterRunRemovesTheTemporaryFilesOfKilledRunsAndNothingElse) {
    BRISKO_STARTS_A_PROCESS();
    Batch b(2);
    const QString out = b.out("");
    QDir().mkpath(out);
    const QString dead = QString::number(endedProcess());
    const QString alive = QString::number(::getppid());
    const QStringList stale{".brisko-part-" + dead + "-a1B2c3", "..brisko-part-" + dead + "-a1B2c3.Xy9Zw8",
                            "...brisko-part-" + dead + "-q1W2e3.Rt5Yu6.Io7Pa8"};
    const QStringList kept{".brisko-part-" + alive + "-k1L2m3", ".brisko-part-notes", "brisko-part-" + dead + "-n1B2v3",
                           "holiday.jpg"};
    for (const QString& name : stale + kept) testsupport::writeFile(out + "/" + name, "left over");
    RunHarness h;
    ASSERT_TRUE(h.start(b.input()));
    QStringList expected = kept + QStringList{"p0.png", "p1.png"};
    expected.sort();
    EXPECT_EQ(filesIn(out), expected);
}

TEST(SourceSafety, OutputsWrittenAheadLeaveTheLowSpaceLimitToThePhotoInHand) {
    // A volume with room for three or four outputs above the limit; each is 11.4 MiB.
    testsupport::ScratchVolume volume(qint64(BatchRunner::kLowSpaceBytes) + (40 << 20));
    if (!volume.ok()) GTEST_SKIP() << volume.why().toStdString();
    Batch b(6, 2000, 2000);
    b.rename = batchtest::renameSettings(2);  // BMP: 12 MB each, whatever the picture
    b.output->outputFolderPath = volume.path();
    const BatchRunInput in = b.input();
    RunHarness h;
    h.runner.setFreeSpaceProvider(BatchRunner::volumeSpaceOf);  // the volume's own figures
    h.runner.setPhotosInFlight(6);
    std::atomic<qint64> lowest{volume.freeBytes()};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            lowest = std::min<qint64>(lowest, volume.freeBytes());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const bool ended = h.start(in);
    done = true;
    watcher.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(h.asker.lowSpace, 1);
    // The photo in hand when space ran short was written; nothing failed for want of room.
    int processed = 0;
    for (const auto& p : b.photos) {
        EXPECT_NE(p->processStatus, PhotoFile::Failed) << p->processInfoMessage.toStdString();
        processed += p->processStatus == PhotoFile::Processed;
    }
    EXPECT_GE(processed, 1);
    EXPECT_LT(processed, 6);
    // Below the limit by at most the file of the photo in hand.
    EXPECT_GT(lowest, qint64(BatchRunner::kLowSpaceBytes) - (12 << 20)) << lowest;
    EXPECT_TRUE(filesIn(volume.path()).filter("brisko-part").isEmpty());
}

TEST(SourceSafety, OutputsGetTheSourcesPermissionsAsTheUsersMaskAllows) {
    struct Case {
        mode_t source, mask, expected;
    } cases[] = {{0644, 022, 0644}, {0644, 027, 0640}, {0664, 077, 0600}, {0600, 022, 0600}, {0755, 022, 0755}};
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("source %1 mask %2").arg(c.source, 0, 8).arg(c.mask, 0, 8).toStdString());
        Batch b(1);
        ::chmod(QFile::encodeName(b.photos[0]->filePath).constData(), c.source);
        const mode_t before = ::umask(c.mask);
        RunHarness h;
        const bool ended = h.start(b.input());
        ::umask(before);
        ASSERT_TRUE(ended);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(b.out("p0.png")).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.expected);
    }
}

TEST(SourceSafety, OverwritingInTheSourceFoldersPutsEachOriginalInTheTrashFirst) {
    batchtest::TrashInTemp trash;
    Batch b(3);
    b.rename = batchtest::renameSettings(0);  // keep the format: outputs take the sources' names
    b.output->useSourceFolder = true;
    b.output->copyyToDestinationFolder = false;
    b.output->owerwriteExistingFiles = true;
    QList<QByteArray> originals;
    for (const auto& p : b.photos) originals << testsupport::readFile(p->filePath);
    const BatchRunInput in = b.input();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(in.snapshot.destinationPaths[i]->filePath, b.photos[i]->filePath);
    RunHarness h;
    ASSERT_TRUE(h.start(in));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << b.photos[i]->processInfoMessage.toStdString();
        EXPECT_NE(testsupport::readFile(b.photos[i]->filePath), originals[i]);
        EXPECT_EQ(testsupport::readFile(trash.filesFolder() + QString("/p%1.jpg").arg(i)), originals[i]);
        EXPECT_TRUE(QFileInfo::exists(trash.infoFolder() + QString("/p%1.jpg.trashinfo").arg(i)));
    }
    EXPECT_TRUE(filesIn(b.dir.filePath("src")).filter("brisko-part").isEmpty());
}

}  // namespace
