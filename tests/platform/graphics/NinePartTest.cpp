// Nine-part drawing: corners at their size, edges tiled between them, centre untouched,
// all placed in y-up coordinates.
#include "platform/graphics/NinePart.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

QImage solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    return img;
}

// A 10-wide edge piece: a dark first column, light elsewhere, so each tile's start shows.
QImage marked(int w, int h, bool horizontal) {
    QImage img = solid(w, h, QColor(200, 200, 200));
    for (int i = 0; i < (horizontal ? h : w); ++i) img.setPixel(horizontal ? 0 : i, horizontal ? i : 0, qRgb(0, 0, 0));
    return img;
}

TEST(NinePart, CornersEdgesAndCentreInYUpSpace) {
    QImage canvas = solid(120, 80, Qt::white);
    platform::NinePartPieces pieces{solid(10, 10, Qt::red),   marked(10, 10, true),     solid(10, 10, Qt::green),
                                    marked(10, 10, false),    marked(10, 10, false),    solid(10, 10, Qt::blue),
                                    marked(10, 10, true),     solid(10, 10, Qt::yellow)};
    QPainter p(&canvas);
    // y-up (10, 5, 100, 60): Qt rows 15 to 74, columns 10 to 109.
    platform::drawNinePartImage(p, canvas.height(), QRectF(10, 5, 100, 60), pieces);
    p.end();

    EXPECT_EQ(canvas.pixel(10, 15), qRgb(255, 0, 0));     // top-left corner
    EXPECT_EQ(canvas.pixel(109, 15), qRgb(0, 255, 0));    // top-right
    EXPECT_EQ(canvas.pixel(10, 74), qRgb(0, 0, 255));     // bottom-left
    EXPECT_EQ(canvas.pixel(109, 74), qRgb(255, 255, 0));  // bottom-right
    EXPECT_EQ(canvas.pixel(9, 15), qRgb(255, 255, 255));  // nothing outside the rectangle
    EXPECT_EQ(canvas.pixel(10, 14), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(60, 45), qRgb(255, 255, 255));  // centre untouched

    // Top edge: tiles start every 10 columns after the corner, the last one cut at column 99.
    for (int x = 20; x < 100; ++x)
        EXPECT_EQ(canvas.pixel(x, 18), (x - 20) % 10 == 0 ? qRgb(0, 0, 0) : qRgb(200, 200, 200)) << x;
    EXPECT_EQ(canvas.pixel(100, 18), qRgb(0, 255, 0));  // the corner, not a tile
    // Left edge: tiles every 10 rows between the corners (rows 25 to 64).
    for (int y = 25; y < 65; ++y)
        EXPECT_EQ(canvas.pixel(13, y), (y - 25) % 10 == 0 ? qRgb(0, 0, 0) : qRgb(200, 200, 200)) << y;
}

TEST(NinePart, CornersShrinkWhenTheRectangleIsSmall) {
    QImage canvas = solid(30, 30, Qt::white);
    const QImage c = solid(20, 20, Qt::red), e = solid(20, 20, Qt::blue);
    QPainter p(&canvas);
    platform::drawNinePartImage(p, canvas.height(), QRectF(0, 0, 30, 30), {c, e, c, e, e, c, e, c});
    p.end();
    // Two 20-point corners cannot fit in 30: each gets 15, and no edge is drawn over them.
    for (QPoint pt : {QPoint(2, 2), QPoint(27, 2), QPoint(2, 27), QPoint(27, 27), QPoint(14, 14)})
        EXPECT_EQ(canvas.pixel(pt), qRgb(255, 0, 0)) << pt.x() << "," << pt.y();
}

}  // namespace
