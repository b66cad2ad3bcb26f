// The add-photos screen with a big batch: adds a folder of photos through the screen's
// intake on its real queues, then prints the time from the add's end to the first screen
// of thumbnails, the longest gap between two turns of the main thread's event loop while
// the grid scrolls from top to bottom, and the memory the decoded tiles hold.
//
//   bench_addphotos_grid <folder of photos>   (e.g. the 10,000 small JPEGs of bench_import)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "import/ui/AddPhotosVC.h"
#include "import/ui/GridCell.h"
#include "import/ui/ScreenImages.h"
#include "records/AppDelegate.h"

namespace {

bool visibleTilesLoaded(CollectionView* view) {
    const auto visible = view->indexPathsForVisibleItems();
    if (visible.empty()) return false;
    for (const IndexPath& p : visible) {
        auto* cell = qobject_cast<GridCell*>(view->cellForItemAtIndexPath(p));
        if (!cell || !screenimages::nameOf(cell->image()).isEmpty()) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder of photos>\n", argv[0]);
        return 2;
    }
    QWidget host;
    host.resize(1400, 900);
    auto* screen = new AddPhotosVC(&host);
    screen->setGeometry(host.rect());
    host.show();
    app.processEvents();

    QEventLoop wait;
    QObject::connect(&screen->intake(), &PhotoIntake::addEnded, &wait, &QEventLoop::quit);
    screen->intake().isAddFromSubFolderSelected = true;
    QElapsedTimer clock;
    clock.start();
    screen->intake().addPhotosFromPaths({QString::fromLocal8Bit(argv[1])});
    wait.exec();
    const qint64 addMs = clock.elapsed();
    const int count = int(AppDelegate::shared().arraySelectedImagesToProcess.size());
    screen->btnOkOnAlertWinTapped();

    // First screen of thumbnails after the add's end.
    clock.restart();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (visibleTilesLoaded(screen->collectionView()) || clock.elapsed() > 10000) wait.quit();
    });
    poll.start(2);
    wait.exec();
    poll.stop();
    const qint64 firstScreenMs = clock.elapsed();

    // Scroll top to bottom, 60 px a frame every 16 ms, stamping every turn of the loop.
    CollectionView* view = screen->collectionView();
    QElapsedTimer turn;
    turn.start();
    qint64 longestGap = 0, last = 0;
    QTimer stamp;
    stamp.setInterval(0);
    QObject::connect(&stamp, &QTimer::timeout, [&] {
        const qint64 now = turn.nsecsElapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    QTimer scroller;
    int y = 0;
    QObject::connect(&scroller, &QTimer::timeout, [&] {
        y += 60;
        view->scrollToPoint(QPoint(0, y));
        if (view->documentVisibleRect().bottom() >= view->collectionViewLayout()->contentSize().height() - 1) wait.quit();
    });
    last = turn.nsecsElapsed();
    stamp.start();
    scroller.start(16);
    clock.restart();
    wait.exec();
    scroller.stop();
    stamp.stop();
    const qint64 scrollMs = clock.elapsed();
    // Let the last screen settle and load.
    QTimer::singleShot(1500, &wait, &QEventLoop::quit);
    wait.exec();

    std::printf("photos in batch: %d (add took %lld ms)\n", count, static_cast<long long>(addMs));
    std::printf("first screen of thumbnails: %lld ms after the add's end\n", static_cast<long long>(firstScreenMs));
    std::printf("scroll top to bottom: %lld ms, longest event-loop gap %.1f ms\n", static_cast<long long>(scrollMs),
                longestGap / 1e6);
    std::printf("decoded tiles kept: %d, %.1f MB\n", screen->cachedThumbnailCount(), screen->cachedThumbnailBytes() / 1048576.0);
    delete screen;
    return 0;
}
