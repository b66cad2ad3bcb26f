// The program's own colour effects that run through Core Image: black and white, RGB adjust,
// and the pencil-sketch look.
#include "engine/Utils.h"

#include "engine/Effects/CoreImageBridge.h"
#include "engine/Effects/EffectImages.h"

#include <QPainter>

namespace {

// The whole extent of an output drawn on a canvas of its size; null when there is none.
QImage renderWhole(const CIImage& out) {
    const QSizeF e = effects::extentSize(out);
    if (out.isNull() || !(e.width() > 0) || !(e.height() > 0) || !std::isfinite(e.width()) ||
        !std::isfinite(e.height()))
        return {};
    return Utils::sharedUtils().getDrawedImage(out, e, QPointF(0, 0), out.extent());
}

}  // namespace

QImage Utils::applyBlackAndWhiteImage(const QImage& image, const QVariantList& filterParameters) {
    float intensity = 0;
    effects::forEachEntry(filterParameters, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("Intensity")) intensity = float(effects::numberOr(v, intensity));
    });
    return blackAndWhiteImageFromImage(image, intensity);
}

QImage Utils::blackAndWhiteImageFromImage(const QImage& image, float intensity) {
    const double k = double(intensity) / 10.0;
    const CIImage grey = effects::runFilter(
        QStringLiteral("CIColorControls"), getCIImageFromNSImage(image),
        {{kCIInputBrightnessKey, 0.0}, {kCIInputContrastKey, 1.0 + k}, {kCIInputSaturationKey, 0.0}});
    if (grey.isNull()) return {};
    return renderWhole(effects::runFilter(QStringLiteral("CIExposureAdjust"), grey, {{kCIInputEVKey, 0.7}}));
}

QImage Utils::applyRGBFilterOnImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                    const QVariantList& filterParameters) {
    Q_UNUSED(imageURL);
    Q_UNUSED(filterName);
    double red = 255, green = 255, blue = 255, alpha = 1.0;
    effects::forEachEntry(filterParameters, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("Red"))
            red = effects::numberOr(v, red);
        else if (key == QLatin1String("Green"))
            green = effects::numberOr(v, green);
        else if (key == QLatin1String("Blue"))
            blue = effects::numberOr(v, blue);
        else if (key == QLatin1String("Alpha"))
            alpha = effects::numberOr(v, alpha);
    });
    QColor white;
    white.setRgbF(float(std::clamp(red / 255.0, 0.0, 1.0)), float(std::clamp(green / 255.0, 0.0, 1.0)),
                  float(std::clamp(blue / 255.0, 0.0, 1.0)), float(std::clamp(alpha, 0.0, 1.0)));
    return renderWhole(effects::runFilter(QStringLiteral("CIWhitePointAdjust"), getCIImageFromNSImage(image),
                                          {{kCIInputColorKey, white}}));
}

QImage Utils::applySkecthEffect(const QImage& image, const QVariantList& filterParameters) {
    double intensity = 0;
    effects::forEachEntry(filterParameters, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("Intensity")) intensity = effects::numberOr(v, intensity);
    });
    if (image.isNull()) return image;
    const QImage greyPicture = effects::working(image.convertToFormat(QImage::Format_Grayscale8));
    const CIImage grey = getCIImageFromNSImage(greyPicture);
    const CIImage inverted = effects::runFilter(QStringLiteral("CIColorInvert"), grey, {});
    const CIImage blurred =
        effects::runFilter(QStringLiteral("CIGaussianBlur"), inverted, {{kCIInputRadiusKey, intensity * 10}});
    const CIImage dodge = effects::runFilter(QStringLiteral("CIColorDodgeBlendMode"), blurred,
                                             {{kCIInputBackgroundImageKey, QVariant::fromValue(grey)}});
    if (dodge.isNull()) return {};
    const QRectF whole(0, 0, image.width(), image.height());
    return getDrawedImage(dodge.imageByCroppingToRect(whole), whole.size(), whole, whole);
}
