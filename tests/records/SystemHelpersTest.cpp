#include <gtest/gtest.h>

#include "records/CommonFunc.h"
#include "records/PhotoFile.h"
#include "records/Reachability.h"
#include "records/SubWindowHold.h"
#include "records/ViewHelpers.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QNetworkInformation>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

TEST(SystemHelpers, RawPredicateKnowsCameraFormatsInAnyCase) {
    const struct {
        const char* name;
        bool raw;
    } cases[] = {
        {"IMG_0001.CR2", true}, {"shot.nef", true},   {"shot.Arw", true},  {"scan.dng", true},
        {"x.RAF", true},        {"x.orf", true},      {"x.rw2", true},     {"x.cr3", true},
        {"x.pef", true},        {"x.srw", true},      {"photo.jpg", false}, {"photo.JPEG", false},
        {"photo.png", false},   {"photo.tiff", false}, {"noext", false},   {".nef", false},
        {"nef", false},         {"archive.nef.zip", false},
    };
    const auto isRaw = CommonFunc::predicateForRawImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/photos/") + QString::fromLatin1(c.name);
        EXPECT_EQ(CommonFunc::isImageRaw(path), c.raw);
        PhotoFile photo;
        photo.filePath = path;
        photo.fileExtension = QFileInfo(path).suffix();
        if (QString::fromLatin1(c.name).startsWith(u'.')) photo.fileExtension.clear();
        EXPECT_EQ(isRaw(photo), c.raw);
    }
    // A set of its own: only what it names counts.
    PhotoFile jpeg;
    jpeg.fileExtension = QStringLiteral("JPG");
    EXPECT_TRUE(CommonFunc::predicateForRawImage({QStringLiteral("jpg")})(jpeg));
    EXPECT_FALSE(CommonFunc::predicateForRawImage({QStringLiteral("nef")})(jpeg));
}

TEST(SystemHelpers, ConnectivityAsksUpToThreeTimes) {
    const struct {
        std::vector<reachability::State> answers;
        bool connected;
        int asked;
    } cases[] = {
        {{reachability::State::Online}, true, 1},
        {{reachability::State::Offline, reachability::State::Unknown, reachability::State::Online}, true, 3},
        {{reachability::State::Offline, reachability::State::Offline, reachability::State::Offline}, false, 3},
        {{reachability::State::Unknown, reachability::State::Unknown, reachability::State::Unknown}, false, 3},
    };
    for (const auto& c : cases) {
        int asked = 0;
        const bool connected = CommonFunc::isInternetConnected([&] { return c.answers[size_t(asked++)]; });
        EXPECT_EQ(connected, c.connected);
        EXPECT_EQ(asked, c.asked);
    }
}

TEST(SystemHelpers, ConnectivityReadsQtsNetworkInformation) {
    // Absent: a backend that does not exist tells nothing, and the check says offline.
    EXPECT_EQ(reachability::currentState(QStringLiteral("no-such-backend")), reachability::State::Unknown);
    EXPECT_FALSE(CommonFunc::isInternetConnected([] { return reachability::currentState(QStringLiteral("no-such-backend")); }));

    // Present: whatever the machine's state, the answer is the backend's own.
    const QStringList backends = QNetworkInformation::availableBackends();
    if (backends.isEmpty()) GTEST_SKIP() << "no network information backend on this machine";
    const QString backend = backends.first();
    const reachability::State state = reachability::currentState(backend);
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!info) GTEST_SKIP() << "backend " << backend.toStdString() << " does not load here";
    EXPECT_EQ(info->backendName().toLower(), backend.toLower());
    const auto r = info->reachability();
    const reachability::State expected = r == QNetworkInformation::Reachability::Online    ? reachability::State::Online
                                         : r == QNetworkInformation::Reachability::Unknown ? reachability::State::Unknown
                                                                                            : reachability::State::Offline;
    EXPECT_EQ(state, expected);
    EXPECT_EQ(CommonFunc::isInternetConnected([&] { return reachability::currentState(backend); }),
              expected == reachability::State::Online);
}

TEST(SystemHelpers, RunningProgramsAreFoundByNameInAnyCase) {
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    ASSERT_FALSE(self.isEmpty());
    EXPECT_TRUE(CommonFunc::checkAppOpen(self.toLower()));
    EXPECT_TRUE(CommonFunc::checkAppOpen(self.toUpper()));
    EXPECT_FALSE(CommonFunc::checkAppOpen(QStringLiteral("no.such.program.running")));
    EXPECT_FALSE(CommonFunc::checkAppOpen(QString()));
}

TEST(SystemHelpers, ThumbnailPathsStayInTheCacheFolder) {
    const QString folder = CommonFunc::thumbnailCacheFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_EQ(CommonFunc::getThumbFilePath(QStringLiteral("a.png")), folder + QStringLiteral("/a.png"));
    EXPECT_EQ(CommonFunc::getThumbFilePath(QStringLiteral("../../etc/passwd")), folder + QStringLiteral("/passwd"));
    EXPECT_EQ(CommonFunc::getThumbFilePath(QStringLiteral("/abs/b.jpg")), folder + QStringLiteral("/b.jpg"));
    for (const char* bad : {"", "..", ".", "/"}) EXPECT_EQ(CommonFunc::getThumbFilePath(QString::fromLatin1(bad)), QString()) << bad;
}

TEST(SystemHelpers, PicturesLoadAndTurnByAQuarter) {
    QTemporaryDir dir;
    const QImage quad = testsupport::quadrantImage(40, 20);  // TL red, TR green, BL blue, BR white
    const QString path = dir.filePath(QStringLiteral("q.png"));
    ASSERT_TRUE(quad.save(path));
    const QImage loaded = CommonFunc::getImageForFilePath(path);
    ASSERT_EQ(loaded.size(), QSize(40, 20));
    EXPECT_EQ(loaded.pixelColor(5, 5), QColor(Qt::red));
    EXPECT_TRUE(CommonFunc::getImageForFilePath(dir.filePath(QStringLiteral("missing.png"))).isNull());

    const QImage cw = CommonFunc::bwRotateImage90DegreesClockwise(true, loaded);
    ASSERT_EQ(cw.size(), QSize(20, 40));
    EXPECT_EQ(cw.pixelColor(15, 5), QColor(Qt::red));    // top-left went to top-right
    EXPECT_EQ(cw.pixelColor(5, 5), QColor(Qt::blue));    // bottom-left went to top-left
    const QImage ccw = CommonFunc::bwRotateImage90DegreesClockwise(false, loaded);
    EXPECT_EQ(ccw.pixelColor(5, 35), QColor(Qt::red));   // top-left went to bottom-left
    EXPECT_EQ(CommonFunc::bwRotateImage90DegreesClockwise(false, cw).pixelColor(5, 5), QColor(Qt::red));
}

TEST(ViewHelpers, ButtonColourAndColumnTitles) {
    QPushButton button(QStringLiteral("Go"));
    button.setCheckable(true);
    ViewHelpers::changeButtonTextColor(&button, QColor(Qt::red));
    EXPECT_EQ(button.palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::red));
    button.setChecked(true);  // the "on" title shares the colour
    EXPECT_EQ(button.palette().color(QPalette::Inactive, QPalette::ButtonText), QColor(Qt::red));
    ViewHelpers::changeButtonTextColor(nullptr, QColor(Qt::red));

    QStandardItemModel model(2, 3);
    QTableView table;
    table.setModel(&model);
    ViewHelpers::setTitleForColumnHeader(QStringLiteral("Size"), 1, &table);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size"));
    ViewHelpers::setTitleForColumnHeader(QStringLiteral("Nope"), 3, &table);  // no fourth column
    ViewHelpers::setTitleForColumnHeader(QStringLiteral("Nope"), -1, &table);
    EXPECT_NE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Nope"));
    ViewHelpers::setTitleForColumnHeader(QStringLiteral("x"), 0, nullptr);
}

TEST(SubWindowHold, OneCountForEveryHolderOfAFlag) {
    std::atomic<bool> flag{false};
    {
        SubWindowHold screen(flag), sheet(flag);
        screen.acquire();
        sheet.acquire();
        sheet.acquire();
        EXPECT_EQ(SubWindowHold::holdsOn(flag), 3);
        sheet.release();
        sheet.release();
        sheet.release();  // nothing more to let go of
        EXPECT_TRUE(flag) << "the screen still holds it";
        EXPECT_EQ(sheet.owners(), 0);
        sheet.acquire();
    }  // holders let go of what they hold when they go
    EXPECT_FALSE(flag);
    EXPECT_EQ(SubWindowHold::holdsOn(flag), 0);
}
