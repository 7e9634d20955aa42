#ifndef RINGWAVE_FRAME_LOOP_H_
#define RINGWAVE_FRAME_LOOP_H_

#include <SDL_video.h>

#include <chrono>
#include <cstdint>

#include "effect/compositor.h"
#include "effect/effect_params.h"

// The run is timed with a monotonic clock: wall-clock steps cannot distort the rate.
using RunClock = std::chrono::steady_clock;

// How a frame reaches this screen, chosen once after the mode is set.
struct FramePath {
    // The display has no palette of its own: SDL keeps an 8-bit shadow and converts all of it
    // whenever the colours change. The frame is drawn first and its colours handed over last,
    // so that one conversion shows the finished frame.
    bool coloursAfterDrawing;
    bool flip;  // SDL_Flip after drawing (without it the colours' conversion shows the frame)
};

// Palettised display (info->vfmt has a palette): colours, lock, draw, unlock, flip, as
// always. Display without a palette: lock, draw, unlock, colours, and a flip only when the
// screen is double-buffered (SDL_DOUBLEBUF in screen->flags, which SDL's shadow carries over
// from the display): a back buffer shows nothing until it is flipped.
FramePath chooseFramePath(const SDL_VideoInfo* info, const SDL_Surface* screen);

// Runs frames as fast as they come until an input event is pending (a key, a mouse button,
// a quit request; it is left in the queue) or a caught signal asks it to stop (signals.h),
// then prints the frame-rate line, unless the signal is one that is to end the process.
// Notices that are not input (focus, pointer motion, expose, window-manager and resize
// notices) are taken out of the queue and never end the run. Each pass sets the palette, and
// draws (and flips, where the path says so) only when the surface locks. Returns the exit
// status 0.
int runFrameLoop(SDL_Surface* screen, FramePath path, const EffectParams& params,
                 const RingLayout& ring, RunClock::time_point start);

// Pumps SDL's events and tells whether an input event is queued: a key, a mouse button, a
// quit request, or any kind that is not one of these notices: focus gained or lost, pointer
// motion, the window exposed, window-manager messages, resize notices. The notices are taken
// out of the queue; the input event stays in it.
bool inputPending();

// Frames per second over a run: 0 when no frame was drawn or no time was measured, so the
// result is always finite and never negative.
double frameRate(std::int64_t frames, double elapsedSeconds);

// Reads the end time and prints "Frame rate: %g frames/sec" for frames since start, flushed at
// once; a write that fails (the terminal hung up, the reader went away) changes nothing else.
void reportFrameRate(std::int64_t frames, RunClock::time_point start);

#endif  // RINGWAVE_FRAME_LOOP_H_
