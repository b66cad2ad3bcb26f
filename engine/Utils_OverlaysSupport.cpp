#include "engine/Utils_OverlaysSupport.h"

#include "engine/Utils.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Resources.h"

#include <QDateTime>
#include <QFileInfo>
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
    if (!name.contains(QLatin1Char('.'))) candidates << name + QStringLiteral(".png") << name + QStringLiteral(".jpg");
    for (const QString& c : candidates) {
        const QString path = platform::resourcePath(c);
        if (path.isEmpty()) continue;
        // Kept by file and version: another resource folder, or a file replaced, is read anew.
        const QFileInfo file(path);
        const QString key = platform::format(u"%@ %@ %@", path, file.size(), file.lastModified().toMSecsSinceEpoch());
        const QImage img = Utils::sharedUtils().resourcePictures().picture(key, [&] {
            QImageReader reader(path);
            reader.setAutoTransform(false);
            const QImage read = reader.read();
            return read.isNull() ? read : read.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        });
        if (!img.isNull()) return img;
    }
    return {};
}

TextOverlay readTextOverlay(const QString& filterName, const QVariantList& params) {
    const bool isText = filterName == QLatin1String("Add Text");
    const bool isDate = filterName == QLatin1String("Add Date");
    TextOverlay t;
    t.text = isText ? QStringLiteral("Double Click To Edit Text") : QStringLiteral("WaterMark");
    t.alpha = isText ? 1.0f : 0.5f;
    forEachParameter(params, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("rotatedRect")) {
            if (v.canConvert<platform::Vec>() && v.value<platform::Vec>().isRect()) t.rotatedRect = v.value<platform::Vec>();
        } else if (key == QLatin1String("textColor")) {
            const QColor c = v.value<QColor>();
            if (c.isValid()) t.color = c;
        } else if (key == QLatin1String("text")) {
            t.text = v.toString();
        } else if (key == QLatin1String("fontSize")) {
            t.fontSize = numberOr(v, t.fontSize);
        } else if (key == QLatin1String("fontName")) {
            t.fontName = v.toString();
        } else if (key == QLatin1String("alpha")) {
            t.alpha = float(numberOr(v, t.alpha));
        } else if (key == QLatin1String("textAlignment")) {
            t.alignment = int(numberOr(v, t.alignment));
        } else if (key == QLatin1String("angle")) {
            // Only quarter turns: any other angle reads as upright.
            const double a = numberOr(v, 0);
            const long turns = std::isfinite(a) ? std::lround(a / 90.0) : 0;
            t.quarterTurnDegrees = std::isfinite(a) && std::abs(a - turns * 90.0) < 1e-6 ? int(((turns % 4) + 4) % 4) * 90 : 0;
        } else if (isDate && key == QLatin1String("dateTimeOption")) {
            t.dateOption = v.toString();
        } else if (isDate && key == QLatin1String("dateFormat")) {
            t.dateFormat = v.toString();
        } else if (isDate && key == QLatin1String("timeFormat")) {
            t.timeFormat = v.toString();
        }
    });
    return t;
}

}  // namespace overlays
