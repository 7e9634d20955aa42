#ifndef RINGWAVE_SIGNALS_H_
#define RINGWAVE_SIGNALS_H_

#include <cstdio>

// Signals that would end the process while SDL holds the console. SDL's framebuffer console
// puts the virtual terminal in graphics mode, the keyboard in medium-raw mode and the
// framebuffer in the program's mode, and only its shutdown puts them back; a process that
// dies without it leaves the device's console dead. SDL itself shuts down on SIGSEGV,
// SIGBUS, SIGFPE and SIGQUIT (its parachute); here every other signal whose default action
// ends the process is handled:
//   - SIGINT, SIGTERM and a hang-up (SIGHUP: the terminal or login that started the run went
//     away) are a quit request, a flag the frame loop sees at its next check: the run ends
//     as after a key, rate line and status 0. SDL 1.2 has a handler of its own for SIGINT
//     and SIGTERM that queues a quit event, but it takes the event queue's lock inside the
//     handler and can wait for ever on a lock the interrupted loop holds; it is replaced;
//   - a fault raised by the processor or by the program itself (SIGILL, SIGTRAP, SIGABRT
//     from abort, SIGSYS; and SIGSEGV, SIGBUS, SIGFPE where SDL has no parachute) restores
//     the console from the handler, as SDL's parachute does, since the code cannot go on;
//   - every other one (SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM,
//     SIGPROF, SIGIO, SIGPWR, the real-time signals, SIGQUIT where SDL leaves it, and the
//     faults when another process sends them) only sets a flag that the frame loop sees at
//     its next event check: the run stops without a rate line, the exit hook restores the
//     console, and the process then ends by that same signal (default action, unblocked,
//     raised again), so that a shell or supervisor sees what ended it.
// SIGKILL and SIGSTOP cannot be caught. A signal that the program inherited as ignored
// (nohup) stays ignored, and a fault or SIGQUIT that SDL took with its parachute stays SDL's.
// Before holdSignals nothing is caught: a signal during the table's precalculation ends the
// process at once, with SDL not yet touched.

// Right before SDL starts: blocks every signal this module handles that is at its default
// action now, so that one arriving while SDL sets up waits until it can be handled.
void holdSignals();

// SDL could not start: unblocks what holdSignals blocked, without handlers; a signal that
// arrived meanwhile then ends the process as it would have.
void releaseSignals();

// Once SDL has started (it has installed its own handlers by then): installs the handlers
// for the quit requests and for the held signals that SDL left at their default action or
// set to be ignored, then unblocks them. restore puts the console back (SDL_Quit); it runs
// once at most, from restoreAndEnd or from a fault's handler, and never while it already runs.
void catchSignals(void (*restore)());

// Whether a caught signal asks the run to stop: a quit request or a signal that is to end
// the process. Safe to ask at any time; false before catchSignals.
bool stopSignalled();

// The signal that is to end the process once the console is restored; 0 when none arrived.
int endingSignal();

// The exit hook: restores the console (once), then, if a signal is to end the process,
// ends it by that signal. A signal that arrives during the restoring waits until it is
// done; a quit request that arrives once the run is over changes nothing.
void restoreAndEnd();

// Flushes stream. A reader that has gone away (EPIPE: a pipe or socket closed at its far
// end) makes the write fail like a terminal that hung up does (EIO); the SIGPIPE that such a
// write raises is taken back instead of ending the process. True when everything was written.
bool flushOutput(std::FILE* stream);

#endif  // RINGWAVE_SIGNALS_H_
