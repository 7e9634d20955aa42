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
//   frame_check device SEED MAXFRAME SCREEN.ppm
//       As find, for a dump of a device's framebuffer console, whose colour LCD controller
//       keeps 5 bits of each channel (colours compare as v & 0xF8). Besides a whole frame
//       shown in its own palette or the next one, it accepts exactly the states an update
//       passes through, caught half done (see paletteHalfSet and pixelsHalfCopied), and it
//       ignores SDL's software mouse cursor, drawn at the top left corner. Prints
//       "cursor PIXELS FRAME HOW", PIXELS being how many pixels of the cursor's box show none
//       of the frame's colours.
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

// The speeds a run seeded with seed draws, and the ring table it fills.
EffectParams startRun(std::uint32_t seed, std::unique_ptr<RingTable>* table) {
    std::srand(seed);
    const EffectParams params = drawEffectParams();
    table->reset(new RingTable);
    fillRingTable(table->get());
    return params;
}

int findFrame(std::uint32_t seed, std::uint64_t maxFrame, const RgbImage& screen) {
    std::unique_ptr<RingTable> table;
    const EffectParams params = startRun(seed, &table);
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

// The device's display keeps the top 5 bits of each 8-bit channel.
constexpr std::uint8_t kDisplayBits = 0xF8;

// SDL's software cursor: the arrow of its default cursor, whose hot spot is its top left
// corner, drawn over the frame where the pointer is: at (0, 0) when no mouse moves it.
constexpr int kCursorWidth = 11;
constexpr int kCursorHeight = 16;

bool inCursor(int p) {
    return p % kScreenWidth < kCursorWidth && p / kScreenWidth < kCursorHeight;
}

bool sameOnDisplay(const std::uint8_t* rgb, const SDL_Color& colour) {
    return (rgb[0] & kDisplayBits) == (colour.r & kDisplayBits) &&
           (rgb[1] & kDisplayBits) == (colour.g & kDisplayBits) &&
           (rgb[2] & kDisplayBits) == (colour.b & kDisplayBits);
}

// The states of the display between frame n and frame n + 1, in the order the frame loop
// goes through them:
// - palette half set: SDL writes the 256 entries in order, so entries below some k show
//   frame n + 1's colours and the others still frame n's, over frame n's pixels
//   (k = 0: frame n as drawn; k = 256: frame n in the next palette);
// - pixels half copied: in the next palette, the pixels before some position (in address
//   order, rows top to bottom) are frame n + 1's and the others still frame n's; SDL's
//   shadow copy and the drawing into the framebuffer both go in address order.
// Each test collects, pixel by pixel, the bounds the split point must lie in.
bool paletteHalfSet(const RgbImage& screen, const std::uint8_t* pixels, const SDL_Color* palette,
                    const SDL_Color* nextPalette, int* split) {
    int lowest = 0, highest = kPaletteSize;
    for (int p = 0; p < kPixels; ++p) {
        if (inCursor(p)) continue;
        const std::uint8_t index = pixels[p];
        const bool old = sameOnDisplay(&screen.rgb[3 * p], palette[index]);
        const bool next = sameOnDisplay(&screen.rgb[3 * p], nextPalette[index]);
        if (!old && !next) return false;
        if (!old && index + 1 > lowest) lowest = index + 1;
        if (!next && index < highest) highest = index;
        if (lowest > highest) return false;
    }
    *split = lowest;
    return true;
}

bool pixelsHalfCopied(const RgbImage& screen, const std::uint8_t* pixels,
                      const std::uint8_t* nextPixels, const SDL_Color* nextPalette, int* split) {
    int lowest = 0, highest = kPixels;
    for (int p = 0; p < kPixels; ++p) {
        if (inCursor(p)) continue;
        const bool old = sameOnDisplay(&screen.rgb[3 * p], nextPalette[pixels[p]]);
        const bool next = sameOnDisplay(&screen.rgb[3 * p], nextPalette[nextPixels[p]]);
        if (!old && !next) return false;
        if (!old && p + 1 > lowest) lowest = p + 1;
        if (!next && p < highest) highest = p;
        if (lowest > highest) return false;
    }
    *split = lowest;
    return true;
}

// Pixels of the cursor's box that none of the frame's colours give: those the cursor covers.
int cursorPixels(const RgbImage& screen, const std::uint8_t* pixels, const std::uint8_t* nextPixels,
                 const SDL_Color* palette, const SDL_Color* nextPalette) {
    int covered = 0;
    for (int p = 0; p < kPixels; ++p) {
        if (!inCursor(p)) continue;
        const std::uint8_t* rgb = &screen.rgb[3 * p];
        covered += !sameOnDisplay(rgb, palette[pixels[p]]) &&
                   !sameOnDisplay(rgb, nextPalette[pixels[p]]) &&
                   !sameOnDisplay(rgb, nextPalette[nextPixels[p]]);
    }
    return covered;
}

int findDeviceFrame(std::uint32_t seed, std::uint64_t maxFrame, const RgbImage& screen) {
    std::unique_ptr<RingTable> table;
    const EffectParams params = startRun(seed, &table);
    const RingLayout ring{table.get(), nullptr};  // the pixels are the same with word copies

    std::vector<std::uint8_t> pixels(kPixels), nextPixels(kPixels);
    SDL_Color palette[kPaletteSize] = {};
    SDL_Color nextPalette[kPaletteSize] = {};
    computePalette(1.0, params, nextPalette);
    composeFrame(1.0, params, ring, nextPixels.data(), kScreenWidth);
    for (std::uint64_t frame = 1; frame <= maxFrame; ++frame) {
        const double t = static_cast<double>(frame);
        std::memcpy(palette, nextPalette, sizeof palette);
        computePalette(t + 1.0, params, nextPalette);
        pixels.swap(nextPixels);
        composeFrame(t + 1.0, params, ring, nextPixels.data(), kScreenWidth);
        const unsigned long long n = frame;
        int split = 0;
        const bool halfSet = paletteHalfSet(screen, pixels.data(), palette, nextPalette, &split);
        // A split at the end is frame n + 1 whole, found as such on the next pass.
        const bool halfCopied =
            !halfSet &&
            pixelsHalfCopied(screen, pixels.data(), nextPixels.data(), nextPalette, &split) &&
            split < kPixels;
        if (halfSet || halfCopied) {
            std::printf("cursor %d ", cursorPixels(screen, pixels.data(), nextPixels.data(),
                                                   palette, nextPalette));
        }
        if (halfSet) {
            if (split == 0) {
                std::printf("%llu in its own palette\n", n);
            } else if (split == kPaletteSize) {
                std::printf("%llu in the palette of %llu\n", n, n + 1);
            } else {
                std::printf("%llu in the palette of %llu below entry %d, its own above\n", n, n + 1,
                            split);
            }
            return 0;
        }
        if (halfCopied) {
            std::printf("%llu in the palette of %llu, its pixels before %d (row %d) of %llu\n", n,
                        n + 1, split, split / kScreenWidth, n + 1);
            return 0;
        }
    }
    std::fprintf(stderr, "frame_check: no frame up to %llu is on the display\n",
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
    const bool device = argc == 5 && std::strcmp(argv[1], "device") == 0;
    if (device || (argc == 5 && std::strcmp(argv[1], "find") == 0)) {
        const std::uint32_t seed = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
        const std::uint64_t maxFrame = std::strtoull(argv[3], nullptr, 10);
        if (!readScreen(argv[4], &screen)) return 2;
        return device ? findDeviceFrame(seed, maxFrame, screen) : findFrame(seed, maxFrame, screen);
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
        "       frame_check device SEED MAXFRAME SCREEN.ppm\n"
        "       frame_check screen SCREEN.ppm PIXELS.bmp PALETTE.bmp\n",
        stderr);
    return 2;
}
