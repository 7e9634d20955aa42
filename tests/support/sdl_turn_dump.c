/* Test-only: what the device SDL's framebuffer console puts on a panel mounted turned
 * (SDL_VIDEO_FBCON_ROTATION), written to standard output as raw bytes, one way per MODE:
 *   driver     the driver's own path through its test hook: SDL's 8-bit shadow on a 16- or
 *              32-bit panel converted and turned in one pass; on an 8-bit panel the driver's
 *              8-bit screen turned
 *   twostep    SDL's conversion into a screen of the panel's depth, then the driver's turning
 *              of that screen through the hook (for 16 bits SDL's own turning loops)
 *   reference  SDL's conversion, then a plain turn written here, pixel by pixel
 *   sdl_turn_dump MODE [CASES]
 * Built against the device's SDL with the project's patches (every mode) and against the same
 * SDL without them (reference only, -DTURN_REFERENCE_ONLY); tests/e2e/sdl_turn_check.sh
 * compares the outputs byte for byte. The cases come from a fixed pseudo-random sequence, so
 * every build and mode sees the same palettes, pixels, rotations, sizes, pitches and offsets.
 * Each case writes a header line, then the whole panel buffer, the bytes around the turned
 * rectangle included (stores outside it show too), after each of two updates: one with a
 * palette, then one with a new palette (SDL rebuilds its colour map). */
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RANDOM_CASES_SEED 20261209u
#include "random_cases.h"

#ifndef TURN_REFERENCE_ONLY
/* The patched SDL's test hook (src/video/fbcon/SDL_fbvideo.c): shows the rectangle rect of src
 * on the panel at fb (fb_pitch bytes a row) as the driver does for a screen of screen's format
 * and (turned) size, turned by rotation ("NONE", "CW", "CCW", "UD"). src is screen itself (the
 * driver's own shadow, pitch screen->w pixels, rect in its coordinates) or an 8-bit surface
 * shown at (x, y) of the screen (rect in src's coordinates). 0, or -1 with SDL's error. */
extern int SDL_FB_TestUpdate(SDL_Surface* src, SDL_Rect* rect, SDL_Surface* screen, int x, int y,
                             const char* rotation, Uint8* fb, int fb_pitch);
#endif

/* A panel's pixel format. */
struct Format {
    int bits;
    Uint32 red, green, blue; /* masks */
};
static const struct Format kFormats[] = {
    {8, 0, 0, 0},                        /* palettised */
    {16, 0xf800, 0x07e0, 0x001f},        /* RGB565: the pl111 panel */
    {16, 0x001f, 0x07e0, 0xf800},        /* BGR565 */
    {16, 0x7c00, 0x03e0, 0x001f},        /* RGB555 */
    {32, 0xff0000, 0x00ff00, 0x0000ff},  /* XRGB8888: the virtio panel */
    {32, 0x0000ff, 0x00ff00, 0xff0000},  /* XBGR8888 */
};
enum { kFormatCount = sizeof kFormats / sizeof kFormats[0] };
static const char* const kRotations[] = {"NONE", "CW", "CCW", "UD"};
enum {
    kMaxSide = 130, /* the widest and tallest screen, pixels */
    kMaxSlack = 9,  /* extra bytes at the end of a row */
    kPanelBytes = 4 + kMaxSide * (kMaxSide * 4 + kMaxSlack) + 64,
    kSourceBytes = 4 + kMaxSide * (kMaxSide + kMaxSlack) + 64,
};

/* Sides that matter to loops taking 16 pixels at a time: short ones, multiples of 16 and
 * their neighbours, any. */
static int pickSide(void) {
    switch (below(3)) {
        case 0:
            return 1 + below(24);
        case 1:
            return 16 * (1 + below(8)) - 1 + below(3);
        default:
            return 1 + below(kMaxSide);
    }
}

static Uint32 sourceStore[kSourceBytes / 4 + 1]; /* word-aligned storage */
static Uint32 screenStore[kMaxSide * kMaxSide + 1];
static Uint32 panelStore[kPanelBytes / 4 + 1];

/* One case's geometry: the 8-bit source (SDL's shadow) at (x, y) of the screen (the turned
 * size the driver offers), the rectangle updated, and the panel's buffer. */
struct Case {
    const struct Format* format;
    const char* rotation;
    int turned; /* CW or CCW: the panel's rows are the screen's columns */
    int screenW, screenH, x, y;
    int srcW, srcH, srcPitch, srcOffset;
    SDL_Rect rect; /* in the source's coordinates */
    int panelW, panelH, panelPitch, panelOffset, panelBytes;
};

static struct Case pickCase(void) {
    struct Case c;
    c.format = &kFormats[below(kFormatCount)];
    c.rotation = kRotations[below(4)];
    c.turned = c.rotation[0] == 'C';
    c.screenW = pickSide();
    c.screenH = pickSide();
    c.srcW = below(4) == 0 ? c.screenW : 1 + below(c.screenW);
    c.srcH = below(4) == 0 ? c.screenH : 1 + below(c.screenH);
    c.x = below(c.screenW - c.srcW + 1);
    c.y = below(c.screenH - c.srcH + 1);
    c.srcPitch = c.srcW + below(kMaxSlack);
    c.srcOffset = below(4);
    if (below(3) == 0) {
        c.rect.x = 0, c.rect.y = 0, c.rect.w = (Uint16)c.srcW, c.rect.h = (Uint16)c.srcH;
    } else {
        c.rect.w = (Uint16)(1 + below(c.srcW));
        c.rect.h = (Uint16)(1 + below(c.srcH));
        c.rect.x = (Sint16)below(c.srcW - c.rect.w + 1);
        c.rect.y = (Sint16)below(c.srcH - c.rect.h + 1);
    }
    const int bytesPerPixel = c.format->bits / 8;
    c.panelW = c.turned ? c.screenH : c.screenW;
    c.panelH = c.turned ? c.screenW : c.screenH;
    c.panelPitch = c.panelW * bytesPerPixel +
                   (below(4) == 0 ? below(kMaxSlack) : bytesPerPixel * below(3));
    /* Mostly offsets the ARM loops take (a word, or 2 bytes past one for 16 bits), some any. */
    c.panelOffset = below(6) == 0 ? below(4) : (bytesPerPixel == 2 ? 2 * below(2) : 0);
    c.panelBytes = c.panelOffset + c.panelPitch * c.panelH + 16;
    return c;
}

/* Where a pixel (X, Y) of the screen lands on the panel, as the framebuffer console turns. */
static void panelPoint(const struct Case* c, int X, int Y, int* px, int* py) {
    switch (c->rotation[1]) {
        case 'O': /* NONE */
            *px = X, *py = Y;
            break;
        case 'W': /* CW: the screen's top row down the panel's right column */
            *px = c->screenH - 1 - Y, *py = X;
            break;
        case 'C': /* CCW: the screen's top row up the panel's left column */
            *px = Y, *py = c->screenW - 1 - X;
            break;
        default: /* UD */
            *px = c->screenW - 1 - X, *py = c->screenH - 1 - Y;
            break;
    }
}

/* The screen's pixels of the rectangle (the source's, converted to the panel's depth by SDL,
 * or copied on an 8-bit panel) placed on the panel pixel by pixel. */
static void plainTurn(const struct Case* c, const SDL_Surface* screen, Uint8* panel) {
    const int bytesPerPixel = c->format->bits / 8;
    for (int j = 0; j < c->rect.h; ++j) {
        for (int i = 0; i < c->rect.w; ++i) {
            const int X = c->x + c->rect.x + i, Y = c->y + c->rect.y + j;
            int px, py;
            panelPoint(c, X, Y, &px, &py);
            memcpy(panel + py * c->panelPitch + px * bytesPerPixel,
                   (const Uint8*)screen->pixels + Y * screen->pitch + X * bytesPerPixel,
                   (size_t)bytesPerPixel);
        }
    }
}

/* The source's rectangle into the screen at its place: SDL's conversion, or on an 8-bit panel
 * the indices themselves (the driver's screen is the program's own 8-bit surface). */
static int fillScreen(const struct Case* c, SDL_Surface* src, SDL_Surface* screen) {
    if (c->format->bits == 8) {
        for (int j = 0; j < c->rect.h; ++j) {
            memcpy((Uint8*)screen->pixels + (c->y + c->rect.y + j) * screen->pitch + c->x +
                       c->rect.x,
                   (const Uint8*)src->pixels + (c->rect.y + j) * src->pitch + c->rect.x,
                   c->rect.w);
        }
        return 0;
    }
    SDL_Rect from = c->rect;
    SDL_Rect to = {(Sint16)(c->x + c->rect.x), (Sint16)(c->y + c->rect.y), 0, 0};
    return SDL_BlitSurface(src, &from, screen, &to);
}

/* One update of the panel in MODE; 0, or 1 after a message. */
static int update(const char* mode, const struct Case* c, SDL_Surface* src, SDL_Surface* screen,
                  Uint8* panel) {
    if (strcmp(mode, "reference") == 0) {
        if (fillScreen(c, src, screen) != 0) return 1;
        plainTurn(c, screen, panel);
        return 0;
    }
#ifndef TURN_REFERENCE_ONLY
    SDL_Rect rect = c->rect;
    if (strcmp(mode, "driver") == 0 && c->format->bits != 8) {
        return SDL_FB_TestUpdate(src, &rect, screen, c->x, c->y, c->rotation, panel,
                                 c->panelPitch) != 0;
    }
    if (strcmp(mode, "driver") == 0 || strcmp(mode, "twostep") == 0) {
        if (fillScreen(c, src, screen) != 0) return 1;
        rect.x = (Sint16)(rect.x + c->x);
        rect.y = (Sint16)(rect.y + c->y);
        return SDL_FB_TestUpdate(screen, &rect, screen, 0, 0, c->rotation, panel,
                                 c->panelPitch) != 0;
    }
#endif
    fprintf(stderr, "unknown mode '%s'\n", mode);
    return 1;
}

static int runCase(const char* mode, int index) {
    const struct Case c = pickCase();
    Uint8* srcBuffer = (Uint8*)sourceStore;
    Uint8* panelBuffer = (Uint8*)panelStore;
    Uint8* panel = panelBuffer + c.panelOffset;
    for (int i = 0; i < kSourceBytes; ++i) srcBuffer[i] = (Uint8)below(256);
    for (int i = 0; i < kPanelBytes; ++i) panelBuffer[i] = (Uint8)below(256);
    memset(screenStore, 0, sizeof screenStore);
    const int bits = c.format->bits;
    SDL_Surface* src = SDL_CreateRGBSurfaceFrom(srcBuffer + c.srcOffset, c.srcW, c.srcH, 8,
                                                c.srcPitch, 0, 0, 0, 0);
    /* The driver's screen: the turned size, rows of exactly its width. */
    SDL_Surface* screen =
        SDL_CreateRGBSurfaceFrom(screenStore, c.screenW, c.screenH, bits,
                                 c.screenW * bits / 8, c.format->red, c.format->green,
                                 c.format->blue, 0);
    if (src == NULL || screen == NULL) {
        fprintf(stderr, "case %d: no surface: %s\n", index, SDL_GetError());
        return 1;
    }
    printf(
        "\ncase %d: %s, %d bits %06lx/%06lx/%06lx, screen %d x %d, source %d x %d at %d,%d "
        "pitch %d offset %d, rectangle %d,%d %d x %d, panel pitch %d offset %d\n",
        index, c.rotation, bits, (unsigned long)c.format->red, (unsigned long)c.format->green,
        (unsigned long)c.format->blue, c.screenW, c.screenH, c.srcW, c.srcH, c.x, c.y,
        c.srcPitch, c.srcOffset, c.rect.x, c.rect.y, c.rect.w, c.rect.h, c.panelPitch,
        c.panelOffset);
    for (int pass = 0; pass < 2; ++pass) {
        SDL_Color colors[256];
        randomPalette(colors);
        SDL_SetColors(src, colors, 0, 256);
        if (update(mode, &c, src, screen, panel) != 0) {
            fprintf(stderr, "case %d: update failed: %s\n", index, SDL_GetError());
            return 1;
        }
        fwrite(panelBuffer, 1, (size_t)c.panelBytes, stdout);
    }
    SDL_FreeSurface(src);
    SDL_FreeSurface(screen);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: sdl_turn_dump driver|twostep|reference [CASES]\n");
        return 2;
    }
    const int cases = argc > 2 ? atoi(argv[2]) : 2000;
    for (int i = 0; i < cases; ++i) {
        if (runCase(argv[1], i) != 0) return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
