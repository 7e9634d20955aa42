#!/usr/bin/env bash
# The device's SDL converts 8-bit surfaces to 16- and 32-bit ones with the project's ARM loops
# (toolchain/patches/sdl/): the same bytes as SDL's own C loops. sdl_blit_dump built against the
# patched library and against the unpatched one (toolchain/sdl-build.sh makes both) runs under
# qemu-arm on the device's processors, the ARM926 (ARMv5TE) and, when the binaries are built
# for ARMv4T, the ti925t (ARMv4T); the two outputs must be equal, byte for byte.
#   sdl_blit_check.sh NM READELF PATCHED_DUMP UNPATCHED_DUMP QEMU_ARM [ARGS...]
set -u
nm=$1 readelf=$2 patched=$3 unpatched=$4
shift 4
qemu=("$@")
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each binary links the library it was meant to: the ARM loops in one, not in the other.
loops="SDL_Blit1to2_ARM SDL_Blit1to2Odd_ARM SDL_Blit1to4_ARM"
for loop in $loops; do
    "$nm" "$patched" | grep -qw "$loop" || fail "$patched: no $loop (SDL without the patch?)"
    ! "$nm" "$unpatched" | grep -qw "$loop" || fail "$unpatched: has $loop (a patched SDL)"
done

cpus=arm926
if "$readelf" -A "$patched" | grep -q 'Tag_CPU_arch: v4T$' &&
        "$readelf" -A "$unpatched" | grep -q 'Tag_CPU_arch: v4T$'; then
    cpus="$cpus ti925t"
else
    echo "not on the ti925t: the binaries are not built for ARMv4T"
fi
for cpu in $cpus; do
    "${qemu[@]}" -cpu "$cpu" "$unpatched" > "$work/expected" || fail "$cpu: unpatched run failed"
    "${qemu[@]}" -cpu "$cpu" "$patched" > "$work/actual" || fail "$cpu: patched run failed"
    [ -s "$work/expected" ] || fail "$cpu: no output"
    if ! cmp -s "$work/expected" "$work/actual"; then
        # The case around the first difference: the last header line before it.
        at=$(cmp "$work/expected" "$work/actual" | awk '{ sub(",", "", $5); print $5 }')
        echo "FAIL: $cpu: the patched SDL converts differently, first at byte $at, in:" >&2
        head -c "$at" "$work/expected" | grep -a '^case ' | tail -n 1 >&2
        exit 1
    fi
    echo "ok: $cpu: $(grep -ac '^case ' "$work/expected") cases, $(wc -c < "$work/expected") bytes equal"
done
