#ifndef RINGWAVE_EFFECT_WINDOW_ORIGINS_H_
#define RINGWAVE_EFFECT_WINDOW_ORIGINS_H_

#include "effect/effect_params.h"

constexpr int kScreenWidth = 320;   // bytes written per row
constexpr int kScreenHeight = 200;  // rows written
constexpr int kLayerCount = 3;

// Top-left corner of one layer's 320 x 200 window in the ring table: column 0 .. 320,
// row 0 .. 200, so the window always lies inside the 640 x 400 table.
struct LayerOrigin {
    unsigned x0;
    unsigned y0;
};

// The window of a layer moving with speedX and speedY at frame time t:
// x0 = trunc((sin(t * speedX) + 1) * 0.5 * 320), y0 = trunc((sin(t * speedY) + 1) * 0.5 * 200).
LayerOrigin layerOrigin(double t, double speedX, double speedY);

// The three windows for frame time t; layer k moves with driftSpeed[2k] and driftSpeed[2k+1].
void computeLayerOrigins(double t, const EffectParams& params, LayerOrigin origins[kLayerCount]);

#endif  // RINGWAVE_EFFECT_WINDOW_ORIGINS_H_
