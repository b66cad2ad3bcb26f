#include "engine/Utils_OverlaysSupport.h"

#include "platform/foundation/Resources.h"

#include <QImageReader>

namespace overlays {

QImage resourceImage(const QString& name) {
    if (name.isEmpty()) return {};
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
