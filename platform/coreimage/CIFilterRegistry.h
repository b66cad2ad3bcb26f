#pragma once
// How a filter joins the registry.
//
// A kernel file (platform/coreimage/kernels/<Family>.cpp) defines one function
// `void register<Family>Filters()` that calls registerFilter once per filter, and that
// function is listed once in kFamilies in CIFilter.cpp (explicit calls, because a
// static library drops object files that nothing references). One filter is:
//
//   registerFilter({"CISepiaTone", "Sepia Tone", {kCICategoryColorEffect},
//       {imageInput(),
//        numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1.0, 0, 1, 0, 1)},
//       [](const CIFilterArgs& a) -> CIImage {
//           const CIImage in = a.image(kCIInputImageKey);
//           if (in.isNull()) return {};
//           return CIImage(makeColorNode(in.node(), ...));   // see kernels/Node.h
//       }});
//
// Inputs are listed in the order the filter reports its keys. CIFilterArgs reads an
// input's current value, or its default when it is unset, of the wrong kind or a number
// that is not finite. The
// built-in categories CICategoryBuiltIn and CICategoryStillImage are added for you.
#include "platform/coreimage/CIFilter.h"

#include <QList>
#include <QTransform>
#include <functional>
#include <optional>

namespace platform::ci {

struct CIInputSpec {
    QString key;
    QString attributeClass;  // kCIClassImage, kCIClassNumber, ...
    QString attributeType;   // kCIAttributeType..., may be empty
    QVariant defaultValue;   // invalid for images
    std::optional<double> sliderMin, sliderMax, minimum, maximum, identity;
    QString displayName;     // derived from the key when empty ("inputNoiseLevel" -> "Noise Level")
};

CIInputSpec imageInput(const char* key = kCIInputImageKey, const QString& displayName = {});
CIInputSpec numberInput(const char* key, const char* type, double def, std::optional<double> sliderMin,
                        std::optional<double> sliderMax, std::optional<double> minimum = std::nullopt,
                        std::optional<double> maximum = std::nullopt, std::optional<double> identity = std::nullopt);
CIInputSpec vectorInput(const char* key, const char* type, const platform::Vec& def);
CIInputSpec colorInput(const char* key, const QColor& def, const char* type = kCIAttributeTypeColor);
CIInputSpec transformInput(const char* key, const QTransform& def = {});

class CIFilterArgs {
public:
    CIFilterArgs(const struct CIFilterSpec& spec, const QVariantMap& values) : spec_(spec), values_(values) {}
    CIImage image(const char* key) const;
    double number(const char* key) const;
    platform::Vec vector(const char* key) const;
    QColor color(const char* key) const;
    QTransform transform(const char* key) const;
    // The value as stored (invalid when unset).
    QVariant raw(const char* key) const;

private:
    QVariant valueOrDefault(const char* key) const;
    const CIFilterSpec& spec_;
    const QVariantMap& values_;
};

using CIFilterBuilder = std::function<CIImage(const CIFilterArgs&)>;

struct CIFilterSpec {
    QString name;
    QString displayName;
    QStringList categories;
    QList<CIInputSpec> inputs;
    CIFilterBuilder build;

    const CIInputSpec* input(const QString& key) const;
};

// Adds a filter (a later registration of the same name replaces the earlier one).
void registerFilter(CIFilterSpec spec);
// The registered filter of that name, or null.
const CIFilterSpec* findFilterSpec(const QString& name);
QStringList registeredFilterNames();

}  // namespace platform::ci
