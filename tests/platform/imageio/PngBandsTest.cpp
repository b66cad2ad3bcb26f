#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

QImage withAlpha(int w, int h) {
    QImage img = testsupport::gradientImage(w, h).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = img.pixel(x, y);
            img.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), (x * 7 + y * 3) % 256));
        }
    return img;
}

}  // namespace

TEST(PngBands, DecodeWithLibpngToTheSamePixelsAtAnyBandCount) {
    struct Case {
        const char* name;
        QImage pixels;
        int colorType;
    } const cases[] = {
        {"rgb", testsupport::gradientImage(301, 67).convertToFormat(QImage::Format_RGB32), 2},
        {"rgba", withAlpha(173, 90), 6},
        {"grey", testsupport::gradientImage(97, 41).convertToFormat(QImage::Format_Grayscale8), 0},
        {"one pixel", testsupport::gradientImage(1, 1).convertToFormat(QImage::Format_RGB32), 2},
    };
    for (const Case& c : cases) {
        for (int rows : {1, 7, 0, c.pixels.height()}) {
            SCOPED_TRACE(testing::Message() << c.name << " rows " << rows);
            const QByteArray png = platform::codec::pngEncodeBands(c.pixels, c.colorType, {}, rows);
            const QImage back = platform::readImageFromData(png);
            ASSERT_FALSE(back.isNull());
            const QImage expected = c.colorType == 0 ? c.pixels.convertToFormat(QImage::Format_ARGB32) : c.pixels;
            EXPECT_TRUE(testsupport::samePixels(back, expected));
        }
    }
    // Band layout never changes the bytes' meaning, and the default is the same every time.
    const QImage photo = testsupport::gradientImage(640, 480).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(platform::codec::pngEncodeBands(photo, 2), platform::codec::pngEncodeBands(photo, 2));
}
