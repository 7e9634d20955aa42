#include "video_flags.h"

#include <SDL_video.h>

#include <cstring>

namespace {

// One command-line word and the flag it adds, tested in this order.
struct FlagWord {
    const char* word;
    std::uint32_t flag;
};

constexpr FlagWord kFlagWords[] = {
    {"-fullscreen", SDL_FULLSCREEN},
    {"-hw", SDL_HWSURFACE},
    {"-flip", SDL_DOUBLEBUF},
};

}  // namespace

std::uint32_t parseVideoFlags(char* const argv[]) {
    std::uint32_t flags = SDL_HWPALETTE;
    if (argv[0] == nullptr) return flags;
    for (char* const* arg = argv + 1; *arg != nullptr; ++arg) {
        for (const FlagWord& known : kFlagWords) {
            if (std::strcmp(*arg, known.word) == 0) flags |= known.flag;
        }
    }
    return flags;
}
