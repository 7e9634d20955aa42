/* Test-only: SDL's conversion of 8-bit surfaces into 16- and 32-bit ones, written to standard
 * output as raw bytes. Built twice, against the device's SDL with the project's patches and
 * against the same SDL without them (tests/e2e/sdl_blit_check.sh compares the two outputs byte
 * for byte). The cases come from a fixed pseudo-random sequence, so both builds see the same
 * palettes, pixels, widths, pitches and start offsets of source and destination.
 *   sdl_blit_dump [CASES]
 * Each case writes a header line, then the whole destination buffer, the bytes around the
 * converted rectangle included (so stores outside it show too), after two blits: one with a
 * palette, then one with a new palette into the same surfaces (SDL rebuilds its colour map). */
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RANDOM_CASES_SEED 20240601u
#include "random_cases.h"

/* A destination pixel format. */
struct Format {
    int bits;
    Uint32 red, green, blue, alpha; /* masks */
};
static const struct Format kFormats[] = {
    {16, 0xf800, 0x07e0, 0x001f, 0},                 /* RGB565: the versatilepb panel */
    {16, 0x7c00, 0x03e0, 0x001f, 0},                 /* RGB555 */
    {16, 0x001f, 0x07e0, 0xf800, 0},                 /* BGR565 */
    {32, 0xff0000, 0x00ff00, 0x0000ff, 0},           /* XRGB8888: the virtio panel */
    {32, 0x0000ff, 0x00ff00, 0xff0000, 0},           /* XBGR8888 */
    {32, 0xff0000, 0x00ff00, 0x0000ff, 0xff000000u}, /* ARGB8888: alpha from the source */
};
enum { kFormatCount = sizeof kFormats / sizeof kFormats[0] };
enum {
    kMaxWidth = 340, /* widest source and destination surface, pixels */
    kMaxHeight = 4,  /* rows */
    kMaxSlack = 9,   /* extra bytes at the end of a row (any pitch) */
    kBufferSize = 4 + kMaxHeight * (kMaxWidth * 4 + kMaxSlack) + 64,
};

/* Widths that matter to a loop taking 16 pixels at a time: short rows, a multiple of 16 and
 * its neighbours, and the program's own row of 320 pixels. */
static int pickWidth(void) {
    switch (below(4)) {
        case 0:
            return 1 + below(40);
        case 1:
            return 16 * (1 + below(6)) - 1 + below(3);
        case 2:
            return 320;
        default:
            return 1 + below(kMaxWidth - 16);
    }
}

/* The destination's first byte past an aligned buffer: mostly offsets the ARM loops take
 * (word-aligned, and 2 bytes past a word for 16-bit pixels), sometimes any. */
static int pickOffset(int bytesPerPixel) {
    if (below(8) == 0) return below(4);
    return bytesPerPixel == 2 ? 2 * below(2) : 0;
}

static Uint32 srcStore[kBufferSize / 4 + 1]; /* word-aligned storage */
static Uint32 dstStore[kBufferSize / 4 + 1];

/* One case: returns 0, or 1 after a message when SDL refused a step. */
static int runCase(int index) {
    Uint8 *srcBuffer = (Uint8*)srcStore, *dstBuffer = (Uint8*)dstStore;
    const struct Format* format = &kFormats[below(kFormatCount)];
    const int bytesPerPixel = format->bits / 8;
    const int width = pickWidth(), height = 1 + below(kMaxHeight);
    const int srcWidth = width + below(kMaxWidth - width + 1);
    const int srcX = below(srcWidth - width + 1);
    const int srcPitch = srcWidth + below(kMaxSlack);
    const int srcOffset = below(4);
    const int dstWidth = width + below(kMaxWidth - width + 1);
    const int dstX = below(dstWidth - width + 1);
    const int dstPitch =
        dstWidth * bytesPerPixel + (below(4) == 0 ? below(kMaxSlack) : bytesPerPixel * below(3));
    const int dstOffset = pickOffset(bytesPerPixel);
    const int dstBytes = dstOffset + dstPitch * height + 16;

    for (int i = 0; i < kBufferSize; ++i) {
        srcBuffer[i] = (Uint8)below(256);
        dstBuffer[i] = (Uint8)below(256);
    }
    SDL_Surface* src =
        SDL_CreateRGBSurfaceFrom(srcBuffer + srcOffset, srcWidth, height, 8, srcPitch, 0, 0, 0, 0);
    SDL_Surface* dst =
        SDL_CreateRGBSurfaceFrom(dstBuffer + dstOffset, dstWidth, height, format->bits, dstPitch,
                                 format->red, format->green, format->blue, format->alpha);
    if (src == NULL || dst == NULL) {
        fprintf(stderr, "case %d: no surface: %s\n", index, SDL_GetError());
        return 1;
    }
    printf(
        "\ncase %d: %d bits %08lx/%08lx/%08lx/%08lx, %d x %d, source x %d of %d pitch %d "
        "offset %d, destination x %d of %d pitch %d offset %d\n",
        index, format->bits, (unsigned long)format->red, (unsigned long)format->green,
        (unsigned long)format->blue, (unsigned long)format->alpha, width, height, srcX, srcWidth,
        srcPitch, srcOffset, dstX, dstWidth, dstPitch, dstOffset);
    for (int pass = 0; pass < 2; ++pass) {
        SDL_Color colors[256];
        randomPalette(colors);
        SDL_SetColors(src, colors, 0, 256);
        SDL_Rect from = {(Sint16)srcX, 0, (Uint16)width, (Uint16)height};
        SDL_Rect to = {(Sint16)dstX, 0, 0, 0};
        if (SDL_BlitSurface(src, &from, dst, &to) != 0) {
            fprintf(stderr, "case %d: blit failed: %s\n", index, SDL_GetError());
            return 1;
        }
        fwrite(dstBuffer, 1, (size_t)dstBytes, stdout);
    }
    SDL_FreeSurface(src);
    SDL_FreeSurface(dst);
    return 0;
}

int main(int argc, char** argv) {
    const int cases = argc > 1 ? atoi(argv[1]) : 3000;
    for (int i = 0; i < cases; ++i) {
        if (runCase(i) != 0) return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
