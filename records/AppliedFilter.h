#pragma once
// One effect step of the batch. The ordered list of steps is the batch's recipe.
//
// filterParameters is an ordered list of one-entry maps {parameter key: value}; see
// records/ParameterList.h for the rules of storing and looking up a key.
#include <QImage>
#include <QString>
#include <QVariantList>
#include <memory>

struct FilterCategoryInfo;

struct AppliedFilter {
    bool isApplied = true;  // only switched-on steps are applied
    QString filterName;
    QString filterDisplayName;
    QVariantList filterParameters;
    QImage filterAppliedImage;  // result thumbnail; a placeholder until the result exists
    // The category the effect was chosen from; not archived, so a decoded step has none.
    std::shared_ptr<FilterCategoryInfo> parentfilterCategory;

    // A switched-on step. The parameter list is copied, so later edits in the editor do
    // not reach the saved step.
    static std::shared_ptr<AppliedFilter> initWithFilterName(
        const QString& filterName, const QString& filterDisplayName,
        const QVariantList& parameters, const QImage& filterAppliedImage,
        const std::shared_ptr<FilterCategoryInfo>& parentCategory);
};
