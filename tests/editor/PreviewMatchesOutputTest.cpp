// What the effects screen's preview shows is what the batch writes: for every effect of the
// catalogue, a step set up on the preview of a photo three times the preview's size and run
// by the batch on the photo itself looks, scaled back to the preview's size, like the
// preview.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>

#include "platform/graphics/YUp.h"
#include "editor/ui/PointHandles.h"
#include "tests/editor/PreviewAgainstOutput.h"
#include "tests/support/ImageFixtures.h"

using fxtest::Screen;

TEST(PreviewMatchesOutput, EveryCatalogueEffectWritesWhatItsPreviewShowed) {
    Screen s({QSize(1740, 1320)});
    const QImage photo = testsupport::softPhoto(1740, 1320);
    ASSERT_TRUE(photo.save(s.paths[0]));
    s.screen->selectedPhotoChanged();
    s.settle();
    ASSERT_EQ(s.vc->imageToEdit().size(), QSize(580, 440));
    const QString logo = s.dir.filePath("logo.png");
    testsupport::softPhoto(120, 90).save(logo);
    AppDelegate& app = AppDelegate::shared();

    int checked = 0;
    for (const auto& record : fxtest::catalogueEffects()) {
        const QString name = record->filterName;
        SCOPED_TRACE(name.toStdString());
        fxtest::setUpAsAUserWould(s, *record, logo);
        ASSERT_EQ(s.vc->state().currentFilterName, name);
        TextWatermarkView* box = s.screen->textWatermarkView();
        static_cast<ManualOneShotScheduler&>(s.vc->scheduler()).fire();
        s.settle();

        QImage preview = s.vc->shownImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (fxtest::isTextEffect(name)) {
            // The text is shown by the box over the picture.
            QPainter p(&preview);
            p.setRenderHint(QPainter::Antialiasing);
            box->paintText(p);
        }
        QRectF cut;  // the crop shows the whole photo with its rectangle on it
        if (name == "CICrop") cut = s.vc->theExtentButton()->theExtentRect();

        s.commit();
        ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
        QTemporaryDir out;
        const QImage written = fxtest::runOnePhoto(s.paths[0], out.path(), app.arrayAppliedFilters);
        ASSERT_FALSE(written.isNull());
        s.stepButton(0, StepDelegate::Remove);
        ASSERT_TRUE(app.arrayAppliedFilters.isEmpty());

        if (name == "Resize") {
            EXPECT_EQ(written.size(), QSize(870, 660));
        } else if (name == "CICrop") {
            const QRect inPreview = platform::toQtRect(cut, preview.height()).toRect();
            preview = preview.copy(inPreview);
        }
        const QImage back = written.scaled(preview.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double db = fxtest::psnr(back, preview);
        EXPECT_GE(db, fxtest::leastPreviewMatch(name));
        if (qEnvironmentVariableIsSet("BRISKO_PSNR")) printf("%-28s %.1f dB\n", qPrintable(name), db);
        ++checked;
    }
    EXPECT_GE(checked, 45);
}
