#include "engine/ImageProcessing.h"

#include "engine/Utils.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/YUp.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"

#include <QPainter>
#include <QTransform>
#include <cmath>

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

namespace {
thread_local const ImageProcessing::KnownProperties* tKnownProperties = nullptr;
}  // namespace

ImageProcessing::KnownProperties::KnownProperties(QString path, QVariantMap properties,
                                                  std::shared_ptr<const platform::OpenedFile> opened)
    : path_(std::move(path)), properties_(std::move(properties)), opened_(std::move(opened)),
      outer_(tKnownProperties) {
    tKnownProperties = this;
}

ImageProcessing::KnownProperties::~KnownProperties() { tKnownProperties = outer_; }

QVariantMap ImageProcessing::exifForFile(const QString& path) {
    if (path.isEmpty()) return {};
    for (const KnownProperties* known = tKnownProperties; known; known = known->outer_)
        if (known->path_ == path) return known->properties_;
    return platform::readImageProperties(path);
}

platform::ImageHeader ImageProcessing::headerOfFile(const QString& path) {
    platform::DecodeOptions reading;
    for (const KnownProperties* known = tKnownProperties; known && !reading.opened; known = known->outer_)
        if (known->path_ == path) reading.opened = known->opened_;
    return platform::readImageHeader(path, reading);
}

QImage ImageProcessing::getImageFromFile(const QString& path, float minWidth, float minHeight,
                                         const platform::DecodeOptions& reading) {
    return imageloading::loadUpright(path, exifForFile(path), minWidth, minHeight, reading);
}

int imageloading::storedOrientation(const QVariantMap& props) { return tiffOrientation(props); }

QImage imageloading::loadUpright(const QString& path, const QVariantMap& props, float minWidth, float minHeight,
                                 const platform::DecodeOptions& reading) {
    const int orientation = tiffOrientation(props);
    const platform::ImageHeader header = platform::readImageHeader(path, reading);
    const bool smallerRaw = header.format == platform::ImageFormat::RAW && minWidth > 0 && minWidth < header.width;
    if ((orientation != 1 || smallerRaw) && !path.isEmpty()) {
        Utils& utils = Utils::sharedUtils();
        const QSizeF original = uprightSize(path, props);
        const QSizeF target = utils.aspectFitSizeWithMaxSize(original, minWidth);
        const int tw = int(std::lround(target.width())), th = int(std::lround(target.height()));
        if (tw > 0 && th > 0) {
            QImage thumb = platform::makeThumbnail(path, tw, th, displayOrientation(props), reading);
            if (!thumb.isNull()) {
                if (thumb.width() != tw || thumb.height() != th)
                    thumb = thumb.scaled(tw, th, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                return thumb;
            }
        }
        // No thumbnail: the whole file, turned upright before any scaling so a turned
        // photo is never squeezed into the other orientation's box.
        QImage whole = platform::readImage(path, reading);
        if (!whole.isNull()) {
            whole = platform::orientImage(whole, displayOrientation(props));
            if (whole.width() == int(minWidth) && float(whole.width()) == minWidth) return whole;
            const QSizeF fitted = utils.getAspectFitModeSizeWithsize(QSizeF(whole.size()), QSizeF(minWidth, minHeight));
            if (fitted.width() < 0.5 || fitted.height() < 0.5) return whole;
            return utils.scaleImage(whole, fitted);
        }
    }
    if (!header.valid()) {
        platform::log(u"Image source is NULL.");
        return QImage();
    }
    QImage image = platform::readImage(path, reading);
    if (image.isNull()) {
        platform::log(u"Image not created from image source.");
        return QImage();
    }
    return image;
}

platform::DecodeResult imageloading::decodeUpright(const QString& path, const QVariantMap& props,
                                                   const platform::DecodeOptions& options) {
    platform::DecodeOptions asked = options;
    QSize upright;
    if (tiffOrientation(props) != 1) {
        // Asked as for a thumbnail of the full size, as the loaders of turned (or
        // untagged) photos always have been, so that such a photo comes out as before.
        const QSizeF size = uprightSize(path, props);
        const QSizeF target = Utils::sharedUtils().aspectFitSizeWithMaxSize(size, size.width());
        upright = QSize(int(std::lround(target.width())), int(std::lround(target.height())));
        if (!upright.isEmpty()) asked.minLongSide = std::max(upright.width(), upright.height());
    }
    platform::DecodeResult result = platform::decodeImage(path, asked);
    if (!result.ok()) {
        platform::log(u"Image not created from image source.");
        return result;
    }
    if (tiffOrientation(props) == 1) return result;
    int orientation = displayOrientation(props);
    if (orientation < 1) orientation = platform::readImageHeader(path, options).orientation;
    result.image = platform::orientImage(result.image, orientation);
    if (!upright.isEmpty() && (result.image.width() < upright.width() || result.image.height() < upright.height())) {
        // A decoder that gave less than the size asked (a file's own small picture taken
        // for the photo) is read again whole: a photo is never enlarged to make up a size.
        platform::DecodeResult whole = platform::decodeImage(path, options);
        if (!whole.ok()) return whole;
        whole.image = platform::orientImage(whole.image, orientation);
        result = whole;
    }
    if (!upright.isEmpty() && result.image.width() >= upright.width() && result.image.height() >= upright.height() &&
        result.image.size() != upright)
        result.image = result.image.scaled(upright, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return result;
}

std::optional<imageloading::ReducedDecode> imageloading::reducedDecode(const platform::ImageHeader& header,
                                                                       int orientation, QSize target) {
    const bool jpeg = header.format == platform::ImageFormat::JPEG;
    if (!(jpeg || header.format == platform::ImageFormat::RAW) || !header.valid() || target.isEmpty())
        return std::nullopt;
    const QSize atLeast = jpeg ? target * 4 : target;
    const bool turned = orientation >= 5 && orientation <= 8;
    const double uprightW = turned ? header.height : header.width, uprightH = turned ? header.width : header.height;
    const double longSide = std::max(header.width, header.height);
    ReducedDecode reduced;
    reduced.atLeast = atLeast;
    reduced.options.reducedForOutput = true;
    // The decoder keeps the long side at least this long; both sides then reach atLeast.
    reduced.options.minLongSide =
        int(std::ceil(std::max(atLeast.width() * longSide / uprightW, atLeast.height() * longSide / uprightH)));
    if (reduced.options.minLongSide * 2 > longSide) return std::nullopt;  // no reduction fits
    return reduced;
}

QImage imageloading::loadUprightReduced(const QString& path, const QVariantMap& props, QSize target,
                                       const platform::DecodeOptions& reading) {
    const platform::ImageHeader header = platform::readImageHeader(path, reading);
    int orientation = displayOrientation(props);
    if (orientation < 1) orientation = header.orientation;
    std::optional<ReducedDecode> reduced = reducedDecode(header, orientation, target);
    if (!reduced) return QImage();
    reduced->options.decoderThreads = reading.decoderThreads;
    reduced->options.whileOpen = reading.whileOpen;
    reduced->options.opened = reading.opened;
    const QImage stored = platform::readImage(path, reduced->options);
    if (stored.isNull()) return QImage();
    QImage upright = platform::orientImage(stored, orientation);
    if (upright.width() < reduced->atLeast.width() || upright.height() < reduced->atLeast.height()) return QImage();
    return upright;
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

QSizeF NiceScaling::scaledSizeToFitSize(QSizeF size, QSizeF box) {
    const double w = size.width(), h = size.height(), bw = box.width(), bh = box.height();
    if (w <= 0 || h <= 0) return QSizeF(0, 0);
    if (w == h) return QSizeF(std::min(bw, bh), std::min(bw, bh));
    const float r = float(h) / float(w);
    if (double(r) * bw > bh) return QSizeF(double(float(w) / float(h)) * bh, bh);
    return QSizeF(bw, double(r) * bw);
}

QSizeF NiceScaling::scaledSizeToCoverSize(QSizeF size, QSizeF box) {
    const double w = size.width(), h = size.height(), bw = box.width(), bh = box.height();
    if (w <= 0 || h <= 0) return QSizeF(0, 0);
    const float r = float(h) / float(w);
    if (bh > double(r) * bw) return QSizeF(double(float(w) / float(h)) * bh, bh);
    return QSizeF(bw, double(r) * bw);
}

namespace {

QImage boxCanvas(QSizeF box) {
    const int w = int(std::lround(box.width())), h = int(std::lround(box.height()));
    if (w <= 0 || h <= 0) return QImage();
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    if (!out.isNull()) out.fill(Qt::transparent);
    return out;
}

}  // namespace

QImage NiceScaling::scaledImageToFitSize(const QImage& image, QSizeF box, int interpolation, bool drawBox) {
    QImage out = boxCanvas(box);
    if (out.isNull() || image.isNull()) {
        platform::log(u"Couldn't scale image %@", QStringLiteral("(empty image or box)"));
        return QImage();
    }
    const QSizeF fitted = scaledSizeToFitSize(QSizeF(image.size()), box);
    // Y-up origin of the fitted rectangle, centred in the box.
    const QRectF yUp((box.width() - fitted.width()) / 2, (box.height() - fitted.height()) / 2, fitted.width(),
                     fitted.height());
    const QRectF target = platform::toQtRect(yUp, box.height());
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform, interpolation > 1);
    if (drawBox) p.fillRect(target, Qt::white);
    p.drawImage(target, image, QRectF(image.rect()));
    if (drawBox) {
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(target);
    }
    return out;
}

QImage NiceScaling::scaledImageToCoverSize(const QImage& image, QSizeF box, int interpolation, bool drawBox,
                                           int align) {
    QImage out = boxCanvas(box);
    if (out.isNull() || image.isNull()) {
        platform::log(u"Couldn't scale image %@", QStringLiteral("(empty image or box)"));
        return QImage();
    }
    const QSizeF covered = scaledSizeToCoverSize(QSizeF(image.size()), box);
    const double cx = (box.width() - covered.width()) / 2, cy = (box.height() - covered.height()) / 2;
    const double right = box.width() - covered.width(), top = box.height() - covered.height();
    QPointF origin(0, 0);  // y-up
    switch (align) {
    case 0: origin = {cx, cy}; break;
    case 1: origin = {cx, top}; break;
    case 2: origin = {0, top}; break;
    case 3: origin = {right, top}; break;
    case 4: origin = {0, cy}; break;
    case 5: origin = {cx, 0}; break;
    case 7: origin = {right, 0}; break;
    case 8: origin = {right, cy}; break;
    default: break;  // 6 and beyond: bottom-left
    }
    const QRectF target = platform::toQtRect(QRectF(origin, covered), box.height());
    QPainter p(&out);
    p.setClipRect(out.rect());
    p.setRenderHint(QPainter::SmoothPixmapTransform, interpolation > 1);
    p.drawImage(target, image, QRectF(image.rect()));
    if (drawBox) {
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(out.rect()).adjusted(0, 0, -1, -1));
    }
    return out;
}
