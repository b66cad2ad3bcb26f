// Batches of real photos that no one here made (Debian packages' files, with their own
// profiles, orientations and metadata) through the runner, checked on the files written.
#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include "records/AppliedFilter.h"
#include "platform/imageio/ImageProperties.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/PackagedPictures.h"

// Named, not anonymous: the suite is compiled a few files to a unit.
namespace realphotos {

using batchtest::Batch;
using batchtest::RunHarness;

std::shared_ptr<AppliedFilter> step(const QString& name, const QVariantList& params) {
    return AppliedFilter::initWithFilterName(name, name, params, QImage(), nullptr);
}

const auto list = testsupport::parameterList;

// The least alpha and the mean luma of a picture's straight colours.
std::pair<int, double> alphaAndLuma(const QImage& picture) {
    const QImage im = picture.convertToFormat(QImage::Format_ARGB32);
    int least = 255;
    double sum = 0;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x) {
            const QRgb p = im.pixel(x, y);
            least = std::min(least, qAlpha(p));
            sum += 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
        }
    return {least, sum / (double(im.width()) * im.height())};
}

// A batch of the given packaged pictures, copied into the batch's source folder.
void addCopies(Batch& b, const QStringList& packaged) {
    for (const QString& path : packaged) {
        const QString copy = b.dir.filePath("src/" + QFileInfo(path).fileName());
        QDir().mkpath(QFileInfo(copy).absolutePath());
        ASSERT_TRUE(QFile::copy(testsupport::packagedPicture(path), copy)) << path.toStdString();
        b.photos << batchtest::photoAt(copy);
    }
}

TEST(RealPhotos, BlurThenSepiaKeepsAnOpaquePhotoOpaqueInEveryFormat) {
    const QString source = testsupport::kManualPictures + "bluebells_clipped.jpg";
    const double sourceLuma = alphaAndLuma(platform::readImage(testsupport::packagedPicture(source))).second;
    double pngLuma = -1;
    // png keeps transparency; jpg flattens it on white; tif and jp2 keep it too.
    for (int format : {6, 4, 1, 7}) {
        SCOPED_TRACE(format);
        Batch b(0);
        addCopies(b, {source});
        b.rename = batchtest::renameSettings(format);
        // A radius three photo widths wide, and one as wide as the slider goes.
        for (double radius : {3.0, 16.0 / 580}) {
            b.steps = {step("CIGaussianBlur", list({{"inputRadius", radius}})),
                       step("CISepiaTone", list({{"inputIntensity", 0.6}}))};
            RunHarness h;
            const BatchRunInput in = b.input();
            QFile::remove(in.snapshot.destinationPaths[0]->filePath);
            ASSERT_TRUE(h.start(in));
            ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << b.photos[0]->processInfoMessage.toStdString();
            const QImage written = platform::readImage(in.snapshot.destinationPaths[0]->filePath);
            ASSERT_FALSE(written.isNull());
            const auto [alpha, luma] = alphaAndLuma(written);
            EXPECT_EQ(alpha, 255) << radius;
            // Sepia keeps about the photo's brightness; a picture faded to transparent went
            // black or white.
            EXPECT_NEAR(luma, sourceLuma, 20) << radius;
            if (radius == 3.0 && format == 6) pngLuma = luma;
            if (radius == 3.0 && format != 6) { EXPECT_NEAR(luma, pngLuma, 3); }
        }
    }
}


TEST(RealPhotos, TheResolutionOfACameraPhotoGoesIntoEveryOutputThatHoldsOne) {
    // A camera's 350 dpi JPEG and a 300 dpi PNG: before, a TIFF output said 72 dpi, since
    // its resolution belongs to the directory of the pixels, which the metadata writer
    // leaves as the encoder made it.
    const struct {
        QString path;
        double dpi;
    } photos[] = {{testsupport::kDesktopPhotos + "abstract/Elephants.jpg", 350},
                  {testsupport::kDesktopPhotos + "desktop/Ubuntu-Mate-Cold-no-logo.png", 300}};
    for (int format : {1, 4, 6, 7}) {
        for (bool resize : {false, true}) {
            SCOPED_TRACE(QString("format %1%2").arg(format).arg(resize ? " resized" : "").toStdString());
            Batch b(0);
            for (const auto& p : photos) addCopies(b, {p.path});
            b.rename = batchtest::renameSettings(format);
            if (resize)
                b.steps = {step("Resize", list({{"resizedWidth", 640}, {"resizedHeight", 640}, {"maintainAspectRatio", true}}))};
            RunHarness h;
            const BatchRunInput in = b.input();
            ASSERT_TRUE(h.start(in));
            for (int i = 0; i < 2; ++i) {
                ASSERT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << b.photos[i]->processInfoMessage.toStdString();
                const QVariantMap props = platform::readImageProperties(in.snapshot.destinationPaths[i]->filePath);
                EXPECT_DOUBLE_EQ(props.value(platform::kPropsDPIWidth).toDouble(), photos[i].dpi) << i;
                EXPECT_DOUBLE_EQ(props.value(platform::kPropsDPIHeight).toDouble(), photos[i].dpi) << i;
            }
        }
    }
}

// A tag's bytes as Exiv2 reads them from the file ("48 50 50 49" for "0221"); empty when
// the file does not carry it.
std::string exifTagAsExiv2ReadsIt(const QString& path, const char* key) {
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? std::string() : it->toString();
}

TEST(RealPhotos, OutputsKeepTheCamerasExifAndFlashpixVersions) {
    // Two cameras' JPEGs: EXIF 2.20 and 2.21, Flashpix 1.00. Readers that check the EXIF
    // version before they trust the rest found none in the outputs.
    const QStringList cameras = {testsupport::kDesktopPhotos + "nature/Wood.jpg",
                                 testsupport::kDesktopPhotos + "nature/Storm.jpg"};
    for (int format : {4, 1, 6}) {
        SCOPED_TRACE(format);
        Batch b(0);
        addCopies(b, cameras);
        b.rename = batchtest::renameSettings(format);
        b.steps = {step("Resize", list({{"resizedWidth", 240}, {"resizedHeight", 160}}))};
        RunHarness h;
        const BatchRunInput in = b.input();
        ASSERT_TRUE(h.start(in));
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(b.photos[i]->processStatus, PhotoFile::Processed) << b.photos[i]->processInfoMessage.toStdString();
            const QString written = in.snapshot.destinationPaths[i]->filePath;
            for (const char* key : {"Exif.Photo.ExifVersion", "Exif.Photo.FlashpixVersion"}) {
                const std::string source = exifTagAsExiv2ReadsIt(cameras[i], key);
                ASSERT_FALSE(source.empty()) << key;
                EXPECT_EQ(exifTagAsExiv2ReadsIt(written, key), source) << key << " in " << written.toStdString();
            }
        }
    }
}

}  // namespace realphotos
