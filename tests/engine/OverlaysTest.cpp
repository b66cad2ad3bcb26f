// Text watermarks and image overlays: where the ink lands on the photo.
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

namespace {

using enginetest::entry;
using enginetest::vec;
using enginetest::solid;

QImage blackPhoto(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    return img;
}

struct Ink {
    int inside = 0, outside = 0;
    double sumX = 0;
    int maxValue = 0;
};

// Pixels that differ from black, counted inside a Qt rectangle (grown by one pixel for
// anti-aliasing) and outside it.
Ink inkAround(const QImage& img, const QRectF& qtRect) {
    Ink ink;
    const QRectF grown = qtRect.adjusted(-1, -1, 1, 1);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            const int v = std::max({qRed(c), qGreen(c), qBlue(c)});
            if (v < 8) continue;
            ink.maxValue = std::max(ink.maxValue, v);
            if (grown.contains(QPointF(x + 0.5, y + 0.5))) {
                ++ink.inside;
                ink.sumX += x;
            } else {
                ++ink.outside;
            }
        }
    return ink;
}

class Overlays : public ::testing::Test {
protected:
    void SetUp() override { testsupport::pinFont(); }
    Utils& utils = Utils::sharedUtils();
};

struct TextCase {
    const char* name;
    int alignment;
    bool flipH, flipV;
    double y;  // fraction of the height, from the bottom
};

TEST_F(Overlays, TextLandsInsideItsBoxAtEveryAlignmentAndFlip) {
    const TextCase cases[] = {
        {"left", 0, false, false, 0.05}, {"right", 1, false, false, 0.05}, {"centre", 2, false, false, 0.5},
        {"left flipped h", 0, true, false, 0.6}, {"centre flipped v", 2, false, true, 0.3},
        {"right flipped both", 1, true, true, 0.1},
    };
    const int pw = 600, ph = 400;
    const double X = 0.1, W = 0.6, H = 0.25, fontSize = 0.1;
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QVariantList params{entry("rotatedRect", vec(X, c.y, W, H)),  entry("text", "Hi"),
                                  entry("fontSize", fontSize),              entry("textAlignment", c.alignment),
                                  entry("flipHorizontally", c.flipH),       entry("flipVertically", c.flipV),
                                  entry("fontName", testsupport::pinnedFontFamily())};
        const QImage out = utils.addWaterMarkToImage(blackPhoto(pw, ph), QStringLiteral("/nonexistent.jpg"),
                                                     QStringLiteral("Add Text"), params);
        ASSERT_EQ(out.size(), QSize(pw, ph));
        const double f = fontSize * ph, h = H * ph;
        const QRectF yUpBox(X * pw + 4.0, c.y * ph + h / f, W * pw, h);
        const QRectF box = platform::toQtRect(yUpBox, ph);
        const Ink ink = inkAround(out, box);
        EXPECT_GT(ink.inside, 50);
        EXPECT_EQ(ink.outside, 0);
        // A box near the bottom of the photo draws in the bottom rows of the picture.
        if (c.y < 0.2) {
            EXPECT_GT(box.top(), ph / 2.0);
        }
        const double centreX = ink.sumX / std::max(1, ink.inside), mid = box.center().x();
        if (c.alignment == 0) {
            EXPECT_LT(centreX, mid - 20);
        }
        if (c.alignment == 1) {
            EXPECT_GT(centreX, mid + 20);
        }
        if (c.alignment == 2) {
            EXPECT_NEAR(centreX, mid, 15);
        }
    }
}

TEST_F(Overlays, DefaultsOfTheTextEffects) {
    const int pw = 800, ph = 600;
    const QImage text = utils.addWaterMarkToImage(blackPhoto(pw, ph), QStringLiteral("/x.jpg"),
                                                  QStringLiteral("Add Text"), {});
    // Default box (0.02, 0.84, 0.2, 0.09), lifted by h / f with f = 30 * ph.
    const QRectF box = platform::toQtRect(QRectF(0.02 * pw + 4.0, 0.84 * ph + 0.09 / 30.0, 0.2 * pw, 0.09 * ph), ph);
    const Ink full = inkAround(text, box);
    EXPECT_GT(full.inside, 20);
    EXPECT_EQ(full.outside, 0);
    EXPECT_GE(full.maxValue, 250);  // white at full opacity

    const QImage mark = utils.addWaterMarkToImage(blackPhoto(pw, ph), QStringLiteral("/x.jpg"),
                                                  QStringLiteral("Add Watermark"), {});
    const Ink half = inkAround(mark, box);
    EXPECT_GT(half.inside, 20);
    EXPECT_NEAR(half.maxValue, 128, 3);  // half opacity
}

TEST_F(Overlays, DateStampIgnoresTextAndFallsBackToTheSelectedPhoto) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath("photo.jpg"), "not really a photo");
    const QImage photo = blackPhoto(400, 200);
    const QVariantList dated{entry("dateTimeOption", "Original Date"), entry("dateFormat", "YYYY-MM-DD"),
                             entry("fontSize", 0.1)};
    QVariantList withText = dated;
    withText.append(entry("text", "IGNORED TEXT"));
    const QImage stamped = utils.addWaterMarkToImage(photo, path, "Add Date", dated);
    EXPECT_NE(stamped, photo);
    EXPECT_EQ(utils.addWaterMarkToImage(photo, path, "Add Date", withText), stamped);
    EXPECT_NE(utils.addWaterMarkToImage(photo, path, "Add Watermark", withText), stamped);

    // Without a path the photo selected in the editor gives the date.
    auto selected = std::make_shared<PhotoFile>();
    selected->fileURL = path;
    auto& app = AppDelegate::shared();
    const auto saved = app.selectedImageFile;
    app.selectedImageFile = selected;
    EXPECT_EQ(utils.addWaterMarkToImage(photo, QString(), "Add Date", dated), stamped);
    app.selectedImageFile = saved;
}

TEST_F(Overlays, SystemDefaultAndEmptyFontNameDrawTheSame) {
    const QVariantList base{entry("text", "Same"), entry("fontSize", 0.08)};
    QVariantList a = base, b = base;
    a.append(entry("fontName", "System Default"));
    b.append(entry("fontName", ""));
    const QImage photo = testsupport::gradientImage(300, 200);
    EXPECT_EQ(utils.addWaterMarkToImage(photo, "/x.jpg", "Add Text", a),
              utils.addWaterMarkToImage(photo, "/x.jpg", "Add Text", b));
}

TEST_F(Overlays, FittedFontSizeIsAlwaysFinitePositive) {
    struct Case {
        QSizeF area;
        const char* text;
    } cases[] = {
        {{200, 60}, "Hello"}, {{5, 5}, "Hello"}, {{0, 0}, "Hello"}, {{-40, 10}, "Hello"},
        {{200, 60}, ""},      {{1e7, 1e7}, "x"}, {{200, 60}, "two\nlines"},
    };
    QFont font(testsupport::pinnedFontFamily());
    font.setPointSizeF(30);
    for (const Case& c : cases) {
        const double size = utils.fontSizedForAreaSize(c.area, QString::fromUtf8(c.text), font).pointSizeF();
        EXPECT_TRUE(std::isfinite(size) && size > 0) << c.text << " in " << c.area.width() << "x" << c.area.height();
    }
    // A larger area never gives a smaller size.
    const double small = utils.fontSizedForAreaSize({100, 40}, "Fit me", font).pointSizeF();
    const double large = utils.fontSizedForAreaSize({400, 160}, "Fit me", font).pointSizeF();
    EXPECT_GT(large, small * 3);
}

TEST_F(Overlays, ZeroFontSizeStillStampsInsideTheBox) {
    const int pw = 400, ph = 300;
    const QImage out = utils.addWaterMarkToImage(
        blackPhoto(pw, ph), "/x.jpg", "Add Text",
        {entry("fontSize", 0.0), entry("text", "Zero"), entry("rotatedRect", vec(0.1, 0.1, 0.5, 0.3))});
    const Ink ink = inkAround(out, platform::toQtRect(QRectF(0.1 * pw + 4, 0.1 * ph, 0.5 * pw, 0.3 * ph), ph));
    EXPECT_GT(ink.inside, 0);
    EXPECT_EQ(ink.outside, 0);
}

TEST_F(Overlays, ImageOverlayFillsItsSquareFromTheBottomLeft) {
    const int pw = 500, ph = 400;
    const QVariantList params{entry("imageToAdd", solid(200, 100, Qt::red)), entry("boundedRect", vec(0.1, 0.05, 0.2, 0.5))};
    const QImage out = utils.addImageToBackgroundImage(blackPhoto(pw, ph), "Birthday", params);
    // Square side = min(0.2 * 500, 0.5 * 400) = 100, at y-up (50, 20).
    const QRectF square = platform::toQtRect(QRectF(50, 20, 100, 100), ph);
    const Ink ink = inkAround(out, square);
    EXPECT_EQ(ink.outside, 0);
    EXPECT_NEAR(ink.inside, 100 * 100, 500);
    EXPECT_EQ(qRed(out.pixel(100, ph - 70)), 255);
}

TEST_F(Overlays, TurnedOverlayGrowsItsSquareAroundTheCorner) {
    const int pw = 500, ph = 400;
    const QVariantList params{entry("imageToAdd", solid(64, 64, Qt::green)), entry("boundedRect", vec(0.4, 0.4, 0.2, 0.25)),
                              entry("angle", 45.0)};
    const QImage out = utils.addImageToBackgroundImage(blackPhoto(pw, ph), "Add Logo", params);
    // s = 100; the turned box is 141.4 wide, its origin (-20.7, -20.7) cut to -20: the picture
    // goes into (200 - 20, 160 - 20, 140, 140), a diamond whose corners reach the box edges.
    const QRectF box = platform::toQtRect(QRectF(180, 140, 140, 140), ph);
    const Ink ink = inkAround(out, box);
    EXPECT_EQ(ink.outside, 0);
    EXPECT_GT(ink.inside, 8000);
    EXPECT_LT(ink.inside, 12000);  // a diamond, not the whole box
    const QPointF centre = box.center();
    EXPECT_GT(qGreen(out.pixel(int(centre.x()), int(centre.y()))), 200);
    EXPECT_LT(qGreen(out.pixel(int(box.left()) + 3, int(box.top()) + 3)), 10);  // corners stay clear
}

TEST_F(Overlays, OverlayIsMirroredUnlessTheStepSaysOtherwise) {
    QImage halves(100, 100, QImage::Format_ARGB32_Premultiplied);
    halves.fill(Qt::blue);
    QPainter(&halves).fillRect(0, 0, 50, 100, Qt::red);  // red on the left
    const int pw = 200, ph = 200;
    const QVariantList base{entry("imageToAdd", halves), entry("boundedRect", vec(0, 0, 0.5, 0.5))};
    const QImage mirrored = utils.addImageToBackgroundImage(blackPhoto(pw, ph), "Add Logo", base);
    EXPECT_GT(qBlue(mirrored.pixel(10, 150)), 200);  // left half now blue
    QVariantList straight = base;
    straight.append(entry("flipHorizontally", false));
    const QImage kept = utils.addImageToBackgroundImage(blackPhoto(pw, ph), "Add Logo", straight);
    EXPECT_GT(qRed(kept.pixel(10, 150)), 200);
}

TEST_F(Overlays, PositiveAngleTurnsCounterClockwise) {
    QImage topRed(100, 100, QImage::Format_ARGB32_Premultiplied);
    topRed.fill(Qt::blue);
    QPainter(&topRed).fillRect(0, 0, 100, 50, Qt::red);  // red along the top
    const int pw = 200, ph = 200;
    const QImage out = utils.addImageToBackgroundImage(
        blackPhoto(pw, ph), "Add Logo",
        {entry("imageToAdd", topRed), entry("boundedRect", vec(0.25, 0.25, 0.5, 0.5)), entry("angle", 90.0),
         entry("flipHorizontally", false)});
    // Turned a quarter counter-clockwise, the top of the picture faces left.
    EXPECT_GT(qRed(out.pixel(70, 100)), 200);
    EXPECT_GT(qBlue(out.pixel(130, 100)), 200);
}

TEST_F(Overlays, NothingToDrawLeavesThePhotoAlone) {
    const QImage photo = testsupport::gradientImage(120, 90);
    EXPECT_EQ(utils.addImageToBackgroundImage(photo, "Food", {}), photo);
    EXPECT_EQ(utils.addImageToBackgroundImage(photo, "Food", {entry("Opacity", 0.5)}), photo);
    const QImage half = utils.addImageToBackgroundImage(
        blackPhoto(100, 100), "Food", {entry("imageToAdd", solid(10, 10, Qt::white)), entry("Opacity", 0.5),
                                       entry("boundedRect", vec(0, 0, 1, 1))});
    EXPECT_NEAR(qRed(half.pixel(50, 50)), 128, 2);
}

TEST_F(Overlays, TurnedBoxGeometry) {
    const QRectF r0 = utils.getRotatedRectForImageByDegrees(360, QImage(), QSizeF(100, 100));
    EXPECT_NEAR(r0.width(), 100, 1e-9);
    EXPECT_EQ(std::trunc(r0.x()), 0);
    const QRectF r45 = utils.getRotatedRectForImageByDegrees(45, QImage(), QSizeF(100, 100));
    EXPECT_NEAR(r45.width(), 141.421, 1e-3);
    EXPECT_NEAR(r45.x(), -20.7107, 1e-3);
    EXPECT_LT(r45.y(), 0);
}

// A photo's text must not depend on the thread that draws it or on what that thread drew
// before: a batch works on several photos at once, each on whichever worker is free.
struct ThreadTextCase {
    const char* name;
    int w, h;
    double fontSize;  // fraction of the height
    const char* text;
    int alignment;
    int angle;  // a quarter turn puts the box on its side
};

QImage stampOnFreshThread(const std::function<QImage()>& draw) {
    QImage out;
    std::thread worker([&] { out = draw(); });
    worker.join();
    return out;
}

// Text at many sizes, faces and strings, as a worker would have drawn for earlier photos.
void drawOtherText() {
    QImage scratch(400, 160, QImage::Format_ARGB32_Premultiplied);
    scratch.setDotsPerMeterX(2835);  // 72 dpi: points are pixels
    scratch.setDotsPerMeterY(2835);
    QPainter p(&scratch);
    for (int i = 0; i < 300; ++i) {
        QFont f(QString::fromLatin1(i % 5 == 0 ? "DejaVu Serif" : "DejaVu Sans"));
        f.setPointSizeF(2.0 + i * 0.73);
        p.setFont(f);
        p.drawText(QPointF(0, 120), i % 2 ? QStringLiteral("Brisko bench") : QStringLiteral("quick brown fox 0123"));
    }
}

TEST_F(Overlays, TextIsTheSameWhicheverThreadDrawsItAndWhatItDrewBefore) {
    const ThreadTextCase cases[] = {
        {"small, cached glyph images", 320, 200, 0.05, "Brisko bench", 0, 0},
        {"just under 64 px", 1800, 1200, 0.05, "Brisko bench", 0, 0},
        {"large, drawn as outlines", 2400, 1600, 0.05, "Brisko bench", 0, 0},
        {"large, wrapped and centred", 1600, 2400, 0.05, "Brisko bench of many words", 2, 0},
        {"on its side", 1200, 1800, 0.05, "Brisko bench", 1, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage photo = solid(c.w, c.h, QColor(40, 70, 110));
        QVariantList params{entry("text", QString::fromLatin1(c.text)), entry("fontSize", c.fontSize),
                            entry("rotatedRect", vec(0.05, 0.05, 0.5, 0.12)), entry("fontName", QStringLiteral("DejaVu Sans")),
                            entry("textAlignment", c.alignment)};
        if (c.angle != 0) params.append(entry("angle", c.angle));
        auto stamp = [&] { return utils.addWaterMarkToImage(photo, QStringLiteral("/x.jpg"), QStringLiteral("Add Text"), params); };
        const QImage fresh = stampOnFreshThread(stamp);
        ASSERT_NE(fresh, photo);
        EXPECT_EQ(stampOnFreshThread([&] { drawOtherText(); return stamp(); }), fresh);
        EXPECT_EQ(stamp(), fresh);  // this thread has drawn every case before this one
        std::vector<QImage> together(3);
        std::vector<std::thread> workers;
        for (int i = 0; i < 3; ++i) workers.emplace_back([&, i] { if (i == 1) drawOtherText(); together[size_t(i)] = stamp(); });
        for (auto& w : workers) w.join();
        for (const QImage& img : together) EXPECT_EQ(img, fresh);
    }
}

}  // namespace
