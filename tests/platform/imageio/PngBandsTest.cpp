#include "platform/coreimage/Parallel.h"
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QImageWriter>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <libdeflate.h>
#include <vector>
#include <zlib.h>

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

namespace {

// A picture whose rows pass from smooth (a gradient) through photo-like detail (grain of a
// few levels) to noise, so that its bands are compressed in each of the encoder's ways.
QImage smoothDetailedNoisy(int w, int h) {
    QImage img = testsupport::softPhoto(w, h).convertToFormat(QImage::Format_RGB32);
    quint32 seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, int(seed >> 24); };
    for (int y = h / 3; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        const int spread = y < 2 * h / 3 ? 6 : 256;
        for (int x = 0; x < w; ++x) {
            auto grain = [&](int v) { return std::clamp(spread == 256 ? next() : v + next() % spread - spread / 2, 0, 255); };
            row[x] = qRgb(grain(qRed(row[x])), grain(qGreen(row[x])), grain(qBlue(row[x])));
        }
    }
    return img;
}

QByteArray qtPng(const QImage& image) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    return out;
}

}  // namespace

TEST(PngBands, BandsOfEveryKindJoinIntoOneStreamAboutAsSmallAsOneLevelSixStream) {
    const QImage picture = smoothDetailedNoisy(419, 240);
    for (int rows : {1, 3, 16, 0}) {
        SCOPED_TRACE(testing::Message() << "rows " << rows);
        const QByteArray png = platform::codec::pngEncodeBands(picture, 2, {}, rows);
        const QImage back = platform::readImageFromData(png);
        ASSERT_FALSE(back.isNull());
        EXPECT_TRUE(testsupport::samePixels(back, picture));
    }
    // Each kind of content alone, against Qt's writer (one zlib stream at level 6). Smooth
    // bands take libdeflate's level 5, whose shallower search than zlib's level 6 costs
    // up to a tenth on a gradient this smooth (a few percent on photos) for half the time.
    const struct {
        const char* name;
        QImage pixels;
        double allowance;
    } kinds[] = {
        {"smooth", picture.copy(0, 0, 419, 80), 1.12},
        {"detailed", picture.copy(0, 80, 419, 80), 1.0},
        {"noisy", picture.copy(0, 160, 419, 80), 1.0},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        const QByteArray ours = platform::codec::pngEncodeBands(k.pixels, 2, {}, 0);
        EXPECT_LE(double(ours.size()), double(qtPng(k.pixels).size()) * k.allowance);
        EXPECT_TRUE(testsupport::samePixels(platform::readImageFromData(ours), k.pixels));
    }
}

TEST(PngBands, TransparentPremultipliedPicturesGiveTheBytesOfTheWholePictureStraightened) {
    // Straightened a band at a time (each band with the row above it), the file must be
    // the one the picture converted whole would give.
    const QImage premultiplied = withAlpha(603, 480).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage straight = premultiplied.convertToFormat(QImage::Format_ARGB32);
    for (int rows : {1, 7, 0}) {
        SCOPED_TRACE(testing::Message() << "rows " << rows);
        QByteArray streamed;
        ASSERT_TRUE(platform::codec::pngWriteBands(premultiplied, 6, {}, rows, platform::codec::appendTo(streamed)));
        EXPECT_EQ(streamed, platform::codec::pngEncodeBands(straight, 6, {}, rows));
    }
    EXPECT_EQ(platform::codec::pngEncode(premultiplied, {}), platform::codec::pngEncodeBands(straight, 6));
}

TEST(PngBands, BytesGoOutInFileOrderAndAWriterThatRefusesStopsTheEncoding) {
    const QImage picture = smoothDetailedNoisy(419, 240);
    const QByteArray whole = platform::codec::pngEncodeBands(picture, 2, {}, 1);
    // Single rows on every core: bands finish out of order, yet come out in order.
    QByteArray streamed;
    int calls = 0;
    ASSERT_TRUE(platform::codec::pngWriteBands(picture, 2, {}, 1, [&](const char* data, size_t size) {
        ++calls;
        streamed.append(data, qsizetype(size));
        return true;
    }));
    EXPECT_EQ(streamed, whole);
    // The same bytes on one core.
    platform::setThreadCount(1);
    EXPECT_EQ(platform::codec::pngEncodeBands(picture, 2, {}, 1), whole);
    platform::setThreadCount(0);
    for (int refuseAt : {1, 2, calls / 2, calls}) {
        SCOPED_TRACE(refuseAt);
        int seen = 0, after = 0;
        const bool ok = platform::codec::pngWriteBands(picture, 2, {}, 1, [&](const char*, size_t) {
            ++seen;
            if (seen > refuseAt) ++after;
            return seen < refuseAt;
        });
        EXPECT_FALSE(ok);
        EXPECT_EQ(after, 0);
    }
}

namespace {

// A sink that a test can hold in the middle of a write.
struct HeldSink {
    std::mutex m;
    std::condition_variable changed;
    bool holding = false, released = false;
    bool held = false;  // a write is waiting
    QByteArray bytes;
    platform::codec::PngSink sink() {
        return [this](const char* data, size_t size) {
            std::unique_lock<std::mutex> lock(m);
            if (holding && !released) {
                held = true;
                changed.notify_all();
                changed.wait(lock, [&] { return released; });
            }
            bytes.append(data, qsizetype(size));
            return true;
        };
    }
};

}  // namespace

TEST(PngBandWriter, KeepsItsSinkAndWritesNoBytesWhileTheCompressingThreadsWait) {
    const QImage picture = smoothDetailedNoisy(419, 30);
    const QByteArray whole = platform::codec::pngEncodeBands(picture, 2, {}, 10);
    HeldSink out;
    // The sink handed in is a temporary: the writer must keep a sink of its own.
    platform::codec::PngBandWriter writer(picture.width(), picture.height(), 2, {}, 10, out.sink());
    ASSERT_EQ(writer.bands(), 3);
    ASSERT_TRUE(writer.writeHead());

    // The first band's chunk is held in the middle of its write...
    out.holding = true;
    std::thread first([&] { writer.writeBand(0, picture); });
    {
        std::unique_lock<std::mutex> lock(out.m);
        ASSERT_TRUE(out.changed.wait_for(lock, std::chrono::seconds(20), [&] { return out.held; }));
    }
    // ...and the other bands are compressed and handed in meanwhile, not held up by it.
    auto others = std::async(std::launch::async, [&] {
        writer.writeBand(2, picture);
        writer.writeBand(1, picture);
    });
    const bool handedIn = others.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    {
        const std::lock_guard<std::mutex> lock(out.m);
        out.released = true;
        out.changed.notify_all();
    }
    first.join();
    others.wait();
    EXPECT_TRUE(handedIn);
    // The thread that wrote the first band wrote the others after it, in order.
    ASSERT_TRUE(writer.writeEnd());
    EXPECT_EQ(out.bytes, whole);
}

namespace {

// Where zlib, inflating block by block, finds the last block's header and the bits left
// after it.
bool lastBlockByInflating(const QByteArray& stream, size_t* headerBit, int* unused) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    z.avail_in = uInt(stream.size());
    std::vector<unsigned char> out(1 << 16);
    int r = Z_OK;
    size_t next = 0;
    while (r == Z_OK) {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        r = inflate(&z, Z_BLOCK);
        if (r == Z_OK && (z.data_type & 128)) {
            const size_t bit = size_t(stream.size() - z.avail_in) * 8 - size_t(z.data_type & 7);
            if (z.data_type & 64) *headerBit = next, *unused = z.data_type & 7;
            next = bit;
        }
    }
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

QByteArray zlibStream(const QByteArray& data, int level, int strategy, int flushEvery = 0) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    QByteArray out(int(deflateBound(&z, uLong(data.size())) * 2 + 1024), '\0');
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const qsizetype step = flushEvery ? flushEvery : data.size();
    for (qsizetype at = 0; at < data.size() || at == 0; at += step) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + at));
        z.avail_in = uInt(std::min(step, data.size() - at));
        deflate(&z, at + step >= data.size() ? Z_FINISH : Z_FULL_FLUSH);
        if (data.isEmpty()) break;
    }
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray libdeflateStream(const QByteArray& data, int level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    QByteArray out(qsizetype(libdeflate_deflate_compress_bound(c, size_t(data.size()))), '\0');
    out.resize(qsizetype(libdeflate_deflate_compress(c, data.constData(), size_t(data.size()), out.data(), size_t(out.size()))));
    libdeflate_free_compressor(c);
    return out;
}

}  // namespace

// Reading a stream's codes finds the same last block as inflating it, whatever blocks the
// compressor chose: stored, fixed or dynamic codes, codes longer than the lookup table,
// one block or many.
TEST(PngBands, TheLastBlockOfAStreamIsFoundWithoutInflatingIt) {
    // Filtered rows of a real-looking picture, and bytes whose frequencies fall off
    // steeply enough to give some codes of 12 to 15 bits.
    const QImage picture = smoothDetailedNoisy(419, 240);
    QByteArray rows;
    for (int y = 0; y < picture.height(); ++y)
        rows.append(reinterpret_cast<const char*>(picture.constScanLine(y)), picture.width() * 4);
    QByteArray skewed;
    quint32 seed = 11;
    for (int i = 0; i < 300000; ++i) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        skewed.append(char(std::countr_zero(seed | 0x10000u) * 13 + int(seed >> 29)));
    }
    const struct {
        const char* name;
        QByteArray data, stream;
    } cases[] = {
        {"libdeflate, long codes", skewed, libdeflateStream(skewed, 7)},
        {"zlib, long codes", skewed, zlibStream(skewed, 6, Z_DEFAULT_STRATEGY)},
        {"libdeflate level 5", rows, libdeflateStream(rows, 5)},
        {"libdeflate level 7", rows, libdeflateStream(rows, 7)},
        {"libdeflate level 12", rows, libdeflateStream(rows, 12)},
        {"zlib runs", rows, zlibStream(rows, 6, Z_RLE)},
        {"fixed codes", rows, zlibStream(rows, 6, Z_FIXED)},
        {"stored", rows, zlibStream(rows, 0, Z_DEFAULT_STRATEGY)},
        {"flushed every 1000 bytes", rows, zlibStream(rows, 6, Z_DEFAULT_STRATEGY, 1000)},
        {"one byte", QByteArray(1, 'x'), libdeflateStream(QByteArray(1, 'x'), 7)},
        {"nothing", QByteArray(), libdeflateStream(QByteArray(), 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t expectedBit = 0, bit = 0;
        int expectedUnused = -1, unused = -1;
        ASSERT_TRUE(lastBlockByInflating(c.stream, &expectedBit, &expectedUnused));
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.stream.constData());
        ASSERT_TRUE(platform::codec::deflateLastBlock(bytes, size_t(c.stream.size()), size_t(c.data.size()), &bit, &unused));
        EXPECT_EQ(bit, expectedBit);
        EXPECT_EQ(unused, expectedUnused);
        // Not a whole stream of that size: cut short, longer than said, or more data after it.
        EXPECT_FALSE(platform::codec::deflateLastBlock(bytes, size_t(c.stream.size()) - 1, size_t(c.data.size()), &bit, &unused));
        EXPECT_FALSE(platform::codec::deflateLastBlock(bytes, size_t(c.stream.size()), size_t(c.data.size()) + 1, &bit, &unused));
        const QByteArray longer = c.stream + QByteArray(2, '\0');
        EXPECT_FALSE(platform::codec::deflateLastBlock(reinterpret_cast<const unsigned char*>(longer.constData()),
                                                       size_t(longer.size()), size_t(c.data.size()), &bit, &unused));
    }
}
