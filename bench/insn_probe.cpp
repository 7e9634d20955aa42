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

    const Workload w = probe.workload;
    const bool startup = w == Workload::kStartup;
    const bool withTable = w == Workload::kTable || startup;
    const bool withPalette = w == Workload::kPalette || w == Workload::kFrame || startup;
    const bool withPixels = w == Workload::kCompose || w == Workload::kFrame || startup;
    for (long call = 0; call < probe.count; ++call) {
        // Frames 1, 2, 3, ... as the loop runs them; start-up ends with frame 1, drawn from the
        // table it has just built.
        const double t = startup ? 1.0 : static_cast<double>(call + 1);
        RingLayout built{&scratch, nullptr};
        if (withTable) {
            if (probe.reference) {
                referenceFillRingTable(&scratch);
            } else {
                fillRingTable(&scratch);
                built = buildRingLayout(&scratch);
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
                referenceComposeFrame(t, params, startup ? scratch : table, pixels, kScreenWidth);
            } else {
                composeFrame(t, params, startup ? built : ring, pixels, kScreenWidth);
            }
        }
        std::free(built.words);
    }
    std::printf("%08x %08x %08x\n", digest(scratch.bytes, sizeof scratch.bytes),
                digest(reinterpret_cast<const std::uint8_t*>(palette), sizeof palette),
                digest(pixels, sizeof pixels));
    return 0;
}
