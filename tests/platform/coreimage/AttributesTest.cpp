#include "CoreImageTestUtil.h"

#include "platform/coreimage/CIFilterRegistry.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace citest;

namespace {

QStringList keysOf(const char* name) {
    CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(name));
    return f ? f->inputKeys() : QStringList{};
}

}  // namespace

// The editor builds its sliders from these, in key order.
TEST(Attributes, InputKeysInOrder) {
    struct Case { const char* name; QStringList keys; };
    const Case cases[] = {
        {"CIGaussianBlur", {"inputImage", "inputRadius"}},
        {"CIMotionBlur", {"inputImage", "inputRadius", "inputAngle"}},
        {"CIZoomBlur", {"inputImage", "inputCenter", "inputAmount"}},
        {"CIColorControls", {"inputImage", "inputSaturation", "inputBrightness", "inputContrast"}},
        {"CIVignetteEffect", {"inputImage", "inputCenter", "inputRadius", "inputIntensity", "inputFalloff"}},
        {"CICrop", {"inputImage", "inputRectangle"}},
        {"CISourceOverCompositing", {"inputImage", "inputBackgroundImage"}},
        {"CINoiseReduction", {"inputImage", "inputNoiseLevel", "inputSharpness"}},
        {"CITorusLensDistortion", {"inputImage", "inputCenter", "inputRadius", "inputWidth", "inputRefraction"}},
        {"CIBumpDistortionLinear", {"inputImage", "inputCenter", "inputRadius", "inputAngle", "inputScale"}},
        {"CIPixellate", {"inputImage", "inputCenter", "inputScale"}},
        {"CIToneCurve", {"inputImage", "inputPoint0", "inputPoint1", "inputPoint2", "inputPoint3", "inputPoint4"}},
    };
    for (const Case& c : cases) EXPECT_EQ(keysOf(c.name), c.keys) << c.name;
}

TEST(Attributes, RangesDefaultsAndTypes) {
    struct Case { const char* filter; const char* key; const char* type; double def; double sliderMin; double sliderMax; };
    const Case cases[] = {
        {"CIGaussianBlur", "inputRadius", kCIAttributeTypeScalar, 10, 0, 100},
        {"CIMotionBlur", "inputAngle", kCIAttributeTypeAngle, 0, -M_PI, M_PI},
        {"CIZoomBlur", "inputAmount", kCIAttributeTypeDistance, 20, 0, 200},
        {"CIColorControls", "inputContrast", kCIAttributeTypeScalar, 1, 0.25, 4},
        {"CIExposureAdjust", "inputEV", kCIAttributeTypeScalar, 0, -10, 10},
        {"CISepiaTone", "inputIntensity", kCIAttributeTypeScalar, 1, 0, 1},
        {"CIBloom", "inputRadius", kCIAttributeTypeDistance, 10, 0, 100},
        {"CICrystallize", "inputRadius", kCIAttributeTypeDistance, 20, 1, 100},
        {"CIPixellate", "inputScale", kCIAttributeTypeDistance, 8, 1, 100},
        {"CIPinchDistortion", "inputScale", kCIAttributeTypeScalar, 0.5, 0, 2},
        {"CITwirlDistortion", "inputAngle", kCIAttributeTypeAngle, M_PI, -4 * M_PI, 4 * M_PI},
        {"CIVortexDistortion", "inputAngle", kCIAttributeTypeAngle, 56.55, -94.25, 94.25},
        {"CIHueAdjust", "inputAngle", kCIAttributeTypeAngle, 0, -M_PI, M_PI},
        {"CISharpenLuminance", "inputSharpness", kCIAttributeTypeScalar, 0.4, 0, 2},
    };
    for (const Case& c : cases) {
        CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(c.filter));
        ASSERT_TRUE(f) << c.filter;
        const QVariantMap a = f->attributes().value(QString::fromLatin1(c.key)).toMap();
        EXPECT_EQ(a.value(kCIAttributeClass).toString(), QStringLiteral("NSNumber")) << c.filter;
        EXPECT_EQ(a.value(kCIAttributeType).toString(), QString::fromLatin1(c.type)) << c.filter;
        EXPECT_DOUBLE_EQ(a.value(kCIAttributeDefault).toDouble(), c.def) << c.filter;
        EXPECT_DOUBLE_EQ(a.value(kCIAttributeSliderMin).toDouble(), c.sliderMin) << c.filter;
        EXPECT_DOUBLE_EQ(a.value(kCIAttributeSliderMax).toDouble(), c.sliderMax) << c.filter;
    }
    CIFilterPtr v = CIFilter::filterWithName(QStringLiteral("CIVignetteEffect"));
    const QVariantMap va = v->attributes();
    EXPECT_EQ(va.value(kCIAttributeFilterDisplayName).toString(), QStringLiteral("Vignette Effect"));
    EXPECT_EQ(va.value(QStringLiteral("inputCenter")).toMap().value(kCIAttributeType).toString(), QString::fromLatin1(kCIAttributeTypePosition));
    EXPECT_EQ(va.value(QStringLiteral("inputCenter")).toMap().value(kCIAttributeClass).toString(), QStringLiteral("CIVector"));
    EXPECT_EQ(va.value(QStringLiteral("inputImage")).toMap().value(kCIAttributeType).toString(), QString::fromLatin1(kCIAttributeTypeImage));
    CIFilterPtr w = CIFilter::filterWithName(QStringLiteral("CIWhitePointAdjust"));
    EXPECT_EQ(w->attributes().value(QStringLiteral("inputColor")).toMap().value(kCIAttributeClass).toString(), QStringLiteral("CIColor"));
    CIFilterPtr n = CIFilter::filterWithName(QStringLiteral("CINoiseReduction"));
    EXPECT_EQ(n->attributes().value(QStringLiteral("inputNoiseLevel")).toMap().value(kCIAttributeDisplayName).toString(), QStringLiteral("Noise Level"));
}

TEST(Attributes, CategoriesListTheirFilters) {
    const QStringList stylize = CIFilter::filterNamesInCategory(QString::fromLatin1(kCICategoryStylize));
    const QStringList distortion = CIFilter::filterNamesInCategory(QString::fromLatin1(kCICategoryDistortionEffect));
    const QStringList blur = CIFilter::filterNamesInCategory(QString::fromLatin1(kCICategoryBlur));
    for (const char* n : {"CIBloom", "CICrystallize", "CIEdges", "CIPixellate", "CIPointillize"}) EXPECT_TRUE(stylize.contains(QString::fromLatin1(n))) << n;
    for (const char* n : {"CIBumpDistortion", "CIBumpDistortionLinear", "CICircleSplashDistortion", "CIPinchDistortion",
                          "CITorusLensDistortion", "CITwirlDistortion", "CIVortexDistortion"})
        EXPECT_TRUE(distortion.contains(QString::fromLatin1(n))) << n;
    for (const char* n : {"CIGaussianBlur", "CIMotionBlur", "CIZoomBlur", "CINoiseReduction"}) EXPECT_TRUE(blur.contains(QString::fromLatin1(n))) << n;
    EXPECT_FALSE(blur.contains(QStringLiteral("CISepiaTone")));
    QStringList sorted = blur;
    sorted.sort();
    EXPECT_EQ(blur, sorted);
    const QStringList blends = CIFilter::filterNamesInCategory(QString::fromLatin1(kCICategoryCompositeOperation));
    for (const char* n : {"CISourceOverCompositing", "CIColorBlendMode", "CIDarkenBlendMode", "CIDifferenceBlendMode", "CIHardLightBlendMode",
                          "CILightenBlendMode", "CIMultiplyBlendMode", "CIOverlayBlendMode", "CIScreenBlendMode", "CISubtractBlendMode"})
        EXPECT_TRUE(blends.contains(QString::fromLatin1(n))) << n;
    EXPECT_TRUE(CIFilter::filterNamesInCategories({QString::fromLatin1(kCICategoryBlur), QString::fromLatin1(kCICategoryStylize)}).isEmpty());
    EXPECT_TRUE(CIFilter::filterNamesInCategory(QStringLiteral("CICategoryNothing")).isEmpty());
}

// Every filter: sound attributes, an output at its defaults, and no crash whatever kind
// of value each key is given.
TEST(Attributes, EveryFilterIsWellFormedAndRobust) {
    const QImage in = gradientImageForTest(40, 30);
    const CIImage img = CIImage::imageWithCGImage(in);
    const QVariant junk[] = {QStringLiteral("text"), QVariant::fromValue(platform::Vec(1, 2)), QVariant::fromValue(platform::Vec(-5, -5, 1e9, 3)),
                             QVariant::fromValue(QColor(Qt::red)), 1e12, -1e12, 0, std::nan(""), HUGE_VAL,
                             QVariant::fromValue(platform::Vec(std::nan(""), 1, 2, 3)), QVariant::fromValue(img), QVariant()};
    for (const QString& name : platform::ci::registeredFilterNames()) {
        SCOPED_TRACE(name.toStdString());
        CIFilterPtr f = CIFilter::filterWithName(name);
        ASSERT_TRUE(f);
        const QVariantMap a = f->attributes();
        EXPECT_EQ(a.value(kCIAttributeFilterName).toString(), name);
        EXPECT_FALSE(a.value(kCIAttributeFilterDisplayName).toString().isEmpty());
        for (const QString& key : f->inputKeys()) {
            const QVariantMap k = a.value(key).toMap();
            EXPECT_FALSE(k.value(kCIAttributeClass).toString().isEmpty()) << key.toStdString();
            EXPECT_FALSE(k.value(kCIAttributeDisplayName).toString().isEmpty()) << key.toStdString();
            if (k.contains(kCIAttributeSliderMax)) {
                EXPECT_LE(k.value(kCIAttributeSliderMin).toDouble(), k.value(kCIAttributeDefault).toDouble()) << key.toStdString();
                EXPECT_GE(k.value(kCIAttributeSliderMax).toDouble(), k.value(kCIAttributeDefault).toDouble()) << key.toStdString();
            }
        }
        f->setDefaults();
        for (const QString& key : f->inputKeys())
            if (key.contains(QLatin1String("Image"))) f->setValue(QVariant::fromValue(img), key);
        const CIImage out = f->outputImage();
        EXPECT_FALSE(out.isNull());
        for (const QString& key : f->inputKeys()) {
            if (key.contains(QLatin1String("Image"))) continue;
            for (const QVariant& v : junk) {
                f->setValue(v, key);
                const CIImage o = f->outputImage();
                if (!o.isNull()) render(o, QRectF(-3, -3, 46, 36));
            }
            f->setDefaults();
        }
    }
}
