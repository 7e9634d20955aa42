#!/usr/bin/env bash
# Guest instructions per frame of the device binary on the emulated board, the whole system
# counted (kernel, SDL, the framebuffer driver, the program):
#   bench/board/insn-counts.sh [RINGWAVE [DISPLAY [WORDS]]]
# (defaults: build/arm-release/ringwave, the display path vexpress-fb8; the others are listed
# in boards/display-paths.sh). WORDS: one set of words to measure, environment first (e.g.
# "SDL_VIDEO_FBCON_ROTATION=CW -hw"), in place of the three sets no words, -hw and -flip.
# Boots the board (tests/board) under -icount shift=0, where the board's clock advances one
# nanosecond per guest instruction, with qemu's instruction-counting plugin (built by
# bench/qemu-plugin.sh), twice for each set of words: ringwave runs 1 and 3 seconds of
# the board's time. The difference of the two boots' counts over the difference of their
# frames (rate times seconds) is the cost of one frame; 10^9 over the rate gives the same
# when the processor never idles. Reported, never asserted. Needs the device build
# (build/arm-release, uClibc-ng) and the host build (build/test) that scripts/test.sh makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
ringwave=$(realpath "${1:-$root/build/arm-release/ringwave}")
display=${2:-vexpress-fb8}
plugin=$("$root/bench/qemu-plugin.sh" insn)
image=$("$root/boards/debian-image.sh")
kernel=-
case "$display" in versatile-*) kernel=$("$root/boards/versatile-kernel.sh") ;; esac
vt_state=$root/build/arm-release/tests/vt_state
[ -x "$vt_state" ] || cmake --build "$root/build/arm-release" --target vt_state > /dev/null

short=1
long=3
measure() {
    bash "$root/tests/board/board_e2e.sh" measure "$display" "$image" "$kernel" "$ringwave" \
        "$vt_state" \
        "$root/data/fb.modes" "$root/build/test/ringwave-snapshot" \
        "$root/build/test/tests/frame_check" "$plugin" "$@" | awk '/^insns / { print $2, $4 }'
}

echo "Guest instructions per frame on the board, display path $display (-icount shift=0),"
echo "the whole system"
printf '%-12s %12s %12s %14s %14s\n' words "rate (1 s)" "rate (3 s)" "per frame" "10^9 / rate"
word_sets=("" -hw -flip)
[ $# -lt 3 ] || word_sets=("$3")
for words in "${word_sets[@]}"; do
    read -r short_insns short_rate < <(measure "$short" $words)
    read -r long_insns long_rate < <(measure "$long" $words)
    awk -v w="${words:-(none)}" -v i1="$short_insns" -v r1="$short_rate" -v s1="$short" \
        -v i2="$long_insns" -v r2="$long_rate" -v s2="$long" 'BEGIN {
            printf "%-12s %12.1f %12.1f %14.0f %14.0f\n", w, r1, r2,
                   (i2 - i1) / (r2 * s2 - r1 * s1), 1e9 / r2
        }'
done
