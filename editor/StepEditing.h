#pragma once
// What the preview draws while an effect is set up, and what an edited step keeps. A new
// effect is set up over every switched-on step of the batch (and a shown favourite's). A
// step being edited is set up over the steps before it only, so its panel sees the picture
// that step will get, and the steps after it are drawn over the panel's effect in their
// order. An edited step keeps its stored values except those the user changed.
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <memory>

#include "records/AppliedFilter.h"

namespace StepEditing {

using StepList = QList<std::shared_ptr<AppliedFilter>>;

struct PreviewLayers {
    StepList below;  // the picture the panel works on
    StepList above;  // drawn over the panel's effect
};

// `edited` not in `steps` (or null): every step below, the favourite's after them. Otherwise
// the steps before it below, the steps after it above as far as the first one that changes
// the picture's shape: the panel's handles and boxes stand on the picture below, which a
// crop would no longer match.
PreviewLayers layersFor(const StepList& steps, const std::shared_ptr<AppliedFilter>& edited,
                        const StepList& favourite = {});

// True for a step whose picture has the size of the picture it was given.
bool keepsPictureShape(const AppliedFilter& step);

// The list an edited step keeps: `stored` with the value of each changed key taken from the
// panel's list `committed` (a changed key the stored list lacks is added). Nothing changed
// gives `stored` unchanged.
QVariantList editedParameters(const QVariantList& stored, const QVariantList& committed,
                              const QSet<QString>& changedKeys);

}  // namespace StepEditing
