// ringwave-bench: the effect's start-up and per-frame work beside the straightforward
// reference (bench/reference.cpp), in the same run, with the speed-ups printed at the end.
// Takes Google Benchmark's options (--benchmark_filter, --benchmark_min_time, ...).

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench_params.h"
#include "effect/compositor.h"
#include "effect/palette.h"
#include "effect/ring_table.h"
#include "reference.h"

namespace {

// The table and its layout, built once and shared by the per-frame benchmarks.
RingTable gTable;
RingLayout gRing;
RingTable gScratchTable;
std::uint8_t gPixels[kScreenWidth * kScreenHeight];

// Start-up: the table (and, for the program, its layout as start-up builds it: with the word
// copies where the frame loop reads them).
void tableReference(benchmark::State& state) {
    for (auto _ : state) {
        referenceFillRingTable(&gScratchTable);
        benchmark::ClobberMemory();
    }
}

void tableFast(benchmark::State& state) {
    for (auto _ : state) {
        fillRingTable(&gScratchTable);
        const RingLayout ring = buildRingLayout(&gScratchTable);
        benchmark::ClobberMemory();
        std::free(ring.words);
    }
}

// Frames 1, 2, 3, ... as the loop runs them: t changes every call.
template <void (*Palette)(double, const EffectParams&, SDL_Color*)>
void palette(benchmark::State& state) {
    const EffectParams params = benchParams();
    SDL_Color colours[kPaletteSize];
    double t = 0.0;
    for (auto _ : state) {
        Palette(t += 1.0, params, colours);
        benchmark::DoNotOptimize(colours);
        benchmark::ClobberMemory();
    }
}

void composeReference(benchmark::State& state) {
    const EffectParams params = benchParams();
    double t = 0.0;
    for (auto _ : state) {
        referenceComposeFrame(t += 1.0, params, gTable, gPixels, kScreenWidth);
        benchmark::ClobberMemory();
    }
}

void composeFast(benchmark::State& state) {
    const EffectParams params = benchParams();
    double t = 0.0;
    for (auto _ : state) {
        composeFrame(t += 1.0, params, gRing, gPixels, kScreenWidth);
        benchmark::ClobberMemory();
    }
}

// One whole frame as the loop draws it, on a 320 x 200 x 8 screen of SDL's dummy driver:
// palette, SetColors, lock, compose, unlock, flip.
template <bool Reference>
void wholeFrame(benchmark::State& state) {
    SDL_Surface* screen = SDL_GetVideoSurface();
    if (screen == nullptr) {
        state.SkipWithError("no video surface");
        return;
    }
    const EffectParams params = benchParams();
    SDL_Color colours[kPaletteSize] = {};
    double t = 0.0;
    for (auto _ : state) {
        t += 1.0;
        if (Reference) {
            referencePalette(t, params, colours);
        } else {
            computePalette(t, params, colours);
        }
        SDL_SetColors(screen, colours, 0, kPaletteSize);
        if (SDL_LockSurface(screen) < 0) continue;
        std::uint8_t* pixels = static_cast<std::uint8_t*>(screen->pixels);
        if (Reference) {
            referenceComposeFrame(t, params, gTable, pixels, screen->pitch);
        } else {
            composeFrame(t, params, gRing, pixels, screen->pitch);
        }
        SDL_UnlockSurface(screen);
        SDL_Flip(screen);
    }
}

// The speed-ups asked of the development host; on the device (or under its emulator) the
// measure is the instruction count, so no targets are shown there.
#if defined(__arm__)
constexpr bool kHostTargets = false;
#else
constexpr bool kHostTargets = true;
#endif

struct Pair {
    const char* name;
    void (*reference)(benchmark::State&);
    void (*fast)(benchmark::State&);
    double target;  // the speed-up asked of the program's code
};

const Pair kPairs[] = {
    {"buildRingTable", tableReference, tableFast, 25.0},
    {"computePalette", palette<referencePalette>, palette<computePalette>, 5.0},
    {"composeFrame", composeReference, composeFast, 10.0},
    {"wholeFrame", wholeFrame<true>, wholeFrame<false>, 0.0},
};

// The console report, plus the mean CPU time per call of every benchmark for the summary.
class RatioReporter : public benchmark::ConsoleReporter {
   public:
    // Colours only on a terminal: logs and CI output stay plain text.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // Each repetition, or only their mean when aggregates alone are reported.
            const bool repetition = run.run_type == Run::RT_Iteration;
            if (!repetition && run.aggregate_name != "mean") continue;
            Mean& mean = (repetition ? means_ : aggregateMeans_)[run.run_name.str()];
            mean.sum += run.GetAdjustedCPUTime();
            mean.count += 1;
        }
    }

    // Microseconds (every benchmark's unit) per call; negative when it did not run.
    double perCall(const std::string& name) const {
        for (const auto* means : {&means_, &aggregateMeans_}) {
            const auto it = means->find(name);
            if (it != means->end()) return it->second.sum / it->second.count;
        }
        return -1.0;
    }

   private:
    struct Mean {
        double sum = 0.0;
        int count = 0;
    };
    std::map<std::string, Mean> means_;
    std::map<std::string, Mean> aggregateMeans_;
};

void printSummary(const RatioReporter& reporter) {
    std::printf("\n%-16s %16s %16s %9s  %s\n", "speed-up", "reference (us)", "fast (us)", "ratio",
                "host target");
    for (const Pair& pair : kPairs) {
        const double reference = reporter.perCall(std::string(pair.name) + "/reference");
        const double fast = reporter.perCall(std::string(pair.name) + "/fast");
        if (reference < 0.0 || fast < 0.0) continue;
        const double ratio = reference / fast;
        char target[32] = "-";
        if (kHostTargets && pair.target > 0.0) {
            std::snprintf(target, sizeof target, ">= %gx: %s", pair.target,
                          ratio >= pair.target ? "met" : "NOT met");
        }
        std::printf("%-16s %16.2f %16.2f %8.1fx  %s\n", pair.name, reference, fast, ratio, target);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    fillRingTable(&gTable);
    gRing = buildRingLayout(&gTable);
    // Headless: the whole-frame benchmark draws into SDL's dummy driver unless told otherwise.
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    if (SDL_Init(SDL_INIT_VIDEO) < 0 ||
        SDL_SetVideoMode(kScreenWidth, kScreenHeight, 8, SDL_HWPALETTE) == nullptr) {
        std::fprintf(stderr, "ringwave-bench: no video mode (%s); whole-frame runs fail\n",
                     SDL_GetError());
    }

    for (const Pair& pair : kPairs) {
        benchmark::RegisterBenchmark((std::string(pair.name) + "/reference").c_str(),
                                     pair.reference)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string(pair.name) + "/fast").c_str(), pair.fast)
            ->Unit(benchmark::kMicrosecond);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    SDL_Quit();
    return 0;
}
