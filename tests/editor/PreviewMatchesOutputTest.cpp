// What the effects screen's preview shows is what the batch writes: for every effect of the
// catalogue, a step set up on the preview of a photo three times the preview's size and run
// by the batch on the photo itself looks, scaled back to the preview's size, like the
// preview.
#include <gtest/gtest.h>

#include <QDir>
#include <QHash>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cmath>

#include "batch/BatchRunner.h"
#include "editor/ui/PointHandles.h"
#include "platform/graphics/YUp.h"
#include "editor/ui/TextWatermarkView.h"
#include "editor/ui/ValueSlider.h"
#include "engine/FiltersList.h"
#include "records/FilterRecord.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/editor/EffectsScreenFixture.h"
#include "tests/support/ImageFixtures.h"

namespace {

using fxtest::Screen;


// Peak signal-to-noise ratio of the colour channels, both pictures laid over black.
double psnr(const QImage& first, const QImage& second) {
    const QImage a = first.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = second.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (a.size() != b.size() || a.isNull()) return -1;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            for (int shift : {16, 8, 0}) {
                const double d = double((pa[x] >> shift) & 255) - double((pb[x] >> shift) & 255);
                sum += d * d;
            }
    }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

bool isText(const QString& name) { return name == "Add Text" || name == "Add Watermark" || name == "Add Date"; }

// The two effects that cannot reach 35 dB, with what they do reach:
// - the edge detector measures the change from one pixel to the next, so an edge a pixel
//   wide on both pictures is three times as steep on the preview's scale as on the photo's,
//   while a soft one is as steep: no one strength shows both as the photo gets them;
// - the vortex at 70 % of its angle winds the dark bar into lines thinner than a pixel of
//   the preview, which the preview samples and the written photo averages.
const QHash<QString, double> kReachedBelow35 = {{"CIEdges", 22.0}, {"CIVortexDistortion", 30.0}};

}  // namespace

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
    for (const auto& record : FiltersList::sharedFiltersList().allAvailableFilters) {
        if (!record || record->isCategory || record->filterName == "Batch Conversion" || record->filterName == "Basic")
            continue;
        const QString name = record->filterName;
        SCOPED_TRACE(name.toStdString());
        s.vc->selectEffectByName(name, record->filterDisplayName);
        s.settle();
        ASSERT_EQ(s.vc->state().currentFilterName, name);

        // Values a user would choose: every slider at 70 % of its range, the second picture
        // of a list, a picture of one's own, a typed text, half the width.
        for (int slot = 0; slot < 6; ++slot) {
            ValueSlider* slider = s.vc->slider(slot);
            if (!slider || !s.vc->getViewWithTag(100 + slot)->isVisible()) continue;
            s.vc->handleSlider(slot, slider->minimumValue() + 0.7 * (slider->maximumValue() - slider->minimumValue()));
        }
        if (s.screen->vwTextureEffect()->isVisible()) s.screen->textureRowChosen(1);
        if (s.screen->vwStickers()->isVisible()) s.screen->stickerChosen(1);
        if (name == "Add Custom Image") s.screen->setCustomImageFromFile(logo);
        TextWatermarkView* box = s.screen->textWatermarkView();
        if (name == "Add Text" || name == "Add Watermark") {
            box->enableTextEvents();
            box->textField()->setPlainText(QStringLiteral("Brisko 2024"));
            box->disableTextEvents();
        }
        if (name == "Resize") {
            s.vc->txtWidth()->setText("870");
            s.vc->resizeFieldChanged(true);
            s.vc->applyResizeFilter();
        }
        static_cast<ManualOneShotScheduler&>(s.vc->scheduler()).fire();
        s.settle();

        QImage preview = s.vc->shownImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (isText(name)) {
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
        const double db = psnr(back, preview);
        EXPECT_GE(db, kReachedBelow35.value(name, 35.0));
        if (qEnvironmentVariableIsSet("BRISKO_PSNR")) printf("%-28s %.1f dB\n", qPrintable(name), db);
        ++checked;
    }
    EXPECT_GE(checked, 45);
}
