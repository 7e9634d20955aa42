#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#   1. the Release build: unit tests and end-to-end tests of the shipped binaries, including
#      ringwave in an X server (each such test starts its own Xvfb; no display is needed);
#   2. the unit and end-to-end tests again with AddressSanitizer and UBSan (without the X
#      server tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/deps.sh" test

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
