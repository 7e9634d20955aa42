# Sourced by board_e2e.sh: the steps the board cases are made of. The caller sets work (a
# scratch folder), the board (display_path_board in boards/display-paths.sh), and the files
# the board runs: ringwave, vt_state, fb_modes, image, here (this folder); the checks use
# snapshot and frame_check from the host build. Every wait is a poll with a bound.

. "$here/../e2e/report_checks.sh"  # fail, check_report_lines
qemu_pid=
reader_pid=

# RINGWAVE_BOARD_KEEP=DIR keeps the run's files (screen dumps, serial log) in DIR/PATH.CASE.
board_cleanup() {
    local keep=${RINGWAVE_BOARD_KEEP:+$RINGWAVE_BOARD_KEEP/$display.$case_name}
    [ -n "$keep" ] && mkdir -p "$keep" && cp -r "$work/." "$keep/"
    [ -n "$qemu_pid" ] && kill -KILL "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
    [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null && wait "$reader_pid" 2>/dev/null
    rm -rf "$work"
}

# fail from report_checks.sh, with the board's serial output.
board_fail() {
    [ -f "$work/serial.log" ] && tail -n 40 "$work/serial.log" | sed 's/^/  serial: /' >&2
    fail "$@"
}

poll() {
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
    return 1
}

# The pinned wall clock of the board: the seed is this second, or one of the next few (boot).
board_clock=2026-01-01T00:00:00

# The initramfs: busybox, /init, the device binary and what a device would have besides
# (/etc/fb.modes, the modules of the display path, named in load order in /lib/modules/load).
make_initramfs() {
    local root=$work/root
    mkdir -p "$root"/{bin,dev,etc,lib/modules,proc,sys,tmp}
    cp "$image/busybox" "$root/bin/busybox"
    for applet in sh mount insmod cat chgrp chmod chvt cut date env grep kill openvt reboot rm \
                  sed seq sleep su; do
        ln -s busybox "$root/bin/$applet"
    done
    cp "$here/init.sh" "$root/init"
    cp "$ringwave" "$root/bin/ringwave"
    # The console's rescue after a SIGKILL, from the same build (where it has one).
    local rescue; rescue=$(dirname "$ringwave")/ringwave-console
    [ -f "$rescue" ] && cp "$rescue" "$root/bin/ringwave-console" &&
        chmod 755 "$root/bin/ringwave-console"
    cp "$vt_state" "$root/bin/vt_state"
    chmod 755 "$root/init" "$root/bin/ringwave" "$root/bin/vt_state"
    cp "$fb_modes" "$root/etc/fb.modes"
    printf 'root:x:0:0::/:/bin/sh\nuser:x:1000:1000::/tmp:/bin/sh\n' > "$root/etc/passwd"
    printf 'root:x:0:\nvideo:x:44:user\nuser:x:1000:\n' > "$root/etc/group"
    local module
    while read -r module; do
        cp "$modules/$module" "$root/lib/modules/" || fail "no module $module"
    done < "$load"
    cp "$load" "$root/lib/modules/load"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz" ||
        fail "cannot make the initramfs"
}

# Boots the board; the serial console and the monitor are pipes (qemu opens NAME.in and
# NAME.out), the serial output is copied to serial.log.
boot() {
    make_initramfs
    mkfifo "$work/con.in" "$work/con.out" "$work/qmp.in" "$work/qmp.out"
    # Read-write opens of the pipes never block, whoever comes first.
    exec {con_in}<>"$work/con.in" {qmp_in}<>"$work/qmp.in" {qmp_out}<>"$work/qmp.out"
    cat 0<>"$work/con.out" > "$work/serial.log" &
    reader_pid=$!
    QEMU_AUDIO_DRV=none qemu-system-arm "${machine[@]}" -nodefaults -display none \
        -kernel "$kernel_file" ${dtb:+-dtb "$dtb"} -initrd "$work/initramfs.gz" \
        -append "console=ttyAMA0 quiet" -no-reboot -rtc base=$board_clock \
        -chardev pipe,id=con,path="$work/con" -serial chardev:con \
        -chardev pipe,id=qmp,path="$work/qmp" -mon chardev=qmp,mode=control \
        "${qemu_extra[@]}" > "$work/qemu.log" 2>&1 &
    qemu_pid=$!
    qmp_reply > /dev/null || board_fail "no QMP greeting"
    qmp '{"execute":"qmp_capabilities"}' > /dev/null
    poll 900 grep -q '^@init ready' "$work/serial.log" || board_fail "the board did not boot"
    initial_vt=$(sed -n 's/^@init ready //p' "$work/serial.log" | tr -d '\r')
    initial_fb=$(sed -n 's/^@init fb //p' "$work/serial.log" | tr -d '\r')
}
qemu_extra=()
qemu_gone() { ! kill -0 "$qemu_pid" 2>/dev/null; }

# The next reply of the monitor (events skipped), within 30 s.
qmp_reply() {
    local line
    while IFS= read -r -t 30 line <&"$qmp_out"; do
        case "$line" in *'"event"'*) continue ;; esac
        printf '%s\n' "$line"
        return 0
    done
    return 1
}
qmp() {
    printf '%s\n' "$1" >&"$qmp_in"
    local reply
    reply=$(qmp_reply) || board_fail "no reply from the monitor to $1"
    case "$reply" in *'"error"'*) board_fail "monitor: $1: $reply" ;; esac
    printf '%s\n' "$reply"
}

# Runs one /init command and waits for its end (up to $2 tenths of a second, default 30 s);
# its answer lines, without the "@SEQ " prefix, are in $work/answer.
seq_no=0
guest() {
    local command=$1 tries=${2:-300}
    seq_no=$((seq_no + 1))
    printf '%s %s\n' "$seq_no" "$command" >&"$con_in"
    poll "$tries" grep -q "^@$seq_no done" "$work/serial.log" ||
        board_fail "the board did not finish '$command'"
    tr -d '\r' < "$work/serial.log" | sed -n "s/^@$seq_no //p" | grep -v '^done$' \
        > "$work/answer"
}
answer() { sed -n "s/^$1 //p" "$work/answer"; }

# Saves the screen as a PPM file, the board paused meanwhile: qemu reads the framebuffer into
# its display row by row, and a busy host can stop that reading for longer than the board takes
# for a frame or two, so the rows of a dump taken while the board runs can come from frames
# in any order. Paused, the dump is the framebuffer at one instant.
screendump() {
    rm -f "$1"
    qmp '{"execute":"stop"}' > /dev/null
    qmp "{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"$1\"}}" > /dev/null
    qmp '{"execute":"cont"}' > /dev/null
}
# Width and height of a PPM file, "W H".
ppm_size() { head -c 20 "$1" | sed -n 2p; }
shows_mode() {
    screendump "$work/probe.ppm"
    [ "$(ppm_size "$work/probe.ppm")" = "$1" ]
}
# ringwave's picture is on the screen: 320 x 200 (the LCD controller switched to it) or in
# the middle of a larger panel, black around it, and not all one colour.
shows_picture() {
    screendump "$work/probe.ppm"
    upright "$work/probe.ppm"
    "$frame_check" picture "$work/probe.ppm" 2> /dev/null
}
# A dump of a panel SDL turns as $turned says (SDL_VIDEO_FBCON_ROTATION's CW, CCW or UD;
# empty: not turned) turned back in place: the screen as ringwave drew it.
upright() {
    local degrees
    case "${turned:-}" in
    "") return 0 ;;
    CW) degrees=270 ;;
    CCW) degrees=90 ;;
    UD) degrees=180 ;;
    *) board_fail "no turn '$turned'" ;;
    esac
    convert "$1" -rotate "$degrees" -depth 8 "$1" || board_fail "convert failed"
}
# The text console is back: the screen is the panel's size again, and no picture.
shows_console() {
    shows_mode "$panel" && ! "$frame_check" picture "$work/probe.ppm" 2> /dev/null
}

press_key() {
    qmp '{"execute":"send-key","arguments":{"keys":[{"type":"qcode","data":"spc"}]}}' \
        > /dev/null
}

# Starts ringwave with the environment and words given (start's arguments) and waits for its
# picture to show: only then has SDL taken the keyboard (a key pressed before is lost).
start_run() {
    guest "start $*"
    seed=$(answer seed | cut -d' ' -f1)
    started=$(answer seed | cut -d' ' -f3)
    poll 600 shows_picture || board_fail "ringwave's picture never showed"
}

# While ringwave runs: its terminal is in graphics mode, its keyboard in medium-raw mode.
check_vt_taken() {
    guest state
    local vt; vt=$(answer vt)
    case "$vt" in
    *graphics\ mediumraw*) ;;
    *) board_fail "ringwave's terminal is not in graphics and medium-raw mode: $vt" ;;
    esac
}

# Waits for ringwave's end; leaves its output in $work/out and $work/err, its status in
# $status, the terminals' state in $vt and the framebuffer's mode in $fb.
wait_end() {
    guest wait 600
    status=$(answer status | cut -d' ' -f1)
    ended=$(answer status | cut -d' ' -f3)
    answer out > "$work/out"
    answer err > "$work/err"
    vt=$(answer vt)
    fb=$(answer fb)
}

# The console is given back: the terminals as before the run (or as $given_back says), the
# framebuffer in its mode of before, and the text console on the screen (the panel's size, no
# picture).
check_given_back() {
    [ "$vt" = "${given_back:-$initial_vt}" ] ||
        board_fail "the console was not given back: '$vt', not '${given_back:-$initial_vt}'"
    [ "$fb" = "$initial_fb" ] ||
        board_fail "the framebuffer's mode was not given back: '$fb', not '$initial_fb'"
    poll 50 shows_console || board_fail "the text console did not come back ($panel)"
}

# Waits for ringwave's end and checks that the console is given back.
wait_run() {
    wait_end
    check_given_back
}

# A completed run: status 0, nothing on standard error, the report with a positive rate.
check_completed_run() {
    [ "$status" = 0 ] || fail "exit status $status"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    rate=$(check_report_lines) || exit 1
    awk -v r="$rate" 'BEGIN { exit !(r + 0 > 0) }' || fail "rate not positive: $rate"
}

# Frames the run can have drawn: its rate times its whole time on the board's clock.
most_frames() {
    awk -v r="$rate" -v a="$started" -v b="$ended" 'BEGIN { printf "%d", r * (b - a) + 2 }'
}

# The dump is a frame of the run: of its seed (the second /init read, or the next), every
# pixel of it (no pointer drawn over it), in the middle of the panel, black around it.
check_shows_frame() {
    local dump=$1 most found
    most=$(most_frames)
    found=$(timeout 120 "$frame_check" device "$seed" "$most" "$dump" "$colours" \
                "${turned:-NONE}" ||
            timeout 120 "$frame_check" device $((seed + 1)) "$most" "$dump" "$colours" \
                "${turned:-NONE}") ||
        fail "no frame of seed $seed or $((seed + 1)) up to $most is on the screen"
    echo "screen: frame $found"
}

# True when frame_check finds no frame of the seed in the image (status 1, not 2: an error).
finds_none() {
    timeout 120 "$frame_check" device "$1" "$(most_frames)" "$2" "$colours" "${turned:-NONE}" \
        > /dev/null 2>&1
    [ $? = 1 ]
}

# The search tells pictures apart: the dump with one pixel changed, a frame of another run,
# the dump under the second before the run's (a seed it cannot have), and the picture one
# pixel off the panel's middle are all refused.
check_comparison_rejects() {
    local dump=$1 offset byte width height header
    read -r width height < <(ppm_size "$dump")
    header=$(head -n 3 "$dump" | wc -c)
    # The pixel in the middle of the picture, each channel's top bit flipped.
    cp "$dump" "$work/wrong-pixel.ppm"
    local row=$((height / 2)) column=$((width / 2))
    offset=$((header + (row * width + column) * 3))
    for byte in $(od -An -tu1 -j "$offset" -N 3 "$dump"); do
        printf "\\$(printf %03o $((byte ^ 0x80)))"
    done | dd of="$work/wrong-pixel.ppm" bs=1 seek="$offset" conv=notrunc status=none
    cmp -s "$dump" "$work/wrong-pixel.ppm" && fail "the pixel was not changed"
    for candidate in "$seed" $((seed + 1)); do
        finds_none "$candidate" "$work/wrong-pixel.ppm" ||
            fail "a dump with a wrong pixel matches seed $candidate"
    done
    "$snapshot" $((seed + 1000)) 100 "$work/other.bmp" || fail "ringwave-snapshot failed"
    convert -size "${width}x$height" xc:black "$work/other.bmp" -gravity center -composite \
        -depth 8 "$work/other.ppm" || fail "convert failed"
    for candidate in "$seed" $((seed + 1)); do
        finds_none "$candidate" "$work/other.ppm" ||
            fail "a frame of another run matches seed $candidate"
    done
    finds_none $((seed - 1)) "$dump" || fail "the dump also matches seed $((seed - 1))"
    convert "$dump" -roll +1+0 -depth 8 "$work/moved.ppm" || fail "convert failed"
    for candidate in "$seed" $((seed + 1)); do
        finds_none "$candidate" "$work/moved.ppm" ||
            fail "the picture one pixel to the right matches seed $candidate"
    done
    echo "refused: a wrong pixel, a frame of another run, another seed, the picture moved"
}

# Ends the run that is on the screen: END is key (a key pressed on the board's keyboard) or a
# signal's name (TERM, HUP, ...) that /init sends ringwave.
end_run() {
    if [ "$1" = key ]; then press_key; else guest "kill $1"; fi
}

# One run shown on the board: started with the environment and words given, a dump taken, and
# ended by END (end_run), then checked as a completed run.
run_shown() {
    local end=$1; shift
    start_run "$@"
    sleep 1  # frames, not the screen SDL cleared when it set the mode
    screendump "$work/screen.ppm"
    upright "$work/screen.ppm"
    check_vt_taken
    end_run "$end"
    wait_run
    check_completed_run
    echo "run '$*' ended by $end: rate $rate frames/sec"
    check_shows_frame "$work/screen.ppm"
}

# One run ended by SIGNAL (a name, USR1, XCPU, ...) whose default action ends the process:
# SDL gives the console back, then the signal ends ringwave: status 128 + its number, no rate
# line, nothing on standard error.
run_signalled() {
    local signal=$1; shift
    start_run "$@"
    check_vt_taken
    end_run "$signal"
    wait_run
    [ "$status" = $((128 + $(kill -l "$signal"))) ] || fail "exit status $status after SIG$signal"
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout after SIG$signal"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    echo "run '$*' ended by SIG$signal: status $status, the console given back"
}

# The console after SIGKILL, which no program can catch (the kernel's out-of-memory killer
# sends it too): left as SDL set it, until the commands the README's device section gives are
# run on the board, one after the other. They are exactly these, and they give the console
# back as it was.
console_recovery=("ringwave-console" "chvt 1")
run_killed() {
    start_run "$@"
    end_run KILL
    wait_end
    [ "$status" = 137 ] || fail "exit status $status after SIGKILL"
    case "$vt" in
    *graphics\ mediumraw*) ;;
    *) board_fail "SIGKILL left no terminal in graphics and medium-raw mode: $vt" ;;
    esac
    echo "run '$*' ended by SIGKILL: $vt; $fb"
    # The device's own tools alone cannot: SDL locked terminal switching, and the kernel
    # leaves no terminal that is in graphics mode; chvt waits for a switch that never comes.
    guest "do busybox timeout 2 chvt 1 || echo refused"
    guest state
    [ "$(answer vt)" = "$vt" ] || board_fail "chvt switched after SIGKILL: $(answer vt)"
    local command
    for command in "${console_recovery[@]}"; do
        guest "do $command"
        [ ! -s "$work/answer" ] || board_fail "'$command' said: $(answer said)"
    done
    guest state
    vt=$(answer vt)
    fb=$(answer fb)
    check_given_back
    echo "$(printf '%s; ' "${console_recovery[@]}")gave the console back: $vt; $fb"
}

# A run that fails at start-up: status 1, the progress line, one line on standard error that
# matches $1, and the console given back.
run_failing() {
    local message=$1; shift
    guest "start $*"
    seed=$(answer seed | cut -d' ' -f1)
    wait_run
    [ "$status" = 1 ] || fail "exit status $status"
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout"
    [ "$(wc -l < "$work/err")" -eq 1 ] || fail "one stderr line expected"
    grep -qx "$message" "$work/err" || fail "stderr does not match '$message'"
    echo "run '$*' failed as expected: $(cat "$work/err")"
}

# For measure and profile: boots under qemu_extra's plugin, runs ringwave $1 seconds of the
# board's time with the words that follow, and checks the run.
measured_run() {
    boot
    guest "measure $*" 1200
    status=$(answer status)
    answer out > "$work/out"
    answer err > "$work/err"
    check_completed_run
}
# Powers the board off and waits for qemu to end.
power_off() {
    guest off
    poll 300 qemu_gone || board_fail "the board did not power off"
    qemu_pid=
}

