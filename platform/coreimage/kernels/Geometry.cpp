// Geometry filters: crop, affine transform and the clamp that the editor's preview uses.
#include "platform/coreimage/kernels/KernelSupport.h"

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
            return in.imageByClampingToExtent().imageByApplyingTransform(a.transform(kCIInputTransformKey));
        }});
}

}  // namespace platform::ci
