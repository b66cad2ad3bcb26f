// Resamples one photo to a given size and writes the result as PNG, for the quality and
// speed comparison in resample_compare.sh.
//
//   bench_resample <photo> <width> <height> <out.png> [lanczos|linear|box] [threads] [runs]
//
// lanczos: the program's resampler (encoded values); linear: the same in linear light;
// box: the area average the program used before. Prints the time of the resample alone,
// the fastest of `runs` (default 1), with `threads` kernel threads (default: one a core),
// and the least CPU time of the process over those runs.
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/Resample.h"
#include "platform/imageio/ImageIO.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_resample <photo> <width> <height> <out.png> [lanczos|linear|box]\n");
        return 2;
    }
    const QImage in = platform::readImage(QString::fromLocal8Bit(argv[1]));
    if (in.isNull()) return 1;
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    const char* mode = argc > 5 ? argv[5] : "lanczos";
    if (argc > 6) platform::setThreadCount(std::atoi(argv[6]));
    const int runs = argc > 7 ? std::max(1, std::atoi(argv[7])) : 1;
    QImage out;
    double ms = 0, cpuMs = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        const std::clock_t c0 = std::clock();
        if (!std::strcmp(mode, "box"))
            out = in.convertToFormat(QImage::Format_ARGB32_Premultiplied).scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        else
            out = platform::resampleImage(in, w, h, !std::strcmp(mode, "linear") ? platform::ResampleLight::Linear : platform::ResampleLight::Encoded);
        const double elapsed = t.nsecsElapsed() / 1e6, cpu = double(std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
        ms = r == 0 ? elapsed : std::min(ms, elapsed);
        cpuMs = r == 0 ? cpu : std::min(cpuMs, cpu);
    }
    std::printf("%s %dx%d -> %dx%d: %.1f ms, cpu %.1f ms\n", mode, in.width(), in.height(), w, h, ms, cpuMs);
    return out.convertToFormat(QImage::Format_RGB32).save(QString::fromLocal8Bit(argv[4]), "PNG", 0) ? 0 : 1;
}
