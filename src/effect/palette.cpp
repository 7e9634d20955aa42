#include "effect/palette.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kIndexStep = 0.00390625;  // 1/256: one palette index as a fraction of all
constexpr double kWaveSpan = 6.0;          // the palette spans three sine periods (6 pi)
constexpr double kChannelScale = 127.0;    // (sin + 1) * 127 is 0 .. 254

std::uint8_t channelValue(double u, double phase) {
    return static_cast<std::uint8_t>((std::sin(u + phase) + 1.0) * kChannelScale);
}

}  // namespace

void computePalette(double t, const EffectParams& params, SDL_Color palette[kPaletteSize]) {
    const double phaseRed = ((params.colourSpeed[0] * kPi) * t) * kPi;
    const double phaseGreen = (params.colourSpeed[1] * t) * kPi;
    const double phaseBlue = (params.colourSpeed[2] * t) * kPi;
    for (int i = 0; i < kPaletteSize; ++i) {
        const double u = ((static_cast<double>(i) * kIndexStep) * kWaveSpan) * kPi;
        palette[i].r = channelValue(u, phaseRed);
        palette[i].g = channelValue(u, phaseGreen);
        palette[i].b = channelValue(u, phaseBlue);
    }
}
