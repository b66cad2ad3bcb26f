// Phone and camera raw photos to 1600-wide JPEGs along the batch's own path, against
// libvips' thumbnail program on the same HEIC and LibRaw's own half-size development of
// the same raw file, and a 256-pixel thumbnail of the raw file from its embedded preview.
// Not part of CI; see bench/README.md.
//
//   bench_phone_raw [work folder] [source photo] [rounds]
//   bench_phone_raw --thumbnail <file> <count>   only thumbnails (for profiling)
//   bench_phone_raw --convert <work folder> <count> [pss]
//       one round of <count> 24 MP DNGs to 1600-wide JPEGs, one after another, as a run
//       makes them: its time, the processor time of the program and of its decoder
//       helpers, their minor page faults and, with "pss", the program's and the helpers'
//       proportional set size summed (peak and mean, sampled every 10 ms; the sampling
//       costs time, so timed rounds go without it). For alternating rounds of two builds,
//       see bench/imageio/raw_helper_compare.sh.
//
// The samples are made from the source photo (the largest of Debian's mate-backgrounds by
// default): a 12-megapixel HEIC (4032 x 3024, HEVC at quality 80, with a 320 x 240
// thumbnail, as phones write them) and three 24-megapixel DNGs (6000 x 4000, 14-bit RGGB
// sensor data, camera white balance as shot): with a full-size JPEG preview alone, with a
// 1620 x 1080 preview, and with the full-size preview and a 668 x 445 RGB picture beside
// it (as Canon's raw files keep one). Every figure is the median of the
// rounds, each round timing every contender once, so they share the machine's load.
//
// Raw files are read in decoder helper processes: besides the cases above, a round times
// the header and properties read the add-photos screen makes of each file, a full-size
// development (the largest picture a helper hands over), 24 thumbnails made four at a
// time as the add-photos grid makes them, and one thumbnail with no helper waiting (its
// start included). The source builds on trees without the helpers too, for figures
// before them.
#include "engine/Utils.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#if __has_include("platform/imageio/DecoderHelpers.h")
#include "platform/imageio/DecoderHelpers.h"
#define BENCH_HAS_DECODER_HELPERS 1
#endif
#include "tests/support/PhotoSamples.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <libraw.h>

namespace {

const char* kDefaultSource = "/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg";

QImage cover(const QImage& source, int w, int h) {
    const QImage scaled = source.scaled(w, h, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return scaled.copy((scaled.width() - w) / 2, (scaled.height() - h) / 2, w, h).convertToFormat(QImage::Format_RGB32);
}

QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2) : QString();
}

double millisecondsOf(const std::function<bool()>& work, bool* ok = nullptr) {
    QElapsedTimer t;
    t.start();
    const bool done = work();
    if (ok) *ok = done;
    return t.nsecsElapsed() / 1e6;
}

// The batch's path for one photo and one Resize step to 1600 wide: a reduced load where
// the photo allows it (raw files develop at half size), the full load otherwise, the
// resample to the target, and the JPEG written at the run's default quality.
bool toJpeg1600(const QString& source, const QString& destination) {
    Utils& utils = Utils::sharedUtils();
    const QSizeF size = utils.getImageOriginalSizeAtFilePathUrl(source);
    const QSizeF target = utils.aspectFitSizeWithMaxSize(size, 1600);
    QImage working = utils.getImageWithFixedOrientionFromUrl(
        source, QSize(int(std::lround(target.width())), int(std::lround(target.height()))));
    if (working.isNull()) working = utils.getImageWithFixedOrientionFromUrl(source);
    if (working.isNull()) return false;
    working = utils.scaleImage(working, target);
    return platform::writeImageFile(destination, working, platform::ImageType::JPEG, 0.82);
}

// LibRaw's own half-size development with the camera's white balance, into memory.
bool librawHalfSize(const QString& path) {
    auto raw = std::make_unique<LibRaw>();
    raw->imgdata.params.half_size = 1;
    raw->imgdata.params.use_camera_wb = 1;
    if (raw->open_file(QFile::encodeName(path).constData()) != LIBRAW_SUCCESS || raw->unpack() != LIBRAW_SUCCESS ||
        raw->dcraw_process() != LIBRAW_SUCCESS)
        return false;
    int error = 0;
    libraw_processed_image_t* image = raw->dcraw_make_mem_image(&error);
    const bool ok = image && image->width > 0;
    LibRaw::dcraw_clear_mem(image);
    return ok;
}

// `count` thumbnails of the files in turn, made `threads` at a time.
bool thumbnailsAtOnce(const QStringList& files, int count, int threads) {
    std::atomic<int> next{0};
    std::atomic<bool> ok{true};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = next++; i < count; i = next++)
                if (platform::makeThumbnail(files[i % files.size()], 256, 256).isNull()) ok = false;
        });
    for (std::thread& w : workers) w.join();
    return ok;
}

// The proportional set size of a process in KiB (0 when it has gone).
long pssKiB(const QString& pid) {
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("Pss:")) return line.mid(4).trimmed().split(' ').value(0).toLong();
    return 0;
}

// This process's and its children's (the decoder helpers') PSS, summed, in KiB.
long familyPssKiB() {
    const QString self = QString::number(qint64(getpid()));
    long total = pssKiB(self);
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(self));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task) + QStringLiteral("/children"));
        if (!children.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty()) total += pssKiB(QString::fromLatin1(child.trimmed()));
    }
    return total;
}

double cpuMs(const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Makes the samples in `work` from the source photo, where they are not there yet.
bool makeSamples(const QString& work, const QString& sourcePath) {
    const QString heic = work + QStringLiteral("/phone.heic");
    const QString dngFull = work + QStringLiteral("/camera-fullpreview.dng");
    const QString dngSmall = work + QStringLiteral("/camera-smallpreview.dng");
    const QString dngBoth = work + QStringLiteral("/camera-fullpreview-and-rgb.dng");
    const QString jpeg = work + QStringLiteral("/camera.jpg");  // the full-size preview as a file of its own
    QDir().mkpath(work);
    if (!QFileInfo::exists(heic) || !QFileInfo::exists(dngFull) || !QFileInfo::exists(dngSmall) ||
        !QFileInfo::exists(dngBoth) || !QFileInfo::exists(jpeg)) {
        const QImage source = platform::orientImage(platform::readImage(sourcePath), platform::readImageHeader(sourcePath).orientation);
        if (source.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(sourcePath));
            return false;
        }
        testsupport::HeifSample phone;
        phone.quality = 80;
        const QImage picture = cover(source, 4032, 3024);
        phone.thumbnail = picture.scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        platform::writeFileAtomically(heic, testsupport::makeHeif(picture, phone));
        const QImage scene = cover(source, 6000, 4000);
        platform::writeFileAtomically(jpeg, platform::encodeImage(scene, platform::ImageType::JPEG, 0.9));
        testsupport::DngSample camera;
        camera.gains[0] = 0.55;
        camera.gains[2] = 0.75;
        camera.blackLevel = 512;
        camera.whiteLevel = 16383;
        camera.jpegPreview = true;
        camera.preview = scene;
        platform::writeFileAtomically(dngFull, testsupport::makeDng(scene, camera));
        camera.smallPicture = scene.scaled(668, 445, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        platform::writeFileAtomically(dngBoth, testsupport::makeDng(scene, camera));
        camera.smallPicture = QImage();
        camera.preview = scene.scaled(1620, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        platform::writeFileAtomically(dngSmall, testsupport::makeDng(scene, camera));
    }
    return true;
}

// One round of `count` DNGs to 1600-wide JPEGs (see the top of this file).
int convertRound(const QString& work, int count, bool sampled) {
    if (!makeSamples(work, QString::fromLatin1(kDefaultSource))) return 2;
    const QString folder = work + QStringLiteral("/convert");
    QDir().mkpath(folder);
    QStringList dngs;
    for (int i = 0; i < count; ++i) {
        dngs << folder + QStringLiteral("/photo-%1.dng").arg(i);
        if (!QFileInfo::exists(dngs.last())) QFile::copy(work + QStringLiteral("/camera-fullpreview.dng"), dngs.last());
    }
#ifdef BENCH_HAS_DECODER_HELPERS
    platform::endIdleDecoderHelpers();
#endif
    std::atomic<bool> done{false};
    long peak = 0, samples = 0;
    double sum = 0;
    std::thread sampler;
    if (sampled)
        sampler = std::thread([&] {
            while (!done.load()) {
                const long now = familyPssKiB();
                peak = std::max(peak, now);
                sum += double(now);
                ++samples;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    rusage self0{}, children0{};
    getrusage(RUSAGE_SELF, &self0);
    getrusage(RUSAGE_CHILDREN, &children0);
    QElapsedTimer clock;
    clock.start();
    bool ok = true;
    for (int i = 0; i < count; ++i)
        ok = toJpeg1600(dngs[i], folder + QStringLiteral("/photo-%1.jpg").arg(i)) && ok;
    const double wall = clock.nsecsElapsed() / 1e6;
    done.store(true);
    if (sampler.joinable()) sampler.join();
#ifdef BENCH_HAS_DECODER_HELPERS
    platform::endIdleDecoderHelpers();  // collected, their processor time is the children's
#endif
    rusage self1{}, children1{};
    getrusage(RUSAGE_SELF, &self1);
    getrusage(RUSAGE_CHILDREN, &children1);
    std::printf("convert %d: %s wall %.0f ms, cpu %.0f ms (program %.0f, helpers %.0f), minor faults %ld "
                "(program %ld, helpers %ld)",
                count, ok ? "ok" : "FAILED", wall, cpuMs(self1) - cpuMs(self0) + cpuMs(children1) - cpuMs(children0),
                cpuMs(self1) - cpuMs(self0), cpuMs(children1) - cpuMs(children0),
                (self1.ru_minflt - self0.ru_minflt) + (children1.ru_minflt - children0.ru_minflt),
                self1.ru_minflt - self0.ru_minflt, children1.ru_minflt - children0.ru_minflt);
    if (sampled) std::printf(", PSS peak %.1f MiB, mean %.1f MiB", peak / 1024.0, samples ? sum / samples / 1024.0 : 0.0);
    std::printf("\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--thumbnail") {
        const QString file = QString::fromLocal8Bit(argv[2]);
        for (int i = 0; i < atoi(argv[3]); ++i)
            if (platform::makeThumbnail(file, 256, 256).isNull()) return 1;
        return 0;
    }
    if (argc >= 4 && std::string(argv[1]) == "--convert")
        return convertRound(QString::fromLocal8Bit(argv[2]), atoi(argv[3]), argc > 4 && std::string(argv[4]) == "pss");
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/brisko-bench-phone-raw");
    const QString sourcePath = argc > 2 && argv[2][0] ? QString::fromLocal8Bit(argv[2]) : QString::fromLatin1(kDefaultSource);
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    if (!makeSamples(work, sourcePath)) return 2;
    const QString heic = work + QStringLiteral("/phone.heic");
    const QString dngFull = work + QStringLiteral("/camera-fullpreview.dng");
    const QString dngSmall = work + QStringLiteral("/camera-smallpreview.dng");
    const QString dngBoth = work + QStringLiteral("/camera-fullpreview-and-rgb.dng");
    const QString jpeg = work + QStringLiteral("/camera.jpg");  // the full-size preview as a file of its own

    const bool haveVips = !QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail")).isEmpty();
    std::printf("samples in %s (source %s), %d rounds\n", qPrintable(work), qPrintable(sourcePath), rounds);

    // Once before the rounds, untimed: the rounds time a program that has read a raw file.
    platform::makeThumbnail(dngSmall, 256, 256);
    std::map<std::string, std::vector<double>> times;
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d, load average %s\n", round + 1, qPrintable(loadAverage()));
        bool ok = false;
        const auto record = [&](const char* name, const std::function<bool()>& work) {
            const double ms = millisecondsOf(work, &ok);
            if (!ok) std::printf("  %s FAILED\n", name);
            times[name].push_back(ms);
        };
        record("HEIC 12 MP -> 1600 JPEG (ours)", [&] { return toJpeg1600(heic, work + QStringLiteral("/heic-ours.jpg")); });
        if (haveVips)
            record("HEIC 12 MP -> 1600 JPEG (vipsthumbnail)", [&] {
                return QProcess::execute(QStringLiteral("vipsthumbnail"),
                                         {heic, QStringLiteral("--size"), QStringLiteral("1600x"), QStringLiteral("-o"),
                                          work + QStringLiteral("/heic-vips.jpg[Q=82]")}) == 0;
            });
        record("DNG 24 MP -> 1600 JPEG (ours)", [&] { return toJpeg1600(dngFull, work + QStringLiteral("/dng-ours.jpg")); });
        record("DNG 24 MP half-size development (LibRaw alone)", [&] { return librawHalfSize(dngFull); });
        record("DNG thumbnail 256 from a 6000 x 4000 preview", [&] {
            return !platform::makeThumbnail(dngFull, 256, 256).isNull();
        });
        record("DNG thumbnail 256 from a 1620 x 1080 preview", [&] {
            return !platform::makeThumbnail(dngSmall, 256, 256).isNull();
        });
        record("DNG thumbnail 256 beside a 6000 x 4000 preview", [&] {
            return !platform::makeThumbnail(dngBoth, 256, 256).isNull();
        });
        record("JPEG 24 MP (that preview alone) thumbnail 256", [&] {
            return !platform::makeThumbnail(jpeg, 256, 256).isNull();
        });
        record("DNG effects preview 580 wide (engine)", [&] {
            return !Utils::sharedUtils().getImageFromPath(dngFull, QSizeF(580, 387)).isNull();
        });
        record("DNG header and properties (add photos)", [&] {
            return platform::readImageHeader(dngFull).valid() &&
                   !platform::readImageProperties(dngFull).isEmpty();
        });
        record("DNG 24 MP full development", [&] { return !platform::readImage(dngFull).isNull(); });
        record("24 DNG thumbnails 256, 4 at a time (grid)", [&] {
            return thumbnailsAtOnce({dngSmall, dngBoth, dngFull}, 24, 4);
        });
#ifdef BENCH_HAS_DECODER_HELPERS
        platform::endIdleDecoderHelpers();
#endif
        record("DNG thumbnail 256, no helper waiting", [&] {
            return !platform::makeThumbnail(dngSmall, 256, 256).isNull();
        });
    }
    std::printf("\nmedian of %d rounds (min .. max), ms\n", rounds);
    for (const auto& [name, v] : times)
        std::printf("  %-50s %8.1f  (%.1f .. %.1f)\n", name.c_str(), median(v), *std::min_element(v.begin(), v.end()),
                    *std::max_element(v.begin(), v.end()));
    return 0;
}
