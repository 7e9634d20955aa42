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

// Writes 320 x 200 palette indices, each the sum of the three ring values under that pixel,
// into rows that start pitch bytes apart (pitch >= 320). Bytes past column 319 of a row are
// left alone. Sums never exceed 255. pixels may have any alignment. Several pixels are added
// per machine instruction (16 with SSE2, else 4 per 32-bit word); no floating point, no
// multiplication per pixel and no allocation.
void composeLayers(const RingTable& table, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch);

// The same result through the aligned 32-bit word path that composeLayers uses on processors
// without SSE2 (the ARM device). Callable everywhere so that every build tests it. Reads only
// whole aligned words holding window bytes, which stay inside a word-aligned table; a table
// at an unaligned address is summed byte by byte.
void composeLayersWords(const RingTable& table, const LayerOrigin origins[kLayerCount],
                        std::uint8_t* pixels, int pitch);

// One frame: the layer origins for t, then the composition into pixels.
void composeFrame(double t, const EffectParams& params, const RingTable& table,
                  std::uint8_t* pixels, int pitch);

constexpr int kWordCopies = 4;                          // one per byte offset in a 32-bit word
constexpr int kRingWordsPerCopy = kRingTableBytes / 4;  // 64,000

// The ring table laid out for aligned 32-bit reads: copy s holds the table's bytes from byte s
// on (bytes past the table's end are 0), so a window starting at any byte can be read with
// aligned word loads only, from the copy of its offset. Copy 0 is the table itself. Four
// copies: 1,024,000 bytes, built once at start-up, only read by the frame loop.
struct RingWords {
    std::uint32_t copies[kWordCopies][kRingWordsPerCopy];
};

// Fills the four copies from a filled table.
void fillRingWords(const RingTable& table, RingWords* words);

// Allocates and fills the copies; null when the memory is not there, and always null with
// SSE2, which reads windows at any byte offset at full speed. On null the frame loop composes
// from the table alone, with the same pixels.
RingWords* buildRingWords(const RingTable& table);

// Same pixels as composeLayers on the table the copies were made from; on processors
// without unaligned word loads every load and store of the pixel loop is an aligned word
// (head and tail bytes of a row bring the destination to a word boundary).
void composeLayers(const RingWords& words, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch);

// The aligned word path that composeLayers takes from the copies on processors without SSE2
// (the ARM device). Callable everywhere so that every build tests it.
void composeLayersAligned(const RingWords& words, const LayerOrigin origins[kLayerCount],
                          std::uint8_t* pixels, int pitch);

// One frame from the word copies: the layer origins for t, then composeLayers.
void composeFrame(double t, const EffectParams& params, const RingWords& words,
                  std::uint8_t* pixels, int pitch);

// One frame from the word copies when there are some (words not null), else from the table:
// the same pixels either way. The demo and the snapshot tool draw through this.
void composeFrame(double t, const EffectParams& params, const RingTable& table,
                  const RingWords* words, std::uint8_t* pixels, int pitch);

#endif  // RINGWAVE_EFFECT_COMPOSITOR_H_
