#include "effect/window_origins.h"

#include <cmath>
#include <cstdint>

#include "effect/integer_sine.h"

namespace {

constexpr double kHalf = 0.5;

// A window's origin is trunc(((sin(a) + 1) * 0.5) * span) for the angle a = t * speed and the
// span 320 or 200: v = (span / 2) (1 + sin a), from 0 to the span. The sine is estimated in
// integers (effect/integer_sine.h) as (span / 4) sin a in units of 2^-54: sector rows in units
// of 2^-30 turned by (span / 4) cos b and (span / 4) sin b in units of 2^-24; the top word of
// that is (span / 2) sin a in units of 2^-21, and with span / 2 added, v in units of 2^-21.
// How far that can be from the formula's value, in units of 2^-21 of v (at most 320):
//   sector rows, rounded to 2^-31                160 * 2^-31 * (cos b + sin b)  7.6e-8   0.16
//   the rotation, 0.6 units of 2^-24 of span/4   2 * 0.6 * 2^-24 * 1.415        1.0e-7   0.22
//   the low word of the sum dropped (the floor)                                 4.8e-7   1
//   the angle's turn, short by 2^-44 turn at most    160 * 2 pi * 2^-44          5.7e-11  0
//   the library's sine (one ulp), + 1 and * span rounded                         7e-14    0
// in all below 1.4 units. The margin, 4 units (1.9e-6), leaves room for a library sine off by
// up to 7e-9. The formula is taken only for an estimate within the margin of an integer (about
// one origin in 260,000), and for angles the turns do not cover (negative, or 2^50 and more).
struct WindowSpan {
    double span;
    integer_sine::Amplitude quarter;  // span / 4
    std::uint32_t middle;             // span / 2 in units of 2^-21
};
constexpr int kOriginFractionBits = 21;
constexpr int kOriginFractionShift = 32 - kOriginFractionBits;
constexpr std::uint32_t kOriginMargin = 4;
static_assert(integer_sine::amplitudeIsSound(kScreenWidth / 4) &&
                  integer_sine::amplitudeIsSound(kScreenHeight / 4),
              "span / 4 * 2 pi * 2^22 rounds soundly");
constexpr WindowSpan kSpanX = {kScreenWidth, integer_sine::makeAmplitude(kScreenWidth / 4),
                               (kScreenWidth / 2) << kOriginFractionBits};
constexpr WindowSpan kSpanY = {kScreenHeight, integer_sine::makeAmplitude(kScreenHeight / 4),
                               (kScreenHeight / 2) << kOriginFractionBits};

unsigned windowStart(double angle, const WindowSpan& span) {
    const std::uint64_t bits = integer_sine::bitsOf(angle);
    if (bits < integer_sine::kTurnLimitBits) {
        const std::uint64_t turns = integer_sine::turnsOf(integer_sine::decompose(bits));
        const integer_sine::Rotation rotation = integer_sine::rotation(turns, span.quarter);
        const integer_sine::SectorRow& row =
            integer_sine::kSectorTable.rows[turns >> integer_sine::kSectorShift];
        const std::int64_t sum =
            std::int64_t{row.sine} * rotation.cosine + std::int64_t{row.cosine} * rotation.sine;
        const std::uint32_t value =
            static_cast<std::uint32_t>(sum >> 32) + span.middle + kOriginMargin;
        if ((value << kOriginFractionShift) >= (2 * kOriginMargin) << kOriginFractionShift) {
            return value >> kOriginFractionBits;
        }
    }
    return static_cast<unsigned>(((std::sin(angle) + 1.0) * kHalf) * span.span);
}

}  // namespace

LayerOrigin layerOrigin(double t, double speedX, double speedY) {
    return LayerOrigin{windowStart(t * speedX, kSpanX), windowStart(t * speedY, kSpanY)};
}

void computeLayerOrigins(double t, const EffectParams& params, LayerOrigin origins[kLayerCount]) {
    for (int k = 0; k < kLayerCount; ++k) {
        origins[k] = layerOrigin(t, params.driftSpeed[2 * k], params.driftSpeed[2 * k + 1]);
    }
}
