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
#include "video_flags.h"

namespace {

constexpr int kStartupFailure = 1;
constexpr int kScreenDepth = 8;  // bits per pixel: palette indices

// Sets the 320 x 200 x 8 mode with the flags the command line chose, drops focus and
// mouse-motion events so that they never end the run, and hides SDL's pointer over a
// fullscreen picture: one SDL_FULLSCREEN asked for, or any screen of a driver without a window
// manager (a framebuffer console is the whole display, but SDL's fbcon driver reports
// SDL_FULLSCREEN only when asked for it; without this SDL draws its arrow into every frame).
// Null (with SDL's message printed) when the mode cannot be set.
SDL_Surface* openScreen(char* const argv[]) {
    const std::uint32_t flags = parseVideoFlags(argv);
    SDL_Surface* screen = SDL_SetVideoMode(kScreenWidth, kScreenHeight, kScreenDepth, flags);
    if (screen == nullptr) {
        std::fprintf(stderr, "Couldn't initialize video mode: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_EventState(SDL_ACTIVEEVENT, SDL_IGNORE);
    SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    const bool windowed = info != nullptr && info->wm_available != 0;
    if ((screen->flags & SDL_FULLSCREEN) != 0 || !windowed) SDL_ShowCursor(SDL_DISABLE);
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
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        return kStartupFailure;
    }
    std::atexit(SDL_Quit);

    SDL_Surface* screen = openScreen(argv);
    if (screen == nullptr) return kStartupFailure;

    const FramePath path = chooseFramePath(SDL_GetVideoInfo(), screen);
    return runFrameLoop(screen, path, params, ring, RunClock::now());
}
