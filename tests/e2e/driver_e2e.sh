#!/usr/bin/env bash
# End-to-end checks of the shipped ringwave binary under SDL's dummy video driver.
#   driver_e2e.sh CASE RINGWAVE SHIM
# SHIM is the test-only LD_PRELOAD interposer that counts SDL calls and injects failures.
# RINGWAVE_TEST_SDL_STACK names the SDL 1.2 stack the runs load (tests/sdl-stacks.txt), and
# with it what they are expected to do there.
set -u
case_name=$1
ringwave=$2
shim=${3:-}
work=$(mktemp -d)
xvfb_pid=
trap 'rm -rf "$work"; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null' EXIT
export SDL_VIDEODRIVER=dummy
ulimit -c 0  # the signals that dump core end runs here on purpose
# Sanitizer builds: SDL's own allocations are not this program's leaks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

. "$(dirname "$0")/report_checks.sh"
. "$(dirname "$0")/sdl_stack.sh"
sdl_stack_setup "$ringwave"
ringwave=$sdl_program

# Value of one counter in the shim's report.
counter() { awk -v k="$1" '$1 == k { print $2 }' "$work/report"; }

expect_counter() {
    local got; got=$(counter "$1")
    [ "$got" = "$2" ] || fail "$1: expected $2, got '$got'"
}

# Runs ringwave with the shim, stopped by the shim after $1 polls (0: never); extra
# environment follows. Checks which SDL library the run loaded; returns ringwave's status.
run_shimmed() {
    local polls=$1; shift
    local status=0 options=()
    while [ $# -gt 0 ] && [ "${1#--}" != "$1" ]; do options+=("$1"); shift; done  # env's own
    timeout 60 env "${options[@]}" "${sdl_env[@]}" "$@" RWSHIM_STOP_AFTER_POLLS="$polls" \
        RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim" "$ringwave" \
        > "$work/out" 2> "$work/err" < /dev/null || status=$?
    [ -s "$work/report" ] || fail "no report from the shim (status $status)"
    expect_sdl_objects "$shim" < <(awk '$1 == "object" { print $2 }' "$work/report")
    return "$status"
}

# Starts ringwave in the background with default signal dispositions (a background job of a
# script starts with SIGINT ignored), waits until SDL has installed its handler for the
# given signal and the loop has run a while, then sends it. Echoes the exit status.
run_and_signal() {
    local sig=$1 bit=$2
    env --default-signal=INT,TERM "${sdl_env[@]}" "$ringwave" \
        > "$work/out" 2> "$work/err" < /dev/null &
    local pid=$! caught=0
    for _ in $(seq 600); do
        local mask; mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
        [ -n "$mask" ] || break
        if (( (16#$mask >> (bit - 1)) & 1 )); then caught=1; break; fi
        sleep 0.1
    done
    [ "$caught" = 1 ] || { kill -KILL "$pid" 2>/dev/null; fail "no handler for signal $sig"; }
    sleep 0.5
    ( mapped_code "$pid" | expect_sdl_objects ) || { kill -KILL "$pid" 2>/dev/null; exit 1; }
    kill -"$sig" "$pid"
    local status=0
    wait "$pid" || status=$?
    echo "$status"
}

# Waits until the running ringwave $1 has a handler for signal $2 (its own or SDL's, set up
# once SDL has started) and the loop has run a while.
await_handler() {
    local pid=$1 number=$2 mask
    for _ in $(seq 600); do
        mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
        [ -n "$mask" ] || break
        if (( (16#$mask >> (number - 1)) & 1 )); then sleep 0.5; return 0; fi
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    fail "no handler for signal $number"
}

# Runs ringwave with the shim (never stopped by it) and every signal at its default action,
# sends it signal $1 while frames are drawn and echoes its exit status. $2: where its
# standard output goes (default $work/out).
signal_shimmed() {
    local number=$1 out=${2:-$work/out}
    rm -f "$work/report"
    env --default-signal "${sdl_env[@]}" RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim" "$ringwave" \
        > "$out" 2> "$work/err" < /dev/null &
    local pid=$! status=0
    ( await_handler "$pid" "$number" ) || exit 1
    kill -s "$number" "$pid"
    wait "$pid" || status=$?
    [ -s "$work/report" ] || fail "no report from the shim (status $status)"
    echo "$status"
}

# stdout holds the progress line only: no rate line.
expect_unreported() {
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout: no rate line expected"
}

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

case "$case_name" in
sigint|sigterm)
    sig=INT; bit=2
    [ "$case_name" = sigterm ] && { sig=TERM; bit=15; }
    status=$(run_and_signal "$sig" "$bit") || exit 1
    [ "$status" = 0 ] || fail "exit status $status after SIG$sig"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    expect_positive_rate
    ;;
sighup)
    # A hang-up ends the run as a quit request: the rate line, SDL shut down, status 0.
    status=$(signal_shimmed 1) || exit 1
    [ "$status" = 0 ] || fail "exit status $status after SIGHUP"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    expect_positive_rate
    expect_counter sdl_quit 1
    # SIGINT and SIGTERM too are the program's own flag while frames are drawn, never a
    # handler of SDL's: SDL 1.2's queues its quit event under the event queue's lock from
    # inside the handler, and waits for ever when the loop's event check holds that lock.
    expect_counter quit_handlers program,program,program
    ;;
hangup-output-gone)
    # The terminal or reader is gone when the rate line is written: the write fails, nothing
    # else changes (no SIGPIPE, status 0). First stdout closed, then a pipe whose reader read
    # the first line and left.
    rm -f "$work/report"
    env --default-signal "${sdl_env[@]}" RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim" "$ringwave" \
        >&- 2> "$work/err" < /dev/null &
    pid=$! status=0
    ( await_handler "$pid" 1 ) || exit 1
    kill -HUP "$pid"
    wait "$pid" || status=$?
    [ "$status" = 0 ] || fail "exit status $status after SIGHUP with stdout closed"
    [ ! -s "$work/err" ] || fail "unexpected stderr with stdout closed"
    expect_counter sdl_quit 1
    mkfifo "$work/pipe"
    head -n 1 < "$work/pipe" > "$work/out" &
    reader=$!
    status=$(signal_shimmed 1 "$work/pipe") || exit 1
    wait "$reader"
    [ "$status" = 0 ] || fail "exit status $status after SIGHUP with the pipe's reader gone"
    [ ! -s "$work/err" ] || fail "unexpected stderr with the pipe's reader gone"
    expect_unreported   # the reader took the first line only
    expect_counter sdl_quit 1
    ;;
ending-signals)
    # Each signal that would end the process ends it, by that same signal (the shell sees
    # 128 + N), once SDL has been shut down; the run is not reported. SIGQUIT is SDL 1.2's
    # own (its parachute), the rest this program's; the faults here come from another
    # process. 34 is SIGRTMIN.
    for number in 2 3 4 5 6 7 8 10 11 12 13 14 16 24 25 26 27 29 30 31 34; do
        case $number in
        2) continue ;;  # SIGINT: a quit request (case sigint)
        esac
        status=$(signal_shimmed "$number") || exit 1
        [ "$status" = $((128 + number)) ] || fail "exit status $status after signal $number"
        [ ! -s "$work/err" ] || fail "unexpected stderr after signal $number"
        expect_unreported
        expect_counter sdl_quit 1
    done
    ;;
cpu-limit)
    # A CPU-time limit (ulimit -t): the kernel sends SIGXCPU once it is spent.
    status=0
    ( ulimit -S -t 1; exec env --default-signal "${sdl_env[@]}" RWSHIM_REPORT="$work/report" \
        LD_PRELOAD="$shim" "$ringwave" > "$work/out" 2> "$work/err" < /dev/null ) || status=$?
    [ "$status" = $((128 + 24)) ] || fail "exit status $status, not SIGXCPU's"
    expect_unreported
    expect_counter sdl_quit 1
    ;;
signals-at-start)
    # During the table's precalculation nothing is caught yet: the signal ends the process
    # at once and SDL is never touched (the shim leaves no report).
    for number in 1 10; do
        rm -f "$work/report"
        env --default-signal "${sdl_env[@]}" RWSHIM_RAISE="table:$number" RWSHIM_REPORT="$work/report" \
            LD_PRELOAD="$shim" "$ringwave" > "$work/out" 2> "$work/err" < /dev/null
        status=$?
        [ "$status" = $((128 + number)) ] || fail "exit status $status, signal $number at the table"
        [ ! -e "$work/report" ] || fail "SDL touched after signal $number at the table"
    done
    # While SDL starts or sets the mode the signal waits; the loop then stops before its
    # first frame, and a hang-up reports that run, an ending signal ends the process by it
    # after SDL's shutdown.
    for place in init mode; do
        run_shimmed 0 --default-signal RWSHIM_RAISE="$place:1"; status=$?
        [ "$status" = 0 ] || fail "exit status $status, SIGHUP at $place"
        [ "$(check_report_lines)" = 0 ] || fail "rate should be 0, SIGHUP at $place"
        expect_counter polls 0
        expect_counter sdl_quit 1
        run_shimmed 0 --default-signal RWSHIM_RAISE="$place:10"; status=$?
        [ "$status" = $((128 + 10)) ] || fail "exit status $status, SIGUSR1 at $place"
        expect_unreported
        expect_counter polls 0
        expect_counter sdl_quit 1
    done
    ;;
signals-in-loop)
    # Raised by the program's own code (abort, a fault) SDL is shut down in the handler and
    # the process ends by the signal at once; a signal of the other kinds is seen at the next
    # event check, after the frame in progress. SIGSEGV is SDL 1.2's parachute's, this
    # program's on sdl12-compat.
    for number in 6 4 5 31 11; do
        run_shimmed 0 --default-signal RWSHIM_RAISE="peek40:$number"; status=$?
        [ "$status" = $((128 + number)) ] || fail "exit status $status, signal $number raised"
        expect_unreported
        expect_counter sdl_quit 1
        expect_counter polls 40
    done
    run_shimmed 0 --default-signal RWSHIM_RAISE="peek40:10"; status=$?
    [ "$status" = $((128 + 10)) ] || fail "exit status $status, SIGUSR1 raised"
    expect_unreported
    expect_counter polls 40
    expect_counter flips $((40 * frame_flips))  # the frame of peek 40 is finished
    expect_counter sdl_quit 1
    ;;
signals-in-shutdown)
    # A run ended by a key, and a signal while SDL shuts down: SDL's shutdown is never begun
    # twice. An ending signal waits for it and then ends the process; a fault ends it at
    # once; a hang-up changes nothing.
    for number in 10 6 1; do
        expected=$((128 + number))
        [ "$number" = 1 ] && expected=0
        run_shimmed 20 --default-signal RWSHIM_RAISE="quit:$number"; status=$?
        [ "$status" = "$expected" ] || fail "exit status $status, signal $number at SDL_Quit"
        expect_positive_rate > /dev/null
        expect_counter sdl_quit 1
    done
    ;;
no-video-driver)
    timeout 60 env "${sdl_env[@]}" SDL_VIDEODRIVER=nosuchdriver "$ringwave" \
        > "$work/out" 2> "$work/err"
    status=$?
    [ "$status" = 1 ] || fail "exit status $status"
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout"
    grep -qx "Couldn't initialize SDL: .\+" "$work/err" || fail "stderr"
    [ "$(wc -l < "$work/err")" -eq 1 ] || fail "one stderr line expected"
    ;;
video-mode-fails)
    run_shimmed 100 RWSHIM_FAIL_VIDEOMODE=1; status=$?
    [ "$status" = 1 ] || fail "exit status $status"
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout"
    [ "$(cat "$work/err")" = "Couldn't initialize video mode: injected video mode failure" ] ||
        fail "stderr"
    expect_counter sdl_init 1
    expect_counter sdl_quit 1     # the exit hook shuts SDL down on this path
    expect_counter polls 0
    ;;
table-alloc-fails)
    run_shimmed 100 RWSHIM_FAIL_TABLE_ALLOC=1; status=$?
    [ "$status" = 1 ] || fail "exit status $status"
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout"
    [ "$(cat "$work/err")" = "Out of memory" ] || fail "stderr"
    expect_counter sdl_init 0     # SDL is never touched
    expect_counter video_calls 0
    ;;
locks-fail)
    # Every pass counts as a frame and sets the palette, but nothing is drawn or flipped.
    run_shimmed 201 RWSHIM_FAIL_LOCK=1; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    expect_positive_rate
    expect_counter locks 200
    expect_counter lock_failures 200
    expect_counter set_colors 200
    expect_counter unlocks 0
    expect_counter flips 0
    ;;
frame-pass)
    # 300 frames: each pass one palette of 256 colours, one lock, one unlock, one flip, and
    # no heap allocation anywhere inside the loop.
    run_shimmed 301; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    expect_positive_rate
    expect_counter polls 301
    expect_counter set_colors 300
    expect_counter set_colors_other 0
    expect_counter locks 300
    expect_counter unlocks 300
    expect_counter flips $((300 * frame_flips))
    expect_counter loop_allocs 0
    expect_counter video_flags 0x20000000
    expect_counter sdl_quit 1
    echo "the libraries' heap requests in the loop: $(counter loop_allocs_library)"
    ;;
loop-alloc-caught)
    # RINGWAVE here is a copy that asks for memory twice per frame (malloc and new): the
    # frame-pass check counts both, every frame, and nothing of the libraries'.
    run_shimmed 301; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    expect_positive_rate
    expect_counter locks 300
    expect_counter loop_allocs 600
    ;;
input-kinds)
    # Notices that are not input (focus, motion, expose, window-manager and resize notices)
    # never end the run and leave the queue: five a frame for 90 frames, more than SDL 1.2's
    # queue of 128 holds, and a key pressed afterwards still ends the run and is still queued
    # when SDL shuts down. The shim stops a run that missed it at peek 400.
    notices="$SDL_ACTIVEEVENT,$SDL_MOUSEMOTION,$SDL_VIDEOEXPOSE,$SDL_SYSWMEVENT,$SDL_VIDEORESIZE"
    run_shimmed 400 RWSHIM_PUSH="10-99:$notices 150:$SDL_KEYDOWN"; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    expect_counter push_failures 0
    expect_counter polls 150
    expect_counter queued_at_quit "$SDL_KEYDOWN"
    # Any input ends the run at once, before that peek's frame, and stays queued: a key
    # pressed or released, a mouse button pressed or released, a quit request, an event of
    # a kind SDL 1.2 leaves to programs.
    for kind in "$SDL_KEYDOWN" "$SDL_KEYUP" "$SDL_MOUSEBUTTONDOWN" "$SDL_MOUSEBUTTONUP" \
                "$SDL_QUIT" "$SDL_USEREVENT"; do
        run_shimmed 400 RWSHIM_PUSH="5:$kind"; status=$?
        [ "$status" = 0 ] || fail "exit status $status (event type $kind)"
        expect_counter polls 5
        expect_counter flips $((4 * frame_flips))
        expect_counter queued_at_quit "$kind"
    done
    ;;
pending-at-start)
    # An event already pending: no frame drawn, and the rate is 0, never inf or nan.
    run_shimmed 1; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    [ "$(check_report_lines)" = 0 ] || fail "rate should be 0"
    expect_counter set_colors 0
    ;;
one-frame)
    run_shimmed 2; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    expect_positive_rate
    expect_counter flips "$frame_flips"
    ;;
frame-order)
    # Where the display has a palette the colours go first, then lock, unlock and flip; where
    # SDL converts an 8-bit shadow for a display without one (an X server of 16 or 24 bits),
    # the frame is drawn first and the colours' hand-over shows it: no flip, one conversion.
    # Every frame calls in the same order as the first.
    run_shimmed 31; status=$?
    [ "$status" = 0 ] || fail "exit status $status"
    expect_counter frame_order "$dummy_order"
    expect_counter order_mismatches 0
    command -v Xvfb > /dev/null || fail "Xvfb is missing (xvfb)"
    # On an 8-bit server: a palette, so the colours first; or (sdl12-compat over SDL 2, which
    # has no renderer for it) the video mode fails with SDL's message, as any start-up
    # failure does; or (SDL 3.2.10) SDL crashes in its X11 video start-up, inside SDL_Init,
    # before ringwave has a window: the run ends by SIGSEGV after the first line.
    case "$sdl_x8" in
    draws) cases=("8 CLUF") ;;
    fails) cases=("8 none") ;;
    crashes) cases=("8 crash") ;;
    *) fail "SDL stack $sdl_stack: unknown x8 '$sdl_x8'" ;;
    esac
    cases+=("16 LUC -flip" "24 LUC" "24 LUC -flip -hw")
    for expected in "${cases[@]}"; do
        read -r depth order words <<< "$expected"
        # The server picks a free display and reports it; -noreset keeps it up between clients.
        rm -f "$work/display"
        Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "640x480x$depth" \
            3> "$work/display" 2> /dev/null &
        xvfb_pid=$!
        for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
        [ -s "$work/display" ] || fail "Xvfb did not start at depth $depth"
        timeout 60 env "${sdl_env[@]}" DISPLAY=":$(head -1 "$work/display")" SDL_VIDEODRIVER=x11 \
            RWSHIM_STOP_AFTER_POLLS=31 RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim" \
            "$ringwave" $words > "$work/out" 2> "$work/err" < /dev/null
        status=$?
        kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null
        if [ "$order" = crash ]; then
            [ "$status" = $((128 + 11)) ] || fail "exit status $status at depth $depth"
            [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout at depth $depth"
            continue
        fi
        if [ "$order" = none ]; then
            [ "$status" = 1 ] || fail "exit status $status at depth $depth"
            grep -qx "Couldn't initialize video mode: .\+" "$work/err" ||
                fail "stderr at depth $depth"
            continue
        fi
        [ "$status" = 0 ] || fail "exit status $status at depth $depth"
        expect_positive_rate > /dev/null
        expect_counter frame_order "$order"
        expect_counter order_mismatches 0
        expect_counter set_colors 30
    done
    ;;
flags)
    # The words reach SDL_SetVideoMode as flags; anything else is ignored without a word.
    env "${sdl_env[@]}" RWSHIM_STOP_AFTER_POLLS=3 RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim" \
        "$ringwave" -flip junk -HW -hw --fullscreen -fullscreen -flip > "$work/out" 2> "$work/err"
    [ $? = 0 ] || fail "exit status"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    expect_counter video_flags 0xe0000001
    env "${sdl_env[@]}" RWSHIM_STOP_AFTER_POLLS=3 RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim" \
        "$ringwave" -Flip -hw= "$(printf '\xff\xfe')" "" "$(head -c 70000 /dev/zero | tr '\0' x)" \
        > "$work/out" 2> "$work/err"
    [ $? = 0 ] || fail "exit status with odd words"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    expect_counter video_flags 0x20000000
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
