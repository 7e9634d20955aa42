#!/usr/bin/env bash
# The device build in one command: 32-bit ARM (ARMv5TE), software floating point, SDL 1.2
# with the framebuffer console and dummy video drivers, everything linked statically.
#   scripts/arm-build.sh      ->  build/arm-release/ringwave, build/arm-release/ringwave-snapshot
# Installs the cross compiler and qemu when missing (as root), builds the SDL sysroot once
# (build/arm-sysroot), then the programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" arm
"$root/scripts/arm-sysroot.sh"
cmake -S "$root" -B "$root/build/arm-release" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabi.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DRINGWAVE_STATIC=ON -DRINGWAVE_BUILD_TESTS=OFF > /dev/null
cmake --build "$root/build/arm-release" --target ringwave ringwave-snapshot -j 2 > /dev/null
echo "Static ARM binaries (copy ringwave to the device):"
echo "  $root/build/arm-release/ringwave"
echo "  $root/build/arm-release/ringwave-snapshot"
