// A photo handed to an effect is rendered in its own storage when the effect reads it only
// near the rows it makes; the result must be the very picture the copying path draws,
// strip joins and all, and a photo still held elsewhere must never be written (a copy kept
// on the way is a slip, and is told in the log).
#include "engine/Utils.h"
#include "platform/coreimage/CIContext.h"
#include "platform/imageio/ImageIO.h"
#include "tests/engine/EngineTestHelpers.h"
#include "tests/support/PackagedPictures.h"

#include <QColorSpace>
#include <cstring>
#include <gtest/gtest.h>

namespace inplaceeffects {

using enginetest::list;

// 2560 x 1600: wide enough that a render takes several strips, so rows made early wait
// while later strips still read the photo below them.
QImage desktopPhoto() {
    return platform::readImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Aqua.jpg"));
}

struct Case {
    const char* name;
    QVariantList parameters;
    bool inPlace;  // rendered in the photo's storage
};

std::vector<Case> cases(double width) {
    return {
        {"CIGaussianBlur", list({{"inputRadius", 10 / width}}), true},
        // A reach longer than a strip: made rows wait across strips.
        {"CIGaussianBlur", list({{"inputRadius", 100 / width}}), true},
        {"Brightness", list({{"inputBrightness", 0.2}}), true},
        {"Contrast", list({{"inputContrast", 1.3}}), true},
        {"CISepiaTone", list({{"inputIntensity", 0.7}}), true},
        // The photo combined with its own blur.
        {"CIUnsharpMask", list({{"inputRadius", 20 / width}, {"inputIntensity", 1.0}}), true},
        // Reads the photo far from the rows it makes: drawn into a new picture.
        {"CITwirlDistortion", list({{"inputRadius", 0.4}, {"inputAngle", 3.0}}), false},
    };
}

bool samePicture(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format() || a.colorSpace() != b.colorSpace()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0) return false;
    return true;
}

TEST(InPlaceEffects, HandedOverPhotoGivesTheDrawnPictureInItsOwnStorage) {
    const QImage photo = desktopPhoto();
    ASSERT_FALSE(photo.isNull());
    Utils& utils = Utils::sharedUtils();
    for (const Case& c : cases(photo.width())) {
        SCOPED_TRACE(c.name);
        const QImage drawn = utils.applyFilterWithImage(photo, QString(), c.name, c.parameters, false);
        ASSERT_FALSE(drawn.isNull());
        QImage handed = photo.copy();
        const uchar* storage = handed.constBits();
        const QImage made = utils.applyFilterWithImage(std::move(handed), QString(), c.name, c.parameters, false);
        EXPECT_TRUE(samePicture(made, drawn));
        EXPECT_EQ(made.constBits() == storage, c.inPlace);
    }
}

TEST(InPlaceEffects, PhotoStillHeldElsewhereIsNeverWritten) {
    const QImage photo = desktopPhoto();
    ASSERT_FALSE(photo.isNull());
    const QImage untouched = photo.copy();
    Utils& utils = Utils::sharedUtils();
    const QVariantList blur = list({{"inputRadius", 30.0 / photo.width()}});
    const QImage drawn = utils.applyFilterWithImage(photo, QString(), "CIGaussianBlur", blur, false);

    // Handed over while the photo still holds the same pixels: a copy kept on the way.
    QImage handed = photo;
    testing::internal::CaptureStderr();
    const QImage made = utils.applyFilterWithImage(std::move(handed), QString(), "CIGaussianBlur", blur, false);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(samePicture(made, drawn));
    EXPECT_NE(made.constBits(), photo.constBits());
    EXPECT_TRUE(samePicture(photo, untouched));
    EXPECT_NE(log.find("still held elsewhere"), std::string::npos) << "the slip is not told: " << log;

    // A photo in a format the effects do not read as it is goes the copying way too.
    QImage wide = photo.convertToFormat(QImage::Format_RGBA64);
    const QImage fromWide = utils.applyFilterWithImage(std::move(wide), QString(), "CIGaussianBlur", blur, false);
    EXPECT_FALSE(fromWide.isNull());
    EXPECT_EQ(fromWide.size(), photo.size());
}

// Stands for a photo decoded a few rows at a time and encoded as its rows are finished:
// rows not yet asked for hold garbage, and finished rows are checked against the drawn
// picture and then made garbage too, as memory given back would be. A render that read a
// row before asking for it, or touched a row after handing it on, gives other pixels.
struct ComingAndGoing : PictureRows {
    static constexpr quint32 kGarbage = 0xFF13F7A2u;
    const QImage& photo;
    const QImage& drawn;
    QImage& picture;
    int needed = 0, done = 0, wrongRows = 0;
    bool backwards = false;
    ComingAndGoing(const QImage& p, const QImage& d, QImage& into) : photo(p), drawn(d), picture(into) {}
    const uchar* row(int y) const { return picture.constBits() + picture.bytesPerLine() * y; }
    uchar* writable(int y) { return const_cast<uchar*>(row(y)); }  // never detaches
    bool rowsNeeded(int end) override {
        backwards |= end < needed;
        for (; needed < end; ++needed) std::memcpy(writable(needed), photo.constScanLine(needed), size_t(photo.width()) * 4);
        return true;
    }
    bool rowsDone(int end) override {
        backwards |= end < done;
        for (; done < end; ++done) {
            if (std::memcmp(row(done), drawn.constScanLine(done), size_t(photo.width()) * 4) != 0) ++wrongRows;
            std::fill_n(reinterpret_cast<quint32*>(writable(done)), photo.width(), kGarbage);
        }
        return true;
    }
};

TEST(InPlaceEffects, RowsComingAndGoingGiveTheDrawnPictureRowByRow) {
    const QImage photo = desktopPhoto();
    ASSERT_FALSE(photo.isNull());
    Utils& utils = Utils::sharedUtils();
    for (const Case& c : cases(photo.width())) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utils::rowReach(c.name) != Utils::RowReach::WholePicture, c.inPlace);
        QImage picture(photo.size(), QImage::Format_RGB32);
        picture.fill(ComingAndGoing::kGarbage);
        const QImage drawn = utils.applyFilterWithImage(photo, QString(), c.name, c.parameters, false);
        ComingAndGoing rows(photo, drawn, picture);
        const QImage made = utils.applyFilterToRows(std::move(picture), QString(), c.name, c.parameters, rows);
        if (!c.inPlace) {
            EXPECT_TRUE(made.isNull());
            EXPECT_EQ(rows.done, 0);
            continue;
        }
        ASSERT_FALSE(made.isNull());
        EXPECT_EQ(rows.done, photo.height());
        EXPECT_EQ(rows.wrongRows, 0);
        EXPECT_FALSE(rows.backwards);
    }
}

}  // namespace inplaceeffects
