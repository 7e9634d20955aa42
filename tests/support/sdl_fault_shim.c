/* Test-only interposer, loaded with LD_PRELOAD in front of ringwave and SDL: it records
 * what the program asks of SDL and of the heap, and can make start-up steps or locks fail.
 * ringwave itself knows nothing of it.
 *
 *   RWSHIM_REPORT=path            write the counters there at exit, one "name value" a line
 *   RWSHIM_FAIL_TABLE_ALLOC=1     the 256,000-byte allocation returns null
 *   RWSHIM_FAIL_VIDEOMODE=1       SDL_SetVideoMode returns null with an error text
 *   RWSHIM_FAIL_LOCK=1            every lock inside the frame loop returns -1
 * Locks and unlocks are counted inside the frame loop only (from the first peek on).
 *   RWSHIM_STOP_AFTER_POLLS=N     peek N and later report a pending event
 * The report also gives the order of the first frame's calls (frame_order: C for the
 * palette, L lock, U unlock, F flip) and how many later frames called in another order.
 */
#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* old, size_t size);

enum { kTableBytes = 256000 };

static struct {
    long sdlInit, sdlQuit, polls, setColors, setColorsOther, locks, lockFailures, unlocks, flips;
    long loopAllocs, inLoop;
    unsigned long videoFlags;
    long videoCalls;
    long orderMismatches;
} counters;

/* The calls of the frame in progress and of the first frame, one letter a call. */
enum { kOrderLength = 16 };
static char frameOrder[kOrderLength + 1];
static char firstOrder[kOrderLength + 1];

static void noteCall(char call) {
    size_t length = strlen(frameOrder);
    if (counters.inLoop && length < kOrderLength) frameOrder[length] = call;
}

/* A peek ends the frame before it. */
static void endFrame(void) {
    if (frameOrder[0] == '\0') return;
    if (firstOrder[0] == '\0') {
        memcpy(firstOrder, frameOrder, sizeof firstOrder);
    } else if (strcmp(firstOrder, frameOrder) != 0) {
        counters.orderMismatches++;
    }
    memset(frameOrder, 0, sizeof frameOrder);
}

static long envNumber(const char* name) {
    const char* value = getenv(name);
    return value != NULL ? atol(value) : 0;
}

static void* nextSymbol(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

void* malloc(size_t size) {
    if (size == kTableBytes && envNumber("RWSHIM_FAIL_TABLE_ALLOC")) return NULL;
    if (counters.inLoop) counters.loopAllocs++;
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    if (counters.inLoop) counters.loopAllocs++;
    return __libc_calloc(count, size);
}

void* realloc(void* old, size_t size) {
    if (counters.inLoop) counters.loopAllocs++;
    return __libc_realloc(old, size);
}

int SDL_Init(Uint32 flags) {
    counters.sdlInit++;
    int (*real)(Uint32) = (int (*)(Uint32))nextSymbol("SDL_Init");
    return real(flags);
}

void SDL_Quit(void) {
    counters.sdlQuit++;
    void (*real)(void) = (void (*)(void))nextSymbol("SDL_Quit");
    real();
}

SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags) {
    counters.videoCalls++;
    counters.videoFlags = flags;
    if (envNumber("RWSHIM_FAIL_VIDEOMODE")) {
        SDL_SetError("injected video mode failure");
        return NULL;
    }
    SDL_Surface* (*real)(int, int, int, Uint32) =
        (SDL_Surface * (*)(int, int, int, Uint32)) nextSymbol("SDL_SetVideoMode");
    return real(width, height, bpp, flags);
}

int SDL_PollEvent(SDL_Event* event) {
    int (*real)(SDL_Event*) = (int (*)(SDL_Event*))nextSymbol("SDL_PollEvent");
    /* Only the program's own peek (no event record) counts; SDL drains its queue itself. */
    if (event != NULL) return real(event);
    counters.polls++;
    endFrame();
    long stopAfter = envNumber("RWSHIM_STOP_AFTER_POLLS");
    int pending = (stopAfter > 0 && counters.polls >= stopAfter) ? 1 : real(NULL);
    counters.inLoop = !pending;
    return pending;
}

int SDL_SetColors(SDL_Surface* surface, SDL_Color* colors, int first, int count) {
    noteCall('C');
    if (first == 0 && count == 256) {
        counters.setColors++;
    } else {
        counters.setColorsOther++;
    }
    int (*real)(SDL_Surface*, SDL_Color*, int, int) =
        (int (*)(SDL_Surface*, SDL_Color*, int, int))nextSymbol("SDL_SetColors");
    return real(surface, colors, first, count);
}

int SDL_LockSurface(SDL_Surface* surface) {
    int (*real)(SDL_Surface*) = (int (*)(SDL_Surface*))nextSymbol("SDL_LockSurface");
    if (!counters.inLoop) return real(surface); /* SDL's own, while setting the mode */
    counters.locks++;
    noteCall('L');
    if (envNumber("RWSHIM_FAIL_LOCK")) {
        counters.lockFailures++;
        return -1;
    }
    return real(surface);
}

void SDL_UnlockSurface(SDL_Surface* surface) {
    if (counters.inLoop) counters.unlocks++;
    noteCall('U');
    void (*real)(SDL_Surface*) = (void (*)(SDL_Surface*))nextSymbol("SDL_UnlockSurface");
    real(surface);
}

int SDL_Flip(SDL_Surface* surface) {
    counters.flips++;
    noteCall('F');
    int (*real)(SDL_Surface*) = (int (*)(SDL_Surface*))nextSymbol("SDL_Flip");
    return real(surface);
}

__attribute__((destructor)) static void writeReport(void) {
    const char* path = getenv("RWSHIM_REPORT");
    if (path == NULL) return;
    endFrame();
    char text[1024];
    int length =
        snprintf(text, sizeof text,
                 "sdl_init %ld\nsdl_quit %ld\nvideo_calls %ld\nvideo_flags 0x%08lx\n"
                 "polls %ld\nset_colors %ld\nset_colors_other %ld\nlocks %ld\n"
                 "lock_failures %ld\nunlocks %ld\nflips %ld\nloop_allocs %ld\n"
                 "frame_order %s\norder_mismatches %ld\n",
                 counters.sdlInit, counters.sdlQuit, counters.videoCalls, counters.videoFlags,
                 counters.polls, counters.setColors, counters.setColorsOther, counters.locks,
                 counters.lockFailures, counters.unlocks, counters.flips, counters.loopAllocs,
                 firstOrder[0] != '\0' ? firstOrder : "-", counters.orderMismatches);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (write(fd, text, (size_t)length) != length) perror("shim report");
    close(fd);
}
