#!/usr/bin/env bash
# Builds the sysroot for the ARM cross build (cmake/arm-linux-gnueabi.cmake):
#   toolchain/glibc-sysroot.sh [SYSROOT]        (default: build/arm-sysroot)
# - SDL 1.2, static, fbcon and dummy video only (toolchain/sdl-build.sh), on Debian's glibc for
#   armel: the C library of the unit test suite (the device's own is uClibc-ng:
#   toolchain/uclibc-sysroot.sh).
# - GoogleTest, static, from the sources Debian's libgtest-dev ships in /usr/src/googletest.
# The result is cached: it is rebuilt only when this script, sdl-build.sh or the toolchain file
# change (with cmake/arm-target.cmake, which it includes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sysroot=$(realpath -m "${1:-$root/build/arm-sysroot}")
toolchain=$root/cmake/arm-linux-gnueabi.cmake
host=arm-linux-gnueabi
# Same CPU and floating-point flags as cmake/arm-target.cmake: ARMv5TE, software floating point.
arm_flags="-march=armv5te -marm -mfloat-abi=soft"
jobs=2

key=$(cat "$0" "$root/toolchain/sdl-build.sh" "$root"/toolchain/patches/sdl/*.patch "$toolchain" \
          "$root/cmake/arm-target.cmake" |
      sha256sum | cut -d' ' -f1)
stamp=$sysroot/.ringwave-sysroot
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
    echo "ARM sysroot up to date: $sysroot"
    exit 0
fi

mkdir -p "${sysroot%/*}"
work=$(mktemp -d "${sysroot%/*}/.arm-sysroot-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$sysroot"
mkdir -p "$sysroot"

"$root/toolchain/sdl-build.sh" "$work" "$sysroot" "$host-gcc" "-O2 $arm_flags"

echo "-- GoogleTest for $host"
cmake -S /usr/src/googletest -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DRINGWAVE_ARM_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON > "$work/gtest.log" 2>&1 ||
    { tail -n 40 "$work/gtest.log" >&2; exit 1; }
cmake --build "$work/gtest-build" -j $jobs > "$work/gtest-make.log" 2>&1 ||
    { tail -n 40 "$work/gtest-make.log" >&2; exit 1; }
DESTDIR="$sysroot" cmake --install "$work/gtest-build" > /dev/null

echo "$key" > "$stamp"
echo "ARM sysroot ready: $sysroot"
