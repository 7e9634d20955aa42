#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#   1. the Release build: unit tests and end-to-end tests of the shipped binaries, including
#      ringwave in an X server (each such test starts its own Xvfb; no display is needed);
#      the end-to-end and X server tests run on the classic SDL 1.2 library and again on
#      sdl12-compat (toolchain/sdl12-compat.sh), the SDL 1.2 current distributions ship, and
#      on Debian 13's SDL 1.2, sdl12-compat over SDL 2 and over sdl2-compat over SDL 3, in a
#      Debian 13 root (toolchain/debian13-root.sh);
#   2. the unit and end-to-end tests again with AddressSanitizer and UBSan (without the X
#      server tests);
#   3. the device build on uClibc-ng (ARMv4T, soft float, static; scripts/arm-build.sh, into
#      build/arm-release): end-to-end tests under qemu-arm on an ARMv4T processor (ti925t)
#      and a few frames on each later class (ARM926, ARM1176, Cortex-A7/A8/A9/A15), the
#      checks that every instruction is ARMv4T and that its link holds nothing of glibc, its
#      frames compared byte for byte with the Release build's, and the
#      device binary on emulated boards, one per display path (tests/board/board_e2e.sh):
#      vexpress-a9 with Debian's kernel at 8 bits palettised, virt with a virtio GPU at 32
#      bits (DRM), and the device's own processor, versatilepb, with a kernel built here
#      (boards/versatile-kernel.sh, in the background from the start, cached) at 8 bits
#      palettised and 16 bits (DRM): SDL's framebuffer console, the keyboard, the screen
#      against the effect's frames; and
#      ARMv5TE on Debian's glibc for armel (build/arm), which runs the unit tests
#      under qemu-arm (GoogleTest needs iostream, which libstdc++ has only on glibc);
#   4. the ARM guest instruction counts of the effect against the straightforward one
#      (bench/arm-insn-counts.sh: a smoke run of the qemu plugin; the speed-ups are
#      printed, not asserted), and a short run of ringwave-bench cross-built (arm-bench.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/deps.sh" test arm board

step() { printf '\n==> %s\n' "$*"; }

# The versatilepb board's kernel takes about 9 minutes the first time: built meanwhile, at
# the lowest priority, so that it takes only what the tests leave (starved by it, the X
# server made sdl12-compat's X runs time out).
mkdir -p "$root/build"
kernel_log=$root/build/board-kernel.log
nice -n 19 "$root/boards/versatile-kernel.sh" > "$kernel_log" 2>&1 &
kernel_pid=$!

step "Release build and tests, on classic SDL 1.2, on sdl12-compat and on Debian 13's SDL"
sdl12_compat=$("$root/toolchain/sdl12-compat.sh")
debian13_root=$("$root/toolchain/debian13-root.sh")
cmake -S "$root" -B "$root/build/test" -DCMAKE_BUILD_TYPE=Release \
      -DRINGWAVE_SDL12_COMPAT_DIR="$sdl12_compat" -DRINGWAVE_DEBIAN13_ROOT="$debian13_root" \
      > /dev/null
cmake --build "$root/build/test" -j "$jobs"
ctest --test-dir "$root/build/test" -j "$jobs" --output-on-failure

step "Sanitizer build (ASan + UBSan) and tests"
cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRINGWAVE_SANITIZE=ON > /dev/null
cmake --build "$root/build/sanitize" -j "$jobs"
ctest --test-dir "$root/build/sanitize" -j "$jobs" --output-on-failure

step "Device build on uClibc-ng (ARMv4T, soft float, static): build/arm-release"
"$root/scripts/deps.sh" arm
"$root/scripts/arm-build.sh"
"$root/scripts/deps.sh" board
board_image=$("$root/boards/debian-image.sh")
wait "$kernel_pid" || { cat "$kernel_log" >&2; exit 1; }
board_kernel=$(tail -n 1 "$kernel_log")
cmake -S "$root" -B "$root/build/arm-release" -DRINGWAVE_HOST_BUILD="$root/build/test" \
      -DRINGWAVE_BOARD_IMAGE="$board_image" -DRINGWAVE_BOARD_KERNEL="$board_kernel" > /dev/null
cmake --build "$root/build/arm-release" -j "$jobs"

step "ARM cross build on glibc for armel (ARMv5TE, soft float, static), for the unit tests"
"$root/toolchain/glibc-sysroot.sh"
cmake -S "$root" -B "$root/build/arm" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabi.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_STATIC=ON > /dev/null
cmake --build "$root/build/arm" -j "$jobs"

step "Debian's armhf and arm64 cross compilers on sysroots of Debian's SDL 1.2, as an SDK is used"
sdk_builds=()
for arch in armhf arm64; do
    sdk_builds+=("$("$root/scripts/sdk-build.sh" "$arch" "$root/build/test")")
done

step "Speed on the device: guest instruction counts under qemu-arm -cpu arm926 (reported only)"
"$root/bench/arm-insn-counts.sh"

step "ringwave-bench cross-built, a short run under qemu-arm -cpu arm926 (reported only)"
"$root/bench/arm-bench.sh" --benchmark_min_time=0.01

# Last, so that the suite's closing summary ends the output.
step "ARM tests under qemu: the device build on uClibc-ng, the unit tests on glibc for armel, armhf and arm64"
ctest --test-dir "$root/build/arm-release" -j "$jobs" --output-on-failure
ctest --test-dir "$root/build/arm" -j "$jobs" --output-on-failure
for build in "${sdk_builds[@]}"; do
    ctest --test-dir "$build" -j "$jobs" --output-on-failure
done
