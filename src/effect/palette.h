#ifndef RINGWAVE_EFFECT_PALETTE_H_
#define RINGWAVE_EFFECT_PALETTE_H_

#include <SDL_video.h>

#include <cstdint>

#include "effect/effect_params.h"

constexpr int kPaletteSize = 256;

// Fills the red, green and blue bytes of all 256 records for frame time t (the fourth byte
// is left alone). Channel c of entry i is trunc((sin(u_i + p_c) + 1) * 127) with
// u_i = i / 256 * 6 * pi and the phases p_red = colourSpeed[0] * pi * t * pi,
// p_green = colourSpeed[1] * t * pi, p_blue = colourSpeed[2] * t * pi, each product taken
// left to right in double precision. Every byte is 0 .. 254. Depends on t and the speeds only.
void computePalette(double t, const EffectParams& params, SDL_Color palette[kPaletteSize]);

// One channel for any phase p: wave[i] = trunc((sin(u_i + p) + 1) * 127), exactly as that
// double formula gives it with the C library's sine. Uses no library call for almost every
// byte when 0 <= p < 2^50; other phases take the formula throughout.
void computeWave(double phase, std::uint8_t wave[kPaletteSize]);

#endif  // RINGWAVE_EFFECT_PALETTE_H_
