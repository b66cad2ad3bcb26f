#include "engine/ImageProcessing.h"

#include "engine/Utils.h"
#include "platform/foundation/Log.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"

#include <QPainter>
#include <QTransform>
#include <cmath>
#include <cstdio>

namespace {

// The orientation the photo information reads: the TIFF group's tag, 0 when the file has
// no TIFF group at all.
int tiffOrientation(const QVariantMap& props) {
    const QVariantMap tiff = props.value(QLatin1String(platform::kPropsTIFF)).toMap();
    return tiff.value(QLatin1String(platform::kPropsOrientation), 0).toInt();
}

// The orientation a viewer applies when it shows the file.
int displayOrientation(const QVariantMap& props) {
    bool ok = false;
    int o = props.value(QLatin1String(platform::kPropsOrientation)).toInt(&ok);
    if (!ok || o < 1 || o > 8) o = tiffOrientation(props);
    return o >= 1 && o <= 8 ? o : -1;
}

}  // namespace

QVariantMap ImageProcessing::exifForFile(const QString& path) {
    if (path.isEmpty()) return {};
    return platform::readImageProperties(path);
}

QImage ImageProcessing::getImageFromFile(const QString& path, float minWidth, float minHeight) {
    const QVariantMap props = exifForFile(path);
    const int orientation = tiffOrientation(props);
    if (orientation != 1 && !path.isEmpty()) {
        Utils& utils = Utils::sharedUtils();
        const QSizeF original = utils.getImageOriginalSizeAtFilePathUrl(path);
        const QSizeF target = utils.aspectFitSizeWithMaxSize(original, minWidth);
        const int tw = int(std::lround(target.width())), th = int(std::lround(target.height()));
        if (tw > 0 && th > 0) {
            QImage thumb = platform::makeThumbnail(path, tw, th, displayOrientation(props));
            if (!thumb.isNull()) {
                if (thumb.width() != tw || thumb.height() != th)
                    thumb = thumb.scaled(tw, th, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                return thumb;
            }
        }
        // No thumbnail: the whole file, turned upright before any scaling so a turned
        // photo is never squeezed into the other orientation's box.
        QImage whole = platform::readImage(path);
        if (!whole.isNull()) {
            whole = platform::orientImage(whole, displayOrientation(props));
            if (whole.width() == int(minWidth) && float(whole.width()) == minWidth) return whole;
            const QSizeF fitted = utils.getAspectFitModeSizeWithsize(QSizeF(whole.size()), QSizeF(minWidth, minHeight));
            if (fitted.width() < 0.5 || fitted.height() < 0.5) return whole;
            return utils.scaleImage(whole, fitted);
        }
    }
    const platform::ImageHeader header = platform::readImageHeader(path);
    if (!header.valid()) {
        std::fputs("Image source is NULL.", stderr);
        return QImage();
    }
    QImage image = platform::readImage(path);
    if (image.isNull()) {
        std::fputs("Image not created from image source.", stderr);
        return QImage();
    }
    return image;
}

QImage ImageProcessing::resizeImage(const QImage& image, int width, int height) {
    if (width <= 0 || height <= 0 || image.isNull()) return QImage();
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return QImage();
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(0, 0, width, height), image, QRectF(image.rect()));
    p.end();
    return out;
}

QImage ImageProcessing::resizeImage(const QString& path, int size) {
    if (size <= 0) return QImage();
    const QImage thumb = platform::makeThumbnail(path, size, size);
    return thumb.isNull() ? QImage() : resizeImage(thumb, size, size);
}

QImage ImageProcessing::flipImageVertically(const QImage& image) { return image.mirrored(false, true); }

QImage ImageProcessing::flipImageHorizontally(const QImage& image) { return image.mirrored(true, false); }

QImage ImageProcessing::convertOriginalImageToBWImage(const QImage& image) {
    if (image.isNull()) return QImage();
    // The grey context has no alpha: what is transparent ends up over black.
    QImage opaque = image.convertToFormat(QImage::Format_ARGB32_Premultiplied).convertToFormat(QImage::Format_RGB32);
    return opaque.convertToFormat(QImage::Format_Grayscale8);
}

QImage RotateImageWithFlip(const QImage& image, bool mirrorLeftRight, bool mirrorTopBottom, float angle) {
    if (image.isNull()) return QImage();
    const int degrees = int(angle);  // whole degrees
    QImage turned;
    const int quarter = ((degrees % 360) + 360) % 360;
    if (quarter % 90 == 0) {
        // Counter-clockwise in the y-up picture is clockwise-negative in Qt's rows.
        turned = quarter == 0 ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              : image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                    .transformed(QTransform().rotate(-quarter));
    } else {
        const double a = degrees * M_PI / 180.0;
        const float c = std::fabs(float(std::cos(a))), s = std::fabs(float(std::sin(a)));
        const float w = float(image.width()), h = float(image.height());
        const int nw = int(w * c + h * s), nh = int(w * s + h * c);
        if (nw <= 0 || nh <= 0) return QImage();
        turned = QImage(nw, nh, QImage::Format_ARGB32_Premultiplied);
        if (turned.isNull()) return QImage();
        turned.fill(Qt::transparent);
        QPainter p(&turned);
        p.translate(nw / 2.0, nh / 2.0);
        p.rotate(-degrees);
        p.translate(-w / 2.0, -h / 2.0);
        p.drawImage(QPointF(0, 0), image);
        p.end();
    }
    if (mirrorLeftRight || mirrorTopBottom) turned = turned.mirrored(mirrorLeftRight, mirrorTopBottom);
    return turned;
}

QImage RotateWithEXIF(const QImage& image, int orientation) {
    switch (orientation) {
    case 2: return RotateImageWithFlip(image, true, false, 0);
    case 3: return RotateImageWithFlip(image, true, true, 0);
    case 4: return RotateImageWithFlip(image, false, true, 0);
    case 5: return RotateImageWithFlip(image, false, true, 90);
    case 6: return RotateImageWithFlip(image, false, false, 90);
    case 7: return RotateImageWithFlip(image, true, false, 90);
    case 8: return RotateImageWithFlip(image, true, true, 90);
    default: return image;
    }
}
