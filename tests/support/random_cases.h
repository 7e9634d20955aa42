/* Test-only: the random numbers and palettes of the SDL dump programs (sdl_blit_dump.c,
 * sdl_turn_dump.c), the same sequence on every C library. Define RANDOM_CASES_SEED before
 * including it. */
#ifndef RINGWAVE_TESTS_RANDOM_CASES_H_
#define RINGWAVE_TESTS_RANDOM_CASES_H_

#include <SDL.h>

static Uint32 rngState = RANDOM_CASES_SEED;

/* Uniform in [0, n): a linear congruential sequence. */
static int below(int n) {
    rngState = rngState * 1664525u + 1013904223u;
    return (int)((rngState >> 8) % (Uint32)n);
}

static void randomPalette(SDL_Color* colors) {
    for (int i = 0; i < 256; ++i) {
        colors[i].r = (Uint8)below(256);
        colors[i].g = (Uint8)below(256);
        colors[i].b = (Uint8)below(256);
        colors[i].unused = 0;
    }
}

#endif /* RINGWAVE_TESTS_RANDOM_CASES_H_ */
