#include "effect/integer_sine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

// The pieces the palette and the window origins build their error budgets from, each held to
// the bound its comment states (the budgets add these up).

namespace {

using namespace integer_sine;

constexpr double kTwoPi = 2.0 * 3.141592653589793;

// x / (2 pi) modulo 1 in units of 2^-64, truncated, from the full product of the mantissa and
// 1/(2 pi) to 192 bits (one more word than the palette and the origins use), word by word.
std::uint64_t fullTurns(double x) {
    // floor(2^192 / (2 pi)), most significant word first.
    const std::uint32_t inverse[6] = {0x28be60db, 0x9391054a, 0x7f09d5f4,
                                      0x7d4d3770, 0x36d8a566, 0x4f10e410};
    int exponent;
    const double fraction = std::frexp(x, &exponent);  // x = fraction * 2^exponent
    const std::uint64_t mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;                 // x = mantissa * 2^exponent
    std::uint32_t product[8] = {};  // little-endian words of mantissa * inverse
    const std::uint32_t m[2] = {static_cast<std::uint32_t>(mantissa),
                                static_cast<std::uint32_t>(mantissa >> 32)};
    for (int a = 0; a < 2; ++a) {
        std::uint64_t carry = 0;
        for (int b = 0; b < 6; ++b) {
            const std::uint64_t sum = std::uint64_t{m[a]} * inverse[5 - b] + product[a + b] + carry;
            product[a + b] = static_cast<std::uint32_t>(sum);
            carry = sum >> 32;
        }
        product[a + 6] = static_cast<std::uint32_t>(carry);
    }
    // product = x / (2 pi) * 2^(192 - exponent): the turn's 64 bits start at 128 - exponent.
    std::uint64_t turns = 0;
    for (int bit = 63; bit >= 0; --bit) {
        const int at = 128 - exponent + bit;
        const bool set = at < 256 && ((product[at / 32] >> (at % 32)) & 1) != 0;
        turns = turns << 1 | static_cast<std::uint64_t>(set);
    }
    return turns;
}

}  // namespace

// Every row is sin and cos of its sector to within 2^-31.
TEST(IntegerSine, SectorRowsWithinHalfAUnit) {
    for (int j = 0; j < kSectorRows; ++j) {
        const double angle = kTwoPi * j / kSectors;
        const SectorRow& row = kSectorTable.rows[j];
        EXPECT_LE(std::fabs(row.sine - std::sin(angle) * (1 << kSineScaleBits)), 0.5 + 1e-6) << j;
        EXPECT_LE(std::fabs(row.cosine - std::cos(angle) * (1 << kSineScaleBits)), 0.5 + 1e-6) << j;
    }
}

// A cos b and A sin b within 0.6 units of 2^-24 for the amplitudes in use, at the ends of the
// sector and at random offsets, with the sector bits above ignored.
TEST(IntegerSine, RotationWithinItsBound) {
    std::mt19937_64 random(7);
    for (int a : {127, 80, 50, 1}) {
        ASSERT_TRUE(amplitudeIsSound(a)) << a;
        const Amplitude amplitude = makeAmplitude(a);
        double worst = 0.0;
        for (int n = 0; n < 50000; ++n) {
            std::uint64_t turns = random();
            if (n < 64) turns = (turns & ~kInSectorMask) | (n < 32 ? n : kInSectorMask - n);
            const Rotation r = rotation(turns, amplitude);
            const double b =
                static_cast<double>(turns & kInSectorMask) * kTwoPi * 0x1p-64;  // < 2 pi / 256
            const double cosine = a * std::cos(b) * 0x1p24;
            const double sine = a * std::sin(b) * 0x1p24;
            worst = std::fmax(worst, std::fabs(r.cosine - cosine));
            worst = std::fmax(worst, std::fabs(r.sine - sine));
            ASSERT_LE(std::fabs(r.cosine - cosine), 0.6) << a << " " << turns;
            ASSERT_LE(std::fabs(r.sine - sine), 0.6) << a << " " << turns;
        }
        EXPECT_GT(worst, 0.4) << a;  // the rounding to 2^-24 alone comes near 0.5
    }
    // No offset gives the whole amplitude back as cos b except b = 0.
    EXPECT_EQ(127 << 24, rotation(0, makeAmplitude(127)).cosine);
    EXPECT_EQ(0, rotation(0, makeAmplitude(127)).sine);
}

// The turn of an angle is short of the exact one by less than 2^(22 + exponent) + 1 units of
// 2^-64 (2^-44 turn at most), and never above it: angles from the smallest to just below 2^50,
// each binade, and whole multiples of pi.
TEST(IntegerSine, TurnsShortByLessThanTheirBound) {
    std::mt19937_64 random(11);
    for (int e = -60; e < 50; ++e) {
        for (int n = 0; n < 300; ++n) {
            const double x = std::ldexp(1.0 + static_cast<double>(random() >> 12) * 0x1p-52, e);
            const Decomposed d = decompose(bitsOf(x));
            const std::uint64_t exact = fullTurns(x);
            const std::uint64_t shortBy = exact - turnsOf(d);  // wraps if turnsOf were above
            const double bound = std::ldexp(1.0, 22 + d.exponent) + 1.0;
            ASSERT_LT(static_cast<double>(shortBy), bound) << x;
        }
    }
    EXPECT_EQ(0u, turnsOf(decompose(bitsOf(0.0))));
    // The double pi is just below pi: half a turn, less 1.2e-16 / (2 pi) turn (about 362 units).
    const std::uint64_t half = std::uint64_t{1} << 63;
    EXPECT_LE(half - turnsOf(decompose(bitsOf(3.141592653589793))), 400u);
    EXPECT_GE(half - turnsOf(decompose(bitsOf(3.141592653589793))), 300u);
}

// One comparison of the bits takes 0 <= x < 2^n and refuses everything else.
TEST(IntegerSine, BitsCompareAsValues) {
    const std::uint64_t limit = twoPowerBits(30);
    EXPECT_EQ(limit, bitsOf(1073741824.0));
    EXPECT_LT(bitsOf(0.0), limit);
    EXPECT_LT(bitsOf(std::nextafter(1073741824.0, 0.0)), limit);
    EXPECT_LT(bitsOf(5e-324), limit);
    for (double refused :
         {1073741824.0, 1e300, -0.0, -1.0, -1e-300, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        EXPECT_GE(bitsOf(refused), limit) << refused;
    }
    const Decomposed d = decompose(bitsOf(6.0));  // 3 * 2^51 * 2^-50
    EXPECT_EQ(std::uint64_t{3} << 51, d.mantissa);
    EXPECT_EQ(-50, d.exponent);
    EXPECT_EQ(1u, decompose(bitsOf(5e-324)).mantissa);
}
