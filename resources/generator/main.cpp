// brisko_resource_generator <output folder> [--only <prefix>]
// Draws the application's pictures into the output folder. With --only, just the pictures
// whose file names start with the prefix (used to check that a rerun gives the same bytes).
#include "Generator.h"
#include "platform/foundation/UsableCpus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageWriter>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>
#include <cstdio>

namespace gen {

float valueNoise(float x, float y, uint32_t seed, int periodX, int periodY) {
    const float fx = std::floor(x), fy = std::floor(y);
    int x0 = int(fx), y0 = int(fy);
    const float tx = x - fx, ty = y - fy;
    const float sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    auto wrap = [](int v, int p) { return p > 0 ? ((v % p) + p) % p : v; };
    const int x1 = wrap(x0 + 1, periodX), y1 = wrap(y0 + 1, periodY);
    x0 = wrap(x0, periodX), y0 = wrap(y0, periodY);
    const float a = rand01(x0, y0, seed), b = rand01(x1, y0, seed);
    const float c = rand01(x0, y1, seed), d = rand01(x1, y1, seed);
    return mix(mix(a, b, sx), mix(c, d, sx), sy);
}

float fbm(float x, float y, uint32_t seed, int octaves, int periodX, int periodY) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * valueNoise(x, y, seed + uint32_t(o) * 101u, periodX, periodY);
        norm += amp;
        x *= 2, y *= 2, periodX *= 2, periodY *= 2, amp *= 0.5f;
    }
    return sum / norm;
}

QImage newImage(int w, int h, QColor fill) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

}  // namespace gen

namespace {

bool writePicture(const QString& folder, const QString& name, const QImage& image) {
    const bool jpeg = name.endsWith(QLatin1String(".jpg"));
    const QString finalPath = folder + QLatin1Char('/') + (name.contains(QLatin1Char('.')) ? name : name + ".png");
    const QString temp = finalPath + QStringLiteral(".part");
    QImage out = jpeg ? image.convertToFormat(QImage::Format_RGB32) : image.convertToFormat(QImage::Format_ARGB32);
    // Fixed resolution so nothing machine-dependent reaches the file.
    out.setDotsPerMeterX(2835);
    out.setDotsPerMeterY(2835);
    QImageWriter writer(temp, jpeg ? "jpeg" : "png");
    if (jpeg) writer.setQuality(88);
    if (!writer.write(out)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(temp), qPrintable(writer.errorString()));
        return false;
    }
    QFile::remove(finalPath);
    return QFile::rename(temp, finalPath);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s <output folder> [--only <prefix>]\n", argv[0]);
        return 2;
    }
    const QString folder = args.at(1);
    QString only;
    const int o = args.indexOf(QStringLiteral("--only"));
    if (o > 0 && o + 1 < args.size()) only = args.at(o + 1);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }

    // Text on stickers and effect pictures uses one pinned font file, never the machine's
    // font choice.
    for (const char* f : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                          "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"})
        if (QFontDatabase::addApplicationFont(QString::fromLatin1(f)) < 0)
            std::fprintf(stderr, "font %s not found; text falls back to the default font\n", f);

    QList<gen::Job> jobs;
    jobs += gen::textureJobs();
    jobs += gen::frameJobs();
    jobs += gen::stickerJobs();
    jobs += gen::pictureJobs();
    if (!only.isEmpty()) {
        QList<gen::Job> kept;
        for (const gen::Job& j : jobs)
            if (j.fileName.startsWith(only)) kept.append(j);
        jobs = kept;
    }

    QElapsedTimer timer;
    timer.start();
    // Every picture is independent and written to its own file, so the order of work does
    // not change a byte.
    std::atomic<int> failures{0}, nextJob{0};
    std::vector<std::thread> workers;
    const int threads = platform::usableCpuCount();
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = nextJob++; i < jobs.size(); i = nextJob++)
                if (!writePicture(folder, jobs[i].fileName, jobs[i].make())) ++failures;
        });
    for (std::thread& w : workers) w.join();
    std::printf("generated %lld pictures in %lld ms\n", static_cast<long long>(jobs.size()),
                static_cast<long long>(timer.elapsed()));
    return failures == 0 ? 0 : 1;
}
