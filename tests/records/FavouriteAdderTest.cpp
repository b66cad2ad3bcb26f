#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "records/AppliedFilter.h"
#include "records/FavouriteAdder.h"
#include "records/SavedState.h"

namespace {

std::shared_ptr<AppliedFilter> step(const QString& name) {
    auto s = std::make_shared<AppliedFilter>();
    s->filterName = name;
    s->filterAppliedImage = QImage(4, 4, QImage::Format_RGB32);
    return s;
}

}  // namespace

TEST(FavouriteAdder, NameChecksInOrderAndTheStoredList) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.plist"));
    int posted = 0;
    QObject observer;
    platform::NotificationCenter::defaultCenter().addObserver(
        platform::notifications::NewFavBatchAdded, [&](const auto&) { ++posted; }, platform::DeliverOn::PostingThread,
        &observer);
    const QList<std::shared_ptr<AppliedFilter>> one{step("Sepia")};
    const QList<std::shared_ptr<AppliedFilter>> two{step("Sepia"), step("Blur")};
    using namespace favouriteadder;
    const struct {
        const char* name;
        QList<std::shared_ptr<AppliedFilter>> steps;
        bool added;
        QString message;
    } rows[] = {
        {"", one, false, EmptyName},
        {"   ", one, false, EmptyName},
        {"***", one, false, InvalidName},
        {" !? ", one, false, InvalidName},
        {"Sepia Look", two, true, "* Batch Steps added to Favorites successfully."},
        {"sepia look", one, false, DuplicateName},
        {"SepiaLook", one, true, "* Batch Step added to Favorites successfully."},
        {"#1", one, true, "* Batch Step added to Favorites successfully."},
        {"a_b|c", one, true, "* Batch Step added to Favorites successfully."},
    };
    for (const auto& row : rows) {
        const Outcome outcome = addFavourite(row.name, row.steps, QDateTime::currentDateTime(), defaults);
        EXPECT_EQ(outcome.added, row.added) << row.name;
        EXPECT_EQ(outcome.message, row.message) << row.name;
    }
    platform::NotificationCenter::defaultCenter().removeObservers(&observer);
    EXPECT_EQ(posted, 4);
    const auto stored = Favorites::favouriteBatches(defaults);
    ASSERT_EQ(stored.size(), 4);
    EXPECT_EQ(stored[0]->name, "Sepia Look") << "kept as typed, blank included";
    EXPECT_EQ(stored[0]->filtersArray.size(), 2);
}

TEST(FavouriteAdder, FavouriteStepsLoseThumbnailsButTheBatchKeepsItsOwn) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.plist"));
    const QList<std::shared_ptr<AppliedFilter>> batch{step("Sepia")};
    ASSERT_TRUE(favouriteadder::addFavourite("Mine", batch, QDateTime::currentDateTime(), defaults).added);
    EXPECT_FALSE(batch[0]->filterAppliedImage.isNull()) << "the batch on screen keeps its result thumbnail";
    const auto stored = Favorites::favouriteBatches(defaults);
    ASSERT_EQ(stored.size(), 1);
    ASSERT_EQ(stored[0]->filtersArray.size(), 1);
    EXPECT_TRUE(stored[0]->filtersArray[0]->filterAppliedImage.isNull());
    EXPECT_EQ(stored[0]->filtersArray[0]->filterName, "Sepia");
}
