// Labels the effects screen shows for Core Image categories and filters, the one-line
// summary of a saved step, the default square of a new image overlay and the first
// picture of a texture set.
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/ParameterList.h"

#include <QHash>
#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

struct LabelRow {
    std::initializer_list<const char*> names;
    const char* label;
};

const LabelRow kCategoryLabels[] = {
    {{"Distortion Effect"}, "Distortion Effects"},
    {{"Geometry Adjustment"}, "Transform"},
    {{"Composite Operation"}, "Combine Effect"},
    {{"Transition"}, "Animation"},
};

// Tried in order; the first row naming the filter wins.
const LabelRow kFilterLabels[] = {
    {{"CICrop"}, "Crop"},
    {{"CILanczosScaleTransform", "Lanczos Scale Transform"}, "Scale"},
    {{"CIStraightenFilter", "Straighten"}, "Rotate"},
    {{"Flip"}, "Flip"},
    {{"CISourceOverCompositing", "Source Over"}, "Picture Frame"},
    {{"CIBumpDistortion", "Bump Distortion"}, "Bump Distortion"},
    {{"CIBumpDistortionLinear", "Bump Distortion Linear"}, "Bump Linear"},
    {{"CICircleSplashDistortion", "Circle Splash Distortion"}, "Circle Splash"},
    {{"CIHoleDistortion", "Hole Distortion"}, "Hole"},
    {{"CIPinchDistortion", "Pinch Distortion"}, "Pinch"},
    {{"CITorusLensDistortion", "Torus Lens Distortion"}, "Lens"},
    {{"CITwirlDistortion", "Twirl Distortion"}, "Twirl"},
    {{"CIVortexDistortion", "Vortex Distortion"}, "Vortex"},
    {{"CISharpenLuminance", "Sharpen Luminance"}, "Sharpen"},
    {{"CIUnsharpMask", "Unsharp Mask"}, "Sharpen Advanced"},
    {{"CINoiseReduction", "Noise Reduction"}, "Remove Noise"},
    {{"CIColorInvert", "Color Invert"}, "Invert Color"},
    {{"CIColorMonochrome", "Color Monochrome"}, "Monochrome"},
    {{"CIColorPosterize", "Color Posterize"}, "Posterize"},
    {{"CIPhotoEffectChrome", "Photo Effect Chrome"}, "Chrome"},
    {{"CIPhotoEffectFade", "Photo Effect Fade"}, "Fade"},
    {{"CIPhotoEffectInstant", "Photo Effect Instant"}, "Instant"},
    {{"CIPhotoEffectMono", "Photo Effect Mono"}, "Mono"},
    {{"CISepiaTone", "Photo Sepia Tone", "Sepia Tone"}, "Sepia"},
    {{"CIPageCurlWithShadowTransition", "Page Curl With Shadow"}, "Page Curl"},
    {{"CIAccordionFoldTransition", "Accordion Fold Transition"}, "Fold"},
    {{"CIBarsSwipeTransition", "Bars Swipe Transition"}, "Bars Swipe"},
    // Blend modes arrive by display name only.
    {{"Color Blend Mode"}, "Color Mode"},
    {{"Color Burn Blend Mode"}, "Color Burn"},
    {{"Color Dodge Blend Mode"}, "Color Dodge"},
    {{"Darken Blend Mode"}, "Darken"},
    {{"Difference Blend Mode"}, "Difference"},
    {{"Divide Blend Mode"}, "Divide"},
    {{"Exclusion Blend Mode"}, "Exclusion"},
    {{"Hard Light Blend Mode"}, "Hard Light"},
    {{"Hue Blend Mode"}, "Hue Blend Mode"},
    {{"Lighten Blend Mode"}, "Lighten"},
    {{"Linear Burn Blend Mode"}, "Linear Burn"},
    {{"Linear Dodge Blend Mode"}, "Linear Dodge"},
    {{"Luminosity Blend Mode"}, "Luminosity"},
    {{"Multiply Blend Mode"}, "Multiply"},
    {{"Overlay Blend Mode"}, "Overlay"},
    {{"Pin Light Blend Mode"}, "Pin Light"},
    {{"Saturation Blend Mode"}, "Saturation"},
    {{"Screen Blend Mode"}, "Screen Blend Mode"},
    {{"Soft Light Blend Mode"}, "Soft Light"},
    {{"Subtract Blend Mode"}, "Subtract"},
    {{"CIVignetteEffect", "Vignette Effect"}, "Vignette"},
    {{"CIPixellate", "Pixellate", "Pixelate"}, "Pixellate"},
};

template <size_t N>
QString lookUp(const LabelRow (&rows)[N], const QString& name) {
    for (const LabelRow& row : rows)
        for (const char* n : row.names)
            if (name == QLatin1String(n)) return QString::fromLatin1(row.label);
    return name;
}

// Texture sets with pictures, and the first picture of each.
const std::pair<const char*, const char*> kTextureFirstPictures[] = {
    {"Lights Effect", "Lights1.jpg"},   {"Paint Effect", "Paint1.jpg"},   {"Fabric Effect", "Fabric1.jpg"},
    {"Grunge Effect", "Grunge1.jpg"},   {"Paper Effect", "Paper1.jpg"},   {"Art Effect", "Art1.jpg"},
    {"Bricks Effect", "Bricks1.jpg"},   {"Color Effect", "Color1.jpg"},   {"Vintage Effect", "Vintage1.jpg"},
};

const char* const kCropRatioNames[] = {
    "FreeForm",    "Original Ratio", "Square 1X1",     "Photo 4X6",     "Photo 5X7",             "Photo 8X10",
    "Photo 11X14", "Photo 16X9",     "Facebook Cover", "Twitter Cover", "Youtube Channel Cover", "Pinterest Pin",
};

bool isOneOf(const QString& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == QLatin1String(n); });
}

const std::initializer_list<const char*> kStickerSets = {"Birthday", "Chat Bubbles", "Design Elements", "Emoticons",
                                                         "Food",     "Love",         "Music",           "Zodiac"};
const std::initializer_list<const char*> kFrameSets = {"Grunge Frame",     "Brush Strokes Frame", "Classic Frame",
                                                       "Fancy Frame",      "Film Strip Frame",    "Royal Frame",
                                                       "Vintage Frame"};
const std::initializer_list<const char*> kTextureSets = {
    "Lights Effect", "Paint Effect",  "Fabric Effect", "Grunge Effect", "Paper Effect",         "Art Effect",
    "Bricks Effect", "Color Effect",  "Vintage Effect", "Metal Effect", "Scratch Effect",       "Bokeh Effect",
    "Film Effect",   "Black n White Effect", "Fire Effect", "Vignette Effect"};

// A stored value read the way the summary shows it: numbers as single-precision floats,
// a missing value as 0.
double floatOf(const QVariant& v) {
    if (!v.isValid()) return 0.0;
    if (platform::isNumber(v)) return double(float(platform::numberValue(v)));
    if (v.typeId() == QMetaType::QString) return double(v.toString().toFloat());
    return 0.0;
}

// Whole-number reading: the fraction is dropped.
int intOf(const QVariant& v) {
    if (!v.isValid()) return 0;
    if (platform::isNumber(v)) return int(platform::numberValue(v));
    if (v.typeId() == QMetaType::QString) return int(v.toString().toDouble());
    return 0;
}

// A stored value shown as text; a missing one shows as "(null)".
QVariant shown(const QVariant& v) { return v.isValid() ? v : QVariant(QStringLiteral("(null)")); }

}  // namespace

QString FilterCustomization::getCustomDisplayNameForCategory(const QString& name) const {
    return lookUp(kCategoryLabels, name);
}

QString FilterCustomization::getCustomDisplayNameForFilter(const QString& name) const {
    return lookUp(kFilterLabels, name);
}

QString FilterCustomization::firstFrameForCategory(const QString& name) {
    for (const auto& [effect, first] : kTextureFirstPictures)
        if (name == QLatin1String(effect)) return QString::fromLatin1(first);
    return QString();
}

QRectF FilterCustomization::getDefaultRectForFilter(const QString&) const {
    const QSizeF box = AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE;
    const double side = box.width() >= 100 && box.height() >= 100 ? 100.0 : std::min(box.width(), box.height()) - 10;
    return QRectF((box.width() - side) / 2, (box.height() - side) / 2, side, side);
}

QString FilterCustomization::getSavedKeyValueForFavoriteFilter(const AppliedFilter& step) const {
    const QString& name = step.filterName;
    const QVariantList& list = step.filterParameters;
    // The last entry of a key counts, as everywhere a step is read.
    auto value = [&](const char* key) { return ParameterList::valueForKey(list, QString::fromLatin1(key)); };
    auto f = [&](const char* key) { return floatOf(value(key)); };
    using platform::format;

    if (name == QLatin1String("Resize")) {
        const QVariant percent = value("isPercentBaseResize");
        if (platform::isNumber(percent) && platform::numberValue(percent) != 0.0)
            return format(u"Dimensions: W: %d%% | H: %d%%", intOf(value("percentWidth")), intOf(value("percentHeight")));
        const QString pixels = format(u"Dimensions: W: %.02fpx | H: %.02fpx", f("resizedWidth"), f("resizedHeight"));
        const QVariant keep = value(Utils::kMaintainAspectRatioKey);
        if (platform::isNumber(keep) && platform::numberValue(keep) != 0.0) return pixels + QStringLiteral(" | Aspect Ratio Kept");
        return pixels;
    }
    if (name == QLatin1String("Rotate")) return format(u"Angle: %.02f%@", f("angle"), QStringLiteral("°"));
    if (name == QLatin1String("CICrop")) {
        // The crop ratio is read from the first entry that holds it.
        QVariant stored;
        for (const QVariant& entry : list) {
            const QVariantMap m = entry.toMap();
            if (!m.isEmpty() && m.firstKey() == QLatin1String("cropRatioIndex")) {
                stored = m.first();
                break;
            }
        }
        const int index = intOf(stored);
        // A ratio this program does not know reads as the free-form crop it started from.
        const int known = index >= 0 && index < int(std::size(kCropRatioNames)) ? index : 0;
        return format(u"Crop Ratio: %@", QString::fromLatin1(kCropRatioNames[known]));
    }
    if (name == QLatin1String("Custom Enhance"))
        return format(u"Exposure: %.02f Brightness: %.02f Contrast: %f", f("enhanceExposureValue"),
                      f("enhanceBrightnessValue"), f("enhanceContrastValue"));
    if (name == QLatin1String("RGB Adjust"))
        return format(u"R: %.02f G: %.02f B: %.02f Opacity: %.02f", f("Red"), f("Green"), f("Blue"), f("Alpha"));
    if (name == QLatin1String("Add Text"))
        return format(u"Text: %@ Font Size: %.02f", shown(value("text")), f("fontSize"));
    if (name == QLatin1String("Add Border"))
        return format(u"Border Width: %.02f Corner Radius: %.02f", f("borderWidth"), f("cornerRadius"));
    if (name == QLatin1String("Black & White")) return format(u"Effect Intensity: %.02f", f("Intensity"));
    if (isOneOf(name, {"CISepiaTone", "CIVignetteEffect", "CIBloom", "CICrystallize", "CIEdges"}))
        return format(u"Effect Intensity: %.02f", f("inputIntensity"));
    if (name == QLatin1String("CIPixellate")) return format(u"Effect Scale: %.02f", f("inputScale"));
    if (isOneOf(name, {"CIPointillize", "CICircleSplashDistortion", "CIGaussianBlur"}))
        return format(u"Radius: %.02f", f("inputRadius"));
    if (isOneOf(name, {"CIBumpDistortion", "CIBumpDistortionLinear", "CIPinchDistortion"}))
        return format(u"Radius: %.02f Scale: %.02f", f("inputRadius"), f("inputScale"));
    if (name == QLatin1String("CITorusLensDistortion"))
        return format(u"Radius: %.02f Width: %.02f", f("inputRadius"), f("inputWidth"));
    if (isOneOf(name, {"CITwirlDistortion", "CIVortexDistortion", "CIMotionBlur"}))
        return format(u"Radius: %.02f Angle: %.02f", f("inputRadius"), f("inputAngle"));
    if (name == QLatin1String("CIZoomBlur")) return format(u"Amount: %.02f", f("inputAmount"));
    if (isOneOf(name, kStickerSets)) return format(u"Category: %@", name);
    if (name == QLatin1String("Add Custom Image")) return format(u"Image Url: %@", shown(value("imageName")));
    if (name == QLatin1String("Add Date")) return format(u"Format: %@", shown(value("dateTimeOption")));
    if (isOneOf(name, kFrameSets) || isOneOf(name, kTextureSets)) return format(u"Category: %@", name);
    return QString();
}
