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
    bool coloursAfterDrawing;  // hand the colours to SDL after drawing, not before
    bool flip;                 // SDL_Flip after drawing
};

// A display with a palette: colours, lock, draw, unlock, flip. A display without one: lock,
// draw, unlock, colours, and a flip only when the screen is double-buffered.
FramePath chooseFramePath(const SDL_VideoInfo* info, const SDL_Surface* screen);

// Draws frames 1, 2, ... as fast as they come until inputPending() or stopSignalled()
// (signals.h), then prints the frame-rate line, unless a signal is to end the process. A pass
// whose surface does not lock sets the colours but draws nothing. Returns the exit status 0.
int runFrameLoop(SDL_Surface* screen, FramePath path, const EffectParams& params,
                 const RingLayout& ring, RunClock::time_point start);

// Pumps SDL's events and tells whether an input event is queued: any event but the notices
// (focus gained or lost, pointer motion, the window exposed, window-manager messages, resize
// notices), which are taken out of the queue. The input event stays queued.
bool inputPending();

// Frames per second: 0 when no frame was drawn or no time was measured, so always finite and
// never negative.
double frameRate(std::int64_t frames, double elapsedSeconds);

// Prints "Frame rate: %g frames/sec" for frames since start, flushed at once; a write that
// fails (the terminal hung up, the reader went away) changes nothing else.
void reportFrameRate(std::int64_t frames, RunClock::time_point start);

#endif  // RINGWAVE_FRAME_LOOP_H_
