#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>

#include "import/ui/GridCell.h"
#include "tests/support/TestSupport.h"

namespace {

const QColor kScreenBackground(27, 27, 27);

// A tile as the add-photos grid shows it: 220 x 300 on the screen's dark background.
QImage grabTile(const QString& name, qreal pointSize, const QImage& picture = QImage()) {
    GridCell cell;
    QPalette pal = cell.palette();
    pal.setColor(QPalette::Window, kScreenBackground);
    cell.setPalette(pal);
    QFont f = cell.font();
    f.setPointSizeF(pointSize);
    cell.setFont(f);
    cell.resize(220, 300);
    if (!picture.isNull()) cell.setImage(picture);
    cell.setFileName(name);
    cell.setFileDimension(QStringLiteral("Dimensions 1600 X 1067"));
    cell.setFileSize(QStringLiteral("Size 52.43 KB"));
    return cell.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// How much text is drawn: the summed grey distance of every pixel from the background.
long ink(const QImage& image) {
    const int bg = qGray(kScreenBackground.rgb());
    long sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) sum += std::abs(qGray(image.pixel(x, y)) - bg);
    return sum;
}

}  // namespace

// The underscore lies below the baseline, at the very bottom of the line; a label box
// that clips to the line height cut it off at some sizes, so "IMG_4101.jpg" read as
// "IMG 4101.jpg". The name with underscores must carry more ink than the same name with
// spaces: at least two pixels' worth of the label colour per underscore.
TEST(GridCellLabels, UnderscoresInTheNameAreDrawn) {
    testsupport::pinFont();
    const int labelContrast = qGray(QColor(220, 220, 220).rgb()) - qGray(kScreenBackground.rgb());
    for (const char* name : {"IMG_4101.jpg", "a_b", "photo__final_v2.png"}) {
        const QString underscored = QString::fromLatin1(name);
        QString spaced = underscored;
        spaced.replace(QLatin1Char('_'), QLatin1Char(' '));
        const long underscores = underscored.count(QLatin1Char('_'));
        for (qreal pt : {8.0, 9.0, 10.0, 12.0}) {
            SCOPED_TRACE(testing::Message() << name << " at " << pt << " pt");
            const long extra = ink(grabTile(underscored, pt)) - ink(grabTile(spaced, pt));
            EXPECT_GE(extra, underscores * 2 * labelContrast);
        }
    }
}

// The tile shows the picture it is given whole and unstretched, centred in the picture
// area: a 3:2 picture keeps its 3:2 shape with bands of background above and below.
TEST(GridCellPicture, KeepsThePictureShape) {
    testsupport::pinFont();
    QImage photo(600, 400, QImage::Format_RGB32);
    photo.fill(QColor(200, 40, 40));
    const QImage tile = grabTile(QString(), 9, photo);
    QRect painted;
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x) {
            const QColor c(tile.pixel(x, y));
            if (c.red() > 150 && c.green() < 90) painted |= QRect(x, y, 1, 1);
        }
    ASSERT_FALSE(painted.isEmpty());
    EXPECT_NEAR(double(painted.width()) / painted.height(), 1.5, 0.03);
    EXPECT_NEAR(painted.center().x(), tile.width() / 2, 2);
    EXPECT_LT(painted.height(), painted.width());
}
