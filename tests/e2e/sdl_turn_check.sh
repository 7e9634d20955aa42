#!/usr/bin/env bash
# The device's SDL turns the screen into a panel mounted turned (SDL_VIDEO_FBCON_ROTATION) with
# the project's patch (toolchain/patches/sdl/): an 8-bit screen on a 16- or 32-bit panel is
# converted and turned in one pass, an 8-bit panel's own screen turned, by ARM loops in ARM
# state. sdl_turn_dump shows the same cases three ways (the driver's path, SDL's conversion then
# the driver's turning of the converted screen, SDL's conversion then a plain turn), built
# against the patched SDL; the plain way again built against SDL without the patches (its own
# C conversion loops). All four outputs must be equal, byte for byte, under qemu-arm on each
# processor: the ti925t (ARMv4T) when the binaries are built for ARMv4T, the ARM926 (ARMv5TE)
# and the Cortex-A9 and A15 (NEON).
#   sdl_turn_check.sh NM READELF PATCHED_DUMP UNPATCHED_DUMP QEMU_ARM
set -u
nm=$1 readelf=$2 patched=$3 unpatched=$4 qemu=$5
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each binary links the library it was meant to: the turning loops in one, not in the other.
for loop in SDL_FB_Turn8to8_ARM SDL_FB_Turn8to16_ARM SDL_FB_Turn8to32_ARM SDL_FB_TestUpdate; do
    "$nm" "$patched" | grep -qw "$loop" || fail "$patched: no $loop (SDL without the patch?)"
    ! "$nm" "$unpatched" | grep -qw "$loop" || fail "$unpatched: has $loop (a patched SDL)"
done

cpus="arm926 cortex-a9 cortex-a15"
if "$readelf" -A "$patched" | grep -q 'Tag_CPU_arch: v4T$' &&
        "$readelf" -A "$unpatched" | grep -q 'Tag_CPU_arch: v4T$'; then
    cpus="ti925t $cpus"
else
    echo "not on the ti925t: the binaries are not built for ARMv4T"
fi
# run CPU NAME BINARY MODE: the output of one way in $work/NAME.
run() {
    "$qemu" -cpu "$1" "$3" "$4" > "$work/$2" || fail "$1: $2 run failed"
    [ -s "$work/$2" ] || fail "$1: $2: no output"
}
for cpu in $cpus; do
    run "$cpu" expected "$unpatched" reference
    for way in driver twostep reference; do
        run "$cpu" "$way" "$patched" "$way"
        if ! cmp -s "$work/expected" "$work/$way"; then
            # The case around the first difference: the last header line before it.
            at=$(cmp "$work/expected" "$work/$way" | awk '{ sub(",", "", $5); print $5 }')
            echo "FAIL: $cpu: the patched SDL's $way differs, first at byte $at, in:" >&2
            head -c "$at" "$work/expected" | grep -a '^case ' | tail -n 1 >&2
            exit 1
        fi
    done
    echo "ok: $cpu: $(grep -ac '^case ' "$work/expected") cases, $(wc -c < "$work/expected")" \
        "bytes equal four ways"
done
