// Texture effects: a texture picture stretched over the whole photo and blended onto it.
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "engine/Utils_OverlaysSupport.h"

#include "platform/foundation/Log.h"

#include <QPainter>

using overlays::forEachParameter;
using overlays::numberOr;

QImage Utils::addTexturesToImage(const QImage& image, const QString&, const QString& filterName,
                                 const QVariantList& params, bool isForThumbnail) {
    QString texture = isForThumbnail ? FilterCustomization::firstFrameForCategory(filterName) : QString();
    float intensity = 1.0f, imageIntensity = 1.0f;
    forEachParameter(params, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("picture_EffectName")) texture = v.toString();
        else if (key == QLatin1String("effectIntensityValue")) intensity = float(numberOr(v, intensity));
        else if (key == QLatin1String("imageIntensityValue")) imageIntensity = float(numberOr(v, imageIntensity));
    });
    if (texture.isEmpty() || image.isNull()) return image;

    const float photoOpacity = overlays::opacityFactor(imageIntensity);
    const QImage photo = photoOpacity < 1.0f ? getTransparentImageFromImage(image, photoOpacity) : image;
    QImage picture = overlays::resourceImage(texture);
    if (picture.isNull()) {
        platform::log(u"texture picture %@ is missing", texture);
        return photo;
    }
    // Stretched to the photo whatever its proportions, at its opacity, in one full-size
    // picture rather than two.
    {
        QImage layer(photo.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        QPainter p(&layer);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.setOpacity(overlays::opacityFactor(intensity));
        p.drawImage(QRectF(QPointF(0, 0), QSizeF(photo.size())), picture, QRectF(picture.rect()));
        p.end();
        picture = layer;
    }

    QImage out = overlays::blendWithFilter(QStringLiteral("CIOverlayBlendMode"), picture, photo);
    if (out.isNull() || out.width() == 0 || out.height() == 0) return photo;
    out.setDotsPerMeterX(image.dotsPerMeterX());
    out.setDotsPerMeterY(image.dotsPerMeterY());
    return out;
}
