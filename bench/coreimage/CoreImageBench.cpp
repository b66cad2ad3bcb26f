// Megapixels per second of every filter kernel on a 24-megapixel picture, on one thread
// and on all threads, the Gaussian blur across radii, and (with --photo) load + blur +
// JPEG write of one photo for comparison with other tools.
//
//   bench_coreimage [--size WxH] [--only NAME] [--radii] [--photo FILE --out FILE --radius R [--copy]]
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/coreimage/Parallel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <cstdio>
#include <ctime>

namespace {

QImage testPicture(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* p = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 r = (x * 255) / w, g = (y * 255) / h, b = ((x >> 4) ^ (y >> 4)) & 1 ? 220 : 40;
            p[x] = 0xff000000u | (r << 16) | (g << 8) | b;
        }
    }
    return img;
}

struct Case {
    const char* name;
    QVariantMap values;
};

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Wall-clock seconds of one render, or process CPU seconds with cpu set: on a machine
// shared with other work, the CPU time of a one-thread run is the steadier figure.
double secondsFor(const CIImage& out, const QRectF& r, bool cpu = false) {
    QElapsedTimer t;
    t.start();
    const double c0 = cpuSeconds();
    const QImage img = CIContext().createCGImage(out, r);
    if (img.isNull()) return -1;
    return cpu ? cpuSeconds() - c0 : t.nsecsElapsed() / 1e9;
}

CIImage build(const QString& name, const CIImage& in, const CIImage& back, const QVariantMap& values) {
    CIFilterPtr f = CIFilter::filterWithName(name);
    if (!f) return {};
    f->setDefaults();
    f->setValue(QVariant::fromValue(in), QStringLiteral("inputImage"));
    if (f->inputKeys().contains(QStringLiteral("inputBackgroundImage"))) f->setValue(QVariant::fromValue(back), QStringLiteral("inputBackgroundImage"));
    for (auto it = values.begin(); it != values.end(); ++it) f->setValue(it.value(), it.key());
    return f->outputImage();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int W = 6000, H = 4000;
    QString only, photo, outFile;
    bool radii = false;
    double photoRadius = 20;
    bool copy = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--size") && i + 1 < args.size()) {
            const QStringList wh = args[++i].split(QLatin1Char('x'));
            W = wh.value(0).toInt(), H = wh.value(1).toInt();
        } else if (args[i] == QLatin1String("--only") && i + 1 < args.size()) only = args[++i];
        else if (args[i] == QLatin1String("--radii")) radii = true;
        else if (args[i] == QLatin1String("--photo") && i + 1 < args.size()) photo = args[++i];
        else if (args[i] == QLatin1String("--out") && i + 1 < args.size()) outFile = args[++i];
        else if (args[i] == QLatin1String("--radius") && i + 1 < args.size()) photoRadius = args[++i].toDouble();
        else if (args[i] == QLatin1String("--copy")) copy = true;
    }

    if (!photo.isEmpty()) {
        // Load + blur + JPEG write, all threads.
        QElapsedTimer t;
        t.start();
        QImageReader reader(photo);
        QImage in = reader.read();
        const int w = in.width(), h = in.height();
        const double load = t.nsecsElapsed() / 1e9;
        // As the batch does with a photo it hands to an effect: the filter reads the photo
        // through a picture over its storage and the blur is made in that storage, so the
        // photo and the blurred picture are never held at once (--copy: a new picture).
        const QImage view(in.constBits(), w, h, in.bytesPerLine(), in.format());
        CIFilterPtr f = CIFilter::filterWithName(QStringLiteral("CIGaussianBlur"));
        f->setDefaults();
        f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(copy ? in : view)), QStringLiteral("inputImage"));
        f->setValue(photoRadius, QStringLiteral("inputRadius"));
        const CIImage out = f->outputImage().imageByCroppingToRect(QRectF(0, 0, w, h));
        QImage blurred;
        if (!copy && CIContext().renderInPlace(out, in)) blurred = std::move(in);
        else blurred = CIContext().createCGImage(out, QRectF(0, 0, w, h));
        // The photo goes before the write, and the JPEG writer reads the 32-bit rows as
        // they are: a peer's pipeline holds no more than this either.
        f.reset();
        in = QImage();
        const double blur = t.nsecsElapsed() / 1e9 - load;
        QImageWriter writer(outFile.isEmpty() ? QStringLiteral("/tmp/bench_coreimage_out.jpg") : outFile);
        writer.setQuality(90);
        writer.write(blurred);
        const double total = t.nsecsElapsed() / 1e9;
        std::printf("photo %dx%d radius %.0f: load %.3f s, blur %.3f s, write %.3f s, total %.3f s\n", w, h,
                    photoRadius, load, blur, total - load - blur, total);
        return 0;
    }

    const CIImage in = CIImage::imageWithCGImage(testPicture(W, H));
    const CIImage back = CIImage::imageWithCGImage(testPicture(W, H).mirrored(true, false));
    const QRectF r(0, 0, W, H);
    const double mp = W * double(H) / 1e6;
    const int all = platform::threadCount();

    if (radii) {
        std::printf("CIGaussianBlur on %dx%d, one thread (CPU time)\nradius  seconds  MP/s\n", W, H);
        platform::setThreadCount(1);
        for (double rad : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 200.0, 400.0}) {
            const double s = secondsFor(build(QStringLiteral("CIGaussianBlur"), in, back, {{"inputRadius", rad}}), r, true);
            std::printf("%6.0f  %7.3f  %6.1f\n", rad, s, mp / s);
        }
        return 0;
    }

    const QVariant c = QVariant::fromValue(platform::Vec(W / 2.0, H / 2.0));
    const Case cases[] = {
        {"CIGaussianBlur", {{"inputRadius", 10.0}}},
        {"CIGaussianBlur", {{"inputRadius", 100.0}}},
        {"CIBoxBlur", {}},
        {"CIMotionBlur", {}},
        {"CIMotionBlur", {{"inputAngle", 0.5}}},
        {"CIZoomBlur", {{"inputCenter", c}}},
        {"CIMedianFilter", {}},
        {"CINoiseReduction", {}},
        {"CISharpenLuminance", {}},
        {"CIUnsharpMask", {}},
        {"CIColorControls", {{"inputSaturation", 1.3}, {"inputContrast", 1.1}}},
        {"CIExposureAdjust", {{"inputEV", 0.5}}},
        {"CIGammaAdjust", {{"inputPower", 0.8}}},
        {"CIWhitePointAdjust", {}},
        {"CIVibrance", {{"inputAmount", 0.5}}},
        {"CIHueAdjust", {{"inputAngle", 0.5}}},
        {"CIToneCurve", {}},
        {"CIColorInvert", {}},
        {"CISepiaTone", {}},
        {"CIVignetteEffect", {{"inputCenter", c}, {"inputRadius", 2000.0}}},
        {"CIHighlightShadowAdjust", {{"inputShadowAmount", 0.5}}},
        {"CIHighlightShadowAdjust", {{"inputShadowAmount", 0.5}, {"inputRadius", 5.0}}},
        {"CISourceOverCompositing", {}},
        {"CIMultiplyBlendMode", {}},
        {"CIOverlayBlendMode", {}},
        {"CISoftLightBlendMode", {}},
        {"CIColorBlendMode", {}},
        {"CICrop", {{"inputRectangle", QVariant::fromValue(platform::Vec(0, 0, W, H))}}},
        {"CIAffineClamp", {}},
        {"CIBloom", {}},
        {"CICrystallize", {{"inputCenter", c}}},
        {"CIEdges", {}},
        {"CIPixellate", {{"inputCenter", c}}},
        {"CIPointillize", {{"inputCenter", c}}},
        {"CIBumpDistortion", {{"inputCenter", c}, {"inputRadius", 1500.0}}},
        {"CIBumpDistortionLinear", {{"inputCenter", c}, {"inputRadius", 1500.0}}},
        {"CICircleSplashDistortion", {{"inputCenter", c}, {"inputRadius", 1500.0}}},
        {"CIPinchDistortion", {{"inputCenter", c}, {"inputRadius", 1500.0}}},
        {"CITorusLensDistortion", {{"inputCenter", c}, {"inputRadius", 1500.0}, {"inputWidth", 600.0}}},
        {"CITwirlDistortion", {{"inputCenter", c}, {"inputRadius", 1500.0}}},
        {"CIVortexDistortion", {{"inputCenter", c}, {"inputRadius", 1500.0}}},
    };
    std::printf("%dx%d (%.1f MP); MP/s on 1 thread (CPU time) and on %d threads (wall time)\n", W, H, mp, all);
    std::printf("%-26s %-34s %9s %9s\n", "filter", "settings", "1 thread", "all");
    // Rendering the source alone: the floor every filter pays (8-bit in, 8-bit out).
    {
        platform::setThreadCount(1);
        const double s1 = secondsFor(in, r, true);
        platform::setThreadCount(0);
        const double sn = secondsFor(in, r);
        std::printf("%-26s %-34s %9.1f %9.1f\n", "(source only)", "", mp / s1, mp / sn);
    }
    for (const Case& k : cases) {
        if (!only.isEmpty() && only != QLatin1String(k.name)) continue;
        const CIImage out = build(QString::fromLatin1(k.name), in, back, k.values);
        QStringList desc;
        for (auto it = k.values.begin(); it != k.values.end(); ++it)
            if (it.value().metaType() != QMetaType::fromType<platform::Vec>()) desc << it.key().mid(5) + QLatin1Char('=') + it.value().toString();
        platform::setThreadCount(1);
        const double s1 = secondsFor(out, r, true);
        platform::setThreadCount(0);
        const double sn = secondsFor(out, r);
        std::printf("%-26s %-34s %9.1f %9.1f\n", k.name, qPrintable(desc.join(QLatin1Char(' '))), mp / s1, mp / sn);
        std::fflush(stdout);
    }
    return 0;
}
