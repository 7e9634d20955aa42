#ifndef RINGWAVE_EFFECT_PIXEL_LOOPS_H_
#define RINGWAVE_EFFECT_PIXEL_LOOPS_H_

// Inside the compositor: the pixel loops, each in a file of its own by processor class
// (pixel_loop_*), and the one table start-up chooses from. Every loop draws what composeFrame
// promises, from origins already computed, byte for byte the same as every other: a ring value
// is at most 85, so the sum of three never exceeds 255 and adding whole words or vectors of
// table bytes never carries from one pixel into the next.

#include <cstddef>
#include <cstdint>

#include "effect/compositor.h"

using ComposeLoop = void (*)(const RingLayout& ring, const LayerOrigin origins[kLayerCount],
                             std::uint8_t* pixels, int pitch);

// What start-up builds for a loop beside the table, as one block from allocate; null when
// allocate gives none (that loop is then passed over).
using BuildInput = RingWords* (*)(const RingTable& table, void* (*allocate)(std::size_t));

// One row of the table.
struct PixelLoop {
    const char* name;  // "bytes", "words", ...
    ComposeLoop compose;
    std::uint32_t hwcap;    // AT_HWCAP bits the kernel must report for it; 0: none
    BuildInput buildInput;  // null: it reads the table alone
};

// The loops this build has, best first. Start-up takes the first whose hwcap bits the kernel
// reports and whose input can be built; the last reads the table alone on any processor.
extern const PixelLoop kPixelLoops[];
extern const int kPixelLoopCount;

// The layout buildRingLayout makes on a processor whose kernel reports hwcap, with the
// input's memory from allocate.
RingLayout buildRingLayoutFor(const RingTable* table, std::uint32_t hwcap,
                              void* (*allocate)(std::size_t));

// Code that runs only where the kernel reports a processor class (a row with hwcap bits) lives
// in the section hwcap_<class> (".section hwcap_neon" in assembly, the attribute
// section("hwcap_neon") in C++), which the linker keeps apart from .text, so that the device
// build's instruction check leaves out exactly that code.

// The loops that read the three windows straight from the table: all 200 rows of 320 pixels
// from the windows' first bytes w0, w1 and w2 (rows 640 bytes apart), into rows pitch bytes
// apart; composeWindows gives them the table's row signature.
using ComposeRows = void (*)(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                             std::uint8_t* pixels, int pitch);
void composeRowsBytes(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                      std::uint8_t* pixels, int pitch);
void composeRowsSse2(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                     std::uint8_t* pixels, int pitch);
extern "C" void composeRows_neon(const std::uint8_t* w0, const std::uint8_t* w1,
                                 const std::uint8_t* w2, std::uint8_t* pixels, int pitch);
extern "C" void composeRowsAsimd(const std::uint8_t* w0, const std::uint8_t* w1,
                                 const std::uint8_t* w2, std::uint8_t* pixels, int pitch);

template <ComposeRows rows>
void composeWindows(const RingLayout& ring, const LayerOrigin origins[kLayerCount],
                    std::uint8_t* pixels, int pitch) {
    const std::uint8_t* w[kLayerCount];
    for (int k = 0; k < kLayerCount; ++k) {
        w[k] = ring.table->bytes + static_cast<std::size_t>(origins[k].y0) * kRingTableWidth +
               origins[k].x0;
    }
    rows(w[0], w[1], w[2], pixels, pitch);
}

// The word loop (pixel_loop_words.cpp): aligned words from the copies of the table.
void composeFromWordCopies(const RingLayout& ring, const LayerOrigin origins[kLayerCount],
                           std::uint8_t* pixels, int pitch);
RingWords* buildWordCopies(const RingTable& table, void* (*allocate)(std::size_t));

#endif  // RINGWAVE_EFFECT_PIXEL_LOOPS_H_
