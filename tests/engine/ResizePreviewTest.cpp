// The editor's preview of a "Resize" step.
#include "engine/Utils.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using enginetest::list;

// White with a black frame 20 pixels wide: a middle cut of an enlargement loses the frame.
QImage framed(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    QPainter(&img).fillRect(20, 20, w - 40, h - 40, Qt::white);
    return img;
}

class ResizePreview : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath("photo.png");
        ASSERT_TRUE(framed(800, 600).save(path));
        auto photo = std::make_shared<PhotoFile>();
        photo->filePath = photo->fileURL = path;
        AppDelegate::shared().selectedImageFile = photo;
    }
    void TearDown() override { AppDelegate::shared().selectedImageFile.reset(); }

    QImage preview(const QVariantList& params) {
        return Utils::sharedUtils().resizeAndCropImageForPreview(framed(400, 300), "Resize", params, 1.0f);
    }
    QTemporaryDir dir;
};

TEST_F(ResizePreview, SizesFollowTheStep) {
    struct Case {
        QVariantList params;
        QSize size;
    };
    const Case cases[] = {
        {list({{"isPercentBaseResize", true}, {"percentWidth", 50}, {"percentHeight", 50}}), QSize(200, 150)},
        {list({{"isPercentBaseResize", true}, {"percentWidth", 200}, {"percentHeight", 50}}), QSize(800, 150)},
        {list({{"isPercentBaseResize", true}, {"percentWidth", 200}, {"percentHeight", 200}}), QSize(400, 300)},
        // Pixel sizes are measured against the photo: 400 of 800 is half.
        {list({{"resizedWidth", 400}}), QSize(200, 300)},
        {list({{"resizedWidth", 400}, {"resizedHeight", 150}}), QSize(200, 75)},
        // Never below one pixel.
        {list({{"resizedWidth", 1}, {"resizedHeight", 1}}), QSize(1, 1)},
        // Kept in shape: the photo fitted into 400 x 150 is a quarter of it on each side.
        {list({{"resizedWidth", 400}, {"resizedHeight", 150}, {"maintainAspectRatio", true}}), QSize(100, 75)},
        {list({{"resizedWidth", 400}, {"resizedHeight", 150}, {"maintainAspectRatio", false}}), QSize(200, 75)},
    };
    for (const Case& c : cases) EXPECT_EQ(preview(c.params).size(), c.size);
}

TEST_F(ResizePreview, EnlargingShowsTheMiddle) {
    const QImage doubled = preview(list({{"isPercentBaseResize", true}, {"percentWidth", 200}, {"percentHeight", 200}}))
                               .convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qGray(doubled.pixel(5, 5)), 255);  // the frame has moved out of view
    const QImage plain = preview({}).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qGray(plain.pixel(5, 5)), 0);
    // A huge enlargement is cut before it is scaled: quick, and the same size.
    const QImage huge = preview(list({{"resizedWidth", 1000000}, {"resizedHeight", 1000000}}));
    EXPECT_EQ(huge.size(), QSize(400, 300));
}

TEST_F(ResizePreview, WithoutThePhotoSizeThePreviewStays) {
    AppDelegate::shared().selectedImageFile->fileURL = dir.filePath("missing.png");
    EXPECT_EQ(preview(list({{"resizedWidth", 400}})).size(), QSize(400, 300));
    AppDelegate::shared().selectedImageFile.reset();
    EXPECT_EQ(preview(list({{"resizedWidth", 400}})).size(), QSize(400, 300));
    EXPECT_EQ(Utils::sharedUtils().resizeAndCropImageForPreview(framed(400, 300), "Resize", {}, 0.0f).size(),
              QSize(400, 300));
}

}  // namespace
