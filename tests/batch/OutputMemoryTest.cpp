// How much memory a run takes for a plain conversion: every full-size copy of a photo on
// its way from the decoder to the written file shows here.
#include <gtest/gtest.h>

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <cstring>
#include <malloc.h>
#include <random>
#include <thread>

#include "batch/BatchRunner.h"
#include "tests/batch/BatchFixtures.h"
#include "platform/imageio/ImageIO.h"
#include "platform/foundation/UsableCpus.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/ColourReferences.h"
#include "records/AppliedFilter.h"
#include "records/MetaDataObject.h"
#include "batch/RenameScheme.h"

namespace {

// The process's resident memory and its peak since the last reset, in bytes; the peak is
// reset by the kernel's own interface for it.
struct ResidentMemory {
    static qint64 field(const char* name) {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly)) return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(name)) return line.mid(qsizetype(std::strlen(name))).trimmed().split(' ').value(0).toLongLong() * 1024;
        return -1;
    }
    static qint64 now() { return field("VmRSS:"); }
    static qint64 peak() { return field("VmHWM:"); }
    static bool resetPeak() {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1 && refs.flush();
    }
};

// How far the process's resident memory rose during a run of input, over where it stood
// before; -1 when this system gives no peak to read (the caller skips), 0 with the run not
// started.
qint64 growthOfRun(batchtest::RunHarness& run, const BatchRunInput& input) {
    malloc_trim(0);
    const qint64 before = ResidentMemory::now();
    if (!ResidentMemory::resetPeak() || before <= 0) return -1;
    if (!run.start(input)) return 0;
    return ResidentMemory::peak() - before;
}

// What every worker thread may add (stacks, an encoder's band) on a machine of this size.
qint64 threadsShare(qint64 perCore) { return perCore * std::max(2, platform::usableCpuCount()); }

}  // namespace

TEST(OutputMemory, AJpegWrittenAsPngHoldsThePictureAtMostOnceBesidesTheEncodersBands) {
    if (testsupport::builtWithSanitizer()) GTEST_SKIP() << testsupport::kSanitizerMemoryNote;
    // Grain, so that the file is a good part of the picture's size.
    const int width = 6000, height = 4000;
    const qint64 decoded = qint64(width) * height * 4;
    batchtest::Batch b(1);
    QImage photo = testsupport::gradientImage(width, height).convertToFormat(QImage::Format_RGB32);
    std::minstd_rand grain(99);
    auto* pixels = reinterpret_cast<QRgb*>(photo.bits());
    for (qsizetype i = 0; i < qsizetype(width) * height; ++i) pixels[i] = (pixels[i] & 0xFFF8F8F8u) | 0x010101u * (grain() & 7u);
    ASSERT_TRUE(platform::writeImageFile(b.photos[0]->fileURL, photo, platform::ImageType::JPEG, 0.9));
    photo = QImage();
    batchtest::RunHarness run;
    const qint64 growth = growthOfRun(run, b.input());
    if (growth < 0) GTEST_SKIP() << "no peak memory to read on this system";
    ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
    // The decoded photo, and a few megabytes for each core's band being compressed. The
    // compressed data, the file, a second picture for the check that the file decodes,
    // or a converted copy would each add half the photo or more.
    const qint64 bound = decoded + (8ll << 20) + threadsShare(6ll << 20);
    EXPECT_LE(growth, bound) << "grew by " << growth / (1 << 20) << " MiB for a photo of " << decoded / (1 << 20)
                             << " MiB decoded";
}

// A photo with a colour profile of its own through effects handed the photo: a blur and a
// brightness are made in the photo's own storage, and the source's profile goes onto the
// result without a copy of its pixels, so the photo is held once; a quarter turn lets the
// photo go once flipped and the flipped picture once turned, so never more than two are
// held. Before, a blur held three whole pictures at its end (its new picture beside the
// photo, then a copy made only to carry the profile), a turn four, the automatic
// corrections five (the picture read whole in floats for their reduced copy), a circle
// splash ten.
TEST(OutputMemory, EffectsHandedThePhotoHoldNoMoreOfItThanTheyNeed) {
    if (testsupport::builtWithSanitizer()) GTEST_SKIP() << testsupport::kSanitizerMemoryNote;
    const int width = 6000, height = 4000;
    const qint64 decoded = qint64(width) * height * 4;
    batchtest::Batch b(1);
    QImage photo = testsupport::gradientImage(width, height).convertToFormat(QImage::Format_RGB32);
    QFile adobe(testsupport::packagedPicture(testsupport::kAdobeRgbProfile));
    ASSERT_TRUE(adobe.open(QIODevice::ReadOnly));
    photo.setColorSpace(QColorSpace::fromIccProfile(adobe.readAll()));
    ASSERT_TRUE(photo.colorSpace().isValid());
    ASSERT_TRUE(platform::writeImageFile(b.photos[0]->fileURL, photo, platform::ImageType::JPEG, 0.9));
    ASSERT_FALSE(platform::readImageHeader(b.photos[0]->fileURL).iccProfile.isEmpty());
    photo = QImage();
    auto step = [](const QString& name, const char* key, double value) {
        return AppliedFilter::initWithFilterName(name, name, QVariantList{QVariantMap{{key, value}}}, QImage(), nullptr);
    };
    const struct {
        const char* name;
        QList<std::shared_ptr<AppliedFilter>> steps;
        int pictures;  // whole pictures held at most
    } cases[] = {
        {"blur and brightness",
         {step("CIGaussianBlur", "inputRadius", 20.0 / width), step("Brightness", "inputBrightness", 0.1)}, 1},
        {"quarter turn", {step("Rotate", "angle", 90.0)}, 2},
        // The corrections look at a reduced copy, which is made a band at a time.
        {"auto enhance", {AppliedFilter::initWithFilterName("Auto Enhance", "Auto Enhance", {}, QImage(), nullptr)}, 2},
        // Beyond its circle a splash takes the rim's colours: the photo's own pixels are
        // sampled, not a float copy of all that lies between each strip and the circle.
        {"circle splash", {step("CICircleSplashDistortion", "inputRadius", 0.1)}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        b.steps = c.steps;
        b.rename = batchtest::renameSettings(4);  // JPEG
        b.output->owerwriteExistingFiles = true;
        batchtest::RunHarness run;
        const qint64 growth = growthOfRun(run, b.input());
        if (growth < 0) GTEST_SKIP() << "no peak memory to read on this system";
        ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << b.photos[0]->processInfoMessage.toStdString();
        // The pictures, a strip of the render in floats with the rows it made waiting to go
        // back, the compressed file, and the threads' share.
        const qint64 bound = c.pictures * decoded + (48ll << 20) + threadsShare(2ll << 20);
        EXPECT_LE(growth, bound) << "grew by " << growth / (1 << 20) << " MiB for a photo of " << decoded / (1 << 20)
                                 << " MiB decoded";
    }
}

// Every picture the run hands on (to an effect made in the photo's own storage, to the
// writer, which gives it the source's profile) is the one holder of its pixels: a copy kept
// on the way would make each of them copy the photo whole, unseen but for the memory. The
// hand-over says so in the log, which is read here on every route a picture takes.
TEST(OutputMemory, NoPictureIsHandedOnWhileACopyOfItIsKeptOnTheWay) {
    const std::string slip = "still held elsewhere";
    batchtest::Batch b(1);
    // Large enough for an effect to be made row by row.
    QImage photo = testsupport::gradientImage(1800, 1200).convertToFormat(QImage::Format_RGB32);
    QFile adobe(testsupport::packagedPicture(testsupport::kAdobeRgbProfile));
    ASSERT_TRUE(adobe.open(QIODevice::ReadOnly));
    photo.setColorSpace(QColorSpace::fromIccProfile(adobe.readAll()));
    ASSERT_TRUE(platform::writeImageFile(b.photos[0]->fileURL, photo, platform::ImageType::JPEG, 0.9));

    // The log tells such a copy: the writer handed a picture its caller keeps.
    {
        ResultWriterSettings settings;
        settings.renameSetting = b.rename;
        settings.outputSetting = b.output;
        settings.metaDataSetting = std::make_shared<MetaDataObject>();
        ResultWriter writer(settings);
        const QImage kept = photo;
        testing::internal::CaptureStderr();
        ResultWriter::Prepared prepared = writer.prepareImg(QImage(kept), b.out("kept.jpg"), platform::ImageType::JPEG,
                                                              b.photos[0]);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(prepared.ready());
        ASSERT_NE(log.find(slip), std::string::npos) << log;
    }

    auto step = [](const QString& name, QVariantList parameters) {
        return AppliedFilter::initWithFilterName(name, name, parameters, QImage(), nullptr);
    };
    const struct {
        const char* name;
        QList<std::shared_ptr<AppliedFilter>> steps;
        int outputFormat;
        bool rowByRow = false;
    } cases[] = {
        {"effects in the photo's storage",
         {step("CIGaussianBlur", {QVariantMap{{"inputRadius", 0.01}}}), step("Brightness", {QVariantMap{{"inputBrightness", 0.1}}})},
         outputformat::Jpg},
        {"quarter turn and resize",
         {step("Rotate", {QVariantMap{{"angle", 90.0}}}), step("Resize", {QVariantMap{{"resizedWidth", 300}}, QVariantMap{{"resizedHeight", 400}}})},
         outputformat::Png},
        {"shrunk on load", {step("Resize", {QVariantMap{{"resizedWidth", 225}}, QVariantMap{{"resizedHeight", 150}}})}, outputformat::Tif},
        {"converted", {}, outputformat::KeepOriginal},
        {"a PDF page", {}, outputformat::Pdf},
        {"row by row", {step("CISepiaTone", {QVariantMap{{"inputIntensity", 0.8}}})}, outputformat::Jpeg, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        b.steps = c.steps;
        b.rename = batchtest::renameSettings(c.outputFormat);
        b.output->owerwriteExistingFiles = true;
        batchtest::RunHarness run;
        if (c.rowByRow) run.runner.setRowByRowFromPixels(1);
        testing::internal::CaptureStderr();
        const bool ended = run.start(b.input());
        const std::string log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(ended);
        ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << b.photos[0]->processInfoMessage.toStdString();
        EXPECT_EQ(run.runner.photosMadeRowByRow.load(), c.rowByRow ? 1 : 0);
        EXPECT_EQ(log.find(slip), std::string::npos) << log;
    }
}

// The run lets photos start while their estimated peaks fit its memory budget together; an
// estimate below what a format's encoder really holds lets a run of large photos go far
// past the budget (JPEG 2000 took four times a 512 MiB budget over desktop photos).
class OutputMemoryByFormat : public testing::TestWithParam<int> {};

TEST_P(OutputMemoryByFormat, APhotosPeakStaysWithinTheRunsEstimateForItsFormat) {
    if (testsupport::builtWithSanitizer()) GTEST_SKIP() << testsupport::kSanitizerMemoryNote;
    const int outputFormat = GetParam();
    batchtest::Batch b(0);
    const QString source = b.dir.filePath("src/Elephants.jpg");
    ASSERT_TRUE(QDir().mkpath(b.dir.filePath("src")));
    ASSERT_TRUE(QFile::copy(testsupport::packagedPicture(testsupport::kDesktopPhotos + "abstract/Elephants_3840x2160.jpg"), source));
    b.photos << batchtest::photoAt(source);
    b.rename = batchtest::renameSettings(outputFormat);
    const BatchRunInput input = b.input();
    const QString extension = RenameScheme::saveChoice(*b.photos[0], outputFormat, input.fileFormats).extension;
    const qint64 estimate = qint64(BatchRunner::peakWorkingBytes(platform::readImageHeader(source), extension));
    batchtest::RunHarness run;
    run.runner.setPhotosInFlight(1);
    const qint64 growth = growthOfRun(run, input);
    if (growth < 0) GTEST_SKIP() << "no peak memory to read on this system";
    ASSERT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << b.photos[0]->processInfoMessage.toStdString();
    // Thread stacks and each core's share of the encoders' bands come on top of the photo's own.
    EXPECT_LE(growth, estimate + threadsShare(2ll << 20))
        << extension.toStdString() << ": grew by " << growth / (1 << 20) << " MiB against an estimate of "
        << estimate / (1 << 20) << " MiB";
}

// Named by the extension written: tif, bmp, gif, jpg, png, jp2, pdf.
INSTANTIATE_TEST_SUITE_P(EveryOutput, OutputMemoryByFormat, testing::Values(1, 2, 3, 4, 6, 7, 8),
                         [](const testing::TestParamInfo<int>& info) {
                             return AppDelegate::defaultFileFormats().value(info.param).toStdString();
                         });
