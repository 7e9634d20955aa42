#include "effect/palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

namespace {

constexpr double kPi = 3.141592653589793;

// The palette formula evaluated straightforwardly: one library sine per byte.
void referenceWave(double phase, std::uint8_t wave[kPaletteSize]) {
    for (int i = 0; i < kPaletteSize; ++i) {
        const double u = ((static_cast<double>(i) * 0.00390625) * 6.0) * kPi;
        wave[i] = static_cast<std::uint8_t>((std::sin(u + phase) + 1.0) * 127.0);
    }
}

// (sin(u_i + phase) + 1) * 127 before truncation, as the formula computes it.
double unroundedByte(double phase, int i) {
    const double u = ((static_cast<double>(i) * 0.00390625) * 6.0) * kPi;
    return (std::sin(u + phase) + 1.0) * 127.0;
}

// computePalette with red at speed redSpeed, green and blue both at otherSpeed, against the
// formula; returns false (with a message) at the first differing byte.
::testing::AssertionResult matchesFormula(double redSpeed, double otherSpeed, double t) {
    EffectParams params{};
    params.colourSpeed[0] = redSpeed;
    params.colourSpeed[1] = params.colourSpeed[2] = otherSpeed;
    SDL_Color palette[kPaletteSize];
    computePalette(t, params, palette);
    std::uint8_t red[kPaletteSize], other[kPaletteSize];
    referenceWave(((redSpeed * kPi) * t) * kPi, red);
    referenceWave((otherSpeed * t) * kPi, other);
    for (int i = 0; i < kPaletteSize; ++i) {
        if (palette[i].r != red[i] || palette[i].g != other[i] || palette[i].b != other[i]) {
            return ::testing::AssertionFailure()
                   << "speeds " << redSpeed << ", " << otherSpeed << " t " << t << " entry " << i
                   << ": got " << int{palette[i].r} << "," << int{palette[i].g} << ","
                   << int{palette[i].b} << " want " << int{red[i]} << "," << int{other[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult waveMatchesFormula(double phase) {
    std::uint8_t fast[kPaletteSize], exact[kPaletteSize];
    computeWave(phase, fast);
    referenceWave(phase, exact);
    for (int i = 0; i < kPaletteSize; ++i) {
        if (fast[i] != exact[i]) {
            return ::testing::AssertionFailure() << "phase " << phase << " entry " << i << ": got "
                                                 << int{fast[i]} << " want " << int{exact[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

EffectParams equalColourSpeeds(double speed) {
    EffectParams params{};
    for (double& s : params.colourSpeed) s = speed;
    return params;
}

}  // namespace

// At t = 0 every phase is 0: entry 0 is sin 0, entry 64 sits on the trough (u = 1.5 pi),
// entry 128 back on sin 3 pi.
TEST(Palette, ZeroPhase) {
    SDL_Color palette[kPaletteSize];
    computePalette(0.0, equalColourSpeeds(0.001), palette);
    for (int i : {0, 128}) {
        EXPECT_EQ(127, palette[i].r) << i;
        EXPECT_EQ(127, palette[i].g) << i;
        EXPECT_EQ(127, palette[i].b) << i;
    }
    EXPECT_EQ(0, palette[64].r);
    EXPECT_EQ(0, palette[64].g);
    EXPECT_EQ(0, palette[64].b);
}

// Speeds 0.001 at t = 100: red's phase is 0.1 pi^2, green's and blue's 0.1 pi, so red moves
// pi times faster. Values worked out by hand from the formula and checked in Python.
TEST(Palette, RedCarriesPiTwice) {
    SDL_Color palette[kPaletteSize];
    computePalette(100.0, equalColourSpeeds(0.001), palette);
    struct Entry {
        int index, r, g, b;
    } const expected[] = {
        {0, 232, 166, 166}, {64, 56, 6, 6}, {128, 21, 87, 87}, {255, 227, 157, 157}};
    for (const Entry& e : expected) {
        EXPECT_EQ(e.r, palette[e.index].r) << e.index;
        EXPECT_EQ(e.g, palette[e.index].g) << e.index;
        EXPECT_EQ(e.b, palette[e.index].b) << e.index;
    }
}

// Each channel follows its own speed: changing green's speed leaves red and blue alone.
TEST(Palette, ChannelsAreIndependent) {
    EffectParams params = equalColourSpeeds(0.002);
    SDL_Color before[kPaletteSize], after[kPaletteSize];
    computePalette(777.0, params, before);
    params.colourSpeed[1] = 0.003;
    computePalette(777.0, params, after);
    int greenChanged = 0;
    for (int i = 0; i < kPaletteSize; ++i) {
        EXPECT_EQ(before[i].r, after[i].r);
        EXPECT_EQ(before[i].b, after[i].b);
        greenChanged += before[i].g != after[i].g;
    }
    EXPECT_GT(greenChanged, 0);
}

// No channel reaches 255 for any speed or time, and the fourth byte is never written.
TEST(Palette, BytesStayBelow255AndSkipFourthByte) {
    SDL_Color palette[kPaletteSize];
    for (int step = 1; step <= 1000; step += 37) {
        const EffectParams params = equalColourSpeeds(step / 300000.0);
        for (double t : {1.0, 2.0, 1000.0, 123456.0, 2147483647.0, 9007199254740992.0}) {
            for (SDL_Color& c : palette) c.unused = 0xA5;
            computePalette(t, params, palette);
            for (const SDL_Color& c : palette) {
                ASSERT_LE(c.r, 254);
                ASSERT_LE(c.g, 254);
                ASSERT_LE(c.b, 254);
                ASSERT_EQ(0xA5, c.unused);
            }
        }
    }
}

// Every colour speed the program can draw (k / 300000, k = 1 .. 1000), from the first frame
// to the largest t a double counts exactly, byte for byte against the formula.
TEST(Palette, MatchesFormulaForEveryColourSpeed) {
    for (int k = 1; k <= 1000; ++k) {
        const double speed = k / 300000.0;
        for (double t : {1.0, 1000.0, 2147483647.0, 9007199254740992.0}) {
            ASSERT_TRUE(matchesFormula(speed, speed, t));
        }
    }
}

// Random speeds and frame times, half of them below 2^31 (frames a run reaches), half up
// to 2^53, where the phase's ulp is a sizeable fraction of a radian.
TEST(Palette, MatchesFormulaAtRandomTimes) {
    std::mt19937_64 random(20261208);
    for (int n = 0; n < 1500; ++n) {
        const double red = static_cast<double>(random() % 1000 + 1) / 300000.0;
        const double other = static_cast<double>(random() % 1000 + 1) / 300000.0;
        const std::uint64_t limit = n % 2 ? (std::uint64_t{1} << 53) : (std::uint64_t{1} << 31);
        const double t = static_cast<double>(random() % limit + 1);
        ASSERT_TRUE(matchesFormula(red, other, t));
    }
}

// Frames found by a search where one byte's unrounded value lies within 2e-7 of an integer
// (of order 1e-6 of all bytes do), so the integer estimate alone cannot decide it.
TEST(Palette, MatchesFormulaNextToByteBoundaries) {
    struct Case {
        int speedStep;  // colour speed = speedStep / 300000
        double t;
        bool red;  // the close byte is in the red (else green and blue) channel
        int index;
    } const cases[] = {
        {872, 2422638605402081.0, false, 246}, {884, 622995742134213.0, false, 52},
        {437, 6556776772246014.0, false, 178}, {82, 8601027503018068.0, false, 150},
        {616, 8763639062697230.0, true, 182},  {498, 5558626555980062.0, true, 90},
        {589, 4357966475144959.0, false, 148}, {771, 6390717538145814.0, false, 82},
        {805, 5267515427364712.0, false, 100}, {159, 877662273.0, true, 170},
        {198, 269050205.0, true, 92},          {98, 174626516.0, true, 121},
        {981, 3812608.0, true, 245},           {105, 115715954.0, true, 222},
        {89, 217842737.0, true, 130},          {159, 143502119.0, true, 89},
        {825, 604509625.0, false, 236},        {75, 1350254750.0, false, 184},
        {150, 360430375.0, false, 248},        {875, 35519325.0, false, 212},
    };
    for (const Case& c : cases) {
        const double speed = c.speedStep / 300000.0;
        const double phase = c.red ? ((speed * kPi) * c.t) * kPi : (speed * c.t) * kPi;
        const double value = unroundedByte(phase, c.index);
        ASSERT_LT(std::fabs(value - std::round(value)), 2e-7) << c.speedStep << " " << c.t;
        EXPECT_TRUE(matchesFormula(speed, speed, c.t));
    }
}

// Phases placed so that u_i + p hits an angle whose byte value is an exact integer n (the
// sine is n / 127 - 1), one just below and one just above, for every n: the formula's own
// rounding decides these bytes, and so must the palette.
TEST(Palette, MatchesFormulaAtConstructedBoundaries) {
    int close = 0, tried = 0;
    for (int n = 0; n <= 254; ++n) {
        const double angle = std::asin(n / 127.0 - 1.0);
        for (double turn : {0.0, 2.0 * kPi, 2000.0 * kPi}) {
            for (double target : {angle + turn, kPi - angle + turn}) {
                const int i = (n * 7) % kPaletteSize;
                const double u = ((static_cast<double>(i) * 0.00390625) * 6.0) * kPi;
                const double phase = target - u;
                if (phase < 0.0) continue;
                ++tried;
                close += std::fabs(unroundedByte(phase, i) - n) < 1e-9;
                ASSERT_TRUE(waveMatchesFormula(phase));
                ASSERT_TRUE(waveMatchesFormula(std::nextafter(phase, 0.0)));
                ASSERT_TRUE(waveMatchesFormula(std::nextafter(phase, 1e300)));
            }
        }
    }
    EXPECT_GT(close, tried * 9 / 10) << tried;  // the construction really lands on them
}

// The same construction at phases of 2^28 to 2^38, where the sum u_i + p rounds to 2^-24 ..
// 2^-14 radians, so that its rounding moves the byte's value by up to 4e-3: the palette allows
// for it (below 2^36 with a margin that grows with the phase, beyond that by taking the
// rounding exactly). Most of these values land within that distance of their integer.
TEST(Palette, MatchesFormulaAtConstructedBoundariesOfLargePhases) {
    int close = 0, tried = 0;
    for (int n = 0; n <= 254; n += 2) {
        const double angle = std::asin(n / 127.0 - 1.0);
        for (double turn : {2.0 * kPi * 67108864.0, 2.0 * kPi * 134217727.0, 2.0 * kPi * 3e8,
                            2.0 * kPi * 1e10, 2.0 * kPi * 3e10}) {
            for (double target : {angle + turn, kPi - angle + turn}) {
                const int i = (n * 7) % kPaletteSize;
                const double u = ((static_cast<double>(i) * 0.00390625) * 6.0) * kPi;
                const double phase = target - u;
                ++tried;
                close += std::fabs(unroundedByte(phase, i) - n) < 4e-3;
                ASSERT_TRUE(waveMatchesFormula(phase));
            }
        }
    }
    EXPECT_GT(close, tried * 9 / 10) << tried;
}

// Around every power of two the phase's ulp doubles, and sums u_i + p that pass the next
// power of two round on a coarser grid; 2^21 is where the palette starts reproducing that
// rounding. Phases at, just below and up to 19 below each power.
TEST(Palette, MatchesFormulaAcrossPowersOfTwo) {
    for (int e = 15; e <= 49; ++e) {
        const double power = std::ldexp(1.0, e);
        for (double phase : {power, std::nextafter(power, 0.0), power - 0.5, power - 7.25,
                             power - 19.0, std::nextafter(power, 1e300)}) {
            ASSERT_TRUE(waveMatchesFormula(phase));
        }
    }
}

// Phases the program cannot produce (negative, or 2^50 and beyond) still follow the formula.
TEST(Palette, OtherPhasesFollowFormula) {
    for (double phase : {-0.0, -1.0, -123456.789, 1125899906842624.0, 1e17, 1e300}) {
        EXPECT_TRUE(waveMatchesFormula(phase));
    }
}
