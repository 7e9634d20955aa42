#ifndef RINGWAVE_EFFECT_COMPOSITOR_H_
#define RINGWAVE_EFFECT_COMPOSITOR_H_

#include <cstdint>

#include "effect/effect_params.h"
#include "effect/ring_table.h"
#include "effect/window_origins.h"

struct PixelLoop;  // one row of the table of pixel loops (effect/pixel_loops.h)
struct RingWords;  // the word loop's copies of the table; only that loop looks inside

// The ring table as the pixel loop chosen for this processor reads it: built once at
// start-up, then only read. The loops with unaligned loads (SSE2, NEON, 64-bit ARM) read the
// table alone; 32-bit ARM processors without NEON (no unaligned word loads) also get the table
// as four byte-shifted copies of 32-bit words, 1,024,000 bytes, and when that memory cannot be
// had draw byte by byte, slower, with the same pixels.
struct RingLayout {
    const RingTable* table;  // filled, never null
    RingWords* words;        // null, or one heap block the owner may free
    const PixelLoop* loop;   // what composeFrame draws with, never null
};

// The layout of a filled table for the best pixel loop this build has for this processor
// (AT_HWCAP, asked once). Never fails. Start-up passes it the table of buildRingTable, which
// prints "Precalculating table..." and ends the process with "Out of memory" when the table
// itself cannot be allocated.
RingLayout buildRingLayout(const RingTable* table);

// The loop's short name ("bytes", "words", "sse2", "neon", "asimd"), for tests and
// measurements.
const char* pixelLoopName(const PixelLoop* loop);

// One frame: the layer origins for t, then 320 x 200 palette indices, each the sum of the
// three ring values under that pixel (never above 255), into rows that start pitch bytes apart
// (pitch >= 320). Bytes past column 319 of a row are left alone; pixels may have any alignment.
// No floating point per pixel, no multiplication per pixel and no allocation.
void composeFrame(double t, const EffectParams& params, const RingLayout& ring,
                  std::uint8_t* pixels, int pitch);

#endif  // RINGWAVE_EFFECT_COMPOSITOR_H_
