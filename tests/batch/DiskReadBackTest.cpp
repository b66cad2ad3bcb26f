// Runs on a disk that garbles what it said it wrote: an ext4 volume on a loop device whose
// image is changed below the mounted file system once an output's data are flushed to it,
// while the system's cache still holds the pages as the writer filled them. An output read
// back from those pages would look whole; read back from the disk it is not, and no
// original is given up for it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <unistd.h>

#include "batch/RunMessages.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/ScratchVolume.h"

namespace {

struct GarbledCase {
    const char* name;
    int format;  // 4 jpg, 6 png
    const char* extension;
    bool rowByRow;
    bool replacesSource;  // written over its own source, else the source is moved to the Trash
};
const GarbledCase kGarbledCases[] = {
    {"jpg moved", 4, "jpg", false, false},
    {"png moved", 6, "png", false, false},
    {"png made row by row, moved", 6, "png", true, false},
    {"jpg over its own source", 4, "jpg", false, true},
};

TEST(DiskReadBack, AnOutputTheDiskGarbledUnderTheCacheIsNeverPlacedAndItsOriginalStays) {
    testsupport::LoopVolume volume(64 << 20);
    if (!volume.ok()) GTEST_SKIP() << volume.why().toStdString();
    batchtest::TrashInTemp trash;
    QTemporaryDir elsewhere;
    const QString photo = testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/GreenMeadow.jpg");
    const QByteArray original = testsupport::readFile(photo);
    int n = 0;
    for (const GarbledCase& c : kGarbledCases) {
        for (const bool garbling : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (garbling ? ", garbled" : ", healthy"));
            const QString caseFolder = QString::number(n++);
            // A source written over goes to the Trash of its own volume; one moved, to the
            // home Trash from a folder of the home's disk.
            const QString sources =
                c.replacesSource ? volume.filePath(caseFolder + "/src") : elsewhere.filePath(caseFolder + "/src");
            const QString out = volume.filePath(caseFolder + "/out");
            ASSERT_TRUE(QDir().mkpath(sources));
            const QString source = testsupport::writeFile(sources + "/GreenMeadow.jpg", original);
            const auto photos = batchtest::photosIn(sources);
            auto output = batchtest::outputSettings(out, !c.replacesSource, c.replacesSource);
            output->useSourceFolder = c.replacesSource;
            const BatchRunInput in = batchtest::runInput(photos, batchtest::renameSettings(c.format), output,
                                                         {batchtest::resizeStepTo(640, 400)});
            const QString destination = in.snapshot.destinationPaths[0]->filePath;
            ASSERT_EQ(c.replacesSource, destination == source) << destination.toStdString();

            batchtest::RunHarness run;
            if (c.rowByRow) run.runner.setRowByRowFromPixels(1);
            // Set on the run's threads.
            std::atomic<int> flushed{0};
            std::atomic<bool> garbled{false};
            run.runner.setWriterSetUp([&](ResultWriter& writer) {
                writer.onDisk = [&](const QString& temporaryPath) {
                    ++flushed;
                    const qint64 size = QFileInfo(temporaryPath).size();
                    if (garbling) garbled = volume.garbleOnDisk(temporaryPath, size / 2, std::min<qint64>(2048, size / 4));
                };
            });
            ASSERT_TRUE(run.start(in));
            EXPECT_EQ(flushed.load(), 1);
            if (!garbling) {
                // The same photo on a disk that keeps what it is given: written, and its
                // original given up.
                EXPECT_EQ(photos[0]->processStatus, PhotoFile::Processed) << photos[0]->processInfoMessage.toStdString();
                EXPECT_EQ(run.runner.photosMadeRowByRow.load(), c.rowByRow ? 1 : 0);
                EXPECT_NE(testsupport::readFile(destination), original);
                EXPECT_EQ(QFileInfo::exists(source), c.replacesSource);
                continue;
            }
            ASSERT_TRUE(garbled.load()) << "the output's blocks were not found on the volume";
            EXPECT_EQ(photos[0]->processStatus, PhotoFile::Failed);
            EXPECT_EQ(photos[0]->processInfoMessage, runmessages::OutputDiffers);
            EXPECT_EQ(testsupport::readFile(source), original);
            EXPECT_EQ(QFileInfo::exists(destination), c.replacesSource);
            EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
            EXPECT_EQ(QDir(sources).entryList(QDir::Files | QDir::Hidden), QStringList{"GreenMeadow.jpg"});
        }
    }
    // Only the healthy runs' originals are in a Trash: the three moved ones in the home's,
    // the one written over in the volume's own.
    EXPECT_EQ(QDir(trash.filesFolder()).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(QDir(volume.filePath(QString(".Trash-%1/files").arg(::getuid()))).entryList(QDir::Files).size(), 1);
}

}  // namespace
