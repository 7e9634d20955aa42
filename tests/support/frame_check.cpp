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
//   frame_check device SEED MAXFRAME SCREEN.ppm [DISPLAY [TURN]]
//       As find, for a dump of a device's framebuffer console: a panel of at least 320 x 200
//       with the picture in its middle. DISPLAY says how the panel shows colours (see
//       Display): palette (the default: 8-bit palettised, 5 bits of each channel), rgb565 or
//       xrgb8888. Around the picture the panel holds what SDL cleared it to, zeros: black, or
//       on a palettised panel palette entry 0, shown in the palette the picture shows in.
//       Besides a whole frame, it accepts exactly the states an update passes through on
//       that display, caught half done (see paletteHalfSet and addressSplit). Every pixel
//       counts: nothing (no pointer) may cover the picture.
//       TURN (CW, CCW, UD; NONE the default) is how SDL turned the screen into the panel
//       (SDL_VIDEO_FBCON_ROTATION); SCREEN.ppm is then the dump turned back upright, and the
//       update went along the panel's rows (by blocks of them on a palettised panel turned a
//       quarter; see updateOrder). Prints "FRAME HOW".
//   frame_check picture SCREEN.ppm [DISPLAY]
//       Whether a device's screen dump shows a picture: not all one colour in the middle of
//       the panel, black around it, or on a palettised panel all one colour (as device
//       expects); for waiting until ringwave draws.
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
    const RingLayout ring = buildRingLayout(table.get());  // kept until the process ends

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

// How a device's display shows a colour, and how an update passes over it.
// - palette: 8 bits a pixel through the colour LCD controller's palette, which keeps the
//   top 5 bits of each 8-bit channel; SDL writes the palette registers in entry order.
// - rgb565: 16 bits a pixel, the top 5, 6 and 5 bits of red, green and blue; SDL converts
//   its 8-bit shadow into it.
// - xrgb8888: 32 bits a pixel, every bit of each channel; SDL converts as for rgb565.
struct Display {
    const char* name;
    std::uint8_t keep[3];  // the bits of red, green and blue that reach the screen
    bool palettised;
};
constexpr Display kDisplays[] = {
    {"palette", {0xF8, 0xF8, 0xF8}, true},
    {"rgb565", {0xF8, 0xFC, 0xF8}, false},
    {"xrgb8888", {0xFF, 0xFF, 0xFF}, false},
};

const Display* findDisplay(const char* name) {
    for (const Display& display : kDisplays) {
        if (std::strcmp(display.name, name) == 0) return &display;
    }
    return nullptr;
}

bool sameOnDisplay(const Display& display, const std::uint8_t* rgb, const SDL_Color& colour) {
    return (rgb[0] & display.keep[0]) == (colour.r & display.keep[0]) &&
           (rgb[1] & display.keep[1]) == (colour.g & display.keep[1]) &&
           (rgb[2] & display.keep[2]) == (colour.b & display.keep[2]);
}

// The states of the display between frame n and frame n + 1, in the order the frame loop
// goes through them. On a palettised display:
// - palette half set: SDL writes the 256 entries in order, so entries below some k show
//   frame n + 1's colours and the others still frame n's, over frame n's pixels
//   (k = 0: frame n as drawn; k = 256: frame n in the next palette);
// - pixels half copied: in the next palette, the rows above some row are frame n + 1's and
//   those below still frame n's, and in that row the pixels from its start or from its end
//   up to some column are frame n + 1's: SDL's shadow copy and the drawing into the
//   framebuffer go row by row from the top, the drawing from each row's start, the copy as
//   the C library's memcpy goes (uClibc-ng's copies from the end when the source lies below
//   the destination, as SDL's shadow lies below the mapped framebuffer).
// Where SDL converts its 8-bit shadow into the display's colours, the frame is drawn first
// and converted once, with its palette, row by row from the top:
// - conversion half done: as pixels half copied, frame n + 1 in its palette where rewritten,
//   frame n in its own elsewhere.
// Each test collects, pixel by pixel, the bounds the split must lie in. The surround, where
// the panel has one, counts as a pixel of index 0 that no update rewrites.
struct Surround {
    bool present = false;
    std::uint8_t rgb[3] = {};
};

bool paletteHalfSet(const Display& display, const RgbImage& screen, const std::uint8_t* pixels,
                    const SDL_Color* palette, const SDL_Color* nextPalette,
                    const Surround& surround, int* split) {
    int lowest = 0, highest = kPaletteSize;
    if (surround.present) {
        if (!sameOnDisplay(display, surround.rgb, palette[0])) lowest = 1;
        if (!sameOnDisplay(display, surround.rgb, nextPalette[0])) highest = 0;
        if (lowest > highest) return false;
    }
    for (int p = 0; p < kPixels; ++p) {
        const std::uint8_t index = pixels[p];
        const bool old = sameOnDisplay(display, &screen.rgb[3 * p], palette[index]);
        const bool next = sameOnDisplay(display, &screen.rgb[3 * p], nextPalette[index]);
        if (!old && !next) return false;
        if (!old && index + 1 > lowest) lowest = index + 1;
        if (!next && index < highest) highest = index;
        if (lowest > highest) return false;
    }
    *split = lowest;
    return true;
}

// The picture's pixels in the order an update writes them into the panel, each as its index
// in the picture, in rows: runs of pixels side by side on a row of the panel (the picture's
// own rows; on a panel turned a quarter, its columns), rows[r] .. rows[r + 1] - 1 of pixel.
struct UpdateOrder {
    std::vector<int> pixel;
    std::vector<int> rows;  // where each row begins in pixel, and pixel's end
};

// The side of the blocks SDL copies an 8-bit screen by into a panel turned a quarter: bands of
// this many panel rows from the top, in each the blocks from the left, each row by row.
constexpr int kTurnBlock = 32;

// The order on a panel SDL turned by turn: NONE; UD, the picture's rows from the bottom, each
// from its end; CW, its columns from the left, each from the bottom; CCW, its columns from the
// right, each from the top; whole rows of the panel, or with blocked, the quarter turns by
// blocks (an 8-bit panel: SDL's turning copy; a 16- or 32-bit panel converts whole rows).
// False for another word.
bool updateOrder(const char* turn, bool blocked, UpdateOrder* order) {
    const bool quarter = std::strcmp(turn, "CW") == 0 || std::strcmp(turn, "CCW") == 0;
    if (!quarter && std::strcmp(turn, "UD") != 0 && std::strcmp(turn, "NONE") != 0) return false;
    // The picture on the panel: width x height panel pixels.
    const int width = quarter ? kScreenHeight : kScreenWidth;
    const int height = quarter ? kScreenWidth : kScreenHeight;
    const int block = quarter && blocked ? kTurnBlock : width;
    order->pixel.clear();
    order->rows.clear();
    for (int band = 0; band < height; band += block) {
        for (int left = 0; left < width; left += block) {
            for (int row = band; row < band + block && row < height; ++row) {
                order->rows.push_back(static_cast<int>(order->pixel.size()));
                for (int i = left; i < left + block && i < width; ++i) {
                    int x = i, y = row;  // NONE
                    if (std::strcmp(turn, "UD") == 0) {
                        x = kScreenWidth - 1 - i, y = kScreenHeight - 1 - row;
                    } else if (std::strcmp(turn, "CW") == 0) {
                        x = row, y = kScreenHeight - 1 - i;
                    } else if (std::strcmp(turn, "CCW") == 0) {
                        x = kScreenWidth - 1 - row, y = i;
                    }
                    order->pixel.push_back(y * kScreenWidth + x);
                }
            }
        }
    }
    order->rows.push_back(static_cast<int>(order->pixel.size()));
    return true;
}

int orderRows(const UpdateOrder& order) {
    return static_cast<int>(order.rows.size()) - 1;
}

// Where an update that rewrites the picture row by row has got to: rows above row are
// rewritten, those below not, and in row the columns before column (fromEnd false) or from
// column on (fromEnd true); rows and columns of the update's order. Row orderRows(order): all
// rewritten.
struct RowSplit {
    int row = 0;
    int column = 0;
    bool fromEnd = false;
};

// Pixels half copied (oldPalette == nextPalette) or conversion half done.
bool addressSplit(const Display& display, const UpdateOrder& order, const RgbImage& screen,
                  const std::uint8_t* pixels, const SDL_Color* oldPalette,
                  const std::uint8_t* nextPixels, const SDL_Color* nextPalette, RowSplit* split) {
    const int rows = orderRows(order);
    *split = RowSplit{rows, 0, false};
    for (int y = 0; y < rows; ++y) {
        const int* row = &order.pixel[order.rows[y]];
        const int rowLength = order.rows[y + 1] - order.rows[y];
        // Rewritten from the row's start up to a column c: c > lastNotOld, c <= firstNotNext;
        // from c to the row's end: c > lastNotNext, c <= firstNotOld.
        int lastNotOld = -1, firstNotOld = rowLength;
        int lastNotNext = -1, firstNotNext = rowLength;
        for (int x = 0; x < rowLength; ++x) {
            const int p = row[x];
            const bool old = sameOnDisplay(display, &screen.rgb[3 * p], oldPalette[pixels[p]]);
            const bool next =
                sameOnDisplay(display, &screen.rgb[3 * p], nextPalette[nextPixels[p]]);
            if (!old && !next) return false;
            if (!old) {
                lastNotOld = x;
                if (firstNotOld == rowLength) firstNotOld = x;
            }
            if (!next) {
                lastNotNext = x;
                if (firstNotNext == rowLength) firstNotNext = x;
            }
        }
        const bool rowNew = lastNotNext < 0;
        const bool rowOld = lastNotOld < 0;
        if (split->row == rows) {
            // Still in the rewritten rows: this row is rewritten too, or the split is here.
            if (rowNew) continue;
            if (lastNotOld < firstNotNext) {
                *split = RowSplit{y, lastNotOld + 1, false};
            } else if (lastNotNext < firstNotOld) {
                *split = RowSplit{y, lastNotNext + 1, true};
            } else {
                return false;
            }
        } else if (!rowOld) {
            return false;
        }
    }
    return true;
}

int findDeviceFrame(const Display& display, const UpdateOrder& order, std::uint32_t seed,
                    std::uint64_t maxFrame, const RgbImage& screen, const Surround& surround) {
    std::unique_ptr<RingTable> table;
    const EffectParams params = startRun(seed, &table);
    const RingLayout ring = buildRingLayout(table.get());  // kept until the process ends

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
        const bool halfSet =
            display.palettised &&
            paletteHalfSet(display, screen, pixels.data(), palette, nextPalette, surround, &split);
        // All rows rewritten is frame n + 1 whole, found as such on the next pass. Meanwhile a
        // palettised panel's surround shows the next palette's entry 0; another's is black.
        const SDL_Color* oldPalette = display.palettised ? nextPalette : palette;
        const bool surroundNext = !display.palettised || !surround.present ||
                                  sameOnDisplay(display, surround.rgb, nextPalette[0]);
        RowSplit rows;
        const bool halfCopied = !halfSet && surroundNext &&
                                addressSplit(display, order, screen, pixels.data(), oldPalette,
                                             nextPixels.data(), nextPalette, &rows) &&
                                rows.row < orderRows(order);
        char where[96];
        std::snprintf(where, sizeof where, "the rows above %d and in row %d the columns %s %d",
                      rows.row, rows.row, rows.fromEnd ? "from" : "before", rows.column);
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
        if (halfCopied && display.palettised) {
            std::printf("%llu in the palette of %llu, %s of %llu\n", n, n + 1, where, n + 1);
            return 0;
        }
        if (halfCopied) {
            if (rows.row == 0 && rows.column == 0) {
                std::printf("%llu in its own palette\n", n);
            } else {
                std::printf("%llu in its own palette, %s %llu in its own\n", n, where, n + 1);
            }
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

// A device's panel may be larger than the picture: SDL then shows the picture in its middle
// (the offsets rounded down), the rest as SDL cleared it, zeros: black, or on a palettised
// panel palette entry 0, whatever colour that is. Cuts the picture out of the panel and
// gives the surround's colour; false, with the reason in *why, when the surround is not black
// (palettised: not all one colour).
bool cutCentred(const RgbImage& panel, bool palettised, RgbImage* picture, Surround* surround,
                std::string* why) {
    const int left = (panel.width - kScreenWidth) / 2;
    const int top = (panel.height - kScreenHeight) / 2;
    picture->width = kScreenWidth;
    picture->height = kScreenHeight;
    picture->rgb.assign(3 * kPixels, 0);
    for (int y = 0; y < panel.height; ++y) {
        for (int x = 0; x < panel.width; ++x) {
            const std::uint8_t* rgb = &panel.rgb[3 * (y * panel.width + x)];
            const int px = x - left, py = y - top;
            if (px >= 0 && px < kScreenWidth && py >= 0 && py < kScreenHeight) {
                std::memcpy(&picture->rgb[3 * (py * kScreenWidth + px)], rgb, 3);
                continue;
            }
            if (!surround->present && palettised) std::memcpy(surround->rgb, rgb, 3);
            surround->present = true;
            if (std::memcmp(rgb, surround->rgb, 3) != 0) {
                *why = std::string("the panel is not ") +
                       (palettised ? "all one colour" : "black") + " at (" + std::to_string(x) +
                       ", " + std::to_string(y) + "), outside the picture in its middle";
                return false;
            }
        }
    }
    return true;
}

// A device's screen dump: a panel of at least 320 x 200, the picture in its middle. Returns
// 0 with the picture and its surround, 1 when the surround is not as cutCentred wants it, 2
// when unreadable or smaller.
int readPanel(const char* path, const Display& display, RgbImage* picture, Surround* surround) {
    RgbImage panel;
    std::string why;
    if (!readPpm(path, &panel, &why)) {
        std::fprintf(stderr, "frame_check: %s\n", why.c_str());
        return 2;
    }
    if (panel.width < kScreenWidth || panel.height < kScreenHeight) {
        std::fprintf(stderr, "frame_check: screen dump is %d x %d, smaller than 320 x 200\n",
                     panel.width, panel.height);
        return 2;
    }
    if (!cutCentred(panel, display.palettised, picture, surround, &why)) {
        std::fprintf(stderr, "frame_check: %s\n", why.c_str());
        return 1;
    }
    return 0;
}

// Something drawn in the middle of the panel, the surround as SDL cleared it: the picture has
// at least two colours. (A screen SDL has just cleared, or the text console, is no picture.)
int showsPicture(const RgbImage& picture) {
    for (int p = 1; p < kPixels; ++p) {
        if (std::memcmp(&picture.rgb[3 * p], &picture.rgb[0], 3) != 0) return 0;
    }
    std::fprintf(stderr, "frame_check: the middle of the panel is all one colour\n");
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    RgbImage screen;
    if (argc >= 5 && argc <= 7 && std::strcmp(argv[1], "device") == 0) {
        const Display* display = findDisplay(argc >= 6 ? argv[5] : "palette");
        if (display == nullptr) {
            std::fprintf(stderr, "frame_check: no display '%s'\n", argv[5]);
            return 2;
        }
        UpdateOrder order;
        if (!updateOrder(argc == 7 ? argv[6] : "NONE", display->palettised, &order)) {
            std::fprintf(stderr, "frame_check: no turn '%s'\n", argv[6]);
            return 2;
        }
        const std::uint32_t seed = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
        const std::uint64_t maxFrame = std::strtoull(argv[3], nullptr, 10);
        Surround surround;
        const int status = readPanel(argv[4], *display, &screen, &surround);
        if (status != 0) return status;
        return findDeviceFrame(*display, order, seed, maxFrame, screen, surround);
    }
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "picture") == 0) {
        const Display* display = findDisplay(argc == 4 ? argv[3] : "xrgb8888");
        if (display == nullptr) {
            std::fprintf(stderr, "frame_check: no display '%s'\n", argv[3]);
            return 2;
        }
        Surround surround;
        const int status = readPanel(argv[2], *display, &screen, &surround);
        return status != 0 ? status : showsPicture(screen);
    }
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
        "       frame_check device SEED MAXFRAME SCREEN.ppm [palette|rgb565|xrgb8888 "
        "[NONE|CW|CCW|UD]]\n"
        "       frame_check picture SCREEN.ppm [palette|rgb565|xrgb8888]\n"
        "       frame_check screen SCREEN.ppm PIXELS.bmp PALETTE.bmp\n",
        stderr);
    return 2;
}
