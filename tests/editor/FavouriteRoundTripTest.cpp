// A favourite kept over a restart previews what it writes: every effect of the catalogue set
// up as a user would, added and saved as a favourite of its own; the program started again;
// each favourite chosen and its steps added to the batch. The preview, while the favourite
// is shown and once its steps are the batch's, looks like the photo the batch writes, scaled
// back to the preview's size.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTemporaryDir>

#include "records/FavouriteAdder.h"
#include "tests/editor/PreviewAgainstOutput.h"
#include "tests/support/ImageFixtures.h"

using fxtest::Screen;

TEST(FavouriteRoundTrip, EveryCatalogueEffectSavedRestartedAndAppliedPreviewsWhatItWrites) {
    Screen s({QSize(1740, 1320)});
    ASSERT_TRUE(testsupport::softPhoto(1740, 1320).save(s.paths[0]));
    s.screen->selectedPhotoChanged();
    s.settle();
    const QString logo = s.dir.filePath("logo.png");
    testsupport::softPhoto(120, 90).save(logo);
    AppDelegate& app = AppDelegate::shared();

    // The first session: each effect becomes a step, saved alone as a favourite named after it.
    QStringList saved;
    for (const auto& record : fxtest::catalogueEffects()) {
        SCOPED_TRACE(record->filterName.toStdString());
        fxtest::setUpAsAUserWould(s, *record, logo);
        static_cast<ManualOneShotScheduler&>(s.vc->scheduler()).fire();
        s.settle();
        s.commit();
        ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
        ASSERT_TRUE(favouriteadder::addFavourite(record->filterName, app.arrayAppliedFilters).added);
        saved << record->filterName;
        s.stepButton(0, StepDelegate::Remove);
        ASSERT_TRUE(app.arrayAppliedFilters.isEmpty());
    }
    ASSERT_GE(saved.size(), 45);

    s.restart();
    ASSERT_EQ(s.vc->imageToEdit().size(), QSize(580, 440));
    CategoryTableModel* categories = s.screen->categoryModel();
    for (const QString& name : saved) {
        SCOPED_TRACE(name.toStdString());
        const int row = s.categoryRow([&](int r) { return categories->favouriteAt(r) && categories->favouriteAt(r)->name == name; });
        ASSERT_GE(row, 0) << "the favourite was read back";
        s.click(s.screen->tblFilterCategories(), row);
        ASSERT_TRUE(s.screen->btnAddEffectsOnFav()->isVisible());
        const QImage shown = s.vc->shownImage();
        QTest::mouseClick(s.screen->btnAddEffectsOnFav(), Qt::LeftButton);
        s.settle();
        ASSERT_EQ(s.stepNames(), QStringList{name});
        const QImage added = s.vc->shownImage();

        QTemporaryDir out;
        const QImage written = fxtest::runOnePhoto(s.paths[0], out.path(), app.arrayAppliedFilters);
        ASSERT_FALSE(written.isNull());
        s.stepButton(0, StepDelegate::Remove);
        ASSERT_TRUE(app.arrayAppliedFilters.isEmpty());

        const std::pair<const char*, QImage> previews[] = {{"the favourite shown", shown}, {"its steps added", added}};
        for (const auto& [when, preview] : previews) {
            SCOPED_TRACE(when);
            const QImage back = written.scaled(preview.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double db = fxtest::psnr(back, preview);
            EXPECT_GE(db, fxtest::leastPreviewMatch(name));
            if (qEnvironmentVariableIsSet("BRISKO_PSNR")) printf("%-28s %-20s %.1f dB\n", qPrintable(name), when, db);
        }
    }
}
