#include "effect/palette.h"

#include <array>
#include <cmath>
#include <cstring>

// Every byte is trunc((sin(s) + 1) * 127) with s = u_i + p the double sum and sin the C
// library's. Instead of 768 library sines per frame, the sine is estimated in integer
// arithmetic with a proven error bound; the byte is taken from the estimate whenever the
// estimate lies farther than that bound from every integer, and otherwise (about once in
// a few hundred frames) from the exact double formula itself. Angles are kept as fractions of
// a full turn in units of 2^-64, where wrapping past a whole turn is free.

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kIndexStep = 0.00390625;  // 1/256: one palette index as a fraction of all
constexpr double kWaveSpan = 6.0;          // the palette spans three sine periods (6 pi)
constexpr double kChannelScale = 127.0;    // (sin + 1) * 127 is 0 .. 254

// u_i = ((i * 1/256) * 6) * pi, the same doubles the formula computes (the compiler rounds
// constant double products exactly as the run-time arithmetic does).
struct WaveAngles {
    double u[kPaletteSize];
    std::uint64_t units[kPaletteSize];  // u_i / 2^-56, exact: every u_i > 0 has ulp >= 2^-56
};
constexpr WaveAngles makeWaveAngles() {
    WaveAngles angles{};
    for (int i = 0; i < kPaletteSize; ++i) {
        angles.u[i] = ((static_cast<double>(i) * kIndexStep) * kWaveSpan) * kPi;
        angles.units[i] = static_cast<std::uint64_t>(angles.u[i] * 72057594037927936.0);
    }
    return angles;
}
constexpr WaveAngles kWaveAngles = makeWaveAngles();

// u_i is within 2.5e-15 radians of 3i/256 of a turn (half an ulp below 32, plus 3i/128 times
// the error of the double pi), so entry i sits 3i (mod 256) sectors of 1/256 turn along.
constexpr int kSectorBits = 8;
constexpr int kSectors = 1 << kSectorBits;
constexpr int kSectorStep = 3;
constexpr int kSectorShift = 64 - kSectorBits;
constexpr std::uint64_t kInSectorMask = (std::uint64_t{1} << kSectorShift) - 1;

// sin(2 pi j / 256) for j = 0 .. 319 in units of 2^-30, rounded; entry j + 64 is the cosine
// of sector j. Summed at compile time from the Taylor series (error < 1e-14, far below the
// rounding of 2^-31).
constexpr int kOne30 = 1 << 30;
constexpr int kSineTableSize = kSectors + kSectors / 4;
constexpr std::array<std::int32_t, kSineTableSize> makeSineTable() {
    std::array<std::int32_t, kSineTableSize> table{};
    for (int j = 0; j < kSineTableSize; ++j) {
        // Reduce to -pi .. pi so the series converges quickly.
        const int k = j % kSectors;
        const double x = 2.0 * kPi * (k < kSectors / 2 ? k : k - kSectors) / kSectors;
        double term = x, sum = x;
        for (int n = 1; n < 30; ++n) {
            term = -term * x * x / ((2.0 * n) * (2.0 * n + 1.0));
            sum += term;
        }
        const double scaled = sum * kOne30;
        table[j] = static_cast<std::int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    }
    return table;
}
constexpr std::array<std::int32_t, kSineTableSize> kSineTable = makeSineTable();

// floor(2^128 / (2 pi)), most significant 32 bits first.
constexpr std::uint32_t kTurnsPerRadian[4] = {0x28be60db, 0x9391054a, 0x7f09d5f4, 0x7d4d3770};
constexpr std::uint64_t kTurnsPerRadian34 = 0xa2f9836e;  // floor(2^34 / (2 pi))
constexpr std::uint32_t kTwoPi29 = 0xc90fdaa2;           // round(2 pi * 2^29)

// Phases the integer path takes: 0 <= p < 2^50 (the program's largest is about 3e14 < 2^49).
constexpr double kPhaseLimit = 1125899906842624.0;  // 2^50
// Below 2^21 the double sum u_i + p stays below 2^22, so it is within 2^-32 radians of the
// real sum and that error is simply part of the bound. From 2^21 on, the ulp of p (up to
// 0.06 radians) matters and the rounding of the sum is reproduced exactly.
constexpr double kRoundedSumPhase = 2097152.0;  // 2^21

// How far the estimate of y = (sin(s) + 1) * 127 can be from the formula's value, in y:
//   sector table entries, rounded to 2^-30          127 * 2^-31 * (cos b + sin b)  6.1e-8
//   sin b, 1 - cos b of the sector offset (series tail 8e-11, five truncations)   1.2e-7
//   127 cos b and 127 sin b truncated to 2^-24                  1.42 * 2^-24       8.5e-8
//   the angle: offset turn -> radians 2.4e-10, the sum u_i + p as a turn 2.4e-10
//   (reduction 2^-63 turn, u_i 2.5e-15, and the rounding of the double sum either
//   bounded by 2^-32 or reproduced to within 2^-32)             127 * 4.8e-10      6.1e-8
//   the estimate truncated to 2^-32; the library's sine (one ulp) and the two roundings
//   of the formula after it                                                        3e-10
// in all below 3.3e-7, or 1400 units of 2^-32. The margin, 4096 units (9.5e-7), leaves room
// for a library sine off by up to 5e-9.
constexpr std::uint32_t kMargin32 = 1u << 12;

std::uint8_t exactChannelValue(double u, double phase) {
    return static_cast<std::uint8_t>((std::sin(u + phase) + 1.0) * kChannelScale);
}

// A finite double 0 <= x < 2^50 as mantissa * 2^exponent with an integer mantissa.
struct Decomposed {
    std::uint64_t mantissa;
    int exponent;
};
Decomposed decompose(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);  // sign is 0 here
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0) return {fraction, -1074};
    return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

// x / (2 pi) modulo 1 in units of 2^-64, for x = mantissa * 2^exponent (mantissa < 2^53,
// exponent <= -3). The 181-bit product of the mantissa and the 128-bit 1/(2 pi) is exact;
// the bits of 1/(2 pi) left out weigh x * 2^-128 < 2^-78 turn; the result is truncated.
std::uint64_t turnsOf(Decomposed x) {
    const std::uint32_t halves[2] = {static_cast<std::uint32_t>(x.mantissa),
                                     static_cast<std::uint32_t>(x.mantissa >> 32)};
    std::uint32_t product[8] = {};  // little-endian 32-bit words
    for (int a = 0; a < 2; ++a) {
        std::uint64_t carry = 0;
        for (int b = 0; b < 4; ++b) {
            const std::uint64_t sum =
                std::uint64_t{halves[a]} * kTurnsPerRadian[3 - b] + product[a + b] + carry;
            product[a + b] = static_cast<std::uint32_t>(sum);
            carry = sum >> 32;
        }
        product[a + 4] = static_cast<std::uint32_t>(carry);
    }
    // product = x / (2 pi) * 2^(128 - exponent); keep bits 64 - exponent upwards.
    const int shift = 64 - x.exponent;
    if (shift >= 192) return 0;
    const int word = shift / 32, bit = shift % 32;
    const std::uint64_t low = product[word] | std::uint64_t{product[word + 1]} << 32;
    const std::uint64_t high = product[word + 2];
    return bit == 0 ? low : (low >> bit) | (high << (64 - bit));
}

// An angle b of less than one sector, given in units of 2^-64 turn, as 127 cos b and
// 127 sin b in units of 2^-24 (each within 2^-24 + 127 * 6e-10).
struct SectorOffset {
    std::int32_t cos127;
    std::int32_t sin127;
};
SectorOffset sectorOffset(std::uint64_t turns) {
    // All quantities here fit 32 bits; each product is one 32 x 32 -> 64 multiply.
    auto product = [](std::uint32_t x, std::uint32_t y) { return std::uint64_t{x} * y; };
    // b = 2 pi * turns < 0.0246 rad in units of 2^-32: (turns / 2^24) * round(2 pi * 2^29) / 2^37.
    const std::uint32_t b = static_cast<std::uint32_t>(
        product(static_cast<std::uint32_t>(turns >> 24), kTwoPi29) >> 37);
    const std::uint32_t b2 = static_cast<std::uint32_t>(product(b, b) >> 32);
    const std::uint32_t b3 = static_cast<std::uint32_t>(product(b2, b) >> 32);
    const std::uint32_t b4 = static_cast<std::uint32_t>(product(b2, b2) >> 32);
    // sin b = b - b^3/6 (+ at most b^5/120 < 8e-11); 1 - cos b = b^2/2 - b^4/24 (+ < 3e-13).
    const std::uint32_t sine = b - b3 / 6;
    const std::uint32_t versine = b2 / 2 - b4 / 24;
    return {static_cast<std::int32_t>((127u << 24) -
                                      static_cast<std::uint32_t>(product(127, versine) >> 8)),
            static_cast<std::int32_t>(product(127, sine) >> 8)};
}

// The estimate of (sin(j + b) + 1) * 127 for the angle (sector j) + b, in units of 2^-32:
// 127 + S_j * 127 cos b + C_j * 127 sin b.
std::int64_t estimate(int sector, SectorOffset offset) {
    const std::int64_t s = kSineTable[sector];
    const std::int64_t c = kSineTable[sector + kSectors / 4];
    return ((s * offset.cos127 + c * offset.sin127) >> 22) + (std::int64_t{127} << 32);
}

// The byte an estimate decides, or -1 when it is within the margin of an integer.
int decidedByte(std::int64_t estimate) {
    const std::uint32_t fraction = static_cast<std::uint32_t>(estimate);
    if (estimate < 0 || fraction - kMargin32 > ~(2 * kMargin32)) return -1;
    return static_cast<int>(estimate >> 32);
}

// Phases below 2^21: every entry has the offset of p within its sector and sits 3i sectors
// further on, so one offset serves all 256 entries. Entry i + 128 sits half a turn from
// entry i, where the sine changes sign: 254 - (estimate for i) estimates it as well as the
// table's own entries would (the negated entries are equally close to the sines there).
void smallPhaseWave(double phase, std::uint64_t phaseTurns, std::uint8_t wave[kPaletteSize]) {
    constexpr int kHalf = kPaletteSize / 2;
    constexpr std::int64_t kTop = std::int64_t{254} << 32;
    const SectorOffset offset = sectorOffset(phaseTurns & kInSectorMask);
    int sector = static_cast<int>(phaseTurns >> kSectorShift);
    for (int i = 0; i < kHalf; ++i) {
        const std::int64_t value = estimate(sector, offset);
        const int byte = decidedByte(value);
        wave[i] = byte >= 0 ? static_cast<std::uint8_t>(byte)
                            : exactChannelValue(kWaveAngles.u[i], phase);
        const int opposite = decidedByte(kTop - value);
        wave[i + kHalf] = opposite >= 0 ? static_cast<std::uint8_t>(opposite)
                                        : exactChannelValue(kWaveAngles.u[i + kHalf], phase);
        sector = (sector + kSectorStep) & (kSectors - 1);
    }
}

// Phases 2^21 .. 2^50: s = u_i + p rounds to a multiple of g = ulp(p) (or of 2g when the sum
// reaches the next power of two), and the rounding error e = s - (u_i + p), |e| <= g, is
// reproduced exactly in units of 2^-56 from p's mantissa and u_i's units, ties to even.
// It is then added as a turn: e / (2 pi) in units of 2^-64 is e * floor(2^34 / (2 pi)) / 2^26,
// with e first cut to 31 bits (|e| <= 2^sigma), within 2^-32 radians.
void largePhaseWave(double phase, Decomposed p, std::uint64_t phaseTurns,
                    std::uint8_t wave[kPaletteSize]) {
    const int sigma = p.exponent + 56;  // g = 2^sigma units of 2^-56; 25 <= sigma <= 53
    const std::uint64_t grid = std::uint64_t{1} << sigma;
    const std::uint64_t nextBinade = std::uint64_t{1} << 53;
    const int drop = sigma > 30 ? sigma - 30 : 0;  // low bits of e dropped before multiplying
    for (int i = 0; i < kPaletteSize; ++i) {
        const std::uint64_t units = kWaveAngles.units[i];
        const std::uint64_t whole = p.mantissa + (units >> sigma);  // sum in g, rounded down
        std::uint64_t rest = units & (grid - 1);                    // remainder, 2^-56 units
        std::uint64_t span = grid;                                  // the sum's ulp
        std::uint64_t kept = whole;  // the sum rounded down, in spans: its parity breaks ties
        if (whole >= nextBinade) {
            rest += (whole & 1) << sigma;
            span = grid << 1;
            kept = whole >> 1;
        }
        // Ties cannot actually occur (no u_i has more than 15 trailing zero bits in these
        // units, and sigma >= 25), but would round to even as the hardware does.
        const std::uint64_t half = span >> 1;
        const bool up = rest > half || (rest == half && (kept & 1) != 0);
        const std::int64_t error =
            up ? static_cast<std::int64_t>(span - rest) : -static_cast<std::int64_t>(rest);
        const std::int64_t errorTurns =
            ((error >> drop) * static_cast<std::int64_t>(kTurnsPerRadian34)) >> (26 - drop);
        const std::uint64_t turns =
            phaseTurns +
            (static_cast<std::uint64_t>((kSectorStep * i) & (kSectors - 1)) << kSectorShift) +
            static_cast<std::uint64_t>(errorTurns);
        const int byte = decidedByte(
            estimate(static_cast<int>(turns >> kSectorShift), sectorOffset(turns & kInSectorMask)));
        wave[i] = byte >= 0 ? static_cast<std::uint8_t>(byte)
                            : exactChannelValue(kWaveAngles.u[i], phase);
    }
}

}  // namespace

void computeWave(double phase, std::uint8_t wave[kPaletteSize]) {
    if (!(phase >= 0.0 && phase < kPhaseLimit) || std::signbit(phase)) {
        for (int i = 0; i < kPaletteSize; ++i) {
            wave[i] = exactChannelValue(kWaveAngles.u[i], phase);
        }
        return;
    }
    const Decomposed p = decompose(phase);
    const std::uint64_t phaseTurns = turnsOf(p);
    if (phase < kRoundedSumPhase) {
        smallPhaseWave(phase, phaseTurns, wave);
    } else {
        largePhaseWave(phase, p, phaseTurns, wave);
    }
}

void computePalette(double t, const EffectParams& params, SDL_Color palette[kPaletteSize]) {
    const double phaseRed = ((params.colourSpeed[0] * kPi) * t) * kPi;
    const double phaseGreen = (params.colourSpeed[1] * t) * kPi;
    const double phaseBlue = (params.colourSpeed[2] * t) * kPi;
    std::uint8_t red[kPaletteSize], green[kPaletteSize], blue[kPaletteSize];
    computeWave(phaseRed, red);
    computeWave(phaseGreen, green);
    computeWave(phaseBlue, blue);
    for (int i = 0; i < kPaletteSize; ++i) {
        palette[i].r = red[i];
        palette[i].g = green[i];
        palette[i].b = blue[i];
    }
}
