#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThreadPool>
#include <QtTest/QTest>
#include <deque>

#include "batch/BatchRunner.h"
#include "editor/EffectsScreenLogic.h"
#include "editor/OneShotScheduler.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/EffectDelegates.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectsScreenController.h"
#include "editor/ui/ImageOverlayView.h"
#include "editor/ui/PhotoStrip.h"
#include "editor/ui/PointHandles.h"
#include "editor/ui/TextWatermarkView.h"
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"
#include "records/ParameterList.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/TestSupport.h"
#include "tests/editor/EffectsScreenFixture.h"

namespace {

using fxtest::Screen;

using fxtest::runOnePhoto;
using fxtest::typeText;

}  // namespace

TEST(EffectsScreenWidgets, BuildsABatchWhoseStepsTheRunnerRendersAsPreviewed) {
    Screen s;
    AppDelegate& app = AppDelegate::shared();
    ASSERT_FALSE(s.screen->originalImage().isNull());
    EXPECT_EQ(s.screen->lblImageName()->text(), "photo0.png");
    EXPECT_EQ(s.screen->lblImageInfo()->text().section(" | ", 1), "1160X880");
    EXPECT_TRUE(s.vc->batchInfoLabel()->text().startsWith("Batch Count: 2  |  Batch Size: "));

    // A blur chosen from its category in the tables, its radius changed, then added.
    const int blurRow = s.categoryRow([&](int r) {
        auto c = s.screen->categoryModel()->fxCategoryAt(r);
        return c && c->categoryName.contains("Blur");
    });
    ASSERT_GT(blurRow, 0);
    s.click(s.screen->tblFilterCategories(), blurRow);
    ASSERT_TRUE(s.screen->tblFilters()->isVisibleTo(s.vc.get()));
    int gaussian = -1;
    for (int r = 0; r < s.screen->effectModel()->rowCount(); ++r)
        if (s.screen->effectModel()->recordAt(r)->filterName == "CIGaussianBlur") gaussian = r;
    ASSERT_GE(gaussian, 0);
    s.click(s.screen->tblFilters(), gaussian);
    EXPECT_EQ(s.vc->state().currentFilterName, "CIGaussianBlur");
    s.vc->handleSlider(0, 3.0);
    s.commit();
    ASSERT_EQ(s.stepNames(), QStringList({"CIGaussianBlur"}));

    // A text watermark typed into the box over the preview.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    TextWatermarkView* box = s.screen->textWatermarkView();
    ASSERT_TRUE(box->isVisible());
    ASSERT_TRUE(box->isEditing());
    typeText(box->textField(), "Brisko");
    s.settle();
    EXPECT_EQ(s.vc->workingParameters().value("text").toString(), "Brisko");
    s.commit();

    // Black and white, then the blur moved last by the up button, the text switched off.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    s.commit();
    ASSERT_EQ(s.stepNames(), QStringList({"CIGaussianBlur", "Add Text", "Black & White"}));
    s.stepButton(2, StepDelegate::MoveUp);
    s.stepButton(1, StepDelegate::MoveUp);
    EXPECT_EQ(s.stepNames(), QStringList({"Black & White", "CIGaussianBlur", "Add Text"}));
    s.stepButton(2, StepDelegate::Apply);
    EXPECT_FALSE(app.arrayAppliedFilters[2]->isApplied);
    EXPECT_TRUE(app.arrayAppliedFilters[0]->isApplied);

    // The text step stores its box and size as fractions of the preview.
    const QVariantList text = app.arrayAppliedFilters[2]->filterParameters;
    const auto rotated = ParameterList::valueForKey(text, "rotatedRect").value<platform::Vec>();
    ASSERT_TRUE(rotated.isRect());
    for (int i = 0; i < 4; ++i) EXPECT_LE(rotated.at(i), 1.0) << i;
    EXPECT_LT(ParameterList::valueForKey(text, "fontSize").toDouble(), 1.0);
    EXPECT_EQ(ParameterList::valueForKey(text, "text").toString(), "Brisko");

    // The runner's output, scaled to the preview, looks like the preview of the same steps.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Rotate"));
    s.vc->selectEffectByName(QString());
    s.screen->resetFilterForNewImage(false);
    s.settle();
    const QImage preview = s.screen->filteredImage();
    QTemporaryDir out;
    const QImage result = runOnePhoto(s.paths[0], out.path(), app.arrayAppliedFilters);
    ASSERT_FALSE(result.isNull());
    EXPECT_EQ(result.size(), QSize(1160, 880));
    const QImage scaled = result.convertToFormat(QImage::Format_ARGB32)
                              .scaled(preview.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(testsupport::meanDiff(scaled, preview.convertToFormat(QImage::Format_ARGB32)), 6.0);
    // The black and white step really ran: the output is grey.
    const QColor c = result.pixelColor(580, 440);
    EXPECT_NEAR(c.red(), c.green(), 2);
    EXPECT_NEAR(c.green(), c.blue(), 2);
}

// Every overlay kind, chosen in the tables and placed on the preview, becomes a step with
// size-relative values that the runner draws as the preview showed it.
TEST(EffectsScreenWidgets, EachOverlayKindCommitsAStepTheRunnerDrawsAsPreviewed) {
    struct Kind {
        const char* name;
        std::function<void(Screen&)> choose;
    };
    auto effectRow = [](Screen& s, const QString& name) {
        for (int r = 0; r < s.screen->effectModel()->rowCount(); ++r)
            if (s.screen->effectModel()->recordAt(r)->filterName == name) return r;
        return -1;
    };
    const Kind kinds[] = {
        {"Classic Frame",
         [&](Screen& s) {
             s.click(s.screen->tblFilterCategories(), s.basicRow("Add Frames"));
             s.click(s.screen->tblFilters(), effectRow(s, "Classic Frame"));
             s.click(s.screen->tblTextureEffects(), 1);
         }},
        {"Paper Effect",
         [&](Screen& s) {
             s.click(s.screen->tblFilterCategories(), s.categoryRow([&](int r) {
                 auto c = s.screen->categoryModel()->fxCategoryAt(r);
                 return c && c->categoryName == "customTextureEffectsFilters";
             }));
             s.click(s.screen->tblFilters(), effectRow(s, "Paper Effect"));
             s.click(s.screen->tblTextureEffects(), 0);
         }},
        {"Zodiac",
         [&](Screen& s) {
             s.click(s.screen->tblFilterCategories(), s.basicRow("Add Image"));
             s.click(s.screen->tblFilters(), effectRow(s, "Zodiac"));
             s.click(s.screen->stickerGrid(), 2);
         }},
        {"Add Custom Image",
         [&](Screen& s) {
             // The user's own picture, from the sticker sets' category; turned and flipped.
             s.click(s.screen->tblFilterCategories(), s.basicRow("Add Image"));
             ASSERT_TRUE(s.screen->btnAddCustomImage()->isVisible());
             QTest::mouseClick(s.screen->btnAddCustomImage(), Qt::LeftButton);
             auto* chooser = s.vc->window()->findChild<QFileDialog*>();
             ASSERT_NE(chooser, nullptr);
             chooser->reject();
             const QString picture = s.dir.filePath("logo.png");
             testsupport::quadrantImage(64, 64).save(picture);
             s.screen->setCustomImageFromFile(picture);
             ImageOverlayView* box = s.screen->imageWatermarkView();
             const QPoint centre = platform::toQtPoint(box->boxRect().center(), box->height()).toPoint();
             QTest::mouseClick(box, Qt::LeftButton, {}, centre);
             ASSERT_NE(s.screen->windowStickerSetting(), nullptr);
             s.screen->sliderStickerAngle()->setValue(90);
             QTest::mouseClick(s.screen->btnOverlayFlipVertically(), Qt::LeftButton);
             EXPECT_EQ(box->angle(), 90);
             s.settle();
         }},
        {"Add Date", [&](Screen& s) { s.click(s.screen->tblFilterCategories(), s.basicRow("Add Date")); }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        Screen s({QSize(1160, 880)});
        kind.choose(s);
        ASSERT_EQ(s.vc->state().currentFilterName, kind.name);
        s.commit();
        const auto& steps = AppDelegate::shared().arrayAppliedFilters;
        ASSERT_EQ(s.stepNames(), QStringList({kind.name}));
        if (QString(kind.name) == "Add Custom Image") {
            const QVariantList& stored = steps[0]->filterParameters;
            EXPECT_EQ(ParameterList::valueForKey(stored, "angle").toInt(), 90);
            EXPECT_TRUE(ParameterList::valueForKey(stored, "flipVertically").toBool());
            EXPECT_FALSE(ParameterList::valueForKey(stored, "flipHorizontally").toBool());
            EXPECT_EQ(ParameterList::valueForKey(stored, "imageName").toString(), "logo.png");
        }
        for (const QVariant& entry : steps[0]->filterParameters) {
            const QVariant v = entry.toMap().first();
            if (!v.canConvert<platform::Vec>()) continue;
            const auto vec = v.value<platform::Vec>();
            for (int i = 0; i < vec.count; ++i) EXPECT_LE(std::abs(vec.at(i)), 1.0) << entry.toMap().firstKey().toStdString();
        }
        s.vc->selectEffectByName(QString());
        s.screen->resetFilterForNewImage(false);
        s.settle();
        const QImage preview = s.screen->filteredImage().convertToFormat(QImage::Format_ARGB32);
        const QImage original = s.screen->originalImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_GT(testsupport::meanDiff(preview, original), 0.5) << "the step shows on the preview";
        if (QString(kind.name) == "Classic Frame") {
            // A frame borders the photo; its middle stays the photo's.
            const QPoint middle(preview.width() / 2, preview.height() / 2);
            EXPECT_EQ(preview.pixel(middle), original.pixel(middle));
        }
        QTemporaryDir out;
        const QImage result = runOnePhoto(s.paths[0], out.path(), steps);
        ASSERT_FALSE(result.isNull());
        const QImage scaled = result.convertToFormat(QImage::Format_ARGB32)
                                  .scaled(preview.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LT(testsupport::meanDiff(scaled, preview), 6.0);
    }
}

TEST(EffectsScreenWidgets, ACustomPictureChosenAsTiffOrJpeg2000IsAddedAsItIs) {
    // Formats the program reads as photos but the desktop's image plugins do not.
    const QImage photo =
        platform::readImage(testsupport::packagedPicture(testsupport::kManualPictures + "bluebells_clipped.jpg"));
    ASSERT_FALSE(photo.isNull());
    for (auto [type, name] : {std::pair{platform::ImageType::TIFF, "picture.tif"},
                              std::pair{platform::ImageType::JPEG2000, "picture.jp2"}}) {
        SCOPED_TRACE(name);
        Screen s({QSize(1160, 880)});
        const QString path = s.dir.filePath(name);
        ASSERT_TRUE(platform::writeImageFile(path, photo, type, 1.0));
        s.click(s.screen->tblFilterCategories(), s.basicRow("Add Image"));
        QTest::mouseClick(s.screen->btnAddCustomImage(), Qt::LeftButton);
        auto* chooser = s.vc->window()->findChild<QFileDialog*>();
        ASSERT_NE(chooser, nullptr);
        chooser->selectFile(path);
        QMetaObject::invokeMethod(chooser, "accept");
        s.settle();
        EXPECT_TRUE(s.alerts.shown.isEmpty()) << (s.alerts.shown.isEmpty() ? "" : s.alerts.shown[0].first.toStdString());
        EXPECT_EQ(s.screen->imageWatermarkView()->picture().size(), photo.size());
        s.commit();
        const auto& steps = AppDelegate::shared().arrayAppliedFilters;
        ASSERT_EQ(s.stepNames(), QStringList({"Add Custom Image"}));
        EXPECT_EQ(ParameterList::valueForKey(steps[0]->filterParameters, "imageName").toString(), name);
        const QImage kept = ParameterList::valueForKey(steps[0]->filterParameters, "imageToAdd").value<QImage>();
        EXPECT_EQ(kept.size(), photo.size());
        EXPECT_LE(testsupport::maxDiff(kept, photo), 1);
    }
}

TEST(EffectsScreenWidgets, TextWatermarkWithItsTextReachesTheOutput) {
    Screen s({QSize(1160, 880)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    typeText(s.screen->textWatermarkView()->textField(), "MMMMMM");
    s.settle();
    // Flipping stands the box up; the stored turned box follows.
    const auto before = s.vc->workingParameters().value("rotatedRect").value<platform::Vec>();
    QTest::mouseClick(s.screen->btnTextFlipVertically(), Qt::LeftButton);
    const auto after = s.vc->workingParameters().value("rotatedRect").value<platform::Vec>();
    EXPECT_DOUBLE_EQ(after.Z(), before.W());
    EXPECT_DOUBLE_EQ(after.W(), before.Z());
    QTest::mouseClick(s.screen->btnTextFlipVertically(), Qt::LeftButton);
    // The box shows the text; the preview under it does not draw it a second time.
    s.vc->showImage();
    s.settle();
    const QImage base = s.vc->imageToEdit().convertToFormat(QImage::Format_ARGB32);
    EXPECT_LT(testsupport::maxDiff(s.vc->shownImage().convertToFormat(QImage::Format_ARGB32), base), 8);
    s.commit();
    ASSERT_EQ(s.stepNames(), QStringList({"Add Text"}));
    // The step's own picture is drawn with its text.
    const QImage picture = AppDelegate::shared().arrayAppliedFilters[0]->filterAppliedImage;
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(testsupport::maxDiff(picture.convertToFormat(QImage::Format_ARGB32),
                                   base.scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
              100);
    QTemporaryDir out;
    const QImage result = runOnePhoto(s.paths[0], out.path(), AppDelegate::shared().arrayAppliedFilters);
    ASSERT_FALSE(result.isNull());
    const QImage plain(s.paths[0]);
    EXPECT_GT(testsupport::maxDiff(result.convertToFormat(QImage::Format_ARGB32),
                                   plain.convertToFormat(QImage::Format_ARGB32)),
              100)
        << "the white text is drawn on the photo";
}

TEST(EffectsScreenWidgets, DraggedStepsLandWhereDroppedAndOnlyOwnRowsAreTaken) {
    Screen s({QSize(600, 400)});
    AppDelegate& app = AppDelegate::shared();
    for (const char* name : {"A", "B", "C", "D"})
        app.arrayAppliedFilters << AppliedFilter::initWithFilterName(name, name, {}, QImage(), nullptr);
    s.screen->stepsModel()->reload();
    AppliedStepsModel* model = s.screen->stepsModel();
    std::unique_ptr<QMimeData> mime(model->mimeData({model->index(0), model->index(1)}));
    // Dropped on the gap before D: both move down, in their order.
    ASSERT_TRUE(model->dropMimeData(mime.get(), Qt::MoveAction, 3, 0, {}));
    EXPECT_EQ(s.stepNames(), QStringList({"C", "A", "B", "D"}));
    // Rows dragged from another list are refused.
    AppliedSteps::StepList other;
    AppliedStepsModel stranger(&other);
    std::unique_ptr<QMimeData> foreign(stranger.mimeData({stranger.index(0)}));
    foreign->setData(AppliedSteps::draggedRowsMimeType(), AppliedSteps::encodeDraggedRows({0}, 0x1));
    EXPECT_FALSE(model->canDropMimeData(foreign.get(), Qt::MoveAction, 0, 0, {}));
    EXPECT_FALSE(model->dropMimeData(foreign.get(), Qt::MoveAction, 0, 0, {}));
    EXPECT_EQ(s.stepNames(), QStringList({"C", "A", "B", "D"}));
    // Up and down buttons; the first row's up and the last row's down do nothing.
    s.stepButton(0, StepDelegate::MoveUp);
    s.stepButton(3, StepDelegate::MoveDown);
    s.stepButton(0, StepDelegate::MoveDown);
    EXPECT_EQ(s.stepNames(), QStringList({"A", "C", "B", "D"}));
    s.stepButton(1, StepDelegate::Remove);
    EXPECT_EQ(s.stepNames(), QStringList({"A", "B", "D"}));
    // Thumbnail form: taller rows.
    QTest::mouseClick(s.vc->findChild<QPushButton*>("btnThumbView"), Qt::LeftButton);
    EXPECT_EQ(model->data(model->index(0), Qt::SizeHintRole).toSize().height(), 138);
}

TEST(EffectsScreenWidgets, TwoQuickPhotoChangesLeaveTheLastPhotosPreview) {
    Screen s;
    std::deque<std::function<void()>> jobs;
    s.screen->setExecutor([&](std::function<void()> job) { jobs.push_back(std::move(job)); });
    // A blur being set up is carried over to the next photo.
    s.vc->selectEffectByName("CIGaussianBlur", "Gaussian Blur");
    s.vc->handleSlider(0, 4.0);
    PhotoStrip* strip = s.screen->photoStrip();
    emit strip->photoChosen(1);
    emit strip->photoChosen(0);
    emit strip->photoChosen(1);
    ASSERT_EQ(jobs.size(), 3u);
    // The loads finish newest first, so the older ones come back last.
    while (!jobs.empty()) {
        jobs.back()();
        jobs.pop_back();
    }
    s.settle();
    EXPECT_EQ(s.vc->state().previewPhotoPath, s.paths[1]);
    EXPECT_EQ(s.screen->lblImageName()->text(), "photo1.png");
    EXPECT_EQ(s.vc->imageToEdit().size(), QSize(330, 440));
    EXPECT_EQ(s.vc->state().currentFilterName, "CIGaussianBlur");
    EXPECT_NEAR(s.vc->workingParameters().value("inputRadius").toDouble(), 4.0 * 330 / 580, 0.2)
        << "the radius follows the preview's width";
}

TEST(EffectsScreenWidgets, MissingPhotosAlertSingularAndPlural) {
    {
        Screen s({QSize(200, 100)});
        QFile::remove(s.paths[0]);
        s.screen->viewWillAppearNotofication();
        ASSERT_FALSE(s.alerts.shown.isEmpty());
        EXPECT_EQ(s.alerts.shown.last().first, "PHOTO DELETED");
        EXPECT_EQ(s.alerts.shown.last().second, "Photo no longer exists in the Source folder!");
    }
    Screen s({QSize(200, 100), QSize(100, 200), QSize(150, 150)});
    for (const QString& p : s.paths) QFile::remove(p);
    s.screen->viewWillAppearNotofication();
    ASSERT_FALSE(s.alerts.shown.isEmpty());
    EXPECT_EQ(s.alerts.shown.last().first, "PHOTOS DELETED");
    EXPECT_EQ(s.alerts.shown.last().second, "Photos no longer exists in the Source folder!");
}

TEST(EffectsScreenWidgets, FavouriteShownAddedAndDeleted) {
    Screen s({QSize(400, 300)});
    auto fav = std::make_shared<FavouriteBatch>();
    fav->name = "Grey";
    fav->filtersArray << AppliedFilter::initWithFilterName("Black & White", "Black & White", {}, QImage(), nullptr)
                      << AppliedFilter::initWithFilterName("Zodiac", "Zodiac", {}, QImage(), nullptr);
    ASSERT_TRUE(Favorites::addFavBatch(fav));
    s.screen->loadCategories();
    const CategoryRows rows = s.screen->categoryModel()->rows();
    EXPECT_EQ(rows.F, 2);
    EXPECT_EQ(s.screen->categoryModel()->data(s.screen->categoryModel()->index(0), Qt::DisplayRole), "FAVORITES");
    EXPECT_EQ(s.screen->selectedCategoryIndex(), rows.firstBasicRow());

    s.click(s.screen->tblFilterCategories(), 1);
    EXPECT_EQ(s.screen->lblFavTitle()->text(), "Favorite Steps(2)");
    EXPECT_EQ(s.screen->favouriteModel()->data(s.screen->favouriteModel()->index(1), Qt::DisplayRole), "Add Sticker");
    QTest::mouseClick(s.screen->btnAddEffectsOnFav(), Qt::LeftButton);
    EXPECT_EQ(s.stepNames(), QStringList({"Black & White", "Zodiac"}));

    // The delete button of the chosen favourite asks, and Yes removes it from the defaults.
    s.screen->btnDeleteOnFavCellTappedAtIndex(1);
    ASSERT_FALSE(s.alerts.shown.isEmpty());
    EXPECT_EQ(s.alerts.shown.last().first, "DELETE FAVORITE");
    EXPECT_TRUE(Favorites::favouriteBatches().isEmpty());
    EXPECT_EQ(s.screen->categoryModel()->rows().F, 0);
}

TEST(EffectsScreenWidgets, CategoryChoicesHeadersResizeOnceAndTheUnsavedQuestion) {
    Screen s({QSize(800, 600)});
    AppDelegate& app = AppDelegate::shared();
    const int first = s.screen->categoryModel()->rows().firstBasicRow();
    EXPECT_EQ(s.screen->selectedCategoryIndex(), first);
    // A header row cannot be chosen: the marker stays.
    s.click(s.screen->tblFilterCategories(), 0);
    EXPECT_EQ(s.screen->selectedCategoryIndex(), first);
    EXPECT_EQ(s.screen->categoryModel()->data(s.screen->categoryModel()->index(first), Qt::SizeHintRole).toSize().height(), 48);

    // Resize is added once; choosing it again opens the batch's own for editing.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Resize"));
    EXPECT_EQ(s.vc->state().currentFilterName, "Resize");
    s.commit();
    s.click(s.screen->tblFilterCategories(), s.basicRow("Rotate"));
    s.click(s.screen->tblFilterCategories(), s.basicRow("Resize"));
    EXPECT_TRUE(s.vc->state().isFor_FILTER_EDIT_MODE);
    EXPECT_EQ(s.vc->state().selectedAppliedFilterIndex, 0);
    EXPECT_EQ(s.vc->btnApplyFilter()->text(), "Edit Effect");
    s.commit();
    EXPECT_EQ(s.stepNames(), QStringList({"Resize"}));

    // Changed values of an effect not yet added: leaving asks, Yes adds the step first.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Custom Enhance"));
    s.vc->handleSliderCustomEnhance(0, 0.3);
    ASSERT_TRUE(s.vc->workingParameters().isChanged());
    s.alerts.shown.clear();
    s.click(s.screen->tblFilterCategories(), s.basicRow("Rotate"));
    ASSERT_EQ(s.alerts.shown.size(), 1);
    EXPECT_EQ(s.alerts.shown[0].first, "ADD EFFECT");
    EXPECT_EQ(s.stepNames(), QStringList({"Resize", "Custom Enhance"}));
    EXPECT_EQ(s.vc->state().currentFilterName, "Rotate");
    // A text box only shown and drawn is no change: leaving it asks nothing.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Text"));
    s.vc->showImage();
    s.settle();
    s.click(s.screen->tblFilterCategories(), s.basicRow("Rotate"));
    EXPECT_EQ(s.alerts.shown.size(), 1);
    EXPECT_EQ(s.vc->state().currentFilterName, "Rotate");
    // Once the user asked not to be asked again, the question stays away.
    platform::UserDefaults::standardUserDefaults().setObject(QStringLiteral("yes"), "dontShowUnsavedEffectPopup");
    s.click(s.screen->tblFilterCategories(), s.basicRow("Custom Enhance"));
    s.vc->handleSliderCustomEnhance(0, 0.3);
    s.click(s.screen->tblFilterCategories(), s.basicRow("Rotate"));
    EXPECT_EQ(s.alerts.shown.size(), 1);

    // The auto-orientation box is the application's flag.
    s.screen->checkAutoOrientation()->setChecked(false);
    EXPECT_FALSE(app.isAUTO_CORRECT_ORIENTATION);
}

TEST(EffectsScreenWidgets, EditingAStepReplacesItAndSwitchingOffLeavesItOutOfThePreview) {
    Screen s({QSize(800, 600)});
    AppDelegate& app = AppDelegate::shared();
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    s.commit();
    const QImage grey = s.screen->filteredImage();
    const QColor c = grey.pixelColor(grey.width() / 2, grey.height() / 2);
    EXPECT_NEAR(c.red(), c.blue(), 2) << "the committed step shows in the preview's base";
    // Switched off: the base is the plain photo again.
    s.stepButton(0, StepDelegate::Apply);
    EXPECT_EQ(testsupport::maxDiff(s.screen->filteredImage(), s.screen->originalImage()), 0);
    s.stepButton(0, StepDelegate::Apply);
    // The edit button opens the step; a commit replaces it in its place.
    s.stepButton(0, StepDelegate::Edit);
    EXPECT_TRUE(s.vc->state().isFor_FILTER_EDIT_MODE);
    EXPECT_EQ(s.screen->stepsModel()->data(s.screen->stepsModel()->index(0), EffectRoles::IsEdited).toBool(), true);
    const auto before = app.arrayAppliedFilters[0];
    s.commit();
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    EXPECT_NE(app.arrayAppliedFilters[0], before);
    EXPECT_FALSE(s.vc->state().isFor_FILTER_EDIT_MODE);
    // Removing the edited step ends its edit.
    s.stepButton(0, StepDelegate::Edit);
    s.stepButton(0, StepDelegate::Remove);
    EXPECT_TRUE(app.arrayAppliedFilters.isEmpty());
    EXPECT_FALSE(s.vc->state().isFor_FILTER_EDIT_MODE);
    EXPECT_TRUE(s.vc->findChild<QLabel*>("vwNoAppliedFilters")->isVisible());
}

TEST(EffectsScreenWidgets, TextBoxMovesWithTheMouseAndADateBoxCannotBeTyped) {
    Screen s({QSize(1160, 880)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Date"));
    TextWatermarkView* box = s.screen->textWatermarkView();
    EXPECT_FALSE(box->isEditing()) << "a date box is not open for typing";
    EXPECT_FALSE(box->textContent().isEmpty()) << "it shows the date";
    const QRectF frame = box->geometryModel().containerFrame();
    const QPoint inside = box->boxRectInWidget().center().toPoint();
    QTest::mouseDClick(box, Qt::LeftButton, {}, inside);
    EXPECT_FALSE(box->isEditing());
    // A drag moves the box; the stored rectangle follows on release.
    QTest::mousePress(box, Qt::LeftButton, {}, inside);
    QMouseEvent move(QEvent::MouseMove, QPointF(inside + QPoint(40, -30)), box->mapToGlobal(QPointF(inside + QPoint(40, -30))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &move);
    QTest::mouseRelease(box, Qt::LeftButton, {}, inside + QPoint(40, -30));
    EXPECT_EQ(box->geometryModel().containerFrame().topLeft(), frame.topLeft() + QPointF(40, 30)) << "y goes up";
    const auto bounded = s.vc->workingParameters().value("boundedRect").value<platform::Vec>();
    EXPECT_DOUBLE_EQ(bounded.X(), frame.x() + 40 + 20);
    // The cross clears the text and hides the box.
    QTest::mouseClick(box, Qt::LeftButton, {}, box->crossRectInWidget().center().toPoint());
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(s.vc->workingParameters().value("text").toString(), "");
}

TEST(EffectsScreenWidgets, ACentreIsNamedDraggedOnThePhotoAndStoredYUp) {
    Screen s({QSize(1160, 880)});
    s.vc->selectEffectByName("CITwirlDistortion");
    PointHandleButton* button = s.vc->pointButton(0);
    ASSERT_TRUE(button->isVisible());
    EXPECT_EQ(button->buttonTitle(), "Center") << "the parameter's name, not its key";
    EXPECT_FALSE(button->currentImage().isNull()) << "drawn with its own picture, not as a bare button";
    PointView* handle = button->handle();
    QWidget* container = s.vc->imageContainerView();
    ASSERT_TRUE(handle->isVisible());
    const QSizeF size = container->size();
    const QPointF start = handle->center();
    const QPoint at = platform::toQtPoint(start, size.height()).toPoint();
    ASSERT_EQ(container->childAt(at), handle) << "nothing over the photo hides the handle";

    // 40 right and 30 down on the screen: 30 up in the step.
    const QPoint to = at + QPoint(40, 30);
    QTest::mousePress(handle, Qt::LeftButton, {}, handle->mapFrom(container, at));
    QMouseEvent move(QEvent::MouseMove, QPointF(handle->mapFrom(container, to)), QPointF(container->mapToGlobal(to)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFrom(container, to));
    const QPointF moved = start + QPointF(40, -30);
    EXPECT_EQ(handle->center(), moved);
    EXPECT_EQ(s.vc->workingParameters().value("inputCenter").value<platform::Vec>(), platform::Vec(moved.x(), moved.y()));

    // The button hides and shows the handle.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(handle->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(handle->isVisible());

    // The step keeps the centre relative to the photo's size, y up.
    s.commit();
    ASSERT_EQ(s.stepNames(), QStringList({"CITwirlDistortion"}));
    const auto stored =
        ParameterList::valueForKey(AppDelegate::shared().arrayAppliedFilters[0]->filterParameters, "inputCenter")
            .value<platform::Vec>();
    EXPECT_NEAR(stored.X(), moved.x() / size.width(), 1e-6);
    EXPECT_NEAR(stored.Y(), moved.y() / size.height(), 1e-6);

    // A click on the crop's rectangle button hides and shows its corners the same way.
    s.vc->selectEffectByName("CICrop");
    RectButton* extent = s.vc->theExtentButton();
    ASSERT_TRUE(extent->corner(0)->isVisible());
    extent->click();
    EXPECT_FALSE(extent->corner(0)->isVisible());
    EXPECT_EQ(extent->state(), 0);
    extent->click();
    EXPECT_TRUE(extent->corner(0)->isVisible());
}
