// ringwave: an interference pattern of three drifting ring fields over a cycling palette,
// run until any key, button or quit request, then the average frame rate.

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "effect/compositor.h"
#include "effect/effect_params.h"
#include "effect/ring_table.h"
#include "fixed_panel.h"
#include "frame_loop.h"
#include "signals.h"
#include "video_flags.h"

namespace {

constexpr int kStartupFailure = 1;
constexpr int kScreenDepth = 8;  // bits per pixel: palette indices

// Sets the 320 x 200 x 8 mode with the flags the command line chose, drops focus and
// mouse-motion events so that they never end the run, and hides SDL's pointer over a
// fullscreen picture. Null (with SDL's message printed) when the mode cannot be set.
SDL_Surface* openScreen(char* const argv[]) {
    const std::uint32_t flags = parseVideoFlags(argv);
    SDL_Surface* screen = SDL_SetVideoMode(kScreenWidth, kScreenHeight, kScreenDepth, flags);
    if (screen == nullptr) {
        std::fprintf(stderr, "Couldn't initialize video mode: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_EventState(SDL_ACTIVEEVENT, SDL_IGNORE);
    SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);
    // Without a window manager (SDL's framebuffer console, which marks its screen fullscreen
    // only when asked to) the picture is the whole display too, and SDL would draw its arrow
    // into every frame, mouse or none.
    const bool wholeDisplay =
        (screen->flags & SDL_FULLSCREEN) != 0 || SDL_GetVideoInfo()->wm_available == 0;
    if (wholeDisplay) SDL_ShowCursor(SDL_DISABLE);
    return screen;
}

}  // namespace

int main(int argc, char* argv[]) {
    (void)argc;
    // Runs started in the same second share their speeds, and so their whole animation.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const EffectParams params = drawEffectParams();
    // buildRingTable exits with status 1 if out of memory; the layout adds what this build's
    // pixel loop reads besides the table.
    const RingLayout ring = buildRingLayout(buildRingTable());

    // A panel that cannot switch to 320 x 200 shows the picture in its middle.
    keepFixedPanelMode();
    // A signal while SDL starts waits until SDL's shutdown can answer it; after SDL_Init,
    // SDL's shutdown is the exit hook, and the signals that would end the process without it
    // run it first (signals.h).
    holdSignals();
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        releaseSignals();
        return kStartupFailure;
    }
    std::atexit(restoreAndEnd);
    catchSignals(SDL_Quit);

    SDL_Surface* screen = openScreen(argv);
    if (screen == nullptr) return kStartupFailure;

    const FramePath path = chooseFramePath(SDL_GetVideoInfo(), screen);
    return runFrameLoop(screen, path, params, ring, RunClock::now());
}
