// Test-only: which pixel loop start-up chooses on the processor this runs on, and whether it
// draws what the byte loop draws:
//   pixel_loop_check EXPECTED
// Builds the layout as ringwave's start-up does (AT_HWCAP, read the way this build's C library
// allows), prints "pixel loop: NAME (AT_HWCAP 0x...)", then composes frames with that layout
// and, from the same table, byte by byte, into rows with an odd pitch. Exits 0 when the loop
// is EXPECTED ("words", "neon", ...) and every frame's bytes agree, 1 otherwise, 2 on misuse.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "effect/compositor.h"
#include "effect/effect_params.h"
#include "effect/pixel_loops.h"
#include "effect/processor_features.h"
#include "effect/ring_table.h"

namespace {

constexpr int kPitch = 333;  // every row starts at another offset within a word
constexpr int kBufferBytes = kPitch * kScreenHeight + 2;  // one byte before, one after

// Frames where every window lies at another byte offset, the extremes of the table included.
const LayerOrigin kFrames[][kLayerCount] = {
    {{0, 0}, {320, 200}, {161, 99}},
    {{1, 2}, {318, 199}, {7, 0}},
    {{294, 190}, {33, 17}, {319, 1}},
    {{3, 200}, {320, 0}, {100, 100}},
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: pixel_loop_check EXPECTED\n", stderr);
        return 2;
    }
    static RingTable table;
    fillRingTable(&table);
    const RingLayout ring = buildRingLayout(&table);
    const char* name = pixelLoopName(ring.loop);
    std::printf("pixel loop: %s (AT_HWCAP %#x)\n", name, static_cast<unsigned>(processorHwcap()));
    int status = std::strcmp(name, argv[1]) == 0 ? 0 : 1;
    if (status != 0) std::printf("expected the %s loop\n", argv[1]);

    // Static, and no std::vector: the device's C++ runtime has no exceptions to throw.
    static std::uint8_t chosen[kBufferBytes], bytes[kBufferBytes];
    std::memset(chosen, 0xEE, kBufferBytes);
    std::memset(bytes, 0xEE, kBufferBytes);
    // The table's last row: the byte loop, any processor.
    const RingLayout byBytes{&table, nullptr, &kPixelLoops[kPixelLoopCount - 1]};
    for (const auto& origins : kFrames) {
        ring.loop->compose(ring, origins, chosen + 1, kPitch);
        byBytes.loop->compose(byBytes, origins, bytes + 1, kPitch);
        if (std::memcmp(chosen, bytes, kBufferBytes) != 0) {
            std::printf("frame at %u,%u differs from the byte loop's\n", origins[0].x0,
                        origins[0].y0);
            status = 1;
        }
    }
    std::free(ring.words);
    return status;
}
