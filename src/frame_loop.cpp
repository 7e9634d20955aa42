#include "frame_loop.h"

#include <SDL.h>

#include <cstdio>

#include "effect/compositor.h"
#include "effect/palette.h"
#include "signals.h"

namespace {

constexpr int kFirstColour = 0;

// One pass, in the order path gives.
void drawFrame(SDL_Surface* screen, FramePath path, const EffectParams& params,
               const RingLayout& ring, double t, SDL_Color palette[kPaletteSize]) {
    computePalette(t, params, palette);
    if (!path.coloursAfterDrawing) SDL_SetColors(screen, palette, kFirstColour, kPaletteSize);
    const bool locked = SDL_LockSurface(screen) >= 0;
    if (locked) {
        composeFrame(t, params, ring, static_cast<std::uint8_t*>(screen->pixels), screen->pitch);
        SDL_UnlockSurface(screen);
    }
    if (path.coloursAfterDrawing) SDL_SetColors(screen, palette, kFirstColour, kPaletteSize);
    if (locked && path.flip) SDL_Flip(screen);
}

// The notices that are not input (an expose notice comes, for one, when a window that
// covered ours goes away).
constexpr Uint32 kNotInputMask = SDL_ACTIVEEVENTMASK | SDL_MOUSEMOTIONMASK | SDL_VIDEOEXPOSEMASK |
                                 SDL_SYSWMEVENTMASK | SDL_VIDEORESIZEMASK;
constexpr int kDropBatch = 16;  // notices taken out of the queue per call

}  // namespace

// The notices are taken out of the queue: SDL 1.2's queue holds 128 events and drops new ones
// when full, so notices left in it would pile up and crowd out a later key. The peek looks
// at the other kinds only, so a notice that arrives after the clearing waits for the next.
bool inputPending() {
    SDL_PumpEvents();
    SDL_Event dropped[kDropBatch];
    while (SDL_PeepEvents(dropped, kDropBatch, SDL_GETEVENT, kNotInputMask) == kDropBatch) {
    }
    SDL_Event next;
    return SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_ALLEVENTS & ~kNotInputMask) > 0;
}

// Without a palette on the display SDL keeps an 8-bit shadow and converts all of it whenever
// the colours are set: drawn first and coloured last, one conversion shows the finished
// frame. SDL's shadow carries SDL_DOUBLEBUF over from the display, whose back buffer shows
// nothing until it is flipped.
FramePath chooseFramePath(const SDL_VideoInfo* info, const SDL_Surface* screen) {
    if (info->vfmt->palette != nullptr) return FramePath{false, true};
    return FramePath{true, (screen->flags & SDL_DOUBLEBUF) != 0};
}

int runFrameLoop(SDL_Surface* screen, FramePath path, const EffectParams& params,
                 const RingLayout& ring, RunClock::time_point start) {
    SDL_Color palette[kPaletteSize] = {};
    std::int64_t frames = 0;
    // The input event that ends the run stays queued. Every animated value is a function of
    // the frame count, so there is no pacing and no timer.
    while (!stopSignalled() && !inputPending()) {
        ++frames;
        drawFrame(screen, path, params, ring, static_cast<double>(frames), palette);
    }
    // A signal that ends the process ends the run unreported: the exit hook restores the
    // console and ends the process by it.
    if (endingSignal() == 0) reportFrameRate(frames, start);
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
    flushOutput(stdout);  // a terminal or reader that went away changes nothing else
}
