// The program's own whole-image effects: rotate with flips, border, tint.
#include "engine/Utils.h"

#include "engine/Effects/EffectImages.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>

using effects::canvas;
using effects::working;

QImage Utils::rotateImagedByDegrees(double degrees, QImage&& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0 || degrees == 0 || !std::isfinite(degrees))
        return std::move(image);
    const int w = image.width(), h = image.height();
    QImage src = working(image);

    // The picture turned clockwise by the degrees on a canvas as large as its turned bounds.
    QImage turned;
    const double quarter = std::fmod(degrees, 90.0);
    QTransform turn;
    turn.rotate(degrees);  // y-down: positive angles turn clockwise on screen
    if (quarter == 0) {
        // Quarter turns move pixels without resampling.
        turned = src.transformed(turn, Qt::FastTransformation);
    } else {
        const QRectF bounds = turn.mapRect(QRectF(0, 0, w, h));
        turned = canvas(int(std::ceil(bounds.width() - 1e-6)), int(std::ceil(bounds.height() - 1e-6)));
        QPainter p(&turned);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        p.translate(turned.width() / 2.0, turned.height() / 2.0);
        p.rotate(degrees);
        p.translate(-w / 2.0, -h / 2.0);
        p.drawImage(QPointF(0, 0), src);
    }
    // Only the turned picture is drawn from here on.
    src = QImage();
    image = QImage();

    // Shrink the turned picture to fit the source size and centre it; the corners it does not
    // cover stay transparent.
    QSizeF s = getAspectFitModeSizeWithsize(QSizeF(turned.width(), turned.height()), QSizeF(w, h));
    if (s.height() > h) s = aspectFitSizeWithMaxHeight(s, h);
    if (s.width() > w) s = aspectFitSizeWithMaxSize(s, w);
    QImage out = canvas(w, h);
    QPainter p(&out);
    const QRectF target =
        platform::toQtRect(QRectF((w - s.width()) / 2, (h - s.height()) / 2, s.width(), s.height()), h);
    if (std::lround(s.width()) == turned.width() && std::lround(s.height()) == turned.height() &&
        target.x() == std::floor(target.x()) && target.y() == std::floor(target.y())) {
        p.drawImage(target.topLeft(), turned);
    } else {
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        p.drawImage(target, turned);
    }
    return out;
}

QImage Utils::flipImage(const QImage& image, const QVariantList& filterParameters) {
    bool horizontally = true, vertically = false;
    effects::forEachEntry(filterParameters, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("flipHorizontally"))
            horizontally = effects::numberOr(v, 0) != 0;
        else if (key == QLatin1String("flipVertically"))
            vertically = effects::numberOr(v, 0) != 0;
    });
    if (image.isNull() || (!horizontally && !vertically)) return image;
    return working(image).mirrored(horizontally, vertically);
}

QImage Utils::addBorderToImage(const QImage& image, const QColor& color, float borderWidth, float cornerRadius) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return image;
    const double w = image.width(), h = image.height();
    // Widths and radii are kept in points of the editor's reference preview, so a border keeps
    // its proportion on every photo size.
    double reference = AppDelegate::shared().scaledImgSize.width();
    if (!(reference > 0)) reference = 580.0;
    // Past twice the longer side the inner half of the stroke already covers the whole
    // picture; wider pens are dropped by the raster engine and would draw nothing at all.
    const double lineWidth =
        std::isfinite(borderWidth) ? std::clamp(w * borderWidth / reference, 0.0, 2 * std::max(w, h)) : 0.0;
    double radius = std::isfinite(cornerRadius) ? std::max(0.0, cornerRadius * w / reference) : 0.0;
    radius = std::min(radius, std::min(w, h) / 2);

    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, w, h), radius, radius);
    QImage out = canvas(image.width(), image.height());
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(path);
    p.drawImage(QPointF(0, 0), working(image));
    // The stroke runs along the edge under the clip, so only its inner half shows. A zero width
    // draws nothing (a Qt pen of width 0 would draw a hairline).
    if (lineWidth > 0) {
        QPen pen(color.isValid() ? color : QColor(Qt::gray));
        pen.setWidthF(lineWidth);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    return out;
}

QImage Utils::imageTintedWithColor(const QColor& color, const QImage& inputmage) {
    QImage out = working(inputmage).copy();
    if (out.isNull() || !color.isValid()) return out;
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.fillRect(out.rect(), color);
    return out;
}
