#include "effect/compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "effect/compositor_paths.h"

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

// A table of pseudo-random ring values (0 .. 85) with no smooth runs, so that a byte taken
// from the wrong column, row or window shows.
std::unique_ptr<RingTable, decltype(&std::free)> makeScrambledTable() {
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    std::uint32_t state = 12345;
    for (std::uint8_t& b : table->bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>((state >> 16) % (kMaxRingValue + 1));
    }
    return {table, &std::free};
}

using ComposeFunction = void (*)(const RingTable&, const LayerOrigin[3], std::uint8_t*, int);

struct ComposePath {
    const char* name;
    ComposeFunction compose;
};

// Word copies of the given table, in one block kept for the whole test run (refilled for
// every call: filling is a few copies of the table).
RingWords* copiesOf(const RingTable& table) {
    static RingWords* const words = static_cast<RingWords*>(std::malloc(sizeof(RingWords)));
    fillRingWords(table, words);
    return words;
}

void composeFromCopies(const RingTable& table, const LayerOrigin origins[3], std::uint8_t* pixels,
                       int pitch) {
    composeLayersWords(*copiesOf(table), origins, pixels, pitch);
}

// What composeFrame draws with, and without, the word copies.
void composeLayout(const RingTable& table, const LayerOrigin origins[3], std::uint8_t* pixels,
                   int pitch) {
    const RingLayout ring{&table, copiesOf(table)};
    composeLayers(ring, origins, pixels, pitch);
}

void composeLayoutWithoutCopies(const RingTable& table, const LayerOrigin origins[3],
                                std::uint8_t* pixels, int pitch) {
    const RingLayout ring{&table, nullptr};
    composeLayers(ring, origins, pixels, pitch);
}

// Every pixel loop of the compositor, whichever this build draws with.
const ComposePath kPaths[] = {
#if defined(__SSE2__)
    {"composeLayersVector", composeLayersVector},
#endif
    {"composeLayersWords", composeFromCopies},
    {"composeLayersBytes", composeLayersBytes},
    {"composeLayers(copies)", composeLayout},
    {"composeLayers(table alone)", composeLayoutWithoutCopies},
};

constexpr std::uint8_t kGuard = 0xEE;

// Composes into a fresh buffer at byte offset `shift` with the given pitch, and checks every
// pixel against the table and every byte around the 320 x 200 rows against the guard value.
// Returns the number of wrong bytes (0 when all is well).
int composeAndCount(ComposeFunction compose, const RingTable& table, const LayerOrigin origins[3],
                    int shift, int pitch) {
    constexpr int kMargin = 64;
    const int size = kMargin + shift + pitch * (kScreenHeight - 1) + kScreenWidth + kMargin;
    std::vector<std::uint8_t> buffer(size, kGuard);
    std::uint8_t* pixels = buffer.data() + kMargin + shift;
    compose(table, origins, pixels, pitch);
    int wrong = 0;
    std::vector<bool> written(size, false);
    for (int j = 0; j < kScreenHeight; ++j) {
        for (int i = 0; i < kScreenWidth; ++i) {
            const std::ptrdiff_t at = pixels - buffer.data() + j * pitch + i;
            written[at] = true;
            wrong += buffer[at] != expectedPixel(table, origins, i, j);
        }
    }
    for (int at = 0; at < size; ++at) wrong += !written[at] && buffer[at] != kGuard;
    return wrong;
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
    const LayerOrigin placements[][3] = {
        {{0, 0}, {0, 0}, {0, 0}},
        {{320, 200}, {320, 200}, {320, 200}},
        {{0, 200}, {320, 0}, {160, 100}},
        {{294, 190}, {7, 13}, {319, 1}},
    };
    for (const ComposePath& path : kPaths) {
        for (const auto& origins : placements) {
            std::vector<std::uint8_t> pixels(kPitch * kScreenHeight, kGuard);
            path.compose(*table, origins, pixels.data(), kPitch);
            for (int j = 0; j < kScreenHeight; ++j) {
                for (int i = 0; i < kScreenWidth; ++i) {
                    ASSERT_EQ(expectedPixel(*table, origins, i, j), pixels[j * kPitch + i])
                        << path.name << " " << i << "," << j;
                }
                for (int i = kScreenWidth; i < kPitch; ++i) {
                    ASSERT_EQ(kGuard, pixels[j * kPitch + i]) << path.name;
                }
            }
        }
    }
}

// Every pixel loop for every combination of the three windows' byte offsets within a word, on
// a destination at every offset: each window's words come from the copy of its offset, and
// heads and tails are done bytewise.
TEST(Compositor, EveryWordOffsetOfWindowsAndDestination) {
    const auto table = makeScrambledTable();
    for (const ComposePath& path : kPaths) {
        for (unsigned r0 = 0; r0 < 4; ++r0) {
            for (unsigned r1 = 0; r1 < 4; ++r1) {
                for (unsigned r2 = 0; r2 < 4; ++r2) {
                    const LayerOrigin origins[3] = {{100 + r0, 3}, {201 + r1, 150}, {4 + r2, 77}};
                    const int shift = static_cast<int>((r0 + 2 * r1 + 3 * r2) % 4);
                    ASSERT_EQ(0, composeAndCount(path.compose, *table, origins, shift, 320))
                        << path.name << " offsets " << r0 << r1 << r2 << " shift " << shift;
                }
            }
        }
    }
}

// Every offset within 16 bytes (an SSE2 register) of each window and of the destination.
TEST(Compositor, EveryVectorOffset) {
    const auto table = makeScrambledTable();
    for (const ComposePath& path : kPaths) {
        for (unsigned r = 0; r < 16; ++r) {
            const LayerOrigin spread[3] = {{r, 0}, {16 + (r * 5) % 16, 1}, {32 + (r * 11) % 16, 2}};
            ASSERT_EQ(0, composeAndCount(path.compose, *table, spread, static_cast<int>(r), 336))
                << path.name << " " << r;
        }
    }
}

// Windows against the right and bottom edges of the table at every offset: nothing is read
// or written outside (the sanitizer build checks the reads), and any pitch works, odd ones
// putting each row's start at a different offset.
TEST(Compositor, TableEdgesAndAnyPitch) {
    const auto table = makeScrambledTable();
    for (const ComposePath& path : kPaths) {
        for (unsigned x0 = 313; x0 <= 320; ++x0) {
            const LayerOrigin origins[3] = {{x0, 200}, {320, 200 - x0 % 3}, {0, 200}};
            for (int pitch : {320, 321, 322, 323, 327, 400, 641}) {
                ASSERT_EQ(0, composeAndCount(path.compose, *table, origins, 1, pitch))
                    << path.name << " x0 " << x0 << " pitch " << pitch;
            }
        }
    }
}

// RingTable is a byte array: it may lie at any address, and no loop then reads outside it.
TEST(Compositor, TableAtAnyAddress) {
    const auto source = makeScrambledTable();
    std::vector<std::uint8_t> block(sizeof(RingTable) + 8);
    for (int shift = 1; shift < 4; ++shift) {
        RingTable* moved = reinterpret_cast<RingTable*>(block.data() + shift);
        std::memcpy(moved->bytes, source->bytes, sizeof(RingTable));
        const LayerOrigin origins[3] = {{0, 0}, {320, 200}, {3, 101}};
        for (const ComposePath& path : kPaths) {
            ASSERT_EQ(0, composeAndCount(path.compose, *moved, origins, shift, 320))
                << path.name << " " << shift;
        }
    }
}

// A pitch of exactly 320 packs the rows; a frame composed through composeFrame, from the
// layout start-up builds, matches the origins it computes.
TEST(Compositor, FrameMatchesItsOrigins) {
    const auto table = makeTable();
    const RingLayout ring = buildRingLayout(table.get());
    EffectParams params{};
    for (int k = 0; k < 6; ++k) params.driftSpeed[k] = (k * 173 % 1000 + 1) / 5000.0;
    std::vector<std::uint8_t> pixels(kScreenWidth * kScreenHeight);
    for (double t : {1.0, 99.0, 65536.0, 2147483648.0}) {
        composeFrame(t, params, ring, pixels.data(), kScreenWidth);
        LayerOrigin origins[3];
        computeLayerOrigins(t, params, origins);
        for (int j = 0; j < kScreenHeight; j += 7) {
            for (int i = 0; i < kScreenWidth; ++i) {
                ASSERT_EQ(expectedPixel(*table, origins, i, j), pixels[j * kScreenWidth + i]);
            }
        }
    }
    std::free(ring.words);
}

// The largest possible sum, three windows over a peak value, is 255: nothing wraps or
// carries into a neighbouring pixel of the same word.
TEST(Compositor, SumNeverWraps) {
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    std::fill(std::begin(table->bytes), std::end(table->bytes), std::uint8_t{kMaxRingValue});
    std::vector<std::uint8_t> pixels(kScreenWidth * kScreenHeight);
    const LayerOrigin origins[3] = {{0, 0}, {319, 200}, {101, 50}};
    for (const ComposePath& path : kPaths) {
        path.compose(*table, origins, pixels.data(), kScreenWidth);
        for (std::uint8_t p : pixels) ASSERT_EQ(255, p) << path.name;
    }
    std::free(table);
}
