#include "effect/compositor.h"

#include <cstdlib>

#include "effect/pixel_loops.h"
#include "effect/processor_features.h"

RingLayout buildRingLayoutFor(const RingTable* table, std::uint32_t hwcap,
                              void* (*allocate)(std::size_t)) {
    for (int i = 0; i < kPixelLoopCount; ++i) {
        const PixelLoop& loop = kPixelLoops[i];
        if ((hwcap & loop.hwcap) != loop.hwcap) continue;
        if (loop.buildInput == nullptr) return RingLayout{table, nullptr, &loop};
        RingWords* words = loop.buildInput(*table, allocate);
        if (words != nullptr) return RingLayout{table, words, &loop};
    }
    // Unreachable: the last row asks for nothing.
    return RingLayout{table, nullptr, &kPixelLoops[kPixelLoopCount - 1]};
}

RingLayout buildRingLayout(const RingTable* table) {
    return buildRingLayoutFor(table, processorHwcap(), std::malloc);
}

const char* pixelLoopName(const PixelLoop* loop) {
    return loop->name;
}

void composeFrame(double t, const EffectParams& params, const RingLayout& ring,
                  std::uint8_t* pixels, int pitch) {
    LayerOrigin origins[kLayerCount];
    computeLayerOrigins(t, params, origins);
    ring.loop->compose(ring, origins, pixels, pitch);
}
