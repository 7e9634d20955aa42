#!/usr/bin/env bash
# Guest instructions per frame of the device binary on an emulated board, the whole system
# counted (kernel, SDL, the framebuffer driver, the program):
#   bench/board/insn-counts.sh [RINGWAVE [BOARD [WORDS]]]
# (defaults: build/arm-release/ringwave; the first board, by name, of those that boot the
# kernel of boards/debian-image.sh; the boards are the folders of boards/). WORDS: one set of
# words to measure, environment first (e.g. "SDL_VIDEO_FBCON_ROTATION=CW -hw"), in place of
# the three sets no words, -hw and -flip.
# Boots the board (tests/board) under -icount shift=0, where the board's clock advances one
# nanosecond per guest instruction, with qemu's instruction-counting plugin (built by
# bench/qemu-plugin.sh), twice for each set of words: ringwave runs 1 and 3 seconds of
# the board's time. The difference of the two boots' counts over the difference of their
# frames (rate times seconds) is the cost of one frame; 10^9 over the rate gives the same
# when the processor never idles. Reported, never asserted. Needs the device build
# (build/arm-release, uClibc-ng) and the host build (build/test) that scripts/test.sh makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
python=/usr/bin/python3
ringwave=$(realpath "${1:-$root/build/arm-release/ringwave}")
board=${2:-$("$python" "$root/boards/boards.py" list |
             awk '$2 == "debian-image.sh" { print $1; exit }')}
plugin=$("$root/bench/qemu-plugin.sh" insn)
script=$("$python" "$root/boards/boards.py" kernel "$board")
pieces=debian-image.sh=$("$root/boards/debian-image.sh")
[ "$script" = debian-image.sh ] || pieces+=,$script=$("$root/boards/$script")
vt_state=$root/build/arm-release/tests/board/vt_state
[ -x "$vt_state" ] || cmake --build "$root/build/arm-release" --target vt_state > /dev/null

short=1
long=3
measure() {
    "$python" "$root/tests/board/board_e2e.py" measure "$board" "$pieces" "$ringwave" \
        "$vt_state" "$root/data/fb.modes" "$root/build/test/ringwave-snapshot" \
        "$root/build/test/tests/frame_check" "$plugin" "$@" | awk '/^insns / { print $2, $4 }'
}

echo "Guest instructions per frame on the board $board (-icount shift=0),"
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
