#include "engine/FiltersList.h"

#include "platform/coreimage/CIFilter.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"

#include <algorithm>

namespace {

const char* const kOwnImage = "birds_all_applied";

std::shared_ptr<FilterRecord> ownRecord(const QString& name, const QString& label = {}, bool isCategory = false) {
    auto r = std::make_shared<FilterRecord>();
    r->filterName = name;
    r->filterDisplayName = label.isEmpty() ? name : label;
    r->filterImageName = QString::fromLatin1(kOwnImage);
    r->isCategory = isCategory;
    return r;
}

std::shared_ptr<FilterCategoryInfo> ownCategory(const QString& name, const QString& label,
                                                const QList<std::shared_ptr<FilterRecord>>& records) {
    auto c = std::make_shared<FilterCategoryInfo>();
    c->categoryName = name;
    c->categoryDisplayName = label;
    c->categoryImage = QString::fromLatin1(kOwnImage);
    c->filterRecordsWithNoDuplicates = records;
    return c;
}

QList<std::shared_ptr<FilterRecord>> ownRecords(std::initializer_list<const char*> names) {
    QList<std::shared_ptr<FilterRecord>> out;
    for (const char* n : names) out.append(ownRecord(QString::fromUtf8(n)));
    return out;
}

QVariantMap loadFilterImages() {
    const QString path = platform::resourcePath(QStringLiteral("FilterImages.plist"));
    if (path.isEmpty()) {
        platform::log(u"FilterImages.plist not found; no Core Image effect is offered");
        return {};
    }
    const QVariant root = platform::readPlistFile(path);
    if (root.typeId() != QMetaType::QVariantMap) {
        platform::log(u"FilterImages.plist is unreadable; no Core Image effect is offered");
        return {};
    }
    return root.toMap();
}

}  // namespace

const QStringList& FiltersList::excludedFilterNames() {
    static const QStringList names{
        "CISourceOverCompositing", "CIDisplacementDistortion", "CIDroste", "CIGlassDistortion", "CIStretchCrop",
        "CIAffineTransform", "CIPerspectiveCorrection", "CIPerspectiveTransform", "CISourceOutCompositing",
        "CISourceAtopCompositing", "CISourceInCompositing", "CIMultiplyCompositing", "CIColorClamp",
        "CIColorMatrix", "CIColorPolynomial", "CITemperatureAndTint", "CIToneCurve", "CIColorCrossPolynomial",
        "CIColorMap", "CIColorCube", "CIColorCubeWithColorSpace", "CIPageCurlTransition",
        "CIEightfoldReflectedTile", "CIFourfoldReflectedTile", "CIFourfoldRotatedTile",
        "CIFourfoldTranslatedTile", "CIGlideReflectedTile", "CIParallelogramTile", "CIPerspectiveTile",
        "CISixfoldReflectedTile", "CISixfoldRotatedTile", "CITriangleTile", "CITwelvefoldReflectedTile",
        "CIAztecCodeGenerator", "CICode128BarcodeGenerator", "CILenticularHaloGenerator", "CIQRCodeGenerator",
        "CIRandomGenerator", "CISunbeamsGenerator", "CIAreaAverage", "CIAreaHistogram", "CIAreaMaximum",
        "CIAreaMaximumAlpha", "CIAreaMinimum", "CIAreaMinimumAlpha", "CIColumnAverage",
        "CIHistogramDisplayFilter", "CIRowAverage", "CIBlendWithAlphaMask", "CIBlendWithMask",
        "CIConvolution3X3", "CIConvolution5X5", "CIConvolution7X7", "CIConvolution9Horizontal",
        "CIConvolution9Vertical", "CIShadedMaterial", "CIMaskedVariableBlur", "CIRippleTransition",
        "CIDepthOfField", "CICircularWrap", "CIGlassLozenge", "CIEdgeWork", "CIMaskToAlpha",
        "CILanczosScaleTransform", "CIDisintegrateWithMaskTransition", "CISRGBToneCurveToLinear",
        "CILinearToSRGBToneCurve", "CIStraightenFilter", "CILineOverlay", "CISpotLight", "CIWhitePointAdjust",
        "CIColorInvert", "CIPhotoEffectFade", "CIPhotoEffectInstant", "CIPhotoEffectMono", "CIPhotoEffectNoir",
        "CIPhotoEffectProcess", "CIPhotoEffectTonal", "CIPhotoEffectTransfer", "CIVignette", "CIDotScreen",
        "CIGloom", "CIHatchedScreen", "CIHeightFieldFromMask", "CIHighlightShadowAdjust", "CILineScreen",
        "CISpotColor", "CIHexagonalPixellate", "CIHoleDistortion", "CIMedianFilter", "CINoiseReduction",
        "CIFalseColor", "CIMinimumComponent", "CIMaximumComponent", "CICircularScreen", "CICMYKHalftone",
        "CIColorControls", "CIExposureAdjust", "CIGammaAdjust", "CIVibrance", "CISepiaTone", "CIVignetteEffect",
        "CIComicEffect", "CIBoxBlur", "CIDiscBlur",
    };
    return names;
}

FiltersList& FiltersList::sharedFiltersList() {
    static FiltersList instance(loadFilterImages());
    return instance;
}

FiltersList::FiltersList(const QVariantMap& filterImages) {
    struct CoreCategory {
        const char* name;
        const char* label;
        const char* image;
    };
    const CoreCategory coreCategories[] = {
        {kCICategoryStylize, "Stylize", "birds_Edges"},
        {kCICategoryDistortionEffect, "Distortion Effect", "birds_Circle_Space"},
        {kCICategoryBlur, "Blur", "birds_ZoomBlur"},
    };
    const QStringList& excluded = excludedFilterNames();

    for (const CoreCategory& cc : coreCategories) {
        auto category = std::make_shared<FilterCategoryInfo>();
        category->categoryName = QString::fromLatin1(cc.name);
        category->categoryDisplayName = QString::fromLatin1(cc.label);
        category->categoryImage = QString::fromLatin1(cc.image);

        for (const QString& name : CIFilter::filterNamesInCategory(category->categoryName)) {
            const CIFilterPtr filter = CIFilter::filterWithName(name);
            auto record = std::make_shared<FilterRecord>();
            record->filterName = name;
            if (filter) record->filterDisplayName = filter->attributes().value(kCIAttributeFilterDisplayName).toString();
            if (uniqueFilterNames.contains(name)) record->filterIsDuplicate = true;
            else uniqueFilterNames.append(name);
            if (!excluded.contains(name)) category->filterRecords.append(record);
        }
        for (const auto& record : category->filterRecords) {
            if (record->filterIsDuplicate || !filterImages.contains(record->filterName)) continue;
            record->filterImageName = filterImages.value(record->filterName).toString();
            category->filterRecordsWithNoDuplicates.append(record);
            allAvailableFilters.append(record);
        }
        filterCategories.append(category);
        if (!category->filterRecordsWithNoDuplicates.isEmpty()) filterCategoriesExcludingDupes.append(category);
    }

    loadRenameAndFormatCategory();
    loadBasicFilters();
    loadFxCategory();
    loadMostPopulerCategory();
}

void FiltersList::loadRenameAndFormatCategory() {
    const QString header = QStringLiteral("RenameAndFormat");
    const auto conversion = ownRecord(QStringLiteral("Batch Conversion"));
    arrRenameAndFormatCat = {ownCategory(header, header, {}),
                             ownCategory(QStringLiteral("Batch Conversion"), QStringLiteral("Batch Conversion"),
                                         {conversion})};
    allAvailableFilters.append(conversion);
}

void FiltersList::loadBasicFilters() {
    arrBasicFilters = {
        ownRecord("Basic"),
        ownRecord("Resize"),
        ownRecord("Rotate"),
        ownRecord("CICrop", "Crop"),
        ownRecord("Custom Enhance"),
        ownRecord("RGB Adjust"),
        ownRecord("Add Text"),
        ownRecord("Add Image", {}, true),
        ownRecord("Add Border"),
        ownRecord("Add Frames", "Add Frame", true),
        ownRecord("Add Date"),
        ownRecord("Black & White"),
        // The vignette needs a Core Image new enough to have it; ours always is.
        ownRecord("CIVignetteEffect", "Vignette"),
        ownRecord("CISepiaTone", "Sepia"),
    };
    allAvailableFilters.append(arrBasicFilters);
}

void FiltersList::loadFxCategory() {
    const auto textures = ownRecords({"Lights Effect", "Paint Effect", "Fabric Effect", "Grunge Effect",
                                      "Paper Effect", "Art Effect", "Bricks Effect", "Color Effect",
                                      "Vintage Effect"});
    arrFXCategory = {ownCategory("FX", "FX", {}),
                     ownCategory("customTextureEffectsFilters", "Texture Effects", textures)};
    arrFXCategory.append(filterCategoriesExcludingDupes);
    allAvailableFilters.append(textures);
}

void FiltersList::loadMostPopulerCategory() {
    const auto frames = ownRecords({"Classic Frame", "Fancy Frame", "Film Strip Frame", "Grunge Frame",
                                    "Royal Frame", "Vintage Frame"});
    const auto stickers = ownRecords({"Birthday", "Chat Bubbles", "Design Elements", "Emoticons", "Food", "Love",
                                      "Music", "Zodiac"});
    const auto addFrames = ownCategory("Add Frames", "Add Frames", frames);
    const auto addImage = ownCategory("Add Image", "Add Image", stickers);
    arrMostPopulerCategory = {ownCategory("MOST POPULER", "MOST POPULER", {}), addFrames, addImage};
    filterCategoriesExcludingDupes.append(addFrames);
    filterCategoriesExcludingDupes.append(addImage);
    allAvailableFilters.append(frames);
    allAvailableFilters.append(stickers);
    allAvailableFilters.append(ownRecord("Add Custom Image"));
}

QList<FiltersList::Record> FiltersList::sortArr(const QList<Record>& list, const QString& key) {
    auto text = [&](const Record& r) -> QString {
        if (!r) return {};
        if (key == QLatin1String("filterName")) return r->filterName;
        if (key == QLatin1String("filterDisplayName")) return r->filterDisplayName;
        if (key == QLatin1String("filterImageName")) return r->filterImageName;
        return {};
    };
    QList<Record> out = list;
    std::stable_sort(out.begin(), out.end(), [&](const Record& a, const Record& b) { return text(a) < text(b); });
    return out;
}
