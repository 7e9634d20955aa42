// The portable loop: one pixel per add, from the table alone. Any processor; the loop where
// no faster one can run or its input cannot be had.
#include "effect/pixel_loops.h"

void composeRowsBytes(const std::uint8_t* w0, const std::uint8_t* w1, const std::uint8_t* w2,
                      std::uint8_t* pixels, int pitch) {
    for (int j = 0; j < kScreenHeight; ++j) {
        for (int i = 0; i < kScreenWidth; ++i) pixels[i] = w0[i] + w1[i] + w2[i];
        w0 += kRingTableWidth;
        w1 += kRingTableWidth;
        w2 += kRingTableWidth;
        pixels += pitch;
    }
}
