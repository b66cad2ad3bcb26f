// The effects screen's preview after a change, for every effect of the catalogue, on a 24 MP
// photo: the time from the change to the new picture being shown, on the real screen with its
// background renderer.
//
//   bench_editor [--rounds N] [--only NAME,NAME...] [--dump FOLDER] [--threads N] [photo.jpg]
//
// --only limits the run to these effects; a name the catalogue does not list is chosen by
// its name all the same ("Brightness", "CIBoxBlur"). --dump writes the pictures shown into
// the folder, to compare two builds (the same changes give the same pictures). --threads
// sets the filter engine's thread count (by default one per processor of the machine, even
// when the process may use fewer).
//
// Without a photo a 6000 x 4000 JPEG is drawn in a temporary folder. Each effect is chosen as
// the effect table chooses it (its panel's starting values; a texture or frame gets its second
// picture, a sticker set its second sticker, the custom picture a picture), then:
// - defaults: the preview drawn again with the starting values, N / 2 times;
// - changes: its sliders moved as a user moves them, one after the other, across their range
//   (10 % ... 100 %), N times.
// The medians and the worst of each are printed, one row an effect, with the median CPU time
// of the process over both (all threads: the renderer's, the kernels' and the main thread)
// and the CPU time of the engine drawing the effect's last values alone on one thread.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include "editor/EffectTables.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectsScreenController.h"
#include "editor/ui/ValueSlider.h"
#include "engine/FiltersList.h"
#include "platform/coreimage/Parallel.h"
#include "platform/foundation/Resources.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/FilterRecord.h"
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

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct Figures {
    double median = 0, worst = 0;
    int count = 0;
};

Figures figures(std::vector<double> ms) {
    if (ms.empty()) return {};
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back(), int(ms.size())};
}

// One way a user changes the effect's picture: a move of a slider to a fraction of its range.
using Control = std::function<void(double fraction)>;

class Bench {
public:
    explicit Bench(AdjustFilterVC& vc) : vc_(vc), screen_(*vc.findChild<EffectsScreenController*>()) {
        QObject::connect(&vc_, &AdjustFilterVC::previewShown, [this](quint64 g) { shown_ = std::max(shown_, g); });
    }

    // Runs `change` and waits for the preview it asked for; the milliseconds from the call
    // to the picture shown (the call alone when it asked for none). The process's CPU time
    // meanwhile goes to `cpu`: on a busy machine it varies less than the wall time.
    double timed(const std::function<void()>& change, std::vector<double>* cpu = nullptr) {
        const quint64 before = vc_.previewRenderer().latestGeneration();
        const double cpu0 = cpuMs();
        QElapsedTimer t;
        t.start();
        change();
        const quint64 wanted = vc_.previewRenderer().latestGeneration();
        if (wanted != before && shown_ < wanted) {
            // The main thread sleeps in its event loop as the application's does, so the
            // renderer has the processors to itself.
            QEventLoop loop;
            const auto done = QObject::connect(&vc_, &AdjustFilterVC::previewShown, &loop, [&](quint64 g) {
                if (g >= wanted) loop.quit();
            });
            loop.exec();
            QObject::disconnect(done);
        }
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (cpu) cpu->push_back(cpuMs() - cpu0);
        return ms;
    }

    void settle() {
        vc_.previewRenderer().waitForIdle(30000);
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }

    // Chooses the effect as the effect table does, with the second picture of a picture list.
    void choose(const FilterRecord& record, const QString& customPicture) {
        timed([&] {
            vc_.selectEffectByName(record.filterName, record.filterDisplayName);
            if (screen_.vwTextureEffect()->isVisible()) screen_.textureRowChosen(1);
            if (screen_.vwStickers()->isVisible()) screen_.stickerChosen(1);
            if (record.filterName == QLatin1String("Add Custom Image")) screen_.setCustomImageFromFile(customPicture);
        });
        settle();
    }

    // The sliders the chosen effect shows, in panel order.
    std::vector<Control> controls() {
        std::vector<Control> out;
        for (int slot = 0; slot < 6; ++slot) {
            ValueSlider* s = vc_.slider(slot);
            QWidget* row = vc_.getViewWithTag(100 + slot);
            if (!s || !row || !row->isVisible()) continue;
            out.push_back([this, slot, s](double f) {
                vc_.handleSlider(slot, s->minimumValue() + f * (s->maximumValue() - s->minimumValue()));
            });
        }
        if (vc_.vWforCustomEnhance()->isVisible()) {
            for (int tag = 0; tag < 9; ++tag) {
                ValueSlider* s = vc_.enhanceSlider(tag);
                if (!s) continue;
                out.push_back([this, tag, s](double f) {
                    vc_.handleSliderCustomEnhance(tag, s->minimumValue() + f * (s->maximumValue() - s->minimumValue()));
                });
            }
        }
        if (screen_.vwTextureEffect()->isVisible()) {
            QSlider* s = screen_.sliderEffectIntensity();
            out.push_back([s](double f) { s->setValue(s->minimum() + int(f * (s->maximum() - s->minimum()))); });
        }
        return out;
    }

    std::vector<double> defaults(int rounds, std::vector<double>& cpu) {
        std::vector<double> ms;
        for (int i = 0; i < rounds; ++i) ms.push_back(timed([&] { vc_.showImage(); }, &cpu));
        dump(QStringLiteral("defaults"));
        return ms;
    }

    // With a folder, every picture shown after a change is written there as PNG (effect name,
    // then what changed), so that two builds' pictures can be compared.
    void setDumpFolder(const QString& folder) { dumpFolder_ = folder; }
    void dump(const QString& what) {
        if (dumpFolder_.isEmpty()) return;
        QString name = vc_.state().currentFilterName + QLatin1Char('-') + what + QStringLiteral(".png");
        name.replace(QLatin1Char(' '), QLatin1Char('_')).replace(QLatin1Char('&'), QLatin1Char('n'));
        vc_.shownImage().save(dumpFolder_ + QLatin1Char('/') + name);
    }

    std::vector<double> changes(const std::vector<Control>& controls, int rounds, std::vector<double>& cpu) {
        std::vector<double> ms;
        if (controls.empty()) return ms;
        for (int r = 0; r < rounds; ++r) {
            // 10 %, 40 %, 70 %, 100 %, 30 % ... : every position of the range in ten moves.
            const double fraction = double((r * 3) % 10 + 1) / 10.0;
            const Control& move = controls[size_t(r) % controls.size()];
            ms.push_back(timed([&] { move(fraction); }, &cpu));
            if (r < 10 * int(controls.size())) dump(QStringLiteral("change%1").arg(r, 2, 10, QLatin1Char('0')));
        }
        return ms;
    }

    // The effect drawn on the preview by the engine alone, on one thread, as the renderer
    // draws it (CPU milliseconds: steady on a busy machine); empty when the screen does not
    // draw the effect on the picture (overlays shown by their own views, the crop's shading).
    std::vector<double> engineAlone(int rounds) {
        std::vector<double> ms;
        PreviewJob job;
        job.preview = vc_.imageToEdit();
        job.photoPath = vc_.state().previewPhotoPath;
        job.filterName = vc_.state().currentFilterName;
        job.parameters = vc_.committedParameters();
        if (screen_.showsEffectItself(job.filterName) || job.filterName == QLatin1String("CICrop") ||
            job.filterName == QLatin1String("Resize"))
            return ms;
        const int threads = platform::threadCount();
        platform::setThreadCount(1);
        for (int i = 0; i < rounds; ++i) {
            const double c0 = cpuMs();
            const QImage picture = PreviewRenderer::render(job);
            ms.push_back(cpuMs() - c0);
        }
        platform::setThreadCount(threads);
        return ms;
    }

private:
    AdjustFilterVC& vc_;
    EffectsScreenController& screen_;
    quint64 shown_ = 0;
    QString dumpFolder_;
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("BRISKO_RESOURCES")) platform::setResourceDirectory(QStringLiteral(BRISKO_BUILD_RESOURCES));
    int rounds = 20;
    QStringList only;
    QString photo, dumpFolder;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == "--rounds" && i + 1 < argc) rounds = std::max(2, atoi(argv[++i]));
        else if (a == "--only" && i + 1 < argc) only = QString::fromLocal8Bit(argv[++i]).split(',');
        else if (a == "--dump" && i + 1 < argc) dumpFolder = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--threads" && i + 1 < argc) platform::setThreadCount(std::max(1, atoi(argv[++i])));
        else photo = a;
    }
    QTemporaryDir dir;
    if (photo.isEmpty()) {
        photo = dir.filePath("photo24mp.jpg");
        platform::writeImageFile(photo, photoLike(6000, 4000), platform::ImageType::JPEG, 0.9, {});
    }
    const QString customPicture = dir.filePath("logo.png");
    photoLike(240, 180).save(customPicture);

    AppDelegate& state = AppDelegate::shared();
    auto file = PhotoFile::initWithFileUrl(photo, false);
    state.arraySelectedImagesToProcess = {file};
    state.selectedImageFile = file;
    state.selectedImageIndex = 0;

    AdjustFilterVC vc;
    vc.resize(1300, 780);
    vc.show();
    Bench bench(vc);
    bench.setDumpFolder(dumpFolder);
    QElapsedTimer load;
    load.start();
    if (!vc.loadPreviewForSelectedPhoto()) {
        std::fprintf(stderr, "could not read %s\n", qPrintable(photo));
        return 1;
    }
    std::printf("photo %s (%.0f x %.0f): preview %d x %d, read in %.1f ms; %d threads\n", qPrintable(photo), file->width,
                file->height, vc.imageToEdit().width(), vc.imageToEdit().height(), double(load.nsecsElapsed()) / 1e6,
                platform::threadCount());
    bench.settle();

    std::printf("%-26s %8s %8s %8s %8s %8s %8s %7s\n", "", "defaults", "", "change", "", "cpu", "engine", "");
    std::printf("%-26s %8s %8s %8s %8s %8s %8s %7s\n", "effect", "median", "worst", "median", "worst", "median", "1 thread", "changes");
    double slowest = 0;
    QString slowestName;
    QList<std::shared_ptr<FilterRecord>> records;
    QStringList notListed = only;
    for (const auto& record : FiltersList::sharedFiltersList().allAvailableFilters) {
        if (!record || record->isCategory || record->filterName == QLatin1String("Batch Conversion") ||
            record->filterName == QLatin1String("Basic"))
            continue;
        if (!only.isEmpty() && !only.contains(record->filterName)) continue;
        records << record;
        notListed.removeAll(record->filterName);
    }
    // Effects named with --only that the catalogue does not list ("Brightness", say) are
    // chosen by their name.
    for (const QString& name : notListed) {
        auto record = std::make_shared<FilterRecord>();
        record->filterName = record->filterDisplayName = name;
        records << record;
    }
    for (const auto& record : records) {
        bench.choose(*record, customPicture);
        std::vector<double> cpu;
        const Figures d = figures(bench.defaults(std::max(2, rounds / 2), cpu));
        const Figures c = figures(bench.changes(bench.controls(), rounds, cpu));
        const Figures p = figures(cpu);
        const Figures e = figures(bench.engineAlone(std::max(2, rounds / 2)));
        const double worstMedian = std::max(d.median, c.median);
        if (worstMedian > slowest) slowest = worstMedian, slowestName = record->filterName;
        const QString changeMedian = c.count ? QString::number(c.median, 'f', 1) : QStringLiteral("-");
        const QString changeWorst = c.count ? QString::number(c.worst, 'f', 1) : QStringLiteral("-");
        const QString engine = e.count ? QString::number(e.median, 'f', 1) : QStringLiteral("-");
        std::printf("%-26s %8.1f %8.1f %8s %8s %8.1f %8s %7d\n", qPrintable(record->filterName), d.median, d.worst,
                    qPrintable(changeMedian), qPrintable(changeWorst), p.median, qPrintable(engine), c.count);
        std::fflush(stdout);
    }
    std::printf("slowest median: %s, %.1f ms\n", qPrintable(slowestName), slowest);
    return 0;
}
