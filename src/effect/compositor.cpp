#include "effect/compositor.h"

#include <cmath>

namespace {

constexpr double kHalf = 0.5;

unsigned windowStart(double wave, double span) {
    return static_cast<unsigned>(((wave + 1.0) * kHalf) * span);
}

}  // namespace

LayerOrigin layerOrigin(double t, double speedX, double speedY) {
    const double sx = std::sin(t * speedX);
    const double sy = std::sin(t * speedY);
    return LayerOrigin{windowStart(sx, kScreenWidth), windowStart(sy, kScreenHeight)};
}

void computeLayerOrigins(double t, const EffectParams& params, LayerOrigin origins[kLayerCount]) {
    for (int k = 0; k < kLayerCount; ++k) {
        origins[k] = layerOrigin(t, params.driftSpeed[2 * k], params.driftSpeed[2 * k + 1]);
    }
}

void composeLayers(const RingTable& table, const LayerOrigin origins[kLayerCount],
                   std::uint8_t* pixels, int pitch) {
    const std::uint8_t* w0 = table.bytes + origins[0].y0 * kRingTableWidth + origins[0].x0;
    const std::uint8_t* w1 = table.bytes + origins[1].y0 * kRingTableWidth + origins[1].x0;
    const std::uint8_t* w2 = table.bytes + origins[2].y0 * kRingTableWidth + origins[2].x0;
    // Row by row: the three windows step through the table by its stride, the destination by
    // the surface pitch. A ring value is at most 85, so the byte sum never wraps.
    for (int j = 0; j < kScreenHeight; ++j) {
        std::uint8_t* dst = pixels + j * pitch;
        for (int i = 0; i < kScreenWidth; ++i) dst[i] = w0[i] + w1[i] + w2[i];
        w0 += kRingTableWidth;
        w1 += kRingTableWidth;
        w2 += kRingTableWidth;
    }
}

void composeFrame(double t, const EffectParams& params, const RingTable& table,
                  std::uint8_t* pixels, int pitch) {
    LayerOrigin origins[kLayerCount];
    computeLayerOrigins(t, params, origins);
    composeLayers(table, origins, pixels, pitch);
}
