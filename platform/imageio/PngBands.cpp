// PNG image data compressed on several cores: the filtered rows are cut into bands, each
// band deflated on its own (primed with the 32 KiB of filtered data before it, so it
// compresses as well as one stream would), and the pieces joined into one valid zlib
// stream whose checksum is combined from the bands' own.
#include "platform/imageio/CodecInternal.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace platform::codec {

namespace {

constexpr int kWindow = 32768;

void put32(QByteArray& out, quint32 v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(b, 4);
}

void chunk(QByteArray& out, const char type[4], const char* data, qsizetype size) {
    put32(out, quint32(size));
    const qsizetype at = out.size();
    out.append(type, 4);
    out.append(data, size);
    put32(out, quint32(crc32(0, reinterpret_cast<const Bytef*>(out.constData() + at), uInt(size + 4))));
}

// One row of the picture as PNG samples (RGB, RGBA or grey bytes).
void rowSamples(const QImage& image, int y, int channels, unsigned char* d) {
    const uchar* s = image.constScanLine(y);
    if (channels == 1) {
        std::memcpy(d, s, size_t(image.width()));
        return;
    }
    const auto* p = reinterpret_cast<const quint32*>(s);
    for (int x = 0; x < image.width(); ++x, d += channels) {
        const quint32 v = p[x];
        d[0] = uchar(v >> 16);
        d[1] = uchar(v >> 8);
        d[2] = uchar(v);
        if (channels == 4) d[3] = uchar(v >> 24);
    }
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Filters a row with each of the five filters and keeps the one whose bytes, read as
// signed, sum smallest in magnitude (the usual cheap guess at what deflates best).
void filterRow(const unsigned char* row, const unsigned char* prev, int n, int bpp, unsigned char* out,
               std::vector<unsigned char>& trial) {
    trial.resize(size_t(n));
    long best = -1;
    for (int f = 0; f < 5; ++f) {
        long sum = 0;
        for (int i = 0; i < n; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = prev ? prev[i] : 0, c = prev && i >= bpp ? prev[i - bpp] : 0;
            int v = row[i];
            switch (f) {
            case 1: v -= a; break;
            case 2: v -= b; break;
            case 3: v -= (a + b) >> 1; break;
            case 4: v -= paeth(a, b, c); break;
            default: break;
            }
            const unsigned char u = (unsigned char)v;
            trial[size_t(i)] = u;
            sum += u < 128 ? u : 256 - u;
        }
        if (best < 0 || sum < best) {
            best = sum;
            out[0] = (unsigned char)f;
            std::memcpy(out + 1, trial.data(), size_t(n));
        }
    }
}

void forEachBand(int bands, const std::function<void(int)>& fn) {
    const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, std::max(1, bands));
    std::atomic<int> next{0};
    auto work = [&] {
        for (int b = next++; b < bands; b = next++) fn(b);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
}

}  // namespace

QByteArray pngEncodeBands(const QImage& pixels, int colorType, const QByteArray& icc, int rowsPerBand) {
    const int w = pixels.width(), h = pixels.height();
    const int channels = colorType == 0 ? 1 : colorType == 2 ? 3 : 4;
    const size_t rowBytes = size_t(w) * size_t(channels);
    const size_t stride = rowBytes + 1;
    // Bands of about a megabyte of filtered data, the same whatever the number of cores,
    // so the file is the same on any machine.
    if (rowsPerBand <= 0) rowsPerBand = int(std::max<size_t>(1, (size_t(1) << 20) / stride));
    const int bands = (h + rowsPerBand - 1) / rowsPerBand;

    std::vector<unsigned char> filtered(stride * size_t(h));
    forEachBand(bands, [&](int b) {
        std::vector<unsigned char> cur(rowBytes), prev(rowBytes), trial;
        const int y0 = b * rowsPerBand, y1 = std::min(h, y0 + rowsPerBand);
        if (y0 > 0) rowSamples(pixels, y0 - 1, channels, prev.data());
        for (int y = y0; y < y1; ++y) {
            rowSamples(pixels, y, channels, cur.data());
            filterRow(cur.data(), y > 0 ? prev.data() : nullptr, int(rowBytes), channels, filtered.data() + stride * size_t(y), trial);
            std::swap(cur, prev);
        }
    });

    std::vector<QByteArray> pieces(static_cast<size_t>(bands));
    std::vector<uLong> sums(static_cast<size_t>(bands));
    std::atomic<bool> failed{false};
    forEachBand(bands, [&](int b) {
        const size_t from = stride * size_t(b) * size_t(rowsPerBand);
        const size_t to = std::min(filtered.size(), from + stride * size_t(rowsPerBand));
        sums[size_t(b)] = adler32(1, filtered.data() + from, uInt(to - from));
        z_stream z{};
        if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) {
            failed = true;
            return;
        }
        if (from > 0) {
            const size_t d = std::min<size_t>(kWindow, from);
            deflateSetDictionary(&z, filtered.data() + from - d, uInt(d));
        }
        QByteArray& out = pieces[size_t(b)];
        out.resize(qsizetype(deflateBound(&z, uLong(to - from)) + 16));
        z.next_in = filtered.data() + from;
        z.avail_in = uInt(to - from);
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        // The last band ends the stream; the others end on a byte boundary with no final block.
        const int r = deflate(&z, b + 1 == bands ? Z_FINISH : Z_SYNC_FLUSH);
        if (r != (b + 1 == bands ? Z_STREAM_END : Z_OK) || z.avail_in != 0) failed = true;
        out.resize(qsizetype(z.total_out));
        deflateEnd(&z);
    });
    if (failed) return QByteArray();

    uLong adler = sums[0];
    for (int b = 1; b < bands; ++b) {
        const size_t from = stride * size_t(b) * size_t(rowsPerBand);
        const size_t len = std::min(filtered.size(), from + stride * size_t(rowsPerBand)) - from;
        adler = adler32_combine(adler, sums[size_t(b)], z_off_t(len));
    }
    QByteArray stream;
    stream.append("\x78\x9c", 2);
    for (const QByteArray& p : pieces) stream.append(p);
    put32(stream, quint32(adler));

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    put32(header, quint32(w));
    put32(header, quint32(h));
    header.append(char(8)).append(char(colorType)).append(char(0)).append(char(0)).append(char(0));
    chunk(png, "IHDR", header.constData(), header.size());
    if (!icc.isEmpty()) {
        // The profile as it is (a name, compression method 0, the deflated bytes).
        uLongf packedSize = compressBound(uLong(icc.size()));
        QByteArray profile("ICC profile\0\0", 13);
        const qsizetype at = profile.size();
        profile.resize(at + qsizetype(packedSize));
        if (compress2(reinterpret_cast<Bytef*>(profile.data() + at), &packedSize,
                      reinterpret_cast<const Bytef*>(icc.constData()), uLong(icc.size()), 9) == Z_OK) {
            profile.resize(at + qsizetype(packedSize));
            chunk(png, "iCCP", profile.constData(), profile.size());
        }
    }
    // IDAT chunks of at most a megabyte.
    for (qsizetype at = 0; at < stream.size(); at += qsizetype(1) << 20)
        chunk(png, "IDAT", stream.constData() + at, std::min<qsizetype>(qsizetype(1) << 20, stream.size() - at));
    chunk(png, "IEND", nullptr, 0);
    return png;
}

}  // namespace platform::codec
