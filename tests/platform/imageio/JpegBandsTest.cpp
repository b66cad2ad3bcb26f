// A large picture is written as JPEG in bands made on several cores and joined with
// restart markers. The joined file must decode to exactly the pixels of one uncut encoding,
// keep its profile and size, and be the same file however many cores made it.
#include "platform/coreimage/Parallel.h"
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/PackagedPictures.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using platform::codec::Bytes;

QImage decoded(const QByteArray& jpeg) {
    return platform::codec::jpegDecode(Bytes{reinterpret_cast<const uint8_t*>(jpeg.constData()), size_t(jpeg.size())},
                                       platform::DecodeOptions{}, QStringLiteral("joined.jpg"));
}

QByteArray profile(const QString& path) {
    QFile f(testsupport::packagedPicture(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int restartMarkers(const QByteArray& jpeg) {
    int n = 0;
    for (qsizetype i = 0; i + 1 < jpeg.size(); ++i)
        if (uchar(jpeg[i]) == 0xFF && (uchar(jpeg[i + 1]) & 0xF8) == 0xD0) ++n;
    return n;
}

}  // namespace

TEST(JpegBands, JoinedBandsDecodeToTheUncutEncodingsPixels) {
    const QImage photo = platform::readImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Aqua.jpg"))
                             .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(photo.isNull());
    const QByteArray adobe = profile(testsupport::kAdobeRgbProfile);
    const QByteArray grey = profile(testsupport::kGrayLstarProfile);
    // A very wide picture: a band is then held to the 65,535 MCUs a restart interval counts.
    QImage wide(16000, 140, QImage::Format_RGB32);
    for (int x = 0; x < wide.width(); x += photo.width())
        for (int y = 0; y < wide.height(); ++y)
            std::memcpy(wide.scanLine(y) + x * 4, photo.constScanLine(y * 11),
                        size_t(std::min(photo.width(), wide.width() - x)) * 4);
    const struct {
        const char* name;
        QImage picture;
        QByteArray icc;
    } cases[] = {
        {"colour", photo, adobe},
        // Partial MCUs along both edges.
        {"odd size", photo.copy(0, 0, 2557, 1597), QByteArray()},
        {"grey", photo.convertToFormat(QImage::Format_Grayscale8), grey},
        {"wide", wide, QByteArray()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray joined = platform::codec::jpegEncode(c.picture, c.icc, 0.9);
        const QByteArray uncut = platform::codec::jpegEncodeRows(c.picture, 0, c.picture.height(), c.icc, 90, 0);
        ASSERT_FALSE(joined.isEmpty());
        EXPECT_GE(restartMarkers(joined), 1);
        EXPECT_EQ(restartMarkers(uncut), 0);
        const platform::ImageHeader header = platform::codec::jpegHeader(
            Bytes{reinterpret_cast<const uint8_t*>(joined.constData()), size_t(joined.size())});
        EXPECT_EQ(QSize(header.width, header.height), c.picture.size());
        EXPECT_EQ(header.iccProfile, c.icc);
        const QImage a = decoded(joined), b = decoded(uncut);
        ASSERT_EQ(a.size(), c.picture.size());
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(a.convertToFormat(QImage::Format_RGB32), b.convertToFormat(QImage::Format_RGB32));
    }
}

TEST(JpegBands, TheFileIsTheSameWhateverTheNumberOfCores) {
    const QImage photo = platform::readImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Aqua.jpg"));
    ASSERT_FALSE(photo.isNull());
    const QByteArray many = platform::codec::jpegEncode(photo, QByteArray(), 0.82);
    platform::setThreadCount(1);
    const QByteArray one = platform::codec::jpegEncode(photo, QByteArray(), 0.82);
    platform::setThreadCount(0);
    EXPECT_EQ(many, one);
    // A small picture is written uncut, as before.
    const QImage small = photo.copy(0, 0, 1200, 800);
    EXPECT_EQ(restartMarkers(platform::codec::jpegEncode(small, QByteArray(), 0.82)), 0);
}
