#include "batch/OpenLimit.h"

#include "batch/PhotoStream.h"
#include "engine/ImageProcessing.h"
#include "engine/Utils.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"
#include "records/PhotoFile.h"

#include <algorithm>
#include <cmath>

namespace openlimit {

bool refusedAsTooLarge(const PhotoFile& photo, const QList<std::shared_ptr<AppliedFilter>>& steps) {
    // Most photos are told apart by the size they were added with, without reading them.
    const double longSide = std::max(photo.width, photo.height);
    if (photo.width * photo.height <= double(platform::kDefaultPixelBudget) && longSide <= platform::kMaxImageSide)
        return false;
    const platform::ImageHeader header = platform::readImageHeader(photo.fileURL);
    if (!platform::exceedsPixelBudget(header)) return false;
    const QSizeF source = Utils::sharedUtils().getImageOriginalSizeAtFilePathUrl(photo.fileURL);
    const std::optional<QSizeF> target = PhotoStream::shrinkOnLoadTarget(steps, source);
    if (!target) return true;
    const QSize size(int(std::lround(target->width())), int(std::lround(target->height())));
    const auto reduced = imageloading::reducedDecode(header, header.orientation, size);
    if (!reduced) return true;
    // A JPEG's reduction is known from its header; a camera's half-size development fits.
    if (header.format != platform::ImageFormat::JPEG) return false;
    const platform::JpegRowSource rows(photo.fileURL, reduced->options);
    platform::ImageHeader decoded = header;
    decoded.width = rows.width();
    decoded.height = rows.height();
    return platform::exceedsPixelBudget(decoded);
}

}  // namespace openlimit
