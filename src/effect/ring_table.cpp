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

}  // namespace

std::uint8_t ringValue(std::int32_t distance2) {
    double wave = std::sin(std::sqrt(static_cast<double>(distance2) * kRingScale) * kRingFrequency);
    return static_cast<std::uint8_t>((wave + 1.0) * kRingAmplitude / kRingDivisor);
}

void fillRingTable(RingTable* table) {
    std::uint8_t* out = table->bytes;
    for (int y = -kRingCentre; y < kRingTableHeight - kRingCentre; ++y) {
        for (int x = -kRingCentre; x < kRingTableWidth - kRingCentre; ++x) {
            *out++ = ringValue(x * x + y * y);
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
