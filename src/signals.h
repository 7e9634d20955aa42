#ifndef RINGWAVE_SIGNALS_H_
#define RINGWAVE_SIGNALS_H_

#include <cstdio>

// Signals while SDL holds the console, whose terminal, keyboard and framebuffer modes only
// SDL's shutdown restores. SIGINT, SIGTERM and SIGHUP are quit requests: the run ends as after
// a key. A fault the program raises itself restores the console and ends the process at once.
// Any other signal that would end the process stops the run without a rate line; the exit
// hook restores the console and ends the process by that signal. Signals inherited as
// ignored, and those SDL's parachute takes, are left alone; SIGKILL and SIGSTOP cannot be
// caught.

// Right before SDL starts: blocks every signal handled here that is at its default action, so
// that one arriving while SDL sets up waits until it can be handled.
void holdSignals();

// SDL could not start: unblocks what holdSignals blocked, without handlers.
void releaseSignals();

// Once SDL has started: installs the handlers and unblocks the held signals. restore puts the
// console back (SDL_Quit); it runs at most once.
void catchSignals(void (*restore)());

// Whether a caught signal asks the run to stop. False before catchSignals.
bool stopSignalled();

// The signal that is to end the process once the console is restored; 0 when none arrived.
int endingSignal();

// The exit hook: restores the console (once), then ends the process by the ending signal, if
// one arrived. A signal arriving meanwhile waits until the console is restored; a quit
// request after the run changes nothing.
void restoreAndEnd();

// Flushes stream; true when everything was written. A reader that has gone away (EPIPE)
// fails the write as a terminal that hung up does, without the SIGPIPE ending the process.
bool flushOutput(std::FILE* stream);

#endif  // RINGWAVE_SIGNALS_H_
