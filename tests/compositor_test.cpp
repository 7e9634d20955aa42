#include "effect/compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr double kHalfPi = 1.5707963267948966;  // sin of this double is exactly 1.0

std::unique_ptr<RingTable, decltype(&std::free)> makeTable() {
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    fillRingTable(table);
    return {table, &std::free};
}

// The sum under screen pixel (i, j), worked out from table coordinates directly.
int expectedPixel(const RingTable& table, const LayerOrigin origins[3], int i, int j) {
    int sum = 0;
    for (int k = 0; k < 3; ++k) {
        sum += table.bytes[(origins[k].y0 + j) * kRingTableWidth + origins[k].x0 + i];
    }
    return sum;
}

}  // namespace

// drift 0.001 and 0.002 at t = 1000: sin 1 and sin 2 put layer 0 at column 294, row 190.
TEST(Compositor, WorkedOrigin) {
    const LayerOrigin o = layerOrigin(1000.0, 0.001, 0.002);
    EXPECT_EQ(294u, o.x0);
    EXPECT_EQ(190u, o.y0);
    EXPECT_EQ(121894u, o.y0 * kRingTableWidth + o.x0);
}

// A sine of exactly +1 puts the window's last column and row on the table's last ones; -1
// puts it at the first.
TEST(Compositor, OriginExtremes) {
    ASSERT_EQ(1.0, std::sin(kHalfPi));
    const LayerOrigin high = layerOrigin(1.0, kHalfPi, kHalfPi);
    EXPECT_EQ(320u, high.x0);
    EXPECT_EQ(200u, high.y0);
    const LayerOrigin low = layerOrigin(1.0, -kHalfPi, -kHalfPi);
    EXPECT_EQ(0u, low.x0);
    EXPECT_EQ(0u, low.y0);
}

// In the first frame every drift speed (0.0002 .. 0.2) keeps the window near the middle.
TEST(Compositor, FirstFrameOrigins) {
    for (int step = 1; step <= 1000; ++step) {
        const double speed = step / 5000.0;
        const LayerOrigin o = layerOrigin(1.0, speed, speed);
        ASSERT_GE(o.x0, 160u);
        ASSERT_LE(o.x0, 191u);
        ASSERT_GE(o.y0, 100u);
        ASSERT_LE(o.y0, 119u);
    }
}

// Layer k follows driftSpeed[2k] in x and driftSpeed[2k+1] in y.
TEST(Compositor, LayersUseTheirOwnSpeeds) {
    EffectParams params{};
    const double speeds[6] = {0.001, 0.002, 0.05, 0.0002, 0.2, 0.13};
    for (int k = 0; k < 6; ++k) params.driftSpeed[k] = speeds[k];
    LayerOrigin origins[3];
    computeLayerOrigins(4321.0, params, origins);
    for (int k = 0; k < 3; ++k) {
        const LayerOrigin alone = layerOrigin(4321.0, speeds[2 * k], speeds[2 * k + 1]);
        EXPECT_EQ(alone.x0, origins[k].x0) << k;
        EXPECT_EQ(alone.y0, origins[k].y0) << k;
    }
}

// Every pixel is the sum of the three windows, at the extremes of the table too (the sanitizer
// build catches any read outside it), and bytes past column 319 of a wide row stay untouched.
TEST(Compositor, SumsWindowsAndKeepsRowTails) {
    const auto table = makeTable();
    constexpr int kPitch = 384;
    constexpr std::uint8_t kGuard = 0xEE;
    const LayerOrigin placements[][3] = {
        {{0, 0}, {0, 0}, {0, 0}},
        {{320, 200}, {320, 200}, {320, 200}},
        {{0, 200}, {320, 0}, {160, 100}},
        {{294, 190}, {7, 13}, {319, 1}},
    };
    for (const auto& origins : placements) {
        std::vector<std::uint8_t> pixels(kPitch * kScreenHeight, kGuard);
        composeLayers(*table, origins, pixels.data(), kPitch);
        for (int j = 0; j < kScreenHeight; ++j) {
            for (int i = 0; i < kScreenWidth; ++i) {
                ASSERT_EQ(expectedPixel(*table, origins, i, j), pixels[j * kPitch + i])
                    << i << "," << j;
            }
            for (int i = kScreenWidth; i < kPitch; ++i) ASSERT_EQ(kGuard, pixels[j * kPitch + i]);
        }
    }
}

// A pitch of exactly 320 packs the rows; a frame composed through composeFrame matches the
// origins it computes.
TEST(Compositor, FrameMatchesItsOrigins) {
    const auto table = makeTable();
    EffectParams params{};
    for (int k = 0; k < 6; ++k) params.driftSpeed[k] = (k * 173 % 1000 + 1) / 5000.0;
    std::vector<std::uint8_t> pixels(kScreenWidth * kScreenHeight);
    for (double t : {1.0, 99.0, 65536.0, 2147483648.0}) {
        composeFrame(t, params, *table, pixels.data(), kScreenWidth);
        LayerOrigin origins[3];
        computeLayerOrigins(t, params, origins);
        for (int j = 0; j < kScreenHeight; j += 7) {
            for (int i = 0; i < kScreenWidth; ++i) {
                ASSERT_EQ(expectedPixel(*table, origins, i, j), pixels[j * kScreenWidth + i]);
            }
        }
    }
}

// The largest possible sum, three windows over a peak value, is 255: nothing wraps.
TEST(Compositor, SumNeverWraps) {
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    std::fill(std::begin(table->bytes), std::end(table->bytes), std::uint8_t{kMaxRingValue});
    std::vector<std::uint8_t> pixels(kScreenWidth * kScreenHeight);
    const LayerOrigin origins[3] = {{0, 0}, {320, 200}, {100, 50}};
    composeLayers(*table, origins, pixels.data(), kScreenWidth);
    for (std::uint8_t p : pixels) ASSERT_EQ(255, p);
    std::free(table);
}
