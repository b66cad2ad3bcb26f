// Every effect through the dispatcher with tiny, empty and odd pictures and with damaged
// parameter lists: no crash, and the caller's picture is never written to.
#include "engine/Utils.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>

using platform::Vec;

namespace {

QStringList everyEffectName() {
    QStringList names = CIFilter::filterNamesInCategories({});
    names << "Resize" << "Custom Enhance" << "RGB Adjust" << "Brightness" << "Contrast" << "Black & White"
          << "Red Eye Correction" << "Auto Enhance" << "Add Border" << "Rotate" << "No Such Effect" << ""
          << "Classic Frame" << "Paper Effect" << "Vignette Effect" << "Add Text" << "Add Date" << "Add Logo" << "Emoticons";
    return names;
}

QList<QImage> oddPictures() {
    QImage one(1, 1, QImage::Format_ARGB32_Premultiplied);
    one.fill(QColor(200, 30, 90));
    QImage rgb(3, 2, QImage::Format_RGB32);
    rgb.fill(QColor(20, 180, 60));
    QImage clear(5, 4, QImage::Format_ARGB32);
    clear.fill(QColor(10, 200, 250, 60));
    return {one, rgb, clear, QImage()};
}

}  // namespace

TEST(ReviewDispatch, OddPicturesAndDamagedListsNeitherCrashNorTouchTheInput) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const QList<QVariantList> lists = {
        {},
        testsupport::parameterList({{"inputRadius", nan}, {"inputIntensity", inf}, {"inputCenter", QVariant::fromValue(Vec(nan, 0.5))},
                                    {"inputRectangle", QVariant::fromValue(Vec(0, 0, inf, nan))}, {"inputAngle", -inf},
                                    {"resizedWidth", nan}, {"angle", nan}, {"borderWidth", inf}, {"Red", nan}, {"Alpha", -inf},
                                    {"Intensity", nan}, {"enhanceOpacityValue", nan}, {"enhanceHueValue", inf}}),
        testsupport::parameterList({{"inputRadius", 1e12}, {"inputScale", -1e12}, {"inputCenter", QVariant::fromValue(Vec(1e9, -1e9))},
                                    {"inputRectangle", QVariant::fromValue(Vec(-1e9, -1e9, 1e12, 1e12))}, {"inputAmount", 1e30},
                                    {"resizedWidth", 1e12}, {"resizedHeight", 1}, {"angle", 1e300}, {"Green", 1e300},
                                    {"Intensity", 1e300}, {"enhanceExposureValue", 1e300}, {"enhanceContrastValue", -1e300}}),
        {QVariant(), QVariant(42), QVariant(QString("x"))},
    };
    Utils& utils = Utils::sharedUtils();
    for (const QString& name : everyEffectName())
        for (const QImage& in : oddPictures())
            for (const QVariantList& params : lists) for (bool thumb : {false, true}) {
                const QImage before = in.copy();
                SCOPED_TRACE(name.toStdString() + " " + std::to_string(in.width()) + "x" + std::to_string(in.height()));
                const QImage out = utils.applyFilterWithImage(in, "/tmp/x.jpg", name, params, thumb);
                EXPECT_EQ(in, before);
                if (!out.isNull()) {
                    EXPECT_GT(out.width(), 0);
                    EXPECT_LE(qint64(out.width()) * out.height(), 10001LL * 10001LL);
                }
            }
}

// Widths too large for an int (or not numbers at all) were converted to int unchecked,
// which is undefined and in practice dropped the border altogether.
TEST(ReviewDispatch, BorderWidthBeyondIntRange) {
    QImage in(40, 30, QImage::Format_ARGB32_Premultiplied);
    in.fill(Qt::red);
    Utils& utils = Utils::sharedUtils();
    const QImage wide = utils.applyFilterWithImage(
        in, "", "Add Border", testsupport::parameterList({{"borderColor", QColor(Qt::blue)}, {"borderWidth", 1e10}, {"cornerRadius", 0}}),
        false);
    ASSERT_FALSE(wide.isNull());
    EXPECT_EQ(wide.pixelColor(20, 15), QColor(Qt::blue));
    const QImage plain = utils.applyFilterWithImage(
        in, "", "Add Border", testsupport::parameterList({{"borderWidth", 0}, {"cornerRadius", std::numeric_limits<double>::quiet_NaN()}}),
        false);
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(plain.pixelColor(20, 15), QColor(Qt::red));
}
