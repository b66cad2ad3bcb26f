// A step set up on the preview looks the same on the full photo: the working list is stored
// size-relative and scaled to each photo.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>

#include "editor/PreviewLoader.h"
#include "editor/ui/PointHandles.h"
#include "editor/ui/ValueSlider.h"
#include "engine/Utils.h"
#include "tests/editor/EditorFixture.h"
#include "tests/editor/PreviewAgainstOutput.h"
#include "tests/support/ImageFixtures.h"

TEST(PreviewPixels, StoredStepOnATwiceAsLargePhotoLooksLikeThePreviewScaledUp) {
    const QImage photo = testsupport::softPhoto(1160, 880);
    EditorScreen s(photo);
    ASSERT_EQ(s.vc->imageToEdit().size(), QSize(580, 440));
    struct Case {
        const char* effect;
        std::function<void(AdjustFilterVC&)> set;
    };
    const std::vector<Case> cases = {
        {"CIGaussianBlur", [](AdjustFilterVC& vc) { vc.handleSlider(0, 10); }},
        {"CITwirlDistortion",
         [](AdjustFilterVC& vc) {
             vc.handleSlider(0, 150);
             PointView* h = vc.pointButton(0)->handle();
             h->pressAt(h->center());
             h->dragTo({200, 150});
             h->releaseAt();
         }},
        {"CIBumpDistortion", [](AdjustFilterVC& vc) { vc.handleSlider(0, 180); }},
        {"CIPixellate", [](AdjustFilterVC& vc) { vc.handleSlider(1, 12); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        s.vc->selectEffectByName(c.effect);
        c.set(*s.vc);
        const QImage preview = s.vc->shownImage();
        ASSERT_EQ(preview.size(), QSize(580, 440));
        const QImage full = Utils::sharedUtils().applyFilterWithImage(photo, s.photoPath, c.effect,
                                                                      s.vc->committedParameters(), false);
        ASSERT_EQ(full.size(), photo.size());
        const QImage scaledUp = preview.scaled(photo.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double same = testsupport::meanDiff(full, scaledUp);
        // The same list taken as pixels of the large photo (no scaling) gives another picture.
        const QImage unscaled = Utils::sharedUtils().applyFilterWithImage(
            photo, s.photoPath, c.effect,
            s.vc->workingParameters().committed(c.effect, QSizeF(photo.size())), false);
        const double other = testsupport::meanDiff(unscaled, scaledUp);
        EXPECT_LT(same, 3.0);
        EXPECT_GT(other, same * 2) << "the comparison tells a wrong scale apart";
    }
}

// A text laid on the batch's preview stands where the run writes it, after whatever steps
// change the photo's size before it: its margins and fit are whole points of the photo, not
// of the preview (a third of the photo's size here).
TEST(PreviewPixels, TextStepsOnTheBatchsPreviewLandWhereTheRunWritesThem) {
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.png");
    ASSERT_TRUE(testsupport::softPhoto(1740, 1320).save(path));
    const auto step = [](const char* name, QVariantList parameters) {
        return AppliedFilter::initWithFilterName(name, name, parameters, QImage(), nullptr);
    };
    const auto one = [](const char* key, const QVariant& value) { return QVariant(QVariantMap{{key, value}}); };
    const QVariantList text{one("rotatedRect", QVariant::fromValue(platform::Vec(0.05, 0.1, 0.6, 0.12))),
                            one("text", "Brisko 2024"), one("fontSize", 0.07),
                            one("fontName", testsupport::pinnedFontFamily())};
    QVariantList date = text;
    date << one("dateTimeOption", "Current Date") << one("dateFormat", "YYYY-MM-DD");
    const QVariantList halfSize{one("isPercentBaseResize", true), one("percentWidth", 50), one("percentHeight", 50)};
    const QVariantList rightHalf{one("inputRectangle", QVariant::fromValue(platform::Vec(0.5, 0.0, 0.5, 1.0)))};
    struct Case {
        const char* name;
        QList<std::shared_ptr<AppliedFilter>> steps;
    };
    const Case cases[] = {
        {"text", {step("Add Text", text)}},
        {"date", {step("Add Date", date)}},
        {"text after a half-size resize", {step("Resize", halfSize), step("Add Text", text)}},
        {"watermark after a crop", {step("CICrop", rightHalf), step("Add Watermark", text)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PhotoPreviewRequest request;
        request.path = path;
        request.previewBox = QSizeF(580, 440);
        request.steps = PreviewLoader::snapshotSteps(c.steps);
        const PhotoPreviewResult preview = PreviewLoader::loadNow(request);
        ASSERT_TRUE(preview.loaded);
        ASSERT_EQ(preview.original.size(), QSize(580, 440));
        QTemporaryDir out;
        const QImage written = fxtest::runOnePhoto(path, out.path(), c.steps);
        ASSERT_FALSE(written.isNull());
        EXPECT_DOUBLE_EQ(preview.photoScale, 3.0);
        const QImage back = written.scaled(preview.filtered.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_GE(fxtest::psnr(back, preview.filtered), 40.0);
    }
}
