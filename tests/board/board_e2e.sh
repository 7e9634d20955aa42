#!/usr/bin/env bash
# End-to-end checks of the device binary on an emulated ARM board with a framebuffer and a
# keyboard, on one of the displays devices have (DISPLAY, a display path of
# boards/display-paths.sh: vexpress-fb8, virt-drm32, versatile-fb8, versatile-drm16).
# ringwave runs on SDL's framebuffer console driver as on the device, started by the
# initramfs's /init (init.sh), which the host drives over the serial console; the qemu monitor
# (QMP) presses keys and dumps the screen. On a DRM panel, which cannot switch to 320 x 200,
# the picture shows in the panel's middle, the rest black.
#   board_e2e.sh CASE DISPLAY IMAGE KERNEL RINGWAVE VT_STATE FB_MODES SNAPSHOT FRAME_CHECK
#   board_e2e.sh measure DISPLAY IMAGE KERNEL RINGWAVE VT_STATE FB_MODES SNAPSHOT FRAME_CHECK
#                PLUGIN SECONDS [WORDS]
#   board_e2e.sh profile DISPLAY IMAGE KERNEL RINGWAVE VT_STATE FB_MODES SNAPSHOT FRAME_CHECK
#                PLUGIN_SPEC SECONDS OUTDIR [WORDS]
# IMAGE: the directory boards/debian-image.sh prints (Debian's kernel and busybox); KERNEL:
# the one boards/versatile-kernel.sh prints (needed by the versatile-* paths only; others take
# any word); RINGWAVE: the device binary (static, ARM); VT_STATE: tests/support/vt_state.c
# built for the board; FB_MODES: the fb.modes file the project ships; SNAPSHOT and
# FRAME_CHECK: the host's ringwave-snapshot and frame_check. The cases are at the end, each a
# few of the steps of lib.sh.
set -u
case_name=$1
display=$2
image=$3
kernel=$4
ringwave=$5
vt_state=$6
fb_modes=$7
snapshot=$8
frame_check=$9
shift 9
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)

. "$here/lib.sh"
. "$here/../../boards/display-paths.sh"  # display_path_board
trap board_cleanup EXIT
display_path_board "$display" "$image" "$kernel" "$work/fdt" 2> "$work/board.err" ||
    { echo "FAIL: $(cat "$work/board.err")" >&2; exit 1; }

# Each run of the board display case: how it ends (a key, or a signal from /init) and the
# words it is started with.
case_display() {
    boot
    run_shown key
    check_comparison_rejects "$work/screen.ppm"
    run_shown TERM -hw
    run_shown key -flip
    run_shown TERM -fullscreen
}

# A device that lacks something SDL needs: the message, and the console given back.
case_lacks() {
    # No mouse: the board has none attached, but the nodes of the kernel's mouse multiplexer
    # (/dev/input/mice, /dev/psaux) open all the same, and SDL runs with them (the display
    # case). A device without them: SDL's video start fails unless SDL_NOMOUSE is set.
    boot
    guest "do rm /dev/input/mice /dev/psaux"
    run_failing "Couldn't initialize SDL: Unable to open mouse"
    run_shown key SDL_NOMOUSE=1
    # Permissions: a user, not root, started outside the console (here from /init), needs
    # write access to the framebuffer, and then a virtual terminal of its own to read the
    # keyboard from: SDL looks for a free one only as root.
    run_failing "Couldn't initialize SDL: No available video device" \
        as user SDL_VIDEODRIVER=fbcon SDL_NOMOUSE=1
    guest "do chgrp video /dev/fb0 && chmod 660 /dev/fb0"
    run_failing "Couldn't initialize SDL: Unable to open a console terminal" \
        as user SDL_VIDEODRIVER=fbcon SDL_NOMOUSE=1
    # Started from a virtual terminal (its controlling terminal), the user's run works, on
    # that terminal, which stays the active one.
    given_back="active 3; tty3 text unicode" run_shown key as user on 3 SDL_VIDEODRIVER=fbcon \
        SDL_NOMOUSE=1
    guest "do chvt 1"
    # No 320 x 200 entry in /etc/fb.modes: SDL's own timing for the size asks for double scan,
    # which the LCD controller's driver refuses.
    guest "do rm /etc/fb.modes"
    run_failing "Couldn't initialize video mode: .\+" SDL_NOMOUSE=1
}

# A panel mounted turned, which SDL turns the picture for (SDL_VIDEO_FBCON_ROTATION): each dump
# turned back is a frame of the run in the middle of the turned screen, black around it. A
# portrait panel is shown on turned a quarter either way; upside down it is too narrow for the
# picture, SDL's message. A landscape panel is shown on upside down.
case_turned() {
    boot
    if [ "${panel% *}" -lt "${panel#* }" ]; then
        turned=CW run_shown key SDL_VIDEO_FBCON_ROTATION=CW
        turned=CW check_comparison_rejects "$work/screen.ppm"
        turned=CCW run_shown TERM SDL_VIDEO_FBCON_ROTATION=CCW -fullscreen
        run_failing "Couldn't initialize video mode: No video mode large enough for 320x200" \
            SDL_VIDEO_FBCON_ROTATION=UD
    else
        turned=UD run_shown key SDL_VIDEO_FBCON_ROTATION=UD
        turned=UD check_comparison_rejects "$work/screen.ppm"
    fi
}

# The signals that end a run, sent while frames are drawn: a hang-up as SIGTERM (rate line,
# status 0); the others end ringwave by themselves once the console is given back; SIGKILL
# leaves it to the README's commands.
case_signals() {
    boot
    run_shown HUP
    run_shown TERM
    run_signalled USR1
    run_signalled XCPU -hw
    run_killed
}

# Not a test: the guest instructions of a whole boot with one run of SECONDS of the board's
# time, counted by qemu's instruction-counting plugin (PLUGIN), the board's clock tied to them
# (-icount shift=0: one nanosecond a guest instruction). Prints "insns COUNT rate RATE".
case_measure() {
    local plugin=$1 seconds=$2
    shift 2
    qemu_extra=(-icount shift=0 -plugin "$plugin,inline=on" -d plugin -D "$work/plugin.log")
    measured_run "$seconds" "$@"
    power_off
    insns=$(awk '/^insns:/ { print $2 }' "$work/plugin.log")
    [ -n "$insns" ] || board_fail "no count from the plugin"
    echo "insns $insns rate $rate"
}

# Not a test: as measure, with PLUGIN_SPEC (a plugin and its arguments, e.g. the block
# profile writing into OUTDIR) in place of the instruction counter. Leaves in OUTDIR the run's
# rate ("rate RATE") and the kernel's text symbols as the board has them (/proc/kallsyms: the
# kernel's and its modules', read after the run, on both boots alike).
case_profile() {
    local plugin_spec=$1 seconds=$2 outdir=$3
    shift 3
    qemu_extra=(-icount shift=0 -plugin "$plugin_spec")
    measured_run "$seconds" "$@"
    guest "do grep ' [tTwW] ' /proc/kallsyms" 1200
    answer said > "$outdir/kallsyms"
    power_off
    echo "rate $rate" > "$outdir/rate"
    echo "rate $rate"
}

case "$case_name" in
display | lacks | signals | turned)
    "case_$case_name"
    guest off
    echo "ok: $case_name"
    ;;
measure | profile)
    "case_$case_name" "$@"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
