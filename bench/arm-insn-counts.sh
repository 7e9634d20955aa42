#!/usr/bin/env bash
# Guest instruction counts of the effect on the device's CPU, the program's code beside the
# straightforward reference:
#   bench/arm-insn-counts.sh [BUILD_DIR]        (default: build/arm-insn)
# Cross-builds ringwave-insn-probe (static, ARMv5TE, soft float; cmake/arm-linux-gnueabi.cmake
# and the sysroot of toolchain/glibc-sysroot.sh), builds qemu's example instruction-counting
# plugin (bench/qemu-plugin.sh), and runs each workload under
# qemu-arm -cpu arm926 with 0 and with N calls: the difference over N is the cost of one call.
# Emulated instruction counts are exact and repeat run after run, unlike emulated time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/arm-insn}")
"$root/scripts/deps.sh" arm
"$root/toolchain/glibc-sysroot.sh"

plugin=$("$root/bench/qemu-plugin.sh" insn)

echo "==> ringwave-insn-probe for ARM"
cmake -S "$root" -B "$build/probe" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabi.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_STATIC=ON -DRINGWAVE_BUILD_TESTS=OFF \
      -DRINGWAVE_BUILD_BENCH=OFF > /dev/null
cmake --build "$build/probe" --target ringwave-insn-probe -j 2 > /dev/null
probe=$build/probe/bench/ringwave-insn-probe

# Instructions the guest executes in one run of the probe.
count() {
    qemu-arm -cpu arm926 -plugin "$plugin,inline=on" -d plugin "$probe" "$@" 2>&1 >/dev/null |
        awk '/^insns:/ { print $2 }'
}
# Instructions per call: a run of n calls minus a run of none, over n.
per_call() {
    local workload=$1 mode=$2 calls=$3 base full
    base=$(count "$workload" "$mode" 0)
    full=$(count "$workload" "$mode" "$calls")
    echo $(( (full - base) / calls ))
}

echo
echo "Guest instructions per call, qemu-arm -cpu arm926 ($(arm-linux-gnueabi-gcc -dumpfullversion), -O3, ARMv5TE, soft float)"
printf '%-10s %15s %15s %10s  %s\n' workload reference fast ratio target
# workload, calls of the reference, calls of the program's code, target speed-up (0: none)
while read -r workload reference_calls fast_calls target; do
    reference=$(per_call "$workload" reference "$reference_calls")
    fast=$(per_call "$workload" fast "$fast_calls")
    ratio=$(awk -v r="$reference" -v f="$fast" 'BEGIN { printf "%.1fx", r / f }')
    verdict=-
    if [ "$target" != 0 ]; then
        verdict=">= ${target}x: $(awk -v r="$reference" -v f="$fast" -v t="$target" \
            'BEGIN { print (r >= t * f) ? "met" : "NOT met" }')"
    fi
    printf '%-10s %15s %15s %10s  %s\n' "$workload" "$reference" "$fast" "$ratio" "$verdict"
done <<'WORKLOADS'
table 1 4 250
palette 16 16 0
compose 16 16 0
frame 16 16 20
startup 1 4 0
WORKLOADS
