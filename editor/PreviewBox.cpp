#include "editor/PreviewBox.h"

#include <algorithm>
#include <cmath>

namespace previewbox {

QSize sizeFor(QSize room) {
    const double byWidth = double(room.width()) / kBase.width();
    const double byHeight = double(room.height() - kStripHeight) / kBase.height();
    const double scale = std::max(1.0, std::min(byWidth, byHeight));
    return {int(std::floor(kBase.width() * scale)), int(std::floor(kBase.height() * scale))};
}

}  // namespace previewbox
