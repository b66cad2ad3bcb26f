#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <stdexcept>

#include "batch/BatchRunner.h"
#include "batch/OutputPlanner.h"
#include "batch/RenameScheme.h"
#include "batch/RunMessages.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"

namespace {

// Every file below `folder`, as paths relative to it.
QStringList filesBelow(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

// A rename rule whose text climbs out of the destination folder must not write there:
// not over a file the user keeps beside it (overwriting on), not into a new place.
TEST(BatchRunnerSafety, NameClimbingOutOfTheDestinationIsRefused) {
    struct Case {
        const char* what;
        QVariantMap replaceName;
        QVariantMap addString;
    } cases[] = {
        {"new name", {{"State", true}, {"New Name", "../keep"}}, {}},
        {"prefix", {}, {{"State", true}, {"Prefix", "../../"}}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString source = batchtest::writePhoto(dir.filePath("in/photos/p0.jpg"), 64, 48);
        ASSERT_FALSE(source.isEmpty());
        testsupport::writeFile(dir.filePath("in/keep.jpg"), "the user's own file");
        const QStringList before = filesBelow(dir.path());

        auto rename = batchtest::renameSettings(4);
        rename->flagRenamingMode = 1;
        rename->dictReplaceFileName = c.replaceName;
        rename->dictAddString = c.addString;
        rename->dictUseLowerCaseForFileExtension = {{"State", true}};
        auto output = batchtest::outputSettings(dir.filePath("in/out"), false, true);

        BatchRunInput in = batchtest::runInput(QList<std::shared_ptr<PhotoFile>>{batchtest::photoAt(source)}, rename, output);
        ASSERT_TRUE(in.snapshot.destinationPaths[0]->filePath.contains("/../")) << c.what;

        std::atomic<bool> flag{false};
        BatchRunner runner(&flag);
        runner.setFreeSpaceProvider([](const QString&) { return VolumeSpace{1ull << 40, 1ull << 39}; });
        bool ended = false;
        QObject::connect(&runner, &BatchRunner::runEnded, [&](bool) { ended = true; });
        runner.startProcessingOfPhotos(in);
        ASSERT_TRUE(batchtest::waitUntil([&] { return ended; })) << c.what;

        EXPECT_EQ(in.snapshot.photos[0]->processStatus, PhotoFile::Failed) << c.what;
        EXPECT_EQ(in.snapshot.photos[0]->processInfoMessage, runmessages::InvalidName) << c.what;
        EXPECT_EQ(filesBelow(dir.path()), before) << c.what;
        QFile kept(dir.filePath("in/keep.jpg"));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("the user's own file")) << c.what;
    }
}

// An exception out of one photo's work (an effect or the writer giving up on memory)
// fails that photo and leaves nothing half-written; the run goes on with the next.
TEST(BatchRunnerSafety, ExceptionInOnePhotoFailsOnlyThatPhoto) {
    QTemporaryDir dir;
    QList<std::shared_ptr<PhotoFile>> photos;
    for (int i = 0; i < 2; ++i)
        photos << batchtest::photoAt(batchtest::writePhoto(dir.filePath(QString("src/p%1.jpg").arg(i)), 64, 48));
    auto rename = batchtest::renameSettings(4);
    auto output = batchtest::outputSettings(dir.filePath("out"));
    BatchRunInput in = batchtest::runInput(photos, rename, output);

    std::atomic<bool> flag{false};
    BatchRunner runner(&flag);
    runner.setFreeSpaceProvider([](const QString&) { return VolumeSpace{1ull << 40, 1ull << 39}; });
    runner.setWriterSetUp([](ResultWriter& writer) {
        writer.beforePlacing = [](const QString&, const QString& destination) {
            if (QFileInfo(destination).fileName().startsWith("p0.")) throw std::bad_alloc();
        };
    });
    bool ended = false, finished = false;
    QObject::connect(&runner, &BatchRunner::runEnded, [&](bool f) { ended = true; finished = f; });
    runner.startProcessingOfPhotos(in);
    ASSERT_TRUE(batchtest::waitUntil([&] { return ended; }));

    EXPECT_TRUE(finished);
    EXPECT_EQ(photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_FALSE(photos[0]->processInfoMessage.isEmpty());
    EXPECT_EQ(photos[1]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(filesBelow(dir.filePath("out")), QStringList{"p1.jpg"});
    EXPECT_EQ(runner.counterProcessedWithError, 1);
    EXPECT_EQ(runner.counterProcessedSuccessfully, 1);
}

// A rule that removes the whole name leaves only ".jpg": no file of that name is written
// (it would be a hidden file without the type asked for), and in move mode the source stays.
TEST(BatchRunnerSafety, NameRemovedEntirelyIsBlankAndKeepsTheSource) {
    batchtest::TrashInTemp trash;
    QTemporaryDir dir;
    const QString source = batchtest::writePhoto(dir.filePath("src/p0.jpg"), 64, 48);
    auto rename = batchtest::renameSettings(4);
    rename->flagRenamingMode = 1;
    rename->dictRemove = {{"State", true}, {"First n", 100}};
    rename->dictUseLowerCaseForFileExtension = {{"State", true}};
    auto output = batchtest::outputSettings(dir.filePath("out"), true);
    BatchRunInput in = batchtest::runInput(QList<std::shared_ptr<PhotoFile>>{batchtest::photoAt(source)}, rename, output);
    ASSERT_TRUE(in.snapshot.destinationPaths[0]->fileExtension.isEmpty());

    std::atomic<bool> flag{false};
    BatchRunner runner(&flag);
    runner.setFreeSpaceProvider([](const QString&) { return VolumeSpace{1ull << 40, 1ull << 39}; });
    bool ended = false;
    QObject::connect(&runner, &BatchRunner::runEnded, [&](bool) { ended = true; });
    runner.startProcessingOfPhotos(in);
    ASSERT_TRUE(batchtest::waitUntil([&] { return ended; }));

    EXPECT_EQ(in.snapshot.photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(in.snapshot.photos[0]->processInfoMessage, runmessages::BlankName);
    EXPECT_TRUE(QFileInfo::exists(source));
    EXPECT_TRUE(filesBelow(dir.filePath("out")).isEmpty());
}

}  // namespace
