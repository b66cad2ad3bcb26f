// The effects screen's photo switch and step thumbnails on a large photo.
//
//   bench_photo_switch [photo.jpg]     (without a photo a 6000 x 4000 JPEG is drawn in a temporary folder)
//
// 1. Preview load: the photo read scaled into the 580 x 440 preview box with a step thumbnail,
//    and a five-step list (sepia, blur, text watermark, border, black and white) drawn on it,
//    as the background load does it (PreviewLoader::loadNow), five runs.
// 2. Photo switch through the screen: from the strip's choice to the preview shown with all
//    steps, on the real screen with its background loader, five switches.
// 3. Step thumbnails of a 20-step list: the time until all are drawn, and the longest the main
//    thread went without handling a 5 ms timer meanwhile (how much the screen was held up).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "editor/PreviewLoader.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectsScreenController.h"
#include "editor/ui/PhotoStrip.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"

namespace {

QVariantList params(std::initializer_list<std::pair<const char*, QVariant>> entries) {
    QVariantList list;
    for (const auto& [k, v] : entries) list << QVariantMap{{QString::fromLatin1(k), v}};
    return list;
}

QList<std::shared_ptr<AppliedFilter>> fiveSteps() {
    using platform::Vec;
    auto step = [](const char* name, const QVariantList& p) {
        return AppliedFilter::initWithFilterName(name, name, p, QImage(), nullptr);
    };
    return {step("CISepiaTone", params({{"inputIntensity", 0.8}})),
            step("CIGaussianBlur", params({{"inputRadius", 0.005}})),
            step("Add Text", params({{"text", QStringLiteral("Brisko")},
                                     {"rotatedRect", QVariant::fromValue(Vec(0.05, 0.05, 0.4, 0.1))},
                                     {"boundedRect", QVariant::fromValue(Vec(0.05, 0.05, 0.4, 0.1))},
                                     {"fontSize", 0.06}})),
            step("Add Border", params({{"borderWidth", 0.01}})),
            step("Black & White", {})};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void spinUntil(const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QString photo = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (photo.isEmpty()) {
        photo = dir.filePath("big.jpg");
        QImage big(6000, 4000, QImage::Format_RGB32);
        QPainter p(&big);
        QLinearGradient g(0, 0, 6000, 4000);
        g.setColorAt(0, Qt::darkBlue);
        g.setColorAt(0.5, QColor(240, 160, 60));
        g.setColorAt(1, Qt::darkGreen);
        p.fillRect(big.rect(), g);
        for (int i = 0; i < 400; ++i) p.fillRect((i * 97) % 6000, (i * 61) % 4000, 40, 40, QColor::fromHsv(i % 360, 200, 220));
        p.end();
        platform::writeImageFile(photo, big, platform::ImageType::JPEG, 0.92, {});
    }
    const QString second = dir.filePath("second.jpg");
    QFile::copy(photo, second);

    AppDelegate& shared = AppDelegate::shared();
    auto a = PhotoFile::initWithFileUrl(photo, false);
    auto b = PhotoFile::initWithFileUrl(second, false);
    std::printf("photo %s: %.0f x %.0f\n", qPrintable(photo), a->width, a->height);

    // 1. The load itself.
    std::vector<double> loads;
    PhotoPreviewRequest request;
    request.path = photo;
    request.pixelSize = QSizeF(a->width, a->height);
    request.previewBox = QSizeF(580, 440);
    request.steps = PreviewLoader::snapshotSteps(fiveSteps());
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        const PhotoPreviewResult r = PreviewLoader::loadNow(request);
        loads.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!r.loaded) std::printf("load failed\n");
    }
    std::printf("preview load with 5 steps: median %.1f ms, min %.1f ms\n", median(loads),
                *std::min_element(loads.begin(), loads.end()));

    // Its parts: the thumbnail read and the preview read, without the steps.
    {
        Utils& utils = Utils::sharedUtils();
        QElapsedTimer t;
        t.start();
        const QImage th = utils.getThumbnailImageAtFilePath(photo, utils.getAspectFitModeSizeWithsize(request.pixelSize, QSizeF(476, 314)));
        const double thumbMs = double(t.nsecsElapsed()) / 1e6;
        t.restart();
        const QImage pv = utils.getImageFromPath(photo, utils.getAspectFitModeSizeWithsize(request.pixelSize, request.previewBox));
        std::printf("  the preview read alone: a thumbnail read would cost %.1f ms (%dx%d), the preview read %.1f ms (%dx%d)\n", thumbMs, th.width(),
                    th.height(), double(t.nsecsElapsed()) / 1e6, pv.width(), pv.height());
    }

    // 2. Through the screen.
    shared.arraySelectedImagesToProcess = {a, b};
    shared.selectedImageIndex = 0;
    shared.selectedImageFile = a;
    shared.arrayAppliedFilters = fiveSteps();
    AdjustFilterVC vc;
    vc.resize(1300, 780);
    vc.show();
    auto* screen = vc.findChild<EffectsScreenController*>();
    QString shownPath;
    QObject::connect(screen, &EffectsScreenController::previewPhotoLoaded, [&](const QString& p) { shownPath = p; });
    screen->selectedPhotoChanged();
    spinUntil([&] { return shownPath == photo; });
    std::vector<double> switches;
    for (int i = 0; i < 5; ++i) {
        const int next = (i % 2 == 0) ? 1 : 0;
        const QString target = next ? second : photo;
        QElapsedTimer t;
        t.start();
        emit screen->photoStrip()->photoChosen(next);
        spinUntil([&] { return shownPath == target; });
        switches.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("photo switch through the screen, 5 steps: median %.1f ms, max %.1f ms\n", median(switches),
                *std::max_element(switches.begin(), switches.end()));
    {
        QElapsedTimer t;
        t.start();
        vc.selectEffectByName(vc.state().currentFilterName, vc.state().currentFilterDisplayName);
        std::printf("  rebuilding the panel of \"%s\" on the main thread: %.1f ms\n",
                    qPrintable(vc.state().currentFilterName), double(t.nsecsElapsed()) / 1e6);
    }

    // 3. Twenty step thumbnails.
    QList<std::shared_ptr<AppliedFilter>> twenty;
    while (twenty.size() < 20)
        for (const auto& s : fiveSteps()) twenty << s;
    const QImage thumb = PreviewLoader::loadNow(request).thumbnail;
    StepThumbnails maker(&vc);
    int delivered = 0;
    qint64 lastTick = 0, longestGap = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick) longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    ticker.start();
    QElapsedTimer t;
    t.start();
    maker.render(thumb, photo, twenty, {}, [&](int) { ++delivered; });
    spinUntil([&] { return delivered == 20; });
    std::printf("20 step thumbnails (%d x %d): all drawn after %.1f ms; longest main-thread gap %.1f ms\n",
                thumb.width(), thumb.height(), double(t.nsecsElapsed()) / 1e6, double(longestGap) / 1e6);
    return 0;
}
