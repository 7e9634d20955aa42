/* Test-only interposer, loaded with LD_PRELOAD in front of ringwave and SDL: it records
 * what the program asks of SDL and of the heap, and can make start-up steps or locks fail.
 * ringwave itself knows nothing of it.
 *
 *   RWSHIM_REPORT=path            write the counters there at exit, one "name value" a line
 *   RWSHIM_FAIL_TABLE_ALLOC=1     the 256,000-byte allocation returns null
 *   RWSHIM_FAIL_VIDEOMODE=1       SDL_SetVideoMode returns null with an error text
 *   RWSHIM_FAIL_LOCK=1            every lock inside the frame loop returns -1
 *   RWSHIM_STOP_AFTER_POLLS=N     the program's peek N and later report a pending event
 *   RWSHIM_PUSH="A[-B]:T,T,... ..."  before the program's peek A (each of peeks A to B),
 *                                 queue events of the SDL event types T with SDL_PushEvent
 *   RWSHIM_RAISE=PLACE:N          raise signal N once, as the program's own code would
 *                                 (raise): at the table's allocation ("table"), inside
 *                                 SDL_Init ("init"), SDL_SetVideoMode ("mode") or SDL_Quit
 *                                 ("quit") before SDL's own, or before the program's peek K
 *                                 ("peekK")
 * The program's peek is an SDL_PeepEvents(..., SDL_PEEKEVENT, ...) called from the program's
 * own code; the frame loop is everything from the first such peek on. Locks and unlocks are
 * counted inside the frame loop only, and so are heap requests, told apart by who made them:
 * the program's own code (loop_allocs) or the libraries, SDL and what it runs on
 * (loop_allocs_library). At SDL_Quit it lists the event types still queued (queued_at_quit).
 * The report also names the SDL library that was loaded, lists every object the process has
 * loaded ("object PATH" lines: SDL 2 under sdl12-compat, and what they run on), and gives the
 * order of the first frame's calls (frame_order: C
 * for the palette, L lock, U unlock, F flip) and how many later frames called in another
 * order, and whose code answers SIGHUP, SIGINT and SIGTERM in the loop (quit_handlers:
 * program, library, default or ignored each). The report is written at SDL_Init and on entry to SDL_Quit too, so that a process
 * that a signal ends still leaves one: no report, SDL never touched.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE /* dladdr, dl_iterate_phdr */
#endif
#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* old, size_t size);

enum { kTableBytes = 256000 };

enum {
    kMaxSegments = 8, /* executable segments of the program kept */
    kMaxFrames = 24,  /* return addresses looked at per heap request */
};

static struct {
    long sdlInit, sdlQuit, polls, setColors, setColorsOther, locks, lockFailures, unlocks, flips;
    long loopAllocs, loopAllocsLibrary, inLoop, pushFailures;
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

/* The program's own code: the executable segments of the main program, which the loader
 * lists first. Filled at load time, before the program runs. */
static struct { uintptr_t start, end; } programText[kMaxSegments];
static int programSegments;

static int findProgramText(struct dl_phdr_info* info, size_t size, void* unused) {
    (void)size;
    (void)unused;
    for (int i = 0; i < info->dlpi_phnum && programSegments < kMaxSegments; ++i) {
        const ElfW(Phdr)* segment = &info->dlpi_phdr[i];
        if (segment->p_type != PT_LOAD || !(segment->p_flags & PF_X)) continue;
        programText[programSegments].start = info->dlpi_addr + segment->p_vaddr;
        programText[programSegments].end = programText[programSegments].start + segment->p_memsz;
        programSegments++;
    }
    return 1; /* the first object only */
}

/* A return address points just after its call, which may be the last byte of a function. */
static int inProgram(const void* returnAddress) {
    uintptr_t address = (uintptr_t)returnAddress - 1;
    for (int i = 0; i < programSegments; ++i) {
        if (address >= programText[i].start && address < programText[i].end) return 1;
    }
    return 0;
}

/* The shared objects of the C and C++ runtime, through which the program's own requests
 * reach malloc (operator new, strdup, a container growing), and this interposer itself. */
static const void* selfBase;

static int inRuntime(const void* returnAddress) {
    static const char* const kRuntimes[] = {"libc.so", "libstdc++.so", "libgcc_s.so", "libm.so"};
    Dl_info info;
    if (!dladdr((const char*)returnAddress - 1, &info) || info.dli_fname == NULL) return 0;
    if (info.dli_fbase == selfBase) return 1;
    const char* name = strrchr(info.dli_fname, '/');
    name = name != NULL ? name + 1 : info.dli_fname;
    for (size_t i = 0; i < sizeof kRuntimes / sizeof kRuntimes[0]; ++i) {
        if (strncmp(name, kRuntimes[i], strlen(kRuntimes[i])) == 0) return 1;
    }
    return 0;
}

/* Whether the heap request being served comes from the program: walking out from the
 * allocator, the first return address outside the runtime lies in the program's own code,
 * not in SDL or the libraries under it (SDL 2, X11, ...). */
static int programsRequest(void) {
    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    for (int i = 0; i < count; ++i) {
        if (inProgram(frames[i])) return 1;
        if (!inRuntime(frames[i])) return 0;
    }
    return 0;
}

/* Counts a heap request made inside the frame loop. The walk itself may ask for memory the
 * first time (the unwinder is loaded on demand); those requests are not counted. */
static __thread int walking;

static void countRequest(void) {
    if (!counters.inLoop || walking) return;
    walking = 1;
    long* counter = programsRequest() ? &counters.loopAllocs : &counters.loopAllocsLibrary;
    __atomic_fetch_add(counter, 1, __ATOMIC_RELAXED);
    walking = 0;
}

__attribute__((constructor)) static void findCode(void) {
    Dl_info info;
    if (dladdr((void*)&findCode, &info)) selfBase = info.dli_fbase;
    dl_iterate_phdr(findProgramText, NULL);
    void* frames[2];
    walking = 1;
    backtrace(frames, 2); /* loads the unwinder now, outside the loop */
    walking = 0;
}

/* RWSHIM_RAISE: the signal to raise at place, once. */
static void raiseAt(const char* place) {
    static int raised;
    const char* plan = getenv("RWSHIM_RAISE");
    const char* colon = plan != NULL ? strchr(plan, ':') : NULL;
    if (raised || colon == NULL) return;
    if ((size_t)(colon - plan) != strlen(place) || strncmp(plan, place, strlen(place)) != 0) return;
    raised = 1;
    raise(atoi(colon + 1));
}

static void writeReport(void);

void* malloc(size_t size) {
    if (size == kTableBytes) raiseAt("table");
    if (size == kTableBytes && envNumber("RWSHIM_FAIL_TABLE_ALLOC")) return NULL;
    countRequest();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    countRequest();
    return __libc_calloc(count, size);
}

void* realloc(void* old, size_t size) {
    countRequest();
    return __libc_realloc(old, size);
}

/* Event types left in SDL's queue when the program shuts SDL down, comma-separated. */
static char queuedAtQuit[512] = "none";

static void recordQueue(void) {
    int (*peep)(SDL_Event*, int, SDL_eventaction, Uint32) =
        (int (*)(SDL_Event*, int, SDL_eventaction, Uint32))nextSymbol("SDL_PeepEvents");
    SDL_Event queued[128];
    int count = peep(queued, 128, SDL_PEEKEVENT, SDL_ALLEVENTS);
    if (count <= 0) return;
    size_t used = 0;
    for (int i = 0; i < count && used + 8 < sizeof queuedAtQuit; ++i) {
        used += (size_t)snprintf(queuedAtQuit + used, sizeof queuedAtQuit - used, "%s%d",
                                 i > 0 ? "," : "", queued[i].type);
    }
}

int SDL_Init(Uint32 flags) {
    counters.sdlInit++;
    writeReport();
    raiseAt("init");
    int (*real)(Uint32) = (int (*)(Uint32))nextSymbol("SDL_Init");
    return real(flags);
}

void SDL_Quit(void) {
    counters.sdlQuit++;
    recordQueue();
    writeReport();
    raiseAt("quit");
    void (*real)(void) = (void (*)(void))nextSymbol("SDL_Quit");
    real();
    writeReport();
}

SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags) {
    counters.videoCalls++;
    counters.videoFlags = flags;
    raiseAt("mode");
    if (envNumber("RWSHIM_FAIL_VIDEOMODE")) {
        SDL_SetError("injected video mode failure");
        return NULL;
    }
    SDL_Surface* (*real)(int, int, int, Uint32) =
        (SDL_Surface * (*)(int, int, int, Uint32)) nextSymbol("SDL_SetVideoMode");
    return real(width, height, bpp, flags);
}

/* Queues the events RWSHIM_PUSH asks for before the program's peek number `peek`. */
static void pushEvents(long peek) {
    const char* plan = getenv("RWSHIM_PUSH");
    if (plan == NULL) return;
    while (*plan != '\0') {
        char* end;
        long first = strtol(plan, &end, 10);
        long last = first;
        if (*end == '-') last = strtol(end + 1, &end, 10);
        if (*end != ':') return; /* malformed: nothing more is pushed */
        do {
            long type = strtol(end + 1, &end, 10);
            if (peek >= first && peek <= last) {
                SDL_Event event;
                memset(&event, 0, sizeof event);
                event.type = (Uint8)type;
                /* SDL 1.2 copies a window-manager event's message when queueing it. */
                static SDL_SysWMmsg message;
                if (type == SDL_SYSWMEVENT) event.syswm.msg = &message;
                if (SDL_PushEvent(&event) != 0) counters.pushFailures++;
            }
        } while (*end == ',');
        while (*end == ' ') end++;
        plan = end;
    }
}

/* Whose code answers SIGHUP, SIGINT and SIGTERM once the frame loop runs: "program" (the
 * program's own handler), "library" (SDL's, or another library's), or "default". */
static char quitHandlers[48] = "-";

static void noteQuitHandlers(void) {
    const int quits[] = {SIGHUP, SIGINT, SIGTERM};
    size_t used = 0;
    for (size_t i = 0; i < sizeof quits / sizeof quits[0]; ++i) {
        struct sigaction now;
        const char* owner = "default";
        if (sigaction(quits[i], NULL, &now) == 0) {
            void* handler = (now.sa_flags & SA_SIGINFO) ? (void*)now.sa_sigaction
                                                        : (void*)now.sa_handler;
            if (now.sa_handler == SIG_IGN) {
                owner = "ignored";
            } else if (now.sa_handler != SIG_DFL) {
                owner = inProgram((const char*)handler + 1) ? "program" : "library";
            }
        }
        used += (size_t)snprintf(quitHandlers + used, sizeof quitHandlers - used, "%s%s",
                                 i > 0 ? "," : "", owner);
    }
}

/* The program's peek: the frame loop asks whether input is pending with this call, from
 * its own code. SDL's own calls, and the program's other actions, pass through. */
int SDL_PeepEvents(SDL_Event* events, int count, SDL_eventaction action, Uint32 mask) {
    int (*real)(SDL_Event*, int, SDL_eventaction, Uint32) =
        (int (*)(SDL_Event*, int, SDL_eventaction, Uint32))nextSymbol("SDL_PeepEvents");
    if (action != SDL_PEEKEVENT || !inProgram(__builtin_return_address(0))) {
        return real(events, count, action, mask);
    }
    counters.polls++;
    if (counters.polls == 1) noteQuitHandlers();
    endFrame();
    char place[32];
    snprintf(place, sizeof place, "peek%ld", counters.polls);
    raiseAt(place);
    pushEvents(counters.polls);
    long stopAfter = envNumber("RWSHIM_STOP_AFTER_POLLS");
    int pending =
        (stopAfter > 0 && counters.polls >= stopAfter) ? 1 : real(events, count, action, mask);
    counters.inLoop = pending <= 0;
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

/* One "object PATH" line for each loaded object that has a path; *fd is the report's. */
static int writeObject(struct dl_phdr_info* info, size_t size, void* fd) {
    (void)size;
    if (strchr(info->dlpi_name, '/') == NULL) return 0;
    char line[PATH_MAX + 16];
    int length = snprintf(line, sizeof line, "object %s\n", info->dlpi_name);
    if (length < 0 || length >= (int)sizeof line) return 0;
    if (write(*(int*)fd, line, (size_t)length) != length) perror("shim report");
    return 0;
}

static void writeReport(void) {
    const char* path = getenv("RWSHIM_REPORT");
    if (path == NULL) return;
    Dl_info sdl;
    if (!dladdr(nextSymbol("SDL_Init"), &sdl) || sdl.dli_fname == NULL) sdl.dli_fname = "?";
    char text[2048];
    int length = snprintf(
        text, sizeof text,
        "sdl_init %ld\nsdl_quit %ld\nvideo_calls %ld\nvideo_flags 0x%08lx\n"
        "polls %ld\nset_colors %ld\nset_colors_other %ld\nlocks %ld\n"
        "lock_failures %ld\nunlocks %ld\nflips %ld\nloop_allocs %ld\nloop_allocs_library %ld\n"
        "push_failures %ld\nqueued_at_quit %s\nsdl_library %s\n"
        "frame_order %s\norder_mismatches %ld\nquit_handlers %s\n",
        counters.sdlInit, counters.sdlQuit, counters.videoCalls, counters.videoFlags,
        counters.polls, counters.setColors, counters.setColorsOther, counters.locks,
        counters.lockFailures, counters.unlocks, counters.flips, counters.loopAllocs,
        counters.loopAllocsLibrary, counters.pushFailures, queuedAtQuit, sdl.dli_fname,
        firstOrder[0] != '\0' ? firstOrder : "-", counters.orderMismatches, quitHandlers);
    if (length < 0 || length >= (int)sizeof text) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (write(fd, text, (size_t)length) != length) perror("shim report");
    dl_iterate_phdr(writeObject, &fd);
    close(fd);
}

__attribute__((destructor)) static void writeLastReport(void) {
    endFrame();
    writeReport();
}
