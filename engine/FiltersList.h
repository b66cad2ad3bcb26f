#pragma once
// The effect catalogue the effects screen offers: the running Core Image filters of the
// stylize, distortion and blur categories that have a thumbnail, and the program's own
// effects and effect sets. Built once on first use (main thread) and never changed.
#include "records/FilterCategoryInfo.h"
#include "records/FilterRecord.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>

class FiltersList {
public:
    using Record = std::shared_ptr<FilterRecord>;
    using Category = std::shared_ptr<FilterCategoryInfo>;

    static FiltersList& sharedFiltersList();

    bool hideDuplicates = true;
    // The three Core Image categories, always all three: Stylize, Distortion Effect, Blur.
    QList<Category> filterCategories;
    // The Core Image categories that offer an effect, then "Add Frames" and "Add Image".
    QList<Category> filterCategoriesExcludingDupes;
    // Every Core Image filter name met while building, excluded ones included.
    QStringList uniqueFilterNames;
    // The "Basic" header record, then the basic effects.
    QList<Record> arrBasicFilters;
    QList<Category> arrMostPopulerCategory;
    QList<Category> arrFXCategory;
    QList<Category> arrRenameAndFormatCat;
    QString cellIdentfier;
    // Every record an applied step can name.
    QList<Record> allAvailableFilters;

    // The Core Image filters never offered.
    static const QStringList& excludedFilterNames();

    // A copy of list sorted ascending by the text under key ("filterName", "categoryName", ...).
    static QList<Record> sortArr(const QList<Record>& list, const QString& key);

    // Builds a catalogue from a given thumbnail dictionary (filter name -> image name);
    // sharedFiltersList uses the "FilterImages" property list of the resources.
    explicit FiltersList(const QVariantMap& filterImages);

private:
    void loadRenameAndFormatCategory();
    void loadBasicFilters();
    void loadFxCategory();
    void loadMostPopulerCategory();
};
