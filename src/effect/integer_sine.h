#ifndef RINGWAVE_EFFECT_INTEGER_SINE_H_
#define RINGWAVE_EFFECT_INTEGER_SINE_H_

// Inside the effect: the sine in integer arithmetic, with error bounds that the palette and the
// window origins use to decide their bytes without the library's sine; each budgets the errors
// listed here beside its own code.
//
// An angle is kept as a fraction of a whole turn in units of 2^-64, where wrapping past a whole
// turn is free. Its top 8 bits are a sector, one of 256 around the circle; the rest is an
// offset b within the sector (0 <= b < 2 pi / 256). Then
//   A sin(2 pi j / 256 + b) = sin_j * (A cos b) + cos_j * (A sin b),
// one table row per sector and one rotation (A cos b, A sin b) per angle.

#include <cstdint>
#include <cstring>

namespace integer_sine {

constexpr double kPi = 3.141592653589793;

// floor(2^128 / (2 pi)), most significant 32 bits first.
constexpr std::uint32_t kTurnsPerRadian[4] = {0x28be60db, 0x9391054a, 0x7f09d5f4, 0x7d4d3770};
constexpr std::uint32_t kTwoPi29 = 0xc90fdaa2;  // round(2 pi * 2^29)

constexpr int kSectorBits = 8;
constexpr int kSectors = 1 << kSectorBits;
constexpr int kSectorShift = 64 - kSectorBits;  // a turn's top 8 bits are its sector
constexpr std::uint64_t kInSectorMask = (std::uint64_t{1} << kSectorShift) - 1;

// sin and cos of 2 pi j / 256, in units of 2^-30, each within 2^-31 (rounded to nearest).
struct alignas(8) SectorRow {
    std::int32_t sine;
    std::int32_t cosine;
};
constexpr int kSineScaleBits = 30;

// One row per sector.
constexpr int kSectorRows = kSectors;

// sin(2 pi k / 256) summed from the Taylor series at -pi .. pi (error below 1e-15, far under
// the rounding to 2^-31).
constexpr double sectorSine(int k) {
    k %= kSectors;
    const double x = 2.0 * kPi * (k < kSectors / 2 ? k : k - kSectors) / kSectors;
    double term = x, sum = x;
    for (int n = 1; n < 30; ++n) {
        term = -term * x * x / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}
constexpr std::int32_t roundToInt(double x) {
    return static_cast<std::int32_t>(x < 0 ? x - 0.5 : x + 0.5);
}
struct SectorTable {
    SectorRow rows[kSectorRows];
};
constexpr SectorTable makeSectorTable() {
    SectorTable table{};
    constexpr double kScale = 1 << kSineScaleBits;
    for (int j = 0; j < kSectorRows; ++j) {
        table.rows[j] = {roundToInt(sectorSine(j) * kScale),
                         roundToInt(sectorSine(j + kSectors / 4) * kScale)};
    }
    return table;
}
inline constexpr SectorTable kSectorTable = makeSectorTable();

// A double's bits. For doubles that are not negative the bits grow with the value, so one
// comparison of the bits with those of a power of two (twoPowerBits) tells x < 2^n, and
// refuses negative numbers (-0 too), infinities and NaN at the same time.
inline std::uint64_t bitsOf(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}
constexpr std::uint64_t twoPowerBits(int n) {
    return std::uint64_t(1023 + n) << 52;
}

// A finite double 0 <= x < 2^50, given by its bits, as mantissa * 2^exponent with an integer
// mantissa < 2^53; for x >= 2^-1022, mantissa >= 2^52 and x < 2^(exponent + 53).
struct Decomposed {
    std::uint64_t mantissa;
    int exponent;
};
inline Decomposed decompose(std::uint64_t bits) {
    const int biased = static_cast<int>(bits >> 52);  // sign is 0 here
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0) return {fraction, -1074};
    return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

// Angles the turn reduction takes: 0 <= x < 2^50.
constexpr std::uint64_t kTurnLimitBits = twoPowerBits(50);

// x / (2 pi) modulo 1 in units of 2^-64, for x as decompose gives it (x < 2^50): short of the
// exact value by less than 2^(22 + exponent) + 1 units, 2^-44 turn (the product of the mantissa
// and 1/(2 pi) to 128 bits is taken from its bit 64 up, 2^86 short at most, and truncated;
// the bits of 1/(2 pi) left out weigh less than x * 2^-128 turn).
inline std::uint64_t turnsOf(Decomposed x) {
    // The product of the mantissa's two words m1:m0 (m1 < 2^21) and the four words
    // F3:F2:F1:F0 of 1/(2 pi), from bit 64 up, as two halves (bits 64 .. 127 and 128 .. 191),
    // leaving out m0 F0, m1 F0 2^32 and the low word of m0 F1 2^32: the result is short of the
    // exact product by less than 2^86.
    const std::uint32_t m0 = static_cast<std::uint32_t>(x.mantissa);
    const std::uint32_t m1 = static_cast<std::uint32_t>(x.mantissa >> 32);
    const std::uint64_t p01 = std::uint64_t{m0} * kTurnsPerRadian[2];  // bits 32 .. 95
    const std::uint64_t p02 = std::uint64_t{m0} * kTurnsPerRadian[1];  // bits 64 .. 127
    const std::uint64_t p03 = std::uint64_t{m0} * kTurnsPerRadian[0];  // bits 96 .. 159
    const std::uint64_t p11 = std::uint64_t{m1} * kTurnsPerRadian[2];  // bits 64 .. 127
    const std::uint64_t p12 = std::uint64_t{m1} * kTurnsPerRadian[1];  // bits 96 .. 148
    const std::uint64_t p13 = std::uint64_t{m1} * kTurnsPerRadian[0];  // bits 128 .. 180
    std::uint64_t low = (p01 >> 32) + p02;  // below 2^64: p02 <= (2^32 - 1)^2
    std::uint64_t high = p13;
    low += p11;
    high += low < p11;                       // the carry
    const std::uint64_t middle = p03 + p12;  // bits 96 .. 159, and a carry worth 2^160
    high += static_cast<std::uint64_t>(middle < p03) << 32;
    low += middle << 32;
    high += low < (middle << 32);
    high += middle >> 32;
    // The product is x / (2 pi) * 2^(128 - exponent); keep its bits 64 - exponent upwards,
    // bits -exponent upwards of the halves (the terms left out then weigh below
    // 2^(22 + exponent) units of 2^-64 turn, below 2^19 for x < 2^50).
    const int shift = -x.exponent;  // 3 or more
    if (shift >= 128) return 0;
    if (shift >= 64) return high >> (shift - 64);
    return (low >> shift) | (high << (64 - shift));
}

// An amplitude A (1 .. 127, so that A * 2^24 < 2^31) with round(A * 2 pi * 2^22), the factor
// that turns an offset in units of 2^-40 turn into A b in units of 2^-30 (the top word of the
// 64-bit product).
// The double product is within 1e-6 of the real one, so rounding it rounds the real value
// unless that lies within 1e-6 of a half: users check amplitudeIsSound at compile time.
struct Amplitude {
    std::int32_t a;
    std::uint32_t linear;
};
constexpr double linearProduct(int a) {
    return a * 2.0 * kPi * 4194304.0;
}
constexpr Amplitude makeAmplitude(int a) {
    return {a, static_cast<std::uint32_t>(linearProduct(a) + 0.5)};
}
constexpr bool amplitudeIsSound(int a) {
    const double product = linearProduct(a);
    const double fraction = product - static_cast<double>(static_cast<std::uint64_t>(product));
    return a >= 1 && a <= 127 && (fraction < 0.499 || fraction > 0.501);
}

// A cos b and A sin b in units of 2^-24, for the offset b of a turn within its sector (the
// turn's low 56 bits). Each is within 0.6 units of the exact value: A sin b is taken as
// A (b - b^3/6 + b^5/120) and A cos b as A (1 - b^2/2 + b^4/24), in units of 2^-30 (the
// series' tails are below 0.05 units), with b cut to 2^-40 turn (A b then 0.8 units low at
// most), the factor's rounding (0.5 units) and the truncations of the products and quotients
// (five units), within 6.4 units of 2^-30 (0.1 units of 2^-24) before the rounding to 2^-24.
struct Rotation {
    std::int32_t cosine;
    std::int32_t sine;
};
inline Rotation rotation(std::uint64_t turns, Amplitude amplitude) {
    auto high = [](std::uint32_t x, std::uint32_t y) {  // (x * y) / 2^32: one multiply
        return static_cast<std::uint32_t>((std::uint64_t{x} * y) >> 32);
    };
    // The offset in units of 2^-40 turn (< 2^32), and b in units of 2^-32 radian (< 2^27).
    const std::uint32_t offset = static_cast<std::uint32_t>((turns & kInSectorMask) >> 24);
    const std::uint32_t b = high(offset, kTwoPi29) >> 5;
    const std::uint32_t b2 = high(b, b);  // b^2 in units of 2^-32
    // In units of 2^-30 from here on; every term is below 2^32.
    const std::uint32_t linear = high(offset, amplitude.linear);  // A b
    const std::uint32_t cubic = high(linear, b2) / 6;             // A b^3 / 6
    const std::uint32_t quintic = high(cubic, b2) / 20;           // A b^5 / 120
    const std::uint32_t square = high(linear, b) >> 1;            // A b^2 / 2
    const std::uint32_t quartic = high(square, b2) / 12;          // A b^4 / 24
    const std::uint32_t sine = linear - cubic + quintic;
    const std::uint32_t versine = square - quartic;  // A (1 - cos b)
    constexpr std::uint32_t kHalf24 = 1u << 5;       // half a unit of 2^-24
    return {static_cast<std::int32_t>((static_cast<std::uint32_t>(amplitude.a) << 24) -
                                      ((versine + kHalf24) >> 6)),
            static_cast<std::int32_t>((sine + kHalf24) >> 6)};
}

}  // namespace integer_sine

#endif  // RINGWAVE_EFFECT_INTEGER_SINE_H_
