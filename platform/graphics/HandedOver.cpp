#include "platform/graphics/HandedOver.h"

#include "platform/foundation/Log.h"

namespace platform {

bool holdsPixelsAlone(const QImage& picture, QStringView handedTo) {
    if (picture.isNull() || picture.isDetached()) return true;
    log(u"a picture handed to %@ is still held elsewhere: it is copied", handedTo.toString());
    return false;
}

}  // namespace platform
