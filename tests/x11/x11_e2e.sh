#!/usr/bin/env bash
# End-to-end checks of ringwave in a real X server (Xvfb, 24-bit), driven with real X input
# (XTEST through xdotool) the way a person at the keyboard would drive it.
#   x11_e2e.sh CASE RINGWAVE SNAPSHOT X11_POKE FRAME_CHECK
# Every case starts its own server on a free display and stops it at the end. Every wait is
# a poll with a bound, never a fixed sleep standing in for "long enough".
# RINGWAVE_TEST_SDL_STACK names the SDL 1.2 stack ringwave loads (tests/sdl-stacks.txt).
set -u
case_name=$1
ringwave=$2
snapshot=$3
poke=$4
frame_check=$5
work=$(mktemp -d)
xvfb_pid=
rw_pid=

cleanup() {
    [ -n "$rw_pid" ] && kill -KILL "$rw_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for f in out err xvfb.err; do [ -s "$work/$f" ] && sed "s/^/  $f: /" "$work/$f" >&2; done
    exit 1
}

. "$(dirname "$0")/../e2e/sdl_stack.sh"
sdl_stack_setup "$ringwave"
ringwave=$sdl_program

# Polls a command every 0.1 s, at most $1 tries; true as soon as the command succeeds.
poll() {
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
    return 1
}

# Starts Xvfb on the first free display (the server picks it and reports it) and waits
# until it accepts clients. -noreset: the server must not reset when its last client leaves,
# or a client connecting just then is refused.
start_x() {
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 640x480x24 \
        3> "$work/display" 2> "$work/xvfb.err" &
    xvfb_pid=$!
    poll 100 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -1 "$work/display")"
    poll 50 xdpyinfo > /dev/null 2>&1 || fail "Xvfb does not accept clients on $DISPLAY"
}

# Starts ringwave with the words given and the extra environment in rw_env, with default
# signal dispositions (a background job of a script starts with SIGINT ignored).
rw_env=()
start_ringwave() {
    env --default-signal=INT,TERM "${sdl_env[@]}" "${rw_env[@]}" "$ringwave" "$@" \
        > "$work/out" 2> "$work/err" < /dev/null &
    rw_pid=$!
}

# The running ringwave loaded the SDL library it was meant to (sdl_stack.sh).
expect_sdl_library() {
    expect_sdl_objects < <(mapped_code "$rw_pid")
}

# ringwave's window: a visible window of its process with its class name. It is found by
# process and name alone, since the libraries build their windows differently: classic
# SDL 1.2 draws into a child of that window, and with -fullscreen into another window over
# the whole screen; sdl12-compat setting a full-screen mode replaces the first window it
# made, half a second or more later (its renderer's set-up). A window counts once the same
# one has been found for a second; sets $window.
last_found=
times_found=0
find_window() {
    local found
    found=$(xdotool search --all --onlyvisible --pid "$rw_pid" --classname ringwave \
            2>/dev/null | head -1)
    if [ -z "$found" ] || [ "$found" != "$last_found" ]; then
        last_found=$found
        times_found=0
        return 1
    fi
    times_found=$((times_found + 1))
    [ "$times_found" -ge 10 ] || return 1
    window=$found
}

# Waits for ringwave's window to be mapped; sets $window. Checks which SDL library it runs on.
wait_window() {
    poll 300 find_window || fail "no ringwave window appeared"
    expect_sdl_library
}

alive() { kill -0 "$rw_pid" 2>/dev/null; }
gone() { ! alive; }

# Waits for ringwave to end; sets $status.
wait_exit() {
    poll 150 gone || fail "ringwave still running after the stop request"
    status=0
    wait "$rw_pid" || status=$?
    rw_pid=
}

# The end of every run: status 0, nothing on standard error, exactly the two lines on
# standard output, and a finite positive rate; prints the rate.
check_completed_run() {
    [ "$status" = 0 ] || fail "exit status $status"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    [ "$(wc -l < "$work/out")" -eq 2 ] || fail "expected two stdout lines"
    [ "$(sed -n 1p "$work/out")" = "Precalculating table..." ] || fail "first line"
    local rate
    rate=$(sed -n '2s/^Frame rate: \(.*\) frames\/sec$/\1/p' "$work/out")
    [ -n "$rate" ] || fail "rate line malformed"
    case "$rate" in *inf*|*nan*) fail "rate not finite: $rate";; esac
    awk -v r="$rate" 'BEGIN { exit !(r + 0 > 0) }' || fail "rate not positive: $rate"
    printf '%s\n' "$rate"
}

# Focuses the window and presses a key on the keyboard; finds the window again first if it
# was replaced.
press_key() {
    find_window || wait_window
    timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the window"
    timeout 10 xdotool key space || fail "xdotool key failed"
}

# Saves the window's content as an image file.
screenshot() {
    timeout 20 import -window "$window" "$1" || fail "screenshot failed"
}

# Runs ringwave with the words given until a key ends it, checking that it keeps running
# in between.
run_until_key() {
    start_x
    start_ringwave "$@"
    wait_window
    sleep 0.5
    alive || fail "ringwave ended by itself"
    press_key
    wait_exit
    check_completed_run > /dev/null
}

case "$case_name" in
window)
    start_x
    start_ringwave
    wait_window
    geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
                                              END { print w "x" h }')
    [ "$geometry" = 320x200 ] || fail "window is $geometry, not 320x200"
    xwininfo -id "$window" | grep -q 'Map State: IsViewable' || fail "window not viewable"
    press_key
    wait_exit
    check_completed_run > /dev/null
    ;;
motion-and-focus)
    # Moving the pointer over the window, in and out of it, and another window taking the
    # focus and giving it back must not end the run. The other window covers part of
    # ringwave's: when it goes, sdl12-compat queues an expose notice (classic SDL 1.2 redraws
    # by itself and queues nothing).
    start_x
    start_ringwave
    wait_window
    timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the window"
    timeout 20 xdotool mousemove --window "$window" 10 10 sleep 0.1 \
        mousemove --window "$window" 300 180 sleep 0.1 mousemove 600 440 sleep 0.1 \
        mousemove --window "$window" 160 100 sleep 0.1 mousemove_relative 5 5 ||
        fail "xdotool mousemove failed"
    timeout 20 "$poke" steal-focus "$window" || fail "focus change failed"
    sleep 0.2
    alive || fail "the run ended when another window took the focus and gave it back"
    timeout 20 xdotool mousemove --window "$window" 40 40 sleep 0.1 mousemove 620 20 ||
        fail "xdotool mousemove failed"
    sleep 1
    alive || fail "the run ended on motion or focus change"
    press_key
    wait_exit
    check_completed_run > /dev/null
    ;;
key)
    run_until_key
    ;;
button)
    start_x
    start_ringwave
    wait_window
    timeout 20 xdotool mousemove --window "$window" 160 100 sleep 0.2 click 1 ||
        fail "xdotool click failed"
    wait_exit
    check_completed_run > /dev/null
    ;;
close)
    # The window manager's delete request, as it is sent when the user closes the window.
    start_x
    start_ringwave
    wait_window
    timeout 20 "$poke" close "$window" || fail "close request failed"
    wait_exit
    check_completed_run > /dev/null
    ;;
fullscreen|hw|flip)
    run_until_key "-$case_name"
    ;;
screenshots)
    # Two screenshots a second apart: many distinct colours in each, and the picture moved.
    start_x
    start_ringwave
    wait_window
    sleep 0.3
    screenshot "$work/a.png"
    sleep 1
    screenshot "$work/b.png"
    press_key
    wait_exit
    check_completed_run > /dev/null
    for shot in a b; do
        colours=$(identify -format '%k' "$work/$shot.png") || fail "identify failed"
        [ "$colours" -ge 64 ] || fail "screenshot $shot has only $colours colours"
    done
    differing=$(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1)
    [ "${differing%%.*}" -ge 640 ] 2>/dev/null ||
        fail "screenshots differ in only '$differing' pixels"
    ;;
frame-match)
    # The window shows exactly the frames the effect computes. The wall clock is pinned, so
    # the seed is known; the monotonic clock that times the run is left alone. A screenshot
    # is searched for among frames 1 .. N of that seed, N bounding the frames the run drew
    # (its rate times the run's whole wall time). Frame n's pixels are accepted in frame n's
    # palette or in frame n + 1's: setting the next palette redisplays the pixels on screen
    # in the new colours before they are redrawn.
    seed=1767225600  # 2026-01-01 00:00:00 UTC
    # The libfaketime of the system SDL runs on.
    libfaketime=$(ls "$sdl_root"/usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
    [ -n "$libfaketime" ] || fail "libfaketime not found"
    start_x
    started=$(date +%s.%N)
    rw_env=(TZ=UTC "FAKETIME=2026-01-01 00:00:00" FAKETIME_DONT_FAKE_MONOTONIC=1
            LD_PRELOAD="$libfaketime")
    start_ringwave
    wait_window
    sleep 0.3
    screenshot "$work/screen.png"
    press_key
    wait_exit
    ended=$(date +%s.%N)
    rate=$(check_completed_run) || exit 1
    most=$(awk -v r="$rate" -v a="$started" -v b="$ended" 'BEGIN { printf "%d", r * (b - a) + 2 }')
    convert "$work/screen.png" "$work/screen.ppm" || fail "convert failed"
    found=$(timeout 60 "$frame_check" find "$seed" "$most" "$work/screen.ppm") ||
        fail "no frame of seed $seed up to $most is on the screen"
    read -r frame palette_frame <<< "$found"
    echo "screen shows frame $frame in the palette of frame $palette_frame"
    # The same picture, from ringwave-snapshot's files.
    "$snapshot" "$seed" "$frame" "$work/pixels.bmp" || fail "snapshot of frame $frame"
    "$snapshot" "$seed" "$palette_frame" "$work/palette.bmp" || fail "snapshot of $palette_frame"
    "$frame_check" screen "$work/screen.ppm" "$work/pixels.bmp" "$work/palette.bmp" ||
        fail "screen differs from the snapshots of frame $frame"
    # The server has no palette: SDL converts ringwave's 8-bit screen when the colours are
    # handed over, which ringwave does once the frame is drawn. So the window shows one frame
    # whole, in its own colours, never the frame before in the next one's.
    "$frame_check" screen "$work/screen.ppm" "$work/palette.bmp" "$work/palette.bmp" ||
        fail "screen is not frame $palette_frame in its own colours"
    # And the search tells runs apart: the next second's seed shows other pictures.
    timeout 60 "$frame_check" find $((seed + 1)) "$most" "$work/screen.ppm" > /dev/null
    [ $? = 1 ] || fail "the screenshot also matches seed $((seed + 1))"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
