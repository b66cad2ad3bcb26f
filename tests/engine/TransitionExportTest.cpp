// The transition animation export: a real animated GIF, read back with giflib.
#include "engine/Utils.h"
#include "platform/coreimage/CIImage.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <QLabel>
#include <QTemporaryDir>
#include <gif_lib.h>
#include <gtest/gtest.h>

namespace {

struct GifFrame {
    QImage image;
    int delay = -1;  // hundredths of a second
};

struct GifFile {
    int width = 0, height = 0;
    int loops = -1;  // from the looping extension; -1 when there is none
    std::vector<GifFrame> frames;
};

int readBytes(GifFileType* gif, GifByteType* buf, int n) {
    auto* file = static_cast<QFile*>(gif->UserData);
    return int(file->read(reinterpret_cast<char*>(buf), n));
}

// Every frame of the file as giflib reads it (frames here cover the whole screen).
GifFile readGif(const QString& path) {
    GifFile out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return out;
    int err = 0;
    GifFileType* gif = DGifOpen(&file, readBytes, &err);
    if (!gif) return out;
    if (DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &err);
        return out;
    }
    out.width = gif->SWidth;
    out.height = gif->SHeight;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& s = gif->SavedImages[i];
        GifFrame f;
        for (int e = 0; e < s.ExtensionBlockCount; ++e) {
            const ExtensionBlock& b = s.ExtensionBlocks[e];
            if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
                std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0 && e + 1 < s.ExtensionBlockCount) {
                const ExtensionBlock& sub = s.ExtensionBlocks[e + 1];
                if (sub.ByteCount >= 3) out.loops = sub.Bytes[1] | (sub.Bytes[2] << 8);
            }
        }
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) f.delay = gcb.DelayTime;
        const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : gif->SColorMap;
        f.image = QImage(s.ImageDesc.Width, s.ImageDesc.Height, QImage::Format_RGB32);
        for (int y = 0; y < s.ImageDesc.Height; ++y)
            for (int x = 0; x < s.ImageDesc.Width; ++x) {
                const GifColorType c = map->Colors[s.RasterBits[y * s.ImageDesc.Width + x]];
                f.image.setPixel(x, y, qRgb(c.Red, c.Green, c.Blue));
            }
        out.frames.push_back(f);
    }
    DGifCloseFile(gif, &err);
    return out;
}

// Two pictures of a few flat colours, so a palette holds them exactly.
QImage picture(const QColor& a, const QColor& b, int w = 48, int h = 32) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(a);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 3; ++x) img.setPixelColor(x, y, b);
    return img;
}

int maxDiff(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 999;
    int m = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            m = std::max({m, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return m;
}

class TransitionExport : public ::testing::Test {
protected:
    void SetUp() override {
        utils.gifExportFolder = dir.path();
        auto photo = std::make_shared<PhotoFile>();
        photo->fileName = QStringLiteral("Beach Day.jpeg");
        AppDelegate::shared().selectedImageFile = photo;
    }
    void TearDown() override {
        AppDelegate::shared().selectedImageFile.reset();
        utils.currentFilter.reset();
        utils.gifExportFolder.clear();
    }
    // A transition filter holding the two pictures, as a starter would leave it.
    void prepare(const char* name, const QImage& from, const QImage& to) {
        utils.currentFilter = CIFilter::filterWithName(QString::fromLatin1(name));
        ASSERT_TRUE(utils.currentFilter);
        utils.currentFilter->setDefaults();
        utils.currentFilter->setValue(QVariant::fromValue(CIImage::imageWithCGImage(from)), QStringLiteral("inputImage"));
        utils.currentFilter->setValue(QVariant::fromValue(CIImage::imageWithCGImage(to)), QStringLiteral("inputTargetImage"));
        if (utils.currentFilter->inputKeys().contains(QStringLiteral("inputExtent")))
            utils.currentFilter->setValue(QVariant::fromValue(utils.ciVectorWithCGRect(QRectF(QPointF(0, 0), from.size()))),
                                          QStringLiteral("inputExtent"));
        utils.setTransitionExtent(QSizeF(from.size()));
    }
    Utils& utils = Utils::sharedUtils();
    QTemporaryDir dir;
};

}  // namespace

TEST_F(TransitionExport, WritesEveryFrameOfTheTransitionAsAnEndlessGif) {
    const QImage from = picture(QColor(200, 40, 40), QColor(250, 250, 250));
    const QImage to = picture(QColor(20, 60, 200), QColor(0, 0, 0));
    for (const char* name : {"CIDissolveTransition", "CISwipeTransition", "CIPageCurlWithShadowTransition"}) {
        SCOPED_TRACE(name);
        prepare(name, from, to);
        utils.startGeneratingAnitmatedGIF();

        const QString path = dir.filePath(QStringLiteral("Beach Day.gif"));
        ASSERT_EQ(utils.lastGifPath, path);
        EXPECT_EQ(utils.steps, 60);
        EXPECT_DOUBLE_EQ(utils.stepDuration, 1.0 / 60);
        EXPECT_DOUBLE_EQ(utils.totalDuration, 1.0);
        EXPECT_TRUE(utils.arrayOfAnimatedFramesForGif.isEmpty());  // handed to the file

        const GifFile gif = readGif(path);
        EXPECT_EQ(gif.width, 48);
        EXPECT_EQ(gif.height, 32);
        EXPECT_EQ(gif.loops, 0);  // for ever
        ASSERT_EQ(gif.frames.size(), 61u);  // times 0, 1/60, ..., 1
        for (const GifFrame& f : gif.frames) {
            EXPECT_EQ(f.delay, 10);
            EXPECT_EQ(f.image.size(), QSize(48, 32));
        }
        EXPECT_EQ(maxDiff(gif.frames.front().image, from), 0);
        EXPECT_EQ(maxDiff(gif.frames.back().image, to), 0);
        EXPECT_GT(maxDiff(gif.frames[30].image, from), 0);
        EXPECT_GT(maxDiff(gif.frames[30].image, to), 0);
        // Read back for showing: the first frame.
        EXPECT_EQ(utils.imgGIFforTransitionEffects.size(), QSize(48, 32));
        QFile::remove(path);
    }
}

TEST_F(TransitionExport, NeverReplacesAFileAlreadyThere) {
    const QImage from = picture(Qt::red, Qt::white), to = picture(Qt::blue, Qt::black);
    // The user's own picture of that name (or the selected photo itself) stays untouched.
    const QByteArray mine("not a gif of ours");
    testsupport::writeFile(dir.filePath(QStringLiteral("Beach Day.gif")), mine);
    prepare("CIDissolveTransition", from, to);
    utils.startGeneratingAnitmatedGIF();
    EXPECT_EQ(testsupport::readFile(dir.filePath(QStringLiteral("Beach Day.gif"))), mine);
    EXPECT_EQ(utils.lastGifPath, dir.filePath(QStringLiteral("Beach Day 2.gif")));
    EXPECT_EQ(readGif(utils.lastGifPath).frames.size(), 61u);
}

TEST_F(TransitionExport, WritesNothingWithoutFramesOrAPhotoToNameIt) {
    // No filter: no frames, no file.
    utils.currentFilter.reset();
    utils.setTransitionExtent(QSizeF(48, 32));
    utils.startGeneratingAnitmatedGIF();
    EXPECT_TRUE(utils.lastGifPath.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // No selected photo: the frames are dropped, nothing is named "(null).gif".
    AppDelegate::shared().selectedImageFile.reset();
    prepare("CIDissolveTransition", picture(Qt::red, Qt::white), picture(Qt::blue, Qt::black));
    utils.startGeneratingAnitmatedGIF();
    EXPECT_TRUE(utils.lastGifPath.isEmpty());
    EXPECT_TRUE(utils.arrayOfAnimatedFramesForGif.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(TransitionExport, FramesKeepThePicturesSizeWhenTheOutputIsLarger) {
    // The target is larger than the first picture: frames are cut to the first one's size.
    prepare("CIDissolveTransition", picture(Qt::red, Qt::white, 40, 30), picture(Qt::blue, Qt::black, 60, 50));
    utils.arrayOfAnimatedFramesForGif.clear();
    utils.currentFilter->setValue(0.0, QStringLiteral("inputTime"));
    utils.callToGetImageFrameForTransition();
    ASSERT_EQ(utils.arrayOfAnimatedFramesForGif.size(), 1);
    EXPECT_EQ(utils.arrayOfAnimatedFramesForGif.first().size(), QSize(40, 30));
    utils.arrayOfAnimatedFramesForGif.clear();
}

TEST(ViewSnapshot, ImageOfViewShowsWhatTheWidgetDraws) {
    testsupport::pinFont();
    QLabel label;
    label.setAutoFillBackground(true);
    QPalette pal = label.palette();
    pal.setColor(QPalette::Window, QColor(10, 200, 30));
    label.setPalette(pal);
    label.resize(120, 40);
    const QImage shot = Utils::sharedUtils().imageOfView(&label);
    ASSERT_EQ(shot.size(), QSize(120, 40));
    EXPECT_EQ(shot.pixelColor(60, 20), QColor(10, 200, 30));
    EXPECT_TRUE(Utils::sharedUtils().imageOfView(nullptr).isNull());
}

TEST(TransitionThumbnails, EachTransitionShowsItsPresetMomentBetweenPhotoAndSample) {
    // The editor's thumbnails of the transitions: the set-up gives the target picture and
    // the preset time, so each shows a moment that is neither picture, framed like any other.
    QImage photo(120, 90, QImage::Format_RGB32);
    photo.fill(QColor(240, 200, 20));
    for (const char* name : {"CIAccordionFoldTransition", "CIBarsSwipeTransition", "CICopyMachineTransition",
                             "CIDissolveTransition", "CIFlashTransition", "CIModTransition",
                             "CIPageCurlWithShadowTransition", "CISwipeTransition"}) {
        SCOPED_TRACE(name);
        const QImage thumb = Utils::sharedUtils().applyFilterWithImage(photo, QString(), QString::fromLatin1(name), {}, true);
        ASSERT_EQ(thumb.size(), photo.size());
        int changed = 0;
        for (int y = 12; y < 78; y += 3)
            for (int x = 12; x < 108; x += 3) changed += thumb.pixelColor(x, y) != QColor(240, 200, 20);
        EXPECT_GT(changed, 0);
        // The dark grey frame of every Core Image thumbnail.
        EXPECT_LT(thumb.pixelColor(0, 45).red(), 120);
    }
}
