// Blurs and the filters built on a blur (sharpening, noise reduction). Blurs read zeros
// beyond their input's extent, so their edges fade to transparent and their extent grows.
// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/PixelPack.h"
#include "platform/coreimage/kernels/KernelSupport.h"
#include "platform/graphics/YUp.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <map>

#include <QImage>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

// The widest loops are made once per instruction set, and the dynamic loader picks one for
// the processor when a program starts (target_clones). Not under ThreadSanitizer: the
// picker is a resolver the loader runs before the checker's runtime is up, and, being
// instrumented, it crashes every program built with this file before main.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define BRISKO_BLUR_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#else
#define BRISKO_BLUR_CLONES(...)
#endif

namespace platform::ci {

QRectF grownExtent(const NodePtr& in, double m) {
    const QRectF e = in ? in->extent() : QRectF();
    if (e.isEmpty() || isInfinite(e)) return e;
    return e.adjusted(-m, -m, m, m);
}

namespace {

// ---- separable blurs -------------------------------------------------------------------
// A blur along one direction is a chain of box passes (or one sampled kernel) applied to
// lines of positions. A line holds E floats per position (4 for a row; 4 x a block of
// columns for a vertical pass, so memory is read row by row). Positions outside the
// input's range are zero. Lines and blocks are independent, so banding never changes
// results, and the sliding sums make the cost per pixel the same at any radius.

struct LineBlur {
    std::vector<int> boxes;    // half widths of successive box passes
    std::vector<float> taps;   // or one sampled kernel (odd length)
    int reach() const {
        if (!taps.empty()) return int(taps.size() / 2);
        int t = 0;
        for (int h : boxes) t += h;
        return t;
    }
    bool empty() const { return boxes.empty() && taps.empty(); }
};

using V4f = float __attribute__((vector_size(16)));
using V4i = int __attribute__((vector_size(16)));
inline V4f load4(const float* p) {
    V4f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// W floats of kernelSums, summed in registers.
template <int W>
inline void kernelChunk(const float* __restrict p, float* __restrict o, size_t step, const float* __restrict k, size_t K) {
    float acc[W] = {};
    for (size_t t = 0; t < K; ++t) {
        const float kt = k[t];
        const float* q = p + t * step;
        for (int j = 0; j < W; ++j) acc[j] += kt * q[j];
    }
    for (int j = 0; j < W; ++j) o[j] = acc[j];
}

// o[c] = the sum of k[t] p[t step + c] over the taps in order, for c in [0, count) (a
// multiple of 4). The sums are made in registers, sixteen floats at a time, as wide as the
// processor allows (the same operations on each float, so the same sums).
BRISKO_BLUR_CLONES("avx", "default")
void kernelSums(const float* __restrict p, float* __restrict o, size_t step, size_t count, const float* __restrict k, size_t K) {
    size_t c = 0;
    for (; c + 16 <= count; c += 16) kernelChunk<16>(p + c, o + c, step, k, K);
    for (; c < count; c += 4) kernelChunk<4>(p + c, o + c, step, k, K);
}

// out at i (written at out + i outStep) = the sum of k[t] in at i + t over the taps in
// order, for i in [0, n - taps + 1), E floats a position (a multiple of 4). A float of a
// position reads the same float of the following positions, so consecutive positions
// written next to each other are one long line of floats.
void kernelPass(const float* in, float* out, size_t outStep, int n, int E, const std::vector<float>& k) {
    const int m = n - int(k.size()) + 1;
    if (m <= 0) return;
    const size_t step = size_t(E);
    if (outStep == step) {
        kernelSums(in, out, step, size_t(m) * step, k.data(), k.size());
        return;
    }
    for (int i = 0; i < m; ++i) kernelSums(in + size_t(i) * step, out + size_t(i) * outStep, step, step, k.data(), k.size());
}

// One step of a box's window over E channels: acc += add - sub (in double), o = acc inv.
// Channels are independent, so this runs as wide as the processor allows, to the same bits.
BRISKO_BLUR_CLONES("avx", "default")
void slideBox(double* __restrict acc, const float* __restrict add, const float* __restrict sub, float* __restrict o, int E,
              double inv) {
    for (int c = 0; c < E; ++c) {
        acc[c] += double(add[c]) - double(sub[c]);
        o[c] = float(acc[c] * inv);
    }
}

// Box average of half width h for positions [p0, p1): out at p = mean of the input over
// [p - h, p + h], the input being read at positions [inStart, inEnd) and zero elsewhere.
// Reads and writes through steps, so rows and blocks of columns need no copying.
template <int E4>
void boxRange(const float* in, int inStart, int inEnd, size_t inStep, float* out, int p0, int p1, size_t outStep, int E, int h,
              double* acc) {
    if constexpr (E4 > 0) E = E4;
    const double inv = 1.0 / (2 * h + 1);
    for (int c = 0; c < E; ++c) acc[c] = 0.0;
    for (int q = std::max(p0 - h, inStart); q < std::min(p0 + h + 1, inEnd); ++q) {
        const float* v = in + size_t(q - inStart) * inStep;
        for (int c = 0; c < E; ++c) acc[c] += v[c];
    }
    for (int c = 0; c < E; ++c) out[c] = float(acc[c] * inv);
    for (int p = p0 + 1; p < p1; ++p) {
        const int qa = p + h, qs = p - h - 1;
        const bool hasAdd = qa >= inStart && qa < inEnd, hasSub = qs >= inStart && qs < inEnd;
        // A position outside the line has no address: a pointer to it is formed only where
        // the position is inside.
        const auto at = [&](int q) { return in + size_t(q - inStart) * inStep; };
        float* o = out + size_t(p - p0) * outStep;
        if (hasAdd && hasSub) {
            slideBox(acc, at(qa), at(qs), o, E, inv);
        } else {
            if (hasAdd)
                for (int c = 0; c < E; ++c) acc[c] += at(qa)[c];
            if (hasSub)
                for (int c = 0; c < E; ++c) acc[c] -= at(qs)[c];
            for (int c = 0; c < E; ++c) o[c] = float(acc[c] * inv);
        }
    }
}

void boxRangeAny(const float* in, int inStart, int inEnd, size_t inStep, float* out, int p0, int p1, size_t outStep, int E, int h,
                 double* acc) {
    if (E == 4) boxRange<4>(in, inStart, inEnd, inStep, out, p0, p1, outStep, E, h, acc);
    else boxRange<0>(in, inStart, inEnd, inStep, out, p0, p1, outStep, E, h, acc);
}

// One box pass over a line of pixels as a stream: the running sum of the last L values it
// received (none yet counts as zero), in double, gives out[j - L + 1] = the window's mean once
// it has received L of the n values of x.
BRISKO_BLUR_CLONES("avx", "default")
void boxPassStream(const float* __restrict x, int n, int L, double inv, float* __restrict out) {
    // One pixel's four channels as one value, so each step is a handful of vector ops.
    using V4d = double __attribute__((vector_size(32)));
    V4d sum = {0, 0, 0, 0};
    const V4f none = {0, 0, 0, 0};
    for (int j = 0; j < n; ++j) {
        const V4f v = load4(x + size_t(j) * 4), old = j >= L ? load4(x + size_t(j - L) * 4) : none;
        sum += __builtin_convertvector(v, V4d) - __builtin_convertvector(old, V4d);
        if (j >= L - 1) {
            const V4f mean = __builtin_convertvector(sum * inv, V4f);
            std::memcpy(out + size_t(j - L + 1) * 4, &mean, sizeof mean);
        }
    }
}

// Box passes over one row of pixels (4 floats a position), for output positions [o0, o1):
// the input (zero outside [inStart, inEnd)) streams through the passes one after the other,
// pass k + 1 receiving pass k's means in order.
void boxRowFused(const float* in, int inStart, int inEnd, float* out, int o0, int o1, const std::vector<int>& boxes,
                 std::vector<float>& a, std::vector<float>& b) {
    int total = 0;
    for (int h : boxes) total += h;
    const int first = o0 - total, steps = (o1 + total) - first;
    a.assign(size_t(steps) * 4, 0.0f);
    const int c0 = std::max(first, inStart), c1 = std::min(first + steps, inEnd);
    if (c1 > c0) std::memcpy(a.data() + size_t(c0 - first) * 4, in + size_t(c0 - inStart) * 4, size_t(c1 - c0) * 4 * sizeof(float));
    b.resize(a.size());
    int n = steps;
    for (size_t k = 0; k < boxes.size(); ++k) {
        const int L = 2 * boxes[k] + 1;
        const bool last = k + 1 == boxes.size();
        std::vector<float>& from = k % 2 == 0 ? a : b;
        float* to = last ? out : (k % 2 == 0 ? b : a).data();
        boxPassStream(from.data(), n, L, 1.0 / L, to);
        n -= L - 1;
    }
}

// Scratch space for blurLine, kept by the caller for the lines of one band. Never kept
// by a thread: a thread-local object's first use on a thread registers its destructor with
// an allocation the C library cannot fail gracefully, which under a cap on the address
// space ended the program.
struct LineScratch {
    std::vector<float> a, b, gathered;
};

// Blurs one line. Input positions [inStart, inStart + inLen) are read at in + (pos -
// inStart) * inStep; output positions [outStart, outStart + outLen) are written at
// out + (pos - outStart) * outStep.
void blurLine(const float* in, int inStart, int inLen, size_t inStep, float* out, int outStart, int outLen, size_t outStep,
              int E, const LineBlur& blur, LineScratch& scratch) {
    std::vector<float>&a = scratch.a, &b = scratch.b;
    const int total = blur.reach();
    const int o0 = std::max(outStart, inStart - total), o1 = std::min(outStart + outLen, inStart + inLen + total);
    for (int p = outStart; p < outStart + outLen; ++p)
        if (p < o0 || p >= o1) std::fill(out + size_t(p - outStart) * outStep, out + size_t(p - outStart) * outStep + E, 0.0f);
    if (o1 <= o0) return;
    if (blur.taps.empty() && E == 4 && inStep == 4 && outStep == 4 && blur.boxes.size() <= 4) {
        boxRowFused(in, inStart, inStart + inLen, out + size_t(o0 - outStart) * 4, o0, o1, blur.boxes, a, b);
        return;
    }
    if (blur.taps.empty()) {
        // Box passes: each pass covers what the passes after it still need.
        std::vector<double> acc(static_cast<size_t>(E), 0.0);
        const float* src = in;
        int srcStart = inStart, srcEnd = inStart + inLen;
        size_t srcStep = inStep;
        // Strided lines (columns) are gathered first: streaming copies beat strided sums.
        std::vector<float>& gathered = scratch.gathered;
        if (inStep != size_t(E)) {
            srcStart = std::max(inStart, o0 - total), srcEnd = std::min(inStart + inLen, o1 + total);
            gathered.resize(size_t(std::max(0, srcEnd - srcStart)) * E);
            for (int p = srcStart; p < srcEnd; ++p)
                std::copy(in + size_t(p - inStart) * inStep, in + size_t(p - inStart) * inStep + E, gathered.begin() + ptrdiff_t(p - srcStart) * E);
            src = gathered.data(), srcStep = size_t(E);
        }
        // The last pass writes the output where it belongs (never over what it reads: a
        // strided line was gathered, and the passes before it wrote into scratch).
        int rem = total;
        for (size_t k = 0; k < blur.boxes.size(); ++k) {
            const int h = blur.boxes[k];
            rem -= h;
            const int p0 = o0 - rem, p1 = o1 + rem;
            const bool last = k + 1 == blur.boxes.size();
            std::vector<float>& dst = (k % 2 == 0) ? a : b;
            float* d = last ? out + size_t(o0 - outStart) * outStep : (dst.resize(size_t(p1 - p0) * E), dst.data());
            boxRangeAny(src, srcStart, srcEnd, srcStep, d, p0, p1, last ? outStep : size_t(E), E, h, acc.data());
            src = d, srcStart = p0, srcEnd = p1, srcStep = size_t(E);
        }
        return;
    }
    // A sampled kernel: positions whose taps all lie in the input are summed from it where
    // it is, the others from a copy padded with zeros.
    const int inEnd = inStart + inLen;
    auto padded = [&](int p0, int p1) {
        const int l0 = p0 - total, l1 = p1 + total, n = l1 - l0;
        a.resize(size_t(n) * E);
        const int c0 = std::max(l0, inStart), c1 = std::max(c0, std::min(l1, inEnd));
        std::fill(a.begin(), a.begin() + ptrdiff_t(c0 - l0) * E, 0.0f);
        std::fill(a.begin() + ptrdiff_t(c1 - l0) * E, a.end(), 0.0f);
        for (int p = c0; p < c1; ++p)
            std::copy(in + size_t(p - inStart) * inStep, in + size_t(p - inStart) * inStep + E, a.begin() + ptrdiff_t(p - l0) * E);
        kernelPass(a.data(), out + size_t(p0 - outStart) * outStep, outStep, n, E, blur.taps);
    };
    const int i0 = std::max(o0, inStart + total), i1 = std::min(o1, inEnd - total);
    // Read in place only from a line of whole positions that the output does not overlap.
    const float* inFirst = in, *inLast = in + size_t(inLen) * inStep;
    const float* outFirst = out, *outLast = out + size_t(outLen - 1) * outStep + E;
    if (inStep != size_t(E) || i1 <= i0 || (outFirst < inLast && inFirst < outLast)) {
        padded(o0, o1);  // the whole line is in the copy before anything is written
        return;
    }
    if (o0 < i0) padded(o0, i0);
    kernelPass(in + size_t(i0 - total - inStart) * E, out + size_t(i0 - outStart) * outStep, outStep,
               (i1 - i0) + 2 * total, E, blur.taps);
    if (i1 < o1) padded(i1, o1);
}

// ---- box blurs of 8-bit pictures in whole numbers --------------------------------------
// A box pass over 8-bit levels adds whole numbers. Kept as sums, never divided between the
// passes, the vertical passes stay exact in 32-bit integers (eight of them to a register)
// and the horizontal ones in doubles, and the blur is the exact mean of the levels, rounded
// once, where the float passes round after every pass and the 8-bit rows are divided first.

using BoxSum = std::int32_t;

// The product of the boxes' widths: what the sums of a line's passes are over the mean.
double boxWidths(const LineBlur& blur) {
    double p = 1.0;
    for (int h : blur.boxes) p *= 2 * h + 1;
    return p;
}

// Whether box passes of a picture's levels can be summed this way: boxes both ways, and
// the vertical sums within 32 bits.
bool sumsLevels(const LineBlur& hb, const LineBlur& vb) {
    return hb.taps.empty() && vb.taps.empty() && !vb.boxes.empty() && !hb.boxes.empty() &&
           255.0 * boxWidths(vb) < 2147483647.0;
}

// One row of ARGB32 pixels as levels (RGBA order), alphaMask ORed in as for unpackRow.
inline void levelsRow(const quint32* s, BoxSum* d, int n, quint32 alphaMask) {
    for (int i = 0; i < n; ++i, d += 4) {
        const quint32 p = s[i] | alphaMask;
        d[0] = BoxSum((p >> 16) & 0xff), d[1] = BoxSum((p >> 8) & 0xff), d[2] = BoxSum(p & 0xff), d[3] = BoxSum(p >> 24);
    }
}

// out at p, for p in [p0, p1) (written at out + (p - p0) outStep) = the sum of in over
// [p - h, p + h], in being read at positions [inStart, inEnd) (E values a position, one
// after the other) and zero elsewhere.
template <class Out>
inline __attribute__((always_inline)) void boxSumRange(const BoxSum* __restrict in, int inStart, int inEnd, Out* __restrict out,
                                                        size_t outStep, int p0, int p1, int E, int h, BoxSum* __restrict acc) {
    for (int c = 0; c < E; ++c) acc[c] = 0;
    for (int q = std::max(p0 - h, inStart); q < std::min(p0 + h + 1, inEnd); ++q) {
        const BoxSum* v = in + size_t(q - inStart) * size_t(E);
        for (int c = 0; c < E; ++c) acc[c] += v[c];
    }
    for (int c = 0; c < E; ++c) out[c] = Out(acc[c]);
    for (int p = p0 + 1; p < p1; ++p) {
        const int qa = p + h, qs = p - h - 1;
        const bool hasAdd = qa >= inStart && qa < inEnd, hasSub = qs >= inStart && qs < inEnd;
        // A position outside the line has no address: a pointer to it is formed only where
        // the position is inside.
        const auto at = [&](int q) { return in + size_t(q - inStart) * size_t(E); };
        Out* o = out + size_t(p - p0) * outStep;
        if (hasAdd && hasSub) {
            const BoxSum *add = at(qa), *sub = at(qs);
            for (int c = 0; c < E; ++c) acc[c] += add[c] - sub[c];
        } else {
            if (hasAdd)
                for (int c = 0; c < E; ++c) acc[c] += at(qa)[c];
            if (hasSub)
                for (int c = 0; c < E; ++c) acc[c] -= at(qs)[c];
        }
        for (int c = 0; c < E; ++c) o[c] = Out(acc[c]);
    }
}

BRISKO_BLUR_CLONES("avx2", "default")
void boxSumsToSums(const BoxSum* in, int inStart, int inEnd, BoxSum* out, int p0, int p1, int E, int h, BoxSum* acc) {
    boxSumRange(in, inStart, inEnd, out, size_t(E), p0, p1, E, h, acc);
}

// The last pass: sums written as floats (exact below 2^24, as every sum of sigma 20 or less is).
BRISKO_BLUR_CLONES("avx2", "default")
void boxSumsToFloats(const BoxSum* in, int inStart, int inEnd, float* out, size_t outStep, int p0, int p1, int E, int h, BoxSum* acc) {
    boxSumRange(in, inStart, inEnd, out, outStep, p0, p1, E, h, acc);
}

// Vertical box sums of one line of levels (positions [inStart, inEnd), E a position), for
// output positions [outStart, outStart + outLen) written as float sums at out, outStep
// apart; each pass covers what the passes after it still need, as blurLine's do.
void boxSumLine(const BoxSum* in, int inStart, int inEnd, float* out, int outStart, int outLen, size_t outStep, int E,
                const std::vector<int>& boxes, std::vector<BoxSum>& a, std::vector<BoxSum>& b, std::vector<BoxSum>& acc) {
    int total = 0;
    for (int h : boxes) total += h;
    const int o0 = std::max(outStart, inStart - total), o1 = std::min(outStart + outLen, inEnd + total);
    for (int p = outStart; p < outStart + outLen; ++p)
        if (p < o0 || p >= o1) std::fill(out + size_t(p - outStart) * outStep, out + size_t(p - outStart) * outStep + E, 0.0f);
    if (o1 <= o0) return;
    acc.resize(size_t(E));
    const BoxSum* src = in;
    int srcStart = inStart, srcEnd = inEnd, rem = total;
    for (size_t k = 0; k < boxes.size(); ++k) {
        const int h = boxes[k];
        rem -= h;
        const int p0 = o0 - rem, p1 = o1 + rem;
        if (k + 1 == boxes.size()) {
            boxSumsToFloats(src, srcStart, srcEnd, out + size_t(o0 - outStart) * outStep, outStep, p0, p1, E, h, acc.data());
            return;
        }
        std::vector<BoxSum>& dst = k % 2 == 0 ? a : b;
        dst.resize(size_t(p1 - p0) * size_t(E));
        boxSumsToSums(src, srcStart, srcEnd, dst.data(), p0, p1, E, h, acc.data());
        src = dst.data(), srcStart = p0, srcEnd = p1;
    }
}

// One box pass over a line of pixel sums (4 doubles a position) as a stream, as
// boxPassStream makes it, without the division: out[j - L + 1] = the sum of the last L
// values received once L of the n have come. The last pass writes float(sum scale).
template <class Out>
inline __attribute__((always_inline)) void boxSumStreamT(const double* __restrict x, int n, int L, Out* __restrict out, double scale) {
    using V4d = double __attribute__((vector_size(32)));
    V4d sum = {0, 0, 0, 0};
    const V4d none = {0, 0, 0, 0};
    for (int j = 0; j < n; ++j) {
        V4d v, old = none;
        std::memcpy(&v, x + size_t(j) * 4, sizeof v);
        if (j >= L) std::memcpy(&old, x + size_t(j - L) * 4, sizeof old);
        sum += v - old;
        if (j >= L - 1) {
            if constexpr (std::is_same_v<Out, double>) {
                std::memcpy(out + size_t(j - L + 1) * 4, &sum, sizeof sum);
            } else {
                const V4f mean = __builtin_convertvector(sum * scale, V4f);
                std::memcpy(out + size_t(j - L + 1) * 4, &mean, sizeof mean);
            }
        }
    }
}

BRISKO_BLUR_CLONES("avx2", "default")
void boxSumStream(const double* x, int n, int L, double* out) { boxSumStreamT(x, n, L, out, 1.0); }

BRISKO_BLUR_CLONES("avx2", "default")
void boxSumStreamScaled(const double* x, int n, int L, float* out, double scale) { boxSumStreamT(x, n, L, out, scale); }

// Horizontal box sums over one row of float sums (read at positions [inStart, inEnd), zero
// elsewhere) for output positions [outStart, outStart + outLen), written as float(sum
// scale). The row is read whole before anything is written, so out may lie over in.
void boxSumRow(const float* in, int inStart, int inEnd, float* out, int outStart, int outLen, const std::vector<int>& boxes,
               double scale, std::vector<double>& a, std::vector<double>& b) {
    int total = 0;
    for (int h : boxes) total += h;
    const int outEnd = outStart + outLen;
    const int o0 = std::max(outStart, inStart - total), o1 = std::min(outEnd, inEnd + total);
    if (o1 <= o0) {
        std::fill(out, out + size_t(outLen) * 4, 0.0f);
        return;
    }
    const int first = o0 - total, steps = (o1 + total) - first;
    a.resize(size_t(steps) * 4);
    b.resize(a.size());
    const int c0 = std::max(first, inStart), c1 = std::min(first + steps, inEnd);
    std::fill(a.begin(), a.begin() + ptrdiff_t(c0 - first) * 4, 0.0);
    std::fill(a.begin() + ptrdiff_t(c1 - first) * 4, a.end(), 0.0);
    const float* from = in + ptrdiff_t(c0 - inStart) * 4;
    double* to = a.data() + size_t(c0 - first) * 4;
    for (size_t i = 0; i < size_t(c1 - c0) * 4; ++i) to[i] = from[i];
    std::fill(out, out + size_t(o0 - outStart) * 4, 0.0f);
    std::fill(out + size_t(o1 - outStart) * 4, out + size_t(outLen) * 4, 0.0f);
    int n = steps;
    for (size_t k = 0; k < boxes.size(); ++k) {
        const int L = 2 * boxes[k] + 1;
        std::vector<double>& src = k % 2 == 0 ? a : b;
        if (k + 1 == boxes.size()) boxSumStreamScaled(src.data(), n, L, out + size_t(o0 - outStart) * 4, scale);
        else boxSumStream(src.data(), n, L, (k % 2 == 0 ? b : a).data());
        n -= L - 1;
    }
}

constexpr int kColumnBlock = 32;  // pixels per column block of a vertical pass

// Horizontal then vertical blur. src covers the rows the vertical pass needs (clipped to
// where the input has pixels); out has the requested rect.
void separableBlur(Buffer& src, Buffer& out, const LineBlur& hb, const LineBlur& vb) {
    const PixelRect r = out.rect;
    // Horizontal: each source row to the output's columns.
    Buffer t(PixelRect{r.x, src.rect.y, r.w, src.rect.h}, hb.empty() ? Buffer::kZero : Buffer::kUninitialized);
    if (!src.empty()) {
        if (hb.empty()) {
            Buffer copy(t.rect);
            copy.paste(src);
            t = std::move(copy);
        } else {
            parallelFor(0, src.rect.h, [&](int j0, int j1) {
                LineScratch s;
                for (int j = j0; j < j1; ++j)
                    blurLine(src.row(src.rect.y + j), src.rect.x, src.rect.w, 4, t.row(t.rect.y + j), r.x, r.w, 4, 4, hb, s);
            }, double(r.w + 2 * hb.reach()) * 3);
        }
    }
    src = Buffer();
    if (t.empty()) {
        std::fill(out.data.begin(), out.data.end(), 0.0f);
        return;
    }
    if (vb.empty()) {
        out.paste(t);
        return;
    }
    // Vertical: blocks of columns, one line of block-wide positions per row.
    const int blocks = (r.w + kColumnBlock - 1) / kColumnBlock;
    parallelFor(0, blocks, [&](int b0, int b1) {
        LineScratch s;
        for (int k = b0; k < b1; ++k) {
            const int x0 = k * kColumnBlock, w = std::min(kColumnBlock, r.w - x0);
            blurLine(t.at(r.x + x0, t.rect.y), t.rect.y, t.rect.h, size_t(r.w) * 4, out.at(r.x + x0, r.y), r.y, r.h,
                     size_t(r.w) * 4, 4 * w, vb, s);
        }
    }, double(r.h + 2 * vb.reach()) * kColumnBlock * 3);
}

// The same blur made in src's own storage, for an output rect r that src covers (r's rows,
// and at least r's width): the horizontal pass puts each row, through a line of scratch,
// back at the start of its own row; the vertical pass puts each block of columns back into
// its own columns (blurLine reads a whole line before it writes); then r's rows are moved
// together. Only one buffer is alive, and the values are those of separableBlur. False
// (src untouched) when src does not cover r.
bool separableBlurInPlace(Buffer& src, const PixelRect& r, const LineBlur& hb, const LineBlur& vb, Buffer& out) {
    // A line whose step equals its width would be read and written in the same place by a
    // single box pass, so narrow pictures keep the separate buffers.
    if (hb.empty() || vb.empty() || src.empty() || src.rect.w < r.w || src.rect.w <= kColumnBlock || src.rect.y > r.y ||
        src.rect.top() < r.top())
        return false;
    const size_t stride = size_t(src.rect.w) * 4;
    float* const base = src.data.data();
    parallelFor(0, src.rect.h, [&](int j0, int j1) {
        LineScratch s;
        std::vector<float> line(size_t(r.w) * 4);
        for (int j = j0; j < j1; ++j) {
            float* row = base + size_t(j) * stride;
            blurLine(row, src.rect.x, src.rect.w, 4, line.data(), r.x, r.w, 4, 4, hb, s);
            std::memcpy(row, line.data(), line.size() * sizeof(float));
        }
    }, double(r.w + 2 * hb.reach()) * 3);
    const size_t first = size_t(r.y - src.rect.y) * stride;
    const int blocks = (r.w + kColumnBlock - 1) / kColumnBlock;
    parallelFor(0, blocks, [&](int b0, int b1) {
        LineScratch s;
        for (int k = b0; k < b1; ++k) {
            const int x0 = k * kColumnBlock, w = std::min(kColumnBlock, r.w - x0);
            blurLine(base + size_t(x0) * 4, src.rect.y, src.rect.h, stride, base + first + size_t(x0) * 4, r.y, r.h, stride, 4 * w, vb, s);
        }
    }, double(r.h + 2 * vb.reach()) * kColumnBlock * 3);
    // Rows move towards the start, each to a place that no later row still occupies.
    const size_t rowFloats = size_t(r.w) * 4;
    if (first != 0 || stride != rowFloats)
        for (int j = 0; j < r.h; ++j) std::memmove(base + size_t(j) * rowFloats, base + first + size_t(j) * stride, rowFloats * sizeof(float));
    out.data = std::move(src.data);
    out.data.resize(rowFloats * size_t(r.h));
    out.rect = r;
    src = Buffer();
    return true;
}

// The same blur of a picture, read from its 8-bit rows: vertical pass first, a block of
// columns at a time, gathered straight from the picture, so no float copy of the rows the
// blur reaches above and below is ever made; then the horizontal pass row by row. Beside
// the output, a thread holds one block's column (its rows and the reach both ways) in
// floats, a fraction of a megabyte. The order of the passes differs from separableBlur
// (horizontal first), so results may differ from it by rounding, never more.
// fn(a, blurred, a, n) over every row of a, where blurred is a's blur; a is the result.
void combineWithBlur(Buffer& a, Buffer& blurred, const CombineRow& fn) {
    const PixelRect r = a.rect;
    parallelFor(r.y, r.top(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            // The neighbourhood's colour at this pixel's own coverage: where the blur took in
            // transparency (past the picture's edge, or a softer part of a shape), a
            // difference of coverage is not detail to sharpen or smooth.
            const float* p = a.row(y);
            float* b = blurred.row(y);
            for (int i = 0; i < r.w; ++i, p += 4, b += 4) {
                if (b[3] == p[3] || !(b[3] > 0.0f)) continue;
                const float g = p[3] / b[3];
                b[0] *= g, b[1] *= g, b[2] *= g, b[3] = p[3];
            }
            fn(a.row(y), blurred.row(y), a.row(y), r.w);
        }
    }, r.w * 4.0);
}

class PictureBlurNode final : public Node {
public:
    // With combine set, the node gives the picture combined with its blur (combineWithBlur).
    PictureBlurNode(NodePtr in, const QRectF& extent, LineBlur hb, LineBlur vb, CombineRow combine = {})
        : in_(std::move(in)), extent_(extent), hb_(std::move(hb)), vb_(std::move(vb)), combine_(std::move(combine)) {}
    QRectF extent() const override { return extent_; }
    // The vertical pass reads the picture's rows within its reach of the rows it makes.
    int rowReach() const override { return widerRowReach(vb_.reach(), rowReachOf(in_)); }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        Buffer b = blurred(r);
        if (!combine_) return b;
        Buffer a = in_->render(r);
        combineWithBlur(a, b, combine_);
        return a;
    }

private:
    Buffer blurred(const PixelRect& r) const {
        const QImage& picture = *pictureOf(in_);
        const int W = picture.width(), H = picture.height();
        const quint32 alphaMask = picture.format() == QImage::Format_RGB32 ? 0xff000000u : 0u;
        const int rh = hb_.reach(), rv = vb_.reach();
        // Picture columns the horizontal pass reads, rows the vertical pass reads.
        const int cx0 = std::max(0, r.x - rh), cx1 = std::min(W, r.right() + rh);
        const int sy0 = std::max(0, r.y - rv), sy1 = std::min(H, r.top() + rv);
        if (cx1 <= cx0 || sy1 <= sy0) return Buffer(r);
        const int cw = cx1 - cx0;
        Buffer out(r, hb_.empty() && cw < r.w ? Buffer::kZero : Buffer::kUninitialized);
        // The vertical pass's rows over columns [cx0, cx1): in out's own rows (same stride,
        // so row j of one is row j of the other) unless out is narrower than they are.
        Buffer separate;
        float* vbase = out.data.data();
        size_t vstride = size_t(r.w) * 4;
        if (hb_.empty()) {
            vbase += size_t(cx0 - r.x) * 4;
        } else if (cw > r.w) {
            separate = Buffer(PixelRect{cx0, r.y, cw, r.h}, Buffer::kUninitialized);
            vbase = separate.data.data(), vstride = size_t(cw) * 4;
        }
        const int rows = sy1 - sy0;
        // Narrower blocks for a long reach keep a thread's column within half a megabyte.
        const int block = std::clamp(int(128 * 1024 / (16LL * rows)), 4, kColumnBlock);
        const int blocks = (cw + block - 1) / block;
        // A block reads a few cache lines from each of hundreds of rows, each on a page of its
        // own, which the processor does not fetch ahead of time: the lines of the block to
        // the right are asked for while this one is read, so they are there when it comes.
        const auto columnOf = [&](int x0, int w, auto& column, auto unpack) {
            column.resize(size_t(rows) * size_t(4 * w));
            const int ahead = std::min(w, cx1 - x0 - w);
            for (int y = sy0; y < sy1; ++y) {
                const auto* src = reinterpret_cast<const quint32*>(picture.constScanLine(platform::toQtRow(y, H))) + x0;
                for (int i = 0; i < ahead; i += 16) __builtin_prefetch(src + w + i);
                unpack(src, column.data() + size_t(y - sy0) * size_t(4 * w), w, alphaMask);
            }
        };
        if (sumsLevels(hb_, vb_)) {
            // Whole-number sums: the vertical passes' sums (floats, exact as whole numbers up
            // to 2^24) in vbase, then the horizontal passes' in doubles, scaled once.
            parallelFor(0, blocks, [&](int b0, int b1) {
                std::vector<BoxSum> column, a, b, acc;
                for (int k = b0; k < b1; ++k) {
                    const int x0 = cx0 + k * block, w = std::min(block, cx1 - x0);
                    columnOf(x0, w, column, levelsRow);
                    boxSumLine(column.data(), sy0, sy1, vbase + size_t(x0 - cx0) * 4, r.y, r.h, vstride, 4 * w, vb_.boxes, a, b, acc);
                }
            }, double(rows) * block);
            const double scale = 1.0 / (255.0 * boxWidths(vb_) * boxWidths(hb_));
            parallelFor(0, r.h, [&](int j0, int j1) {
                std::vector<double> a, b;
                for (int j = j0; j < j1; ++j)
                    boxSumRow(vbase + size_t(j) * vstride, cx0, cx1, out.row(r.y + j), r.x, r.w, hb_.boxes, scale, a, b);
            }, double(r.w + 2 * rh) * 3);
            return out;
        }
        parallelFor(0, blocks, [&](int b0, int b1) {
            std::vector<float> column;
            LineScratch s;
            for (int k = b0; k < b1; ++k) {
                const int x0 = cx0 + k * block, w = std::min(block, cx1 - x0), E = 4 * w;
                columnOf(x0, w, column, pixelpack::unpackRow);
                blurLine(column.data(), sy0, rows, size_t(E), vbase + size_t(x0 - cx0) * 4, r.y, r.h, vstride, E, vb_, s);
            }
        }, double(rows) * block * 3);
        if (hb_.empty()) return out;
        const bool inOut = separate.empty();
        parallelFor(0, r.h, [&](int j0, int j1) {
            LineScratch s;
            std::vector<float> line(inOut ? size_t(r.w) * 4 : 0);
            for (int j = j0; j < j1; ++j) {
                const float* v = vbase + size_t(j) * vstride;
                float* d = out.row(r.y + j);
                blurLine(v, cx0, cw, 4, inOut ? line.data() : d, r.x, r.w, 4, 4, hb_, s);
                if (inOut) std::memcpy(d, line.data(), line.size() * sizeof(float));
            }
        }, double(r.w + 2 * rh) * 3);
        return out;
    }

    NodePtr in_;
    QRectF extent_;
    LineBlur hb_, vb_;
    CombineRow combine_;
};

NodePtr separableBlurNode(const NodePtr& in, const LineBlur& hb, const LineBlur& vb, double grow) {
    const int rh = hb.reach(), rv = vb.reach();
    const int gx = std::max(rh, int(std::ceil(grow))), gy = std::max(rv, int(std::ceil(grow)));
    const QRectF e = in->extent();
    const QRectF extent = (e.isEmpty() || isInfinite(e)) ? e : e.adjusted(hb.empty() ? 0 : -gx, vb.empty() ? 0 : -gy, hb.empty() ? 0 : gx, vb.empty() ? 0 : gy);
    if (pictureOf(in) && !vb.empty()) return std::make_shared<PictureBlurNode>(in, extent, hb, vb);
    // The input is read over its own pixels only: beyond them it is transparent, which the
    // passes read as zeros anyway, and a request past them would be padded in a copy.
    const PixelRect pixels = (e.isEmpty() || isInfinite(e)) ? PixelRect{} : PixelRect::covering(e);
    const bool bounded = !pixels.empty();
    return makeRegionNodeMakingOutput(in, extent, [in, rh, rv, pixels, bounded](const PixelRect& q) {
            const PixelRect want = clipToInput(in, q.adjusted(-rh, -rv, rh, rv));
            return bounded ? want.intersected(pixels) : want;
        }, std::max(rh, rv),
        [hb, vb](Buffer& src, Buffer& out) {
            if (separableBlurInPlace(src, out.rect, hb, vb, out)) return;
            out = Buffer(out.rect, vb.empty() ? Buffer::kZero : Buffer::kUninitialized);
            separableBlur(src, out, hb, vb);
        });
}

// Three box widths whose repeated application approximates a Gaussian of sigma.
std::vector<int> boxHalfWidths(double sigma) {
    const int n = 3;
    const double wIdeal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int wl = int(std::floor(wIdeal));
    if (wl % 2 == 0) --wl;
    const int wu = wl + 2;
    const double mIdeal = (12.0 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4.0);
    const int m = int(std::lround(mIdeal));
    std::vector<int> h;
    for (int i = 0; i < n; ++i) h.push_back(((i < m) ? wl : wu) / 2);
    return h;
}

std::vector<float> gaussianTaps(double sigma) {
    const int r = std::max(1, int(std::ceil(3.0 * sigma)));
    std::vector<float> k(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += std::exp(-0.5 * i * i / (sigma * sigma));
    for (int i = -r; i <= r; ++i) k[size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)) / sum);
    return k;
}

// Below this sigma the three-box approximation is too coarse; a sampled kernel is cheap.
constexpr double kBoxSigma = 3.0;

}  // namespace

NodePtr gaussianBlurNode(const NodePtr& in, double sigma) {
    if (!in || !(sigma > 0.0)) return in;
    sigma = std::min(sigma, 2000.0);
    LineBlur lb;
    if (sigma < kBoxSigma) lb.taps = gaussianTaps(sigma);
    else lb.boxes = boxHalfWidths(sigma);
    return separableBlurNode(in, lb, lb, 3.0 * sigma);
}

NodePtr blurCombineNode(const NodePtr& in, double sigma, CombineRow fn) {
    if (!in) return nullptr;
    LineBlur lb;
    if (sigma < kBoxSigma) lb.taps = gaussianTaps(std::max(sigma, 0.01));
    else lb.boxes = boxHalfWidths(std::min(sigma, 2000.0));
    const int reach = lb.reach();
    const QRectF e = in->extent();
    if (pictureOf(in)) return std::make_shared<PictureBlurNode>(in, e, lb, lb, std::move(fn));
    const PixelRect pixels = (e.isEmpty() || isInfinite(e)) ? PixelRect{} : PixelRect::covering(e);
    const bool bounded = !pixels.empty();
    // Two buffers: the input's pixels of r, and the blur made in the input's storage; the
    // combination is written over the first.
    return makeRegionNodeMakingOutput(in, e, [in, reach, pixels, bounded](const PixelRect& q) {
            const PixelRect want = clipToInput(in, q.grown(reach));
            return bounded ? want.intersected(pixels) : want;
        }, reach,
        [lb, fn](Buffer& src, Buffer& out) {
            const PixelRect r = out.rect;
            Buffer a(r);
            a.paste(src);
            Buffer blurred;
            if (!separableBlurInPlace(src, r, lb, lb, blurred)) {
                blurred = Buffer(r, Buffer::kUninitialized);
                separableBlur(src, blurred, lb, lb);
            }
            combineWithBlur(a, blurred, fn);
            out = std::move(a);
        });
}

namespace {

// Box blur of half width h in both directions.
NodePtr boxBlurNode(const NodePtr& in, int h) {
    if (!in || h <= 0) return in;
    LineBlur lb;
    lb.boxes = {h};
    return separableBlurNode(in, lb, lb, h);
}

// o += w p over n floats (a plain multiply and add per float, in any width).
BRISKO_BLUR_CLONES("avx", "default")
void addWeighted(float* __restrict o, const float* __restrict p, float w, size_t n) {
    for (size_t i = 0; i < n; ++i) o[i] += w * p[i];
}

// Averages samples along a straight line through each pixel (direction (dx, dy), from -r to r).
NodePtr motionBlurNode(const NodePtr& in, double r, double angle) {
    if (!in || !(r > 0.0)) return in;
    const double c = std::cos(angle), s = std::sin(angle);
    const int hx = int(std::ceil(std::abs(r * c))) + 1, hy = int(std::ceil(std::abs(r * s))) + 1;
    const QRectF extent = grownExtent(in, 0).adjusted(-hx, -hy, hx, hy);
    // Along an axis the line kernel is a box, which is cheap whatever the radius.
    if (std::abs(s) < 1e-9 || std::abs(c) < 1e-9) {
        const int h = int(std::lround(r));
        if (h <= 0) return in;
        LineBlur lb;
        lb.boxes = {h};
        return std::abs(s) < 1e-9 ? separableBlurNode(in, lb, {}, h) : separableBlurNode(in, {}, lb, h);
    }
    // Samples along the line, at most 65, spread bilinearly onto whole-pixel taps once:
    // neighbouring samples share pixels, so a pixel then costs about two taps per unit of
    // length instead of four per sample.
    const int n = std::clamp(2 * int(std::ceil(r)) + 1, 3, 65);
    std::map<std::pair<int, int>, double> weights;
    for (int i = 0; i < n; ++i) {
        const double t = -r + 2.0 * r * i / (n - 1);
        const double ox = t * c, oy = t * s;
        const double fx = std::floor(ox), fy = std::floor(oy);
        const double tx = ox - fx, ty = oy - fy;
        const int ix = int(fx), iy = int(fy);
        weights[{ix, iy}] += (1 - tx) * (1 - ty) / n;
        weights[{ix + 1, iy}] += tx * (1 - ty) / n;
        weights[{ix, iy + 1}] += (1 - tx) * ty / n;
        weights[{ix + 1, iy + 1}] += tx * ty / n;
    }
    struct Tap { int dx, dy; float w; };
    std::vector<Tap> taps;
    for (const auto& [d, w] : weights)
        if (w > 0) taps.push_back({d.first, d.second, float(w)});
    // A row is the sum of its taps, each a shifted source row weighed: tap by tap over the
    // whole row (a pixel's taps are still added in the same order), taps that fall outside
    // the source left out.
    return makeRegionNode(in, extent, [in, hx, hy](const PixelRect& q) { return clipToInput(in, q.adjusted(-hx, -hy, hx, hy)); }, std::max(hx, hy),
        [taps](const Buffer& src, Buffer& out) {
            const PixelRect r = out.rect;
            parallelFor(r.y, r.top(), [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) {
                    float* const d = out.row(y);
                    std::fill(d, d + size_t(r.w) * 4, 0.0f);
                    for (const Tap& t : taps) {
                        const int sy = y + t.dy;
                        if (sy < src.rect.y || sy >= src.rect.top()) continue;
                        const int x0 = std::max(r.x, src.rect.x - t.dx), x1 = std::min(r.right(), src.rect.right() - t.dx);
                        if (x0 >= x1) continue;
                        const float* p = src.at(x0 + t.dx, sy);
                        float* o = d + size_t(x0 - r.x) * 4;
                        addWeighted(o, p, t.w, size_t(x1 - x0) * 4);
                    }
                }
            }, r.w * double(taps.size()) * 2);
        }, /*writesAll=*/true);
}

// ---- zoom blur ----------------------------------------------------------------------
// Samples per pixel of one zoom pass.
constexpr int kZoomSamples = 24;

// Samples in one zoom pass of the pixels x0 ... x0 + count - 1 of a row (centres at
// (x + 1/2, py)): a pixel's streak runs from it toward the centre over the fraction k of the
// way, and its samples number the streak's whole length in pixels plus one, at most
// kZoomSamples. Two at a time where the processor has a two-wide square root (the same roots).
void zoomCounts(int* counts, int x0, int count, double py, double cx, double cy, double k) {
    const double vy = (cy - py) * k;
    // The length is compared before it becomes an int: a centre put absurdly far away makes
    // it longer than any int.
    auto clamped = [](double d) { return d < kZoomSamples - 1 ? int(d) + 1 : kZoomSamples; };
    int i = 0;
#if defined(__SSE2__)
    for (; i + 2 <= count; i += 2) {
        const __m128d vx = _mm_mul_pd(_mm_sub_pd(_mm_set1_pd(cx), _mm_setr_pd(x0 + i + 0.5, x0 + i + 1.5)), _mm_set1_pd(k));
        const __m128d d = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(vx, vx), _mm_set1_pd(vy * vy)));
        counts[i] = clamped(_mm_cvtsd_f64(d));
        counts[i + 1] = clamped(_mm_cvtsd_f64(_mm_unpackhi_pd(d, d)));
    }
#endif
    for (; i < count; ++i) {
        const double vx = (cx - (x0 + i + 0.5)) * k;
        counts[i] = clamped(std::sqrt(vx * vx + vy * vy));
    }
}

// Sample i of n lies at the fraction t = k i / (n - 1) of the way to the centre: for the
// pixel in column x, at x scale + shift (scale = 1 - t, shift = (cx - 1/2) t, in single
// precision), and at the row fyAt(t) of a zoom row. Positions are the plane's, not those
// of what a render read, so a pixel is the same whatever rectangle was rendered.
struct ZoomStep {
    double t;
    float scale, shift;
};
using ZoomSteps = std::array<std::array<ZoomStep, kZoomSamples>, kZoomSamples + 1>;

// Sample i of the pixels of a run: the lower of its two rows in src, its vertical weight
// and its columns.
struct ZoomSample {
    const float* lower;
    float ty, scale, shift;
};

// A bilinear sample: the two rows weighed first, then the two columns.
inline V4f zoomLerp(V4f a, V4f b, V4f c, V4f e, float tx, float ty) {
    const V4f left = a + ty * (c - a), right = b + ty * (e - b);
    return left + tx * (right - left);
}

// The column of a sample and its weight: floor and fraction of x scale + shift.
inline void zoomColumns(V4f cols, const ZoomSample& s, V4i& ix, V4f& tx) {
    const V4f fx = cols * s.scale + s.shift;
    ix = __builtin_convertvector(fx, V4i);
    ix += __builtin_convertvector(ix, V4f) > fx;  // truncation rounded up a negative column: -1
    tx = fx - __builtin_convertvector(ix, V4f);
}

// The sums of the samples of four neighbouring pixels of a run, in sample order, for the
// columns c0 ... c0 + 3 (a column past `last` reads `last` instead); src's rows start at
// column x0. Every tap lies inside src.
void zoomBlock(const ZoomSample* samples, int n, size_t stride, int x0, float c0, float last, V4f sums[4]) {
    const V4f cols = {c0, std::min(c0 + 1, last), std::min(c0 + 2, last), std::min(c0 + 3, last)};
    // Sample 0 lies on the pixel itself: its weights are 0, so it is the pixel.
    auto own = [&](float col) { return load4(samples[0].lower + size_t(int(col) - x0) * 4); };
    V4f acc0 = own(cols[0]), acc1 = own(cols[1]), acc2 = own(cols[2]), acc3 = own(cols[3]);
    for (int i = 1; i < n; ++i) {
        const ZoomSample& s = samples[i];
        V4i ix;
        V4f tx;
        zoomColumns(cols, s, ix, tx);
        auto tap = [&](int col, float w) {
            const float* p0 = s.lower + size_t(col - x0) * 4;
            return zoomLerp(load4(p0), load4(p0 + 4), load4(p0 + stride), load4(p0 + stride + 4), w, s.ty);
        };
        acc0 += tap(ix[0], tx[0]);
        acc1 += tap(ix[1], tx[1]);
        acc2 += tap(ix[2], tx[2]);
        acc3 += tap(ix[3], tx[3]);
    }
    sums[0] = acc0, sums[1] = acc1, sums[2] = acc2, sums[3] = acc3;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Both rows of a tap weighed at once: its left and right columns, in one register.
__attribute__((target("avx"))) inline __m256 zoomRowsAvx(const char* lower, int offset, size_t rowBytes, __m256 ty) {
    const __m256 ab = _mm256_loadu_ps(reinterpret_cast<const float*>(lower + offset));
    const __m256 ce = _mm256_loadu_ps(reinterpret_cast<const float*>(lower + offset + rowBytes));
    return _mm256_add_ps(ab, _mm256_mul_ps(ty, _mm256_sub_ps(ce, ab)));
}

// Two pixels' taps (p, q: left | right each) weighed by their columns and added to acc.
__attribute__((target("avx"))) inline void zoomAddAvx(__m256& acc, __m256 p, __m256 q, __m256 w) {
    const __m256 left = _mm256_permute2f128_ps(p, q, 0x20), right = _mm256_permute2f128_ps(p, q, 0x31);
    acc = _mm256_add_ps(acc, _mm256_add_ps(left, _mm256_mul_ps(w, _mm256_sub_ps(right, left))));
}

// The same with AVX, two pixels to a register: a tap's two columns come in one load, both
// rows are weighed at once, and the pixels' left and right columns are then paired up, so
// every step is the same operation on the same numbers as above (the same sums to the bit).
__attribute__((target("avx"))) void zoomBlockAvx4(const ZoomSample* samples, int n, size_t stride, int x0, float c0,
                                                 float last, V4f sums[4]) {
    const __m128 cols = _mm_setr_ps(c0, std::min(c0 + 1, last), std::min(c0 + 2, last), std::min(c0 + 3, last));
    const __m128i first = _mm_set1_epi32(x0);
    const __m256i lanes01 = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1), lanes23 = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
    const size_t rowBytes = stride * sizeof(float);
    // Sample 0 lies on the pixel itself: its weights are 0, so it is the pixel (and the
    // pixel after it is inside src too, being its right tap).
    const float* own = samples[0].lower + size_t(int(c0) - x0) * 4;
    __m256 acc01 = _mm256_loadu_ps(own);
    __m256 acc23 = _mm256_loadu_ps(own + size_t(std::min(c0 + 2, last) - c0) * 4);
    for (int i = 1; i < n; ++i) {
        const ZoomSample& s = samples[i];
        const __m128 fx = _mm_add_ps(_mm_mul_ps(cols, _mm_set1_ps(s.scale)), _mm_set1_ps(s.shift));
        __m128i ix = _mm_cvttps_epi32(fx);
        ix = _mm_add_epi32(ix, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(ix), fx)));  // the floor
        const __m128 tx = _mm_sub_ps(fx, _mm_cvtepi32_ps(ix));
        const __m128i offsets = _mm_slli_epi32(_mm_sub_epi32(ix, first), 4);  // bytes into the lower row
        const char* lower = reinterpret_cast<const char*>(s.lower);
        const __m256 ty = _mm256_set1_ps(s.ty);
        const __m256 w = _mm256_insertf128_ps(_mm256_castps128_ps256(tx), tx, 1);
        zoomAddAvx(acc01, zoomRowsAvx(lower, _mm_cvtsi128_si32(offsets), rowBytes, ty),
                   zoomRowsAvx(lower, _mm_extract_epi32(offsets, 1), rowBytes, ty), _mm256_permutevar_ps(w, lanes01));
        zoomAddAvx(acc23, zoomRowsAvx(lower, _mm_extract_epi32(offsets, 2), rowBytes, ty),
                   zoomRowsAvx(lower, _mm_extract_epi32(offsets, 3), rowBytes, ty), _mm256_permutevar_ps(w, lanes23));
    }
    const __m128 s0 = _mm256_castps256_ps128(acc01), s1 = _mm256_extractf128_ps(acc01, 1);
    const __m128 s2 = _mm256_castps256_ps128(acc23), s3 = _mm256_extractf128_ps(acc23, 1);
    std::memcpy(&sums[0], &s0, sizeof s0), std::memcpy(&sums[1], &s1, sizeof s1);
    std::memcpy(&sums[2], &s2, sizeof s2), std::memcpy(&sums[3], &s3, sizeof s3);
}
// The same for eight pixels, their columns found together (the floor taken as a rounding
// down): the same numbers, so the same sums to the bit.
__attribute__((target("avx"))) void zoomBlockAvx(const ZoomSample* samples, int n, size_t stride, int x0, float c0,
                                                 float last, V4f sums[8]) {
    float at[8];
    for (int l = 0; l < 8; ++l) at[l] = std::min(c0 + float(l), last);
    const __m256 cols = _mm256_loadu_ps(at);
    const __m256 first = _mm256_set1_ps(float(x0)), sixteen = _mm256_set1_ps(16.0f);
    const __m256i lanes01 = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1), lanes23 = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
    const size_t rowBytes = stride * sizeof(float);
    // Sample 0 lies on the pixel itself: its weights are 0, so it is the pixel (and the
    // pixel after it is inside src too, being its right tap).
    __m256 acc[4];
    for (int pair = 0; pair < 4; ++pair)
        acc[pair] = _mm256_loadu_ps(samples[0].lower + size_t(int(at[2 * pair]) - x0) * 4);
    alignas(32) int offsets[8];
    for (int i = 1; i < n; ++i) {
        const ZoomSample& s = samples[i];
        const __m256 fx = _mm256_add_ps(_mm256_mul_ps(cols, _mm256_set1_ps(s.scale)), _mm256_set1_ps(s.shift));
        const __m256 floor = _mm256_round_ps(fx, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m256 tx = _mm256_sub_ps(fx, floor);
        // Bytes into the lower row (whole numbers well within a float's exact range).
        _mm256_store_si256(reinterpret_cast<__m256i*>(offsets), _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(floor, first), sixteen)));
        const char* lower = reinterpret_cast<const char*>(s.lower);
        const __m256 ty = _mm256_set1_ps(s.ty);
        const __m256 low = _mm256_permute2f128_ps(tx, tx, 0x00), high = _mm256_permute2f128_ps(tx, tx, 0x11);
        zoomAddAvx(acc[0], zoomRowsAvx(lower, offsets[0], rowBytes, ty), zoomRowsAvx(lower, offsets[1], rowBytes, ty),
                   _mm256_permutevar_ps(low, lanes01));
        zoomAddAvx(acc[1], zoomRowsAvx(lower, offsets[2], rowBytes, ty), zoomRowsAvx(lower, offsets[3], rowBytes, ty),
                   _mm256_permutevar_ps(low, lanes23));
        zoomAddAvx(acc[2], zoomRowsAvx(lower, offsets[4], rowBytes, ty), zoomRowsAvx(lower, offsets[5], rowBytes, ty),
                   _mm256_permutevar_ps(high, lanes01));
        zoomAddAvx(acc[3], zoomRowsAvx(lower, offsets[6], rowBytes, ty), zoomRowsAvx(lower, offsets[7], rowBytes, ty),
                   _mm256_permutevar_ps(high, lanes23));
    }
    for (int pair = 0; pair < 4; ++pair) {
        const __m128 a = _mm256_castps256_ps128(acc[pair]), b = _mm256_extractf128_ps(acc[pair], 1);
        std::memcpy(&sums[2 * pair], &a, sizeof a), std::memcpy(&sums[2 * pair + 1], &b, sizeof b);
    }
}
#endif

// Eight pixels with the four-pixel block.
void zoomBlock8(const ZoomSample* samples, int n, size_t stride, int x0, float c0, float last, V4f sums[8]) {
    zoomBlock(samples, n, stride, x0, c0, last, sums);
    zoomBlock(samples, n, stride, x0, std::min(c0 + 4, last), last, sums + 4);
}
using ZoomBlockFn = void (*)(const ZoomSample*, int, size_t, int, float, float, V4f*);
struct ZoomBlocks {
    ZoomBlockFn four = zoomBlock, eight = zoomBlock8;
};

// One row of a zoom pass. Along a run of pixels with the same number of samples n, sample
// i of every pixel comes from the same two rows of src with the same weights between them,
// at columns that step evenly. Pixels whose taps all lie inside src are summed four at a
// time; the others (at the edges of what a strip reads) one at a time with the taps outside
// read as transparent, by the same arithmetic, so a pixel's value never depends on how it
// was summed.
// The floor of v as an int (|v| < 2^31), without a call.
template <class T>
inline int floorOf(T v) {
    const int i = int(v);
    return i - (T(i) > v);
}

// counts is scratch space the caller keeps for its rows.
void zoomRow(const Buffer& src, Buffer& out, int y, double cx, double cy, double k, const ZoomSteps& steps, ZoomBlocks blocks,
             std::vector<int>& counts) {
    const PixelRect r = out.rect;
    const double py = y + 0.5;
    // Room for the single-precision columns, which may stray from the exact ones a little.
    const double slack = 1e-6 * (std::abs(src.rect.x) + src.rect.w + std::abs(cx)) + 1e-4;
    const double minFx = src.rect.x + slack, maxFx = src.rect.right() - 1 - slack;
    const double minFy = src.rect.y, maxFy = src.rect.top() - 1;
    // A sample whose taps all lie beyond the pixels src holds reads as transparent wherever it
    // lies: one-by-one samples are held just beyond them before becoming whole pixels, since a
    // centre put absurdly far away puts them beyond int's range.
    const double nearX0 = src.rect.x - 2.0, nearX1 = src.rect.right() + 1.0;
    const double nearY0 = src.rect.y - 2.0, nearY1 = src.rect.top() + 1.0;
    const size_t stride = size_t(src.rect.w) * 4;
    float* const row = out.row(y);
    // The row's samples for each number of samples, made when a run first needs them.
    std::array<std::array<ZoomSample, kZoomSamples>, kZoomSamples + 1> samples;
    std::array<bool, kZoomSamples + 1> made{};
    auto fyAt = [&](double t) { return (py - 0.5) + (cy - py) * t; };
    auto fxAt = [&](int x, double t) { return x * (1 - t) + (cx - 0.5) * t; };
    auto tapAt = [&](int col, int line) {
        if (col < src.rect.x || line < src.rect.y || col >= src.rect.right() || line >= src.rect.top()) return V4f{0, 0, 0, 0};
        return load4(src.at(col, line));
    };
    auto store = [&](int x, V4f sum, float fn) {
        const V4f mean = sum / fn;
        std::memcpy(row + size_t(x - r.x) * 4, &mean, sizeof mean);
    };
    // Every pixel's number of samples first, in a loop without branches, then its runs.
    counts.resize(size_t(r.w));
    zoomCounts(counts.data(), r.x, r.w, py, cx, cy, k);
    for (int xa = r.x; xa < r.right();) {
        const int n = counts[size_t(xa - r.x)];
        int xb = xa + 1;
        while (xb < r.right() && counts[size_t(xb - r.x)] == n) ++xb;
        const auto& run = steps[size_t(n)];
        const double tEnd = run[size_t(n - 1)].t;
        const double fyA = fyAt(0), fyB = fyAt(tEnd);
        const bool rowsInside = std::min(fyA, fyB) >= minFy && std::max(fyA, fyB) < maxFy;
        // A pixel's samples are inside when its first and last are.
        auto inside = [&](int x) {
            const double f0 = fxAt(x, 0), f1 = fxAt(x, tEnd);
            return rowsInside && std::min(f0, f1) >= minFx && std::max(f0, f1) < maxFx;
        };
        const float fn = float(n);
        auto oneByOne = [&](int x) {
            V4f acc = tapAt(x, y);  // sample 0, on the pixel itself
            for (int i = 1; i < n; ++i) {
                const ZoomStep& st = run[size_t(i)];
                const double fy = std::clamp(fyAt(st.t), nearY0, nearY1);
                const int iy = floorOf(fy);
                const float fx = float(x) * st.scale + st.shift;
                const bool near = fx > nearX0 && fx < nearX1;
                const int ix = near ? floorOf(fx) : src.rect.x - 2;
                acc += zoomLerp(tapAt(ix, iy), tapAt(ix + 1, iy), tapAt(ix, iy + 1), tapAt(ix + 1, iy + 1),
                                near ? fx - float(ix) : 0.0f, float(fy - iy));
            }
            store(x, acc, fn);
        };
        // Pixels whose streak leaves src lie at the ends of the run, and between two whose
        // streaks stay inside, every streak does.
        int from = xa, to = xb;
        while (from < to && !inside(from)) oneByOne(from++);
        while (from < to && !inside(to - 1)) oneByOne(--to);
        if (from < to) {
            auto& mine = samples[size_t(n)];
            if (!made[size_t(n)]) {
                for (int i = 0; i < n; ++i) {
                    const ZoomStep& st = run[size_t(i)];
                    const double fy = fyAt(st.t);
                    const int iy = floorOf(fy);
                    mine[size_t(i)] = {src.row(iy), float(fy - iy), st.scale, st.shift};
                }
                made[size_t(n)] = true;
            }
            // Eight pixels at a time while eight remain, then four.
            int x = from;
            for (; x + 8 <= to; x += 8) {
                V4f sums[8];
                blocks.eight(mine.data(), n, stride, src.rect.x, float(x), float(to - 1), sums);
                for (int l = 0; l < 8; ++l) store(x + l, sums[l], fn);
            }
            for (; x < to; x += 4) {
                V4f sums[4];
                blocks.four(mine.data(), n, stride, src.rect.x, float(x), float(to - 1), sums);
                for (int l = 0; l < std::min(4, to - x); ++l) store(x + l, sums[l], fn);
            }
        }
        xa = xb;
    }
}

// r scaled by s about (cx, cy). Edges beyond twice the range of pixel arithmetic are held
// there: a rectangle reaching that far counts as infinite anyway, and one reaching out to a
// centre put absurdly far away would, united with a picture's, lose the picture's own edges
// in rounding (beside 1e30, a photo's width is below the precision of a sum).
QRectF scaledAbout(const QRectF& r, double cx, double cy, double s) {
    const QRectF scaled = QRectF(cx + (r.left() - cx) * s, cy + (r.top() - cy) * s, r.width() * s, r.height() * s).normalized();
    static constexpr double kFar = 2 * kInfiniteHalf;
    if (scaled.left() >= -kFar && scaled.right() <= kFar && scaled.top() >= -kFar && scaled.bottom() <= kFar) return scaled;
    auto held = [](double v) { return std::max(-kFar, std::min(v, kFar)); };
    return QRectF(QPointF(held(scaled.left()), held(scaled.top())), QPointF(held(scaled.right()), held(scaled.bottom())));
}

// Each pixel averages samples on the way from itself toward the centre over a fraction
// k of the distance.

NodePtr zoomPass(const NodePtr& in, double cx, double cy, double k) {
    if (!in || k <= 0.0) return in;
    const QRectF e = in->extent();
    QRectF extent = e;
    if (!isInfinite(e)) extent = e.united(scaledAbout(e, cx, cy, 1.0 / (1.0 - k)));
    auto roi = [in, cx, cy, k](const PixelRect& q) {
        const QRectF r = q.toRectF();
        // Clipped to the input's pixels even when its extent counts as infinite: a centre
        // far outside the picture gives the first pass a huge extent, and the streaks of the
        // second would otherwise ask it for a rectangle reaching out to that centre.
        const PixelRect want = PixelRect::covering(r.united(scaledAbout(r, cx, cy, 1 - k))).grown(1);
        return want.intersected(PixelRect::covering(in->extent()).grown(1));
    };
    // How far samples reach, for the strip height (taller strips re-read less of what the
    // streaks pull in from outside them); capped so strips stay small in memory.
    int reach = 128;
    if (!isInfinite(e)) {
        const double fx = std::max(std::abs(e.left() - cx), std::abs(e.right() - cx));
        const double fy = std::max(std::abs(e.top() - cy), std::abs(e.bottom() - cy));
        reach = int(std::ceil(std::min(128.0, k * std::sqrt(fx * fx + fy * fy))));  // capped before it is an int
    }
    return makeRegionNode(in, extent, roi, reach, [cx, cy, k](const Buffer& src, Buffer& out) {
        const PixelRect r = out.rect;
        ZoomSteps steps{};
        for (int n = 1; n <= kZoomSamples; ++n)
            for (int i = 0; i < n; ++i) {
                const double t = n == 1 ? 0.0 : k * i / (n - 1);
                steps[size_t(n)][size_t(i)] = {t, float(1 - t), float((cx - 0.5) * t)};
            }
        ZoomBlocks blocks;
#if defined(__x86_64__) && defined(__GNUC__)
        if (__builtin_cpu_supports("avx")) blocks = {zoomBlockAvx4, zoomBlockAvx};
#endif
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            std::vector<int> counts;
            for (int y = y0; y < y1; ++y) zoomRow(src, out, y, cx, cy, k, steps, blocks, counts);
        }, r.w * double(kZoomSamples) * 4);
    }, /*writesAll=*/true);
}

// Streaks toward a centre, growing with the distance, so the blur looks the same on a
// thumbnail and on the full photo.
NodePtr zoomBlurNode(const NodePtr& in, double cx, double cy, double amount) {
    const double k = std::clamp(amount / 100.0, 0.0, 0.95);
    if (!in || k <= 0.0) return in;
    // Two passes of the half streak (scales multiply): a smooth streak from 2 x 24
    // samples, where one pass would need hundreds for a long streak.
    const double kHalf = 1.0 - std::sqrt(1.0 - k);
    return zoomPass(zoomPass(in, cx, cy, kHalf), cx, cy, kHalf);
}

NodePtr medianNode(const NodePtr& in) {
    // The edge pixels repeated outward, so that a corner's nine are not mostly transparency.
    const NodePtr source = isInfinite(in->extent()) ? in : makeClampNode(in);
    return makeRegionNode(source, in->extent(), [](const PixelRect& q) { return q.grown(1); }, 1, [](const Buffer& src, Buffer& out) {
        const PixelRect r = out.rect;
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    // The classic 19-exchange network for the median of nine, on all four
                    // channels at once.
                    float v[9][4];
                    int n = 0;
                    for (int j = -1; j <= 1; ++j)
                        for (int i = -1; i <= 1; ++i, ++n) std::memcpy(v[n], src.at(x + i, y + j), sizeof v[n]);
                    auto sort2 = [&](int a, int b) {
                        for (int c = 0; c < 4; ++c) {
                            const float lo = std::min(v[a][c], v[b][c]), hi = std::max(v[a][c], v[b][c]);
                            v[a][c] = lo, v[b][c] = hi;
                        }
                    };
                    sort2(1, 2), sort2(4, 5), sort2(7, 8), sort2(0, 1), sort2(3, 4), sort2(6, 7), sort2(1, 2), sort2(4, 5),
                        sort2(7, 8), sort2(0, 3), sort2(5, 8), sort2(4, 7), sort2(3, 6), sort2(1, 4), sort2(2, 5), sort2(4, 7),
                        sort2(4, 2), sort2(6, 4), sort2(4, 2);
                    std::memcpy(d, v[4], sizeof v[4]);
                }
            }
        }, r.w * 40.0);
    });
}

CIImage blurOf(const CIFilterArgs& a, const std::function<NodePtr(const NodePtr&)>& make) {
    const NodePtr in = inputNode(a);
    return in ? CIImage(make(in)) : CIImage();
}

}  // namespace

void registerBlurFilters() {
    // The radius is the Gaussian's standard deviation; the extent grows by three of them.
    registerFilter({"CIGaussianBlur", "Gaussian Blur", {kCICategoryBlur, kCICategoryVideo, kCICategoryHighDynamicRange},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeScalar, 10.0, 0.0, 100.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double r = a.number(kCIInputRadiusKey);
            return blurOf(a, [r](const NodePtr& in) { return gaussianBlurNode(in, r); });
        }});

    registerFilter({"CIBoxBlur", "Box Blur", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 10.0, 1.0, 100.0, 1.0, std::nullopt, 1.0)},
        [](const CIFilterArgs& a) {
            const int h = int(std::lround(std::min(2000.0, std::max(0.0, a.number(kCIInputRadiusKey)))));
            return blurOf(a, [h](const NodePtr& in) { return boxBlurNode(in, h); });
        }});

    registerFilter({"CIMotionBlur", "Motion Blur", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 20.0, 0.0, 100.0, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputAngleKey, kCIAttributeTypeAngle, 0.0, -kPi, kPi, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const double r = std::min(2000.0, a.number(kCIInputRadiusKey)), ang = a.number(kCIInputAngleKey);
            return blurOf(a, [r, ang](const NodePtr& in) { return motionBlurNode(in, r, ang); });
        }});

    registerFilter({"CIZoomBlur", "Zoom Blur", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), vectorInput(kCIInputCenterKey, kCIAttributeTypePosition, platform::Vec(150, 150)),
         numberInput("inputAmount", kCIAttributeTypeDistance, 20.0, 0.0, 200.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const platform::Vec c = a.vector(kCIInputCenterKey);
            const double amt = a.number("inputAmount");
            return blurOf(a, [c, amt](const NodePtr& in) { return zoomBlurNode(in, c.X(), c.Y(), amt); });
        }});

    registerFilter({"CIMedianFilter", "Median", {kCICategoryBlur, kCICategoryVideo},
        {imageInput()},
        [](const CIFilterArgs& a) { return blurOf(a, medianNode); }});

    // Smooths detail weaker than the noise level and sharpens what stands above it.
    registerFilter({"CINoiseReduction", "Noise Reduction", {kCICategoryBlur, kCICategoryVideo},
        {imageInput(), numberInput("inputNoiseLevel", kCIAttributeTypeScalar, 0.02, 0.0, 0.1, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputSharpnessKey, kCIAttributeTypeScalar, 0.4, 0.0, 2.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float noise = float(std::max(0.0, a.number("inputNoiseLevel")));
            const float sharp = float(a.number(kCIInputSharpnessKey));
            if (noise == 0.0f && sharp == 0.0f) return CIImage(in);
            return CIImage(blurCombineNode(in, 1.0,
                [noise, sharp](const float* p, const float* b, float* out, int n) {
                    for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                        const float d[4] = {p[0] - b[0], p[1] - b[1], p[2] - b[2], p[3] - b[3]};
                        const float ld = std::abs(luma(d));
                        const float keep = noise > 0 ? std::min(1.0f, (ld / noise) * (ld / noise)) : 1.0f;
                        const float g = keep * (1.0f + sharp);
                        for (int c = 0; c < 3; ++c) out[c] = b[c] + d[c] * g;
                        out[3] = p[3];
                    }
                }));
        }});

    // Sharpens the luminance only, so colour edges get no fringes.
    registerFilter({"CISharpenLuminance", "Sharpen Luminance", {kCICategorySharpen, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputSharpnessKey, kCIAttributeTypeScalar, 0.4, 0.0, 2.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float k = float(a.number(kCIInputSharpnessKey));
            if (k == 0.0f) return CIImage(in);
            return CIImage(blurCombineNode(in, 1.0, [k](const float* p, const float* b, float* out, int n) {
                for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                    const float dl = (luma(p) - luma(b)) * k;
                    const float a0 = p[3];
                    for (int c = 0; c < 3; ++c) out[c] = p[c] + dl;
                    out[3] = a0;
                }
            }));
        }});

    registerFilter({"CIUnsharpMask", "Unsharp Mask", {kCICategorySharpen, kCICategoryVideo},
        {imageInput(), numberInput(kCIInputRadiusKey, kCIAttributeTypeDistance, 2.5, 0.0, 100.0, 0.0, std::nullopt, 0.0),
         numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 0.5, 0.0, 1.0, 0.0, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) -> CIImage {
            const NodePtr in = inputNode(a);
            if (!in) return {};
            const float k = float(a.number(kCIInputIntensityKey));
            const double r = a.number(kCIInputRadiusKey);
            if (k == 0.0f || r <= 0.0) return CIImage(in);
            return CIImage(blurCombineNode(in, r, [k](const float* p, const float* b, float* out, int n) {
                for (int i = 0; i < n; ++i, p += 4, b += 4, out += 4) {
                    const float a0 = p[3];
                    for (int c = 0; c < 3; ++c) out[c] = p[c] + k * (p[c] - b[c]);
                    out[3] = a0;
                }
            }));
        }});
}

}  // namespace platform::ci
