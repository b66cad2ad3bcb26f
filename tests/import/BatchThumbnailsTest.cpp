// The pictures of the add-photos screen's tiles and rows, and the check of the batch against
// the disk, without the screen: workers run when the test says, and what would be shown is
// recorded.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <new>

#include "import/BatchThumbnails.h"
#include "import/IntakeRules.h"
#include "import/SourceCheck.h"
#include "import/ui/ScreenServices.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/NativeNames.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "tests/support/TestSupport.h"

namespace {

struct QueuedWorkers : ThumbnailWorkers {
    std::vector<Job> jobs;
    void run(Job job) override { jobs.push_back(std::move(job)); }
    // The jobs' worker halves now, their main-thread halves in the returned order.
    std::vector<MainStep> work() {
        std::vector<MainStep> steps;
        for (auto& job : jobs) steps.push_back(job());
        jobs.clear();
        return steps;
    }
    void runAll() {
        for (auto& step : work())
            if (step) step();
    }
};

struct RecordingView : BatchThumbnailsView {
    QList<int> visibleTiles;  // batch indexes on screen
    std::map<int, QImage> tiles, rows;
    QList<int> unavailableRows;
    int shownTileOf(const QString& path) const override {
        const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
        for (int i : visibleTiles)
            if (i < batch.size() && batch[i]->filePath == path) return i;
        return -1;
    }
    void setTileImage(int index, const QImage& image) override { tiles[index] = image; }
    void setRowImage(int row, const QString&, const QImage& image) override { rows[row] = image; }
    void unavailableChanged(int index) override { unavailableRows << index; }
};

// A batch of real files: the maker draws a flat picture of each, except of the paths it is
// told cannot be read.
struct Thumbnails : ::testing::Test {
    QTemporaryDir dir;
    QueuedWorkers grid, list;
    RecordingView view;
    QStringList made;  // paths and sizes asked of the maker
    QSet<QString> unreadable;
    QSet<QString> shortOfMemory;  // the maker runs out of memory on these
    std::unique_ptr<BatchThumbnails> thumbs;

    void SetUp() override {
        AppDelegate::shared().resetToLaunchValues();
        for (int i = 0; i < 4; ++i) {
            auto photo = std::make_shared<PhotoFile>();
            photo->filePath = testsupport::writeFile(dir.filePath(QString("p%1.jpg").arg(i)), "bytes");
            photo->width = 300, photo->height = 200;
            AppDelegate::shared().arraySelectedImagesToProcess << photo;
        }
        thumbs = std::make_unique<BatchThumbnails>(
            grid, list,
            [this](const QString& path, QSize size) {
                made << QString("%1 %2x%3").arg(path.section('/', -1)).arg(size.width()).arg(size.height());
                if (unreadable.contains(path)) return QImage();
                if (shortOfMemory.contains(path)) throw std::bad_alloc();
                // Three by two, no larger than asked, as the program's thumbnails are.
                QImage image(size.width(), size.width() * 2 / 3, QImage::Format_RGB32);
                image.fill(Qt::darkCyan);
                return image;
            },
            view);
    }
    void TearDown() override { AppDelegate::shared().resetToLaunchValues(); }
    QString pathOf(int i) const { return AppDelegate::shared().arraySelectedImagesToProcess[i]->filePath; }
};

TEST_F(Thumbnails, GridPassesGiveWayToScrollingAndLaterPassesAndKeepWhatWasMade) {
    view.visibleTiles = {0, 1, 2};
    // Scrolling began again before the workers came to the loads: they make nothing.
    thumbs->loadTiles({0, 1});
    thumbs->scrollingBegan();
    grid.runAll();
    EXPECT_TRUE(made.isEmpty());
    EXPECT_TRUE(view.tiles.empty());

    // Two passes queued: only the later one's loads make pictures.
    thumbs->loadTiles({0, 1});
    thumbs->loadTiles({1, 2});
    ASSERT_EQ(grid.jobs.size(), 4u);
    grid.runAll();
    EXPECT_EQ(made, (QStringList{"p1.jpg 404x414", "p2.jpg 404x414"}));
    ASSERT_EQ(view.tiles.size(), 2u);
    EXPECT_EQ(view.tiles[1].size(), BatchThumbnails::kGridSize) << "filled to the tile's size";
    EXPECT_EQ(thumbs->cachedTileCount(), 2);

    // Kept pictures are shown at once, without a load.
    made.clear();
    view.tiles.clear();
    thumbs->loadTiles({1, 2});
    EXPECT_TRUE(grid.jobs.empty());
    EXPECT_EQ(view.tiles.size(), 2u);

    // A picture that comes back goes to its file's tile, wherever that is by then; one of a
    // photo that left the batch is neither shown nor kept.
    thumbs->loadTiles({0, 3});
    auto steps = grid.work();
    auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    batch.move(0, 2);  // p0 is now at index 2
    batch.removeAt(3);  // p3 leaves
    view.tiles.clear();
    for (auto& step : steps) step();
    EXPECT_EQ(view.tiles.size(), 1u);
    EXPECT_FALSE(view.tiles[2].isNull());
    EXPECT_EQ(thumbs->cachedTileCount(), 3);
    EXPECT_EQ(thumbs->cachedTile(dir.filePath("p3.jpg")), nullptr);

    // Results that come back after the screen's pictures went do nothing.
    thumbs->clearTileCache();
    thumbs->loadTiles({0});
    steps = grid.work();
    thumbs.reset();
    for (auto& step : steps) step();
}

TEST_F(Thumbnails, AFileThatCannotBeReadIsMarkedAndNotLoadedAgainUntilForgotten) {
    view.visibleTiles = {0, 1};
    unreadable.insert(pathOf(1));
    thumbs->loadTiles({0, 1});
    grid.runAll();
    EXPECT_TRUE(view.tiles[1].isNull()) << "the tile shows the not-available picture";
    EXPECT_TRUE(thumbs->isUnavailable(pathOf(1)));
    EXPECT_EQ(view.unavailableRows, QList<int>{1});
    EXPECT_TRUE(AppDelegate::shared().arraySelectedImagesToProcess[1]->isUnreadable);
    EXPECT_EQ(thumbs->unavailableToolTip(pathOf(1)), intake::unavailablePhotoText(pathOf(1)));
    EXPECT_EQ(thumbs->unavailableToolTip(pathOf(0)), "");

    made.clear();
    thumbs->loadTiles({0, 1});
    thumbs->loadRows(0, 1, [](const QString&) { return false; });
    grid.runAll();
    list.runAll();
    EXPECT_EQ(made, QStringList{}) << "p0 is kept, p1 is known to fail";

    // Read again once forgotten; now it reads, and counts as readable again.
    unreadable.clear();
    thumbs->forget(pathOf(1));
    thumbs->loadTiles({1});
    grid.runAll();
    EXPECT_FALSE(view.tiles[1].isNull());
    EXPECT_FALSE(AppDelegate::shared().arraySelectedImagesToProcess[1]->isUnreadable);

    // A file that is gone is marked without a read, and said to be gone.
    QFile::remove(pathOf(2));
    thumbs->markUnavailable(pathOf(2));
    EXPECT_EQ(thumbs->unavailableToolTip(pathOf(2)), intake::unavailablePhotoText(pathOf(2)));
    thumbs->markUnreadable(pathOf(2));
    EXPECT_FALSE(AppDelegate::shared().arraySelectedImagesToProcess[2]->isUnreadable) << "missing, not unreadable";
    thumbs->forgetAll();
    EXPECT_TRUE(thumbs->unavailable().isEmpty());
}

// A read that failed because another program was writing the file (a sync client) is not
// the file's last word: once the file has changed, the grid, the list and a click read it
// again, and a read that works lifts the mark.
TEST_F(Thumbnails, AFailedReadIsTriedAgainOnceItsFileHasChanged) {
    view.visibleTiles = {0, 1};
    thumbs->loadTiles({0, 1});
    grid.runAll();
    ASSERT_FALSE(view.tiles[1].isNull());
    thumbs->loadRows(0, 1, [](const QString&) { return false; });
    list.runAll();
    int rewrites = 0;
    const auto rewrite = [&](int i) {
        ASSERT_TRUE(platform::setModificationDate(pathOf(i), QDateTime::currentDateTime().addSecs(60 * ++rewrites)));
    };
    // Its file changed, and the read of it now fails: the kept tile is let go and the mark
    // goes on.
    unreadable.insert(pathOf(1));
    rewrite(1);
    made.clear();
    EXPECT_FALSE(thumbs->isReadable(pathOf(1)));
    EXPECT_EQ(thumbs->cachedTile(pathOf(1)), nullptr);
    const auto passes = [&] {
        thumbs->loadTiles({0, 1});
        thumbs->loadRows(0, 1, [](const QString&) { return true; });
        grid.runAll();
        list.runAll();
        thumbs->isReadable(pathOf(1));
    };
    passes();
    EXPECT_EQ(made, QStringList{"p1.jpg 404x414"}) << "not read again while it is as it was";

    // Changed again, still failing: read once more by each, and still marked.
    rewrite(1);
    made.clear();
    passes();
    EXPECT_EQ(made, (QStringList{"p1.jpg 404x414", "p1.jpg 35x24"}));
    EXPECT_TRUE(thumbs->isUnavailable(pathOf(1)));

    // Whole again: the next pass shows its picture and lifts the mark, for the list too.
    unreadable.clear();
    rewrite(1);
    view.unavailableRows.clear();
    view.rows.clear();
    thumbs->loadRows(0, 1, [](const QString&) { return true; });
    list.runAll();
    EXPECT_FALSE(thumbs->isUnavailable(pathOf(1)));
    EXPECT_EQ(view.rows.count(1), 1u) << "the row's older picture is replaced";
    EXPECT_EQ(view.unavailableRows, QList<int>{1});
    EXPECT_FALSE(AppDelegate::shared().arraySelectedImagesToProcess[1]->isUnreadable);
    EXPECT_TRUE(thumbs->isReadable(pathOf(1)));
}

TEST_F(Thumbnails, ListRowsTakeTheGridsPictureOrTheirOwnOnceAndRetryAFailure) {
    view.visibleTiles = {0};
    thumbs->loadTiles({0});
    grid.runAll();
    made.clear();
    QSet<QString> withPicture;
    unreadable.insert(pathOf(3));
    const auto hasPicture = [&](const QString& path) { return withPicture.contains(path); };
    thumbs->loadRows(0, 3, hasPicture);
    thumbs->loadRows(0, 3, hasPicture);  // loads on the way are not asked for twice
    ASSERT_EQ(list.jobs.size(), 4u);
    list.runAll();
    EXPECT_EQ(made, (QStringList{"p1.jpg 35x24", "p2.jpg 35x24", "p3.jpg 35x24"})) << "p0 from the grid's picture";
    ASSERT_EQ(view.rows.size(), 3u);
    for (const auto& [row, image] : view.rows) EXPECT_EQ(image.width(), BatchThumbnails::kListSize.width()) << row;
    EXPECT_EQ(view.rows[0].size(), BatchThumbnails::kListSize) << "the grid's picture cut to the row";
    EXPECT_EQ(view.rows.count(3), 0u) << "a failed read is not kept as the row's picture";
    EXPECT_TRUE(thumbs->isUnavailable(pathOf(3)));

    // Rows with their pictures are not loaded again; a forgotten failure is.
    for (int i = 0; i < 3; ++i) withPicture.insert(pathOf(i));
    unreadable.clear();
    thumbs->forget(pathOf(3));
    made.clear();
    thumbs->loadRows(-5, 10, hasPicture);
    list.runAll();
    EXPECT_EQ(made, QStringList{"p3.jpg 35x24"});
    EXPECT_EQ(view.rows.count(3), 1u);
}

// A picture that could not be made for want of memory marks nothing: the tile and the row
// are asked for again, and made once memory allows. On the screen's own workers the
// failure ends only that job.
TEST_F(Thumbnails, APictureThatRunsOutOfMemoryIsMadeAgainLaterAndJudgesNoFile) {
    view.visibleTiles = {0, 1};
    shortOfMemory = {pathOf(1)};
    const auto noPicture = [](const QString&) { return false; };
    thumbs->loadTiles({0, 1});
    grid.runAll();
    thumbs->loadRows(0, 1, noPicture);
    list.runAll();
    EXPECT_EQ(view.tiles.count(1), 0u);
    EXPECT_EQ(view.rows.count(1), 0u);
    EXPECT_FALSE(thumbs->isUnavailable(pathOf(1)));
    EXPECT_TRUE(view.unavailableRows.isEmpty());
    EXPECT_FALSE(AppDelegate::shared().arraySelectedImagesToProcess[1]->isUnreadable);

    shortOfMemory.clear();
    made.clear();
    thumbs->loadTiles({0, 1});
    grid.runAll();
    thumbs->loadRows(0, 1, [&](const QString& path) { return path == pathOf(0); });
    list.runAll();
    EXPECT_EQ(made, QStringList{"p1.jpg 404x414"}) << "the row from the tile's picture";
    EXPECT_FALSE(view.tiles[1].isNull());
    EXPECT_FALSE(view.rows[1].isNull());

    PooledThumbnailWorkers workers(1);
    int shown = 0;
    workers.run([]() -> ThumbnailWorkers::MainStep { throw std::bad_alloc(); });
    workers.run([&] { return [&] { ++shown; }; });
    QElapsedTimer waited;
    waited.start();
    while (shown == 0 && waited.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(shown, 1);
}

TEST_F(Thumbnails, PicturesOfChangedFilesAreLetGoAndAClickReadsOnlyWhatChanged) {
    view.visibleTiles = {0, 1, 2, 3};
    thumbs->loadTiles({0, 1, 2, 3});
    grid.runAll();
    thumbs->loadRows(0, 3, [](const QString&) { return false; });
    list.runAll();
    made.clear();
    // Unchanged files keep their tiles and rows.
    EXPECT_TRUE(thumbs->dropChanged().isEmpty());
    EXPECT_EQ(thumbs->cachedTileCount(), 4);

    // Another size, another time, gone: those pictures go, the tile and the row alike.
    testsupport::writeFile(pathOf(1), "longer bytes");
    ASSERT_TRUE(platform::setModificationDate(pathOf(2), QDateTime::currentDateTime().addSecs(3600)));
    QFile::remove(pathOf(3));
    QStringList gone = thumbs->dropChanged();
    gone.sort();
    EXPECT_EQ(gone, (QStringList{pathOf(1), pathOf(2), pathOf(3)}));
    EXPECT_NE(thumbs->cachedTile(pathOf(0)), nullptr);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(thumbs->cachedTile(pathOf(i)), nullptr) << i;
    EXPECT_TRUE(thumbs->dropChanged().isEmpty()) << "let go once";

    // Whether a photo reads: from the picture made of the file as it is, else read now.
    unreadable.insert(pathOf(1));
    view.tiles.clear();
    EXPECT_TRUE(thumbs->isReadable(pathOf(0)));
    EXPECT_TRUE(made.isEmpty());
    EXPECT_FALSE(thumbs->isReadable(pathOf(1)));
    EXPECT_TRUE(view.tiles[1].isNull()) << "its tile shows why at once";
    EXPECT_TRUE(thumbs->isReadable(pathOf(2)));
    EXPECT_FALSE(view.tiles[2].isNull());
    EXPECT_FALSE(thumbs->isReadable(pathOf(3)));
    EXPECT_EQ(made, (QStringList{"p1.jpg 404x414", "p2.jpg 404x414"})) << "nothing read of a file that is gone";
    made.clear();
    EXPECT_FALSE(thumbs->isReadable(pathOf(1)));
    EXPECT_TRUE(thumbs->isReadable(pathOf(2)));
    EXPECT_TRUE(made.isEmpty()) << "known now, not read again";
}

TEST(SourceCheck, PhotosGoneFromTheirFoldersAreFoundAndLetGoOnlyWhenAsked) {
    QTemporaryDir dir;
    auto photoAt = [&](const QString& name, double width) {
        auto p = std::make_shared<PhotoFile>();
        p->filePath = dir.filePath(name);
        p->width = width, p->height = 100;
        return p;
    };
    // A name that is not UTF-8 is found by its bytes.
    const QString latin = platform::decodePath(QFile::encodeName(dir.path()) + "/caf\xe9.jpg");
    auto here = photoAt("here.jpg", 100), gone = photoAt("gone.jpg", 100), sizeless = photoAt("sizeless.jpg", 0),
         named = std::make_shared<PhotoFile>(*here);
    named->filePath = latin;
    testsupport::writeFile(here->filePath, "x");
    testsupport::writeFile(sizeless->filePath, "x");
    testsupport::writeFile(latin, "x");
    const QList<std::shared_ptr<PhotoFile>> batch{here, gone, sizeless, named};

    struct Case {
        QList<std::shared_ptr<PhotoFile>> batch;
        bool remove;
        QList<std::shared_ptr<PhotoFile>> kept;
        QList<int> missing;
        bool allGone;
    };
    const std::vector<Case> cases = {
        {batch, false, batch, {1, 2}, false},
        {batch, true, {here, named}, {1, 2}, false},
        {{gone, sizeless}, false, {gone, sizeless}, {0, 1}, true},
        {{gone}, true, {}, {0}, true},
        {{}, false, {}, {}, false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const intake::SourceCheck check = intake::checkSources(cases[i].batch, cases[i].remove);
        EXPECT_EQ(check.kept, cases[i].kept);
        EXPECT_EQ(check.missingIndexes, cases[i].missing);
        EXPECT_EQ(check.missingPaths.size() + check.presentPaths.size(), cases[i].batch.size());
        EXPECT_EQ(check.allGone(), cases[i].allGone);
    }
    // The file system can be stood in for.
    EXPECT_TRUE(intake::checkSources({here}, false, [](const QString&) { return false; }).allGone());
    // A photo found not to read goes with the missing ones, though its file is there.
    const intake::SourceCheck unread = intake::checkSources(batch, true, {}, here->filePath);
    EXPECT_EQ(unread.kept, QList<std::shared_ptr<PhotoFile>>{named});
    EXPECT_EQ(unread.missingIndexes, (QList<int>{0, 1, 2}));
    testsupport::removeTree(dir.path());
}

}  // namespace
