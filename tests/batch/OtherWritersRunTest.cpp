// Files other programs wrote, of the kinds this program only reads, through a whole run:
// each is written as the picture it holds, checked on the file written, or fails with a
// status; never "processed" with another picture.
#include <gtest/gtest.h>

#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/ImageFixtures.h"

// Named, not anonymous: the suite is compiled a few files to a unit.
namespace otherwritersrun {

using batchtest::Batch;
using batchtest::RunHarness;

QString keptFile(const QString& name) {
    return testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + name);
}

// The picture the run wrote for one copy of a kept file, as 0xAARRGGBB; null when the photo
// did not end processed.
QImage writtenFor(const QString& file) {
    Batch b(0);
    const QString copy = b.dir.filePath(QStringLiteral("src/") + file);
    testsupport::writeFile(copy, testsupport::readFile(keptFile(file)));
    b.photos << batchtest::photoAt(copy);
    const BatchRunInput in = b.input();
    RunHarness run;
    if (!run.start(in)) return {};
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed) << b.photos[0]->processInfoMessage.toStdString();
    if (b.photos[0]->processStatus != PhotoFile::Processed) return {};
    return platform::readImage(in.snapshot.destinationPaths[0]->filePath).convertToFormat(QImage::Format_ARGB32);
}

QImage reference(const QString& file) {
    return platform::readImage(keptFile(file)).convertToFormat(QImage::Format_ARGB32);
}

// The least alpha of a picture.
int leastAlpha(const QImage& picture) {
    int least = 255;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) least = std::min(least, qAlpha(picture.pixel(x, y)));
    return least;
}

// A plain bitmap written by netpbm, whose digits have no blanks between them (each sample
// is one character): the picture netpbm reads, pixel for pixel, not one scrambled and
// finished with memory no one wrote.
TEST(OtherWritersRun, APlainBitmapWithoutBlanksIsWrittenAsNetpbmReadsIt) {
    const QImage written = writtenFor(QStringLiteral("pbm_plain_digits_unseparated.pbm"));
    const QImage expected = reference(QStringLiteral("pbm_plain_digits_unseparated.ref.png"));
    ASSERT_EQ(written.size(), QSize(128, 128));
    int differ = 0;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) differ += written.pixel(x, y) != expected.pixel(x, y);
    EXPECT_EQ(differ, 0);
}

// A 16-bit Targa whose header counts an attribute bit that its extension area says is not
// alpha, and which is clear in every pixel: opaque, its colours as they are stored, not
// transparent black.
TEST(OtherWritersRun, ATargaWhoseAttributeBitIsNotAlphaIsWrittenOpaque) {
    const QImage written = writtenFor(QStringLiteral("tga_16bit_attribute_bit_undefined.tga"));
    const QImage expected = reference(QStringLiteral("tga_16bit_attribute_bit_undefined.ref.png"));
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_EQ(leastAlpha(written), 255);
    EXPECT_GE(testsupport::psnr(written, expected), 40.0);
}

// A CMYK TIFF with an alpha sample (ImageMagick's, unassociated): written with its
// transparency, not as the opaque picture its inks alone make.
TEST(OtherWritersRun, ACmykTiffWithAlphaIsWrittenWithItsTransparency) {
    const QImage written = writtenFor(QStringLiteral("tiff_cmyk_unassociated_alpha_imagemagick.tif"));
    ASSERT_EQ(written.size(), QSize(48, 32));
    EXPECT_EQ(qAlpha(written.pixel(5, 5)), 255);
    EXPECT_NEAR(qAlpha(written.pixel(30, 5)), 128, 1);
    EXPECT_EQ(qAlpha(written.pixel(30, 20)), 0);
}

}  // namespace otherwritersrun
