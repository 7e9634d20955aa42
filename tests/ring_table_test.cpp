#include "effect/ring_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A heap table of exactly 256,000 bytes, so that a read past either end is caught by the
// address sanitizer build.
std::unique_ptr<RingTable, decltype(&std::free)> makeTable() {
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    fillRingTable(table);
    return {table, &std::free};
}

// ringValue, the formula itself, at every squared distance 0 .. 204800: computed once and
// shared, since it is the slow part of these tests (under an emulator most of all).
const std::vector<std::uint8_t>& exactValues() {
    static const std::vector<std::uint8_t> values = [] {
        std::vector<std::uint8_t> v(kMaxRingDistance2 + 1);
        for (std::int32_t d = 0; d <= kMaxRingDistance2; ++d) v[d] = ringValue(d);
        return v;
    }();
    return values;
}

int at(const RingTable& table, int x, int y) {
    return table.bytes[(y + kRingCentre) * kRingTableWidth + (x + kRingCentre)];
}

}  // namespace

// Values worked out independently (Python's math module, same formula and order) for
// squared distances across the table, including both ends of the range.
TEST(RingTable, KnownValues) {
    struct Case {
        std::int32_t d;
        int value;
    } const cases[] = {
        {0, 42},     {1, 43},    {2, 44},     {5, 45},      {100, 54},    {2704, 85},
        {10000, 56}, {25600, 0}, {50000, 43}, {102400, 59}, {108002, 49}, {204800, 50},
    };
    for (const Case& c : cases) EXPECT_EQ(c.value, ringValue(c.d)) << "d = " << c.d;
}

// The scale factor pi / 569600 must be the one double with this bit pattern; any other
// rounding moves ring edges by a pixel.
TEST(RingTable, ScaleFactorIsExact) {
    const double k = 3.141592653589793 / 569600.0;
    std::uint64_t bits;
    std::memcpy(&bits, &k, sizeof bits);
    EXPECT_EQ(0x3ED72227A6F626FAull, bits);
    EXPECT_EQ(5.515436540712418e-06, k);
}

// The centre sits at column 320, row 320; the block runs from (-320, -320) to (319, 79).
TEST(RingTable, LayoutAndCorners) {
    const auto table = makeTable();
    EXPECT_EQ(42, at(*table, 0, 0));
    EXPECT_EQ(42, table->bytes[320 * 640 + 320]);
    EXPECT_EQ(ringValue(320 * 320 + 320 * 320), table->bytes[0]);
    EXPECT_EQ(ringValue(319 * 319 + 79 * 79), table->bytes[kRingTableBytes - 1]);
    // Every byte is the ring value of its own squared distance.
    const std::vector<std::uint8_t>& exact = exactValues();
    for (int y = -320; y < 80; ++y) {
        for (int x = -320; x < 320; ++x) {
            ASSERT_EQ(exact[x * x + y * y], at(*table, x, y)) << x << "," << y;
        }
    }
}

// Out from the centre along a row the value first climbs to 85 (at 52 pixels), then falls
// to 0 (at 160 pixels); the whole table spans exactly 0 .. 85.
TEST(RingTable, RangeAndFirstRing) {
    const auto table = makeTable();
    int firstPeak = -1, firstZero = -1;
    for (int x = 0; x < 320; ++x) {
        const int v = at(*table, x, 0);
        if (v == 85 && firstPeak < 0) firstPeak = x;
        if (v == 0 && firstZero < 0) firstZero = x;
    }
    EXPECT_EQ(52, firstPeak);
    EXPECT_EQ(160, firstZero);
    int lo = 255, hi = 0;
    for (std::uint8_t v : table->bytes) {
        lo = std::min<int>(lo, v);
        hi = std::max<int>(hi, v);
    }
    EXPECT_EQ(0, lo);
    EXPECT_EQ(kMaxRingValue, hi);
}

// No squared distance the table can hold gives a value above 85.
TEST(RingTable, NoValueAboveMaximum) {
    const std::vector<std::uint8_t>& exact = exactValues();
    for (std::int32_t d = 0; d <= kMaxRingDistance2; ++d) {
        ASSERT_LE(exact[d], kMaxRingValue) << "d = " << d;
    }
}

// The table is filled from runs of equal values worked out from the wave's crossings, with
// the formula evaluated only next to each crossing. Every squared distance, both ends
// included, must get exactly the formula's value.
TEST(RingTable, ProfileMatchesFormulaAtEveryDistance) {
    auto profile = std::make_unique<RingProfile>();
    computeRingProfile(profile.get());
    ASSERT_GT(profile->count, 0);
    ASSERT_LE(profile->count, kMaxRingRuns);
    EXPECT_EQ(0, profile->start[0]);
    for (int k = 1; k < profile->count; ++k) {
        ASSERT_LT(profile->start[k - 1], profile->start[k]) << k;
        ASSERT_LE(profile->start[k], kMaxRingDistance2) << k;
        ASSERT_NE(profile->value[k - 1], profile->value[k]) << k;
    }
    const std::vector<std::uint8_t>& exact = exactValues();
    int run = 0;
    for (std::int32_t d = 0; d <= kMaxRingDistance2; ++d) {
        while (run + 1 < profile->count && profile->start[run + 1] <= d) ++run;
        ASSERT_EQ(exact[d], profile->value[run]) << "d = " << d;
    }
    // One run per level crossed, about four crossings of each of 85 levels: the runs really
    // are the wave's bands, not one per distance.
    EXPECT_LT(profile->count, 400);
}
