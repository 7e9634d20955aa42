#ifndef RINGWAVE_EFFECT_PALETTE_H_
#define RINGWAVE_EFFECT_PALETTE_H_

#include <SDL_video.h>

#include "effect/effect_params.h"

constexpr int kPaletteSize = 256;

// Fills the red, green and blue bytes of all 256 records for frame time t (the fourth byte
// is left alone). Channel c of entry i is trunc((sin(u_i + p_c) + 1) * 127) with
// u_i = i / 256 * 6 * pi and the phases p_red = colourSpeed[0] * pi * t * pi,
// p_green = colourSpeed[1] * t * pi, p_blue = colourSpeed[2] * t * pi, each product taken
// left to right in double precision. Every byte is 0 .. 254. Depends on t and the speeds only.
void computePalette(double t, const EffectParams& params, SDL_Color palette[kPaletteSize]);

#endif  // RINGWAVE_EFFECT_PALETTE_H_
