#ifndef RINGWAVE_EFFECT_COMPOSITOR_PATHS_H_
#define RINGWAVE_EFFECT_COMPOSITOR_PATHS_H_

// Inside the compositor: its pixel loops, one per way of reading the ring table, and the word
// copies one of them reads. composeFrame picks the loop for this build and layout; the tests
// call every loop directly, so that each build checks all of them, whichever it runs.
// Each loop writes what composeFrame promises, from origins already computed.

#include <cstdint>

#include "effect/compositor.h"
#include "effect/ring_table.h"

constexpr int kWordCopies = 4;                          // one per byte offset in a 32-bit word
constexpr int kRingWordsPerCopy = kRingTableBytes / 4;  // 64,000

// Copy s holds the table's bytes from byte s on (bytes past the table's end are 0), so a window
// starting at any byte can be read with aligned word loads only, from the copy of its offset.
// Copy 0 is the table itself.
struct RingWords {
    std::uint32_t copies[kWordCopies][kRingWordsPerCopy];
};

// Fills the four copies from a filled table.
void fillRingWords(const RingTable& table, RingWords* words);

// The layout buildRingLayout makes on a processor whose kernel reports hwcap (AT_HWCAP):
// only the ARM build reads its NEON bit.
RingLayout buildRingLayoutFor(const RingTable* table, std::uint32_t hwcap);

// Draws with the layout's loop (one switch per frame).
void composeLayers(const RingLayout& ring, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch);

#if defined(__SSE2__)
// Sixteen pixels per add, every load and store unaligned.
void composeLayersVector(const RingTable& table, const LayerOrigin origins[kLayerCount],
                         std::uint8_t* pixels, int pitch);
#endif

#if defined(RINGWAVE_NEON_LOOP)
// Thirty-two pixels per step, every load and store unaligned (compositor_neon.S). Only for
// processors whose kernel reports NEON.
void composeLayersNeon(const RingTable& table, const LayerOrigin origins[kLayerCount],
                       std::uint8_t* pixels, int pitch);
#endif

// Four pixels per 32-bit add, every word load from the copy of its window's byte offset and
// every word store aligned (a few head and tail bytes per row bring the destination to a word
// boundary); on ARM eight words per window per load-multiple pair.
void composeLayersWords(const RingWords& words, const LayerOrigin origins[kLayerCount],
                        std::uint8_t* pixels, int pitch);

// One pixel per add: the loop where the word loop's copies could not be had.
void composeLayersBytes(const RingTable& table, const LayerOrigin origins[kLayerCount],
                        std::uint8_t* pixels, int pitch);

#endif  // RINGWAVE_EFFECT_COMPOSITOR_PATHS_H_
