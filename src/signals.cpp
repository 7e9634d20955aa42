#include "signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace {

// SDL's framebuffer console puts the virtual terminal in graphics mode, the keyboard in
// medium-raw mode and the framebuffer in the program's mode, and only its shutdown puts them
// back: a process that dies without it leaves the device's console dead. SDL itself shuts
// down on SIGSEGV, SIGBUS, SIGFPE and SIGQUIT (its parachute); every other signal whose
// default action ends the process is handled here. Before holdSignals nothing is caught: a
// signal during the table's precalculation ends the process at once, SDL not yet touched.

// What a caught signal does.
enum class Role {
    kQuit,   // asks the run to stop, as a key does: rate line, status 0
    kFault,  // raised by the processor or the program itself, whose code cannot go on:
             // restored from the handler, as SDL's parachute does, and ended at once; sent
             // by another process, as kEnd
    kEnd,    // a flag the frame loop sees at its next event check: the run stops without a
             // rate line, the exit hook restores the console, and the process then ends by
             // the same signal (default action, unblocked, raised again), so that a shell or
             // supervisor sees what ended it
};

struct HandledSignal {
    int number;
    Role role;
};

// Every signal whose default action ends the process, SIGKILL aside (it cannot be caught);
// the real-time signals, SIGRTMIN to SIGRTMAX, end it too and come on top (Role::kEnd).
constexpr HandledSignal kHandled[] = {
    {SIGHUP, Role::kQuit},   {SIGINT, Role::kQuit},   {SIGTERM, Role::kQuit},
    {SIGILL, Role::kFault},  {SIGTRAP, Role::kFault}, {SIGABRT, Role::kFault},
    {SIGBUS, Role::kFault},  {SIGFPE, Role::kFault},  {SIGSEGV, Role::kFault},
    {SIGSYS, Role::kFault},  {SIGQUIT, Role::kEnd},   {SIGUSR1, Role::kEnd},
    {SIGUSR2, Role::kEnd},   {SIGPIPE, Role::kEnd},   {SIGALRM, Role::kEnd},
    {SIGSTKFLT, Role::kEnd}, {SIGXCPU, Role::kEnd},   {SIGXFSZ, Role::kEnd},
    {SIGVTALRM, Role::kEnd}, {SIGPROF, Role::kEnd},   {SIGIO, Role::kEnd},
    {SIGPWR, Role::kEnd},
};

// Whether the console still needs SDL's shutdown.
enum ConsoleState : int {
    kUntouched = 0,  // SDL not started (or not by this module's caller)
    kDue = 1,        // SDL holds the console: restoring is due
    kRestored = 2,   // restoring has begun (perhaps not finished: never begun again)
};

sigset_t held;    // blocked by holdSignals: at their default action then
sigset_t caught;  // those that got this module's handler
void (*restoreConsole)() = nullptr;
volatile std::sig_atomic_t consoleState = kUntouched;
volatile std::sig_atomic_t quitRequested = 0;
volatile std::sig_atomic_t signalToEndBy = 0;  // the first ending signal that arrived

// Signal handlers may call only this of the table: a plain walk, no library call.
Role roleOf(int number) {
    for (const HandledSignal& handled : kHandled) {
        if (handled.number == number) return handled.role;
    }
    return Role::kEnd;  // a real-time signal
}

template <typename Visit>
void forEachHandled(Visit visit) {
    for (const HandledSignal& handled : kHandled) visit(handled.number);
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) visit(number);
}

// Another process sent it (kill, sigqueue): it interrupts the program at no particular
// instruction, which can go on. Raised by the processor (a fault), by the kernel, or by the
// program itself (raise, abort; some C libraries raise with kill to their own process id),
// the code that raised it cannot go on.
bool sentFromOutside(const siginfo_t* info) {
    const bool sent = info->si_code == SI_USER || info->si_code == SI_QUEUE;
    return sent && info->si_pid != getpid();
}

// The default action for number, unblocked, and raised: the process ends by that signal
// (SIGKILL and SIGSTOP aside, every handled signal's default action ends it).
[[noreturn]] void endBy(int number) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(number, &byDefault, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    _exit(128 + number);  // not reached
}

// Only async-signal-safe work: flags, and for a fault SDL's shutdown as SDL's own parachute
// does it, then the end. The other handled signals are blocked while it runs.
void onSignal(int number, siginfo_t* info, void* /*context*/) {
    const Role role = roleOf(number);
    if (role == Role::kQuit) {
        quitRequested = 1;
        return;
    }
    if (role == Role::kFault && !sentFromOutside(info)) {
        if (consoleState == kDue) {
            consoleState = kRestored;
            restoreConsole();
        }
        endBy(number);
    }
    if (signalToEndBy == 0) signalToEndBy = number;
}

bool atDefault(int number) {
    struct sigaction now {};
    return sigaction(number, nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) == 0 &&
           now.sa_handler == SIG_DFL;
}

void install(int number, void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction ours {};
    ours.sa_sigaction = handler;
    ours.sa_mask = held;  // one handler at a time
    ours.sa_flags = SA_SIGINFO | SA_RESTART;
    if (sigaction(number, &ours, nullptr) == 0) sigaddset(&caught, number);
}

}  // namespace

void holdSignals() {
    sigemptyset(&held);
    sigemptyset(&caught);
    forEachHandled([](int number) {
        if (atDefault(number)) sigaddset(&held, number);
    });
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

void releaseSignals() {
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
}

void catchSignals(void (*restore)()) {
    restoreConsole = restore;
    consoleState = kDue;
    forEachHandled([](int number) {
        if (sigismember(&held, number) != 1) return;  // ignored or handled before SDL came
        struct sigaction now {};
        if (sigaction(number, nullptr, &now) != 0) return;
        // A quit request is always this module's flag: SDL 1.2's own handler for SIGINT and
        // SIGTERM queues a quit event under the event queue's lock, inside the handler, and
        // waits for ever when the interrupted loop holds that lock. SDL's parachute stays; a
        // signal SDL left at its default or set to be ignored (SDL 1.2 ignores SIGALRM) is
        // taken.
        const bool sdlsHandler = (now.sa_flags & SA_SIGINFO) != 0 ||
                                 (now.sa_handler != SIG_DFL && now.sa_handler != SIG_IGN);
        if (!sdlsHandler || roleOf(number) == Role::kQuit) install(number, onSignal);
    });
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
}

bool stopSignalled() {
    return quitRequested != 0 || signalToEndBy != 0;
}

int endingSignal() {
    return signalToEndBy;
}

void restoreAndEnd() {
    sigset_t before;
    sigprocmask(SIG_BLOCK, &held, &before);
    if (consoleState == kDue) {
        consoleState = kRestored;
        restoreConsole();
    }
    // Nothing is left to restore: the ending signals get their default action back. A quit
    // request has no run left to stop; SDL's shutdown resets SIGINT and SIGTERM (to their
    // default action, which would end the process by them now, or to this handler through
    // signal(), without its flags), so they get the handler again.
    forEachHandled([](int number) {
        if (sigismember(&held, number) != 1) return;
        if (roleOf(number) == Role::kQuit) {
            install(number, onSignal);
        } else if (sigismember(&caught, number) == 1) {
            struct sigaction byDefault {};
            byDefault.sa_handler = SIG_DFL;
            sigemptyset(&byDefault.sa_mask);
            sigaction(number, &byDefault, nullptr);
        }
    });
    if (signalToEndBy != 0) endBy(signalToEndBy);
    sigprocmask(SIG_SETMASK, &before, nullptr);  // one that arrived meanwhile ends it now
}

bool flushOutput(std::FILE* stream) {
    sigset_t brokenPipe, before, pending;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    sigprocmask(SIG_BLOCK, &brokenPipe, &before);
    sigpending(&pending);
    const bool sentBefore = sigismember(&pending, SIGPIPE) == 1;  // not this write's
    errno = 0;
    const bool written = std::fflush(stream) == 0;
    if (!written && errno == EPIPE && !sentBefore) {
        const timespec noWait{0, 0};
        sigtimedwait(&brokenPipe, nullptr, &noWait);  // the write's own SIGPIPE, taken back
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return written;
}
