#include "editor/SlotPlanner.h"

#include "engine/FilterCustomization.h"
#include "platform/foundation/Values.h"
#include "records/ParameterList.h"

#include <cmath>

using platform::Vec;

namespace {

bool isOverlayWithAlpha(const QString& name) {
    static const QStringList names = {"Add Custom Image", "Add Logo", "Add Date", "Add Text", "Add Watermark"};
    return names.contains(name);
}

QVariant savedValue(const PlanInput& input, const QString& key) {
    return ParameterList::valueForKey(input.savedStep, key);
}

double attrNumber(const QVariantMap& attribute, const char* key, double fallback) {
    const QVariant v = attribute.value(QString::fromLatin1(key));
    return platform::isNumber(v) ? platform::numberValue(v) : fallback;
}

}  // namespace

QString SlotPlanner::coreImageFilterName(const QString& effectName) {
    if (effectName == QLatin1String("Brightness") || effectName == QLatin1String("Contrast"))
        return QStringLiteral("CIColorControls");
    return effectName;
}

QString SlotPlanner::sliderLabel(const QString& key) {
    QString label = key;
    label.remove(QStringLiteral("input"));
    if (label == QLatin1String("alpha") || label == QLatin1String("Alpha")) return QStringLiteral("Opacity");
    if (label == QLatin1String("EV") || label == QLatin1String("Ev")) return QStringLiteral("Exposure");
    if (label == QLatin1String("angle")) return QStringLiteral("Angle");
    if (label == QLatin1String("borderWidth")) return QStringLiteral("Width");
    if (label == QLatin1String("cornerRadius")) return QStringLiteral("Radius");
    if (label == QLatin1String("Refraction")) return QStringLiteral("Angle");
    return label;
}

QString SlotPlanner::colourWellLabel(const QString& key) {
    QString label = key;
    label.remove(QStringLiteral("input"));
    if (label == QLatin1String("textColor")) label = QStringLiteral("Text Color");
    else if (label == QLatin1String("borderColor")) label = QStringLiteral("Border Color");
    return label + QStringLiteral(" :");
}

SliderPlan SlotPlanner::sliderFor(const PlanInput& input, const QString& key, double valueGiven,
                                  const QVariantMap& attribute) {
    const QString& name = input.effectName;
    SliderPlan s;
    s.key = key;
    s.label = sliderLabel(key);
    double minimum = 0, maximum = 1, value = valueGiven;
    if (name == QLatin1String("Rotate")) {
        maximum = 360;
    } else if (name == QLatin1String("Add Border")) {
        maximum = key == QLatin1String("borderWidth") && valueGiven >= 0 ? 100 : 1000;
    } else if (isOverlayWithAlpha(name)) {
        maximum = key == QLatin1String("alpha") && valueGiven >= 0 ? 1 : 360;
    } else if (name == QLatin1String("Black & White")) {
        maximum = 1;
    } else if (name == QLatin1String("RGB Adjust")) {
        // The catalogue alone knows these ranges.
        minimum = 0;
        maximum = 0;
    } else {
        minimum = attrNumber(attribute, kCIAttributeSliderMin, 0);
        maximum = attrNumber(attribute, kCIAttributeSliderMax, 1);
        value = attrNumber(attribute, kCIAttributeDefault, minimum);
    }
    const FilterCustomization& fc = FilterCustomization::sharedInstance();
    s.minimum = fc.getMinValueForFilter(name, key, minimum);
    s.maximum = fc.getMaxValueForFilter(name, key, maximum);
    s.value = fc.getDefaultValueForFilter(name, key, value);
    if (input.editing) {
        const QVariant saved = savedValue(input, key);
        // A value missing from the step reads as 0.
        const float stored = platform::isNumber(saved) ? float(platform::numberValue(saved)) : 0.0f;
        s.value = FilterCustomization::sharedInstance().getConvertedParamterFromPercentBase(
            stored, key, input.previewSize, name);
    }
    if (!std::isfinite(s.value)) s.value = s.minimum;
    return s;
}

PanelPlan SlotPlanner::planCoreImage(const PlanInput& input) {
    PanelPlan plan;
    const CIFilterPtr filter = CIFilter::filterWithName(coreImageFilterName(input.effectName));
    if (!filter) return plan;
    plan.valid = true;
    filter->setDefaults();
    const QVariantMap attributes = filter->attributes();
    plan.title = input.effectName == QLatin1String("Brightness") || input.effectName == QLatin1String("Contrast")
                     ? input.effectName
                     : FilterCustomization::sharedInstance().getCustomDisplayNameForFilter(
                           attributes.value(QString::fromLatin1(kCIAttributeFilterDisplayName)).toString());
    plan.hasTime = attributes.contains(QString::fromLatin1(kCIInputTimeKey));
    plan.usesSecondImage = attributes.contains(QString::fromLatin1(kCIInputTargetImageKey)) ||
                           attributes.contains(QString::fromLatin1(kCIInputBackgroundImageKey));

    auto write = [&](const QString& key, const QVariant& value) {
        for (auto& w : plan.writes)
            if (w.first == key) {
                w.second = value;
                return;
            }
        plan.writes.append({key, value});
    };

    // Starting scalars, with the filter's own values, in this order.
    static const char* const kOrder[] = {"inputRadius", "inputAngle", "inputScale", "inputWidth",
                                         "inputIntensity", "inputFalloff", "inputLevels", "inputRefraction"};
    for (const char* k : kOrder) {
        const QString key = QString::fromLatin1(k);
        if (!attributes.contains(key)) continue;
        QVariant v = filter->valueForKey(key);
        if (!v.isValid()) {
            if (input.effectName == QLatin1String("CIBloom") && key == QLatin1String("inputRadius")) v = 10.0;
            else continue;
        }
        write(key, v);
    }

    const QPointF centre(input.previewSize.width() / 2, input.previewSize.height() / 2);
    for (const QString& key : filter->inputKeys()) {
        const QVariantMap attribute = attributes.value(key).toMap();
        if (key.contains(QLatin1String("inputColor"))) {
            if (input.effectName == QLatin1String("RGB Adjust")) continue;
            ColourWellPlan w;
            w.key = key;
            w.label = colourWellLabel(key);
            w.colour = attribute.value(QString::fromLatin1(kCIAttributeDefault)).value<QColor>();
            if (input.editing) {
                const QVariant saved = savedValue(input, key);
                if (saved.canConvert<QColor>() && saved.value<QColor>().isValid()) {
                    w.colour = saved.value<QColor>();
                    // The reopened step keeps its colour even when the well is not touched.
                    write(key, QVariant::fromValue(w.colour));
                }
            }
            plan.wells.append(w);
        } else if (attribute.contains(QString::fromLatin1(kCIAttributeSliderMax))) {
            SliderPlan s = sliderFor(input, key, 0, attribute);
            // The preview starts from the value the slider shows.
            write(key, s.value);
            plan.sliders.append(s);
        } else if (attribute.value(QString::fromLatin1(kCIAttributeType)).toString() ==
                       QLatin1String(kCIAttributeTypePosition) &&
                   (key.contains(QLatin1String("inputPoint")) || key == QLatin1String("inputCenter"))) {
            PointPlan p;
            p.key = key;
            p.point = centre;
            p.label = attribute.value(QString::fromLatin1(kCIAttributeDisplayName)).toString();
            if (p.label.isEmpty()) p.label = QString(key).remove(QLatin1String("input"));
            if (input.editing && key == QLatin1String("inputCenter")) {
                const QVariant saved = savedValue(input, key);
                if (saved.canConvert<Vec>()) {
                    const Vec v = saved.value<Vec>();
                    p.point = QPointF(v.X() * input.previewSize.width(), v.Y() * input.previewSize.height());
                }
            }
            write(key, QVariant::fromValue(Vec(p.point.x(), p.point.y())));
            plan.points.append(p);
        }
    }
    return plan;
}
