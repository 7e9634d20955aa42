#ifndef RINGWAVE_BENCH_BENCH_PARAMS_H_
#define RINGWAVE_BENCH_BENCH_PARAMS_H_

#include "effect/effect_params.h"

// Fixed speeds for measurements, so that every run and every machine does the same work:
// values the random draw can produce (k / 300000 and k / 5000 for k in 1 .. 1000).
inline EffectParams benchParams() {
    EffectParams params{};
    const int colourSteps[3] = {370, 631, 233};
    const int driftSteps[6] = {5, 17, 250, 999, 64, 420};
    for (int c = 0; c < 3; ++c) params.colourSpeed[c] = colourSteps[c] / 300000.0;
    for (int k = 0; k < 6; ++k) params.driftSpeed[k] = driftSteps[k] / 5000.0;
    return params;
}

#endif  // RINGWAVE_BENCH_BENCH_PARAMS_H_
