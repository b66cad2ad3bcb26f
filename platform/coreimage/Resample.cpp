// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/Resample.h"

#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/PixelPack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace platform {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Lobes of the kernel on each side.
constexpr double kLobes = 3.0;
// A shrink leaves the kernel at least this many input pixels per output pixel after the
// whole-factor reduction: below four the tent's own softness starts to show against a
// pure kernel; above it the kernel's taps (and cost) grow with the factor.
constexpr double kKernelShrink = 4.0;

using V4f = float __attribute__((vector_size(16)));

inline V4f load4(const float* p) {
    V4f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store4(float* p, V4f v) { std::memcpy(p, &v, sizeof v); }

// Fixed point: weights in units of 2^-14 (a weight of one and the largest of an edge's
// renormalised weights fit in 16 bits); horizontally filtered rows keep 6 fractional bits.
constexpr int kWeightBits = 14;
constexpr int kMidBits = 6;
constexpr int kAcrossShift = kWeightBits - kMidBits;
constexpr int kDownShift = kWeightBits + kMidBits;

// Weights rounded to units of 2^-14, the largest taking up the rounding so that the sum
// is exactly one: flat areas stay exact.
void fixedWeights(const std::vector<double>& w, qint16* dst) {
    int sum = 0;
    size_t largest = 0;
    for (size_t t = 0; t < w.size(); ++t) {
        dst[t] = qint16(std::lround(w[t] * (1 << kWeightBits)));
        sum += dst[t];
        if (std::abs(w[t]) > std::abs(w[largest])) largest = t;
    }
    dst[largest] = qint16(dst[largest] + ((1 << kWeightBits) - sum));
}

// One input row filtered across into out pixels of 4 values (b, g, r, a as stored), each
// the weighted sum of the `span` pixels from window[i] on, with kMidBits fractional bits.
// `pairs` holds each output pixel's weights two to a 32-bit word (low half first), span / 2
// words a pixel. Two pixels a step: their bytes interleaved channel by channel, so one
// multiply-add gives both pixels' weighted share of each channel.
void filterAcross(const quint32* in, const int* window, const qint32* pairs, int span, int out, qint16* dst) {
    const int half = span / 2;
    for (int i = 0; i < out; ++i) {
        const quint32* p = in + window[i];
        const qint32* w = pairs + size_t(i) * size_t(half);
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        __m128i acc = _mm_set1_epi32(1 << (kAcrossShift - 1));
        for (int t = 0; t < half; ++t) {
            __m128i px = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 2 * t));
            px = _mm_unpacklo_epi8(_mm_unpacklo_epi8(px, _mm_srli_si128(px, 4)), zero);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(px, _mm_set1_epi32(w[t])));
        }
        acc = _mm_srai_epi32(acc, kAcrossShift);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + size_t(i) * 4), _mm_packs_epi32(acc, acc));
#else
        int acc[4] = {0, 0, 0, 0};
        for (int t = 0; t < span; ++t) {
            const int wt = qint16(t % 2 ? quint32(w[t / 2]) >> 16 : quint32(w[t / 2]) & 0xffff);
            for (int c = 0; c < 4; ++c) acc[c] += wt * int((p[t] >> (8 * c)) & 0xff);
        }
        for (int c = 0; c < 4; ++c)
            dst[size_t(i) * 4 + size_t(c)] = qint16(std::clamp((acc[c] + (1 << (kAcrossShift - 1))) >> kAcrossShift, -32768, 32767));
#endif
    }
}


// n filtered rows weighed into one output row of `pixels` ARGB32 premultiplied pixels:
// rounded, held to [0, 255] and each colour to at most its alpha.
// `opaque`: alpha is 255 whatever the alpha values say (RGB32 input, whose fourth byte is
// not guaranteed). Pixels [first, pixels) of the row.
void filterDown(const qint16* const* rows, const qint16* w, const qint32* pairs, int n, int first, int pixels, bool opaque,
                quint32* dst) {
    const int values = pixels * 4;
    int k = first * 4;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i forced = _mm_set1_epi32(opaque ? int(0xff000000u) : 0);
    const __m128i half = _mm_set1_epi32(1 << (kDownShift - 1));
    for (; k + 8 <= values; k += 8) {
        __m128i lo = half, hi = half;
        int t = 0;
        for (; t + 1 < n; t += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + k));
            const __m128i wt = _mm_set1_epi32(pairs[t / 2]);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), wt));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), wt));
        }
        if (t < n) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + k));
            const __m128i wt = _mm_set1_epi32(pairs[t / 2]);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, zero), wt));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, zero), wt));
        }
        const __m128i v16 = _mm_packs_epi32(_mm_srai_epi32(lo, kDownShift), _mm_srai_epi32(hi, kDownShift));
        const __m128i v8 = _mm_or_si128(_mm_packus_epi16(v16, v16), forced);
        __m128i alpha = _mm_srli_epi32(v8, 24);
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k / 4), _mm_min_epu8(v8, alpha));
    }
#endif
    for (; k < values; k += 4) {
        int v[4];
        for (int c = 0; c < 4; ++c) {
            int acc = 1 << (kDownShift - 1);
            for (int t = 0; t < n; ++t) acc += w[t] * rows[t][k + c];
            v[c] = std::clamp(acc >> kDownShift, 0, 255);
        }
        if (opaque) v[3] = 255;
        for (int c = 0; c < 3; ++c) v[c] = std::min(v[c], v[3]);
        dst[k / 4] = (quint32(v[3]) << 24) | (quint32(v[2]) << 16) | (quint32(v[1]) << 8) | quint32(v[0]);
    }
}

double sinc(double x) {
    if (x == 0.0) return 1.0;
    const double px = kPi * x;
    return std::sin(px) / px;
}
double lanczos(double x) { return std::abs(x) < kLobes ? sinc(x) * sinc(x / kLobes) : 0.0; }

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define RESAMPLE_AVX2 1
// filterAcross with AVX2: two output pixels a step, one in each half of the register, four
// taps at a time. Of each four pixels' bytes, pixels 0 and 2 are interleaved channel by
// channel, and 1 and 3, so two multiply-adds take all four. `lanes` holds, for each pair
// of output pixels and each four taps, the weight words of taps (0, 2) and (1, 3), each
// repeated over its pixel's half of the register.
__attribute__((target("avx2"))) void filterAcrossAvx2(const quint32* in, const int* window, const qint32* pairs,
                                                      const qint32* lanes, int span, int out, qint16* dst) {
    const int groups = span / 4;
    const __m256i zero = _mm256_setzero_si256();
    int i = 0;
    for (; i + 1 < out; i += 2) {
        const quint32* p0 = in + window[i];
        const quint32* p1 = in + window[i + 1];
        const auto* w = reinterpret_cast<const __m256i*>(lanes + size_t(i / 2) * size_t(groups) * 16);
        __m256i acc = _mm256_set1_epi32(1 << (kAcrossShift - 1));
        for (int g = 0; g < groups; ++g) {
            const __m256i px = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + 4 * g))),
                                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1 + 4 * g)), 1);
            const __m256i lo = _mm256_unpacklo_epi8(px, zero), hi = _mm256_unpackhi_epi8(px, zero);
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpacklo_epi16(lo, hi), _mm256_loadu_si256(w + 2 * g)));
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpackhi_epi16(lo, hi), _mm256_loadu_si256(w + 2 * g + 1)));
        }
        const __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(acc, kAcrossShift), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + size_t(i) * 4), _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + size_t(i) * 4 + 4), _mm256_extracti128_si256(v, 1));
    }
    if (i < out) filterAcross(in, window + i, pairs + size_t(i) * size_t(span / 2), span, out - i, dst + size_t(i) * 4);
}

// The same as filterDown, four pixels a step.
__attribute__((target("avx2"))) void filterDownAvx2(const qint16* const* rows, const qint16* w, const qint32* pairs, int n,
                                                    int pixels, bool opaque, quint32* dst) {
    const int values = pixels * 4;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i half = _mm256_set1_epi32(1 << (kDownShift - 1));
    const __m128i forced = _mm_set1_epi32(opaque ? int(0xff000000u) : 0);
    int k = 0;
    for (; k + 16 <= values; k += 16) {
        __m256i lo = half, hi = half;
        int t = 0;
        for (; t + 1 < n; t += 2) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t] + k));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t + 1] + k));
            const __m256i wt = _mm256_set1_epi32(pairs[t / 2]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), wt));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), wt));
        }
        if (t < n) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t] + k));
            const __m256i wt = _mm256_set1_epi32(pairs[t / 2]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, zero), wt));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, zero), wt));
        }
        // Each half of the register holds two pixels in order; their bytes are gathered.
        const __m256i v16 = _mm256_packs_epi32(_mm256_srai_epi32(lo, kDownShift), _mm256_srai_epi32(hi, kDownShift));
        const __m256i v8 = _mm256_permute4x64_epi64(_mm256_packus_epi16(v16, v16), 0x08);
        const __m128i v = _mm_or_si128(_mm256_castsi256_si128(v8), forced);
        __m128i alpha = _mm_srli_epi32(v, 24);
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k / 4), _mm_min_epu8(v, alpha));
    }
    filterDown(rows, w, pairs, n, k / 4, pixels, opaque, dst);
}

bool hasAvx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

}  // namespace

int resampleBoxFactor(int in, int out) {
    if (out <= 0 || in <= out) return 1;
    return std::max(1, int(std::floor(double(in) / (kKernelShrink * double(out)))));
}

void Resampler::Axis::plan(int inSize, int outSize) {
    in = inSize;
    out = outSize;
    box = resampleBoxFactor(in, out);
    reduced = (in + box - 1) / box;
    // Tent of half-width `box` about the reduced pixel's centre (i + 0.5) * box, sampled at
    // the input pixels' centres: offsets m from i * box where the weight is above zero.
    pre.clear();
    preLo = 0;
    if (box > 1) {
        const double centre = box / 2.0;
        preLo = int(std::floor(centre - 0.5 - box)) + 1;
        for (int m = preLo; std::abs(m + 0.5 - centre) < box; ++m) pre.push_back(float(1.0 - std::abs(m + 0.5 - centre) / box));
    } else {
        pre.push_back(1.0f);
    }
    start.assign(size_t(out), 0);
    count.assign(size_t(out), 0);
    if (in == out) {
        taps = 1;
        weights.assign(size_t(out), 1.0f);
        fixed.assign(size_t(out), qint16(1 << kWeightBits));
        for (int i = 0; i < out; ++i) {
            start[size_t(i)] = i;
            count[size_t(i)] = 1;
        }
        pairFixed();
        return;
    }
    // Reduced pixels per output pixel, from the true (fractional) reduced size so that a
    // partly covered last reduced pixel does not move the picture.
    const double scale = double(in) / double(box) / double(out);
    const double stretch = std::max(1.0, scale);  // the kernel widens when shrinking
    const double support = kLobes * stretch;
    std::vector<std::vector<double>> all(static_cast<size_t>(out));
    taps = 1;
    for (int i = 0; i < out; ++i) {
        const double centre = (i + 0.5) * scale;
        int lo = std::max(0, int(std::floor(centre - support - 0.5)));
        int hi = std::min(reduced - 1, int(std::ceil(centre + support - 0.5)));
        std::vector<double> w;
        double sum = 0;
        for (int j = lo; j <= hi; ++j) {
            const double v = lanczos((j + 0.5 - centre) / stretch);
            w.push_back(v);
            sum += v;
        }
        // Drop the zero weights at both ends (taps beyond the kernel's reach).
        size_t a = 0, b = w.size();
        while (a < b && w[a] == 0.0) ++a;
        while (b > a && w[b - 1] == 0.0) --b;
        if (a == b || sum == 0.0) {
            // Nothing in reach (cannot happen for sizes of at least one): nearest pixel.
            const int j = std::clamp(int(centre), 0, reduced - 1);
            all[size_t(i)] = {1.0};
            start[size_t(i)] = j;
            count[size_t(i)] = 1;
            continue;
        }
        // Near the edges the kernel is cut; what remains is scaled back to a sum of one.
        std::vector<double> kept(w.begin() + std::ptrdiff_t(a), w.begin() + std::ptrdiff_t(b));
        for (double& v : kept) v /= sum;
        start[size_t(i)] = lo + int(a);
        count[size_t(i)] = int(kept.size());
        taps = std::max(taps, int(kept.size()));
        all[size_t(i)] = std::move(kept);
    }
    weights.assign(size_t(out) * size_t(taps), 0.0f);
    fixed.assign(size_t(out) * size_t(taps), 0);
    for (int i = 0; i < out; ++i) {
        for (size_t t = 0; t < all[size_t(i)].size(); ++t) weights[size_t(i) * size_t(taps) + t] = float(all[size_t(i)][t]);
        fixedWeights(all[size_t(i)], fixed.data() + size_t(i) * size_t(taps));
    }
    pairFixed();
}

void Resampler::Axis::pairFixed() {
    pairsPer = (taps + 1) / 2;
    span = (taps + 3) / 4 * 4;
    const int groups = span / 4;
    pairs.assign(size_t(out) * size_t(pairsPer), 0);
    window.assign(size_t(out), 0);
    windowPairs.assign(size_t(out) * size_t(span / 2), 0);
    lanes.assign(size_t((out + 1) / 2) * size_t(groups) * 16, 0);
    auto put = [](qint32* words, int t, qint16 w) { words[t / 2] |= qint32(quint32(quint16(w)) << (16 * (t % 2))); };
    std::vector<qint16> inWindow(static_cast<size_t>(span));
    for (int i = 0; i < out; ++i) {
        const qint16* w = fixed.data() + size_t(i) * size_t(taps);
        // Moved back from the far edge so that every pixel of the window is inside.
        window[size_t(i)] = std::max(0, std::min(start[size_t(i)], in - span));
        const int offset = start[size_t(i)] - window[size_t(i)];
        std::fill(inWindow.begin(), inWindow.end(), qint16(0));
        for (int t = 0; t < count[size_t(i)]; ++t) {
            put(pairs.data() + size_t(i) * size_t(pairsPer), t, w[t]);
            inWindow[size_t(offset + t)] = w[t];
        }
        for (int t = 0; t < span; ++t) put(windowPairs.data() + size_t(i) * size_t(span / 2), t, inWindow[size_t(t)]);
        for (int g = 0; g < groups; ++g)
            for (int k = 0; k < 2; ++k) {
                const qint32 word = qint32(quint32(quint16(inWindow[size_t(4 * g + k)])) |
                                           (quint32(quint16(inWindow[size_t(4 * g + k + 2)])) << 16));
                qint32* dst = lanes.data() + (size_t(i / 2) * size_t(groups) + size_t(g)) * 16 + size_t(k) * 8 + size_t(i % 2) * 4;
                std::fill(dst, dst + 4, word);
            }
    }
}

std::pair<int, int> Resampler::Axis::inputSpan(int first, int last) const {
    if (first >= last) return {0, 0};
    int lo = start[size_t(first)], hi = lo;
    for (int i = first; i < last; ++i) {
        lo = std::min(lo, start[size_t(i)]);
        hi = std::max(hi, start[size_t(i)] + count[size_t(i)]);
    }
    return {std::max(0, lo * box + preLo), std::min(in, (hi - 1) * box + preLo + int(pre.size()))};
}

Resampler::Resampler(int inWidth, int inHeight, int outWidth, int outHeight) {
    x_.plan(inWidth, outWidth);
    y_.plan(inHeight, outHeight);
}

int Resampler::bandRows() const { return bandRows(y_.out); }

int Resampler::bandRows(int rows) const {
    // Each band recomputes the input rows that its first output row shares with the band
    // before it, so bands are many times taller than the kernel is high; and there are
    // enough of them for every thread to take several.
    const int minRows = std::max(16, int(std::ceil(8.0 * y_.taps * y_.out / std::max(1, y_.reduced))));
    const int share = (rows + 2 * threadCount() - 1) / (2 * threadCount());
    return std::max(1, std::min(y_.out, std::max(minRows, share)));
}

void Resampler::run(int rowFirst, int rowLast, int colFirst, int colLast, const Fetch& fetch, const Emit& store) const {
    if (rowFirst >= rowLast || colFirst >= colLast) return;
    const int cols = colLast - colFirst;
    // Reduced and input columns this span of output columns reads.
    int rc0 = x_.start[size_t(colFirst)], rc1 = rc0;
    for (int i = colFirst; i < colLast; ++i) {
        rc0 = std::min(rc0, x_.start[size_t(i)]);
        rc1 = std::max(rc1, x_.start[size_t(i)] + x_.count[size_t(i)]);
    }
    const int bx = x_.box, by = y_.box;
    const int ic0 = std::max(0, rc0 * bx + x_.preLo), ic1 = std::min(x_.in, (rc1 - 1) * bx + x_.preLo + int(x_.pre.size()));
    const int ring = y_.taps;

    std::vector<float> inputRow(size_t(ic1 - ic0) * 4);
    std::vector<float> blockSum(by > 1 ? inputRow.size() : 0);
    std::vector<float> reducedRow(bx > 1 ? size_t(rc1 - rc0) * 4 : 0);
    std::vector<float> rows(size_t(ring) * size_t(cols) * 4);
    std::vector<float> acc(size_t(cols) * 4);

    // One row of the reduced picture (input rows weighed by the tent, then its columns),
    // then filtered across into its slot of the ring. Tent weights that fall outside the
    // picture are left out and the rest scaled back to a sum of one.
    auto makeRow = [&](int r) {
        const float* line = inputRow.data();
        if (by == 1) {
            fetch(r, ic0, ic1, inputRow.data());
        } else {
            std::fill(blockSum.begin(), blockSum.end(), 0.0f);
            float total = 0;
            for (size_t m = 0; m < y_.pre.size(); ++m) {
                const int y = r * by + y_.preLo + int(m);
                if (y < 0 || y >= y_.in) continue;
                const float w = y_.pre[m];
                fetch(y, ic0, ic1, inputRow.data());
                for (size_t k = 0; k < blockSum.size(); ++k) blockSum[k] += w * inputRow[k];
                total += w;
            }
            const float inv = 1.0f / total;
            for (float& v : blockSum) v *= inv;
            line = blockSum.data();
        }
        if (bx > 1) {
            const int n = int(x_.pre.size());
            for (int c = rc0; c < rc1; ++c) {
                const int x0 = c * bx + x_.preLo;
                V4f s = {0, 0, 0, 0};
                float total = 0;
                for (int m = std::max(0, -x0); m < n && x0 + m < x_.in; ++m) {
                    s += x_.pre[size_t(m)] * load4(line + size_t(x0 + m - ic0) * 4);
                    total += x_.pre[size_t(m)];
                }
                store4(reducedRow.data() + size_t(c - rc0) * 4, s * (1.0f / total));
            }
            line = reducedRow.data();
        }
        float* dst = rows.data() + size_t(r % ring) * size_t(cols) * 4;
        const int taps = x_.taps;
        for (int i = colFirst; i < colLast; ++i) {
            const float* w = x_.weights.data() + size_t(i) * size_t(taps);
            const float* p = line + size_t(x_.start[size_t(i)] - rc0) * 4;
            const int n = x_.count[size_t(i)];
            V4f s = {0, 0, 0, 0};
            for (int t = 0; t < n; ++t) s += w[t] * load4(p + size_t(t) * 4);
            store4(dst + size_t(i - colFirst) * 4, s);
        }
    };

    int next = y_.start[size_t(rowFirst)];
    for (int j = rowFirst; j < rowLast; ++j) {
        const int s = y_.start[size_t(j)], n = y_.count[size_t(j)];
        next = std::max(next, s);
        for (; next < s + n; ++next) makeRow(next);
        const float* w = y_.weights.data() + size_t(j) * size_t(y_.taps);
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (int t = 0; t < n; ++t) {
            const float wt = w[t];
            const float* src = rows.data() + size_t((s + t) % ring) * size_t(cols) * 4;
            float* a = acc.data();
            for (size_t k = 0; k < acc.size(); ++k) a[k] += wt * src[k];
        }
        store(j, acc.data());
    }
}

void Resampler::runPixels(int rowFirst, int rowLast, bool opaque, const SourceRow& source, const TargetRow& target,
                          Loops loops) const {
    if (rowFirst >= rowLast) return;
    const int cols = x_.out, ring = y_.taps;
    const size_t rowValues = size_t(cols) * 4;
    std::vector<qint16> rows(size_t(ring) * rowValues);
    // A row narrower than the horizontal window is read from a copy padded with zeros.
    const int span = x_.span;
    std::vector<quint32> scratch(size_t(x_.in));
    std::vector<quint32> padded(x_.in < span ? size_t(span) : 0);
#if RESAMPLE_AVX2
    const bool avx2 = loops == Loops::Widest && hasAvx2();
#endif
    std::vector<const qint16*> taps(static_cast<size_t>(ring));
    int next = y_.start[size_t(rowFirst)];
    for (int j = rowFirst; j < rowLast; ++j) {
        const int s = y_.start[size_t(j)], n = y_.count[size_t(j)];
        next = std::max(next, s);
        for (; next < s + n; ++next) {
            const quint32* line = source(next, scratch.data());
            if (!padded.empty()) line = static_cast<const quint32*>(std::memcpy(padded.data(), line, size_t(x_.in) * 4));
            qint16* dst = rows.data() + size_t(next % ring) * rowValues;
#if RESAMPLE_AVX2
            if (avx2) {
                filterAcrossAvx2(line, x_.window.data(), x_.windowPairs.data(), x_.lanes.data(), span, cols, dst);
                continue;
            }
#endif
            filterAcross(line, x_.window.data(), x_.windowPairs.data(), span, cols, dst);
        }
        for (int t = 0; t < n; ++t) taps[size_t(t)] = rows.data() + size_t((s + t) % ring) * rowValues;
        const qint16* w = y_.fixed.data() + size_t(j) * size_t(y_.taps);
        const qint32* pairs = y_.pairs.data() + size_t(j) * size_t(y_.pairsPer);
#if RESAMPLE_AVX2
        if (avx2) {
            filterDownAvx2(taps.data(), w, pairs, n, cols, opaque, target(j));
            continue;
        }
#endif
        filterDown(taps.data(), w, pairs, n, 0, cols, opaque, target(j));
    }
}

namespace {

// sRGB transfer, for the linear-light variant.
float decodeSrgb(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }
float encodeSrgb(float v) { return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f; }

const std::array<float, 256>& decodeTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) t[size_t(i)] = decodeSrgb(float(i) / 255.0f);
        return t;
    }();
    return table;
}

}  // namespace

QImage resampleImage(const QImage& image, int width, int height, ResampleLight light) {
    if (image.isNull() || width < 1 || height < 1) return {};
    QImage src = image;
    const QImage::Format f = src.format();
    if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied)
        src = src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (width == src.width() && height == src.height()) return src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return {};
    resampleRows(src, out, 0, height, light);
    return out;
}

void resampleRows(const QImage& src, QImage& out, int rowFirst, int rowLast, ResampleLight light) {
    const int width = out.width(), height = out.height();
    rowFirst = std::max(0, rowFirst);
    rowLast = std::min(height, rowLast);
    if (rowFirst >= rowLast) return;
    const QImage::Format format = src.format();
    const bool linear = light == ResampleLight::Linear;
    // Written through bits() only where `out` is the sole owner of its pixels.
    uchar* const outBase = out.bits();
    const qsizetype outStride = out.bytesPerLine();
    const uchar* const inBase = src.constBits();
    const qsizetype inStride = src.bytesPerLine();

    const Resampler::Fetch fetch = [&](int y, int x0, int x1, float* dst) {
        const quint32* p = reinterpret_cast<const quint32*>(inBase + inStride * y) + x0;
        const int n = x1 - x0;
        const float k = 1.0f / 255.0f;
        if (!linear) {
            for (int i = 0; i < n; ++i) {
                const quint32 v = p[i];
                float a = float(v >> 24) * k;
                if (format == QImage::Format_RGB32) a = 1.0f;
                V4f c = {float((v >> 16) & 0xff), float((v >> 8) & 0xff), float(v & 0xff), 0.0f};
                c *= k;
                // Straight colours are premultiplied here.
                if (format == QImage::Format_ARGB32) c *= a;
                c[3] = a;
                store4(dst + size_t(i) * 4, c);
            }
            return;
        }
        const auto& lut = decodeTable();
        for (int i = 0; i < n; ++i) {
            const quint32 v = p[i];
            const int ai = format == QImage::Format_RGB32 ? 255 : int(v >> 24);
            const int ci[3] = {int((v >> 16) & 0xff), int((v >> 8) & 0xff), int(v & 0xff)};
            float* d = dst + size_t(i) * 4;
            const float a = float(ai) * k;
            d[3] = a;
            for (int c = 0; c < 3; ++c) {
                if (ai == 255 || format == QImage::Format_ARGB32) d[c] = lut[size_t(ci[c])] * a;
                else d[c] = ai == 0 ? 0.0f : decodeSrgb(std::min(1.0f, float(ci[c]) / float(ai))) * a;
            }
        }
    };
    const Resampler::Emit store = [&](int row, const float* rgba) {
        auto* d = reinterpret_cast<quint32*>(outBase + outStride * row);
        if (!linear) {
            pixelpack::packRow(rgba, d, width);
            return;
        }
        for (int i = 0; i < width; ++i) {
            const float* s = rgba + size_t(i) * 4;
            const float a = s[3] >= 0.0f ? std::min(s[3], 1.0f) : 0.0f;
            float c[3] = {0, 0, 0};
            if (a > 0.0f)
                for (int k = 0; k < 3; ++k) c[k] = encodeSrgb(std::clamp(s[k] / a, 0.0f, 1.0f)) * a;
            auto q = [](float v) { return quint32(std::lround(v * 255.0f)); };
            d[i] = (q(a) << 24) | (q(c[0]) << 16) | (q(c[1]) << 8) | q(c[2]);
        }
    };

    const Resampler resampler(src.width(), src.height(), width, height);
    const int band = resampler.bandRows(rowLast - rowFirst);
    const int bands = (rowLast - rowFirst + band - 1) / band;
    const double costPerBand = double(band) * width * 64.0;
    const auto bandRows = [&](int b0, int b1) {
        return std::pair<int, int>(rowFirst + b0 * band, std::min(rowLast, rowFirst + b1 * band));
    };
    if (!linear && resampler.fixedPoint()) {
        const Resampler::SourceRow source = [&](int y, quint32* scratch) {
            const auto* p = reinterpret_cast<const quint32*>(inBase + inStride * y);
            if (format != QImage::Format_ARGB32) return p;
            for (int x = 0; x < src.width(); ++x) scratch[x] = qPremultiply(p[x]);
            return static_cast<const quint32*>(scratch);
        };
        const Resampler::TargetRow target = [&](int row) { return reinterpret_cast<quint32*>(outBase + outStride * row); };
        // A run of bands on one thread shares its ring of filtered rows.
        parallelFor(0, bands, [&](int b0, int b1) {
            const auto [first, last] = bandRows(b0, b1);
            resampler.runPixels(first, last, format == QImage::Format_RGB32, source, target);
        }, costPerBand);
        return;
    }
    parallelFor(0, bands, [&](int b0, int b1) {
        const auto [first, last] = bandRows(b0, b1);
        resampler.run(first, last, 0, width, fetch, store);
    }, costPerBand);
}

}  // namespace platform
