// Photos of several pages or frames, of which the output holds the first: the status says
// so, and the original, the only file with the others, is never sent to the Trash or
// replaced. The files are made by real programs: multi-page TIFFs by tiffcp (a page made a
// reduced-size copy by tiffset), animated GIFs by gifsicle, an animated WebP by libwebp's
// muxer.
#include <gtest/gtest.h>

#include "batch/RunMessages.h"
#include "platform/foundation/Format.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/batch/PageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

namespace pagestest {

TEST(Pages, TheHeaderCountsPagesFramesAndPicturesButNotReducedCopies) {
    QTemporaryDir dir;
    const QString scratch = dir.filePath("pages");
    QDir().mkpath(scratch);
    // Two pages, the second then marked as a reduced-size copy of the first (a thumbnail).
    const QString withThumbnail = multiPageTiff(scratch, dir.filePath("thumbnail.tif"), 2);
    ASSERT_TRUE(runProgram("tiffset", {"-d", "1", "-s", "254", "1", withThumbnail}));
    const QList<QImage> frames{testsupport::gradientImage(64, 48), testsupport::gradientImage(64, 48).mirrored(),
                               testsupport::gradientImage(64, 48).mirrored(true, false)};
    const QString webp = testsupport::writeFile(dir.filePath("animated.webp"), testsupport::makeAnimatedWebp(frames));
    struct Case {
        const char* name;
        QString path;
        int pages;
    } cases[] = {
        {"three-page TIFF", multiPageTiff(scratch, dir.filePath("three.tif"), 3), 3},
        {"one page and its thumbnail", withThumbnail, 1},
        {"a page alone", pagesOf(scratch, platform::ImageType::TIFF, "tif", 1).value(0), 1},
        {"four-frame GIF", animatedGif(scratch, dir.filePath("four.gif"), 4), 4},
        {"a still GIF", pagesOf(scratch, platform::ImageType::GIF, "gif", 1).value(0), 1},
        {"three-frame WebP", webp, 3},
        {"a JPEG", testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Storm.jpg"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::ImageHeader header = platform::readImageHeader(c.path);
        ASSERT_TRUE(header.valid());
        EXPECT_EQ(header.pages, c.pages);
    }
}

TEST(Pages, TheStatusSaysOnlyTheFirstWasWrittenAndTheOriginalIsNeverGivenUp) {
    batchtest::TrashInTemp trash;
    struct Case {
        const char* name;
        bool gif;  // an animated GIF, else a multi-page TIFF
        int outputFormat;  // 0 keeps the format
        bool move, overwriteOwnSource;
        int status;
        const QString* text;
        const QString* noun;
        bool outputWritten;
    } cases[] = {
        {"TIFF to JPEG, copied", false, 4, false, false, PhotoFile::Processed, &runmessages::OnlyFirstPage,
         &runmessages::PagesNoun, true},
        {"TIFF to JPEG, moved", false, 4, true, false, PhotoFile::Failed, &runmessages::OnlyFirstPageOriginalKept,
         &runmessages::PagesNoun, true},
        {"GIF to PNG, moved", true, 6, true, false, PhotoFile::Failed, &runmessages::OnlyFirstPageOriginalKept,
         &runmessages::FramesNoun, true},
        {"TIFF kept as TIFF over itself", false, 0, false, true, PhotoFile::Failed,
         &runmessages::OnlyFirstPageNotReplaced, &runmessages::PagesNoun, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batchtest::Batch b(0);
        QDir().mkpath(b.dir.filePath("pages"));
        QDir().mkpath(b.dir.filePath("src"));
        const QString source = c.gif ? animatedGif(b.dir.filePath("pages"), b.dir.filePath("src/moving.gif"), 3)
                                     : multiPageTiff(b.dir.filePath("pages"), b.dir.filePath("src/scan.tif"), 3);
        ASSERT_FALSE(source.isEmpty());
        QFile original(source);
        ASSERT_TRUE(original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        original.close();
        b.photos << batchtest::photoAt(source);
        b.rename = batchtest::renameSettings(c.outputFormat);
        b.output = c.overwriteOwnSource ? batchtest::outputSettings(b.dir.filePath("src"), false, true)
                                        : batchtest::outputSettings(b.dir.filePath("out"), c.move);
        BatchRunInput in = b.input();
        // Beside the source under its own name: the output would take the original's place.
        if (c.overwriteOwnSource) in.snapshot.destinationPaths[0]->filePath = source;
        batchtest::RunHarness run;
        ASSERT_TRUE(run.start(in));
        const auto& photo = b.photos[0];
        EXPECT_EQ(photo->processStatus, c.status);
        EXPECT_EQ(photo->processInfoMessage, platform::format(*c.text, 3, *c.noun));
        // The original, as it was, where it was.
        QFile after(source);
        ASSERT_TRUE(after.open(QIODevice::ReadOnly));
        EXPECT_EQ(after.readAll(), before);
        EXPECT_TRUE(QDir(trash.filesFolder()).entryList(QDir::Files).isEmpty());
        if (!c.overwriteOwnSource) {
            const QString output = in.snapshot.destinationPaths[0]->filePath;
            EXPECT_EQ(QFileInfo::exists(output), c.outputWritten);
            EXPECT_EQ(platform::readImageHeader(output).pages, 1);
        }
        EXPECT_TRUE(QDir(QFileInfo(source).absolutePath()).entryList(QDir::Hidden | QDir::Files).filter("brisko-part").isEmpty());
    }
}

}  // namespace pagestest
