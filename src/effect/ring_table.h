#ifndef RINGWAVE_EFFECT_RING_TABLE_H_
#define RINGWAVE_EFFECT_RING_TABLE_H_

#include <cstdint>

constexpr int kRingTableWidth = 640;   // columns: x = column - 320, so x runs -320 .. 319
constexpr int kRingTableHeight = 400;  // rows: y = row - 320, so y runs -320 .. 79
constexpr int kRingTableBytes = kRingTableWidth * kRingTableHeight;
constexpr int kRingCentre = 320;  // column and row of the rings' centre (x = y = 0)
constexpr std::int32_t kMaxRingDistance2 = 204800;  // largest x*x + y*y in the table
constexpr int kMaxRingValue = 85;  // no ring value exceeds this: 3 * 85 fits a byte

// The field of concentric rings: 400 rows of 640 bytes, row stride 640, each byte 0 .. 85.
struct RingTable {
    std::uint8_t bytes[kRingTableBytes];
};

// The ring value at squared distance d = x*x + y*y (0 .. 204800) from the centre:
// trunc((sin(sqrt(d * K) * 12) + 1) * 256 / 6) with K = pi / 569600, in double precision and
// in exactly that order. Always 0 .. 85.
std::uint8_t ringValue(std::int32_t distance2);

// The ring values of every squared distance 0 .. 204800 as runs of equal values: run k holds
// value[k] for start[k] <= d < start[k + 1] (the last run ends at 204800). start[0] is 0,
// starts increase, neighbouring runs differ in value. Equal to ringValue for every d.
constexpr int kMaxRingRuns = 2048;
struct RingProfile {
    int count;
    std::int32_t start[kMaxRingRuns];
    std::uint8_t value[kMaxRingRuns];
};
void computeRingProfile(RingProfile* profile);

// Fills all 256,000 bytes: row y = -320 .. 79, column x = -320 .. 319, each byte
// ringValue(x * x + y * y).
void fillRingTable(RingTable* table);

// Prints "Precalculating table...", allocates the table on the heap and fills it. If the
// allocation fails it prints "Out of memory" on standard error and ends the process with
// status 1. The table is never released; process exit reclaims it.
RingTable* buildRingTable();

#endif  // RINGWAVE_EFFECT_RING_TABLE_H_
