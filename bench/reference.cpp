#include "reference.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

}  // namespace

void referenceFillRingTable(RingTable* table) {
    for (int row = 0; row < 400; ++row) {
        for (int column = 0; column < 640; ++column) {
            const int x = column - 320;
            const int y = row - 320;
            const double d = static_cast<double>(x * x + y * y);
            const double wave = std::sin(std::sqrt(d * (kPi / 569600.0)) * 12.0);
            table->bytes[row * 640 + column] =
                static_cast<std::uint8_t>((wave + 1.0) * 256.0 / 6.0);
        }
    }
}

void referencePalette(double t, const EffectParams& params, SDL_Color palette[256]) {
    for (int i = 0; i < 256; ++i) {
        const double u = ((static_cast<double>(i) * 0.00390625) * 6.0) * kPi;
        const double red = ((params.colourSpeed[0] * kPi) * t) * kPi;
        const double green = (params.colourSpeed[1] * t) * kPi;
        const double blue = (params.colourSpeed[2] * t) * kPi;
        palette[i].r = static_cast<std::uint8_t>((std::sin(u + red) + 1.0) * 127.0);
        palette[i].g = static_cast<std::uint8_t>((std::sin(u + green) + 1.0) * 127.0);
        palette[i].b = static_cast<std::uint8_t>((std::sin(u + blue) + 1.0) * 127.0);
    }
}

void referenceComposeFrame(double t, const EffectParams& params, const RingTable& table,
                           std::uint8_t* pixels, int pitch) {
    unsigned x0[3];
    unsigned y0[3];
    for (int k = 0; k < 3; ++k) {
        x0[k] =
            static_cast<unsigned>(((std::sin(t * params.driftSpeed[2 * k]) + 1.0) * 0.5) * 320.0);
        y0[k] = static_cast<unsigned>(((std::sin(t * params.driftSpeed[2 * k + 1]) + 1.0) * 0.5) *
                                      200.0);
    }
    for (int j = 0; j < 200; ++j) {
        for (int i = 0; i < 320; ++i) {
            pixels[j * pitch + i] =
                static_cast<std::uint8_t>(table.bytes[(y0[0] + j) * 640 + x0[0] + i] +
                                          table.bytes[(y0[1] + j) * 640 + x0[1] + i] +
                                          table.bytes[(y0[2] + j) * 640 + x0[2] + i]);
        }
    }
}
