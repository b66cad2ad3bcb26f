// Adds two generated photo sets through the intake on its real queues and prints, for
// each: photos per second over the whole add (count, add, properties), the time from the
// start to the first photo in the batch, and the longest gap between two turns of the
// main thread's event loop while the add ran.
//
//   bench_import [work-folder]   (default: a temporary folder, removed afterwards)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "import/PhotoIntake.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"

namespace {

QImage picture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(30, 80, 160));
    g.setColorAt(1, QColor(230, 190, 90));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 40; ++i) p.fillRect((i * 97) % w, (i * 61) % h, w / 10, h / 12, QColor::fromHsv(i * 9 % 360, 120, 200));
    return image;
}

void writeCopies(const QByteArray& bytes, const QStringList& paths) {
    for (const QString& path : paths) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    }
}

struct Figures {
    int photos = 0;
    double seconds = 0;
    double firstPhotoMs = 0;
    double longestGapMs = 0;
};

Figures addFolder(const QString& folder) {
    AppDelegate::shared().resetToLaunchValues();
    ThreadedIntakeExecutor executor;
    PhotoIntake intake(executor);
    QElapsedTimer clock;
    Figures f;
    QEventLoop loop;
    QObject::connect(&intake, &PhotoIntake::photoAppended, [&](int index) {
        if (index == 0) f.firstPhotoMs = clock.nsecsElapsed() / 1e6;
    });
    QObject::connect(&intake, &PhotoIntake::addEnded, &loop, &QEventLoop::quit);
    // A zero timer runs once per turn of the event loop: the gap between two runs is how
    // long the main thread was not free to draw.
    QTimer beat;
    beat.setInterval(0);
    qint64 last = 0;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last) f.longestGapMs = std::max(f.longestGapMs, (now - last) / 1e6);
        last = now;
    });
    intake.isAddFromSubFolderSelected = true;
    clock.start();
    beat.start();
    intake.addPhotosFromPaths({folder});
    loop.exec();
    f.seconds = clock.nsecsElapsed() / 1e9;
    f.photos = int(AppDelegate::shared().arraySelectedImagesToProcess.size());
    return f;
}

void print(const char* name, const Figures& f) {
    std::printf("%-34s %6d photos  %7.2f s  %8.0f photos/s  first photo %7.1f ms  longest main-thread gap %6.1f ms\n",
                name, f.photos, f.seconds, f.photos / f.seconds, f.firstPhotoMs, f.longestGapMs);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QTemporaryDir temp;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();

    const QString small = root + "/small";
    if (!QFileInfo::exists(small)) {
        const QByteArray bytes = platform::encodeImage(picture(160, 120), platform::ImageType::JPEG, 0.8);
        QStringList paths;
        for (int i = 0; i < 10000; ++i) paths << QString("%1/IMG_%2.jpg").arg(small).arg(i, 5, 10, QLatin1Char('0'));
        writeCopies(bytes, paths);
    }
    const QString tree = root + "/tree";
    if (!QFileInfo::exists(tree)) {
        const QByteArray bytes = platform::encodeImage(picture(4032, 3024), platform::ImageType::JPEG, 0.85);
        QStringList paths;
        for (int i = 0; i < 1000; ++i)
            paths << QString("%1/%2/%3/DSC_%4.jpg").arg(tree).arg(i / 250).arg(i / 50 % 5).arg(i, 4, 10, QLatin1Char('0'));
        writeCopies(bytes, paths);
    }
    // Warm the page cache once so both runs measure the intake, not the first disk read.
    addFolder(small);
    print("10,000 small JPEGs (160x120)", addFolder(small));
    addFolder(tree);
    print("1,000 JPEGs 4032x3024 in a tree", addFolder(tree));
    return 0;
}
