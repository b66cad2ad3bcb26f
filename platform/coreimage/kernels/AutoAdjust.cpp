// Automatic corrections: a look at a reduced copy of the picture proposes a tone curve,
// vibrance and shadow lift from its histogram, and finds red eyes: small, round, strongly
// red spots with little red around them. Large red areas (a flower, a shirt) are left alone.
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/kernels/KernelSupport.h"
#include "platform/graphics/YUp.h"

#include <QVariantList>
#include <array>

namespace platform::ci {

namespace {

// Long side of the copy that the analysis looks at.
constexpr int kAnalysisSide = 1024;
// Floats of the picture a band of the copy reads at most.
constexpr double kAnalysisBandBytes = 32.0 * 1024 * 1024;

struct Analysis {
    QImage image;          // straight-alpha ARGB32, top-down rows
    double scale = 1.0;    // analysis pixels per picture pixel
    QPointF origin;        // picture extent's origin
};

// The picture reduced by a whole factor f: each output pixel is the mean of an f x f block
// (one pass over the picture, every pixel counted once).
NodePtr reducedNode(const NodePtr& in, int f, const QRectF& extent) {
    const QRectF e(0, 0, std::ceil(extent.width() / f), std::ceil(extent.height() / f));
    const NodePtr moved = makeTransformNode(makeCropNode(in, extent), QTransform::fromTranslate(-std::floor(extent.x()), -std::floor(extent.y())));
    return makeRegionNode(moved, e, [f](const PixelRect& q) { return PixelRect{q.x * f, q.y * f, q.w * f, q.h * f}; }, 0,
        [f](const Buffer& src, Buffer& out) {
            const PixelRect r = out.rect;
            const float inv = 1.0f / float(f * f);
            parallelFor(r.y, r.top(), [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) {
                    float* d = out.row(y);
                    for (int x = r.x; x < r.right(); ++x, d += 4) {
                        float acc[4] = {0, 0, 0, 0};
                        for (int j = 0; j < f; ++j) {
                            const float* p = src.at(x * f, y * f + j);
                            for (int i = 0; i < f * 4; ++i) acc[i % 4] += p[i];
                        }
                        for (int c = 0; c < 4; ++c) d[c] = acc[c] * inv;
                    }
                }
            }, double(r.w) * f * f);
        }, /*writesAll=*/true);
}

Analysis analysisCopy(const CIImage& img) {
    Analysis a;
    const QRectF e = img.extent();
    if (e.isEmpty() || img.isInfinite()) return a;
    const int f = std::max(1, int(std::ceil(std::max(e.width(), e.height()) / kAnalysisSide)));
    a.scale = 1.0 / f;
    a.origin = QPointF(std::floor(e.x()), std::floor(e.y()));
    const NodePtr n = reducedNode(img.node(), f, e);
    const QRectF re = n->extent();
    // Made a band of rows at a time: a band reads its f x f blocks of the picture in floats,
    // and the whole picture read at once would be four times the photo's own memory.
    QImage reduced(int(re.width()), int(re.height()), QImage::Format_ARGB32_Premultiplied);
    if (reduced.isNull()) return a;
    reduced.fill(Qt::transparent);
    const double rowBytes = 16.0 * re.width() * f * f;
    const int band = std::max(1, int(kAnalysisBandBytes / rowBytes));
    const CIContext context;
    for (int y = 0; y < reduced.height(); y += band) {
        const QRectF rows(re.x(), re.y() + y, re.width(), std::min(band, reduced.height() - y));
        context.drawImage(CIImage(n), rows, rows, reduced);
    }
    a.image = reduced.convertToFormat(QImage::Format_ARGB32);
    return a;
}

struct Stats {
    std::array<double, 256> hist{};
    double total = 0, meanSat = 0, dark = 0, bright = 0;
};

Stats statistics(const QImage& img) {
    Stats s;
    for (int y = 0; y < img.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const double a = qAlpha(p[x]) / 255.0;
            if (a <= 0) continue;
            const int r = qRed(p[x]), g = qGreen(p[x]), b = qBlue(p[x]);
            const int l = std::clamp(int(0.299 * r + 0.587 * g + 0.114 * b + 0.5), 0, 255);
            s.hist[size_t(l)] += a;
            s.total += a;
            s.meanSat += a * (std::max({r, g, b}) - std::min({r, g, b})) / 255.0;
            if (l < 51) s.dark += a;
            if (l > 216) s.bright += a;
        }
    }
    if (s.total > 0) s.meanSat /= s.total, s.dark /= s.total, s.bright /= s.total;
    return s;
}

double percentile(const Stats& s, double q) {
    double acc = 0;
    for (int i = 0; i < 256; ++i) {
        acc += s.hist[size_t(i)];
        if (acc >= q * s.total) return i / 255.0;
    }
    return 1.0;
}

QList<CIFilterPtr> enhanceFilters(const Stats& s) {
    QList<CIFilterPtr> out;
    if (s.total <= 0) return out;
    const double lo = percentile(s, 0.005), hi = percentile(s, 0.995);
    double mean = 0;
    for (int i = 0; i < 256; ++i) mean += s.hist[size_t(i)] * i / 255.0;
    mean /= s.total;

    if (s.meanSat < 0.35) {
        CIFilterPtr v = CIFilter::filterWithName(QStringLiteral("CIVibrance"));
        v->setDefaults();
        v->setValue(std::clamp((0.35 - s.meanSat) * 1.5, 0.0, 0.5), QStringLiteral("inputAmount"));
        out << v;
    }

    // Stretch the used range to the full range, and move the middle part way toward grey.
    const double range = std::max(hi - lo, 0.05);
    const double stretchedMean = std::clamp((mean - lo) / range, 0.05, 0.95);
    const double gamma = std::clamp(1.0 + 0.5 * (std::log(0.5) / std::log(stretchedMean) - 1.0), 0.7, 1.4);
    if (lo > 0.01 || hi < 0.99 || std::abs(gamma - 1.0) > 0.05) {
        CIFilterPtr t = CIFilter::filterWithName(QStringLiteral("CIToneCurve"));
        t->setDefaults();
        for (int i = 0; i < 5; ++i) {
            const double y = i / 4.0;
            t->setValue(QVariant::fromValue(platform::Vec(lo + range * y, std::pow(y, gamma))), QStringLiteral("inputPoint%1").arg(i));
        }
        out << t;
    }

    if (s.dark > 0.25 || s.bright > 0.2) {
        CIFilterPtr h = CIFilter::filterWithName(QStringLiteral("CIHighlightShadowAdjust"));
        h->setDefaults();
        if (s.dark > 0.25) h->setValue(std::clamp(s.dark * 1.2, 0.0, 0.6), QStringLiteral("inputShadowAmount"));
        if (s.bright > 0.2) h->setValue(0.75, QStringLiteral("inputHighlightAmount"));
        out << h;
    }
    return out;
}

// Strongly red: red clearly above both other channels.
inline bool isRed(QRgb p) {
    if (qAlpha(p) < 128) return false;
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    return r > 90 && r - std::max(g, b) > 50 && r * 10 > (g + b) * 7 * 2;
}

// Spots as (x, y, radius) in the picture's plane.
QVariantList findRedEyes(const Analysis& a) {
    QVariantList spots;
    const QImage& img = a.image;
    const int w = img.width(), h = img.height();
    if (w < 8 || h < 8) return spots;
    std::vector<uint8_t> red(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) red[size_t(y) * w + x] = isRed(p[x]) ? 1 : 0;
    }
    std::vector<int> label(size_t(w) * h, 0);
    std::vector<int> stack;
    const int longSide = std::max(w, h);
    const int maxSide = std::max(6, int(0.04 * longSide));
    int next = 0;
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            const size_t i0 = size_t(y0) * w + x0;
            if (!red[i0] || label[i0]) continue;
            ++next;
            int minX = x0, maxX = x0, minY = y0, maxY = y0;
            long long area = 0;
            bool tooBig = false;
            stack.assign(1, int(i0));
            label[i0] = next;
            while (!stack.empty()) {
                const int i = stack.back();
                stack.pop_back();
                const int x = i % w, y = i / w;
                ++area;
                minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
                if (maxX - minX > maxSide || maxY - minY > maxSide) tooBig = true;
                const int nb[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
                for (const auto& q : nb) {
                    if (q[0] < 0 || q[1] < 0 || q[0] >= w || q[1] >= h) continue;
                    const size_t j = size_t(q[1]) * w + q[0];
                    if (red[j] && !label[j]) {
                        label[j] = next;
                        stack.push_back(int(j));
                    }
                }
            }
            const int bw = maxX - minX + 1, bh = maxY - minY + 1;
            if (tooBig || area < 3) continue;
            const double aspect = double(bw) / bh;
            if (aspect < 0.5 || aspect > 2.0) continue;
            if (double(area) / (double(bw) * bh) < 0.5) continue;
            // Around an eye the red stops: count red pixels in a ring one radius wide.
            const int rad = std::max(bw, bh) / 2 + 1;
            const int rx0 = std::max(0, minX - rad), rx1 = std::min(w - 1, maxX + rad);
            const int ry0 = std::max(0, minY - rad), ry1 = std::min(h - 1, maxY + rad);
            long long ring = 0, ringRed = 0;
            for (int y = ry0; y <= ry1; ++y)
                for (int x = rx0; x <= rx1; ++x) {
                    if (x >= minX && x <= maxX && y >= minY && y <= maxY) continue;
                    ++ring;
                    ringRed += red[size_t(y) * w + x];
                }
            if (ring == 0 || double(ringRed) / double(ring) > 0.2) continue;
            // Back to the picture's y-up plane (analysis rows run top-down).
            const double cx = (minX + maxX + 1) / 2.0, cyDown = (minY + maxY + 1) / 2.0;
            const QPointF c = platform::fromQtPoint(QPointF(cx, cyDown), h);
            const double r = 0.5 * std::max(bw, bh) * 1.4 + 1.0;
            spots << QVariant::fromValue(platform::Vec(a.origin.x() + c.x() / a.scale, a.origin.y() + c.y() / a.scale, r / a.scale, 0));
        }
    }
    return spots;
}

}  // namespace

void registerAutoAdjustFilters() {
    // Takes red out of the given spots (x, y, radius as vectors); pixels are changed in
    // proportion to how red they are, fading out at each spot's rim.
    registerFilter({"CIRedEyeCorrection", "Red Eye Correction", {kCICategoryColorAdjustment},
        {imageInput(), [] {
             CIInputSpec s;
             s.key = QStringLiteral("inputCorrectionInfo");
             s.attributeClass = QString::fromLatin1(kCIClassArray);
             s.defaultValue = QVariantList();
             return s;
         }()},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            std::vector<std::array<float, 3>> spots;
            for (const QVariant& v : a.raw("inputCorrectionInfo").toList()) {
                if (v.metaType() != QMetaType::fromType<platform::Vec>()) continue;
                const platform::Vec s = v.value<platform::Vec>();
                if (s.count >= 3 && s.Z() > 0) spots.push_back({float(s.X()), float(s.Y()), float(s.Z())});
            }
            if (spots.empty()) return CIImage(in);
            return CIImage(makePositionedColorNode(in, [spots](float* p, int n, int x0, int y) {
                const float py = float(y) + 0.5f;
                for (const auto& s : spots) {
                    if (std::abs(py - s[1]) > s[2]) continue;
                    const int xa = std::max(x0, int(std::floor(s[0] - s[2]))), xb = std::min(x0 + n, int(std::ceil(s[0] + s[2])));
                    for (int x = xa; x < xb; ++x) {
                        float* q = p + 4 * (x - x0);
                        const float dx = float(x) + 0.5f - s[0], dy = py - s[1];
                        const float d = std::sqrt(dx * dx + dy * dy);
                        const float place = 1.0f - smoothstep(0.75f * s[2], s[2], d);
                        const float redness = smoothstep(0.05f, 0.25f, q[0] - std::max(q[1], q[2]));
                        const float w = place * redness;
                        if (w <= 0) continue;
                        const float target = 0.5f * (q[1] + q[2]);
                        q[0] += w * (target - q[0]);
                    }
                }
            }));
        }});
}

}  // namespace platform::ci

QList<CIFilterPtr> CIImage::autoAdjustmentFiltersWithOptions(const QVariantMap& options) const {
    using namespace platform::ci;
    QList<CIFilterPtr> out;
    const Analysis a = analysisCopy(*this);
    if (a.image.isNull()) return out;
    const bool enhance = options.value(QString::fromLatin1(kCIImageAutoAdjustEnhance), true).toBool();
    const bool redEye = options.value(QString::fromLatin1(kCIImageAutoAdjustRedEye), true).toBool();
    if (enhance) out << enhanceFilters(statistics(a.image));
    if (redEye) {
        const QVariantList spots = findRedEyes(a);
        if (!spots.isEmpty()) {
            CIFilterPtr f = CIFilter::filterWithName(QStringLiteral("CIRedEyeCorrection"));
            f->setDefaults();
            f->setValue(spots, QStringLiteral("inputCorrectionInfo"));
            out << f;
        }
    }
    return out;
}
