#include "effect/palette.h"

#include <gtest/gtest.h>

namespace {

EffectParams equalColourSpeeds(double speed) {
    EffectParams params{};
    for (double& s : params.colourSpeed) s = speed;
    return params;
}

}  // namespace

// At t = 0 every phase is 0: entry 0 is sin 0, entry 64 sits on the trough (u = 1.5 pi),
// entry 128 back on sin 3 pi.
TEST(Palette, ZeroPhase) {
    SDL_Color palette[kPaletteSize];
    computePalette(0.0, equalColourSpeeds(0.001), palette);
    for (int i : {0, 128}) {
        EXPECT_EQ(127, palette[i].r) << i;
        EXPECT_EQ(127, palette[i].g) << i;
        EXPECT_EQ(127, palette[i].b) << i;
    }
    EXPECT_EQ(0, palette[64].r);
    EXPECT_EQ(0, palette[64].g);
    EXPECT_EQ(0, palette[64].b);
}

// Speeds 0.001 at t = 100: red's phase is 0.1 pi^2, green's and blue's 0.1 pi, so red moves
// pi times faster. Values worked out by hand from the formula and checked in Python.
TEST(Palette, RedCarriesPiTwice) {
    SDL_Color palette[kPaletteSize];
    computePalette(100.0, equalColourSpeeds(0.001), palette);
    struct Entry {
        int index, r, g, b;
    } const expected[] = {{0, 232, 166, 166}, {64, 56, 6, 6}, {128, 21, 87, 87},
                          {255, 227, 157, 157}};
    for (const Entry& e : expected) {
        EXPECT_EQ(e.r, palette[e.index].r) << e.index;
        EXPECT_EQ(e.g, palette[e.index].g) << e.index;
        EXPECT_EQ(e.b, palette[e.index].b) << e.index;
    }
}

// Each channel follows its own speed: changing green's speed leaves red and blue alone.
TEST(Palette, ChannelsAreIndependent) {
    EffectParams params = equalColourSpeeds(0.002);
    SDL_Color before[kPaletteSize], after[kPaletteSize];
    computePalette(777.0, params, before);
    params.colourSpeed[1] = 0.003;
    computePalette(777.0, params, after);
    int greenChanged = 0;
    for (int i = 0; i < kPaletteSize; ++i) {
        EXPECT_EQ(before[i].r, after[i].r);
        EXPECT_EQ(before[i].b, after[i].b);
        greenChanged += before[i].g != after[i].g;
    }
    EXPECT_GT(greenChanged, 0);
}

// No channel reaches 255 for any speed or time, and the fourth byte is never written.
TEST(Palette, BytesStayBelow255AndSkipFourthByte) {
    SDL_Color palette[kPaletteSize];
    for (int step = 1; step <= 1000; step += 37) {
        const EffectParams params = equalColourSpeeds(step / 300000.0);
        for (double t : {1.0, 2.0, 1000.0, 123456.0, 2147483647.0, 9007199254740992.0}) {
            for (SDL_Color& c : palette) c.unused = 0xA5;
            computePalette(t, params, palette);
            for (const SDL_Color& c : palette) {
                ASSERT_LE(c.r, 254);
                ASSERT_LE(c.g, 254);
                ASSERT_LE(c.b, 254);
                ASSERT_EQ(0xA5, c.unused);
            }
        }
    }
}
