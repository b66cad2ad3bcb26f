// Whether a written PNG file decodes whole, found without rebuilding its picture: every
// chunk's checksum, the header, the chunks' order, the compressed data inflated to exactly
// the rows the header promises with a valid filter byte on each, and the data's checksum.
// Undoing the row filters cannot fail, so it is skipped.
//
// Files whose data chunks each hold a complete run of deflate blocks (the encoder here
// writes one such chunk a band) are inflated a chunk at a time with libdeflate, several
// times faster than a stream; a chunk is taken that way only when it inflates by itself
// and ends exactly where its bytes do, so the whole stream inflates to the same rows.
// Any other file, or any doubt, goes through zlib's streaming inflate, which decides.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <QFile>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace platform::codec {

namespace {

enum class Verdict { Whole, Broken, Unproven };

struct Header {
    quint32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
};

quint32 get32(const unsigned char* b) { return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3]; }

bool validHeader(const Header& h) {
    if (h.width == 0 || h.height == 0 || h.width > quint32(kMaxImageSide) || h.height > quint32(kMaxImageSide)) return false;
    if (h.interlace > 1) return false;
    switch (h.colorType) {
    case 0: return h.depth == 1 || h.depth == 2 || h.depth == 4 || h.depth == 8 || h.depth == 16;
    case 3: return h.depth == 1 || h.depth == 2 || h.depth == 4 || h.depth == 8;
    case 2:
    case 4:
    case 6: return h.depth == 8 || h.depth == 16;
    default: return false;
    }
}

// The filtered rows the header promises, pass by pass, and the check of each row's
// filter byte as the inflated data goes by.
class RowFilters {
public:
    explicit RowFilters(const Header& h) {
        static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        const quint64 bits = quint64(kChannels[h.colorType]) * quint64(h.depth);
        auto add = [&](quint64 w, quint64 rows) {
            if (w == 0 || rows == 0) return;
            passes_.push_back({size_t((w * bits + 7) / 8 + 1), rows});
            total_ += passes_.back().stride * rows;
        };
        if (h.interlace == 0) {
            add(h.width, h.height);
        } else {
            static const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
            static const int y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
            for (int p = 0; p < 7; ++p)
                add(h.width > quint32(x0[p]) ? (h.width - x0[p] + dx[p] - 1) / dx[p] : 0,
                    h.height > quint32(y0[p]) ? (h.height - y0[p] + dy[p] - 1) / dy[p] : 0);
        }
        if (!passes_.empty()) rowsLeft_ = passes_[0].rows;
    }
    quint64 remaining() const { return total_ - seen_; }
    bool complete() const { return seen_ == total_; }
    // False when the data runs past the last row or a row's filter byte is not one of the five.
    bool take(const unsigned char* data, size_t n) {
        while (n > 0) {
            if (pass_ == passes_.size()) return false;
            const size_t stride = passes_[pass_].stride;
            if (into_ == 0 && data[0] > 4) return false;
            const size_t step = std::min(n, stride - into_);
            data += step, n -= step, into_ += step, seen_ += step;
            if (into_ == stride) {
                into_ = 0;
                if (--rowsLeft_ == 0 && ++pass_ < passes_.size()) rowsLeft_ = passes_[pass_].rows;
            }
        }
        return true;
    }

private:
    struct Pass {
        size_t stride;
        quint64 rows;
    };
    std::vector<Pass> passes_;
    quint64 total_ = 0, seen_ = 0, rowsLeft_ = 0;
    size_t pass_ = 0, into_ = 0;
};

// The image data a chunk at a time, each chunk a run of deflate blocks of its own.
class ChunkInflater {
public:
    ChunkInflater() : d_(libdeflate_alloc_decompressor()) {}
    ~ChunkInflater() { libdeflate_free_decompressor(d_); }
    // Takes a chunk's data; the one before it is inflated now that it is known not to be the last.
    bool chunk(std::vector<unsigned char>&& data, RowFilters& rows) {
        const bool ok = !held_ || inflate(false, rows);
        held_ = true;
        pending_ = std::move(data);
        return ok;
    }
    bool finish(RowFilters& rows) { return held_ && inflate(true, rows) && rows.complete(); }

private:
    bool inflate(bool last, RowFilters& rows) {
        if (!d_) return false;
        std::vector<unsigned char>& in = pending_;
        size_t from = 0;
        if (first_) {
            // Only a 32K window is taken on trust: a smaller one would bound the distances.
            if (in.size() < 2 || in[0] != 0x78 || (in[0] * 256 + in[1]) % 31 != 0 || (in[1] & 0x20)) return false;
            from = 2;
            first_ = false;
        }
        size_t size = in.size();
        quint32 expected = 0;
        if (last) {
            if (size < from + 4) return false;
            size -= 4;
            expected = get32(in.data() + size);
        } else {
            // A final empty stored block after the chunk's bytes: inflating stops there, and
            // uses all of them, only if the chunk's blocks end at its last byte.
            static const unsigned char kEnd[5] = {0x01, 0x00, 0x00, 0xff, 0xff};
            in.insert(in.end(), kEnd, kEnd + 5);
            size = in.size();
        }
        if (!out_) out_ = std::make_unique_for_overwrite<unsigned char[]>(kMaxOut);
        const size_t room = size_t(std::min<quint64>(rows.remaining(), kMaxOut));
        size_t used = 0, made = 0;
        if (libdeflate_deflate_decompress_ex(d_, in.data() + from, size - from, out_.get(), room, &used, &made) !=
                LIBDEFLATE_SUCCESS ||
            used != size - from || !rows.take(out_.get(), made))
            return false;
        adler_ = quint32(libdeflate_adler32(adler_, out_.get(), made));
        return !last || adler_ == expected;
    }

    // A chunk that inflates to more than this goes through the stream instead (the
    // encoder's bands are about a megabyte).
    static constexpr size_t kMaxOut = 4u << 20;
    libdeflate_decompressor* d_;
    std::vector<unsigned char> pending_;
    std::unique_ptr<unsigned char[]> out_;
    bool held_ = false, first_ = true;
    quint32 adler_ = 1;
};

// The image data as one zlib stream, fed a piece at a time.
class StreamInflater {
public:
    StreamInflater() { ready_ = inflateInit(&z_) == Z_OK; }
    ~StreamInflater() {
        if (ready_) inflateEnd(&z_);
    }
    bool feed(const unsigned char* data, size_t n, RowFilters& rows) {
        if (!ready_) return false;
        if (ended_) return n == 0;
        z_.next_in = const_cast<unsigned char*>(data);
        z_.avail_in = uInt(n);
        while (z_.avail_in > 0 && !ended_) {
            z_.next_out = out_.data();
            z_.avail_out = uInt(out_.size());
            const int r = inflate(&z_, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) return false;
            if (!rows.take(out_.data(), out_.size() - z_.avail_out)) return false;
            ended_ = r == Z_STREAM_END;
            if (r == Z_BUF_ERROR && z_.avail_out != 0) break;  // all input taken
        }
        // Data after the end of the stream is damage too.
        return !ended_ || z_.avail_in == 0;
    }
    bool finish(RowFilters& rows) {
        // The stream may still hold output for the last rows.
        while (ready_ && !ended_) {
            z_.next_in = nullptr;
            z_.avail_in = 0;
            z_.next_out = out_.data();
            z_.avail_out = uInt(out_.size());
            const int r = inflate(&z_, Z_NO_FLUSH);
            const size_t made = out_.size() - z_.avail_out;
            if ((r != Z_OK && r != Z_STREAM_END) || !rows.take(out_.data(), made)) return false;
            ended_ = r == Z_STREAM_END;
            if (!ended_ && made == 0) return false;
        }
        return ended_ && rows.complete();
    }

private:
    z_stream z_{};
    std::array<unsigned char, 65536> out_{};
    bool ready_ = false, ended_ = false;
};

struct Failure {
    const char* why = nullptr;
};

// Walks the file's chunks once, either way of inflating.
Verdict walk(QFile& file, bool byChunk, Failure& failure) {
    auto broken = [&](const char* why) {
        failure.why = why;
        return byChunk ? Verdict::Unproven : Verdict::Broken;
    };
    unsigned char signature[8];
    if (!file.seek(0) || file.read(reinterpret_cast<char*>(signature), 8) != 8 ||
        std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0)
        return broken("not a PNG signature");
    Header header;
    std::unique_ptr<RowFilters> rows;
    ChunkInflater chunks;
    StreamInflater stream;
    bool palette = false, dataSeen = false, dataOver = false;
    std::vector<unsigned char> piece;
    for (bool first = true;; first = false) {
        unsigned char head[8];
        if (file.read(reinterpret_cast<char*>(head), 8) != 8) return broken("the file ends before IEND");
        const quint32 length = get32(head);
        const unsigned char* type = head + 4;
        if (length > 0x7fffffffu) return broken("a chunk's length is out of range");
        for (int i = 0; i < 4; ++i)
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z'))) return broken("a chunk's name is not letters");
        auto is = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
        const bool idat = is("IDAT");
        if (first != is("IHDR")) return broken("IHDR is not the first chunk");
        if (dataSeen && !idat) dataOver = true;
        if (idat && dataOver) return broken("the image data is split by other chunks");
        if (!(type[0] & 0x20) && !idat && !is("IHDR") && !is("PLTE") && !is("IEND"))
            return broken("an unknown critical chunk");
        if (idat && (header.colorType == 3) && !palette) return broken("no palette before the image data");

        // The chunk's data, read whole when it is inflated or looked at, else in pieces
        // for its checksum only.
        quint32 crc = quint32(libdeflate_crc32(0, type, 4));
        const bool whole = is("IHDR") || is("PLTE") || (idat && byChunk);
        if (whole && idat && length > (16u << 20)) return broken("an image data chunk too large to take at once");
        piece.resize(whole ? size_t(length) : std::min<size_t>(length, 65536));
        bool inflates = true;
        for (quint32 left = length; left > 0 || (whole && length == 0);) {
            const size_t n = whole ? size_t(length) : std::min<size_t>(left, piece.size());
            if (n && file.read(reinterpret_cast<char*>(piece.data()), qint64(n)) != qint64(n))
                return broken("the file ends inside a chunk");
            crc = quint32(libdeflate_crc32(crc, piece.data(), n));
            if (idat && !byChunk && inflates) inflates = stream.feed(piece.data(), n, *rows);
            left -= quint32(n);
            if (whole) break;
        }
        unsigned char stored[4];
        if (file.read(reinterpret_cast<char*>(stored), 4) != 4) return broken("the file ends inside a chunk");
        if (get32(stored) != crc) return broken("a chunk's checksum does not match");
        if (!inflates) return broken("the image data does not inflate to its rows");

        if (is("IHDR")) {
            if (length != 13) return broken("IHDR has the wrong length");
            header.width = get32(piece.data());
            header.height = get32(piece.data() + 4);
            header.depth = piece[8];
            header.colorType = piece[9];
            header.interlace = piece[12];
            if (!validHeader(header) || piece[10] != 0 || piece[11] != 0) return broken("IHDR is not valid");
            rows = std::make_unique<RowFilters>(header);
        } else if (is("PLTE")) {
            if (length == 0 || length % 3 != 0 || length > 768) return broken("PLTE has the wrong length");
            palette = true;
        } else if (idat) {
            dataSeen = true;
            if (byChunk && !chunks.chunk(std::move(piece), *rows)) return broken("an image data chunk does not inflate alone");
            piece = std::vector<unsigned char>();
        } else if (is("IEND")) {
            if (!dataSeen) return broken("no image data");
            const bool complete = byChunk ? chunks.finish(*rows) : stream.finish(*rows);
            return complete ? Verdict::Whole : broken("the image data is not complete or its checksum does not match");
        }
    }
}

}  // namespace

bool pngDecodesWhole(QFile& file, const QString& name) {
    Failure failure;
    if (walk(file, true, failure) == Verdict::Whole) return true;
    if (walk(file, false, failure) == Verdict::Whole) return true;
    log(u"%@: PNG data is corrupt (%@)", name, QString::fromLatin1(failure.why ? failure.why : "unknown"));
    return false;
}

}  // namespace platform::codec
