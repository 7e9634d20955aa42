#!/usr/bin/env bash
# Guest instructions a frame of the device binary on each emulated ARM processor, all of user
# space (the program, SDL, the C library, libgcc's software doubles), under SDL's dummy video
# driver:
#   bench/arm-cpu-counts.sh [RINGWAVE]        (default: build/arm-release/ringwave)
# Runs ringwave under qemu-arm -cpu CPU for ti925t (ARMv4T), arm926 (ARMv5TE), arm1176
# (ARMv6), cortex-a7, cortex-a8, cortex-a9 and cortex-a15 (ARMv7 with NEON), with the plugin of
# bench/frame_insns.c (bench/qemu-plugin.sh frames), which reads the instruction count at each
# entry into composeFrame: frames 10 .. 110 give the cost of a frame, frame 1 what start-up
# costs before it; and the memory the program has asked the kernel for by then (program break
# and anonymous mappings). The pixel loop start-up chose is what the device build's
# pixel_loop_check prints on that processor. Reported, never asserted; the speeds are drawn
# from the clock, so a frame's cost varies a little from run to run (a few hundred).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/arm-release
ringwave=$(realpath -m "${1:-$build/ringwave}")
[ -x "$ringwave" ] || "$root/scripts/arm-build.sh" > /dev/null
check=$build/tests/pixel_loop_check
cmake --build "$build" --target pixel_loop_check -j 2 > /dev/null
plugin=$("$root/bench/qemu-plugin.sh" frames)
marker=$(arm-linux-gnueabi-nm "$ringwave" | awk '$3 ~ /^_Z12composeFrame/ { print $1 }')
[ -n "$marker" ] || { echo "arm-cpu-counts.sh: no composeFrame in $ringwave" >&2; exit 1; }

first=10
last=110
echo "Guest instructions of $ringwave under qemu-arm -cpu CPU, SDL_VIDEODRIVER=dummy,"
echo "all of user space; a frame: frames $first .. $last"
printf '%-11s %-6s %14s %12s %12s  %s\n' cpu loop "before frame 1" "a frame" "memory" target
while read -r cpu target; do
    loop=$(qemu-arm -cpu "$cpu" "$check" - 2>/dev/null | awk '/^pixel loop:/ { print $3 }' || true)
    line=$(SDL_VIDEODRIVER=dummy qemu-arm -cpu "$cpu" \
        -plugin "$plugin,marker=0x$marker,first=$first,last=$last" "$ringwave" 2>&1 >/dev/null |
        awk '/^frames / { print $2, $3, $4 }' || true)
    if [ -z "$line" ]; then
        printf '%-11s %-6s %14s\n' "$cpu" "${loop:--}" "does not run (illegal instruction)"
        continue
    fi
    read -r before frame_x100 memory <<< "$line"
    awk -v cpu="$cpu" -v loop="${loop:--}" -v b="$before" -v f="$frame_x100" -v m="$memory" \
        -v t="$target" 'BEGIN {
            frame = f / 100
            printf "%-11s %-6s %14d %12.0f %12d  <= %d: %s\n", cpu, loop, b, frame, m, t,
                   frame <= t ? "met" : "NOT met"
        }'
done <<'PROCESSORS'
ti925t 105000
arm926 105000
arm1176 105000
cortex-a7 75000
cortex-a8 75000
cortex-a9 75000
cortex-a15 75000
PROCESSORS
