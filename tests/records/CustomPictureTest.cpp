#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>

#include "platform/foundation/KeyedArchive.h"
#include "platform/imageio/ImageIO.h"
#include "records/CustomPicture.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/TestSupport.h"

namespace {

// Left half red, right half half-transparent blue: proportions and alpha are both visible.
QImage halves(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::red);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(w / 2, 0, w - w / 2, h, QColor(0, 0, 255, 128));
    p.end();
    return img;
}

}  // namespace

TEST(CustomPicture, TheStepKeepsThePictureAtTheSizeASavedStepHolds) {
    QTemporaryDir dir;
    struct Case { const char* name; const char* format; QSize size; QSize kept; bool alpha; };
    const std::vector<Case> cases = {
        {"large JPEG", "jpg", {5000, 2500}, {4096, 2048}, false},
        {"tall PNG with transparency", "png", {1200, 4800}, {1024, 4096}, true},
        {"small PNG as it is", "png", {640, 480}, {640, 480}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + "." + c.format);
        const QImage drawn = halves(c.size.width(), c.size.height());
        ASSERT_TRUE(drawn.save(path, c.format));
        const QImage kept = CustomPicture::pictureForStep(path);
        ASSERT_FALSE(kept.isNull());
        EXPECT_EQ(kept.size(), c.kept);
        EXPECT_LE(std::max(kept.width(), kept.height()), platform::kArchivePictureMaxSide);
        EXPECT_EQ(kept.hasAlphaChannel(), c.alpha);
        const QColor left = kept.pixelColor(kept.width() / 4, kept.height() / 2);
        const QColor right = kept.pixelColor(kept.width() * 3 / 4, kept.height() / 2);
        EXPECT_GT(left.red(), 200);
        EXPECT_GT(right.blue(), 200);
        if (c.alpha) {
            EXPECT_NEAR(right.alpha(), 128, 2);
        }
        if (c.size == c.kept) {
            EXPECT_EQ(kept.convertToFormat(QImage::Format_ARGB32), drawn);
        }
    }
    EXPECT_TRUE(CustomPicture::pictureForStep(testsupport::writeFile(dir.filePath("no.png"), "not a picture")).isNull());
    EXPECT_TRUE(CustomPicture::pictureForStep(dir.filePath("missing.png")).isNull());
}

TEST(CustomPicture, EveryKindOfPictureThePhotosCanBeIsReadUprightAndInSrgb) {
    // A real photo from a Debian package, written the ways the libraries of the world write
    // pictures that the desktop's own image plugins do not read.
    const QImage photo = platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "bluebells_clipped.jpg"));
    ASSERT_FALSE(photo.isNull());
    QTemporaryDir dir;
    const QString jp2 = dir.filePath("photo.jp2"), tif = dir.filePath("turned.tif"), adobe = dir.filePath("adobe.jpg");
    ASSERT_TRUE(platform::writeImageFile(jp2, photo, platform::ImageType::JPEG2000, 1.0));
    // Stored on its side, with the tag that turns it upright.
    ASSERT_TRUE(platform::writeImageFile(tif, platform::unorientImage(photo, 6), platform::ImageType::TIFF, 1.0,
                                         {{"{TIFF}", QVariantMap{{"Orientation", 6}}}}));
    // Flat Adobe RGB colour, which is another colour in sRGB.
    QImage flat(64, 48, QImage::Format_RGB32);
    flat.fill(qRgb(40, 160, 90));
    testsupport::writeFile(adobe, testsupport::libjpegFile(flat, testsupport::debianProfile(testsupport::kAdobeRgbProfile),
                                                           testsupport::JpegColours::RGB));
    struct Case {
        const char* name;
        QString path;
        QImage expected;
        int tolerance;  // largest difference of a channel
    } cases[] = {
        {"JPEG 2000", jp2, photo, 1},
        {"TIFF turned by its orientation tag", tif, photo, 1},
        {"JPEG with an Adobe RGB profile", adobe, QImage(), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage kept = CustomPicture::pictureForStep(c.path);
        if (kept.isNull()) {
            ADD_FAILURE() << "not read";
            continue;
        }
        EXPECT_FALSE(kept.hasAlphaChannel());
        if (!c.expected.isNull()) {
            ASSERT_EQ(kept.size(), c.expected.size());
            EXPECT_LE(testsupport::maxDiff(kept, c.expected), c.tolerance);
        } else {
            EXPECT_LE(testsupport::colourDistance(kept.pixel(32, 24), testsupport::adobeRgbInSrgb(qRgb(40, 160, 90))),
                      c.tolerance);
        }
    }
}
