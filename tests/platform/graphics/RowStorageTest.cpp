// Pictures whose memory follows the rows in use, as a photo made row by row holds them:
// rows written from the top, read, and their pages passed on to the rows still to come.
#include <gtest/gtest.h>

#include "platform/graphics/RowStorage.h"

#include <QImage>

#include <vector>

namespace {

quint32 rowValue(int row) { return 0x01000193u * quint32(row + 1); }

void fillRows(QImage& picture, int first, int end) {
    uchar* const bits = const_cast<uchar*>(picture.constBits());
    for (int y = first; y < end; ++y) {
        auto* row = reinterpret_cast<quint32*>(bits + qsizetype(y) * picture.bytesPerLine());
        std::fill(row, row + picture.width(), rowValue(y));
    }
}

bool rowHolds(const QImage& picture, int y, quint32 value) {
    const auto* row = reinterpret_cast<const quint32*>(picture.constBits() + qsizetype(y) * picture.bytesPerLine());
    return std::all_of(row, row + picture.width(), [&](quint32 v) { return v == value; });
}

}  // namespace

TEST(RowPages, RowsWrittenIntoPassedOnPagesKeepTheirPixelsAndNothingElseIsTouched) {
    // 1000 pixels a row: rows do not fall on page boundaries.
    const int width = 1000, height = 3000, window = 300, step = 100;
    QImage picture = platform::picturePagedByRows(width, height, QImage::Format_RGB32);
    ASSERT_FALSE(picture.isNull());
    // Other memory of the process, taken while the picture's pages move about: none of it
    // may land where the picture's rows were, or go when the picture goes.
    std::vector<QImage> others;
    platform::RowPages pages(picture);
    int given = 0;
    for (int end = step; end <= height; end += step) {
        fillRows(picture, end - step, end);
        for (int y = std::max(given, end - window); y < end; ++y) ASSERT_TRUE(rowHolds(picture, y, rowValue(y))) << y;
        const int done = std::max(0, end - window);
        pages.reuse(given, done, end, end + step);
        given = done;
        QImage other(512, 512, QImage::Format_RGB32);
        other.fill(quint32(end));
        others.push_back(other);
    }
    // Rows given up read as zero where they lay in whole pages; the last window is intact.
    EXPECT_TRUE(rowHolds(picture, 10, 0));
    for (int y = height - window; y < height; ++y) ASSERT_TRUE(rowHolds(picture, y, rowValue(y))) << y;
    picture = QImage();
    for (size_t i = 0; i < others.size(); ++i) {
        const QRgb expected = QRgb(quint32((i + 1) * step)) | 0xff000000u;
        EXPECT_EQ(others[i].pixel(0, 0), expected);
        EXPECT_EQ(others[i].pixel(511, 511), expected);
    }
}
