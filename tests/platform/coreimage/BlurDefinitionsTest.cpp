// The blur kernels against their plain definitions on a real photo: every pixel of the fast
// kernels (runs of samples, taps a row at a time, kernels summed in registers) must be the
// definition's to within a level, and a picture made in pieces must be the one made whole.
#include "CoreImageTestUtil.h"

#include "tests/support/PackagedPictures.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

using namespace citest;

namespace {

// Premultiplied RGBA floats over a rectangle of the y-up plane, transparent outside.
struct FloatPicture {
    int x0 = 0, y0 = 0, w = 0, h = 0;
    std::vector<std::array<double, 4>> px;
    FloatPicture(int x, int y, int width, int height) : x0(x), y0(y), w(width), h(height), px(size_t(width) * height) {}
    std::array<double, 4> at(int x, int y) const {
        if (x < x0 || y < y0 || x >= x0 + w || y >= y0 + h) return {0, 0, 0, 0};
        return px[size_t(y - y0) * w + (x - x0)];
    }
    std::array<double, 4>& ref(int x, int y) { return px[size_t(y - y0) * w + (x - x0)]; }
    // Bilinear at (sx, sy), pixel centres at +0.5.
    std::array<double, 4> sample(double sx, double sy) const {
        const double fx = sx - 0.5, fy = sy - 0.5;
        const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
        const double tx = fx - ix, ty = fy - iy;
        const auto a = at(ix, iy), b = at(ix + 1, iy), c = at(ix, iy + 1), e = at(ix + 1, iy + 1);
        std::array<double, 4> v{};
        for (int k = 0; k < 4; ++k) v[size_t(k)] = (a[k] * (1 - tx) + b[k] * tx) * (1 - ty) + (c[k] * (1 - tx) + e[k] * tx) * ty;
        return v;
    }
    static FloatPicture of(const QImage& img) {
        FloatPicture f(0, 0, img.width(), img.height());
        const QImage p = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x) {
                const QRgb c = pixelYUp(p, x, y).rgba();
                f.ref(x, y) = {qRed(c) / 255.0, qGreen(c) / 255.0, qBlue(c) / 255.0, qAlpha(c) / 255.0};
            }
        return f;
    }
    // The rectangle (0, 0, width, height) as 8-bit premultiplied pixels.
    QImage picture(int width, int height) const {
        QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const auto v = at(x, y);
                auto level = [&](double c) { return int(std::clamp(c, 0.0, std::clamp(v[3], 0.0, 1.0)) * 255 + 0.5); };
                out.setPixel(x, platform::toQtRow(y, height), qRgba(level(v[0]), level(v[1]), level(v[2]), level(v[3])));
            }
        return out;
    }
};

// Elephants, reduced: a real photo with fur, grass and sky.
QImage elephants(int width) {
    const QImage photo(testsupport::packagedPicture(testsupport::kDesktopPhotos + "abstract/Elephants.jpg"));
    return photo.scaledToWidth(width, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
}

// One zoom pass: each pixel the mean of n samples from itself toward the centre over the
// fraction k of the way, n = its streak's length in pixels plus one, at most 24.
FloatPicture zoomPassByDefinition(const FloatPicture& in, double cx, double cy, double k, int margin) {
    FloatPicture out(in.x0 - margin, in.y0 - margin, in.w + 2 * margin, in.h + 2 * margin);
    for (int y = out.y0; y < out.y0 + out.h; ++y)
        for (int x = out.x0; x < out.x0 + out.w; ++x) {
            const double px = x + 0.5, py = y + 0.5, vx = (cx - px) * k, vy = (cy - py) * k;
            const int n = std::clamp(int(std::sqrt(vx * vx + vy * vy)) + 1, 1, 24);
            std::array<double, 4> sum{};
            for (int i = 0; i < n; ++i) {
                const double t = n == 1 ? 0.0 : double(i) / (n - 1);
                const auto v = in.sample(px + vx * t, py + vy * t);
                for (int c = 0; c < 4; ++c) sum[size_t(c)] += v[c] / n;
            }
            out.ref(x, y) = sum;
        }
    return out;
}

double psnrOf(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int s : {16, 8, 0}) {
                const double d = double((a.pixel(x, y) >> s) & 255) - double((b.pixel(x, y) >> s) & 255);
                sum += d * d;
            }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

// Two passes of the half streak: the editor's default amount, its slider's top, a strong
// one; the centre in the middle, near a corner, and beyond the photo.
TEST(BlurDefinitions, ZoomBlurIsTwoPassesOfStreakMeans) {
    const QImage photo = elephants(320);
    ASSERT_FALSE(photo.isNull());
    const FloatPicture source = FloatPicture::of(photo);
    const int W = photo.width(), H = photo.height();
    const struct {
        double amount, cx, cy;
    } cases[] = {{7.85, 160, 90}, {20, 160, 90}, {60, 40, 150}, {20, 420, -60}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "amount " << c.amount << " centre " << c.cx << ", " << c.cy);
        CIFilterPtr f = filterOn(QStringLiteral("CIZoomBlur"), photo);
        f->setValue(c.amount, QStringLiteral("inputAmount"));
        f->setValue(QVariant::fromValue(platform::Vec(c.cx, c.cy)), QStringLiteral("inputCenter"));
        const QImage made = render(f->outputImage(), QRectF(0, 0, W, H));

        const double k = 1 - std::sqrt(1 - c.amount / 100);
        const FloatPicture first = zoomPassByDefinition(source, c.cx, c.cy, k, 2);
        const QImage expected = zoomPassByDefinition(first, c.cx, c.cy, k, 0).picture(W, H);
        EXPECT_LE(maxChannelDiff(made, expected), 1);
        EXPECT_GE(psnrOf(made, expected), 50.0);
    }
}

// The streak sums four pixels at a time where every tap is inside what a render read, and
// one at a time where some are not (streaks toward a centre beyond the photo leave it):
// pieces of a picture, whose edges fall elsewhere, match it to the bit.
TEST(BlurDefinitions, ZoomBlurPiecesMatchTheWholePicture) {
    const QImage photo = elephants(640);
    const int W = photo.width(), H = photo.height();
    for (const QPointF centre : {QPointF(W * 0.3, H * 0.6), QPointF(W * 1.2, -H * 0.3)}) {
        CIFilterPtr f = filterOn(QStringLiteral("CIZoomBlur"), photo);
        f->setValue(20.0, QStringLiteral("inputAmount"));
        f->setValue(QVariant::fromValue(platform::Vec(centre.x(), centre.y())), QStringLiteral("inputCenter"));
        const CIImage out = f->outputImage();
        const QImage whole = render(out, QRectF(0, 0, W, H));
        for (const QRect piece : {QRect(0, 0, W, 37), QRect(0, 150, W, 9), QRect(101, 200, 77, 60), QRect(W - 50, H - 20, 50, 20)}) {
            SCOPED_TRACE(testing::Message() << "centre " << centre.x() << ", " << centre.y() << "; piece " << piece.x() << ", "
                                            << piece.y() << " " << piece.width() << " x " << piece.height());
            const QImage made = render(out, QRectF(piece));
            const QRect inWhole(piece.x(), platform::toQtRow(piece.y() + piece.height() - 1, H), piece.width(), piece.height());
            EXPECT_EQ(maxChannelDiff(made, whole.copy(inWhole)), 0);
        }
    }
}

// A stored list may hold any number. A centre put absurdly far away (beyond the range of
// whole pixels, up to the largest double) streaks every sample but a pixel's own out of the
// picture, as a centre merely far away in the same direction does: the same picture, seen as
// it is (each pixel keeps 1/576 of itself) and made opaque as an opaque photo's result is.
// Values that are not numbers count as the filter's defaults, an endless amount as its
// strongest.
TEST(BlurDefinitions, ZoomBlurOfExtremeValuesIsTheZoomBlurOfSaneOnes) {
    const QImage photo = elephants(48);
    const int W = photo.width(), H = photo.height();
    const double big = std::numeric_limits<double>::max(), inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double amount, cx, cy;
        double sameAmount, sameCx, sameCy;
    } cases[] = {
        {20, 1e30, 20, 20, 1e7, 20},
        {20, 30, -1e30, 20, 30, -1e7},
        {20, -3e9, 3e9, 20, -1e7, 1e7},
        {60, 1e300, -1e300, 60, 1e7, -1e7},
        {95, big, big, 95, 1e7, 1e7},
        {0.5, -big, 10, 0.5, -1e7, 10},
        {20, nan, 10, 20, 150, 150},
        {20, inf, -inf, 20, 150, 150},
        {nan, 10, 20, 20, 10, 20},
        {inf, 10, 20, 20, 10, 20},
        {1e30, 10, 20, 95, 10, 20},
        {-1e30, 10, 20, 0, 10, 20},
    };
    auto views = [&](double amount, double cx, double cy) {
        CIFilterPtr f = filterOn(QStringLiteral("CIZoomBlur"), photo);
        f->setValue(amount, QStringLiteral("inputAmount"));
        f->setValue(QVariant::fromValue(platform::Vec(cx, cy)), QStringLiteral("inputCenter"));
        const CIImage out = f->outputImage();
        return std::pair{render(out, QRectF(-3, -3, W + 6, H + 6)),
                         render(out.imageByCroppingToRect(QRectF(0, 0, W, H)).imageByMakingOpaque(), QRectF(0, 0, W, H))};
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "amount " << c.amount << " centre " << c.cx << ", " << c.cy);
        const auto [seen, opaque] = views(c.amount, c.cx, c.cy);
        const auto [sameSeen, sameOpaque] = views(c.sameAmount, c.sameCx, c.sameCy);
        ASSERT_FALSE(sameSeen.isNull());
        EXPECT_EQ(maxChannelDiff(seen, sameSeen), 0);
        EXPECT_EQ(maxChannelDiff(opaque, sameOpaque), 0);
    }
    // The opaque view is the photo itself there: it would hide a picture left unblurred.
    const auto [farSeen, farOpaque] = views(20, 1e7, 20);
    EXPECT_LE(maxChannelDiff(farOpaque, photo), 1);
    EXPECT_EQ(maxChannelDiff(farSeen, solid(W + 6, H + 6, Qt::transparent)), 0);
}

// A motion blur is the mean of 2 ceil(r) + 1 samples (3 to 65) along its line through the
// pixel; the kernel spreads them onto whole-pixel taps and adds a row of taps at a time.
TEST(BlurDefinitions, MotionBlurIsTheMeanOfSamplesAlongItsLine) {
    const QImage photo = elephants(320);
    const FloatPicture source = FloatPicture::of(photo);
    const int W = photo.width(), H = photo.height();
    for (const auto& [radius, angle] : {std::pair{20.0, 0.7}, std::pair{6.3, -2.2}, std::pair{1.5, 0.2}}) {
        SCOPED_TRACE(testing::Message() << "radius " << radius << " angle " << angle);
        CIFilterPtr f = filterOn(QStringLiteral("CIMotionBlur"), photo);
        f->setValue(radius, QStringLiteral("inputRadius"));
        f->setValue(angle, QStringLiteral("inputAngle"));
        // A band beyond the photo's edge too, where part of the line reads nothing.
        const QRectF area(-10, -10, W + 20, H + 20);
        const QImage made = render(f->outputImage(), area);

        const int n = std::clamp(2 * int(std::ceil(radius)) + 1, 3, 65);
        FloatPicture expected(-10, -10, W + 20, H + 20);
        for (int y = -10; y < H + 10; ++y)
            for (int x = -10; x < W + 10; ++x) {
                std::array<double, 4> sum{};
                for (int i = 0; i < n; ++i) {
                    const double t = -radius + 2.0 * radius * i / (n - 1);
                    const auto v = source.sample(x + 0.5 + t * std::cos(angle), y + 0.5 + t * std::sin(angle));
                    for (int c = 0; c < 4; ++c) sum[size_t(c)] += v[c] / n;
                }
                expected.ref(x, y) = sum;
            }
        FloatPicture shifted(0, 0, W + 20, H + 20);
        for (int y = 0; y < H + 20; ++y)
            for (int x = 0; x < W + 20; ++x) shifted.ref(x, y) = expected.at(x - 10, y - 10);
        EXPECT_LE(maxChannelDiff(made, shifted.picture(W + 20, H + 20)), 1);
    }
}

// Below a radius of 3 a Gaussian blur is a sampled kernel reaching three radii, normalised,
// run along rows and then columns; the sharpening and smoothing filters blur by 1.
TEST(BlurDefinitions, SmallGaussianBlursAreTheSampledKernel) {
    const QImage photo = elephants(320);
    const FloatPicture source = FloatPicture::of(photo);
    const int W = photo.width(), H = photo.height();
    for (double sigma : {0.6, 1.0, 2.9}) {
        SCOPED_TRACE(sigma);
        CIFilterPtr f = filterOn(QStringLiteral("CIGaussianBlur"), photo);
        f->setValue(sigma, QStringLiteral("inputRadius"));
        const QImage made = render(f->outputImage(), QRectF(0, 0, W, H));

        const int r = std::max(1, int(std::ceil(3 * sigma)));
        std::vector<double> k(size_t(2 * r + 1));
        double total = 0;
        for (int i = -r; i <= r; ++i) total += k[size_t(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
        for (double& v : k) v /= total;
        auto pass = [&](const FloatPicture& in, int dx, int dy) {
            FloatPicture out(in.x0 - r * dx, in.y0 - r * dy, in.w + 2 * r * dx, in.h + 2 * r * dy);
            for (int y = out.y0; y < out.y0 + out.h; ++y)
                for (int x = out.x0; x < out.x0 + out.w; ++x) {
                    std::array<double, 4> sum{};
                    for (int i = -r; i <= r; ++i) {
                        const auto v = in.at(x + i * dx, y + i * dy);
                        for (int c = 0; c < 4; ++c) sum[size_t(c)] += k[size_t(i + r)] * v[c];
                    }
                    out.ref(x, y) = sum;
                }
            return out;
        };
        EXPECT_LE(maxChannelDiff(made, pass(pass(source, 1, 0), 0, 1).picture(W, H)), 1);
    }
}
