#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>

#include "platform/foundation/KeyedArchive.h"
#include "records/CustomPicture.h"
#include "tests/support/TestSupport.h"

namespace {

// Left half red, right half half-transparent blue: proportions and alpha are both visible.
QImage halves(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::red);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(w / 2, 0, w - w / 2, h, QColor(0, 0, 255, 128));
    p.end();
    return img;
}

}  // namespace

TEST(CustomPicture, TheStepKeepsThePictureAtTheSizeASavedStepHolds) {
    QTemporaryDir dir;
    struct Case { const char* name; const char* format; QSize size; QSize kept; bool alpha; };
    const std::vector<Case> cases = {
        {"large JPEG", "jpg", {5000, 2500}, {4096, 2048}, false},
        {"tall PNG with transparency", "png", {1200, 4800}, {1024, 4096}, true},
        {"small PNG as it is", "png", {640, 480}, {640, 480}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + "." + c.format);
        const QImage drawn = halves(c.size.width(), c.size.height());
        ASSERT_TRUE(drawn.save(path, c.format));
        const QImage kept = CustomPicture::pictureForStep(path);
        ASSERT_FALSE(kept.isNull());
        EXPECT_EQ(kept.size(), c.kept);
        EXPECT_LE(std::max(kept.width(), kept.height()), platform::kArchivePictureMaxSide);
        EXPECT_EQ(kept.hasAlphaChannel(), c.alpha);
        const QColor left = kept.pixelColor(kept.width() / 4, kept.height() / 2);
        const QColor right = kept.pixelColor(kept.width() * 3 / 4, kept.height() / 2);
        EXPECT_GT(left.red(), 200);
        EXPECT_GT(right.blue(), 200);
        if (c.alpha) {
            EXPECT_NEAR(right.alpha(), 128, 2);
        }
        if (c.size == c.kept) {
            EXPECT_EQ(kept.convertToFormat(QImage::Format_ARGB32), drawn);
        }
    }
    EXPECT_TRUE(CustomPicture::pictureForStep(testsupport::writeFile(dir.filePath("no.png"), "not a picture")).isNull());
    EXPECT_TRUE(CustomPicture::pictureForStep(dir.filePath("missing.png")).isNull());
}
