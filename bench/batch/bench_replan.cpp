// Re-planning a big batch after one keystroke in a rename field: the snapshot taken on
// the main thread, and the background pass (names, duplicate count, existence checks,
// classification) with the capture dates already cached.
//
//   bench_replan [photo count, default 10000] [scratch folder]
//
// The photos are copies of one small JPEG with a capture date; the date stamp rule
// (taken date) is on, so every pass asks the cache for every photo.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "batch/CaptureDateCache.h"
#include "batch/PlanSnapshot.h"
#include "batch/RenamePreviewRecomputer.h"
#include "batch/RenameSettingsEditor.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/BatchRenameSetting.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir scratch(argc > 2 ? QString::fromLocal8Bit(argv[2]) + "/replanXXXXXX" : QString());
    const QString folder = scratch.filePath("in");
    QDir().mkpath(folder);
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString first = folder + "/img00000.jpg";
    const QVariantMap props{{"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:06:05 10:11:12"}}}};
    if (!platform::writeImageFile(first, image, platform::ImageType::JPEG, 0.8, props)) return 2;

    QList<std::shared_ptr<PhotoFile>> photos;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QString::asprintf("/img%05d.jpg", i);
        if (i > 0) QFile::copy(first, path);
        auto p = std::make_shared<PhotoFile>();
        p->filePath = path;
        p->fileName = QFileInfo(path).fileName();
        p->fileExtension = "jpg";
        photos << p;
    }

    auto rename = BatchRenameSetting::defaultSettings();
    if (!rename) rename = std::make_shared<BatchRenameSetting>();
    rename->flagRenamingMode = 1;
    renameedit::setRuleState(*rename, RenameRule::DateTimeStamp, true);
    renameedit::setRuleState(*rename, RenameRule::AddString, true);
    renameedit::setRuleState(*rename, RenameRule::AddDigit, true);
    auto output = OutputOptionSettings::makeDefault();
    output->outputFolderPath = scratch.filePath("out");

    auto cache = std::make_shared<CaptureDateCache>();
    const auto pass = [&](std::uint64_t generation, double* snapshotMs) {
        QElapsedTimer t;
        t.start();
        const PlanSnapshot snapshot = PlanSnapshot::take(photos, rename.get(), output.get(), {});
        *snapshotMs = t.nsecsElapsed() / 1e6;
        return RenamePreviewRecomputer::plan(snapshot, generation, cache.get(), {});
    };

    double snapshotMs = 0;
    QElapsedTimer cold;
    cold.start();
    PreviewResult result = pass(1, &snapshotMs);
    std::printf("first pass (reads every capture date): %.1f ms, %d metadata reads\n", cold.nsecsElapsed() / 1e6,
                cache->readCount());

    const auto cpuMs = [] {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    };
    std::vector<double> totals, snapshots, cpu;
    QString typed;
    for (int k = 0; k < 9; ++k) {
        typed += QChar(u'a' + k);
        renameedit::controlTextDidChange(*rename, RenameField::Prefix, typed);  // the keystroke
        QElapsedTimer t;
        t.start();
        const double cpuBefore = cpuMs();
        result = pass(2 + k, &snapshotMs);
        totals.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(cpuMs() - cpuBefore);
        snapshots.push_back(snapshotMs);
    }
    std::sort(totals.begin(), totals.end());
    std::sort(snapshots.begin(), snapshots.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%d photos, re-plan after a keystroke: median %.1f ms (min %.1f, max %.1f); "
                "processor time median %.1f ms (all threads); main-thread snapshot median %.1f ms; "
                "metadata reads in total %d\n",
                count, totals[totals.size() / 2], totals.front(), totals.back(), cpu[cpu.size() / 2],
                snapshots[snapshots.size() / 2], cache->readCount());
    std::printf("sample: %s, %d errors, %d warnings\n", qPrintable(result.planned.first()->filePath),
                result.classification.errorCount(), result.classification.warningCount());
    return 0;
}
