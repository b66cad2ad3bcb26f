// Timing and memory figures of the image plumbing, against libjpeg-turbo used directly
// and (when installed) ImageMagick's convert. Not part of CI; see bench/README.md.
//
//   bench_imageio [folder]   pictures are made in the folder (a temporary one by default)
//   bench_imageio --convert <tif|bmp|gif|jpg|png|jp2> <files...>   only converts (for profiling)
//   bench_imageio --jpeg-sink   only the JPEG band sink's wait after the last rows
#include "engine/ImageProcessing.h"
#include "engine/Utils.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <jpeglib.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Something with the statistics of a photo: smooth light, edges and fine noise.
QImage photoLike(int w, int h, int seed) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 rng{uint32_t(seed)};
    std::uniform_int_distribution<int> noise(-4, 4);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            // Sensor grain is mostly in the light, hardly in the colour.
            const int grain = noise(rng);
            int r = int(128 + 100 * std::sin(fx * 6.0 + seed) * std::cos(fy * 3.0)) + grain;
            int g = int(110 + 90 * std::cos(fx * 4.0 - fy * 5.0)) + grain;
            int b = int(90 + 80 * std::sin((fx + fy) * 9.0)) + grain;
            line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    QPainter p(&img);
    p.setPen(QPen(Qt::black, 9));
    for (int i = 0; i < 40; ++i) p.drawLine(i * w / 40, 0, w - i * w / 60, h);
    return img;
}

template <class F>
double bestOf(int runs, F&& f) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

// libjpeg-turbo alone: decode to RGB rows, encode them at quality 80.
size_t libjpegAlone(const QByteArray& jpeg) {
    jpeg_decompress_struct d;
    jpeg_error_mgr e1, e2;
    d.err = jpeg_std_error(&e1);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(jpeg.constData()), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&d);
    const size_t stride = size_t(d.output_width) * 4;
    std::vector<unsigned char> pixels(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pixels.data() + stride * d.output_scanline;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_compress_struct c;
    c.err = jpeg_std_error(&e2);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = d.output_width;
    c.image_height = d.output_height;
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 80, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = pixels.data() + stride * c.next_scanline;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    jpeg_destroy_decompress(&d);
    std::free(out);
    return outSize;
}

// The same picture written as cameras write it: restart markers at every MCU row.
void writeCameraJpeg(const QImage& src, const QString& path) {
    const QImage img = src.convertToFormat(QImage::Format_RGB32);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(img.width());
    c.image_height = JDIMENSION(img.height());
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    c.restart_in_rows = 1;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uchar*>(img.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(reinterpret_cast<const char*>(out), qint64(size));
    std::free(out);
}

// Peak resident memory of a child process running f, in MB.
template <class F>
double childPeakMB(F&& f) {
    const pid_t pid = fork();
    if (pid == 0) {
        f();
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss / 1024.0;
}

// A 5120 x 2880 picture handed to the JPEG band sink 200 rows at a time, as a render
// pump would, with a pause per step standing for the effect's work: how long finish()
// waits after the last rows, against encoding the whole picture at once.
void jpegSinkLatency() {
    const QImage picture = photoLike(5120, 2880, 3).convertToFormat(QImage::Format_RGB32);
    const double whole = bestOf(5, [&] { platform::encodeImage(picture, platform::ImageType::JPEG, 0.8); });
    std::printf("5120x2880 JPEG q0.8 encoded whole: %.1f ms\n", whole);
    for (const int pauseMs : {0, 2, 10}) {
        double wait = 1e9, total = 1e9;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer all;
            all.start();
            platform::JpegBandSink sink(picture.width(), picture.height(), QByteArray(), 0.8);
            for (int rows = 0; rows < picture.height();) {
                if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                rows = std::min(picture.height(), rows + 200);
                sink.rowsDone(picture.constBits(), picture.bytesPerLine(), rows);
            }
            QElapsedTimer t;
            t.start();
            const QByteArray file = sink.finish();
            wait = std::min(wait, t.nsecsElapsed() / 1e6);
            total = std::min(total, all.nsecsElapsed() / 1e6);
            if (file.isEmpty()) std::printf("  the sink failed\n");
        }
        std::printf("  200-row steps %d ms apart: finish() waits %.1f ms (whole run %.1f ms)\n", pauseMs, wait, total);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc > 3 && QByteArray(argv[1]) == "--convert") {
        const QByteArray extension(argv[2]);
        const QList<std::pair<QByteArray, platform::ImageType>> types = {
            {"tif", platform::ImageType::TIFF}, {"bmp", platform::ImageType::BMP}, {"gif", platform::ImageType::GIF},
            {"jpg", platform::ImageType::JPEG}, {"png", platform::ImageType::PNG}, {"jp2", platform::ImageType::JPEG2000}};
        const auto type = std::find_if(types.begin(), types.end(), [&](const auto& t) { return t.first == extension; });
        if (type == types.end()) {
            std::fprintf(stderr, "--convert takes one of tif, bmp, gif, jpg, png, jp2\n");
            return 2;
        }
        const platform::ImageType saveType = type->second;
        for (int i = 3; i < argc; ++i) {
            const QString s = QString::fromLocal8Bit(argv[i]);
            const QImage img = Utils::sharedUtils().getImageWithFixedOrientionFromUrl(s);
            Utils::sharedUtils().saveImageInSelectedFormat(saveType, s + ".converted", img, img, {}, 0.8f, 1, nullptr);
        }
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "--jpeg-sink") {
        jpegSinkLatency();
        return 0;
    }
    QTemporaryDir temp;
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QDir().mkpath(dir);
    Utils& utils = Utils::sharedUtils();

    std::printf("Making pictures in %s ...\n", qPrintable(dir));
    const QString p5k = dir + "/photo5120.jpg", p24 = dir + "/photo24mp.jpg";
    platform::writeImageFile(p5k, photoLike(5120, 2880, 1), platform::ImageType::JPEG, 0.9);
    const QString p24r = dir + "/photo24mp-restarts.jpg";
    {
        const QImage big = photoLike(6000, 4000, 2);
        platform::writeImageFile(p24, big, platform::ImageType::JPEG, 0.9);
        writeCameraJpeg(big, p24r);
    }
    QFile f(p5k);
    f.open(QIODevice::ReadOnly);
    const QByteArray jpeg5k = f.readAll();

    // 1. Load upright and write JPEG q0.8, against libjpeg-turbo alone.
    const double alone = bestOf(5, [&] { libjpegAlone(jpeg5k); });
    const double ours = bestOf(5, [&] {
        const QImage img = utils.getImageWithFixedOrientionFromUrl(p5k);
        utils.saveImageInSelectedFormat(platform::ImageType::JPEG, dir + "/out5120.jpg", img, img, {}, 0.8f, 1, nullptr);
    });
    std::printf("5120x2880 load upright + write JPEG q0.8: ours %.1f ms, libjpeg-turbo alone %.1f ms, ratio %.2f\n",
                ours, alone, ours / alone);

    // 2. A 256-px thumbnail of a 24 MP JPEG against its full decode.
    const double full = bestOf(5, [&] { platform::readImage(p24); });
    const double thumb = bestOf(5, [&] { platform::makeThumbnail(p24, 256, 256); });
    const double engineThumb = bestOf(5, [&] { utils.getThumbnailImageAtFilePath(p24, QSizeF(256, 256)); });
    const double fullR = bestOf(5, [&] { platform::readImage(p24r); });
    const double thumbR = bestOf(5, [&] { platform::makeThumbnail(p24r, 256, 256); });
    std::printf("24 MP with restart markers (as cameras write): full decode %.1f ms, 256-px thumbnail %.1f ms "
                "(%.1fx faster)\n", fullR, thumbR, fullR / thumbR);
    const double naive = bestOf(3, [&] {
        return platform::readImage(p24).scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    });
    std::printf("24 MP: full decode %.1f ms, full decode + shrink %.1f ms, 256-px thumbnail %.1f ms (%.1fx faster than "
                "the full decode, %.1fx than decode + shrink), engine thumbnail %.1f ms\n",
                full, naive, thumb, full / thumb, naive / thumb, engineThumb);

    // 3. Peak memory of loading and writing a 24 MP photo, over the process's own baseline.
    const double base = childPeakMB([] {});
    const double peak = childPeakMB([&] {
        const QImage img = utils.getImageWithFixedOrientionFromUrl(p24);
        utils.saveImageInSelectedFormat(platform::ImageType::JPEG, dir + "/out24.jpg", img, img, {}, 0.8f, 1, nullptr);
    });
    const double rgba = 6000.0 * 4000.0 * 4 / (1024 * 1024);
    std::printf("24 MP load + write JPEG: peak %.0f MB over a %.0f MB baseline = %.0f MB, %.2fx the %.0f MB RGBA size\n",
                peak, base, peak - base, (peak - base) / rgba, rgba);

    // 4. Ten large JPEGs to PNG and TIFF, against ImageMagick when it is installed.
    QStringList sources;
    for (int i = 0; i < 10; ++i) {
        const QString p = QString("%1/batch%2.jpg").arg(dir).arg(i);
        platform::writeImageFile(p, photoLike(4000, 3000, 10 + i), platform::ImageType::JPEG, 0.9);
        sources << p;
    }
    for (auto [type, ext, saveType] :
         {std::tuple{"PNG", "png", platform::ImageType::PNG}, {"TIFF", "tif", platform::ImageType::TIFF}}) {
        QElapsedTimer t;
        t.start();
        for (const QString& s : sources) {
            const QImage img = utils.getImageWithFixedOrientionFromUrl(s);
            utils.saveImageInSelectedFormat(saveType, s + ".ours." + ext, img, img, {}, 0.8f, 1, nullptr);
        }
        const double oursMs = t.elapsed();
        const QString convert = QStandardPaths::findExecutable("convert");
        if (convert.isEmpty()) {
            std::printf("10 x 12 MP JPEG -> %s: ours %.0f ms (ImageMagick not installed)\n", type, oursMs);
            continue;
        }
        // Both sides write TIFF uncompressed (convert would otherwise follow its own defaults).
        const QStringList extra = saveType == platform::ImageType::TIFF ? QStringList{"-compress", "None"} : QStringList{};
        t.restart();
        for (const QString& s : sources) QProcess::execute(convert, QStringList{s} + extra + QStringList{s + ".im." + ext});
        const double imMs = t.elapsed();
        qint64 oursBytes = 0, imBytes = 0;
        for (const QString& s : sources) {
            oursBytes += QFileInfo(s + ".ours." + ext).size();
            imBytes += QFileInfo(s + ".im." + ext).size();
        }
        std::printf("10 x 12 MP JPEG -> %s: ours %.0f ms, ImageMagick convert %.0f ms; files %.1f MB and %.1f MB\n",
                    type, oursMs, imMs, oursBytes / 1e6, imBytes / 1e6);
    }
    return 0;
}
