#include "engine/Effects/CoreImageBridge.h"

#include "engine/Utils.h"
#include "platform/foundation/Log.h"

namespace effects {

QSizeF extentSize(const CIImage& image) {
    if (image.isNull()) return QSizeF(0, 0);
    if (image.isInfinite()) return QSizeF(qInf(), qInf());
    const QRectF e = image.extent();
    return e.isValid() ? e.size() : QSizeF(0, 0);
}

CIImage runFilter(const QString& name, const CIImage& input, const QVariantMap& inputs) {
    const CIFilterPtr filter = CIFilter::filterWithName(name);
    if (!filter) {
        platform::log(u"Core Image filter %@ is not available", name);
        return {};
    }
    filter->setDefaults();
    filter->setValue(QVariant::fromValue(input), QString::fromLatin1(kCIInputImageKey));
    for (auto it = inputs.begin(); it != inputs.end(); ++it) filter->setValue(it.value(), it.key());
    const CIImage out = filter->outputImage();
    Utils::sharedUtils().clearAllInPutParametersFromcurrentFilter(filter);
    return out;
}

}  // namespace effects
