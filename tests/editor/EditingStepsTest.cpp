// Setting up and editing batch steps on the effects screen, driven through its widgets: an
// edited step changes only where the user changed it, each step is drawn once and in its
// place, open effects keep their place on the picture, and the written photos follow what
// the preview showed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNativeGestureEvent>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTableView>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest/QTest>

#include "batch/BatchRunner.h"
#include "editor/ui/PhotoStrip.h"
#include "editor/ui/TextWatermarkView.h"
#include "editor/ui/ValueSlider.h"
#include "engine/Utils.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageProperties.h"
#include "records/ParameterList.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/editor/PreviewAgainstOutput.h"
#include "tests/support/ImageFixtures.h"

namespace {

using fxtest::Screen;

using fxtest::typeText;

// Replaces a field's text as typing would, then ends the edit with Return.
void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

QImage runOnePhoto(const QString& photo, const QList<std::shared_ptr<AppliedFilter>>& steps) {
    QTemporaryDir out;
    return fxtest::runOnePhoto(photo, out.path(), steps);
}

QImage argb(const QImage& i) { return i.convertToFormat(QImage::Format_ARGB32); }

// The step's row clicked away from its buttons, as a user opens a step.
void clickStepRow(Screen& s, int row) {
    QListView* view = s.screen->tblAppliedFilters();
    const QRect r = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 30, r.center().y()));
    s.settle();
}

// Black and white drawn once on a picture, as the batch draws its step.
QImage blackAndWhite(const QImage& picture) {
    return argb(Utils::sharedUtils().applyFilterWithImage(picture, QString(), "Black & White", {}, false));
}

std::shared_ptr<AppliedFilter> step(int row) { return AppDelegate::shared().arrayAppliedFilters.at(row); }

// A crop to a square, chosen in the crop panel's ratio list and added.
void addSquareCrop(Screen& s) {
    s.click(s.screen->tblFilterCategories(), s.basicRow("CICrop"));
    s.vc->selectCropRatioTapped();
    s.vc->popupRowChosen(2);
    s.settle();
    s.commit();
}

}  // namespace

// A resize with the aspect ratio kept fits every photo of the batch into its size in the
// photo's own shape, as each photo's preview shows it; untick the box and it stretches.
TEST(EditingSteps, ResizeKeepingTheAspectRatioFitsEveryPhotoInItsOwnShape) {
    Screen s({QSize(1280, 800), QSize(1280, 720)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Resize"));
    ASSERT_TRUE(s.vc->btnMaintainAspectCheckBox()->isChecked());
    typeInto(s.vc->txtWidth(), "640");
    EXPECT_EQ(s.vc->txtHeight()->text(), "400");
    s.commit();
    const QVariantList stored = step(0)->filterParameters;
    EXPECT_TRUE(ParameterList::valueForKey(stored, "maintainAspectRatio").toBool());
    EXPECT_EQ(platform::numberValue(ParameterList::valueForKey(stored, "resizedWidth")), 640);
    EXPECT_EQ(platform::numberValue(ParameterList::valueForKey(stored, "resizedHeight")), 400);
    const QModelIndex row = s.screen->stepsModel()->index(0);
    EXPECT_TRUE(row.data(Qt::ToolTipRole).toString().endsWith("| Aspect Ratio Kept"));

    // The 16:9 photo keeps its shape.
    EXPECT_EQ(runOnePhoto(s.paths[1], AppDelegate::shared().arrayAppliedFilters).size(), QSize(640, 360));
    EXPECT_EQ(runOnePhoto(s.paths[0], AppDelegate::shared().arrayAppliedFilters).size(), QSize(640, 400));

    // Reopened, the box shows the step's choice; unticked, every photo gets the stored size.
    clickStepRow(s, 0);
    ASSERT_EQ(s.vc->state().currentFilterName, "Resize");
    EXPECT_TRUE(s.vc->btnMaintainAspectCheckBox()->isChecked());
    QTest::mouseClick(s.vc->btnMaintainAspectCheckBox(), Qt::LeftButton);
    s.commit();
    EXPECT_FALSE(ParameterList::valueForKey(step(0)->filterParameters, "maintainAspectRatio").toBool());
    EXPECT_EQ(runOnePhoto(s.paths[1], AppDelegate::shared().arrayAppliedFilters).size(), QSize(640, 400));

    // A step stored before the box was kept opens with it off and keeps its meaning.
    auto old = step(0);
    old->filterParameters = testsupport::parameterList(
        {{"resizedWidth", 640}, {"resizedHeight", 400}, {"percentWidth", 50}, {"percentHeight", 50},
         {"isPercentBaseResize", false}});
    const QVariantList before = old->filterParameters;
    clickStepRow(s, 0);
    EXPECT_FALSE(s.vc->btnMaintainAspectCheckBox()->isChecked());
    s.commit();
    EXPECT_EQ(step(0)->filterParameters, before);
}

// Opening a step and pressing Edit Effect writes back nothing: the step is set up on the
// picture of the steps before it, so a later crop neither reshapes its box nor moves it,
// and only a value the user changed is written.
TEST(EditingSteps, OpeningAStepAndPressingEditEffectLeavesItAsItWas) {
    Screen s({QSize(1160, 880)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    typeText(s.screen->textWatermarkView()->textField(), "Brisko");
    s.settle();
    s.commit();
    addSquareCrop(s);
    ASSERT_EQ(s.stepNames(), QStringList({"Add Text", "CICrop"}));
    ASSERT_EQ(s.vc->imageToEdit().size(), QSize(440, 440)) << "the preview shows the square crop";
    const QVariantList stored = step(0)->filterParameters;

    clickStepRow(s, 0);
    ASSERT_EQ(s.vc->state().currentFilterName, "Add Text");
    EXPECT_EQ(s.vc->btnApplyFilter()->text(), "Edit Effect");
    EXPECT_EQ(s.vc->imageToEdit().size(), QSize(580, 440)) << "the text is set up on the uncropped picture";
    s.commit();
    EXPECT_EQ(step(0)->filterParameters, stored);

    // A changed opacity is the one value that changes.
    clickStepRow(s, 0);
    s.vc->handleSlider(0, 0.4);
    s.commit();
    QVariantList expected = stored;
    ParameterList::setValueForKey(expected, "alpha", ParameterList::valueForKey(step(0)->filterParameters, "alpha"));
    EXPECT_NEAR(platform::numberValue(ParameterList::valueForKey(step(0)->filterParameters, "alpha")), 0.4, 1e-6);
    EXPECT_EQ(step(0)->filterParameters, expected);
}

// An added step is drawn once: Add Effect ends the effect's set-up, and another photo shown
// while a step is edited gets the step from its panel only.
TEST(EditingSteps, AnAddedOrEditedStepIsDrawnOnce) {
    Screen s;
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    s.commit();
    EXPECT_TRUE(s.vc->state().currentFilterName.isEmpty());
    EXPECT_FALSE(s.vc->vwAddEffect()->isVisible()) << "no effect is left to add";
    const QImage once = blackAndWhite(s.screen->originalImage());
    EXPECT_LT(testsupport::meanDiff(argb(s.vc->shownImage()), once), 1.0);
    EXPECT_GT(testsupport::meanDiff(blackAndWhite(once), once), 5.0) << "twice would show";

    // The text added is shown by the step, not by a new empty box over it.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    typeText(s.screen->textWatermarkView()->textField(), "Brisko");
    s.settle();
    s.commit();
    EXPECT_FALSE(s.screen->textWatermarkView()->isVisible());

    // Editing black and white, then showing the other photo: its preview has the step once.
    clickStepRow(s, 0);
    ASSERT_EQ(s.vc->state().currentFilterName, "Black & White");
    emit s.screen->photoStrip()->photoChosen(1);
    s.settle();
    ASSERT_EQ(s.vc->state().previewPhotoPath, s.paths[1]);
    EXPECT_EQ(s.vc->state().currentFilterName, "Black & White");
    EXPECT_LT(testsupport::meanDiff(argb(s.vc->shownImage()), blackAndWhite(s.vc->imageToEdit())), 1.0);
    EXPECT_LT(testsupport::meanDiff(argb(s.vc->imageToEdit()), argb(s.screen->originalImage().scaled(
                                                                   s.vc->imageToEdit().size()))),
              2.0)
        << "the picture under the edited step is the photo without it";

    // Cancel ends the edit and the preview shows the whole batch again.
    QTest::mouseClick(s.vc->btnCancel(), Qt::LeftButton);
    s.settle();
    EXPECT_EQ(s.screen->stepsModel()->data(s.screen->stepsModel()->index(0), EffectRoles::IsEdited).toBool(), false);
    EXPECT_FALSE(s.vc->vwAddEffect()->isVisible()) << "no effect is left chosen";
    EXPECT_LT(testsupport::meanDiff(argb(s.vc->imageToEdit()), argb(s.screen->filteredImage().scaled(
                                                                   s.vc->imageToEdit().size()))),
              1.0);
}

// A step edited in the middle of the batch is drawn before the steps after it.
TEST(EditingSteps, AStepBeingEditedIsDrawnUnderTheStepsAfterIt) {
    Screen s({QSize(1160, 880)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    s.commit();
    s.click(s.screen->tblFilterCategories(), s.basicRow("RGB Adjust"));  // a warm tint
    s.commit();
    ASSERT_EQ(s.stepNames(), QStringList({"Black & White", "RGB Adjust"}));
    clickStepRow(s, 0);
    ASSERT_EQ(s.vc->state().currentFilterName, "Black & White");
    const QColor c = s.vc->shownImage().pixelColor(290, 220);
    EXPECT_GT(c.red() - c.blue(), 20) << "tinted after black and white, not grey";

    // Choosing a category ends the edit: the preview shows the whole batch again.
    s.click(s.screen->tblFilterCategories(), s.categoryRow([&](int r) {
        auto category = s.screen->categoryModel()->fxCategoryAt(r);
        return category && category->categoryName.contains("Blur");
    }));
    EXPECT_TRUE(s.vc->state().currentFilterName.isEmpty());
    EXPECT_LT(testsupport::meanDiff(argb(s.vc->shownImage()), argb(s.screen->filteredImage().scaled(
                                                                  s.vc->shownImage().size()))),
              1.0);
    const QColor after = s.vc->shownImage().pixelColor(290, 220);
    EXPECT_GT(after.red() - after.blue(), 20);
}

// An open effect's points keep their place on the picture when a crop under it is switched
// off: the twirl set in the middle stays in the middle.
TEST(EditingSteps, AnOpenEffectKeepsItsPlaceWhenTheCropUnderItChanges) {
    Screen s({QSize(1160, 880)});
    addSquareCrop(s);
    ASSERT_EQ(s.vc->imageToEdit().size(), QSize(440, 440));
    s.vc->selectEffectByName("CITwirlDistortion", "Twirl Distortion");
    s.settle();
    const auto middle = s.vc->committedParameters();
    const auto centre = ParameterList::valueForKey(middle, "inputCenter").value<platform::Vec>();
    ASSERT_NEAR(centre.X(), 0.5, 0.01);
    s.stepButton(0, StepDelegate::Apply);
    ASSERT_EQ(s.vc->imageToEdit().size(), QSize(580, 440));
    EXPECT_EQ(s.vc->state().currentFilterName, "CITwirlDistortion");
    s.commit();
    const auto stored = ParameterList::valueForKey(step(1)->filterParameters, "inputCenter").value<platform::Vec>();
    EXPECT_NEAR(stored.X(), 0.5, 0.01);
    EXPECT_NEAR(stored.Y(), 0.5, 0.01);
}

// Text turned on its side by the vertical flip is written turned, as the preview shows it,
// and opens turned again.
TEST(EditingSteps, FlippedTextIsWrittenTurnedAsThePreviewShowsIt) {
    Screen s({QSize(1160, 880)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    typeText(s.screen->textWatermarkView()->textField(), "MMMMMMMM");
    s.settle();
    QTest::mouseClick(s.screen->btnTextFlipVertically(), Qt::LeftButton);
    s.commit();
    EXPECT_EQ(platform::numberValue(ParameterList::valueForKey(step(0)->filterParameters, "angle")), 270);
    const QImage written = argb(runOnePhoto(s.paths[0], AppDelegate::shared().arrayAppliedFilters));
    const QImage plain = argb(QImage(s.paths[0]));
    ASSERT_EQ(written.size(), plain.size());
    // The ink: where the written photo differs from the photo.
    QRect ink;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            if (std::abs(qGray(written.pixel(x, y)) - qGray(plain.pixel(x, y))) > 60) ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GT(ink.height(), 3 * ink.width()) << "a line of text standing on its side";

    clickStepRow(s, 0);
    EXPECT_TRUE(s.screen->btnTextFlipVertically()->isChecked());
    EXPECT_EQ(s.screen->textWatermarkView()->geometryModel().rotationDegrees(), 270);
}

// A step opened under a crop and a text: the cut-out is shown enlarged, and the text drawn
// over the open step lands where the run writes it on the photo.
TEST(EditingSteps, TextOverAStepOpenedUnderACropLandsWhereTheRunWritesIt) {
    Screen s({QSize(1740, 1320)});
    AppDelegate& app = AppDelegate::shared();
    const auto one = [](const char* key, const QVariant& value) { return QVariant(QVariantMap{{key, value}}); };
    const auto middle = QVariant::fromValue(platform::Vec(0.25, 0.25, 0.5, 0.5));
    app.arrayAppliedFilters
        << AppliedFilter::initWithFilterName("CICrop", "Crop", {one("inputRectangle", middle)}, QImage(), nullptr)
        << AppliedFilter::initWithFilterName("Black & White", "Black & White", {}, QImage(), nullptr)
        << AppliedFilter::initWithFilterName(
               "Add Text", "Add Text",
               {one("rotatedRect", QVariant::fromValue(platform::Vec(0.05, 0.1, 0.9, 0.5))),
                one("text", "Brisko Photos 2024"), one("fontSize", 0.15),
                one("fontName", testsupport::pinnedFontFamily())},
               QImage(), nullptr);
    s.screen->selectedPhotoChanged();
    s.settle();
    clickStepRow(s, 1);
    ASSERT_EQ(s.vc->state().currentFilterName, "Black & White");
    const QImage shown = s.vc->shownImage();
    ASSERT_EQ(shown.size(), QSize(580, 440)) << "the cut-out of 290 x 220 points, enlarged";
    const QImage written = runOnePhoto(s.paths[0], app.arrayAppliedFilters);
    ASSERT_EQ(written.size(), QSize(870, 660));
    // Compared at the cut-out's own size: the enlarged picture is softer than the photo.
    const auto atCutOut = [](const QImage& i) {
        return i.scaled(290, 220, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    EXPECT_GE(fxtest::psnr(atCutOut(written), atCutOut(shown)), 35.0);
}

// The brightness panel's three sliders each set their own value.
TEST(EditingSteps, EachColourControlSliderSetsItsOwnValue) {
    Screen s({QSize(600, 400)});
    s.vc->selectEffectByName("Brightness");
    const QStringList keys = {s.vc->state().sliderKeys[0], s.vc->state().sliderKeys[1], s.vc->state().sliderKeys[2]};
    ASSERT_TRUE(keys.contains("inputSaturation") && keys.contains("inputBrightness") && keys.contains("inputContrast"));
    for (int slot = 0; slot < 3; ++slot) {
        const double before = platform::numberValue(s.vc->workingParameters().value(keys[(slot + 1) % 3]));
        const double v = s.vc->slider(slot)->minimumValue() + 0.25 * (s.vc->slider(slot)->maximumValue() -
                                                                     s.vc->slider(slot)->minimumValue());
        s.vc->handleSlider(slot, v);
        EXPECT_NEAR(platform::numberValue(s.vc->workingParameters().value(keys[slot])), v, 1e-5) << keys[slot].toStdString();
        EXPECT_EQ(platform::numberValue(s.vc->workingParameters().value(keys[(slot + 1) % 3])), before);
    }
}

// The text and frame panels' smaller controls: the font size is 8 or more once typing ends,
// the text being typed shows in the colour of the swatch, and a frame's intensity follows
// every change of its slider and starts at its own value for another picture.
TEST(EditingSteps, FontSizeTextColourAndFrameIntensityFollowTheirControls) {
    Screen s({QSize(1160, 880)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    TextWatermarkView* box = s.screen->textWatermarkView();
    typeText(box->textField(), "WWWW");
    s.settle();
    ASSERT_EQ(s.vc->colourWellColour(0), QColor(Qt::white));
    QImage field(box->textField()->size(), QImage::Format_ARGB32);
    field.fill(QColor(128, 128, 128));
    box->textField()->render(&field);
    int light = 0, dark = 0;
    for (int y = 0; y < field.height(); ++y)
        for (int x = 0; x < field.width(); ++x) {
            const int g = qGray(field.pixel(x, y));
            light += g > 200;
            dark += g < 60;
        }
    EXPECT_GT(light, 20) << "the typed text is white like its swatch";
    EXPECT_EQ(dark, 0);

    QLineEdit* size = s.screen->txtFontsize();
    typeInto(size, "5");
    EXPECT_EQ(size->text(), "8");
    EXPECT_EQ(platform::numberValue(s.vc->workingParameters().value("fontSize")), 8);

    s.vc->selectEffectByName("Classic Frame", "Classic Frame");
    s.click(s.screen->tblTextureEffects(), 1);
    QSlider* intensity = s.screen->sliderEffectIntensity();
    intensity->setFocus();
    QTest::keyClick(intensity, Qt::Key_Left);
    EXPECT_NEAR(platform::numberValue(s.vc->workingParameters().value("effectIntensityValue")), 0.99, 1e-9);
    QTest::keyClick(intensity, Qt::Key_PageDown);
    const double lowered = platform::numberValue(s.vc->workingParameters().value("effectIntensityValue"));
    EXPECT_LT(lowered, 0.99);
    s.click(s.screen->tblTextureEffects(), 2);
    EXPECT_EQ(intensity->value(), 100);
    EXPECT_EQ(platform::numberValue(s.vc->workingParameters().value("effectIntensityValue")), 1.0);
}

// The header shows a picture of the photo and the metadata table its camera, read from the
// file even when the batch's record kept none of it; with no photo the preview goes while
// the tables stay.
TEST(EditingSteps, HeaderAndMetadataComeFromThePhotoAndAnEmptyBatchHidesThePreview) {
    Screen s({QSize(600, 400)});
    const QString jpeg = s.dir.filePath("camera.jpg");
    ASSERT_TRUE(testsupport::gradientImage(640, 480).save(jpeg, "JPEG"));
    ASSERT_TRUE(platform::writeImageProperties(
        jpeg, {{platform::kPropsTIFF, QVariantMap{{"Make", "Brisko"}, {"Model", "Field Camera 7"}}}}));
    auto photo = PhotoFile::initWithFileUrl(jpeg, false);
    photo->exifDict.clear();  // as a photo of a restored session has it
    AppDelegate& app = AppDelegate::shared();
    app.arraySelectedImagesToProcess = {photo};
    app.selectedImageFile = photo;
    app.selectedImageIndex = 0;
    s.screen->selectedPhotoChanged();
    s.settle();
    EXPECT_FALSE(s.screen->lblSelectedImage()->pixmap().isNull());
    bool camera = false;
    auto* model = s.screen->tvMetaData()->model();
    for (int r = 0; r < model->rowCount(); ++r)
        camera = camera || model->index(r, 1).data().toString().contains("Field Camera 7");
    EXPECT_TRUE(camera);

    app.arraySelectedImagesToProcess.clear();
    app.selectedImageFile.reset();
    app.selectedImageIndex = -1;
    s.screen->selectedPhotoChanged();
    EXPECT_FALSE(s.vc->previewContainer()->isVisible());
    EXPECT_TRUE(s.vc->tableArea()->isVisible());
}

// The preview zooms with the wheel and Ctrl, and with + and −, its label shown only away
// from 100 %; an effect placed on the preview sets it back to the whole photo.
TEST(EditingSteps, ThePreviewZoomsExceptUnderAnOverlayEffect) {
    Screen s({QSize(1160, 880)});
    QWidget* preview = s.vc->previewContainer();
    QLabel* label = s.vc->lblZoom();
    const QPointF at = QPointF(s.vc->imageContainerView()->geometry().center());
    auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
        QWheelEvent e(at, preview->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(preview, &e);
    };
    EXPECT_FALSE(label->isVisible());
    wheel(120, Qt::NoModifier);
    EXPECT_FLOAT_EQ(s.vc->state().currentZooomFactor, 1.0f) << "a wheel without Ctrl scrolls";
    wheel(120, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(s.vc->state().currentZooomFactor, 1.25f);
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->text(), "Zoom: 125 %");
    EXPECT_NEAR(s.vc->imgViewFiltered()->width(), 725, 1);
    QTest::keyClick(preview, Qt::Key_Plus);
    EXPECT_EQ(label->text(), "Zoom: 156 %");
    QTest::keyClick(preview, Qt::Key_Minus);
    QTest::keyClick(preview, Qt::Key_Minus);
    EXPECT_FLOAT_EQ(s.vc->state().currentZooomFactor, 1.0f);
    EXPECT_FALSE(label->isVisible());
    EXPECT_EQ(s.vc->imgViewFiltered()->geometry(), QRect(QPoint(0, 0), s.vc->imageContainerView()->size()));
    // A touchpad's pinch opening by half.
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at,
                              preview->mapToGlobal(at), 0.5, QPointF());
    QCoreApplication::sendEvent(preview, &pinch);
    EXPECT_FLOAT_EQ(s.vc->state().currentZooomFactor, 1.5f);
    QTest::keyClick(preview, Qt::Key_Minus);
    QTest::keyClick(preview, Qt::Key_Minus);

    wheel(240, Qt::ControlModifier);
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    EXPECT_FLOAT_EQ(s.vc->state().currentZooomFactor, 1.0f);
    EXPECT_FALSE(label->isVisible());
    wheel(120, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(s.vc->state().currentZooomFactor, 1.0f) << "the text box stands on the whole photo";
}
