#include "effect/ring_table.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRingScale = kPi / 569600.0;  // pi / (4 * (320^2 + 200^2))
constexpr double kRingFrequency = 12.0;        // radians per unit of sqrt(d * K)
constexpr double kRingAmplitude = 256.0;
constexpr double kRingDivisor = 6.0;

constexpr int kTopLevel = 85;   // levels 1 .. 85 are the integers the wave crosses
constexpr int kMaxPeriods = 3;  // the farthest corner lies just over two periods out
// Only squared distances this close to a crossing are computed with the formula; see below.
constexpr double kWindowHalf = 1.0 / 1024.0;

// Each crossing adds at most one run for the band before it and one for the one integer its
// window can hold, and one run follows the last crossing.
static_assert(kWindowHalf < 0.5, "at most one integer near each crossing");
static_assert(1 + 2 * 2 * kTopLevel * kMaxPeriods <= kMaxRingRuns, "room for every run");

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
// (rising) and pi - asin(..) + 2 pi k (falling), found here to within 1e-9 in d (a few
// roundings of numbers below 13, then of d below 204,801). Near a crossing |cos| >= 0.12, and
// the angle moves by at least 12 sqrt(K) / (2 sqrt(204800)) > 3e-5 radians per unit of d, so
// f moves by more than 1.5e-4 per unit of d there: kWindowHalf (1/1024) away from a crossing f
// is more than 1e-7 from the level, far beyond the error of either computation. Between
// crossings f stays inside one band (n, n + 1) (its extremes 0 and 85.33 cannot mislead the
// truncation: at 0 the computed value truncates to 0 from either side), so every d outside
// all windows truncates to the band of the crossing before it. Only a d inside a window (an
// integer within 1/1024 of a crossing: a handful of the 510 crossings have one) is computed
// with the formula.
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
    // The angle where the rising wave meets each level in the first period: every period has
    // the same ones, 2 pi further on, and the falling wave meets the level at pi minus it.
    double rising[kTopLevel + 1];
    for (int level = 1; level <= kTopLevel; ++level) {
        rising[level] = std::asin(level * kRingDivisor / kRingAmplitude - 1.0);
    }
    // Crossings in increasing angle, hence increasing d: in each period the rising branch
    // meets levels 1 .. 85 upwards, the falling branch meets them downwards.
    for (int period = 0; period < kMaxPeriods; ++period) {
        const double turn = 2.0 * kPi * period;
        for (int level = 1; level <= kTopLevel; ++level) {
            const double angle = rising[level] + turn;
            if (angle > 0.0 && angle <= ringAngle + 1.0) {
                crossing(angle, static_cast<std::uint8_t>(level));
            }
        }
        for (int level = kTopLevel; level >= 1; --level) {
            const double angle = kPi - rising[level] + turn;
            if (angle <= ringAngle + 1.0) crossing(angle, static_cast<std::uint8_t>(level - 1));
        }
    }
    if (next <= kMaxRingDistance2) extendProfile(profile, next, band);
}

namespace {

// The run holding squared distance d (runs start at 0 and increase).
int runHolding(const RingProfile& profile, std::int32_t d) {
    int lo = 0, hi = profile.count - 1;  // start[lo] <= d, and d < start[hi + 1]
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (profile.start[mid] <= d) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return lo;
}

// One row of the table, y * y = yy: the bytes of columns 320 + x and 320 - x both hold the run
// of d = yy + x * x. Going outwards d grows by 2x + 1 a column, and each run is written until
// d reaches the next run's start: every byte gets its run by integer comparison alone, one per
// run and one per column, and two stores per column. Runs shorter than a column step get
// none; the run holding column 0 (x = 320) fills the rest of the row.
void fillRow(const RingProfile& profile, std::int32_t yy, std::uint8_t* centre) {
    const std::int32_t edge = yy + kRingCentre * kRingCentre;  // d of column 0
    const int last = runHolding(profile, edge);
    std::int32_t d = yy;
    std::int32_t step = 1;  // 2x + 1
    std::uint8_t* right = centre;
    std::uint8_t* left = centre;
    for (int run = runHolding(profile, yy); run < last; ++run) {
        const std::int32_t end = profile.start[run + 1];
        const std::uint8_t value = profile.value[run];
        while (d < end) {
            *right++ = value;
            *left-- = value;
            d += step;
            step += 2;
        }
    }
    // Columns up to 639 on the right (x = 319) and down to 0 on the left (x = 320).
    std::uint8_t* const rowStart = centre - kRingCentre;
    std::memset(right, profile.value[last], rowStart + kRingTableWidth - right);
    std::memset(rowStart, profile.value[last], left - rowStart + 1);
}

}  // namespace

void fillRingTable(RingTable* table) {
    RingProfile profile;
    computeRingProfile(&profile);
    // Rows y = -320 .. 0 from the runs; rows y = 1 .. 79 are rows -1 .. -79 again.
    for (int row = 0; row <= kRingCentre; ++row) {
        const std::int32_t y = row - kRingCentre;
        fillRow(profile, y * y, table->bytes + row * kRingTableWidth + kRingCentre);
    }
    for (int row = kRingCentre + 1; row < kRingTableHeight; ++row) {
        std::memcpy(table->bytes + row * kRingTableWidth,
                    table->bytes + (2 * kRingCentre - row) * kRingTableWidth, kRingTableWidth);
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
