// Picture frames and textures, with frame pieces and texture pictures made by the test.
#include "engine/Utils.h"
#include "platform/foundation/Resources.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QImageWriter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using enginetest::entry;
using enginetest::solid;

class FramesTextures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Top pieces red, side pieces green, bottom pieces blue: which band lands where shows.
        const QColor colours[8] = {Qt::red, Qt::red, Qt::red, Qt::green, Qt::green, Qt::blue, Qt::blue, Qt::blue};
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(solid(32, 32, colours[i]).save(dir.filePath(QStringLiteral("ClassicFrame3_%1.png").arg(i + 1))));
        QImage stripes(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) stripes.setPixel(x, y, ((x / 4) % 2) ? qRgb(240, 240, 240) : qRgb(20, 20, 20));
        ASSERT_TRUE(stripes.save(dir.filePath("Paper4.jpg"), "jpeg", 95));
        ASSERT_TRUE(stripes.save(dir.filePath("Lights1.jpg"), "jpeg", 95));
        platform::setResourceDirectory(dir.path());
    }
    void TearDown() override { platform::setResourceDirectory(QString()); }

    QImage frame(const QImage& photo, const QVariantList& params, bool thumb = false) {
        return utils.addCustomFrameToImage(photo, "/p.jpg", "Classic Frame", params, thumb);
    }

    QTemporaryDir dir;
    Utils& utils = Utils::sharedUtils();
    const QColor grey{128, 128, 128};
};

TEST_F(FramesTextures, FrameCoversTheEdgesAndLeavesTheCentre) {
    const QImage photo = solid(1000, 800, grey);
    const QImage out = frame(photo, {entry("picture_frameName", "ClassicFrame3.png")});
    ASSERT_EQ(out.size(), photo.size());
    // Thickness 800 * 0.03 = 24.
    EXPECT_EQ(out.pixel(500, 5), qRgb(255, 0, 0));      // top edge
    EXPECT_EQ(out.pixel(500, 23), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(500, 24), grey.rgb());
    EXPECT_EQ(out.pixel(500, 790), qRgb(0, 0, 255));    // bottom edge
    EXPECT_EQ(out.pixel(5, 400), qRgb(0, 255, 0));      // left edge
    EXPECT_EQ(out.pixel(994, 400), qRgb(0, 255, 0));    // right edge
    EXPECT_EQ(out.pixel(2, 2), qRgb(255, 0, 0));        // corners
    EXPECT_EQ(out.pixel(997, 797), qRgb(0, 0, 255));
    for (int y = 24; y < 776; y += 37)
        for (int x = 24; x < 976; x += 41) ASSERT_EQ(out.pixel(x, y), grey.rgb()) << x << "," << y;
    EXPECT_EQ(photo.pixel(5, 5), grey.rgb());  // the input is untouched
}

TEST_F(FramesTextures, FrameThickness) {
    struct Case {
        const char* name;
        QSize size;
        QVariantList extra;
        bool thumbnail;
        QPoint covered, clear;  // a pixel inside the band and one just past it
        QRgb band = qRgb(255, 0, 0);
    } cases[] = {
        {"thumbnail uses 12 percent", {1000, 800}, {entry("frameWidthPercent", 0.01)}, true, {500, 95}, {500, 96}},
        {"stored fraction", {1000, 800}, {entry("frameWidthPercent", 0.1)}, false, {500, 79}, {500, 80}},
        // 90 points on a photo 100 wide would make the top band 90 high; half the shorter side
        // (50) leaves the side bands their place below it.
        {"capped at half the shorter side", {100, 200}, {entry("frameWidthPercent", 0.9)}, false, {25, 70}, {25, 70},
         qRgb(0, 255, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantList params{entry("picture_frameName", "ClassicFrame3.png")};
        params += c.extra;
        const QImage out = frame(solid(c.size.width(), c.size.height(), grey), params, c.thumbnail);
        EXPECT_EQ(out.pixel(c.covered), c.band);
        if (c.clear != c.covered) {
            EXPECT_EQ(out.pixel(c.clear), grey.rgb());
        }
    }
}

TEST_F(FramesTextures, FramesThatCannotBeDrawnLeaveThePhoto) {
    const QImage small = solid(60, 40, grey);
    EXPECT_EQ(frame(small, {entry("picture_frameName", "ClassicFrame3.png")}), small);  // 1.2 cut to 1
    const QImage photo = testsupport::gradientImage(300, 200);
    EXPECT_EQ(frame(photo, {}), photo);
    EXPECT_EQ(frame(photo, {entry("picture_frameName", "NoSuchFrame1.png")}), photo);
    // Only names inside the resource folder are looked up.
    QTemporaryDir outside;
    for (int i = 1; i <= 8; ++i) solid(8, 8, Qt::red).save(outside.filePath(QStringLiteral("Evil_%1.png").arg(i)));
    const QString escape = QDir(dir.path()).relativeFilePath(outside.filePath("Evil.png"));
    EXPECT_EQ(frame(photo, {entry("picture_frameName", escape)}), photo);
    EXPECT_EQ(utils.addTexturesToImage(photo, "", "Paper Effect", {entry("picture_EffectName", outside.filePath("Evil_1.png"))}, false),
              photo);
    QFile::remove(dir.filePath("ClassicFrame3_5.png"));
    EXPECT_EQ(frame(photo, {entry("picture_frameName", "ClassicFrame3.png")}), photo);
    EXPECT_TRUE(utils.addCustomFrameToImage(QImage(), "", "Classic Frame", {}, false).isNull());
}

// Pieces and textures are decoded once and pieces scaled once per width: a photo of another
// size gets pieces of its own width, and a replaced file is read anew.
TEST_F(FramesTextures, KeptPiecesFollowThePhotoAndTheFiles) {
    // Every piece dark at its top, light at its bottom: a band shows the width it was scaled to.
    QImage shade(32, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y) std::fill_n(reinterpret_cast<QRgb*>(shade.scanLine(y)), 32, qRgb(y * 8, y * 8, y * 8));
    for (int i = 1; i <= 8; ++i) ASSERT_TRUE(shade.save(dir.filePath(QStringLiteral("ShadeFrame1_%1.png").arg(i))));
    const QVariantList params{entry("picture_frameName", "ShadeFrame1.png")};
    const QImage big = solid(1000, 800, grey), small = solid(400, 300, grey);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const QImage bigFramed = frame(big, params), smallFramed = frame(small, params);
        EXPECT_LT(qRed(bigFramed.pixel(500, 0)), 40);  // 24 thick
        EXPECT_GT(qRed(bigFramed.pixel(500, 23)), 200);
        EXPECT_LT(qRed(smallFramed.pixel(200, 0)), 40);  // 9 thick
        EXPECT_GT(qRed(smallFramed.pixel(200, 8)), 200);
    }

    const QString corner = dir.filePath("ClassicFrame3_1.png");
    const QVariantList classic{entry("picture_frameName", "ClassicFrame3.png")};
    EXPECT_EQ(frame(big, classic).pixel(2, 2), qRgb(255, 0, 0));
    ASSERT_TRUE(solid(32, 32, Qt::yellow).save(corner));
    QFile file(corner);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(frame(big, classic).pixel(2, 2), qRgb(255, 255, 0));
}

TEST_F(FramesTextures, BlendModesAndOpacity) {
    const QImage photo = solid(400, 300, grey);
    auto topEdge = [&](const QVariantList& extra) {
        QVariantList params{entry("picture_frameName", "ClassicFrame3.png")};
        params += extra;
        return QColor(frame(photo, params).pixel(200, 3));
    };
    EXPECT_EQ(topEdge({}), QColor(255, 0, 0));
    const QColor multiplied = topEdge({entry("blendMode_index", 6)});
    EXPECT_NEAR(multiplied.red(), 128, 2);
    EXPECT_EQ(multiplied.green(), 0);
    EXPECT_EQ(topEdge({entry("blendMode_index", 8)}), QColor(255, 128, 128));  // screen
    // An index outside the table lays the frame over the photo, like index 0.
    EXPECT_EQ(topEdge({entry("blendMode_index", 42)}), QColor(255, 0, 0));
    EXPECT_EQ(topEdge({entry("blendMode_index", -1)}), QColor(255, 0, 0));
    const QColor half = topEdge({entry("effectIntensityValue", 0.5)});
    EXPECT_NEAR(half.red(), 191, 2);
    EXPECT_NEAR(half.green(), 64, 2);
}

// Largest change of any pixel in each cell of a 4 x 4 grid.
std::vector<int> changeByRegion(const QImage& a, const QImage& b) {
    std::vector<int> out(16, 0);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            int& cell = out[size_t((y * 4 / a.height()) * 4 + x * 4 / a.width())];
            cell = std::max(cell, d);
        }
    return out;
}

TEST_F(FramesTextures, TextureChangesEveryRegion) {
    const QImage photo = testsupport::gradientImage(320, 240);
    const QImage full = utils.addTexturesToImage(photo, "/p.jpg", "Paper Effect", {entry("picture_EffectName", "Paper4.jpg")}, false);
    const QImage half = utils.addTexturesToImage(
        photo, "/p.jpg", "Paper Effect", {entry("picture_EffectName", "Paper4.jpg"), entry("effectIntensityValue", 0.5)}, false);
    ASSERT_EQ(full.size(), photo.size());
    const auto strong = changeByRegion(photo, full), weak = changeByRegion(photo, half);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_GT(strong[i], 40) << "region " << i;
        EXPECT_LT(weak[i], strong[i]) << "region " << i;
    }
}

TEST_F(FramesTextures, TextureThumbnailsAndMissingPictures) {
    const QImage photo = testsupport::gradientImage(160, 120);
    const QImage lights = utils.addTexturesToImage(photo, "", "Lights Effect", {}, true);
    EXPECT_NE(lights, photo);
    EXPECT_EQ(utils.addTexturesToImage(photo, "", "Lights Effect", {}, false), photo);  // not a thumbnail: no picture
    EXPECT_EQ(utils.addTexturesToImage(photo, "", "Metal Effect", {}, true), photo);
    // A named picture that is not there gives the photo at its own opacity.
    const QImage faded = utils.addTexturesToImage(
        photo, "", "Paper Effect", {entry("picture_EffectName", "Paper99.jpg"), entry("imageIntensityValue", 0.5)}, false);
    EXPECT_NEAR(qAlpha(faded.pixel(10, 10)), 128, 1);
}

}  // namespace
