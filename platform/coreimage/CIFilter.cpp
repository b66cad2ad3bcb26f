#include "platform/coreimage/CIFilter.h"

#include "platform/coreimage/CIFilterRegistry.h"
#include "platform/foundation/Log.h"

#include <cmath>
#include <map>
#include <mutex>

namespace platform::ci {
// Families of filters; each lives in its kernels/<Family>.cpp.
void registerColorFilters();
void registerBlurFilters();
void registerCompositeFilters();
void registerGeometryFilters();
void registerAutoAdjustFilters();
void registerStylizeFilters();
void registerDistortionFilters();
void registerTransitionFilters();
void registerScaleFilters();
}  // namespace platform::ci

namespace platform::ci {
namespace {

using FamilyFn = void (*)();
const FamilyFn kFamilies[] = {
    registerColorFilters, registerBlurFilters, registerCompositeFilters, registerGeometryFilters,
    registerAutoAdjustFilters, registerStylizeFilters, registerDistortionFilters, registerTransitionFilters,
    registerScaleFilters,
};

struct Registry {
    std::map<QString, std::unique_ptr<CIFilterSpec>> specs;
};

Registry& rawRegistry() {
    static Registry r;
    return r;
}

const Registry& registry() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (FamilyFn f : kFamilies) f();
    });
    return rawRegistry();
}

QString displayNameFromKey(const QString& key) {
    QString k = key.startsWith(QLatin1String("input")) ? key.mid(5) : key;
    QString out;
    for (int i = 0; i < k.size(); ++i) {
        const QChar c = k[i];
        const bool boundary = i > 0 && c.isUpper() && (k[i - 1].isLower() || (i + 1 < k.size() && k[i + 1].isLower()));
        if (boundary) out += QLatin1Char(' ');
        out += c;
    }
    return out;
}

bool isImageVariant(const QVariant& v) { return v.metaType() == QMetaType::fromType<CIImage>(); }

// Whether a value fits an input of the given class.
bool fits(const CIInputSpec& in, const QVariant& v) {
    if (in.attributeClass == QLatin1String(kCIClassNumber)) return platform::isNumber(v);
    if (in.attributeClass == QLatin1String(kCIClassVector)) return v.metaType() == QMetaType::fromType<platform::Vec>() && v.value<platform::Vec>().count >= 2;
    if (in.attributeClass == QLatin1String(kCIClassColor)) return v.metaType() == QMetaType::fromType<QColor>() && v.value<QColor>().isValid();
    if (in.attributeClass == QLatin1String(kCIClassImage)) return isImageVariant(v) || v.metaType() == QMetaType::fromType<QImage>();
    if (in.attributeClass == QLatin1String(kCIClassTransform)) return v.metaType() == QMetaType::fromType<QTransform>();
    if (in.attributeClass == QLatin1String(kCIClassArray)) return v.metaType() == QMetaType::fromType<QVariantList>();
    return false;
}

}  // namespace

CIInputSpec imageInput(const char* key, const QString& displayName) {
    CIInputSpec s;
    s.key = QString::fromLatin1(key);
    s.attributeClass = QString::fromLatin1(kCIClassImage);
    s.attributeType = QString::fromLatin1(kCIAttributeTypeImage);
    s.displayName = displayName;
    return s;
}

CIInputSpec numberInput(const char* key, const char* type, double def, std::optional<double> sliderMin,
                        std::optional<double> sliderMax, std::optional<double> minimum, std::optional<double> maximum,
                        std::optional<double> identity) {
    CIInputSpec s;
    s.key = QString::fromLatin1(key);
    s.attributeClass = QString::fromLatin1(kCIClassNumber);
    s.attributeType = QString::fromLatin1(type);
    s.defaultValue = def;
    s.sliderMin = sliderMin;
    s.sliderMax = sliderMax;
    s.minimum = minimum;
    s.maximum = maximum;
    s.identity = identity;
    return s;
}

CIInputSpec vectorInput(const char* key, const char* type, const platform::Vec& def) {
    CIInputSpec s;
    s.key = QString::fromLatin1(key);
    s.attributeClass = QString::fromLatin1(kCIClassVector);
    s.attributeType = QString::fromLatin1(type);
    s.defaultValue = QVariant::fromValue(def);
    return s;
}

CIInputSpec colorInput(const char* key, const QColor& def, const char* type) {
    CIInputSpec s;
    s.key = QString::fromLatin1(key);
    s.attributeClass = QString::fromLatin1(kCIClassColor);
    s.attributeType = QString::fromLatin1(type);
    s.defaultValue = QVariant::fromValue(def);
    return s;
}

CIInputSpec transformInput(const char* key, const QTransform& def) {
    CIInputSpec s;
    s.key = QString::fromLatin1(key);
    s.attributeClass = QString::fromLatin1(kCIClassTransform);
    s.attributeType = QString::fromLatin1(kCIAttributeTypeTransform);
    s.defaultValue = QVariant::fromValue(def);
    return s;
}

const CIInputSpec* CIFilterSpec::input(const QString& key) const {
    for (const CIInputSpec& in : inputs)
        if (in.key == key) return &in;
    return nullptr;
}

void registerFilter(CIFilterSpec spec) {
    for (const char* c : {kCICategoryBuiltIn, kCICategoryStillImage})
        if (!spec.categories.contains(QLatin1String(c))) spec.categories << QString::fromLatin1(c);
    for (CIInputSpec& in : spec.inputs)
        if (in.displayName.isEmpty()) in.displayName = displayNameFromKey(in.key);
    const QString name = spec.name;
    rawRegistry().specs[name] = std::make_unique<CIFilterSpec>(std::move(spec));
}

const CIFilterSpec* findFilterSpec(const QString& name) {
    const auto& specs = registry().specs;
    auto it = specs.find(name);
    return it == specs.end() ? nullptr : it->second.get();
}

QStringList registeredFilterNames() {
    QStringList names;
    for (const auto& [name, spec] : registry().specs) names << name;
    return names;
}

QVariant CIFilterArgs::raw(const char* key) const { return values_.value(QString::fromLatin1(key)); }

QVariant CIFilterArgs::valueOrDefault(const char* key) const {
    const CIInputSpec* in = spec_.input(QString::fromLatin1(key));
    if (!in) return {};
    const QVariant v = values_.value(in->key);
    if (v.isValid() && fits(*in, v)) return v;
    return in->defaultValue;
}

CIImage CIFilterArgs::image(const char* key) const {
    const QVariant v = values_.value(QString::fromLatin1(key));
    if (isImageVariant(v)) return v.value<CIImage>();
    if (v.metaType() == QMetaType::fromType<QImage>()) return CIImage::imageWithCGImage(v.value<QImage>());
    return {};
}

// A value that is not a finite number (NaN or infinity) gives the input's default, so no
// kernel ever computes sizes or positions from it.
double CIFilterArgs::number(const char* key) const {
    const double v = platform::numberValue(valueOrDefault(key), 0.0);
    if (std::isfinite(v)) return v;
    const CIInputSpec* in = spec_.input(QString::fromLatin1(key));
    return in ? platform::numberValue(in->defaultValue, 0.0) : 0.0;
}

platform::Vec CIFilterArgs::vector(const char* key) const {
    const QVariant v = valueOrDefault(key);
    if (v.metaType() != QMetaType::fromType<platform::Vec>()) return platform::Vec();
    const platform::Vec vec = v.value<platform::Vec>();
    for (int i = 0; i < vec.count; ++i)
        if (!std::isfinite(vec.at(i))) {
            const CIInputSpec* in = spec_.input(QString::fromLatin1(key));
            return in ? in->defaultValue.value<platform::Vec>() : platform::Vec();
        }
    return vec;
}

QColor CIFilterArgs::color(const char* key) const {
    const QVariant v = valueOrDefault(key);
    return v.metaType() == QMetaType::fromType<QColor>() ? v.value<QColor>() : QColor();
}

QTransform CIFilterArgs::transform(const char* key) const {
    const QVariant v = valueOrDefault(key);
    return v.metaType() == QMetaType::fromType<QTransform>() ? v.value<QTransform>() : QTransform();
}

}  // namespace platform::ci

using namespace platform::ci;

CIFilterPtr CIFilter::filterWithName(const QString& name) {
    const CIFilterSpec* spec = findFilterSpec(name);
    return spec ? std::make_shared<CIFilter>(spec) : nullptr;
}

QStringList CIFilter::filterNamesInCategories(const QStringList& categories) {
    QStringList names;
    for (const auto& [name, spec] : registry().specs) {
        bool all = true;
        for (const QString& c : categories) all = all && spec->categories.contains(c);
        if (all) names << name;
    }
    return names;  // the map keeps them sorted
}

QStringList CIFilter::filterNamesInCategory(const QString& category) {
    return filterNamesInCategories(category.isEmpty() ? QStringList{} : QStringList{category});
}

QString CIFilter::name() const { return spec_->name; }

QStringList CIFilter::inputKeys() const {
    QStringList keys;
    for (const CIInputSpec& in : spec_->inputs) keys << in.key;
    return keys;
}

QVariantMap CIFilter::attributes() const {
    QVariantMap a;
    a.insert(QString::fromLatin1(kCIAttributeFilterName), spec_->name);
    a.insert(QString::fromLatin1(kCIAttributeFilterDisplayName), spec_->displayName);
    a.insert(QString::fromLatin1(kCIAttributeFilterCategories), spec_->categories);
    for (const CIInputSpec& in : spec_->inputs) {
        QVariantMap d;
        d.insert(QString::fromLatin1(kCIAttributeClass), in.attributeClass);
        if (!in.attributeType.isEmpty()) d.insert(QString::fromLatin1(kCIAttributeType), in.attributeType);
        if (in.defaultValue.isValid()) d.insert(QString::fromLatin1(kCIAttributeDefault), in.defaultValue);
        auto put = [&](const char* k, const std::optional<double>& v) {
            if (v) d.insert(QString::fromLatin1(k), *v);
        };
        put(kCIAttributeSliderMin, in.sliderMin);
        put(kCIAttributeSliderMax, in.sliderMax);
        put(kCIAttributeMin, in.minimum);
        put(kCIAttributeMax, in.maximum);
        put(kCIAttributeIdentity, in.identity);
        d.insert(QString::fromLatin1(kCIAttributeDisplayName), in.displayName);
        a.insert(in.key, d);
    }
    return a;
}

void CIFilter::setDefaults() {
    for (const CIInputSpec& in : spec_->inputs)
        if (in.defaultValue.isValid()) values_.insert(in.key, in.defaultValue);
}

void CIFilter::setValue(const QVariant& value, const QString& key) {
    const CIInputSpec* in = spec_->input(key);
    if (!in) {
        platform::log(u"%@: no input named %@, value ignored", spec_->name, key);
        return;
    }
    if (!value.isValid()) {
        values_.remove(key);
        return;
    }
    if (!fits(*in, value)) {
        platform::log(u"%@: value of the wrong kind for %@ ignored", spec_->name, key);
        return;
    }
    if (value.metaType() == QMetaType::fromType<QImage>())
        values_.insert(key, QVariant::fromValue(CIImage::imageWithCGImage(value.value<QImage>())));
    else
        values_.insert(key, value);
}

QVariant CIFilter::valueForKey(const QString& key) const {
    if (key == QLatin1String(kCIOutputImageKey)) {
        const CIImage out = outputImage();
        return out.isNull() ? QVariant() : QVariant::fromValue(out);
    }
    return values_.value(key);
}

CIImage CIFilter::outputImage() const {
    if (!spec_->build) return {};
    const CIFilterArgs args(*spec_, values_);
    return spec_->build(args);
}
