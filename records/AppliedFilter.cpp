#include "records/AppliedFilter.h"

std::shared_ptr<AppliedFilter> AppliedFilter::initWithFilterName(
    const QString& filterName, const QString& filterDisplayName, const QVariantList& parameters,
    const QImage& filterAppliedImage, const std::shared_ptr<FilterCategoryInfo>& parentCategory) {
    auto step = std::make_shared<AppliedFilter>();
    step->isApplied = true;
    step->filterName = filterName;
    step->filterDisplayName = filterDisplayName;
    // QVariantList is a value: the step keeps its own list whatever the editor does next.
    step->filterParameters = parameters;
    step->filterAppliedImage = filterAppliedImage;
    step->parentfilterCategory = parentCategory;
    return step;
}
