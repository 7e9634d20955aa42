#!/usr/bin/env bash
# SDL 1.2 for the device's C library: static, fbcon and dummy video only (toolchain/sdl-build.sh),
# compiled with the uClibc-ng wrappers of toolchain/uclibc-toolchain.sh (which it runs first):
#   toolchain/uclibc-sysroot.sh [LINK]        (default LINK: build/uclibc-sysroot)
# Cached under ${XDG_CACHE_HOME:-~/.cache}/ringwave/, named by a key of this script,
# sdl-build.sh and the toolchain's own key; LINK is a symbolic link to it. Built in a scratch
# folder and renamed into place only when complete. About two minutes the first time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The link itself is replaced, not what it points to.
link=${1:-$root/build/uclibc-sysroot}
link=$(realpath -m "$(dirname "$link")")/$(basename "$link")
"$root/toolchain/uclibc-toolchain.sh"
toolchain=$(readlink -f "$root/build/uclibc-toolchain")
arm_flags="-march=armv4t -marm -mfloat-abi=soft"

. "$root/scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit, cache_link
key=$( { cat "$0" "$root/toolchain/sdl-build.sh" "$root"/toolchain/patches/sdl/*.patch
         echo "${toolchain##*/}"; } | cache_key)
sysroot=$cache_dir/uclibc-sdl-$key
if ! cache_begin "$sysroot" usr/lib/libSDL.a; then
    cache_link "$sysroot" "$link"
    echo "uClibc-ng SDL sysroot up to date: $sysroot"
    exit 0
fi
work=$cache_work
mkdir "$work/src" "$work/sysroot"
start=$(date +%s)
"$root/toolchain/sdl-build.sh" "$work/src" "$work/sysroot" \
    "$toolchain/bin/arm-linux-uclibcgnueabi-gcc" "-O2 $arm_flags"
[ -f "$work/sysroot/usr/lib/libSDL.a" ] || { echo "uclibc-sysroot.sh: no libSDL.a" >&2; exit 1; }

cache_commit "$work/sysroot" "$sysroot"
cache_link "$sysroot" "$link"
echo "uClibc-ng SDL sysroot ready ($(( $(date +%s) - start )) s): $sysroot"
