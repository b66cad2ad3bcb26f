// Tonal corrections: the nine-slider custom enhance chain and the automatic corrections.
#include "engine/Utils.h"

#include "engine/Effects/CoreImageBridge.h"
#include "engine/Effects/EffectImages.h"

#include <QPainter>

namespace {

QImage automaticCorrections(const QImage& image, const QVariantMap& options) {
    if (image.isNull()) return image;
    CIImage current = Utils::getCIImageFromNSImage(image);
    for (const CIFilterPtr& filter : current.autoAdjustmentFiltersWithOptions(options)) {
        if (!filter) continue;
        filter->setValue(QVariant::fromValue(current), QString::fromLatin1(kCIInputImageKey));
        const CIImage out = filter->outputImage();
        filter->setValue(QVariant(), QString::fromLatin1(kCIInputImageKey));
        if (!out.isNull()) current = out;
    }
    // The result keeps the picture's size, whatever extent the corrections gave it.
    const QRectF whole(0, 0, image.width(), image.height());
    const QImage out = Utils::sharedUtils().getDrawedImage(current, whole.size(), whole, whole);
    return out.isNull() ? image : out;
}

}  // namespace

QImage Utils::customEnhanceImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                 const QVariantList& filterParameters) {
    Q_UNUSED(imageURL);
    Q_UNUSED(filterName);
    if (filterParameters.isEmpty()) return image;
    double opacity = 1, brightness = 1, contrast = 1, saturation = 1, exposure = 1, sharpness = 1, denoise = 1,
           vibrance = 1, hue = 1;
    effects::forEachEntry(filterParameters, [&](const QString& key, const QVariant& v) {
        auto read = [&](const char* name, double& into) {
            if (key == QLatin1String(name)) into = double(float(effects::numberOr(v, into)));
        };
        read("enhanceOpacityValue", opacity);
        read("enhanceBrightnessValue", brightness);
        read("enhanceContrastValue", contrast);
        read("enhanceSaturationValue", saturation);
        read("enhanceExposureValue", exposure);
        read("enhanceSharpnessValue", sharpness);
        read("enhanceDenoiseValue", denoise);
        read("enhanceVibranceValue", vibrance);
        read("enhanceHueValue", hue);
    });

    const QImage faded = getTransparentImageFromImage(image, float(opacity));
    CIImage c = getCIImageFromNSImage(faded);
    const QSizeF size = effects::extentSize(c);
    c = effects::runFilter(
        QStringLiteral("CIColorControls"), c,
        {{kCIInputBrightnessKey, brightness}, {kCIInputContrastKey, contrast}, {kCIInputSaturationKey, saturation}});
    c = effects::runFilter(QStringLiteral("CIExposureAdjust"), c, {{kCIInputEVKey, exposure}});
    c = effects::runFilter(QStringLiteral("CISharpenLuminance"), c, {{kCIInputSharpnessKey, sharpness}});
    c = effects::runFilter(QStringLiteral("CINoiseReduction"), c, {{"inputNoiseLevel", denoise}});
    c = effects::runFilter(QStringLiteral("CIVibrance"), c, {{"inputAmount", vibrance}});
    c = effects::runFilter(QStringLiteral("CIHueAdjust"), c, {{kCIInputAngleKey, hue}});
    const QSizeF e = effects::extentSize(c);
    if (c.isNull() || (e.width() == 0 && e.height() == 0)) return faded;
    // The input's rectangle, whatever extent the chain gave its output.
    const QImage out = getDrawedImage(c, size, QPointF(0, 0), QRectF(QPointF(0, 0), size));
    return out.isNull() ? faded : out;
}

QImage Utils::autoEnhance(const QImage& image) { return automaticCorrections(image, {}); }

QImage Utils::redEyeCorrection(const QImage& image) {
    return automaticCorrections(image, {{kCIImageAutoAdjustEnhance, false}});
}
