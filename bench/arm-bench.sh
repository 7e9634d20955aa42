#!/usr/bin/env bash
# ringwave-bench cross-built for the device and run under qemu-arm -cpu arm926:
#   bench/arm-bench.sh [GOOGLE BENCHMARK OPTIONS...]     (e.g. --benchmark_min_time=0.1)
# Google Benchmark for ARM is built once from Debian's own source package (apt-get source
# benchmark) into build/arm-bench/benchmark; ringwave-bench then links it statically with the
# SDL of toolchain/glibc-sysroot.sh and draws its whole frames into SDL's dummy driver. Emulated
# time says little about the device (qemu's cost per instruction is not the processor's):
# bench/arm-insn-counts.sh gives the repeatable measure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/apt.sh"  # apt_source_index, apt_source_fetch
build=$root/build/arm-bench
"$root/scripts/deps.sh" arm
"$root/toolchain/glibc-sysroot.sh"
toolchain=$root/cmake/arm-linux-gnueabi.cmake
prefix=$build/benchmark
key=$(cat "$0" "$toolchain" | sha256sum | cut -d' ' -f1)
if [ ! -f "$prefix/.ringwave-benchmark" ] || [ "$(cat "$prefix/.ringwave-benchmark")" != "$key" ]; then
    echo "==> Google Benchmark for arm-linux-gnueabi (Debian's source package)"
    rm -rf "$prefix" "$build/benchmark-src"
    apt_source_index arm-bench.sh benchmark
    apt_source_fetch "$build/benchmark-src" benchmark
    source=$(find "$build/benchmark-src" -mindepth 1 -maxdepth 1 -type d -name 'benchmark-*')
    version=${source##*/benchmark-}
    # Debian builds it with the upstream version given (there is no git history to read).
    cmake -S "$source" -B "$build/benchmark-src/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
          -DCMAKE_BUILD_TYPE=Release -DGIT_VERSION="$version" -DBUILD_SHARED_LIBS=OFF \
          -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF \
          -DBENCHMARK_ENABLE_WERROR=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
          > "$build/benchmark-configure.log" 2>&1 ||
        { tail -n 40 "$build/benchmark-configure.log" >&2; exit 1; }
    # Its warnings (the ARM ABI note on argument passing) are about the library, not ours.
    cmake --build "$build/benchmark-src/build" -j 2 > "$build/benchmark-build.log" 2>&1 ||
        { tail -n 40 "$build/benchmark-build.log" >&2; exit 1; }
    cmake --install "$build/benchmark-src/build" > /dev/null
    rm -rf "$build/benchmark-src"
    echo "$key" > "$prefix/.ringwave-benchmark"
fi

echo "==> ringwave-bench for ARM"
cmake -S "$root" -B "$build/ringwave" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_STATIC=ON -DRINGWAVE_BUILD_TESTS=OFF \
      -DRINGWAVE_BUILD_BENCH=ON -Dbenchmark_DIR="$prefix/lib/cmake/benchmark" > /dev/null
cmake --build "$build/ringwave" --target ringwave-bench -j 2 > /dev/null
SDL_VIDEODRIVER=dummy qemu-arm -cpu arm926 "$build/ringwave/bench/ringwave-bench" "$@"
