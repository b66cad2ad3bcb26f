// Picture frames: eight border pieces of a design laid round the photo's edge and
// blended onto it.
#include "engine/Utils.h"
#include "engine/Utils_OverlaysSupport.h"

#include "platform/foundation/Log.h"
#include "platform/graphics/NinePart.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

using overlays::forEachParameter;
using overlays::numberOr;

namespace {

// Index stored by the editor's blend-mode control, to the filter that blends.
const std::array<const char*, 10> kFrameBlendModes{
    "CISourceOverCompositing", "CIColorBlendMode",   "CIDarkenBlendMode",   "CIDifferenceBlendMode",
    "CIHardLightBlendMode",    "CILightenBlendMode", "CIMultiplyBlendMode", "CIOverlayBlendMode",
    "CIScreenBlendMode",       "CISubtractBlendMode",
};

QString designBaseName(const QString& design) {
    const int dot = design.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? design.left(dot) : design;
}

QString frameBlendModeFilterName(int index) {
    // An index from a damaged or foreign step falls back to laying the frame over the photo.
    if (index < 0 || index >= int(kFrameBlendModes.size())) index = 0;
    return QString::fromLatin1(kFrameBlendModes[size_t(index)]);
}

}  // namespace

QImage Utils::addCustomFrameToImage(const QImage& image, const QString&, const QString&,
                                    const QVariantList& params, bool isForThumbnail) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        platform::log(u"not valid image");
        return image;
    }
    QString design;
    int blendIndex = 0;
    float intensity = 1.0f, widthPercent = 0.03f;
    forEachParameter(params, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("picture_frameName")) design = v.toString();
        else if (key == QLatin1String("blendMode_index")) blendIndex = int(numberOr(v, blendIndex));
        else if (key == QLatin1String("effectIntensityValue")) intensity = float(numberOr(v, intensity));
        else if (key == QLatin1String("frameWidthPercent")) widthPercent = float(numberOr(v, widthPercent));
    });
    if (design.isEmpty()) return image;

    const int w = image.width(), h = image.height();
    const float f = isForThumbnail ? 0.12f : widthPercent;
    if (!std::isfinite(f)) return image;
    const int shorter = std::min(w, h);
    // Wider than half the shorter side, opposite pieces would overlap and cover the photo.
    const int t = std::min(int(float(shorter) * f), shorter / 2);
    if (t <= 1) return image;

    std::array<QImage, 8> pieces;
    const QString base = designBaseName(design);
    for (int i = 0; i < 8; ++i) {
        const QString name = platform::format(u"%@_%d.png", base, i + 1);
        const QImage piece = overlays::resourceImage(name);
        if (piece.isNull()) {
            platform::log(u"frame piece %@ is missing; photo left unframed", name);
            return image;
        }
        // Every photo of a size, and the preview at each change, has its pieces at one size.
        pieces[size_t(i)] = resourcePictures().picture(platform::format(u"piece %@ at %d", piece.cacheKey(), t),
                                                       [&] { return scaleImage(piece, QSizeF(t, t)); });
    }

    // The frame layer is transparent inside its border, and every blend leaves the photo as
    // it is under a transparent layer; so only the four border strips are drawn and blended,
    // which keeps the work proportional to the frame rather than to the photo.
    const auto framePieces = platform::NinePartPieces::fromList(pieces);
    const QString filter = frameBlendModeFilterName(blendIndex);
    const float opacity = overlays::opacityFactor(intensity);
    const QRect strips[] = {QRect(0, 0, w, t), QRect(0, h - t, w, t), QRect(0, t, t, h - 2 * t),
                            QRect(w - t, t, t, h - 2 * t)};
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return image;
    out.detach();
    QPainter composer(&out);
    composer.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& strip : strips) {
        if (strip.isEmpty()) continue;
        QImage layer(strip.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter p(&layer);
            p.translate(-strip.topLeft());
            platform::drawNinePartImage(p, h, QRectF(0, 0, w, h), framePieces);
        }
        // Full intensity needs no opacity pass.
        if (opacity < 1.0f) layer = getTransparentImageFromImage(layer, opacity);
        const QImage blended = overlays::blendWithFilter(filter, layer, image.copy(strip));
        if (blended.isNull() || blended.size() != strip.size()) return image;
        composer.drawImage(strip.topLeft(), blended);
    }
    composer.end();
    out.setDotsPerMeterX(image.dotsPerMeterX());
    out.setDotsPerMeterY(image.dotsPerMeterY());
    return out;
}
