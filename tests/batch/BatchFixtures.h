#pragma once
// Photos, settings and waiting helpers shared by the batch tests.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <functional>
#include <memory>

#include "batch/BatchRunner.h"
#include "batch/OutputPlanner.h"
#include "batch/RenameScheme.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/BatchRenameSetting.h"
#include "records/MetaDataObject.h"
#include "records/OutputOptionSettings.h"
#include "records/PhotoFile.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace batchtest {

inline QString writePhoto(const QString& path, int width = 160, int height = 120,
                          platform::ImageType type = platform::ImageType::JPEG, int orientation = 0) {
    QVariantMap props;
    if (orientation > 0) props = {{"Orientation", orientation}, {"{TIFF}", QVariantMap{{"Orientation", orientation}}}};
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!platform::writeImageFile(path, testsupport::gradientImage(width, height), type, 0.9, props)) return {};
    return path;
}

inline std::shared_ptr<PhotoFile> photoAt(const QString& path) { return PhotoFile::initWithFileUrl(path, false); }

// The photos of every file in a folder, in name order.
inline QList<std::shared_ptr<PhotoFile>> photosIn(const QString& folder) {
    QStringList paths;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) paths << file.absoluteFilePath();
    QList<std::shared_ptr<PhotoFile>> photos;
    for (const QString& path : paths) photos << photoAt(path);
    return photos;
}

// A "Resize" step to this size.
inline std::shared_ptr<AppliedFilter> resizeStepTo(int width, int height) {
    return AppliedFilter::initWithFilterName(
        "Resize", "Resize", QVariantList{QVariantMap{{"resizedWidth", width}}, QVariantMap{{"resizedHeight", height}}},
        QImage(), nullptr);
}

// A JPEG whose header declares `width` x `height` pixels: a real one written small, its
// frame header then saying the larger size (its data ends early for that size, which a
// run never reaches: it refuses the photo on its header).
inline QString jpegDeclaringSize(const QString& path, int width, int height) {
    writePhoto(path);
    QByteArray bytes = testsupport::readFile(path);
    for (qsizetype i = 2; i + 9 < bytes.size(); ++i) {
        const uchar marker = uchar(bytes[i + 1]);
        if (uchar(bytes[i]) != 0xFF || (marker != 0xC0 && marker != 0xC1 && marker != 0xC2)) continue;
        qToBigEndian<quint16>(quint16(height), reinterpret_cast<uchar*>(bytes.data()) + i + 5);
        qToBigEndian<quint16>(quint16(width), reinterpret_cast<uchar*>(bytes.data()) + i + 7);
        return testsupport::writeFile(path, bytes);
    }
    return {};
}


inline std::shared_ptr<BatchRenameSetting> renameSettings(int outputFormat = 0) {
    auto s = std::make_shared<BatchRenameSetting>();
    s->flagRenamingMode = 0;
    s->outputFormat = outputFormat;
    s->isSetQuality = false;
    s->isSetCompression = false;
    s->qualityRatio = 0.8;
    s->compressionRatio = 8;
    return s;
}

inline std::shared_ptr<OutputOptionSettings> outputSettings(const QString& folder, bool move = false,
                                                            bool overwrite = false) {
    auto o = std::make_shared<OutputOptionSettings>();
    o->outputFolderPath = folder;
    o->moveAndRenameToDestinationFolder = move;
    o->copyyToDestinationFolder = !move;
    o->useSourceFolder = false;
    o->owerwriteExistingFiles = overwrite;
    o->setOutputDateTimeAsOriginal = false;
    return o;
}

// A run of these photos with these settings and steps, its outputs planned by the rename
// scheme as the rename view would plan them.
inline BatchRunInput runInput(const QList<std::shared_ptr<PhotoFile>>& photos,
                              const std::shared_ptr<BatchRenameSetting>& rename,
                              const std::shared_ptr<OutputOptionSettings>& output,
                              const QList<std::shared_ptr<AppliedFilter>>& steps = {}) {
    BatchRunInput in;
    in.fileFormats = AppDelegate::defaultFileFormats();
    in.snapshot.photos = photos;
    in.snapshot.destinationPaths = OutputPlanner::planOutputPaths(photos, RenameScheme(rename, output, in.fileFormats));
    in.snapshot.appliedFilters = steps;
    in.snapshot.renameSetting = rename;
    in.snapshot.outputSetting = output;
    in.snapshot.metaDataSetting = std::make_shared<MetaDataObject>();
    in.snapshot.metaDataSettingOnlyUpdatedFields = std::make_shared<MetaDataObject>();
    return in;
}

// Spins the event loop until the condition holds or the time is up.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > qint64(timeoutMs) * testsupport::slowdown()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Points the freedesktop Trash at a folder of the test for as long as it lives.
class TrashInTemp {
public:
    TrashInTemp() : previous_(qgetenv("XDG_DATA_HOME")) { qputenv("XDG_DATA_HOME", dir_.path().toUtf8()); }
    ~TrashInTemp() {
        if (previous_.isEmpty()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", previous_);
    }
    QString filesFolder() const { return dir_.filePath("Trash/files"); }
    QString infoFolder() const { return dir_.filePath("Trash/info"); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
};

// Records what the run screen would show.
struct Recorder : BatchRunObserver {
    QStringList alerts;
    QList<int> rows;
    QList<int> progress;
    int ends = 0;
    bool finished = false;
    void runShowsAlert(const QString& text) override { alerts << text; }
    void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>&, int p) override {
        rows << row;
        progress << p;
    }
    void runDidEnd(bool f) override {
        ++ends;
        finished = f;
    }
};

// Answers the run's questions the way a test tells it to.
struct Asker : BatchRunAsker {
    BatchRunner* runner = nullptr;
    std::function<void()> onStop;  // default: answer Yes at once
    int stopQuestions = 0, lowSpace = 0, withdrawn = 0;
    void askToStop(const QString&) override {
        ++stopQuestions;
        if (onStop) onStop();
        else runner->answerStopQuestion(true);
    }
    void tellLowSpace(std::uint64_t) override {
        ++lowSpace;
        QTimer::singleShot(0, runner, [r = runner] { r->acknowledgeLowSpace(); });
    }
    void withdrawQuestion() override { ++withdrawn; }
};

struct Batch {
    QTemporaryDir dir;
    QList<std::shared_ptr<PhotoFile>> photos;
    std::shared_ptr<BatchRenameSetting> rename = batchtest::renameSettings(6);
    std::shared_ptr<OutputOptionSettings> output;
    QList<std::shared_ptr<AppliedFilter>> steps;

    explicit Batch(int count, int width = 160, int height = 120) {
        output = batchtest::outputSettings(dir.filePath("out"));
        for (int i = 0; i < count; ++i)
            photos << batchtest::photoAt(batchtest::writePhoto(dir.filePath(QString("src/p%1.jpg").arg(i)), width, height));
    }
    QString out(const QString& name) const { return dir.filePath("out/" + name); }
    BatchRunInput input() const { return batchtest::runInput(photos, rename, output, steps); }
};

struct RunHarness {
    std::atomic<bool> flag{false};
    Recorder recorder;
    Asker asker;
    BatchRunner runner{&flag};
    bool ended = false;
    RunHarness() {
        asker.runner = &runner;
        runner.setObserver(&recorder);
        runner.setAsker(&asker);
        runner.setFreeSpaceProvider([](const QString&) { return VolumeSpace{1ull << 40, 1ull << 39}; });
        QObject::connect(&runner, &BatchRunner::runEnded, [this](bool) { ended = true; });
    }
    bool start(BatchRunInput in) {
        runner.startProcessingOfPhotos(std::move(in));
        // Generous: a run that never ends is the fault looked for, and the sanitizer
        // builds on a busy machine take several times as long as a plain one.
        return batchtest::waitUntil([this] { return ended; }, 120000);
    }
};

}  // namespace batchtest
