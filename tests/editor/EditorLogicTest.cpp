#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <deque>

#include "editor/AppliedSteps.h"
#include "editor/EffectTables.h"
#include "editor/EffectsScreenLogic.h"
#include "editor/FavouriteSteps.h"
#include "editor/OverlayPanels.h"
#include "editor/PreviewLoader.h"
#include "editor/PreviewZoom.h"
#include "editor/StepEditing.h"
#include "editor/TextBoxGeometry.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/ParameterList.h"
#include "records/PhotoFile.h"
#include "records/SavedState.h"
#include "tests/support/TestSupport.h"

using AppliedSteps::StepList;
using platform::Vec;

namespace {

std::shared_ptr<AppliedFilter> step(const QString& name) {
    return AppliedFilter::initWithFilterName(name, name, {}, QImage(), nullptr);
}

StepList steps(const QStringList& names) {
    StepList list;
    for (const QString& n : names) list << step(n);
    return list;
}

QStringList namesOfSteps(const StepList& list) {
    QStringList out;
    for (const auto& s : list) out << s->filterName;
    return out;
}

}  // namespace

TEST(CategoryRows, HeadersTitlesAndHeights) {
    // No favourites: the rename header is row 0.
    const CategoryRows none{0, 2, 14, 5};
    EXPECT_EQ(none.headerTitle(0), "CONVERT FORMAT/RENAME");
    EXPECT_FALSE(none.isHeader(1));
    EXPECT_EQ(none.batchConversionRow(), 1);
    EXPECT_EQ(none.headerTitle(2), "BASIC");
    EXPECT_EQ(none.firstBasicRow(), 3);
    EXPECT_EQ(none.headerTitle(16), "FX");
    EXPECT_EQ(none.groupOf(17), CategoryRows::Group::Fx);
    EXPECT_EQ(none.indexInGroup(17), 1);
    EXPECT_EQ(none.groupOf(21), CategoryRows::Group::None);

    // Two favourites and their header row.
    const CategoryRows two{3, 2, 14, 5};
    struct Case { int row; bool header; const char* title; CategoryRows::Group group; int index; };
    const Case cases[] = {
        {0, true, "FAVORITES", CategoryRows::Group::Favourite, 0},
        {2, false, "", CategoryRows::Group::Favourite, 2},
        {3, true, "CONVERT FORMAT/RENAME", CategoryRows::Group::Rename, 0},
        {4, false, "", CategoryRows::Group::Rename, 1},
        {5, true, "BASIC", CategoryRows::Group::Basic, 0},
        {6, false, "", CategoryRows::Group::Basic, 1},
        {19, true, "FX", CategoryRows::Group::Fx, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(two.isHeader(c.row), c.header);
        EXPECT_EQ(two.headerTitle(c.row), QString::fromLatin1(c.title));
        EXPECT_EQ(two.groupOf(c.row), c.group);
        EXPECT_EQ(two.indexInGroup(c.row), c.index);
        EXPECT_EQ(two.heightOfRow(c.row, -1), c.header ? 48 : 40);
    }
    EXPECT_EQ(two.firstBasicRow(), 6);
    EXPECT_EQ(two.heightOfRow(7, 7), 48);
}

TEST(StepRows, MoveButtonsFollowThePosition) {
    struct Case { int row, count; bool up, down; };
    const Case cases[] = {{0, 1, false, false}, {0, 3, false, true}, {1, 3, true, true}, {2, 3, true, false}};
    for (const Case& c : cases) {
        const auto b = EffectTables::moveButtonsForRow(c.row, c.count);
        EXPECT_EQ(b.upEnabled, c.up) << c.row << "/" << c.count;
        EXPECT_EQ(b.downEnabled, c.down) << c.row << "/" << c.count;
        EXPECT_EQ(b.upImage, c.up ? "up.png" : "up_inactive.png");
        EXPECT_EQ(b.downImage, c.down ? "down.png" : "down_inactive.png");
    }
    EXPECT_EQ(EffectTables::stepRowHeight(true), 40);
    EXPECT_EQ(EffectTables::stepRowHeight(false), 138);
}

TEST(AppliedSteps, DragMovesEveryRowToTheDrop) {
    struct Case { QList<int> rows; int drop; QStringList expected; QList<int> placed; };
    const Case cases[] = {
        // Down: rows 0 and 1 dropped before E land after D, in their order.
        {{0, 1}, 4, {"C", "D", "A", "B", "E"}, {2, 3}},
        // Down to the end.
        {{1}, 5, {"A", "C", "D", "E", "B"}, {4}},
        // Up, rows not next to each other.
        {{2, 4}, 1, {"A", "C", "E", "B", "D"}, {1, 2}},
        // Dropped onto its own place: nothing changes.
        {{2}, 2, {"A", "B", "C", "D", "E"}, {2}},
        {{2}, 3, {"A", "B", "C", "D", "E"}, {2}},
        // Rows outside the list or repeated are ignored.
        {{3, 3, 9, -1}, 0, {"D", "A", "B", "C", "E"}, {0}},
    };
    for (const Case& c : cases) {
        StepList list = steps({"A", "B", "C", "D", "E"});
        const QList<int> placed = AppliedSteps::moveRows(list, c.rows, c.drop);
        EXPECT_EQ(namesOfSteps(list), c.expected) << c.drop;
        EXPECT_EQ(placed, c.placed) << c.drop;
    }
    StepList list = steps({"A", "B"});
    EXPECT_TRUE(AppliedSteps::moveRows(list, {7}, 0).isEmpty());
    EXPECT_EQ(namesOfSteps(list), QStringList({"A", "B"}));
}

TEST(AppliedSteps, OnlyTheListsOwnRowsDecode) {
    const QByteArray bytes = AppliedSteps::encodeDraggedRows({2, 0}, 0x1234);
    EXPECT_EQ(AppliedSteps::decodeDraggedRows(bytes, 0x1234), QList<int>({2, 0}));
    EXPECT_TRUE(AppliedSteps::decodeDraggedRows(bytes, 0x9999).isEmpty());
    EXPECT_TRUE(AppliedSteps::decodeDraggedRows("plain text", 0x1234).isEmpty());
    EXPECT_TRUE(AppliedSteps::decodeDraggedRows(bytes.left(12), 0x1234).isEmpty());
}

TEST(AppliedSteps, CommitSwitchRemoveAndMove) {
    StepList list = steps({"A", "Resize", "B"});
    // Appends; a second Resize replaces the first; edit mode replaces in place.
    EXPECT_EQ(AppliedSteps::commit(list, step("C"), -1), 3);
    EXPECT_EQ(AppliedSteps::commit(list, step("Resize"), -1), 1);
    EXPECT_EQ(list.size(), 4);
    auto edited = step("B2");
    EXPECT_EQ(AppliedSteps::commit(list, edited, 2), 2);
    EXPECT_EQ(namesOfSteps(list), QStringList({"A", "Resize", "B2", "C"}));

    EXPECT_TRUE(AppliedSteps::toggle(list, 0));
    EXPECT_FALSE(list[0]->isApplied);
    EXPECT_FALSE(AppliedSteps::toggle(list, 4));
    EXPECT_TRUE(AppliedSteps::moveUp(list, 3));
    EXPECT_FALSE(AppliedSteps::moveUp(list, 0));
    EXPECT_TRUE(AppliedSteps::moveDown(list, 0));
    EXPECT_FALSE(AppliedSteps::moveDown(list, 3));
    EXPECT_EQ(namesOfSteps(list), QStringList({"Resize", "A", "C", "B2"}));
    EXPECT_TRUE(AppliedSteps::remove(list, 1));
    EXPECT_FALSE(AppliedSteps::remove(list, -1));
    EXPECT_EQ(namesOfSteps(list), QStringList({"Resize", "C", "B2"}));
}

TEST(FavouriteSteps, SavedAppliedToggledAndDeletedThroughTheDefaults) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.plist"));
    EXPECT_TRUE(FavouriteSteps::loadFavouriteBatches(defaults).isEmpty());
    auto fav = std::make_shared<FavouriteBatch>();
    fav->name = "Warm";
    fav->filtersArray = steps({"CISepiaTone", "Zodiac", "Add Custom Image"});
    ASSERT_TRUE(Favorites::addFavBatch(fav, defaults));

    auto rows = FavouriteSteps::loadFavouriteBatches(defaults);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->name, "DummyBatch");
    EXPECT_EQ(EffectTables::favouriteStepName(*rows[1]->filtersArray[1]), "Add Sticker");
    EXPECT_EQ(EffectTables::favouriteStepName(*rows[1]->filtersArray[2]), "Add Image");

    // A switched-off step stays off after a reload.
    EXPECT_TRUE(FavouriteSteps::toggleStep(*rows[1], 0, defaults));
    EXPECT_FALSE(FavouriteSteps::toggleStep(*rows[1], 3, defaults));
    platform::UserDefaults reread(dir.filePath("d.plist"));
    rows = FavouriteSteps::loadFavouriteBatches(reread);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_FALSE(rows[1]->filtersArray[0]->isApplied);

    // Added steps are copies: editing them leaves the favourite alone.
    StepList batch = steps({"Resize"});
    EXPECT_EQ(FavouriteSteps::addEffects(*rows[1], batch), 3);
    EXPECT_EQ(namesOfSteps(batch), QStringList({"Resize", "CISepiaTone", "Zodiac", "Add Custom Image"}));
    batch[2]->isApplied = false;
    EXPECT_TRUE(rows[1]->filtersArray[1]->isApplied);

    EXPECT_TRUE(FavouriteSteps::deleteFavourite(*rows[1], reread));
    EXPECT_TRUE(FavouriteSteps::loadFavouriteBatches(reread).isEmpty());
}

TEST(EffectsScreen, MissingPhotoAlertAndCounts) {
    EXPECT_EQ(EffectsScreen::allPhotosDeletedAlert(1).title, "PHOTO DELETED");
    EXPECT_EQ(EffectsScreen::allPhotosDeletedAlert(1).message, "Photo no longer exists in the Source folder!");
    EXPECT_EQ(EffectsScreen::allPhotosDeletedAlert(3).title, "PHOTOS DELETED");
    EXPECT_EQ(EffectsScreen::allPhotosDeletedAlert(3).message, "Photos no longer exists in the Source folder!");

    EffectsScreen::PhotoList photos;
    for (const char* p : {"/a.jpg", "/gone.jpg", "/b.jpg", "/gone2.jpg"}) {
        auto f = std::make_shared<PhotoFile>();
        f->filePath = p;
        f->fileSizeInBytes = 1000;
        photos << f;
    }
    const auto exists = [](const QString& p) { return !p.contains("gone"); };
    EXPECT_EQ(EffectsScreen::missingPhotoRows(photos, exists), QList<int>({1, 3}));
    EXPECT_EQ(EffectsScreen::footerText(photos),
              QString("Batch Count: 4  |  Batch Size: %1  ").arg(CommonFunc::unitStringFromBytes(4000)));
    EXPECT_EQ(EffectsScreen::removeMissingPhotos(photos, exists), 2);
    EXPECT_EQ(photos.size(), 2);
}

// What the preview does as the screen appears, after the user was on another screen.
TEST(EffectsScreen, ThePreviewOnAppearingFollowsThePhotoAndTheWindowsSize) {
    using EffectsScreen::AppearingPreview;
    struct Case {
        const char* story;
        bool hasPhoto, photoChanged, readable, sizeChanged;
        AppearingPreview expected;
    };
    const Case cases[] = {
        {"another photo chosen", true, true, true, false, AppearingPreview::ReadPhoto},
        {"the window maximised meanwhile", true, false, true, true, AppearingPreview::ReadPhoto},
        {"both", true, true, true, true, AppearingPreview::ReadPhoto},
        {"nothing changed", true, false, true, false, AppearingPreview::Nothing},
        {"the photo's file gone, the window larger", true, true, false, true, AppearingPreview::TakeNewSize},
        {"the photo's file gone", true, true, false, false, AppearingPreview::Nothing},
        {"no photos, the window larger", false, false, false, true, AppearingPreview::TakeNewSize},
        {"no photos", false, true, false, false, AppearingPreview::Nothing},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EffectsScreen::previewOnAppearing(c.hasPhoto, c.photoChanged, c.readable, c.sizeChanged), c.expected)
            << c.story;
}

TEST(EffectsScreen, NewPhotoKeepsOrRebuildsTheEffect) {
    using EffectsScreen::ResetAction;
    EffectsScreen::ResetInputs in;
    in.effectChosen = true;
    in.currentFilterName = "CIBloom";
    in.containerSize = QSizeF(580, 387);
    EXPECT_EQ(EffectsScreen::resetActionFor(in), ResetAction::CarryOver);
    in.currentFilterName = "Resize";
    EXPECT_EQ(EffectsScreen::resetActionFor(in), ResetAction::RebuildFromDefaults);
    // A collapsed container cannot scale the user's values: the panel starts afresh.
    in.currentFilterName = "CIBloom";
    in.containerSize = QSizeF(0, 0);
    EXPECT_EQ(EffectsScreen::resetActionFor(in), ResetAction::RebuildFromDefaults);
    EXPECT_FALSE(EffectsScreen::carryOverParameters("CIBloom", QSizeF(0, 387), {}).has_value());
    in.editingStepInBatch = true;
    EXPECT_EQ(EffectsScreen::resetActionFor(in), ResetAction::OpenEditedStep);

    EffectsScreen::ResetInputs none;
    EXPECT_EQ(EffectsScreen::resetActionFor(none), ResetAction::Nothing);
    none.selectedImageChanged = true;
    EXPECT_EQ(EffectsScreen::resetActionFor(none), ResetAction::RenderAllSteps);
    none.favouriteShown = true;
    EXPECT_EQ(EffectsScreen::resetActionFor(none), ResetAction::ShowFavourite);

    // Carried values become fractions of the container.
    const auto carried = EffectsScreen::carryOverParameters(
        "Add Text", QSizeF(400, 200),
        testsupport::parameterList({{"rotatedRect", QVariant::fromValue(platform::Vec(40, 20, 200, 100))}}));
    ASSERT_TRUE(carried.has_value());
    const auto v = carried->at(0).toMap().value("rotatedRect").value<platform::Vec>();
    EXPECT_DOUBLE_EQ(v.X(), 0.1);
    EXPECT_DOUBLE_EQ(v.W(), 0.5);
}

TEST(OverlayPanels, ListsAndStartingValues) {
    const QStringList zodiac = OverlayPanels::stickerImages("Zodiac");
    ASSERT_EQ(zodiac.size(), 24);
    EXPECT_EQ(zodiac.first(), "Zodiac1.png");
    EXPECT_EQ(zodiac.last(), "Zodiac24.png");
    EXPECT_EQ(OverlayPanels::frameImages("Classic Frame").size(), 9);
    EXPECT_EQ(OverlayPanels::textureImages("Color Effect").last(), "Color16.jpg");
    EXPECT_TRUE(OverlayPanels::textureImages("Metal Effect").isEmpty());

    struct Width { double container, box; };
    for (const Width w : {Width{250, 190}, Width{300, 240}, Width{301, 300}, Width{580, 300}})
        EXPECT_EQ(OverlayPanels::textBoxWidth(w.container), w.box) << w.container;
    EXPECT_EQ(OverlayPanels::editedFontSize(12.3 / 440.0, 440.0), 12.5);

    const auto alpha = [](const QString& name) {
        return ParameterList::valueForKey(OverlayPanels::newTextParameters(name, 580), "alpha").toDouble();
    };
    EXPECT_EQ(alpha("Add Watermark"), 0.5);
    EXPECT_EQ(alpha("Add Text"), 1.0);
    EXPECT_EQ(alpha("Add Date"), 1.0);
    const QVariantList date = OverlayPanels::newTextParameters("Add Date", 580);
    EXPECT_EQ(ParameterList::valueForKey(date, "dateTimeOption").toString(), "Original Date & Time");
    EXPECT_EQ(ParameterList::valueForKey(date, "dateFormat").toString(), "MMM-DD-YY");
    EXPECT_EQ(ParameterList::valueForKey(date, "timeFormat").toString(), "AM/PM");
    EXPECT_EQ(OverlayPanels::alignmentButtonImages(2),
              QStringList({"text_left.png", "text_center_active.png", "text_right.png"}));
    EXPECT_TRUE(OverlayPanels::alignmentButtonImages(5).isEmpty());
}

TEST(OverlayPanels, DateBoxShowsTheDateTheOutputCarries) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.jpg");
    ASSERT_TRUE(platform::writeImageFile(path, testsupport::gradientImage(40, 30), platform::ImageType::JPEG, 0.9, {}));
    const QString expected =
        CommonFunc::getDateTimeStringForImageUrl(path, "Current Date", "MMM-DD-YY", "AM/PM");
    // An empty text (as a new date step has) and any other text both show the date.
    for (const QString& text : {QString(), QString("typed")}) {
        const auto s = OverlayPanels::textFieldState(
            "Add Date", testsupport::parameterList({{"text", text}, {"dateTimeOption", "Current Date"}}), path);
        EXPECT_EQ(s.text, expected);
        EXPECT_FALSE(s.text.isEmpty());
    }
    const auto t = OverlayPanels::textFieldState(
        "Add Text", testsupport::parameterList({{"text", "Hi"}, {"fontSize", 12.5}, {"alpha", 0.25}}), path);
    EXPECT_EQ(t.text, "Hi");
    EXPECT_EQ(t.fontSize, 12);
    EXPECT_NEAR(t.color.alphaF(), 0.25, 0.01);
}

TEST(TextBoxGeometry, ReportedFramesAtEachFlip) {
    TextBoxGeometry box(QSizeF(580, 440));
    box.setContainerFrame(QRectF(100, 50, 10, 10));
    box.fitToTextSize(QSizeF(90, 20));  // container 140 x 60, origin kept
    EXPECT_EQ(box.containerFrame(), QRectF(100, 50, 140, 60));
    struct Case { int turn; QRectF bounded, rotated; };
    // Centre (170, 80): a turn of 270 degrees stands the box up around it.
    const Case cases[] = {
        {0, QRectF(120, 70, 100, 20), QRectF(120, 70, 100, 20)},
        {180, QRectF(120, 70, 100, 20), QRectF(120, 70, 100, 20)},
        {270, QRectF(120, 70, 100, 20), QRectF(160, 30, 20, 100)},
    };
    for (const Case& c : cases) {
        if (c.turn == 180) box.setHorizontalFlip(true);
        if (c.turn == 270) box.setVerticalFlip(true);
        EXPECT_EQ(box.rotationDegrees(), c.turn);
        EXPECT_EQ(TextBoxGeometry::insetByMargin(box.updatedFrame()), c.bounded) << c.turn;
        EXPECT_EQ(TextBoxGeometry::insetByMargin(box.rotatedFrame()), c.rotated) << c.turn;
    }
    box.setHorizontalFlip(false);
    EXPECT_EQ(box.rotationDegrees(), 0);
}

TEST(TextBoxGeometry, DragKeepsTheCentreOverThePreview) {
    TextBoxGeometry box(QSizeF(300, 200));
    box.setContainerFrame(QRectF(10, 10, 100, 40));
    box.beginMove(QPointF(50, 30));
    EXPECT_TRUE(box.dragTo(QPointF(80, 60)));
    EXPECT_EQ(box.containerFrame().topLeft(), QPointF(40, 40));
    // Past the right edge: refused, and the box stays until the pointer comes back.
    EXPECT_FALSE(box.dragTo(QPointF(400, 60)));
    EXPECT_EQ(box.containerFrame().topLeft(), QPointF(40, 40));
    EXPECT_TRUE(box.dragTo(QPointF(90, 60)));
    EXPECT_EQ(box.containerFrame().topLeft(), QPointF(50, 40));
    box.endMove();
    EXPECT_FALSE(box.dragTo(QPointF(100, 60)));
}

TEST(PreviewLoader, TheLastPhotoChosenWins) {
    QTemporaryDir dir;
    QList<std::shared_ptr<PhotoFile>> photos;
    const QSize sizes[] = {QSize(120, 80), QSize(60, 90)};
    for (int i = 0; i < 2; ++i) {
        const QString path = dir.filePath(QString("p%1.jpg").arg(i));
        ASSERT_TRUE(platform::writeImageFile(path, testsupport::gradientImage(sizes[i].width(), sizes[i].height()),
                                             platform::ImageType::JPEG, 0.9, {}));
        photos << PhotoFile::initWithFileUrl(path, false);
    }
    // The jobs run when the test says, newest first, so the older load finishes last.
    std::deque<std::function<void()>> jobs;
    QObject context;
    PreviewLoader loader(&context, [&](std::function<void()> job) { jobs.push_back(std::move(job)); });
    QList<PhotoPreviewResult> delivered;
    loader.load(photos[0], QSizeF(580, 440), [&](const PhotoPreviewResult& r) { delivered << r; });
    loader.load(photos[1], QSizeF(580, 440), [&](const PhotoPreviewResult& r) { delivered << r; });
    ASSERT_EQ(jobs.size(), 2u);
    jobs.back()();
    jobs.front()();
    QCoreApplication::processEvents();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(delivered[0].path, photos[1]->filePath);
    EXPECT_TRUE(delivered[0].loaded);
    EXPECT_EQ(delivered[0].original.size(), QSize(293, 440));

    // No current photo: a failed load, still reported.
    loader.load(nullptr, QSizeF(580, 440), [&](const PhotoPreviewResult& r) { delivered << r; });
    QCoreApplication::processEvents();
    ASSERT_EQ(delivered.size(), 2);
    EXPECT_FALSE(delivered[1].loaded);
}

// ---- what the preview draws while a step is set up or edited ----

TEST(StepEditing, LayersUnderAndOverTheEffectBeingSetUp) {
    const StepList batch = steps({"Black & White", "Add Text", "RGB Adjust", "CICrop", "CISepiaTone"});
    const StepList favourite = steps({"CIPixellate"});
    struct Case {
        const char* title;
        std::shared_ptr<AppliedFilter> edited;
        QStringList below, above;
    } cases[] = {
        {"a new effect: over every step and the favourite's", nullptr,
         {"Black & White", "Add Text", "RGB Adjust", "CICrop", "CISepiaTone", "CIPixellate"}, {}},
        {"the first step: the later ones over it, up to the crop", batch[0], {}, {"Add Text", "RGB Adjust"}},
        {"a middle step", batch[2], {"Black & White", "Add Text"}, {}},
        {"the crop itself", batch[3], {"Black & White", "Add Text", "RGB Adjust"}, {"CISepiaTone"}},
        {"a step no longer in the batch counts as none", step("Gone"),
         {"Black & White", "Add Text", "RGB Adjust", "CICrop", "CISepiaTone", "CIPixellate"}, {}},
    };
    for (const Case& c : cases) {
        const auto layers = StepEditing::layersFor(batch, c.edited, favourite);
        EXPECT_EQ(namesOfSteps(layers.below), c.below) << c.title;
        EXPECT_EQ(namesOfSteps(layers.above), c.above) << c.title;
    }
    // A crop that is switched off changes nothing, so the steps after it are drawn too.
    batch[3]->isApplied = false;
    EXPECT_EQ(namesOfSteps(StepEditing::layersFor(batch, batch[2], {}).above), QStringList({"CICrop", "CISepiaTone"}));
}

TEST(StepEditing, AnEditedStepKeepsWhatTheUserDidNotChange) {
    const QVariantList stored = testsupport::parameterList(
        {{"text", QString("Brisko")}, {"fontSize", 0.0682}, {"boundedRect", QVariant::fromValue(Vec(0.1, 0.2, 0.5, 0.1))}});
    const QVariantList panel = testsupport::parameterList(
        {{"text", QString("Brisko")}, {"fontSize", 0.068}, {"boundedRect", QVariant::fromValue(Vec(0.1, 0.2, 0.7, 0.1))},
         {"alpha", 0.4}});
    EXPECT_EQ(StepEditing::editedParameters(stored, panel, {}), stored) << "nothing changed, nothing written";
    const QVariantList written = StepEditing::editedParameters(stored, panel, {"alpha", "text"});
    EXPECT_EQ(ParameterList::valueForKey(written, "fontSize").toDouble(), 0.0682);
    EXPECT_EQ(ParameterList::valueForKey(written, "boundedRect").value<Vec>(), Vec(0.1, 0.2, 0.5, 0.1));
    EXPECT_EQ(ParameterList::valueForKey(written, "alpha").toDouble(), 0.4) << "a changed key the step lacked is added";
    // A step stored with its strengths the old way is brought to today's form with a change.
    const QVariantList old = testsupport::parameterList({{"inputFalloff", 0.5 / 580}, {"inputRadius", 0.4}});
    const QVariantList vignette = StepEditing::editedParameters(
        old, testsupport::parameterList({{"inputFalloff", 0.5}, {"inputRadius", 0.3}}), {"inputRadius"});
    EXPECT_NEAR(ParameterList::valueForKey(vignette, "inputFalloff").toDouble(), 0.5, 1e-12);
    EXPECT_EQ(ParameterList::valueForKey(vignette, "inputRadius").toDouble(), 0.3);
}

TEST(OverlayPanels, FontSizeKeptWhenTypingEnds) {
    const std::pair<const char*, int> cases[] = {{"5", 8}, {"7", 8}, {"8", 8}, {"24", 24}, {"", 8}, {"x", 8}, {" 30 ", 30}};
    for (const auto& [typed, kept] : cases) EXPECT_EQ(OverlayPanels::committedFontSize(typed), kept) << typed;
}

// ---- the preview's zoom ----

TEST(PreviewZoom, ThePointUnderThePointerStaysAndThePictureCoversItsBox) {
    const QSizeF box(400, 300);
    PreviewZoom zoom;
    EXPECT_EQ(zoom.pictureRect(box), QRectF(0, 0, 400, 300));
    EXPECT_FALSE(zoom.zoomBy(0.5, {200, 150}, box)) << "never smaller than the fitted photo";
    // Two notches at a point right of the middle: that point of the picture stays put.
    const QPointF anchor(300, 150);
    ASSERT_TRUE(zoom.zoomBy(PreviewZoom::ratioForWheel(240), anchor, box));
    EXPECT_DOUBLE_EQ(zoom.factor(), 1.5625);
    const QRectF r = zoom.pictureRect(box);
    EXPECT_NEAR((anchor.x() - r.x()) / zoom.factor(), 300.0, 1e-9);
    // Zoomed at a corner, the picture still covers the box.
    zoom.zoomBy(1.0 / 1.5625, {0, 0}, box);
    zoom.zoomBy(2.0, {400, 300}, box);
    const QRectF corner = zoom.pictureRect(box);
    EXPECT_TRUE(corner.contains(QRectF(QPointF(0, 0), box)));
    for (int i = 0; i < 20; ++i) zoom.zoomBy(PreviewZoom::kStep, {10, 10}, box);
    EXPECT_DOUBLE_EQ(zoom.factor(), PreviewZoom::kMaximum);
    EXPECT_EQ(PreviewZoom::label(1.25), "Zoom: 125 %");
    EXPECT_FALSE(PreviewZoom::labelShown(1.0));
    EXPECT_TRUE(PreviewZoom::labelShown(1.25));
    zoom.reset();
    EXPECT_EQ(zoom.pictureRect(box), QRectF(0, 0, 400, 300));
}
