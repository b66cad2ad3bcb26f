// The Core Image blend that lays a frame layer or a texture onto a photo.
#include "engine/Utils.h"
#include "engine/Utils_OverlaysSupport.h"

#include "platform/coreimage/CIFilter.h"

namespace overlays {

QImage blendWithFilter(const QString& filterName, const QImage& top, const QImage& background) {
    CIFilterPtr filter = CIFilter::filterWithName(filterName);
    if (!filter) filter = CIFilter::filterWithName(QStringLiteral("CISourceOverCompositing"));
    if (!filter || background.isNull()) return {};
    Utils& utils = Utils::sharedUtils();
    const CIImage backgroundImage = Utils::getCIImageFromNSImage(background);
    const QSizeF size = backgroundImage.extent().size();
    filter->setDefaults();
    filter->setValue(QVariant::fromValue(Utils::getCIImageFromNSImage(top)), QString::fromLatin1(kCIInputImageKey));
    filter->setValue(QVariant::fromValue(backgroundImage), QString::fromLatin1(kCIInputBackgroundImageKey));
    const CIImage out = filter->outputImage();
    // The filter keeps no photo once the blend is made.
    filter->setValue(QVariant(), QString::fromLatin1(kCIInputImageKey));
    filter->setValue(QVariant(), QString::fromLatin1(kCIInputBackgroundImageKey));
    if (out.isNull() || (out.extent().width() == 0 && out.extent().height() == 0)) return {};
    const QRectF whole(QPointF(0, 0), size);
    return utils.getDrawedImage(out, size, whole, whole);
}

}  // namespace overlays
