// Whole runs over photos with colour profiles (real ones from Debian packages): every
// photo is written, each output keeps, converts or greys its colours as its type allows,
// and a photo too large to open is told apart from a damaged one.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <zlib.h>

#include "batch/BatchRunner.h"
#include "batch/RunMessages.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppliedFilter.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/Sanitizers.h"

namespace {

struct ColourRun {
    std::atomic<bool> flag{false};
    BatchRunner runner{&flag};
    bool ended = false;
    ColourRun() {
        runner.setFreeSpaceProvider([](const QString&) { return VolumeSpace{1ull << 40, 1ull << 39}; });
        QObject::connect(&runner, &BatchRunner::runEnded, [this](bool) { ended = true; });
    }
    bool start(BatchRunInput in) {
        runner.startProcessingOfPhotos(std::move(in));
        return batchtest::waitUntil([this] { return ended; });
    }
};

// A photo of flat 16 x 16 patches made with libjpeg, with a profile. For CMYK the
// colours' complements are the inks, with no black.
QString writeJpeg(const QString& path, const std::vector<QRgb>& colours, const QByteArray& icc,
                  testsupport::JpegColours space) {
    QImage picture(16 * int(colours.size()), 16, QImage::Format_ARGB32);
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < 16; ++y) {
            const QRgb c = colours[size_t(x / 16)];
            picture.setPixel(x, y, space == testsupport::JpegColours::CMYK
                                       ? qRgba(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), 0)
                                       : c);
        }
    return testsupport::writeFile(path, testsupport::libjpegFile(picture, icc, space));
}

QRgb patchColour(const QImage& image, int i) { return image.pixel(16 * i + 8, 8); }

int greyInSrgb(int linearValue) { return int(std::lround(testsupport::srgbEncode(linearValue / 255.0))); }

}  // namespace

TEST(RunColour, EveryPhotoIsWrittenWithTheColoursItsOutputCanHold) {
    QTemporaryDir dir;
    const std::vector<QRgb> colours = {qRgb(200, 150, 100), qRgb(30, 180, 60)};
    const std::vector<QRgb> greys = {qRgb(64, 64, 64), qRgb(180, 180, 180)};
    const QByteArray adobe = testsupport::debianProfile(testsupport::kAdobeRgbProfile);
    const QByteArray grey = testsupport::debianProfile(testsupport::kGrayLinearProfile);
    const QByteArray srgb = testsupport::widespreadSrgbProfile();
    const QList<std::shared_ptr<PhotoFile>> photos = {
        batchtest::photoAt(writeJpeg(dir.filePath("src/adobe.jpg"), colours, adobe, testsupport::JpegColours::RGB)),
        batchtest::photoAt(writeJpeg(dir.filePath("src/grey.jpg"), greys, grey, testsupport::JpegColours::Gray)),
        batchtest::photoAt(writeJpeg(dir.filePath("src/camera.jpg"), colours, srgb, testsupport::JpegColours::RGB)),
        batchtest::photoAt(writeJpeg(dir.filePath("src/press.jpg"), colours,
                                     testsupport::debianProfile(testsupport::kPressCmykProfile), testsupport::JpegColours::CMYK)),
    };
    struct Output {
        int format;  // the rename settings' output format
        const char* ext;
        bool compression;
    } outputs[] = {{6, "png", false}, {6, "png", true}, {4, "jpg", false}, {3, "gif", false}, {1, "tif", false}};
    for (const Output& o : outputs) {
        SCOPED_TRACE(std::string(o.ext) + (o.compression ? " compressed" : ""));
        auto rename = batchtest::renameSettings(o.format);
        rename->isSetCompression = o.compression;
        auto output = batchtest::outputSettings(dir.filePath(QStringLiteral("out-%1-%2").arg(o.ext).arg(o.compression)));
        BatchRunInput in = batchtest::runInput(photos, rename, output);
        ColourRun run;
        ASSERT_TRUE(run.start(in));
        const bool holdsProfile = o.format != 3;
        for (int i = 0; i < photos.size(); ++i) {
            SCOPED_TRACE(photos[i]->fileURL.toStdString());
            ASSERT_EQ(photos[i]->processStatus, PhotoFile::Processed) << photos[i]->processInfoMessage.toStdString();
            const QString path = in.snapshot.destinationPaths[i]->filePath;
            const platform::ImageHeader header = platform::readImageHeader(path);
            const QImage written = platform::readImage(path);
            ASSERT_FALSE(written.isNull());
            switch (i) {
            case 0:  // Adobe RGB: kept, or converted where it cannot be kept
                EXPECT_EQ(header.iccProfile, holdsProfile ? adobe : QByteArray());
                for (int p = 0; p < 2; ++p)
                    EXPECT_LE(testsupport::colourDistance(patchColour(written, p), holdsProfile ? colours[size_t(p)]
                                                                                  : testsupport::adobeRgbInSrgb(colours[size_t(p)])),
                              3);
                break;
            case 1:  // grey under a grey profile: grey with it, or converted
                EXPECT_EQ(header.gray(), holdsProfile);
                EXPECT_EQ(header.iccProfile, holdsProfile ? grey : QByteArray());
                for (int p = 0; p < 2; ++p) {
                    const int v = holdsProfile ? qRed(greys[size_t(p)]) : greyInSrgb(qRed(greys[size_t(p)]));
                    EXPECT_LE(testsupport::colourDistance(patchColour(written, p), qRgb(v, v, v)), 3);
                }
                break;
            case 2:  // the widespread sRGB profile goes wherever a profile can
                EXPECT_EQ(header.iccProfile, holdsProfile ? srgb : QByteArray());
                break;
            case 3:  // CMYK was made sRGB when it was read: no profile goes with it
                EXPECT_TRUE(header.iccProfile.isEmpty());
                break;
            }
        }
    }
}

// The PDF page of a run shows the photo's colours in sRGB.
TEST(RunColour, PdfPagesShowSrgb) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    const std::vector<QRgb> colours = {qRgb(30, 180, 60)};
    const auto photo = batchtest::photoAt(
        writeJpeg(dir.filePath("src/adobe.jpg"), colours, testsupport::debianProfile(testsupport::kAdobeRgbProfile), testsupport::JpegColours::RGB));
    BatchRunInput in = batchtest::runInput({photo}, batchtest::renameSettings(8), batchtest::outputSettings(dir.filePath("out")));
    ColourRun run;
    ASSERT_TRUE(run.start(in));
    ASSERT_EQ(photo->processStatus, PhotoFile::Processed);
    const QString pdf = in.snapshot.destinationPaths[0]->filePath;
    const QString tool = QStandardPaths::findExecutable("pdftoppm");
    if (tool.isEmpty()) GTEST_SKIP() << "pdftoppm is not installed";
    QProcess::execute(tool, {"-png", "-r", "72", "-singlefile", pdf, dir.filePath("page")});
    const QImage page(dir.filePath("page.png"));
    ASSERT_FALSE(page.isNull());
    EXPECT_LE(testsupport::colourDistance(page.pixel(8, 8), testsupport::adobeRgbInSrgb(colours[0])), 3);
}

// A whole photo past what the program decodes is reported as too large, not as damaged.
TEST(RunColour, PhotoPastThePixelBudgetIsToldTooLargeNotUnreadable) {
    QTemporaryDir dir;
    // A PNG declaring 20000 x 15000 pixels (300 megapixels): its header is all a run reads
    // before the decoder refuses it.
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&](const char* type, const QByteArray& data) {
        QByteArray c(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), reinterpret_cast<uchar*>(c.data()));
        c += QByteArray(type, 4) + data;
        const uLong crc = crc32(crc32(0, reinterpret_cast<const Bytef*>(type), 4),
                                reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
        QByteArray tail(4, '\0');
        qToBigEndian<quint32>(quint32(crc), reinterpret_cast<uchar*>(tail.data()));
        png += c + tail;
    };
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(20000, reinterpret_cast<uchar*>(ihdr.data()));
    qToBigEndian<quint32>(15000, reinterpret_cast<uchar*>(ihdr.data()) + 4);
    ihdr[8] = 8;
    ihdr[9] = 2;
    chunk("IHDR", ihdr);
    chunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
    chunk("IEND", {});
    const QString huge = testsupport::writeFile(dir.filePath("src/huge.png"), png);
    const QString damaged = testsupport::writeFile(dir.filePath("src/damaged.png"), png.left(20));
    const QList<std::shared_ptr<PhotoFile>> photos = {batchtest::photoAt(huge), batchtest::photoAt(damaged)};
    EXPECT_TRUE(platform::exceedsPixelBudget(platform::readImageHeader(huge)));
    ColourRun run;
    ASSERT_TRUE(run.start(batchtest::runInput(photos, batchtest::renameSettings(4), batchtest::outputSettings(dir.filePath("out")))));
    EXPECT_EQ(photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(photos[0]->processInfoMessage, runmessages::TooLarge);
    EXPECT_EQ(photos[1]->processInfoMessage, runmessages::Unreadable);
}
