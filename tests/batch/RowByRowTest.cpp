// A large JPEG with one effect that renders row by row, written as JPEG or PNG, is decoded,
// worked on and encoded a few rows at a time. Its file must be the one the whole-picture way writes, byte for byte,
// and a photo that cannot go that way must still be made (or refused) the usual way.
#include <gtest/gtest.h>

#include <QColorSpace>
#include <QDir>
#include <QFile>

#include <limits>
#include <new>

#include "batch/BatchRunner.h"
#include "batch/PhotoStream.h"
#include "batch/RenameScheme.h"
#include "batch/ResultWriter.h"
#include "batch/RunMessages.h"
#include "engine/Utils.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppliedFilter.h"
#include "records/BatchRenameSetting.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/PngKinds.h"
#include "tests/support/TestSupport.h"

namespace {

using batchtest::resizeStepTo;

std::shared_ptr<AppliedFilter> effect(const QString& name, const char* key, double value) {
    return AppliedFilter::initWithFilterName(name, name, QVariantList{QVariantMap{{key, value}}}, QImage(), nullptr);
}

QByteArray bytesOfFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the whole-picture way writes for the photo: read upright, the effect made on the
// whole picture, and the writer's own file of it.
QByteArray wholePictureFile(const BatchRunInput& in, int index, const QString& destination) {
    const auto& photo = in.snapshot.photos.at(index);
    Utils& utils = Utils::sharedUtils();
    QImage picture = utils.getImageWithFixedOrientionFromUrl(photo->fileURL);
    for (const auto& step : in.snapshot.appliedFilters)
        picture = utils.applyFilterWithImage(picture, photo->fileURL, step->filterName, step->filterParameters, false);
    ResultWriterSettings settings;
    settings.renameSetting = in.snapshot.renameSetting;
    settings.outputSetting = in.snapshot.outputSetting;
    settings.metaDataSetting = in.snapshot.metaDataSetting;
    settings.metaDataSettingOnlyUpdatedFields = in.snapshot.metaDataSettingOnlyUpdatedFields;
    settings.autoCorrectOrientation = in.snapshot.autoCorrectOrientation;
    ResultWriter writer(settings);
    const int format = in.snapshot.renameSetting->outputFormat.value_or(0);
    const platform::ImageType saveType = RenameScheme::saveChoice(*photo, format, in.fileFormats).saveType;
    if (writer.saveImgInDirectoryFilteredImg(picture, destination, saveType, photo).processStatus != PhotoFile::Processed)
        return {};
    return bytesOfFile(destination);
}

// Two real desktop photos: a baseline 2560 x 1600 one and a progressive 3840 x 2160 one.
QString aquaPhoto() { return testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Aqua.jpg"); }
QString elephantsPhoto() {
    return testsupport::packagedPicture(testsupport::kDesktopPhotos + "abstract/Elephants_3840x2160.jpg");
}

// Runs the photo twice, row by row from `fromPixels` and the usual way (never row by row),
// and expects the same file's bytes; `rowByRow` says whether the first run goes row by row.
void expectTheUsualWaysFile(const QString& source, const std::shared_ptr<AppliedFilter>& step, int format,
                            qint64 fromPixels, bool rowByRow, QByteArray* made = nullptr) {
    QByteArray files[2];
    for (const bool rows : {true, false}) {
        batchtest::Batch run(0);
        run.photos << batchtest::photoAt(source);
        if (step) run.steps = {step};
        run.rename = batchtest::renameSettings(format);
        const BatchRunInput in = run.input();
        batchtest::RunHarness harness;
        harness.runner.setRowByRowFromPixels(rows ? fromPixels : std::numeric_limits<qint64>::max());
        ASSERT_TRUE(harness.start(in));
        ASSERT_EQ(run.photos[0]->processStatus, PhotoFile::Processed) << run.photos[0]->processInfoMessage.toStdString();
        EXPECT_EQ(harness.runner.photosMadeRowByRow.load(), rows && rowByRow ? 1 : 0);
        files[rows ? 0 : 1] = bytesOfFile(in.snapshot.destinationPaths[0]->filePath);
    }
    ASSERT_FALSE(files[1].isEmpty());
    EXPECT_EQ(files[0].size(), files[1].size());
    EXPECT_TRUE(files[0] == files[1]) << "the file differs from the usual way's";
    if (made) *made = files[0];
}

// A photo run both ways, and whether it goes row by row.
struct RowCase {
    const char* name;
    QString source;
    std::shared_ptr<AppliedFilter> step;  // none: a conversion
    int format;
    bool rowByRow;
};

// A photo's rows whose decoding runs out of memory past a row.
class RowsRunningShort : public platform::RowSource {
public:
    RowsRunningShort(std::unique_ptr<platform::RowSource> real, int shortFrom)
        : real_(std::move(real)), shortFrom_(shortFrom) {
        header_ = real_->header();
        refused_ = real_->refused();
    }
    bool transparent() const override { return real_->transparent(); }
    int width() const override { return real_->width(); }
    int height() const override { return real_->height(); }
    bool reduceTo(const platform::DecodeOptions& options) override { return real_->reduceTo(options); }
    bool readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) override {
        if (rowsEnd > shortFrom_) throw std::bad_alloc();
        return real_->readRows(base, bytesPerLine, rowsEnd);
    }
    int rowsRead() const override { return real_->rowsRead(); }
    bool cut() const override { return real_->cut(); }
    std::optional<bool> opaque() override { return real_->opaque(); }

private:
    std::unique_ptr<platform::RowSource> real_;
    const int shortFrom_;
};

}  // namespace

// A photo made row by row whose decoder, a strip ahead on a thread of its own, or whose PNG
// writer, behind on another, runs out of memory: the photo's caller hears of it once both
// threads have ended (it fails that photo), and nothing else ends.
TEST(RowByRow, RunningOutOfMemoryOnTheDecodersOrTheWritersThreadReachesTheCaller) {
    struct Case {
        const char* where;
        std::shared_ptr<AppliedFilter> step;
        int decodedRows;  // rows decoded before memory runs short
        int writes;       // pieces of the file written before it does
    };
    const Case cases[] = {
        {"the decoder, shrinking", resizeStepTo(640, 400), 400, std::numeric_limits<int>::max()},
        {"the writer, converting", nullptr, std::numeric_limits<int>::max(), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        RowsRunningShort source(platform::openRowSource(aquaPhoto(), {}), c.decodedRows);
        ResultWriter::EncodedRoute route;
        route.type = platform::ImageType::PNG;
        const auto steps = c.step ? QList<std::shared_ptr<AppliedFilter>>{c.step} : QList<std::shared_ptr<AppliedFilter>>{};
        const PhotoStream::Decision decision = PhotoStream::decide(
            PhotoStream::Source::of(source, QSizeF(2560, 1600)), steps, route, 1, PhotoStream::Limits{1, 1});
        ASSERT_TRUE(decision.rowByRow()) << int(decision.declined);
        int writes = 0;
        EXPECT_THROW(PhotoStream::make(source, decision.plan, route,
                                       [&](const char*, size_t) {
                                           if (++writes > c.writes) throw std::bad_alloc();
                                           return true;
                                       }),
                     std::bad_alloc);
    }
}

TEST(RowByRow, ALargeJpegIsWrittenAsTheWholePictureWouldBe) {
    batchtest::Batch b(0);
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    const QString aqua = aquaPhoto(), elephants = elephantsPhoto();
    // The baseline photo again, carrying a real Adobe RGB profile.
    QImage tagged = platform::readImage(aqua);
    QFile adobe(testsupport::kAdobeRgbProfile);
    ASSERT_TRUE(adobe.open(QIODevice::ReadOnly));
    tagged.setColorSpace(QColorSpace::fromIccProfile(adobe.readAll()));
    const QString adobeAqua = b.dir.filePath("src/AdobeAqua.jpg");
    ASSERT_TRUE(platform::writeImageFile(adobeAqua, tagged, platform::ImageType::JPEG, 0.9));
    tagged = QImage();

    using outputformat::Jpg, outputformat::Png;
    const struct {
        const char* name;
        QString source;
        std::shared_ptr<AppliedFilter> step;
        int format;
    } cases[] = {
        {"baseline, blur, JPEG", aqua, effect("CIGaussianBlur", "inputRadius", 10.0 / 2560), Jpg},
        {"progressive, brightness, JPEG", elephants, effect("Brightness", "inputBrightness", 0.15), Jpg},
        {"Adobe RGB, unsharp mask, JPEG", adobeAqua, effect("CIUnsharpMask", "inputRadius", 20.0 / 2560), Jpg},
        {"baseline, long blur, JPEG", aqua, effect("CIGaussianBlur", "inputRadius", 100.0 / 2560), Jpg},
        {"progressive, sepia, PNG", elephants, effect("CISepiaTone", "inputIntensity", 0.7), Png},
        {"Adobe RGB, blur, PNG", adobeAqua, effect("CIGaussianBlur", "inputRadius", 30.0 / 2560), Png},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        batchtest::Batch run1(0);
        run1.photos << batchtest::photoAt(c.source);
        run1.steps = {c.step};
        run1.rename = batchtest::renameSettings(c.format);
        const BatchRunInput in = run1.input();
        batchtest::RunHarness run;
        ASSERT_TRUE(run.start(in));
        ASSERT_EQ(run1.photos[0]->processStatus, PhotoFile::Processed) << run1.photos[0]->processInfoMessage.toStdString();
        EXPECT_EQ(run.runner.photosMadeRowByRow.load(), 1);
        const QByteArray made = bytesOfFile(in.snapshot.destinationPaths[0]->filePath);
        const QByteArray whole = wholePictureFile(in, 0, run1.dir.filePath(c.format == Png ? "whole/whole.png" : "whole/whole.jpg"));
        ASSERT_FALSE(whole.isEmpty());
        EXPECT_EQ(made.size(), whole.size());
        EXPECT_TRUE(made == whole) << "the file differs from the whole picture's";
    }
}

TEST(RowByRow, PhotosThatCannotGoRowByRowAreMadeTheUsualWay) {
    batchtest::Batch b(0);
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    const QString aqua = aquaPhoto();
    // Cut short half way: the row-by-row reader gives up on it, and the usual way says what
    // is wrong with the photo.
    const QByteArray full = bytesOfFile(aqua);
    const QString cut = b.dir.filePath("src/cut.jpg");
    {
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(full.left(full.size() / 2));
    }
    // Stored on its side: the writer turns it upright.
    const QString sideways = batchtest::writePhoto(b.dir.filePath("src/sideways.jpg"), 2400, 1600,
                                                   platform::ImageType::JPEG, 6);
    ASSERT_FALSE(sideways.isEmpty());
    // Grey: whether the effect leaves it grey is known only from the whole picture, which
    // is then written grey.
    const QString grey = testsupport::writeFile(
        b.dir.filePath("src/grey.jpg"),
        testsupport::libjpegFile(platform::readImage(aqua).convertToFormat(QImage::Format_Grayscale8), {},
                                 testsupport::JpegColours::Gray));
    b.photos << batchtest::photoAt(cut) << batchtest::photoAt(sideways) << batchtest::photoAt(grey);
    b.steps = {effect("CIGaussianBlur", "inputRadius", 10.0 / 2560)};
    for (const int format : {4, 6}) {  // JPEG, PNG: a PNG's first bands go to its file before the cut is found
        SCOPED_TRACE(format);
        b.rename = batchtest::renameSettings(format);
        for (const auto& photo : b.photos) photo->processStatus = PhotoFile::NotProcessed;
        const BatchRunInput in = b.input();
        batchtest::RunHarness run;
        ASSERT_TRUE(run.start(in));
        EXPECT_EQ(run.runner.photosMadeRowByRow.load(), 0);
        EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
        EXPECT_FALSE(QFileInfo::exists(in.snapshot.destinationPaths[0]->filePath));
        ASSERT_EQ(b.photos[1]->processStatus, PhotoFile::Processed);
        EXPECT_EQ(platform::readImageHeader(in.snapshot.destinationPaths[1]->filePath).width, 1600);
        ASSERT_EQ(b.photos[2]->processStatus, PhotoFile::Processed);
        EXPECT_TRUE(platform::readImageHeader(in.snapshot.destinationPaths[2]->filePath).gray());
        // Nothing else is left in the output folder: no part of the cut photo's file.
        const QDir out = QFileInfo(in.snapshot.destinationPaths[1]->filePath).dir();
        QStringList written{QFileInfo(in.snapshot.destinationPaths[1]->filePath).fileName(),
                            QFileInfo(in.snapshot.destinationPaths[2]->filePath).fileName()};
        written.sort();
        EXPECT_EQ(out.entryList(QDir::Files | QDir::Hidden, QDir::Name), written);
        for (int i : {1, 2}) ASSERT_TRUE(QFile::remove(in.snapshot.destinationPaths[i]->filePath));
    }
}

TEST(RowByRow, ConvertedAndShrunkPhotosAreTheFilesTheUsualWayWrites) {
    // Each photo is run twice: row by row (from 2 MP here) and the usual way (never row by
    // row), and the two files must be the same bytes.
    batchtest::Batch b(0);
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    const QString aqua = aquaPhoto(), elephants = elephantsPhoto();
    // The baseline photo as the program writes a large JPEG: with restart markers, which
    // the usual way decodes reduced in bands on several cores at once.
    const QString restarts = b.dir.filePath("src/restarts.jpg");
    ASSERT_TRUE(platform::writeImageFile(restarts, platform::readImage(aqua), platform::ImageType::JPEG, 0.9));
    // The baseline photo in grey, one channel as libjpeg writes it, without a profile and
    // under a grey one that pictures carry as it is.
    const QImage grey = platform::readImage(aqua).convertToFormat(QImage::Format_Grayscale8);
    const QString greyAqua = testsupport::writeFile(b.dir.filePath("src/grey.jpg"),
                                                    testsupport::libjpegFile(grey, {}, testsupport::JpegColours::Gray));
    const QString sgreyAqua = testsupport::writeFile(
        b.dir.filePath("src/sgrey.jpg"),
        testsupport::libjpegFile(grey, testsupport::debianProfile(testsupport::kSGrayProfile), testsupport::JpegColours::Gray));

    using outputformat::Jpg, outputformat::Png;
    const struct {
        const char* name;
        QString source;
        std::shared_ptr<AppliedFilter> step;  // none: a conversion
        int format;
        bool grey = false;  // the file stores one grey channel
    } cases[] = {
        {"baseline, converted, JPEG", aqua, nullptr, Jpg},
        {"progressive, converted, PNG", elephants, nullptr, Png},
        // Larger than the rows let wait for the encoder: their pages are passed on.
        {"progressive 18 MP, converted, JPEG", testsupport::packagedPicture(
             testsupport::kDesktopPhotos + "abstract/Elephants_5640x3172.jpg"), nullptr, Jpg},
        {"baseline, shrunk by less than half, JPEG", aqua, resizeStepTo(1600, 1000), Jpg},
        {"baseline, stretched to a third, PNG", aqua, resizeStepTo(900, 400), Png},
        {"restart markers, an eighth: decoded at half, JPEG", restarts, resizeStepTo(320, 200), Jpg},
        {"progressive, a tenth: decoded at half, JPEG", elephants, resizeStepTo(384, 216), Jpg},
        {"grey, converted, JPEG", greyAqua, nullptr, Jpg, true},
        {"grey, kept in its own format", greyAqua, nullptr, 0, true},
        {"grey, converted, PNG", greyAqua, nullptr, Png, true},
        {"grey with a grey profile, shrunk by less than half, PNG", sgreyAqua, resizeStepTo(1600, 1000), Png, true},
        {"grey, a tenth: decoded at half, JPEG", greyAqua, resizeStepTo(256, 160), Jpg, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray made;
        expectTheUsualWaysFile(c.source, c.step, c.format, 2'000'000, true, &made);
        EXPECT_EQ(platform::readImageHeaderFromData(made).gray(), c.grey);
    }
}

// PNGs of every kind a photo comes as, converted or shrunk, row by row where their rows can
// be given as the whole-picture reader gives them, and byte for byte the usual way's file;
// the rest go the usual way.
TEST(RowByRow, PngPhotosAreTheFilesTheUsualWayWrites) {
    batchtest::Batch b(0);
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    const QImage aqua = platform::readImage(aquaPhoto());
    const auto made = [&](const char* name, testsupport::PngKind kind) {
        return testsupport::writeFile(b.dir.filePath(QStringLiteral("src/") + QLatin1String(name)),
                                      testsupport::pngOfKind(aqua, kind));
    };
    const QString rgb = testsupport::packagedPicture(testsupport::kDesktopPhotos + "desktop/Ubuntu-Mate-Cold-no-logo.png");
    const QString transparent =
        testsupport::packagedPicture(testsupport::kDesktopPhotos + "abstract/Arc-Colors-Transparent-Wallpaper.png");
    // An alpha channel, every pixel opaque: written without alpha.
    const QString opaqueAlpha = testsupport::packagedPicture(testsupport::kDesktopPhotos + "desktop/Float-into-MATE.png");
    const QString greyAlpha = testsupport::packagedPicture(testsupport::kDesktopPhotos + "desktop/Stripes.png");
    const QString grey = made("grey.png", testsupport::PngKind::Grey);
    const QString deep = made("deep.png", testsupport::PngKind::Deep);
    const QString palette = made("palette.png", testsupport::PngKind::Palette);
    const QString interlaced = made("interlaced.png", testsupport::PngKind::Interlaced);
    const QString libpngTest = testsupport::packagedPicture(testsupport::kLibpngTestPicture);

    using outputformat::Jpg, outputformat::Png;
    const RowCase cases[] = {
        {"RGB, converted, JPEG", rgb, nullptr, Jpg, true},
        {"RGB, converted, PNG", rgb, nullptr, Png, true},
        {"RGB, a tenth, JPEG", rgb, resizeStepTo(192, 128), Jpg, true},
        {"RGBA with transparency, converted, JPEG: on white", transparent, nullptr, Jpg, true},
        {"RGBA with transparency, converted, PNG", transparent, nullptr, Png, true},
        {"RGBA with transparency, shrunk by less than half, JPEG", transparent, resizeStepTo(1600, 900), Jpg, true},
        {"RGBA with transparency, shrunk, PNG: the usual way", transparent, resizeStepTo(1600, 900), Png, false},
        {"RGBA all opaque, converted, PNG", opaqueAlpha, nullptr, Png, true},
        {"grey with alpha, converted, JPEG", greyAlpha, nullptr, Jpg, true},
        {"grey, converted, PNG", grey, nullptr, Png, true},
        {"16 bits a sample, converted, JPEG", deep, nullptr, Jpg, true},
        {"palette, stretched to a third, PNG", palette, resizeStepTo(900, 400), Png, true},
        {"interlaced, converted, JPEG", interlaced, nullptr, Jpg, true},
        {"interlaced, a tenth, PNG", interlaced, resizeStepTo(256, 160), Png, true},
        {"with an effect: the usual way, JPEG", rgb, effect("Brightness", "inputBrightness", 0.15), Jpg, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectTheUsualWaysFile(c.source, c.step, c.format, 1'000'000, c.rowByRow);
    }
    // libpng's own interlaced picture, RGBA with transparency, keeps its EXIF after its picture
    // data, and its orientation says to turn it: the header read before the data does not see
    // it, the usual way does and turns it, and so it goes the usual way whatever its size.
    for (const int format : {Jpg, Png}) {
        SCOPED_TRACE(format == Jpg ? "libpng's interlaced RGBA, JPEG" : "libpng's interlaced RGBA, PNG");
        expectTheUsualWaysFile(libpngTest, nullptr, format, 1, false);
    }
}

// TIFFs as libtiff's tools write them from a real photo, converted or shrunk: read a strip or a
// row of tiles at a time where the file allows, and byte for byte the usual way's file; the
// rest go the usual way.
TEST(RowByRow, TiffPhotosAreTheFilesTheUsualWayWrites) {
    BRISKO_STARTS_A_PROCESS();
    batchtest::Batch b(0);
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    const QImage meadow =
        platform::readImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/GreenMeadow.jpg"));
    using testsupport::TiffSamples;
    int made = 0;
    const auto tiff = [&](TiffSamples samples, const QStringList& tiffcp, int orientation = 1) {
        return testsupport::tiffcpFile(b.dir.filePath(QStringLiteral("src/t%1.tif").arg(made++)), meadow, samples,
                                       tiffcp, orientation);
    };
    const QString strips = tiff(TiffSamples::Rgb8, {"-c", "none", "-r", "128"});
    if (strips.isEmpty()) GTEST_SKIP() << "libtiff's tools (tiffcp, tiffset) are not installed";
    const QString lzw = tiff(TiffSamples::Rgb8, {"-c", "lzw:2", "-r", "16"});
    const QString tiles = tiff(TiffSamples::Rgb8, {"-c", "zip", "-t", "-w", "256", "-l", "256"});
    const QString deepStrips = tiff(TiffSamples::Rgb16, {"-c", "zip", "-r", "32"});
    const QString deepTiles = tiff(TiffSamples::Rgb16, {"-c", "lzw", "-t", "-w", "128", "-l", "128"});
    const QString grey = tiff(TiffSamples::Grey8, {"-c", "lzw", "-r", "16"});
    const QString alpha = tiff(TiffSamples::Rgba8, {"-c", "zip", "-r", "64"});
    const QString turned = tiff(TiffSamples::Rgb8, {"-c", "lzw", "-r", "16"}, 3);
    const QString mirrored = tiff(TiffSamples::Rgb8, {"-c", "none", "-t", "-w", "256", "-l", "256"}, 2);
    const QString oneStrip = tiff(TiffSamples::Rgb8, {"-c", "lzw", "-r", "1024"});

    using outputformat::Jpg, outputformat::Png;
    const RowCase cases[] = {
        {"8 bits, strips, no compression, converted, JPEG", strips, nullptr, Jpg, true},
        {"8 bits, strips, LZW, converted, PNG", lzw, nullptr, Png, true},
        {"8 bits, tiles, deflate, shrunk by less than half, JPEG", tiles, resizeStepTo(800, 640), Jpg, true},
        {"8 bits, tiles, deflate, a tenth, PNG", tiles, resizeStepTo(128, 102), Png, true},
        {"16 bits, strips, converted, JPEG", deepStrips, nullptr, Jpg, true},
        {"16 bits, tiles, stretched to a third, PNG", deepTiles, resizeStepTo(450, 256), Png, true},
        {"grey, converted, JPEG: grey", grey, nullptr, Jpg, true},
        {"grey, converted, PNG: grey", grey, nullptr, Png, true},
        {"transparent, converted, JPEG: on white", alpha, nullptr, Jpg, true},
        {"transparent, converted, PNG", alpha, nullptr, Png, true},
        {"transparent, shrunk, PNG: the usual way", alpha, resizeStepTo(800, 640), Png, false},
        {"stored upside down: the usual way, JPEG", turned, nullptr, Jpg, false},
        {"stored mirrored: the usual way, PNG", mirrored, nullptr, Png, false},
        {"the whole picture in one strip, converted, JPEG", oneStrip, nullptr, Jpg, true},
        {"with an effect: the usual way, JPEG", lzw, effect("Brightness", "inputBrightness", 0.15), Jpg, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.source.isEmpty());
        QByteArray file;
        expectTheUsualWaysFile(c.source, c.step, c.format, 1'000'000, c.rowByRow, &file);
        EXPECT_EQ(platform::readImageHeaderFromData(file).gray(), c.source == grey);
        if (c.source == alpha) { EXPECT_EQ(platform::isOpaqueImage(platform::readImageFromData(file)), c.format == Jpg); }
    }
}

// A photo made row by row is opened for its pixels once: the reader of rows opened as its
// header was read for the run's memory budget is the one its rows come from, whatever the
// route decided meanwhile (a shrink's reduced decode included).
TEST(RowByRow, APhotoMadeRowByRowIsOpenedForItsPixelsOnce) {
    BRISKO_STARTS_A_PROCESS();
    batchtest::Batch b(0);
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    const QImage meadow =
        platform::readImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/GreenMeadow.jpg"));
    const QString tiff =
        testsupport::tiffcpFile(b.dir.filePath("src/meadow.tif"), meadow, testsupport::TiffSamples::Rgb8, {"-c", "lzw"});
    if (tiff.isEmpty()) GTEST_SKIP() << "libtiff's tools (tiffcp, tiffset) are not installed";
    const QString restarts = b.dir.filePath("src/restarts.jpg");
    ASSERT_TRUE(platform::writeImageFile(restarts, platform::readImage(aquaPhoto()), platform::ImageType::JPEG, 0.9));
    const QString png = testsupport::packagedPicture(testsupport::kDesktopPhotos + "desktop/Ubuntu-Mate-Cold-no-logo.png");
    const struct {
        const char* name;
        QString source;
        std::shared_ptr<AppliedFilter> step;
    } cases[] = {
        {"JPEG, converted", aquaPhoto(), nullptr},
        {"JPEG, an eighth: decoded at half", restarts, resizeStepTo(320, 200)},
        {"JPEG, blurred", aquaPhoto(), effect("CIGaussianBlur", "inputRadius", 10.0 / 2560)},
        {"PNG, converted", png, nullptr},
        {"TIFF, converted", tiff, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        batchtest::Batch run(0);
        run.photos << batchtest::photoAt(c.source);
        if (c.step) run.steps = {c.step};
        run.rename = batchtest::renameSettings(outputformat::Jpg);
        batchtest::RunHarness harness;
        harness.runner.setRowByRowFromPixels(1'000'000);
        std::atomic<int> opened{0};
        harness.runner.setSourceReadHook([&](const QString&) { ++opened; });
        ASSERT_TRUE(harness.start(run.input()));
        ASSERT_EQ(run.photos[0]->processStatus, PhotoFile::Processed);
        EXPECT_EQ(harness.runner.photosMadeRowByRow.load(), 1);
        EXPECT_EQ(opened.load(), 1);
    }
}
