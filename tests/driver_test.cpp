#include <SDL_video.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fixed_panel.h"
#include "frame_loop.h"
#include "snapshot_args.h"
#include "video_flags.h"

namespace {

constexpr std::uint32_t kDefault = 0x20000000u;  // hardware palette only
constexpr std::uint32_t kAll = 0xE0000001u;

// Builds a null-terminated argv from the words, the program name first.
std::uint32_t flagsFor(std::vector<std::string> words) {
    std::vector<char*> argv;
    std::string name = "ringwave";
    argv.push_back(&name[0]);
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return parseVideoFlags(argv.data());
}

}  // namespace

TEST(VideoFlags, DefaultsToHardwarePalette) {
    EXPECT_EQ(kDefault, flagsFor({}));
    EXPECT_EQ(kDefault, static_cast<std::uint32_t>(SDL_HWPALETTE));
}

TEST(VideoFlags, EachWordAddsItsFlag) {
    EXPECT_EQ(kDefault | 0x80000000u, flagsFor({"-fullscreen"}));
    EXPECT_EQ(kDefault | 0x00000001u, flagsFor({"-hw"}));
    EXPECT_EQ(kDefault | 0x40000000u, flagsFor({"-flip"}));
}

TEST(VideoFlags, AnyOrderAndRepeats) {
    EXPECT_EQ(kAll, flagsFor({"-flip", "-hw", "-fullscreen"}));
    EXPECT_EQ(kAll, flagsFor({"-hw", "-hw", "-fullscreen", "-flip", "-fullscreen", "-flip"}));
    EXPECT_EQ(kAll, flagsFor({"junk", "-fullscreen", "", "-hw", "x", "-flip"}));
}

// Only the exact words count: case, extra dashes, trailing characters, prefixes, empty,
// very long and non-UTF-8 words are ignored.
TEST(VideoFlags, ExactWordsOnly) {
    const std::vector<std::string> near = {
        "-FULLSCREEN",
        "-Fullscreen",
        "--fullscreen",
        "-fullscreen ",
        "-fullscreenx",
        "-HW",
        "--hw",
        "-hw=1",
        "hw",
        "-h",
        "-Flip",
        "--flip",
        "-flip\n",
        "flip",
        "-fullscree",
        "-",
        "",
        std::string(100000, 'a'),
        std::string(5000, '-') + "hw",
        "-hw\xff",
        "\xc3\x28-flip",
        "-fl\x80ip",
    };
    for (const std::string& word : near) {
        EXPECT_EQ(kDefault, flagsFor({word})) << "word of length " << word.size();
    }
}

// The program name is never taken as a word, even when it looks like one.
TEST(VideoFlags, ProgramNameSkipped) {
    std::string name = "-hw";
    char* argv[] = {&name[0], nullptr};
    EXPECT_EQ(kDefault, parseVideoFlags(argv));
    char* empty[] = {nullptr};
    EXPECT_EQ(kDefault, parseVideoFlags(empty));
}

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

TEST(SnapshotArgs, AcceptsSeedFrameOutput) {
    const char* argv[] = {"ringwave-snapshot", "4294967295", "9007199254740992", "out.bmp"};
    SnapshotRequest request{};
    ASSERT_EQ(SnapshotCommand::kSnapshot, parseSnapshotArgs(4, argv, &request));
    EXPECT_EQ(4294967295u, request.seed);
    EXPECT_EQ(9007199254740992ull, request.frame);
    EXPECT_STREQ("out.bmp", request.output);

    const char* smallest[] = {"ringwave-snapshot", "0", "1", "a.bmp"};
    ASSERT_EQ(SnapshotCommand::kSnapshot, parseSnapshotArgs(4, smallest, &request));
    EXPECT_EQ(0u, request.seed);
    EXPECT_EQ(1u, request.frame);
}

TEST(SnapshotArgs, RejectsEverythingElse) {
    const std::vector<std::vector<const char*>> bad = {
        {"s"},
        {"s", "1", "1"},
        {"s", "1", "1", "o.bmp", "extra"},
        {"s", "4294967296", "1", "o.bmp"},
        {"s", "1", "0", "o.bmp"},
        {"s", "1", "9007199254740993", "o.bmp"},
        {"s", "1", "99999999999999999999999", "o.bmp"},
        {"s", "-1", "1", "o.bmp"},
        {"s", "+1", "1", "o.bmp"},
        {"s", "1", "-5", "o.bmp"},
        {"s", " 1", "1", "o.bmp"},
        {"s", "1x", "1", "o.bmp"},
        {"s", "0x10", "1", "o.bmp"},
        {"s", "", "1", "o.bmp"},
        {"s", "1", "1.5", "o.bmp"},
        {"s", "1", "1e3", "o.bmp"},
        {"s", "1", "1", ""},
        {"s", "--help", "1", "o.bmp"},
    };
    for (const auto& words : bad) {
        SnapshotRequest request{};
        EXPECT_EQ(SnapshotCommand::kUsageError,
                  parseSnapshotArgs(static_cast<int>(words.size()), words.data(), &request))
            << words.size() << " words, second: " << (words.size() > 1 ? words[1] : "");
    }
    const char* help[] = {"s", "--help"};
    SnapshotRequest request{};
    EXPECT_EQ(SnapshotCommand::kHelp, parseSnapshotArgs(2, help, &request));
}

// The kernel's DRM framebuffer emulation names itself "<driver>drmfb", in a field of 16
// characters that need not end in a null; framebuffers that really switch modes do not.
TEST(FixedPanel, KnowsTheDrmEmulationById) {
    EXPECT_TRUE(isFixedPanelId("pl111drmfb", 16));
    EXPECT_TRUE(isFixedPanelId("virtio_gpudrmfb", 16));
    const char full[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                           'i', 'j', 'k', 'd', 'r', 'm', 'f', 'b'};  // no null
    EXPECT_TRUE(isFixedPanelId(full, sizeof full));
    EXPECT_FALSE(isFixedPanelId("CLCD FB", 16));
    EXPECT_FALSE(isFixedPanelId("", 16));
    EXPECT_FALSE(isFixedPanelId("drmfb ", 16));
    EXPECT_FALSE(isFixedPanelId("rmfb", 16));
    EXPECT_FALSE(isFixedPanelId("pl111drmfb", 9));  // the suffix lies past the field
}

// SDL's framebuffer console turns its shadow for its four words only, exactly as written; an
// empty value means no shadow, and anything else is SDL's error, not a turned panel.
TEST(FixedPanel, KnowsTheTurningsByName) {
    for (const char* turning : {"NONE", "CW", "CCW", "UD"}) EXPECT_TRUE(isTurnedPanel(turning));
    for (const char* other : {"", "cw", "CW ", "C", "CCW2", "UD\n", "270"}) {
        EXPECT_FALSE(isTurnedPanel(other)) << '"' << other << '"';
    }
    EXPECT_FALSE(isTurnedPanel(nullptr));
}

// A panel SDL turns never switches modes, whatever its framebuffer: ringwave asks SDL to keep
// its mode (and centre the picture) without looking at the framebuffer, unless the user said
// otherwise or another driver runs.
TEST(FixedPanel, KeepsTheModeOfATurnedPanel) {
    struct Case {
        const char* rotation;
        const char* driver;
        const char* brokenModes;  // the user's own
        const char* expected;
    };
    const Case cases[] = {
        {"CW", "fbcon", nullptr, "1"},  {"UD", nullptr, nullptr, "1"},
        {"NONE", "fbcon", nullptr, "1"}, {"CCW", "fbcon", "0", "0"},
        {"CW", "dummy", nullptr, nullptr}, {"", "fbcon", nullptr, nullptr},
        {"sideways", "fbcon", nullptr, nullptr},
    };
    const char* const names[] = {"SDL_FBDEV", "SDL_VIDEO_FBCON_ROTATION", "SDL_VIDEODRIVER",
                                 "SDL_FB_BROKEN_MODES"};
    std::vector<std::pair<const char*, std::string>> saved;  // the test run's own, put back
    for (const char* name : names) {
        if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
    }
    for (const Case& c : cases) {
        for (const char* name : names) unsetenv(name);
        setenv("SDL_FBDEV", "/nonexistent/fb0", 1);  // no framebuffer to look at
        setenv("SDL_VIDEO_FBCON_ROTATION", c.rotation, 1);
        if (c.driver != nullptr) setenv("SDL_VIDEODRIVER", c.driver, 1);
        if (c.brokenModes != nullptr) setenv("SDL_FB_BROKEN_MODES", c.brokenModes, 1);
        keepFixedPanelMode();
        const char* kept = std::getenv("SDL_FB_BROKEN_MODES");
        EXPECT_EQ(std::string(c.expected ? c.expected : "(unset)"),
                  std::string(kept ? kept : "(unset)"))
            << c.rotation << " on " << (c.driver ? c.driver : "(no driver named)");
    }
    for (const char* name : names) unsetenv(name);
    for (const auto& value : saved) setenv(value.first, value.second.c_str(), 1);
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
