#include "engine/Utils.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::meanDiff;

namespace {

constexpr platform::ImageType kJpeg = platform::ImageType::JPEG;

const QVariantMap kProps{{"{TIFF}", QVariantMap{{"Make", "Writer Test"}}},
                         {"{Exif}", QVariantMap{{"UserComment", "kept"}}}};

}  // namespace

TEST(Writing, EverySaveTypeRoundTrips) {
    QTemporaryDir dir;
    Utils& u = Utils::sharedUtils();
    const QImage picture = testsupport::quadrantImage(64, 40).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    using platform::ImageType;
    struct { ImageType saveType; const char* ext; double maxMean; bool holdsProperties; } cases[] = {
        {ImageType::TIFF, "tif", 0, true}, {ImageType::BMP, "bmp", 0, false}, {ImageType::GIF, "gif", 0, false},
        {ImageType::JPEG, "jpg", 5, true}, {ImageType::JPEG, "jpeg", 5, true}, {ImageType::PNG, "png", 0, true},
        {ImageType::JPEG2000, "jp2", 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ext);
        const QString path = dir.filePath(QString("out.") + c.ext);
        ASSERT_TRUE(u.saveImageInSelectedFormat(c.saveType, path, picture, picture, kProps, 0.8f, 1, nullptr));
        const QImage back = platform::readImage(path);
        ASSERT_EQ(back.size(), picture.size());
        EXPECT_LE(meanDiff(back, picture), c.maxMean);
        const QVariantMap props = platform::readImageProperties(path);
        if (c.holdsProperties) {
            EXPECT_EQ(props.value("{TIFF}").toMap().value("Make").toString(), "Writer Test");
        }
    }
    EXPECT_EQ(testsupport::readFile(dir.filePath("out.jpg")), testsupport::readFile(dir.filePath("out.jpeg")));
    // PNG is lossless whatever the quality says.
    ASSERT_TRUE(u.saveImageInSelectedFormat(platform::ImageType::PNG, dir.filePath("q.png"), picture, picture, {}, 0.2f,
                                            1, nullptr));
    EXPECT_EQ(platform::readImage(dir.filePath("q.png")), picture);
}

TEST(Writing, FailuresAreReportedAndLeaveNothingBehind) {
    QTemporaryDir dir;
    Utils& u = Utils::sharedUtils();
    const QImage picture = testsupport::gradientImage(16, 16);
    // An unknown type identifier is a failure, not PNG bytes under another name.
    EXPECT_FALSE(u.writeCGImage(picture, dir.filePath("x.tga"), "com.truevision.tga-image", {}));
    EXPECT_FALSE(QFile::exists(dir.filePath("x.tga")));
    // A failed write leaves the existing file as it was.
    const QString existing = testsupport::writeFile(dir.filePath("keep.jpg"), "earlier output");
    EXPECT_FALSE(u.saveImageInSelectedFormat(kJpeg, existing, QImage(), QImage(), {}, 0.8f, 1, nullptr));
    EXPECT_EQ(testsupport::readFile(existing), QByteArray("earlier output"));
    EXPECT_FALSE(u.saveImageInSelectedFormat(kJpeg, dir.filePath("none/x.jpg"), picture, picture, {}, 0.8f, 1, nullptr));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(Writing, TheGivenQualityWinsOverTheDictionary) {
    QTemporaryDir dir;
    Utils& u = Utils::sharedUtils();
    const QImage picture = testsupport::gradientImage(200, 150);
    const QVariantMap claimsBest{{"kCGImageDestinationLossyCompressionQuality", 1.0}};
    ASSERT_TRUE(u.saveImageInSelectedFormat(kJpeg, dir.filePath("low.jpg"), picture, picture, claimsBest, 0.1f, 1, nullptr));
    ASSERT_TRUE(u.saveImageInSelectedFormat(kJpeg, dir.filePath("high.jpg"), picture, picture, {}, 1.0f, 1, nullptr));
    EXPECT_LT(testsupport::readFile(dir.filePath("low.jpg")).size() * 2, testsupport::readFile(dir.filePath("high.jpg")).size());
    // The caller's dictionary is left alone.
    EXPECT_EQ(claimsBest.size(), 1);

    QVariantMap dict{{"Unrelated", 1}};
    const QVariantMap exif{{"{GPS}", QVariantMap{{"Latitude", 1.5}}}, {"PixelWidth", 3}, {"Other", 2}};
    u.setImageExifInfo(dict, exif);
    EXPECT_EQ(dict.keys(), QStringList({"PixelWidth", "Unrelated", "{GPS}"}));
}
