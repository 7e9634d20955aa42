#!/usr/bin/env bash
# End-to-end checks of ringwave in a real X server (Xvfb, 24-bit), driven with real X input
# (XTEST through xdotool) the way a person at the keyboard would drive it.
#   x11_e2e.sh CASE RINGWAVE SNAPSHOT X11_POKE FRAME_CHECK
# Every case starts its own server on a free display and stops it at the end. Every wait is
# a poll with a bound, never a fixed sleep standing in for "long enough".
# RINGWAVE_TEST_SDL_STACK names the SDL 1.2 stack ringwave loads (tests/sdl-stacks.txt).
# Each case is a function case_NAME below.
set -u
case_name=$1
ringwave=$2
snapshot=$3
poke=$4
frame_check=$5
work=$(mktemp -d)

e2e=$(dirname "$0")/../e2e
. "$e2e/report_checks.sh"
. "$e2e/steps.sh"
. "$e2e/host_runs.sh"

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
    found=$(xdotool search --all --onlyvisible --pid "$pid" --classname ringwave \
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
    expect_sdl_objects < <(mapped_code "$pid")
}

alive() { kill -0 "$pid" 2>/dev/null; }
gone() { ! alive; }

# An X server, and ringwave in it with the environment and words given (start_ringwave),
# its window shown.
begin_run() {
    start_xvfb 24
    start_ringwave "$@"
    wait_window
}

# Waits for ringwave to end, then checks the end of a run: status 0, nothing on standard
# error, exactly the two lines on standard output, and a finite positive rate.
end_run() {
    poll 150 gone || fail "ringwave still running after the stop request"
    status=0
    wait "$pid" || status=$?
    pid=
    expect_quit_run > /dev/null
}

# Focuses the window and presses a key on the keyboard, then ends the run; finds the window
# again first if it was replaced.
end_by_key() {
    find_window || wait_window
    timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the window"
    timeout 10 xdotool key space || fail "xdotool key failed"
    end_run
}

# Saves the window's content as an image file.
screenshot() {
    timeout 20 import -window "$window" "$1" || fail "screenshot failed"
}

case_window() {
    begin_run
    geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
                                              END { print w "x" h }')
    [ "$geometry" = 320x200 ] || fail "window is $geometry, not 320x200"
    xwininfo -id "$window" | grep -q 'Map State: IsViewable' || fail "window not viewable"
    end_by_key
}

# Moving the pointer over the window, in and out of it, and another window taking the focus
# and giving it back must not end the run. The other window covers part of ringwave's: when
# it goes, sdl12-compat queues an expose notice (classic SDL 1.2 redraws by itself and
# queues nothing).
case_motion_and_focus() {
    begin_run
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
    end_by_key
}

# A key ends the run, which kept running until then; with each of the words too.
until_key() {
    begin_run -- "$@"
    sleep 0.5
    alive || fail "ringwave ended by itself"
    end_by_key
}
case_key() { until_key; }
case_fullscreen() { until_key -fullscreen; }
case_hw() { until_key -hw; }
case_flip() { until_key -flip; }

case_button() {
    begin_run
    timeout 20 xdotool mousemove --window "$window" 160 100 sleep 0.2 click 1 ||
        fail "xdotool click failed"
    end_run
}

# The window manager's delete request, as it is sent when the user closes the window.
case_close() {
    begin_run
    timeout 20 "$poke" close "$window" || fail "close request failed"
    end_run
}

# Two screenshots a second apart: many distinct colours in each, and the picture moved.
case_screenshots() {
    begin_run
    sleep 0.3
    screenshot "$work/a.png"
    sleep 1
    screenshot "$work/b.png"
    end_by_key
    for shot in a b; do
        colours=$(identify -format '%k' "$work/$shot.png") || fail "identify failed"
        [ "$colours" -ge 64 ] || fail "screenshot $shot has only $colours colours"
    done
    differing=$(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1)
    [ "${differing%%.*}" -ge 640 ] 2>/dev/null ||
        fail "screenshots differ in only '$differing' pixels"
}

# The window shows exactly the frames the effect computes. The wall clock is pinned, so the
# seed is known; the monotonic clock that times the run is left alone. A screenshot is
# searched for among frames 1 .. N of that seed, N bounding the frames the run drew (its
# rate times the run's whole wall time). Frame n's pixels are accepted in frame n's palette
# or in frame n + 1's: setting the next palette redisplays the pixels on screen in the new
# colours before they are redrawn.
case_frame_match() {
    seed=1767225600  # 2026-01-01 00:00:00 UTC
    # The libfaketime of the system SDL runs on.
    libfaketime=$(ls "$sdl_root"/usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
    [ -n "$libfaketime" ] || fail "libfaketime not found"
    start_xvfb 24
    started=$(date +%s.%N)
    start_ringwave TZ=UTC "FAKETIME=2026-01-01 00:00:00" FAKETIME_DONT_FAKE_MONOTONIC=1 \
        LD_PRELOAD="$libfaketime"
    wait_window
    sleep 0.3
    screenshot "$work/screen.png"
    end_by_key
    ended=$(date +%s.%N)
    rate=$(check_report_lines) || exit 1
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
}

run_case "$case_name"
