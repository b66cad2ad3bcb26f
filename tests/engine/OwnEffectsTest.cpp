// The program's own effects through the dispatcher: resize, rotate with flips, border.
#include "engine/Utils.h"
#include "records/AppDelegate.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

using enginetest::list;

QImage apply(const QImage& image, const QString& name, const QVariantList& params, bool thumb = false) {
    return Utils::sharedUtils().applyFilterWithImage(image, "/tmp/photo.jpg", name, params, thumb);
}

QImage asArgb(const QImage& i) { return i.convertToFormat(QImage::Format_ARGB32); }

struct ResizeCase {
    int w, h;
    QVariantList params;
    int ew, eh;
};

TEST(Resize, SizesPercentagesAndTheLimit) {
    // Small pictures stand for large photos: the size arithmetic does not depend on content,
    // but the scaled image is really made, so keep the targets modest except for the caps.
    const ResizeCase cases[] = {
        {400, 300, list({{"isPercentBaseResize", true}, {"percentWidth", 50}, {"percentHeight", 25}}), 200, 75},
        {400, 300, list({{"resizedWidth", 100}}), 100, 300},
        {400, 300, list({{"isPercentBaseResize", true}, {"isPercentBaseResize", false}, {"percentWidth", 50}}), 200,
         300},
        {40, 30, list({{"resizedWidth", 12000}, {"resizedHeight", 6000}}), 10000, 5000},
        {30, 40, list({{"resizedWidth", 6000}, {"resizedHeight", 12000}}), 5000, 10000},
        // A square above the limit is held to it too.
        {40, 40, list({{"resizedWidth", 12000}, {"resizedHeight", 12000}}), 10000, 10000},
        {40, 30, list({}), 40, 30},
    };
    for (const ResizeCase& c : cases) {
        const QImage out = apply(testsupport::gradientImage(c.w, c.h), "Resize", c.params);
        EXPECT_EQ(out.size(), QSize(c.ew, c.eh)) << c.w << "x" << c.h;
    }
}

TEST(Resize, EmptyOrInvalidSizesAreRefused) {
    const QImage in = testsupport::gradientImage(40, 30);
    const QVariantList bad[] = {
        list({{"resizedWidth", 0}}),
        list({{"resizedHeight", -20}}),
        list({{"isPercentBaseResize", true}, {"percentWidth", 0}}),
        list({{"resizedWidth", qInf()}}),
    };
    for (const QVariantList& params : bad) {
        const QImage out = apply(in, "Resize", params);
        EXPECT_EQ(out.size(), in.size());
        EXPECT_EQ(asArgb(out), asArgb(in));
    }
}

TEST(Resize, ThumbnailGetsADarkFrame) {
    const QImage out = asArgb(apply(testsupport::quadrantImage(580, 440), "Resize", {}, true));
    ASSERT_EQ(out.size(), QSize(580, 440));
    // Width 4 in reference points on a 580-wide picture: two pixels of stroke inside the edge.
    EXPECT_EQ(qGray(out.pixel(0, 220)), qGray(out.pixel(1, 220)));
    EXPECT_NEAR(qRed(out.pixel(1, 220)), 85, 10);
    EXPECT_EQ(out.pixel(10, 100), qRgb(255, 0, 0));
}

TEST(Rotate, QuarterTurnOfASquareIsAnExactPermutation) {
    const QImage in = asArgb(testsupport::gradientImage(64, 64));
    const QImage out = asArgb(apply(in, "Rotate", list({{"angle", 90}, {"flipHorizontally", false}})));
    ASSERT_EQ(out.size(), in.size());
    // Counter-clockwise on screen: the source's right column becomes the top row.
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(out.pixel(x, y), in.pixel(63 - y, x)) << x << "," << y;
    // Four quarter turns give the picture back.
    QImage back = in;
    for (int i = 0; i < 4; ++i) back = apply(back, "Rotate", list({{"angle", 90}, {"flipHorizontally", false}}));
    EXPECT_EQ(asArgb(back), in);
}

TEST(Rotate, QuarterTurnOfALandscapeIsShrunkAndCentred) {
    const QImage in = testsupport::quadrantImage(400, 300);
    const QImage out = asArgb(apply(in, "Rotate", list({{"angle", 90}, {"flipHorizontally", false}})));
    ASSERT_EQ(out.size(), QSize(400, 300));
    // The turned picture is 225 x 300 with transparent bands 87.5 wide at both sides.
    EXPECT_EQ(qAlpha(out.pixel(86, 150)), 0);
    EXPECT_EQ(qAlpha(out.pixel(313, 150)), 0);
    EXPECT_EQ(qAlpha(out.pixel(89, 150)), 255);
    EXPECT_EQ(qAlpha(out.pixel(310, 150)), 255);
    // Counter-clockwise: the top-right green quadrant ends up top-left, red bottom-left.
    EXPECT_EQ(out.pixel(120, 60), qRgb(0, 255, 0));
    EXPECT_EQ(out.pixel(120, 240), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(280, 60), qRgb(255, 255, 255));
    EXPECT_EQ(out.pixel(280, 240), qRgb(0, 0, 255));
}

TEST(Rotate, FlipsFromTheList) {
    const QImage in = asArgb(testsupport::quadrantImage(40, 30));
    struct Case {
        QVariantList params;
        QRgb topLeft;
    };
    const Case cases[] = {
        {list({}), qRgb(0, 255, 0)},                             // left-right by default
        {list({{"flipHorizontally", false}}), qRgb(255, 0, 0)},  // unchanged
        {list({{"flipHorizontally", false}, {"flipVertically", true}}), qRgb(0, 0, 255)},
        {list({{"flipVertically", true}}), qRgb(255, 255, 255)},  // both
        {list({{"flipHorizontally", false}, {"angle", 360}}), qRgb(255, 0, 0)},
    };
    for (const Case& c : cases) {
        const QImage out = asArgb(apply(in, "Rotate", c.params));
        ASSERT_EQ(out.size(), in.size());
        EXPECT_EQ(out.pixel(2, 2), c.topLeft);
    }
    EXPECT_EQ(asArgb(Utils::sharedUtils().flipImage(in, list({{"flipHorizontally", false}}))), in);
}

TEST(Rotate, ArbitraryAngleKeepsSizeAndLeavesCornersClear) {
    const QImage in = testsupport::gradientImage(200, 100);
    const QImage out = asArgb(apply(in, "Rotate", list({{"angle", 30}, {"flipHorizontally", false}})));
    ASSERT_EQ(out.size(), in.size());
    EXPECT_EQ(qAlpha(out.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(out.pixel(100, 50)), 255);
    EXPECT_NE(out, asArgb(in));
}

TEST(Border, WidthAndRadiusFollowThePhotoWidth) {
    QImage in(2900, 600, QImage::Format_ARGB32_Premultiplied);
    in.fill(Qt::white);
    const QImage out = asArgb(apply(in, "Add Border", {}));
    ASSERT_EQ(out.size(), in.size());
    // Width 10 on a 580-point reference: a 50-pixel stroke whose inner half, 25 pixels, shows.
    EXPECT_EQ(out.pixel(10, 300), qRgb(128, 128, 128));
    EXPECT_EQ(out.pixel(23, 300), qRgb(128, 128, 128));
    EXPECT_EQ(out.pixel(28, 300), qRgb(255, 255, 255));
    // Radius 50: the very corner is cut away.
    EXPECT_EQ(qAlpha(out.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(out.pixel(2899, 599)), 0);
}

TEST(Border, ColourWidthAndThumbnail) {
    QImage in(580, 300, QImage::Format_ARGB32_Premultiplied);
    in.fill(Qt::white);
    const QImage red = asArgb(
        apply(in, "Add Border", list({{"borderColor", QColor(Qt::red)}, {"borderWidth", 7.9}, {"cornerRadius", 0}})));
    // 7.9 is read as 7: a 3.5-pixel inner half.
    EXPECT_EQ(red.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(red.pixel(2, 150), qRgb(255, 0, 0));
    EXPECT_EQ(red.pixel(5, 150), qRgb(255, 255, 255));
    const QImage thumb = asArgb(apply(in, "Add Border", list({{"borderWidth", 2}}), true));
    EXPECT_EQ(thumb.pixel(11, 150), qRgb(128, 128, 128));  // 25 wide whatever the list says
    // A zero width draws no hairline.
    const QImage none = asArgb(apply(in, "Add Border", list({{"borderWidth", 0}, {"cornerRadius", 0}})));
    EXPECT_EQ(none.pixel(0, 150), qRgb(255, 255, 255));
}

TEST(CenterRect, CentresInTheContainer) {
    EXPECT_EQ(Utils::centerRect(QRectF(0, 0, 20, 10), QRectF(0, 0, 100, 60)), QRectF(40, 25, 20, 10));
}

}  // namespace
