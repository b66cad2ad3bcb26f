// Preview refresh of the effects screen after a slider change on a 24 MP photo: the time from
// the change to the new picture being shown, with the screen's real background renderer.
//
//   bench_editor [rounds]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "editor/PreviewRenderer.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/ValueSlider.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"

namespace {

QImage photoLike(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgb((x * 255 / w + (x * y) % 13) & 255, (y * 255 / h) & 255, ((x / 40 + y / 40) % 2) ? 190 : 70);
    }
    return img;
}

struct Figures {
    double median, worst;
};

Figures measure(AdjustFilterVC& vc, int slot, const std::vector<double>& values, int rounds) {
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        QEventLoop loop;
        QObject::connect(&vc, &AdjustFilterVC::previewShown, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        vc.handleSlider(slot, values[size_t(r) % values.size()]);
        loop.exec();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    QTemporaryDir dir;
    const QString path = dir.filePath("photo24mp.jpg");
    photoLike(6000, 4000).save(path, "JPG", 90);

    AppDelegate& state = AppDelegate::shared();
    auto photo = PhotoFile::initWithFileUrl(path, false);
    state.arraySelectedImagesToProcess = {photo};
    state.selectedImageFile = photo;
    state.selectedImageIndex = 0;

    AdjustFilterVC vc;
    QElapsedTimer load;
    load.start();
    vc.loadPreviewForSelectedPhoto();
    std::printf("preview of a 6000 x 4000 JPEG: %d x %d, read in %.1f ms\n", vc.imageToEdit().width(),
                vc.imageToEdit().height(), double(load.nsecsElapsed()) / 1e6);

    struct Case {
        const char* effect;
        int slot;
        std::vector<double> values;
    };
    const std::vector<Case> cases = {
        {"Brightness", 1, {0.05, 0.1, 0.15, -0.1}},
        {"CIExposureAdjust", 0, {0.5, 1.0, -0.5, 1.5}},
        {"CIHueAdjust", 0, {0.5, -0.8, 1.5, 2.0}},
        {"CIVibrance", 0, {0.5, -0.5, 0.8, -0.74}},
        {"RGB Adjust", 0, {200, 120, 255, 80}},
        {"Black & White", 0, {0.2, 0.5, 0.8, 1.0}},
        {"CIBoxBlur", 0, {20, 19, 20, 18}},
        {"CIMotionBlur", 0, {20, 19, 20, 18}},
        {"CIGaussianBlur", 0, {16, 15, 16, 14}},
    };
    std::printf("%-18s %10s %10s   (%d slider changes each)\n", "effect", "median ms", "worst ms", rounds);
    for (const Case& c : cases) {
        vc.selectEffectByName(c.effect);
        vc.previewRenderer().waitForIdle(10000);
        QCoreApplication::processEvents();
        const Figures f = measure(vc, c.slot, c.values, rounds);
        std::printf("%-18s %10.1f %10.1f\n", c.effect, f.median, f.worst);
    }
    return 0;
}
