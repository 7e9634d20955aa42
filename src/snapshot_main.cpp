// ringwave-snapshot: writes one frame of a ringwave run, pixels and palette, as an 8-bit BMP.
// The same effect code as the demo computes it, so a run started at second SEED showed
// exactly this picture at frame FRAME.

#include <SDL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "effect/compositor.h"
#include "effect/effect_params.h"
#include "effect/palette.h"
#include "effect/ring_table.h"
#include "snapshot_args.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kWriteFailure = 1;
constexpr int kScreenDepth = 8;
const char kUsage[] = "usage: ringwave-snapshot SEED FRAME OUTPUT.bmp\n";

// Renders the requested frame into an 8-bit surface with that frame's palette. Null, with
// SDL's message in *reason, if the surface cannot be made.
SDL_Surface* renderFrame(const SnapshotRequest& request, const RingTable& table,
                         const RingWords* words, std::string* reason) {
    std::srand(request.seed);
    const EffectParams params = drawEffectParams();
    const double t = static_cast<double>(request.frame);

    SDL_Surface* image = SDL_CreateRGBSurface(SDL_SWSURFACE, kScreenWidth, kScreenHeight,
                                              kScreenDepth, 0, 0, 0, 0);
    if (image == nullptr) {
        *reason = SDL_GetError();
        return nullptr;
    }
    SDL_Color palette[kPaletteSize] = {};
    computePalette(t, params, palette);
    SDL_SetColors(image, palette, 0, kPaletteSize);
    SDL_LockSurface(image);
    // From the word copies when there are some, as the demo's frame loop does.
    std::uint8_t* pixels = static_cast<std::uint8_t*>(image->pixels);
    if (words != nullptr) {
        composeFrame(t, params, *words, pixels, image->pitch);
    } else {
        composeFrame(t, params, table, pixels, image->pitch);
    }
    SDL_UnlockSurface(image);
    return image;
}

// Saves the image next to output under a temporary name and renames it over output, so that
// output appears whole or not at all. False, with the reason, on any failure; the temporary
// file is gone either way.
bool saveWhole(SDL_Surface* image, const char* output, std::string* reason) {
    std::string temp = std::string(output) + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode any new file of this user gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    if (SDL_SaveBMP(image, temp.c_str()) != 0) {
        *reason = SDL_GetError();
        unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), output) != 0) {
        *reason = std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    SnapshotRequest request{};
    switch (parseSnapshotArgs(argc, argv, &request)) {
        case SnapshotCommand::kHelp:
            std::fputs(kUsage, stdout);
            return 0;
        case SnapshotCommand::kUsageError:
            std::fputs(kUsage, stderr);
            return kUsageStatus;
        case SnapshotCommand::kSnapshot:
            break;
    }

    RingTable* table = static_cast<RingTable*>(std::malloc(sizeof(RingTable)));
    if (table == nullptr) {
        std::fputs("Out of memory\n", stderr);
        return kWriteFailure;
    }
    fillRingTable(table);
    RingWords* words = buildRingWords(*table);

    std::string reason;
    SDL_Surface* image = renderFrame(request, *table, words, &reason);
    const bool saved = image != nullptr && saveWhole(image, request.output, &reason);
    if (image != nullptr) SDL_FreeSurface(image);
    std::free(words);
    std::free(table);
    if (!saved) {
        std::fprintf(stderr, "Couldn't write %s: %s\n", request.output, reason.c_str());
        return kWriteFailure;
    }
    return 0;
}
