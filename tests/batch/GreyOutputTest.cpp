// Grey photos without a profile, in the files other programs write (JPEG, PNG, TIFF, JPEG
// 2000): a run writes them grey wherever the output type has grey pixels, adds no profile,
// and writes the same picture the colour route would; a step that colours them makes the
// output colour.
#include <gtest/gtest.h>

#include <QFileInfo>

#include "batch/BatchRunner.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "records/AppliedFilter.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"

namespace {

using platform::ImageType;

// The manual's grey photo as its own JPEG and PNG (copied under names of their own), and
// its pixels as a one-channel TIFF and JPEG 2000 made with libtiff and OpenJPEG.
QStringList greyPhotos(const QTemporaryDir& dir) {
    const QByteArray png = testsupport::readFile(testsupport::packagedPicture(testsupport::kManualPictures + "objects.png"));
    const QImage grey = platform::readImageFromData(png).convertToFormat(QImage::Format_Grayscale8);
    return {testsupport::writeFile(dir.filePath("src/objects-jpeg.jpg"),
                                   testsupport::readFile(testsupport::packagedPicture(testsupport::kManualPictures + "objects.jpg"))),
            testsupport::writeFile(dir.filePath("src/objects-png.png"), png),
            testsupport::writeFile(dir.filePath("src/objects-tiff.tif"), testsupport::makeGreyTiff(grey)),
            testsupport::writeFile(dir.filePath("src/objects-jp2.jp2"), testsupport::makeGreyJp2(grey))};
}

std::shared_ptr<AppliedFilter> greyTestStep(const QString& name, const QVariantList& parameters) {
    return AppliedFilter::initWithFilterName(name, name, parameters, QImage(), nullptr);
}

// The type a run writes for a photo in this output format ("Keep original format" keeps
// the source's).
ImageType typeWritten(const QString& output) {
    const QString ext = QFileInfo(output).suffix();
    if (ext == u"jpg") return ImageType::JPEG;
    if (ext == u"png") return ImageType::PNG;
    if (ext == u"tif") return ImageType::TIFF;
    if (ext == u"jp2") return ImageType::JPEG2000;
    if (ext == u"bmp") return ImageType::BMP;
    return ImageType::GIF;
}

}  // namespace

TEST(GreyOutput, GreyPhotosAreWrittenGreyWhereverTheOutputHasGrey) {
    QTemporaryDir dir;
    QList<std::shared_ptr<PhotoFile>> photos;
    for (const QString& path : greyPhotos(dir)) {
        ASSERT_TRUE(platform::readImageHeader(path).gray()) << path.toStdString();
        photos << batchtest::photoAt(path);
    }
    const struct {
        int format;  // the rename settings' output format
        bool compression;
        bool grey;  // the type has grey pixels
    } outputs[] = {{0, false, true}, {4, false, true}, {6, false, true}, {6, true, true},
                   {1, false, true}, {7, false, true}, {2, false, false}, {3, false, false}};
    for (const auto& o : outputs) {
        SCOPED_TRACE(testing::Message() << "output format " << o.format << (o.compression ? ", compressed" : ""));
        auto rename = batchtest::renameSettings(o.format);
        rename->isSetCompression = o.compression;
        BatchRunInput in = batchtest::runInput(
            photos, rename, batchtest::outputSettings(dir.filePath(QStringLiteral("out-%1-%2").arg(o.format).arg(o.compression))));
        batchtest::RunHarness run;
        ASSERT_TRUE(run.start(in));
        for (int i = 0; i < photos.size(); ++i) {
            SCOPED_TRACE(photos[i]->fileURL.toStdString());
            ASSERT_EQ(photos[i]->processStatus, PhotoFile::Processed) << photos[i]->processInfoMessage.toStdString();
            const QString path = in.snapshot.destinationPaths[i]->filePath;
            const platform::ImageHeader header = platform::readImageHeader(path);
            EXPECT_TRUE(header.iccProfile.isEmpty());
            EXPECT_EQ(header.gray(), o.grey);
            if (!o.grey) continue;
            EXPECT_EQ(testsupport::storedChannels(path), 1);
            // The colour route's file of the same picture with the same metadata: the same
            // pixels, and more bytes but in JPEG 2000, which codes colour beside equal
            // channels in next to nothing.
            const ImageType type = typeWritten(path);
            const QString colour = dir.filePath("colour." + QFileInfo(path).suffix());
            const double quality = type == ImageType::JPEG || type == ImageType::JPEG2000 ? 0.82 : 0.98;
            QVariantMap metadata = platform::readImageProperties(path);
            metadata.remove(QLatin1String(platform::kPropsColorModel));
            ASSERT_TRUE(platform::writeImageFile(
                colour, Utils::sharedUtils().getImageWithFixedOrientionFromUrl(photos[i]->fileURL), type, quality, metadata));
            EXPECT_EQ(testsupport::storedChannels(colour), 3);
            const QImage written = platform::readImage(path), colourWritten = platform::readImage(colour);
            ASSERT_EQ(written.size(), colourWritten.size());
            EXPECT_LE(testsupport::maxDiff(written, colourWritten), 1);
            if (type != ImageType::JPEG2000) {
                EXPECT_LT(QFileInfo(path).size(), QFileInfo(colour).size());
            }
        }
    }
}

TEST(GreyOutput, StepsThatKeepAPhotoGreyKeepItsFileGreyAndColourStepsMakeItColour) {
    QTemporaryDir dir;
    const auto photo = batchtest::photoAt(testsupport::packagedPicture(testsupport::kManualPictures + "objects.jpg"));
    const auto list = [](std::initializer_list<std::pair<QString, QVariant>> entries) {
        return testsupport::parameterList(entries);
    };
    constexpr int jpeg = 4, png = 6;
    const struct {
        const char* name;
        std::shared_ptr<AppliedFilter> step;
        int format;
        int channels;
    } cases[] = {
        {"shrunk, PNG", greyTestStep("Resize", list({{"resizedWidth", 128}, {"resizedHeight", 86}})), png, 1},
        {"cropped, JPEG", greyTestStep("CICrop", list({{"inputRectangle", QVariant::fromValue(platform::Vec(0.1, 0.2, 0.5, 0.6))}})), jpeg, 1},
        {"blurred, PNG", greyTestStep("CIGaussianBlur", list({{"inputRadius", 0.01}})), png, 1},
        {"brightened, JPEG", greyTestStep("Brightness", list({{"inputBrightness", 0.1}})), jpeg, 1},
        {"contrast, PNG", greyTestStep("Contrast", list({{"inputContrast", 1.3}})), png, 1},
        // Turned within its frame: the uncovered corners go on white in a JPEG.
        {"quarter turn, JPEG", greyTestStep("Rotate", list({{"angle", 90.0}})), jpeg, 1},
        // A PNG keeps them transparent, which grey samples alone cannot say.
        {"quarter turn, PNG", greyTestStep("Rotate", list({{"angle", 90.0}})), png, 4},
        {"sepia, JPEG", greyTestStep("CISepiaTone", list({{"inputIntensity", 0.8}})), jpeg, 3},
        {"sepia, PNG", greyTestStep("CISepiaTone", list({{"inputIntensity", 0.8}})), png, 3},
        {"red border, PNG", greyTestStep("Add Border", list({{"borderColor", QColor(Qt::red)}, {"borderWidth", 20}, {"cornerRadius", 0}})), png, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        photo->processStatus = PhotoFile::NotProcessed;
        BatchRunInput in = batchtest::runInput({photo}, batchtest::renameSettings(c.format),
                                               batchtest::outputSettings(dir.filePath(QString::fromLatin1(c.name))), {c.step});
        batchtest::RunHarness run;
        ASSERT_TRUE(run.start(in));
        ASSERT_EQ(photo->processStatus, PhotoFile::Processed) << photo->processInfoMessage.toStdString();
        const QString path = in.snapshot.destinationPaths[0]->filePath;
        EXPECT_EQ(testsupport::storedChannels(path), c.channels);
        EXPECT_TRUE(platform::readImageHeader(path).iccProfile.isEmpty());
        const QImage written = platform::readImage(path).convertToFormat(QImage::Format_ARGB32);
        bool coloured = false;
        for (int y = 0; y < written.height() && !coloured; ++y)
            for (int x = 0; x < written.width() && !coloured; ++x) {
                const QRgb p = written.pixel(x, y);
                coloured = std::abs(qRed(p) - qBlue(p)) > 8;
            }
        EXPECT_EQ(coloured, c.channels == 3);
    }
}
