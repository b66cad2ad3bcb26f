// The effects screen's work on its threads that runs out of memory (an effect, a read, a
// thumbnail maker that throws) ends as work that failed, never the program, and the threads
// go on with the next request: the preview shows the picture without the effect, a photo
// comes back as one that could not be loaded, a step's thumbnail shows the photo without the
// step, and a strip thumbnail is made again later.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <new>

#include "editor/PreviewLoader.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/PhotoStrip.h"
#include "platform/coreimage/CIFilterRegistry.h"
#include "platform/foundation/FileAttributes.h"
#include "records/AppliedFilter.h"
#include "tests/editor/EffectsScreenFixture.h"
#include "tests/support/ImageFixtures.h"

namespace {

namespace ci = platform::ci;

const QString kRunsShort = QStringLiteral("TestRunsOutOfMemory");

// An effect that runs out of memory whenever it is applied.
void registerEffectThatRunsShort() {
    ci::registerFilter({kRunsShort, "Test Runs Out Of Memory", {kCICategoryStylize}, {ci::imageInput()},
                        [](const ci::CIFilterArgs&) -> CIImage { throw std::bad_alloc(); }});
}

bool serveUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

std::shared_ptr<AppliedFilter> step(const QString& name) {
    return AppliedFilter::initWithFilterName(name, name, QVariantList{}, QImage(), nullptr);
}

}  // namespace

TEST(WorkThatRunsOutOfMemory, EndsAsWorkThatFailedAndTheThreadsGoOn) {
    registerEffectThatRunsShort();
    const QImage photo = testsupport::softPhoto(160, 120);

    // The preview's renderer, on its own thread.
    PreviewRenderer renderer;
    QList<QImage> rendered;
    QObject::connect(&renderer, &PreviewRenderer::rendered, [&](const QImage& image, quint64) { rendered << image; });
    PreviewJob failing;
    failing.preview = photo;
    failing.filterName = kRunsShort;
    renderer.request(failing);
    ASSERT_TRUE(serveUntil([&] { return rendered.size() == 1; }));
    EXPECT_EQ(rendered[0], photo) << "the picture without the effect";
    PreviewJob sepia = failing;
    sepia.filterName = QStringLiteral("CISepiaTone");
    renderer.request(sepia);
    ASSERT_TRUE(serveUntil([&] { return rendered.size() == 2; })) << "the renderer goes on";
    EXPECT_NE(rendered[1], photo);

    // A photo loaded on Qt's pool, its read running short.
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.png");
    ASSERT_TRUE(photo.save(path));
    QObject context;
    PreviewLoader loader(&context);
    loader.setSourceReadHook([](const QString&) { throw std::bad_alloc(); });
    QList<PhotoPreviewResult> loaded;
    loader.load(PhotoFile::initWithFileUrl(path, false), QSizeF(200, 200), [&](const auto& r) { loaded << r; });
    ASSERT_TRUE(serveUntil([&] { return loaded.size() == 1; }));
    EXPECT_FALSE(loaded[0].loaded);
    EXPECT_EQ(loaded[0].path, path);
    loader.setSourceReadHook(nullptr);
    loader.load(PhotoFile::initWithFileUrl(path, false), QSizeF(200, 200), [&](const auto& r) { loaded << r; });
    ASSERT_TRUE(serveUntil([&] { return loaded.size() == 2; }));
    EXPECT_TRUE(loaded[1].loaded);

    // The steps' thumbnails: the failing step shows the photo, the next one its effect.
    StepThumbnails thumbnails(&context);
    const QList<std::shared_ptr<AppliedFilter>> steps{step(kRunsShort), step(QStringLiteral("CISepiaTone"))};
    QList<int> delivered;
    thumbnails.render(photo, path, steps, {}, [&](int row) { delivered << row; });
    ASSERT_TRUE(serveUntil([&] { return delivered.size() == 2; }));
    EXPECT_EQ(steps[0]->filterAppliedImage, photo);
    EXPECT_FALSE(steps[1]->filterAppliedImage.isNull());
    EXPECT_NE(steps[1]->filterAppliedImage, photo);
}

TEST(WorkThatRunsOutOfMemory, AStripThumbnailIsMadeAgainOnceMemoryAllows) {
    fxtest::Screen s;
    PhotoStrip* strip = s.screen->photoStrip();
    const QString second = s.paths[1];
    bool shortOfMemory = true;
    int tries = 0;
    strip->setMaker([&](const QString& path, QSize size) {
        if (path != second) return QImage();
        ++tries;
        if (shortOfMemory) throw std::bad_alloc();
        QImage made(size, QImage::Format_RGB32);
        made.fill(Qt::red);
        return made;
    });
    // Changed on disk: its kept thumbnail is made again.
    ASSERT_TRUE(platform::setModificationDate(second, QDateTime::currentDateTime().addSecs(60)));
    strip->loadVisibleThumbnails();
    s.settle();
    ASSERT_EQ(tries, 1);
    EXPECT_FALSE(strip->isMarked(1)) << "running short of memory says nothing of the file";
    shortOfMemory = false;
    strip->loadVisibleThumbnails();
    s.settle();
    EXPECT_EQ(tries, 2);
    EXPECT_EQ(strip->cachedThumbnail(second).pixel(0, 0), QColor(Qt::red).rgb());
    EXPECT_FALSE(strip->isMarked(1));
}
