// Size-relative storing of parameter lists, look-ups, slider ranges and defaults, crop ratios.
#include "engine/FilterCustomization.h"

#include "engine/Utils.h"
#include "engine/Effects/SizeRelativeKeys.h"
#include "records/AppDelegate.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>

using platform::Vec;

namespace {

QString firstKey(const QVariant& entry) {
    const QVariantMap m = entry.toMap();
    return m.isEmpty() ? QString() : m.firstKey();
}

QVariant firstValue(const QVariant& entry) {
    const QVariantMap m = entry.toMap();
    return m.isEmpty() ? QVariant() : m.first();
}

bool isVec(const QVariant& v) { return v.metaType() == QMetaType::fromType<Vec>(); }

bool isFinite(const QVariant& v) {
    if (isVec(v)) {
        const Vec p = v.value<Vec>();
        for (int i = 0; i < p.count; ++i)
            if (!std::isfinite(p.at(i))) return false;
        return true;
    }
    return std::isfinite(v.toDouble());
}

bool usableSize(QSizeF s) {
    return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() > 0 && s.height() > 0;
}

// The converted value of one entry, or an invalid variant when the entry stays as it is.
QVariant convertedValue(const QString& filterName, const QString& key, const QVariant& value, QSizeF size,
                        bool toFractions) {
    const double w = size.width(), h = size.height();
    auto conv = [&](double v, double by) { return toFractions ? v / by : v * by; };
    if (effects::isSizeRelativePoint(key)) {
        if (!isVec(value)) return {};
        const Vec p = value.value<Vec>();
        return QVariant::fromValue(Vec(conv(p.X(), w), conv(p.Y(), h)));
    }
    if (effects::scalesWithWidth(filterName, key)) {
        if (!platform::isNumber(value)) return {};
        return QVariant(conv(platform::numberValue(value), w));
    }
    if (effects::isSizeRelativeRect(key)) {
        if (!isVec(value)) return {};
        const Vec r = value.value<Vec>();
        return QVariant::fromValue(Vec(conv(r.X(), w), conv(r.Y(), h), conv(r.Z(), w), conv(r.W(), h)));
    }
    if (effects::scalesWithHeight(key)) {
        if (!platform::isNumber(value)) return {};
        return QVariant(conv(platform::numberValue(value), h));
    }
    return {};
}

// Replaces the last entry of the key in place, or appends one.
void writeEntry(QVariantList& list, const QString& key, const QVariant& value) {
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        const QVariantMap m = list.at(i).toMap();
        if (m.contains(key)) {
            list[i] = QVariantMap{{key, value}};
            return;
        }
    }
    list.append(QVariantMap{{key, value}});
}

struct Range {
    const char* filter;
    const char* key;
    double min, max;
};

const Range kRanges[] = {
    {"CIExposureAdjust", "inputEV", -2.0, 2.0},
    {"CIVignetteEffect", "inputRadius", 0, 300},
    {"CIBoxBlur", "inputRadius", 0, 20},
    {"CIDiscBlur", "inputRadius", 0, 16},
    {"CIGaussianBlur", "inputRadius", 0, 16},
    {"CIMotionBlur", "inputRadius", 0, 20},
    {"CIZoomBlur", "inputAmount", 0, 20},
    {"CICrystallize", "inputRadius", 1.0, 20},
    {"CIPixellate", "inputScale", 1.0, 16},
    {"CIPointillize", "inputRadius", 1.0, 20},
    {"CICircleSplashDistortion", "inputRadius", 1.0, 400},
    {"CIPinchDistortion", "inputRadius", 1.0, 300},
    {"CITorusLensDistortion", "inputRadius", 1.0, 300},
    {"Brightness", "inputBrightness", -0.21, 0.21},
    {"RGB Adjust", "Red", 0, 255},
    {"RGB Adjust", "Green", 0, 255},
    {"RGB Adjust", "Blue", 0, 255},
    {"RGB Adjust", "Alpha", 0.1, 1.0},
};

struct Default {
    const char* filter;
    const char* key;
    double value;
};

const Default kDefaults[] = {
    {"CIGaussianBlur", "inputRadius", 5.0},
    {"CICrystallize", "inputRadius", 5.0},
    {"CIVignetteEffect", "inputRadius", 240},
    {"CIVignetteEffect", "inputIntensity", 0.6},
    {"Brightness", "inputBrightness", 0.11},
    {"Contrast", "inputContrast", 1.66},
    {"CIExposureAdjust", "inputEV", 1.0},
    {"CIGammaAdjust", "inputPower", 0.5},
    {"CIHueAdjust", "inputAngle", -0.8},
    {"CIVibrance", "inputAmount", -0.74},
    {"CIZoomBlur", "inputAmount", 7.85},
    {"CIPointillize", "inputRadius", 4.0},
    {"Custom Enhance", "enhanceExposureValue", 0},
    {"Custom Enhance", "enhanceBrightnessValue", 0},
    {"Custom Enhance", "enhanceSharpnessValue", 0},
    {"Custom Enhance", "enhanceDenoiseValue", 0},
    {"Custom Enhance", "enhanceVibranceValue", 0},
    {"Custom Enhance", "enhanceHueValue", 0},
    {"Custom Enhance", "enhanceContrastValue", 1.0},
    {"Custom Enhance", "enhanceSaturationValue", 1.0},
    {"Custom Enhance", "enhanceOpacityValue", 1.0},
};

const Range* findRange(const QString& filter, const QString& key) {
    for (const Range& r : kRanges)
        if (filter == QLatin1String(r.filter) && key == QLatin1String(r.key)) return &r;
    return nullptr;
}

// Height over width of the twelve crop shapes in landscape; index 1 depends on the box.
float landscapeMultiplier(int cropRatio, QSizeF box) {
    switch (cropRatio) {
        case 1: {
            const double longer = std::max(box.width(), box.height());
            const double shorter = std::min(box.width(), box.height());
            return longer > 0 && shorter > 0 ? float(shorter) / float(longer) : 1.0f;
        }
        case 2:
            return 1.0f;
        case 3:
            return 4.0f / 6.0f;
        case 4:
            return 5.0f / 7.0f;
        case 5:
            return 8.0f / 10.0f;
        case 6:
            return 11.0f / 14.0f;
        case 7:
            return 9.0f / 16.0f;
        case 8:
            return 628.0f / 1200.0f;
        case 9:
            return 512.0f / 1024.0f;
        case 10:
            return 9.0f / 16.0f;
        case 11:
            return 735.0f / 1102.0f;
        default:
            return 1.0f;
    }
}

}  // namespace

QVariantList FilterCustomization::convertList(const QString& filterName, QSizeF imageSize, const QVariantList& list,
                                              bool toFractions) {
    QVariantList working = list;
    if (!usableSize(imageSize)) {
        // A collapsed preview would turn every geometric value into infinity; keep the list as given.
        platform::log(u"Parameters of %@ not converted: image size %@ x %@ is empty", filterName, imageSize.width(),
                      imageSize.height());
    } else {
        for (const QVariant& entry : list) {
            const QString key = firstKey(entry);
            const QVariant v = convertedValue(filterName, key, firstValue(entry), imageSize, toFractions);
            if (v.isValid() && isFinite(v)) writeEntry(working, key, v);
        }
    }
    std::lock_guard<std::mutex> lock(parametersMutex_);
    arrFilterParametres = working;
    return working;
}

QVariantList FilterCustomization::convertFilterParametrsInPerCent(const QString& filterName, QSizeF imageSize,
                                                                  const QVariantList& filterparams) {
    return convertList(filterName, imageSize, effects::markPlainStrengths(filterparams), true);
}

QVariantList FilterCustomization::convertBackFilterParametrsFromPerCent(const QString& filterName, QSizeF imageSize,
                                                                        const QVariantList& filterparams) {
    return convertList(filterName, imageSize, effects::withPlainStrengths(filterparams), false);
}

float FilterCustomization::getConvertedParamterFromPercentBase(float value, const QString& key, QSizeF imageSize,
                                                               const QString& filterName) {
    if (!effects::scalesWithWidth(filterName, key)) return value;
    const double r = double(value) * imageSize.width();
    return std::isfinite(r) ? float(r) : value;
}

void FilterCustomization::updateFilterParametersWithKey(const QString& key, const QVariant& value) {
    std::lock_guard<std::mutex> lock(parametersMutex_);
    writeEntry(arrFilterParametres, key, value);
}

QVariantList FilterCustomization::workingParameters() const {
    std::lock_guard<std::mutex> lock(parametersMutex_);
    return arrFilterParametres;
}

QVariant FilterCustomization::getSavedFloatValueForKey(const QString& key,
                                                       const QVariantList& arrayOfParameters) const {
    QVariant found;
    for (const QVariant& entry : arrayOfParameters)
        if (firstKey(entry) == key) found = firstValue(entry);
    return found;
}

QVariant FilterCustomization::getSavedStringValueForKey(const QString& key,
                                                        const QVariantList& arrayOfParameters) const {
    for (const QVariant& entry : arrayOfParameters)
        if (firstKey(entry) == key) return firstValue(entry);
    return QString();
}

double FilterCustomization::getMinValueForFilter(const QString& filterName, const QString& key, double minValue) const {
    const Range* r = findRange(filterName, key);
    return r ? r->min : minValue;
}

double FilterCustomization::getMaxValueForFilter(const QString& filterName, const QString& key, double minValue) const {
    const Range* r = findRange(filterName, key);
    return r ? r->max : minValue;
}

double FilterCustomization::getDefaultValueForFilter(const QString& filterName, const QString& key,
                                                     double defaultValue) const {
    for (const Default& d : kDefaults)
        if (filterName == QLatin1String(d.filter) && key == QLatin1String(d.key)) return d.value;
    return defaultValue;
}

float FilterCustomization::heightMultiplierFor(int cropRatio, int orientation, QSizeF box) {
    const float m = landscapeMultiplier(cropRatio, box);
    return orientation == 1 ? 1.0f / m : m;
}

QRectF FilterCustomization::extendRectFor(int cropRatio, int orientation, QSizeF box, int selectedCropRatio,
                                          int selectedOrientation) {
    const float W = float(box.width()), H = float(box.height());
    if (!(W > 0) || !(H > 0)) return QRectF();
    const float m = heightMultiplierFor(selectedCropRatio, selectedOrientation, box);
    const float table = landscapeMultiplier(cropRatio, box);
    const float shorter = std::min(W, H);
    const bool shaped = cropRatio >= 3 && cropRatio <= 11;
    float sw, sh;
    if (orientation == 0) {
        if (cropRatio == 0 || cropRatio == 1)
            sw = std::max(W, H), sh = std::min(W, H);
        else if (cropRatio == 2)
            sw = sh = shorter;
        else if (shaped)
            sw = W, sh = W * table;
        else
            sw = W, sh = H;
    } else if (orientation == 1) {
        if (cropRatio == 2)
            sw = sh = shorter;
        else if (shaped)
            sw = H, sh = H / table;
        else
            sw = H, sh = W;
    } else {
        if (cropRatio == 2)
            sw = sh = shorter;
        else if (shaped)
            sw = W, sh = W / table;
        else
            sw = W, sh = H;
    }
    // Keep a margin of 50 points at each side and 50 * m above and below; a box smaller than
    // the margins gives an empty rectangle rather than a negative one.
    const double boxW = std::max(0.0, double(W) - 100.0);
    const double boxH = std::max(0.0, double(H) - 100.0 * double(m));
    QSizeF fitted = Utils::sharedUtils().getAspectFitModeSizeWithsize(QSizeF(sw, sh), QSizeF(boxW, boxH));
    if (fitted.height() > H) fitted = Utils::sharedUtils().aspectFitSizeWithMaxHeight(fitted, boxH);
    if (fitted.width() > W) fitted = Utils::sharedUtils().aspectFitSizeWithMaxSize(fitted, boxW);
    return QRectF((double(W) - fitted.width()) / 2, (double(H) - fitted.height()) / 2, fitted.width(), fitted.height());
}

float FilterCustomization::getHeightMultiplierRatioForCropRatio(int cropRatio) const {
    const AppDelegate& app = AppDelegate::shared();
    return heightMultiplierFor(cropRatio, app.selectedCropOrientation, app.ADJUST_FILTER_IMG_CONTAINER_SIZE);
}

QRectF FilterCustomization::getExtendRectForSelectedCropRatio(int cropRatio, int orientation) const {
    const AppDelegate& app = AppDelegate::shared();
    return extendRectFor(cropRatio, orientation, app.ADJUST_FILTER_IMG_CONTAINER_SIZE, app.selectedCropRatio,
                         app.selectedCropOrientation);
}

QVariant FilterCustomization::getSavedRectOrPointValueForKey(const QString& key,
                                                             const QVariantList& arrayOfParameters) const {
    const bool point = key == QLatin1String("inputCenter");
    if (!point && !effects::isSizeRelativeRect(key)) return {};
    const QVariant v = getSavedFloatValueForKey(key, arrayOfParameters);
    if (!isVec(v)) return {};
    const Vec stored = v.value<Vec>();
    const QSizeF box = AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE;
    if (point) return QVariant::fromValue(Vec(stored.X() * box.width(), stored.Y() * box.height()));
    return QVariant::fromValue(
        Vec(stored.X() * box.width(), stored.Y() * box.height(), stored.Z() * box.width(), stored.W() * box.height()));
}
