// Scaling filters: the Lanczos scale transform, on the program's own resampler.
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/Resample.h"
#include "platform/coreimage/kernels/KernelSupport.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace platform::ci {

namespace {

constexpr double kMaxPlannedSide = 65536;

// The input scaled by (sx, sy) about the plane's origin, each pixel of the result computed
// with the Lanczos kernel from the input's pixels. The result's pixel grid covers the
// input's pixel grid exactly (its size rounded to whole pixels).
NodePtr lanczosScaleNode(const NodePtr& in, double sx, double sy) {
    const QRectF e = in->extent();
    if (isInfinite(e)) return makeTransformNode(in, QTransform::fromScale(sx, sy));
    const PixelRect src = PixelRect::covering(e);
    if (src.empty()) return nullptr;
    const double ow = std::round(src.w * sx), oh = std::round(src.h * sy);
    const double ox = std::round(src.x * sx), oy = std::round(src.y * sy);
    // Held well inside the range of pixel arithmetic.
    if (!(ow >= 1 && oh >= 1) || std::abs(ox) > kInfiniteHalf / 2 || std::abs(oy) > kInfiniteHalf / 2) return nullptr;
    // The kernel's plan holds weights for every output row and column: beyond any picture
    // the program renders, the plain transform stands in.
    if (ow > kMaxPlannedSide || oh > kMaxPlannedSide) return makeTransformNode(in, QTransform::fromScale(sx, sy));
    const PixelRect dst{int(ox), int(oy), int(ow), int(oh)};
    auto plan = std::make_shared<const platform::Resampler>(src.w, src.h, dst.w, dst.h);
    WarpRoi roi = [=](const PixelRect& r) {
        const auto [c0, c1] = plan->inputColumns(r.x - dst.x, r.right() - dst.x);
        const auto [r0, r1] = plan->inputRows(r.y - dst.y, r.top() - dst.y);
        return PixelRect{src.x + c0, src.y + r0, c1 - c0, r1 - r0};
    };
    RegionFn fn = [=](Buffer& input, Buffer& out) {
        const PixelRect r = out.rect;
        const platform::Resampler::Fetch fetch = [&](int y, int x0, int x1, float* d) {
            std::memcpy(d, input.at(src.x + x0, src.y + y), size_t(x1 - x0) * 4 * sizeof(float));
        };
        const platform::Resampler::Emit store = [&](int row, const float* rgba) {
            std::memcpy(out.row(dst.y + row), rgba, size_t(r.w) * 4 * sizeof(float));
        };
        const int band = plan->bandRows();
        const int first = r.y - dst.y, bands = (r.h + band - 1) / band;
        platform::parallelFor(0, bands, [&](int b0, int b1) {
            for (int b = b0; b < b1; ++b)
                plan->run(first + b * band, first + std::min(r.h, (b + 1) * band), r.x - dst.x, r.right() - dst.x, fetch, store);
        }, double(band) * r.w * 64.0);
    };
    return makeRegionNode(in, dst.toRectF(), std::move(roi), 3, std::move(fn), true);
}

}  // namespace

void registerScaleFilters() {
    registerFilter({"CILanczosScaleTransform", "Lanczos Scale Transform", {kCICategoryGeometryAdjustment},
        {imageInput(), numberInput(kCIInputScaleKey, kCIAttributeTypeScalar, 1.0, 0.05, 1.5, 0.0),
         numberInput(kCIInputAspectRatioKey, kCIAttributeTypeScalar, 1.0, 0.05, 2.0, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            const double scale = a.number(kCIInputScaleKey), aspect = a.number(kCIInputAspectRatioKey);
            if (!in || !(scale > 0) || !(aspect > 0)) return {};
            const NodePtr out = lanczosScaleNode(in, scale * aspect, scale);
            return out ? CIImage(out) : CIImage();
        }});
}

}  // namespace platform::ci
