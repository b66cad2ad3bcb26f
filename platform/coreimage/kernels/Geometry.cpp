// Geometry filters: crop, affine transform and the clamp that the editor's preview uses.
#include "platform/coreimage/kernels/KernelSupport.h"

#include <algorithm>
#include <cmath>

namespace platform::ci {

void registerGeometryFilters() {
    // The rectangle is (x, y, width, height) in the y-up plane.
    registerFilter({"CICrop", "Crop", {kCICategoryGeometryAdjustment},
        {imageInput(), vectorInput("inputRectangle", kCIAttributeTypeRectangle, platform::Vec(0, 0, 300, 300))},
        [](const CIFilterArgs& a) -> CIImage {
            const CIImage in = a.image(kCIInputImageKey);
            if (in.isNull()) return {};
            const platform::Vec v = a.vector("inputRectangle");
            return in.imageByCroppingToRect(QRectF(v.X(), v.Y(), v.Z(), v.W()).normalized());
        }});

    registerFilter({"CIAffineTransform", "Affine Transform", {kCICategoryGeometryAdjustment},
        {imageInput(), transformInput(kCIInputTransformKey)},
        [](const CIFilterArgs& a) -> CIImage {
            const CIImage in = a.image(kCIInputImageKey);
            return in.isNull() ? CIImage() : in.imageByApplyingTransform(a.transform(kCIInputTransformKey));
        }});

    // Edge pixels repeated without end, then the transform: the result has no edges, so a
    // blur of it keeps full opacity up to the picture's border.
    registerFilter({"CIAffineClamp", "Affine Clamp", {kCICategoryTileEffect},
        {imageInput(), transformInput(kCIInputTransformKey)},
        [](const CIFilterArgs& a) -> CIImage {
            const CIImage in = a.image(kCIInputImageKey);
            if (in.isNull()) return {};
            const QTransform t = a.transform(kCIInputTransformKey);
            const QRectF e = in.extent();
            // A shrinking transform would make the clamp render an area of the endless
            // edges as large as the output divided by the scale (a 1/1000 scale of a photo
            // asks for billions of pixels). Sampling the picture itself at coordinates held
            // to its edge pixels gives the same pixels and reads no more than the picture.
            if (!t.isInvertible() || std::abs(t.determinant()) >= 1.0 || isInfinite(e))
                return in.imageByClampingToExtent().imageByApplyingTransform(t);
            const PixelRect src = PixelRect::covering(e);
            const QTransform inv = t.inverted();
            const double x0 = src.x + 0.5, x1 = src.right() - 0.5, y0 = src.y + 0.5, y1 = src.top() - 0.5;
            WarpMap map = [=](double x, double y, double& sx, double& sy) {
                const QPointF p = inv.map(QPointF(x, y));
                sx = std::clamp(p.x(), x0, x1);
                sy = std::clamp(p.y(), y0, y1);
            };
            WarpRoi roi = [=](const PixelRect& r) {
                const QRectF back = inv.mapRect(QRectF(r.x, r.y, r.w, r.h));
                const QRectF held(QPointF(std::clamp(back.left(), x0, x1), std::clamp(back.top(), y0, y1)),
                                  QPointF(std::clamp(back.right(), x0, x1), std::clamp(back.bottom(), y0, y1)));
                return PixelRect::covering(held.adjusted(-1, -1, 1, 1));
            };
            return CIImage(makeWarpNode(in.node(), infiniteRect(), std::move(map), std::move(roi), 0));
        }});
}

}  // namespace platform::ci
