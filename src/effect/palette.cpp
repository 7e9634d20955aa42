#include "effect/palette.h"

#include <cmath>
#include <cstddef>

#include "effect/integer_sine.h"

// Every byte is trunc((sin(s) + 1) * 127) with s = u_i + p the double sum and sin the C
// library's. Instead of 768 library sines per frame, the sine is estimated in integer
// arithmetic with a proven error bound (effect/integer_sine.h); the byte is taken from the
// estimate whenever the estimate lies farther than that bound from every integer, and otherwise
// (about once in 2,000 frames) from the exact double formula itself.

namespace {

using integer_sine::Amplitude;
using integer_sine::Decomposed;
using integer_sine::Rotation;
using integer_sine::SectorRow;

constexpr double kPi = integer_sine::kPi;
constexpr double kIndexStep = 0.00390625;  // 1/256: one palette index as a fraction of all
constexpr double kWaveSpan = 6.0;          // the palette spans three sine periods (6 pi)
constexpr double kChannelScale = 127.0;    // (sin + 1) * 127 is 0 .. 254
constexpr int kHalf = kPaletteSize / 2;

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
// the error of the double pi), so entry i sits 3i (mod 256) sectors along from the phase, and
// entry i + 128 half a turn (384 sectors) from entry i.
constexpr int kSectorStep = 3;
static_assert(kSectorStep * kHalf % integer_sine::kSectors == integer_sine::kSectors / 2,
              "entry i + 128 lies half a turn from entry i");

// The sector rows in the order a channel's walk visits them, three sectors a step: walk row k
// is sector 3k (mod 256), and walk row k + 1 is three sectors on from walk row k. The walk
// from sector j starts at walk row 171 j (mod 256) (3 * 171 = 1 mod 256) and reads 128 rows
// one after the other, so that one load-multiple with write-back fetches each, on every ARM
// processor; the rows run on past 255 so that no walk wraps.
constexpr int kWalkInverse = 171;
static_assert(kSectorStep * kWalkInverse % integer_sine::kSectors == 1, "171 undoes 3 steps");
constexpr int kWalkRows = integer_sine::kSectors + kHalf - 1;
struct WalkTable {
    SectorRow rows[kWalkRows];
};
constexpr WalkTable makeWalkTable() {
    WalkTable walk{};
    for (int k = 0; k < kWalkRows; ++k) {
        walk.rows[k] = integer_sine::kSectorTable.rows[kSectorStep * k % integer_sine::kSectors];
    }
    return walk;
}
constexpr WalkTable kWalkTable = makeWalkTable();

// The first walk row of the walk from sector j.
const SectorRow* walkFrom(std::uint64_t sector) {
    return &kWalkTable.rows[(sector * kWalkInverse) % integer_sine::kSectors];
}

// A byte's estimate: y = (sin + 1) * 127 in units of 2^-22, (sin_j * 127 cos b + cos_j * 127
// sin b) / 2^32 with the rows in units of 2^-30 and the rotation in units of 2^-24, plus 127.
constexpr int kFractionBits = 22;
constexpr int kFractionShift = 32 - kFractionBits;  // the fraction's bits moved to the top
constexpr std::uint32_t kMiddle = 127u << kFractionBits;
static_assert(integer_sine::amplitudeIsSound(127), "127 * 2 pi * 2^22 rounds soundly");
constexpr Amplitude kChannelAmplitude = integer_sine::makeAmplitude(127);

// How far the estimate can be from the formula's value y, in units of 2^-22 of y:
//   sector rows, rounded to 2^-31            127 * 2^-31 * (cos b + sin b)   6.1e-8   0.26
//   the rotation, 0.6 units of 2^-24 each    0.6 * 2^-24 * (|sin_j| + |cos_j|) 5.1e-8   0.21
//   the sum's low 32 bits dropped (the floor of the estimate)               2.4e-7   1
//   the angle: u_i against 3i sectors 2.5e-15 radians, the phase's turn 2^-44 turn short at
//   most, and the rounding of the double sum u_i + p, half its ulp: below 2^-47 radians when
//   p < 32, else below 2^e radians for p = mantissa * 2^e (p < 2^(e + 53), the sum below
//   2^(e + 54))                              127 * that   below 1 when e < -29, else 2^(e + 29)
//   the library's sine (one ulp) and the formula's two roundings after it    3e-14    0
// in all below 1.47 + max(1, 2^(e + 29)). The margin, 3 units (7.2e-7) and 2^(e + 29) above
// that where e >= -29, leaves room for a library sine off by up to 1e-9 (2.6e-9 where
// p < 2^21, the first 64 million frames at the fastest speed, when the sum's rounding stays
// below 0.13 units). One pair of entries in 700,000 or so lies within the margin.
constexpr std::uint32_t kMarginUnits = 3;
// The margin doubles with every binade of the phase, and so does the share of entries that
// need the formula: just below 2^36 (the margin 4099 units, 1e-3) one pair in 500, a quarter
// of a pair per channel and frame. On the device that still costs less than a rotation for
// every entry (the library's sine of such angles included), so only larger phases, after
// some 2 * 10^12 frames at the fastest speed, take the rounding of the sum exactly
// (largePhaseWave).
constexpr std::uint64_t kRotatedPhaseLimitBits = integer_sine::twoPowerBits(36);
constexpr int kRoundingExponent = -29;  // e where 2^(e + 29) reaches 1 unit

std::uint8_t exactChannelValue(int i, double phase) {
    return static_cast<std::uint8_t>((std::sin(kWaveAngles.u[i] + phase) + 1.0) * kChannelScale);
}

// The estimate of (sin + 1) * 127 for the row's sector turned by b, in units of 2^-22, with
// `offset` added (wrapping arithmetic: the estimate plus any margin is never negative).
std::uint32_t estimate(const SectorRow& row, Rotation rotation, std::uint32_t offset) {
    const std::int64_t sum =
        std::int64_t{row.sine} * rotation.cosine + std::int64_t{row.cosine} * rotation.sine;
    return static_cast<std::uint32_t>(sum >> 32) + offset;
}

// For an estimate with the margin M added: true when the estimate lies within M of an integer,
// that is when its fraction (the low 22 bits) is below 2M. Otherwise the byte is its integer
// part: the estimate lies in [n + M, n + 1 - M), so the formula's value in (n, n + 1).
bool nearInteger(std::uint32_t estimate, std::uint32_t margin) {
    return (estimate << kFractionShift) < ((2 * margin) << kFractionShift);
}

// Decides entries out[0] (walk row[0]) and out[kHalf * kStride] (half a turn on), then the
// next entry from the next walk row, up to the entry at `end`; stops early at an entry whose
// estimate lies near an integer and returns where it stopped. The threshold is twice the
// margin with the fraction's bits moved to the top (as nearInteger compares them).
#if defined(__arm__) && !defined(__thumb__) && defined(__OPTIMIZE__)

// On the device, 11 instructions per two bytes: one load-multiple of the row's pair, a
// multiply and a multiply-accumulate, the offset, the margin test, the byte, its opposite, two
// stores, and half of the loop's test (two entries a pass, the first pass entered half way
// through when the count is odd). ARMv4T instructions only, for every ARM processor.
template <int kStride>
std::uint8_t* decideEntries(const SectorRow* row, Rotation rotation, std::uint32_t offset,
                            std::uint32_t threshold, std::uint8_t* out, const std::uint8_t* end) {
    // clang-format off
    if (out == end) return out;
    // One line an instruction, the loop's labels on lines of their own.
#define RINGWAVE_DECIDE_ENTRY                               \
    "ldmia %[row]!, {r4, r5}\n\t"                           \
    "smull r6, r7, r4, %[cosine]\n\t"                       \
    "smlal r6, r7, r5, %[sine]\n\t"                         \
    "add r7, r7, %[offset]\n\t"                             \
    "cmp %[threshold], r7, lsl %[fractionShift]\n\t"        \
    "bhi 3f\n\t"                                            \
    "lsr r6, r7, %[fractionBits]\n\t"                       \
    "rsb r7, r6, #253\n\t"                                  \
    "strb r7, [%[out], %[half]]\n\t"                        \
    "strb r6, [%[out]], %[stride]\n\t"
    asm("sub r4, %[end], %[out]\n\t"
        "tst r4, %[stride]\n\t"
        "bne 2f\n"
        "1:\n\t" RINGWAVE_DECIDE_ENTRY
        "2:\n\t" RINGWAVE_DECIDE_ENTRY
        "cmp %[out], %[end]\n\t"
        "bne 1b\n"
        "3:\n\t"
        : [row] "+r"(row), [out] "+r"(out)
        : [cosine] "r"(rotation.cosine), [sine] "r"(rotation.sine), [offset] "r"(offset),
          [threshold] "r"(threshold), [end] "r"(end),
          [fractionShift] "I"(kFractionShift), [fractionBits] "I"(kFractionBits),
          [half] "I"(kHalf * kStride), [stride] "I"(kStride)
        : "r4", "r5", "r6", "r7", "cc", "memory");
#undef RINGWAVE_DECIDE_ENTRY
    // clang-format on
    return out;
}

#else

template <int kStride>
std::uint8_t* decideEntries(const SectorRow* row, Rotation rotation, std::uint32_t offset,
                            std::uint32_t threshold, std::uint8_t* out, const std::uint8_t* end) {
    for (; out != end; out += kStride, ++row) {
        const std::uint32_t value = estimate(*row, rotation, offset);
        if ((value << kFractionShift) < threshold) break;
        const std::uint32_t byte = value >> kFractionBits;
        out[kHalf * kStride] = static_cast<std::uint8_t>(253 - byte);
        out[0] = static_cast<std::uint8_t>(byte);
    }
    return out;
}

#endif

// Phases below 2^36, one rotation per channel: entry i is sector j0 + 3i turned by the phase's
// offset b in its sector, and entry i + 128 the same half a turn on, where the sine changes
// sign: its value is 254 - y, in (253 - n, 254 - n) when y is in (n, n + 1), so one estimate
// and one margin test serve both (the negated rows are the rows of the sectors there, exactly,
// and the other errors are the same). The walk reads the walk table's rows one after the other
// (three sectors a step); an entry near an integer takes the formula, for itself and its
// opposite.
template <int kStride>
void rotatedWave(double phase, Decomposed p, std::uint8_t* out) {
    const std::uint64_t turns = integer_sine::turnsOf(p);
    const std::uint32_t margin =
        kMarginUnits +
        (p.exponent >= kRoundingExponent ? 1u << (p.exponent - kRoundingExponent) : 0u);
    const Rotation rotation = integer_sine::rotation(turns, kChannelAmplitude);
    const SectorRow* rows = walkFrom(turns >> integer_sine::kSectorShift);
    const std::uint32_t offset = kMiddle + margin;
    const std::uint32_t threshold = (2 * margin) << kFractionShift;
    const std::uint8_t* end = out + kHalf * kStride;
    for (std::uint8_t* entry = out;;) {
        entry = decideEntries<kStride>(rows + (entry - out) / kStride, rotation, offset, threshold,
                                       entry, end);
        if (entry == end) return;
        const int i = static_cast<int>((entry - out) / kStride);
        entry[0] = exactChannelValue(i, phase);
        entry[kHalf * kStride] = exactChannelValue(i + kHalf, phase);
        entry += kStride;
    }
}

// Phases 2^36 .. 2^50: s = u_i + p rounds to a multiple of g = ulp(p) (or of 2g when the sum
// reaches the next power of two), and the rounding error e = s - (u_i + p), |e| <= g, is
// reproduced exactly in units of 2^-56 from p's mantissa and u_i's units, ties to even.
// It is then added as a turn: e / (2 pi) in units of 2^-64 is e * floor(2^34 / (2 pi)) / 2^26,
// with e first cut to 31 bits (|e| <= 2^sigma), within 2^-32 radians; with the other errors
// above that is below 1.7 units, inside the margin of 3. One rotation per entry.
constexpr std::uint64_t kTurnsPerRadian34 = 0xa2f9836e;  // floor(2^34 / (2 pi))
template <int kStride>
void largePhaseWave(double phase, Decomposed p, std::uint8_t* out) {
    const std::uint64_t phaseTurns = integer_sine::turnsOf(p);
    const int sigma = p.exponent + 56;  // g = 2^sigma units of 2^-56; 40 <= sigma <= 53
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
        // units, and sigma >= 40), but would round to even as the hardware does.
        const std::uint64_t half = span >> 1;
        const bool up = rest > half || (rest == half && (kept & 1) != 0);
        const std::int64_t error =
            up ? static_cast<std::int64_t>(span - rest) : -static_cast<std::int64_t>(rest);
        const std::int64_t errorTurns =
            ((error >> drop) * static_cast<std::int64_t>(kTurnsPerRadian34)) >> (26 - drop);
        const std::uint64_t turns =
            phaseTurns +
            (static_cast<std::uint64_t>((kSectorStep * i) & (integer_sine::kSectors - 1))
             << integer_sine::kSectorShift) +
            static_cast<std::uint64_t>(errorTurns);
        const std::uint32_t value =
            estimate(integer_sine::kSectorTable.rows[turns >> integer_sine::kSectorShift],
                     integer_sine::rotation(turns, kChannelAmplitude), kMiddle + kMarginUnits);
        out[i * kStride] = nearInteger(value, kMarginUnits)
                               ? exactChannelValue(i, phase)
                               : static_cast<std::uint8_t>(value >> kFractionBits);
    }
}

// One channel into out[0], out[kStride], ... out[255 * kStride].
template <int kStride>
void fillChannel(double phase, std::uint8_t* out) {
    const std::uint64_t bits = integer_sine::bitsOf(phase);
    if (bits < kRotatedPhaseLimitBits) {
        rotatedWave<kStride>(phase, integer_sine::decompose(bits), out);
    } else if (bits < integer_sine::kTurnLimitBits) {
        largePhaseWave<kStride>(phase, integer_sine::decompose(bits), out);
    } else {
        for (int i = 0; i < kPaletteSize; ++i) out[i * kStride] = exactChannelValue(i, phase);
    }
}

}  // namespace

void computeWave(double phase, std::uint8_t wave[kPaletteSize]) {
    fillChannel<1>(phase, wave);
}

void computePalette(double t, const EffectParams& params, SDL_Color palette[kPaletteSize]) {
    const double phaseRed = ((params.colourSpeed[0] * kPi) * t) * kPi;
    const double phaseGreen = (params.colourSpeed[1] * t) * kPi;
    const double phaseBlue = (params.colourSpeed[2] * t) * kPi;
    // Straight into the records: red, green and blue are bytes 0, 1 and 2 of each.
    constexpr int kStride = sizeof(SDL_Color);
    static_assert(kStride == 4 && offsetof(SDL_Color, r) == 0 && offsetof(SDL_Color, g) == 1 &&
                      offsetof(SDL_Color, b) == 2,
                  "SDL_Color is four bytes, red, green, blue first");
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(palette);
    fillChannel<kStride>(phaseRed, bytes + offsetof(SDL_Color, r));
    fillChannel<kStride>(phaseGreen, bytes + offsetof(SDL_Color, g));
    fillChannel<kStride>(phaseBlue, bytes + offsetof(SDL_Color, b));
}
