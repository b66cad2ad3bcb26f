// The preview's background renderer on its own thread: after a picture it waits a moment for
// the next request (a slider drag asks every few milliseconds), and that wait must neither
// hold back a request nor the screen's closing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>

#include "editor/PreviewRenderer.h"
#include "tests/support/ImageFixtures.h"

namespace {

PreviewJob sepiaJob(int width) {
    PreviewJob job;
    job.preview = testsupport::softPhoto(width, width * 3 / 4);
    job.filterName = QStringLiteral("CISepiaTone");
    return job;
}

// Serves the event loop until `done` or the time is up; the milliseconds it took.
qint64 waitUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return t.elapsed();
}

}  // namespace

TEST(PreviewRendererThread, RequestsWhileItWaitsAreRenderedAtOnceAndClosingDoesNotWait) {
    auto renderer = std::make_unique<PreviewRenderer>();
    // Long enough that a request or a close waiting it out would show beyond doubt.
    renderer->setLinger(10000);
    QList<quint64> delivered;
    QSize lastSize;
    QObject::connect(renderer.get(), &PreviewRenderer::rendered, [&](const QImage& image, quint64 generation) {
        delivered << generation;
        lastSize = image.size();
    });

    const quint64 first = renderer->request(sepiaJob(160));
    waitUntil([&] { return delivered.contains(first); });
    ASSERT_EQ(delivered, QList<quint64>{first});
    EXPECT_TRUE(renderer->waitForIdle(1000));

    // The thread is still waiting for a next request: this one wakes it.
    QElapsedTimer t;
    t.start();
    const quint64 second = renderer->request(sepiaJob(200));
    waitUntil([&] { return delivered.contains(second); });
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(lastSize, QSize(200, 150));

    // A burst: only the newest is shown.
    quint64 newest = 0;
    for (int i = 0; i < 5; ++i) newest = renderer->request(sepiaJob(120 + i));
    waitUntil([&] { return delivered.contains(newest); });
    EXPECT_TRUE(renderer->waitForIdle(1000));
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.last(), newest);
    EXPECT_EQ(lastSize, QSize(124, 93));

    // Closing the screen while the thread waits does not wait the moment out.
    t.restart();
    renderer.reset();
    EXPECT_LT(t.elapsed(), 5000);
}
