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
const char kTempName[] = ".ringwave-snapshot-XXXXXX";  // mkstemp's template, beside OUTPUT

// Why the image could not be written: a copy of SDL's or strerror's message (either may be
// overwritten by the next call), cut to fit.
struct FailureReason {
    char text[256];
};

void setReason(FailureReason* reason, const char* text) {
    std::snprintf(reason->text, sizeof reason->text, "%s", text);
}

// Renders the requested frame into an 8-bit surface with that frame's palette. Null, with
// SDL's message in *reason, if the surface cannot be made.
SDL_Surface* renderFrame(const SnapshotRequest& request, const RingLayout& ring,
                         FailureReason* reason) {
    std::srand(request.seed);
    const EffectParams params = drawEffectParams();
    const double t = static_cast<double>(request.frame);

    SDL_Surface* image =
        SDL_CreateRGBSurface(SDL_SWSURFACE, kScreenWidth, kScreenHeight, kScreenDepth, 0, 0, 0, 0);
    if (image == nullptr) {
        setReason(reason, SDL_GetError());
        return nullptr;
    }
    SDL_Color palette[kPaletteSize] = {};
    computePalette(t, params, palette);
    SDL_SetColors(image, palette, 0, kPaletteSize);
    SDL_LockSurface(image);
    // Drawn as the demo's frame loop draws it.
    composeFrame(t, params, ring, static_cast<std::uint8_t*>(image->pixels), image->pitch);
    SDL_UnlockSurface(image);
    return image;
}

// The temporary file's name template: output's folder part with its trailing slash (nothing
// for a bare file name) and kTempName, so that the temporary file lands in the same folder as
// the output and the rename never crosses file systems. Null when out of memory; the caller
// frees it.
char* tempNameBeside(const char* output) {
    const char* slash = std::strrchr(output, '/');
    const std::size_t folderLength =
        slash == nullptr ? 0 : static_cast<std::size_t>(slash + 1 - output);
    char* name = static_cast<char*>(std::malloc(folderLength + sizeof kTempName));
    if (name == nullptr) return nullptr;
    std::memcpy(name, output, folderLength);
    std::memcpy(name + folderLength, kTempName, sizeof kTempName);  // with its terminating zero
    return name;
}

// Writes the image as a BMP to the open file and closes it. False, with the reason, when SDL
// or any write or the final flush fails (a full disk shows only there).
bool writeBmp(SDL_Surface* image, int fd, FailureReason* reason) {
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        setReason(reason, std::strerror(errno));
        close(fd);
        return false;
    }
    SDL_RWops* stream = SDL_RWFromFP(file, 0);
    bool ok = stream != nullptr;
    if (ok) {
        SDL_ClearError();  // SDL_SaveBMP_RW reports failure through the error text
        ok = SDL_SaveBMP_RW(image, stream, 0) == 0;
        if (!ok) setReason(reason, SDL_GetError());
        SDL_FreeRW(stream);
    } else {
        setReason(reason, SDL_GetError());
    }
    // On disk before the rename makes it visible: whole even after a crash.
    errno = 0;
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file) && fsync(fileno(file)) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (ok && (!flushed || !closed)) {
        setReason(reason, std::strerror(flushErrno != 0 ? flushErrno : (errno != 0 ? errno : EIO)));
        ok = false;
    }
    return ok;
}

// Saves the image next to output under a temporary name and renames it over output, so that
// output appears whole or not at all. False, with the reason, on any failure; the temporary
// file is gone either way.
bool saveWhole(SDL_Surface* image, const char* output, FailureReason* reason) {
    char* temp = tempNameBeside(output);
    if (temp == nullptr) {
        setReason(reason, std::strerror(ENOMEM));
        return false;
    }
    bool saved = false;
    const int fd = mkstemp(temp);
    if (fd < 0) {
        setReason(reason, std::strerror(errno));
    } else {
        // mkstemp makes the file private; give it the mode any new file of this user gets.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        if (!writeBmp(image, fd, reason)) {
            unlink(temp);
        } else if (std::rename(temp, output) != 0) {
            setReason(reason, std::strerror(errno));
            unlink(temp);
        } else {
            saved = true;
        }
    }
    std::free(temp);
    return saved;
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
        std::fprintf(stderr, "Couldn't write %s: Out of memory\n", request.output);
        return kWriteFailure;
    }
    fillRingTable(table);
    const RingLayout ring = buildRingLayout(table);

    FailureReason reason{};
    SDL_Surface* image = renderFrame(request, ring, &reason);
    const bool saved = image != nullptr && saveWhole(image, request.output, &reason);
    if (image != nullptr) SDL_FreeSurface(image);
    std::free(ring.words);
    std::free(table);
    if (!saved) {
        std::fprintf(stderr, "Couldn't write %s: %s\n", request.output, reason.text);
        return kWriteFailure;
    }
    return 0;
}
