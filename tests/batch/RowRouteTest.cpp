// The one decision of the row-by-row route: what each kind of photo, step list and output
// comes to, read from the file's header, each step's row reach and the writer's route. The
// table is the route's rules; the files themselves are held to the usual way's bytes in
// RowByRowTest.
#include <gtest/gtest.h>

#include "batch/PhotoStream.h"
#include "records/AppliedFilter.h"
#include "tests/support/ColourReferences.h"

namespace {

using platform::ImageFormat;
using platform::RowsRefused;
using PhotoStream::Decline;
using Changed = ResultWriter::EncodedRoute::Changed;

std::shared_ptr<AppliedFilter> routeStep(const QString& name, const QVariantList& parameters = {}, bool applied = true) {
    auto step = AppliedFilter::initWithFilterName(name, name, parameters, QImage(), nullptr);
    step->isApplied = applied;
    return step;
}
std::shared_ptr<AppliedFilter> routeResize(int width, int height) {
    return routeStep("Resize", {QVariantMap{{"resizedWidth", width}}, QVariantMap{{"resizedHeight", height}}});
}
std::shared_ptr<AppliedFilter> routeBlur() { return routeStep("CIGaussianBlur", {QVariantMap{{"inputRadius", 0.002}}}); }

// A file as its header said, 6000 x 4000 (24 MP) unless given.
PhotoStream::Source routeSource(ImageFormat format, int width = 6000, int height = 4000) {
    PhotoStream::Source source;
    source.header.format = format;
    source.header.width = width;
    source.header.height = height;
    source.refused = RowsRefused::None;
    source.recordedSize = QSizeF(width, height);
    return source;
}
PhotoStream::Source routeGrey(ImageFormat format, const QByteArray& icc = {}) {
    PhotoStream::Source source = routeSource(format);
    source.header.colourModel = platform::ColourModel::Gray;
    source.header.iccProfile = icc;
    return source;
}
PhotoStream::Source routeTransparent(ImageFormat format) {
    PhotoStream::Source source = routeSource(format);
    source.transparent = true;
    return source;
}
PhotoStream::Source routeWith(PhotoStream::Source source, RowsRefused refused, int orientation = 1) {
    source.refused = refused;
    source.header.orientation = orientation;
    return source;
}

ResultWriter::EncodedRoute routeOut(platform::ImageType type, Changed changed = Changed::No, bool gray = false) {
    ResultWriter::EncodedRoute route;
    route.type = type;
    route.changed = changed;
    route.gray = gray;
    return route;
}

}  // namespace

TEST(RowRoute, EachPhotoStepsAndOutputComeToOnePlanOrOneReason) {
    using platform::ImageType;
    const auto jpeg = routeSource(ImageFormat::JPEG), png = routeSource(ImageFormat::PNG),
               tiff = routeSource(ImageFormat::TIFF);
    const auto toJpeg = routeOut(ImageType::JPEG), toPng = routeOut(ImageType::PNG);
    PhotoStream::Source recordedOtherwise = jpeg;
    recordedOtherwise.recordedSize = QSizeF(4000, 6000);
    PhotoStream::Source recordedTurned = png;
    recordedTurned.recordedOrientation = 5;
    const QByteArray greyProfile = testsupport::debianProfile(testsupport::kSGrayProfile);
    ASSERT_FALSE(greyProfile.isEmpty());
    using Steps = QList<std::shared_ptr<AppliedFilter>>;
    const struct {
        const char* name;
        PhotoStream::Source source;
        Steps steps;
        ResultWriter::EncodedRoute output;
        Decline declined;
        double backingScale = 1;
    } cases[] = {
        // What streams.
        {"JPEG, converted", jpeg, {}, toJpeg, Decline::None},
        {"JPEG of 12 MP, converted to JPEG", routeSource(ImageFormat::JPEG, 4000, 3000), {}, toJpeg, Decline::None},
        {"TIFF of 12 MP, converted to JPEG", routeSource(ImageFormat::TIFF, 4000, 3000), {}, toJpeg, Decline::None},
        {"PNG, converted", png, {}, toJpeg, Decline::None},
        {"TIFF, converted", tiff, {}, toPng, Decline::None},
        {"JPEG, shrunk", jpeg, {routeResize(1600, 1067)}, toJpeg, Decline::None},
        {"TIFF, shrunk", tiff, {routeResize(600, 400)}, toPng, Decline::None},
        {"JPEG of 3 MP, one effect", routeSource(ImageFormat::JPEG, 2000, 1500), {routeBlur()}, toPng, Decline::None},
        {"steps switched off pass", jpeg, {routeStep("CITwirlDistortion", {}, false), routeBlur()}, toJpeg, Decline::None},
        {"grey JPEG, converted", routeGrey(ImageFormat::JPEG), {}, routeOut(ImageType::PNG, Changed::No, true), Decline::None},
        {"transparent PNG into a JPEG", routeTransparent(ImageFormat::PNG), {}, toJpeg, Decline::None},
        {"transparent TIFF into a PNG", routeTransparent(ImageFormat::TIFF), {}, toPng, Decline::None},
        // The file.
        {"unreadable", routeWith(jpeg, RowsRefused::Unreadable), {}, toJpeg, Decline::Unreadable},
        {"a GIF", routeWith(routeSource(ImageFormat::GIF), RowsRefused::NoReader), {}, toJpeg, Decline::NoRowReader},
        {"CMYK", routeWith(jpeg, RowsRefused::Converted), {}, toJpeg, Decline::ColoursConverted},
        {"YCbCr blocks", routeWith(tiff, RowsRefused::Layout), {}, toJpeg, Decline::TiffLayout},
        {"over the budget", routeWith(tiff, RowsRefused::TooLarge), {}, toJpeg, Decline::TooLarge},
        {"stored on its side", routeWith(jpeg, RowsRefused::None, 6), {}, toJpeg, Decline::StoredTurned},
        {"stored mirrored", routeWith(tiff, RowsRefused::None, 2), {}, toJpeg, Decline::StoredTurned},
        {"turned as its properties say, its header not", recordedTurned, {}, toJpeg, Decline::StoredTurned},
        // The steps: the most restrictive reach decides.
        {"a distortion", jpeg, {routeStep("CITwirlDistortion")}, toJpeg, Decline::WholePicture},
        {"a distortion and a shrink", jpeg, {routeResize(600, 400), routeStep("CITwirlDistortion")}, toJpeg,
         Decline::WholePicture},
        {"a crop", jpeg, {routeStep("CICrop")}, toJpeg, Decline::WholePicture},
        {"two row effects", jpeg, {routeBlur(), routeStep("Brightness", {QVariantMap{{"inputBrightness", 0.1}}})},
         toJpeg, Decline::SeveralSteps},
        {"an effect and a shrink", jpeg, {routeBlur(), routeResize(600, 400)}, toJpeg, Decline::SeveralSteps},
        {"enlarged", jpeg, {routeResize(8000, 5333)}, toJpeg, Decline::NoShrink},
        {"its own size", jpeg, {routeResize(6000, 4000)}, toJpeg, Decline::NoShrink},
        {"recorded at another size", recordedOtherwise, {routeResize(600, 400)}, toJpeg, Decline::SizeUnknown},
        {"PNG with an effect", png, {routeBlur()}, toJpeg, Decline::EffectOnNonJpeg},
        {"TIFF with an effect", tiff, {routeBlur()}, toJpeg, Decline::EffectOnNonJpeg},
        {"grey JPEG with an effect", routeGrey(ImageFormat::JPEG), {routeBlur()}, toJpeg, Decline::GreyWithEffect},
        {"12 MP converted to PNG", routeSource(ImageFormat::JPEG, 4000, 3000), {}, toPng, Decline::Small},
        {"12 MP shrunk", routeSource(ImageFormat::JPEG, 4000, 3000), {routeResize(1600, 1200)}, toJpeg, Decline::Small},
        {"9.6 MP converted to JPEG", routeSource(ImageFormat::JPEG, 3800, 2530), {}, toJpeg, Decline::Small},
        {"1.9 MP with an effect", routeSource(ImageFormat::JPEG, 1600, 1200), {routeBlur()}, toJpeg, Decline::Small},
        // The output.
        {"to TIFF", jpeg, {}, routeOut(ImageType::TIFF, Changed::Type), Decline::NotJpegOrPng},
        {"through the PNG optimiser", jpeg, {}, routeOut(ImageType::PNG, Changed::Optimiser), Decline::Optimiser},
        {"turned as the record says", jpeg, {}, routeOut(ImageType::JPEG, Changed::Turned), Decline::TurnedOnOutput},
        {"converted to sRGB", jpeg, {}, routeOut(ImageType::JPEG, Changed::Colours), Decline::ColoursOnOutput},
        {"backing scale 2", jpeg, {}, toJpeg, Decline::BackingScale, 2.0},
        {"transparent PNG shrunk into a PNG", routeTransparent(ImageFormat::PNG), {routeResize(600, 400)}, toPng,
         Decline::TransparentShrunkToPng},
        {"grey PNG under a grey profile", routeGrey(ImageFormat::PNG, greyProfile), {}, toPng,
         Decline::GreyUnderGreyProfile},
        {"grey TIFF under a grey profile", routeGrey(ImageFormat::TIFF, greyProfile), {}, toJpeg,
         Decline::GreyUnderGreyProfile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PhotoStream::Decision decision = PhotoStream::decide(c.source, c.steps, c.output, c.backingScale);
        EXPECT_EQ(int(decision.declined), int(c.declined));
    }
}

// What a plan asks of the rows: the size written, the reduced decode a shrink takes (as the
// usual way's, to four times the target), transparency on white or kept, grey kept grey.
TEST(RowRoute, PlansSayHowTheRowsAreReadAndWritten) {
    using platform::ImageType;
    const auto toJpeg = routeOut(ImageType::JPEG), toPng = routeOut(ImageType::PNG);
    const auto jpeg = routeSource(ImageFormat::JPEG);

    const PhotoStream::Plan tenth = PhotoStream::decide(jpeg, {routeResize(600, 400)}, toJpeg).plan;
    EXPECT_EQ(tenth.written, QSize(600, 400));
    EXPECT_EQ(tenth.atLeast, QSize(2400, 1600));
    EXPECT_GE(tenth.decode.minLongSide, 2400);
    EXPECT_TRUE(tenth.decode.reducedForOutput);
    // Half: four times the target is more than the photo, so the full decode is resampled.
    const PhotoStream::Plan half = PhotoStream::decide(jpeg, {routeResize(3000, 2000)}, toJpeg).plan;
    EXPECT_EQ(half.written, QSize(3000, 2000));
    EXPECT_TRUE(half.atLeast.isEmpty());
    // TIFF has no reduced decode.
    EXPECT_TRUE(PhotoStream::decide(routeSource(ImageFormat::TIFF), {routeResize(600, 400)}, toJpeg).plan.atLeast.isEmpty());

    PhotoStream::Source transparent = routeSource(ImageFormat::PNG);
    transparent.transparent = true;
    const PhotoStream::Plan onWhite = PhotoStream::decide(transparent, {}, toJpeg).plan;
    EXPECT_TRUE(onWhite.onWhite);
    EXPECT_FALSE(onWhite.opacityPass);
    const PhotoStream::Plan kept = PhotoStream::decide(transparent, {}, toPng).plan;
    EXPECT_FALSE(kept.onWhite);
    EXPECT_TRUE(kept.opacityPass);

    EXPECT_TRUE(PhotoStream::decide(routeGrey(ImageFormat::JPEG), {}, routeOut(ImageType::JPEG, Changed::No, true)).plan.grey);
    EXPECT_FALSE(PhotoStream::decide(jpeg, {}, routeOut(ImageType::JPEG, Changed::No, true)).plan.grey);

    // A run may take conversions and shrinks row by row from a smaller size.
    PhotoStream::Limits fromOne;
    fromOne.plainFromPixels = fromOne.convertedToJpegFromPixels = 1'000'000;
    EXPECT_TRUE(PhotoStream::decide(routeSource(ImageFormat::JPEG, 1280, 1024), {}, toJpeg, 1, fromOne).rowByRow());
    EXPECT_TRUE(PhotoStream::decide(routeSource(ImageFormat::JPEG, 1280, 1024), {}, toPng, 1, fromOne).rowByRow());
}
