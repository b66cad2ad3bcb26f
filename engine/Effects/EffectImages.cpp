#include "engine/Effects/EffectImages.h"

#include "platform/graphics/YUp.h"

#include <QPainter>
#include <cmath>

namespace effects {

QImage working(const QImage& image) {
    if (image.isNull() || image.format() == QImage::Format_ARGB32_Premultiplied) return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage canvas(int width, int height) {
    QImage out(std::max(1, width), std::max(1, height), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    return out;
}

QImage scaledTo(const QImage& image, QSizeF size) {
    if (image.isNull() || !std::isfinite(size.width()) || !std::isfinite(size.height()) || size.width() <= 0 ||
        size.height() <= 0)
        return image;
    const int w = std::max(1, int(std::lround(size.width())));
    const int h = std::max(1, int(std::lround(size.height())));
    if (w == image.width() && h == image.height()) return working(image);
    return working(image).scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}


}  // namespace effects
