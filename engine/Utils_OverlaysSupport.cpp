#include "engine/Utils_OverlaysSupport.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Resources.h"

#include <QImageReader>

namespace overlays {

QImage resourceImage(const QString& name) {
    if (name.isEmpty()) return {};
    // Names come from stored steps; only plain file names of the resource folder are looked
    // up, so a step can never make the engine read a picture from elsewhere on the disk.
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.startsWith(QLatin1Char('.'))) {
        platform::log(u"picture name %@ is not a resource name", name);
        return {};
    }
    QStringList candidates{name};
    if (!name.contains(QLatin1Char('.')))
        candidates << name + QStringLiteral(".png") << name + QStringLiteral(".jpg");
    for (const QString& c : candidates) {
        const QString path = platform::resourcePath(c);
        if (path.isEmpty()) continue;
        QImageReader reader(path);
        reader.setAutoTransform(false);
        QImage img = reader.read();
        if (!img.isNull()) return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return {};
}

}  // namespace overlays
