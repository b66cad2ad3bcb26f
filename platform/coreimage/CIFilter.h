#pragma once
// Filters by name and by category, each with its ordered input keys and an attribute
// dictionary that the catalogue and the editor's sliders read. A filter holds input
// values only; its output is a CIImage recipe made afresh on each request.
//
// Values: numbers as QVariant int/double/bool, vectors as platform::Vec, colours as
// QColor, images as CIImage, transforms as QTransform. An unknown key or a value of the
// wrong kind is ignored (with one log line); an invalid QVariant empties the input.
#include "platform/coreimage/CIImage.h"
#include "platform/foundation/Values.h"

#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>

namespace platform::ci {
struct CIFilterSpec;
}

// Attribute dictionary keys and values.
inline constexpr const char* kCIAttributeFilterName = "CIAttributeFilterName";
inline constexpr const char* kCIAttributeFilterDisplayName = "CIAttributeFilterDisplayName";
inline constexpr const char* kCIAttributeFilterCategories = "CIAttributeFilterCategories";
inline constexpr const char* kCIAttributeClass = "CIAttributeClass";
inline constexpr const char* kCIAttributeType = "CIAttributeType";
inline constexpr const char* kCIAttributeDefault = "CIAttributeDefault";
inline constexpr const char* kCIAttributeMin = "CIAttributeMin";
inline constexpr const char* kCIAttributeMax = "CIAttributeMax";
inline constexpr const char* kCIAttributeSliderMin = "CIAttributeSliderMin";
inline constexpr const char* kCIAttributeSliderMax = "CIAttributeSliderMax";
inline constexpr const char* kCIAttributeIdentity = "CIAttributeIdentity";
inline constexpr const char* kCIAttributeDisplayName = "CIAttributeDisplayName";

inline constexpr const char* kCIAttributeTypeScalar = "CIAttributeTypeScalar";
inline constexpr const char* kCIAttributeTypeDistance = "CIAttributeTypeDistance";
inline constexpr const char* kCIAttributeTypeAngle = "CIAttributeTypeAngle";
inline constexpr const char* kCIAttributeTypeInteger = "CIAttributeTypeInteger";
inline constexpr const char* kCIAttributeTypeCount = "CIAttributeTypeCount";
inline constexpr const char* kCIAttributeTypeBoolean = "CIAttributeTypeBoolean";
inline constexpr const char* kCIAttributeTypePosition = "CIAttributeTypePosition";
inline constexpr const char* kCIAttributeTypeOffset = "CIAttributeTypeOffset";
inline constexpr const char* kCIAttributeTypeRectangle = "CIAttributeTypeRectangle";
inline constexpr const char* kCIAttributeTypeColor = "CIAttributeTypeColor";
inline constexpr const char* kCIAttributeTypeOpaqueColor = "CIAttributeTypeOpaqueColor";
inline constexpr const char* kCIAttributeTypeImage = "CIAttributeTypeImage";
inline constexpr const char* kCIAttributeTypeTransform = "CIAttributeTypeTransform";
inline constexpr const char* kCIAttributeTypeTime = "CIAttributeTypeTime";

// Classes of input values.
inline constexpr const char* kCIClassImage = "CIImage";
inline constexpr const char* kCIClassNumber = "NSNumber";
inline constexpr const char* kCIClassVector = "CIVector";
inline constexpr const char* kCIClassColor = "CIColor";
inline constexpr const char* kCIClassTransform = "NSAffineTransform";
inline constexpr const char* kCIClassArray = "NSArray";

// Categories.
inline constexpr const char* kCICategoryDistortionEffect = "CICategoryDistortionEffect";
inline constexpr const char* kCICategoryGeometryAdjustment = "CICategoryGeometryAdjustment";
inline constexpr const char* kCICategoryCompositeOperation = "CICategoryCompositeOperation";
inline constexpr const char* kCICategoryHalftoneEffect = "CICategoryHalftoneEffect";
inline constexpr const char* kCICategoryColorAdjustment = "CICategoryColorAdjustment";
inline constexpr const char* kCICategoryColorEffect = "CICategoryColorEffect";
inline constexpr const char* kCICategoryTransition = "CICategoryTransition";
inline constexpr const char* kCICategoryTileEffect = "CICategoryTileEffect";
inline constexpr const char* kCICategoryGenerator = "CICategoryGenerator";
inline constexpr const char* kCICategoryReduction = "CICategoryReduction";
inline constexpr const char* kCICategoryGradient = "CICategoryGradient";
inline constexpr const char* kCICategoryStylize = "CICategoryStylize";
inline constexpr const char* kCICategorySharpen = "CICategorySharpen";
inline constexpr const char* kCICategoryBlur = "CICategoryBlur";
inline constexpr const char* kCICategoryVideo = "CICategoryVideo";
inline constexpr const char* kCICategoryStillImage = "CICategoryStillImage";
inline constexpr const char* kCICategoryInterlaced = "CICategoryInterlaced";
inline constexpr const char* kCICategoryNonSquarePixels = "CICategoryNonSquarePixels";
inline constexpr const char* kCICategoryHighDynamicRange = "CICategoryHighDynamicRange";
inline constexpr const char* kCICategoryBuiltIn = "CICategoryBuiltIn";

// Common input keys.
inline constexpr const char* kCIInputImageKey = "inputImage";
inline constexpr const char* kCIInputBackgroundImageKey = "inputBackgroundImage";
inline constexpr const char* kCIInputTargetImageKey = "inputTargetImage";
inline constexpr const char* kCIInputMaskImageKey = "inputMaskImage";
inline constexpr const char* kCIInputRadiusKey = "inputRadius";
inline constexpr const char* kCIInputAngleKey = "inputAngle";
inline constexpr const char* kCIInputScaleKey = "inputScale";
inline constexpr const char* kCIInputWidthKey = "inputWidth";
inline constexpr const char* kCIInputSharpnessKey = "inputSharpness";
inline constexpr const char* kCIInputIntensityKey = "inputIntensity";
inline constexpr const char* kCIInputCenterKey = "inputCenter";
inline constexpr const char* kCIInputEVKey = "inputEV";
inline constexpr const char* kCIInputSaturationKey = "inputSaturation";
inline constexpr const char* kCIInputBrightnessKey = "inputBrightness";
inline constexpr const char* kCIInputContrastKey = "inputContrast";
inline constexpr const char* kCIInputColorKey = "inputColor";
inline constexpr const char* kCIInputAspectRatioKey = "inputAspectRatio";
inline constexpr const char* kCIInputTransformKey = "inputTransform";
inline constexpr const char* kCIInputExtentKey = "inputExtent";
inline constexpr const char* kCIInputTimeKey = "inputTime";
inline constexpr const char* kCIOutputImageKey = "outputImage";

class CIFilter;
using CIFilterPtr = std::shared_ptr<CIFilter>;

class CIFilter {
public:
    // A new filter of that name with no input set (call setDefaults), or null.
    static CIFilterPtr filterWithName(const QString& name);
    // Names of the filters in a category, sorted by name.
    static QStringList filterNamesInCategory(const QString& category);
    // Names of the filters that belong to every one of the categories (all filters for an
    // empty list), sorted by name.
    static QStringList filterNamesInCategories(const QStringList& categories);

    QString name() const;
    QStringList inputKeys() const;
    QStringList outputKeys() const { return {QString::fromLatin1(kCIOutputImageKey)}; }
    // Filter name, display name, categories, and one dictionary per input key.
    QVariantMap attributes() const;

    void setDefaults();
    void setValue(const QVariant& value, const QString& key);
    // The input's value (invalid when unset); "outputImage" gives outputImage().
    QVariant valueForKey(const QString& key) const;
    // The result; a null image when a required image input is missing.
    CIImage outputImage() const;

    explicit CIFilter(const platform::ci::CIFilterSpec* spec) : spec_(spec) {}

private:
    const platform::ci::CIFilterSpec* spec_;
    QVariantMap values_;
};
