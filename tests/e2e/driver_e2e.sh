#!/usr/bin/env bash
# End-to-end checks of the shipped ringwave binary under SDL's dummy video driver.
#   driver_e2e.sh CASE RINGWAVE SHIM
# SHIM is the test-only LD_PRELOAD interposer that counts SDL calls and injects failures.
# RINGWAVE_TEST_SDL_STACK names the SDL 1.2 stack the runs load (tests/sdl-stacks.txt), and
# with it what they are expected to do there. Each case is a function case_NAME below.
set -u
case_name=$1
ringwave=$2
shim=${3:-}
work=$(mktemp -d)
export SDL_VIDEODRIVER=dummy
ulimit -c 0  # the signals that dump core end runs here on purpose
# Sanitizer builds: SDL's own allocations are not this program's leaks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

here=$(dirname "$0")
. "$here/report_checks.sh"
. "$here/steps.sh"
. "$here/host_runs.sh"

# A frame's calls under the dummy driver (C the palette, L lock, U unlock, F flip), and the
# flips of a frame. A screen with a palette (classic SDL 1.2's) takes the colours first,
# then the pixels and the flip; a converted one (sdl12-compat's converts its 8-bit surface
# for SDL 2) the pixels first, then the colours, which show the frame, and no flip.
case "$sdl_screen" in
palette) dummy_order=CLUF; frame_flips=1 ;;
converted) dummy_order=LUC; frame_flips=0 ;;
*) fail "SDL stack $sdl_stack: unknown screen '$sdl_screen'" ;;
esac

# SDL 1.2's event types.
SDL_ACTIVEEVENT=1 SDL_KEYDOWN=2 SDL_KEYUP=3 SDL_MOUSEMOTION=4 SDL_MOUSEBUTTONDOWN=5
SDL_MOUSEBUTTONUP=6 SDL_QUIT=12 SDL_SYSWMEVENT=13 SDL_VIDEORESIZE=16 SDL_VIDEOEXPOSE=17
SDL_USEREVENT=24

# The cases sigint, sigterm and no-video-driver are steps.sh's.

# A hang-up ends the run as a quit request: the rate line, SDL shut down, status 0. SIGINT
# and SIGTERM too are the program's own flag while frames are drawn, never a handler of
# SDL's: SDL 1.2's queues its quit event under the event queue's lock from inside the
# handler, and waits for ever when the loop's event check holds that lock.
case_sighup() {
    signal_shimmed 1
    expect_quit_run "after SIGHUP"
    expect_counters sdl_quit 1 quit_handlers program,program,program
}

# The terminal or reader is gone when the rate line is written: the write fails, nothing
# else changes (no SIGPIPE, status 0). First stdout closed, then a pipe whose reader read
# the first line and left.
case_hangup_output_gone() {
    ringwave_stdout=-
    signal_shimmed 1
    expect_status 0 "after SIGHUP with stdout closed"
    expect_no_stderr "with stdout closed"
    expect_counters sdl_quit 1
    mkfifo "$work/pipe"
    head -n 1 < "$work/pipe" > "$work/out" &
    local reader=$!
    ringwave_stdout=$work/pipe
    signal_shimmed 1
    wait "$reader"
    expect_status 0 "after SIGHUP with the pipe's reader gone"
    expect_no_stderr "with the pipe's reader gone"
    expect_unreported   # the reader took the first line only
    expect_counters sdl_quit 1
}

# Each signal that would end the process ends it, by that same signal (the shell sees
# 128 + N), once SDL has been shut down; the run is not reported. SIGQUIT is SDL 1.2's own
# (its parachute), the rest this program's; the faults here come from another process. 34
# is SIGRTMIN. (SIGINT is a quit request: case sigint.)
case_ending_signals() {
    for number in 3 4 5 6 7 8 10 11 12 13 14 16 24 25 26 27 29 30 31 34; do
        signal_shimmed "$number"
        expect_status $((128 + number)) "after signal $number"
        expect_no_stderr "after signal $number"
        expect_unreported
        expect_counters sdl_quit 1
    done
}

# A CPU-time limit (ulimit -t): the kernel sends SIGXCPU once it is spent.
case_cpu_limit() {
    ringwave_command shimmed
    status=0
    ( ulimit -S -t 1; exec "${cmd[@]}" > "$work/out" 2> "$work/err" < /dev/null ) || status=$?
    expect_status $((128 + 24)) "not SIGXCPU's"
    expect_unreported
    expect_counters sdl_quit 1
}

case_signals_at_start() {
    # During the table's precalculation nothing is caught yet: the signal ends the process
    # at once and SDL is never touched (the shim leaves no report).
    for number in 1 10; do
        run_ringwave shimmed RWSHIM_RAISE="table:$number"
        expect_status $((128 + number)) "signal $number at the table"
        [ ! -e "$work/report" ] || fail "SDL touched after signal $number at the table"
    done
    # While SDL starts or sets the mode the signal waits; the loop then stops before its
    # first frame, and a hang-up reports that run, an ending signal ends the process by it
    # after SDL's shutdown.
    for place in init mode; do
        run_shimmed 0 RWSHIM_RAISE="$place:1"
        expect_status 0 "SIGHUP at $place"
        [ "$(check_report_lines)" = 0 ] || fail "rate should be 0, SIGHUP at $place"
        expect_counters polls 0 sdl_quit 1
        run_shimmed 0 RWSHIM_RAISE="$place:10"
        expect_status $((128 + 10)) "SIGUSR1 at $place"
        expect_unreported
        expect_counters polls 0 sdl_quit 1
    done
}

# Raised by the program's own code (abort, a fault) SDL is shut down in the handler and the
# process ends by the signal at once; a signal of the other kinds is seen at the next event
# check, after the frame in progress. SIGSEGV is SDL 1.2's parachute's, this program's on
# sdl12-compat.
case_signals_in_loop() {
    for number in 6 4 5 31 11; do
        run_shimmed 0 RWSHIM_RAISE="peek40:$number"
        expect_status $((128 + number)) "signal $number raised"
        expect_unreported
        expect_counters sdl_quit 1 polls 40
    done
    run_shimmed 0 RWSHIM_RAISE="peek40:10"
    expect_status $((128 + 10)) "SIGUSR1 raised"
    expect_unreported
    # The frame of peek 40 is finished.
    expect_counters polls 40 flips $((40 * frame_flips)) sdl_quit 1
}

# A run ended by a key, and a signal while SDL shuts down: SDL's shutdown is never begun
# twice. An ending signal waits for it and then ends the process; a fault ends it at once;
# a hang-up changes nothing.
case_signals_in_shutdown() {
    for number in 10 6 1; do
        expected=$((128 + number))
        [ "$number" = 1 ] && expected=0
        run_shimmed 20 RWSHIM_RAISE="quit:$number"
        expect_status "$expected" "signal $number at SDL_Quit"
        expect_positive_rate > /dev/null
        expect_counters sdl_quit 1
    done
}

case_video_mode_fails() {
    run_shimmed 100 RWSHIM_FAIL_VIDEOMODE=1
    expect_status 1
    expect_unreported
    [ "$(cat "$work/err")" = "Couldn't initialize video mode: injected video mode failure" ] ||
        fail "stderr"
    expect_counters sdl_init 1 sdl_quit 1 polls 0  # the exit hook shuts SDL down on this path
}

case_table_alloc_fails() {
    run_shimmed 100 RWSHIM_FAIL_TABLE_ALLOC=1
    expect_status 1
    expect_unreported
    [ "$(cat "$work/err")" = "Out of memory" ] || fail "stderr"
    expect_counters sdl_init 0 video_calls 0  # SDL is never touched
}

# Every pass counts as a frame and sets the palette, but nothing is drawn or flipped.
case_locks_fail() {
    run_shimmed 201 RWSHIM_FAIL_LOCK=1
    expect_quit_run
    expect_counters locks 200 lock_failures 200 set_colors 200 unlocks 0 flips 0
}

# 300 frames: each pass one palette of 256 colours, one lock, one unlock, one flip, and no
# heap allocation anywhere inside the loop.
case_frame_pass() {
    run_shimmed 301
    expect_quit_run
    expect_counters polls 301 set_colors 300 set_colors_other 0 locks 300 unlocks 300 \
        flips $((300 * frame_flips)) loop_allocs 0 video_flags 0x20000000 sdl_quit 1
    echo "the libraries' heap requests in the loop: $(counter loop_allocs_library)"
}

# RINGWAVE here is a copy that asks for memory twice per frame (malloc and new): the
# frame-pass check counts both, every frame, and nothing of the libraries'.
case_loop_alloc_caught() {
    run_shimmed 301
    expect_quit_run
    expect_counters locks 300 loop_allocs 600
}

case_input_kinds() {
    # Notices that are not input (focus, motion, expose, window-manager and resize notices)
    # never end the run and leave the queue: five a frame for 90 frames, more than SDL 1.2's
    # queue of 128 holds, and a key pressed afterwards still ends the run and is still
    # queued when SDL shuts down. The shim stops a run that missed it at peek 400.
    notices="$SDL_ACTIVEEVENT,$SDL_MOUSEMOTION,$SDL_VIDEOEXPOSE,$SDL_SYSWMEVENT,$SDL_VIDEORESIZE"
    run_shimmed 400 RWSHIM_PUSH="10-99:$notices 150:$SDL_KEYDOWN"
    expect_status 0
    expect_counters push_failures 0 polls 150 queued_at_quit "$SDL_KEYDOWN"
    # Any input ends the run at once, before that peek's frame, and stays queued: a key
    # pressed or released, a mouse button pressed or released, a quit request, an event of
    # a kind SDL 1.2 leaves to programs.
    for kind in "$SDL_KEYDOWN" "$SDL_KEYUP" "$SDL_MOUSEBUTTONDOWN" "$SDL_MOUSEBUTTONUP" \
                "$SDL_QUIT" "$SDL_USEREVENT"; do
        run_shimmed 400 RWSHIM_PUSH="5:$kind"
        expect_status 0 "event type $kind"
        expect_counters polls 5 flips $((4 * frame_flips)) queued_at_quit "$kind"
    done
}

# An event already pending: no frame drawn, and the rate is 0, never inf or nan.
case_pending_at_start() {
    run_shimmed 1
    expect_status 0
    [ "$(check_report_lines)" = 0 ] || fail "rate should be 0"
    expect_counters set_colors 0
}

case_one_frame() {
    run_shimmed 2
    expect_quit_run
    expect_counters flips "$frame_flips"
}

# Where the display has a palette the colours go first, then lock, unlock and flip; where
# SDL converts an 8-bit shadow for a display without one (an X server of 16 or 24 bits),
# the frame is drawn first and the colours' hand-over shows it: no flip, one conversion.
# Every frame calls in the same order as the first.
case_frame_order() {
    run_shimmed 31
    expect_status 0
    expect_counters frame_order "$dummy_order" order_mismatches 0
    # On an 8-bit server: a palette, so the colours first; or (sdl12-compat over SDL 2, which
    # has no renderer for it) the video mode fails with SDL's message, as any start-up
    # failure does; or (SDL 3.2.10) SDL crashes in its X11 video start-up, inside SDL_Init,
    # before ringwave has a window: the run ends by SIGSEGV after the first line.
    local cases
    case "$sdl_x8" in
    draws) cases=("8 CLUF") ;;
    fails) cases=("8 none") ;;
    crashes) cases=("8 crash") ;;
    *) fail "SDL stack $sdl_stack: unknown x8 '$sdl_x8'" ;;
    esac
    cases+=("16 LUC -flip" "24 LUC" "24 LUC -flip -hw")
    for expected in "${cases[@]}"; do
        read -r depth order words <<< "$expected"
        start_xvfb "$depth"
        run_ringwave shimmed SDL_VIDEODRIVER=x11 RWSHIM_STOP_AFTER_POLLS=31 -- $words
        stop_xvfb
        case "$order" in
        crash)
            expect_status $((128 + 11)) "at depth $depth"
            expect_unreported
            ;;
        none)
            expect_status 1 "at depth $depth"
            grep -qx "Couldn't initialize video mode: .\+" "$work/err" ||
                fail "stderr at depth $depth"
            ;;
        *)
            expect_status 0 "at depth $depth"
            expect_positive_rate > /dev/null
            expect_counters frame_order "$order" order_mismatches 0 set_colors 30
            ;;
        esac
    done
}

# The words reach SDL_SetVideoMode as flags; anything else is ignored without a word.
case_flags() {
    run_ringwave shimmed RWSHIM_STOP_AFTER_POLLS=3 -- -flip junk -HW -hw --fullscreen \
        -fullscreen -flip
    expect_status 0
    expect_no_stderr
    expect_counters video_flags 0xe0000001
    run_ringwave shimmed RWSHIM_STOP_AFTER_POLLS=3 -- -Flip -hw= "$(printf '\xff\xfe')" "" \
        "$(head -c 70000 /dev/zero | tr '\0' x)"
    expect_status 0 "with odd words"
    expect_no_stderr
    expect_counters video_flags 0x20000000
}

run_case "$case_name"
