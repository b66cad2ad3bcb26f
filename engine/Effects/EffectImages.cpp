#include "engine/Effects/EffectImages.h"

#include <algorithm>

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

}  // namespace effects
