#!/usr/bin/env bash
# Guest instructions a frame of ringwave on each emulated ARM processor, all of user space (the
# program, SDL, the C library, libgcc's software doubles where the build has no FPU), under
# SDL's dummy video driver:
#   bench/arm-cpu-counts.sh [RINGWAVE]        (default: build/arm-release/ringwave)
# Runs the device binary under qemu-arm -cpu CPU for ti925t (ARMv4T), arm926 (ARMv5TE), arm1176
# (ARMv6), cortex-a7, cortex-a8, cortex-a9 and cortex-a15 (ARMv7 with NEON); then the builds an
# SDK makes (scripts/sdk-build.sh, dynamic, on Debian's glibc and SDL 1.2): armhf (ARMv7,
# Thumb-2, hard-float) under qemu-arm -cpu cortex-a7 and cortex-a15, and arm64 under
# qemu-aarch64 -cpu cortex-a53 and cortex-a72, each with its sysroot (-L). The plugin of
# bench/frame_insns.c (bench/qemu-plugin.sh frames) reads the instruction count at each entry
# into composeFrame: frames 10 .. 110 give the cost of a frame, frame 1 what start-up costs
# before it; and the memory the program has asked the kernel for by then (program break and
# anonymous mappings; for the dynamic builds, the loader's and libraries' too). The pixel loop
# start-up chose is what each build's pixel_loop_check prints on that processor. Targets: the
# device build's on each class, the arm64 build's; the armhf build has none. Reported, never
# asserted; the speeds are drawn from the clock, so a frame's cost varies a little from
# run to run (a few hundred).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/arm-release
ringwave=$(realpath -m "${1:-$build/ringwave}")
[ -x "$ringwave" ] || "$root/scripts/arm-build.sh" > /dev/null
cmake --build "$build" --target pixel_loop_check -j 2 > /dev/null
plugin=$("$root/bench/qemu-plugin.sh" frames)

first=10
last=110
echo "Guest instructions under qemu-user -cpu CPU, SDL_VIDEODRIVER=dummy, all of user space;"
echo "a frame: frames $first .. $last"
printf '%-7s %-11s %-6s %14s %12s %12s  %s\n' build cpu loop "before frame 1" "a frame" \
       "memory" target

# measure LABEL RINGWAVE CHECK NM QEMU [QEMU ARGS...] < "CPU TARGET" lines
measure() {
    local label=$1 program=$2 check=$3 nm=$4
    shift 4
    local qemu=("$@") marker where cpu target loop line before frame_x100 memory
    marker=$("$nm" "$program" | awk '$3 ~ /^_Z12composeFrame/ && !found { print $1, $3; found = 1 }')
    [ -n "$marker" ] || { echo "arm-cpu-counts.sh: no composeFrame in $program" >&2; exit 1; }
    read -r marker symbol <<< "$marker"
    # A position-independent program is loaded at an address not known before: found by name.
    where="marker=0x$marker"
    if [ "$(LC_ALL=C readelf -h "$program" | awk '$1 == "Type:" { print $2 }')" = DYN ]; then
        where="$where,symbol=$symbol"
    fi
    while read -r cpu target; do
        loop=$("${qemu[@]}" -cpu "$cpu" "$check" - 2>/dev/null < /dev/null |
               awk '/^pixel loop:/ { print $3 }' || true)
        line=$(SDL_VIDEODRIVER=dummy "${qemu[@]}" -cpu "$cpu" \
            -plugin "$plugin,$where,first=$first,last=$last" "$program" 2>&1 >/dev/null < /dev/null |
            awk '/^frames / { print $2, $3, $4 }' || true)
        if [ -z "$line" ]; then
            printf '%-7s %-11s %-6s %14s\n' "$label" "$cpu" "${loop:--}" \
                   "does not run (illegal instruction)"
            continue
        fi
        read -r before frame_x100 memory <<< "$line"
        awk -v label="$label" -v cpu="$cpu" -v loop="${loop:--}" -v b="$before" \
            -v f="$frame_x100" -v m="$memory" -v t="$target" 'BEGIN {
                frame = f / 100
                printf "%-7s %-11s %-6s %14d %12.0f %12d  ", label, cpu, loop, b, frame, m
                if (t == "-") print "-"
                else printf "<= %d: %s\n", t, frame <= t ? "met" : "NOT met"
            }'
    done
}

measure device "$ringwave" "$build/tests/pixel_loop_check" arm-linux-gnueabi-nm qemu-arm <<'PROCESSORS'
ti925t 105000
arm926 105000
arm1176 105000
cortex-a7 75000
cortex-a8 75000
cortex-a9 75000
cortex-a15 75000
PROCESSORS

# The SDK builds: made when missing, their sysroots named by the toolchain file's setting.
for target in armhf:arm-linux-gnueabihf:qemu-arm arm64:aarch64-linux-gnu:qemu-aarch64; do
    IFS=: read -r arch triplet qemu <<< "$target"
    sdk=$root/build/sdk-$arch
    [ -x "$sdk/ringwave" ] && [ -x "$sdk/tests/pixel_loop_check" ] ||
        "$root/scripts/sdk-build.sh" "$arch" > /dev/null
    sysroot=$(awk -F= '/^SDK_SYSROOT:/ { print $2 }' "$sdk/CMakeCache.txt")
    case "$arch" in
    armhf) processors="cortex-a7 -
cortex-a15 -" ;;
    arm64) processors="cortex-a53 75000
cortex-a72 75000" ;;
    esac
    measure "$arch" "$sdk/ringwave" "$sdk/tests/pixel_loop_check" "$triplet-nm" \
            "$qemu" -L "$sysroot" <<< "$processors"
done
