// ringwave-insn-probe: runs one piece of the effect COUNT times, the program's own code or the
// straightforward reference, for instruction counting under an emulator. The cost of one call
// is the count of a run with COUNT calls minus that of a run with none, divided by COUNT:
// everything else (start-up, table set-up, the checksum) is the same in both runs.
//
//   ringwave-insn-probe WORKLOAD fast|reference COUNT
//   WORKLOAD: table    the ring table, all 256,000 bytes (fast: with its layout, as start-up
//                      builds it: on the device the word copies too)
//             palette  the 256 palette colours of one frame
//             compose  one frame's window origins and 64,000 pixels
//             frame    one frame's own work: palette, origins and pixels
//             startup  the program's own work from start-up to its first frame on screen:
//                      the table (and its layout), then frame 1's palette, origins and pixels

#include <SDL_video.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_params.h"
#include "effect/compositor.h"
#include "effect/palette.h"
#include "effect/ring_table.h"
#include "reference.h"

namespace {

constexpr int kUsageStatus = 2;
const char kUsage[] =
    "usage: ringwave-insn-probe table|palette|compose|frame|startup fast|reference COUNT\n";

enum class Workload { kTable, kPalette, kCompose, kFrame, kStartup };

struct Probe {
    Workload workload;
    bool reference;
    long count;
};

bool parseProbe(int argc, char* argv[], Probe* probe) {
    if (argc != 4) return false;
    const char* name = argv[1];
    if (std::strcmp(name, "table") == 0) {
        probe->workload = Workload::kTable;
    } else if (std::strcmp(name, "palette") == 0) {
        probe->workload = Workload::kPalette;
    } else if (std::strcmp(name, "compose") == 0) {
        probe->workload = Workload::kCompose;
    } else if (std::strcmp(name, "frame") == 0) {
        probe->workload = Workload::kFrame;
    } else if (std::strcmp(name, "startup") == 0) {
        probe->workload = Workload::kStartup;
    } else {
        return false;
    }
    if (std::strcmp(argv[2], "reference") == 0) {
        probe->reference = true;
    } else if (std::strcmp(argv[2], "fast") == 0) {
        probe->reference = false;
    } else {
        return false;
    }
    char* end = nullptr;
    probe->count = std::strtol(argv[3], &end, 10);
    return *argv[3] != '\0' && *end == '\0' && probe->count >= 0;
}

// A digest of everything the calls wrote, printed so that no call can be left out.
unsigned digest(const std::uint8_t* bytes, long size) {
    unsigned sum = 0;
    for (long i = 0; i < size; ++i) sum = sum * 31 + bytes[i];
    return sum;
}

// The effect's share of start-up up to the first frame: the table (with its layout), then
// frame 1's palette, origins and pixels from it.
void startUp(bool reference, const EffectParams& params, RingTable* table,
             SDL_Color palette[kPaletteSize], std::uint8_t* pixels) {
    constexpr double kFirstFrame = 1.0;
    if (reference) {
        referenceFillRingTable(table);
        referencePalette(kFirstFrame, params, palette);
        referenceComposeFrame(kFirstFrame, params, *table, pixels, kScreenWidth);
        return;
    }
    fillRingTable(table);
    const RingLayout ring = buildRingLayout(table);
    computePalette(kFirstFrame, params, palette);
    composeFrame(kFirstFrame, params, ring, pixels, kScreenWidth);
    std::free(ring.words);
}

}  // namespace

int main(int argc, char* argv[]) {
    Probe probe{};
    if (!parseProbe(argc, argv, &probe)) {
        std::fputs(kUsage, stderr);
        return kUsageStatus;
    }
    const EffectParams params = benchParams();
    static RingTable table;
    static RingTable scratch;
    static std::uint8_t pixels[kScreenWidth * kScreenHeight];
    static SDL_Color palette[kPaletteSize];
    fillRingTable(&table);
    const RingLayout ring = buildRingLayout(&table);

    if (probe.workload == Workload::kStartup) {
        for (long call = 0; call < probe.count; ++call) {
            startUp(probe.reference, params, &scratch, palette, pixels);
        }
    }
    for (long call = 0; call < probe.count; ++call) {
        const double t = static_cast<double>(call + 1);  // frames 1, 2, 3, ... as the loop runs
        const bool withPalette =
            probe.workload == Workload::kPalette || probe.workload == Workload::kFrame;
        const bool withPixels =
            probe.workload == Workload::kCompose || probe.workload == Workload::kFrame;
        if (probe.workload == Workload::kTable) {
            if (probe.reference) {
                referenceFillRingTable(&scratch);
            } else {
                fillRingTable(&scratch);
                std::free(buildRingLayout(&scratch).words);
            }
        }
        if (withPalette) {
            if (probe.reference) {
                referencePalette(t, params, palette);
            } else {
                computePalette(t, params, palette);
            }
        }
        if (withPixels) {
            if (probe.reference) {
                referenceComposeFrame(t, params, table, pixels, kScreenWidth);
            } else {
                composeFrame(t, params, ring, pixels, kScreenWidth);
            }
        }
    }
    std::printf("%08x %08x %08x\n", digest(scratch.bytes, sizeof scratch.bytes),
                digest(reinterpret_cast<const std::uint8_t*>(palette), sizeof palette),
                digest(pixels, sizeof pixels));
    return 0;
}
