// Core Image set-up of an effect: image inputs, size-dependent inputs, thumbnail presets,
// and the per-photo scaling of a stored parameter list.
#include "engine/Utils.h"

#include "engine/Effects/CoreImageBridge.h"
#include "engine/Effects/EffectImages.h"
#include "engine/Effects/SizeRelativeKeys.h"
#include "platform/foundation/Resources.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QStringList>
#include <algorithm>
#include <cmath>

using platform::Vec;

namespace {

QImage resourcePicture(const QString& name) {
    for (const QString& file : {name + QStringLiteral(".png"), name + QStringLiteral(".jpg"), name}) {
        const QString path = platform::resourcePath(file);
        if (path.isEmpty()) continue;
        QImageReader reader(path);
        const QImage img = reader.read();
        if (!img.isNull()) return effects::working(img);
    }
    return {};
}

QVariant ciValue(const QImage& picture) {
    const CIImage ci = Utils::getCIImageFromNSImage(picture);
    return ci.isNull() ? QVariant() : QVariant::fromValue(ci);
}

void set(CIFilter& f, const char* key, const QVariant& v) { f.setValue(v, QString::fromLatin1(key)); }

}  // namespace

void Utils::doSetupForFilter(CIFilter& filter, const QString& filterName, const QString& filterDisplayName,
                             const QImage& imageToEdit, bool IS_FOR_FILTER_THUMBNAILS_IMAGES) {
    const CIImage ci = Utils::getCIImageFromNSImage(imageToEdit);
    const QSizeF S = effects::extentSize(ci);

    if (effects::hasInput(filter, kCIInputImageKey))
        set(filter, kCIInputImageKey, ci.isNull() ? QVariant() : QVariant::fromValue(ci));
    if (effects::hasInput(filter, kCIInputMaskImageKey))
        set(filter, kCIInputMaskImageKey, ciValue(resourcePicture(QStringLiteral("Mask image"))));
    const bool wantsTarget = effects::hasInput(filter, kCIInputTargetImageKey);
    // A source-over composite keeps its own background: the photo goes over whatever the
    // parameter list or the caller gives it.
    const bool wantsBackground =
        effects::hasInput(filter, kCIInputBackgroundImageKey) && filterName != QLatin1String("CISourceOverCompositing");
    if (wantsTarget || wantsBackground) {
        const QImage sample = resourcePicture(QStringLiteral("Sample image #2"));
        const QVariant second = ciValue(sample.isNull() ? sample : scaleImage(sample, S));
        if (wantsTarget) set(filter, kCIInputTargetImageKey, second);
        if (wantsBackground) set(filter, kCIInputBackgroundImageKey, second);
    }
    if (effects::hasInput(filter, "inputPoint"))
        set(filter, "inputPoint", QVariant::fromValue(Vec(S.width() * 0.5, S.height() * 0.5)));
    if (filter.inputKeys().contains(QString::fromLatin1(kCIInputExtentKey)) && S.width() > 0 && S.height() > 0)
        set(filter, kCIInputExtentKey, QVariant::fromValue(Vec(0, 0, S.width(), S.height())));
    if (IS_FOR_FILTER_THUMBNAILS_IMAGES)
        doSetupForFilterForThumbNailImages(filter, filterName, filterDisplayName, imageToEdit);
}

void Utils::doSetupForFilterForThumbNailImages(CIFilter& filter, const QString& filterName,
                                               const QString& filterDisplayName, const QImage& imageToEdit) {
    const QString name = filter.name();
    const double W = imageToEdit.width(), H = imageToEdit.height();
    const QVariant centre = QVariant::fromValue(Vec(W * 0.5, H * 0.5, W, H));
    auto is = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (name == QLatin1String(n)) return true;
        return false;
    };
    auto put = [&](const char* key, const QVariant& v) { set(filter, key, v); };

    if (is({"CIBumpDistortion", "CIBumpDistortionLinear"})) {
        put("inputRadius", 100);
        put("inputScale", 0.33);
        put("inputCenter", QVariant::fromValue(Vec(0, 0, W, H)));
    } else if (is({"CICircleSplashDistortion"})) {
        put("inputRadius", W * 0.5 - 20);
        put("inputCenter", centre);
    } else if (is({"CIHoleDistortion"})) {
        put("inputRadius", W / 6);
        put("inputCenter", centre);
    } else if (is({"CIPinchDistortion"})) {
        put("inputRadius", W * 0.5);
        put("inputScale", 0.7);
        put("inputCenter", centre);
    } else if (is({"CITorusLensDistortion"})) {
        put("inputRadius", W / 3);
        put("inputWidth", W / 6);
        put("inputRefraction", 2.19);
        put("inputCenter", centre);
    } else if (is({"CITwirlDistortion", "CIVortexDistortion"})) {
        put("inputRadius", W * 0.25);
        put("inputCenter", centre);
    } else if (is({"CIStraightenFilter"})) {
        put(kCIInputAngleKey, -0.48);
    } else if (is({"CICrop"})) {
        put("inputRectangle", QVariant::fromValue(Vec(40, 10, W - 40, H - 10)));
    } else if (is({"CILanczosScaleTransform"})) {
        put(kCIInputAspectRatioKey, 0.61);
    } else if (is({"CICircularScreen", "CICMYKHalftone", "CIDotScreen", "CIHatchedScreen"})) {
        put(kCIInputWidthKey, 4.0);
        put(kCIInputSharpnessKey, 0.15);
        put("inputCenter", centre);
    } else if (is({"CILineScreen"})) {
        put(kCIInputAngleKey, 1.96);
        put(kCIInputWidthKey, 4.0);
        put(kCIInputSharpnessKey, 0.15);
        put("inputCenter", centre);
    } else if (is({"CIColorControls"})) {
        put(kCIInputSaturationKey, 1.56);
        if (filterDisplayName == QLatin1String("Brightness"))
            put("inputBrightness", 0.11);
        else if (filterDisplayName == QLatin1String("Contrast"))
            put("inputContrast", 1.66);
    } else if (is({"CIExposureAdjust"})) {
        put(kCIInputEVKey, 1.88);
    } else if (is({"CIGammaAdjust"})) {
        put("inputPower", 0.51);
    } else if (is({"CIHueAdjust"})) {
        put(kCIInputAngleKey, 68);
    } else if (is({"CIVibrance"})) {
        put("inputAmount", -0.84);
    } else if (is({"CIVignetteEffect"})) {
        put("inputRadius", W * 0.25);
        put("inputIntensity", 0.8);
        put("inputCenter", centre);
    } else if (is({"CIAccordionFoldTransition"})) {
        put("inputTime", 0.25);
    } else if (is({"CIBarsSwipeTransition"})) {
        put("inputTime", 0.3);
        put("inputAngle", 4.0);
    } else if (is({"CICopyMachineTransition"})) {
        put("inputTime", 0.22);
        put("inputAngle", 4.0);
        put("inputOpacity", 0.0);
    } else if (is({"CIDissolveTransition"})) {
        put("inputTime", 0.13);
    } else if (is({"CIFlashTransition"})) {
        put("inputTime", 0.63);
        put("inputCenter", centre);
    } else if (is({"CIModTransition"})) {
        put("inputTime", 0.3);
        put("inputRadius", W * 0.25);
    } else if (is({"CIPageCurlWithShadowTransition"})) {
        put("inputTime", 0.55);
        put("inputAngle", -2.1);
    } else if (is({"CISwipeTransition"})) {
        put("inputTime", 0.25);
    } else if (is({"CIKaleidoscope"})) {
        put("inputCount", 1);
        put("inputAngle", 1.59);
        put("inputCenter", centre);
    } else if (is({"CIOpTile"})) {
        put("inputScale", 1.2);
        put("inputCenter", centre);
    } else if (is({"CICrystallize"})) {
        put("inputRadius", 5);
        put("inputCenter", centre);
    } else if (is({"CIHexagonalPixellate", "CIPixellate"})) {
        put("inputScale", 5);
        put("inputCenter", centre);
    } else if (is({"CIPointillize"})) {
        put("inputRadius", 3);
        put("inputCenter", centre);
    } else if (is({"CIHeightFieldFromMask"})) {
        put("inputRadius", 1.5);
    } else if (is({"CISharpenLuminance"})) {
        put("inputSharpness", 1);
    } else if (is({"CIBoxBlur", "CIGaussianBlur", "CIMotionBlur"})) {
        put("inputRadius", 2);
    } else if (is({"CIZoomBlur"})) {
        put("inputAmount", 4);
    }
    Q_UNUSED(filterName);
}

void Utils::removeTempFilterImageFiles() {
    const QDir temp(QDir::tempPath());
    QFile::remove(temp.filePath(QStringLiteral("filteredWorkingImage.jpg")));
    QFile::remove(temp.filePath(QStringLiteral("filteredWithAppliedImage.jpg")));
}

namespace {

// An image input from a stored list, redrawn at the photo's size.
QVariant fittedImageInput(const QVariant& stored, double W, double H) {
    CIImage ci;
    if (stored.metaType() == QMetaType::fromType<CIImage>())
        ci = stored.value<CIImage>();
    else if (stored.metaType() == QMetaType::fromType<QImage>())
        ci = Utils::getCIImageFromNSImage(stored.value<QImage>());
    const QSizeF e = effects::extentSize(ci);
    if (ci.isNull() || !(e.width() > 0) || !(e.height() > 0) || !std::isfinite(e.width()) || !std::isfinite(e.height()))
        return stored;
    const QRectF whole(0, 0, e.width(), e.height());
    const QImage drawn = Utils::sharedUtils().getDrawedImage(ci, e, whole, whole);
    if (drawn.isNull()) return stored;
    return QVariant::fromValue(Utils::getCIImageFromNSImage(Utils::sharedUtils().scaleImage(drawn, QSizeF(W, H))));
}

}  // namespace

void Utils::adjustFilterPrametersWithName(CIFilter& filter, const QString& filterName, const QVariantList& parameters,
                                          const QImage& image) {
    const double W = image.width(), H = image.height();
    const QStringList inputs = filter.inputKeys();
    auto setIfKnown = [&](const QString& key, const QVariant& v) {
        if (inputs.contains(key)) filter.setValue(v, key);
    };
    // A damaged list must not hand a filter an infinite or negative size.
    auto isVec = [](const QVariant& v) {
        if (v.metaType() != QMetaType::fromType<Vec>()) return false;
        const Vec p = v.value<Vec>();
        for (int i = 0; i < p.count; ++i)
            if (!std::isfinite(p.at(i))) return false;
        return true;
    };

    // Steps stored before strengths were kept as they are read as they showed on their preview.
    effects::forEachEntry(effects::withPlainStrengths(parameters), [&](const QString& key, const QVariant& value) {
        if (effects::isSizeRelativePoint(key)) {
            if (isVec(value)) {
                const Vec p = value.value<Vec>();
                setIfKnown(key, QVariant::fromValue(Vec(p.X() * W, p.Y() * H)));
            }
        } else if (effects::scalesWithWidth(filterName, key)) {
            const double scaled = platform::numberValue(value) * W;
            if (platform::isNumber(value) && std::isfinite(scaled)) setIfKnown(key, QVariant(std::max(0.0, scaled)));
        } else if (effects::isStrength(key)) {
            const double strength = platform::numberValue(value);
            if (platform::isNumber(value) && std::isfinite(strength)) setIfKnown(key, QVariant(std::max(0.0, strength)));
        } else if (key == QLatin1String("inputRectangle")) {
            if (isVec(value)) {
                const Vec r = value.value<Vec>();
                setIfKnown(key, QVariant::fromValue(
                                    Vec(r.X() * W, r.Y() * H, std::max(0.0, r.Z() * W), std::max(0.0, r.W() * H))));
            }
        } else if (key == QLatin1String(kCIInputBackgroundImageKey) &&
                   filterName == QLatin1String("CISourceOverCompositing")) {
            // The composite's background is the photo's own business.
        } else if (key == QLatin1String(kCIInputTargetImageKey) || key == QLatin1String(kCIInputMaskImageKey) ||
                   key == QLatin1String(kCIInputBackgroundImageKey)) {
            if (filter.attributes().contains(key)) filter.setValue(fittedImageInput(value, W, H), key);
        } else if (key == QLatin1String("picture_frameName")) {
            // A key of the program's own that no filter takes.
        } else if (filter.attributes().contains(key)) {
            filter.setValue(value, key);
        }
    });
}
