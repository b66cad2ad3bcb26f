// The effects screen over photos that another program (a sync client) cuts short and
// writes again while the screen reads them: real files of each kind, cut at a known moment
// of the read through the readers' hook.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include "editor/ui/PhotoStrip.h"
#include "engine/Utils.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Paths.h"
#include "tests/editor/EffectsScreenFixture.h"
#include "tests/support/PhotoSamples.h"

namespace {

// The screen over a photo that reads (photo0.png) followed by one of each kind.
struct CutPhotosScreen : fxtest::Screen {
    QStringList cut;
    QHash<QString, QByteArray> whole;

    CutPhotosScreen() : fxtest::Screen({QSize(640, 480)}) {
        static const QList<testsupport::PhotoOfAKind> kinds = testsupport::photosOfEachKind();
        AppDelegate& app = AppDelegate::shared();
        for (const auto& kind : kinds) {
            cut << testsupport::writeFile(dir.filePath(kind.fileName), kind.bytes);
            whole.insert(cut.last(), kind.bytes);
            app.arraySelectedImagesToProcess << PhotoFile::initWithFileUrl(cut.last(), false);
        }
        strip()->setGridLayout();
        // Every tile's thumbnail made, as scrolling along the strip makes them.
        for (int i = 0; i < app.arraySelectedImagesToProcess.size(); ++i) {
            strip()->collectionView()->scrollToItemAtIndexPath({0, i}, CollectionView::ScrollNearest);
            strip()->loadVisibleThumbnails();
        }
        settle();
    }
    PhotoStrip* strip() const { return screen->photoStrip(); }
    std::function<void(const QString&)> cutter(const QString& victim) const {
        return [victim](const QString& path) {
            if (path == victim) testsupport::cutToFirstPage(path);
        };
    }
    void clickStripTile(int index) {
        CollectionView* view = strip()->collectionView();
        view->scrollToItemAtIndexPath({0, index}, CollectionView::ScrollNearest);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->rectForItemAtIndexPath({0, index}).toRect().center() - view->documentVisibleRect().topLeft());
        settle();
    }
};

}  // namespace

TEST(PhotosCutWhileRead, PreviewKeepsThePhotoShownAndTheStripMarksTheOneThatCouldNotBeRead) {
    CutPhotosScreen s;
    AppDelegate& app = AppDelegate::shared();
    ASSERT_EQ(s.screen->lblImageName()->text(), "photo0.png");
    for (int i = 1; i <= 4; ++i) {
        const QString& photo = s.cut[i - 1];
        SCOPED_TRACE(photo.toStdString());
        const QImage shown = s.screen->originalImage();
        s.screen->setSourceReadHook(s.cutter(photo));
        s.clickStripTile(i);
        EXPECT_EQ(app.selectedImageIndex, i);
        EXPECT_EQ(s.screen->lblImageName()->text(), "photo0.png") << "the photo shown stays";
        EXPECT_EQ(s.screen->originalImage().cacheKey(), shown.cacheKey());
        EXPECT_TRUE(app.isSELECTED_IMAGE_CHANGED) << "the next showing tries again";
        EXPECT_TRUE(s.strip()->isMarked(i));
        EXPECT_FALSE(s.strip()->cachedThumbnail(photo).isNull()) << "the mark goes over the thumbnail it had";
        s.screen->setSourceReadHook(nullptr);
        ASSERT_TRUE(QFile::exists(photo));
        s.clickStripTile(0);
    }
    // Written whole again by the sync client: the next load shows each, and the strip lifts
    // the mark and makes its thumbnail again.
    for (int i = 1; i <= 4; ++i) {
        const QString& photo = s.cut[i - 1];
        SCOPED_TRACE(photo.toStdString());
        testsupport::writeFile(photo, s.whole.value(photo));
        s.clickStripTile(i);
        EXPECT_EQ(s.screen->lblImageName()->text(), platform::lastPathComponent(photo));
        EXPECT_FALSE(s.screen->originalImage().isNull());
        EXPECT_FALSE(app.isSELECTED_IMAGE_CHANGED);
        EXPECT_FALSE(s.strip()->isMarked(i));
        EXPECT_FALSE(s.strip()->cachedThumbnail(photo).isNull());
    }
    EXPECT_EQ(app.arraySelectedImagesToProcess.size(), 5);
}

TEST(PhotosCutWhileRead, StripThumbnailsCutWhileReadAreMarkedAndMadeAgainOnceTheFileChanged) {
    CutPhotosScreen s;
    platform::DecodeOptions reading;
    QStringList made;
    s.strip()->setMaker([&](const QString& path, QSize size) {
        made << path;
        return Utils::sharedUtils().getThumbnailImageAtFilePath(path, QSizeF(size), reading);
    });
    // The strip scrolled from end to end, its tiles' thumbnails asked for as they come, until
    // a scroll reads nothing more; the files read.
    const auto scrollUntilSettled = [&] {
        made.clear();
        for (qsizetype before = -1; made.size() != before;) {
            before = made.size();
            for (int i = 0; i <= 4; ++i) {
                s.strip()->collectionView()->scrollToItemAtIndexPath({0, i}, CollectionView::ScrollNearest);
                s.strip()->loadVisibleThumbnails();
                s.settle();
            }
        }
        return made;
    };
    scrollUntilSettled();
    EXPECT_TRUE(scrollUntilSettled().isEmpty()) << "the thumbnails made of the files as they are are kept";

    // The files change, and are cut while their thumbnails are read. A read that found its
    // file cut is tried once more, as the cut changed the file; the short file it then
    // finds is not read again.
    reading.whileOpen = [&](const QString& path) {
        if (s.cut.contains(path)) testsupport::cutToFirstPage(path);
    };
    for (const QString& photo : s.cut)
        ASSERT_TRUE(platform::setModificationDate(photo, QDateTime::currentDateTime().addSecs(60)));
    const QStringList cutReads = scrollUntilSettled();
    EXPECT_FALSE(cutReads.contains(s.paths[0]));
    EXPECT_FALSE(s.strip()->isMarked(0));
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(s.cut[i - 1].toStdString());
        EXPECT_EQ(cutReads.count(s.cut[i - 1]), 2);
        EXPECT_TRUE(s.strip()->isMarked(i));
        EXPECT_TRUE(s.strip()->cachedThumbnail(s.cut[i - 1]).isNull());
    }

    // Written whole again: read once more, and shown.
    reading.whileOpen = nullptr;
    for (const QString& photo : s.cut) testsupport::writeFile(photo, s.whole.value(photo));
    const QStringList wholeReads = scrollUntilSettled();
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(s.cut[i - 1].toStdString());
        EXPECT_EQ(wholeReads.count(s.cut[i - 1]), 1);
        EXPECT_FALSE(s.strip()->isMarked(i));
        EXPECT_FALSE(s.strip()->cachedThumbnail(s.cut[i - 1]).isNull());
    }
}

// Shown whole, then cut by another program before a resize is set up: the resize starts
// from the photo's own size, also when what is left of the file no longer says it.
TEST(PhotosCutWhileRead, AResizeSetUpWhileThePhotoIsCutStartsFromItsOwnSize) {
    CutPhotosScreen s;
    for (int i = 1; i <= 4; ++i) {
        const QString& photo = s.cut[i - 1];
        SCOPED_TRACE(photo.toStdString());
        s.clickStripTile(i);
        ASSERT_EQ(s.screen->lblImageName()->text(), platform::lastPathComponent(photo));
        ASSERT_TRUE(testsupport::cutToFirstPage(photo));
        s.click(s.screen->tblFilterCategories(), s.basicRow("Rotate"));
        s.click(s.screen->tblFilterCategories(), s.basicRow("Resize"));
        EXPECT_EQ(s.vc->txtWidth()->text(), "640");
        EXPECT_EQ(s.vc->txtHeight()->text(), "480");
        testsupport::writeFile(photo, s.whole.value(photo));
    }
}
