#!/usr/bin/env bash
# A sysroot of Debian 12's own packages for an ARM architecture, for the build with Debian's
# cross compiler through the example toolchain file (cmake/toolchain-example.cmake), as a
# device's SDK would give one:
#   toolchain/debian-sysroot.sh ARCH        ARCH: armhf or arm64; prints the sysroot's folder
# It holds SDL 1.2 (libsdl1.2-dev: headers, sdl.pc, libSDL.so; its own dependencies, the
# development packages of X11, ALSA, PulseAudio ..., are left out) with the shared libraries
# libSDL-1.2.so.0 needs, which a link against it reads; the C and C++ runtime and their
# development files (libc6-dev, libstdc++-12-dev); and GoogleTest (libgtest-dev, static), with
# every dependency as apt resolves it for ARCH on a state of its own (apt_private_fetch: the
# machine's apt state and dpkg's architectures are left alone). The packages are unpacked only
# (dpkg-deb -x); absolute symbolic links are made relative, so that they point inside the
# sysroot.
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by this script's contents and
# ARCH, made in a scratch folder and renamed into place.
set -euo pipefail
arch=${1:?usage: debian-sysroot.sh armhf|arm64}
case "$arch" in armhf|arm64) ;; *) echo "debian-sysroot.sh: ARCH is armhf or arm64" >&2; exit 2 ;; esac
suite=bookworm
packages=(libsdl1.2debian libc6-dev libstdc++-12-dev libgtest-dev)
alone=(libsdl1.2-dev)   # without its dependencies

. "$(dirname "$0")/../scripts/lib/apt.sh"    # apt_private_fetch, apt_private_unpack
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit

sysroot=$cache_dir/debian-sysroot-$arch-$( (cat "$0"; echo "$arch") | cache_key)
if ! cache_begin "$sysroot" packages; then
    echo "$sysroot"
    exit 0
fi

state=$cache_work/apt
echo "-- Debian $suite sysroot for $arch: ${packages[*]} ${alone[*]}" >&2
apt_private_fetch debian-sysroot.sh "$state" "$suite" "$arch" "${packages[@]}" -- "${alone[@]}"

tree=$cache_work/sysroot
apt_private_unpack "$state" "$tree" "$cache_work/packages"
# Absolute links (libfoo.so -> /lib/<triplet>/libfoo.so.1) made relative to where they are.
find "$tree" -type l -lname '/*' -print0 |
    while IFS= read -r -d '' link; do
        target=$(readlink "$link")
        ln -sfn "$(realpath -m --relative-to="${link%/*}" "$tree$target")" "$link"
    done
[ -e "$tree/usr/include/SDL/SDL.h" ] && [ -n "$(find "$tree/usr/lib" -name sdl.pc)" ] ||
    { echo "debian-sysroot.sh: no SDL 1.2 headers or sdl.pc unpacked" >&2; exit 1; }
grep -E '^(libsdl1.2-dev|libc6|libstdc\+\+-12-dev|libgtest-dev) ' "$cache_work/packages" >&2
mv "$cache_work/packages" "$tree/packages"
cache_commit "$tree" "$sysroot"
echo "$sysroot"
