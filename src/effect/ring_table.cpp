#include "effect/ring_table.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRingScale = kPi / 569600.0;  // pi / (4 * (320^2 + 200^2))
constexpr double kRingFrequency = 12.0;        // radians per unit of sqrt(d * K)
constexpr double kRingAmplitude = 256.0;
constexpr double kRingDivisor = 6.0;

constexpr int kTopLevel = 85;        // levels 1 .. 85 are the integers the wave crosses
constexpr int kMaxPeriods = 3;       // the farthest corner lies just over two periods out
constexpr int kBlockShift = 6;       // blocks of 64 squared distances for finding a run
constexpr double kWindowHalf = 1.0;  // exact values within this many units of d of a crossing

// Each crossing adds at most one run for the band before it and three for its window; one
// more slot holds the sentinel the table fill puts after the last run.
static_assert(1 + 4 * 2 * kTopLevel * kMaxPeriods < kMaxRingRuns, "room for every run");

// Appends value for squared distances from d on, unless it continues the last run.
void extendProfile(RingProfile* profile, std::int32_t d, std::uint8_t value) {
    const int n = profile->count;
    if (n > 0 && profile->value[n - 1] == value) return;
    profile->start[n] = d;
    profile->value[n] = value;
    profile->count = n + 1;
}

}  // namespace

std::uint8_t ringValue(std::int32_t distance2) {
    double wave = std::sin(std::sqrt(static_cast<double>(distance2) * kRingScale) * kRingFrequency);
    return static_cast<std::uint8_t>((wave + 1.0) * kRingAmplitude / kRingDivisor);
}

// Why this equals ringValue for every d. Let f(d) = (sin(12 sqrt(d K)) + 1) * 256 / 6 in real
// arithmetic (K the double constant). ringValue computes f with an error below 1e-12 (five
// correctly rounded operations and a sine within one ulp, on arguments below 13). f crosses
// an integer level n (1 .. 85) only where sin = n * 6 / 256 - 1, at angles asin(..) + 2 pi k
// (rising) and pi - asin(..) + 2 pi k (falling), found here to within 1e-6 in d. Near a
// crossing |cos| >= 0.12 and the angle moves by at most 0.03 radians per unit of d, so one
// unit of d away from a crossing f is more than 1e-4 from the level. Between crossings f
// stays inside one band (n, n + 1) (its extremes 0 and 85.33 cannot mislead the truncation:
// at 0 the computed value truncates to 0 from either side), so every d farther than one unit
// from all crossings truncates to the band of the crossing before it. Only the d within one
// unit of a crossing (about three per crossing, some 1,000 in all) are computed exactly.
void computeRingProfile(RingProfile* profile) {
    const double ringAngle = std::sqrt(kMaxRingDistance2 * kRingScale) * kRingFrequency;
    profile->count = 0;
    std::int32_t next = 0;             // first d not yet in the profile
    std::uint8_t band = ringValue(0);  // value after the last crossing seen
    auto crossing = [&](double angle, std::uint8_t bandAfter) {
        const double radius = angle / kRingFrequency;
        const double at = radius * radius / kRingScale;  // d of the crossing
        const double lo = std::ceil(at - kWindowHalf);
        const double hi = std::floor(at + kWindowHalf);
        if (lo > kMaxRingDistance2) return;  // beyond the table: the last band stands
        if (hi >= next) {
            if (lo > next) {
                extendProfile(profile, next, band);
                next = static_cast<std::int32_t>(lo);
            }
            const std::int32_t last =
                hi < kMaxRingDistance2 ? static_cast<std::int32_t>(hi) : kMaxRingDistance2;
            for (; next <= last; ++next) extendProfile(profile, next, ringValue(next));
        }
        band = bandAfter;
    };
    // Crossings in increasing angle, hence increasing d: in each period the rising branch
    // meets levels 1 .. 85 upwards, the falling branch meets them downwards.
    for (int period = 0; period < kMaxPeriods; ++period) {
        const double turn = 2.0 * kPi * period;
        for (int level = 1; level <= kTopLevel; ++level) {
            const double angle = std::asin(level * kRingDivisor / kRingAmplitude - 1.0) + turn;
            if (angle > 0.0 && angle <= ringAngle + 1.0) {
                crossing(angle, static_cast<std::uint8_t>(level));
            }
        }
        for (int level = kTopLevel; level >= 1; --level) {
            const double angle =
                kPi - std::asin(level * kRingDivisor / kRingAmplitude - 1.0) + turn;
            if (angle <= ringAngle + 1.0) crossing(angle, static_cast<std::uint8_t>(level - 1));
        }
    }
    if (next <= kMaxRingDistance2) extendProfile(profile, next, band);
}

void fillRingTable(RingTable* table) {
    RingProfile profile;
    computeRingProfile(&profile);
    // The run holding the first d of each block of kBlockSpan squared distances. Runs are
    // longer than a block except near the centre, so from there the run of any d is found
    // with a step or two forward.
    std::uint16_t blockRun[(kMaxRingDistance2 >> kBlockShift) + 1];
    for (int block = 0, run = 0; block <= (kMaxRingDistance2 >> kBlockShift); ++block) {
        while (run + 1 < profile.count && profile.start[run + 1] <= (block << kBlockShift)) ++run;
        blockRun[block] = static_cast<std::uint16_t>(run);
    }
    // Each row is symmetric about the centre column: walk x = 0 .. 320 outwards, where
    // d = y * y + x * x grows by 2x + 1 per step, and write columns 320 + x and 320 - x.
    // The profile gets a sentinel start past every d so the forward step needs no bound.
    profile.start[profile.count] = kMaxRingDistance2 + 1;
    for (int row = 0; row < kRingTableHeight; ++row) {
        const std::int32_t y = row - kRingCentre;
        std::uint8_t* centre = table->bytes + row * kRingTableWidth + kRingCentre;
        std::int32_t d = y * y;
        for (int x = 0; x <= kRingCentre; ++x) {
            int run = blockRun[d >> kBlockShift];
            while (profile.start[run + 1] <= d) ++run;
            centre[-x] = profile.value[run];
            if (x < kRingCentre) centre[x] = profile.value[run];
            d += 2 * x + 1;
        }
    }
}

RingTable* buildRingTable() {
    std::puts("Precalculating table...");
    std::fflush(stdout);  // seen before the wait, even when stdout is a pipe
    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    if (table == nullptr) {
        std::fputs("Out of memory\n", stderr);
        std::exit(1);
    }
    fillRingTable(table);
    return table;
}
