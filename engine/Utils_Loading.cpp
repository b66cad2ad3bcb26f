// Image loading, sizes, thumbnails, scaling, cropping, opacity and the small conversions
// between images, Core Image images and vectors.
#include "engine/ImageProcessing.h"
#include "engine/Utils.h"

#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/coreimage/CIImage.h"
#include "platform/coreimage/Resample.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/graphics/YUp.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/imageio/VectorHeaders.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"

#include <QFileInfo>
#include <QPainter>
#include <cmath>

namespace {

QImage transparentCanvas(int width, int height) {
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    if (!out.isNull()) out.fill(Qt::transparent);
    return out;
}

}  // namespace

QVariantMap Utils::getImageeExifDict(const QString& path) { return ImageProcessing::exifForFile(path); }

QImage Utils::getImageWithFixedOrientionFromUrl(const QString& path) {
    return loadImageWithFixedOrientionFromUrl(path).image;
}

platform::DecodeResult Utils::loadImageWithFixedOrientionFromUrl(const QString& path,
                                                                 const platform::DecodeOptions& options) {
    const QVariantMap props = ImageProcessing::exifForFile(path);
    platform::DecodeResult result = imageloading::decodeUpright(path, props, options);
    result.image = inColour(result.image, props);
    return result;
}

QImage Utils::inColour(const QImage& image, const QVariantMap& props) {
    // Steps work on colour pictures, and may colour a grey one. The photo stays grey all the
    // same: its properties, which its output is written with, still say "Gray", and the
    // writer stores a picture that is still grey in one channel.
    if (image.isNull()) return QImage();
    if (props.value(QLatin1String(platform::kPropsColorModel)).toString() == QLatin1String("Gray"))
        return convertGraycolorModelToRgb(image);
    return image;
}

QImage Utils::getImageWithFixedOrientionFromUrl(const QString& path, QSize target,
                                                const platform::DecodeOptions& reading) {
    const QVariantMap props = ImageProcessing::exifForFile(path);
    return inColour(imageloading::loadUprightReduced(path, props, target, reading), props);
}

QSizeF Utils::getImageOriginalSizeAtFilePathUrl(const QString& path) {
    return imageloading::uprightSize(path, ImageProcessing::exifForFile(path));
}

QSizeF imageloading::uprightSize(const QString& path, const QVariantMap& props) {
    double w = props.value(QLatin1String(platform::kPropsPixelWidth)).toDouble();
    double h = props.value(QLatin1String(platform::kPropsPixelHeight)).toDouble();
    const QVariantMap tiff = props.value(QLatin1String(platform::kPropsTIFF)).toMap();
    int orientation = tiff.value(QLatin1String(platform::kPropsOrientation), 0).toInt();
    if (w <= 0 || h <= 0) {
        // The properties reader knows nothing of this file: ask the decoders' header
        // reading rather than report an empty size.
        const platform::ImageHeader header = platform::readImageHeader(path);
        if (header.valid()) {
            w = header.width;
            h = header.height;
            if (props.isEmpty()) orientation = header.orientation;
        }
    }
    const QString ext = QFileInfo(path).suffix();
    std::optional<QSizeF> vector;
    if (ext == QLatin1String("eps") || ext == QLatin1String("EPS")) vector = platform::epsPictureSize(path);
    else if (ext == QLatin1String("pict") || ext == QLatin1String("PICT") || ext == QLatin1String("pct") ||
             ext == QLatin1String("PCT"))
        vector = platform::pictPictureSize(path);
    if (orientation >= 5 && orientation <= 8) return QSizeF(h, w);
    if (vector) {
        platform::log(u"epsDict = %@", platform::format(u"%@ x %@", vector->width(), vector->height()));
        if (vector->width() > 0) w = vector->width();
        if (vector->height() > 0) h = vector->height();
    }
    return QSizeF(w, h);
}

QImage Utils::convertGraycolorModelToRgb(const QImage& image) {
    // Our decoded pictures are always four-channel; a grey one only needs to be a
    // colour image of the same pixels.
    if (image.isNull()) return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage Utils::getThumbnailImageAtFilePath(const QString& path, QSizeF size, const platform::DecodeOptions& reading) {
    if (path.isEmpty()) return ImageProcessing::getImageFromFile(path, float(size.width()), float(size.height()));
    const QVariantMap props = ImageProcessing::exifForFile(path);
    const QSizeF original = imageloading::uprightSize(path, props);
    const QSizeF thumbSize = aspectFitSizeWithMaxSize(original, size.width());
    const int tw = int(std::lround(thumbSize.width())), th = int(std::lround(thumbSize.height()));
    if (tw > 0 && th > 0) {
        int orientation = props.value(QLatin1String(platform::kPropsOrientation), -1).toInt();
        if (orientation < 1 || orientation > 8)
            orientation = props.value(QLatin1String(platform::kPropsTIFF)).toMap().value(QLatin1String(platform::kPropsOrientation), -1).toInt();
        QImage thumb =
            platform::makeThumbnail(path, tw, th, orientation >= 1 && orientation <= 8 ? orientation : -1, reading);
        if (!thumb.isNull()) {
            if (thumb.width() != tw || thumb.height() != th)
                thumb = thumb.scaled(tw, th, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            return thumb;
        }
    }
    return imageloading::loadUpright(path, props, float(thumbSize.width()), float(thumbSize.height()), reading);
}

QImage Utils::getImageFromPath(const QString& path, QSizeF size, const platform::DecodeOptions& reading) {
    return ImageProcessing::getImageFromFile(path, float(size.width()), float(size.height()), reading);
}

QImage Utils::getAspectFillImageFormImage(const QImage& source, QSizeF box, int cropMode) {
    const double w = source.width(), h = source.height();
    const double bw = box.width(), bh = box.height();
    if (source.isNull() || w <= 0 || h <= 0 || bw <= 0 || bh <= 0) return source;
    const QSizeF fit = getAspectFitModeSizeWithsize(QSizeF(w, h), box);
    const float fw = float(fit.width()), fh = float(fit.height());
    if (fw <= 0 || fh <= 0) return source;
    float f = 1.0f;
    if (fw > fh) f = bw > bh ? float(bw) / fw : float(bh) / fh;
    else if (fw < fh) f = float(bw) / fw;
    else f = bw > bh ? float(bw) / fw : bh > bw ? float(bh) / fh : 1.0f;
    const double sw = double(fw * f), sh = double(fh * f);
    QImage image = source;
    if (bw > w || bh > h) image = ImageProcessing::resizeImage(image, int(sw), int(sh));
    if (image.isNull()) return source;
    if (sw > bw || sh > bh) {
        const double x = (sw - bw) / 2.0;
        const double y = cropMode == 0 ? sh - bh : cropMode == 2 ? 0.0 : (sh - bh) / 2.0;
        return cropImage(image, QRectF(x, y, bw, bh));
    }
    return image;
}

QImage Utils::getImageThumbnailFromFilePath(const QString& path, float minWidth, float minHeight) {
    const QImage image = ImageProcessing::getImageFromFile(path, minWidth, minHeight);
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        platform::log(u"Exception %@", QStringLiteral("no image for ") + path);
        return QImage();
    }
    const QSizeF size = image.width() > image.height() ? aspectFitSizeWithMaxSize(QSizeF(image.size()), minWidth)
                                                       : aspectFitSizeWithMaxHeight(QSizeF(image.size()), minHeight);
    return scaleImage(image, size);
}

QImage Utils::scaleImage(const QImage& image, QSizeF newSize) {
    if (image.isNull()) return image;
    const int w = int(std::lround(newSize.width())), h = int(std::lround(newSize.height()));
    if (w <= 0 || h <= 0) return image;
    if (w == image.width() && h == image.height()) return image;
    // Lanczos, premultiplied, centres aligned: a shrink keeps fine detail without aliasing
    // and an enlargement stays sharp.
    return platform::resampleImage(image, w, h);
}

QImage Utils::cropImage(const QImage& image, const QRectF& cropRect) {
    if (cropRect.width() <= 0 || cropRect.height() <= 0 || image.isNull()) return image;
    const QRectF qt = platform::toQtRect(cropRect, image.height());
    const QRect r(int(std::lround(qt.x())), int(std::lround(qt.y())), std::max(1, int(std::lround(qt.width()))),
                  std::max(1, int(std::lround(qt.height()))));
    // Parts of the rectangle outside the picture stay transparent.
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied).copy(r);
}

QSizeF Utils::aspectFitSizeWithMaxSize(QSizeF size, double scaledWidth) {
    if (size.width() <= 0 || size.height() <= 0) return QSizeF(0, 0);
    const float s = float(scaledWidth) / float(size.width());
    return QSizeF(double(float(size.width()) * s), double(s * float(size.height())));
}

QSizeF Utils::aspectFitSizeWithMaxHeight(QSizeF size, double scaledHeight) {
    if (size.width() <= 0 || size.height() <= 0) return QSizeF(0, 0);
    const float s = float(scaledHeight) / float(size.height());
    return QSizeF(double(s * float(size.width())), double(float(size.height()) * s));
}

QSizeF Utils::getAspectFitModeSizeWithsize(QSizeF size, QSizeF toSize) {
    const double w = size.width(), h = size.height(), bw = toSize.width(), bh = toSize.height();
    if (w <= 0 || h <= 0 || bw <= 0 || bh <= 0) return QSizeF(0, 0);
    const float s = w > h ? float(bw) / float(w) : float(bh) / float(h);
    QSizeF r(double(float(w) * s), double(float(h) * s));
    if (r.width() > bw) r = aspectFitSizeWithMaxSize(r, bw);
    if (r.height() > bh) r = aspectFitSizeWithMaxHeight(r, bh);
    return r;
}

QImage Utils::imageFromCGImageRef(const QImage& image) { return image; }

QImage Utils::getCgiImageRef(const QImage& image) {
    if (image.isNull()) return QImage();
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

CIImage Utils::getCIImageFromNSImage(const QImage& image) { return CIImage::imageWithCGImage(image); }

QImage Utils::getDrawedImage(const CIImage& image, QSizeF size, QPointF atPoint, const QRectF& fromRect) {
    if (image.isNull()) return QImage();
    const QRectF extent = image.extent();
    if (extent.width() == 0 || extent.height() == 0) return QImage();
    return getDrawedImage(image, size, QRectF(atPoint, fromRect.size()), fromRect);
}

QImage Utils::getDrawedImage(const CIImage& image, QSizeF size, const QRectF& inRect, const QRectF& fromRect) {
    const int w = int(std::lround(size.width())), h = int(std::lround(size.height()));
    if (w <= 0 || h <= 0) return QImage();
    const CIContext context({{QString::fromLatin1(kCIContextUseSoftwareRenderer), true}});
    const QRectF whole(0, 0, w, h);
    if (!image.isNull() && inRect == whole && fromRect == whole) {
        // The picture's own rectangle, unscaled, over nothing: the rendered pixels as they
        // are (drawing them over a transparent canvas gives the same bytes, at twice the cost).
        QImage rendered = context.createCGImage(image, whole);
        if (!rendered.isNull()) return rendered;
    }
    QImage canvas = transparentCanvas(w, h);
    if (canvas.isNull() || image.isNull()) return canvas;
    context.drawImage(image, inRect, fromRect, canvas);
    return canvas;
}

QImage Utils::getTransparentImageFromImage(const QImage& image, float factor) {
    if (image.width() <= 0 || image.height() <= 0) return image;
    QImage out = transparentCanvas(image.width(), image.height());
    if (out.isNull()) return image;
    QPainter p(&out);
    p.setOpacity(std::clamp(double(factor), 0.0, 1.0));
    p.drawImage(QPoint(0, 0), image);
    p.end();
    return out;
}

void Utils::clearAllInPutParametersFromcurrentFilter(const std::shared_ptr<CIFilter>& filter) {
    if (!filter) return;
    filter->setValue(QVariant(), QString::fromLatin1(kCIInputImageKey));
    const QVariantMap attributes = filter->attributes();
    for (const char* key : {kCIInputBackgroundImageKey, kCIInputTargetImageKey, kCIInputMaskImageKey}) {
        if (attributes.contains(QLatin1String(key))) filter->setValue(QVariant(), QString::fromLatin1(key));
    }
}

QRectF Utils::cgRectWithCiVector(const platform::Vec& v) { return QRectF(v.X(), v.Y(), v.Z(), v.W()); }

QPointF Utils::cgPointWithCiVector(const platform::Vec& v) { return QPointF(v.X(), v.Y()); }

platform::Vec Utils::ciVectorWithCGRect(const QRectF& r) { return platform::Vec(r.x(), r.y(), r.width(), r.height()); }

int Utils::totalBatchStepsApplied() {
    int count = 0;
    for (const auto& step : AppDelegate::shared().arrayAppliedFilters)
        if (step && step->isApplied) ++count;
    return count;
}

QString Utils::timeFormattedString(qint64 seconds) {
    const qint64 hours = seconds / 3600, minutes = (seconds / 60) % 60, secs = seconds % 60;
    QString text;
    auto minutePart = [&] {
        text += minutes == 1 ? platform::format(u" %d minute", int(minutes)) : platform::format(u" %d minutes", int(minutes));
    };
    if (hours >= 1) {
        text += hours == 1 ? platform::format(u"%d hour", int(hours)) : platform::format(u"%d hours", int(hours));
        minutePart();
    } else if (minutes >= 1) {
        minutePart();
    }
    if (hours < 1 && minutes < 1 && secs < 1) return text;
    text += secs == 1 ? platform::format(u" %d second", int(secs)) : platform::format(u" %d seconds", int(secs));
    return text;
}

QImage Utils::fixOrientation(const QImage& image, const QString& imageURL, QSizeF size) {
    QImage loaded = platform::readImage(imageURL);
    if (loaded.isNull()) loaded = image;
    const int orientation = ImageProcessing::exifForFile(imageURL).value(QLatin1String(platform::kPropsOrientation)).toInt();
    platform::log(u"utils fixOrientation");
    return scaleImage(RotateWithEXIF(loaded, orientation), size);
}
