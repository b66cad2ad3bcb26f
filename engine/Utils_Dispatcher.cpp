// The effect dispatcher: one effect step applied to one image.
#include "engine/Utils.h"

#include "engine/Effects/CoreImageBridge.h"
#include "engine/Effects/EffectImages.h"
#include "platform/coreimage/CIContext.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/HandedOver.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// Photos larger than this on their longer side are scaled down by "Resize".
constexpr double kResizeLimit = 10000.0;

const QStringList& watermarkNames() {
    static const QStringList names = {"Add Text", "Add Watermark", "Add Date"};
    return names;
}

const QStringList& overlayNames() {
    static const QStringList names = QStringList{"Add Custom Image", "Add Logo"} + Utils::stickerSetNames();
    return names;
}

QColor darkGray() { return QColor(85, 85, 85); }
QColor gray() { return QColor(128, 128, 128); }

}  // namespace

const QStringList& Utils::pictureFrameNames() {
    static const QStringList names = {"Grunge Frame",     "Brush Strokes Frame", "Classic Frame", "Fancy Frame",
                                      "Film Strip Frame", "Royal Frame",         "Vintage Frame"};
    return names;
}

const QStringList& Utils::textureEffectNames() {
    static const QStringList names = {"Grunge Effect", "Lights Effect", "Paint Effect", "Fabric Effect",
                                      "Metal Effect",  "Paper Effect",  "Scratch Effect", "Art Effect",
                                      "Bokeh Effect",  "Bricks Effect", "Color Effect", "Film Effect",
                                      "Fire Effect",   "Black n White Effect", "Vignette Effect", "Vintage Effect"};
    return names;
}

const QStringList& Utils::stickerSetNames() {
    static const QStringList names = {"Birthday", "Chat Bubbles", "Design Elements", "Emoticons",
                                      "Food",     "Love",         "Music",           "Zodiac"};
    return names;
}

QRectF Utils::centerRect(const QRectF& rect, const QRectF& inRect) {
    return QRectF(inRect.center().x() - rect.width() / 2, inRect.center().y() - rect.height() / 2, rect.width(),
                  rect.height());
}

namespace {

// The target size of a "Resize" step for an image of the given size; an empty size when the
// step asks for no usable size.
QSizeF resizeTarget(const QVariantList& parameters, QSizeF imageSize) {
    float width = float(imageSize.width()), height = float(imageSize.height());
    bool percentMode = false;
    bool keepShape = false;
    float percentWidth = 100, percentHeight = 100;
    effects::forEachEntry(parameters, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("resizedWidth"))
            width = float(effects::numberOr(v, width));
        else if (key == QLatin1String("resizedHeight"))
            height = float(effects::numberOr(v, height));
        // Once on, a later entry does not switch percentages off again.
        else if (key == QLatin1String("isPercentBaseResize"))
            percentMode = percentMode || effects::numberOr(v, 0) != 0;
        else if (key == QLatin1String(Utils::kMaintainAspectRatioKey))
            keepShape = effects::numberOr(v, 0) != 0;
        else if (key == QLatin1String("percentWidth"))
            percentWidth = float(effects::numberOr(v, percentWidth));
        else if (key == QLatin1String("percentHeight"))
            percentHeight = float(effects::numberOr(v, percentHeight));
    });
    if (percentMode) {
        width = float(imageSize.width() * double(percentWidth / 100.0f));
        height = float(imageSize.height() * double(percentHeight / 100.0f));
    }
    if (!std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0) return QSizeF();
    QSizeF size(width, height);
    if (keepShape && !percentMode && imageSize.width() > 0 && imageSize.height() > 0) {
        // Every photo of a batch keeps its own shape: it is fitted into the stored size
        // instead of being stretched to it.
        const double s = std::min(double(width) / imageSize.width(), double(height) / imageSize.height());
        size = QSizeF(std::max(1.0, std::round(imageSize.width() * s)), std::max(1.0, std::round(imageSize.height() * s)));
    }
    // The longer side is held to the limit, squares included.
    Utils& utils = Utils::sharedUtils();
    if (size.width() > kResizeLimit && size.width() >= size.height())
        size = utils.aspectFitSizeWithMaxSize(size, kResizeLimit);
    if (size.height() > kResizeLimit && size.height() > size.width())
        size = utils.aspectFitSizeWithMaxHeight(size, kResizeLimit);
    return size;
}

}  // namespace

QSizeF Utils::resizeStepTarget(const QVariantList& parameters, QSizeF imageSize) { return resizeTarget(parameters, imageSize); }

QImage Utils::applyFilterWithImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                   const QVariantList& parameters, bool IS_FOR_FILTER_THUMBNAILS_IMAGES) {
    return applyFilter(image, nullptr, imageURL, filterName, parameters, IS_FOR_FILTER_THUMBNAILS_IMAGES);
}

QImage Utils::applyFilterWithImage(QImage&& image, const QString& imageURL, const QString& filterName,
                                   const QVariantList& parameters, bool IS_FOR_FILTER_THUMBNAILS_IMAGES) {
    // A photo still held elsewhere is read as any other and left as it is.
    QImage* owned = platform::holdsPixelsAlone(image, filterName) ? &image : nullptr;
    return applyFilter(image, owned, imageURL, filterName, parameters, IS_FOR_FILTER_THUMBNAILS_IMAGES);
}

QImage Utils::applyFilterToPreview(const QImage& preview, const QString& imageURL, const QString& filterName,
                                   const QVariantList& parameters, double photoScale) {
    if (watermarkNames().contains(filterName))
        return addWaterMarkToImage(preview, imageURL, filterName, parameters, photoScale);
    return applyFilterWithImage(preview, imageURL, filterName, parameters, false);
}

QImage Utils::applyFilterToRows(QImage&& image, const QString& imageURL, const QString& filterName,
                                const QVariantList& parameters, PictureRows& rows) {
    Q_UNUSED(imageURL);
    if (rowReach(filterName) == RowReach::WholePicture || filterName == QLatin1String("Resize") ||
        !platform::holdsPixelsAlone(image, filterName))
        return QImage();
    const bool colourControls = filterName == QLatin1String("Brightness") || filterName == QLatin1String("Contrast");
    return applyCoreImageFilter(image, colourControls ? QStringLiteral("CIColorControls") : filterName, filterName,
                                parameters, false, &image, &rows);
}

Utils::RowReach Utils::rowReach(const QString& filterName) {
    static const QStringList sameRow = {QStringLiteral("Brightness"), QStringLiteral("Contrast"),
                                        QStringLiteral("CISepiaTone")};
    static const QStringList nearRows = {QStringLiteral("CIGaussianBlur"), QStringLiteral("CIUnsharpMask"),
                                         QStringLiteral("Resize")};
    if (sameRow.contains(filterName)) return RowReach::SameRow;
    if (nearRows.contains(filterName)) return RowReach::NearRows;
    return RowReach::WholePicture;
}

QImage Utils::applyFilter(const QImage& image, QImage* owned, const QString& imageURL, const QString& filterName,
                          const QVariantList& parameters, bool thumbnail) {
    if (filterName == QLatin1String("Resize")) {
        const QSizeF target = resizeTarget(parameters, QSizeF(image.width(), image.height()));
        if (target.isEmpty()) {
            platform::log(u"Resize refused for %@: the requested size is empty", imageURL);
            return image;
        }
        QImage result = scaleImage(image, target);
        if (thumbnail) result = addBorderToImage(result, darkGray(), 4, 4);
        return result;
    }
    if (pictureFrameNames().contains(filterName))
        return addCustomFrameToImage(image, imageURL, filterName, parameters, thumbnail);
    if (textureEffectNames().contains(filterName))
        return addTexturesToImage(image, imageURL, filterName, parameters, thumbnail);
    if (watermarkNames().contains(filterName)) return addWaterMarkToImage(image, imageURL, filterName, parameters);
    if (overlayNames().contains(filterName)) return addImageToBackgroundImage(image, filterName, parameters);
    if (filterName == QLatin1String("Add Border")) {
        QColor color = gray();
        int width = 10, radius = 10;
        // Whole points, held within int range (an unchecked conversion of a huge or NaN value
        // is undefined); a width this large already covers any photo.
        auto whole = [](double v, int fallback) {
            return std::isfinite(v) ? int(std::clamp(v, -1.0e6, 1.0e6)) : fallback;
        };
        effects::forEachEntry(parameters, [&](const QString& key, const QVariant& v) {
            if (key == QLatin1String("borderColor") && v.canConvert<QColor>() && v.value<QColor>().isValid())
                color = v.value<QColor>();
            else if (key == QLatin1String("borderWidth"))
                width = whole(effects::numberOr(v, width), width);
            else if (key == QLatin1String("cornerRadius"))
                radius = whole(effects::numberOr(v, radius), radius);
        });
        return addBorderToImage(image, color, thumbnail ? 25.0f : float(width), float(radius));
    }
    if (filterName == QLatin1String("Rotate")) {
        QImage flipped = flipImage(image, parameters);
        // A photo handed over goes once flipped (image reads as null from here), and the
        // flipped picture once turned: never more than two pictures at once.
        if (owned) *owned = QImage();
        if (thumbnail) flipped = addBorderToImage(flipped, darkGray(), 4, 4);
        float angle = 0;
        effects::forEachEntry(parameters, [&](const QString& key, const QVariant& v) {
            if (key == QLatin1String("angle")) angle = float(effects::numberOr(v, angle));
        });
        return rotateImagedByDegrees(360.0 - double(angle), std::move(flipped));
    }
    if (filterName == QLatin1String("Custom Enhance"))
        return customEnhanceImage(image, imageURL, filterName, parameters);
    if (filterName == QLatin1String("RGB Adjust"))
        return applyRGBFilterOnImage(image, QString(), filterName, parameters);
    if (filterName == QLatin1String("Brightness") || filterName == QLatin1String("Contrast"))
        return applyCoreImageFilter(image, QStringLiteral("CIColorControls"), filterName, parameters, thumbnail, owned);
    if (filterName == QLatin1String("Black & White")) return applyBlackAndWhiteImage(image, parameters);
    if (filterName == QLatin1String("Red Eye Correction")) return redEyeCorrection(image);
    if (filterName == QLatin1String("Auto Enhance")) return autoEnhance(image);
    return applyCoreImageFilter(image, filterName, filterName, parameters, thumbnail, owned);
}

QImage Utils::applyCoreImageFilter(const QImage& source, const QString& filterName, const QString& displayName,
                                   const QVariantList& parameters, bool thumbnail, QImage* owned,
                                   PictureRows* rows) {
    // The photo goes to the filter as it is: the image source reads opaque RGB32 without the
    // full copy that a conversion to premultiplied ARGB would make.
    const QImage& image = source;
    // A photo handed over is read by the filter through a picture over its own storage
    // (which shares nothing with it), so that the result can be rendered into that storage
    // once nothing else holds the photo. Whatever is returned before that is made from the
    // photo itself, never from this picture.
    QImage inPlace;
    if (owned && !thumbnail && owned->isDetached() &&
        (owned->format() == QImage::Format_RGB32 || owned->format() == QImage::Format_ARGB32_Premultiplied)) {
        const uchar* bits = owned->bits();
        inPlace = QImage(bits, owned->width(), owned->height(), owned->bytesPerLine(), owned->format());
    }
    const QImage& read = inPlace.isNull() ? image : inPlace;
    const CIImage input = getCIImageFromNSImage(read);
    const QSizeF S = effects::extentSize(input);
    setTransitionExtent(S);

    // Each application has a filter of its own, so applications on different threads never
    // share inputs.
    const CIFilterPtr filter = CIFilter::filterWithName(filterName);
    if (!filter) {
        platform::log(u"No effect named %@", filterName);
        return QImage();
    }
    filter->setDefaults();
    doSetupForFilter(*filter, filterName, displayName, read, thumbnail);
    // Thumbnails of these two show the preset alone: their cells would be invisible at list size.
    const bool presetOnly =
        thumbnail && (filterName == QLatin1String("CIPointillize") || filterName == QLatin1String("CICrystallize"));
    if (!presetOnly) adjustFilterPrametersWithName(*filter, filterName, parameters, image);

    const bool cuts = effects::hasInput(*filter, "inputRectangle");
    const platform::Vec v = filter->valueForKey(QStringLiteral("inputRectangle")).value<platform::Vec>();
    QRectF r(v.X(), v.Y(), v.Z(), v.W());
    const bool usable = r.width() >= 0.5 && r.height() >= 0.5 && std::isfinite(r.width()) && std::isfinite(r.height());
    if (cuts && !usable) {
        // A collapsed rectangle would lose the whole photo; leave it as it is.
        clearAllInPutParametersFromcurrentFilter(filter);
        platform::log(u"Effect %@ skipped: its rectangle is empty", filterName);
        return effects::working(image);
    }

    CIImage out = filter->outputImage();
    const QSizeF O = effects::extentSize(out);
    const QRectF inputRect = input.extent(), outRect = out.extent();
    if (std::isfinite(O.width()) && std::isfinite(O.height()) && outRect.contains(inputRect) && outRect != inputRect &&
        platform::isOpaqueImage(image)) {
        // A filter that spreads pixels past the photo's edge (the blurs, pixellate) mixes the
        // transparent outside into the pixels along the edge, and with a large radius into
        // the whole photo. An opaque photo stays opaque: its pixels get the mean of the
        // photo's own pixels under the filter.
        out = out.imageByCroppingToRect(inputRect).imageByMakingOpaque();
    }
    clearAllInPutParametersFromcurrentFilter(filter);
    if (out.isNull() || (O.width() <= 0 && O.height() <= 0)) {
        platform::log(u"Effect %@ gave no picture", filterName);
        return QImage();
    }

    QImage result;
    if (S.width() <= O.width() && S.height() <= O.height()) {
        // Kept or grown extent (blurs grow theirs): cut back to the input's rectangle.
        const CIContext context({{QString::fromLatin1(kCIContextUseSoftwareRenderer), true}});
        if (!inPlace.isNull() && S == QSizeF(owned->size()) && context.renderInPlace(out, *owned, rows))
            result = std::move(*owned);
        else if (!rows)
            result = getDrawedImage(out, S, QPointF(0, 0), QRectF(0, 0, S.width(), S.height()));
    } else if (rows) {
        return QImage();  // made only into the photo's own storage
    } else if (cuts) {
        if (r == QRectF(0, 0, 300, 300)) return effects::working(image);  // still the filter's own default: nothing chosen
        // Beyond the photo there is nothing to show; a runaway rectangle must not allocate it.
        if (r.width() > kResizeLimit || r.height() > kResizeLimit) r = r.intersected(QRectF(QPointF(0, 0), S));
        result = getDrawedImage(out, r.size(), QRectF(QPointF(0, 0), r.size()), r);
    } else if (!std::isfinite(O.width()) || !std::isfinite(O.height())) {
        // Endless one way and shorter the other: the input's rectangle is all there is to show.
        result = getDrawedImage(out, S, QPointF(0, 0), QRectF(0, 0, S.width(), S.height()));
    } else {
        result = getDrawedImage(out, O, QPointF(0, 0), out.extent());
    }
    if (result.isNull()) return result;

    if (filterName == QLatin1String("CITorusLensDistortion")) {
        // Outside the lens there is nothing: show white rather than a transparent hole.
        QImage flat(result.size(), QImage::Format_ARGB32_Premultiplied);
        flat.fill(Qt::white);
        QPainter p(&flat);
        p.drawImage(QPointF(0, 0), result);
        p.end();
        result = flat;
    }
    if (thumbnail && filterName != QLatin1String("CICrop")) result = addBorderToImage(result, darkGray(), 10, 4);
    return result;
}

QImage Utils::resizeAndCropImageForPreview(const QImage& preview, const QString& filterName,
                                           const QVariantList& parameters, float scaleFactor) {
    Q_UNUSED(filterName);
    if (preview.isNull() || preview.width() <= 0 || preview.height() <= 0) return preview;
    const double w = preview.width(), h = preview.height();
    double pxW = std::trunc(w), pxH = std::trunc(h);
    bool hasWidth = false, hasHeight = false;
    bool percentMode = false;
    bool keepShape = false;
    float percentW = 100, percentH = 100;
    effects::forEachEntry(parameters, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("resizedWidth"))
            pxW = std::trunc(effects::numberOr(v, pxW)), hasWidth = true;
        else if (key == QLatin1String("resizedHeight"))
            pxH = std::trunc(effects::numberOr(v, pxH)), hasHeight = true;
        else if (key == QLatin1String("isPercentBaseResize"))
            percentMode = effects::numberOr(v, 0) != 0;
        else if (key == QLatin1String(kMaintainAspectRatioKey))
            keepShape = effects::numberOr(v, 0) != 0;
        else if (key == QLatin1String("percentWidth"))
            percentW = float(effects::numberOr(v, percentW));
        else if (key == QLatin1String("percentHeight"))
            percentH = float(effects::numberOr(v, percentH));
    });
    if (!percentMode) {
        const auto& photo = AppDelegate::shared().selectedImageFile;
        const QSizeF original = photo ? getImageOriginalSizeAtFilePathUrl(photo->fileURL) : QSizeF();
        const double s = double(scaleFactor);
        if (original.width() > 0 && original.height() > 0 && s > 0 && std::isfinite(s)) {
            // A dimension the step does not name keeps the photo's own, as the step itself does.
            percentW = hasWidth ? float(pxW * 100 / (original.width() / s)) : 100.0f;
            percentH = hasHeight ? float(pxH * 100 / (original.height() / s)) : 100.0f;
            // The photo fitted into the stored size: one scale for both sides, as the batch
            // scales it.
            if (keepShape && hasWidth && hasHeight) percentW = percentH = std::min(percentW, percentH);
        } else {
            // Without the photo's size the step cannot be previewed to scale: show it as it is.
            platform::log(u"Resize preview without the photo's size; shown unchanged");
            percentW = percentH = 100;
        }
    }
    if (!std::isfinite(percentW) || !std::isfinite(percentH) || percentW <= 0 || percentH <= 0) return preview;

    // The preview never grows past the size limit of the step itself.
    double nw = std::min(std::trunc(double(percentW) * w / 100), kResizeLimit);
    double nh = std::min(std::trunc(double(percentH) * h / 100), kResizeLimit);
    bool corrected = false;
    if (nw < 1) nw = 1, corrected = true;
    if (nh < 1) nh = 1, corrected = true;
    if (percentW > 100 && percentH > 100 && !corrected) {
        // An enlarging step: the preview keeps its size and shows the middle of the enlarged
        // picture. Cutting the middle first gives the same picture without the large copy.
        const QRectF middle((nw - w) / 2 * w / nw, (nh - h) / 2 * h / nh, w * w / nw, h * h / nh);
        return scaleImage(cropImage(preview, middle), QSizeF(w, h));
    }
    return scaleImage(preview, QSizeF(nw, nh));
}
