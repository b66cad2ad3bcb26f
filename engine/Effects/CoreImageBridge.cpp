#include "engine/Effects/CoreImageBridge.h"

#include "engine/Effects/EffectImages.h"
#include "platform/foundation/Log.h"

#include <cmath>

namespace effects {

CIImage ciImageOf(const QImage& image) {
    if (image.isNull()) return {};
    return CIImage::imageWithCGImage(working(image));
}

QSizeF extentSize(const CIImage& image) {
    if (image.isNull()) return QSizeF(0, 0);
    const QRectF e = image.extent();
    if (image.isInfinite()) return QSizeF(qInf(), qInf());
    return e.isValid() ? e.size() : QSizeF(0, 0);
}

namespace {
bool usableCanvas(QSizeF s) {
    return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() >= 0.5 && s.height() >= 0.5;
}
QImage canvasOf(QSizeF s) { return canvas(int(std::lround(s.width())), int(std::lround(s.height()))); }
}  // namespace

QImage drawAt(const CIImage& image, QSizeF canvasSize, QPointF at, const QRectF& fromRect) {
    const QSizeF e = extentSize(image);
    if (image.isNull() || !(e.width() > 0) || !(e.height() > 0) || !usableCanvas(canvasSize)) return {};
    QImage out = canvasOf(canvasSize);
    CIContext ctx = CIContext::contextWithOptions({{kCIContextUseSoftwareRenderer, true}});
    ctx.drawImage(image, QRectF(at, fromRect.size()), fromRect, out);
    return out;
}

QImage drawIn(const CIImage& image, QSizeF canvasSize, const QRectF& inRect, const QRectF& fromRect) {
    if (image.isNull() || !usableCanvas(canvasSize)) return {};
    QImage out = canvasOf(canvasSize);
    CIContext ctx = CIContext::contextWithOptions({{kCIContextUseSoftwareRenderer, true}});
    ctx.drawImage(image, inRect, fromRect, out);
    return out;
}

void clearImageInputs(CIFilter& filter) {
    filter.setValue(QVariant(), QString::fromLatin1(kCIInputImageKey));
    for (const char* key : {kCIInputBackgroundImageKey, kCIInputTargetImageKey, kCIInputMaskImageKey})
        if (hasInput(filter, key)) filter.setValue(QVariant(), QString::fromLatin1(key));
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
    clearImageInputs(*filter);
    return out;
}

}  // namespace effects
