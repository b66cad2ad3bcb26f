// A user's own picture on an effect step, saved as a favourite and as the session, read
// back by a later run of the program and drawn into an output. The later run is a real
// second process: this test binary started again with the folder in its environment.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <iostream>

#include "engine/Utils.h"
#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/CustomPicture.h"
#include "records/FavouriteAdder.h"
#include "records/ParameterList.h"
#include "records/SavedState.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace {

const char* const kReopenFolder = "BRISKO_TEST_REOPEN_FOLDER";
const QString kSettings = QStringLiteral("/BriskoPhotos.plist");
const QSize kPhoto(600, 400);
// The box covers the middle of the photo: a 200-pixel square at (150, 100) from the top left.
const platform::Vec kSavedBox(0.25, 0.25, 0.5, 0.5);
const QColor kGrey(128, 128, 128);

// A 24 MP picture: red on the left half, blue on the right.
QImage userPicture() {
    QImage picture(6000, 4000, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QPainter p(&picture);
    p.fillRect(3000, 0, 3000, 4000, Qt::blue);
    p.end();
    return picture;
}

QImage greyPhoto() {
    QImage photo(kPhoto, QImage::Format_RGB32);
    photo.fill(kGrey);
    return photo;
}

// Equal within what the JPEG of the chosen file changes.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6 && std::abs(a.blue() - b.blue()) <= 6;
}

QImage pictureOf(const AppliedFilter& step) {
    return ParameterList::valueForKey(step.filterParameters, QStringLiteral("imageToAdd")).value<QImage>();
}

// The later run: reads the favourite and the session and draws each one's step.
class ReopenedInAnotherProcess : public ::testing::Test {
public:
    void TestBody() override {
        const QString folder = qEnvironmentVariable(kReopenFolder);
        platform::UserDefaults defaults(folder + kSettings);
        const auto favourites = Favorites::favouriteBatches(defaults);
        ASSERT_EQ(favourites.size(), 1);
        ASSERT_EQ(favourites[0]->filtersArray.size(), 1);
        const auto session = SavedState::loadProjectSession(defaults);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->arrayAppliedFilters.size(), 1);
        EXPECT_TRUE(defaults.takeKeptAsideNotices().isEmpty());  // everything read whole
        const std::pair<const char*, std::shared_ptr<AppliedFilter>> steps[] = {
            {"favourite", favourites[0]->filtersArray[0]}, {"session", session->arrayAppliedFilters[0]}};
        for (const auto& [name, step] : steps) {
            SCOPED_TRACE(name);
            EXPECT_EQ(pictureOf(*step).size(), QSize(4096, 2731));
            const QImage output = Utils::sharedUtils().applyFilterWithImage(greyPhoto(), QString(), step->filterName,
                                                                            step->filterParameters, false);
            ASSERT_TRUE(output.save(folder + "/" + name + ".png"));
        }
    }
};

const bool kReopenedRunRegistered = [] {
    if (qEnvironmentVariableIsEmpty(kReopenFolder)) return false;
    ::testing::RegisterTest("SavedPictureReopened", "DrawsTheSteps", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new ReopenedInAnotherProcess; });
    return true;
}();

}  // namespace

TEST(SavedCustomPicture, AFavouriteAndASessionWithA24MPPictureDrawItInALaterRun) {
    BRISKO_STARTS_A_PROCESS();
    if (kReopenedRunRegistered) GTEST_SKIP() << "this is the later run";
    QElapsedTimer clock;
    clock.start();
    QTemporaryDir dir;
    const QString chosen = dir.filePath(QStringLiteral("own picture.jpg"));
    ASSERT_TRUE(userPicture().save(chosen, "JPG", 90));

    // The effects screen's "Add Custom Image" step with the chosen file's picture.
    const QImage picture = CustomPicture::pictureForStep(chosen);
    ASSERT_FALSE(picture.isNull());
    auto step = AppliedFilter::initWithFilterName(
        QStringLiteral("Add Custom Image"), QStringLiteral("Add Custom Image"),
        testsupport::parameterList({{"imageToAdd", picture},
                                    {"imageName", QStringLiteral("own picture.jpg")},
                                    {"boundedRect", QVariant::fromValue(kSavedBox)},
                                    {"rotatedRect", QVariant::fromValue(kSavedBox)},
                                    {"Opacity", 1.0},
                                    {"angle", 0.0},
                                    {"flipHorizontally", false},
                                    {"flipVertically", false}}),
        QImage(), nullptr);

    {
        platform::UserDefaults defaults(dir.path() + kSettings);
        ASSERT_TRUE(favouriteadder::addFavourite(QStringLiteral("Framed"), {step}, QDateTime::currentDateTime(), defaults).added);
        AppDelegate& app = AppDelegate::shared();
        app.arrayAppliedFilters = {step};
        const bool saved = SavedState::saveProjectSessionToDefault(app, defaults);
        app.resetToLaunchValues();
        ASSERT_TRUE(saved);
    }

    QProcess later;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kReopenFolder), dir.path());
    later.setProcessEnvironment(env);
    later.setProcessChannelMode(QProcess::MergedChannels);
    later.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SavedPictureReopened.*")});
    ASSERT_TRUE(later.waitForFinished(120000));
    const QByteArray said = later.readAll();
    ASSERT_EQ(later.exitCode(), 0) << said.toStdString();
    ASSERT_TRUE(said.contains("[  PASSED  ] 1 test")) << said.toStdString();

    for (const char* name : {"favourite", "session"}) {
        SCOPED_TRACE(name);
        const QImage output(dir.filePath(QString::fromLatin1(name) + ".png"));
        ASSERT_EQ(output.size(), kPhoto);
        // The picture's two halves inside the box, the photo around it.
        EXPECT_TRUE(near(output.pixelColor(200, 200), Qt::red));
        EXPECT_TRUE(near(output.pixelColor(300, 200), Qt::blue));
        for (QPoint outside : {QPoint(140, 200), QPoint(360, 200), QPoint(250, 90), QPoint(250, 310)})
            EXPECT_EQ(output.pixelColor(outside), kGrey) << outside.x() << "," << outside.y();
    }
    std::cout << "saved and reopened in " << clock.elapsed() << " ms\n";
}
