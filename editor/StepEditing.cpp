#include "editor/StepEditing.h"

#include "engine/Effects/SizeRelativeKeys.h"
#include "records/ParameterList.h"

namespace StepEditing {

bool keepsPictureShape(const AppliedFilter& step) { return step.filterName != QLatin1String("CICrop"); }

PreviewLayers layersFor(const StepList& steps, const std::shared_ptr<AppliedFilter>& edited, const StepList& favourite) {
    PreviewLayers layers;
    const qsizetype at = edited ? steps.indexOf(edited) : -1;
    if (at < 0) {
        layers.below = steps + favourite;
        return layers;
    }
    layers.below = steps.mid(0, at);
    for (qsizetype i = at + 1; i < steps.size(); ++i) {
        if (!steps[i]) continue;
        if (steps[i]->isApplied && !keepsPictureShape(*steps[i])) break;
        layers.above << steps[i];
    }
    return layers;
}

QVariantList editedParameters(const QVariantList& stored, const QVariantList& committed,
                              const QSet<QString>& changedKeys) {
    if (changedKeys.isEmpty()) return stored;
    // The changed values are in today's form, so the stored ones are brought to it first.
    QVariantList out = effects::withPlainStrengths(stored);
    for (const QVariant& entry : committed) {
        const QVariantMap m = entry.toMap();
        if (m.isEmpty() || !changedKeys.contains(m.firstKey())) continue;
        ParameterList::setValueForKey(out, m.firstKey(), ParameterList::valueForKey(committed, m.firstKey()));
    }
    return out;
}

}  // namespace StepEditing
