// Test-only: ties a screenshot of the ringwave window to the effect and to ringwave-snapshot.
//
//   frame_check find SEED MAXFRAME SCREEN.ppm
//       Searches frames 1 .. MAXFRAME of the run seeded with SEED for the one on the screen.
//       Prints "FRAME PALETTE_FRAME" for the first frame whose pixels, shown in the palette
//       of the same frame or of the next one, give the screenshot colour for colour. The next
//       frame's palette is accepted because setting it redisplays the pixels already on
//       screen: between the palette and the flip of frame n + 1, frame n shows in new colours.
//   frame_check screen SCREEN.ppm PIXELS.bmp PALETTE.bmp
//       Checks that every screenshot pixel is the colour that PALETTE.bmp's palette gives
//       PIXELS.bmp's index at the same place (two ringwave-snapshot files).
//
// Exit status 0 when found or equal, 1 when not, 2 on a bad command line or unreadable file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "effect/compositor.h"
#include "effect/effect_params.h"
#include "effect/palette.h"
#include "effect/ring_table.h"
#include "image_files.h"

namespace {

constexpr int kPixels = kScreenWidth * kScreenHeight;

bool sameColour(const std::uint8_t* rgb, const SDL_Color& colour) {
    return rgb[0] == colour.r && rgb[1] == colour.g && rgb[2] == colour.b;
}

// True when the indices, looked up in the palette, give the screenshot exactly.
bool showsAs(const RgbImage& screen, const std::uint8_t* indices, const SDL_Color* palette) {
    for (int p = 0; p < kPixels; ++p) {
        if (!sameColour(&screen.rgb[3 * p], palette[indices[p]])) return false;
    }
    return true;
}

bool sameOrigins(const LayerOrigin* a, const LayerOrigin* b) {
    for (int k = 0; k < kLayerCount; ++k) {
        if (a[k].x0 != b[k].x0 || a[k].y0 != b[k].y0) return false;
    }
    return true;
}

int findFrame(std::uint32_t seed, std::uint64_t maxFrame, const RgbImage& screen) {
    std::srand(seed);
    const EffectParams params = drawEffectParams();
    std::unique_ptr<RingTable> table(new RingTable);
    fillRingTable(table.get());
    const RingLayout ring{table.get(), nullptr};  // the pixels are the same with word copies

    std::vector<std::uint8_t> pixels(kPixels);
    SDL_Color palette[kPaletteSize] = {};
    SDL_Color nextPalette[kPaletteSize] = {};
    LayerOrigin drawn[kLayerCount] = {};
    bool haveDrawn = false;
    computePalette(1.0, params, nextPalette);
    for (std::uint64_t frame = 1; frame <= maxFrame; ++frame) {
        const double t = static_cast<double>(frame);
        std::memcpy(palette, nextPalette, sizeof palette);
        computePalette(t + 1.0, params, nextPalette);
        // Layers drift slowly: many frames share their origins, and so their pixels.
        LayerOrigin origins[kLayerCount];
        computeLayerOrigins(t, params, origins);
        if (!haveDrawn || !sameOrigins(origins, drawn)) {
            composeFrame(t, params, ring, pixels.data(), kScreenWidth);
            std::memcpy(drawn, origins, sizeof drawn);
            haveDrawn = true;
        }
        const std::uint8_t* first = &screen.rgb[0];
        const bool ownPalette = sameColour(first, palette[pixels[0]]);
        const bool nextPaletteMatches = sameColour(first, nextPalette[pixels[0]]);
        if (ownPalette && showsAs(screen, pixels.data(), palette)) {
            std::printf("%llu %llu\n", static_cast<unsigned long long>(frame),
                        static_cast<unsigned long long>(frame));
            return 0;
        }
        if (nextPaletteMatches && showsAs(screen, pixels.data(), nextPalette)) {
            std::printf("%llu %llu\n", static_cast<unsigned long long>(frame),
                        static_cast<unsigned long long>(frame + 1));
            return 0;
        }
    }
    std::fprintf(stderr, "frame_check: no frame up to %llu shows as the screenshot\n",
                 static_cast<unsigned long long>(maxFrame));
    return 1;
}

int compareWithSnapshots(const RgbImage& screen, const IndexedImage& pixels,
                         const IndexedImage& colours) {
    if (pixels.width != kScreenWidth || pixels.height != kScreenHeight ||
        colours.palette.size() != static_cast<std::size_t>(kPaletteSize)) {
        std::fprintf(stderr, "frame_check: snapshot files are not 320 x 200 x 256 colours\n");
        return 1;
    }
    int differing = 0;
    for (int p = 0; p < kPixels; ++p) {
        differing += !sameColour(&screen.rgb[3 * p], colours.palette[pixels.indices[p]]);
    }
    if (differing != 0) {
        std::fprintf(stderr, "frame_check: %d of %d pixels differ\n", differing, kPixels);
        return 1;
    }
    return 0;
}

bool readScreen(const char* path, RgbImage* screen) {
    std::string why;
    if (!readPpm(path, screen, &why)) {
        std::fprintf(stderr, "frame_check: %s\n", why.c_str());
        return false;
    }
    if (screen->width != kScreenWidth || screen->height != kScreenHeight) {
        std::fprintf(stderr, "frame_check: screenshot is %d x %d, not 320 x 200\n", screen->width,
                     screen->height);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    RgbImage screen;
    if (argc == 5 && std::strcmp(argv[1], "find") == 0) {
        const std::uint32_t seed = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
        const std::uint64_t maxFrame = std::strtoull(argv[3], nullptr, 10);
        if (!readScreen(argv[4], &screen)) return 2;
        return findFrame(seed, maxFrame, screen);
    }
    if (argc == 5 && std::strcmp(argv[1], "screen") == 0) {
        IndexedImage pixels, colours;
        std::string why;
        if (!readScreen(argv[2], &screen)) return 2;
        if (!readIndexedBmp(argv[3], &pixels, &why) || !readIndexedBmp(argv[4], &colours, &why)) {
            std::fprintf(stderr, "frame_check: %s\n", why.c_str());
            return 2;
        }
        return compareWithSnapshots(screen, pixels, colours);
    }
    std::fputs(
        "usage: frame_check find SEED MAXFRAME SCREEN.ppm\n"
        "       frame_check screen SCREEN.ppm PIXELS.bmp PALETTE.bmp\n",
        stderr);
    return 2;
}
