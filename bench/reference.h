#ifndef RINGWAVE_BENCH_REFERENCE_H_
#define RINGWAVE_BENCH_REFERENCE_H_

#include <SDL_video.h>

#include <cstdint>

#include "effect/effect_params.h"
#include "effect/ring_table.h"

// The straightforward effect, written the way the formulas read, that the benchmarks measure
// the program against. Same results, byte for byte; only the cost differs.

// 256,000 square roots and sines, one per byte, in address order.
void referenceFillRingTable(RingTable* table);

// One libm sine per palette byte (768 per call), every angle recomputed.
void referencePalette(double t, const EffectParams& params, SDL_Color palette[256]);

// Six sines for the window origins, then each of the 64,000 pixels summed from three table
// reads with its own index arithmetic.
void referenceComposeFrame(double t, const EffectParams& params, const RingTable& table,
                           std::uint8_t* pixels, int pitch);

#endif  // RINGWAVE_BENCH_REFERENCE_H_
