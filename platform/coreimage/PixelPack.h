#pragma once
// Premultiplied float pixels packed into 8-bit ARGB32 premultiplied, and back.
#include <QtGlobal>
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::pixelpack {

// One row of premultiplied floats to ARGB32 premultiplied: alpha clamped to [0, 1], each
// colour to [0, alpha], rounded. Whole pixels at a time, so the loop stays in registers; on
// x86, four pixels at a time packed together, by the same operations.
inline void packRow(const float* s, quint32* d, int n) {
    using V4f = float __attribute__((vector_size(16)));
    using V4i = int __attribute__((vector_size(16)));
    int i = 0;
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), k255 = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
    // A pixel as (blue, green, red, alpha) levels, in the order ARGB32 keeps them in memory.
    auto levels = [&](const float* p) {
        __m128 v = _mm_max_ps(_mm_loadu_ps(p), zero);  // NaN reads as 0
        const __m128 lim = _mm_min_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)), one);
        v = _mm_min_ps(v, lim);
        v = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
        return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, k255), half));
    };
    for (; i + 4 <= n; i += 4, s += 16) {
        const __m128i lo = _mm_packs_epi32(levels(s), levels(s + 4)), hi = _mm_packs_epi32(levels(s + 8), levels(s + 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
#endif
    const V4f zero4 = {0, 0, 0, 0};
    for (; i < n; ++i, s += 4) {
        V4f v;
        std::memcpy(&v, s, sizeof v);
        // Written so that NaN (0 x inf upstream, say) reads as 0: converting it is undefined.
        const float a = v[3] >= 0.0f ? std::min(v[3], 1.0f) : 0.0f;
        const V4f lim = {a, a, a, a};
        v = v >= zero4 ? v : zero4;
        v = v > lim ? lim : v;
        const V4i q = __builtin_convertvector(v * 255.0f + 0.5f, V4i);
        d[i] = (quint32(q[3]) << 24) | (quint32(q[0]) << 16) | (quint32(q[1]) << 8) | quint32(q[2]);
    }
}

// One row of ARGB32 premultiplied pixels to premultiplied floats (RGBA order). alphaMask
// is ORed into each pixel first: 0xff000000 reads RGB32 as opaque.
// Each 8-bit level as a float, v / 255 exactly as the division gives it.
struct LevelTable {
    float v[256];
    constexpr LevelTable() : v() {
        for (int i = 0; i < 256; ++i) v[i] = float(i) / 255.0f;
    }
};
inline constexpr LevelTable kLevels{};

inline void unpackRow(const quint32* s, float* d, int n, quint32 alphaMask) {
    int i = 0;
#if defined(__SSE2__)
    // Four pixels at a time, each level divided by 255 as the table's are (a correctly
    // rounded division either way, so the same floats).
    const __m128i mask = _mm_set1_epi32(int(alphaMask)), none = _mm_setzero_si128();
    const __m128 k255 = _mm_set1_ps(255.0f);
    auto store = [&](__m128i bgra, float* to) {
        const __m128i rgba = _mm_shuffle_epi32(bgra, _MM_SHUFFLE(3, 0, 1, 2));
        _mm_storeu_ps(to, _mm_div_ps(_mm_cvtepi32_ps(rgba), k255));
    };
    for (; i + 4 <= n; i += 4, d += 16) {
        const __m128i p = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), mask);
        const __m128i lo = _mm_unpacklo_epi8(p, none), hi = _mm_unpackhi_epi8(p, none);
        store(_mm_unpacklo_epi16(lo, none), d);
        store(_mm_unpackhi_epi16(lo, none), d + 4);
        store(_mm_unpacklo_epi16(hi, none), d + 8);
        store(_mm_unpackhi_epi16(hi, none), d + 12);
    }
#endif
    const float* t = kLevels.v;
    for (; i < n; ++i, d += 4) {
        const quint32 p = s[i] | alphaMask;
        d[0] = t[(p >> 16) & 0xff], d[1] = t[(p >> 8) & 0xff], d[2] = t[p & 0xff], d[3] = t[p >> 24];
    }
}

}  // namespace platform::pixelpack
