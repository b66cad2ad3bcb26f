// A step set up on the preview looks the same on the full photo: the working list is stored
// size-relative and scaled to each photo.
#include <gtest/gtest.h>

#include <QPainter>

#include "editor/ui/PointHandles.h"
#include "editor/ui/ValueSlider.h"
#include "engine/Utils.h"
#include "tests/editor/EditorFixture.h"
#include "tests/support/ImageFixtures.h"

namespace {


}  // namespace

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
