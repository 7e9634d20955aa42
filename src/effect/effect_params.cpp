#include "effect/effect_params.h"

#include <cstdlib>

namespace {

constexpr int kSpeedSteps = 1000;            // each speed takes one of 1000 values
constexpr double kColourDivisor = 300000.0;  // colour speeds: 1/300000 .. 1000/300000
constexpr double kDriftDivisor = 5000.0;     // drift speeds: 0.0002 .. 0.2

double drawSpeed(double divisor) {
    return static_cast<double>(std::rand() % kSpeedSteps + 1) / divisor;
}

}  // namespace

EffectParams drawEffectParams() {
    EffectParams params;
    for (double& speed : params.colourSpeed) speed = drawSpeed(kColourDivisor);
    for (double& speed : params.driftSpeed) speed = drawSpeed(kDriftDivisor);
    return params;
}
