// Resamples one photo to a given size and writes the result as PNG, for the quality and
// speed comparison in resample_compare.sh.
//
//   bench_resample <photo> <width> <height> <out.png> [lanczos|linear|box]
//
// lanczos: the program's resampler (encoded values); linear: the same in linear light;
// box: the area average the program used before. Prints the time of the resample alone.
#include "platform/coreimage/Resample.h"
#include "platform/imageio/ImageIO.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_resample <photo> <width> <height> <out.png> [lanczos|linear|box]\n");
        return 2;
    }
    const QImage in = platform::readImage(QString::fromLocal8Bit(argv[1]));
    if (in.isNull()) return 1;
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    const char* mode = argc > 5 ? argv[5] : "lanczos";
    QElapsedTimer t;
    t.start();
    QImage out;
    if (!std::strcmp(mode, "box"))
        out = in.convertToFormat(QImage::Format_ARGB32_Premultiplied).scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    else
        out = platform::resampleImage(in, w, h, !std::strcmp(mode, "linear") ? platform::ResampleLight::Linear : platform::ResampleLight::Encoded);
    const double ms = t.nsecsElapsed() / 1e6;
    std::printf("%s %dx%d -> %dx%d: %.1f ms\n", mode, in.width(), in.height(), w, h, ms);
    return out.convertToFormat(QImage::Format_RGB32).save(QString::fromLocal8Bit(argv[4]), "PNG", 0) ? 0 : 1;
}
