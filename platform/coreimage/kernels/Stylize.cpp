// Stylize filters: glow, cell and dot mosaics, edges. Their results keep the input's extent.
// Pixel loops are written to vectorise; the build's -O2 leaves many of them scalar.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

namespace {

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

// Point of cell (i, j) of a grid with the given spacing and origin, jittered by j in [0, 1).
inline void cellPoint(int i, int j, double spacing, double ox, double oy, double jitter, double& px, double& py) {
    px = ox + (i + 0.5 + jitter * (unit(cellHash(i, j, 1)) - 0.5)) * spacing;
    py = oy + (j + 0.5 + jitter * (unit(cellHash(i, j, 2)) - 0.5)) * spacing;
}

// Each pixel takes the colour of the input at the nearest cell point (within maxDist, else
// the background colour).
NodePtr cellNode(const NodePtr& in, double spacing, double ox, double oy, double jitter, double maxDist, const float bg[4]) {
    const QRectF extent = in->extent();
    const std::array<float, 4> back{bg[0], bg[1], bg[2], bg[3]};
    const int reach = int(std::ceil(spacing * 2)) + 2;
    // Only the input's own pixels are read; a point beyond its edge takes the nearest edge
    // pixel (the clamp below), so cells at the border never turn transparent.
    const PixelRect own = isInfinite(extent) ? PixelRect{} : PixelRect::covering(extent);
    auto roi = [reach, own](const PixelRect& q) { return own.empty() ? q.grown(reach) : q.grown(reach).intersected(own); };
    return makeRegionNode(in, extent, roi, reach,
        [=](const Buffer& src, Buffer& out) {
            const PixelRect r = out.rect;
            parallelFor(r.y, r.top(), [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) {
                    float* d = out.row(y);
                    const double py = y + 0.5;
                    const int cj = int(std::floor((py - oy) / spacing));
                    for (int x = r.x; x < r.right(); ++x, d += 4) {
                        const double px = x + 0.5;
                        const int ci = int(std::floor((px - ox) / spacing));
                        double best = 1e300, bx = px, by = py;
                        for (int j = cj - 1; j <= cj + 1; ++j)
                            for (int i = ci - 1; i <= ci + 1; ++i) {
                                double fx, fy;
                                cellPoint(i, j, spacing, ox, oy, jitter, fx, fy);
                                const double dd = (fx - px) * (fx - px) + (fy - py) * (fy - py);
                                if (dd < best) best = dd, bx = fx, by = fy;
                            }
                        if (best > maxDist * maxDist) {
                            std::copy(back.begin(), back.end(), d);
                            continue;
                        }
                        // The colour at the point's pixel, so a whole cell is one flat colour.
                        const int sx = std::clamp(int(std::floor(bx)), src.rect.x, src.rect.right() - 1);
                        const int sy = std::clamp(int(std::floor(by)), src.rect.y, src.rect.top() - 1);
                        const float* s = src.at(sx, sy);
                        std::copy(s, s + 4, d);
                    }
                }
            }, r.w * 40.0);
        });
}

// Square cells of side `scale` with a cell centred on (cx, cy); each cell is the average
// of the input pixels it covers.
NodePtr pixellateNode(const NodePtr& in, double scale, double cx, double cy) {
    const QRectF extent = in->extent();
    const PixelRect ext = PixelRect::covering(extent);
    const double ox = cx - scale / 2, oy = cy - scale / 2;
    auto cellOf = [=](double v, double o) { return int(std::floor((v - o) / scale)); };
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

}  // namespace

void registerStylizeFilters() {
    // A soft glow: the blurred picture screened over itself.
    registerFilter({"CIBloom", "Bloom", {kCICategoryStylize, kCICategoryVideo, kCICategoryHighDynamicRange},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 10.0, 0.0, 100.0, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 0.5, 0.0, 1.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float k = float(a.number(kCIInputIntensityKey));
            const double r = a.number(kCIInputRadiusKey);
            if (k == 0.0f) return CIImage(in);
            return CIImage(makeCombineNode(in, gaussianBlurNode(in, r), in->extent(), [k](const float* p, const float* b, float* out, int n) {
                for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                    const float a0 = p[3];
                    for (int c = 0; c < 3; ++c) out[c] = p[c] + k * b[c] * (1.0f - p[c]);
                    out[3] = a0 + k * b[3] * (1.0f - a0);
                }
            }));
        }});

    registerFilter({"CICrystallize", "Crystallize", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 20.0, 1.0, 100.0, 1.0),
         vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150))},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const double r = std::clamp(a.number(kCIInputRadiusKey), 1.0, 2000.0);
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const float none[4] = {0, 0, 0, 0};
            return CIImage(cellNode(in, r, c.X(), c.Y(), 0.9, 1e300, none));
        }});

    // Coloured dots of the given radius on white.
    registerFilter({"CIPointillize", "Pointillize", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 20.0, 1.0, 100.0, 1.0),
         vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150))},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const double r = std::clamp(a.number(kCIInputRadiusKey), 1.0, 2000.0);
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const float white[4] = {1, 1, 1, 1};
            return CIImage(cellNode(in, 1.8 * r, c.X(), c.Y(), 0.6, r, white));
        }});

    registerFilter({"CIPixellate", "Pixellate", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)),
         numberInput(kCIInputScaleKey, kCIAttributeTypeDistance, 8.0, 1.0, 100.0, 1.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const double s = std::clamp(a.number(kCIInputScaleKey), 1.0, 5000.0);
            const platform::Vec c = a.vector(kCIInputCenterKey);
            if (isInfinite(in->extent())) return CIImage(in);
            return CIImage(pixellateNode(in, s, c.X(), c.Y()));
        }});

    registerFilter({"CIEdges", "Edges", {kCICategoryStylize, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1.0, 0.0, 10.0, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in || isInfinite(in->extent())) return in ? CIImage(in) : CIImage();
            return CIImage(edgesNode(in, float(a.number(kCIInputIntensityKey))));
        }});
}

}  // namespace platform::ci
