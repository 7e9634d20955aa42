#ifndef RINGWAVE_EFFECT_COMPOSITOR_H_
#define RINGWAVE_EFFECT_COMPOSITOR_H_

#include <cstdint>

#include "effect/effect_params.h"
#include "effect/ring_table.h"

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

// The ring table as 32-bit words at every byte offset; only the compositor looks inside.
struct RingWords;

// The pixel loops a build may draw with. Start-up picks one for the processor it runs on
// (buildRingLayout) and every frame draws with it.
enum class PixelLoop {
    kBytes,   // one pixel per add, from the table alone: any processor, slow
    kWords,   // aligned 32-bit words from the word copies: ARM without NEON
    kNeon,    // NEON, 32 pixels per step straight from the table: ARM processors with NEON
    kVector,  // SSE2, 16 pixels per add straight from the table: x86
};

// A short name for each loop ("bytes", "words", "neon", "sse2"), for tests and measurements.
const char* pixelLoopName(PixelLoop loop);

// The ring table as this build's pixel loop reads it: built once at start-up, then only read.
// With SSE2, and on ARM processors whose kernel reports NEON, that is the table alone (their
// loads read windows at any byte offset at full speed). Other processors (ARM without NEON has
// no unaligned word loads) also get the table as four byte-shifted copies of 32-bit words,
// 1,024,000 bytes, so that every window of every frame is read with aligned words. words is
// null unless the loop is kWords; when the copies' memory was not there the loop is kBytes,
// slower, with the same pixels.
struct RingLayout {
    const RingTable* table;  // filled, never null
    RingWords* words;        // null, or one heap block the owner may free
    PixelLoop loop;          // what composeFrame draws with
};

// The layout of a filled table for the pixel loop this build has for this processor (asked
// once, from AT_HWCAP): the table, and the word copies where the loop reads them and their
// memory can be had. Never fails. Start-up passes it the table of buildRingTable, which
// prints "Precalculating table..." and ends the process with "Out of memory" when the table
// itself cannot be allocated.
RingLayout buildRingLayout(const RingTable* table);

// One frame: the layer origins for t, then 320 x 200 palette indices, each the sum of the
// three ring values under that pixel (never above 255), into rows that start pitch bytes apart
// (pitch >= 320). Bytes past column 319 of a row are left alone; pixels may have any alignment.
// No floating point per pixel, no multiplication per pixel and no allocation.
void composeFrame(double t, const EffectParams& params, const RingLayout& ring,
                  std::uint8_t* pixels, int pitch);

#endif  // RINGWAVE_EFFECT_COMPOSITOR_H_
