#include "CoreImageTestUtil.h"

#include <gtest/gtest.h>

using namespace citest;

TEST(FilterRegistry, UnknownNameGivesNoFilter) {
    EXPECT_EQ(CIFilter::filterWithName(QStringLiteral("CINoSuchFilter")), nullptr);
    EXPECT_EQ(CIFilter::filterWithName(QStringLiteral("cisepiatone")), nullptr);  // names are case-sensitive
}

TEST(FilterRegistry, UnknownKeysAndWrongKindsAreIgnored) {
    CIFilterPtr f = CIFilter::filterWithName(QStringLiteral("CISepiaTone"));
    ASSERT_TRUE(f);
    f->setDefaults();
    f->setValue(3.0, QStringLiteral("inputNothing"));
    f->setValue(QStringLiteral("strong"), QStringLiteral("inputIntensity"));
    f->setValue(QVariant::fromValue(platform::Vec(1, 2)), QStringLiteral("inputIntensity"));
    EXPECT_EQ(f->valueForKey(QStringLiteral("inputIntensity")).toDouble(), 1.0);
    EXPECT_FALSE(f->valueForKey(QStringLiteral("inputNothing")).isValid());
    // No image: no output, and no crash.
    EXPECT_TRUE(f->outputImage().isNull());
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(solid(4, 4, Qt::red))), QStringLiteral("inputImage"));
    EXPECT_FALSE(f->outputImage().isNull());
    // An invalid value empties the input again.
    f->setValue(QVariant(), QStringLiteral("inputImage"));
    EXPECT_TRUE(f->outputImage().isNull());
}
