// Finds where the last block of a raw deflate stream begins by reading its blocks'
// codes without producing their output: the symbols are decoded (a table for codes of
// up to 11 bits, the rest bit by bit) and matches only counted, which is several times
// cheaper than inflating. Anything unexpected gives up, and the caller inflates instead.
#include "platform/imageio/CodecInternal.h"

#include <cstdint>
#include <cstring>

namespace platform::codec {

namespace {

class Bits {
public:
    Bits(const unsigned char* data, size_t size) : p_(data), n_(size) {}
    // Bits still to come may run past the end only by the zeros that pad the last byte;
    // more is damage.
    bool need(int k) {
        if (count_ >= k) return true;
        if (n_ - at_ >= 8) {
            // Eight bytes at once; the bits loaded past the whole bytes counted are the
            // stream's own next bits, so the next load sets them again to the same.
            uint64_t v;
            std::memcpy(&v, p_ + at_, 8);
            buffer_ |= v << count_;
            const int bytes = (63 - count_) >> 3;
            at_ += size_t(bytes);
            count_ += bytes * 8;
            return true;
        }
        while (count_ < k) {
            if (at_ < n_) {
                buffer_ |= uint64_t(p_[at_++]) << count_;
            } else if (++overrun_ > 8) {
                return false;
            }
            count_ += 8;
        }
        return true;
    }
    uint32_t peek(int k) const { return uint32_t(buffer_ & ((uint64_t(1) << k) - 1)); }
    void drop(int k) {
        buffer_ >>= k;
        count_ -= k;
    }
    bool take(int k, uint32_t& v) {
        if (!need(k)) return false;
        v = peek(k);
        drop(k);
        return true;
    }
    // Position of the next bit to read, from the start of the data.
    size_t position() const { return (at_ + overrun_) * 8 - size_t(count_); }
    // Moves to the next byte boundary, then skips n whole bytes.
    bool skipBytes(size_t n) {
        drop(count_ % 8);
        const size_t held = size_t(count_) / 8;
        if (n <= held) {
            drop(int(n * 8));
            return true;
        }
        n -= held;
        buffer_ = 0;
        count_ = 0;
        if (overrun_ || n > n_ - at_) return false;
        at_ += n;
        return true;
    }

private:
    const unsigned char* p_;
    size_t n_, at_ = 0, overrun_ = 0;
    uint64_t buffer_ = 0;
    int count_ = 0;
};

constexpr int kFastBits = 11;

class Huffman {
public:
    // False for lengths that make no prefix code (an incomplete one is accepted, as a
    // distance code of one symbol is).
    bool build(const uint8_t* lengths, int n) {
        uint16_t count[16] = {};
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        count[0] = 0;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = left * 2 - count[len];
            if (left < 0) return false;
        }
        std::memcpy(count_, count, sizeof count);
        uint16_t offset[16] = {};
        for (int len = 1; len < 15; ++len) offset[len + 1] = uint16_t(offset[len] + count[len]);
        for (int i = 0; i < n; ++i)
            if (lengths[i]) symbols_[offset[lengths[i]]++] = uint16_t(i);
        // The table: each code of up to kFastBits bits, bit-reversed as the stream holds it,
        // fills every entry whose low bits it is.
        std::memset(fast_, 0, sizeof fast_);
        uint32_t code = 0;
        int index = 0;
        for (int len = 1; len <= kFastBits; ++len) {
            for (int k = 0; k < count[len]; ++k, ++code, ++index) {
                uint32_t reversed = 0;
                for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
                for (uint32_t e = reversed; e < (1u << kFastBits); e += 1u << len)
                    fast_[e] = uint16_t(len << 9 | symbols_[index]);
            }
            code <<= 1;
        }
        return true;
    }
    // The next symbol, or -1.
    int decode(Bits& bits) const {
        if (!bits.need(15)) return -1;
        const uint16_t e = fast_[bits.peek(kFastBits)];
        if (e) {
            bits.drop(e >> 9);
            return e & 511;
        }
        // Longer codes, canonically, a bit at a time.
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= int(bits.peek(1));
            bits.drop(1);
            const int count = count_[len];
            if (code - count < first) return symbols_[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    uint16_t count_[16] = {};
    uint16_t symbols_[320] = {};
    uint16_t fast_[1 << kFastBits] = {};
};

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool readDynamicCodes(Bits& bits, Huffman& lit, Huffman& dist) {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint32_t hlit = 0, hdist = 0, hclen = 0;
    if (!bits.take(5, hlit) || !bits.take(5, hdist) || !bits.take(4, hclen)) return false;
    hlit += 257, hdist += 1, hclen += 4;
    if (hlit > 286 || hdist > 30) return false;
    uint8_t codeLengths[19] = {};
    for (uint32_t i = 0; i < hclen; ++i) {
        uint32_t v = 0;
        if (!bits.take(3, v)) return false;
        codeLengths[kOrder[i]] = uint8_t(v);
    }
    Huffman lengthsCode;
    if (!lengthsCode.build(codeLengths, 19)) return false;
    uint8_t lengths[320] = {};
    for (uint32_t i = 0; i < hlit + hdist;) {
        const int s = lengthsCode.decode(bits);
        uint32_t repeat = 0;
        uint8_t value = 0;
        if (s < 0) return false;
        if (s < 16) {
            lengths[i++] = uint8_t(s);
            continue;
        }
        if (s == 16) {
            if (i == 0 || !bits.take(2, repeat)) return false;
            value = lengths[i - 1], repeat += 3;
        } else if (s == 17) {
            if (!bits.take(3, repeat)) return false;
            repeat += 3;
        } else {
            if (!bits.take(7, repeat)) return false;
            repeat += 11;
        }
        if (i + repeat > hlit + hdist) return false;
        while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;
    return lit.build(lengths, int(hlit)) && dist.build(lengths + hlit, int(hdist));
}

}  // namespace

bool deflateLastBlock(const unsigned char* data, size_t size, size_t expectedOutput, size_t* headerBit, int* unusedBits) {
    Bits bits(data, size);
    Huffman lit, dist;
    size_t produced = 0;
    for (;;) {
        const size_t header = bits.position();
        uint32_t final = 0, type = 0;
        if (!bits.take(1, final) || !bits.take(2, type)) return false;
        if (type == 0) {
            if (!bits.skipBytes(0)) return false;
            uint32_t len = 0, nlen = 0;
            if (!bits.take(16, len) || !bits.take(16, nlen) || (len ^ 0xffffu) != nlen || !bits.skipBytes(len))
                return false;
            produced += len;
        } else if (type == 1 || type == 2) {
            if (type == 1) {
                uint8_t lengths[320];
                std::memset(lengths, 8, 144);
                std::memset(lengths + 144, 9, 112);
                std::memset(lengths + 256, 7, 24);
                std::memset(lengths + 280, 8, 8);
                std::memset(lengths + 288, 5, 30);
                if (!lit.build(lengths, 288) || !dist.build(lengths + 288, 30)) return false;
            } else if (!readDynamicCodes(bits, lit, dist)) {
                return false;
            }
            for (;;) {
                const int s = lit.decode(bits);
                if (s < 0 || s > 285) return false;
                if (s < 256) {
                    ++produced;
                    continue;
                }
                if (s == 256) break;
                uint32_t extra = 0, distExtra = 0;
                if (!bits.take(kLengthExtra[s - 257], extra)) return false;
                const int d = dist.decode(bits);
                if (d < 0 || d > 29 || !bits.take(kDistanceExtra[d], distExtra)) return false;
                if (kDistanceBase[d] + distExtra > produced) return false;
                produced += kLengthBase[s - 257] + extra;
            }
        } else {
            return false;
        }
        if (produced > expectedOutput) return false;
        if (final) {
            const size_t end = bits.position();
            if (produced != expectedOutput || (end + 7) / 8 != size) return false;
            *headerBit = header;
            *unusedBits = int(size * 8 - end);
            return true;
        }
    }
}

}  // namespace platform::codec
