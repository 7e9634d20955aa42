#include "frame_loop.h"

#include <SDL_video.h>
#include <gtest/gtest.h>

#include <cmath>

// The rate is always finite and never negative: a run with no frames or no measured time
// reports 0, and long runs with more frames than 32 bits hold still divide correctly.
TEST(FrameRate, FiniteForEveryRun) {
    EXPECT_EQ(0.0, frameRate(0, 0.0));
    EXPECT_EQ(0.0, frameRate(0, 2.5));
    EXPECT_EQ(0.0, frameRate(10, 0.0));
    EXPECT_EQ(250.0, frameRate(500, 2.0));
    EXPECT_EQ(2000.0, frameRate(1, 0.0005));
    EXPECT_EQ(5e9, frameRate(5000000000LL, 1.0));
    EXPECT_TRUE(std::isfinite(frameRate(1, 1e-300)));
}

// A double-buffered display without a palette still needs its flip: the colours' hand-over
// converts the frame into the back buffer, which nothing else would show.
TEST(FramePath, ColoursLastOnlyWithoutAPalette) {
    SDL_Color colours[2] = {};
    SDL_Palette palette = {2, colours};
    SDL_PixelFormat indexed = {};
    indexed.palette = &palette;
    SDL_PixelFormat direct = {};
    SDL_VideoInfo info = {};
    SDL_Surface screen = {};

    info.vfmt = &indexed;
    for (Uint32 flags : {0u, static_cast<Uint32>(SDL_DOUBLEBUF)}) {
        screen.flags = flags;
        const FramePath path = chooseFramePath(&info, &screen);
        EXPECT_FALSE(path.coloursAfterDrawing);
        EXPECT_TRUE(path.flip);
    }
    info.vfmt = &direct;
    screen.flags = SDL_HWPALETTE | SDL_FULLSCREEN;
    FramePath path = chooseFramePath(&info, &screen);
    EXPECT_TRUE(path.coloursAfterDrawing);
    EXPECT_FALSE(path.flip);
    screen.flags |= SDL_DOUBLEBUF;
    path = chooseFramePath(&info, &screen);
    EXPECT_TRUE(path.coloursAfterDrawing);
    EXPECT_TRUE(path.flip);
}
