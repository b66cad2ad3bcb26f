// PNG image data compressed on several cores: the rows are cut into bands of about a
// megabyte, each band filtered and deflated on its own, and the pieces joined into one
// valid zlib stream whose checksum is combined from the bands' own. Only the compressed
// pieces are kept, never a filtered copy of the whole picture.
//
// Each band is compressed the way that suits its content, at the least cost that keeps
// the files small. Very noisy bands, judged from the filtered rows' mean residual, go
// through libdeflate's fastest level: on grain a deeper search for matches finds almost
// nothing more (level 5 made real photos' files 0.4 % smaller in twice the time). Any
// other band is compressed both ways that suit photographs over its first sixteenth: as
// runs of repeated bytes plus Huffman codes (zlib's run-length strategy, several times
// faster than its level 6) and with libdeflate's level 5, whose matches pay on smooth and
// patterned areas (gradients, blurred pictures, drawings); the whole band goes the way
// that came out clearly smaller, as runs on a close call. Deeper levels gain little for
// their time: level 7 made a blurred photo's file 2.3 % smaller in 2.4 times the time
// and real photos' 0.2 % smaller. On real photos the files come out smaller than with
// zlib's level 6 over the whole picture.
#include "platform/imageio/CodecInternal.h"
#include "platform/coreimage/Parallel.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace platform::codec {

namespace {

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

// One row of the picture as PNG samples (RGB, RGBA or grey bytes). Grey samples come from
// grey bytes, or from the words of a grey picture held as colour (its channels equal).
void rowSamples(const QImage& image, int y, int channels, unsigned char* d) {
    const uchar* s = image.constScanLine(y);
    const auto* p = reinterpret_cast<const quint32*>(s);
    if (channels == 1) {
        if (image.format() == QImage::Format_Grayscale8) std::memcpy(d, s, size_t(image.width()));
        else for (int x = 0; x < image.width(); ++x) d[x] = uchar(p[x]);
        return;
    }
    const int width = image.width();
    for (int x = 0; x < width; ++x, d += channels) {
        const quint32 v = p[x];
        d[0] = uchar(v >> 16);
        d[1] = uchar(v >> 8);
        d[2] = uchar(v);
        if (channels == 4) d[3] = uchar(v >> 24);
    }
}

inline int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Filters a row with one predictor into out and returns the sum of the bytes' magnitudes
// read as signed. prev is a row of zeros above the first row. Written without branches
// on the filter so that the loops vectorise.
template <class Predict>
long filterWith(const unsigned char* row, const unsigned char* prev, int n, int bpp, unsigned char* out, Predict predict) {
    long sum = 0;
    const int lead = std::min(n, bpp);
    for (int i = 0; i < lead; ++i) {
        const unsigned char u = (unsigned char)(row[i] - predict(0, prev[i], 0));
        out[i] = u;
        sum += std::abs(int(static_cast<signed char>(u)));
    }
    for (int i = lead; i < n; ++i) {
        const unsigned char u = (unsigned char)(row[i] - predict(row[i - bpp], prev[i], prev[i - bpp]));
        out[i] = u;
        sum += std::abs(int(static_cast<signed char>(u)));
    }
    return sum;
}

// Filters a row with each of the five filters and keeps the one whose bytes, read as
// signed, sum smallest in magnitude (the usual cheap guess at what deflates best); writes
// the filter byte and the row to out and returns that sum.
long filterRow(const unsigned char* row, const unsigned char* prev, int n, int bpp, unsigned char* out, std::vector<unsigned char>& trial) {
    trial.resize(size_t(n));
    long best = filterWith(row, prev, n, bpp, out + 1, [](int, int, int) { return 0; });
    out[0] = 0;
    auto consider = [&](int f, long sum) {
        if (sum < best) {
            best = sum;
            out[0] = (unsigned char)f;
            std::memcpy(out + 1, trial.data(), size_t(n));
        }
    };
    consider(1, filterWith(row, prev, n, bpp, trial.data(), [](int a, int, int) { return a; }));
    consider(2, filterWith(row, prev, n, bpp, trial.data(), [](int, int b, int) { return b; }));
    consider(3, filterWith(row, prev, n, bpp, trial.data(), [](int a, int b, int) { return (a + b) >> 1; }));
    consider(4, filterWith(row, prev, n, bpp, trial.data(), [](int a, int b, int c) { return paeth(a, b, c); }));
    return best;
}

// Runs fn on every band, on the kernels' shared workers: several photos encoded at once
// share the cores instead of each starting a thread per core. Bands are taken in order,
// so the pieces leave for the file about as fast as they are made.
void forEachBand(int bands, size_t bandBytes, const std::function<void(int)>& fn) {
    platform::parallelFor(0, bands, [&](int first, int last) {
        for (int b = first; b < last; ++b) fn(b);
    }, double(bandBytes));
}

// Deflates data as runs (zlib's run-length strategy). A band that is not the last ends on
// a byte boundary without a final block, so the next band's data can follow it.
bool deflateRuns(const unsigned char* data, size_t size, bool last, QByteArray& out) {
    z_stream z{};
    const int init = deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_RLE);
    if (init == Z_MEM_ERROR) throw std::bad_alloc();
    if (init != Z_OK) return false;
    out.resize(qsizetype(deflateBound(&z, uLong(size)) + 16));
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = uInt(size);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int r = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool ok = r == (last ? Z_STREAM_END : Z_OK) && z.avail_in == 0;
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return ok;
}

// Makes a complete raw deflate stream of `expected` bytes continuable: clears the
// final-block bit of its last block and pads it to a byte boundary with an empty stored
// block. The last block is found by reading the blocks' codes, or by inflating the stream
// block by block should that fail. False if the data is not one complete deflate stream.
bool continuable(QByteArray& d, size_t expected) {
    auto* bytes = reinterpret_cast<unsigned char*>(d.data());
    // Where the last block's header, and so its final-block bit, begins.
    size_t headerByte = 0;
    unsigned headerBit = 1;
    // Bits of the last byte left unused after the final block's end code.
    int unused = -1;
    size_t at = 0;
    if (deflateLastBlock(bytes, size_t(d.size()), expected, &at, &unused)) {
        headerByte = at / 8;
        headerBit = 1u << (at % 8);
    } else {
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) return false;
        z.next_in = bytes;
        z.avail_in = uInt(d.size());
        std::vector<unsigned char> scratch(65536);
        int r = Z_OK;
        while (r == Z_OK) {
            z.next_out = scratch.data();
            z.avail_out = uInt(scratch.size());
            r = inflate(&z, Z_BLOCK);
            if (r == Z_OK && (z.data_type & 128)) {
                // At the end of a block: the next header starts in the unused bits of the
                // byte just read, or at the next byte when none are left. After the final
                // block these are the bits the compressor padded with.
                const int bits = z.data_type & 7;
                const size_t next = size_t(z.next_in - bytes);
                if (z.data_type & 64) unused = bits;
                else if (bits) headerByte = next - 1, headerBit = 0x100u >> bits;
                else headerByte = next, headerBit = 1;
            }
        }
        const bool whole = r == Z_STREAM_END && z.avail_in == 0 && z.total_out == expected && unused >= 0;
        inflateEnd(&z);
        if (!whole) return false;
    }
    if (headerByte >= size_t(d.size())) return false;
    bytes[headerByte] &= uchar(~headerBit);
    // An empty stored block: three header bits (in the last byte's unused high bits when
    // they fit, which the compressor left zero), then alignment, then LEN 0 and NLEN.
    if (unused > 0) {
        if (unused < 3) d.append('\0');
        d.append("\0\0\xff\xff", 4);
    }
    return true;
}

// libdeflate at level; the piece continues unless last.
bool deflateMatches(libdeflate_compressor* c, const unsigned char* data, size_t size, bool last, QByteArray& out) {
    out.resize(qsizetype(libdeflate_deflate_compress_bound(c, size)));
    const size_t n = libdeflate_deflate_compress(c, data, size, out.data(), size_t(out.size()));
    if (n == 0) return false;
    out.resize(qsizetype(n));
    return last || continuable(out, size);
}

// What compressing a band works with: the two compressors and the buffers its piece is
// made in. A writer keeps them for its bands, each used by one band at a time, made as
// bands need them (no more than run at once) and freed with the writer. No thread keeps
// any: a thread-local object's first use on a thread registers its destructor with an
// allocation that the C library does not let fail (it ends the program), so a shortage
// there took the whole run down instead of the photo in hand.
struct BandScratch {
    libdeflate_compressor* smooth = libdeflate_alloc_compressor(5);
    libdeflate_compressor* noisy = libdeflate_alloc_compressor(1);
    QByteArray runs, matched, piece;

    BandScratch() {
        if (!smooth || !noisy) {
            release();
            throw std::bad_alloc();
        }
    }
    ~BandScratch() { release(); }
    BandScratch(const BandScratch&) = delete;
    BandScratch& operator=(const BandScratch&) = delete;

private:
    void release() {
        libdeflate_free_compressor(smooth);
        libdeflate_free_compressor(noisy);
    }
};

// The scratch of bands done, for the bands to come.
class ScratchShelf {
public:
    std::unique_ptr<BandScratch> take() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!kept_.empty()) {
                std::unique_ptr<BandScratch> s = std::move(kept_.back());
                kept_.pop_back();
                return s;
            }
        }
        return std::make_unique<BandScratch>();
    }
    void put(std::unique_ptr<BandScratch> s) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        try {
            kept_.push_back(std::move(s));
        } catch (...) {
            // No room to keep it: the next band makes its own.
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<BandScratch>> kept_;
};

// Mean residual per byte (see the file's head) from which a band counts as noisy;
// measured on real photos.
constexpr double kNoisy = 3.5;

// How a band that is not noisy is compressed, found by compressing its first sixteenth
// (whole rows, at least one) both ways: the choice is close on many photos, and the
// sample gets it right on nearly every band for a sixteenth of the cost of trying both.
// Where the sample's two sizes are within a hundredth of each other, runs are the cheaper.
enum class Way { Runs, Matches };

Way wayOf(libdeflate_compressor* c, const unsigned char* data, size_t size, size_t stride, BandScratch& scratch) {
    const size_t sample = std::max(stride, size / 16 / stride * stride);
    QByteArray &runs = scratch.runs, &matched = scratch.matched;
    if (!deflateRuns(data, sample, false, runs)) return Way::Matches;
    matched.resize(qsizetype(libdeflate_deflate_compress_bound(c, sample)));
    const size_t n = libdeflate_deflate_compress(c, data, sample, matched.data(), size_t(matched.size()));
    if (n == 0) return Way::Runs;
    const double a = double(runs.size()), b = double(n);
    return b < a - a / 100 ? Way::Matches : Way::Runs;
}

// The piece is compressed into the scratch's buffer of the band's size, and handed out
// at its own size: pieces wait for the bands before them, and should not hold a band's
// worth of memory each while they do.
bool compressBand(const unsigned char* data, size_t size, size_t stride, double meanResidual, bool last,
                  BandScratch& scratch, QByteArray& out) {
    QByteArray& piece = scratch.piece;
    libdeflate_compressor* matches = meanResidual >= kNoisy ? scratch.noisy
                                     : wayOf(scratch.smooth, data, size, stride, scratch) == Way::Matches ? scratch.smooth
                                                                                                          : nullptr;
    const bool ok = (matches && deflateMatches(matches, data, size, last, piece)) || deflateRuns(data, size, last, piece);
    if (!ok) return false;
    out = QByteArray(piece.constData(), piece.size());
    return true;
}

// The rows of one band as PNG samples, from a picture whose pixels can be read as they
// are: ARGB32 (straight or with full alpha), RGB32 or Grayscale8 (or RGB32 with equal
// channels for grey samples). Premultiplied pixels with transparency are straightened a
// band at a time, with Qt's own conversion, so the bytes are those of the whole picture
// converted.
class BandRows {
public:
    BandRows(const QImage& pixels, int channels, int y0, int y1) : channels_(channels) {
        const int from = std::max(0, y0 - 1);
        if (channels == 4 && pixels.format() == QImage::Format_ARGB32_Premultiplied) {
            band_ = pixels.copy(0, from, pixels.width(), y1 - from).convertToFormat(QImage::Format_ARGB32);
            offset_ = from;
        } else {
            band_ = pixels;
        }
    }
    bool valid() const { return !band_.isNull(); }
    void samples(int y, unsigned char* out) const { rowSamples(band_, y - offset_, channels_, out); }

private:
    QImage band_;
    int offset_ = 0;
    int channels_;
};

// Compressed pieces go out in band order, each as one IDAT chunk, as soon as the bands
// before it are out; the zlib header goes before the first, the checksum after the last.
// The file's bytes are written outside the lock the compressing threads take to hand in
// their pieces: the thread that finds pieces ready writes them, and goes on with any that
// others hand in meanwhile, so one slow write never holds up the compression.
class OrderedIdat {
public:
    OrderedIdat(int bands, PngSink sink)
        : pieces_(size_t(bands)), sums_(size_t(bands)), lengths_(size_t(bands)), ready_(size_t(bands), 0),
          sink_(std::move(sink)) {}
    // Hands over band b's piece, its data's checksum and length; writes what it can.
    bool deliver(int b, QByteArray piece, uLong sum, size_t length) {
        std::unique_lock<std::mutex> lock(mutex_);
        pieces_[size_t(b)] = std::move(piece);
        sums_[size_t(b)] = sum;
        lengths_[size_t(b)] = length;
        ready_[size_t(b)] = 1;
        if (writing_) return ok_;  // the thread writing takes it up
        writing_ = true;
        std::vector<Chunk> chunks;
        for (;;) {
            while (ok_ && next_ < int(pieces_.size()) && ready_[size_t(next_)]) {
                const size_t n = size_t(next_);
                adler_ = next_ == 0 ? sums_[n] : adler32_combine(adler_, sums_[n], z_off_t(lengths_[n]));
                Chunk c;
                c.first = next_ == 0;
                c.last = next_ + 1 == int(pieces_.size());
                c.adler = adler_;
                c.data = std::move(pieces_[n]);
                pieces_[n] = QByteArray();
                chunks.push_back(std::move(c));
                ++next_;
            }
            if (chunks.empty()) break;
            lock.unlock();
            bool ok = true;
            for (const Chunk& c : chunks) ok = ok && writeIdat(c);
            chunks.clear();
            lock.lock();
            if (!ok) ok_ = false;
        }
        writing_ = false;
        return ok_;
    }
    bool failed() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return !ok_;
    }
    void fail() {
        const std::lock_guard<std::mutex> lock(mutex_);
        ok_ = false;
    }
    // Bytes outside the image data (the head, the end), written while no band is.
    bool write(const char* data, size_t size) { return sink_(data, size); }

private:
    struct Chunk {
        QByteArray data;
        uLong adler = 1;
        bool first = false, last = false;
    };
    static void put32(char* b, quint32 v) {
        b[0] = char(v >> 24), b[1] = char(v >> 16), b[2] = char(v >> 8), b[3] = char(v);
    }
    bool writeIdat(const Chunk& c) {
        char tail[4];
        put32(tail, quint32(c.adler));
        const QByteArrayView head = c.first ? QByteArrayView("\x78\x9c", 2) : QByteArrayView();
        const QByteArrayView end = c.last ? QByteArrayView(tail, 4) : QByteArrayView();
        char header[8];
        put32(header, quint32(head.size() + c.data.size() + end.size()));
        std::memcpy(header + 4, "IDAT", 4);
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header + 4), 4);
        for (QByteArrayView part : {head, QByteArrayView(c.data), end})
            if (!part.isEmpty()) crc = crc32(crc, reinterpret_cast<const Bytef*>(part.data()), uInt(part.size()));
        char trailer[4];
        put32(trailer, quint32(crc));
        return sink_(header, 8) && (head.isEmpty() || sink_(head.data(), size_t(head.size()))) &&
               (c.data.isEmpty() || sink_(c.data.constData(), size_t(c.data.size()))) &&
               (end.isEmpty() || sink_(end.data(), size_t(end.size()))) && sink_(trailer, 4);
    }

    mutable std::mutex mutex_;
    std::vector<QByteArray> pieces_;
    std::vector<uLong> sums_;
    std::vector<size_t> lengths_;
    std::vector<char> ready_;
    // Called by one thread at a time: the one that set writing_, or the writer's own
    // before and after the bands.
    PngSink sink_;
    int next_ = 0;
    uLong adler_ = 1;
    bool ok_ = true;
    bool writing_ = false;
};

}  // namespace

struct PngBandWriter::Idat : OrderedIdat {
    using OrderedIdat::OrderedIdat;
    ScratchShelf scratch;
};

PngBandWriter::PngBandWriter(int width, int height, int colorType, const QByteArray& icc, int rowsPerBand,
                             PngSink sink)
    : width_(width), height_(height), colorType_(colorType), channels_(colorType == 0 ? 1 : colorType == 2 ? 3 : 4),
      icc_(icc) {
    const size_t stride = size_t(std::max(width, 0)) * size_t(channels_) + 1;
    // Bands of about a megabyte of filtered data, the same whatever the number of cores,
    // so the file is the same on any machine.
    rowsPerBand_ = rowsPerBand > 0 ? rowsPerBand : int(std::max<size_t>(1, (size_t(1) << 20) / stride));
    bands_ = height > 0 ? (height + rowsPerBand_ - 1) / rowsPerBand_ : 0;
    idat_ = std::make_unique<Idat>(bands_, std::move(sink));
}

PngBandWriter::~PngBandWriter() = default;

bool PngBandWriter::writeHead() {
    if (width_ <= 0 || height_ <= 0) return false;
    QByteArray head("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    put32(header, quint32(width_));
    put32(header, quint32(height_));
    header.append(char(8)).append(char(colorType_)).append(char(0)).append(char(0)).append(char(0));
    chunk(head, "IHDR", header.constData(), header.size());
    if (!icc_.isEmpty()) {
        // The profile as it is (a name, compression method 0, the deflated bytes).
        uLongf packedSize = compressBound(uLong(icc_.size()));
        QByteArray profile("ICC profile\0\0", 13);
        const qsizetype at = profile.size();
        profile.resize(at + qsizetype(packedSize));
        if (compress2(reinterpret_cast<Bytef*>(profile.data() + at), &packedSize,
                      reinterpret_cast<const Bytef*>(icc_.constData()), uLong(icc_.size()), 9) == Z_OK) {
            profile.resize(at + qsizetype(packedSize));
            chunk(head, "iCCP", profile.constData(), profile.size());
        }
    }
    return idat_->write(head.constData(), size_t(head.size()));
}

void PngBandWriter::writeBand(int b, const QImage& pixels) {
    if (idat_->failed()) return;
    const size_t rowBytes = size_t(width_) * size_t(channels_), stride = rowBytes + 1;
    const int y0 = b * rowsPerBand_, y1 = std::min(height_, y0 + rowsPerBand_);
    const BandRows rows(pixels, channels_, y0, y1);
    if (!rows.valid()) {
        idat_->fail();
        if (!pixels.isNull()) throw std::bad_alloc();  // the band's straightened copy
        return;
    }
    std::vector<unsigned char> cur(rowBytes), prev(rowBytes, 0), trial, filtered(stride * size_t(y1 - y0));
    if (y0 > 0) rows.samples(y0 - 1, prev.data());
    long residual = 0;
    for (int y = y0; y < y1; ++y) {
        rows.samples(y, cur.data());
        residual += filterRow(cur.data(), prev.data(), int(rowBytes), channels_, filtered.data() + stride * size_t(y - y0), trial);
        std::swap(cur, prev);
    }
    const uLong sum = libdeflate_adler32(1, filtered.data(), filtered.size());
    QByteArray piece;
    std::unique_ptr<BandScratch> scratch = idat_->scratch.take();
    if (!compressBand(filtered.data(), filtered.size(), stride, double(residual) / double(filtered.size()), b + 1 == bands_,
                      *scratch, piece))
        return idat_->fail();
    idat_->scratch.put(std::move(scratch));
    idat_->deliver(b, std::move(piece), sum, filtered.size());
}

bool PngBandWriter::failed() const { return idat_->failed(); }

bool PngBandWriter::writeEnd() {
    if (idat_->failed()) return false;
    QByteArray end;
    chunk(end, "IEND", nullptr, 0);
    return idat_->write(end.constData(), size_t(end.size()));
}

bool pngWriteBands(const QImage& pixels, int colorType, const QByteArray& icc, int rowsPerBand, const PngSink& sink) {
    PngBandWriter writer(pixels.width(), pixels.height(), colorType, icc, rowsPerBand, sink);
    if (!writer.writeHead()) return false;
    forEachBand(writer.bands(), size_t(pixels.width()) * 4 * size_t(writer.rowsPerBand()),
                [&](int b) { writer.writeBand(b, pixels); });
    return writer.writeEnd();
}

QByteArray pngEncodeBands(const QImage& pixels, int colorType, const QByteArray& icc, int rowsPerBand) {
    QByteArray png;
    const bool ok = pngWriteBands(pixels, colorType, icc, rowsPerBand, appendTo(png));
    return ok ? png : QByteArray();
}

}  // namespace platform::codec
