// The add-photos screen with a big batch: adds a folder of photos through the screen's
// intake on its real queues, then prints the time from the add's end to the first screen
// of thumbnails, the gaps between two turns of the main thread's event loop while the
// grid scrolls from top to bottom (their spread, and which events were delivered during the
// long ones), and the memory the decoded tiles hold.
//
//   bench_addphotos_grid <folder of photos> [pixels per frame, default 60] [most frames]
//   (e.g. the 10,000 small JPEGs of bench_import)
// With CLOSE_TIP=1 in the environment the first-use tip that follows the add is closed
// before scrolling (it records the tip chain as done in the home's settings).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

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

// CPU time of the calling thread: a wall-clock gap with little CPU in it was the
// machine's scheduling, not our work.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The main thread's context switches so far: {voluntary (it waited), involuntary (the
// scheduler took the CPU away)}.
std::pair<long, long> contextSwitches() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return {u.ru_nvcsw, u.ru_nivcsw};
}

// Times the delivery of every event on the main thread, so a long gap between two turns
// of the loop can be pinned on what was delivered in it.
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool recording = false;
    struct Slow {
        double ms;
        double cpuMs;
        std::string what;
    };
    std::vector<Slow> slow;  // deliveries over 8 ms, outermost only
    long tilePaints = 0;  // paint events delivered to tiles
    bool notify(QObject* receiver, QEvent* event) override {
        if (recording && event->type() == QEvent::Paint && qobject_cast<GridCell*>(receiver)) ++tilePaints;
        if (!recording || depth_ > 0) {
            ++depth_;
            const bool r = QApplication::notify(receiver, event);
            --depth_;
            return r;
        }
        const int type = event->type();
        QElapsedTimer t;
        t.start();
        const double cpu0 = threadCpuMs();
        ++depth_;
        const bool r = QApplication::notify(receiver, event);
        --depth_;
        const double ms = t.nsecsElapsed() / 1e6;
        const double cpuMs = threadCpuMs() - cpu0;
        if (ms > 8.0) {
            std::string what = receiver ? receiver->metaObject()->className() : "?";
            if (receiver && !receiver->objectName().isEmpty()) what += " '" + receiver->objectName().toStdString() + "'";
            what += " event " + std::to_string(type);
            slow.push_back({ms, cpuMs, what});
        }
        return r;
    }

private:
    int depth_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    TimingApplication app(argc, argv);
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
    const bool tipOpen = screen->tipsPopUpWindow() != nullptr;
    if (tipOpen && qEnvironmentVariableIntValue("CLOSE_TIP") == 1) screen->btnCloseOnTipsPopupTapped();

    // Scroll top to bottom, 60 px a frame every 16 ms, stamping every turn of the loop.
    CollectionView* view = screen->collectionView();
    const int step = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 60;
    const int mostFrames = argc > 3 ? std::max(1, QString::fromLocal8Bit(argv[3]).toInt()) : INT_MAX;
    QElapsedTimer turn;
    turn.start();
    qint64 longestGap = 0, last = 0;
    // Gaps in 0.1 ms buckets up to 2 s (the last bucket holds everything longer).
    std::vector<long> gapBuckets(20001, 0), cpuBuckets(20001, 0);
    long turns = 0;
    double lastCpu = threadCpuMs(), longestCpu = 0;
    QTimer stamp;
    stamp.setObjectName(QStringLiteral("stamp"));
    stamp.setInterval(0);
    QObject::connect(&stamp, &QTimer::timeout, [&] {
        const qint64 now = turn.nsecsElapsed();
        longestGap = std::max(longestGap, now - last);
        ++gapBuckets[size_t(std::min<qint64>((now - last) / 100000, 20000))];
        const double cpu = threadCpuMs();
        ++cpuBuckets[size_t(std::min(20000.0, (cpu - lastCpu) * 10))];
        longestCpu = std::max(longestCpu, cpu - lastCpu);
        lastCpu = cpu;
        ++turns;
        last = now;
    });
    QTimer scroller;
    scroller.setObjectName(QStringLiteral("scroller"));
    int y = 0;
    int frames = 0;
    QObject::connect(&scroller, &QTimer::timeout, [&] {
        ++frames;
        y += step;
        view->scrollToPoint(QPoint(0, y));
        if (view->documentVisibleRect().bottom() >= view->collectionViewLayout()->contentSize().height() - 1 || frames >= mostFrames)
            wait.quit();
    });
    last = turn.nsecsElapsed();
    const auto switches0 = contextSwitches();
    lastCpu = threadCpuMs();
    app.recording = true;
    stamp.start();
    scroller.start(16);
    clock.restart();
    wait.exec();
    scroller.stop();
    stamp.stop();
    app.recording = false;
    const auto switches1 = contextSwitches();
    const qint64 scrollMs = clock.elapsed();
    // Let the last screen settle and load.
    QTimer::singleShot(1500, &wait, &QEventLoop::quit);
    wait.exec();

    std::printf("photos in batch: %d (add took %lld ms)\n", count, static_cast<long long>(addMs));
    std::printf("first screen of thumbnails: %lld ms after the add's end\n", static_cast<long long>(firstScreenMs));
    std::printf("first-use tip over the grid while scrolling: %s\n", screen->tipsPopUpWindow() ? "open" : "none");
    std::printf("scroll top to bottom: %lld ms, longest event-loop gap %.1f ms\n", static_cast<long long>(scrollMs),
                longestGap / 1e6);
    auto over = [&](const std::vector<long>& buckets, double ms) {
        long n = 0;
        for (size_t b = size_t(ms * 10); b < buckets.size(); ++b) n += buckets[b];
        return n;
    };
    std::printf("  %d frames of %d px, %ld loop turns, %.1f tiles painted a frame\n", frames, step, turns,
                frames ? double(app.tilePaints) / frames : 0.0);
    std::printf("  gaps over 8 ms: %ld, over 16 ms: %ld, over 33 ms: %ld, over 100 ms: %ld\n", over(gapBuckets, 8),
                over(gapBuckets, 16), over(gapBuckets, 33), over(gapBuckets, 100));
    std::printf("  main-thread CPU time between two turns: longest %.1f ms; over 8 ms: %ld, over 16 ms: %ld\n", longestCpu,
                over(cpuBuckets, 8), over(cpuBuckets, 16));
    std::sort(app.slow.begin(), app.slow.end(), [](const auto& a, const auto& b) { return a.ms > b.ms; });
    struct Tally {
        int count = 0;
        double longest = 0, longestCpu = 0;
    };
    std::map<std::string, Tally> byWhat;
    for (const auto& s : app.slow) {
        auto& e = byWhat[s.what];
        ++e.count;
        if (s.ms > e.longest) {
            e.longest = s.ms;
            e.longestCpu = s.cpuMs;
        }
    }
    std::printf("  main-thread context switches while scrolling: %ld waits, %ld taken off the CPU by the scheduler\n",
                switches1.first - switches0.first, switches1.second - switches0.second);
    std::printf("  deliveries over 8 ms: %zu (event types: 1 timer, 77 paint of the window)\n", app.slow.size());
    for (const auto& [what, e] : byWhat)
        std::printf("    %5d x, longest %6.1f ms (%5.1f ms of it on the CPU): %s\n", e.count, e.longest, e.longestCpu, what.c_str());
    std::printf("decoded tiles kept: %d, %.1f MB\n", screen->cachedThumbnailCount(), screen->cachedThumbnailBytes() / 1048576.0);
    delete screen;
    return 0;
}
