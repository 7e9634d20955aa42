// Test-only: writes the effect's numbers as raw bytes on standard output, so that two builds
// (x86-64 and the ARM soft-float build) can be compared byte for byte:
//   effect_dump SEED FIRST COUNT [SEED FIRST COUNT ...]
// First the whole ring table (256,000 bytes); then, for each triple, the speeds drawn with
// srand(SEED), and for every frame FIRST .. FIRST + COUNT - 1: the palette (red, green, blue
// of each entry, 768 bytes) and the three layer origins (x0 and y0 as 16-bit little-endian).
// A snapshot shows only the windows of one frame; this covers the whole table and runs of
// consecutive palettes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "effect/compositor.h"
#include "effect/effect_params.h"
#include "effect/palette.h"
#include "effect/ring_table.h"
#include "snapshot_args.h"

namespace {

void putLittle16(unsigned value) {
    std::putchar(static_cast<int>(value & 0xFFu));
    std::putchar(static_cast<int>((value >> 8) & 0xFFu));
}

void dumpFrame(const EffectParams& params, std::uint64_t frame) {
    const double t = static_cast<double>(frame);
    SDL_Color palette[kPaletteSize] = {};
    computePalette(t, params, palette);
    for (const SDL_Color& colour : palette) {
        std::putchar(colour.r);
        std::putchar(colour.g);
        std::putchar(colour.b);
    }
    LayerOrigin origins[kLayerCount];
    computeLayerOrigins(t, params, origins);
    for (const LayerOrigin& origin : origins) {
        putLittle16(origin.x0);
        putLittle16(origin.y0);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4 || (argc - 1) % 3 != 0) {
        std::fputs("usage: effect_dump SEED FIRST COUNT [SEED FIRST COUNT ...]\n", stderr);
        return 2;
    }
    static RingTable table;
    fillRingTable(&table);
    std::fwrite(table.bytes, 1, sizeof table.bytes, stdout);

    for (int arg = 1; arg + 2 < argc; arg += 3) {
        std::uint64_t seed = 0, first = 0, count = 0;
        if (!parseDecimal(argv[arg], 0xFFFFFFFFu, &seed) ||
            !parseDecimal(argv[arg + 1], kMaxSnapshotFrame, &first) || first == 0 ||
            !parseDecimal(argv[arg + 2], kMaxSnapshotFrame - first + 1, &count)) {
            std::fprintf(stderr, "effect_dump: bad triple %s %s %s\n", argv[arg], argv[arg + 1],
                         argv[arg + 2]);
            return 2;
        }
        std::srand(static_cast<unsigned>(seed));
        const EffectParams params = drawEffectParams();
        for (std::uint64_t frame = first; frame < first + count; ++frame) dumpFrame(params, frame);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
