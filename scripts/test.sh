#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#   1. the Release build: unit tests and end-to-end tests of the shipped binaries;
#   2. the unit and end-to-end tests again with AddressSanitizer and UBSan;
#   3. the ARM guest instruction counts of the effect against the straightforward one
#      (scripts/arm-insn-counts.sh: a smoke run of the cross build and the qemu plugin; the
#      speed-ups are printed, not asserted).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/deps.sh" test arm

step() { printf '\n==> %s\n' "$*"; }

step "Release build and tests"
cmake -S "$root" -B "$root/build/test" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$root/build/test" -j "$jobs"
ctest --test-dir "$root/build/test" -j "$jobs" --output-on-failure

step "Sanitizer build (ASan + UBSan) and tests"
cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRINGWAVE_SANITIZE=ON > /dev/null
cmake --build "$root/build/sanitize" -j "$jobs"
ctest --test-dir "$root/build/sanitize" -j "$jobs" --output-on-failure

step "Speed on the device: guest instruction counts under qemu-arm -cpu arm926 (reported only)"
"$root/scripts/arm-insn-counts.sh"
