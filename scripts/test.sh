#!/usr/bin/env bash
# The whole test suite: installs what is missing, makes every build and runs its tests through
# CTest. What it runs, how long it takes and how to run a part: docs/testing.md.
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

step "Release build and tests, on each SDL 1.2 stack of tests/sdl-stacks.txt"
# Each stack's library: the folder its script prints, in the CMake variable the table names.
mapfile -t sdl_stack_scripts < <(awk '/^[^# ]/ && $2 != "-" && !seen[$2]++ { print $2, $3 }' \
                                 "$root/tests/sdl-stacks.txt")
sdl_stack_options=()
for variable_and_script in "${sdl_stack_scripts[@]}"; do
    read -r variable script <<< "$variable_and_script"
    folder=$("$root/$script")
    sdl_stack_options+=("-D$variable=$folder")
done
cmake -S "$root" -B "$root/build/test" -DCMAKE_BUILD_TYPE=Release "${sdl_stack_options[@]}" \
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
