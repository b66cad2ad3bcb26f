#include "records/CustomPicture.h"

#include <algorithm>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Log.h"
#include "platform/imageio/ImageIO.h"

namespace CustomPicture {

QImage pictureForStep(const QString& path) {
    // The program's own readers, so every picture a photo can be is also one a step can
    // draw (TIFF variants, JPEG 2000, CMYK, ...).
    const platform::ImageHeader header = platform::readImageHeader(path);
    if (!header.valid()) {
        platform::log(u"custom picture %@ cannot be read", path);
        return {};
    }
    // Decoded near the kept size where the format can (a large JPEG is then never held at
    // full size); fitting both sides within a square does not depend on the orientation.
    platform::DecodeOptions options;
    const QSize stored(header.width, header.height);
    const QSize fitted = platform::sizeFittingArchive(stored);
    if (fitted != stored) options.minLongSide = std::max(fitted.width(), fitted.height());
    const QImage decoded = platform::readImage(path, options);
    if (decoded.isNull()) {
        platform::log(u"custom picture %@ cannot be read", path);
        return {};
    }
    // Drawn into photos as sRGB pixels, the colours photos have unless they say otherwise;
    // transparency stays.
    QImage picture = platform::pixelsForOutput(platform::orientImage(decoded, header.orientation),
                                               platform::ColourTarget{false, false, true})
                         .pixels;
    if (platform::isOpaqueImage(picture)) picture = picture.convertToFormat(QImage::Format_RGB32);
    return platform::pictureFittingArchive(picture);
}

}  // namespace CustomPicture
