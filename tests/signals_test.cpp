#include "signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

// Each test runs in a child process of its own (a death test): handlers, masks and the
// module's state do not leak from one test into the next. The console's restoring is a
// function that says on standard error how often it ran.

// Under user-mode emulation (qemu-arm) a signal that dumps core also makes the emulator say
// so on standard error, one line after the process's own output.
#define kEmulatorLine "(qemu: [^\n]*\n)?$"
#define kRestoredOnce "^restored 1\n" kEmulatorLine

// qemu-arm does not hand a SIGILL, SIGBUS, SIGFPE or SIGSEGV that another process sent on to
// the program as the kernel does: it ends the process by SIGSEGV, or by the signal without
// the program's handler having run. Those sent cases are left to the native builds (and the
// boards, whose kernel is real); the raised ones run everywhere.
#if defined(RINGWAVE_TESTS_UNDER_USER_EMULATION)
constexpr bool kUnderUserEmulation = true;
#else
constexpr bool kUnderUserEmulation = false;
#endif

namespace {

int restoreCount = 0;

void restoreConsole() {
    char line[] = "restored N\n";
    line[9] = static_cast<char>('0' + ++restoreCount);
    if (write(STDERR_FILENO, line, sizeof line - 1) < 0) _exit(99);
}

// A fault during the restoring: SDL's shutdown must not begin again.
void restoreThenAbort() {
    restoreConsole();
    std::abort();
}

// A signal of another process during the restoring.
void restoreThenSignal() {
    restoreConsole();
    raise(SIGUSR1);
}

void sdlsOwnHandler(int) {
    const char line[] = "sdl's handler\n";
    if (write(STDERR_FILENO, line, sizeof line - 1) < 0) _exit(99);
}

// Sends signal number from a child process, as kill(1) or a supervisor would, and returns
// once it has been delivered (SA_RESTART lets waitpid go on).
void sendFromOutside(int number) {
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) _exit(kill(parent, number) == 0 ? 0 : 1);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

// The program's start-up: held while SDL starts, then caught.
void startAsRingwave(void (*restore)()) {
    holdSignals();
    catchSignals(restore);
}

}  // namespace

TEST(Signals, HangUpAsksTheRunToStop) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreConsole);
            sendFromOutside(SIGHUP);
            if (!stopSignalled() || endingSignal() != 0) _exit(2);
            restoreAndEnd();
            _exit(0);
        },
        testing::ExitedWithCode(0), kRestoredOnce);
}

// The kinds that wait for the frame loop: nothing is restored from the handler, the exit
// hook restores once and then the process ends by the signal.
TEST(Signals, EndingSignalEndsTheProcessAfterTheRestoring) {
    const int ending[] = {SIGUSR1,   SIGUSR2, SIGPIPE, SIGALRM, SIGXCPU,  SIGXFSZ,
                          SIGVTALRM, SIGPROF, SIGPWR,  SIGQUIT, SIGRTMIN, SIGRTMIN + 1};
    for (int number : ending) {
        EXPECT_EXIT(
            {
                startAsRingwave(restoreConsole);
                sendFromOutside(number);
                if (!stopSignalled() || endingSignal() != number || restoreCount != 0) _exit(2);
                restoreAndEnd();
                _exit(0);
            },
            testing::KilledBySignal(number), kRestoredOnce)
            << "signal " << number;
    }
}

// SIGALRM is what SDL 1.2 sets to be ignored at its start: taken over all the same.
TEST(Signals, SignalSdlIgnoresIsTakenOver) {
    EXPECT_EXIT(
        {
            holdSignals();
            signal(SIGALRM, SIG_IGN);  // SDL_Init
            catchSignals(restoreConsole);
            sendFromOutside(SIGALRM);
            restoreAndEnd();
            _exit(0);
        },
        testing::KilledBySignal(SIGALRM), kRestoredOnce);
}

// The same faults sent by another process interrupt no particular instruction: they wait
// for the loop like the others. Raised by the program itself they restore from the handler
// and end the process there.
TEST(Signals, FaultsFromOutsideWaitRaisedOnesEndAtOnce) {
    const int faults[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};
    for (int number : faults) {
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer keeps SIGBUS, SIGFPE and SIGSEGV for its own reports, so the
        // program leaves them alone there, as it leaves SDL's own handlers alone.
        if (number == SIGBUS || number == SIGFPE || number == SIGSEGV) continue;
#endif
        const bool sendable =
            !kUnderUserEmulation || number == SIGTRAP || number == SIGABRT || number == SIGSYS;
        if (sendable) {
            EXPECT_EXIT(
                {
                    startAsRingwave(restoreConsole);
                    sendFromOutside(number);
                    if (endingSignal() != number || restoreCount != 0) _exit(2);
                    restoreAndEnd();
                    _exit(0);
                },
                testing::KilledBySignal(number), kRestoredOnce)
                << "signal " << number << " sent";
        }
        EXPECT_EXIT(
            {
                startAsRingwave(restoreConsole);
                raise(number);
                _exit(0);
            },
            testing::KilledBySignal(number), kRestoredOnce)
            << "signal " << number << " raised";
    }
}

TEST(Signals, AbortRestoresFirst) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreConsole);
            std::abort();
        },
        testing::KilledBySignal(SIGABRT), kRestoredOnce);
}

// A signal that arrives while SDL starts waits; once caught it asks the loop to stop.
TEST(Signals, SignalWhileSdlStartsWaits) {
    EXPECT_EXIT(
        {
            holdSignals();
            sendFromOutside(SIGUSR1);
            sendFromOutside(SIGHUP);
            catchSignals(restoreConsole);
            if (!stopSignalled() || endingSignal() != SIGUSR1) _exit(2);
            restoreAndEnd();
            _exit(0);
        },
        testing::KilledBySignal(SIGUSR1), kRestoredOnce);
}

// SDL could not start: a signal that arrived meanwhile ends the process as it would have,
// with nothing restored.
TEST(Signals, FailedStartReleasesHeldSignals) {
    EXPECT_EXIT(
        {
            holdSignals();
            sendFromOutside(SIGUSR2);
            releaseSignals();
            _exit(0);
        },
        testing::KilledBySignal(SIGUSR2), "^$");
}

// Inherited as ignored (nohup), a signal stays ignored; a handler SDL installed (SIGINT,
// SIGTERM, its parachute) stays SDL's.
// A signal ignored at start stays ignored, and SDL's parachute (here for SIGQUIT) stays
// SDL's. SDL's own SIGTERM and SIGINT handler does not: it queues its quit event under the
// event queue's lock from inside the handler, which can wait for ever on the lock that the
// interrupted loop holds. The quit request is the flag instead, and SDL's handler never runs.
TEST(Signals, IgnoredSignalsAndSdlsParachuteAreLeftAloneItsQuitHandlerIsNot) {
    EXPECT_EXIT(
        {
            signal(SIGHUP, SIG_IGN);
            holdSignals();
            signal(SIGQUIT, sdlsOwnHandler);  // SDL_Init
            signal(SIGTERM, sdlsOwnHandler);
            signal(SIGINT, sdlsOwnHandler);
            catchSignals(restoreConsole);
            sendFromOutside(SIGHUP);
            if (stopSignalled()) _exit(2);
            sendFromOutside(SIGQUIT);
            if (stopSignalled()) _exit(3);
            sendFromOutside(SIGTERM);
            if (!stopSignalled() || endingSignal() != 0) _exit(4);
            sendFromOutside(SIGINT);
            restoreAndEnd();
            _exit(0);
        },
        testing::ExitedWithCode(0), "^sdl's handler\nrestored 1\n" kEmulatorLine);
}

// Before holdSignals nothing is caught: a signal during the table's precalculation ends
// the process at once.
TEST(Signals, NothingCaughtBeforeSdlStarts) {
    EXPECT_EXIT(
        {
            sendFromOutside(SIGHUP);
            _exit(0);
        },
        testing::KilledBySignal(SIGHUP), "^$");
}

TEST(Signals, FaultWhileRestoringDoesNotRestoreAgain) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreThenAbort);
            restoreAndEnd();
            _exit(0);
        },
        testing::KilledBySignal(SIGABRT), kRestoredOnce);
}

TEST(Signals, SignalWhileRestoringWaitsForIt) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreThenSignal);
            restoreAndEnd();
            _exit(0);
        },
        testing::KilledBySignal(SIGUSR1), kRestoredOnce);
}

namespace {

// SDL 1.2's shutdown sets SIGINT and SIGTERM back to their default action.
void restoreAsSdlDoes() {
    restoreConsole();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

}  // namespace

// Once the run is over a quit request has nothing to stop; SIGINT and SIGTERM, which SDL's
// shutdown gives back their default action, do not end the process by themselves either.
TEST(Signals, QuitRequestAfterTheRunChangesNothing) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreAsSdlDoes);
            restoreAndEnd();
            sendFromOutside(SIGHUP);
            sendFromOutside(SIGINT);
            sendFromOutside(SIGTERM);
            _exit(0);
        },
        testing::ExitedWithCode(0), kRestoredOnce);
}

// The rate line to a pipe whose reader has gone: the write fails, the process goes on, and
// no SIGPIPE is left to end it later; without flushOutput the same write ends it.
TEST(Signals, BrokenPipeOnlyFailsTheWrite) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreConsole);
            int ends[2];
            if (pipe(ends) != 0) _exit(3);
            close(ends[0]);
            std::FILE* out = fdopen(ends[1], "w");
            std::fputs("Frame rate: 1 frames/sec\n", out);
            if (flushOutput(out) || stopSignalled()) _exit(2);
            restoreAndEnd();
            _exit(0);
        },
        testing::ExitedWithCode(0), kRestoredOnce);
    EXPECT_EXIT(
        {
            int ends[2];
            if (pipe(ends) != 0) _exit(3);
            close(ends[0]);
            std::FILE* out = fdopen(ends[1], "w");
            std::fputs("Frame rate: 1 frames/sec\n", out);
            std::fflush(out);
            _exit(0);
        },
        testing::KilledBySignal(SIGPIPE), "");
}

// A SIGPIPE sent from outside just before the flush is not the write's: it still ends the
// process after the restoring.
TEST(Signals, SentPipeSignalIsNotTakenBack) {
    EXPECT_EXIT(
        {
            startAsRingwave(restoreConsole);
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            sigprocmask(SIG_BLOCK, &pipeOnly, nullptr);
            sendFromOutside(SIGPIPE);
            int ends[2];
            if (pipe(ends) != 0) _exit(3);
            close(ends[0]);
            std::FILE* out = fdopen(ends[1], "w");
            std::fputs("Frame rate: 1 frames/sec\n", out);
            flushOutput(out);
            sigprocmask(SIG_UNBLOCK, &pipeOnly, nullptr);
            if (endingSignal() != SIGPIPE) _exit(2);
            restoreAndEnd();
            _exit(0);
        },
        testing::KilledBySignal(SIGPIPE), kRestoredOnce);
}
