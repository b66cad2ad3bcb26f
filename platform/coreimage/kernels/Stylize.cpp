// Stylize filters: glow, cell and dot mosaics, edges. Their results keep the input's
// extent, but for the square mosaic, which covers every cell the picture touches.
// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/kernels/KernelSupport.h"

#include <cstring>

namespace platform::ci {

namespace {

// The grid centre of a cell filter, moved by whole cells next to the origin: the grid
// looks the same, and cell numbers stay small whatever centre is given.
QPointF gridOrigin(const CIFilterArgs& a, double spacing) {
    const platform::Vec c = a.vector(kCIInputCenterKey);
    const double x = finiteOr(c.X(), 150), y = finiteOr(c.Y(), 150);
    auto phase = [spacing](double v) {
        const double m = std::fmod(v, spacing);  // exact, unlike v - floor(v / s) * s
        return m < 0 ? m + spacing : m;
    };
    return {phase(x), phase(y)};
}

// A well-mixed 32-bit hash of a cell, for the jitter of cell points (same on every run).
inline quint32 cellHash(int x, int y, quint32 salt) {
    quint32 h = quint32(x) * 0x8da6b343u ^ quint32(y) * 0xd8163841u ^ salt * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}
inline double unit(quint32 h) { return double(h & 0xffffff) / double(0x1000000); }

// A jittered grid of cell points: cell (i, j) of side `spacing` from the origin (ox, oy)
// has its point at a fixed pseudo-random place, up to jitter / 2 of the side away from
// the cell's middle. Each output pixel takes the colour of the input at its nearest point
// (within maxDist, else the background colour). With jitter up to 0.65 the nearest point
// is always among the 3 x 3 cells around the pixel's: a point two cells away is farther
// than the pixel's own point can be.
class CellNode final : public Node {
public:
    CellNode(NodePtr in, double spacing, double ox, double oy, double jitter, double maxDist, const float bg[4])
        : in_(std::move(in)), s_(spacing), ox_(ox), oy_(oy), jitter_(jitter), maxDist_(maxDist), bg_{bg[0], bg[1], bg[2], bg[3]} {
        const QRectF e = in_->extent();
        if (!isInfinite(e)) own_ = PixelRect::covering(e);
    }
    QRectF extent() const override { return in_->extent(); }
    int reach() const override { return reachOf(in_) + margin(); }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        // Only the input's own pixels are read; a point beyond its edge takes the nearest
        // edge pixel, so cells at the border never turn transparent.
        PixelRect roi = r.grown(margin());
        if (!own_.empty()) roi = roi.intersected(own_);
        if (roi.empty()) return Buffer(r);
        const Buffer src = renderOf(in_, roi);
        const int i0 = cellOf(r.x + 0.5, ox_) - 1, i1 = cellOf(r.right() - 0.5, ox_) + 1;
        const int j0 = cellOf(r.y + 0.5, oy_) - 1, j1 = cellOf(r.top() - 0.5, oy_) + 1;
        const int nI = i1 - i0 + 1, nJ = j1 - j0 + 1;
        struct Point {
            double x, y;
            float rgba[4];
        };
        std::vector<Point> pts(size_t(nI) * size_t(nJ));
        parallelFor(0, nJ, [&](int b0, int b1) {
            for (int j = b0; j < b1; ++j)
                for (int i = 0; i < nI; ++i) {
                    Point& p = pts[size_t(j) * size_t(nI) + size_t(i)];
                    const int ci = i0 + i, cj = j0 + j;
                    p.x = ox_ + (ci + 0.5 + jitter_ * (unit(cellHash(ci, cj, 1)) - 0.5)) * s_;
                    p.y = oy_ + (cj + 0.5 + jitter_ * (unit(cellHash(ci, cj, 2)) - 0.5)) * s_;
                    // The colour at the point's pixel, so a whole cell is one flat colour.
                    const int sx = std::clamp(int(std::floor(p.x)), src.rect.x, src.rect.right() - 1);
                    const int sy = std::clamp(int(std::floor(p.y)), src.rect.y, src.rect.top() - 1);
                    std::copy(src.at(sx, sy), src.at(sx, sy) + 4, p.rgba);
                }
        }, nI * 8.0);
        Buffer out(r, Buffer::kUninitialized);
        const bool dots = maxDist_ < 1e299;
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            // Along a row, the pixels of one cell share its 3 x 3 neighbours' points, and each
            // point's vertical distance: those are found once for the run of pixels.
            struct Near {
                const Point* p;
                double dy2;
            };
            std::array<Near, 9> near;
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                const double py = y + 0.5;
                const int cj = cellOf(py, oy_) - j0;
                for (int x = r.x; x < r.right();) {
                    const int ci = cellOf(x + 0.5, ox_) - i0;
                    int end = x + 1;
                    while (end < r.right() && cellOf(end + 0.5, ox_) - i0 == ci) ++end;
                    size_t k = 0;
                    for (int j = cj - 1; j <= cj + 1; ++j) {
                        const Point* row = &pts[size_t(j) * size_t(nI)];
                        for (int i = ci - 1; i <= ci + 1; ++i) {
                            const double dy = row[i].y - py;
                            near[k++] = {&row[i], dy * dy};
                        }
                    }
                    for (; x < end; ++x, d += 4) {
                        const double px = x + 0.5;
                        const Point* best = nullptr;
                        double bestD = 1e300;
                        // Dots: the share of the pixel left uncovered by every dot near it, each
                        // dot's rim covering a pixel in proportion across one pixel's width, so
                        // small dots look like large ones seen from afar rather than ragged.
                        double uncovered = 1.0;
                        const double reach2 = (maxDist_ + 0.5) * (maxDist_ + 0.5);
                        for (const Near& n : near) {
                            const double dx = n.p->x - px, dd = dx * dx + n.dy2;
                            if (dd < bestD) bestD = dd, best = n.p;
                            if (dots && dd < reach2) uncovered *= 1.0 - std::clamp(maxDist_ + 0.5 - std::sqrt(dd), 0.0, 1.0);
                        }
                        if (!dots) {
                            std::copy(best->rgba, best->rgba + 4, d);
                            continue;
                        }
                        const float cover = float(1.0 - uncovered);
                        for (int c = 0; c < 4; ++c) d[c] = bg_[c] + cover * (best->rgba[c] - bg_[c]);
                    }
                }
            }
        }, r.w * 30.0);
        return out;
    }

private:
    int cellOf(double v, double o) const { return int(std::floor((v - o) / s_)); }
    int margin() const { return int(std::ceil(2 * s_)) + 2; }

    NodePtr in_;
    double s_, ox_, oy_, jitter_, maxDist_;
    std::array<float, 4> bg_;
    PixelRect own_;
};

// Grid spacing for a radius: a square cell of this side has the area of a disc of that
// radius, so crystals and dots are about as large as the radius says.
constexpr double kCellsPerRadius = 1.7725;  // sqrt(pi)

NodePtr cellNode(const NodePtr& in, double spacing, double ox, double oy, double jitter, double maxDist, const float bg[4]) {
    return std::make_shared<CellNode>(in, spacing, ox, oy, jitter, maxDist, bg);
}

// Square cells of side `scale` with a cell centred on (cx, cy); each cell is the average
// of the input pixels it covers. The result covers every cell the picture touches, whole.
NodePtr pixellateNode(const NodePtr& in, double scale, double cx, double cy) {
    const QRectF inExtent = in->extent();
    const PixelRect ext = PixelRect::covering(inExtent);
    const double ox = cx - scale / 2, oy = cy - scale / 2;
    auto cellOf = [=](double v, double o) { return int(std::floor((v - o) / scale)); };
    const double ex0 = ox + std::floor((inExtent.left() - ox) / scale) * scale;
    const double ey0 = oy + std::floor((inExtent.top() - oy) / scale) * scale;
    const double ex1 = ox + std::ceil((inExtent.right() - ox) / scale) * scale;
    const double ey1 = oy + std::ceil((inExtent.bottom() - oy) / scale) * scale;
    const QRectF extent(ex0, ey0, ex1 - ex0, ey1 - ey0);
    auto roi = [=](const PixelRect& q) {
        // Whole cells, so each cell's average is the same whichever strip asks for it.
        const int i0 = cellOf(q.x + 0.5, ox), i1 = cellOf(q.right() - 0.5, ox);
        const int j0 = cellOf(q.y + 0.5, oy), j1 = cellOf(q.top() - 0.5, oy);
        const QRectF cells(ox + i0 * scale, oy + j0 * scale, (i1 - i0 + 1) * scale, (j1 - j0 + 1) * scale);
        return PixelRect::covering(cells).grown(1).intersected(ext);
    };
    return makeRegionNode(in, extent, roi, int(std::ceil(scale)) + 1, [=](const Buffer& src, Buffer& out) {
        const PixelRect r = out.rect;
        if (src.empty()) return;
        const int i0 = cellOf(r.x + 0.5, ox), i1 = cellOf(r.right() - 0.5, ox);
        const int j0 = cellOf(r.y + 0.5, oy), j1 = cellOf(r.top() - 0.5, oy);
        const int nI = i1 - i0 + 1;
        // Pixel columns/rows of each cell, by pixel centre.
        std::vector<int> colCell(size_t(src.rect.w)), rowCell(size_t(src.rect.h));
        for (int x = 0; x < src.rect.w; ++x) colCell[size_t(x)] = cellOf(src.rect.x + x + 0.5, ox) - i0;
        for (int y = 0; y < src.rect.h; ++y) rowCell[size_t(y)] = cellOf(src.rect.y + y + 0.5, oy) - j0;
        parallelFor(0, j1 - j0 + 1, [&](int c0, int c1) {
            std::vector<double> sum(size_t(nI) * 5);
            for (int cj = c0; cj < c1; ++cj) {
                std::fill(sum.begin(), sum.end(), 0.0);
                for (int y = 0; y < src.rect.h; ++y) {
                    if (rowCell[size_t(y)] != cj) continue;
                    const float* s = src.row(src.rect.y + y);
                    for (int x = 0; x < src.rect.w; ++x, s += 4) {
                        const int ci = colCell[size_t(x)];
                        if (ci < 0 || ci >= nI) continue;
                        double* a = &sum[size_t(ci) * 5];
                        a[0] += s[0], a[1] += s[1], a[2] += s[2], a[3] += s[3], a[4] += 1;
                    }
                }
                for (int y = r.y; y < r.top(); ++y) {
                    if (cellOf(y + 0.5, oy) - j0 != cj) continue;
                    float* d = out.row(y);
                    for (int x = r.x; x < r.right(); ++x, d += 4) {
                        const int ci = cellOf(x + 0.5, ox) - i0;
                        const double* a = &sum[size_t(ci) * 5];
                        if (a[4] > 0)
                            for (int c = 0; c < 4; ++c) d[c] = float(a[c] / a[4]);
                    }
                }
            }
        }, double(src.rect.w) * src.rect.h / std::max(1, j1 - j0 + 1) * 2.0);
    });
}

NodePtr edgesNode(const NodePtr& in, float k) {
    const NodePtr clamped = makeClampNode(in);
    return makeRegionNode(clamped, in->extent(), [](const PixelRect& q) { return q.grown(1); }, 1, [k](const Buffer& src, Buffer& out) {
        const PixelRect r = out.rect;
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    const float* n = src.at(x - 1, y + 1);
                    const float* m = src.at(x - 1, y);
                    const float* s = src.at(x - 1, y - 1);
                    for (int c = 0; c < 3; ++c) {
                        const float gx = (n[8 + c] + 2 * m[8 + c] + s[8 + c]) - (n[c] + 2 * m[c] + s[c]);
                        const float gy = (n[c] + 2 * n[4 + c] + n[8 + c]) - (s[c] + 2 * s[4 + c] + s[8 + c]);
                        d[c] = k * std::sqrt(gx * gx + gy * gy) * 0.25f;
                    }
                    d[3] = 1.0f;
                }
            }
        }, r.w * 30.0);
    });
}

// Crystallize and pointillize: cells of a disc's area around jittered grid points; dots
// (pointillize) cover only the given radius around their point, over the background.
CIImage cellFilter(const CIFilterArgs& a, double jitter, bool dots, const float background[4]) {
    const NodePtr in = inputNode(a);
    if (!in) return {};
    const double r = std::clamp(finiteOr(a.number(kCIInputRadiusKey), 1), 1.0, 2000.0);
    const QPointF c = gridOrigin(a, kCellsPerRadius * r);
    return CIImage(cellNode(in, kCellsPerRadius * r, c.x(), c.y(), jitter, dots ? r : 1e300, background));
}

}  // namespace

void registerStylizeFilters() {
    // A soft glow: wherever the blurred picture is brighter than the picture, the picture
    // is lifted toward it (all the way at intensity 1). Light spills into its dark
    // surroundings and fine texture softens, while a flat area stays exactly as it was.
    registerFilter({"CIBloom", "Bloom", {kCICategoryStylize, kCICategoryVideo, kCICategoryHighDynamicRange},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 10.0, 0.0, 100.0, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 0.5, 0.0, 1.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            // Above 1 the lift would overshoot the blur and colours could outgrow alpha.
            const float k = float(std::clamp(finiteOr(a.number(kCIInputIntensityKey), 0), 0.0, 1.0));
            const double r = std::clamp(finiteOr(a.number(kCIInputRadiusKey), 0), 0.0, 2000.0);
            if (k == 0.0f || r == 0.0) return CIImage(in);
            return CIImage(makeCombineNode(in, gaussianBlurNode(in, r), in->extent(), [k](const float* p, const float* b, float* out, int n) {
                // A pixel's four channels as one vector: the same operations, a quarter of them.
                using V4f = float __attribute__((vector_size(16)));
                const V4f zero = {0, 0, 0, 0};
                for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                    V4f pv, bv;
                    std::memcpy(&pv, p, sizeof pv);
                    std::memcpy(&bv, b, sizeof bv);
                    const V4f lift = bv - pv;
                    const V4f v = pv + k * (lift > zero ? lift : zero);
                    std::memcpy(out, &v, sizeof v);
                }
            }));
        }});

    registerFilter({"CICrystallize", "Crystallize", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 20.0, 1.0, 100.0, 1.0),
         vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150))},
        [](const CIFilterArgs& a) -> CIImage {
            const float none[4] = {0, 0, 0, 0};
            return cellFilter(a, 0.65, false, none);
        }});

    // Coloured dots of the given radius on white.
    registerFilter({"CIPointillize", "Pointillize", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 20.0, 1.0, 100.0, 1.0),
         vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150))},
        [](const CIFilterArgs& a) -> CIImage {
            const float white[4] = {1, 1, 1, 1};
            return cellFilter(a, 0.6, true, white);
        }});

    registerFilter({"CIPixellate", "Pixellate", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)),
         numberInput(kCIInputScaleKey, kCIAttributeTypeDistance, 8.0, 1.0, 100.0, 1.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const double s = std::clamp(finiteOr(a.number(kCIInputScaleKey), 1), 1.0, 5000.0);
            const QPointF c = gridOrigin(a, s);
            if (isInfinite(in->extent())) return CIImage(in);
            return CIImage(pixellateNode(in, s, c.x(), c.y()));
        }});

    registerFilter({"CIEdges", "Edges", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1.0, 0.0, 10.0, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in || isInfinite(in->extent())) return in ? CIImage(in) : CIImage();
            return CIImage(edgesNode(in, float(std::clamp(finiteOr(a.number(kCIInputIntensityKey), 0), -1e6, 1e6))));
        }});
}

}  // namespace platform::ci
