#include "records/CustomPicture.h"

#include <QImageReader>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Log.h"

namespace CustomPicture {

QImage pictureForStep(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // Decoded straight at the kept size where the format can (a JPEG is then never held at
    // full size); fitting both sides within a square does not depend on the orientation.
    const QSize stored = reader.size();
    if (stored.isValid()) {
        const QSize fitted = platform::sizeFittingArchive(stored);
        if (fitted != stored) reader.setScaledSize(fitted);
    }
    const QImage picture = reader.read();
    if (picture.isNull()) {
        platform::log(u"custom picture %@ cannot be read (%@)", path, reader.errorString());
        return {};
    }
    return platform::pictureFittingArchive(picture);
}

}  // namespace CustomPicture
