#include "frame_loop.h"

#include <SDL.h>

#include <cstdio>

#include "effect/compositor.h"
#include "effect/palette.h"

namespace {

constexpr int kFirstColour = 0;

// One pass: palette first (every pass, whatever the lock does), then the pixels.
void drawFrame(SDL_Surface* screen, const EffectParams& params, const RingLayout& ring, double t,
               SDL_Color palette[kPaletteSize]) {
    computePalette(t, params, palette);
    SDL_SetColors(screen, palette, kFirstColour, kPaletteSize);
    if (SDL_LockSurface(screen) < 0) return;  // skip this frame's drawing; try again next pass
    composeFrame(t, params, ring, static_cast<std::uint8_t*>(screen->pixels), screen->pitch);
    SDL_UnlockSurface(screen);
    SDL_Flip(screen);
}

}  // namespace

int runFrameLoop(SDL_Surface* screen, const EffectParams& params, const RingLayout& ring,
                 RunClock::time_point start) {
    SDL_Color palette[kPaletteSize] = {};
    std::int64_t frames = 0;
    // Peek only: the event that ends the run stays queued. Every animated value is a function
    // of the frame count, so there is no pacing and no timer.
    while (SDL_PollEvent(nullptr) == 0) {
        ++frames;
        drawFrame(screen, params, ring, static_cast<double>(frames), palette);
    }
    reportFrameRate(frames, start);
    return 0;
}

double frameRate(std::int64_t frames, double elapsedSeconds) {
    if (frames <= 0 || !(elapsedSeconds > 0.0)) return 0.0;
    return static_cast<double>(frames) / elapsedSeconds;
}

void reportFrameRate(std::int64_t frames, RunClock::time_point start) {
    const RunClock::time_point end = RunClock::now();
    const double elapsed = std::chrono::duration<double>(end - start).count();
    std::printf("Frame rate: %g frames/sec\n", frameRate(frames, elapsed));
}
