#include "effect/compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "effect/pixel_loops.h"
#include "effect/processor_features.h"

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

// Draws with one row of the table, from the input start-up would build for it (built afresh
// from this table for every call: a few copies of it at most).
void composeWith(const PixelLoop& loop, const RingTable& table, const LayerOrigin origins[3],
                 std::uint8_t* pixels, int pitch) {
    RingWords* words = loop.buildInput != nullptr ? loop.buildInput(table, std::malloc) : nullptr;
    ASSERT_TRUE(loop.buildInput == nullptr || words != nullptr) << loop.name;
    const RingLayout ring{&table, words, &loop};
    loop.compose(ring, origins, pixels, pitch);
    std::free(words);
}

// Every loop of the table this processor can run, whichever start-up chooses: those needing a
// processor class only where the kernel reports it.
std::vector<const PixelLoop*> loopsHere() {
    std::vector<const PixelLoop*> loops;
    const std::uint32_t hwcap = processorHwcap();
    for (int i = 0; i < kPixelLoopCount; ++i) {
        if ((hwcap & kPixelLoops[i].hwcap) == kPixelLoops[i].hwcap)
            loops.push_back(&kPixelLoops[i]);
    }
    return loops;
}
const std::vector<const PixelLoop*> kLoops = loopsHere();

constexpr std::uint8_t kGuard = 0xEE;

// Composes into a fresh buffer at byte offset `shift` with the given pitch, and checks every
// pixel against the table and every byte around the 320 x 200 rows against the guard value.
// Returns the number of wrong bytes (0 when all is well).
int composeAndCount(const PixelLoop& loop, const RingTable& table, const LayerOrigin origins[3],
                    int shift, int pitch) {
    constexpr int kMargin = 64;
    const int size = kMargin + shift + pitch * (kScreenHeight - 1) + kScreenWidth + kMargin;
    std::vector<std::uint8_t> buffer(size, kGuard);
    std::uint8_t* pixels = buffer.data() + kMargin + shift;
    composeWith(loop, table, origins, pixels, pitch);
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

// The origins by the formula itself: trunc(((sin(t * speed) + 1) * 0.5) * span).
unsigned formulaOrigin(double t, double speed, double span) {
    return static_cast<unsigned>(((std::sin(t * speed) + 1.0) * 0.5) * span);
}

::testing::AssertionResult originMatchesFormula(double t, double speedX, double speedY) {
    const LayerOrigin o = layerOrigin(t, speedX, speedY);
    const unsigned x0 = formulaOrigin(t, speedX, 320.0), y0 = formulaOrigin(t, speedY, 200.0);
    if (o.x0 == x0 && o.y0 == y0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "t " << t << " speeds " << speedX << ", " << speedY << ": got " << o.x0 << "," << o.y0
           << " want " << x0 << "," << y0;
}

}  // namespace

// Every drift speed the program can draw (k / 5000, k = 1 .. 1000) in the first 600 frames, in
// 300 frames around 2^31 and 2^32 (where a 32-bit frame count would wrap; the program counts
// on), and in the 100 frames up to 2^53, the last frame a double counts exactly.
TEST(WindowOrigins, MatchFormulaForEveryDriftSpeed) {
    for (int k = 1; k <= 1000; ++k) {
        const double speed = k / 5000.0;
        const double other = (1001 - k) / 5000.0;
        for (double t = 1.0; t <= 600.0; t += 1.0) {
            ASSERT_TRUE(originMatchesFormula(t, speed, other));
        }
        for (double around : {2147483648.0, 4294967296.0}) {
            for (double t = around - 150.0; t < around + 150.0; t += 1.0) {
                ASSERT_TRUE(originMatchesFormula(t, speed, other));
            }
        }
        for (int before = 100; before >= 0; --before) {
            ASSERT_TRUE(originMatchesFormula(9007199254740992.0 - before, speed, other));
        }
    }
}

// Random drift speeds and frames, below 2^31, below 2^53, and beyond (angles of 2^50 and more
// take the formula throughout).
TEST(WindowOrigins, MatchFormulaAtRandomFrames) {
    std::mt19937_64 random(20261208);
    for (int n = 0; n < 100000; ++n) {
        const double speedX = static_cast<double>(random() % 1000 + 1) / 5000.0;
        const double speedY = static_cast<double>(random() % 1000 + 1) / 5000.0;
        const int bits = n % 3 == 0 ? 31 : n % 3 == 1 ? 53 : 63;
        const double t = static_cast<double>(random() % (std::uint64_t{1} << bits) + 1);
        ASSERT_TRUE(originMatchesFormula(t, speedX, speedY));
    }
}

// Frames found by a search where an origin's unrounded value lies within 2e-7 of an integer
// (about one origin in 2.5 million), where the integer estimate alone cannot decide it: at
// the ends of the range (the sine next to -1 or 1) and in between, in the first frames, around
// 2^31 and around 2^40.
TEST(WindowOrigins, MatchFormulaNextToIntegers) {
    struct Case {
        int speedStep;  // drift speed = speedStep / 5000
        double t;
        bool x;  // the close value is x0 (else y0)
    } const cases[] = {
        {358, 151076.0, true},
        {883, 43761.0, true},
        {708, 184457.0, false},
        {386, 176341.0, true},
        {673, 37412.0, true},
        {743, 131338.0, false},
        {148, 103818.0, false},
        {323, 180058.0, false},
        {323, 180058.0, true},
        {638, 103222.0, false},
        {1, 7854.0, true},
        {334, 2147543178.0, false},
        {371, 2147404785.0, false},
        {260, 2147465431.0, true},
        {371, 2147404785.0, true},
        {556, 2147502531.0, true},
        {75, 2147505595.0, false},
        {186, 2147393312.0, true},
        {889, 2147495884.0, false},
        {889, 2147495884.0, true},
        {741, 2147394523.0, false},
        {213, 1099511701464.0, false},
        {637, 1099511712371.0, false},
        {796, 1099511692308.0, false},
        {849, 1099511712487.0, false},
        {478, 1099511650510.0, false},
    };
    for (const Case& c : cases) {
        const double speed = c.speedStep / 5000.0;
        const double value = ((std::sin(c.t * speed) + 1.0) * 0.5) * (c.x ? 320.0 : 200.0);
        ASSERT_LT(std::fabs(value - std::round(value)), 2e-7) << c.speedStep << " " << c.t;
        EXPECT_TRUE(originMatchesFormula(c.t, speed, speed));
    }
}

// Angles where the formula's value is an integer n for each n of the span (the sine is
// 2n / span - 1), one and a thousand periods on, and the doubles on either side: the formula's
// own rounding decides these, and so must the origins. Frame 1, so that the angle is the speed.
TEST(WindowOrigins, MatchFormulaAtConstructedIntegers) {
    constexpr double kPi = 3.141592653589793;
    int close = 0, tried = 0;
    for (double span : {320.0, 200.0}) {
        for (int n = 0; n <= static_cast<int>(span); ++n) {
            const double angle = std::asin(2.0 * n / span - 1.0);
            for (double turn : {2.0 * kPi, 2000.0 * kPi}) {
                for (double a : {angle + turn, kPi - angle + turn}) {
                    ++tried;
                    close += std::fabs(((std::sin(a) + 1.0) * 0.5) * span - n) < 1e-9;
                    for (double speed : {a, std::nextafter(a, 0.0), std::nextafter(a, 1e300)}) {
                        ASSERT_TRUE(originMatchesFormula(1.0, speed, speed));
                    }
                }
            }
        }
    }
    EXPECT_GT(close, tried * 9 / 10) << tried;  // the construction really lands on them
}

// Angles the program cannot produce (negative, or beyond what the turns cover) follow the
// formula.
TEST(WindowOrigins, OtherAnglesFollowFormula) {
    for (double speed : {-0.0, -0.001, -1e300, 1e300}) {
        EXPECT_TRUE(originMatchesFormula(1000.0, speed, speed)) << speed;
    }
}

// drift 0.001 and 0.002 at t = 1000: sin 1 and sin 2 put layer 0 at column 294, row 190.
TEST(WindowOrigins, WorkedOrigin) {
    const LayerOrigin o = layerOrigin(1000.0, 0.001, 0.002);
    EXPECT_EQ(294u, o.x0);
    EXPECT_EQ(190u, o.y0);
    EXPECT_EQ(121894u, o.y0 * kRingTableWidth + o.x0);
}

// A sine of exactly +1 puts the window's last column and row on the table's last ones; -1
// puts it at the first.
TEST(WindowOrigins, Extremes) {
    ASSERT_EQ(1.0, std::sin(kHalfPi));
    const LayerOrigin high = layerOrigin(1.0, kHalfPi, kHalfPi);
    EXPECT_EQ(320u, high.x0);
    EXPECT_EQ(200u, high.y0);
    const LayerOrigin low = layerOrigin(1.0, -kHalfPi, -kHalfPi);
    EXPECT_EQ(0u, low.x0);
    EXPECT_EQ(0u, low.y0);
}

// In the first frame every drift speed (0.0002 .. 0.2) keeps the window near the middle.
TEST(WindowOrigins, FirstFrame) {
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
TEST(WindowOrigins, LayersUseTheirOwnSpeeds) {
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
TEST(PixelLoops, SumsWindowsAndKeepsRowTails) {
    const auto table = makeTable();
    constexpr int kPitch = 384;
    const LayerOrigin placements[][3] = {
        {{0, 0}, {0, 0}, {0, 0}},
        {{320, 200}, {320, 200}, {320, 200}},
        {{0, 200}, {320, 0}, {160, 100}},
        {{294, 190}, {7, 13}, {319, 1}},
    };
    for (const PixelLoop* loop : kLoops) {
        for (const auto& origins : placements) {
            std::vector<std::uint8_t> pixels(kPitch * kScreenHeight, kGuard);
            composeWith(*loop, *table, origins, pixels.data(), kPitch);
            for (int j = 0; j < kScreenHeight; ++j) {
                for (int i = 0; i < kScreenWidth; ++i) {
                    ASSERT_EQ(expectedPixel(*table, origins, i, j), pixels[j * kPitch + i])
                        << loop->name << " " << i << "," << j;
                }
                for (int i = kScreenWidth; i < kPitch; ++i) {
                    ASSERT_EQ(kGuard, pixels[j * kPitch + i]) << loop->name;
                }
            }
        }
    }
}

// Every pixel loop for every combination of the three windows' byte offsets within a word, on
// a destination at every offset: each window's words come from the copy of its offset, and
// heads and tails are done bytewise.
TEST(PixelLoops, EveryWordOffsetOfWindowsAndDestination) {
    const auto table = makeScrambledTable();
    for (const PixelLoop* loop : kLoops) {
        for (unsigned r0 = 0; r0 < 4; ++r0) {
            for (unsigned r1 = 0; r1 < 4; ++r1) {
                for (unsigned r2 = 0; r2 < 4; ++r2) {
                    const LayerOrigin origins[3] = {{100 + r0, 3}, {201 + r1, 150}, {4 + r2, 77}};
                    const int shift = static_cast<int>((r0 + 2 * r1 + 3 * r2) % 4);
                    ASSERT_EQ(0, composeAndCount(*loop, *table, origins, shift, 320))
                        << loop->name << " offsets " << r0 << r1 << r2 << " shift " << shift;
                }
            }
        }
    }
}

// Every offset within 32 bytes (two SSE2 registers, one NEON step) of each window and of the
// destination.
TEST(PixelLoops, EveryVectorOffset) {
    const auto table = makeScrambledTable();
    for (const PixelLoop* loop : kLoops) {
        for (unsigned r = 0; r < 32; ++r) {
            const LayerOrigin spread[3] = {{r, 0}, {32 + (r * 5) % 32, 1}, {64 + (r * 11) % 32, 2}};
            ASSERT_EQ(0, composeAndCount(*loop, *table, spread, static_cast<int>(r), 336))
                << loop->name << " " << r;
        }
    }
}

// Windows against the right and bottom edges of the table at every offset: nothing is read
// or written outside (the sanitizer build checks the reads), and any pitch works, odd ones
// putting each row's start at a different offset.
TEST(PixelLoops, TableEdgesAndAnyPitch) {
    const auto table = makeScrambledTable();
    for (const PixelLoop* loop : kLoops) {
        for (unsigned x0 = 313; x0 <= 320; ++x0) {
            const LayerOrigin origins[3] = {{x0, 200}, {320, 200 - x0 % 3}, {0, 200}};
            for (int pitch : {320, 321, 322, 323, 327, 400, 641}) {
                ASSERT_EQ(0, composeAndCount(*loop, *table, origins, 1, pitch))
                    << loop->name << " x0 " << x0 << " pitch " << pitch;
            }
        }
    }
}

// RingTable is a byte array: it may lie at any address, and no loop then reads outside it.
TEST(PixelLoops, TableAtAnyAddress) {
    const auto source = makeScrambledTable();
    std::vector<std::uint8_t> block(sizeof(RingTable) + 8);
    for (int shift = 1; shift < 4; ++shift) {
        RingTable* moved = reinterpret_cast<RingTable*>(block.data() + shift);
        std::memcpy(moved->bytes, source->bytes, sizeof(RingTable));
        const LayerOrigin origins[3] = {{0, 0}, {320, 200}, {3, 101}};
        for (const PixelLoop* loop : kLoops) {
            ASSERT_EQ(0, composeAndCount(*loop, *moved, origins, shift, 320))
                << loop->name << " " << shift;
        }
    }
}

// The largest possible sum, three windows over a peak value, is 255: nothing wraps or
// carries into a neighbouring pixel of the same word.
TEST(PixelLoops, SumNeverWraps) {
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    std::fill(std::begin(table->bytes), std::end(table->bytes), std::uint8_t{kMaxRingValue});
    std::vector<std::uint8_t> pixels(kScreenWidth * kScreenHeight);
    const LayerOrigin origins[3] = {{0, 0}, {319, 200}, {101, 50}};
    for (const PixelLoop* loop : kLoops) {
        composeWith(*loop, *table, origins, pixels.data(), kScreenWidth);
        for (std::uint8_t p : pixels) ASSERT_EQ(255, p) << loop->name;
    }
    std::free(table);
}

// A pitch of exactly 320 packs the rows; a frame composed through composeFrame, from the
// layout start-up builds, matches the origins it computes.
TEST(PixelLoopChoice, FrameMatchesItsOrigins) {
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

namespace {

constexpr std::uint32_t kArm926Hwcap = 0xd7;  // swp, half, thumb, fast multiply, VFP, EDSP
// What kernels report: nothing known (no /proc), an ARM926, a Cortex-A with NEON, everything.
constexpr std::uint32_t kReports[] = {0, kArm926Hwcap, kArm926Hwcap | kHwcapNeon, ~0u};

void* noMemory(std::size_t) {
    return nullptr;
}

const PixelLoop* loopNamed(const char* name) {
    for (int i = 0; i < kPixelLoopCount; ++i) {
        if (std::strcmp(kPixelLoops[i].name, name) == 0) return &kPixelLoops[i];
    }
    return nullptr;
}

}  // namespace

// Start-up never draws with a loop whose processor class the kernel did not report, builds
// the input of the loop it chose and nothing else, and takes the best loop when every class is
// reported; the last loop of the table runs on any processor from the table alone, so there is
// always one.
TEST(PixelLoopChoice, OnlyWhatTheKernelReports) {
    static RingTable table;
    const PixelLoop& last = kPixelLoops[kPixelLoopCount - 1];
    EXPECT_EQ(0u, last.hwcap);
    EXPECT_EQ(nullptr, last.buildInput);
    for (std::uint32_t report : kReports) {
        const RingLayout ring = buildRingLayoutFor(&table, report, std::malloc);
        EXPECT_EQ(&table, ring.table);
        EXPECT_EQ(ring.loop->hwcap, report & ring.loop->hwcap) << ring.loop->name << " " << report;
        EXPECT_EQ(ring.loop->buildInput != nullptr, ring.words != nullptr) << ring.loop->name;
        if (report == ~0u) {
            EXPECT_EQ(&kPixelLoops[0], ring.loop) << ring.loop->name;
        }
        std::free(ring.words);
    }
}

// Where a loop's input cannot be had (the word copies' megabyte), start-up passes it over for
// one that reads the table alone.
TEST(PixelLoopChoice, PassesOverALoopWhoseInputCannotBeHad) {
    static RingTable table;
    for (std::uint32_t report : kReports) {
        const RingLayout ring = buildRingLayoutFor(&table, report, noMemory);
        EXPECT_EQ(nullptr, ring.loop->buildInput) << ring.loop->name << " " << report;
        EXPECT_EQ(nullptr, ring.words);
        EXPECT_EQ(ring.loop->hwcap, report & ring.loop->hwcap) << ring.loop->name;
    }
}

// On 32-bit ARM the NEON loop runs exactly where the kernel reports NEON: an ARM926 (which
// reports everything but NEON) gets the word copies, a Cortex-A with NEON the table alone.
TEST(PixelLoopChoice, NeonOnlyWhereReported) {
    const PixelLoop* neon = loopNamed("neon");
    if (neon == nullptr) GTEST_SKIP() << "no NEON loop in this build";
    static RingTable table;
    const RingLayout without = buildRingLayoutFor(&table, kArm926Hwcap, std::malloc);
    const RingLayout with = buildRingLayoutFor(&table, kArm926Hwcap | kHwcapNeon, std::malloc);
    EXPECT_STREQ("words", pixelLoopName(without.loop));
    EXPECT_NE(nullptr, without.words);
    EXPECT_EQ(neon, with.loop);
    EXPECT_EQ(nullptr, with.words);
    std::free(without.words);
}

// The loop this processor got, against the one the test run names (ctest runs the suite
// under several emulated processors, each with the loop it must get); the name and the loops
// compared here are printed either way.
TEST(PixelLoopChoice, StartUpLoopIsTheExpectedOne) {
    static RingTable table;
    const RingLayout ring = buildRingLayout(&table);
    std::free(ring.words);
    const char* name = pixelLoopName(ring.loop);
    std::printf("pixel loop: %s (AT_HWCAP %#x); compared here:", name,
                static_cast<unsigned>(processorHwcap()));
    for (const PixelLoop* loop : kLoops) std::printf(" %s", loop->name);
    std::printf("\n");
    const char* expected = std::getenv("RINGWAVE_EXPECTED_PIXEL_LOOP");
    if (expected == nullptr) GTEST_SKIP() << "no RINGWAVE_EXPECTED_PIXEL_LOOP";
    EXPECT_STREQ(expected, name);
}
