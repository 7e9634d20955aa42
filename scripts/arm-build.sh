#!/usr/bin/env bash
# The device build in one command: 32-bit ARM (ARMv4T), software floating point, on the
# device's C library uClibc-ng, SDL 1.2 with the framebuffer console and dummy video drivers,
# everything linked statically.
#   scripts/arm-build.sh      ->  build/arm-release/ringwave, build/arm-release/ringwave-snapshot,
#                                 build/arm-release/ringwave-console
# Installs the cross compiler, uClibc-ng's source and qemu when missing (as root), builds the
# uClibc-ng toolchain and its SDL once (toolchain/uclibc-sysroot.sh; cached outside the clone),
# then the programs (cmake/arm-linux-uclibcgnueabi.cmake).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/arm-release
"$root/scripts/deps.sh" arm
"$root/toolchain/uclibc-sysroot.sh"
toolchain_file=$root/cmake/arm-linux-uclibcgnueabi.cmake
# A folder configured with another toolchain (the earlier glibc device build), or with an
# earlier form of this one, starts afresh: CMake keeps the compiler flags of the first
# configuration (an ARMv5TE build folder would go on giving binaries that die on ARMv4T).
configured_for=$(cat "$toolchain_file" "$root/cmake/arm-target.cmake" | sha256sum | cut -c1-16)
if [ -e "$build" ] && [ "$(cat "$build/.configured-for" 2>/dev/null)" != "$configured_for" ]; then
    rm -rf "$build"
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
      -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_STATIC=ON > /dev/null
echo "$configured_for" > "$build/.configured-for"
cmake --build "$build" --target ringwave ringwave-snapshot ringwave-console -j 2 > /dev/null
echo "Static ARM binaries on uClibc-ng (copy ringwave to the device):"
echo "  $build/ringwave"
echo "  $build/ringwave-snapshot"
echo "  $build/ringwave-console"
