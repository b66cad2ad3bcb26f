// 8-bit pixels to floats and back, four at a time where the processor allows: every pixel
// must be the one a pixel on its own gives (the rows' tails go one at a time), whatever
// its floats hold: colours beyond alpha, negative ones, infinities, NaN.
#include "platform/coreimage/PixelPack.h"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace platform::pixelpack;

TEST(PixelPack, RowsPackEachPixelAsOnItsOwn) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const float odd[] = {0.0f, -0.0f, 1.0f, 0.5f, 0.4999f, 1.0f / 255, 0.5f / 255, 254.5f / 255, 1.2f, -0.3f, inf, -inf, nan, 3e38f};
    std::vector<float> row;
    for (float r : odd)
        for (float a : odd) row.insert(row.end(), {r, 0.25f, r * 0.5f, a});
    std::mt19937 random(7);
    std::uniform_real_distribution<float> spread(-0.2f, 1.2f);
    for (int i = 0; i < 4001; ++i) row.insert(row.end(), {spread(random), spread(random), spread(random), spread(random)});
    const int n = int(row.size() / 4);
    std::vector<quint32> together(static_cast<size_t>(n)), alone(static_cast<size_t>(n));
    packRow(row.data(), together.data(), n);
    for (int i = 0; i < n; ++i) packRow(row.data() + 4 * i, &alone[size_t(i)], 1);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(together[size_t(i)], alone[size_t(i)]) << "pixel " << i << ": " << row[size_t(4 * i)] << " "
                                                         << row[size_t(4 * i + 1)] << " " << row[size_t(4 * i + 2)] << " "
                                                         << row[size_t(4 * i + 3)];
    // Opaque white and a half-covered pixel as they must come out.
    const float white[] = {1, 1, 1, 1, 0.25f, 0.5f, 0.125f, 0.5f, 0, 0, 0, 0, 2, 2, 2, 2};
    quint32 four[4];
    packRow(white, four, 4);
    EXPECT_EQ(four[0], 0xffffffffu);
    EXPECT_EQ(four[1], 0x80408020u);
    EXPECT_EQ(four[2], 0u);
    EXPECT_EQ(four[3], 0xffffffffu);
}

TEST(PixelPack, RowsUnpackEachPixelAsOnItsOwn) {
    std::vector<quint32> row;
    for (quint32 v = 0; v < 256; ++v) row.insert(row.end(), {v * 0x01010101u, (v << 24) | (255 - v), v << 8, 0x80000000u | v << 16});
    row.push_back(0x12345678u);  // a tail pixel
    const int n = int(row.size());
    for (quint32 mask : {0u, 0xff000000u}) {
        SCOPED_TRACE(mask);
        std::vector<float> together(static_cast<size_t>(n) * 4), alone(static_cast<size_t>(n) * 4);
        unpackRow(row.data(), together.data(), n, mask);
        for (int i = 0; i < n; ++i) unpackRow(&row[size_t(i)], alone.data() + 4 * i, 1, mask);
        EXPECT_EQ(together, alone);
        // Each level is v / 255.
        const quint32 p = row[7] | mask;
        EXPECT_EQ(together[28], float((p >> 16) & 255) / 255.0f);
        EXPECT_EQ(together[31], float(p >> 24) / 255.0f);
    }
}
