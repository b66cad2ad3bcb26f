// The effect catalogue: categories and effects in their fixed order.
#include "engine/FiltersList.h"
#include "platform/coreimage/CIFilterRegistry.h"
#include "platform/foundation/Resources.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

QStringList names(const QList<FiltersList::Record>& records) {
    QStringList out;
    for (const auto& r : records) out << r->filterName;
    return out;
}
QStringList names(const QList<FiltersList::Category>& categories) {
    QStringList out;
    for (const auto& c : categories) out << c->categoryName;
    return out;
}

const QStringList kOwnTail = {
    "Batch Conversion", "Basic", "Resize", "Rotate", "CICrop", "Custom Enhance", "RGB Adjust", "Add Text",
    "Add Image", "Add Border", "Add Frames", "Add Date", "Black & White", "CIVignetteEffect", "CISepiaTone",
    "Lights Effect", "Paint Effect", "Fabric Effect", "Grunge Effect", "Paper Effect", "Art Effect",
    "Bricks Effect", "Color Effect", "Vintage Effect", "Classic Frame", "Fancy Frame", "Film Strip Frame",
    "Grunge Frame", "Royal Frame", "Vintage Frame", "Birthday", "Chat Bubbles", "Design Elements", "Emoticons",
    "Food", "Love", "Music", "Zodiac", "Add Custom Image"};

class Catalogue : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A filter listed under both Stylize and Blur.
        platform::ci::registerFilter({"CIZZListedTwice", "Listed Twice", {kCICategoryStylize, kCICategoryBlur},
                                      {platform::ci::imageInput()},
                                      [](const platform::ci::CIFilterArgs& a) { return a.image(kCIInputImageKey); }});
    }
};

TEST_F(Catalogue, OffersOnlyFiltersWithThumbnailsOutsideTheExclusionList) {
    const FiltersList list(QVariantMap{{"CIGaussianBlur", "Gaussian Blur"},
                                       {"CIZoomBlur", "Zoom Blur"},
                                       {"CIBoxBlur", "Box Blur"},  // excluded
                                       {"CIZZListedTwice", "Listed Twice"},
                                       {"CINoSuchFilter", "x"}});
    ASSERT_EQ(names(list.filterCategories),
              (QStringList{kCICategoryStylize, kCICategoryDistortionEffect, kCICategoryBlur}));
    const auto stylize = list.filterCategories[0], blur = list.filterCategories[2];
    EXPECT_EQ(names(stylize->filterRecordsWithNoDuplicates), QStringList{"CIZZListedTwice"});
    EXPECT_EQ(names(blur->filterRecordsWithNoDuplicates), (QStringList{"CIGaussianBlur", "CIZoomBlur"}));
    EXPECT_EQ(blur->filterRecordsWithNoDuplicates[0]->filterImageName, QStringLiteral("Gaussian Blur"));
    EXPECT_EQ(blur->filterRecordsWithNoDuplicates[0]->filterDisplayName, QStringLiteral("Gaussian Blur"));

    // The blur category still lists the duplicate, flagged, and never the excluded filter.
    bool sawDuplicate = false;
    for (const auto& r : blur->filterRecords) {
        EXPECT_NE(r->filterName, QStringLiteral("CIBoxBlur"));
        if (r->filterName == QLatin1String("CIZZListedTwice")) sawDuplicate = r->filterIsDuplicate;
    }
    EXPECT_TRUE(sawDuplicate);
    EXPECT_TRUE(list.uniqueFilterNames.contains("CIBoxBlur"));
    EXPECT_EQ(list.uniqueFilterNames.count("CIZZListedTwice"), 1);

    EXPECT_EQ(names(list.filterCategoriesExcludingDupes),
              (QStringList{kCICategoryStylize, kCICategoryBlur, "Add Frames", "Add Image"}));
    EXPECT_EQ(names(list.arrFXCategory),
              (QStringList{"FX", "customTextureEffectsFilters", kCICategoryStylize, kCICategoryBlur}));
    EXPECT_EQ(names(list.allAvailableFilters), QStringList({"CIZZListedTwice", "CIGaussianBlur", "CIZoomBlur"}) + kOwnTail);
}

TEST_F(Catalogue, OwnListsWithoutAnyThumbnail) {
    const FiltersList list{QVariantMap{}};
    EXPECT_EQ(list.filterCategories.size(), 3);
    for (const auto& c : list.filterCategories) EXPECT_TRUE(c->filterRecordsWithNoDuplicates.isEmpty());
    EXPECT_EQ(names(list.filterCategoriesExcludingDupes), (QStringList{"Add Frames", "Add Image"}));
    EXPECT_EQ(names(list.arrFXCategory), (QStringList{"FX", "customTextureEffectsFilters"}));
    EXPECT_EQ(list.arrFXCategory[1]->categoryDisplayName, QStringLiteral("Texture Effects"));
    EXPECT_EQ(names(list.allAvailableFilters), kOwnTail);
    EXPECT_EQ(names(list.arrRenameAndFormatCat), (QStringList{"RenameAndFormat", "Batch Conversion"}));
    EXPECT_EQ(names(list.arrMostPopulerCategory), (QStringList{"MOST POPULER", "Add Frames", "Add Image"}));

    // Only "Add Image" and "Add Frames" open a category; the frame row keeps the category's
    // name with its own label.
    QStringList categoryRows;
    for (const auto& r : list.arrBasicFilters) {
        if (r->isCategory) categoryRows << r->filterName;
        EXPECT_EQ(r->filterImageName, QStringLiteral("birds_all_applied"));
    }
    EXPECT_EQ(categoryRows, (QStringList{"Add Image", "Add Frames"}));
    EXPECT_EQ(list.arrBasicFilters[9]->filterDisplayName, QStringLiteral("Add Frame"));
    EXPECT_EQ(list.arrBasicFilters[12]->filterDisplayName, QStringLiteral("Vignette"));
    // Headers are the categories without offered records.
    EXPECT_TRUE(list.arrFXCategory[0]->filterRecordsWithNoDuplicates.isEmpty());
    EXPECT_FALSE(list.arrFXCategory[1]->filterRecordsWithNoDuplicates.isEmpty());
}

TEST_F(Catalogue, SharedCatalogueReadsTheResourceList) {
    const FiltersList& shared = FiltersList::sharedFiltersList();
    EXPECT_EQ(&shared, &FiltersList::sharedFiltersList());
    EXPECT_GE(shared.allAvailableFilters.size(), kOwnTail.size());
    EXPECT_EQ(names(shared.allAvailableFilters).mid(shared.allAvailableFilters.size() - kOwnTail.size()), kOwnTail);

    // The Core Image effects the application has pictures for, by category.
    ASSERT_EQ(shared.filterCategories.size(), 3);
    EXPECT_EQ(names(shared.filterCategories[0]->filterRecordsWithNoDuplicates),
              (QStringList{"CIBloom", "CICrystallize", "CIEdges", "CIPixellate", "CIPointillize"}));
    EXPECT_EQ(names(shared.filterCategories[1]->filterRecordsWithNoDuplicates),
              (QStringList{"CIBumpDistortion", "CIBumpDistortionLinear", "CICircleSplashDistortion", "CIPinchDistortion",
                           "CITorusLensDistortion", "CITwirlDistortion", "CIVortexDistortion"}));
    EXPECT_EQ(names(shared.filterCategories[2]->filterRecordsWithNoDuplicates),
              (QStringList{"CIGaussianBlur", "CIMotionBlur", "CIZoomBlur"}));
    // Every offered effect has its picture among the resources.
    for (const auto& category : shared.filterCategories)
        for (const auto& r : category->filterRecordsWithNoDuplicates)
            EXPECT_FALSE(platform::resourcePath(r->filterImageName + ".png").isEmpty()) << qPrintable(r->filterName);
}

}  // namespace
