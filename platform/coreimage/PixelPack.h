#pragma once
// Premultiplied float pixels packed into 8-bit ARGB32 premultiplied, and back.
#include <QtGlobal>
#include <algorithm>
#include <cstring>

namespace platform::pixelpack {

// One row of premultiplied floats to ARGB32 premultiplied: alpha clamped to [0, 1], each
// colour to [0, alpha], rounded. Whole pixels at a time, so the loop stays in registers.
inline void packRow(const float* s, quint32* d, int n) {
    using V4f = float __attribute__((vector_size(16)));
    using V4i = int __attribute__((vector_size(16)));
    const V4f zero = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i, s += 4) {
        V4f v;
        std::memcpy(&v, s, sizeof v);
        // Written so that NaN (0 x inf upstream, say) reads as 0: converting it is undefined.
        const float a = v[3] >= 0.0f ? std::min(v[3], 1.0f) : 0.0f;
        const V4f lim = {a, a, a, a};
        v = v >= zero ? v : zero;
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
    const float* t = kLevels.v;
    for (int i = 0; i < n; ++i, d += 4) {
        const quint32 p = s[i] | alphaMask;
        d[0] = t[(p >> 16) & 0xff], d[1] = t[(p >> 8) & 0xff], d[2] = t[p & 0xff], d[3] = t[p >> 24];
    }
}

}  // namespace platform::pixelpack
