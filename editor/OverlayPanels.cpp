#include "editor/OverlayPanels.h"

#include <QHash>
#include <cmath>

#include "editor/EffectTables.h"
#include "engine/Utils_OverlaysSupport.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/PhotoFile.h"

namespace OverlayPanels {
namespace {

QStringList numbered(const QString& stem, int count, const QString& extension) {
    QStringList names;
    for (int i = 1; i <= count; ++i) names << QStringLiteral("%1%2.%3").arg(stem).arg(i).arg(extension);
    return names;
}

QVariantMap entry(const QString& key, const QVariant& value) { return QVariantMap{{key, value}}; }

}  // namespace

QStringList frameImages(const QString& displayName) {
    static const QHash<QString, QPair<QString, int>> table{
        {"Brush Strokes Frame", {"BrushStroke", 6}}, {"Classic Frame", {"ClassicFrame", 9}},
        {"Fancy Frame", {"FancyFrame", 4}},          {"Film Strip Frame", {"FilmStripFrame", 4}},
        {"Grunge Frame", {"GrungeFrame", 3}},        {"Royal Frame", {"RoyalFrame", 5}},
        {"Vintage Frame", {"VintageFrame", 6}},
    };
    const auto it = table.constFind(displayName);
    return it == table.constEnd() ? QStringList() : numbered(it->first, it->second, QStringLiteral("png"));
}

QStringList textureImages(const QString& displayName) {
    static const QHash<QString, QPair<QString, int>> table{
        {"Lights Effect", {"Lights", 11}}, {"Paint Effect", {"Paint", 3}},   {"Fabric Effect", {"Fabric", 2}},
        {"Grunge Effect", {"Grunge", 5}},  {"Paper Effect", {"Paper", 9}},   {"Art Effect", {"Art", 12}},
        {"Bricks Effect", {"Bricks", 3}},  {"Color Effect", {"Color", 16}},  {"Vintage Effect", {"Vintage", 5}},
    };
    const auto it = table.constFind(displayName);
    return it == table.constEnd() ? QStringList() : numbered(it->first, it->second, QStringLiteral("jpg"));
}

QStringList stickerImages(const QString& setName) {
    static const QHash<QString, int> counts{{"Birthday", 8}, {"Chat Bubbles", 11}, {"Design Elements", 11},
                                            {"Emoticons", 15}, {"Food", 17},       {"Love", 10},
                                            {"Music", 11},    {"Zodiac", 24}};
    const auto it = counts.constFind(setName);
    return it == counts.constEnd() ? QStringList() : numbered(setName, *it, QStringLiteral("png"));
}

QVariantList newImageOverlayParameters(const QRectF& r) {
    const QVariant rect = QVariant::fromValue(platform::Vec(r.x(), r.y(), r.width(), r.height()));
    return {entry("boundedRect", rect),    entry("rotatedRect", rect),
            entry("Opacity", 1.0),         entry("angle", 0.0),
            entry("flipHorizontally", false), entry("flipVertically", false)};
}

double textBoxWidth(double containerWidth) { return containerWidth > 300 ? 300.0 : containerWidth - 60.0; }

double editedFontSize(double storedFraction, double previewHeight) {
    const double points = storedFraction * previewHeight;
    if (!std::isfinite(points)) return 30.0;
    return std::round(points * 2.0) / 2.0;
}

QVariantList newTextParameters(const QString& filterName, double containerWidth) {
    const double width = textBoxWidth(containerWidth);
    QVariantList list{
        entry("textColor", QColor(Qt::white)),
        entry("alpha", filterName == QLatin1String("Add Watermark") ? 0.5 : 1.0),
        entry("boundedRect", QVariant::fromValue(platform::Vec(30, 50, width, 50))),
        entry("rotatedRect", QVariant::fromValue(platform::Vec(20, 20, 120, 120))),
        entry("text", QString()),
        entry("fontName", QStringLiteral("System Default")),
        entry("fontSize", 30.0f),
        entry("textAlignment", 0),
    };
    if (filterName == QLatin1String("Add Date")) {
        list << entry("dateTimeOption", QStringLiteral("Original Date & Time"))
             << entry("dateFormat", QStringLiteral("MMM-DD-YY")) << entry("timeFormat", QStringLiteral("AM/PM"));
    }
    return list;
}

QStringList alignmentButtonImages(int alignment) {
    switch (alignment) {
    case 0: return {"text_left_active.png", "text_center.png", "text_right.png"};
    case 2: return {"text_left.png", "text_center_active.png", "text_right.png"};
    case 1: return {"text_left.png", "text_center.png", "text_right_active.png"};
    default: return {};
    }
}

QString placeholderText() { return QStringLiteral("Double Click To Edit"); }

TextFieldState textFieldState(const QString& filterName, const QVariantList& parameters, const QString& photoPath) {
    const overlays::TextOverlay t = overlays::readTextOverlay(filterName, parameters);
    TextFieldState s;
    s.text = t.text;
    s.fontName = t.fontName;
    s.fontSize = std::isfinite(t.fontSize) ? int(t.fontSize) : 30;
    s.alignment = t.alignment;
    const QColor color = t.color;
    double alpha = t.alpha;
    QString path = photoPath;
    if (path.isEmpty() && AppDelegate::shared().selectedImageFile) path = AppDelegate::shared().selectedImageFile->filePath;
    if (filterName == QLatin1String("Add Date"))
        s.text = CommonFunc::getDateTimeStringForImageUrl(path, t.dateOption, t.dateFormat, t.timeFormat);
    if (!std::isfinite(alpha)) alpha = 1.0;
    s.color = QColor::fromRgbF(color.redF(), color.greenF(), color.blueF(), std::clamp(alpha, 0.0, 1.0));
    return s;
}

int committedFontSize(const QString& typed) {
    bool ok = false;
    const int size = typed.trimmed().toInt(&ok);
    return ok && size > 7 ? size : 8;
}

}  // namespace OverlayPanels
