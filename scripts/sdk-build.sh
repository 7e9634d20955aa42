#!/usr/bin/env bash
# ringwave built as with a device's SDK, from Debian's cross compiler for ARCH and a sysroot of
# Debian 12's own SDL 1.2 packages for it (toolchain/debian-sysroot.sh), through the example
# toolchain file (cmake/toolchain-example.cmake), linked dynamically, with its tests:
#   scripts/sdk-build.sh ARCH [HOST_BUILD]    ARCH: armhf or arm64  ->  build/sdk-ARCH
# HOST_BUILD, a host build with its tests, adds the comparison of the frames with its own.
# Installs the cross compiler and qemu when missing (as root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:?usage: sdk-build.sh armhf|arm64 [HOST_BUILD]}
case "$arch" in
armhf) triplet=arm-linux-gnueabihf ;;
arm64) triplet=aarch64-linux-gnu ;;
*) echo "sdk-build.sh: ARCH is armhf or arm64" >&2; exit 2 ;;
esac
build=$root/build/sdk-$arch
"$root/scripts/deps.sh" arm
sysroot=$("$root/toolchain/debian-sysroot.sh" "$arch")
# A folder configured on another sysroot (an earlier cache entry) starts afresh: CMake's cache
# keeps what pkg-config reported there.
if [ -e "$build/CMakeCache.txt" ] &&
        ! grep -qxF "SDK_SYSROOT:PATH=$sysroot" "$build/CMakeCache.txt"; then
    rm -rf "$build"
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-example.cmake" \
      -DSDK_TRIPLET="$triplet" -DSDK_SYSROOT="$sysroot" -DRINGWAVE_BUILD_BENCH=OFF \
      -DRINGWAVE_HOST_BUILD="${2:-}" -DCMAKE_INSTALL_PREFIX=/usr > /dev/null
cmake --build "$build" -j 2 >&2
# Installed as into a device's root file system.
rm -rf "$build/image"
DESTDIR="$build/image" cmake --install "$build" > /dev/null
echo "$build"
