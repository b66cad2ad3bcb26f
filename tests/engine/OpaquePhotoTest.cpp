// An opaque photo stays opaque through the catalogue's effects: the blurs and the other
// filters that spread pixels past the photo's edge used to mix the transparent outside
// into the edges, and at a large radius into the whole photo.
#include "engine/FiltersList.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageIO.h"
#include "records/FilterRecord.h"
#include "tests/support/PackagedPictures.h"
#include "tests/engine/EngineTestHelpers.h"

#include <gtest/gtest.h>
#include <array>

// Named, not anonymous: the suite is compiled a few files to a unit.
namespace opaquephoto {

using enginetest::list;

struct Coverage {
    int leastAlpha = 255;
    std::array<double, 3> mean{};  // of the straight colours
};

Coverage coverage(const QImage& picture) {
    const QImage im = picture.convertToFormat(QImage::Format_ARGB32);
    Coverage c;
    for (int y = 0; y < im.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(im.constScanLine(y));
        for (int x = 0; x < im.width(); ++x) {
            c.leastAlpha = std::min(c.leastAlpha, qAlpha(line[x]));
            c.mean[0] += qRed(line[x]), c.mean[1] += qGreen(line[x]), c.mean[2] += qBlue(line[x]);
        }
    }
    for (double& m : c.mean) m /= double(im.width()) * im.height();
    return c;
}

QImage realPhoto() {
    return platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "bluebells_clipped.jpg"));
}

// Effects that show transparency by design: the distortions draw what lies beyond the
// photo's edge (nothing) once their circle passes it, and the border rounds the corners.
const QStringList kShowTransparency = {"CIPinchDistortion", "CITwirlDistortion", "CIVortexDistortion", "Add Border"};

TEST(OpaquePhoto, BlurAtAnyRadiusKeepsTheColoursAndNoTransparency) {
    const QImage photo = realPhoto();
    ASSERT_FALSE(photo.isNull());
    const Coverage before = coverage(photo);
    Utils& utils = Utils::sharedUtils();
    // The slider's largest radius on the 580-point preview, three photo widths, and the
    // other blurs of the catalogue at their strongest.
    const struct {
        const char* name;
        QVariantList params;
        double meanShift;  // the largest change of the mean colour a blur may make
    } cases[] = {
        {"CIGaussianBlur", list({{"inputRadius", 16.0 / 580}}), 2},
        {"CIGaussianBlur", list({{"inputRadius", 3.0}}), 2},
        {"CIMotionBlur", list({{"inputRadius", 0.2}}), 3},
        {"CIZoomBlur", list({{"inputAmount", 0.3}}), 6},
        {"CIPixellate", list({{"inputScale", 0.1}}), 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage out = utils.applyFilterWithImage(photo, QString(), c.name, c.params, false);
        ASSERT_EQ(out.size(), photo.size());
        const Coverage after = coverage(out);
        EXPECT_EQ(after.leastAlpha, 255);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(after.mean[k], before.mean[k], c.meanShift) << k;
    }
    // A blur far wider than the photo leaves about its mean colour everywhere.
    const QImage wide = utils.applyFilterWithImage(photo, QString(), "CIGaussianBlur", list({{"inputRadius", 3.0}}), false);
    for (QPoint p : {QPoint(0, 0), QPoint(photo.width() - 1, photo.height() / 2), QPoint(photo.width() / 2, 0)}) {
        const QRgb px = wide.pixel(p);
        EXPECT_NEAR(qRed(px), before.mean[0], 8);
        EXPECT_NEAR(qGreen(px), before.mean[1], 8);
        EXPECT_NEAR(qBlue(px), before.mean[2], 8);
    }
}

TEST(OpaquePhoto, EveryCatalogueEffectChainedWithABlurKeepsItOpaque) {
    const QImage photo = realPhoto();
    ASSERT_FALSE(photo.isNull());
    Utils& utils = Utils::sharedUtils();
    const QVariant centre = QVariant::fromValue(platform::Vec(0.5, 0.5));
    int checked = 0;
    for (const auto& record : FiltersList::sharedFiltersList().allAvailableFilters) {
        if (!record || record->isCategory || record->filterName == "Batch Conversion" || record->filterName == "Basic" ||
            kShowTransparency.contains(record->filterName))
            continue;
        const QString name = record->filterName;
        for (double radius : {16.0 / 580, 3.0}) {
            SCOPED_TRACE(QString("%1 with radius %2").arg(name).arg(radius).toStdString());
            const QVariantList blur = list({{"inputRadius", radius}});
            const QVariantList own = list({{"inputCenter", centre}});
            const QImage blurFirst = utils.applyFilterWithImage(
                utils.applyFilterWithImage(photo, QString(), "CIGaussianBlur", blur, false), QString(), name, own, false);
            const QImage blurLast = utils.applyFilterWithImage(
                utils.applyFilterWithImage(photo, QString(), name, own, false), QString(), "CIGaussianBlur", blur, false);
            ASSERT_FALSE(blurFirst.isNull());
            ASSERT_FALSE(blurLast.isNull());
            EXPECT_EQ(coverage(blurFirst).leastAlpha, 255);
            EXPECT_EQ(coverage(blurLast).leastAlpha, 255);
        }
        ++checked;
    }
    EXPECT_GE(checked, 40);
}

}  // namespace opaquephoto
