#include "video_flags.h"

#include <SDL_video.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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
