// A crafted camera raw file added with photos around it: the raw library dies on it in
// the decoder helper while the screen reads its header, and the screen goes on, refuses
// that file by name and adds the others, whose pictures show.
#include <QTest>
#include <gtest/gtest.h>

#include "import/ui/ScreenImages.h"
#include "tests/import/AddPhotosScreenFixture.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/PhotoSamples.h"

using addphotostest::AddPhotosScreenTest;

TEST_F(AddPhotosScreenTest, ARawFileThatAbortsItsReaderIsRefusedAndTheOthersAreAdded) {
    const QString good = intakefixtures::photo(path("crafted/good.jpg"));
    const QString dng =
        testsupport::writeFile(path("crafted/photo.dng"), testsupport::makeDng(testsupport::patchScene(200, 100)));
    testsupport::writeFile(path("crafted/model.3fr"),
                           testsupport::sourceBytes("bench/fuzz/corpus/read_only_formats/raw_libraw_model_abort.3fr"));
    add({path("crafted")});

    EXPECT_EQ(batchPaths(), (QStringList{good, dng}));
    EXPECT_EQ(screen->alertTitle(), "FILE CANNOT BE ADDED");
    EXPECT_TRUE(screen->alertMessage().contains("\nmodel.3fr")) << screen->alertMessage().toStdString();
    QTest::mouseClick(button("btnOkOnAlert"), Qt::LeftButton);

    realThumbnails = true;
    timers.fire("scrollingEnd");
    grid.runAll();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(screenimages::nameOf(tile(i)->image()), "");
        EXPECT_EQ(tile(i)->toolTip(), "");
    }
}
