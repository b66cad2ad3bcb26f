// Runs the real batch runner over a folder of photos with the steps and output settings of
// a small JSON recipe, and prints the run's time, each file's outcome and the peak memory.
// Every file of the folder is given to the run, pictures or not, so each gets a status
// line; names are read by their bytes, so names that are not UTF-8 are processed too (and
// printed with \xNN for those bytes). Exit status: 0 when every photo was processed or
// skipped (or the folder holds none), 1 when one ended with an error, 3 when the run did
// not finish (stopped for low space), 2 for bad arguments.
//
//   bench_batch <photo folder> <recipe.json> <output folder>
//
// Recipe keys (all optional):
//   "steps": [{"name": "Resize", "parameters": [{"resizedWidth": 1600}, ...], "applied": true}]
//       parameter values: numbers, strings, booleans, [x, y] or [x, y, w, h] vectors,
//       {"color": "#rrggbb"} colours
//   "outputFormat": 0..8 ("Keep original format", tif, bmp, gif, jpg, jpeg, png, jp2, pdf)
//   "quality": 0..1 (quality switch on), "compression": 1..9 (compression switch on)
//   "move", "overwrite", "useSourceFolder", "keepDates": booleans
//   "rename": dictionary with the keys of the default rename settings, e.g.
//       {"Rename Mode": 1, "Add Digit": {"State": true, "As": 1, "Starting Index": 1, "Increment": 1}}
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "batch/BatchRunner.h"
#include "batch/OutputPlanner.h"
#include "batch/RenameScheme.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"
#include "platform/foundation/UsableCpus.h"
#include "platform/foundation/Values.h"
#include "records/AppliedFilter.h"
#include "records/BatchRenameSetting.h"
#include "records/MetaDataObject.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"

namespace {

QVariant parameterValue(const QJsonValue& v) {
    if (v.isBool()) return v.toBool();
    if (v.isDouble()) {
        const double d = v.toDouble();
        return d == double(qint64(d)) ? QVariant(qint64(d)) : QVariant(d);
    }
    if (v.isString()) return v.toString();
    if (v.isArray()) {
        const QJsonArray a = v.toArray();
        if (a.size() == 2) return QVariant::fromValue(platform::Vec(a[0].toDouble(), a[1].toDouble()));
        if (a.size() == 4)
            return QVariant::fromValue(
                platform::Vec(a[0].toDouble(), a[1].toDouble(), a[2].toDouble(), a[3].toDouble()));
    }
    if (v.isObject() && v.toObject().contains("color")) return QColor(v.toObject().value("color").toString());
    return v.toVariant();
}

QList<std::shared_ptr<AppliedFilter>> stepsFrom(const QJsonArray& steps) {
    QList<std::shared_ptr<AppliedFilter>> out;
    for (const QJsonValue& s : steps) {
        const QJsonObject o = s.toObject();
        QVariantList parameters;
        for (const QJsonValue& p : o.value("parameters").toArray()) {
            const QJsonObject entry = p.toObject();
            for (auto it = entry.begin(); it != entry.end(); ++it)
                parameters << QVariantMap{{it.key(), parameterValue(it.value())}};
        }
        const QString name = o.value("name").toString();
        auto step = AppliedFilter::initWithFilterName(name, o.value("displayName").toString(name), parameters,
                                                      QImage(), nullptr);
        step->isApplied = o.value("applied").toBool(true);
        out << step;
    }
    return out;
}

// The preview's classification of planned outputs, so the runner skips what the run
// screen would.
void classify(BatchRunInput& in, bool overwrite) {
    for (const auto& p : in.snapshot.destinationPaths) {
        if (p->fileExtension.isEmpty()) in.arrayEmptyNames << p->filePath;
        else if (p->fileName.toLower().contains("http:")) in.arrayInvalidFileName << p->filePath;
        else if (p->occurenceCount >= 2) in.arrayDuplicateNames << p->filePath;
        else if (!platform::fileExists(p->oldFilePath)) in.arrayFileNotFound << p->oldFilePath;
        else if (!overwrite && platform::fileExists(p->filePath)) in.arrayFileAlreadyExists << p->filePath;
    }
}

struct Printer : BatchRunObserver {
    QElapsedTimer clock;
    qint64 last = 0;
    qsizetype outcomes = 0;
    void runDidRecordOutcome(int row, const std::shared_ptr<PhotoFile>& photo, int progress) override {
        ++outcomes;
        const qint64 now = clock.elapsed();
        std::printf("%4d  %3d%%  status %d  %6lld ms  %s  %s\n", row, progress, photo->processStatus,
                    static_cast<long long>(now - last), qPrintable(platform::displayPath(photo->fileName)),
                    qPrintable(photo->processInfoMessage));
        std::fflush(stdout);
        last = now;
    }
};

// The regular files of a folder in byte order, their names read by their bytes.
QStringList filesOf(const QString& folder) {
    QList<QByteArray> names;
    const QByteArray native = platform::encodePath(folder);
    if (DIR* dir = ::opendir(native.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            struct stat st {};
            const QByteArray path = native + '/' + entry->d_name;
            if (::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode)) names << path;
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    QStringList paths;
    for (const QByteArray& name : names) paths << platform::decodePath(name);
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <photo folder> <recipe.json> <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QDir(platform::decodePath(argv[1])).absolutePath();
    QFile recipeFile(QString::fromLocal8Bit(argv[2]));
    if (!recipeFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the recipe %s\n", argv[2]);
        return 2;
    }
    QJsonParseError error;
    const QJsonObject recipe = QJsonDocument::fromJson(recipeFile.readAll(), &error).object();
    if (error.error != QJsonParseError::NoError) {
        std::fprintf(stderr, "recipe: %s\n", qPrintable(error.errorString()));
        return 2;
    }

    // A file whose size cannot be read (empty, damaged, not a picture) still goes to the
    // run, which reports it as any photo that cannot be read.
    // Read side by side: the application reads them when they are added, long before a
    // run, so one thread reading thousands of photos here would time the adding, not the run.
    const QStringList files = filesOf(folder);
    std::vector<std::shared_ptr<PhotoFile>> read(std::size_t(files.size()));
    {
        std::atomic<qsizetype> next{0};
        std::vector<std::thread> readers(std::size_t(std::max(1, platform::usableCpuCount())));
        for (std::thread& reader : readers) {
            reader = std::thread([&] {
                for (qsizetype i; (i = next++) < files.size();) read[std::size_t(i)] = PhotoFile::initWithFileUrl(files.at(i), false);
            });
        }
        for (std::thread& reader : readers) reader.join();
    }
    QList<std::shared_ptr<PhotoFile>> photos;
    for (auto& photo : read) {
        if (photo) photos << std::move(photo);
    }
    if (photos.isEmpty()) {
        std::printf("no photos in %s: nothing to do\n", argv[1]);
        return 0;
    }

    // The default rename settings with the recipe's entries laid over them. A benchmark
    // build keeps the program's resources at its top, two folders above this program.
    if (platform::resourcePath(QStringLiteral("RenameSettings.plist")).isEmpty()) {
        const QString built = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../../resources"));
        if (QFileInfo::exists(built + QStringLiteral("/RenameSettings.plist"))) platform::setResourceDirectory(built);
    }
    const QString renameSettingsPath = platform::resourcePath(QStringLiteral("RenameSettings.plist"));
    if (renameSettingsPath.isEmpty()) {
        std::fprintf(stderr, "cannot find RenameSettings.plist; set BRISKO_RESOURCES to the resources folder\n");
        return 2;
    }
    QVariantMap renameDictionary = platform::readPlistFile(renameSettingsPath).toMap();
    const QVariantMap renameEntries = recipe.value("rename").toObject().toVariantMap();
    for (auto it = renameEntries.begin(); it != renameEntries.end(); ++it) renameDictionary.insert(it.key(), it.value());
    auto rename = BatchRenameSetting::initWithDictionary(renameDictionary);
    if (!rename->flagRenamingMode) rename->flagRenamingMode = 0;
    rename->outputFormat = recipe.value("outputFormat").toInt(outputformat::KeepOriginal);
    rename->isSetQuality = recipe.contains("quality");
    rename->qualityRatio = recipe.value("quality").toDouble(0.8);
    rename->isSetCompression = recipe.contains("compression");
    rename->compressionRatio = recipe.value("compression").toInt(8);

    auto output = OutputOptionSettings::makeDefault();
    output->outputFolderPath = QDir(platform::decodePath(argv[3])).absolutePath();
    output->moveAndRenameToDestinationFolder = recipe.value("move").toBool(false);
    output->copyyToDestinationFolder = !recipe.value("move").toBool(false);
    output->owerwriteExistingFiles = recipe.value("overwrite").toBool(false);
    output->useSourceFolder = recipe.value("useSourceFolder").toBool(false);
    output->setOutputDateTimeAsOriginal = recipe.value("keepDates").toBool(false);

    BatchRunInput in;
    in.fileFormats = AppDelegate::defaultFileFormats();
    in.snapshot.photos = photos;
    in.snapshot.appliedFilters = stepsFrom(recipe.value("steps").toArray());
    in.snapshot.renameSetting = rename;
    in.snapshot.outputSetting = output;
    in.snapshot.metaDataSetting = std::make_shared<MetaDataObject>();
    in.snapshot.metaDataSettingOnlyUpdatedFields = std::make_shared<MetaDataObject>();
    in.snapshot.destinationPaths = OutputPlanner::planOutputPaths(photos, RenameScheme(rename, output, in.fileFormats));
    classify(in, output->owerwriteExistingFiles.value_or(false));

    std::printf("%lld photos, %lld steps, output format %d -> %s\n", static_cast<long long>(photos.size()),
                static_cast<long long>(in.snapshot.appliedFilters.size()), rename->outputFormat.value_or(0),
                qPrintable(output->outputFolderPath));
    Printer printer;
    BatchRunner runner;
    runner.setObserver(&printer);
    // 0 or absent: the run's own choice (one worker per core, a quarter of the memory).
    runner.setPhotosInFlight(recipe.value("photosInFlight").toInt(0));
    runner.setMemoryBudget(std::uint64_t(std::max(0.0, recipe.value("memoryBudgetMiB").toDouble(0))) << 20);
    runner.setRowByRowFromPixels(qint64(std::max(0.0, recipe.value("rowByRowFromMP").toDouble(0)) * 1e6));
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&runner, &BatchRunner::runEnded, &loop, [&](bool done) {
        finished = done;
        loop.quit();
    });
    printer.clock.start();
    runner.startProcessingOfPhotos(in);
    if (runner.state() == BatchRunner::State::Running) loop.exec();
    else finished = runner.state() == BatchRunner::State::Finished;
    const qint64 ms = printer.clock.elapsed();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("run: %lld ms for %lld photos (%.1f ms each); processed %lld, errors %lld, skipped %lld; "
                "peak memory %.1f MiB; made row by row %d\n",
                static_cast<long long>(ms), static_cast<long long>(photos.size()),
                photos.isEmpty() ? 0.0 : double(ms) / double(photos.size()),
                static_cast<long long>(runner.counterProcessedSuccessfully),
                static_cast<long long>(runner.counterProcessedWithError),
                static_cast<long long>(runner.counterSkipped), double(usage.ru_maxrss) / 1024.0,
                runner.photosMadeRowByRow.load());
    if (!finished || printer.outcomes < photos.size()) {
        std::printf("the run did not finish: %lld of %lld photos have no outcome\n",
                    static_cast<long long>(photos.size() - printer.outcomes), static_cast<long long>(photos.size()));
        return 3;
    }
    return runner.counterProcessedWithError == 0 ? 0 : 1;
}
