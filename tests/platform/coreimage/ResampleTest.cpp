#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/Resample.h"
#include "tests/platform/coreimage/CoreImageTestUtil.h"
#include "tests/support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace citest;

namespace {

// Grey levels of a picture built from a function of the pixel centre.
QImage greyImage(int w, int h, const std::function<double(double x, double y)>& f) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int v = std::clamp(int(std::lround(f(x + 0.5, y + 0.5))), 0, 255);
            row[x] = qRgb(v, v, v);
        }
    }
    return img;
}

double grey(const QImage& img, int x, int y) { return qGreen(img.pixel(x, y)); }

// Root mean square deviation from mid-grey over the pixels whose centre lies between two
// radii of the picture's centre.
double ringEnergy(const QImage& img, double r0, double r1) {
    const double cx = img.width() / 2.0, cy = img.height() / 2.0;
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const double r = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (r < r0 || r > r1) continue;
            const double d = grey(img, x, y) - 127.5;
            sum += d * d;
            ++n;
        }
    return n ? std::sqrt(sum / n) : 0.0;
}

// Where a profile's feature sits, in pixel coordinates (pixel i spans [i, i+1]).
// Line: centroid of the values above the background. Edge: where it crosses the middle.
double linePosition(const std::vector<double>& p, double background) {
    double m = 0, s = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        m += (p[i] - background) * (i + 0.5);
        s += p[i] - background;
    }
    return m / s;
}
double edgePosition(const std::vector<double>& p, double middle) {
    for (size_t i = 0; i + 1 < p.size(); ++i)
        if ((p[i] - middle) * (p[i + 1] - middle) <= 0 && p[i] != p[i + 1])
            return i + 0.5 + (middle - p[i]) / (p[i + 1] - p[i]);
    return -1;
}

// Single-pixel black and white checks under an alpha that falls from left to right.
QImage checksUnderAlpha(int w, int h) {
    QImage in(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = 255 - (x * 255 / (w - 1)) / 2;
            const int v = (x + y) % 2 ? a : 0;
            in.setPixel(x, y, qRgba(v, v, (x % 3) ? v : 0, a));
        }
    return in;
}

}  // namespace

TEST(Resample, SizesAreExactAndFlatColoursStayExact) {
    struct Case {
        int inW, inH, outW, outH;
    } const cases[] = {
        {37, 29, 1, 1}, {37, 29, 3, 3}, {3200, 20, 1599, 7}, {5, 4, 1599, 3}, {1, 1, 3, 3},
        {1600, 9, 1599, 9}, {2000, 1500, 1, 1599}, {4000, 30, 97, 2},
    };
    const QColor colour(200, 40, 90, 150);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inW << "x" << c.inH << " -> " << c.outW << "x" << c.outH);
        const QImage out = platform::resampleImage(solid(c.inW, c.inH, colour), c.outW, c.outH);
        ASSERT_EQ(out.size(), QSize(c.outW, c.outH));
        EXPECT_EQ(maxChannelDiff(out, solid(c.outW, c.outH, colour)), 0);
    }
    EXPECT_TRUE(platform::resampleImage(QImage(), 4, 4).isNull());
    EXPECT_TRUE(platform::resampleImage(solid(4, 4, Qt::red), 0, 4).isNull());
}

TEST(Resample, ZonePlateShrinkAliasesFarLessThanBoxAverage) {
    // Rings whose frequency grows to half a cycle per pixel at the edge: shrunk 4x, every
    // ring beyond the new pixel size's limit should fade to grey instead of coming back
    // as false coarse rings.
    const int n = 512;
    const QImage plate = greyImage(n, n, [&](double x, double y) {
        const double r2 = (x - n / 2.0) * (x - n / 2.0) + (y - n / 2.0) * (y - n / 2.0);
        return 127.5 + 127.5 * std::cos(3.14159265358979 * r2 / n);
    });
    const QImage lanczos = platform::resampleImage(plate, n / 4, n / 4);
    const QImage box = plate.scaled(n / 4, n / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Input frequencies above 0.2 cycles a pixel, well beyond the 0.125 that 4x keeps.
    const double aliasLanczos = ringEnergy(lanczos, 26, 62), aliasBox = ringEnergy(box, 26, 62);
    EXPECT_GT(aliasBox, 8.0);
    EXPECT_LT(aliasLanczos, aliasBox / 4);
    // The coarse rings in the middle are kept.
    EXPECT_GT(ringEnergy(lanczos, 0, 8), 60.0);
}

TEST(Resample, LinesAndEdgesKeepTheirPlace) {
    struct Case {
        const char* name;
        bool edge;
        int in, out;
        double at;  // line centre or edge, input pixels
    } const cases[] = {
        {"line shrunk 4x", false, 401, 100, 200.5},  {"line shrunk 2.7x", false, 333, 123, 170.5},
        {"line shrunk 13x, blocks first", false, 1300, 100, 651.5},
        {"line enlarged 3.46x", false, 50, 173, 20.5}, {"edge shrunk 3.25x", true, 400, 123, 137.0},
        {"edge enlarged 2x", true, 61, 122, 30.0},   {"edge shrunk 9.7x, blocks first", true, 970, 100, 455.0},
    };
    for (const Case& c : cases) {
        for (bool vertical : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (vertical ? " (rows)" : " (columns)"));
            auto f = [&](double x, double y) {
                const double t = vertical ? y : x;
                if (c.edge) return t < c.at ? 64.0 : 192.0;
                return std::abs(t - c.at) < 0.5 ? 255.0 : 128.0;
            };
            const int w = vertical ? 6 : c.in, h = vertical ? c.in : 6;
            const QImage out = platform::resampleImage(greyImage(w, h, f), vertical ? 6 : c.out, vertical ? c.out : 6);
            std::vector<double> profile;
            for (int i = 0; i < c.out; ++i) profile.push_back(vertical ? grey(out, 3, i) : grey(out, i, 3));
            const double expected = c.at * c.out / c.in;
            const double found = c.edge ? edgePosition(profile, 128.0) : linePosition(profile, 128.0);
            EXPECT_NEAR(found, expected, 0.1);
        }
    }
}

TEST(Resample, TransparentSurroundLendsNoColourToTheEdge) {
    // An opaque red square on a transparent picture, stored both premultiplied and straight
    // (straight with a hidden white or black behind the transparency).
    for (QRgb hidden : {0x00000000u, 0x00ffffffu}) {
        for (QImage::Format format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32}) {
            QImage in(64, 64, format);
            in.fill(format == QImage::Format_ARGB32 ? hidden : 0u);
            for (int y = 20; y < 44; ++y)
                for (int x = 20; x < 44; ++x) in.setPixel(x, y, qRgb(255, 0, 0));
            for (QSize size : {QSize(29, 29), QSize(150, 150), QSize(5, 7)}) {
                SCOPED_TRACE(testing::Message() << format << " " << std::hex << hidden << std::dec << " " << size.width());
                const QImage out = platform::resampleImage(in, size.width(), size.height())
                                       .convertToFormat(QImage::Format_ARGB32);
                int edgePixels = 0;
                for (int y = 0; y < out.height(); ++y)
                    for (int x = 0; x < out.width(); ++x) {
                        const QRgb p = out.pixel(x, y);
                        if (qAlpha(p) < 16) continue;
                        if (qAlpha(p) < 240) ++edgePixels;
                        EXPECT_GE(qRed(p), 240) << x << "," << y;
                        EXPECT_LE(std::max(qGreen(p), qBlue(p)), 16) << x << "," << y;
                    }
                EXPECT_GT(edgePixels, 0);
            }
        }
    }
}

TEST(Resample, SameResultWithOneOrManyThreads) {
    const QImage in = gradientImageForTest(613, 411);
    const QSize sizes[] = {{151, 97}, {1234, 901}, {40, 400}, {13, 7}};
    for (QSize s : sizes) {
        SCOPED_TRACE(s.width());
        platform::setThreadCount(1);
        const QImage one = platform::resampleImage(in, s.width(), s.height());
        platform::setThreadCount(7);
        const QImage many = platform::resampleImage(in, s.width(), s.height());
        CIFilterPtr f = filterOn(QStringLiteral("CILanczosScaleTransform"), in);
        f->setValue(0.37, QStringLiteral("inputScale"));
        const QImage filtered7 = render(f->outputImage());
        platform::setThreadCount(1);
        const QImage filtered1 = render(f->outputImage());
        platform::setThreadCount(0);
        EXPECT_TRUE(testsupport::samePixels(one, many));
        EXPECT_TRUE(testsupport::samePixels(filtered1, filtered7));
    }
}

TEST(LanczosScaleTransform, ScalesByItsFactorAndAspectLikeTheResampler) {
    const QImage in = gradientImageForTest(613, 411);
    struct Case {
        double scale, aspect;
    } const cases[] = {{0.5, 1.0}, {0.3, 1.7}, {2.0, 0.5}, {1.0, 1.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scale << " " << c.aspect);
        CIFilterPtr f = filterOn(QStringLiteral("CILanczosScaleTransform"), in);
        ASSERT_TRUE(f);
        f->setValue(c.scale, QStringLiteral("inputScale"));
        f->setValue(c.aspect, QStringLiteral("inputAspectRatio"));
        const CIImage out = f->outputImage();
        const QSize size(int(std::lround(613 * c.scale * c.aspect)), int(std::lround(411 * c.scale)));
        EXPECT_EQ(out.extent(), QRectF(QPointF(0, 0), QSizeF(size)));
        // Rows counted from the other end sum in the other order: a unit at most.
        EXPECT_LE(maxChannelDiff(render(out), platform::resampleImage(in, size.width(), size.height())), 1);
    }
}

TEST(Resample, EightBitPathAgreesWithTheFloatKernelOnHarshContent) {
    // Single-pixel black and white checks under a varying alpha: the kernel's ringing goes
    // far beyond [0, alpha] on every pixel, so any overflow or missed clamp in the fixed-
    // point sums shows as a large difference from the float kernel of the filter engine.
    // The 4-pixel-wide picture is narrower than the kernel's window.
    struct Case {
        QSize in;
        double scale, aspect;
    } const cases[] = {{{157, 93}, 2.5, 1.0}, {{157, 93}, 0.77, 1.0}, {{157, 93}, 1.0, 0.5}, {{157, 93}, 0.41, 2.0},
                       {{157, 93}, 1.9, 0.61}, {{4, 3}, 1.5, 1.0}, {{4, 3}, 0.5, 3.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in.width() << " " << c.scale << " " << c.aspect);
        const QImage in = checksUnderAlpha(c.in.width(), c.in.height());
        CIFilterPtr f = filterOn(QStringLiteral("CILanczosScaleTransform"), in);
        f->setValue(c.scale, QStringLiteral("inputScale"));
        f->setValue(c.aspect, QStringLiteral("inputAspectRatio"));
        const QImage engine = render(f->outputImage());
        EXPECT_LE(maxChannelDiff(platform::resampleImage(in, engine.width(), engine.height()), engine), 1);
    }
}

TEST(Resample, OpaquePicturesStayOpaqueWhateverTheirSpareBytes) {
    // RGB32 rows whose fourth bytes are zero (allowed, and left so by some writers) give
    // the same opaque picture as those with 0xff there.
    const QImage proper = gradientImageForTest(120, 80).convertToFormat(QImage::Format_RGB32);
    QImage spare = proper.copy();
    for (int y = 0; y < spare.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(spare.scanLine(y));
        for (int x = 0; x < spare.width(); ++x) row[x] &= 0x00ffffffu;
    }
    for (QSize s : {QSize(47, 31), QSize(301, 77)}) {
        SCOPED_TRACE(s.width());
        const QImage a = platform::resampleImage(proper, s.width(), s.height());
        EXPECT_TRUE(testsupport::samePixels(a, platform::resampleImage(spare, s.width(), s.height())));
        EXPECT_EQ(qAlpha(a.pixel(s.width() / 2, s.height() / 2)), 255);
    }
}

TEST(Resample, WidestAndBaselineLoopsGiveTheSamePixels) {
    // The machine running the tests takes the widest loops; the baseline ones run on
    // processors without them and must not drift from them by a single level.
    struct Case {
        QSize in, out;
    } const cases[] = {{{157, 93}, {390, 231}}, {{157, 93}, {120, 71}}, {{157, 93}, {157, 40}}, {{157, 93}, {33, 93}},
                       {{157, 93}, {40, 12}},   {{157, 93}, {158, 94}}, {{4, 3}, {11, 7}},      {{4, 3}, {3, 2}}};
    for (const Case& c : cases) {
        const QImage in = checksUnderAlpha(c.in.width(), c.in.height());
        const QSize s = c.out;
        SCOPED_TRACE(testing::Message() << c.in.width() << " -> " << s.width() << "x" << s.height());
        const platform::Resampler plan(in.width(), in.height(), s.width(), s.height());
        ASSERT_TRUE(plan.fixedPoint());
        auto run = [&](platform::Resampler::Loops loops) {
            QImage out(s, QImage::Format_ARGB32_Premultiplied);
            plan.runPixels(0, s.height(), false,
                           [&](int y, quint32*) { return reinterpret_cast<const quint32*>(in.constScanLine(y)); },
                           [&](int row) { return reinterpret_cast<quint32*>(out.scanLine(row)); }, loops);
            return out;
        };
        const QImage widest = run(platform::Resampler::Loops::Widest);
        EXPECT_TRUE(testsupport::samePixels(widest, run(platform::Resampler::Loops::Baseline)));
        EXPECT_TRUE(testsupport::samePixels(widest, platform::resampleImage(in, s.width(), s.height())));
    }
}
